// The monitoring service: configuration of the SNMP agent links, the data
// holder's merges, the fan-out of values to agents, the agents' MON traffic
// on the test clock, and the display command.
#include "monitoring/monitoring_ctl.hpp"

#include <sstream>

#include "asn1/asn1.hpp"
#include "tests/control/fixture.hpp"

namespace
{

using ctltest::bytes;
using ctltest::Capture;
using ctltest::hex;
using Strings = std::vector<std::string>;

std::string lines_with(std::string const& text, std::string const& prefix)
{
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            out += line + "\n";
    return out;
}

TEST(MonitoringConfigure, ReadsEachSnmpagentBlock)
{
    struct Case {
        const char* what;
        const char* file;
        Strings agents; // name host:port type
        const char* messages;
    };
    const Case cases[] = {
        {"no configuration", "", {}, ""},
        {"one agent", "[snmpagent]\nhost = 127.0.0.1:1\nname = a1\n", {"a1 127.0.0.1:1 1"}, ""},
        {"two agents, one with its type",
         "[snmpagent]\nhost = 127.0.0.1:1\nname = a1\n[traces]\n[snmpagent]\nname = a2\nhost = 127.0.0.2:2\n"
         "type = lemzgw.pd\n",
         {"a1 127.0.0.1:1 1", "a2 127.0.0.2:2 4"},
         ""},
        {"host missing",
         "[snmpagent]\nname = a1\n",
         {},
         "snmpagent: required key \"host\" not present, line 1\n"},
        {"host is a name",
         "[snmpagent]\nhost = agent.local:161\nname = a1\n",
         {},
         "snmpagent: required key \"host\" has invalid value=\"agent.local:161\", line 2\n"},
        {"host without port",
         "\n[snmpagent]\nname = a1\nhost = 127.0.0.1\n",
         {},
         "snmpagent: required key \"host\" has invalid value=\"127.0.0.1\", line 4\n"},
        {"name missing, the next block still read",
         "[snmpagent]\nhost = 127.0.0.1:1\n[snmpagent]\nhost = 127.0.0.1:2\nname = ok\n",
         {"ok 127.0.0.1:2 1"},
         "snmpagent: required key \"name\" not present, line 1\n"},
        {"name twice",
         "[snmpagent]\nhost = 127.0.0.1:1\nname = a\nname = b\n",
         {},
         "snmpagent: required key \"name\" is duplicated!\nsnmpagent:  first occurence at 3 line.\n"
         "snmpagent:  second occurence at 4 line.\n"},
        {"unknown type: the agent keeps the default",
         "[snmpagent]\nhost = 127.0.0.1:1\nname = a1\ntype = snmp\n",
         {"a1 127.0.0.1:1 1"},
         "snmpagent: optional key \"type\" has invalid value=\"snmp\", line 4. Key will be ignored.\n"},
        {"type by number",
         "[snmpagent]\nhost = 127.0.0.1:1\nname = a1\ntype = 2\n",
         {"a1 127.0.0.1:1 2"},
         ""},
    };
    for (const Case& c : cases) {
        Capture err(std::cerr), out(std::cout), log(std::clog);
        IniFile::File file;
        std::istringstream in(c.file);
        in >> file;
        MonitoringCtl monitoring;
        monitoring.Configure(file);
        Strings agents;
        for (auto const& a : monitoring.Agents().Agents())
            agents.push_back(a->GetName() + " " + a->GetLink().PeerText() + " " +
                             std::to_string(a->GetType()));
        EXPECT_EQ(agents, c.agents) << c.what;
        EXPECT_EQ(lines_with(err.text(), "snmpagent:"), c.messages) << c.what;
    }
}

MON::SnmpSetCommand command(int uniq, const char* oid_or_section, const char* name, int index,
                            const char* value)
{
    MON::SnmpSetCommand c;
    c.set_uniq(uniq);
    if (name) {
        MON::IniName& n = c.set_id().select_name();
        n.set_section(oid_or_section);
        n.set_name(name);
        n.set_index(index);
    } else {
        c.set_id().select_oid(oid_or_section);
    }
    c.set_value(value);
    return c;
}

std::string show(MON::SnmpSetCommands const& list)
{
    std::string out;
    for (auto const& c : list.get_commands()) {
        MON::SnmpSetCommandId const& id = c.get_id();
        if (id.oid_isSelected())
            out += "oid " + std::string(id.get_oid());
        else
            out += std::string(id.get_name().get_section()) + "/" + std::string(id.get_name().get_name()) +
                   "/" + std::to_string(id.get_name().get_index().getValue());
        out += "=" + std::string(c.get_value()) + " #" + std::to_string(c.get_uniq().getValue()) + "; ";
    }
    return out;
}

TEST(MonitoringDataHolder, SetSnmpCommandsMergesById)
{
    struct Case {
        const char* what;
        std::vector<MON::SnmpSetCommand> first, second;
        const char* expected;
    };
    const Case cases[] = {
        {"same oid takes the value",
         {command(1, "1.3.6.1", nullptr, 0, "a")},
         {command(9, "1.3.6.1", nullptr, 0, "b")},
         "oid 1.3.6.1=b #1; "},
        {"another oid is added",
         {command(1, "1.3.6.1", nullptr, 0, "a")},
         {command(2, "1.3.6.2", nullptr, 0, "b")},
         "oid 1.3.6.1=a #1; oid 1.3.6.2=b #2; "},
        {"same name takes the value",
         {command(1, "sec", "n", 3, "a")},
         {command(2, "sec", "n", 3, "b")},
         "sec/n/3=b #1; "},
        {"another index is another value",
         {command(1, "sec", "n", 3, "a")},
         {command(2, "sec", "n", 4, "b")},
         "sec/n/3=a #1; sec/n/4=b #2; "},
        {"another section",
         {command(1, "sec", "n", 3, "a")},
         {command(2, "other", "n", 3, "b")},
         "sec/n/3=a #1; other/n/3=b #2; "},
        {"another name",
         {command(1, "sec", "n", 3, "a")},
         {command(2, "sec", "m", 3, "b")},
         "sec/n/3=a #1; sec/m/3=b #2; "},
        {"an oid never matches a name",
         {command(1, "sec", nullptr, 0, "a")},
         {command(2, "sec", "n", 0, "b")},
         "oid sec=a #1; sec/n/0=b #2; "},
    };
    for (const Case& c : cases) {
        MonitoringDataHolder holder;
        for (auto const* list : {&c.first, &c.second}) {
            MON::SnmpSetCommands commands;
            for (auto const& x : *list)
                commands.ref_commands().push_back(x);
            holder.setSnmpCommands(commands);
        }
        EXPECT_EQ(show(holder.SnmpCommands()), c.expected) << c.what;
    }
}

class AgentsTest : public ctltest::LoopTest
{
protected:
    void add(const char* name, SnmpAgentInstance::MonitoringAddressType type, int port = 1)
    {
        agents.Add(std::unique_ptr<SnmpAgentInstance>(
            new SnmpAgentInstance(name, "127.0.0.1", static_cast<unsigned short>(port), type)));
    }
    Capture err{std::cerr}, out{std::cout}, log{std::clog};
    SnmpAgentCtrl agents;
};

TEST_F(AgentsTest, SendGoesToTheAgentsWhoseKindWantsTheItem)
{
    add("gw", SnmpAgentInstance::lemzgw);
    add("velm", SnmpAgentInstance::velm);
    add("pd", SnmpAgentInstance::lemzgw_pd);
    struct Case {
        SnmpAgentCtrl::MonitoringItemType item;
        int index;
        Strings pending; // per agent, in order gw, velm, pd
    };
    const Case cases[] = {
        {SnmpAgentCtrl::power,
         0,
         {"power/status/0=v #1; ", "power/status/0=v #2; ", "power/status/0=v #3; "}},
        {SnmpAgentCtrl::controller, 2, {"controller/status/2=v #1; ", "", "controller/status/2=v #2; "}},
        {SnmpAgentCtrl::framerLine, 3, {"framer/line/3=v #1; ", "", ""}},
        {SnmpAgentCtrl::framerLink, 1, {"framer/link/1=v #1; ", "", ""}},
    };
    for (const Case& c : cases) {
        SnmpAgentCtrl fresh;
        for (auto const& a : agents.Agents())
            fresh.Add(std::unique_ptr<SnmpAgentInstance>(
                new SnmpAgentInstance(a->GetName(), "127.0.0.1", 1, a->GetType())));
        std::string value = "v";
        fresh.Send(c.item, c.index, value);
        Strings pending;
        for (auto const& a : fresh.Agents())
            pending.push_back(show(a->Pending()));
        EXPECT_EQ(pending, c.pending) << c.item;
    }
}

std::string encoded(MON::Command const& command)
{
    MON::Message message;
    message.set_pdu().select_command(command);
    std::vector<char> octets;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per_Aligned);
    EXPECT_TRUE(ASN1::encode(message, &env, std::back_inserter(octets)));
    return hex(std::string(octets.begin(), octets.end()));
}

TEST(SnmpAgentCtrl, TrapsinkCommandHasOneHostPerReceiverAndNoPort)
{
    EXPECT_EQ(encoded(SnmpAgentCtrl::TrapsinkCommand({})), "08 00");
    EXPECT_EQ(encoded(SnmpAgentCtrl::TrapsinkCommand({"10.0.0.1", "h"})),
              "08 02 00 08 31 30 2E 30 2E 30 2E 31 00 01 68");
    EXPECT_EQ(encoded(MON::Command(MON::Command::ping::value, ASN1::Null())), "18");
}

// An agent written in the test: a listener the link connects to.
class AgentLinkTest : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        listen = ctltest::listener(port);
        agent.reset(new SnmpAgentInstance("agent1", "127.0.0.1", static_cast<unsigned short>(port),
                                          SnmpAgentInstance::lemzgw));
        agent->Activate();
        run_for(10);
        peer = Fd(::accept(listen.lowlevel_fd(), nullptr, nullptr));
        ASSERT_TRUE(agent->IsConnected());
    }
    void TearDown() override
    {
        agent.reset();
        LoopTest::TearDown();
    }
    Capture err{std::cerr}, out{std::cout}, log{std::clog};
    int port = 0;
    Fd listen, peer;
    std::unique_ptr<SnmpAgentInstance> agent;
};

TEST_F(AgentLinkTest, PingsEveryFiveSecondsAndDropsASilentAgentAfterThirty)
{
    const std::string ping = "03 00 00 05 18";
    // Connected 10 ms into the set-up.
    run_for(4980);
    EXPECT_EQ(hex(ctltest::read_now(peer)), "");
    run_for(30);
    EXPECT_EQ(hex(ctltest::read_now(peer)), ping);
    run_for(5000);
    EXPECT_EQ(hex(ctltest::read_now(peer)), ping);
    // The agent answers at 10 s: the silence is counted from there.
    ctltest::send_all(peer, bytes("03 00 00 05 58"));
    run_for(29970);
    EXPECT_TRUE(agent->IsConnected());
    EXPECT_EQ(hex(ctltest::read_now(peer)), ping + " " + ping + " " + ping + " " + ping + " " + ping);
    run_for(40);
    EXPECT_FALSE(agent->IsConnected());
    EXPECT_EQ(hex(ctltest::read_now(peer)), ping);
    EXPECT_TRUE(ctltest::peer_closed(peer));
}

TEST_F(AgentLinkTest, TakesResponsesAndSignalsAndLogsAnythingElse)
{
    struct Case {
        const char* what;
        const char* frame;
        const char* err;
    };
    const Case cases[] = {
        {"ping response", "03 00 00 05 58", ""},
        {"signal", "03 00 00 10 80 01 31 00 01 73 01 6E 01 01 01 76", ""},
        {"command", "03 00 00 05 18", "agent1: receive unknown message type\n"},
        {"undecodable", "03 00 00 05 FF", "agent1: receive fail: decode error!\n msg: FF \n"},
    };
    for (const Case& c : cases) {
        err.clear();
        ctltest::send_all(peer, bytes(c.frame));
        run_for(10);
        EXPECT_EQ(err.text(), c.err) << c.what;
    }
}

TEST(MonitoringCtl, TakesDisplayOnlyAndKeepsItsData)
{
    Capture err(std::cerr), out(std::cout), log(std::clog);
    MonitoringCtl monitoring;
    LGCP::Command ping;
    ping.select_ping();
    EXPECT_FALSE(monitoring.OnCommand(ping));
    LGCP::Command display;
    LGCP::FramerInfo& framer = display.select_display().select_framer();
    framer.set_e1(2);
    framer.set_info().select_link(true);
    EXPECT_TRUE(monitoring.OnCommand(display));
    ASSERT_EQ(monitoring.Data().Framers().count(2), 1u);
    EXPECT_TRUE(monitoring.Data().Framers().at(2).link);
    EXPECT_FALSE(monitoring.Data().Framers().at(2).line);
}

} // namespace
