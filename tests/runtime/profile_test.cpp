// A profiling point prints its name and its measure (whose figures and text
// are the measure test's); the dump lists the living points newest first.
#include "runtime/profile.hpp"

#include "runtime/clock.hpp"

#include <gtest/gtest.h>

#include <sstream>
namespace
{

std::string dump()
{
    std::ostringstream os;
    Profile::dump(os);
    return os.str();
}

TEST(ProfilePoint, TextAndDump)
{
    Mux::TestClock clock{1000};
    Mux::setClock(&clock);
    const std::string before = dump();
    Profile::Point a("Control::Service::Send [1]");
    a.begin();
    clock.advance_us(5);
    a.end();
    std::ostringstream os;
    os << std::hex << a;
    EXPECT_EQ(os.str(), "[Control::Service::Send [1]]: min=5 max=5 avg=5 counter=1");
    {
        Profile::Point b("Control::Service::Send [2]");
        EXPECT_EQ(dump(),
                  "[Control::Service::Send [2]]: min=0 max=0 avg=0 counter=0\n" + os.str() + "\n" + before);
    }
    EXPECT_EQ(dump(), os.str() + "\n" + before);
    Mux::setClock(nullptr);
}

} // namespace
