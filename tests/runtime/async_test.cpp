#include "runtime/async.hpp"

#include "runtime/clock.hpp"
#include "runtime/multiplexer.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using CopyStatus = ASync::Copy::Status;
using ConnectStatus = ASync::Connect::Status;
typedef std::vector<CopyStatus::Type> CopyReports;

// A report made inside Start, before the loop runs, must not leave a
// terminate request behind for the next run.
bool gRunning = false;
void StopLoop()
{
    if (gRunning)
        multiplexer.terminate();
}

// Both ends non-blocking, as the slots hand them over.
void MakePipe(Fd& read_end, Fd& write_end)
{
    int fds[2];
    ASSERT_EQ(0, pipe2(fds, O_NONBLOCK | O_CLOEXEC));
    read_end = Fd(fds[0]);
    write_end = Fd(fds[1]);
}

std::string Pattern(std::size_t n)
{
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s += char('A' + i * 7 % 53);
    return s;
}

// Whatever a non-blocking descriptor holds right now.
std::string ReadNow(int fd)
{
    std::string out;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof(buffer))) > 0)
        out.append(buffer, static_cast<std::size_t>(n));
    return out;
}

// A file with the given content, positioned at its start.
Fd TempFile(const std::string& content)
{
    char name[] = "/tmp/async_test.XXXXXX";
    int file = mkstemp(name);
    EXPECT_GE(file, 0);
    unlink(name);
    EXPECT_EQ(ssize_t(content.size()), ::write(file, content.data(), content.size()));
    lseek(file, 0, SEEK_SET);
    return Fd(file);
}

// Reads a descriptor in the loop, so that a copier's destination drains.
class Sink {
public:
    explicit Sink(Fd& fd)
    {
        mEvent.Bind<Sink>("Sink", &Sink::OnEvent, this);
        mEvent.Schedule(fd, POLLIN);
        fd.close();
    }
    // The rest, once the loop has stopped.
    std::string Finish()
    {
        if (mEvent.IsActive())
            data += ReadNow(mEvent.lowlevel_fd());
        return data;
    }
    std::string data;

private:
    void OnEvent(int fd, short revents)
    {
        if (revents & (POLLIN | POLLHUP))
            data += ReadNow(fd);
    }
    Event mEvent;
};

class AsyncTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The daemon's own SIGPIPE handler does the same: a dead reader is an
        // EPIPE, not the end of the process.
        std::signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override { Mux::setClock(nullptr); }

    // Runs the loop until a handler ends it; the guard only keeps a broken
    // build from hanging.
    void Run()
    {
        mGuard.set(60000, &AsyncTest::OnGuard, this);
        gRunning = true;
        multiplexer.run(false, true);
        gRunning = false;
        mGuard.reset();
        ASSERT_FALSE(mGuardFired);
    }
    void OnGuard()
    {
        mGuardFired = true;
        multiplexer.terminate();
    }

    Timer mGuard;
    bool mGuardFired = false;
};

// Records every report and ends the loop at each.
struct CopyProbe {
    CopyReports reports;
    void OnCopy(CopyStatus::Type status)
    {
        reports.push_back(status);
        StopLoop();
    }
};

// ---- Copy -------------------------------------------------------------------

struct PipeCase {
    const char* what;
    std::size_t size;
    unsigned bufsize; // 0: default
    int flush;
    bool done_in_start; // the report comes from inside Start
};

TEST_F(AsyncTest, CopyToTheSourceEnd)
{
    const PipeCase cases[] = {
        {"empty source, no flush wait", 0, 0, 0, true},
        {"empty source, flush wait", 0, 0, POLLWRNORM, false},
        {"one byte", 1, 0, POLLWRNORM, false},
        {"one buffer", 1024, 0, POLLWRNORM, false},
        {"buffer and one", 1025, 0, 0, true},
        {"tiny buffer", 5000, 7, 0, true},
        {"more than a pipe holds", 300000, 0, POLLWRNORM, false},
        {"more than a pipe holds, big buffer", 300000, 100000, 0, false},
    };
    for (const PipeCase& c : cases) {
        const std::string data = Pattern(c.size);
        Fd srcRead, srcWrite, dstRead, dstWrite;
        MakePipe(srcRead, srcWrite);
        MakePipe(dstRead, dstWrite);
        // A second copier feeds the source pipe from a file as it drains.
        ASync::Copy feeder;
        feeder.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
        feeder.Start(TempFile(data), srcWrite);
        srcWrite.close();

        CopyProbe probe;
        ASync::Copy copy;
        EXPECT_EQ(CopyStatus::Idle, copy.status());
        if (c.bufsize)
            copy.set_bufsize(c.bufsize);
        copy.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, c.flush));
        copy.Bind(&CopyProbe::OnCopy, &probe);
        Sink sink(dstRead);
        copy.Start(srcRead, dstWrite);
        srcRead.close();
        dstWrite.close();
        EXPECT_EQ(c.done_in_start, !probe.reports.empty()) << c.what;
        if (probe.reports.empty())
            Run();
        EXPECT_EQ(CopyReports{CopyStatus::Done}, probe.reports) << c.what;
        EXPECT_EQ(CopyStatus::Done, copy.status()) << c.what;
        EXPECT_EQ(c.size, copy.copied()) << c.what;
        EXPECT_EQ(0, copy.error()) << c.what;
        EXPECT_EQ(CopyStatus::Done, feeder.status()) << c.what;
        EXPECT_TRUE(data == sink.Finish()) << c.what;
    }
}

TEST_F(AsyncTest, CopyWaitsForTheFlushEvent)
{
    Fd srcRead, srcWrite, dstRead, dstWrite;
    MakePipe(srcRead, srcWrite);
    MakePipe(dstRead, dstWrite);
    ASSERT_EQ(5, ::write(srcWrite.lowlevel_fd(), "hello", 5));
    srcWrite.close();
    CopyProbe probe;
    ASync::Copy copy;
    copy.Bind(&CopyProbe::OnCopy, &probe);
    copy.Start(srcRead, dstWrite);
    // Everything is written, but the default masks wait for POLLWRNORM.
    EXPECT_TRUE(probe.reports.empty());
    EXPECT_EQ(CopyStatus::FlushWait, copy.status());
    EXPECT_EQ(5u, copy.copied());
    Run();
    EXPECT_EQ(CopyReports{CopyStatus::Done}, probe.reports);
    EXPECT_EQ("hello", ReadNow(dstRead.lowlevel_fd()));
}

// Copies from a source in the state the case sets up; the destination is a
// pipe whose reader the case may close.
struct FailCase {
    const char* what;
    enum Source { Directory, ResetAfterData } source;
    bool close_reader;
    CopyStatus::Type status;
    int error;
    unsigned copied;
};

// A listening socket on loopback; its port.
int Listen(Fd& listener, int backlog)
{
    listener = Fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    EXPECT_EQ(0, ::bind(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    EXPECT_EQ(0, ::listen(listener.lowlevel_fd(), backlog));
    EXPECT_EQ(0, ::getsockname(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), &len));
    return ntohs(addr.sin_port);
}

// A blocking connection to a loopback port.
Fd Dial(int port)
{
    Fd fd(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(port));
    EXPECT_EQ(0, ::connect(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
    return fd;
}

// A connected TCP pair on loopback: client and accepted server side.
void TcpPair(Fd& client, Fd& server)
{
    Fd listener;
    client = Dial(Listen(listener, 1));
    server = Fd(::accept(listener.lowlevel_fd(), nullptr, nullptr));
    ASSERT_TRUE(server.is_valid());
    client.NonBlock();
    server.NonBlock();
}

TEST_F(AsyncTest, CopyFailures)
{
    const FailCase cases[] = {
        {"source read fails at once", FailCase::Directory, false, CopyStatus::Failed, EISDIR, 0},
        {"source reset by its peer after data", FailCase::ResetAfterData, false, CopyStatus::Failed, ECONNRESET, 3},
        {"destination reader gone", FailCase::ResetAfterData, true, CopyStatus::Failed, EPIPE, 0},
    };
    for (const FailCase& c : cases) {
        Fd src, peer, dstRead, dstWrite;
        MakePipe(dstRead, dstWrite);
        if (c.source == FailCase::Directory) {
            ASSERT_TRUE(src.open("/", O_RDONLY | O_DIRECTORY));
        } else {
            TcpPair(src, peer);
            ASSERT_EQ(3, ::write(peer.lowlevel_fd(), "abc", 3));
        }
        if (c.close_reader)
            dstRead.close();
        CopyProbe probe;
        ASync::Copy copy;
        copy.set_bufsize(3);
        copy.Bind(&CopyProbe::OnCopy, &probe);
        copy.Start(src, dstWrite);
        dstWrite.close();
        if (peer.is_valid()) {
            // The peer aborts the connection: the next read fails.
            linger hard{1, 0};
            ::setsockopt(peer.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
            peer.close();
        }
        if (probe.reports.empty())
            Run();
        EXPECT_EQ(CopyReports{c.status}, probe.reports) << c.what;
        EXPECT_EQ(c.error, copy.error()) << c.what;
        EXPECT_EQ(c.copied, copy.copied()) << c.what;
        if (dstRead.is_valid()) {
            EXPECT_EQ(std::string("abc", c.copied), ReadNow(dstRead.lowlevel_fd())) << c.what;
        }
    }
}

TEST_F(AsyncTest, CopyPeerClosingEarlyIsTheEnd)
{
    Fd src, peer, dstRead, dstWrite;
    TcpPair(src, peer);
    MakePipe(dstRead, dstWrite);
    CopyProbe probe;
    ASync::Copy copy;
    copy.Bind(&CopyProbe::OnCopy, &probe);
    copy.Start(src, dstWrite);
    dstWrite.close();
    EXPECT_TRUE(probe.reports.empty());
    ASSERT_EQ(2, ::write(peer.lowlevel_fd(), "ok", 2));
    peer.close();
    Run();
    EXPECT_EQ(CopyReports{CopyStatus::Done}, probe.reports);
    EXPECT_EQ(2u, copy.copied());
    EXPECT_EQ("ok", ReadNow(dstRead.lowlevel_fd()));
}

// Changing the masks or the buffer during a copy ends it with Reset and
// closes both of its descriptors.
TEST_F(AsyncTest, CopyResetByNewSettings)
{
    for (int which = 0; which < 2; ++which) {
        Fd srcRead, srcWrite, dstRead, dstWrite;
        MakePipe(srcRead, srcWrite);
        MakePipe(dstRead, dstWrite);
        CopyProbe probe;
        ASync::Copy copy;
        copy.Bind(&CopyProbe::OnCopy, &probe);
        copy.Start(srcRead, dstWrite);
        srcRead.close();
        dstWrite.close();
        EXPECT_EQ(CopyStatus::Running, copy.status());
        if (which == 0)
            copy.set_events(ASync::Copy::EventsParams());
        else
            copy.set_bufsize(64);
        EXPECT_EQ(CopyReports{CopyStatus::Reset}, probe.reports) << which;
        EXPECT_EQ(-1, ::write(srcWrite.lowlevel_fd(), "x", 1)) << which;
        EXPECT_EQ(EPIPE, errno) << which;
        char c;
        EXPECT_EQ(0, ::read(dstRead.lowlevel_fd(), &c, 1)) << which;
        // Settings made while nothing runs end nothing.
        copy.set_bufsize(32);
        EXPECT_EQ(1u, probe.reports.size()) << which;
    }
}

// Fills a pipe so that the next write gets EAGAIN.
std::size_t FillPipe(int fd)
{
    std::size_t total = 0;
    const std::string block(4096, 'f');
    ssize_t n;
    while ((n = ::write(fd, block.data(), block.size())) > 0)
        total += static_cast<std::size_t>(n);
    return total;
}

TEST_F(AsyncTest, StopDrainsThePendingWrite)
{
    const struct {
        const char* what;
        int flush;
        CopyStatus::Type after_stop;
    } cases[] = {
        {"with flush wait", POLLWRNORM, CopyStatus::Draining},
        {"without flush wait", 0, CopyStatus::Draining},
    };
    for (const auto& c : cases) {
        Fd srcRead, srcWrite, dstRead, dstWrite;
        MakePipe(srcRead, srcWrite);
        MakePipe(dstRead, dstWrite);
        const std::size_t filler = FillPipe(dstWrite.lowlevel_fd());
        ASSERT_EQ(4, ::write(srcWrite.lowlevel_fd(), "tail", 4));
        CopyProbe probe;
        ASync::Copy copy;
        copy.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, c.flush));
        copy.Bind(&CopyProbe::OnCopy, &probe);
        copy.Start(srcRead, dstWrite);
        srcRead.close();
        dstWrite.close();
        EXPECT_EQ(CopyStatus::Running, copy.status()) << c.what;
        copy.Stop();
        EXPECT_EQ(c.after_stop, copy.status()) << c.what;
        EXPECT_TRUE(probe.reports.empty()) << c.what;
        // The source is closed at once: its writer sees no reader.
        EXPECT_EQ(-1, ::write(srcWrite.lowlevel_fd(), "x", 1)) << c.what;
        Sink sink(dstRead);
        Run();
        EXPECT_EQ(CopyReports{CopyStatus::Done}, probe.reports) << c.what;
        EXPECT_EQ(4u, copy.copied()) << c.what;
        const std::string got = sink.Finish();
        EXPECT_EQ(filler + 4, got.size()) << c.what;
        EXPECT_EQ("tail", got.substr(got.size() - 4)) << c.what;
    }
}

TEST_F(AsyncTest, StopWithoutPendingData)
{
    const struct {
        const char* what;
        int flush;
        bool reported_at_stop;
    } cases[] = {
        {"no flush wait: done at once", 0, true},
        {"flush wait: done at the flush event", POLLWRNORM, false},
    };
    for (const auto& c : cases) {
        Fd srcRead, srcWrite, dstRead, dstWrite;
        MakePipe(srcRead, srcWrite);
        MakePipe(dstRead, dstWrite);
        CopyProbe probe;
        ASync::Copy copy;
        copy.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, c.flush));
        copy.Bind(&CopyProbe::OnCopy, &probe);
        copy.Start(srcRead, dstWrite);
        copy.Stop();
        EXPECT_EQ(c.reported_at_stop, !probe.reports.empty()) << c.what;
        if (probe.reports.empty())
            Run();
        EXPECT_EQ(CopyReports{CopyStatus::Done}, probe.reports) << c.what;
        copy.Stop();
        EXPECT_EQ(1u, probe.reports.size()) << c.what;
    }
}

// A handler may destroy its copier or start it again.
struct Restarter {
    ASync::Copy* copy = nullptr;
    Fd next_src, next_dst;
    CopyReports reports;
    void OnCopy(CopyStatus::Type status)
    {
        reports.push_back(status);
        if (next_src.is_valid()) {
            Fd src = next_src, dst = next_dst;
            next_src.close();
            next_dst.close();
            copy->Start(src, dst);
            return;
        }
        delete copy;
        copy = nullptr;
    }
};

TEST_F(AsyncTest, HandlerRestartsThenDestroys)
{
    Fd dstRead, dstWrite;
    MakePipe(dstRead, dstWrite);
    Restarter r;
    r.copy = new ASync::Copy;
    r.copy->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
    r.copy->Bind(&Restarter::OnCopy, &r);
    r.next_src = TempFile("second");
    r.next_dst = dstWrite;
    r.copy->Start(TempFile("first,"), dstWrite);
    dstWrite.close();
    EXPECT_EQ(nullptr, r.copy);
    EXPECT_EQ((CopyReports{CopyStatus::Done, CopyStatus::Done}), r.reports);
    EXPECT_EQ("first,second", ReadNow(dstRead.lowlevel_fd()));
}

TEST_F(AsyncTest, DestroyingARunningCopyReportsNothing)
{
    Fd srcRead, srcWrite, dstRead, dstWrite;
    MakePipe(srcRead, srcWrite);
    MakePipe(dstRead, dstWrite);
    CopyProbe probe;
    {
        ASync::Copy copy;
        copy.Bind(&CopyProbe::OnCopy, &probe);
        copy.Start(srcRead, dstWrite);
    }
    srcRead.close();
    dstWrite.close();
    EXPECT_TRUE(probe.reports.empty());
    char c;
    EXPECT_EQ(0, ::read(dstRead.lowlevel_fd(), &c, 1));
}

// ---- Connect ----------------------------------------------------------------

struct ConnectProbe {
    std::vector<ConnectStatus::Type> reports;
    Fd fd;
    void OnConnect(ConnectStatus::Type status, Fd result)
    {
        reports.push_back(status);
        fd = result;
        StopLoop();
    }
};

TEST_F(AsyncTest, ConnectOverLoopback)
{
    Fd listener;
    const int port = Listen(listener, 4);
    ConnectProbe probe;
    ASync::Connect connect;
    EXPECT_EQ(ConnectStatus::Idle, connect.status());
    connect.Bind(&ConnectProbe::OnConnect, &probe);
    connect.Start("127.0.0.1:" + std::to_string(port), 10000);
    if (probe.reports.empty())
        Run();
    ASSERT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::Connected}, probe.reports);
    ASSERT_TRUE(probe.fd.is_valid());
    // The connector has closed its own socket; the handed descriptor lives on.
    Fd server(::accept(listener.lowlevel_fd(), nullptr, nullptr));
    ASSERT_TRUE(server.is_valid());
    ASSERT_EQ(4, ::write(probe.fd.lowlevel_fd(), "ping", 4));
    char buffer[4];
    ASSERT_EQ(4, ::recv(server.lowlevel_fd(), buffer, 4, MSG_WAITALL));
    EXPECT_EQ("ping", std::string(buffer, 4));
    connect.Stop();
    EXPECT_EQ(1u, probe.reports.size());
    EXPECT_EQ(ConnectStatus::Connected, connect.status());
}

TEST_F(AsyncTest, ConnectThenPeerClosesEarly)
{
    Fd listener;
    const int port = Listen(listener, 4);
    ConnectProbe probe;
    ASync::Connect connect;
    connect.Bind(&ConnectProbe::OnConnect, &probe);
    connect.Start("127.0.0.1:" + std::to_string(port), 10000);
    if (probe.reports.empty())
        Run();
    ASSERT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::Connected}, probe.reports);
    ::close(::accept(listener.lowlevel_fd(), nullptr, nullptr));
    // Copying from the connection ends as at the end of the data.
    Fd dstRead, dstWrite;
    MakePipe(dstRead, dstWrite);
    probe.fd.NonBlock();
    CopyProbe copyProbe;
    ASync::Copy copy;
    copy.Bind(&CopyProbe::OnCopy, &copyProbe);
    copy.Start(probe.fd, dstWrite);
    if (copyProbe.reports.empty())
        Run();
    EXPECT_EQ(CopyReports{CopyStatus::Done}, copyProbe.reports);
    EXPECT_EQ(0u, copy.copied());
}

TEST_F(AsyncTest, ConnectFailures)
{
    // A port nobody listens on: bound once, then closed.
    Fd closed;
    const int unused = Listen(closed, 1);
    closed.close();
    const struct {
        const char* what;
        std::string address;
        bool in_start;
    } cases[] = {
        {"refused", "127.0.0.1:" + std::to_string(unused), false},
        {"empty text", "", true},
        {"host name", "localhost:80", true},
        {"bad quad", "300.1.1.1:5", true},
        {"no port", "127.0.0.1", true},
        {"port too large", "127.0.0.1:70000", true},
        {"trailing garbage", "127.0.0.1:80x", true},
    };
    for (const auto& c : cases) {
        ConnectProbe probe;
        ASync::Connect connect;
        connect.Bind(&ConnectProbe::OnConnect, &probe);
        connect.Start(c.address, 10000);
        if (c.in_start) {
            EXPECT_FALSE(probe.reports.empty()) << c.what;
        }
        if (probe.reports.empty())
            Run();
        EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::Failed}, probe.reports) << c.what;
        EXPECT_FALSE(probe.fd.is_valid()) << c.what;
        EXPECT_EQ(ConnectStatus::Failed, connect.status()) << c.what;
    }
}

TEST_F(AsyncTest, ConnectTimesOut)
{
    // An accept queue that is full drops the SYN: the attempt hangs until the
    // timer, which the test clock reaches without waiting.
    Fd listener;
    const int port = Listen(listener, 0);
    Fd first = Dial(port);

    Mux::TestClock clock(5000000);
    Mux::setClock(&clock);
    ConnectProbe probe;
    ASync::Connect connect;
    connect.Bind(&ConnectProbe::OnConnect, &probe);
    connect.Start("127.0.0.1:" + std::to_string(port), 3000);
    EXPECT_TRUE(probe.reports.empty());
    EXPECT_EQ(ConnectStatus::Running, connect.status());
    Run();
    EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::Failed}, probe.reports);
    EXPECT_FALSE(probe.fd.is_valid());
    EXPECT_GE(clock.skipped_waits(), 1u);
}

TEST_F(AsyncTest, ConnectStoppedOrDestroyed)
{
    Fd listener;
    const int port = Listen(listener, 0);
    Fd first = Dial(port);
    const std::string address = "127.0.0.1:" + std::to_string(port);

    ConnectProbe probe;
    ASync::Connect connect;
    connect.Bind(&ConnectProbe::OnConnect, &probe);
    connect.Start(address, 3000);
    connect.Stop();
    connect.Stop();
    EXPECT_EQ(std::vector<ConnectStatus::Type>{ConnectStatus::Stopped}, probe.reports);
    EXPECT_FALSE(probe.fd.is_valid());
    EXPECT_EQ(0u, multiplexer.timer_count());

    ConnectProbe silent;
    {
        ASync::Connect doomed;
        doomed.Bind(&ConnectProbe::OnConnect, &silent);
        doomed.Start(address, 3000);
    }
    EXPECT_TRUE(silent.reports.empty());
    EXPECT_EQ(0u, multiplexer.timer_count());
}

} // namespace
