#include "slots/mcc/mcc_slot.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "runtime/trace.hpp"
#include "slots/join.hpp"
#include "slots/slots.hpp"

namespace
{
const std::size_t kReadSize = 1024;
const short kLost = POLLERR | POLLHUP | POLLNVAL;
} // namespace

MccSlot::MccSlot(Fd const& fd) : mChannel(platform::board().ioctl(fd.lowlevel_fd(), platform::mcc::kTimeslot))
{
    mEvent.Bind<MccSlot>("MccSlot::OnEvent", &MccSlot::OnEvent, this);
    // The duplicates come last, so that errno still tells why one failed.
    mFd = fd;
    if (mFd.is_valid())
        mEvent.Schedule(fd, POLLIN);
}

bool MccSlot::IUserData(std::vector<char> const& data)
{
    // A channel let go is no longer the slot's to write to.
    const ssize_t n = !mFd.is_valid() ? -1 : ::write(mFd.lowlevel_fd(), data.data(), data.size());
    if (n == static_cast<ssize_t>(data.size()))
        return true;
    // A frame the channel did not take whole is lost: the controller hears
    // of a failure, not that the kind takes no user data. The command is
    // answered here, so the manager's own answer to false is not sent.
    Slots::instance().Error(LGCP::ErrorCause::internal);
    return false;
}

void MccSlot::OnEvent(int, short revents)
{
    // What the channel still holds is read first: frames the driver queued
    // before it gave up are the controller's all the same.
    if (revents & POLLIN)
        DoRead();
    if (mEvent.IsActive() && (revents & kLost))
        LetGoChannel();
}

void MccSlot::DoRead()
{
    std::vector<char> buffer;
    while (mEvent.IsActive()) {
        buffer.resize(kReadSize);
        const ssize_t n = ::read(mEvent.lowlevel_fd(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                mReadFailed = false;
                return;
            }
            // A passing fault costs this pass only; one that fails again in
            // the next pass would fail in every pass and wake the loop at
            // once each time: the channel is no longer watched then.
            const Errno error;
            std::cerr << "mcc: " << *this << ": fail to read: " << error << std::endl;
            if (mReadFailed)
                LetGoChannel();
            else
                mReadFailed = true;
            return;
        }
        mReadFailed = false;
        // An empty read ends the burst: it is an empty record, or the end of
        // a channel the driver hung up, which the poll bits report with it.
        if (n == 0)
            return;
        buffer.resize(static_cast<std::size_t>(n));
        OnUserData(buffer);
    }
}

void MccSlot::LetGoChannel()
{
    // A hung-up channel stays readable (end of file) and one in error stays
    // in error: watched on, it would wake the loop at once in every pass.
    std::cerr << "mcc: " << *this << ": channel error, reading stopped" << std::endl;
    mFd.close();
    mEvent.Release();
    mReadFailed = false;
    if (mChannel < 0)
        return;
    LeaveChannel(*this, mChannel);
    // From here on the slot takes no join, and the switch refuses the channel.
    mChannel = -1;
}

MccFactory& MccFactory::instance()
{
    static MccFactory factory;
    return factory;
}

Slot* MccFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.mcc_isSelected())
        return nullptr;
    Fd fd;
    if (!fd.open(platform::mcc::kPath, O_RDWR | O_NONBLOCK | O_CLOEXEC)) {
        const Errno error;
        std::cerr << ext::header(this) << "fail to open MCC device: " << std::strerror(error.value())
                  << std::endl;
        return nullptr;
    }
    LGCP::MccParams const& p = params.get_mcc();
    std::uint32_t code;
    switch (p.get_type().asInt()) {
    case LGCP::MccType::data:
        code = platform::mcc::kData;
        break;
    case LGCP::MccType::bri:
        code = platform::mcc::kBri;
        break;
    case LGCP::MccType::transparent:
        code = platform::mcc::kTransparent;
        break;
    default:
        return nullptr;
    }
    if (p.get_mode().asInt() == LGCP::MccMode::ss7)
        code = platform::mcc::kSs7;
    platform::mcc::Allocate allocate{code, 512, 0, 1, 1};
    std::clog << ext::header(this) << "MCC_ALLOCATE"
              << " type=" << code << std::endl;
    if (platform::board().ioctl(fd.lowlevel_fd(), platform::mcc::kAllocate, &allocate) < 0) {
        const Errno error;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(error.value()) << std::endl;
        return nullptr;
    }
    auto* slot = new MccSlot(fd);
    ChannelHandedOut(slot->get_channel());
    if (slot->holds_channel())
        return slot;
    // Without its own duplicates the slot would answer for a channel that
    // goes back to the driver with the last descriptor, ours, right here.
    const Errno error;
    delete slot;
    std::cerr << ext::header(this)
              << "fail to duplicate MCC channel descriptor: " << std::strerror(error.value()) << std::endl;
    return nullptr;
}

void MccPoolFactory::ChannelHandedOut(int channel)
{
    for (SlotFactory* f = firstFactory; f; f = f->GetNext()) {
        if (dynamic_cast<MccPoolFactory*>(f) && ChannelHolder::HandedOut(f->GetSlots(), channel, nullptr))
            return;
    }
}

void MccFactory::Query(LGCP::Resources& resources)
{
    resources.set_mcc_data(0);
    resources.set_mcc_bri(0);
    resources.set_mcc_trans(0);
    Fd fd;
    if (!fd.open(platform::mcc::kPath, O_RDONLY))
        return;
    platform::mcc::Counts counts{};
    if (platform::board().ioctl(fd.lowlevel_fd(), platform::mcc::kCounts, &counts) < 0)
        return;
    resources.set_mcc_data(int(counts.data));
    resources.set_mcc_bri(int(counts.bri));
    resources.set_mcc_trans(int(counts.transparent));
}
