#include "runtime/child_wait.hpp"

#include <cerrno>
#include <poll.h>
#include <sys/wait.h>

#include "tests/runtime/loop_fixture.hpp"
#include "tests/support/process_guard.hpp"

namespace
{

using looptest::Capture;

std::vector<std::string> gLog;
std::size_t gStopAt; // the loop ends when the log has this many records

// Keeps SIGCHLD pending while children are made into zombies, so that the
// test calls the handler itself.
struct BlockChld {
    sigset_t old;
    BlockChld()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGCHLD);
        ::sigprocmask(SIG_BLOCK, &set, &old);
    }
    ~BlockChld() { ::sigprocmask(SIG_SETMASK, &old, nullptr); }
};

// Children exiting with codes first_code, first_code + 1, ...; with
// `zombies`, returned once each has ended (and is not reaped yet, unless
// SIGCHLD is unblocked on the way out).
std::vector<pid_t> children(int n, int first_code, bool zombies = true)
{
    BlockChld block;
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        pid_t p = ::fork();
        if (p == 0)
            ::_exit(first_code + i);
        pids.push_back(p);
    }
    for (pid_t p : pids) {
        siginfo_t info;
        EXPECT_TRUE(!zombies || ::waitid(P_PID, id_t(p), &info, WEXITED | WNOWAIT) == 0);
    }
    return pids;
}

// Children exit for real, so these tests run the loop on the system clock.
class ChildWaitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ChildWait::Cleanup();
        ChildWait::Initialize();
        ChildWait::Activate();
        gLog.clear();
    }
    void TearDown() override
    {
        // Restores the default SIGCHLD disposition with a fresh, idle service.
        ChildWait::Cleanup();
        ChildWait::Initialize();
    }
    static std::size_t waiting() { return ChildWaitService::childWaitService->waiting(); }
};

struct Owner {
    std::string name;
    ChildWait wait;
    explicit Owner(const std::string& n) : name(n) { wait.Bind(this, &Owner::on_exit); }
    void on_exit(int status)
    {
        gLog.push_back(name + ":" + std::to_string(WEXITSTATUS(status)));
        if (gLog.size() == gStopAt)
            multiplexer.terminate();
    }
};

TEST_F(ChildWaitTest, UnexpectedChildIsOnlyLogged)
{
    Owner gone("gone"), last("last");
    gStopAt = 1;
    // Both children have ended before the handler runs, so both records are
    // read in one go.
    const std::vector<pid_t> pids = children(2, 1);
    gone.wait.Attach(pids[0]);
    gone.wait.Detach(); // destroyed or detached waits hear nothing
    {
        Owner dropped("dropped");
        dropped.wait.Attach(pids[0]);
    }
    last.wait.Attach(pids[1]);
    Capture clog(std::clog);
    looptest::run_guarded();
    EXPECT_EQ(gLog, (std::vector<std::string>{"last:2"}));
    EXPECT_NE(clog.text().find("terminate child process, pid=" + std::to_string(pids[0]) + " status=256\n"),
              std::string::npos);
}

TEST_F(ChildWaitTest, HandlerMayDestroyOrReattachItsWait)
{
    struct Self {
        ChildWait* wait;
        int round = 0;
        void on(int status)
        {
            gLog.push_back("round" + std::to_string(round) + ":" + std::to_string(WEXITSTATUS(status)));
            if (++round == 1)
                return wait->Attach(children(1, 5, false)[0]); // the same wait, a new child
            delete wait;
            multiplexer.terminate();
        }
    } self{new ChildWait};
    self.wait->Bind(&self, &Self::on);
    self.wait->Attach(children(1, 4, false)[0]);
    self.wait->Attach(self.wait->pid()); // attaching again keeps one entry
    EXPECT_EQ(waiting(), 1u);
    Capture clog(std::clog);
    looptest::run_guarded();
    EXPECT_EQ(gLog, (std::vector<std::string>{"round0:4", "round1:5"}));
    EXPECT_EQ(waiting(), 0u);
}

TEST_F(ChildWaitTest, SignalHandlerKeepsErrnoAndReapsEveryChild)
{
    std::vector<pid_t> pids;
    {
        BlockChld block;
        pids = children(3, 10);
        errno = ERANGE;
        ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr);
        EXPECT_EQ(errno, ERANGE);
        for (pid_t p : pids)
            EXPECT_EQ(::waitpid(p, nullptr, WNOHANG), -1) << "child " << p << " was not reaped";
    }
    // One 8-byte record per child is waiting on the socket pair.
    Owner o0("0"), o1("1"), o2("2");
    gStopAt = 3;
    o2.wait.Attach(pids[2]);
    o0.wait.Attach(pids[0]);
    o1.wait.Attach(pids[1]);
    Capture clog(std::clog);
    looptest::run_guarded();
    EXPECT_EQ(gLog, (std::vector<std::string>{"0:10", "1:11", "2:12"}));
    EXPECT_FALSE(o0.wait.is_attached() || o1.wait.is_attached() || o2.wait.is_attached());
    EXPECT_EQ(waiting(), 0u);
}

TEST_F(ChildWaitTest, FullSocketDropsRecordsInsteadOfBlocking)
{
    const int writer = ChildWaitService::childWaitService->writer().lowlevel_fd();
    EXPECT_TRUE(::fcntl(writer, F_GETFD) & FD_CLOEXEC);
    int small = 1;
    ASSERT_EQ(::setsockopt(writer, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    BlockChld block;
    std::vector<pid_t> pids = children(40, 0);
    ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr, nullptr); // returns though the socket is full
    for (pid_t p : pids)
        EXPECT_EQ(::waitpid(p, nullptr, WNOHANG), -1);
}

// Running, and not a zombie left for its new parent to reap.
bool Alive(pid_t pid)
{
    return support::running(pid);
}

bool GoneSoon(pid_t pid)
{
    for (int k = 0; k < 1000 && Alive(pid); ++k)
        ::poll(nullptr, 0, 10);
    return !Alive(pid);
}

// A child of Fork with a group of its own, which leaves a process in its
// group (its number read from `left`) and ends unless `stay`.
pid_t LeavingChild(bool stay, pid_t& left)
{
    int report[2];
    if (::pipe(report) != 0)
        return -1;
    const pid_t pid = ChildWait::Fork(true);
    if (pid == 0) {
        const pid_t sleeper = ::fork();
        if (sleeper == 0) {
            ::pause();
            ::_exit(0);
        }
        (void)!::write(report[1], &sleeper, sizeof sleeper);
        if (stay)
            ::pause();
        ::_exit(0);
    }
    ::close(report[1]);
    left = 0;
    if (pid < 0 || ::read(report[0], &left, sizeof left) != ssize_t(sizeof left))
        left = 0;
    ::close(report[0]);
    return pid;
}

// What a child with a group of its own left in the group is killed when the
// child is reaped, and the group is never signalled again (its number may be
// another group's by then); at the service's end the groups of children still
// running are killed, the children reaped.
TEST_F(ChildWaitTest, WhatAChildLeftInItsGroupGoesWithIt)
{
    support::ProcessGuard started; // what a failed check leaves running
    pid_t left = 0;
    pid_t ended = 0;
    {
        // Until the group has been looked at, the child is not reaped, and
        // what it left is not killed and gone with it.
        BlockChld block;
        ended = LeavingChild(false, left);
        started.add(ended);
        started.add(left);
        ASSERT_LT(0, ended);
        ASSERT_LT(0, left);
        EXPECT_EQ(ended, ::getpgid(left)) << "the child leads a group of its own";
    }
    EXPECT_TRUE(GoneSoon(left)) << "killed as its leader was reaped";
    EXPECT_TRUE(ChildWaitService::childWaitService->groups().empty());
    EXPECT_FALSE(ChildWait::KillGroup(ended));

    const pid_t running = LeavingChild(true, left);
    started.add(running);
    started.add(left);
    ASSERT_LT(0, running);
    ASSERT_LT(0, left);
    ASSERT_EQ(1u, ChildWaitService::childWaitService->groups().size());
    ChildWait::Cleanup();
    EXPECT_EQ(-1, ::waitpid(running, nullptr, WNOHANG)) << "reaped";
    EXPECT_TRUE(GoneSoon(left));
}

void Noted(int) {}

// What a child of Fork finds, one character per signal 1..31: 'd' at its
// default action, 'h' handled, 'i' ignored, then 'b' when any signal is
// blocked, '-' when none.
std::string ChildSignals()
{
    int report[2];
    if (::pipe(report) != 0)
        return "no pipe";
    const int pid = ChildWait::Fork();
    if (pid == 0) {
        char out[32];
        for (int sig = 1; sig < 32; ++sig) {
            struct sigaction now = {};
            ::sigaction(sig, nullptr, &now);
            out[sig - 1] = now.sa_handler == SIG_DFL ? 'd' : now.sa_handler == SIG_IGN ? 'i' : 'h';
        }
        sigset_t mask;
        ::sigprocmask(SIG_SETMASK, nullptr, &mask);
        out[31] = '-';
        for (int sig = 1; sig < 32; ++sig)
            if (::sigismember(&mask, sig) == 1)
                out[31] = 'b';
        (void)!::write(report[1], out, sizeof out);
        ::_exit(0);
    }
    ::close(report[1]);
    char got[32];
    const ssize_t n = pid > 0 ? ::read(report[0], got, sizeof got) : 0;
    ::close(report[0]);
    ::waitpid(pid, nullptr, 0);
    return std::string(got, n > 0 ? std::size_t(n) : 0);
}

// Whatever this process handles, ignores or holds, a child of Fork starts
// with every signal at its default action and none blocked, so a signal sent
// to it at once acts as on its program: SIGTERM ends a child that would have
// waited for ever under this process's handler. This process keeps its own.
TEST(ChildFork, ChildStartsWithDefaultSignalsAndAnEmptyMask)
{
    BlockChld block; // no SIGCHLD handler left by another test reaps these children
    struct sigaction handled = {};
    struct sigaction ignored = {};
    struct sigaction term, hup, usr1;
    handled.sa_handler = Noted;
    ignored.sa_handler = SIG_IGN;
    ::sigaction(SIGTERM, &handled, &term);
    ::sigaction(SIGHUP, &handled, &hup);
    ::sigaction(SIGUSR1, &ignored, &usr1);
    sigset_t usr2, old;
    ::sigemptyset(&usr2);
    ::sigaddset(&usr2, SIGUSR2);
    ::sigprocmask(SIG_BLOCK, &usr2, &old);

    EXPECT_EQ(std::string(31, 'd') + "-", ChildSignals());

    support::ProcessGuard started;
    const int pid = ChildWait::Fork();
    if (pid == 0) {
        ::pause();
        ::_exit(0);
    }
    started.add(pid);
    ASSERT_LT(0, pid);
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_TRUE(support::reap(pid, status)) << "still running after SIGTERM";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

    struct sigaction now = {};
    ::sigaction(SIGTERM, nullptr, &now);
    EXPECT_EQ(&Noted, now.sa_handler);
    ::sigaction(SIGUSR1, nullptr, &now);
    EXPECT_EQ(SIG_IGN, now.sa_handler);
    sigset_t mask;
    ::sigprocmask(SIG_SETMASK, nullptr, &mask);
    EXPECT_EQ(1, ::sigismember(&mask, SIGUSR2));
    EXPECT_EQ(0, ::sigismember(&mask, SIGTERM));

    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    ::sigaction(SIGTERM, &term, nullptr);
    ::sigaction(SIGHUP, &hup, nullptr);
    ::sigaction(SIGUSR1, &usr1, nullptr);
}

} // namespace
