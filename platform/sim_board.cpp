#include "platform/sim_board.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <sstream>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include "platform/devices.hpp"
#include "platform/sim/control_socket.hpp"
#include "platform/sim/dsp_model.hpp"
#include "platform/sim/dtmf_model.hpp"
#include "platform/sim/e1cas_model.hpp"
#include "platform/sim/hal_model.hpp"
#include "platform/sim/maintenance_model.hpp"
#include "platform/sim/mcc_model.hpp"
#include "platform/sim/mctl_model.hpp"
#include "platform/sim/mixer_model.hpp"
#include "platform/sim/netif_model.hpp"
#include "platform/sim/rtp_model.hpp"
#include "platform/sim/voice_model.hpp"
#include "platform/sim/watchdog_model.hpp"

namespace platform
{

namespace
{

// Larger than any record a driver takes.
const std::size_t kMaxRecord = 65536;

// The first number of the range handed-out descriptors are moved to: half the
// descriptor limit, at most 1024; none (every request is routed by identity)
// when the limit leaves no room for one.
int reservedRange()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < 64)
        return -1;
    return int(std::min<rlim_t>(limit.rlim_cur / 2, 1024));
}

const char kHelp[] = "help\n"
                     "device <path> present|missing\n"
                     "devices\n"
                     "journal\n"
                     "clear\n"
                     "event <path> <hex bytes>\n"
                     "hangup <path>\n"
                     "fail <path> <request> <errno>|off [<times>]\n";

// A socket's identity, shared by all its duplicates; 0 for anything else.
ino_t inode_of(int fd)
{
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return 0;
    return st.st_ino;
}

std::string describe(const unsigned char* data, std::size_t n)
{
    bool printable = n > 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (data[i] < 0x20 || data[i] > 0x7e)
            printable = false;
    }
    if (printable)
        return std::string(reinterpret_cast<const char*>(data), n);
    std::string text = "[";
    char byte[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", data[i]);
        text += byte;
    }
    return text + "]";
}

std::string requestNumber(unsigned long request)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", request);
    return text;
}

// "01 a0 FF" or "01a0ff"; false on anything else or nothing at all.
bool parse_hex(const std::string& text, std::vector<unsigned char>& out)
{
    out.clear();
    int high = -1;
    for (char c : text) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c == ' ' || c == '\t') {
            if (high >= 0)
                return false;
            continue;
        } else
            return false;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<unsigned char>(high << 4 | v));
            high = -1;
        }
    }
    return high < 0 && !out.empty();
}

} // namespace

SimBoard::SimBoard() : mFirstHanded(reservedRange())
{
    mEpoll = ::epoll_create1(EPOLL_CLOEXEC);
    mTimer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    watch(mTimer, EPOLLIN);
    add(std::unique_ptr<sim::DeviceModel>(new sim::WatchdogModel));
    add(std::unique_ptr<sim::DeviceModel>(new sim::HalModel));
    add(std::unique_ptr<sim::DeviceModel>(new sim::DtmfModel));
    add(std::unique_ptr<sim::DeviceModel>(new sim::DspModel));
    add(std::unique_ptr<sim::DeviceModel>(new sim::RtpModel));
    add(std::unique_ptr<sim::DeviceModel>(new sim::VoiceModel));
    // Drivers that a board may lack: missing until a command makes them present.
    add(std::unique_ptr<sim::DeviceModel>(new sim::MaintenanceModel));
    add(std::unique_ptr<sim::DeviceModel>(new sim::E1CasModel));
    add(std::unique_ptr<sim::DeviceModel>(new sim::MccModel));
    set_present(maintenance::kPath, false);
    set_present(e1cas::kPath, false);
    set_present(mcc::kPath, false);
    // The modem control device stays missing until a command makes it present.
    add(std::unique_ptr<sim::DeviceModel>(new sim::MctlModel));
    set_present(mctl::kPath, false);
    add(std::unique_ptr<sim::DeviceModel>(new sim::NetifModel));
    // A board without the conference mixer until a command puts it there.
    add(std::unique_ptr<sim::DeviceModel>(new sim::MixerModel));
    set_present(mixer::kPath, false);
}

int SimBoard::interface_socket()
{
    return open(netif::kSocket, O_RDWR);
}

SimBoard::~SimBoard()
{
    if (&board() == this)
        setBoard(nullptr);
    mControl.reset();
    for (auto& c : mChannels)
        ::close(c.first);
    if (mTimer >= 0)
        ::close(mTimer);
    if (mEpoll >= 0)
        ::close(mEpoll);
}

void SimBoard::add(std::unique_ptr<sim::DeviceModel> model)
{
    model->attach(this);
    Device& d = mDevices[model->path()];
    d.present = true;
    d.model = std::move(model);
}

sim::DeviceModel* SimBoard::model(const std::string& path)
{
    auto it = mDevices.find(path);
    return it == mDevices.end() ? nullptr : it->second.model.get();
}

SimBoard::Device& SimBoard::device(const std::string& path)
{
    Device& d = mDevices[path];
    if (!d.model) {
        d.model.reset(new sim::PlainModel(path));
        d.model->attach(this);
    }
    return d;
}

void SimBoard::record(const std::string& line)
{
    sim::appendToHistory(mJournal, line, kJournalLimit);
}

std::uint64_t SimBoard::now() const
{
    if (mClock)
        return mClock();
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1000 + std::uint64_t(ts.tv_nsec) / 1000000;
}

void SimBoard::watch(int fd, unsigned events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    if (::epoll_ctl(mEpoll, EPOLL_CTL_ADD, fd, &ev) != 0 && errno == EEXIST)
        ::epoll_ctl(mEpoll, EPOLL_CTL_MOD, fd, &ev);
}

int SimBoard::open(const char* path, int flags)
{
    auto it = mDevices.find(path);
    if (it == mDevices.end() || !it->second.present) {
        record(std::string("open ") + path + " missing");
        errno = ENOENT;
        return -1;
    }
    int ends[2];
    const int type = SOCK_SEQPACKET | SOCK_CLOEXEC;
    if (::socketpair(AF_UNIX, type, 0, ends) != 0)
        return -1;
    int daemon_end = ends[0];
    const int driver_end = ends[1];
    if (const int refused = it->second.model->open(driver_end, flags)) {
        ::close(daemon_end);
        ::close(driver_end);
        record(std::string("open ") + path + " -> " + sim::errnoName(refused));
        errno = refused;
        return -1;
    }
    if (mFirstHanded >= 0) {
        const int moved = ::fcntl(daemon_end, F_DUPFD_CLOEXEC, mFirstHanded);
        if (moved >= 0) {
            ::close(daemon_end);
            daemon_end = moved;
        }
    }
    if (flags & O_NONBLOCK)
        ::fcntl(daemon_end, F_SETFL, ::fcntl(daemon_end, F_GETFL) | O_NONBLOCK);
    ::fcntl(driver_end, F_SETFL, ::fcntl(driver_end, F_GETFL) | O_NONBLOCK);
    Channel& channel = mChannels[driver_end];
    channel.path = path;
    channel.device = &it->second;
    channel.inode = inode_of(daemon_end);
    channel.end = driver_end;
    if (mFirstHanded >= 0 && daemon_end >= mFirstHanded) {
        channel.handed = daemon_end;
        handed(daemon_end) = &channel;
    }
    watch(driver_end, EPOLLIN | EPOLLRDHUP);
    record(std::string("open ") + path);
    return daemon_end;
}

const SimBoard::Channel*& SimBoard::handed(int fd)
{
    const std::size_t at = std::size_t(fd - mFirstHanded);
    if (at >= mHanded.size())
        mHanded.resize(at + 1, nullptr);
    return mHanded[at];
}

const SimBoard::Channel* SimBoard::channel_of(int fd) const
{
    if (mFirstHanded >= 0 && fd >= mFirstHanded) {
        const std::size_t at = std::size_t(fd - mFirstHanded);
        if (at < mHanded.size() && mHanded[at])
            return mHanded[at];
    }
    const ino_t inode = inode_of(fd);
    for (auto& c : mChannels) {
        if (inode != 0 && c.second.inode == inode)
            return &c.second;
    }
    return nullptr;
}

int SimBoard::request_word(int fd, unsigned long request, std::uintptr_t arg)
{
    const Channel* found = channel_of(fd);
    if (!found) {
        // Not a descriptor of the board: what the kernel says of it.
        errno = fd < 0 ? EBADF : ENOTTY;
        return -1;
    }
    const Channel& c = *found;
    const int channel = c.end;
    const std::string& path = c.path;
    sim::DeviceModel& model = *c.device->model;
    auto rule = mFailures.empty() ? mFailures.end() : mFailures.find({path, request});
    const bool quiet = rule == mFailures.end() && model.quiet(request, arg);
    auto describe = [&] {
        std::string text = model.decode(request, arg);
        return text.empty() ? requestNumber(request) : text;
    };
    // The request as the daemon passed it, before the driver fills anything in.
    std::string text = quiet ? std::string() : describe();
    sim::Reply reply;
    if (rule != mFailures.end()) {
        reply = sim::failure(rule->second.error);
        if (rule->second.times > 0 && --rule->second.times == 0)
            mFailures.erase(rule);
    } else {
        reply = model.ioctl(channel, request, arg);
    }
    if (!reply.error && reply.hold)
        hold(fd, reply.hold);
    if (quiet && !reply.error)
        return reply.result;
    std::string line = "ioctl ";
    line.append(path).append(" ").append(quiet ? describe() : text).append(" -> ");
    if (reply.error) {
        record(line.append("-1 ").append(sim::errnoName(reply.error)));
        errno = reply.error;
        return -1;
    }
    record(line.append(std::to_string(reply.result)).append(reply.out));
    return reply.result;
}

void SimBoard::hold(int fd, std::size_t bytes)
{
    // The daemon's end queues what it writes against its send buffer: the
    // kernel keeps twice the value given, lets a record use all of it but 32
    // bytes, and takes another record only while what is queued, each record
    // counted with its bookkeeping (a few hundred bytes more than the record),
    // is less than the buffer; it reports the descriptor writable only while
    // that is at most a quarter of the buffer. So one record of `bytes` fills it;
    // smaller records, with less bookkeeping each, fill it a few at a time.
    const int value = int((bytes + 32 + 1) / 2);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &value, sizeof value);
}

void SimBoard::fail(const std::string& path, unsigned long request, int error, int times)
{
    if (error == 0 || times == 0)
        mFailures.erase({path, request});
    else
        mFailures[{path, request}] = FailRule{error, times};
}

void SimBoard::set_present(const std::string& path, bool present)
{
    device(path).present = present;
}

bool SimBoard::present(const std::string& path) const
{
    auto it = mDevices.find(path);
    return it != mDevices.end() && it->second.present;
}

unsigned SimBoard::open_count(const std::string& path) const
{
    unsigned n = 0;
    for (auto& c : mChannels) {
        if (c.second.path == path)
            ++n;
    }
    return n;
}

std::vector<sim::Channel> SimBoard::channels(const std::string& path) const
{
    std::vector<sim::Channel> out;
    for (auto& c : mChannels) {
        if (c.second.path == path)
            out.push_back(c.first);
    }
    return out;
}

bool SimBoard::send(sim::Channel channel, const sim::Bytes& data)
{
    return ::send(channel, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(data.size());
}

unsigned SimBoard::inject(const std::string& path, const std::vector<unsigned char>& data)
{
    unsigned n = 0;
    for (sim::Channel c : channels(path))
        n += send(c, data) ? 1 : 0;
    return n;
}

unsigned SimBoard::hangup(const std::string& path)
{
    unsigned n = 0;
    for (sim::Channel c : channels(path)) {
        // What the daemon wrote before is the driver's yet; a descriptor the
        // daemon has closed meanwhile is closed, not hung up.
        poll_channel(c);
        if (!mChannels.count(c))
            continue;
        drop_channel(c, "hangup ");
        ++n;
    }
    return n;
}

bool SimBoard::listen(const std::string& path)
{
    std::unique_ptr<sim::ControlSocket> control(
        new sim::ControlSocket([this](const std::string& line) { return execute(line); }));
    if (!control->listen(path))
        return false;
    if (mControl)
        ::epoll_ctl(mEpoll, EPOLL_CTL_DEL, mControl->pollable_fd(), nullptr);
    mControl = std::move(control);
    watch(mControl->pollable_fd(), EPOLLIN);
    return true;
}

bool SimBoard::load(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const std::string answer = execute(line);
        if (answer.compare(0, 5, "error") == 0 || answer.find("\nerror") != std::string::npos)
            std::cerr << "simboard: " << path << ": " << line << ": " << answer.substr(answer.rfind("error"));
    }
    return true;
}

std::string SimBoard::help() const
{
    std::string text = kHelp;
    for (auto& d : mDevices)
        text += d.second.model ? d.second.model->usage() : std::string();
    return text;
}

std::string SimBoard::execute_fail(std::istringstream& in)
{
    const char usage[] = "error usage: fail <path> <request> <errno>|off [<times>]\n";
    std::string path, name, error, times, extra;
    in >> path >> name >> error >> times >> extra;
    auto it = mDevices.find(path);
    if (it == mDevices.end() || !it->second.model || error.empty() || !extra.empty())
        return usage;
    unsigned long request = 0;
    bool known = false;
    for (auto& r : it->second.model->requests()) {
        if (name == r.first) {
            request = r.second;
            known = true;
        }
    }
    // Request numbers use all 32 bits: beyond a 32-bit long on the board.
    char* end = nullptr;
    errno = 0;
    const unsigned long number = name.empty() ? 0 : std::strtoul(name.c_str(), &end, 0);
    if (!known && !name.empty() && name[0] != '-' && errno == 0 && *end == '\0') {
        request = number;
        known = true;
    }
    int code = 0;
    long count = -1;
    if (!known || (error != "off" && !sim::parseErrno(error, code)) ||
        (!times.empty() && (!sim::parseNumber(times, count) || count <= 0)))
        return usage;
    fail(path, request, code, int(count));
    return "ok\n";
}

std::string SimBoard::execute(const std::string& line)
{
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "help")
        return help() + "ok\n";
    if (command == "device") {
        std::string path, state, extra;
        in >> path >> state >> extra;
        if (path.empty() || path[0] != '/' || !extra.empty() || (state != "present" && state != "missing"))
            return "error usage: device <path> present|missing\n";
        set_present(path, state == "present");
        return "ok\n";
    }
    if (command == "devices") {
        std::string out;
        for (auto& d : mDevices) {
            out += d.first + (d.second.present ? " present" : " missing") +
                   " open=" + std::to_string(open_count(d.first)) + "\n";
        }
        return out + "ok\n";
    }
    if (command == "journal") {
        std::string out;
        for (auto& l : mJournal)
            out += l + "\n";
        return out + "ok\n";
    }
    if (command == "clear") {
        mJournal.clear();
        return "ok\n";
    }
    if (command == "event") {
        std::string path, rest;
        in >> path;
        std::getline(in, rest);
        std::vector<unsigned char> data;
        if (path.empty() || !parse_hex(rest, data))
            return "error usage: event <path> <hex bytes>\n";
        if (inject(path, data) == 0)
            return "error " + path + " not open\n";
        return "ok\n";
    }
    if (command == "hangup") {
        std::string path, extra;
        in >> path >> extra;
        if (path.empty() || !extra.empty())
            return "error usage: hangup <path>\n";
        if (hangup(path) == 0)
            return "error " + path + " not open\n";
        return "ok\n";
    }
    if (command == "fail")
        return execute_fail(in);
    if (command.empty())
        return "error empty command\n";
    for (auto& d : mDevices) {
        if (d.second.model && command == d.second.model->word())
            return d.second.model->execute(in);
    }
    return "error unknown command " + command + "\n";
}

void SimBoard::service()
{
    resume_due();
    epoll_event events[16];
    for (;;) {
        const int n = ::epoll_wait(mEpoll, events, 16, 0);
        if (n <= 0)
            return;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == mTimer) {
                std::uint64_t expired;
                while (::read(mTimer, &expired, sizeof expired) > 0) {
                }
                resume_due();
            } else if (mControl && fd == mControl->pollable_fd()) {
                // What the daemon wrote before a command came is journalled
                // before the command is answered.
                drain_channels();
                mControl->service();
            } else if (mChannels.count(fd))
                on_channel(fd, events[i].events);
        }
    }
}

void SimBoard::drain_channels()
{
    std::vector<int> fds;
    for (auto& c : mChannels)
        fds.push_back(c.first);
    for (int fd : fds)
        poll_channel(fd);
}

void SimBoard::poll_channel(int fd)
{
    pollfd p{fd, POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0 || !mChannels.count(fd))
        return;
    unsigned events = 0;
    events |= (p.revents & POLLIN) ? unsigned(EPOLLIN) : 0u;
    events |= (p.revents & POLLRDHUP) ? unsigned(EPOLLRDHUP) : 0u;
    events |= (p.revents & POLLHUP) ? unsigned(EPOLLHUP) : 0u;
    events |= (p.revents & POLLERR) ? unsigned(EPOLLERR) : 0u;
    on_channel(fd, events);
}

void SimBoard::on_channel(int fd, unsigned events)
{
    const std::string path = mChannels[fd].path;
    if (events & EPOLLIN) {
        std::vector<unsigned char> buf(kMaxRecord);
        for (;;) {
            const std::uint64_t at = mDevices[path].model->takes_next_at(fd);
            if (at > now()) {
                pause(fd, at);
                break;
            }
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n > 0) {
                record("write " + path + " " + describe(buf.data(), std::size_t(n)));
                mDevices[path].model->write(fd, sim::Bytes(buf.begin(), buf.begin() + n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                break;
            if (n == 0 && !(events & (EPOLLRDHUP | EPOLLHUP))) {
                // An empty record, not the end: that shows as a hang-up.
                record("write " + path + " []");
                break;
            }
            // Every duplicate of the daemon's end is closed.
            drop_channel(fd);
            return;
        }
    }
    if (events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR))
        drop_channel(fd);
}

void SimBoard::drop_channel(int fd, const char* why)
{
    const std::string path = mChannels[fd].path;
    record(why + path);
    ::epoll_ctl(mEpoll, EPOLL_CTL_DEL, fd, nullptr);
    mPaused.erase(fd);
    // The number may already be another open's.
    const int number = mChannels[fd].handed;
    if (number >= 0 && handed(number) == &mChannels[fd])
        handed(number) = nullptr;
    mChannels.erase(fd);
    mDevices[path].model->close(fd);
    ::close(fd);
}

void SimBoard::pause(int fd, std::uint64_t at)
{
    // Only the last close is watched meanwhile.
    mPaused[fd] = at;
    watch(fd, EPOLLRDHUP);
    arm_timer();
}

void SimBoard::resume_due()
{
    if (mPaused.empty())
        return;
    const std::uint64_t time = now();
    std::vector<int> due;
    for (auto& p : mPaused) {
        if (p.second <= time)
            due.push_back(p.first);
    }
    for (int fd : due) {
        mPaused.erase(fd);
        watch(fd, EPOLLIN | EPOLLRDHUP);
        poll_channel(fd);
    }
    arm_timer();
}

void SimBoard::arm_timer()
{
    itimerspec spec{};
    if (!mPaused.empty()) {
        std::uint64_t first = mPaused.begin()->second;
        for (auto& p : mPaused)
            first = std::min(first, p.second);
        const std::uint64_t time = now();
        const std::uint64_t ms = first > time ? first - time : 1;
        spec.it_value.tv_sec = time_t(ms / 1000);
        spec.it_value.tv_nsec = long(ms % 1000) * 1000000;
    }
    ::timerfd_settime(mTimer, 0, &spec, nullptr);
}

SimBoard* installSimBoardFromEnvironment()
{
    const char* value = std::getenv("QUELVAD_SIM");
    if (!value || !*value)
        return nullptr;
    SimBoard* sim = new SimBoard;
    const std::string path = value;
    sim->load(path + ".init");
    if (!sim->listen(path)) {
        const int error = errno;
        std::cerr << "simboard: can't listen on " << path << ": " << std::strerror(error) << std::endl;
    }
    setBoard(sim);
    return sim;
}

} // namespace platform
