#include "runtime/clock.hpp"

#include <cstdio>
#include <ctime>

namespace Mux
{

timeval g_tv_time;

namespace
{

// nullptr selects the system clocks; plain pointers and flags, so readings are
// valid from any static constructor or destructor of any file.
Clock* gClock = nullptr;

bool gCached = false;
std::uint64_t gCachedMono = 0;

std::uint64_t system_monotonic_us()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
}

std::uint64_t read_monotonic()
{
    return gClock ? gClock->monotonic_us() : system_monotonic_us();
}

void read_wall(::timeval& tv)
{
    if (gClock)
        gClock->wall(tv);
    else
        ::gettimeofday(&tv, nullptr);
}

std::uint64_t monotonic_now()
{
    return gCached ? gCachedMono : read_monotonic();
}

} // namespace

void setClock(Clock* clock)
{
    gClock = clock;
}

int TestClock::poll(pollfd* fds, nfds_t n, int timeout_ms)
{
    int r = ::poll(fds, n, 0);
    if (r != 0 || timeout_ms == 0)
        return r;
    // Nothing is ready and no timer bounds the wait: only a real descriptor
    // event can end it, so wait for real.
    if (timeout_ms < 0)
        return ::poll(fds, n, -1);
    mNow += std::uint64_t(timeout_ms) * 1000;
    ++mSkipped;
    return 0;
}

int poll_wait(pollfd* fds, nfds_t n, int timeout_ms)
{
    return gClock ? gClock->poll(fds, n, timeout_ms) : ::poll(fds, n, timeout_ms);
}

void mux_gettimeofday(timeval& tv)
{
    if (gCached)
        tv = g_tv_time;
    else
        read_wall(tv);
}

int gettimeval(timeval& tv)
{
    mux_gettimeofday(tv);
    return 0;
}

void mux_settimeofday()
{
    read_wall(g_tv_time);
    gCachedMono = read_monotonic();
    gCached = true;
}

void mux_cleartimeofday()
{
    gCached = false;
    g_tv_time = timeval();
}

std::uint32_t milliseconds()
{
    return std::uint32_t(monotonic_now() / 1000u);
}

std::uint32_t microseconds()
{
    return std::uint32_t(monotonic_now());
}

long seconds()
{
    timeval tv;
    mux_gettimeofday(tv);
    return long(tv.tv_sec);
}

timeval make_from_usec(unsigned usec)
{
    return timeval(int(usec / 1000000u), int(usec % 1000000u));
}

timeval make_from_msec(unsigned msec)
{
    return timeval(int(msec / 1000u), int((msec % 1000u) * 1000u));
}

void timevaladd(timeval& a, const timeval& b)
{
    a.tv_sec += b.tv_sec;
    a.tv_usec += b.tv_usec;
    if (a.tv_usec > 999999) {
        a.tv_sec += a.tv_usec / 1000000;
        a.tv_usec %= 1000000;
    }
}

void timevalsub(timeval& a, const timeval& b)
{
    long usec = long(a.tv_usec) - long(b.tv_usec) + 1000000;
    a.tv_sec = a.tv_sec - b.tv_sec - 1 + usec / 1000000;
    a.tv_usec = usec % 1000000;
}

void timevaladd2(const timeval& a, const timeval& b, timeval& out)
{
    out = a;
    timevaladd(out, b);
}

void timevalsub2(const timeval& a, const timeval& b, timeval& out)
{
    out = a;
    timevalsub(out, b);
}

void timevalset(timeval& tv, unsigned long long ms)
{
    tv.tv_sec = static_cast<decltype(tv.tv_sec)>(ms / 1000u);
    tv.tv_usec = static_cast<decltype(tv.tv_usec)>((ms % 1000u) * 1000u);
}

int timevalcompare(const timeval& a, const timeval& b)
{
    if (a.tv_sec != b.tv_sec)
        return a.tv_sec < b.tv_sec ? -1 : 1;
    if (a.tv_usec != b.tv_usec)
        return a.tv_usec < b.tv_usec ? -1 : 1;
    return 0;
}

std::int64_t timevaldiff(const timeval& a, const timeval& b)
{
    if (timevalcompare(b, a) < 0)
        return 0;
    return (std::int64_t(b.tv_sec) - std::int64_t(a.tv_sec)) * 1000 +
           (std::int64_t(b.tv_usec) - std::int64_t(a.tv_usec)) / 1000;
}

std::string timevaltostring(const timeval& tv)
{
    char date[64] = "";
    char out[96] = "";
    time_t sec = tv.tv_sec;
    struct tm tm;
    if (::localtime_r(&sec, &tm))
        std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &tm);
    std::snprintf(out, sizeof out, "%s.%06ld", date, long(tv.tv_usec));
    return out;
}

bool timeval_timer::is_expired(const timeval& now) const
{
    if (period < 1)
        return false;
    return timevaldiff(start, now) > period;
}

void timeval_timer::inc()
{
    timeval p;
    timevalset(p, static_cast<unsigned long long>(period));
    timevaladd(start, p);
}

} // namespace Mux
