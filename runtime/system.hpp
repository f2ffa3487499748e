#pragma once
// Thin wrappers over the process-level calls of start-up and monitoring:
// signal installation, the pid file, the process search under /proc, the
// local time stamp and the console modes. They report failures only through
// their results; the caller writes the message.
#include <signal.h>

#include <ostream>
#include <string>

namespace IPC
{
namespace Signal
{

using InfoHandler = void (*)(int, siginfo_t*, void*);
using PlainHandler = void (*)(int);

class Set
{
public:
    Set();
    Set(int a, int b);
    Set(int a, int b, int c);
    int add(int sig);
    void copy_to(sigset_t& out) const { out = mSet; }
    static bool is_signal(int sig);

private:
    sigset_t mSet;
};

// Each returns the result of sigaction, 0 on success. The handler runs with
// the given flags less SA_SIGINFO, so it gets the signal number only; a
// three-argument handler is called with null for the other two. Without a
// set nothing more is blocked while the handler runs.
int handle(int sig, InfoHandler handler, int flags);
int handle(int sig, InfoHandler handler, int flags, const Set& block);
int handle(int sig, PlainHandler handler, int flags);
int handle(int sig, PlainHandler handler, int flags, const Set& block);

// Holds (blocks) one signal for a scope; the mask before it comes back at
// its end.
class Hold
{
public:
    explicit Hold(int sig)
    {
        sigset_t one;
        ::sigemptyset(&one);
        ::sigaddset(&one, sig);
        ::sigprocmask(SIG_BLOCK, &one, &mOld);
    }
    ~Hold() { ::sigprocmask(SIG_SETMASK, &mOld, nullptr); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    sigset_t mOld{};
};

int ignore(int sig); // SIG_IGN
int system(int sig); // SIG_DFL

// Interrupted system calls restart (disable_int) or fail with EINTR.
int disable_int(int sig);
int enable_int(int sig);

} // namespace Signal
} // namespace IPC

// The number of a process whose command name is exactly `name`: the given
// pid first when above 0, then every process listed in /proc; -1 when none.
int find_proc_by_name(const char* name, int pid);

namespace Linux
{

// The pid file "/var/run/<name>.pid": written at construction (the decimal
// pid, no newline, synchronously), kept open, removed at destruction. A file
// that cannot be created is silently left out.
class Run
{
public:
    explicit Run(const char* name);
    ~Run();
    Run(const Run&) = delete;
    Run& operator=(const Run&) = delete;

private:
    int mFd = -1;
    std::string mPath;
};

} // namespace Linux

// The local time as "%d/%m %H:%M:%S"; nothing when the time cannot be read.
void timestamp(std::ostream& os);

namespace Console
{

void SwitchToBinaryMode();
void SwitchToNonBlockMode();

} // namespace Console
