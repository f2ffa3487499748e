#pragma once
// Descriptor events. An armed Event holds its own duplicate of the watched
// descriptor and is called in every loop pass in which poll() reported
// anything for any descriptor, with its own returned events (often 0), so each
// callback tests the bits it needs.
#include <poll.h>
#include <string>

#include "runtime/fd.hpp"
#include "runtime/lists.hpp"
#include "runtime/measure.hpp"
#include "runtime/table.hpp"

class Multiplexer;

class EventHandler : public F_dual_list_item<EventHandler>
{
public:
    EventHandler() = default;
    EventHandler(const EventHandler&) = delete;
    EventHandler& operator=(const EventHandler&) = delete;
    // Does not unregister: a derived class must do it.
    virtual ~EventHandler() = default;

    virtual void shedule_event(pollfd& entry) = 0;
    virtual void svc_event(short revents) = 0;
    virtual std::string event_name() const { return "unknown"; }
    virtual bool is_named() const { return false; }
    // The handler's row of the status dump's table; named handlers write one.
    virtual void status_row(ext::Table::Sentry&) const {}

    void mux_attach();
    void mux_detach();
    void svc_event() { svc_event(mRevents); }
    bool is_attached() const { return mAttached; }
    short revents() const { return mRevents; }

private:
    friend class Multiplexer;
    bool mAttached = false;
    short mRevents = 0;
    // Bookkeeping of the loop: which of its lists holds the handler, and the
    // poll entry gathered for it in the current turn (-1 for none).
    unsigned char mList = 0;
    int mSlot = -1;
};

class Event : public EventHandler
{
public:
    class Handler
    {
    public:
        virtual ~Handler() = default;
        virtual void Invoke(int fd, short revents) = 0;
    };

    template <class T> class THandler : public Handler
    {
    public:
        using Action = void (T::*)(int, short);
        THandler(Action action, T* object) : mAction(action), mObject(object) {}
        void Invoke(int fd, short revents) override
        {
            if (mAction)
                (mObject->*mAction)(fd, revents);
        }

    private:
        Action mAction;
        T* mObject;
    };

    Event() = default;
    ~Event() override;

    void Schedule(const Fd& fd, short events);
    // Takes the descriptor over instead of a duplicate: the event is then the
    // only holder of what the descriptor holds (a device's resource), and
    // arming it cannot fail for want of a descriptor.
    void Schedule(Fd&& fd, short events);
    void SetEvents(int events) { mEvents = static_cast<short>(events); }
    int Release();

    void Bind(Handler* handler);
    void UnBind();
    template <class T> void Bind(const std::string& name, typename THandler<T>::Action action, T* object)
    {
        mName = name;
        Bind(new THandler<T>(action, object));
    }

    int lowlevel_fd() const { return mFd.lowlevel_fd(); }
    bool IsActive() const { return mFd.is_valid(); }
    // True when the descriptor shows a hang-up or an error now, which the
    // loop may not have handed out yet (it came in this loop turn).
    bool HungUp() const;
    const Measure& measure() const { return mMeasure; }
    Measure& measure() { return mMeasure; }
    short events() const { return mEvents; }
    unsigned count() const { return mCount; }
    bool is_bound() const { return mHandler != nullptr; }

    void shedule_event(pollfd& entry) override;
    void svc_event(short revents) override;
    using EventHandler::svc_event;
    std::string event_name() const override { return mName; }
    bool is_named() const override { return true; }
    void status_row(ext::Table::Sentry& row) const override;

private:
    Handler* mHandler = nullptr;
    Fd mFd;
    short mEvents = 0;
    std::string mName = "Unknown";
    unsigned mCount = 0;
    Measure mMeasure;
};
