#include "runtime/syslog.hpp"

#include "runtime/clock.hpp"
#include "tests/runtime/test_util.hpp"

#include <ctime>
#include <syslog.h>

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
