// Coder environment and the two entry points through which the links turn a message
// into octets and back. Both return bool, never throw for bad input and never log.
#pragma once

#include "asn1/abstract_data.hpp"

#include <loki/AssocVector.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace ASN1
{

class Module;

// The octet buffer of one encoding: the thread's shared buffer, whose capacity stays
// from one message to the next, or a buffer of its own while that one is in use.
class ScratchOctets
{
public:
    ScratchOctets();
    ~ScratchOctets();
    ScratchOctets(ScratchOctets const&) = delete;
    ScratchOctets& operator=(ScratchOctets const&) = delete;
    std::vector<char>& get() { return *octets_; }

private:
    std::vector<char>* octets_;
    std::vector<char> own_;
    bool borrowed_;
};

class CoderEnv
{
public:
    enum EncodingRules { avn = 0, ber = 1, per_Aligned = 2 };

    struct StringListeralCmp {
        typedef char const* first_argument_type;
        typedef char const* second_argument_type;
        typedef bool result_type;
        bool operator()(char const* lhs, char const* rhs) const { return std::strcmp(lhs, rhs) < 0; }
    };
    typedef Loki::AssocVector<char const*, Module*, StringListeralCmp> ModuleTable;

    // Aligned PER unless told otherwise: the rule the links use.
    CoderEnv() : encodingRule_(per_Aligned) {}

    void set_encodingRule(EncodingRules rule) { encodingRule_ = rule; }
    EncodingRules get_encodingRule() const { return encodingRule_; }

    // Writes to out only when the whole value encoded: no partial frame reaches a link.
    // Appending to a vector of octets: aligned PER goes into it without a scratch vector.
    bool encode(AbstractData const& value, std::back_insert_iterator<std::vector<char>> out);

    template <class OutputIterator> bool encode(AbstractData const& value, OutputIterator out)
    {
        ScratchOctets octets;
        if (!encodeInto(value, octets.get()))
            return false;
        std::copy(octets.get().begin(), octets.get().end(), out);
        return true;
    }
    template <class OutputIterator> bool encodePER(AbstractData const& value, OutputIterator out)
    {
        ScratchOctets octets;
        if (!encodePERInto(value, octets.get()))
            return false;
        std::copy(octets.get().begin(), octets.get().end(), out);
        return true;
    }
    template <class OutputIterator> bool encodeBER(AbstractData const& value, OutputIterator out)
    {
        ScratchOctets octets;
        if (!encodeBERInto(value, octets.get()))
            return false;
        std::copy(octets.get().begin(), octets.get().end(), out);
        return true;
    }
    template <class OutputIterator> bool encodeAVN(AbstractData const& value, OutputIterator out)
    {
        ScratchOctets text;
        if (!encodeAVNInto(value, text.get()))
            return false;
        std::copy(text.get().begin(), text.get().end(), out);
        return true;
    }

    // Octets after the value are ignored. noEnv: the decoder gets no environment.
    bool decode(char const* begin, char const* end, AbstractData& value, bool noEnv = false);

    // The octets of the whole value in `octets`; false (octets unspecified) on failure.
    bool encodeInto(AbstractData const& value, std::vector<char>& octets);
    bool encodePERInto(AbstractData const& value, std::vector<char>& octets);
    bool encodeBERInto(AbstractData const& value, std::vector<char>& octets);
    bool encodeAVNInto(AbstractData const& value, std::vector<char>& text);

private:
    EncodingRules encodingRule_;
    ModuleTable modules_; // kept empty: no coder looks modules up
};

template <class OutputIterator> bool encode(AbstractData const& value, CoderEnv* env, OutputIterator out)
{
    return env->encode(value, out);
}

// Called with char const* (a received frame's payload); the range is read, never kept.
template <class InputIterator>
bool decode(InputIterator begin, InputIterator end, CoderEnv* env, AbstractData& value, bool noEnv)
{
    return env->decode(begin, end, value, noEnv);
}

} // namespace ASN1
