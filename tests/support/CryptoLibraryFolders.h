// Scratch folders where the outside crypto libraries are looked for; while one lives the host is exe/host, the
// registry a sandbox and the Windows folder windows/.
#pragma once

#include "support/RegistrySandbox.h"
#include "support/TempDir.h"

#include <optional>
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
    void PutBogus(Folder folder, const std::string& name);  // a file of that name that is no library
    void SetInstallValue(const std::string& value);         // "PVVPVPath": any text, "" included

private:
    void Copy(const std::string& from, Folder folder, const std::string& name);

    TempDir m_root;
    RegistrySandbox m_registry;
    std::optional<std::string> m_previousWindowsDir;
};

// The file a loaded module was loaded from ("" when unknown).
std::string LoadedModulePath(void* module);
