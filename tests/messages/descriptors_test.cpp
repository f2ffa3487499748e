// The generated descriptor tables: how many types each module has, each built by a
// factory of its kind. What the tables hold is the generator's own test; the wire,
// print and all-types tests catch a table that does not match its module.
#include "messages/acp/ACP.hpp"
#include "messages/hsp/HSP.hpp"
#include "messages/lemzgw/LEMZGW.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "messages/term/TERM.hpp"
#include "tests/messages/registry.hpp"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace
{

struct Counts {
    int sequence = 0, choice = 0, enumerated = 0, string = 0;
    bool operator==(Counts const& o) const
    {
        return sequence == o.sequence && choice == o.choice && enumerated == o.enumerated &&
               string == o.string;
    }
};

std::ostream& operator<<(std::ostream& out, Counts const& c)
{
    return out << c.sequence << " SEQUENCE, " << c.choice << " CHOICE, " << c.enumerated << " ENUMERATED, "
               << c.string << " IA5String";
}

TEST(Descriptors, TypesPerModuleAndKind)
{
    struct Row {
        char const* module;
        Counts want;
    };
    Row const table[] = {
        {"LGCP", {63, 24, 19, 0}}, {"TERM", {84, 39, 31, 1}}, {"LEMZGW", {87, 19, 32, 0}},
        {"ACP", {21, 7, 14, 0}},   {"HSP", {11, 4, 6, 0}},    {"MON", {11, 7, 1, 0}},
        {"MEDIA", {3, 7, 1, 0}},   {"BASE", {1, 0, 2, 0}},    {"CCP", {1, 1, 0, 0}},
    };
    std::map<std::string, Counts> got;
    Counts total;
    for (unsigned i = 0; i < messages::registrySize; ++i) {
        messages::RegistryEntry const& e = messages::registry[i];
        std::string kind = e.kind;
        // The factory stored in each descriptor builds the kind the table says.
        std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(e.info));
        Counts& c = got[e.module];
        if (kind == "SEQUENCE") {
            ++c.sequence, ++total.sequence;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::SEQUENCE*>(value.get())) << e.name;
            EXPECT_EQ(16u, e.info->tag) << e.name;
        } else if (kind == "CHOICE") {
            ++c.choice, ++total.choice;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::CHOICE*>(value.get())) << e.name;
            EXPECT_EQ(0u, e.info->tag) << e.name;
        } else if (kind == "ENUMERATED") {
            ++c.enumerated, ++total.enumerated;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::ENUMERATED*>(value.get())) << e.name;
            EXPECT_EQ(10u, e.info->tag) << e.name;
        } else {
            ++c.string, ++total.string;
            EXPECT_NE(nullptr, dynamic_cast<ASN1::IA5String*>(value.get())) << e.name;
            EXPECT_EQ(22u, e.info->tag) << e.name;
        }
    }
    for (Row const& row : table)
        EXPECT_EQ(row.want, got[row.module]) << row.module;
    EXPECT_EQ(9u, got.size());
    EXPECT_EQ((Counts{282, 108, 106, 1}), total);
    EXPECT_EQ(497u, messages::registrySize);
}

} // namespace
