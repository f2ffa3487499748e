// The tests' loopback client (tests/support/loopback.hpp): it connects to a
// listener, and a socket given the port it connects to while nothing listens
// there, which the kernel connects to itself, is no listener and leaves the
// port free at once for the listener to come.
#include "tests/support/loopback.hpp"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace
{

// Closes a descriptor when the test leaves, whichever way.
struct Socket {
    explicit Socket(int descriptor = -1) : fd(descriptor) {}
    ~Socket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd;
};

// A socket bound, without SO_REUSEADDR, to 127.0.0.1:port (0: a port the
// kernel picks, stored in `port`).
int bound(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr = support::loopback(port);
    socklen_t size = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int peer_port(int fd)
{
    sockaddr_in addr{};
    socklen_t size = sizeof addr;
    return ::getpeername(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0 ? ntohs(addr.sin_port) : 0;
}

TEST(LoopbackClient, ConnectsToTheListenerOfThePort)
{
    int port = 0;
    const Socket listener(bound(port));
    ASSERT_GE(listener.fd, 0) << std::strerror(errno);
    ASSERT_EQ(0, ::listen(listener.fd, 1));
    const Socket client(support::connect_loopback(port));
    ASSERT_GE(client.fd, 0) << std::strerror(errno);
    EXPECT_EQ(port, peer_port(client.fd));
    const Socket accepted(::accept(listener.fd, nullptr, nullptr));
    ASSERT_GE(accepted.fd, 0) << std::strerror(errno);
    EXPECT_EQ(4, ::send(client.fd, "ping", 4, MSG_NOSIGNAL));
    char got[4];
    ASSERT_EQ(4, ::recv(accepted.fd, got, sizeof got, MSG_WAITALL));
    EXPECT_EQ("ping", std::string(got, sizeof got));
}

// A socket bound to the port it connects to, nothing listening there: the
// port the kernel may give a client itself. The client does not take its
// connection to itself for a listener, and leaves nothing behind on the port:
// a listener binds it at once without SO_REUSEADDR, and a client reaches that
// listener.
TEST(LoopbackClient, AConnectionToItselfIsNoListener)
{
    int port = 0;
    const int client = bound(port);
    ASSERT_GE(client, 0) << std::strerror(errno);
    const int connected = support::connect_loopback(client, port);
    const int error = errno;
    if (connected >= 0)
        ::close(connected);
    EXPECT_EQ(-1, connected) << "a connection to itself taken for a listener on " << port;
    EXPECT_EQ(ECONNREFUSED, error) << std::strerror(error);

    const Socket listener(bound(port));
    ASSERT_GE(listener.fd, 0) << "port " << port << ": " << std::strerror(errno);
    ASSERT_EQ(0, ::listen(listener.fd, 1));
    const Socket again(support::connect_loopback(port));
    ASSERT_GE(again.fd, 0) << std::strerror(errno);
    const Socket accepted(::accept(listener.fd, nullptr, nullptr));
    EXPECT_GE(accepted.fd, 0) << std::strerror(errno);
}

} // namespace
