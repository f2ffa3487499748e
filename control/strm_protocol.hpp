#pragma once
// The bottom layer of every stream link: one connected, non-blocking stream
// socket. Whatever the socket delivers goes up as it came (framing is the
// business of the layer above). What is handed down while the loop runs is
// gathered and written with one system call when the loop turn's dispatch
// ends, before the loop waits again (earlier when 64 KiB are gathered), so
// that the answers to a burst of commands leave in one send; outside the loop
// a packet is written before message() returns. Every write has a budget of
// 1000 ms, because the daemon has one thread and no queue. Every failure
// closes the socket first and is then reported upward once, as a deactivation
// carrying an error status; what a peer wrote before it hung up is read and
// passed up before its hang-up is reported (an error on the socket is
// reported at once). Bytes are never dropped: when the packet pool has
// no buffer to read into, they stay in the socket and reading waits, the
// socket left out of the loop's poll, until a buffer is back in the pool; a
// hang-up waits with them, so the peer's last bytes still go up before it.
#include <cstdint>
#include <ostream>
#include <string>

#include "control/protocol.hpp"
#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/measure.hpp"
#include "runtime/multiplexer.hpp"

class StrmProtocol : public Protocol, private GatheredOutput, private PacketWaiter
{
public:
    static constexpr int write_budget_ms = 1000;

    StrmProtocol();
    explicit StrmProtocol(const Fd& fd);
    ~StrmProtocol() override;

    Protocol_name const& name() const override { return mName; }
    bool compare_name(Protocol_name const& other) const override { return mName.compare(other); }

    void attach(const Fd& fd);
    void release();
    bool opened() const { return mSocket.is_valid(); }

    int sendbuf_space() const;
    int recvbuf_space() const;
    int free_space() const;
    int inq_space() const;
    int outq_space() const;

    std::string const& service_name() const { return mServiceName; }
    void service_name(std::string const& name) { mServiceName = name; }

    Measure const& get_read_measure() const { return mReadMeasure; }
    Measure const& get_write_measure() const { return mWriteMeasure; }
    std::uint32_t GetOverflowCounter() const { return mOverflow; }

    void message(Packet& p) override;
    void local_activate() override;
    void local_deactivate() override;
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;

    void on_event(int fd, short revents);
    // Reads and passes up everything the socket holds now, until it would
    // block, the connection ends or no buffer is left to read into.
    void read_pending();
    // True while reading waits for a buffer: the last receive found the
    // packet pool empty, and what the peer sent is still in the socket.
    bool reading_waits() const { return mStarved; }

    std::ostream& PutHeader(std::ostream& os) const;

private:
    enum class WriteEnd { done, timeout, error };
    // What one receive met: bytes (passed up), nothing to read now, no
    // buffer to read into (reading waits for one), the end of the stream, or
    // a failure (its error number given back).
    enum class Received { data, nothing, starved, end, failed };

    Received receive_once(int& error);
    // One receive; an end or a failure is reported. False when the socket
    // would block (nothing more to read) or failed.
    bool do_read();
    void on_error(std::string const& text);
    std::string pending_error_text() const;
    WriteEnd write_all(const unsigned char* data, unsigned length, int& error);
    // Writes data now; false when the write failed (the failure is reported,
    // quietly: logged and counted only).
    bool write_now(const unsigned char* data, unsigned length, bool quietly = false);
    void write_gathered() override;
    void buffer_free() override;
    // On the way out of a connection: a failure is logged, not reported.
    void write_gathered_quietly();
    void drop_gathered();
    void log_figures(std::ostream& os) const;

    std::string mLabel = "StrmProtocol";
    Protocol_name_str mName{"StrmProtocol"};
    Fd mSocket;
    bool mFreeSpaceFlag = false;
    std::string mServiceName;
    Event mInput;
    Measure mReadMeasure;
    Measure mWriteMeasure;
    std::uint32_t mOverflow = 0;
    bool mStarved = false; // the shortage of buffers is logged once, when it starts
    Packet mReadBuffer;    // kept from one read to the next while nobody else holds it
    Packet mGathered;      // bytes handed down in this turn, not yet written
};
