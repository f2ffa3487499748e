// Whole messages of the controller link: every published vector round-trips byte for
// byte, and the decoder's failure rules hold on the message family.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <type_traits>

namespace
{

using asn1test::bytes;
using asn1test::decodeInto;
using asn1test::encodeHex;
using asn1test::hex;

struct MessageCase {
    char const* name;
    std::function<void(TM::Message&)> build;
    char const* octets;
};

using C = TM::Command;
using R = TM::Response;
using S = TM::Signal;
int const none = -1000; // seq or slot absent

// A message with seq and slot (when not `none`) around one command, response or signal.
template <class Alt> std::function<void(TM::Message&)> with(int seq, int slot, void (*fill)(Alt&))
{
    return [=](TM::Message& m) {
        if (seq != none)
            m.set_seq(seq);
        if (slot != none)
            m.set_slot(static_cast<unsigned>(slot));
        if constexpr (std::is_same<Alt, C>::value)
            fill(m.set_pdu().select_command());
        else if constexpr (std::is_same<Alt, R>::value)
            fill(m.set_pdu().select_response());
        else
            fill(m.set_pdu().select_signal());
    };
}

std::vector<MessageCase> const& messageCases()
{
    static std::vector<MessageCase> const cases = {
        {"seq 5, slot 7, ping", with<C>(5, 7, [](C& c) { c.select_ping(); }), "C0 01 05 00 07 18"},
        {"query without seq and slot", with<C>(none, none, [](C& c) { c.select_query(); }), "00 00"},
        // An extension alternative: bit 1, small(0), the NULL as an open type 01 00.
        {"slot 7, signal tonec dtmfDone",
         with<S>(none, 7,
                 [](S& s) {
                     TM::TonecEvent& ev = s.select_tonec();
                     ev.set_timestamp(0);
                     ev.set_event().select_dtmfDone();
                 }),
         "40 00 07 81 01 00 80 01 00"},
        // ext 0, index 000, then 7 bits 1111111
        {"slot 7, signal tonec dtmf 127",
         with<S>(none, 7,
                 [](S& s) {
                     TM::TonecEvent& ev = s.select_tonec();
                     ev.set_timestamp(1000);
                     ev.set_event().select_dtmf(127);
                 }),
         "40 00 07 81 02 03 E8 0F E0"},
        // 00 10 0 00001 | 01 FF | 0 101 (tone-presence) 0 (no extension) | 02 01 B8 | 1
        {"signal tone-presence",
         with<S>(none, none,
                 [](S& s) {
                     TM::TonecEvent& ev = s.select_tonec();
                     ev.set_timestamp(-1);
                     TM::TonePresence& tp = ev.set_event().select_tone_presence();
                     tp.set_freq(440);
                     tp.set_presence(true);
                 }),
         "20 40 01 FF 50 02 01 B8 80"},
        // 00 10 0 00111 -> 21 C0; length 02, FF 7F
        {"signal abort -129", with<S>(none, none, [](S& s) { s.select_abort(-129); }), "21 C0 02 FF 7F"},
        {"signal number", with<S>(none, none, [](S& s) { s.select_number("123"); }), "20 80 03 31 32 33"},
        // 00 00 0 1000 + align, length 01 aligned, the octet
        {"userData of one octet",
         with<C>(none, none, [](C& c) { c.select_userData() = std::vector<char>{'\x7f'}; }), "04 00 01 7F"},
        // 10 | 01 2A | 00 0 1011 + 10 (line) + 1 (enabled) -> 0001 0111 01 then align, 01 02
        {"clockCfg",
         with<C>(42, none,
                 [](C& c) {
                     TM::ClockCfg& cfg = c.select_clockCfg();
                     cfg.set_clkSel0() = TM::ClkSel::line;
                     cfg.set_bextEn() = TM::BExtEn::enabled;
                     cfg.set_source(2);
                 }),
         "80 01 2A 17 40 01 02"},
    };
    return cases;
}

TEST(PerMessages, EncodeDecodeRoundTripAndEveryPrefix)
{
    for (MessageCase const& c : messageCases()) {
        SCOPED_TRACE(c.name);
        TM::Message message;
        c.build(message);
        asn1test::expectWire(message, c.octets);
    }
}

TEST(PerMessages, DecoderKeepsWhatItsUserChecks)
{
    // A value above the slot range is stored as read; its user checks it.
    TM::Message high;
    ASSERT_TRUE(decodeInto(bytes("C0 01 05 FF FF 18"), high));
    EXPECT_EQ(high.get_slot().getValue(), 65535u);

    // Octets after a complete message are ignored.
    TM::Message extra;
    ASSERT_TRUE(decodeInto(bytes("80 01 05 18 FF FF FF"), extra));
    EXPECT_EQ(encodeHex(extra), "80 01 05 18");
}

struct BadInput {
    char const* name;
    char const* octets;
};

TEST(PerMessages, MalformedInputFailsAsAWhole)
{
    BadInput const cases[] = {
        {"empty input", ""},
        {"connect cut inside its 16 bits", "80 01 05 04"},
        {"connect cut after one of its octets", "80 01 05 04 01"},
        {"PDU index 3 of 3 alternatives", "30"},
        {"TonecCode root index 6 of 6", "40 00 07 81 01 00 60"},
        {"unknown Command extension alternative", "80 01 05 20 00 01 00"},
        {"unknown TonecCode extension alternative", "40 00 07 81 01 00 81 01 00"},
        {"open type longer than the input", "40 00 07 81 01 00 80 05 00"},
        {"seq length in the fragmented form", "80 C0 05 18"},
        {"seq of five octets", "80 05 00 00 00 00 05 18"},
        {"ErrorCause extension with a zero count", "1C 00"},
        {"ErrorCause extension cut", "1C"},
    };
    for (BadInput const& c : cases) {
        SCOPED_TRACE(c.name);
        TM::Message m;
        EXPECT_FALSE(decodeInto(bytes(c.octets), m));
    }
}

TEST(PerMessages, EncoderRefusesWhatItCannotWrite)
{
    // A negative enumeration value has no wire form.
    struct Row {
        char const* name;
        std::function<void(TM::Message&)> build;
    } const table[] = {
        {"no PDU", [](TM::Message& m) { m.set_seq(1); }},
        {"slot 1024", with<C>(none, 1024, [](C& c) { c.select_ping(); })},
        {"connect 1024", with<C>(none, none, [](C& c) { c.select_connect(1024); })},
        {"ErrorCause -1", with<R>(none, none,
                                  [](R& r) {
                                      r.select_error(TM::ErrorCause::invalidParams);
                                      const_cast<TM::ErrorCause&>(r.get_error()).setFromInt(-1);
                                  })},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        TM::Message m;
        row.build(m);
        ASN1::CoderEnv env;
        std::vector<char> out{'x'}; // a failed encode writes nothing
        EXPECT_FALSE(ASN1::encode(m, &env, std::back_inserter(out)));
        EXPECT_EQ(out, std::vector<char>{'x'});
    }
}

TEST(PerMessages, OtherRulesAreRefused)
{
    TM::Message m;
    m.set_pdu().select_command().select_ping();
    ASN1::CoderEnv env;
    EXPECT_EQ(env.get_encodingRule(), ASN1::CoderEnv::per_Aligned);
    std::vector<char> out;
    // A BER encoding that fails half-way (a CHOICE without selection) writes nothing.
    env.set_encodingRule(ASN1::CoderEnv::ber);
    TM::Message unselected;
    unselected.set_seq(1);
    EXPECT_FALSE(ASN1::encode(unselected, &env, std::back_inserter(out)));
    env.set_encodingRule(static_cast<ASN1::CoderEnv::EncodingRules>(3));
    EXPECT_FALSE(ASN1::encode(m, &env, std::back_inserter(out)));
    EXPECT_TRUE(out.empty());
    std::vector<char> octets = bytes("00 00");
    EXPECT_FALSE(ASN1::decode(octets.data(), octets.data() + octets.size(), &env, m, true));
    env.set_encodingRule(ASN1::CoderEnv::avn);
    EXPECT_TRUE(ASN1::encode(m, &env, std::back_inserter(out)));
    EXPECT_EQ(std::string(out.begin(), out.end()), "{\n  pdu command : ping : NULL\n}");
}

} // namespace
