#include "runtime/logfile.hpp"

#include "runtime/clock.hpp"

#include <cstring>
#include <ctime>

namespace
{

struct Now {
    std::tm local;
    long usec;
};

Now ReadNow()
{
    Mux::timeval tv;
    Mux::mux_gettimeofday(tv);
    Now now;
    const std::time_t sec = tv.tv_sec;
    localtime_r(&sec, &now.local);
    now.usec = static_cast<long>(tv.tv_usec);
    return now;
}

} // namespace

LogFileStreamBuf::LogFileStreamBuf(const std::string& dir) : mDir(dir), mBuffer(new char[16])
{
    setp(mBuffer, mBuffer + 16);
    const Now now = ReadNow();
    mHour = now.local.tm_hour;
    OpenFile(now.local);
}

LogFileStreamBuf::~LogFileStreamBuf()
{
    // The last line of a stopping daemon is often its most useful one.
    sync();
    if (mFile)
        std::fclose(mFile);
    if (mOwned)
        delete[] mBuffer;
}

void LogFileStreamBuf::OpenFile(const std::tm& local)
{
    if (mFile)
        std::fclose(mFile);
    char name[64];
    std::strftime(name, sizeof(name), "%Y_%m_%d-%H", &local);
    const std::string path = mDir + "/" + name + ".log";
    mFile = std::fopen(path.c_str(), "we");
}

void LogFileStreamBuf::Write(const char* data, std::size_t n)
{
    if (mFile && n > 0)
        std::fwrite(data, 1, n, mFile);
}

std::streambuf* LogFileStreamBuf::setbuf(char* buffer, std::streamsize n)
{
    if (n < 2)
        return nullptr;
    sync();
    if (mOwned)
        delete[] mBuffer;
    mOwned = buffer == nullptr;
    mBuffer = buffer ? buffer : new char[static_cast<std::size_t>(n)];
    setp(mBuffer, mBuffer + n);
    return this;
}

int LogFileStreamBuf::sync()
{
    const char* p = pbase();
    const char* end = pptr();
    if (p == end)
        return 0;
    if (mUnfinished) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!lf) {
            Write(p, static_cast<std::size_t>(end - p));
            setp(pbase(), epptr());
            if (mFile)
                std::fflush(mFile);
            return 0;
        }
        Write(p, static_cast<std::size_t>(lf + 1 - p));
        p = lf + 1;
        mUnfinished = false;
    }
    const Now now = ReadNow();
    if (now.local.tm_hour != mHour) {
        mHour = now.local.tm_hour;
        OpenFile(now.local);
    }
    char prefix[32];
    const int len = std::snprintf(prefix, sizeof(prefix), "%02d:%02d:%05ld: ", now.local.tm_min,
                                  now.local.tm_sec, now.usec);
    while (p != end) {
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        const char* stop = lf ? lf + 1 : end;
        Write(prefix, static_cast<std::size_t>(len));
        Write(p, static_cast<std::size_t>(stop - p));
        if (!lf)
            mUnfinished = true;
        p = stop;
    }
    setp(pbase(), epptr());
    if (mFile)
        std::fflush(mFile);
    return 0;
}

LogFileStreamBuf::int_type LogFileStreamBuf::overflow(int_type c)
{
    sync();
    if (traits_type::eq_int_type(c, traits_type::eof()))
        return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
}
