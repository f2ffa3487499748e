#pragma once
// The daemon's start-up in its fixed order, as a table of named steps. Each
// folder that brings a single instance or a controller-facing service adds its
// line to the table in startup.cpp; main only runs the table, the loop and
// the stop.
#include <memory>
#include <vector>

#include "runtime/dpc.hpp"
#include "runtime/inifile.hpp"
#include "runtime/system.hpp"

namespace platform
{
class SimBoard;
}

namespace CtrlSrv
{
class Service;
}

namespace Startup
{

constexpr int kDefaultPort = 20001;

class SimBoardWatch;

// What start-up builds and keeps until the stop, in the order it is built;
// destroyed in reverse when main returns.
struct State {
    int argc = 0;
    char** argv = nullptr;
    platform::SimBoard* simBoard = nullptr;
    int port = kDefaultPort;
    bool daemonMode = false;
    bool printVersion = false;
    IniFile::File config;
    std::unique_ptr<Linux::Run> pidFile;
    // The controller-facing services, in the order they were bound.
    std::vector<CtrlSrv::Service*> services;
    Dpc signalCheck;
    std::unique_ptr<SimBoardWatch> simWatch;

    State();
    ~State();
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

// Runs every step in order, or those up to and including the step named
// `last` (for a test of start-up's first steps). A step may end the process
// (usage, version).
void Run(State& state, const char* last = nullptr);

// After the loop: drops the controller link and its acceptor.
void Stop(State& state);

// Provided by main.cpp, where the handlers and the option table live.
void InstallSignalHandlers(State& state);
void ParseCommandLine(State& state);
void CheckSignals();

} // namespace Startup
