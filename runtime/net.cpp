#include "runtime/net.hpp"

#include "runtime/fd.hpp"

#include <net/if.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace Net
{
namespace
{

bool in_net(std::uint32_t address, std::uint32_t net, unsigned bits)
{
    std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    return (address & mask) == net;
}

// The kernel's list of configured interfaces. The buffer grows until the
// list fits, and entries are walked by the kernel's own struct ifreq.
bool read_interfaces(int fd, std::vector<ifreq>& entries)
{
    for (std::size_t room = 16; room <= 65536; room *= 2) {
        entries.assign(room, ifreq());
        ifconf list;
        std::memset(&list, 0, sizeof list);
        list.ifc_len = static_cast<int>(room * sizeof(ifreq));
        list.ifc_req = entries.data();
        if (ioctl(fd, SIOCGIFCONF, &list) != 0)
            return false;
        std::size_t used = static_cast<std::size_t>(list.ifc_len) / sizeof(ifreq);
        if (used < room) {
            entries.resize(used);
            return true;
        }
    }
    return false;
}

template <class Append> int enumerate(ifconfig_mode_t mode, Append append)
{
    Fd sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.is_valid())
        return -1;
    std::vector<ifreq> entries;
    if (!read_interfaces(sock.lowlevel_fd(), entries))
        return -1;
    int count = 0;
    for (ifreq& entry : entries) {
        if (entry.ifr_addr.sa_family != AF_INET)
            continue;
        sockaddr_in in;
        std::memcpy(&in, &entry.ifr_addr, sizeof in);
        char name[IFNAMSIZ + 1] = {};
        std::memcpy(name, entry.ifr_name, IFNAMSIZ);
        if (!selected(name, ntohl(in.sin_addr.s_addr), mode))
            continue;
        if (append(sock.lowlevel_fd(), entry, name))
            ++count;
    }
    return count;
}

} // namespace

bool selected(const char* name, std::uint32_t address, ifconfig_mode_t mode)
{
    if (mode == 0)
        return true;
    if ((mode & ifconfig_not_loopback) && strcasecmp(name, "lo") != 0)
        return true;
    if ((mode & ifconfig_link_local) && in_net(address, 0xA9FE0000u, 16))
        return true;
    if ((mode & ifconfig_private) && (in_net(address, 0xC0A80000u, 16) || in_net(address, 0xAC100000u, 12) ||
                                      in_net(address, 0x0A000000u, 8)))
        return true;
    return false;
}

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode)
{
    return enumerate(mode, [&out](int fd, ifreq entry, const char*) {
        if (ioctl(fd, SIOCGIFADDR, &entry) != 0)
            return false;
        sockaddr_in in;
        std::memcpy(&in, &entry.ifr_addr, sizeof in);
        out.push_back(INet4::Addr(in));
        return true;
    });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags)
{
    return enumerate(mode, [&out, flags](int fd, ifreq entry, const char* name) {
        ifreq query = entry;
        if (ioctl(fd, SIOCGIFADDR, &entry) != 0 || ioctl(fd, SIOCGIFFLAGS, &query) != 0)
            return false;
        if ((static_cast<unsigned>(static_cast<unsigned short>(query.ifr_flags)) & flags) != flags)
            return false;
        out.push_back(name);
        return true;
    });
}

std::string hostname()
{
    char name[512];
    if (gethostname(name, sizeof name) != 0)
        return std::string();
    name[sizeof name - 1] = '\0';
    return name;
}

int hostname(const std::string& name)
{
    return sethostname(name.data(), name.size());
}

} // namespace Net
