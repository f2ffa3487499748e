#include "platform/sim/mixer_model.hpp"

namespace platform
{
namespace sim
{

namespace
{

// "0/0/3": unit, type, channel.
std::string slotText(const mixer::mix_slot& s)
{
    return std::to_string(s.dev_no) + "/" + std::to_string(s.type) + "/" + std::to_string(s.number);
}

bool parseInt(std::istringstream& args, std::int32_t& out)
{
    std::string text;
    long value = 0;
    if (!(args >> text) || !parseNumber(text, value) || value < INT32_MIN || value > INT32_MAX)
        return false;
    out = std::int32_t(value);
    return true;
}

} // namespace

MixerModel::MixerModel() : DeviceModel(mixer::kPath) {}

std::string MixerModel::usage() const
{
    return "mixer units\n"
           "mixer add <unit> <tdm channels> <mixer inputs> [<first switch channel>]\n"
           "mixer remove <unit>\n"
           "mixer sum <unit> <channel>\n"
           "mixer repeat <unit> [<n>] | off\n";
}

DeviceModel::RequestNames MixerModel::requests() const
{
    return {{"clear", mixer::kRxClear},
            {"add", mixer::kRxAdd},
            {"remove", mixer::kRxRemove},
            {"tdm", mixer::kTdm},
            {"enumerate", mixer::kEnumerate}};
}

std::string MixerModel::decode(unsigned long request, std::uintptr_t arg) const
{
    switch (request) {
    case mixer::kRxClear:
        return "clear " + slotText(*record<mixer::mix_slot>(arg));
    case mixer::kTdm:
        return "tdm " + slotText(*record<mixer::mix_slot>(arg));
    case mixer::kRxAdd:
    case mixer::kRxRemove: {
        const auto* s = record<mixer::mix_sum>(arg);
        return std::string(request == mixer::kRxAdd ? "add" : "remove") + " rx=" + slotText(s->rx) +
               " tx=" + slotText(s->tx) + " gain=" + std::to_string(s->gain);
    }
    case mixer::kEnumerate:
        return "enumerate after=" + std::to_string(record<mixer::mix_unit>(arg)->dev_no);
    default:
        return std::string();
    }
}

MixerModel::Unit* MixerModel::find(const mixer::mix_slot& slot)
{
    auto it = mUnits.find(slot.dev_no);
    if (it == mUnits.end() || slot.type != mixer::kTdmChannel || slot.number < 0 ||
        slot.number >= it->second.tdm)
        return nullptr;
    return &it->second;
}

Reply MixerModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    switch (request) {
    case mixer::kRxClear:
    case mixer::kTdm: {
        const auto* s = record<mixer::mix_slot>(arg);
        Unit* unit = find(*s);
        if (!unit)
            return failure(EINVAL);
        if (request == mixer::kTdm)
            return Reply{unit->first + s->number, 0, ""};
        unit->sums.erase(s->number);
        return Reply();
    }
    case mixer::kRxAdd:
    case mixer::kRxRemove: {
        const auto* s = record<mixer::mix_sum>(arg);
        Unit* unit = find(s->rx);
        if (!unit || find(s->tx) != unit)
            return failure(EINVAL);
        auto& sum = unit->sums[s->rx.number];
        if (request == mixer::kRxAdd) {
            sum[s->tx.number] = s->gain;
            return Reply();
        }
        const bool removed = sum.erase(s->tx.number) > 0;
        if (sum.empty())
            unit->sums.erase(s->rx.number);
        return removed ? Reply() : failure(ENOENT);
    }
    case mixer::kEnumerate: {
        auto* u = record<mixer::mix_unit>(arg);
        auto next = mUnits.upper_bound(u->dev_no);
        if (u->dev_no == mRepeatUnit && mRepeatTimes != 0 && mUnits.count(mRepeatUnit)) {
            next = mUnits.find(mRepeatUnit);
            if (mRepeatTimes > 0)
                --mRepeatTimes;
        }
        if (next == mUnits.end())
            return failure(ENODEV);
        u->dev_no = next->first;
        u->tdm_channels = next->second.tdm;
        u->mixer_inputs = next->second.inputs;
        return Reply{0, 0,
                     " unit=" + std::to_string(u->dev_no) + " tdm=" + std::to_string(u->tdm_channels) +
                         " inputs=" + std::to_string(u->mixer_inputs)};
    }
    default:
        return failure(ENOTTY);
    }
}

bool MixerModel::add_unit(std::int32_t unit, std::int32_t tdm, std::int32_t inputs, std::int32_t first)
{
    const std::int64_t from = first >= 0 ? first : kFirstChannel + std::int64_t(kChannelsPerUnit) * unit;
    if (mUnits.count(unit) || unit < 0 || tdm < 0 || inputs < 0 || from > kSwitchChannels - tdm)
        return false;
    first = std::int32_t(from);
    Unit& u = mUnits[unit];
    u.tdm = tdm;
    u.inputs = inputs;
    u.first = first;
    return true;
}

void MixerModel::repeat_unit(std::int32_t unit, std::int32_t times)
{
    mRepeatUnit = unit;
    mRepeatTimes = unit < 0 ? 0 : times;
}

std::map<std::int32_t, std::int32_t> MixerModel::sum(std::int32_t unit, std::int32_t channel) const
{
    auto u = mUnits.find(unit);
    if (u == mUnits.end())
        return {};
    auto s = u->second.sums.find(channel);
    return s == u->second.sums.end() ? std::map<std::int32_t, std::int32_t>() : s->second;
}

std::string MixerModel::execute(std::istringstream& args)
{
    std::string command;
    args >> command;
    std::int32_t unit = 0, tdm = 0, inputs = 0, first = -1, channel = 0;
    if (command == "units") {
        std::string out;
        for (const auto& u : mUnits) {
            out += "unit " + std::to_string(u.first) + " tdm=" + std::to_string(u.second.tdm) +
                   " inputs=" + std::to_string(u.second.inputs) + " first=" + std::to_string(u.second.first) +
                   "\n";
        }
        return out + "ok\n";
    }
    if (command == "add" && parseInt(args, unit) && parseInt(args, tdm) && parseInt(args, inputs)) {
        std::string extra;
        long value = 0;
        if (args >> extra && (!parseNumber(extra, value) || value < 0 || value > INT32_MAX))
            return "error usage: mixer add <unit> <tdm channels> <mixer inputs> [<first switch channel>]\n";
        if (!extra.empty())
            first = std::int32_t(value);
        return add_unit(unit, tdm, inputs, first) ? "ok\n" : "error unit exists or does not fit\n";
    }
    if (command == "remove" && parseInt(args, unit))
        return remove_unit(unit) ? "ok\n" : "error no unit " + std::to_string(unit) + "\n";
    if (command == "sum" && parseInt(args, unit) && parseInt(args, channel)) {
        if (!mUnits.count(unit))
            return "error no unit " + std::to_string(unit) + "\n";
        std::string out;
        for (const auto& input : sum(unit, channel))
            out += std::to_string(input.first) + " gain=" + std::to_string(input.second) + "\n";
        return out + "ok\n";
    }
    if (command == "repeat") {
        const char* usage = "error usage: mixer repeat <unit> [<n>] | off\n";
        std::string text;
        long value = 0;
        if (!(args >> text))
            return usage;
        if (text == "off") {
            repeat_unit(-1);
            return "ok\n";
        }
        if (!parseNumber(text, value) || value < 0 || value > INT32_MAX)
            return usage;
        unit = std::int32_t(value);
        std::int32_t times = -1;
        if (args >> text) {
            if (!parseNumber(text, value) || value < 0 || value > INT32_MAX)
                return usage;
            times = std::int32_t(value);
        }
        repeat_unit(unit, times);
        return "ok\n";
    }
    return "error usage: mixer units|add|remove|sum|repeat ...\n";
}

} // namespace sim
} // namespace platform
