#include "runtime/profile.hpp"
#include "runtime/version.hpp"

#include "runtime/clock.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace
{

TEST(Version, CurrentRecordPrintsItsTag)
{
    std::ostringstream os;
    os << Version::current;
    EXPECT_EQ(os.str(), "T230630-1920");
    EXPECT_EQ(Version::current.kind(), Version::snapshot);
    EXPECT_EQ(Version::current.number(), 0);
    EXPECT_STREQ(Version::current.branch(), "");
    EXPECT_STREQ(Version::current.date(), "2023-06-30 19:20");
    EXPECT_STREQ(Version::current.arch(), "ppc");
}

TEST(Version, KindNamesTable)
{
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
        EXPECT_STREQ(version_string(kind), c.name) << c.kind;
        EXPECT_STREQ(version_suffix(kind), c.suffix) << c.kind;
        std::ostringstream os;
        os << kind;
        EXPECT_EQ(os.str(), c.name);
    }
}

class ProfilePoint : public ::testing::Test
{
protected:
    void SetUp() override { Mux::setClock(&clock); }
    void TearDown() override { Mux::setClock(nullptr); }
    void measure(Profile::Point& p, unsigned us)
    {
        p.begin();
        clock.advance_us(us);
        p.end();
    }
    Mux::TestClock clock{1000};
};

TEST_F(ProfilePoint, MinMaxLastAndCount)
{
    Profile::Point p("Tpkt_protocol::message");
    std::ostringstream fresh;
    fresh << p;
    EXPECT_EQ(fresh.str(), "[Tpkt_protocol::message]: min=0 max=0 avg=0 counter=0");
    const struct {
        unsigned us;
        const char* expected;
    } steps[] = {
        {5, "[Tpkt_protocol::message]: min=5 max=5 avg=5 counter=1"},
        {3, "[Tpkt_protocol::message]: min=3 max=5 avg=3 counter=2"},
        {9, "[Tpkt_protocol::message]: min=3 max=9 avg=9 counter=3"},
        {4, "[Tpkt_protocol::message]: min=3 max=9 avg=4 counter=4"},
    };
    for (const auto& s : steps) {
        measure(p, s.us);
        std::ostringstream os;
        os << std::hex << p;
        EXPECT_EQ(os.str(), s.expected);
    }
}

TEST_F(ProfilePoint, DurationAcrossTheClockWrap)
{
    clock.set_us(0xFFFFFFFFull - 2);
    Profile::Point p("wrap");
    measure(p, 10);
    std::ostringstream os;
    os << p;
    EXPECT_EQ(os.str(), "[wrap]: min=10 max=10 avg=10 counter=1");
}

TEST_F(ProfilePoint, DumpListsNewestFirstAndForgetsDestroyedPoints)
{
    std::ostringstream before;
    Profile::dump(before);
    Profile::Point a("Control::Service::Send [1]");
    {
        Profile::Point b("Control::Service::Send [2]");
        measure(b, 7);
        std::ostringstream os;
        Profile::dump(os);
        EXPECT_EQ(os.str(), "[Control::Service::Send [2]]: min=7 max=7 avg=7 counter=1\n"
                            "[Control::Service::Send [1]]: min=0 max=0 avg=0 counter=0\n" +
                                before.str());
    }
    Profile::Point c("third");
    std::ostringstream os;
    Profile::dump(os);
    EXPECT_EQ(os.str(), "[third]: min=0 max=0 avg=0 counter=0\n"
                        "[Control::Service::Send [1]]: min=0 max=0 avg=0 counter=0\n" +
                            before.str());
}

} // namespace
