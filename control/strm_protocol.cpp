#include "control/strm_protocol.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "runtime/clock.hpp"
#include "runtime/multiplexer.hpp"
#include "runtime/trace.hpp"

namespace
{

// The write budget is measured on a fresh reading of the monotonic clock: the
// loop's own reading is cached for the whole turn, and a budget read from it
// would never run down while a slow reader keeps the socket trickling.
std::uint32_t fresh_ms()
{
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::uint32_t(std::uint64_t(ts.tv_sec) * 1000u + std::uint64_t(ts.tv_nsec) / 1000000u);
}

int sockopt_int(int fd, int option)
{
    int value = 0;
    socklen_t len = sizeof value;
    if (::getsockopt(fd, SOL_SOCKET, option, &value, &len) != 0)
        return -1;
    return value;
}

int ioctl_int(int fd, unsigned long request)
{
    int value = 0;
    if (::ioctl(fd, request, &value) != 0)
        return -1;
    return value;
}

} // namespace

StrmProtocol::StrmProtocol()
{
    mInput.Bind<StrmProtocol>("StrmProtocol::on_event", &StrmProtocol::on_event, this);
}

StrmProtocol::StrmProtocol(const Fd& fd) : StrmProtocol()
{
    attach(fd);
}

StrmProtocol::~StrmProtocol()
{
    release();
    drop_gathered();
}

void StrmProtocol::attach(const Fd& fd)
{
    release();
    mSocket = fd;
    mFreeSpaceFlag = mSocket.is_valid() && ioctl_int(mSocket.lowlevel_fd(), TIOCOUTQ) > 0;
}

void StrmProtocol::release()
{
    drop_gathered();
    stop_waiting();
    mStarved = false;
    if (!mSocket.is_valid())
        return;
    mInput.Release();
    mSocket.close();
}

void StrmProtocol::write_gathered_quietly()
{
    if (!mSocket.is_valid() || mGathered.empty())
        return;
    Packet gathered = mGathered;
    drop_gathered();
    write_now(gathered.data(), gathered.length(), true);
}

void StrmProtocol::drop_gathered()
{
    withdraw_write();
    mGathered.clear();
}

int StrmProtocol::sendbuf_space() const
{
    return sockopt_int(mSocket.lowlevel_fd(), SO_SNDBUF);
}

int StrmProtocol::recvbuf_space() const
{
    return sockopt_int(mSocket.lowlevel_fd(), SO_RCVBUF);
}

int StrmProtocol::inq_space() const
{
    return ioctl_int(mSocket.lowlevel_fd(), FIONREAD);
}

int StrmProtocol::outq_space() const
{
    return ioctl_int(mSocket.lowlevel_fd(), TIOCOUTQ);
}

int StrmProtocol::free_space() const
{
    const int outq = outq_space();
    return mFreeSpaceFlag ? outq : sendbuf_space() - outq;
}

std::ostream& StrmProtocol::PutHeader(std::ostream& os) const
{
    os << "SockStream[" << mServiceName << "]: ";
    return os;
}

void StrmProtocol::local_prepare_head(Packet& p)
{
    p.reserve_head(0);
}

void StrmProtocol::local_prepare_tail(Packet& p)
{
    p.reserve_tail(0);
}

void StrmProtocol::local_activate()
{
    if (!mSocket.is_valid()) {
        on_deactivate(Protocol_status(new Protocol_status_error(this, "fd not attached")));
        return;
    }
    // The watch polls a duplicate of the socket, which a full descriptor
    // table refuses: a socket nobody polls would never be read nor seen
    // closing, so the connection ends as on a failed read.
    mInput.Schedule(mSocket, POLLIN);
    if (!mInput.IsActive()) {
        on_error(std::string("read error: ") + std::strerror(errno));
        return;
    }
    on_activate();
}

void StrmProtocol::local_deactivate()
{
    // An orderly end: what was already answered still reaches the peer.
    write_gathered_quietly();
    release();
    on_deactivate(Protocol_status(new Protocol_status_success(this, "success")));
}

void StrmProtocol::on_event(int, short revents)
{
    // errno is stale here: the socket's pending error, if any, says what
    // went wrong.
    if (revents & POLLERR) {
        on_error(std::string("pollerr: ") + pending_error_text());
    } else if (revents & POLLHUP) {
        // A local peer that wrote and closed at once raises input and hang-up
        // together: what it wrote goes up first, one receive per event as
        // ever, and the hang-up is reported once nothing is left.
        int error = 0;
        const Received r = (revents & POLLIN) ? receive_once(error) : Received::nothing;
        if (r == Received::data || r == Received::starved)
            return;
        // A failed receive took the socket's pending error with it.
        on_error(std::string("pollhup: ") +
                 (r == Received::failed ? std::strerror(error) : pending_error_text()));
    } else if (revents & POLLIN) {
        do_read();
    }
}

std::string StrmProtocol::pending_error_text() const
{
    const int error = sockopt_int(mSocket.lowlevel_fd(), SO_ERROR);
    return error > 0 ? std::strerror(error) : "end of stream";
}

StrmProtocol::Received StrmProtocol::receive_once(int& error)
{
    // The buffer of the last read is used again when nobody kept it: a fresh
    // pool block per read would make every block of the pool resident in turn.
    Packet p = mReadBuffer;
    mReadBuffer.clear();
    if (!p.renew(0)) {
        // The bytes stay in the socket, and the loop leaves it alone until a
        // buffer is back: polling it meanwhile would spin. Asking for nothing
        // would not do: poll() reports a hang-up whatever it is asked, and
        // the hang-up has to wait for the bytes the peer sent before it.
        if (!mStarved)
            std::cerr << ext::header(this) << "no packet buffer for reading" << std::endl;
        mStarved = true;
        mInput.mux_detach();
        wait_for_buffer();
        return Received::starved;
    }
    mStarved = false;
    mReadMeasure.begin();
    const ssize_t r = ::recv(mSocket.lowlevel_fd(), p.data(), p.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
    error = errno;
    mReadMeasure.end();
    if (r > 0) {
        p.put(static_cast<unsigned>(r));
        on_message(p);
        if (mReadBuffer.null())
            mReadBuffer = p;
        return Received::data;
    }
    if (r == 0)
        return Received::end;
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR ? Received::nothing : Received::failed;
}

bool StrmProtocol::do_read()
{
    int error = 0;
    switch (receive_once(error)) {
    case Received::data:
        return true;
    case Received::nothing:
    case Received::starved:
        break;
    case Received::end:
        // recv() sets no error number at the end of the stream.
        on_error("read error: end of stream");
        break;
    case Received::failed:
        on_error(std::string("read error: ") + std::strerror(error));
        break;
    }
    return false;
}

void StrmProtocol::read_pending()
{
    while (mSocket.is_valid() && mInput.IsActive() && do_read()) {
    }
}

void StrmProtocol::buffer_free()
{
    // What waits in the socket, and its end, wake the loop again.
    if (mInput.IsActive())
        mInput.mux_attach();
}

void StrmProtocol::on_error(std::string const& text)
{
    // Answers gathered in this turn before the end was seen still go out when
    // the socket takes them (a peer that only half-closed reads them).
    write_gathered_quietly();
    release();
    on_deactivate(Protocol_status(new Protocol_status_error(this, text)));
}

StrmProtocol::WriteEnd StrmProtocol::write_all(const unsigned char* data, unsigned length, int& error)
{
    const std::uint32_t start = fresh_ms();
    const int fd = mSocket.lowlevel_fd();
    unsigned done = 0;
    while (done < length) {
        const ssize_t w = ::send(fd, data + done, length - done, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (w > 0) {
            done += static_cast<unsigned>(w);
            continue;
        }
        // Nothing taken is waited for like a full buffer, so that even a
        // socket that keeps taking nothing cannot hold the loop past the budget.
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            error = errno;
            return WriteEnd::error;
        }
        const int left = write_budget_ms - static_cast<std::int32_t>(fresh_ms() - start);
        if (left <= 0)
            return WriteEnd::timeout;
        multiplexer.resetWD();
        pollfd entry{fd, POLLOUT, 0};
        const int r = Mux::poll_wait(&entry, 1, left);
        const int poll_error = errno;
        multiplexer.resetWD();
        if (r == 1)
            continue;
        if (r < 0 && poll_error == EINTR)
            continue;
        return WriteEnd::timeout;
    }
    return WriteEnd::done;
}

void StrmProtocol::log_figures(std::ostream& os) const
{
    os << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space() << ", free=" << free_space()
       << ", inq=" << inq_space() << ", outq=" << outq_space();
}

void StrmProtocol::message(Packet& p)
{
    if (p.null() || p.empty())
        return;
    // A detached layer has nowhere to write; the link has already reported
    // the loss of its connection.
    if (!mSocket.is_valid())
        return;
    if (!multiplexer.running()) {
        write_now(p.data(), p.length());
        return;
    }
    if (!mGathered.null() && mGathered.length() + p.length() > packet_max_size) {
        write_gathered();
        if (!mSocket.is_valid())
            return;
    }
    if (mGathered.empty() && !mGathered.renew(0)) {
        // No buffer to gather in: this packet goes out on its own, now.
        write_now(p.data(), p.length());
        return;
    }
    std::memcpy(mGathered.put(p.length()), p.data(), p.length());
    write_at_turn_end();
}

void StrmProtocol::write_gathered()
{
    withdraw_write();
    if (mGathered.empty() || !mSocket.is_valid())
        return;
    // The buffer stays for the next turn; its bytes are gone either way.
    const unsigned length = mGathered.length();
    mGathered.trim(length);
    write_now(mGathered.data(), length);
}

bool StrmProtocol::write_now(const unsigned char* data, unsigned length, bool quietly)
{
    mWriteMeasure.begin();
    int error = 0;
    const WriteEnd end = write_all(data, length, error);
    mWriteMeasure.end();
    if (end == WriteEnd::done)
        return true;
    if (end == WriteEnd::timeout) {
        std::cerr << ext::header(this) << "write timeout";
        log_figures(std::cerr);
        std::cerr << std::endl;
        ++mOverflow;
        if (!quietly)
            on_error("write timeout");
        return false;
    }
    std::cerr << ext::header(this) << "write error";
    log_figures(std::cerr);
    std::cerr << ", error=" << std::strerror(error) << std::endl;
    ++mOverflow;
    if (!quietly)
        on_error(std::string("write error: ") + std::strerror(error));
    return false;
}
