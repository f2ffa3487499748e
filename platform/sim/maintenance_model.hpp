#pragma once
// The E1 maintenance driver "/dev/maintenance": one status record per trunk
// 0..3 and the transmit-clock mask.
//
// A status request fills the counters and the state a test set for the trunk
// (all 0, state normal, at power-up) and fills every reserved word with
// kReservedFill, so that a reader of the wrong offsets sees it. An absent
// trunk (or one outside 0..3) answers ENODEV. The mask and the clock source
// are stored as the daemon passed them.
#include <cstdint>

#include "platform/devices.hpp"
#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class MaintenanceModel : public DeviceModel
{
public:
    static constexpr int kTrunks = 4;
    static constexpr std::int32_t kReservedFill = 0x7E7E7E7E;

    struct Trunk {
        std::int32_t slips = 0;
        std::int32_t lossBF = 0;
        std::int32_t lossCarrier = 0;
        std::int32_t ais = 0;
        std::int32_t rai = 0;
        std::int32_t state = 0;
        bool absent = false;
    };

    MaintenanceModel();

    const char* word() const override { return "e1"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;

    Trunk& trunk(int n) { return mTrunks[n % kTrunks]; }
    // The last mask set, -1 before any.
    std::int64_t mask() const { return mMask; }
    int clock_source() const { return mClockSource; }

private:
    std::string describe(int n) const;

    Trunk mTrunks[kTrunks];
    std::int64_t mMask = -1;
    int mClockSource = -1;
};

} // namespace sim
} // namespace platform
