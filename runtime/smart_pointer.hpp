#pragma once
// Intrusive reference-counting pointer. The object carries its own count (an
// accessible member `std::uint32_t ref_count`, 0 when the object is made), so
// a handle is one pointer wide and sharing never allocates.
//
// Non-const access to a shared object first gives the handle a private copy
// (copy on write), so a change made through one handle never shows through
// another. The copy is made by Smart_pointer_traits<T>::copy, which a type may
// specialise (packet buffers copy into the pool). Polymorphic objects (the
// protocol status objects) are never copied: a copy made through the base
// class would slice them, and all their operations are const anyway.
//
// Dereferencing a null pointer is a fatal contract violation: it writes
// "SMART POINTER ASSERTION!" on std::clog and terminates.
#include <cstdint>
#include <type_traits>

[[noreturn]] void SmartPtrAssertion();

template <class T> struct Smart_pointer_traits {
    // A new object equal to the given one, or null when none can be made.
    static T* copy(const T& object) { return new T(object); }
};

template <class T> class Smart_pointer
{
public:
    Smart_pointer() = default;
    Smart_pointer(T* object) : mObject(object) { take(); }
    Smart_pointer(const Smart_pointer& other) : mObject(other.mObject) { take(); }
    ~Smart_pointer() { remove_current(); }

    // Assign ignores its own object.
    // NOLINTNEXTLINE(bugprone-unhandled-self-assignment)
    Smart_pointer& operator=(const Smart_pointer& other) { return assign(other.mObject); }
    Smart_pointer& operator=(T* object) { return assign(object); }

    // Drops this holder; the last holder destroys the object.
    void remove_current()
    {
        if (!mObject)
            return;
        if (mObject->ref_count > 0)
            --mObject->ref_count;
        if (mObject->ref_count == 0) {
            delete mObject;
            mObject = nullptr;
        }
    }

    // Releases and leaves the pointer null in every case.
    void clean()
    {
        remove_current();
        mObject = nullptr;
    }

    bool null() const { return mObject == nullptr; }
    explicit operator bool() const { return mObject != nullptr; }
    bool operator!() const { return mObject == nullptr; }

    const T* operator->() const
    {
        if (!mObject)
            SmartPtrAssertion();
        return mObject;
    }

    // Non-const access makes the object private first. When no copy can be
    // made (an exhausted pool), the caller's own test of prepare_for_modify()
    // is the way to notice; this form then hands out the shared object.
    T* operator->()
    {
        if (!mObject)
            SmartPtrAssertion();
        prepare_for_modify();
        return mObject;
    }

    const T& operator*() const { return *operator->(); }
    T& operator*() { return *operator->(); }

    // The held object without any check or copy (null when none).
    T* get() const { return mObject; }

    // Makes the held object private to this handle. False only when a copy
    // was needed and could not be made; the handle then still shares.
    bool prepare_for_modify()
    {
        if constexpr (std::is_polymorphic_v<T>) {
            return true;
        } else {
            if (!mObject || mObject->ref_count <= 1)
                return true;
            T* copy = Smart_pointer_traits<T>::copy(*mObject);
            if (!copy)
                return false;
            remove_current();
            mObject = copy;
            take();
            return true;
        }
    }

private:
    void take()
    {
        if (mObject)
            ++mObject->ref_count;
    }

    Smart_pointer& assign(T* object)
    {
        if (object == mObject)
            return *this;
        remove_current();
        mObject = object;
        take();
        return *this;
    }

    T* mObject = nullptr;
};
