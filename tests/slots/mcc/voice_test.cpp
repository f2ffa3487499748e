// Players and recorders on voice channels: phrase files played in order and
// repeated, unsafe or missing names, a network player and a recorder against
// loopback TCP peers, the ends each reports, and creates at the descriptor
// limit.
#include <climits>
#include <sstream>

#include "runtime/multiplexer.hpp"
#include "slots/mcc/voice.hpp"
#include "slots/switched/trunk.hpp"
#include "tests/runtime/test_util.hpp"
#include "tests/slots/media_fixture.hpp"

namespace
{

using mediatest::board;
using mediatest::mcc;

class VoiceSlots : public mediatest::MediaSlots
{
protected:
    void SetUp() override
    {
        MediaSlots::SetUp();
        endsWhole = true;
        VoiceFactory::instance();
        write_file("/usr/local/voice/a", "\x01\x02");
        write_file("/usr/local/voice/b", "\x03");
        write_file("/usr/local/a", "\x0F");
        ASSERT_EQ("ok #90 | @2 transmitter 1 | @2 receiver 1", create_trunk(2, 1));
    }
    std::string create_file_player(std::vector<std::string> names, int repeat)
    {
        return command(3, 1, [&](LGCP::Command& c) {
            LGCP::PlayerParams_file& f = c.select_create().select_voice().select_player().select_file();
            for (auto& n : names)
                f.set_name().push_back(ASN1::IA5String(n));
            f.set_repeat(repeat);
        });
    }
    std::string create_network(int slot, int port, int id, bool record, const char* address = "127.0.0.1")
    {
        return command(slot, 1, [&](LGCP::Command& c) {
            LGCP::VoiceParams& v = c.select_create().select_voice();
            TERM::HostAddress& h = record ? v.select_record() : v.select_player().select_network().set_host();
            h.set_iaddr(address), h.set_port(unsigned(port));
            if (!record)
                v.ref_player().ref_network().set_id(id);
        });
    }
    Fd accept_from(const Fd& listener)
    {
        Fd peer;
        pump_for([&] {
            peer = Fd(::accept4(listener.lowlevel_fd(), nullptr, nullptr, SOCK_NONBLOCK));
            return peer.is_valid();
        });
        return peer;
    }
    // Runs the loop for `ms` of virtual time, or `turns` turns when the loop
    // never waits, so that a player spinning on its passes cannot hold the test.
    void run_bounded(unsigned ms, unsigned turns = 2000)
    {
        struct Guard {
            unsigned left;
            void tick()
            {
                if (left > 0 && --left == 0)
                    multiplexer.terminate();
            }
        } guard{2 * turns}; // a Dpc runs twice a turn
        Dpc dpc;
        dpc.Bind(&guard, &Guard::tick);
        dpc.Activate();
        run_for(ms);
        board().service();
    }
};

TEST_F(VoiceSlots, FilePlayerPlaysItsListAndEnds)
{
    ::mkdir((root + "/usr/local/voice/en").c_str(), 0755);
    write_file("/usr/local/voice/en/hello", "\x0E");
    write_file("/usr/local/voice/b..c", "\x04");
    const char *join = "@3 transmitter 4096 | ok #4", *end = "@3 transmitter off | @3 abort 0";
    const struct Row {
        std::vector<std::string> names;
        int repeat;
        const char* join;    // the answer to the join
        const char* played;  // frames the player's channel wrote
        const char* end;     // the frames after the join
        const char* refused; // the names refused, as their log lines show them, " " after each
    } rows[] = {
        {{"a", "missing", "b"}, 1, join, "01 02 / 03", end, ""},
        {{"a", "missing", "b"}, 2, join, "01 02 / 03 / 01 02 / 03", end, ""},
        {{"../a", "/usr/local/a", "b"}, 1, join, "03", end, "../a /usr/local/a "},
        // A sub-folder plays, a ".." component does not, ".." inside a name does.
        {{"en/hello", "en/../../a", "b..c"}, 1, join, "0E / 04", end, "en/../../a "},
        {{"missing", ".."}, 1, "connectFail #4", "", "@3 abort 0", ".. "},
        // The open would stop at the NUL: "a" played, the folder's parent opened.
        {{std::string("a\0", 2), std::string("..\0", 3), "b"}, 1, join, "03", end, "a\\x00 ..\\x00 "},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.refused + std::string(" repeat ") + std::to_string(r.repeat));
        ctltest::Capture err(std::cerr);
        ASSERT_EQ("ok #1", create_file_player(r.names, r.repeat));
        EXPECT_EQ(r.join, connect(3, 2, 4));
        EXPECT_EQ(r.end, pump_until("abort 0"));
        // Nothing more: one abort, and the player stays silent.
        EXPECT_EQ("", pump_until("", 20));
        EXPECT_EQ(r.played, written(4096));
        const std::string prefix = "player[4096]: phrase name refused: ";
        std::istringstream log(lines(err.text(), prefix));
        std::string refused;
        for (std::string line; std::getline(log, line);)
            refused += line.substr(prefix.size()) + " ";
        EXPECT_EQ(r.refused, refused);
        command(3, 5, [](LGCP::Command& c) { c.select_destroy(); });
        board().service();
    }
}

TEST_F(VoiceSlots, NetworkPlayerSendsItsIdThenPlays)
{
    int port = 0;
    Fd listener = ctltest::listener(port);
    ASSERT_EQ("ok #1", create_network(4, port, 0x01020304, false));
    EXPECT_EQ("@4 transmitter 4096 | ok #4", connect(4, 2, 4));
    Fd peer = accept_from(listener);
    ASSERT_TRUE(peer.is_valid());
    EXPECT_EQ("@4 startPlaying", pump_until("startPlaying"));
    std::string id;
    ASSERT_TRUE(pump_for([&] { return (id += ctltest::read_now(peer)).size() >= 4; }));
    EXPECT_EQ("01 02 03 04", ctltest::hex(id));
    ctltest::send_all(peer, "\x11\x22");
    std::string played;
    ASSERT_TRUE(pump_for([&] { return (played += written(4096)).size() >= 5; }));
    EXPECT_EQ("11 22", played);
    peer.close();
    EXPECT_EQ("@4 transmitter off | @4 abort 0", pump_until("abort 0"));
    // A later join succeeds and reports the transmitter again, but the
    // player is not started again: no new connection, nothing more.
    board().clear_journal();
    EXPECT_EQ("@4 transmitter 4096 | ok #5", connect(4, 2, 5));
    EXPECT_EQ("connect dst=1 src=4096 -> 0", requests("/dev/hal"));
    EXPECT_EQ("", pump_until("", 20));
    pollfd pending{listener.lowlevel_fd(), POLLIN, 0};
    EXPECT_EQ(0, ::poll(&pending, 1, 0));
}

TEST_F(VoiceSlots, NetworkPlayerWithoutPeer)
{
    const int port = ctltest::free_port();
    ASSERT_EQ("ok #1", create_network(4, port, 7, false));
    EXPECT_EQ("@4 transmitter 4096 | ok #4", connect(4, 2, 4));
    EXPECT_EQ("@4 transmitter off | @4 abort 0", pump_until("abort 0"));
}

// An endless list whose pass played nothing reads its phrases again only
// after a second: what a phrase gains meanwhile is played by that pass, not
// before, and the player sends nothing of its own meanwhile.
TEST_F(VoiceSlots, EndlessListThatPlayedNothingPassesAgainAfterASecond)
{
    write_file("/usr/local/voice/e", "");
    write_file("/usr/local/voice/f", "");
    ASSERT_EQ("ok #1", create_file_player({"e", "missing", "f"}, 0));
    EXPECT_EQ("@3 transmitter 4096 | ok #4", connect(3, 2, 4));
    run_bounded(1); // the first pass ends at once, having played nothing
    write_file("/usr/local/voice/f", "\x05");
    run_bounded(998);
    EXPECT_EQ("", written(4096));
    run_bounded(2);
    EXPECT_EQ("05", written(4096).substr(0, 2));
    EXPECT_EQ("", frames());
}

// A pass that played nothing starts the next one a second later, whatever
// the count: a list of empty phrases counted 3 ends after its third pass, two
// seconds after the join; 0 and every negative count play on until the slot
// goes and are never counted down.
TEST_F(VoiceSlots, PassThatPlayedNothingWaitsASecondWhateverTheCount)
{
    const std::pair<int, const char*> rows[] = {
        {3, "@3 transmitter off | @3 abort 0"}, {0, ""}, {-1, ""}, {INT_MIN, ""}};
    for (const auto& [repeat, end] : rows) {
        SCOPED_TRACE(repeat);
        write_file("/usr/local/voice/e", "");
        ASSERT_EQ("ok #1", create_file_player({"e", "missing"}, repeat));
        EXPECT_EQ("@3 transmitter 4096 | ok #4", connect(3, 2, 4));
        run_bounded(1998); // the passes at 0 and 1000 played nothing
        EXPECT_EQ("", frames());
        write_file("/usr/local/voice/e", "\x05");
        run_bounded(1);
        EXPECT_EQ("", written(4096));
        run_bounded(2); // the pass at 2000 plays it
        EXPECT_EQ("05", written(4096).substr(0, 2));
        EXPECT_EQ(end, frames());
        EXPECT_EQ("ok #5", command(3, 5, [](LGCP::Command& c) { c.select_destroy(); }));
        board().service();
    }
}

// A phrase whose copy fails inside its start (a folder) releases the player
// before its join: one abort, no transmitter, no switch request, the join
// refused. A later join finds it released: reported active, nothing played.
TEST_F(VoiceSlots, FilePlayerWhosePhraseFailsAtOnce)
{
    ::mkdir((root + "/usr/local/voice/d").c_str(), 0755);
    ASSERT_EQ("ok #1", create_file_player({"d", "a"}, 1));
    {
        ctltest::Capture err(std::cerr);
        EXPECT_EQ("@3 abort 0 | connectFail #4", connect(3, 2, 4));
        EXPECT_EQ("slot 03:player don't have output stream to 02:trunk\n", err.text());
    }
    EXPECT_EQ("", requests("/dev/hal"));
    EXPECT_EQ("", pump_until("", 20));
    EXPECT_EQ("@3 transmitter 4096 | ok #5", connect(3, 2, 5));
    EXPECT_EQ("connect dst=1 src=4096 -> 0", requests("/dev/hal"));
    EXPECT_EQ("", pump_until("", 20));
    EXPECT_EQ("", written(4096));
}

// A connection that fails inside the connector's start (a text that is no
// address) releases the player before its join: one abort, no transmitter,
// no switch request, and the join is refused.
TEST_F(VoiceSlots, NetworkPlayerWhoseConnectionFailsAtOnce)
{
    // The address as the log shows it: the controller's text, escaped.
    const std::pair<const char*, const char*> rows[] = {{"gateway.invalid", "gateway.invalid"},
                                                        {"127.0.0.1.1", "127.0.0.1.1"},
                                                        {"", ""},
                                                        {"x\nFORGED LINE: y", "x\\nFORGED LINE: y"}};
    for (const auto& [address, shown] : rows) {
        SCOPED_TRACE(shown);
        ASSERT_EQ("ok #1", create_network(4, 5060, 7, false, address));
        {
            ctltest::Capture log(std::clog);
            ctltest::Capture err(std::cerr);
            EXPECT_EQ("@4 abort 0 | connectFail #4", connect(4, 2, 4));
            EXPECT_EQ("player[4096]: connection to " + std::string(shown) + ":5060 fail.\n", log.text());
            EXPECT_EQ("slot 04:player don't have output stream to 02:trunk\n", err.text());
        }
        EXPECT_EQ("", requests("/dev/hal"));
        EXPECT_EQ("", pump_until("", 20));
        EXPECT_EQ("ok #5", command(4, 5, [](LGCP::Command& c) { c.select_destroy(); }));
        board().service();
    }
}

TEST_F(VoiceSlots, RecorderCopiesItsChannelAndReportsEachEnd)
{
    int port = 0;
    Fd listener = ctltest::listener(port);
    ASSERT_EQ("ok #1 | @5 receiver 4096", create_network(5, port, 0, true));
    EXPECT_EQ("ok #4", connect(2, 5, 4));
    Fd peer = accept_from(listener);
    ASSERT_TRUE(peer.is_valid());
    // A disconnect leaves the recording running; the next join's copy
    // replaces it, the first peer is closed and the channel reaches only the
    // second one.
    EXPECT_EQ("ok #5", command(5, 5, [](LGCP::Command& c) { c.select_disconnect(); }));
    EXPECT_EQ("", pump_until("", 20));
    EXPECT_FALSE(ctltest::peer_closed(peer));
    EXPECT_EQ("ok #6", connect(2, 5, 6));
    Fd second = accept_from(listener);
    ASSERT_TRUE(second.is_valid());
    ASSERT_TRUE(pump_for([&] { return ctltest::peer_closed(peer); }));
    EXPECT_EQ("reached=1\nok\n", board().execute("mcc frame 1 0B"));
    std::string got;
    ASSERT_TRUE(pump_for([&] { return !(got += ctltest::read_now(second)).empty(); }));
    EXPECT_EQ("0B", ctltest::hex(got));
    EXPECT_EQ("", frames());
    second.close();
    ctltest::Capture err(std::cerr);
    std::string end;
    for (int i = 0; i < 50 && end.empty(); ++i) {
        board().execute("mcc frame 1 0C");
        end = pump_until("connectionAborted", 20);
    }
    EXPECT_EQ("@5 stopRecording connectionAborted", end);
    EXPECT_EQ("recorder[4096]: record aborted\n", err.text());

    // No peer at all.
    listener.close();
    command(2, 7, [](LGCP::Command& c) { c.select_disconnect(); });
    command(5, 8, [](LGCP::Command& c) { c.select_disconnect(); });
    EXPECT_EQ("ok #9", connect(2, 5, 9));
    EXPECT_EQ("@5 stopRecording connectionFail", pump_until("connectionFail"));
}

// With only `spare` descriptors left, a player or a recorder that cannot
// open the device, or cannot keep its own descriptor of the channel, is
// refused and gives the channel back to the driver; a player that got it
// plays. No descriptor is left behind.
TEST_F(VoiceSlots, CreatesAtTheDescriptorLimitAreAnsweredForWhatTheyGot)
{
    const std::string refused = "insufficientResources #1",
                      duplicating =
                          "voice/mcc[0]: fail to duplicate /dev/mcc/ctl descriptor: Too many open files\n";
    int port = 0;
    Fd listener = ctltest::listener(port);
    const struct Case {
        const char* what;
        int spare; // the board's open takes two: the descriptor it hands out and its own end
        std::string answer, log;
    } cases[] = {
        {"player", 1, refused,
         "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: Too many open files\n"},
        {"player", 2, refused, duplicating},
        {"player", 3, "ok #1", ""},
        {"recorder", 1, refused,
         "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: Too many open files\n"},
        {"recorder", 2, refused, duplicating},
    };
    // The sanitizer build checks a type through a pipe the first time it
    // meets it: refused creates walk down the whole factory chain, a recorder
    // comes and goes and a player plays before any shortage.
    {
        ctltest::Capture err(std::cerr);
        ASSERT_EQ("ok\n", board().execute("mcc pool transparent 0"));
        ASSERT_EQ(refused, create_file_player({"b"}, 1));
        ASSERT_EQ(refused, create_network(3, port, 0, true));
        ASSERT_EQ("ok\n", board().execute("mcc pool transparent 32"));
    }
    ASSERT_EQ("ok #1 | @3 receiver 4096", create_network(3, port, 0, true));
    command(3, 5, [](LGCP::Command& c) { c.select_destroy(); });
    board().service();
    ASSERT_EQ("ok #1", create_file_player({"b"}, 1));
    ASSERT_EQ("@3 transmitter 4096 | ok #4", connect(3, 2, 4));
    ASSERT_EQ("@3 transmitter off | @3 abort 0", pump_until("abort 0"));
    ASSERT_EQ("03", written(4096));
    command(3, 5, [](LGCP::Command& c) { c.select_destroy(); });
    board().service();
    const std::size_t before = testutil::list_dir("/proc/self/fd").size();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what + std::string(", spare descriptors: ") + std::to_string(c.spare));
        const bool player = c.what[0] == 'p';
        std::string answer, log;
        {
            // No check fails in here: printing it may need a descriptor.
            ctltest::Capture err(std::cerr);
            testutil::Shortage shortage(c.spare);
            answer = player ? create_file_player({"a"}, 1) : create_network(3, port, 0, true);
            log = err.text();
        }
        EXPECT_EQ(c.log, log);
        EXPECT_EQ(c.answer, answer);
        board().service(); // the driver sees the last close of a channel given back
        EXPECT_EQ(answer == refused ? 0u : 1u, mcc().allocations().size());
        if (answer == "ok #1") {
            EXPECT_EQ("@3 transmitter 4096 | ok #4", connect(3, 2, 4));
            EXPECT_EQ("@3 transmitter off | @3 abort 0", pump_until("abort 0"));
            EXPECT_EQ("01 02", written(4096));
        }
        command(3, 5, [](LGCP::Command& m) { m.select_destroy(); });
        board().service();
        EXPECT_EQ(before, testutil::list_dir("/proc/self/fd").size());
    }
}

} // namespace
