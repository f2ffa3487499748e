#pragma once
// The board's device contract: every device path, request number and record
// that the daemon's services pass to the board drivers, and that the
// simulated board answers. Request numbers are the values the board's
// PowerPC kernel expects, written out as literals: the direction bits of some
// do not match their data flow, so they must never be rebuilt with the host's
// _IOR/_IOW macros. Records are laid out as the drivers take them: 32-bit
// words unless stated, in the board's (big-endian) byte order, which is the
// host order on the board; the simulator runs in-process and shares the host's.
#include <cstddef>
#include <cstdint>

namespace platform
{

using Request = unsigned long;

// The hardware watchdog: written, never asked.
namespace watchdog
{
constexpr char kPath[] = "/dev/misc/gw-wd";
constexpr char kStart[] = "START";
constexpr char kPing[] = "PING";
constexpr char kStop[] = "STOP";
} // namespace watchdog

// The board hardware access driver: TDM switch, bus clock, SPI registers of
// the BRI line interfaces. Each user opens its own descriptor.
namespace hal
{
constexpr char kPath[] = "/dev/hal";

constexpr Request kConnect = 0x80084D02;     // SwitchConnect*
constexpr Request kDisable = 0x80044D03;     // SwitchChannel*
constexpr Request kWrite = 0xC0084D04;       // SwitchByte*: a constant byte onto the output
constexpr Request kRead = 0xC0084D05;        // SwitchByte*: value 0xFF in, the channel's byte out
constexpr Request kClockSelect = 0x80044301; // std::int32_t*: the clock source number
constexpr Request kSpiWrite = 0xC0034204;    // SpiRegister*
constexpr Request kSpiRead = 0xC0034203;     // SpiRegister*: the value in the result's low byte

// The first switch channel of the TDM bus outputs, and how many there are.
constexpr std::int32_t kBusFirst = 8192;
constexpr std::int32_t kBusOutputs = 2048;

struct SwitchConnect {
    std::int32_t destination;
    std::int32_t source;
};
struct SwitchChannel {
    std::int32_t channel;
};
struct SwitchByte {
    std::int32_t channel;
    std::int32_t value;
};
struct SpiRegister {
    std::uint8_t channel;
    std::uint8_t reg;
    std::uint8_t data;
};
static_assert(sizeof(SwitchConnect) == 8 && sizeof(SwitchChannel) == 4 && sizeof(SwitchByte) == 8 &&
                  sizeof(SpiRegister) == 3,
              "hal records are the driver's sizes");
} // namespace hal

// The E1 trunks' maintenance driver: line status and transmit clocks.
namespace maintenance
{
constexpr char kPath[] = "/dev/maintenance";

constexpr Request kStatus = 0xC0504D03;      // TrunkStatus*: zeroed, trunk in, counters out
constexpr Request kTclkMask = 0xC0044D0B;    // by value: bit n set = trunk n is clock slave
constexpr Request kClockSource = 0xC0044D0A; // by value: the source number

struct TrunkStatus {
    std::int32_t trunk; // in
    std::int32_t reserved0[8];
    std::int32_t slips;
    std::int32_t lossBF;
    std::int32_t lossCarrier;
    std::int32_t ais;
    std::int32_t rai;
    std::int32_t reserved1[5];
    std::int32_t state; // 0 normal, 1 lossBF, 2 lossCarrier, 3 ais, 4 rai, 5 unknown, 6 disabled
};
static_assert(sizeof(TrunkStatus) == 80 && offsetof(TrunkStatus, slips) == 36 &&
                  offsetof(TrunkStatus, rai) == 52 && offsetof(TrunkStatus, state) == 76,
              "the driver's status record");
} // namespace maintenance

// CAS signalling of the E1 trunks. A read() of one CasBits record is one bit
// change seen by the driver.
namespace e1cas
{
constexpr char kPath[] = "/dev/e1-cas";

constexpr Request kOpen = 0x80044300;      // by value: the trunk; result >= 0 success
constexpr Request kClose = 0x80044301;     // by value: the trunk
constexpr Request kConfigure = 0xC0104304; // CasConfigure*
constexpr Request kGet = 0xC00C4303;       // CasBits*: rx and tx out
constexpr Request kSet = 0xC00C4302;       // CasBits*: tx in

struct CasConfigure {
    std::int32_t path;
    std::int32_t timeslot;
    std::uint8_t zero;
    std::uint8_t abcd; // low 4 bits
    std::uint8_t reserved[2];
    std::int32_t close; // 0 open, 1 close
};
struct CasBits {
    std::int32_t path;
    std::int32_t timeslot;
    std::uint8_t rx;
    std::uint8_t tx;
    std::uint8_t reserved[2];
};
static_assert(sizeof(CasConfigure) == 16 && sizeof(CasBits) == 12, "CAS records are the driver's sizes");
} // namespace e1cas

// The multi-channel controller: one descriptor per controller channel; after
// allocation read() and write() carry whole frames.
namespace mcc
{
constexpr char kPath[] = "/dev/mcc/ctl";

constexpr Request kAllocate = 0x40144D00; // Allocate*; -1 failure
constexpr Request kTimeslot = 0x20004D02; // no argument; result = the switch channel
constexpr Request kCounts = 0x80104D03;   // Counts*: filled by the driver

enum ChannelType : std::uint32_t { kData = 0, kBri = 1, kTransparent = 2, kSs7 = 3 };

struct Allocate {
    std::uint32_t type;
    std::uint32_t rxPacketSize;
    std::uint32_t reserved;
    std::uint32_t rxThreshold;
    std::uint32_t txThreshold;
};
struct Counts {
    std::uint32_t data;
    std::uint32_t bri;
    std::uint32_t transparent;
    std::uint32_t unused;
};
static_assert(sizeof(Allocate) == 20 && sizeof(Counts) == 16, "MCC records are the driver's sizes");
} // namespace mcc

// The tone driver: per timeslot DTMF and IVA detection, DTMF rejection, the
// line echo canceller (LMS) and the tone generator. read() gives ToneEvent records.
namespace dtmf
{
constexpr char kPath[] = "/dev/dtmf";

constexpr Request kConfigureDetector = 0x40144202; // DetectorConfig*
constexpr Request kEnableDetector = 0x40084203;    // DetectorEnable*
constexpr Request kDisableDetector = 0x40044204;   // by value: the timeslot
constexpr Request kDial = 0x400C4205;              // Dial*: all zero = generator off
constexpr Request kLmsOn = 0x40044206;             // by value: the timeslot
constexpr Request kLmsOff = 0x40044207;
constexpr Request kRejectionOn = 0x40044209;
constexpr Request kRejectionOff = 0x4004420A;
constexpr Request kIvaOn = 0x4004420B;
constexpr Request kIvaOff = 0x4004420C;
constexpr Request kIvaConfigure = 0x4008420D; // IvaConfig*
constexpr Request kSelcalDial = 0x400C420E;   // SelcalDial*

struct DetectorConfig {
    std::uint32_t timeslot;
    std::uint32_t twist;
    std::uint32_t ratio;
    std::uint32_t silence;
    std::uint32_t noise;
};
struct DetectorEnable {
    std::uint32_t timeslot;
    std::uint32_t id;
};
struct Dial {
    std::uint32_t timeslot;
    std::uint16_t freq1;
    std::uint16_t freq2;
    std::uint16_t amp1;
    std::uint16_t amp2;
};
struct IvaConfig {
    std::uint32_t timeslot;
    std::int32_t level; // dB
};
struct SelcalDial {
    std::uint32_t timeslot;
    std::uint16_t amp;
    char signs[4];
    std::uint16_t zero;
};
struct ToneEvent {
    std::int32_t code;
    std::uint32_t timeslot;
    std::uint32_t timestamp;
    std::uint32_t id; // the id given at detector enable
};
static_assert(sizeof(DetectorConfig) == 20 && sizeof(DetectorEnable) == 8 && sizeof(Dial) == 12 &&
                  sizeof(IvaConfig) == 8 && sizeof(SelcalDial) == 12 && offsetof(SelcalDial, signs) == 6 &&
                  sizeof(ToneEvent) == 16,
              "tone driver records are the driver's sizes");
} // namespace dtmf

// The DSP processing driver: VAD, signal detection, BSS, noise gate, muting,
// delays, receive gain and tone filters per timeslot. read() gives DspEvent records.
namespace dsp
{
constexpr char kPath[] = "/dev/dsp";

constexpr Request kConfigure = 0x40146401;  // Configure*
constexpr Request kEnable = 0x400C6402;     // Switch*
constexpr Request kDisable = 0x400C6403;    // Switch* (id 0)
constexpr Request kVadVersion = 0x40046404; // by value 0; result = the VAD interface version

// Function bits: a configure record's function, an enable or disable mask.
enum Function : std::uint32_t {
    kVad = 1,
    kSd = 2,
    kMuteRx = 4,
    kMuteTx = 8,
    kBss = 16,
    kDelays = 32,
    kRxGain = 64,
    kNg = 128,
    kToneFilter = 256,
};
// Event types.
enum EventType : std::uint32_t {
    kEventVad = 1,
    kEventSd = 2,
    kEventBss = 0x10,
    kEventTone = 0x100,
    kEventFlags = 0x200,
};

struct Configure {
    std::uint32_t timeslot;
    std::uint32_t function;
    std::uint8_t params[12];
};
struct Switch {
    std::uint32_t timeslot;
    std::uint32_t id;
    std::uint32_t mask;
};
struct DspEvent {
    std::uint32_t timeslot;
    std::uint32_t id;
    std::uint32_t type;
    std::uint32_t p[3];
};
static_assert(sizeof(Configure) == 20 && sizeof(Switch) == 12 && sizeof(DspEvent) == 24,
              "DSP driver records are the driver's sizes");
} // namespace dsp

// The voice driver: how many channels of a codec mask are still free, and
// the driver's version.
namespace voice
{
constexpr char kPath[] = "/dev/voice";
constexpr Request kCapacity = 0x40045602; // std::uint32_t* mask; result = the channel count
constexpr Request kVersion = 0x4014560A;  // Version*: filled by the driver

struct Version {
    std::uint32_t word[5];
};
static_assert(sizeof(Version) == 20, "the voice driver's version record");
} // namespace voice

// The conference mixer: one or more units, each with TDM channels numbered
// from 0 that act as inputs or outputs of weighted sums. Every request opens
// the device, asks once and closes it again.
namespace mixer
{
constexpr char kPath[] = "/dev/mixer";

constexpr Request kRxClear = 0x800C4D02;   // mix_slot*: every input of that channel's sum removed
constexpr Request kRxAdd = 0x801C4D03;     // mix_sum*: tx added into the sum of rx with gain
constexpr Request kRxRemove = 0x801C4D04;  // mix_sum*: tx removed from the sum of rx
constexpr Request kTdm = 0x800C4D06;       // mix_slot*; result = the channel's switch channel
constexpr Request kEnumerate = 0x80104D07; // mix_unit*: the unit last reported in (-1 first), the next out

// mix_slot types: a TDM channel, or a summator not given as a TDM channel.
constexpr std::int32_t kTdmChannel = 0;
constexpr std::int32_t kSummator = 1;
// The gain used when the controller names none.
constexpr std::int32_t kFullGain = 32767;

struct mix_slot {
    std::int32_t dev_no; // the unit
    std::int32_t type;
    std::int32_t number; // the channel in the unit
};
// One input of a channel's sum.
struct mix_sum {
    mix_slot rx; // the channel whose sum changes
    mix_slot tx; // the channel added or removed
    std::int32_t gain;
};
// The enumeration record: word 0 in and out, the counts out.
struct mix_unit {
    std::int32_t dev_no;
    std::int32_t tdm_channels;
    std::int32_t reserved;
    std::int32_t mixer_inputs;
};
static_assert(sizeof(mix_slot) == 12 && sizeof(mix_sum) == 28 && offsetof(mix_sum, gain) == 24 &&
                  sizeof(mix_unit) == 16,
              "mixer records are the driver's sizes");
} // namespace mixer

// The RTP driver: one session per descriptor; read() gives rtp_event records.
namespace rtp
{
constexpr char kPath[] = "/dev/rtp";

constexpr Request kBeginSession = 0xC02C5200; // rtp_connection_params*
constexpr Request kAddChannel = 0xC0105202;   // rtp_channel_info*
constexpr Request kTeardown1 = 0x2000520A;
constexpr Request kTeardown2 = 0x20005203;
constexpr Request kStartInput = 0x20005204;
constexpr Request kReleaseInput = 0x20005205;
constexpr Request kTeardown3 = 0x2000520B;
constexpr Request kSetEvent = 0xC024520C;   // EventConfig*
constexpr Request kResetEvent = 0x8004520D; // std::uint32_t* event type

constexpr std::uint32_t kEventPd = 1;

// Word 0 the event type, word 2 and word 5 the timeout.
struct EventConfig {
    std::uint32_t word[9];
};
struct rtp_event {
    std::uint32_t type;
    std::uint32_t value;
    std::uint32_t timeout;
    std::uint32_t reserved[6];
};
static_assert(sizeof(EventConfig) == 36 && sizeof(rtp_event) == 36, "RTP event records are the driver's");

// The session record (addresses in network order).
struct rtp_connection_params {
    std::uint32_t remote_addr;
    std::uint16_t remote_port;
    std::uint16_t reserved0;
    std::uint32_t local_addr;
    std::uint16_t local_port;
    std::uint16_t rx_pt;
    std::uint16_t tx_pt;
    std::uint16_t packet_factor;
    std::uint8_t vad;
    std::uint8_t crate;
    std::uint16_t reserved1;
    std::uint32_t ssrc;
    std::uint32_t reserved2[2];
    std::int32_t ttl;
    std::int32_t tos;
};
// The channel record of the add-channel request.
struct rtp_channel_info {
    std::int32_t tdm;
    std::int32_t dev_no;
    std::int32_t chn;
    std::int32_t reserved;
};
struct rtp_attach_session_params {
    std::int32_t fd_rtp;
    std::int32_t pid_rtp;
};
struct rtp_ext_attach_session_params {
    std::int32_t fd_rtp;
    std::int32_t pid_rtp;
};
struct rtp_ext_init_params {
    std::uint16_t etype;
};

static_assert(sizeof(rtp_connection_params) == 44 && offsetof(rtp_connection_params, rx_pt) == 14 &&
                  offsetof(rtp_connection_params, packet_factor) == 18 &&
                  offsetof(rtp_connection_params, ssrc) == 24 && offsetof(rtp_connection_params, tos) == 40 &&
                  sizeof(rtp_channel_info) == 16,
              "RTP records are the driver's");
} // namespace rtp

// The DSP modems' control device. Request numbers are plain values with no
// direction or size bits; records are words in host order.
namespace mctl
{
constexpr char kPath[] = "/dev/mctl";
// The data device of modem N, opened only by the PPP daemon.
constexpr char kDataDevice[] = "/dev/mdm%d";

constexpr Request kEnumerate = 0xBB0C;    // previous modem by value (-1 first); next, or -1 ENODEV
constexpr Request kAllocate = 0xBB0B;     // 0; the modem held by this descriptor
constexpr Request kTimeslot = 0xBB15;     // 0; the modem's switch channel
constexpr Request kAnswer = 0xBB03;       // ModemCommand*
constexpr Request kOriginate = 0xBB04;    // ModemCommand*
constexpr Request kSetDdm = 0xBB16;       // ModemCommand*: arg = the digital data mode mask
constexpr Request kFaxOriginate = 0xBB40; // ModemCommand*
constexpr Request kSetDmp = 0xBB38;       // DmpParameter*
constexpr Request kResetDmp = 0xBB3A;     // ModemCommand*

struct ModemCommand {
    std::int32_t modem;
    std::int32_t arg;
};
struct DmpParameter {
    std::int32_t modem;
    std::int32_t offset;
    std::int32_t value;
};
static_assert(sizeof(ModemCommand) == 8 && sizeof(DmpParameter) == 12, "modem records are the driver's");
} // namespace mctl

// Network interface requests, made on an IPv4 datagram socket with the
// kernel's own struct ifreq naming the interface ("hdlc<N>"). The numbers are
// the same on every Linux architecture.
namespace netif
{
// What the simulated board calls the datagram socket in its journal.
constexpr char kSocket[] = "inet-dgram";

constexpr Request kGetIndex = 0x8933; // SIOCGIFINDEX
constexpr Request kGetFlags = 0x8913; // SIOCGIFFLAGS
constexpr Request kSetFlags = 0x8914; // SIOCSIFFLAGS
constexpr Request kWanDev = 0x894A;   // SIOCWANDEV: ifr_settings {type, size, buffer}

constexpr std::uint32_t kGetIface = 1;       // line settings, a 128-byte buffer; word 3 = channel
constexpr std::uint32_t kProtoHdlc = 0x2000; // raw HDLC: {encoding u16, parity u16}
constexpr std::uint32_t kProtoPpp = 0x2001;  // PPP framing: 4 zero bytes
constexpr unsigned kSettingsSize = 128;

constexpr std::int16_t kUp = 0x1;
constexpr std::int16_t kLoopback = 0x8;
constexpr std::int16_t kPointToPoint = 0x10;
} // namespace netif

} // namespace platform
