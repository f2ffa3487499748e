#pragma once
// The DSP processing driver "/dev/dsp": per timeslot which functions are on
// and the id each was enabled with, the last configure record of each
// function, and the VAD interface version the driver reports (2 unless set).
//
// Control commands (the id defaults to the timeslot's last enable of the
// function the record belongs to, 0 before any):
//   dsp version <n>
//   dsp vad <ts> [rx=<n>] [tx=<n>] [id=<n>]   direction mask from the values given
//   dsp sd <ts> <value> [id=<n>]
//   dsp bss <ts> <score> [id=<n>]             the score as a decimal fraction
//   dsp tone <ts> <freq> <presence> [id=<n>]
//   dsp flags <ts> <flags> <mask> [id=<n>]
//   dsp get <ts>      "on=0x11 vad=1 sd=0 bss=2 ng=0 mute=0"
#include <cstdint>
#include <map>

#include "platform/sim/device_model.hpp"

namespace platform
{
namespace sim
{

class DspModel : public DeviceModel
{
public:
    struct Timeslot {
        std::uint32_t on = 0;                       // the function bits switched on
        std::map<std::uint32_t, std::uint32_t> ids; // per function bit, the last enable's id
        std::map<std::uint32_t, Bytes> configured;  // per function, the 12 parameter bytes
    };

    DspModel();

    const char* word() const override { return "dsp"; }
    std::string usage() const override;
    std::string execute(std::istringstream& args) override;
    RequestNames requests() const override;
    std::string decode(unsigned long request, std::uintptr_t arg) const override;
    Reply ioctl(Channel channel, unsigned long request, std::uintptr_t arg) override;

    void set_version(int version) { mVersion = version; }
    Timeslot timeslot(std::uint32_t ts) const;
    // One event record to every open descriptor; the number reached.
    unsigned event(std::uint32_t ts, std::uint32_t id, std::uint32_t type, const std::uint32_t (&p)[3]);

private:
    std::uint32_t id_of(std::uint32_t ts, std::uint32_t function) const;

    std::map<std::uint32_t, Timeslot> mTimeslots;
    int mVersion = 2;
};

} // namespace sim
} // namespace platform
