#pragma once
// The factories of the signalling slots (PSTN, ISDN and QSIG, HDLC packet
// slots) on the slot-factory chain. The signalling slots themselves and their
// link protocols are not part of this gateway: these factories build no slot,
// report no resource, and pass trunk status to the slots they would hold.
#include "slots/factory.hpp"

// Hands a trunk status signal to every slot of the factory.
void PassTrunkStatus(SlotFactory const& factory, LGCP::Signal const& signal);

class PstnFactory : public SlotFactory
{
public:
    static PstnFactory& instance();

    char const* GetName() const override { return "Pstn"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}
    void SelfSignal(LGCP::Signal const& signal) override { PassTrunkStatus(*this, signal); }
};

class IsdnFactory : public SlotFactory
{
public:
    static IsdnFactory& instance();

    char const* GetName() const override { return "Isdn"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}
};

class HdlcSlotFactory : public SlotFactory
{
public:
    static HdlcSlotFactory& instance();

    char const* GetName() const override { return "Hdlc"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}
    void SelfSignal(LGCP::Signal const& signal) override { PassTrunkStatus(*this, signal); }
};
