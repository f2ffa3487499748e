// The radio-control conversions: every field of a radio state through the
// TERM types and back, and through aligned PER.
#include "radio/radio_control.hpp"

#include <functional>

#include <gtest/gtest.h>

#include "asn1/asn1.hpp"

namespace
{

using namespace RTPSignalling;

// The request through aligned PER and back; false when it cannot be coded.
bool travels(TERM::RtpRadioRequest& request)
{
    std::vector<char> octets;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (!env.encodePERInto(request, octets))
        return false;
    TERM::RtpRadioRequest back;
    return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, back, true) && back == request;
}

TEST(LemzRadioControl, EveryFieldRoundTrips)
{
    LemzRadioState base;
    base.sessionAddr = "10.0.0.1";
    base.frequency = "118.000";
    struct Row {
        const char* field;
        std::function<void(LemzRadioState&)> change;
        int alternative; // of LemzRadioModifierParams
    };
    enum { flags = 13, trans, quality, chan, selcall, remote, standby };
    const Row rows[] = {
        {"prio", [](LemzRadioState& s) { s.flags.prio = -7; }, flags},
        {"ptt", [](LemzRadioState& s) { s.flags.ptt = true; }, trans},
        {"bss", [](LemzRadioState& s) { s.flags.bss = true; }, flags},
        {"vad-rx", [](LemzRadioState& s) { s.flags.vadRx = true; }, flags},
        {"vad-tx", [](LemzRadioState& s) { s.flags.vadTx = true; }, flags},
        {"sql", [](LemzRadioState& s) { s.flags.sql = true; }, flags},
        {"sh", [](LemzRadioState& s) { s.flags.sh = true; }, flags},
        {"pwr", [](LemzRadioState& s) { s.flags.pwr = true; }, flags},
        {"rv", [](LemzRadioState& s) { s.flags.rv = true; }, flags},
        {"resv", [](LemzRadioState& s) { s.flags.resv = true; }, flags},
        {"selcall", [](LemzRadioState& s) { s.flags.selcall = 3; }, selcall},
        {"li", [](LemzRadioState& s) { s.flags.li = 511; }, flags},
        {"channel", [](LemzRadioState& s) { s.channel = 42; }, chan},
        {"frequency", [](LemzRadioState& s) { s.frequency = "121.500"; }, chan},
        {"remote no", [](LemzRadioState& s) { s.remoteNo = 255; }, remote},
        {"remote ch", [](LemzRadioState& s) { s.remoteCh = 7; }, remote},
        {"squelshe", [](LemzRadioState& s) { s.squelshe = TERM::RadioSquelshe::on; }, chan},
        {"rte", [](LemzRadioState& s) { s.rte = TERM::RadioRTE::j3e; }, chan},
        {"standby channel", [](LemzRadioState& s) { s.standbyChannel = TERM::RadioStandby::standby; },
         standby},
        {"standby group", [](LemzRadioState& s) { s.standbyGroup = 200; }, standby},
        {"standby receiver", [](LemzRadioState& s) { s.standbyReceiver = TERM::RadioStandby::standby; },
         standby},
        {"not-use", [](LemzRadioState& s) { s.standbyReceiver = TERM::RadioStandby::not_use; }, standby},
        {"cid", [](LemzRadioState& s) { s.cid = "A1"; }, selcall},
        {"ip", [](LemzRadioState& s) { s.ip = "10.1.1.1"; }, trans},
        {"ssrc", [](LemzRadioState& s) { s.ssrc = 4294967295u; }, trans},
        {"quality", [](LemzRadioState& s) { s.bssVal = "17"; }, quality},
        {"session", [](LemzRadioState& s) { s.sessionAddr = "10.9.9.9", s.sessionSsrc = 9, s.channel = 1; },
         chan},
    };
    for (const Row& r : rows) {
        LemzRadioState to = base;
        r.change(to);
        TERM::RtpRadioRequest request;
        LemzRadioControl::EncodeStatusASN(to, request);
        LemzRadioState back = base;
        LemzRadioControl::DecodeASN(request.get_status().get_lemz(), back);
        LemzRadioState status = to; // the status leaves out the session and the calling party
        status.sessionAddr = base.sessionAddr, status.sessionSsrc = base.sessionSsrc;
        status.ip = base.ip, status.ssrc = base.ssrc, status.cid = base.cid, status.bssVal = base.bssVal;
        EXPECT_TRUE(back == status) << r.field;
        ASSERT_TRUE(LemzRadioControl::EncodeASN(base, to, request)) << r.field;
        EXPECT_EQ(request.get_request().get_lemz().get_params().currentSelection(), r.alternative) << r.field;
        back = base;
        LemzRadioControl::DecodeASN(request.get_request().get_lemz(), back);
        EXPECT_TRUE(back == to) << r.field;
        // not-use lies outside what aligned PER carries: refused whole.
        EXPECT_EQ(travels(request), std::string(r.field) != "not-use") << r.field;
    }
    TERM::RtpRadioRequest untouched;
    EXPECT_FALSE(LemzRadioControl::EncodeASN(base, base, untouched));
    EXPECT_FALSE(untouched.request_isPresent());
}

TEST(ED137RadioControl, EveryFieldRoundTrips)
{
    ED137RadioState base;
    base.sqiValid = true;
    struct Row {
        const char* field;
        std::function<void(ED137RadioState&)> change;
        bool tx;
    };
    const Row rows[] = {
        {"ptt", [](ED137RadioState& s) { s.ptt = TERM::ED137RadioPTT::emergency_ptt_on; }, true},
        {"squ", [](ED137RadioState& s) { s.squ = TERM::ED137RadioSQU::squ_on; }, false},
        {"ptt-id", [](ED137RadioState& s) { s.pttId = 63; }, false},
        {"ptt-mute", [](ED137RadioState& s) { s.pttMute = true; }, false},
        {"ptt-summation", [](ED137RadioState& s) { s.pttSummation = true; }, false},
        {"sct", [](ED137RadioState& s) { s.sct = true; }, false},
        {"bss method", [](ED137RadioState& s) { s.bssMethod = TERM::ED137RadioBSSMethod::psd; }, false},
        {"bss quality", [](ED137RadioState& s) { s.bssQuality = 31; }, false},
        {"no sqi", [](ED137RadioState& s) { s.sqiValid = false; }, false},
        {"session", [](ED137RadioState& s) { s.sessionAddr = "10.0.0.2", s.sessionSsrc = 4294967295u; },
         false},
    };
    for (const Row& r : rows) {
        ED137RadioState to = base;
        r.change(to);
        TERM::RtpRadioRequest request;
        ED137RadioControl::EncodeStatusASN(to, request);
        EXPECT_FALSE(request.get_status().get_ed_137().radio_response_isPresent());
        ED137RadioState back = base;
        back.DecodeASN(request.get_status().get_ed_137());
        ED137RadioState status = to; // the status always carries the quality
        status.sqiValid = true, status.sessionAddr = base.sessionAddr, status.sessionSsrc = base.sessionSsrc;
        EXPECT_TRUE(back == status) << r.field;
        ED137RadioControl::EncodeASN(base, to, request);
        EXPECT_EQ(request.get_request().get_ed_137().get_params().tx_isSelected(), r.tx) << r.field;
        back = base;
        back.DecodeASN(request.get_request().get_ed_137());
        EXPECT_TRUE(back == to) << r.field;
        EXPECT_TRUE(travels(request)) << r.field;
    }
}

TEST(ED137RadioParams, InitTakesTheGivenFieldsAndKeepsTheOthers)
{
    TERM::ED137RadioResponse r;
    r.set_type(TERM::ED137RadioType::coupling), r.set_txrxmode(TERM::ED137RadioTxRxMode::rx);
    ED137RadioParams p;
    p.Init(r);
    EXPECT_EQ(std::vector<int>({p.type, p.txrxmode, p.sigtime, p.keepalivePeriod}),
              std::vector<int>({4, 1, -1, -1}));
    r.set_sigtime(50), r.set_r2s_keepalive_period(1000), r.set_r2s_keepalive_multiplier(2);
    r.set_transmission_depend_on_squ(true);
    p.Init(r);
    EXPECT_EQ(
        std::vector<int>({p.sigtime, p.keepalivePeriod, p.keepaliveMultiplier, p.transmissionDependOnSQU}),
        std::vector<int>({50, 1000, 2, 1}));
}

} // namespace
