// One line through a daemon-mode stream to a syslog reader that keeps up:
// the record is built, sent as one datagram and read back each iteration.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include "platform/paths.hpp"
#include "runtime/syslog.hpp"

namespace
{

void BM_SyslogLineReaderKeepsUp(benchmark::State& state)
{
    char root[] = "/tmp/quelvad-bench-XXXXXX";
    if (!::mkdtemp(root)) {
        state.SkipWithError("no temporary folder");
        return;
    }
    ::setenv("QUELVAD_ROOT", root, 1);
    Paths::reload();
    const std::string dev = std::string(root) + "/dev";
    const std::string path = dev + "/log";
    ::mkdir(dev.c_str(), 0755);
    const int reader = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::bind(reader, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        state.SkipWithError("no socket");
        return;
    }
    syslogManager.openlog("qvd-bench", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buf(LOG_DAEMON, LOG_ERR);
    std::ostream os(&buf);
    char record[2048];
    for (auto _ : state) {
        os << "ctrl [127.0.0.1:40000]: receive fail: decode error!" << std::endl;
        benchmark::DoNotOptimize(::recv(reader, record, sizeof record, 0));
    }
    syslogManager.closelog();
    ::close(reader);
    ::unlink(path.c_str());
    ::rmdir(dev.c_str());
    ::rmdir(root);
}
BENCHMARK(BM_SyslogLineReaderKeepsUp);

} // namespace
