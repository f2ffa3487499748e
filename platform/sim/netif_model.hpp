#pragma once
// The board's synchronous HDLC network interfaces "hdlc<N>", reached through
// an IPv4 datagram socket (platform::netif): each interface's flags, framing
// protocol ("hdlc" or "ppp") and the switch channel its line settings give.
//
// Control: "netif add <name> <channel> [<flags>]" (flags default 0x11:
// up, point-to-point), "netif remove <name>", "netif show <name>"
// (answers "<name> flags=0x.. proto=<p> channel=<c>").
#include <map>

#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class NetifModel : public DeviceModel
{
public:
    struct Interface {
        int index = 0;
        int flags = 0;
        int channel = -1;
        std::string protocol = "hdlc";
    };

    NetifModel();

    const char* word() const override { return "netif"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;

    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;

    const Interface* find(const std::string& name) const;

private:
    std::map<std::string, Interface> mInterfaces;
    int mNextIndex = 10;
};

} // namespace sim
} // namespace platform
