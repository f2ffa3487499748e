#pragma once
// Stream helpers that give log and trace lines their shape: hex dumps of byte
// ranges and numbers, the object header that opens each of an object's lines,
// short object descriptions and quoted values. Each is a small wrapper made by
// a function and written with operator<<; none changes the stream's format
// state for what is written after it.
#include <ostream>

namespace ext
{

// Every byte as two upper-case hex digits and one blank ("00 AB ").
struct OutBufInHex {
    const unsigned char* begin;
    const unsigned char* end;
};

OutBufInHex hex(const char* p, unsigned len);
OutBufInHex hex(const unsigned char* begin, const unsigned char* end);
std::ostream& operator<<(std::ostream& os, const OutBufInHex& out);

// "0x" and the value in upper-case hex, at least `digits` digits.
struct OutUnsignedInHex {
    unsigned value;
    unsigned digits;
};

OutUnsignedInHex hex(unsigned value, unsigned digits);
std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& out);

// The object's own line prefix, written by its `PutHeader(std::ostream&) const`.
template <class T> struct OutObjHeader {
    const T* object;
};

template <class T> OutObjHeader<T> header(const T* object)
{
    return OutObjHeader<T>{object};
}

template <class T> std::ostream& operator<<(std::ostream& os, const OutObjHeader<T>& out)
{
    out.object->PutHeader(os);
    return os;
}

// The object's short description, written by its `PutShortInfo(std::ostream&) const`.
template <class T> struct OutShortInfo {
    const T* object;
};

template <class T> OutShortInfo<T> shortinfo(const T* object)
{
    return OutShortInfo<T>{object};
}

template <class T> std::ostream& operator<<(std::ostream& os, const OutShortInfo<T>& out)
{
    out.object->PutShortInfo(os);
    return os;
}

// The value as the stream writes it, between double quotes.
template <class T> struct OutQuoted {
    const T* value;
};

template <class T> OutQuoted<T> quoted(const T& value)
{
    return OutQuoted<T>{&value};
}

template <class T> std::ostream& operator<<(std::ostream& os, const OutQuoted<T>& out)
{
    return os << '"' << *out.value << '"';
}

} // namespace ext

// The object's remote address, written by its `PutAddr(std::ostream&) const`.
template <class T> struct Host {
    const T* object;
};

template <class T> Host<T> host(const T* object)
{
    return Host<T>{object};
}

template <class T> std::ostream& operator<<(std::ostream& os, const Host<T>& out)
{
    out.object->PutAddr(os);
    return os;
}

namespace Trace
{

// "Enter <name>" when made and "Leave <name>" when gone, when enabled.
class Block
{
public:
    Block(bool enabled, const char* name, std::ostream& os);
    ~Block();
    Block(const Block&) = delete;
    Block& operator=(const Block&) = delete;

private:
    bool mEnabled;
    const char* mName;
    std::ostream& mOs;
};

} // namespace Trace
