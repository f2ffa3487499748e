#pragma once
// The tone service: the one owner of the board's tone device "/dev/dtmf". Per
// TDM timeslot it switches the DTMF detector, DTMF rejection, the line echo
// canceller and the IVA detector, drives the timeslot's tone generator (tones,
// silence, DTMF strings with their own cadence, the 425 Hz ringback cadence,
// SELCAL), and hands each event record the device reports to the receiver that
// owns the record's timeslot.
//
// A device the service lets go (a hang-up, or a read that fails in two passes
// in a row) is opened afresh by the next request that needs it, so no request
// goes to the closed descriptor. What each receiver knew the driver held for
// it becomes unknown: the driver may have kept it or not, so the next request
// of each function, on or off, and each off request of a destroy reach the new
// device. A request that fails on a device that has hung up before the
// service handled the hang-up (it came in the same loop turn) lets the device
// go at once and is made once more on the device opened afresh, so a
// receiver's let-go, destroy or enable in that turn reaches the board.
//
// Media slots take part through the mixin TonecReceiver: the slot names its
// timeslot and receives that timeslot's events; the mixin keeps what the slot
// switched on, its detector id and the DTMF string being sent. A slot calls
// CleanBeforeDestroy() from its destructor, which switches off the detectors,
// the rejection and the tone generator wherever they are on or unknown; the
// echo canceller is left as it is.
#include <cstdint>
#include <map>
#include <utility>

#include "messages/lgcp/LGCP.hpp"
#include "runtime/event.hpp"
#include "runtime/lists.hpp"
#include "runtime/timer.hpp"

namespace Hardware
{

class TonecReceiver;

class TonecReceiverService
{
public:
    // The single service, created on first use. A test may construct its own:
    // while it lives it is the one instance() gives.
    static TonecReceiverService& instance();

    TonecReceiverService();
    ~TonecReceiverService();
    TonecReceiverService(const TonecReceiverService&) = delete;
    TonecReceiverService& operator=(const TonecReceiverService&) = delete;

    void init();
    bool configureDTMF(unsigned ts, LGCP::DTMFParams const& params);
    bool enableDTMF(TonecReceiver& receiver, bool on);
    bool echoCancel(unsigned ts, bool on);
    bool enableDTMFReject(unsigned ts, bool on);
    bool enableIVA(TonecReceiver& receiver, bool on);
    bool configureIVA(TonecReceiver& receiver, LGCP::IVAParams const& params);
    bool enableToneGenerator(unsigned ts, std::uint16_t f1, std::uint16_t f2, std::uint16_t a1,
                             std::uint16_t a2);
    bool translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command);
    void OnEvent(int fd, short revents);

    bool is_open() const { return mEvent.IsActive(); }
    std::uint32_t last_id() const { return mLastId; }
    void set_last_id(std::uint32_t id) { mLastId = id; }

private:
    // The receiver of a timeslot: the first constructed of those that name it.
    static TonecReceiver* find(unsigned ts);
    // Reads and routes the queued records until none is left; a read that
    // fails ends the pass, and lets the device go when it failed in the
    // previous pass too.
    void read_events(int fd);
    // The device, opened again when the service does not hold it; false (the
    // open's failure logged) when it stays closed.
    bool opened();
    // Stops watching the device and closes it; what the receivers knew of
    // the driver becomes unknown.
    void let_go();
    // One request on the device, -1 with errno when it fails. A failure on a
    // descriptor that has hung up or is in error lets the device go as the
    // hang-up's handler would and makes the request once more on the device
    // opened afresh.
    template <class Arg> int request(unsigned long code, Arg arg);
    bool simple(unsigned long code, unsigned ts, const char* name, const char* suffix);

    Event mEvent;
    std::uint32_t mLastId = 0;
    bool mReadFailed = false; // the last read of the device failed
    unsigned mOpens = 0;      // one more each time the device is opened
    TonecReceiverService* mPrevious = nullptr;
};

class TonecReceiver
{
public:
    struct Params {
        std::int32_t code;
        std::uint32_t timestamp;
    };

    TonecReceiver();
    virtual ~TonecReceiver();
    TonecReceiver(const TonecReceiver&) = delete;
    TonecReceiver& operator=(const TonecReceiver&) = delete;

    virtual void tonec_event(Params const& params) = 0;
    virtual unsigned tonec_timeslot() const = 0;
    // A DTMF string has been sent completely.
    virtual void tone_gen_complete() {}

    bool configureDTMF(LGCP::DTMFParams const& params);
    bool enableDTMF(bool on);
    bool disableDTMF();
    bool echoCancel(bool on);
    bool enableDTMFReject(bool on);
    bool enableIVA(bool on);
    bool configureIVA(LGCP::IVAParams const& params);
    bool translateSelcal(TERM::SelcalCommand const& command);
    bool enableToneGenerator(std::uint16_t f1, std::uint16_t f2, std::uint16_t a1, std::uint16_t a2);
    bool enableSilence();
    bool disableToneGenerator(bool force);
    void translateDTMF(LGCP::TranslateDtmfParams const& params);
    void activateAudibleCall();
    void cancelAudibleCall();
    bool is_inDTMFTransmit() const { return mSendingDtmf; }
    void CleanBeforeDestroy();

    void on_DTMFPauseFinish(Timer*);
    void on_DTMFToneFinish(Timer*);
    void on_waitPauseFinish(Timer*);
    void on_waitToneFinish(Timer*);

    // The cadence of strings and ringback.
    static constexpr unsigned kToneMs = 70;
    static constexpr unsigned kPauseMs = 70;
    static constexpr std::uint16_t kDigitAmp = 16384;
    static constexpr std::uint16_t kRingbackHz = 425;
    static constexpr std::uint16_t kRingbackAmp = 2048;
    static constexpr unsigned kRingbackToneMs = 1000;
    static constexpr unsigned kRingbackPauseMs = 3000;

    // What the receiver knows of a function the driver keeps for its
    // timeslot. After the device was let go the driver may hold the function
    // either way: an unknown function is neither on nor off, so its next
    // request is sent whatever it asks.
    enum class Known : std::uint8_t { off, on, unknown };

    // What the service delivers by: DTMF and IVA detection keep their own
    // state, and either one lets the timeslot's events through.
    bool detector_enabled() const { return mDtmfDetector == Known::on || mIvaDetector == Known::on; }
    std::uint32_t event_id() const { return mEventId; }
    bool ringback_on() const { return mRingback; }

private:
    friend class TonecReceiverService;

    void finish_string();
    // The driver's state as this receiver knew it is gone with the device.
    void forget_driver();
    static Known known(bool on) { return on ? Known::on : Known::off; }

    Known mDtmfDetector = Known::off; // the service's view of the DTMF detector
    Known mIvaDetector = Known::off;  // and of the IVA detector
    Timer mCadence;
    bool mSendingDtmf = false;
    bool mRingback = false; // the ringback cadence is running
    std::uint32_t mEventId = 0;
    LGCP::TranslateDtmfParams mPending;
    Known mIvaOn = Known::off;
    Known mDtmfOn = Known::off;
    Known mRejectOn = Known::off;
    Known mGenerator = Known::off; // on: the last generator request was not "off"
    // The link in the service's receiver list; it leaves the list with the
    // receiver.
    Containers::CyclicList mListNode;
};

} // namespace Hardware

// The DTMF keypad of ITU-T Q.23: each of the sixteen symbols with its row and column
// frequencies in Hz. Digit strings arrive as frequency pairs, so nothing looks a symbol
// up in the table.
namespace Dtmf
{

constexpr unsigned NumTones = 16;
inline constexpr char strRep[NumTones + 1] = "0123456789*#ABCD";
inline constexpr std::uint16_t freq1[NumTones] = {941, 697, 697, 697, 770, 770, 770, 852,
                                                  852, 852, 941, 941, 697, 770, 852, 941};
inline constexpr std::uint16_t freq2[NumTones] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209,
                                                  1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

// Symbol -> {freq1, freq2}.
class TonesValidator : public std::map<char, std::pair<std::uint16_t, std::uint16_t>>
{
public:
    TonesValidator();
};

// Built at start-up, destroyed at exit.
extern const TonesValidator tonesValidator;

} // namespace Dtmf
