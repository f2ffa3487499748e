#pragma once
// The daemon's own syslog client and the stream buffers that turn each line
// written to std::cout, std::cerr and std::clog into one syslog record. Our
// client batches the records of one flush into a single datagram (each record
// ended by its NUL), so a multi-line dump costs one system call.
//
// The client never waits for its reader: what the socket cannot take at once
// waits, in order, in a bounded backlog that the loop sends on as soon as the
// socket has room again. The loop watches the socket only while a send can
// then make progress. A datagram socket sends to the reader it connected to,
// as raw writes to standard output and error do in daemon mode: a reader
// gone from "/dev/log", or replaced there, is connected to anew, found at the
// latest by the try that waiting records get every second.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <streambuf>
#include <string>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/un.h>

#include "runtime/event.hpp"
#include "runtime/timer.hpp"

// Writes each line of the put area as one record with the platform's syslog;
// the base of the managed buffer, which batches through syslogManager.
class SysLogStreamBuf : public std::streambuf
{
public:
    // facility as the platform gives it (already multiplied by 8: LOG_DAEMON).
    SysLogStreamBuf(int facility, int severity);
    ~SysLogStreamBuf() override;
    SysLogStreamBuf(const SysLogStreamBuf&) = delete;
    SysLogStreamBuf& operator=(const SysLogStreamBuf&) = delete;

    int priority() const { return mPriority; }

protected:
    std::streambuf* setbuf(char* buffer, std::streamsize n) override;
    int sync() override;
    int_type overflow(int_type c) override;

    // Splits the put area at line feeds; a full area without one goes out whole.
    int SplitLines(void (*send)(int priority, const char* line), void (*flush)());
    void InstallBuffer(std::size_t n);

private:
    int mPriority;
    char* mOwned = nullptr;
};

class ManagedSysLogStreamBuf : public SysLogStreamBuf
{
public:
    ManagedSysLogStreamBuf(int facility, int severity);

protected:
    int sync() override;
};

class SysLogManager
{
public:
    enum {
        RecordSize = 1024,
        DataSize = 16384,
        MaxRecords = 256,
        FlushAbove = 12288,
        // Bytes of records that may wait for the reader, and all the memory
        // they take; a record that finds the backlog full is dropped.
        BacklogSize = 256 * 1024,
        // What still waits when the process ends gets this long to leave.
        LingerMs = 1000,
        // While records wait, they are also tried again this often, whatever
        // the socket shows: a datagram reader put at the path while the one
        // the socket talks to takes nothing is so found without a later
        // record.
        RetryMs = 1000,
    };

    SysLogManager();
    ~SysLogManager();
    SysLogManager(const SysLogManager&) = delete;
    SysLogManager& operator=(const SysLogManager&) = delete;

    // Gives what waits its last second, then closes the socket; the client
    // can still be written to afterwards (it connects anew).
    void shutdown();
    void openlog(const char* ident, int options, int facility);
    // Closes the socket and forgets the batch and what waits.
    void closelog();
    // The text is always taken literally, never as a format.
    void syslog(int priority, const char* text);
    // Sends the batch as one datagram, never waiting. What the socket cannot
    // take at once joins the backlog; while records wait, a new batch goes
    // behind them. A broken socket is reconnected once and what waits and
    // the batch are sent again.
    void sendmsg();
    // Waits at most `ms` milliseconds for what waits to leave (the stop).
    void linger(int ms);
    // In a child just forked: what waits is the parent's to send, so the
    // child forgets it; on a stream the child's own lines take a connection
    // of their own. The child never waits for the socket nor lingers.
    // When descriptors 1 and 2 are the syslog (own_standard_streams()), the
    // child connects anew (connect_standard_streams()) and ignores SIGPIPE:
    // the program it runs never writes into a record of the parent's, and a
    // write to a reader that goes away later fails instead of ending the
    // program.
    void forked();
    // In a child whose descriptors 1 and 2 are the syslog: they, and the
    // child's own lines, take a new connection to the reader at "/dev/log"
    // as it is now (the null device when no reader takes it at once). A
    // child that waits before it runs its program calls it again right
    // before, so that the program writes to the reader of then.
    void connect_standard_streams();
    // Descriptors 1 and 2 are this client's socket from now on (daemon mode),
    // and follow every reconnect; a forked child gives them a connection of
    // its own.
    void own_standard_streams();
    int fd() const { return mFd; }
    bool connected() const { return mConnected; }
    // Bytes of records waiting for room on the socket.
    std::size_t waiting() const { return mWaiting; }
    // The client's line of the status dump, when it was ever opened: its
    // socket, what waits, whether the loop watches the socket for room, and
    // the datagram reader's file as noted at the connect and at the path now.
    void dump(std::ostream& os) const;

private:
    // Watches the socket for room while records wait; no status-dump row.
    class Watch : public EventHandler
    {
    public:
        explicit Watch(SysLogManager& owner) : mOwner(owner) {}
        ~Watch() override { mux_detach(); }
        void shedule_event(pollfd& entry) override;
        void svc_event(short revents) override;
        using EventHandler::svc_event;

    private:
        SysLogManager& mOwner;
    };

    void CloseSocket();
    void Append(const char* record, std::size_t n);
    bool BatchFull() const { return mCount >= MaxRecords || mDataLen > FlushAbove; }
    // Sends what waits and the batch, reconnecting once when the socket
    // failed, or when records wait for a datagram reader that another has
    // replaced at the path; false when that failed too (the socket closed,
    // what waited dropped). The batch is emptied either way.
    bool Flush();
    // Just connected: sets the blocking mode and makes the socket descriptors
    // 1 and 2 when they are the syslog.
    void Connected();
    // Another socket than the connected reader's is bound at the path now.
    bool PathReplaced() const;
    // One attempt: false when a send failed for another reason than a full
    // socket. What the socket did not take waits.
    bool Deliver();
    bool Drain();
    // Puts the batch's records behind what waits, but for the first `taken`
    // bytes the socket took.
    void Keep(std::size_t taken);
    // The backlog is a ring of BacklogSize bytes, allocated while records
    // wait. Each record ends with its NUL, the only one it holds, which
    // tells where it ends.
    bool Push(const char* record, std::size_t n);
    // The waiting bytes from `at` on, `n` of them, as at most two pieces.
    std::size_t Pieces(std::size_t at, std::size_t n, iovec* iov) const;
    // Where the record that starts `at` bytes after the first waiting byte
    // ends (just after its NUL).
    std::size_t RecordEnd(std::size_t at) const;
    // The first `bytes` waiting bytes left: the whole records among them are
    // gone, a record cut by them waits with what of it was sent.
    void Consume(std::size_t bytes);
    void DropBacklog();
    // Watches the socket for room, and tries again now and then, while
    // records wait; neither when none do.
    void UpdateWatch();
    void Retry();
    void ClearBatch();
    void Console(const char* text);

    int mType;
    int mFd = -1;
    bool mConnected = false;
    int mOptions = 0;
    std::string mIdent;
    int mFacility;
    int mMask = 0xff;
    sockaddr_un mAddr;
    char mRecord[RecordSize];
    char mData[DataSize];
    std::size_t mDataLen = 0;
    msghdr mHeader;
    iovec mIov[MaxRecords];
    int mCount = 0;
    // The backlog: waiting records, oldest first, mWaiting bytes from mHead
    // on in the ring; on a stream, what of the first one was already sent.
    std::unique_ptr<char[]> mRing;
    std::size_t mHead = 0;
    std::size_t mWaiting = 0;
    std::size_t mHeadSent = 0;
    // This process is a child forked from the daemon.
    bool mChild = false;
    // Descriptors 1 and 2 are the syslog.
    bool mStdio = false;
    // The file of the datagram reader the socket is connected to, as the
    // path showed it right before the connect.
    dev_t mPeerDev = 0;
    ino_t mPeerIno = 0;
    Watch mWatch{*this};
    Timer mRetry;
};

// The process's one client, usable until the very end of exit.
extern SysLogManager& syslogManager;
