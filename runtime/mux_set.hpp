#pragma once
// A descriptor set for select(): the fd_set and the highest descriptor in it
// (negative while the set is empty). Part of the time toolkit; the loop
// itself waits with poll().
#include <sys/select.h>

#include "runtime/clock.hpp"

namespace Mux
{

class Set
{
public:
    Set() { clear(); }

    // Empties the set.
    void clear();
    // Adds a descriptor; false (and nothing added) when select() could not
    // hold it: negative, or not below FD_SETSIZE.
    bool add(int fd);
    bool is_set(int fd) const;
    int highest() const { return mMax; }

    // The fd_set to hand to select(), or null when the set is empty.
    fd_set* get();

    // The highest descriptor of the sets (negative when all are empty).
    static int max_fd(const Set& a, const Set& b);
    static int max_fd(const Set& a, const Set& b, const Set& c);

    // select() over a read set; a read and a write set; or a read, a write
    // and an exception set, each called with the highest descriptor plus
    // one. Without a timeout it waits until a descriptor is ready; with one
    // the kernel may leave the time not waited in it. Returns what select()
    // returns; on return each set holds only its ready descriptors.
    static int select(Set& rd);
    static int select(Set& rd, timeval& timeout);
    static int select(Set& rd, Set& wr);
    static int select(Set& rd, Set& wr, timeval& timeout);
    static int select(Set& rd, Set& wr, Set& ex);
    static int select(Set& rd, Set& wr, Set& ex, timeval& timeout);
    // select() over a read set alone or a write set alone, with a timeout.
    static int select_rd(Set& rd, timeval& timeout);
    static int select_wr(Set& wr, timeval& timeout);

private:
    fd_set mSet;
    int mMax;
};

} // namespace Mux
