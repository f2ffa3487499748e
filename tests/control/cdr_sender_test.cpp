// The datagram record sender: one datagram per address of the list.
#include "control/cdr_sender.hpp"

#include "tests/control/fixture.hpp"

namespace
{

// A UDP socket bound to a free port of a loopback address.
Fd udp(const char* address, int& port)
{
    Fd s(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0));
    INet4::Addr a;
    a.Assign(address, nullptr);
    socklen_t len = a.size();
    EXPECT_EQ(::bind(s.lowlevel_fd(), a, a.size()), 0);
    EXPECT_EQ(::getsockname(s.lowlevel_fd(), a, &len), 0);
    port = a.port();
    return s;
}

TEST(CdrSender, SendsTheRecordToEveryAddressOfTheList)
{
    int p1 = 0, p2 = 0;
    Fd a = udp("127.0.0.1", p1), b = udp("127.0.0.2", p2);
    const std::string one = "127.0.0.1:" + std::to_string(p1), two = "127.0.0.2:" + std::to_string(p2);
    // clang-format off
    const struct { std::string record, list; std::vector<std::string> at_a, at_b; } cases[] = {
        {"cdr", "", {}, {}},
        {"cdr 1", one + " " + two, {"cdr 1"}, {"cdr 1"}},
        {"x", "\t" + two + "\n" + one + " " + one, {"x", "x"}, {"x"}},
        {"", one, {""}, {}},
        // A word that is no address is skipped, never sent to 0.0.0.0.
        {"y", "host.example:" + std::to_string(p1) + " " + two + " 127.0.0.1:99999", {}, {"y"}},
    };
    // clang-format on
    CDR_Sender::Sender sender;
    for (auto c : cases) {
        EXPECT_TRUE(sender.SendTo(c.record, c.list));
        EXPECT_EQ(testutil::datagrams(a.lowlevel_fd()), c.at_a) << c.list;
        EXPECT_EQ(testutil::datagrams(b.lowlevel_fd()), c.at_b) << c.list;
    }
}

} // namespace
