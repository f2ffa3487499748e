// Shared test helpers: coding through the coder environment.
#pragma once

#include "asn1/asn1.hpp"
#include "tests/support/hex.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace asn1test
{

using support::bytes;
using support::hex;

using Value = std::unique_ptr<ASN1::AbstractData>;

// A new T, filled in by `fill`.
template <class T, class F> Value with(F fill)
{
    T* value = new T;
    fill(*value);
    return Value(value);
}

inline Value integer(int v, ASN1::TypeInfo const* info = &ASN1::INTEGER::theInfo)
{
    return Value(new ASN1::INTEGER(v, info));
}

inline Value integers(std::vector<int> const& values)
{
    return with<ASN1::SEQUENCE_OF<ASN1::INTEGER>>([&](ASN1::SEQUENCE_OF<ASN1::INTEGER>& l) {
        for (int v : values)
            l.push_back(ASN1::INTEGER(v, &ASN1::INTEGER::theInfo));
    });
}

inline Value oid(std::vector<unsigned> const& arcs)
{
    return with<ASN1::OBJECT_IDENTIFIER>([&](ASN1::OBJECT_IDENTIFIER& o) {
        for (unsigned arc : arcs)
            o.append(arc);
    });
}

// The octets, or "FAIL" when the encoder refuses the value.
inline std::string encodeHex(ASN1::AbstractData const& value,
                             ASN1::CoderEnv::EncodingRules rule = ASN1::CoderEnv::per_Aligned)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    std::vector<char> out;
    if (!ASN1::encode(value, &env, std::back_inserter(out)))
        return "FAIL";
    return hex(out);
}

inline bool decodeInto(std::vector<char> const& octets, ASN1::AbstractData& value,
                       ASN1::CoderEnv::EncodingRules rule = ASN1::CoderEnv::per_Aligned)
{
    ASN1::CoderEnv env;
    env.set_encodingRule(rule);
    return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true);
}

inline std::unique_ptr<ASN1::AbstractData> fresh(ASN1::AbstractData const& like)
{
    return std::unique_ptr<ASN1::AbstractData>(ASN1::AbstractData::create(like.info()));
}

// `value` encodes to `octets`, which decode to a value that is equal (when `comparable`)
// and encodes to them again; every proper prefix fails to decode or re-encodes to itself.
inline void expectWire(ASN1::AbstractData const& value, std::string const& octets, bool comparable = true,
                       ASN1::CoderEnv::EncodingRules rule = ASN1::CoderEnv::per_Aligned)
{
    EXPECT_EQ(encodeHex(value, rule), octets);
    std::vector<char> full = bytes(octets);
    std::unique_ptr<ASN1::AbstractData> decoded = fresh(value);
    ASSERT_TRUE(decodeInto(full, *decoded, rule));
    EXPECT_EQ(comparable ? decoded->compare(value) : 0, 0) << decoded->asValueNotation();
    EXPECT_EQ(encodeHex(*decoded, rule), octets);
    for (std::size_t n = 0; n < full.size(); ++n) {
        std::vector<char> prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        std::unique_ptr<ASN1::AbstractData> cut = fresh(value);
        EXPECT_EQ(decodeInto(prefix, *cut, rule) ? encodeHex(*cut, rule) : hex(prefix), hex(prefix))
            << "cut at " << n;
    }
}

// A SEQUENCE { a A, b B } built at run time around two field descriptors.
inline const std::int32_t pairIds[] = {-1, -1}; // both mandatory
inline char const* const pairNames[] = {"a", "b"};
struct Pair {
    ASN1::TypeInfo const* infos[2];
    ASN1::SequenceInfo info;
    Pair(ASN1::TypeInfo const* a, ASN1::TypeInfo const* b)
        : infos{a, b},
          info{{&ASN1::SEQUENCE::create, 16}, false, infos, pairIds, 2, 0, 0, nullptr, nullptr, pairNames}
    {
    }
    std::unique_ptr<ASN1::SEQUENCE> make() const
    {
        return std::unique_ptr<ASN1::SEQUENCE>(
            static_cast<ASN1::SEQUENCE*>(ASN1::AbstractData::create(&info)));
    }
};

} // namespace asn1test
