#pragma once
// The watch every accept loop keeps on its listening socket. An accept that
// fails for lack of descriptors or memory leaves the waiting peer queued and
// the socket readable: watching on would turn the loop at once, for ever.
// The watch stops instead and starts again by itself after a pause of
// pause_ms (and pauses again while the process still cannot give it the
// duplicate of the socket it polls), so that the waiting peer is taken then.
#include <string>

#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/timer.hpp"

// The watch is its own timer entry: a pause allocates nothing, so it is taken
// even when memory is what ran out.
class ListenWatch : private TimerEvent
{
public:
    static constexpr unsigned pause_ms = 5000;

    ListenWatch() = default;
    ~ListenWatch() override = default;
    ListenWatch(const ListenWatch&) = delete;
    ListenWatch& operator=(const ListenWatch&) = delete;

    template <class T>
    void Bind(const std::string& name, typename Event::THandler<T>::Action action, T* object)
    {
        mEvent.Bind<T>(name, action, object);
    }

    // Watches `listener` for input; the socket stays the owner's, who releases
    // the watch before closing it. False, errno telling why, when no
    // descriptor was left for the watch: it pauses then, and tries again
    // after each pause until it gets one, so that the socket is never left
    // unpolled; peers that connect meanwhile wait in its queue.
    bool Watch(const Fd& listener);
    // Stops watching, a pause included.
    void Release();
    // After an accept failed with `error`: on a lack of descriptors or memory
    // the watch pauses (true); any other error changes nothing (false).
    bool PauseOnShortage(int error);

    bool IsActive() const { return mEvent.IsActive(); }
    bool IsPaused() const { return is_queued(); }

private:
    // Stops watching for pause_ms, then watches again.
    void Pause();
    // The end of a pause: watches again.
    void fire() override;

    Event mEvent;
    const Fd* mListener = nullptr;
};
