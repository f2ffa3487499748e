// The BRI line interfaces over the simulated board's SPI registers.
#include "hardware/spi_ctrl.hpp"

#include <sstream>

#include "platform/devices.hpp"
#include "platform/sim/hal_model.hpp"
#include "runtime/clock.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/timer.hpp"
#include "tests/hardware/service_rig.hpp"

namespace
{

using Lines = std::vector<std::string>;

// The loop on virtual time, run for a stretch of it.
class VirtualLoop
{
public:
    VirtualLoop()
    {
        mClock.set_ms(1000000);
        Mux::setClock(&mClock);
    }
    ~VirtualLoop() { Mux::setClock(nullptr); }
    void run_for(unsigned ms)
    {
        Timer stop;
        stop.set(ms, &VirtualLoop::stop, this);
        multiplexer.run(false, true);
    }

private:
    void stop() { multiplexer.terminate(); }
    Mux::TestClock mClock;
};

TEST(SpiCtrl, InitialisesAndEnablesEveryLineAtStart)
{
    platform::SimBoard sim;
    hwtest::ServiceRig rig(sim);
    ctltest::Capture clog(std::clog);
    spiCtrl spi;
    const Lines lines = hwtest::journal(sim, platform::hal::kPath);
    ASSERT_EQ(1u + 8 * 8, lines.size());
    EXPECT_EQ(
        (Lines{"open", "ioctl spi-write ch=0 reg=0x32 data=0x80 -> 0",
               "ioctl spi-write ch=0 reg=0x30 data=0x08 -> 0", "ioctl spi-write ch=0 reg=0x57 data=0x30 -> 0",
               "ioctl spi-write ch=0 reg=0x34 data=0x60 -> 0", "ioctl spi-write ch=0 reg=0x35 data=0x00 -> 0",
               "ioctl spi-write ch=0 reg=0x36 data=0x00 -> 0", "ioctl spi-write ch=0 reg=0x37 data=0x00 -> 0",
               "ioctl spi-write ch=0 reg=0x32 data=0x00 -> 0"}),
        Lines(lines.begin(), lines.begin() + 9));
    EXPECT_EQ("ioctl spi-write ch=7 reg=0x32 data=0x00 -> 0", lines.back());
    EXPECT_EQ(0u, clog.text().find("spi: try init\nspi: init channel 0\nspi: enable channel 0\n"));
    // The descriptor is the service's own and never reaches a child program.
    EXPECT_EQ(1u, sim.open_count(platform::hal::kPath));
}

TEST(SpiCtrl, ReportsEachLineFromItsStatusRegister)
{
    // Register 0x33 per line, and the state and slips the controller hears;
    // the slip flag is one for all lines.
    struct Line {
        int reg, state, slips;
    };
    const Line lines[] = {
        {0xC4, 1, 0},               // lossBF before normal,
        {0x05, 2, 0},               // lossCarrier before lossBF,
        {0x84, 1, 0},               // lossBF before rai,
        {0x80, 4, 0}, {0x44, 1, 0}, // lossBF before ais
        {0xE0, 0, 1}, {0xE0, 0, 0}, // the flag is still set
        {0x40, 3, 0},
    };
    platform::SimBoard sim;
    hwtest::ServiceRig rig(sim);
    ctltest::Capture clog(std::clog);
    spiCtrl spi;
    std::string expected;
    for (int ch = 0; ch < 8; ++ch) {
        sim.model<platform::sim::HalModel>()->set_spi(unsigned(ch), 0x33, std::uint8_t(lines[ch].reg));
        expected += (ch ? "; status " : "status ") + std::to_string(ch) +
                    " bri state=" + std::to_string(lines[ch].state) +
                    " slips=" + std::to_string(lines[ch].slips) + " bf=0 carrier=0 ais=0 rai=0";
    }
    rig.connect({&spi});
    EXPECT_TRUE(spi.is_reporting()) << "the first report a period after connect";
    spi.status();
    EXPECT_EQ(expected, rig.received());
    rig.server.OnDisconnect();
    EXPECT_FALSE(spi.is_reporting());
}

TEST(SpiCtrl, ABoardWithoutSpiEndsAllAccessOnce)
{
    // The pass that finds SPI gone still reports every line, each as ais
    // (the failed read and the lines after it); only the next pass stops.
    std::string ais;
    for (int ch = 0; ch < 8; ++ch)
        ais += (ch ? "; status " : "status ") + std::to_string(ch) +
               " bri state=3 slips=0 bf=0 carrier=0 ais=0 rai=0";
    struct Case {
        bool atStart; // no SPI from the first request on, or lost after connect
        std::string pass, log;
        unsigned requests;
    };
    const Case cases[] = {
        {true, "", "", 0},
        {false, ais, "spi: hal without spi\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.atStart);
        VirtualLoop loop;
        platform::SimBoard sim;
        hwtest::ServiceRig rig(sim);
        if (c.atStart)
            sim.execute("hal nospi on");
        ctltest::Capture clog(std::clog);
        spiCtrl spi;
        rig.connect({&spi});
        sim.execute("hal nospi on");
        clog.clear();
        sim.clear_journal();
        loop.run_for(spiCtrl::kStatusPeriodMs);
        EXPECT_EQ(c.pass, rig.received());
        EXPECT_EQ(!c.atStart, spi.is_reporting()) << "the pass that lost SPI arms the next";
        loop.run_for(spiCtrl::kStatusPeriodMs);
        spi.clock(2);
        spi.init_channel(1);
        EXPECT_EQ("", rig.received());
        std::string spiLines; // the loop's own lines aside
        std::istringstream text(clog.text());
        for (std::string line; std::getline(text, line);)
            spiLines += line.compare(0, 4, "spi:") ? "" : line + "\n";
        EXPECT_EQ(c.log, spiLines);
        EXPECT_FALSE(spi.is_reporting());
        EXPECT_EQ(c.requests, hwtest::journal(sim, platform::hal::kPath).size());
        EXPECT_FALSE(spi.spi_available());
    }
}

TEST(SpiCtrl, ClockMasterAndBadChannels)
{
    struct Case {
        int channel;
        const char* log;
        unsigned writes;
        const char* master; // register 0x57 of line 3
    };
    const Case cases[] = {
        {3, "spi: set clock master on channel 3\n", 9, "0x38\nok\n"},
        {-1, "spi: clock master disabled\n", 8, "0x30\nok\n"},
        {8, "spi: bad channel for set clock master 8\n", 0, "0x30\nok\n"},
        {-2, "spi: bad channel for set clock master -2\n", 0, "0x30\nok\n"},
    };
    platform::SimBoard sim;
    hwtest::ServiceRig rig(sim);
    ctltest::Capture clog(std::clog);
    spiCtrl spi;
    for (const Case& c : cases) {
        clog.clear();
        sim.clear_journal();
        spi.clock(c.channel);
        EXPECT_EQ(c.log, clog.text());
        EXPECT_EQ(c.writes, hwtest::journal(sim, platform::hal::kPath).size()) << c.channel;
        EXPECT_EQ(c.master, sim.execute("hal spi 3 0x57"));
    }
}

} // namespace
