// A small module written the way the type generator writes one: the controller's
// message family, an enumeration with explicit values, a SEQUENCE with extension
// additions, and one field of every kind. The coder tests run on it.
#pragma once

#include "asn1/asn1.hpp"

#include <string>
#include <vector>

// The members every generated class starts with: its descriptor, its factory, and the
// constructors from its own and from another descriptor.
#define TM_TYPE(Class, Base, Info)                                                                           \
    static const ASN1::Info theInfo;                                                                         \
    static ASN1::AbstractData* create(ASN1::TypeInfo const* info)                                            \
    {                                                                                                        \
        return new Class(info);                                                                              \
    }                                                                                                        \
    Class() : Base(&theInfo) {}                                                                              \
    explicit Class(ASN1::TypeInfo const* info) : Base(info) {}

namespace TM
{

typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 1023> Int0_1023;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 127> Int0_127;
typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 1, 21> Int1_21;

class ErrorCause : public ASN1::ENUMERATED
{
public:
    enum NamedNumber {
        invalidParams,
        insufficientResources,
        invalidSlot,
        slotNotExists,
        unexpectedMsgType,
        internal,
        unsupported,
        reconnectionFail,
        disconnectFail,
        connectFail,
        busError,
        slotIdBusy,
        destroyInProgress
    };
    TM_TYPE(ErrorCause, ENUMERATED, EnumInfo)
    ErrorCause(NamedNumber v) : ENUMERATED(&theInfo) { setFromInt(v); }
    ErrorCause& operator=(NamedNumber v)
    {
        setFromInt(v);
        return *this;
    }
    operator NamedNumber() const { return NamedNumber(asInt()); }
};

// Explicit values: "ptG729=18" and so on; unnumbered entries follow the previous one.
class Payload : public ASN1::ENUMERATED
{
public:
    enum NamedNumber { ptG711_Alaw = 0, ptG711_Ulaw = 1, ptG729 = 18, ptG729a = 19, ptDyn = 96, ptR2S = 123 };
    TM_TYPE(Payload, ENUMERATED, EnumInfo)
    Payload(NamedNumber v) : ENUMERATED(&theInfo) { setFromInt(v); }
};

// Extensible, explicit values, and two names for one value (the first one names it).
class StandbyCommand : public ASN1::ENUMERATED
{
public:
    enum NamedNumber { none = 0, standby = 8, active = 16 };
    TM_TYPE(StandbyCommand, ENUMERATED, EnumInfo)
};

class R1Code : public ASN1::ENUMERATED
{
public:
    enum NamedNumber { none, noise, silence };
    TM_TYPE(R1Code, ENUMERATED, EnumInfo)
};

class ClkSel : public ASN1::ENUMERATED
{
public:
    enum NamedNumber { internal, external, line };
    TM_TYPE(ClkSel, ENUMERATED, EnumInfo)
    ClkSel& operator=(NamedNumber v)
    {
        setFromInt(v);
        return *this;
    }
};

class BExtEn : public ASN1::ENUMERATED
{
public:
    enum NamedNumber { disabled, enabled };
    TM_TYPE(BExtEn, ENUMERATED, EnumInfo)
    BExtEn& operator=(NamedNumber v)
    {
        setFromInt(v);
        return *this;
    }
};

// ClockCfg ::= SEQUENCE { clkSel0 ClkSel, bextEn BExtEn, source INTEGER }
class ClockCfg : public ASN1::SEQUENCE
{
public:
    TM_TYPE(ClockCfg, SEQUENCE, SequenceInfo)
    ClkSel& set_clkSel0() { return field_ref<ClkSel>(0); }
    BExtEn& set_bextEn() { return field_ref<BExtEn>(1); }
    void set_source(int v) { field_ref<ASN1::INTEGER>(2) = v; }
};

// Channel ::= CHOICE { tdm INTEGER, rtp INTEGER }
class Channel : public ASN1::CHOICE
{
public:
    TM_TYPE(Channel, CHOICE, ChoiceInfo)
    void select_tdm(int v) { select_as<ASN1::INTEGER>(0) = v; }
    void select_rtp(int v) { select_as<ASN1::INTEGER>(1) = v; }
};

// MixerInput ::= SEQUENCE { channel Channel, gain INTEGER }
class MixerInput : public ASN1::SEQUENCE
{
public:
    TM_TYPE(MixerInput, SEQUENCE, SequenceInfo)
    Channel& set_channel() { return field_ref<Channel>(0); }
    void set_gain(int v) { field_ref<ASN1::INTEGER>(1) = v; }
};

// MixerOutParams ::= SEQUENCE { unit INTEGER, channel Channel, inputs SEQUENCE OF MixerInput }
class MixerOutParams : public ASN1::SEQUENCE
{
public:
    typedef ASN1::SEQUENCE_OF<MixerInput, ASN1::EmptyConstraint> inputs_type;
    TM_TYPE(MixerOutParams, SEQUENCE, SequenceInfo)
    void set_unit(int v) { field_ref<ASN1::INTEGER>(0) = v; }
    Channel& set_channel() { return field_ref<Channel>(1); }
    inputs_type& set_inputs() { return field_ref<inputs_type>(2); }
    inputs_type const& get_inputs() const { return field_as<inputs_type>(2); }
};

// CreateParams ::= CHOICE { mixerIn NULL, mixerOut MixerOutParams }
class CreateParams : public ASN1::CHOICE
{
public:
    TM_TYPE(CreateParams, CHOICE, ChoiceInfo)
    MixerOutParams& select_mixerOut() { return select_as<MixerOutParams>(1); }
};

// Command ::= CHOICE { query NULL, testBpc NULL, connect INTEGER (0..1023), disconnect NULL,
//   create CreateParams, destroy NULL, activate NULL, deactivate NULL, userData OCTET STRING,
//   ioctl NULL, trunkCfg NULL, clockCfg ClockCfg, ping NULL, display NULL, protoLemz NULL, ... }
class Command : public ASN1::CHOICE
{
public:
    enum {
        query_,
        testBpc_,
        connect_,
        disconnect_,
        create_,
        destroy_,
        activate_,
        deactivate_,
        userData_,
        ioctl_,
        trunkCfg_,
        clockCfg_,
        ping_,
        display_,
        protoLemz_
    };
    TM_TYPE(Command, CHOICE, ChoiceInfo)
    void select_query() { select_as<ASN1::Null>(query_); }
    void select_ping() { select_as<ASN1::Null>(ping_); }
    void select_connect(unsigned v) { select_as<Int0_1023>(connect_) = v; }
    ASN1::OCTET_STRING& select_userData() { return select_as<ASN1::OCTET_STRING>(userData_); }
    CreateParams& select_create() { return select_as<CreateParams>(create_); }
    ClockCfg& select_clockCfg() { return select_as<ClockCfg>(clockCfg_); }
};

// Response ::= CHOICE { success NULL, error ErrorCause }
class Response : public ASN1::CHOICE
{
public:
    TM_TYPE(Response, CHOICE, ChoiceInfo)
    void select_success() { select_as<ASN1::Null>(0); }
    void select_error(ErrorCause::NamedNumber v) { select_as<ErrorCause>(1) = v; }
    ErrorCause const& get_error() const { return alternative_as<ErrorCause>(1); }
};

// IvaCode ::= CHOICE { code INTEGER (1..21), ringoff NULL }
class IvaCode : public ASN1::CHOICE
{
public:
    TM_TYPE(IvaCode, CHOICE, ChoiceInfo)
};

// TonePresence ::= SEQUENCE { freq INTEGER, presence BOOLEAN, ... }
class TonePresence : public ASN1::SEQUENCE
{
public:
    TM_TYPE(TonePresence, SEQUENCE, SequenceInfo)
    void set_freq(int v) { field_ref<ASN1::INTEGER>(0) = v; }
    void set_presence(bool v) { field_ref<ASN1::BOOLEAN>(1) = v; }
};

// TonecCode ::= CHOICE { dtmf INTEGER (0..127), r1 R1Code, ced NULL, cng NULL, iva IvaCode,
//   tone-presence TonePresence, ..., dtmfDone NULL }
class TonecCode : public ASN1::CHOICE
{
public:
    TM_TYPE(TonecCode, CHOICE, ChoiceInfo)
    void select_dtmf(unsigned v) { select_as<Int0_127>(0) = v; }
    TonePresence& select_tone_presence() { return select_as<TonePresence>(5); }
    void select_dtmfDone() { select_as<ASN1::Null>(6); }
};

// TonecEvent ::= SEQUENCE { timestamp INTEGER, event TonecCode }
class TonecEvent : public ASN1::SEQUENCE
{
public:
    TM_TYPE(TonecEvent, SEQUENCE, SequenceInfo)
    void set_timestamp(int v) { field_ref<ASN1::INTEGER>(0) = v; }
    TonecCode& set_event() { return field_ref<TonecCode>(1); }
};

// Signal ::= CHOICE { 23 root alternatives (query .. selcal), ... }; tonec is index 1.
class Signal : public ASN1::CHOICE
{
public:
    struct tonec {
        enum Id { value = 1 };
    };
    TM_TYPE(Signal, CHOICE, ChoiceInfo)
    Signal(tonec::Id, TonecEvent const& v) : CHOICE(&theInfo) { select_as<TonecEvent>(tonec::value) = v; }
    TonecEvent& select_tonec() { return select_as<TonecEvent>(tonec::value); }
    void select_abort(int v) { select_as<ASN1::INTEGER>(7) = v; }
    void select_number(std::string const& v) { select_as<ASN1::IA5String>(2) = v; }
};

// PDU ::= CHOICE { command Command, response Response, signal Signal }
class PDU : public ASN1::CHOICE
{
public:
    TM_TYPE(PDU, CHOICE, ChoiceInfo)
    Command& select_command() { return select_as<Command>(0); }
    Response& select_response() { return select_as<Response>(1); }
    Signal& select_signal() { return select_as<Signal>(2); }
    void select_signal(Signal const& v) { select_as<Signal>(2) = v; }
    Command const& get_command() const { return alternative_as<Command>(0); }
};

// Message ::= SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu PDU }
class Message : public ASN1::SEQUENCE
{
public:
    TM_TYPE(Message, SEQUENCE, SequenceInfo)
    Message* clone() const { return static_cast<Message*>(SEQUENCE::clone()); }

    void set_seq(int v) { optional_ref<ASN1::INTEGER>(0, 0) = v; }
    Int0_1023 const& get_slot() const { return field_as<Int0_1023>(1); }
    void set_slot(unsigned v) { optional_ref<Int0_1023>(1, 1) = v; }
    void omit_slot() { removeOptionalField(1); }
    PDU const& get_pdu() const { return field_as<PDU>(2); }
    PDU& set_pdu() { return field_ref<PDU>(2); }
};

// TermParams ::= SEQUENCE { id INTEGER, mode BOOLEAN OPTIONAL, ...,
//   traceLevel INTEGER (0..15) OPTIONAL, name IA5String OPTIONAL, flag NULL OPTIONAL }
class TermParams : public ASN1::SEQUENCE
{
public:
    typedef ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 15> traceLevel_type;
    TM_TYPE(TermParams, SEQUENCE, SequenceInfo)
    void set_id(int v) { field_ref<ASN1::INTEGER>(0) = v; }
    void set_mode(bool v) { optional_ref<ASN1::BOOLEAN>(0, 1) = v; }
    void set_traceLevel(unsigned v) { optional_ref<traceLevel_type>(1, 2) = v; }
    void set_name(std::string const& v) { optional_ref<ASN1::IA5String>(2, 3) = v; }
    void set_flag() { optional_ref<ASN1::Null>(3, 4); }
    void omit_traceLevel() { removeOptionalField(1); }
};

// Kinds ::= SEQUENCE { one OPTIONAL field of every kind, in the order of Kinds::Field }
class Kinds : public ASN1::SEQUENCE
{
public:
    enum Field {
        boolean,
        integer,
        minus128_127,
        lowerOnly,
        extRange,
        byte256,
        named,
        enumerated,
        payload,
        standby,
        oid,
        bits,
        octets,
        octets20000,
        numeric,
        printable,
        visible,
        ia5,
        general,
        dname,
        digits2,
        bmp,
        bmp1,
        time,
        integers,
        ints,
        open,
        typedOpen,
        nothing,
        fieldCount
    };
    TM_TYPE(Kinds, SEQUENCE, SequenceInfo)
    // Every field is optional with optional number = field number.
    template <class T> T& set(Field f) { return optional_ref<T>(f, f); }
};

// Descriptors of the standalone types the tests use.
extern const ASN1::ConstrainedInfo IntMinus128_127Info; // INTEGER (-128..127)
extern const ASN1::ConstrainedInfo IntLowerOnlyInfo;    // INTEGER (5..MAX)
extern const ASN1::ConstrainedInfo IntExtRangeInfo;     // INTEGER (0..7, ...)
extern const ASN1::ConstrainedInfo IntExtSignedInfo;    // INTEGER (-5..5, ...)
extern const ASN1::NamedNumberInfo NamedIntInfo;        // INTEGER { zero(0), two(2), ten(10) }
extern const ASN1::ConstrainedInfo Octets20000Info;     // OCTET STRING (SIZE(0..20000))
extern const ASN1::ConstrainedInfo Octets0_7Info;       // OCTET STRING (SIZE(0..7))
extern const ASN1::ConstrainedInfo OctetsExtInfo;       // OCTET STRING (SIZE(1..4, ...))
extern const ASN1::StringInfo DnameInfo;                // IA5String (SIZE(1..64)), no set table
extern const ASN1::StringInfo Digits2Info;              // NumericString (SIZE(0..2))
extern const ASN1::StringInfo Ia5Size2Info;             // IA5String (SIZE(1..2))
extern const ASN1::BMPStringInfo Bmp1Info;              // BMPString (SIZE(1))
extern const ASN1::SequenceOfInfo IntListInfo;          // SEQUENCE OF INTEGER (generic factory)
extern const ASN1::OpenTypeInfo TypedOpenInfo;          // open type holding a Message

} // namespace TM
