// The LGCP server's answer rules, byte for byte on the wire: each request
// payload goes in, and the TPKT frames the controller reads come out.
#include "control/ctrl_server.hpp"

#include <functional>
#include <string>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using Link = ctltest::NullLink;

using ctltest::bytes;
using ctltest::Capture;
using ctltest::hex;
using ctltest::read_now;
using ctltest::TcpPair;
using Log = std::vector<std::string>;

class Fake : public CtrlSrv::Service
{
public:
    using Action = std::function<bool(Fake&, LGCP::Command const&)>;
    Fake(Log* log, std::string tag, Action action = nullptr)
        : mLog(log), mTag(std::move(tag)), action(std::move(action))
    {
    }
    void OnConnect() override { mLog->push_back(mTag + ".connect"); }
    void OnDisconnect() override { mLog->push_back(mTag + ".disconnect"); }
    bool OnCommand(LGCP::Command const& command) override
    {
        mLog->push_back(mTag + ".command");
        return action ? action(*this, command) : false;
    }
    void OnSignal(LGCP::Signal const& signal) override
    {
        mLog->push_back(mTag + ".signal " + std::to_string(signal.currentSelection()));
    }

private:
    Log* mLog;
    std::string mTag;

public:
    Action action;
    unsigned token = 0;
};

LGCP::Signal activated()
{
    LGCP::Signal s;
    s.select_activated();
    return s;
}

// One server with a connected controller; the services are bound per test.
class ServerTest : public ctltest::LoopTest
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        server.Activate(new Link);
        auto* link = static_cast<Link*>(server.GetLink());
        Capture clog(std::clog);
        link->Connected(pair.server, pair.peer);
        pair.server.close();
        header = "ctrl [" + pair.peer.GetString() + "]: ";
        EXPECT_EQ(clog.text(), header + "controller connect.\n");
    }
    void TearDown() override
    {
        server.Deactivate();
        LoopTest::TearDown();
    }
    // Feeds one payload and returns the frames written, each as hex.
    std::string request(const std::string& payload_hex)
    {
        const std::string payload = bytes(payload_hex);
        server.OnMessage(payload.data(), static_cast<int>(payload.size()));
        return hex(read_now(pair.client));
    }

    Log log;
    CtrlSrv::Server server;
    TcpPair pair;
    std::string header;
};

bool ping_only(Fake& f, LGCP::Command const& c)
{
    if (!c.ping_isSelected())
        return false;
    f.Success();
    return true;
}

TEST_F(ServerTest, AnswerRules)
{
    struct Case {
        const char* what;
        Fake::Action first;  // bound first
        Fake::Action second; // bound second
        std::string request;
        std::string answer;
        std::string errors; // H stands for the server's header
        Log offered;
    };
    auto succeed = [](Fake& f, LGCP::Command const&) {
        f.Success();
        return true;
    };
    const std::vector<Case> cases = {
        {"ping with seq", ping_only, nullptr, "80 01 05 18", "03 00 00 08 80 01 05 40", "", {"a.command"}},
        {"ping with seq and slot",
         ping_only,
         nullptr,
         "C0 01 05 00 03 18",
         "03 00 00 0A C0 01 05 00 03 40",
         "",
         {"a.command"}},
        {"ping with neither", ping_only, nullptr, "06 00", "03 00 00 05 10", "", {"a.command"}},
        {"seq 300", ping_only, nullptr, "80 02 01 2C 18", "03 00 00 09 80 02 01 2C 40", "", {"a.command"}},
        {"slot 1024 is refused before any service sees it",
         ping_only,
         nullptr,
         "C0 01 05 04 00 18",
         "03 00 00 08 80 01 05 62",
         "",
         {}},
        {"response from the controller",
         ping_only,
         nullptr,
         "C0 01 05 00 03 40",
         "03 00 00 08 80 01 05 64",
         "",
         {}},
        {"signal from the controller", ping_only, nullptr, "80 01 05 85", "03 00 00 08 80 01 05 64", "", {}},
        {"signal from the controller without seq", ping_only, nullptr, "21 40", "03 00 00 06 19 00", "", {}},
        {"command nobody takes",
         ping_only,
         nullptr,
         "80 01 07 0A",
         "03 00 00 08 80 01 07 64",
         "",
         {"a.command", "b.command"}},
        {"command nobody takes, with slot",
         ping_only,
         nullptr,
         "C0 01 07 00 03 0A",
         "03 00 00 0A C0 01 07 00 03 64",
         "",
         {"a.command", "b.command"}},
        {"the first taker wins",
         ping_only,
         succeed,
         "C0 01 07 00 03 0A",
         "03 00 00 0A C0 01 07 00 03 40",
         "",
         {"a.command", "b.command"}},
        {"success then error: both go out",
         nullptr,
         [](Fake& f, LGCP::Command const&) {
             f.Success();
             f.Error(LGCP::ErrorCause::connectFail);
             return true;
         },
         "C0 01 07 00 05 0A",
         "03 00 00 0A C0 01 07 00 05 40 03 00 00 0A C0 01 07 00 05 69",
         "",
         {"a.command", "b.command"}},
        {"success twice: one answer",
         nullptr,
         [](Fake& f, LGCP::Command const&) {
             f.Success();
             f.Success();
             return true;
         },
         "80 01 07 0A",
         "03 00 00 08 80 01 07 40",
         "",
         {"a.command", "b.command"}},
        {"error twice: one answer",
         nullptr,
         [](Fake& f, LGCP::Command const&) {
             f.Error(LGCP::ErrorCause::slotNotExists);
             f.Error(LGCP::ErrorCause::busError);
             f.Success();
             return true;
         },
         "C0 01 07 00 03 0A",
         "03 00 00 0A C0 01 07 00 03 63",
         "",
         {"a.command", "b.command"}},
        {"taken but unanswered",
         nullptr,
         [](Fake&, LGCP::Command const&) { return true; },
         "80 01 07 0A",
         "03 00 00 08 80 01 07 65",
         "Hsoftware error: server do NOT send ack!!!\n",
         {"a.command", "b.command"}},
        {"promised: no answer now, no complaint",
         nullptr,
         [](Fake& f, LGCP::Command const&) {
             f.delayResponse();
             return true;
         },
         "C0 01 07 00 03 0A",
         "",
         "",
         {"a.command", "b.command"}},
        {"an error may follow a promise",
         nullptr,
         [](Fake& f, LGCP::Command const&) {
             f.delayResponse();
             f.Success();
             f.Error(LGCP::ErrorCause::invalidParams);
             return true;
         },
         "C0 01 07 00 03 0A",
         "03 00 00 0A C0 01 07 00 03 60",
         "",
         {"a.command", "b.command"}},
        {"undecodable payload: logged, not answered",
         ping_only,
         nullptr,
         "FF",
         "",
         "Hreceive fail: decode error!\n msg: FF \n",
         {}},
        {"empty payload: logged, not answered",
         ping_only,
         nullptr,
         "",
         "",
         "Hreceive fail: decode error!\n msg: \n",
         {}},
    };
    for (const Case& c : cases) {
        Log offered;
        Fake a(&offered, "a", c.first), b(&offered, "b", c.second);
        server.Bind(&a);
        server.Bind(&b);
        Capture cerr(std::cerr);
        EXPECT_EQ(request(c.request), c.answer) << c.what;
        std::string errors = c.errors;
        for (std::size_t at; (at = errors.find('H')) != std::string::npos;)
            errors.replace(at, 1, header);
        EXPECT_EQ(cerr.text(), errors) << c.what;
        EXPECT_EQ(offered, c.offered) << c.what;
        EXPECT_FALSE(server.IsSlotPresent()) << c.what;
        // The next command is handled normally.
        if (c.first) {
            EXPECT_EQ(request("80 01 09 18"), "03 00 00 08 80 01 09 40") << c.what;
        }
    }
}

TEST_F(ServerTest, UndecodablePayloadDumpIsCapped)
{
    Fake a(&log, "a", ping_only);
    server.Bind(&a);
    Capture cerr(std::cerr);
    std::string payload;
    for (int i = 0; i < 100; ++i)
        payload += "FF ";
    EXPECT_EQ(request(payload), "");
    std::string dump;
    for (int i = 0; i < 64; ++i)
        dump += "FF ";
    EXPECT_EQ(cerr.text(), header + "receive fail: decode error!\n msg: " + dump + "...\n");
}

TEST_F(ServerTest, SignalsSeeTheOtherServicesFirstAndCarryNoSeq)
{
    Fake a(&log, "a"), c(&log, "c");
    Fake b(&log, "b", [](Fake& f, LGCP::Command const&) {
        f.Success();
        f.SendSignal(activated());     // the command's slot
        f.SendSignal(17, activated()); // the slot given
        return true;
    });
    server.Bind(&a);
    server.Bind(&b);
    server.Bind(&c);
    EXPECT_EQ(request("C0 01 07 00 03 0A"),
              "03 00 00 0A C0 01 07 00 03 40 03 00 00 08 40 00 03 85 03 00 00 08 40 00 11 85");
    EXPECT_EQ(log, (Log{"a.command", "b.command", "a.signal 5", "c.signal 5", "a.signal 5", "c.signal 5"}));
    // Outside a command the slot is none.
    log.clear();
    b.SendSignal(activated());
    EXPECT_EQ(hex(read_now(pair.client)), "03 00 00 06 21 40");
    EXPECT_EQ(log, (Log{"a.signal 5", "c.signal 5"}));
}

TEST_F(ServerTest, DeferredAnswerCarriesItsOwnCommandsSeqOrNone)
{
    Fake a(&log, "a", [](Fake& f, LGCP::Command const& c) {
        if (c.ping_isSelected()) {
            f.Success();
            return true;
        }
        f.token = f.delayResponse();
        return true;
    });
    server.Bind(&a);
    EXPECT_EQ(request("C0 01 07 00 03 0A"), "");
    const unsigned with_seq = a.token;
    EXPECT_EQ(request("80 01 05 18"), "03 00 00 08 80 01 05 40");
    // destroy on slot 4 without seq: the promise has no seq, not the 5 above
    EXPECT_EQ(request("40 00 04 0A"), "");
    const unsigned without_seq = a.token;
    EXPECT_EQ(without_seq, CtrlSrv::kNoSeq);
    a.delayedSuccess(3, with_seq);
    a.delayedSuccess(4, without_seq);
    EXPECT_EQ(hex(read_now(pair.client)), "03 00 00 0A C0 01 07 00 03 40 03 00 00 08 40 00 04 40");
}

TEST_F(ServerTest, ConnectionEventsReachEveryServiceInBindOrder)
{
    Fake a(&log, "a"), b(&log, "b");
    server.Bind(&a);
    server.Bind(&b);
    Capture cerr(std::cerr), clog(std::clog);
    server.OnConnect();
    pair.client.close();
    run_for(10);
    EXPECT_EQ(log, (Log{"a.connect", "b.connect", "a.disconnect", "b.disconnect"}));
    std::ostringstream os;
    server.PutHeader(os);
    EXPECT_EQ(os.str(), "ctrl [not connected]: ");
    bool connected = true;
    EXPECT_TRUE(server.CheckServerConnection(connected));
    EXPECT_FALSE(connected);
    // Stopping tells every service again, connected or not.
    log.clear();
    server.Deactivate();
    EXPECT_EQ(log, (Log{"a.disconnect", "b.disconnect"}));
    os.str("");
    server.PutHeader(os);
    EXPECT_EQ(os.str(), "ctrl [null]: ");
    EXPECT_FALSE(server.CheckServerConnection(connected));
}

TEST(ServerAlone, FailuresToSend)
{
    Log log;
    CtrlSrv::Server server;
    Fake a(&log, "a", ping_only);
    server.Bind(&a);
    Capture cerr(std::cerr);
    const std::string ping = bytes("80 01 05 18");
    server.OnMessage(ping.data(), static_cast<int>(ping.size()));
    EXPECT_EQ(cerr.text(), "ctrl [null]: send fail: Service not attached!\n");
    cerr.clear();
    a.SendSignal(2000, activated());
    EXPECT_EQ(cerr.text().rfind("ctrl [null]: send fail: encode error!", 0), 0u) << cerr.text();
}

TEST(ServerAlone, AServiceDestroyedFirstIsForgotten)
{
    Log log;
    CtrlSrv::Server server;
    {
        Fake gone(&log, "gone");
        server.Bind(&gone);
    }
    Fake a(&log, "a");
    server.Bind(&a);
    server.OnDisconnect();
    EXPECT_EQ(log, (Log{"a.disconnect"}));
}

} // namespace
