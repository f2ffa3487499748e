// BER of every kind: byte-exact vectors that decode back and whose proper prefixes are
// refused, the header lengths, and the decoder's refusals and leniencies.
#include "tests/asn1/every_kind.hpp"
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <climits>

namespace
{

using asn1test::bytes;
using asn1test::decodeInto;
using asn1test::hex;
using asn1test::integer;
using asn1test::integers;
using asn1test::oid;
using asn1test::Value;
using asn1test::with;

const ASN1::CoderEnv::EncodingRules BER = ASN1::CoderEnv::ber;

template <class E> Value enumerated(int v)
{
    return with<E>([v](E& e) { e.setFromInt(v); });
}

Value bits(unsigned n)
{
    return with<ASN1::BIT_STRING>([=](ASN1::BIT_STRING& b) {
        b.resize(n);
        for (char& octet : b.getData())
            octet = static_cast<char>(0xFF);
        b.resize(n);
    });
}

// CHOICE { a [40] NULL, b [200] NULL, c [APPLICATION 3] SEQUENCE OF INTEGER,
//   d [PRIVATE 5] BOOLEAN }: tag numbers beyond 30 and the other classes.
const ASN1::TypeInfo* const wideInfos[] = {&ASN1::Null::theInfo, &ASN1::Null::theInfo,
                                           &ASN1::SEQUENCE_OF<ASN1::INTEGER>::theInfo,
                                           &ASN1::BOOLEAN::theInfo};
const std::uint32_t wideTags[] = {0x800028, 0x8000C8, 0x400003, 0xC00005};
const char* const wideNames[] = {"a", "b", "c", "d"};
const ASN1::ChoiceInfo wideInfo = {{&ASN1::CHOICE::create, 0}, false, wideInfos, 4, 4, wideTags, wideNames};
// The same with d an extension addition: only the root alternatives' tags are searched.
const ASN1::ChoiceInfo wideExtInfo = {{&ASN1::CHOICE::create, 0}, true, wideInfos, 3, 4, wideTags, wideNames};
// CHOICE { a NULL, b NULL, ..., d BOOLEAN } with automatic tags: the tag number is the
// position, whatever the tag's class.
const ASN1::TypeInfo* const autoInfos[] = {&ASN1::Null::theInfo, &ASN1::Null::theInfo,
                                           &ASN1::BOOLEAN::theInfo};
const ASN1::ChoiceInfo autoInfo = {{&ASN1::CHOICE::create, 0}, true, autoInfos, 2, 3, nullptr, wideNames};

Value wide(int index)
{
    ASN1::CHOICE* c = new ASN1::CHOICE(&wideInfo);
    c->select(index);
    return Value(c);
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

// SEQUENCE { a [0] NULL, b [1] open type } whose open type holds received octets only.
Value openField()
{
    static const asn1test::Pair pair(&ASN1::Null::theInfo, &ASN1::OpenData::theInfo);
    std::unique_ptr<ASN1::SEQUENCE> s = pair.make();
    static_cast<ASN1::OpenData*>(s->getField(1))->grab(new std::vector<char>{1, 1, '\xff'});
    return Value(s.release());
}

struct Vector {
    char const* name;
    std::shared_ptr<ASN1::AbstractData const> value;
    std::string octets;
};

TEST(Ber, VectorsDecodeBackAndEveryPrefixIsRefused)
{
    Vector const table[] = {
        {"NULL", Value(new ASN1::Null), "05 00"},
        {"BOOLEAN true", Value(new ASN1::BOOLEAN(true)), "01 01 FF"},
        {"INTEGER 127", integer(127), "02 01 7F"},
        {"INTEGER 128", integer(128), "02 02 00 80"},
        {"INTEGER -129", integer(-129), "02 02 FF 7F"},
        {"INTEGER INT_MIN", integer(INT_MIN), "02 04 80 00 00 00"},
        {"INTEGER (0..4294967295) 4294967295",
         Value(new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 0xFFFFFFFFu>(0xFFFFFFFFu)),
         "02 01 FF"},
        {"ENUMERATED ptR2S", enumerated<TM::Payload>(TM::Payload::ptR2S), "0A 01 7B"},
        {"ENUMERATED -1", enumerated<TM::ErrorCause>(-1), "0A 01 FF"},
        {"OID 1 2 840 113549", oid({1, 2, 840, 113549}), "06 06 2A 86 48 86 F7 0D"},
        {"BIT STRING empty", bits(0), "03 01 00"},
        {"BIT STRING 9 bits", bits(9), "03 03 07 FF 80"},
        {"OCTET STRING of 127", Value(new ASN1::OCTET_STRING(127, 'x', &ASN1::OCTET_STRING::theInfo)),
         "04 7F " + hex(std::vector<char>(127, 'x'))},
        {"OCTET STRING of 200", Value(new ASN1::OCTET_STRING(200, 'x', &ASN1::OCTET_STRING::theInfo)),
         "04 81 C8 " + hex(std::vector<char>(200, 'x'))},
        {"OCTET STRING of 300", Value(new ASN1::OCTET_STRING(300, 'x', &ASN1::OCTET_STRING::theInfo)),
         "04 82 01 2C " + hex(std::vector<char>(300, 'x'))},
        {"IA5String ab", Value(new ASN1::IA5String("ab")), "16 02 61 62"},
        {"BMPString AB", Value(new ASN1::BMPString(L"AB", &ASN1::BMPString::theInfo)), "1E 04 00 41 00 42"},
        {"GeneralizedTime", Value(new ASN1::GeneralizedTime("20070305143000Z")),
         "18 0F 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A"},
        {"SEQUENCE OF 1, 300", integers({1, 300}), "30 07 02 01 01 02 02 01 2C"},
        {"empty SET OF", Value(new ASN1::SET_OF<TM::Int0_127>), "31 00"},
        {"SEQUENCE OF untagged CHOICE", with<ASN1::SEQUENCE_OF<TM::Channel>>([](auto& l) {
             l.resize(2);
             l[0].select_tdm(1);
             l[1].select_rtp(2);
         }),
         "30 06 80 01 01 81 01 02"},
        {"tag 40, primitive", wide(0), "9F 28 00"},
        {"tag 200", wide(1), "9F 81 48 00"},
        {"application tag 3, constructed", wide(2), "63 00"},
        {"private tag 5", wide(3), "C5 01 00"},
        {"Message seq 5 ping", with<TM::Message>([](TM::Message& m) {
             m.set_seq(5);
             m.set_pdu().select_command().select_ping();
         }),
         "30 09 80 01 05 82 04 80 02 8C 00"},
        {"Message slot 1023 error", with<TM::Message>([](TM::Message& m) {
             m.set_slot(1023);
             m.set_pdu().select_response().select_error(TM::ErrorCause::destroyInProgress);
         }),
         "30 0B 81 02 03 FF 82 05 81 03 81 01 0C"},
        {"CHOICE headers around a SEQUENCE are constructed", with<TM::Message>([](TM::Message& m) {
             TM::MixerOutParams& p = m.set_pdu().select_command().select_create().select_mixerOut();
             p.set_unit(1);
             p.set_channel().select_tdm(2);
         }),
         "30 12 A2 10 A0 0E A4 0C A1 0A 80 01 01 81 03 80 01 02 A2 00"},
        {"extension alternative dtmfDone", with<TM::Message>([](TM::Message& m) {
             m.set_slot(7);
             m.set_pdu().select_signal().select_tonec().set_event().select_dtmfDone();
         }),
         "30 10 81 01 07 A2 0B A2 09 A1 07 80 01 00 81 02 86 00"},
        {"extension addition traceLevel", with<TM::TermParams>([](TM::TermParams& t) {
             t.set_id(1);
             t.set_traceLevel(5);
         }),
         "30 06 80 01 01 82 01 05"},
        {"open type holding TRUE",
         Value(new ASN1::OpenData(new ASN1::BOOLEAN(true), &ASN1::OpenData::theInfo)), "01 01 FF"},
        {"octets of an open type as a field", openField(), "30 07 80 00 81 03 01 01 FF"},
        {"typed open type holding a query", typedQuery(), "30 06 82 04 80 02 80 00"},
        {"every kind as a field", asn1test::everyKind(),
         "30 60 80 01 FF 81 01 FB 82 01 FF 83 02 00 FF 84 01 0C 85 01 02 86 01 10 87 02 2B 06 88 02 05 A0 "
         "89 03 A0 01 FF 8A 04 31 32 20 33 8B 02 48 69 8C 01 7E 8D 03 61 22 62 8E 00 8F 04 68 6F 73 74 90 "
         "04 00 41 00 42 91 0F 32 30 30 37 30 33 30 35 31 34 33 30 30 30 5A B2 06 02 01 01 02 01 FF B3 00 "
         "94 00"},
    };
    for (Vector const& v : table) {
        SCOPED_TRACE(v.name);
        // An untyped open type comes back as its octets, not as the value that made them.
        asn1test::expectWire(*v.value, v.octets, v.value->info() != &ASN1::OpenData::theInfo, BER);
    }
}

TEST(Ber, ObjectLengthCountsTagAndLengthOctets)
{
    struct Row {
        unsigned contents, tag, whole;
    } const table[] = {{127, 4, 129}, {128, 4, 131}, {300, 0x800028, 305}, {200, 0x8000C8, 205}};
    for (Row const& row : table) {
        ASN1::DataLengthCounter counter;
        ASN1::OCTET_STRING(row.contents, 'x', &ASN1::OCTET_STRING::theInfo).accept(counter);
        EXPECT_EQ(counter.getObjectLen(row.tag), row.whole) << row.contents << " / " << row.tag;
    }
}

struct DecodeCase {
    char const* name;
    std::shared_ptr<ASN1::AbstractData const> start; // a copy of it is decoded into
    char const *octets, *result; // result: the value re-encoded ("FAIL": it has no encoding), or "REFUSED"
};

Value unsignedInteger()
{
    return Value(new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 0xFFFFFFFFu>(0u));
}

Value octets()
{
    return Value(new ASN1::OCTET_STRING);
}

TEST(Ber, DecoderRules)
{
    DecodeCase const table[] = {
        {"length octet 80 is 0", octets(), "04 80", "04 00"},
        {"octets after the value are ignored", Value(new ASN1::Null), "05 00 FF", "05 00"},
        {"length beyond 32 bits", octets(), "04 85 01 00 00 00 00", "REFUSED"},
        {"reserved length octet FF", octets(), "04 FF", "REFUSED"},
        {"length past the input", octets(), "04 03 AB CD", "REFUSED"},
        {"element past its list", integers({}), "30 03 02 02 01 01", "REFUSED"},
        {"tag number beyond 16 bits", integer(0), "1F 84 80 02 01 05", "REFUSED"},
        {"another tag", integer(0), "04 01 05", "REFUSED"},
        {"constructed INTEGER", integer(0), "22 01 05", "02 01 05"},
        {"primitive SEQUENCE OF", integers({}), "10 00", "30 00"},
        {"INTEGER of 5 octets, even within 32 bits", integer(0), "02 05 00 FF FF FF FF", "REFUSED"},
        // A type without negative values takes the leading zero octet that X.690 writes
        // before a value above 2^31 - 1, into the same 32-bit word as the encoder's form.
        {"INTEGER (0..4294967295) 4294967295 in 5 octets", unsignedInteger(), "02 05 00 FF FF FF FF",
         "02 01 FF"},
        {"INTEGER (0..4294967295) 2^31 in 5 octets", unsignedInteger(), "02 05 00 80 00 00 00",
         "02 04 80 00 00 00"},
        {"INTEGER (5..MAX) 2^31 in 5 octets", Value(new ASN1::INTEGER(0, &TM::IntLowerOnlyInfo)),
         "02 05 00 80 00 00 00", "02 04 80 00 00 00"},
        {"INTEGER (0..4294967295) beyond 32 bits", unsignedInteger(), "02 05 01 00 00 00 00", "REFUSED"},
        {"INTEGER (0..4294967295) negative in 5 octets", unsignedInteger(), "02 05 FF FF FF FF FF",
         "REFUSED"},
        {"INTEGER (0..4294967295) of 6 octets", unsignedInteger(), "02 06 00 00 FF FF FF FF", "02 01 FF"},
        {"INTEGER (-128..127) of 5 octets", Value(new ASN1::INTEGER(0, &TM::IntMinus128_127Info)),
         "02 05 00 00 00 00 05", "02 01 05"},
        {"INTEGER beyond 32 bits", integer(0), "02 05 01 00 00 00 00", "REFUSED"},
        {"INTEGER below -2^31", integer(0), "02 05 FF 7F FF FF FF", "REFUSED"},
        {"empty INTEGER", integer(0), "02 00", "REFUSED"},
        {"ENUMERATED beyond 31 bits", enumerated<TM::ErrorCause>(0), "0A 05 00 80 00 00 00", "REFUSED"},
        {"empty BOOLEAN leaves true", Value(new ASN1::BOOLEAN(true)), "01 00", "01 01 FF"},
        {"empty BOOLEAN leaves false", Value(new ASN1::BOOLEAN(false)), "01 00", "01 01 00"},
        {"BOOLEAN takes its last octet", Value(new ASN1::BOOLEAN(false)), "01 02 01 00", "01 01 00"},
        {"BIT STRING padding bits are cleared", bits(0), "03 02 04 FF", "03 02 04 F0"},
        {"BIT STRING with 8 unused bits", bits(0), "03 02 08 FF", "03 01 00"},
        {"empty BIT STRING with unused bits", bits(0), "03 01 03", "REFUSED"},
        {"BMPString of an odd length", Value(new ASN1::BMPString), "1E 03 00 41 00", "1E 02 00 41"},
        {"GeneralizedTime of a year only", Value(new ASN1::GeneralizedTime), "18 02 32 30",
         "18 0E 30 30 32 30 30 31 30 31 30 30 30 30 30 30"},
        {"GeneralizedTime keeps the fields its text does not reach",
         Value(new ASN1::GeneralizedTime("20070305143000Z")), "18 04 31 39 39 39",
         "18 0F 31 39 39 39 30 33 30 35 31 34 33 30 30 30 5A"},
        {"GeneralizedTime not a time", Value(new ASN1::GeneralizedTime), "18 03 6E 6F 77",
         "18 0E 30 30 30 31 30 31 30 31 30 30 30 30 30 30"},
        {"GeneralizedTime shorter than announced", Value(new ASN1::GeneralizedTime), "18 03 32 30",
         "REFUSED"},
        {"Message without its pdu", Value(new TM::Message), "30 03 80 01 05", "REFUSED"},
        {"Message with a field it does not have", Value(new TM::Message),
         "30 0B 80 01 05 82 04 80 02 8C 00 85 00", "30 09 80 01 05 82 04 80 02 8C 00"},
        {"ClockCfg with octets after its fields", Value(new TM::ClockCfg),
         "30 0B 80 01 02 81 01 01 82 01 05 FF 00", "30 09 80 01 02 81 01 01 82 01 05"},
        // Decoded, but the unrecognised pdu has no encoding.
        {"pdu alternative the type does not have", Value(new TM::Message), "30 04 82 02 85 00", "FAIL"},
        {"octets after the alternative inside its CHOICE, at the end of the SEQUENCE", Value(new TM::Message),
         "30 07 82 05 80 02 8C 00 00", "30 06 82 04 80 02 8C 00"},
        // slot is read, seq and then pdu are passed over; pdu has no selection to encode.
        {"seq and slot swapped", Value(new TM::Message), "30 0C 81 01 07 80 01 05 82 04 80 02 8C 00", "FAIL"},
        {"mandatory field with another tag keeps its value",
         with<TM::ClockCfg>([](TM::ClockCfg& c) { c.set_bextEn(TM::BExtEn::enabled); }),
         "30 06 80 01 02 82 01 05", "30 09 80 01 02 81 01 01 82 01 05"},
        {"mandatory field at the end of its SEQUENCE", Value(new TM::ClockCfg), "30 06 80 01 02 81 01 01",
         "REFUSED"},
        {"an addition of a later version is skipped", Value(new TM::TermParams), "30 05 80 01 01 89 00",
         "30 03 80 01 01"},
        // A signal alternative of a later version: read as unrecognised, which has no encoding.
        {"Signal alternative 30", Value(new TM::Message), "30 06 82 04 82 02 9E 00", "FAIL"},
        // The reading goes on at the alternative's end: the octet after it inside the
        // channel's own header starts the next header, whose tag is not gain's, so gain is
        // passed over and keeps its value.
        {"octet after the alternative inside its CHOICE, before the next field", Value(new TM::MixerInput),
         "30 09 80 04 80 01 05 00 81 01 07", "30 08 80 03 80 01 05 81 01 00"},
        {"MixerInput", Value(new TM::MixerInput), "30 08 80 03 80 01 05 81 01 07",
         "30 08 80 03 80 01 05 81 01 07"},
        {"Signal alternative 30 running past its CHOICE", Value(new TM::Message),
         "30 06 82 04 82 02 9E 01 00", "REFUSED"},
    };
    for (DecodeCase const& c : table) {
        SCOPED_TRACE(c.name);
        Value value(c.start->clone());
        EXPECT_EQ(decodeInto(bytes(c.octets), *value, BER) ? asn1test::encodeHex(*value, BER) : "REFUSED",
                  c.result);
    }
}

Value pairBefore(ASN1::TypeInfo const* first)
{
    static asn1test::Pair const bmpPair(&ASN1::BMPString::theInfo, &ASN1::BOOLEAN::theInfo);
    static asn1test::Pair const bitsPair(&ASN1::BIT_STRING::theInfo, &ASN1::BOOLEAN::theInfo);
    return Value((first == &ASN1::BMPString::theInfo ? bmpPair : bitsPair).make().release());
}

// Forms another sender may write decode to the value of the form this encoder writes
// (`same`); next to each, forms that stay refused: a value the type's 32-bit word
// cannot hold, a length past the end.
TEST(Ber, NonCanonicalFormsDecodeAsTheCanonicalOne)
{
    struct Row {
        char const* name;
        std::shared_ptr<ASN1::AbstractData const> start;
        char const* octets;
        char const* same; // null: refused
    } const table[] = {
        {"INTEGER 5 in 5 octets", integer(0), "02 05 00 00 00 00 05", "02 01 05"},
        {"INTEGER -1 in 5 octets", integer(0), "02 05 FF FF FF FF FF", "02 01 FF"},
        {"INTEGER INT_MIN in 8 octets", integer(0), "02 08 FF FF FF FF 80 00 00 00", "02 04 80 00 00 00"},
        {"INTEGER 2^31 in 5 octets", integer(0), "02 05 00 80 00 00 00", nullptr},
        {"INTEGER 2^32 in 9 octets", integer(0), "02 09 00 00 00 00 01 00 00 00 00", nullptr},
        {"INTEGER of 5 octets past the end", integer(0), "02 05 00 00 00 00", nullptr},
        {"INTEGER (0..4294967295) 5 in 6 octets", unsignedInteger(), "02 06 00 00 00 00 00 05", "02 01 05"},
        {"INTEGER (0..4294967295) 4294967295 in 9 octets", unsignedInteger(),
         "02 09 00 00 00 00 00 FF FF FF FF", "02 01 FF"},
        {"INTEGER (0..4294967295) 2^32 in 6 octets", unsignedInteger(), "02 06 00 01 00 00 00 00", nullptr},
        {"Message seq 5 in 5 octets", Value(new TM::Message), "30 0D 80 05 00 00 00 00 05 82 04 80 02 8C 00",
         "30 09 80 01 05 82 04 80 02 8C 00"},
        {"Message seq 2^31 in 5 octets", Value(new TM::Message),
         "30 0D 80 05 00 80 00 00 00 82 04 80 02 8C 00", nullptr},
        {"primitive SEQUENCE OF", integers({}), "10 06 02 01 01 02 01 FF", "30 06 02 01 01 02 01 FF"},
        {"primitive SEQUENCE OF past the end", integers({}), "10 07 02 01 01 02 01 FF", nullptr},
        {"primitive SEQUENCE", Value(new TM::Message), "10 09 80 01 05 82 04 80 02 8C 00",
         "30 09 80 01 05 82 04 80 02 8C 00"},
        {"constructed field", Value(new TM::Message), "30 09 A0 01 05 82 04 80 02 8C 00",
         "30 09 80 01 05 82 04 80 02 8C 00"},
        {"constructed OCTET STRING", octets(), "24 01 41", "04 01 41"},
        // The contents are the octets themselves, not a string of segments.
        {"constructed OCTET STRING holding a header", octets(), "24 03 04 01 41", "04 03 04 01 41"},
        {"constructed OCTET STRING past the end", octets(), "24 02 41", nullptr},
        {"BMPString of 1 octet", Value(new ASN1::BMPString), "1E 01 41", "1E 00"},
        // The odd octet is passed over: the next field's header follows it.
        {"BMPString of 3 octets before a field", pairBefore(&ASN1::BMPString::theInfo),
         "30 08 80 03 00 41 00 81 01 FF", "30 07 80 02 00 41 81 01 FF"},
        {"BMPString of 5 octets past the end", Value(new ASN1::BMPString), "1E 05 00 41 00 42", nullptr},
        {"BIT STRING of 8 bits and 8 unused before a field", pairBefore(&ASN1::BIT_STRING::theInfo),
         "30 08 80 03 08 FF FF 81 01 FF", "30 07 80 02 00 FF 81 01 FF"},
        {"BIT STRING with 8 unused bits and no octet", bits(0), "03 01 08", nullptr},
        {"BIT STRING with 9 unused bits", bits(0), "03 03 09 FF FF", nullptr},
        {"BIT STRING with 8 unused bits past the end", bits(0), "03 03 08 FF", nullptr},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        Value value(row.start->clone());
        bool ok = decodeInto(bytes(row.octets), *value, BER);
        EXPECT_EQ(ok, row.same != nullptr);
        if (!ok || row.same == nullptr)
            continue;
        EXPECT_EQ(asn1test::encodeHex(*value, BER), row.same);
        Value canonical(row.start->clone());
        ASSERT_TRUE(decodeInto(bytes(row.same), *canonical, BER));
        EXPECT_EQ(value->compare(*canonical), 0) << value->asValueNotation();
    }
}

// The tag of the alternative names the selection; a tag no alternative carries gives the
// unrecognised selection and the decoding goes on past its octets.
TEST(Ber, ChoiceSelectionFromTheTag)
{
    struct Row {
        ASN1::ChoiceInfo const* info;
        char const* octets;
        int selection;
        bool read; // and the decoder past it
    } const table[] = {
        {&wideInfo, "9F 28 00", 0, true},     {&wideInfo, "9F 81 48 00", 1, true},
        {&wideInfo, "C5 01 00", 3, true},     {&wideInfo, "9F 29 00", -2, true},
        {&wideInfo, "C6 01 FF", -2, true},    {&wideInfo, "85 00", -2, true},
        {&wideInfo, "9F 29 01 00", -2, true}, {&wideInfo, "9F 29 02 00", -1, false},
        {&wideExtInfo, "9F 28 00", 0, true},  {&wideExtInfo, "C5 01 00", -2, true},
        {&autoInfo, "81 00", 1, true},        {&autoInfo, "82 01 FF", 2, true},
        {&autoInfo, "01 00", 1, true},        {&autoInfo, "42 01 FF", 2, true},
        {&autoInfo, "83 00", -2, true},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.octets);
        ASN1::CHOICE value(row.info);
        std::vector<char> in = bytes(row.octets);
        ASN1::BERDecoder decoder(in.data(), in.data() + in.size());
        EXPECT_EQ(value.accept(decoder), row.read);
        EXPECT_EQ(value.currentSelection(), row.selection);
        EXPECT_EQ(decoder.atEnd(), row.read);
    }
}

} // namespace
