// The heartbeat on virtual time: armed when a controller connects, restarted
// by every command, and on expiry "heartbeat timeout!!!" and the drop.
#include "control/heartbeat.hpp"

#include <string>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using Link = ctltest::NullLink;

using ctltest::bytes;
using ctltest::Capture;
using ctltest::hex;
using ctltest::read_now;
using ctltest::strip_mux;
using ctltest::TcpPair;
using Log = std::vector<std::string>;

// Bound after the heartbeat: sees what it lets through, answers with success.
class Next : public CtrlSrv::Service
{
public:
    void OnConnect() override {}
    void OnDisconnect() override { log.push_back("disconnect"); }
    bool OnCommand(LGCP::Command const& c) override
    {
        log.push_back("command " + std::to_string(c.currentSelection()));
        Success();
        return true;
    }
    Log log;
};

class HeartbeatTest : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        server.Bind(&heartbeat);
        server.Bind(&next);
        server.Activate(new Link);
        Capture clog(std::clog);
        static_cast<Link*>(server.GetLink())->Connected(pair.server, pair.peer);
        pair.server.close();
    }
    void TearDown() override
    {
        server.Deactivate();
        LoopTest::TearDown();
    }
    std::string request(const std::string& payload_hex)
    {
        const std::string payload = bytes(payload_hex);
        server.OnMessage(payload.data(), static_cast<int>(payload.size()));
        return hex(read_now(pair.client));
    }
    std::string closed() const { return "control connection " + pair.peer.GetString() + " closed.\n"; }

    HeartBeatCtl heartbeat;
    Next next;
    CtrlSrv::Server server;
    TcpPair pair;
};

TEST_F(HeartbeatTest, SilentPeerIsDroppedOnePeriodAfterConnecting)
{
    Capture clog(std::clog), cerr(std::cerr);
    EXPECT_TRUE(heartbeat.IsWatching());
    run_for(HeartBeatCtl::period_ms - 10);
    EXPECT_EQ(strip_mux(clog.text()), "");
    EXPECT_TRUE(server.GetLink()->IsConnected());
    run_for(20);
    EXPECT_EQ(strip_mux(clog.text()), "heartbeat timeout!!!\n");
    EXPECT_EQ(cerr.text(), closed());
    EXPECT_EQ(next.log, Log{"disconnect"});
    EXPECT_FALSE(heartbeat.IsWatching());
    EXPECT_TRUE(ctltest::peer_closed(pair.client));
}

TEST_F(HeartbeatTest, EveryCommandRestartsTheWatch)
{
    Capture clog(std::clog), cerr(std::cerr);
    run_for(60000);
    EXPECT_EQ(request("C0 01 05 00 03 18"), "03 00 00 0A C0 01 05 00 03 40"); // ping, taken here
    run_for(60000);
    EXPECT_EQ(request("80 01 07 0A"), "03 00 00 08 80 01 07 40"); // destroy, passed on
    EXPECT_EQ(next.log, Log{"command 5"});
    run_for(HeartBeatCtl::period_ms - 10);
    EXPECT_TRUE(server.GetLink()->IsConnected());
    EXPECT_EQ(strip_mux(clog.text()), "");
    run_for(20);
    EXPECT_EQ(strip_mux(clog.text()), "heartbeat timeout!!!\n");
    EXPECT_EQ(cerr.text(), closed());
}

TEST_F(HeartbeatTest, UndecodableOrRefusedMessagesDoNotRestartTheWatch)
{
    Capture clog(std::clog), cerr(std::cerr);
    run_for(60000);
    request("FF");
    request("C0 01 05 04 00 18"); // slot 1024
    run_for(60010);
    EXPECT_EQ(strip_mux(clog.text()), "heartbeat timeout!!!\n");
}

TEST_F(HeartbeatTest, DisconnectCancelsTheWatch)
{
    Capture clog(std::clog), cerr(std::cerr);
    run_for(1000);
    pair.client.close();
    run_for(10);
    EXPECT_FALSE(heartbeat.IsWatching());
    run_for(2 * HeartBeatCtl::period_ms);
    EXPECT_EQ(strip_mux(clog.text()), "");
    EXPECT_EQ(cerr.text(), closed());
}

TEST(HeartbeatSingle, OneInstance)
{
    EXPECT_EQ(&HeartBeatCtl::instance(), &HeartBeatCtl::instance());
}

} // namespace
