#include "slots/switched/trunk.hpp"

#include <iostream>

#include "slots/slots.hpp"

// The trunk factories are static objects that nothing names: the switched
// kinds are an object library, so every program that links them has these, in
// this order and before any factory made at start-up.
TrunkFactory trunk0(0, 0), trunk1(1, 32), trunk2(2, 64), trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0), trunk_bri1(1, 4), trunk_bri2(2, 8), trunk_bri3(3, 12), trunk_bri4(4, 16),
    trunk_bri5(5, 20), trunk_bri6(6, 24), trunk_bri7(7, 28);

void TrunkSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy()
{
    // Only a trunk factory builds trunk slots.
    if (TrunkFactory* f = static_cast<TrunkFactory*>(GetSlotFactory()))
        f->ReleaseTrunkSlot(this);
    return true;
}

void TrunkFactory::TakeOver(unsigned timeslot)
{
    TrunkSlot* old = mTable[timeslot];
    if (!old)
        return;
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl;
    std::cerr << " old slot " << *old << std::endl;
    // The old slot's release clears the entry.
    Slots::instance().Destroy(old);
}

Slot* TrunkFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.trunk_isSelected())
        return nullptr;
    LGCP::TrunkParams const& p = params.get_trunk();
    const unsigned timeslot = p.get_timeslot().getValue();
    if (p.get_trunk().getValue() != mTrunk || timeslot >= 32)
        return nullptr;
    TakeOver(timeslot);
    TrunkSlot* slot = new TrunkSlot(mBase + timeslot);
    mTable[timeslot] = slot;
    return slot;
}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot)
{
    const int timeslot = slot->GetTimeSlot();
    if (mTable[timeslot] == slot)
        mTable[timeslot] = nullptr;
}

Slot* TrunkBRIFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.trunk_bri_isSelected())
        return nullptr;
    LGCP::TrunkParams const& p = params.get_trunk_bri();
    const unsigned timeslot = p.get_timeslot().getValue();
    if (p.get_trunk().getValue() != mTrunk || timeslot >= 4)
        return nullptr;
    TakeOver(timeslot);
    TrunkSlot* slot = new TrunkBRISlot(mBase + timeslot);
    mTable[timeslot] = slot;
    return slot;
}
