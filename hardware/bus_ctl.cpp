#include "hardware/bus_ctl.hpp"

#include <fcntl.h>
#include <iostream>

#include "asn1/asn1.hpp"
#include "hardware/spi_ctrl.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "runtime/trace.hpp"

namespace
{
using namespace platform;

const char* const kSourceNames[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
const int kNamedSources = int(sizeof kSourceNames / sizeof kSourceNames[0]);
} // namespace

BusCtl& BusCtl::instance()
{
    static BusCtl bus;
    return bus;
}

std::ostream& BusCtl::PutHeader(std::ostream& os) const
{
    return os << "clkctl: ";
}

void BusCtl::DisableControl()
{
    std::clog << "clock control disabled." << std::endl;
    mEnabled = false;
}

void BusCtl::OnConnect()
{
    if (mEnabled)
        SetDefaultClock();
}

void BusCtl::OnDisconnect()
{
    if (mEnabled)
        SetDefaultClock();
}

bool BusCtl::OnCommand(LGCP::Command const& command)
{
    if (!command.clockCfg_isSelected())
        return false;
    if (!mEnabled) {
        Error(LGCP::ErrorCause::unsupported);
        return true;
    }
    SetClockSrc(command.get_clockCfg());
    Success();
    return true;
}

void BusCtl::SetDefaultClock()
{
    LGCP::ClockCfg cfg;
    cfg.set_clkSel0(LGCP::ClkSel0::internal);
    cfg.set_bextEn(LGCP::BExtEn::disabled);
    cfg.set_source(-1);
    SetClockSrc(cfg);
}

bool BusCtl::IsOpen()
{
    if (mFd.is_valid())
        return true;
    if (!mEnabled)
        return false;
    return mFd.open(hal::kPath, O_RDWR);
}

void BusCtl::SetClockSrc(LGCP::ClockCfg const& cfg)
{
    if (!IsOpen()) {
        // No bus clock: no BRI line may act as clock master either.
        spiCtrl::instance().clock(-1);
        std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
        return;
    }
    std::cerr << ext::header(this) << "set clock source cmd: " << ASN1::logText(cfg) << std::endl;
    if (cfg.get_clkSel0() == LGCP::ClkSel0::internal) {
        DrvSetClkSrc(kFreerun);
        return;
    }
    if (cfg.get_bextEn() == LGCP::BExtEn::enabled) {
        if (cfg.get_source().getValue() >= 0)
            DrvSetClkSrc(cfg.get_source().getValue());
        return;
    }
    DrvSetClkSrc(kX3);
}

void BusCtl::DrvSetClkSrc(int source)
{
    if (!mFd.is_valid()) {
        std::cerr << ext::header(this) << "device open error" << std::endl;
        return;
    }
    std::int32_t word = source;
    if (board().ioctl(mFd.lowlevel_fd(), hal::kClockSelect, &word) == -1) {
        std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
        return;
    }
    // A source the driver took beyond the named ones shows as its number.
    std::cerr << ext::header(this) << "clock source = ";
    if (source >= 0 && source < kNamedSources)
        std::cerr << kSourceNames[source];
    else
        std::cerr << source;
    std::cerr << std::endl;
}
