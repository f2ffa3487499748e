#pragma once
// Defers an object's reaction to the moment the outermost of its nested
// callbacks returns: each guarded call counts itself in the object's
// `level` member, and the last one out calls `check`, which may destroy the
// object (the guard touches nothing after that call).

namespace ext
{

template <class T, void (T::*check)(), int T::*level> class RecursiveGuard
{
public:
    explicit RecursiveGuard(T* object) : mObject(object) { ++(mObject->*level); }
    explicit RecursiveGuard(T& object) : RecursiveGuard(&object) {}
    ~RecursiveGuard()
    {
        if (--(mObject->*level) == 0)
            (mObject->*check)();
    }
    RecursiveGuard(const RecursiveGuard&) = delete;
    RecursiveGuard& operator=(const RecursiveGuard&) = delete;

private:
    T* mObject;
};

} // namespace ext
