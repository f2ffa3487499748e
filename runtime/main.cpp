// quelvad: the gateway server's entry point. main runs start-up in its fixed
// order (configuration, signal handlers, command line, single instances,
// daemon mode, pid file, services, child waits, signal check, controller
// acceptor), then the event loop until SIGTERM or SIGINT, then the stop.
#include <getopt.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "control/acceptor.hpp"
#include "control/ctrl_server.hpp"
#include "control/heartbeat.hpp"
#include "hardware/bus_ctl.hpp"
#include "hardware/hw_mux.hpp"
#include "hardware/hw_tests.hpp"
#include "hardware/spi_ctrl.hpp"
#include "platform/paths.hpp"
#include "platform/sim_board.hpp"
#include "runtime/child_wait.hpp"
#include "runtime/daemon.hpp"
#include "runtime/dpc.hpp"
#include "runtime/event.hpp"
#include "runtime/inifile.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/system.hpp"
#include "runtime/traces.hpp"
#include "runtime/version.hpp"

namespace
{

// Set by the handlers, read and cleared by CheckSignals inside the loop.
volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;
int print_version = 0;

const char configFile[] = "/usr/local/etc/server.conf";
const char cfgTraces[] = "traces";
const char statusFile[] = "/var/log/server-status";
const char runName[] = "server";
const int defaultPort = 20001;

// clang-format off
const option long_options[] = {
    {"daemon",        no_argument,       nullptr,        'D'},
    {"disable-clock", no_argument,       nullptr,        10},
    {"port",          required_argument, nullptr,        'p'},
    {"version",       no_argument,       &print_version, 1},
    {"help",          no_argument,       nullptr,        'h'},
    {nullptr,         0,                 nullptr,        0},
};
// clang-format on

const char sUsageText[] = "Usage:\n"
                          " quelvad -Dh\n"
                          "  -D --daemon                      run as daemon\n"
                          "  -p --port                        use this port\n"
                          "     --disable-clock               disable clock control\n"
                          "     --version                     print version\n"
                          "  -h --help                        display this information\n";

[[noreturn]] void Usage(int code)
{
    std::cout << sUsageText << std::endl;
    std::exit(code);
}

// Only a plain decimal number from 1 to 65535 names a port: anything else
// would make the daemon listen somewhere nobody asked for.
bool ParsePort(const char* text, int& port)
{
    long value = 0;
    if (!text || !*text)
        return false;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + (*p - '0');
        if (value > 65535)
            return false;
    }
    if (value < 1)
        return false;
    port = int(value);
    return true;
}

// The handlers only store a byte and wake the loop, so that a signal that
// arrives just before poll() is seen at once and not after the next event.
void SigPipeHandler(int, siginfo_t*, void*) {}

void SigTermHandler(int, siginfo_t*, void*)
{
    multiplexer.terminate();
}

void SigUsr2Handler(int, siginfo_t*, void*)
{
    doDumpStatus = 1;
    multiplexer.wake();
}

void SigHupHandler(int, siginfo_t*, void*)
{
    updateResources = 1;
    multiplexer.wake();
}

void RunDaemon()
{
    std::ostringstream identity;
    identity << "qvd-" << Version::current;
    Daemon::Params params;
    params.name = identity.str();
    Daemon::Init(params);
}

void CheckDumpStatus()
{
    if (!doDumpStatus)
        return;
    doDumpStatus = 0;
    std::ofstream os(Paths::resolve(statusFile), std::ios::out | std::ios::trunc);
    if (!os) {
        std::cerr << "dump status error" << std::endl;
        return;
    }
    os << "Tavrel quelvad gateway server status"
       << "\n";
    os << "version : " << Version::current << "\n";
    multiplexer.dump(os);
}

void CheckUpdateResources()
{
    if (!updateResources)
        return;
    updateResources = 0;
    std::clog << "update hardware resources" << std::endl;
    // The slot manager sends the controller a fresh resource report here
    // (Slots::instance()->UpdateHardwareResources()) once it exists.
}

void CheckSignals()
{
    CheckDumpStatus();
    CheckUpdateResources();
}

// Serves the simulated board's control socket and devices inside the loop.
class SimBoardWatch
{
public:
    explicit SimBoardWatch(platform::SimBoard* sim) : mSim(sim)
    {
        if (!mSim)
            return;
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

} // namespace

int main(int argc, char** argv)
{
    // Before anything opens a device: on a development machine the simulated
    // board stands in for the drivers.
    // Static, so that it outlives the hardware services created after it:
    // they still ask their devices when they are destroyed at exit.
    static std::unique_ptr<platform::SimBoard> simBoard(platform::installSimBoardFromEnvironment());

    opterr = 1;
    int port = defaultPort;
    bool daemonMode = false;

    IniFile::File config;
    if (config.Open(Paths::resolve(configFile))) {
        traces = TraceCtl();
        traces.Configure(config[cfgTraces]);
    }

    IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
    IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
    IPC::Signal::handle(SIGINT, SigTermHandler, 0);
    IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
    IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);

    for (;;) {
        const int c = getopt_long(argc, argv, "Dh", long_options, nullptr);
        if (c == -1)
            break;
        switch (c) {
        case 'D':
            daemonMode = true;
            break;
        case 10:
            // At once, so that it holds even when a later option ends the process.
            BusCtl::instance().DisableControl();
            break;
        case 'p':
            if (!ParsePort(optarg, port))
                Usage(2);
            break;
        case 'h':
            Usage(0);
        case '?':
        case ':':
            Usage(2);
        default:
            break;
        }
    }

    if (print_version) {
        std::cout << "server version: " << Version::current << std::endl;
        return 2;
    }

    // Single instances, in this order once their subsystems exist: the slot
    // factories MapFactory, PstnFactory, RtpFactory, ModemFactory,
    // Mixer::MixerFactory, ExtFactory, MccFactory, EchoFactory, VoiceFactory,
    // T38SoftFactory, IsdnFactory, RtpLEMZFactory, RtpED137Factory,
    // HdlcSlotFactory (the slot manager asks them newest first).

    // The TDM switch, which opens its device.
    HwMux::instance();

    // Then MonitoringCtl::instance()->Configure(config), whether the file opened or not.

    if (daemonMode)
        RunDaemon();

    Linux::Run pidFile(runName);

    std::cout << "Starting server "
              << "[" << Version::current << "]"
              << ", port=" << port << std::endl;

    // The services, in the order in which a command is offered to them.
    ctrlServer.Bind(&HeartBeatCtl::instance());
    // Slots::instance() (slot manager) here once it exists.
    ctrlServer.Bind(&HwTests::instance());
    ctrlServer.Bind(&BusCtl::instance());
    // E1Ctl::instance() here once it exists.
    ctrlServer.Bind(&spiCtrl::instance());
    // MonitoringCtl::instance() here once it exists.

    ChildWait::Activate();

    Dpc signalCheck;
    signalCheck.Bind(CheckSignals);
    signalCheck.Activate();

    SimBoardWatch simWatch(simBoard.get());

    ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));

    multiplexer.run(true, true);

    ctrlServer.Deactivate();
    return 0;
}
