#include "runtime/clock.hpp"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

namespace
{

TEST(Clock, ReadingsAreLow32BitsAndTheCacheFreezesThem)
{
    Mux::TestClock clock;
    Mux::setClock(&clock);
    // The clock in microseconds, and the two readings.
    const std::tuple<std::uint64_t, std::uint32_t, std::uint32_t> cases[] = {
        {999, 0, 999},
        {4294967295ull * 1000, 4294967295u, std::uint32_t(4294967295ull * 1000)},
        {4294967296ull * 1000 + 1500, 1, std::uint32_t(4294967296ull * 1000 + 1500)},
        {4294967296ull + 7, 4294967, 7},
    };
    for (const auto& [us, ms, usec] : cases) {
        clock.set_us(us);
        EXPECT_EQ(Mux::milliseconds(), ms) << us;
        EXPECT_EQ(Mux::microseconds(), usec) << us;
    }
    clock.set_ms(100), clock.set_wall(1000, 5);
    Mux::mux_settimeofday();
    clock.set_ms(200), clock.set_wall(2000, 6);
    Mux::timeval tv;
    EXPECT_EQ(Mux::gettimeval(tv), 0);
    EXPECT_EQ(tv.tv_sec * 1000000 + tv.tv_usec, 1000000005);
    EXPECT_EQ(Mux::milliseconds(), 100u);
    Mux::mux_cleartimeofday();
    EXPECT_EQ(Mux::milliseconds(), 200u);
    EXPECT_EQ(Mux::seconds(), 2000);
    Mux::setClock(nullptr);
}

TEST(Clock, TimersFollowTheMonotonicClock)
{
    // Bracketed by two readings of CLOCK_MONOTONIC: a wall-clock source would
    // fall outside, whatever the date.
    auto mono_ms = [] {
        timespec ts;
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return std::uint32_t(std::uint64_t(ts.tv_sec) * 1000u + std::uint64_t(ts.tv_nsec) / 1000000u);
    };
    const std::uint32_t before = mono_ms();
    const std::uint32_t reading = Mux::milliseconds();
    const std::uint32_t after = mono_ms();
    EXPECT_LE(reading - before, after - before);
}

TEST(Clock, TimevalDifferenceAndText)
{
    EXPECT_EQ(Mux::timevaldiff({1, 500000}, {2, 0}), 500);
    EXPECT_EQ(Mux::timevaldiff({1, 0}, {1, 1999}), 1);
    EXPECT_EQ(Mux::timevaldiff({2, 0}, {1, 500000}), 0);
    EXPECT_EQ(Mux::timevaldiff({5, 100}, {5, 99}), 0);

    setenv("TZ", "UTC", 1); // as the logging tests do, for the whole program
    tzset();
    EXPECT_EQ(Mux::timevaltostring({1688152800, 7}), "2023-06-30 19:20:00.000007");
    EXPECT_EQ(Mux::timevaltostring({86399, 120000}), "1970-01-01 23:59:59.120000");
}

} // namespace
