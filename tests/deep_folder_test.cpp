// Past 260 characters every writer and reader works in place and beside, times carried, no "~PV" left;
// past the system's path limit every driver fails with 0 and the document stays as it was.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace containerfiles;

namespace {

const Bytes kHeader = {'d', 'e', 'e', 'p'};
constexpr int kOffset = 14 + 4;
const char* const kNames[] = {"EncryptFileW", "RDEncryptFile",       "EncryptFile2",        "DecryptFileW",
                               "RDDecryptFile", "DecryptFile2", "DecryptFileToMemory", "DecryptFileToMemory2"};
constexpr int kWriters = 3, kDrivers = 8;

// Driver `i` (the writers first) from `s` to `d`; a reader into memory writes its buffer over the container.
int Drive(int i, const std::u16string& s, const std::u16string& d)
{
    Bytes header = kHeader, buffer(32 + 4000);
    const char16_t *a = s.c_str(), *b = d.c_str();
    int size = -1, result = 0;
    switch (i) {
    case 0: return CPVCodec::EncryptFileW(a, b, Key(), header.data(), 4);
    case 1: return CPVCodec::RDEncryptFile(a, b, Key(), header.data(), 4);
    case 2: return CPVCodec::EncryptFile2(a, b, Key(), header.data(), 4, nullptr);
    case 3: return CPVCodec::DecryptFileW(a, b, Key(), nullptr, kOffset);
    case 4: return CPVCodec::RDDecryptFile(a, b, Key(), nullptr, kOffset);
    case 5: return CPVCodec::DecryptFile2(a, b, Key(), nullptr, kOffset);
    case 6: result = CPVCodec::DecryptFileToMemory(a, buffer.data(), &size, Key(), kOffset); break;
    default: result = CPVCodec::DecryptFileToMemory2(a, buffer.data(), &size, Key(), kOffset); break;
    }
    if (result == 1 && s == d)
        WriteFile(*plat::Utf16ToUtf8(d), Bytes(buffer.begin() + 32, buffer.begin() + 32 + size));
    return result;
}

// A chain of folders made and removed through descriptors (it may pass the path limit); counts "~PV" names.
class FolderChain {
public:
    FolderChain(const std::string& base, const std::string& component, size_t length) : m_component(component)
    {
        m_path = base;
        m_fds.push_back(::open(base.c_str(), O_DIRECTORY | O_RDONLY));
        while (m_path.size() < length) {
            EXPECT_EQ(::mkdirat(m_fds.back(), component.c_str(), 0700), 0);
            m_fds.push_back(::openat(m_fds.back(), component.c_str(), O_DIRECTORY | O_RDONLY));
            m_path += "/" + component;
        }
    }
    ~FolderChain()
    {
        for (size_t level = m_fds.size() - 1; level > 0; --level) {
            for (const std::string& name : Names(level))
                ::unlinkat(m_fds[level], name.c_str(), name == m_component ? AT_REMOVEDIR : 0);
            ::close(m_fds[level]);
        }
        ::unlinkat(m_fds[0], m_component.c_str(), AT_REMOVEDIR);
        ::close(m_fds[0]);
    }
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;

    const std::string& Path() const { return m_path; }
    int Deepest() const { return m_fds.back(); }
    size_t Temporaries() const
    {
        size_t found = 0;
        for (size_t level = 0; level < m_fds.size(); ++level)
            for (const std::string& name : Names(level))
                found += name.rfind("~PV", 0) == 0;
        return found;
    }

private:
    std::vector<std::string> Names(size_t level) const
    {
        return Entries("/proc/self/fd/" + std::to_string(m_fds[level]));
    }
    std::string m_component, m_path;
    std::vector<int> m_fds;
};

class DeepFolder : public ::testing::Test {
protected:
    void SetUp() override { plat::fault::UseVirtualClock(true); }
    TempDir m_dir;
    RegistrySandbox m_registry;
    plat::fault::Scope m_seam;
    const Bytes m_plain = reference::Document(3000, 7);
    const Bytes m_container =
        reference::Concat(reference::DefaultHeader("VQPVA002", kHeader), reference::SegmentedBody(kKey, m_plain));
};

time_t WrittenAt(const std::string& path)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtim.tv_sec : 0;
}

void SetTimes(const std::string& path, time_t written)
{
    const timespec times[2] = {{1'300'000'000, 0}, {written, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(DeepFolder, EveryWriterAndEveryReaderInPlaceAndBeside)
{
    FolderChain chain(m_dir.Path(), std::string(60, 'f'), 300);
    const std::string document = chain.Path() + "/" + std::string(40, 'n') + ".doc", beside = document + ".out";
    const std::u16string path = Wide(document);
    for (int writer = 0; writer < kWriters; ++writer) {
        for (int reader = kWriters; reader < kDrivers; ++reader) {
            SCOPED_TRACE(std::string(kNames[writer]) + " then " + kNames[reader]);
            WriteFile(document, m_plain);
            SetTimes(document, 1'200'000'000);
            ASSERT_EQ(Drive(writer, path, path), 1);
            EXPECT_TRUE(FileBytes(document) == m_container);
            EXPECT_EQ(WrittenAt(document), 1'200'000'000);
            ASSERT_EQ(Drive(reader, path, path), 1);
            EXPECT_TRUE(FileBytes(document) == m_plain);
            EXPECT_EQ(chain.Temporaries(), 0u);
        }
        // Beside: a new long path gets its short form after the rename, so the times still reach it.
        SetTimes(document, 1'100'000'000);
        ASSERT_EQ(Drive(writer, path, Wide(beside)), 1);
        EXPECT_TRUE(FileBytes(beside) == m_container);
        EXPECT_EQ(WrittenAt(beside), 1'100'000'000);
        for (int reader = kWriters; reader < kWriters + 3; ++reader) {  // the file readers, to a new file
            ::unlink(document.c_str());
            ASSERT_EQ(Drive(reader, Wide(beside), path), 1) << kNames[reader];
            EXPECT_TRUE(FileBytes(document) == m_plain);
            EXPECT_EQ(WrittenAt(document), 1'100'000'000);
        }
        ::unlink(beside.c_str());
    }
}

TEST_F(DeepFolder, PastThePathLimitEveryDriverFailsAndNothingIsLost)
{
    FolderChain chain(m_dir.Path(), std::string(200, 'p'), PATH_MAX + 100);
    ASSERT_GT(chain.Path().size(), static_cast<size_t>(PATH_MAX));
    const std::u16string path = Wide(chain.Path() + "/doc"), beside = Wide(m_dir / "doc.out");
    for (int driver = 0; driver < kDrivers; ++driver) {
        const Bytes& input = driver < kWriters ? m_plain : m_container;
        for (const std::u16string* destination : {&path, &beside}) {
            SCOPED_TRACE(std::string(kNames[driver]) + (destination == &path ? " in place" : " to a new file"));
            int fd = ::openat(chain.Deepest(), "doc", O_CREAT | O_TRUNC | O_WRONLY, 0600);
            ASSERT_EQ(::write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
            ::close(fd);
            EXPECT_EQ(Drive(driver, path, *destination), 0);
            Bytes stored(input.size() + 10);
            fd = ::openat(chain.Deepest(), "doc", O_RDONLY);
            stored.resize(static_cast<size_t>(std::max<ssize_t>(::read(fd, stored.data(), stored.size()), 0)));
            ::close(fd);
            EXPECT_TRUE(stored == input);
            EXPECT_EQ(chain.Temporaries(), 0u);
            EXPECT_EQ(Entries(m_dir.Path()), std::vector<std::string>{std::string(200, 'p')});
        }
    }
}

}  // namespace
