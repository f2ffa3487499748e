#include "platform/sim/netif_model.hpp"

#include <sys/socket.h>

#include <cstring>
#include <linux/if.h>

#include "platform/devices.hpp"

namespace platform
{
namespace sim
{

namespace
{

std::string nameOf(const ifreq* r)
{
    return std::string(r->ifr_name, ::strnlen(r->ifr_name, IFNAMSIZ));
}

std::string hex(int value)
{
    std::ostringstream os;
    os << "0x" << std::hex << value;
    return os.str();
}

} // namespace

NetifModel::NetifModel() : DeviceModel(netif::kSocket) {}

std::string NetifModel::usage() const
{
    return "netif add <name> <channel> [<flags>]\nnetif remove <name>\nnetif show <name>\n";
}

std::string NetifModel::execute(std::istringstream& args)
{
    std::string what, name;
    if (!(args >> what >> name))
        return "error usage: " + usage();
    if (what == "add") {
        long channel = -1, flags = netif::kUp | netif::kPointToPoint;
        std::string text;
        if (!(args >> channel))
            return "error usage: " + usage();
        if (args >> text && !parseNumber(text, flags))
            return "error bad flags\n";
        Interface& i = mInterfaces[name];
        i.index = mNextIndex++;
        i.flags = int(flags);
        i.channel = int(channel);
        return "ok\n";
    }
    if (what == "remove")
        return mInterfaces.erase(name) ? "ok\n" : "error no interface\n";
    if (what == "show") {
        const Interface* i = find(name);
        if (!i)
            return "error no interface\n";
        return name + " flags=" + hex(i->flags) + " proto=" + i->protocol +
               " channel=" + std::to_string(i->channel) + "\nok\n";
    }
    return "error usage: " + usage();
}

const NetifModel::Interface* NetifModel::find(const std::string& name) const
{
    const auto it = mInterfaces.find(name);
    return it == mInterfaces.end() ? nullptr : &it->second;
}

DeviceModel::RequestNames NetifModel::requests() const
{
    return {{"SIOCGIFINDEX", netif::kGetIndex},
            {"SIOCGIFFLAGS", netif::kGetFlags},
            {"SIOCSIFFLAGS", netif::kSetFlags},
            {"SIOCWANDEV", netif::kWanDev}};
}

std::string NetifModel::decode(unsigned long request, std::uintptr_t arg) const
{
    const ifreq* r = record<ifreq>(arg);
    switch (request) {
    case netif::kGetIndex:
        return "SIOCGIFINDEX " + nameOf(r);
    case netif::kGetFlags:
        return "SIOCGIFFLAGS " + nameOf(r);
    case netif::kSetFlags:
        return "SIOCSIFFLAGS " + nameOf(r) + " flags=" + hex(r->ifr_flags & 0xFFFF);
    case netif::kWanDev: {
        const unsigned type = r->ifr_settings.type;
        const char* what = type == netif::kGetIface    ? "IF_GET_IFACE"
                           : type == netif::kProtoPpp  ? "IF_PROTO_PPP"
                           : type == netif::kProtoHdlc ? "IF_PROTO_HDLC"
                                                       : nullptr;
        return "SIOCWANDEV " + nameOf(r) + " " + (what ? std::string(what) : hex(int(type))) +
               " size=" + std::to_string(r->ifr_settings.size);
    }
    default:
        return "";
    }
}

Reply NetifModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    ifreq* r = record<ifreq>(arg);
    const auto it = mInterfaces.find(nameOf(r));
    if (it == mInterfaces.end())
        return failure(ENODEV);
    Interface& i = it->second;
    switch (request) {
    case netif::kGetIndex:
        r->ifr_ifindex = i.index;
        return Reply{0, 0, " index=" + std::to_string(i.index)};
    case netif::kGetFlags:
        r->ifr_flags = static_cast<short>(i.flags);
        return Reply{0, 0, " flags=" + hex(i.flags)};
    case netif::kSetFlags:
        i.flags = r->ifr_flags & 0xFFFF;
        return Reply();
    case netif::kWanDev:
        switch (r->ifr_settings.type) {
        case netif::kGetIface: {
            if (r->ifr_settings.size < netif::kSettingsSize)
                return failure(ENOBUFS);
            std::uint32_t words[netif::kSettingsSize / 4] = {};
            words[3] = std::uint32_t(i.channel);
            std::memcpy(r->ifr_settings.ifs_ifsu.raw_hdlc, words, sizeof words);
            return Reply{0, 0, " channel=" + std::to_string(i.channel)};
        }
        case netif::kProtoPpp:
            i.protocol = "ppp";
            return Reply();
        case netif::kProtoHdlc:
            i.protocol = "hdlc";
            return Reply();
        default:
            return failure(EINVAL);
        }
    default:
        return failure(ENOTTY);
    }
}

} // namespace sim
} // namespace platform
