// The few operating-system services that code outside the platform layer
// needs, written once for both systems: the stand-in libraries must not link
// the layer, and the crypto binding wipes keys. On Windows they are the
// system's calls (through the layer's one <windows.h>); elsewhere Linux's.
#pragma once

#include <cstddef>
#include <cstring>
#include <ctime>

#if defined(_WIN32)
#include "platform/win32/WinApi.h"
#else
#include <cerrno>
#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace os {

// Zeroes memory that held a key, in a way the compiler may not drop as a
// store that nothing reads.
inline void SecureZero(void* data, std::size_t size)
{
    std::memset(data, 0, size);
    __asm__ __volatile__("" : : "r"(data) : "memory");
}

// The calling thread's id as the system numbers it (what debuggers and
// process viewers show).
inline unsigned long CurrentThreadId()
{
#if defined(_WIN32)
    return ::GetCurrentThreadId();
#else
    return static_cast<unsigned long>(::syscall(SYS_gettid));
#endif
}

// The calendar fields of `time` in UTC (thread-safe, unlike std::gmtime).
inline std::tm UtcCalendar(std::time_t time)
{
    std::tm fields{};
#if defined(_WIN32)
    ::gmtime_s(&fields, &time);
#else
    ::gmtime_r(&time, &fields);
#endif
    return fields;
}

// Fills `size` bytes from the system's random-number generator
// (BCryptGenRandom, getrandom); false when it cannot.
inline bool SystemRandom(void* buffer, std::size_t size)
{
    auto* out = static_cast<unsigned char*>(buffer);
#if defined(_WIN32)
    for (std::size_t done = 0; done < size;) {
        const ULONG n = static_cast<ULONG>(size - done < 0x40000000u ? size - done : 0x40000000u);
        if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, out + done, n, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        done += n;
    }
#else
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::getrandom(out + done, size - done, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
#endif
    return true;
}

}  // namespace os
