// The hardware services of the running daemon over the simulated board: clock
// control switched off, the BRI line reports (and their last pass when the
// board loses SPI access), and the daemon started without its board driver,
// whose bus clock and bus test commands still reach their services.
#include <unistd.h>

#include "tests/e2e/fixture.hpp"
#include "tests/hardware/lgcp_text.hpp"

namespace
{

using e2etest::Lines;

class Hardware : public e2etest::DaemonTest
{
protected:
    void start(const std::vector<std::string>& args = {}, const std::string& init = {})
    {
        DaemonTest::start({args, {}, init});
        ASSERT_EQ("success", ask(ping));
    }
    const LGCP::Command ping{LGCP::Command::ping::value, ASN1::Null()};
    // The answer to a command; signals that come first are kept in `signals`.
    std::string ask(const LGCP::Command& c)
    {
        LGCP::Message m;
        m.set_seq(++mSeq);
        m.set_pdu().select_command(c);
        if (!send(m))
            return "(not sent" + because() + ")";
        std::string s;
        while ((s = texts(1, hwtest::text, true)).compare(0, 5, "(none") != 0 && !hwtest::isAnswer(s))
            signals.push_back(s);
        return s;
    }

    Lines signals;
    int mSeq = 0;
};

TEST_F(Hardware, DisabledClockControlAnswersUnsupported)
{
    start({"--disable-clock"});
    EXPECT_EQ("error 6", ask(hwtest::clockCfg(false, true, 2)));
    EXPECT_EQ(Lines(), journal("/dev/hal clock"));
    EXPECT_TRUE(daemon.wait_err("clock control disabled.\n"));
}

TEST_F(Hardware, LineInterfacesReportOnceASecondWhileConnected)
{
    start({}, "hal spi 3 0x33 0x05\n");
    std::string last = "success";
    while (signals.size() < 8 && (last = ask(ping)) == "success") {
    }
    ASSERT_LE(8u, signals.size()) << last;
    EXPECT_EQ("status 0 bri state=0 slips=0 bf=0 carrier=0 ais=0 rai=0", signals[0]);
    EXPECT_EQ("status 3 bri state=2 slips=0 bf=0 carrier=0 ais=0 rai=0", signals[3]);
    EXPECT_EQ("status 7 bri state=0 slips=0 bf=0 carrier=0 ais=0 rai=0", signals[7]);
}

TEST_F(Hardware, LineInterfacesLosingSpiReportThatPassAsAisAndStop)
{
    start();
    std::string last = "success";
    while (signals.size() < 8 && (last = ask(ping)) == "success") {
    }
    ASSERT_LE(8u, signals.size()) << last;
    EXPECT_EQ("ok\n", daemon.board("hal nospi on"));
    // The watchdog is fed once a second by the loop's clock: four feeds after
    // SPI went, the pass that found it gone and the one after have both run.
    const int from = watchdog_pings();
    ASSERT_GE(from, 0) << because();
    while (watchdog_pings() < from + 4 && (last = ask(ping)) == "success")
        ::usleep(50000);
    ASSERT_EQ("success", ask(ping));
    Lines ais, afterAis;
    for (const std::string& s : signals) {
        if (s.find(" state=3 ") != std::string::npos)
            ais.push_back(s);
        else if (!ais.empty())
            afterAis.push_back(s);
    }
    Lines expected;
    for (int ch = 0; ch < 8; ++ch)
        expected.push_back("status " + std::to_string(ch) +
                           " bri state=3 slips=0 bf=0 carrier=0 ais=0 rai=0");
    EXPECT_EQ(expected, ais);
    EXPECT_EQ(Lines(), afterAis);
    EXPECT_TRUE(daemon.wait_err("spi: hal without spi\n"));
}

TEST_F(Hardware, WithoutTheBoardDriverTheDaemonKeepsServing)
{
    start({}, "device /dev/hal missing\n");
    EXPECT_EQ("success", ask(hwtest::clockCfg(false, true, 2)));
    EXPECT_EQ("error 10", ask(hwtest::testBpc(7, 1, hwtest::Mode::read))) << "every read gives 255";
    EXPECT_EQ("success", ask(ping));
    for (const char* line :
         {"hwMux: init\nhwMux: can't open device: No such file or directory\n",
          "spi: try init\nspi: /dev/hal open fail\n", "clkctl: set clock source fail: code 1.\n"})
        EXPECT_TRUE(daemon.wait_err(line)) << line;
}

} // namespace
