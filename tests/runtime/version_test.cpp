#include "runtime/profile.hpp"
#include "runtime/version.hpp"

#include "runtime/clock.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace
{

TEST(Version, CurrentRecordAndKindNames)
{
    std::ostringstream os;
    os << Version::current;
    EXPECT_EQ(os.str(), "T230630-1920");
    EXPECT_STREQ(Version::current.date(), "2023-06-30 19:20");
    EXPECT_STREQ(Version::current.arch(), "ppc");
    const struct {
        int kind;
        const char* name;
        const char* suffix;
    } cases[] = {
        {0, "snapshot", "S"},  {1, "test", "T"},    {2, "release", "R"},
        {3, "unit-test", "T"}, {4, "unknown", "U"}, {-1, "unknown", "U"},
    };
    for (const auto& c : cases) {
        auto kind = static_cast<Version::Type>(c.kind);
        EXPECT_STREQ(version_suffix(kind), c.suffix) << c.kind;
        std::ostringstream name;
        name << kind;
        EXPECT_EQ(name.str(), c.name);
    }
}

} // namespace
