#pragma once
// The conference mixer driver "/dev/mixer": its units, each with a number of
// TDM channels (numbered from 0, each on its own switch channel from the
// unit's first one on) and a mixer-input count, and for every channel the sum
// it sends: the channels added into it, each with its gain.
//
// A channel is named by {unit, type, number}: only type 0 (a TDM channel) of
// a known unit with a number below its channel count is accepted, anything
// else fails with EINVAL; an add names two channels of one unit. Removing an
// input that is not in the sum fails with ENOENT. Enumeration reports the
// units in ascending number after the one given (-1 first) and fails with
// ENODEV after the last. A unit that is removed takes its sums with it; one
// added again starts with none. A faulty driver can be played: asked for the
// unit after a given one, it reports that same unit again.
//
// Control commands:
//   mixer units                                  the units, their counts and first switch channels
//   mixer add <unit> <tdm channels> <mixer inputs> [<first switch channel>]
//   mixer remove <unit>
//   mixer sum <unit> <channel>                   "<input channel> gain=<gain>" per input
//   mixer repeat <unit> [<n>] / mixer repeat off the enumeration after <unit> reports <unit> again,
//                                                the next n times or until off
#include <cstdint>
#include <map>

#include "platform/devices.hpp"
#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class MixerModel : public DeviceModel
{
public:
    // Unit n's first switch channel unless the command names one.
    static constexpr std::int32_t kFirstChannel = 3072;
    static constexpr std::int32_t kChannelsPerUnit = 128;
    static constexpr std::int32_t kSwitchChannels = 16384;

    MixerModel();

    const char* word() const override { return "mixer"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;

    // False when the unit exists or the numbers do not fit the switch.
    bool add_unit(std::int32_t unit, std::int32_t tdm, std::int32_t inputs, std::int32_t first = -1);
    bool remove_unit(std::int32_t unit) { return mUnits.erase(unit) > 0; }
    // The enumeration after `unit` reports `unit` again, the next `times`
    // times (-1: until repeat_unit(-1)); -1 as the unit repeats none.
    void repeat_unit(std::int32_t unit, std::int32_t times = -1);
    // The inputs of a channel's sum: input channel -> gain.
    std::map<std::int32_t, std::int32_t> sum(std::int32_t unit, std::int32_t channel) const;

private:
    struct Unit {
        std::int32_t tdm = 0;
        std::int32_t inputs = 0;
        std::int32_t first = 0;
        // output channel -> (input channel -> gain)
        std::map<std::int32_t, std::map<std::int32_t, std::int32_t>> sums;
    };

    // The unit of a channel the driver accepts, or null.
    Unit* find(const mixer::mix_slot& slot);

    std::map<std::int32_t, Unit> mUnits;
    std::int32_t mRepeatUnit = -1;
    std::int32_t mRepeatTimes = 0;
};

} // namespace sim
} // namespace platform
