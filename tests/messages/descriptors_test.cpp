// The generated descriptor tables: how many types each module has, each built by a
// factory of its kind and tagged as its kind. What the tables hold is the generator's
// own test; the wire, print and all-types tests catch a table that does not match its
// module.
#include "tests/messages/registry.hpp"

#include <gtest/gtest.h>

#include "asn1/asn1.hpp"

#include <array>
#include <map>
#include <memory>
#include <set>
#include <string>

namespace
{

template <class T> bool builds(ASN1::AbstractData* value)
{
    return dynamic_cast<T*>(value) != nullptr;
}

TEST(Descriptors, TypesPerModuleAndKind)
{
    struct Kind {
        const char* name;
        std::uint32_t tag;
        bool (*built)(ASN1::AbstractData*);
    };
    const Kind kinds[] = {{"SEQUENCE", 16, builds<ASN1::SEQUENCE>},
                          {"CHOICE", 0, builds<ASN1::CHOICE>},
                          {"ENUMERATED", 10, builds<ASN1::ENUMERATED>},
                          {"IA5String", 22, builds<ASN1::IA5String>}};
    std::map<std::string, std::array<int, 4>> got;
    for (unsigned i = 0; i < messages::registrySize; ++i) {
        messages::RegistryEntry const& e = messages::registry[i];
        std::unique_ptr<ASN1::AbstractData> value(ASN1::AbstractData::create(e.info));
        for (std::size_t k = 0; k < 4; ++k) {
            if (e.kind != std::string(kinds[k].name))
                continue;
            ++got[e.module][k];
            EXPECT_TRUE(kinds[k].built(value.get())) << e.name;
            EXPECT_EQ(kinds[k].tag, e.info->tag) << e.name;
        }
    }
    // SEQUENCE, CHOICE, ENUMERATED, IA5String per module; together every entry.
    const std::map<std::string, std::array<int, 4>> want = {
        {"LGCP", {63, 24, 19, 0}}, {"TERM", {84, 39, 31, 1}}, {"LEMZGW", {87, 19, 32, 0}},
        {"ACP", {21, 7, 14, 0}},   {"HSP", {11, 4, 6, 0}},    {"MON", {11, 7, 1, 0}},
        {"MEDIA", {3, 7, 1, 0}},   {"BASE", {1, 0, 2, 0}},    {"CCP", {1, 1, 0, 0}},
    };
    EXPECT_EQ(want, got);
    EXPECT_EQ(497u, messages::registrySize);
}

// An extension alternative of a later version fails the decoding of every CHOICE but
// the three parameter choices whose users answer a command they do not take.
TEST(Descriptors, OnlyTheThreeParameterChoicesAcceptUnknownAlternatives)
{
    std::set<std::string> accepting;
    for (unsigned i = 0; i < messages::registrySize; ++i) {
        messages::RegistryEntry const& e = messages::registry[i];
        if (e.kind == std::string("CHOICE") &&
            static_cast<ASN1::ChoiceInfo const*>(e.info)->acceptsUnknownAlternative)
            accepting.insert(std::string(e.module) + "::" + e.name);
    }
    EXPECT_EQ((std::set<std::string>{"LGCP::CreateParams", "LGCP::DisplayParams", "LGCP::IoctlParams"}),
              accepting);
}

} // namespace
