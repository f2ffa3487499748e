// The link base: a connection taken over (its payloads both ways are the
// end-to-end link test's), whole payloads to the consumer,
// synchronous sends, and every end of a connection reported once, in a later
// loop pass.
#include "control/service.hpp"

#include <netinet/tcp.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::bytes;
using ctltest::Capture;
using ctltest::read_now;
using ctltest::send_all;
using ctltest::TcpPair;
using Log = std::vector<std::string>;

class Link : public Control::ServiceNet
{
public:
    bool ImplActivate() override { return hooks.push_back("activate"), true; }
    void ImplDeactivate() override { hooks.push_back("deactivate"); }
    void ImplOnDisconnect() override { hooks.push_back("on_disconnect"); }
    Log hooks;
};

class LinkTest : public ctltest::LoopTest
{
public:
    void SetUp() override
    {
        LoopTest::SetUp();
        link.Bind(&consumer);
        link.service_name("server");
    }
    // Hands the pair's server side to the link, which keeps a duplicate of
    // its own, as it does behind the acceptor.
    void connect()
    {
        ASSERT_TRUE(link.Activate());
        ASSERT_EQ(ctltest::sockopt(pair.server.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE), 0);
        link.Connected(pair.server, pair.peer);
        EXPECT_EQ(ctltest::sockopt(pair.server.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE), 1);
        EXPECT_EQ(ctltest::sockopt(pair.server.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY), 1);
        pair.server.close();
        name = pair.peer.GetString();
    }

    ctltest::Consumer consumer;
    Link link;
    TcpPair pair;
    std::string name;
};

TEST_F(LinkTest, FailedSendReturnsAndDisconnectFollowsInTheNextPass)
{
    Capture cerr(std::cerr);
    connect();
    const std::string block(60000, 'z');
    for (int i = 0; i < 100 && link.GetState() == Control::State::Connected; ++i)
        link.Send(block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(link.GetState(), Control::State::Deactivating);
    EXPECT_EQ(link.GetOverflowCounter(), 1u);
    EXPECT_EQ(consumer.log, Log{"connect"});
    // Sends while going down are dropped without a word.
    cerr.clear();
    link.Send("x", 1);
    link.Disconnect();
    EXPECT_EQ(cerr.text(), "");
    run_for(1);
    EXPECT_EQ(consumer.log, (Log{"connect", "disconnect"}));
    EXPECT_EQ(link.GetState(), Control::State::Connecting);
}

// However a connection ends, the end is reported once, in a later pass, and
// the link waits for the next one.
TEST_F(LinkTest, EndOfAConnectionIsReportedOnceInALaterPass)
{
    const struct Case {
        const char* what;
        bool connected;
        int disconnects; // -1: the peer closes
        Log consumer;
        bool unwatched = false; // no descriptor left to watch the connection
    } cases[] = {
        {"the peer closes", true, -1, {"connect", "disconnect"}},
        {"disconnect twice in one pass", true, 2, {"connect", "disconnect"}},
        {"disconnect while connecting, without a socket", false, 1, {"disconnect"}},
        // Its own duplicate of the socket takes the last descriptor.
        {"the connection cannot be watched", true, 0, {"disconnect"}, true},
    };
    for (const Case& c : cases) {
        Capture cerr(std::cerr);
        ctltest::Consumer consumer;
        Link link;
        TcpPair pair;
        link.Bind(&consumer);
        link.Activate();
        std::string peer;
        if (c.connected) {
            {
                std::optional<testutil::Shortage> one;
                if (c.unwatched)
                    one.emplace(1);
                link.Connected(pair.server, pair.peer);
            }
            pair.server.close();
            peer = pair.peer.GetString();
        }
        if (c.disconnects < 0)
            pair.client.close();
        for (int i = 0; i < c.disconnects; ++i)
            link.Disconnect();
        EXPECT_EQ(consumer.log.size(), c.consumer.size() - 1) << c.what;
        run_for(10);
        EXPECT_EQ(cerr.text(), "control connection " + peer + " closed.\n") << c.what;
        EXPECT_EQ(consumer.log, c.consumer) << c.what;
        EXPECT_EQ(link.hooks, (Log{"deactivate", "activate", "on_disconnect"})) << c.what;
        EXPECT_EQ(link.GetState(), Control::State::Connecting) << c.what;
        if (c.disconnects > 0 || c.unwatched) {
            EXPECT_EQ(ctltest::peer_closed(pair.client), c.connected) << c.what;
        }
    }
}

TEST_F(LinkTest, PayloadsAfterADisconnectInTheSameChunkAreDropped)
{
    Capture cerr(std::cerr);
    connect();
    consumer.on_message = [this] { link.Disconnect(); };
    send_all(pair.client, bytes("03 00 00 05 AA 03 00 00 05 BB"));
    run_for(10);
    EXPECT_EQ(consumer.log, (Log{"connect", "message AA", "disconnect"}));
}

TEST_F(LinkTest, SendsThatGoNowhere)
{
    const struct Case {
        const char* what;
        std::function<void(LinkTest&)> setup;
        std::size_t size;
        std::string log;
    } cases[] = {
        {"idle", [](LinkTest&) {}, 1, "Control::Service::Send() ignore Send request in Idle state.\n"},
        {"deactivating", [](LinkTest& t) { t.link.Disconnect(); }, 1, ""},
        {"connected, oversize payload", [](LinkTest& t) { t.connect(); }, 65532,
         "Control::Service::Send() refuse payload of 65532 bytes, max = 65531\n"},
    };
    for (const Case& c : cases) {
        Capture cerr(std::cerr);
        c.setup(*this);
        const auto before = link.GetState();
        cerr.clear();
        const std::string payload(c.size, 'x');
        link.Send(payload.data(), static_cast<int>(payload.size()));
        EXPECT_EQ(cerr.text(), c.log) << c.what;
        EXPECT_EQ(link.GetState(), before) << c.what;
        EXPECT_EQ(read_now(pair.client), "") << c.what;
        link.Deactivate();
    }
}

TEST_F(LinkTest, SecondConnectionIsNeverTaken)
{
    Capture cerr(std::cerr);
    connect();
    TcpPair other;
    link.Connected(other.server, other.peer);
    EXPECT_EQ(link.GetAddr(), name);
    send_all(pair.client, bytes("03 00 00 05 AA"));
    run_for(10);
    link.Disconnect();
    link.Connected(other.server, other.peer);
    EXPECT_EQ(link.GetState(), Control::State::Deactivating);
    run_for(10);
    EXPECT_EQ(consumer.log, (Log{"connect", "message AA", "disconnect"}));
}

} // namespace
