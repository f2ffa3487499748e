#include "hardware/hdlc.hpp"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "hardware/hw_mux.hpp"
#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/traces.hpp"

namespace
{
using namespace platform;

// Readable bits that mean the descriptor will never carry a frame again.
const short kLost = POLLERR | POLLHUP | POLLNVAL;
// Larger than any frame of a channel allocated with kRxPacketSize.
const unsigned kDropBuffer = 1024;

bool traced()
{
    return traces.signalling.hdlc;
}

// The controller's channel type for a channel mode; false for an unknown mode.
bool channelType(std::uint32_t mode, std::uint32_t& type)
{
    static const std::uint32_t kTypes[] = {mcc::kSs7, mcc::kData, mcc::kBri};
    if (mode > 2)
        return false;
    type = kTypes[mode];
    return true;
}
} // namespace

HDLC::HDLC() : mParams{0, 0, kNone, kNone, 0}
{
    unbind();
}

HDLC::~HDLC()
{
    release();
}

void HDLC::bind(Notify* sink)
{
    mSink = sink;
}

void HDLC::unbind()
{
    // One do-nothing sink for every unbound channel, so the sink is never null.
    struct Stub : Notify {
        void on_hdlc_receive(Packet&) override {}
        void on_hdlc_error(Cause::Type) override {}
        void on_hdlc_ready() override {}
    };
    static Stub stub;
    mSink = &stub;
}

std::ostream& HDLC::PutHeader(std::ostream& os) const
{
    return os << "hdlc [" << mTrunk << "/" << mParams.timeslot << "]: ";
}

bool HDLC::activate()
{
    deactivate();
    mStats = Statistics{};
    Fd fd;
    if (!fd.open(mcc::kPath, O_RDWR | O_NONBLOCK)) {
        Errno e;
        PutHeader(std::cerr) << "fail to open MCC device: " << e << std::endl;
        return false;
    }
    mcc::Allocate allocate{0, kRxPacketSize, 0, kRxThreshold, kTxThreshold};
    if (!channelType(mParams.mode, allocate.type)) {
        PutHeader(std::cerr) << "MCC_ALLOCATE fail: " << Errno(EINVAL) << std::endl;
        return false;
    }
    if (board().ioctl(fd.lowlevel_fd(), mcc::kAllocate, &allocate) == -1) {
        Errno e;
        PutHeader(std::cerr) << "MCC_ALLOCATE fail: " << e << std::endl;
        return false;
    }
    const int channel = board().ioctl(fd.lowlevel_fd(), mcc::kTimeslot);
    if (channel < 0) {
        Errno e;
        PutHeader(std::cerr) << "MCC_TIMESLOT fail: " << e << std::endl;
        return false;
    }
    // Results are not checked: a join that fails shows in the switch's log.
    mChannel = channel;
    mJoinedLine = int(mParams.mode == 2 ? mParams.line_out : mParams.line);
    HwMux::instance().Connect(channel, mJoinedLine);
    HwMux::instance().Connect(int(mParams.line), channel);
    mEvent.Bind("HDLC::OnEvent", &HDLC::on_event, this);
    mEvent.Schedule(fd, POLLIN | POLLOUT);
    ++mActivations;
    mReady = false;
    if (traced())
        PutHeader(std::clog) << "activated" << std::endl;
    return true;
}

void HDLC::release()
{
    mEvent.Release();
    // Once the channel is released the driver hands its number to the next
    // user: a line still fed by it would carry that user's frames too.
    if (mChannel >= 0) {
        HwMux::instance().Disable(mJoinedLine);
        HwMux::instance().Disable(mChannel);
    }
    mChannel = mJoinedLine = -1;
}

void HDLC::deactivate()
{
    release();
    mReady = false;
    if (traced())
        PutHeader(std::clog) << "deactivated" << std::endl;
}

bool HDLC::gone(unsigned activation)
{
    if (deletePending() && mEvent.IsActive())
        deactivate();
    // Deactivated, or even activated afresh on another descriptor.
    return !mEvent.IsActive() || activation != mActivations;
}

void HDLC::on_event(int fd, short revents)
{
    if ((revents & POLLIN) && !do_read(fd, mActivations))
        return;
    if (revents & kLost) {
        // Nothing more will come: the descriptor is let go, never polled again.
        PutHeader(std::cerr) << "channel lost: " << PollEventAsText(short(revents & kLost)) << std::endl;
        deactivate();
        mSink->on_hdlc_error(Notify::Cause::read_error);
        return;
    }
    if ((revents & POLLOUT) && !mReady) {
        mReady = true;
        mEvent.SetEvents(POLLIN);
        mSink->on_hdlc_ready();
    }
}

bool HDLC::do_read(int fd, unsigned activation)
{
    if (traced())
        PutHeader(std::clog) << "do_read" << std::endl;
    if (!mEvent.IsActive()) {
        PutHeader(std::clog) << "do_read: !m_event.IsActive()" << std::endl;
        return false;
    }
    for (;;) {
        Packet p;
        ssize_t n;
        if (p.reserve_head(0)) {
            n = ::read(fd, p.tail(), p.tailroom());
        } else {
            // No buffer: the frame is taken off the channel and dropped, so
            // that it is not met again in every loop pass.
            unsigned char scratch[kDropBuffer];
            n = ::read(fd, scratch, sizeof scratch);
            if (n > 0) {
                PutHeader(std::cerr) << "no packet buffer, frame dropped" << std::endl;
                continue;
            }
        }
        if (n > 0) {
            p.put(unsigned(n));
            if (traced())
                std::clog << "HDLC[" << mTrunk << "]: rx " << p << std::endl;
            ++mStats.rxSU;
            mSink->on_hdlc_receive(p);
            p.clear();
            if (gone(activation))
                return false;
            continue;
        }
        // An empty read carries no frame; whether the channel has ended
        // shows in the poll bits, so reading stops here for this pass.
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return true;
        Errno e;
        PutHeader(std::cerr) << "read error: " << e << std::endl;
        deactivate();
        mSink->on_hdlc_error(Notify::Cause::read_error);
        return false;
    }
}

bool HDLC::hdlc_transmit(Packet& p)
{
    if (p.empty())
        return true;
    if (!mEvent.IsActive()) {
        ++mStats.txDiscard;
        return false;
    }
    if (traced())
        std::clog << "HDLC[" << mTrunk << "]: tx " << p << std::endl;
    for (;;) {
        if (::write(mEvent.lowlevel_fd(), p.data(), p.length()) >= 0) {
            ++mStats.txSU;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            // The next writable event calls on_hdlc_ready.
            mReady = false;
            mEvent.SetEvents(POLLIN | POLLOUT);
            return false;
        }
        ++mStats.txError;
        return false;
    }
}
