// The Unix-socket links over a temporary path: a link both ways, the one-peer
// rule, the connector's retries, and what may stand at the socket path.
#include "control/unix_link.hpp"

#include <fstream>
#include <sys/stat.h>

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::Capture;
using Log = std::vector<std::string>;

// A client connected to `path` (its connect is complete when it returns).
Fd connect_unix(const std::string& path)
{
    Fd peer(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_un a = Control::UnixAddress(path);
    if (::connect(peer.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&a), sizeof a) != 0)
        return Fd();
    return peer;
}

class UnixLinkTest : public ctltest::LoopTest
{
protected:
    Capture out{std::cout}, err{std::cerr}, log{std::clog};
    testutil::TempDir tmp{false};
    const std::string dir = tmp.path(), path = dir + "/link";
};

TEST_F(UnixLinkTest, CarriesPayloadsAndRefusesASecondPeer)
{
    Control::AcceptorUnix server(path);
    // The client names its end: a name holding a line feed stays on its log line.
    Control::ConnectorUnix client(path, dir + "/local\nFORGED LINE"), second(path);
    ctltest::Consumer at_server, at_client;
    server.Bind(&at_server);
    client.Bind(&at_client);
    ASSERT_TRUE(server.Activate());
    ASSERT_TRUE(client.Activate());
    run_for(10);
    ASSERT_TRUE(server.IsConnected() && client.IsConnected());
    EXPECT_EQ(server.GetAddr(), dir + "/local\nFORGED LINE");
    EXPECT_EQ(out.text(), "new connection from " + dir + "/local\\nFORGED LINE\n");
    EXPECT_EQ(client.GetAddr(), path);
    client.Send("\xAA\xBB", 2);
    server.Send("\x01", 1);
    second.Activate();
    run_for(10);
    EXPECT_EQ(at_server.log, (Log{"connect", "message AA BB"}));
    EXPECT_EQ(at_client.log, (Log{"connect", "message 01"}));
    EXPECT_EQ(err.text(), "refuse connection from \ncontrol connection " + path + " closed.\n");
    second.Deactivate();
    // The server goes away: the client retries 10 s after the loss, and a
    // new server at the same path (its old socket file removed) takes it.
    server.Release();
    server.Deactivate();
    run_for(10);
    Control::AcceptorUnix again(path);
    ASSERT_TRUE(again.Activate());
    run_for(10500);
    EXPECT_TRUE(again.IsConnected());
    EXPECT_EQ(at_client.log, (Log{"connect", "message 01", "disconnect", "connect"}));
    client.Deactivate();
    run_for(10);
    // The client's name stayed on the lines that show it.
    for (Capture* c : {&out, &err, &log})
        EXPECT_EQ(std::string::npos, ("\n" + c->text()).find("\nFORGED")) << c->text();
}

// A local peer that writes and closes before the loop turns: the socket is
// readable and hung up together, and every frame still reaches the consumer
// before the disconnect.
TEST_F(UnixLinkTest, APeerThatWritesAndClosesAtOnceIsReadToTheEnd)
{
    const struct Case {
        const char* frames;
        Log seen;
    } cases[] = {
        {"03 00 00 06 AA BB", {"connect", "message AA BB", "disconnect"}},
        {"03 00 00 06 AA BB 03 00 00 05 CC", {"connect", "message AA BB", "message CC", "disconnect"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frames);
        Control::AcceptorUnix server(path);
        ctltest::Consumer at_server;
        server.Bind(&at_server);
        ASSERT_TRUE(server.Activate());
        {
            Fd peer = connect_unix(path);
            ASSERT_TRUE(peer.is_valid());
            ctltest::send_all(peer, ctltest::bytes(c.frames));
        }
        run_for(10);
        EXPECT_EQ(at_server.log, c.seen);
        EXPECT_FALSE(server.IsConnected());
        server.Deactivate();
    }
}

// A peer waits while the process has no descriptor left: the acceptor logs
// the shortage once and stops watching for the pause (the loop, run for real,
// waits instead of turning on the readable socket), and takes the peer after
// the pause, once descriptors are back.
TEST_F(UnixLinkTest, NoDescriptorForAPeerPausesAcceptingWithoutSpinning)
{
    Control::AcceptorUnix server(path);
    ctltest::Consumer at_server;
    server.Bind(&at_server);
    ASSERT_TRUE(server.Activate());
    // A first peer comes and goes while descriptors are there: the sanitizer
    // build checks a type through a pipe the first time it meets it.
    ASSERT_TRUE(connect_unix(path).is_valid());
    run_for(10);
    const Fd peer = connect_unix(path);
    ASSERT_TRUE(peer.is_valid());
    double busy = 0;
    {
        const testutil::Shortage none(0);
        busy = run_real_for(500);
    }
    EXPECT_LT(busy, 0.25) << "share of the time on a processor";
    // The first peer was unnamed: its link's name is empty.
    EXPECT_EQ(err.text(), std::string("control connection  closed.\ncan't accept connection: ") +
                              std::strerror(EMFILE) + "\n");
    EXPECT_FALSE(server.IsListening());
    run_for(ListenWatch::pause_ms + 10);
    EXPECT_EQ(at_server.log, (Log{"connect", "disconnect", "connect"}));
    EXPECT_TRUE(server.IsListening());
}

// The process has a descriptor for the listening socket but none for the
// watch that polls it: one line, and the watch is tried again after the
// pause; a peer that connected meanwhile waits in the queue and is taken then.
TEST_F(UnixLinkTest, NoDescriptorForTheListeningWatchIsRetried)
{
    Control::AcceptorUnix server(path);
    ctltest::Consumer at_server;
    server.Bind(&at_server);
    // A first run while descriptors are there: the sanitizer build checks a
    // type through a pipe the first time it meets it.
    ASSERT_TRUE(server.Activate());
    run_for(1);
    server.Deactivate();
    {
        const testutil::Shortage one(1);
        ASSERT_TRUE(server.Activate());
    }
    const std::string line = std::string("can't listen socket: ") + std::strerror(EMFILE) + "\n";
    EXPECT_EQ(err.text(), line);
    EXPECT_FALSE(server.IsListening());
    const Fd peer = connect_unix(path);
    ASSERT_TRUE(peer.is_valid());
    run_for(ListenWatch::pause_ms - 10);
    EXPECT_TRUE(at_server.log.empty());
    run_for(20);
    EXPECT_TRUE(server.IsListening());
    EXPECT_EQ(at_server.log, Log{"connect"});
    EXPECT_EQ(err.text(), line);
}

TEST_F(UnixLinkTest, OnlyASocketIsEverRemovedFromThePath)
{
    std::ofstream(path) << "keep";
    Control::AcceptorUnix server(path);
    ASSERT_TRUE(server.Activate());
    EXPECT_FALSE(server.IsListening());
    EXPECT_EQ(err.text(), "can't bind to socket: \"Address already in use\"  waiting...\n");
    EXPECT_EQ(testutil::read_file(path), "keep");
    // Once the file is gone the retry binds; a long path is cut to 107.
    ::unlink(path.c_str());
    run_for(5010);
    EXPECT_TRUE(server.IsListening());
    const std::string longer = dir + "/" + std::string(120, 'p');
    Control::AcceptorUnix cut(longer);
    ASSERT_TRUE(cut.Activate());
    struct stat st;
    EXPECT_EQ(::stat(longer.substr(0, 107).c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
}

} // namespace
