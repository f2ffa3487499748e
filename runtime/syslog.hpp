#pragma once
// The daemon's own syslog client and the stream buffers that turn each line
// written to std::cout, std::cerr and std::clog into one syslog record. Our
// client batches the records of one flush into a single datagram (each record
// ended by its NUL), so a multi-line dump costs one system call.
#include <cstddef>
#include <streambuf>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

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
    enum { RecordSize = 1024, DataSize = 16384, MaxRecords = 256, FlushAbove = 12288 };

    SysLogManager();
    ~SysLogManager();
    SysLogManager(const SysLogManager&) = delete;
    SysLogManager& operator=(const SysLogManager&) = delete;

    void openlog(const char* ident, int options, int facility);
    void closelog();
    // The text is always taken literally, never as a format.
    void syslog(int priority, const char* text);
    // Sends the batch as one datagram, never waiting: a batch the reader
    // cannot take at once is dropped, a broken socket is reconnected once.
    void sendmsg();
    int fd() const { return mFd; }
    bool connected() const { return mConnected; }

private:
    bool Connect();
    void CloseSocket();
    // Full: the reader cannot take the batch now (it is dropped, the socket
    // kept); Failed: the socket is broken and worth a reconnect.
    enum class Sent { Done, Full, Failed };
    bool Queue(const char* record, std::size_t n);
    Sent SendBatch();
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
};

extern SysLogManager syslogManager;
