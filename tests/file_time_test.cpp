// FILETIME: the calendar at its edges (1601, 1970, 2038, the largest value)
// and the exact conversion to and from the operating system's time.
#include "platform/FileTime.h"
#include "platform/LastError.h"

#include <gtest/gtest.h>

using namespace plat;

struct CalendarCase {
    const char* name;
    ULONGLONG ticks;
    SYSTEMTIME calendar;  // wYear, wMonth, wDayOfWeek, wDay, wHour, wMinute, wSecond, wMilliseconds
};

void PrintTo(const CalendarCase& c, std::ostream* os) { *os << c.name; }

class FileTimeCalendar : public ::testing::TestWithParam<CalendarCase> {};

TEST_P(FileTimeCalendar, ConvertsBothWays)
{
    const CalendarCase& c = GetParam();
    const FILETIME time = TicksToFileTime(c.ticks);
    SYSTEMTIME calendar{};
    ASSERT_TRUE(FileTimeToSystemTime(&time, &calendar));
    EXPECT_EQ(calendar.wYear, c.calendar.wYear);
    EXPECT_EQ(calendar.wMonth, c.calendar.wMonth);
    EXPECT_EQ(calendar.wDayOfWeek, c.calendar.wDayOfWeek);
    EXPECT_EQ(calendar.wDay, c.calendar.wDay);
    EXPECT_EQ(calendar.wHour, c.calendar.wHour);
    EXPECT_EQ(calendar.wMinute, c.calendar.wMinute);
    EXPECT_EQ(calendar.wSecond, c.calendar.wSecond);
    EXPECT_EQ(calendar.wMilliseconds, c.calendar.wMilliseconds);

    FILETIME back{};
    ASSERT_TRUE(SystemTimeToFileTime(&c.calendar, &back));
    // The calendar holds milliseconds: what lies below them is dropped.
    EXPECT_EQ(FileTimeToTicks(back), c.ticks - c.ticks % 10'000);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, FileTimeCalendar,
    ::testing::Values(
        CalendarCase{"Origin1601", 0, {1601, 1, 1, 1, 0, 0, 0, 0}},
        CalendarCase{"LastTickOf1601Day", 863'999'999'999, {1601, 1, 1, 1, 23, 59, 59, 999}},
        CalendarCase{"UnixEpoch", 116'444'736'000'000'000, {1970, 1, 4, 1, 0, 0, 0, 0}},
        CalendarCase{"LastSecondOf1969", 116'444'735'990'000'000, {1969, 12, 3, 31, 23, 59, 59, 0}},
        CalendarCase{"LastMillisecondOf2037", 137'903'903'999'990'000, {2037, 12, 4, 31, 23, 59, 59, 999}},
        CalendarCase{"Overflow32BitSeconds2038", 137'919'572'480'000'000, {2038, 1, 2, 19, 3, 14, 8, 0}},
        CalendarCase{"LeapDay2000", 125'962'560'000'000'000, {2000, 2, 2, 29, 0, 0, 0, 0}},
        CalendarCase{"LargestValue", 0x7FFF'FFFF'FFFF'FFFFull, {30828, 9, 4, 14, 2, 48, 5, 477}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FileTime, ValuesWithTheTopBitSetFail)
{
    const FILETIME time = TicksToFileTime(0x8000'0000'0000'0000ull);
    SYSTEMTIME calendar{};
    SetLastError(0);
    EXPECT_FALSE(FileTimeToSystemTime(&time, &calendar));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(FileTime, CalendarFieldsOutOfRangeFail)
{
    FILETIME out{};
    for (SYSTEMTIME bad : {SYSTEMTIME{1600, 12, 0, 31, 0, 0, 0, 0}, SYSTEMTIME{1900, 2, 0, 29, 0, 0, 0, 0},
                           SYSTEMTIME{2001, 13, 0, 1, 0, 0, 0, 0}, SYSTEMTIME{2001, 4, 0, 31, 0, 0, 0, 0},
                           SYSTEMTIME{2001, 1, 0, 1, 24, 0, 0, 0}, SYSTEMTIME{2001, 1, 0, 1, 0, 0, 0, 1000}})
        EXPECT_FALSE(SystemTimeToFileTime(&bad, &out)) << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;
}

struct PosixCase {
    const char* name;
    timespec posix;
    bool representable;
    ULONGLONG ticks;
    long nanosecondsBack;  // tv_nsec after the round trip
};

void PrintTo(const PosixCase& c, std::ostream* os) { *os << c.name; }

class FileTimePosix : public ::testing::TestWithParam<PosixCase> {};

TEST_P(FileTimePosix, IsExactTo100Nanoseconds)
{
    const PosixCase& c = GetParam();
    FILETIME time{};
    ASSERT_EQ(TimespecToFileTime(c.posix, &time), c.representable);
    if (!c.representable)
        return;
    EXPECT_EQ(FileTimeToTicks(time), c.ticks);
    const timespec back = FileTimeToTimespec(time);
    EXPECT_EQ(back.tv_sec, c.posix.tv_sec);
    EXPECT_EQ(back.tv_nsec, c.nanosecondsBack);
}

INSTANTIATE_TEST_SUITE_P(
    Edges, FileTimePosix,
    ::testing::Values(PosixCase{"UnixEpoch", {0, 0}, true, 116'444'736'000'000'000, 0},
                      PosixCase{"LastNanosecondOf1969", {-1, 999'999'999}, true, 116'444'735'999'999'999, 999'999'900},
                      PosixCase{"Origin1601", {-11'644'473'600, 0}, true, 0, 0},
                      PosixCase{"Before1601", {-11'644'473'601, 999'999'999}, false, 0, 0},
                      PosixCase{"Year2038", {2'147'483'648, 123'456'789}, true, 137'919'572'481'234'567, 123'456'700},
                      PosixCase{"BadNanoseconds", {0, 1'000'000'000}, false, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });
