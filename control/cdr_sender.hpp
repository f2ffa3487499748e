#pragma once
// Sends one text record as a UDP datagram to every address of a list. Ready
// for any component that reports call records; nothing in start-up builds it.
#include <string>

#include "runtime/fd.hpp"

namespace CDR_Sender
{

class Sender
{
public:
    Sender();
    virtual ~Sender() = default;
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // `destinations`: "a.b.c.d[:port]" words separated by white space. Each
    // word gets the whole record as one datagram, in list order; a word that
    // is no address is skipped (it never turns into 0.0.0.0) and the others
    // are still served. False only when the sender has no socket.
    bool SendTo(std::string& record, std::string const& destinations);

    bool IsValid() const { return mSocket.is_valid(); }

private:
    Fd mSocket;
};

} // namespace CDR_Sender
