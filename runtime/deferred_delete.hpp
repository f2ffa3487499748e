#pragma once
// Deferred delete: an object that has to end itself inside one of its own
// callbacks (a slot destroyed by its own event, a channel its user closes from
// a receive callback) hands itself to the loop instead of deleting itself; the
// loop deletes it at the start of its next deferred-call pass, when no
// callback of it is on the stack any more. Objects handed over during a pass
// wait for the next one; objects still pending when the loop stops are
// deleted before run returns.
class DeferredDeletable
{
public:
    DeferredDeletable() = default;
    DeferredDeletable(const DeferredDeletable&) = delete;
    DeferredDeletable& operator=(const DeferredDeletable&) = delete;
    // Once handed to the loop, only the loop deletes the object.
    virtual ~DeferredDeletable();

    bool deletePending() const { return mDeletePending; }

private:
    friend class Multiplexer;
    DeferredDeletable* mNextDeleted = nullptr;
    bool mDeletePending = false;
};
