// Timer set, reset and fire with 10,000 timers pending, in virtual time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <sstream>
#include <vector>

#include "runtime/clock.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/timer.hpp"

namespace
{

const int kPending = 10000;

// Deterministic spread of periods.
unsigned period(unsigned i, unsigned range)
{
    return 1 + (i * 2654435761u) % range;
}

struct Owner {
    Timer timer;
    unsigned period = 0;
    static int fires_left;
    void on(Timer* t)
    {
        t->set(period, &Owner::on, this);
        if (--fires_left == 0)
            multiplexer.terminate();
    }
};
int Owner::fires_left = 0;

class Pending
{
public:
    explicit Pending(unsigned range) : mOwners(kPending)
    {
        Mux::setClock(&mClock);
        mClock.set_ms(1000);
        for (unsigned i = 0; i < mOwners.size(); ++i) {
            mOwners[i].period = period(i, range);
            mOwners[i].timer.set(mOwners[i].period, &Owner::on, &mOwners[i]);
        }
    }
    ~Pending()
    {
        mOwners.clear();
        Mux::setClock(nullptr);
    }
    Mux::TestClock& clock() { return mClock; }

private:
    Mux::TestClock mClock;
    std::vector<Owner> mOwners;
};

// Re-arming one timer at a random place among 10,000: the sorted insertion
// walks back from the latest expiry.
void BM_TimerSetRandom(benchmark::State& state)
{
    Pending pending(100000);
    Owner probe;
    unsigned i = 0;
    for (auto _ : state)
        probe.timer.set(period(++i, 100000), &Owner::on, &probe);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimerSetRandom);

// Re-arming behind every pending timer, the common case of a periodic timer.
void BM_TimerSetLatest(benchmark::State& state)
{
    Pending pending(100000);
    Owner probe;
    for (auto _ : state)
        probe.timer.set(200000, &Owner::on, &probe);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimerSetLatest);

// Arming and cancelling: the cancel unlinks without searching the list.
void BM_TimerSetThenReset(benchmark::State& state)
{
    Pending pending(100000);
    Owner probe;
    for (auto _ : state) {
        probe.timer.set(200000, &Owner::on, &probe);
        probe.timer.reset();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TimerSetThenReset);

// Firing through the loop: each timer re-arms itself with its own period, so
// 10,000 stay pending; one batch is 10,000 fires. With random periods each
// re-arm walks into the middle of the list; with one period for all it links
// at the tail.
void BM_TimerFire(benchmark::State& state)
{
    std::ostringstream sink;
    std::streambuf* old = std::clog.rdbuf(sink.rdbuf());
    {
        Pending pending(unsigned(state.range(0)));
        for (auto _ : state) {
            Owner::fires_left = kPending;
            multiplexer.run(false, true);
            sink.str("");
        }
        state.SetItemsProcessed(state.iterations() * kPending);
    }
    std::clog.rdbuf(old);
}
BENCHMARK(BM_TimerFire)->ArgName("period_range_ms")->Arg(10000)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace
