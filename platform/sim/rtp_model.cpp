#include "platform/sim/rtp_model.hpp"

#include <arpa/inet.h>
#include <cstring>

namespace platform
{
namespace sim
{

namespace
{
std::string address(std::uint32_t networkOrder, std::uint16_t port)
{
    char text[INET_ADDRSTRLEN] = "";
    in_addr a{};
    a.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &a, text, sizeof text);
    return std::string(text) + ":" + std::to_string(port);
}
} // namespace

std::string describe(const rtp::rtp_connection_params& p)
{
    return "remote=" + address(p.remote_addr, p.remote_port) +
           " local=" + address(p.local_addr, p.local_port) + " rx_pt=" + std::to_string(p.rx_pt) +
           " tx_pt=" + std::to_string(p.tx_pt) + " pf=" + std::to_string(p.packet_factor) +
           " vad=" + std::to_string(p.vad) + " crate=" + std::to_string(p.crate) +
           " ssrc=" + std::to_string(p.ssrc) + " ttl=" + std::to_string(p.ttl) +
           " tos=" + std::to_string(p.tos);
}

RtpModel::RtpModel() : DeviceModel(rtp::kPath) {}

std::string RtpModel::usage() const
{
    return "rtp event <channel> <type> <value> <timeout>\n"
           "rtp sessions\n";
}

DeviceModel::RequestNames RtpModel::requests() const
{
    return {{"begin", rtp::kBeginSession},     {"add-channel", rtp::kAddChannel},
            {"teardown1", rtp::kTeardown1},    {"teardown2", rtp::kTeardown2},
            {"start-input", rtp::kStartInput}, {"release-input", rtp::kReleaseInput},
            {"teardown3", rtp::kTeardown3},    {"set-event", rtp::kSetEvent},
            {"reset-event", rtp::kResetEvent}};
}

std::string RtpModel::decode(unsigned long request, std::uintptr_t arg) const
{
    switch (request) {
    case rtp::kBeginSession:
        return "begin " + describe(*record<rtp::rtp_connection_params>(arg));
    case rtp::kAddChannel:
        return "add-channel tdm=" + std::to_string(record<rtp::rtp_channel_info>(arg)->tdm);
    case rtp::kSetEvent: {
        const auto* c = record<rtp::EventConfig>(arg);
        return "set-event type=" + std::to_string(c->word[0]) + " timeout=" + std::to_string(c->word[2]);
    }
    case rtp::kResetEvent:
        return "reset-event type=" + std::to_string(*record<std::uint32_t>(arg));
    default:
        for (auto& r : requests()) {
            if (r.second == request)
                return r.first;
        }
        return std::string();
    }
}

bool RtpModel::taken(std::int32_t channel) const
{
    for (auto& s : mSessions) {
        if (s.second.channel == channel)
            return true;
    }
    return false;
}

Reply RtpModel::ioctl(Channel channel, unsigned long request, std::uintptr_t arg)
{
    Session& s = mSessions[channel];
    switch (request) {
    case rtp::kBeginSession:
        s.begun = true;
        s.params = *record<rtp::rtp_connection_params>(arg);
        return Reply();
    case rtp::kAddChannel: {
        auto* info = record<rtp::rtp_channel_info>(arg);
        if (!s.begun || s.channel >= 0)
            return failure(EINVAL);
        std::int32_t tdm = info->tdm;
        if (tdm < 0) {
            for (tdm = kFirstChannel; taken(tdm);)
                ++tdm;
        }
        s.channel = info->tdm = tdm;
        Reply reply;
        reply.out = " tdm=" + std::to_string(tdm);
        return reply;
    }
    case rtp::kStartInput:
    case rtp::kReleaseInput:
        s.input = request == rtp::kStartInput;
        return Reply();
    case rtp::kTeardown1:
    case rtp::kTeardown2:
    case rtp::kTeardown3:
        s.input = false;
        return Reply();
    case rtp::kSetEvent:
        s.event = record<rtp::EventConfig>(arg)->word[0];
        return Reply();
    case rtp::kResetEvent:
        s.event = 0;
        return Reply();
    default:
        return failure(ENOTTY);
    }
}

void RtpModel::close(Channel channel)
{
    mSessions.erase(channel);
}

bool RtpModel::event(std::int32_t channel, std::uint32_t type, std::uint32_t value, std::uint32_t timeout)
{
    for (auto& s : mSessions) {
        if (s.second.channel != channel)
            continue;
        rtp::rtp_event e{type, value, timeout, {}};
        Bytes record(sizeof e);
        std::memcpy(record.data(), &e, sizeof e);
        return host().send(s.first, record);
    }
    return false;
}

std::string RtpModel::execute(std::istringstream& args)
{
    std::string command;
    args >> command;
    if (command == "sessions") {
        std::string out;
        for (auto& s : mSessions) {
            if (!s.second.begun)
                continue;
            out += std::to_string(s.second.channel) + " input=" + (s.second.input ? "on" : "off") +
                   " event=" + (s.second.event ? std::to_string(s.second.event) : "none") + " " +
                   describe(s.second.params) + "\n";
        }
        return out + "ok\n";
    }
    std::string text[4];
    long v[4] = {0, 0, 0, 0};
    if (command != "event" || !(args >> text[0] >> text[1] >> text[2] >> text[3]))
        return "error usage: rtp event <channel> <type> <value> <timeout>\n";
    for (int i = 0; i < 4; ++i) {
        if (!parseNumber(text[i], v[i]))
            return "error usage: rtp event <channel> <type> <value> <timeout>\n";
    }
    if (!event(std::int32_t(v[0]), std::uint32_t(v[1]), std::uint32_t(v[2]), std::uint32_t(v[3])))
        return "error no session holds channel " + text[0] + "\n";
    return "ok\n";
}

} // namespace sim
} // namespace platform
