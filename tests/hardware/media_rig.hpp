#pragma once
// The tone and DSP services under test: the simulated board installed, the
// loop on virtual time (the tone driver stamps its generator history with it),
// fresh services, their log streams captured, and a way to run the loop for a
// stretch of virtual time.
#include <string>
#include <vector>

#include "hardware/dsp.hpp"
#include "hardware/tone.hpp"
#include "platform/sim/dsp_model.hpp"
#include "platform/sim/dtmf_model.hpp"
#include "platform/sim_board.hpp"
#include "runtime/clock.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/timer.hpp"
#include "tests/hardware/service_rig.hpp"
#include "tests/runtime/test_util.hpp"

namespace hwtest
{

class MediaRig
{
public:
    MediaRig()
    {
        clock.set_ms(1000000);
        Mux::setClock(&clock);
        platform::setBoard(&sim);
        sim.model<platform::sim::DtmfModel>()->set_clock([this] { return clock.monotonic_us() / 1000; });
        tone.reset(new Hardware::TonecReceiverService);
        dsp.reset(new Hardware::DSProcReceiverService);
        sim.clear_journal();
        err.clear(), log.clear();
    }
    ~MediaRig()
    {
        dsp.reset();
        tone.reset();
        platform::setBoard(nullptr);
        Mux::setClock(nullptr);
    }

    // Runs the loop until `ms` of virtual time have passed.
    void run_for(unsigned ms)
    {
        Timer stop;
        stop.set(ms, &MediaRig::stop, this);
        multiplexer.run(false, true);
    }
    void stop() { multiplexer.terminate(); }

    // The device's journal lines without the path and without "ioctl ": "enable ts=5 id=1 -> 0".
    std::vector<std::string> lines(const std::string& path) const
    {
        std::vector<std::string> out = journal(sim, path);
        for (std::string& line : out)
            line.erase(0, line.compare(0, 6, "ioctl ") ? 0 : 6);
        return out;
    }
    std::string command(const std::string& line) { return sim.execute(line); }

    testutil::Capture err{std::cerr}, log{std::clog}; // from the end of the set-up
    Mux::TestClock clock;
    platform::SimBoard sim;
    std::unique_ptr<Hardware::TonecReceiverService> tone;
    std::unique_ptr<Hardware::DSProcReceiverService> dsp;
};

} // namespace hwtest
