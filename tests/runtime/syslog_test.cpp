#include "runtime/syslog.hpp"

#include "runtime/clock.hpp"
#include "tests/runtime/test_util.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>
#include <vector>

namespace {

// 2026-06-03 09:05:07 UTC: a one-digit day shows the blank padding of "%e".
const long kWall = 1780477507;
const char kStamp[] = "Jun  3 09:05:07 ";
const char kIdent[] = "qvd-T230630-1920";

std::string Record(int priority, const std::string& text)
{
    return "<" + std::to_string(priority) + ">" + kStamp + kIdent + ": " + text + std::string(1, '\0');
}

// A private "/dev/log" under a temporary root, read by the test itself.
class SysLogTest : public ::testing::Test {
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
        if (mSocket >= 0)
            close(mSocket);
    }

    std::string Path() const { return mRoot / "dev/log"; }

    void Bind(int type)
    {
        if (mSocket >= 0)
            close(mSocket);
        unlink(Path().c_str());
        mSocket = socket(AF_UNIX, type, 0);
        ASSERT_GE(mSocket, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof(addr.sun_path), "%s", Path().c_str());
        ASSERT_EQ(0, bind(mSocket, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)));
        if (type == SOCK_STREAM) {
            ASSERT_EQ(0, listen(mSocket, 1));
        }
    }

    // Every datagram waiting on the socket, in order; never blocks.
    std::vector<std::string> Datagrams()
    {
        std::vector<std::string> out;
        std::vector<char> buffer(65536);
        for (;;) {
            ssize_t n = recv(mSocket, buffer.data(), buffer.size(), MSG_DONTWAIT);
            if (n < 0)
                break;
            out.emplace_back(buffer.data(), static_cast<std::size_t>(n));
        }
        return out;
    }

    testutil::TempDir mRoot;
    int mSocket = -1;
    Mux::TestClock mClock;
};

struct LinesCase {
    const char* what;
    std::string written; // written to the stream, then flushed
    std::vector<std::string> datagrams;
};

TEST_F(SysLogTest, LinesBecomeRecords)
{
    const std::string longLine(2000, 'x');
    const std::string head = Record(27, "");
    const std::size_t room = 1023 - (head.size() - 1);
    const LinesCase cases[] = {
        {"two lines, one datagram", "a\nb\n", {Record(27, "a") + Record(27, "b")}},
        {"empty line between", "a\n\nb\n", {Record(27, "a") + Record(27, "") + Record(27, "b")}},
        {"remainder after the last line feed", "x\ny", {Record(27, "x") + Record(27, "y")}},
        {"no line feed stays buffered", "partial", {}},
        {"the line feed sends it", "\n", {Record(27, "partial")}},
        {"format characters are literal", "%s %d %n\n", {Record(27, "%s %d %n")}},
        {"a long line is cut to 1023 bytes", longLine + "\n", {Record(27, longLine.substr(0, room))}},
    };
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    for (const LinesCase& c : cases) {
        os << c.written << std::flush;
        EXPECT_EQ(c.datagrams, Datagrams()) << c.what;
    }
    EXPECT_EQ(1024u, Record(27, longLine.substr(0, room)).size());
}

TEST_F(SysLogTest, PriorityPerStream)
{
    const struct {
        int severity;
        int priority;
    } cases[] = {{LOG_NOTICE, 29}, {LOG_ERR, 27}, {LOG_DEBUG, 31}};
    for (const auto& c : cases) {
        ManagedSysLogStreamBuf buf(LOG_DAEMON, c.severity);
        EXPECT_EQ(c.priority, buf.priority());
        std::ostream os(&buf);
        os << "line" << std::endl;
        EXPECT_EQ(std::vector<std::string>{Record(c.priority, "line")}, Datagrams());
    }
}

TEST_F(SysLogTest, LineLongerThanTheBufferIsSplit)
{
    // 16,383 characters fill the put area: they go out as one record (cut to
    // 1023 bytes), the rest of the line as the next one.
    std::string line;
    for (int i = 0; i < 20000; ++i)
        line += char('a' + i % 26);
    const std::size_t room = 1023 - (Record(31, "").size() - 1);
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_DEBUG);
    std::ostream os(&buf);
    os << line;
    EXPECT_EQ(std::vector<std::string>{Record(31, line.substr(0, room))}, Datagrams());
    os << "\n" << std::flush;
    EXPECT_EQ(std::vector<std::string>{Record(31, line.substr(16383, room))}, Datagrams());
}

struct BatchCase {
    const char* what;
    int lines;
    std::size_t length;
    std::vector<std::size_t> records; // records per datagram
};

TEST_F(SysLogTest, OneFlushPacksRecordsIntoFewDatagrams)
{
    const BatchCase cases[] = {
        {"ten lines", 10, 5, {10}},
        {"256 records at most", 300, 1, {256, 44}},
        {"12288 bytes at most", 150, 100, {89, 61}},
    };
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_NOTICE);
    std::ostream os(&buf);
    for (const BatchCase& c : cases) {
        std::string text;
        for (int i = 0; i < c.lines; ++i)
            text += std::string(c.length, char('a' + i % 26)) + "\n";
        os << text << std::flush;
        std::vector<std::size_t> counts;
        int line = 0;
        for (const std::string& d : Datagrams()) {
            std::size_t n = 0;
            for (std::size_t at = 0; at < d.size(); ++n, ++line) {
                const std::size_t nul = d.find('\0', at);
                ASSERT_NE(std::string::npos, nul) << c.what;
                EXPECT_EQ(Record(29, std::string(c.length, char('a' + line % 26))), d.substr(at, nul + 1 - at))
                    << c.what;
                at = nul + 1;
            }
            counts.push_back(n);
        }
        EXPECT_EQ(c.records, counts) << c.what;
    }
}

TEST_F(SysLogTest, RecordFields)
{
    const struct {
        const char* what;
        int priority;
        int options;
        const char* ident;
        std::string expected;
    } cases[] = {
        {"no facility takes the default", LOG_ERR, LOG_NDELAY, "id", std::string("<11>") + kStamp + "id: t"},
        {"facility kept", LOG_LOCAL0 | LOG_INFO, LOG_NDELAY, "id", std::string("<134>") + kStamp + "id: t"},
        {"process id", LOG_DAEMON | LOG_ERR, LOG_NDELAY | LOG_PID, "id",
         std::string("<27>") + kStamp + "id[" + std::to_string(getpid()) + "]: t"},
    };
    for (const auto& c : cases) {
        syslogManager.closelog();
        syslogManager.openlog(c.ident, c.options, 0);
        syslogManager.syslog(c.priority, "t");
        syslogManager.sendmsg();
        EXPECT_EQ(std::vector<std::string>{c.expected + std::string(1, '\0')}, Datagrams()) << c.what;
    }
}

TEST_F(SysLogTest, ClosedLogReconnectsWithTheDefaultIdentity)
{
    syslogManager.closelog();
    EXPECT_FALSE(syslogManager.connected());
    syslogManager.syslog(LOG_DAEMON | LOG_NOTICE, "again");
    syslogManager.sendmsg();
    EXPECT_TRUE(syslogManager.connected());
    EXPECT_EQ(std::vector<std::string>{std::string("<29>") + kStamp + "syslog-pd: again" + std::string(1, '\0')},
              Datagrams());
}

TEST_F(SysLogTest, RestartedReceiverStillGetsTheLines)
{
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    os << "before" << std::endl;
    EXPECT_EQ(std::vector<std::string>{Record(27, "before")}, Datagrams());
    Bind(SOCK_DGRAM); // the syslog daemon restarts on the same path
    os << "after" << std::endl;
    EXPECT_EQ(std::vector<std::string>{Record(27, "after")}, Datagrams());
    os << "later" << std::endl;
    EXPECT_EQ(std::vector<std::string>{Record(27, "later")}, Datagrams());
}

TEST_F(SysLogTest, StreamReceiverAfterProtocolTypeError)
{
    syslogManager.closelog();
    Bind(SOCK_STREAM);
    syslogManager.openlog(kIdent, LOG_NDELAY, 0);
    ASSERT_TRUE(syslogManager.connected());
    int peer = accept(mSocket, nullptr, nullptr);
    ASSERT_GE(peer, 0);
    syslogManager.syslog(LOG_DAEMON | LOG_ERR, "a");
    syslogManager.syslog(LOG_DAEMON | LOG_ERR, "b");
    syslogManager.sendmsg();
    const std::string expected = Record(27, "a") + Record(27, "b");
    std::string got;
    char buffer[256];
    while (got.size() < expected.size()) {
        ssize_t n = recv(peer, buffer, sizeof(buffer), 0);
        ASSERT_GT(n, 0);
        got.append(buffer, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(expected, got);
    close(peer);
}

TEST_F(SysLogTest, NoReceiverDropsSilently)
{
    syslogManager.closelog();
    close(mSocket);
    mSocket = -1;
    unlink(Path().c_str());
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    os << "lost\nlost\n" << std::flush;
    EXPECT_TRUE(os.good());
    EXPECT_FALSE(syslogManager.connected());
    EXPECT_EQ(-1, syslogManager.fd());
}

} // namespace
