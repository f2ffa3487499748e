#pragma once
// The SNMP agent links. Each agent named in a [snmpagent] block of the
// configuration gets one outbound TCP link (Control::ConnectorNet, TPKT
// frames of aligned-PER MON::Message) that reconnects by itself. While
// connected the gateway pings the agent every 5000 ms and drops the link
// when the agent has sent nothing for 30000 ms; the connector then connects
// again. SnmpAgentCtrl holds the links and fans monitoring values out to the
// agents whose address type wants them. A link sends nothing but its pings
// unless its owner asks it to.
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "control/connector.hpp"
#include "messages/mon/MON.hpp"
#include "runtime/dpc.hpp"
#include "runtime/timer.hpp"

class SnmpAgentInstance : public Control::Notify
{
public:
    // The kinds of agent; a bit each, so that an item can name several.
    enum MonitoringAddressType { lemzgw = 1, velm = 2, lemzgw_pd = 4 };

    static constexpr unsigned ping_period_ms = 5000;
    static constexpr unsigned silence_limit_ms = 30000;

    SnmpAgentInstance(std::string const& name, std::string const& host, unsigned short port,
                      MonitoringAddressType type);
    ~SnmpAgentInstance() override;
    SnmpAgentInstance(const SnmpAgentInstance&) = delete;
    SnmpAgentInstance& operator=(const SnmpAgentInstance&) = delete;

    bool Activate() { return mLink.Activate(); }
    void Command(MON::Command const& command);

    void OnConnect() override;
    void OnDisconnect() override;
    void OnMessage(char const* data, int length) override;
    void OnMessage(MON::Message const& message);
    void OnResponse(MON::Response const&) {}
    void OnSignal(MON::Signal const&) {}
    void OnPingTimer(Timer*);
    void OnSilenceTimer(Timer*);

    std::string const& GetName() const { return mName; }
    MonitoringAddressType GetType() const { return mType; }
    bool IsConnected() const { return mLink.IsConnected(); }
    Control::ConnectorNet& GetLink() { return mLink; }

    // The snmp-set command being gathered for the next flush.
    MON::SnmpSetCommands& Pending() { return mPending; }
    bool HasPending() const { return mPending.get_commands().size() != 0; }
    void FlushPending();

private:
    std::string mName;
    MonitoringAddressType mType;
    Control::ConnectorNet mLink;
    Timer mPing;
    Timer mSilence;
    MON::SnmpSetCommands mPending;
};

class SnmpAgentCtrl
{
public:
    // The monitoring values an owner may report with Send; each row of the
    // item table names the value's place (section, name) and the kinds of
    // agent that want it.
    enum MonitoringItemType { power = 0, itemCount };
    struct Item {
        MonitoringItemType item;
        char const* section;
        char const* name;
        unsigned agents; // MonitoringAddressType bits
    };
    static Item const items[itemCount];

    SnmpAgentCtrl();
    ~SnmpAgentCtrl();
    SnmpAgentCtrl(const SnmpAgentCtrl&) = delete;
    SnmpAgentCtrl& operator=(const SnmpAgentCtrl&) = delete;

    // Takes ownership and activates the link.
    void Add(std::unique_ptr<SnmpAgentInstance> agent);
    void Clear();
    std::list<std::unique_ptr<SnmpAgentInstance>> const& Agents() const { return mAgents; }

    // Appends the value to the pending snmp-set of every agent whose kind
    // wants the item; the pending commands leave in the next loop pass.
    void Send(MonitoringItemType item, int index, std::string& value);
    // The trap receivers, at once to every connected agent.
    void SendTrapsink(std::vector<std::string> const& receivers);

    int NextUniq() { return mUniq++; }
    void OnFlush();

private:
    std::list<std::unique_ptr<SnmpAgentInstance>> mAgents;
    int mUniq = 1;
    Dpc mFlush;
};
