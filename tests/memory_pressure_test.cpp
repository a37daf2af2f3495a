// Memory pressure: the task allocator refuses a large block that the machine
// cannot back, so a driver that wants a whole-document image falls back to
// streaming instead of the process being killed when the image is touched.
// Once with the available memory set through the test seam, and once for
// real, in a child process under a cgroup memory limit.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "platform/TaskMemory.h"
#include "support/ChildProcess.h"
#include "support/ContainerFiles.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/magic.h>
#include <string>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

using containerfiles::Bytes;
using containerfiles::Key;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;

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

// Whether the two sources hold the same bytes, compared piece by piece.
bool SameBytes(std::istream& a, std::istream& b)
{
    std::vector<char> x(kMiB), y(kMiB);
    while (true) {
        a.read(x.data(), static_cast<std::streamsize>(x.size()));
        b.read(y.data(), static_cast<std::streamsize>(y.size()));
        if (a.gcount() != b.gcount() || std::memcmp(x.data(), y.data(), static_cast<size_t>(a.gcount())) != 0)
            return false;
        if (a.gcount() == 0)
            return true;
    }
}

bool SameFiles(const std::string& a, const std::string& b)
{
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    return x && y && SameBytes(x, y);
}

bool SameBytes(const std::string& path, const char* bytes, uint64_t size)
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

// The default-form container of the file at `document`, by the full writer.
int Encrypt(const std::string& document, const std::string& container)
{
    char header[] = "pvcodec";
    return CPVCodec::EncryptFileW(Wide(document).c_str(), Wide(container).c_str(), Key(), header, 7);
}
constexpr int kOffset = 14 + 7;

// ---- With the available memory set through the seam

struct PressureCase {
    const char* name;
    const char* outOfMemory;   // the line the driver traces before it falls back
    const char* fallbackText;  // a part of a line of the streaming driver
    // Runs the driver with the document, its container and a result path;
    // true when it returned 1 and its result is byte-exact.
    std::function<bool(const std::string& document, const std::string& container, const std::string& result)> run;
};

void PrintTo(const PressureCase& c, std::ostream* os) { *os << c.name; }

constexpr uint64_t kDocumentSize = 256 * kMiB;

const PressureCase kPressureCases[] = {
    {"DoEncryptFile", "[PVCodec.dll]CPVCodec::DoEncryptFile() ERROR! Out of memory for 268435456 Bytes",
     "CPVCodec::EncryptFile2() WATCH! Entering the Function V2",
     [](const std::string& document, const std::string& container, const std::string& result) {
         return Encrypt(document, result) == 1 && SameFiles(result, container);
     }},
    {"DecryptFileW", "[PVCodec.dll]CPVCodec::DecryptFile() ERROR! Out of memory for 268435456 Bytes",
     "CPVCodec::DecryptFile2() GOOD! End of the function",
     [](const std::string& document, const std::string& container, const std::string& result) {
         return CPVCodec::DecryptFileW(Wide(container).c_str(), Wide(result).c_str(), Key(), nullptr, kOffset) ==
                    1 &&
                SameFiles(result, document);
     }},
    {"DecryptFileToMemory", "[PVCodec.dll]CPVCodec::DecryptFileToMemory() ERROR! Out of memory for 268435456 Bytes",
     "CPVCodec::DecryptFileToMemory2() WATCH! End of DecryptFileToMemory2()",
     [](const std::string& document, const std::string& container, const std::string&) {
         std::vector<char> buffer(32 + kDocumentSize);
         int size = -1;
         return CPVCodec::DecryptFileToMemory(Wide(container).c_str(), buffer.data(), &size, Key(), kOffset) == 1 &&
                size == static_cast<int>(kDocumentSize) && SameBytes(document, buffer.data() + 32, kDocumentSize);
     }},
};

class MemoryPressure : public ::testing::TestWithParam<PressureCase> {
protected:
    RegistrySandbox m_registry;
    TempDir m_dir;
};

// A 256 MiB document with 128 MiB available: the images are refused, and the
// streaming driver gives the same bytes.
TEST_P(MemoryPressure, ImagesTheMachineCannotBackAreRefusedAndTheDriverStreams)
{
    const PressureCase& c = GetParam();
    const std::string document = m_dir / "doc", container = m_dir / "doc.pvc", result = m_dir / "result";
    WriteDocument(document, kDocumentSize);
    ASSERT_EQ(Encrypt(document, container), 1);

    plat::fault::Scope seam;
    plat::fault::SetAvailableMemory(128 * kMiB);
    TraceCapture trace;
    EXPECT_TRUE(c.run(document, container, result));
    EXPECT_TRUE(trace.Contains(c.outOfMemory));
    EXPECT_TRUE(trace.ContainsText(c.fallbackText));
    // Blocks below 4 MiB are not weighed at all.
    plat::fault::SetAvailableMemory(0);
    void* small = plat::CoTaskMemAlloc(kMiB);
    EXPECT_NE(small, nullptr);
    plat::CoTaskMemFree(small);
}

INSTANTIATE_TEST_SUITE_P(Drivers, MemoryPressure, ::testing::ValuesIn(kPressureCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- For real, under a cgroup memory limit

bool WriteText(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

bool OnFileSystem(const std::string& path, long type)
{
    struct statfs fs{};
    return ::statfs(path.c_str(), &fs) == 0 && static_cast<long>(fs.f_type) == type;
}

// A memory cgroup of the test's own with a limit, where one can be made: a
// cgroup v2 group below /sys/fs/cgroup, or a group in the v1 memory hierarchy
// below the process's own. Swap is shut off where the group can say so.
class MemoryLimitedGroup {
public:
    explicit MemoryLimitedGroup(uint64_t limit)
    {
        const std::string name = "/pvcodec-test-" + std::to_string(::getpid());
        const std::string v2 = "/sys/fs/cgroup";
        if (OnFileSystem(v2, CGROUP2_SUPER_MAGIC)) {
            if (ReadBytes(v2 + "/cgroup.subtree_control").find("memory") == std::string::npos) {
                m_why = "the cgroup v2 root does not hand the memory controller to its children";
                return;
            }
            Make(v2 + name, "memory.max", limit);
            if (!m_dir.empty())
                WriteText(m_dir + "/memory.swap.max", "0");
            return;
        }
        // cgroup v1: this process's group in the memory hierarchy.
        std::ifstream groups("/proc/self/cgroup");
        for (std::string line; std::getline(groups, line);) {
            const size_t first = line.find(':'), second = line.find(':', first + 1);
            const std::string controllers = line.substr(first + 1, second - first - 1);
            if (("," + controllers + ",").find(",memory,") == std::string::npos)
                continue;
            std::string own = "/sys/fs/cgroup/memory" + line.substr(second + 1);
            if (!std::filesystem::is_directory(own))
                own = "/sys/fs/cgroup/memory";
            Make(own + name, "memory.limit_in_bytes", limit);
            if (!m_dir.empty())
                WriteText(m_dir + "/memory.memsw.limit_in_bytes", std::to_string(limit));
            return;
        }
        m_why = "no cgroup memory controller here";
    }
    ~MemoryLimitedGroup()
    {
        if (!m_dir.empty())
            ::rmdir(m_dir.c_str());
    }
    MemoryLimitedGroup(const MemoryLimitedGroup&) = delete;
    MemoryLimitedGroup& operator=(const MemoryLimitedGroup&) = delete;

    bool Made() const { return !m_dir.empty(); }
    const std::string& Why() const { return m_why; }
    // Moves the calling process into the group.
    bool Enter() const { return WriteText(m_dir + "/cgroup.procs", "0"); }

private:
    void Make(const std::string& dir, const char* limitFile, uint64_t limit)
    {
        if (::mkdir(dir.c_str(), 0755) != 0) {
            m_why = "cannot make " + dir + ": " + std::strerror(errno);
            return;
        }
        if (!WriteText(dir + "/" + limitFile, std::to_string(limit))) {
            m_why = "cannot set " + dir + "/" + limitFile;
            ::rmdir(dir.c_str());
            return;
        }
        m_dir = dir;
    }

    std::string m_dir;
    std::string m_why;
};

// A document larger than the room under the group's limit: the child that
// encrypts it streams, where it would otherwise be killed by the limit's OOM
// killer as the image is read in. The files lie on a disk, not in memory
// (tmpfs pages count against the limit and cannot be written out).
TEST(MemoryPressureForReal, UnderACgroupLimitTheFullWriterStreams)
{
    constexpr uint64_t kLimit = 64 * kMiB, kSize = 96 * kMiB;
    const std::string base = !OnFileSystem("/tmp", TMPFS_MAGIC) ? "/tmp" : std::filesystem::current_path().string();
    if (OnFileSystem(base, TMPFS_MAGIC))
        GTEST_SKIP() << "no disk-backed scratch folder (/tmp and the working folder are tmpfs)";
    MemoryLimitedGroup group(kLimit);
    if (!group.Made())
        GTEST_SKIP() << "no memory-limited cgroup can be made here: " << group.Why();

    RegistrySandbox registry;
    TempDir dir(base);
    const std::string document = dir / "doc", container = dir / "doc.pvc", expected = dir / "expected.pvc";
    WriteDocument(document, kSize);
    ChildProcess child([&](ChildProcess& self) {
        self.WaitForParent();
        if (!group.Enter())
            return 3;
        TraceCapture trace;
        if (Encrypt(document, container) != 1)
            return 1;
        return trace.ContainsText("DoEncryptFile() ERROR! Out of memory for") ? 0 : 2;
    });
    child.ReleaseChild();
    // -1: killed (by the OOM killer); 1: the call failed; 2: it did not fall back; 3: not moved into the group.
    ASSERT_EQ(child.Join(), 0);
    ASSERT_EQ(Encrypt(document, expected), 1);
    EXPECT_TRUE(SameFiles(container, expected));
}

}  // namespace
