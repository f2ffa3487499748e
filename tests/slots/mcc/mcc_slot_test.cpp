// MCC data channels as the controller sees them: the allocation each create
// asks for, user data both ways through the switch, a write the channel
// refuses, a channel the driver hangs up or fails, the channel counts in
// the resource report, creates at the descriptor limit and reads that fail.
#include <dirent.h>
#include <functional>
#include <map>
#include <poll.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "slots/mcc/mcc_slot.hpp"
#include "slots/mcc/t38_soft.hpp"
#include "slots/mcc/voice.hpp"
#include "slots/switched/trunk.hpp"
#include "tests/runtime/test_util.hpp"
#include "tests/slots/media_fixture.hpp"

namespace
{

using mediatest::board;
using mediatest::mcc;
using platform::sim::MccModel;

class MccSlots : public mediatest::MediaSlots
{
protected:
    void SetUp() override
    {
        MediaSlots::SetUp();
        endsWhole = true;
        MccFactory::instance();
    }
    std::string create_mcc(int slot, LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode)
    {
        return command(slot, 1, [&](LGCP::Command& c) {
            LGCP::MccParams& p = c.select_create().select_mcc();
            p.set_type(type), p.set_mode(mode);
        });
    }
    MccSlot* mcc_slot(int slot)
    {
        return dynamic_cast<MccSlot*>(Slots::instance().GetSlotAt(unsigned(slot)));
    }
    // Trunk 2 (timeslot 1) feeds slot 1, and slot 1 feeds trunk 3 (timeslot 2).
    void join_both_ways()
    {
        create_trunk(2, 1), create_trunk(3, 2);
        ASSERT_EQ("@1 receiver 4096 | ok #20", connect(2, 1, 20));
        ASSERT_EQ("@1 transmitter 4096 | ok #21", connect(1, 3, 21));
        requests(kHal);
    }
    // What slot 1 answers once it has let its channel go (user data, a join
    // into it and out of it, its destroy) and what reached the switch
    // meanwhile; the trunks go after.
    std::string after_let_go()
    {
        std::string out = command(1, 30, [](LGCP::Command& c) { c.select_userData({1}); });
        out += " | " + connect(2, 1, 31) + " | " + connect(1, 3, 32);
        out += " | " + command(1, 33, [](LGCP::Command& c) { c.select_destroy(); });
        out += " | switch: " + requests(kHal);
        for (int trunk : {2, 3})
            command(trunk, 34, [](LGCP::Command& c) { c.select_destroy(); });
        requests(kHal);
        return out;
    }

    static constexpr char kHal[] = "/dev/hal";
    // The joins undone and the channel's switch output off.
    static constexpr char kLeft[] =
        "write ch=4096 byte=0xD5 -> 0 | write ch=2 byte=0xD5 -> 0 | disable ch=4096 -> 0";
    static constexpr char kRefused[] = "internal #30 | connectFail #31 | connectFail #32 | ok #33 | switch: ";
};

TEST_F(MccSlots, CreateAllocatesTheTypeCode)
{
    const char* const rest = " rx-size=512 reserved=0 rx-thr=1 tx-thr=1 -> ";
    const struct Row {
        LGCP::MccType::NamedNumber type;
        LGCP::MccMode::NamedNumber mode;
        const char *prepare, *answer, *requests;
    } rows[] = {
        {LGCP::MccType::data, LGCP::MccMode::standard, "", "ok #1", "allocate type=data"},
        {LGCP::MccType::bri, LGCP::MccMode::standard, "", "ok #1", "allocate type=bri"},
        {LGCP::MccType::transparent, LGCP::MccMode::ss7, "", "ok #1", "allocate type=ss7"},
        {LGCP::MccType::data, LGCP::MccMode::standard, "mcc pool data 0", "insufficientResources #1",
         "allocate type=data"},
        {LGCP::MccType::data, LGCP::MccMode::standard, "device /dev/mcc/ctl missing",
         "insufficientResources #1", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.requests + std::string(" ") + r.prepare);
        ASSERT_EQ("ok\n", board().execute(*r.prepare ? r.prepare : "clear"));
        ctltest::Capture err(std::cerr);
        EXPECT_EQ(r.answer, create_mcc(1, r.type, r.mode));
        const std::string journal = requests(platform::mcc::kPath);
        if (*r.requests == 0)
            EXPECT_EQ("", journal);
        else if (r.answer[0] == 'o')
            EXPECT_EQ(r.requests + std::string(rest) + "0 | timeslot -> 4096", journal);
        else
            EXPECT_EQ(r.requests + std::string(rest) + "-1 ENOSPC", journal);
        EXPECT_EQ(r.answer[0] == 'o' ? ""
                  : *r.requests      ? "mcc: MCC_ALLOCATE fail: No space left on device\n"
                                     : "mcc: fail to open MCC device: No such file or directory\n",
                  err.text());
        command(1, 2, [](LGCP::Command& c) { c.select_destroy(); });
        board().service(); // the channel is free once the driver sees its close
        board().execute("mcc pool data 32");
        board().set_present(platform::mcc::kPath, true);
    }
}

TEST_F(MccSlots, UserDataBothWaysThroughTheSwitch)
{
    ASSERT_EQ("ok #1", create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard));
    create_trunk(2, 1);
    ASSERT_EQ("@1 transmitter 4096 | ok #3", connect(1, 2, 3));
    ASSERT_EQ("@1 receiver 4096 | ok #4", connect(2, 1, 4));

    EXPECT_EQ("ok #5", command(1, 5, [](LGCP::Command& c) { c.select_userData({1, 2, 3}); }));
    EXPECT_EQ("ok #6", command(1, 6, [](LGCP::Command& c) { c.select_userData({}); }));
    board().service();
    EXPECT_EQ("01 02 03", sent(1)); // the empty frame carries nothing onto the line

    // Three frames that one readable pass finds: three signals, in order.
    for (const char* f : {"mcc frame 1 0A", "mcc frame 1 0B0C", "mcc frame 1 0D"})
        ASSERT_EQ("reached=1\nok\n", board().execute(f));
    EXPECT_EQ("@1 userData 0A | @1 userData 0B 0C | @1 userData 0D", pump_until("0D"));
    EXPECT_EQ("unsupported #7", command(1, 7, [](LGCP::Command& c) { c.select_activate().select_empty(); }));
}

// The board is not served, so the channel fills: the write it refuses is
// answered as the failure it is (internal; unsupported is for a kind that
// takes no user data), and every frame answered success reached the driver.
TEST_F(MccSlots, RefusedWriteIsAFailure)
{
    ASSERT_EQ("ok #1", create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard));
    create_trunk(2, 1);
    connect(1, 2, 3);
    unsigned ok = 0;
    std::string last;
    for (int seq = 10;
         seq < 5000 &&
         (last = command(1, seq, [](LGCP::Command& c) { c.select_userData(std::vector<char>(1000, 'x')); }))
                 .compare(0, 2, "ok") == 0;
         ++seq)
        ++ok;
    EXPECT_EQ("internal", last.substr(0, 8));
    board().service();
    EXPECT_EQ(ok, mcc().take_sent(1).size());
}

// The handler gets what poll returns for the channel: what the channel still
// holds reaches the controller, then the channel is let go with one line,
// also when the handler is called again: its joins both ways and its switch
// output are undone, the driver gets it back, and from then on the slot takes
// no user data and no join, and its destroy touches nothing of the channel.
TEST_F(MccSlots, AChannelThatHungUpOrFailedIsReadThenLetGoWithOneLine)
{
    struct Case {
        const char* what;
        const char* board; // the driver's part, one command a line
        short revents;
        const char* frames;
    };
    const Case cases[] = {
        {"hang-up with a frame queued", "event /dev/mcc/ctl 0A\nhangup /dev/mcc/ctl", POLLIN | POLLHUP,
         "@1 userData 0A"},
        {"hang-up", "hangup /dev/mcc/ctl", POLLIN | POLLHUP, ""},
        {"error", "", POLLERR, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ("ok #1", create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard));
        join_both_ways();
        std::istringstream lines(c.board);
        for (std::string line; std::getline(lines, line);)
            ASSERT_EQ("ok\n", board().execute(line));
        MccSlot* slot = mcc_slot(1);
        ASSERT_NE(nullptr, slot);
        ctltest::Capture err(std::cerr);
        for (int call = 0; call < 2; ++call)
            slot->OnEvent(-1, c.revents);
        EXPECT_EQ("mcc: 01:MCC: channel error, reading stopped\n", err.text());
        std::ostringstream dump;
        multiplexer.dump(dump);
        EXPECT_EQ(std::string::npos, dump.str().find("MccSlot::OnEvent")) << "the loop still watches it";
        EXPECT_EQ(c.frames, frames());
        EXPECT_EQ(kLeft, requests(kHal));
        EXPECT_EQ(-1, slot->get_channel());
        board().service();
        EXPECT_EQ(0u, mcc().allocations().size()) << "the slot still holds the channel";
        // No loop turn before the destroy: a channel still watched would spin it.
        EXPECT_EQ(kRefused, after_let_go());
        board().service();
    }
}

// The driver hands the channel of slot 1, which has hung up with a frame
// queued, to a new slot before the loop has told slot 1 of the hang-up (all
// came in one turn): slot 1 reads the frame and lets the channel go at once,
// before the new slot is answered, and nothing it does afterwards, its
// hang-up included, reaches the new slot's channel, which carries the new
// slot's data alone.
TEST_F(MccSlots, AChannelHandedToTheNextSlotIsLetGoByTheSlotThatHeldIt)
{
    VoiceFactory::instance();
    T38SoftFactory::instance();
    write_file("/usr/local/voice/a", "\x01\x02");
    // Runs until its slot's destroy ends it.
    write_file("/usr/local/sbin/t38", "#!/bin/sh\necho $$ >> \"$QUELVAD_ROOT/pids\"\nexec sleep 100000\n",
               0755);
    struct Case {
        const char* what;
        std::function<std::string()> create; // slot 4
        const char* created;
        std::function<std::string()> use; // what reached the channel through slot 4
        const char* used;
    };
    const Case cases[] = {
        {"an MCC channel", [this] { return create_mcc(4, LGCP::MccType::data, LGCP::MccMode::standard); },
         "ok #1",
         [this] {
             command(4, 40, [](LGCP::Command& c) { c.select_userData({9}); });
             board().service();
             return written(MccModel::kFirstChannel);
         },
         "09"},
        {"a file player",
         [this] {
             return command(4, 1, [](LGCP::Command& c) {
                 LGCP::PlayerParams_file& f = c.select_create().select_voice().select_player().select_file();
                 f.set_name().push_back(ASN1::IA5String("a"));
                 f.set_repeat(1);
             });
         },
         "ok #1",
         [this] {
             create_trunk(2, 1);
             connect(4, 2, 40);
             pump_until("abort 0");
             command(2, 41, [](LGCP::Command& c) { c.select_destroy(); });
             return written(MccModel::kFirstChannel);
         },
         "01 02"},
        {"a T.38 soft slot",
         [this] { return command(4, 1, [](LGCP::Command& c) { mediatest::t38Create(c); }); },
         "ok #1 | @4 transmitter 4096 | @4 receiver 4096", [] { return written(MccModel::kFirstChannel); },
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ("ok #1", create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard));
        join_both_ways();
        ASSERT_EQ("ok\n", board().execute("event /dev/mcc/ctl 0A 0B"));
        ASSERT_EQ("ok\n", board().execute("hangup /dev/mcc/ctl"));
        ctltest::Capture err(std::cerr);
        ASSERT_EQ("@1 userData 0A 0B | " + std::string(c.created), c.create());
        EXPECT_EQ("mcc: 01:MCC: channel error, reading stopped\n", err.text());
        EXPECT_EQ(kLeft, requests(kHal));
        ASSERT_NE(nullptr, mcc_slot(1));
        ASSERT_NE(nullptr, Slots::instance().GetSlotAt(4));
        EXPECT_EQ(-1, mcc_slot(1)->get_channel());
        EXPECT_EQ(4096, Slots::instance().GetSlotAt(4)->GetTransmitChannel());
        // The hang-up's turn comes: slot 1 has nothing left to let go.
        run_for(3);
        EXPECT_EQ("mcc: 01:MCC: channel error, reading stopped\n", lines(err.text(), "mcc: "));
        EXPECT_EQ("", requests(kHal));
        EXPECT_EQ(kRefused, after_let_go());
        EXPECT_EQ(c.used, c.use());
        EXPECT_EQ("mcc: 01:MCC: channel error, reading stopped\n", lines(err.text(), "mcc: "));
        command(4, 42, [](LGCP::Command& m) { m.select_destroy(); });
        // The T.38 program ends at its destroy's SIGTERM; the channel is free
        // once its last holder has closed it.
        EXPECT_TRUE(pump_for([] { return children().empty() && mcc().allocations().empty(); }));
    }
}

// Slot 1 takes pool channel 4096 as a recorder, a player or a T.38 soft
// slot and is joined; the board hangs the pool up, and the next create, an
// MCC channel, gets 4096. Slot 1 lets the channel go before the create is
// answered: its joins both ways and the channel's switch output go, and what
// ran on the channel ends as when its channel fails. Its joins are refused
// afterwards and its destroy touches nothing of the channel, which carries
// the new slot's data alone.
TEST_F(MccSlots, EveryKindOfSlotOnThePoolLetsGoAChannelHandedToTheNextSlot)
{
    VoiceFactory::instance();
    T38SoftFactory::instance();
    write_file("/usr/local/voice/long", std::string(1 << 20, '\x55'));
    // Reads its channel to its end.
    write_file("/usr/local/sbin/t38",
               "#!/bin/sh\necho $$ >> \"$QUELVAD_ROOT/pids\"\ncat >/dev/null\nexit 3\n", 0755);
    int port = 0;
    Fd listener = ctltest::listener(port);
    Fd peer; // the recorder's or the network player's
    const auto accepted = [&] {
        EXPECT_TRUE(pump_for([&] {
            peer = Fd(::accept4(listener.lowlevel_fd(), nullptr, nullptr, SOCK_NONBLOCK));
            return peer.is_valid();
        }));
    };
    const auto voice = [&](bool record) {
        return command(1, 1, [&](LGCP::Command& c) {
            LGCP::VoiceParams& v = c.select_create().select_voice();
            TERM::HostAddress& h = record ? v.select_record() : v.select_player().select_network().set_host();
            h.set_iaddr("127.0.0.1"), h.set_port(unsigned(port));
            if (!record)
                v.ref_player().ref_network().set_id(7);
        });
    };
    struct Case {
        const char* what;
        std::function<void()> start; // slot 1 made, joined and running
        const char* ended;           // its signals at the let-go
        const char* log;             // its lines on std::cerr
        const char* left;            // the let-go's switch requests
        const char* after;           // its signals after the create ("" for none)
    };
    const std::string idle = "write ch=4096 byte=0xD5 -> 0";
    const Case cases[] = {
        {"a recorder",
         [&] {
             ASSERT_EQ("ok #1 | @1 receiver 4096", voice(true));
             ASSERT_EQ("ok #10", connect(2, 1, 10));
             accepted();
             // The copy runs: a frame of the channel reaches the peer.
             ASSERT_EQ("ok\n", board().execute("event /dev/mcc/ctl 0C"));
             std::string got;
             ASSERT_TRUE(pump_for([&] { return !(got += ctltest::read_now(peer)).empty(); }));
             ASSERT_EQ("0C", ctltest::hex(got));
         },
         "@1 stopRecording connectionAborted", "recorder[4096]: record aborted\n",
         "write ch=4096 byte=0xD5 -> 0 | disable ch=4096 -> 0", ""},
        {"a file player",
         [&] {
             ASSERT_EQ("ok #1", command(1, 1, [](LGCP::Command& c) {
                           LGCP::PlayerParams_file& f =
                               c.select_create().select_voice().select_player().select_file();
                           f.set_name().push_back(ASN1::IA5String("long"));
                           f.set_repeat(1);
                       }));
             ASSERT_EQ("@1 transmitter 4096 | ok #10", connect(1, 3, 10));
         },
         "@1 transmitter off | @1 abort 0", "", "write ch=2 byte=0xD5 -> 0", ""},
        {"a network player",
         [&] {
             ASSERT_EQ("ok #1", voice(false));
             ASSERT_EQ("@1 transmitter 4096 | ok #10", connect(1, 3, 10));
             accepted();
             ASSERT_EQ("@1 startPlaying", pump_until("startPlaying"));
         },
         "@1 transmitter off | @1 abort 0", "player[4096]: play failed\n", "write ch=2 byte=0xD5 -> 0", ""},
        {"a T.38 soft slot",
         [&] {
             ASSERT_EQ("ok #1 | @1 transmitter 4096 | @1 receiver 4096",
                       command(1, 1, [](LGCP::Command& c) { mediatest::t38Create(c); }));
             ASSERT_EQ("ok #10", connect(2, 1, 10));
             ASSERT_EQ("ok #11", connect(1, 3, 11));
         },
         "", "", "write ch=4096 byte=0xD5 -> 0 | write ch=2 byte=0xD5 -> 0 | disable ch=4096 -> 0",
         // The program reads the end of its channel.
         "@1 abort 768"},
    };
    create_trunk(2, 1), create_trunk(3, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        frames();
        c.start();
        if (HasFatalFailure())
            break;
        requests(kHal);
        ASSERT_EQ("ok\n", board().execute("hangup /dev/mcc/ctl"));
        {
            ctltest::Capture err(std::cerr);
            EXPECT_EQ((*c.ended ? c.ended + std::string(" | ") : "") + "ok #1",
                      create_mcc(4, LGCP::MccType::data, LGCP::MccMode::standard));
            EXPECT_EQ(c.log, err.text());
        }
        EXPECT_EQ(c.left, requests(kHal));
        EXPECT_EQ(c.after, pump_until(c.after, *c.after ? 20000 : 20));
        ctltest::Capture err(std::cerr);
        std::string refused = connect(2, 1, 21);
        refused += " | " + connect(1, 3, 22);
        refused += " | " + command(1, 23, [](LGCP::Command& m) { m.select_destroy(); });
        EXPECT_EQ("connectFail #21 | connectFail #22 | ok #23", refused);
        EXPECT_EQ("", requests(kHal)) << "nothing of slot 1 reaches channel 4096";
        EXPECT_EQ("ok #24", command(4, 24, [](LGCP::Command& m) { m.select_userData({9}); }));
        board().service();
        EXPECT_EQ("09", written(MccModel::kFirstChannel));
        EXPECT_EQ("ok #25", command(4, 25, [](LGCP::Command& m) { m.select_destroy(); }));
        peer.close();
        EXPECT_TRUE(pump_for([] { return children().empty() && mcc().allocations().empty(); }));
        requests(kHal);
    }
    for (int trunk : {2, 3})
        command(trunk, 30, [](LGCP::Command& m) { m.select_destroy(); });
}

TEST_F(MccSlots, CountsInTheReport)
{
    for (const char* c : {"mcc pool data 5", "mcc pool bri 6", "mcc pool transparent 7"})
        board().execute(c);
    EXPECT_EQ("ok #99 | query mcc 5/6/7 t38 0", query().substr(0, 30));
    board().set_present(platform::mcc::kPath, false);
    EXPECT_EQ("ok #99 | query mcc 0/0/0 t38 0", query().substr(0, 30));
    for (const char* c : {"mcc pool data 32", "mcc pool bri 16", "mcc pool transparent 32"})
        board().execute(c);
    // The T.38 instance query's helper, when an earlier test made that
    // factory, has ended.
    EXPECT_TRUE(pump_for([] { return children().empty(); }));
}

// The process's open descriptors, each with the file it refers to.
std::map<int, std::pair<dev_t, ino_t>> open_descriptors()
{
    std::map<int, std::pair<dev_t, ino_t>> out;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        const int own = ::dirfd(d);
        while (const dirent* e = ::readdir(d)) {
            struct stat st = {};
            const int fd = std::atoi(e->d_name);
            if (e->d_name[0] != '.' && fd != own && ::fstat(fd, &st) == 0)
                out[fd] = {st.st_dev, st.st_ino};
        }
        ::closedir(d);
    }
    return out;
}

// With only `spare` descriptors left, each create is answered for what it
// got: one that cannot open the device, or cannot keep both duplicates of
// its channel, is refused and gives the channel back to the driver; one
// answered success writes and reads its channel. No descriptor is left behind.
TEST_F(MccSlots, CreatesAtTheDescriptorLimitAreAnsweredForWhatTheyGot)
{
    const std::string opening = "mcc: fail to open MCC device: Too many open files\n",
                      duplicating = "mcc: fail to duplicate MCC channel descriptor: Too many open files\n";
    const struct Case {
        int spare;
        const char* answer;
        std::string log;
    } cases[] = {
        // The board's open takes two: the descriptor it hands out and its own end.
        {0, "insufficientResources #1", opening},
        {1, "insufficientResources #1", opening},
        {2, "insufficientResources #1", duplicating},
        {3, "insufficientResources #1", duplicating},
        {4, "ok #1", ""},
        {5, "ok #1", ""},
    };
    // The sanitizer build checks a type through a pipe the first time it
    // meets it: every path of a working slot, and a refused create's walk
    // down the whole factory chain, are met before any shortage.
    {
        ctltest::Capture err(std::cerr);
        ASSERT_EQ("ok\n", board().execute("mcc pool data 0"));
        ASSERT_EQ("insufficientResources #1", create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard));
        ASSERT_EQ("ok\n", board().execute("mcc pool data 32"));
    }
    ASSERT_EQ("ok #1", create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard));
    ASSERT_EQ("ok\n", board().execute("event /dev/mcc/ctl 0A"));
    ASSERT_EQ("@1 userData 0A", pump_until("0A"));
    ASSERT_EQ("ok #2", command(1, 2, [](LGCP::Command& m) { m.select_destroy(); }));
    board().service();
    const std::size_t before = open_descriptors().size();
    for (const Case& c : cases) {
        SCOPED_TRACE("spare descriptors: " + std::to_string(c.spare));
        const bool ok = c.answer[0] == 'o';
        std::string answer, log;
        {
            // No check fails in here: printing it may need a descriptor.
            ctltest::Capture err(std::cerr);
            testutil::Shortage shortage(c.spare);
            answer = create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard);
            log = err.text();
        }
        EXPECT_EQ(c.log, log);
        EXPECT_EQ(c.answer, answer);
        board().service(); // the driver sees the last close of a channel given back
        EXPECT_EQ(ok ? 1u : 0u, mcc().allocations().size());
        if (ok) {
            EXPECT_EQ("ok #2", command(1, 2, [](LGCP::Command& m) { m.select_userData({5}); }));
            board().service();
            EXPECT_EQ("05", written(MccModel::kFirstChannel));
            ASSERT_EQ("ok\n", board().execute("event /dev/mcc/ctl 0B"));
            EXPECT_EQ("@1 userData 0B", pump_until("0B"));
            EXPECT_EQ("ok #3", command(1, 3, [](LGCP::Command& m) { m.select_destroy(); }));
            board().service();
        }
        EXPECT_EQ(before, open_descriptors().size());
    }
}

// A read that fails costs its pass only, with a line; failing again in the
// next pass, it lets the channel's watch go. A good read between two failures
// makes the second one a first one again. The channel's descriptors are made
// to fail by putting a folder in their place.
TEST_F(MccSlots, AReadThatFailsInTwoPassesInARowLetsTheChannelGo)
{
    run_for(1); // the loop's own descriptors are made at its first turn
    const auto before = open_descriptors();
    ASSERT_EQ("ok #1", create_mcc(1, LGCP::MccType::data, LGCP::MccMode::standard));
    run_for(1); // the loop takes up the new event at its next turn
    MccSlot* slot = dynamic_cast<MccSlot*>(Slots::instance().GetLive().back());
    ASSERT_NE(nullptr, slot);
    // The slot's own descriptors: the new ones that share one socket (the
    // board's end of the channel is another).
    std::map<std::pair<dev_t, ino_t>, std::vector<int>> fresh;
    for (auto& d : open_descriptors())
        if (!before.count(d.first))
            fresh[d.second].push_back(d.first);
    std::vector<int> channel;
    for (auto& f : fresh)
        if (f.second.size() == 2)
            channel = f.second;
    ASSERT_EQ(2u, channel.size());
    const int folder = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(folder, 0);
    const std::vector<int> saved = {::fcntl(channel[0], F_DUPFD_CLOEXEC, 0),
                                    ::fcntl(channel[1], F_DUPFD_CLOEXEC, 0)};
    // Only a number that still holds what is to be replaced changes: one the
    // slot has closed meanwhile stays closed.
    const auto failing = [&](bool on) {
        const auto now = open_descriptors();
        const auto replaced = now.at(on ? saved[0] : folder);
        for (std::size_t i = 0; i < channel.size(); ++i) {
            if (now.count(channel[i]) && now.at(channel[i]) == replaced) {
                ASSERT_EQ(channel[i], ::dup3(on ? folder : saved[i], channel[i], O_CLOEXEC));
            }
        }
    };
    const auto watched = [] {
        std::ostringstream dump;
        multiplexer.dump(dump);
        return dump.str().find("MccSlot::OnEvent") != std::string::npos;
    };
    const std::string failed = "mcc: 01:MCC: fail to read: Is a directory\n";

    ctltest::Capture err(std::cerr);
    failing(true);
    slot->OnEvent(-1, POLLIN);
    EXPECT_EQ(failed, err.text());
    EXPECT_TRUE(watched());
    failing(false);
    ASSERT_EQ("ok\n", board().execute("event /dev/mcc/ctl 0A"));
    slot->OnEvent(-1, POLLIN);
    EXPECT_EQ("@1 userData 0A", frames());
    failing(true);
    slot->OnEvent(-1, POLLIN);
    EXPECT_EQ(failed + failed, err.text()) << "the good read made this failure a first one";
    EXPECT_TRUE(watched());
    // The loop's next pass finds the channel failing again.
    run_for(1);
    EXPECT_EQ(failed + failed + failed + "mcc: 01:MCC: channel error, reading stopped\n", err.text());
    EXPECT_FALSE(watched());
    requests(kHal);
    failing(false);
    // The slot has let the channel go: its descriptors are closed (only the
    // test's copies hold the channel), it writes nothing, and its destroy
    // touches nothing of the channel.
    for (int fd : channel)
        EXPECT_EQ(0u, open_descriptors().count(fd)) << fd;
    EXPECT_EQ("internal #2", command(1, 2, [](LGCP::Command& m) { m.select_userData({7}); }));
    EXPECT_EQ("ok #3", command(1, 3, [](LGCP::Command& m) { m.select_destroy(); }));
    EXPECT_EQ("", requests(kHal));
    board().service();
    EXPECT_EQ("", written(MccModel::kFirstChannel));
    for (int fd : saved)
        ::close(fd);
    ::close(folder);
    board().service();
    EXPECT_EQ(before.size(), open_descriptors().size());
}

} // namespace
