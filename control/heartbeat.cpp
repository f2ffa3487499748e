#include "control/heartbeat.hpp"

#include <iostream>

#include "messages/lgcp/LGCP.hpp"

HeartBeatCtl& HeartBeatCtl::instance()
{
    static HeartBeatCtl heartbeat;
    return heartbeat;
}

void HeartBeatCtl::OnConnect()
{
    ResetTimeOut();
}

void HeartBeatCtl::OnDisconnect()
{
    mWatch.reset();
}

bool HeartBeatCtl::OnCommand(LGCP::Command const& command)
{
    ResetTimeOut();
    if (!command.ping_isSelected())
        return false;
    Success();
    return true;
}

void HeartBeatCtl::ResetTimeOut()
{
    mWatch.set(period_ms, &HeartBeatCtl::OnHeartbeatTimeout, this);
}

void HeartBeatCtl::OnHeartbeatTimeout(Timer*)
{
    std::clog << "heartbeat timeout!!!" << std::endl;
    // The server this service is bound to: the global one in the daemon.
    if (CtrlSrv::Server* s = GetServer())
        s->OnHeartbeatTimeout();
}
