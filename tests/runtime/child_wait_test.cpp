#include "runtime/child_wait.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "runtime/multiplexer.hpp"
#include "tests/runtime/loop_fixture.hpp"

namespace
{

using looptest::Capture;

// Children exiting with codes first_code, first_code + 1, ...; with
// `zombies`, returned once each has ended (and is not reaped yet: SIGCHLD
// must be blocked then).
std::vector<pid_t> children(int n, int first_code, bool zombies = true)
{
    std::vector<pid_t> pids;
    for (int i = 0; i < n; ++i) {
        pid_t p = ::fork();
        if (p == 0)
            ::_exit(first_code + i);
        pids.push_back(p);
    }
    for (pid_t p : pids) {
        siginfo_t info;
        if (!zombies)
            break;
        EXPECT_EQ(::waitid(P_PID, id_t(p), &info, WEXITED | WNOWAIT), 0);
    }
    return pids;
}

// Children exit for real, so these tests use the system clock; the guard
// timer only keeps a broken build from hanging.
class ChildWaitTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ChildWait::Cleanup();
        ChildWait::Initialize();
        ChildWait::Activate();
        mGuard.set(60000, [] {
            ADD_FAILURE() << "no child record arrived";
            multiplexer.terminate();
        });
    }
    void TearDown() override
    {
        mGuard.t.reset();
        // Restores the default SIGCHLD disposition with a fresh, idle service.
        ChildWait::Cleanup();
        ChildWait::Initialize();
    }
    static std::size_t waiting() { return ChildWaitService::childWaitService->waiting(); }
    looptest::Action mGuard;
};

// Keeps SIGCHLD pending while children are made into zombies, so that the
// test calls the handler itself.
class BlockChld
{
public:
    BlockChld()
    {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGCHLD);
        ::sigprocmask(SIG_BLOCK, &set, &mOld);
    }
    ~BlockChld() { ::sigprocmask(SIG_SETMASK, &mOld, nullptr); }

private:
    sigset_t mOld;
};

struct Owner {
    std::vector<std::string>* log;
    std::string name;
    ChildWait wait;
    int stop_after_total = 0;
    Owner(std::vector<std::string>* l, const std::string& n) : log(l), name(n)
    {
        wait.Bind(this, &Owner::on_exit);
    }
    void on_exit(int status)
    {
        log->push_back(name + ":" + std::to_string(WEXITSTATUS(status)));
        if (int(log->size()) == stop_after_total)
            multiplexer.terminate();
    }
};

TEST_F(ChildWaitTest, UnexpectedChildIsOnlyLogged)
{
    std::vector<std::string> log;
    Owner gone(&log, "gone");
    Owner last(&log, "last");
    last.stop_after_total = 1;
    // Both children have ended before the handler runs, so both records are
    // read in one go.
    std::vector<pid_t> pids;
    {
        BlockChld block;
        pids = children(2, 1);
    }
    const int first = pids[0];
    gone.wait.Attach(first);
    gone.wait.Detach(); // destroyed or detached waits hear nothing
    {
        Owner dropped(&log, "dropped");
        dropped.wait.Attach(first);
    }
    last.wait.Attach(pids[1]);
    Capture clog(std::clog);
    multiplexer.run(false, true);
    EXPECT_EQ(log, (std::vector<std::string>{"last:2"}));
    EXPECT_NE(clog.text().find("terminate child process, pid=" + std::to_string(first) + " status=256\n"),
              std::string::npos);
}

TEST_F(ChildWaitTest, HandlerMayDestroyOrReattachItsWait)
{
    std::vector<std::string> log;
    struct Self {
        std::vector<std::string>* log;
        ChildWait* wait;
        int round = 0;
        void on(int status)
        {
            log->push_back("round" + std::to_string(round) + ":" + std::to_string(WEXITSTATUS(status)));
            if (++round == 1) {
                wait->Attach(children(1, 5, false)[0]); // the same wait, a new child
            } else {
                delete wait;
                multiplexer.terminate();
            }
        }
    } self{&log, new ChildWait};
    self.wait->Bind(&self, &Self::on);
    self.wait->Attach(children(1, 4, false)[0]);
    self.wait->Attach(self.wait->pid()); // attaching again keeps one entry
    EXPECT_EQ(waiting(), 1u);
    Capture clog(std::clog);
    multiplexer.run(false, true);
    EXPECT_EQ(log, (std::vector<std::string>{"round0:4", "round1:5"}));
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
    std::vector<std::string> log;
    Owner o0(&log, "0"), o1(&log, "1"), o2(&log, "2");
    o0.stop_after_total = o1.stop_after_total = o2.stop_after_total = 3;
    o2.wait.Attach(pids[2]);
    o0.wait.Attach(pids[0]);
    o1.wait.Attach(pids[1]);
    Capture clog(std::clog);
    multiplexer.run(false, true);
    EXPECT_EQ(log, (std::vector<std::string>{"0:10", "1:11", "2:12"}));
    EXPECT_FALSE(o0.wait.is_attached() || o1.wait.is_attached() || o2.wait.is_attached());
    EXPECT_EQ(waiting(), 0u);
}

TEST_F(ChildWaitTest, FullSocketDropsRecordsInsteadOfBlocking)
{
    const int writer = ChildWaitService::childWaitService->writer().lowlevel_fd();
    EXPECT_TRUE(::fcntl(writer, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(::fcntl(writer, F_GETFD) & FD_CLOEXEC);
    int small = 1;
    ASSERT_EQ(::setsockopt(writer, SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);
    BlockChld block;
    std::vector<pid_t> pids = children(40, 0);
    ChildWaitService::SigChldHandlerWrapper(SIGCHLD, nullptr,
                                            nullptr); // returns although the socket fills up
    for (pid_t p : pids)
        EXPECT_EQ(::waitpid(p, nullptr, WNOHANG), -1);
}

} // namespace
