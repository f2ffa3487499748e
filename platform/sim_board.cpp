#include "platform/sim_board.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform
{

namespace
{

const char* const kKnownDevices[] = {"/dev/misc/gw-wd", "/dev/hal"};

// A control line longer than this is no command: the client is dropped.
const std::size_t kMaxLine = 4096;
// Larger than any record a driver takes.
const std::size_t kMaxRecord = 65536;

const char kHelp[] = "help\n"
                     "device <path> present|missing\n"
                     "devices\n"
                     "journal\n"
                     "clear\n"
                     "event <path> <hex bytes>\n";

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

SimBoard::SimBoard()
{
    for (const char* path : kKnownDevices)
        mDevices[path].present = true;
    mEpoll = ::epoll_create1(EPOLL_CLOEXEC);
}

SimBoard::~SimBoard()
{
    if (&board() == this)
        setBoard(nullptr);
    for (auto& c : mClients)
        ::close(c.first);
    for (auto& c : mChannels)
        ::close(c.first);
    if (mListen >= 0) {
        ::close(mListen);
        ::unlink(mSocketPath.c_str());
    }
    if (mEpoll >= 0)
        ::close(mEpoll);
}

void SimBoard::record(const std::string& line)
{
    mJournal.push_back(line);
    while (mJournal.size() > kJournalLimit)
        mJournal.pop_front();
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
    const int daemon_end = ends[0], driver_end = ends[1];
    if (flags & O_NONBLOCK)
        ::fcntl(daemon_end, F_SETFL, ::fcntl(daemon_end, F_GETFL) | O_NONBLOCK);
    ::fcntl(driver_end, F_SETFL, ::fcntl(driver_end, F_GETFL) | O_NONBLOCK);
    Channel& channel = mChannels[driver_end];
    channel.path = path;
    channel.inode = inode_of(daemon_end);
    watch(driver_end, EPOLLIN | EPOLLRDHUP);
    record(std::string("open ") + path);
    return daemon_end;
}

int SimBoard::ioctl(int fd, unsigned long request, void*)
{
    const ino_t inode = inode_of(fd);
    for (auto& c : mChannels) {
        if (inode != 0 && c.second.inode == inode) {
            char text[32];
            std::snprintf(text, sizeof text, " 0x%08lX", request);
            record("ioctl " + c.second.path + text);
            return 0;
        }
    }
    errno = ENOTTY;
    return -1;
}

void SimBoard::set_present(const std::string& path, bool present)
{
    mDevices[path].present = present;
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

unsigned SimBoard::inject(const std::string& path, const std::vector<unsigned char>& data)
{
    unsigned n = 0;
    for (auto& c : mChannels) {
        if (c.second.path != path)
            continue;
        if (::send(c.first, data.data(), data.size(), MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(data.size()))
            ++n;
    }
    return n;
}

bool SimBoard::listen(const std::string& path)
{
    sockaddr_un addr{};
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        errno = ENAMETOOLONG;
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    // Only a socket left by an earlier run is replaced, never another file.
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
        ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    if (mListen >= 0) {
        ::close(mListen);
        ::unlink(mSocketPath.c_str());
    }
    mListen = fd;
    mSocketPath = path;
    watch(fd, EPOLLIN);
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

std::string SimBoard::execute(const std::string& line)
{
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "help")
        return std::string(kHelp) + "ok\n";
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
    if (command.empty())
        return "error empty command\n";
    return "error unknown command " + command + "\n";
}

void SimBoard::service()
{
    epoll_event events[16];
    for (;;) {
        const int n = ::epoll_wait(mEpoll, events, 16, 0);
        if (n <= 0)
            return;
        for (int i = 0; i < n; ++i) {
            const int fd = events[i].data.fd;
            if (fd == mListen)
                on_accept();
            else if (mClients.count(fd))
                on_client(fd, events[i].events);
            else if (mChannels.count(fd))
                on_channel(fd, events[i].events);
        }
    }
}

void SimBoard::on_accept()
{
    for (;;) {
        const int fd = ::accept4(mListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        mClients[fd];
        watch(fd, EPOLLIN | EPOLLRDHUP);
    }
}

void SimBoard::on_client(int fd, unsigned events)
{
    if (events & EPOLLOUT) {
        flush(fd, mClients[fd]);
        // A failed write lets the client go.
        if (!mClients.count(fd))
            return;
    }
    if (!(events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR)))
        return;
    Client& client = mClients[fd];
    char buf[1024];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            client.in.append(buf, std::size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        // End of input: answer what came complete, then let go.
        client.closing = true;
        break;
    }
    std::size_t start = 0, end;
    while ((end = client.in.find('\n', start)) != std::string::npos) {
        std::string line = client.in.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        client.out += execute(line);
        start = end + 1;
    }
    client.in.erase(0, start);
    if (client.in.size() > kMaxLine) {
        client.out += "error line too long\n";
        client.in.clear();
        client.closing = true;
    }
    flush(fd, client);
}

void SimBoard::flush(int fd, Client& client)
{
    while (!client.out.empty()) {
        const ssize_t n = ::send(fd, client.out.data(), client.out.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            client.out.erase(0, std::size_t(n));
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            watch(fd, EPOLLIN | EPOLLRDHUP | EPOLLOUT);
            return;
        }
        drop_client(fd);
        return;
    }
    if (client.closing) {
        drop_client(fd);
        return;
    }
    watch(fd, EPOLLIN | EPOLLRDHUP);
}

void SimBoard::drop_client(int fd)
{
    ::epoll_ctl(mEpoll, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    mClients.erase(fd);
}

void SimBoard::on_channel(int fd, unsigned events)
{
    const std::string path = mChannels[fd].path;
    if (events & EPOLLIN) {
        std::vector<unsigned char> buf(kMaxRecord);
        for (;;) {
            const ssize_t n = ::recv(fd, buf.data(), buf.size(), 0);
            if (n > 0) {
                record("write " + path + " " + describe(buf.data(), std::size_t(n)));
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

void SimBoard::drop_channel(int fd)
{
    record("close " + mChannels[fd].path);
    ::epoll_ctl(mEpoll, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    mChannels.erase(fd);
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
