#include "runtime/lists.hpp"

#include <cctype>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace
{

struct Item : F_dual_list_item<Item> {
    int key = 0;
    int tag = 0;
    int compare(const Item* other) const { return key - other->key; }
};

// The tags front to back; checks the backward links and the count on the way.
std::vector<int> tags(const F_dual_list<Item>& list)
{
    std::vector<int> out, back;
    for (auto it = list.begin(); it != list.end(); ++it)
        out.push_back(it->tag);
    for (Item* i = list.back(); i; i = i->get_prev())
        back.insert(back.begin(), i->tag);
    EXPECT_EQ(out, back) << "backward links";
    EXPECT_EQ(list.count(), out.size());
    EXPECT_EQ(list.first() == nullptr, out.empty());
    return out;
}

TEST(FDualList, LinkingOperations)
{
    // t<n> to tail, h<n> to head, a<n><m> m after n, r<n> remove, R/T take from head/tail
    // clang-format off
    const std::pair<const char*, std::vector<int>> cases[] = {
        {"t1t2t3", {1, 2, 3}},  {"h1h2h3", {3, 2, 1}},  {"t1t2a24", {1, 2, 4}}, {"t1t2a15", {1, 5, 2}},
        {"t1t2t3r2", {1, 3}},   {"t1t2t3r1", {2, 3}},   {"t1t2t3r3", {1, 2}},   {"t1r1", {}},
        {"t1t2R", {2}},         {"t1t2T", {1}},         {"RT", {}}};
    // clang-format on
    for (const auto& [ops, expected] : cases) {
        Item items[10];
        for (int i = 0; i < 10; ++i)
            items[i].tag = i;
        F_dual_list<Item> list;
        for (const char* op = ops; *op; op += *op == 'a' ? 3 : std::islower(*op) ? 2 : 1) {
            auto n = [&] { return &items[op[1] - '0']; };
            if (*op == 't')
                list.insert_to_tail(n());
            if (*op == 'h')
                list.insert_to_head(n());
            if (*op == 'a')
                list.insert_after(n(), &items[op[2] - '0']);
            if (*op == 'r')
                list.remove(n());
            if (*op == 'R')
                list.remove_from_head();
            if (*op == 'T')
                list.remove_from_tail();
        }
        EXPECT_EQ(tags(list), expected) << ops;
    }
}

TEST(FDualList, MergeAndArrayConstructor)
{
    static Item blocks[1024];
    F_dual_list<Item> pool(blocks, 1024), empty;
    for (int i = 0; i < 1024; ++i)
        blocks[i].tag = i;
    pool.merge(empty);
    EXPECT_EQ(tags(pool), std::vector<int>{});
    EXPECT_EQ(tags(empty).size(), 1024u);
    for (int i = 0; i < 1024; ++i)
        ASSERT_EQ(empty.remove_from_head(), &blocks[i]);
    EXPECT_EQ(empty.back(), nullptr);
}

TEST(FSortedList, EqualKeysKeepArrivalOrder)
{
    // The keys, and the arrival numbers (1-based) in list order.
    const std::pair<std::vector<int>, std::vector<int>> cases[] = {
        {{5, 3, 5, 9, 3}, {2, 5, 1, 3, 4}}, // head, tail and middle inserts, equal keys
        {{3, 2, 1}, {3, 2, 1}},
    };
    for (const auto& [keys, expected_tags] : cases) {
        std::vector<Item> items(keys.size());
        F_sorted_list<Item> list;
        for (std::size_t i = 0; i < keys.size(); ++i) {
            items[i].key = keys[i];
            items[i].tag = int(i) + 1;
            list.insert_to_tail_by_grown(&items[i]);
        }
        EXPECT_EQ(tags(list), expected_tags);
    }
}

struct Receiver {
    int id;
    Containers::CyclicList node;
    explicit Receiver(int i) : id(i) {}
    virtual ~Receiver() = default; // the node is not at offset 0
};

std::vector<int> ring(Containers::CyclicList& head)
{
    std::vector<int> out;
    for (auto it = head.begin(); it != head.end(); ++it)
        out.push_back(Containers::offset<Receiver>(&*it, &Receiver::node)->id);
    return out;
}

TEST(CyclicList, RingsMoveAndDestroyCleanly)
{
    Containers::CyclicList a, b;
    Receiver r1(1), r2(2), r3(3);
    EXPECT_TRUE(a.begin() == a.end());
    a.AddToTail(&r1.node);
    a.AddToTail(&r2.node);
    a.AddToTail(&r3.node);
    EXPECT_EQ(ring(a), (std::vector<int>{1, 2, 3}));
    b.AddToTail(&r2.node);
    EXPECT_EQ(ring(a), (std::vector<int>{1, 3}));
    EXPECT_EQ(ring(b), (std::vector<int>{2}));
    a.AddToTail(&r1.node);
    {
        Receiver r4(4);
        a.AddToTail(&r4.node);
        EXPECT_EQ(ring(a), (std::vector<int>{3, 1, 4}));
    }
    EXPECT_EQ(ring(a), (std::vector<int>{3, 1}));
}

} // namespace
