#pragma once
// What the end-to-end tests share: the daemon serving under its private root
// with a controller connected, stopped by SIGTERM at the end of the test (or
// by the test itself), its stop checked to have ended the daemon and every
// program it ran before whatever was left is killed; the next message that is
// not a line status report (the line interfaces send one every second while a
// controller is connected), the next messages as short texts; the board's
// journal lines; the daemon held (stopped) while what it is to find at once
// in one loop turn is sent. A check that finds an answer missing says so when
// the daemon has ended early, with how it ended and the end of its output
// (gone()).
#include <csignal>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include <gtest/gtest.h>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/controller.hpp"
#include "tests/support/process_guard.hpp"

namespace e2etest
{

using e2e::Bytes;
using Lines = std::vector<std::string>;

// 32-bit words of a driver record as the journal shows them: upper-case hex in
// the daemon's byte order, which is this test program's.
inline std::string record_words(std::initializer_list<std::uint32_t> words)
{
    std::string text;
    for (std::uint32_t w : words) {
        unsigned char octets[4];
        std::memcpy(octets, &w, sizeof octets);
        for (unsigned char o : octets) {
            static const char digits[] = "0123456789ABCDEF";
            text += digits[o >> 4];
            text += digits[o & 15];
        }
    }
    return text;
}

// A trunk status signal: what the line interfaces send on their own.
inline bool status_report(const Bytes& payload)
{
    LGCP::Message m;
    ASN1::CoderEnv env;
    const char* p = reinterpret_cast<const char*>(payload.data());
    return ASN1::decode(p, p + payload.size(), &env, m, true) && m.get_pdu().signal_isSelected() &&
           m.get_pdu().get_signal().trunkStatus_isSelected();
}

// The next payload on `controller` that is not a line status report: the
// reports begin a second after a controller is taken and may come before an
// answer on a loaded machine.
inline bool next_answer(e2e::Controller& controller, Bytes& payload)
{
    while (controller.receive_payload(payload))
        if (!status_report(payload))
            return true;
    return false;
}

// Holds the daemon (SIGSTOP) while it lives; it lets it go on (SIGCONT) when
// it goes, on every way out of a test.
class Held
{
public:
    explicit Held(pid_t pid) : mPid(pid) { ::kill(mPid, SIGSTOP); }
    ~Held() { ::kill(mPid, SIGCONT); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    // The daemon has stopped: whatever happens from now on is all there for
    // it at once when it goes on.
    bool stopped() const
    {
        support::ProcStat stat;
        for (int waited = 0; waited < e2e::deadline_ms(); waited += 10, ::poll(nullptr, 0, 10))
            if (support::proc_stat(mPid, stat) && stat.state == 'T')
                return true;
        return false;
    }

private:
    const pid_t mPid;
};

class DaemonTest : public ::testing::Test
{
protected:
    DaemonTest() { programs.watch(daemon.path("/pids")); }
    void start(const e2e::DaemonOptions& options = {})
    {
        ASSERT_TRUE(daemon.start_serving(options)) << daemon.err();
        ASSERT_TRUE(controller.connect(daemon.port()));
    }
    // A daemon the test has not stopped itself is stopped here, its stop
    // looked at as stop_daemon() does.
    void TearDown() override
    {
        if (daemon.pid() <= 0 || stopped)
            return;
        const std::string early = gone();
        EXPECT_EQ("", stop_daemon()) << "left running by the daemon's stop";
        EXPECT_EQ(0, daemon.wait_exit()) << early;
    }
    // When the daemon has ended (what explains an answer that never came):
    // how, and the end of what it wrote; "" while it runs. The process is
    // left for wait_exit() to reap.
    std::string gone()
    {
        siginfo_t info{};
        if (daemon.pid() <= 0)
            return "";
        std::string how;
        if (::waitid(P_PID, id_t(daemon.pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0) {
            if (info.si_pid != daemon.pid())
                return "";
            how = info.si_code == CLD_EXITED ? "exit " + std::to_string(info.si_status)
                                             : "signal " + std::to_string(info.si_status);
        } else {
            // Reaped already: wait_exit() has its status.
            how = "exit " + std::to_string(daemon.wait_exit());
        }
        daemon.collect_output();
        const auto end = [](const std::string& text) {
            const std::size_t most = 2000;
            return text.size() > most ? "..." + text.substr(text.size() - most) : text;
        };
        return "the daemon has ended (" + how + "); its standard output ends with:\n" + end(daemon.out()) +
               "\nits standard error ends with:\n" + end(daemon.err());
    }
    // Stops the daemon with `sig` and looks at what its stop did, before
    // anything else ends a process: the daemon has ended within the deadline
    // (its stop's own time-outs are far shorter), and once whatever it killed
    // last has had the time to end, none of its programs runs, nor anything
    // in their process groups (programs.left(): what the guard sees to be
    // this test's). Only then does the guard kill what is left, so that none
    // of it outlives the test or holds the daemon's output open for
    // wait_exit(). What was left, "" when nothing: a line when the daemon
    // still runs, then each process's number and command line, a line each.
    // A test that means the daemon to leave something says so (`leaves`):
    // what runs is then looked at once the daemon has ended, without waiting
    // for it to end, and the test checks the text itself.
    std::string stop_daemon(int sig = SIGTERM, bool leaves = false)
    {
        stopped = true;
        daemon.signal(sig);
        std::string left;
        int waited = 0;
        for (; waited < e2e::deadline_ms() && support::running(daemon.pid()); waited += 20) {
            daemon.collect_output();
            ::poll(nullptr, 0, 20);
        }
        if (support::running(daemon.pid()))
            left = "the daemon still runs " + std::to_string(waited) + " ms after signal " +
                   std::to_string(sig) + "\n";
        std::vector<pid_t> pids = programs.left();
        for (waited = 0; !leaves && left.empty() && !pids.empty() && waited < e2e::deadline_ms();
             waited += 20) {
            daemon.collect_output();
            ::poll(nullptr, 0, 20);
            pids = programs.left();
        }
        for (const pid_t pid : pids)
            left += std::to_string(pid) + " " + support::command_line(pid) + "\n";
        programs.end();
        return left;
    }
    ::testing::AssertionResult send(const LGCP::Message& m)
    {
        if (controller.send_payload(e2e::encode(m)))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "not sent" << because();
    }
    // The next payload that is not a line status report.
    ::testing::AssertionResult next(Bytes& payload)
    {
        if (next_answer(controller, payload))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "none came" << because();
    }
    // What a failure adds to its text: ": " and gone() when the daemon has
    // ended, "" while it runs.
    std::string because()
    {
        const std::string why = gone();
        return why.empty() ? why : ": " + why;
    }
    // The text for an answer that did not come.
    std::string none() { return "(none" + because() + ")"; }
    // How often the loop has fed the simulated board's watchdog, -1 when the
    // board does not say. The loop feeds it at most once a second by its own
    // clock, so n feeds more are n - 1 seconds of the daemon's time at least,
    // however seldom a loaded machine lets it run.
    int watchdog_pings()
    {
        const std::string answer = daemon.board("watchdog");
        const std::size_t at = answer.find("pings=");
        return at == std::string::npos ? -1 : std::atoi(answer.c_str() + at + 6);
    }
    // The next `n` messages, with (`statuses`) or without the line status
    // reports, each shown by `show`, "; " between them; `last` keeps the last.
    std::string texts(int n, std::string (*show)(LGCP::Message const&), bool statuses = false)
    {
        std::string out;
        for (Bytes payload; n-- > 0;) {
            const bool got = statuses ? controller.receive_payload(payload) : next(payload);
            const char* p = reinterpret_cast<const char*>(payload.data());
            ASN1::CoderEnv env;
            const bool decoded = got && ASN1::decode(p, p + payload.size(), &env, last, true);
            out += (out.empty() ? "" : "; ") + (!got ? none() : decoded ? show(last) : "undecodable");
        }
        return out;
    }
    // The journal lines that hold `text`; the journal is emptied after.
    Lines journal(const std::string& text = "")
    {
        std::istringstream in(daemon.board("journal"));
        daemon.board("clear");
        Lines out;
        for (std::string line; std::getline(in, line);)
            if (line.find(text) != std::string::npos)
                out.push_back(line);
        return out;
    }

    e2e::Daemon daemon;
    e2e::Controller controller;
    LGCP::Message last;
    // The daemon's programs: fake ones append their numbers to "<root>/pids"
    // ($QUELVAD_ROOT/pids), or to files a test adds. Made before the daemon
    // starts, and gone before its root is removed.
    support::ProcessGuard programs;
    bool stopped = false; // by stop_daemon()
};

} // namespace e2etest
