// Values through the common face: creation from descriptors, deep copy, three-way order.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

#include <typeinfo>

namespace
{

using asn1test::integer;
using asn1test::oid;
using asn1test::Value;
using asn1test::with;

TEST(AbstractData, CreateBuildsTheDescriptorsOwnClass)
{
    EXPECT_EQ(ASN1::AbstractData::create(nullptr), nullptr);
    // Typed access may rely on the dynamic type: every factory builds its own class.
    struct Row {
        ASN1::TypeInfo const* info;
        std::type_info const& type;
        std::type_info const* copied = nullptr; // the copy's class, when not the same
    } const table[] = {
        {&ASN1::IA5String::theInfo, typeid(ASN1::IA5String)},
        {&TM::DnameInfo, typeid(ASN1::IA5String)},
        {&ASN1::NumericString::theInfo, typeid(ASN1::NumericString)},
        {&TM::Int0_1023::theInfo, typeid(TM::Int0_1023)},
        {&TM::Message::theInfo, typeid(TM::Message)},
        {&TM::PDU::theInfo, typeid(TM::PDU)},
        {&TM::ErrorCause::theInfo, typeid(TM::ErrorCause)},
        {&ASN1::SEQUENCE_OF<TM::MixerInput>::theInfo, typeid(ASN1::SEQUENCE_OF<TM::MixerInput>)},
        {&ASN1::SET_OF<TM::Int0_127>::theInfo, typeid(ASN1::SET_OF<TM::Int0_127>)},
        // The named-number kind copies as a plain INTEGER with the same descriptor.
        {&TM::NamedIntInfo, typeid(ASN1::IntegerWithNamedNumber), &typeid(ASN1::INTEGER)},
        {&TM::TypedOpenInfo, typeid(ASN1::TypeConstrainedOpenData)},
    };
    for (auto const& row : table) {
        Value v(ASN1::AbstractData::create(row.info));
        const ASN1::AbstractData& made = *v;
        EXPECT_EQ(typeid(made), row.type) << row.type.name();
        Value copy(v->clone());
        const ASN1::AbstractData& copied = *copy;
        EXPECT_EQ(typeid(copied), row.copied != nullptr ? *row.copied : row.type) << row.type.name();
        EXPECT_EQ(copy->info(), row.info);
        EXPECT_EQ(copy->compare(*v), 0) << row.type.name();
    }

    // Fields and alternatives built by the runtime are of their declared classes too.
    TM::Message m;
    TM::MixerOutParams& params = m.set_pdu().select_command().select_create().select_mixerOut();
    params.set_inputs().resize(2);
    const TM::PDU& pdu = m.get_pdu();
    EXPECT_EQ(typeid(pdu), typeid(TM::PDU));
    const ASN1::AbstractData& input = *params.get_inputs().SEQUENCE_OF_Base::begin()[1];
    EXPECT_EQ(typeid(input), typeid(TM::MixerInput));
    std::unique_ptr<TM::Message> clone(m.clone());
    const TM::Command& command = clone->get_pdu().get_command();
    EXPECT_EQ(typeid(command), typeid(TM::Command));
}

Value bitString(std::string const& octets, unsigned n)
{
    return with<ASN1::BIT_STRING>([&](ASN1::BIT_STRING& b) {
        b.resize(n);
        std::copy(octets.begin(), octets.end(), b.getData().begin());
    });
}

Value octets(std::string const& s)
{
    return Value(new ASN1::OCTET_STRING(std::vector<char>(s.begin(), s.end()), &ASN1::OCTET_STRING::theInfo));
}

Value open(ASN1::AbstractData* data, char const* buffer)
{
    ASN1::OpenData* o = new ASN1::OpenData(data, &ASN1::OpenData::theInfo);
    if (buffer != nullptr)
        o->grab(new std::vector<char>(buffer, buffer + std::char_traits<char>::length(buffer)));
    return Value(o);
}

Value ping(int slot) // slot < 0: absent; 1000: set, then omitted
{
    return with<TM::Message>([slot](TM::Message& m) {
        if (slot >= 0)
            m.set_slot(static_cast<unsigned>(slot));
        if (slot == 1000)
            m.omit_slot();
        m.set_pdu().select_command().select_ping();
    });
}

Value term(int traceLevel, bool flag, bool named = false)
{
    return with<TM::TermParams>([=](TM::TermParams& t) {
        if (traceLevel >= 0)
            t.set_traceLevel(traceLevel);
        if (named)
            t.set_name("");
        if (flag)
            t.set_flag();
    });
}

int sign(int v)
{
    return v < 0 ? -1 : v > 0 ? 1 : 0;
}

TEST(AbstractData, ThreeWayOrder)
{
    using G = ASN1::GeneralizedTime;
    struct Row {
        char const* name;
        Value a, b;
        int sign;
    } const table[] = {
        {"INTEGER", integer(5), integer(7), -1},
        {"BOOLEAN", Value(new ASN1::BOOLEAN(false)), Value(new ASN1::BOOLEAN(true)), -1},
        {"BIT STRING 1 < 9 bits", bitString("\x80", 1), bitString(std::string("\x80\x00", 2), 9), -1},
        {"BIT STRING 0x80 > 0x7f", bitString("\x80", 8), bitString("\x7f", 8), 1},
        {"OCTET STRING 0x80 > 0x7f", octets("\x80"), octets("\x7f"), 1},
        {"IA5String", Value(new ASN1::IA5String("abc")), Value(new ASN1::IA5String("abd")), -1},
        {"OID shorter first", oid({1}), oid({1, 0}), -1},
        {"GeneralizedTime by second", Value(new G("20070305143000Z")), Value(new G("20070305143001")), -1},
        {"GeneralizedTime utc last", Value(new G("20070305143000")), Value(new G("20070305143000Z")), -1},
        {"CHOICE -1 < 0", Value(new TM::PDU), with<TM::PDU>([](TM::PDU& p) { p.select_command(); }), -1},
        {"CHOICE same index compares the alternatives",
         with<TM::Command>([](TM::Command& c) { c.select_connect(3); }),
         with<TM::Command>([](TM::Command& c) { c.select_connect(2); }), 1},
        {"SEQUENCE absent optional field first", ping(-1), ping(0), -1},
        {"SEQUENCE removed field counts as absent", ping(1000), ping(-1), 0},
        {"SEQUENCE early addition decides", term(1, true), term(2, true), -1},
        {"SEQUENCE addition absent first", term(-1, false), term(-1, false, true), -1},
        {"SEQUENCE OF by size", with<ASN1::SEQUENCE_OF<ASN1::INTEGER>>([](auto& l) { l.resize(2); }),
         with<ASN1::SEQUENCE_OF<ASN1::INTEGER>>([](auto& l) { l.resize(1); }), 1},
        {"open type buffer only < value", open(nullptr, "x"), open(new ASN1::Null, nullptr), -1},
        {"open types empty", open(nullptr, nullptr), open(nullptr, nullptr), 0},
        {"open type buffers", open(nullptr, "ab"), open(nullptr, "abc"), -1},
    };
    for (Row const& row : table) {
        SCOPED_TRACE(row.name);
        Value const& a = row.a;
        Value const& b = row.b;
        EXPECT_EQ(sign(a->compare(*b)), row.sign);
        EXPECT_EQ(sign(b->compare(*a)), -row.sign);
        EXPECT_EQ(*a == *b, row.sign == 0);
        EXPECT_EQ(*a != *b, row.sign != 0);
        // A clone is equal and of the same descriptor.
        Value copy(a->clone());
        EXPECT_TRUE(*copy == *a);
        EXPECT_EQ(copy->info(), a->info());
    }

    // Assigning through the base class keeps the descriptor of the target.
    TM::Int0_1023 bounded(7);
    static_cast<ASN1::INTEGER&>(bounded) = ASN1::INTEGER(9, &ASN1::INTEGER::theInfo);
    EXPECT_EQ(bounded.getValue(), 9u);
    EXPECT_EQ(bounded.info(), &TM::Int0_1023::theInfo);
}

} // namespace
