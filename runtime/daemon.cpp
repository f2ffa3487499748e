#include "runtime/daemon.hpp"

#include "runtime/logfile.hpp"
#include "runtime/syslog.hpp"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <syslog.h>
#include <unistd.h>

namespace Daemon
{

Sentry::Sentry(const Params& params) : mMode(params.mode)
{
    if (::daemon(params.nochdir ? 1 : 0, 0) != 0) {
        std::cerr << "daemon() fail!" << std::endl;
        std::exit(2);
    }
    if (mMode == 0) {
        char ident[80];
        std::strncpy(ident, params.name.c_str(), sizeof(ident) - 1);
        ident[sizeof(ident) - 1] = '\0';
        syslogManager.openlog(ident, LOG_NDELAY, 0);
        // Installed for good: the streams may be written until the very end.
        std::cout.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_NOTICE));
        std::cerr.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_ERR));
        std::clog.rdbuf(new ManagedSysLogStreamBuf(LOG_DAEMON, LOG_DEBUG));
        std::cin.tie(&std::cout);
        // Raw writes to standard output or error reach "/dev/log" too.
        const int fd = syslogManager.fd();
        if (fd > 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
    } else if (mMode == 1) {
        mLogFile = new LogFileStreamBuf(params.name);
        std::cout.rdbuf(mLogFile);
        std::cerr.rdbuf(mLogFile);
        std::clog.rdbuf(mLogFile);
    }
}

Sentry::~Sentry()
{
    if (mMode != 1)
        return;
    std::cout.rdbuf(nullptr);
    std::cerr.rdbuf(nullptr);
    std::clog.rdbuf(nullptr);
    delete mLogFile;
}

void Init(const Params& params)
{
    static Sentry sentry(params);
}

} // namespace Daemon
