#include "runtime/packet.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using Bytes = std::vector<unsigned char>;
using Step = std::function<void(Packet&)>;

// A packet holding the given bytes, with `head` bytes of head room.
Packet make(const Bytes& bytes, unsigned head = 16)
{
    Packet p;
    EXPECT_TRUE(p.reserve_head(head));
    for (unsigned char b : bytes)
        p.put8(b);
    return p;
}

std::string rooms(const Packet& p)
{
    std::ostringstream os;
    p.dump(os);
    return os.str();
}

TEST(Packet, HeadAndTailRoomTable)
{
    const std::pair<Step, const char*> cases[] = {
        {[](Packet& p) { p.reserve_head(0); }, "head=0, data=0, tail=65536"},
        {[](Packet& p) { p.reserve_tail(2); }, "head=65534, data=0, tail=2"},
        {[](Packet& p) { p.reserve_tail(65536); }, "head=0, data=0, tail=65536"},
        // Layers add their headers.
        {[](Packet& p) { p.reserve_head(4), p.reserve_head(3), p.reserve_head(2); },
         "head=9, data=0, tail=65527"},
        {[](Packet& p) { p.reserve_head(10), p.reserve_tail(4); }, "head=6, data=0, tail=65530"},
        {[](Packet& p) { p.reserve_head(8), p.put(100), p.push(3); }, "head=5, data=103, tail=65428"},
        {[](Packet& p) { p.reserve_head(0), p.put(10), p.pull(4), p.trim(5); }, "head=4, data=1, tail=65531"},
        {[](Packet& p) { p.reserve_head(0), p.put(65536); }, "head=0, data=65536, tail=0"},
        {[](Packet& p) { p.reserve_head(0), p.reserve_head(65536); }, "head=65536, data=0, tail=0"},
    };
    for (const auto& [steps, expected] : cases) {
        Packet p;
        steps(p);
        EXPECT_EQ(rooms(p), expected);
    }
}

TEST(Packet, ByteOrderOfAddedDataTable)
{
    const std::pair<Step, Bytes> cases[] = {
        {[](Packet& p) { p.put16(0x0102); }, {0x02, 0x01}},
        {[](Packet& p) { p.put16_b(0x0102); }, {0x01, 0x02}},
        {[](Packet& p) { p.put8(0xEE), p.push16_b(5), p.push8(0), p.push8(3); },
         {0x03, 0x00, 0x00, 0x05, 0xEE}},
        {[](Packet& p) { p.put(std::string("ab")); }, {0x02, 'a', 'b'}}, // length, then the bytes
        {[](Packet& p) { p.put(std::string()); }, {0x00}},
        {[](Packet& p) {
             p.put(make({0x07, 0x08}));
         },
         {0x07, 0x08}},
        {[](Packet& p) { p.put16_b(0xCAFE), p.put(p); }, {0xCA, 0xFE, 0xCA, 0xFE}}, // put of itself doubles
        {[](Packet& p) { p.put(3), p[0] = 9, p[1] = 8, p[2] = 7; }, {9, 8, 7}},
    };
    for (const auto& [steps, expected] : cases) {
        Packet p = make({}, 8);
        steps(p);
        EXPECT_EQ(Bytes(p.data(), p.data() + p.length()), expected);
    }
}

// Each case pulls from a packet of the input bytes: the value read and the
// length left.
TEST(Packet, PullTable)
{
    using P = Packet&;
    const std::tuple<Bytes, std::function<unsigned(Packet&)>, unsigned, unsigned> cases[] = {
        {{0x81, 0x02}, [](P p) { return unsigned{p.pull8()}; }, 0x81, 1},
        {{}, [](P p) { return unsigned{p.pull8()}; }, 0, 0},
        {{0x01, 0x02}, [](P p) { return unsigned{p.pull16()}; }, 0x0201, 0},
        {{0x01, 0x02}, [](P p) { return unsigned{p.pull16_b()}; }, 0x0102, 0},
        {{0x01}, [](P p) { return unsigned{p.pull16_b()}; }, 0x0100, 0},
        {{0x01}, [](P p) { return unsigned{p.pull16()}; }, 0x0001, 0},
        {{5, 6, 7}, [](P p) { return unsigned{*p.pull(2)}; }, 5, 1},                     // the old front
        {{5, 6, 7}, [](P p) { return unsigned(p.trim(1) - p.data()); }, 2, 2},           // the new tail
        {{2, 'o', 'k', 9}, [](P p) { return unsigned(p.pull_string() == "ok"); }, 1, 1}, // length, then bytes
        {{3, 'a'}, [](P p) { return unsigned(p.pull_string() == std::string("a\0\0", 3)); }, 1, 0},
    };
    for (const auto& [input, pull, expected, left] : cases) {
        Packet p = make(input);
        EXPECT_EQ(pull(p), expected) << ::testing::PrintToString(input);
        EXPECT_EQ(p.length(), left) << ::testing::PrintToString(input);
    }
}

TEST(Packet, TextForms)
{
    Packet null;
    std::ostringstream none;
    EXPECT_TRUE(null.null() && null.empty());
    EXPECT_EQ(null.text(), "(null)");
    EXPECT_FALSE(null.dump(none) || null.dump_context(none));
    EXPECT_EQ(none.str(), "");
    const std::tuple<Bytes, const char*, const char*> cases[] = {
        {{}, "", ""},
        {{0x0A, 0xFF}, "0A FF", "dump: a ff"},
    };
    for (const auto& [bytes, text, context] : cases) {
        Packet p = make(bytes);
        std::ostringstream os;
        EXPECT_EQ(p.text(), text);
        EXPECT_TRUE(p.dump_context(os));
        EXPECT_EQ(os.str(), context);
    }
}

TEST(Packet, SubCopiesARange)
{
    Packet p = make({1, 2, 3, 4, 5}, 6);
    Packet part = p.sub(2, 1);
    EXPECT_EQ(part.text(), "02 03");
    EXPECT_EQ(rooms(part), "head=7, data=2, tail=65527");
    part[0] = 0x20;
    EXPECT_EQ(p.text(), "01 02 03 04 05");
    EXPECT_EQ(p.sub(0, 5).text(), "");
    EXPECT_EQ(p.sub(5, 0).text(), "01 02 03 04 05");
}

TEST(Packet, CopyOnWriteLeavesOtherHolderUnchanged)
{
    const unsigned before = PacketPool::available();
    Packet a = make({1, 2, 3});
    EXPECT_EQ(PacketPool::available(), before - 1);
    const std::pair<Step, const char*> cases[] = {
        {[](Packet& p) { p.put8(4); }, "01 02 03 04"},
        {[](Packet& p) { p.push8(0); }, "00 01 02 03"},
        {[](Packet& p) { p.pull8(); }, "02 03"},
        {[](Packet& p) { p.trim(1); }, "01 02"},
        {[](Packet& p) { p[1] = 0x22; }, "01 22 03"},
        {[](Packet& p) { p.data()[0] = 0x11; }, "11 02 03"},
        {[](Packet& p) { p.reserve_tail(0); }, "01 02 03"},
    };
    for (const auto& [change, changed] : cases) {
        Packet b = a;
        EXPECT_EQ(PacketPool::available(), before - 1) << changed;
        change(b);
        EXPECT_EQ(PacketPool::available(), before - 2) << changed;
        EXPECT_EQ(b.text(), changed);
        EXPECT_EQ(rooms(a) + " " + a.text(), "head=16, data=3, tail=65517 01 02 03") << changed;
    }
    EXPECT_EQ(PacketPool::available(), before - 1);

    // Reading never copies, and a private buffer is changed in place.
    Packet reader = a;
    const Packet& view = reader;
    EXPECT_EQ(view[2], 3);
    EXPECT_EQ(reader.length(), 3u);
    EXPECT_EQ(PacketPool::available(), before - 1);
    reader.clear();
    a.put8(4);
    EXPECT_EQ(PacketPool::available(), before - 1);
    a.clear();
    EXPECT_EQ(PacketPool::available(), before);
}

// A packet filled again and again keeps its buffer while it is the only
// holder; a buffer another handle shares is left to that handle.
TEST(Packet, RenewKeepsAnUnsharedBufferOnly)
{
    Packet p;
    ASSERT_TRUE(p.renew(4));
    p.put8(1);
    const unsigned char* first = p.data();
    const unsigned free = PacketPool::available();
    ASSERT_TRUE(p.renew(0));
    EXPECT_EQ(p.data() + 4, first);
    EXPECT_EQ(p.length(), 0u);
    EXPECT_EQ(PacketPool::available(), free);
    p.put8(2);
    Packet other = p;
    ASSERT_TRUE(p.renew(0));
    EXPECT_EQ(PacketPool::available(), free - 1);
    EXPECT_EQ(other.text(), "02");
    EXPECT_EQ(p.length(), 0u);
}

TEST(Packet, PoolHandsOutTheLatestReturnedBlockFirst)
{
    // Blocks never used are free too: the one just released comes first.
    Packet first = make({}, 0);
    const unsigned char* released = first.data();
    first.clear();
    EXPECT_EQ(make({}, 0).data(), released);

    // Several released: the latest first.
    std::vector<Packet> held(3);
    const unsigned char* order[3];
    for (std::size_t i = 0; i < held.size(); ++i) {
        ASSERT_TRUE(held[i].reserve_head(0));
        order[i] = held[i].data();
    }
    for (auto& p : held)
        p.clear();
    for (std::size_t i = held.size(); i-- > 0;) {
        held[i] = make({}, 0);
        EXPECT_EQ(held[i].data(), order[i]) << i;
    }
}

TEST(Packet, ExhaustedPoolFailsAndRecovers)
{
    std::vector<Packet> held(PacketPool::available());
    for (auto& p : held)
        ASSERT_TRUE(p.reserve_head(4));
    EXPECT_EQ(PacketPool::available(), 0u);
    const std::function<bool(Packet&)> fresh[] = {
        [](Packet& p) { return p.reserve_head(4); },
        [](Packet& p) { return p.reserve_tail(4); },
        [&held](Packet& p) { return held[0].put8(1), !(p = held[0].sub(1, 0)).null(); },
    };
    for (const auto& take : fresh) {
        Packet p;
        EXPECT_FALSE(take(p));
        EXPECT_TRUE(p.null());
    }

    // The private copy of a shared buffer is a request like the others: it
    // fails and leaves both handles sharing, unchanged; no buffer comes from
    // anywhere else. A private buffer needs no copy.
    held[1].put8(0x41);
    Packet shared = held[1];
    EXPECT_FALSE(shared.unshare());
    EXPECT_EQ(shared.text(), "41");
    EXPECT_EQ(PacketPool::available(), 0u);
    shared.clear();
    EXPECT_TRUE(held[1].unshare());
    EXPECT_TRUE(Packet().unshare()) << "a null packet has nothing to copy";

    held.pop_back();
    EXPECT_EQ(PacketPool::available(), 1u);
    Packet again;
    EXPECT_TRUE(again.reserve_head(4));
    again.clear();
    held.clear();
    EXPECT_EQ(PacketPool::available(), PacketPool::capacity());
}

// Waiters are told once, in the order they asked, by the next buffer back in
// the pool: one that stopped waiting, or was told already, is not told again.
TEST(Packet, ReturnedBufferTellsEachWaiterOnce)
{
    struct Waiter : PacketWaiter {
        std::string* log;
        char name;
        Waiter(std::string* l, char n) : log(l), name(n) {}
        void buffer_free() override { *log += name; }
    };
    std::string told;
    Waiter a(&told, 'a'), b(&told, 'b'), c(&told, 'c');
    Packet p, q;
    ASSERT_TRUE(p.reserve_head(0) && q.reserve_head(0));
    for (Waiter* w : {&c, &a, &b, &c})
        w->wait_for_buffer();
    b.stop_waiting();
    Packet shared = p;
    shared.clear();
    EXPECT_EQ(told, "") << "a buffer still held is not returned";
    p.clear();
    EXPECT_EQ(told, "ca");
    EXPECT_FALSE(a.waiting_for_buffer() || b.waiting_for_buffer() || c.waiting_for_buffer());
    q.clear();
    EXPECT_EQ(told, "ca");
}

// ---- contract violations ----------------------------------------------------

TEST(PacketDeathTest, AssertionTextsTable)
{
    // clang-format off
    // Each breach, and the output after "PACKET ASSERTION FAILED!\n".
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[] { Packet().data(); }, "null packet\n(null)\n\n"},
        {[] { Packet().reserve_head(65537); }, "length>packet_max_size\n(null)\n\n"},
        {[] { Packet().reserve_tail(65537); }, "len>packet_max_size\n(null)\n\n"},
        {[] { make({0xAB}, 65530).reserve_head(6); },
         "new_len>packet_max_size\nhead=65530, data=1, tail=5\ndump:\n ab\n\n"},
        {[] { make({1, 2}, 5).reserve_tail(6); },
         "_tailroom()+len <= packet_max_size\nhead=5, data=2, tail=65529\ndump:\n 1 2\n\n"},
        {[] { make({}, 65535).put(2); }, "len<=_tailroom()\nhead=65535, data=0, tail=1\n\n"},
        {[] { make({0x01, 0x0A}, 1).push(2); },
         "len<=_headroom()\nhead=1, data=2, tail=65533\ndump:\n 1 a\n\n"},
        {[] { make({}, 3).pull(1); }, "len<=_length()\nhead=3, data=0, tail=65533\n\n"},
        {[] { make({0xFF}, 0).trim(2); }, "len<=_length()\nhead=0, data=1, tail=65535\ndump:\n ff\n\n"},
        {[] { make({7}, 0)[-1] = 0; }, "index out of range\nhead=0, data=1, tail=65535\ndump:\n 7\n\n"},
        {[] { make({1, 2}, 0).sub(0, 3); }, "start<=_length()\nhead=0, data=2, tail=65534\ndump:\n 1 2\n\n"},
        {[] { make({1, 2}, 0).sub(2, 1); },
         "start+len<=_length()\nhead=0, data=2, tail=65534\ndump:\n 1 2\n\n"},
        {[] { make({1, 2}, 0).sub(0xFFFFFFFFu, 1); }, "start+len<=_length()\n"}, // start+len wraps
        {[] { make({}).put(std::string(256, 'x')); }, "string length>255\n"},
    };
    // clang-format on
    for (const auto& [breach, output] : cases)
        EXPECT_DEATH(breach(), ::testing::HasSubstr("PACKET ASSERTION FAILED!\n" + output)) << output;
}

// A change to a shared buffer without unshare() first, when the pool has no
// buffer for the copy.
TEST(PacketDeathTest, ChangeOfASharedBufferWithTheAPoolEmpty)
{
    const std::function<void(Packet&)> changes[] = {
        [](Packet& p) { p.put8(1); },
        [](Packet& p) { p.push8(1); },
        [](Packet& p) { p.data(); },
    };
    for (const auto& change : changes) {
        EXPECT_DEATH(
            {
                std::vector<Packet> held(PacketPool::available());
                for (auto& p : held)
                    p.reserve_head(4);
                Packet shared = held[0];
                change(shared);
            },
            ::testing::HasSubstr("PACKET ASSERTION FAILED!\nallocation fail\n"));
    }
}

TEST(PacketDeathTest, NullSmartPointer)
{
    Smart_pointer<_Packet> none;
    EXPECT_DEATH((void)none->ref_count, ::testing::HasSubstr("SMART POINTER ASSERTION!\n"));
}

} // namespace
