#include "runtime/packet.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <type_traits>

void SmartPtrAssertion()
{
    std::clog << "SMART POINTER ASSERTION!" << std::endl;
    std::terminate();
}

// ---- buffers and pool ------------------------------------------------------

_Packet::_Packet() : ref_count(0), fdata(area + packet_max_size), ftail(area + packet_max_size) {}

_Packet::_Packet(const _Packet& other)
    : ref_count(0), fdata(area + (other.fdata - other.area)), ftail(area + (other.ftail - other.area))
{
    std::memcpy(fdata, other.fdata, static_cast<std::size_t>(other.ftail - other.fdata));
}

void* _Packet::operator new(std::size_t) noexcept
{
    return PacketPool::allocate();
}

void _Packet::operator delete(void* block)
{
    if (!block)
        return;
    PacketPool::deallocate(static_cast<_Packet*>(block));
    PacketWaiter::buffer_returned();
}

// A stream destroyed with a static object during exit leaves the list then.
static_assert(std::is_trivially_destructible_v<F_dual_list<PacketWaiter>>,
              "the waiters' list must outlive every static object");

void PacketWaiter::wait_for_buffer()
{
    if (mWaiting)
        return;
    waiters_.insert_to_tail(this);
    mWaiting = true;
}

void PacketWaiter::stop_waiting()
{
    if (!mWaiting)
        return;
    waiters_.remove(this);
    mWaiting = false;
}

void PacketWaiter::wake_all()
{
    // One at a time from the head: a waiter told may stop another from waiting.
    while (PacketWaiter* w = waiters_.remove_from_head()) {
        w->mWaiting = false;
        w->buffer_free();
    }
}

_Packet* Smart_pointer_traits<_Packet>::copy(const _Packet& other)
{
    // A private copy is a buffer like any other: from the pool or none.
    return new _Packet(other);
}

// ---- diagnostics -------------------------------------------------------------

namespace
{

void put_bytes_lower_hex(std::ostream& os, const unsigned char* begin, const unsigned char* end)
{
    std::ios_base::fmtflags flags = os.flags();
    os << std::hex << std::nouppercase;
    for (const unsigned char* p = begin; p != end; ++p)
        os << ' ' << static_cast<unsigned>(*p);
    os.flags(flags);
}

} // namespace

void PacketInfo::Put(std::ostream& os) const
{
    if (is_null) {
        os << "(null)\n";
        return;
    }
    os << "head=" << head << ", data=" << length << ", tail=" << tail << '\n';
    if (!consistent) {
        os << "can't dump packet: wrong pointers\n";
        return;
    }
    if (bytes.empty())
        return;
    os << "dump:\n";
    put_bytes_lower_hex(os, bytes.data(), bytes.data() + bytes.size());
    os << '\n';
}

bool Packet::consistent() const
{
    const _Packet* b = buffer();
    if (!b)
        return false;
    // Compared as addresses: a broken pointer may lie anywhere.
    auto start = reinterpret_cast<std::uintptr_t>(b->begin());
    auto end = reinterpret_cast<std::uintptr_t>(b->end());
    auto data = reinterpret_cast<std::uintptr_t>(b->fdata);
    auto tail = reinterpret_cast<std::uintptr_t>(b->ftail);
    return data >= start && data <= end && tail >= start && tail <= end && data <= tail;
}

PacketInfo Packet::info() const
{
    PacketInfo info;
    const _Packet* b = buffer();
    if (!b)
        return info;
    info.is_null = false;
    auto start = static_cast<long long>(reinterpret_cast<std::uintptr_t>(b->begin()));
    auto end = static_cast<long long>(reinterpret_cast<std::uintptr_t>(b->end()));
    auto data = static_cast<long long>(reinterpret_cast<std::uintptr_t>(b->fdata));
    auto tail = static_cast<long long>(reinterpret_cast<std::uintptr_t>(b->ftail));
    info.head = data - start;
    info.length = tail - data;
    info.tail = end - tail;
    info.consistent = consistent();
    if (info.consistent)
        info.bytes.assign(b->fdata, b->ftail);
    return info;
}

void Packet::passert(bool condition, const char* text) const
{
    if (condition)
        return;
    std::clog << "PACKET ASSERTION FAILED!\n" << text << '\n';
    info().Put(std::clog);
    std::clog << std::endl;
    std::terminate();
}

void Packet::check(const char* tag) const
{
    const char* format = nullptr;
    const _Packet* b = buffer();
    if (!b) {
        format = "after \"%s\" packet is null";
    } else {
        auto start = reinterpret_cast<std::uintptr_t>(b->begin());
        auto end = reinterpret_cast<std::uintptr_t>(b->end());
        auto data = reinterpret_cast<std::uintptr_t>(b->fdata);
        auto tail = reinterpret_cast<std::uintptr_t>(b->ftail);
        if (data < start || data > end)
            format = "after \"%s\" fdata invalid";
        else if (tail < start || tail > end)
            format = "after \"%s\" ftail invalid";
        else if (data > tail)
            format = "after \"%s\" fdata>ftail";
    }
    if (!format)
        return;
    char text[256];
    std::snprintf(text, sizeof text, format, tag);
    std::clog << "packet check fail\n" << text << "\nterminate." << std::endl;
    std::terminate();
}

bool Packet::dump(std::ostream& os) const
{
    const _Packet* b = buffer();
    if (!b)
        return false;
    PacketInfo i = info();
    os << "head=" << i.head << ", data=" << i.length << ", tail=" << i.tail;
    return true;
}

bool Packet::dump_context(std::ostream& os) const
{
    if (!consistent())
        return false;
    const _Packet* b = buffer();
    if (b->fdata == b->ftail)
        return true;
    os << "dump:";
    put_bytes_lower_hex(os, b->fdata, b->ftail);
    return true;
}

std::string Packet::text() const
{
    if (null())
        return "(null)";
    if (!consistent())
        return "(bad)";
    const _Packet* b = buffer();
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(static_cast<std::size_t>(b->ftail - b->fdata) * 3);
    for (const unsigned char* p = b->fdata; p != b->ftail; ++p) {
        if (p != b->fdata)
            out += ' ';
        out += digits[*p >> 4];
        out += digits[*p & 0x0F];
    }
    return out;
}

std::ostream& operator<<(std::ostream& os, const Packet& packet)
{
    return os << packet.text();
}

// ---- sizes ---------------------------------------------------------------------

unsigned Packet::_length() const
{
    return static_cast<unsigned>(buffer()->ftail - buffer()->fdata);
}
unsigned Packet::_headroom() const
{
    return static_cast<unsigned>(buffer()->fdata - buffer()->begin());
}
unsigned Packet::_tailroom() const
{
    return static_cast<unsigned>(buffer()->end() - buffer()->ftail);
}

unsigned Packet::length() const
{
    return null() ? 0 : _length();
}

unsigned Packet::tailroom() const
{
    passert(!null(), "null packet");
    return _tailroom();
}

_Packet* Packet::writable()
{
    passert(!null(), "null packet");
    if (!ptr.prepare_for_modify())
        passert(false, "allocation fail");
    return buffer();
}

bool Packet::unshare()
{
    return null() || ptr.prepare_for_modify();
}

unsigned char* Packet::data()
{
    passert(!null(), "null packet");
    return writable()->fdata;
}

unsigned char* Packet::tail()
{
    passert(!null(), "null packet");
    return writable()->ftail;
}

// ---- room ----------------------------------------------------------------------

bool Packet::take_fresh(unsigned head)
{
    _Packet* fresh = new _Packet;
    if (!fresh)
        return false;
    ptr = fresh;
    passert(!null(), "allocation fail");
    fresh->fdata = fresh->begin() + head;
    fresh->ftail = fresh->fdata;
    return true;
}

bool Packet::renew(unsigned n)
{
    passert(n <= packet_max_size, "length>packet_max_size");
    _Packet* b = buffer();
    if (b && b->ref_count == 1) {
        b->fdata = b->begin() + n;
        b->ftail = b->fdata;
        return true;
    }
    clear();
    return take_fresh(n);
}

bool Packet::reserve_head(unsigned n)
{
    passert(n <= packet_max_size, "length>packet_max_size");
    if (null())
        return take_fresh(n);
    _Packet* b = writable();
    passert(std::uint64_t{_headroom()} + _length() + n <= packet_max_size, "new_len>packet_max_size");
    b->fdata += n;
    b->ftail += n;
    return true;
}

bool Packet::reserve_tail(unsigned n)
{
    passert(n <= packet_max_size, "len>packet_max_size");
    if (null())
        return take_fresh(packet_max_size - n);
    _Packet* b = writable();
    passert(std::uint64_t{_tailroom()} + _length() + n <= packet_max_size,
            "_tailroom()+len <= packet_max_size");
    b->fdata -= n;
    b->ftail -= n;
    return true;
}

// ---- adding and removing data ------------------------------------------------

unsigned char* Packet::put(unsigned n)
{
    passert(!null(), "null packet");
    _Packet* b = writable();
    passert(n <= _tailroom(), "len<=_tailroom()");
    unsigned char* added = b->ftail;
    b->ftail += n;
    check("put");
    return added;
}

void Packet::put8(unsigned char value)
{
    passert(!null(), "null packet");
    *put(1) = value;
}

void Packet::put16(unsigned short value)
{
    passert(!null(), "null packet");
    put8(static_cast<unsigned char>(value & 0xFF));
    put8(static_cast<unsigned char>(value >> 8));
}

void Packet::put16_b(unsigned short value)
{
    passert(!null(), "null packet");
    put8(static_cast<unsigned char>(value >> 8));
    put8(static_cast<unsigned char>(value & 0xFF));
}

void Packet::put(const Packet& other)
{
    // A snapshot of the length: the other packet may be this one.
    unsigned n = other.length();
    for (unsigned i = 0; i < n; ++i)
        put8(other[static_cast<int>(i)]);
}

void Packet::put(const std::string& text)
{
    // One length byte frames the text: a longer one would corrupt the frame.
    passert(text.size() <= 255, "string length>255");
    put8(static_cast<unsigned char>(text.size()));
    for (char c : text)
        put8(static_cast<unsigned char>(c));
}

unsigned char* Packet::push(unsigned n)
{
    passert(!null(), "null packet");
    _Packet* b = writable();
    passert(n <= _headroom(), "len<=_headroom()");
    b->fdata -= n;
    check("push");
    return b->fdata;
}

void Packet::push8(unsigned char value)
{
    passert(!null(), "null packet");
    *push(1) = value;
}

void Packet::push16_b(unsigned short value)
{
    passert(!null(), "null packet");
    push8(static_cast<unsigned char>(value & 0xFF));
    push8(static_cast<unsigned char>(value >> 8));
}

unsigned char* Packet::pull(unsigned n)
{
    passert(!null(), "null packet");
    _Packet* b = writable();
    passert(n <= _length(), "len<=_length()");
    unsigned char* removed = b->fdata;
    b->fdata += n;
    return removed;
}

unsigned char Packet::pull8()
{
    passert(!null(), "null packet");
    if (_length() == 0)
        return 0;
    return *pull(1);
}

unsigned short Packet::pull16()
{
    passert(!null(), "null packet");
    unsigned low = pull8();
    unsigned high = pull8();
    return static_cast<unsigned short>(low | high << 8);
}

unsigned short Packet::pull16_l()
{
    return pull16();
}

unsigned short Packet::pull16_b()
{
    passert(!null(), "null packet");
    unsigned high = pull8();
    unsigned low = pull8();
    return static_cast<unsigned short>(low | high << 8);
}

std::string Packet::pull_string()
{
    passert(!null(), "null packet");
    unsigned n = pull8();
    std::string text;
    text.reserve(n);
    for (unsigned i = 0; i < n; ++i)
        text += static_cast<char>(pull8());
    return text;
}

unsigned char* Packet::trim(unsigned n)
{
    passert(!null(), "null packet");
    _Packet* b = writable();
    passert(n <= _length(), "len<=_length()");
    b->ftail -= n;
    check("trim");
    return b->ftail;
}

unsigned char& Packet::operator[](int index)
{
    passert(!null(), "null packet");
    _Packet* b = writable();
    passert(index >= 0 && static_cast<unsigned>(index) < _length(), "index out of range");
    return b->fdata[index];
}

unsigned char Packet::operator[](int index) const
{
    passert(!null(), "null packet");
    passert(index >= 0 && static_cast<unsigned>(index) < _length(), "index out of range");
    return buffer()->fdata[index];
}

Packet Packet::sub(unsigned len, unsigned start)
{
    // Only reads this packet, so a shared buffer is not copied first.
    passert(!null(), "null packet");
    passert(start <= _length(), "start<=_length()");
    passert(std::uint64_t{start} + len <= _length(), "start+len<=_length()");
    Packet part;
    if (!part.reserve_head(_headroom() + start))
        return part;
    std::memcpy(part.put(len), buffer()->fdata + start, len);
    return part;
}
