#include "hardware/e1ctl.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "messages/lgcp/LGCP.hpp"
#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "runtime/multiplexer.hpp"

namespace
{
using namespace platform;

const char kHeader[] = "E1: ";

std::ostream& header(std::ostream& os)
{
    return os << kHeader;
}
} // namespace

E1Ctl::cas_channel::cas_channel(LGCP::CasChannel const& c)
    : path(c.get_path().getValue()), timeslot(c.get_timeslot().getValue()), reserved(0)
{
}

std::ostream& E1Ctl::PutHeader(std::ostream& os) const
{
    return header(os);
}

E1Ctl& E1Ctl::instance()
{
    static E1Ctl e1;
    return e1;
}

void E1Ctl::OnConnect()
{
    SendStatus();
    mStatus.set(kStatusPeriod, &E1Ctl::OnCheckStatus, this);
    mMask = 0;
    UpdateTclk();
    CheckOpenCas();
}

void E1Ctl::OnDisconnect()
{
    // Nobody to tell: every pass would only log that the send was refused.
    mStatus.reset();
}

bool E1Ctl::OnCommand(LGCP::Command const& command)
{
    if (command.ioctl_isSelected()) {
        HandleCas(command.get_ioctl());
        Success();
        return true;
    }
    if (command.trunkCfg_isSelected()) {
        SetMode(command.get_trunkCfg());
        Success();
        return true;
    }
    return false;
}

void E1Ctl::OnCheckStatus()
{
    SendStatus();
    CheckOpenCas();
    mStatus.set(kStatusPeriod, &E1Ctl::OnCheckStatus, this);
}

bool E1Ctl::OpenMaintenance()
{
    return mMaintenance.is_valid() || mMaintenance.open(maintenance::kPath, O_RDWR | O_NONBLOCK);
}

void E1Ctl::SendStatus()
{
    if (!OpenMaintenance())
        return;
    LGCP::Signal signal;
    ACP::TrunkStatus& status = signal.select_trunkStatus();
    for (int trunk = 0; trunk < kTrunks; ++trunk) {
        maintenance::TrunkStatus record{};
        record.trunk = trunk;
        if (board().ioctl(mMaintenance.lowlevel_fd(), maintenance::kStatus, &record) == -1) {
            Errno e;
            std::cerr << header << "synchronization status read fail, trunk = " << trunk << " cause = " << e
                      << std::endl;
            continue;
        }
        status.set_trunk(trunk);
        status.set_state(ACP::TrunkState::NamedNumber(record.state));
        status.set_slips(record.slips);
        status.set_lossBF(record.lossBF);
        status.set_lossCarrier(record.lossCarrier);
        status.set_lossAIS(record.ais);
        status.set_lossRAI(record.rai);
        status.set_name("");
        status.set_clockMaster(false);
        status.set_type(ACP::TrunkType::e1);
        SendSignal(signal);
    }
}

void E1Ctl::SetMode(LGCP::TrunkCfg const& cfg)
{
    const int trunk = cfg.get_trunk().getValue();
    if (trunk < 0)
        return;
    const std::uint32_t bit = trunk < 32 ? 1u << trunk : 0u;
    if (cfg.get_mode() == LGCP::TrunkMode::slave)
        mMask |= bit;
    else
        mMask &= ~bit;
    UpdateTclk();
}

void E1Ctl::UpdateTclk()
{
    if (!OpenMaintenance())
        return;
    if (board().ioctl(mMaintenance.lowlevel_fd(), maintenance::kTclkMask, mMask) == -1) {
        Errno e;
        std::cerr << header << "fail to set TCLK [cause=" << e << "]" << std::endl;
        return;
    }
    std::clog << header << "TCLT = 0x" << std::hex << mMask << std::dec << std::endl;
}

void E1Ctl::select_source(int source)
{
    if (!OpenMaintenance())
        return;
    if (board().ioctl(mMaintenance.lowlevel_fd(), maintenance::kClockSource, source) == -1)
        std::cerr << header << "fail to set clock source" << std::endl;
}

bool E1Ctl::CheckOpenCas()
{
    if (mCas.is_valid())
        return true;
    if (!mCas.open(e1cas::kPath, O_RDWR | O_NONBLOCK))
        return false;
    std::clog << header << "cas interface opened!" << std::endl;
    mCasEvent.Bind("E1/Cas", &E1Ctl::OnUpdateCas, this);
    mCasEvent.Schedule(mCas, POLLIN);
    return true;
}

void E1Ctl::OnUpdateCas(int fd, short revents)
{
    const short lost = POLLERR | POLLHUP | POLLNVAL;
    int error = 0;
    if (revents & POLLIN) {
        // One record per pass: the driver queues the others.
        e1cas::CasBits bits;
        const ssize_t n = ::read(fd, &bits, sizeof bits);
        if (n == ssize_t(sizeof bits)) {
            SendCASSignal(bits.path, bits.timeslot, bits.rx, bits.tx);
            return;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            error = errno;
        // Anything else is not a bit change; an empty read ends the device
        // only when the poll bits say so.
        else if (!(revents & lost))
            return;
    } else if (!(revents & lost)) {
        return;
    }
    // The descriptor will not carry a record again: it is no longer polled,
    // so a failed device never keeps the loop spinning, and the next status
    // pass or CAS command opens the device afresh.
    std::cerr << header << "cas interface lost: "
              << (error ? std::string(std::strerror(error)) : PollEventAsText(short(revents & lost)))
              << std::endl;
    mCasEvent.Release();
    mCas.close();
    for (auto& open : mCasOpen)
        open = 0;
}

void E1Ctl::SendCASSignal(int path, int timeslot, int rx, int tx)
{
    LGCP::Signal signal;
    LGCP::CasSignalling& cas = signal.select_cas();
    cas.set_channel().set_path(path);
    cas.set_channel().set_timeslot(timeslot);
    cas.set_rx(rx);
    cas.set_tx(tx);
    SendSignal(signal);
}

void E1Ctl::HandleCas(LGCP::IoctlParams const& params)
{
    if (!CheckOpenCas() || !params.cas_isSelected())
        return;
    LGCP::CasCommand const& command = params.get_cas();
    const cas_channel channel(command.get_channel());
    LGCP::CasCommandSignal const& cmd = command.get_cmd();
    if (cmd.open_isSelected())
        HandleCasOpen(channel, cmd.get_open().getValue());
    else if (cmd.close_isSelected())
        HandleCasClose(channel);
    else if (cmd.set_isSelected())
        HandleCasOpen(channel, cmd.get_set().getValue()); // a set opens with the given bits
    else if (cmd.get_isSelected())
        HandleCasGet(channel);
}

void E1Ctl::HandleCasOpen(cas_channel const& channel, int bits)
{
    const int path = channel.path;
    if (!validTrunk(path))
        return;
    if (mCasOpen[path]) {
        SendCASTrunkStatus(path, 0);
    } else {
        const int r = board().ioctl(mCas.lowlevel_fd(), e1cas::kOpen, path);
        SendCASTrunkStatus(path, r);
        if (r < 0) {
            std::clog << header << "open cas signalling on trunk(" << path << ") - fail(" << r << ")"
                      << std::endl;
            return;
        }
        std::clog << header << "open cas signalling on trunk(" << path << ") - ok" << std::endl;
        mCasOpen[path] = 1;
    }
    if (channel.timeslot == 0 || channel.timeslot == 16)
        return;
    e1cas::CasConfigure configure{path, channel.timeslot, 0, std::uint8_t(bits & 15), {0, 0}, 0};
    const int r = board().ioctl(mCas.lowlevel_fd(), e1cas::kConfigure, &configure);
    if (r < 0) {
        SendCASSignal(path, channel.timeslot, r, 0);
        return;
    }
    ReportBits(channel);
}

void E1Ctl::HandleCasClose(cas_channel const& channel)
{
    const int path = channel.path;
    if (!validTrunk(path) || !mCasOpen[path])
        return;
    if (channel.timeslot == 0) {
        int r = board().ioctl(mCas.lowlevel_fd(), e1cas::kClose, path);
        if (r == 0)
            r = 1; // the controller reads 1 as "closed"
        SendCASTrunkStatus(path, r);
        if (r >= 0)
            mCasOpen[path] = 0;
        return;
    }
    if (channel.timeslot == 16)
        return;
    e1cas::CasConfigure configure{path, channel.timeslot, 0, 0, {0, 0}, 1};
    const int r = board().ioctl(mCas.lowlevel_fd(), e1cas::kConfigure, &configure);
    if (r < 0)
        SendCASSignal(path, channel.timeslot, r, 0);
    else
        SendCASSignal(path, channel.timeslot, -1, 1);
}

void E1Ctl::ReportBits(cas_channel const& channel)
{
    e1cas::CasBits bits{channel.path, channel.timeslot, 0, 0, {0, 0}};
    const int r = board().ioctl(mCas.lowlevel_fd(), e1cas::kGet, &bits);
    if (r < 0)
        SendCASSignal(channel.path, channel.timeslot, r, 0);
    else
        SendCASSignal(channel.path, channel.timeslot, bits.rx, bits.tx);
}

void E1Ctl::HandleCasGet(cas_channel const& channel)
{
    if (!validTrunk(channel.path) || !mCasOpen[channel.path])
        return;
    ReportBits(channel);
}

void E1Ctl::HandleCasSet(cas_channel const& channel, int bits)
{
    if (!validTrunk(channel.path) || !mCasOpen[channel.path])
        return;
    e1cas::CasBits set{channel.path, channel.timeslot, 0, std::uint8_t(bits & 15), {0, 0}};
    const int r = board().ioctl(mCas.lowlevel_fd(), e1cas::kSet, &set);
    if (r < 0) {
        SendCASSignal(channel.path, channel.timeslot, r, 0);
        return;
    }
    ReportBits(channel);
}
