// The E1 service of the running daemon: trunk status signals while a
// controller is seated, transmit clocks and CAS, with the simulated board's
// E1 drivers present.
#include <csignal>
#include <poll.h>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/controller.hpp"

#include "tests/hardware/lgcp_text.hpp"

namespace
{

const char kRound[] = "status 0 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0; "
                      "status 1 e1 state=3 slips=7 bf=0 carrier=0 ais=0 rai=0; "
                      "status 2 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0; "
                      "status 3 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0";

class E1 : public ::testing::Test
{
protected:
    void SetUp() override
    {
        e2e::DaemonOptions options;
        options.sim_init = "device /dev/maintenance present\ndevice /dev/e1-cas present\n"
                           "e1 status 1 state=3 slips=7\n";
        ASSERT_TRUE(daemon.start_serving(options)) << daemon.err();
        ASSERT_TRUE(controller.connect(daemon.port()));
    }
    void TearDown() override
    {
        daemon.signal(SIGTERM);
        EXPECT_EQ(0, daemon.wait_exit());
    }
    // The next message as text; with `statuses` false, trunk status signals are passed over.
    std::string next(bool statuses = false)
    {
        for (e2e::Bytes payload; controller.receive_payload(payload);) {
            std::string text = hwtest::text(reinterpret_cast<const char*>(payload.data()), payload.size());
            if (statuses || text.compare(0, 7, "status ") != 0)
                return text;
        }
        return "(none)";
    }
    std::string next(int n, bool statuses)
    {
        std::string out;
        while (n-- > 0)
            out += (out.empty() ? "" : "; ") + next(statuses);
        return out;
    }
    bool ask(const LGCP::Message& m) { return controller.send_payload(e2e::encode(m)); }

    e2e::Daemon daemon;
    e2e::Controller controller;
};

TEST_F(E1, TrunkStatusAtConnectAndEverySecondNoneAfterTheControllerLeaves)
{
    EXPECT_EQ(kRound, next(4, true));
    EXPECT_EQ(kRound, next(4, true)) << "the next second's round";
    controller.close();
    ASSERT_TRUE(daemon.wait_err(" closed."));
    daemon.board("clear");
    ::poll(nullptr, 0, 2500);
    EXPECT_EQ(std::string::npos, daemon.board("journal").find("status trunk="));
    EXPECT_EQ(std::string::npos, daemon.err().find("ignore Send request"));
}

TEST_F(E1, TrunkCfgSetsTheTransmitClockMask)
{
    ASSERT_TRUE(ask(hwtest::trunkCfg(5, 2, true)));
    EXPECT_EQ("success", next());
    EXPECT_NE(std::string::npos,
              daemon.board("journal").find("ioctl /dev/maintenance tclk mask=0x00000004 -> 0"));
}

TEST_F(E1, CasCommandAndBitChangesReachTheController)
{
    ASSERT_TRUE(ask(hwtest::casCommand(6, "open 1 5 9")));
    EXPECT_EQ("cas 1/0 rx=0 tx=0; cas 1/5 rx=0 tx=9; success", next(3, false));
    EXPECT_EQ("records=1\nok\n", daemon.board("cas rx 1 5 6"));
    EXPECT_EQ("cas 1/5 rx=6 tx=9", next());
}

} // namespace
