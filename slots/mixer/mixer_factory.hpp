#pragma once
// The factory of conference mixer slots: keeps the mixer units the driver
// reports, hands `mixerIn` and `mixerOut` creates to the named unit
// (slots/mixer/mixer.hpp) and reports the units in the resource report.
//
// Units are found only when resources are queried (the controller's `query`,
// or SIGHUP), so before the first query every mixer create fails. Each query
// adds new units (their sums cleared), keeps known ones as they are and
// retires the vanished ones: their slots get abort 0, and each such unit goes
// with its last slot.
#include <cstdint>
#include <ostream>
#include <vector>

#include "slots/factory.hpp"

namespace Mixer
{

class Mixer;

class MixerFactory : public SlotFactory
{
public:
    // The report's processing costs of a unit.
    static constexpr int kDpuPerMixer = 770;
    static constexpr int kDpuPerEc = 17;
    static constexpr int kDpuPerLms = 24;
    // The enumeration stops asking once the list holds this many units, and
    // asks the driver at most this many times in one pass.
    static constexpr std::size_t kMaxUnits = 100;

    static MixerFactory& instance();

    MixerFactory() = default;
    // Units that no slot holds go with the factory; the others go with
    // their last slot.
    ~MixerFactory() override;

    char const* GetName() const override { return "Mixer"; }
    Slot* INewSlot(LGCP::CreateParams const& p) override;
    void Query(LGCP::Resources& resources) override;

    // "mixer: "
    std::ostream& PutHeader(std::ostream& os) const;
    // The first live unit with this number, or null.
    Mixer* findMixer(int id) const;
    void RefreshResources();
    void QueryDriverVersion();
    // The smallest TDM channel count over the units found, -1 before any.
    int tdm_channels() const { return tdmChannels; }
    int mixer_inputs() const { return mixerInputs; }
    std::vector<Mixer*> const& units() const { return mixers; }
    bool driver_version_valid() const { return driverVersionValid; }

private:
    bool driverVersionValid = false;
    std::uint32_t driverVersion[5] = {};
    int mixerInputs = -1;
    int tdmChannels = -1;
    std::vector<Mixer*> mixers;
};

} // namespace Mixer
