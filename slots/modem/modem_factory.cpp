#include "slots/modem/modem_factory.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <linux/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <unistd.h>
#include <vector>

#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "slots/modem/dsp_modem_slot.hpp"
#include "slots/modem/hdlc_modem_slot.hpp"
#include "slots/modem/peer_socket.hpp"

namespace
{

using platform::board;

template <class T> bool contains(std::list<T> const& list, T const& value)
{
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

ModemFactory& ModemFactory::instance()
{
    static ModemFactory factory;
    return factory;
}

ModemFactory::ModemFactory()
{
    IQuery();
    mListenerWatch.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
    Init();
}

ModemFactory::~ModemFactory()
{
    mWaiting.clear();
    mVoices.clear();
    for (AuthClient* c : mClients)
        delete c;
}

std::ostream& ModemFactory::PutHeader(std::ostream& os) const
{
    return os << "modem[" << mModemCount << "," << mAllSlots.size() << "]: ";
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.modem_isSelected())
        return nullptr;
    TERM::ModemParams const& modem = params.get_modem();
    if (modem.ddm_isPresent() && !modem.get_ddm().empty() && !mFreeInterfaces.empty()) {
        const std::string name = mFreeInterfaces.front();
        mFreeInterfaces.pop_front();
        auto* slot = new HdlcModemSlot(modem, name, *this);
        mAllSlots.push_back(slot);
        mDigitalSlots.push_back(slot);
        return slot;
    }
    auto* slot = new DspModemSlot(modem, *this);
    mAllSlots.push_back(slot);
    mDspSlots.push_back(slot);
    return slot;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot)
{
    forget(slot);
    mAllSlots.remove(slot);
    mDspSlots.remove(slot);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot)
{
    forget(slot);
    if (!contains(mDigitalSlots, slot))
        return;
    mAllSlots.remove(slot);
    mDigitalSlots.remove(slot);
    if (!contains(mFreeInterfaces, slot->deviceName()))
        mFreeInterfaces.push_back(slot->deviceName());
}

void ModemFactory::Query(LGCP::Resources& resources)
{
    IQuery();
    resources.set_modem(mModemCount);
    resources.set_digital_modems(static_cast<int>(mFreeInterfaces.size()));
}

void ModemFactory::IQuery()
{
    update_modemDevices();
    update_hdlcDevices();
}

void ModemFactory::update_modemDevices()
{
    mModemCount = 0;
    Fd control;
    if (!control.open(platform::mctl::kPath, O_RDWR)) {
        const Errno e;
        PutHeader(std::cerr) << "fail to open \"" << platform::mctl::kPath << "\" : " << e << std::endl;
        return;
    }
    // A driver that gives a number again would never end the enumeration:
    // it is asked no more often than the board can have modems, and a number
    // it repeats is counted once.
    std::set<int> seen;
    bool repeated = false;
    int value = -1;
    for (int asked = 0; asked < kMaxModems; ++asked) {
        value = board().ioctl(control.lowlevel_fd(), platform::mctl::kEnumerate, value);
        if (value < 0)
            break;
        if (seen.insert(value).second) {
            ++mModemCount;
        } else if (!repeated) {
            repeated = true;
            PutHeader(std::cerr) << "driver reported modem " << value << " twice" << std::endl;
        }
    }
    if (value < 0 && errno != ENODEV) {
        const Errno e;
        PutHeader(std::cerr) << "enum fail: " << e << std::endl;
    }
}

void ModemFactory::update_hdlcDevices()
{
    mFreeInterfaces.clear();
    const Fd sock(board().interface_socket());
    if (!sock.is_valid())
        return;
    for (int n = 0; n < 256; ++n) {
        const std::string name = "hdlc" + std::to_string(n);
        ifreq r;
        std::memset(&r, 0, sizeof r);
        std::strncpy(r.ifr_name, name.c_str(), IFNAMSIZ - 1);
        if (board().ioctl(sock.lowlevel_fd(), platform::netif::kGetIndex, &r) == -1)
            break;
        if (board().ioctl(sock.lowlevel_fd(), platform::netif::kGetFlags, &r) == -1)
            break;
        if (!(r.ifr_flags & platform::netif::kPointToPoint) || (r.ifr_flags & platform::netif::kLoopback))
            continue;
        // An interface a live slot holds is not free, whatever its flags say.
        const bool held = std::any_of(mDigitalSlots.begin(), mDigitalSlots.end(),
                                      [&](HdlcModemSlot* s) { return s->deviceName() == name; });
        if (!held)
            mFreeInterfaces.push_back(name);
    }
    if (mFreeInterfaces.empty())
        return;
    std::clog << "found point-o-point devices:";
    for (auto const& name : mFreeInterfaces)
        std::clog << " " << name;
    std::clog << std::endl;
}

void ModemFactory::Init()
{
    Fd sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!sock.is_valid()) {
        const Errno e;
        PutHeader(std::cerr) << "fail to bind auth socket: " << e << std::endl;
        mBindTimer.set(kBindRetry, &ModemFactory::Init, this);
        return;
    }
    // A quick restart finds the old listener's connections in TIME_WAIT.
    const int on = 1;
    ::setsockopt(sock.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(auth::kPort);
    ::inet_pton(AF_INET, auth::kAddress, &addr.sin_addr);
    if (::bind(sock.lowlevel_fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        const Errno e;
        PutHeader(std::cerr) << "fail to bind auth socket: " << e << std::endl;
        mBindTimer.set(kBindRetry, &ModemFactory::Init, this);
        return;
    }
    if (::listen(sock.lowlevel_fd(), kBacklog) != 0) {
        const Errno e;
        PutHeader(std::cerr) << "fail to listen auth socket: " << e << std::endl;
        mBindTimer.set(kBindRetry, &ModemFactory::Init, this);
        return;
    }
    if (!NonBlockMode(sock.lowlevel_fd())) {
        const Errno e;
        PutHeader(std::cerr) << "can't set socket to non block mode: " << e << std::endl;
        mBindTimer.set(kBindRetry, &ModemFactory::Init, this);
        return;
    }
    mListener = sock;
    if (!mListenerWatch.Watch(mListener)) {
        // The duplicates the listener and its event hold need descriptors too.
        const Errno e;
        PutHeader(std::cerr) << "fail to listen auth socket: " << e << std::endl;
        mListener.close();
        mBindTimer.set(kBindRetry, &ModemFactory::Init, this);
    }
}

void ModemFactory::OnSocketEvent(int, short revents)
{
    if (revents & (POLLERR | POLLHUP)) {
        PutHeader(std::cerr) << "auth server socket error." << std::endl;
        mListenerWatch.Release();
        mListener.close();
        mBindTimer.set(kBindRetry, &ModemFactory::Init, this);
        return;
    }
    if (!(revents & POLLIN))
        return;
    accept_connection();
}

void ModemFactory::accept_connection()
{
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    Fd connection(
        ::accept4(mListener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC));
    if (!connection.is_valid()) {
        const int error = errno;
        PutHeader(std::cerr) << "fail to set nonblock mode." << std::endl;
        // Out of descriptors or memory the plugin waits in the queue.
        mListenerWatch.PauseOnShortage(error);
        return;
    }
    if (!NonBlockMode(connection.lowlevel_fd())) {
        PutHeader(std::cerr) << "fail to set nonblock mode." << std::endl;
        return;
    }
    const INet4::Addr from(peer);
    auto* client = new AuthClient(connection, from, *this);
    // The client holds its own duplicate: ours goes at once, so that the
    // event's duplicate can take its place when the table is nearly full.
    connection.close();
    const bool polled = client->Activate();
    const Errno error;
    PutHeader(std::cerr) << "incoming auth connection from " << from << std::endl;
    if (!polled) {
        // A client that is not polled would never see its request nor its
        // end: the connection is closed instead, the plugin sees it at once.
        PutHeader(std::cerr) << "auth connection from " << from
                             << " closed: can't duplicate its descriptor: " << error << std::endl;
        delete client;
        // The plugins behind it wait in the queue until descriptors are
        // back, rather than being taken only to be closed.
        mListenerWatch.PauseOnShortage(error.value());
        return;
    }
    mClients.push_back(client);
    // The plugin may close its end before its record is read: the daemon
    // that holds it is looked for now.
    client->SetHolder(holder(client->lowlevel_fd()));
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client)
{
    PutHeader(std::clog) << "auth client " << client->GetAddr() << " disconnected." << std::endl;
    mVoices.erase(client);
    mClients.remove(client);
    delete client;
}

void ModemFactory::OnAuth(AuthClient* client, auth::attr const* record)
{
    if (std::uint32_t(record->length) < auth::kHeader) {
        PutHeader(std::cerr) << "auth record too short: " << record->length << " bytes, ignored."
                             << std::endl;
        return;
    }
    const int session = record->session;
    const bool request = record->type == auth::kRequest;
    const auto voice = client ? mVoices.find(client) : mVoices.end();
    if (voice != mVoices.end()) {
        // The connection speaks for its slot whatever session word it writes.
        if (ModemSlot* slot = voice->second.slot) {
            voice->second.asked = voice->second.asked || request;
            slot->OnAuth(record);
        } else
            PutHeader(std::cerr) << "receive auth request for unknown session " << unsigned(session)
                                 << std::endl;
        return;
    }
    // The plugin runs inside its call's PPP daemon: a connection whose other
    // end that daemon holds is that call's.
    ModemSlot* slot = client ? holding_slot(client, session) : nullptr;
    if (!slot) {
        // Digital modems all use session -1, and a record that the ranks
        // leave to two or more calls may be any of theirs: one call's records
        // must never reach another. An accounting record comes as its call
        // ends: it waits for the first of those calls whose daemon ends.
        const std::vector<ModemSlot*> slots = FindAuthSlots(session, record->type);
        if (slots.empty()) {
            PutHeader(std::cerr) << "receive auth request for unknown session " << unsigned(session)
                                 << std::endl;
            return;
        }
        if (slots.size() > 1 && record->type == auth::kAccounting && slots.front()->pppd_executing())
            return wait_for_end(slots, record);
        if (slots.size() > 1) {
            PutHeader(std::cerr) << "auth record for session " << unsigned(session)
                                 << " matches several modem slots, dropped." << std::endl;
            return;
        }
        slot = slots.front();
    }
    if (client)
        mVoices[client] = Voice{slot, ++mVoiceCount, request};
    slot->OnAuth(record);
}

int ModemFactory::holder(int connection) const
{
    // Every PPP daemon leads a process group of its own, which holds its
    // plugin's helpers and its scripts too.
    std::vector<int> groups;
    for (ModemSlot const* s : mAllSlots) {
        if (s->pppd_executing())
            groups.push_back(s->pppd());
    }
    if (groups.empty())
        return -1;
    return auth::GroupHolding(groups, auth::PeerSocket(connection));
}

ModemSlot* ModemFactory::holding_slot(AuthClient* client, int session) const
{
    const auto held_by = [&](int pid) -> ModemSlot* {
        for (ModemSlot* s : mAllSlots) {
            if (pid != -1 && s->pppd() == pid)
                return s->EqAuthId(session) ? s : nullptr;
        }
        return nullptr;
    };
    if (ModemSlot* slot = held_by(client->Holder()))
        return slot;
    client->SetHolder(holder(client->lowlevel_fd()));
    return held_by(client->Holder());
}

void ModemFactory::wait_for_end(std::vector<ModemSlot*> const& slots, auth::attr const* record)
{
    const unsigned session = unsigned(record->session);
    // No more records wait than the calls they may be: one each.
    const auto shared = std::count_if(mWaiting.begin(), mWaiting.end(), [&](Waiting const& w) {
        return std::any_of(w.slots.begin(), w.slots.end(), [&](ModemSlot* s) {
            return std::find(slots.begin(), slots.end(), s) != slots.end();
        });
    });
    if (std::size_t(shared) >= slots.size()) {
        PutHeader(std::cerr) << "auth record for session " << session
                             << " matches several modem slots, dropped." << std::endl;
        return;
    }
    mWaiting.push_back(Waiting{slots, {}});
    std::memcpy(&mWaiting.back().record, record,
                std::min<std::size_t>(std::uint32_t(record->length), sizeof *record));
    PutHeader(std::cerr) << "auth accounting for session " << session
                         << " matches several modem slots, waits for the first pppd to end." << std::endl;
}

void ModemFactory::unwait(ModemSlot const* slot)
{
    for (auto w = mWaiting.begin(); w != mWaiting.end();) {
        w->slots.erase(std::remove(w->slots.begin(), w->slots.end(), slot), w->slots.end());
        if (!w->slots.empty()) {
            ++w;
            continue;
        }
        // What the record held is logged, since no call will report it.
        auth::voacct const& r = reinterpret_cast<auth::voacct const&>(w->record);
        const auto counter = [](std::uint32_t const* words) {
            return std::uint64_t(words[0]) << 32 | words[1];
        };
        PutHeader(std::cerr) << "auth accounting for session " << unsigned(r.session)
                             << ": no modem slot it matched is left, dropped: octets out "
                             << counter(r.octetsSent) << " in " << counter(r.octetsReceived)
                             << ", packets out " << counter(r.packetsSent) << " in "
                             << counter(r.packetsReceived) << ", time " << r.sessionTime << " s."
                             << std::endl;
        w = mWaiting.erase(w);
    }
}

bool ModemFactory::SendAuth(ModemSlot const* slot, auth::attr const* record)
{
    // Only a connection that carried the call's request waits for an answer.
    AuthClient* client = speaker(slot, true);
    if (!client) {
        PutHeader(std::clog) << "send error: unknown auth " << unsigned(record->session) << " session."
                             << std::endl;
        return false;
    }
    return client->Send(record);
}

void ModemFactory::OnPppdEnd(ModemSlot* slot)
{
    // A plugin may open a connection of its own for its last record: those
    // waiting are taken first (no more than the queue holds; a shortage of
    // descriptors pauses the watch and ends this).
    for (int k = 0; k < kBacklog && connection_waiting(); ++k)
        accept_connection();
    // Reading may end a connection, and its client is deleted then: a copy
    // of the list is walked, each client looked up before it is read.
    const std::vector<AuthClient*> clients(mClients.begin(), mClients.end());
    for (AuthClient* c : clients) {
        if (contains(mClients, c))
            c->ReadPending();
    }
    // A waiting record is this call's only when it can be nobody else's: it
    // is the one record that lists the call, the call has had no accounting
    // since its daemon started, and the call was activated (a call never
    // activated has no session to account for). Otherwise the call leaves
    // every waiting record (the record it takes was the only one to list it).
    const auto lists = [&](Waiting const& w) {
        return std::find(w.slots.begin(), w.slots.end(), slot) != w.slots.end();
    };
    const auto first = std::find_if(mWaiting.begin(), mWaiting.end(), lists);
    const bool alone =
        first != mWaiting.end() && std::find_if(std::next(first), mWaiting.end(), lists) == mWaiting.end();
    if (!alone || slot->accounted() || !slot->activated())
        return unwait(slot);
    const auth::attr record = first->record;
    mWaiting.erase(first);
    slot->OnAuth(&record);
}

bool ModemFactory::connection_waiting() const
{
    if (!mListener.is_valid() || !mListenerWatch.IsActive())
        return false;
    pollfd p{mListener.lowlevel_fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

AuthClient* ModemFactory::speaker(ModemSlot const* slot, bool asked) const
{
    AuthClient* latest = nullptr;
    std::uint64_t since = 0;
    for (AuthClient* c : mClients) {
        const auto voice = mVoices.find(c);
        if (voice == mVoices.end() || voice->second.slot != slot || !c->IsOpen() ||
            (asked && !voice->second.asked))
            continue;
        if (!latest || voice->second.since > since) {
            latest = c;
            since = voice->second.since;
        }
    }
    return latest;
}

void ModemFactory::forget(ModemSlot const* slot)
{
    for (auto& voice : mVoices) {
        if (voice.second.slot == slot)
            voice.second.slot = nullptr;
    }
    unwait(slot);
}

ModemSlot* ModemFactory::FindModemByDsp(int modem) const
{
    for (ModemSlot* s : mAllSlots) {
        if (s->EqAuthId(modem))
            return s;
    }
    return nullptr;
}

std::vector<ModemSlot*> ModemFactory::FindAuthSlots(int session, std::int32_t type) const
{
    // Digital modems and DSP modems not yet allocated all use session -1. A
    // plugin runs inside a PPP daemon. A call asks once its daemon has
    // started, and never once it is being released. A plugin speaks on a
    // connection of its call's, unless it opens another. An accounting record
    // is ranked by the running daemon alone: a call whose request was dropped
    // looks as if it had never asked, and an accounting record may come on a
    // fresh connection at any time.
    std::vector<ModemSlot*> best;
    int bestRank = 0;
    for (ModemSlot* s : mAllSlots) {
        if (!s->EqAuthId(session))
            continue;
        int rank = s->pppd_executing() ? 0 : 4;
        if (type != auth::kAccounting) {
            if (type == auth::kRequest && (s->asked() || s->is_releasing()))
                rank += 2;
            if (speaker(s, false))
                rank += 1;
        }
        if (best.empty() || rank < bestRank) {
            best.assign(1, s);
            bestRank = rank;
        } else if (rank == bestRank) {
            best.push_back(s);
        }
    }
    return best;
}
