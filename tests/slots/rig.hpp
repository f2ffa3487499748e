#pragma once
// The slot tests' rig: the slot manager bound to an LGCP server whose
// controller end is a loopback socket, the simulated board behind the TDM
// switch, and each frame the controller receives written as one short text:
//   "ok #7 @5"            success with seq 7 and slot 5
//   "slotNotExists #7 @5" an error answer
//   "@5 transmitter 69"   a stream signal (receiver/transmitter, "off" when inactive)
//   "query", "@5 abort 3" other signals
// Test slot kinds are built by a factory on the chain from `mcc` parameters.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/ctrl_server.hpp"
#include "platform/sim_board.hpp"
#include "slots/factory.hpp"
#include "slots/slot.hpp"
#include "slots/slots.hpp"
#include "tests/control/fixture.hpp"

struct SlotTestAccess {
    static void number(Slot& slot, unsigned n) { slot.mId = n; }
};

namespace slottest
{

// The board every slot test runs on, installed once: the switch keeps its
// descriptor for the whole process.
platform::SimBoard& board();
// The switch requests journalled since the last call, "/dev/hal" lines
// without their prefix, joined by " | ".
std::string hal();
// Disable requests that reached the channel: a disable of an output that is
// already disabled changes nothing and is not journalled.
unsigned disables(int channel);

// A kind whose hooks write what they are asked into a shared log.
struct ProbeSpec {
    ProbeSpec(int t = -1, int r = -1) : tx(t), rx(r) {}
    ProbeSpec& no_out() { return out = false, *this; }
    ProbeSpec& no_in() { return in = false, *this; }
    ProbeSpec& prio(int p) { return priority = p, *this; }
    ProbeSpec& linger() { return lingering = true, *this; }

    int tx, rx;
    bool out = true, in = true; // the stream hooks' answers
    int priority = 0;
    bool lingering = false; // its release is pending until on_release()
};

class Probe : public Slot
{
public:
    Probe(ProbeSpec spec, std::string* log) : mSpec(spec), mLog(log) {}
    ~Probe() override;

    bool IBeforeDestroy() override { return !mSpec.lingering; }
    int GetConnectionPriority() override { return mSpec.priority; }
    bool IHwConnectTransmitter(Slot& r) override
    {
        return note("tx.connect"), Slot::IHwConnectTransmitter(r);
    }
    bool IHwConnectReceiver(Slot& t) override { return note("rx.connect"), Slot::IHwConnectReceiver(t); }
    bool IHwDisconnectTransmitter(Slot& r) override
    {
        return note("tx.disconnect"), Slot::IHwDisconnectTransmitter(r);
    }
    bool IHwDisconnectReceiver(Slot& t) override
    {
        return note("rx.disconnect"), Slot::IHwDisconnectReceiver(t);
    }
    bool IOnOutputStream() override { return note("out.start"), mSpec.out; }
    bool IOnInputStream() override { return note("in.start"), mSpec.in; }
    void IOnOutputRelease() override { note("out.release"); }
    void IOnInputRelease() override { note("in.release"); }
    int IGetTransmitChannel() override { return mSpec.tx; }
    int IGetReceiveChannel() override { return mSpec.rx; }
    char const* GetName() const override { return "probe"; }

private:
    void note(const char* what);
    ProbeSpec mSpec;
    std::string* mLog;
};

// Builds a Probe for `mcc` parameters from the spec set before the create.
class ProbeFactory : public SlotFactory
{
public:
    static ProbeFactory& instance();
    char const* GetName() const override { return "Probe"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
    void SelfSignal(LGCP::Signal const& signal) override;

    ProbeSpec next;
    std::string log;
    int trunk_status = 0;
};

// Commands and creation parameters.
LGCP::Command create(LGCP::CreateParams const& params);
LGCP::Command connect(unsigned n);
LGCP::Command command(int alternative); // a NULL-valued or default alternative
LGCP::CreateParams trunk(unsigned trunk, unsigned timeslot);
LGCP::CreateParams bri(unsigned bri, unsigned channel);
// Shared channels as bus*128+channel, -1 for none.
LGCP::CreateParams map(int tx, int rx);
LGCP::CreateParams ext(int tx, int rx);
LGCP::CreateParams echo(int bus, int channel);
LGCP::CreateParams probe();

class Rig : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs one command (seq and slot -1 for none) and returns the frames it
    // caused; every frame sent since the last call is included.
    std::string send(int seq, int slot, LGCP::Command const& command);
    std::string frames();
    Slot* at(unsigned n) { return Slots::instance().GetSlotAt(n); }
    // Creates a probe on slot n with the given spec; its answer must be "ok".
    Probe* make_probe(unsigned n, ProbeSpec spec = ProbeSpec());

    CtrlSrv::Server server;
    ctltest::TcpPair pair;
    static int pauses;

private:
    // The progress lines of joins that a test does not look at.
    std::unique_ptr<ctltest::Capture> mQuiet;
};

} // namespace slottest
