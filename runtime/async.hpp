#pragma once
// Non-blocking helpers for the voice slots: Copy pumps bytes from one
// descriptor to another as each becomes ready, Connect opens an outgoing TCP
// connection bounded by a time-out. Each reports its end exactly once to its
// handler, and the handler is always called last, so it may start the helper
// again or destroy it.
#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/timer.hpp"

#include <poll.h>
#include <string>

namespace ASync
{

class Copy
{
public:
    struct Status {
        enum Type { Idle = 0, Running = 1, Draining = 2, FlushWait = 3, Failed = 4, Done = 5, Reset = 6 };
    };

    struct EventsParams {
        EventsParams(int src = POLLIN, int dst = POLLOUT, int flush = POLLWRNORM)
            : src_events(src), dst_events(dst), flush_events(flush)
        {
        }
        int src_events;
        int dst_events;
        // 0: no wait for a flush event after the last write.
        int flush_events;
    };

    class Handler
    {
    public:
        virtual ~Handler() {}
        virtual void Invoke(Status::Type status) = 0;
    };

    template <class T> class THandler : public Handler
    {
    public:
        typedef void (T::*Action)(Status::Type);
        THandler(Action action, T* object) : mAction(action), mObject(object) {}
        void Invoke(Status::Type status) override { (mObject->*mAction)(status); }

    private:
        Action mAction;
        T* mObject;
    };

    Copy();
    // Closes everything without calling the handler.
    ~Copy();
    Copy(const Copy&) = delete;
    Copy& operator=(const Copy&) = delete;

    void Start(const Fd& src, const Fd& dst);
    void Stop();
    // Both end a copy in progress with Reset.
    void set_events(const EventsParams& params);
    void set_bufsize(unsigned n);

    void Bind(Handler* handler);
    template <class T> void Bind(void (T::*action)(Status::Type), T* object)
    {
        Bind(new THandler<T>(action, object));
    }
    void UnBind() { Bind(nullptr); }

    Status::Type status() const { return mStatus; }
    // errno of the failed read or write; 0 otherwise.
    int error() const { return mError; }
    unsigned copied() const { return mCopied; }

private:
    typedef bool (Copy::*Step)();

    bool SrcReady();
    bool DstReady();
    bool NotReady() { return false; }
    void Progress();
    bool FlushPhase();
    bool DstFlush();
    void WaitSrc();
    void WaitDst();
    void Complete(Status::Type status);
    void OnSrcEvent(int fd, short revents);
    void OnDstEvent(int fd, short revents);

    Fd mSrc;
    Fd mDst;
    EventsParams mEvents;
    unsigned mBufSize = 0;
    int mError = 0;
    Step mStep;
    Handler* mHandler = nullptr;
    Event mSrcEvent;
    Event mDstEvent;
    unsigned mCopied = 0;
    unsigned mFirst = 0; // first byte not yet written
    unsigned mEnd = 0;   // end of the data read
    Status::Type mStatus = Status::Idle;
    char* mBuffer = nullptr;
};

class Connect
{
public:
    struct Status {
        enum Type { Idle = 0, Running = 1, Failed = 2, Connected = 3, Stopped = 4 };
    };

    class Handler
    {
    public:
        virtual ~Handler() {}
        // fd: the connected descriptor for Connected, invalid otherwise.
        virtual void Invoke(Status::Type status, Fd fd) = 0;
    };

    template <class T> class THandler : public Handler
    {
    public:
        typedef void (T::*Action)(Status::Type, Fd);
        THandler(Action action, T* object) : mAction(action), mObject(object) {}
        void Invoke(Status::Type status, Fd fd) override { (mObject->*mAction)(status, fd); }

    private:
        Action mAction;
        T* mObject;
    };

    Connect() {}
    // Releases everything without calling the handler.
    ~Connect();
    Connect(const Connect&) = delete;
    Connect& operator=(const Connect&) = delete;

    // address: "a.b.c.d:port".
    void Start(const std::string& address, unsigned timeout_ms);
    void Stop() { Complete(Status::Stopped); }

    void Bind(Handler* handler);
    template <class T> void Bind(void (T::*action)(Status::Type, Fd), T* object)
    {
        Bind(new THandler<T>(action, object));
    }
    void UnBind() { Bind(nullptr); }

    Status::Type status() const { return mStatus; }

private:
    void OnSocketEvent(int fd, short revents);
    void OnTimeOut();
    void Complete(Status::Type status);

    Status::Type mStatus = Status::Idle;
    Fd mSocket;
    Event mEvent;
    Handler* mHandler = nullptr;
    Timer mTimer;
};

} // namespace ASync
