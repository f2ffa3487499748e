#pragma once
// The DSP processing service: the one owner of the board's DSP device
// "/dev/dsp". Per TDM timeslot it configures and switches voice activity
// detection (VAD), signal detection (SD), BSS, the noise gate (NG), muting,
// delays, receive gain and tone filters, and hands each event record the
// device reports to the receiver that owns the record's timeslot.
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
// Media slots take part through the mixin DSProcReceiver: the slot names its
// timeslot and receives its events; the mixin keeps each function's state
// and the id it was enabled with.
#include <cstdint>

#include "messages/lgcp/LGCP.hpp"
#include "platform/devices.hpp"
#include "runtime/event.hpp"
#include "runtime/lists.hpp"

// The driver's layouts of an event's payload (the record's last 12 bytes).
struct dsproc_bss_event {
    float score;
    std::uint32_t reserved[2];
};
struct dsproc_tone_event {
    std::int32_t freq;
    std::uint8_t presence; // non-zero: the tone is present
    std::uint8_t reserved[7];
};
struct dsproc_flags_event {
    std::uint32_t flags;
    std::uint32_t mask; // which flags the event reports
    std::uint32_t reserved;
};
static_assert(sizeof(dsproc_bss_event) == 12 && sizeof(dsproc_tone_event) == 12 &&
                  sizeof(dsproc_flags_event) == 12,
              "payloads fill the record's 12 bytes");

namespace Hardware
{

struct DSProcVADEvent {
    std::int32_t rx = 0; // -1: the event does not report the direction
    std::int32_t tx = 0;
};
struct DSProcSDEvent {
    std::int32_t value = 0;
};

class DSProcReceiver;

class DSProcReceiverService
{
public:
    // The single service, created on first use. A test may construct its own:
    // while it lives it is the one instance() gives.
    static DSProcReceiverService& instance();

    DSProcReceiverService();
    ~DSProcReceiverService();
    DSProcReceiverService(const DSProcReceiverService&) = delete;
    DSProcReceiverService& operator=(const DSProcReceiverService&) = delete;

    void init();
    bool configureVAD(unsigned ts, LGCP::VADParams const& params);
    bool configureSD(unsigned ts);
    void configureDelays(unsigned ts, unsigned rx, unsigned tx);
    void configureRxGain(unsigned ts, char gain);
    void configureToneFilter(unsigned ts, unsigned freq, unsigned enable, int duration, int level);
    void disableToneAll(DSProcReceiver& receiver);
    bool enableVAD(DSProcReceiver& receiver, bool on);
    bool enableBSS(DSProcReceiver& receiver, bool on);
    bool enableNG(DSProcReceiver& receiver, bool on);
    bool enableSD(DSProcReceiver& receiver, bool on);
    bool enableMute(DSProcReceiver& receiver, bool rx, bool tx);
    void OnEvent(int fd, short revents);

    bool is_open() const { return mEvent.IsActive(); }
    std::uint32_t last_id() const { return mLastId; }

private:
    struct Function;
    static DSProcReceiver* find(unsigned ts);
    bool enable(DSProcReceiver& receiver, const Function& f, bool on);
    // The device, opened again when the service does not hold it; false (the
    // open's failure logged) when it stays closed.
    bool opened();
    // The same, with the not-open line of a configuration when it stays closed.
    bool opened(const char* notOpen, unsigned ts);
    // Stops watching the device and closes it; what the receivers knew of
    // the driver becomes unknown.
    void let_go();
    // One request on the device, -1 with errno when it fails. A failure on a
    // descriptor that has hung up or is in error lets the device go as the
    // hang-up's handler would and makes the request once more on the device
    // opened afresh.
    template <class Arg> int request(unsigned long code, Arg arg);
    bool configure(const platform::dsp::Configure& record);
    std::uint32_t next_id();
    void deliver(DSProcReceiver& r, const platform::dsp::DspEvent& e);
    // Reads and routes the queued records until none is left; a read that
    // fails ends the pass, and lets the device go when it failed in the
    // previous pass too.
    void read_events(int fd);

    Event mEvent;
    std::uint32_t mLastId = 0;
    bool mReadFailed = false; // the last read of the device failed
    unsigned mOpens = 0;      // one more each time the device is opened
    DSProcReceiverService* mPrevious = nullptr;
};

class DSProcReceiver
{
public:
    DSProcReceiver();
    virtual ~DSProcReceiver();
    DSProcReceiver(const DSProcReceiver&) = delete;
    DSProcReceiver& operator=(const DSProcReceiver&) = delete;

    virtual void dsproc_vad_event(DSProcVADEvent const& event) = 0;
    virtual void dsproc_bss_event(dsproc_bss_event const* event) = 0;
    virtual void dsproc_sd_event(DSProcSDEvent const& event) = 0;
    virtual void dsproc_tone_flt_event(dsproc_tone_event const* event) = 0;
    virtual void dsproc_flags_event(dsproc_flags_event const* event) = 0;
    virtual unsigned dsproc_timeslot() const = 0;

    bool configureVAD(LGCP::VADParams const& params);
    bool configureSD();
    bool enableVAD(bool on);
    bool disableVAD() { return enableVAD(false); }
    bool enableBSS(bool on);
    bool disableBSS() { return enableBSS(false); }
    bool enableNG(bool on);
    bool disableNG() { return enableNG(false); }
    bool enableSD(bool on);
    bool disableSD() { return enableSD(false); }
    bool enableMute(bool rx, bool tx);
    bool disableMute() { return enableMute(false, false); }
    void configureDelays(unsigned rx, unsigned tx);
    void configureRxGain(char gain);
    void configureToneFilter(unsigned freq, unsigned enable, int duration, int level);
    void disableToneAll();
    void CleanBeforeDestroy();

    // Function states. Either unknown state sends the next request, on or
    // off; a destroy's off requests go to functions on or lost, not to those
    // never switched.
    enum : std::int32_t {
        kLost = -2,          // unknown: the device that knew it was let go
        kNeverSwitched = -1, // unknown: not switched since construction
        kOff = 0,
        kOn = 1,
    };
    std::int32_t vad_state() const { return mVad.state; }
    std::int32_t bss_state() const { return mBss.state; }
    std::int32_t ng_state() const { return mNg.state; }
    std::int32_t sd_state() const { return mSd.state; }
    std::uint32_t vad_id() const { return mVad.id; }
    std::uint32_t sd_id() const { return mSd.id; }
    bool delays_set() const { return mDelaysSet; }
    bool rx_gain_set() const { return mRxGainSet; }

private:
    friend class DSProcReceiverService;
    struct State {
        std::int32_t state;
        std::uint32_t id;
    };
    // The driver's state as this receiver knew it is gone with the device:
    // every function is lost, and the delays and the gain may be anything.
    void forget_driver();
    // A destroy's off request is due: the state is on or lost.
    static bool may_be_on(std::int32_t state) { return state == kOn || state == kLost; }

    State mVad{kNeverSwitched, 0};
    State mBss{kOff, 0};
    State mNg{kOff, 0};
    State mSd{kNeverSwitched, 0};
    std::int32_t mMuteRx = kNeverSwitched;
    std::int32_t mMuteTx = kNeverSwitched;
    std::uint32_t mMuteId = 0;
    // The driver may hold non-zero delays (or gain) for the timeslot: set by
    // a configure with a non-zero value, and when the device is let go.
    bool mDelaysSet = false;
    bool mRxGainSet = false;
    // The link in the service's receiver list; it leaves the list with the
    // receiver.
    Containers::CyclicList mListNode;
};

} // namespace Hardware
