// The decoders of media slots' event records: each record becomes at most
// one signal of each kind for the controller.
#include <cstdio>
#include <iostream>

#include "slots/slot.hpp"

namespace
{
const std::uint32_t kVadRx = 0x20000000;
const std::uint32_t kVadTx = 0x40000000;
const std::uint32_t kSelcal = 0x80000000;
const std::int32_t kCed = 17;
const std::int32_t kCng = 18;
const std::int32_t kIvaLast = 20;
const std::int32_t kIvaRingOff = 21;
} // namespace

void Slot::processTonecEvent(Hardware::TonecReceiver::Params const& params)
{
    const std::int32_t c = params.code;
    LGCP::TonecEvent event;
    event.set_timestamp(std::int32_t(params.timestamp));
    LGCP::TonecCode& code = event.set_event();
    if (c == kCed) {
        code.select_ced();
    } else if (c == kCng) {
        code.select_cng();
    } else if (c >= 0 && c <= 127) {
        code.select_dtmf(unsigned(c));
    } else {
        // Arithmetic shift: a negative code stays negative.
        const std::int32_t k = c >= 0 ? c >> 8 : ~(~c >> 8);
        if (k >= 1 && k <= kIvaLast) {
            code.select_iva().select_code(unsigned(k));
        } else if (k == kIvaRingOff) {
            code.select_iva().select_ringoff();
        } else {
            std::cerr << "bad DTMF code, ignored." << std::endl;
            return;
        }
    }
    OnTonecEvent(event);
}

void Slot::processToneGenEvent()
{
    LGCP::TonecEvent event;
    event.set_timestamp(0);
    event.set_event().select_dtmfDone();
    OnTonecEvent(event);
}

void Slot::processToneFltEvent(dsproc_tone_event const* e)
{
    LGCP::TonecEvent event;
    event.set_timestamp(0);
    LGCP::TonePresence& p = event.set_event().select_tone_presence();
    p.set_freq(e->freq);
    p.set_presence(e->presence != 0);
    OnTonecEvent(event);
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& e)
{
    LGCP::VADEvent event;
    int set = 0;
    if (e.rx >= 0) {
        event.set_vad_rx(e.rx != 0);
        ++set;
    }
    if (e.tx >= 0) {
        event.set_vad_tx(e.tx != 0);
        ++set;
    }
    if (!set) {
        std::cerr << "bad VAD event, ignored." << std::endl;
        return;
    }
    OnVADEvent(event);
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& e)
{
    if (e.value < 0) {
        std::cerr << "bad SD event, ignored." << std::endl;
        return;
    }
    LGCP::SDEvent event;
    event.set_sd_rx(e.value != 0);
    OnSDEvent(event);
}

void Slot::processFlagsEvent(dsproc_flags_event const* e)
{
    if (e->mask & (kVadRx | kVadTx)) {
        LGCP::VADEvent event;
        if (e->mask & kVadRx)
            event.set_vad_rx((e->flags & kVadRx) != 0);
        if (e->mask & kVadTx)
            event.set_vad_tx((e->flags & kVadTx) != 0);
        OnVADEvent(event);
    }
    if (e->mask & kSelcal) {
        LGCP::SelcalEvent event;
        event.set_in_progress((e->flags & kSelcal) != 0);
        SendSignal(LGCP::Signal(LGCP::Signal::selcal::value, event));
    }
}

void Slot::processBSSEvent(dsproc_bss_event const* e)
{
    char text[32];
    std::snprintf(text, sizeof text, "%4.6f", double(e->score));
    LGCP::BSSEvent event;
    event.set_score(text);
    SendSignal(LGCP::Signal(LGCP::Signal::bss::value, event));
}

void Slot::processRtpEvent(platform::rtp::rtp_event const& e)
{
    if (e.type != platform::rtp::kEventPd)
        return;
    LGCP::RtpEvent event;
    LGCP::RtpPDEvent& pd = event.select_pd();
    pd.set_value(std::int32_t(e.value));
    pd.set_timeout(std::int32_t(e.timeout));
    OnRtpEvent(event);
}
