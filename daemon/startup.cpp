#include "daemon/startup.hpp"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <type_traits>
#include <unistd.h>

#include "control/acceptor.hpp"
#include "control/ctrl_server.hpp"
#include "control/heartbeat.hpp"
#include "hardware/bus_ctl.hpp"
#include "hardware/e1ctl.hpp"
#include "hardware/hw_mux.hpp"
#include "hardware/hw_tests.hpp"
#include "hardware/spi_ctrl.hpp"
#include "monitoring/monitoring_ctl.hpp"
#include "platform/paths.hpp"
#include "platform/sim_board.hpp"
#include "radio/factories.hpp"
#include "runtime/child_wait.hpp"
#include "runtime/daemon.hpp"
#include "runtime/event.hpp"
#include "runtime/traces.hpp"
#include "runtime/version.hpp"
#include "signalling/factories.hpp"
#include "slots/factory.hpp"
#include "slots/mcc/mcc_slot.hpp"
#include "slots/mcc/t38_soft.hpp"
#include "slots/mcc/voice.hpp"
#include "slots/mixer/mixer_factory.hpp"
#include "slots/modem/modem_factory.hpp"
#include "slots/rtp/rtp_factory.hpp"
#include "slots/slots.hpp"
#include "slots/switched/echo.hpp"
#include "slots/switched/ext.hpp"
#include "slots/switched/map.hpp"

namespace Startup
{

// Serves the simulated board's control socket and devices inside the loop.
class SimBoardWatch
{
public:
    explicit SimBoardWatch(platform::SimBoard* sim) : mSim(sim)
    {
        mEvent.Bind("simboard", &SimBoardWatch::OnReady, this);
        mEvent.Schedule(Fd(::dup(mSim->pollable_fd())), POLLIN);
    }

private:
    void OnReady(int, short revents)
    {
        if (revents & POLLIN)
            mSim->service();
    }

    platform::SimBoard* mSim;
    Event mEvent;
};

State::State() = default;
State::~State() = default;

namespace
{

// One step of start-up; a step without an action is a place kept for a part
// of the gateway this build does not have yet.
struct Step {
    const char* name;
    void (*action)(State&);
};

const char configFile[] = "/usr/local/etc/server.conf";
const char cfgTraces[] = "traces";
const char runName[] = "server";

// A single instance is created by its first use.
template <class T> void Create(State&)
{
    T::instance();
}

// Some single instances hand out a reference, others a pointer.
template <class T> CtrlSrv::Service* Service()
{
    if constexpr (std::is_pointer_v<decltype(T::instance())>)
        return T::instance();
    else
        return &T::instance();
}

// The controller-facing services, in the order in which a command is offered
// to them; the first use of each creates it.
CtrlSrv::Service* (*const kServices[])() = {
    Service<HeartBeatCtl>, Service<Slots>,   Service<HwTests>,       Service<BusCtl>,
    Service<E1Ctl>,        Service<spiCtrl>, Service<MonitoringCtl>,
};

// The slot factories, each linked at the head of the chain as it is made, so
// the slot manager asks the last one first. The E1 and BRI trunk factories are
// static objects, built before all of these.
void CreateSlotFactories(State&)
{
    MapFactory::instance();
    PstnFactory::instance();
    RtpFactory::instance();
    ModemFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
    VoiceFactory::instance();
    T38SoftFactory::instance();
    IsdnFactory::instance();
    RtpLEMZFactory::instance();
    RtpED137Factory::instance();
    HdlcSlotFactory::instance();
}

// When the file does not open, the trace flags keep their initial values and
// the configuration stays empty.
void ReadConfiguration(State& state)
{
    if (!state.config.Open(Paths::resolve(configFile)))
        return;
    traces = TraceCtl();
    traces.Configure(state.config[cfgTraces]);
}

void PrintVersion(State& state)
{
    if (!state.printVersion)
        return;
    std::cout << "server version: " << Version::current << std::endl;
    std::exit(2);
}

// Also without a configuration file: the agents are then none.
void ConfigureMonitoring(State& state)
{
    MonitoringCtl::instance().Configure(state.config);
}

void RunDaemon(State& state)
{
    if (!state.daemonMode)
        return;
    std::ostringstream identity;
    identity << "qvd-" << Version::current;
    Daemon::Params params;
    params.name = identity.str();
    Daemon::Init(params);
}

// RTP streams created without an SSRC take rand()'s next value: unseeded, every
// run of every gateway would hand out the same sequence. Seeded after
// daemonising, so the pid is the daemon's own.
void SeedRandom(State&)
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    std::srand(unsigned(now.tv_sec) ^ unsigned(now.tv_nsec) ^ (unsigned(::getpid()) << 16));
}

void WritePidFile(State& state)
{
    state.pidFile.reset(new Linux::Run(runName));
}

void AnnounceStart(State& state)
{
    std::cout << "Starting server "
              << "[" << Version::current << "]"
              << ", port=" << state.port << std::endl;
}

// In the order in which a command is offered to them.
void BindServices(State& state)
{
    for (auto service : kServices) {
        CtrlSrv::Service* bound = service();
        ctrlServer.Bind(bound);
        state.services.push_back(bound);
    }
}

void StartChildWaits(State&)
{
    ChildWait::Activate();
}

void StartSignalCheck(State& state)
{
    state.signalCheck.Bind(CheckSignals);
    state.signalCheck.Activate();
}

void ServeSimulatedBoard(State& state)
{
    if (state.simBoard)
        state.simWatch.reset(new SimBoardWatch(state.simBoard));
}

void OpenControllerPort(State& state)
{
    ctrlServer.Activate(new Control::AcceptorNetCheckConnection(state.port));
}

// clang-format off
const Step kSteps[] = {
    {"configuration",       ReadConfiguration},
    {"signal handlers",     InstallSignalHandlers},
    {"command line",        ParseCommandLine},
    {"version",             PrintVersion},
    {"slot factories",      CreateSlotFactories},
    {"tdm switch",          Create<HwMux>},
    {"monitoring",          ConfigureMonitoring},
    {"daemon mode",         RunDaemon},
    {"random seed",         SeedRandom},
    {"pid file",            WritePidFile},
    {"start line",          AnnounceStart},
    {"services",            BindServices},
    {"child waits",         StartChildWaits},
    {"signal check",        StartSignalCheck},
    {"simulated board",     ServeSimulatedBoard},
    {"controller acceptor", OpenControllerPort},
};
// clang-format on

} // namespace

void Run(State& state, const char* last)
{
    for (const Step& step : kSteps) {
        if (step.action)
            step.action(state);
        if (last && std::strcmp(step.name, last) == 0)
            return;
    }
}

void Stop(State&)
{
    ctrlServer.Deactivate();
}

} // namespace Startup
