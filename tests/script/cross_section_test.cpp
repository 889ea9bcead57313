/* Cross-sectional statistics over a hand-made universe with late starts,
** early ends, missing days, ties, NaN members and groups of one. */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/symbols.h"
#include "script/datacalc/cross_section.h"
#include "script/datacalc/data_calc.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"

namespace {

constexpr int kSymbols = 5;
constexpr int kDates = 4;
constexpr double X = -999; /* no bar on that date */
constexpr double N = NAN;
const int32_t kDays[kDates] = {20200106, 20200107, 20200108, 20200109};

/* Arguments by symbol A..E (positions 0..4) and date; the calendar's cells hold 42. */
/* clang-format off */
const double kInput[kSymbols][kDates] = {
    {5, 1, 2, N},   /* A, Tech */
    {X, 7, 2, N},   /* B, no industry, starts late */
    {7, 3, X, X},   /* C, "tech", ends early */
    {9, X, 8, N},   /* D, Oil, misses a day */
    {7, N, 2, N},   /* E, Oil */
};
/* clang-format on */
const char *const kIndustry[kSymbols] = {"Tech", "", "tech", "Oil", "Oil"};

struct CrossSectionTest : ::testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(1, AllocMemory(&gStore.symbols, (uint64_t)(kSymbols + 1) * sizeof(SymbolRecord)));
        gStore.symbolCount = kSymbols;
        for (int s = 0; s < kSymbols; s++) {
            SymbolRecord *record = &gStore.symbols[s];
            memset((void *)record, 0, sizeof *record);
            FormatText(record->info.Symbol, sizeof record->info.Symbol, "%c", 'A' + s);
            CopyString(record->info.Industry, sizeof record->info.Industry, kIndustry[s], -1);
            record->info.listNumber = (uint32_t)(s % 2 + 1);
            Fill(record, kInput[s]);
        }
        memset((void *)&gStore.calendar, 0, sizeof gStore.calendar);
        const double calendar[kDates] = {0, 0, 0, 0};
        Fill(&gStore.calendar, calendar);
    }

    void TearDown() override
    {
        for (int s = 0; s < kSymbols; s++) FreeSymbolRecord(&gStore.symbols[s]);
        FreeSymbolRecord(&gStore.calendar);
        FreeMemory(&gStore.symbols);
        gStore.symbolCount = 0;
    }

    /* Calculates the cross-sectional function over every date, as a worker does. */
    static void RunCrossSection(int32_t function, int32_t grouping = 0, int32_t parameter = 0)
    {
        CalcWorkerContext worker{};
        worker.function = function;
        worker.grouping = grouping;
        worker.parameter = parameter;
        worker.barSize = BAR_DAILY;
        EXPECT_EQ(1, BuildGroupKeys(&worker));
        for (int d = 0; d < kDates; d++)
            EXPECT_EQ(1, grouping ? CalcGroupsForDate(kDays[d], &worker) : CalcItemForDate(kDays[d], &worker)) << d;
        FreeMemory(&worker.groupKeys);
        FreeMemory(&worker.values);
    }

    /* Bars on the dates whose input is not X; the value block holds the inputs. */
    static void Fill(SymbolRecord *record, const double *input)
    {
        record->firstUsedDate = FIRST_USED_NONE;
        int n = 0;
        for (int d = 0; d < kDates; d++) n += input[d] != X;
        ASSERT_EQ(1, AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar)));
        ASSERT_EQ(1, AllocMemory(&record->dataValues[0], (uint64_t)n * sizeof(double)));
        ASSERT_EQ(1, AllocMemory(&record->dataOffsets[0], sizeof(int32_t)));
        int b = 0;
        for (int d = 0; d < kDates; d++) {
            if (input[d] == X) continue;
            record->bars[BAR_DAILY][b].date = kDays[d];
            record->bars[BAR_DAILY][b].close = 1;
            record->bars[BAR_DAILY][b].volume = record == &gStore.calendar ? 0 : 100;
            record->dataValues[0][b] = record == &gStore.calendar ? 42 : input[d];
            b++;
        }
        record->barCounts[BAR_DAILY] = n;
        record->firstDate = record->bars[BAR_DAILY][0].date;
        record->lastDate = record->bars[BAR_DAILY][n - 1].date;
    }

    /* The cell of symbol s (kSymbols: calendar) on date d, X when no bar. */
    static double Cell(int s, int d)
    {
        SymbolRecord *record = s < kSymbols ? &gStore.symbols[s] : &gStore.calendar;
        for (int b = 0; b < record->barCounts[BAR_DAILY]; b++)
            if (record->bars[BAR_DAILY][b].date == kDays[d]) return record->dataValues[0][b];
        return X;
    }
};

struct Case {
    int function;
    int grouping;
    double parameter;
    double expected[kSymbols + 1][kDates]; /* symbols A..E, then the calendar */
};

/* Worked by hand from the inputs above.  On the last date no symbol has a value. */
const double P1 = 100.0 / 3, P2 = 200.0 / 3;
const double kRoot2 = sqrt(2.0);
/* clang-format off */
const Case kCases[] = {
    {ITEM_CS_RANK, 0, 0, {{4, 3, 2, N}, {X, 1, 3, N}, {2, 2, X, X}, {1, X, 1, N}, {3, N, 4, N}, {N, N, N, 42}}},
    {ITEM_CS_DENSE_RANK, 0, 0, {{3, 3, 2, N}, {X, 1, 2, N}, {2, 2, X, X}, {1, X, 1, N}, {2, N, 2, N}, {N, N, N, 42}}},
    {ITEM_CS_PERCENT_RANK, 0, 0,
     {{0, 0, P2, N}, {X, 100, P1, N}, {P2, 50, X, X}, {100, X, 100, N}, {P1, N, 0, N}, {N, N, N, 42}}},
    {ITEM_CS_AVG, 0, 0,
     {{7, 11.0 / 3, 3.5, N}, {X, 11.0 / 3, 3.5, N}, {7, 11.0 / 3, X, X}, {7, X, 3.5, N}, {7, 11.0 / 3, 3.5, N},
      {7, 11.0 / 3, 3.5, 42}}},
    {ITEM_CS_MEDIAN, 0, 0, {{7, 3, 2, N}, {X, 3, 2, N}, {7, 3, X, X}, {7, X, 2, N}, {7, 3, 2, N}, {7, 3, 2, 42}}},
    {ITEM_CS_PERCENT_RANK_N, 0, 50, {{7, 3, 2, N}, {X, 3, 2, N}, {7, 3, X, X}, {7, X, 2, N}, {7, 3, 2, N}, {7, 3, 2, 42}}},
    {ITEM_CS_PERCENT_RANK_N, 0, 150, {{0, 0, 0, N}, {X, 0, 0, N}, {0, 0, X, X}, {0, X, 0, N}, {0, 0, 0, N}, {0, 0, 0, 42}}},
    {ITEM_CS_STD_DEV, 0, 0,
     {{kRoot2, sqrt(56.0 / 9), sqrt(6.75), N}, {X, sqrt(56.0 / 9), sqrt(6.75), N}, {kRoot2, sqrt(56.0 / 9), X, X},
      {kRoot2, X, sqrt(6.75), N}, {kRoot2, sqrt(56.0 / 9), sqrt(6.75), N}, {kRoot2, sqrt(56.0 / 9), sqrt(6.75), 42}}},
    {ITEM_CS_COUNT, 0, 0, {{4, 3, 4, N}, {X, 3, 4, N}, {4, 3, X, X}, {4, X, 4, N}, {4, 3, 4, N}, {4, 3, 4, 42}}},
    {ITEM_CS_HIGHEST, 0, 0, {{9, 7, 8, N}, {X, 7, 8, N}, {9, 7, X, X}, {9, X, 8, N}, {9, 7, 8, N}, {9, 7, 8, 42}}},
    /* Groups: Oil = D, E; Tech = A, C (case ignored); B has no industry and
    ** keeps its argument.  The calendar takes the last group's statistic. */
    {ITEM_CS_RANK, ITEM_CS_BY_INDU, 0,
     {{2, 2, 1, N}, {X, 7, 2, N}, {1, 1, X, X}, {1, X, 1, N}, {2, N, 2, N}, {N, N, N, 42}}},
    {ITEM_CS_AVG, ITEM_CS_BY_INDU, 0,
     {{6, 2, 2, N}, {X, 7, 2, N}, {6, 2, X, X}, {8, X, 5, N}, {8, N, 5, N}, {6, 2, 2, 42}}},
    /* List numbers: A, C, E in list 1; B, D in list 2 (the calendar's key is
    ** "000", sorted last all the same). */
    {ITEM_CS_SUM, ITEM_CS_BY_LIST_NUM, 0,
     {{19, 4, 4, N}, {X, 7, 10, N}, {19, 4, X, X}, {9, X, 10, N}, {19, 4, 4, N}, {9, 7, 10, 42}}},
};
/* clang-format on */

TEST_F(CrossSectionTest, StatisticsAcrossSymbolsAndGroupsMatchHandWorkedValues)
{
    for (const Case &c : kCases) {
        SCOPED_TRACE(testing::Message() << "function " << c.function << " grouping " << c.grouping << " parameter "
                                        << c.parameter);
        TearDown();
        SetUp();
        RunCrossSection(c.function, c.grouping, c.parameter);
        for (int s = 0; s <= kSymbols; s++)
            for (int d = 0; d < kDates; d++) {
                double want = c.expected[s][d], got = Cell(s, d);
                if (std::isnan(want)) {
                    EXPECT_TRUE(std::isnan(got)) << "symbol " << s << " date " << d << ": " << got;
                } else {
                    EXPECT_DOUBLE_EQ(want, got) << "symbol " << s << " date " << d;
                }
            }
    }
}

TEST_F(CrossSectionTest, ASingleMemberRanksFirstAndHasNoPercentRank)
{
    RankValueEntry one{3, 5.0};
    EXPECT_EQ(1, RankValue(&one, 1, 3, 5.0, ITEM_CS_RANK));
    EXPECT_EQ(1, RankValue(&one, 1, 3, 5.0, ITEM_CS_DENSE_RANK));
    EXPECT_EQ(-1, RankValue(&one, 0, 3, 5.0, ITEM_CS_RANK));
    /* A value not among the sorted ones has no rank. */
    RankValueEntry two[2] = {{1, 2.0}, {0, 4.0}};
    EXPECT_EQ(-1, RankValue(two, 2, 5, 3.0, ITEM_CS_RANK));
}

/* 0.1 + 0.2 is 0.30000000000000004: equal to 0.3 within the tolerance that
** sorts the values, so both share a dense rank in either order of positions,
** and 0.5 alone ranks first.  The same across the strategies of a row. */
TEST_F(CrossSectionTest, DenseRanksStepOnlyWhereTheSortingComparisonSeesAChange)
{
    const double tied = 0.1 + 0.2;
    ASSERT_NE(0.3, tied);
    struct {
        double a, c, d; /* symbols A, C, D (E has no value) */
        double rankA, rankC, rankD;
    } cases[] = {
        {0.3, tied, 0.5, 2, 2, 1},
        {tied, 0.3, 0.5, 2, 2, 1},
        {0.3, tied, 0.2, 1, 1, 2},
        {tied, 0.3, 0.3, 1, 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.a << " " << c.c << " " << c.d);
        TearDown();
        SetUp();
        /* Date 0 is bar 0 of A, C, D and E. */
        gStore.symbols[0].dataValues[0][0] = c.a;
        gStore.symbols[2].dataValues[0][0] = c.c;
        gStore.symbols[3].dataValues[0][0] = c.d;
        gStore.symbols[4].dataValues[0][0] = N;
        RunCrossSection(ITEM_CS_DENSE_RANK);
        EXPECT_EQ(c.rankA, Cell(0, 0));
        EXPECT_EQ(c.rankC, Cell(2, 0));
        EXPECT_EQ(c.rankD, Cell(3, 0));

        TestRecord test{};
        test.rowCount = 1;
        test.strategyCount = 3;
        test.stratDataItemCount = 1;
        test.stratDataValueCount = 3;
        double cells[3] = {c.a, c.c, c.d};
        test.stratDataValues = cells;
        EvalContext context{};
        context.test = &test;
        context.resultRow = 0;
        ASSERT_EQ(1, CalcItemAcrossStrategies(&context, 0, ITEM_CS_DENSE_RANK, 0));
        EXPECT_EQ(c.rankA, cells[0]);
        EXPECT_EQ(c.rankC, cells[1]);
        EXPECT_EQ(c.rankD, cells[2]);
    }
}

TEST_F(CrossSectionTest, StrategiesOfOneRowAreRankedAgainstEachOther)
{
    TestRecord test{};
    test.rowCount = 2;
    test.strategyCount = 3;
    test.stratDataItemCount = 2;
    test.stratDataValueCount = 12;
    double cells[12];
    for (int i = 0; i < 12; i++) cells[i] = i; /* row 0 item 1 cells: 1, 3, 5 */
    cells[3] = NAN;
    test.stratDataValues = cells;
    EvalContext context{};
    context.test = &test;
    context.resultRow = 0;
    ASSERT_EQ(1, CalcItemAcrossStrategies(&context, 1, ITEM_CS_RANK, 0));
    EXPECT_EQ(2, cells[1]);
    EXPECT_TRUE(std::isnan(cells[3]));
    EXPECT_EQ(1, cells[5]);
    EXPECT_EQ(0, cells[0]); /* other items and rows untouched */
    EXPECT_EQ(7, cells[7]);
    ASSERT_EQ(1, CalcItemAcrossStrategies(&context, 0, ITEM_CS_AVG, 0));
    EXPECT_EQ(2, cells[0]);
    EXPECT_EQ(2, cells[4]);
}

} // namespace
