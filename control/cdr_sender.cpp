#include "control/cdr_sender.hpp"

#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>

#include "runtime/inet4.hpp"

namespace CDR_Sender
{

Sender::Sender() : mSocket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {}

bool Sender::SendTo(std::string& record, std::string const& destinations)
{
    if (!mSocket.is_valid())
        return false;
    std::istringstream words(destinations);
    for (std::string word; words >> word;) {
        INet4::Addr to;
        if (!to.Assign(word, nullptr))
            continue;
        // Delivery is not looked at: a record is best effort, per destination.
        ::sendto(mSocket.lowlevel_fd(), record.data(), record.size(), 0, to, to.size());
    }
    return true;
}

} // namespace CDR_Sender
