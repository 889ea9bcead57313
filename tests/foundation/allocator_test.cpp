#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/allocator.h"

namespace {
struct AllocatorTest : ::testing::Test {
    void TearDown() override
    {
        FailNthAllocation(0);
        gOutOfMemory = 0;
    }
};
} // namespace

TEST_F(AllocatorTest, GrowKeepsContentsAndZeroesTheRestShrinkAndFreeCount)
{
    uint64_t base = gAllocatedBytes.load();
    char *p = nullptr;
    ASSERT_EQ(AllocMemory(&p, 10), 1);
    memcpy(p, "0123456789", 10);
    ASSERT_EQ(ReallocMemory(&p, 20), 1);
    EXPECT_EQ(memcmp(p, "0123456789", 10), 0);
    for (int i = 10; i < 20; i++) EXPECT_EQ(p[i], 0) << i;
    EXPECT_EQ(gAllocatedBytes.load() - base, 20u);
    EXPECT_EQ(TrackedBlockSize(p), 20u);
    ASSERT_EQ(ReallocMemory(&p, 4), 1);
    EXPECT_EQ(memcmp(p, "0123", 4), 0);
    EXPECT_EQ(gAllocatedBytes.load() - base, 4u);
    ASSERT_EQ(ReallocMemory(&p, 0), 1);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(gAllocatedBytes.load(), base);
    EXPECT_EQ(ReallocMemory(&p, 0), 1); // size 0 of a null pointer
    EXPECT_EQ(p, nullptr);
    FreeMemory(&p); // null is left alone
}

TEST_F(AllocatorTest, AllocOnALiveSlotNeitherLeaksNorInflatesTheCount)
{
    uint64_t base = gAllocatedBytes.load();
    void *p = nullptr;
    ASSERT_EQ(AllocMemory(&p, 100), 1);
    ASSERT_EQ(AllocMemory(&p, 50), 1);
    EXPECT_EQ(gAllocatedBytes.load() - base, 50u);
    for (int i = 0; i < 50; i++) EXPECT_EQ(((char *)p)[i], 0);
    FreeMemory(&p);
    EXPECT_EQ(gAllocatedBytes.load(), base);
}

TEST_F(AllocatorTest, FailureIsStickyUntilCleared)
{
    void *big = nullptr, *tiny = nullptr, *kept = nullptr;
    ASSERT_EQ(AllocMemory(&kept, 8), 1);
    EXPECT_EQ(ReallocMemory(&big, UINT64_MAX / 2), 0);
    EXPECT_EQ(gOutOfMemory.load(), 1);
    EXPECT_EQ(big, nullptr);
    EXPECT_EQ(AllocMemory(&tiny, 1), 0);    // even a tiny one fails now
    EXPECT_EQ(ReallocMemory(&kept, 16), 0); // a failed grow keeps the block
    EXPECT_EQ(TrackedBlockSize(kept), 8u);
    gOutOfMemory = 0;
    EXPECT_EQ(AllocMemory(&tiny, 1), 1);
    FreeMemory(&tiny);
    FreeMemory(&kept);
}

/* The fault hook fails exactly the nth allocation that makes or grows a
** block, as a real failure would, and only once. */
TEST_F(AllocatorTest, AnArmedFaultFailsTheNthAllocationOnce)
{
    uint64_t base = gAllocatedBytes.load();
    char *a = nullptr, *b = nullptr, *c = nullptr;
    FailNthAllocation(3);
    ASSERT_EQ(AllocMemory(&a, 8), 1);   /* 1 */
    ASSERT_EQ(ReallocMemory(&a, 4), 1); /* a shrink is not counted */
    ASSERT_EQ(ReallocMemory(&a, 0), 1); /* nor a free */
    ASSERT_EQ(AllocMemory(&b, 8), 1);   /* 2 */
    EXPECT_EQ(AllocationFaultArmed(), 1);
    EXPECT_EQ(ReallocMemory(&b, 16), 0); /* 3: fails, the block kept */
    EXPECT_EQ(TrackedBlockSize(b), 8u);
    EXPECT_EQ(gOutOfMemory.load(), 1);
    EXPECT_EQ(AllocationFaultArmed(), 0);
    gOutOfMemory = 0;
    EXPECT_EQ(AllocMemory(&c, 8), 1); /* fired once only */
    FreeMemory(&b);
    FreeMemory(&c);
    EXPECT_EQ(gAllocatedBytes.load(), base);
    FailNthAllocation(1);
    FailNthAllocation(0);
    EXPECT_EQ(AllocMemory(&c, 8), 1) << "disarmed";
    FreeMemory(&c);
}

TEST_F(AllocatorTest, CountStaysExactAcrossThreads)
{
    uint64_t base = gAllocatedBytes.load();
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; t++)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; i++) {
                void *p = nullptr;
                ReallocMemory(&p, 16 + i % 64);
                ReallocMemory(&p, 200);
                FreeMemory(&p);
            }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(gAllocatedBytes.load(), base);
}

TEST_F(AllocatorTest, GrowListGrowsToTwiceAndTwo)
{
    GrowList list = {};
    ASSERT_EQ(GrowListReserve(&list, 1, 8), 1);
    EXPECT_EQ(list.capacity, 2);
    ASSERT_EQ(GrowListReserve(&list, 3, 8), 1);
    EXPECT_EQ(list.capacity, 6);
    ASSERT_EQ(GrowListReserve(&list, 6, 8), 1);
    EXPECT_EQ(list.capacity, 6);
    ASSERT_EQ(GrowListReserve(&list, 100, 8), 1);
    EXPECT_EQ(list.capacity, 100);
    FreeMemory(&list.items);
}

TEST(HashTable, LookupInsertReplaceAndGrowth)
{
    HashTable *t = HashCreate();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->capacity, 16u);
    for (int i = 1; i <= 8; i++) ASSERT_NE(HashInsert(t, ("key" + std::to_string(i)).c_str(), i), nullptr);
    EXPECT_EQ(t->capacity, 16u);
    const char *stored = HashInsert(t, "key9", 9); // the 9th key grows the table first
    ASSERT_NE(stored, nullptr);
    EXPECT_STREQ(stored, "key9");
    EXPECT_EQ(t->capacity, 32u);
    for (int i = 1; i <= 9; i++) EXPECT_EQ(HashLookup(t, ("key" + std::to_string(i)).c_str()), (uint64_t)i);
    EXPECT_EQ(HashLookup(t, "KEY1"), 0u); // case matters
    EXPECT_EQ(HashLookup(t, "absent"), 0u);
    HashInsert(t, "key3", 33);
    EXPECT_EQ(HashLookup(t, "key3"), 33u);
    EXPECT_EQ(t->count, 9u);
    EXPECT_NE(HashInsert(t, "", 5), nullptr); // the empty key is a key like any other
    EXPECT_EQ(HashLookup(t, ""), 5u);
    for (int i = 0; i < 1000; i++) HashInsert(t, ("many" + std::to_string(i)).c_str(), i + 1);
    EXPECT_LT(t->count, t->capacity / 2 + 1);
    EXPECT_EQ(HashLookup(t, "many777"), 778u);
    HashDestroy(t);
}
