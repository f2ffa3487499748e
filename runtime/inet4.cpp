#include "runtime/inet4.hpp"

#include <arpa/inet.h>

#include <cstring>

namespace INet4
{
namespace
{

// A port is empty (0) or 1 to 5 decimal digits up to 65535; nothing else.
bool parse_port(const char* text, unsigned short& port)
{
    unsigned long value = 0;
    unsigned digits = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || ++digits > 5)
            return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
    }
    if (value > 65535)
        return false;
    port = static_cast<unsigned short>(value);
    return true;
}

} // namespace

Addr::Addr(const std::string& text)
{
    Reset();
    Assign(text, nullptr);
}

void Addr::Reset()
{
    std::memset(&mAddr, 0, sizeof mAddr);
    mAddr.sin_family = AF_INET;
}

bool Addr::Assign(const char* text, int* port)
{
    if (port)
        *port = -1;
    if (!text)
        return false;
    const char* colon = std::strchr(text, ':');
    std::string host = colon ? std::string(text, colon) : std::string(text);
    unsigned short number = 0;
    if (colon && !parse_port(colon + 1, number))
        return false;
    // inet_pton takes exactly four decimal parts, unlike inet_aton, which
    // would also read "10.1" or "0x7f.1" as some other address.
    in_addr address;
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
        return false;
    mAddr.sin_addr = address;
    if (colon) {
        mAddr.sin_port = htons(number);
        if (port)
            *port = number;
    }
    return true;
}

Addr& Addr::operator=(const std::string& text)
{
    Assign(text, nullptr);
    return *this;
}

void Addr::Assign(std::uint32_t network_order)
{
    mAddr.sin_addr.s_addr = network_order;
}

bool Addr::IsEqual(const Addr& other) const
{
    return mAddr.sin_addr.s_addr == other.mAddr.sin_addr.s_addr && mAddr.sin_port == other.mAddr.sin_port;
}

std::string Addr::GetStrAddr() const
{
    char text[INET_ADDRSTRLEN];
    if (!inet_ntop(AF_INET, &mAddr.sin_addr, text, sizeof text))
        return std::string();
    return text;
}

std::string Addr::GetString() const
{
    return GetStrAddr() + ":" + std::to_string(port());
}

std::vector<unsigned char> Addr::GetVector() const
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&mAddr.sin_addr.s_addr);
    return std::vector<unsigned char>(bytes, bytes + 4);
}

void Addr::Put(std::ostream& os) const
{
    os << GetStrAddr() << ':' << port();
}

std::ostream& operator<<(std::ostream& os, const Addr& address)
{
    address.Put(os);
    return os;
}

} // namespace INet4
