#pragma once
// Owning descriptor handle and errno capture. Every device and socket of the
// daemon lives in an Fd, so that a descriptor is closed exactly once and never
// leaks into the helper programs the slots start (every one is close-on-exec).
#include <ostream>

// Flag helpers on raw descriptors: true when both fcntl calls succeed.
bool NonBlockMode(int fd);
bool BlockMode(int fd);
bool SetCloexec(int fd, bool on);
// An errno that says the process or the system ran out of descriptors or
// memory (an accept or a dup that may succeed later): wait, don't spin.
bool ShortOfResources(int error);

class Fd
{
public:
    struct BoolResult {
    };

    constexpr Fd() = default;
    Fd(int fd);
    // A copy is a duplicate of its own; a temporary is taken over instead,
    // so that a descriptor just made (Fd(::socket(...))) costs one entry of
    // the table, not two for a moment.
    Fd(const Fd& other);
    Fd(Fd&& other) noexcept : mFd(other.mFd) { other.mFd = -1; }
    Fd& operator=(const Fd& other);
    Fd& operator=(Fd&& other) noexcept;
    ~Fd();

    // A fresh close-on-exec duplicate owned by the caller, or -1.
    int dup() const;
    // Closes what is held, then opens the path (no mode: nothing is created)
    // through the board in use (platform/board.hpp): the one way a device is
    // opened, so that the simulated board and QUELVAD_ROOT see every open.
    // The descriptor is close-on-exec; true when one is held.
    bool open(const char* path, int flags);
    int close();
    bool NonBlock();

    bool is_valid() const { return mFd >= 0; }
    operator BoolResult*() const;
    int lowlevel_fd() const { return mFd; }

private:
    int mFd = -1;
};

class Errno
{
public:
    Errno();
    explicit Errno(int value) : mValue(value) {}
    int value() const { return mValue; }
    void Put(std::ostream& os) const;

private:
    int mValue;
};

std::ostream& operator<<(std::ostream& os, const Errno& e);
