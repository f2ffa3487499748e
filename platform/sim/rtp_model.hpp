#pragma once
// The RTP driver "/dev/rtp": one session per descriptor, begun with a session
// record and given one switch channel by the add-channel request: the lowest
// free one from 1024, or the one asked for (a session begun again on its
// channel, while the old session's close may still be on its way). A channel
// is freed when the daemon closes its session's last descriptor.
//
// Control commands:
//   rtp event <channel> <type> <value> <timeout>   one event record to the session holding the channel
//   rtp sessions     one line per session: "<channel> input=on|off event=<type>|none <session record>"
#include <cstdint>
#include <map>

#include "platform/devices.hpp"
#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class RtpModel : public DeviceModel
{
public:
    static constexpr std::int32_t kFirstChannel = 1024;

    struct Session {
        bool begun = false;
        rtp::rtp_connection_params params{};
        std::int32_t channel = -1;
        bool input = false;
        std::uint32_t event = 0; // the event type set, 0 none
    };

    RtpModel();

    const char* word() const override { return "rtp"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;
    void close(Channel channel) override;

    // One event record to the session holding the switch channel; false when none does.
    bool event(std::int32_t channel, std::uint32_t type, std::uint32_t value, std::uint32_t timeout);
    const std::map<Channel, Session>& sessions() const { return mSessions; }

private:
    bool taken(std::int32_t channel) const;

    std::map<Channel, Session> mSessions;
};

// "remote=1.2.3.4:5000 local=0.0.0.0:5002 rx_pt=8 tx_pt=8 pf=0 vad=0 crate=0 ssrc=7 ttl=0 tos=-1"
std::string describe(const rtp::rtp_connection_params& p);

} // namespace sim
} // namespace platform
