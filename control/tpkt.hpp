#pragma once
// TPKT framing (RFC 1006): 03 00 LL LL payload, LL LL being the length of the
// whole frame, header included. Going down it puts the header in front of each
// message; going up it cuts the byte stream, delivered in arbitrary chunks,
// back into whole messages, one Packet per message. No framing error closes
// the link: bad bytes are skipped, and an incomplete frame is dropped after
// 3000 ms without data, which is the guaranteed resynchronisation point.
#include <cstdint>

#include "control/protocol.hpp"
#include "runtime/timer.hpp"

class Tpkt_protocol : public Protocol
{
public:
    enum State {
        idle = 0,   // the version byte
        wait_r = 1, // the reserved byte
        len_1 = 2,  // high byte of the length
        len_2 = 3,  // low byte of the length
        body = 4,   // payload bytes, copied
        ignore = 5, // payload bytes of a frame that cannot be held, skipped
    };

    static constexpr unsigned header_size = 4;
    static constexpr unsigned max_payload = 65535 - header_size;
    static constexpr unsigned reassembly_timeout_ms = 3000;

    Tpkt_protocol();
    ~Tpkt_protocol() override;

    Protocol_name const& name() const override { return mName; }
    bool compare_name(Protocol_name const& other) const override { return mName.compare(other); }

    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;

    void reset();
    void next_state(State s) { mState = s; }
    void on_timeout(Timer*);

    State state() const { return mState; }
    bool timer_running() const { return mTimer.is_running(); }

private:
    void receive_idle(Packet& p);
    void receive_wait_r(Packet& p);
    void receive_len_1(Packet& p);
    void receive_len_2(Packet& p);
    void receive_body(Packet& p);
    void receive_ignore(Packet& p);

    Protocol_name_str mName{"TPKT"};
    std::uint32_t mRemaining = 0;
    Timer mTimer;
    State mState = idle;
    Packet mBuffer;
    // Set while bytes other than 3 keep arriving where a frame should start:
    // a run of garbage is reported once, not once per byte.
    bool mBadRun = false;
};
