#pragma once
// The voice driver "/dev/voice": how many channels of each codec mask it can
// still serve. The capacity request answers the count set for the mask (0
// when none is set); the version request fills in kVersion.
//
// Control command:
//   voice capacity <mask> <n>    sets the count of a mask (-1: the request fails with EINVAL)
#include <cstdint>
#include <map>

#include "platform/devices.hpp"
#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class VoiceModel : public DeviceModel
{
public:
    static constexpr voice::Version kVersion{{1, 2, 0, 0, 0}};

    VoiceModel();

    const char* word() const override { return "voice"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;

    void set_capacity(std::uint32_t mask, int count) { mCapacity[mask] = count; }

private:
    std::map<std::uint32_t, int> mCapacity;
};

} // namespace sim
} // namespace platform
