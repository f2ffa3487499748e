#include "platform/sim/dsp_model.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/devices.hpp"
#include "platform/sim/dtmf_model.hpp"

namespace platform
{
namespace sim
{

namespace
{
std::string hex32(std::uint32_t v)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

std::string paramsHex(const std::uint8_t* p)
{
    std::string out;
    char byte[4];
    for (int i = 0; i < 12; ++i) {
        std::snprintf(byte, sizeof byte, "%02X", p[i]);
        out += byte;
    }
    return out;
}
} // namespace

DspModel::DspModel() : DeviceModel(dsp::kPath) {}

std::string DspModel::usage() const
{
    return "dsp version <n>\n"
           "dsp vad <ts> [rx=<n>] [tx=<n>] [id=<n>]\n"
           "dsp sd <ts> <value> [id=<n>]\n"
           "dsp bss <ts> <score> [id=<n>]\n"
           "dsp tone <ts> <freq> <presence> [id=<n>]\n"
           "dsp flags <ts> <flags> <mask> [id=<n>]\n"
           "dsp get <ts>\n";
}

DeviceModel::RequestNames DspModel::requests() const
{
    return {{"configure", dsp::kConfigure},
            {"enable", dsp::kEnable},
            {"disable", dsp::kDisable},
            {"vad-version", dsp::kVadVersion}};
}

std::string DspModel::decode(unsigned long request, std::uintptr_t arg) const
{
    switch (request) {
    case dsp::kConfigure: {
        const auto* c = record<dsp::Configure>(arg);
        return "configure ts=" + std::to_string(c->timeslot) + " fn=" + hex32(c->function) +
               " params=" + paramsHex(c->params);
    }
    case dsp::kEnable:
    case dsp::kDisable: {
        const auto* s = record<dsp::Switch>(arg);
        return std::string(request == dsp::kEnable ? "enable" : "disable") +
               " ts=" + std::to_string(s->timeslot) + " id=" + std::to_string(s->id) +
               " mask=" + hex32(s->mask);
    }
    case dsp::kVadVersion:
        return "vad-version";
    default:
        return std::string();
    }
}

Reply DspModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    switch (request) {
    case dsp::kConfigure: {
        const auto* c = record<dsp::Configure>(arg);
        mTimeslots[c->timeslot].configured[c->function] = Bytes(c->params, c->params + sizeof c->params);
        return Reply();
    }
    case dsp::kEnable:
    case dsp::kDisable: {
        const auto* s = record<dsp::Switch>(arg);
        Timeslot& t = mTimeslots[s->timeslot];
        if (request == dsp::kDisable) {
            t.on &= ~s->mask;
            return Reply();
        }
        t.on |= s->mask;
        for (std::uint32_t bit = 1; bit <= dsp::kToneFilter; bit <<= 1) {
            if (s->mask & bit)
                t.ids[bit] = s->id;
        }
        return Reply();
    }
    case dsp::kVadVersion: {
        Reply reply;
        reply.result = mVersion;
        return reply;
    }
    default:
        return failure(ENOTTY);
    }
}

DspModel::Timeslot DspModel::timeslot(std::uint32_t ts) const
{
    auto it = mTimeslots.find(ts);
    return it == mTimeslots.end() ? Timeslot() : it->second;
}

std::uint32_t DspModel::id_of(std::uint32_t ts, std::uint32_t function) const
{
    const Timeslot t = timeslot(ts);
    auto it = t.ids.find(function);
    return it == t.ids.end() ? 0 : it->second;
}

unsigned DspModel::event(std::uint32_t ts, std::uint32_t id, std::uint32_t type, const std::uint32_t (&p)[3])
{
    dsp::DspEvent e{ts, id, type, {p[0], p[1], p[2]}};
    Bytes record(sizeof e);
    std::memcpy(record.data(), &e, sizeof e);
    unsigned n = 0;
    for (Channel c : host().channels(path()))
        n += host().send(c, record) ? 1 : 0;
    return n;
}

std::string DspModel::execute(std::istringstream& args)
{
    std::string command, tsText;
    long ts = 0;
    args >> command;
    if (command == "version") {
        long version = 0;
        if (!(args >> tsText) || !parseNumber(tsText, version))
            return "error usage: dsp version <n>\n";
        mVersion = int(version);
        return "ok\n";
    }
    if (!(args >> tsText) || !parseNumber(tsText, ts))
        return "error usage: dsp vad|sd|bss|tone|flags|get <ts> ...\n";
    const auto slot = std::uint32_t(ts);
    if (command == "get") {
        const Timeslot t = timeslot(slot);
        return "on=" + hex32(t.on) + " vad=" + std::to_string(id_of(slot, dsp::kVad)) +
               " sd=" + std::to_string(id_of(slot, dsp::kSd)) +
               " bss=" + std::to_string(id_of(slot, dsp::kBss)) +
               " ng=" + std::to_string(id_of(slot, dsp::kNg)) +
               " mute=" + std::to_string(id_of(slot, dsp::kMuteRx)) + "\nok\n";
    }
    std::uint32_t p[3] = {0, 0, 0};
    std::uint32_t type = 0;
    std::map<std::string, long> options{{"id", 0}};
    if (command == "vad") {
        type = dsp::kEventVad;
        options = {{"id", long(id_of(slot, dsp::kVad))}, {"rx", -1}, {"tx", -1}};
        if (!parseOptions(args, options))
            return "error usage: dsp vad <ts> [rx=<n>] [tx=<n>] [id=<n>]\n";
        p[0] = (options["rx"] >= 0 ? 1u : 0u) | (options["tx"] >= 0 ? 2u : 0u);
        p[1] = std::uint32_t(options["rx"] >= 0 ? options["rx"] : 0);
        p[2] = std::uint32_t(options["tx"] >= 0 ? options["tx"] : 0);
    } else if (command == "bss") {
        type = dsp::kEventBss;
        options["id"] = long(id_of(slot, dsp::kBss));
        std::string scoreText;
        char* end = nullptr;
        if (!(args >> scoreText))
            return "error usage: dsp bss <ts> <score> [id=<n>]\n";
        const float score = std::strtof(scoreText.c_str(), &end);
        if (*end || !parseOptions(args, options))
            return "error usage: dsp bss <ts> <score> [id=<n>]\n";
        std::memcpy(&p[0], &score, sizeof score);
    } else if (command == "sd" || command == "tone" || command == "flags") {
        type = command == "sd" ? dsp::kEventSd : command == "tone" ? dsp::kEventTone : dsp::kEventFlags;
        if (command == "sd")
            options["id"] = long(id_of(slot, dsp::kSd));
        const int words = command == "sd" ? 1 : 2;
        long v[2] = {0, 0};
        std::string text;
        for (int i = 0; i < words; ++i) {
            if (!(args >> text) || !parseNumber(text, v[i]))
                return "error usage: dsp " + command + " <ts> <value>...\n";
        }
        if (!parseOptions(args, options))
            return "error usage: dsp " + command + " <ts> <value>... [id=<n>]\n";
        p[0] = std::uint32_t(v[0]);
        if (command == "tone") {
            // The driver's tone record keeps the presence in the byte after the frequency.
            std::uint8_t* bytes = reinterpret_cast<std::uint8_t*>(p);
            bytes[4] = v[1] ? 1 : 0;
        } else {
            p[1] = std::uint32_t(v[1]);
        }
    } else {
        return "error usage: dsp vad|sd|bss|tone|flags|get <ts> ...\n";
    }
    if (event(slot, std::uint32_t(options["id"]), type, p) == 0)
        return "error " + path() + " not open\n";
    return "ok\n";
}

} // namespace sim
} // namespace platform
