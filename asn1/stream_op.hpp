#pragma once
// The common frame of the value stream operators: one sentry, exceptions
// turned into stream states, and the state set once at the end.
#include <ios>
#include <new>

namespace ASN1::detail
{

template <class Stream, class Work> Stream& guardedStreamOp(Stream& stream, Work work)
{
    if (!stream.good())
        return stream;
    std::ios_base::iostate state = std::ios_base::goodbit;
    try {
        typename Stream::sentry guard(stream);
        if (!guard)
            return stream;
        state = work();
    } catch (std::bad_alloc const&) {
        state = std::ios_base::badbit;
    } catch (...) {
        state = std::ios_base::failbit;
    }
    if (state != std::ios_base::goodbit) {
        // Setting the state may throw when the stream's exception mask asks for it.
        try {
            stream.setstate(state);
        } catch (std::ios_base::failure const&) {
            if ((stream.exceptions() & state) != 0)
                throw;
        }
    }
    return stream;
}

} // namespace ASN1::detail
