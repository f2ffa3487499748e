#pragma once
// The board hardware access driver "/dev/hal": the TDM switch's outputs, the
// bus clock source and the SPI registers of the eight BRI line interfaces.
//
// Switch: every channel 0..16383 is an output that is disabled (the power-up
// state), carries a constant byte, or carries a source channel. A test may
// set a "drive" byte on a channel: what the line carries from outside the
// daemon's control (another board on the TDM bus, a stuck line). Reading a
// channel gives its drive byte when one is set, else its constant, else what
// its source carries, else 0xFF (an undriven line reads all ones).
// Channels outside 0..16383 and bytes above 255 are refused with EINVAL.
//
// Clock: the last source selected (0..15; others EINVAL).
// SPI: 8 channels x 256 registers; a register reads what was last written or
// set by a test (register 0x33, the line status, starts at 0xC0: line up).
// Without SPI access ("hal nospi on") every register request fails with ENODEV.
#include <cstdint>
#include <map>
#include <vector>

#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class HalModel : public DeviceModel
{
public:
    static constexpr std::int32_t kChannels = 16384;
    static constexpr unsigned kSpiChannels = 8;

    struct Output {
        enum Kind { disabled, constant, connected } kind = disabled;
        std::int32_t value = 0; // the constant byte or the source channel
    };

    HalModel();

    const char* word() const override { return "hal"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;
    // A disable of an output that is already disabled (the switch's refresh).
    bool quiet(unsigned long request, std::uintptr_t arg) const override;

    Output output(std::int32_t channel) const;
    // The byte a read of the channel gives.
    unsigned read(std::int32_t channel) const;
    void set_drive(std::int32_t channel, int byte); // -1: nothing drives it
    // How many requests of that number reached the driver (refused ones included).
    unsigned count(unsigned long request) const;
    // Disable requests that reached a channel.
    unsigned disables(std::int32_t channel) const;
    int clock() const { return mClock; } // -1 until one is selected
    std::uint8_t spi(unsigned channel, unsigned reg) const
    {
        return mSpi[channel % kSpiChannels][reg & 0xFF];
    }
    void set_spi(unsigned channel, unsigned reg, std::uint8_t value);
    void set_spi_present(bool present) { mSpiPresent = present; }

private:
    std::string describe(std::int32_t channel) const;

    // By channel: a request costs no search.
    std::vector<Output> mOutputs;
    std::map<std::int32_t, std::uint8_t> mDrive;
    std::vector<unsigned> mDisables;
    // Requests by kind, in the order first seen: a handful of kinds, so a
    // look-up is a short scan.
    std::vector<std::pair<unsigned long, unsigned>> mCounts;
    unsigned& counter(unsigned long request);
    int mClock = -1;
    bool mSpiPresent = true;
    std::uint8_t mSpi[kSpiChannels][256] = {};
};

} // namespace sim
} // namespace platform
