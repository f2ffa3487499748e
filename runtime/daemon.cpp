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
        syslogManager.own_standard_streams();
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

LossyStreamBuf::int_type LossyStreamBuf::overflow(int_type c)
{
    if (!traits_type::eq_int_type(c, traits_type::eof()))
        mInner->sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
}

std::streamsize LossyStreamBuf::xsputn(const char* s, std::streamsize n)
{
    mInner->sputn(s, n);
    return n;
}

int LossyStreamBuf::sync()
{
    mInner->pubsync();
    return 0;
}

void KeepStandardStreamsWriting()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    // Never deleted: the streams are written until the very end of exit.
    // Kept here too, so that they are still held once daemon mode has given
    // the streams other buffers.
    static LossyStreamBuf* kept[3];
    int i = 0;
    for (std::ostream* os : {&std::cout, &std::cerr, &std::clog}) {
        kept[i] = new LossyStreamBuf(os->rdbuf());
        os->rdbuf(kept[i++]);
    }
}

} // namespace Daemon
