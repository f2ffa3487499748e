#pragma once
// The stream glue of the value operators: a wrapper prints or reads a value under the
// stream's sentry, and do_it turns its result, or an exception it throws, into the
// stream's state.
#include <ios>
#include <istream>
#include <new>
#include <ostream>

namespace ASN1
{

template <class charT, class traits> class IOWrapper
{
public:
    virtual ~IOWrapper() = default;

    // Sets the state do_real_io returns on ios. An exception thrown while printing or
    // reading adds badbit (std::bad_alloc) or failbit (any other) and is rethrown, as it
    // was caught, when the exception mask of ios holds that bit; a
    // std::ios_base::failure raised by setting the bit is dropped.
    void do_it(std::basic_ios<charT, traits>& ios)
    {
        std::ios_base::iostate state = std::ios_base::goodbit;
        try {
            state = do_real_io();
        } catch (std::bad_alloc const&) {
            if (add(ios, std::ios_base::badbit))
                throw;
            return;
        } catch (...) {
            if (add(ios, std::ios_base::failbit))
                throw;
            return;
        }
        if (state != std::ios_base::goodbit)
            ios.setstate(state);
    }

    // The state the printing or reading leaves: goodbit when it succeeded.
    virtual std::ios_base::iostate do_real_io() = 0;

private:
    // True when the mask of ios asks for an exception on bit.
    static bool add(std::basic_ios<charT, traits>& ios, std::ios_base::iostate bit)
    {
        try {
            ios.setstate(bit);
        } catch (std::ios_base::failure const&) {
            // the exception that was caught is the one to report
        }
        return (ios.exceptions() & bit) != 0;
    }
};

// Prints value with its print_on.
template <class charT, class traits, class T> class InserterWrapper : public IOWrapper<charT, traits>
{
public:
    InserterWrapper(std::basic_ostream<charT, traits>& stream, T const& value)
        : stream_(stream), value_(value)
    {
    }

    std::ios_base::iostate do_real_io() override
    {
        typename std::basic_ostream<charT, traits>::sentry ok(stream_);
        return ok ? value_.print_on(stream_) : std::ios_base::goodbit;
    }

private:
    std::basic_ostream<charT, traits>& stream_;
    T const& value_;
};

// Reads value with its get_from.
template <class charT, class traits, class T> class ExtractorWrapper : public IOWrapper<charT, traits>
{
public:
    ExtractorWrapper(std::basic_istream<charT, traits>& stream, T& value) : stream_(stream), value_(value) {}

    std::ios_base::iostate do_real_io() override
    {
        typename std::basic_istream<charT, traits>::sentry ok(stream_);
        return ok ? value_.get_from(stream_) : std::ios_base::goodbit;
    }

private:
    std::basic_istream<charT, traits>& stream_;
    T& value_;
};

template <class charT, class traits, class T>
void g_inserter(std::basic_ostream<charT, traits>& stream, T const& value)
{
    InserterWrapper<charT, traits, T>(stream, value).do_it(stream);
}

} // namespace ASN1
