#include "slots/factory.hpp"

#include "slots/slot.hpp"
#include "slots/trunk.hpp"

// Constant-initialised, so the factories built during static initialisation
// find it ready.
SlotFactory* firstFactory = nullptr;

// The trunk factories are static objects that nothing else names: they live
// here, with the chain, so that every program holding a chain has them, in
// this order and before any factory made at start-up.
TrunkFactory trunk0(0, 0), trunk1(1, 32), trunk2(2, 64), trunk3(3, 96);
TrunkBRIFactory trunk_bri0(0, 0), trunk_bri1(1, 4), trunk_bri2(2, 8), trunk_bri3(3, 12), trunk_bri4(4, 16),
    trunk_bri5(5, 20), trunk_bri6(6, 24), trunk_bri7(7, 28);

SlotFactory::SlotFactory() : mNext(firstFactory)
{
    firstFactory = this;
}

SlotFactory::~SlotFactory()
{
    for (SlotFactory** at = &firstFactory; *at; at = &(*at)->mNext) {
        if (*at == this) {
            *at = mNext;
            break;
        }
    }
}

Slot* SlotFactory::NewSlot(LGCP::CreateParams const& params)
{
    Slot* slot = INewSlot(params);
    if (!slot)
        return nullptr;
    slot->mFactory = this;
    mSlots.push_back(slot);
    return slot;
}

void SlotFactory::Remove(Slot* slot)
{
    mSlots.remove(slot);
}
