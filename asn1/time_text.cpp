#include "asn1/time_text.hpp"

namespace ASN1
{

bool wellFormedTimeText(std::string const& text)
{
    std::size_t i = 0;
    auto digit = [&](std::size_t at) { return at < text.size() && text[at] >= '0' && text[at] <= '9'; };
    for (; i < 14; ++i) {
        if (!digit(i))
            return false;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; digit(i); ++i) {
        }
    }
    if (i == text.size())
        return true;
    if (text[i] == 'Z')
        return i + 1 == text.size();
    if (text[i] != '+' && text[i] != '-')
        return false;
    if (i + 5 != text.size() || !digit(i + 1) || !digit(i + 2) || !digit(i + 3) || !digit(i + 4))
        return false;
    return text[i + 3] < '6';
}

} // namespace ASN1
