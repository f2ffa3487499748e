#include "runtime/listen_watch.hpp"

bool ListenWatch::Watch(const Fd& listener)
{
    TimerEvent::reset();
    mListener = &listener;
    mEvent.Schedule(listener, POLLIN);
    return mEvent.IsActive();
}

void ListenWatch::Release()
{
    TimerEvent::reset();
    mEvent.Release();
    mListener = nullptr;
}

bool ListenWatch::PauseOnShortage(int error)
{
    if (!ShortOfResources(error))
        return false;
    Pause();
    return true;
}

void ListenWatch::Pause()
{
    mEvent.Release();
    schedule(pause_ms);
}

void ListenWatch::fire()
{
    if (!mListener || !mListener->is_valid())
        return;
    // Still out of descriptors, the event gets no duplicate of the socket:
    // wait again rather than stop listening for good.
    mEvent.Schedule(*mListener, POLLIN);
    if (!mEvent.IsActive())
        Pause();
}
