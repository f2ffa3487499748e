// RTCP source-description and goodbye packets, byte for byte, and what an
// encoder leaves of a buffer too small for the whole packet.
#include "slots/rtp/rtcp.hpp"

#include <gtest/gtest.h>

#include "tests/support/hex.hpp"

namespace
{

using Item = RTPC::SDES::Item;

// The packet in a buffer of `size` bytes; bytes past the packet must keep the
// buffer's fill (0xEE) or the encoder wrote past what it reported.
std::string encode(const RTPC::Msg& m, unsigned size)
{
    std::vector<char> buffer(size + 8, char(0xEE));
    const unsigned n = m.encode(buffer.data(), size);
    for (std::size_t i = n; i < buffer.size(); ++i)
        if (buffer[i] != char(0xEE))
            return "wrote past the packet at " + std::to_string(i);
    return support::hex(std::vector<char>(buffer.begin(), buffer.begin() + n));
}

TEST(Rtcp, Packets)
{
    RTPC::SDES none(0x01020304);
    RTPC::SDES three(0x01020304);
    three.add(Item::CNAME, "ab");
    three.add(Item::EMAIL, "cd");
    three.add(Item::PHONE, "defg");
    RTPC::SDES odd(0x01020304); // its second item starts off a word boundary
    odd.add(Item::EMAIL, "c");
    odd.add(Item::PHONE, "defg");
    RTPC::SDES longText(7);
    longText.add(Item::CNAME, std::string(300, 'x'));
    const RTPC::BYE bye(0xA1B2C3D4, "session end");
    const RTPC::BYE empty(5, "");
    const struct Case {
        const char* what;
        const RTPC::Msg& msg;
        unsigned size;
        std::string bytes;
    } cases[] = {
        {"bye of a session's end", bye, 1024, "81 CB 00 04 A1 B2 C3 D4 0B 73 65 73 73 69 6F 6E 20 65 6E 64"},
        {"bye without reason", empty, 1024, "81 CB 00 01 00 00 00 05"},
        {"bye cut to a word-aligned room", bye, 14, "81 CB 00 02 A1 B2 C3 D4 03 73 65 73"},
        {"bye with no room for its reason", bye, 9, "81 CB 00 01 A1 B2 C3 D4"},
        {"sdes without items", none, 1024, "81 CA 00 01 01 02 03 04"},
        {"sdes items in order, terminated and padded", three, 1024,
         "81 CA 00 05 01 02 03 04 01 02 61 62 03 02 63 64 04 04 64 65 66 67 00 00"},
        {"sdes whose later items do not fit", three, 16, "81 CA 00 03 01 02 03 04 01 02 61 62 00 00 00 00"},
        {"sdes whose last item would overrun with its padding", odd, 19,
         "81 CA 00 02 01 02 03 04 03 01 63 00"},
        {"a buffer of 7 bytes", bye, 7, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.bytes, encode(c.msg, c.size)) << c.what;
    // A text longer than an item can say is cut to 255 bytes.
    const std::string cut = encode(longText, 1024);
    EXPECT_EQ("81 CA 00 42 00 00 00 07 01 FF 78", cut.substr(0, 32));
    EXPECT_EQ(3u * 268 - 1, cut.size()); // header, SSRC, 2 + 255 text, terminator, padding: 268 bytes
}

} // namespace
