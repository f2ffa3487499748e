#include "runtime/child_wait.hpp"

#include "runtime/syslog.hpp"
#include "runtime/system.hpp"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <iostream>
#include <new>
#include <string>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

int ChildWait::UsageCounter = 0;
ChildWaitService* ChildWaitService::childWaitService = nullptr;

namespace
{

// Holds SIGCHLD for a scope: the handler then cannot reap a child, nor change
// the groups, meanwhile.
struct HoldChld : IPC::Signal::Hold {
    HoldChld() : Hold(SIGCHLD) {}
};

} // namespace

ChildWait::Init::Init()
{
    if (++UsageCounter == 1)
        Initialize();
}

ChildWait::Init::~Init()
{
    if (--UsageCounter == 0)
        Cleanup();
}

void ChildWait::Initialize()
{
    if (!ChildWaitService::childWaitService)
        ChildWaitService::childWaitService = new ChildWaitService;
}

void ChildWait::Cleanup()
{
    ChildWaitService* s = ChildWaitService::childWaitService;
    ChildWaitService::childWaitService = nullptr;
    delete s;
}

void ChildWait::Activate()
{
    if (ChildWaitService::childWaitService)
        ChildWaitService::childWaitService->Activate();
}

ChildWait::ChildWait() : mHandler(new (mStorage) DummyHandler) {}

ChildWait::~ChildWait()
{
    destroy_handler();
    Detach();
}

bool ChildWait::SignalUnreaped(int pid, int sig, bool group)
{
    HoldChld hold;
    siginfo_t info{};
    const bool ours = ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0;
    if (ours)
        ::kill(group ? -pid : pid, sig);
    return ours;
}

bool ChildWait::KillGroup(int pid)
{
    ChildWaitService* s = ChildWaitService::childWaitService;
    if (!s)
        return false;
    HoldChld hold;
    return s->KillGroup(pid);
}

int ChildWait::Fork(bool group)
{
    sigset_t all;
    sigset_t old;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, &old);
    ChildWaitService* s = ChildWaitService::childWaitService;
    // Room for the group before the fork, so that entering it cannot fail
    // once the child runs.
    bool room = false;
    if (group && s) {
        try {
            s->mGroups.reserve(s->mGroups.size() + 1);
            room = true;
        } catch (std::bad_alloc const&) {
        }
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Only calls that are safe after fork: the handlers go first, then
        // whatever arrived meanwhile is delivered with its default action.
        struct sigaction dfl = {};
        dfl.sa_handler = SIG_DFL;
        ::sigemptyset(&dfl.sa_mask);
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP)
                ::sigaction(sig, &dfl, nullptr);
        }
        if (group)
            ::setpgid(0, 0);
        // The records waiting for the syslog reader are the daemon's to send,
        // and the child must not write into a record it sent in part.
        syslogManager.forked();
        sigset_t none;
        ::sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        return 0;
    }
    const int saved = errno;
    if (pid > 0 && group) {
        // Fails once the child has executed its program; it made its group
        // itself before that.
        ::setpgid(pid, pid);
        if (room)
            s->AddGroup(pid);
    }
    ::sigprocmask(SIG_SETMASK, &old, nullptr);
    errno = saved;
    return pid;
}

void ChildWait::Attach(int pid)
{
    mPid = pid;
    if (ChildWaitService::childWaitService)
        ChildWaitService::childWaitService->Attach(this);
}

void ChildWait::Detach()
{
    if (ChildWaitService::childWaitService)
        ChildWaitService::childWaitService->Detach(this);
}

ChildWaitService::~ChildWaitService()
{
    KillGroups();
    if (mHandlerInstalled)
        IPC::Signal::system(SIGCHLD);
    while (ChildWait* w = mWaits.remove_from_head())
        w->mLinked = false;
}

void ChildWaitService::Activate()
{
    if (IsActive())
        return;
    int sv[2];
    if (::socketpair(AF_LOCAL, SOCK_DGRAM | SOCK_CLOEXEC, 0, sv) != 0) {
        std::cerr << "ChildWaitService: initialize fails" << std::endl;
        return;
    }
    Fd first(sv[0]);
    Fd second(sv[1]);
    mWriter = first;
    // The handler must never block: a full socket drops a record rather than
    // freezing the process inside the signal handler.
    mWriter.NonBlock();
    Bind<ChildWaitService>("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
    second.NonBlock();
    Schedule(second, POLLIN);

    if (IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART) == 0)
        mHandlerInstalled = true;
}

void ChildWaitService::Attach(ChildWait* wait)
{
    if (wait->mLinked)
        mWaits.remove(wait);
    mWaits.insert_to_tail(wait);
    wait->mLinked = true;
}

void ChildWaitService::Detach(ChildWait* wait)
{
    if (!wait->mLinked)
        return;
    mWaits.remove(wait);
    wait->mLinked = false;
}

void ChildWaitService::AddGroup(int pid)
{
    mGroups.push_back(pid);
}

bool ChildWaitService::KillGroup(int pid)
{
    for (int& g : mGroups) {
        if (g != pid)
            continue;
        g = mGroups.back();
        mGroups.pop_back();
        ::kill(-pid, SIGKILL);
        return true;
    }
    return false;
}

void ChildWaitService::KillGroups()
{
    HoldChld hold;
    for (int pid : mGroups)
        ::kill(-pid, SIGKILL);
    // The leaders are this process's children and end on their SIGKILL: they
    // are gone before the daemon is.
    for (int pid : mGroups)
        ::waitpid(pid, nullptr, 0);
    mGroups.clear();
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*)
{
    if (ChildWaitService* s = childWaitService)
        s->SigChldHandler();
}

void ChildWaitService::SigChldHandler()
{
    // The interrupted code may be about to read errno.
    const int saved = errno;
    const int fd = mWriter.lowlevel_fd();
    for (;;) {
        // Seen before it is reaped: while a leader is not reaped its number
        // names its group and no other, so what its program left there is
        // killed now.
        siginfo_t info{};
        if (::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid <= 0)
            break;
        KillGroup(info.si_pid);
        int status = 0;
        const pid_t pid = ::waitpid(info.si_pid, &status, WNOHANG);
        if (pid <= 0)
            break;
        if (fd < 0)
            continue;
        std::int32_t record[2] = {static_cast<std::int32_t>(pid), static_cast<std::int32_t>(status)};
        iovec iov[2] = {{&record[0], sizeof record[0]}, {&record[1], sizeof record[1]}};
        ssize_t r = ::writev(fd, iov, 2);
        (void)r;
    }
    errno = saved;
}

void ChildWaitService::OnChildEvent(int fd, short revents)
{
    if (!(revents & POLLIN))
        return;
    for (;;) {
        std::int32_t record[2];
        iovec iov[2] = {{&record[0], sizeof record[0]}, {&record[1], sizeof record[1]}};
        if (::readv(fd, iov, 2) != ssize_t(sizeof record))
            break;
        const int pid = record[0];
        const int status = record[1];
        std::clog << "terminate child process, pid=" << std::to_string(pid)
                  << " status=" << std::to_string(status) << std::endl;
        for (ChildWait* w = mWaits.first(); w; w = w->get_next()) {
            if (w->mPid != pid)
                continue;
            Detach(w);
            w->mHandler->Invoke(*w, status);
            break;
        }
    }
}
