#pragma once
// Network interface enumeration and the host name, for the monitoring of
// the board's interfaces.
#include "runtime/inet4.hpp"

#include <cstdint>
#include <list>
#include <string>

namespace Net
{

// Which interfaces ifconfig lists: 0 every one, else the union of the bits.
using ifconfig_mode_t = unsigned;
constexpr ifconfig_mode_t ifconfig_not_loopback = 1; // name other than "lo", any case
constexpr ifconfig_mode_t ifconfig_link_local = 2;   // 169.254.0.0/16
constexpr ifconfig_mode_t ifconfig_private = 4;      // 192.168/16, 172.16/12, 10/8

// Whether an interface with this name and address (host byte order) is
// listed in the given mode.
bool selected(const char* name, std::uint32_t address, ifconfig_mode_t mode);

// Appends the IPv4 address of each selected interface; the number appended,
// or -1 when the interface list cannot be read.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
// The same selection, appending the names of the interfaces whose flags hold
// every bit of `flags`.
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags);

// The host name, or "" when it cannot be read.
std::string hostname();
int hostname(const std::string& name);

} // namespace Net
