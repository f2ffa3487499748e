#pragma once
// The daemon's one poll() loop. All work is done in callbacks from here:
// descriptor events, one-shot timers and deferred calls. Each callback runs to
// completion and may attach, detach, arm, cancel, activate, deactivate or
// destroy any loop object, itself included; the loop touches no object after
// its callback returns.
//
// The global `multiplexer` is constant-initialised and has a trivial
// destructor, so every static object of every file may use it from its own
// constructor or destructor whatever the order of static initialisation.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <poll.h>
#include <string>

#include "runtime/deferred_delete.hpp"
#include "runtime/dpc.hpp"
#include "runtime/event.hpp"
#include "runtime/lists.hpp"
#include "runtime/measure.hpp"
#include "runtime/timer.hpp"
#include "runtime/watchdog.hpp"

class TimerPoolPlugin;

// Output that an object gathers while a loop turn dispatches and writes in one go
// when the dispatch ends, before the loop waits again.
class GatheredOutput
{
public:
    GatheredOutput() = default;
    GatheredOutput(const GatheredOutput&) = delete;
    GatheredOutput& operator=(const GatheredOutput&) = delete;

    // Called once at the end of a turn in which write_at_turn_end() was asked.
    virtual void write_gathered() = 0;

protected:
    ~GatheredOutput() { withdraw_write(); }
    // Asks for write_gathered() at the end of this turn; asking again in the
    // same turn changes nothing.
    void write_at_turn_end();
    void withdraw_write();

private:
    friend class Multiplexer;
    bool mWriteAsked = false;
};

class Multiplexer
{
public:
    class TimerPollNotify
    {
    public:
        virtual void removeTimerPoolPlugin(TimerPoolPlugin* plugin) = 0;

    protected:
        ~TimerPollNotify() = default;
    };

    constexpr Multiplexer() = default;
    Multiplexer(const Multiplexer&) = delete;
    Multiplexer& operator=(const Multiplexer&) = delete;

    // Runs turns until a terminate request. A request made before run starts
    // (a SIGTERM during start-up) is kept, and then no turn is run at all.
    void run(bool watchdog, bool no_cache);
    // Async-signal-safe: sets the flag and wakes a poll() in progress or about
    // to start.
    void terminate();
    // Async-signal-safe: makes the poll() in progress or about to start return,
    // so that a flag set by a signal handler is seen within one turn.
    void wake();
    bool terminating() const { return mTerminate != 0; }

    // Takes the object over and deletes it in the next deferred-call pass;
    // handing over an object already pending changes nothing.
    void deferredDelete(DeferredDeletable* object);

    bool event_exists(EventHandler* handler) const { return handler->mList != kNone; }
    unsigned timer_count() const { return mTimers.count(); }

    // True while run() turns; output is gathered only then.
    bool running() const { return mRunning; }

    // Writes "PING" to the watchdog; code that blocks inside one callback for
    // long calls it to keep the board from resetting.
    void resetWD();
    // The loop's own feeding of the watchdog, on the loop's clock: a ping at
    // most once a second, and at once when the clock went back. A callback
    // that waits for long calls it as often as it likes.
    void ping_watchdog();
    // The loop's part of the status dump (loop_status.cpp).
    void dump(std::ostream& os) const;

    // Callback counts and durations of the loop's own work.
    const Measure& dpc_measure() const { return mDpcMeasure; }
    const Measure& event_measure() const { return mEventMeasure; }
    const Measure& timer_measure() const { return mTimerMeasure; }

private:
    // Registration is reached only through the loop objects themselves.
    friend class EventHandler;
    friend class TimerEvent;
    friend class Dpc;
    friend class TimerPoolPlugin;
    friend class GatheredOutput;
    // Lets the loop's own tests call the registration directly.
    friend struct MultiplexerProbe;

    void attach(EventHandler* handler);
    void detach(EventHandler* handler);
    void set(TimerEvent* timer);
    void reset(TimerEvent* timer);
    void attach(Dpc* dpc);
    void dettach(Dpc* dpc);
    void hook(TimerPoolPlugin* plugin);
    void unhook(TimerPoolPlugin* plugin);
    void write_at_turn_end(GatheredOutput* output);
    void withdraw_output(GatheredOutput* output);

    // A growable array of plain values that needs no constructor at static
    // initialisation and no destructor at exit.
    template <class T> class PodArray
    {
    public:
        constexpr PodArray() = default;
        std::size_t size() const { return mSize; }
        T* data() const { return mData; }
        T& operator[](std::size_t i) const { return mData[i]; }
        void resize(std::size_t n);
        void insert(std::size_t at, T value);
        void erase(std::size_t at);
        void clear() { mSize = 0; }

    private:
        T* mData = nullptr;
        std::size_t mSize = 0;
        std::size_t mCapacity = 0;
    };

    enum : unsigned char { kNone = 0, kNew = 1, kServiced = 2, kActive = 3 };
    static constexpr int kNoBound = 0x7fffffff;

    F_dual_list<EventHandler>& list_of(unsigned char which);

    // The steps of run, in the order of a turn.
    void begin_run(bool watchdog, bool cache);
    std::int32_t timers_schedule();
    void execute_dpc();
    std::int32_t bound_wait(std::int32_t timer_wait);
    int gather();
    static void check_hang(std::int32_t timeout, int entries);
    void cap_for_watchdog(std::int32_t& timeout) const;
    int wait(int entries, std::int32_t timeout);
    bool handlers_ready(int polled, int entries);
    void dispatch();
    void write_gathered_output();
    void end_run();

    std::int32_t timer_wait(std::uint32_t now);
    std::int32_t timerPoll_schedule();
    void delete_deferred();
    bool wake_pipe_open();
    void drain_wake_pipe();

    F_sorted_list<TimerEvent> mTimers;
    F_dual_list<EventHandler> mNew;
    F_dual_list<EventHandler> mServiced;
    F_dual_list<EventHandler> mActive;
    PodArray<pollfd> mPoll;
    // The handler that owns each poll entry, nulled when it leaves the loop
    // between gathering and poll(), so that its entry is skipped.
    PodArray<EventHandler*> mPollOwner;
    PodArray<Dpc*> mDpcs;
    PodArray<Dpc*> mDpcWork;
    std::size_t mDpcNext = 0;
    DeferredDeletable* mDeleteHead = nullptr;
    DeferredDeletable* mDeleteTail = nullptr;
    volatile std::sig_atomic_t mTerminate = 0;
    Measure mDpcMeasure;
    Measure mEventMeasure;
    Measure mTimerMeasure;
    PodArray<GatheredOutput*> mOutputs;
    bool mRunning = false;
    PodArray<TimerPoolPlugin*> mPlugins;
    TimerPollNotify* mPluginGuard = nullptr;
    Watchdog mWatchdog;
    std::uint32_t mLastPing = 0;
    bool mUseCache = false;
    int mPollErrno = 0;
    // Self-pipe: signal handlers write one byte to wake a waiting poll().
    volatile int mWakeRead = -1;
    volatile int mWakeWrite = -1;
};

extern Multiplexer multiplexer;

// Service wanted in a given number of milliseconds (negative: none).
class TimerPoolPlugin
{
public:
    TimerPoolPlugin() = default;
    TimerPoolPlugin(const TimerPoolPlugin&) = delete;
    TimerPoolPlugin& operator=(const TimerPoolPlugin&) = delete;
    virtual ~TimerPoolPlugin() { timerUnhook(); }
    virtual int timerPoll() = 0;

    void timerHook();
    void timerUnhook();

private:
    bool mHooked = false;
};

// "POLLIN|POLLOUT" and the like; empty for no bits.
std::string PollEventAsText(short events);
