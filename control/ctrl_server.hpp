#pragma once
// The controller's end of the gateway. Each complete payload of the controller
// link is decoded as an LGCP message in aligned PER; its command is offered to
// the bound services in bind order until one takes it, and the answer rules
// make sure every decoded command is answered exactly as the controller
// expects. CtrlSrv::Service is the base of every controller-facing service.
#include <cstdint>
#include <list>
#include <optional>
#include <ostream>

#include "control/service.hpp"
#include "messages/lgcp/LGCP_fwd.hpp"

namespace CtrlSrv
{

class Service;

// The slot value that stands for "none". A seq has no such value: every
// 32-bit seq is the controller's, -1 included, so "none" is an empty optional.
constexpr unsigned kNoSlot = 0xFFFFFFFFu;

class Server : public Control::Notify
{
public:
    // Most bytes of an undecodable payload that go into the log line.
    static constexpr int dump_limit = 64;

    Server() = default;
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;
    ~Server() override;

    void Bind(Service* service);
    bool Activate(Control::Service* link);
    void Deactivate();

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(char const* data, int length) override;
    void OnMessage(LGCP::Message const& message);

    void Success();
    void Error(LGCP::ErrorCause::NamedNumber cause);
    std::optional<unsigned> delayResponse();
    void delayedSuccess(unsigned slot, std::optional<unsigned> seq);
    void SendSignal(LGCP::Signal const& signal);
    void SendSignal(unsigned slot, LGCP::Signal const& signal);
    void SendMsg(LGCP::Message& message);
    void AssignSeq(LGCP::Message& message) const;
    void AssignSlot(LGCP::Message& message) const;

    unsigned GetSlot() const { return mSlot; }
    bool IsSlotPresent() const { return mSlot != kNoSlot; }

    void OnHeartbeatTimeout();
    bool CheckServerConnection(bool& connected) const;

    std::ostream& PutHeader(std::ostream& os) const;

    Control::Service* GetLink() const { return mLink; }

private:
    friend class Service;
    void Forget(Service* service);
    // Shows a signal to every bound service but the sender, in bind order.
    void ShowSignal(Service const* sender, LGCP::Signal const& signal);

    std::list<Service*> mServices;
    Control::Service* mLink = nullptr;
    bool mSeqPresent = false;
    int mSeq = 0;
    unsigned mSlot = kNoSlot;
    int mResponseState = 0;
};

class Service
{
public:
    Service() = default;
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    // Leaves the server's list, so that a server that outlives its services
    // (the global one at exit) never calls into a destroyed one.
    virtual ~Service();

    virtual void OnConnect() = 0;
    virtual void OnDisconnect() = 0;
    virtual bool OnCommand(LGCP::Command const& command) = 0;
    virtual void OnSignal(LGCP::Signal const&) {}

    void Success();
    void Error(LGCP::ErrorCause::NamedNumber cause);
    void SendSignal(LGCP::Signal const& signal);
    void SendSignal(unsigned slot, LGCP::Signal const& signal);
    unsigned GetSlot() const;
    bool IsSlotPresent() const;
    // The seq of the command being answered, or none when it had none;
    // delayedSuccess then sends the answer without one.
    std::optional<unsigned> delayResponse();
    void delayedSuccess(unsigned slot, std::optional<unsigned> seq);
    bool CheckServerConnection(bool& connected) const;

    Server* GetServer() const { return server; }

protected:
    Server* server = nullptr;

private:
    friend class Server;
    bool bound() const;
};

} // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;
