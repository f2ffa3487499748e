// Packet buffer costs: taking a buffer from the pool and giving it back,
// sharing a handle, the copy made when a shared buffer changes, and framing a
// payload layer by layer.
#include "runtime/packet.hpp"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace
{

void BM_AllocateRelease(benchmark::State& state)
{
    for (auto _ : state) {
        Packet p;
        benchmark::DoNotOptimize(p.reserve_head(64));
        p.clear();
    }
}
BENCHMARK(BM_AllocateRelease);

// The pool at a given fill level: the free list's cost must not depend on it.
void BM_AllocateReleaseWithHeld(benchmark::State& state)
{
    std::vector<Packet> held(static_cast<std::size_t>(state.range(0)));
    for (auto& p : held)
        p.reserve_head(0);
    for (auto _ : state) {
        Packet p;
        benchmark::DoNotOptimize(p.reserve_head(64));
    }
}
BENCHMARK(BM_AllocateReleaseWithHeld)->Arg(0)->Arg(512)->Arg(1000);

void BM_ShareHandle(benchmark::State& state)
{
    Packet p;
    p.reserve_head(0);
    p.put(256);
    for (auto _ : state) {
        // The copy is what is measured.
        // NOLINTNEXTLINE(performance-unnecessary-copy-initialization)
        Packet copy = p;
        benchmark::DoNotOptimize(copy.length());
    }
}
BENCHMARK(BM_ShareHandle);

// A change to a shared buffer of the given length copies it.
void BM_CopyOnWrite(benchmark::State& state)
{
    Packet p;
    p.reserve_head(16);
    std::memset(p.put(static_cast<unsigned>(state.range(0))), 0x5A, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        Packet copy = p;
        copy.push8(0x01);
        benchmark::DoNotOptimize(copy.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CopyOnWrite)->Arg(64)->Arg(1500)->Arg(65000);

// What a send does: fresh buffer with head room, payload copied in, a
// four-byte frame header pushed in front, buffer released.
void BM_FrameAndRelease(benchmark::State& state)
{
    std::vector<unsigned char> payload(static_cast<std::size_t>(state.range(0)), 0xA5);
    for (auto _ : state) {
        Packet p;
        p.reserve_head(4);
        std::memcpy(p.put(static_cast<unsigned>(payload.size())), payload.data(), payload.size());
        p.push16_b(static_cast<unsigned short>(payload.size() + 4));
        p.push8(0);
        p.push8(3);
        benchmark::DoNotOptimize(p.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_FrameAndRelease)->Arg(32)->Arg(1024);

} // namespace
