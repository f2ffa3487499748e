#pragma once
// HDLC channels of the board's multi-channel controller ("/dev/mcc/ctl").
// The controller frames and checks HDLC itself; a channel exchanges whole
// frames with it by read and write on its own non-blocking descriptor, and is
// switched onto a line timeslot through the TDM switch. Its user (a signalling
// link) implements HDLC::Notify and sends through GenericHDLC.
//
// Calling order: params, trunk, bind, then activate; frames flow until
// deactivate, a read error, a lost descriptor or destruction; params and
// activate may be repeated (activate first deactivates).
//
// Ending a channel from one of its own callbacks: the user may deactivate it,
// or hand it to multiplexer.deferredDelete (never plain delete) to end it;
// either way the channel stops its handler at once, delivers nothing more
// and undoes its switch joins.
#include <cstdint>
#include <ostream>

#include "runtime/deferred_delete.hpp"
#include "runtime/event.hpp"
#include "runtime/packet.hpp"

class GenericHDLC
{
public:
    virtual ~GenericHDLC() = default;
    virtual bool hdlc_transmit(Packet& p) = 0;
    virtual bool is_open() const = 0;
    virtual bool is_ready() const = 0;
};

class HDLC : public GenericHDLC, public DeferredDeletable
{
public:
    class Notify
    {
    public:
        struct Cause {
            enum Type { read_error = 0 };
        };
        virtual ~Notify() = default;
        // One received frame.
        virtual void on_hdlc_receive(Packet& p) = 0;
        // The channel failed and has been deactivated.
        virtual void on_hdlc_error(Cause::Type cause) = 0;
        // The channel takes frames (again).
        virtual void on_hdlc_ready() = 0;
    };

    // Channel and line numbers are switch channels; -1 (all ones) is none.
    struct Params {
        std::uint32_t trunk;    // kept for the owner
        std::uint32_t timeslot; // shown in the log header
        std::uint32_t line;     // feeds the controller; in modes 0 and 1 also takes its output
        std::uint32_t line_out; // takes the controller's output in mode 2
        std::uint32_t mode;     // 0 SS7, 1 data, 2 BRI
    };
    // In the order of the fields of LGCP::HdlcLinkInfo.
    struct Statistics {
        std::uint32_t txSU;       // frames written
        std::uint32_t txDiscard;  // frames refused while the channel was not open
        std::uint32_t txError;    // failed writes
        std::uint32_t txOverflow; // never counted here
        std::uint32_t rxSU;       // frames received
    };

    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    // The allocation words after the type that every HDLC channel passes.
    static constexpr std::uint32_t kRxPacketSize = 512;
    static constexpr std::uint32_t kRxThreshold = 1;
    static constexpr std::uint32_t kTxThreshold = 4;

    HDLC();
    // Closes the descriptor and undoes the switch joins.
    ~HDLC() override;

    void params(Params const& p) { mParams = p; }
    Params const& params() const { return mParams; }
    void trunk(unsigned n) { mTrunk = n; }
    void logLevel(unsigned level) { mLogLevel = level; }
    Statistics const& statistics() const { return mStats; }

    void bind(Notify* sink);
    void unbind();

    bool activate();
    void deactivate();

    bool hdlc_transmit(Packet& p) override;
    bool is_open() const override { return mEvent.IsActive(); }
    bool is_ready() const override { return mReady; }

    std::ostream& PutHeader(std::ostream& os) const;

    // The controller channel's switch channel and descriptor while active, else -1.
    int channel() const { return mChannel; }
    int descriptor() const { return mEvent.lowlevel_fd(); }

private:
    void on_event(int fd, short revents);
    // False when the handler must end: the channel was deactivated, failed
    // or handed over for deletion.
    bool do_read(int fd, unsigned activation);
    bool gone(unsigned activation);
    void release();

    bool mReady = false;
    Params mParams;
    Statistics mStats{};
    Event mEvent;
    unsigned mLogLevel = 0;
    unsigned mTrunk = 0;
    Notify* mSink;
    // The switch outputs joined by activate: the line side and the channel's.
    int mChannel = -1;
    int mJoinedLine = -1;
    unsigned mActivations = 0;
};
