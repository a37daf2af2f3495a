#include "support/CryptoLibraryFolders.h"

#include "platform/Module.h"
#include "platform/WideString.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

#ifdef _WIN32
// After the layer's headers, whose names the system's macros would otherwise replace.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#endif

namespace fs = std::filesystem;

// The Windows folder is the system's on Windows: the variable is left alone there.
CryptoLibraryFolders::CryptoLibraryFolders()
{
    for (Folder f : {Folder::Exe, Folder::Install, Folder::Other, Folder::Vendor})
        fs::create_directories(Path(f));
    if (const char* previous = std::getenv("PVCODEC_WINDOWS_DIR"))
        m_previousWindowsDir = previous;
#ifndef _WIN32
    setenv("PVCODEC_WINDOWS_DIR", WindowsDir().c_str(), 1);
#endif
    plat::SetHostExecutablePath(plat::Utf8ToUtf16(Path(Folder::Exe) + "/host"));
}

CryptoLibraryFolders::~CryptoLibraryFolders()
{
    plat::SetHostExecutablePath(std::nullopt);
#ifndef _WIN32
    if (m_previousWindowsDir)
        setenv("PVCODEC_WINDOWS_DIR", m_previousWindowsDir->c_str(), 1);
    else
        unsetenv("PVCODEC_WINDOWS_DIR");
#endif
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
#ifdef _WIN32
    std::wstring path(32768, L'\0');
    const DWORD n = module != nullptr ? GetModuleFileNameW(static_cast<HMODULE>(module), path.data(), 32768) : 0;
    path.resize(n < 32768 ? n : 0);
    return fs::path(path).generic_string();  // with '/', as the tests write paths
#else
    link_map* map = nullptr;
    if (module == nullptr || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
        return "";
    return map->l_name;
#endif
}
