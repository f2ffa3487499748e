// Octets as test texts: "03 00 00 05 FF", upper-case pairs separated by single spaces.
#pragma once

#include <string>
#include <vector>

namespace support
{

// The octets of any container of char or unsigned char.
template <class Octets> std::string hex(Octets const& octets)
{
    static char const digits[] = "0123456789ABCDEF";
    std::string text;
    for (auto c : octets) {
        unsigned char u = static_cast<unsigned char>(c);
        if (!text.empty())
            text += ' ';
        text += digits[u >> 4];
        text += digits[u & 15];
    }
    return text;
}

// Back to octets: pairs of hex digits, anything else between them ignored.
template <class Octets = std::vector<char>> Octets bytes(std::string const& text)
{
    Octets octets;
    unsigned value = 0;
    int digits = 0;
    for (char c : text) {
        int d = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                       : -1;
        if (d < 0)
            continue;
        value = value * 16 + static_cast<unsigned>(d);
        if (++digits == 2) {
            octets.push_back(static_cast<typename Octets::value_type>(value));
            value = 0;
            digits = 0;
        }
    }
    return octets;
}

} // namespace support
