// Shared test helpers: hex texts, coding through the coder environment.
#pragma once

#include "asn1/asn1.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace asn1test
{

// "C0 01 05": upper-case octets separated by single spaces.
inline std::string hex(std::vector<char> const& octets)
{
    static char const digits[] = "0123456789ABCDEF";
    std::string text;
    for (char c : octets) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!text.empty())
            text += ' ';
        text += digits[u >> 4];
        text += digits[u & 15];
    }
    return text;
}

inline std::vector<char> bytes(std::string const& text)
{
    std::vector<char> octets;
    unsigned value = 0;
    int digits = 0;
    for (char c : text) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
        if (d < 0)
            continue;
        value = value * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            octets.push_back(static_cast<char>(value));
            value = 0;
            digits = 0;
        }
    }
    return octets;
}

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
inline void expectWire(ASN1::AbstractData const& value, std::string const& octets, bool comparable = true)
{
    EXPECT_EQ(encodeHex(value), octets);
    std::vector<char> full = bytes(octets);
    std::unique_ptr<ASN1::AbstractData> decoded = fresh(value);
    ASSERT_TRUE(decodeInto(full, *decoded));
    if (comparable) {
        EXPECT_EQ(decoded->compare(value), 0) << decoded->asValueNotation();
    }
    EXPECT_EQ(encodeHex(*decoded), octets);
    for (std::size_t n = 0; n < full.size(); ++n) {
        std::vector<char> prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        std::unique_ptr<ASN1::AbstractData> cut = fresh(value);
        if (decodeInto(prefix, *cut)) {
            EXPECT_EQ(encodeHex(*cut), hex(prefix)) << "cut at " << n;
        }
    }
}

// A TM::Kinds with every field present, each holding a value of its own kind.
inline Value everyKind()
{
    return with<TM::Kinds>([](TM::Kinds& k) {
        k.set<ASN1::BOOLEAN>(TM::Kinds::boolean) = true;
        k.set<ASN1::INTEGER>(TM::Kinds::integer) = -5;
        k.set<ASN1::INTEGER>(TM::Kinds::minus128_127) = -1;
        k.set<ASN1::INTEGER>(TM::Kinds::lowerOnly) = -1;
        k.set<ASN1::INTEGER>(TM::Kinds::extRange) = 3;
        k.set<ASN1::INTEGER>(TM::Kinds::byte256) = 255;
        k.set<ASN1::IntegerWithNamedNumber>(TM::Kinds::named) = 2;
        k.set<TM::ErrorCause>(TM::Kinds::enumerated) = TM::ErrorCause::destroyInProgress;
        k.set<TM::Payload>(TM::Kinds::payload).setFromInt(2);
        k.set<TM::StandbyCommand>(TM::Kinds::standby).setFromInt(16);
        k.set<ASN1::OBJECT_IDENTIFIER>(TM::Kinds::oid) =
            static_cast<ASN1::OBJECT_IDENTIFIER&>(*asn1test::oid({1, 3, 6}));
        ASN1::BIT_STRING& bits = k.set<ASN1::BIT_STRING>(TM::Kinds::bits);
        bits.resize(3);
        bits.getData()[0] = '\xa0';
        k.set<ASN1::OCTET_STRING>(TM::Kinds::octets) = asn1test::bytes("a0 01 ff");
        k.set<ASN1::OCTET_STRING>(TM::Kinds::octets20000) = asn1test::bytes("0f");
        k.set<ASN1::NumericString>(TM::Kinds::numeric) = std::string("12 3");
        k.set<ASN1::PrintableString>(TM::Kinds::printable) = std::string("Hi");
        k.set<ASN1::VisibleString>(TM::Kinds::visible) = std::string("~");
        k.set<ASN1::IA5String>(TM::Kinds::ia5) = std::string("a\"b");
        k.set<ASN1::GeneralString>(TM::Kinds::general);
        k.set<ASN1::IA5String>(TM::Kinds::dname) = std::string("host");
        k.set<ASN1::NumericString>(TM::Kinds::digits2) = std::string("12");
        k.set<ASN1::BMPString>(TM::Kinds::bmp).assign(L"AB", 2);
        k.set<ASN1::BMPString>(TM::Kinds::bmp1).assign(L"\x0410", 1);
        k.set<ASN1::GeneralizedTime>(TM::Kinds::time).set("20070305143000Z");
        k.set<ASN1::SEQUENCE_OF<ASN1::INTEGER>>(TM::Kinds::integers) =
            static_cast<ASN1::SEQUENCE_OF<ASN1::INTEGER>&>(*asn1test::integers({1, -1}));
        k.set<ASN1::SET_OF<TM::Int0_127>>(TM::Kinds::ints);
        k.set<ASN1::OpenData>(TM::Kinds::open).set_data(new ASN1::BOOLEAN(true));
        ASN1::OpenData& typed = k.set<ASN1::OpenData>(TM::Kinds::typedOpen);
        static_cast<TM::Message&>(typed.get_data()).set_pdu().select_command().select_ping();
        k.set<ASN1::Null>(TM::Kinds::nothing);
    });
}

// A SEQUENCE { a A, b B } built at run time around two field descriptors.
struct Pair {
    ASN1::TypeInfo const* infos[2];
    ASN1::SequenceInfo info;
    Pair(ASN1::TypeInfo const* a, ASN1::TypeInfo const* b)
        : infos{a, b},
          info{{&ASN1::SEQUENCE::create, 16}, false, infos, ids(), 2, 0, 0, nullptr, nullptr, names()}
    {
    }
    static std::int32_t const* ids()
    {
        static const std::int32_t mandatory[] = {-1, -1};
        return mandatory;
    }
    static char const* const* names()
    {
        static char const* const fieldNames[] = {"a", "b"};
        return fieldNames;
    }
    std::unique_ptr<ASN1::SEQUENCE> make() const
    {
        return std::unique_ptr<ASN1::SEQUENCE>(
            static_cast<ASN1::SEQUENCE*>(ASN1::AbstractData::create(&info)));
    }
};

} // namespace asn1test
