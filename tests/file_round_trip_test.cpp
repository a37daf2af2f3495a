// Every header form and cipher at the sizes where the layout changes: the writers make the reference bytes and
// the readers give the document back (new, over an older file, in place), the source kept, no "~PV" left.
#include "platform/FaultInjection.h"
#include "support/DecryptionFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace decryption;
using containerfiles::FileBytes;
using readercontainers::Form;
using readercontainers::KeyArg;

namespace {

struct FormCase {
    const char* name;
    Form form;
    unsigned mode;  // 7: unknown, taken for the default
    bool deep = false;  // in a folder past 260 characters
};
const FormCase kForms[] = {{"bare", Form::Bare, 0},          {"default", Form::Default, 0},
                           {"unknown_mode", Form::Default, 7}, {"caller_magic", Form::CallerMagic, 1},
                           {"extended_R", Form::ExtendedR, 2}, {"extended_T", Form::ExtendedT, 2},
                           {"extended_A", Form::ExtendedA, 2}, {"deep_folder", Form::Default, 0, true}};

// Without a header the size check still subtracts 14: the body must be 14 bytes longer, or the document empty.
bool Writable(Form form, size_t size)
{
    const size_t t = size % 1024;
    return form != Form::Bare || size == 0 || t >= 1008 || (t >= 1 && t % 16 <= 2);
}

class FileRoundTrip : public FileDecryption, public ::testing::WithParamInterface<FormCase> {
protected:
    void SetUp() override { plat::fault::UseVirtualClock(true); }  // the destination probe's 20 ms
    plat::fault::Scope m_seam;
};

TEST_P(FileRoundTrip, WritersMakeTheSameBytesAndReadersGiveTheDocumentBack)
{
    const FormCase& c = GetParam();
    const bool outside = c.form == Form::ExtendedA || c.form == Form::ExtendedT;
    std::vector<size_t> sizes = {0, 1, 15, 16, 1007, 1008, 1016, 1023, 1024, 1025, 2040, 2048, 10256};
    if ((c.form == Form::Default && !c.deep) || outside)
        sizes.push_back((3u << 20) + 1017);
    while (c.deep && m_folder.size() < 300)
        m_folder += "/" + std::string(60, 'f');
    std::filesystem::create_directories(m_folder);
    for (size_t size : sizes) {
        SCOPED_TRACE(testing::Message() << "size " << size);
        if (c.form == Form::ExtendedA && size == 0)
            continue;  // refused: AriaRefusesAnEmptyDocument
        Bytes header = readercontainers::Header(), magic;
        if (c.form == Form::CallerMagic)
            magic = {'V', 'Q', 'P', 'V', 'A', '0', '0', '3', 0};
        else if (c.mode == 2)
            magic = reference::ExtendedPrefix(readercontainers::FormName(c.form)[9]);
        const bool bare = c.form == Form::Bare;
        char* h = bare ? nullptr : header.data();
        const int n = bare ? 0 : static_cast<int>(header.size());
        const int offset = bare ? 0 : (c.mode == 2 ? 92 : 14) + n;
        const Bytes document = readercontainers::DocumentOf(size);
        const Bytes body = reference::SegmentedBody(readercontainers::kKey, document);
        const Bytes head = c.mode == 2 ? reference::ExtendedHeader(magic, header)
                           : reference::DefaultHeader(c.form == Form::Default ? "VQPVA002" : "VQPVA003", header);
        Bytes expected = bare ? body : reference::Concat(head, body);
        if (outside) {
            if (!readercontainers::Available(c.form))
                GTEST_SKIP() << "the outside crypto library is not at hand";
            expected = readercontainers::Make(c.form, size).bytes;
            EXPECT_EQ(containerfiles::Decrypt(expected, offset), document);
        } else if (!bare && size < 20000) {
            EXPECT_EQ(containerfiles::MemoryContainer(document, h, n, c.mode, magic.data()), expected);
        }
        const bool writable = Writable(c.form, size);
        // The writers: to a new path, in place, and streaming (the default form only).
        const std::string plain = Put(document, "plain.doc");
        ASSERT_EQ(CPVCodec::DoEncryptFile(HostPath(plain).c_str(), HostPath(Path("new.pvd")).c_str(), containerfiles::Key(),
                                          h, n, nullptr, c.mode, magic.empty() ? nullptr : magic.data()),
                  writable ? 1 : 0);
        EXPECT_TRUE(Contents(plain) == document);
        EXPECT_TRUE(writable ? FileBytes(Path("new.pvd")) == expected : !Exists(Path("new.pvd")));
        const std::string inPlace = Put(document, "Report.DOC");
        ASSERT_EQ(CPVCodec::DoEncryptFile(HostPath(inPlace).c_str(), HostPath(inPlace).c_str(),
                                          containerfiles::Key(), h, n, nullptr, c.mode,
                                          magic.empty() ? nullptr : magic.data()),
                  writable ? 1 : 0);
        EXPECT_TRUE(Contents(inPlace) == (writable ? expected : document));
        if (c.mode != 1 && c.mode != 2) {
            ASSERT_EQ(CPVCodec::EncryptFile2(HostPath(plain).c_str(), HostPath(Path("streamed.pvd")).c_str(),
                                             containerfiles::Key(), h, n, nullptr),
                      writable ? 1 : 0);
            EXPECT_TRUE(writable ? FileBytes(Path("streamed.pvd")) == expected : !Exists(Path("streamed.pvd")));
            for (const std::string& temp : Temporaries())
                ::unlink(temp.c_str());  // a failed streaming call leaves its own
        }
        EXPECT_TRUE(Temporaries().empty());
        // The readers, from the expected container.
        for (const Driver& driver : {kFull, kStreaming, kForwarding}) {
            for (const char* target : {"new", "over", "in_place"}) {
                if (driver.fn == kForwarding.fn && target[0] != 'n')
                    continue;
                SCOPED_TRACE(std::string(driver.name) + " " + target);
                const std::string source = Put(expected, "doc.pvc");
                const std::string destination = target[0] == 'i' ? source : Path("doc.txt");
                if (target[0] == 'o')
                    WriteBytes(destination, "an older file in the way");
                ASSERT_EQ(Run(driver, source, destination, offset), 1);
                EXPECT_TRUE(Contents(destination) == document);
                EXPECT_TRUE(target[0] == 'i' || Contents(source) == expected);
                EXPECT_TRUE(Temporaries().empty());
                EXPECT_EQ(m_lines.back(), Prefix(driver) + "GOOD! End of the function");
                ::unlink(Path("doc.txt").c_str());
            }
        }
        for (const std::string& name : containerfiles::Entries(m_folder))
            ::unlink(Path(name).c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, FileRoundTrip, ::testing::ValuesIn(kForms),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32  // POSIX permission bits, umask and group
// What a result takes from its source through the four file drivers, in place and to a new path: times (to
// 100 ns), mode whatever the umask, group. The "~PV" file is 0600, as is a result whose times cannot be carried.
struct StatusCase {
    const char* name;
    mode_t source, umask;
    bool timesInRange;
    mode_t result;
    gid_t group = 0;  // the source's group, when not the process's own
};

struct stat StatOf(const std::string& path)
{
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st;
}

int64_t Hundreds(const timespec& t)  // what a FILETIME keeps
{
    return t.tv_sec * 10'000'000 + t.tv_nsec / 100;
}

class ResultStatus : public FileDecryption, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ResultStatus, FollowsTheSourceAndTheTemporaryFileIsTheOwners)
{
    const StatusCase& c = GetParam();
    struct Mask {
        mode_t previous;
        ~Mask() { ::umask(previous); }
    } mask{::umask(c.umask)};
    plat::fault::Scope seam;
    std::vector<mode_t> temporaryModes;
    plat::fault::SetHook([&](std::string_view point) {
        if (point == plat::hook::kTempCreated)
            for (const std::string& temporary : Temporaries())
                temporaryModes.push_back(ModeOf(temporary));
    });
    const auto& container = readercontainers::Make(readercontainers::Form::Default, 3000);
    const Bytes document = readercontainers::DocumentOf(3000);
    const timespec accessed{1'400'000'000, 987'654'300};
    const timespec written = c.timesInRange ? timespec{1'500'000'000, 123'456'700} : timespec{-86'400, 0};
    char* key = KeyArg(readercontainers::kKey);
    for (int call = 0; call < 4; ++call) {
        for (bool inPlace : {false, true}) {
            SCOPED_TRACE(testing::Message() << "call " << call << (inPlace ? " in place" : " to a new path"));
            const bool encrypts = call < 2;
            const std::string source = Put(encrypts ? document : container.bytes, "source");
            const std::string destination = inPlace ? source : Path("result");
            const timespec times[2] = {accessed, written};
            ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
            if (c.group != 0 && ::chown(source.c_str(), static_cast<uid_t>(-1), c.group) != 0)
                GTEST_SKIP() << "giving the source another group needs root";
            ASSERT_EQ(::chmod(source.c_str(), c.source), 0);
            temporaryModes.clear();
            Bytes header = readercontainers::Header();
            const HostString s = HostPath(source), d = HostPath(destination);
            const int result =
                call == 0   ? CPVCodec::EncryptFileW(s.c_str(), d.c_str(), key, header.data(), 10)
                : call == 1 ? CPVCodec::EncryptFile2(s.c_str(), d.c_str(), key, header.data(), 10, nullptr)
                : call == 2 ? CPVCodec::DecryptFileW(s.c_str(), d.c_str(), key, nullptr, container.offset)
                            : CPVCodec::DecryptFile2(s.c_str(), d.c_str(), key, nullptr, container.offset);
            ASSERT_EQ(result, 1);
            EXPECT_EQ(temporaryModes, std::vector<mode_t>{0600});
            EXPECT_EQ(ModeOf(destination), c.result);
            EXPECT_EQ(StatOf(destination).st_gid, c.group != 0 ? c.group : ::getegid());
            if (c.timesInRange) {
                EXPECT_EQ(Hundreds(StatOf(destination).st_mtim), Hundreds(written));
                // The source's access time as the call saw it, after reading.
                EXPECT_TRUE(inPlace || Hundreds(StatOf(destination).st_atim) == Hundreds(StatOf(source).st_atim));
            }
            EXPECT_TRUE(Contents(destination) == (encrypts ? container.bytes : document));
            EXPECT_TRUE(Temporaries().empty());
            for (const std::string& path : {source, destination}) {
                ::chmod(path.c_str(), 0600);
                ::unlink(path.c_str());
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    ModesAndMasks, ResultStatus,
    ::testing::Values(StatusCase{"Owner_umask022", 0600, 022, true, 0600},
                      StatusCase{"OwnerAndGroup_umask022", 0640, 022, true, 0640},
                      StatusCase{"OwnerAndGroup_umask077", 0640, 077, true, 0640},
                      StatusCase{"ReadOnly_umask022", 0444, 022, true, 0444},
                      StatusCase{"OtherGroup_umask022", 0640, 022, true, 0640, 4242},  // the source's group
                      StatusCase{"TimesOutOfRange_umask022", 0644, 022, false, 0600}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

}  // namespace

// Eight of the bundled sample letter (two full segments and a padded piece) sealed by each writer with the command's
// default header: the bytes kept in tests/data, the same on every system the library is built for.
TEST_F(FileDecryption, TheSampleSealsToTheKeptBytesOnEverySystem)
{
    const char* folder = std::getenv("PVCODEC_TEST_DATA");
    ASSERT_NE(folder, nullptr) << "PVCODEC_TEST_DATA names tests/data";
    const std::string data = folder;
    const Bytes letter = FileBytes(data + "/../../samples/letter.txt"), kept = FileBytes(data + "/letter8.pvc");
    Bytes document;
    for (int i = 0; i < 8; ++i)
        document.insert(document.end(), letter.begin(), letter.end());
    ASSERT_EQ(document.size(), 2496u);
    char header[] = "pvcodec";
    const std::string plain = Put(document, "letter8.txt");
    ASSERT_EQ(CPVCodec::DoEncryptFile(HostPath(plain).c_str(), HostPath(Path("a.pvc")).c_str(), containerfiles::Key(), header,
                                      7, nullptr, 0, nullptr), 1);
    ASSERT_EQ(CPVCodec::EncryptFile2(HostPath(plain).c_str(), HostPath(Path("b.pvc")).c_str(), containerfiles::Key(), header,
                                     7, nullptr), 1);
    EXPECT_TRUE(Contents(Path("a.pvc")) == kept);
    EXPECT_TRUE(Contents(Path("b.pvc")) == kept);
    EXPECT_TRUE(containerfiles::MemoryContainer(document, header, 7, 0, nullptr) == kept);
    EXPECT_TRUE(containerfiles::Decrypt(kept, 21) == document);
}
