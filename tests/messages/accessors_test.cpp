// The generated accessors: presence, selection, the value object an omitted field
// keeps, copies that own their fields, and the dynamic type of runtime-built values.
#include "asn1/asn1.hpp"
#include "messages/acp/ACP.hpp"
#include "messages/base/BASE.hpp"
#include "messages/hsp/HSP.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "messages/mon/MON.hpp"
#include "messages/term/TERM.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

TEST(Accessors, NewMessage) {
  LGCP::Message m;
  EXPECT_FALSE(m.seq_isPresent());
  EXPECT_FALSE(m.slot_isPresent());
  EXPECT_EQ(-1, m.get_pdu().currentSelection());
  EXPECT_EQ(nullptr, m.getField(0));
  EXPECT_EQ(nullptr, m.getField(1));
}

TEST(Accessors, OmittedFieldKeepsItsValueObject) {
  LGCP::Message m;
  m.set_slot(5);
  EXPECT_TRUE(m.slot_isPresent());
  ASN1::AbstractData const* object = m.getField(1);
  m.omit_slot();
  EXPECT_FALSE(m.slot_isPresent());
  EXPECT_EQ(object, m.getField(1));
  m.set_slot();
  EXPECT_TRUE(m.slot_isPresent());
  EXPECT_EQ(object, m.getField(1));
  EXPECT_EQ(5u, m.get_slot().getValue());
}

TEST(Accessors, SettersStoreWithoutChecking) {
  LGCP::Message m;
  m.set_slot(2000);
  EXPECT_EQ(2000u, m.get_slot().getValue());
  m.set_seq(-7);
  EXPECT_EQ(-7, m.get_seq().getValue());
  TERM::RtpParams p;
  p.set_ssrc(4294967295u);
  EXPECT_EQ(4294967295u, p.get_ssrc().getValue());
}

TEST(Accessors, SelectReplacesTheAlternative) {
  LGCP::Response r;
  r.select_success();
  EXPECT_TRUE(r.success_isSelected());
  r.select_error(LGCP::ErrorCause::slotIdBusy);
  EXPECT_TRUE(r.error_isSelected());
  EXPECT_FALSE(r.success_isSelected());
  EXPECT_EQ(1, r.currentSelection());
  EXPECT_EQ(LGCP::ErrorCause::slotIdBusy, static_cast<LGCP::ErrorCause::NamedNumber>(r.get_error()));
  EXPECT_EQ(&LGCP::ErrorCause::theInfo, r.getSelection()->info());
}

TEST(Accessors, AlternativeConstructorCopiesItsArgument) {
  LGCP::TonecEvent ev;
  ev.set_timestamp(77);
  ev.set_event().select_tone_presence().set_freq(2100);
  LGCP::Signal s(LGCP::Signal::tonec::value, ev);
  EXPECT_EQ(1, s.currentSelection());
  EXPECT_TRUE(s.tonec_isSelected());
  EXPECT_EQ(0, s.get_tonec().compare(ev));
  EXPECT_NE(static_cast<ASN1::AbstractData const*>(&ev), &s.get_tonec());
  ev.set_timestamp(78);
  EXPECT_EQ(77, s.get_tonec().get_timestamp().getValue());

  // One constructor per argument kind.
  struct Row {
    LGCP::Signal signal;
    int index;
  };
  Row const table[] = {
      {LGCP::Signal(LGCP::Signal::number::value, std::string("123")), 2},
      {LGCP::Signal(LGCP::Signal::activated::value, ASN1::Null()), 5},
      {LGCP::Signal(LGCP::Signal::deactivated::value, LGCP::DeactivateCause::otherError), 6},
      {LGCP::Signal(LGCP::Signal::abort::value, -3), 7},
      {LGCP::Signal(LGCP::Signal::userData::value, std::vector<char>{1, 2}), 8},
  };
  for (Row const& row : table) EXPECT_EQ(row.index, row.signal.currentSelection());
  EXPECT_EQ("123", static_cast<std::string const&>(table[0].signal.get_number()));
  EXPECT_EQ(LGCP::DeactivateCause::otherError,
            static_cast<LGCP::DeactivateCause::NamedNumber>(table[2].signal.get_deactivated()));
  EXPECT_EQ(-3, table[3].signal.get_abort().getValue());
  EXPECT_EQ(2u, table[4].signal.get_userData().size());

  LGCP::IoctlResponse bsn(LGCP::IoctlResponse::ss7BSN::value, 41);
  EXPECT_EQ(3, bsn.currentSelection());
  EXPECT_EQ(41, bsn.get_ss7BSN().getValue());
}

TEST(Accessors, CloneOwnsSeparateFields) {
  LGCP::MixerResources_subtype a;
  a.set_unit(3);
  a.set_dpu_per_lms(9);
  std::unique_ptr<LGCP::MixerResources_subtype> b(a.clone());
  EXPECT_EQ(0, a.compare(*b));
  EXPECT_NE(a.getField(0), b->getField(0));
  b->set_unit(4);
  EXPECT_EQ(3, a.get_unit().getValue());
  EXPECT_NE(0, a.compare(*b));
}

TEST(Accessors, CopyAndAssignmentAreDeep) {
  LGCP::Message a;
  a.set_seq(1);
  a.set_pdu().select_command().select_ping();
  LGCP::Message b(a);
  EXPECT_EQ(0, a.compare(b));
  b.set_pdu().select_response().select_success();
  EXPECT_TRUE(a.get_pdu().command_isSelected());
  LGCP::Message c;
  c = b;
  EXPECT_TRUE(c.get_pdu().response_isSelected());
  EXPECT_EQ(&LGCP::Message::theInfo, c.info());
}

TEST(Accessors, EnumerationMembers) {
  LGCP::POWERStatus p;
  EXPECT_EQ(0, p.asInt());
  p.set_both();
  EXPECT_TRUE(p.is_both());
  EXPECT_FALSE(p.is_main());
  p = LGCP::POWERStatus::standby;
  EXPECT_TRUE(p.is_standby());
  EXPECT_EQ(LGCP::POWERStatus::standby, static_cast<LGCP::POWERStatus::NamedNumber>(p));
  HSP::ControllerStatus s(HSP::ControllerStatus::active);
  EXPECT_EQ(2, s.asInt());
  s.set_unknown();
  EXPECT_TRUE(s.is_unknown());
  LGCP::IsdnLinkStatus l;
  l.set_congested();
  EXPECT_EQ(1, l.asInt());
  // Explicit values: the member stores the value, not the position.
  TERM::IpQoSDSCP q;
  q.set_cs1();
  EXPECT_EQ(8, q.asInt());
  LEMZGW::ProtoLemzAnalogGainIDV1 g;
  g.set_max();
  EXPECT_TRUE(g.is_rsh());
}

// Fields and alternatives that the runtime creates from descriptors (decoding,
// select_ without value, mandatory fields) are objects of their generated class.
TEST(Accessors, RuntimeBuiltValuesHaveTheirGeneratedClass) {
  LGCP::Message m;
  m.set_pdu().select_signal().select_tonec().set_event().select_tone_presence();
  EXPECT_NE(nullptr, dynamic_cast<LGCP::PDU const*>(m.getField(2)));
  EXPECT_NE(nullptr, dynamic_cast<LGCP::Signal const*>(m.get_pdu().getSelection()));
  std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(&ACP::TrunkStatus::theInfo));
  EXPECT_NE(nullptr, dynamic_cast<ACP::TrunkStatus*>(made.get()));
  TERM::MdmAccounting acct;
  EXPECT_NE(nullptr, dynamic_cast<BASE::INTEGER64Bits const*>(acct.getField(0)));

  std::vector<char> octets;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  ASSERT_TRUE(ASN1::encode(m.get_pdu(), &env, std::back_inserter(octets)));
  LGCP::PDU decoded;
  ASSERT_TRUE(ASN1::decode(octets.data(), octets.data() + octets.size(), &env, decoded, true));
  LGCP::Signal const* signal = dynamic_cast<LGCP::Signal const*>(decoded.getSelection());
  ASSERT_NE(nullptr, signal);
  EXPECT_NE(nullptr, dynamic_cast<LGCP::TonecEvent const*>(signal->getSelection()));
}

TEST(Accessors, ListsAreFilledInPlace) {
  LGCP::Resources r;
  r.set_echoBus().push_back(ASN1::INTEGER(4, &ASN1::INTEGER::theInfo));
  r.set_mixer().resize(2);
  r.ref_mixer()[1].set_unit(6);
  r.omit_drvVersion();
  EXPECT_FALSE(r.drvVersion_isPresent());
  EXPECT_EQ(1u, r.get_echoBus().size());
  EXPECT_EQ(6, r.get_mixer()[1].get_unit().getValue());
  MON::SnmpSetCommands cmds;
  cmds.ref_commands().resize(1);
  cmds.ref_commands()[0].set_id().select_name().set_section("s");
  EXPECT_TRUE(cmds.get_commands()[0].get_id().name_isSelected());
}

}  // namespace

namespace {

TEST(Accessors, DefaultsOfOtherModules) {
  TERM::MdmAccounting acct;
  for (unsigned i = 0; i < 5; ++i) {
    auto const& counter = static_cast<BASE::INTEGER64Bits const&>(*acct.getField(i));
    EXPECT_EQ(0, counter.get_low().getValue());
    EXPECT_EQ(0, counter.get_high().getValue());
  }
  BASE::INTEGER64Bits big;
  big.set_low(-1);
  big.set_high(0);
  EXPECT_EQ(-1, big.get_low().getValue());
  // An AcpResult holds both of its mandatory fields from the start.
  ACP::AcpResult result;
  EXPECT_NE(nullptr, result.getField(0));
  EXPECT_NE(nullptr, result.getField(1));
  // Empty lists are valid values and encode.
  LEMZGW::ProtoLemzPackets packets;
  LGCP::TranslateDtmfParams digits;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
  std::vector<char> out;
  EXPECT_TRUE(ASN1::encode(packets, &env, std::back_inserter(out)));
  EXPECT_TRUE(ASN1::encode(digits, &env, std::back_inserter(out)));
}

}  // namespace

namespace {

// Alternatives named like members of the runtime base keep those members reachable.
TEST(Accessors, AlternativeNamedLikeABaseMember) {
  TERM::TermSignal s(TERM::TermSignal::info::value, TERM::TermInformation());
  EXPECT_EQ(&TERM::TermSignal::theInfo, s.info());
  EXPECT_TRUE(s.info_isSelected());
  EXPECT_EQ(4, LGCP::Command::create::value);
  std::unique_ptr<ASN1::AbstractData> made(LGCP::Command::create(&LGCP::Command::theInfo));
  EXPECT_EQ(&LGCP::Command::theInfo, made->info());
}

}  // namespace
