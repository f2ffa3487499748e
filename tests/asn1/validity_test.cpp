// Validity in both strengths and the tracer's text, one row per rule of each kind.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace
{

using asn1test::integer;
using asn1test::Value;
using asn1test::with;

const ASN1::ConstrainedInfo bits2_4 = {{&ASN1::BIT_STRING::create, 3}, ASN1::FixedConstraint, 2, 4};
const ASN1::ConstrainedInfo bits2_4ext = {{&ASN1::BIT_STRING::create, 3}, ASN1::ExtendableConstraint, 2, 4};
const ASN1::StringInfo ia5ext1_2 = {{{&ASN1::AbstractString::create, 22}, ASN1::ExtendableConstraint, 1, 2},
                                    ASN1::IA5StringSet,
                                    128,
                                    7,
                                    7,
                                    8};
const ASN1::BMPStringInfo capitals = {
    {{&ASN1::BMPString::create, 30}, ASN1::Unconstrained, 0, 0xFFFFFFFFu}, 'A', 'Z', 16, 16};
const ASN1::SequenceOfInfo ints1_2 = {{{&ASN1::SEQUENCE_OF_Base::create, 16}, ASN1::FixedConstraint, 1, 2},
                                      &ASN1::INTEGER::theInfo};
const ASN1::SequenceOfInfo ints1_2ext = {
    {{&ASN1::SEQUENCE_OF_Base::create, 16}, ASN1::ExtendableConstraint, 1, 2}, &ASN1::INTEGER::theInfo};

template <class E> Value enumerated(int v)
{
    return with<E>([v](E& e) { e.setFromInt(v); });
}

Value bits(ASN1::ConstrainedInfo const& info, unsigned n)
{
    ASN1::BIT_STRING* b = new ASN1::BIT_STRING(&info);
    b->resize(n);
    return Value(b);
}

Value list(ASN1::SequenceOfInfo const& info, unsigned n)
{
    ASN1::SEQUENCE_OF_Base* l = new ASN1::SEQUENCE_OF_Base(&info);
    l->resize(n);
    return Value(l);
}

struct Row {
    char const* name;
    Value value;
    bool valid, strictlyValid;
    char const* trace; // the tracer's text; "" when it passes
};

TEST(Validity, BothStrengthsAndTheTracer)
{
    Row const table[] = {
        {"unconstrained INTEGER -1", integer(-1), true, true, ""},
        {"-128..127 holding -1", integer(-1, &TM::IntMinus128_127Info), true, true, ""},
        {"0..4294967295 above 2^31",
         Value(new ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 0xFFFFFFFFu>(3000000000u)), true, true,
         ""},
        {"0..1023 holding 2000", Value(new TM::Int0_1023(2000)), false, false,
         " The INTEGER value 2000 is greater than upper bound 1023"},
        {"-128..127 holding -129", integer(-129, &TM::IntMinus128_127Info), false, false,
         " The INTEGER value -129 is smaller than lower bound -128"},
        {"5..MAX holding 4", integer(4, &TM::IntLowerOnlyInfo), false, false,
         " The INTEGER value 4 is smaller than lower bound 5"},
        {"0..7,... holding 8", integer(8, &TM::IntExtRangeInfo), true, false, ""},
        {"-5..5,... holding -6", integer(-6, &TM::IntExtSignedInfo), true, false,
         " The INTEGER value -6 is smaller than lower bound -5"},
        {"extensible ENUMERATED beyond its maximum", enumerated<TM::ErrorCause>(13), true, false,
         " This ENUMERATED has invalid value 13"},
        {"ENUMERATED beyond its maximum", enumerated<TM::Payload>(124), false, false,
         " This ENUMERATED has invalid value 124"},
        {"ENUMERATED -1", enumerated<TM::ErrorCause>(-1), true, true, ""},
        {"OID without arcs", asn1test::oid({}), false, false, " This OBJECT IDENTIFIER is not assigned"},
        {"OID of one arc", asn1test::oid({1}), true, true, ""},
        {"BIT STRING 2..4 of 5", bits(bits2_4, 5), false, false,
         " This BIT STRING has size 5 greater than its upper bound 4"},
        {"BIT STRING 2..4,... of 5", bits(bits2_4ext, 5), true, false, ""},
        {"OCTET STRING 1..4,... of 5", Value(new ASN1::OCTET_STRING(5, 'x', &TM::OctetsExtInfo)), true, false,
         ""},
        {"OCTET STRING 0..7 of 8", Value(new ASN1::OCTET_STRING(8, 'x', &TM::Octets0_7Info)), false, false,
         " This OCTET STRING has size 8 greater than its upper bound 7"},
        {"NumericString 1a", Value(new ASN1::NumericString("1a")), false, false,
         " The character 'a' is not valid for the string"},
        {"IA5String 1..64 empty", Value(new ASN1::AbstractString(&TM::DnameInfo, "")), false, false,
         " This AbstractString has size 0 smaller than its lower bound 1"},
        {"IA5String 1..2 of 3", Value(new ASN1::AbstractString(&TM::Ia5Size2Info, "abc")), false, false,
         " This AbstractString has size 3 greater than its upper bound 2"},
        {"IA5String 1..2,... of 3", Value(new ASN1::AbstractString(&ia5ext1_2, "abc")), true, false, ""},
        {"BMPString SIZE(1) of 2", Value(new ASN1::BMPString(L"AB", &TM::Bmp1Info)), false, false,
         " This BMPString has size 2 greater than its upper bound 1"},
        {"BMPString A..Z holding b", Value(new ASN1::BMPString(L"Ab", &capitals)), false, false,
         " The character '98' is not valid for the string"},
        {"GeneralizedTime", Value(new ASN1::GeneralizedTime("20070305143000Z")), true, true, ""},
        {"GeneralizedTime of month 13", Value(new ASN1::GeneralizedTime("20071305143000Z")), false, false,
         " This GeneralizedTime is not valid"},
        {"CHOICE without selection", Value(new TM::PDU), false, false, " This CHOICE is not selected"},
        {"CHOICE not understood", with<TM::PDU>([](TM::PDU& p) { p.setSelection(-2, nullptr); }), false,
         false, " This selection is not understood by this decoder"},
        {"extension alternative", with<TM::TonecCode>([](TM::TonecCode& c) { c.select_dtmfDone(); }), true,
         false, ""},
        {"SEQUENCE OF 1..2 of 3", list(ints1_2, 3), false, false,
         " This SEQUENCE OF has size 3 greater than its upper bound 2"},
        {"SEQUENCE OF 1..2,... empty", list(ints1_2ext, 0), false, false,
         " This SEQUENCE OF has size 0 smaller than its lower bound 1"},
        {"SEQUENCE OF 1..2,... of 3", list(ints1_2ext, 3), true, false, ""},
        {"third element out of range", with<ASN1::SET_OF<TM::Int0_127>>([](ASN1::SET_OF<TM::Int0_127>& l) {
             for (unsigned v : {1u, 2u, 200u})
                 l.push_back(v);
         }),
         false, false, "[2] The INTEGER value 200 is greater than upper bound 127"},
        {"open type without contents", Value(new ASN1::OpenData), false, false,
         " This Open Type does not contain any valid data"},
        {"open type holding octets", with<ASN1::OpenData>([](auto& o) { o.grab(new std::vector<char>(1)); }),
         true, true, ""},
        {"open type holding an invalid value",
         Value(new ASN1::OpenData(new TM::Int0_1023(1024), &ASN1::OpenData::theInfo)), false, false,
         " The INTEGER value 1024 is greater than upper bound 1023"},
        {"Message slot 2000", with<TM::Message>([](TM::Message& m) {
             m.set_slot(2000);
             m.set_pdu().select_command().select_ping();
         }),
         false, false, ".slot The INTEGER value 2000 is greater than upper bound 1023"},
        {"Message connect 2000", with<TM::Message>([](TM::Message& m) {
             m.set_seq(-1);
             m.set_pdu().select_command().select_connect(2000);
         }),
         false, false, ".pdu.command.connect The INTEGER value 2000 is greater than upper bound 1023"},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.value->isValid(), row.valid);
        EXPECT_EQ(row.value->isStrictlyValid(), row.strictlyValid);
        std::ostringstream out;
        bool passes = *row.trace == '\0';
        EXPECT_EQ(ASN1::trace_invalid(out, "check", *row.value), passes);
        EXPECT_EQ(out.str(), passes ? "" : std::string("check") + row.trace + "\n");
    }
}

} // namespace
