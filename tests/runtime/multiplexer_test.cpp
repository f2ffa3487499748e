#include "runtime/multiplexer.hpp"

#include <cerrno>

#include "runtime/profile.hpp"
#include "tests/runtime/loop_fixture.hpp"

namespace
{

using namespace looptest;

struct Deferred {
    Dpc dpc;
    std::function<void(Deferred&)> fn;
    void on() { fn(*this); }
    explicit Deferred(std::function<void(Deferred&)> f) : fn(std::move(f)) { dpc.Bind(this, &Deferred::on); }
};

// A private root whose watchdog device is missing, a plain file, a device
// that refuses every write, or a FIFO.
enum class Device { none, file, full, fifo };

struct Root : testutil::TempDir {
    explicit Root(Device device)
    {
        mkdirs("dev/misc");
        if (device == Device::file)
            write("dev/misc/gw-wd", "");
        EXPECT_EQ(0, device == Device::full   ? ::symlink("/dev/full", path().c_str())
                     : device == Device::fifo ? ::mkfifo(path().c_str(), 0600)
                                              : 0);
    }
    std::string path() const { return *this / "dev/misc/gw-wd"; }
    std::string watchdog() const { return testutil::read_file(path()); }
};

class MultiplexerTest : public LoopTest
{
protected:
    // The timeouts of one run's polls.
    std::vector<int> run_timeouts(bool watchdog = false)
    {
        mClock.timeouts.clear();
        run(watchdog);
        return mClock.timeouts;
    }
};

volatile std::sig_atomic_t gFlag = 0;
void on_usr1(int)
{
    gFlag = 1;
    multiplexer.wake();
}

TEST_F(MultiplexerTest, SignalJustBeforePollWakesTheLoop)
{
    ASSERT_NE(std::signal(SIGUSR1, on_usr1), SIG_ERR);
    gFlag = 0;
    // Checks the flag like the start-up's signal check; raises the signal
    // in the pass right before poll(), after the flag was last looked at.
    int passes = 0;
    Deferred check([&](Deferred&) {
        if (gFlag)
            multiplexer.terminate();
        else if (++passes == 2)
            ::raise(SIGUSR1);
    });
    check.dpc.Activate();
    Action guard;
    guard.set(60000);
    run();
    std::signal(SIGUSR1, SIG_DFL);
    EXPECT_EQ(mClock.skipped_waits(), 0u) << "the loop slept through the signal";
}

TEST_F(MultiplexerTest, PollTimeouts)
{
    {
        // The first timer bounds the wait.
        Action stop, later;
        stop.set(250);
        later.set(900, [] {});
        EXPECT_EQ(run_timeouts(), (std::vector<int>{250, 0}));
    }
    {
        // A timer armed by a deferred call of the timer pass and already due gives 0.
        Action first, zero;
        Deferred arm([&zero](Deferred& self) { self.dpc.Deactivate(), zero.set(0); });
        first.set(50, [&arm] { arm.dpc.Activate(); });
        EXPECT_EQ(run_timeouts(), (std::vector<int>{50, 0, 0}));
    }
    {
        // A timer armed by the deferred call before poll bounds that poll.
        Action far, bound;
        Deferred arm([&bound, n = 0](Deferred& self) mutable {
            if (++n == 2)
                self.dpc.Deactivate(), bound.set(30);
        });
        arm.dpc.Activate();
        far.set(5000, [] {});
        EXPECT_EQ(run_timeouts(), (std::vector<int>{30, 0}));
    }
    {
        // A stop asked for by the deferred call before poll does not wait.
        Action far;
        far.set(5000, [] {});
        Deferred stop([n = 0](Deferred&) mutable {
            if (++n == 2)
                multiplexer.terminate();
        });
        stop.dpc.Activate();
        EXPECT_EQ(run_timeouts(), (std::vector<int>{0}));
    }
}

TEST_F(MultiplexerTest, InterruptedPollEndsTheTurnOnly)
{
    struct Interrupting : RecordingClock {
        int left = 2;
        int poll(pollfd* fds, nfds_t n, int timeout) override
        {
            if (left-- <= 0)
                return RecordingClock::poll(fds, n, timeout);
            timeouts.push_back(timeout);
            errno = EINTR;
            return -1;
        }
    } clock;
    clock.set_ms(5000);
    Mux::setClock(&clock);
    Action stop;
    stop.set(100);
    run();
    Mux::setClock(&mClock);
    EXPECT_EQ(stop.fired, 1);
    EXPECT_EQ(clock.timeouts, (std::vector<int>{100, 100, 100, 0}));
}

TEST_F(MultiplexerTest, ClockJumpRearmsEveryTimer)
{
    std::vector<std::string> fired;
    Action a, b, jump;
    a.set(100, [&] { fired.push_back("a@" + std::to_string(Mux::milliseconds())); });
    b.set(200, [&] {
        fired.push_back("b@" + std::to_string(Mux::milliseconds()));
        multiplexer.terminate();
    });
    // 100000 ms now; the timers expire at 100100 and 100200. Three hours back;
    // the next pass reads the clock after a wait of 90 ms.
    jump.set(10, [this] { mClock.set_ms(100010u - 10800000u); });
    Capture err(std::cerr);
    run();
    const std::uint32_t now = 100100u - 10800000u;
    EXPECT_EQ(err.text(), "******** RUNTIME ERROR CONDITION *************"
                          "Multiplexer::timers_schedule() invalid wait time detected!\n"
                          "now = " +
                              std::to_string(now) + "\nfirst = 100100\ncount = 2\n");
    EXPECT_EQ(fired, (std::vector<std::string>{"a@" + std::to_string(now + 1000),
                                               "b@" + std::to_string(now + 1000)}));
}

TEST_F(MultiplexerTest, StatusDumpLayout)
{
    testutil::Pipe p1, p2;
    Event ctl, cas;
    ctl.Bind<Event>("Control::AcceptorNet", nullptr, &ctl); // bound, though to no action
    ctl.Schedule(p1.r, POLLIN | POLLPRI);
    ctl.measure().sample(12);
    ctl.measure().sample(30);
    cas.Schedule(p2.r, POLLOUT); // never ready; no handler bound, default name
    std::string text, measures;
    Action dump;
    dump.set(1, [&] {
        std::ostringstream m;
        m << "dpc transition measurement (min/max/cur/counter): " << multiplexer.dpc_measure() << "\n"
          << "event transition measurement (min/max/cur/counter): " << multiplexer.event_measure() << "\n"
          << "timer transition measurement (min/max/cur/counter): " << multiplexer.timer_measure() << "\n";
        Profile::dump(m);
        measures = m.str();
        std::ostringstream os;
        multiplexer.dump(os);
        text = os.str();
        multiplexer.terminate();
    });
    run();
    auto fd_cell = [](int fd) {
        return fd < 10 ? "  " + std::to_string(fd) + "  " : " " + std::to_string(fd) + "  ";
    };
    const std::string delim =
        "+----------------------------------------+------------------------------+----------+"
        "----------+-----+------------------------------------------------------------+\n";
    const std::string expected =
        measures + delim +
        "|                  name                  |            events            |  count   | handler  "
        "| fd  |                          measure                           |\n" +
        delim +
        "|          Control::AcceptorNet          |        POLLIN|POLLPRI        |    0     | attached "
        "|" +
        fd_cell(ctl.lowlevel_fd()) +
        "|               min=12 max=30 avg=30 counter=2               |\n"
        "|                Unknown                 |           POLLOUT            |    0     |unattached"
        "|" +
        fd_cell(cas.lowlevel_fd()) + "|                min=0 max=0 avg=0 counter=0                 |\n" +
        delim + "\n";
    ASSERT_LT(std::max(ctl.lowlevel_fd(), cas.lowlevel_fd()), 100);
    EXPECT_EQ(text, expected);
}

TEST(PollEventAsText, NamesBitsInFixedOrder)
{
    EXPECT_EQ(PollEventAsText(0), "");
    EXPECT_EQ(PollEventAsText(0x7ff), "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|"
                                      "POLLWRNORM|POLLWRBAND|POLLMSG");
    EXPECT_EQ(PollEventAsText(short(0x8401)), "POLLIN|POLLMSG");
}

TEST_F(MultiplexerTest, WatchdogCapsTheWaitAndSurvivesTheClockGoingBack)
{
    Root root(Device::file);
    Action back, stop;
    back.set(1500, [this] { mClock.set_ms(98000); });
    stop.set(3000, [] { multiplexer.terminate(); });
    // Polls end at 101000 (ping), 101500, 99000 (clock went back: ping), then
    // 100000, 101000, 102000 and 103000, each a second after the last ping.
    EXPECT_EQ(run_timeouts(true), (std::vector<int>{1000, 500, 1000, 1000, 1000, 1000, 1000, 0}));
    EXPECT_EQ(root.watchdog(), "STARTPINGPINGPINGPINGPINGPINGSTOP");
}

// A callback that blocks the loop feeds the watchdog through the loop's own
// ping: one clock and one last ping for both, so a ping within the second
// after the loop's is skipped however often it is asked for.
TEST_F(MultiplexerTest, CallbacksFeedTheWatchdogOnTheLoopsOwnClock)
{
    const struct Case {
        const char* what;
        std::int64_t shift_ms; // the clock's move before the callback's pings
        const char* watchdog;
    } cases[] = {
        {"same millisecond as the loop's ping", 0, "STARTPINGSTOP"},
        {"999 ms after it", 999, "STARTPINGSTOP"},
        {"a second after it: one ping for three asks", 1000, "STARTPINGPINGSTOP"},
        {"clock went back", -1, "STARTPINGPINGSTOP"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Root root(Device::file);
        // The loop pings after its first poll, which ends when the timer is due.
        Action blocking;
        blocking.set(500, [&] {
            mClock.set_us(std::uint64_t(std::int64_t(mClock.monotonic_us()) + c.shift_ms * 1000));
            for (int i = 0; i < 3; ++i)
                multiplexer.ping_watchdog();
            multiplexer.terminate();
        });
        run(true);
        EXPECT_EQ(root.watchdog(), c.watchdog);
    }
}

TEST_F(MultiplexerTest, WatchdogFailuresAreLoggedAndTheLoopGoesOn)
{
    // Missing: no cap on the wait. Refusing the start: closed, no cap. Reader
    // gone: ping and stop fail, the cap stays.
    const std::tuple<Device, const char*, std::vector<int>> cases[] = {
        {Device::none, "Mux: fail to open watchdog: No such file or directory\n", {1500, 1000, 0}},
        {Device::full, "Mux: fail to activate watchdog: No space left on device\n", {1500, 1000, 0}},
        {Device::fifo,
         "Mux: ping watchdog failed: Broken pipe\nMux: stop watchdog failed: Broken pipe\n",
         {1000, 500, 1000, 0}},
    };
    std::signal(SIGPIPE, SIG_IGN); // as the daemon does
    for (const auto& [device, errors, timeouts] : cases) {
        SCOPED_TRACE(errors);
        Root root(device);
        int reader = device == Device::fifo ? ::open(root.path().c_str(), O_RDONLY | O_NONBLOCK) : -1;
        std::string seen;
        Action close_reader, stop;
        close_reader.set(1500, [&] {
            if (reader >= 0)
                seen = testutil::read_now(reader), ::close(reader);
        });
        stop.set(2500, [] { multiplexer.terminate(); });
        Capture err(std::cerr);
        EXPECT_EQ(run_timeouts(true), timeouts);
        EXPECT_EQ(err.text(), errors);
        EXPECT_EQ(seen, reader >= 0 ? "STARTPING" : "");
    }
}

TEST_F(MultiplexerTest, TimerPollPluginsBoundTheWait)
{
    struct Plugin : TimerPoolPlugin {
        int answer = -1, asks = 0;
        std::function<void()> on_ask;
        int timerPoll() override
        {
            ++asks;
            if (on_ask)
                on_ask();
            return answer;
        }
    };
    // Three plug-ins are hooked; a timer at 800 ms stops the loop.
    const struct Case {
        int answers[3];
        int unhooker, unhooked; // in its first ask, one plug-in unhooks one
        std::vector<int> timeouts;
        int asks;
    } cases[] = {
        {{-1, 300, 500}, -1, -1, {300, 300, 200, 0}, 12}, // the smallest answer wins
        {{0, -1, -1}, 0, 0, {0, 800, 0}, 7},              // an answer of 0 polls without waiting
        {{-1, -1, 100}, 0, 2, {800, 0}, 4},               // a plug-in unhooking another not yet asked
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asks);
        Plugin p[3];
        for (int i = 0; i < 3; ++i) {
            p[i].answer = c.answers[i];
            p[i].timerHook();
            p[i].timerHook(); // once only
        }
        if (c.unhooker >= 0)
            p[c.unhooker].on_ask = [&p, &c] { p[c.unhooked].timerUnhook(); };
        Action stop;
        stop.set(800);
        EXPECT_EQ(run_timeouts(), c.timeouts);
        EXPECT_EQ(p[0].asks + p[1].asks + p[2].asks, c.asks);
    }
}

using MultiplexerDeathTest = LoopTest;

TEST_F(MultiplexerDeathTest, NothingToWaitForAborts)
{
    EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
    Root root(Device::file);
    EXPECT_DEATH(multiplexer.run(true, true), "multiplexer: system hang detected!!!");
}

TEST_F(MultiplexerDeathTest, FailingPollAborts)
{
    struct Failing : Mux::TestClock {
        int poll(pollfd*, nfds_t, int) override
        {
            errno = EINVAL;
            return -1;
        }
    } clock;
    Action stop;
    stop.set(10);
    EXPECT_DEATH(
        {
            Mux::setClock(&clock);
            multiplexer.run(false, true);
        },
        "multiplexer poll failed: Invalid argument");
    stop.t.reset();
}

} // namespace
