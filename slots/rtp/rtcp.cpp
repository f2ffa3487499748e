#include "slots/rtp/rtcp.hpp"

#include <algorithm>
#include <cstring>

namespace RTPC
{

namespace
{
const unsigned kMaxText = 255;

void put32(char* at, unsigned value)
{
    at[0] = char(value >> 24);
    at[1] = char(value >> 16);
    at[2] = char(value >> 8);
    at[3] = char(value);
}

unsigned roundUp4(unsigned n)
{
    return (n + 3) & ~3u;
}

// Zero bytes from `length` up to the next multiple of 4.
unsigned pad(char* buffer, unsigned length)
{
    const unsigned end = roundUp4(length);
    std::memset(buffer + length, 0, end - length);
    return end;
}
} // namespace

unsigned Msg::encode(char* buffer, unsigned size) const
{
    if (size <= 7)
        return 0;
    buffer[0] = char(0x80 | (count() & 0x1F));
    buffer[1] = char(pt());
    // Bodies pad themselves within their room, so the packet stays a whole
    // number of words that fits the buffer.
    const unsigned length = 4 + encode_body(buffer + 4, size - 4);
    if (length % 4 != 0)
        return 0;
    const unsigned words = length / 4 - 1;
    buffer[2] = char(words >> 8);
    buffer[3] = char(words);
    return length;
}

unsigned SDES::encode_body(char* buffer, unsigned size) const
{
    if (size <= 3)
        return 0;
    put32(buffer, mSsrc);
    if (mItems.empty() || size - 4 < 8)
        return 4;
    unsigned at = 4;
    for (const Item& item : mItems) {
        const unsigned len = unsigned(std::min<std::size_t>(item.text().size(), kMaxText));
        // The item, the list's terminator and the padding after it must fit.
        if (roundUp4(at + 2 + len + 1) > size)
            break;
        buffer[at] = char(item.type());
        buffer[at + 1] = char(len);
        std::memcpy(buffer + at + 2, item.text().data(), len);
        at += 2 + len;
    }
    buffer[at++] = 0;
    return pad(buffer, at);
}

unsigned BYE::encode_body(char* buffer, unsigned size) const
{
    if (size <= 3)
        return 0;
    put32(buffer, mSsrc);
    if (mReason.empty() || size - 4 <= 1)
        return 4;
    // The reason is cut so that it and its padding stay within the room.
    const unsigned room = (size & ~3u) - 4;
    if (room < 4)
        return 4;
    const unsigned len = unsigned(std::min<std::size_t>({mReason.size(), kMaxText, std::size_t(room - 1)}));
    buffer[4] = char(len);
    std::memcpy(buffer + 5, mReason.data(), len);
    return pad(buffer, 5 + len);
}

} // namespace RTPC
