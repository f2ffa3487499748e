#pragma once
// Extension slots: endpoints on two extension channels of the TDM bus
// (extension channel n is switch channel 8192 + n), one to transmit from and
// one to receive on. The slot transmits from the moment it exists; activate
// and deactivate switch its receive side on and off, and while it is off the
// slot cannot be the target of a join.
#include "slots/factory.hpp"
#include "slots/slot.hpp"

class ExtSlot : public Slot
{
public:
    static constexpr unsigned kExtBase = 8192;

    ExtSlot(unsigned transmit, unsigned receive) : mTransmit(transmit), mReceive(receive) {}

private:
    void IAfterCreate() override { OnChangeOutputStream(true); }
    bool IBeforeDestroy() override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    bool IDeactivate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return GetInputStream(); }
    int IGetTransmitChannel() override { return int(mTransmit); }
    int IGetReceiveChannel() override { return int(mReceive); }
    char const* GetName() const override { return "bri"; }

    const unsigned mTransmit;
    const unsigned mReceive;
};

class ExtFactory : public SlotFactory
{
public:
    static ExtFactory& instance();

    char const* GetName() const override { return "Ext"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
};
