#include "runtime/mux_set.hpp"

#include <algorithm>

namespace Mux
{

namespace
{

int wait(int highest, Set* rd, Set* wr, Set* ex, timeval* timeout)
{
    return ::select(highest + 1, rd ? rd->get() : nullptr, wr ? wr->get() : nullptr, ex ? ex->get() : nullptr,
                    timeout);
}

} // namespace

void Set::clear()
{
    FD_ZERO(&mSet);
    mMax = -1;
}

bool Set::add(int fd)
{
    if (fd < 0 || fd >= FD_SETSIZE)
        return false;
    FD_SET(fd, &mSet);
    mMax = std::max(mMax, fd);
    return true;
}

bool Set::is_set(int fd) const
{
    return fd >= 0 && fd <= mMax && FD_ISSET(fd, &mSet);
}

fd_set* Set::get()
{
    return mMax < 0 ? nullptr : &mSet;
}

int Set::max_fd(const Set& a, const Set& b)
{
    return std::max(a.mMax, b.mMax);
}

int Set::max_fd(const Set& a, const Set& b, const Set& c)
{
    return std::max(max_fd(a, b), c.mMax);
}

int Set::select(Set& rd)
{
    return wait(rd.mMax, &rd, nullptr, nullptr, nullptr);
}

int Set::select(Set& rd, timeval& timeout)
{
    return wait(rd.mMax, &rd, nullptr, nullptr, &timeout);
}

int Set::select(Set& rd, Set& wr)
{
    return wait(max_fd(rd, wr), &rd, &wr, nullptr, nullptr);
}

int Set::select(Set& rd, Set& wr, timeval& timeout)
{
    return wait(max_fd(rd, wr), &rd, &wr, nullptr, &timeout);
}

int Set::select(Set& rd, Set& wr, Set& ex)
{
    return wait(max_fd(rd, wr, ex), &rd, &wr, &ex, nullptr);
}

int Set::select(Set& rd, Set& wr, Set& ex, timeval& timeout)
{
    return wait(max_fd(rd, wr, ex), &rd, &wr, &ex, &timeout);
}

int Set::select_rd(Set& rd, timeval& timeout)
{
    return select(rd, timeout);
}

int Set::select_wr(Set& wr, timeval& timeout)
{
    return wait(wr.mMax, nullptr, &wr, nullptr, &timeout);
}

} // namespace Mux
