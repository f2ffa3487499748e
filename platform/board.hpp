#pragma once
// The one seam between the daemon and the board's devices: every open of a
// board device and every board ioctl goes through the current Board. read,
// write, poll, dup and close stay plain system calls on the descriptors it
// hands out. The real board resolves fixed paths (QUELVAD_ROOT) and calls libc;
// a simulated board or a test installs itself with setBoard.
//
// A request's argument is a record pointer, a plain value or nothing, as the
// device contract (platform/devices.hpp) says; callers pass it as it is:
//   board().ioctl(fd, hal::kConnect, &connect);   board().ioctl(fd, e1cas::kOpen, trunk);
#include <cstdint>
#include <type_traits>

namespace platform
{

class Board
{
public:
    virtual ~Board() = default;
    // A close-on-exec descriptor for the device at the fixed path, or -1 with errno.
    virtual int open(const char* path, int flags) = 0;

    template <class Record> int ioctl(int fd, unsigned long request, Record* record)
    {
        return request_word(fd, request, reinterpret_cast<std::uintptr_t>(record));
    }
    template <class Value, std::enable_if_t<std::is_integral<Value>::value, int> = 0>
    int ioctl(int fd, unsigned long request, Value value)
    {
        return request_word(fd, request, static_cast<std::uintptr_t>(value));
    }
    int ioctl(int fd, unsigned long request) { return request_word(fd, request, 0); }

protected:
    // The request's argument word as the kernel receives it: the record's
    // address or the value itself. Request numbers are passed through exactly
    // as given; the result is the driver's, -1 with errno on failure.
    virtual int request_word(int fd, unsigned long request, std::uintptr_t arg) = 0;
};

class RealBoard : public Board
{
public:
    int open(const char* path, int flags) override;

protected:
    int request_word(int fd, unsigned long request, std::uintptr_t arg) override;
};

// The board in use: the real one unless another was installed.
Board& board();
// Installs a board (not owned); nullptr restores the real one.
void setBoard(Board* board);

} // namespace platform
