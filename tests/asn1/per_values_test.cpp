// Aligned PER of every kind: byte-exact tables, range and length boundaries, receiving
// limits, extension additions, and the truncation sweep over all of them.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <functional>

namespace
{

using asn1test::bytes;
using asn1test::decodeInto;
using asn1test::encodeHex;
using asn1test::fresh;
using asn1test::hex;
using asn1test::Pair;
using Value = std::unique_ptr<ASN1::AbstractData>;

template <ASN1::ConstraintType T, std::int32_t L, std::uint32_t U> Value ranged(unsigned v)
{
    return Value(new ASN1::Constrained_INTEGER<T, L, U>(v));
}

Value integer(int v, ASN1::TypeInfo const* info = &ASN1::INTEGER::theInfo)
{
    return Value(new ASN1::INTEGER(v, info));
}

Value octets(std::string const& hexText, ASN1::TypeInfo const* info = &ASN1::OCTET_STRING::theInfo)
{
    return Value(new ASN1::OCTET_STRING(bytes(hexText), info));
}

Value octetsOfSize(unsigned n, ASN1::TypeInfo const* info = &ASN1::OCTET_STRING::theInfo)
{
    return Value(new ASN1::OCTET_STRING(n, 'x', info));
}

template <class S> Value text(std::string const& t, ASN1::TypeInfo const* info = &S::theInfo)
{
    return Value(new S(t, info));
}

Value bmp(std::wstring const& t, ASN1::TypeInfo const* info = &ASN1::BMPString::theInfo)
{
    return Value(new ASN1::BMPString(t, info));
}

Value bits(unsigned n, bool ones)
{
    ASN1::BIT_STRING* b = new ASN1::BIT_STRING;
    b->resize(n);
    for (unsigned i = 0; i < n; ++i) {
        if (ones)
            b->getData()[i / 8] = static_cast<char>(b->getData()[i / 8] | (0x80 >> (i % 8)));
    }
    return Value(b);
}

Value oid(std::vector<unsigned> const& arcs)
{
    ASN1::OBJECT_IDENTIFIER* o = new ASN1::OBJECT_IDENTIFIER;
    for (unsigned a : arcs)
        o->append(a);
    return Value(o);
}

template <class E> Value enumerated(int v)
{
    E* e = new E;
    e->setFromInt(v);
    return Value(e);
}

struct Case {
    char const* name;
    std::function<Value()> make;
    char const* octets; // "FAIL": the encoder refuses the value
};

// A SEQUENCE { flag BOOLEAN, value T } with the flag set: alignment shows in the octets.
template <class T> Value flagged(Value v)
{
    static std::vector<std::unique_ptr<Pair>> pairs; // descriptors outlive the values
    pairs.emplace_back(new Pair(&ASN1::BOOLEAN::theInfo, v->info()));
    std::unique_ptr<ASN1::SEQUENCE> s = pairs.back()->make();
    static_cast<ASN1::BOOLEAN&>(*s->getField(0)) = true;
    // The field was built by v's own descriptor, so it is of v's class.
    static_cast<T&>(*s->getField(1)) = static_cast<T const&>(*v);
    return Value(s.release());
}

std::vector<Case> const& cases()
{
    using ASN1::FixedConstraint;
    static std::vector<Case> const table = {
        // NULL, BOOLEAN
        {"NULL", [] { return Value(new ASN1::Null); }, ""},
        {"BOOLEAN true", [] { return Value(new ASN1::BOOLEAN(true)); }, "80"},
        {"BOOLEAN false after a bit", [] { return flagged<ASN1::BOOLEAN>(Value(new ASN1::BOOLEAN(false))); },
         "80"},

        // Unconstrained INTEGER: length octet, then minimal two's complement.
        {"INTEGER 0", [] { return integer(0); }, "01 00"},
        {"INTEGER 127", [] { return integer(127); }, "01 7F"},
        {"INTEGER 128", [] { return integer(128); }, "02 00 80"},
        {"INTEGER -128", [] { return integer(-128); }, "01 80"},
        {"INTEGER -129", [] { return integer(-129); }, "02 FF 7F"},
        {"INTEGER 65536", [] { return integer(65536); }, "03 01 00 00"},
        {"INTEGER INT_MAX", [] { return integer(INT_MAX); }, "04 7F FF FF FF"},
        {"INTEGER INT_MIN", [] { return integer(INT_MIN); }, "04 80 00 00 00"},
        {"INTEGER after a bit aligns", [] { return flagged<ASN1::INTEGER>(integer(5)); }, "80 01 05"},

        // Ranges: 1, 2, 255, 256, 257, 65536, 65537 values and the whole 32 bits.
        {"range of 1 value", [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 7, 7>(7)); }, "80"},
        {"range of 1 value, outside", [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 7, 7>(8)); },
         "FAIL"},
        {"range of 2 values, 1", [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 1>(1)); },
         "C0"},
        {"range of 255 values, 254",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 254>(254)); }, "FF 00"},
        {"range of 255 values, 0", [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 254>(0)); },
         "80 00"},
        {"range of 256 values, 255",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 255>(255)); }, "80 FF"},
        {"range of 257 values, 256",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 256>(256)); }, "80 01 00"},
        {"range of 257 values, 257",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 256>(257)); }, "FAIL"},
        {"range of 65536 values, 65535",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 65535>(65535)); }, "80 FF FF"},
        {"range of 65537 values, 0",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 65536>(0)); }, "80 00"},
        {"range of 65537 values, 255",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 65536>(255)); }, "80 FF"},
        {"range of 65537 values, 256",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 65536>(256)); }, "A0 01 00"},
        {"range of 65537 values, 65536",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 65536>(65536)); }, "C0 01 00 00"},
        {"0..4294967295, 0", [] { return ranged<FixedConstraint, 0, 0xFFFFFFFFu>(0); }, "00 00"},
        {"0..4294967295, 256", [] { return ranged<FixedConstraint, 0, 0xFFFFFFFFu>(256); }, "40 01 00"},
        {"0..4294967295, 4294967295", [] { return ranged<FixedConstraint, 0, 0xFFFFFFFFu>(0xFFFFFFFFu); },
         "C0 FF FF FF FF"},
        {"0..4294967295 after a bit",
         [] { return flagged<ASN1::INTEGER>(ranged<FixedConstraint, 0, 0xFFFFFFFFu>(0x01000000u)); },
         "E0 01 00 00 00"},
        {"112000..399975, 112000", [] { return ranged<FixedConstraint, 112000, 399975>(112000); }, "00 00"},
        {"112000..399975, 399975", [] { return ranged<FixedConstraint, 112000, 399975>(399975); },
         "80 04 64 E7"},
        {"-128..127, -1", [] { return integer(-1, &TM::IntMinus128_127Info); }, "7F"},
        {"-128..127, -128", [] { return integer(-128, &TM::IntMinus128_127Info); }, "00"},
        {"-128..127, 128", [] { return integer(128, &TM::IntMinus128_127Info); }, "FAIL"},
        {"-1000..1000, -1000",
         [] { return ranged<FixedConstraint, -1000, 1000>(static_cast<unsigned>(-1000)); }, "00 00"},
        {"-1000..1000, 1000", [] { return ranged<FixedConstraint, -1000, 1000>(1000); }, "07 D0"},
        // A lower limit only: the value itself (128 keeps its sign octet).
        {"5..MAX, 128", [] { return integer(128, &TM::IntLowerOnlyInfo); }, "02 00 80"},
        {"5..MAX, 5", [] { return integer(5, &TM::IntLowerOnlyInfo); }, "01 05"},
        // Extensible ranges: a bit, then the root form or the unconstrained form.
        {"0..7,... inside", [] { return integer(3, &TM::IntExtRangeInfo); }, "30"},
        {"0..7,... outside", [] { return integer(8, &TM::IntExtRangeInfo); }, "80 01 08"},
        {"-5..5,... -1 inside", [] { return integer(-1, &TM::IntExtSignedInfo); }, "20"},
        {"-5..5,... -6 outside", [] { return integer(-6, &TM::IntExtSignedInfo); }, "80 01 FA"},
        {"named number", [] { return integer(10, &TM::NamedIntInfo); }, "01 0A"},

        // ENUMERATED: the value itself in 0..max.
        {"ErrorCause invalidSlot", [] { return enumerated<TM::ErrorCause>(2); }, "10"},
        {"ErrorCause destroyInProgress", [] { return enumerated<TM::ErrorCause>(12); }, "60"},
        {"ErrorCause 13, beyond the root", [] { return enumerated<TM::ErrorCause>(13); }, "8E D0"},
        {"ErrorCause 100, beyond the root", [] { return enumerated<TM::ErrorCause>(100); }, "C0 01 65 C8"},
        {"ErrorCause -1", [] { return enumerated<TM::ErrorCause>(-1); }, "FAIL"},
        {"Payload ptR2S", [] { return enumerated<TM::Payload>(TM::Payload::ptR2S); }, "F6"},
        {"Payload ptG729", [] { return enumerated<TM::Payload>(TM::Payload::ptG729); }, "24"},
        {"Payload ptDyn", [] { return enumerated<TM::Payload>(TM::Payload::ptDyn); }, "C0"},
        {"Payload 124", [] { return enumerated<TM::Payload>(124); }, "FAIL"},
        {"StandbyCommand active", [] { return enumerated<TM::StandbyCommand>(TM::StandbyCommand::active); },
         "40"},
        {"StandbyCommand standby", [] { return enumerated<TM::StandbyCommand>(TM::StandbyCommand::standby); },
         "20"},
        {"R1Code silence after a bit", [] { return flagged<ASN1::ENUMERATED>(enumerated<TM::R1Code>(2)); },
         "C0"},

        // OBJECT IDENTIFIER: count in one aligned octet, then the X.690 octets.
        {"OID 1 2 840 113549",
         [] {
             return oid({1, 2, 840, 113549});
         },
         "06 2A 86 48 86 F7 0D"},
        {"OID 2 100",
         [] {
             return oid({2, 100});
         },
         "02 81 34"},
        {"OID 0 0 after a bit",
         [] {
             return flagged<ASN1::OBJECT_IDENTIFIER>(oid({0, 0}));
         },
         "80 01 00"},

        // BIT STRING: up to 16 bits as a bit map, more as aligned octets.
        {"BIT STRING empty", [] { return bits(0, false); }, "00"},
        {"BIT STRING 1 bit", [] { return bits(1, true); }, "01 80"},
        {"BIT STRING 9 bits", [] { return bits(9, true); }, "09 FF 80"},
        {"BIT STRING 16 bits", [] { return bits(16, true); }, "10 FF FF"},
        {"BIT STRING 17 bits", [] { return bits(17, true); }, "11 FF FF 80"},

        // OCTET STRING: one or two octets unaligned, three or more aligned.
        {"OCTET STRING empty", [] { return octets(""); }, "00"},
        {"OCTET STRING 0..7, one octet", [] { return octets("AB", &TM::Octets0_7Info); }, "35 60"},
        {"OCTET STRING 0..7, two octets", [] { return octets("AB CD", &TM::Octets0_7Info); }, "55 79 A0"},
        {"OCTET STRING 0..7, three octets", [] { return octets("01 02 03", &TM::Octets0_7Info); },
         "60 01 02 03"},
        {"OCTET STRING 0..7, eight octets",
         [] { return octets("01 02 03 04 05 06 07 08", &TM::Octets0_7Info); }, "FAIL"},
        {"OCTET STRING 1..4,... inside", [] { return octets("AB CD", &TM::OctetsExtInfo); }, "35 79 A0"},
        {"OCTET STRING 1..4,... outside", [] { return octets("01 02 03 04 05", &TM::OctetsExtInfo); },
         "80 05 01 02 03 04 05"},
        {"OCTET STRING 0x80", [] { return octets("80"); }, "01 80"},

        // Character strings.
        {"IA5String ab", [] { return text<ASN1::IA5String>("ab"); }, "02 61 62"},
        {"IA5String empty", [] { return text<ASN1::IA5String>(""); }, "00"},
        {"NumericString 12 3", [] { return text<ASN1::NumericString>("12 3"); }, "04 23 04"},
        {"NumericString with a letter", [] { return text<ASN1::NumericString>("1a"); }, "FAIL"},
        {"PrintableString Hi", [] { return text<ASN1::PrintableString>("Hi"); }, "02 48 69"},
        {"VisibleString ~", [] { return text<ASN1::VisibleString>("~"); }, "01 7E"},
        {"GeneralString \\xff", [] { return text<ASN1::GeneralString>("\xff"); }, "01 FF"},
        {"NumericString SIZE(0..2), unaligned",
         [] { return text<ASN1::NumericString>("12", &TM::Digits2Info); }, "88 C0"},
        {"IA5String SIZE(1..2), codes unaligned",
         [] { return text<ASN1::IA5String>("ab", &TM::Ia5Size2Info); }, "B0 B1 00"},
        {"dname host", [] { return text<ASN1::IA5String>("host", &TM::DnameInfo); }, "0C 68 6F 73 74"},
        {"dname empty", [] { return text<ASN1::IA5String>("", &TM::DnameInfo); }, "FAIL"},
        {"BMPString AB", [] { return bmp(L"AB"); }, "02 00 41 00 42"},
        {"BMPString SIZE(1) after a bit",
         [] { return flagged<ASN1::BMPString>(bmp(L"\x0410", &TM::Bmp1Info)); }, "82 08 00"},
        {"GeneralizedTime", [] { return Value(new ASN1::GeneralizedTime("20070305143000Z")); },
         "0F 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A"},

        // Lists.
        {"SEQUENCE OF INTEGER",
         [] {
             ASN1::SEQUENCE_OF<ASN1::INTEGER>* l = new ASN1::SEQUENCE_OF<ASN1::INTEGER>;
             l->push_back(ASN1::INTEGER(1, &ASN1::INTEGER::theInfo));
             l->push_back(ASN1::INTEGER(-1, &ASN1::INTEGER::theInfo));
             return Value(l);
         },
         "02 01 01 01 FF"},
        {"SET OF INTEGER (0..127)",
         [] {
             ASN1::SET_OF<TM::Int0_127>* l = new ASN1::SET_OF<TM::Int0_127>;
             l->push_back(TM::Int0_127(127));
             l->push_back(TM::Int0_127(1));
             return Value(l);
         },
         "02 FE 04"},
        {"empty SEQUENCE OF", [] { return Value(new ASN1::SEQUENCE_OF<ASN1::INTEGER>); }, "00"},

        // Open types: an empty content is one zero octet.
        {"open type without value", [] { return Value(new ASN1::OpenData); }, "01 00"},
        {"open type holding NULL",
         [] { return Value(new ASN1::OpenData(new ASN1::Null, &ASN1::OpenData::theInfo)); }, "01 00"},
        {"open type holding TRUE",
         [] { return Value(new ASN1::OpenData(new ASN1::BOOLEAN(true), &ASN1::OpenData::theInfo)); },
         "01 80"},
        {"typed open type holding a query",
         [] {
             Value v(ASN1::AbstractData::create(&TM::TypedOpenInfo));
             static_cast<TM::Message&>(static_cast<ASN1::OpenData&>(*v).get_data())
                 .set_pdu()
                 .select_command()
                 .select_query();
             return v;
         },
         "02 00 00"},

        // SEQUENCE with extension additions.
        {"TermParams without additions",
         [] {
             TM::TermParams* t = new TM::TermParams;
             t->set_id(1);
             return Value(t);
         },
         "00 01 01"},
        {"TermParams with mode",
         [] {
             TM::TermParams* t = new TM::TermParams;
             t->set_id(1);
             t->set_mode(true);
             return Value(t);
         },
         "40 01 01 80"},
        {"TermParams with traceLevel 5",
         [] {
             TM::TermParams* t = new TM::TermParams;
             t->set_id(1);
             t->set_traceLevel(5);
             return Value(t);
         },
         "80 01 01 01 01 50"},
        {"TermParams with name x",
         [] {
             TM::TermParams* t = new TM::TermParams;
             t->set_id(1);
             t->set_name("x");
             return Value(t);
         },
         "80 01 01 02 80 02 01 78"},
        {"TermParams with all three additions",
         [] {
             TM::TermParams* t = new TM::TermParams;
             t->set_id(-1);
             t->set_traceLevel(15);
             t->set_name("");
             t->set_flag();
             return Value(t);
         },
         "80 01 FF 05 C0 01 F0 01 00 01 00"},
        {"TermParams with traceLevel 16",
         [] {
             TM::TermParams* t = new TM::TermParams;
             t->set_id(1);
             t->set_traceLevel(16);
             return Value(t);
         },
         "FAIL"},
    };
    return table;
}

TEST(PerValues, EncodeDecodeRoundTrip)
{
    for (Case const& c : cases()) {
        SCOPED_TRACE(c.name);
        Value value = c.make();
        EXPECT_EQ(encodeHex(*value), c.octets);
        if (std::string(c.octets) == "FAIL")
            continue;
        Value decoded = fresh(*value);
        ASSERT_TRUE(decodeInto(bytes(c.octets), *decoded));
        // An untyped open type comes back as its octets, not as the value that made them.
        if (value->info() != &ASN1::OpenData::theInfo) {
            EXPECT_EQ(decoded->compare(*value), 0);
        }
        EXPECT_EQ(encodeHex(*decoded), c.octets);
    }
}

TEST(PerValues, ObjectIdentifierOfOneArcSendsNoOctets)
{
    EXPECT_EQ(encodeHex(*oid({1})), "00");
    EXPECT_EQ(encodeHex(*oid({})), "00");
}

TEST(PerValues, EveryProperPrefixFailsOrReencodesToItself)
{
    for (Case const& c : cases()) {
        if (std::string(c.octets) == "FAIL")
            continue;
        Value like = c.make();
        std::vector<char> full = bytes(c.octets);
        for (std::size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(n));
            std::vector<char> prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
            Value decoded = fresh(*like);
            if (decodeInto(prefix, *decoded)) {
                EXPECT_EQ(encodeHex(*decoded), hex(prefix));
            }
        }
    }
}

} // namespace

namespace
{

struct LengthCase {
    char const* name;
    unsigned size;
    ASN1::TypeInfo const* info;
    char const* head; // the length octets; "FAIL": not encodable
    bool decodes;     // within the receiving limit
};

TEST(PerValues, LengthBoundaries)
{
    LengthCase const table[] = {
        {"127 octets", 127, &ASN1::OCTET_STRING::theInfo, "7F", true},
        {"128 octets", 128, &ASN1::OCTET_STRING::theInfo, "80 80", true},
        {"16383 octets", 16383, &ASN1::OCTET_STRING::theInfo, "BF FF", true},
        {"16384 octets, unconstrained", 16384, &ASN1::OCTET_STRING::theInfo, "FAIL", false},
        {"16384 octets, SIZE(0..20000)", 16384, &TM::Octets20000Info, "40 00", true},
        {"16385 octets, SIZE(0..20000)", 16385, &TM::Octets20000Info, "40 01", false},
    };
    for (LengthCase const& c : table) {
        SCOPED_TRACE(c.name);
        Value value = octetsOfSize(c.size, c.info);
        std::string encoded = encodeHex(*value);
        if (std::string(c.head) == "FAIL") {
            EXPECT_EQ(encoded, "FAIL");
            continue;
        }
        std::vector<char> octets = bytes(encoded);
        std::vector<char> head = bytes(c.head);
        ASSERT_EQ(octets.size(), head.size() + c.size);
        EXPECT_EQ(
            hex(std::vector<char>(octets.begin(), octets.begin() + static_cast<std::ptrdiff_t>(head.size()))),
            c.head);
        Value decoded = fresh(*value);
        EXPECT_EQ(decodeInto(octets, *decoded), c.decodes);
        if (c.decodes) {
            EXPECT_EQ(decoded->compare(*value), 0);
        }
    }
    ASN1::IA5String longText(std::string(16384, 'a'));
    EXPECT_EQ(encodeHex(longText), "FAIL");
}

std::string listOfIntegers(unsigned count)
{
    ASN1::SEQUENCE_OF<ASN1::INTEGER> list;
    for (unsigned i = 0; i < count; ++i)
        list.push_back(ASN1::INTEGER(static_cast<int>(i), &ASN1::INTEGER::theInfo));
    return encodeHex(list);
}

TEST(PerValues, ListLimit)
{
    std::vector<char> ok = bytes(listOfIntegers(128));
    ASN1::SEQUENCE_OF<ASN1::INTEGER> decoded;
    ASSERT_TRUE(decodeInto(ok, decoded));
    EXPECT_EQ(decoded.size(), 128u);
    EXPECT_EQ(decoded[127].getValue(), 127);

    // 129 elements are refused before any element is read: the list stays as it was.
    std::vector<char> tooMany = bytes(listOfIntegers(129));
    ASN1::SEQUENCE_OF<ASN1::INTEGER> untouched;
    untouched.push_back(ASN1::INTEGER(7, &ASN1::INTEGER::theInfo));
    EXPECT_FALSE(decodeInto(tooMany, untouched));
    ASSERT_EQ(untouched.size(), 1u);
    EXPECT_EQ(untouched[0].getValue(), 7);
}

TEST(PerValues, FailingElementErasesItAndTheRest)
{
    // Five elements announced; the third is cut short.
    ASN1::SEQUENCE_OF<ASN1::INTEGER> list;
    list.resize(5);
    EXPECT_FALSE(decodeInto(bytes("05 01 0A 01 0B 02 00"), list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].getValue(), 10);
    EXPECT_EQ(list[1].getValue(), 11);
}

TEST(PerValues, ExtensionMapLimit)
{
    std::string zeros16(16 * 3, ' ');
    for (int i = 0; i < 16; ++i)
        zeros16.replace(static_cast<std::size_t>(i) * 3, 2, "00");
    // 128 additions announced, none present: fine.
    TM::TermParams params;
    EXPECT_TRUE(decodeInto(bytes("80 01 01 80 01 7F" + zeros16), params));
    EXPECT_EQ(params.getExtensionMap().size(), 128u);
    // 129 additions: refused.
    TM::TermParams tooMany;
    EXPECT_FALSE(decodeInto(bytes("80 01 01 80 01 80" + zeros16 + " 00"), tooMany));
}

TEST(PerValues, UnknownAdditionsAreSkippedAndNeverReencoded)
{
    struct Row {
        char const* name;
        char const* octets;
        char const* reencoded;
    } const table[] = {
        {"unknown addition 4 at the very end", "80 01 01 08 10 02 AA BB", "00 01 01"},
        // The map keeps the known part of its size (3 bits); the unknown bit goes.
        {"known traceLevel and unknown addition 4", "80 01 01 09 10 01 50 02 AA BB", "80 01 01 05 00 01 50"},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        TM::TermParams params;
        ASSERT_TRUE(decodeInto(bytes(row.octets), params));
        EXPECT_TRUE(params.hasOptionalField(1 + 4)); // the bit stays in the map
        EXPECT_EQ(encodeHex(params), row.reencoded);
    }
    TM::TermParams cut;
    EXPECT_FALSE(decodeInto(bytes("80 01 01 08 10 02 AA"), cut));
}

TEST(PerValues, ClearedAdditionsWriteOnlyAZeroExtensionBit)
{
    TM::TermParams params;
    params.set_id(1);
    params.set_traceLevel(3);
    params.omit_traceLevel();
    EXPECT_EQ(params.getExtensionMap().size(), 1u);
    EXPECT_EQ(encodeHex(params), "00 01 01");
}

struct DecodeCase {
    char const* name;
    std::function<Value()> make; // the value to decode into
    char const* octets;
    char const* result; // the value re-encoded, or "FAIL"
};

TEST(PerValues, DecoderRules)
{
    DecodeCase const table[] = {
        {"INTEGER of length 0 is 0", [] { return integer(9); }, "00", "01 00"},
        {"INTEGER FF is -1", [] { return integer(0); }, "01 FF", "01 FF"},
        {"INTEGER of 5 octets", [] { return integer(0); }, "05 00 00 00 00 01", "FAIL"},
        {"INTEGER with a fragmented length", [] { return integer(0); }, "C0 00", "FAIL"},
        {"INTEGER (5..MAX) keeps its sign", [] { return integer(0, &TM::IntLowerOnlyInfo); }, "01 FF",
         "01 FF"},
        {"INTEGER (5..MAX) 255", [] { return integer(0, &TM::IntLowerOnlyInfo); }, "02 00 FF", "02 00 FF"},
        {"INTEGER (-5..5,...) outside is sign-extended", [] { return integer(0, &TM::IntExtSignedInfo); },
         "80 01 FA", "80 01 FA"},
        {"extensible size at the end of the input", [] { return octets("", &TM::OctetsExtInfo); }, "",
         "FAIL"},
        {"OCTET STRING with length C0", [] { return octets(""); }, "C0 01", "FAIL"},
        {"OCTET STRING shorter than announced", [] { return octets(""); }, "05 01 02", "FAIL"},
        {"NumericString index 10 is 9", [] { return text<ASN1::NumericString>(""); }, "01 A0", "01 A0"},
        {"NumericString index 11 is outside the set", [] { return text<ASN1::NumericString>(""); }, "01 B0",
         "FAIL"},
        {"NumericString index 15 is outside the set", [] { return text<ASN1::NumericString>(""); }, "02 0F",
         "FAIL"},
        {"IA5String shorter than announced", [] { return text<ASN1::IA5String>(""); }, "03 61 62", "FAIL"},
        {"BMPString shorter than announced", [] { return bmp(L""); }, "02 00 41 00", "FAIL"},
        {"BIT STRING longer than the input", [] { return bits(0, false); }, "03", "FAIL"},
        {"BIT STRING of 17 bits cut", [] { return bits(0, false); }, "11 FF FF", "FAIL"},
        {"OBJECT IDENTIFIER past the input", [] { return oid({}); }, "02 2A", "FAIL"},
        {"OBJECT IDENTIFIER cut in a sub-identifier", [] { return oid({}); }, "02 2A 86", "FAIL"},
        {"GeneralizedTime of length 0", [] { return Value(new ASN1::GeneralizedTime); }, "00", "FAIL"},
        {"GeneralizedTime with an offset", [] { return Value(new ASN1::GeneralizedTime); },
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2D 30 30 33 30",
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2D 30 30 33 30"},
        {"GeneralizedTime with 13 digits", [] { return Value(new ASN1::GeneralizedTime); },
         "0E 32 30 30 37 30 33 30 35 31 34 33 30 30 5A", "FAIL"},
        {"GeneralizedTime offset minutes 60", [] { return Value(new ASN1::GeneralizedTime); },
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2B 30 30 36 30", "FAIL"},
        {"GeneralizedTime Z then more", [] { return Value(new ASN1::GeneralizedTime); },
         "10 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A 5A", "FAIL"},
        {"GeneralizedTime shorter than announced", [] { return Value(new ASN1::GeneralizedTime); },
         "05 32 30", "FAIL"},
        {"Payload above its maximum is stored as read", [] { return enumerated<TM::Payload>(0); }, "FE",
         "FAIL"},
        {"ErrorCause beyond the root", [] { return enumerated<TM::ErrorCause>(0); }, "8E D0", "8E D0"},
        {"BOOLEAN at the end", [] { return Value(new ASN1::BOOLEAN); }, "", "FAIL"},
        {"extensible SEQUENCE at the end", [] { return Value(new TM::TonePresence); }, "", "FAIL"},
        {"open type past the input", [] { return Value(new ASN1::OpenData); }, "03 01 02", "FAIL"},
        {"open type octets are kept", [] { return Value(new ASN1::OpenData); }, "02 01 02", "02 01 02"},
        {"empty open type is relayed empty", [] { return Value(new ASN1::OpenData); }, "00", "00"},
    };
    for (DecodeCase const& c : table) {
        SCOPED_TRACE(c.name);
        Value value = c.make();
        bool ok = decodeInto(bytes(c.octets), *value);
        if (ok) {
            EXPECT_EQ(encodeHex(*value), c.result);
        } else {
            EXPECT_EQ("FAIL", std::string(c.result));
        }
    }
    // Stored as read: the user range-checks before indexing.
    TM::Payload payload;
    ASSERT_TRUE(decodeInto(bytes("FE"), payload));
    EXPECT_EQ(payload.asInt(), 127);
}

TEST(PerValues, SequenceNeedingNoBitsDecodesAtTheEnd)
{
    Pair empty(&ASN1::Null::theInfo, &ASN1::Null::theInfo);
    std::unique_ptr<ASN1::SEQUENCE> s = empty.make();
    EXPECT_TRUE(decodeInto({}, *s));
}

} // namespace
