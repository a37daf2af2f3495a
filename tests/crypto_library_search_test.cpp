// Where the outside crypto libraries are found (exe, registry, Windows folder); paths that do not fit are never used.
#include "extcrypto/Aria.h"
#include "extcrypto/LibraryPaths.h"
#include "platform/Module.h"
#include "platform/WideString.h"
#include "support/CryptoLibraryFolders.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

const char kKey[] = "0123456789abcdef";

enum class File { Crypto, CryptoWithoutSetPath, Ate, BogusCrypto, BogusAte };
enum class AteResult { Unchecked, Works, Unbound, NoHandOver, RefusedByTheLibrary };

struct SearchCase {
    const char* name;
    std::vector<std::pair<File, Folder>> layout;
    const char* registry;  // the install folder's value: a folder's name, "empty" or "" for none
    Folder aria;           // where XecureCrypto.dll is bound from; None: not bound
    AteResult ate;
};

using enum File;
using enum Folder;
using enum AteResult;
const SearchCase kSearches[] = {
    {"ExeFolderWinsOverRegistry", {{Crypto, Exe}, {Crypto, Install}}, "install", Exe, Unchecked},
    {"ExeFolderWinsOverWindows", {{Crypto, Exe}, {Crypto, Vendor}}, "", Exe, Unchecked},
    {"RegistryFolderBeforeWindows", {{Crypto, Install}, {Crypto, Vendor}}, "install", Install, Unchecked},
    {"RegistryFolderWithoutLibraryEndsTheSearch", {{Crypto, Vendor}, {Crypto, Install}}, "other", None, Unbound},
    {"NoRegistryValueMeansWindowsFolder", {{Crypto, Vendor}, {Crypto, Install}}, "", Vendor, Unchecked},
    {"EmptyRegistryValueMeansWindowsFolder", {{Crypto, Vendor}}, "empty", Vendor, Unchecked},
    {"NoLibraryAnywhere", {}, "", None, Unbound},
    {"NotALibraryNextToTheExecutableIsNoFallback", {{BogusCrypto, Exe}, {Crypto, Install}}, "install", None, Unbound},
    {"AteBothNextToExecutable", {{Crypto, Exe}, {Ate, Exe}}, "", Exe, Works},
    {"AteFromInstall", {{Crypto, Exe}, {Ate, Install}}, "install", Exe, Works},
    {"CryptoFromInstallAteFromExe", {{Crypto, Install}, {Ate, Exe}, {BogusAte, Install}}, "install", Install, Works},
    {"ExeAteWinsOverRegistry", {{Crypto, Exe}, {Ate, Exe}, {BogusAte, Install}}, "install", Exe, Works},
    {"AteFromWindowsFolder", {{Crypto, Exe}, {Ate, Vendor}}, "", Exe, Works},
    {"RegistryFolderWithoutAteEndsTheSearch", {{Crypto, Exe}, {Ate, Vendor}}, "install", Exe, RefusedByTheLibrary},
    {"BogusAteInRegistryFolder", {{Crypto, Exe}, {BogusAte, Install}}, "install", Exe, RefusedByTheLibrary},
    {"LibraryWithoutSetPathServesAriaOnly", {{CryptoWithoutSetPath, Exe}, {Ate, Exe}}, "", Exe, NoHandOver},
    {"NoCryptoLibraryMeansNoHandOver", {{Ate, Exe}}, "", None, Unbound},
};

class CryptoSearch : public testing::TestWithParam<SearchCase> {};

TEST_P(CryptoSearch, BindsTheFirstLibraryOfTheSearchOrder)
{
    const SearchCase& c = GetParam();
#ifdef _WIN32
    if (c.aria == Vendor || std::ranges::any_of(c.layout, [](const auto& put) { return put.second == Vendor; }))
        GTEST_SKIP() << "the Windows build looks in the system's own Windows folder";
#endif
    CryptoLibraryFolders folders;
    for (const auto& [file, folder] : c.layout) {
        switch (file) {
        case File::Crypto: folders.PutCrypto(folder); break;
        case File::CryptoWithoutSetPath: folders.PutCryptoWithoutSetPath(folder); break;
        case File::Ate: folders.PutAte(folder); break;
        case File::BogusCrypto: folders.PutBogus(folder, "XecureCrypto.dll"); break;
        case File::BogusAte: folders.PutBogus(folder, "XecureATE.dll"); break;
        }
    }
    const std::string registry = c.registry;
    if (!registry.empty())
        folders.SetInstallValue(
            registry == "empty" ? "" : folders.Path(registry == "install" ? Folder::Install : Folder::Other));

    CAria aria;
    EXPECT_EQ(aria.Init(1, kKey), c.aria == Folder::None ? -1 : 0);
    EXPECT_EQ(aria.Bound(), c.aria == Folder::None ? 0 : 1);
    if (c.aria != Folder::None) {
        EXPECT_EQ(LoadedModulePath(aria.Module()), folders.Path(c.aria) + "/XecureCrypto.dll");
    }

    CATE ate;
    const int result = ate.Init(1, kKey);
    char out[32];
    switch (c.ate) {
    case AteResult::Unchecked: break;
    case AteResult::Works:
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ate.PadEncrypt("abc", 3, out), 16);
        break;
    case AteResult::Unbound:
        EXPECT_EQ(result, -1);
        EXPECT_EQ(ate.Bound(), 0);
        break;
    case AteResult::NoHandOver:  // bound before the hand-over failed; no key, no context
        EXPECT_EQ(result, -1);
        EXPECT_EQ(ate.Bound(), 1);
        EXPECT_EQ(ate.Address(PVEDAriaMgr::kSetPath), nullptr);
        EXPECT_EQ(ate.PadEncrypt("abc", 3, out), -1);
        break;
    case AteResult::RefusedByTheLibrary:  // the path was handed over; what lies there is unusable
        EXPECT_LT(result, -1);
        EXPECT_EQ(ate.Bound(), 1);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Folders, CryptoSearch, testing::ValuesIn(kSearches),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32  // a registry value and a Windows folder of the test's own
TEST(InstallDirectory, ComposedPathsThatDoNotFitAreNeverUsed)
{
    CryptoLibraryFolders folders;
    folders.PutCrypto(Folder::Vendor);
    folders.PutAte(Folder::Vendor);
    // No room for the file name after the registry's folder: no library, and no Windows folder either.
    folders.SetInstallValue("/" + std::string(245, 'p'));
    EXPECT_FALSE(FindCryptoLibraryPath().has_value());
    EXPECT_FALSE(FindAteLibraryPath().has_value());
    EXPECT_EQ(CAria().Init(1, kKey), -1);
    const std::string fits = "/" + std::string(259 - 1 - 1 - 16, 'p');  // 259 units with the name
    folders.SetInstallValue(fits);
    ASSERT_TRUE(FindCryptoLibraryPath().has_value());
    EXPECT_EQ(*plat::Utf16ToUtf8(*FindCryptoLibraryPath()), fits + "/XecureCrypto.dll");
    // A Windows folder so long that Velquist/VPV is left off and the name then does not fit.
    folders.SetInstallValue("");
    for (size_t length : {250, 300}) {
        setenv("PVCODEC_WINDOWS_DIR", ("/" + std::string(length, 'w')).c_str(), 1);
        EXPECT_FALSE(FindCryptoLibraryPath().has_value());
        EXPECT_FALSE(FindAteLibraryPath().has_value());
    }
}
#endif

TEST(Registry, Wow64ViewAndValuesReadAfterTheKeyOpens)
{
    EXPECT_EQ(IsWow64(), plat::FALSE);
    EXPECT_EQ(RegistryReadAccess(), 0x20019u);
#ifndef _WIN32  // the layer's own kernel32 answers as the test says, and the registry is the test's own
    plat::SetWow64Process(plat::TRUE);
    EXPECT_EQ(IsWow64(), plat::TRUE);
    EXPECT_EQ(RegistryReadAccess(), 0x20119u);  // KEY_READ | KEY_WOW64_64KEY: the 64-bit view
    plat::SetWow64Process(plat::FALSE);

    CryptoLibraryFolders folders;
    char16_t value[64] = {};
    const char16_t* key = u"SOFTWARE\\VELQUIST\\PVDirectory";
    EXPECT_EQ(ReadRegistryValueW(plat::HKEY_LOCAL_MACHINE, key, u"PVVPVPath", value, sizeof value), 0);
    folders.SetInstallValue("/srv/pv");
    EXPECT_EQ(ReadRegistryValueW(plat::HKEY_LOCAL_MACHINE, key, u"PVVPVPath", value, sizeof value), 1);
    EXPECT_EQ(std::u16string(value), u"/srv/pv");
    char narrow[64] = {};  // the value's absence is not looked at once the key is open
    EXPECT_EQ(ReadRegistryValueA(plat::HKEY_LOCAL_MACHINE, "SOFTWARE\\VELQUIST\\PVDirectory", "Missing", narrow,
                                 sizeof narrow), 1);
    EXPECT_EQ(narrow[0], 0);
#endif
}

}  // namespace
