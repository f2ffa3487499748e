#include "platform/sim/control_socket.hpp"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform
{
namespace sim
{

ControlSocket::ControlSocket(Handler handler) : mHandler(std::move(handler))
{
    mEpoll = ::epoll_create1(EPOLL_CLOEXEC);
}

ControlSocket::~ControlSocket()
{
    for (auto& c : mClients)
        ::close(c.first);
    if (mListen >= 0) {
        ::close(mListen);
        ::unlink(mPath.c_str());
    }
    if (mEpoll >= 0)
        ::close(mEpoll);
}

void ControlSocket::watch(int fd, unsigned events)
{
    epoll_event ev{};
    ev.events = events;
    ev.data.fd = fd;
    if (::epoll_ctl(mEpoll, EPOLL_CTL_ADD, fd, &ev) != 0 && errno == EEXIST)
        ::epoll_ctl(mEpoll, EPOLL_CTL_MOD, fd, &ev);
}

bool ControlSocket::listen(const std::string& path)
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
        ::unlink(mPath.c_str());
    }
    mListen = fd;
    mPath = path;
    watch(fd, EPOLLIN);
    return true;
}

void ControlSocket::service()
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
        }
    }
}

void ControlSocket::on_accept()
{
    for (;;) {
        const int fd = ::accept4(mListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        mClients[fd];
        watch(fd, EPOLLIN | EPOLLRDHUP);
    }
}

void ControlSocket::on_client(int fd, unsigned events)
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
        client.out += mHandler(line);
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

void ControlSocket::flush(int fd, Client& client)
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

void ControlSocket::drop_client(int fd)
{
    ::epoll_ctl(mEpoll, EPOLL_CTL_DEL, fd, nullptr);
    ::close(fd);
    mClients.erase(fd);
}

} // namespace sim
} // namespace platform
