#pragma once
// The board's hardware watchdog: "START" when the loop starts, "PING" to keep
// the board from resetting, "STOP" when the loop ends. A missing or unwritable
// device is logged and the loop runs without it.
//
// Holds a plain descriptor, not an Fd: the loop that owns the watchdog is
// never destroyed (runtime/multiplexer.hpp), so neither may this be.

class Watchdog
{
public:
    constexpr Watchdog() = default;

    // Opens the device and activates it; false (after a log line) when either fails.
    bool open();
    void ping();
    // Deactivates and closes the device when it is open.
    void stop();
    bool is_open() const { return mFd >= 0; }

private:
    void close_device();

    // Closed by stop(), never by a destructor.
    int mFd = -1;
};
