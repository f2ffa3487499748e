#include "runtime/inet4.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace
{

TEST(INet4Addr, ParseTable)
{
    // Each text is assigned over the address 1.2.3.4:99; a failure leaves it.
    // The result, the port handed out, and the address then.
    const std::tuple<const char*, bool, int, const char*> cases[] = {
        {"10.0.0.1:20001", true, 20001, "10.0.0.1:20001"},
        {"10.0.0.1", true, -1, "10.0.0.1:99"},
        {"192.168.1.1:", true, 0, "192.168.1.1:0"},
        {"255.255.255.255:65535", true, 65535, "255.255.255.255:65535"},
        {"127.0.0.1:080", true, 80, "127.0.0.1:80"},
        // clang-format off
        {"300.1.1.1:5", false, -1, "1.2.3.4:99"},    {"10.0.0", false, -1, "1.2.3.4:99"},
        {"0x7f.0.0.1", false, -1, "1.2.3.4:99"},     {"10.0.0.1:65536", false, -1, "1.2.3.4:99"},
        {"10.0.0.1:8x", false, -1, "1.2.3.4:99"},    {"10.0.0.1:99999999999", false, -1, "1.2.3.4:99"}};
    // clang-format on
    for (const auto& [text, ok, port_out, result] : cases) {
        INet4::Addr a, b;
        ASSERT_TRUE(a.Assign("1.2.3.4:99", nullptr));
        b = a;
        int port = 12345;
        EXPECT_EQ(a.Assign(text, &port), ok) << text;
        EXPECT_EQ(port, port_out) << text;
        EXPECT_EQ(a.GetString(), result) << text;
        b = std::string(text);
        EXPECT_EQ(b.GetString(), result) << text;
    }
    EXPECT_EQ(INet4::Addr(std::string("10.9.8.7")).GetString(), "10.9.8.7:0");
    EXPECT_EQ(INet4::Addr(std::string("nonsense:6")).GetString(), "0.0.0.0:0");
}

TEST(INet4Addr, WireFormIsNetworkOrder)
{
    INet4::Addr a;
    ASSERT_TRUE(a.Assign("192.168.1.10:20001", nullptr));
    EXPECT_EQ(a.size(), 16u);
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(static_cast<const sockaddr*>(a));
    EXPECT_EQ(in->sin_family, AF_INET);
    const auto* port = reinterpret_cast<const unsigned char*>(&in->sin_port);
    const auto* addr = reinterpret_cast<const unsigned char*>(&in->sin_addr);
    EXPECT_EQ((std::vector<unsigned char>(port, port + 2)), (std::vector<unsigned char>{0x4E, 0x21}));
    EXPECT_EQ((std::vector<unsigned char>(addr, addr + 4)), (std::vector<unsigned char>{192, 168, 1, 10}));
    EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{192, 168, 1, 10}));
    EXPECT_EQ(a.port(), 20001);
    EXPECT_EQ(a.GetStrAddr(), "192.168.1.10");

    INet4::Addr b;
    const unsigned char raw[4] = {10, 0, 0, 2};
    std::uint32_t value;
    std::memcpy(&value, raw, 4);
    b.Assign(value);
    b.port(80);
    std::ostringstream os;
    os << b;
    EXPECT_EQ(os.str(), "10.0.0.2:80");
    EXPECT_TRUE(b == INet4::Addr(std::string("10.0.0.2:80")));
    EXPECT_TRUE(b != INet4::Addr(std::string("10.0.0.2:81")));
}

} // namespace
