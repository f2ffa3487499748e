#pragma once
// IPv4 socket address: peer and local addresses of every TCP and UDP link.
// The object is exactly a sockaddr_in, so it goes straight to bind() and
// connect().
//
// Text form: a dotted quad of four decimal numbers, optionally followed by
// ":" and a decimal port (an empty port reads as 0). Only numeric addresses
// are accepted; no name is ever looked up. A malformed text is an error the
// caller sees: Assign() returns false and changes nothing, so a bad address
// never turns silently into 0.0.0.0 or a stale port.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace INet4
{

class Addr
{
public:
    Addr() { Reset(); }
    Addr(const Addr& other) = default;
    Addr(const sockaddr_in& address) : mAddr(address) {}
    // Use Assign() where the text may be malformed: this form cannot say so
    // and leaves 0.0.0.0 port 0.
    explicit Addr(const std::string& text);
    Addr& operator=(const Addr& other) = default;

    void Reset();

    // True when the text was a valid address (with a valid port, when it has
    // one); then *port, when given, is the port or -1 when the text has none,
    // and a text without a port keeps the port held so far. False changes
    // nothing but *port, which becomes -1.
    bool Assign(const char* text, int* port);
    bool Assign(const std::string& text, int* port) { return Assign(text.c_str(), port); }
    // Assign(text, nullptr); the result is lost, so only for texts known good.
    Addr& operator=(const std::string& text);
    // The address, already in network byte order.
    void Assign(std::uint32_t network_order);

    unsigned short port() const { return ntohs(mAddr.sin_port); }
    void port(unsigned short value) { mAddr.sin_port = htons(value); }
    // The address in network byte order.
    std::uint32_t address() const { return mAddr.sin_addr.s_addr; }

    bool IsEqual(const Addr& other) const;
    bool operator==(const Addr& other) const { return IsEqual(other); }
    bool operator!=(const Addr& other) const { return !IsEqual(other); }

    std::string GetStrAddr() const;
    std::string GetString() const;
    std::vector<unsigned char> GetVector() const;
    void Put(std::ostream& os) const;

    operator sockaddr*() { return reinterpret_cast<sockaddr*>(&mAddr); }
    operator const sockaddr*() const { return reinterpret_cast<const sockaddr*>(&mAddr); }
    socklen_t size() const { return sizeof mAddr; }

private:
    sockaddr_in mAddr;
};

std::ostream& operator<<(std::ostream& os, const Addr& address);

} // namespace INet4
