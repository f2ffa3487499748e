#include "hardware/hw_mux.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <execinfo.h>
#include <fcntl.h>
#include <iomanip>
#include <iostream>
#include <unistd.h>

#include "platform/board.hpp"
#include "platform/devices.hpp"

namespace
{
using namespace platform;

bool is_bus_output(int channel)
{
    return channel >= SwitchChannel::kBusFirst &&
           channel < SwitchChannel::kBusFirst + SwitchChannel::kBusOutputs;
}
} // namespace

HwMux& HwMux::instance()
{
    static HwMux mux;
    return mux;
}

HwMux::HwMux()
{
    std::clog << "hwMux: init" << std::endl;
    mRefresh.Bind(this, &HwMux::OnDPC);
    IsOpened();
}

bool HwMux::IsOpened()
{
    if (mFd.is_valid())
        return true;
    if (!mFd.open(hal::kPath, O_RDWR)) {
        Errno e;
        std::clog << "hwMux: can't open device: " << e << std::endl;
        return false;
    }
    std::clog << "hwMux: device opened" << std::endl;
    for (int i = 0; i < SwitchChannel::kBusOutputs; ++i) {
        hal::SwitchChannel r{SwitchChannel::kBusFirst + i};
        board().ioctl(mFd.lowlevel_fd(), hal::kDisable, &r);
        mSources[i] = kDisabled;
    }
    mCursor = 0;
    mRefresh.Activate();
    ::usleep(500);
    return true;
}

void HwMux::set_source(int destination, std::int32_t value)
{
    // Written before the request, whatever its outcome: the table tells what
    // the switch was last asked to do.
    if (is_bus_output(destination))
        mSources[destination - SwitchChannel::kBusFirst] = value;
}

std::int32_t HwMux::source(int busOutput) const
{
    return is_bus_output(busOutput) ? mSources[busOutput - SwitchChannel::kBusFirst] : kDisabled;
}

bool HwMux::Connect(int source, int destination)
{
    if (!IsOpened() || source < 0 || destination < 0) {
        std::clog << "hwMux: ERROR not opened" << std::endl;
        return false;
    }
    set_source(destination, source);
    hal::SwitchConnect r{destination, source};
    if (board().ioctl(mFd.lowlevel_fd(), hal::kConnect, &r) == -1) {
        Errno e;
        std::clog << "hwMux: connect " << source << " -> " << destination << " failed: " << e << std::endl;
        return false;
    }
    mPending.erase(destination);
    return true;
}

bool HwMux::request(int channel, Release kind)
{
    if (kind == Release::idle) {
        hal::SwitchByte r{channel, kIdleByte};
        return board().ioctl(mFd.lowlevel_fd(), hal::kWrite, &r) != -1;
    }
    hal::SwitchChannel r{channel};
    return board().ioctl(mFd.lowlevel_fd(), hal::kDisable, &r) != -1;
}

void HwMux::settle(int channel, Release kind, int error)
{
    // The logical side lets go of the output whatever the driver answered, so
    // a refused release is the switch's to finish. A channel the driver
    // refuses as invalid is no output of its: nothing is joined on it and no
    // later request can succeed, so it is not kept (this also keeps the
    // pending set to the driver's real outputs).
    if (error == 0 || error == EINVAL)
        mPending.erase(channel);
    else
        mPending[channel] = kind;
}

bool HwMux::Disconnect(int destination)
{
    if (!IsOpened() || destination < 0)
        return false;
    set_source(destination, kConstant);
    const bool done = request(destination, Release::idle);
    const Errno e(done ? 0 : errno);
    if (!done)
        std::clog << "hwMux: disconnect failed " << destination << " : " << e << std::endl;
    settle(destination, Release::idle, e.value());
    return done;
}

bool HwMux::Disable(int channel)
{
    if (!IsOpened() || channel < 0)
        return false;
    set_source(channel, kDisabled);
    const bool done = request(channel, Release::disable);
    const Errno e(done ? 0 : errno);
    if (!done)
        std::clog << "hwMux: disable failed " << channel << " : " << e << std::endl;
    settle(channel, Release::disable, e.value());
    return done;
}

bool HwMux::Write(int channel, unsigned char value)
{
    if (!IsOpened() || channel < 0)
        return false;
    set_source(channel, kConstant);
    hal::SwitchByte r{channel, value};
    if (board().ioctl(mFd.lowlevel_fd(), hal::kWrite, &r) == -1) {
        Errno e;
        std::clog << "hwMux: write failed " << channel << " <- "
                  << "0x" << std::hex << unsigned(value) << std::dec << " : " << e << std::endl;
        return false;
    }
    mPending.erase(channel);
    return true;
}

int HwMux::Read(int channel)
{
    if (!IsOpened() || channel < 0)
        return 255;
    hal::SwitchByte r{channel, 0xFF};
    if (board().ioctl(mFd.lowlevel_fd(), hal::kRead, &r) == -1) {
        Errno e;
        std::clog << "hwMux: read failed " << channel << " -> "
                  << "0x" << std::hex << r.value << std::dec << " : " << e << std::endl;
        return 255;
    }
    return r.value & 0xFF;
}

// Each refused release is asked again, without a log line, until the driver
// takes it. A pass asks at most kRetriesPerPass of them, going on where the
// last pass stopped, so a driver that refuses everything costs a bounded
// number of requests per pass however many outputs wait.
void HwMux::retry_releases()
{
    std::size_t left = std::min<std::size_t>(mPending.size(), kRetriesPerPass);
    auto it = mPending.lower_bound(mRetryFrom);
    for (; left > 0; --left) {
        if (it == mPending.end())
            it = mPending.begin();
        set_source(it->first, it->second == Release::idle ? kConstant : kDisabled);
        if (request(it->first, it->second))
            it = mPending.erase(it);
        else
            ++it;
    }
    mRetryFrom = it == mPending.end() ? 0 : it->first;
}

void HwMux::OnDPC()
{
    if (!mFd.is_valid())
        return;
    retry_releases();
    for (unsigned n = 0; n < kRefreshPerPass; ++n) {
        mCursor = (mCursor + 1) % SwitchChannel::kBusOutputs;
        if (mSources[mCursor] != kDisabled)
            continue;
        hal::SwitchChannel r{SwitchChannel::kBusFirst + int(mCursor)};
        board().ioctl(mFd.lowlevel_fd(), hal::kDisable, &r);
    }
}

void print_trace()
{
    void* frames[10];
    const int n = ::backtrace(frames, 10);
    char** names = ::backtrace_symbols(frames, n);
    std::printf("Obtained %zd stack frames.\n", static_cast<ssize_t>(n));
    for (int i = 0; i < n && names; ++i)
        std::printf("%s\n", names[i]);
    std::free(names);
}
