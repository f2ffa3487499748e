#include "platform/sim/e1cas_model.hpp"

#include <cstring>

namespace platform
{
namespace sim
{

namespace
{
std::string channelText(std::int32_t trunk, std::int32_t timeslot)
{
    return "trunk=" + std::to_string(trunk) + " ts=" + std::to_string(timeslot);
}

std::string abcd(unsigned bits)
{
    return "0x" + std::string(1, "0123456789ABCDEF"[bits & 15]);
}

bool validTimeslot(long ts)
{
    return ts >= 1 && ts <= 31 && ts != 16;
}
} // namespace

E1CasModel::E1CasModel() : DeviceModel(e1cas::kPath) {}

DeviceModel::RequestNames E1CasModel::requests() const
{
    return {{"open", e1cas::kOpen},
            {"close", e1cas::kClose},
            {"configure", e1cas::kConfigure},
            {"get", e1cas::kGet},
            {"set", e1cas::kSet}};
}

std::string E1CasModel::decode(unsigned long request, std::uintptr_t arg) const
{
    switch (request) {
    case e1cas::kOpen:
        return "open trunk=" + std::to_string(value(arg));
    case e1cas::kClose:
        return "close trunk=" + std::to_string(value(arg));
    case e1cas::kConfigure: {
        const auto* r = record<e1cas::CasConfigure>(arg);
        return "configure " + channelText(r->path, r->timeslot) + " abcd=" + abcd(r->abcd) +
               " close=" + std::to_string(r->close);
    }
    case e1cas::kGet: {
        const auto* r = record<e1cas::CasBits>(arg);
        return "get " + channelText(r->path, r->timeslot);
    }
    case e1cas::kSet: {
        const auto* r = record<e1cas::CasBits>(arg);
        return "set " + channelText(r->path, r->timeslot) + " abcd=" + abcd(r->tx);
    }
    default:
        return std::string();
    }
}

int E1CasModel::check(std::int32_t trunk, std::int32_t timeslot) const
{
    if (trunk < 0 || trunk >= kTrunks || !validTimeslot(timeslot))
        return EINVAL;
    return mOpen[trunk] ? 0 : ENXIO;
}

Reply E1CasModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    switch (request) {
    case e1cas::kOpen:
    case e1cas::kClose: {
        const int trunk = value(arg);
        if (trunk < 0 || trunk >= kTrunks)
            return failure(EINVAL);
        mOpen[trunk] = request == e1cas::kOpen;
        if (!mOpen[trunk]) {
            for (auto& c : mChannels) {
                if (c.first.first == trunk)
                    c.second.open = false;
            }
        }
        return Reply();
    }
    case e1cas::kConfigure: {
        const auto* r = record<e1cas::CasConfigure>(arg);
        if (const int error = check(r->path, r->timeslot))
            return failure(error);
        Bits& b = mChannels[{r->path, r->timeslot}];
        b.open = r->close == 0;
        b.tx = b.open ? r->abcd & 15 : 0;
        return Reply();
    }
    case e1cas::kSet: {
        const auto* r = record<e1cas::CasBits>(arg);
        if (const int error = check(r->path, r->timeslot))
            return failure(error);
        mChannels[{r->path, r->timeslot}].tx = r->tx & 15;
        return Reply();
    }
    case e1cas::kGet: {
        auto* r = record<e1cas::CasBits>(arg);
        if (const int error = check(r->path, r->timeslot))
            return failure(error);
        const Bits b = bits(r->path, r->timeslot);
        r->rx = b.rx;
        r->tx = b.tx;
        Reply reply;
        reply.out = " rx=" + abcd(b.rx) + " tx=" + abcd(b.tx);
        return reply;
    }
    default:
        return failure(ENOTTY);
    }
}

E1CasModel::Bits E1CasModel::bits(int trunk, int timeslot) const
{
    auto it = mChannels.find({trunk, timeslot});
    return it == mChannels.end() ? Bits() : it->second;
}

unsigned E1CasModel::set_rx(int trunk, int timeslot, std::uint8_t bits)
{
    Bits& b = mChannels[{trunk, timeslot}];
    b.rx = bits & 15;
    if (!trunk_open(trunk))
        return 0;
    e1cas::CasBits r{trunk, timeslot, b.rx, b.tx, {0, 0}};
    Bytes record(sizeof r);
    std::memcpy(record.data(), &r, sizeof r);
    unsigned told = 0;
    for (Channel c : host().channels(path()))
        told += host().send(c, record) ? 1 : 0;
    return told;
}

std::string E1CasModel::describe(int trunk) const
{
    std::string text = "trunk " + std::to_string(trunk) + (mOpen[trunk] ? " open" : " closed");
    for (auto& c : mChannels) {
        if (c.first.first == trunk && (c.second.open || c.second.rx))
            text += "\n ts " + std::to_string(c.first.second) + (c.second.open ? " open" : " closed") +
                    " rx=" + abcd(c.second.rx) + " tx=" + abcd(c.second.tx);
    }
    return text + "\n";
}

std::string E1CasModel::usage() const
{
    return "cas [<trunk>]\n"
           "cas rx <trunk> <timeslot> <abcd>\n";
}

std::string E1CasModel::execute(std::istringstream& args)
{
    std::string first, a, b, c, extra;
    args >> first >> a >> b >> c >> extra;
    long trunk = -1, ts = -1, bits = -1;
    if (first.empty()) {
        std::string out;
        for (int t = 0; t < kTrunks; ++t)
            out += describe(t);
        return out + "ok\n";
    }
    if (a.empty() && parseNumber(first, trunk) && trunk >= 0 && trunk < kTrunks)
        return describe(int(trunk)) + "ok\n";
    if (first == "rx" && parseNumber(a, trunk) && trunk >= 0 && trunk < kTrunks && parseNumber(b, ts) &&
        validTimeslot(ts) && parseNumber(c, bits) && bits >= 0 && bits <= 15 && extra.empty()) {
        const unsigned told = set_rx(int(trunk), int(ts), std::uint8_t(bits));
        return "records=" + std::to_string(told) + "\nok\n";
    }
    return "error usage: cas [<trunk>] | cas rx <trunk> <timeslot> <abcd>\n";
}

} // namespace sim
} // namespace platform
