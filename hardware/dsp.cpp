#include "hardware/dsp.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <unistd.h>

#include "hardware/dev_names.hpp"
#include "hardware/device_request.hpp"
#include "hardware/media_log.hpp"
#include "platform/board.hpp"
#include "runtime/traces.hpp"

namespace Hardware
{

namespace
{
using namespace platform;

// The live receivers, in the order of their construction.
Containers::CyclicList receivers;

DSProcReceiverService* current = nullptr;

template <class T> void put(dsp::Configure& c, unsigned offset, T value)
{
    // Offsets count from the record's start; the parameters begin at 8.
    std::memcpy(c.params + offset - 8, &value, sizeof value);
}

void pieces(std::ostream& os, const dsp::DspEvent& e)
{
    os << " timeslot=" << e.timeslot << " id=" << e.id << " type=" << e.type;
}

} // namespace

struct DSProcReceiverService::Function {
    DSProcReceiver::State DSProcReceiver::*state;
    std::uint32_t mask;
    const char* name;
};

DSProcReceiverService& DSProcReceiverService::instance()
{
    if (!current) {
        static DSProcReceiverService service;
        (void)service;
    }
    return *current;
}

DSProcReceiverService::DSProcReceiverService() : mPrevious(current)
{
    current = this;
    init();
}

DSProcReceiverService::~DSProcReceiverService()
{
    if (current == this)
        current = mPrevious;
}

void DSProcReceiverService::init()
{
    Fd fd;
    if (!fd.open(GetDSPDevName(), O_RDWR | O_NONBLOCK)) {
        std::cerr << "open dsproc fail, VAD proceeding disabled: " << Errno() << std::endl;
        return;
    }
    mReadFailed = false;
    ++mOpens;
    mEvent.Bind("DSProcReceiverService::OnEvent", &DSProcReceiverService::OnEvent, this);
    mEvent.Schedule(fd, POLLIN);
}

bool DSProcReceiverService::opened()
{
    if (!is_open())
        init();
    return is_open();
}

bool DSProcReceiverService::opened(const char* notOpen, unsigned ts)
{
    if (opened())
        return true;
    std::cerr << notOpen << " timeslot=" << ts << std::endl;
    return false;
}

void DSProcReceiverService::let_go()
{
    mEvent.Release();
    mReadFailed = false;
    // Whether the driver keeps what this descriptor asked for is the
    // driver's affair: every function of every timeslot is unknown until a
    // request for it reaches the device opened afresh.
    for (Containers::CyclicList& node : receivers)
        Containers::offset(&node, &DSProcReceiver::mListNode)->forget_driver();
}

template <class Arg> int DSProcReceiverService::request(unsigned long code, Arg arg)
{
    return RequestOrReopen(mEvent, code, arg, [this] {
        std::cerr << "dsproc device error, events disabled" << std::endl;
        let_go();
        return opened();
    });
}

bool DSProcReceiverService::configure(const dsp::Configure& record)
{
    dsp::Configure c = record;
    return request(dsp::kConfigure, &c) != -1;
}

std::uint32_t DSProcReceiverService::next_id()
{
    if (++mLastId == 0)
        mLastId = 1;
    return mLastId;
}

DSProcReceiver* DSProcReceiverService::find(unsigned ts)
{
    for (Containers::CyclicList& node : receivers) {
        DSProcReceiver* r = Containers::offset(&node, &DSProcReceiver::mListNode);
        if (r->dsproc_timeslot() == ts)
            return r;
    }
    return nullptr;
}

bool DSProcReceiverService::configureVAD(unsigned ts, LGCP::VADParams const& params)
{
    if (!opened("configure VAD fail: (interface not opened)", ts))
        return false;
    dsp::Configure c{};
    c.timeslot = ts;
    c.function = dsp::kVad;
    if (request(dsp::kVadVersion, 0) == 2) {
        if (!params.v2_isSelected()) {
            std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: "
                      << " timeslot=" << ts << std::endl;
            return false;
        }
        const TERM::VADParamsV2& v2 = params.get_v2();
        put(c, 8, std::uint16_t(v2.get_voice_th_msec().getValue()));
        put(c, 10, std::uint16_t(v2.get_silence_th_msec().getValue()));
        put(c, 12, std::uint8_t(v2.get_e_th_dB().getValue()));
    } else {
        put(c, 8, std::uint32_t(3));
        put(c, 12, std::uint32_t(127));
        put(c, 16, std::uint32_t(0));
    }
    if (!configure(c)) {
        std::cerr << "DSPROC_CONFIGURE VAD fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    std::clog << "DSPROC_CONFIGURE VAD"
              << " ts=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::configureSD(unsigned ts)
{
    if (!opened("configure SD fail: (interface not opened)", ts))
        return false;
    dsp::Configure c{};
    c.timeslot = ts;
    c.function = dsp::kSd;
    if (!configure(c)) {
        std::cerr << "DSPROC_CONFIGURE SD fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    std::clog << "DSPROC_CONFIGURE SD"
              << " ts=" << ts << std::endl;
    return true;
}

void DSProcReceiverService::configureDelays(unsigned ts, unsigned rx, unsigned tx)
{
    if (!opened("configure Delays fail: (interface not opened)", ts))
        return;
    dsp::Configure c{};
    c.timeslot = ts;
    c.function = dsp::kDelays;
    put(c, 8, std::uint32_t(rx));
    put(c, 12, std::uint32_t(tx));
    if (!configure(c)) {
        std::cerr << "DSPROC_CONFIGURE DELAYS fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return;
    }
    std::clog << "DSPROC_CONFIGURE DELAYS"
              << " ts=" << ts << " rx=" << rx << " tx=" << tx << std::endl;
}

void DSProcReceiverService::configureRxGain(unsigned ts, char gain)
{
    if (!opened("Configure Rx gain fail: (interface not opened)", ts))
        return;
    dsp::Configure c{};
    c.timeslot = ts;
    c.function = dsp::kRxGain;
    put(c, 8, std::int8_t(gain));
    if (!configure(c)) {
        std::cerr << "DSPROC_CONFIGURE Rx Gain fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return;
    }
    std::clog << "DSPROC_CONFIGURE RX GAIN"
              << " ts=" << ts << " gain_dB=" << int(std::int8_t(gain)) << std::endl;
}

void DSProcReceiverService::configureToneFilter(unsigned ts, unsigned freq, unsigned enable, int duration,
                                                int level)
{
    if (!opened("Configure Tone Filter fail: (interface not opened)", ts))
        return;
    dsp::Configure c{};
    c.timeslot = ts;
    c.function = dsp::kToneFilter;
    put(c, 8, std::uint16_t(freq));
    put(c, 10, std::uint8_t(enable));
    put(c, 12, std::uint16_t(duration));
    put(c, 14, std::uint8_t(level));
    if (!configure(c)) {
        std::cerr << "DSPROC_CONFIGURE Tone Filter fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return;
    }
    std::clog << "DSPROC_CONFIGURE TONE FILTER"
              << " ts=" << ts << " freq=" << freq << ", en=" << enable << ", dur_th_msec=" << duration
              << ", det_lvl_dB=" << level << std::endl;
}

void DSProcReceiverService::disableToneAll(DSProcReceiver& receiver)
{
    const unsigned ts = receiver.dsproc_timeslot();
    if (!opened("Disable All Tone fail: (interface not opened)", ts))
        return;
    dsp::Switch s{ts, 0, dsp::kToneFilter};
    if (request(dsp::kDisable, &s) == -1) {
        std::cerr << "Disable All Tone fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return;
    }
    std::clog << "DISABLE ALL TONE done: "
              << " ts=" << ts << std::endl;
}

bool DSProcReceiverService::enable(DSProcReceiver& receiver, const Function& f, bool on)
{
    DSProcReceiver::State& state = receiver.*f.state;
    if (state.state >= DSProcReceiver::kOff && (state.state != DSProcReceiver::kOff) == on)
        return true;
    if (!opened())
        return false;
    const unsigned ts = receiver.dsproc_timeslot();
    if (on) {
        const std::uint32_t id = next_id();
        dsp::Switch s{ts, id, f.mask};
        if (request(dsp::kEnable, &s) == -1) {
            std::cerr << "DSPROC_ENABLE " << f.name << " fail:"
                      << " timeslot=" << ts << " id=" << id << ErrnoPiece() << std::endl;
            return false;
        }
        state = DSProcReceiver::State{DSProcReceiver::kOn, id};
        std::cerr << "DSPROC_ENABLE " << f.name << " done:"
                  << " timeslot=" << ts << " id=" << id << std::endl;
        return true;
    }
    dsp::Switch s{ts, 0, f.mask};
    if (request(dsp::kDisable, &s) == -1) {
        std::cerr << "DSPROC_DISABLE " << f.name << " fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    state.state = DSProcReceiver::kOff;
    std::cerr << "DSPROC_DISABLE " << f.name << " done:"
              << " timeslot=" << ts << std::endl;
    return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, Function{&DSProcReceiver::mVad, dsp::kVad, "VAD"}, on);
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, Function{&DSProcReceiver::mBss, dsp::kBss, "BSS"}, on);
}

bool DSProcReceiverService::enableNG(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, Function{&DSProcReceiver::mNg, dsp::kNg, "NG"}, on);
}

bool DSProcReceiverService::enableSD(DSProcReceiver& receiver, bool on)
{
    return enable(receiver, Function{&DSProcReceiver::mSd, dsp::kSd, "SD"}, on);
}

bool DSProcReceiverService::enableMute(DSProcReceiver& r, bool rx, bool tx)
{
    if (r.mMuteRx >= DSProcReceiver::kOff && r.mMuteTx >= DSProcReceiver::kOff &&
        (r.mMuteRx != DSProcReceiver::kOff) == rx && (r.mMuteTx != DSProcReceiver::kOff) == tx)
        return true;
    if (!opened())
        return false;
    const unsigned ts = r.dsproc_timeslot();
    if (rx || tx) {
        const std::uint32_t id = next_id();
        dsp::Switch s{ts, id, (rx ? dsp::kMuteRx : 0u) | (tx ? dsp::kMuteTx : 0u)};
        if (request(dsp::kEnable, &s) == -1) {
            std::cerr << "DSPROC_ENABLE MUTE fail:"
                      << " timeslot=" << ts << " id=" << id << ErrnoPiece() << std::endl;
            return false;
        }
        r.mMuteId = id;
        r.mMuteRx = rx;
        r.mMuteTx = tx;
        std::cerr << "DSPROC_ENABLE MUTE done:"
                  << " timeslot=" << ts << " id=" << id << std::endl;
        return true;
    }
    dsp::Switch s{ts, 0, dsp::kMuteRx | dsp::kMuteTx};
    if (request(dsp::kDisable, &s) == -1) {
        std::cerr << "DSPROC_DISABLE MUTE fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    r.mMuteRx = r.mMuteTx = 0;
    std::cerr << "DSPROC_DISABLE MUTE done:"
              << " timeslot=" << ts << std::endl;
    return true;
}

void DSProcReceiverService::OnEvent(int fd, short revents)
{
    // The records the driver queued are read first, also from a device that
    // has hung up or failed since. A receiver's request made while its record
    // is delivered may let the device go and open it afresh: what was polled
    // is then the old descriptor's.
    const unsigned opens = mOpens;
    if (revents & POLLIN)
        read_events(fd);
    if (mEvent.IsActive() && opens == mOpens && (revents & (POLLERR | POLLHUP | POLLNVAL))) {
        // A device in error stays in error (a hung-up one at end of file):
        // watching it on would make every loop pass return at once.
        std::cerr << "dsproc device error, events disabled" << std::endl;
        let_go();
    }
}

void DSProcReceiverService::read_events(int fd)
{
    const bool trace = traces.signalling.events;
    for (const unsigned opens = mOpens; mEvent.IsActive() && opens == mOpens;) {
        dsp::DspEvent e{};
        const ssize_t n = ::read(fd, &e, sizeof e);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                mReadFailed = false;
                return;
            }
            // A passing fault costs this pass only; one that fails again in
            // the next pass would fail in every pass: the device is let go
            // then, and opened afresh by the next request.
            std::cerr << "fail to read from dsproc: " << Errno() << std::endl;
            if (mReadFailed)
                let_go();
            else
                mReadFailed = true;
            return;
        }
        mReadFailed = false;
        // The driver hands out whole records: a short or empty read ends the
        // pass (an empty one is also the end of a hung-up device, which the
        // poll bits report).
        if (n != ssize_t(sizeof e))
            return;
        if (trace) {
            std::clog << "dsproc event: ";
            pieces(std::clog, e);
            std::clog << std::endl;
            switch (e.type) {
            case dsp::kEventVad:
                std::clog << "dsproc vad event: "
                          << " dir_mask=" << e.p[0] << " vad_rx=" << std::int32_t(e.p[1])
                          << " vad_tx=" << std::int32_t(e.p[2]) << std::endl;
                break;
            case dsp::kEventSd:
                std::clog << "dsproc sd event: "
                          << " sd_rx=" << std::int32_t(e.p[0]) << std::endl;
                break;
            case dsp::kEventBss: {
                float score;
                std::memcpy(&score, &e.p[0], sizeof score);
                std::clog << "dsproc bss event: "
                          << " score=" << score << std::endl;
                break;
            }
            case dsp::kEventFlags:
                std::clog << "dsproc flags event: "
                          << " flags=" << std::hex << e.p[0] << ", mask=" << e.p[1] << std::dec << std::endl;
                break;
            default:
                break;
            }
        }
        DSProcReceiver* r = find(e.timeslot);
        if (!r) {
            if (trace)
                std::cerr << "receive dsproc event from unknown timeslot " << e.timeslot << std::endl;
            continue;
        }
        deliver(*r, e);
    }
}

void DSProcReceiverService::deliver(DSProcReceiver& r, const dsp::DspEvent& e)
{
    const bool trace = traces.signalling.events;
    // The payload is the driver's record layout of the event's type.
    const void* payload = &e.p[0];
    switch (e.type) {
    case dsp::kEventVad:
    case dsp::kEventSd: {
        const bool vad = e.type == dsp::kEventVad;
        const DSProcReceiver::State& s = vad ? r.mVad : r.mSd;
        const char* what = vad ? "vad" : "sd";
        if (s.state == DSProcReceiver::kOff) {
            if (trace) {
                std::clog << "ignore spurious dsproc " << what << " event (dsproc disabled): ";
                pieces(std::clog, e);
                std::clog << std::endl;
            }
            return;
        }
        if (e.id != s.id) {
            if (trace) {
                std::clog << "ignore spurious dsproc " << what << " event: ";
                pieces(std::clog, e);
                std::clog << " rid=" << s.id << std::endl;
            }
            return;
        }
        if (vad) {
            DSProcVADEvent v;
            v.rx = (e.p[0] & 1) ? std::int32_t(e.p[1]) : -1;
            v.tx = (e.p[0] & 2) ? std::int32_t(e.p[2]) : -1;
            r.dsproc_vad_event(v);
        } else {
            DSProcSDEvent v;
            v.value = std::int32_t(e.p[0]);
            r.dsproc_sd_event(v);
        }
        return;
    }
    case dsp::kEventBss:
        if (r.mBss.state == DSProcReceiver::kOff) {
            if (trace) {
                std::clog << "ignore spurious dsproc bss event (dsproc disabled): ";
                pieces(std::clog, e);
                std::clog << std::endl;
            }
            return;
        }
        r.dsproc_bss_event(static_cast<const dsproc_bss_event*>(payload));
        return;
    case dsp::kEventTone:
        r.dsproc_tone_flt_event(static_cast<const dsproc_tone_event*>(payload));
        return;
    case dsp::kEventFlags:
        r.dsproc_flags_event(static_cast<const dsproc_flags_event*>(payload));
        return;
    default:
        return;
    }
}

// The receiver mixin.

DSProcReceiver::DSProcReceiver()
{
    receivers.AddToTail(&mListNode);
}

// The list node leaves the receiver list with the receiver.
DSProcReceiver::~DSProcReceiver() = default;

void DSProcReceiver::forget_driver()
{
    mVad = mBss = mNg = mSd = State{kLost, 0};
    mMuteRx = mMuteTx = kLost;
    mMuteId = 0;
    mDelaysSet = mRxGainSet = true;
}

bool DSProcReceiver::configureVAD(LGCP::VADParams const& params)
{
    return DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::configureSD()
{
    return DSProcReceiverService::instance().configureSD(dsproc_timeslot());
}

bool DSProcReceiver::enableVAD(bool on)
{
    return DSProcReceiverService::instance().enableVAD(*this, on);
}

bool DSProcReceiver::enableBSS(bool on)
{
    return DSProcReceiverService::instance().enableBSS(*this, on);
}

bool DSProcReceiver::enableNG(bool on)
{
    return DSProcReceiverService::instance().enableNG(*this, on);
}

bool DSProcReceiver::enableSD(bool on)
{
    return DSProcReceiverService::instance().enableSD(*this, on);
}

bool DSProcReceiver::enableMute(bool rx, bool tx)
{
    return DSProcReceiverService::instance().enableMute(*this, rx, tx);
}

void DSProcReceiver::configureDelays(unsigned rx, unsigned tx)
{
    DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx);
    mDelaysSet = rx || tx;
}

void DSProcReceiver::configureRxGain(char gain)
{
    DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gain);
    mRxGainSet = gain != 0;
}

void DSProcReceiver::configureToneFilter(unsigned freq, unsigned enable, int duration, int level)
{
    DSProcReceiverService::instance().configureToneFilter(dsproc_timeslot(), freq, enable, duration, level);
}

void DSProcReceiver::disableToneAll()
{
    DSProcReceiverService::instance().disableToneAll(*this);
}

void DSProcReceiver::CleanBeforeDestroy()
{
    if (may_be_on(mVad.state))
        enableVAD(false);
    if (may_be_on(mBss.state))
        disableBSS();
    if (may_be_on(mNg.state))
        disableNG();
    if (mDelaysSet)
        configureDelays(0, 0);
    if (mRxGainSet)
        configureRxGain(0);
    disableToneAll();
}

} // namespace Hardware
