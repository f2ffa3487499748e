// Whole messages in value notation, as operators read them in the logs.
#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "messages/mon/MON.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>

namespace
{

LGCP::Message rtpCreate()
{
    LGCP::Message m;
    m.set_slot(1023);
    LGCP::CreateRtpParams& p = m.set_pdu().select_command().select_create().select_rtp();
    TERM::RtpParams& rtp = p.set_codecRTP();
    rtp.set_payload(TERM::Payload::ptR2S);
    rtp.set_ssrc(4294967295u);
    rtp.set_qos_dscp(TERM::IpQoSDSCP::ef);
    rtp.set_dhost().set_iaddr("10.0.0.1");
    rtp.ref_dhost().set_port(65535);
    p.set_txPayload(TERM::Payload::ptG729);
    p.set_rxPayload(TERM::Payload::ptG711_Alaw);
    return m;
}

LGCP::Message tonecDone()
{
    LGCP::Message m;
    m.set_slot(9);
    LGCP::TonecEvent& ev = m.set_pdu().select_signal().select_tonec();
    ev.set_timestamp(1000);
    ev.set_event().select_dtmfDone();
    return m;
}

LGCP::Message userData()
{
    LGCP::Message m;
    m.set_pdu().select_signal(
        LGCP::Signal(LGCP::Signal::userData::value, std::vector<char>{'\xa0', 1, '\xff'}));
    return m;
}

struct Golden {
    char const* what;
    std::function<LGCP::Message()> build;
    char const* text;
};

Golden const goldens[] = {
    {"create rtp", rtpCreate,
     "{\n  slot 1023,\n  pdu command : create : rtp : {\n    codecRTP {\n      payload ptR2S,\n"
     "      dhost {\n        iaddr \"10.0.0.1\",\n        port 65535\n      },\n      ssrc 4294967295,\n"
     "      qos-dscp ef\n    },\n    txPayload ptG729,\n    rxPayload ptG711-Alaw\n  }\n}"},
    {"tonec dtmfDone", tonecDone,
     "{\n  slot 9,\n  pdu signal : tonec : {\n    timestamp 1000,\n    event dtmfDone : NULL\n  }\n}"},
    {"userData", userData, "{\n  pdu signal : userData : 'a0 01 ff'H\n}"},
};

TEST(Print, WholeMessages)
{
    for (Golden const& g : goldens) {
        SCOPED_TRACE(g.what);
        std::ostringstream out;
        out << g.build();
        EXPECT_TRUE(out.good());
        EXPECT_EQ(g.text, out.str());
    }
}

TEST(Print, EnumerationsNameTheirValue)
{
    struct Row {
        ASN1::EnumInfo const* info;
        int value;
        char const* text;
    };
    // Named values print as their name and read back (AllTypes.EveryEnumeratorRoundTrips); these
    // are values without a name of their own, and an alias that prints as its first name.
    // Below 0 nothing is looked up, so the one negative enumerator prints as its number.
    Row const table[] = {
        {&LGCP::ErrorCause::theInfo, 13, "13"},
        {&TERM::IpQoSDSCP::theInfo, 9, "9"},
        {&LEMZGW::ProtoLemzAnalogGainIDV1::theInfo, 10, "rsh"},
        {&HSP::StandbyCommand::theInfo, 4, "4"},
        {&TERM::RadioStandby::theInfo, -1, "-1"},
    };
    for (Row const& row : table) {
        std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(row.info));
        static_cast<ASN1::ENUMERATED&>(*v).setFromInt(row.value);
        std::ostringstream out;
        out << *v;
        EXPECT_EQ(row.text, out.str()) << row.value;
    }
}

} // namespace
