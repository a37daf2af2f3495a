#include "support/CryptoLibraryFolders.h"

#include "platform/Module.h"
#include "platform/WideString.h"

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <link.h>

namespace fs = std::filesystem;

CryptoLibraryFolders::CryptoLibraryFolders()
{
    for (Folder f : {Folder::Exe, Folder::Install, Folder::Other, Folder::Vendor})
        fs::create_directories(Path(f));
    if (const char* previous = std::getenv("PVCODEC_WINDOWS_DIR"))
        m_previousWindowsDir = previous;
    setenv("PVCODEC_WINDOWS_DIR", WindowsDir().c_str(), 1);
    plat::SetHostExecutablePath(plat::Utf8ToUtf16(Path(Folder::Exe) + "/host"));
}

CryptoLibraryFolders::~CryptoLibraryFolders()
{
    plat::SetHostExecutablePath(std::nullopt);
    if (m_previousWindowsDir)
        setenv("PVCODEC_WINDOWS_DIR", m_previousWindowsDir->c_str(), 1);
    else
        unsetenv("PVCODEC_WINDOWS_DIR");
}

std::string CryptoLibraryFolders::Path(Folder folder) const
{
    switch (folder) {
    case Folder::Exe: return m_root / "exe";
    case Folder::Install: return m_root / "install";
    case Folder::Other: return m_root / "other";
    case Folder::Vendor: return m_root / "windows/Velquist/VPV";
    case Folder::None: break;
    }
    return "";
}

void CryptoLibraryFolders::Copy(const std::string& from, Folder folder, const std::string& name)
{
    fs::copy_file(from, Path(folder) + "/" + name, fs::copy_options::overwrite_existing);
}

void CryptoLibraryFolders::PutBogus(Folder folder, const std::string& name)
{
    std::ofstream(Path(folder) + "/" + name) << "not a library\n";
}

void CryptoLibraryFolders::SetInstallValue(const std::string& value)
{
    std::string escaped;
    for (char c : value) {
        if (c == '\\' || c == '"')
            escaped.push_back('\\');
        escaped.push_back(c);
    }
    m_registry.WriteUtf8("HKEY_LOCAL_MACHINE",
                         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VELQUIST\\PVDirectory]\n\"PVVPVPath\"=\"" + escaped + "\"\n");
}

std::string LoadedModulePath(void* module)
{
    link_map* map = nullptr;
    if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
        return "";
    return map->l_name;
}
