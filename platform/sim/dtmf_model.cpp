#include "platform/sim/dtmf_model.hpp"

#include <cstring>
#include <ctime>

#include "platform/devices.hpp"

namespace platform
{
namespace sim
{

namespace
{
std::uint64_t monotonicMs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint64_t(ts.tv_sec) * 1000 + std::uint64_t(ts.tv_nsec) / 1000000;
}
} // namespace

bool parseOptions(std::istringstream& args, std::map<std::string, long>& options)
{
    for (std::string word; args >> word;) {
        const std::size_t eq = word.find('=');
        long value = 0;
        if (eq == std::string::npos || !options.count(word.substr(0, eq)) ||
            !parseNumber(word.substr(eq + 1), value))
            return false;
        options[word.substr(0, eq)] = value;
    }
    return true;
}

DtmfModel::DtmfModel() : DeviceModel(dtmf::kPath), mClock(monotonicMs) {}

std::string DtmfModel::usage() const
{
    return "dtmf digit <ts> <code> [id=<n>] [stamp=<n>]\n"
           "dtmf gen <ts>\n"
           "dtmf get <ts>\n";
}

DeviceModel::RequestNames DtmfModel::requests() const
{
    return {{"configure", dtmf::kConfigureDetector},
            {"enable", dtmf::kEnableDetector},
            {"disable", dtmf::kDisableDetector},
            {"dial", dtmf::kDial},
            {"lms-on", dtmf::kLmsOn},
            {"lms-off", dtmf::kLmsOff},
            {"reject-on", dtmf::kRejectionOn},
            {"reject-off", dtmf::kRejectionOff},
            {"iva-on", dtmf::kIvaOn},
            {"iva-off", dtmf::kIvaOff},
            {"iva-configure", dtmf::kIvaConfigure},
            {"selcal", dtmf::kSelcalDial}};
}

std::string DtmfModel::decode(unsigned long request, std::uintptr_t arg) const
{
    const std::string ts = "ts=" + std::to_string(value(arg));
    switch (request) {
    case dtmf::kConfigureDetector: {
        const auto* c = record<dtmf::DetectorConfig>(arg);
        return "configure ts=" + std::to_string(c->timeslot) + " twist=" + std::to_string(c->twist) +
               " ratio=" + std::to_string(c->ratio) + " silence=" + std::to_string(c->silence) +
               " noise=" + std::to_string(c->noise);
    }
    case dtmf::kEnableDetector: {
        const auto* e = record<dtmf::DetectorEnable>(arg);
        return "enable ts=" + std::to_string(e->timeslot) + " id=" + std::to_string(e->id);
    }
    case dtmf::kDial: {
        const auto* d = record<dtmf::Dial>(arg);
        return "dial ts=" + std::to_string(d->timeslot) + " f1=" + std::to_string(d->freq1) +
               " f2=" + std::to_string(d->freq2) + " a1=" + std::to_string(d->amp1) +
               " a2=" + std::to_string(d->amp2);
    }
    case dtmf::kIvaConfigure: {
        const auto* c = record<dtmf::IvaConfig>(arg);
        return "iva-configure ts=" + std::to_string(c->timeslot) + " level=" + std::to_string(c->level);
    }
    case dtmf::kSelcalDial: {
        const auto* s = record<dtmf::SelcalDial>(arg);
        return "selcal ts=" + std::to_string(s->timeslot) + " amp=" + std::to_string(s->amp) +
               " signs=" + std::string(s->signs, sizeof s->signs);
    }
    default:
        for (auto& r : requests()) {
            if (r.second == request)
                return std::string(r.first) + " " + ts;
        }
        return std::string();
    }
}

Reply DtmfModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    const auto ts = std::uint32_t(value(arg));
    switch (request) {
    case dtmf::kConfigureDetector:
    case dtmf::kIvaConfigure:
        return Reply();
    case dtmf::kEnableDetector: {
        const auto* e = record<dtmf::DetectorEnable>(arg);
        mTimeslots[e->timeslot].detector = true;
        mTimeslots[e->timeslot].id = e->id;
        return Reply();
    }
    case dtmf::kDisableDetector:
        mTimeslots[ts].detector = false;
        return Reply();
    case dtmf::kLmsOn:
    case dtmf::kLmsOff:
        mTimeslots[ts].lms = request == dtmf::kLmsOn;
        return Reply();
    case dtmf::kRejectionOn:
    case dtmf::kRejectionOff:
        mTimeslots[ts].reject = request == dtmf::kRejectionOn;
        return Reply();
    case dtmf::kIvaOn:
    case dtmf::kIvaOff:
        mTimeslots[ts].iva = request == dtmf::kIvaOn;
        return Reply();
    case dtmf::kDial: {
        const auto* d = record<dtmf::Dial>(arg);
        generate(d->timeslot, std::to_string(d->freq1) + " " + std::to_string(d->freq2) + " " +
                                  std::to_string(d->amp1) + " " + std::to_string(d->amp2));
        return Reply();
    }
    case dtmf::kSelcalDial: {
        const auto* s = record<dtmf::SelcalDial>(arg);
        generate(s->timeslot,
                 "selcal " + std::to_string(s->amp) + " " + std::string(s->signs, sizeof s->signs));
        return Reply();
    }
    default:
        return failure(ENOTTY);
    }
}

void DtmfModel::generate(std::uint32_t ts, std::string text)
{
    const std::uint64_t ms = mClock();
    if (mGenerated.empty())
        mFirstGenerated = ms;
    appendToHistory(mGenerated, Generated{ms, ts, std::move(text)});
}

DtmfModel::Timeslot DtmfModel::timeslot(std::uint32_t ts) const
{
    auto it = mTimeslots.find(ts);
    return it == mTimeslots.end() ? Timeslot() : it->second;
}

std::vector<DtmfModel::Generated> DtmfModel::generated(std::uint32_t ts) const
{
    std::vector<Generated> out;
    for (const Generated& g : mGenerated) {
        if (g.timeslot == ts)
            out.push_back(g);
    }
    return out;
}

unsigned DtmfModel::digit(std::uint32_t ts, std::int32_t code, std::uint32_t id, std::uint32_t stamp)
{
    dtmf::ToneEvent e{code, ts, stamp, id};
    Bytes record(sizeof e);
    std::memcpy(record.data(), &e, sizeof e);
    unsigned n = 0;
    for (Channel c : host().channels(path()))
        n += host().send(c, record) ? 1 : 0;
    return n;
}

std::string DtmfModel::execute(std::istringstream& args)
{
    std::string command;
    long ts = 0;
    args >> command;
    std::string tsText;
    if (!(args >> tsText) || !parseNumber(tsText, ts))
        return "error usage: dtmf digit|gen|get <ts> ...\n";
    if (command == "digit") {
        std::string codeText;
        long code = 0;
        std::map<std::string, long> options{{"id", long(timeslot(std::uint32_t(ts)).id)}, {"stamp", 0}};
        if (!(args >> codeText) || !parseNumber(codeText, code) || !parseOptions(args, options))
            return "error usage: dtmf digit <ts> <code> [id=<n>] [stamp=<n>]\n";
        if (digit(std::uint32_t(ts), std::int32_t(code), std::uint32_t(options["id"]),
                  std::uint32_t(options["stamp"])) == 0)
            return "error " + path() + " not open\n";
        return "ok\n";
    }
    if (command == "gen") {
        std::string out;
        for (const Generated& g : generated(std::uint32_t(ts)))
            out += std::to_string(g.ms - mFirstGenerated) + " " + g.text + "\n";
        return out + "ok\n";
    }
    if (command == "get") {
        const Timeslot t = timeslot(std::uint32_t(ts));
        return std::string("detector ") + (t.detector ? "on" : "off") + " id=" + std::to_string(t.id) +
               " reject " + (t.reject ? "on" : "off") + " lms " + (t.lms ? "on" : "off") + " iva " +
               (t.iva ? "on" : "off") + "\nok\n";
    }
    return "error usage: dtmf digit|gen|get <ts> ...\n";
}

} // namespace sim
} // namespace platform
