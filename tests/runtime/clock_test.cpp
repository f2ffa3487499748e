#include "runtime/clock.hpp"

#include <cstdlib>
#include <ctime>

#include <gtest/gtest.h>

namespace {

class ClockTest : public ::testing::Test {
protected:
    void SetUp() override { Mux::setClock(&mClock); }
    void TearDown() override {
        Mux::mux_cleartimeofday();
        Mux::setClock(nullptr);
    }
    Mux::TestClock mClock;
};

TEST_F(ClockTest, ReadingsAreLow32BitsOfTheMonotonicClock) {
    struct Case {
        std::uint64_t us;
        std::uint32_t ms;
        std::uint32_t usec;
    };
    const Case cases[] = {
        {0, 0, 0},
        {999, 0, 999},
        {1000, 1, 1000},
        {4294967295ull * 1000, 4294967295u, std::uint32_t(4294967295ull * 1000)},
        {4294967296ull * 1000, 0, std::uint32_t(4294967296ull * 1000)},
        {4294967296ull * 1000 + 1500, 1, std::uint32_t(4294967296ull * 1000 + 1500)},
        {4294967296ull + 7, 4294967, 7},
    };
    for (const Case& c : cases) {
        mClock.set_us(c.us);
        EXPECT_EQ(Mux::milliseconds(), c.ms) << c.us;
        EXPECT_EQ(Mux::microseconds(), c.usec) << c.us;
    }
}

TEST_F(ClockTest, CacheFreezesReadingsUntilCleared) {
    mClock.set_ms(100);
    mClock.set_wall(1000, 5);
    Mux::mux_settimeofday();
    mClock.set_ms(200);
    mClock.set_wall(2000, 6);
    Mux::timeval tv;
    EXPECT_EQ(Mux::gettimeval(tv), 0);
    EXPECT_EQ(tv.tv_sec, 1000);
    EXPECT_EQ(tv.tv_usec, 5);
    EXPECT_EQ(Mux::milliseconds(), 100u);
    EXPECT_FALSE(Mux::g_tv_time.is_zero());
    Mux::mux_cleartimeofday();
    EXPECT_TRUE(Mux::g_tv_time.is_zero());
    Mux::mux_gettimeofday(tv);
    EXPECT_EQ(tv.tv_sec, 2000);
    EXPECT_EQ(Mux::milliseconds(), 200u);
    EXPECT_EQ(Mux::seconds(), 2000);
}

TEST(SystemClock, TimersFollowTheMonotonicClock) {
    // Bracketed by two readings of CLOCK_MONOTONIC: a wall-clock source would
    // fall outside, whatever the date.
    auto mono_ms = [] {
        timespec ts;
        ::clock_gettime(CLOCK_MONOTONIC, &ts);
        return std::uint32_t((std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u) / 1000u);
    };
    const std::uint32_t before = mono_ms();
    const std::uint32_t reading = Mux::milliseconds();
    const std::uint32_t after = mono_ms();
    EXPECT_LE(reading - before, after - before);
}

TEST(Timevaldiff, NeverNegative) {
    struct Case {
        Mux::timeval a, b;
        std::int64_t ms;
    };
    const Case cases[] = {
        {{1, 0}, {2, 0}, 1000},
        {{1, 500000}, {2, 0}, 500},
        {{1, 0}, {1, 1999}, 1},
        {{2, 0}, {1, 500000}, 0},
        {{5, 100}, {5, 99}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(Mux::timevaldiff(c.a, c.b), c.ms);
}

TEST(Timevaltostring, LocalTimeAndSixDigitMicroseconds) {
    const char* old = std::getenv("TZ");
    std::string saved = old ? old : "";
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        Mux::timeval tv;
        const char* text;
    };
    const Case cases[] = {
        {{0, 0}, "1970-01-01 00:00:00.000000"},
        {{1688152800, 7}, "2023-06-30 19:20:00.000007"},
        {{1688152800, 999999}, "2023-06-30 19:20:00.999999"},
        {{86399, 120000}, "1970-01-01 23:59:59.120000"},
    };
    for (const Case& c : cases) EXPECT_EQ(Mux::timevaltostring(c.tv), c.text);
    if (old)
        setenv("TZ", saved.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
