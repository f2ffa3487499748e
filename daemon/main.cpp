// quelvad: the gateway server's entry point. Start-up runs its table of steps
// (startup.cpp), the event loop runs until SIGTERM or SIGINT, then the stop.
// This file holds what start-up calls back: the signal handlers, the option
// table and the signal check run inside the loop.
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "daemon/startup.hpp"
#include "hardware/bus_ctl.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "platform/paths.hpp"
#include "platform/sim_board.hpp"
#include "runtime/clock.hpp"
#include "runtime/daemon.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/syslog.hpp"
#include "runtime/system.hpp"
#include "runtime/version.hpp"
#include "slots/slots.hpp"

namespace
{

// Set by the handlers, read and cleared by CheckSignals inside the loop.
volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;
int print_version = 0;

const char statusFile[] = "/var/log/server-status";

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

// Writes the whole text. A FIFO's reader gets one second in all to take it;
// one that is slower ends the dump, as a full file system or an I/O error
// does: the loop must not wait for it.
bool WriteDump(int fd, const std::string& text)
{
    const std::uint32_t start = Mux::milliseconds();
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n > 0) {
            done += std::size_t(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            multiplexer.ping_watchdog();
            const std::int32_t spent = std::int32_t(Mux::milliseconds() - start);
            pollfd p{fd, POLLOUT, 0};
            if (spent >= 1000 || (::poll(&p, 1, int(1000 - spent)) == 0))
                return false;
        } else if (n == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

void CheckDumpStatus()
{
    if (!doDumpStatus)
        return;
    doDumpStatus = 0;
    // Rewritten whole in place on each request; a link named by the fixed
    // path is written through. The open never waits: a FIFO that nobody
    // reads fails it (ENXIO) instead of holding the loop.
    const int fd = ::open(Paths::resolve(statusFile).c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        std::cerr << "dump status error" << std::endl;
        return;
    }
    std::ostringstream os;
    os << "Tavrel quelvad gateway server status"
       << "\n";
    os << "version : " << Version::current << "\n";
    multiplexer.dump(os);
    syslogManager.dump(os);
    const bool written = WriteDump(fd, os.str());
    if (::close(fd) != 0 || !written)
        std::cerr << "dump status error" << std::endl;
}

void CheckUpdateResources()
{
    if (!updateResources)
        return;
    updateResources = 0;
    std::clog << "update hardware resources" << std::endl;
    Slots::instance().UpdateHardwareResources();
}

} // namespace

namespace Startup
{

void InstallSignalHandlers(State&)
{
    IPC::Signal::handle(SIGPIPE, SigPipeHandler, SA_RESTART);
    IPC::Signal::handle(SIGTERM, SigTermHandler, 0);
    IPC::Signal::handle(SIGINT, SigTermHandler, 0);
    IPC::Signal::handle(SIGUSR2, SigUsr2Handler, SA_RESTART);
    IPC::Signal::handle(SIGHUP, SigHupHandler, SA_RESTART);
}

void ParseCommandLine(State& state)
{
    opterr = 1;
    for (;;) {
        const int c = getopt_long(state.argc, state.argv, "Dh", long_options, nullptr);
        if (c == -1)
            break;
        switch (c) {
        case 'D':
            state.daemonMode = true;
            break;
        case 10:
            // At once, so that it holds even when a later option ends the process.
            BusCtl::instance().DisableControl();
            break;
        case 'p':
            if (!ParsePort(optarg, state.port))
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
    state.printVersion = print_version != 0;
}

void CheckSignals()
{
    CheckDumpStatus();
    CheckUpdateResources();
}

} // namespace Startup

int main(int argc, char** argv)
{
    // Before the first line is written, so that no failed write silences a
    // stream for good.
    Daemon::KeepStandardStreamsWriting();
    // Before anything opens a device: on a development machine the simulated
    // board stands in for the drivers.
    // Static, so that it outlives the hardware services created after it:
    // they still ask their devices when they are destroyed at exit.
    static std::unique_ptr<platform::SimBoard> simBoard(platform::installSimBoardFromEnvironment());

    Startup::State state;
    state.argc = argc;
    state.argv = argv;
    state.simBoard = simBoard.get();
    Startup::Run(state);

    multiplexer.run(true, true);

    Startup::Stop(state);
    return 0;
}
