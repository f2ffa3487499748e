#include "runtime/clean_queue.hpp"
#include "runtime/packet.hpp"

#include <gtest/gtest.h>

#include <string>

namespace
{

Packet packet(unsigned char b)
{
    Packet p;
    EXPECT_TRUE(p.reserve_head(0));
    p.put8(b);
    return p;
}

// Runs a script on a 3-slot queue of ints: p put, a append, g get, l get_last,
// v preview, c clear. Answers: the value taken, "-" for an empty queue,
// "P"/"A" for a refused put/append; then "#" and the count.
std::string run(const std::string& script)
{
    CleanQueue<int, 3> q;
    std::string out;
    int next = 1, v = 0;
    for (char op : script) {
        if (op == 'p' || op == 'a')
            out += (op == 'p' ? q.put(next++) : q.append(next++)) ? op : char(op - 32);
        if (op == 'g' || op == 'l')
            out += (op == 'g' ? q.get(&v) : q.get_last(&v)) ? std::to_string(v) : "-";
        if (op == 'v')
            out += q.preview(&v) ? "<" + std::to_string(v) + ">" : "<>";
        if (op == 'c')
            q.clear();
    }
    return out + "#" + std::to_string(q.count());
}

TEST(CleanQueue, OrderAndCapacityTable)
{
    // The last row of three: the indices wrap, append wraps below slot 0,
    // clear resets the indices.
    // clang-format off
    const std::pair<const char*, const char*> cases[] = {
        {"glv", "--<>#0"},         {"pppp", "pppP#3"},          {"pppa", "pppA#3"},
        {"ppagggg", "ppa312-#0"},  {"ppllg", "pp21-#0"},        {"pvgv", "p<1>1<>#0"},
        {"pgpgpgpgpg", "p1p2p3p4p5#0"}, {"aaagg", "aaa32#1"},   {"pgpcpppp", "p1ppppP#3"}};
    // clang-format on
    for (const auto& [script, expected] : cases)
        EXPECT_EQ(run(script), expected) << script;
}

// Taking a packet out hands over the queue's reference; clearing and
// destroying the queue release the packets it still holds.
TEST(CleanQueue, PacketsAreHandedOverOrReleased)
{
    const unsigned before = PacketPool::available();
    {
        CleanQueue<Packet, 135> q;
        for (unsigned i = 0; i < 20; ++i) {
            ASSERT_TRUE(q.put(packet(static_cast<unsigned char>(i))));
            Packet out;
            ASSERT_TRUE(i % 2 ? q.get(out) : q.get_last(&out));
            EXPECT_EQ(out[0], i);
        }
        EXPECT_EQ(PacketPool::available(), before);
        for (unsigned i = 0; i < 200; ++i)
            q.put(packet(1));
        EXPECT_EQ(PacketPool::available(), before - 135);
        q.clear();
        EXPECT_EQ(PacketPool::available(), before);
        q.append(packet(2));
        q.put(packet(3));
        EXPECT_EQ(PacketPool::available(), before - 2);
    }
    EXPECT_EQ(PacketPool::available(), before);
}

} // namespace
