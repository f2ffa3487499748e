#include "runtime/async.hpp"

#include <cerrno>
#include <utility>

#include "tests/runtime/loop_fixture.hpp"

namespace
{

using CopyStatus = ASync::Copy::Status;
using ConnectStatus = ASync::Connect::Status;
typedef std::vector<CopyStatus::Type> CopyReports;
using ConnectReports = std::vector<ConnectStatus::Type>;
using testutil::Pipe;
using testutil::read_now;

// A report made inside Start, before the loop runs, must not leave a
// terminate request behind for the next run.
bool gRunning = false;
void StopLoop()
{
    if (gRunning)
        multiplexer.terminate();
}

// A file with the given content, positioned at its start.
Fd TempFile(const std::string& content)
{
    char name[] = "/tmp/async_test.XXXXXX";
    Fd file(::mkstemp(name));
    ::unlink(name);
    EXPECT_EQ(ssize_t(content.size()), ::pwrite(file.lowlevel_fd(), content.data(), content.size(), 0));
    return file;
}

// Reads a descriptor in the loop, so that a copier's destination drains.
struct Sink {
    explicit Sink(Fd& fd)
    {
        event.Bind<Sink>("Sink", &Sink::OnEvent, this);
        event.Schedule(fd, POLLIN);
        fd.close();
    }
    // The rest, once the loop has stopped.
    std::string Finish() { return data + read_now(event.lowlevel_fd()); }
    void OnEvent(int fd, short) { data += read_now(fd); }
    std::string data;
    Event event;
};

// Records every report (and a connected descriptor) and ends the loop at each.
struct Probe {
    CopyReports reports;
    ConnectReports connects;
    Fd fd;
    void OnCopy(CopyStatus::Type status)
    {
        reports.push_back(status);
        StopLoop();
    }
    // The callback type hands the descriptor over by value.
    void OnConnect(ConnectStatus::Type status, Fd result)
    {
        connects.push_back(status);
        fd = std::move(result);
        StopLoop();
    }
};

class AsyncTest : public ::testing::Test
{
protected:
    // The daemon's own SIGPIPE handler does the same: a dead reader is an
    // EPIPE, not the end of the process.
    void SetUp() override { std::signal(SIGPIPE, SIG_IGN); }
    void TearDown() override { Mux::setClock(nullptr); }

    // Runs the loop until a handler ends it, unless the report came already.
    void Run(bool reported = false)
    {
        gRunning = !reported;
        if (gRunning)
            looptest::run_guarded();
        gRunning = false;
    }
    // A copier from src to dst with the given flush mask, reporting to probe.
    void Start(ASync::Copy& copy, Probe& probe, Fd& src, Fd& dst, int flush = POLLWRNORM)
    {
        copy.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, flush));
        copy.Bind(&Probe::OnCopy, &probe);
        copy.Start(src, dst);
        src.close();
        dst.close();
    }
};

// ---- Copy -------------------------------------------------------------------

TEST_F(AsyncTest, CopyToTheSourceEnd)
{
    // The source's size (the last two more than a pipe holds), the buffer's
    // (0: default), the flush mask, and whether the report comes from inside
    // Start.
    // clang-format off
    const std::tuple<std::size_t, unsigned, int, bool> cases[] = {
        {0, 0, 0, true}, {0, 0, POLLWRNORM, false}, {5000, 7, 0, true},
        {300000, 0, POLLWRNORM, false}, {300000, 100000, 0, false}};
    // clang-format on
    for (const auto& [size, bufsize, flush, done_in_start] : cases) {
        SCOPED_TRACE(::testing::Message() << size << " " << bufsize << " " << flush);
        std::string data;
        for (std::size_t i = 0; i < size; ++i)
            data += char('A' + i * 7 % 53);
        Pipe src, dst; // both ends non-blocking, as the slots hand them over
        // A second copier feeds the source pipe from a file as it drains.
        ASync::Copy feeder;
        Fd file = TempFile(data);
        feeder.set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
        feeder.Start(file, src.w);
        src.w.close();

        Probe probe;
        ASync::Copy copy;
        if (bufsize)
            copy.set_bufsize(bufsize);
        Sink sink(dst.r);
        Start(copy, probe, src.r, dst.w, flush);
        EXPECT_EQ(done_in_start, !probe.reports.empty());
        Run(!probe.reports.empty());
        EXPECT_EQ(CopyReports{CopyStatus::Done}, probe.reports);
        EXPECT_EQ(size, copy.copied());
        EXPECT_EQ(0, copy.error());
        EXPECT_TRUE(data == sink.Finish());
    }
}

TEST_F(AsyncTest, CopyEndsAtFailuresAndAtThePeersClose)
{
    const struct {
        bool directory;    // else a TCP peer that sends "abc"
        bool hard_close;   // the peer aborts the connection
        bool close_reader; // the destination has no reader
        CopyStatus::Type status;
        int error;
        unsigned copied;
    } cases[] = {
        {true, false, false, CopyStatus::Failed, EISDIR, 0},
        {false, true, false, CopyStatus::Failed, ECONNRESET, 3}, // after data
        {false, true, true, CopyStatus::Failed, EPIPE, 0},
        {false, false, false, CopyStatus::Done, 0, 3}, // the peer closing early is the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.error);
        Fd src, peer;
        Pipe dst;
        if (c.directory) {
            src = Fd(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            ASSERT_TRUE(src.is_valid());
        } else {
            testutil::TcpPair tcp; // the accepted end is non-blocking
            src = tcp.server;
            peer = tcp.client;
            ASSERT_EQ(3, ::write(peer.lowlevel_fd(), "abc", 3));
        }
        if (c.close_reader)
            dst.r.close();
        Probe probe;
        ASync::Copy copy;
        copy.set_bufsize(3);
        Start(copy, probe, src, dst.w);
        linger hard{1, 0};
        if (c.hard_close)
            ::setsockopt(peer.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &hard, sizeof(hard));
        peer.close(); // none for the directory
        Run(!probe.reports.empty());
        EXPECT_EQ(CopyReports{c.status}, probe.reports);
        EXPECT_EQ(c.error, copy.error());
        EXPECT_EQ(c.copied, copy.copied());
        EXPECT_EQ(std::string("abc", c.copied), dst.r.is_valid() ? read_now(dst.r.lowlevel_fd()) : "");
    }
}

// Changing the masks or the buffer during a copy ends it with Reset and
// closes both of its descriptors; destroying it ends it without a report.
TEST_F(AsyncTest, CopyResetOrDestroyedWhileRunning)
{
    for (int which = 0; which < 3; ++which) {
        Pipe src, dst; // both ends non-blocking, as the slots hand them over
        Probe probe;
        {
            ASync::Copy copy;
            Start(copy, probe, src.r, dst.w);
            EXPECT_EQ(CopyStatus::Running, copy.status()) << which;
            if (which == 0)
                copy.set_events(ASync::Copy::EventsParams());
            if (which == 1)
                copy.set_bufsize(64);
            EXPECT_EQ(which < 2 ? CopyReports{CopyStatus::Reset} : CopyReports{}, probe.reports) << which;
            if (which < 2)
                copy.set_bufsize(32); // while nothing runs: ends nothing
        }
        EXPECT_EQ(which < 2 ? 1u : 0u, probe.reports.size()) << which;
        EXPECT_EQ(-1, ::write(src.w.lowlevel_fd(), "x", 1)) << which;
        EXPECT_EQ(EPIPE, errno) << which;
        char c;
        EXPECT_EQ(0, ::read(dst.r.lowlevel_fd(), &c, 1)) << which;
    }
}

// Stop closes the source at once and ends the copy when what was read is
// written (and flushed, where the masks ask for it).
TEST_F(AsyncTest, StopDrainsThePendingWrite)
{
    // The flush mask; whether the destination is full, so that "tail" waits
    // in the buffer; whether the report comes from inside Stop.
    const std::tuple<int, bool, bool> cases[] = {
        {POLLWRNORM, true, false}, {0, true, false}, {0, false, true}, {POLLWRNORM, false, false}};
    for (const auto& [flush, pending, reported_at_stop] : cases) {
        SCOPED_TRACE(::testing::Message() << flush << " " << pending);
        Pipe src, dst; // both ends non-blocking, as the slots hand them over
        std::size_t filler = 0;
        const std::string block(4096, 'f');
        for (ssize_t n; pending && (n = ::write(dst.w.lowlevel_fd(), block.data(), block.size())) > 0;)
            filler += static_cast<std::size_t>(n);
        ASSERT_EQ(pending ? 4 : 0, ::write(src.w.lowlevel_fd(), "tail", pending ? 4 : 0));
        Probe probe;
        ASync::Copy copy;
        Start(copy, probe, src.r, dst.w, flush);
        copy.Stop();
        EXPECT_EQ(reported_at_stop, !probe.reports.empty());
        EXPECT_EQ(pending, CopyStatus::Draining == copy.status());
        EXPECT_EQ(-1, ::write(src.w.lowlevel_fd(), "x", 1));
        Sink sink(dst.r);
        Run(!probe.reports.empty());
        copy.Stop();
        EXPECT_EQ(CopyReports{CopyStatus::Done}, probe.reports);
        EXPECT_EQ(pending ? 4u : 0u, copy.copied());
        EXPECT_EQ(pending ? "tail" : "", sink.Finish().substr(filler));
    }
}

// A handler may start its copier again, and destroy it.
struct Restarter {
    ASync::Copy* copy = new ASync::Copy;
    Fd next_src, next_dst;
    CopyReports reports;
    void OnCopy(CopyStatus::Type status)
    {
        reports.push_back(status);
        Fd src = next_src, dst = next_dst;
        next_src.close();
        next_dst.close();
        if (src.is_valid())
            return copy->Start(src, dst);
        delete copy;
        copy = nullptr;
    }
};

TEST_F(AsyncTest, HandlerRestartsThenDestroys)
{
    Pipe dst;
    Restarter r;
    r.copy->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
    r.copy->Bind(&Restarter::OnCopy, &r);
    r.next_src = TempFile("second");
    r.next_dst = dst.w;
    r.copy->Start(TempFile("first,"), dst.w);
    dst.w.close();
    EXPECT_EQ(nullptr, r.copy);
    EXPECT_EQ((CopyReports{CopyStatus::Done, CopyStatus::Done}), r.reports);
    EXPECT_EQ("first,second", read_now(dst.r.lowlevel_fd()));
}

// ---- Connect ----------------------------------------------------------------

TEST_F(AsyncTest, ConnectOutcomes)
{
    int port = 0, unused = 0;
    Fd listener = testutil::listener(port, 4);
    testutil::listener(unused); // a port nobody listens on: bound once, then closed
    // An address, whether the report comes from inside Start, the report.
    const std::tuple<std::string, bool, ConnectStatus::Type> cases[] = {
        {"127.0.0.1:" + std::to_string(port), false, ConnectStatus::Connected},
        {"127.0.0.1:" + std::to_string(unused), false, ConnectStatus::Failed},
        {"300.1.1.1:5", true, ConnectStatus::Failed}, // any text the address parser refuses
        {"127.0.0.1", true, ConnectStatus::Failed},
    };
    for (const auto& [address, in_start, status] : cases) {
        SCOPED_TRACE(address);
        Probe probe;
        ASync::Connect connect;
        connect.Bind(&Probe::OnConnect, &probe);
        connect.Start(address, 10000);
        EXPECT_EQ(in_start, !probe.connects.empty());
        Run(!probe.connects.empty());
        connect.Stop(); // after the report: nothing more
        EXPECT_EQ(ConnectReports{status}, probe.connects);
        EXPECT_EQ(status == ConnectStatus::Connected, probe.fd.is_valid());
        if (!probe.fd.is_valid())
            continue;
        // The connector has closed its own socket; the handed descriptor lives on.
        Fd server(::accept(listener.lowlevel_fd(), nullptr, nullptr));
        ASSERT_EQ(4, ::write(probe.fd.lowlevel_fd(), "ping", 4));
        char buffer[4];
        ASSERT_EQ(4, ::recv(server.lowlevel_fd(), buffer, 4, MSG_WAITALL));
        EXPECT_EQ("ping", std::string(buffer, 4));
    }
}

TEST_F(AsyncTest, ConnectTimesOutOrIsStoppedOrDestroyed)
{
    // An accept queue that is full drops the SYN: the attempt hangs until the
    // timer, which the test clock reaches without waiting.
    int port = 0;
    Fd listener = testutil::listener(port, 0);
    Fd first = testutil::connect_to(port);
    const std::string address = "127.0.0.1:" + std::to_string(port);
    Mux::TestClock clock(5000000);
    Mux::setClock(&clock);
    Probe probe;
    ASync::Connect connect;
    connect.Bind(&Probe::OnConnect, &probe);
    connect.Start(address, 3000);
    EXPECT_EQ(ConnectStatus::Running, connect.status());
    Run();
    EXPECT_EQ(ConnectReports{ConnectStatus::Failed}, probe.connects);
    EXPECT_FALSE(probe.fd.is_valid());
    EXPECT_GE(clock.skipped_waits(), 1u);

    probe.connects.clear();
    connect.Start(address, 3000);
    connect.Stop();
    connect.Stop();
    EXPECT_EQ(ConnectReports{ConnectStatus::Stopped}, probe.connects);
    EXPECT_EQ(0u, multiplexer.timer_count());
    probe.connects.clear();
    {
        ASync::Connect doomed;
        doomed.Bind(&Probe::OnConnect, &probe);
        doomed.Start(address, 3000);
    }
    EXPECT_TRUE(probe.connects.empty());
    EXPECT_EQ(0u, multiplexer.timer_count());
}

} // namespace
