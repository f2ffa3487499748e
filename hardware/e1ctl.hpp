#pragma once
// The controller-facing service of the board's four E1 trunks: their status
// as a trunkStatus signal at every controller connection and every second
// while the controller stays, which trunks take their transmit clock from the
// line (trunkCfg), and channel-associated signalling (the cas ioctl without a
// slot, and a cas signal for every bit change the driver reports).
//
// Devices: "/dev/maintenance" (status, transmit-clock mask) and "/dev/e1-cas";
// both are opened at their first use and again after a failed open, and
// stay open. Device failures are logged and, for CAS, reported inside cas
// signals; the commands themselves are always answered with success.
#include <cstdint>
#include <ostream>

#include "control/ctrl_server.hpp"
#include "runtime/event.hpp"
#include "runtime/fd.hpp"
#include "runtime/timer.hpp"

class E1Ctl : public CtrlSrv::Service
{
public:
    static constexpr int kTrunks = 4;
    static constexpr unsigned kStatusPeriod = 1000; // ms

    struct cas_channel {
        explicit cas_channel(LGCP::CasChannel const& c);
        int path; // the trunk
        int timeslot;
        int reserved;
    };

    // The single service, bound at start-up.
    static E1Ctl& instance();

    E1Ctl() = default;
    ~E1Ctl() override = default;

    void OnConnect() override;
    // Stops the status signals until the next controller connects.
    void OnDisconnect() override;
    bool OnCommand(LGCP::Command const& command) override;

    void SetMode(LGCP::TrunkCfg const& cfg);
    void UpdateTclk();
    void SendStatus();
    bool CheckOpenCas();
    void HandleCas(LGCP::IoctlParams const& params);
    void HandleCasOpen(cas_channel const& channel, int bits);
    void HandleCasClose(cas_channel const& channel);
    void HandleCasGet(cas_channel const& channel);
    void HandleCasSet(cas_channel const& channel, int bits);
    void select_source(int source);
    void OnUpdateCas(int fd, short revents);
    void SendCASSignal(int path, int timeslot, int rx, int tx);
    void SendCASTrunkStatus(int trunk, int value) { SendCASSignal(trunk, 0, value, 0); }

    std::ostream& PutHeader(std::ostream& os) const;

    // Bit n set: trunk n is clock slave.
    std::uint32_t mask() const { return mMask; }
    bool statusRunning() const { return mStatus.is_running(); }
    bool casOpen(int trunk) const { return validTrunk(trunk) && mCasOpen[trunk]; }
    bool casWatched() const { return mCasEvent.IsActive(); }

private:
    static bool validTrunk(int trunk) { return trunk >= 0 && trunk < kTrunks; }
    bool OpenMaintenance();
    void OnCheckStatus();
    // Reads the channel's bits and reports them, or the failed result.
    void ReportBits(cas_channel const& channel);

    Fd mMaintenance;
    Timer mStatus;
    Fd mCas;
    Event mCasEvent;
    std::int32_t mCasOpen[kTrunks] = {};
    std::uint32_t mMask = 0;
};
