#include "slots/mcc/voice.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "platform/board.hpp"
#include "platform/devices.hpp"
#include "platform/paths.hpp"
#include "runtime/deferred_delete.hpp"
#include "runtime/log_text.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/trace.hpp"
#include "slots/join.hpp"

namespace
{

const unsigned kConnectTimeout = 5000;
const unsigned kPhraseBuffer = 8192;
// How long a phrase list whose pass played nothing waits before its next pass.
const unsigned kEmptyPassPause = 1000;
const char kVoiceDirectory[] = "/usr/local/voice/";

// A copier or connector that ended: it may be inside its own handler, which
// is calling us, so the loop deletes it once that call has returned.
template <class T> class Retired : public DeferredDeletable
{
public:
    explicit Retired(T* object) : mObject(object) {}
    ~Retired() override { delete mObject; }

private:
    T* mObject;
};

bool Ended(ASync::Copy const& c)
{
    return c.status() != ASync::Copy::Status::Running && c.status() != ASync::Copy::Status::Draining &&
           c.status() != ASync::Copy::Status::FlushWait;
}

bool Ended(ASync::Connect const& c)
{
    return c.status() != ASync::Connect::Status::Running;
}

// A helper still running is not inside its handler and goes at once, so
// nothing of it fires afterwards; one that ended waits for the loop.
template <class T> void Drop(T*& object)
{
    T* const old = object;
    object = nullptr;
    if (!old)
        return;
    if (Ended(*old) && multiplexer.running())
        multiplexer.deferredDelete(new Retired<T>(old));
    else
        delete old;
}

int AskTimeSlot(Fd const& fd)
{
    return platform::board().ioctl(fd.lowlevel_fd(), platform::mcc::kTimeslot);
}

// Phrase names stay inside the phrase directory: no absolute name and no
// ".." component; a name in a sub-folder ("en/hello") is fine. The open
// stops at a NUL byte, so a name holding one would open another file than
// the one checked here ("..\0" is the folder's parent): refused as well.
bool SafePhraseName(std::string const& name)
{
    if (!name.empty() && name[0] == '/')
        return false;
    if (name.find('\0') != std::string::npos)
        return false;
    for (std::size_t from = 0; from <= name.size();) {
        const std::size_t end = std::min(name.find('/', from), name.size());
        if (name.compare(from, end - from, "..") == 0)
            return false;
        from = end + 1;
    }
    return true;
}

} // namespace

std::string dhost2str(TERM::HostAddress const& host)
{
    return std::string(host.get_iaddr()) + ":" + std::to_string(host.get_port().getValue());
}

VoiceSlot::VoiceSlot(Fd const& fd) : mTimeSlot(AskTimeSlot(fd)), mFd(fd) {}

std::ostream& VoiceSlot::PutHeader(std::ostream& os) const
{
    os << GetName() << "[" << mTimeSlot << "]: ";
    return os;
}

void VoiceSlot::let_channel_go()
{
    // The joins go while the slot still names the channel; the copy's end
    // is logged with it too.
    LeaveChannel(*this, mTimeSlot);
    EndOnLostChannel();
    mFd.close();
    // From here on the slot takes no join, and the switch refuses the channel.
    mTimeSlot = -1;
}

// ---- players ----------------------------------------------------------------

bool PlaySlotGeneric::IBeforeDestroy()
{
    VoiceFactory::instance().RemovePlayer(this);
    return true;
}

PlaySlotNetwork::PlaySlotNetwork(Fd const& fd, std::string address, int id)
    : PlaySlotGeneric(fd), mAddress(std::move(address)), mId(id)
{
}

PlaySlotNetwork::~PlaySlotNetwork()
{
    delete mCopier;
    delete mConnector;
}

bool PlaySlotNetwork::IOnOutputStream()
{
    // A channel let go plays nothing more.
    if (!IsTimeSlotValid())
        return false;
    if (mState == idle) {
        mState = connecting;
        mConnector = new ASync::Connect;
        mConnector->Bind(&PlaySlotNetwork::OnConnect, this);
        mConnector->Start(mAddress, kConnectTimeout);
        // A connection that failed inside the start (an address that is no
        // address, a peer refused at once) has released the player already:
        // it must not be reported active nor joined.
        if (mState == released)
            return false;
    }
    // A player that has ended is not started again: a later join still
    // succeeds and reports its transmitter, but nothing more is played.
    OnChangeOutputStream(true);
    return IsTimeSlotValid();
}

// The connector's handler type hands the descriptor over by value.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket)
{
    if (status != ASync::Connect::Status::Connected) {
        std::clog << ext::header(this) << "connection to " << host(this) << " fail." << std::endl;
        Release();
        return;
    }
    std::clog << ext::header(this) << "connected to " << host(this) << "." << std::endl;
    LGCP::IoctlResponse response;
    response.select_startPlaying();
    OnIoctlResponse(response);
    mState = playing;
    Drop(mConnector);
    const std::uint32_t id = static_cast<std::uint32_t>(mId);
    const unsigned char word[4] = {static_cast<unsigned char>(id >> 24), static_cast<unsigned char>(id >> 16),
                                   static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id)};
    const ssize_t written = ::write(socket.lowlevel_fd(), word, sizeof word);
    (void)written;
    mCopier = new ASync::Copy;
    mCopier->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, POLLWRNORM));
    mCopier->Bind(&PlaySlotNetwork::OnPlayComplete, this);
    mCopier->Start(socket, mFd);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status)
{
    if (status == ASync::Copy::Status::Done)
        std::clog << ext::header(this) << "connection to " << host(this) << " closed." << std::endl;
    else
        std::cerr << ext::header(this) << "play failed" << std::endl;
    Release();
}

void PlaySlotNetwork::EndOnLostChannel()
{
    // A connection under way would start its copy on the lost channel.
    if (mState == connecting || mState == playing)
        OnPlayComplete(ASync::Copy::Status::Failed);
}

void PlaySlotNetwork::Release()
{
    mState = released;
    OnChangeOutputStream(false);
    Drop(mCopier);
    Drop(mConnector);
    OnAbort(0);
}

PlaySlotFile::PlaySlotFile(Fd const& fd, std::vector<std::string> names, int repeat)
    : PlaySlotGeneric(fd), mRepeat(repeat), mNames(std::move(names))
{
    mDpc.Bind(this, &PlaySlotFile::delayed_abort);
}

PlaySlotFile::~PlaySlotFile()
{
    delete mCopier;
}

bool PlaySlotFile::IOnOutputStream()
{
    // A channel let go plays nothing more.
    if (!IsTimeSlotValid())
        return false;
    if (!mStarted) {
        if (!restart()) {
            mDpc.Activate();
            return false;
        }
        mStarted = true;
        // A phrase whose copy failed inside its start (a folder, a read
        // error) has released the player already: it is neither reported
        // active nor joined. A later join finds it started and released.
        if (mReleased)
            return false;
    }
    OnChangeOutputStream(true);
    return IsTimeSlotValid();
}

bool PlaySlotFile::restart()
{
    mPosition = 0;
    mPassPlayed = false;
    return next_phrase();
}

bool PlaySlotFile::next_phrase()
{
    while (mPosition < mNames.size()) {
        const std::string& name = mNames[mPosition++];
        if (!SafePhraseName(name)) {
            std::cerr << ext::header(this) << "phrase name refused: " << ext::escaped(name) << std::endl;
            continue;
        }
        Fd file(::open(Paths::resolve(kVoiceDirectory + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!file.is_valid())
            continue;
        ::lseek(file.lowlevel_fd(), 0, SEEK_SET);
        mFile = file;
        Drop(mCopier);
        mCopier = new ASync::Copy;
        mCopier->set_bufsize(kPhraseBuffer);
        mCopier->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, POLLWRNORM));
        mCopier->Bind(&PlaySlotFile::OnPlayComplete, this);
        mCopier->Start(mFile, mFd);
        return true;
    }
    return false;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status)
{
    if (status != ASync::Copy::Status::Done) {
        Release();
        return;
    }
    if (mCopier->copied() > 0)
        mPassPlayed = true;
    if (next_phrase())
        return;
    // Only a positive count is counted down: 0 and any negative count play
    // the list until the slot goes (and the lowest count has no predecessor).
    if (mRepeat > 0 && --mRepeat == 0) {
        Release();
        return;
    }
    // A list of empty phrases would otherwise read them again at once, pass
    // after pass, and hold the loop, however many passes are left; a phrase
    // that gains content is played at the next pass.
    if (!mPassPlayed) {
        mPause.set(kEmptyPassPause, &PlaySlotFile::next_pass, this);
        return;
    }
    next_pass();
}

void PlaySlotFile::next_pass()
{
    if (!restart())
        OnAbort(0);
}

void PlaySlotFile::EndOnLostChannel()
{
    // A pass that waits would start its copy on the lost channel.
    const bool playing = (mCopier && !Ended(*mCopier)) || mPause.is_running();
    mPause.reset();
    if (playing)
        Release();
}

void PlaySlotFile::Release()
{
    mReleased = true;
    OnChangeOutputStream(false);
    Drop(mCopier);
    OnAbort(0);
}

void PlaySlotFile::delayed_abort()
{
    mDpc.Deactivate();
    OnAbort(0);
}

// ---- recorder ---------------------------------------------------------------

RecordSlot::RecordSlot(Fd const& fd, std::string address) : VoiceSlot(fd), mAddress(std::move(address)) {}

RecordSlot::~RecordSlot()
{
    delete mCopier;
    delete mConnector;
}

void RecordSlot::IAfterCreate()
{
    OnChangeInputStream(true);
}

bool RecordSlot::IBeforeDestroy()
{
    VoiceFactory::instance().RemoveRecorder(this);
    return true;
}

bool RecordSlot::IOnInputStream()
{
    // A channel let go records nothing more.
    if (!IsTimeSlotValid())
        return false;
    Drop(mConnector);
    mConnector = new ASync::Connect;
    mConnector->Bind(&RecordSlot::OnConnect, this);
    mConnector->Start(mAddress, kConnectTimeout);
    return true;
}

// The connector's handler type hands the descriptor over by value.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd socket)
{
    if (status != ASync::Connect::Status::Connected) {
        std::clog << ext::header(this) << "connection to " << host(this) << " fail." << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionFail);
        return;
    }
    std::clog << ext::header(this) << "connected to " << host(this) << "." << std::endl;
    Drop(mConnector);
    // A disconnect leaves a recording running, so a later join may find one:
    // the new copy replaces it, never runs beside it on the same channel.
    Drop(mCopier);
    mCopier = new ASync::Copy;
    mCopier->set_events(ASync::Copy::EventsParams(POLLIN, POLLOUT, 0));
    mCopier->Bind(&RecordSlot::OnRecordComplete, this);
    mCopier->Start(mFd, socket);
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status)
{
    if (status == ASync::Copy::Status::Done) {
        std::clog << ext::header(this) << "connection to " << host(this) << " closed." << std::endl;
        StopRecording(LGCP::StopRecordingCause::userRequest);
    } else {
        std::cerr << ext::header(this) << "record aborted" << std::endl;
        StopRecording(LGCP::StopRecordingCause::connectionAborted);
    }
}

void RecordSlot::EndOnLostChannel()
{
    // A connection under way would start its copy from the lost channel.
    if (mCopier || mConnector)
        OnRecordComplete(ASync::Copy::Status::Failed);
}

void RecordSlot::StopRecording(LGCP::StopRecordingCause::NamedNumber cause)
{
    Drop(mCopier);
    Drop(mConnector);
    LGCP::IoctlResponse response;
    response.select_stopRecording(cause);
    OnIoctlResponse(response);
}

// ---- factory ----------------------------------------------------------------

VoiceFactory& VoiceFactory::instance()
{
    static VoiceFactory factory;
    return factory;
}

std::ostream& VoiceFactory::PutHeader(std::ostream& os) const
{
    os << "voice/mcc"
       << "[" << mCounter << "]: ";
    return os;
}

Slot* VoiceFactory::INewSlot(LGCP::CreateParams const& params)
{
    if (!params.voice_isSelected())
        return nullptr;
    LGCP::VoiceParams const& v = params.get_voice();
    if (v.record_isSelected())
        return CreateRecord(dhost2str(v.get_record()));
    if (v.player_isSelected())
        return CreatePlay(v.get_player());
    return nullptr;
}

bool VoiceFactory::OpenChannel(bool forPlaying, Fd& fd)
{
    // A player writes to its channel, a recorder reads from it; each sets the
    // driver's threshold of its own direction.
    if (!fd.open(platform::mcc::kPath, (forPlaying ? O_WRONLY : O_RDONLY) | O_NONBLOCK)) {
        const Errno error;
        std::cerr << ext::header(this) << "fail to open /dev/mcc/ctl device for "
                  << (forPlaying ? "writing" : "reading") << ": " << std::strerror(error.value())
                  << std::endl;
        return false;
    }
    const std::uint32_t threshold = 5, none = 0;
    platform::mcc::Allocate allocate{platform::mcc::kTransparent, 1024, 0, forPlaying ? none : threshold,
                                     forPlaying ? threshold : none};
    if (platform::board().ioctl(fd.lowlevel_fd(), platform::mcc::kAllocate, &allocate) < 0) {
        const Errno error;
        std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << std::strerror(error.value()) << std::endl;
        fd.close();
        return false;
    }
    const int channel = AskTimeSlot(fd);
    if (channel < 0) {
        std::cerr << ext::header(this) << "MCC_TIMESLOT request failed." << std::endl;
        fd.close();
        return false;
    }
    ChannelHandedOut(channel);
    return true;
}

template <class Built> Slot* VoiceFactory::Held(Built* slot)
{
    if (slot->RefDeviceFd().is_valid())
        return slot;
    const Errno error;
    delete slot;
    std::cerr << ext::header(this)
              << "fail to duplicate /dev/mcc/ctl descriptor: " << std::strerror(error.value()) << std::endl;
    return nullptr;
}

Slot* VoiceFactory::CreatePlay(LGCP::PlayerParams const& params)
{
    Fd fd;
    if (!OpenChannel(true, fd))
        return nullptr;
    Slot* slot = nullptr;
    if (params.network_isSelected()) {
        LGCP::PlayerParams_network const& n = params.get_network();
        slot = Held(new PlaySlotNetwork(fd, dhost2str(n.get_host()), int(n.get_id().getValue())));
    } else if (params.file_isSelected()) {
        LGCP::PlayerParams_file const& f = params.get_file();
        std::vector<std::string> names;
        for (auto const& name : f.get_name())
            names.push_back(name);
        slot = Held(new PlaySlotFile(fd, names, int(f.get_repeat().getValue())));
    }
    if (slot)
        mPlayers.push_back(slot);
    return slot;
}

Slot* VoiceFactory::CreateRecord(std::string const& address)
{
    Fd fd;
    if (!OpenChannel(false, fd))
        return nullptr;
    Slot* slot = Held(new RecordSlot(fd, address));
    if (slot)
        mRecorders.push_back(slot);
    return slot;
}
