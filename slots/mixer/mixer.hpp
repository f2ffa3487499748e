#pragma once
// The conference mixer's units and their slots. The board's mixer
// ("/dev/mixer") has one or more units, each with TDM channels numbered from
// 0; a channel acts as a mixer input (the unit takes it from the TDM switch)
// or as a mixer output (the unit sends a weighted sum of inputs to the
// switch). A Mixer object stands for one unit and keeps the unit's live
// slots; TdmInput and TdmOutput are the controller's slots on one channel,
// each with the tone and DSP receivers of its switch channel.
//
// Units are found and slots built by MixerFactory (slots/mixer/mixer_factory.hpp),
// which gives each unit, when it makes it, the way to read the TDM channel
// count of the moment: the unit knows nothing of the factory itself.
// A unit the driver stops reporting is dead: its slots are told (abort 0),
// and the object goes when the last of them is released, deleted by the loop
// on its next turn rather than inside the release that emptied it.
#include <functional>
#include <list>
#include <ostream>

#include "hardware/dsp.hpp"
#include "hardware/tone.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "platform/devices.hpp"
#include "runtime/deferred_delete.hpp"
#include "slots/slot.hpp"

namespace Mixer
{

using platform::mixer::mix_slot;

class MixerSlot;
class TdmInput;
class TdmOutput;

// One request to the mixer device: open (read-only, close-on-exec), the
// request, close. The request's result; -1 with errno (the open's when the
// device does not open), which the close does not disturb.
int mixer_ctl(platform::Request request, void* argument);

class Mixer : public DeferredDeletable
{
public:
    // The TDM channel count that bounds a unit's channels, as the factory
    // knows it at the moment of asking (-1 before any unit reported one).
    using ChannelCount = std::function<int()>;

    Mixer(int id, ChannelCount tdmChannels);
    ~Mixer() override = default;

    int id() const { return mId; }
    bool isDead() const { return mDead; }
    void setDead(bool dead) { mDead = dead; }
    // "mixer [<id>]: "
    std::ostream& PutHeader(std::ostream& os) const;

    // A slot on one of this unit's channels, or null.
    MixerSlot* New(LGCP::MixerInParams const& p);
    MixerSlot* New(LGCP::MixerOutParams const& p);
    // A slot's share of the unit is undone at its destroy.
    void Release(TdmInput& s);
    void Release(TdmOutput& s);

    // Clears every channel's sum.
    void Reset();
    // Tells every slot of a unit that is gone (abort 0), then checks whether
    // the object can go.
    void Clear();
    // This unit's TDM channel for the controller's channel; false for anything
    // but a TDM channel.
    bool Channel2Slot(LGCP::MixerChannel const& ch, mix_slot& out) const;
    bool ClearTX(LGCP::MixerChannel const& ch);
    bool SetTX(LGCP::MixerOutParams const& p);
    // The switch channel of a unit channel, -1 when the driver does not say.
    int channel2timeslot(int channel);
    MixerSlot* Register(MixerSlot* s);
    void UnRegister(MixerSlot* s);
    // A dead unit without slots is handed to the loop for deletion.
    void CheckForDestroy();

    std::list<MixerSlot*> const& slots() const { return mSlots; }

private:
    std::ostream& header(std::ostream& os) const;
    // The channel of a create's parameters when it is a TDM channel of this
    // unit's range, else -1.
    int tdmChannel(LGCP::MixerChannel const& ch) const;
    // Silences a slot's tone generator while it is sending DTMF.
    static void StopDtmf(Hardware::TonecReceiver& tone);

    int mId;
    ChannelCount mTdmChannels;
    bool mDead = false;
    std::list<MixerSlot*> mSlots;
};

// The slot type a unit keeps in its list: one unit channel on its switch
// channel, with that channel's tone and DSP receivers, which it switches off
// before it goes.
class MixerSlot : public Slot, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver
{
protected:
    MixerSlot(Mixer& mixer_, int channel_, int timeslot_)
        : mixer(mixer_), channel(channel_), timeslot(timeslot_)
    {
    }
    ~MixerSlot() override;

    unsigned tonec_timeslot() const override { return unsigned(timeslot); }
    unsigned dsproc_timeslot() const override { return unsigned(timeslot); }

    Mixer& mixer;
    int channel;
    int timeslot;
};

class TdmInput : public MixerSlot
{
public:
    TdmInput(Mixer& mixer, int channel, int timeslot) : MixerSlot(mixer, channel, timeslot) {}

    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& c) override;
    bool IOnInputStream() override { return true; }
    int IGetReceiveChannel() override { return timeslot; }
    char const* GetName() const override { return "mixer tdm input"; }

    int get_channel() const { return channel; }
    int get_summator() const { return summator; }
    bool is_summator_set() const { return summatorSet; }

private:
    friend class Mixer;

    void tonec_event(Hardware::TonecReceiver::Params const& p) override { processTonecEvent(p); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const& e) override { processVADEvent(e); }
    void dsproc_bss_event(struct dsproc_bss_event const* e) override { processBSSEvent(e); }
    void dsproc_sd_event(Hardware::DSProcSDEvent const& e) override { processSDEvent(e); }
    void dsproc_tone_flt_event(struct dsproc_tone_event const* e) override { processToneFltEvent(e); }
    void dsproc_flags_event(struct dsproc_flags_event const* e) override { processFlagsEvent(e); }

    bool summatorSet = false;
    int summator = -1;
};

// Reached as a slot only through the unit that built it.
class TdmOutput : MixerSlot
{
public:
    TdmOutput(Mixer& mixer, int channel, int timeslot) : MixerSlot(mixer, channel, timeslot) {}

    bool IBeforeDestroy() override;
    bool Ioctl(LGCP::IoctlParams const& c) override;
    bool IOnOutputStream() override { return true; }
    int IGetTransmitChannel() override { return timeslot; }
    char const* GetName() const override { return "mixer tdm output"; }

    int get_channel() const { return channel; }

private:
    friend class Mixer;

    // An output hears no digits of its own: only its generator's end and the
    // DSP's tone and flag reports reach the controller.
    void tonec_event(Hardware::TonecReceiver::Params const&) override {}
    void tone_gen_complete() override { processToneGenEvent(); }
    void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
    void dsproc_bss_event(struct dsproc_bss_event const*) override {}
    void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
    void dsproc_tone_flt_event(struct dsproc_tone_event const* e) override { processToneFltEvent(e); }
    void dsproc_flags_event(struct dsproc_flags_event const* e) override { processFlagsEvent(e); }
};

} // namespace Mixer
