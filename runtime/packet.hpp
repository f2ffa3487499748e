#pragma once
// Packet buffers. Every frame the daemon reads, builds, queues or writes lives
// in a Packet: a handle to a reference-counted buffer of 65,536 data bytes
// with free room before and after the data, so that each protocol layer adds
// its header in front and its trailer behind without moving the payload.
//
// Buffers come from one static pool of 1,024 blocks, the most recently
// returned one first, so the buffers in use stay the ones already in memory.
// Handles share a buffer on copy; an operation that changes a packet first
// gives its handle a private copy of a shared buffer.
//
// Running out of buffers is an ordinary event, never fatal and never an
// exception, and no buffer ever comes from the heap. A buffer is taken by
// reserve_head()/reserve_tail() on a null packet, by sub() and renew(), and by
// unshare(), the private copy of a shared buffer; each reports an empty pool
// (false, or a null packet for sub()) and the caller drops its frame with one
// log line. A place that changes a packet another handle may share calls
// unshare() first: a changing operation that finds no buffer for its copy is
// a breach of the contract ("allocation fail").
// A breach of the contract (a null packet used, more bytes taken than
// present, more room used than free) writes "PACKET ASSERTION FAILED!" with
// the packet's state on std::clog and terminates.
#include "runtime/lists.hpp"
#include "runtime/smart_pointer.hpp"

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

constexpr unsigned packet_max_size = 65536;

// One buffer. A new one has no holder and an empty data window at the very
// end of the data area, so all of it is head room.
// The buffer's established name across the system.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
struct _Packet {
    _Packet();
    // Same head room, length and tail room; only the data bytes are copied.
    _Packet(const _Packet& other);
    _Packet& operator=(const _Packet&) = delete;

    // Pool blocks; null when the pool is empty (never throws).
    static void* operator new(std::size_t size) noexcept;
    static void operator delete(void* block);

    unsigned char* begin() { return area; }
    unsigned char* end() { return area + packet_max_size; }
    const unsigned char* begin() const { return area; }
    const unsigned char* end() const { return area + packet_max_size; }

    std::uint32_t ref_count;
    unsigned char* fdata;
    unsigned char* ftail;
    unsigned char area[packet_max_size];
};

template <> struct Smart_pointer_traits<_Packet> {
    // From the pool; null when it is empty.
    static _Packet* copy(const _Packet& other);
};

// The pool does its work on the loop thread only.
struct Dummy_critical_section {
    void lock() {}
    void unlock() {}
};

// Fixed pool of N blocks of static storage, each one T, handed out last in, first
// out: a returned block is the next one handed out, so the blocks in use are the
// ones whose pages are already resident. Blocks never handed out yet are not linked
// at all (they are the ones from a high-water mark up) and come, in address order,
// only when no returned block is free: building the pool touches no block, and the
// pool's resident size is its high-water mark of blocks in use at once. Nothing
// runs at static initialisation or exit, so packets held by other static objects
// are safe.
template <class T, unsigned N, class Lock> class List_allocator
{
public:
    static T* allocate()
    {
        lock_.lock();
        List_storage* block = nullptr;
        if ((block = head_) != nullptr) {
            head_ = block->next;
            --returned_;
        } else if (fresh_ < N) {
            block = &storage_[fresh_++];
        }
        lock_.unlock();
        return block ? reinterpret_cast<T*>(block->object) : nullptr;
    }

    static void deallocate(T* object)
    {
        lock_.lock();
        List_storage* block = reinterpret_cast<List_storage*>(reinterpret_cast<unsigned char*>(object) -
                                                              offsetof(List_storage, object));
        block->next = head_;
        head_ = block;
        ++returned_;
        lock_.unlock();
    }

    static unsigned available() { return N - fresh_ + returned_; }

    static constexpr unsigned capacity() { return N; }

private:
    struct List_storage {
        List_storage* next; // linked only while returned and free
        alignas(T) unsigned char object[sizeof(T)];
    };
    // Static objects give their packets back while exit destroys them, in
    // any order: the pool's own storage is never destroyed.
    static_assert(std::is_trivially_destructible_v<List_storage> && std::is_trivially_destructible_v<Lock>,
                  "the packet pool must outlive every static object");

    static inline List_storage storage_[N];
    // Blocks storage_[fresh_] .. storage_[N - 1] were never handed out; the
    // returned blocks are a stack from head_, the latest returned on top.
    static inline unsigned fresh_ = 0;
    static inline List_storage* head_ = nullptr;
    static inline unsigned returned_ = 0;
    static inline Lock lock_;
};

using PacketPool = List_allocator<_Packet, 1024, Dummy_critical_section>;

// A place that cannot drop its data when the pool is empty (a stream's read
// path: dropped bytes would break its framing) waits for a buffer instead:
// the next buffer returned to the pool tells every waiter once, and each
// tries again. buffer_free() is called from inside the release of a packet,
// wherever that happens, so it only re-arms (never takes or releases packets,
// never waits again itself).
class PacketWaiter : public F_dual_list_item<PacketWaiter>
{
public:
    PacketWaiter() = default;
    PacketWaiter(const PacketWaiter&) = delete;
    PacketWaiter& operator=(const PacketWaiter&) = delete;

    // Asks for one buffer_free(); asking again while waiting changes nothing.
    void wait_for_buffer();
    void stop_waiting();
    bool waiting_for_buffer() const { return mWaiting; }

    // Tells and forgets every waiter; the pool calls it when a buffer comes back.
    static void buffer_returned()
    {
        if (waiters_.first())
            wake_all();
    }

protected:
    ~PacketWaiter() { stop_waiting(); }
    virtual void buffer_free() = 0;

private:
    static void wake_all();
    static inline F_dual_list<PacketWaiter> waiters_;
    bool mWaiting = false;
};

// A snapshot of a packet for a diagnostic.
struct PacketInfo {
    bool is_null = true;
    bool consistent = false;
    // Signed, so that a broken window still prints what it holds.
    long long head = 0;
    long long length = 0;
    long long tail = 0;
    std::vector<unsigned char> bytes;

    void Put(std::ostream& os) const;
};

class Packet
{
public:
    Packet() = default;

    void clear() { ptr.clean(); }
    bool null() const { return ptr.null(); }
    unsigned length() const;
    bool empty() const { return length() == 0; }
    bool operator<(unsigned n) const { return length() < n; }

    unsigned tailroom() const;
    unsigned char* data();
    unsigned char* tail();

    // On a null packet: takes a fresh buffer with n bytes of head room (or of
    // tail room) and no data; false when the pool is empty, the packet then
    // stays null. On a packet with a buffer: moves its (empty) data window n
    // bytes towards the end (or the start); true.
    bool reserve_head(unsigned n);
    bool reserve_tail(unsigned n);

    unsigned char* put(unsigned n);
    void put8(unsigned char value);
    void put16(unsigned short value);   // low byte first
    void put16_b(unsigned short value); // high byte first
    void put(const Packet& other);
    void put(const std::string& text); // length byte, then the characters

    unsigned char* push(unsigned n);
    void push8(unsigned char value);
    void push16_b(unsigned short value); // data then begins high byte first

    unsigned char* pull(unsigned n);
    unsigned char pull8(); // 0 from an empty packet
    unsigned short pull16();
    unsigned short pull16_l();
    unsigned short pull16_b();
    std::string pull_string();

    unsigned char* trim(unsigned n);

    unsigned char& operator[](int index);
    unsigned char operator[](int index) const;

    // A packet with a private buffer holding bytes [start, start + len); a
    // null packet when the pool is empty.
    Packet sub(unsigned len, unsigned start);

    // Makes the buffer private to this handle now; false when it is shared
    // and the pool has no buffer for the copy (the handle then still shares).
    bool unshare();

    // An empty packet with n bytes of head room, for a place that fills one
    // packet after another: the buffer is kept when this handle is its only
    // holder (a kept buffer's pages are already resident), else a fresh one is
    // taken. False when the pool is empty; the packet then stays null.
    bool renew(unsigned n);

    std::string text() const;
    bool dump(std::ostream& os) const;
    bool dump_context(std::ostream& os) const;
    void check(const char* tag) const;
    void passert(bool condition, const char* text) const;

private:
    _Packet* buffer() const { return ptr.get(); }
    _Packet* writable(); // private buffer, asserted present
    unsigned _length() const;
    unsigned _headroom() const;
    unsigned _tailroom() const;
    bool consistent() const;
    PacketInfo info() const;
    bool take_fresh(unsigned head);

    Smart_pointer<_Packet> ptr;
};

std::ostream& operator<<(std::ostream& os, const Packet& packet);
