#pragma once
// One-shot millisecond timers. A Timer owns at most one pending entry; the loop
// takes a due entry off its list, the entry unbinds itself from its Timer (which
// then reads as idle), calls back and deletes itself, so the callback may re-arm
// the timer, arm or reset others, or destroy the timer's owner.
#include <cstdint>

#include "runtime/lists.hpp"

class Multiplexer;
class Timer;

class TimerEvent : public F_dual_list_item<TimerEvent>
{
public:
    TimerEvent() = default;
    TimerEvent(const TimerEvent&) = delete;
    TimerEvent& operator=(const TimerEvent&) = delete;
    virtual ~TimerEvent();
    virtual void fire() = 0;

    void schedule(unsigned ms);
    void reset();
    // Signed 32-bit difference of the expiries: negative when this one is first.
    std::int32_t compare(const TimerEvent* other) const
    {
        return static_cast<std::int32_t>(mExpiry - other->mExpiry);
    }
    std::uint32_t expiry() const { return mExpiry; }
    bool is_queued() const { return mQueued; }

private:
    friend class Multiplexer;
    std::uint32_t mExpiry = 0;
    bool mQueued = false;
};

class Timer
{
public:
    Timer() = default;
    ~Timer() { reset(); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    template <class T> void set(unsigned ms, void (T::*action)(), T* object);
    template <class T> void set(unsigned ms, void (T::*action)(Timer*), T* object);
    void reset();
    bool is_running() const { return mEntry != nullptr; }
    // Gives up the pending entry without deleting it.
    TimerEvent* Unbind()
    {
        TimerEvent* e = mEntry;
        mEntry = nullptr;
        return e;
    }

private:
    void adopt(TimerEvent* entry);
    TimerEvent* mEntry = nullptr;
};

template <class T> class ObjTimerEvent1 : public TimerEvent
{
public:
    ObjTimerEvent1(Timer* owner, void (T::*action)(), T* object, unsigned ms)
        : mOwner(owner), mAction(action), mObject(object)
    {
        schedule(ms);
    }
    void fire() override
    {
        mOwner->Unbind();
        (mObject->*mAction)();
        delete this;
    }

private:
    Timer* mOwner;
    void (T::*mAction)();
    T* mObject;
};

template <class T> class ObjTimerEvent2 : public TimerEvent
{
public:
    ObjTimerEvent2(Timer* owner, void (T::*action)(Timer*), T* object, unsigned ms)
        : mOwner(owner), mAction(action), mObject(object)
    {
        schedule(ms);
    }
    void fire() override
    {
        Timer* owner = mOwner;
        owner->Unbind();
        (mObject->*mAction)(owner);
        delete this;
    }

private:
    Timer* mOwner;
    void (T::*mAction)(Timer*);
    T* mObject;
};

template <class T> void Timer::set(unsigned ms, void (T::*action)(), T* object)
{
    adopt(new ObjTimerEvent1<T>(this, action, object, ms));
}

template <class T> void Timer::set(unsigned ms, void (T::*action)(Timer*), T* object)
{
    adopt(new ObjTimerEvent2<T>(this, action, object, ms));
}

// A Timer whose action and period are fixed per owner class by a static record.
template <class T> struct TimerSpec {
    struct Record {
        void (T::*action)();
        std::uint32_t period;
    };
    template <const Record* record> class SpecTimer : public Timer
    {
    public:
        void set(T* object) { Timer::set(record->period, record->action, object); }
    };
};
