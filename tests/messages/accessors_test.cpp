// The generated accessors: selection, alternative constructors whose alternative holds
// its own copy, enumeration members, and the dynamic type of runtime-built values.
#include "messages/acp/ACP.hpp"
#include "messages/base/BASE.hpp"
#include "messages/hsp/HSP.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "messages/term/TERM.hpp"
#include "tests/asn1/helpers.hpp"

#include <gtest/gtest.h>

namespace
{

TEST(Accessors, SelectionAndAlternativeConstructors)
{
    LGCP::Response r;
    r.select_success();
    r.select_error(LGCP::ErrorCause::slotIdBusy);
    EXPECT_FALSE(r.success_isSelected());
    EXPECT_EQ(LGCP::ErrorCause::slotIdBusy, static_cast<LGCP::ErrorCause::NamedNumber>(r.get_error()));
    EXPECT_EQ(&LGCP::ErrorCause::theInfo, r.getSelection()->info());

    LGCP::TonecEvent ev;
    ev.set_timestamp(77);
    LGCP::Signal s(LGCP::Signal::tonec::value, ev);
    ev.set_timestamp(78); // the alternative holds a copy
    EXPECT_TRUE(s.tonec_isSelected());
    EXPECT_EQ(77, s.get_tonec().get_timestamp().getValue());
    // One constructor per argument kind.
    struct Row {
        LGCP::Signal signal;
        int index;
        char const* text;
    } const table[] = {
        {LGCP::Signal(LGCP::Signal::number::value, std::string("123")), 2, "number : \"123\""},
        {LGCP::Signal(LGCP::Signal::activated::value, ASN1::Null()), 5, "activated : NULL"},
        {LGCP::Signal(LGCP::Signal::deactivated::value, LGCP::DeactivateCause::otherError), 6,
         "deactivated : otherError"},
        {LGCP::Signal(LGCP::Signal::abort::value, -3), 7, "abort : -3"},
        {LGCP::Signal(LGCP::Signal::userData::value, std::vector<char>{1, 2}), 8, "userData : '01 02'H"},
    };
    for (Row const& row : table) {
        EXPECT_EQ(row.index, row.signal.currentSelection());
        EXPECT_EQ(row.text, row.signal.asValueNotation());
    }
    LGCP::IoctlResponse bsn(LGCP::IoctlResponse::ss7BSN::value, 41);
    EXPECT_EQ(41, bsn.get_ss7BSN().getValue());
}

TEST(Accessors, EnumerationMembers)
{
    LGCP::POWERStatus p;
    p.set_both();
    EXPECT_TRUE(p.is_both() && !p.is_main());
    // Explicit values: the member stores the value, not the position.
    TERM::IpQoSDSCP q;
    q.set_cs1();
    EXPECT_EQ(8, q.asInt());
    LEMZGW::ProtoLemzAnalogGainIDV1 g;
    g.set_max();
    EXPECT_TRUE(g.is_rsh());
}

// Fields and alternatives that the runtime creates from descriptors (decoding,
// select_ without value, mandatory fields, other modules' types) are objects of
// their generated class.
TEST(Accessors, RuntimeBuiltValuesHaveTheirGeneratedClass)
{
    LGCP::Message m;
    m.set_pdu().select_signal().select_tonec().set_event().select_tone_presence();
    EXPECT_NE(nullptr, dynamic_cast<LGCP::PDU const*>(m.getField(2)));
    EXPECT_NE(nullptr, dynamic_cast<LGCP::Signal const*>(m.get_pdu().getSelection()));
    std::unique_ptr<ASN1::AbstractData> made(ASN1::AbstractData::create(&ACP::TrunkStatus::theInfo));
    EXPECT_NE(nullptr, dynamic_cast<ACP::TrunkStatus*>(made.get()));
    TERM::MdmAccounting acct;
    for (unsigned i = 0; i < 5; ++i) {
        auto const* counter = dynamic_cast<BASE::INTEGER64Bits const*>(acct.getField(i));
        ASSERT_NE(nullptr, counter);
        EXPECT_EQ(0, counter->get_low().getValue());
    }
    ACP::AcpResult result; // both mandatory fields exist from the start
    EXPECT_TRUE(result.getField(0) && result.getField(1));

    LGCP::PDU decoded;
    ASSERT_TRUE(asn1test::decodeInto(asn1test::bytes(asn1test::encodeHex(m.get_pdu())), decoded));
    LGCP::Signal const* signal = dynamic_cast<LGCP::Signal const*>(decoded.getSelection());
    ASSERT_NE(nullptr, signal);
    EXPECT_NE(nullptr, dynamic_cast<LGCP::TonecEvent const*>(signal->getSelection()));
}

// Alternatives named like members of the runtime base keep those members reachable.
TEST(Accessors, AlternativeNamedLikeABaseMember)
{
    TERM::TermSignal s(TERM::TermSignal::info::value, TERM::TermInformation());
    EXPECT_EQ(&TERM::TermSignal::theInfo, s.info());
    EXPECT_TRUE(s.info_isSelected());
    EXPECT_EQ(4, LGCP::Command::create::value);
    std::unique_ptr<ASN1::AbstractData> made(LGCP::Command::create(&LGCP::Command::theInfo));
    EXPECT_EQ(&LGCP::Command::theInfo, made->info());
}

} // namespace
