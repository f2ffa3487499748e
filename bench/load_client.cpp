// Load client for the controller link: pings with distinct seq over loopback,
// pipelined (a window of commands written at once, then every answer read)
// and in lockstep (one command, its answer, the next), against the real
// daemon. Every answer is checked: it must be the success for the seq sent
// next in order, so a lost or reordered answer fails the run.
//
//   bench_load_client [--port=N] [benchmark options]
//
// With --port it talks to a daemon already running on 127.0.0.1:N; without,
// it starts the daemon it was built with, on the simulated board under a
// private root, and stops it at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"

namespace
{

using Bytes = std::vector<unsigned char>;

// An answer that takes longer than this is counted lost.
const int kAnswerLimitMs = 5000;

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

class Link
{
public:
    bool open(int port)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            mFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in addr{};
            addr.sin_family = AF_INET;
            addr.sin_port = htons(static_cast<unsigned short>(port));
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(mFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
                const int one = 1;
                ::setsockopt(mFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                // Only an answered ping shows that the controller seat is ours.
                if (roundtrip(0))
                    return true;
            }
            ::close(mFd);
            mFd = -1;
            ::poll(nullptr, 0, 100);
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

    // The next answer must be the success for `seq`; false when it is
    // another frame (reordered) or does not come (lost).
    bool expect(std::int32_t seq)
    {
        mExpected.clear();
        append_frame(mExpected, seq, 0x40);
        while (mIn.size() - mPos < mExpected.size()) {
            if (mPos > 0) {
                mIn.erase(mIn.begin(), mIn.begin() + long(mPos));
                mPos = 0;
            }
            pollfd p{mFd, POLLIN, 0};
            if (::poll(&p, 1, kAnswerLimitMs) <= 0)
                return false;
            unsigned char buf[65536];
            const ssize_t n = ::recv(mFd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            mIn.insert(mIn.end(), buf, buf + n);
        }
        const bool same = std::equal(mExpected.begin(), mExpected.end(), mIn.begin() + long(mPos));
        mPos += mExpected.size();
        return same;
    }

    bool roundtrip(std::int32_t seq)
    {
        mOut.clear();
        append_frame(mOut, seq, 0x18);
        return send(mOut) && expect(seq);
    }

private:
    int mFd = -1;
    Bytes mIn;
    std::size_t mPos = 0;
    Bytes mOut;
    Bytes mExpected;
};

int gPort = 0;
pid_t gDaemon = -1;
std::string gRoot;
Link gLink;
std::int32_t gSeq = 1;

int free_port()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    ::close(fd);
    return bound ? ntohs(addr.sin_port) : 0;
}

bool start_daemon()
{
    char tmpl[] = "/tmp/quelvad-load-XXXXXX";
    if (!::mkdtemp(tmpl))
        return false;
    gRoot = tmpl;
    for (const char* d : {"/var", "/var/run", "/var/log"})
        ::mkdir((gRoot + d).c_str(), 0755);
    gPort = free_port();
    const std::string port = std::to_string(gPort);
    gDaemon = ::fork();
    if (gDaemon == 0) {
        ::setenv("QUELVAD_ROOT", gRoot.c_str(), 1);
        ::setenv("QUELVAD_SIM", (gRoot + "/board.sock").c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::execl(QUELVAD_BINARY, QUELVAD_BINARY, "--port", port.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    return gDaemon > 0;
}

void stop_daemon()
{
    if (gDaemon <= 0)
        return;
    ::kill(gDaemon, SIGTERM);
    ::waitpid(gDaemon, nullptr, 0);
    const std::string command = "rm -rf '" + gRoot + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", gRoot.c_str());
}

// Pipelined: a window of pings in one write, then their answers in order.
void BM_PipelinedPing(benchmark::State& state)
{
    const int window = int(state.range(0));
    Bytes burst;
    std::int64_t wrong = 0;
    for (auto _ : state) {
        burst.clear();
        const std::int32_t first = gSeq;
        for (int i = 0; i < window; ++i)
            append_frame(burst, gSeq++, 0x18);
        if (!gLink.send(burst)) {
            state.SkipWithError("the daemon closed the link");
            break;
        }
        for (int i = 0; i < window; ++i)
            wrong += !gLink.expect(first + i);
        if (wrong) {
            state.SkipWithError("an answer was lost or out of order");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * window);
    state.counters["commands/s"] =
        benchmark::Counter(double(state.iterations() * window), benchmark::Counter::kIsRate);
    state.counters["lost_or_reordered"] = double(wrong);
}
BENCHMARK(BM_PipelinedPing)->Arg(100)->Arg(1000)->UseRealTime();

// Lockstep: one ping, its answer, the next; round trips in microseconds.
void BM_LockstepPing(benchmark::State& state)
{
    std::vector<double> rtt;
    rtt.reserve(1 << 20);
    for (auto _ : state) {
        const auto begin = std::chrono::steady_clock::now();
        if (!gLink.roundtrip(gSeq++)) {
            state.SkipWithError("an answer was lost or out of order");
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
}
BENCHMARK(BM_LockstepPing)->UseRealTime();

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
    if (!frames_match_codec()) {
        std::fprintf(stderr, "load client: hand-made ping frames differ from the codec's\n");
        return 1;
    }
    if (gPort == 0 && !start_daemon()) {
        std::fprintf(stderr, "load client: could not start %s\n", QUELVAD_BINARY);
        return 1;
    }
    if (!gLink.open(gPort)) {
        std::fprintf(stderr, "load client: no answer on 127.0.0.1:%d\n", gPort);
        stop_daemon();
        return 1;
    }
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) {
        stop_daemon();
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    stop_daemon();
    return 0;
}
