// The controller-channel slots of the running daemon: an MCC data slot's user
// data both ways through the simulated controller, a recorder sending a trunk
// channel's bytes to a loopback peer, and a T.38 slot running a fake program
// under the daemon's root and reporting its end.
#include <arpa/inet.h>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/fixture.hpp"
#include "tests/slots/media_text.hpp"

namespace
{

class Voice : public e2etest::DaemonTest
{
protected:
    void SetUp() override { start({{}, {}, "device /dev/mcc/ctl present\n"}); }
    // The next `n` messages that are not line status reports, "; " between them.
    std::string next(int n = 1) { return texts(n, mediatest::text); }
    bool ask(unsigned slot, const std::function<void(LGCP::Command&)>& fill)
    {
        LGCP::Message m;
        m.set_seq(1);
        m.set_slot(slot);
        fill(m.set_pdu().select_command());
        return send(m);
    }
    bool create_trunk(unsigned slot)
    {
        return ask(slot, [](LGCP::Command& c) {
            c.select_create().select_trunk().set_trunk(0u);
            c.ref_create().ref_trunk().set_timeslot(1u);
        });
    }
    bool connect(unsigned from, unsigned to)
    {
        return ask(from, [to](LGCP::Command& c) { c.select_connect(to); });
    }
};

TEST_F(Voice, MccUserDataBothWays)
{
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) {
        c.select_create().select_mcc().set_type(LGCP::MccType::data),
            c.ref_create().ref_mcc().set_mode(LGCP::MccMode::standard);
    }));
    EXPECT_EQ("ok #1", next());
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(1, 2) && connect(2, 1));
    EXPECT_EQ("@1 transmitter 4096; ok #1; @1 receiver 4096; ok #1", next(4));
    ASSERT_TRUE(ask(1, [](LGCP::Command& c) { c.select_userData(std::vector<char>{1, 2, 3}); }));
    EXPECT_EQ("ok #1", next());
    EXPECT_EQ("01 02 03\nok\n", daemon.board("mcc sent 1"));
    EXPECT_EQ("reached=1\nok\n", daemon.board("mcc frame 1 0A0B"));
    EXPECT_EQ("@1 userData 0A 0B", next());
}

TEST_F(Voice, RecorderSendsTheTrunkChannelToItsPeer)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t len = sizeof a;
    ASSERT_EQ(0, ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a));
    ASSERT_EQ(0, ::listen(listener, 1));
    ASSERT_EQ(0, ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len));
    ASSERT_TRUE(ask(5, [&](LGCP::Command& c) {
        TERM::HostAddress& h = c.select_create().select_voice().select_record();
        h.set_iaddr("127.0.0.1");
        h.set_port(unsigned(ntohs(a.sin_port)));
    }));
    EXPECT_EQ("ok #1; @5 receiver 4096", next(2));
    ASSERT_TRUE(create_trunk(2));
    EXPECT_EQ("ok #1; @2 transmitter 1; @2 receiver 1", next(3));
    ASSERT_TRUE(connect(2, 5));
    EXPECT_EQ("ok #1", next());
    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&p, 1, e2e::deadline_ms()));
    const int peer = ::accept(listener, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    EXPECT_EQ("reached=1\nok\n", daemon.board("mcc frame 1 0C0D"));
    unsigned char got[2] = {};
    pollfd q{peer, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&q, 1, e2e::deadline_ms()));
    ASSERT_EQ(2, ::recv(peer, got, 2, MSG_WAITALL));
    EXPECT_EQ("0C 0D", e2e::hex(e2e::Bytes(got, got + 2)));
    ::close(peer);
    ::close(listener);
}

TEST_F(Voice, T38ProgramRunsAndItsEndIsReported)
{
    const std::string program = daemon.path("/usr/local/sbin/t38");
    for (const char* d : {"/usr", "/usr/local", "/usr/local/sbin"})
        ::mkdir(daemon.path(d).c_str(), 0755);
    std::ofstream(program) << "#!/bin/sh\n"
                              "printf '%s\\n' \"$@\" > \"$0.args\"\n"
                              "dd bs=4096 count=1 of=\"$0.stdin\" 2>/dev/null\n"
                              "exit 3\n";
    ::chmod(program.c_str(), 0755);
    ASSERT_TRUE(ask(7, [](LGCP::Command& c) {
        LGCP::T38Soft& t = c.select_create().select_t38soft();
        t.set_dhost().set_iaddr("10.0.0.1");
        t.ref_dhost().set_port(4000u);
        t.set_shost().set_iaddr("10.0.0.2");
        t.ref_shost().set_port(5000u);
        t.set_rx_packet_size(160);
        t.set_rx_threshold(1);
        t.set_tx_threshold(1);
        t.set_args().push_back(ASN1::IA5String("--fax"));
    }));
    EXPECT_EQ("ok #1; @7 transmitter 4096; @7 receiver 4096", next(3));
    ASSERT_TRUE(daemon.wait_err("successfully started") || daemon.wait_out("successfully started"));
    EXPECT_EQ("ok\n", daemon.board("event /dev/mcc/ctl 5A"));
    EXPECT_EQ("@7 abort 768", next());
    EXPECT_EQ("--child\n--remote\n10.0.0.1/4000/5000\n--fax\n", e2e::read_file(program + ".args"));
    EXPECT_EQ("Z", e2e::read_file(program + ".stdin"));
}

} // namespace
