#pragma once
// The base of the modem slots: a dial-in or dial-out data call whose bearer
// channel is joined to a modem, with the PPP daemon (or a fax program) as a
// child process. The daemon's authentication plugin speaks to the gateway over
// the local authentication link: its request and accounting records become
// `modemProceeding` signals, and the controller's activation of the slot
// becomes the plugin's accept and ip records. Destroying a slot whose child
// runs sends it SIGHUP and waits for its end (SIGKILL after 5000 ms); the
// controller's `destroy` is answered when the slot is gone.
#include <ostream>
#include <string>
#include <vector>

#include "runtime/child_wait.hpp"
#include "runtime/timer.hpp"
#include "slots/modem/auth_client.hpp"
#include "slots/modem/modem_owner.hpp"
#include "slots/slot.hpp"

class ModemSlot : public Slot
{
public:
    static constexpr unsigned kTerminateTimeout = 5000;
    // Entries of a child's argument list, the terminating null included.
    static constexpr std::size_t kMaxArgs = 64;

    // `owner` is the factory that builds the slot; it outlives the slot.
    ModemSlot(TERM::ModemParams const& params, ModemOwner& owner);
    // Kills a child that still runs; the kinds give their factory entry back.
    ~ModemSlot() override;

    bool IBeforeDestroy() override;
    bool IActivate(TERM::TermActivateParams const& params) override;
    char const* GetName() const override { return "generic-modem"; }

    // The session word of this slot's records on the authentication link.
    virtual int modem_id() const = 0;
    // Hands the slot back to the factory's bookkeeping; harmless when repeated.
    virtual void unbind() = 0;

    // A record of the plugin connection that speaks for this slot.
    void OnAuth(auth::attr const* record);
    bool EqAuthId(int id) const { return modem_id() == id; }
    std::ostream& PutHeader(std::ostream& os) const;

    // The PPP daemon's command line for a device and an option file.
    static std::vector<std::string> pppd_args(TERM::ModemParams const& params, std::string const& device,
                                              std::string const& options);
    int child() const { return mChild; }
    // A child runs, the PPP daemon or a fax program (or has ended and its end
    // is not yet handled).
    bool child_running() const { return mChild != -1; }
    // The child is the PPP daemon (a fax program is not).
    bool pppd_executing() const { return mRunsPppd && mChild != -1; }
    // The running PPP daemon's process number, -1 when none runs.
    int pppd() const { return pppd_executing() ? mChild : -1; }
    // The plugin has sent a request for this call since its PPP daemon
    // started.
    bool asked() const { return mAsked; }
    // An accounting report has been signalled on this call since its PPP
    // daemon started.
    bool accounted() const { return mAccounted; }
    // The controller's activation reached the plugin since the PPP daemon
    // started: the call has a session to account for.
    bool activated() const { return mActivated; }

protected:
    void pppd_exec(char const* device, char const* options);
    void pppd_kill();
    void on_terminate(int status);
    void on_terminate_timeout(Timer*);
    // Forks and runs argv[0] with argv in a process group of its own (what
    // it leaves there is killed once it has ended, and at the daemon's
    // stop); the child's process number, or -1
    // after "vfork fail: " and the abort signal. `failed` (when given) is made
    // the reading end of a pipe that holds one byte when the program could
    // not be run.
    int spawn(std::vector<std::string> const& argv, char const* banner, unsigned delay, Fd* failed);
    // The end of the deferred destroy, or the abort signal (none when the
    // call was aborted already); the call counts as aborted from then on.
    void child_ended(int status);
    // The call ends as one whose modem failed: the controller hears its abort
    // with `error` now (unless the call was aborted already, whichever
    // failure came first), and a child that runs is hung up as a destroy
    // hangs it up (SIGKILL after 5000 ms); its end sends no second abort.
    // Nothing is done for a slot being destroyed: its call has ended already.
    void abort_call(int error);
    TERM::ModemParams mParams;
    ModemOwner& mOwner;
    int mChild = -1;
    bool mRunsPppd = false;
    bool mAsked = false;
    bool mAccounted = false;
    bool mActivated = false;
    ChildWait mWait;
    Timer mTerminateTimer;

private:
    // SIGHUP to the child, and kTerminateTimeout for its end.
    void hang_up_child();
    // Tells the owner, once per child, that the child has ended (reaped or
    // killed at the time-out); from then on no PPP daemon runs for the call.
    void end_child();
    void OnAuthRequest(auth::voauth const* request);
    void OnAcctInformation(auth::voacct const* record);

    bool mCallAborted = false;
    // The owner has been told of the current child's end.
    bool mEndTold = false;
};
