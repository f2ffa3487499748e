// The heartbeat on virtual time: armed when a controller connects, restarted
// by every command, and on expiry "heartbeat timeout!!!" and the drop.
#include "control/heartbeat.hpp"

#include <string>
#include <vector>

#include "messages/lgcp/LGCP.hpp"
#include "tests/control/fixture.hpp"

namespace
{

using ctltest::Capture;
using ctltest::strip_mux;
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

// A server with the heartbeat bound first and a controller connected.
struct Rig : ctltest::ServerRig {
    HeartBeatCtl heartbeat;
    Next next;
    Rig()
    {
        server.Bind(&heartbeat);
        server.Bind(&next);
        connect();
    }
    std::string closed() const { return "control connection " + pair.peer.GetString() + " closed.\n"; }
};

using HeartbeatTest = ctltest::LoopTest;

// The peer is dropped one period after the last request that restarted the watch.
TEST_F(HeartbeatTest, SilentPeerIsDroppedOnePeriodAfterTheLastCommand)
{
    struct Step {
        unsigned gap; // ms before the request
        const char *request, *answer;
        bool restarts;
    };
    const struct Case {
        const char* what;
        std::vector<Step> steps;
        Log passed_on;
    } cases[] = {
        {"armed at connect", {}, {"disconnect"}},
        {"every command restarts the watch",
         {{60000, "C0 01 05 00 03 18", "03 00 00 0A C0 01 05 00 03 40", true}, // ping, taken by the heartbeat
          {60000, "80 01 07 0A", "03 00 00 08 80 01 07 40", true}},            // destroy, passed on
         {"command 5", "disconnect"}},
        {"undecodable or refused messages do not",
         {{60000, "FF", "", false}, {0, "C0 01 05 04 00 18", "03 00 00 08 80 01 05 62", false}}, // slot 1024
         {"disconnect"}},
    };
    for (const Case& c : cases) {
        Capture clog(std::clog), cerr(std::cerr);
        Rig rig;
        unsigned since = 0;
        for (const Step& s : c.steps) {
            run_for(s.gap);
            since = s.restarts ? 0 : since + s.gap;
            EXPECT_EQ(rig.request(s.request), s.answer) << c.what;
        }
        run_for(HeartBeatCtl::period_ms - since - 10);
        EXPECT_EQ(strip_mux(clog.text()), "") << c.what;
        EXPECT_TRUE(rig.server.GetLink()->IsConnected()) << c.what;
        run_for(20);
        EXPECT_EQ(strip_mux(clog.text()), "heartbeat timeout!!!\n") << c.what;
        const std::string err = cerr.text(); // after any decode error
        EXPECT_EQ(err.substr(err.find("control connection")), rig.closed()) << c.what;
        EXPECT_EQ(rig.next.log, c.passed_on) << c.what;
        EXPECT_FALSE(rig.heartbeat.IsWatching()) << c.what;
        EXPECT_TRUE(ctltest::peer_closed(rig.pair.client)) << c.what;
    }
}

TEST_F(HeartbeatTest, DisconnectCancelsTheWatch)
{
    Capture clog(std::clog), cerr(std::cerr);
    Rig rig;
    run_for(1000);
    rig.pair.client.close();
    run_for(10);
    EXPECT_FALSE(rig.heartbeat.IsWatching());
    run_for(2 * HeartBeatCtl::period_ms);
    EXPECT_EQ(strip_mux(clog.text()), "");
    EXPECT_EQ(cerr.text(), rig.closed());
}

} // namespace
