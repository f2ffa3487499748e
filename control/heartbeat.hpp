#pragma once
// Keeps the controller link alive and drops a controller that has gone
// silent. Bound first, it sees every command before any other service; every
// command restarts the watch, and ping is answered here. The watch also
// starts when a controller connects, so a peer that never sends a command
// cannot hold the one controller seat for ever.
#include "control/ctrl_server.hpp"
#include "runtime/timer.hpp"

class HeartBeatCtl : public CtrlSrv::Service
{
public:
    static constexpr unsigned period_ms = 120000;

    static HeartBeatCtl& instance();

    HeartBeatCtl() = default;

    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;

    void ResetTimeOut();
    void OnHeartbeatTimeout(Timer*);
    bool IsWatching() const { return mWatch.is_running(); }

private:
    Timer mWatch;
};
