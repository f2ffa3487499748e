#include "hardware/spi_ctrl.hpp"

#include <cerrno>
#include <fcntl.h>
#include <iostream>

#include "messages/lgcp/LGCP.hpp"
#include "platform/board.hpp"
#include "platform/devices.hpp"

namespace
{
using namespace platform;

enum Register : unsigned {
    kSetup = 0x30,
    kEnable = 0x32,
    kMode = 0x34,
    kClear1 = 0x35,
    kClear2 = 0x36,
    kClear3 = 0x37,
    kClockMode = 0x57,
};
const unsigned kDisabled = 0x80;
const unsigned kEnabled = 0x00;
const unsigned kClockSlave = 0x30;
const unsigned kClockMaster = 0x38;
} // namespace

spiCtrl& spiCtrl::instance()
{
    static spiCtrl spi;
    return spi;
}

spiCtrl::spiCtrl()
{
    init_device_and_channels();
}

spiCtrl::~spiCtrl()
{
    if (!mFd.is_valid())
        return;
    mStatus.reset();
    for (int ch = 0; ch < kChannels; ++ch)
        disable_channel(ch);
    clock(-1);
    mFd.close();
}

void spiCtrl::OnConnect()
{
    if (mFd.is_valid() && mSpi)
        mStatus.set(kStatusPeriodMs, &spiCtrl::status, this);
}

void spiCtrl::OnDisconnect()
{
    mStatus.reset();
}

void spiCtrl::init_device_and_channels()
{
    if (mFd.is_valid() || !mSpi)
        return;
    std::clog << "spi: try init" << std::endl;
    // Close-on-exec like every device descriptor: the helper programs the
    // slots start never hold the board driver.
    if (!mFd.open(hal::kPath, O_RDWR)) {
        std::clog << "spi: /dev/hal open fail" << std::endl;
        return;
    }
    // All eight lines, as status, clock selection and shutdown cover them.
    for (int ch = 0; ch < kChannels; ++ch) {
        init_channel(ch);
        enable_channel(ch);
    }
}

void spiCtrl::no_spi()
{
    mSpi = false;
    mStatus.reset();
    std::clog << "spi: hal without spi" << std::endl;
}

void spiCtrl::write(unsigned channel, unsigned reg, unsigned data)
{
    if (!mFd.is_valid() || !mSpi)
        return;
    hal::SpiRegister r{std::uint8_t(channel), std::uint8_t(reg), std::uint8_t(data)};
    if (board().ioctl(mFd.lowlevel_fd(), hal::kSpiWrite, &r) != -1)
        return;
    if (errno == ENODEV)
        no_spi();
    else
        std::clog << "spi: write error: channel=" << channel << " addr=" << reg << " data=" << data
                  << std::endl;
}

unsigned spiCtrl::read(unsigned channel, unsigned reg)
{
    if (!mFd.is_valid() || !mSpi)
        return 0;
    hal::SpiRegister r{std::uint8_t(channel), std::uint8_t(reg), 0xFF};
    const int result = board().ioctl(mFd.lowlevel_fd(), hal::kSpiRead, &r);
    if (result != -1)
        return unsigned(result) & 0xFF;
    if (errno == ENODEV)
        no_spi();
    else
        std::clog << "spi: read error: channel=" << channel << " addr=" << reg << std::endl;
    return 0;
}

void spiCtrl::init_channel(int ch)
{
    if (!mSpi)
        return;
    if (ch < 0 || ch >= kChannels) {
        std::clog << "spi: bad channel for init " << ch << std::endl;
        return;
    }
    init_device_and_channels();
    const unsigned channel = unsigned(ch);
    write(channel, kEnable, kDisabled);
    write(channel, kSetup, 0x08);
    write(channel, kClockMode, kClockSlave);
    write(channel, kMode, 0x60);
    write(channel, kClear1, 0);
    write(channel, kClear2, 0);
    write(channel, kClear3, 0);
    std::clog << "spi: init channel " << ch << std::endl;
}

void spiCtrl::enable_channel(int ch)
{
    if (!mSpi)
        return;
    if (ch < 0 || ch >= kChannels) {
        std::clog << "spi: bad channel for enable " << ch << std::endl;
        return;
    }
    init_device_and_channels();
    write(unsigned(ch), kEnable, kEnabled);
    std::clog << "spi: enable channel " << ch << std::endl;
}

void spiCtrl::disable_channel(int ch)
{
    if (!mSpi)
        return;
    if (ch < 0 || ch >= kChannels) {
        std::clog << "spi: bad channel for disable " << ch << std::endl;
        return;
    }
    init_device_and_channels();
    write(unsigned(ch), kEnable, kDisabled);
    std::clog << "spi: disable channel " << ch << std::endl;
}

void spiCtrl::clock(int n)
{
    if (!mSpi)
        return;
    if (n < -1 || n >= kChannels) {
        std::clog << "spi: bad channel for set clock master " << n << std::endl;
        return;
    }
    init_device_and_channels();
    for (unsigned ch = 0; ch < unsigned(kChannels); ++ch)
        write(ch, kClockMode, kClockSlave);
    if (n == -1) {
        std::clog << "spi: clock master disabled" << std::endl;
        return;
    }
    write(unsigned(n), kClockMode, kClockMaster);
    std::clog << "spi: set clock master on channel " << n << std::endl;
}

void spiCtrl::status()
{
    if (!mSpi)
        return;
    for (int ch = 0; ch < kChannels; ++ch) {
        // A read that fails gives 0, so a line whose state cannot be read is
        // reported as ais. When the board loses its SPI access during the
        // pass, the failed line and those after it are reported so; the pass
        // still arms the next one, which finds SPI gone and reports nothing.
        const unsigned r = read(unsigned(ch), kLineStatus);
        LGCP::Signal signal;
        ACP::TrunkStatus& s = signal.select_trunkStatus();
        s.set_trunk(ch);
        if (r & 0x01)
            s.set_state(ACP::TrunkState::lossCarrier);
        else if (r & 0x04)
            s.set_state(ACP::TrunkState::lossBF);
        else if ((r & 0xC0) == 0x80)
            s.set_state(ACP::TrunkState::rai);
        else if ((r & 0xC0) == 0xC0)
            s.set_state(ACP::TrunkState::normal);
        else
            s.set_state(ACP::TrunkState::ais);
        if (r & 0x20) {
            s.set_slips(mSlip ? 0 : 1);
            mSlip = true;
        } else {
            s.set_slips(0);
            mSlip = false;
        }
        s.set_lossBF(0);
        s.set_lossCarrier(0);
        s.set_lossAIS(0);
        s.set_lossRAI(0);
        s.set_type(ACP::TrunkType::bri);
        SendSignal(signal);
    }
    mStatus.set(kStatusPeriodMs, &spiCtrl::status, this);
}
