// The link base: a connection taken over, whole payloads to the consumer,
// synchronous sends, and every end of a connection reported once, in a later
// loop pass.
#include "control/service.hpp"

#include <netinet/tcp.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::Consumer;

using ctltest::bytes;
using ctltest::Capture;
using ctltest::hex;
using ctltest::read_now;
using ctltest::send_all;
using ctltest::strip_mux;
using ctltest::TcpPair;

class Link : public Control::ServiceNet
{
public:
    bool ImplActivate() override
    {
        hooks.push_back("activate");
        return activate_result;
    }
    void ImplDeactivate() override { hooks.push_back("deactivate"); }
    void ImplOnDisconnect() override { hooks.push_back("on_disconnect"); }

    std::vector<std::string> hooks;
    bool activate_result = true;
};

class LinkTest : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        link.Bind(&consumer);
        link.service_name("server");
    }
    void connect()
    {
        ASSERT_TRUE(link.Activate());
        int on = 0;
        socklen_t len = sizeof on;
        ::getsockopt(pair.server.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &on, &len);
        EXPECT_EQ(on, 0);
        link.Connected(pair.server, pair.peer);
        // The link holds its own duplicate, as it does behind the acceptor.
        ::getsockopt(pair.server.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &on, &len);
        EXPECT_EQ(on, 1);
        ::getsockopt(pair.server.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, &len);
        EXPECT_EQ(on, 1);
        pair.server.close();
        name = pair.peer.GetString();
    }

    Consumer consumer;
    Link link;
    TcpPair pair;
    std::string name;
};

TEST_F(LinkTest, ConnectionCarriesWholePayloadsBothWays)
{
    connect();
    EXPECT_EQ(link.GetState(), Control::State::Connected);
    EXPECT_EQ(link.GetAddr(), name);
    EXPECT_EQ(consumer.log, std::vector<std::string>{"connect"});

    send_all(pair.client, bytes("03 00 00 08 80 01 05 18 03 00"));
    run_for(10);
    send_all(pair.client, bytes("00 05 AA"));
    run_for(10);
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"connect", "message 80 01 05 18", "message AA"}));

    const std::string answer = bytes("80 01 05 40");
    link.Send(answer.data(), static_cast<int>(answer.size()));
    link.Send(nullptr, 0);
    EXPECT_EQ(hex(read_now(pair.client)), "03 00 00 08 80 01 05 40 03 00 00 04");
}

TEST_F(LinkTest, PeerClosingIsReportedOnceInALaterPass)
{
    Capture cerr(std::cerr);
    connect();
    pair.client.close();
    run_for(10);
    EXPECT_EQ(cerr.text(), "control connection " + name + " closed.\n");
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_EQ(link.hooks, (std::vector<std::string>{"deactivate", "activate", "on_disconnect"}));
    EXPECT_EQ(link.GetState(), Control::State::Connecting);
}

TEST_F(LinkTest, FailedSendReturnsAndDisconnectFollowsInTheNextPass)
{
    Capture cerr(std::cerr);
    connect();
    const std::string block(60000, 'z');
    for (int i = 0; i < 100 && link.GetState() == Control::State::Connected; ++i)
        link.Send(block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(link.GetState(), Control::State::Deactivating);
    EXPECT_EQ(link.GetOverflowCounter(), 1u);
    EXPECT_EQ(consumer.log, std::vector<std::string>{"connect"});
    // Sends while going down are dropped without a word.
    cerr.clear();
    link.Send("x", 1);
    link.Disconnect();
    EXPECT_EQ(cerr.text(), "");
    run_for(1);
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"connect", "disconnect"}));
    EXPECT_EQ(link.GetState(), Control::State::Connecting);
}

TEST_F(LinkTest, DisconnectTwiceOrWithoutConnectionEndsOnce)
{
    struct Case {
        const char* what;
        bool connected;
        int disconnects;
    };
    const std::vector<Case> cases = {
        {"connected, disconnect twice in one pass", true, 2},
        {"connecting, no socket", false, 1},
    };
    for (const Case& c : cases) {
        Capture cerr(std::cerr);
        Consumer consumer;
        Link link;
        TcpPair pair;
        link.Bind(&consumer);
        link.Activate();
        std::string peer;
        if (c.connected) {
            link.Connected(pair.server, pair.peer);
            pair.server.close();
            peer = pair.peer.GetString();
        }
        for (int i = 0; i < c.disconnects; ++i)
            link.Disconnect();
        run_for(10);
        EXPECT_EQ(cerr.text(), "control connection " + peer + " closed.\n") << c.what;
        EXPECT_EQ(consumer.log.back(), "disconnect") << c.what;
        EXPECT_EQ(std::count(consumer.log.begin(), consumer.log.end(), "disconnect"), 1) << c.what;
        EXPECT_EQ(std::count(link.hooks.begin(), link.hooks.end(), "on_disconnect"), 1) << c.what;
        if (c.connected) {
            EXPECT_TRUE(ctltest::peer_closed(pair.client)) << c.what;
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
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"connect", "message AA", "disconnect"}));
}

TEST_F(LinkTest, SendOutsideAConnection)
{
    struct Case {
        const char* what;
        std::function<void(Link&)> setup;
        std::string log;
    };
    const std::vector<Case> cases = {
        {"idle", [](Link&) {}, "Control::Service::Send() ignore Send request in Idle state.\n"},
        {"connecting", [](Link& l) { l.Activate(); },
         "Control::Service::Send() ignore Send request in Connecting state.\n"},
        {"deactivating", [](Link& l) { l.Disconnect(); }, ""},
    };
    for (const Case& c : cases) {
        Link l;
        Capture cerr(std::cerr);
        c.setup(l);
        cerr.clear();
        l.Send("x", 1);
        EXPECT_EQ(cerr.text(), c.log) << c.what;
        l.Deactivate();
    }
}

TEST_F(LinkTest, OversizePayloadIsRefused)
{
    Capture cerr(std::cerr);
    connect();
    const std::string big(65532, 'b');
    link.Send(big.data(), static_cast<int>(big.size()));
    EXPECT_EQ(cerr.text(), "Control::Service::Send() refuse payload of 65532 bytes, max = 65531\n");
    EXPECT_EQ(link.GetState(), Control::State::Connected);
    EXPECT_EQ(read_now(pair.client), "");
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
    EXPECT_EQ(consumer.log, (std::vector<std::string>{"connect", "message AA", "disconnect"}));
}

} // namespace
