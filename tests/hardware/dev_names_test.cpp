// Codec names, and no name read from beyond the table.
#include "hardware/dev_names.hpp"

#include <string>

#include <gtest/gtest.h>

namespace
{

TEST(DevNames, CodecNamesEndAtTheTable)
{
    const struct {
        int codec;
        const char* name;
    } cases[] = {{-1, "invalid"}, {0, "unknown"}, {5, "g711-rtp"}, {8, "conf"}, {9, "invalid"}};
    for (auto c : cases)
        EXPECT_STREQ(c.name, GetCodecAsStr(c.codec)) << c.codec;
}

} // namespace
