#include "runtime/lists.hpp"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

struct Item : F_dual_list_item<Item> {
    int key = 0;
    int tag = 0;
    int compare(const Item* other) const { return key - other->key; }
};

std::vector<int> tags(const F_dual_list<Item>& list) {
    std::vector<int> out;
    for (auto it = list.begin(); it != list.end(); ++it) out.push_back(it->tag);
    return out;
}

std::vector<int> tags_backwards(const F_dual_list<Item>& list) {
    std::vector<int> out;
    for (Item* i = list.back(); i; i = i->get_prev()) out.push_back(i->tag);
    return out;
}

TEST(FDualList, LinkingOperations) {
    struct Case {
        const char* what;
        std::vector<std::string> ops; // "t1" tail, "h1" head, "a<pos><tag>" after, "r1" remove, "R" from head, "T" from tail
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"tail inserts keep order", {"t1", "t2", "t3"}, {1, 2, 3}},
        {"head inserts reverse", {"h1", "h2", "h3"}, {3, 2, 1}},
        {"insert after the tail moves the tail", {"t1", "t2", "a24"}, {1, 2, 4}},
        {"insert after the middle", {"t1", "t2", "a15"}, {1, 5, 2}},
        {"remove the middle", {"t1", "t2", "t3", "r2"}, {1, 3}},
        {"remove the head", {"t1", "t2", "t3", "r1"}, {2, 3}},
        {"remove the tail", {"t1", "t2", "t3", "r3"}, {1, 2}},
        {"remove the only element", {"t1", "r1"}, {}},
        {"take from the head", {"t1", "t2", "R"}, {2}},
        {"take from the tail", {"t1", "t2", "T"}, {1}},
        {"take from an empty list", {"R", "T"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Item items[10];
        for (int i = 0; i < 10; ++i) items[i].tag = i;
        F_dual_list<Item> list;
        for (const std::string& op : c.ops) {
            switch (op[0]) {
            case 't':
                list.insert_to_tail(&items[op[1] - '0']);
                break;
            case 'h':
                list.insert_to_head(&items[op[1] - '0']);
                break;
            case 'a':
                list.insert_after(&items[op[1] - '0'], &items[op[2] - '0']);
                break;
            case 'r':
                list.remove(&items[op[1] - '0']);
                break;
            case 'R':
                list.remove_from_head();
                break;
            case 'T':
                list.remove_from_tail();
                break;
            }
        }
        EXPECT_EQ(tags(list), c.expected);
        std::vector<int> back(c.expected.rbegin(), c.expected.rend());
        EXPECT_EQ(tags_backwards(list), back);
        EXPECT_EQ(list.count(), c.expected.size());
        EXPECT_EQ(list.size(), c.expected.size());
        if (c.expected.empty()) {
            EXPECT_EQ(list.first(), nullptr);
            EXPECT_EQ(list.back(), nullptr);
        } else {
            EXPECT_EQ(list.first()->get_prev(), nullptr);
            EXPECT_EQ(list.back()->get_next(), nullptr);
        }
    }
}

TEST(FDualList, MergeExchangesContents) {
    Item a, b;
    a.tag = 1;
    b.tag = 2;
    F_dual_list<Item> full, empty;
    full.insert_to_tail(&a);
    full.insert_to_tail(&b);
    full.merge(empty);
    EXPECT_EQ(full.count(), 0u);
    EXPECT_EQ(full.first(), nullptr);
    EXPECT_EQ(tags(empty), (std::vector<int>{1, 2}));
    EXPECT_EQ(empty.count(), 2u);
}

TEST(FDualList, ArrayConstructorLinksInArrayOrder) {
    static Item blocks[1024];
    F_dual_list<Item> pool(blocks, 1024);
    EXPECT_EQ(pool.count(), 1024u);
    EXPECT_EQ(pool.first(), &blocks[0]);
    EXPECT_EQ(pool.back(), &blocks[1023]);
    EXPECT_EQ(blocks[0].get_prev(), nullptr);
    EXPECT_EQ(blocks[1023].get_next(), nullptr);
    for (int i = 0; i < 1024; ++i) ASSERT_EQ(pool.remove_from_head(), &blocks[i]);
    EXPECT_EQ(pool.count(), 0u);
    EXPECT_EQ(pool.back(), nullptr);
}

TEST(FSortedList, EqualKeysKeepArrivalOrder) {
    struct Case {
        std::vector<int> keys;
        std::vector<int> expected_tags; // arrival numbers, 1-based
    };
    const Case cases[] = {
        {{5, 3, 5, 9, 3}, {2, 5, 1, 3, 4}},
        {{1, 2, 3}, {1, 2, 3}},
        {{3, 2, 1}, {3, 2, 1}},
        {{7, 7, 7}, {1, 2, 3}},
        {{}, {}},
    };
    for (const Case& c : cases) {
        std::vector<Item> items(c.keys.size());
        F_sorted_list<Item> list;
        for (std::size_t i = 0; i < c.keys.size(); ++i) {
            items[i].key = c.keys[i];
            items[i].tag = int(i) + 1;
            list.insert_to_tail_by_grown(&items[i]);
        }
        EXPECT_EQ(tags(list), c.expected_tags);
        EXPECT_EQ(list.count(), c.keys.size());
    }
}

struct Receiver {
    int id;
    Containers::CyclicList node;
    explicit Receiver(int i) : id(i) {}
    virtual ~Receiver() = default;
};

std::vector<int> ring(Containers::CyclicList& head) {
    std::vector<int> out;
    for (auto it = head.begin(); it != head.end(); ++it)
        out.push_back(Containers::offset<Receiver>(&*it, &Receiver::node)->id);
    return out;
}

TEST(CyclicList, RingsMoveAndDestroyCleanly) {
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
    EXPECT_EQ(ring(a), (std::vector<int>{3, 1}));
    {
        Receiver r4(4);
        a.AddToTail(&r4.node);
        EXPECT_EQ(ring(a), (std::vector<int>{3, 1, 4}));
    }
    EXPECT_EQ(ring(a), (std::vector<int>{3, 1}));
}

TEST(CyclicList, OffsetFindsTheEmbeddingObject) {
    Receiver r(42);
    EXPECT_EQ(Containers::offset<Receiver>(&r.node, &Receiver::node), &r);
}

} // namespace
