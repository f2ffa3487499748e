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
    const auto voice = client ? mVoices.find(client) : mVoices.end();
    if (voice != mVoices.end()) {
        // The connection speaks for its slot whatever session word it writes.
        if (ModemSlot* slot = voice->second.slot)
            slot->OnAuth(record);
        else
            PutHeader(std::cerr) << "receive auth request for unknown session " << unsigned(session)
                                 << std::endl;
        return;
    }
    bool several = false;
    ModemSlot* slot = FindAuthSlot(session, &several);
    if (!slot) {
        PutHeader(std::cerr) << "receive auth request for unknown session " << unsigned(session) << std::endl;
        return;
    }
    // Digital modems all use session -1: two calls whose plugins have not
    // spoken yet cannot be told apart, and one call's credentials must never
    // reach another.
    if (several) {
        PutHeader(std::cerr) << "auth record for session " << unsigned(session)
                             << " matches several modem slots, dropped." << std::endl;
        return;
    }
    if (client)
        mVoices[client] = Voice{slot, ++mVoiceCount};
    slot->OnAuth(record);
}

bool ModemFactory::SendAuth(ModemSlot const* slot, auth::attr const* record)
{
    AuthClient* client = speaker(slot);
    if (!client) {
        PutHeader(std::clog) << "send error: unknown auth " << unsigned(record->session) << " session."
                             << std::endl;
        return false;
    }
    return client->Send(record);
}

void ModemFactory::ReadPendingAuth()
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
}

bool ModemFactory::connection_waiting() const
{
    if (!mListener.is_valid() || !mListenerWatch.IsActive())
        return false;
    pollfd p{mListener.lowlevel_fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

AuthClient* ModemFactory::speaker(ModemSlot const* slot) const
{
    AuthClient* latest = nullptr;
    std::uint64_t since = 0;
    for (AuthClient* c : mClients) {
        const auto voice = mVoices.find(c);
        if (voice == mVoices.end() || voice->second.slot != slot || !c->IsOpen())
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
}

ModemSlot* ModemFactory::FindModemByDsp(int modem) const
{
    for (ModemSlot* s : mAllSlots) {
        if (s->EqAuthId(modem))
            return s;
    }
    return nullptr;
}

ModemSlot* ModemFactory::FindAuthSlot(int session, bool* several) const
{
    // Digital modems and DSP modems not yet allocated all use session -1. A
    // plugin's first record comes from a running PPP daemon, and from one
    // whose call has no plugin connection yet, unless its own plugin opens
    // another: slots ranked so, the one of the best rank takes it, and two
    // of that rank leave it to neither.
    ModemSlot* best = nullptr;
    int bestRank = 0;
    int ties = 0;
    for (ModemSlot* s : mAllSlots) {
        if (!s->EqAuthId(session))
            continue;
        const int rank = (s->pppd_executing() ? 0 : 2) + (speaker(s) ? 1 : 0);
        if (!best || rank < bestRank) {
            best = s;
            bestRank = rank;
            ties = 0;
        } else if (rank == bestRank) {
            ++ties;
        }
    }
    if (several)
        *several = best && ties > 0;
    return best;
}
