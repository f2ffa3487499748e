#pragma once
// Echo slots: one channel of an echo bus (bus b, channel c is switch channel
// 32 b + c) in both directions, built only on buses that the factory holds as
// available. Nothing on this board makes a bus available, so no echo slot is
// ever built and the resource report lists no echo bus: the gateway offers no
// echo-canceller channels.
#include "slots/factory.hpp"
#include "slots/slot.hpp"

class EchoSlot : public Slot
{
public:
    explicit EchoSlot(unsigned channel) : mChannel(channel) {}

private:
    void IAfterCreate() override;
    bool IOnOutputStream() override { return true; }
    bool IOnInputStream() override { return true; }
    int IGetTransmitChannel() override { return int(mChannel); }
    int IGetReceiveChannel() override { return int(mChannel); }
    char const* GetName() const override { return "echo"; }

    const unsigned mChannel;
};

class EchoFactory : public SlotFactory
{
public:
    static constexpr unsigned kBuses = 16;

    static EchoFactory& instance();

    EchoFactory();

    char const* GetName() const override { return "Echo"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;

    void Scan();
    bool IsAvailable(unsigned bus) const { return bus < kBuses && mAvailable[bus]; }

private:
    bool mAvailable[kBuses];
};
