#pragma once
// Map slots: channel endpoints on the shared outputs of the TDM bus (bus b,
// channel c is switch channel 8192 + 128 b + c). A map slot opens no device;
// it lends its channel numbers to the joins. The factory keeps one owner per
// shared channel: a newer map slot that claims a channel held by an older one
// destroys the older one.
#include "slots/factory.hpp"
#include "slots/slot.hpp"

int GetMapTimeSlot(LGCP::SharedChannel const& channel);

class MapFactory;

class MapSlot : public Slot
{
public:
    // -1 where the slot has no transmitter or no receiver.
    MapSlot(int transmit, int receive) : mTransmit(transmit), mReceive(receive) {}

    bool IsTxExists() const { return mTransmit >= 0; }
    bool IsRxExists() const { return mReceive >= 0; }
    int GetTxLogChannel() const { return mTransmit - kSharedBase; }
    int GetRxLogChannel() const { return mReceive - kSharedBase; }
    MapFactory* GetSlotFactory() const;

    static constexpr int kSharedBase = 8192;

private:
    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnOutputStream() override { return IsTxExists(); }
    bool IOnInputStream() override { return IsRxExists(); }
    int IGetTransmitChannel() override { return mTransmit; }
    int IGetReceiveChannel() override { return mReceive; }
    char const* GetName() const override { return "map"; }

    const int mTransmit;
    const int mReceive;
};

class MapFactory : public SlotFactory
{
public:
    static constexpr unsigned kChannels = 2048;

    static MapFactory& instance();

    MapFactory() : mTable() {}

    char const* GetName() const override { return "Map"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}

    void AllocateMapSlot(MapSlot* slot);
    void ReleaseMapSlot(MapSlot* slot);

    MapSlot* GetOwner(unsigned logical) const { return logical < kChannels ? mTable[logical] : nullptr; }

private:
    void Claim(MapSlot* slot, int logical);

    MapSlot* mTable[kChannels];
};
