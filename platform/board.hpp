#pragma once
// The one seam between the daemon and the board's devices: every open of a
// board device and every board ioctl goes through the current Board. read,
// write, poll, dup and close stay plain system calls on the descriptors it
// hands out. The real board resolves fixed paths (QUELVAD_ROOT) and calls libc;
// a simulated board or a test installs itself with setBoard.

namespace platform
{

class Board
{
public:
    virtual ~Board() = default;
    // A close-on-exec descriptor for the device at the fixed path, or -1 with errno.
    virtual int open(const char* path, int flags) = 0;
    // Request numbers are passed through exactly as given.
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
};

class RealBoard : public Board
{
public:
    int open(const char* path, int flags) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
};

// The board in use: the real one unless another was installed.
Board& board();
// Installs a board (not owned); nullptr restores the real one.
void setBoard(Board* board);

} // namespace platform
