// CSettingsKey: the product's settings key, opened under HKEY_LOCAL_MACHINE
// and HKEY_CURRENT_USER; values are read per user first.
#pragma once

#include "platform/WinTypes.h"

#include <cstdint>

inline constexpr const char16_t* kSettingsSubKey = u"SOFTWARE\\VELQUIST\\Velquist Paper Vault\\DAT\\";

class CSettingsKey {
public:
    CSettingsKey();
    ~CSettingsKey();
    CSettingsKey(const CSettingsKey&) = delete;
    CSettingsKey& operator=(const CSettingsKey&) = delete;

    // 1 when the value was read into *receiver, else 0.
    int QueryDword(const char16_t* valueName, uint32_t* receiver);

private:
    plat::HKEY m_machine = nullptr;
    plat::HKEY m_user = nullptr;
};
