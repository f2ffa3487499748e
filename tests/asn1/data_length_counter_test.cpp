// Contents lengths and primitive/constructed answers that a BER encoder builds on.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

namespace
{

using asn1test::integer;
using asn1test::Value;
using asn1test::with;

Value pingMessage()
{
    TM::Message* m = new TM::Message;
    m->set_seq(5);
    m->set_pdu().select_command().select_ping();
    return Value(m);
}

TEST(DataLengthCounter, ContentsLengthsAndPrimitiveAnswers)
{
    struct Row {
        char const* name;
        Value value;
        unsigned dataLen;
        bool primitive;
    } const table[] = {
        {"NULL", Value(new ASN1::Null), 0, true},
        {"BOOLEAN", Value(new ASN1::BOOLEAN(true)), 1, true},
        {"INTEGER 0", integer(0), 1, true},
        {"INTEGER 128", integer(128), 2, true},
        {"INTEGER -129", integer(-129), 2, true},
        {"INTEGER -2^31", integer(INT32_MIN), 4, true},
        {"ENUMERATED 12", Value(new TM::ErrorCause(TM::ErrorCause::destroyInProgress)), 1, true},
        {"OID 1 2 840 113549", asn1test::oid({1, 2, 840, 113549}), 6, true},
        {"BIT STRING of 9 bits", with<ASN1::BIT_STRING>([](auto& b) { b.resize(9); }), 3, true},
        {"OCTET STRING of 3", Value(new ASN1::OCTET_STRING(3, 'x', &ASN1::OCTET_STRING::theInfo)), 3, true},
        {"IA5String ab", Value(new ASN1::IA5String("ab")), 2, true},
        {"BMPString AB", Value(new ASN1::BMPString(L"AB", &ASN1::BMPString::theInfo)), 4, true},
        {"GeneralizedTime", Value(new ASN1::GeneralizedTime("20070305143000Z")), 15, true},
        // seq [0] 01 05 is 3; pdu [2] holds command [0] holding ping [12]: 2, 4, 6.
        {"Message seq 5 ping", pingMessage(), 9, false},
        {"SEQUENCE OF 1, 300", asn1test::integers({1, 300}), 7, false},
        {"CHOICE holding an INTEGER", with<TM::Channel>([](auto& c) { c.select_tdm(1); }), 3, true},
        // unit [0] 3, channel [1] empty 2, inputs [2] empty 2, under [1]: 9
        {"CHOICE holding a SEQUENCE", with<TM::CreateParams>([](auto& c) { c.select_mixerOut(); }), 9, false},
        {"CHOICE without selection", Value(new TM::PDU), 0, true},
        {"open type without value", Value(new ASN1::OpenData), 0, true},
        // The contained value keeps its own header: 30 09 and the 9 octets above.
        {"open type holding a SEQUENCE",
         Value(new ASN1::OpenData(pingMessage().release(), &ASN1::OpenData::theInfo)), 11, false},
        {"open type holding octets only",
         with<ASN1::OpenData>([](auto& o) { o.grab(new std::vector<char>(3)); }), 3, true},
        // An untagged CHOICE element writes no header of its own: [0] 01 01 only.
        {"SEQUENCE OF CHOICE", with<ASN1::SEQUENCE_OF<TM::Channel>>([](auto& l) {
             TM::Channel c;
             c.select_tdm(1);
             l.push_back(c);
         }),
         3, false},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        ASN1::DataLengthCounter counter;
        EXPECT_TRUE(row.value->accept(counter));
        EXPECT_EQ(counter.getDataLen(), row.dataLen);
        ASN1::PrimitiveChecker checker;
        EXPECT_EQ(row.value->accept(checker), row.primitive);
    }
}

TEST(DataLengthCounter, ObjectLength)
{
    struct LengthRow {
        unsigned contents;
        unsigned tag;
        unsigned whole;
    } const table[] = {
        {3, 2, 5}, // short length, short tag
        {127, 4, 129},
        {128, 4, 131},        // 0x81 0x80
        {200, 0x800028, 204}, // tag 40: 0x9F 0x28
        {200, 0x8000C8, 205}, // tag 200: 0x9F 0x81 0x48
        {300, 4, 304},        // 0x82 0x01 0x2C
    };
    for (LengthRow const& row : table) {
        ASN1::OCTET_STRING contents(row.contents, 'x', &ASN1::OCTET_STRING::theInfo);
        ASN1::DataLengthCounter counter;
        contents.accept(counter);
        EXPECT_EQ(counter.getObjectLen(row.tag), row.whole) << row.contents << " / " << row.tag;
    }
}

} // namespace
