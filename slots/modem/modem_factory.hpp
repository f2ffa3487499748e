#pragma once
// The modem factory ("Modem"): builds DSP and digital modem slots from the
// `modem` create parameters, keeps the lists of live modem slots, counts the
// board's DSP modems and free HDLC interfaces for the resource report, and
// serves the local authentication link on 127.0.0.1:52000, routing each
// record between a plugin connection and the modem slot whose modem number is
// the record's session word.
#include <list>
#include <string>

#include "runtime/fd.hpp"
#include "runtime/listen_watch.hpp"
#include "runtime/timer.hpp"
#include "slots/factory.hpp"
#include "slots/modem/auth_client.hpp"
#include "slots/modem/modem_owner.hpp"

class ModemSlot;
class DspModemSlot;
class HdlcModemSlot;

class ModemFactory : public SlotFactory, public AuthOwner, public ModemOwner
{
public:
    static constexpr unsigned kBindRetry = 5000;
    // The enumeration asks the driver at most this often in one pass, as
    // the interface scan looks at no more than hdlc0..hdlc255.
    static constexpr int kMaxModems = 256;

    static ModemFactory& instance();

    ModemFactory();
    ~ModemFactory() override;

    char const* GetName() const override { return "Modem"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources& resources) override;
    void IQuery();

    // Both may be called again for a slot already released.
    void ReleaseModemSlot(DspModemSlot* slot) override;
    void ReleaseModemSlot(HdlcModemSlot* slot) override;

    void OnAuth(auth::attr const* record) override;
    void OnAuthSocketDisconnect(AuthClient* client) override;
    // Sends a slot's record to the first plugin connection of its session
    // (one that has sent a record of that session: a connection that has sent
    // none takes no record); false when there is none, when the session is
    // ambiguous, or when the write failed.
    bool SendAuth(auth::attr const* record) override;
    ModemSlot* FindModemByDsp(int modem) const;
    // The slot a record of the session is for: the first of the session's
    // slots in creation order that runs a PPP daemon, else the first of them;
    // null when the session has no slot.
    ModemSlot* FindAuthSlot(int session) const;

    std::ostream& PutHeader(std::ostream& os) const;
    int modems() const { return mModemCount; }
    std::list<std::string> const& free_interfaces() const { return mFreeInterfaces; }
    std::list<ModemSlot*> const& slots() const { return mAllSlots; }
    std::list<AuthClient*> const& clients() const { return mClients; }
    bool listening() const { return mListener.is_valid(); }

private:
    void update_modemDevices();
    void update_hdlcDevices();
    void Init();
    void OnSocketEvent(int fd, short revents);
    // Two or more slots of the session run a PPP daemon: a record of it may
    // belong to either call.
    bool ambiguous(int session) const;

    std::list<DspModemSlot*> mDspSlots;
    std::list<HdlcModemSlot*> mDigitalSlots;
    std::list<ModemSlot*> mAllSlots;
    int mModemCount = 0;
    Fd mListener;
    // Out of descriptors or memory (an accept, or a connection's duplicate,
    // failed so) the listener is left alone for a pause: the plugins wait in
    // its queue, and the loop does not spin on it.
    ListenWatch mListenerWatch;
    Timer mBindTimer;
    std::list<AuthClient*> mClients;
    std::list<std::string> mFreeInterfaces;
};
