#include "platform/sim/mcc_model.hpp"

#include <algorithm>
#include <cstdio>

#include "platform/sim/hal_model.hpp"

namespace platform
{
namespace sim
{

namespace
{
const char* const kTypeNames[] = {"data", "bri", "transparent", "ss7"};
const char* const kPoolNames[] = {"data", "bri", "transparent"};

MccModel::Pool poolOf(std::uint32_t type)
{
    switch (type) {
    case mcc::kBri:
        return MccModel::bri;
    case mcc::kTransparent:
        return MccModel::transparent;
    default:
        return MccModel::data;
    }
}

std::string hexText(const Bytes& bytes)
{
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

bool parseFrame(std::istringstream& args, Bytes& out)
{
    out.clear();
    for (std::string item; args >> item;) {
        if (item.size() % 2 != 0)
            return false;
        for (std::size_t i = 0; i < item.size(); i += 2) {
            long v;
            if (!parseNumber("0x" + item.substr(i, 2), v))
                return false;
            out.push_back(std::uint8_t(v));
        }
    }
    return !out.empty();
}
} // namespace

MccModel::MccModel() : DeviceModel(mcc::kPath) {}

DeviceModel::RequestNames MccModel::requests() const
{
    return {{"allocate", mcc::kAllocate}, {"timeslot", mcc::kTimeslot}, {"counts", mcc::kCounts}};
}

std::string MccModel::decode(unsigned long request, std::uintptr_t arg) const
{
    switch (request) {
    case mcc::kAllocate: {
        const auto* r = record<mcc::Allocate>(arg);
        return "allocate type=" + (r->type < 4 ? std::string(kTypeNames[r->type]) : std::to_string(r->type)) +
               " rx-size=" + std::to_string(r->rxPacketSize) + " reserved=" + std::to_string(r->reserved) +
               " rx-thr=" + std::to_string(r->rxThreshold) + " tx-thr=" + std::to_string(r->txThreshold);
    }
    case mcc::kTimeslot:
        return "timeslot";
    case mcc::kCounts:
        return "counts";
    default:
        return std::string();
    }
}

unsigned MccModel::in_use(Pool pool) const
{
    unsigned n = 0;
    for (auto& a : mAllocated)
        n += poolOf(a.second.request.type) == pool ? 1 : 0;
    return n;
}

Reply MccModel::ioctl(Channel channel, unsigned long request, std::uintptr_t arg)
{
    switch (request) {
    case mcc::kAllocate: {
        const auto* r = record<mcc::Allocate>(arg);
        if (mAllocated.count(channel))
            return failure(EBUSY);
        if (r->type > mcc::kSs7)
            return failure(EINVAL);
        const Pool pool = poolOf(r->type);
        if (in_use(pool) >= mPoolSize[pool])
            return failure(ENOSPC);
        const auto taken = allocations();
        std::int32_t number = kFirstChannel;
        while (taken.count(number))
            ++number;
        mAllocated[channel] = Allocation{number, *r};
        mWritten.erase(number); // a new channel has written nothing yet
        Reply reply;
        reply.hold = r->type == mcc::kTransparent ? kRecord : 0;
        return reply;
    }
    case mcc::kTimeslot: {
        auto it = mAllocated.find(channel);
        if (it == mAllocated.end())
            return failure(EINVAL);
        Reply reply;
        reply.result = it->second.number;
        return reply;
    }
    case mcc::kCounts: {
        auto* r = record<mcc::Counts>(arg);
        *r = mcc::Counts{mPoolSize[data], mPoolSize[bri], mPoolSize[transparent], 0};
        Reply reply;
        reply.out = " data=" + std::to_string(r->data) + " bri=" + std::to_string(r->bri) +
                    " transparent=" + std::to_string(r->transparent);
        return reply;
    }
    default:
        return failure(ENOTTY);
    }
}

void MccModel::close(Channel channel)
{
    mAllocated.erase(channel);
}

void MccModel::write(Channel channel, const Bytes& frame)
{
    auto from = mAllocated.find(channel);
    auto* hal = dynamic_cast<HalModel*>(host().model(hal::kPath));
    if (from == mAllocated.end())
        return;
    Allocation& a = from->second;
    if (a.request.type == mcc::kTransparent) {
        const std::uint64_t now = host().now();
        const std::uint64_t played = (now - std::min(now, a.playedAt)) * kBytesPerMs;
        a.toPlay = (a.toPlay > played ? a.toPlay - played : 0) + frame.size();
        a.playedAt = now;
    }
    appendToHistory(mWritten[from->second.number], frame, kSentLimit);
    if (!hal)
        return;
    const auto channels = allocations();
    std::map<std::int32_t, Channel> descriptors;
    for (auto& a : mAllocated)
        descriptors[a.second.number] = a.first;
    for (std::int32_t out = 0; out < HalModel::kChannels; ++out) {
        const HalModel::Output o = hal->output(out);
        if (o.kind != HalModel::Output::connected || o.value != from->second.number)
            continue;
        auto to = descriptors.find(out);
        if (to != descriptors.end()) {
            host().send(to->second, frame);
            continue;
        }
        appendToHistory(mSent[out], frame, kSentLimit);
    }
}

std::uint64_t MccModel::takes_next_at(Channel channel) const
{
    auto it = mAllocated.find(channel);
    if (it == mAllocated.end() || it->second.request.type != mcc::kTransparent || it->second.toPlay < kHeld)
        return 0;
    // The first millisecond at which less than kHeld is left to play.
    return it->second.playedAt + (it->second.toPlay - kHeld) / kBytesPerMs + 1;
}

unsigned MccModel::receive(std::int32_t line, const Bytes& frame)
{
    auto* hal = dynamic_cast<HalModel*>(host().model(hal::kPath));
    unsigned reached = 0;
    for (auto& a : mAllocated) {
        if (!hal)
            break;
        const HalModel::Output o = hal->output(a.second.number);
        if (o.kind == HalModel::Output::connected && o.value == line)
            reached += host().send(a.first, frame) ? 1 : 0;
    }
    return reached;
}

std::vector<Bytes> MccModel::take_sent(std::int32_t line)
{
    auto it = mSent.find(line);
    if (it == mSent.end())
        return {};
    std::vector<Bytes> out(it->second.begin(), it->second.end());
    mSent.erase(it);
    return out;
}

std::vector<Bytes> MccModel::take_written(std::int32_t number)
{
    auto it = mWritten.find(number);
    if (it == mWritten.end())
        return {};
    std::vector<Bytes> out(it->second.begin(), it->second.end());
    mWritten.erase(it);
    return out;
}

std::map<std::int32_t, MccModel::Allocation> MccModel::allocations() const
{
    std::map<std::int32_t, Allocation> out;
    for (auto& a : mAllocated)
        out[a.second.number] = a.second;
    return out;
}

std::string MccModel::describe() const
{
    std::string text;
    for (int p = 0; p < kPools; ++p)
        text += std::string("pool ") + kPoolNames[p] + " " + std::to_string(in_use(Pool(p))) + "/" +
                std::to_string(mPoolSize[p]) + "\n";
    for (auto& a : allocations()) {
        const mcc::Allocate& r = a.second.request;
        text += "channel " + std::to_string(a.first) +
                " type=" + (r.type < 4 ? kTypeNames[r.type] : std::to_string(r.type)) + "\n";
    }
    return text;
}

std::string MccModel::usage() const
{
    return "mcc\n"
           "mcc pool data|bri|transparent <size>\n"
           "mcc frame <line> <hex bytes>\n"
           "mcc sent <line>\n"
           "mcc written <channel>\n";
}

std::string MccModel::execute(std::istringstream& args)
{
    std::string command, a;
    args >> command >> a;
    long n = -1;
    if (command.empty())
        return describe() + "ok\n";
    if (command == "pool") {
        std::string size, extra;
        args >> size >> extra;
        for (int p = 0; p < kPools; ++p) {
            if (a == kPoolNames[p] && parseNumber(size, n) && n >= 0 && extra.empty()) {
                mPoolSize[p] = unsigned(n);
                return "ok\n";
            }
        }
        return "error usage: mcc pool data|bri|transparent <size>\n";
    }
    const bool line = parseNumber(a, n) && n >= 0 && n < HalModel::kChannels;
    if (command == "frame") {
        Bytes frame;
        if (!line || !parseFrame(args, frame))
            return "error usage: mcc frame <line> <hex bytes>\n";
        return "reached=" + std::to_string(receive(std::int32_t(n), frame)) + "\nok\n";
    }
    std::string extra;
    if ((command == "sent" || command == "written") && line && !(args >> extra)) {
        std::string out;
        for (const Bytes& f : command == "sent" ? take_sent(std::int32_t(n)) : take_written(std::int32_t(n)))
            out += hexText(f) + "\n";
        return out + "ok\n";
    }
    return "error usage: mcc | mcc pool | mcc frame | mcc sent | mcc written (see help)\n";
}

} // namespace sim
} // namespace platform
