#pragma once
// Results that travel between the layers of a protocol stack and from a stack
// to its owner. One status object is shared by reference counting, so the same
// object can climb through every layer and reach the owner unchanged; the last
// handle deletes it.
#include <cstdint>
#include <ostream>
#include <string>

#include "runtime/smart_pointer.hpp"

class Protocol_info;

class Internal_protocol_status
{
public:
    explicit Internal_protocol_status(Protocol_info const* reporter) : reporter(reporter) {}
    Internal_protocol_status(const Internal_protocol_status&) = delete;
    Internal_protocol_status& operator=(const Internal_protocol_status&) = delete;
    virtual ~Internal_protocol_status() = default;

    virtual bool success() const = 0;
    virtual std::string message() const = 0;
    virtual void out(std::ostream& os) const = 0;

    // The layer that made the status; kept for receivers that want it.
    Protocol_info const* reporter;
    // Counted by Smart_pointer; 0 when made.
    std::uint32_t ref_count = 0;
};

using Protocol_status = Smart_pointer<Internal_protocol_status>;

class Protocol_status_success : public Internal_protocol_status
{
public:
    Protocol_status_success(Protocol_info const* reporter, std::string const& text)
        : Internal_protocol_status(reporter), text(text)
    {
    }
    bool success() const override { return true; }
    std::string message() const override { return text; }
    void out(std::ostream& os) const override { os << text; }

    std::string text;
};

class Protocol_status_error : public Internal_protocol_status
{
public:
    Protocol_status_error(Protocol_info const* reporter, std::string const& text)
        : Internal_protocol_status(reporter), text(text)
    {
    }
    bool success() const override { return false; }
    std::string message() const override { return text; }
    void out(std::ostream& os) const override { os << text; }

    std::string text;
};

class Protocol_initialize_error : public Protocol_status_error
{
public:
    explicit Protocol_initialize_error(Protocol_info const* reporter)
        : Protocol_status_error(reporter, "error")
    {
    }
};

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& status);
