// Value notation as operators read it in the logs: golden texts for every kind.
#include "tests/asn1/every_kind.hpp"
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

namespace
{

std::string printed(ASN1::AbstractData const& value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

TM::Message mixerOutMessage()
{
    TM::Message m;
    m.set_seq(7);
    m.set_slot(12);
    TM::MixerOutParams& p = m.set_pdu().select_command().select_create().select_mixerOut();
    p.set_unit(1);
    p.set_channel().select_tdm(40);
    TM::MixerInput input;
    input.set_channel().select_rtp(3);
    input.set_gain(-6);
    p.set_inputs().push_back(input);
    input.set_channel().select_rtp(4);
    input.set_gain(0);
    p.set_inputs().push_back(input);
    return m;
}

std::function<std::string()> message(void (*build)(TM::Message&))
{
    return [build] {
        TM::Message m;
        build(m);
        return printed(m);
    };
}

struct Golden {
    char const* name;
    std::function<std::string()> print;
    char const* text;
};

TEST(ValueNotation, GoldenTexts)
{
    Golden const table[] = {
        {"create mixerOut", [] { return printed(mixerOutMessage()); },
         "{\n  seq 7,\n  slot 12,\n  pdu command : create : mixerOut : {\n    unit 1,\n"
         "    channel tdm : 40,\n    inputs {\n      {\n        channel rtp : 3,\n        gain -6\n"
         "      },\n      {\n        channel rtp : 4,\n        gain 0\n      }\n    }\n  }\n}"},
        {"clockCfg", message([](TM::Message& m) {
             m.set_seq(42);
             TM::ClockCfg& c = m.set_pdu().select_command().select_clockCfg();
             c.set_clkSel0() = TM::ClkSel::internal;
             c.set_bextEn() = TM::BExtEn::disabled;
             c.set_source(2);
         }),
         "{\n  seq 42,\n  pdu command : clockCfg : {\n    clkSel0 internal,\n    bextEn disabled,\n"
         "    source 2\n  }\n}"},
        {"ping", message([](TM::Message& m) {
             m.set_seq(3);
             m.set_pdu().select_command().select_ping();
         }),
         "{\n  seq 3,\n  pdu command : ping : NULL\n}"},
        {"error", message([](TM::Message& m) {
             m.set_pdu().select_response().select_error(TM::ErrorCause::destroyInProgress);
         }),
         "{\n  pdu response : error : destroyInProgress\n}"},
        {"every kind", [] { return printed(*asn1test::everyKind()); },
         "{\n  boolean TRUE,\n  integer -5,\n  minus128-127 -1,\n  byte256 255,\n"
         "  enumerated destroyInProgress,\n  payload 2,\n  standby active,\n  oid { 1 3 6 },\n  bits "
         "'101'B,\n"
         "  octets 'a0 01 ff'H,\n  numeric \"12 3\",\n  printable \"Hi\",\n  visible \"~\",\n  ia5 "
         "\"a\"b\",\n"
         "  general \"\",\n  dname \"host\",\n  bmp \"AB\",\n  time \"20070305143000Z\",\n  integers {\n    "
         "1,\n"
         "    -1\n  },\n  ints {\n  },\n  nothing NULL\n}"},
        {"INTEGER 5..MAX holding -1", [] { return printed(ASN1::INTEGER(-1, &TM::IntLowerOnlyInfo)); },
         "4294967295"},
        {"named number", [] { return printed(ASN1::IntegerWithNamedNumber(2, &TM::NamedIntInfo)); }, "two"},
        {"BMPString SIZE(1)", [] { return printed(ASN1::BMPString(L"\x0410", &TM::Bmp1Info)); },
         "{{ 0, 0, 4, 16}}"},
        {"open type",
         [] {
             ASN1::OpenData o;
             o.set_data(new ASN1::BOOLEAN(true));
             return printed(o);
         },
         "TRUE"},
        {"typed open type",
         [] {
             std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(&TM::TypedOpenInfo));
             ASN1::OpenData& typed = static_cast<ASN1::OpenData&>(*v);
             static_cast<TM::Message&>(typed.get_data()).set_pdu().select_command().select_ping();
             return printed(typed);
         },
         "{\n  pdu command : ping : NULL\n}"},
        {"empty kinds", [] { return printed(TM::Kinds()); }, "{\n}"},
        {"INTEGER 0..4294967295 all bits",
         [] {
             return printed(ASN1::Constrained_INTEGER<ASN1::FixedConstraint, 0, 0xFFFFFFFFu>(0xFFFFFFFFu));
         },
         "4294967295"},
        {"unconstrained INTEGER all bits", [] { return printed(ASN1::INTEGER(-1, &ASN1::INTEGER::theInfo)); },
         "-1"},
        {"INTEGER -5..5,... holding -1", [] { return printed(ASN1::INTEGER(-1, &TM::IntExtSignedInfo)); },
         "-1"},
        {"ENUMERATED without a name",
         [] { return printed(*asn1test::with<TM::ErrorCause>([](auto& e) { e.setFromInt(-1); })); }, "-1"},
        {"empty BIT STRING", [] { return printed(ASN1::BIT_STRING()); }, "''B"},
        {"empty OCTET STRING", [] { return printed(ASN1::OCTET_STRING()); }, "''H"},
        {"OID without arcs", [] { return printed(ASN1::OBJECT_IDENTIFIER()); }, "{ }"},
        {"BMPString above 0x7F",
         [] { return printed(ASN1::BMPString(L"A\x0411", &ASN1::BMPString::theInfo)); },
         "{{ 0, 0, 0, 65}, { 0, 0, 4, 17}}"},
        {"open type with octets only",
         [] {
             ASN1::OpenData o;
             o.grab(new std::vector<char>{'\x01', '\x02'});
             return printed(o);
         },
         "'01 02'H"},
        {"status-file name",
         [] {
             std::ostringstream name;
             name << "/var/monitoring/board" << TM::Int0_127(3);
             return name.str();
         },
         "/var/monitoring/board3"},
        {"hexadecimal stream",
         [] {
             std::ostringstream out;
             TM::Kinds k;
             k.set_integer(26);
             k.set_octets(asn1test::bytes("0f"));
             out << "command=0x" << std::hex << k << ' ' << 26;
             return out.str();
         },
         "command=0x{\n  integer 1a,\n  octets '0f'H\n} 1a"},
        {"decimal stream after octets",
         [] {
             std::ostringstream out;
             out << ASN1::OCTET_STRING(1, '\x0f', &ASN1::OCTET_STRING::theInfo);
             out.width(3);
             out << 26;
             return out.str();
         },
         "'0f'H 26"},
        {"empty SEQUENCE at level 4",
         [] {
             static const ASN1::SequenceOfInfo inner = {
                 {{&ASN1::SEQUENCE_OF_Base::create, 16}, ASN1::Unconstrained, 0, 0xFFFFFFFFu},
                 &TM::Kinds::theInfo};
             static const ASN1::SequenceOfInfo outer = {
                 {{&ASN1::SEQUENCE_OF_Base::create, 16}, ASN1::Unconstrained, 0, 0xFFFFFFFFu}, &inner};
             ASN1::SEQUENCE_OF_Base list(&outer);
             list.resize(1);
             static_cast<ASN1::SEQUENCE_OF_Base&>(**list.begin()).resize(1);
             return printed(list);
         },
         "{\n  {\n    {\n    }\n  }\n}"},
    };
    for (Golden const& g : table) {
        SCOPED_TRACE(g.name);
        EXPECT_EQ(g.print(), g.text);
    }
}

TEST(ValueNotation, FailureKeepsWhatWasWrittenAndSetsFailbit)
{
    TM::Message m;
    m.set_seq(1);
    m.set_slot(2);
    std::ostringstream out;
    out << m;
    EXPECT_EQ(out.str(), "{\n  seq 1,\n  slot 2,\n  pdu ");
    EXPECT_TRUE(out.fail());
    out << "swallowed";
    EXPECT_EQ(out.str(), "{\n  seq 1,\n  slot 2,\n  pdu ");
    EXPECT_EQ(m.asValueNotation(), "{\n  seq 1,\n  slot 2,\n  pdu ");

    ASN1::OpenData empty;
    std::ostringstream none;
    none << empty;
    EXPECT_TRUE(none.fail());
    EXPECT_EQ(none.str(), "");
}

TEST(ValueNotation, StreamThatIsNotGoodIsLeftAlone)
{
    std::ostringstream out;
    out.setstate(std::ios_base::failbit);
    out << ASN1::BOOLEAN(true);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(out.rdstate(), std::ios_base::failbit);
}

TEST(ValueNotation, ExceptionMaskIsHonoured)
{
    TM::Message m; // no selection: printing fails
    std::ostringstream out;
    out.exceptions(std::ios_base::failbit);
    EXPECT_THROW(out << m, std::ios_base::failure);
}

} // namespace
