// The TCP connector: its reconnection schedule on the test clock, with the
// outcome of each attempt scripted, and one connection at most.
#include "control/connector.hpp"

#include <cerrno>
#include <functional>
#include <vector>

#include "tests/control/fixture.hpp"
#include "tests/runtime/loop_fixture.hpp"
#include "tests/runtime/test_util.hpp"

namespace
{

using ctltest::Capture;
using Times = std::vector<unsigned>;
using Log = std::vector<std::string>;

enum Outcome {
    refused,   // connect() fails at once
    pollhup,   // pending on a socket that was never connected: it reports POLLHUP
    timed_out, // pending, writable, with a pending ETIMEDOUT
    accepted,  // connected at once to the test's listener
    pending,   // pending, writable, no error
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
        if (mLast == refused || mLast == pollhup)
            return mLast == refused ? ECONNREFUSED : EINPROGRESS;
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

using ConnectorTest = ctltest::LoopTest;

TEST_F(ConnectorTest, RetriesOnTheScheduleOfEachFailureKind)
{
    const char* fail = "fail to connect to 127.0.0.1:7\n";
    const char* refusal = "can't connect to 127.0.0.1:7 : Connection refused\n";
    // clang-format off
    const struct Case {
        std::vector<Outcome> script;
        Outcome rest;
        unsigned close_peer_at, run_ms;
        Times expected; // attempt times after activation
        Log consumer;
        const char* first_error;
    } cases[] = {
        {{}, refused, 0, 50000, {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 27000, 47000}, {}, refusal},
        {{}, pollhup, 0, 40000, {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 22000, 37000}, {}, fail},
        {{}, timed_out, 0, 45000, {0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 19000, 31000, 43000}, {}, fail},
        // Three failures use three of the seven fast retries; after the peer
        // closes, the link waits 10 s and has four left, never refilled.
        {{refused, refused, refused, accepted}, refused, 5000, 60000,
         {0, 1000, 2000, 3000, 15000, 16000, 17000, 18000, 19000, 39000, 59000}, {"connect", "disconnect"}, refusal},
    };
    // clang-format on
    for (const Case& c : cases) {
        Capture out(std::cout), err(std::cerr), log(std::clog);
        ScriptOps ops(c.script, c.rest);
        ctltest::Consumer consumer;
        Control::ConnectorNet link("127.0.0.1", 7);
        link.SetOps(&ops);
        link.Bind(&consumer);
        const unsigned start = Mux::milliseconds();
        looptest::Action close;
        close.set(c.close_peer_at ? c.close_peer_at : c.run_ms + 1, [&] { ops.peers.clear(); });
        ASSERT_TRUE(link.Activate());
        run_for(c.run_ms);
        Times got;
        for (unsigned t : ops.attempts)
            got.push_back(t - start);
        EXPECT_EQ(got, c.expected) << c.rest;
        EXPECT_EQ(consumer.log, c.consumer) << c.rest;
        EXPECT_EQ(err.text().substr(0, err.text().find('\n') + 1), c.first_error) << c.rest;
        link.Deactivate();
    }
}

// The attempt's watch gets no descriptor: the attempt fails as a refused one
// does and is made again, never left pending unheard. The first pass, with
// descriptors to spare, lets the sanitizer build meet its types first.
TEST_F(ConnectorTest, AnAttemptThatCannotBeWatchedIsMadeAgain)
{
    for (int spare : {64, 1}) {
        SCOPED_TRACE(spare);
        Capture out(std::cout), err(std::cerr), log(std::clog);
        ScriptOps ops({}, pollhup);
        ctltest::Consumer consumer;
        Control::ConnectorNet link("127.0.0.1", 7);
        link.SetOps(&ops);
        link.Bind(&consumer);
        {
            testutil::Shortage shortage(spare);
            ASSERT_TRUE(link.Activate());
        }
        const bool watched = spare > 1;
        EXPECT_EQ(watched, link.IsAttemptPending());
        EXPECT_EQ(watched ? "" : "can't connect to 127.0.0.1:7 : Too many open files\n", err.text());
        run_for(1000);
        EXPECT_EQ(2u, ops.attempts.size()) << "the next attempt";
        link.Deactivate();
    }
}

TEST_F(ConnectorTest, NeverHoldsTwoConnections)
{
    // A disconnect asked for while an attempt is pending gives the attempt
    // up; only the reconnection 10 s later brings the one connection.
    Capture out(std::cout), err(std::cerr), log(std::clog);
    ScriptOps ops({pending}, accepted);
    ctltest::Consumer consumer;
    Control::ConnectorNet link("127.0.0.1", 7);
    link.SetOps(&ops);
    link.Bind(&consumer);
    link.Activate();
    ASSERT_TRUE(link.IsAttemptPending());
    link.Disconnect();
    run_for(9000);
    EXPECT_EQ(consumer.log, (Log{"disconnect"}));
    EXPECT_FALSE(link.IsAttemptPending());
    run_for(2000);
    EXPECT_EQ(consumer.log, (Log{"disconnect", "connect"}));
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
