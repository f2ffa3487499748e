// The coder tests' module: the classes generated from tests/asn1/TM.asn, and the
// descriptors of the constrained kinds that the generator does not write, used as
// standalone values.
#pragma once

#include "asn1/asn1.hpp"
#include "messages/tm/TM.hpp"

namespace TM
{

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> Int0_1023;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 127> Int0_127;

const std::uint32_t Unbounded = 0xFFFFFFFFu;

// INTEGER (-128..127), (5..MAX), (0..7, ...), (-5..5, ...) and { zero(0), two(2), ten(10) }
inline const ASN1::ConstrainedInfo IntMinus128_127Info = {
    {&ASN1::INTEGER::create, 2}, ASN1::FixedConstraint, -128, 127};
inline const ASN1::ConstrainedInfo IntLowerOnlyInfo = {
    {&ASN1::INTEGER::create, 2}, ASN1::PartiallyConstrained, 5, Unbounded};
inline const ASN1::ConstrainedInfo IntExtRangeInfo = {
    {&ASN1::INTEGER::create, 2}, ASN1::ExtendableConstraint, 0, 7};
inline const ASN1::ConstrainedInfo IntExtSignedInfo = {
    {&ASN1::INTEGER::create, 2}, ASN1::ExtendableConstraint, -5, 5};
inline const ASN1::NamedNumberEntry NamedInt_entries[] = {{0, "zero"}, {2, "two"}, {10, "ten"}};
inline const ASN1::NamedNumberInfo NamedIntInfo = {
    {{&ASN1::IntegerWithNamedNumber::create, 2}, ASN1::Unconstrained, 0, Unbounded}, NamedInt_entries, 3};
// OCTET STRING (SIZE(0..20000)), (SIZE(0..7)), (SIZE(1..4, ...))
inline const ASN1::ConstrainedInfo Octets20000Info = {
    {&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 0, 20000};
inline const ASN1::ConstrainedInfo Octets0_7Info = {
    {&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 0, 7};
inline const ASN1::ConstrainedInfo OctetsExtInfo = {
    {&ASN1::OCTET_STRING::create, 4}, ASN1::ExtendableConstraint, 1, 4};
// IA5String (SIZE(1..64)) without a set table, NumericString (SIZE(0..2)),
// IA5String (SIZE(1..2)), BMPString (SIZE(1))
inline ASN1::StringInfo const& DnameInfo = Kinds::dname::value_type::theInfo;
inline const ASN1::StringInfo Digits2Info = {
    {{&ASN1::NumericString::create, 18}, ASN1::FixedConstraint, 0, 2}, ASN1::NumericStringSet, 11, 4, 4, 4};
inline const ASN1::StringInfo Ia5Size2Info = {
    {{&ASN1::IA5String::create, 22}, ASN1::FixedConstraint, 1, 2}, ASN1::IA5StringSet, 128, 7, 7, 8};
inline const ASN1::BMPStringInfo Bmp1Info = {
    {{&ASN1::BMPString::create, 30}, ASN1::FixedConstraint, 1, 1}, 0, 65535, 16, 16};
// An open type holding a Message
inline const ASN1::OpenTypeInfo TypedOpenInfo = {{&ASN1::TypeConstrainedOpenData::create, 0},
                                                 &Message::theInfo};

} // namespace TM
