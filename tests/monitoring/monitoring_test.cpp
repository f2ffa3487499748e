// The monitoring service: configuration of the SNMP agent links, the data
// holder's merge, the agents' MON traffic on the test clock and what Send and
// SendTrapsink put on it.
#include "monitoring/monitoring_ctl.hpp"

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::bytes;
using ctltest::Capture;
using ctltest::hex;
using Strings = std::vector<std::string>;

TEST(MonitoringCtl, ConfiguresOneAgentPerValidSnmpagentBlock)
{
    struct Case {
        const char* file;
        Strings agents; // name host:port type
        const char* messages;
    };
    const char* a1 = "[snmpagent]\nhost = 127.0.0.1:1\nname = a1\n";
    // clang-format off
    const Case cases[] = {
        {a1, {"a1 127.0.0.1:1 1"}, ""},
        {"[snmpagent]\nhost = 127.0.0.1:1\nname = a1\n[traces]\n[snmpagent]\nname = a2\nhost = 127.0.0.2:2\ntype = lemzgw.pd\n",
         {"a1 127.0.0.1:1 1", "a2 127.0.0.2:2 4"}, ""},
        {"[snmpagent]\nhost = agent.local:161\nname = a1\n", {},
         "snmpagent: required key \"host\" has invalid value=\"agent.local:161\", line 2\n"},
        {"\n[snmpagent]\nname = a1\nhost = 127.0.0.1\n", {},
         "snmpagent: required key \"host\" has invalid value=\"127.0.0.1\", line 4\n"},
        {"[snmpagent]\nhost = 127.0.0.1:1\n[snmpagent]\nhost = 127.0.0.1:2\nname = ok\n", {"ok 127.0.0.1:2 1"},
         "snmpagent: required key \"name\" not present, line 1\n"},
        {"[snmpagent]\nhost = 127.0.0.1:1\nname = a1\ntype = snmp\n", {"a1 127.0.0.1:1 1"},
         "snmpagent: optional key \"type\" has invalid value=\"snmp\", line 4. Key will be ignored.\n"},
    };
    // clang-format on
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
        EXPECT_EQ(agents, c.agents) << c.file;
        // Only the reader's lines: the links' own attempts may log as well.
        EXPECT_EQ(err.text().substr(0, err.text().find("can't connect")), c.messages) << c.file;
    }
}

// "oid=value" or "section/name/index=value".
MON::SnmpSetCommands commands(Strings const& texts)
{
    MON::SnmpSetCommands list;
    int uniq = 0;
    for (std::string const& t : texts) {
        MON::SnmpSetCommand c;
        c.set_uniq(++uniq);
        const std::string id = t.substr(0, t.find('='));
        const std::size_t s1 = id.find('/'), s2 = id.rfind('/');
        if (s1 == std::string::npos) {
            c.set_id().select_oid(id);
        } else {
            MON::IniName& n = c.set_id().select_name();
            n.set_section(id.substr(0, s1)), n.set_name(id.substr(s1 + 1, s2 - s1 - 1));
            n.set_index(std::stoi(id.substr(s2 + 1)));
        }
        c.set_value(t.substr(t.find('=') + 1));
        list.ref_commands().push_back(c);
    }
    return list;
}

std::string show(MON::SnmpSetCommands const& list)
{
    std::string out;
    for (auto const& c : list.get_commands()) {
        MON::SnmpSetCommandId const& id = c.get_id();
        if (id.oid_isSelected())
            out += std::string(id.get_oid());
        else
            out += std::string(id.get_name().get_section()) + "/" + std::string(id.get_name().get_name()) +
                   "/" + std::to_string(id.get_name().get_index().getValue());
        out += "=" + std::string(c.get_value()) + " #" + std::to_string(c.get_uniq().getValue()) + "; ";
    }
    return out;
}

TEST(MonitoringDataHolder, SetSnmpCommandsMergesById)
{
    // clang-format off
    const struct { Strings first, second; const char* merged; } cases[] = {
        {{"1.3.6.1=a"}, {"1.3.6.1=b"}, "1.3.6.1=b #1; "},
        {{"1.3.6.1=a"}, {"1.3.6.2=b"}, "1.3.6.1=a #1; 1.3.6.2=b #1; "},
        {{"sec/n/3=a", "x=1"}, {"x=2", "sec/n/3=b"}, "sec/n/3=b #1; x=2 #2; "},
        {{"sec/n/3=a"}, {"sec/n/4=b"}, "sec/n/3=a #1; sec/n/4=b #1; "},
        {{"sec/n/3=a"}, {"other/n/3=b"}, "sec/n/3=a #1; other/n/3=b #1; "},
        {{"sec/n/3=a"}, {"sec/m/3=b"}, "sec/n/3=a #1; sec/m/3=b #1; "},
        {{"sec=a"}, {"sec/n/0=b"}, "sec=a #1; sec/n/0=b #1; "},
    };
    // clang-format on
    for (auto const& c : cases) {
        MonitoringDataHolder holder;
        holder.setSnmpCommands(commands(c.first));
        holder.setSnmpCommands(commands(c.second));
        EXPECT_EQ(show(holder.SnmpCommands()), c.merged) << c.merged;
    }
}

// An agent written in the test: a listener the link connects to.
class AgentLinkTest : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        listen = ctltest::listener(port);
        agents.Add(std::unique_ptr<SnmpAgentInstance>(new SnmpAgentInstance(
            "agent1", "127.0.0.1", static_cast<unsigned short>(port), SnmpAgentInstance::lemzgw)));
        agent = agents.Agents().front().get();
        run_for(10);
        peer = Fd(::accept(listen.lowlevel_fd(), nullptr, nullptr));
        ASSERT_TRUE(agent->IsConnected());
    }
    void TearDown() override
    {
        agents.Clear();
        LoopTest::TearDown();
    }
    Capture err{std::cerr}, out{std::cout}, log{std::clog};
    int port = 0;
    Fd listen, peer;
    SnmpAgentCtrl agents;
    SnmpAgentInstance* agent = nullptr;
};

TEST_F(AgentLinkTest, PingsEveryFiveSecondsTakesAnswersAndDropsASilentAgentAfterThirty)
{
    const std::string ping = "03 00 00 05 18";
    // Connected 10 ms into the set-up; whatever the agent sends restarts the
    // 30 s, the last at 10 s: a ping response.
    // clang-format off
    const struct { const char* send; unsigned run_ms; std::string received; bool connected; const char* err; } steps[] = {
        {"03 00 00 05 18", 4980, "", true, "agent1: receive unknown message type\n"},       // a command
        {"03 00 00 05 FF", 30, ping, true, "agent1: receive fail: decode error!\n msg: FF \n"},
        {"03 00 00 10 80 01 31 00 01 73 01 6E 01 01 01 76", 5000, ping, true, ""},           // a signal
        {"03 00 00 05 58", 29970, ping + " " + ping + " " + ping + " " + ping + " " + ping, true, ""},
        {"", 40, ping, false, "agent1: no message from the agent for 30000 ms\ncontrol connection 127.0.0.1:"},
    };
    // clang-format on
    for (auto const& s : steps) {
        err.clear();
        ctltest::send_all(peer, bytes(s.send));
        run_for(s.run_ms);
        EXPECT_EQ(hex(ctltest::read_now(peer)), s.received) << s.run_ms;
        EXPECT_EQ(agent->IsConnected(), s.connected) << s.run_ms;
        const std::string e = s.err; // the start of what was logged, or nothing
        EXPECT_EQ(e.empty() ? err.text() : err.text().substr(0, e.size()), e) << s.run_ms;
    }
    EXPECT_TRUE(ctltest::peer_closed(peer));
}

// Two values gathered in one pass leave together, numbered by the sender.
TEST_F(AgentLinkTest, SendGathersTheItemsOfOnePassIntoOneSnmpSet)
{
    std::string value = "v";
    agents.Send(SnmpAgentCtrl::power, 0, value);
    agents.Send(SnmpAgentCtrl::power, 2, value);
    EXPECT_EQ(hex(ctltest::read_now(peer)), "");
    run_for(1);
    const std::string power = "40 05 70 6F 77 65 72 06 73 74 61 74 75 73"; // name: power / status
    EXPECT_EQ(hex(ctltest::read_now(peer)),
              "03 00 00 30 00 02 00 01 01 " + power + " 01 00 01 76 00 01 02 " + power + " 01 02 01 76");
}

TEST_F(AgentLinkTest, SendTrapsinkSendsOneHostPerReceiverAndNoPort)
{
    agents.SendTrapsink({"10.0.0.1", "h"});
    EXPECT_EQ(hex(ctltest::read_now(peer)), "03 00 00 13 08 02 00 08 31 30 2E 30 2E 30 2E 31 00 01 68");
}

// The controller's display data stays in the service: the agent gets its
// pings, also when it connects again with receivers and values stored.
TEST_F(AgentLinkTest, DisplayDataNeverReachesAnAgent)
{
    agents.Clear();
    IniFile::File file;
    std::istringstream in("[snmpagent]\nhost = 127.0.0.1:" + std::to_string(port) + "\nname = a1\n");
    in >> file;
    MonitoringCtl monitoring;
    monitoring.Configure(file);
    run_for(10);
    peer = Fd(::accept(listen.lowlevel_fd(), nullptr, nullptr));
    LGCP::DisplayParams framer, receivers, values;
    framer.select_framer().set_e1(1);
    framer.ref_framer().set_info().select_line(true);
    receivers.select_snmpTrapReceivers().push_back(ASN1::IA5String("10.0.0.1"));
    values.select_snmp_set(commands({"sec/n/3=a"}));
    for (auto const* d : {&framer, &receivers, &values})
        monitoring.OnDisplayCMD(*d);
    const std::string ping = "03 00 00 05 18";
    run_for(SnmpAgentInstance::ping_period_ms);
    EXPECT_EQ(hex(ctltest::read_now(peer)), ping);
    peer = Fd();
    run_for(Control::ConnectorNet::disconnect_retry_ms + 10);
    peer = Fd(::accept(listen.lowlevel_fd(), nullptr, nullptr));
    run_for(SnmpAgentInstance::ping_period_ms);
    EXPECT_EQ(hex(ctltest::read_now(peer)), ping);
    EXPECT_EQ(monitoring.Data().TrapReceivers(), Strings{"10.0.0.1"});
}

} // namespace
