#include "platform/board.hpp"

#include <fcntl.h>
#include <sys/ioctl.h>

#include "platform/paths.hpp"

namespace platform
{

namespace
{
// Neither is ever destroyed, so a static object of any file may reach the
// board from its constructor or its destructor.
Board* gBoard = nullptr;

Board& real_board()
{
    static RealBoard* real = new RealBoard;
    return *real;
}
} // namespace

int RealBoard::open(const char* path, int flags)
{
    // Device descriptors never leak into the helper programs the slots start.
    return ::open(Paths::resolve(path).c_str(), flags | O_CLOEXEC);
}

int RealBoard::request_word(int fd, unsigned long request, std::uintptr_t arg)
{
    return ::ioctl(fd, request, arg);
}

Board& board()
{
    return gBoard ? *gBoard : real_board();
}

void setBoard(Board* board)
{
    gBoard = board;
}

} // namespace platform
