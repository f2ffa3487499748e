// The LGCP server's answer rules, byte for byte on the wire: each request
// payload goes in, and the TPKT frames the controller reads come out.
#include "control/ctrl_server.hpp"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "messages/lgcp/LGCP.hpp"
#include "tests/control/fixture.hpp"

namespace
{

using ctltest::Capture;
using ctltest::hex;
using ctltest::read_now;
using Log = std::vector<std::string>;

const LGCP::Signal activated(LGCP::Signal::activated::value, ASN1::Null());

// What a fake service does with a command, one letter per step: P answers a
// ping with success and stops, ! declines, s success, d promises (the token is
// kept), c/n/b/i errors connectFail/slotNotExists/busError/invalidParams, g/G
// an activated signal on the command's slot/on slot 17. Null declines all.
class Fake : public CtrlSrv::Service
{
public:
    Fake(Log* log, char tag, const char* script = nullptr) : mLog(log), mTag(1, tag), mScript(script) {}
    void OnConnect() override { mLog->push_back(mTag + ".connect"); }
    void OnDisconnect() override { mLog->push_back(mTag + ".disconnect"); }
    void OnSignal(LGCP::Signal const& s) override
    {
        mLog->push_back(mTag + ".signal " + std::to_string(s.currentSelection()));
    }
    bool OnCommand(LGCP::Command const& command) override
    {
        mLog->push_back(mTag + ".command");
        static const LGCP::ErrorCause::NamedNumber causes[] = {
            LGCP::ErrorCause::connectFail, LGCP::ErrorCause::slotNotExists, LGCP::ErrorCause::busError,
            LGCP::ErrorCause::invalidParams};
        static const char codes[] = "cnbi";
        for (const char* step = mScript; step && *step; ++step) {
            if (*step == 'P' && command.ping_isSelected())
                return Success(), true;
            if (*step == '!')
                return false;
            if (*step == 's')
                Success();
            if (*step == 'd')
                token = delayResponse();
            if (const char* e = std::strchr(codes, *step))
                Error(causes[e - codes]);
            if (*step == 'g' || *step == 'G')
                *step == 'g' ? SendSignal(activated) : SendSignal(17, activated);
        }
        return mScript != nullptr;
    }
    // The promise as delayResponse() gives it.
    decltype(std::declval<CtrlSrv::Service&>().delayResponse()) token{};

private:
    Log* mLog;
    std::string mTag;
    const char* mScript;
};

// One server with a connected controller; the services are bound per test.
class ServerTest : public ctltest::LoopTest, public ctltest::ServerRig
{
protected:
    void SetUp() override
    {
        LoopTest::SetUp();
        EXPECT_EQ(connect(), header + "controller connect.\n");
    }

    Log log;
    const std::string header = "ctrl [" + pair.peer.GetString() + "]: ";
};

// Service a answers pings only; service b, bound after it, follows a script.
TEST_F(ServerTest, AnswerRules)
{
    const Log ab{"a.command", "b.command"};
    const struct Case {
        const char *what, *b;
        std::string request, answer, errors; // in errors, H stands for the server's header
        Log offered;
    } cases[] = {
        {"the first taker wins", "s", "C0 01 07 00 03 0A", "03 00 00 0A C0 01 07 00 03 40", "", ab},
        {"success then error: both go out", "sc", "C0 01 07 00 05 0A",
         "03 00 00 0A C0 01 07 00 05 40 03 00 00 0A C0 01 07 00 05 69", "", ab},
        {"success twice: one answer", "ss", "80 01 07 0A", "03 00 00 08 80 01 07 40", "", ab},
        {"error twice: one answer", "nbs", "C0 01 07 00 03 0A", "03 00 00 0A C0 01 07 00 03 63", "", ab},
        {"taken but unanswered", "", "80 01 07 0A", "03 00 00 08 80 01 07 65",
         "Hsoftware error: server do NOT send ack!!!\n", ab},
        {"promised: no answer now, no complaint", "d", "C0 01 07 00 03 0A", "", "", ab},
        {"an error may follow a promise", "dsi", "C0 01 07 00 03 0A", "03 00 00 0A C0 01 07 00 03 60", "",
         ab},
        {"a command alternative of a later version is undecodable: offered to none",
         "s",
         "80 01 05 20 00 01 00",
         "",
         "Hreceive fail: decode error!\n msg: 80 01 05 20 00 01 00 \n",
         {}},
    };
    for (const Case& c : cases) {
        Log offered;
        Fake fa(&offered, 'a', "P!"), fb(&offered, 'b', c.b);
        server.Bind(&fa);
        server.Bind(&fb);
        Capture cerr(std::cerr);
        EXPECT_EQ(request(c.request), c.answer) << c.what;
        std::string errors = c.errors;
        for (std::size_t at; (at = errors.find('H')) != std::string::npos;)
            errors.replace(at, 1, header);
        EXPECT_EQ(cerr.text(), errors) << c.what;
        EXPECT_EQ(offered, c.offered) << c.what;
        EXPECT_FALSE(server.IsSlotPresent()) << c.what;
        // The next command is handled normally.
        EXPECT_EQ(request("80 01 09 18"), "03 00 00 08 80 01 09 40") << c.what;
    }
}

TEST_F(ServerTest, UndecodablePayloadDumpIsCapped)
{
    std::string payload, dump;
    for (int i = 0; i < 100; ++i)
        payload += "FF ", dump += i < 64 ? "FF " : "";
    Capture cerr(std::cerr);
    EXPECT_EQ(request(payload), "");
    EXPECT_EQ(cerr.text(), header + "receive fail: decode error!\n msg: " + dump + "...\n");
}

TEST_F(ServerTest, SignalsSeeTheOtherServicesFirstAndCarryNoSeq)
{
    Fake a(&log, 'a'), b(&log, 'b', "sgG"), c(&log, 'c');
    server.Bind(&a);
    server.Bind(&b);
    server.Bind(&c);
    EXPECT_EQ(request("C0 01 07 00 03 0A"),
              "03 00 00 0A C0 01 07 00 03 40 03 00 00 08 40 00 03 85 03 00 00 08 40 00 11 85");
    EXPECT_EQ(log, (Log{"a.command", "b.command", "a.signal 5", "c.signal 5", "a.signal 5", "c.signal 5"}));
    // Outside a command the slot is none.
    log.clear();
    b.SendSignal(activated);
    EXPECT_EQ(hex(read_now(pair.client)), "03 00 00 06 21 40");
    EXPECT_EQ(log, (Log{"a.signal 5", "c.signal 5"}));
}

// Every seq comes back on the deferred answer, -1 (FF) and the largest
// positive one included; a destroy without seq gets an answer without one, not
// the seq of the command before it.
TEST_F(ServerTest, DeferredAnswerCarriesItsOwnCommandsSeqOrNone)
{
    const struct Case {
        const char* what;
        unsigned slot;
        const char *request, *answer;
    } cases[] = {
        {"seq 7", 3, "C0 01 07 00 03 0A", "03 00 00 0A C0 01 07 00 03 40"},
        {"seq -1", 2, "C0 01 FF 00 02 0A", "03 00 00 0A C0 01 FF 00 02 40"},
        {"seq 2147483647", 1, "C0 04 7F FF FF FF 00 01 0A", "03 00 00 0D C0 04 7F FF FF FF 00 01 40"},
        {"no seq", 4, "40 00 04 0A", "03 00 00 08 40 00 04 40"},
    };
    Fake a(&log, 'a', "Pd");
    server.Bind(&a);
    for (const Case& c : cases) {
        // A ping with seq 5 first: its seq must not stick to the promise.
        EXPECT_EQ(request("80 01 05 18"), "03 00 00 08 80 01 05 40") << c.what;
        EXPECT_EQ(request(c.request), "") << c.what;
        a.delayedSuccess(c.slot, a.token);
        EXPECT_EQ(hex(read_now(pair.client)), c.answer) << c.what;
    }
}

TEST_F(ServerTest, ConnectionEventsReachEveryServiceInBindOrder)
{
    Fake a(&log, 'a'), b(&log, 'b');
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

TEST(ServerAlone, FailuresToSendAndAServiceDestroyedFirst)
{
    Log log;
    CtrlSrv::Server server;
    {
        Fake gone(&log, 'z');
        server.Bind(&gone);
    }
    Fake a(&log, 'a', "P!");
    server.Bind(&a);
    Capture cerr(std::cerr);
    const std::string ping = ctltest::bytes("80 01 05 18");
    server.OnMessage(ping.data(), static_cast<int>(ping.size()));
    EXPECT_EQ(cerr.text(), "ctrl [null]: send fail: Service not attached!\n");
    cerr.clear();
    a.SendSignal(2000, activated);
    EXPECT_EQ(cerr.text().rfind("ctrl [null]: send fail: encode error!", 0), 0u) << cerr.text();
    // The destroyed service is forgotten.
    log.clear();
    server.OnDisconnect();
    EXPECT_EQ(log, (Log{"a.disconnect"}));
}

} // namespace
