// Share modes: two opens of one file that conflict, in this process or in
// two processes, give a sharing violation; an open file cannot be deleted
// or renamed; a refused open changes nothing.
#include "platform/File.h"
#include "platform/FileApi.h"
#include "platform/LastError.h"
#include "platform/Stdio.h"
#include "support/ChildProcess.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using namespace plat;

namespace {

constexpr UINT kRead = CFile::modeRead, kWrite = CFile::modeWrite, kReadWrite = CFile::modeReadWrite;
constexpr UINT kDenyNone = CFile::shareDenyNone, kDenyRead = CFile::shareDenyRead,
               kDenyWrite = CFile::shareDenyWrite, kExclusive = CFile::shareExclusive;

// The cause with which opening `path` with `flags` fails, or none (0).
int OpenCause(const std::u16string& path, UINT flags)
{
    CFile file;
    CFileException error;
    return file.Open(path.c_str(), flags, &error) ? CFileException::none : error.m_cause;
}

}  // namespace

struct SharePair {
    const char* name;
    UINT first;
    UINT second;
    bool conflict;
};

void PrintTo(const SharePair& c, std::ostream* os) { *os << c.name; }

class ShareModes : public ::testing::TestWithParam<SharePair> {};

TEST_P(ShareModes, SecondOpenMeetsTheFirst)
{
    const SharePair& c = GetParam();
    TempDir dir;
    WriteBytes(dir / "f", "content");
    const std::u16string path = Wide(dir / "f");
    {
        CFile first(path.c_str(), c.first);
        EXPECT_EQ(OpenCause(path, c.second), c.conflict ? CFileException::sharingViolation : CFileException::none);
        if (c.conflict) {
            EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        }
    }
    EXPECT_EQ(ReadBytes(dir / "f"), "content") << "a refused open changes nothing";
    EXPECT_EQ(OpenCause(path, c.second), CFileException::none);  // the first open's locks went with it
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, ShareModes,
    ::testing::Values(SharePair{"ReadersSharingAll", kRead | kDenyNone, kRead | kDenyNone, false},
                      SharePair{"ReadersDenyingWrite", kRead | kDenyWrite, kRead | kDenyWrite, false},
                      SharePair{"WriterAfterDenyWrite", kRead | kDenyWrite, kWrite | kDenyNone, true},
                      SharePair{"DenyWriteAfterWriter", kWrite | kDenyNone, kRead | kDenyWrite, true},
                      SharePair{"ReaderAfterDenyRead", kRead | kDenyRead, kRead | kDenyNone, true},
                      SharePair{"DenyReadAfterReader", kRead | kDenyNone, kRead | kDenyRead, true},
                      SharePair{"ReaderAfterExclusive", kWrite | kExclusive, kRead | kDenyNone, true},
                      SharePair{"ExclusiveAfterReader", kRead | kDenyNone, kWrite | kExclusive, true},
                      SharePair{"CompatIsExclusive", kRead | CFile::shareCompat, kRead | kDenyNone, true},
                      SharePair{"WritersDenyingReadOnly", kWrite | kDenyRead, kWrite | kDenyRead, false},
                      SharePair{"ReadWritersSharingAll", kReadWrite | kDenyNone, kReadWrite | kDenyNone, false},
                      SharePair{"ReplaceAfterDenyWrite", kRead | kDenyWrite, CFile::modeCreate | kWrite | kDenyNone,
                                true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ShareMode, DestinationProbeMeetsOpenFiles)
{
    TempDir dir;
    WriteBytes(dir / "f", "content");
    const std::u16string path = Wide(dir / "f");
    const auto probe = [&] {
        HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return GetLastError();
        EXPECT_TRUE(CloseHandle(h));
        return DWORD{0};
    };
    EXPECT_EQ(probe(), 0u);
    {
        CFile reader(path.c_str(), kRead | kDenyNone);
        EXPECT_EQ(probe(), 0u);
    }
    {
        CFile reader(path.c_str(), kRead | kDenyWrite);
        EXPECT_EQ(probe(), ERROR_SHARING_VIOLATION);
    }
    {
        CFile writer(path.c_str(), kWrite | kDenyNone);  // the probe lets others read only
        EXPECT_EQ(probe(), ERROR_SHARING_VIOLATION);
    }
    EXPECT_EQ(ReadBytes(dir / "f"), "content");
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(0x1234)));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(ShareMode, OpenFileIsNeitherDeletedNorRenamed)
{
    TempDir dir;
    WriteBytes(dir / "f", "content");
    const std::u16string path = Wide(dir / "f"), other = Wide(dir / "g");
    {
        CFile reader(path.c_str(), kRead | kDenyNone);
        EXPECT_FALSE(DeleteFileW(path.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        EXPECT_FALSE(MoveFileW(path.c_str(), other.c_str()));
        EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
        try {
            CFile::Remove(path.c_str());
            FAIL() << "removed";
        } catch (const CFileException& e) {
            EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
        }
    }
    EXPECT_TRUE(MoveFileW(path.c_str(), other.c_str()));
    EXPECT_TRUE(DeleteFileW(other.c_str()));
}

TEST(ShareMode, RuntimeStreamSharesReadingAndWriting)
{
    TempDir dir;
    WriteBytes(dir / "f", "content");
    const std::u16string path = Wide(dir / "f");
    FILE* stream = plat::_wfopen(path.c_str(), u"rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(OpenCause(path, kRead | kDenyWrite), CFileException::none);
    EXPECT_EQ(OpenCause(path, kWrite | kDenyNone), CFileException::none);
    EXPECT_EQ(OpenCause(path, kRead | kDenyRead), CFileException::sharingViolation);
    plat::fclose(stream);
    CFile exclusive(path.c_str(), kRead | kExclusive);
    EXPECT_EQ(plat::_wfopen(path.c_str(), u"rb"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
}

TEST(ShareMode, HoldsBetweenProcesses)
{
    TempDir dir;
    WriteBytes(dir / "f", "content");
    const std::u16string path = Wide(dir / "f");
    // Another process reads the file and lets nobody write it meanwhile.
    ChildProcess child([&](ChildProcess& self) {
        CFile reader(path.c_str(), kRead | kDenyWrite);
        self.SignalParent();
        self.WaitForParent();
        return 0;
    });
    ASSERT_TRUE(child.WaitForChild());
    EXPECT_EQ(OpenCause(path, kWrite | kDenyNone), CFileException::sharingViolation);
    EXPECT_EQ(OpenCause(path, kRead | kDenyNone), CFileException::none);
    EXPECT_EQ(OpenCause(path, kRead | kDenyWrite), CFileException::none);
    EXPECT_FALSE(DeleteFileW(path.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    child.ReleaseChild();
    EXPECT_EQ(child.Join(), 0);
    // The locks end with the process.
    EXPECT_EQ(OpenCause(path, kWrite | kExclusive), CFileException::none);
}

TEST(ShareMode, OtherProcessMeetsThisOne)
{
    TempDir dir;
    WriteBytes(dir / "f", "content");
    const std::u16string path = Wide(dir / "f");
    CFile exclusive(path.c_str(), kReadWrite | kExclusive);
    ChildProcess child([&](ChildProcess&) { return OpenCause(path, kRead | kDenyNone); });
    EXPECT_EQ(child.Join(), CFileException::sharingViolation);
    exclusive.Close();
    ChildProcess later([&](ChildProcess&) { return OpenCause(path, kRead | kDenyNone); });
    EXPECT_EQ(later.Join(), CFileException::none);
}
