/* random_test.cpp -- the seeded sequence, worker slots and random values. */
#include "foundation/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <thread>
#include <vector>

/* Puts the program's seed and the calling thread's slot back afterwards. */
class RandomTest : public ::testing::Test {
protected:
    uint32_t savedSeed;
    int savedSlot;
    void SetUp() override
    {
        savedSeed = gRandomSeed;
        savedSlot = CurrentRandomSlot();
    }
    void TearDown() override
    {
        gRandomSeed = savedSeed;
        SelectRandomSlot(savedSlot);
    }
};

TEST_F(RandomTest, ClassicSequence)
{
    /* clang-format off */
    static const struct { uint32_t seed; int want[8]; } kCases[] = {
        { 1, { 41, 18467, 6334, 26500, 19169, 15724, 11478, 29358 } },
        { 7, { 61, 17422, 15215, 7040, 15521, 6516, 30152, 11794 } },
        { 4294967295u, { 35, 29739, 3374 } },
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        SeedRandomGenerator(c.seed);
        int count = c.seed == 4294967295u ? 3 : 8;
        for (int i = 0; i < count; i++) EXPECT_EQ(NextRandom(), c.want[i]) << c.seed << " #" << i;
    }
}

TEST_F(RandomTest, EachWorkerSlotKeepsItsOwnSequence)
{
    /* A new thread draws from the program's generator until it selects a
    ** worker slot; workers seeded alike draw alike while running side by
    ** side, and none of them moves the program's sequence. */
    int newThreadSlot = -1;
    std::thread([&] { newThreadSlot = CurrentRandomSlot(); }).join();
    EXPECT_EQ(newThreadSlot, RANDOM_PROGRAM_SLOT);
    SelectRandomSlot(RANDOM_PROGRAM_SLOT);
    SeedRandomGenerator(7);

    std::vector<std::vector<int>> drawn(4);
    std::vector<std::thread> workers;
    for (int k = 0; k < 4; k++)
        workers.emplace_back([k, &drawn] {
            SelectRandomSlot(k + 1);
            SetRandomSeed(8);
            for (int i = 0; i < 1000; i++) drawn[k].push_back(NextRandom());
        });
    for (auto &w : workers) w.join();
    for (int k = 1; k < 4; k++) EXPECT_EQ(drawn[k], drawn[0]);
    std::thread([] { SelectRandomSlot(0); SeedRandomGenerator(99); NextRandom(); }).join();
    EXPECT_EQ(CurrentRandomSlot(), RANDOM_PROGRAM_SLOT);
    EXPECT_EQ(NextRandom(), 61); /* the first value of seed 7 */

    SelectRandomSlot(5);
    SeedRandomGenerator(8);
    SelectRandomSlot(6);
    SeedRandomGenerator(99);
    SelectRandomSlot(5);
    EXPECT_EQ(NextRandom(), drawn[0][0]); /* slot 6's seeding left slot 5 alone */

    SelectRandomSlot(40);
    EXPECT_EQ(CurrentRandomSlot(), RANDOM_SLOTS - 1);
    SelectRandomSlot(-3);
    EXPECT_EQ(CurrentRandomSlot(), 0);
}

TEST_F(RandomTest, SeededValuesRepeat)
{
    SetRandomSeed(7);
    EXPECT_EQ(gRandomSeed, 7u);
    const double want[] = {1, 54, 47, 22, 48, 20, 93, 36};
    for (double w : want) EXPECT_EQ(RandomValue(1, 100, 1), w);

    SetRandomSeed(123);
    EXPECT_EQ(RandomValue(5, 5, 1), 440 / 32767.0); /* empty range: the fraction */
}

TEST_F(RandomTest, ValuesStayOnTheGridInsideTheRange)
{
    /* clang-format off */
    static const struct { double low, high, step; std::set<double> grid; } kCases[] = {
        { 1, 10, 1, { 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 } },
        { 0, 10, 1, { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10 } },
        { 0.5, 1.5, 0.25, { 0.5, 0.75, 1, 1.25, 1.5 } },
        { 0.3, 2.7, 1, { 1, 2 } },
        { -2.5, 2.5, 1, { -2, -1, 0, 1, 2 } },      /* negative bounds round inwards too */
        { -10.5, -7.5, 1, { -10, -9, -8 } },
    };
    /* clang-format on */
    for (uint32_t seed : {0u, 5u}) {
        SetRandomSeed(seed);
        for (const auto &c : kCases) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " " << c.low << ".." << c.high);
            std::set<double> seen;
            for (int i = 0; i < 3000; i++) {
                double v = RandomValue(c.low, c.high, c.step);
                ASSERT_TRUE(c.grid.count(v)) << v;
                seen.insert(v);
            }
            EXPECT_EQ(seen, c.grid);
        }
    }
}

TEST_F(RandomTest, FractionsWithoutARange)
{
    for (uint32_t seed : {0u, 9u}) {
        SetRandomSeed(seed);
        double lowest = 1, highest = 0;
        for (int i = 0; i < 2000; i++) {
            double r = RandomValue(i % 2 ? 5 : 0, i % 2 ? 5 : 0, i % 3 ? 1 : 0);
            ASSERT_TRUE(r >= 0 && r <= 1) << r;
            lowest = std::fmin(lowest, r);
            highest = std::fmax(highest, r);
        }
        EXPECT_LT(lowest, 0.01);
        EXPECT_GT(highest, 0.99);
    }
}
