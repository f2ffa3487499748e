#pragma once
// Voice slots on the voice channels of the multi-channel controller: a
// player feeds the TDM bus from a TCP peer (PlaySlotNetwork) or from phrase
// files under "/usr/local/voice/" (PlaySlotFile); a recorder (RecordSlot)
// copies its channel to a TCP peer. The bytes move with ASync::Copy, the peer
// is reached with ASync::Connect; progress and ends reach the controller as
// `ioctl` and `abort` signals.
#include <list>
#include <ostream>
#include <string>
#include <vector>

#include "runtime/async.hpp"
#include "runtime/dpc.hpp"
#include "runtime/fd.hpp"
#include "runtime/log_text.hpp"
#include "runtime/timer.hpp"
#include "slots/mcc/mcc_slot.hpp"
#include "slots/slot.hpp"

class VoiceSlot : public Slot, public ChannelHolder
{
public:
    // Takes a duplicate of an allocated voice channel and asks its timeslot.
    // When the process had no descriptor left for the duplicate (errno says
    // why), RefDeviceFd() is invalid and the slot is only fit to be deleted.
    explicit VoiceSlot(Fd const& fd);

    bool IsTimeSlotValid() const { return mTimeSlot >= 0; }
    Fd const& RefDeviceFd() const { return mFd; }
    // "<kind>[<timeslot>]: ".
    std::ostream& PutHeader(std::ostream& os) const;

    // The driver handed the channel to a new user: the slot leaves it (its
    // joins both ways, its switch output), the copy that runs on it ends as
    // when its channel fails, and the slot closes its descriptor of it.
    int held_channel() const override { return mTimeSlot; }
    void let_channel_go() override;

protected:
    // The copy (or the connection that would start one) that runs on the
    // channel ends as when the channel fails.
    virtual void EndOnLostChannel() = 0;

    int mTimeSlot;
    Fd mFd;
};

class PlaySlotGeneric : public VoiceSlot
{
public:
    using VoiceSlot::VoiceSlot;

    bool IBeforeDestroy() override;
    int IGetTransmitChannel() override { return mTimeSlot; }
    char const* GetName() const override { return "player"; }
};

class PlaySlotNetwork : public PlaySlotGeneric
{
public:
    enum State { idle = 0, connecting = 1, playing = 2, released = 3 };

    PlaySlotNetwork(Fd const& fd, std::string address, int id);
    ~PlaySlotNetwork() override;

    bool IOnOutputStream() override;
    State state() const { return mState; }
    // The peer's address, as its log lines show it (the controller's text, escaped).
    void PutAddr(std::ostream& os) const { os << ext::escaped(mAddress); }

private:
    void EndOnLostChannel() override;
    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnPlayComplete(ASync::Copy::Status::Type status);
    void Release();

    std::string mAddress;
    int mId;
    State mState = idle;
    ASync::Copy* mCopier = nullptr;
    ASync::Connect* mConnector = nullptr;
};

class PlaySlotFile : public PlaySlotGeneric
{
public:
    PlaySlotFile(Fd const& fd, std::vector<std::string> names, int repeat);
    ~PlaySlotFile() override;

    bool IOnOutputStream() override;

private:
    void EndOnLostChannel() override;
    bool restart();
    bool next_phrase();
    void OnPlayComplete(ASync::Copy::Status::Type status);
    void Release();
    void delayed_abort();
    void next_pass();

    ASync::Copy* mCopier = nullptr;
    Fd mFile;
    int mRepeat;
    bool mStarted = false;
    bool mReleased = false;
    Dpc mDpc;
    std::vector<std::string> mNames;
    std::size_t mPosition = 0;
    // Whether the pass under way has played any byte yet; a pass that
    // played nothing waits before the next one reads the phrases again.
    bool mPassPlayed = false;
    Timer mPause;
};

// Each join that finds the recorder without a source starts a connection and
// a copy; a disconnect leaves a running recording as it is, it ends only with
// its connection or the slot.
class RecordSlot : public VoiceSlot
{
public:
    // Takes a duplicate of an allocated voice channel, as a player does.
    RecordSlot(Fd const& fd, std::string address);
    ~RecordSlot() override;

    void IAfterCreate() override;
    bool IBeforeDestroy() override;
    bool IOnInputStream() override;
    int IGetReceiveChannel() override { return mTimeSlot; }
    char const* GetName() const override { return "recorder"; }
    // The peer's address, as its log lines show it (the controller's text, escaped).
    void PutAddr(std::ostream& os) const { os << ext::escaped(mAddress); }

private:
    void EndOnLostChannel() override;
    void OnConnect(ASync::Connect::Status::Type status, Fd socket);
    void OnRecordComplete(ASync::Copy::Status::Type status);
    void StopRecording(LGCP::StopRecordingCause::NamedNumber cause);

    std::string mAddress;
    ASync::Copy* mCopier = nullptr;
    ASync::Connect* mConnector = nullptr;
};

class VoiceFactory : public MccPoolFactory
{
public:
    static VoiceFactory& instance();

    char const* GetName() const override { return "Voice/mcc"; }
    Slot* INewSlot(LGCP::CreateParams const& params) override;
    void Query(LGCP::Resources&) override {}
    std::ostream& PutHeader(std::ostream& os) const;

    void RemovePlayer(Slot* slot) { mPlayers.remove(slot); }
    void RemoveRecorder(Slot* slot) { mRecorders.remove(slot); }

private:
    // An MCC channel opened, allocated for its direction and given a switch
    // timeslot, in `fd`; false, with the failure logged, when any step fails.
    bool OpenChannel(bool forPlaying, Fd& fd);
    Slot* CreatePlay(LGCP::PlayerParams const& params);
    Slot* CreateRecord(std::string const& address);
    // The slot built on the channel, or null, with a line, when it could not
    // take its own descriptor of the channel: the slot goes, and the channel
    // goes back to the driver with the factory's descriptor.
    template <class Built> Slot* Held(Built* slot);

    int mCounter = 0;
    std::list<Slot*> mRecorders;
    std::list<Slot*> mPlayers;
};

// "a.b.c.d:port", the text the connector takes and the logs show.
std::string dhost2str(TERM::HostAddress const& host);
