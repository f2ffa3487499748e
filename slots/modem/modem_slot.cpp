#include "slots/modem/modem_slot.hpp"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "platform/paths.hpp"
#include "runtime/fd.hpp"
#include "runtime/log_text.hpp"
#include "runtime/syslog.hpp"

namespace
{

std::string text(const char* field, std::size_t size)
{
    return std::string(field, ::strnlen(field, size));
}

// The controller's dotted quad in network order; anything else is all ones.
std::uint32_t address(std::string const& dotted)
{
    in_addr a;
    return ::inet_pton(AF_INET, dotted.c_str(), &a) == 1 ? a.s_addr : 0xFFFFFFFFu;
}

BASE::INTEGER64Bits counter(std::uint32_t high, std::uint32_t low)
{
    BASE::INTEGER64Bits value;
    value.set_high(static_cast<int>(high));
    value.set_low(static_cast<int>(low));
    return value;
}

} // namespace

ModemSlot::ModemSlot(TERM::ModemParams const& params, ModemOwner& owner) : mParams(params), mOwner(owner)
{
    mWait.Bind(this, &ModemSlot::on_terminate);
}

ModemSlot::~ModemSlot()
{
    pppd_kill();
}

std::ostream& ModemSlot::PutHeader(std::ostream& os) const
{
    Put(os);
    return os << ": ";
}

void ModemSlot::OnAuth(auth::attr const* record)
{
    switch (record->type) {
    case auth::kRequest:
        mAsked = true;
        if (record->length == int(sizeof(auth::voauth)))
            OnAuthRequest(reinterpret_cast<auth::voauth const*>(record));
        else
            PutHeader(std::cerr) << "auth request, invalid size: " << record->length << std::endl;
        break;
    case auth::kAccept:
        PutHeader(std::cerr) << "auth accept, ignored." << std::endl;
        break;
    case auth::kIp:
        PutHeader(std::cerr) << "auth ip, ignored." << std::endl;
        break;
    case auth::kAccounting:
        if (record->length == int(sizeof(auth::voacct)))
            OnAcctInformation(reinterpret_cast<auth::voacct const*>(record));
        else
            PutHeader(std::cerr) << "auth accounting, invalid size: " << record->length << std::endl;
        break;
    default:
        PutHeader(std::cerr) << "unknown request from portslave: " << std::showbase << std::hex
                             << record->type << std::dec << std::noshowbase << std::endl;
        break;
    }
}

void ModemSlot::OnAuthRequest(auth::voauth const* request)
{
    TERM::MdmRequestUserAuth user;
    user.set_username(text(request->username, sizeof request->username));
    user.set_password(text(request->password, sizeof request->password));
    TERM::ModemProceeding proceeding;
    proceeding.select_auth(user);
    OnModem(proceeding);
}

void ModemSlot::OnAcctInformation(auth::voacct const* r)
{
    TERM::MdmAccounting acct;
    acct.set_octetsOut(counter(r->octetsSent[0], r->octetsSent[1]));
    acct.set_octetsIn(counter(r->octetsReceived[0], r->octetsReceived[1]));
    acct.set_packetsOut(counter(r->packetsSent[0], r->packetsSent[1]));
    acct.set_packetsIn(counter(r->packetsReceived[0], r->packetsReceived[1]));
    acct.set_time(counter(0, r->sessionTime));
    TERM::ModemProceeding proceeding;
    proceeding.select_acct(acct);
    mAccounted = true;
    OnModem(proceeding);
}

bool ModemSlot::IActivate(TERM::TermActivateParams const& params)
{
    if (!params.modem_isSelected()) {
        PutHeader(std::cerr) << "modem's activation requests parameter." << std::endl;
        return false;
    }
    TERM::ModemUserParameters const& user = params.get_modem();
    auth::Accept accept{16, auth::kAccept, modem_id(), 1};
    auth::Ip ip{36,
                auth::kIp,
                modem_id(),
                0,
                address(user.get_remoteAddr()),
                address(user.get_netmask()),
                address(user.get_gateway()),
                address(user.get_dns()),
                std::int32_t(user.get_mtu().getValue())};
    // The accept and the parameters go to this call's plugin and no other:
    // with no plugin connection speaking for the slot (none has yet, or it
    // has gone), nothing is sent and the controller hears of the failure.
    if (!mOwner.SendAuth(this, reinterpret_cast<auth::attr const*>(&accept)) ||
        !mOwner.SendAuth(this, reinterpret_cast<auth::attr const*>(&ip)))
        return false;
    mActivated = true;
    return true;
}

std::vector<std::string> ModemSlot::pppd_args(TERM::ModemParams const& params, std::string const& device,
                                              std::string const& options)
{
    std::vector<std::string> argv;
    argv.push_back(params.execfile_isPresent() ? std::string(params.get_execfile())
                                               : Paths::resolve("/usr/local/sbin/pppd"));
    if (params.execargs_isPresent()) {
        for (auto const& a : params.get_execargs()) {
            if (argv.size() >= kMaxArgs - 1)
                break;
            argv.push_back(a);
        }
        return argv;
    }
    argv.insert(argv.end(), {"file", options, device});
    std::string const& cid = params.get_cid();
    if (!cid.empty())
        argv.insert(argv.end(), {"remotenumber", cid});
    return argv;
}

int ModemSlot::spawn(std::vector<std::string> const& args, char const* banner, unsigned delay, Fd* failed)
{
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (auto const& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int report[2] = {-1, -1};
    if (failed && ::pipe2(report, O_CLOEXEC | O_NONBLOCK) == 0)
        *failed = Fd(report[0]);
    // A group of its own: nothing the program starts outlives it, or keeps
    // the daemon's descriptors.
    const int pid = ChildWait::Fork(true);
    if (pid < 0) {
        const Errno e;
        if (report[1] >= 0)
            ::close(report[1]);
        PutHeader(std::cerr) << "vfork fail: " << e << std::endl;
        abort_call(e.value());
        return -1;
    }
    if (pid == 0) {
        // The child leaves with _exit: the daemon's static objects and stdio
        // buffers belong to the parent.
        ::sleep(delay);
        // The syslog reader may have been replaced while the child waited:
        // the program writes to the one there when it runs.
        if (delay > 0)
            syslogManager.connect_standard_streams();
        if (banner)
            std::cout << banner << std::endl;
        ::execv(argv[0], argv.data());
        if (banner)
            std::cout << "fail to exec!" << std::endl;
        if (report[1] >= 0) {
            const char byte = 1;
            (void)!::write(report[1], &byte, 1);
        }
        ::_exit(2);
    }
    if (report[1] >= 0)
        ::close(report[1]);
    return pid;
}

void ModemSlot::pppd_exec(char const* device, char const* options)
{
    if (child_running())
        return;
    // A daemon started again (a digital modem joined anew) is a call of its
    // own, whose end or failure the controller hears.
    mCallAborted = false;
    const int pid = spawn(pppd_args(mParams, device, Paths::resolve(options)), nullptr, 0, nullptr);
    if (pid < 0)
        return;
    mChild = pid;
    mRunsPppd = true;
    mAsked = false;
    mAccounted = false;
    mActivated = false;
    mEndTold = false;
    mWait.Bind(this, &ModemSlot::on_terminate);
    mWait.Attach(pid);
    std::clog << "pppd executed cid=\"" << ext::escaped(mParams.get_cid()) << "\" pid=" << pid << std::endl;
}

void ModemSlot::pppd_kill()
{
    if (!child_running())
        return;
    PutHeader(std::cerr) << "pppd isn't terminated, killing ..." << std::endl;
    // A child already reaped has ended; its number may be another process's.
    ChildWait::SignalUnreaped(mChild, SIGKILL);
    ::sleep(0);
}

void ModemSlot::on_terminate(int status)
{
    std::clog << "pppd terminated with code " << status << std::endl;
    // What the daemon's plugin wrote before the end (its accounting, on the
    // hang-up) may not have been read yet when the end comes in the same turn:
    // it is read now, while this slot still runs its daemon, so that it
    // reaches this call rather than another slot of its session, or none; an
    // accounting record that waits, and can be nobody else's, is this call's.
    end_child();
    mChild = -1;
    child_ended(status);
}

void ModemSlot::end_child()
{
    if (!mEndTold)
        mOwner.OnPppdEnd(this);
    mEndTold = true;
    mRunsPppd = false;
}

void ModemSlot::child_ended(int status)
{
    if (is_releasing()) {
        mTerminateTimer.reset();
        unbind();
        on_release();
        return;
    }
    if (!mCallAborted)
        OnAbort(status);
    mCallAborted = true;
}

void ModemSlot::abort_call(int error)
{
    if (is_releasing())
        return;
    if (!mCallAborted)
        OnAbort(error);
    mCallAborted = true;
    if (child_running() && !mTerminateTimer.is_running())
        hang_up_child();
}

void ModemSlot::hang_up_child()
{
    PutHeader(std::cerr) << "sent HUP to pppd." << std::endl;
    ChildWait::SignalUnreaped(mChild, SIGHUP);
    mTerminateTimer.set(kTerminateTimeout, &ModemSlot::on_terminate_timeout, this);
}

bool ModemSlot::IBeforeDestroy()
{
    if (child_running()) {
        // A child hung up already, its call aborted, has its time-out running.
        if (!mTerminateTimer.is_running())
            hang_up_child();
        return false;
    }
    unbind();
    return true;
}

void ModemSlot::on_terminate_timeout(Timer*)
{
    PutHeader(std::cerr) << "pppd terminate timeout!" << std::endl;
    // The kill ends the daemon: its end is handled now, before the slot goes
    // (and the destroy is answered), as a reaped daemon's would be.
    end_child();
    pppd_kill();
    if (is_releasing()) {
        unbind();
        on_release();
    }
}
