#include "codec/SettingsKey.h"

#include "platform/Registry.h"

#include <initializer_list>

using namespace plat;

CSettingsKey::CSettingsKey()
{
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsSubKey, 0, KEY_READ, &m_machine) != ERROR_SUCCESS)
        m_machine = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsSubKey, 0, KEY_READ, &m_user) != ERROR_SUCCESS)
        m_user = nullptr;
}

CSettingsKey::~CSettingsKey()
{
    if (m_machine != nullptr) {
        RegCloseKey(m_machine);
        m_machine = nullptr;
    }
    if (m_user != nullptr) {
        RegCloseKey(m_user);
        m_user = nullptr;
    }
}

int CSettingsKey::QueryDword(const char16_t* valueName, uint32_t* receiver)
{
    // The registry type is not checked: whatever fits in 4 bytes fills the low bytes.
    for (HKEY key : {m_user, m_machine}) {
        if (key == nullptr)
            continue;
        DWORD size = sizeof(uint32_t);
        if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<LPBYTE>(receiver), &size) ==
            ERROR_SUCCESS)
            return 1;
    }
    return 0;
}
