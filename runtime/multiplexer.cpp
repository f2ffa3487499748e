#include "runtime/multiplexer.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <iostream>
#include <type_traits>
#include <unistd.h>
#include <vector>

#include "runtime/clock.hpp"

// Never destroyed: the Events, Timers and Dpcs of static objects leave the
// loop from their destructors at exit, in whatever order exit runs them (the
// child-wait service's, through the last ChildWait::Init, runs after every
// other file's), so the loop must still be whole then.
Multiplexer multiplexer;
static_assert(std::is_trivially_destructible_v<Multiplexer>, "the loop must outlive every static object");

namespace
{
// Beyond this the clock must have jumped: no timer is ever armed for longer.
const std::int32_t kMaxWait = 7200000;
// The watchdog must be pinged at least this often.
const int kWatchdogCap = 1000;

bool before(const Dpc* a, const Dpc* b)
{
    return std::less<const Dpc*>()(a, b);
}
} // namespace

template <class T> void Multiplexer::PodArray<T>::resize(std::size_t n)
{
    if (n > mCapacity) {
        std::size_t cap = mCapacity ? mCapacity : 16;
        while (cap < n)
            cap *= 2;
        // The elements are pointers on purpose.
        // NOLINTNEXTLINE(bugprone-sizeof-expression)
        void* p = std::realloc(static_cast<void*>(mData), cap * sizeof(T));
        if (!p) {
            std::cerr << "multiplexer: out of memory" << std::endl;
            std::abort();
        }
        mData = static_cast<T*>(p);
        mCapacity = cap;
    }
    mSize = n;
}

template <class T> void Multiplexer::PodArray<T>::insert(std::size_t at, T value)
{
    resize(mSize + 1);
    std::copy_backward(mData + at, mData + mSize - 1, mData + mSize);
    mData[at] = value;
}

template <class T> void Multiplexer::PodArray<T>::erase(std::size_t at)
{
    std::copy(mData + at + 1, mData + mSize, mData + at);
    --mSize;
}

F_dual_list<EventHandler>& Multiplexer::list_of(unsigned char which)
{
    switch (which) {
    case kNew:
        return mNew;
    case kServiced:
        return mServiced;
    default:
        return mActive;
    }
}

// One turn, in order: due timers fire and the deferred calls run (the timer
// pass); the wait is bounded; poll entries are gathered; an empty loop aborts;
// the watchdog caps the wait; the deferred calls run again; poll waits; the
// watchdog is fed; the handlers are dispatched.
void Multiplexer::run(bool watchdog, bool no_cache)
{
    begin_run(watchdog, !no_cache);
    while (!mTerminate) {
        std::int32_t timeout = bound_wait(timers_schedule());
        const int entries = gather();
        check_hang(timeout, entries);
        cap_for_watchdog(timeout);
        execute_dpc();
        write_gathered_output();
        const int polled = wait(entries, timeout);
        ping_watchdog();
        if (handlers_ready(polled, entries))
            dispatch();
        write_gathered_output();
    }
    end_run();
}

void Multiplexer::begin_run(bool watchdog, bool cache)
{
    // A wake-up left from before only costs a turn; the flags it stood for are
    // read by the loop anyway.
    if (wake_pipe_open())
        drain_wake_pipe();
    mLastPing = 0;
    if (watchdog)
        mWatchdog.open();
    mUseCache = cache;
    if (mUseCache)
        Mux::mux_settimeofday();
    mRunning = true;
}

void Multiplexer::end_run()
{
    write_gathered_output();
    mRunning = false;
    std::clog << "Mux: terminating..." << std::endl;
    mWatchdog.stop();
    while (mDeleteHead)
        delete_deferred();
    if (mUseCache)
        Mux::mux_cleartimeofday();
    mUseCache = false;
    // Cleared on the way out, not on the way in, so that a request made before
    // the loop started is never lost; a later run starts afresh.
    mTerminate = 0;
}

std::int32_t Multiplexer::bound_wait(std::int32_t timer_wait)
{
    std::int32_t timeout = std::min(timer_wait, timerPoll_schedule());
    if (timeout == kNoBound)
        timeout = -1;
    // A stop asked for in this turn must not wait, and is no hang.
    if (mTerminate)
        timeout = 0;
    return timeout;
}

void Multiplexer::check_hang(std::int32_t timeout, int entries)
{
    if (timeout < 0 && entries == 0) {
        std::cerr << "multiplexer: system hang detected!!!" << std::endl;
        std::abort();
    }
}

void Multiplexer::cap_for_watchdog(std::int32_t& timeout) const
{
    if (mWatchdog.is_open() && (timeout < 0 || timeout > kWatchdogCap))
        timeout = kWatchdogCap;
}

int Multiplexer::wait(int entries, std::int32_t timeout)
{
    // A deferred call of the pass just run may have armed a timer due sooner.
    if (TimerEvent* head = mTimers.first()) {
        std::int32_t due = static_cast<std::int32_t>(head->mExpiry - Mux::milliseconds());
        if (due < 0)
            due = 0;
        if (timeout < 0 || due < timeout)
            timeout = due;
    }
    if (mTerminate)
        timeout = 0;

    const int polled = Mux::poll_wait(mPoll.data(), nfds_t(entries) + 1, timeout);
    mPollErrno = errno;
    for (int i = 0; i < entries; ++i) {
        if (EventHandler* h = mPollOwner[std::size_t(i)]) {
            h->mRevents = mPoll[std::size_t(i)].revents;
            h->mSlot = -1;
        }
    }
    if (mUseCache)
        Mux::mux_settimeofday();
    return polled;
}

bool Multiplexer::handlers_ready(int polled, int entries)
{
    if (polled == 0)
        return false;
    if (polled < 0) {
        if (mPollErrno == EINTR)
            return false;
        std::cerr << "multiplexer poll failed: " << std::strerror(mPollErrno) << std::endl;
        std::abort();
    }
    bool ready = false;
    for (int i = 0; i < entries; ++i) {
        if (mPollOwner[std::size_t(i)] && mPoll[std::size_t(i)].revents)
            ready = true;
    }
    if (mPoll[std::size_t(entries)].revents)
        drain_wake_pipe();
    // A wake-up alone ends the turn like an interrupted poll().
    return ready;
}

int Multiplexer::gather()
{
    while (EventHandler* h = mNew.remove_from_head()) {
        mActive.insert_to_tail(h);
        h->mList = kActive;
    }
    const std::size_t n = mActive.count();
    mPoll.resize(n + 1);
    mPollOwner.resize(n);
    std::size_t i = 0;
    for (EventHandler* h = mActive.first(); h; h = h->get_next(), ++i) {
        h->shedule_event(mPoll[i]);
        mPoll[i].revents = 0;
        mPollOwner[i] = h;
        h->mSlot = int(i);
    }
    mPoll[n].fd = mWakeRead;
    mPoll[n].events = POLLIN;
    mPoll[n].revents = 0;
    return int(n);
}

void Multiplexer::dispatch()
{
    while (!mTerminate) {
        EventHandler* h = mActive.remove_from_head();
        if (!h)
            break;
        mServiced.insert_to_tail(h);
        h->mList = kServiced;
        mEventMeasure.begin();
        h->svc_event();
        mEventMeasure.end();
    }
    // Handlers a stop left uncalled go behind the called ones, so that the
    // active list always holds every handler again.
    while (EventHandler* h = mActive.remove_from_head())
        mServiced.insert_to_tail(h);
    mServiced.merge(mActive);
    for (EventHandler* h = mActive.first(); h; h = h->get_next())
        h->mList = kActive;
}

void Multiplexer::write_at_turn_end(GatheredOutput* output)
{
    mOutputs.insert(mOutputs.size(), output);
}

void Multiplexer::withdraw_output(GatheredOutput* output)
{
    for (std::size_t i = 0; i < mOutputs.size(); ++i) {
        if (mOutputs[i] == output) {
            mOutputs.erase(i);
            return;
        }
    }
}

void GatheredOutput::write_at_turn_end()
{
    if (mWriteAsked)
        return;
    mWriteAsked = true;
    multiplexer.write_at_turn_end(this);
}

void GatheredOutput::withdraw_write()
{
    if (!mWriteAsked)
        return;
    mWriteAsked = false;
    multiplexer.withdraw_output(this);
}

// What the turn's callbacks gathered for writing leaves now: at the end of the
// dispatch, and before the wait for what timers and deferred calls sent.
void Multiplexer::write_gathered_output()
{
    // A write may end a link and so withdraw another request: take them one by one.
    while (mOutputs.size() != 0) {
        GatheredOutput* output = mOutputs[0];
        mOutputs.erase(0);
        output->mWriteAsked = false;
        output->write_gathered();
    }
}

void Multiplexer::ping_watchdog()
{
    const std::uint32_t now = Mux::milliseconds();
    if (mLastPing == 0 || mLastPing > now || now - mLastPing > 999) {
        mLastPing = now;
        resetWD();
    }
}

void Multiplexer::terminate()
{
    mTerminate = 1;
    wake();
}

void Multiplexer::wake()
{
    const int fd = mWakeWrite;
    if (fd < 0)
        return;
    const int saved = errno;
    const char byte = 0;
    // Non-blocking: a full pipe already guarantees a wake-up.
    ssize_t r = ::write(fd, &byte, 1);
    (void)r;
    errno = saved;
}

bool Multiplexer::wake_pipe_open()
{
    if (mWakeRead >= 0)
        return true;
    int p[2];
    if (::pipe2(p, O_NONBLOCK | O_CLOEXEC) != 0)
        return false;
    mWakeRead = p[0];
    mWakeWrite = p[1];
    return true;
}

void Multiplexer::drain_wake_pipe()
{
    char buf[64];
    while (::read(mWakeRead, buf, sizeof buf) > 0) {
    }
}

void Multiplexer::attach(EventHandler* h)
{
    if (h->mList != kNone) {
        std::cerr << "duplicate multiplexer attach \"" << h->event_name() << "\" ignored." << std::endl;
        return;
    }
    mNew.insert_to_tail(h);
    h->mList = kNew;
}

void Multiplexer::detach(EventHandler* h)
{
    if (h->mList == kNone) {
        std::cerr << "indvalid Multiplexer::detach " << h->event_name() << std::endl;
        return;
    }
    list_of(h->mList).remove(h);
    h->mList = kNone;
    if (h->mSlot >= 0) {
        // Left between gathering and poll(): its entry is no longer its own.
        mPollOwner[std::size_t(h->mSlot)] = nullptr;
        mPoll[std::size_t(h->mSlot)].fd = -1;
        h->mSlot = -1;
    }
}

void Multiplexer::set(TimerEvent* t)
{
    reset(t);
    mTimers.insert_to_tail_by_grown(t);
    t->mQueued = true;
}

void Multiplexer::reset(TimerEvent* t)
{
    if (!t->mQueued)
        return;
    mTimers.remove(t);
    t->mQueued = false;
}

// The timer pass: the timers due at one clock reading fire, a deferred-call
// pass runs, and the wait until the first timer from that reading is the
// result.
std::int32_t Multiplexer::timers_schedule()
{
    const std::uint32_t now = Mux::milliseconds();
    while (TimerEvent* head = mTimers.first()) {
        if (static_cast<std::int32_t>(now - head->mExpiry) < 0)
            break;
        mTimers.remove_from_head();
        head->mQueued = false;
        mTimerMeasure.begin();
        head->fire();
        mTimerMeasure.end();
    }
    execute_dpc();
    return timer_wait(now);
}

// Milliseconds from `now` to the first timer. A wait beyond any timer ever
// armed means the clock has jumped: every timer is put one second ahead.
std::int32_t Multiplexer::timer_wait(std::uint32_t now)
{
    TimerEvent* head = mTimers.first();
    // An empty list sets no bound; a due timer makes poll() return at once.
    if (!head)
        return kNoBound;
    const std::uint32_t first = head->mExpiry;
    const std::int32_t wait = static_cast<std::int32_t>(first - now);
    if (wait >= 0 && wait <= kMaxWait)
        return wait;

    std::cerr << "******** RUNTIME ERROR CONDITION *************"
              << "Multiplexer::timers_schedule() invalid wait time detected!\n"
              << "now = " << std::to_string(now) << "\n"
              << "first = " << std::to_string(first) << "\n"
              << "count = " << std::to_string(mTimers.count()) << std::endl;
    for (TimerEvent* t = head; t; t = t->get_next())
        t->mExpiry = now + kWatchdogCap;
    return kWatchdogCap;
}

void Multiplexer::attach(Dpc* dpc)
{
    std::size_t lo = 0, hi = mDpcs.size();
    while (lo < hi) {
        std::size_t mid = (lo + hi) / 2;
        if (before(mDpcs[mid], dpc))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < mDpcs.size() && mDpcs[lo] == dpc)
        return;
    mDpcs.insert(lo, dpc);
}

void Multiplexer::dettach(Dpc* dpc)
{
    for (std::size_t i = 0; i < mDpcs.size(); ++i) {
        if (mDpcs[i] == dpc) {
            mDpcs.erase(i);
            break;
        }
    }
    for (std::size_t i = mDpcNext; i < mDpcWork.size(); ++i) {
        if (mDpcWork[i] == dpc) {
            mDpcWork.erase(i);
            break;
        }
    }
}

void Multiplexer::deferredDelete(DeferredDeletable* object)
{
    if (!object || object->mDeletePending)
        return;
    object->mDeletePending = true;
    object->mNextDeleted = nullptr;
    if (mDeleteTail)
        mDeleteTail->mNextDeleted = object;
    else
        mDeleteHead = object;
    mDeleteTail = object;
}

// Deletes the objects handed over before this call; those that their
// destructors hand over wait for the next call.
void Multiplexer::delete_deferred()
{
    DeferredDeletable* batch = mDeleteHead;
    mDeleteHead = mDeleteTail = nullptr;
    while (batch) {
        DeferredDeletable* next = batch->mNextDeleted;
        batch->mDeletePending = false;
        delete batch;
        batch = next;
    }
}

void Multiplexer::execute_dpc()
{
    delete_deferred();
    mDpcWork.resize(mDpcs.size());
    std::copy(mDpcs.data(), mDpcs.data() + mDpcs.size(), mDpcWork.data());
    mDpcNext = 0;
    while (mDpcNext < mDpcWork.size()) {
        Dpc* d = mDpcWork[mDpcNext++];
        mDpcMeasure.begin();
        d->Invoke();
        mDpcMeasure.end();
    }
    mDpcWork.clear();
    mDpcNext = 0;
}

namespace
{
// Holds the plug-ins not yet asked in this round, so that a plug-in may unhook
// itself or another while it is being asked.
class TimerPollGuard : public Multiplexer::TimerPollNotify
{
public:
    std::vector<TimerPoolPlugin*> pending;
    std::function<void(TimerPoolPlugin*)> remove_hooked;
    void removeTimerPoolPlugin(TimerPoolPlugin* p) override
    {
        pending.erase(std::remove(pending.begin(), pending.end(), p), pending.end());
        remove_hooked(p);
    }
};
} // namespace

std::int32_t Multiplexer::timerPoll_schedule()
{
    if (mPlugins.size() == 0)
        return kNoBound;
    TimerPollGuard guard;
    guard.pending.assign(mPlugins.data(), mPlugins.data() + mPlugins.size());
    mPlugins.clear();
    guard.remove_hooked = [this](TimerPoolPlugin* p) {
        for (std::size_t i = 0; i < mPlugins.size(); ++i) {
            if (mPlugins[i] == p) {
                mPlugins.erase(i);
                return;
            }
        }
    };
    mPluginGuard = &guard;
    std::int32_t best = kNoBound;
    while (!guard.pending.empty()) {
        TimerPoolPlugin* p = guard.pending.front();
        guard.pending.erase(guard.pending.begin());
        mPlugins.insert(mPlugins.size(), p);
        const int wait = p->timerPoll();
        if (wait >= 0 && wait < best)
            best = wait;
    }
    mPluginGuard = nullptr;
    return best;
}

void Multiplexer::hook(TimerPoolPlugin* p)
{
    mPlugins.insert(mPlugins.size(), p);
}

void Multiplexer::unhook(TimerPoolPlugin* p)
{
    if (mPluginGuard) {
        mPluginGuard->removeTimerPoolPlugin(p);
        return;
    }
    for (std::size_t i = 0; i < mPlugins.size(); ++i) {
        if (mPlugins[i] == p) {
            mPlugins.erase(i);
            return;
        }
    }
}

void TimerPoolPlugin::timerHook()
{
    if (mHooked)
        return;
    multiplexer.hook(this);
    mHooked = true;
}

void TimerPoolPlugin::timerUnhook()
{
    if (!mHooked)
        return;
    multiplexer.unhook(this);
    mHooked = false;
}

void Multiplexer::resetWD()
{
    mWatchdog.ping();
}

std::string PollEventAsText(short events)
{
    // Bit values of the PowerPC Linux ABI, written out rather than taken from
    // the host's <poll.h>.
    static const struct {
        unsigned bit;
        const char* name;
    } bits[] = {{0x1, "|POLLIN"},       {0x2, "|POLLPRI"},      {0x4, "|POLLOUT"},     {0x8, "|POLLERR"},
                {0x10, "|POLLHUP"},     {0x20, "|POLLNVAL"},    {0x40, "|POLLRDNORM"}, {0x80, "|POLLRDBAND"},
                {0x100, "|POLLWRNORM"}, {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"}};
    std::string text;
    const unsigned mask = static_cast<unsigned short>(events);
    for (const auto& b : bits) {
        if (mask & b.bit)
            text += b.name;
    }
    return text.empty() ? text : text.substr(1);
}
