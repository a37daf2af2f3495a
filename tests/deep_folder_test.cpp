// Documents in deep folders. What a writer encrypts in place in a folder whose
// path is longer than the classic 260 characters, every reader decrypts in
// place again, with the document's times carried both ways and no temporary
// file left. A folder past the system's path limit cannot be reached at all:
// every file driver fails there with 0 and the document stays as it was,
// with no temporary file anywhere along the path.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace containerfiles;

namespace {

const Bytes kHeader = {'d', 'e', 'e', 'p'};
constexpr int kOffset = 14 + 4;
constexpr size_t kDocumentSize = 3000;

using Call = std::function<int(const std::u16string& source, const std::u16string& destination)>;
struct Driver {
    const char* name;
    Call call;
};

int EncryptWith(int (*writer)(const PVWCHAR*, const PVWCHAR*, char*, char*, int, PVHWND), const std::u16string& s,
                const std::u16string& d)
{
    Bytes header = kHeader;
    return writer(s.c_str(), d.c_str(), Key(), header.data(), static_cast<int>(header.size()), nullptr);
}

int RDEncrypt6(const PVWCHAR* s, const PVWCHAR* d, char* k, char* h, int n, PVHWND w)
{
    return CPVCodec::RDEncryptFile(s, d, k, h, n, w);
}
int EncryptW6(const PVWCHAR* s, const PVWCHAR* d, char* k, char* h, int n, PVHWND w)
{
    return CPVCodec::EncryptFileW(s, d, k, h, n, w);
}

// The readers into memory give the document in a buffer; "in place" for them
// is writing that buffer over the container, as a host would.
int ToMemory(int (*reader)(const PVWCHAR*, char*, int*, char*, int), const std::u16string& s,
             const std::u16string& d)
{
    Bytes buffer(32 + kDocumentSize + 64);
    int size = -1;
    const int result = reader(s.c_str(), buffer.data(), &size, Key(), kOffset);
    if (result == 1 && s == d)
        WriteFile(*plat::Utf16ToUtf8(d), Bytes(buffer.begin() + 32, buffer.begin() + 32 + size));
    return result;
}

const std::vector<Driver> kWriters = {
    {"EncryptFileW", [](auto& s, auto& d) { return EncryptWith(EncryptW6, s, d); }},
    {"RDEncryptFile", [](auto& s, auto& d) { return EncryptWith(RDEncrypt6, s, d); }},
    {"EncryptFile2", [](auto& s, auto& d) { return EncryptWith(CPVCodec::EncryptFile2, s, d); }},
};

const std::vector<Driver> kReaders = {
    {"DecryptFileW",
     [](auto& s, auto& d) { return CPVCodec::DecryptFileW(s.c_str(), d.c_str(), Key(), nullptr, kOffset); }},
    {"RDDecryptFile",
     [](auto& s, auto& d) { return CPVCodec::RDDecryptFile(s.c_str(), d.c_str(), Key(), nullptr, kOffset); }},
    {"DecryptFile2",
     [](auto& s, auto& d) { return CPVCodec::DecryptFile2(s.c_str(), d.c_str(), Key(), nullptr, kOffset); }},
    {"DecryptFileToMemory", [](auto& s, auto& d) { return ToMemory(CPVCodec::DecryptFileToMemory, s, d); }},
    {"DecryptFileToMemory2", [](auto& s, auto& d) { return ToMemory(CPVCodec::DecryptFileToMemory2, s, d); }},
};

// A chain of folders below `base`, each named by `component`, reached through
// descriptors so that it may go past the path limit; removed with its files
// the same way.
class FolderChain {
public:
    FolderChain(const std::string& base, const std::string& component, size_t minimumLength) : m_component(component)
    {
        m_path = base;
        int fd = ::open(base.c_str(), O_DIRECTORY | O_RDONLY);
        while (m_path.size() < minimumLength) {
            EXPECT_EQ(::mkdirat(fd, component.c_str(), 0700), 0);
            const int next = ::openat(fd, component.c_str(), O_DIRECTORY | O_RDONLY);
            ::close(fd);
            fd = next;
            m_path += "/" + component;
            ++m_depth;
        }
        m_deepest = fd;
    }
    ~FolderChain()
    {
        // From the deepest folder up: empty it, step to its parent, remove it.
        int fd = m_deepest;
        for (size_t level = m_depth; level > 0; --level) {
            Empty(fd);
            const int parent = ::openat(fd, "..", O_DIRECTORY | O_RDONLY);
            ::close(fd);
            ::unlinkat(parent, m_component.c_str(), AT_REMOVEDIR);
            fd = parent;
        }
        ::close(fd);
    }
    FolderChain(const FolderChain&) = delete;
    FolderChain& operator=(const FolderChain&) = delete;

    const std::string& Path() const { return m_path; }
    int Deepest() const { return m_deepest; }
    size_t Depth() const { return m_depth; }

    // The "~PV" names in every folder of the chain, the base included.
    std::vector<std::string> Temporaries() const
    {
        std::vector<std::string> found;
        int fd = ::dup(m_deepest);
        for (size_t level = 0; level <= m_depth; ++level) {
            for (const std::string& name : Names(fd))
                if (name.rfind("~PV", 0) == 0)
                    found.push_back(name);
            const int parent = ::openat(fd, "..", O_DIRECTORY | O_RDONLY);
            ::close(fd);
            fd = parent;
        }
        ::close(fd);
        return found;
    }

private:
    static std::vector<std::string> Names(int folder)
    {
        std::vector<std::string> names;
        if (DIR* dir = ::fdopendir(::dup(folder))) {
            while (const dirent* e = ::readdir(dir))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            ::closedir(dir);
        }
        return names;
    }
    void Empty(int folder) const
    {
        for (const std::string& name : Names(folder))
            if (name != m_component)
                ::unlinkat(folder, name.c_str(), 0);
    }

    std::string m_component;
    std::string m_path;
    int m_deepest = -1;
    size_t m_depth = 0;
};

class DeepFolder : public ::testing::Test {
protected:
    void SetUp() override { plat::fault::UseVirtualClock(true); }
    MemoryDir m_dir;
    RegistrySandbox m_registry;
    plat::fault::Scope m_seam;
};

bool SameTime(const std::string& path, time_t seconds)
{
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 && st.st_mtim.tv_sec == seconds;
}

TEST_F(DeepFolder, WhatEveryWriterEncryptsInPlaceEveryReaderDecryptsInPlace)
{
    FolderChain chain(m_dir.Path(), std::string(60, 'f'), 300);
    const std::string document = chain.Path() + "/" + std::string(40, 'n') + ".doc";
    ASSERT_GE(chain.Path().size(), 300u);
    const Bytes plain = reference::Document(kDocumentSize, 7);
    const Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", kHeader),
                                              reference::SegmentedBody(kKey, plain));
    const std::u16string path = Wide(document);
    for (const Driver& writer : kWriters) {
        for (const Driver& reader : kReaders) {
            SCOPED_TRACE(std::string(writer.name) + " then " + reader.name);
            WriteFile(document, plain);
            const timespec times[2] = {{1'300'000'000, 0}, {1'200'000'000, 0}};
            ASSERT_EQ(::utimensat(AT_FDCWD, document.c_str(), times, 0), 0);

            ASSERT_EQ(writer.call(path, path), 1);
            EXPECT_TRUE(FileBytes(document) == container);
            EXPECT_TRUE(SameTime(document, 1'200'000'000));
            ASSERT_EQ(reader.call(path, path), 1);
            EXPECT_TRUE(FileBytes(document) == plain);
            EXPECT_EQ(chain.Temporaries(), std::vector<std::string>{});
        }
    }
    // The file readers put the container's times on a new document too.
    WriteFile(document, container);
    const timespec times[2] = {{1'300'000'000, 0}, {1'100'000'000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, document.c_str(), times, 0), 0);
    const std::string beside = document + ".txt";
    for (size_t r = 0; r < 3; ++r) {
        ASSERT_EQ(kReaders[r].call(path, Wide(beside)), 1) << kReaders[r].name;
        EXPECT_TRUE(FileBytes(beside) == plain);
        EXPECT_TRUE(SameTime(beside, 1'100'000'000));
        ::unlink(beside.c_str());
    }
}

// Past the path limit: the call cannot open what it was given, and says 0.
TEST_F(DeepFolder, PastThePathLimitEveryDriverFailsAndNothingIsLost)
{
    FolderChain chain(m_dir.Path(), std::string(200, 'p'), PATH_MAX + 100);
    ASSERT_GT(chain.Path().size(), static_cast<size_t>(PATH_MAX));
    const Bytes plain = reference::Document(kDocumentSize, 8);
    const Bytes container = reference::Concat(reference::DefaultHeader("VQPVA002", kHeader),
                                              reference::SegmentedBody(kKey, plain));
    auto put = [&](const Bytes& bytes) {
        const int fd = ::openat(chain.Deepest(), "doc", O_CREAT | O_TRUNC | O_WRONLY, 0600);
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        ::close(fd);
    };
    auto stored = [&] {
        Bytes bytes(container.size() + 10);
        const int fd = ::openat(chain.Deepest(), "doc", O_RDONLY);
        const ssize_t n = ::read(fd, bytes.data(), bytes.size());
        ::close(fd);
        bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return bytes;
    };
    const std::u16string path = Wide(chain.Path() + "/doc");
    const std::u16string beside = Wide(m_dir / "doc.out");
    for (const std::vector<Driver>* family : {&kWriters, &kReaders}) {
        const Bytes& input = family == &kWriters ? plain : container;
        for (const Driver& driver : *family) {
            for (const std::u16string* destination : {&path, &beside}) {
                SCOPED_TRACE(std::string(driver.name) + (destination == &path ? " in place" : " to a new file"));
                put(input);
                EXPECT_EQ(driver.call(path, *destination), 0);
                EXPECT_TRUE(stored() == input);
                EXPECT_EQ(chain.Temporaries(), std::vector<std::string>{});
                EXPECT_EQ(Temporaries(m_dir.Path()), std::vector<std::string>{});
                EXPECT_FALSE(Exists(m_dir / "doc.out"));
            }
        }
    }
}

}  // namespace
