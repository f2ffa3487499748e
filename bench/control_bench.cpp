// The controller link's own work per command, without the network: TPKT
// reassembly of a chunk full of frames, and one ping through the server
// (decode, dispatch to the heartbeat, encode, frame, write to a socket).
#include <benchmark/benchmark.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <iostream>
#include <string>

#include "control/heartbeat.hpp"
#include "control/tpkt.hpp"
#include "runtime/inet4.hpp"

namespace
{

class Sink : public ProtocolsList
{
public:
    Sink() { tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol)); }
    void on_message(Packet&) override { ++frames; }
    Tpkt_protocol* tpkt;
    long frames = 0;
};

void BM_TpktReassembly(benchmark::State& state)
{
    const std::string frame("\x03\x00\x00\x08\x80\x01\x05\x18", 8);
    std::string chunk;
    while (chunk.size() + frame.size() <= 65536)
        chunk += frame;
    Sink sink;
    for (auto _ : state) {
        Packet p;
        p.reserve_head(0);
        std::memcpy(p.put(static_cast<unsigned>(chunk.size())), chunk.data(), chunk.size());
        sink.tpkt->receive(p);
    }
    state.SetItemsProcessed(sink.frames);
}
BENCHMARK(BM_TpktReassembly);

class Link : public Control::ServiceNet
{
    bool ImplActivate() override { return true; }
    void ImplDeactivate() override {}
    void ImplOnDisconnect() override {}
};

void BM_ServerPing(benchmark::State& state)
{
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) {
        state.SkipWithError("socketpair");
        return;
    }
    Fd mine(sv[0]), peer(sv[1]);
    CtrlSrv::Server server;
    HeartBeatCtl heartbeat;
    server.Bind(&heartbeat);
    server.Activate(new Link);
    // A socket pair has no TCP options to set: its complaint is not measured.
    std::streambuf* old_clog = std::clog.rdbuf(nullptr);
    std::streambuf* old_cerr = std::cerr.rdbuf(nullptr);
    static_cast<Link*>(server.GetLink())->Connected(mine, INet4::Addr());
    std::clog.rdbuf(old_clog);
    std::cerr.rdbuf(old_cerr);
    const char ping[] = {'\x80', '\x01', '\x05', '\x18'};
    char drain[4096];
    long n = 0;
    for (auto _ : state) {
        server.OnMessage(ping, sizeof ping);
        if (++n % 256 == 0)
            while (::read(peer.lowlevel_fd(), drain, sizeof drain) > 0) {
            }
    }
    state.SetItemsProcessed(n);
    server.Deactivate();
}
BENCHMARK(BM_ServerPing);

} // namespace
