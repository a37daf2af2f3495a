// Past 260 characters every writer and reader works in place and beside, times carried, no "~PV" left.
#include "PVCodec.h"
#include "platform/FaultInjection.h"
#include "support/ContainerFiles.h"
#include "support/ReferenceContainer.h"
#include "support/RegistrySandbox.h"
#include "support/TempDir.h"

#include <fcntl.h>
#include <filesystem>
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
    std::string folder = m_dir.Path();
    while (folder.size() < 300)
        folder += "/" + std::string(60, 'f');
    std::filesystem::create_directories(folder);
    const std::string document = folder + "/" + std::string(40, 'n') + ".doc", beside = document + ".out";
    const auto temporaries = [&] {
        size_t found = 0;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.Path()))
            found += entry.path().filename().string().rfind("~PV", 0) == 0;
        return found;
    };
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
            EXPECT_EQ(temporaries(), 0u);
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

}  // namespace
