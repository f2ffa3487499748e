// RTP streams against the running daemon on the simulated board: create and
// destroy pairs of one RTP slot (session, channel, RTCP socket and packets,
// tone and DSP clean-up each time), and DTMF digits injected on the board
// until each has reached the controller as a `tonec` signal. Every answer and
// signal is decoded and checked, so a lost one fails the run (exit status 1).
// The line interfaces' status reports that arrive meanwhile are counted apart.
//
//   bench_media_load [benchmark options]
//
// The daemon is QUELVAD_BINARY from the environment, else the one it was built with.
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/controller.hpp"

namespace
{

e2e::Daemon gDaemon;
e2e::Controller gController;
std::int32_t gSeq = 1;
unsigned gPort = 0;        // the remote's RTP port: RTCP goes to the next one
std::int64_t gReports = 0; // line status reports skipped
bool gFailed = false;

void fail(benchmark::State& state, const char* why)
{
    state.SkipWithError(why);
    gFailed = true;
}

bool decode(const e2e::Bytes& payload, LGCP::Message& m)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    const char* data = reinterpret_cast<const char*>(payload.data());
    return ASN1::decode(data, data + payload.size(), &env, m, true);
}

// The next message that is not a line status report (those are counted).
bool next(LGCP::Message& m)
{
    for (e2e::Bytes payload; gController.receive_payload(payload);) {
        if (!decode(payload, m))
            return false;
        if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().trunkStatus_isSelected())
            return true;
        ++gReports;
    }
    return false;
}

// Reads until the answer of `seq` (skipping the slots' signals); true when it
// is a success.
bool answered(std::int32_t seq)
{
    for (LGCP::Message m; next(m);) {
        if (m.get_pdu().response_isSelected())
            return m.seq_isPresent() && m.get_seq().getValue() == seq &&
                   m.get_pdu().get_response().success_isSelected();
    }
    return false;
}

bool command(LGCP::Message& m)
{
    m.set_seq(gSeq);
    return gController.send_payload(e2e::encode(m)) && answered(gSeq++);
}

LGCP::Message create(unsigned slot)
{
    LGCP::Message m;
    m.set_slot(slot);
    LGCP::CreateRtpParams& rtp = m.set_pdu().select_command().select_create().select_rtp();
    TERM::RtpParams& codec = rtp.set_codecRTP();
    codec.set_payload(TERM::Payload::ptG711_Alaw);
    codec.set_dhost().set_iaddr("127.0.0.1");
    codec.ref_dhost().set_port(gPort);
    codec.set_ssrc(1);
    rtp.set_rxPayload(TERM::Payload::ptG711_Alaw);
    rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
    return m;
}

LGCP::Message destroy(unsigned slot)
{
    LGCP::Message m;
    m.set_slot(slot);
    m.set_pdu().select_command().select_destroy();
    return m;
}

void BM_RtpCreateDestroy(benchmark::State& state)
{
    LGCP::Message c = create(7), d = destroy(7);
    const std::int64_t reports = gReports;
    for (auto _ : state) {
        if (!command(c) || !command(d)) {
            fail(state, "a create or destroy was not answered success");
            break;
        }
        gDaemon.collect_output();
    }
    state.counters["pairs/s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["commands/s"] =
        benchmark::Counter(double(state.iterations() * 2), benchmark::Counter::kIsRate);
    state.counters["status_reports"] = double(gReports - reports);
}
BENCHMARK(BM_RtpCreateDestroy)->Iterations(2000)->UseRealTime();

void BM_DtmfEvents(benchmark::State& state)
{
    LGCP::Message c = create(8), enable;
    enable.set_slot(8);
    enable.set_pdu().select_command().select_ioctl().select_dtmf_enable(true);
    // The stream's channel: the one its transmitter signal names.
    int channel = -1;
    LGCP::Message signal;
    if (!command(c) || !next(signal) || !signal.get_pdu().signal_isSelected() ||
        !signal.get_pdu().get_signal().transmitter_isSelected() || !command(enable)) {
        fail(state, "no RTP slot with DTMF detection");
        return;
    }
    const std::int64_t reports = gReports;
    channel = signal.get_pdu().get_signal().get_transmitter().get_active().getValue();
    const int window = int(state.range(0));
    for (auto _ : state) {
        for (int i = 0; i < window; ++i) {
            if (gDaemon.board("dtmf digit " + std::to_string(channel) + " " + std::to_string(i % 10)) !=
                "ok\n") {
                fail(state, "the board refused a digit");
                return;
            }
        }
        for (int i = 0; i < window; ++i) {
            LGCP::Message m;
            if (!next(m) || !m.get_pdu().signal_isSelected() ||
                !m.get_pdu().get_signal().tonec_isSelected() ||
                m.get_pdu().get_signal().get_tonec().get_event().get_dtmf().getValue() != unsigned(i % 10)) {
                fail(state, "a digit was lost or changed");
                return;
            }
        }
        gDaemon.collect_output();
    }
    state.counters["events/s"] =
        benchmark::Counter(double(state.iterations() * window), benchmark::Counter::kIsRate);
    state.counters["status_reports"] = double(gReports - reports);
    LGCP::Message d = destroy(8);
    command(d);
}
BENCHMARK(BM_DtmfEvents)->Arg(100)->Iterations(50)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    // A free pair of ports: the remote RTP port, and the RTCP port above it,
    // where the gateway both binds (SO_REUSEADDR) and sends; nobody reads them.
    const int probe = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    if (::bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &n) != 0) {
        std::fprintf(stderr, "media load: no loopback port\n");
        return 1;
    }
    // Freed again: the gateway binds its RTCP socket there (no local host given).
    gPort = ntohs(a.sin_port) - 1;
    ::close(probe);
    e2e::DaemonOptions options;
    if (const char* binary = std::getenv("QUELVAD_BINARY"))
        options.binary = binary;
    if (!gDaemon.start_serving(options) || !gController.connect(gDaemon.port())) {
        std::fprintf(stderr, "media load: could not start %s\n%s", e2e::daemon_binary(options).c_str(),
                     gDaemon.err().c_str());
        return 1;
    }
    benchmark::AddCustomContext("daemon", e2e::daemon_binary(options));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return gFailed ? 1 : 0;
}
