#pragma once
// The CAS signalling driver "/dev/e1-cas" of the four E1 trunks.
//
// CAS is opened and closed per trunk (0..3, others EINVAL); closing a trunk
// closes its channels. A channel (timeslot 1..31 but 16, which carries the
// signalling itself; others EINVAL) is opened or closed by the configure
// request, which also sets the ABCD bits it transmits; the set request
// changes them. Requests for channels of a trunk whose CAS is closed fail
// with ENXIO. The bits a channel receives come from the far end: a test sets
// them ("cas rx"), and while CAS is open on the trunk the driver reports the
// change as one record to every open descriptor.
#include <cstdint>
#include <map>
#include <utility>

#include "platform/devices.hpp"
#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class E1CasModel : public DeviceModel
{
public:
    static constexpr int kTrunks = 4;

    struct Bits {
        bool open = false;
        std::uint8_t rx = 0;
        std::uint8_t tx = 0;
    };

    E1CasModel();

    const char* word() const override { return "cas"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;

    bool trunk_open(int trunk) const { return trunk >= 0 && trunk < kTrunks && mOpen[trunk]; }
    Bits bits(int trunk, int timeslot) const;
    // The far end's bits on a channel; the number of descriptors told.
    unsigned set_rx(int trunk, int timeslot, std::uint8_t abcd);

private:
    // 0 when the channel may be asked for, else the driver's errno.
    int check(std::int32_t trunk, std::int32_t timeslot) const;
    std::string describe(int trunk) const;

    bool mOpen[kTrunks] = {};
    std::map<std::pair<int, int>, Bits> mChannels;
};

} // namespace sim
} // namespace platform
