// The detached daemon (-D) as its syslog reader meets it: every line of its
// three streams becomes a record on "/dev/log" under the private root, and a
// reader that is slow, late or gone never holds the daemon up nor, while it
// reads, loses a line.
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/e2e/fixture.hpp"
#include "tests/support/controller.hpp"
#include "tests/support/process_guard.hpp"

namespace
{

const char kPidFile[] = "/var/run/server.pid";
const char kIdent[] = "qvd-T230630-1920";
// What of the daemon's records may wait for a reader that does not read.
const std::size_t kBacklog = 262144; // 256 KiB

// True once the process has ended; a zombie counts, as nobody here reaps it.
bool gone(int pid)
{
    return !support::running(pid);
}

// A daemon started with -D, its syslog reader's socket at "/dev/log" (a
// datagram socket, or a listening stream socket and the connection accepted
// on it) and the detached process, which is killed when the test ends
// without having stopped it.
class Detached
{
public:
    explicit Detached(int type = SOCK_DGRAM) : mType(type)
    {
        ::mkdir(daemon.path("/dev").c_str(), 0755);
        mSocket = ::socket(AF_UNIX, type | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", daemon.path("/dev/log").c_str());
        if (::bind(mSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            (type == SOCK_STREAM && ::listen(mSocket, 1) != 0)) {
            ::close(mSocket);
            mSocket = -1;
        }
    }
    ~Detached()
    {
        if (pid > 0 && !gone(pid))
            ::kill(pid, SIGKILL);
        for (int fd : {mSocket, mPeer})
            if (fd >= 0)
                ::close(fd);
    }
    Detached(const Detached&) = delete;
    Detached& operator=(const Detached&) = delete;

    // Starts the daemon and waits until its parent has left and the pid file
    // names the detached process.
    ::testing::AssertionResult start()
    {
        if (mSocket < 0)
            return ::testing::AssertionFailure() << "no socket at /dev/log";
        // The T.38 query at start-up and at each SIGHUP finds a program that
        // answers quietly: a shell's complaint on standard error would reach
        // the reader as raw text between the records.
        daemon.write_file("/usr/local/sbin/t38", "#!/bin/sh\necho 0\n");
        ::chmod(daemon.path("/usr/local/sbin/t38").c_str(), 0755);
        daemon.start({{"-D"}});
        if (const int code = daemon.wait_exit())
            return ::testing::AssertionFailure() << "the parent left with " << code;
        for (int i = 0; i < e2e::deadline_ms() / 10 && pid <= 0; ++i, ::poll(nullptr, 0, 10))
            pid = std::atoi(e2e::read_file(daemon.path(kPidFile)).c_str());
        if (pid <= 0)
            return ::testing::AssertionFailure() << "no pid file";
        return ::testing::AssertionSuccess();
    }

    // What the reader can take now, appended to `records`: every waiting
    // datagram, or what the stream holds (its connection accepted first).
    void read(std::string& records)
    {
        if (mType == SOCK_STREAM && mPeer < 0) {
            pollfd p{mSocket, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0)
                mPeer = ::accept4(mSocket, nullptr, nullptr, SOCK_CLOEXEC);
        }
        const int fd = mType == SOCK_STREAM ? mPeer : mSocket;
        char buf[65536];
        for (ssize_t n; fd >= 0 && (n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
            records.append(buf, std::size_t(n));
    }

    // Reads until `done` holds for what was read, or the deadline.
    template <class Done> bool read_until(std::string& records, Done done)
    {
        for (int i = 0; i < e2e::deadline_ms() / 10; ++i, ::poll(nullptr, 0, 10)) {
            read(records);
            if (done(records))
                return true;
        }
        return false;
    }

    // SIGTERM; then, reading on when `reading`, waits until the process has
    // ended.
    bool stop(bool reading, std::string* records = nullptr)
    {
        if (pid <= 0)
            return false;
        ::kill(pid, SIGTERM);
        std::string ignored;
        for (int i = 0; i < e2e::deadline_ms() / 10; ++i, ::poll(nullptr, 0, 10)) {
            const bool ended = gone(pid);
            if (reading)
                read(records ? *records : ignored);
            if (ended)
                return true;
        }
        return false;
    }

    e2e::Daemon daemon;
    int pid = 0;

private:
    int mType;
    int mSocket = -1;
    int mPeer = -1;
};

// The texts of the records, in order, each checked whole: "<" priority ">",
// the time stamp, the identity, ": ", the text, NUL.
std::vector<std::string> texts(const std::string& records)
{
    std::vector<std::string> out;
    const std::string ident = std::string(kIdent) + ": ";
    for (std::size_t at = 0; at < records.size();) {
        const std::size_t nul = records.find('\0', at);
        const std::size_t open = records.find('>', at);
        // "<NN>" and "Mmm dd hh:mm:ss ".
        const std::size_t text = open + 1 + 16 + ident.size();
        if (nul == std::string::npos || records[at] != '<' || open > at + 4 || text > nul ||
            records.compare(open + 17, ident.size(), ident) != 0) {
            out.push_back("not a whole record: " + records.substr(at, 60));
            break;
        }
        out.push_back(records.substr(text, nul - text));
        at = nul + 1;
    }
    return out;
}

std::size_t count(const std::vector<std::string>& lines, const std::string& text)
{
    return std::size_t(std::count(lines.begin(), lines.end(), text));
}

// The lines that end with the text.
std::size_t count_ending(const std::vector<std::string>& lines, const std::string& text)
{
    return std::size_t(std::count_if(lines.begin(), lines.end(), [&text](const std::string& line) {
        return line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0;
    }));
}

// A burst of frames the daemon cannot decode: each logs "ctrl [<peer>]:
// receive fail: decode error!" and the dump of its first 64 bytes, which names the
// frame's number.
class Burst
{
public:
    explicit Burst(int frames) : mFrames(frames) {}

    e2e::Bytes payload(int i) const
    {
        e2e::Bytes p(70, 0xA5);
        p[0] = 0xFF;
        p[1] = static_cast<unsigned char>(i >> 8);
        p[2] = static_cast<unsigned char>(i);
        return p;
    }
    std::string dump(int i) const { return " msg: " + e2e::hex(payload(i)).substr(0, 64 * 3 - 1) + " ..."; }

    // Sends every frame, then a ping, and waits for its answer: by then the
    // daemon has written every line of the burst.
    bool send(e2e::Controller& controller) const
    {
        e2e::Bytes frames;
        for (int i = 0; i < mFrames; ++i) {
            const e2e::Bytes frame = e2e::tpkt(payload(i));
            frames.insert(frames.end(), frame.begin(), frame.end());
        }
        if (!controller.send_raw(frames) || !controller.send_payload(e2e::bytes("80 01 05 18")))
            return false;
        for (e2e::Bytes answer; controller.receive_payload(answer);)
            if (!e2etest::status_report(answer))
                return e2e::hex(answer) == "80 01 05 40";
        return false;
    }

    // The numbers of the dumps among the lines, in the order they came.
    std::vector<int> dumps(const std::vector<std::string>& lines) const
    {
        std::vector<int> out;
        for (const std::string& line : lines) {
            unsigned hi = 0, lo = 0;
            if (std::sscanf(line.c_str(), " msg: FF %2X %2X ", &hi, &lo) == 2 &&
                line == dump(int(hi << 8 | lo)))
                out.push_back(int(hi << 8 | lo));
        }
        return out;
    }

    // Every dump once, in order.
    ::testing::AssertionResult whole(const std::vector<std::string>& lines) const
    {
        const std::vector<int> got = dumps(lines);
        for (std::size_t i = 0; i < got.size(); ++i)
            if (got[i] != int(i))
                return ::testing::AssertionFailure() << "dump " << got[i] << " where " << i << " belongs";
        if (got.size() != std::size_t(mFrames) ||
            count_ending(lines, "]: receive fail: decode error!") != got.size())
            return ::testing::AssertionFailure()
                   << got.size() << " dumps of " << mFrames << ", "
                   << count_ending(lines, "]: receive fail: decode error!") << " errors";
        return ::testing::AssertionSuccess();
    }
    int frames() const { return mFrames; }

private:
    int mFrames;
};

// The start-up's lines of the line interfaces, in the order they are
// written: each must arrive once, in this order.
::testing::AssertionResult startUpLines(const std::vector<std::string>& lines)
{
    std::vector<std::string> expected;
    for (int c = 0; c < 8; ++c)
        for (const char* what : {"spi: init channel ", "spi: enable channel "})
            expected.push_back(what + std::to_string(c));
    std::size_t at = 0;
    for (const std::string& text : expected) {
        const auto it = std::find(lines.begin() + long(at), lines.end(), text);
        if (it == lines.end() || count(lines, text) != 1)
            return ::testing::AssertionFailure() << '"' << text << "\" " << count(lines, text) << " times";
        at = std::size_t(it - lines.begin());
    }
    return ::testing::AssertionSuccess();
}

TEST(DaemonMode, StartUpLineGoesToSyslogAfterDetaching)
{
    Detached detached;
    ASSERT_TRUE(detached.start());
    EXPECT_EQ("", detached.daemon.out()) << "nothing after detaching reaches the terminal";
    EXPECT_NE(detached.daemon.pid(), detached.pid) << "the pid file names the detached process";

    std::string records;
    const std::string expected = std::string(kIdent) + ": Starting server [T230630-1920], port=" +
                                 std::to_string(detached.daemon.port());
    EXPECT_TRUE(detached.read_until(records, [&expected](const std::string& r) {
        return r.find(expected) != std::string::npos;
    })) << records;
    EXPECT_EQ(0u, records.find("<29>")) << "a notice of the daemon facility";
    EXPECT_TRUE(detached.stop(true));
}

// A datagram reader that starts reading only after the start-up and a burst
// of more lines than any socket queue holds gets every line once, in order:
// what the socket could not take waited and leaves while the daemon is idle.
// A stream reader that accepts and reads late gets every record whole.
TEST(DaemonMode, AReaderThatReadsLateGetsEveryLineOnceInOrder)
{
    const Burst burst(600);
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        SCOPED_TRACE(type == SOCK_DGRAM ? "datagrams" : "stream");
        Detached detached(type);
        ASSERT_TRUE(detached.start());
        e2e::Controller controller;
        ASSERT_TRUE(controller.connect(detached.daemon.port()));
        ASSERT_TRUE(burst.send(controller));

        std::string records;
        EXPECT_TRUE(detached.read_until(records, [&burst](const std::string& r) {
            const std::vector<int> got = burst.dumps(texts(r));
            return !got.empty() && got.back() == burst.frames() - 1;
        }));
        const std::vector<std::string> lines = texts(records);
        EXPECT_TRUE(startUpLines(lines));
        EXPECT_TRUE(burst.whole(lines));
        EXPECT_EQ(1u, count(lines, "Starting server [T230630-1920], port=" +
                                       std::to_string(detached.daemon.port())));
        EXPECT_TRUE(detached.stop(true));
    }
}

// A syslog reader that takes nothing holds nothing up: the detached daemon
// opens its port and answers while thousands of lines are written, keeps at
// most its backlog of them, and once the reader reads the backlog arrives
// first, in order, then the new lines.
TEST(DaemonMode, ASyslogReaderThatStopsReadingHoldsNothingUp)
{
    Detached detached;
    ASSERT_TRUE(detached.start());
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(detached.daemon.port())) << "the port opens while nobody reads the log";
    const Burst burst(3000);
    ASSERT_TRUE(burst.send(controller)) << "answered after the burst";
    for (int i = 0; i < 3; ++i) {
        ::kill(detached.pid, SIGHUP);
        ASSERT_TRUE(controller.send_payload(e2e::bytes("80 01 05 18")));
        e2e::Bytes answer;
        ASSERT_TRUE(controller.receive_payload(answer)) << i;
    }

    // Read on; a line written once the reader reads (one more frame's dump)
    // comes after the backlog.
    std::string records;
    detached.read(records);
    const int last = burst.frames();
    ASSERT_TRUE(controller.send_payload(burst.payload(last)));
    EXPECT_TRUE(detached.read_until(records, [&burst, last](const std::string& r) {
        return r.find(burst.dump(last)) != std::string::npos;
    }));

    // The dumps that arrived: the first ones, in order, as many as the
    // backlog and the socket held, never all of them; then the new one.
    std::vector<int> got = burst.dumps(texts(records));
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(last, got.back());
    got.pop_back();
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(int(i), got[i]);
        bytes += burst.dump(got[i]).size() + 40;
    }
    int sndbuf = 0;
    socklen_t size = sizeof sndbuf;
    const int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ::getsockopt(probe, SOL_SOCKET, SO_SNDBUF, &sndbuf, &size);
    ::close(probe);
    EXPECT_GT(bytes, kBacklog / 2) << "the backlog was kept";
    EXPECT_LT(bytes, kBacklog + std::size_t(sndbuf) + 16384) << "and bounded";
    EXPECT_TRUE(detached.stop(true));
}

// At the stop, records still waiting reach a reader that reads from the
// stop on, the stop's own lines last; a reader that never reads lets the
// daemon end all the same.
TEST(DaemonMode, WhatWaitsAtTheStopReachesAReaderThatReads)
{
    const Burst burst(600);
    for (const bool reading : {true, false}) {
        SCOPED_TRACE(reading ? "reading" : "never reading");
        Detached detached;
        ASSERT_TRUE(detached.start());
        e2e::Controller controller;
        ASSERT_TRUE(controller.connect(detached.daemon.port()));
        ASSERT_TRUE(burst.send(controller));
        std::string records;
        EXPECT_TRUE(detached.stop(reading, &records)) << "ended";
        if (!reading)
            continue;
        const std::vector<std::string> lines = texts(records);
        EXPECT_TRUE(startUpLines(lines));
        EXPECT_TRUE(burst.whole(lines));
        const auto terminating = std::find(lines.begin(), lines.end(), "Mux: terminating...");
        EXPECT_TRUE(terminating != lines.end());
        EXPECT_TRUE(std::find(terminating, lines.end(), "spi: clock master disabled") != lines.end())
            << "the last line of the stop";
    }
}

} // namespace
