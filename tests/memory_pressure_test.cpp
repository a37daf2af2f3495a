// Memory pressure: the task allocator refuses a large block the machine cannot back, so a driver
// that wants a whole-document image streams instead of being killed when the image is touched.
// Once with the available memory set through the test seam, once for real in a child process
// under a cgroup memory limit.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "platform/TaskMemory.h"
#include "support/ChildProcess.h"
#include "support/ContainerFiles.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <cstring>
#include <fcntl.h>
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

// A document of `size` bytes from a cheap generator, written in pieces.
void WriteDocument(const std::string& path, uint64_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> piece(kMiB / 8);
    uint64_t state = 0x9E3779B97F4A7C15ull;
    for (uint64_t done = 0; done < size; done += kMiB) {
        for (uint64_t& word : piece) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        out.write(reinterpret_cast<const char*>(piece.data()), static_cast<std::streamsize>(std::min(size - done, kMiB)));
    }
}

// Whether the file at `path` holds `size` bytes equal to `bytes`, compared piece by piece.
bool Holds(const std::string& path, const char* bytes, uint64_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> piece(kMiB);
    uint64_t done = 0;
    while (in.read(piece.data(), static_cast<std::streamsize>(piece.size())) || in.gcount() > 0) {
        const auto n = static_cast<uint64_t>(in.gcount());
        if (done + n > size || std::memcmp(piece.data(), bytes + done, n) != 0)
            return false;
        done += n;
    }
    return done == size;
}

bool SameFiles(const std::string& a, const std::string& b)
{
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    std::vector<char> p(kMiB), q(kMiB);
    while (x && y) {
        x.read(p.data(), static_cast<std::streamsize>(kMiB));
        y.read(q.data(), static_cast<std::streamsize>(kMiB));
        if (x.gcount() != y.gcount() || std::memcmp(p.data(), q.data(), static_cast<size_t>(x.gcount())) != 0)
            return false;
    }
    return !x && !y;
}

int Encrypt(const std::string& document, const std::string& container)
{
    char header[] = "pvcodec";
    return CPVCodec::EncryptFileW(Wide(document).c_str(), Wide(container).c_str(), Key(), header, 7);
}

// A 256 MiB document with 128 MiB available: every driver's image is refused, and it streams the same bytes.
TEST(MemoryPressure, ImagesTheMachineCannotBackAreRefusedAndTheDriverStreams)
{
    constexpr uint64_t kSize = 256 * kMiB;
    RegistrySandbox registry;
    TempDir dir;
    const std::string document = dir / "doc", container = dir / "doc.pvc", result = dir / "result";
    WriteDocument(document, kSize);
    ASSERT_EQ(Encrypt(document, container), 1);
    const std::u16string source = Wide(container);
    std::vector<char> buffer(32 + kSize);
    int size = -1;
    const std::tuple<const char*, const char*, std::function<bool()>> drivers[] = {
        {"DoEncryptFile", "EncryptFile2() WATCH! Entering the Function V2",
         [&] { return Encrypt(document, result) == 1 && SameFiles(result, container); }},
        {"DecryptFile", "DecryptFile2() GOOD! End of the function",
         [&] {
             return CPVCodec::DecryptFileW(source.c_str(), Wide(result).c_str(), Key(), nullptr, kOffset) == 1 &&
                    SameFiles(document, result);
         }},
        {"DecryptFileToMemory", "DecryptFileToMemory2() WATCH! End of DecryptFileToMemory2()",
         [&] {
             return CPVCodec::DecryptFileToMemory(source.c_str(), buffer.data(), &size, Key(), kOffset) == 1 &&
                    size == static_cast<int>(kSize) && Holds(document, buffer.data() + 32, kSize);
         }},
    };
    for (const auto& [name, fallback, run] : drivers) {
        SCOPED_TRACE(name);
        plat::fault::Scope seam;
        plat::fault::SetAvailableMemory(128 * kMiB);
        TraceCapture trace;
        EXPECT_TRUE(run());
        EXPECT_TRUE(trace.Contains("[PVCodec.dll]CPVCodec::" + std::string(name) +
                                   "() ERROR! Out of memory for 268435456 Bytes"));
        EXPECT_TRUE(trace.ContainsText(fallback));
        // Blocks below 4 MiB are not weighed at all.
        plat::fault::SetAvailableMemory(0);
        void* small = plat::CoTaskMemAlloc(kMiB);
        EXPECT_NE(small, nullptr);
        plat::CoTaskMemFree(small);
    }
}

bool WriteText(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0)
        ::close(fd);
    return ok;
}

bool OnFileSystem(const std::string& path, long type)
{
    struct statfs fs{};
    return ::statfs(path.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == type;
}

// A memory cgroup of the test's own below /sys/fs/cgroup (v2) or the process's v1 memory group,
// with a limit and no swap where the group can say so; "" when none can be made.
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

// A document larger than the room under the group's limit: the child that encrypts it streams, where
// it would otherwise be killed as the image is read in. The files lie on a disk (tmpfs pages count
// against the limit and cannot be written out).
TEST(MemoryPressureForReal, UnderACgroupLimitTheFullWriterStreams)
{
    const std::string base = !OnFileSystem("/tmp", TMPFS_MAGIC) ? "/tmp" : std::filesystem::current_path().string();
    if (OnFileSystem(base, TMPFS_MAGIC))
        GTEST_SKIP() << "no disk-backed scratch folder (/tmp and the working folder are tmpfs)";
    const std::string group = MakeLimitedGroup(64 * kMiB);
    if (group.empty())
        GTEST_SKIP() << "no memory-limited cgroup can be made here";
    RegistrySandbox registry;
    TempDir dir(base);
    const std::string document = dir / "doc", container = dir / "doc.pvc", expected = dir / "expected.pvc";
    WriteDocument(document, 96 * kMiB);
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
    EXPECT_TRUE(SameFiles(container, expected));
}

}  // namespace
