#pragma once
// Fixed ring of N elements held inside its owner: the transmit and
// retransmission queues of the signalling links. A full ring refuses the
// element instead of growing, so a link can never drain the packet pool by
// itself beyond its own capacity.
//
// A queued slot holds its element (for Packet: a reference to a buffer); a
// slot that is not queued always holds a default T, so removing or clearing
// an element releases what it held at once.

template <class T, unsigned N> class CleanQueue
{
    static_assert(N > 0, "a queue needs room for one element");

public:
    CleanQueue() = default;
    CleanQueue(const CleanQueue&) = delete;
    CleanQueue& operator=(const CleanQueue&) = delete;

    bool put(const T& element)
    {
        if (mCount == N)
            return false;
        mSlots[mWrite] = element;
        mWrite = inc_index(mWrite);
        ++mCount;
        return true;
    }

    // Queues the element in front of the oldest one.
    bool append(const T& element)
    {
        if (mCount == N)
            return false;
        mRead = dec_index(mRead);
        mSlots[mRead] = element;
        ++mCount;
        return true;
    }

    bool get(T* element)
    {
        if (mCount == 0)
            return false;
        *element = mSlots[mRead];
        mSlots[mRead] = T();
        mRead = inc_index(mRead);
        --mCount;
        return true;
    }

    bool get(T& element) { return get(&element); }

    // Takes the newest element back out.
    bool get_last(T* element)
    {
        if (mCount == 0)
            return false;
        mWrite = dec_index(mWrite);
        *element = mSlots[mWrite];
        mSlots[mWrite] = T();
        --mCount;
        return true;
    }

    // Copies the oldest element without removing it; a null pointer only
    // asks whether there is one.
    bool preview(T* element) const
    {
        if (mCount == 0)
            return false;
        if (element)
            *element = mSlots[mRead];
        return true;
    }

    unsigned count() const { return mCount; }
    unsigned size() const { return N; }
    bool empty() const { return mCount == 0; }

    // Empties the queue and releases every element it held.
    void clear()
    {
        for (; mCount > 0; --mCount) {
            mSlots[mRead] = T();
            mRead = inc_index(mRead);
        }
        mRead = mWrite = 0;
    }

    unsigned inc_index(unsigned i) const { return i >= N - 1 ? 0 : i + 1; }
    unsigned dec_index(unsigned i) const { return i == 0 ? N - 1 : i - 1; }

private:
    T mSlots[N] = {};
    unsigned mRead = 0;
    unsigned mWrite = 0;
    unsigned mCount = 0;
};
