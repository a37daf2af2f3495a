// What a result takes from its source, through all four file drivers, in
// place and to a new path: its times (to 100 ns), its read-only attribute,
// its permission bits whatever the process umask, and the group they grant
// to. The "~PV" file being written is its owner's alone, and a result whose
// source's times cannot be carried over (so nothing of its status is) stays
// its owner's alone.
#include "platform/FaultInjection.h"
#include "support/DecryptionFixture.h"

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace decryption;
using readercontainers::Form;

namespace {

constexpr size_t kSize = 3000;

struct StatusCase {
    const char* name;
    mode_t source;
    mode_t umask;
    bool timesInRange;
    mode_t result;
    gid_t group = 0;  // the source's group, when not the process's own
};

void PrintTo(const StatusCase& c, std::ostream* os) { *os << c.name; }

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : m_previous(::umask(mask)) {}
    ~ScopedUmask() { ::umask(m_previous); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t m_previous;
};

timespec StatTime(const std::string& path, bool access)
{
    struct stat st{};
    ::stat(path.c_str(), &st);
    timespec t = access ? st.st_atim : st.st_mtim;
    t.tv_nsec -= t.tv_nsec % 100;  // what a FILETIME keeps
    return t;
}

// Modes as they are written, so that a failure reads plainly.
std::string Octal(mode_t mode)
{
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode));
    return text;
}

gid_t GroupOf(const std::string& path)
{
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_gid;
}

bool operator==(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

struct Call {
    const char* name;
    bool encrypts;
    std::function<int(const std::u16string&, const std::u16string&, int offset)> run;
};

const Call kCalls[] = {
    {"EncryptFileW", true,
     [](const std::u16string& s, const std::u16string& d, int) {
         readercontainers::Bytes header = readercontainers::Header();
         return CPVCodec::EncryptFileW(s.c_str(), d.c_str(), readercontainers::KeyArg(readercontainers::kKey),
                                       header.data(), static_cast<int>(header.size()));
     }},
    {"EncryptFile2", true,
     [](const std::u16string& s, const std::u16string& d, int) {
         readercontainers::Bytes header = readercontainers::Header();
         return CPVCodec::EncryptFile2(s.c_str(), d.c_str(), readercontainers::KeyArg(readercontainers::kKey),
                                       header.data(), static_cast<int>(header.size()), nullptr);
     }},
    {"DecryptFileW", false,
     [](const std::u16string& s, const std::u16string& d, int offset) {
         return CPVCodec::DecryptFileW(s.c_str(), d.c_str(), readercontainers::KeyArg(readercontainers::kKey),
                                       nullptr, offset);
     }},
    {"DecryptFile2", false,
     [](const std::u16string& s, const std::u16string& d, int offset) {
         return CPVCodec::DecryptFile2(s.c_str(), d.c_str(), readercontainers::KeyArg(readercontainers::kKey),
                                       nullptr, offset);
     }},
};

class ResultStatus : public FileDecryption, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ResultStatus, FollowsTheSourceAndTheTemporaryFileIsTheOwners)
{
    const StatusCase& c = GetParam();
    const ScopedUmask umask(c.umask);
    plat::fault::Scope seam;
    std::vector<std::string> temporaryModes;
    plat::fault::SetHook([&](std::string_view point) {
        if (point == plat::hook::kTempCreated)
            for (const std::string& temporary : Temporaries())
                temporaryModes.push_back(Octal(ModeOf(temporary)));
    });
    const auto& container = readercontainers::Make(Form::Default, kSize);
    const Bytes document = readercontainers::DocumentOf(kSize);
    const timespec accessed{1'400'000'000, 987'654'300};
    const timespec written = c.timesInRange ? timespec{1'500'000'000, 123'456'700} : timespec{-86'400, 0};  // 1969

    for (const Call& call : kCalls) {
        for (bool inPlace : {false, true}) {
            SCOPED_TRACE(testing::Message() << call.name << (inPlace ? " in place" : " to a new path"));
            const std::string source = Put(call.encrypts ? document : container.bytes, "source");
            const std::string destination = inPlace ? source : Path("result");
            const timespec times[2] = {accessed, written};
            ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
            if (c.group != 0 && ::chown(source.c_str(), static_cast<uid_t>(-1), c.group) != 0)
                GTEST_SKIP() << "giving the source another group needs root";
            ASSERT_EQ(::chmod(source.c_str(), c.source), 0);
            temporaryModes.clear();

            ASSERT_EQ(call.run(Wide(source), Wide(destination), container.offset), 1);
            EXPECT_EQ(temporaryModes, std::vector<std::string>{"0600"});
            EXPECT_EQ(Octal(ModeOf(destination)), Octal(c.result));
            EXPECT_EQ(GroupOf(destination), c.group != 0 ? c.group : ::getegid());
            if (c.timesInRange) {
                EXPECT_TRUE(StatTime(destination, false) == written);
                if (!inPlace) {  // the source's access time as the call saw it, after reading
                    EXPECT_TRUE(StatTime(destination, true) == StatTime(source, true));
                }
            }
            EXPECT_TRUE(Contents(destination) == (call.encrypts ? container.bytes : document));
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
                      StatusCase{"Owner_umask077", 0600, 077, true, 0600},
                      StatusCase{"OwnerAndGroup_umask077", 0640, 077, true, 0640},
                      StatusCase{"ReadOnly_umask022", 0444, 022, true, 0444},
                      // The group permissions grant to the source's group, not the process's.
                      StatusCase{"OtherGroup_umask022", 0640, 022, true, 0640, 4242},
                      // Nothing of the status is carried over: the result stays the owner's alone.
                      StatusCase{"TimesOutOfRange_umask022", 0644, 022, false, 0600}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
