#include "slots/factory.hpp"

#include "slots/slot.hpp"

// Constant-initialised, so the factories built during static initialisation
// find it ready.
SlotFactory* firstFactory = nullptr;

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
