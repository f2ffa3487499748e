// The primitive kinds: enumeration names, object identifier contents and
// time text.
#include "tests/asn1/helpers.hpp"
#include "tests/asn1/test_module.hpp"

#include <gtest/gtest.h>

namespace
{

using asn1test::Value;

TEST(Primitives, EnumerationNames)
{
    ASN1::EnumInfo const* E = &TM::ErrorCause::theInfo;
    ASN1::EnumInfo const* S = &TM::StandbyCommand::theInfo;
    ASN1::EnumInfo const* P = &TM::Payload::theInfo;
    // "sleep=8" comes after "standby=8" and loses; "ptG729a" is unnumbered: 18 plus one.
    struct Row {
        ASN1::EnumInfo const* info;
        int value;
        char const* name; // "" when the value has none
    } const table[] = {{S, 0, "none"}, {S, 8, "standby"},     {S, 16, "active"},
                       {S, 4, ""},     {P, 1, "ptG711-Ulaw"}, {P, 19, "ptG729a"}};
    for (auto const& row : table) {
        Value v(ASN1::AbstractData::create(row.info));
        ASN1::ENUMERATED& e = static_cast<ASN1::ENUMERATED&>(*v);
        e.setFromInt(row.value);
        EXPECT_EQ(e.getName(), row.name) << row.value;
    }
    struct NameRow {
        ASN1::EnumInfo const* info;
        char const* name;
        bool found;
        int value; // when not found: unchanged from a new value's
    } const byName[] = {{S, "sleep", true, 8},  {S, "active", true, 16},     {S, "Active", false, 17},
                        {P, "ptDyn", true, 96}, {P, "ptDyn=96", false, 124}, {E, "internal", true, 5},
                        {E, "", false, 13}};
    for (auto const& row : byName) {
        Value v(ASN1::AbstractData::create(row.info));
        ASN1::ENUMERATED& e = static_cast<ASN1::ENUMERATED&>(*v);
        EXPECT_EQ(e.setFromName(row.name), row.found) << row.name;
        EXPECT_EQ(e.asInt(), row.value) << row.name;
    }
}

TEST(Primitives, ObjectIdentifierContents)
{
    struct Row {
        std::vector<unsigned> arcs;
        char const* octets;
    } const table[] = {
        {{1, 2, 840, 113549}, "2A 86 48 86 F7 0D"}, {{2, 100}, "81 34"}, {{0, 39}, "27"}, {{1, 0}, "28"},
        {{2, 0xFFFFFFFFu}, "90 80 80 80 4F"},
    };
    for (auto const& row : table) {
        ASN1::OBJECT_IDENTIFIER o;
        for (unsigned a : row.arcs)
            o.append(a);
        std::vector<char> out;
        o.encodeCommon(out);
        EXPECT_EQ(asn1test::hex(out), row.octets);
        ASN1::OBJECT_IDENTIFIER back;
        ASSERT_TRUE(back.decodeCommon(out.data(), static_cast<unsigned>(out.size())));
        EXPECT_TRUE(back == o);
    }
    ASN1::OBJECT_IDENTIFIER one;
    one.append(1);
    std::vector<char> none{'x'};
    one.encodeCommon(none);
    EXPECT_TRUE(none.empty());
    std::vector<char> cut = asn1test::bytes("2A 86");
    EXPECT_FALSE(one.decodeCommon(cut.data(), 2));
    std::vector<char> huge = asn1test::bytes("8F FF FF FF FF 7F");
    EXPECT_FALSE(one.decodeCommon(huge.data(), 6));
    EXPECT_TRUE(one.decodeCommon(nullptr, 0));
    EXPECT_EQ(one.levels(), 0u);
}

TEST(Primitives, GeneralizedTimeText)
{
    struct Row {
        char const* text;
        int millisec, mindiff;
        bool utc;
        char const* back;
    } const table[] = {
        {"20070305143000.250+0130", 250, 90, false, "20070305143000.250+0130"},
        {"20070305143000Z", 0, 0, true, "20070305143000Z"},
        {"20070305143000.5-0030", 500, -30, false, "20070305143000.500-0030"},
        {"20070305143000.1239Z", 123, 0, true, "20070305143000.123Z"},
        {"20070305143000", 0, 0, false, "20070305143000"},
        // Offsets of 100 hours and more keep 99 in the hours and the rest in the minutes.
        {"20070305143000-9999", 0, -6039, false, "20070305143000-9999"},
        {"20070305143000+9960", 0, 6000, false, "20070305143000+9960"},
        {"20070305143000+0099", 0, 99, false, "20070305143000+0139"},
    };
    for (auto const& row : table) {
        ASN1::GeneralizedTime t(row.text);
        EXPECT_EQ(t.year, 2007);
        EXPECT_EQ(t.minute, 30);
        EXPECT_EQ(t.millisec, row.millisec) << row.text;
        EXPECT_EQ(t.mindiff, row.mindiff) << row.text;
        EXPECT_EQ(t.utc, row.utc) << row.text;
        EXPECT_EQ(t.get(), row.back);
    }
    EXPECT_EQ(ASN1::GeneralizedTime().get(), "00010101000000");
    ASN1::GeneralizedTime epoch;
    epoch.set_time_t(86400 + 3661);
    EXPECT_EQ(epoch.get(), "19700102010101");
}

} // namespace
