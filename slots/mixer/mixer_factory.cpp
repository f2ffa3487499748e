#include "slots/mixer/mixer_factory.hpp"

#include <algorithm>
#include <fcntl.h>
#include <iostream>

#include "hardware/dev_names.hpp"
#include "platform/board.hpp"
#include "runtime/fd.hpp"
#include "runtime/trace.hpp"
#include "slots/mixer/mixer.hpp"

namespace Mixer
{

namespace
{

// A count the driver reported, taken into the smallest so far (-1: none yet).
void TakeMinimum(int& smallest, int reported)
{
    if (smallest == -1 || reported < smallest)
        smallest = reported;
}

} // namespace

MixerFactory& MixerFactory::instance()
{
    static MixerFactory factory;
    return factory;
}

MixerFactory::~MixerFactory()
{
    for (Mixer* m : mixers) {
        if (m->slots().empty())
            delete m;
    }
}

std::ostream& MixerFactory::PutHeader(std::ostream& os) const
{
    os << "mixer: ";
    return os;
}

Mixer* MixerFactory::findMixer(int id) const
{
    for (Mixer* m : mixers) {
        if (!m->isDead() && m->id() == id)
            return m;
    }
    return nullptr;
}

Slot* MixerFactory::INewSlot(LGCP::CreateParams const& p)
{
    if (p.mixerOut_isSelected()) {
        Mixer* m = findMixer(int(p.get_mixerOut().get_unit().getValue()));
        return m ? m->New(p.get_mixerOut()) : nullptr;
    }
    if (p.mixerIn_isSelected()) {
        Mixer* m = findMixer(int(p.get_mixerIn().get_unit().getValue()));
        return m ? m->New(p.get_mixerIn()) : nullptr;
    }
    return nullptr;
}

void MixerFactory::RefreshResources()
{
    for (Mixer* m : mixers)
        m->setDead(true);
    platform::mixer::mix_unit unit{-1, 0, 0, 0};
    mixerInputs = -1;
    tdmChannels = -1;
    // A driver that reports a unit twice in one pass would never end the
    // enumeration: it is asked no more often than it can have units.
    bool repeated = false;
    for (std::size_t asked = 0; asked < kMaxUnits && mixers.size() < kMaxUnits; ++asked) {
        if (mixer_ctl(platform::mixer::kEnumerate, &unit) < 0)
            break;
        TakeMinimum(mixerInputs, unit.mixer_inputs);
        TakeMinimum(tdmChannels, unit.tdm_channels);
        auto known =
            std::find_if(mixers.begin(), mixers.end(), [&unit](Mixer* m) { return m->id() == unit.dev_no; });
        if (known != mixers.end()) {
            // Every known unit was marked dead above: a live one has been
            // reported already in this pass.
            if (!(*known)->isDead() && !repeated) {
                repeated = true;
                std::cerr << ext::header(this) << "driver reported unit " << unit.dev_no << " twice"
                          << std::endl;
            }
            (*known)->setDead(false);
            continue;
        }
        auto* m = new Mixer(unit.dev_no, [this] { return tdmChannels; });
        mixers.push_back(m);
        m->Reset();
    }
    // Retired units leave the list first: their slots' aborts may reach back here.
    std::vector<Mixer*> gone;
    auto live = std::stable_partition(mixers.begin(), mixers.end(), [](Mixer* m) { return !m->isDead(); });
    gone.assign(live, mixers.end());
    mixers.erase(live, mixers.end());
    for (Mixer* m : gone)
        m->Clear();
    QueryDriverVersion();
}

void MixerFactory::QueryDriverVersion()
{
    Fd fd;
    if (!fd.open(GetVoiceDevName(), O_RDONLY)) {
        const Errno error;
        std::cerr << "device \"" << GetVoiceDevName() << "\" open fail: " << error << std::endl;
        return;
    }
    platform::voice::Version version{};
    if (platform::board().ioctl(fd.lowlevel_fd(), platform::voice::kVersion, &version) != -1) {
        std::copy(version.word, version.word + 5, driverVersion);
        driverVersionValid = true;
    } else {
        driverVersionValid = false;
    }
}

void MixerFactory::Query(LGCP::Resources& resources)
{
    RefreshResources();
    auto& list = resources.set_mixer();
    list.clear();
    for (Mixer* m : mixers) {
        list.resize(list.size() + 1);
        auto& r = list[list.size() - 1];
        r.set_unit(m->id());
        r.set_tdm_inputs(std::max(tdmChannels, 0));
        r.set_tdm_outputs(std::max(tdmChannels, 0));
        r.set_mixer_inputs(std::max(mixerInputs, 0));
        r.set_dpu_per_mixer(kDpuPerMixer);
        r.set_dpu_per_ec(kDpuPerEc);
        r.set_dpu_per_lms(kDpuPerLms);
    }
}

} // namespace Mixer
