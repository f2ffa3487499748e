#include "platform/sim/maintenance_model.hpp"

#include <cstdio>

namespace platform
{
namespace sim
{

namespace
{
std::string hexWord(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

struct Field {
    const char* name;
    std::int32_t MaintenanceModel::Trunk::*member;
};
const Field kFields[] = {
    {"state", &MaintenanceModel::Trunk::state},   {"slips", &MaintenanceModel::Trunk::slips},
    {"lossBF", &MaintenanceModel::Trunk::lossBF}, {"lossCarrier", &MaintenanceModel::Trunk::lossCarrier},
    {"ais", &MaintenanceModel::Trunk::ais},       {"rai", &MaintenanceModel::Trunk::rai},
};
} // namespace

MaintenanceModel::MaintenanceModel() : DeviceModel(maintenance::kPath) {}

DeviceModel::RequestNames MaintenanceModel::requests() const
{
    return {{"status", maintenance::kStatus},
            {"tclk", maintenance::kTclkMask},
            {"clock-source", maintenance::kClockSource}};
}

std::string MaintenanceModel::decode(unsigned long request, std::uintptr_t arg) const
{
    switch (request) {
    case maintenance::kStatus:
        return "status trunk=" + std::to_string(record<maintenance::TrunkStatus>(arg)->trunk);
    case maintenance::kTclkMask:
        return "tclk mask=" + hexWord(std::uint32_t(value(arg)));
    case maintenance::kClockSource:
        return "clock-source source=" + std::to_string(value(arg));
    default:
        return std::string();
    }
}

Reply MaintenanceModel::ioctl(Channel, unsigned long request, std::uintptr_t arg)
{
    switch (request) {
    case maintenance::kStatus: {
        auto* r = record<maintenance::TrunkStatus>(arg);
        if (r->trunk < 0 || r->trunk >= kTrunks || mTrunks[r->trunk].absent)
            return failure(ENODEV);
        const Trunk& t = mTrunks[r->trunk];
        for (auto& w : r->reserved0)
            w = kReservedFill;
        for (auto& w : r->reserved1)
            w = kReservedFill;
        r->slips = t.slips;
        r->lossBF = t.lossBF;
        r->lossCarrier = t.lossCarrier;
        r->ais = t.ais;
        r->rai = t.rai;
        r->state = t.state;
        return Reply();
    }
    case maintenance::kTclkMask:
        mMask = std::uint32_t(value(arg));
        return Reply();
    case maintenance::kClockSource:
        mClockSource = value(arg);
        return Reply();
    default:
        return failure(ENOTTY);
    }
}

std::string MaintenanceModel::describe(int n) const
{
    const Trunk& t = mTrunks[n];
    std::string text = "trunk " + std::to_string(n);
    if (t.absent)
        return text + " absent";
    for (const Field& f : kFields)
        text += std::string(" ") + f.name + "=" + std::to_string(t.*f.member);
    return text;
}

std::string MaintenanceModel::usage() const
{
    return "e1 status <trunk> [state=<n>] [slips=<n>] [lossBF=<n>] [lossCarrier=<n>] [ais=<n>] [rai=<n>]\n"
           "e1 absent <trunk> on|off\n"
           "e1 tclk\n";
}

std::string MaintenanceModel::execute(std::istringstream& args)
{
    const char usageError[] = "error usage: e1 status|absent|tclk (see help)\n";
    std::string command, trunkText;
    args >> command >> trunkText;
    long n = -1;
    const bool trunkGiven = parseNumber(trunkText, n) && n >= 0 && n < kTrunks;
    if (command == "tclk" && trunkText.empty()) {
        return "tclk " + (mMask < 0 ? std::string("none") : hexWord(std::uint32_t(mMask))) + "\nok\n";
    }
    if (command == "absent" && trunkGiven) {
        std::string state, extra;
        args >> state >> extra;
        if ((state != "on" && state != "off") || !extra.empty())
            return usageError;
        mTrunks[n].absent = state == "on";
        return "ok\n";
    }
    if (command != "status" || !trunkGiven)
        return usageError;
    // All assignments are checked before any is made.
    Trunk t = mTrunks[n];
    for (std::string item; args >> item;) {
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        long v = 0;
        const Field* field = nullptr;
        for (const Field& f : kFields) {
            if (name == f.name)
                field = &f;
        }
        if (eq == std::string::npos || !field || !parseNumber(item.substr(eq + 1), v))
            return usageError;
        t.*field->member = std::int32_t(v);
    }
    mTrunks[n] = t;
    return describe(int(n)) + "\nok\n";
}

} // namespace sim
} // namespace platform
