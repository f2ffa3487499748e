// The simulated board's cost per request: the switch refresh's disable of an
// output that is already disabled (counted, not journalled), a journalled
// connect, and a request on a duplicate of a board descriptor.
#include "platform/sim_board.hpp"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include "platform/devices.hpp"

namespace
{

using namespace platform;

void BM_SimRefreshDisable(benchmark::State& state)
{
    SimBoard sim;
    const int fd = sim.open(hal::kPath, O_RDWR);
    hal::SwitchChannel r{8192};
    for (auto _ : state)
        benchmark::DoNotOptimize(sim.ioctl(fd, hal::kDisable, &r));
    ::close(fd);
}
BENCHMARK(BM_SimRefreshDisable);

// One refresh pass: 128 disables of consecutive bus outputs.
void BM_SimRefreshPass(benchmark::State& state)
{
    SimBoard sim;
    const int fd = sim.open(hal::kPath, O_RDWR);
    for (auto _ : state) {
        for (int ch = 8192; ch < 8192 + 128; ++ch) {
            hal::SwitchChannel r{ch};
            benchmark::DoNotOptimize(sim.ioctl(fd, hal::kDisable, &r));
        }
    }
    ::close(fd);
}
BENCHMARK(BM_SimRefreshPass);

void BM_SimJournalledConnect(benchmark::State& state)
{
    SimBoard sim;
    const int fd = sim.open(hal::kPath, O_RDWR);
    hal::SwitchConnect r{8200, 33};
    for (auto _ : state)
        benchmark::DoNotOptimize(sim.ioctl(fd, hal::kConnect, &r));
    ::close(fd);
}
BENCHMARK(BM_SimJournalledConnect);

// A duplicate the daemon made is not a descriptor the board handed out.
void BM_SimDisableOnDuplicate(benchmark::State& state)
{
    SimBoard sim;
    const int fd = sim.open(hal::kPath, O_RDWR);
    const int dup = ::dup(fd);
    hal::SwitchChannel r{8192};
    for (auto _ : state)
        benchmark::DoNotOptimize(sim.ioctl(dup, hal::kDisable, &r));
    ::close(dup);
    ::close(fd);
}
BENCHMARK(BM_SimDisableOnDuplicate);

} // namespace
