#pragma once
// A UDP socket on the loopback that stands for the remote end of an RTP
// stream: it listens on the RTCP port, one above the stream's RTP port.
#include <arpa/inet.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "tests/support/hex.hpp"

namespace slotstest
{

class UdpPeer
{
public:
    explicit UdpPeer(int wait_s = 5) : mFd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t n = sizeof a;
        const bool bound = ::bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                           ::getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &n) == 0;
        port = bound ? ntohs(a.sin_port) : 0;
        timeval tv{wait_s, 0};
        ::setsockopt(mFd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~UdpPeer() { ::close(mFd); }
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    // The next datagram in hex, or "nothing" after the wait.
    std::string receive()
    {
        char buffer[2048];
        const ssize_t n = ::recv(mFd, buffer, sizeof buffer, 0);
        return n < 0 ? "nothing" : support::hex(std::vector<char>(buffer, buffer + n));
    }
    // A port free now: the gateway's own RTCP socket can take it.
    static unsigned free_port() { return UdpPeer().port; }

    unsigned port;

private:
    int mFd;
};

} // namespace slotstest
