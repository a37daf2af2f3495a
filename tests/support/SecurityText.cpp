#include "support/SecurityText.h"

#include <windows.h>

#include <sddl.h>

#include <memory>
#include <vector>

namespace securitytext {
namespace {

const wchar_t* W(const std::u16string& text)
{
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

std::string Dacl(const std::u16string& path)
{
    DWORD needed = 0;
    ::GetFileSecurityW(W(path), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
    std::vector<BYTE> descriptor(needed);
    wchar_t* text = nullptr;
    if (needed == 0 ||
        !::GetFileSecurityW(W(path), DACL_SECURITY_INFORMATION, descriptor.data(), needed, &needed) ||
        !::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.data(), SDDL_REVISION_1,
                                                                DACL_SECURITY_INFORMATION, &text, nullptr))
        return "";
    const std::unique_ptr<wchar_t, decltype(&::LocalFree)> owner(text, &::LocalFree);
    return std::string(text, text + wcslen(text));  // SDDL is ASCII
}

bool SetDacl(const std::u16string& path, const std::string& sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring wide(sddl.begin(), sddl.end());
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(wide.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const std::unique_ptr<void, decltype(&::LocalFree)> owner(descriptor, &::LocalFree);
    return ::SetFileSecurityW(W(path), DACL_SECURITY_INFORMATION, descriptor) != FALSE;
}

}  // namespace securitytext
