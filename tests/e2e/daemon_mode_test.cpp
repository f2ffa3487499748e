// The detached daemon (-D) as its syslog reader meets it: every line of its
// three streams becomes a record on "/dev/log" under the private root, and a
// reader that is slow, late or gone never holds the daemon up nor, while it
// reads, loses a line.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
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

// The processor time the process has used so far (user and system), in
// milliseconds.
long long cpu_ms(int pid)
{
    support::ProcStat s;
    if (!support::proc_stat(pid, s))
        return -1;
    return static_cast<long long>(s.cpu) * 1000 / ::sysconf(_SC_CLK_TCK);
}

long long now_ms()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A daemon started with -D, its syslog reader's socket at "/dev/log" (a
// datagram socket, or a listening stream socket and the connection accepted
// on it) and the detached process, which is killed when the test ends
// without having stopped it. The detached process's parent leaves it to
// this process, which holds on to its orphans meanwhile: so its end is seen
// (stop() checks it), and any sanitizer report of it or of its children is
// written to a folder of the root, which stop() and the end look at. Under
// an emulator that refuses the subreaper request (qemu-user), the end is seen
// as the process gone, without its exit status.
class Detached
{
public:
    explicit Detached(int type = SOCK_DGRAM) : mType(type), mReaper(::prctl(PR_SET_CHILD_SUBREAPER, 1) == 0)
    {
        ::mkdir(daemon.path("/dev").c_str(), 0755);
        ::mkdir(daemon.path(kReports).c_str(), 0755);
        bind();
    }
    ~Detached()
    {
        if (pid > 0 && !ended()) {
            // Its programs run in its session (daemon(3) made one): those of
            // them started since the test began go with it.
            std::istringstream listed(e2e::read_file(daemon.path("/usr/local/bin/pids")));
            for (long long program; listed >> program;) {
                support::ProcStat s;
                if (support::proc_stat(pid_t(program), s) && s.session == pid && s.start >= mSince)
                    ::kill(pid_t(program), SIGKILL);
            }
            ::kill(pid, SIGKILL);
            int ignored = 0;
            support::reap(pid, ignored);
        }
        if (mReaper) {
            reap_orphans();
            ::prctl(PR_SET_CHILD_SUBREAPER, 0);
        }
        if (!mReported) {
            const std::string reports = sanitizer_reports();
            EXPECT_EQ("", reports) << "sanitizer reports";
        }
        close(true);
    }
    Detached(const Detached&) = delete;
    Detached& operator=(const Detached&) = delete;

    // Another reader takes "/dev/log" (a syslog daemon restarted): it is
    // bound under a name of its own and renamed over the path, which is so
    // never without a reader, and reads only when asked to. Then this one
    // goes, or, when it `stays`, stays open and reads on (the restarted
    // daemon's old process draining its queue), no longer at the path: what
    // reaches it from then on, on any of its connections, is kept apart
    // (old()).
    void replace(bool stays = false)
    {
        const int old = mSocket;
        mSocket = -1;
        if (stays) {
            mOld = old;
            if (mPeer >= 0)
                mOldConnections.push_back(mPeer);
            for (const auto& other : mOthers)
                mOldConnections.push_back(other.first);
            mPeer = -1;
            mOthers.clear();
        }
        close();
        bind("/dev/log.new");
        ::rename(daemon.path("/dev/log.new").c_str(), daemon.path("/dev/log").c_str());
        if (!stays)
            ::close(old);
        read_old();
    }
    // What the reader that stayed (replace()) has got since.
    const std::string& old() const { return mOldText; }

    // Stops the daemon (SIGSTOP) and waits until it has stopped: it sends
    // nothing more until SIGCONT.
    bool hold()
    {
        ::kill(pid, SIGSTOP);
        support::ProcStat s;
        for (int i = 0; i < e2e::deadline_ms() / 10; ++i, ::poll(nullptr, 0, 10))
            if (support::proc_stat(pid, s) && s.state == 'T')
                return true;
        return false;
    }

    // Starts the daemon and waits until its parent has left and the pid file
    // names the detached process.
    ::testing::AssertionResult start(const std::string& board = "")
    {
        if (mSocket < 0)
            return ::testing::AssertionFailure() << "no socket at /dev/log";
        // The T.38 query at start-up and at each SIGHUP finds a program that
        // answers quietly: a shell's complaint on standard error would reach
        // the reader as raw text between the records.
        daemon.write_file("/usr/local/sbin/t38", "#!/bin/sh\necho 0\n");
        ::chmod(daemon.path("/usr/local/sbin/t38").c_str(), 0755);
        e2e::DaemonOptions options({"-D"}, {}, board);
        for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
            const char* inherited = std::getenv(name);
            options.env.push_back(std::string(name) + "=" + (inherited ? inherited : "") +
                                  ":log_path=" + daemon.path(kReports) + "/report");
        }
        daemon.start(options);
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
    // What later connections bring is kept apart, a string each (others()).
    // At most `most` bytes are read. A reader that stayed reads on (old()).
    void read(std::string& records, std::size_t most = std::size_t(-1))
    {
        for (pollfd p{mSocket, POLLIN, 0}; mType == SOCK_STREAM && ::poll(&p, 1, 0) > 0;) {
            const int fd = ::accept4(mSocket, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            if (mPeer < 0)
                mPeer = fd;
            else
                mOthers.emplace_back(fd, std::string());
        }
        const int fd = mType == SOCK_STREAM ? mPeer : mSocket;
        char buf[65536];
        for (ssize_t n;
             fd >= 0 && most > 0 && (n = ::recv(fd, buf, std::min(sizeof buf, most), MSG_DONTWAIT)) > 0;) {
            records.append(buf, std::size_t(n));
            most -= std::size_t(n);
        }
        for (auto& other : mOthers)
            for (ssize_t n; (n = ::recv(other.first, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
                other.second.append(buf, std::size_t(n));
        read_old();
    }
    // What each later stream connection that brought anything brought: the
    // daemon's children connect on their own, most of them to write nothing.
    std::vector<std::string> others() const
    {
        std::vector<std::string> out;
        for (const auto& other : mOthers)
            if (!other.second.empty())
                out.push_back(other.second);
        return out;
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

    // Reads until the start-up line has come.
    bool read_start(std::string& records)
    {
        return read_until(
            records, [](const std::string& r) { return r.find("Starting server") != std::string::npos; });
    }

    // The syslog client's line of the daemon's status dump (its socket, what
    // waits, whether the loop watches the socket for room, the reader's file
    // noted at the connect and at the path now), so that a failed check
    // shows what the client held; the whole dump when it has no such line.
    std::string client_state()
    {
        const std::string dump = daemon.path("/var/log/server-status");
        ::mkdir(daemon.path("/var").c_str(), 0755);
        ::mkdir(daemon.path("/var/log").c_str(), 0755);
        ::unlink(dump.c_str());
        ::kill(pid, SIGUSR2);
        std::string text;
        // The client's line comes last, after the loop's table.
        const auto whole = [&text] {
            const std::size_t at = text.find("\nsyslog : ");
            return at != std::string::npos && text.find('\n', at + 1) != std::string::npos;
        };
        for (int i = 0; i < e2e::deadline_ms() / 10 && !whole(); ++i, ::poll(nullptr, 0, 10))
            text = e2e::read_file(dump);
        const std::size_t at = text.find("\nsyslog : ");
        if (!whole())
            return "the status dump has no line of the syslog client:\n" + text;
        return text.substr(at + 1, text.find('\n', at + 1) - at - 1);
    }

    // SIGTERM; then, reading on when `reading`, waits until the process has
    // ended: a success when it exited with 0 and no process of the daemon
    // wrote a sanitizer report.
    ::testing::AssertionResult stop(bool reading, std::string* records = nullptr)
    {
        if (pid <= 0)
            return ::testing::AssertionFailure() << "no daemon";
        ::kill(pid, SIGTERM);
        std::string ignored;
        for (int i = 0; i < e2e::deadline_ms() / 10; ++i, ::poll(nullptr, 0, 10)) {
            const bool gone = ended();
            if (reading)
                read(records ? *records : ignored);
            if (!gone)
                continue;
            mReported = true;
            const std::string reports = sanitizer_reports();
            if ((status == 0 || !mReaper) && reports.empty())
                return ::testing::AssertionSuccess();
            return ::testing::AssertionFailure() << "the daemon ended with " << status << "\n" << reports;
        }
        return ::testing::AssertionFailure() << "the daemon still runs after SIGTERM";
    }

    e2e::Daemon daemon;
    int pid = 0;
    // How the detached process ended, as e2e::Daemon::wait_exit() gives it;
    // -1 while it has not been reaped (or cannot be).
    int status = -1;

private:
    static constexpr const char* kReports = "/sanitizer";

    // What the reader that stayed can take now, whatever comes.
    void read_old()
    {
        char buf[65536];
        for (pollfd p{mOld, POLLIN, 0}; mType == SOCK_STREAM && mOld >= 0 && ::poll(&p, 1, 0) > 0;) {
            const int fd = ::accept4(mOld, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                break;
            mOldConnections.push_back(fd);
        }
        for (const int old : mType == SOCK_STREAM ? mOldConnections : std::vector<int>{mOld})
            for (ssize_t n; old >= 0 && (n = ::recv(old, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
                mOldText.append(buf, std::size_t(n));
    }

    // The detached process has ended: reaped, or gone where this program is
    // not its reaper.
    bool ended()
    {
        int s = 0;
        if (mEnded)
            return true;
        if (!mReaper)
            return mEnded = !support::running(pid);
        const pid_t got = ::waitpid(pid, &s, WNOHANG);
        if (got == pid)
            status = WIFEXITED(s) ? WEXITSTATUS(s) : 128 + WTERMSIG(s);
        // Not this program's child: its end cannot be told.
        return mEnded = got == pid || (got < 0 && errno == ECHILD);
    }
    // Whatever else ended and was left to this process: the daemon's
    // programs and what they started, once their parents had gone.
    void reap_orphans()
    {
        int s = 0;
        for (const support::Process& p : support::processes())
            if (p.stat.parent == ::getpid() && p.stat.state == 'Z' && p.pid != daemon.pid())
                ::waitpid(p.pid, &s, WNOHANG);
    }
    // Every report written so far, each headed by its file's name.
    std::string sanitizer_reports() const
    {
        std::string out;
        DIR* dir = ::opendir(daemon.path(kReports).c_str());
        for (dirent* entry; dir && (entry = ::readdir(dir));)
            if (entry->d_name[0] != '.')
                out += std::string(entry->d_name) + ":\n" +
                       e2e::read_file(daemon.path(kReports) + "/" + entry->d_name);
        if (dir)
            ::closedir(dir);
        return out;
    }

    void bind(const char* fixed = "/dev/log")
    {
        mSocket = ::socket(AF_UNIX, mType | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", daemon.path(fixed).c_str());
        if (::bind(mSocket, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            (mType == SOCK_STREAM && ::listen(mSocket, 4) != 0)) {
            ::close(mSocket);
            mSocket = -1;
        }
    }
    // Closes this reader's sockets; the one that stayed goes only when the
    // test ends (`all`).
    void close(bool all = false)
    {
        for (int fd : {mSocket, mPeer})
            if (fd >= 0)
                ::close(fd);
        for (const auto& other : mOthers)
            ::close(other.first);
        mSocket = mPeer = -1;
        mOthers.clear();
        if (!all)
            return;
        for (const int fd : mOldConnections)
            ::close(fd);
        if (mOld >= 0)
            ::close(mOld);
        mOld = -1;
        mOldConnections.clear();
    }

    int mType;
    const bool mReaper;
    bool mEnded = false;
    bool mReported = false;
    int mSocket = -1;
    int mPeer = -1;
    std::vector<std::pair<int, std::string>> mOthers;
    // The reader that stayed open when replaced, its connections, and what
    // it got since.
    int mOld = -1;
    std::vector<int> mOldConnections;
    std::string mOldText;
    const unsigned long long mSince = support::boot_ticks();
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

    // Sends every frame (or those from..to-1), then a ping, and waits for
    // its answer: by then the daemon has written every line of them.
    bool send(e2e::Controller& controller, int from = 0, int to = -1) const
    {
        e2e::Bytes frames;
        for (int i = from; i < (to < 0 ? mFrames : to); ++i) {
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

    // The last frame's dump has arrived.
    bool ended(const std::string& records) const
    {
        const std::vector<int> got = dumps(texts(records));
        return !got.empty() && got.back() == mFrames - 1;
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
        EXPECT_TRUE(detached.read_until(records, [&burst](const std::string& r) { return burst.ended(r); }));
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

// A reader replaced at "/dev/log" (a syslog daemon restarted) that does not
// read yet, while records wait for it: the daemon does not spin on a socket
// whose room is the gone reader's, and once the new reader reads, what
// waited reaches it in order, none twice, then a line written after. The
// daemon may be quiet when the reader goes and write its burst to the new
// reader only (every record arrives), or records may wait already and more
// follow (the old reader held the first ones, lost with it).
TEST(DaemonMode, AReplacedReaderThatStallsCostsNoProcessorTime)
{
    const Burst burst(600);
    for (const bool waiting : {false, true}) {
        SCOPED_TRACE(waiting ? "records waiting when the reader goes" : "the daemon quiet then");
        Detached detached;
        ASSERT_TRUE(detached.start());
        std::string records;
        ASSERT_TRUE(detached.read_start(records));
        e2e::Controller controller;
        ASSERT_TRUE(controller.connect(detached.daemon.port()));
        const int first = waiting ? 60 : 0;
        ASSERT_TRUE(burst.send(controller, 0, first));
        detached.replace();
        ASSERT_TRUE(burst.send(controller, first));

        // Nothing can be sent meanwhile: the new reader's queue is full.
        const long long since = now_ms();
        const long long before = cpu_ms(detached.pid);
        ::poll(nullptr, 0, 1500);
        const long long used = cpu_ms(detached.pid) - before;
        const long long stretch = now_ms() - since;
        EXPECT_LT(used * 4, stretch) << used << " ms of processor time in " << stretch << " ms";

        records.clear();
        const int last = burst.frames();
        ASSERT_TRUE(controller.send_payload(burst.payload(last)));
        EXPECT_TRUE(detached.read_until(records, [&burst, last](const std::string& r) {
            return r.find(burst.dump(last)) != std::string::npos;
        })) << detached.client_state();
        std::vector<int> got = burst.dumps(texts(records));
        ASSERT_LE(2u, got.size());
        EXPECT_EQ(last, got.back());
        got.pop_back();
        for (std::size_t i = 1; i < got.size(); ++i)
            ASSERT_EQ(got[i - 1] + 1, got[i]) << "in order, none twice, none left out";
        EXPECT_EQ(last - 1, got.back());
        if (!waiting) {
            EXPECT_EQ(0, got.front()) << "every record from the first";
        }
        EXPECT_TRUE(detached.stop(true));
    }
}

// A fax program under the daemon's root: `body` runs after it has added its
// number to "/usr/local/bin/pids" (where the test ends it, should the
// daemon not), with d its folder.
void installFax(e2e::Daemon& daemon, const std::string& body)
{
    daemon.write_file("/usr/local/bin/fax",
                      "#!/bin/sh\nd=$(dirname \"$0\")\necho $$ >> \"$d/pids\"\n" + body);
    ::chmod(daemon.path("/usr/local/bin/fax").c_str(), 0755);
    ::mkdir(daemon.path("/var").c_str(), 0755);
}

// A trunk slot and a fax receiver joined to it: the receiver's child is
// forked when the join is answered, writes its line ("executing") a second
// later and runs the fax program.
// The trunk slot is `slot`, the receiver `slot` + 1 on the trunk's
// timeslot `slot`; the commands' seqs are `slot` to `slot` + 2.
::testing::AssertionResult startFaxReceiver(e2e::Controller& controller, unsigned slot = 1)
{
    LGCP::Command trunk;
    trunk.select_create().select_trunk().set_trunk(0);
    trunk.ref_create().ref_trunk().set_timeslot(slot);
    LGCP::Command fax;
    fax.select_create().select_modem().set_cid("5551234");
    fax.ref_create().ref_modem().set_cdid("100");
    fax.ref_create().ref_modem().set_fax();
    std::vector<LGCP::Message> commands(3);
    int seq = 0;
    for (const auto& command :
         {std::make_pair(slot, trunk), std::make_pair(slot + 1, fax),
          std::make_pair(slot + 1, LGCP::Command(LGCP::Command::connect::value, slot))}) {
        commands[std::size_t(seq)].set_seq(int(slot) + seq);
        commands[std::size_t(seq)].set_slot(command.first);
        commands[std::size_t(seq++)].set_pdu().select_command(command.second);
    }
    for (const LGCP::Message& m : commands)
        if (!controller.send_payload(e2e::encode(m)))
            return ::testing::AssertionFailure() << "not sent";
    for (e2e::Bytes answer; controller.receive_payload(answer);) {
        LGCP::Message m;
        ASN1::CoderEnv env;
        const char* p = reinterpret_cast<const char*>(answer.data());
        if (ASN1::decode(p, p + answer.size(), &env, m, true) && m.seq_isPresent() &&
            m.get_seq().getValue() == int(slot) + 2)
            return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "the join was not answered";
}

const char kBoardWithModems[] = "device /dev/mctl present\nmctl modems 2 96\n";

// The fax receiver's child writes its line ("executing") while records of
// the daemon wait for a reader that has just made room: the child never
// sends them (they arrive once, in order, from the daemon), and on a stream
// its line comes on a connection of its own, never inside a record the
// daemon sent in part.
TEST(DaemonMode, AForkedChildNeverSendsWhatTheDaemonKeeps)
{
    const Burst burst(600);
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        SCOPED_TRACE(type == SOCK_DGRAM ? "datagrams" : "stream");
        Detached detached(type);
        installFax(detached.daemon, "echo \"$4\" >> \"$d/files\"\nexec sleep 1000\n");
        ASSERT_TRUE(detached.start(kBoardWithModems));
        e2e::Controller controller;
        ASSERT_TRUE(controller.connect(detached.daemon.port()));
        ASSERT_TRUE(burst.send(controller));

        ASSERT_TRUE(startFaxReceiver(controller));
        // The daemon held still while the reader makes room, so the only
        // sender meanwhile is the child.
        ASSERT_TRUE(detached.hold());
        std::string records;
        detached.read(records, std::size_t(64) * 1024);
        const bool ran = detached.daemon.wait_file("/usr/local/bin/files");
        ::kill(detached.pid, SIGCONT);
        ASSERT_TRUE(ran);

        EXPECT_TRUE(detached.read_until(records, [&burst](const std::string& r) { return burst.ended(r); }));
        std::vector<std::string> lines = texts(records);
        EXPECT_TRUE(burst.whole(lines));
        for (const std::string& line : lines)
            ASSERT_NE(0u, line.find("not a whole record")) << line;
        if (type == SOCK_STREAM) {
            const std::vector<std::string> others = detached.others();
            ASSERT_EQ(1u, others.size()) << "the child's own connection";
            EXPECT_EQ(std::vector<std::string>{"executing"}, texts(others[0]));
        } else {
            // Sent beside the daemon's records, or dropped when the reader's
            // queue was full then.
            EXPECT_GE(1u, count(lines, "executing"));
        }
        EXPECT_TRUE(detached.stop(true));
    }
}

// A fax program that writes a line to its standard output and one to its
// standard error, then, once "go" is there, one more of each; "wrote1" and
// "wrote2" say it has written them.
const char kRawFax[] = "echo FAXRAW-OUT-1\necho FAXRAW-ERR-1 >&2\n: > \"$d/wrote1\"\n"
                       "while [ ! -e \"$d/go\" ]; do sleep 0.05; done\n"
                       "echo FAXRAW-OUT-2\necho FAXRAW-ERR-2 >&2\n: > \"$d/wrote2\"\n"
                       "exec sleep 1000\n";

bool holds(const std::string& text, std::initializer_list<const char*> lines)
{
    for (const char* line : lines)
        if (text.find(std::string(line) + "\n") == std::string::npos)
            return false;
    return true;
}

// The program's number, from the list it adds itself to.
pid_t program(Detached& detached)
{
    return pid_t(std::atoi(e2e::read_file(detached.daemon.path("/usr/local/bin/pids")).c_str()));
}

// The daemon on a board with modems, its fax program kRawFax with "go"
// there (it writes its four lines at once), and the controller connected.
::testing::AssertionResult startWithRawFax(Detached& detached, e2e::Controller& controller)
{
    installFax(detached.daemon, kRawFax);
    detached.daemon.write_file("/usr/local/bin/go", "");
    const ::testing::AssertionResult started = detached.start(kBoardWithModems);
    if (!started)
        return started;
    if (!controller.connect(detached.daemon.port()))
        return ::testing::AssertionFailure() << "no controller connection";
    return ::testing::AssertionSuccess();
}

// A datagram reader replaced (a syslog daemon restarted) before a program
// starts: the program's standard output and error reach the new reader,
// not the socket the daemon first had.
TEST(DaemonMode, AProgramWritesToTheDatagramReaderThereWhenItStarts)
{
    Detached detached;
    installFax(detached.daemon, kRawFax);
    detached.daemon.write_file("/usr/local/bin/go", "");
    ASSERT_TRUE(detached.start(kBoardWithModems));
    std::string records;
    ASSERT_TRUE(detached.read_start(records));
    detached.replace();
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(detached.daemon.port()));
    ASSERT_TRUE(startFaxReceiver(controller));
    records.clear();
    EXPECT_TRUE(detached.read_until(records, [](const std::string& r) {
        return holds(r, {"FAXRAW-OUT-1", "FAXRAW-ERR-1", "FAXRAW-OUT-2", "FAXRAW-ERR-2"});
    })) << records;
    EXPECT_TRUE(support::running(program(detached)));
    EXPECT_TRUE(detached.stop(true));
}

// A stream reader replaced while a program runs: the program's next lines
// go nowhere (its connection went with the old reader), the program goes
// on, and none of its text is written into a record of the daemon's on the
// daemon's new connection.
TEST(DaemonMode, AProgramOutlivesTheStreamReaderItWroteTo)
{
    Detached detached(SOCK_STREAM);
    installFax(detached.daemon, kRawFax);
    ASSERT_TRUE(detached.start(kBoardWithModems));
    e2e::Controller controller;
    ASSERT_TRUE(controller.connect(detached.daemon.port()));
    ASSERT_TRUE(startFaxReceiver(controller));
    ASSERT_TRUE(detached.daemon.wait_file("/usr/local/bin/wrote1"));
    std::string records;
    detached.read(records);
    detached.replace();
    detached.daemon.write_file("/usr/local/bin/go", "");
    EXPECT_TRUE(detached.daemon.wait_file("/usr/local/bin/wrote2")) << "the program wrote on";

    // The daemon's next line reaches the new reader on a connection of its
    // own; the program still runs and its end was never logged.
    const Burst burst(1);
    ASSERT_TRUE(burst.send(controller));
    records.clear();
    EXPECT_TRUE(detached.read_until(records, [&burst](const std::string& r) { return burst.ended(r); }));
    EXPECT_TRUE(support::running(program(detached))) << "the program was not ended";
    EXPECT_EQ(std::string::npos, records.find("FAXRAW")) << records;
    EXPECT_EQ(std::string::npos, records.find("fax terminated")) << records;
    for (const std::string& line : texts(records))
        EXPECT_NE(0u, line.find("not a whole record")) << line;
    EXPECT_TRUE(detached.stop(true));
}

// A program starts while the daemon's stream connection holds records that
// wait for the reader: its output goes on a connection of its own, after
// its child's own line, and no record of the daemon's holds any of it.
TEST(DaemonMode, AProgramNeverWritesIntoTheDaemonsStream)
{
    Detached detached(SOCK_STREAM);
    e2e::Controller controller;
    ASSERT_TRUE(startWithRawFax(detached, controller));
    const Burst burst(600);
    ASSERT_TRUE(burst.send(controller));
    ASSERT_TRUE(startFaxReceiver(controller));
    // Written while the daemon's records wait (nobody has read yet).
    EXPECT_TRUE(detached.daemon.wait_file("/usr/local/bin/wrote2"));

    std::string records;
    EXPECT_TRUE(detached.read_until(records, [&burst, &detached](const std::string& r) {
        std::string all = r;
        for (const std::string& other : detached.others())
            all += other;
        return burst.ended(r) && holds(all, {"FAXRAW-ERR-2"});
    }));
    const std::vector<std::string> lines = texts(records);
    EXPECT_TRUE(burst.whole(lines));
    for (const std::string& line : lines)
        EXPECT_NE(0u, line.find("not a whole record")) << line;
    EXPECT_EQ(std::string::npos, records.find("FAXRAW"));
    const std::vector<std::string> others = detached.others();
    ASSERT_EQ(1u, others.size()) << "the child's own connection";
    const std::size_t raw = others[0].find("FAXRAW-OUT-1\n");
    ASSERT_NE(std::string::npos, raw) << others[0];
    EXPECT_EQ(std::vector<std::string>{"executing"}, texts(others[0].substr(0, raw)));
    EXPECT_TRUE(
        holds(others[0].substr(raw), {"FAXRAW-OUT-1", "FAXRAW-ERR-1", "FAXRAW-OUT-2", "FAXRAW-ERR-2"}))
        << others[0];
    EXPECT_TRUE(detached.stop(true));
}

// What /proc/<pid>/<name> links to ("" for none).
std::string proc_link(pid_t pid, const std::string& name)
{
    char link[256];
    const ssize_t n = ::readlink(("/proc/" + std::to_string(pid) + "/" + name).c_str(), link, sizeof link);
    return n > 0 ? std::string(link, std::size_t(n)) : std::string();
}

// A child of the daemon that has not run its program yet and has connected
// its standard output to a syslog reader of its own (a socket the daemon's
// standard output is not), stopped (SIGSTOP) before it can do more; 0 when
// none is seen within the deadline. What runs now (the image) tells the
// daemon's own children from their programs.
pid_t stopForkedChild(const Detached& detached)
{
    const std::string image = proc_link(detached.pid, "exe");
    for (int i = 0; i < e2e::deadline_ms() / 5; ++i, ::poll(nullptr, 0, 5)) {
        pid_t found = 0;
        for (const support::Process& p : support::processes()) {
            const std::string out = proc_link(p.pid, "fd/1");
            if (p.stat.parent == detached.pid && proc_link(p.pid, "exe") == image &&
                out.compare(0, 7, "socket:") == 0 && out != proc_link(detached.pid, "fd/1"))
                found = p.pid;
        }
        if (!found)
            continue;
        ::kill(found, SIGSTOP);
        support::ProcStat s;
        while (support::proc_stat(found, s) && s.state != 'T' && s.state != 'Z')
            ::poll(nullptr, 0, 5);
        // Seen stopped before its program ran: the window is its own.
        if (s.state == 'T' && proc_link(found, "exe") == image)
            return found;
        ::kill(found, SIGCONT);
        return 0;
    }
    return 0;
}

// The fax receiver's child connects to the syslog reader as it forks, then
// waits a second before it runs the program: a reader replaced meanwhile
// (here while the child is held stopped) gets the program's standard output
// and error, datagram or stream, whether the old reader goes or stays open
// and reads on (then the child's first connection still works, and nothing
// of the program's reaches the old reader). A child caught too late (its
// program ran) leaves the test a second try on other slots.
TEST(DaemonMode, AProgramWritesToTheReaderThereWhenItRunsNotWhenItsChildForked)
{
    for (const auto& [type, stays] : {std::make_pair(SOCK_DGRAM, false), std::make_pair(SOCK_STREAM, false),
                                      std::make_pair(SOCK_DGRAM, true), std::make_pair(SOCK_STREAM, true)}) {
        SCOPED_TRACE(std::string(type == SOCK_DGRAM ? "datagrams" : "stream") +
                     (stays ? ", the old reader stays" : ", the old reader goes"));
        Detached detached(type);
        e2e::Controller controller;
        ASSERT_TRUE(startWithRawFax(detached, controller));
        pid_t child = 0;
        for (unsigned slot = 1; slot <= 3 && !child; slot += 2) {
            ASSERT_TRUE(startFaxReceiver(controller, slot));
            child = stopForkedChild(detached);
        }
        ASSERT_NE(0, child) << "no child of the daemon seen before its program";
        // Read, so that a reader that stays has room for the child's lines:
        // a full one would itself make the child's client leave it.
        std::string records;
        detached.read(records);
        detached.replace(stays);
        ::kill(child, SIGCONT);

        records.clear();
        EXPECT_TRUE(detached.read_until(records, [&detached](const std::string& r) {
            std::string all = r;
            for (const std::string& other : detached.others())
                all += other;
            return holds(all, {"FAXRAW-OUT-1", "FAXRAW-ERR-1", "FAXRAW-OUT-2", "FAXRAW-ERR-2"});
        })) << records;
        EXPECT_TRUE(detached.daemon.wait_file("/usr/local/bin/wrote2")) << "the program ran";
        EXPECT_EQ(std::string::npos, detached.old().find("FAXRAW")) << detached.old();
        EXPECT_TRUE(detached.stop(true));
    }
}

// In daemon mode the daemon's own descriptors 1 and 2 are the syslog: once
// the daemon has logged to a reader that replaced the first (a syslog daemon
// restarted), a raw write to either of them (the test writes through copies
// of the daemon's own) reaches the new reader, datagram or stream.
TEST(DaemonMode, RawWritesOfTheDaemonReachTheReaderOfNow)
{
    for (const int type : {SOCK_DGRAM, SOCK_STREAM}) {
        SCOPED_TRACE(type == SOCK_DGRAM ? "datagrams" : "stream");
        Detached detached(type);
        ASSERT_TRUE(detached.start());
        std::string records;
        ASSERT_TRUE(detached.read_start(records));
        detached.replace();
        e2e::Controller controller;
        ASSERT_TRUE(controller.connect(detached.daemon.port()));
        const Burst burst(1);
        ASSERT_TRUE(burst.send(controller));
        records.clear();
        ASSERT_TRUE(detached.read_until(records, [&burst](const std::string& r) { return burst.ended(r); }));

        const int daemon = int(::syscall(SYS_pidfd_open, detached.pid, 0));
        ASSERT_LE(0, daemon) << std::strerror(errno);
        for (const int fd : {1, 2}) {
            const int copy = int(::syscall(SYS_pidfd_getfd, daemon, fd, 0));
            ASSERT_LE(0, copy) << std::strerror(errno);
            const std::string line = "RAW-" + std::to_string(fd) + "\n";
            EXPECT_EQ(ssize_t(line.size()),
                      ::send(copy, line.data(), line.size(), MSG_NOSIGNAL | MSG_DONTWAIT))
                << "descriptor " << fd << ": " << std::strerror(errno);
            ::close(copy);
        }
        ::close(daemon);
        EXPECT_TRUE(detached.read_until(records, [](const std::string& r) {
            return holds(r, {"RAW-1", "RAW-2"});
        })) << records;
        EXPECT_TRUE(detached.stop(true));
    }
}

} // namespace
