#include "runtime/event.hpp"

#include <poll.h>
#include <utility>

#include "runtime/multiplexer.hpp"

void EventHandler::mux_attach()
{
    if (mAttached)
        return;
    multiplexer.attach(this);
    mAttached = true;
}

void EventHandler::mux_detach()
{
    if (!mAttached)
        return;
    multiplexer.detach(this);
    mAttached = false;
}

Event::~Event()
{
    UnBind();
    if (mFd.is_valid())
        mux_detach();
}

void Event::Schedule(const Fd& fd, short events)
{
    if (mFd.is_valid())
        mux_detach();
    mFd = fd;
    mEvents = events;
    if (mFd.is_valid())
        mux_attach();
}

void Event::Schedule(Fd&& fd, short events)
{
    if (mFd.is_valid())
        mux_detach();
    mFd = std::move(fd);
    mEvents = events;
    if (mFd.is_valid())
        mux_attach();
}

int Event::Release()
{
    if (mFd.is_valid())
        mux_detach();
    return mFd.close();
}

bool Event::HungUp() const
{
    pollfd p{mFd.lowlevel_fd(), 0, 0};
    return mFd.is_valid() && ::poll(&p, 1, 0) == 1 && (p.revents & (POLLHUP | POLLERR)) != 0;
}

void Event::Bind(Handler* handler)
{
    Handler* old = mHandler;
    mHandler = handler;
    delete old;
}

void Event::UnBind()
{
    Handler* old = mHandler;
    mHandler = nullptr;
    delete old;
}

void Event::shedule_event(pollfd& entry)
{
    entry.fd = mFd.lowlevel_fd();
    entry.events = mEvents;
    entry.revents = 0;
}

void Event::svc_event(short revents)
{
    if (revents & mEvents)
        ++mCount;
    // The callback may destroy this event: nothing of it is touched afterwards.
    if (mHandler)
        mHandler->Invoke(mFd.lowlevel_fd(), revents);
}

void Event::status_row(ext::Table::Sentry& row) const
{
    row << event_name() << ext::nextrow << PollEventAsText(events()) << ext::nextrow << count()
        << ext::nextrow << (is_bound() ? "attached" : "unattached") << ext::nextrow << lowlevel_fd()
        << ext::nextrow << measure() << ext::nextrow;
}
