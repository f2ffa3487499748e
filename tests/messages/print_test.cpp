// Whole messages in value notation, as operators read them in the logs.
#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "messages/mon/MON.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

namespace {

LGCP::Message mixerOut() {
  LGCP::Message m;
  m.set_seq(7);
  m.set_slot(12);
  LGCP::MixerOutParams& p = m.set_pdu().select_command().select_create().select_mixerOut();
  p.set_unit(1);
  p.set_channel().select_tdm(40);
  LGCP::MixerInput in;
  in.set_channel().select_rtp(3);
  in.set_gain(-6);
  p.set_inputs().push_back(in);
  in.set_channel().select_rtp(4);
  in.set_gain(0);
  p.set_inputs().push_back(in);
  return m;
}

LGCP::Message clockCfg() {
  LGCP::Message m;
  m.set_seq(42);
  LGCP::ClockCfg& c = m.set_pdu().select_command().select_clockCfg();
  c.set_clkSel0(LGCP::ClkSel0::internal);
  c.set_bextEn(LGCP::BExtEn::disabled);
  c.set_source(2);
  return m;
}

LGCP::Message ping() {
  LGCP::Message m;
  m.set_seq(3);
  m.set_pdu().select_command().select_ping();
  return m;
}

LGCP::Message rtpCreate() {
  LGCP::Message m;
  m.set_slot(1023);
  LGCP::CreateRtpParams& p = m.set_pdu().select_command().select_create().select_rtp();
  TERM::RtpParams& rtp = p.set_codecRTP();
  rtp.set_payload(TERM::Payload::ptR2S);
  rtp.set_dhost().set_iaddr("10.0.0.1");
  rtp.ref_dhost().set_port(65535);
  rtp.set_ssrc(4294967295u);
  rtp.set_qos_dscp(TERM::IpQoSDSCP::ef);
  p.set_txPayload(TERM::Payload::ptG729);
  p.set_rxPayload(TERM::Payload::ptG711_Alaw);
  return m;
}

LGCP::Message tonecDone() {
  LGCP::TonecEvent ev;
  ev.set_timestamp(1000);
  ev.set_event().select_dtmfDone();
  LGCP::Message m;
  m.set_slot(9);
  m.set_pdu().select_signal(LGCP::Signal(LGCP::Signal::tonec::value, ev));
  return m;
}

LGCP::Message userData() {
  LGCP::Message m;
  m.set_pdu().select_signal(LGCP::Signal(LGCP::Signal::userData::value, std::vector<char>{'\xa0', 1, '\xff'}));
  return m;
}

struct Golden {
  char const* what;
  std::function<LGCP::Message()> build;
  char const* text;
};

Golden const goldens[] = {
    {"create mixerOut", mixerOut,
     "{\n"
     "  seq 7,\n"
     "  slot 12,\n"
     "  pdu command : create : mixerOut : {\n"
     "    unit 1,\n"
     "    channel tdm : 40,\n"
     "    inputs {\n"
     "      {\n"
     "        channel rtp : 3,\n"
     "        gain -6\n"
     "      },\n"
     "      {\n"
     "        channel rtp : 4,\n"
     "        gain 0\n"
     "      }\n"
     "    }\n"
     "  }\n"
     "}"},
    {"clockCfg", clockCfg,
     "{\n"
     "  seq 42,\n"
     "  pdu command : clockCfg : {\n"
     "    clkSel0 internal,\n"
     "    bextEn disabled,\n"
     "    source 2\n"
     "  }\n"
     "}"},
    {"ping", ping,
     "{\n"
     "  seq 3,\n"
     "  pdu command : ping : NULL\n"
     "}"},
    {"create rtp", rtpCreate,
     "{\n"
     "  slot 1023,\n"
     "  pdu command : create : rtp : {\n"
     "    codecRTP {\n"
     "      payload ptR2S,\n"
     "      dhost {\n"
     "        iaddr \"10.0.0.1\",\n"
     "        port 65535\n"
     "      },\n"
     "      ssrc 4294967295,\n"
     "      qos-dscp ef\n"
     "    },\n"
     "    txPayload ptG729,\n"
     "    rxPayload ptG711-Alaw\n"
     "  }\n"
     "}"},
    {"tonec dtmfDone", tonecDone,
     "{\n"
     "  slot 9,\n"
     "  pdu signal : tonec : {\n"
     "    timestamp 1000,\n"
     "    event dtmfDone : NULL\n"
     "  }\n"
     "}"},
    {"userData", userData,
     "{\n"
     "  pdu signal : userData : 'a0 01 ff'H\n"
     "}"},
};

TEST(Print, WholeMessages) {
  for (Golden const& g : goldens) {
    SCOPED_TRACE(g.what);
    std::ostringstream out;
    out << g.build();
    EXPECT_TRUE(out.good());
    EXPECT_EQ(g.text, out.str());
  }
}

TEST(Print, MessageWithoutAlternativeFails) {
  LGCP::Message m;
  m.set_seq(1);
  std::ostringstream out;
  out << m;
  EXPECT_TRUE(out.fail());
  EXPECT_EQ("{\n  seq 1,\n  pdu ", out.str());
}

TEST(Print, EnumerationsNameTheirValue) {
  struct Row {
    ASN1::EnumInfo const* info;
    int value;
    char const* text;
  };
  Row const table[] = {
      {&LGCP::ErrorCause::theInfo, 12, "destroyInProgress"},
      {&LGCP::ErrorCause::theInfo, 13, "13"},
      {&LGCP::ErrorCause::theInfo, -1, "-1"},
      {&TERM::IpQoSDSCP::theInfo, 8, "cs1"},
      {&TERM::IpQoSDSCP::theInfo, 9, "9"},
      {&TERM::Payload::theInfo, 123, "ptR2S"},
      {&LEMZGW::ProtoLemzAnalogGainIDV1::theInfo, 0, "rtx1"},
      {&LEMZGW::ProtoLemzAnalogGainIDV1::theInfo, 10, "rsh"},
      {&LEMZGW::ProtoLemzCountersNSizes::theInfo, 2, "ggsChannelsCount"},
      {&HSP::StandbyCommand::theInfo, 4, "4"},
      // Below 0 nothing is looked up, so the one negative enumerator prints as its number.
      {&TERM::RadioStandby::theInfo, -1, "-1"},
      {&TERM::RadioStandby::theInfo, 0, "active"},
  };
  for (Row const& row : table) {
    std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(row.info));
    static_cast<ASN1::ENUMERATED&>(*v).setFromInt(row.value);
    std::ostringstream out;
    out << *v;
    EXPECT_EQ(row.text, out.str()) << row.value;
  }
}

}  // namespace
