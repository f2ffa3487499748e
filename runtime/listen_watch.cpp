#include "runtime/listen_watch.hpp"

#include <cerrno>

bool ListenWatch::Watch(const Fd& listener)
{
    TimerEvent::reset();
    mListener = &listener;
    mEvent.Schedule(listener, POLLIN);
    if (mEvent.IsActive() || !listener.is_valid())
        return mEvent.IsActive();
    // The owner says why in its own line; the pause must not change it.
    const int error = errno;
    Pause();
    errno = error;
    return false;
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
