#include "runtime/log_text.hpp"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

namespace
{

// Every byte value, as the log shows it: the text stays on one line and reads
// back to the bytes that were sent.
TEST(LogText, EscapesWhatCouldBreakOrSteerALine)
{
    const std::pair<std::string, const char*> rows[] = {
        {"", ""},
        {"plain name 0-9 ~!@#$%^&*()_+{}|:\"<>?`-=[];',./",
         "plain name 0-9 ~!@#$%^&*()_+{}|:\"<>?`-=[];',./"},
        {"x\nFORGED LINE: hwMux: device lost", "x\\nFORGED LINE: hwMux: device lost"},
        {"a\r\tb", "a\\r\\tb"},
        {"back\\slash \\n", "back\\\\slash \\\\n"},
        {std::string("small\0", 6), "small\\x00"},
        {std::string("..\0", 3), "..\\x00"},
        {"\x01\x1B[2J\x1F", "\\x01\\x1B[2J\\x1F"},
        {"\x7F\x80\x85\x9B\xC3\xA9\xFF", "\\x7F\\x80\\x85\\x9B\\xC3\\xA9\\xFF"},
        {"\x0B\x0C\x08\x07", "\\x0B\\x0C\\x08\\x07"},
    };
    for (const auto& [text, expected] : rows) {
        std::ostringstream os;
        os << ext::escaped(text);
        EXPECT_EQ(expected, os.str()) << ext::escaped_text(text);
        EXPECT_EQ(expected, ext::escaped_text(text));
    }
    // Every byte: printable ASCII but the backslash stays, nothing else does.
    for (unsigned b = 0; b < 256; ++b) {
        const std::string out = ext::escaped_text(std::string(1, static_cast<char>(b)));
        const bool kept = b >= 0x20 && b < 0x7F && b != '\\';
        EXPECT_EQ(kept, out == std::string(1, static_cast<char>(b))) << b;
        EXPECT_EQ(std::string::npos, out.find_first_of("\n\r")) << b;
        for (const char c : out)
            EXPECT_TRUE(c >= 0x20 && c < 0x7F) << b;
    }
    // The stream's own state survives: fill and width apply to what follows.
    std::ostringstream os;
    os << std::setfill('*') << ext::escaped("a\n") << std::setw(3) << 7;
    EXPECT_EQ("a\\n**7", os.str());
}

} // namespace
