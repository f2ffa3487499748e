#include "slots/modem/auth_client.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "runtime/recursive_guard.hpp"

using Guard = ext::RecursiveGuard<AuthClient, &AuthClient::CheckDisconnect, &AuthClient::mRecursionLevel>;

AuthClient::AuthClient(Fd const& connection, INet4::Addr const& peer, AuthOwner& owner)
    : mConnection(connection), mPeer(peer), mBuffer(), mOwner(owner)
{
    if (!mConnection.is_valid() && connection.is_valid())
        mDupError = errno;
    mEvent.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

bool AuthClient::Activate()
{
    if (mConnection.is_valid()) {
        mEvent.Schedule(mConnection, POLLIN);
        if (mEvent.IsActive())
            return true;
        mDupError = errno;
        mConnection.close();
    }
    errno = mDupError ? mDupError : EBADF;
    return false;
}

void AuthClient::OnSocketEvent(int, short revents)
{
    Guard guard(this);
    // What the plugin wrote before its connection ended or failed (the last
    // accounting of a call that hangs up) is read before the end is taken.
    if (revents & (POLLIN | POLLERR | POLLHUP))
        read_records();
    if ((revents & (POLLERR | POLLHUP)) && mConnection.is_valid())
        OnDisconnect();
}

void AuthClient::ReadPending()
{
    Guard guard(this);
    read_records();
}

void AuthClient::read_records()
{
    while (mConnection.is_valid()) {
        const ssize_t n = ::read(mConnection.lowlevel_fd(), mBuffer.bytes + mReadPos, mReadEnd - mReadPos);
        if (n < 0 && errno == EAGAIN)
            return;
        if (n <= 0) {
            OnDisconnect();
            return;
        }
        mReadPos += std::uint32_t(n);
        if (mReadPos < mReadEnd)
            continue;
        std::uint32_t length;
        std::memcpy(&length, mBuffer.bytes, sizeof length);
        if (length > auth::kMaxRecord || length < auth::kMinRecord) {
            OnDisconnect();
            return;
        }
        if (mReadEnd < length) {
            mReadEnd = length;
            continue;
        }
        mReadPos = 0;
        mReadEnd = 4;
        // Behind a record shorter than the header lie the previous record's
        // words, or zeros: they are no session of this one.
        if (length >= auth::kHeader)
            mSession = mBuffer.record.session;
        mOwner.OnAuth(this, &mBuffer.record);
    }
}

bool AuthClient::Send(auth::attr const* record)
{
    Guard guard(this);
    if (!mConnection.is_valid())
        return false;
    const auto* at = reinterpret_cast<const std::uint8_t*>(record);
    std::uint32_t left = std::uint32_t(record->length);
    while (left > 0) {
        const ssize_t n = ::write(mConnection.lowlevel_fd(), at, left);
        if (n <= 0) {
            OnDisconnect();
            return false;
        }
        at += n;
        left -= std::uint32_t(n);
    }
    return true;
}

void AuthClient::OnDisconnect()
{
    mConnection.close();
    mEvent.Release();
}

void AuthClient::CheckDisconnect()
{
    if (!mConnection.is_valid())
        mOwner.OnAuthSocketDisconnect(this);
}
