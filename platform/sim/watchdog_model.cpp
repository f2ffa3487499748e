#include "platform/sim/watchdog_model.hpp"

#include "platform/devices.hpp"

namespace platform
{
namespace sim
{

WatchdogModel::WatchdogModel() : DeviceModel(watchdog::kPath) {}

void WatchdogModel::write(Channel, const Bytes& record)
{
    const std::string text(record.begin(), record.end());
    if (text == watchdog::kStart) {
        mArmed = true;
        mPings = 0;
    } else if (text == watchdog::kPing && mArmed) {
        ++mPings;
    } else if (text == watchdog::kStop) {
        mArmed = false;
    }
}

std::string WatchdogModel::execute(std::istringstream& args)
{
    std::string extra;
    if (args >> extra)
        return "error usage: watchdog\n";
    return std::string(mArmed ? "armed" : "disarmed") + " pings=" + std::to_string(mPings) + "\nok\n";
}

} // namespace sim
} // namespace platform
