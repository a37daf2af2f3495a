// The task allocator refuses a large block the machine cannot back, so a driver streams instead of
// being killed: once through the test seam, once for real in a child under a cgroup memory limit.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "platform/TaskMemory.h"
#include "support/ChildProcess.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

using containerfiles::Key;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
constexpr int kOffset = 14 + 7;

int Encrypt(const std::string& document, const std::string& container)
{
    char header[] = "pvcodec";
    return CPVCodec::EncryptFileW(Wide(document).c_str(), Wide(container).c_str(), Key(), header, 7);
}

// An 8 MiB document with 36 MiB available (less than the image and the headroom kept beside it):
// every driver's image is refused, and it streams the same bytes.
TEST(MemoryPressure, ImagesTheMachineCannotBackAreRefusedAndTheDriverStreams)
{
    constexpr int kSize = 8 << 20;
    RegistrySandbox registry;
    TempDir dir;
    const std::string document = dir / "doc", container = dir / "doc.pvc", result = dir / "result";
    const containerfiles::Bytes plain = reference::Document(kSize, 9);
    containerfiles::WriteFile(document, plain);
    ASSERT_EQ(Encrypt(document, container), 1);
    const std::u16string source = Wide(container);
    std::vector<char> buffer(32 + kSize);
    int size = -1;
    const std::tuple<const char*, const char*, std::function<bool()>> drivers[] = {
        {"DoEncryptFile", "EncryptFile2() WATCH! Entering the Function V2",
         [&] { return Encrypt(document, result) == 1 && ReadBytes(result) == ReadBytes(container); }},
        {"DecryptFile", "DecryptFile2() GOOD! End of the function",
         [&] {
             return CPVCodec::DecryptFileW(source.c_str(), Wide(result).c_str(), Key(), nullptr, kOffset) == 1 &&
                    ReadBytes(result) == ReadBytes(document);
         }},
        {"DecryptFileToMemory", "DecryptFileToMemory2() WATCH! End of DecryptFileToMemory2()",
         [&] {
             return CPVCodec::DecryptFileToMemory(source.c_str(), buffer.data(), &size, Key(), kOffset) == 1 &&
                    size == kSize && std::equal(plain.begin(), plain.end(), buffer.begin() + 32);
         }},
    };
    for (const auto& [name, fallback, run] : drivers) {
        SCOPED_TRACE(name);
        plat::fault::Scope seam;
        plat::fault::SetAvailableMemory(36 * kMiB);
        TraceCapture trace;
        EXPECT_TRUE(run());
        EXPECT_TRUE(trace.Contains("[PVCodec.dll]CPVCodec::" + std::string(name) +
                                   "() ERROR! Out of memory for 8388608 Bytes"));
        EXPECT_TRUE(trace.ContainsText(fallback));
        // With room for both images and the headroom the call keeps them; blocks below 4 MiB are not weighed.
        plat::fault::SetAvailableMemory(64 * kMiB);
        trace.Clear();
        EXPECT_TRUE(run());
        EXPECT_FALSE(trace.ContainsText("Out of memory"));
        plat::fault::SetAvailableMemory(0);
        void* small = plat::CoTaskMemAlloc(kMiB);
        EXPECT_NE(small, nullptr);
        plat::CoTaskMemFree(small);
    }
}

bool WriteText(const std::string& path, const std::string& text)
{
    std::ofstream out(path);
    out << text << std::flush;
    return out.good();
}

bool OnFileSystem(const std::string& path, long type)
{
    struct statfs fs{};
    return ::statfs(path.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == type;
}

// A memory cgroup of the test's own (v2, or below the process's v1 memory group) with a limit and no swap.
std::string MakeLimitedGroup(uint64_t limit)
{
    const std::string name = "/pvcodec-test-" + std::to_string(::getpid());
    std::string dir, limitFile, swapFile;
    if (OnFileSystem("/sys/fs/cgroup", CGROUP2_SUPER_MAGIC)) {
        if (ReadBytes("/sys/fs/cgroup/cgroup.subtree_control").find("memory") == std::string::npos)
            return "";
        dir = "/sys/fs/cgroup" + name, limitFile = "memory.max", swapFile = "memory.swap.max";
    } else {
        std::ifstream groups("/proc/self/cgroup");
        for (std::string line; std::getline(groups, line) && dir.empty();) {
            const size_t first = line.find(':'), second = line.find(':', first + 1);
            if (("," + line.substr(first + 1, second - first - 1) + ",").find(",memory,") == std::string::npos)
                continue;
            std::string own = "/sys/fs/cgroup/memory" + line.substr(second + 1);
            dir = (std::filesystem::is_directory(own) ? own : "/sys/fs/cgroup/memory") + name;
            limitFile = "memory.limit_in_bytes", swapFile = "memory.memsw.limit_in_bytes";
        }
    }
    if (dir.empty() || ::mkdir(dir.c_str(), 0755) != 0)
        return "";
    if (!WriteText(dir + "/" + limitFile, std::to_string(limit))) {
        ::rmdir(dir.c_str());
        return "";
    }
    WriteText(dir + "/" + swapFile, swapFile == "memory.swap.max" ? "0" : std::to_string(limit));
    return dir;
}

// A document larger than the group's limit: the child streams it, where reading the image in would get it
// killed. The files lie on a disk (tmpfs pages count against the limit and cannot be written out).
TEST(MemoryPressureForReal, UnderACgroupLimitTheFullWriterStreams)
{
    const std::string base = !OnFileSystem("/tmp", TMPFS_MAGIC) ? "/tmp" : std::filesystem::current_path().string();
    if (OnFileSystem(base, TMPFS_MAGIC))
        GTEST_SKIP() << "no disk-backed scratch folder (/tmp and the working folder are tmpfs)";
    const std::string group = MakeLimitedGroup(32 * kMiB);
    if (group.empty())
        GTEST_SKIP() << "no memory-limited cgroup can be made here";
    RegistrySandbox registry;
    TempDir dir(base);
    const std::string document = dir / "doc", container = dir / "doc.pvc", expected = dir / "expected.pvc";
    containerfiles::WriteFile(document, reference::Document(40 * kMiB, 9));
    ChildProcess child([&](ChildProcess& self) {
        self.WaitForParent();
        if (!WriteText(group + "/cgroup.procs", "0"))
            return 3;
        TraceCapture trace;
        if (Encrypt(document, container) != 1)
            return 1;
        return trace.ContainsText("DoEncryptFile() ERROR! Out of memory for") ? 0 : 2;
    });
    child.ReleaseChild();
    // -1: killed (by the OOM killer); 1: the call failed; 2: it did not fall back; 3: not moved into the group.
    const int status = child.Join();
    ::rmdir(group.c_str());
    ASSERT_EQ(status, 0);
    ASSERT_EQ(Encrypt(document, expected), 1);
    EXPECT_TRUE(ReadBytes(container) == ReadBytes(expected));
}

}  // namespace
