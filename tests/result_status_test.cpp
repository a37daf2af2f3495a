// What a result takes from its source through the four file drivers, in place and to a new path: times (to
// 100 ns), mode whatever the umask, group. The "~PV" file is 0600, as is a result whose times cannot be carried.
#include "platform/FaultInjection.h"
#include "support/DecryptionFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace decryption;
using readercontainers::KeyArg;

namespace {

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
            const std::u16string s = Wide(source), d = Wide(destination);
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

}  // namespace
