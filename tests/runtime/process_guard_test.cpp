// The tests' process guard (tests/support/process_guard.hpp) and the process
// groups whose leader has gone: it ends one whose members are this test's,
// and leaves one of another session alone whatever number is listed.
#include "tests/support/process_guard.hpp"

#include <csignal>
#include <fstream>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/runtime/test_util.hpp"

namespace
{

// Reads `size` bytes, waiting for them no longer than a generous bound.
bool take(int fd, void* to, std::size_t size)
{
    char* at = static_cast<char*>(to);
    for (std::size_t got = 0; got < size;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0)
            return false;
        const ssize_t n = ::read(fd, at + got, size - got);
        if (n <= 0)
            return false;
        got += std::size_t(n);
    }
    return true;
}

bool GoneSoon(pid_t pid)
{
    for (int k = 0; k < 1000 && support::running(pid); ++k)
        ::poll(nullptr, 0, 10);
    return !support::running(pid);
}

// A process this test learnt of by number, not a child of it, killed when
// the object goes, whatever the test's checks found: only while it is still
// the process the test saw, started since `since` in the group `group`.
class Stray
{
public:
    Stray(pid_t pid, pid_t group, unsigned long long since) : mPid(pid), mGroup(group), mSince(since) {}
    ~Stray()
    {
        support::ProcStat s;
        if (mPid > 0 && support::proc_stat(mPid, s) && s.group == mGroup && s.start >= mSince)
            ::kill(mPid, SIGKILL);
    }
    Stray(const Stray&) = delete;
    Stray& operator=(const Stray&) = delete;

private:
    pid_t mPid;
    pid_t mGroup;
    unsigned long long mSince;
};

// A group of another session whose leader has gone. The keeper, a child of
// this test in its group, forks the leader and reaps it; the leader starts a
// session of its own, leaves a process there (`left`) and ends. What was left
// reports a SIGTERM through a pipe before it ends, so the test tells whether
// it was still there to take the signal or something had killed it first,
// without being its parent; it tells the numbers only once its handler is
// installed, so the test's SIGTERM never comes before it can report it.
class OtherSession
{
public:
    explicit OtherSession(unsigned long long since) : mSince(since)
    {
        int up[2], report[2];
        if (::pipe(up) != 0)
            return;
        if (::pipe(report) != 0) {
            ::close(up[0]), ::close(up[1]);
            return;
        }
        mKeeper = ::fork();
        if (mKeeper == 0)
            keep(up[1], report[1]);
        mKeepers.add(mKeeper);
        ::close(up[1]), ::close(report[1]);
        mUp = up[0], mReport = report[0];
        pid_t pids[2] = {0, 0};
        if (mKeeper > 0 && take(mUp, pids, sizeof pids))
            leader = pids[0], left = pids[1];
        mLeft.reset(new Stray(left, leader, since));
    }
    ~OtherSession()
    {
        for (int fd : {mUp, mReport})
            if (fd >= 0)
                ::close(fd);
    }
    OtherSession(const OtherSession&) = delete;
    OtherSession& operator=(const OtherSession&) = delete;

    // Ends what was left with SIGTERM, while it is still the process the
    // test saw: true when it took the signal, false when it had been killed.
    bool end()
    {
        support::ProcStat s;
        if (left > 0 && support::proc_stat(left, s) && s.group == leader && s.start >= mSince)
            ::kill(left, SIGTERM);
        char got = 0;
        return mReport >= 0 && take(mReport, &got, 1) && got == 'T';
    }

    pid_t leader = 0;
    pid_t left = 0;

private:
    static int sReport;

    [[noreturn]] static void keep(int up, int report)
    {
        ::signal(SIGCHLD, SIG_DFL); // no handler of the test program reaps the leader
        int inner[2];
        if (::pipe(inner) != 0)
            ::_exit(1);
        const pid_t leader = ::fork();
        if (leader == 0) {
            ::setsid();
            const pid_t left = ::fork();
            if (left == 0) {
                sReport = report;
                ::signal(
                    SIGTERM, +[](int) {
                        (void)!::write(sReport, "T", 1);
                        ::_exit(0);
                    });
                // Only now, its handler in place, may the test signal it:
                // it tells its numbers itself (the leader's is its session's).
                const pid_t pids[2] = {::getsid(0), ::getpid()};
                (void)!::write(inner[1], pids, sizeof pids);
                ::close(inner[1]);
                for (;;)
                    ::pause();
            }
            ::_exit(left < 0 ? 1 : 0); // what was left tells the numbers
        }
        ::close(report), ::close(inner[1]);
        pid_t pids[2] = {0, 0};
        if (leader < 0 || !take(inner[0], pids, sizeof pids))
            ::_exit(1);
        // Gone, not even a zombie, before the test looks.
        ::waitpid(leader, nullptr, 0);
        (void)!::write(up, pids, sizeof pids);
        ::_exit(0);
    }

    support::ProcessGuard mKeepers; // the keeper, on every way out
    std::unique_ptr<Stray> mLeft;   // what was left, when it did not end
    unsigned long long mSince;
    pid_t mKeeper = -1;
    int mUp = -1;
    int mReport = -1;
};
int OtherSession::sReport = -1;

// The number of a group of another session whose leader has gone, listed by
// file and by hand, with that of the process left in the group, is a number
// alone: nothing in that session is the test's, and the process left runs on
// until the test ends it.
TEST(ProcessGuard, AGroupOfAnotherSessionIsLeftAloneWhateverIsListed)
{
    const unsigned long long began = support::boot_ticks();
    testutil::TempDir dir(false);
    support::ProcessGuard guard;
    guard.watch(dir / "pids");
    OtherSession other(began);
    ASSERT_LT(0, other.leader);
    ASSERT_LT(0, other.left);
    support::ProcStat s;
    ASSERT_TRUE(support::proc_stat(other.left, s));
    ASSERT_EQ(other.leader, s.group);
    ASSERT_EQ(other.leader, s.session);
    ASSERT_NE(::getsid(0), s.session);
    ASSERT_FALSE(support::proc_stat(other.leader, s)) << "the leader has gone";

    std::ofstream(dir / "pids") << other.leader << "\n";
    guard.add(other.left);
    EXPECT_TRUE(guard.left().empty());
    guard.end();
    EXPECT_TRUE(other.end()) << "the guard killed another session's process";
}

// A child of this test with a group of its own leaves a process in the group
// and ends, and is reaped: its number listed, the group goes, its members
// being of this session and started since the guard was made.
TEST(ProcessGuard, AGroupOfThisSessionWhoseLeaderHasGoneGoesWithIt)
{
    const unsigned long long began = support::boot_ticks();
    support::ProcessGuard guard;
    int report[2];
    ASSERT_EQ(0, ::pipe(report));
    const pid_t leader = ::fork();
    if (leader == 0) {
        ::setpgid(0, 0);
        const pid_t member = ::fork();
        if (member == 0) {
            ::pause();
            ::_exit(0);
        }
        (void)!::write(report[1], &member, sizeof member);
        ::_exit(0);
    }
    guard.add(leader);
    ::close(report[1]);
    pid_t member = 0;
    if (leader < 0 || !take(report[0], &member, sizeof member))
        member = 0;
    ::close(report[0]);
    int status = 0;
    const bool reaped = leader > 0 && support::reap(leader, status);
    const Stray left(member, leader, began);
    ASSERT_TRUE(reaped);
    ASSERT_LT(0, member);
    support::ProcStat s;
    ASSERT_TRUE(support::proc_stat(member, s));
    ASSERT_EQ(leader, s.group);
    ASSERT_EQ(::getsid(0), s.session);

    EXPECT_EQ(std::vector<pid_t>{member}, guard.left());
    guard.end();
    EXPECT_TRUE(GoneSoon(member)) << "what the leader left in its group runs on";
    EXPECT_TRUE(guard.left().empty()) << "the guard forgot what it was given";
}

} // namespace
