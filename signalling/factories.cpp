#include "signalling/factories.hpp"

#include "slots/slot.hpp"

void PassTrunkStatus(SlotFactory const& factory, LGCP::Signal const& signal)
{
    if (!signal.trunkStatus_isSelected())
        return;
    ACP::TrunkStatus const& status = signal.get_trunkStatus();
    const ACP::TrunkState::NamedNumber state = status.get_state();
    for (Slot* slot : factory.GetSlots())
        slot->OnTrunkStatus(unsigned(status.get_trunk().getValue()), state);
}

PstnFactory& PstnFactory::instance()
{
    static PstnFactory factory;
    return factory;
}

IsdnFactory& IsdnFactory::instance()
{
    static IsdnFactory factory;
    return factory;
}

HdlcSlotFactory& HdlcSlotFactory::instance()
{
    static HdlcSlotFactory factory;
    return factory;
}
