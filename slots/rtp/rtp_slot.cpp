#include "slots/rtp/rtp_slot.hpp"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

#include "asn1/asn1.hpp"
#include "hardware/dev_names.hpp"
#include "hardware/hw_mux.hpp"
#include "hardware/media_log.hpp"
#include "platform/board.hpp"
#include "slots/factory.hpp"
#include "slots/join.hpp"
#include "slots/media_ioctl.hpp"

namespace
{
using namespace platform;

const unsigned kRtcpBuffer = 1024;
const std::int32_t kAlawPt = 8;
const std::int32_t kUlawPt = 0;

// Opens a session on the RTP driver with the record and adds the channel
// (-1: any); the session's descriptor, or an invalid one. The driver hands
// out whole event records; the descriptor is read without blocking so that a
// read never holds the loop.
Fd OpenSession(rtp::rtp_connection_params& params, rtp::rtp_channel_info& info, const char*& failed)
{
    Fd fd;
    failed = "open";
    if (!fd.open(GetRtpDevName(), O_RDONLY | O_NONBLOCK))
        return Fd();
    failed = "begin";
    if (board().ioctl(fd.lowlevel_fd(), rtp::kBeginSession, &params) == -1)
        return Fd();
    failed = "add";
    if (board().ioctl(fd.lowlevel_fd(), rtp::kAddChannel, &info) == -1)
        return Fd();
    failed = nullptr;
    return fd;
}
} // namespace

const char RtpSlot::kCname[] = "Velmora Pardomax";
const char RtpSlot::kEmail[] = "support@velmora-pardomax.example";
const char RtpSlot::kPhone[] = "+1 555 0100";
const char RtpSlot::kByeReason[] = "session end";

RtpSlot::RtpSlot(int channel_, Fd const& device_, rtp_connection_params const& params_)
    : channel(channel_), device(device_), params(params_), initialPayload(params_.rx_pt)
{
    deviceEvent.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
    deviceEvent.Schedule(device, POLLIN);
}

RtpSlot::~RtpSlot()
{
    send(RTPC::BYE(params.ssrc, kByeReason));
    rtcpSocket.close();
    // A slot that gave its channel back cleaned it then; it may be another
    // stream's by now.
    if (channel < 0)
        return;
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
}

std::ostream& RtpSlot::header(std::ostream& os) const
{
    return os << "rtp[" << channel << "]: ";
}

void RtpSlot::startRTPC(Fd& socket, sockaddr_in const& peer)
{
    rtcpPeer = peer;
    rtcpSocket = socket;
    RTPC::SDES sdes(params.ssrc);
    sdes.add(RTPC::SDES::Item::CNAME, kCname);
    sdes.add(RTPC::SDES::Item::EMAIL, kEmail);
    sdes.add(RTPC::SDES::Item::PHONE, kPhone);
    send(sdes);
}

void RtpSlot::send(RTPC::Msg const& message)
{
    char buffer[kRtcpBuffer];
    const unsigned n = message.encode(buffer, sizeof buffer);
    if (n == 0 || !rtcpSocket.is_valid())
        return;
    // Best effort, as RTCP is: a lost report is not worth a failure.
    (void)::sendto(rtcpSocket.lowlevel_fd(), buffer, n, MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&rtcpPeer), sizeof rtcpPeer);
}

void RtpSlot::OnRtpEvent(int, short revents)
{
    // The records the driver queued are read first, also from a session that
    // has hung up or failed since.
    if (revents & POLLIN)
        readRtpEvents();
    if (deviceEvent.IsActive() && (revents & (POLLERR | POLLHUP | POLLNVAL))) {
        // A session in error stays in error (a hung-up one at end of file):
        // watching it on would make every loop pass return at once. The
        // driver has freed its channel with it.
        session_lost();
    }
}

void RtpSlot::session_lost()
{
    header(std::cerr) << "rtp device error, events disabled" << std::endl;
    release_channel();
}

void RtpSlot::readRtpEvents()
{
    while (deviceEvent.IsActive()) {
        rtp::rtp_event e{};
        const ssize_t n = ::read(device.lowlevel_fd(), &e, sizeof e);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                readFailed = false;
                return;
            }
            // A passing fault costs this pass only; one that fails again in
            // the next pass would fail in every pass: the session is as good
            // as gone then, and the slot lets it and its channel go.
            header(std::cerr) << "fail to read from rtp: " << Errno() << std::endl;
            if (readFailed)
                release_channel();
            else
                readFailed = true;
            return;
        }
        readFailed = false;
        // Whole records only: a short or empty read ends the burst (an empty
        // one is also the end of a hung-up session, which the poll bits report).
        if (n != ssize_t(sizeof e))
            return;
        header(std::clog) << "rtp event: "
                          << " type=" << e.type << std::endl;
        processRtpEvent(e);
    }
}

bool RtpSlot::enablePD(LGCP::PDParams const& pd)
{
    pdTimeout = int(pd.get_timeout().getValue());
    pdEnabled = setPdEvent(pdTimeout);
    return pdEnabled;
}

bool RtpSlot::setPdEvent(int timeout)
{
    rtp::EventConfig c{};
    c.word[0] = rtp::kEventPd;
    c.word[2] = std::uint32_t(timeout);
    c.word[5] = std::uint32_t(timeout);
    if (board().ioctl(device.lowlevel_fd(), rtp::kSetEvent, &c) == -1) {
        header(std::cerr) << "RTP SET EVENT PD fail:" << Hardware::ErrnoPiece() << std::endl;
        return false;
    }
    header(std::clog) << "RTP SET EVENT PD "
                      << "timeout=" << timeout << std::endl;
    return true;
}

bool RtpSlot::disablePD()
{
    // Not asked of a new session again, even when the driver refused it here.
    pdEnabled = false;
    std::uint32_t type = rtp::kEventPd;
    if (board().ioctl(device.lowlevel_fd(), rtp::kResetEvent, &type) == -1) {
        header(std::cerr) << "RTP RESET EVENT PD fail:" << Hardware::ErrnoPiece() << std::endl;
        return false;
    }
    header(std::clog) << "RTP RESET EVENT PD" << std::endl;
    return true;
}

bool RtpSlot::restart()
{
    // The old session goes entirely: its descriptor here and the event's own
    // duplicate, so the driver releases it before the new one asks for the channel.
    device.close();
    deviceEvent.Release();
    // The old session's failed read counts for nothing against the new one.
    readFailed = false;
    rtp::rtp_channel_info info{channel, -1, -1, 0};
    const char* failed = nullptr;
    Fd fresh = OpenSession(params, info, failed);
    if (!failed) {
        if (SlotFactory* factory = GetSlotFactory())
            ChannelHolder::HandedOut(factory->GetSlots(), info.tdm, this);
        device = std::move(fresh);
        // A session whose events cannot be watched (no descriptor left for
        // the event's duplicate) would be deaf: it fails the restart.
        deviceEvent.Schedule(device, POLLIN);
        if (!deviceEvent.IsActive())
            device.close();
    }
    if (!device.is_valid()) {
        // No session has the input or the event now.
        inputStarted = false;
        pdEnabled = false;
        return false;
    }
    // A request the new session refuses leaves the flag off; the restart stands.
    if (inputStarted)
        inputStarted = !transmissionDependOnSQU && startInput();
    if (pdEnabled)
        pdEnabled = setPdEvent(pdTimeout);
    return true;
}

int RtpSlot::translate_payload(LGCP::CodecMode const& mode) const
{
    switch (LGCP::CodecMode::NamedNumber(mode)) {
    case LGCP::CodecMode::alaw:
        return kAlawPt;
    case LGCP::CodecMode::ulaw:
        return kUlawPt;
    default:
        return initialPayload;
    }
}

void RtpSlot::IAfterCreate()
{
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy()
{
    // A slot that let its channel go has no session left to tear down, and
    // the channel may be another stream's by now.
    if (channel < 0)
        return true;
    const int fd = device.lowlevel_fd();
    board().ioctl(fd, rtp::kTeardown1);
    board().ioctl(fd, rtp::kTeardown2);
    board().ioctl(fd, rtp::kTeardown3);
    std::uint32_t type = rtp::kEventPd;
    board().ioctl(fd, rtp::kResetEvent, &type);
    device.close();
    deviceEvent.Release();
    HwMux::instance().Disable(channel);
    return true;
}

bool RtpSlot::IOnInputStream()
{
    if (channel < 0)
        return false;
    if (transmissionDependOnSQU)
        return true;
    // Asked for: a refused start is asked again of a restarted session.
    startInput();
    inputStarted = true;
    return true;
}

bool RtpSlot::startInput()
{
    return board().ioctl(device.lowlevel_fd(), rtp::kStartInput) != -1;
}

void RtpSlot::IOnInputRelease()
{
    // A session already let go has no input to release.
    if (device.is_valid())
        board().ioctl(device.lowlevel_fd(), rtp::kReleaseInput);
    inputStarted = false;
}

bool RtpSlot::change_codec(LGCP::IoctlParams const& c, LGCP::CodecMode const& mode,
                           std::uint16_t rtp_connection_params::*field)
{
    // The line ends with the outcome, after the lines of the restart itself.
    std::ostringstream line;
    header(line) << "do restart RTP session (change tx payload):" << ASN1::logText(c);
    const int pt = translate_payload(mode);
    if (pt == params.*field) {
        std::clog << line.str() << " - Nothing to do" << std::endl;
        return true;
    }
    params.*field = std::uint16_t(pt);
    if (!restart()) {
        std::clog << line.str() << std::endl;
        header(std::cerr) << "fail to restart RTP session!" << std::endl;
        release_channel();
        return false;
    }
    std::clog << line.str() << " - OK" << std::endl;
    return true;
}

void RtpSlot::release_channel()
{
    // The session goes first, so that the joins' release asks nothing of it.
    // No session has the input or the event now.
    device.close();
    deviceEvent.Release();
    inputStarted = false;
    pdEnabled = false;
    readFailed = false;
    LeaveChannel(*this, channel);
    Hardware::TonecReceiver::CleanBeforeDestroy();
    Hardware::DSProcReceiver::CleanBeforeDestroy();
    // From here on the receivers name no timeslot the services deliver to,
    // and the switch refuses the channel.
    channel = -1;
}

bool RtpSlot::Ioctl(LGCP::IoctlParams const& c)
{
    if (channel < 0)
        return false;
    bool result = false;
    Hardware::TonecReceiver& tone = *this;
    Hardware::DSProcReceiver& dsp = *this;
    if (MediaIoctl::Receive(tone, dsp, c, result) || MediaIoctl::Common(tone, dsp, c, result))
        return result;
    if (c.activateWaitTone_isSelected()) {
        activateAudibleCall();
        return true;
    }
    if (c.deactivateWaitTone_isSelected()) {
        cancelAudibleCall();
        return true;
    }
    if (c.pd_enable_isSelected())
        return enablePD(c.get_pd_enable());
    if (c.pd_disable_isSelected())
        return disablePD();
    if (c.encoder_mode_isSelected())
        return change_codec(c, c.get_encoder_mode(), &rtp_connection_params::tx_pt);
    if (c.decoder_mode_isSelected())
        return change_codec(c, c.get_decoder_mode(), &rtp_connection_params::rx_pt);
    if (c.selcal_isSelected()) {
        translateSelcal(c.get_selcal());
        return true;
    }
    return false;
}

const char* RTPStrError(unsigned code)
{
    struct Text {
        unsigned code;
        const char* text;
    };
    static const Text texts[] = {
        {0, "No error"},
        {0x3000002, "Parameter out of range"},
        {0x3000004, "Memory allocation failed"},
        {0x3000008, "Allocated buffer too small"},
        {0x3000101, "Maximum number of contexts exceeded"},
        {0x3000102, "Context destroyed or never created"},
        {0x3000103, "Socket not open for reading or writing"},
        {0x3000104, "Can't obtain a new socket"},
        {0x3000105, "Can't bind socket"},
        {0x3000106, "Unable to set socket option"},
        {0x3000107, "Unable to write to socket"},
        {0x3000108, "Unable to read from socket"},
        {0x3000109, "Socket does not belong to session"},
        {0x300010A, "Change not allowed during open session"},
        {0x300010B, "Invalid address specified"},
        {0x300010C, "Invalid port specified"},
        {0x300010E, "Unable to close session"},
        {0x300010F, "No such membership info"},
        {0x3000110, "Invalid rtpprofile specified"},
        {0x3000111, "no data to receive at socket"},
        {0x3000112, "Packet looped back"},
        {0x3000113, "CSRC list not yet set"},
        {0x3000114, "2 CSRCs on list have same SSRC"},
        {0x3000115, "Packet has incorrect format"},
        {0x3000116, "Person not session member"},
        {0x3000117, "Person data protected"},
        {0x3000118, "No such sender in current session"},
        {0x3000119, "No such SDES field"},
        {0x300011A, "Encryption / decryption function not set"},
        {0x300011B, "Packet was unsuccessfully decrypted"},
        {0x300011C, "End of iterating list"},
        {0x300011D, "Not allowed to recurse"},
        {0x300011E, "SSRC in use"},
        {0x300011F, "Couldn't get socket name"},
        {0x3000120, "No such contributor"},
        {0x3000121, "CSRC list full"},
        {0x3000122, "Don't send this packet now"},
    };
    for (const Text& t : texts) {
        if (t.code == code)
            return t.text;
    }
    static char unknown[64];
    std::snprintf(unknown, sizeof unknown, "Unknown RTP Error %d", int(code));
    return unknown;
}
