#pragma once
// The errno piece that ends the tone, DSP and RTP services' failure lines:
// ` errno="<the system's text>"`, with errno read where the piece is made.
#include <cerrno>
#include <cstring>
#include <ostream>

namespace Hardware
{

class ErrnoPiece
{
public:
    ErrnoPiece() : mErrno(errno) {}
    int value() const { return mErrno; }

private:
    int mErrno;
};

inline std::ostream& operator<<(std::ostream& os, ErrnoPiece const& e)
{
    return os << " errno=\"" << std::strerror(e.value()) << "\"";
}

} // namespace Hardware
