// The TCP connector: its reconnection schedule on the test clock, with the
// outcome of each attempt scripted, and one connection at most.
#include "control/connector.hpp"

#include <cerrno>
#include <functional>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::Capture;
using Times = std::vector<unsigned>;

// Outcomes of an attempt, as the script gives them.
enum Outcome {
    refused,   // connect() fails at once
    pollhup,   // pending, then the socket reports a hang-up
    timed_out, // pending, writable, with a pending ETIMEDOUT
    accepted,  // connected at once to the test's listener
};

class ScriptOps : public Control::ConnectOps
{
public:
    ScriptOps(std::vector<Outcome> script, Outcome rest) : mScript(std::move(script)), mRest(rest)
    {
        mListen = ctltest::listener(mPort);
    }
    int Connect(int fd, sockaddr const*, socklen_t) override
    {
        attempts.push_back(Mux::milliseconds());
        mLast = attempts.size() <= mScript.size() ? mScript[attempts.size() - 1] : mRest;
        switch (mLast) {
        case refused:
            return ECONNREFUSED;
        case pollhup:
            return EINPROGRESS; // the socket was never connected: it reports POLLHUP
        case timed_out:
        case accepted: {
            // A real connection, so that the socket is writable and nothing else.
            INet4::Addr to;
            to.Assign("127.0.0.1", nullptr);
            to.port(static_cast<unsigned short>(mPort));
            BlockMode(fd);
            EXPECT_EQ(::connect(fd, to, to.size()), 0);
            NonBlockMode(fd);
            peers.push_back(Fd(::accept(mListen.lowlevel_fd(), nullptr, nullptr)));
            return mLast == accepted ? 0 : EINPROGRESS;
        }
        }
        return EINVAL;
    }
    bool PendingError(int, int& error) override
    {
        error = mLast == timed_out ? ETIMEDOUT : 0;
        return true;
    }
    Times attempts;
    std::vector<Fd> peers;

private:
    std::vector<Outcome> mScript;
    Outcome mRest;
    Outcome mLast = refused;
    Fd mListen;
    int mPort = 0;
};

// Runs an action at a moment of virtual time.
struct At {
    Timer timer;
    std::function<void()> action;
    At(unsigned ms, std::function<void()> a) : action(std::move(a)) { timer.set(ms, &At::fire, this); }
    void fire() { action(); }
};

class ConnectorTest : public ctltest::LoopTest
{
};

TEST_F(ConnectorTest, RetriesOnTheScheduleOfEachFailureKind)
{
    struct Case {
        const char* what;
        std::vector<Outcome> script;
        Outcome rest;
        unsigned close_peer_at; // 0: never
        unsigned run_ms;
        Times expected; // attempt times after activation
        std::vector<std::string> consumer;
    };
    const Times fast = {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000};
    auto then = [&](Times more) {
        Times t = fast;
        t.insert(t.end(), more.begin(), more.end());
        return t;
    };
    const Case cases[] = {
        {"refused by connect()", {}, refused, 0, 50000, then({27000, 47000}), {}},
        {"hang-up on the pending socket", {}, pollhup, 0, 40000, then({22000, 37000}), {}},
        {"pending error on a writable socket", {}, timed_out, 0, 45000, then({19000, 31000, 43000}), {}},
        // Three failures use three of the seven fast retries; after the peer
        // closes, the link waits 10 s and has four left, never refilled.
        {"lost link, then the remaining fast retries",
         {refused, refused, refused, accepted},
         refused,
         5000,
         60000,
         {0, 1000, 2000, 3000, 15000, 16000, 17000, 18000, 19000, 39000, 59000},
         {"connect", "disconnect"}},
    };
    for (const Case& c : cases) {
        Capture out(std::cout), err(std::cerr), log(std::clog);
        ScriptOps ops(c.script, c.rest);
        ctltest::Consumer consumer;
        Control::ConnectorNet link("127.0.0.1", 7);
        link.SetOps(&ops);
        link.Bind(&consumer);
        const unsigned start = Mux::milliseconds();
        At close(c.close_peer_at ? c.close_peer_at : c.run_ms + 1, [&] {
            for (Fd& p : ops.peers)
                p.close();
        });
        ASSERT_TRUE(link.Activate());
        run_for(c.run_ms);
        Times got;
        for (unsigned t : ops.attempts)
            got.push_back(t - start);
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(consumer.log, c.consumer) << c.what;
        link.Deactivate();
    }
}

TEST_F(ConnectorTest, FailuresAreLoggedWithThePeer)
{
    struct Case {
        Outcome outcome;
        const char* err;
        const char* log;
    };
    const Case cases[] = {
        {refused, "can't connect to 127.0.0.1:7 : Connection refused\n", ""},
        {pollhup, "fail to connect to 127.0.0.1:7\n", ""},
        {timed_out, "fail to connect to 127.0.0.1:7\n", ""},
        {accepted, "", "already connected to 127.0.0.1:7\n"},
    };
    for (const Case& c : cases) {
        Capture out(std::cout), err(std::cerr), log(std::clog);
        ScriptOps ops({}, c.outcome);
        Control::ConnectorNet link("127.0.0.1:7");
        link.SetOps(&ops);
        link.Activate();
        run_for(10);
        EXPECT_EQ(err.text(), c.err) << c.outcome;
        EXPECT_EQ(ctltest::strip_mux(log.text()), c.log) << c.outcome;
        link.Deactivate();
    }
}

TEST_F(ConnectorTest, ConnectsToARealPeerAndAgainAfterItCloses)
{
    Capture out(std::cout), err(std::cerr), log(std::clog);
    int port = 0;
    Fd l = ctltest::listener(port);
    ctltest::Consumer consumer;
    Control::ConnectorNet link("127.0.0.1", static_cast<unsigned short>(port));
    link.Bind(&consumer);
    link.Activate();
    run_for(100);
    Fd peer(::accept(l.lowlevel_fd(), nullptr, nullptr));
    ASSERT_TRUE(link.IsConnected());
    EXPECT_NE(out.text() + log.text(), "");
    peer.close();
    run_for(9000);
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_FALSE(link.IsConnected());
    run_for(1100);
    EXPECT_TRUE(link.IsConnected());
    link.Deactivate();
}

TEST_F(ConnectorTest, NeverHoldsTwoConnections)
{
    // A disconnect asked for while an attempt is pending gives the attempt
    // up; only the reconnection 10 s later brings the one connection.
    Capture out(std::cout), err(std::cerr), log(std::clog);
    ScriptOps ops({timed_out}, accepted);
    ctltest::Consumer consumer;
    Control::ConnectorNet link("127.0.0.1", 7);
    // The first attempt is pending and writable without error.
    struct Pending : Control::ConnectOps {
        ScriptOps* real;
        int Connect(int fd, sockaddr const* a, socklen_t n) override
        {
            const int r = real->Connect(fd, a, n);
            return real->attempts.size() == 1 ? EINPROGRESS : r;
        }
        bool PendingError(int, int& error) override { return error = 0, true; }
    } pending;
    pending.real = &ops;
    link.SetOps(&pending);
    link.Bind(&consumer);
    link.Activate();
    ASSERT_TRUE(link.IsAttemptPending());
    link.Disconnect();
    run_for(9000);
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"disconnect"}));
    EXPECT_FALSE(link.IsAttemptPending());
    run_for(2000);
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"disconnect", "connect"}));
    EXPECT_EQ(ops.attempts.size(), 2u);
    link.Deactivate();
}

TEST_F(ConnectorTest, AHostThatIsNoDottedQuadIsNeverTheLocalHost)
{
    Capture out(std::cout), err(std::cerr), log(std::clog);
    int port = 0;
    Fd l = ctltest::listener(port);
    Control::ConnectorNet link("localhost", static_cast<unsigned short>(port));
    link.Activate();
    run_for(100);
    EXPECT_FALSE(link.IsConnected());
    EXPECT_EQ(err.text(), "can't connect to localhost:" + std::to_string(port) + " : Invalid argument\n");
    link.Deactivate();
}

} // namespace
