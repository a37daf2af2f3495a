// Scratch folders standing for the places the codec looks for the outside
// crypto libraries: the host executable's folder ("exe"), an install folder
// ("install") that the registry may name, another folder ("other") and the
// Windows folder ("windows", with its Velquist/VPV sub-folder). While one
// lives, the host executable is exe/host, the registry is a sandbox and the
// Windows folder is windows/; copies of the stand-in libraries go where a
// test puts them.
#pragma once

#include "support/RegistrySandbox.h"
#include "support/TempDir.h"

#include <string>

enum class Folder { Exe, Install, Other, Vendor /* windows/Velquist/VPV */, None };

class CryptoLibraryFolders {
public:
    CryptoLibraryFolders();
    ~CryptoLibraryFolders();
    CryptoLibraryFolders(const CryptoLibraryFolders&) = delete;
    CryptoLibraryFolders& operator=(const CryptoLibraryFolders&) = delete;

    std::string Path(Folder folder) const;  // no trailing separator
    std::string WindowsDir() const { return m_root / "windows"; }

    void PutCrypto(Folder folder) { Copy(PVCODEC_TEST_CRYPTO_LIBRARY, folder, "XecureCrypto.dll"); }
    void PutCryptoWithoutSetPath(Folder folder) { Copy(PVCODEC_TEST_CRYPTO_NO_SET_PATH, folder, "XecureCrypto.dll"); }
    void PutCryptoWithoutRandom(Folder folder) { Copy(PVCODEC_TEST_CRYPTO_NO_RANDOM, folder, "XecureCrypto.dll"); }
    void PutAte(Folder folder) { Copy(PVCODEC_TEST_ATE_LIBRARY, folder, "XecureATE.dll"); }
    // A file of that name that is no loadable library.
    void PutBogus(Folder folder, const std::string& name);

    // Writes "PVVPVPath" (any text, e.g. a folder's path or "").
    void SetInstallValue(const std::string& value);
    void SetInstallFolder(Folder folder) { SetInstallValue(Path(folder)); }

private:
    void Copy(const std::string& from, Folder folder, const std::string& name);

    TempDir m_root;
    RegistrySandbox m_registry;
    std::string m_previousWindowsDir;
    bool m_hadWindowsDir = false;
};

// The file a loaded module was loaded from ("" when unknown).
std::string LoadedModulePath(void* module);
