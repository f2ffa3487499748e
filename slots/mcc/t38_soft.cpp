#include "slots/mcc/t38_soft.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <set>
#include <unistd.h>

#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "platform/paths.hpp"
#include "runtime/deferred_delete.hpp"
#include "runtime/fd.hpp"
#include "runtime/log_text.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/timer.hpp"
#include "runtime/trace.hpp"
#include "slots/join.hpp"

namespace
{

const char kProgram[] = "/usr/local/sbin/t38";

// What sees a program to its end after the call that started it. One still
// waiting when the process ends goes with the factory (its program's group
// is then killed by the child-wait service, as every program's is).
class T38Helper : public DeferredDeletable
{
public:
    T38Helper() { live.insert(this); }
    ~T38Helper() override { live.erase(this); }

    static std::set<T38Helper*> live;
};

std::set<T38Helper*> T38Helper::live;

// Sees a stopped program to its end after its slot has gone: SIGTERM now,
// SIGKILL when it is still running after the delay, so that the channel it
// holds is never kept for good.
class T38Reaper : public T38Helper
{
public:
    explicit T38Reaper(int pid) : mPid(pid)
    {
        mWait.Bind(this, &T38Reaper::OnEnd);
        mWait.Attach(pid);
        ChildWait::SignalUnreaped(pid, SIGTERM);
        mTimer.set(T38SoftFactory::kKillDelay, &T38Reaper::OnTimeOut, this);
    }

private:
    void OnEnd(int)
    {
        mTimer.reset();
        multiplexer.deferredDelete(this);
    }
    void OnTimeOut()
    {
        std::cerr << "t38 daemon[" << mPid << "] terminate timeout!" << std::endl;
        if (ChildWait::SignalUnreaped(mPid, SIGKILL))
            std::cerr << "t38 daemon isn't terminated, killing ..." << std::endl;
    }

    int mPid;
    ChildWait mWait;
    Timer mTimer;
};

// An instance query's program once its line has been read (or not): it may
// go on running, or have left something running in its process group. The
// whole group is killed kQueryWait ms after the line, at once when none came;
// a program that ends before has its group killed as it is reaped.
class T38Query : public T38Helper
{
public:
    T38Query(int pid, bool answered) : mPid(pid)
    {
        mWait.Bind(this, &T38Query::OnEnd);
        mWait.Attach(pid);
        if (answered)
            mTimer.set(T38SoftFactory::kQueryWait, &T38Query::Kill, this);
        else
            Kill();
    }

private:
    void OnEnd(int)
    {
        mTimer.reset();
        multiplexer.deferredDelete(this);
    }
    void Kill() { ChildWait::KillGroup(mPid); }

    int mPid;
    ChildWait mWait;
    Timer mTimer;
};

std::int64_t MonotonicMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Reads the first line of a program's output, at most 31 characters, as a
// line read from a stream does. True once the line (or the end of the output,
// the line then holding whatever came) has come; false when nothing ended it
// within `wait` ms. What came in the same read after the line feed is left
// in `line` behind it. The watchdog is fed around every wait through the loop's
// own ping (once a second counted with the loop's pings), so a burst of
// queries neither floods it nor pings it just after the loop did.
bool ReadLine(Fd const& from, std::string& line, int wait)
{
    const std::size_t kMax = 31;
    const std::int64_t deadline = MonotonicMs() + wait;
    while (line.size() < kMax && line.find('\n') == std::string::npos) {
        const std::int64_t left = deadline - MonotonicMs();
        if (left <= 0)
            return false;
        pollfd p{from.lowlevel_fd(), POLLIN, 0};
        multiplexer.ping_watchdog();
        const int ready = ::poll(&p, 1, int(left));
        const int error = errno;
        multiplexer.ping_watchdog();
        errno = error;
        if (ready < 0 && errno != EINTR)
            return true;
        if (ready <= 0)
            continue;
        char chunk[kMax];
        const ssize_t n = ::read(from.lowlevel_fd(), chunk, kMax - line.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return true;
        line.append(chunk, std::size_t(n));
    }
    return true;
}

} // namespace

int T38SoftFactory::queryReadWait = T38SoftFactory::kQueryWait;

T38SoftSlot::T38SoftSlot(int pid, int channel) : mChild(pid), mChannel(channel)
{
    mWait.Bind(this, &T38SoftSlot::OnT38Terminate);
    mWait.Attach(pid);
}

void T38SoftSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy()
{
    if (mChild >= 1) {
        // The end of the program is no longer this slot's: the reaper takes it.
        mWait.Detach();
        new T38Reaper(mChild);
        mChild = -1;
    }
    return true;
}

void T38SoftSlot::let_channel_go()
{
    LeaveChannel(*this, mChannel);
    // From here on the slot takes no join, and the switch refuses the channel.
    mChannel = -1;
}

void T38SoftSlot::OnT38Terminate(int status)
{
    if ((status & 0x7F) == 0)
        std::clog << *this << ": "
                  << "t38 daemon terminated with code=" << ((status >> 8) & 0xFF) << std::endl;
    else if ((status & 0xFF) != 0x7F)
        std::clog << *this << ": "
                  << "t38 daemon terminated by signal=" << (status & 0x7F) << std::endl;
    mChild = -1;
    OnAbort(status);
}

T38SoftFactory::~T38SoftFactory()
{
    while (!T38Helper::live.empty())
        delete *T38Helper::live.begin();
}

T38SoftFactory& T38SoftFactory::instance()
{
    static T38SoftFactory factory;
    return factory;
}

std::vector<std::string> T38SoftFactory::Arguments(LGCP::T38Soft const& p)
{
    std::vector<std::string> args{Paths::resolve(kProgram), "--child", "--remote"};
    args.push_back(std::string(p.get_dhost().get_iaddr()) + "/" +
                   std::to_string(p.get_dhost().get_port().getValue()) + "/" +
                   std::to_string(p.get_shost().get_port().getValue()));
    unsigned n = 0;
    for (auto const& a : p.get_args()) {
        if (n++ == kMaxArgs)
            break;
        args.push_back(a);
    }
    return args;
}

Slot* T38SoftFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.t38soft_isSelected())
        return nullptr;
    LGCP::T38Soft const& p = params.get_t38soft();
    Fd fd;
    if (!fd.open(platform::mcc::kPath, O_RDWR)) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [" << errno
                  << "]" << std::endl;
        return nullptr;
    }
    platform::mcc::Allocate allocate{
        platform::mcc::kTransparent, std::uint32_t(p.get_rx_packet_size().getValue()), 0,
        std::uint32_t(p.get_rx_threshold().getValue()), std::uint32_t(p.get_tx_threshold().getValue())};
    if (platform::board().ioctl(fd.lowlevel_fd(), platform::mcc::kAllocate, &allocate) < 0) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [" << errno
                  << "]" << std::endl;
        return nullptr;
    }
    const int channel = platform::board().ioctl(fd.lowlevel_fd(), platform::mcc::kTimeslot);
    if (channel < 0) {
        std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [" << errno
                  << "]" << std::endl;
        return nullptr;
    }
    ChannelHandedOut(channel);
    const std::vector<std::string> args = Arguments(p);
    std::vector<char*> argv;
    std::clog << "args for run t38 daemon:" << std::endl;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::clog << "arg[" << i << "]=" << ext::escaped(args[i]) << std::endl;
        argv.push_back(const_cast<char*>(args[i].c_str()));
    }
    argv.push_back(nullptr);
    const int in = fd.lowlevel_fd();
    // A group of its own: whatever it starts goes with it, and with the daemon.
    const pid_t pid = ChildWait::Fork(true);
    if (pid == 0) {
        // Only calls that are safe after fork; the child leaves with _exit,
        // so none of the daemon's destructors or stdio buffers run twice.
        if (in == 0)
            ::fcntl(0, F_SETFD, 0);
        else
            ::dup2(in, 0);
        ::execv(argv[0], argv.data());
        ::_exit(1005);
    }
    if (pid < 0)
        return nullptr;
    std::clog << "t38 daemon[" << pid << "] successfully started" << std::endl;
    return new T38SoftSlot(pid, channel);
}

void T38SoftFactory::Query(LGCP::Resources& resources)
{
    resources.set_t38_instances(QueryNumOfInstances());
}

int T38SoftFactory::QueryNumOfInstances()
{
    const std::string command = Paths::resolve(kProgram) + " --num-of-instances";
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        std::clog << "t38 daemon not found!" << std::endl;
        return 0;
    }
    Fd reader(out[0]);
    // The shell and what it starts form a group of their own, so that a
    // silent program is killed with all it runs.
    const pid_t pid = ChildWait::Fork(true);
    if (pid == 0) {
        if (out[1] == 1)
            ::fcntl(1, F_SETFD, 0);
        else
            ::dup2(out[1], 1);
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    if (pid < 0) {
        std::clog << "t38 daemon not found!" << std::endl;
        return 0;
    }
    std::string line;
    const bool answered = ReadLine(reader, line, queryReadWait);
    reader.close();
    if (!answered)
        line.clear();
    new T38Query(pid, answered);
    if (line.empty()) {
        std::clog << "t38: can't detect T38 resources" << std::endl;
        return 0;
    }
    // Only the first line counts: what follows its line feed (another line,
    // read with it) is never taken for its number.
    line.erase(std::min(line.find('\n'), line.size()));
    return std::atoi(line.c_str());
}
