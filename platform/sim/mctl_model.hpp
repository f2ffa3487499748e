#pragma once
// The DSP modems' control driver "/dev/mctl": how many modems the board has,
// which descriptor holds which modem (closing it frees the modem), and each
// modem's switch channel (first timeslot + modem number). A faulty driver can
// be played: asked for the modem after a given one, it reports that same
// modem again.
//
// Control: "mctl modems <count> [<first timeslot>]";
//          "mctl repeat <modem> [<n>]" / "mctl repeat off": the enumeration
//          after <modem> reports <modem> again, the next n times or until off.
#include <map>

#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class MctlModel : public DeviceModel
{
public:
    MctlModel();

    const char* word() const override { return "mctl"; }
    std::string usage() const override
    {
        return "mctl modems <count> [<first timeslot>]\nmctl repeat <modem> [<n>] | off\n";
    }
    std::string execute(std::istringstream& args) override;

    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;
    void close(Channel channel) override { mHeld.erase(channel); }

    int modems() const { return mModems; }
    unsigned held() const { return unsigned(mHeld.size()); }

private:
    std::string repeat(std::istringstream& args);

    int mModems = 0;
    int mFirstTimeslot = 96;
    std::map<Channel, int> mHeld; // descriptor -> modem
    int mRepeatModem = -1;
    long mRepeatTimes = 0; // -1: until off
};

} // namespace sim
} // namespace platform
