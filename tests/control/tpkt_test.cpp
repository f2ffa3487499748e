// TPKT framing: byte-exact frames going down; reassembly of frames cut at
// every point, garbage runs, short and long lengths and the 3000 ms
// reassembly time-out going up.
#include "control/tpkt.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "tests/control/fixture.hpp"

namespace
{

using ctltest::bytes;
using ctltest::Capture;
using ctltest::hex;
using ctltest::strip_mux;

struct Harness : ctltest::Harness<Tpkt_protocol> {
    Harness() : ctltest::Harness<Tpkt_protocol>(new Tpkt_protocol) {}
};

TEST(Tpkt, FramesGoingDown)
{
    const std::string largest(Tpkt_protocol::max_payload, 'x');
    const struct Case {
        std::string payload;
        std::vector<std::string> wire;
        std::string log;
    } cases[] = {
        {"", {"03 00 00 04"}, ""},
        {bytes("80 01 05 40"), {"03 00 00 08 80 01 05 40"}, ""},
        {largest, {"03 00 FF FF " + hex(largest)}, ""},
        {largest + "x", {}, "TPKT payload too big, length = 65532 max = 65531\n"},
    };
    for (const Case& c : cases) {
        Capture clog(std::clog);
        Harness h;
        h.send(c.payload);
        EXPECT_EQ(h.down, c.wire) << c.payload.size();
        EXPECT_EQ(clog.text(), c.log) << c.payload.size();
    }
}

// Chunks are fed one by one ("|" separates them); each payload that goes up
// is shown in brackets, after the "|" of the chunk it went up with.
TEST(Tpkt, MalformedInputIsSkippedAndLogged)
{
    const std::string start = "TPKT bad TPKT packet start.\n", reserved = "TPKT bad TPKT reserved.\n";
    const struct Case {
        const char* what;
        std::string chunks, payloads, log;
    } cases[] = {
        {"two frames in one chunk", "03 00 00 05 AA 03 00 00 06 BB CC", "[AA][BB CC]", ""},
        {"a garbage run is one line", "FF FE 00 01 03 00 00 05 AA", "[AA]", start},
        {"a run over several chunks is still one line", "FF|FE|77 03 00 00 05 AA", "||[AA]", start},
        {"each run after a frame gets its line", "FF 03 00 00 05 AA FF FF 03 00 00 05 BB", "[AA][BB]",
         start + start},
        {"bad reserved byte: the next byte is a new start", "03 03 00 00 05 AA", "", reserved + start},
        {"bad reserved byte followed by a good frame", "03 01 03 00 00 05 AA", "[AA]", reserved},
        {"length 3", "03 00 00 03 03 00 00 05 AA", "[AA]", "TPKT too small 3\n"},
        {"length 4 is an empty payload", "03 00 00 04 03 00 00 05 AA", "[][AA]", ""},
        {"length 4 ending a chunk waits for the next chunk", "03 00 00 04", "", ""},
        {"length 4 ending a chunk goes up before the next chunk is read", "03 00 00 04|03 00 00 05 AA",
         "|[][AA]", ""},
        {"length 4 ending a chunk goes up before the next chunk's garbage", "03 00 00 04|FF", "|[]", start},
        {"length 4 cut after its length byte", "03 00 00|04|03 00 00 05 AA", "||[][AA]", ""},
    };
    for (const Case& c : cases) {
        Capture clog(std::clog);
        Harness h;
        h.on_input = [&h] { h.up.back() = "[" + h.up.back() + "]"; };
        std::istringstream chunks(c.chunks);
        bool first = true;
        for (std::string chunk; std::getline(chunks, chunk, '|'); first = false) {
            if (!first)
                h.up.push_back("|");
            h.feed(bytes(chunk));
        }
        std::string payloads;
        for (const std::string& p : h.up)
            payloads += p;
        EXPECT_EQ(payloads, c.payloads) << c.what;
        EXPECT_EQ(clog.text(), c.log) << c.what;
    }
}

TEST(Tpkt, LargestFrameIsAccepted)
{
    const std::string payload(Tpkt_protocol::max_payload, '\x5A');
    Harness h;
    h.feed(bytes("03 00 FF FF") + payload.substr(0, 30000));
    h.feed(payload.substr(30000));
    EXPECT_EQ(h.up, std::vector<std::string>{hex(payload)});
    EXPECT_EQ(h.layer->state(), Tpkt_protocol::idle);
    EXPECT_FALSE(h.layer->timer_running()) << "a whole frame stops the reassembly time-out";
}

TEST(Tpkt, DeactivationResetsAndReportsSuccess)
{
    Harness h;
    h.feed(bytes("03 00 00 08 80"));
    ASSERT_TRUE(h.layer->timer_running());
    h.layer->deactivate();
    EXPECT_EQ(h.statuses, std::vector<std::string>{"ok TPKT deactivated"});
    EXPECT_FALSE(h.layer->timer_running());
    h.feed(bytes("03 00 00 05 AA"));
    EXPECT_EQ(h.up, std::vector<std::string>{"AA"});
}

using TpktTimeout = ctltest::LoopTest;

TEST_F(TpktTimeout, IncompleteFrameIsDroppedThreeSecondsAfterTheLastChunk)
{
    Capture clog(std::clog);
    Harness h;
    h.feed(bytes("03 00 00 08 80"));
    run_for(2000);
    h.feed(bytes("01")); // restarts the 3000 ms
    run_for(2999);
    EXPECT_EQ(strip_mux(clog.text()), "");
    EXPECT_EQ(h.layer->state(), Tpkt_protocol::body);
    run_for(2);
    EXPECT_EQ(strip_mux(clog.text()), " TPKT packet timeout.\n");
    EXPECT_EQ(h.layer->state(), Tpkt_protocol::idle);
    EXPECT_FALSE(h.layer->timer_running());
    // The rest of the old frame is now garbage, and a new frame is read whole.
    h.feed(bytes("05 18 03 00 00 05 AA"));
    EXPECT_EQ(h.up, std::vector<std::string>{"AA"});
    EXPECT_EQ(strip_mux(clog.text()), " TPKT packet timeout.\nTPKT bad TPKT packet start.\n");
}

// A header-only frame at the end of a chunk is complete but stays until the
// next chunk, which hands it up before its own bytes; with no chunk it is
// dropped by the reassembly time-out like any incomplete frame.
TEST_F(TpktTimeout, HeaderOnlyFrameWaitsForTheNextChunkOrTheTimeout)
{
    const struct Case {
        unsigned wait_ms; // before the next chunk
        std::vector<std::string> up;
        std::string log;
    } cases[] = {
        {2999, {"", "AA"}, ""},
        {3001, {"AA"}, " TPKT packet timeout.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wait_ms);
        Capture clog(std::clog);
        Harness h;
        h.feed(bytes("03 00 00 04"));
        EXPECT_TRUE(h.up.empty());
        EXPECT_TRUE(h.layer->timer_running());
        run_for(c.wait_ms);
        h.feed(bytes("03 00 00 05 AA"));
        EXPECT_EQ(h.up, c.up);
        EXPECT_EQ(strip_mux(clog.text()), c.log);
        EXPECT_EQ(h.layer->state(), Tpkt_protocol::idle);
        EXPECT_FALSE(h.layer->timer_running());
    }
}

} // namespace
