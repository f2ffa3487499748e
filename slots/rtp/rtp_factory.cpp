#include "slots/rtp/rtp_factory.hpp"

#include <arpa/inet.h>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <sys/socket.h>

#include "asn1/asn1.hpp"
#include "hardware/dev_names.hpp"
#include "platform/board.hpp"
#include "runtime/log_text.hpp"
#include "runtime/trace.hpp"
#include "slots/rtp/rtp_slot.hpp"

namespace
{
using namespace platform;

// The IPv4 address of a dotted text in network order; false for anything else.
bool Address(const std::string& text, std::uint32_t& address)
{
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    address = a.s_addr;
    return true;
}
} // namespace

RtpFactory& RtpFactory::instance()
{
    static RtpFactory factory;
    return factory;
}

RtpFactory::RtpFactory()
{
    IQuery();
}

std::ostream& RtpFactory::PutHeader(std::ostream& os) const
{
    os << "rtp[" << g723 << "," << g729 << "," << g711 << "," << universal << "]: ";
    return os;
}

void RtpFactory::IQuery()
{
    g729 = g723 = g711 = g711mcc = universal = 0;
    Fd fd;
    if (!fd.open(GetVoiceDevName(), O_RDONLY)) {
        std::cerr << ext::header(this) << "device \"" << GetVoiceDevName() << "\" open fail: " << Errno()
                  << std::endl;
        return;
    }
    struct Capacity {
        std::uint32_t mask;
        unsigned RtpFactory::*field;
    };
    const Capacity capacities[] = {{kG729, &RtpFactory::g729},
                                   {kG723, &RtpFactory::g723},
                                   {kG711, &RtpFactory::g711},
                                   {kG711mcc, &RtpFactory::g711mcc},
                                   {kUniversal, &RtpFactory::universal}};
    for (const Capacity& c : capacities) {
        std::uint32_t mask = c.mask;
        const int n = board().ioctl(fd.lowlevel_fd(), voice::kCapacity, &mask);
        if (n > 0)
            this->*c.field = unsigned(n);
    }
}

void RtpFactory::Query(LGCP::Resources& resources)
{
    IQuery();
    resources.set_rtp_g729(int(g729));
    resources.set_rtp_g723(int(g723));
    resources.set_rtp_g711(int(g711));
    resources.set_rtp_g711mcc(int(g711mcc));
    resources.set_universal(int(universal));
}

int RtpFactory::translateCodec(TERM::Payload::NamedNumber payload)
{
    switch (payload) {
    case TERM::Payload::ptG711_Alaw:
        return 8;
    case TERM::Payload::ptG711_Ulaw:
        return 0;
    case TERM::Payload::ptG723:
        return 4;
    case TERM::Payload::ptG729:
        return 18;
    case TERM::Payload::ptG711mcc_Alaw:
        return 136;
    case TERM::Payload::ptG711mcc_Ulaw:
        return 128;
    case TERM::Payload::ptG728:
        return 15;
    default:
        return -1;
    }
}

int RtpFactory::translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber other)
{
    const bool plainLaw = other == TERM::Payload::ptG711_Alaw || other == TERM::Payload::ptG711_Ulaw;
    return translateCodec(other != payload && plainLaw ? other : payload);
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& p)
{
    if (!p.rtp_isSelected() || p.get_rtp().get_codecRTP().radio_isPresent())
        return nullptr;
    const LGCP::CreateRtpParams& create = p.get_rtp();
    const TERM::RtpParams& rtp = create.get_codecRTP();
    std::clog << ext::header(this) << "do create rtp: " << ASN1::logText(rtp) << std::endl;

    const TERM::Payload::NamedNumber payload = rtp.get_payload();
    if (translateCodec(payload) < 0) {
        std::clog << ext::header(this) << "rtp do not created: payload " << int(payload) << "not found"
                  << std::endl;
        return nullptr;
    }
    rtp::rtp_connection_params params{};
    // An address that is not a dotted IPv4 text is refused: the stream would
    // otherwise go to a broadcast address.
    for (const TERM::HostAddress* host :
         {&rtp.get_dhost(), rtp.shost_isPresent() ? &rtp.get_shost() : nullptr}) {
        std::uint32_t& address = host == &rtp.get_dhost() ? params.remote_addr : params.local_addr;
        if (host && !Address(host->get_iaddr(), address)) {
            std::clog << ext::header(this) << "rtp do not created: invalid address "
                      << ext::escaped(host->get_iaddr()) << std::endl;
            return nullptr;
        }
    }
    const unsigned remotePort = rtp.get_dhost().get_port().getValue();
    const unsigned localPort = rtp.shost_isPresent() ? rtp.get_shost().get_port().getValue() : remotePort;
    const auto rtcpPort = std::uint16_t(localPort + 1);

    Fd socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    const int on = 1;
    if (!socket.is_valid() ||
        ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        std::clog << ext::header(this) << "rtp do not created: can not create socket [errno=" << Errno()
                  << "]" << std::endl;
        return nullptr;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(rtcpPort);
    if (::bind(socket.lowlevel_fd(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::clog << ext::header(this) << "rtp do not created: can not bind socket [errno=" << Errno()
                  << ", port=" << rtcpPort << "]" << std::endl;
        return nullptr;
    }
    Fd device;
    if (!device.open(GetRtpDevName(), O_RDONLY | O_NONBLOCK)) {
        std::cerr << ext::header(this) << "device \"" << GetRtpDevName() << "\" open fail: " << Errno()
                  << std::endl;
        return nullptr;
    }

    params.remote_port = std::uint16_t(remotePort);
    params.local_port = std::uint16_t(localPort);
    params.rx_pt = std::uint16_t(translateCodec(payload, create.get_rxPayload()));
    params.tx_pt = std::uint16_t(translateCodec(payload, create.get_txPayload()));
    params.packet_factor = std::uint16_t(rtp.pfactor_isPresent() ? rtp.get_pfactor().getValue() : 0);
    params.vad = rtp.vad_isPresent() && rtp.get_vad() ? 1 : 0;
    params.crate = rtp.crate_isPresent() && rtp.get_crate().getValue() != 0 ? 1 : 0;
    params.ssrc =
        rtp.ssrc_isPresent() ? std::uint32_t(rtp.get_ssrc().getValue()) : std::uint32_t(std::rand());
    params.ttl = rtp.ttl_isPresent() ? std::int32_t(rtp.get_ttl().getValue()) : 0;
    params.tos =
        rtp.qos_dscp_isPresent() ? (int(TERM::IpQoSDSCP::NamedNumber(rtp.get_qos_dscp())) & 63) * 4 : -1;

    if (board().ioctl(device.lowlevel_fd(), rtp::kBeginSession, &params) == -1) {
        std::cerr << ext::header(this) << "begin session fail !!! " << std::endl;
        return nullptr;
    }
    rtp::rtp_channel_info info{-1, -1, -1, 0};
    if (board().ioctl(device.lowlevel_fd(), rtp::kAddChannel, &info) == -1) {
        std::cerr << ext::header(this) << "add channel fail !!!" << std::endl;
        return nullptr;
    }
    // A stream that still holds the channel lost its session in this loop
    // turn and lets the channel go before the new stream is made.
    ChannelHolder::HandedOut(GetSlots(), info.tdm, nullptr);
    // A slot that could not take its own descriptors of the session and of
    // the RTCP socket is refused. It has asked nothing of the tone and DSP
    // drivers for its channel, so it goes without a word to them; the session
    // ends with our descriptor of it, and no RTCP packet went out.
    const auto refuse = [this](RtpSlot* slot) -> Slot* {
        const Errno error;
        slot->channel = -1;
        delete slot;
        std::cerr << ext::header(this) << "rtp do not created: can not duplicate descriptor [errno=" << error
                  << "]" << std::endl;
        return nullptr;
    };
    RtpSlot* slot = new RtpSlot(info.tdm, device, params);
    if (!slot->device_open() || !slot->deviceEvent.IsActive())
        return refuse(slot);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = params.remote_addr;
    peer.sin_port = htons(std::uint16_t(remotePort + 1));
    slot->startRTPC(socket, peer);
    if (!slot->rtcpSocket.is_valid())
        return refuse(slot);
    if (rtp.echo_isPresent() && rtp.get_echo().get_suppressor())
        slot->echoCancel(rtp.get_echo().get_canceller());
    return slot;
}
