#pragma once
// Layered protocol stacks. A Protocol is one layer; a ProtocolsList is an
// ordered stack whose head is the bottom (wire side) layer and whose tail is
// the top; a ProtocolsFamily is a stack that is itself one layer of an outer
// stack. Data goes down with message/transmit and up with receive/on_message;
// activation climbs from the bottom, an orderly deactivation descends from the
// top, and a failure climbs to the top. Every call is a direct nested call:
// a layer may be re-entered (a write failure inside message tears the stack
// down while the caller is still in it), so no layer may assume otherwise.
#include <ostream>
#include <string>

#include "control/protocol_status.hpp"
#include "runtime/lists.hpp"
#include "runtime/packet.hpp"

class Protocol_name
{
public:
    Protocol_name() = default;
    Protocol_name(const Protocol_name&) = default;
    Protocol_name& operator=(const Protocol_name&) = default;
    virtual ~Protocol_name() = default;

    virtual int kind() const = 0;
    virtual char const* name() const = 0;
    virtual bool compare(Protocol_name const& other) const = 0;

    bool compatible(Protocol_name const& other) const { return kind() == other.kind(); }
    void out(std::ostream& os) const { os << name(); }
};

std::ostream& operator<<(std::ostream& os, Protocol_name const& name);

class Protocol_name_null : public Protocol_name
{
public:
    int kind() const override { return 0; }
    char const* name() const override { return "(no name)"; }
    bool compare(Protocol_name const& other) const override { return compatible(other); }
};

class Protocol_name_str : public Protocol_name
{
public:
    explicit Protocol_name_str(char const* text) : mText(text ? text : "(no name)") {}
    int kind() const override { return 1; }
    char const* name() const override { return mText.c_str(); }
    bool compare(Protocol_name const& other) const override;

private:
    std::string mText;
};

class Protocol_info
{
public:
    Protocol_info() = default;
    Protocol_info(const Protocol_info&) = delete;
    Protocol_info& operator=(const Protocol_info&) = delete;
    virtual ~Protocol_info() = default;

    virtual bool compare_name(Protocol_name const&) const { return false; }
    virtual Protocol_name const& name() const { return mNullName; }

    void out(std::ostream& os) const { os << name(); }

private:
    Protocol_name_null mNullName;
};

std::ostream& operator<<(std::ostream& os, Protocol_info const& info);

class ProtocolsList;

class Protocol : public F_dual_list_item<Protocol>, public Protocol_info
{
public:
    Protocol() = default;
    ~Protocol() override;

    virtual void local_prepare_head(Packet& p);
    virtual void local_prepare_tail(Packet& p);
    virtual Protocol_status local_initialize();
    virtual void local_activate();
    virtual void local_deactivate();
    virtual void transmit(Packet& p);
    virtual void on_message(Packet& p);
    virtual void on_activate();
    virtual void on_deactivate(Protocol_status status);
    virtual void on_status(Protocol_status status);
    virtual void message(Packet& p);
    virtual void receive(Packet& p);
    virtual void activate();
    virtual void deactivate();
    virtual void protocol_info(std::ostream& os) const;

    void prepare_head(Packet& p);
    void prepare_tail(Packet& p);
    void descend_prepare_head(Packet& p);
    void descend_prepare_tail(Packet& p);
    Protocol_status initialize();

    ProtocolsList* get_owner() const { return owner; }
    // The neighbours inside the owning stack: below is towards the wire.
    Protocol* below() const { return get_prev(); }
    Protocol* above() const { return get_next(); }

protected:
    ProtocolsList* owner = nullptr;

private:
    friend class ProtocolsList;
};

class ProtocolsList : public Protocol, private F_dual_list<Protocol>
{
public:
    ProtocolsList() = default;
    // Deletes the members, top first.
    ~ProtocolsList() override;

    virtual void on_activated(Protocol* member);
    virtual void on_deactivated(Protocol* member, Protocol_status status);
    virtual Protocol* add_protocol_head(Protocol* p);
    virtual Protocol* add_protocol_tail(Protocol* p);

    Protocol* search(Protocol_name const& name);

    Protocol* bottom() const { return first(); }
    Protocol* top() const { return back(); }
    unsigned members() const { return count(); }

private:
    friend class Protocol;
    void take_off(Protocol* p);
};

class ProtocolsFamily : public ProtocolsList
{
public:
    void local_prepare_head(Packet& p) override;
    void local_prepare_tail(Packet& p) override;
    Protocol_status local_initialize() override;
    void local_activate() override;
    void local_deactivate() override;
    void message(Packet& p) override;
    void receive(Packet& p) override;
    void on_activated(Protocol* member) override;
    void on_deactivated(Protocol* member, Protocol_status status) override;
};
