// A file's discretionary access list as SDDL text, read and set with the system's own calls (Windows only).
#pragma once

#ifdef _WIN32
#include <string>

namespace securitytext {

std::string Dacl(const std::u16string& path);  // "" when it cannot be read
bool SetDacl(const std::u16string& path, const std::string& sddl);

}  // namespace securitytext
#endif
