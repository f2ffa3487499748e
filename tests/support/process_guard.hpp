#pragma once
// Ends what a test started on every way out of it, a failed check included.
// A process left running keeps the test program's output open, and the test
// run would wait for it until its time limit instead of reporting the failure;
// so a test that starts processes hands them to a ProcessGuard, whose end
// kills them (SIGKILL, with the process group each one runs in) and reaps
// those that are children of the test; it signals only what it has seen to be
// the test's, never a number alone.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
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

// The whole of a file under /proc, or what was read of it before a failed
// read: a process that ends meanwhile makes the read fail (ESRCH), and a
// stream would throw there. "" when it cannot be opened.
inline std::string proc_file(const std::string& path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0)
            text.append(buf, std::size_t(n));
    ::close(fd);
    return text;
}

// What /proc shows of a process: its state letter, its parent, its process
// group, its session and its start in clock ticks since boot. False when there is no
// such process.
struct ProcStat {
    char state = '?';
    pid_t parent = 0;
    pid_t group = 0;
    pid_t session = 0;
    unsigned long long start = 0;
    unsigned long long cpu = 0; // processor time used (user and system), in clock ticks
};
inline bool proc_stat(pid_t pid, ProcStat& out)
{
    const std::string stat = proc_file("/proc/" + std::to_string(pid) + "/stat");
    // The name, in parentheses, may hold anything: the fields are counted
    // from its end. After it: state (field 3), ppid, pgrp, session (6), ...,
    // utime (14), stime (15), ..., starttime (22).
    const std::size_t end = stat.rfind(") ");
    if (end == std::string::npos)
        return false;
    std::istringstream fields(stat.substr(end + 2));
    std::string skip;
    long long parent = 0;
    long long group = 0;
    long long session = 0;
    unsigned long long user = 0;
    unsigned long long system = 0;
    fields >> out.state >> parent >> group >> session;
    for (int field = 7; field < 14; ++field)
        fields >> skip;
    fields >> user >> system;
    for (int field = 16; field < 22; ++field)
        fields >> skip;
    fields >> out.start;
    out.cpu = user + system;
    out.parent = pid_t(parent);
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

// A child of the test whose end stays the test's to reap. A SIGCHLD handler
// of this process (the child-wait service's, once a test has activated it)
// reaps every child that ends; so SIGCHLD is held here from before the fork
// until the child has been reaped, and the handler cannot take it first. The
// child starts with the signal mask the test had. Meanwhile the handler
// reaps no other child either (their ends are handled once the hold goes),
// so the test runs no loop that waits for one before reap(). A child not
// reaped by then is killed (SIGKILL) and reaped when the object goes.
class HeldChild
{
public:
    // Forks; pid() is 0 in the child, and below 0 when the fork failed.
    HeldChild()
    {
        sigset_t one;
        ::sigemptyset(&one);
        ::sigaddset(&one, SIGCHLD);
        ::sigprocmask(SIG_BLOCK, &one, &mOld);
        mPid = ::fork();
        if (mPid <= 0)
            release(); // the child, or no child to wait for
    }
    ~HeldChild()
    {
        if (mPid > 0) {
            ::kill(mPid, SIGKILL); // not reaped, and nothing else reaps it: still the test's
            int status = 0;
            support::reap(mPid, status);
        }
        release();
    }
    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;

    pid_t pid() const { return mPid; }

    // Reaps the child once it has ended, its wait status in `status`, and
    // lets SIGCHLD through again; false when it has not ended within `ms`
    // (it is held on, and killed at the end) or there is none.
    bool reap(int& status, int ms = 30000)
    {
        if (mPid <= 0 || !support::reap(mPid, status, ms))
            return false;
        mPid = -1;
        release();
        return true;
    }

private:
    void release()
    {
        if (mHeld)
            ::sigprocmask(SIG_SETMASK, &mOld, nullptr);
        mHeld = false;
    }

    sigset_t mOld{};
    bool mHeld = true;
    pid_t mPid = -1;
};

// Every process /proc shows, with what it shows of each.
struct Process {
    pid_t pid = 0;
    ProcStat stat;
};
inline std::vector<Process> processes()
{
    std::vector<Process> out;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return out;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        Process p;
        p.pid = pid_t(pid);
        if (pid > 0 && *end == '\0' && p.pid == pid && proc_stat(p.pid, p.stat))
            out.push_back(p);
    }
    ::closedir(proc);
    return out;
}

// A process's command line on one line, its words joined by spaces (and
// any control character a space), or its name in brackets when it has none
// (a zombie, a kernel thread); "" once it has gone.
inline std::string command_line(pid_t pid)
{
    const std::string dir = "/proc/" + std::to_string(pid);
    std::string words = proc_file(dir + "/cmdline");
    while (!words.empty() && words.back() == '\0')
        words.pop_back();
    for (char& c : words)
        if (static_cast<unsigned char>(c) < ' ')
            c = ' ';
    if (!words.empty())
        return words;
    const std::string name = proc_file(dir + "/comm");
    return name.empty() ? "" : "[" + name.substr(0, name.find('\n')) + "]";
}

// The processes of a test, killed when the guard goes (or at end()): the ones
// added by number, the ones whose numbers the test's programs wrote to the
// files it watches, and, when asked, every child this process has at the end.
//
// A number alone is never enough: numbers are reused, and a full test run
// goes through them all. The guard signals a process only once it has seen it
// to be the test's: a child of this process not yet reaped (SIGCHLD is held
// meanwhile, so no handler reaps it between the look and the kill), or a
// process of this process's session started since the guard was made. It
// signals a process group only once it has seen one of the group's members to
// be the test's, as the group's number is nobody else's while any member
// runs; never this process's own group, nor one whose leader runs and is not
// the test's (a group older than the guard). A listed process that is the
// test's is killed with its group (a program runs in a group of its own, and
// all it starts stays there); the group a listed process led is looked for
// once the process has gone, as a program that ended may have left it
// running. A group never spans sessions: one whose members belong to another
// session is another's, whatever its number, and is left alone.
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

    // What end() would find still running now, by the same rule: the listed
    // processes and the members of their groups that are the test's and
    // neither gone nor zombies; in increasing order.
    std::vector<pid_t> left() const
    {
        const IPC::Signal::Hold hold(SIGCHLD);
        return look(listed()).running;
    }

    // Kills and reaps as above, then forgets every process, file and request.
    void end()
    {
        const std::vector<pid_t> pids = listed();
        mPids.clear();
        mFiles.clear();
        mChildren = false;
        if (pids.empty())
            return;

        const IPC::Signal::Hold hold(SIGCHLD);
        const Seen seen = look(pids);
        for (const pid_t group : seen.groups)
            ::kill(-group, SIGKILL);
        for (const pid_t pid : seen.pids)
            ::kill(pid, SIGKILL);
        for (const pid_t pid : seen.children) {
            int status = 0;
            reap(pid, status);
        }
    }

private:
    // What of the listed processes is the test's, as seen in one look.
    struct Seen {
        std::vector<pid_t> pids;     // listed processes seen to be the test's
        std::vector<pid_t> children; // those that are children of this process
        std::vector<pid_t> groups;   // groups with a member seen to be the test's
        std::vector<pid_t> running;  // of `pids` and the groups' members: the test's, running
    };

    std::vector<pid_t> listed() const
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
        std::sort(pids.begin(), pids.end());
        pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
        return pids;
    }

    // What of `pids` is the test's now; called with SIGCHLD held.
    Seen look(const std::vector<pid_t>& pids) const
    {
        Seen seen;
        if (pids.empty())
            return seen;
        const pid_t session = ::getsid(0);
        const pid_t own = ::getpgrp();
        const std::vector<Process> all = processes();
        const auto find = [&](pid_t pid) -> const ProcStat* {
            for (const Process& p : all)
                if (p.pid == pid)
                    return &p.stat;
            return nullptr;
        };
        const auto child = [](pid_t pid) {
            siginfo_t info{};
            return ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
        };
        const auto ours = [&](pid_t pid, const ProcStat& s) {
            return (s.session == session && s.start >= mSince) || child(pid);
        };
        const auto runs = [](const ProcStat& s) { return s.state != 'Z' && s.state != 'X'; };

        std::vector<pid_t> groups; // to look into: led by a listed process, or holding one of the test's
        for (const pid_t pid : pids) {
            const ProcStat* s = find(pid);
            if (!s) {
                groups.push_back(pid); // gone: what it may have left in the group it led
                continue;
            }
            if (!ours(pid, *s))
                continue; // the number is another process's now
            seen.pids.push_back(pid);
            if (child(pid))
                seen.children.push_back(pid);
            if (runs(*s))
                seen.running.push_back(pid);
            groups.push_back(s->group);
        }
        std::sort(groups.begin(), groups.end());
        groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
        for (const pid_t group : groups) {
            if (group <= 0 || group == own)
                continue;
            const ProcStat* leader = find(group);
            if (leader && !ours(group, *leader))
                continue; // older than the guard, or not the test's at all
            bool member = false;
            for (const Process& p : all) {
                if (p.stat.group != group || !ours(p.pid, p.stat))
                    continue;
                member = true;
                if (runs(p.stat))
                    seen.running.push_back(p.pid);
            }
            if (member)
                seen.groups.push_back(group);
        }
        std::sort(seen.running.begin(), seen.running.end());
        seen.running.erase(std::unique(seen.running.begin(), seen.running.end()), seen.running.end());
        return seen;
    }

    unsigned long long mSince; // when the guard was made, in clock ticks since boot
    std::vector<pid_t> mPids;
    std::vector<std::string> mFiles;
    bool mChildren = false;
};

} // namespace support
