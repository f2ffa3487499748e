// What the running daemon costs the machine, each figure from a daemon of its
// own started under a private root:
//  - resident size without a simulated board (so that only the daemon
//    counts) after one controller connection that sends 10,000 pipelined
//    pings and half-closes, and after 50 of them; the same for one
//    connect/ping/close cycle and 100 of them;
//  - processor time over 10 s on the simulated board while a file player
//    with repeat 0 is joined to a trunk and plays a two-second phrase, and
//    over 2 s while such a player's only phrase is empty.
//
//   bench_daemon_footprint [benchmark options]
//
// QUELVAD_BINARY in the environment measures another build of the daemon (by
// default the one this program was built with). Each benchmark runs once; its
// figures are counters (within_1MiB: 1 when the resident size grew by at most
// 1 MiB after the first connection). Every disconnect costs the daemon a
// second, so the resident size benchmarks take about two and a half minutes.
#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "tests/support/controller.hpp"

namespace
{

using e2e::Bytes;

// One daemon under a private root (see tests/support/controller.hpp).
class Daemon
{
public:
    // With `simInit` the daemon runs on the simulated board, whose init file holds it.
    // With `phrase` the voice folder holds it as "phrase" (it may be empty).
    explicit Daemon(const char* simInit = nullptr, const std::optional<std::string>& phrase = std::nullopt)
    {
        e2e::DaemonOptions options;
        options.board = simInit != nullptr;
        options.sim_init = simInit ? simInit : "";
        if (const char* binary = std::getenv("QUELVAD_BINARY"))
            options.binary = binary;
        if (phrase)
            mDaemon.write_file("/usr/local/voice/phrase", *phrase);
        mServing = mDaemon.start_serving(options);
    }

    bool serving() const { return mServing; }
    int port() const { return mDaemon.port(); }
    std::string board(const std::string& command) { return mDaemon.board(command); }

    // Resident size in kB ("VmRSS"), 0 when it cannot be read. What the daemon
    // logged meanwhile is read first, so that its output never stalls it.
    double resident_kb()
    {
        mDaemon.collect_output();
        std::ifstream in("/proc/" + std::to_string(mDaemon.pid()) + "/status");
        for (std::string line; std::getline(in, line);) {
            if (line.compare(0, 6, "VmRSS:") == 0)
                return std::atof(line.c_str() + 6);
        }
        return 0;
    }

    // User and system time so far, in milliseconds.
    double cpu_ms()
    {
        mDaemon.collect_output();
        std::ifstream in("/proc/" + std::to_string(mDaemon.pid()) + "/stat");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::size_t close = text.rfind(')');
        if (close == std::string::npos)
            return 0;
        // Fields after the command: state is field 3, utime 14 and stime 15.
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int n = 3; n <= 15 && fields >> field; ++n) {
            if (n >= 14)
                ticks += std::atof(field.c_str());
        }
        return ticks * 1000.0 / double(::sysconf(_SC_CLK_TCK));
    }

private:
    e2e::Daemon mDaemon;
    bool mServing = false;
};

Bytes frame(std::int32_t seq, unsigned slot, const std::function<void(LGCP::Command&)>& fill)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_slot(slot);
    fill(m.set_pdu().select_command());
    return e2e::tpkt(e2e::encode(m));
}

Bytes ping(std::int32_t seq)
{
    LGCP::Message m;
    m.set_seq(seq);
    m.set_pdu().select_command().select_ping();
    return e2e::tpkt(e2e::encode(m));
}

// The TPKT frames in a byte stream.
unsigned frames(const Bytes& in)
{
    unsigned n = 0;
    for (std::size_t at = 0; at + 4 <= in.size(); ++n)
        at += std::size_t(in[at + 2]) << 8 | in[at + 3];
    return n;
}

// Lets the daemon finish with a connection the client has closed.
void settle()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

// 10,000 pings in one burst, a half-close, every answer read until the daemon closes.
bool ping_burst(int port, const Bytes& burst)
{
    e2e::Controller c;
    Bytes answers;
    return c.connect(port) && c.send_raw(burst) && c.half_close() && c.wait_closed(&answers) &&
           frames(answers) >= 10000;
}

bool ping_cycle(int port)
{
    e2e::Controller c;
    Bytes answer;
    return c.connect(port) && c.send_raw(ping(1)) && c.receive_payload(answer);
}

void BM_ResidentAfterPingBursts(benchmark::State& state)
{
    Bytes burst;
    for (std::int32_t seq = 1; seq <= 10000; ++seq) {
        const Bytes one = ping(seq);
        burst.insert(burst.end(), one.begin(), one.end());
    }
    for (auto _ : state) {
        Daemon daemon;
        if (!daemon.serving() || !ping_cycle(daemon.port())) {
            state.SkipWithError("the daemon did not answer");
            return;
        }
        settle();
        state.counters["idle_kB"] = daemon.resident_kb();
        for (int n = 1; n <= 50; ++n) {
            daemon.resident_kb();
            if (!ping_burst(daemon.port(), burst)) {
                state.SkipWithError("a burst was not answered whole");
                return;
            }
            if (n == 1) {
                settle();
                state.counters["after_1_kB"] = daemon.resident_kb();
            }
        }
        settle();
        state.counters["after_50_kB"] = daemon.resident_kb();
        state.counters["growth_kB"] = state.counters["after_50_kB"] - state.counters["after_1_kB"];
        state.counters["within_1MiB"] = state.counters["growth_kB"] <= 1024 ? 1 : 0;
    }
}
BENCHMARK(BM_ResidentAfterPingBursts)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_ResidentAfterConnectCycles(benchmark::State& state)
{
    for (auto _ : state) {
        Daemon daemon;
        if (!daemon.serving()) {
            state.SkipWithError("the daemon did not start");
            return;
        }
        for (int n = 1; n <= 100; ++n) {
            daemon.resident_kb();
            if (!ping_cycle(daemon.port())) {
                state.SkipWithError("a cycle was not answered");
                return;
            }
            if (n == 1) {
                settle();
                state.counters["after_1_kB"] = daemon.resident_kb();
            }
        }
        settle();
        state.counters["after_100_kB"] = daemon.resident_kb();
        state.counters["growth_kB"] = state.counters["after_100_kB"] - state.counters["after_1_kB"];
        state.counters["within_1MiB"] = state.counters["growth_kB"] <= 1024 ? 1 : 0;
    }
}
BENCHMARK(BM_ResidentAfterConnectCycles)->Iterations(1)->Unit(benchmark::kMillisecond);

// A file player with repeat 0 on "phrase" joined to a trunk; the daemon's
// processor time over `seconds` once it plays.
void PlayerOnATrunk(benchmark::State& state, const std::string& phrase, int seconds)
{
    for (auto _ : state) {
        Daemon daemon("device /dev/mcc/ctl present\n", phrase);
        e2e::Controller c;
        Bytes answer;
        const Bytes setup[] = {
            frame(1, 2,
                  [](LGCP::Command& m) {
                      m.select_create().select_trunk().set_trunk(0u);
                      m.ref_create().ref_trunk().set_timeslot(1u);
                  }),
            frame(2, 3,
                  [](LGCP::Command& m) {
                      LGCP::PlayerParams_file& f =
                          m.select_create().select_voice().select_player().select_file();
                      f.set_name().push_back(ASN1::IA5String("phrase"));
                      f.set_repeat(0);
                  }),
            frame(3, 3, [](LGCP::Command& m) { m.select_connect(2); }),
        };
        if (!daemon.serving() || !c.connect(daemon.port())) {
            state.SkipWithError("the daemon did not answer");
            return;
        }
        for (const Bytes& f : setup)
            c.send_raw(f);
        // The answers to the three commands; the signals between them (channels
        // claimed, line status) are left aside.
        int answers = 0;
        while (answers < 3 && c.receive_payload(answer))
            answers += e2e::signal_message(answer) ? 0 : 1;
        if (answers < 3) {
            state.SkipWithError("the player was not joined");
            return;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
        daemon.board("mcc written 4096");
        const double before = daemon.cpu_ms();
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        const double cpu = daemon.cpu_ms() - before;
        const std::string played = daemon.board("mcc written 4096");
        state.counters["cpu_ms_in_" + std::to_string(seconds) + "s"] = cpu;
        state.counters["cpu_percent"] = cpu / (10.0 * seconds);
        // Each byte shows as two hex digits and a separator; at most 256 records are kept.
        state.counters["played_B"] = double(played.size()) / 3.0;
    }
}
void BM_FilePlayerRepeatingOnATrunk(benchmark::State& state)
{
    PlayerOnATrunk(state, std::string(16000, '\x55'), 10); // two seconds of sound
}
BENCHMARK(BM_FilePlayerRepeatingOnATrunk)->Iterations(1)->Unit(benchmark::kMillisecond);

// Nothing to play: the player keeps its list going without a busy loop.
void BM_FilePlayerOfAnEmptyPhraseOnATrunk(benchmark::State& state)
{
    PlayerOnATrunk(state, std::string(), 2);
}
BENCHMARK(BM_FilePlayerOfAnEmptyPhraseOnATrunk)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    std::signal(SIGPIPE, SIG_IGN);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
