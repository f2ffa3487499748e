#pragma once
// Shared set-up of the loop tests: virtual time, and a check that every test
// leaves the global loop as it found it.
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "runtime/clock.hpp"
#include "runtime/multiplexer.hpp"
#include "tests/runtime/test_util.hpp"

namespace looptest
{

using testutil::Capture;

// Records every timeout the loop asks poll() for.
class RecordingClock : public Mux::TestClock
{
public:
    using Mux::TestClock::TestClock;
    int poll(pollfd* fds, nfds_t n, int timeout_ms) override
    {
        timeouts.push_back(timeout_ms);
        return Mux::TestClock::poll(fds, n, timeout_ms);
    }
    std::vector<int> timeouts;
};

// Timers whose callbacks run a given action, by default the stop.
struct Action {
    Timer t{};
    int fired = 0;
    std::function<void()> fn;
    void on() { ++fired, fn(); }
    void set(
        unsigned ms, std::function<void()> f = [] { multiplexer.terminate(); })
    {
        fn = std::move(f);
        t.set(ms, &Action::on, this);
    }
};

// Runs the loop on the real clock until a handler ends it; the guard timer
// only keeps a broken build from hanging.
inline void run_guarded()
{
    Action guard;
    guard.set(60000, [] {
        ADD_FAILURE() << "the loop was not stopped";
        multiplexer.terminate();
    });
    multiplexer.run(false, true);
}

class LoopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mClock.set_ms(100000);
        Mux::setClock(&mClock);
        ASSERT_EQ(multiplexer.timer_count(), 0u);
    }
    void TearDown() override
    {
        Mux::setClock(nullptr);
        EXPECT_EQ(multiplexer.timer_count(), 0u) << "a test left a timer queued";
    }
    // Runs the loop without the time cache (and by default without watchdog).
    void run(bool watchdog = false)
    {
        Capture progress(std::clog);
        multiplexer.run(watchdog, true);
    }

    RecordingClock mClock;
};

} // namespace looptest
