#pragma once
// The clock source of the board's TDM bus. Takes the controller's clockCfg,
// selects the free-running clock whenever a controller connects or leaves,
// and can be switched off for the whole run (--disable-clock), after which
// clockCfg is answered unsupported and the device is never opened.
#include <ostream>

#include "control/ctrl_server.hpp"
#include "runtime/fd.hpp"

class BusCtl : public CtrlSrv::Service
{
public:
    static constexpr int kFreerun = 4;
    static constexpr int kX3 = 5;

    // The single service; start-up may call DisableControl on it while it
    // parses the command line, before any other service exists.
    static BusCtl& instance();

    BusCtl() = default;

    void DisableControl();
    void OnConnect() override;
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;

    void SetDefaultClock();
    void SetClockSrc(LGCP::ClockCfg const& cfg);
    void DrvSetClkSrc(int source);
    bool IsOpen();
    bool IsEnabled() const { return mEnabled; }

    std::ostream& PutHeader(std::ostream& os) const;

private:
    Fd mFd;
    bool mEnabled = true;
};
