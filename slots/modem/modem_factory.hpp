#pragma once
// The modem factory ("Modem"): builds DSP and digital modem slots from the
// `modem` create parameters, keeps the lists of live modem slots, counts the
// board's DSP modems and free HDLC interfaces for the resource report, and
// serves the local authentication link on 127.0.0.1:52000. A plugin
// connection's first record goes to a modem slot whose modem number is the
// record's session word; from then on the connection speaks for that slot:
// its records go there, and the slot's records go to it.
#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

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
    static constexpr int kBacklog = 64;
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

    // A record of a connection that speaks for a slot goes to that slot (to
    // none once the slot has gone). Any other goes to the slot of its session
    // whose running PPP daemon's process group holds the plugin's end of the
    // connection, or, with none, to the one slot of FindAuthSlots; its
    // connection speaks for that slot from then on. An accounting record that
    // FindAuthSlots leaves to two or more running daemons waits for their
    // ends (OnPppdEnd). A record of no connection (`client` null) is routed as
    // a first one and binds nothing.
    void OnAuth(AuthClient* client, auth::attr const* record) override;
    void OnAuthSocketDisconnect(AuthClient* client) override;
    bool SendAuth(ModemSlot const* slot, auth::attr const* record) override;
    void OnPppdEnd(ModemSlot* slot) override;
    ModemSlot* FindModemByDsp(int modem) const;
    // The slots a first record of the session and `type` may be for, when no
    // running PPP daemon is seen to hold its connection's other end: of the
    // session's slots, one that runs a PPP daemon before one that does not;
    // then, but for an accounting record, for a request one that has not
    // asked since its daemon started and is not being released before one
    // that has or is, and one that no open connection speaks for before one
    // spoken for. The slots of the best rank, in creation order: empty when
    // the session has none, two or more when the record may be any of their
    // calls'.
    std::vector<ModemSlot*> FindAuthSlots(int session, std::int32_t type) const;
    // The accounting records waiting for the end of a PPP daemon.
    std::size_t waiting() const { return mWaiting.size(); }

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
    // Accepts one connection waiting on the listener.
    void accept_connection();
    // A connection is waiting to be accepted and the listener is watched.
    bool connection_waiting() const;
    // The latest open connection to speak for `slot` (with `asked`: of those
    // that carried a request of the call), or null.
    AuthClient* speaker(ModemSlot const* slot, bool asked) const;
    // The connections that spoke for `slot` speak for none any more, and no
    // waiting accounting record is for it.
    void forget(ModemSlot const* slot);
    // The running PPP daemon whose process group holds the other end of the
    // connection, or -1.
    int holder(int connection) const;
    // The slot of `session` whose running PPP daemon holds the other end of
    // the client's connection: the one found when it was accepted, or, with
    // none, one found now. Null when there is none.
    ModemSlot* holding_slot(AuthClient* client, int session) const;
    // Keeps an accounting record that `slots` (two or more running PPP
    // daemons) match until their ends settle whose it is.
    void wait_for_end(std::vector<ModemSlot*> const& slots, auth::attr const* record);
    // No waiting record is for `slot` any more (its daemon ended, or it has
    // gone); one that is for no slot now is logged with its counters and
    // dropped.
    void unwait(ModemSlot const* slot);

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
    // The connections that speak for a slot (null: for one that has gone),
    // and when each began to, in the order of a count.
    struct Voice {
        ModemSlot* slot;
        std::uint64_t since;
        bool asked; // carried a request of the slot's call
    };
    std::map<AuthClient const*, Voice> mVoices;
    std::uint64_t mVoiceCount = 0;
    // An accounting record that two or more calls' running daemons match,
    // and those slots; in arrival order.
    struct Waiting {
        std::vector<ModemSlot*> slots;
        auth::attr record;
    };
    std::list<Waiting> mWaiting;
    std::list<std::string> mFreeInterfaces;
};
