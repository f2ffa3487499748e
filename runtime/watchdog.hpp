#pragma once
// The board's hardware watchdog: "START" when the loop starts, "PING" to keep
// the board from resetting, "STOP" when the loop ends. A missing or unwritable
// device is logged and the loop runs without it.
#include "runtime/fd.hpp"

class Watchdog
{
public:
    constexpr Watchdog() = default;

    // Opens the device and activates it; false (after a log line) when either fails.
    bool open();
    void ping();
    // Deactivates and closes the device when it is open.
    void stop();
    bool is_open() const { return mFd.is_valid(); }

private:
    Fd mFd;
};
