#include "platform/sim/device_model.hpp"

#include <cstdio>
#include <cstdlib>

namespace platform
{
namespace sim
{

namespace
{
struct ErrnoName {
    int value;
    const char* name;
};
// The errors a driver answers with, and those a test may want to inject.
const ErrnoName kErrnos[] = {
    {EPERM, "EPERM"},   {ENOENT, "ENOENT"}, {EINTR, "EINTR"},         {EIO, "EIO"},       {ENXIO, "ENXIO"},
    {EBADF, "EBADF"},   {EAGAIN, "EAGAIN"}, {ENOMEM, "ENOMEM"},       {EACCES, "EACCES"}, {EFAULT, "EFAULT"},
    {EBUSY, "EBUSY"},   {ENODEV, "ENODEV"}, {EINVAL, "EINVAL"},       {ENOSPC, "ENOSPC"}, {ENOTTY, "ENOTTY"},
    {ERANGE, "ERANGE"}, {ENOSYS, "ENOSYS"}, {ETIMEDOUT, "ETIMEDOUT"},
};
} // namespace

std::string DeviceModel::execute(std::istringstream&)
{
    return "error no commands for " + mPath + "\n";
}

std::string DeviceModel::decode(unsigned long, std::uintptr_t) const
{
    return std::string();
}

Reply DeviceModel::ioctl(Channel, unsigned long, std::uintptr_t)
{
    return failure(ENOTTY);
}

std::string errnoName(int error)
{
    for (const ErrnoName& e : kErrnos) {
        if (e.value == error)
            return e.name;
    }
    return std::to_string(error);
}

bool parseErrno(const std::string& text, int& error)
{
    for (const ErrnoName& e : kErrnos) {
        if (text == e.name) {
            error = e.value;
            return true;
        }
    }
    long n;
    if (!parseNumber(text, n) || n <= 0 || n > 4095)
        return false;
    error = int(n);
    return true;
}

bool parseNumber(const std::string& text, long& value)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0')
        return false;
    value = n;
    return true;
}

std::string hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

} // namespace sim
} // namespace platform
