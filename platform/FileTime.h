// FILETIME, the Win32 time stamp (100-ns intervals since 1601-01-01 UTC), and
// its conversions: to and from the calendar (SYSTEMTIME, always UTC here) and
// to and from the POSIX time the operating system keeps (seconds and
// nanoseconds since 1970). Written once here; every file call uses these.
#pragma once

#include "platform/WinTypes.h"

#include <ctime>

namespace plat {

inline constexpr ULONGLONG kFileTimeTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
inline constexpr LONGLONG kFileTimeEpochOffsetSeconds = 11'644'473'600;

inline ULONGLONG FileTimeToTicks(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

inline FILETIME TicksToFileTime(ULONGLONG ticks)
{
    return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// POSIX time to FILETIME, dropping the nanoseconds below 100 (toward the
// past). False for a time before 1601 or beyond what 64 bits of ticks hold.
bool TimespecToFileTime(const timespec& time, FILETIME* out);
// FILETIME to POSIX time, exact (tv_nsec a multiple of 100).
timespec FileTimeToTimespec(const FILETIME& time);

// Calendar fields of a FILETIME in UTC. Fails (ERROR_INVALID_PARAMETER) for
// values of 0x8000000000000000 and above, as Win32 does.
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
// The reverse; wDayOfWeek is ignored. Fails for fields out of range or a
// year outside 1601 to 30828 (the last that FILETIME reaches).
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);
// -1, 0 or 1.
LONG CompareFileTime(const FILETIME* first, const FILETIME* second);

}  // namespace plat
