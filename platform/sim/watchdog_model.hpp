#pragma once
// The hardware watchdog "/dev/misc/gw-wd": armed by "START", fed by "PING",
// disarmed by "STOP"; anything else written is refused by the driver (EINVAL
// on the write is not simulated: the board journals it and the model ignores it).
#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class WatchdogModel : public DeviceModel
{
public:
    WatchdogModel();

    const char* word() const override { return "watchdog"; }
    std::string usage() const override { return "watchdog\n"; }
    std::string execute(std::istringstream& args) override;
    void write(Channel channel, const Bytes& record) override;

    bool armed() const { return mArmed; }
    unsigned pings() const { return mPings; }

private:
    bool mArmed = false;
    unsigned mPings = 0;
};

// A device made present by a control command that has no model of its own:
// it takes every open and answers every request with 0.
class PlainModel : public DeviceModel
{
public:
    explicit PlainModel(std::string path) : DeviceModel(std::move(path)) {}
    Reply ioctl(Channel, unsigned long, std::uintptr_t) override { return Reply(); }
};

} // namespace sim
} // namespace platform
