// Aligned PER of every kind and of whole messages of the controller link: byte-exact
// tables, range and length boundaries, receiving limits, extension additions, the
// truncation sweep over all of them, and the decoder's failure rules.
#include "tests/asn1/every_kind.hpp"
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <numeric>
#include <type_traits>

namespace
{

using asn1test::bytes;
using asn1test::decodeInto;
using asn1test::encodeHex;
using asn1test::fresh;
using asn1test::hex;
using asn1test::integer;
using asn1test::integers;
using asn1test::oid;
using asn1test::Pair;
using asn1test::Value;
using asn1test::with;

template <std::int32_t L, std::uint32_t U> Value ranged(unsigned v)
{
    return Value(new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, L, U>(v));
}

template <class F> Value term(F fill)
{
    return with<TM::TermParams>(fill);
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

Value typedQuery()
{
    Value v(ASN1::AbstractData::create(&TM::TypedOpenInfo));
    static_cast<TM::Message&>(static_cast<ASN1::OpenData&>(*v).get_data())
        .set_pdu()
        .select_command()
        .select_query();
    return v;
}

Value bits(unsigned n, bool ones)
{
    return with<ASN1::BIT_STRING>([=](ASN1::BIT_STRING& b) {
        b.resize(n);
        for (unsigned i = 0; ones && i < n; ++i)
            b.getData()[i / 8] = static_cast<char>(b.getData()[i / 8] | (0x80 >> (i % 8)));
    });
}

template <class E> Value enumerated(int v)
{
    return with<E>([v](E& e) { e.setFromInt(v); });
}

// An open type holding 200 octets: 202 octets of contents take a two-octet length.
char const* longOpenTypeOctets()
{
    static std::string const text = [] {
        std::string t = "80 CA 80 C8";
        for (int i = 0; i < 200; ++i)
            t += " 78";
        return t;
    }();
    return text.c_str();
}

struct Case {
    char const* name;
    std::shared_ptr<ASN1::AbstractData const> value; // only read: encoded, compared, copied
    char const* octets;                              // "FAIL": the encoder refuses the value
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

// An INTEGER (L..U) after a set bit.
template <std::int32_t L, std::uint32_t U> Value fr(unsigned v)
{
    return flagged<ASN1::INTEGER>(ranged<L, U>(v));
}

std::vector<Case> const& cases()
{
    static std::vector<Case> const table = {
        // NULL, BOOLEAN
        {"NULL", Value(new ASN1::Null), ""},
        {"BOOLEAN true", Value(new ASN1::BOOLEAN(true)), "80"},
        {"BOOLEAN false after a bit", flagged<ASN1::BOOLEAN>(Value(new ASN1::BOOLEAN(false))), "80"},

        // Unconstrained INTEGER: length octet, then minimal two's complement.
        {"INTEGER 0", integer(0), "01 00"},
        {"INTEGER 127", integer(127), "01 7F"},
        {"INTEGER 128", integer(128), "02 00 80"},
        {"INTEGER -128", integer(-128), "01 80"},
        {"INTEGER -129", integer(-129), "02 FF 7F"},
        {"INTEGER 65536", integer(65536), "03 01 00 00"},
        {"INTEGER INT_MAX", integer(INT_MAX), "04 7F FF FF FF"},
        {"INTEGER INT_MIN", integer(INT_MIN), "04 80 00 00 00"},
        {"INTEGER after a bit aligns", flagged<ASN1::INTEGER>(integer(5)), "80 01 05"},

        // Ranges: 1, 2, 255, 256, 257, 65536, 65537 values and the whole 32 bits.
        {"range of 1 value", fr<7, 7>(7), "80"},
        {"range of 1 value, outside", fr<7, 7>(8), "FAIL"},
        {"range of 2 values, 1", fr<0, 1>(1), "C0"},
        {"range of 255 values, 254", fr<0, 254>(254), "FF 00"},
        {"range of 256 values, 255", fr<0, 255>(255), "80 FF"},
        {"range of 257 values, 256", fr<0, 256>(256), "80 01 00"},
        {"range of 257 values, 257", fr<0, 256>(257), "FAIL"},
        {"range of 65536 values, 65535", fr<0, 65535>(65535), "80 FF FF"},
        {"range of 65537 values, 255", fr<0, 65536>(255), "80 FF"},
        {"range of 65537 values, 256", fr<0, 65536>(256), "A0 01 00"},
        {"range of 65537 values, 65536", fr<0, 65536>(65536), "C0 01 00 00"},
        {"0..4294967295, 0", ranged<0, 0xFFFFFFFFu>(0), "00 00"},
        {"0..4294967295, 256", ranged<0, 0xFFFFFFFFu>(256), "40 01 00"},
        {"0..4294967295, 4294967295", ranged<0, 0xFFFFFFFFu>(0xFFFFFFFFu), "C0 FF FF FF FF"},
        {"0..4294967295 after a bit", fr<0, 0xFFFFFFFFu>(0x01000000u), "E0 01 00 00 00"},
        {"112000..399975, 399975", ranged<112000, 399975>(399975), "80 04 64 E7"},
        {"-128..127, -1", integer(-1, &TM::IntMinus128_127Info), "7F"},
        {"-128..127, 128", integer(128, &TM::IntMinus128_127Info), "FAIL"},
        {"-1000..1000, 1000", ranged<-1000, 1000>(1000), "07 D0"},
        // A lower limit only: the value itself (128 keeps its sign octet).
        {"5..MAX, 128", integer(128, &TM::IntLowerOnlyInfo), "02 00 80"},
        // Extensible ranges: a bit, then the root form or the unconstrained form.
        {"0..7,... inside", integer(3, &TM::IntExtRangeInfo), "30"},
        {"0..7,... outside", integer(8, &TM::IntExtRangeInfo), "80 01 08"},
        {"-5..5,... -1 inside", integer(-1, &TM::IntExtSignedInfo), "20"},
        {"-5..5,... -6 outside", integer(-6, &TM::IntExtSignedInfo), "80 01 FA"},

        // ENUMERATED: the value itself in 0..max.
        {"ErrorCause destroyInProgress", enumerated<TM::ErrorCause>(12), "60"},
        {"ErrorCause 13, beyond the root", enumerated<TM::ErrorCause>(13), "8E D0"},
        {"ErrorCause 100, beyond the root", enumerated<TM::ErrorCause>(100), "C0 01 65 C8"},
        {"ErrorCause -1", enumerated<TM::ErrorCause>(-1), "FAIL"},
        {"Payload ptR2S", enumerated<TM::Payload>(TM::Payload::ptR2S), "F6"},
        {"Payload 124", enumerated<TM::Payload>(124), "FAIL"},
        {"StandbyCommand active", enumerated<TM::StandbyCommand>(TM::StandbyCommand::active), "40"},
        {"R1Code silence after a bit", flagged<ASN1::ENUMERATED>(enumerated<TM::R1Code>(2)), "C0"},

        // OBJECT IDENTIFIER: count in one aligned octet, then the X.690 octets.
        {"OID 1 2 840 113549", oid({1, 2, 840, 113549}), "06 2A 86 48 86 F7 0D"},
        {"OID 0 0 after a bit", flagged<ASN1::OBJECT_IDENTIFIER>(oid({0, 0})), "80 01 00"},

        // BIT STRING: up to 16 bits as a bit map, more as aligned octets.
        {"BIT STRING empty", bits(0, false), "00"},
        {"BIT STRING 9 bits", bits(9, true), "09 FF 80"},
        {"BIT STRING 16 bits", bits(16, true), "10 FF FF"},
        {"BIT STRING 17 bits", bits(17, true), "11 FF FF 80"},

        // OCTET STRING: one or two octets unaligned, three or more aligned.
        {"OCTET STRING empty", octets(""), "00"},
        {"OCTET STRING 0..7, one octet", octets("AB", &TM::Octets0_7Info), "35 60"},
        {"OCTET STRING 0..7, two octets", octets("AB CD", &TM::Octets0_7Info), "55 79 A0"},
        {"OCTET STRING 0..7, three octets", octets("01 02 03", &TM::Octets0_7Info), "60 01 02 03"},
        {"OCTET STRING 0..7, eight octets", octets("01 02 03 04 05 06 07 08", &TM::Octets0_7Info), "FAIL"},
        {"OCTET STRING 1..4,... inside", octets("AB CD", &TM::OctetsExtInfo), "35 79 A0"},
        {"OCTET STRING 1..4,... outside", octets("01 02 03 04 05", &TM::OctetsExtInfo),
         "80 05 01 02 03 04 05"},
        {"OCTET STRING 0x80", octets("80"), "01 80"},

        // Character strings.
        {"IA5String ab", text<ASN1::IA5String>("ab"), "02 61 62"},
        {"NumericString 12 3", text<ASN1::NumericString>("12 3"), "04 23 04"},
        {"NumericString with a letter", text<ASN1::NumericString>("1a"), "FAIL"},
        {"PrintableString Hi", text<ASN1::PrintableString>("Hi"), "02 48 69"},
        {"VisibleString ~", text<ASN1::VisibleString>("~"), "01 7E"},
        {"GeneralString \\xff", text<ASN1::GeneralString>("\xff"), "01 FF"},
        {"NumericString SIZE(0..2), unaligned", text<ASN1::NumericString>("12", &TM::Digits2Info), "88 C0"},
        {"IA5String SIZE(1..2), codes unaligned", text<ASN1::IA5String>("ab", &TM::Ia5Size2Info), "B0 B1 00"},
        {"dname host", text<ASN1::IA5String>("host", &TM::DnameInfo), "0C 68 6F 73 74"},
        {"dname empty", text<ASN1::IA5String>("", &TM::DnameInfo), "FAIL"},
        {"BMPString AB", bmp(L"AB"), "02 00 41 00 42"},
        {"BMPString SIZE(1) after a bit", flagged<ASN1::BMPString>(bmp(L"\x0410", &TM::Bmp1Info)),
         "82 08 00"},
        {"GeneralizedTime", Value(new ASN1::GeneralizedTime("20070305143000Z")),
         "0F 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A"},

        // Lists.
        {"SEQUENCE OF INTEGER", integers({1, -1}), "02 01 01 01 FF"},
        {"SET OF INTEGER (0..127)", with<ASN1::SET_OF<TM::Int0_127>>([](auto& l) {
             l.push_back(127);
             l.push_back(1);
         }),
         "02 FE 04"},
        {"empty SEQUENCE OF", Value(new ASN1::SEQUENCE_OF<ASN1::INTEGER>), "00"},

        // Open types: an empty content is one zero octet.
        {"open type without value", Value(new ASN1::OpenData), "01 00"},
        {"open type holding NULL", Value(new ASN1::OpenData(new ASN1::Null, &ASN1::OpenData::theInfo)),
         "01 00"},
        {"open type holding TRUE",
         Value(new ASN1::OpenData(new ASN1::BOOLEAN(true), &ASN1::OpenData::theInfo)), "01 80"},
        {"typed open type holding a query", typedQuery(), "02 00 00"},
        {"open type holding only received octets is sent empty", with<ASN1::OpenData>([](ASN1::OpenData& o) {
             o.grab(new std::vector<char>{'\x01', '\x02'});
         }),
         "01 00"},
        {"open type of 202 octets",
         Value(new ASN1::OpenData(octetsOfSize(200).release(), &ASN1::OpenData::theInfo)),
         longOpenTypeOctets()},

        // SEQUENCE with extension additions.
        {"TermParams without additions", term([](auto& t) { t.set_id(1); }), "00 01 01"},
        {"TermParams with mode", term([](auto& t) {
             t.set_id(1);
             t.set_mode(true);
         }),
         "40 01 01 80"},
        {"TermParams with traceLevel 5", term([](auto& t) {
             t.set_id(1);
             t.set_traceLevel(5);
         }),
         "80 01 01 01 01 50"},
        {"TermParams with name x", term([](auto& t) {
             t.set_id(1);
             t.set_name("x");
         }),
         "80 01 01 02 80 02 01 78"},
        {"TermParams with all three additions", term([](auto& t) {
             t.set_id(-1);
             t.set_traceLevel(15);
             t.set_name("");
             t.set_flag();
         }),
         "80 01 FF 05 C0 01 F0 01 00 01 00"},
        {"TermParams with traceLevel 16", term([](auto& t) {
             t.set_id(1);
             t.set_traceLevel(16);
         }),
         "FAIL"},
        // A cleared addition writes only a zero extension bit.
        {"TermParams with traceLevel set, then omitted", term([](auto& t) {
             t.set_id(1);
             t.set_traceLevel(3);
             t.omit_traceLevel();
         }),
         "00 01 01"},
    };
    return table;
}

TEST(PerCoder, EncodeDecodeRoundTripAndEveryPrefix)
{
    for (Case const& c : cases()) {
        SCOPED_TRACE(c.name);
        if (std::string(c.octets) == "FAIL") {
            EXPECT_EQ(encodeHex(*c.value), "FAIL");
            continue;
        }
        if (c.value->info() != &ASN1::OpenData::theInfo) {
            asn1test::expectWire(*c.value, c.octets);
            continue;
        }
        // An untyped open type comes back as its contents octets, not as the value that
        // made them; with no decoded value it is sent empty.
        EXPECT_EQ(encodeHex(*c.value), c.octets);
        ASN1::OpenData received;
        std::vector<char> full = bytes(c.octets);
        ASSERT_TRUE(decodeInto(full, received));
        ASSERT_TRUE(received.has_buf());
        EXPECT_EQ(hex(received.get_buf()),
                  hex(std::vector<char>(full.end() - received.get_buf().size(), full.end())));
        EXPECT_EQ(encodeHex(received), "01 00");
    }
}

// An encoder built over a buffer leaves the octets there when the outermost value's
// accept returns: values of every kind, one whose fields are reached through accept
// inside the walk, and one longer than the encoder's own storage.
TEST(PerCoder, AcceptLeavesTheOctetsInTheBuffer)
{
    std::vector<Case> table = cases();
    table.push_back({"every kind", asn1test::everyKind(), ""});
    table.push_back({"300 octets", octetsOfSize(300), ""});
    for (Case const& c : table) {
        SCOPED_TRACE(c.name);
        std::string expected = encodeHex(*c.value);
        if (expected == "FAIL")
            continue;
        std::vector<char> buffer{'x'};
        ASN1::PEREncoder encoder(buffer, true);
        EXPECT_TRUE(c.value->accept(encoder));
        EXPECT_EQ(hex(buffer), expected);
    }
}

// Values accepted one after another by one encoder: each continues in the free bits
// of the octet the one before left, and after each accept the buffer holds every
// octet so far, the last one padded.
TEST(PerCoder, NextAcceptContinuesInThePartlyFilledOctet)
{
    TM::Message ping;
    ping.set_seq(5);
    ping.set_pdu().select_command().select_ping();
    struct Row {
        char const* name;
        std::vector<ASN1::AbstractData const*> values;
        std::vector<std::string> after; // the buffer after each accept
    };
    const ASN1::BOOLEAN yes(true);
    const ASN1::INTEGER five(5);
    const TM::R1Code noise(TM::R1Code::noise);
    Value const big = octetsOfSize(300);
    const std::string bigOctets = encodeHex(*big);
    Row const table[] = {
        {"two BOOLEAN true", {&yes, &yes}, {"80", "C0"}},
        {"nine BOOLEAN true",
         {&yes, &yes, &yes, &yes, &yes, &yes, &yes, &yes, &yes},
         {"80", "C0", "E0", "F0", "F8", "FC", "FE", "FF", "FF 80"}},
        {"an aligned value starts on the next octet", {&yes, &five, &yes}, {"80", "80 01 05", "80 01 05 80"}},
        {"a two-bit enumeration, then a bit", {&noise, &yes}, {"40", "60"}},
        {"into a message's fill bit",
         {&ping, &yes, &ping},
         {"80 01 05 18", "80 01 05 19", "80 01 05 19 80 01 05 18"}},
        {"after a value longer than the encoder's own storage",
         {big.get(), &yes, &yes},
         {bigOctets, bigOctets + " 80", bigOctets + " C0"}},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        std::vector<char> buffer{'x'};
        ASN1::PEREncoder encoder(buffer, true);
        for (std::size_t i = 0; i < row.values.size(); ++i) {
            ASSERT_TRUE(row.values[i]->accept(encoder));
            EXPECT_EQ(hex(buffer), row.after[i]) << "after value " << i + 1;
        }
    }
}

TEST(PerCoder, ObjectIdentifierOfOneArcSendsNoOctets)
{
    EXPECT_EQ(encodeHex(*oid({1})), "00");
    EXPECT_EQ(encodeHex(*oid({})), "00");
}

struct LengthCase {
    char const* name;
    unsigned size;
    ASN1::TypeInfo const* info;
    char const* head; // the length octets; "FAIL": not encodable
    bool decodes;     // within the receiving limit
};

TEST(PerCoder, LengthBoundaries)
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
        EXPECT_EQ(c.decodes ? decoded->compare(*value) : 0, 0);
    }
    ASN1::IA5String longText(std::string(16384, 'a'));
    EXPECT_EQ(encodeHex(longText), "FAIL");
}

std::string listOfIntegers(int count)
{
    std::vector<int> values(static_cast<std::size_t>(count));
    std::iota(values.begin(), values.end(), 0);
    return encodeHex(*integers(values));
}

TEST(PerCoder, ListLimit)
{
    ASN1::SEQUENCE_OF<ASN1::INTEGER> decoded;
    ASSERT_TRUE(decodeInto(bytes(listOfIntegers(128)), decoded));
    EXPECT_EQ(decoded.size(), 128u);
    EXPECT_EQ(decoded[127].getValue(), 127);

    // 129 elements are refused before any element is read: the list stays as it was.
    ASN1::SEQUENCE_OF<ASN1::INTEGER> untouched;
    untouched.push_back(ASN1::INTEGER(7, &ASN1::INTEGER::theInfo));
    EXPECT_FALSE(decodeInto(bytes(listOfIntegers(129)), untouched));
    ASSERT_EQ(untouched.size(), 1u);
    EXPECT_EQ(untouched[0].getValue(), 7);
}

TEST(PerCoder, FailingElementErasesItAndTheRest)
{
    // Five elements announced; the third is cut short.
    ASN1::SEQUENCE_OF<ASN1::INTEGER> list;
    list.resize(5);
    EXPECT_FALSE(decodeInto(bytes("05 01 0A 01 0B 02 00"), list));
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].getValue(), 10);
    EXPECT_EQ(list[1].getValue(), 11);
}

struct DecodeCase {
    char const* name;
    std::shared_ptr<ASN1::AbstractData const> start; // a copy of it is decoded into
    char const *octets, *result;                     // result: the value re-encoded, or "FAIL"
};

TEST(PerCoder, DecoderRules)
{
    DecodeCase const table[] = {
        {"INTEGER of length 0 is 0", integer(9), "00", "01 00"},
        {"INTEGER FF is -1", integer(0), "01 FF", "01 FF"},
        {"INTEGER of 5 octets", integer(0), "05 00 00 00 00 01", "FAIL"},
        {"INTEGER with a fragmented length", integer(0), "C0 00", "FAIL"},
        {"INTEGER (5..MAX) keeps its sign", integer(0, &TM::IntLowerOnlyInfo), "01 FF", "01 FF"},
        {"INTEGER (5..MAX) 255", integer(0, &TM::IntLowerOnlyInfo), "02 00 FF", "02 00 FF"},
        {"INTEGER (-5..5,...) outside is sign-extended", integer(0, &TM::IntExtSignedInfo), "80 01 FA",
         "80 01 FA"},
        {"extensible size at the end of the input", octets("", &TM::OctetsExtInfo), "", "FAIL"},
        {"OCTET STRING with length C0", octets(""), "C0 01", "FAIL"},
        {"OCTET STRING shorter than announced", octets(""), "05 01 02", "FAIL"},
        {"NumericString index 10 is 9", text<ASN1::NumericString>(""), "01 A0", "01 A0"},
        {"NumericString index 11 is outside the set", text<ASN1::NumericString>(""), "01 B0", "FAIL"},
        {"IA5String shorter than announced", text<ASN1::IA5String>(""), "03 61 62", "FAIL"},
        {"BMPString shorter than announced", bmp(L""), "02 00 41 00", "FAIL"},
        {"BIT STRING longer than the input", bits(0, false), "03", "FAIL"},
        {"BIT STRING of 17 bits cut", bits(0, false), "11 FF FF", "FAIL"},
        {"OBJECT IDENTIFIER past the input", oid({}), "02 2A", "FAIL"},
        {"OBJECT IDENTIFIER cut in a sub-identifier", oid({}), "02 2A 86", "FAIL"},
        {"GeneralizedTime of length 0", Value(new ASN1::GeneralizedTime), "00", "FAIL"},
        {"GeneralizedTime with an offset", Value(new ASN1::GeneralizedTime),
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2D 30 30 33 30",
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2D 30 30 33 30"},
        // Any text is taken: the time holds what it reads from it.
        {"GeneralizedTime with 13 digits", Value(new ASN1::GeneralizedTime),
         "0E 32 30 30 37 30 33 30 35 31 34 33 30 30 5A", "0F 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A"},
        {"GeneralizedTime offset minutes 60", Value(new ASN1::GeneralizedTime),
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2B 30 30 36 30",
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2B 30 31 30 30"},
        // An offset of 100 hours or more goes out with 99 hours and the minutes left over,
        // the form it was read from, so it reads back the same.
        {"GeneralizedTime offset -9999", Value(new ASN1::GeneralizedTime),
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2D 39 39 39 39",
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2D 39 39 39 39"},
        {"GeneralizedTime offset +9960 is 100 hours", Value(new ASN1::GeneralizedTime),
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2B 39 39 36 30",
         "13 32 30 30 37 30 33 30 35 31 34 33 30 30 30 2B 39 39 36 30"},
        {"GeneralizedTime Z then more", Value(new ASN1::GeneralizedTime),
         "10 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A 5A",
         "0F 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A"},
        {"GeneralizedTime not a time", Value(new ASN1::GeneralizedTime), "02 41 42",
         "0E 30 30 30 31 30 31 30 31 30 30 30 30 30 30"},
        {"GeneralizedTime shorter than announced", Value(new ASN1::GeneralizedTime), "05 32 30", "FAIL"},
        {"Payload above its maximum is stored as read", enumerated<TM::Payload>(0), "FE", "FAIL"},
        {"ErrorCause beyond the root", enumerated<TM::ErrorCause>(0), "8E D0", "8E D0"},
        {"BOOLEAN at the end", Value(new ASN1::BOOLEAN), "", "FAIL"},
        {"extensible SEQUENCE at the end", Value(new TM::TonePresence), "", "FAIL"},
        {"open type past the input", Value(new ASN1::OpenData), "03 01 02", "FAIL"},
        // Unknown additions are skipped and never re-encoded; the map keeps its known part.
        {"unknown addition 4 at the very end", Value(new TM::TermParams), "80 01 01 08 10 02 AA BB",
         "00 01 01"},
        {"known traceLevel and unknown addition 4", Value(new TM::TermParams),
         "80 01 01 09 10 01 50 02 AA BB", "80 01 01 05 00 01 50"},
        {"unknown addition cut short", Value(new TM::TermParams), "80 01 01 08 10 02 AA", "FAIL"},
        // At most 128 additions in an extension map.
        {"128 additions, none present", Value(new TM::TermParams),
         "80 01 01 80 01 7F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "00 01 01"},
        {"129 additions", Value(new TM::TermParams),
         "80 01 01 80 01 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", "FAIL"},
        // Received open-type octets that were never decoded are not sent again.
        {"open type octets are not sent again", Value(new ASN1::OpenData), "02 01 02", "01 00"},
        {"empty open type is sent as one zero octet", Value(new ASN1::OpenData), "00", "01 00"},
    };
    for (DecodeCase const& c : table) {
        SCOPED_TRACE(c.name);
        Value value(c.start->clone());
        EXPECT_EQ(decodeInto(bytes(c.octets), *value) ? encodeHex(*value) : "FAIL", c.result);
    }
    // Stored as read: the user range-checks before indexing.
    TM::Payload payload;
    ASSERT_TRUE(decodeInto(bytes("FE"), payload));
    EXPECT_EQ(payload.asInt(), 127);
}

// A small whole number (a CHOICE extension index, an extension-addition count) sent in
// its long form decodes as its short form does, a length of 0 included; the forms next
// to it that are malformed still fail.
TEST(PerCoder, SmallNumberInItsLongForm)
{
    struct Row {
        char const* name;
        ASN1::TypeInfo const* info;
        char const* octets;
        char const* same; // octets of the form that decodes to the same value; null: fails
    } const table[] = {
        {"index, length 0", &TM::TonecCode::theInfo, "C0 00 01 00", "80 01 00"},
        {"index, length 1", &TM::TonecCode::theInfo, "C0 01 00 01 00", "80 01 00"},
        {"index, length 0, open type cut", &TM::TonecCode::theInfo, "C0 00 01", nullptr},
        {"index, length 0, open type past the end", &TM::TonecCode::theInfo, "C0 00 02 00", nullptr},
        {"index, length past the end", &TM::TonecCode::theInfo, "C0 01", nullptr},
        {"index of 5 octets", &TM::TonecCode::theInfo, "C0 05 00 00 00 00 00 01 00", nullptr},
        {"index with a fragmented length", &TM::TonecCode::theInfo, "C0 C0 00 01 00", nullptr},
        {"addition count, length 0", &TM::TermParams::theInfo, "80 00 80 00 00", "80 00 00"},
        {"addition count, length 0, traceLevel 5", &TM::TermParams::theInfo, "80 01 01 80 00 80 01 50",
         "80 01 01 01 01 50"},
        {"addition count, length 0, no presence bit", &TM::TermParams::theInfo, "80 00 80 00", nullptr},
        {"addition count, length past the end", &TM::TermParams::theInfo, "80 00 80 01", nullptr},
        // An extensible ENUMERATED whose count of extension values is 0 has no value.
        {"enumeration count, length 0", &TM::Message::theInfo, "1E 00", nullptr},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(row.info));
        bool ok = decodeInto(bytes(row.octets), *value);
        EXPECT_EQ(ok, row.same != nullptr);
        if (!ok || row.same == nullptr)
            continue;
        std::unique_ptr<ASN1::AbstractData> canonical(ASN1::AbstractData::create(row.info));
        ASSERT_TRUE(decodeInto(bytes(row.same), *canonical));
        EXPECT_EQ(value->compare(*canonical), 0) << value->asValueNotation();
        EXPECT_EQ(encodeHex(*value), encodeHex(*canonical));
    }
}

TEST(PerCoder, SequenceNeedingNoBitsDecodesAtTheEnd)
{
    Pair empty(&ASN1::Null::theInfo, &ASN1::Null::theInfo);
    std::unique_ptr<ASN1::SEQUENCE> s = empty.make();
    EXPECT_TRUE(decodeInto({}, *s));
}

// ---- whole messages ---------------------------------------------------------------

struct MessageCase {
    char const* name;
    std::function<void(TM::Message&)> build;
    char const* octets;
};

using C = TM::Command;
using R = TM::Response;
using S = TM::Signal;
int const none = -1000; // seq or slot absent

// A message with seq and slot (when not `none`) around one command, response or signal.
template <class Alt> std::function<void(TM::Message&)> carrying(int seq, int slot, void (*fill)(Alt&))
{
    return [=](TM::Message& m) {
        if (seq != none)
            m.set_seq(seq);
        if (slot != none)
            m.set_slot(static_cast<unsigned>(slot));
        if constexpr (std::is_same<Alt, C>::value)
            fill(m.set_pdu().select_command());
        else if constexpr (std::is_same<Alt, R>::value)
            fill(m.set_pdu().select_response());
        else
            fill(m.set_pdu().select_signal());
    };
}

std::vector<MessageCase> const& messageCases()
{
    static std::vector<MessageCase> const cases = {
        // ext 0, index 000, then 7 bits 1111111
        {"slot 7, signal tonec dtmf 127",
         carrying<S>(none, 7,
                     [](S& s) {
                         s.select_tonec().set_timestamp(1000);
                         s.ref_tonec().set_event().select_dtmf(127);
                     }),
         "40 00 07 81 02 03 E8 0F E0"},
        // 00 10 0 00001 | 01 FF | 0 101 (tone-presence) 0 (no extension) | 02 01 B8 | 1
        {"signal tone-presence",
         carrying<S>(none, none,
                     [](S& s) {
                         TM::TonePresence& tp = s.select_tonec().set_event().select_tone_presence();
                         s.ref_tonec().set_timestamp(-1);
                         tp.set_freq(440);
                         tp.set_presence(true);
                     }),
         "20 40 01 FF 50 02 01 B8 80"},
        // 00 10 0 00111 -> 21 C0; length 02, FF 7F
        {"signal abort -129", carrying<S>(none, none, [](S& s) { s.select_abort(-129); }), "21 C0 02 FF 7F"},
        {"signal number", carrying<S>(none, none, [](S& s) { s.select_number("123"); }), "20 80 03 31 32 33"},
        // 00 00 0 1000 + align, length 01 aligned, the octet
        {"userData of one octet",
         carrying<C>(none, none, [](C& c) { c.select_userData() = std::vector<char>{'\x7f'}; }),
         "04 00 01 7F"},
        // 10 | 01 2A | 00 0 1011 + 10 (line) + 1 (enabled) -> 0001 0111 01 then align, 01 02
        {"clockCfg",
         carrying<C>(42, none,
                     [](C& c) {
                         TM::ClockCfg& cfg = c.select_clockCfg();
                         cfg.set_clkSel0() = TM::ClkSel::line, cfg.set_bextEn() = TM::BExtEn::enabled,
                         cfg.set_source(2);
                     }),
         "80 01 2A 17 40 01 02"},
    };
    return cases;
}

TEST(PerCoder, MessagesRoundTripAndEveryPrefix)
{
    for (MessageCase const& c : messageCases()) {
        SCOPED_TRACE(c.name);
        TM::Message message;
        c.build(message);
        asn1test::expectWire(message, c.octets);
    }
}

TEST(PerCoder, DecoderKeepsWhatItsUserChecks)
{
    // A value above the slot range is stored as read; its user checks it.
    TM::Message high;
    ASSERT_TRUE(decodeInto(bytes("C0 01 05 FF FF 18"), high));
    EXPECT_EQ(high.get_slot().getValue(), 65535u);

    // Octets after a complete message are ignored.
    TM::Message extra;
    ASSERT_TRUE(decodeInto(bytes("80 01 05 18 FF FF FF"), extra));
    EXPECT_EQ(encodeHex(extra), "80 01 05 18");
}

struct BadInput {
    char const *name, *octets;
};

TEST(PerCoder, MalformedInputFailsAsAWhole)
{
    BadInput const cases[] = {
        {"empty input", ""},
        {"connect cut inside its 16 bits", "80 01 05 04"},
        {"connect cut after one of its octets", "80 01 05 04 01"},
        {"PDU index 3 of 3 alternatives", "30"},
        {"TonecCode root index 6 of 6", "40 00 07 81 01 00 60"},
        {"open type longer than the input", "40 00 07 81 01 00 80 05 00"},
        {"unknown TonecCode extension alternative longer than the input", "40 00 07 81 01 00 81 02 00"},
        {"ErrorCause extension with a zero count", "1C 00"},
        {"ErrorCause extension cut", "1C"},
    };
    for (BadInput const& c : cases) {
        SCOPED_TRACE(c.name);
        TM::Message m;
        EXPECT_FALSE(decodeInto(bytes(c.octets), m));
    }
}

// An alternative added to an extensible CHOICE by a later version fails the whole
// decoding. A type marked to accept it is left unrecognised, with no value, and the
// decoding goes on after its open type; such a CHOICE has no encoding.
TEST(PerCoder, UnknownExtensionAlternativeFailsUnlessTheTypeAcceptsIt)
{
    // SEQUENCE { a TonecCode, b BOOLEAN }: TonecCode has six root alternatives and
    // one addition, so the addition numbers 1 and up are unknown.
    ASN1::ChoiceInfo accepting = TM::TonecCode::theInfo;
    accepting.acceptsUnknownAlternative = true;
    Pair const ordinary(&TM::TonecCode::theInfo, &ASN1::BOOLEAN::theInfo);
    Pair const lenient(&accepting, &ASN1::BOOLEAN::theInfo);
    struct Row {
        char const *name, *octets;
        int index; // of a, after decoding by the accepting type; 99: the decoding fails
        bool b;
    } const table[] = {
        {"addition 1, one zero octet", "81 01 00 80", -2, true},
        {"addition 1, three octets", "81 03 AA BB CC 80", -2, true},
        {"addition 63", "BF 02 AA BB 00", -2, false},
        {"addition 64, in the long form", "C0 01 40 01 00 80", -2, true},
        {"the known addition still decodes", "80 01 00 80", 6, true},
        {"a root alternative", "00 B0", 0, true},
        {"open type cut", "81 03 AA BB", 99, false},
        {"nothing after the open type", "81 03 AA BB CC", 99, false},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        // The ordinary type decodes only what it knows.
        std::unique_ptr<ASN1::SEQUENCE> strict = ordinary.make();
        EXPECT_EQ(decodeInto(bytes(row.octets), *strict), row.index >= 0 && row.index != 99);

        std::unique_ptr<ASN1::SEQUENCE> s = lenient.make();
        bool ok = decodeInto(bytes(row.octets), *s);
        ASSERT_EQ(ok, row.index != 99);
        if (!ok)
            continue;
        auto const& a = static_cast<ASN1::CHOICE const&>(*s->getField(0));
        EXPECT_EQ(a.currentSelection(), row.index);
        EXPECT_EQ(a.isUnknownSelection(), row.index == -2);
        EXPECT_EQ(a.getSelection() == nullptr, row.index == -2);
        EXPECT_EQ(static_cast<bool>(static_cast<ASN1::BOOLEAN const&>(*s->getField(1))), row.b);
        EXPECT_EQ(encodeHex(*s), row.index == -2 ? "FAIL" : row.octets);
    }

    // In a message: a Command, or a TonecCode nested in a signal, of a later version.
    TM::Message command;
    EXPECT_FALSE(decodeInto(bytes("80 01 05 20 00 01 00"), command));
    TM::Message signal;
    EXPECT_FALSE(decodeInto(bytes("40 00 07 81 01 00 81 01 00"), signal));
    // The same signal with the known addition.
    ASSERT_TRUE(decodeInto(bytes("40 00 07 81 01 00 80 01 00"), signal));
    EXPECT_EQ(signal.get_pdu().get_signal().get_tonec().get_event().currentSelection(), 6);
}

// The index part of a CHOICE alone: the selection it makes, and for an extension
// alternative the end of its open type, where the decoding goes on.
TEST(PerCoder, ChoicePreambleSelectsAndMarksTheOpenTypesEnd)
{
    ASN1::ChoiceInfo accepting = TM::TonecCode::theInfo;
    accepting.acceptsUnknownAlternative = true;
    struct Row {
        char const* name;
        ASN1::ChoiceInfo const* info;
        char const* octets;
        bool ok;
        int selection;
        long end;          // byte offset of the open type's end; -1: no open type
        unsigned bitsLeft; // after the preamble
    } const table[] = {
        {"root alternative dtmf", &TM::TonecCode::theInfo, "00 B0", true, 0, -1, 12},
        {"known addition", &TM::TonecCode::theInfo, "80 01 00 80", true, 6, 3, 16},
        {"unknown addition", &TM::TonecCode::theInfo, "81 03 AA BB CC 80", false, -1, -1, 0},
        {"unknown addition, accepted", &accepting, "81 03 AA BB CC 80", true, -2, 5, 32},
        {"open type past the input", &accepting, "81 04 AA BB CC", false, -1, -1, 0},
        {"at the end of the input", &TM::TonecCode::theInfo, "", false, -1, -1, 0},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        ASN1::CHOICE value(row.info);
        std::vector<char> in = bytes(row.octets);
        ASN1::PERDecoder decoder(in.data(), in.data() + in.size());
        ASN1::PERDecoder::memento_type end{0, 0, true};
        ASSERT_EQ(decoder.decodeChoicePreamle(value, end), row.ok);
        if (!row.ok)
            continue;
        EXPECT_EQ(value.currentSelection(), row.selection);
        EXPECT_EQ(end.valid, row.end >= 0);
        if (end.valid) {
            EXPECT_EQ(static_cast<long>(end.position), row.end);
            EXPECT_EQ(end.bits, 8u);
        }
        EXPECT_EQ(decoder.getBitsLeft(), row.bitsLeft);
    }
}

TEST(PerCoder, EncoderRefusesWhatItCannotWrite)
{
    // A negative enumeration value has no wire form.
    struct Row {
        char const* name;
        std::function<void(TM::Message&)> build;
    } const table[] = {
        {"no PDU", [](TM::Message& m) { m.set_seq(1); }},
        {"slot 1024", carrying<C>(none, 1024, [](C& c) { c.select_ping(); })},
        {"connect 1024", carrying<C>(none, none, [](C& c) { c.select_connect(1024); })},
        {"ErrorCause -1", carrying<R>(none, none,
                                      [](R& r) {
                                          r.select_error(TM::ErrorCause::invalidParams);
                                          const_cast<TM::ErrorCause&>(r.get_error()).setFromInt(-1);
                                      })},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        TM::Message m;
        row.build(m);
        ASN1::CoderEnv env;
        std::vector<char> out{'x'}; // a failed encode writes nothing
        EXPECT_FALSE(ASN1::encode(m, &env, std::back_inserter(out)));
        EXPECT_EQ(out, std::vector<char>{'x'});
    }
}

TEST(PerCoder, EncodingAppendsToWhatTheVectorHolds)
{
    // Short encodings gather apart and are copied in; long ones grow in the vector.
    for (unsigned size : {10u, 255u, 300u, 5000u}) {
        SCOPED_TRACE(size);
        Value value = octetsOfSize(size, &ASN1::OCTET_STRING::theInfo);
        ASN1::CoderEnv env;
        std::vector<char> out{'x', 'y'};
        ASSERT_TRUE(ASN1::encode(*value, &env, std::back_inserter(out)));
        EXPECT_EQ(hex(out), "78 79 " + encodeHex(*value));
    }
}

TEST(PerCoder, OtherRulesAreRefused)
{
    TM::Message m;
    m.set_pdu().select_command().select_ping();
    ASN1::CoderEnv env;
    EXPECT_EQ(env.get_encodingRule(), ASN1::CoderEnv::per_Aligned);
    std::vector<char> out;
    // A BER encoding that fails half-way (a CHOICE without selection) writes nothing.
    env.set_encodingRule(ASN1::CoderEnv::ber);
    TM::Message unselected;
    unselected.set_seq(1);
    EXPECT_FALSE(ASN1::encode(unselected, &env, std::back_inserter(out)));
    env.set_encodingRule(static_cast<ASN1::CoderEnv::EncodingRules>(3));
    EXPECT_FALSE(ASN1::encode(m, &env, std::back_inserter(out)));
    EXPECT_TRUE(out.empty());
    std::vector<char> octets = bytes("00 00");
    EXPECT_FALSE(ASN1::decode(octets.data(), octets.data() + octets.size(), &env, m, true));
    env.set_encodingRule(ASN1::CoderEnv::avn);
    EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ(std::string(out.begin(), out.end()), "{\n  pdu command : ping : NULL\n}");
}

} // namespace
