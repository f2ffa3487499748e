// Reading value notation: what each kind accepts (shown by printing the value read)
// and the texts it refuses.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace
{

using asn1test::Value;

struct ReadCase {
    ASN1::TypeInfo const* type;
    char const *text, *printed; // printed: the value read, printed; "REFUSED" when the read fails
};

TEST(ValueNotationReader, AcceptedAndRefusedTexts)
{
    typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 0xFFFFFFFFu> Unsigned32;
    ReadCase const table[] = {
        {&ASN1::Null::theInfo, " N U L L", "NULL"},
        {&ASN1::Null::theInfo, "null", "REFUSED"},
        {&ASN1::BOOLEAN::theInfo, "True", "REFUSED"},
        {&ASN1::INTEGER::theInfo, "99999999999", "REFUSED"},
        {&Unsigned32::theInfo, "4294967295", "4294967295"},
        {&TM::Int0_1023::theInfo, "-5", "4294967291"}, // the unsigned extraction wraps it
        {&TM::NamedIntInfo, "ten", "ten"},
        {&TM::NamedIntInfo, "-3", "-3"},
        {&TM::NamedIntInfo, "eleven", "REFUSED"},
        {&TM::NamedIntInfo, "ten,", "ten"},
        {&TM::ErrorCause::theInfo, "invalidSlot", "invalidSlot"},
        {&TM::ErrorCause::theInfo, "invalidSlot,", "invalidSlot"},
        {&TM::ErrorCause::theInfo, "2", "REFUSED"},
        {&ASN1::OBJECT_IDENTIFIER::theInfo, "{ iso(1) member-body(2) 840 }", "{ 1 2 840 }"},
        {&ASN1::OBJECT_IDENTIFIER::theInfo, "{ 1 x }", "REFUSED"},
        {&ASN1::OBJECT_IDENTIFIER::theInfo, "{ 1 2", "REFUSED"},
        {&ASN1::OBJECT_IDENTIFIER::theInfo, "{ 2 4294967296 }", "REFUSED"},
        {&ASN1::BIT_STRING::theInfo, "'A'H", "'1010'B"},
        {&ASN1::BIT_STRING::theInfo, "'1 0\n1'B", "'101'B"},
        {&ASN1::BIT_STRING::theInfo, "'102'B", "REFUSED"},
        {&ASN1::OCTET_STRING::theInfo, "'A'H", "'a0'H"},
        {&ASN1::OCTET_STRING::theInfo, "'G1'H", "REFUSED"},
        {&ASN1::OCTET_STRING::theInfo, "'-1'H", "REFUSED"},
        {&ASN1::OCTET_STRING::theInfo, "'ab'X", "REFUSED"},
        {&ASN1::OCTET_STRING::theInfo, "'ab", "REFUSED"},
        {&ASN1::IA5String::theInfo, "\"a, b\"", "\"a, b\""},
        {&ASN1::IA5String::theInfo, "\"ab", "REFUSED"},
        {&ASN1::BMPString::theInfo, "\"AB\"", "\"AB\""},
        {&ASN1::GeneralizedTime::theInfo, "\"20070305143000Z\"", "\"20070305143000Z\""},
        {&ASN1::GeneralizedTime::theInfo, "\"2007\"", "\"20070101000000\""},
        {&ASN1::GeneralizedTime::theInfo, "\"now\"", "\"00010101000000\""},
        {&ASN1::GeneralizedTime::theInfo, "\"2007", "REFUSED"},
        {&TM::Channel::theInfo, "rtp: 5", "REFUSED"},
        {&TM::Channel::theInfo, "fax : 5", "REFUSED"},
        {&ASN1::SEQUENCE_OF<ASN1::INTEGER>::theInfo, "{ 1, -2 }", "{\n  1,\n  -2\n}"},
        {&ASN1::SEQUENCE_OF<ASN1::INTEGER>::theInfo, "{ 1 -2 }", "REFUSED"},
        {&ASN1::SEQUENCE_OF<ASN1::INTEGER>::theInfo, "{ 1,", "REFUSED"},
        {&TM::Message::theInfo, "{seq 1,slot 2,pdu command : ping : NULL}",
         "{\n  seq 1,\n  slot 2,\n  pdu command : ping : NULL\n}"},
        {&TM::Message::theInfo, "{ slot 2 , pdu response : error : busError , }",
         "{\n  slot 2,\n  pdu response : error : busError\n}"},
        {&TM::Message::theInfo, "{ slot 2, pdu response : error : busError}",
         "{\n  slot 2,\n  pdu response : error : busError\n}"},
        {&TM::Message::theInfo, "{ seq 1 }", "{\n  seq 1,\n  pdu "}, // pdu left unread: unprintable
        {&TM::Message::theInfo, "{ seq 1 slot 2 }", "REFUSED"},
        {&TM::Message::theInfo, "{ slot 2, seq 1, pdu command : ping : NULL }", "REFUSED"},
        {&TM::Message::theInfo, "{ seq 1, pdu command : ping : NULL, foo 3 }", "REFUSED"},
        {&TM::ClockCfg::theInfo, "{ clkSel0 line, bextEn enabled, source 2 }",
         "{\n  clkSel0 line,\n  bextEn enabled,\n  source 2\n}"},
        {&TM::ClockCfg::theInfo, "{ clkSel0 line , bextEn enabled , source 2 }",
         "{\n  clkSel0 line,\n  bextEn enabled,\n  source 2\n}"},
        {&TM::Kinds::theInfo, "{}", "{\n}"},
        {&TM::ClockCfg::theInfo, "{}", "{\n  clkSel0 internal,\n  bextEn disabled,\n  source 0\n}"},
        {&TM::ClockCfg::theInfo, "{ clkSel0 line }", "{\n  clkSel0 line,\n  bextEn disabled,\n  source 0\n}"},
        {&ASN1::OpenData::theInfo, "NULL", "REFUSED"},
    };
    for (ReadCase const& c : table) {
        SCOPED_TRACE(c.text);
        Value value(ASN1::AbstractData::create(c.type));
        EXPECT_EQ(value->setFromValueNotation(c.text) ? value->asValueNotation() : "REFUSED", c.printed);
    }
}

// A read over a value that holds something: what the text does not reach stays, what
// an extraction gives is stored even when the read then fails.
TEST(ValueNotationReader, ReadOverAValue)
{
    typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 0xFFFFFFFFu> Unsigned32;
    struct Row {
        ASN1::TypeInfo const* type;
        char const *before, *text;
        bool read;
        char const* printed;
    } const table[] = {
        {&TM::ClockCfg::theInfo, "{ clkSel0 line, bextEn enabled, source 2 }", "{ clkSel0 internal }", true,
         "{\n  clkSel0 internal,\n  bextEn enabled,\n  source 2\n}"},
        {&TM::ClockCfg::theInfo, "{ clkSel0 line, bextEn enabled, source 2 }", "{}", true,
         "{\n  clkSel0 line,\n  bextEn enabled,\n  source 2\n}"},
        {&TM::Message::theInfo, "{ seq 1, slot 2, pdu command : ping : NULL }",
         "{ pdu command : query : NULL }", true, "{\n  pdu command : query : NULL\n}"},
        {&ASN1::GeneralizedTime::theInfo, "\"20070305143000.250+0130\"", "\"1999\"", true,
         "\"19990305143000.250+0130\""},
        {&Unsigned32::theInfo, "7", "4294967296", false, "4294967295"},
        {&ASN1::INTEGER::theInfo, "7", "99999999999", false, "2147483647"},
        {&ASN1::INTEGER::theInfo, "7", "-99999999999", false, "-2147483648"},
        {&ASN1::INTEGER::theInfo, "7", "x", false, "0"},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.text);
        Value value(ASN1::AbstractData::create(row.type));
        ASSERT_TRUE(value->setFromValueNotation(row.before));
        EXPECT_EQ(value->setFromValueNotation(row.text), row.read);
        EXPECT_EQ(value->asValueNotation(), row.printed);
    }
}

TEST(ValueNotationReader, StreamOperator)
{
    std::istringstream in("TRUE 'x'H FALSE");
    ASN1::BOOLEAN first;
    ASN1::OCTET_STRING second;
    ASN1::BOOLEAN third(true);
    in >> first >> second >> third;
    EXPECT_TRUE(first);
    EXPECT_TRUE(in.fail());
    EXPECT_TRUE(third); // a stream that failed is left alone
    std::istringstream text("{ seq 9, pdu command : query : NULL }");
    TM::Message m;
    EXPECT_EQ(m.get_from(text), std::ios_base::goodbit);
    EXPECT_EQ(m.asValueNotation(), "{\n  seq 9,\n  pdu command : query : NULL\n}");
}

} // namespace
