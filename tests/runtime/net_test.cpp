#include "runtime/net.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <list>
#include <string>

namespace
{

std::uint32_t ip(const char* text)
{
    in_addr a;
    EXPECT_EQ(inet_pton(AF_INET, text, &a), 1) << text;
    return ntohl(a.s_addr);
}

TEST(NetIfconfig, SelectionTable)
{
    // An interface's name and address, a mode, and whether it is selected.
    const std::tuple<const char*, const char*, Net::ifconfig_mode_t, bool> cases[] = {
        {"lo", "127.0.0.1", 0, true},          {"lo", "127.0.0.1", 1, false},
        {"LO", "127.0.0.1", 1, false},         {"lo0", "127.0.0.1", 1, true},
        {"eth0", "192.168.1.10", 1, true},     {"eth0", "192.168.1.10", 4, true},
        {"eth1", "172.20.0.5", 4, true},       {"eth1", "172.16.0.0", 4, true},
        {"eth1", "172.31.255.255", 4, true},   {"eth1", "172.32.0.1", 4, false},
        {"eth1", "172.15.255.255", 4, false},  {"eth2", "10.255.0.1", 4, true},
        {"eth2", "11.0.0.1", 4, false},        {"eth3", "192.169.0.1", 4, false},
        {"lo", "127.0.0.1", 4, false},         {"eth0", "192.168.1.10", 2, false},
        {"eth4", "169.254.3.4", 2, true},      {"eth4", "169.255.3.4", 2, false},
        {"lo", "169.254.3.4", 2, true},        {"lo", "10.0.0.1", 1 | 4, true},
        {"lo", "127.0.0.1", 1 | 2 | 4, false}, {"eth0", "8.8.8.8", 2 | 4, false},
    };
    for (const auto& [name, address, mode, selected] : cases)
        EXPECT_EQ(Net::selected(name, ip(address), mode), selected)
            << name << " " << address << " mode " << mode;
}

// The kernel fills the list with its own record size, whatever the host.
TEST(NetIfconfig, LiveListIsComplete)
{
    std::list<INet4::Addr> all;
    std::list<std::string> names;
    const int n = Net::ifconfig(all, 0);
    ASSERT_GE(n, 0);
    EXPECT_EQ(static_cast<std::size_t>(n), all.size());
    EXPECT_EQ(Net::ifconfig(names, 0, 0), n);
    for (const auto& name : names)
        EXPECT_FALSE(name.empty());
}

} // namespace
