// Profiling points print min/max/last/count in decimal whatever the stream's
// base; the dump lists the living points newest first.
#include "runtime/profile.hpp"

#include "runtime/clock.hpp"

#include <gtest/gtest.h>

#include <sstream>
namespace
{

TEST(ProfilePoint, TextAndDump)
{
    Mux::TestClock clock{1000};
    Mux::setClock(&clock);
    std::ostringstream before;
    Profile::dump(before);
    Profile::Point a("Control::Service::Send [1]");
    const struct {
        unsigned us;
        const char* expected;
    } steps[] = {
        {5, "[Control::Service::Send [1]]: min=5 max=5 avg=5 counter=1"},
        {3, "[Control::Service::Send [1]]: min=3 max=5 avg=3 counter=2"},
        {9, "[Control::Service::Send [1]]: min=3 max=9 avg=9 counter=3"},
    };
    for (const auto& s : steps) {
        a.begin();
        clock.advance_us(s.us);
        a.end();
        std::ostringstream os;
        os << std::hex << a;
        EXPECT_EQ(os.str(), s.expected);
    }
    {
        Profile::Point b("Control::Service::Send [2]");
        std::ostringstream os;
        Profile::dump(os);
        EXPECT_EQ(os.str(), "[Control::Service::Send [2]]: min=0 max=0 avg=0 counter=0\n"
                            "[Control::Service::Send [1]]: min=3 max=9 avg=9 counter=3\n" +
                                before.str());
    }
    std::ostringstream os;
    Profile::dump(os);
    EXPECT_EQ(os.str(), "[Control::Service::Send [1]]: min=3 max=9 avg=9 counter=3\n" + before.str());
    Mux::setClock(nullptr);
}

} // namespace
