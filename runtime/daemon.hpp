#pragma once
// Daemon mode: detach with daemon(3) and re-route std::cout, std::cerr and
// std::clog, either into syslog records on "/dev/log" or into hourly log files.
#include <streambuf>
#include <string>

class LogFileStreamBuf;

namespace Daemon
{

struct Params {
    // 0 = syslog, 1 = log files; any other value detaches without re-routing.
    int mode = 0;
    bool nochdir = false;
    // The syslog identity, or the log files' directory.
    std::string name = "unknown";
};

// Lives from the first Init until process exit.
class Sentry
{
public:
    explicit Sentry(const Params& params);
    ~Sentry();
    Sentry(const Sentry&) = delete;
    Sentry& operator=(const Sentry&) = delete;

private:
    int mMode;
    LogFileStreamBuf* mLogFile = nullptr;
};

// Only the first call acts.
void Init(const Params& params);

// In the foreground, std::cout, std::cerr and std::clog write through the
// C library's standard files as before, but a write that fails (a full file
// system) loses only what it could not write: the streams never keep a failed
// state, so the next line is written once the file takes bytes again. Called
// first thing at start-up; Init replaces these buffers when it re-routes the
// streams. Only the first call acts.
void KeepStandardStreamsWriting();

// The buffer that does it: forwards every character to another buffer and
// takes every write as done, whatever the other made of it.
class LossyStreamBuf : public std::streambuf
{
public:
    explicit LossyStreamBuf(std::streambuf* inner) : mInner(inner) {}

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

private:
    std::streambuf* mInner;
};

} // namespace Daemon
