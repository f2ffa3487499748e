#include "slots/modem/hdlc_modem_slot.hpp"

#include <sys/socket.h>

#include <cstring>
#include <iostream>
#include <linux/if.h>

#include "platform/board.hpp"
#include "platform/devices.hpp"

namespace
{

using platform::board;
namespace netif = platform::netif;

ifreq request(std::string const& name)
{
    ifreq r;
    std::memset(&r, 0, sizeof r);
    std::strncpy(r.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return r;
}

} // namespace

HdlcModemSlot::HdlcModemSlot(TERM::ModemParams const& params, std::string const& interface, ModemOwner& owner)
    : ModemSlot(params, owner), mInterface(interface)
{
}

void HdlcModemSlot::unbind()
{
    mOwner.ReleaseModemSlot(this);
}

void HdlcModemSlot::initModem()
{
    if (pppd_executing())
        return;
    const Fd sock(board().interface_socket());
    if (!sock.is_valid())
        return;
    std::uint32_t settings[netif::kSettingsSize / 4] = {};
    ifreq r = request(mInterface);
    r.ifr_settings.type = netif::kGetIface;
    r.ifr_settings.size = netif::kSettingsSize;
    r.ifr_settings.ifs_ifsu.te1 = reinterpret_cast<te1_settings*>(settings);
    if (board().ioctl(sock.lowlevel_fd(), netif::kWanDev, &r) != 0) {
        PutHeader(std::cerr) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
        return;
    }
    mChannel = std::int32_t(settings[3]);
    std::uint32_t none = 0;
    r = request(mInterface);
    r.ifr_settings.type = netif::kProtoPpp;
    r.ifr_settings.size = sizeof none;
    r.ifr_settings.ifs_ifsu.te1 = reinterpret_cast<te1_settings*>(&none);
    if (board().ioctl(sock.lowlevel_fd(), netif::kWanDev, &r) != 0) {
        PutHeader(std::cerr) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
        return;
    }
    pppd_exec(mInterface.c_str(), "/usr/local/etc/ppp/ioptions");
}

HdlcModemSlot::~HdlcModemSlot()
{
    pppd_kill();
    unbind();
    const Fd sock(board().interface_socket());
    if (!sock.is_valid())
        return;
    const int fd = sock.lowlevel_fd();
    ifreq r = request(mInterface);
    if (board().ioctl(fd, netif::kGetFlags, &r) == -1) {
        PutHeader(std::cerr) << "SIOCGIFFLAGS fail!!!" << std::endl;
        return;
    }
    r.ifr_flags = static_cast<short>(r.ifr_flags & ~netif::kUp);
    if (board().ioctl(fd, netif::kSetFlags, &r) == -1) {
        PutHeader(std::cerr) << "SIOCSIFFLAGS fail!!!" << std::endl;
        return;
    }
    struct {
        std::uint16_t encoding;
        std::uint16_t parity;
    } hdlc = {0, 0};
    r = request(mInterface);
    r.ifr_settings.type = netif::kProtoHdlc;
    r.ifr_settings.size = sizeof hdlc;
    r.ifr_settings.ifs_ifsu.te1 = reinterpret_cast<te1_settings*>(&hdlc);
    if (board().ioctl(fd, netif::kWanDev, &r) != 0)
        PutHeader(std::cerr) << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
}
