#include "monitoring/monitoring_ctl.hpp"

#include <iostream>

#include "runtime/inet4.hpp"
#include "runtime/traces.hpp"

IniFile::Symbol<SnmpAgentInstance::MonitoringAddressType> const monitoringAddressTypes[] = {
    {"lemzgw", SnmpAgentInstance::lemzgw},
    {"velm", SnmpAgentInstance::velm},
    {"lemzgw.pd", SnmpAgentInstance::lemzgw_pd},
    {nullptr, SnmpAgentInstance::lemzgw},
};

namespace IniFile
{
namespace Private
{
bool TKeyValue<SnmpAgentHost>::do_parse(const char* text)
{
    INet4::Addr address;
    int port = -1;
    if (!address.Assign(text, &port) || port <= 0)
        return false;
    mTarget->address = address.GetStrAddr();
    mTarget->port = static_cast<unsigned short>(port);
    return true;
}
} // namespace Private
} // namespace IniFile

MonitoringCtl& MonitoringCtl::instance()
{
    static MonitoringCtl monitoring;
    return monitoring;
}

MonitoringCtl::MonitoringCtl() = default;

void MonitoringCtl::Configure(IniFile::File& file)
{
    IniFile::Section& section = file["snmpagent"];
    for (IniFile::Section::iterator block = section.begin(); block != section.end(); ++block) {
        IniFile::Reader reader("snmpagent: ", std::cerr);
        SnmpAgentHost host;
        std::string name;
        SnmpAgentInstance::MonitoringAddressType type = SnmpAgentInstance::lemzgw;
        reader.required.add(&host, "host");
        reader.required.add(&name, "name");
        reader.optional.add(&type, "type", monitoringAddressTypes);
        if (!reader(*block))
            continue;
        if (traces.monitoring.internal)
            std::clog << "snmpagent " << name << " at " << host.address << ":" << host.port << std::endl;
        mAgents.Add(
            std::unique_ptr<SnmpAgentInstance>(new SnmpAgentInstance(name, host.address, host.port, type)));
    }
}

bool MonitoringCtl::OnCommand(LGCP::Command const& command)
{
    // Display data of a kind added by a later version is not ours to hold.
    if (!command.display_isSelected() || command.get_display().isUnknownSelection())
        return false;
    OnDisplayCMD(command.get_display());
    Success();
    return true;
}

void MonitoringCtl::OnDisplayCMD(LGCP::DisplayParams const& params)
{
    mData.setDisplayStatus(params);
}

void MonitoringCtl::sendPowerStatus(LGCP::POWERStatus::NamedNumber status)
{
    bool connected = false;
    if (!CheckServerConnection(connected) || !connected)
        return;
    SendSignal(LGCP::Signal(LGCP::Signal::power::value, status));
}
