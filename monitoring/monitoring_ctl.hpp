#pragma once
// The monitoring service: the last service bound to the LGCP server. It
// takes the controller's `display` command into its data holder, sends the
// power status as the `power` signal, and keeps the SNMP agent links that
// the [snmpagent] blocks of the configuration name. It owns the data holder
// and the agent links; neither of them calls back into it.
#include "control/ctrl_server.hpp"
#include "monitoring/data_holder.hpp"
#include "monitoring/snmp_agent.hpp"
#include "runtime/inifile.hpp"
#include "runtime/inifile_reader.hpp"

// The value of a "host" key: a dotted quad and a port, "a.b.c.d:port".
struct SnmpAgentHost {
    std::string address;
    unsigned short port = 0;
};

namespace IniFile
{
namespace Private
{
// A host that is not a dotted quad with a port is refused by the reader with
// its invalid-value message, instead of connecting to 0.0.0.0.
template <> class TKeyValue<SnmpAgentHost> : public KeyValue
{
public:
    TKeyValue(SnmpAgentHost* target, const char* name, const Symbol<SnmpAgentHost>*)
        : KeyValue(name), mTarget(target)
    {
    }
    bool do_parse(const char* text) override;

private:
    SnmpAgentHost* mTarget;
};
} // namespace Private
} // namespace IniFile

extern IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> const monitoringAddressTypes[];

class MonitoringCtl : public CtrlSrv::Service
{
public:
    static MonitoringCtl& instance();

    MonitoringCtl();

    void Configure(IniFile::File& file);

    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(LGCP::Command const& command) override;
    void OnDisplayCMD(LGCP::DisplayParams const& params);
    // Sends the power status to the controller, when one is connected.
    void sendPowerStatus(LGCP::POWERStatus::NamedNumber status);

    MonitoringDataHolder& Data() { return mData; }
    SnmpAgentCtrl& Agents() { return mAgents; }

private:
    SnmpAgentCtrl mAgents;
    MonitoringDataHolder mData;
};
