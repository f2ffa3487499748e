// The E1 service over the simulated board, as the controller sees it: the
// messages on the link, and the requests the board's journal recorded.
#include "hardware/e1ctl.hpp"

#include "tests/hardware/service_rig.hpp"

namespace
{

using ctltest::Capture;

class E1Test : public ctltest::LoopTest
{
protected:
    void connect()
    {
        Capture clog(std::clog);
        rig.connect({&e1});
    }
    // The journal lines of the device since the last call, "; " between them,
    // without "ioctl ".
    std::string journal(const std::string& device)
    {
        std::string out;
        for (const std::string& line : hwtest::journal(sim, device))
            out += (out.empty() ? "" : "; ") + line.substr(line.compare(0, 6, "ioctl ") ? 0 : 6);
        sim.clear_journal();
        return out;
    }

    platform::SimBoard sim;
    E1Ctl e1;
    hwtest::ServiceRig rig{sim};
};

TEST_F(E1Test, TrunkStatusOfEachPresentTrunkEverySecond)
{
    // Each field holds its own record offset, so a field read from the wrong place shows.
    sim.execute("device /dev/maintenance present");
    sim.execute("e1 status 1 state=2 slips=36 lossBF=40 lossCarrier=44 ais=48 rai=52");
    sim.execute("e1 absent 2 on");
    Capture cerr(std::cerr);
    connect();
    const std::string round = "status 0 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0; "
                              "status 1 e1 state=2 slips=36 bf=40 carrier=44 ais=48 rai=52; "
                              "status 3 e1 state=0 slips=0 bf=0 carrier=0 ais=0 rai=0";
    EXPECT_EQ(round, rig.received());
    EXPECT_EQ("E1: synchronization status read fail, trunk = 2 cause = No such device\n", cerr.text());
    run_for(1500);
    EXPECT_EQ(round, rig.received()) << "one more round after a second";
}

TEST_F(E1Test, TrunkCfgSetsTheTransmitClockMask)
{
    connect();
    EXPECT_EQ("open missing; open missing", journal("/dev/maintenance"));
    struct Case {
        const char* inject;
        int trunk;
        bool slave;
        const char *journal, *log;
    };
    const Case cases[] = {
        {"", 2, true, "open missing", ""},
        {"device /dev/maintenance present", 2, true, "open; tclk mask=0x00000004 -> 0", "E1: TCLT = 0x4\n"},
        {"", 40, true, "tclk mask=0x00000004 -> 0", "E1: TCLT = 0x4\n"},
        {"", 31, true, "tclk mask=0x80000004 -> 0", "E1: TCLT = 0x80000004\n"},
        {"", 2, false, "tclk mask=0x80000000 -> 0", "E1: TCLT = 0x80000000\n"},
        {"", -1, true, "", ""},
        {"fail /dev/maintenance tclk EIO 1", 0, true, "tclk mask=0x80000001 -> -1 EIO",
         "E1: fail to set TCLK [cause=Input/output error]\n"},
    };
    int seq = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.trunk) + (c.slave ? " slave" : " master"));
        ASSERT_TRUE(!*c.inject || sim.execute(c.inject) == "ok\n");
        Capture clog(std::clog), cerr(std::cerr);
        EXPECT_EQ("success", rig.send(hwtest::trunkCfg(seq++, c.trunk, c.slave)));
        EXPECT_EQ(c.journal, journal("/dev/maintenance"));
        EXPECT_EQ(c.log, clog.text() + cerr.text());
    }
}

// Each row: a board command, the controller's CAS command, what the
// controller receives (the cas signals come before the answer) and what
// the CAS driver was asked.
TEST_F(E1Test, CasCommandsReportEveryOutcomeInCasSignals)
{
    connect();
    journal("/dev/e1-cas");
    struct Case {
        const char *inject, *command, *received, *journal;
    };
    const Case cases[] = {
        {"", "open 1 5 9", "success", "open missing"},
        {"device /dev/e1-cas present", "open 1 5 9", "cas 1/0 rx=0 tx=0; cas 1/5 rx=0 tx=9; success",
         "open; open trunk=1 -> 0; configure trunk=1 ts=5 abcd=0x9 close=0 -> 0; get trunk=1 ts=5 -> 0 "
         "rx=0x0 tx=0x9"},
        {"", "open 1 16 3", "cas 1/0 rx=0 tx=0; success", ""},
        {"", "close 1 5", "cas 1/5 rx=-1 tx=1; success", "configure trunk=1 ts=5 abcd=0x0 close=1 -> 0"},
        {"", "close 1 16", "success", ""},
        {"", "set 2 7 22", "cas 2/0 rx=0 tx=0; cas 2/7 rx=0 tx=6; success",
         "open trunk=2 -> 0; configure trunk=2 ts=7 abcd=0x6 close=0 -> 0; get trunk=2 ts=7 -> 0 rx=0x0 "
         "tx=0x6"},
        {"fail /dev/e1-cas open EIO 1", "open 3 1 1", "cas 3/0 rx=-1 tx=0; success",
         "open trunk=3 -> -1 EIO"},
        {"", "get 3 1", "success", ""},
        {"", "open 4 1 1", "success", ""},
        {"fail /dev/e1-cas configure EIO 1", "open 2 9 1", "cas 2/0 rx=0 tx=0; cas 2/9 rx=-1 tx=0; success",
         "configure trunk=2 ts=9 abcd=0x1 close=0 -> -1 EIO"},
        {"fail /dev/e1-cas get EIO 1", "get 2 7", "cas 2/7 rx=-1 tx=0; success",
         "get trunk=2 ts=7 -> -1 EIO"},
        {"", "close 1 0", "cas 1/0 rx=1 tx=0; success", "close trunk=1 -> 0"},
        {"", "close 1 0", "success", ""},
        {"", "no cas", "success", ""},
    };
    int seq = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        ASSERT_TRUE(!*c.inject || sim.execute(c.inject).find("ok\n") != std::string::npos);
        Capture clog(std::clog);
        EXPECT_EQ(c.received, rig.send(hwtest::casCommand(seq++, c.command)));
        EXPECT_EQ(c.journal, journal("/dev/e1-cas"));
    }
    // The driver's bit change reaches the controller from the loop.
    ASSERT_EQ("records=1\nok\n", sim.execute("cas rx 2 7 12"));
    run_for(10);
    EXPECT_EQ("cas 2/7 rx=12 tx=6", rig.received());
}

// A descriptor that fails is let go once, never polled again.
TEST_F(E1Test, AFailedCasDescriptorIsLoggedOnceAndNoLongerWatched)
{
    sim.set_present("/dev/e1-cas", true);
    struct Case {
        const char* what;
        int fd;
        short revents;
        const char* log;
    };
    int ends[2];
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0, ends));
    ASSERT_EQ(0, ::send(ends[1], "", 0, 0));
    const int dir = ::open("/", O_RDONLY | O_DIRECTORY);
    const Case cases[] = {
        {"an empty record", ends[0], POLLIN, ""},
        {"a read error", dir, POLLIN, "E1: cas interface lost: Is a directory\n"},
        {"a hang-up", ends[0], POLLIN | POLLHUP, "E1: cas interface lost: POLLHUP\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Capture clog(std::clog), cerr(std::cerr);
        ASSERT_TRUE(e1.CheckOpenCas());
        ASSERT_TRUE(e1.casWatched());
        e1.OnUpdateCas(c.fd, c.revents);
        EXPECT_EQ(c.log, cerr.text());
        EXPECT_EQ(*c.log == 0, e1.casWatched());
    }
    ::close(ends[0]);
    ::close(ends[1]);
    ::close(dir);
}

} // namespace
