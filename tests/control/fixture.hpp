#pragma once
// Shared pieces of the controller-link tests: virtual time on the global loop,
// capture of the log streams, byte helpers, sockets and link doubles.
#include <cerrno>
#include <cstring>
#include <ctime>
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

#include "control/ctrl_server.hpp"
#include "control/service.hpp"
#include "runtime/clock.hpp"
#include "runtime/fd.hpp"
#include "runtime/inet4.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/packet.hpp"
#include "runtime/timer.hpp"
#include "tests/runtime/test_util.hpp"
#include "tests/support/hex.hpp"

namespace ctltest
{

using support::hex;
using testutil::Capture;

// "03 00 00 05 FF" -> bytes
inline std::string bytes(const std::string& hex)
{
    return support::bytes<std::string>(hex);
}

// A packet's bytes; a packet holding bytes after the head room it was given.
inline std::string text(Packet& p)
{
    return std::string(reinterpret_cast<char*>(p.data()), p.length());
}

inline void fill(Packet& p, const std::string& data)
{
    if (!data.empty())
        std::memcpy(p.put(static_cast<unsigned>(data.size())), data.data(), data.size());
}

// Owns one protocol layer and records what leaves it on either side: the
// payloads going up and the frames going down as hex, and each status.
template <class Layer> class Harness : public ProtocolsList
{
public:
    explicit Harness(Layer* l) : layer(static_cast<Layer*>(add_protocol_tail(l))) {}
    void on_message(Packet& p) override
    {
        up.push_back(hex(text(p)));
        if (on_input)
            on_input();
    }
    void transmit(Packet& p) override { down.push_back(hex(text(p))); }
    void on_activated(Protocol*) override { ++activated; }
    void on_deactivated(Protocol*, Protocol_status s) override
    {
        statuses.push_back(std::string(s->success() ? "ok " : "error ") + s->message());
    }
    void feed(const std::string& chunk)
    {
        Packet p;
        ASSERT_TRUE(p.reserve_head(0));
        fill(p, chunk);
        layer->receive(p);
    }
    void send(const std::string& payload)
    {
        Packet p;
        layer->prepare_head(p);
        fill(p, payload);
        layer->message(p);
    }

    Layer* layer;
    std::function<void()> on_input;
    std::vector<std::string> up, down, statuses;
    int activated = 0;
};

// The captured text without the loop's own closing lines.
inline std::string strip_mux(std::string text)
{
    const std::string line = "Mux: terminating...\n";
    for (std::size_t at; (at = text.find(line)) != std::string::npos;)
        text.erase(at, line.size());
    return text;
}

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
        Timer timer;
        timer.set(ms, &LoopTest::stop, static_cast<LoopTest*>(this));
        multiplexer.run(false, true);
    }
    void stop() { multiplexer.terminate(); }

    // Runs the loop for `ms` on the system's clock, so that it really waits
    // (or really spins), then goes on in virtual time from where the system's
    // clock stands. Returns the share of that time the process spent on a
    // processor.
    double run_real_for(unsigned ms)
    {
        const auto now_us = [](clockid_t id) {
            timespec ts;
            ::clock_gettime(id, &ts);
            return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
        };
        Mux::setClock(nullptr);
        const std::uint64_t cpu = now_us(CLOCK_PROCESS_CPUTIME_ID), start = now_us(CLOCK_MONOTONIC);
        run_for(ms);
        const std::uint64_t end = now_us(CLOCK_MONOTONIC);
        const double share = double(now_us(CLOCK_PROCESS_CPUTIME_ID) - cpu) / double(end - start);
        mClock.set_us(end);
        Mux::setClock(&mClock);
        return share;
    }

    Mux::TestClock mClock;
};

struct SocketPair {
    Fd a, b;
    SocketPair()
    {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, sv) == 0)
            a = Fd(sv[0]), b = Fd(sv[1]);
    }
};

using testutil::connect_to;
using testutil::listener;
using testutil::TcpPair;

// A free TCP port on the loopback address (nobody else binds loopback ports
// in the test run).
inline int free_port()
{
    int port = -1;
    listener(port);
    return port;
}

// Everything readable on a socket now, without waiting.
inline std::string read_now(const Fd& fd)
{
    std::string out;
    char buf[4096];
    for (ssize_t r; (r = ::recv(fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT)) > 0;)
        out.append(buf, static_cast<std::size_t>(r));
    return out;
}

// A socket option's integer value, -1 when it cannot be read.
inline int sockopt(int fd, int level, int name)
{
    int value = -1;
    socklen_t len = sizeof value;
    ::getsockopt(fd, level, name, &value, &len);
    return value;
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

// Takes every buffer of the pool for its lifetime.
struct EmptyPool {
    std::vector<Packet> held{PacketPool::available()};
    EmptyPool()
    {
        for (Packet& p : held)
            EXPECT_TRUE(p.reserve_head(0));
    }
    // One buffer back to the pool.
    void give_one() { held.pop_back(); }
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

// A controller server whose controller connects over a loopback pair once
// the services are bound; the connection's log line is returned.
struct ServerRig {
    CtrlSrv::Server server;
    TcpPair pair;
    std::string connect()
    {
        server.Activate(new NullLink);
        Capture clog(std::clog);
        static_cast<NullLink*>(server.GetLink())->Connected(pair.server, pair.peer);
        pair.server.close();
        return clog.text();
    }
    ~ServerRig() { server.Deactivate(); }
    // Feeds one payload and returns the frames written, as hex.
    std::string request(const std::string& payload_hex)
    {
        const std::string payload = bytes(payload_hex);
        server.OnMessage(payload.data(), static_cast<int>(payload.size()));
        return hex(read_now(pair.client));
    }
};

} // namespace ctltest
