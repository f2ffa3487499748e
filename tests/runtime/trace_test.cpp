#include "runtime/trace.hpp"

#include <gtest/gtest.h>

#include <iomanip>
#include <sstream>
#include <string>

namespace
{

TEST(TraceHex, BytesAndNumbers)
{
    const struct {
        std::string bytes;
        const char* expected;
    } bytes[] = {{std::string(), ""},
                 {std::string("\x00\xAB", 2), "00 AB "},
                 {std::string("\x01\x7F\x80\xFF", 4), "01 7F 80 FF "}};
    for (const auto& c : bytes) {
        std::ostringstream a, b;
        a << ext::hex(c.bytes.data(), static_cast<unsigned>(c.bytes.size()));
        auto* begin = reinterpret_cast<const unsigned char*>(c.bytes.data());
        b << ext::hex(begin, begin + c.bytes.size());
        EXPECT_EQ(a.str(), c.expected);
        EXPECT_EQ(b.str(), c.expected);
    }
    const struct {
        unsigned value, digits;
        const char* expected;
    } numbers[] = {{255, 0, "0xFF"},
                   {0, 0, "0x0"},
                   {0xABCDEF, 2, "0xABCDEF"},
                   {0xFFFFFFFFu, 0, "0xFFFFFFFF"},
                   {0x1234, 8, "0x00001234"}};
    for (const auto& c : numbers) {
        std::ostringstream os;
        os << ext::hex(c.value, c.digits);
        EXPECT_EQ(os.str(), c.expected) << c.value << "/" << c.digits;
    }
    // The stream's own format survives.
    std::ostringstream os;
    os << std::dec << std::setfill('*');
    const unsigned char one[] = {0x0A};
    os << ext::hex(one, one + 1) << ext::hex(10u, 3) << 10 << ' ' << std::setw(4) << 7;
    EXPECT_EQ(os.str(), "0A 0x00A10 ***7");
}

} // namespace
