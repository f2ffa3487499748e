#include "platform/paths.hpp"

#include <cstdlib>
#include <gtest/gtest.h>

namespace
{

struct Case {
    const char *root, *fixed, *expected;
};

TEST(Paths, PrefixesAbsolutePathsWithTheRoot)
{
    const Case cases[] = {
        {"", "/var/run/server.pid", "/var/run/server.pid"},
        {"/tmp/r", "/var/run/server.pid", "/tmp/r/var/run/server.pid"},
        {"/tmp/r/", "/dev/misc/gw-wd", "/tmp/r/dev/misc/gw-wd"},
        {"/", "/dev/log", "/dev/log"},
        {"/tmp/r", "relative/file", "relative/file"},
        {"/tmp/r", "", ""},
    };
    for (const Case& c : cases) {
        setenv("QUELVAD_ROOT", c.root, 1);
        Paths::reload();
        EXPECT_EQ(c.expected, Paths::resolve(c.fixed)) << "root '" << c.root << "' path " << c.fixed;
    }
    unsetenv("QUELVAD_ROOT");
    Paths::reload();
    EXPECT_EQ("/var/log/server-status", Paths::resolve("/var/log/server-status"));
}

} // namespace
