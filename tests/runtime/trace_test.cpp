#include "runtime/trace.hpp"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

namespace
{

TEST(TraceHex, BytesAndNumbers)
{
    const std::pair<std::string, const char*> bytes[] = {
        {std::string(), ""},
        {std::string("\x00\xAB", 2), "00 AB "},
        {std::string("\x01\x7F\x80\xFF", 4), "01 7F 80 FF "}};
    for (const auto& [data, expected] : bytes) {
        std::ostringstream a, b;
        a << ext::hex(data.data(), static_cast<unsigned>(data.size()));
        auto* begin = reinterpret_cast<const unsigned char*>(data.data());
        b << ext::hex(begin, begin + data.size());
        EXPECT_EQ(a.str(), expected);
        EXPECT_EQ(b.str(), expected);
    }
    // A value, the least number of digits, the text.
    // clang-format off
    const std::tuple<unsigned, unsigned, const char*> numbers[] = {
        {255, 0, "0xFF"}, {0, 0, "0x0"}, {0xABCDEF, 2, "0xABCDEF"}, {0xFFFFFFFFu, 0, "0xFFFFFFFF"},
        {0x1234, 8, "0x00001234"}};
    // clang-format on
    for (const auto& [value, digits, expected] : numbers) {
        std::ostringstream os;
        os << ext::hex(value, digits);
        EXPECT_EQ(os.str(), expected) << value << "/" << digits;
    }
    // The stream's own format survives.
    std::ostringstream os;
    os << std::dec << std::setfill('*');
    const unsigned char one[] = {0x0A};
    os << ext::hex(one, one + 1) << ext::hex(10u, 3) << 10 << ' ' << std::setw(4) << 7;
    EXPECT_EQ(os.str(), "0A 0x00A10 ***7");
}

} // namespace
