#pragma once
// What the controller told the gateway to show through its `display`
// command: extension boards, framers, emergency phones, the controller's own
// state, terminal counters, the SNMP trap receivers and the SNMP values to
// set. The latest report of each item is kept. The holder only keeps: it
// calls nothing, and the monitoring service that owns it reads it.
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "messages/lgcp/LGCP.hpp"
#include "messages/mon/MON.hpp"

class MonitoringDataHolder
{
public:
    struct Framer {
        bool line = false;
        bool link = false;
    };

    void setDisplayStatus(LGCP::DisplayParams const& params);
    void setBoardStatus(LGCP::BoardStatusParams const& status);
    void setEmPhoneInfo(LGCP::EmPhoneStatusParams const& status);
    void setTermCounter(LGCP::TermCounter const& counter);
    void setControllerStatus(LGCP::ControllerInfo const& info);
    void setFramer(LGCP::FramerInfo const& info);
    void setTrapReceivers(std::vector<std::string> const& receivers);
    // Takes over the value of each command whose id matches one of the
    // holder's (the same oid text, or the same section, name and index);
    // the others are added.
    void setSnmpCommands(MON::SnmpSetCommands const& commands);

    std::map<int, LGCP::BoardStatusParams> const& Boards() const { return mBoards; }
    std::map<int, LGCP::EmPhoneStatusParams> const& Phones() const { return mPhones; }
    std::map<int, Framer> const& Framers() const { return mFramers; }
    // Keyed by owner and owner id (-1 when the report had none).
    std::map<std::pair<int, int>, int> const& Counters() const { return mCounters; }
    LGCP::ControllerInfo const* Controller() const { return mController.get(); }
    std::vector<std::string> const& TrapReceivers() const { return mTrapReceivers; }
    MON::SnmpSetCommands const& SnmpCommands() const { return mSnmp; }

private:
    std::map<int, LGCP::BoardStatusParams> mBoards;
    std::map<int, LGCP::EmPhoneStatusParams> mPhones;
    std::map<int, Framer> mFramers;
    std::map<std::pair<int, int>, int> mCounters;
    std::unique_ptr<LGCP::ControllerInfo> mController;
    std::vector<std::string> mTrapReceivers;
    MON::SnmpSetCommands mSnmp;
};

// Whether two snmp-set ids name the same value.
bool SameSnmpId(MON::SnmpSetCommandId const& a, MON::SnmpSetCommandId const& b);
