#include "slots/modem/dsp_modem_slot.hpp"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "platform/paths.hpp"
#include "slots/factory.hpp"
#include "slots/join.hpp"

namespace
{

using platform::board;
namespace mctl = platform::mctl;

// The files of the fax receivers that run, by their fixed names: two started
// in the same second would otherwise write one file.
std::set<std::string> heldFaxFiles;

} // namespace

DspModemSlot::DspModemSlot(TERM::ModemParams const& params, ModemOwner& owner) : ModemSlot(params, owner)
{
    mControl.Bind("DspModemSlot::OnControlEvent", &DspModemSlot::OnControlEvent, this);
}

DspModemSlot::~DspModemSlot()
{
    release_fax_file();
    unbind();
}

bool DspModemSlot::StartStream()
{
    if (mModemLost)
        return false;
    InitModem();
    return true;
}

void DspModemSlot::ModemHandedOut(int modem)
{
    SlotFactory* factory = GetSlotFactory();
    if (!factory)
        return;
    for (Slot* slot : factory->GetSlots()) {
        auto* other = dynamic_cast<DspModemSlot*>(slot);
        if (other && other != this && other->mControl.IsActive() && other->mModem == modem) {
            other->LetGoModem("modem handed to another call, released");
            // One slot holds a modem at most.
            return;
        }
    }
}

void DspModemSlot::OnControlEvent(int, short revents)
{
    // Nothing is read from the descriptor; one that has hung up stays so, and
    // is let go at once rather than watched on.
    if (mControl.IsActive() && (revents & (POLLERR | POLLHUP | POLLNVAL)))
        LetGoModem("modem control device hung up, modem released");
}

void DspModemSlot::LetGoModem(char const* why)
{
    PutHeader(std::cerr) << why << std::endl;
    mControl.Release();
    mModemLost = true;
    LeaveChannel(*this, mChannel);
    // From here on the switch refuses the channel for this slot.
    mChannel = -1;
    // A call that has had its abort already (its set-up failed, or its
    // daemon ended) gets no second one.
    abort_call(ENODEV);
}

void DspModemSlot::CallFailed()
{
    // The descriptor stays open: it holds the modem until the slot goes.
    mControl.mux_detach();
}

void DspModemSlot::release_fax_file()
{
    if (mFaxFile.empty())
        return;
    heldFaxFiles.erase(mFaxFile);
    mFaxFile.clear();
}

void DspModemSlot::unbind()
{
    mOwner.ReleaseModemSlot(this);
}

int DspModemSlot::ddm_mask(TERM::ModemParams const& params)
{
    int mask = 0;
    if (params.ddm_isPresent()) {
        for (auto const& mode : params.get_ddm()) {
            const int v = int(mode);
            mask |= v == TERM::DigitalDataModeEnum::ddmV110   ? 1
                    : v == TERM::DigitalDataModeEnum::ddm8BIT ? 2
                    : v == TERM::DigitalDataModeEnum::ddm7BIT ? 4
                                                              : 0;
        }
    }
    return mask;
}

void DspModemSlot::InitModem()
{
    if (mModem >= 0)
        return;
    Fd local;
    if (!local.open(mctl::kPath, O_RDONLY)) {
        const Errno e;
        PutHeader(std::cerr) << "fail to open device: " << e << std::endl;
        return OnAbort(e.value());
    }
    const int fd = local.lowlevel_fd();
    const int modem = board().ioctl(fd, mctl::kAllocate, 0);
    if (modem < 0) {
        const Errno e;
        PutHeader(std::cerr) << "insufficient resources : " << e << std::endl;
        return OnAbort(e.value());
    }
    // The driver hands out only a modem it has taken back: a slot that still
    // holds this one has not yet seen its hang-up (it came in this loop turn),
    // and lets the modem go before this call uses it.
    ModemHandedOut(modem);
    const int channel = board().ioctl(fd, mctl::kTimeslot, 0);
    if (channel < 0) {
        const Errno e;
        PutHeader(std::cerr) << "get timeslot fail : " << e << std::endl;
        return OnAbort(e.value());
    }
    if (mParams.ddm_isPresent()) {
        mctl::ModemCommand ddm{modem, ddm_mask(mParams)};
        if (board().ioctl(fd, mctl::kSetDdm, &ddm) < 0) {
            const Errno e;
            PutHeader(std::cerr) << "set DDM failed : " << e << std::endl;
            return OnAbort(e.value());
        }
    }
    mctl::ModemCommand reset{modem, -1};
    if (board().ioctl(fd, mctl::kResetDmp, &reset) < 0) {
        const Errno e;
        PutHeader(std::cerr) << "reset dmp parameters failed : " << e << std::endl;
    }
    if (mParams.dmp_isPresent()) {
        for (auto const& p : mParams.get_dmp()) {
            mctl::DmpParameter dmp{modem, std::int32_t(p.get_offset().getValue()),
                                   std::int32_t(p.get_value().getValue())};
            if (board().ioctl(fd, mctl::kSetDmp, &dmp) < 0) {
                const Errno e;
                PutHeader(std::cerr) << "set dmp parameter index=" << unsigned(dmp.offset)
                                     << " value=" << unsigned(dmp.value) << " failed : " << e << std::endl;
            }
        }
    }
    mChannel = channel;
    mModem = modem;
    // The slot keeps the descriptor that holds the modem (no duplicate: one
    // that failed would give the modem back while the slot uses it), and
    // watches it for the hang-up alone.
    mControl.Schedule(std::move(local), POLLHUP | POLLERR);
    AnnounceStreams();

    mctl::ModemCommand call{modem, -1};
    if (!mParams.fax_isPresent()) {
        char device[32];
        std::snprintf(device, sizeof device, mctl::kDataDevice, modem);
        const bool originate = mParams.originate_isPresent();
        if (board().ioctl(fd, originate ? mctl::kOriginate : mctl::kAnswer, &call) == -1) {
            const Errno e;
            PutHeader(std::cerr) << (originate ? "originate failed : " : "answer failed : ") << e
                                 << std::endl;
            abort_call(e.value());
            return CallFailed();
        }
        pppd_exec(device, originate ? "/usr/local/etc/ppp/coptions" : "/usr/local/etc/ppp/aoptions");
        // A daemon that could not be started has aborted the call.
        if (!child_running())
            CallFailed();
        return;
    }
    if (mParams.execargs_isPresent())
        return RunFaxSender();
    if (mParams.originate_isPresent()) {
        if (board().ioctl(fd, mctl::kFaxOriginate, &call) == -1) {
            const Errno e;
            PutHeader(std::cerr) << "originate failed : " << e << std::endl;
            abort_call(e.value());
            CallFailed();
        }
        return;
    }
    RunFaxReceiver();
}

void DspModemSlot::AnnounceStreams()
{
    // A join after a failed allocation still turned its stream on, and the
    // controller heard it active without a channel: it hears it again with
    // the modem's.
    auto announce = [this](auto kind) {
        LGCP::Stream stream;
        stream.select_active(mChannel);
        SendSignal(LGCP::Signal(kind, stream));
    };
    if (GetOutputStream())
        announce(LGCP::Signal::transmitter::value);
    else
        OnChangeOutputStream(true);
    if (GetInputStream())
        announce(LGCP::Signal::receiver::value);
    else
        OnChangeInputStream(true);
}

std::vector<std::string> DspModemSlot::fax_sender_args(TERM::ModemParams const& params, int modem)
{
    std::vector<std::string> argv{params.execfile_isPresent() ? std::string(params.get_execfile())
                                                              : Paths::resolve("/usr/local/sbin/fax"),
                                  "-m", std::to_string(modem)};
    if (params.execargs_isPresent()) {
        for (auto const& a : params.get_execargs()) {
            if (argv.size() >= 3 + 60)
                break;
            argv.push_back(a);
        }
    }
    return argv;
}

std::string DspModemSlot::fax_receiver_file(std::tm const& now)
{
    char stamp[64] = {};
    std::strftime(stamp, sizeof stamp, "/var/fax-%H-%M-%S", &now);
    for (unsigned n = 0;; ++n) {
        std::string name = stamp + (n ? "-" + std::to_string(n) : std::string()) + ".g3";
        struct stat st = {};
        if (!heldFaxFiles.count(name) && ::lstat(Paths::resolve(name).c_str(), &st) != 0)
            return name;
    }
}

std::vector<std::string> DspModemSlot::fax_receiver_args(int modem, std::string const& file)
{
    return {Paths::resolve("/usr/local/bin/fax"), "-m", std::to_string(modem), "receive",
            Paths::resolve(file)};
}

void DspModemSlot::RunFaxSender()
{
    const auto argv = fax_sender_args(mParams, mModem);
    mControl.Release();
    const int pid = spawn(argv, "executing fax transfer", 0, &mExecFailed);
    if (pid < 0)
        return;
    mChild = pid;
    mWait.Bind(this, &DspModemSlot::on_fax_terminate);
    mWait.Attach(pid);
    std::clog << "fax transfer executed modem=" << mModem << " ts=" << mChannel << std::endl;
}

void DspModemSlot::RunFaxReceiver()
{
    mControl.Release();
    const std::time_t t = std::time(nullptr);
    std::tm now{};
    ::localtime_r(&t, &now);
    const std::string file = fax_receiver_file(now);
    const int pid = spawn(fax_receiver_args(mModem, file), "executing", 1, &mExecFailed);
    if (pid < 0)
        return;
    heldFaxFiles.insert(file);
    mFaxFile = file;
    mChild = pid;
    mWait.Bind(this, &DspModemSlot::on_fax_terminate);
    mWait.Attach(pid);
    std::clog << "fax receiver executed modem=" << mModem << " ts=" << mChannel << std::endl;
}

void DspModemSlot::on_fax_terminate(int status)
{
    std::clog << "fax terminated with code " << status << std::endl;
    mChild = -1;
    release_fax_file();
    char byte = 0;
    const bool ran = !mExecFailed.is_valid() || ::read(mExecFailed.lowlevel_fd(), &byte, 1) != 1;
    mExecFailed.close();
    if ((status & 0xFF) != 0 || !ran)
        std::clog << "fax transfer failed" << std::endl;
    // A program that never ran received no pages: its exit code is ours.
    if (ran) {
        const unsigned pages = (unsigned(status) >> 8) & 0xFF;
        std::clog << "pages received: " << pages << std::endl;
        TERM::MdmAccounting acct;
        acct.ref_octetsIn().set_low(static_cast<int>(pages));
        acct.ref_octetsIn().set_high(0);
        TERM::ModemProceeding proceeding;
        proceeding.select_acct(acct);
        OnModem(proceeding);
    }
    child_ended(status);
}
