#include "platform/sim/voice_model.hpp"

#include "platform/devices.hpp"

namespace platform
{
namespace sim
{

VoiceModel::VoiceModel() : DeviceModel(voice::kPath) {}

std::string VoiceModel::usage() const
{
    return "voice capacity <mask> <n>\n";
}

DeviceModel::RequestNames VoiceModel::requests() const
{
    return {{"capacity", voice::kCapacity}, {"version", voice::kVersion}};
}

std::string VoiceModel::decode(unsigned long request, std::uintptr_t arg) const
{
    if (request == voice::kVersion)
        return "version";
    if (request != voice::kCapacity)
        return std::string();
    return "capacity mask=" + std::to_string(*record<std::uint32_t>(arg));
}

Reply VoiceModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    if (request == voice::kVersion) {
        *record<voice::Version>(arg) = kVersion;
        return Reply();
    }
    if (request != voice::kCapacity)
        return failure(ENOTTY);
    auto it = mCapacity.find(*record<std::uint32_t>(arg));
    Reply reply;
    reply.result = it == mCapacity.end() ? 0 : it->second;
    if (reply.result < 0)
        return failure(EINVAL);
    return reply;
}

std::string VoiceModel::execute(std::istringstream& args)
{
    std::string command, maskText, countText;
    long mask = 0, count = 0;
    if (!(args >> command >> maskText >> countText) || command != "capacity" ||
        !parseNumber(maskText, mask) || !parseNumber(countText, count))
        return "error usage: voice capacity <mask> <n>\n";
    mCapacity[std::uint32_t(mask)] = int(count);
    return "ok\n";
}

} // namespace sim
} // namespace platform
