// The generated descriptor tables: how many types each module has, and the data of
// a sample of types (names as printed, optional numbers, extension counts, values).
#include "messages/acp/ACP.hpp"
#include "messages/hsp/HSP.hpp"
#include "messages/lemzgw/LEMZGW.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "messages/term/TERM.hpp"
#include "tests/messages/registry.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace
{

struct Counts {
    int sequence = 0, choice = 0, enumerated = 0, string = 0;
    bool operator==(Counts const& o) const
    {
        return sequence == o.sequence && choice == o.choice && enumerated == o.enumerated &&
               string == o.string;
    }
};

std::ostream& operator<<(std::ostream& out, Counts const& c)
{
    return out << c.sequence << " SEQUENCE, " << c.choice << " CHOICE, " << c.enumerated << " ENUMERATED, "
               << c.string << " IA5String";
}

TEST(Descriptors, TypesPerModuleAndKind)
{
    struct Row {
        char const* module;
        Counts want;
    };
    Row const table[] = {
        {"LGCP", {63, 24, 19, 0}}, {"TERM", {84, 39, 31, 1}}, {"LEMZGW", {87, 19, 32, 0}},
        {"ACP", {21, 7, 14, 0}},   {"HSP", {11, 4, 6, 0}},    {"MON", {11, 7, 1, 0}},
        {"MEDIA", {3, 7, 1, 0}},   {"BASE", {1, 0, 2, 0}},    {"CCP", {1, 1, 0, 0}},
    };
    std::map<std::string, Counts> got;
    Counts total;
    for (unsigned i = 0; i < messages::registrySize; ++i) {
        messages::RegistryEntry const& e = messages::registry[i];
        std::string kind = e.kind;
        // The factory stored in each descriptor builds the kind the table says.
        std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(e.info));
        Counts& c = got[e.module];
        if (kind == "SEQUENCE") {
            ++c.sequence, ++total.sequence;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::SEQUENCE*>(value.get())) << e.name;
            EXPECT_EQ(16u, e.info->tag) << e.name;
        } else if (kind == "CHOICE") {
            ++c.choice, ++total.choice;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::CHOICE*>(value.get())) << e.name;
            EXPECT_EQ(0u, e.info->tag) << e.name;
        } else if (kind == "ENUMERATED") {
            ++c.enumerated, ++total.enumerated;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::ENUMERATED*>(value.get())) << e.name;
            EXPECT_EQ(10u, e.info->tag) << e.name;
        } else {
            ++c.string, ++total.string;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::IA5String*>(value.get())) << e.name;
            EXPECT_EQ(22u, e.info->tag) << e.name;
        }
    }
    for (Row const& row : table)
        EXPECT_EQ(row.want, got[row.module]) << row.module;
    EXPECT_EQ(9u, got.size());
    EXPECT_EQ((Counts{282, 108, 106, 1}), total);
    EXPECT_EQ(497u, messages::registrySize);
}

std::vector<std::string> names(char const* const* table, unsigned n)
{
    return {table, table + n};
}

TEST(Descriptors, Sequences)
{
    struct Row {
        ASN1::SequenceInfo const* info;
        bool extendable;
        unsigned numFields, knownExtensions, numOptional;
        std::vector<int> fieldIds;
        std::vector<std::string> fieldNames;
    };
    Row const table[] = {
        {&LGCP::Message::theInfo, false, 3, 0, 2, {0, 1, -1}, {"seq", "slot", "pdu"}},
        {&LGCP::MixerResources_subtype::theInfo,
         true,
         7,
         0,
         0,
         {-1, -1, -1, -1, -1, -1, -1},
         {"unit", "tdm_inputs", "tdm_outputs", "mixer_inputs", "dpu_per_mixer", "dpu_per_ec", "dpu_per_lms"}},
        {&LGCP::TermCounter::theInfo, true, 3, 0, 1, {-1, 0, -1}, {"owner", "ownerId", "cnt"}},
        {&TERM::ISDN_NumberType::theInfo, true, 2, 1, 0, {-1, -1}, {"type", "plan", "screeningInd"}},
        {&TERM::TermParams::theInfo,
         true,
         6,
         13,
         6,
         {0, 1, 2, 3, 4, 5},
         {"type", "tdm", "echo", "dtmf-params", "dtmf", "ed137params", "traceLevel", "tone", "request-mode",
          "request-mode-ack", "radio-mode", "manual-mode", "vad", "vad-v2-params", "dtmf-reject", "sd",
          "mute", "pd", "radio-command"}},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.fieldNames[0]);
        EXPECT_EQ(row.extendable, row.info->extendable);
        EXPECT_EQ(row.numFields, row.info->numFields);
        EXPECT_EQ(row.knownExtensions, row.info->knownExtensions);
        EXPECT_EQ(row.numOptional, row.info->numOptional);
        EXPECT_EQ(row.fieldIds, std::vector<int>(row.info->fieldIds, row.info->fieldIds + row.numFields));
        EXPECT_EQ(row.fieldNames, names(row.info->fieldNames, row.numFields + row.knownExtensions));
        EXPECT_EQ(nullptr, row.info->nonOptionalExtensions);
        EXPECT_EQ(nullptr, row.info->fieldTags);
    }
    // Field descriptors: built-in kinds, shared bound pairs, other modules' types, string subtypes.
    EXPECT_EQ((&ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023>::theInfo),
              LGCP::AtsQsigBParams::theInfo.fieldInfos[0]);
    EXPECT_EQ(&HSP::ControllerStatus::theInfo, LGCP::ControllerInfo::theInfo.fieldInfos[1]);
    EXPECT_EQ((&ASN1::SET_OF<LGCP::TonecMask>::theInfo), LGCP::IoctlParams::theInfo.selectionInfos[2]);
    EXPECT_EQ(&TERM::RtpParams::dname::value_type::theInfo, TERM::RtpParams::theInfo.fieldInfos[3]);
    EXPECT_EQ(64u, TERM::RtpParams::dname::value_type::theInfo.upperLimit);
}

TEST(Descriptors, Choices)
{
    struct Row {
        ASN1::ChoiceInfo const* info;
        bool extendable;
        unsigned numChoices, totalChoices;
        unsigned probe;
        char const* probeName;
    };
    Row const table[] = {
        {&LGCP::Signal::theInfo, true, 23, 23, 19, "sd"},
        {&LGCP::TonecCode::theInfo, true, 6, 7, 6, "dtmfDone"},
        {&LGCP::CreateParams::theInfo, true, 19, 19, 8, "trunk_bri"},
        {&LGCP::IoctlParams::theInfo, true, 38, 38, 10, "dtmf-params"},
        {&ACP::AcpCommand::theInfo, true, 6, 17, 16, nullptr},
        {&TERM::LemzRadioModifierParams::theInfo, true, 20, 20, 0, "gw-set-flags"},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.numChoices);
        EXPECT_EQ(row.extendable, row.info->extendable);
        EXPECT_EQ(row.numChoices, row.info->numChoices);
        EXPECT_EQ(row.totalChoices, row.info->totalChoices);
        EXPECT_EQ(nullptr, row.info->selectionTags);
        if (row.probeName) {
            EXPECT_STREQ(row.probeName, row.info->selectionNames[row.probe]);
        }
    }
    // Tag types carry the index among all alternatives, additions included.
    EXPECT_EQ(1, LGCP::Signal::tonec::value);
    EXPECT_EQ(6, LGCP::Signal::deactivated::value);
    EXPECT_EQ(6, LGCP::TonecCode::dtmfDone::value);
    EXPECT_EQ(1, TERM::RadioStatus::ed_137::value);
}

TEST(Descriptors, Enumerations)
{
    struct Row {
        ASN1::EnumInfo const* info;
        bool extendable;
        int maxEnumValue;
        std::vector<std::string> names;
    };
    Row const table[] = {
        {&LGCP::ErrorCause::theInfo,
         true,
         12,
         {"invalidParams", "insufficientResources", "invalidSlot", "slotNotExists", "unexpectedMsgType",
          "internal", "unsupported", "reconnectionFail", "disconnectFail", "connectFail", "busError",
          "slotIdBusy", "destroyInProgress"}},
        {&TERM::Payload::theInfo,
         false,
         123,
         {"ptG711-Alaw", "ptG711-Ulaw", "ptG723", "ptG729", "ptG711mcc-Alaw", "ptG711mcc-Ulaw", "reserv-1",
          "reserv-2", "reserv-3", "reserv-4", "reserv-5", "ptT38-UDP-TL", "ptT38-TCP-TPKT", "ptG728",
          "ptR2S=123"}},
        {&TERM::RadioStandby::theInfo, false, 1, {"not-use=-1", "active", "standby"}},
        {&TERM::ED137CallPriority::theInfo, true, 4, {"emergency=1", "urgent", "normal", "non-urgent"}},
        {&HSP::StandbyState::theInfo,
         true,
         16,
         {"initial", "learn", "listen", "speak=4", "standby=8", "active=16"}},
        {&LEMZGW::ProtoLemzCountersNSizes::theInfo,
         true,
         3,
         {"dconChannelsCount=3", "ggsChannelsCount=2", "v1radioChannelsCount=1", "v2radioChannelsCount",
          "radioChannelsMinCount=1", "radioChannelsMaxCount", "digital2WireLineCount=2"}},
        {&LEMZGW::ProtoLemzGgsError::theInfo,
         true,
         128,
         {"ok", "fsm=32", "unexpected_command=64", "hardware=128"}},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.names[0]);
        EXPECT_EQ(row.extendable, row.info->extendable);
        EXPECT_EQ(row.maxEnumValue, row.info->maxEnumValue);
        EXPECT_EQ(row.names, names(row.info->names, row.info->nameCount));
    }
    EXPECT_EQ(-1, TERM::RadioStandby::not_use);
    EXPECT_EQ(13056, LEMZGW::ProtoLemzMsgID::ali_server_p1);
    EXPECT_EQ(LEMZGW::ProtoLemzAnalogGainIDV1::rtx1, LEMZGW::ProtoLemzAnalogGainIDV1::min);
}

} // namespace
