// Value notation as operators read it in the logs: golden texts for every kind.
#include "tests/asn1/every_kind.hpp"
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <sstream>
#include <streambuf>

namespace
{

std::string printed(ASN1::AbstractData const& value)
{
    std::ostringstream out;
    out << value;
    return out.str();
}

struct Golden {
    char const* name;
    std::function<std::string()> print;
    char const* text;
};

TEST(ValueNotation, GoldenTexts)
{
    Golden const table[] = {
        {"every kind", [] { return printed(*asn1test::everyKind()); },
         "{\n  boolean TRUE,\n  integer -5,\n  minus128-127 -1,\n  byte256 255,\n"
         "  enumerated destroyInProgress,\n  payload 2,\n  standby active,\n  oid { 1 3 6 },\n"
         "  bits '101'B,\n  octets 'a0 01 ff'H,\n  numeric \"12 3\",\n  printable \"Hi\",\n"
         "  visible \"~\",\n  ia5 \"a\"b\",\n  general \"\",\n  dname \"host\",\n  bmp \"AB\",\n"
         "  time \"20070305143000Z\",\n  integers {\n    1,\n    -1\n  },\n  ints {\n  },\n  nothing "
         "NULL\n}"},
        {"INTEGER 5..MAX holding -1", [] { return printed(ASN1::INTEGER(-1, &TM::IntLowerOnlyInfo)); },
         "4294967295"},
        {"named number", [] { return printed(ASN1::IntegerWithNamedNumber(2, &TM::NamedIntInfo)); }, "two"},
        {"typed open type",
         [] {
             std::unique_ptr<ASN1::AbstractData> v(ASN1::AbstractData::create(&TM::TypedOpenInfo));
             ASN1::OpenData& typed = static_cast<ASN1::OpenData&>(*v);
             static_cast<TM::Message&>(typed.get_data()).set_pdu().select_command().select_ping();
             return printed(typed);
         },
         "{\n  pdu command : ping : NULL\n}"},
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
        {"uppercase and showbase stream",
         [] {
             std::ostringstream out;
             out << std::uppercase << std::showbase
                 << ASN1::OCTET_STRING(asn1test::bytes("a0 01 ff"), &ASN1::OCTET_STRING::theInfo) << ' '
                 << 26;
             return out.str();
         },
         "'a0 01 ff'H 26"},
        {"uppercase and showbase hexadecimal stream",
         [] {
             std::ostringstream out;
             TM::Kinds k;
             k.set_integer(26);
             k.set_octets(asn1test::bytes("a0 01 ff"));
             out << std::uppercase << std::showbase << std::hex << k << ' ' << 26;
             return out.str();
         },
         "{\n  integer 0X1A,\n  octets 'a0 01 ff'H\n} 0X1A"},
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

// A value that cannot be printed keeps what was written and fails the stream (throwing
// when its mask asks for it); a stream that has failed is left alone.
TEST(ValueNotation, StreamStates)
{
    TM::Message m;
    m.set_seq(1);
    m.set_slot(2);
    std::ostringstream out;
    out << m << "swallowed";
    EXPECT_EQ(out.str(), "{\n  seq 1,\n  slot 2,\n  pdu ");
    EXPECT_EQ(out.rdstate(), std::ios_base::failbit);
    EXPECT_EQ(m.asValueNotation(), "{\n  seq 1,\n  slot 2,\n  pdu ");
    // A log line gets the text printed up to the failure and its stream stays good.
    std::ostringstream log;
    log << "do create rtp: " << ASN1::logText(m) << "|next line";
    EXPECT_TRUE(log.good());
    EXPECT_EQ(log.str(), "do create rtp: {\n  seq 1,\n  slot 2,\n  pdu |next line");
    std::ostringstream none;
    none << ASN1::OpenData() << ASN1::BOOLEAN(true);
    EXPECT_EQ(none.str(), "");
    EXPECT_EQ(none.rdstate(), std::ios_base::failbit);
    std::ostringstream throwing;
    throwing.exceptions(std::ios_base::failbit);
    EXPECT_THROW(throwing << m, std::ios_base::failure);
}

// A stream device that fails with an exception of its own.
struct LineDown : std::exception {
    char const* what() const noexcept override { return "line down"; }
};

class BrokenLine : public std::streambuf
{
protected:
    int_type overflow(int_type) override { throw LineDown(); }
    int_type underflow() override { throw LineDown(); }
};

std::string thrownBy(std::function<void()> const& run)
{
    try {
        run();
    } catch (LineDown const& e) {
        return e.what();
    } catch (std::exception const& e) {
        return std::string("another exception: ") + e.what();
    }
    return "none";
}

// An exception thrown while a value is printed or read reaches the caller as it was
// thrown when the stream's mask asks for the failbit it adds; otherwise only the
// stream's state tells.
TEST(ValueNotation, AnExceptionWhilePrintingOrReadingIsTheOneRethrown)
{
    struct Row {
        char const* name;
        std::ios_base::iostate mask;
        char const* thrown;
    } const table[] = {
        {"mask with failbit", std::ios_base::badbit | std::ios_base::failbit, "line down"},
        {"mask without failbit", std::ios_base::badbit, "none"},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        BrokenLine line;
        std::ostream out(&line);
        out.exceptions(row.mask);
        EXPECT_EQ(thrownBy([&] { out << ASN1::BOOLEAN(true); }), row.thrown);
        EXPECT_EQ(out.rdstate(), std::ios_base::badbit | std::ios_base::failbit);
        std::istream in(&line);
        in.exceptions(row.mask);
        ASN1::BOOLEAN value;
        EXPECT_EQ(thrownBy([&] { in >> value; }), row.thrown);
        EXPECT_EQ(in.rdstate(), std::ios_base::badbit | std::ios_base::failbit);
    }
}

} // namespace
