#include "runtime/log_text.hpp"

namespace ext
{

namespace
{

void Append(std::string& out, unsigned char byte)
{
    static const char kDigits[] = "0123456789ABCDEF";
    switch (byte) {
    case '\\':
        out += "\\\\";
        return;
    case '\n':
        out += "\\n";
        return;
    case '\r':
        out += "\\r";
        return;
    case '\t':
        out += "\\t";
        return;
    default:
        break;
    }
    if (byte >= 0x20 && byte < 0x7F) {
        out += static_cast<char>(byte);
        return;
    }
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

} // namespace

OutEscaped escaped(std::string_view text)
{
    return OutEscaped{text};
}

std::string escaped_text(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    // char is unsigned on some targets and signed on others: the byte's value
    // is what counts.
    for (const char c : text)
        Append(out, static_cast<unsigned char>(c));
    return out;
}

std::ostream& operator<<(std::ostream& os, const OutEscaped& out)
{
    const std::string text = escaped_text(out.text);
    return os.write(text.data(), static_cast<std::streamsize>(text.size()));
}

} // namespace ext
