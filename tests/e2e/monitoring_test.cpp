// The monitoring service of the running daemon: the SNMP agent link named in
// server.conf connects to an agent written here and pings it; the controller's
// display command is answered.
#include <csignal>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "messages/lgcp/LGCP.hpp"
#include "tests/e2e/fixture.hpp"
#include "tests/support/controller.hpp"

namespace
{

using e2e::Bytes;
using e2e::hex;

// Waits for the descriptor to be readable, within the harness's deadline.
bool readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, e2e::deadline_ms()) == 1;
}

// The agent: a loopback listener, and the one link the daemon made to it.
struct Agent {
    int listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), link = -1, port = 0;
    Agent()
    {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        EXPECT_EQ(::bind(listen, reinterpret_cast<sockaddr*>(&a), len) | ::listen(listen, 1) |
                      ::getsockname(listen, reinterpret_cast<sockaddr*>(&a), &len),
                  0);
        port = ntohs(a.sin_port);
    }
    ~Agent() { ::close(link), ::close(listen); }
    bool accept()
    {
        ::close(link);
        link = readable(listen) ? ::accept(listen, nullptr, nullptr) : -1;
        return link >= 0;
    }
    // One whole TPKT frame, as hex.
    std::string frame()
    {
        Bytes b;
        unsigned char c;
        while ((b.size() < 4 || b.size() < (std::size_t(b[2]) << 8 | b[3])) && readable(link) &&
               ::read(link, &c, 1) == 1)
            b.push_back(c);
        return hex(b);
    }
};

TEST(Monitoring, AgentLinkPingsAndDisplayIsAnswered)
{
    Agent agent;
    e2e::Daemon daemon;
    const std::string conf =
        "[snmpagent]\nhost = 127.0.0.1:" + std::to_string(agent.port) + "\nname = agent1\n";
    ASSERT_TRUE(daemon.start_serving(e2e::DaemonOptions({}, conf))) << daemon.err();
    ASSERT_TRUE(agent.accept());
    // Its pings, and nothing else on the way.
    EXPECT_EQ(agent.frame(), "03 00 00 05 18");

    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(daemon.port()));
    LGCP::Message display;
    display.set_seq(2);
    LGCP::FramerInfo& framer = display.set_pdu().select_command().select_display().select_framer();
    framer.set_e1(1);
    framer.set_info().select_line(true);
    ASSERT_TRUE(controller.send_payload(e2e::encode(display)));
    Bytes answer;
    ASSERT_TRUE(e2etest::next_answer(controller, answer));
    EXPECT_EQ(hex(answer), "80 01 02 40");

    daemon.signal(SIGTERM);
    EXPECT_EQ(0, daemon.wait_exit());
}

} // namespace
