// The TCP acceptor: one peer at a time, every further peer accepted and
// closed at once, a busy port retried every 5000 ms, and the connection
// check driven through an injected view of the kernel's connection state.
#include "control/acceptor.hpp"

#include <netinet/tcp.h>
#include <sys/resource.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::Capture;
using ctltest::connect_to;
using ctltest::Consumer;
using ctltest::peer_closed;

// What the kernel is made to say of the connection.
class Probe : public Control::ConnectionProbe
{
public:
    Probe(unsigned char s = TCP_ESTABLISHED, unsigned char ca = 0, int pending = 0, int call_error = 0,
          int info_error = 0)
        : state(s), ca_state(ca), pending(pending), call_error(call_error), info_error(info_error)
    {
    }
    bool TcpInfo(int, unsigned char& s, unsigned char& ca, int& error) override
    {
        s = state, ca = ca_state, error = info_error;
        return info_error == 0;
    }
    bool SocketError(int, int& error) override
    {
        error = call_error ? call_error : pending;
        return call_error == 0;
    }
    unsigned char state, ca_state;
    int pending, call_error, info_error;
};

// The local address of an accepted peer as the daemon prints it.
std::string local_name(const Fd& client)
{
    INet4::Addr a;
    socklen_t len = a.size();
    ::getsockname(client.lowlevel_fd(), a, &len);
    return a.GetString();
}

// A socket bound to the port on every address, or an invalid Fd.
Fd bound(int port)
{
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    INet4::Addr any;
    any.port(static_cast<unsigned short>(port));
    const int one = 1;
    ::setsockopt(s.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    return ::bind(s.lowlevel_fd(), any, any.size()) == 0 ? s : Fd();
}

// Lowers the soft limit of open descriptors to the lowest free one, so the
// next open, accept or duplicate fails with EMFILE; `old` is the limit before.
bool no_descriptor_left(const Fd& any, rlimit& old)
{
    if (::getrlimit(RLIMIT_NOFILE, &old) != 0)
        return false;
    const int next = ::fcntl(any.lowlevel_fd(), F_DUPFD, 0);
    if (next < 0)
        return false;
    ::close(next);
    rlimit low = old;
    low.rlim_cur = static_cast<rlim_t>(next);
    return ::setrlimit(RLIMIT_NOFILE, &low) == 0;
}

class AcceptorTest : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        ASSERT_GT(port, 0);
        link.Bind(&consumer);
        link.service_name("server");
        link.SetProbe(&probe);
    }
    void TearDown() override
    {
        link.Deactivate();
        LoopTest::TearDown();
    }

    int port = ctltest::free_port();
    Consumer consumer;
    Probe probe;
    Control::AcceptorNetCheckConnection link{port};
};

TEST_F(AcceptorTest, BusyPortIsRetriedEveryFiveSeconds)
{
    Capture cout(std::cout), cerr(std::cerr);
    Fd blocker = bound(port);
    ASSERT_EQ(::listen(blocker.lowlevel_fd(), 1), 0);

    const std::string line =
        std::string("can't bind to socket: \"") + std::strerror(EADDRINUSE) + "\"  waiting...\n";
    ASSERT_TRUE(link.Activate());
    EXPECT_EQ(link.GetState(), Control::State::Connecting);
    EXPECT_FALSE(link.IsListening());
    run_for(4990);
    EXPECT_EQ(cerr.text(), line);
    run_for(20);
    EXPECT_EQ(cerr.text(), line + line);
    blocker.close();
    run_for(5000);
    EXPECT_EQ(cerr.text(), line + line);
    EXPECT_TRUE(link.IsListening());
    Fd client = connect_to(port);
    run_for(10);
    EXPECT_TRUE(link.IsConnected());
}

TEST_F(AcceptorTest, ListeningSocketInErrorIsOpenedAfresh)
{
    Capture cerr(std::cerr);
    link.Activate();
    link.OnSocketEvent(-1, POLLERR);
    EXPECT_EQ(cerr.text(), "can't listen socket: POLLERR\n");
    EXPECT_FALSE(link.IsListening());
    run_for(5010);
    EXPECT_TRUE(link.IsListening());
    Fd client = connect_to(port);
    Capture cout(std::cout);
    run_for(10);
    EXPECT_TRUE(link.IsConnected());
}

TEST_F(AcceptorTest, NoDescriptorForAPeerPausesListening)
{
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer runtime needs descriptors of its own for its checks.
    GTEST_SKIP() << "descriptor limit not usable under the sanitizers";
#endif
    Capture cout(std::cout), cerr(std::cerr);
    link.Activate();
    Fd client = connect_to(port);
    rlimit old;
    ASSERT_TRUE(no_descriptor_left(client, old));
    link.OnSocketEvent(-1, POLLIN);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_EQ(cerr.text(), std::string("can't accept connection: ") + std::strerror(EMFILE) + "\n");
    EXPECT_FALSE(link.IsListening());
    EXPECT_FALSE(link.IsConnected());
    run_for(5010);
    EXPECT_TRUE(link.IsConnected());
    EXPECT_EQ(cout.text(), "new connection from " + local_name(client) + "\n");
}

// Still out of descriptors when the pause ends, the listening event gets no
// duplicate of the socket: the acceptor waits again, and takes the peer once
// descriptors are back.
TEST_F(AcceptorTest, ResumingWithoutADescriptorWaitsAgain)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "descriptor limit not usable under the sanitizers";
#endif
    Capture cout(std::cout), cerr(std::cerr);
    link.Activate();
    run_for(1);
    Fd client = connect_to(port);
    rlimit old;
    ASSERT_TRUE(no_descriptor_left(client, old));
    link.OnSocketEvent(-1, POLLIN);
    // The descriptor the paused event gave back goes elsewhere meanwhile.
    const int other = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    run_for(5010);
    const bool listening = link.IsListening();
    ::close(other);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &old), 0);
    EXPECT_GE(other, 0);
    EXPECT_FALSE(listening);
    run_for(5010);
    EXPECT_TRUE(link.IsConnected());
    EXPECT_EQ(cout.text(), "new connection from " + local_name(client) + "\n");
}

// A descriptor for the listening socket but none for the watch that polls
// it: one line, the port stays open and the watch is tried again after the
// pause; a peer that connected meanwhile waits in the queue and is taken then.
TEST_F(AcceptorTest, NoDescriptorForTheListeningWatchIsRetried)
{
    Capture cout(std::cout), cerr(std::cerr);
    // A first run while descriptors are there: the sanitizer build checks a
    // type through a pipe the first time it meets it.
    ASSERT_TRUE(link.Activate());
    link.Deactivate();
    {
        const testutil::Shortage one(1);
        ASSERT_TRUE(link.Activate());
    }
    const std::string line = std::string("can't listen socket: ") + std::strerror(EMFILE) + "\n";
    EXPECT_EQ(cerr.text(), line);
    EXPECT_FALSE(link.IsListening());
    Fd client = connect_to(port);
    ASSERT_TRUE(client.is_valid());
    run_for(ListenWatch::pause_ms - 10);
    EXPECT_FALSE(link.IsConnected());
    run_for(20);
    EXPECT_TRUE(link.IsConnected());
    EXPECT_EQ(cout.text(), "new connection from " + local_name(client) + "\n");
    EXPECT_EQ(cerr.text(), line);
}

TEST_F(AcceptorTest, DeactivationFreesThePortAndStopsTheTimers)
{
    Capture cout(std::cout), cerr(std::cerr);
    link.Activate();
    Fd client = connect_to(port);
    run_for(10);
    const unsigned timers = multiplexer.timer_count();
    EXPECT_GE(timers, 1u);
    link.Deactivate();
    EXPECT_EQ(link.GetState(), Control::State::Idle);
    EXPECT_EQ(multiplexer.timer_count(), timers - 1);
    EXPECT_TRUE(bound(port).is_valid());
}

// A newcomer while a controller is seated: refused while the link is
// connected, even when the seated peer has already closed its end unread;
// logged as new but not taken while the link winds down. Either way it is
// closed without a byte, the seated link's end reaches the consumer only from
// the deferred call in a later pass, and the next peer is taken.
TEST_F(AcceptorTest, NewcomerWhileSeatedIsNotTaken)
{
    enum Seated { alive, gone, deactivating };
    const struct Case {
        const char* what;
        bool checking; // the checking acceptor, else the plain one
        Seated seated;
        const char* out; // N stands for the newcomer, S for the seated peer
        const char* err;
        bool closed_at_once; // the newcomer, when the accept handler returns
        Control::State::Type state;
        std::size_t reports; // the consumer's, once the next pass has run
    } cases[] = {
        {"seated peer alive", true, alive, "",
         "refuse connection from N\nCheckConnectionState CheckConnection\n", true, Control::State::Connected,
         1},
        {"seated peer alive, plain acceptor", false, alive, "", "refuse connection from N\n", true,
         Control::State::Connected, 1},
        {"seated peer gone, its end not read yet", true, gone, "",
         "refuse connection from N\nCheckConnectionState CheckConnection\n", true, Control::State::Connected,
         2},
        {"seated peer gone, plain acceptor", false, gone, "", "refuse connection from N\n", true,
         Control::State::Connected, 2},
        {"link winding down: closed when the disconnect completes", true, deactivating,
         "new connection from N\n", "", false, Control::State::Deactivating, 2},
        {"link winding down, plain acceptor: closed at once", false, deactivating, "new connection from N\n",
         "", true, Control::State::Deactivating, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Capture cout(std::cout), cerr(std::cerr);
        Consumer consumer;
        Probe probe;
        Control::AcceptorNetCheckConnection checking(port);
        Control::AcceptorNet plain(port);
        Control::AcceptorNet& acceptor = c.checking ? checking : plain;
        checking.SetProbe(&probe);
        acceptor.Bind(&consumer);
        acceptor.Activate();
        Fd seated = connect_to(port);
        run_for(10);
        ASSERT_TRUE(acceptor.IsConnected());
        if (c.seated == gone)
            seated.close();
        if (c.seated == deactivating)
            acceptor.Disconnect();
        Fd newcomer = connect_to(port);
        cout.clear();
        cerr.clear();
        acceptor.OnSocketEvent(-1, POLLIN);

        auto named = [&](std::string text) {
            for (std::size_t at; (at = text.find(" N\n")) != std::string::npos;)
                text.replace(at, 3, " " + local_name(newcomer) + "\n");
            return text;
        };
        EXPECT_EQ(cout.text(), named(c.out));
        EXPECT_EQ(cerr.text(), named(c.err));
        EXPECT_EQ(peer_closed(newcomer), c.closed_at_once);
        EXPECT_EQ(acceptor.GetState(), c.state);
        EXPECT_EQ(consumer.log, std::vector<std::string>{"connect"}) << "no disconnect inside the handler";

        run_for(10);
        EXPECT_TRUE(peer_closed(newcomer));
        EXPECT_EQ(consumer.log.size(), c.reports);
        if (c.reports == 1)
            continue;
        EXPECT_EQ(consumer.log.back(), "disconnect");
        EXPECT_EQ(acceptor.GetState(), Control::State::Connecting);
        cout.clear();
        Fd again = connect_to(port);
        run_for(10);
        EXPECT_TRUE(acceptor.IsConnected());
        EXPECT_EQ(cout.text(), "new connection from " + local_name(again) + "\n");
        EXPECT_EQ(consumer.log.back(), "connect");
    }
}

// Each case sets what the probe reports once a controller is connected, and
// lets the check run `checks` times, once a second.
TEST_F(AcceptorTest, ConnectionCheck)
{
    using CheckState = Control::AcceptorNetCheckConnection::CheckState;
    const std::string closed = "control connection N closed.\nCheckConnectionState Idle\n";
    const std::string refused = "CheckConnectionState CheckConnection\n";
    const std::string reason = "connection from N closed: ";
    const struct Case {
        const char* what;
        bool refuse; // a second peer knocks first
        Probe said;
        unsigned checks;
        std::string log; // N stands for the peer
        bool dropped;
    } cases[] = {
        {"healthy connection", false, Probe(), 3, "", false},
        {"TCP state not established", false, Probe(8), 1, reason + "tcp socket change state.\n" + closed,
         true},
        {"pending socket error", false, Probe(TCP_ESTABLISHED, 0, ECONNRESET), 1,
         reason + std::strerror(ECONNRESET) + "\n" + closed, true},
        {"socket error cannot be read", false, Probe(TCP_ESTABLISHED, 0, 0, EBADF), 1,
         reason + std::strerror(EBADF) + "\n" + closed, true},
        {"TCP information cannot be read: only the socket error counts", false,
         Probe(TCP_ESTABLISHED, 0, 0, 0, EBADF), 2, "", false},
        {"abnormal congestion state alone is no reason without a refusal", false, Probe(TCP_ESTABLISHED, 4),
         3, "", false},
        {"after a refusal, a normal congestion state returns to idle", true, Probe(), 2,
         refused + "CheckConnectionState Idle\n", false},
        {"after a refusal, an abnormal state on the first check is tolerated", true,
         Probe(TCP_ESTABLISHED, 4), 1, refused, false},
        {"after a refusal, an abnormal state on two checks drops the link", true, Probe(TCP_ESTABLISHED, 4),
         2, refused + reason + "tcp socket change ca_state.\n" + closed, true},
        {"one check can name several reasons but drops once", false, Probe(7, 0, EPIPE), 1,
         reason + "tcp socket change state.\n" + reason + std::strerror(EPIPE) + "\n" + closed, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Capture cout(std::cout), cerr(std::cerr);
        Consumer consumer;
        Probe probe;
        Control::AcceptorNetCheckConnection acceptor(port);
        acceptor.Bind(&consumer);
        acceptor.SetProbe(&probe);
        acceptor.Activate(); // first check at once, then every 1000 ms
        Fd client = connect_to(port);
        run_for(100);
        if (c.refuse) {
            Fd other = connect_to(port);
            run_for(100);
            EXPECT_TRUE(peer_closed(other));
        }
        cerr.clear();
        if (c.refuse)
            std::cerr << refused;
        probe = c.said;
        run_for(1000 * c.checks);
        std::string expected = c.log;
        for (std::size_t at; (at = expected.find(" N ")) != std::string::npos;)
            expected.replace(at, 3, " " + local_name(client) + " ");
        EXPECT_EQ(cerr.text(), expected);
        EXPECT_EQ(peer_closed(client), c.dropped);
        EXPECT_EQ(consumer.log.size(), c.dropped ? 2u : 1u);
        const bool checking = c.refuse && !c.dropped && c.checks == 1;
        EXPECT_EQ(acceptor.GetCheckState(), checking ? CheckState::CheckConnection : CheckState::Idle);
        if (!c.dropped) {
            EXPECT_EQ(ctltest::sockopt(acceptor.WatchedFd(), IPPROTO_TCP, TCP_KEEPIDLE), checking ? 1 : 7200);
        }
        acceptor.Deactivate();
    }
}

// A controller sends three commands and the check then finds its connection
// dead (the peer half-closed, or fell silent). With the packet pool empty the
// commands wait in the socket, and the close waits with them: later checks
// leave the connection alone and log nothing. Once the pool has buffers
// again the three commands go up, then the link ends once, with the lines a
// connection that was not starved gets. One that was not starved is closed
// by the check at once; one its owner closes while it waits ends only then.
TEST_F(AcceptorTest, ConnectionFoundDeadIsReadBeforeItCloses)
{
    const std::vector<std::string> read = {"connect", "message 01", "message 02", "message 03", "disconnect"};
    const std::vector<std::string> unread = {"connect", "disconnect"};
    const struct Case {
        const char* what;
        bool half_close;
        bool starved;
        bool owner_closes; // while the close waits
        const std::vector<std::string>& reported;
    } cases[] = {
        {"peer half-closed, pool empty", true, true, false, read},
        {"peer silent, pool empty", false, true, false, read},
        {"peer silent, pool not empty: closed at once", false, false, false, read},
        {"peer silent, pool empty, its owner closes the link meanwhile", false, true, true, unread},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Capture cout(std::cout), cerr(std::cerr);
        Consumer consumer;
        Probe probe;
        Control::AcceptorNetCheckConnection acceptor(port);
        acceptor.Bind(&consumer);
        acceptor.SetProbe(&probe);
        acceptor.service_name("server");
        acceptor.Activate();
        Fd client = connect_to(port);
        run_for(100);
        ASSERT_TRUE(acceptor.IsConnected());
        const std::string found =
            "connection from " + local_name(client) + " closed: tcp socket change state.\n";
        const std::string ended =
            "control connection " + local_name(client) + " closed.\nCheckConnectionState Idle\n";
        const std::string shortage = c.starved ? "SockStream[server]: no packet buffer for reading\n" : "";
        const std::string waiting = shortage + found, whole = waiting + ended;

        std::optional<ctltest::EmptyPool> pool;
        if (c.starved)
            pool.emplace();
        cerr.clear();
        ctltest::send_all(client, ctltest::bytes("03 00 00 05 01 03 00 00 05 02 03 00 00 05 03"));
        if (c.half_close) {
            ASSERT_EQ(::shutdown(client.lowlevel_fd(), SHUT_WR), 0);
        }
        probe.state = TCP_CLOSE_WAIT;
        run_for(1000);
        if (c.starved) {
            EXPECT_EQ(cerr.text(), waiting);
            EXPECT_TRUE(acceptor.IsClosingWhenRead());
            run_for(3000);
            EXPECT_EQ(cerr.text(), waiting);
            EXPECT_EQ(consumer.log, std::vector<std::string>{"connect"});
            EXPECT_TRUE(acceptor.IsConnected());
            EXPECT_FALSE(peer_closed(client));
            if (c.owner_closes) {
                acceptor.Disconnect();
                run_for(10);
                EXPECT_FALSE(acceptor.IsClosingWhenRead());
            }
            pool.reset();
            run_for(10);
        }
        EXPECT_EQ(consumer.log, c.reported);
        EXPECT_EQ(cerr.text(), whole);
        EXPECT_TRUE(peer_closed(client));
        EXPECT_FALSE(acceptor.IsClosingWhenRead());
        run_for(2000);
        EXPECT_EQ(consumer.log, c.reported);
        EXPECT_EQ(cerr.text(), whole);
        acceptor.Deactivate();
    }
}

} // namespace
