#pragma once
// The factories of the radio slots (LEMZ and ED-137) on the slot-factory
// chain. The radio channels are not part of this gateway: these factories
// build no slot and report no resource.
#include "slots/factory.hpp"

class RtpLEMZFactory : public SlotFactory
{
public:
    static RtpLEMZFactory& instance();

    char const* GetName() const override { return "RtpLEMZ"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}
};

class RtpED137Factory : public SlotFactory
{
public:
    static RtpED137Factory& instance();

    char const* GetName() const override { return "RtpED137"; }
    Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
    void Query(LGCP::Resources&) override {}
};
