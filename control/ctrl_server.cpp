#include "control/ctrl_server.hpp"

#include <algorithm>
#include <iostream>
#include <iterator>
#include <vector>

#include "asn1/asn1.hpp"
#include "messages/lgcp/LGCP.hpp"
#include "runtime/trace.hpp"

CtrlSrv::Server ctrlServer;

namespace CtrlSrv
{

Server::~Server()
{
    Deactivate();
    for (Service* s : mServices)
        s->server = nullptr;
}

void Server::Bind(Service* service)
{
    mServices.push_back(service);
    service->server = this;
}

void Server::Forget(Service* service)
{
    mServices.remove(service);
}

bool Server::Activate(Control::Service* link)
{
    Deactivate();
    mLink = link;
    mLink->service_name("server");
    mLink->Bind(this);
    return mLink->Activate();
}

void Server::Deactivate()
{
    if (!mLink)
        return;
    mLink->Deactivate();
    OnDisconnect();
    mLink->UnBind();
    delete mLink;
    mLink = nullptr;
}

void Server::OnConnect()
{
    std::clog << ext::header(this) << "controller connect." << std::endl;
    // A service may unbind itself or another while being told: walk a copy.
    const std::list<Service*> services = mServices;
    for (Service* s : services)
        s->OnConnect();
}

void Server::OnDisconnect()
{
    const std::list<Service*> services = mServices;
    for (Service* s : services)
        s->OnDisconnect();
}

void Server::OnMessage(char const* data, int length)
{
    LGCP::Message message;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (length >= 0 && ASN1::decode(data, data + length, &env, message, true)) {
        OnMessage(message);
    } else {
        // The dump is capped: a controller sending garbage must not be able
        // to flood the log with 64 KB lines.
        const int shown = std::max(0, std::min(length, dump_limit));
        std::cerr << ext::header(this) << "receive fail: decode error!" << '\n'
                  << " msg: " << ext::hex(data, static_cast<unsigned>(shown));
        if (length > dump_limit)
            std::cerr << "...";
        std::cerr << std::endl;
    }
    mSlot = kNoSlot;
}

void Server::OnMessage(LGCP::Message const& message)
{
    mResponseState = 0;
    if (message.seq_isPresent()) {
        mSeq = message.get_seq().getValue();
        mSeqPresent = true;
    } else {
        mSeqPresent = false;
    }
    if (!message.get_pdu().command_isSelected()) {
        Error(LGCP::ErrorCause::unexpectedMsgType);
        return;
    }
    if (message.slot_isPresent()) {
        mSlot = message.get_slot().getValue();
        if (mSlot > 1023u) {
            mSlot = kNoSlot;
            Error(LGCP::ErrorCause::invalidSlot);
            return;
        }
    } else {
        mSlot = kNoSlot;
    }
    LGCP::Command const& command = message.get_pdu().get_command();
    const std::list<Service*> services = mServices;
    bool taken = false;
    for (Service* s : services) {
        if (s->OnCommand(command)) {
            taken = true;
            break;
        }
    }
    if (!taken) {
        Error(LGCP::ErrorCause::unexpectedMsgType);
        return;
    }
    if (mResponseState == 0) {
        std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl;
        Error(LGCP::ErrorCause::internal);
    }
}

void Server::Success()
{
    if (mResponseState != 0)
        return;
    LGCP::Message message;
    AssignSeq(message);
    AssignSlot(message);
    message.set_pdu().select_response().select_success();
    SendMsg(message);
    mResponseState = 1;
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause)
{
    if (mResponseState == 2)
        return;
    LGCP::Message message;
    AssignSeq(message);
    AssignSlot(message);
    message.set_pdu().select_response().select_error(cause);
    SendMsg(message);
    mResponseState = 2;
}

std::optional<unsigned> Server::delayResponse()
{
    mResponseState = 1;
    // The promise carries the seq of this command, not one left over from an
    // earlier command: the controller matches answers by seq.
    if (!mSeqPresent)
        return std::nullopt;
    return static_cast<unsigned>(mSeq);
}

void Server::delayedSuccess(unsigned slot, std::optional<unsigned> seq)
{
    LGCP::Message message;
    if (seq)
        message.set_seq(static_cast<int>(*seq));
    if (slot != kNoSlot)
        message.set_slot(slot);
    message.set_pdu().select_response().select_success();
    SendMsg(message);
}

void Server::SendSignal(LGCP::Signal const& signal)
{
    LGCP::Message message;
    AssignSlot(message);
    message.set_pdu().select_signal(signal);
    SendMsg(message);
}

void Server::SendSignal(unsigned slot, LGCP::Signal const& signal)
{
    LGCP::Message message;
    message.set_slot(slot);
    message.set_pdu().select_signal(signal);
    SendMsg(message);
}

void Server::SendMsg(LGCP::Message& message)
{
    std::vector<char> octets;
    octets.reserve(200);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (!ASN1::encode(message, &env, std::back_inserter(octets))) {
        std::cerr << ext::header(this) << "send fail: encode error!" << ASN1::logText(message) << std::endl;
        return;
    }
    if (!mLink) {
        std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
        return;
    }
    mLink->Send(octets.data(), static_cast<int>(octets.size()));
}

void Server::AssignSeq(LGCP::Message& message) const
{
    if (mSeqPresent)
        message.set_seq(mSeq);
}

void Server::AssignSlot(LGCP::Message& message) const
{
    if (mSlot != kNoSlot)
        message.set_slot(mSlot);
}

void Server::OnHeartbeatTimeout()
{
    if (mLink)
        mLink->Disconnect();
}

bool Server::CheckServerConnection(bool& connected) const
{
    if (!mLink)
        return false;
    connected = mLink->IsConnected();
    return true;
}

std::ostream& Server::PutHeader(std::ostream& os) const
{
    if (!mLink)
        os << "ctrl [null]: ";
    else if (mLink->IsConnected())
        os << "ctrl [" << mLink->GetAddr() << "]: ";
    else
        os << "ctrl [not connected]: ";
    return os;
}

void Server::ShowSignal(Service const* sender, LGCP::Signal const& signal)
{
    const std::list<Service*> services = mServices;
    for (Service* s : services)
        if (s != sender)
            s->OnSignal(signal);
}

Service::~Service()
{
    if (server)
        server->Forget(this);
}

bool Service::bound() const
{
    if (server)
        return true;
    std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
    return false;
}

void Service::Success()
{
    if (bound())
        server->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause)
{
    if (bound())
        server->Error(cause);
}

void Service::SendSignal(LGCP::Signal const& signal)
{
    if (!bound())
        return;
    server->ShowSignal(this, signal);
    server->SendSignal(signal);
}

void Service::SendSignal(unsigned slot, LGCP::Signal const& signal)
{
    if (!bound())
        return;
    server->ShowSignal(this, signal);
    server->SendSignal(slot, signal);
}

unsigned Service::GetSlot() const
{
    if (!bound())
        return kNoSlot;
    return server->GetSlot();
}

bool Service::IsSlotPresent() const
{
    if (!bound())
        return false;
    return server->IsSlotPresent();
}

std::optional<unsigned> Service::delayResponse()
{
    if (!bound())
        return std::nullopt;
    return server->delayResponse();
}

void Service::delayedSuccess(unsigned slot, std::optional<unsigned> seq)
{
    if (bound())
        server->delayedSuccess(slot, seq);
}

bool Service::CheckServerConnection(bool& connected) const
{
    if (!server)
        return false;
    return server->CheckServerConnection(connected);
}

} // namespace CtrlSrv
