#pragma once
// Text that a controller or a peer sent (a name, an address given as text, an
// argument, a socket path a client chose), written into a log line. Such text
// may hold any byte: a line feed in it would end the line and start one of its
// own that looks like the daemon's, and other control bytes steer terminals
// that show the log. Written through `ext::escaped`, it stays on its line and
// can be read back byte for byte:
//   - printable ASCII (0x20 to 0x7E) as it is, except the backslash, "\\";
//   - line feed "\n", carriage return "\r", tab "\t";
//   - every other byte, the other control bytes, DEL and the bytes from 0x80
//     on, "\x" and two upper-case hex digits ("\x00", "\x1B", "\xC3").
// Bytes from 0x80 on are escaped too: the controller's texts are 7-bit
// (IA5String), so nothing legitimate changes, and a log in plain ASCII holds
// no C1 control (0x85 ends a line for some readers, 0x9B starts a terminal
// sequence) and no broken UTF-8 a log reader would trip on.
#include <ostream>
#include <string>
#include <string_view>

namespace ext
{

struct OutEscaped {
    std::string_view text;
};

// The wrapper keeps a view: write it in the statement that made it.
OutEscaped escaped(std::string_view text);
std::ostream& operator<<(std::ostream& os, const OutEscaped& out);

// The escaped text itself.
std::string escaped_text(std::string_view text);

} // namespace ext
