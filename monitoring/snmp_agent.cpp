#include "monitoring/snmp_agent.hpp"

#include <iostream>
#include <iterator>

#include "asn1/asn1.hpp"
#include "runtime/trace.hpp"
#include "runtime/traces.hpp"

SnmpAgentInstance::SnmpAgentInstance(std::string const& name, std::string const& host, unsigned short port,
                                     MonitoringAddressType type)
    : mName(name), mType(type), mLink(host, port)
{
    mLink.service_name(name);
    mLink.Bind(this);
}

SnmpAgentInstance::~SnmpAgentInstance()
{
    mLink.UnBind();
    mLink.Deactivate();
}

void SnmpAgentInstance::Command(MON::Command const& command)
{
    MON::Message message;
    message.set_pdu().select_command(command);
    std::vector<char> octets;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (!ASN1::encode(message, &env, std::back_inserter(octets))) {
        std::cerr << mName << ": send fail: encode error!" << ASN1::logText(message) << std::endl;
        return;
    }
    if (traces.monitoring.internal)
        std::clog << mName << ": send " << message << std::endl;
    mLink.Send(octets.data(), static_cast<int>(octets.size()));
}

void SnmpAgentInstance::OnConnect()
{
    mPing.set(ping_period_ms, &SnmpAgentInstance::OnPingTimer, this);
    mSilence.set(silence_limit_ms, &SnmpAgentInstance::OnSilenceTimer, this);
}

void SnmpAgentInstance::OnDisconnect()
{
    mPing.reset();
    mSilence.reset();
}

void SnmpAgentInstance::OnPingTimer(Timer*)
{
    if (!mLink.IsConnected())
        return;
    mPing.set(ping_period_ms, &SnmpAgentInstance::OnPingTimer, this);
    Command(MON::Command(MON::Command::ping::value, ASN1::Null()));
}

void SnmpAgentInstance::OnSilenceTimer(Timer*)
{
    std::cerr << mName << ": no message from the agent for " << silence_limit_ms << " ms" << std::endl;
    mPing.reset();
    mLink.Disconnect();
}

void SnmpAgentInstance::OnMessage(char const* data, int length)
{
    // Anything the agent sends shows that it is alive.
    mSilence.set(silence_limit_ms, &SnmpAgentInstance::OnSilenceTimer, this);
    MON::Message message;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    if (length < 0 || !ASN1::decode(data, data + length, &env, message, true)) {
        const unsigned shown = static_cast<unsigned>(length < 0 ? 0 : length < 64 ? length : 64);
        std::cerr << mName << ": receive fail: decode error!\n msg: " << ext::hex(data, shown)
                  << (length > 64 ? "..." : "") << std::endl;
        return;
    }
    if (traces.monitoring.internal)
        std::clog << mName << ": receive " << ASN1::logText(message) << std::endl;
    OnMessage(message);
}

void SnmpAgentInstance::OnMessage(MON::Message const& message)
{
    MON::PDU const& pdu = message.get_pdu();
    if (pdu.response_isSelected())
        OnResponse(pdu.get_response());
    else if (pdu.signal_isSelected())
        OnSignal(pdu.get_signal());
    else
        std::cerr << mName << ": receive unknown message type" << std::endl;
}

void SnmpAgentInstance::FlushPending()
{
    if (!HasPending())
        return;
    // Values gathered while the agent was away are dropped.
    if (mLink.IsConnected())
        Command(MON::Command(MON::Command::snmp_set::value, mPending));
    mPending.ref_commands().clear();
}

SnmpAgentCtrl::Item const SnmpAgentCtrl::items[itemCount] = {
    {power, "power", "status",
     SnmpAgentInstance::lemzgw | SnmpAgentInstance::velm | SnmpAgentInstance::lemzgw_pd},
};

SnmpAgentCtrl::SnmpAgentCtrl()
{
    mFlush.Bind(this, &SnmpAgentCtrl::OnFlush);
}

SnmpAgentCtrl::~SnmpAgentCtrl()
{
    mFlush.Deactivate();
}

void SnmpAgentCtrl::Add(std::unique_ptr<SnmpAgentInstance> agent)
{
    agent->Activate();
    mAgents.push_back(std::move(agent));
}

void SnmpAgentCtrl::Clear()
{
    mAgents.clear();
}

void SnmpAgentCtrl::Send(MonitoringItemType item, int index, std::string& value)
{
    if (item < 0 || item >= itemCount)
        return;
    Item const& row = items[item];
    for (auto& agent : mAgents) {
        if (!(row.agents & agent->GetType()))
            continue;
        MON::SnmpSetCommand command;
        command.set_uniq(NextUniq());
        MON::IniName& name = command.set_id().select_name();
        name.set_section(row.section);
        name.set_name(row.name);
        name.set_index(index);
        command.set_value(value);
        agent->Pending().ref_commands().push_back(command);
        mFlush.Activate();
    }
}

void SnmpAgentCtrl::SendTrapsink(std::vector<std::string> const& receivers)
{
    MON::Command command;
    MON::SnmpTrapsinks& sinks = command.select_snmp_trapsink_set();
    for (std::string const& host : receivers) {
        MON::SnmpTrapsink sink;
        sink.set_host(host);
        sinks.ref_trapsinks().push_back(sink);
    }
    for (auto& agent : mAgents)
        if (agent->IsConnected())
            agent->Command(command);
}

void SnmpAgentCtrl::OnFlush()
{
    mFlush.Deactivate();
    for (auto& agent : mAgents)
        agent->FlushPending();
}
