#pragma once
// Intrusive containers: the links live inside the elements, so the loop's
// handler lists, the timer list, the child waits and the packet pool move
// objects around without ever allocating. No container owns its elements, and
// none checks whether an element is already linked: each user keeps its own
// record of that.
#include <cstddef>
#include <cstring>
#include <iterator>

template <class T> class F_dual_list;

template <class T> class F_dual_list_item
{
public:
    constexpr F_dual_list_item() = default;
    T* get_next() const { return next; }
    T* get_prev() const { return prev; }

private:
    friend class F_dual_list<T>;
    T* next = nullptr;
    T* prev = nullptr;
};

template <class T> class F_dual_list
{
public:
    class iterator
    {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = T*;
        using reference = T&;

        iterator(T* p = nullptr) : mPos(p) {}
        iterator& operator++()
        {
            mPos = mPos->get_next();
            return *this;
        }
        iterator operator++(int)
        {
            iterator old(*this);
            mPos = mPos->get_next();
            return old;
        }
        T& operator*() const { return *mPos; }
        T* operator->() const { return mPos; }
        bool operator==(const iterator& o) const { return mPos == o.mPos; }
        bool operator!=(const iterator& o) const { return mPos != o.mPos; }
        bool good() const { return mPos != nullptr; }
        bool operator!() const { return mPos == nullptr; }

    private:
        T* mPos;
    };

    constexpr F_dual_list() = default;
    F_dual_list(T* array, unsigned n) { init(array, n); }
    F_dual_list(const F_dual_list&) = delete;
    F_dual_list& operator=(const F_dual_list&) = delete;

    void init(T* array, unsigned n)
    {
        head = tail = nullptr;
        mCount = 0;
        for (unsigned i = 0; i < n; ++i)
            insert_to_tail(&array[i]);
    }

    T* insert_to_tail(T* x)
    {
        link(x).next = nullptr;
        link(x).prev = tail;
        if (tail)
            link(tail).next = x;
        tail = x;
        if (!head)
            head = x;
        ++mCount;
        return x;
    }
    T* push_back(T* x) { return insert_to_tail(x); }

    T* insert_to_head(T* x)
    {
        link(x).prev = nullptr;
        link(x).next = head;
        if (head)
            link(head).prev = x;
        head = x;
        if (!tail)
            tail = x;
        ++mCount;
        return x;
    }

    T* insert_after(T* pos, T* x)
    {
        link(x).next = link(pos).next;
        link(x).prev = pos;
        if (link(pos).next)
            link(link(pos).next).prev = x;
        else
            tail = x;
        link(pos).next = x;
        ++mCount;
        return x;
    }

    T* remove(T* x)
    {
        if (link(x).prev)
            link(link(x).prev).next = link(x).next;
        else
            head = link(x).next;
        if (link(x).next)
            link(link(x).next).prev = link(x).prev;
        else
            tail = link(x).prev;
        --mCount;
        return x;
    }

    T* remove_from_head()
    {
        T* x = head;
        if (!x)
            return nullptr;
        head = link(x).next;
        if (head)
            link(head).prev = nullptr;
        else
            tail = nullptr;
        --mCount;
        return x;
    }

    T* remove_from_tail()
    {
        T* x = tail;
        if (!x)
            return nullptr;
        tail = link(x).prev;
        if (tail)
            link(tail).next = nullptr;
        else
            head = nullptr;
        --mCount;
        return x;
    }

    unsigned count() const { return mCount; }
    unsigned size() const { return mCount; }
    bool empty() const { return mCount == 0; }
    T* first() const { return head; }
    T* back() const { return tail; }

    iterator begin() const { return iterator(head); }
    iterator end() const { return iterator(nullptr); }
    iterator last() const { return iterator(tail); }

    void merge(F_dual_list& other)
    {
        T* h = head;
        T* t = tail;
        unsigned c = mCount;
        head = other.head;
        tail = other.tail;
        mCount = other.mCount;
        other.head = h;
        other.tail = t;
        other.mCount = c;
    }

private:
    static F_dual_list_item<T>& link(T* x) { return *static_cast<F_dual_list_item<T>*>(x); }

    T* head = nullptr;
    T* tail = nullptr;
    unsigned mCount = 0;
};

// Kept in ascending key order by T::compare(const T*): negative, zero or
// positive as this element's key is below, equal to or above the other's.
template <class T> class F_sorted_list : public F_dual_list<T>
{
public:
    constexpr F_sorted_list() = default;

    // Walks back from the tail, so equal keys keep their order of insertion
    // and an element with the largest key is linked in one step.
    T* insert_to_tail_by_grown(T* x)
    {
        for (T* e = this->back(); e; e = e->get_prev()) {
            if (e->compare(x) <= 0)
                return this->insert_after(e, x);
        }
        return this->insert_to_head(x);
    }
};

namespace Containers
{

// One node of a ring with a head node; an unlinked node points to itself.
class CyclicList
{
public:
    template <class Ref, class Ptr> class TIterator
    {
    public:
        TIterator() = default;
        explicit TIterator(Ptr node) : mNode(node) {}
        TIterator& operator++()
        {
            mNode = mNode->next;
            return *this;
        }
        Ref operator*() const { return *mNode; }
        bool operator==(const TIterator& o) const { return mNode == o.mNode; }
        bool operator!=(const TIterator& o) const { return mNode != o.mNode; }

    private:
        Ptr mNode = nullptr;
    };
    using iterator = TIterator<CyclicList&, CyclicList*>;

    // Constant-initialised when static, so a ring head at namespace scope is
    // ready before any other file's static constructor links into it.
    constexpr CyclicList() : next(this), prev(this) {}
    ~CyclicList() { InternalDel(prev, next); }
    CyclicList(const CyclicList&) = delete;
    CyclicList& operator=(const CyclicList&) = delete;

    void AddToTail(CyclicList* node)
    {
        InternalDel(node->prev, node->next);
        InternalAddToTail(node);
    }

    iterator begin() { return iterator(next); }
    iterator end() { return iterator(this); }
    CyclicList* get_next() const { return next; }
    CyclicList* get_prev() const { return prev; }

private:
    void InternalInit() { next = prev = this; }
    static void InternalDel(CyclicList* p, CyclicList* n)
    {
        n->prev = p;
        p->next = n;
    }
    static void InternalAdd(CyclicList* node, CyclicList* p, CyclicList* n)
    {
        n->prev = node;
        node->next = n;
        node->prev = p;
        p->next = node;
    }
    void InternalAddToTail(CyclicList* node) { InternalAdd(node, prev, this); }

    CyclicList* next;
    CyclicList* prev;
};

// The object that embeds `node` as its member `member`.
template <class T> T* offset(CyclicList* node, CyclicList T::*member)
{
    // Under the Itanium C++ ABI (GCC and Clang on every Linux target we build
    // for) a pointer to data member holds the member's byte offset. Reading it
    // avoids offsetof, which is only conditionally supported for classes that
    // are not standard-layout, and avoids touching a fake object of type T.
    static_assert(sizeof(member) == sizeof(std::ptrdiff_t), "pointer to data member is not an offset");
    std::ptrdiff_t off;
    std::memcpy(&off, &member, sizeof(off));
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(node) - off);
}

} // namespace Containers
