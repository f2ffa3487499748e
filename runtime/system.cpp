#include "runtime/system.hpp"

#include "platform/paths.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>

namespace IPC
{
namespace Signal
{
namespace
{

// A three-argument handler installed without SA_SIGINFO would be called
// through the wrong function type; it is called from here instead.
InfoHandler volatile info_handlers[NSIG];

void call_info_handler(int sig)
{
    if (sig > 0 && sig < NSIG) {
        InfoHandler handler = info_handlers[sig];
        if (handler)
            handler(sig, nullptr, nullptr);
    }
}

int install(int sig, PlainHandler handler, int flags, const sigset_t& block)
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    action.sa_mask = block;
    action.sa_flags = flags & ~SA_SIGINFO;
    return sigaction(sig, &action, nullptr);
}

sigset_t empty_set()
{
    sigset_t set;
    sigemptyset(&set);
    return set;
}

int set_restart(int sig, bool restart)
{
    struct sigaction action;
    if (sigaction(sig, nullptr, &action) != 0)
        return -1;
    if (restart)
        action.sa_flags |= SA_RESTART;
    else
        action.sa_flags &= ~SA_RESTART;
    return sigaction(sig, &action, nullptr);
}

} // namespace

Set::Set()
{
    sigemptyset(&mSet);
}

Set::Set(int a, int b) : Set()
{
    add(a);
    add(b);
}

Set::Set(int a, int b, int c) : Set(a, b)
{
    add(c);
}

int Set::add(int sig)
{
    return sigaddset(&mSet, sig);
}

bool Set::is_signal(int sig)
{
    sigset_t probe;
    sigemptyset(&probe);
    return sigaddset(&probe, sig) == 0;
}

int handle(int sig, InfoHandler handler, int flags)
{
    return handle(sig, handler, flags, Set());
}

int handle(int sig, InfoHandler handler, int flags, const Set& block)
{
    if (!Set::is_signal(sig)) {
        errno = EINVAL;
        return -1;
    }
    info_handlers[sig] = handler;
    return handle(sig, handler ? call_info_handler : SIG_DFL, flags, block);
}

int handle(int sig, PlainHandler handler, int flags)
{
    return handle(sig, handler, flags, Set());
}

int handle(int sig, PlainHandler handler, int flags, const Set& block)
{
    sigset_t mask;
    block.copy_to(mask);
    return install(sig, handler, flags, mask);
}

int ignore(int sig)
{
    return install(sig, SIG_IGN, 0, empty_set());
}

int system(int sig)
{
    return install(sig, SIG_DFL, 0, empty_set());
}

int disable_int(int sig)
{
    return set_restart(sig, true);
}

int enable_int(int sig)
{
    return set_restart(sig, false);
}

} // namespace Signal
} // namespace IPC

namespace
{

// The command name of a process: the text between the first "(" and the
// last ")" of the first 255 bytes of its stat file.
bool command_name(const std::string& proc, int pid, std::string& name)
{
    std::string path = proc + "/" + std::to_string(pid) + "/stat";
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[256];
    ssize_t n;
    do
        n = ::read(fd, text, 255);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    if (n <= 0)
        return false;
    std::string stat(text, static_cast<std::size_t>(n));
    std::size_t open = stat.find('(');
    std::size_t close = stat.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    name = stat.substr(open + 1, close - open - 1);
    return true;
}

int decimal_name(const char* text)
{
    int value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > 99999999)
            return 0;
        value = value * 10 + (*p - '0');
    }
    return value;
}

} // namespace

int find_proc_by_name(const char* name, int pid)
{
    const std::string proc = Paths::resolve("/proc");
    std::string command;
    if (pid > 0 && command_name(proc, pid, command) && command == name)
        return pid;
    DIR* dir = opendir(proc.c_str());
    if (!dir)
        return -1;
    int found = -1;
    // readdir64: on the 32-bit board a 64-bit directory offset must not end
    // the walk early with EOVERFLOW.
    while (dirent64* entry = readdir64(dir)) {
        int candidate = decimal_name(entry->d_name);
        if (candidate > 0 && command_name(proc, candidate, command) && command == name) {
            found = candidate;
            break;
        }
    }
    closedir(dir);
    return found;
}

namespace Linux
{

Run::Run(const char* name) : mPath(Paths::resolve(std::string("/var/run/") + name + ".pid"))
{
    // Never through a link: whatever it points at is not ours to truncate, and
    // a link found here is a pid file that cannot be opened (nothing is
    // written, and the stop removes nothing).
    mFd = ::open(mPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (mFd < 0)
        return;
    char text[16];
    int length = std::snprintf(text, sizeof text, "%d", static_cast<int>(getpid()));
    for (int done = 0; done < length;) {
        ssize_t n = ::write(mFd, text + done, static_cast<std::size_t>(length - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<int>(n);
    }
    fsync(mFd);
}

Run::~Run()
{
    if (mFd < 0)
        return;
    ::close(mFd);
    unlink(mPath.c_str());
}

} // namespace Linux

void timestamp(std::ostream& os)
{
    std::time_t now = std::time(nullptr);
    std::tm local;
    if (now == static_cast<std::time_t>(-1) || !localtime_r(&now, &local))
        return;
    char text[256];
    if (std::strftime(text, sizeof text, "%d/%m %H:%M:%S", &local) > 0)
        os << text;
}

namespace Console
{

void SwitchToBinaryMode()
{
    termios mode;
    std::memset(&mode, 0, sizeof mode);
    if (tcgetattr(STDIN_FILENO, &mode) != 0)
        std::cerr << "can't obtain terminal attributes" << std::endl;
    mode.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL | ISIG | ICANON);
    if (tcsetattr(STDIN_FILENO, TCSADRAIN, &mode) != 0)
        std::cerr << "can't set terminal attributes" << std::endl;
}

void SwitchToNonBlockMode()
{
    int on = 1;
    if (ioctl(STDIN_FILENO, FIONBIO, &on) != 0)
        std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

} // namespace Console
