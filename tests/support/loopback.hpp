#pragma once
// The one way the tests and the benchmarks connect to a port on the loopback.
//
// While nothing listens on a port, a socket that connects to it may be given
// that very port as its own: the kernel walks the ephemeral range from a point
// every network namespace shares, and the fixed authentication port 52000 and
// the free ports the tests pick for the daemon both lie in that range. The SYN
// then meets its own socket, the simultaneous open completes, and connect()
// succeeds with the socket at both ends. Such a client takes itself for the
// listener it waits for, and its close leaves the port in TIME_WAIT for a
// minute, where the program that was to listen there cannot bind it. So a
// connection to itself is dropped at once with a reset, which leaves nothing
// behind, and counts as nothing listening.
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace support
{

// 127.0.0.1:port.
inline sockaddr_in loopback(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<unsigned short>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

// True when the connected socket's peer is the socket itself: the same
// address and port at both ends.
inline bool self_connected(int fd)
{
    sockaddr_in local{}, peer{};
    socklen_t local_size = sizeof local, peer_size = sizeof peer;
    return ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) == 0 &&
           ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) == 0 &&
           local.sin_addr.s_addr == peer.sin_addr.s_addr && local.sin_port == peer.sin_port;
}

// Closes a connection with a reset instead of the closing handshake, so that
// no TIME_WAIT holds its port afterwards.
inline void reset_close(int fd)
{
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

// Connects the TCP socket `fd` (blocking) to 127.0.0.1:port and returns it
// connected to a listener there. Otherwise the socket is closed and the
// result is -1, with errno telling why (ECONNREFUSED for a connection to
// itself).
inline int connect_loopback(int fd, int port)
{
    if (fd < 0)
        return -1;
    const sockaddr_in to = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    if (!self_connected(fd))
        return fd;
    reset_close(fd);
    errno = ECONNREFUSED;
    return -1;
}

// A new socket (blocking, close-on-exec) connected to a listener on
// 127.0.0.1:port, or -1.
inline int connect_loopback(int port)
{
    return connect_loopback(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), port);
}

} // namespace support
