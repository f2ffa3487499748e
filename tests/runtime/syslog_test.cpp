#include "runtime/syslog.hpp"

#include "runtime/clock.hpp"
#include "runtime/event.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/timer.hpp"
#include "tests/runtime/test_util.hpp"
#include "tests/support/process_guard.hpp"

#include <cerrno>
#include <ctime>
#include <dlfcn.h>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <syslog.h>
#include <thread>

namespace
{

// 2026-06-03 09:05:07 UTC: a one-digit day shows the blank padding of "%e".
const long kWall = 1780477507;
const char kStamp[] = "Jun  3 09:05:07 ";
const char kIdent[] = "qvd-T230630-1920";
typedef std::vector<std::string> Datagrams;

std::string Record(int priority, const std::string& text, const std::string& ident = kIdent)
{
    return "<" + std::to_string(priority) + ">" + kStamp + ident + ": " + text + std::string(1, '\0');
}

// A private "/dev/log" under a temporary root, read by the test itself.
class SysLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC0", 1);
        tzset();
        mRoot.mkdirs("dev");
        mClock.set_wall(kWall, 250000);
        Mux::setClock(&mClock);
        Bind(SOCK_DGRAM);
        syslogManager.closelog();
        syslogManager.openlog(kIdent, LOG_NDELAY, 0);
        ASSERT_TRUE(syslogManager.connected());
    }
    void TearDown() override
    {
        syslogManager.closelog();
        Mux::setClock(nullptr);
    }
    void Bind(int type)
    {
        mSocket = Fd(testutil::bind_unix(mRoot / "dev/log", type));
        ASSERT_EQ(0, type == SOCK_STREAM ? listen(mSocket.lowlevel_fd(), 1) : 0);
    }
    Datagrams Received() { return testutil::datagrams(mSocket.lowlevel_fd()); }
    testutil::TempDir mRoot;
    Fd mSocket;
    Mux::TestClock mClock;
};

TEST_F(SysLogTest, LinesBecomeRecords)
{
    const std::string longLine(2000, 'x');
    const std::size_t room = 1023 - (Record(27, "").size() - 1);
    // Each text is written to the stream, then flushed.
    const std::pair<std::string, Datagrams> cases[] = {
        {"a\nb\n", {Record(27, "a") + Record(27, "b")}}, // one datagram
        {"a\n\nb\n", {Record(27, "a") + Record(27, "") + Record(27, "b")}},
        {"x\ny", {Record(27, "x") + Record(27, "y")}},             // the remainder after the last line feed
        {"partial", {}},                                           // no line feed stays buffered...
        {"\n", {Record(27, "partial")}},                           // ...until one comes
        {"%s %d %n\n", {Record(27, "%s %d %n")}},                  // format characters are literal
        {longLine + "\n", {Record(27, longLine.substr(0, room))}}, // cut to 1024 bytes with the NUL
    };
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    for (const auto& [written, datagrams] : cases) {
        os << written << std::flush;
        EXPECT_EQ(datagrams, Received()) << written;
    }
    EXPECT_EQ(1024u, Record(27, longLine.substr(0, room)).size());

    // 16,383 characters fill the put area: they go out as one record (cut),
    // the rest of the line as the next one.
    std::string line;
    for (int i = 0; i < 20000; ++i)
        line += char('a' + i % 26);
    os << line;
    EXPECT_EQ(Datagrams{Record(27, line.substr(0, room))}, Received());
    os << "\n" << std::flush;
    EXPECT_EQ(Datagrams{Record(27, line.substr(16383, room))}, Received());
}

TEST_F(SysLogTest, OneFlushPacksRecordsIntoFewDatagrams)
{
    // Lines of a length, and the records per datagram: 256 records or 12288
    // bytes at most.
    const std::tuple<int, std::size_t, std::vector<std::size_t>> cases[] = {
        {10, 5, {10}}, {300, 1, {256, 44}}, {150, 100, {89, 61}}};
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_NOTICE);
    std::ostream os(&buf);
    for (const auto& [lines, length, records] : cases) {
        SCOPED_TRACE(lines);
        std::string text;
        for (int i = 0; i < lines; ++i)
            text += std::string(length, char('a' + i % 26)) + "\n";
        os << text << std::flush;
        std::vector<std::size_t> counts;
        int line = 0;
        for (const std::string& d : Received()) {
            std::size_t n = 0;
            for (std::size_t at = 0; at < d.size(); ++n, ++line) {
                const std::size_t nul = d.find('\0', at);
                ASSERT_NE(std::string::npos, nul);
                EXPECT_EQ(Record(29, std::string(length, char('a' + line % 26))), d.substr(at, nul + 1 - at));
                at = nul + 1;
            }
            counts.push_back(n);
        }
        EXPECT_EQ(records, counts);
    }
}

TEST_F(SysLogTest, RecordFields)
{
    const std::string pid = "id[" + std::to_string(getpid()) + "]";
    // Without an identity the log stays closed: it reconnects with the
    // default one. Without a facility the default one is taken.
    const std::tuple<int, int, const char*, std::string> cases[] = {
        {LOG_ERR, LOG_NDELAY, "id", Record(11, "t", "id")},
        {LOG_LOCAL0 | LOG_INFO, LOG_NDELAY, "id", Record(134, "t", "id")},
        {LOG_DAEMON | LOG_NOTICE, 0, nullptr, Record(29, "t", "syslog-pd")},
        {LOG_DAEMON | LOG_ERR, LOG_NDELAY | LOG_PID, "id", Record(27, "t", pid)},
    };
    for (const auto& [priority, options, ident, expected] : cases) {
        syslogManager.closelog();
        if (ident)
            syslogManager.openlog(ident, options, 0);
        syslogManager.syslog(priority, "t");
        syslogManager.sendmsg();
        EXPECT_EQ(Datagrams{expected}, Received());
    }
}

TEST_F(SysLogTest, ReceiverRestartedOrGone)
{
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    os << "before" << std::endl;
    EXPECT_EQ(Datagrams{Record(27, "before")}, Received());
    Bind(SOCK_DGRAM); // the syslog daemon restarts on the same path
    for (const char* line : {"after", "later"}) {
        os << line << std::endl;
        EXPECT_EQ(Datagrams{Record(27, line)}, Received());
    }
    syslogManager.closelog();
    unlink((mRoot / "dev/log").c_str());
    os << "lost\nlost\n" << std::flush;
    EXPECT_TRUE(os.good());
    EXPECT_EQ(-1, syslogManager.fd());
}

TEST_F(SysLogTest, StreamReceiverAfterProtocolTypeError)
{
    syslogManager.closelog();
    Bind(SOCK_STREAM);
    syslogManager.openlog(kIdent, LOG_NDELAY, 0);
    ASSERT_TRUE(syslogManager.connected());
    Fd peer(accept(mSocket.lowlevel_fd(), nullptr, nullptr));
    syslogManager.syslog(LOG_DAEMON | LOG_ERR, "a");
    syslogManager.syslog(LOG_DAEMON | LOG_ERR, "b");
    syslogManager.sendmsg();
    const std::string expected = Record(27, "a") + Record(27, "b");
    std::string got(expected.size(), '\0');
    ASSERT_EQ(ssize_t(got.size()), recv(peer.lowlevel_fd(), &got[0], got.size(), MSG_WAITALL));
    EXPECT_EQ(expected, got);
}

} // namespace

namespace
{
// A step taken once, right after the next connect of this program.
std::function<void()> gAfterConnect;
} // namespace

// This program's connect: the system's, then the step a test put after it,
// so that the test acts between the syslog client's connect and what the
// client does next.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length)
{
    using System = int (*)(int, const sockaddr*, socklen_t);
    static const auto system = reinterpret_cast<System>(::dlsym(RTLD_NEXT, "connect"));
    const int result = system(fd, address, length);
    if (gAfterConnect) {
        const int error = errno;
        const std::function<void()> step = std::move(gAfterConnect);
        gAfterConnect = nullptr;
        step();
        errno = error;
    }
    return result;
}

namespace
{

// The text of each record in the records (each ended by its NUL), in order.
std::vector<std::string> Texts(const std::string& records)
{
    std::vector<std::string> texts;
    const std::string prefix = std::string(kStamp) + kIdent + ": ";
    for (std::size_t at = 0; at < records.size();) {
        const std::size_t nul = records.find('\0', at);
        const std::size_t open = records.find('>', at);
        if (nul == std::string::npos || open > nul || records.compare(open + 1, prefix.size(), prefix) != 0) {
            texts.push_back("not a whole record: " + records.substr(at, 40));
            break;
        }
        texts.push_back(records.substr(open + 1 + prefix.size(), nul - open - 1 - prefix.size()));
        at = nul + 1;
    }
    return texts;
}

std::string Line(int i, std::size_t width = 0)
{
    std::string text = "line " + std::to_string(i);
    return text + std::string(width > text.size() ? width - text.size() : 0, '.');
}

// The lines from..to-1 of a width, or the first difference.
::testing::AssertionResult Lines(const std::vector<std::string>& texts, int from, int to,
                                 std::size_t width = 0)
{
    if (texts.size() != std::size_t(to - from))
        return ::testing::AssertionFailure() << texts.size() << " lines, not " << to - from;
    for (int i = from; i < to; ++i)
        if (texts[std::size_t(i - from)] != Line(i, width))
            return ::testing::AssertionFailure() << "at " << i - from << ": " << texts[std::size_t(i - from)];
    return ::testing::AssertionSuccess();
}

class SysLogBacklogTest : public SysLogTest
{
protected:
    // A small send buffer: a batch takes more than one of the socket's
    // buffers, so a stream may take a part of it.
    void ShrinkSendBuffer()
    {
        const int size = 4096;
        ASSERT_EQ(0, ::setsockopt(syslogManager.fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size));
    }
    // Writes one line a flush until the socket refuses one.
    int FillSocket(std::ostream& os, std::size_t width = 0)
    {
        int n = 0;
        while (n < 100000 && syslogManager.waiting() == 0)
            os << Line(n++, width) << std::endl;
        EXPECT_NE(0u, syslogManager.waiting());
        return n;
    }
    // A reader of the type at "/dev/log" and the client connected to it; for
    // a stream, the accepted connection, with a small send buffer.
    Fd Reconnect(int type)
    {
        syslogManager.closelog();
        Bind(type);
        syslogManager.openlog(kIdent, LOG_NDELAY, 0);
        EXPECT_TRUE(syslogManager.connected());
        if (type != SOCK_STREAM)
            return Fd();
        Fd peer(::accept(mSocket.lowlevel_fd(), nullptr, nullptr));
        ShrinkSendBuffer();
        return peer;
    }
    // Flushes batches of `lines` lines of the width until the socket refuses
    // some; the number of lines written.
    int FillInBatches(std::ostream& os, int lines, std::size_t width)
    {
        int n = 0;
        for (int flush = 0; flush < 10000 && syslogManager.waiting() == 0; ++flush) {
            for (int i = 0; i < lines; ++i)
                os << Line(n++, width) << "\n";
            os << std::flush;
        }
        EXPECT_NE(0u, syslogManager.waiting());
        return n;
    }
    // Reads on, letting what waits go after each read, until nothing waits.
    std::string ReadAll(int fd)
    {
        std::string got;
        for (int round = 0; round < 100000; ++round) {
            for (const std::string& d : testutil::datagrams(fd))
                got += d;
            if (syslogManager.waiting() == 0)
                break;
            syslogManager.sendmsg();
        }
        for (const std::string& d : testutil::datagrams(fd))
            got += d;
        return got;
    }
    std::string ReadStream(int fd)
    {
        std::string got;
        char buffer[65536];
        for (int round = 0; round < 100000; ++round) {
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
                got.append(buffer, std::size_t(n));
            if (syslogManager.waiting() == 0)
                break;
            syslogManager.sendmsg();
        }
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
            got.append(buffer, std::size_t(n));
        return got;
    }
};

// What the reader cannot take at once waits; lines written meanwhile go
// behind it, and everything arrives once, in order, as the reader reads.
TEST_F(SysLogBacklogTest, WhatTheReaderCannotTakeWaitsInOrder)
{
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    int n = FillSocket(os);
    for (int i = 0; i < 5; ++i)
        os << Line(n++) << std::endl;
    // Once the reader has taken something, the next line lets what waits go
    // first.
    std::string got;
    for (const std::string& d : Received())
        got += d;
    os << Line(n) << "\n" << Line(n + 1) << std::endl;
    n += 2;
    got += ReadAll(mSocket.lowlevel_fd());
    EXPECT_TRUE(Lines(Texts(got), 0, n));
    EXPECT_EQ(0u, syslogManager.waiting());

    // With room again, a line is one datagram of its own at once.
    os << "alone" << std::endl;
    EXPECT_EQ(Datagrams{Record(27, "alone")}, Received());
}

// At most BacklogSize bytes of records wait; a record that finds the backlog
// full is dropped. Those that waited still arrive in order, then new ones.
TEST_F(SysLogBacklogTest, BacklogHoldsItsSizeAndDropsWhatFindsItFull)
{
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    const std::size_t width = 900;
    int n = FillSocket(os, width);
    const std::size_t record = Record(27, Line(0, width)).size();
    const int more = int(SysLogManager::BacklogSize / record) + 50;
    for (int i = 0; i < more; ++i) {
        os << Line(n++, width) << std::endl;
        ASSERT_LE(syslogManager.waiting(), std::size_t(SysLogManager::BacklogSize));
    }
    EXPECT_GT(syslogManager.waiting() + record, std::size_t(SysLogManager::BacklogSize)) << "full";

    std::vector<std::string> texts = Texts(ReadAll(mSocket.lowlevel_fd()));
    ASSERT_LT(texts.size(), std::size_t(n)) << "the last ones were dropped";
    EXPECT_TRUE(Lines(texts, 0, int(texts.size()), width));
    os << "after" << std::endl;
    EXPECT_EQ(Datagrams{Record(27, "after")}, Received());
}

// On a stream, a send that takes part of a batch leaves the rest to go on
// from there: every record arrives whole, once, in order.
TEST_F(SysLogBacklogTest, AStreamGetsEveryRecordWholeAfterPartialSends)
{
    Fd peer = Reconnect(SOCK_STREAM);
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    // Whole batches of lines of odd lengths: the socket fills in the middle
    // of one.
    int n = FillInBatches(os, 70, 137);
    for (int i = 0; i < 40; ++i)
        os << Line(n++, 137) << std::endl;
    EXPECT_TRUE(Lines(Texts(ReadStream(peer.lowlevel_fd())), 0, n, 137));
}

// The reader restarted while records waited: they go to the new one, then
// what comes after. On a stream, a record the old connection took in part is
// sent again whole.
TEST_F(SysLogBacklogTest, AReaderRestartedGetsWhatWaited)
{
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        SCOPED_TRACE(type);
        Fd peer = Reconnect(type);
        ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
        std::ostream os(&buf);
        int n = FillInBatches(os, 40, 301);
        peer.close();
        Bind(type); // the old reader is gone with what it held
        os << Line(n++, 301) << std::endl;
        if (type == SOCK_STREAM)
            peer = Fd(::accept(mSocket.lowlevel_fd(), nullptr, nullptr));
        const int fd = type == SOCK_STREAM ? peer.lowlevel_fd() : mSocket.lowlevel_fd();
        const std::vector<std::string> texts = Texts(type == SOCK_STREAM ? ReadStream(fd) : ReadAll(fd));
        ASSERT_FALSE(texts.empty());
        const int first = n - int(texts.size());
        EXPECT_GT(first, 0) << "the old reader held the first ones";
        EXPECT_TRUE(Lines(texts, first, n, 301));
    }
}

// At the end, what waits gets a bounded time to leave: all of it when the
// reader reads meanwhile, and the wait ends when it never does.
TEST_F(SysLogBacklogTest, LingerSendsWhatWaitsWhileTheReaderReads)
{
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    const int n = FillSocket(os);
    syslogManager.linger(50);
    EXPECT_NE(0u, syslogManager.waiting()) << "nobody read";

    std::string got;
    std::thread reader([&got, n, fd = mSocket.lowlevel_fd()] {
        char buffer[65536];
        while (got.find(Line(n - 1) + std::string(1, '\0')) == std::string::npos) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 10000) <= 0)
                break;
            const ssize_t r = ::recv(fd, buffer, sizeof buffer, 0);
            if (r > 0)
                got.append(buffer, std::size_t(r));
        }
    });
    syslogManager.linger(60000);
    reader.join();
    EXPECT_EQ(0u, syslogManager.waiting());
    EXPECT_TRUE(Lines(Texts(got), 0, n));
}

// A datagram reader replaced at "/dev/log" by one that does not read yet,
// the old one gone, or still there and no longer reading. What the old one
// took stays with it; the client then connects to the reader now at the
// path, whose room (none yet) is what the loop watches, so it waits instead
// of spinning. Once the new reader reads, the rest arrives in order.
TEST_F(SysLogBacklogTest, AReplacedReaderIsConnectedToAnew)
{
    for (const bool oldStays : {false, true}) {
        SCOPED_TRACE(oldStays ? "the old reader still there" : "the old reader gone");
        Reconnect(SOCK_DGRAM);
        ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
        std::ostream os(&buf);
        int n = FillSocket(os);
        ASSERT_TRUE(Lines(Texts(ReadAll(mSocket.lowlevel_fd())), 0, n));
        // The new reader takes the path before the old one goes, if it goes.
        Fd old = mSocket;
        mSocket = Fd(testutil::bind_unix(mRoot / "dev/log.new", SOCK_DGRAM));
        ASSERT_EQ(0, ::rename((mRoot / "dev/log.new").c_str(), (mRoot / "dev/log").c_str()));
        if (!oldStays)
            old.close();
        const int from = n;
        for (int lines = 0; lines < 100000 && syslogManager.waiting() == 0; ++lines)
            os << Line(n++) << std::endl;
        ASSERT_NE(0u, syslogManager.waiting());

        pollfd room{syslogManager.fd(), POLLOUT, 0};
        EXPECT_EQ(0, ::poll(&room, 1, 0)) << "the new reader's room, none yet";
        std::string got;
        if (oldStays) {
            for (const std::string& d : testutil::datagrams(old.lowlevel_fd()))
                got += d;
            EXPECT_EQ(std::string::npos, got.find(Line(n - 1) + std::string(1, '\0')))
                << "the last ones are not the old reader's";
        }
        got += ReadAll(mSocket.lowlevel_fd());
        EXPECT_TRUE(Lines(Texts(got), from, n));
    }
}

// Reads a datagram reader in the loop until a text has come, or until the
// loop's time (virtual: it jumps over every wait) is up.
class LoopReader
{
public:
    LoopReader(const Fd& socket, std::string last) : mLast(std::move(last))
    {
        mEvent.Bind<LoopReader>("reader", &LoopReader::OnRead, this);
        mEvent.Schedule(socket, POLLIN);
        mDeadline.set(60000, &LoopReader::OnDeadline, this);
    }
    std::string Run()
    {
        const testutil::Capture quiet(std::clog); // the loop's last line
        multiplexer.run(false, true);
        return mGot;
    }

private:
    void OnRead(int fd, short revents)
    {
        if (!(revents & POLLIN))
            return;
        for (const std::string& d : testutil::datagrams(fd))
            mGot += d;
        if (mGot.find(mLast) != std::string::npos)
            multiplexer.terminate();
    }
    void OnDeadline() { multiplexer.terminate(); }

    std::string mLast;
    std::string mGot;
    Event mEvent;
    Timer mDeadline;
};

// Records wait for a datagram reader that takes nothing more and is no
// longer at "/dev/log": another was renamed over the path while they
// waited, or right after the client's connect (before the client noted
// whose the path was). No record follows; in the loop, what waited reaches
// the reader now at the path all the same, after what the old one holds.
TEST_F(SysLogBacklogTest, WhatWaitsReachesTheReaderNowAtThePathWithNoLaterRecord)
{
    for (const bool atConnect : {false, true}) {
        SCOPED_TRACE(atConnect ? "replaced right after the connect" : "replaced while records wait");
        syslogManager.closelog();
        Bind(SOCK_DGRAM);
        const Fd old = mSocket;
        const auto replace = [this] {
            mSocket = Fd(testutil::bind_unix(mRoot / "dev/log.new", SOCK_DGRAM));
            ASSERT_EQ(0, ::rename((mRoot / "dev/log.new").c_str(), (mRoot / "dev/log").c_str()));
        };
        if (atConnect)
            gAfterConnect = replace;
        syslogManager.openlog(kIdent, LOG_NDELAY, 0);
        gAfterConnect = nullptr;
        ASSERT_TRUE(syslogManager.connected());
        ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
        std::ostream os(&buf);
        const int n = FillSocket(os);
        if (!atConnect)
            replace();

        const std::string now = LoopReader(mSocket, Line(n - 1) + std::string(1, '\0')).Run();
        std::string got;
        for (const std::string& d : testutil::datagrams(old.lowlevel_fd()))
            got += d;
        EXPECT_NE(0u, got.size()) << "the old reader holds the first ones";
        EXPECT_TRUE(Lines(Texts(got + now), 0, n));
    }
}

// What a socket holds now: its datagrams, or a stream's bytes up to its end.
std::string Available(int fd)
{
    std::string got;
    char buffer[65536];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
        got.append(buffer, std::size_t(n));
    return got;
}

// In daemon mode descriptors 1 and 2 are the syslog: after the reader is
// replaced, a raw write made once the client has logged to the new reader
// reaches it, as the records do. The client runs in a child, whose
// descriptors 1 and 2 it takes; the test replaces the reader between the
// child's two writes.
TEST_F(SysLogTest, RawWritesFollowTheReaderOfNow)
{
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        SCOPED_TRACE(type == SOCK_DGRAM ? "datagrams" : "stream");
        syslogManager.closelog();
        Bind(type);
        int go[2], ready[2];
        ASSERT_EQ(0, ::pipe2(go, O_CLOEXEC));
        ASSERT_EQ(0, ::pipe2(ready, O_CLOEXEC));
        const Fd goRead(go[0]), goWrite(go[1]), readyRead(ready[0]), readyWrite(ready[1]);
        support::HeldChild child;
        ASSERT_LE(0, child.pid());
        if (child.pid() == 0) {
            // Only the test holds the readers.
            ::close(mSocket.lowlevel_fd());
            syslogManager.openlog(kIdent, LOG_NDELAY, 0);
            syslogManager.own_standard_streams();
            char byte = 0;
            const bool raw = ::write(1, "raw-old\n", 8) == 8;
            if (::write(readyWrite.lowlevel_fd(), "r", 1) != 1 || ::read(goRead.lowlevel_fd(), &byte, 1) != 1)
                ::_exit(3);
            syslogManager.syslog(LOG_DAEMON | LOG_ERR, "after");
            syslogManager.sendmsg();
            ::_exit(raw && ::write(2, "raw-new\n", 8) == 8 ? 0 : 4);
        }
        Fd old = type == SOCK_STREAM ? Fd(::accept(mSocket.lowlevel_fd(), nullptr, nullptr)) : mSocket;
        char byte = 0;
        ASSERT_EQ(1, ::read(readyRead.lowlevel_fd(), &byte, 1));
        EXPECT_EQ("raw-old\n", Available(old.lowlevel_fd()));
        // A syslog daemon restarted: the old reader goes, a new one binds.
        old.close();
        mSocket.close();
        Bind(type);
        ASSERT_EQ(1, ::write(goWrite.lowlevel_fd(), "g", 1));
        int status = -1;
        ASSERT_TRUE(child.reap(status));
        EXPECT_EQ(0, status) << "the raw writes were taken";
        const Fd now = type == SOCK_STREAM ? Fd(::accept(mSocket.lowlevel_fd(), nullptr, nullptr)) : mSocket;
        EXPECT_EQ(Record(27, "after") + "raw-new\n", Available(now.lowlevel_fd()));
    }
}

} // namespace
