#pragma once
// A hardware service under test: the simulated board installed, the service
// bound to its own LGCP server with a connected controller, each command
// given as a decoded message and what the controller receives as short texts
// (lgcp_text.hpp).
#include <string>
#include <vector>

#include "control/ctrl_server.hpp"
#include "platform/sim_board.hpp"
#include "tests/control/fixture.hpp"
#include "tests/hardware/lgcp_text.hpp"

namespace hwtest
{

class ServiceRig
{
public:
    explicit ServiceRig(platform::SimBoard& sim) { platform::setBoard(&sim); }
    ~ServiceRig()
    {
        server.Deactivate();
        platform::setBoard(nullptr);
    }

    // Binds the services in this order and connects the controller.
    void connect(const std::vector<CtrlSrv::Service*>& services)
    {
        for (CtrlSrv::Service* s : services)
            server.Bind(s);
        server.Activate(new ctltest::NullLink);
        static_cast<ctltest::NullLink*>(server.GetLink())->Connected(pair.server, pair.peer);
        pair.server.close();
    }

    // The command as a message with seq 1: what the controller receives at once.
    std::string command(LGCP::Command const& c)
    {
        LGCP::Message m;
        m.set_seq(1);
        m.set_pdu().select_command(c);
        return send(m);
    }
    std::string send(LGCP::Message const& m)
    {
        server.OnMessage(m);
        return received();
    }

    // What the controller received since the last call, "; " between messages.
    std::string received()
    {
        const std::string in = ctltest::read_now(pair.client);
        std::string out;
        for (std::size_t at = 0, n; at + 4 <= in.size(); at += n) {
            n = std::size_t((unsigned char)in[at + 2]) << 8 | (unsigned char)in[at + 3];
            out += (out.empty() ? "" : "; ") + text(in.data() + at + 4, n - 4);
        }
        return out;
    }

    CtrlSrv::Server server;
    ctltest::TcpPair pair;
};

// The journal lines of one device, without its path: "ioctl connect dst=8200 src=33 -> 0".
inline std::vector<std::string> journal(const platform::SimBoard& sim, const std::string& path)
{
    std::vector<std::string> out;
    for (const std::string& line : sim.journal()) {
        const std::size_t at = line.find(" " + path);
        if (at != std::string::npos)
            out.push_back(line.substr(0, at) + line.substr(at + path.size() + 1));
    }
    return out;
}

} // namespace hwtest
