#include "platform/sim/mctl_model.hpp"

#include <climits>
#include <set>

#include "platform/devices.hpp"

namespace platform
{
namespace sim
{

MctlModel::MctlModel() : DeviceModel(mctl::kPath) {}

std::string MctlModel::execute(std::istringstream& args)
{
    std::string what;
    long count = 0, first = mFirstTimeslot;
    if (args >> what && what == "repeat")
        return repeat(args);
    if (!(args >> count) || what != "modems" || count < 0)
        return "error usage: " + usage();
    if (args >> first && first < 0)
        return "error bad timeslot\n";
    mModems = int(count);
    mFirstTimeslot = int(first);
    return "ok\n";
}

std::string MctlModel::repeat(std::istringstream& args)
{
    const char* usage = "error usage: mctl repeat <modem> [<n>] | off\n";
    std::string text;
    long modem = 0, times = -1;
    if (!(args >> text))
        return usage;
    if (text == "off") {
        mRepeatModem = -1;
        mRepeatTimes = 0;
        return "ok\n";
    }
    if (!parseNumber(text, modem) || modem < 0 || modem > INT32_MAX)
        return usage;
    if (args >> text && (!parseNumber(text, times) || times < 0))
        return usage;
    mRepeatModem = int(modem);
    mRepeatTimes = times;
    return "ok\n";
}

DeviceModel::RequestNames MctlModel::requests() const
{
    return {{"enumerate", mctl::kEnumerate}, {"allocate", mctl::kAllocate},   {"timeslot", mctl::kTimeslot},
            {"answer", mctl::kAnswer},       {"originate", mctl::kOriginate}, {"ddm", mctl::kSetDdm},
            {"fax", mctl::kFaxOriginate},    {"dmp", mctl::kSetDmp},          {"dmp-reset", mctl::kResetDmp}};
}

std::string MctlModel::decode(unsigned long request, std::uintptr_t arg) const
{
    std::ostringstream os;
    switch (request) {
    case mctl::kEnumerate:
        os << "enumerate after=" << value(arg);
        break;
    case mctl::kAllocate:
        os << "allocate";
        break;
    case mctl::kTimeslot:
        os << "timeslot";
        break;
    case mctl::kSetDmp: {
        const auto* p = record<mctl::DmpParameter>(arg);
        os << "dmp modem=" << p->modem << " offset=" << p->offset << " value=" << p->value;
        break;
    }
    case mctl::kAnswer:
    case mctl::kOriginate:
    case mctl::kFaxOriginate:
    case mctl::kResetDmp:
    case mctl::kSetDdm: {
        const auto* c = record<mctl::ModemCommand>(arg);
        const char* name = request == mctl::kAnswer      ? "answer"
                           : request == mctl::kOriginate ? "originate"
                           : request == mctl::kSetDdm    ? "ddm"
                           : request == mctl::kResetDmp  ? "dmp-reset"
                                                         : "fax";
        os << name << " modem=" << c->modem;
        if (request == mctl::kSetDdm)
            os << " mask=" << c->arg;
        break;
    }
    default:
        break;
    }
    return os.str();
}

Reply MctlModel::ioctl(Channel channel, unsigned long request, std::uintptr_t arg)
{
    const auto held = mHeld.find(channel);
    switch (request) {
    case mctl::kEnumerate: {
        if (value(arg) == mRepeatModem && mRepeatTimes != 0 && mRepeatModem < mModems) {
            if (mRepeatTimes > 0)
                --mRepeatTimes;
            return Reply{mRepeatModem, 0, ""};
        }
        const int next = value(arg) + 1;
        return next >= 0 && next < mModems ? Reply{next, 0, ""} : failure(ENODEV);
    }
    case mctl::kAllocate: {
        if (held != mHeld.end())
            return Reply{held->second, 0, ""};
        std::set<int> taken;
        for (const auto& h : mHeld)
            taken.insert(h.second);
        for (int n = 0; n < mModems; ++n) {
            if (!taken.count(n)) {
                mHeld[channel] = n;
                return Reply{n, 0, ""};
            }
        }
        return failure(EBUSY);
    }
    case mctl::kTimeslot:
        return held == mHeld.end() ? failure(EINVAL) : Reply{mFirstTimeslot + held->second, 0, ""};
    case mctl::kSetDmp:
        return held != mHeld.end() && record<mctl::DmpParameter>(arg)->modem == held->second
                   ? Reply()
                   : failure(EINVAL);
    case mctl::kAnswer:
    case mctl::kOriginate:
    case mctl::kFaxOriginate:
    case mctl::kResetDmp:
    case mctl::kSetDdm:
        return held != mHeld.end() && record<mctl::ModemCommand>(arg)->modem == held->second
                   ? Reply()
                   : failure(EINVAL);
    default:
        return failure(ENOTTY);
    }
}

} // namespace sim
} // namespace platform
