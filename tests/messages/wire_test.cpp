// Aligned-PER octets of whole messages and single values, byte for byte: each value
// encodes to the octets beside it, and the octets decode to an equal value.
#include "messages/hsp/HSP.hpp"
#include "messages/lemzgw/LEMZGW.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "messages/mon/MON.hpp"
#include "messages/term/TERM.hpp"
#include "tests/asn1/helpers.hpp"

#include <gtest/gtest.h>

#include <functional>

namespace
{

using asn1test::bytes;
using asn1test::decodeInto;
using asn1test::encodeHex;
using asn1test::Value;
using asn1test::with;

template <class T> Value own(T const& value)
{
    return Value(value.clone());
}

LGCP::Message message(int seq, int slot)
{
    LGCP::Message m;
    if (seq != -1000)
        m.set_seq(seq);
    if (slot >= 0)
        m.set_slot(static_cast<unsigned>(slot));
    return m;
}

LGCP::Message command(int seq, int slot, const std::function<void(LGCP::Command&)>& fill)
{
    LGCP::Message m = message(seq, slot);
    fill(m.set_pdu().select_command());
    return m;
}

LGCP::Message response(int seq, int slot, int error)
{
    LGCP::Message m = message(seq, slot);
    LGCP::Response& r = m.set_pdu().select_response();
    if (error < 0)
        r.select_success();
    else
        r.select_error(static_cast<LGCP::ErrorCause::NamedNumber>(error));
    return m;
}

LGCP::Message tonecSignal(bool done)
{
    LGCP::Message m;
    m.set_slot(9);
    LGCP::TonecEvent& ev = m.set_pdu().select_signal().select_tonec();
    ev.set_timestamp(1000);
    done ? void(ev.set_event().select_dtmfDone()) : ev.set_event().select_dtmf(5);
    return m;
}

template <class E> Value enumeration(typename E::NamedNumber v)
{
    return Value(new E(v));
}

const int none = -1000; // no seq

struct Case {
    char const* what;
    std::shared_ptr<ASN1::AbstractData const> value;
    char const* octets;
};

std::vector<Case> const cases = {
    // The controller protocol's own examples.
    {"seq 5, ping", own(command(5, -1, [](LGCP::Command& c) { c.select_ping(); })), "80 01 05 18"},
    {"seq 5, slot 7, invalidSlot", own(response(5, 7, LGCP::ErrorCause::invalidSlot)), "C0 01 05 00 07 62"},
    {"query", own(command(none, -1, [](LGCP::Command& c) { c.select_query(); })), "00 00"},
    {"seq 200, slot 1023, success", own(response(200, 1023, -1)), "C0 02 00 C8 03 FF 40"},
    {"seq -1, success", own(response(-1, -1, -1)), "80 01 FF 40"},
    {"destroyInProgress", own(response(none, -1, LGCP::ErrorCause::destroyInProgress)), "1B 00"},
    // Signals: the one extension addition of the module, and a root alternative.
    {"slot 9, tonec dtmfDone", own(tonecSignal(true)), "40 00 09 81 02 03 E8 80 01 00"},
    {"slot 9, tonec dtmf 5", own(tonecSignal(false)), "40 00 09 81 02 03 E8 00 A0"},
    {"MON ping", with<MON::Message>([](auto& m) { m.set_pdu().select_command().select_ping(); }), "18"},
    {"MapParams {}", own(LGCP::MapParams()), "00"},
    {"MapParams {transmitter {bus 15, channel 127}}", with<LGCP::MapParams>([](auto& p) {
         p.set_transmitter().set_bus(15);
         p.ref_transmitter().set_channel(127);
     }),
     "BF F8"},
    {"TermParams {traceLevel 5}", with<TERM::TermParams>([](auto& p) { p.set_traceLevel(5); }),
     "80 02 02 01 05"},
    // Enumerations with explicit values travel as the value in 0..max.
    {"Payload ptR2S", enumeration<TERM::Payload>(TERM::Payload::ptR2S), "F6"},
    {"Payload ptG711-Alaw", enumeration<TERM::Payload>(TERM::Payload::ptG711_Alaw), "00"},
    {"IpQoSDSCP ef", enumeration<TERM::IpQoSDSCP>(TERM::IpQoSDSCP::ef), "B8"},
    {"IpQoSDSCP cs7", enumeration<TERM::IpQoSDSCP>(TERM::IpQoSDSCP::cs7), "E0"},
    {"IpQoSDSCP count", enumeration<TERM::IpQoSDSCP>(TERM::IpQoSDSCP::count), "5C"},
    {"ED137CauseCode 2000",
     enumeration<TERM::ED137CauseCode>(TERM::ED137CauseCode::radio_session_pre_emption), "00 07 D0"},
    {"ED137CallPriority emergency", enumeration<TERM::ED137CallPriority>(TERM::ED137CallPriority::emergency),
     "10"},
    {"ProtoLemzMsgID gw-get-id", enumeration<LEMZGW::ProtoLemzMsgID>(LEMZGW::ProtoLemzMsgID::gw_get_id),
     "00 10 01"},
    {"ProtoLemzMsgID ali-server-p1",
     enumeration<LEMZGW::ProtoLemzMsgID>(LEMZGW::ProtoLemzMsgID::ali_server_p1), "00 33 00"},
    {"ProtoLemzAnalogGainIDV1 fake",
     enumeration<LEMZGW::ProtoLemzAnalogGainIDV1>(LEMZGW::ProtoLemzAnalogGainIDV1::fake), "00 FF"},
    {"ProtoLemzAnalogGainIDV1 min",
     enumeration<LEMZGW::ProtoLemzAnalogGainIDV1>(LEMZGW::ProtoLemzAnalogGainIDV1::min), "00 00"},
    {"StandbyState active", enumeration<HSP::StandbyState>(HSP::StandbyState::active), "40"},
    // Values outside their constraints have no encoding.
    {"TrunkParams timeslot 32", with<LGCP::TrunkParams>([](auto& p) { p.set_timeslot(32); }), "FAIL"},
    {"AtsQsigBParams subslot 0", with<LGCP::AtsQsigBParams>([](auto& p) { p.set_subslot(0); }), "FAIL"},
    {"TonecCode dtmf 128", with<LGCP::TonecCode>([](auto& t) { t.select_dtmf(128); }), "FAIL"},
    {"PDU without alternative", own(message(1, 1)), "FAIL"},
};

TEST(Wire, EncodesAndDecodesByteForByteAndEveryPrefix)
{
    for (Case const& c : cases) {
        SCOPED_TRACE(c.what);
        if (std::string(c.octets) == "FAIL")
            EXPECT_EQ("FAIL", encodeHex(*c.value));
        else
            asn1test::expectWire(*c.value, c.octets);
    }
}

// Octets that a message decoder must refuse as a whole.
TEST(Wire, RejectsWhatTheTypesDoNotAllow)
{
    struct Bad {
        char const *what, *octets;
    };
    Bad const table[] = {
        {"fourth PDU alternative", "30"},
        {"Command alternative beyond protoLemz", "08 F0 01 00"},
    };
    for (Bad const& b : table) {
        SCOPED_TRACE(b.what);
        LGCP::Message m;
        EXPECT_FALSE(decodeInto(bytes(b.octets), m));
    }
}

} // namespace
