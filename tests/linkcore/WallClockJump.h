// A wall clock an hour ahead of the real one, for the whole test program.
//
// Include in exactly one source file of a test program built with
// ENABLE_EXPORTS: the definitions below then replace the C library's
// clock_gettime and gettimeofday for the program and for every library it
// loads (ACE, LinkCore, the plug-ins). The time of day they give is one hour
// ahead of the clock the kernel uses for its own timed waits, which is what a
// wait sees when the clock is set back an hour just after it took its
// deadline: a wait measured on the wall clock then lasts an hour longer than
// asked, while one measured on the monotonic clock ends on time. Monotonic
// and other clocks pass through unchanged.
#pragma once

#include <sys/syscall.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace wallclockjump {
constexpr long kAheadSeconds = 3600;
}

extern "C" int clock_gettime(clockid_t id, struct timespec* ts)
{
    const int result = static_cast<int>(::syscall(SYS_clock_gettime, id, ts));
    if (result == 0 && ts != nullptr && (id == CLOCK_REALTIME || id == CLOCK_REALTIME_COARSE))
        ts->tv_sec += wallclockjump::kAheadSeconds;
    return result;
}

extern "C" int gettimeofday(struct timeval* tv, void* tz)
{
    const int result = static_cast<int>(::syscall(SYS_gettimeofday, tv, tz));
    if (result == 0 && tv != nullptr)
        tv->tv_sec += wallclockjump::kAheadSeconds;
    return result;
}

extern "C" time_t time(time_t* out)
{
    struct timespec ts;
    if (::syscall(SYS_clock_gettime, CLOCK_REALTIME, &ts) != 0)
        return static_cast<time_t>(-1);
    const time_t now = ts.tv_sec + wallclockjump::kAheadSeconds;
    if (out != nullptr)
        *out = now;
    return now;
}

namespace wallclockjump {
// True when the replacement is in force: the time of day is an hour ahead of
// the kernel's real-time clock.
inline bool InForce()
{
    struct timespec real;
    ::syscall(SYS_clock_gettime, CLOCK_REALTIME, &real);
    struct timeval seen;
    ::gettimeofday(&seen, nullptr);
    return seen.tv_sec - real.tv_sec >= kAheadSeconds - 5;
}
}  // namespace wallclockjump
