// Where the outside crypto libraries are found: the host executable's
// folder, else the registered install folder (not tested for the library),
// else the Windows folder's Velquist/VPV; "XecureATE.dll" searched on its
// own; paths that do not fit are never used.
//
// The host executable is made a scratch folder's "exe/host" through the
// platform layer, so that both a library next to it and none there can be
// arranged; the library actually bound is read back from the module handle.
#include "extcrypto/Aria.h"
#include "extcrypto/LibraryPaths.h"
#include "platform/Module.h"
#include "platform/WideString.h"
#include "support/CryptoLibraryFolders.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

const char kKey[] = "0123456789abcdef";

struct SearchCase {
    const char* name;
    Folder crypto1;         // where copies of XecureCrypto.dll lie
    Folder crypto2;
    const char* registry;   // "install", "other", "empty" or "none"
    int expectedInit;
    Folder expectedFolder;  // where the bound library was loaded from
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class CryptoSearch : public ::testing::TestWithParam<SearchCase> {};

TEST_P(CryptoSearch, BindsTheFirstLibraryOfTheSearchOrder)
{
    const SearchCase& c = GetParam();
    CryptoLibraryFolders folders;
    for (Folder f : {c.crypto1, c.crypto2})
        if (f != Folder::None)
            folders.PutCrypto(f);
    std::string registry = c.registry;
    if (registry == "install")
        folders.SetInstallFolder(Folder::Install);
    else if (registry == "other")
        folders.SetInstallFolder(Folder::Other);
    else if (registry == "empty")
        folders.SetInstallValue("");

    CAria aria;
    EXPECT_EQ(aria.Init(1, kKey), c.expectedInit);
    if (c.expectedInit == 0) {
        EXPECT_EQ(LoadedModulePath(aria.Module()), folders.Path(c.expectedFolder) + "/XecureCrypto.dll");
        EXPECT_EQ(aria.Bound(), 1);
    } else {
        EXPECT_EQ(aria.Bound(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, CryptoSearch,
    ::testing::Values(
        SearchCase{"ExeFolderWinsOverRegistry", Folder::Exe, Folder::Install, "install", 0, Folder::Exe},
        SearchCase{"ExeFolderWinsOverWindows", Folder::Exe, Folder::Vendor, "none", 0, Folder::Exe},
        SearchCase{"RegistryFolderBeforeWindows", Folder::Install, Folder::Vendor, "install", 0, Folder::Install},
        SearchCase{"RegistryFolderWithoutLibraryStopsTheSearch", Folder::Vendor, Folder::Install, "other", -1,
                   Folder::None},
        SearchCase{"NoRegistryValueMeansWindowsFolder", Folder::Vendor, Folder::Install, "none", 0, Folder::Vendor},
        SearchCase{"EmptyRegistryValueMeansWindowsFolder", Folder::Vendor, Folder::None, "empty", 0, Folder::Vendor},
        SearchCase{"NoLibraryAnywhere", Folder::None, Folder::None, "none", -1, Folder::None}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CryptoSearch, LoadedModuleIsReusedByLaterObjects)
{
    CryptoLibraryFolders folders;
    folders.PutCrypto(Folder::Exe);
    CAria first, second;
    ASSERT_EQ(first.Init(1, kKey), 0);
    ASSERT_EQ(second.Init(2, kKey), 0);
    EXPECT_EQ(first.Module(), second.Module());
    EXPECT_EQ(first.Address(0), second.Address(0));
}

TEST(CryptoSearch, WithoutOverrideTheBuildFolderLibraryIsFound)
{
    // The test binary's own folder holds the stand-in, as an installed
    // pvcodec command's folder does.
    CAria aria;
    ASSERT_EQ(aria.Init(1, kKey), 0);
    EXPECT_EQ(LoadedModulePath(aria.Module()), std::string(PVCODEC_TEST_CRYPTO_LIBRARY));
}

TEST(CryptoSearch, NotALibraryNextToTheExecutableFailsWithoutFallingBack)
{
    CryptoLibraryFolders folders;
    folders.PutBogus(Folder::Exe, "XecureCrypto.dll");
    folders.PutCrypto(Folder::Install);
    folders.SetInstallFolder(Folder::Install);
    CAria aria;
    EXPECT_EQ(aria.Init(1, kKey), -1);
}

struct AteCase {
    const char* name;
    Folder crypto;
    Folder ate;
    Folder bogusAte;  // a file named XecureATE.dll that is not a library
    const char* registry;  // "install" or "none"
    bool works;
};

void PrintTo(const AteCase& c, std::ostream* os) { *os << c.name; }

class AteSearch : public ::testing::TestWithParam<AteCase> {};

TEST_P(AteSearch, HandsOverThePathOfItsOwnSearch)
{
    const AteCase& c = GetParam();
    CryptoLibraryFolders folders;
    folders.PutCrypto(c.crypto);
    if (c.ate != Folder::None)
        folders.PutAte(c.ate);
    if (c.bogusAte != Folder::None)
        folders.PutBogus(c.bogusAte, "XecureATE.dll");
    if (std::string(c.registry) == "install")
        folders.SetInstallFolder(Folder::Install);

    CATE ate;
    int result = ate.Init(1, kKey);
    ASSERT_EQ(ate.Bound(), 1);
    if (c.works) {
        EXPECT_EQ(result, 0);
        char out[32];
        EXPECT_EQ(ate.PadEncrypt("abc", 3, out), 16);
    } else {
        // The path was handed over; the library cannot use what lies there.
        EXPECT_LT(result, 0);
        EXPECT_NE(result, -1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Folders, AteSearch,
    ::testing::Values(
        AteCase{"BothNextToExecutable", Folder::Exe, Folder::Exe, Folder::None, "none", true},
        AteCase{"CryptoFromExeAteFromInstall", Folder::Exe, Folder::Install, Folder::None, "install", true},
        AteCase{"CryptoFromInstallAteFromExe", Folder::Install, Folder::Exe, Folder::Install, "install", true},
        AteCase{"ExeAteWinsOverRegistry", Folder::Exe, Folder::Exe, Folder::Install, "install", true},
        AteCase{"AteFromWindowsFolder", Folder::Exe, Folder::Vendor, Folder::None, "none", true},
        AteCase{"RegistryFolderWithoutAteStopsTheSearch", Folder::Exe, Folder::Vendor, Folder::None, "install",
                false},
        AteCase{"BogusAteInRegistryFolder", Folder::Exe, Folder::None, Folder::Install, "install", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AteSearch, LibraryWithoutSetPathBindsForAriaOnly)
{
    CryptoLibraryFolders folders;
    folders.PutCryptoWithoutSetPath(Folder::Exe);
    folders.PutAte(Folder::Exe);
    CAria aria;
    EXPECT_EQ(aria.Init(1, kKey), 0);
    EXPECT_EQ(aria.Address(PVEDAriaMgr::kSetPath), nullptr);
    CATE ate;
    EXPECT_EQ(ate.Init(1, kKey), -1);
    EXPECT_EQ(ate.Bound(), 1);  // bound before the hand-over failed
    char out[32];
    EXPECT_EQ(ate.PadEncrypt("abc", 3, out), -1);  // no key, no context
}

TEST(AteSearch, NoCryptoLibraryMeansNoHandOver)
{
    CryptoLibraryFolders folders;
    folders.PutAte(Folder::Exe);
    CATE ate;
    EXPECT_EQ(ate.Init(1, kKey), -1);
    EXPECT_EQ(ate.Bound(), 0);
}

// ---- The helpers behind the search.

TEST(ModuleDirectory, IsTheExecutablePathUpToItsLastSeparator)
{
    struct Case {
        std::u16string host;
        int result;
        std::u16string wide;
    };
    for (const Case& c : {Case{u"/opt/pv/bin/host", 1, u"/opt/pv/bin/"},
                          Case{u"C:\\Program Files\\PV\\host.exe", 1, u"C:\\Program Files\\PV\\"},
                          Case{u"/host", 1, u"/"},
                          Case{u"host", 0, u"untouched"},
                          Case{u"/" + std::u16string(300, u'd') + u"/host", 0, u"untouched"}}) {
        plat::SetHostExecutablePath(c.host);
        std::array<plat::WCHAR, kLibraryPathUnits> wide{};
        std::u16string_view untouched = u"untouched";
        std::copy(untouched.begin(), untouched.end(), wide.begin());
        EXPECT_EQ(GetModuleDirectoryW(wide), c.result);
        EXPECT_EQ(std::u16string(wide.data()), c.wide);
        std::array<char, kLibraryPathUnits> narrow{};
        std::string expectedNarrow = c.result == 1 ? *plat::Utf16ToUtf8(c.wide) : std::string();
        EXPECT_EQ(GetModuleDirectoryA(narrow), c.result);
        EXPECT_EQ(std::string(narrow.data()), expectedNarrow);
    }
    plat::SetHostExecutablePath(std::nullopt);
}

TEST(InstallDirectory, RegistryValueWindowsFolderAndTheirLimits)
{
    CryptoLibraryFolders folders;
    std::array<plat::WCHAR, 260> wide{};
    std::array<char, 260> narrow{};

    GetInstallDirectoryW(wide);
    GetInstallDirectoryA(narrow);
    EXPECT_EQ(*plat::Utf16ToUtf8(wide.data()), folders.WindowsDir() + "/Velquist/VPV");
    EXPECT_EQ(std::string(narrow.data()), folders.WindowsDir() + "/Velquist/VPV");

    folders.SetInstallValue("D:\\Velquist\\PV");
    GetInstallDirectoryW(wide);
    GetInstallDirectoryA(narrow);
    EXPECT_EQ(std::u16string(wide.data()), u"D:\\Velquist\\PV");
    EXPECT_EQ(std::string(narrow.data()), "D:\\Velquist\\PV");

    // A value longer than the capacity is cut to capacity - 1.
    folders.SetInstallValue(std::string(400, 'v'));
    GetInstallDirectoryW(std::span<plat::WCHAR>(wide.data(), 10));
    EXPECT_EQ(std::u16string(wide.data()), u"vvvvvvvvv");
    GetInstallDirectoryA(std::span<char>(narrow.data(), 10));
    EXPECT_EQ(std::string(narrow.data()), "vvvvvvvvv");

    // Without a value: the Windows folder, bare when the sub-folders would
    // reach the capacity, empty when the folder itself does not fit.
    folders.SetInstallValue("");
    size_t windowsLength = folders.WindowsDir().size();
    GetInstallDirectoryW(std::span<plat::WCHAR>(wide.data(), windowsLength + 13));
    EXPECT_EQ(*plat::Utf16ToUtf8(wide.data()), folders.WindowsDir());
    GetInstallDirectoryW(std::span<plat::WCHAR>(wide.data(), windowsLength + 14));
    EXPECT_EQ(*plat::Utf16ToUtf8(wide.data()), folders.WindowsDir() + "/Velquist/VPV");
    GetInstallDirectoryA(std::span<char>(narrow.data(), windowsLength + 13));
    EXPECT_EQ(std::string(narrow.data()), folders.WindowsDir());
    GetInstallDirectoryW(std::span<plat::WCHAR>(wide.data(), windowsLength));
    EXPECT_EQ(wide[0], 0);
    GetInstallDirectoryA(std::span<char>(narrow.data(), windowsLength));
    EXPECT_EQ(narrow[0], 0);
}

TEST(InstallDirectory, ComposedPathsThatDoNotFitAreNeverUsed)
{
    CryptoLibraryFolders folders;
    folders.PutCrypto(Folder::Vendor);
    folders.PutAte(Folder::Vendor);
    // Registry value that leaves no room for the file name: no library, and
    // the Windows folder is not tried either.
    folders.SetInstallValue("/" + std::string(245, 'p'));
    EXPECT_FALSE(FindCryptoLibraryPath().has_value());
    EXPECT_FALSE(FindAteLibraryPath().has_value());
    CAria aria;
    EXPECT_EQ(aria.Init(1, kKey), -1);
    // Exactly fitting: 259 units with the name.
    std::string fits = "/" + std::string(259 - 1 - 1 - 16, 'p');
    folders.SetInstallValue(fits);
    ASSERT_TRUE(FindCryptoLibraryPath().has_value());
    EXPECT_EQ(*plat::Utf16ToUtf8(*FindCryptoLibraryPath()), fits + "/XecureCrypto.dll");

    // No value, and a Windows folder long enough that "/Velquist/VPV" is left
    // off and the file name then does not fit: nothing from the bare folder.
    folders.SetInstallValue("");
    setenv("PVCODEC_WINDOWS_DIR", ("/" + std::string(250, 'w')).c_str(), 1);
    EXPECT_FALSE(FindCryptoLibraryPath().has_value());
    setenv("PVCODEC_WINDOWS_DIR", ("/" + std::string(300, 'w')).c_str(), 1);
    EXPECT_FALSE(FindCryptoLibraryPath().has_value());
    EXPECT_FALSE(FindAteLibraryPath().has_value());
}

TEST(InstallDirectory, ConcurrentFirstUsersAllGetTheWindowsFolder)
{
    // Each test runs in a process of its own under ctest, so these threads
    // are the first to resolve the Windows-directory functions.
    CryptoLibraryFolders folders;
    std::string expected = folders.WindowsDir() + "/Velquist/VPV";
    std::vector<std::string> wide(4), narrow(4);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < wide.size(); ++i)
        threads.emplace_back([&, i] {
            std::array<plat::WCHAR, 260> w{};
            std::array<char, 260> n{};
            GetInstallDirectoryW(w);
            GetInstallDirectoryA(n);
            wide[i] = plat::Utf16ToUtf8(w.data()).value_or("");
            narrow[i] = n.data();
        });
    for (auto& t : threads)
        t.join();
    for (size_t i = 0; i < wide.size(); ++i) {
        EXPECT_EQ(wide[i], expected);
        EXPECT_EQ(narrow[i], expected);
    }
}

TEST(Registry, Wow64ProcessReadsThe64BitView)
{
    EXPECT_EQ(IsWow64(), plat::FALSE);
    EXPECT_EQ(RegistryReadAccess(), 0x20019u);
    plat::SetWow64Process(plat::TRUE);
    EXPECT_EQ(IsWow64(), plat::TRUE);
    // KEY_READ | KEY_WOW64_64KEY (0x0100): the 64-bit view.
    EXPECT_EQ(RegistryReadAccess(), 0x20119u);
    plat::SetWow64Process(plat::FALSE);
}

TEST(Registry, ReadRegistryValueOpensThenReads)
{
    CryptoLibraryFolders folders;
    char16_t value[64] = {};
    EXPECT_EQ(ReadRegistryValueW(plat::HKEY_LOCAL_MACHINE, u"SOFTWARE\\VELQUIST\\PVDirectory", u"PVVPVPath", value,
                                 sizeof value),
              0);
    folders.SetInstallValue("/srv/pv");
    EXPECT_EQ(ReadRegistryValueW(plat::HKEY_LOCAL_MACHINE, u"SOFTWARE\\VELQUIST\\PVDirectory", u"PVVPVPath", value,
                                 sizeof value),
              1);
    EXPECT_EQ(std::u16string(value), u"/srv/pv");
    // The value's absence is not looked at once the key is open.
    char narrow[64] = {};
    EXPECT_EQ(ReadRegistryValueA(plat::HKEY_LOCAL_MACHINE, "SOFTWARE\\VELQUIST\\PVDirectory", "Missing", narrow,
                                 sizeof narrow),
              1);
    EXPECT_EQ(narrow[0], 0);
}

TEST(Kernel32, TheLayerAnswersForTheNamesTheLibraryAsksFor)
{
    plat::HMODULE kernel32 = plat::GetModuleHandleA("kernel32.dll");
    ASSERT_NE(kernel32, nullptr);
    EXPECT_EQ(plat::GetModuleHandleA("KERNEL32"), kernel32);
    EXPECT_EQ(plat::GetModuleHandleW(u"Kernel32.DLL"), kernel32);
    for (const char* name : {"GetSystemWindowsDirectoryW", "GetSystemWindowsDirectoryA", "GetWindowsDirectoryW",
                             "GetWindowsDirectoryA", "IsWow64Process"})
        EXPECT_NE(plat::GetProcAddress(kernel32, name), nullptr) << name;
    EXPECT_EQ(plat::GetProcAddress(kernel32, "getsystemwindowsdirectoryw"), nullptr);  // names are exact
    EXPECT_EQ(plat::GetProcAddress(kernel32, "CreateFileW"), nullptr);
    EXPECT_EQ(plat::GetProcAddress(nullptr, "IsWow64Process"), nullptr);
}

TEST(Kernel32, WindowsDirectoryCallsFollowWin32Results)
{
    setenv("PVCODEC_WINDOWS_DIR", "/srv/windows/", 1);
    char16_t wide[32] = u"untouched";
    EXPECT_EQ(plat::GetSystemWindowsDirectoryW(wide, 32), 12u);
    EXPECT_EQ(std::u16string(wide), u"/srv/windows");
    char16_t small[8] = u"keep";
    EXPECT_EQ(plat::GetWindowsDirectoryW(small, 8), 13u);  // the size needed, NUL included
    EXPECT_EQ(std::u16string(small), u"keep");
    setenv("PVCODEC_WINDOWS_DIR", "relative/folder", 1);  // not absolute: the default
    char narrow[4096] = {};
    const std::string folder = plat::DefaultWindowsDirectory();
    EXPECT_EQ(plat::GetWindowsDirectoryA(narrow, sizeof narrow), folder.size());
    EXPECT_STREQ(narrow, folder.c_str());
    unsetenv("PVCODEC_WINDOWS_DIR");
}

TEST(Modules, FileNameOfTheExecutableAndLoadFailures)
{
    char16_t name[4] = {};
    plat::SetHostExecutablePath(u"/a/b/host");
    EXPECT_EQ(plat::GetModuleFileNameW(nullptr, name, 4), 4u);  // cut, as Windows does
    EXPECT_EQ(std::u16string(name), u"/a/");
    plat::SetHostExecutablePath(std::nullopt);
    char16_t full[1024] = {};
    ASSERT_GT(plat::GetModuleFileNameW(nullptr, full, 1024), 0u);
    EXPECT_NE(plat::Utf16ToUtf8(full)->find("pvcodec_tests"), std::string::npos);
    EXPECT_EQ(plat::LoadLibraryW(u"/nonexistent/XecureCrypto.dll"), nullptr);
    EXPECT_EQ(plat::GetModuleHandleW(u"/nonexistent/XecureCrypto.dll"), nullptr);
    EXPECT_EQ(plat::LoadLibraryW(nullptr), nullptr);
}

}  // namespace
