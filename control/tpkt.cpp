#include "control/tpkt.hpp"

#include <cstring>
#include <iostream>

#include "runtime/profile.hpp"

Tpkt_protocol::Tpkt_protocol() = default;

Tpkt_protocol::~Tpkt_protocol()
{
    mTimer.reset();
    mBuffer.clear();
}

void Tpkt_protocol::local_prepare_head(Packet& p)
{
    p.reserve_head(header_size);
}

void Tpkt_protocol::local_prepare_tail(Packet& p)
{
    p.reserve_tail(0);
}

void Tpkt_protocol::local_activate()
{
    reset();
    on_activate();
}

void Tpkt_protocol::local_deactivate()
{
    reset();
    on_deactivate(Protocol_status(new Protocol_status_success(this, "TPKT deactivated")));
}

void Tpkt_protocol::message(Packet& p)
{
    if (p.null())
        return;
    const unsigned length = p.length();
    // The length field cannot express more; sending a cut or wrapped length
    // would desynchronise the peer for good.
    if (length > max_payload) {
        std::clog << name() << " payload too big, length = " << length << " max = " << max_payload
                  << std::endl;
        return;
    }
    static Profile::Point point("Tpkt_protocol::message");
    point.begin();
    p.push16_b(static_cast<unsigned short>(length + header_size));
    p.push8(0);
    p.push8(3);
    point.end();
    transmit(p);
}

void Tpkt_protocol::receive(Packet& p)
{
    while (!p.null() && !p.empty()) {
        switch (mState) {
        case idle:
            receive_idle(p);
            break;
        case wait_r:
            receive_wait_r(p);
            break;
        case len_1:
            receive_len_1(p);
            break;
        case len_2:
            receive_len_2(p);
            break;
        case body:
            receive_body(p);
            break;
        case ignore:
            receive_ignore(p);
            break;
        }
    }
    // A frame delivered on the last byte of the chunk may have torn the link
    // down and reset us; the state alone says whether a frame is pending.
    if (mState != idle)
        mTimer.set(reassembly_timeout_ms, &Tpkt_protocol::on_timeout, this);
    else
        mTimer.reset();
}

void Tpkt_protocol::reset()
{
    mTimer.reset();
    mBuffer.clear();
    mState = idle;
    mBadRun = false;
}

void Tpkt_protocol::on_timeout(Timer*)
{
    std::clog << " TPKT packet timeout." << std::endl;
    reset();
}

void Tpkt_protocol::receive_idle(Packet& p)
{
    if (p.pull8() == 3) {
        mBadRun = false;
        mState = wait_r;
        return;
    }
    if (!mBadRun)
        std::clog << name() << " bad TPKT packet start." << std::endl;
    mBadRun = true;
}

void Tpkt_protocol::receive_wait_r(Packet& p)
{
    if (p.pull8() == 0) {
        mState = len_1;
        return;
    }
    std::clog << name() << " bad TPKT reserved." << std::endl;
    mState = idle;
}

void Tpkt_protocol::receive_len_1(Packet& p)
{
    mRemaining = p.pull8();
    mState = len_2;
}

void Tpkt_protocol::receive_len_2(Packet& p)
{
    mRemaining = mRemaining * 256 + p.pull8();
    if (mRemaining < header_size) {
        std::clog << "TPKT too small " << mRemaining << std::endl;
        mState = idle;
        return;
    }
    mRemaining -= header_size;
    // The buffer of the last frame is used again when nobody kept it.
    if (!mBuffer.renew(0)) {
        // No buffer for this frame: skip it whole, so the stream stays in step.
        std::clog << name() << " no packet buffer, frame of " << mRemaining << " bytes dropped" << std::endl;
        mState = mRemaining ? ignore : idle;
        return;
    }
    if (mRemaining > mBuffer.tailroom()) {
        std::clog << "TPKT length too big, received = " << mRemaining << " max = " << mBuffer.tailroom()
                  << std::endl;
        mBuffer.clear();
        mState = ignore;
        return;
    }
    // An empty payload goes up from receive_body like any other: at once when
    // the chunk goes on, else before the next chunk's bytes are read; the
    // reassembly time-out drops it when no chunk follows.
    mState = body;
}

void Tpkt_protocol::receive_body(Packet& p)
{
    const unsigned n = std::min<unsigned>(p.length(), mRemaining);
    if (n) {
        std::memcpy(mBuffer.put(n), p.data(), n);
        p.pull(n);
        mRemaining -= n;
    }
    if (mRemaining)
        return;
    Packet frame = mBuffer;
    mBuffer.clear();
    mState = idle;
    on_message(frame);
    // Between frames the buffer stays, empty, for the next one.
    if (mBuffer.null() && frame.renew(0))
        mBuffer = frame;
}

void Tpkt_protocol::receive_ignore(Packet& p)
{
    const unsigned n = std::min<unsigned>(p.length(), mRemaining);
    p.pull(n);
    mRemaining -= n;
    if (!mRemaining)
        mState = idle;
}
