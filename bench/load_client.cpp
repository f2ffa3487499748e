// Load client for the controller link: pings with distinct seq over loopback,
// pipelined (a window of commands written at once, then every answer read)
// and in lockstep (one command, its answer, the next), against the real
// daemon. Every answer is checked: it must be the success for the seq sent
// next in order, so a lost or reordered answer fails the run (exit status 1).
// Signals the daemon sends on its own between the answers (the line
// interfaces' status reports on the simulated board) are counted apart.
//
//   bench_load_client [--port=N] [--no-sim] [benchmark options]
//
// With --port it talks to a daemon already running on 127.0.0.1:N; without,
// it starts the daemon (QUELVAD_BINARY from the environment, else the one it
// was built with) under a private root, on the simulated board unless --no-sim
// is given, and stops it at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/controller.hpp"

namespace
{

using e2e::Bytes;

// LGCP message {seq, ping} in aligned PER: presence bits, the seq as an
// unconstrained whole number (length octet, two's complement octets), then
// the pdu octet: 18 for ping, 40 for the success that answers it.
void append_frame(Bytes& out, std::int32_t seq, unsigned char pdu)
{
    unsigned char value[4];
    int n = 4;
    for (int i = 0; i < 4; ++i)
        value[i] = static_cast<unsigned char>(std::uint32_t(seq) >> (24 - 8 * i));
    // Drop leading octets that only repeat the sign.
    int first = 0;
    while (first < 3 && ((value[first] == 0x00 && !(value[first + 1] & 0x80)) ||
                         (value[first] == 0xFF && (value[first + 1] & 0x80))))
        ++first;
    n -= first;
    const unsigned total = 4 + 1 + 1 + unsigned(n) + 1;
    out.push_back(0x03);
    out.push_back(0x00);
    out.push_back(static_cast<unsigned char>(total >> 8));
    out.push_back(static_cast<unsigned char>(total));
    out.push_back(0x80);
    out.push_back(static_cast<unsigned char>(n));
    out.insert(out.end(), value + first, value + 4);
    out.push_back(pdu);
}

// The hand-made frames must be what our codec makes.
bool frames_match_codec()
{
    for (std::int32_t seq : {0, 1, 127, 128, 255, 300, 32767, 32768, 65535, 1 << 24, 0x7FFFFFFF}) {
        for (int kind = 0; kind < 2; ++kind) {
            LGCP::Message m;
            m.set_seq(seq);
            if (kind == 0)
                m.set_pdu().select_command().select_ping();
            else
                m.set_pdu().select_response().select_success();
            ASN1::CoderEnv env;
            std::vector<char> octets;
            if (!ASN1::encode(m, &env, std::back_inserter(octets)))
                return false;
            Bytes mine;
            append_frame(mine, seq, kind == 0 ? 0x18 : 0x40);
            if (Bytes(mine.begin() + 4, mine.end()) != Bytes(octets.begin(), octets.end()))
                return false;
        }
    }
    return true;
}

// The answer to a ping must be the success for its seq: another answer means one was
// reordered, none (within the client's deadline) one was lost. Signals are no
// answers: they are counted and skipped.
class Link
{
public:
    bool open(int port)
    {
        // Only an answered ping shows that the controller seat is ours.
        return mController.connect(port) && roundtrip(0);
    }
    bool send(const e2e::Bytes& bytes) { return mController.send_raw(bytes); }
    bool expect(std::int32_t seq)
    {
        mExpected.clear();
        append_frame(mExpected, seq, 0x40);
        while (mController.receive_payload(mPayload)) {
            if (std::equal(mExpected.begin() + 4, mExpected.end(), mPayload.begin(), mPayload.end()))
                return true;
            if (!e2e::signal_message(mPayload))
                return false;
            ++signals;
        }
        return false;
    }
    bool roundtrip(std::int32_t seq)
    {
        mOut.clear();
        append_frame(mOut, seq, 0x18);
        return send(mOut) && expect(seq);
    }

    std::int64_t signals = 0;

private:
    e2e::Controller mController;
    e2e::Bytes mOut, mExpected, mPayload;
};

int gPort = 0;
Link gLink;
std::int32_t gSeq = 1;
bool gFailed = false;

void fail(benchmark::State& state, const char* why)
{
    state.SkipWithError(why);
    gFailed = true;
}

// Pipelined: a window of pings in one write, then their answers in order.
void BM_PipelinedPing(benchmark::State& state)
{
    const int window = int(state.range(0));
    Bytes burst;
    std::int64_t wrong = 0;
    const std::int64_t signals = gLink.signals;
    for (auto _ : state) {
        burst.clear();
        const std::int32_t first = gSeq;
        for (int i = 0; i < window; ++i)
            append_frame(burst, gSeq++, 0x18);
        if (!gLink.send(burst)) {
            fail(state, "the daemon closed the link");
            break;
        }
        for (int i = 0; i < window && !wrong; ++i)
            wrong += !gLink.expect(first + i);
        if (wrong) {
            fail(state, "an answer was lost or out of order");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * window);
    state.counters["commands/s"] =
        benchmark::Counter(double(state.iterations() * window), benchmark::Counter::kIsRate);
    state.counters["lost_or_reordered"] = double(wrong);
    state.counters["signals"] = double(gLink.signals - signals);
}
BENCHMARK(BM_PipelinedPing)->Arg(16)->Arg(100)->Arg(1000)->UseRealTime();

// Lockstep: one ping, its answer, the next; round trips in microseconds.
void BM_LockstepPing(benchmark::State& state)
{
    std::vector<double> rtt;
    rtt.reserve(1 << 20);
    const std::int64_t signals = gLink.signals;
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        if (!gLink.roundtrip(gSeq++)) {
            fail(state, "an answer was lost or out of order");
            break;
        }
        rtt.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count());
    }
    if (rtt.empty())
        return;
    std::sort(rtt.begin(), rtt.end());
    state.counters["p50_us"] = rtt[rtt.size() / 2];
    state.counters["p99_us"] = rtt[std::min(rtt.size() - 1, rtt.size() * 99 / 100)];
    state.counters["commands/s"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["signals"] = double(gLink.signals - signals);
}
BENCHMARK(BM_LockstepPing)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    std::vector<char*> args;
    e2e::DaemonOptions options;
    if (const char* binary = std::getenv("QUELVAD_BINARY"))
        options.binary = binary;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--port=", 7) == 0)
            gPort = std::atoi(argv[i] + 7);
        else if (std::strcmp(argv[i], "--no-sim") == 0)
            options.board = false;
        else
            args.push_back(argv[i]);
    }
    int count = int(args.size());
    if (!frames_match_codec()) {
        std::fprintf(stderr, "load client: hand-made ping frames differ from the codec's\n");
        return 1;
    }
    e2e::Daemon daemon;
    if (gPort == 0) {
        if (!daemon.start_serving(options)) {
            std::fprintf(stderr, "load client: could not start %s\n%s", e2e::daemon_binary(options).c_str(),
                         daemon.err().c_str());
            return 1;
        }
        gPort = daemon.port();
        benchmark::AddCustomContext("daemon", e2e::daemon_binary(options));
        benchmark::AddCustomContext("simulated board", options.board ? "yes" : "no");
    }
    if (!gLink.open(gPort)) {
        std::fprintf(stderr, "load client: no answer on 127.0.0.1:%d\n", gPort);
        return 1;
    }
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data()))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // Every run's pings, the opening one (seq 0) too: what a trace of the daemon saw.
    std::fprintf(stderr, "load client: %ld pings sent, %ld signals between the answers\n", long(gSeq),
                 long(gLink.signals));
    return gFailed ? 1 : 0;
}
