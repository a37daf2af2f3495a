// The Windows registry sandbox: the .reg text is read by the same parser the POSIX registry layer uses, and its
// keys and values are written under the scratch key standing in for the root.
#include "support/RegistrySandbox.h"

#include "platform/posix/RegistryHive.h"
#include "platform/win32/WinApi.h"

#include <atomic>
#include <stdexcept>

namespace {

constexpr ::REGSAM kAllAccess = 0xF003F;  // KEY_ALL_ACCESS, whose parts the layer's names displace

void Check(LSTATUS status, const char* what)
{
    if (status != static_cast<LSTATUS>(plat::ERROR_SUCCESS))
        throw std::runtime_error(std::string("registry sandbox: ") + what + " failed with " + std::to_string(status));
}

::HKEY Create(::HKEY parent, const std::wstring& path)
{
    ::HKEY key = nullptr;
    Check(::RegCreateKeyExW(parent, path.c_str(), 0, nullptr, 0, kAllAccess, nullptr, &key, nullptr),
          "RegCreateKeyExW");
    return key;
}

std::wstring WideOf(const std::u16string& text)
{
    return std::wstring(text.begin(), text.end());
}

const ::HKEY kRoots[2] = {reinterpret_cast<::HKEY>(plat::HKEY_LOCAL_MACHINE),
                          reinterpret_cast<::HKEY>(plat::HKEY_CURRENT_USER)};

}  // namespace

RegistrySandbox::RegistrySandbox()
{
    static std::atomic<unsigned> counter;
    m_scratch = L"Software\\pvcodec-tests\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                std::to_wstring(counter++);
    // Both keys are made before HKEY_CURRENT_USER itself is redirected.
    for (int i = 0; i < 2; ++i)
        m_roots[i] = Create(kRoots[1], m_scratch + (i == 0 ? L"\\HKLM" : L"\\HKCU"));
    for (int i = 0; i < 2; ++i)
        Check(::RegOverridePredefKey(kRoots[i], static_cast<::HKEY>(m_roots[i])), "RegOverridePredefKey");
}

RegistrySandbox::~RegistrySandbox()
{
    for (int i = 0; i < 2; ++i) {
        ::RegOverridePredefKey(kRoots[i], nullptr);
        ::RegCloseKey(static_cast<::HKEY>(m_roots[i]));
    }
    ::RegDeleteTreeW(kRoots[1], m_scratch.c_str());
    ::RegDeleteKeyW(kRoots[1], L"Software\\pvcodec-tests");  // refused while another sandbox holds a key there
}

void RegistrySandbox::WriteRaw(const std::string& root, const std::string& bytes)
{
    using plat::registry::Root;
    const Root which = root == "HKEY_LOCAL_MACHINE" ? Root::LocalMachine : Root::CurrentUser;
    const ::HKEY target = static_cast<::HKEY>(m_roots[which == Root::LocalMachine ? 0 : 1]);
    Check(::RegDeleteTreeW(target, nullptr), "RegDeleteTreeW");
    for (const auto& [path, values] : plat::registry::ParseHive(bytes, which).keys) {
        const ::HKEY key = Create(target, WideOf(path));
        for (const auto& [name, value] : values) {
            const LSTATUS status = ::RegSetValueExW(key, WideOf(name).c_str(), 0, value.type, value.data.data(),
                                                    static_cast<::DWORD>(value.data.size()));
            if (status != static_cast<LSTATUS>(plat::ERROR_SUCCESS)) {
                ::RegCloseKey(key);
                Check(status, "RegSetValueExW");
            }
        }
        ::RegCloseKey(key);
    }
}
