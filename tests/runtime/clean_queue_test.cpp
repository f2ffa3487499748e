#include "runtime/clean_queue.hpp"
#include "runtime/packet.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

Packet packet(unsigned char b)
{
    Packet p;
    EXPECT_TRUE(p.reserve_head(0));
    p.put8(b);
    return p;
}

// Runs a script of operations on a 3-slot queue of ints and returns what the
// removals yielded and what the calls answered, as text.
std::string run(const std::string& script)
{
    CleanQueue<int, 3> q;
    std::string out;
    int next = 1;
    for (char op : script) {
        int v = 0;
        switch (op) {
        case 'p':
            out += q.put(next++) ? "p" : "P";
            break;
        case 'a':
            out += q.append(next++) ? "a" : "A";
            break;
        case 'g':
            out += q.get(&v) ? std::to_string(v) : "-";
            break;
        case 'l':
            out += q.get_last(&v) ? std::to_string(v) : "-";
            break;
        case 'v':
            out += q.preview(&v) ? "<" + std::to_string(v) + ">" : "<>";
            break;
        case 'c':
            q.clear();
            break;
        }
    }
    return out + "#" + std::to_string(q.count());
}

TEST(CleanQueue, OrderAndCapacityTable)
{
    const struct {
        const char* script;
        const char* expected;
    } cases[] = {
        {"", "#0"},
        {"g", "-#0"},
        {"l", "-#0"},
        {"v", "<>#0"},
        {"pppp", "pppP#3"},
        {"pppa", "pppA#3"},
        {"pppggg", "ppp123#0"},
        {"ppagggg", "ppa312-#0"},
        {"ppl", "pp2#1"},
        {"ppllg", "pp21-#0"},
        {"pvgv", "p<1>1<>#0"},
        {"pgpgpgpgpg", "p1p2p3p4p5#0"}, // indices wrap
        {"aaagg", "aaa32#1"},           // append wraps below slot 0
        {"pppcgp", "ppp-p#1"},          // clear empties
        {"pgpcpppp", "p1ppppP#3"},      // clear resets the indices
        {"apl", "ap2#1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run(c.script), c.expected) << c.script;
}

TEST(CleanQueue, IndexArithmetic)
{
    CleanQueue<int, 327> big;
    EXPECT_EQ(big.dec_index(0), 326u);
    EXPECT_EQ(big.inc_index(326), 0u);
    EXPECT_EQ(big.inc_index(5), 6u);
    EXPECT_EQ(big.size(), 327u);
    CleanQueue<int, 7> small;
    EXPECT_EQ(small.dec_index(3), 2u);
    EXPECT_EQ(small.inc_index(6), 0u);
}

TEST(CleanQueue, SevenTakeSevenPackets)
{
    CleanQueue<Packet, 7> q;
    for (unsigned char i = 0; i < 7; ++i)
        EXPECT_TRUE(q.put(packet(i)));
    EXPECT_FALSE(q.put(packet(7)));
    EXPECT_EQ(q.count(), 7u);
    Packet first;
    EXPECT_TRUE(q.preview(&first));
    EXPECT_EQ(first.text(), "00");
    EXPECT_TRUE(q.preview(nullptr));
    EXPECT_EQ(q.count(), 7u);
}

TEST(CleanQueue, RemovalHandsOverTheOnlyReference)
{
    const unsigned before = PacketPool::available();
    CleanQueue<Packet, 120> q;
    for (unsigned i = 0; i < 120; ++i) {
        ASSERT_TRUE(q.put(packet(static_cast<unsigned char>(i))));
        Packet out;
        ASSERT_TRUE(q.get(out));
        EXPECT_EQ(out[0], i);
    }
    EXPECT_EQ(PacketPool::available(), before);
    EXPECT_TRUE(q.put(packet(0xAA)));
    Packet p;
    EXPECT_TRUE(q.get_last(&p));
    EXPECT_EQ(PacketPool::available(), before - 1);
    p.clear();
    EXPECT_EQ(PacketPool::available(), before);
}

TEST(CleanQueue, ClearAndDestructionReleaseThePackets)
{
    const unsigned before = PacketPool::available();
    {
        CleanQueue<Packet, 135> q;
        for (unsigned i = 0; i < 200; ++i)
            q.put(packet(1));
        EXPECT_EQ(PacketPool::available(), before - 135);
        q.clear();
        EXPECT_EQ(q.count(), 0u);
        Packet none;
        EXPECT_FALSE(q.get(&none));
        EXPECT_EQ(PacketPool::available(), before);
        q.append(packet(2));
        q.put(packet(3));
        EXPECT_EQ(PacketPool::available(), before - 2);
    }
    EXPECT_EQ(PacketPool::available(), before);
}

} // namespace
