// Modem slots through the slot manager on the simulated board, with fake PPP
// daemons and fax programs (small shell scripts given as `execfile`): the
// command lines, the modem and interface requests, the hang-up, time-out and
// kill of a destroy and its late answer, exit statuses, fax results, record
// dispatch and routing between plugin connections and slots. The activation
// records on the wire are the end-to-end modem test's.
// Frames read "ok #7 @2", "@2 transmitter 96", "@2 abort 512",
// "@2 auth alice/secret", "@2 acct 0:1 0:2 0:3 0:4 0:5".
#include <memory>

#include "runtime/listen_watch.hpp"
#include "slots/modem/dsp_modem_slot.hpp"
#include "slots/modem/hdlc_modem_slot.hpp"
#include "slots/modem/modem_factory.hpp"
#include "tests/slots/frames.hpp"
#include "tests/slots/media_fixture.hpp"

namespace
{

using ctltest::Capture;
using mediatest::board;

// Arguments "<prefix>0", "<prefix>1", ...
void set_args(TERM::ModemParams& p, int n, const std::string& prefix = "a")
{
    p.set_execargs().clear();
    for (int k = 0; k < n; ++k)
        p.ref_execargs().push_back(ASN1::IA5String(prefix + std::to_string(k)));
}

std::string joined(std::vector<std::string> const& v)
{
    std::string out;
    for (auto const& s : v)
        out += (out.empty() ? "" : " ") + s;
    return out;
}

TERM::ModemParams modem(const char* cid = "42")
{
    TERM::ModemParams p;
    p.set_cid(cid), p.set_cdid("100");
    return p;
}

TEST(ModemCommandLines, PppdArguments)
{
    struct Case {
        const char *cid, *execfile;
        int execargs; // -1 absent
        const char* expected;
    } const cases[] = {
        {"", nullptr, -1, "/usr/local/sbin/pppd file OPT DEV"},
        {"555", nullptr, 0, "/usr/local/sbin/pppd"},
        {"555", "/x/ppp", 2, "/x/ppp a0 a1"},
    };
    for (auto const& c : cases) {
        TERM::ModemParams p = modem(c.cid);
        if (c.execfile)
            p.set_execfile(c.execfile);
        if (c.execargs >= 0)
            set_args(p, c.execargs);
        EXPECT_EQ(c.expected, joined(ModemSlot::pppd_args(p, "DEV", "OPT")));
    }
    TERM::ModemParams p = modem();
    set_args(p, 70);
    const auto argv = ModemSlot::pppd_args(p, "DEV", "OPT");
    EXPECT_EQ(63u, argv.size()) << "the program, 62 arguments and the null fill the 64 entries";
    EXPECT_EQ("a61", argv.back());
}

TEST(ModemCommandLines, FaxArgumentsAndDataModes)
{
    TERM::ModemParams p = modem();
    set_args(p, 2, "f");
    EXPECT_EQ("/usr/local/sbin/fax -m 3 f0 f1", joined(DspModemSlot::fax_sender_args(p, 3)));
    p.set_execfile("/x/fax");
    set_args(p, 65, "f");
    const auto argv = DspModemSlot::fax_sender_args(p, 3);
    EXPECT_EQ(63u, argv.size());
    EXPECT_EQ("/x/fax f59", argv[0] + " " + argv.back());
    EXPECT_EQ("/usr/local/bin/fax -m 1 receive /var/fax-09-05-07.g3",
              joined(DspModemSlot::fax_receiver_args(1, "/var/fax-09-05-07.g3")));

    using M = TERM::DigitalDataModeEnum;
    struct Case {
        std::vector<int> modes;
        int mask;
    } const masks[] = {{{M::ddmV110, M::ddm7BIT}, 5}, {{M::ddmV120}, 0}, {{M::ddm8BIT}, 2}};
    for (auto const& c : masks) {
        TERM::ModemParams q = modem();
        for (int m : c.modes)
            q.set_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::NamedNumber(m)));
        EXPECT_EQ(c.mask, DspModemSlot::ddm_mask(q));
    }
}

class Modems : public mediatest::MediaSlots
{
protected:
    void SetUp() override
    {
        MediaSlots::SetUp();
        for (const char* c : {"device /dev/mctl present", "mctl modems 2 96", "netif add hdlc0 40",
                              "netif add hdlc1 41 0x19", "netif add hdlc2 42"})
            ASSERT_EQ("ok\n", board().execute(c));
        {
            Capture err(std::cerr);
            ModemFactory::instance().IQuery();
        }
        create_trunk(1, 1);
        board().clear_journal();
    }
    void TearDown() override
    {
        Capture err(std::cerr);
        MediaSlots::TearDown();
        EXPECT_TRUE(ModemFactory::instance().slots().empty());
        for (const char* c : {"netif remove hdlc0", "netif remove hdlc1", "netif remove hdlc2"})
            board().execute(c);
    }
    // A fake program: adds its number to the fixture's list of programs,
    // records its arguments in <root>/args, then runs `body`, in which
    // `ready` tells ready() that what comes before it (a trap) is in place.
    std::string program(const char* name, const char* body)
    {
        std::string path = root + "/" + name;
        std::ofstream(path) << "#!/bin/sh\necho $$ >> " << root << "/pids\necho \"$0 $*\" > " << root
                            << "/args\nready() { : > " << root << "/ready; }\n"
                            << body << "\n";
        ::chmod(path.c_str(), 0755);
        return path;
    }
    // Waits, within a generous bound, until the program has run its `ready`:
    // a signal sent before it would find the program without its trap.
    bool ready() const
    {
        const std::string path = root + "/ready";
        for (int k = 0; k < 3000 && ::access(path.c_str(), F_OK) != 0; ++k)
            ::poll(nullptr, 0, 10);
        return ::access(path.c_str(), F_OK) == 0;
    }
    static LGCP::Command create(TERM::ModemParams const& p)
    {
        LGCP::Command c;
        c.select_create().select_modem(p);
        return c;
    }
    static LGCP::Command simple(const char* what) // destroy, connect (to 1), activate
    {
        LGCP::Command c;
        *what == 'd'   ? void(c.select_destroy())
        : *what == 'c' ? void(c.select_connect(1u))
                       : void(c.select_activate().select_modem().set_mtu(1500));
        return c;
    }
    // The frames with the slot of each answer.
    std::string send(int seq, unsigned slot, LGCP::Command const& command)
    {
        LGCP::Message m;
        m.set_seq(seq), m.set_slot(slot), m.set_pdu().select_command(command);
        server.OnMessage(m);
        board().service(); // the board sees the descriptors closed meanwhile
        return frames();
    }
    std::string frames() { return slotstest::frames(ctltest::read_now(pair.client)); }
    ModemSlot* slot(unsigned n) { return dynamic_cast<ModemSlot*>(Slots::instance().GetSlotAt(n)); }
    // Lets the loop run, in real time, until the slot's child has ended.
    void child_ends(unsigned n)
    {
        for (int k = 0; k < 2000 && slot(n) && slot(n)->child() != -1; ++k) {
            ::poll(nullptr, 0, 10);
            run_for(1);
        }
        ASSERT_TRUE(!slot(n) || slot(n)->child() == -1);
    }
    // Waits until the daemon of slot `n` runs its program: until then the
    // forked child holds every descriptor of the test's, plugin ends
    // included, and would be taken for the process that holds them.
    bool runs_program(unsigned n)
    {
        const std::string pid = std::to_string(slot(n) ? slot(n)->child() : -1) + "\n";
        for (int k = 0; k < 3000; ++k) {
            const std::string pids = "\n" + testutil::read_file(root + "/pids");
            if (pids.find("\n" + pid) != std::string::npos)
                return true;
            ::poll(nullptr, 0, 10);
        }
        return false;
    }
    // The lines of the slot whose header starts with `prefix`, headers left
    // out.
    static std::string slot_lines(std::string const& log, const char* prefix)
    {
        std::string out;
        std::istringstream in(lines(log, prefix));
        for (std::string line; std::getline(in, line);)
            out += line.substr(line.find(": ") + 2) + "\n";
        return out;
    }
    std::string args() const
    {
        const std::string line = testutil::read_file(root + "/args");
        ::unlink((root + "/args").c_str());
        return line.substr(0, line.find('\n'));
    }

    ctltest::Capture& clog = quiet;
};

// The set-up's requests by the kind of call, and the command line of the
// daemon it starts.
TEST_F(Modems, DspModemSetUpPerKindOfCall)
{
    Capture err(std::cerr);
    const std::string hup = program("quick", "exit 0");
    struct Case {
        bool originate, fax, dmp;
        const char *requests, *args;
    } const cases[] = {
        {false, false, false, "allocate -> 0 | timeslot -> 96 | dmp-reset modem=0 -> 0 | answer modem=0 -> 0",
         "aoptions /dev/mdm0 remotenumber 42"},
        {true, false, true,
         "allocate -> 0 | timeslot -> 96 | dmp-reset modem=0 -> 0 | dmp modem=0 offset=3 value=7 -> -1 EIO | "
         "dmp modem=0 offset=9 value=1 -> 0 | originate modem=0 -> 0",
         "coptions /dev/mdm0 remotenumber 42"},
        {true, true, false, "allocate -> 0 | timeslot -> 96 | dmp-reset modem=0 -> 0 | fax modem=0 -> 0", ""},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.requests);
        TERM::ModemParams p = modem();
        p.set_execfile(hup);
        if (c.originate)
            p.set_originate();
        if (c.fax)
            p.set_fax();
        if (c.dmp) {
            TERM::DDModemParam a, b;
            a.set_offset(3), a.set_value(7), b.set_offset(9), b.set_value(1);
            p.set_dmp().push_back(a), p.ref_dmp().push_back(b);
            board().fail("/dev/mctl", platform::mctl::kSetDmp, EIO, 1);
        }
        EXPECT_EQ("ok #2 @2", send(2, 2, create(p)));
        EXPECT_EQ("@2 transmitter 96 | @2 receiver 96 | ok #3 @2", send(3, 2, simple("connect")));
        EXPECT_EQ(c.requests, requests("/dev/mctl"));
        if (*c.args) {
            child_ends(2);
            EXPECT_EQ(hup + " file " + root + "/usr/local/etc/ppp/" + c.args, args());
            EXPECT_EQ("@2 abort 0", frames()) << "a daemon that ends by itself";
        }
        EXPECT_EQ("ok #4 @2", send(4, 2, simple("destroy")));
    }
    EXPECT_NE(std::string::npos, err.text().find("set dmp parameter index=3 value=7 failed : "));
}

// Joined while the daemon is short of descriptors, a DSP modem slot that got
// its modem keeps it for the whole call: the descriptor that holds it is the
// slot's own, not a duplicate that could fail and give the modem back. The
// first pass, with descriptors to spare, lets the sanitizer build meet its
// types before the shortage.
TEST_F(Modems, AModemAllocatedAtTheDescriptorLimitIsKept)
{
    Capture err(std::cerr);
    TERM::ModemParams fax = modem();
    fax.set_fax(), fax.set_originate(); // no child
    for (int spare : {64, 2, 3}) {
        SCOPED_TRACE("spare descriptors: " + std::to_string(spare));
        EXPECT_EQ("ok #2 @2", send(2, 2, create(fax)));
        std::string answer;
        {
            testutil::Shortage shortage(spare);
            answer = send(3, 2, simple("connect"));
        }
        EXPECT_EQ("@2 transmitter 96 | @2 receiver 96 | ok #3 @2", answer);
        EXPECT_EQ(1u, board().open_count("/dev/mctl")) << "the modem is held";
        EXPECT_EQ("ok #4 @2", send(4, 2, simple("destroy")));
        EXPECT_EQ(0u, board().open_count("/dev/mctl"));
    }
}

// The receiver's file at 09:05:07 by the files already there: its own name
// when free, else the first free "-N" before ".g3".
TEST_F(Modems, FaxReceiverFileSkipsFilesThatExist)
{
    ::mkdir((root + "/var").c_str(), 0755);
    std::tm at{};
    at.tm_hour = 9, at.tm_min = 5, at.tm_sec = 7;
    struct Case {
        const char* create; // made before the row, kept for the next rows
        const char* expected;
    } const cases[] = {
        {nullptr, "/var/fax-09-05-07.g3"},
        {"/var/fax-09-05-07.g3", "/var/fax-09-05-07-1.g3"},
        {"/var/fax-09-05-07-2.g3", "/var/fax-09-05-07-1.g3"},
        {"/var/fax-09-05-07-1.g3", "/var/fax-09-05-07-3.g3"},
    };
    for (auto const& c : cases) {
        if (c.create)
            write_file(c.create, "");
        EXPECT_EQ(c.expected, DspModemSlot::fax_receiver_file(at)) << (c.create ? c.create : "none");
    }
}

// The caller's number reaches the daemon's command line as it is, and the log
// on one line, its control bytes escaped.
TEST_F(Modems, CallerNumberIsLoggedOnOneLine)
{
    TERM::ModemParams p = modem("42\nFORGED LINE: hwMux: device lost");
    p.set_execfile(program("quick", "exit 0"));
    EXPECT_EQ("ok #2 @2", send(2, 2, create(p)));
    clog.clear();
    EXPECT_EQ("@2 transmitter 96 | @2 receiver 96 | ok #3 @2", send(3, 2, simple("connect")));
    const std::string log = clog.text();
    EXPECT_EQ(0u, log.find("pppd executed cid=\"42\\nFORGED LINE: hwMux: device lost\" pid=")) << log;
    EXPECT_EQ(std::string::npos, log.find("\nFORGED")) << log;
    child_ends(2);
    EXPECT_EQ("@2 abort 0", frames());
    EXPECT_EQ("ok #4 @2", send(4, 2, simple("destroy")));
}

// A destroy waits for the child: SIGKILL follows 5000 ms after SIGHUP. A
// child that ends on SIGHUP is the end-to-end modem test's.
TEST_F(Modems, DestroyHangsUpAndAnswersWhenTheChildIsGone)
{
    TERM::ModemParams p = modem();
    p.set_execfile(program("pppd", "trap '' HUP; ready; while :; do sleep 0.02; done"));
    send(2, 2, create(p));
    send(3, 2, simple("connect"));
    ASSERT_TRUE(ready()) << "the script has not set its trap";
    Capture err(std::cerr);
    EXPECT_EQ("", send(9, 2, simple("destroy")));
    EXPECT_EQ("destroyInProgress #10 @2", send(10, 2, simple("connect")));
    run_for(ModemSlot::kTerminateTimeout - 1);
    EXPECT_EQ("", frames());
    child_ends(2);
    EXPECT_EQ("ok #9 @2", frames());
    EXPECT_EQ(nullptr, slot(2));
    std::string logs;
    std::istringstream in(err.text());
    for (std::string line; std::getline(in, line);)
        logs += line.substr(line.find(": ") + 2) + "\n";
    // The time-out's kill, and the destructor's again: the child's end had
    // not been seen when the slot went.
    EXPECT_EQ("sent HUP to pppd.\npppd terminate timeout!\npppd isn't terminated, killing ...\n"
              "pppd isn't terminated, killing ...\n",
              logs);
}

// A child that the child-wait service has reaped, its end not yet handled,
// gets no signal: its process number may be another process's by now. The
// hang-up is still logged.
TEST_F(Modems, AReapedChildIsNeverSignalled)
{
    TERM::ModemParams p = modem();
    p.set_execfile(program("pppd", "exit 0"));
    send(2, 2, create(p));
    send(3, 2, simple("connect"));
    const id_t pid = id_t(slot(2)->child());
    siginfo_t info{};
    for (int k = 0; k < 2000 && ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0; ++k)
        ::poll(nullptr, 0, 10);
    ASSERT_EQ(-1, ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT)) << "reaped, its end not handled";
    Capture err(std::cerr);
    EXPECT_EQ("", send(4, 2, simple("destroy"))) << "its end is on the way";
    run_for(1);
    EXPECT_EQ("ok #4 @2", frames());
    EXPECT_EQ("02:dsp-modem: sent HUP to pppd.\n", err.text());
}

// A program that cannot run ends with 2 (status 512); a fax program's exit
// code is its pages, unless it never ran.
TEST_F(Modems, ExitStatusesAndFaxResults)
{
    struct Case {
        bool fax;
        const char* body; // null: the program does not exist
        const char *frames, *log;
    } const cases[] = {
        {false, nullptr, "@2 abort 512", "pppd terminated with code 512"},
        {true, "exit 3", "@2 acct 0:0 0:3 0:0 0:0 0:0 | @2 abort 768", "pages received: 3"},
        {true, nullptr, "@2 abort 512", "fax transfer failed"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.frames);
        TERM::ModemParams p = modem();
        p.set_execfile(c.body ? program("prog", c.body) : root + "/missing");
        if (c.fax)
            p.set_fax(), p.set_execargs().push_back("to");
        send(2, 2, create(p));
        Capture out(std::cout);
        EXPECT_EQ("@2 transmitter 96 | @2 receiver 96 | ok #3 @2", send(3, 2, simple("connect")));
        clog.clear();
        child_ends(2);
        EXPECT_EQ(c.frames, frames());
        EXPECT_NE(std::string::npos, clog.text().find(c.log)) << clog.text();
        EXPECT_TRUE(!c.fax || c.body || clog.text().find("pages received") == std::string::npos);
        EXPECT_EQ("ok #4 @2", send(4, 2, simple("destroy")));
    }
}

// The free interfaces (point-to-point, not loopback, up to the first missing
// one); a digital modem's interface switched to PPP and back; an interface
// never given to two slots.
TEST_F(Modems, DigitalModemSwitchesItsInterface)
{
    board().execute("netif remove hdlc1");
    board().execute("netif add hdlc3 43");
    ModemFactory& f = ModemFactory::instance();
    f.IQuery();
    EXPECT_EQ((std::list<std::string>{"hdlc0"}), f.free_interfaces()) << "hdlc3 is beyond the missing hdlc1";
    EXPECT_NE(std::string::npos, clog.text().find("found point-o-point devices: hdlc0\n"));

    TERM::ModemParams p = modem();
    p.set_ddm().push_back(TERM::DigitalDataModeEnum::ddmV110);
    p.set_execfile(program("hup", "trap 'exit 0' HUP; while :; do sleep 0.02; done"));
    EXPECT_EQ("ok #2 @2", send(2, 2, create(p)));
    f.IQuery();
    EXPECT_TRUE(f.free_interfaces().empty()) << "the slot's interface is not free again";
    EXPECT_EQ("ok #3 @3", send(3, 3, create(p)));
    EXPECT_EQ("dsp-modem", std::string(slot(3)->GetName())) << "no interface left";
    send(4, 3, simple("destroy"));
    board().clear_journal();

    EXPECT_EQ("@2 transmitter 40 | ok #5 @2", send(5, 2, simple("connect"))) << "the join's own signal";
    EXPECT_EQ(
        "SIOCWANDEV hdlc0 IF_GET_IFACE size=128 -> 0 channel=40 | SIOCWANDEV hdlc0 IF_PROTO_PPP size=4 -> 0",
        requests(platform::netif::kSocket));
    EXPECT_EQ(40, slot(2)->IGetTransmitChannel());
    EXPECT_EQ("hdlc0 flags=0x11 proto=ppp channel=40\nok\n", board().execute("netif show hdlc0"));
    for (int k = 0; k < 200 && args().empty(); ++k)
        ::poll(nullptr, 0, 10);
    Capture err(std::cerr);
    send(6, 2, simple("destroy"));
    child_ends(2);
    EXPECT_EQ("ok #6 @2", frames());
    EXPECT_EQ("SIOCGIFFLAGS hdlc0 -> 0 flags=0x11 | SIOCSIFFLAGS hdlc0 flags=0x10 -> 0 | SIOCWANDEV hdlc0 "
              "IF_PROTO_HDLC size=4 -> 0",
              requests(platform::netif::kSocket));
    EXPECT_EQ("hdlc0 flags=0x10 proto=hdlc channel=40\nok\n", board().execute("netif show hdlc0"));
    EXPECT_EQ((std::list<std::string>{"hdlc0"}), f.free_interfaces());
}

// Records reach their slot and are read by type and size; one too short to
// hold its session reaches none. A connection's first record goes to a slot of
// its session (-1 is every digital modem's and every DSP modem's not yet
// allocated): one that runs a daemon before one that does not, then one that
// no connection speaks for yet, and none when that leaves two running ones.
// From then on the connection speaks for that slot: its records go there
// whatever their session word, and the slot's activation records go to the
// latest connection that speaks for it and carried a request of its call,
// and to none when none does.
TEST_F(Modems, RecordsByTypeSizeAndSession)
{
    Capture err(std::cerr);
    TERM::ModemParams fax = modem();
    fax.set_fax(), fax.set_originate();
    send(2, 2, create(fax));
    send(3, 2, simple("connect")); // modem 0, no child
    frames();
    auth::attr r{};
    auth::voauth& q = reinterpret_cast<auth::voauth&>(r);
    std::strcpy(q.username, "alice");
    std::memset(q.password, 'p', sizeof q.password); // no NUL: all 64 bytes
    auth::voacct& a = reinterpret_cast<auth::voacct&>(r);
    struct Case {
        std::int32_t length, type, session;
        const char *frames, *log;
    } const cases[] = {
        {140, 1, 0, nullptr, ""}, // the name and the whole password
        {139, 1, 0, "", "auth request, invalid size: 139"},
        {141, 1, 0, "", "auth request, invalid size: 141"},
        {16, 2, 0, "", "auth accept, ignored."},
        {36, 3, 0, "", "auth ip, ignored."},
        {64, 4, 0, "@2 acct 1:2 3:4 5:6 7:8 0:9", ""},
        {63, 4, 0, "", "auth accounting, invalid size: 63"},
        {12, 9, 0, "", "unknown request from portslave: 0x9"},
        {140, 1, 1, "", "receive auth request for unknown session 1"},
        {4, 1, 0, "", "auth record too short: 4 bytes, ignored.\n"},
        {11, 1, 0, "", "auth record too short: 11 bytes, ignored.\n"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.log);
        if (c.type == 4) {
            const std::uint32_t words[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
            std::memcpy(a.octetsSent, words, sizeof words);
        }
        r.length = c.length, r.type = c.type, r.session = c.session;
        err.clear();
        ModemFactory::instance().OnAuth(nullptr, &r);
        EXPECT_EQ(c.frames ? c.frames : "@2 auth alice/" + std::string(64, 'p'), frames());
        if (*c.log)
            EXPECT_NE(std::string::npos, err.text().find(c.log)) << err.text();
        else
            EXPECT_EQ("", err.text());
    }

    // Session -1: a DSP modem not yet allocated (4) and two digital modems (5,
    // 6). A connection that has sent nothing, accepted first, speaks for none.
    TERM::ModemParams digital = modem();
    digital.set_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
    digital.set_execfile(program("pppd", "exec sleep 60"));
    send(4, 4, create(modem()));
    send(5, 5, create(digital));
    send(6, 6, create(digital));
    EXPECT_EQ("unsupported #7 @5", send(7, 5, simple("activate"))) << "no plugin";
    ASSERT_TRUE(ModemFactory::instance().listening());
    auto const& clients = ModemFactory::instance().clients();
    std::vector<Fd> plugins; // the silent one, A, B, C, D
    for (std::size_t k = 1; k <= 5; ++k) {
        plugins.push_back(ctltest::connect_to(auth::kPort));
        ASSERT_TRUE(pump_for([&] { return clients.size() == k; }));
    }
    Capture out(std::clog);
    EXPECT_EQ("unsupported #19 @5", send(19, 5, simple("activate"))) << "no request yet";
    EXPECT_NE(std::string::npos, out.text().find("send error: unknown auth 4294967295 session.\n"))
        << out.text();
    r.length = 140, r.type = 1;
    enum { A = 1, B, C, D };
    struct Step {
        const char* what;
        unsigned destroy, start; // the slot destroyed (its daemon ended), the one whose daemon starts
        int from;                // the connection that sends a request, or its accounting (-D)
        std::int32_t session;
        const char *auth, *log; // what the record gives: its frames, or a line
        unsigned activated;
        const char* answer;
        int gets; // the connection that gets the accept and ip records, -1 none
    } const steps[] = {
        {"running before idle", 0, 5, A, -1, "@5", "", 5, "ok #8 @5", A},
        {"not spoken for before spoken for", 0, 6, B, -1, "@6", "", 6, "ok #9 @6", B},
        {"whatever the session word", 0, 0, A, 0, "@5", "", 5, "ok #10 @5", A},
        {"two running slots, both spoken for", 0, 0, C, -1, "", "matches several modem slots, dropped.", 4,
         "unsupported #11 @4", -1},
        {"the slot gone", 6, 0, B, -1, "", "receive auth request for unknown session 4294967295\n", 0, "",
         -1},
        {"the latest to speak", 0, 0, C, -1, "@5", "", 5, "ok #12 @5", C},
        {"not one that carried no request", 0, 0, -D, -1, "@5 acct 0:0 0:0 0:0 0:0 0:0", "", 5, "ok #13 @5",
         C},
    };
    int seq = 8;
    for (auto const& c : steps) {
        SCOPED_TRACE(c.what);
        if (c.destroy) {
            send(30, c.destroy, simple("destroy"));
            child_ends(c.destroy);
            EXPECT_EQ("ok #30 @" + std::to_string(c.destroy), frames());
        }
        if (c.start) {
            send(20, c.start, simple("connect"));
            frames();
            ASSERT_TRUE(runs_program(c.start));
        }
        err.clear();
        r.session = c.session;
        const auth::attr acct{64, auth::kAccounting, c.session, {}};
        ctltest::send_all(plugins[std::size_t(std::abs(c.from))],
                          c.from > 0 ? std::string(reinterpret_cast<const char*>(&r), 140)
                                     : std::string(reinterpret_cast<const char*>(&acct), 64));
        std::string got;
        ASSERT_TRUE(pump_for([&] { return !(got += frames()).empty() || !err.text().empty(); }))
            << "the record gave neither a frame nor a line";
        EXPECT_EQ(!*c.auth || c.from < 0 ? c.auth
                                         : c.auth + std::string(" auth alice/") + std::string(64, 'p'),
                  got);
        EXPECT_EQ(*c.log != 0, err.text().find(*c.log ? c.log : "?") != std::string::npos) << err.text();
        if (!c.activated)
            continue;
        EXPECT_EQ(c.answer, send(seq++, c.activated, simple("activate")));
        std::vector<std::string> records(plugins.size());
        if (c.gets >= 0) {
            // The ip record may follow the accept record only once the
            // plugin's side has acknowledged it.
            EXPECT_TRUE(pump_for([&] {
                records[std::size_t(c.gets)] += ctltest::read_now(plugins[std::size_t(c.gets)]);
                return records[std::size_t(c.gets)].size() >= 52;
            }));
        }
        for (std::size_t k = 0; k < plugins.size(); ++k) {
            records[k] += ctltest::read_now(plugins[k]);
            EXPECT_EQ(int(k) == c.gets ? 52u : 0u, records[k].size()) << "connection " << k;
        }
    }
    send(30, 5, simple("destroy"));
    child_ends(5);
    send(8, 4, simple("destroy"));
    send(9, 2, simple("destroy"));
}

// Two DSP modems not yet allocated share session -1 and neither runs a
// daemon: a request or an accounting record of that session cannot be told
// to be either's, and no daemon's end would ever settle it: it is dropped at
// once. Once one is allocated, its own number finds it alone.
TEST_F(Modems, ARecordThatTwoIdleSlotsMatchGoesToNeither)
{
    Capture err(std::cerr);
    send(2, 2, create(modem()));
    send(3, 3, create(modem()));
    frames();
    auth::attr r{};
    for (std::int32_t type : {auth::kRequest, auth::kAccounting}) {
        r.length = type == auth::kRequest ? 140 : 64, r.type = type, r.session = -1;
        err.clear();
        ModemFactory::instance().OnAuth(nullptr, &r);
        EXPECT_EQ("", frames());
        EXPECT_EQ("modem[2,2]: auth record for session 4294967295 matches several modem slots, dropped.\n",
                  err.text());
        EXPECT_EQ(0u, ModemFactory::instance().waiting());
    }
    r.length = 140, r.type = auth::kRequest;
    send(4, 3, simple("connect")); // modem 0
    frames();
    r.session = 0;
    ModemFactory::instance().OnAuth(nullptr, &r);
    EXPECT_EQ("@3 auth /", frames());
    send(5, 2, simple("destroy"));
    send(6, 3, simple("destroy"));
}

// The slots that a first record of each type may be for, when no running
// daemon holds its connection, by the states of two slots X and Y of its
// session, created in that order: a running PPP daemon first (a fax program
// is none); then, but for an accounting record, for a request a call that has
// not asked since its daemon started and is not being released, and one that
// no connection speaks for. "XY": the ranks cannot tell them apart.
TEST_F(Modems, RanksOfTheSlotsAFirstRecordMayBeFor)
{
    Capture err(std::cerr);
    ::mkdir((root + "/usr/local/bin").c_str(), 0755);
    program("usr/local/bin/fax", "exec sleep 60");
    const std::string pppd = program("pppd", "exec sleep 60"),
                      deaf = program("deaf", "trap '' HUP; ready; exec sleep 60");
    auto const& clients = ModemFactory::instance().clients();
    struct Case {
        // X's and Y's: idle, a fax receiver, running, asked, being released
        // (its daemon not yet ended), spoken for by a connection that asked,
        // asked with a daemon that has ended and was started again.
        const char* states;
        const char *request, *accounting, *accept;
    } const cases[] = {
        {"ir", "Y", "Y", "Y"},  {"fr", "Y", "Y", "Y"},    {"ar", "Y", "XY", "XY"},  {"hr", "Y", "XY", "XY"},
        {"sa", "Y", "XY", "Y"}, {"rr", "XY", "XY", "XY"}, {"ii", "XY", "XY", "XY"}, {"nr", "XY", "XY", "XY"},
    };
    auth::attr r{};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.states);
        const bool dsp = c.states[0] == 'f'; // the fax receiver's modem, then the call's: modem 0 both
        for (unsigned n : {2u, 3u}) {
            TERM::ModemParams p = modem();
            if (c.states[n - 2] == 'f')
                p.set_fax();
            else if (!dsp)
                p.set_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
            p.set_execfile(c.states[n - 2] == 'h' ? deaf : pppd);
            send(int(n), n, create(p));
        }
        Fd plugin;
        for (unsigned n : {2u, 3u}) {
            const char state = c.states[n - 2];
            if (state == 'i')
                continue;
            ::unlink((root + "/ready").c_str());
            send(10, n, simple("connect"));
            r.length = 140, r.type = auth::kRequest, r.session = -1;
            if (state == 'a' || state == 'n')
                slot(n)->OnAuth(&r);
            if (state == 'n') {
                ::kill(slot(n)->child(), SIGTERM);
                child_ends(n);
                dynamic_cast<HdlcModemSlot&>(*slot(n)).initModem();
                ASSERT_TRUE(slot(n)->pppd_executing()) << "a daemon again";
            }
            if (state == 's') {
                ASSERT_TRUE(runs_program(n));
                plugin = ctltest::connect_to(auth::kPort);
                ctltest::send_all(plugin, std::string(reinterpret_cast<const char*>(&r), 140));
                std::string got;
                ASSERT_TRUE(pump_for([&] { return !(got += frames()).empty(); })) << err.text();
                EXPECT_EQ("@2 auth /", got) << "the one running daemon's";
            }
            if (state == 'h') {
                ASSERT_TRUE(ready());
                send(11, n, simple("destroy"));
            }
        }
        frames();
        struct {
            std::int32_t type;
            const char* slots;
        } const types[] = {
            {auth::kRequest, c.request}, {auth::kAccounting, c.accounting}, {auth::kAccept, c.accept}};
        for (auto const& t : types) {
            std::string found;
            for (ModemSlot* s : ModemFactory::instance().FindAuthSlots(dsp ? 0 : -1, t.type))
                found += s == slot(2) ? "X" : s == slot(3) ? "Y" : "?";
            EXPECT_EQ(t.slots, found) << "record type " << t.type;
        }
        for (unsigned n : {2u, 3u}) {
            if (!slot(n)->is_releasing())
                send(12, n, simple("destroy"));
        }
        run_for(ModemSlot::kTerminateTimeout);
        child_ends(2), child_ends(3);
        EXPECT_EQ(nullptr, slot(2));
        EXPECT_EQ(nullptr, slot(3));
        plugin.close();
        ASSERT_TRUE(pump_for([&] { return clients.empty(); }));
        frames();
    }
}

// A call's daemon holds its plugin's connection itself. Two calls run and
// neither has asked: the request reaches the call whose daemon held the
// connection when it was accepted, although the daemon has closed it before
// the request is read; or, when the daemon could not be looked for at the
// accept (no descriptor left to read the kernel's table with), the one that
// holds it when its request is read. A daemon of a call of another session
// that holds the connection does not settle a request of session -1.
TEST_F(Modems, ARequestGoesToTheDaemonThatHoldsItsConnection)
{
    Capture err(std::cerr);
    auto const& clients = ModemFactory::instance().clients();
    auth::attr r{};
    r.length = 140, r.type = auth::kRequest, r.session = -1;
    write_file("/request", std::string(reinterpret_cast<const char*>(&r), 140));
    // Connects, writes the request once "write" exists, closes the connection
    // first when "close" exists, and runs on.
    write_file("/plugin",
               "#!/bin/bash\necho $$ >> " + root + "/pids\nexec 3<>/dev/tcp/127.0.0.1/" +
                   std::to_string(auth::kPort) + "\n: > " + root + "/connected\nwhile [ ! -e " + root +
                   "/write ]; do sleep 0.01; done\ncat " + root + "/request >&3\n[ -e " + root +
                   "/close ] && exec 3>&-\n: > " + root + "/written\nexec sleep 60\n",
               0755);
    const std::string idle = program("pppd", "exec sleep 60");
    const auto made = [&](const char* name) {
        for (int k = 0; k < 3000 && ::access((root + name).c_str(), F_OK) != 0; ++k)
            ::poll(nullptr, 0, 10);
        return ::access((root + name).c_str(), F_OK) == 0;
    };
    struct Case {
        const char* what;
        bool shortage; // at the accept
        bool closes;   // before the request is read
        bool dsp;      // the plugin's call is a DSP modem's, of session 0
        const char* auth;
    } const cases[] = {
        {"found at the accept", false, true, false, "@3 auth /"},
        {"looked for at the request", true, false, false, "@3 auth /"},
        {"held by a call of another session", false, false, true, "@2 auth /"},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* f : {"/connected", "/write", "/written", "/close"})
            ::unlink((root + f).c_str());
        if (c.closes)
            write_file("/close", "");
        for (unsigned n : {2u, 3u}) {
            TERM::ModemParams p = modem();
            if (n == 2 || !c.dsp)
                p.set_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
            p.set_execfile(n == 2 ? idle : root + "/plugin");
            send(int(n), n, create(p));
            send(10, n, simple("connect"));
        }
        frames();
        ASSERT_TRUE(made("/connected"));
        if (c.shortage) {
            const testutil::Shortage shortage(2);
            run_for(1);
        }
        ASSERT_TRUE(pump_for([&] { return clients.size() == 1; })) << err.text();
        err.clear();
        write_file("/write", "");
        ASSERT_TRUE(made("/written"));
        std::string got;
        ASSERT_TRUE(pump_for([&] { return !(got += frames()).empty() || !err.text().empty(); }));
        EXPECT_EQ(c.auth, got) << err.text();
        for (unsigned n : {2u, 3u}) {
            send(11, n, simple("destroy"));
            child_ends(n);
        }
        ASSERT_TRUE(pump_for([&] { return clients.empty(); }));
        frames();
        err.clear();
    }
}

// Two calls' daemons run, each asked on a connection of its own. An
// accounting record that no daemon's group holds and no connection speaks
// for may be either's: it waits, and one more than the calls it may be is
// dropped at once. A daemon's end, reaped or killed at the time-out of a
// destroy, takes the one record that lists its call only when no other
// record does, the call has had no accounting since its daemon started, and
// the call was activated; it comes before the end's abort or the destroy's
// answer. Either way the call leaves every waiting record, and a record left
// with none is logged with its counters and dropped, as on a controller loss.
TEST_F(Modems, AccountingThatTwoCallsMatchWaitsForTheirEnds)
{
    Capture err(std::cerr);
    TERM::ModemParams p = modem();
    p.set_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
    const std::string pppd = program("pppd", "exec sleep 60"),
                      deaf = program("deaf", "trap '' HUP; ready; exec sleep 60");
    auto const& clients = ModemFactory::instance().clients();
    ModemFactory& factory = ModemFactory::instance();
    auth::attr r{};
    std::vector<Fd> plugins;
    // Call `n` asks on a connection of its own once its daemon runs its
    // program, which holds no end of the test's; it is activated when
    // `active`.
    const auto call = [&](unsigned n, bool active, std::string const& program) {
        p.set_execfile(program);
        send(int(n), n, create(p));
        send(10, n, simple("connect"));
        frames();
        ASSERT_TRUE(runs_program(n));
        plugins.push_back(ctltest::connect_to(auth::kPort));
        ASSERT_TRUE(pump_for([&] { return clients.size() == plugins.size(); }));
        r = auth::attr{};
        r.length = 140, r.type = auth::kRequest, r.session = -1;
        ctltest::send_all(plugins.back(), std::string(reinterpret_cast<const char*>(&r), 140));
        std::string got;
        ASSERT_TRUE(pump_for([&] { return !(got += frames()).empty(); }));
        EXPECT_EQ("@" + std::to_string(n) + " auth /", got);
        if (active) {
            EXPECT_EQ("ok #11 @" + std::to_string(n), send(11, n, simple("activate")));
        }
    };
    const auto accounting = [&](std::uint32_t octets) {
        r = auth::attr{};
        r.length = 64, r.type = auth::kAccounting, r.session = -1;
        reinterpret_cast<auth::voacct&>(r).octetsSent[1] = octets;
        reinterpret_cast<auth::voacct&>(r).sessionTime = 60;
    };
    const std::string waits = "auth accounting for session 4294967295 matches several modem slots, waits for "
                              "the first pppd to end.\n",
                      several = "auth record for session 4294967295 matches several modem slots, dropped.\n",
                      left = "auth accounting for session 4294967295: no modem slot it matched is left, "
                             "dropped: octets out ";
    struct Case {
        const char* what;
        bool active3;      // call 3 was activated (call 2 always is)
        bool deaf3;        // call 3's daemon ignores the hang-up of its destroy
        std::uint32_t own; // octets of an accounting that reached call 3 itself first, 0 none
        int records;       // waiting, of 1 octet, 2 octets, ...
        const char *end3, *end2;
        int dropped; // logged with their counters
    } const cases[] = {
        {"the one record, the call activated", true, false, 0, 1,
         "@3 acct 0:1 0:0 0:0 0:0 0:60 | @3 abort 15", "ok #5 @2", 0},
        {"killed at the time-out", true, true, 0, 1, "@3 acct 0:1 0:0 0:0 0:0 0:60 | ok #4 @3", "ok #5 @2",
         0},
        {"two records", true, false, 0, 2, "@3 abort 15", "ok #5 @2", 2},
        {"the call never activated", false, false, 0, 1, "@3 abort 15",
         "@2 acct 0:1 0:0 0:0 0:0 0:60 | ok #5 @2", 0},
        {"the call had its accounting", true, false, 9, 1, "@3 abort 15",
         "@2 acct 0:1 0:0 0:0 0:0 0:60 | ok #5 @2", 0},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.what);
        ::unlink((root + "/ready").c_str());
        call(2, true, pppd);
        call(3, c.active3, c.deaf3 ? deaf : pppd);
        if (c.deaf3) {
            ASSERT_TRUE(ready());
        }
        if (c.own) {
            accounting(c.own);
            slot(3)->OnAuth(&r);
            EXPECT_EQ("@3 acct 0:" + std::to_string(c.own) + " 0:0 0:0 0:0 0:60", frames());
        }
        err.clear();
        // As many records wait as the calls they may be, one more is dropped.
        const int more = c.records == 2 ? 1 : 0;
        for (int k = 1; k <= c.records + more; ++k) {
            accounting(std::uint32_t(k));
            factory.OnAuth(nullptr, &r);
        }
        EXPECT_EQ("", frames());
        EXPECT_EQ(std::size_t(c.records), factory.waiting());
        std::string expected;
        for (int k = 0; k < c.records; ++k)
            expected += "modem[2,2]: " + waits;
        if (more)
            expected += "modem[2,2]: " + several;
        EXPECT_EQ(expected, err.text());
        err.clear();
        if (c.deaf3) {
            EXPECT_EQ("", send(4, 3, simple("destroy")));
            run_for(ModemSlot::kTerminateTimeout);
        } else {
            ::kill(slot(3)->child(), SIGTERM);
        }
        child_ends(3);
        EXPECT_EQ(c.end3, frames());
        const bool took = std::string(c.end3).find("acct") != std::string::npos;
        EXPECT_EQ(std::size_t(c.records - (took ? 1 : 0)), factory.waiting()) << "call 3 left them";
        // Call 3, still there, lists no record any more.
        EXPECT_EQ("", send(5, 2, simple("destroy")));
        child_ends(2);
        EXPECT_EQ(c.end2, frames());
        EXPECT_EQ(0u, factory.waiting());
        if (slot(3)) {
            EXPECT_EQ("ok #4 @3", send(4, 3, simple("destroy")));
        }
        int dropped = 0;
        for (std::size_t at = err.text().find(left); at != std::string::npos;
             at = err.text().find(left, at + 1))
            ++dropped;
        EXPECT_EQ(c.dropped, dropped) << err.text();
        if (c.dropped) {
            EXPECT_NE(std::string::npos, err.text().find(left + "2 in 0, packets out 0 in 0, time 60 s.\n"))
                << err.text();
        }
        plugins.clear();
        ASSERT_TRUE(pump_for([&] { return clients.empty(); }));
    }

    // A controller loss: the slots go while their daemons run and take
    // nothing.
    call(6, true, pppd);
    call(7, true, pppd);
    accounting(4);
    factory.OnAuth(nullptr, &r);
    EXPECT_EQ(1u, factory.waiting());
    err.clear();
    Slots::instance().OnDisconnect();
    EXPECT_EQ(0u, factory.waiting());
    EXPECT_EQ("", frames());
    EXPECT_NE(std::string::npos, err.text().find(left + "4 in 0, packets out 0 in 0, time 60 s.\n"))
        << err.text();
    plugins.clear();
    ASSERT_TRUE(pump_for([&] { return clients.empty(); }));
}

// A call's plugin writes its accounting report and the call's daemon ends,
// both before the loop turns: the turn that handles the end reads the report
// first, and that of a connection still waiting to be accepted, so that both
// reach the call (and not the idle DSP modem slot of the same session -1,
// created first) before the destroy's answer.
TEST_F(Modems, RecordsWaitingAtTheDaemonsEndReachItsSlot)
{
    Capture err(std::cerr);
    TERM::ModemParams digital = modem();
    digital.set_ddm().push_back(TERM::DigitalDataModeEnum::ddm8BIT);
    digital.set_execfile(program("pppd", "exec sleep 60"));
    send(2, 2, create(modem()));
    send(3, 3, create(digital));
    send(4, 3, simple("connect"));
    frames();
    ASSERT_TRUE(runs_program(3));
    auto const& clients = ModemFactory::instance().clients();
    Fd plugin = ctltest::connect_to(auth::kPort);
    ASSERT_TRUE(pump_for([&] { return clients.size() == 1; }));
    auth::attr r{};
    r.length = 140, r.type = 1, r.session = -1;
    ctltest::send_all(plugin, std::string(reinterpret_cast<const char*>(&r), 140));
    std::string got;
    ASSERT_TRUE(pump_for([&] { return !(got += frames()).empty(); }));
    EXPECT_EQ("@3 auth /", got);

    // A's report on its connection, then one on a new connection.
    auth::voacct& a = reinterpret_cast<auth::voacct&>(r);
    r.length = 64, r.type = 4;
    a.octetsSent[1] = 1;
    ctltest::send_all(plugin, std::string(reinterpret_cast<const char*>(&r), 64));
    const Fd late = ctltest::connect_to(auth::kPort);
    a.octetsSent[1] = 2;
    ctltest::send_all(late, std::string(reinterpret_cast<const char*>(&r), 64));
    plugin.close();
    const id_t pid = id_t(slot(3)->child());
    EXPECT_EQ("", send(5, 3, simple("destroy")));
    siginfo_t info{};
    for (int k = 0; k < 2000 && ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0; ++k)
        ::poll(nullptr, 0, 10);
    ASSERT_EQ(-1, ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT)) << "reaped, its end not handled";
    got.clear();
    ASSERT_TRUE(pump_for([&] { return (got += frames()).find("ok #5") != std::string::npos; })) << got;
    EXPECT_EQ("@3 acct 0:1 0:0 0:0 0:0 0:0 | @3 acct 0:2 0:0 0:0 0:0 0:0 | ok #5 @3", got);
    EXPECT_EQ(std::string::npos, err.text().find("unknown session")) << err.text();
    ASSERT_TRUE(pump_for([&] { return clients.size() == 1; })) << "the closed connection is let go";
    send(6, 2, simple("destroy"));
}

using testutil::Shortage;

// The local port of a connection.
int port(const Fd& connection)
{
    sockaddr_in at{};
    socklen_t size = sizeof at;
    ::getsockname(connection.lowlevel_fd(), reinterpret_cast<sockaddr*>(&at), &size);
    return ntohs(at.sin_port);
}

// A plugin connects while the process is short of descriptors. With two
// left it is served (the connection and its event's duplicate); with one the
// connection's duplicate fails, and the connection is closed with a line
// that says why; with none the accept fails. Either failure leaves the
// listener alone for 5000 ms (no spinning), the plugins queued meanwhile. No
// client is kept that is not polled, and none outlives its plugin.
TEST_F(Modems, PluginConnectionsWhileShortOfDescriptors)
{
    ASSERT_TRUE(ModemFactory::instance().listening());
    auto const& clients = ModemFactory::instance().clients();
    struct Case {
        int spare;       // -1: no shortage
        const char* log; // of the first turn
        bool queued;     // served only after the pause
        bool served;
    } const cases[] = {
        // First without a shortage: the sanitizer build's check of an object's
        // type reads its type information through a pipe the first time it
        // meets the type, which a full table would refuse.
        {-1, "incoming auth connection from 127.0.0.1:", false, true},
        {2, "incoming auth connection from 127.0.0.1:", false, true},
        {1, "incoming auth connection from 127.0.0.1:", false, false},
        {0, "fail to set nonblock mode.\n", true, true},
    };
    run_for(1); // the loop's first run opens its wake-up pipe, for good
    for (auto const& c : cases) {
        SCOPED_TRACE(c.spare);
        Fd plugin = ctltest::connect_to(auth::kPort);
        ASSERT_TRUE(plugin.is_valid());
        auth::attr r{};
        r.length = 140, r.type = 1, r.session = 9;
        ASSERT_EQ(140, ::send(plugin.lowlevel_fd(), &r, 140, MSG_NOSIGNAL));
        Capture err(std::cerr);
        if (c.spare < 0) {
            run_for(1);
        } else {
            const Shortage shortage(c.spare);
            run_for(1);
        }
        EXPECT_EQ(0u, err.text().find("modem[2,0]: " + std::string(c.log))) << err.text();
        const std::string refused =
            "modem[2,0]: auth connection from 127.0.0.1:" + std::to_string(port(plugin)) +
            " closed: can't duplicate its descriptor: " + std::strerror(EMFILE) + "\n";
        EXPECT_EQ(!c.served, err.text().find(refused) != std::string::npos) << err.text();
        EXPECT_EQ(c.queued || !c.served ? 0u : 1u, clients.size()) << "only a polled client is kept";
        run_for(c.queued ? ListenWatch::pause_ms : 1);
        EXPECT_EQ(c.served, err.text().find("unknown session 9\n") != std::string::npos) << err.text();
        // A connection closed with the request unread is reset.
        char byte;
        const ssize_t got = ::recv(plugin.lowlevel_fd(), &byte, 1, MSG_DONTWAIT);
        EXPECT_EQ(!c.served, got == 0 || (got < 0 && errno == ECONNRESET)) << "closed by the gateway";
        plugin.close();
        run_for(ModemFactory::kBindRetry);
        EXPECT_TRUE(clients.empty()) << "the plugin has gone";
    }
}

// A modem slot reaches the authentication link and its factory's lists only
// through the owner it was given.
TEST_F(Modems, SlotsSendAndLeaveThroughTheirOwner)
{
    struct Owner : ModemOwner {
        std::string log;
        ModemSlot const* sender = nullptr;
        bool SendAuth(ModemSlot const* slot, auth::attr const* r) override
        {
            log += std::to_string(r->length) + "/" + std::to_string(r->type) + "/" +
                   std::to_string(r->session) + (slot == sender ? " " : "(another slot's) ");
            return true;
        }
        void OnPppdEnd(ModemSlot*) override { log += "ended "; }
        void ReleaseModemSlot(DspModemSlot*) override { log += "dsp "; }
        void ReleaseModemSlot(HdlcModemSlot*) override { log += "digital "; }
    };
    TERM::TermActivateParams ip;
    ip.select_modem().set_mtu(1500);
    Capture err(std::cerr);
    for (bool digital : {false, true}) {
        Owner owner;
        std::unique_ptr<ModemSlot> s;
        if (digital)
            s.reset(new HdlcModemSlot(modem(), "hdlc0", owner));
        else
            s.reset(new DspModemSlot(modem(), owner));
        owner.sender = s.get();
        EXPECT_TRUE(s->IActivate(ip));
        EXPECT_TRUE(s->IBeforeDestroy());
        s.reset();
        EXPECT_EQ(digital ? "16/2/-1 36/3/-1 digital digital " : "16/2/-1 36/3/-1 dsp dsp ", owner.log);
    }
}

// A driver that gives a modem number again: the enumeration asks no more
// often than the board can have modems, counts the number once and says so
// once.
TEST_F(Modems, EnumerationEndsWhenTheDriverRepeatsAModem)
{
    struct Case {
        const char* repeat;
        int modems;
        std::size_t asked;
    } const cases[] = {
        {"mctl repeat 0 2", 2, 5}, // -1, 0 twice more, 1 (ENODEV)
        {"mctl repeat 1", 2, ModemFactory::kMaxModems},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.repeat);
        ASSERT_EQ("ok\n", board().execute(c.repeat));
        board().clear_journal();
        Capture err(std::cerr);
        ModemFactory::instance().IQuery();
        EXPECT_EQ(c.modems, ModemFactory::instance().modems());
        const std::string got = requests("/dev/mctl");
        std::size_t asked = 0;
        for (std::size_t at = got.find("enumerate"); at != std::string::npos;
             at = got.find("enumerate", at + 1))
            ++asked;
        EXPECT_EQ(c.asked, asked);
        const std::string log = err.text();
        EXPECT_EQ("driver reported modem " + std::string(1, c.repeat[12]) + " twice\n",
                  log.substr(log.find("]: ") + 3));
        EXPECT_EQ("ok\n", board().execute("mctl repeat off"));
    }
    EXPECT_EQ("error usage: mctl repeat <modem> [<n>] | off\n", board().execute("mctl repeat -1"));
}

// Losing the controller deletes a slot whose destroy waits for its child; the
// factory no longer lists it, so a late record finds no slot.
TEST_F(Modems, ControllerLossWithAPendingModem)
{
    TERM::ModemParams p = modem();
    p.set_execfile(program("deaf", "trap '' HUP; while :; do sleep 0.02; done"));
    send(2, 2, create(p));
    send(3, 2, simple("connect"));
    Capture err(std::cerr);
    EXPECT_EQ("", send(4, 2, simple("destroy")));
    Slots::instance().OnDisconnect();
    EXPECT_TRUE(ModemFactory::instance().slots().empty());
    auth::attr r{};
    r.length = 140, r.type = 1, r.session = 0;
    ModemFactory::instance().OnAuth(nullptr, &r);
    EXPECT_NE(std::string::npos, err.text().find("receive auth request for unknown session 0"));
    EXPECT_NE(std::string::npos, err.text().find("pppd isn't terminated, killing ..."));
}

// The board hangs up the descriptor that holds slot 2's modem and, before the
// loop turns, slot 3's join allocates: the driver hands it that modem again.
// Slot 2 lets the modem go first, as its hang-up would: its joins both ways
// and the switch output of the modem's channel go before slot 3 asks for the
// channel, and its call is aborted. The hang-up, seen in the next turns, does
// nothing more: slot 3 keeps the channel joined both ways, slot 2's daemon
// ends without a second abort, and slot 2's destroy touches nothing.
TEST_F(Modems, AnAllocationThatGetsAModemStillHeldLetsItsHolderGoFirst)
{
    Capture err(std::cerr);
    TERM::ModemParams p = modem();
    p.set_execfile(program("pppd", "trap 'exit 0' HUP; ready; while :; do sleep 0.02; done"));
    const auto feed = [](unsigned slot) {
        LGCP::Command c;
        c.select_connect(slot);
        return c;
    };
    // The board's requests since the last call, "ioctl " left out.
    const auto journal = [] {
        std::string out;
        for (std::string const& line : board().journal())
            out += (out.empty() ? "" : " | ") + (line.compare(0, 6, "ioctl ") ? line : line.substr(6));
        board().clear_journal();
        return out;
    };
    EXPECT_EQ("ok #2 @2", send(2, 2, create(p)));
    EXPECT_EQ("@2 transmitter 96 | @2 receiver 96 | ok #3 @2", send(3, 2, simple("connect")));
    EXPECT_EQ("ok #4 @1", send(4, 1, feed(2)));
    ASSERT_TRUE(ready()) << "the script has not set its trap";
    EXPECT_EQ("ok #5 @3", send(5, 3, create(p)));
    journal();
    ASSERT_EQ("ok\n", board().execute("hangup /dev/mctl"));
    EXPECT_EQ("@2 abort 19 | @3 transmitter 96 | @3 receiver 96 | ok #6 @3", send(6, 3, simple("connect")));
    EXPECT_EQ("hangup /dev/mctl | open /dev/mctl | /dev/mctl allocate -> 0 | "
              "/dev/hal write ch=96 byte=0xD5 -> 0 | /dev/hal write ch=1 byte=0xD5 -> 0 | "
              "/dev/hal disable ch=96 -> 0 | /dev/mctl timeslot -> 96 | /dev/mctl dmp-reset modem=0 -> 0 | "
              "/dev/mctl answer modem=0 -> 0 | /dev/hal connect dst=1 src=96 -> 0",
              journal());
    EXPECT_EQ("ok #7 @1", send(7, 1, feed(3)));
    child_ends(2);
    EXPECT_EQ("", frames()) << "the call was aborted already";
    EXPECT_EQ("ok #8 @2", send(8, 2, simple("destroy")));
    EXPECT_EQ("/dev/hal connect dst=96 src=1 -> 0", journal());
    EXPECT_EQ("96 connected 1 reads 0xFF\nok\n", board().execute("hal get 96"));
    EXPECT_EQ("1 connected 96 reads 0xFF\nok\n", board().execute("hal get 1"));
    EXPECT_EQ("02:dsp-modem: modem handed to another call, released\n02:dsp-modem: sent HUP to pppd.\n",
              lines(err.text(), "02:"));
    send(9, 3, simple("destroy"));
    child_ends(3);
    EXPECT_EQ("ok #9 @3", frames());
}

// A call whose daemon ended on its own has had its abort: the later hang-up
// of the descriptor that holds its modem lets the modem go and aborts the
// call no second time.
TEST_F(Modems, ACallWhoseDaemonEndedIsNotAbortedAgainWhenItsModemIsTakenBack)
{
    TERM::ModemParams p = modem();
    p.set_execfile(program("pppd", "exit 3"));
    send(2, 2, create(p));
    EXPECT_EQ("@2 transmitter 96 | @2 receiver 96 | ok #3 @2", send(3, 2, simple("connect")));
    child_ends(2);
    EXPECT_EQ("@2 abort 768", frames());
    Capture err(std::cerr);
    ASSERT_EQ("ok\n", board().execute("hangup /dev/mctl"));
    run_for(1);
    EXPECT_EQ("", frames());
    EXPECT_EQ("modem control device hung up, modem released\n", slot_lines(err.text(), "02:"));
    EXPECT_EQ("ok #4 @2", send(4, 2, simple("destroy")));
}

// The driver takes back the modem of a call whose daemon ignores SIGHUP.
// Taken back while the call runs, the abort comes at once, and the daemon is
// hung up then; a destroy meanwhile hangs up nothing again. Taken back while
// the call is being destroyed, no abort comes: the call has ended already.
// Either way the SIGKILL comes 5000 ms after the first SIGHUP, and the
// destroy is answered then.
TEST_F(Modems, ADeafDaemonOfAModemTakenBackIsKilledInTimeForItsDestroy)
{
    TERM::ModemParams p = modem();
    p.set_execfile(program("deaf", "trap '' HUP; ready; while :; do sleep 0.02; done"));
    const std::string taken = "modem control device hung up, modem released\n", hup = "sent HUP to pppd.\n";
    struct Case {
        bool destroyed_first;
        const char* abort;
    } const cases[] = {{false, "@2 abort 19"}, {true, ""}};
    for (auto const& c : cases) {
        SCOPED_TRACE(c.destroyed_first ? "destroyed, then taken back" : "taken back, then destroyed");
        ::unlink((root + "/ready").c_str());
        send(2, 2, create(p));
        send(3, 2, simple("connect"));
        ASSERT_TRUE(ready()) << "the script has not set its trap";
        frames();
        Capture err(std::cerr);
        if (c.destroyed_first) {
            EXPECT_EQ("", send(4, 2, simple("destroy")));
        }
        ASSERT_EQ("ok\n", board().execute("hangup /dev/mctl"));
        run_for(1);
        EXPECT_EQ(c.abort, frames());
        run_for(ModemSlot::kTerminateTimeout - 1000);
        if (!c.destroyed_first) {
            EXPECT_EQ("", send(4, 2, simple("destroy")));
        }
        run_for(1000);
        EXPECT_EQ("ok #4 @2", frames()) << err.text();
        EXPECT_EQ(nullptr, slot(2));
        // The time-out's kill, and the destructor's again.
        EXPECT_EQ((c.destroyed_first ? hup + taken : taken + hup) +
                      "pppd terminate timeout!\npppd isn't terminated, killing ...\npppd isn't terminated, "
                      "killing ...\n",
                  slot_lines(err.text(), "02:"));
    }
}

} // namespace
