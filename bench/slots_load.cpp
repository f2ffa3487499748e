// Slot commands against the real daemon over loopback: a window of trunk
// slots is created, joined in pairs, detached and destroyed, all written at
// once, then every answer and stream signal is read and compared byte for
// byte with what the window must bring back. The switch requests go to the
// simulated board, so this measures the daemon's own work per command. A lost,
// wrong or reordered answer fails the run (exit status 1); signals that answer
// no command of the window (the line interfaces' status reports) are counted
// apart.
//
//   bench_slots_load [--port=N] [benchmark options]
//
// With --port it talks to a daemon already running on 127.0.0.1:N (on the
// simulated board, without slots); without, it starts the daemon
// (QUELVAD_BINARY from the environment, else the one it was built with) under
// a private root and stops it at the end.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/controller.hpp"
#include "tests/support/loopback.hpp"

namespace
{

using Bytes = std::vector<unsigned char>;

const int kAnswerLimitMs = 5000;

void append(Bytes& out, LGCP::Message const& m)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    std::vector<char> octets;
    ASN1::encode(m, &env, std::back_inserter(octets));
    const std::size_t n = octets.size() + 4;
    out.push_back(0x03);
    out.push_back(0x00);
    out.push_back(static_cast<unsigned char>(n >> 8));
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), octets.begin(), octets.end());
}

void command(Bytes& out, int seq, unsigned slot, LGCP::Command const& c)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(slot);
    m.set_pdu().select_command(c);
    append(out, m);
}

void success(Bytes& out, int seq, unsigned slot)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(slot);
    m.set_pdu().select_response().select_success();
    append(out, m);
}

void stream(Bytes& out, unsigned slot, bool transmitter, int channel)
{
    LGCP::Stream s;
    s.select_active(channel);
    LGCP::Message m;
    m.set_slot(slot);
    m.set_pdu().select_signal(transmitter ? LGCP::Signal(LGCP::Signal::transmitter::value, s)
                                          : LGCP::Signal(LGCP::Signal::receiver::value, s));
    append(out, m);
}

// One window of `slots` trunk slots (an even number, at most 128): what is
// sent and what must come back.
struct Window {
    Bytes request, answer;
    long commands = 0;

    explicit Window(unsigned slots)
    {
        int seq = 1;
        for (unsigned n = 0; n < slots; ++n, ++seq, ++commands) {
            LGCP::Command c;
            c.select_create().select_trunk().set_trunk(n / 32);
            c.ref_create().ref_trunk().set_timeslot(n % 32);
            command(request, seq, n, c);
            success(answer, seq, n);
            stream(answer, n, true, int(n));
            stream(answer, n, false, int(n));
        }
        for (unsigned n = 0; n < slots; n += 2, ++seq, ++commands) {
            LGCP::Command c;
            c.select_connect(n + 1);
            command(request, seq, n, c);
            success(answer, seq, n);
        }
        for (unsigned n = 1; n < slots; n += 2, ++seq, ++commands) {
            LGCP::Command c;
            c.select_disconnect();
            command(request, seq, n, c);
            success(answer, seq, n);
        }
        for (unsigned n = 0; n < slots; ++n, ++seq, ++commands) {
            LGCP::Command c;
            c.select_destroy();
            command(request, seq, n, c);
            success(answer, seq, n);
        }
    }
};

class Link
{
public:
    bool open(int port)
    {
        Bytes ping, pong;
        LGCP::Message m;
        m.set_seq(0);
        m.set_pdu().select_command().select_ping();
        append(ping, m);
        LGCP::Message r;
        r.set_seq(0);
        r.set_pdu().select_response().select_success();
        append(pong, r);
        for (int attempt = 0; attempt < 100; ++attempt, ::poll(nullptr, 0, 100)) {
            mFd = support::connect_loopback(port);
            if (mFd < 0)
                continue;
            const int one = 1;
            ::setsockopt(mFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            if (send(ping) && expect(pong))
                return true;
            ::close(mFd);
            mFd = -1;
        }
        return false;
    }
    ~Link()
    {
        if (mFd >= 0)
            ::close(mFd);
    }
    bool send(const Bytes& bytes)
    {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::send(mFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }
    // Reads frames until as many bytes as expected are kept; true when they
    // are the same. Frames with neither seq nor slot are the board's own
    // periodic reports (line status while a controller is connected): counted
    // and skipped.
    bool expect(const Bytes& expected)
    {
        mKept.clear();
        while (mKept.size() < expected.size()) {
            if (mIn.size() >= 4 && mIn.size() >= std::size_t(mIn[2] << 8 | mIn[3])) {
                const std::size_t n = std::size_t(mIn[2] << 8 | mIn[3]);
                if (n < 5)
                    return false;
                if (mIn[4] & 0xC0)
                    mKept.insert(mKept.end(), mIn.begin(), mIn.begin() + long(n));
                else
                    ++reports;
                mIn.erase(mIn.begin(), mIn.begin() + long(n));
                continue;
            }
            pollfd p{mFd, POLLIN, 0};
            if (::poll(&p, 1, kAnswerLimitMs) <= 0)
                return false;
            unsigned char buf[65536];
            const ssize_t got = ::recv(mFd, buf, sizeof buf, 0);
            if (got <= 0)
                return false;
            mIn.insert(mIn.end(), buf, buf + got);
        }
        return mKept == expected;
    }

    std::int64_t reports = 0;

private:
    int mFd = -1;
    Bytes mIn, mKept;
};

int gPort = 0;
e2e::Daemon gDaemon;
Link gLink;
bool gFailed = false;

void fail(benchmark::State& state, const char* why)
{
    state.SkipWithError(why);
    gFailed = true;
}

// Pipelined: a whole window of create, connect, disconnect and destroy in
// one write, then every frame it brings back.
void BM_PipelinedTrunkSlots(benchmark::State& state)
{
    const Window window(unsigned(state.range(0)));
    const std::int64_t reports = gLink.reports;
    for (auto _ : state) {
        if (!gLink.send(window.request)) {
            fail(state, "the daemon closed the link");
            break;
        }
        if (!gLink.expect(window.answer)) {
            fail(state, "an answer was lost, wrong or out of order");
            break;
        }
        // Its log lines, so that the daemon never waits on a full pipe.
        gDaemon.collect_output();
    }
    state.SetItemsProcessed(state.iterations() * window.commands);
    state.counters["commands/s"] =
        benchmark::Counter(double(state.iterations() * window.commands), benchmark::Counter::kIsRate);
    state.counters["status_reports"] = double(gLink.reports - reports);
}
BENCHMARK(BM_PipelinedTrunkSlots)->Arg(2)->Arg(32)->Arg(128)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--port=", 7) == 0)
            gPort = std::atoi(argv[i] + 7);
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    e2e::DaemonOptions options;
    if (const char* binary = std::getenv("QUELVAD_BINARY"))
        options.binary = binary;
    if (gPort == 0) {
        if (!gDaemon.start_serving(options)) {
            std::fprintf(stderr, "slots load: could not start %s\n%s", e2e::daemon_binary(options).c_str(),
                         gDaemon.err().c_str());
            return 1;
        }
        gPort = gDaemon.port();
        benchmark::AddCustomContext("daemon", e2e::daemon_binary(options));
    }
    if (!gLink.open(gPort)) {
        std::fprintf(stderr, "slots load: no answer on 127.0.0.1:%d\n", gPort);
        return 1;
    }
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return gFailed ? 1 : 0;
}
