#include "slots/mixer/mixer.hpp"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <utility>

#include "hardware/dev_names.hpp"
#include "hardware/hw_mux.hpp"
#include "platform/board.hpp"
#include "runtime/fd.hpp"
#include "runtime/multiplexer.hpp"
#include "slots/media_ioctl.hpp"

namespace Mixer
{

namespace
{

using namespace platform::mixer;

bool ConfigureDelays(Hardware::DSProcReceiver& dsp, LGCP::Delays const& d)
{
    dsp.configureDelays(d.rx_isPresent() ? unsigned(d.get_rx().getValue()) : 0u,
                        d.tx_isPresent() ? unsigned(d.get_tx().getValue()) : 0u);
    return true;
}

} // namespace

int mixer_ctl(platform::Request request, void* argument)
{
    Fd fd;
    if (!fd.open(GetMixerDevName(), O_RDONLY))
        return -1;
    const int result = platform::board().ioctl(fd.lowlevel_fd(), request, argument);
    const int error = errno;
    fd.close();
    errno = error;
    return result;
}

Mixer::Mixer(int id, ChannelCount tdmChannels) : mId(id), mTdmChannels(std::move(tdmChannels)) {}

std::ostream& Mixer::PutHeader(std::ostream& os) const
{
    os << "mixer [" << mId << "]: ";
    return os;
}

std::ostream& Mixer::header(std::ostream& os) const
{
    PutHeader(os);
    return os;
}

int Mixer::tdmChannel(LGCP::MixerChannel const& ch) const
{
    if (!ch.tdm_isSelected())
        return -1;
    const auto c = ch.get_tdm().getValue();
    return c >= 0 && c < mTdmChannels() ? int(c) : -1;
}

bool Mixer::Channel2Slot(LGCP::MixerChannel const& ch, mix_slot& out) const
{
    out = mix_slot{mId, kTdmChannel, 0};
    if (!ch.tdm_isSelected())
        return false;
    out.number = std::int32_t(ch.get_tdm().getValue());
    return true;
}

int Mixer::channel2timeslot(int channel)
{
    mix_slot s{mId, kTdmChannel, channel};
    const int t = mixer_ctl(kTdm, &s);
    if (t < 0) {
        const Errno error;
        header(std::cerr) << "MIX_TDM"
                          << " dev_no=" << mId << " type=" << kTdmChannel << " number=" << channel
                          << " fail : " << error << std::endl;
        return -1;
    }
    return t;
}

MixerSlot* Mixer::New(LGCP::MixerInParams const& p)
{
    const int c = tdmChannel(p.get_channel());
    if (c < 0)
        return nullptr;
    const int t = channel2timeslot(c);
    if (t < 0)
        return nullptr;
    auto* s = new TdmInput(*this, c, t);
    if (p.summator_isPresent()) {
        // A summator that is not a TDM channel is asked for as channel -1;
        // the input is built whatever the driver answers, and with no
        // summator kept its destroy removes nothing.
        std::int32_t summator = -1;
        if (p.get_summator().tdm_isSelected()) {
            summator = std::int32_t(p.get_summator().get_tdm().getValue());
            s->summatorSet = true;
            s->summator = summator;
        } else {
            header(std::cerr) << "wrong summator coding !" << std::endl;
        }
        mix_sum r{{mId, kTdmChannel, summator}, {mId, kTdmChannel, c}, kFullGain};
        // The input is still built: the controller may set the sum up again.
        if (mixer_ctl(kRxAdd, &r) < 0) {
            const Errno error;
            header(std::cerr) << "MIX_RX_ADD"
                              << " fail : " << error << std::endl;
        }
    }
    if (p.ecm_isPresent()) {
        Hardware::TonecReceiver& tone = *s;
        tone.echoCancel(p.get_ecm().get_ec() || p.get_ecm().get_es());
    }
    return Register(s);
}

MixerSlot* Mixer::New(LGCP::MixerOutParams const& p)
{
    // The sum is set up first; an output that is then not built leaves it as
    // it stands, and the next output on the channel clears it.
    if (!SetTX(p))
        return nullptr;
    const int c = tdmChannel(p.get_channel());
    const int t = c < 0 ? -1 : channel2timeslot(c);
    if (t < 0)
        return nullptr;
    return Register(new TdmOutput(*this, c, t));
}

bool Mixer::ClearTX(LGCP::MixerChannel const& ch)
{
    mix_slot s{};
    if (!Channel2Slot(ch, s)) {
        header(std::clog) << "ClearTX error: translation fail" << std::endl;
        return false;
    }
    if (mixer_ctl(kRxClear, &s) < 0) {
        const Errno error;
        header(std::cerr) << "MIX_RX_CLEAR"
                          << " dev_no=" << s.dev_no << " type=" << s.type << " number=" << s.number
                          << " fail : " << error << std::endl;
        return false;
    }
    return true;
}

bool Mixer::SetTX(LGCP::MixerOutParams const& p)
{
    if (!ClearTX(p.get_channel()))
        return false;
    mix_sum r{};
    if (p.get_inputs().empty()) {
        // An output without inputs sends its own channel.
        if (!Channel2Slot(p.get_channel(), r.rx)) {
            header(std::cerr) << "SetTX error: mixer translation fail" << std::endl;
            return false;
        }
        r.tx = r.rx;
        r.gain = kFullGain;
        if (mixer_ctl(kRxAdd, &r) < 0) {
            const Errno error;
            header(std::cerr) << "MIX_RX_ADD"
                              << " fail : " << error << std::endl;
            return false;
        }
        return true;
    }
    for (const LGCP::MixerInput& in : p.get_inputs()) {
        if (!Channel2Slot(p.get_channel(), r.rx)) {
            header(std::cerr) << "SetTX error: translation fail [1]" << std::endl;
            return false;
        }
        if (!Channel2Slot(in.get_channel(), r.tx)) {
            header(std::cerr) << "SetTX error: translation fail [2]" << std::endl;
            return false;
        }
        r.gain = std::int32_t(in.get_gain().getValue());
        if (mixer_ctl(kRxAdd, &r) < 0) {
            const Errno error;
            header(std::cerr) << "MIX_RX_ADD"
                              << " fail : " << error << std::endl;
            return false;
        }
    }
    return true;
}

void Mixer::StopDtmf(Hardware::TonecReceiver& tone)
{
    if (!tone.is_inDTMFTransmit())
        return;
    tone.enableSilence();
    tone.disableToneGenerator(true);
}

void Mixer::Release(TdmInput& s)
{
    StopDtmf(s);
    if (s.summator >= 0) {
        mix_sum r{
            {mId, s.summatorSet ? kTdmChannel : kSummator, s.summator}, {mId, kTdmChannel, s.channel}, 0};
        if (mixer_ctl(kRxRemove, &r) < 0) {
            const Errno error;
            header(std::cerr) << "MIX_RX_REMOVE"
                              << " rx.number=" << s.summator << " tx.number=" << s.channel
                              << " fail : " << error << std::endl;
        }
    }
    UnRegister(&s);
}

void Mixer::Release(TdmOutput& s)
{
    StopDtmf(s);
    header(std::clog) << "clear tdm output " << s.channel << std::endl;
    mix_slot c{mId, kTdmChannel, s.channel};
    (void)mixer_ctl(kRxClear, &c);
    UnRegister(&s);
}

void Mixer::Reset()
{
    header(std::clog) << "clear all inputs" << std::endl;
    int errors = 0;
    const int channels = mTdmChannels();
    for (int channel = 0; channel < channels; ++channel) {
        mix_slot c{mId, kTdmChannel, channel};
        if (mixer_ctl(kRxClear, &c) < 0)
            ++errors;
    }
    if (errors)
        header(std::cerr) << "reset fail: " << errors << " errors." << std::endl;
}

void Mixer::Clear()
{
    // A slot's signal may lead to its destroy: walk a copy.
    const std::list<MixerSlot*> slots = mSlots;
    for (MixerSlot* s : slots)
        s->OnAbort(0);
    CheckForDestroy();
}

MixerSlot* Mixer::Register(MixerSlot* s)
{
    mSlots.push_back(s);
    return s;
}

void Mixer::UnRegister(MixerSlot* s)
{
    mSlots.remove(s);
    CheckForDestroy();
}

void Mixer::CheckForDestroy()
{
    // A slot's release brought us here, and the unit's own frames may still be
    // on the stack: the loop deletes it when they are gone.
    if (mDead && mSlots.empty())
        multiplexer.deferredDelete(this);
}

MixerSlot::~MixerSlot()
{
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
}

bool TdmInput::IBeforeDestroy()
{
    HwMux::instance().Disable(timeslot);
    mixer.Release(*this);
    return true;
}

bool TdmInput::Ioctl(LGCP::IoctlParams const& c)
{
    bool result = false;
    Hardware::TonecReceiver& tone = *this;
    Hardware::DSProcReceiver& dsp = *this;
    if (MediaIoctl::Receive(tone, dsp, c, result) || MediaIoctl::Common(tone, dsp, c, result))
        return result;
    if (c.iva_enable_isSelected())
        return enableIVA(c.get_iva_enable());
    if (c.iva_params_isSelected())
        return configureIVA(c.get_iva_params());
    if (c.delays_isSelected())
        return ConfigureDelays(dsp, c.get_delays());
    return false;
}

bool TdmOutput::IBeforeDestroy()
{
    HwMux::instance().Disable(timeslot);
    mixer.Release(*this);
    return true;
}

bool TdmOutput::Ioctl(LGCP::IoctlParams const& c)
{
    bool result = false;
    Hardware::TonecReceiver& tone = *this;
    Hardware::DSProcReceiver& dsp = *this;
    if (MediaIoctl::Common(tone, dsp, c, result))
        return result;
    if (c.dtmf_disable_isSelected())
        return disableToneGenerator(false);
    if (c.dtmf_reject_disable_isSelected())
        return enableDTMFReject(false);
    if (c.iva_enable_isSelected())
        return enableIVA(c.get_iva_enable());
    if (c.tone_gen_enable_isSelected()) {
        const LGCP::ToneGenerator& g = c.get_tone_gen_enable();
        disableToneGenerator(false);
        enableToneGenerator(std::uint16_t(g.get_freq().getValue() & 0xFFFF), 0,
                            std::uint16_t(g.get_amp().getValue() & 0xFFFF), 0);
        return true;
    }
    if (c.tone_gen_disable_isSelected()) {
        disableToneGenerator(true);
        return true;
    }
    if (c.delays_isSelected())
        return ConfigureDelays(dsp, c.get_delays());
    return false;
}

} // namespace Mixer
