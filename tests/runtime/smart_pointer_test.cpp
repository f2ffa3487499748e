#include "runtime/smart_pointer.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace
{

struct Counted {
    explicit Counted(int v) : value(v) {}
    Counted(const Counted& other) : value(other.value) { ++copies; }
    ~Counted() { ++destroyed; }
    std::uint32_t ref_count = 0;
    int value;
    static inline int copies = 0;
    static inline int destroyed = 0;
};

TEST(SmartPointer, SharesCountsAndCopiesBeforeAChange)
{
    Counted::copies = Counted::destroyed = 0;
    {
        Smart_pointer<Counted> a(new Counted(1));
        Smart_pointer<Counted> b = a;
        EXPECT_EQ(a.get(), b.get());
        EXPECT_EQ(a.get()->ref_count, 2u);
        b = b.get(); // itself: nothing changes
        EXPECT_EQ(a.get()->ref_count, 2u);
        b->value = 2; // shared: b gets its own copy first
        EXPECT_EQ(Counted::copies, 1);
        EXPECT_EQ(a->value, 1);
        EXPECT_EQ(b->value, 2);
        EXPECT_EQ(a.get()->ref_count, 1u);
        b->value = 3; // private now: no further copy
        EXPECT_EQ(Counted::copies, 1);
        a.clean();
        EXPECT_EQ(Counted::destroyed, 1);
    }
    EXPECT_EQ(Counted::destroyed, 2);
}

} // namespace
