#pragma once
// A request on a board-wide device that its service lets go and opens afresh
// when the driver hangs it up (the tone and DSP services).
#include <cerrno>

#include "platform/board.hpp"
#include "runtime/event.hpp"

namespace Hardware
{

// One request on the device that `event` watches: what the driver answered,
// -1 with errno when it failed. A failure on a descriptor that has hung up
// in this loop turn, before its service handled the hang-up, calls `reopen`
// (it lets the device go as the hang-up's handler would and opens it afresh,
// true when that worked) and makes the request once more on the device opened
// afresh: the request never reached the driver, which has dropped what the
// old descriptor asked for anyway.
template <class Arg, class Reopen>
int RequestOrReopen(Event& event, unsigned long code, Arg arg, Reopen reopen)
{
    const int result = platform::board().ioctl(event.lowlevel_fd(), code, arg);
    if (result != -1 || !event.HungUp())
        return result;
    const int error = errno;
    if (!reopen()) {
        errno = error;
        return -1;
    }
    return platform::board().ioctl(event.lowlevel_fd(), code, arg);
}

} // namespace Hardware
