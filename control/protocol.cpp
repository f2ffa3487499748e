#include "control/protocol.hpp"

#include <cstring>

std::ostream& operator<<(std::ostream& os, Internal_protocol_status const& status)
{
    status.out(os);
    return os;
}

std::ostream& operator<<(std::ostream& os, Protocol_name const& name)
{
    name.out(os);
    return os;
}

bool Protocol_name_str::compare(Protocol_name const& other) const
{
    return compatible(other) && std::strcmp(name(), other.name()) == 0;
}

std::ostream& operator<<(std::ostream& os, Protocol_info const& info)
{
    info.out(os);
    return os;
}

Protocol::~Protocol()
{
    if (owner)
        owner->take_off(this);
}

void Protocol::local_prepare_head(Packet& p)
{
    p.reserve_head(0);
}

void Protocol::local_prepare_tail(Packet& p)
{
    p.reserve_tail(0);
}

Protocol_status Protocol::local_initialize()
{
    return Protocol_status(new Protocol_status_success(this, "success"));
}

void Protocol::local_activate()
{
    on_activate();
}

void Protocol::local_deactivate()
{
    on_deactivate(Protocol_status(new Protocol_status_success(this, "success")));
}

void Protocol::transmit(Packet& p)
{
    if (Protocol* lower = below())
        lower->message(p);
    else if (owner)
        owner->transmit(p);
}

void Protocol::on_message(Packet& p)
{
    if (Protocol* upper = above())
        upper->receive(p);
    else if (owner)
        owner->on_message(p);
}

void Protocol::on_activate()
{
    if (Protocol* upper = above())
        upper->local_activate();
    else if (owner)
        owner->on_activated(this);
}

void Protocol::on_deactivate(Protocol_status status)
{
    if (status->success()) {
        if (Protocol* lower = below())
            lower->deactivate();
        else if (owner)
            owner->on_deactivated(this, status);
    } else {
        if (Protocol* upper = above())
            upper->on_deactivate(status);
        else if (owner)
            owner->on_deactivated(this, status);
    }
}

// One hook signature for every layer; a copy only counts a reference.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void Protocol::on_status(Protocol_status status)
{
    if (Protocol* upper = above())
        upper->on_status(status);
    else if (owner)
        owner->on_status(status);
}

void Protocol::message(Packet&) {}

void Protocol::receive(Packet&) {}

void Protocol::activate()
{
    if (Protocol* lower = below())
        lower->activate();
    else
        local_activate();
}

void Protocol::deactivate()
{
    local_deactivate();
}

void Protocol::protocol_info(std::ostream&) const {}

void Protocol::prepare_head(Packet& p)
{
    descend_prepare_head(p);
    local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p)
{
    descend_prepare_tail(p);
    local_prepare_tail(p);
}

void Protocol::descend_prepare_head(Packet& p)
{
    if (Protocol* lower = below())
        lower->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p)
{
    if (Protocol* lower = below())
        lower->prepare_tail(p);
}

Protocol_status Protocol::initialize()
{
    if (Protocol* lower = below()) {
        Protocol_status status = lower->initialize();
        if (!status->success())
            return status;
    }
    return local_initialize();
}

ProtocolsList::~ProtocolsList()
{
    while (Protocol* p = remove_from_tail()) {
        p->owner = nullptr;
        delete p;
    }
}

void ProtocolsList::on_activated(Protocol*) {}

// One hook signature for every layer; a copy only counts a reference.
// NOLINTNEXTLINE(performance-unnecessary-value-param)
void ProtocolsList::on_deactivated(Protocol*, Protocol_status) {}

Protocol* ProtocolsList::add_protocol_head(Protocol* p)
{
    insert_to_head(p);
    p->owner = this;
    return p;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* p)
{
    insert_to_tail(p);
    p->owner = this;
    return p;
}

Protocol* ProtocolsList::search(Protocol_name const& name)
{
    for (Protocol* p = first(); p; p = p->above())
        if (p->compare_name(name))
            return p;
    return nullptr;
}

void ProtocolsList::take_off(Protocol* p)
{
    remove(p);
    p->owner = nullptr;
}

void ProtocolsFamily::local_prepare_head(Packet& p)
{
    if (Protocol* t = top())
        t->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p)
{
    if (Protocol* t = top())
        t->prepare_tail(p);
}

Protocol_status ProtocolsFamily::local_initialize()
{
    if (Protocol* t = top())
        return t->initialize();
    return Protocol_status(new Protocol_initialize_error(this));
}

void ProtocolsFamily::local_activate()
{
    if (Protocol* t = top())
        t->activate();
}

void ProtocolsFamily::local_deactivate()
{
    if (Protocol* t = top())
        t->deactivate();
}

void ProtocolsFamily::message(Packet& p)
{
    if (Protocol* t = top())
        t->message(p);
}

void ProtocolsFamily::receive(Packet& p)
{
    if (Protocol* b = bottom())
        b->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* member)
{
    if (member == top())
        on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, Protocol_status status)
{
    on_deactivate(status);
}
