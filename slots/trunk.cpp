#include "slots/trunk.hpp"

#include <iostream>

#include "slots/slots.hpp"

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
