#include "platform/sim/hal_model.hpp"

#include "platform/devices.hpp"

namespace platform
{
namespace sim
{

namespace
{
const unsigned kLineStatus = 0x33;
const std::uint8_t kLineUp = 0xC0;

bool valid(std::int32_t channel)
{
    return channel >= 0 && channel < HalModel::kChannels;
}

std::string spiText(const hal::SpiRegister& r, bool withData)
{
    std::string text = "ch=" + std::to_string(r.channel) + " reg=" + hexByte(r.reg);
    return withData ? text + " data=" + hexByte(r.data) : text;
}
} // namespace

HalModel::HalModel() : DeviceModel(hal::kPath), mOutputs(kChannels), mDisables(kChannels)
{
    for (auto& channel : mSpi)
        channel[kLineStatus] = kLineUp;
}

DeviceModel::RequestNames HalModel::requests() const
{
    return {{"connect", hal::kConnect}, {"disable", hal::kDisable},   {"write", hal::kWrite},
            {"read", hal::kRead},       {"clock", hal::kClockSelect}, {"spi-write", hal::kSpiWrite},
            {"spi-read", hal::kSpiRead}};
}

std::string HalModel::decode(unsigned long request, std::uintptr_t arg) const
{
    switch (request) {
    case hal::kConnect: {
        const auto* r = record<hal::SwitchConnect>(arg);
        return "connect dst=" + std::to_string(r->destination) + " src=" + std::to_string(r->source);
    }
    case hal::kDisable:
        return "disable ch=" + std::to_string(record<hal::SwitchChannel>(arg)->channel);
    case hal::kWrite: {
        const auto* r = record<hal::SwitchByte>(arg);
        return "write ch=" + std::to_string(r->channel) + " byte=" + hexByte(unsigned(r->value));
    }
    case hal::kRead:
        return "read ch=" + std::to_string(record<hal::SwitchByte>(arg)->channel);
    case hal::kClockSelect:
        return "clock source=" + std::to_string(*record<std::int32_t>(arg));
    case hal::kSpiWrite:
        return "spi-write " + spiText(*record<hal::SpiRegister>(arg), true);
    case hal::kSpiRead:
        return "spi-read " + spiText(*record<hal::SpiRegister>(arg), false);
    default:
        return std::string();
    }
}

Reply HalModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    ++counter(request);
    switch (request) {
    case hal::kConnect: {
        const auto* r = record<hal::SwitchConnect>(arg);
        if (!valid(r->destination) || !valid(r->source))
            return failure(EINVAL);
        mOutputs[r->destination] = Output{Output::connected, r->source};
        return Reply();
    }
    case hal::kDisable: {
        const std::int32_t channel = record<hal::SwitchChannel>(arg)->channel;
        if (!valid(channel))
            return failure(EINVAL);
        ++mDisables[channel];
        mOutputs[channel] = Output();
        return Reply();
    }
    case hal::kWrite: {
        const auto* r = record<hal::SwitchByte>(arg);
        if (!valid(r->channel) || r->value < 0 || r->value > 255)
            return failure(EINVAL);
        mOutputs[r->channel] = Output{Output::constant, r->value};
        return Reply();
    }
    case hal::kRead: {
        auto* r = record<hal::SwitchByte>(arg);
        if (!valid(r->channel))
            return failure(EINVAL);
        r->value = std::int32_t(read(r->channel));
        Reply reply;
        reply.out = " byte=" + hexByte(unsigned(r->value));
        return reply;
    }
    case hal::kClockSelect: {
        const std::int32_t source = *record<std::int32_t>(arg);
        if (source < 0 || source > 15)
            return failure(EINVAL);
        mClock = source;
        return Reply();
    }
    case hal::kSpiWrite:
    case hal::kSpiRead: {
        auto* r = record<hal::SpiRegister>(arg);
        if (!mSpiPresent)
            return failure(ENODEV);
        if (r->channel >= kSpiChannels)
            return failure(EINVAL);
        if (request == hal::kSpiWrite) {
            mSpi[r->channel][r->reg] = r->data;
            return Reply();
        }
        Reply reply;
        reply.result = mSpi[r->channel][r->reg];
        reply.out = " data=" + hexByte(unsigned(reply.result));
        return reply;
    }
    default:
        --counter(request);
        return failure(ENOTTY);
    }
}

bool HalModel::quiet(unsigned long request, std::uintptr_t arg) const
{
    if (request != hal::kDisable)
        return false;
    const std::int32_t channel = record<hal::SwitchChannel>(arg)->channel;
    return valid(channel) && mOutputs[channel].kind == Output::disabled;
}

HalModel::Output HalModel::output(std::int32_t channel) const
{
    return valid(channel) ? mOutputs[channel] : Output();
}

unsigned HalModel::read(std::int32_t channel) const
{
    // A chain of connections is followed a few hops only: a loop of
    // connections reads as an undriven line.
    for (int hop = 0; hop < 8; ++hop) {
        auto drive = mDrive.find(channel);
        if (drive != mDrive.end())
            return drive->second;
        const Output o = output(channel);
        if (o.kind == Output::constant)
            return unsigned(o.value);
        if (o.kind != Output::connected)
            break;
        channel = o.value;
    }
    return 0xFF;
}

void HalModel::set_drive(std::int32_t channel, int byte)
{
    if (byte < 0)
        mDrive.erase(channel);
    else
        mDrive[channel] = std::uint8_t(byte);
}

unsigned& HalModel::counter(unsigned long request)
{
    for (auto& c : mCounts) {
        if (c.first == request)
            return c.second;
    }
    return mCounts.emplace_back(request, 0).second;
}

unsigned HalModel::count(unsigned long request) const
{
    for (auto& c : mCounts) {
        if (c.first == request)
            return c.second;
    }
    return 0;
}

unsigned HalModel::disables(std::int32_t channel) const
{
    return valid(channel) ? mDisables[channel] : 0;
}

void HalModel::set_spi(unsigned channel, unsigned reg, std::uint8_t value)
{
    mSpi[channel % kSpiChannels][reg & 0xFF] = value;
}

std::string HalModel::describe(std::int32_t channel) const
{
    const Output o = output(channel);
    std::string text = std::to_string(channel);
    if (o.kind == Output::disabled)
        text += " disabled";
    else if (o.kind == Output::constant)
        text += " constant " + hexByte(unsigned(o.value));
    else
        text += " connected " + std::to_string(o.value);
    auto drive = mDrive.find(channel);
    if (drive != mDrive.end())
        text += " drive " + hexByte(drive->second);
    return text + " reads " + hexByte(read(channel));
}

std::string HalModel::usage() const
{
    return "hal get <channel>\n"
           "hal drive <channel> <byte>|off\n"
           "hal clock\n"
           "hal spi <channel> <register> [<value>]\n"
           "hal nospi on|off\n"
           "hal stats\n";
}

std::string HalModel::execute(std::istringstream& args)
{
    std::string command, a, b, c, extra;
    args >> command >> a >> b >> c >> extra;
    long channel = 0, reg = 0, value = 0;
    if (command == "get" && parseNumber(a, channel) && valid(std::int32_t(channel)) && b.empty())
        return describe(std::int32_t(channel)) + "\nok\n";
    if (command == "drive" && parseNumber(a, channel) && valid(std::int32_t(channel)) && c.empty()) {
        if (b == "off") {
            set_drive(std::int32_t(channel), -1);
            return "ok\n";
        }
        if (parseNumber(b, value) && value >= 0 && value <= 255) {
            set_drive(std::int32_t(channel), int(value));
            return "ok\n";
        }
        return "error usage: hal drive <channel> <byte>|off\n";
    }
    if (command == "clock" && a.empty())
        return "clock " + (mClock < 0 ? std::string("none") : std::to_string(mClock)) + "\nok\n";
    if (command == "spi" && parseNumber(a, channel) && channel >= 0 && channel < long(kSpiChannels) &&
        parseNumber(b, reg) && reg >= 0 && reg <= 255 && extra.empty()) {
        if (c.empty())
            return hexByte(spi(unsigned(channel), unsigned(reg))) + "\nok\n";
        if (parseNumber(c, value) && value >= 0 && value <= 255) {
            set_spi(unsigned(channel), unsigned(reg), std::uint8_t(value));
            return "ok\n";
        }
    }
    if (command == "nospi" && (a == "on" || a == "off") && b.empty()) {
        mSpiPresent = a == "off";
        return "ok\n";
    }
    if (command == "stats" && a.empty()) {
        std::string out;
        for (auto& r : requests())
            out += std::string(r.first) + " " + std::to_string(count(r.second)) + "\n";
        return out + "ok\n";
    }
    return "error usage: hal get|drive|clock|spi|nospi|stats (see help)\n";
}

} // namespace sim
} // namespace platform
