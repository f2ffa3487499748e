// Start-up's first steps, up to the binding of the services: the factory
// chain as the slot manager walks it and the services in the order a command
// is offered to them.
#include "daemon/startup.hpp"

#include <cstdlib>
#include <cxxabi.h>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "control/ctrl_server.hpp"
#include "platform/sim_board.hpp"
#include "slots/factory.hpp"
#include "tests/runtime/test_util.hpp"

// What main.cpp gives start-up; the command line and the handlers are the
// end-to-end tests' part.
namespace Startup
{
void InstallSignalHandlers(State&) {}
void ParseCommandLine(State&) {}
void CheckSignals() {}
} // namespace Startup

namespace
{

// A class name as the source spells it.
std::string TypeName(std::type_info const& type)
{
    int status = -1;
    const std::unique_ptr<char, void (*)(void*)> name(
        abi::__cxa_demangle(type.name(), nullptr, nullptr, &status), std::free);
    return status == 0 ? name.get() : type.name();
}

// Each factory links itself at the head of the chain as it is made: the E1
// trunk factories 0 to 3 and the BRI ones 0 to 7 at static initialisation,
// then the others in start-up's order; the chain is asked newest first. A
// command is offered to the services in the order they are bound.
TEST(StartUp, FactoryChainAndServicesInTheirOrder)
{
    testutil::TempDir root;
    // Outlives the single instances, which still ask their devices at exit.
    static platform::SimBoard sim;
    platform::setBoard(&sim);

    Startup::State state;
    Startup::Run(state, "services");

    // clang-format off
    const std::vector<std::string> made = {
        "TrunkFactory", "TrunkFactory", "TrunkFactory", "TrunkFactory",
        "TrunkBRIFactory", "TrunkBRIFactory", "TrunkBRIFactory", "TrunkBRIFactory",
        "TrunkBRIFactory", "TrunkBRIFactory", "TrunkBRIFactory", "TrunkBRIFactory",
        "MapFactory", "PstnFactory", "RtpFactory", "ModemFactory", "Mixer::MixerFactory", "ExtFactory",
        "MccFactory", "EchoFactory", "VoiceFactory", "T38SoftFactory", "IsdnFactory", "RtpLEMZFactory",
        "RtpED137Factory", "HdlcSlotFactory",
    };
    // clang-format on
    std::vector<std::string> chain;
    for (SlotFactory* f = firstFactory; f; f = f->GetNext())
        chain.insert(chain.begin(), TypeName(typeid(*f)));
    EXPECT_EQ(made, chain);

    std::vector<std::string> services;
    for (CtrlSrv::Service* s : state.services) {
        EXPECT_EQ(&ctrlServer, s->GetServer()) << TypeName(typeid(*s));
        services.push_back(TypeName(typeid(*s)));
    }
    const std::vector<std::string> bound = {"HeartBeatCtl", "Slots",   "HwTests",      "BusCtl",
                                            "E1Ctl",        "spiCtrl", "MonitoringCtl"};
    EXPECT_EQ(bound, services);

    Startup::Stop(state);
}

} // namespace
