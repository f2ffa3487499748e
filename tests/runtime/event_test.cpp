#include "runtime/event.hpp"

#include <functional>
#include <memory>
#include <utility>

#include "tests/runtime/loop_fixture.hpp"

// The loop's registration calls are private; only its own objects and this
// probe reach them.
struct MultiplexerProbe {
    static void attach(EventHandler* h) { multiplexer.attach(h); }
    static void detach(EventHandler* h) { multiplexer.detach(h); }
};

namespace
{

using namespace looptest;
using testutil::Pipe;

std::vector<std::string> gLog;

// Every call is logged as "<name>:<revents>".
struct Owner {
    std::string name;
    Event ev;
    Pipe pipe;
    std::function<void(Owner&, short)> action;

    explicit Owner(const std::string& n, bool armed = true) : name(n)
    {
        ev.Bind<Owner>(name, &Owner::on, this);
        if (armed)
            arm();
    }
    void arm() { ev.Schedule(pipe.r, POLLIN); }
    void on(int fd, short revents)
    {
        EXPECT_EQ(fd, ev.lowlevel_fd());
        gLog.push_back(name + ":" + std::to_string(revents));
        if (action)
            action(*this, revents);
    }
};

// Takes the byte that woke the owner, and stops the loop.
const auto take_and_stop = [](Owner& self, short) {
    self.pipe.take();
    multiplexer.terminate();
};

class EventTest : public LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        gLog.clear();
    }
};

// An armed event without a handler is only counted.
TEST_F(EventTest, EveryArmedEventIsCalledWithItsOwnReturnedEvents)
{
    Pipe p;
    p.put();
    Event bare;
    bare.Schedule(p.r, POLLIN);
    Owner a("a"), b("b"), c("c");
    b.action = [](Owner& self, short) { self.pipe.take(); };
    c.action = [](Owner&, short) { multiplexer.terminate(); };
    b.pipe.put();
    run();
    EXPECT_EQ(gLog, (std::vector<std::string>{"a:0", "b:1", "c:0"}));
    EXPECT_EQ(b.ev.count(), 1u);
    EXPECT_EQ(bare.count(), 1u);
}

TEST_F(EventTest, ChangesMadeDuringDispatch)
{
    // b's pipe stays readable, so every turn dispatches; the loop is stopped
    // after two dispatching turns.
    using Setup = std::function<void(Owner & a, Owner & b, Owner & c, std::unique_ptr<Owner> & d)>;
    const std::tuple<const char*, Setup, std::vector<std::string>> cases[] = {
        {"detaching a handler not yet called prevents its call",
         [](Owner& a, Owner&, Owner& c, std::unique_ptr<Owner>&) {
             a.action = [&c](Owner&, short) { c.ev.Release(); };
         },
         {"a:0", "b:1", "a:0", "b:1"}},
        {"a handler releasing itself is not called again",
         [](Owner& a, Owner&, Owner&, std::unique_ptr<Owner>&) {
             a.action = [](Owner& self, short) { self.ev.Release(); };
         },
         {"a:0", "b:1", "c:0", "b:1", "c:0"}},
        {"a handler destroying its own owner is safe",
         [](Owner&, Owner&, Owner&, std::unique_ptr<Owner>& d) {
             d.reset(new Owner("d"));
             d->action = [&d](Owner&, short) { d.reset(); };
         },
         {"a:0", "b:1", "c:0", "d:0", "a:0", "b:1", "c:0"}},
        {"a handler attached during dispatch waits for the next turn, behind the others",
         [](Owner& a, Owner&, Owner&, std::unique_ptr<Owner>& d) {
             d.reset(new Owner("d", false));
             d->pipe.put();
             Owner* dp = d.get();
             a.action = [dp](Owner&, short) {
                 if (!dp->ev.IsActive())
                     dp->arm();
             };
         },
         {"a:0", "b:1", "c:0", "a:0", "b:1", "c:0", "d:1"}},
        {"scheduling again moves the event to the end",
         [](Owner& a, Owner&, Owner&, std::unique_ptr<Owner>&) {
             a.action = [n = 0](Owner& self, short) mutable {
                 if (n++ == 0)
                     self.arm();
             };
         },
         {"a:0", "b:1", "c:0", "b:1", "c:0", "a:0"}},
        {"changing the events keeps the place",
         [](Owner& a, Owner& b, Owner& c, std::unique_ptr<Owner>&) {
             a.ev.Schedule(a.pipe.w, POLLIN);
             b.arm();
             c.arm();
             a.action = [n = 0](Owner& self, short) mutable {
                 if (n++ == 0)
                     self.ev.SetEvents(POLLOUT);
             };
         },
         {"a:0", "b:1", "c:0", "a:4", "b:1", "c:0"}},
    };
    for (const auto& [what, setup, expected] : cases) {
        SCOPED_TRACE(what);
        gLog.clear();
        Owner a("a"), b("b"), c("c");
        std::unique_ptr<Owner> d;
        b.pipe.put();
        setup(a, b, c, d);
        // Passes 1-4 are the two dispatching turns; pass 5 opens the third.
        static int passes;
        passes = 0;
        Dpc stopper;
        stopper.Bind(+[] {
            if (++passes == 5)
                multiplexer.terminate();
        });
        stopper.Activate();
        run();
        EXPECT_EQ(gLog, expected);
        d.reset();
    }
}

TEST_F(EventTest, StopDuringDispatchLeavesTheRestAttached)
{
    Owner a("a"), b("b"), c("c");
    a.pipe.put();
    a.action = take_and_stop;
    run();
    EXPECT_EQ(gLog, (std::vector<std::string>{"a:1"}));
    // A later run (not stopped at once) finds every handler again, in the
    // former order.
    gLog.clear();
    a.action = nullptr;
    c.pipe.put();
    c.action = take_and_stop;
    run();
    EXPECT_EQ(gLog, (std::vector<std::string>{"a:0", "b:0", "c:1"}));
}

TEST(Event, ArmingAndDisarming)
{
    Pipe p;
    Event ev;
    ev.Schedule(Fd(), POLLIN);
    EXPECT_FALSE(multiplexer.event_exists(&ev));
    ev.Schedule(p.r, POLLIN);
    EXPECT_TRUE(multiplexer.event_exists(&ev));
    EXPECT_NE(ev.lowlevel_fd(), p.r.lowlevel_fd()) << "the event keeps its own duplicate";
    EXPECT_TRUE(::fcntl(ev.lowlevel_fd(), F_GETFD) & FD_CLOEXEC);
    int own = ev.lowlevel_fd();
    EXPECT_EQ(ev.Release(), 0);
    EXPECT_FALSE(multiplexer.event_exists(&ev));
    EXPECT_LT(::fcntl(own, F_GETFD), 0) << "released descriptor is closed";
    EXPECT_EQ(ev.Release(), -1);
    // A descriptor handed over becomes the event's own: no duplicate.
    Fd handed = p.r;
    own = handed.lowlevel_fd();
    ev.Schedule(std::move(handed), POLLIN);
    EXPECT_TRUE(multiplexer.event_exists(&ev));
    EXPECT_EQ(own, ev.lowlevel_fd()) << "taken over, not duplicated";
    EXPECT_EQ(ev.Release(), 0);
    EXPECT_LT(::fcntl(own, F_GETFD), 0) << "released descriptor is closed";
    ev.Schedule(p.r, POLLIN);
    ev.Schedule(Fd(), POLLIN);
    EXPECT_FALSE(multiplexer.event_exists(&ev));
}

// HungUp() tells, without the loop, whether the descriptor shows a hang-up
// or an error now; data to read, or no descriptor, is neither.
TEST(Event, HungUpSeesAHangUpOrAnErrorNow)
{
    struct Case {
        const char* what;
        std::function<Fd(Pipe&)> watched; // the pipe's end the event watches, after the change
        bool hungUp;
    };
    const Case cases[] = {
        {"data to read",
         [](Pipe& p) {
             p.put();
             return p.r;
         },
         false},
        {"nothing to read", [](Pipe& p) { return p.r; }, false},
        {"the writer gone: POLLHUP",
         [](Pipe& p) {
             p.w.close();
             return p.r;
         },
         true},
        {"the reader gone: POLLERR alone",
         [](Pipe& p) {
             p.r.close();
             return p.w;
         },
         true},
        {"no descriptor", [](Pipe&) { return Fd(); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pipe p;
        Event ev;
        ev.Schedule(c.watched(p), POLLIN);
        EXPECT_EQ(c.hungUp, ev.HungUp());
    }
}

TEST(Event, BindingOwnsTheHandler)
{
    static int destroyed = 0;
    struct Counted : Event::Handler {
        ~Counted() override { ++destroyed; }
        void Invoke(int, short) override {}
    };
    destroyed = 0;
    {
        Event ev;
        ev.Bind(new Counted);
        ev.Bind(new Counted);
        EXPECT_EQ(destroyed, 1);
        ev.UnBind();
        EXPECT_EQ(destroyed, 2);
        EXPECT_FALSE(ev.is_bound());
        ev.Bind(new Counted);
    }
    EXPECT_EQ(destroyed, 3);
}

TEST(Event, RegistrationErrorsAreReported)
{
    Pipe p;
    Event ev;
    struct T {
        void on(int, short) {}
    } t;
    ev.Bind<T>("E1/Cas", &T::on, &t);
    Capture err(std::cerr);
    MultiplexerProbe::detach(&ev); // in no list
    ev.Schedule(p.r, POLLIN);
    MultiplexerProbe::attach(&ev);
    EXPECT_EQ(err.text(),
              "indvalid Multiplexer::detach E1/Cas\nduplicate multiplexer attach \"E1/Cas\" ignored.\n");
    EXPECT_TRUE(multiplexer.event_exists(&ev));
}

} // namespace
