#include "runtime/cyclic.hpp"

#include <gtest/gtest.h>

namespace
{

using Seq = Cyclic<unsigned int, 127>;

TEST(Cyclic, ArithmeticTable)
{
    Seq s(127);
    const std::tuple<const char*, unsigned, unsigned> cases[] = {
        {"130 masked", Seq(130), 2},
        {"127 kept", Seq(127), 127},
        {"++127", ++Seq(127), 0},
        {"--0", --Seq(0), 127},
        {"5 - 7", Seq(5) - Seq(7), 126},
        {"120 + 10", Seq(120) + Seq(10), 2},
        {"127 + 127", Seq(127) + Seq(127), 126},
        {"127++", s++, 127},
        {"after 127++", s, 0},
    };
    for (const auto& [name, got, expected] : cases)
        EXPECT_EQ(got, expected) << name;
}

TEST(Cyclic, WindowTable)
{
    // a <= b <= c
    const std::tuple<unsigned, unsigned, unsigned, bool> cases[] = {
        {120, 120, 5, true}, {120, 125, 5, true},  {120, 0, 5, true},  {120, 5, 5, true},
        {120, 6, 5, false},  {120, 119, 5, false}, {7, 7, 7, true},    {7, 8, 7, false},
        {7, 6, 7, false},    {0, 127, 127, true},  {1, 0, 127, false}, {10, 20, 30, true},
        {10, 31, 30, false}, {30, 20, 10, false},
    };
    for (const auto& [a, b, c, inside] : cases)
        EXPECT_EQ(Seq(a) <= Seq(b) <= Seq(c), inside) << a << " <= " << b << " <= " << c;
}

} // namespace
