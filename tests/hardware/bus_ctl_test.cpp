// The bus clock over the simulated board: the clockCfg mappings and the
// default clock at connect. Clock control switched off and a missing device
// are the end-to-end hardware tests' rows.
#include "hardware/bus_ctl.hpp"

#include "platform/devices.hpp"
#include "tests/hardware/service_rig.hpp"

namespace
{

// The lines of the error stream that name the outcome (the command's value
// notation is left out).
std::string outcome(const std::string& err)
{
    std::string out;
    for (const char* key :
         {"clkctl: clock source = ", "clkctl: HW_CLOCK_SELECT fail.", "clkctl: set clock source fail"}) {
        const std::size_t at = err.find(key);
        if (at != std::string::npos)
            out += err.substr(at, err.find('\n', at) - at + 1);
    }
    return out;
}

TEST(BusCtl, ClockCfgSelectsTheSourceAndIsAlwaysASuccess)
{
    struct Case {
        bool internal, extEnabled;
        int source;
        const char* clock; // "hal clock" afterwards
        const char* err;
    };
    const Case cases[] = {
        {true, true, 2, "clock 4\n", "clkctl: clock source = freerun\n"},
        {false, false, 2, "clock 5\n", "clkctl: clock source = X3\n"},
        {false, true, 2, "clock 2\n", "clkctl: clock source = f2\n"},
        {false, true, -1, "clock 2\n", ""},
        {false, true, 9, "clock 9\n", "clkctl: clock source = 9\n"},
        {false, true, 16, "clock 9\n", "clkctl: HW_CLOCK_SELECT fail.\n"},
    };
    platform::SimBoard sim;
    hwtest::ServiceRig rig(sim);
    BusCtl bus;
    ctltest::Capture cerr(std::cerr);
    rig.connect({&bus});
    EXPECT_EQ("clkctl: clock source = freerun\n", outcome(cerr.text())) << "the default clock at connect";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        cerr.clear();
        EXPECT_EQ("success", rig.command(hwtest::clockCfg(c.internal, c.extEnabled, c.source)));
        EXPECT_EQ(c.err, outcome(cerr.text()));
        EXPECT_EQ(std::string(c.clock) + "ok\n", sim.execute("hal clock"));
    }
}

} // namespace
