#include "runtime/timer.hpp"

#include "runtime/clock.hpp"
#include "runtime/multiplexer.hpp"

TimerEvent::~TimerEvent()
{
    reset();
}

void TimerEvent::schedule(unsigned ms)
{
    mExpiry = Mux::milliseconds() + ms;
    multiplexer.set(this);
}

void TimerEvent::reset()
{
    multiplexer.reset(this);
}

void Timer::adopt(TimerEvent* entry)
{
    TimerEvent* old = mEntry;
    mEntry = entry;
    delete old;
}

void Timer::reset()
{
    TimerEvent* old = mEntry;
    mEntry = nullptr;
    delete old;
}
