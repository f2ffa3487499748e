// The E1 service of the running daemon: trunk status signals while a
// controller is seated, transmit clocks and CAS, with the simulated board's
// E1 drivers present.
#include <cstdlib>
#include <poll.h>

#include "tests/e2e/fixture.hpp"
#include "tests/hardware/lgcp_text.hpp"

namespace
{

const char kRound[] = "status 0 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0; "
                      "status 1 e1 state=3 slips=7 bf=0 carrier=0 ais=0 rai=0; "
                      "status 2 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0; "
                      "status 3 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0";

class E1 : public e2etest::DaemonTest
{
protected:
    void SetUp() override
    {
        start({{},
               {},
               "device /dev/maintenance present\ndevice /dev/e1-cas present\ne1 status 1 state=3 slips=7\n"});
    }
    // The next `n` messages as text; with `statuses` false, trunk status
    // signals are passed over.
    std::string next(int n, bool statuses) { return texts(n, hwtest::text, statuses); }
};

TEST_F(E1, TrunkStatusAtConnectAndEverySecondNoneAfterTheControllerLeaves)
{
    EXPECT_EQ(kRound, next(4, true));
    EXPECT_EQ(kRound, next(4, true)) << "the next second's round";
    controller.close();
    ASSERT_TRUE(daemon.wait_err(" closed."));
    daemon.board("clear");
    // The loop feeds the watchdog once a second at most, by its own clock:
    // three feeds more, and two status passes would have fallen due, however
    // seldom a loaded machine lets the daemon run.
    const int from = watchdog_pings();
    ASSERT_LE(0, from) << daemon.board("watchdog");
    for (int waited = 0; watchdog_pings() < from + 3 && waited < e2e::deadline_ms(); waited += 50)
        ::poll(nullptr, 0, 50);
    ASSERT_LE(from + 3, watchdog_pings());
    EXPECT_EQ(e2etest::Lines(), journal("status trunk="));
    daemon.collect_output();
    EXPECT_EQ(std::string::npos, daemon.err().find("ignore Send request"));
}

TEST_F(E1, TrunkCfgSetsTheTransmitClockMask)
{
    ASSERT_TRUE(send(hwtest::trunkCfg(5, 2, true)));
    EXPECT_EQ("success", next(1, false));
    const e2etest::Lines tclk = journal("tclk"); // after the mask set at connect
    ASSERT_FALSE(tclk.empty());
    EXPECT_EQ("ioctl /dev/maintenance tclk mask=0x00000004 -> 0", tclk.back());
}

TEST_F(E1, CasCommandAndBitChangesReachTheController)
{
    ASSERT_TRUE(send(hwtest::casCommand(6, "open 1 5 9")));
    EXPECT_EQ("cas 1/0 rx=0 tx=0; cas 1/5 rx=0 tx=9; success", next(3, false));
    EXPECT_EQ("records=1\nok\n", daemon.board("cas rx 1 5 6"));
    EXPECT_EQ("cas 1/5 rx=6 tx=9", next(1, false));
}

} // namespace
