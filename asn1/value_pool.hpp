// Memory for values. A decoded message is a tree of small heap objects (one per field,
// alternative and element) that lives for one command; taking each from the general
// heap and giving it back cost more than decoding it. Blocks up to 512 bytes are kept
// on free lists by size instead, so a message decoded after the first reuses the blocks
// of the one before. Values are made and freed on the loop's one thread only.
#pragma once

#include <cstddef>
#include <new>

// Under AddressSanitizer every block goes to the heap at once, so that a value used
// after it was freed, or never freed, is reported where it happens.
#if defined(__SANITIZE_ADDRESS__)
#define QUELVAD_ASN1_PLAIN_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUELVAD_ASN1_PLAIN_HEAP 1
#endif
#endif

namespace ASN1
{
namespace detail
{

struct FreeBlock {
    FreeBlock* next;
};

struct FreeList {
    FreeBlock* head;
    unsigned count;
};

const std::size_t valueGrain = 16;
const std::size_t valueClasses = 32; // blocks of 16, 32, ... 512 bytes
// Blocks kept per size; the rest go back to the heap, so a burst of large messages
// does not pin its memory for ever.
const unsigned valueKeep = 2048;

// Constant-initialised and trivially destructible: values held by static objects
// may be freed at any point of the process's exit.
extern FreeList valueLists[valueClasses];

constexpr std::size_t valueClassOf(std::size_t size)
{
    return size == 0 ? 0 : (size - 1) / valueGrain;
}

// A block of at least `size` bytes, aligned for any value; throws std::bad_alloc.
inline void* valueAllocate(std::size_t size)
{
#ifndef QUELVAD_ASN1_PLAIN_HEAP
    std::size_t c = valueClassOf(size);
    if (c < valueClasses) {
        FreeList& list = valueLists[c];
        if (FreeBlock* block = list.head) {
            list.head = block->next;
            --list.count;
            return block;
        }
        return ::operator new((c + 1) * valueGrain);
    }
#endif
    return ::operator new(size);
}

// Gives back a block from valueAllocate with the same size.
inline void valueRelease(void* block, std::size_t size) noexcept
{
    if (block == nullptr)
        return;
#ifndef QUELVAD_ASN1_PLAIN_HEAP
    std::size_t c = valueClassOf(size);
    if (c < valueClasses && valueLists[c].count < valueKeep) {
        FreeBlock* free = static_cast<FreeBlock*>(block);
        free->next = valueLists[c].head;
        valueLists[c].head = free;
        ++valueLists[c].count;
        return;
    }
#else
    (void)size;
#endif
    ::operator delete(block);
}

// The value free lists as a standard allocator: a list's element pointers.
template <class T> struct ValueAllocator {
    typedef T value_type;
    ValueAllocator() = default;
    template <class U> ValueAllocator(ValueAllocator<U> const&) noexcept {}
    // The elements are pointers: their size is the one meant.
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    T* allocate(std::size_t n) { return static_cast<T*>(valueAllocate(n * sizeof(T))); }
    // NOLINTNEXTLINE(bugprone-sizeof-expression)
    void deallocate(T* block, std::size_t n) noexcept { valueRelease(block, n * sizeof(T)); }
    template <class U> bool operator==(ValueAllocator<U> const&) const noexcept { return true; }
    template <class U> bool operator!=(ValueAllocator<U> const&) const noexcept { return false; }
};

} // namespace detail
} // namespace ASN1
