// Whole messages of the controller link: every published vector round-trips byte for
// byte, and the decoder's failure rules hold on the message family.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <functional>

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

std::vector<MessageCase> const& messageCases()
{
    static std::vector<MessageCase> const cases = {
        {"seq 5, slot 7, ping",
         [](TM::Message& m) {
             m.set_seq(5);
             m.set_slot(7);
             m.set_pdu().select_command().select_ping();
         },
         "C0 01 05 00 07 18"},
        {"seq 5, slot 7, error invalidSlot",
         [](TM::Message& m) {
             m.set_seq(5);
             m.set_slot(7);
             m.set_pdu().select_response().select_error(TM::ErrorCause::invalidSlot);
         },
         "C0 01 05 00 07 62"},
        {"query without seq and slot", [](TM::Message& m) { m.set_pdu().select_command().select_query(); },
         "00 00"},
        {"seq 200, slot 1023, success",
         [](TM::Message& m) {
             m.set_seq(200);
             m.set_slot(1023);
             m.set_pdu().select_response().select_success();
         },
         "C0 02 00 C8 03 FF 40"},
        {"seq 5, connect 300",
         [](TM::Message& m) {
             m.set_seq(5);
             m.set_pdu().select_command().select_connect(300);
         },
         "80 01 05 04 01 2C"},
        {"seq -1, success",
         [](TM::Message& m) {
             m.set_seq(-1);
             m.set_pdu().select_response().select_success();
         },
         "80 01 FF 40"},
        {"seq 5, ping, no slot",
         [](TM::Message& m) {
             m.set_seq(5);
             m.set_pdu().select_command().select_ping();
         },
         "80 01 05 18"},
        {"seq 5, slot 3, success",
         [](TM::Message& m) {
             m.set_seq(5);
             m.set_slot(3);
             m.set_pdu().select_response().select_success();
         },
         "C0 01 05 00 03 40"},
        {"error invalidSlot alone",
         [](TM::Message& m) { m.set_pdu().select_response().select_error(TM::ErrorCause::invalidSlot); },
         "18 80"},
        {"error destroyInProgress",
         [](TM::Message& m) {
             m.set_pdu().select_response().select_error(TM::ErrorCause::destroyInProgress);
         },
         "1B 00"},
        // An extension alternative: bit 1, small(0), the NULL as an open type 01 00.
        {"slot 7, signal tonec dtmfDone",
         [](TM::Message& m) {
             m.set_slot(7);
             TM::TonecEvent& ev = m.set_pdu().select_signal().select_tonec();
             ev.set_timestamp(0);
             ev.set_event().select_dtmfDone();
         },
         "40 00 07 81 01 00 80 01 00"},
        {"slot 7, signal tonec dtmf 127",
         [](TM::Message& m) {
             m.set_slot(7);
             TM::TonecEvent& ev = m.set_pdu().select_signal().select_tonec();
             ev.set_timestamp(1000);
             ev.set_event().select_dtmf(127);
         },
         // ext 0, index 000, then 7 bits 1111111
         "40 00 07 81 02 03 E8 0F E0"},
        {"signal tone-presence",
         [](TM::Message& m) {
             TM::TonecEvent& ev = m.set_pdu().select_signal().select_tonec();
             ev.set_timestamp(-1);
             TM::TonePresence& tp = ev.set_event().select_tone_presence();
             tp.set_freq(440);
             tp.set_presence(true);
         },
         // 00 10 0 00001 | 01 FF | 0 101 (tone-presence) 0 (no extension) | 02 01 B8 | 1
         "20 40 01 FF 50 02 01 B8 80"},
        {"signal abort -129", [](TM::Message& m) { m.set_pdu().select_signal().select_abort(-129); },
         // 00 10 0 00111 -> 21 C0; length 02, FF 7F
         "21 C0 02 FF 7F"},
        {"signal number", [](TM::Message& m) { m.set_pdu().select_signal().select_number("123"); },
         "20 80 03 31 32 33"},
        {"userData of one octet",
         [](TM::Message& m) { m.set_pdu().select_command().select_userData() = std::vector<char>{'\x7f'}; },
         // 00 00 0 1000 + align, length 01 aligned, the octet
         "04 00 01 7F"},
        {"clockCfg",
         [](TM::Message& m) {
             m.set_seq(42);
             TM::ClockCfg& c = m.set_pdu().select_command().select_clockCfg();
             c.set_clkSel0() = TM::ClkSel::line;
             c.set_bextEn() = TM::BExtEn::enabled;
             c.set_source(2);
         },
         // 10 | 01 2A | 00 0 1011 + 10 (line) + 1 (enabled) -> 0001 0111 01 then align, 01 02
         "80 01 2A 17 40 01 02"},
    };
    return cases;
}

TEST(PerMessages, EncodeDecodeRoundTrip)
{
    for (MessageCase const& c : messageCases()) {
        SCOPED_TRACE(c.name);
        TM::Message message;
        c.build(message);
        EXPECT_EQ(encodeHex(message), c.octets);

        TM::Message decoded;
        ASSERT_TRUE(decodeInto(bytes(c.octets), decoded));
        EXPECT_TRUE(decoded == message);
        EXPECT_EQ(encodeHex(decoded), c.octets);
    }
}

TEST(PerMessages, EveryProperPrefixFailsOrReencodesToItself)
{
    for (MessageCase const& c : messageCases()) {
        std::vector<char> full = bytes(c.octets);
        for (std::size_t n = 0; n < full.size(); ++n) {
            SCOPED_TRACE(std::string(c.name) + " cut at " + std::to_string(n));
            std::vector<char> prefix(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
            TM::Message decoded;
            if (decodeInto(prefix, decoded)) {
                EXPECT_EQ(encodeHex(decoded), hex(prefix));
            }
        }
    }
}

TEST(PerMessages, DecodedFieldsReadBack)
{
    TM::Message m;
    ASSERT_TRUE(decodeInto(bytes("C0 01 05 00 07 18"), m));
    EXPECT_TRUE(m.seq_isPresent());
    EXPECT_EQ(m.get_seq().getValue(), 5);
    EXPECT_EQ(m.get_slot().getValue(), 7u);
    ASSERT_TRUE(m.get_pdu().command_isSelected());
    EXPECT_TRUE(m.get_pdu().get_command().ping_isSelected());

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
    TM::Message noPdu;
    EXPECT_EQ(encodeHex(noPdu), "FAIL");

    TM::Message outOfRange;
    outOfRange.set_slot(1024);
    outOfRange.set_pdu().select_command().select_ping();
    EXPECT_EQ(encodeHex(outOfRange), "FAIL");

    TM::Message badConnect;
    badConnect.set_pdu().select_command().select_connect(1024);
    EXPECT_EQ(encodeHex(badConnect), "FAIL");

    // A negative enumeration value has no wire form.
    TM::Message negative;
    TM::Response& r = negative.set_pdu().select_response();
    r.select_error(TM::ErrorCause::invalidParams);
    const_cast<TM::ErrorCause&>(r.get_error()).setFromInt(-1);
    EXPECT_EQ(encodeHex(negative), "FAIL");
}

TEST(PerMessages, FailedEncodeWritesNothingToTheOutput)
{
    TM::Message noPdu;
    noPdu.set_seq(1);
    ASN1::CoderEnv env;
    std::vector<char> out{'x'};
    EXPECT_FALSE(ASN1::encode(noPdu, &env, std::back_inserter(out)));
    EXPECT_EQ(out, std::vector<char>{'x'});
}

TEST(PerMessages, OtherRulesAreRefused)
{
    TM::Message m;
    m.set_pdu().select_command().select_ping();
    ASN1::CoderEnv env;
    EXPECT_EQ(env.get_encodingRule(), ASN1::CoderEnv::per_Aligned);
    std::vector<char> out;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    EXPECT_FALSE(ASN1::encode(m, &env, std::back_inserter(out)));
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
