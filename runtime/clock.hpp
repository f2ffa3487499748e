#pragma once
// The loop's time base. Timers and durations run on CLOCK_MONOTONIC, so that a
// wall-clock step (NTP setting the time at boot) neither fires every timer at
// once nor stalls them; the readings keep their 32-bit forms (milliseconds and
// microseconds modulo 2^32, compared through signed differences). Time stamps
// printed for people (mux_gettimeofday, timevaltostring) stay wall-clock.
//
// The source of both readings can be replaced (Mux::setClock) so that tests
// drive timers and the loop's waiting in virtual time, without sleeping.
#include <cstdint>
#include <poll.h>
#include <string>
#include <sys/time.h>

namespace Mux
{

struct timeval : public ::timeval {
    constexpr timeval() : ::timeval{0, 0} {}
    constexpr timeval(int sec, int usec) : ::timeval{sec, usec} {}
    bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// The per-turn cache of the wall clock; zero while not in use.
extern timeval g_tv_time;

class Clock
{
public:
    virtual ~Clock() = default;
    // Monotonic time in microseconds since an arbitrary origin.
    virtual std::uint64_t monotonic_us() = 0;
    virtual void wall(::timeval& tv) = 0;
    // The loop's only blocking call: waits for descriptors or the timeout.
    virtual int poll(pollfd* fds, nfds_t n, int timeout_ms) = 0;
};

// nullptr restores the system clock.
void setClock(Clock* clock);

// Virtual time for tests: readings change only when the test moves them or
// when the loop would wait with nothing ready, in which case the wait is
// skipped and the clock jumps forward by the timeout instead.
class TestClock : public Clock
{
public:
    explicit TestClock(std::uint64_t start_us = 0) : mNow(start_us) {}
    std::uint64_t monotonic_us() override { return mNow; }
    void wall(::timeval& tv) override { tv = mWall; }
    int poll(pollfd* fds, nfds_t n, int timeout_ms) override;

    void set_us(std::uint64_t us) { mNow = us; }
    void set_ms(std::uint32_t ms) { mNow = std::uint64_t(ms) * 1000; }
    void advance_us(std::uint64_t us) { mNow += us; }
    void advance_ms(std::uint64_t ms) { mNow += ms * 1000; }
    void set_wall(long sec, long usec)
    {
        mWall.tv_sec = sec;
        mWall.tv_usec = usec;
    }
    // Number of waits that were skipped by moving the clock.
    unsigned skipped_waits() const { return mSkipped; }

private:
    std::uint64_t mNow;
    ::timeval mWall{0, 0};
    unsigned mSkipped = 0;
};

// Called by the loop; goes to the installed clock.
int poll_wait(pollfd* fds, nfds_t n, int timeout_ms);

void mux_gettimeofday(timeval& tv);
int gettimeval(timeval& tv);
// Fills the per-turn cache (wall and monotonic readings); it sets no clock.
void mux_settimeofday();
// Empties the cache, so every reading is fresh again.
void mux_cleartimeofday();

std::uint32_t milliseconds();
std::uint32_t microseconds();
long seconds();

timeval make_from_usec(unsigned usec);
timeval make_from_msec(unsigned msec);
void timevaladd(timeval& a, const timeval& b);
void timevalsub(timeval& a, const timeval& b);
void timevaladd2(const timeval& a, const timeval& b, timeval& out);
void timevalsub2(const timeval& a, const timeval& b, timeval& out);
void timevalset(timeval& tv, unsigned long long ms);
std::int64_t timevaldiff(const timeval& a, const timeval& b);
int timevalcompare(const timeval& a, const timeval& b);
std::string timevaltostring(const timeval& tv);

struct timeval_timer {
    timeval start;
    int period = 0;

    void init(const timeval& s, int p)
    {
        start = s;
        period = p;
    }
    void init_now(const timeval& s) { start = s; }
    bool is_expired(const timeval& now) const;
    void inc();
};

} // namespace Mux
