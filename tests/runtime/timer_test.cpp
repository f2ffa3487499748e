#include "runtime/timer.hpp"

#include <memory>

#include "tests/runtime/loop_fixture.hpp"

namespace
{

using looptest::LoopTest;

std::vector<std::string> gLog;
std::uint32_t gStart;

// A timer whose fire is logged as "<name>@<ms since start>" and then runs
// an optional action.
struct Owner {
    std::string name;
    std::function<void(Owner&)> action = nullptr;
    Timer timer{};
    bool running_inside = true;
    void on()
    {
        running_inside = timer.is_running();
        gLog.push_back(name + "@" + std::to_string(Mux::milliseconds() - gStart));
        if (action)
            action(*this);
    }
    void arm(unsigned ms) { timer.set(ms, &Owner::on, this); }
};

const auto stop = [](Owner&) { multiplexer.terminate(); };

class TimerTest : public LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        gLog.clear();
        gStart = Mux::milliseconds();
    }
};

TEST_F(TimerTest, FireOrderByExpiryThenArming)
{
    // The clock at the start, the timers armed in this order, the fires.
    const std::tuple<std::uint32_t, std::vector<std::pair<const char*, unsigned>>, std::vector<std::string>>
        cases[] = {
            {100000, {{"a", 5}, {"b", 0}}, {"b@0", "a@5"}},
            {100000, {{"a", 7}, {"b", 3}, {"c", 7}, {"d", 3}, {"e", 1}}, {"e@1", "b@3", "d@3", "a@7", "c@7"}},
            // Across the wrap of the 32-bit millisecond count.
            {0xFFFFFFF0u, {{"a", 40}, {"b", 5}, {"d", 20}, {"e", 20}}, {"b@5", "d@20", "e@20", "a@40"}},
            {0x7FFFFFF8u, {{"a", 40}, {"b", 5}, {"d", 20}, {"e", 20}}, {"b@5", "d@20", "e@20", "a@40"}},
        };
    for (const auto& [start_ms, arm, expected] : cases) {
        SCOPED_TRACE(start_ms);
        mClock.set_ms(start_ms);
        gLog.clear();
        gStart = start_ms;
        std::vector<std::unique_ptr<Owner>> owners;
        for (const auto& a : arm) {
            owners.emplace_back(new Owner{a.first, nullptr});
            owners.back()->arm(a.second);
        }
        Owner stopper{"stop", stop};
        stopper.arm(100);
        run();
        gLog.pop_back();
        EXPECT_EQ(gLog, expected);
    }
}

TEST_F(TimerTest, RearmingCancellingAndReplacing)
{
    struct Second {
        void on() { gLog.push_back("second"); }
    } second;
    Owner a{"a"}, b{"b"}, replaced{"first"}, cancelled{"cancelled"}, stopper{"stop", stop};
    a.arm(10);
    b.arm(10);
    a.arm(10); // same millisecond: same expiry, now behind b
    replaced.arm(10);
    replaced.timer.set(20, &Second::on, &second); // only the last callback runs
    EXPECT_EQ(multiplexer.timer_count(), 3u);
    cancelled.arm(5);
    cancelled.timer.reset();
    cancelled.timer.reset(); // idle: nothing happens
    {
        Owner gone{"gone"};
        gone.arm(5);
    }
    stopper.arm(30);
    run();
    EXPECT_EQ(gLog, (std::vector<std::string>{"b@10", "a@10", "second", "stop@30"}));
    EXPECT_FALSE(replaced.timer.is_running());
}

TEST_F(TimerTest, IdleInsideItsOwnCallbackAndRearmsForLater)
{
    int fired = 0;
    Owner a{"a", [&fired](Owner& self) {
                if (++fired == 3)
                    multiplexer.terminate();
                else
                    self.arm(10);
            }};
    a.arm(10);
    run();
    EXPECT_FALSE(a.running_inside);
    EXPECT_EQ(gLog, (std::vector<std::string>{"a@10", "a@20", "a@30"}));
    // Each fire came from its own pass: the clock skipped a wait between them.
    EXPECT_EQ(mClock.skipped_waits(), 3u);
}

TEST_F(TimerTest, ZeroPeriodArmedInACallbackFiresInTheSamePass)
{
    int left = 3;
    Owner chain{"chain", [&left](Owner& self) {
                    if (--left)
                        self.arm(0);
                    else
                        multiplexer.terminate();
                }};
    chain.arm(10);
    run();
    EXPECT_EQ(gLog, (std::vector<std::string>{"chain@10", "chain@10", "chain@10"}));
    EXPECT_EQ(mClock.skipped_waits(), 1u);
}

TEST_F(TimerTest, CallbackMayDestroyTheTimersOwnerAndCancelOthers)
{
    Owner* victim = new Owner{"victim"};
    Owner* killer = new Owner{"killer", [victim](Owner& self) {
                                  delete victim; // due in the same pass: must not fire
                                  delete &self;  // owner of the firing timer
                                  multiplexer.terminate();
                              }};
    killer->arm(10);
    victim->arm(10);
    run();
    EXPECT_EQ(gLog, (std::vector<std::string>{"killer@10"}));
}

} // namespace
