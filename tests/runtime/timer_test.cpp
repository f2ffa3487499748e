#include "runtime/timer.hpp"

#include <memory>
#include <string>
#include <vector>

#include "tests/runtime/loop_fixture.hpp"

namespace {

using looptest::LoopTest;

// Each fire is logged as "<name>@<ms since start>".
struct Log {
    std::uint32_t start;
    std::vector<std::string> entries;
    void add(const std::string& name) {
        entries.push_back(name + "@" + std::to_string(Mux::milliseconds() - start));
    }
};

struct Owner {
    Log* log;
    std::string name;
    Timer timer{};
    unsigned stop_after = 0; // terminate the loop at this fire
    unsigned fired = 0;
    unsigned rearm = 0;      // period to re-arm with, 0: none
    bool was_running_inside = true;

    void on() {
        was_running_inside = timer.is_running();
        log->add(name);
        ++fired;
        if (fired == stop_after) multiplexer.terminate();
    }
    void on_timer(Timer* t) {
        was_running_inside = t->is_running();
        log->add(name);
        ++fired;
        if (rearm && fired < stop_after) t->set(rearm, &Owner::on_timer, this);
        if (fired == stop_after) multiplexer.terminate();
    }
};

class TimerTest : public LoopTest {
protected:
    void SetUp() override {
        LoopTest::SetUp();
        log.start = Mux::milliseconds();
    }
    Log log;
};

TEST_F(TimerTest, FireOrder) {
    struct Case {
        const char* what;
        std::vector<std::pair<const char*, unsigned>> arm; // armed in this order
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"by expiry", {{"a", 30}, {"b", 10}, {"c", 20}}, {"b@10", "c@20", "a@30"}},
        {"equal expiries in arming order", {{"a", 10}, {"b", 10}, {"c", 10}}, {"a@10", "b@10", "c@10"}},
        {"zero period fires at the next pass", {{"a", 5}, {"b", 0}}, {"b@0", "a@5"}},
        {"mixed", {{"a", 7}, {"b", 3}, {"c", 7}, {"d", 3}, {"e", 1}}, {"e@1", "b@3", "d@3", "a@7", "c@7"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log.entries.clear();
        log.start = Mux::milliseconds();
        std::vector<std::unique_ptr<Owner>> owners;
        for (const auto& a : c.arm) {
            owners.emplace_back(new Owner{&log, a.first});
            owners.back()->timer.set(a.second, &Owner::on, owners.back().get());
        }
        // Stop once every timer has fired.
        Owner stopper{&log, "stop"};
        stopper.stop_after = 1;
        stopper.timer.set(100, &Owner::on, &stopper);
        run();
        log.entries.pop_back();
        EXPECT_EQ(log.entries, c.expected);
    }
}

TEST_F(TimerTest, OrderHoldsAcrossTheMillisecondWrap) {
    struct Case {
        std::uint32_t start_ms;
    };
    const Case cases[] = {{0xFFFFFFF0u}, {0xFFFFFFFFu}, {0x7FFFFFF8u}, {0u}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start_ms);
        mClock.set_ms(c.start_ms);
        log.entries.clear();
        log.start = Mux::milliseconds();
        Owner a{&log, "a"}, b{&log, "b"}, d{&log, "d"}, e{&log, "e"};
        a.timer.set(40, &Owner::on, &a);
        b.timer.set(5, &Owner::on, &b);
        d.timer.set(20, &Owner::on, &d);
        e.timer.set(20, &Owner::on, &e);
        a.stop_after = 1;
        run();
        EXPECT_EQ(log.entries, (std::vector<std::string>{"b@5", "d@20", "e@20", "a@40"}));
    }
}

TEST_F(TimerTest, RearmingMovesBehindEqualExpiries) {
    Owner a{&log, "a"}, b{&log, "b"}, stop{&log, "stop"};
    a.timer.set(10, &Owner::on, &a);
    b.timer.set(10, &Owner::on, &b);
    a.timer.set(10, &Owner::on, &a); // same millisecond: same expiry, now behind b
    stop.stop_after = 1;
    stop.timer.set(10, &Owner::on, &stop);
    run();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"b@10", "a@10", "stop@10"}));
    EXPECT_EQ(a.fired, 1u);
}

TEST_F(TimerTest, OnlyTheLastArmedCallbackRuns) {
    struct Second {
        Log* log;
        void on() { log->add("second"); }
    } second{&log};
    Owner a{&log, "first"};
    a.timer.set(10, &Owner::on, &a);
    a.timer.set(20, &Second::on, &second);
    EXPECT_TRUE(a.timer.is_running());
    EXPECT_EQ(multiplexer.timer_count(), 1u);
    Owner stop{&log, "stop"};
    stop.stop_after = 1;
    stop.timer.set(30, &Owner::on, &stop);
    run();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"second@20", "stop@30"}));
    EXPECT_FALSE(a.timer.is_running());
}

TEST_F(TimerTest, ResetAndDestructionCancel) {
    Owner a{&log, "a"};
    a.timer.reset(); // idle: nothing happens
    EXPECT_FALSE(a.timer.is_running());
    a.timer.set(10, &Owner::on, &a);
    a.timer.reset();
    EXPECT_FALSE(a.timer.is_running());
    EXPECT_EQ(multiplexer.timer_count(), 0u);
    {
        Owner gone{&log, "gone"};
        gone.timer.set(10, &Owner::on, &gone);
        EXPECT_EQ(multiplexer.timer_count(), 1u);
    }
    EXPECT_EQ(multiplexer.timer_count(), 0u);
    Owner stop{&log, "stop"};
    stop.stop_after = 1;
    stop.timer.set(20, &Owner::on, &stop);
    run();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"stop@20"}));
}

TEST_F(TimerTest, IdleInsideItsOwnCallbackAndRearmsForLater) {
    Owner a{&log, "a"};
    a.rearm = 10;
    a.stop_after = 3;
    a.timer.set(10, &Owner::on_timer, &a);
    run();
    EXPECT_FALSE(a.was_running_inside);
    EXPECT_EQ(log.entries, (std::vector<std::string>{"a@10", "a@20", "a@30"}));
    // Each fire came from its own pass: the clock skipped a wait between them.
    EXPECT_EQ(mClock.skipped_waits(), 3u);
}

TEST_F(TimerTest, ZeroPeriodArmedInACallbackFiresInTheSamePass) {
    Owner a{&log, "a"};
    a.rearm = 0;
    struct Chain {
        Owner* owner;
        Log* log;
        Timer t{};
        int left = 3;
        void on() {
            log->add("chain");
            if (--left) t.set(0, &Chain::on, this);
            else multiplexer.terminate();
        }
    } chain{&a, &log};
    chain.t.set(10, &Chain::on, &chain);
    run();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"chain@10", "chain@10", "chain@10"}));
    EXPECT_EQ(mClock.skipped_waits(), 1u);
}

TEST_F(TimerTest, CallbackMayDestroyTheTimersOwnerAndCancelOthers) {
    struct Victim {
        Log* log;
        Timer timer{};
        void on() { log->add("victim"); }
    };
    struct Killer {
        Log* log;
        Timer timer{};
        Victim* victim;
        Killer** self;
        void on() {
            log->add("killer");
            *self = nullptr;
            delete victim; // due in the same pass: must not fire
            delete this;   // owner of the firing timer
            multiplexer.terminate();
        }
    };
    Victim* v = new Victim{&log};
    Killer* k = new Killer{&log, {}, v, nullptr};
    k->self = &k;
    k->timer.set(10, &Killer::on, k);
    v->timer.set(10, &Victim::on, v);
    run();
    EXPECT_EQ(k, nullptr);
    EXPECT_EQ(log.entries, (std::vector<std::string>{"killer@10"}));
}

struct Refresh {
    Log* log;
    void tick() { log->add("refresh"); multiplexer.terminate(); }
    static const TimerSpec<Refresh>::Record TUpdatespec;
};
const TimerSpec<Refresh>::Record Refresh::TUpdatespec = {&Refresh::tick, 25};

TEST_F(TimerTest, SpecTimerUsesItsClassRecord) {
    Refresh r{&log};
    TimerSpec<Refresh>::SpecTimer<&Refresh::TUpdatespec> t;
    t.set(&r);
    run();
    EXPECT_EQ(log.entries, (std::vector<std::string>{"refresh@25"}));
}

} // namespace
