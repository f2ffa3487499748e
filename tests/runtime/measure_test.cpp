#include "runtime/measure.hpp"

#include "runtime/clock.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
namespace
{

TEST(Measure, DurationsAcrossTheMicrosecondWrapAndText)
{
    Mux::TestClock clock;
    Mux::setClock(&clock);
    Measure m; // a fresh one prints zeros: the status-dump layout test
    const std::uint64_t cases[][2] = {{0, 5}, {0xFFFFFFFEull, 7}, {0x1FFFFFFF0ull, 40}, {0, 12}};
    for (const auto& c : cases) {
        clock.set_us(c[0]);
        m.begin();
        clock.advance_us(c[1]);
        m.end();
        EXPECT_EQ(m.last(), c[1]);
    }
    m.sample(4000000000u);
    std::ostringstream os;
    os << std::hex << m;
    EXPECT_EQ(os.str(), "min=5 max=4000000000 avg=4000000000 counter=5");
    Mux::setClock(nullptr);
}

} // namespace
