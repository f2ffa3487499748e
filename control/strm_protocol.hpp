#pragma once
// The bottom layer of every stream link: one connected, non-blocking stream
// socket. Whatever the socket delivers goes up as it came (framing is the
// business of the layer above); every packet handed down is written before
// message() returns, with a budget of 1000 ms per packet, because the daemon
// has one thread and no queue. Every failure closes the socket first and is
// then reported upward once, as a deactivation carrying an error status.
#include <cstdint>
#include <ostream>
#include <string>

#include "control/protocol.hpp"
#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/measure.hpp"

class StrmProtocol : public Protocol
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

    void PutHeader(std::ostream& os) const;

private:
    enum class WriteEnd { done, timeout, error };

    void do_read();
    void on_error(std::string const& text);
    std::string pending_error_text() const;
    WriteEnd write_all(const unsigned char* data, unsigned length, int& error);
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
};
