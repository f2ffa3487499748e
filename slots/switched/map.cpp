#include "slots/switched/map.hpp"

#include <iostream>

#include "hardware/hw_mux.hpp"
#include "slots/slots.hpp"

int GetMapTimeSlot(LGCP::SharedChannel const& channel)
{
    return MapSlot::kSharedBase + 128 * int(channel.get_bus().getValue()) +
           int(channel.get_channel().getValue());
}

MapFactory* MapSlot::GetSlotFactory() const
{
    return static_cast<MapFactory*>(Slot::GetSlotFactory());
}

void MapSlot::IAfterCreate()
{
    if (IsRxExists())
        OnChangeInputStream(true);
    if (IsTxExists())
        OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy()
{
    if (MapFactory* f = GetSlotFactory())
        f->ReleaseMapSlot(this);
    return true;
}

MapFactory& MapFactory::instance()
{
    static MapFactory factory;
    return factory;
}

Slot* MapFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.map_isSelected())
        return nullptr;
    LGCP::MapParams const& p = params.get_map();
    const int transmit = p.transmitter_isPresent() ? GetMapTimeSlot(p.get_transmitter()) : -1;
    const int receive = p.receiver_isPresent() ? GetMapTimeSlot(p.get_receiver()) : -1;
    MapSlot* slot = new MapSlot(transmit, receive);
    AllocateMapSlot(slot);
    return slot;
}

void MapFactory::Claim(MapSlot* slot, int logical)
{
    MapSlot* old = mTable[logical];
    // A slot that transmits and receives on one channel meets itself on its
    // second claim; it must not destroy itself while it is being created.
    if (old && old != slot) {
        std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl;
        std::cerr << "new slot " << *slot << " <-> old slot " << *old << std::endl;
        Slots::instance().Destroy(old);
    }
    mTable[logical] = slot;
}

void MapFactory::AllocateMapSlot(MapSlot* slot)
{
    if (slot->IsRxExists())
        Claim(slot, slot->GetRxLogChannel());
    if (slot->IsTxExists())
        Claim(slot, slot->GetTxLogChannel());
}

void MapFactory::ReleaseMapSlot(MapSlot* slot)
{
    if (slot->IsRxExists()) {
        const int logical = slot->GetRxLogChannel();
        std::clog << "map: disable map channel " << logical << std::endl;
        HwMux::instance().Disable(logical + MapSlot::kSharedBase);
        if (mTable[logical] != slot)
            std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
        mTable[logical] = nullptr;
    }
    // One channel in both directions holds one entry, cleared just above.
    if (slot->IsTxExists() && !(slot->IsRxExists() && slot->GetTxLogChannel() == slot->GetRxLogChannel())) {
        const int logical = slot->GetTxLogChannel();
        if (mTable[logical] != slot)
            std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
        mTable[logical] = nullptr;
    }
}
