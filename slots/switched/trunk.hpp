#pragma once
// Trunk slots: one timeslot of an E1 trunk or one channel of a BRI interface,
// so that the controller can join it to other slots through the TDM switch.
// The slot has no device of its own: it transmits and receives on one switch
// channel. One factory per trunk and per BRI interface keeps a table of its
// timeslots, so that a timeslot is held by at most one slot; a second create
// for a held timeslot destroys the old slot.
#include "slots/factory.hpp"
#include "slots/slot.hpp"

class TrunkSlot : public Slot
{
public:
    explicit TrunkSlot(unsigned channel) : mChannel(channel) {}

    int GetTrunk() override { return int(mChannel / 32); }
    int GetTrunkTimeSlot() override { return GetTimeSlot(); }
    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return int(mChannel); }
    int IGetReceiveChannel() override { return int(mChannel); }
    char const* GetName() const override { return "trunk"; }
    virtual int GetTimeSlot() { return int(mChannel & 31); }

protected:
    unsigned mChannel;
};

class TrunkBRISlot : public TrunkSlot
{
public:
    explicit TrunkBRISlot(unsigned channel) : TrunkSlot(channel) {}

    int GetTrunk() override { return int(mChannel / 4); }
    char const* GetName() const override { return "trunkBRI"; }
    int GetTimeSlot() override { return int(mChannel & 3); }
};

class TrunkFactory : public SlotFactory
{
public:
    TrunkFactory(unsigned trunk, unsigned base) : mTable(), mTrunk(trunk), mBase(base) {}

    char const* GetName() const override { return "Trunks"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
    virtual void ReleaseTrunkSlot(TrunkSlot* slot);

    TrunkSlot* GetTimeSlotOwner(unsigned timeslot) const
    {
        return timeslot < 32 ? mTable[timeslot] : nullptr;
    }

protected:
    // The old slot of a held timeslot goes before the new one takes it.
    void TakeOver(unsigned timeslot);

    TrunkSlot* mTable[32];
    unsigned mTrunk;
    unsigned mBase;
};

class TrunkBRIFactory : public TrunkFactory
{
public:
    TrunkBRIFactory(unsigned trunk, unsigned base) : TrunkFactory(trunk, base) {}

    char const* GetName() const override { return "TrunksBRI"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
};

// Built during static initialisation, E1 trunks first, so that the slot
// manager asks BRI interface 7 first and E1 trunk 0 last.
extern TrunkFactory trunk0, trunk1, trunk2, trunk3;
extern TrunkBRIFactory trunk_bri0, trunk_bri1, trunk_bri2, trunk_bri3, trunk_bri4, trunk_bri5, trunk_bri6,
    trunk_bri7;
