#include "slots/switched/echo.hpp"

#include <iostream>

void EchoSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

EchoFactory& EchoFactory::instance()
{
    static EchoFactory factory;
    return factory;
}

EchoFactory::EchoFactory() : mAvailable()
{
    Scan();
}

void EchoFactory::Scan()
{
    for (bool& available : mAvailable)
        available = false;
    std::clog << "Scanning echo channels ..." << std::endl;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.echo_isSelected())
        return nullptr;
    LGCP::EchoParams const& p = params.get_echo();
    const unsigned bus = unsigned(p.get_bus().getValue());
    if (!IsAvailable(bus))
        return nullptr;
    return new EchoSlot(32 * bus + unsigned(p.get_channel().getValue()));
}

void EchoFactory::Query(LGCP::Resources& resources)
{
    for (unsigned bus = 0; bus < kBuses; ++bus) {
        if (mAvailable[bus])
            resources.set_echoBus().push_back(ASN1::INTEGER(int(bus)));
    }
}
