#include "slots/switched/ext.hpp"

#include "hardware/hw_mux.hpp"

bool ExtSlot::IBeforeDestroy()
{
    HwMux::instance().Disable(int(mReceive));
    return true;
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&)
{
    OnChangeInputStream(true);
    // Idle pattern on the receive output until a join drives it.
    HwMux::instance().Disconnect(int(mReceive));
    return true;
}

bool ExtSlot::IDeactivate()
{
    OnChangeInputStream(false);
    HwMux::instance().Disable(int(mReceive));
    return true;
}

ExtFactory& ExtFactory::instance()
{
    static ExtFactory factory;
    return factory;
}

Slot* ExtFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.ext_isSelected())
        return nullptr;
    LGCP::ExtParams const& p = params.get_ext();
    return new ExtSlot(ExtSlot::kExtBase + unsigned(p.get_transmitter().getValue()),
                       ExtSlot::kExtBase + unsigned(p.get_receiver().getValue()));
}
