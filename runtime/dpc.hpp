#pragma once
// Deferred calls: level-triggered work that the loop runs in both deferred-call
// passes of every turn while the Dpc is active, in the order of the objects'
// addresses. Used for work that must not run inside the callback that found it.

class DpcHandler
{
public:
    virtual void Invoke() = 0;
    virtual ~DpcHandler() = default;
};

class DpcHandler1 : public DpcHandler
{
public:
    explicit DpcHandler1(void (*function)()) : mFunction(function) {}
    void Invoke() override
    {
        if (mFunction)
            mFunction();
    }

private:
    void (*mFunction)();
};

template <class T> class TDpcHandler : public DpcHandler
{
public:
    TDpcHandler(T* object, void (T::*action)()) : mObject(object), mAction(action) {}
    void Invoke() override
    {
        if (mObject && mAction)
            (mObject->*mAction)();
    }

private:
    T* mObject;
    void (T::*mAction)();
};

class Dpc
{
public:
    Dpc() = default;
    ~Dpc();
    Dpc(const Dpc&) = delete;
    Dpc& operator=(const Dpc&) = delete;

    void Bind(DpcHandler* handler);
    void Bind(void (*function)()) { Bind(new DpcHandler1(function)); }
    template <class T> void Bind(T* object, void (T::*action)()) { Bind(new TDpcHandler<T>(object, action)); }

    void Activate();
    void Deactivate();
    bool IsActive() const { return mActive; }

    // Called by the loop. Touches nothing of the Dpc after the handler
    // returns, so the handler may rebind or destroy its own Dpc.
    void Invoke();

private:
    DpcHandler* mHandler = nullptr;
    bool mActive = false;
};
