#pragma once
// Ends what a test started on every way out of it, a failed check included.
// A process left running keeps the test program's output open, and the test
// run would wait for it until its time limit instead of reporting the failure;
// so a test that starts processes hands them to a ProcessGuard, whose end
// kills them (SIGKILL, with the process group each one leads) and reaps those
// that are children of the test.
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "runtime/system.hpp"

namespace support
{

// What /proc shows of a process: its state letter, its process group, its
// session and its start in clock ticks since boot. False when there is no
// such process.
struct ProcStat {
    char state = '?';
    pid_t group = 0;
    pid_t session = 0;
    unsigned long long start = 0;
};
inline bool proc_stat(pid_t pid, ProcStat& out)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The name, in parentheses, may hold anything: the fields are counted
    // from its end. After it: state (field 3), ppid, pgrp, session (6), ...,
    // starttime (22).
    const std::size_t end = stat.rfind(") ");
    if (end == std::string::npos)
        return false;
    std::istringstream fields(stat.substr(end + 2));
    std::string skip;
    long long group = 0;
    long long session = 0;
    fields >> out.state >> skip >> group >> session;
    for (int field = 7; field < 22; ++field)
        fields >> skip;
    fields >> out.start;
    out.group = pid_t(group);
    out.session = pid_t(session);
    return bool(fields);
}

// Running, and not a zombie left for its parent to reap.
inline bool running(pid_t pid)
{
    ProcStat s;
    return pid > 0 && proc_stat(pid, s) && s.state != 'Z' && s.state != 'X';
}

// Now, in the clock ticks since boot of the processes' start times.
inline unsigned long long boot_ticks()
{
    timespec now{};
    ::clock_gettime(CLOCK_BOOTTIME, &now);
    const auto hz = static_cast<unsigned long long>(::sysconf(_SC_CLK_TCK));
    return static_cast<unsigned long long>(now.tv_sec) * hz +
           static_cast<unsigned long long>(now.tv_nsec) * hz / 1000000000ULL;
}

// Reaps a child of this process once it has ended, its wait status in
// `status`; false when it has not ended within `ms` (a generous bound, so that
// a child that never ends fails the test instead of hanging it) or is no child.
inline bool reap(pid_t pid, int& status, int ms = 30000)
{
    const IPC::Signal::Hold hold(SIGCHLD);
    timespec start{}, now{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        const pid_t got = ::waitpid(pid, &status, WNOHANG);
        if (got == pid)
            return true;
        if (got < 0 && errno != EINTR)
            return false;
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        if ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 >= ms)
            return false;
        ::poll(nullptr, 0, 10);
    }
}

// The processes of a test, killed when the guard goes (or at end()): the ones
// added by number, the ones whose numbers the test's programs wrote to the
// files it watches, and, when asked, every child this process has at the end.
//
// A number is only signalled while it is still the process the test meant: a
// child of this process not yet reaped (SIGCHLD is held meanwhile, so no
// handler reaps it between the look and the kill), or a process of this
// process's session started since the guard was made. Such a process is
// killed with its process group, unless that is this process's own or older
// than the guard (a program runs in a group of its own, and all it starts
// stays there). A number whose process has gone has its group killed: a
// program that ended may have left the group running, and the group's number
// cannot be another's while any of it runs.
class ProcessGuard
{
public:
    ProcessGuard() : mSince(boot_ticks()) {}
    ~ProcessGuard() { end(); }
    ProcessGuard(const ProcessGuard&) = delete;
    ProcessGuard& operator=(const ProcessGuard&) = delete;

    // A process the test started, or learnt of: a child of this process, a
    // process further down (what a child left running), or one a program
    // under test started.
    void add(pid_t pid)
    {
        if (pid > 0)
            mPids.push_back(pid);
    }
    // A file to which programs under test append the numbers of the processes
    // they run, one a line ("echo $$ >> file"); read at the end.
    void watch(const std::string& path) { mFiles.push_back(path); }
    // At the end, also every child this process has then.
    void children() { mChildren = true; }

    // Kills and reaps as above, then forgets every process, file and request.
    void end()
    {
        std::vector<pid_t> pids = mPids;
        for (const std::string& path : mFiles) {
            std::ifstream in(path);
            for (long long pid; in >> pid;)
                if (pid > 0)
                    pids.push_back(pid_t(pid));
        }
        if (mChildren) {
            std::ifstream in("/proc/self/task/" + std::to_string(::getpid()) + "/children");
            for (long long pid; in >> pid;)
                pids.push_back(pid_t(pid));
        }
        mPids.clear();
        mFiles.clear();
        mChildren = false;
        if (pids.empty())
            return;

        const IPC::Signal::Hold hold(SIGCHLD);
        const pid_t session = ::getsid(0);
        const auto started = [&](const ProcStat& p) { return p.session == session && p.start >= mSince; };
        std::vector<pid_t> ours;
        for (const pid_t pid : pids) {
            siginfo_t info{};
            const bool child = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
            ProcStat s;
            if (!proc_stat(pid, s)) {
                ::kill(-pid, SIGKILL); // what it left in its group, if anything
                continue;
            }
            if (!child && !started(s))
                continue; // the number is another process's now
            ProcStat leader;
            if (s.group > 0 && s.group != ::getpgrp() && (!proc_stat(s.group, leader) || started(leader)))
                ::kill(-s.group, SIGKILL);
            ::kill(pid, SIGKILL);
            if (child)
                ours.push_back(pid);
        }
        for (const pid_t pid : ours) {
            int status = 0;
            reap(pid, status);
        }
    }

private:
    unsigned long long mSince; // when the guard was made, in clock ticks since boot
    std::vector<pid_t> mPids;
    std::vector<std::string> mFiles;
    bool mChildren = false;
};

} // namespace support
