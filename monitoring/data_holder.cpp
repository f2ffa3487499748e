#include "monitoring/data_holder.hpp"

bool SameSnmpId(MON::SnmpSetCommandId const& a, MON::SnmpSetCommandId const& b)
{
    if (a.oid_isSelected() && b.oid_isSelected())
        return static_cast<std::string const&>(a.get_oid()) == static_cast<std::string const&>(b.get_oid());
    if (a.name_isSelected() && b.name_isSelected()) {
        MON::IniName const& x = a.get_name();
        MON::IniName const& y = b.get_name();
        return static_cast<std::string const&>(x.get_section()) ==
                   static_cast<std::string const&>(y.get_section()) &&
               static_cast<std::string const&>(x.get_name()) ==
                   static_cast<std::string const&>(y.get_name()) &&
               x.get_index().getValue() == y.get_index().getValue();
    }
    return false;
}

void MonitoringDataHolder::setDisplayStatus(LGCP::DisplayParams const& params)
{
    if (params.board_isSelected()) {
        if (params.get_board().boardStatus_isSelected())
            setBoardStatus(params.get_board().get_boardStatus());
    } else if (params.snmpTrapReceivers_isSelected()) {
        std::vector<std::string> receivers;
        for (auto const& r : params.get_snmpTrapReceivers())
            receivers.push_back(r);
        setTrapReceivers(receivers);
    } else if (params.framer_isSelected()) {
        setFramer(params.get_framer());
    } else if (params.emPhone_isSelected()) {
        if (params.get_emPhone().phoneStatus_isSelected())
            setEmPhoneInfo(params.get_emPhone().get_phoneStatus());
    } else if (params.controller_isSelected()) {
        setControllerStatus(params.get_controller());
    } else if (params.termCounter_isSelected()) {
        setTermCounter(params.get_termCounter());
    } else if (params.snmp_set_isSelected()) {
        setSnmpCommands(params.get_snmp_set());
    }
}

void MonitoringDataHolder::setBoardStatus(LGCP::BoardStatusParams const& status)
{
    mBoards[status.get_position().getValue()] = status;
}

void MonitoringDataHolder::setEmPhoneInfo(LGCP::EmPhoneStatusParams const& status)
{
    mPhones[status.get_id().getValue()] = status;
}

void MonitoringDataHolder::setTermCounter(LGCP::TermCounter const& counter)
{
    const int owner = static_cast<int>(counter.get_owner());
    const int id = counter.ownerId_isPresent() ? counter.get_ownerId().getValue() : -1;
    mCounters[std::make_pair(owner, id)] = counter.get_cnt().getValue();
}

void MonitoringDataHolder::setControllerStatus(LGCP::ControllerInfo const& info)
{
    mController.reset(new LGCP::ControllerInfo(info));
}

void MonitoringDataHolder::setFramer(LGCP::FramerInfo const& info)
{
    const int e1 = static_cast<int>(info.get_e1().getValue());
    Framer& f = mFramers[e1];
    LGCP::FramerInfoData const& data = info.get_info();
    if (data.line_isSelected())
        f.line = data.get_line();
    else if (data.link_isSelected())
        f.link = data.get_link();
}

void MonitoringDataHolder::setTrapReceivers(std::vector<std::string> const& receivers)
{
    mTrapReceivers = receivers;
}

void MonitoringDataHolder::setSnmpCommands(MON::SnmpSetCommands const& commands)
{
    auto& own = mSnmp.ref_commands();
    for (auto const& incoming : commands.get_commands()) {
        bool found = false;
        for (auto c = own.begin(); c != own.end(); ++c) {
            if (SameSnmpId(c->get_id(), incoming.get_id())) {
                c->set_value(incoming.get_value());
                found = true;
            }
        }
        if (!found)
            own.push_back(incoming);
    }
}
