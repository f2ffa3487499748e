#pragma once
// Daemon mode: detach with daemon(3) and re-route std::cout, std::cerr and
// std::clog, either into syslog records on "/dev/log" or into hourly log files.
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

} // namespace Daemon
