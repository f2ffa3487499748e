// Feeds arbitrary bytes to the TPKT reader in chunks whose sizes come from the
// input itself. Whatever arrives, every payload handed up fits a frame, never
// more bytes come out than went in, and the reader is idle exactly when no
// reassembly time-out is pending.
#include "control/tpkt.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

namespace
{

class Sink : public ProtocolsList
{
public:
    Sink() { tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol)); }
    void on_message(Packet& p) override
    {
        if (p.length() > Tpkt_protocol::max_payload)
            std::abort();
        delivered += p.length();
    }
    Tpkt_protocol* tpkt;
    std::size_t delivered = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::ostringstream quiet;
    std::streambuf* old = std::clog.rdbuf(quiet.rdbuf());
    {
        Sink sink;
        // The first byte sets the chunk size: 1 to 256 bytes per read.
        const std::size_t chunk = std::size_t(data[0]) + 1;
        for (std::size_t at = 1; at < size; at += chunk) {
            const std::size_t n = size - at < chunk ? size - at : chunk;
            Packet p;
            if (!p.reserve_head(0))
                std::abort();
            std::memcpy(p.put(static_cast<unsigned>(n)), data + at, n);
            sink.tpkt->receive(p);
            if ((sink.tpkt->state() == Tpkt_protocol::idle) == sink.tpkt->timer_running())
                std::abort();
        }
        if (sink.delivered > size)
            std::abort();
    }
    std::clog.rdbuf(old);
    return 0;
}
