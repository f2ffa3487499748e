#pragma once
// Shared pieces of the controller-link tests: virtual time on the global loop,
// capture of the three log streams, byte helpers and socket pairs.
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "control/service.hpp"
#include "runtime/clock.hpp"
#include "runtime/fd.hpp"
#include "runtime/inet4.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/timer.hpp"

namespace ctltest
{

class Capture
{
public:
    explicit Capture(std::ostream& os) : mOs(os), mOld(os.rdbuf(mBuf.rdbuf())) {}
    ~Capture() { mOs.rdbuf(mOld); }
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;
    std::string text() const { return mBuf.str(); }
    void clear() { mBuf.str(std::string()); }

private:
    std::ostream& mOs;
    std::ostringstream mBuf;
    std::streambuf* mOld;
};

// "03 00 00 05 FF" -> bytes, and back.
inline std::string bytes(const std::string& hex)
{
    std::string out;
    std::istringstream in(hex);
    unsigned b;
    while (in >> std::hex >> b)
        out.push_back(static_cast<char>(b));
    return out;
}

inline std::string hex(const std::string& data)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : data) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// The captured text without the loop's own closing lines.
inline std::string strip_mux(std::string text)
{
    const std::string line = "Mux: terminating...\n";
    for (std::size_t at; (at = text.find(line)) != std::string::npos;)
        text.erase(at, line.size());
    return text;
}

// Stops the loop after a given virtual time.
class Stopper
{
public:
    void arm(unsigned ms) { mTimer.set(ms, &Stopper::fire, this); }
    void fire() { multiplexer.terminate(); }

private:
    Timer mTimer;
};

class LoopTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        mClock.set_ms(1000000);
        Mux::setClock(&mClock);
    }
    void TearDown() override { Mux::setClock(nullptr); }

    // Runs the loop for `ms` of virtual time; descriptors that are ready are
    // served on the way, waits with nothing ready are skipped.
    void run_for(unsigned ms)
    {
        Stopper stop;
        stop.arm(ms);
        multiplexer.run(false, true);
    }

    Mux::TestClock mClock;
};

struct SocketPair {
    Fd a, b;
    SocketPair()
    {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv) == 0) {
            a = Fd(sv[0]);
            b = Fd(sv[1]);
        }
    }
};

// A free TCP port on the loopback address (free when asked; nobody else
// binds loopback ports in the test run).
inline int free_port()
{
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    INet4::Addr a;
    a.Assign("127.0.0.1:0", nullptr);
    if (::bind(s.lowlevel_fd(), a, a.size()) != 0)
        return -1;
    socklen_t len = a.size();
    ::getsockname(s.lowlevel_fd(), a, &len);
    return a.port();
}

// A blocking client connected to 127.0.0.1:port, or an invalid Fd.
inline Fd connect_to(int port)
{
    Fd s(::socket(AF_INET, SOCK_STREAM, 0));
    INet4::Addr a;
    a.Assign("127.0.0.1", nullptr);
    a.port(static_cast<unsigned short>(port));
    if (::connect(s.lowlevel_fd(), a, a.size()) != 0)
        return Fd();
    return s;
}

// Everything readable on a socket now, without waiting.
inline std::string read_now(const Fd& fd)
{
    std::string out;
    char buf[4096];
    for (;;) {
        const ssize_t r = ::recv(fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
        if (r <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(r));
    }
    return out;
}

// True when the peer has closed the connection (a read sees the end).
inline bool peer_closed(const Fd& fd)
{
    char c;
    const ssize_t r = ::recv(fd.lowlevel_fd(), &c, 1, MSG_DONTWAIT);
    return r == 0 || (r < 0 && errno == ECONNRESET);
}

inline void send_all(const Fd& fd, const std::string& data)
{
    ASSERT_EQ(::send(fd.lowlevel_fd(), data.data(), data.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(data.size()));
}

// A connected TCP pair over loopback: `client` is the remote end, `server`
// the accepted socket (non-blocking) with its peer address.
struct TcpPair {
    Fd client, server;
    INet4::Addr peer;
    TcpPair()
    {
        Fd listener(::socket(AF_INET, SOCK_STREAM, 0));
        INet4::Addr a;
        a.Assign("127.0.0.1:0", nullptr);
        if (::bind(listener.lowlevel_fd(), a, a.size()) != 0 || ::listen(listener.lowlevel_fd(), 1) != 0)
            return;
        socklen_t len = a.size();
        ::getsockname(listener.lowlevel_fd(), a, &len);
        client = connect_to(a.port());
        len = peer.size();
        server = Fd(::accept(listener.lowlevel_fd(), peer, &len));
        server.NonBlock();
    }
};

// A link whose connections the test hands over itself.
class NullLink : public Control::ServiceNet
{
    bool ImplActivate() override { return true; }
    void ImplDeactivate() override {}
    void ImplOnDisconnect() override {}
};

// Records what a link reports, payloads in hex.
class Consumer : public Control::Notify
{
public:
    void OnConnect() override { log.push_back("connect"); }
    void OnDisconnect() override { log.push_back("disconnect"); }
    void OnMessage(char const* data, int length) override
    {
        log.push_back("message " + hex(std::string(data, static_cast<std::size_t>(length))));
        if (on_message)
            on_message();
    }
    std::vector<std::string> log;
    std::function<void()> on_message;
};

} // namespace ctltest
