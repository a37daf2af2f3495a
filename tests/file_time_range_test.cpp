// IsFileTimeInRange: all three times of a file must lie in 1970 to 2037.
// Only access and write times can be set (utimensat); the creation (birth)
// time of a file made now lies in range, so each case moves the other two.
#include "fileops/FileChecks.h"
#include "platform/FileTime.h"
#include "support/FileHelpers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

namespace {

constexpr time_t k1970 = 0;                        // 1970-01-01 00:00:00
constexpr time_t kLastOf1969 = -1;                 // 1969-12-31 23:59:59
constexpr time_t kLastOf2037 = 2'145'916'799;      // 2037-12-31 23:59:59
constexpr time_t kFirstOf2038 = 2'145'916'800;     // 2038-01-01 00:00:00
constexpr time_t kPast32Bit = 2'147'483'648;       // 2038-01-19 03:14:08
constexpr time_t kNow = 1'700'000'000;             // 2023

}  // namespace

struct RangeCase {
    const char* name;
    time_t access;
    time_t write;
    int expected;
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.name; }

class FileTimeInRange : public ::testing::TestWithParam<RangeCase> {};

TEST_P(FileTimeInRange, ChecksAccessAndWriteTimes)
{
    const RangeCase& c = GetParam();
    TempDir dir;
    const std::string path = dir / "f";
    WriteBytes(path, "x");
    const timespec times[2] = {{c.access, 0}, {c.write, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_EQ(IsFileTimeInRange(Wide(path).c_str()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Years, FileTimeInRange,
    ::testing::Values(RangeCase{"Now", kNow, kNow, 1}, RangeCase{"Both1970", k1970, k1970, 1},
                      RangeCase{"Both2037", kLastOf2037, kLastOf2037, 1},
                      RangeCase{"Access1969", kLastOf1969, kNow, 0}, RangeCase{"Write1969", kNow, kLastOf1969, 0},
                      RangeCase{"Access2038", kFirstOf2038, kNow, 0}, RangeCase{"Write2038", kNow, kFirstOf2038, 0},
                      RangeCase{"WritePast32BitSeconds", kNow, kPast32Bit, 0},
                      RangeCase{"WriteBefore1601", kNow, -12'000'000'000, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileTimeInRangeOf, MissingFileGivesZero)
{
    TempDir dir;
    EXPECT_EQ(IsFileTimeInRange(Wide(dir / "none").c_str()), 0);
    EXPECT_EQ(IsFileTimeInRange(nullptr), 0);
}
