#include "platform/FileTime.h"

#include "platform/LastError.h"

#include <limits>

namespace plat {
namespace {

constexpr ULONGLONG kTicksPerDay = kFileTimeTicksPerSecond * 86'400;
constexpr LONGLONG kDaysFrom1601To1970 = 134'774;
constexpr ULONGLONG kLargestFileTime = 0x7FFF'FFFF'FFFF'FFFFull;

// Days since 1970-01-01 of a date of the proleptic Gregorian calendar. The
// calendar is counted in 400-year eras that start on 1 March, so that the
// leap day falls at the end of each counted year.
LONGLONG DaysFromCivil(LONGLONG year, unsigned month, unsigned day)
{
    year -= month <= 2 ? 1 : 0;
    const LONGLONG era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned monthFromMarch = month > 2 ? month - 3 : month + 9;
    const unsigned dayOfYear = (153 * monthFromMarch + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146'097 + static_cast<LONGLONG>(dayOfEra) - 719'468;
}

struct CivilDate {
    LONGLONG year;
    unsigned month;
    unsigned day;
};

CivilDate CivilFromDays(LONGLONG days)
{
    days += 719'468;
    const LONGLONG era = (days >= 0 ? days : days - 146'096) / 146'097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146'097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthFromMarch = (5 * dayOfYear + 2) / 153;
    const unsigned day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const unsigned month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const LONGLONG year = static_cast<LONGLONG>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
    return {year, month, day};
}

bool IsLeapYear(unsigned year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month)
{
    static constexpr unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

}  // namespace

bool TimespecToFileTime(const timespec& time, FILETIME* out)
{
    if (out == nullptr || time.tv_nsec < 0 || time.tv_nsec >= 1'000'000'000)
        return false;
    const LONGLONG seconds = static_cast<LONGLONG>(time.tv_sec);
    if (seconds < -kFileTimeEpochOffsetSeconds)
        return false;
    const auto since1601 = static_cast<ULONGLONG>(seconds + kFileTimeEpochOffsetSeconds);
    if (since1601 > (std::numeric_limits<ULONGLONG>::max() - kFileTimeTicksPerSecond) / kFileTimeTicksPerSecond)
        return false;
    *out = TicksToFileTime(since1601 * kFileTimeTicksPerSecond + static_cast<ULONGLONG>(time.tv_nsec) / 100);
    return true;
}

timespec FileTimeToTimespec(const FILETIME& time)
{
    const ULONGLONG ticks = FileTimeToTicks(time);
    timespec out{};
    out.tv_sec = static_cast<time_t>(static_cast<LONGLONG>(ticks / kFileTimeTicksPerSecond) -
                                     kFileTimeEpochOffsetSeconds);
    out.tv_nsec = static_cast<long>(ticks % kFileTimeTicksPerSecond) * 100;
    return out;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime)
{
    if (fileTime == nullptr || systemTime == nullptr || FileTimeToTicks(*fileTime) > kLargestFileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const ULONGLONG ticks = FileTimeToTicks(*fileTime);
    const auto days = static_cast<LONGLONG>(ticks / kTicksPerDay);
    const ULONGLONG inDay = ticks % kTicksPerDay;
    const LONGLONG daysSince1970 = days - kDaysFrom1601To1970;
    const CivilDate date = CivilFromDays(daysSince1970);
    systemTime->wYear = static_cast<WORD>(date.year);
    systemTime->wMonth = static_cast<WORD>(date.month);
    systemTime->wDay = static_cast<WORD>(date.day);
    // 1970-01-01 was a Thursday (4; Sunday is 0).
    systemTime->wDayOfWeek = static_cast<WORD>(((daysSince1970 % 7) + 7 + 4) % 7);
    const ULONGLONG seconds = inDay / kFileTimeTicksPerSecond;
    systemTime->wHour = static_cast<WORD>(seconds / 3600);
    systemTime->wMinute = static_cast<WORD>(seconds / 60 % 60);
    systemTime->wSecond = static_cast<WORD>(seconds % 60);
    systemTime->wMilliseconds = static_cast<WORD>(inDay % kFileTimeTicksPerSecond / 10'000);
    return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime)
{
    if (systemTime == nullptr || fileTime == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const SYSTEMTIME& t = *systemTime;
    if (t.wYear < 1601 || t.wYear > 30828 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > DaysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 || t.wSecond > 59 ||
        t.wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const LONGLONG days = DaysFromCivil(t.wYear, t.wMonth, t.wDay) + kDaysFrom1601To1970;
    const ULONGLONG ticks = static_cast<ULONGLONG>(days) * kTicksPerDay +
                            (static_cast<ULONGLONG>(t.wHour) * 3600 + t.wMinute * 60ull + t.wSecond) *
                                kFileTimeTicksPerSecond +
                            static_cast<ULONGLONG>(t.wMilliseconds) * 10'000;
    if (ticks > kLargestFileTime) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *fileTime = TicksToFileTime(ticks);
    return TRUE;
}

LONG CompareFileTime(const FILETIME* first, const FILETIME* second)
{
    const ULONGLONG a = FileTimeToTicks(*first), b = FileTimeToTicks(*second);
    return a < b ? -1 : (a > b ? 1 : 0);
}

}  // namespace plat
