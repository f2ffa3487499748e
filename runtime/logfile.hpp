#pragma once
// Hourly log files: all three standard streams write into one file per hour,
// "<dir>/%Y_%m_%d-%H.log", each line opened by the minutes, the seconds and
// the microseconds ("%02d:%02d:%05ld: "). A file is opened for writing and
// truncated, so a restart within the hour empties that hour's file.
#include <cstdio>
#include <streambuf>
#include <string>

class LogFileStreamBuf : public std::streambuf
{
public:
    explicit LogFileStreamBuf(const std::string& dir);
    // Writes what is still buffered, then closes the file.
    ~LogFileStreamBuf() override;
    LogFileStreamBuf(const LogFileStreamBuf&) = delete;
    LogFileStreamBuf& operator=(const LogFileStreamBuf&) = delete;

protected:
    std::streambuf* setbuf(char* buffer, std::streamsize n) override;
    int sync() override;
    int_type overflow(int_type c) override;

private:
    void OpenFile(const struct tm& local);
    void Write(const char* data, std::size_t n);

    std::FILE* mFile = nullptr;
    std::string mDir;
    int mHour = -1;
    bool mUnfinished = false;
    char* mBuffer;
    bool mOwned = true;
};
