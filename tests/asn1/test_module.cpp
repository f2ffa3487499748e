#include "tests/asn1/test_module.hpp"

namespace TM
{

using ASN1::TypeInfo;

namespace
{
const std::uint32_t Unbounded = 0xFFFFFFFFu;
}

// Enumerations

// The name tables carry the generated code's names.
// NOLINTBEGIN(bugprone-reserved-identifier)

char const* const ErrorCause_enum_names__[] = {"invalidParams",     "insufficientResources",
                                               "invalidSlot",       "slotNotExists",
                                               "unexpectedMsgType", "internal",
                                               "unsupported",       "reconnectionFail",
                                               "disconnectFail",    "connectFail",
                                               "busError",          "slotIdBusy",
                                               "destroyInProgress"};
const ASN1::EnumInfo ErrorCause::theInfo = {{&ErrorCause::create, 10}, true, 12, ErrorCause_enum_names__, 13};

char const* const Payload_enum_names__[] = {"ptG711-Alaw", "ptG711-Ulaw", "ptG729=18",
                                            "ptG729a",     "ptDyn=96",    "ptR2S=123"};
const ASN1::EnumInfo Payload::theInfo = {{&Payload::create, 10}, false, 123, Payload_enum_names__, 6};

char const* const StandbyCommand_enum_names__[] = {"none", "standby=8", "active=16", "sleep=8"};
const ASN1::EnumInfo StandbyCommand::theInfo = {
    {&StandbyCommand::create, 10}, true, 16, StandbyCommand_enum_names__, 4};

char const* const R1Code_enum_names__[] = {"none", "noise", "silence"};
const ASN1::EnumInfo R1Code::theInfo = {{&R1Code::create, 10}, false, 2, R1Code_enum_names__, 3};

char const* const ClkSel_enum_names__[] = {"internal", "external", "line"};
const ASN1::EnumInfo ClkSel::theInfo = {{&ClkSel::create, 10}, false, 2, ClkSel_enum_names__, 3};

char const* const BExtEn_enum_names__[] = {"disabled", "enabled"};
const ASN1::EnumInfo BExtEn::theInfo = {{&BExtEn::create, 10}, false, 1, BExtEn_enum_names__, 2};
// NOLINTEND(bugprone-reserved-identifier)

// SEQUENCE and CHOICE types

const std::int32_t AllMandatory[] = {-1, -1, -1};

TypeInfo const* const ClockCfg_fieldInfos[] = {&ClkSel::theInfo, &BExtEn::theInfo, &ASN1::INTEGER::theInfo};
char const* const ClockCfg_fieldNames[] = {"clkSel0", "bextEn", "source"};
const ASN1::SequenceInfo ClockCfg::theInfo = {
    {&ClockCfg::create, 16}, false, ClockCfg_fieldInfos, AllMandatory, 3, 0, 0, nullptr, nullptr,
    ClockCfg_fieldNames};

TypeInfo const* const Channel_selectionInfos[] = {&ASN1::INTEGER::theInfo, &ASN1::INTEGER::theInfo};
char const* const Channel_selectionNames[] = {"tdm", "rtp"};
const ASN1::ChoiceInfo Channel::theInfo = {
    {&Channel::create, 0}, false, Channel_selectionInfos, 2, 2, nullptr, Channel_selectionNames};

TypeInfo const* const MixerInput_fieldInfos[] = {&Channel::theInfo, &ASN1::INTEGER::theInfo};
char const* const MixerInput_fieldNames[] = {"channel", "gain"};
const ASN1::SequenceInfo MixerInput::theInfo = {
    {&MixerInput::create, 16}, false, MixerInput_fieldInfos, AllMandatory, 2, 0, 0, nullptr, nullptr,
    MixerInput_fieldNames};

TypeInfo const* const MixerOutParams_fieldInfos[] = {&ASN1::INTEGER::theInfo, &Channel::theInfo,
                                                     &MixerOutParams::inputs_type::theInfo};
char const* const MixerOutParams_fieldNames[] = {"unit", "channel", "inputs"};
const ASN1::SequenceInfo MixerOutParams::theInfo = {
    {&MixerOutParams::create, 16}, false, MixerOutParams_fieldInfos, AllMandatory, 3, 0, 0, nullptr, nullptr,
    MixerOutParams_fieldNames};

TypeInfo const* const CreateParams_selectionInfos[] = {&ASN1::Null::theInfo, &MixerOutParams::theInfo};
char const* const CreateParams_selectionNames[] = {"mixerIn", "mixerOut"};
const ASN1::ChoiceInfo CreateParams::theInfo = {
    {&CreateParams::create, 0}, false, CreateParams_selectionInfos, 2, 2, nullptr,
    CreateParams_selectionNames};

TypeInfo const* const Command_selectionInfos[] = {
    &ASN1::Null::theInfo,         &ASN1::Null::theInfo, &Int0_1023::theInfo,  &ASN1::Null::theInfo,
    &CreateParams::theInfo,       &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo,
    &ASN1::OCTET_STRING::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo, &ClockCfg::theInfo,
    &ASN1::Null::theInfo,         &ASN1::Null::theInfo, &ASN1::Null::theInfo};
char const* const Command_selectionNames[] = {
    "query",    "testBpc", "connect",  "disconnect", "create", "destroy", "activate", "deactivate",
    "userData", "ioctl",   "trunkCfg", "clockCfg",   "ping",   "display", "protoLemz"};
const ASN1::ChoiceInfo Command::theInfo = {
    {&Command::create, 0}, true, Command_selectionInfos, 15, 15, nullptr, Command_selectionNames};

TypeInfo const* const Response_selectionInfos[] = {&ASN1::Null::theInfo, &ErrorCause::theInfo};
char const* const Response_selectionNames[] = {"success", "error"};
const ASN1::ChoiceInfo Response::theInfo = {
    {&Response::create, 0}, false, Response_selectionInfos, 2, 2, nullptr, Response_selectionNames};

TypeInfo const* const IvaCode_selectionInfos[] = {&Int1_21::theInfo, &ASN1::Null::theInfo};
char const* const IvaCode_selectionNames[] = {"code", "ringoff"};
const ASN1::ChoiceInfo IvaCode::theInfo = {
    {&IvaCode::create, 0}, false, IvaCode_selectionInfos, 2, 2, nullptr, IvaCode_selectionNames};

TypeInfo const* const TonePresence_fieldInfos[] = {&ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo};
char const* const TonePresence_fieldNames[] = {"freq", "presence"};
const ASN1::SequenceInfo TonePresence::theInfo = {
    {&TonePresence::create, 16}, true, TonePresence_fieldInfos, AllMandatory, 2, 0, 0, nullptr, nullptr,
    TonePresence_fieldNames};

TypeInfo const* const TonecCode_selectionInfos[] = {
    &Int0_127::theInfo, &R1Code::theInfo,       &ASN1::Null::theInfo, &ASN1::Null::theInfo,
    &IvaCode::theInfo,  &TonePresence::theInfo, &ASN1::Null::theInfo};
char const* const TonecCode_selectionNames[] = {"dtmf",          "r1",      "ced", "cng", "iva",
                                                "tone-presence", "dtmfDone"};
const ASN1::ChoiceInfo TonecCode::theInfo = {
    {&TonecCode::create, 0}, true, TonecCode_selectionInfos, 6, 7, nullptr, TonecCode_selectionNames};

TypeInfo const* const TonecEvent_fieldInfos[] = {&ASN1::INTEGER::theInfo, &TonecCode::theInfo};
char const* const TonecEvent_fieldNames[] = {"timestamp", "event"};
const ASN1::SequenceInfo TonecEvent::theInfo = {
    {&TonecEvent::create, 16}, false, TonecEvent_fieldInfos, AllMandatory, 2, 0, 0, nullptr, nullptr,
    TonecEvent_fieldNames};

TypeInfo const* const Signal_selectionInfos[] = {
    &ASN1::Null::theInfo,         &TonecEvent::theInfo, &ASN1::IA5String::theInfo, &ASN1::Null::theInfo,
    &ASN1::Null::theInfo,         &ASN1::Null::theInfo, &ErrorCause::theInfo,      &ASN1::INTEGER::theInfo,
    &ASN1::OCTET_STRING::theInfo, &ASN1::Null::theInfo, &ASN1::Null::theInfo,      &ASN1::Null::theInfo,
    &ASN1::Null::theInfo,         &ASN1::Null::theInfo, &ASN1::Null::theInfo,      &ASN1::Null::theInfo,
    &ASN1::Null::theInfo,         &ASN1::Null::theInfo, &ASN1::Null::theInfo,      &ASN1::Null::theInfo,
    &ASN1::Null::theInfo,         &ASN1::Null::theInfo, &ASN1::Null::theInfo};
char const* const Signal_selectionNames[] = {
    "query", "tonec",    "number",   "modemProceeding", "modemInformation", "activated", "deactivated",
    "abort", "userData", "receiver", "transmitter",     "trunkStatus",      "ioctl",     "loadAvg",
    "cas",   "rtpExt",   "vad",      "power",           "protoLemz",        "sd",        "bss",
    "rtp",   "selcal"};
const ASN1::ChoiceInfo Signal::theInfo = {{&Signal::create, 0}, true, Signal_selectionInfos, 23, 23, nullptr,
                                          Signal_selectionNames};

TypeInfo const* const PDU_selectionInfos[] = {&Command::theInfo, &Response::theInfo, &Signal::theInfo};
char const* const PDU_selectionNames[] = {"command", "response", "signal"};
const ASN1::ChoiceInfo PDU::theInfo = {{&PDU::create, 0}, false, PDU_selectionInfos, 3, 3, nullptr,
                                       PDU_selectionNames};

TypeInfo const* const Message_fieldInfos[] = {&ASN1::INTEGER::theInfo, &Int0_1023::theInfo, &PDU::theInfo};
const std::int32_t Message_fieldIds[] = {0, 1, -1};
char const* const Message_fieldNames[] = {"seq", "slot", "pdu"};
const ASN1::SequenceInfo Message::theInfo = {
    {&Message::create, 16}, false, Message_fieldInfos, Message_fieldIds, 3, 0, 2, nullptr, nullptr,
    Message_fieldNames};

TypeInfo const* const TermParams_fieldInfos[] = {&ASN1::INTEGER::theInfo, &ASN1::BOOLEAN::theInfo,
                                                 &TermParams::traceLevel_type::theInfo,
                                                 &ASN1::IA5String::theInfo, &ASN1::Null::theInfo};
const std::int32_t TermParams_fieldIds[] = {-1, 0};
char const* const TermParams_fieldNames[] = {"id", "mode", "traceLevel", "name", "flag"};
const ASN1::SequenceInfo TermParams::theInfo = {
    {&TermParams::create, 16}, true, TermParams_fieldInfos, TermParams_fieldIds, 2, 3, 1, nullptr, nullptr,
    TermParams_fieldNames};

// Standalone descriptors

const ASN1::ConstrainedInfo IntMinus128_127Info = {
    {&ASN1::INTEGER::create, 2}, ASN1::FixedConstraint, -128, 127};
const ASN1::ConstrainedInfo IntLowerOnlyInfo = {
    {&ASN1::INTEGER::create, 2}, ASN1::PartiallyConstrained, 5, Unbounded};
const ASN1::ConstrainedInfo IntExtRangeInfo = {{&ASN1::INTEGER::create, 2}, ASN1::ExtendableConstraint, 0, 7};
const ASN1::ConstrainedInfo IntExtSignedInfo = {
    {&ASN1::INTEGER::create, 2}, ASN1::ExtendableConstraint, -5, 5};
const ASN1::NamedNumberEntry NamedInt_entries[] = {{0, "zero"}, {2, "two"}, {10, "ten"}};
const ASN1::NamedNumberInfo NamedIntInfo = {
    {{&ASN1::IntegerWithNamedNumber::create, 2}, ASN1::Unconstrained, 0, Unbounded}, NamedInt_entries, 3};
const ASN1::ConstrainedInfo Octets20000Info = {
    {&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 0, 20000};
const ASN1::ConstrainedInfo Octets0_7Info = {{&ASN1::OCTET_STRING::create, 4}, ASN1::FixedConstraint, 0, 7};
const ASN1::ConstrainedInfo OctetsExtInfo = {
    {&ASN1::OCTET_STRING::create, 4}, ASN1::ExtendableConstraint, 1, 4};
const ASN1::StringInfo DnameInfo = {
    {{&ASN1::IA5String::create, 22}, ASN1::FixedConstraint, 1, 64}, nullptr, 128, 7, 7, 8};
const ASN1::StringInfo Digits2Info = {
    {{&ASN1::NumericString::create, 18}, ASN1::FixedConstraint, 0, 2}, ASN1::NumericStringSet, 11, 4, 4, 4};
const ASN1::StringInfo Ia5Size2Info = {
    {{&ASN1::IA5String::create, 22}, ASN1::FixedConstraint, 1, 2}, ASN1::IA5StringSet, 128, 7, 7, 8};
const ASN1::BMPStringInfo Bmp1Info = {
    {{&ASN1::BMPString::create, 30}, ASN1::FixedConstraint, 1, 1}, 0, 65535, 16, 16};
const ASN1::SequenceOfInfo IntListInfo = {
    {{&ASN1::SEQUENCE_OF_Base::create, 16}, ASN1::Unconstrained, 0, Unbounded}, &ASN1::INTEGER::theInfo};
const ASN1::OpenTypeInfo TypedOpenInfo = {{&ASN1::TypeConstrainedOpenData::create, 0}, &Message::theInfo};

// Kinds

TypeInfo const* const Kinds_fieldInfos[] = {
    &ASN1::BOOLEAN::theInfo,
    &ASN1::INTEGER::theInfo,
    &IntMinus128_127Info,
    &IntLowerOnlyInfo,
    &IntExtRangeInfo,
    &ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 255>::theInfo,
    &NamedIntInfo,
    &ErrorCause::theInfo,
    &Payload::theInfo,
    &StandbyCommand::theInfo,
    &ASN1::OBJECT_IDENTIFIER::theInfo,
    &ASN1::BIT_STRING::theInfo,
    &ASN1::OCTET_STRING::theInfo,
    &Octets20000Info,
    &ASN1::NumericString::theInfo,
    &ASN1::PrintableString::theInfo,
    &ASN1::VisibleString::theInfo,
    &ASN1::IA5String::theInfo,
    &ASN1::GeneralString::theInfo,
    &DnameInfo,
    &Digits2Info,
    &ASN1::BMPString::theInfo,
    &Bmp1Info,
    &ASN1::GeneralizedTime::theInfo,
    &ASN1::SEQUENCE_OF<ASN1::INTEGER>::theInfo,
    &ASN1::SET_OF<Int0_127>::theInfo,
    &ASN1::OpenData::theInfo,
    &TypedOpenInfo,
    &ASN1::Null::theInfo};
static_assert(sizeof Kinds_fieldInfos / sizeof Kinds_fieldInfos[0] == Kinds::fieldCount,
              "one entry per field");
const std::int32_t Kinds_fieldIds[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                       15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28};
char const* const Kinds_fieldNames[] = {
    "boolean",  "integer", "minus128-127", "lowerOnly", "extRange", "byte256",     "named",   "enumerated",
    "payload",  "standby", "oid",          "bits",      "octets",   "octets20000", "numeric", "printable",
    "visible",  "ia5",     "general",      "dname",     "digits2",  "bmp",         "bmp1",    "time",
    "integers", "ints",    "open",         "typedOpen", "nothing"};
const ASN1::SequenceInfo Kinds::theInfo = {
    {&Kinds::create, 16}, false,   Kinds_fieldInfos, Kinds_fieldIds,  Kinds::fieldCount, 0,
    Kinds::fieldCount,    nullptr, nullptr,          Kinds_fieldNames};

} // namespace TM
