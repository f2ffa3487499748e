#include "runtime/recursive_guard.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace
{

struct Client {
    void Check() { checks.push_back(level); }
    void Nested(int depth)
    {
        ext::RecursiveGuard<Client, &Client::Check, &Client::level> guard(this);
        if (depth > 0)
            Nested(depth - 1);
    }
    int level = 0;
    std::vector<int> checks;
};

TEST(RecursiveGuard, CheckRunsOnceWhenTheOutermostCallEnds)
{
    Client c;
    c.Nested(3);
    EXPECT_EQ(c.checks, std::vector<int>{0});
    EXPECT_EQ(c.level, 0);
    c.Nested(0);
    EXPECT_EQ(c.checks, (std::vector<int>{0, 0}));
}

} // namespace
