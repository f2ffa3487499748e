#pragma once
// A service bound beside the slot manager that sees every signal a slot sends,
// each as one line of value notation.
#include <sstream>
#include <string>
#include <vector>

#include "asn1/asn1.hpp"
#include "control/ctrl_server.hpp"
#include "messages/lgcp/LGCP.hpp"

namespace slotstest
{

class SignalSpy : public CtrlSrv::Service
{
public:
    void OnConnect() override {}
    void OnDisconnect() override {}
    bool OnCommand(LGCP::Command const&) override { return false; }
    void OnSignal(LGCP::Signal const& s) override
    {
        std::ostringstream text;
        text << s;
        std::string one;
        for (char c : text.str()) {
            if (c == '\n')
                c = ' ';
            if (!(c == ' ' && !one.empty() && one.back() == ' '))
                one += c;
        }
        signals.push_back(one);
    }
    std::vector<std::string> signals;
};

} // namespace slotstest
