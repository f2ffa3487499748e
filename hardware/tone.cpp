#include "hardware/tone.hpp"

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
#include "platform/devices.hpp"
#include "runtime/log_text.hpp"

namespace Hardware
{

namespace
{
using namespace platform;

// The live receivers, in the order of their construction.
Containers::CyclicList receivers;

TonecReceiverService* current = nullptr;

void eventPieces(std::ostream& os, const dtmf::ToneEvent& e)
{
    os << " timestamp=" << e.timestamp << " timeslot=" << e.timeslot << " code=" << e.code << " id=" << e.id;
}

} // namespace

TonecReceiverService& TonecReceiverService::instance()
{
    if (!current) {
        static TonecReceiverService service;
        (void)service;
    }
    return *current;
}

TonecReceiverService::TonecReceiverService() : mPrevious(current)
{
    current = this;
    init();
}

TonecReceiverService::~TonecReceiverService()
{
    if (current == this)
        current = mPrevious;
}

void TonecReceiverService::init()
{
    Fd fd;
    if (!fd.open(GetDTMFDevName(), O_RDONLY | O_NONBLOCK)) {
        std::cerr << "open tonec fail, DTMF proceeding disabled: " << Errno() << std::endl;
        return;
    }
    mReadFailed = false;
    ++mOpens;
    mEvent.Bind("TonecReceiverService::OnEvent", &TonecReceiverService::OnEvent, this);
    mEvent.Schedule(fd, POLLIN);
}

bool TonecReceiverService::opened()
{
    if (!is_open())
        init();
    return is_open();
}

void TonecReceiverService::let_go()
{
    mEvent.Release();
    mReadFailed = false;
    // Whether the driver keeps what this descriptor asked for is the
    // driver's affair: every function of every timeslot is unknown until a
    // request for it reaches the device opened afresh.
    for (Containers::CyclicList& node : receivers)
        Containers::offset(&node, &TonecReceiver::mListNode)->forget_driver();
}

template <class Arg> int TonecReceiverService::request(unsigned long code, Arg arg)
{
    return RequestOrReopen(mEvent, code, arg, [this] {
        std::cerr << "tonec device error, events disabled" << std::endl;
        let_go();
        return opened();
    });
}

TonecReceiver* TonecReceiverService::find(unsigned ts)
{
    for (Containers::CyclicList& node : receivers) {
        TonecReceiver* r = Containers::offset(&node, &TonecReceiver::mListNode);
        if (r->tonec_timeslot() == ts)
            return r;
    }
    return nullptr;
}

bool TonecReceiverService::configureDTMF(unsigned ts, LGCP::DTMFParams const& params)
{
    if (!opened()) {
        std::cerr << "configure DTMF fail: (interface not opened)"
                  << " timeslot=" << ts << std::endl;
        return false;
    }
    dtmf::DetectorConfig c{};
    c.timeslot = ts;
    c.twist = std::uint32_t(params.get_threshold().get_twist().getValue());
    c.ratio = std::uint32_t(params.get_threshold().get_ratio().getValue());
    c.noise = std::uint32_t(params.get_threshold().get_noise().getValue());
    c.silence = std::uint32_t(params.get_level().get_silence().getValue());
    if (request(dtmf::kConfigureDetector, &c) == -1) {
        std::cerr << "DTMF_CONFIGURE_DETECTOR fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    std::clog << "DTMF_CONFIGURE_DETECTOR"
              << " ts=" << ts << " twist=" << c.twist << " ratio=" << c.ratio << " noise=" << c.noise
              << " silence=" << c.silence << std::endl;
    return true;
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on)
{
    if (receiver.mDtmfDetector == TonecReceiver::known(on))
        return true;
    if (!opened())
        return false;
    const unsigned ts = receiver.tonec_timeslot();
    if (on) {
        if (++mLastId == 0)
            mLastId = 1;
        dtmf::DetectorEnable e{ts, mLastId};
        if (request(dtmf::kEnableDetector, &e) == -1) {
            std::cerr << "DTMF_ENABLE_DETECTOR fail:"
                      << " timeslot=" << ts << " id=" << mLastId << ErrnoPiece() << std::endl;
            return false;
        }
        receiver.mEventId = mLastId;
        receiver.mDtmfDetector = TonecReceiver::Known::on;
        std::cerr << "DTMF_ENABLE_DETECTOR done:"
                  << " timeslot=" << ts << " id=" << mLastId << std::endl;
        return true;
    }
    if (request(dtmf::kDisableDetector, ts) == -1) {
        std::cerr << "DTMF_DISABLE_DETECTOR fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    receiver.mDtmfDetector = TonecReceiver::Known::off;
    std::cerr << "DTMF_DISABLE_DETECTOR done:"
              << " timeslot=" << ts << std::endl;
    return true;
}

bool TonecReceiverService::simple(unsigned long code, unsigned ts, const char* name, const char* suffix)
{
    if (!opened())
        return false;
    if (request(code, ts) == -1) {
        std::cerr << name << suffix << " fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    std::clog << name << suffix << "[" << ts << "] ok" << std::endl;
    return true;
}

bool TonecReceiverService::echoCancel(unsigned ts, bool on)
{
    return simple(on ? dtmf::kLmsOn : dtmf::kLmsOff, ts, "CHANNEL_LMS", on ? "_ON" : "_OFF");
}

bool TonecReceiverService::enableDTMFReject(unsigned ts, bool on)
{
    return simple(on ? dtmf::kRejectionOn : dtmf::kRejectionOff, ts, "DTMF_REJECTION",
                  on ? "_ENABLE" : "_DISABLE");
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on)
{
    if (!simple(on ? dtmf::kIvaOn : dtmf::kIvaOff, receiver.tonec_timeslot(), "IVA_DETECTOR",
                on ? "_ENABLE" : "_DISABLE"))
        return false;
    receiver.mIvaDetector = TonecReceiver::known(on);
    return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, LGCP::IVAParams const& params)
{
    const unsigned ts = receiver.tonec_timeslot();
    if (!opened()) {
        std::cerr << "configure IVA fail: (interface not opened)"
                  << " timeslot=" << ts << std::endl;
        return false;
    }
    dtmf::IvaConfig c{ts, params.get_det_lvl_dB().getValue()};
    if (request(dtmf::kIvaConfigure, &c) == -1) {
        std::cerr << "IVA_CONFIGURE_DETECTOR fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    std::clog << "IVA_CONFIGURE_DETECTOR"
              << " ts=" << ts << " det_lvl_dB=" << c.level << std::endl;
    return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned ts, std::uint16_t f1, std::uint16_t f2,
                                               std::uint16_t a1, std::uint16_t a2)
{
    if (!opened())
        return false;
    dtmf::Dial d{ts, f1, f2, a1, a2};
    if (request(dtmf::kDial, &d) == -1) {
        std::cerr << "DTMF_DIAL fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    return true;
}

bool TonecReceiverService::translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command)
{
    const unsigned ts = receiver.tonec_timeslot();
    const std::string& signs = command.get_signs();
    if (signs.size() < 4) {
        std::cerr << "SELCAL_DIAL fail:"
                  << " timeslot=" << ts << " incorect signs:" << ext::escaped(signs) << std::endl;
        return false;
    }
    if (!opened())
        return false;
    dtmf::SelcalDial d{};
    d.timeslot = ts;
    d.amp = std::uint16_t(command.amp_isPresent() ? command.get_amp().getValue() : 12000);
    std::memcpy(d.signs, signs.data(), sizeof d.signs);
    if (request(dtmf::kSelcalDial, &d) == -1) {
        std::cerr << "SELCAL_DIAL fail:"
                  << " timeslot=" << ts << ErrnoPiece() << std::endl;
        return false;
    }
    return true;
}

void TonecReceiverService::OnEvent(int fd, short revents)
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
        std::cerr << "tonec device error, events disabled" << std::endl;
        let_go();
    }
}

void TonecReceiverService::read_events(int fd)
{
    for (const unsigned opens = mOpens; mEvent.IsActive() && opens == mOpens;) {
        dtmf::ToneEvent e{};
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
            std::cerr << "fail to read from tonec: " << Errno() << std::endl;
            if (mReadFailed)
                let_go();
            else
                mReadFailed = true;
            return;
        }
        mReadFailed = false;
        // The driver hands out whole records: a short or empty read means
        // there is nothing sensible left to read in this pass (an empty one
        // is also the end of a hung-up device, which the poll bits report).
        if (n != ssize_t(sizeof e))
            return;
        std::clog << "dtmf event: ";
        eventPieces(std::clog, e);
        std::clog << std::endl;
        TonecReceiver* r = find(e.timeslot);
        if (!r) {
            std::cerr << "receive tonec event from unknown timeslot " << e.timeslot << std::endl;
            continue;
        }
        if (!r->detector_enabled()) {
            std::clog << "ignore spurious dtmf event (DTMF disabled): ";
            eventPieces(std::clog, e);
            std::clog << std::endl;
            continue;
        }
        if (e.id != r->mEventId) {
            std::clog << "ignore spurious dtmf event: ";
            eventPieces(std::clog, e);
            std::clog << " rid=" << r->mEventId << std::endl;
            continue;
        }
        r->tonec_event(TonecReceiver::Params{e.code, e.timestamp});
    }
}

// The receiver mixin.

TonecReceiver::TonecReceiver()
{
    receivers.AddToTail(&mListNode);
}

TonecReceiver::~TonecReceiver()
{
    mCadence.reset();
}

bool TonecReceiver::configureDTMF(LGCP::DTMFParams const& params)
{
    return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on)
{
    if (!TonecReceiverService::instance().enableDTMF(*this, on))
        return false;
    mDtmfOn = known(on);
    return true;
}

bool TonecReceiver::disableDTMF()
{
    return enableDTMF(false);
}

bool TonecReceiver::echoCancel(bool on)
{
    return TonecReceiverService::instance().echoCancel(tonec_timeslot(), on);
}

bool TonecReceiver::enableDTMFReject(bool on)
{
    if (!TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on))
        return false;
    mRejectOn = known(on);
    return true;
}

bool TonecReceiver::enableIVA(bool on)
{
    if (!TonecReceiverService::instance().enableIVA(*this, on))
        return false;
    mIvaOn = known(on);
    return true;
}

bool TonecReceiver::configureIVA(LGCP::IVAParams const& params)
{
    return TonecReceiverService::instance().configureIVA(*this, params);
}

bool TonecReceiver::translateSelcal(TERM::SelcalCommand const& command)
{
    return TonecReceiverService::instance().translateSelcal(*this, command);
}

bool TonecReceiver::enableToneGenerator(std::uint16_t f1, std::uint16_t f2, std::uint16_t a1,
                                        std::uint16_t a2)
{
    if (!TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), f1, f2, a1, a2))
        return false;
    mGenerator = known(f1 || f2 || a1 || a2);
    return true;
}

bool TonecReceiver::enableSilence()
{
    return enableToneGenerator(1000, 1000, 0, 0);
}

bool TonecReceiver::disableToneGenerator(bool force)
{
    if (!force && !mSendingDtmf)
        return false;
    if (mSendingDtmf) {
        mCadence.reset();
        mSendingDtmf = false;
    }
    return enableToneGenerator(0, 0, 0, 0);
}

void TonecReceiver::translateDTMF(LGCP::TranslateDtmfParams const& params)
{
    mPending = params;
    if (mSendingDtmf)
        return;
    // A string replaces a running ringback: its step is cancelled here.
    mCadence.reset();
    mRingback = false;
    mSendingDtmf = true;
    on_DTMFPauseFinish(nullptr);
}

void TonecReceiver::forget_driver()
{
    mDtmfDetector = mIvaDetector = Known::unknown;
    mEventId = 0;
    mDtmfOn = mIvaOn = mRejectOn = Known::unknown;
    mGenerator = Known::unknown;
}

void TonecReceiver::finish_string()
{
    disableToneGenerator(true);
    tone_gen_complete();
}

void TonecReceiver::on_DTMFPauseFinish(Timer*)
{
    auto& digits = mPending.set_digits();
    if (digits.size() == 0) {
        finish_string();
        return;
    }
    const LGCP::DualTone& d = digits[0];
    const auto amp1 = std::uint16_t(mPending.amp1_isPresent() ? mPending.get_amp1().getValue() : kDigitAmp);
    const auto amp2 = std::uint16_t(mPending.amp2_isPresent() ? mPending.get_amp2().getValue() : kDigitAmp);
    enableToneGenerator(std::uint16_t(d.get_freq1().getValue()), std::uint16_t(d.get_freq2().getValue()),
                        amp1, amp2);
    digits.erase(digits.begin());
    const unsigned ms =
        mPending.toneDuration_isPresent() ? unsigned(mPending.get_toneDuration().getValue()) : kToneMs;
    mCadence.set(ms, &TonecReceiver::on_DTMFToneFinish, this);
}

void TonecReceiver::on_DTMFToneFinish(Timer*)
{
    enableSilence();
    const unsigned ms =
        mPending.pauseDuration_isPresent() ? unsigned(mPending.get_pauseDuration().getValue()) : kPauseMs;
    mCadence.set(ms, &TonecReceiver::on_DTMFPauseFinish, this);
}

void TonecReceiver::activateAudibleCall()
{
    // The ringback starts at once: its first step replaces the pending step of
    // a string being sent, which ends that string (unfinished, so not
    // reported complete). The sending flag goes with it, or a later string
    // would only replace digits nobody sends and a cancel would do nothing.
    if (mSendingDtmf) {
        mSendingDtmf = false;
        mPending.set_digits().clear();
    }
    mRingback = true;
    on_waitPauseFinish(nullptr);
}

void TonecReceiver::on_waitPauseFinish(Timer*)
{
    enableToneGenerator(kRingbackHz, 0, kRingbackAmp, kRingbackAmp);
    mCadence.set(kRingbackToneMs, &TonecReceiver::on_waitToneFinish, this);
}

void TonecReceiver::on_waitToneFinish(Timer*)
{
    enableSilence();
    mCadence.set(kRingbackPauseMs, &TonecReceiver::on_waitPauseFinish, this);
}

void TonecReceiver::cancelAudibleCall()
{
    if (mSendingDtmf)
        return;
    // Stopping the wait tone stops its cadence too, or the next step would
    // sound it again.
    mCadence.reset();
    mRingback = false;
    disableToneGenerator(true);
}

void TonecReceiver::CleanBeforeDestroy()
{
    // An unknown function may be on: it is switched off as one that is.
    if (mDtmfOn != Known::off)
        disableDTMF();
    if (mIvaOn != Known::off)
        enableIVA(false);
    if (mRejectOn != Known::off)
        enableDTMFReject(false);
    // A tone would otherwise sound for ever on the timeslot; the echo
    // canceller is left as it is.
    mCadence.reset();
    mRingback = false;
    if (mGenerator != Known::off || mSendingDtmf)
        disableToneGenerator(true);
}

} // namespace Hardware

namespace Dtmf
{

TonesValidator::TonesValidator()
{
    for (unsigned i = 0; i < NumTones; ++i)
        emplace(strRep[i], std::make_pair(freq1[i], freq2[i]));
}

const TonesValidator tonesValidator;

} // namespace Dtmf
