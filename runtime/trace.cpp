#include "runtime/trace.hpp"

namespace ext
{
namespace
{

const char digits[] = "0123456789ABCDEF";

// Saves the stream's flags and fill, and puts them back when done.
class FormatKeeper
{
public:
    explicit FormatKeeper(std::ostream& os) : mOs(os), mFlags(os.flags()), mFill(os.fill()) {}
    ~FormatKeeper()
    {
        mOs.flags(mFlags);
        mOs.fill(mFill);
    }

private:
    std::ostream& mOs;
    std::ios_base::fmtflags mFlags;
    char mFill;
};

} // namespace

OutBufInHex hex(const char* p, unsigned len)
{
    auto* begin = reinterpret_cast<const unsigned char*>(p);
    return OutBufInHex{begin, begin + len};
}

OutBufInHex hex(const unsigned char* begin, const unsigned char* end)
{
    return OutBufInHex{begin, end};
}

std::ostream& operator<<(std::ostream& os, const OutBufInHex& out)
{
    FormatKeeper keep(os);
    os.width(0);
    for (const unsigned char* p = out.begin; p != out.end; ++p) {
        const char text[4] = {digits[*p >> 4], digits[*p & 0x0F], ' ', '\0'};
        os << text;
    }
    return os;
}

OutUnsignedInHex hex(unsigned value, unsigned digits)
{
    return OutUnsignedInHex{value, digits};
}

std::ostream& operator<<(std::ostream& os, const OutUnsignedInHex& out)
{
    FormatKeeper keep(os);
    os << "0x" << std::hex << std::uppercase << std::noshowbase << std::right;
    os.fill('0');
    os.width(static_cast<std::streamsize>(out.digits));
    os << out.value;
    return os;
}

} // namespace ext

namespace Trace
{

Block::Block(bool enabled, const char* name, std::ostream& os) : mEnabled(enabled), mName(name), mOs(os)
{
    if (mEnabled)
        mOs << "Enter " << mName << std::endl;
}

Block::~Block()
{
    if (mEnabled)
        mOs << "Leave " << mName << std::endl;
}

} // namespace Trace
