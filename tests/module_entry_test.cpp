// Where the library meets its host: module entry and list, local drives, IsExplorerIconsOnly.
#include "PVCodec.h"
#include "fileops/FileChecks.h"
#include "module/ModuleEntry.h"
#include "platform/FileApi.h"
#include "support/RegistrySandbox.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <dlfcn.h>
#include <sys/statfs.h>

using namespace plat;

static size_t Registered(HMODULE module)
{
    return static_cast<size_t>(std::ranges::count(AfxRegisteredModules(), module));
}

// Each call of the entry, with a handle of our own: its result, and the record and list after it.
TEST(ModuleEntry, ResultsAndRegistrationPerReason)
{
    HINSTANCE const instance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x7e570000));
    const struct { DWORD reason; bool refuseInit; BOOL result; size_t registered; } steps[] = {
        {DLL_PROCESS_ATTACH, true, 0, 0},  // a refused initialisation fails the load
        {DLL_PROCESS_ATTACH, false, 1, 1}, {DLL_THREAD_ATTACH, false, 1, 1}, {DLL_THREAD_DETACH, false, 1, 1},
        {7, false, 1, 1}, {DLL_PROCESS_DETACH, false, 1, 0}, {DLL_PROCESS_DETACH, false, 1, 0},
    };
    for (const auto& s : steps) {
        AfxSetInitExtensionModuleFailure(s.refuseInit);
        EXPECT_EQ(DllMain(instance, s.reason, nullptr), s.result) << s.reason;
        AfxSetInitExtensionModuleFailure(false);
        EXPECT_EQ(PVCodecDLL.bInitialized != FALSE, s.registered == 1) << s.reason;
        EXPECT_EQ(Registered(instance), s.registered) << s.reason;
    }
    EXPECT_EQ(PVCodecDLL.hModule, instance);
    AFX_EXTENSION_MODULE record{FALSE, nullptr, nullptr};  // a library deleted early leaves the list
    ASSERT_TRUE(AfxInitExtensionModule(record, instance));
    auto library = std::make_unique<CDynLinkLibrary>(record);
    new CDynLinkLibrary(record);  // the list's own, released with the module
    library.reset();
    EXPECT_EQ(Registered(instance), 1u);
    AfxTermExtensionModule(record);
    EXPECT_EQ(Registered(instance), 0u);
}

#ifdef PVCODEC_SHARED_LIBRARY
// POSIX only: loading the shared library runs the entry with its own handle.
TEST(ModuleEntry, RunsWhenTheSharedLibraryLoadsAndUnloads)
{
    const size_t before = AfxRegisteredModules().size();
    void* library = dlopen(PVCODEC_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    Dl_info info{};
    ASSERT_NE(dladdr(dlsym(library, "_ZN8CPVCodec23ConvertFileAlgToProgAlgEh"), &info), 0);
    EXPECT_EQ(Registered(static_cast<HMODULE>(info.dli_fbase)), 1u);
    ASSERT_EQ(dlclose(library), 0);
    EXPECT_EQ(AfxRegisteredModules().size(), before);
}
#endif

TEST(LocalDrive, AnswersAndTraces)
{
    struct statfs shm{}, root{};
    const bool shmIsTmpfs = ::statfs("/dev/shm", &shm) == 0 && shm.f_type == 0x01021994;
    const bool rootIsDisk = ::statfs("/", &root) == 0 && root.f_type != 0x01021994 && root.f_type != 0x858458F6 &&
                            root.f_type != 0x6969;  // not tmpfs, ramfs, NFS
    const UINT current = GetDriveTypeW(u".");
    const struct { std::u16string path; int expected; std::string trace; bool applies; } rows[] = {
        {u"//server/share/doc.txt", 0, "share folder", true}, {u"\\\\server\\share\\doc.txt", 0, "share folder", true},
        {u"", 0, "share folder", true}, {u"d:doc.txt", 1, "DriveType=1", true},
        {u"C:\\Users\\doc.txt", 1, "DriveType=1", true},  // no drive letters here: DRIVE_NO_ROOT_DIR counts as local
        {u"/dev/shm/pvcodec-none/doc.txt", 1, "DriveType=6", shmIsTmpfs},  // judged by its folder
        {u"/pvcodec-none/doc.txt", 1, "DriveType=3", rootIsDisk},
        {u"doc.txt", current == DRIVE_REMOTE || current == DRIVE_REMOVABLE ? 0 : 1,
         "DriveType=" + std::to_string(current), true},  // the current folder's file system
    };
    for (const auto& r : rows) {
        TraceCapture traces;
        const int answer = r.applies ? CPVCodec::IsFileInLocalDrive(r.path.c_str()) : r.expected;
        EXPECT_EQ(answer, r.expected) << r.trace;
        EXPECT_EQ(traces.Lines(),
                  std::vector<std::string>(r.applies, "[PVCodec.dll]CPVCodec::IsFileInLocalDrive() WATCH! " + r.trace));
    }
    EXPECT_EQ(GetDriveTypeW(u"//server/share"), DRIVE_REMOTE);
    EXPECT_EQ(GetDriveTypeW(nullptr), current);
    EXPECT_TRUE(!shmIsTmpfs || GetDriveTypeW(u"/dev/shm") == DRIVE_RAMDISK);
    for (const char16_t* root : {u"/", u"\\", u"/pvcodec-none/deeper/still"})
        EXPECT_TRUE(!rootIsDisk || GetDriveTypeW(root) == DRIVE_FIXED);
}

// The user's hive body; the machine's setting never counts.
TEST(ExplorerIconsOnly, AnswersPerRegistryState)
{
    const std::string key = "[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced]\n";
    const struct { std::string user; int expected; } rows[] = {
        {"", 0}, {key + "\"IconsOnly\"=dword:00000000\n", 0}, {key + "\"IconsOnly\"=hex:00\n", 0},
        {key.substr(0, key.find("\\Advanced")) + "]\n\"IconsOnly\"=dword:00000001\n", 0},  // the key's parent
        {key + "\"Other\"=dword:00000001\n", 1},  // the key without the value
        {key + "\"IconsOnly\"=dword:00010000\n", 1},
        {key + "\"IconsOnly\"=hex(b):00,00,00,00,00,00,00,00\n", 1},  // longer than four bytes
        {key + "\"iconsonly\"=dword:00000000\n", 0},                  // names ignore case
    };
    for (const auto& r : rows) {
        RegistrySandbox registry;
        registry.WriteUtf16("HKEY_CURRENT_USER", r.user);
        registry.WriteUtf8("HKEY_LOCAL_MACHINE",
                           "[HKEY_LOCAL_MACHINE" + key.substr(18) + "\"IconsOnly\"=dword:00000001\n");
        EXPECT_EQ(IsExplorerIconsOnly(), r.expected) << r.user;
    }
}
