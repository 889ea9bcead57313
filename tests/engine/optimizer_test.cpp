#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "engine/optimizer.h"
#include "engine/results_file.h"
#include "engine/walk_forward.h"
#include "engine_fixture.h"
#include "foundation/random.h"
#include "script/builtins/builtins.h"
#include "script/compiler/definitions.h"
#include "script/compiler/strategy.h"
#include "engine/run_view_hooks.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"

namespace {

using Combo = std::vector<int32_t>;

struct OptimizerTest : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        LoadStore(Weekdays(20200101, 20210331), {{"AAA", {}}});
        gRun.mode = RUN_MODE_OPTIMIZE;
        SetRandomSeed(7);
    }
    void TearDown() override
    {
        ResetOptimizer();
        SetRandomSeed(0);
        EngineTest::TearDown();
    }
    void AddParameter(const char *name, std::vector<double> values)
    {
        int32_t at = AddDefinitionRecord(&gParameters, sizeof(Parameter));
        ASSERT_GE(at, 0);
        Parameter *p = &((Parameter *)gParameters.items)[at];
        CopyString(p->name, sizeof p->name, name, -1);
        ASSERT_TRUE(AllocMemory(&p->values, values.size() * sizeof(double)));
        for (size_t i = 0; i < values.size(); i++) p->values[i] = values[i];
        p->valueCount = p->valueCapacity = (int32_t)values.size();
    }
    Combo Current() const
    {
        Combo c;
        const Parameter *p = (const Parameter *)gParameters.items;
        for (int32_t k = 0; k < gParameters.count; k++) c.push_back(p[k].currentIndex);
        return c;
    }
    /* The combinations of the whole run, asking for one more than the count. */
    std::vector<Combo> Walk(int32_t *count, int32_t extra = 0)
    {
        *count = ShowOptimizerDialog(0, nullptr);
        std::vector<Combo> seen;
        for (int32_t i = 0; i < *count + extra; i++) {
            if (!NextParameterCombination(i)) break;
            seen.push_back(Current());
        }
        return seen;
    }
};

/* Combinations walked by hand from the rules of each mode, for parameters
** of 3 and 4 values and no scores recorded. */
TEST_F(OptimizerTest, EveryModeWalksItsCombinationsInOrder)
{
    struct Case {
        int mode;
        int32_t iterations;
        int32_t count;
        std::vector<Combo> combos;
    };
    /* clang-format off */
    const std::vector<Case> cases = {
        {OPT_COMBINATORIAL, 1, 12,
         {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}, {2, 2}, {0, 3}, {1, 3}, {2, 3}}},
        {OPT_SEQUENTIAL, 1, 6, {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {0, 2}, {0, 3}}},
        {OPT_DEFAULTS_ONLY, 3, 3, {{0, 0}, {0, 0}, {0, 0}}},
    };
    /* clang-format on */
    AddParameter("a", {1, 2, 3});
    AddParameter("b", {10, 20, 30, 40});
    for (const Case &c : cases) {
        SCOPED_TRACE(c.mode);
        gSettings.OptimizeMode = c.mode;
        gSettings.OptIterations = c.iterations;
        int32_t count = 0;
        EXPECT_EQ(Walk(&count), c.combos);
        EXPECT_EQ(count, c.count);
    }
}

/* Sequential mode keeps each parameter at its best value while the next
** one is swept; a repetition starts again from the bests. */
TEST_F(OptimizerTest, SequentialSweepsFromTheBestValues)
{
    AddParameter("a", {1, 2, 3});
    AddParameter("b", {10, 20, 30, 40});
    gSettings.OptimizeMode = OPT_SEQUENTIAL;
    gSettings.OptIterations = 2;
    ASSERT_EQ(ShowOptimizerDialog(0, nullptr), 12);
    const std::vector<double> scores = {5, 6, 9, 4, 12, 7};
    std::vector<Combo> seen;
    for (int32_t i = 0; i < 7; i++) {
        ASSERT_TRUE(NextParameterCombination(i));
        seen.push_back(Current());
        if (i < 6) RecordOptimizerScore(scores[i]);
    }
    /* a's best is index 2 (score 9); b then scores 4, 12, 7: best index 2. */
    const std::vector<Combo> expected = {{0, 0}, {1, 0}, {2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 2}};
    EXPECT_EQ(seen, expected);
    EXPECT_DOUBLE_EQ(gOptimizer.bestScore, 12);
    EXPECT_EQ(gOptimizer.scoreCount, 6);
}

/* Random and genetic searches never repeat a combination; once all four are
** used the next one is refused with the message. */
TEST_F(OptimizerTest, RandomSearchesStopWhenEveryCombinationIsUsed)
{
    AddParameter("a", {1, 2});
    AddParameter("b", {3, 4});
    for (int mode : {OPT_RANDOM, OPT_GENETIC}) {
        SCOPED_TRACE(mode);
        gSettings.OptimizeMode = mode;
        gSettings.OptMutatePct = 50;
        gSettings.OptIterations = 4;
        int messages = gHeadless.messageCount;
        int32_t count = 0;
        std::vector<Combo> seen = Walk(&count, 1);
        ASSERT_EQ(seen.size(), 4u);
        EXPECT_EQ(seen[0], (Combo{0, 0}));
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
        EXPECT_EQ(gHeadless.messageCount, messages + 1);
        EXPECT_STREQ(LastMessage(), "Unable to find an untested parameter combination.");
    }
}

/* The store of tested combinations outlives a run: a search of three
** parameters after a long one of one parameter stores its wider rows whole,
** and still finds a new combination for every test. */
TEST_F(OptimizerTest, AWiderSearchAfterANarrowOneKeepsItsRowsWhole)
{
    AddParameter("a", std::vector<double>(100, 1));
    gSettings.OptimizeMode = OPT_RANDOM;
    gSettings.OptIterations = 100;
    int32_t count = 0;
    ASSERT_EQ(Walk(&count).size(), 100u);
    AddParameter("b", {1, 2, 3, 4, 5});
    AddParameter("c", {1, 2, 3, 4, 5});
    std::vector<Combo> seen = Walk(&count);
    ASSERT_EQ(seen.size(), 100u);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
}

TEST_F(OptimizerTest, TestCountsMultiplyTheFactors)
{
    struct Case {
        int mode, unit, length, interval, bySymbol, iterations;
        int32_t count, intervals;
    };
    /* Range 15 Jan 2020 .. 12 Mar 2021: 14 months, so 15 units. */
    /* clang-format off */
    const Case cases[] = {
        {OPT_COMBINATORIAL, TIME_UNIT_NONE, 1, 1, 0, 1, 12, 0},
        {OPT_SEQUENTIAL, TIME_UNIT_NONE, 1, 1, 0, 1, 6, 0},
        {OPT_COMBINATORIAL, TIME_UNIT_MONTHS, 3, 2, 0, 1, 12 * 7, 7},
        {OPT_COMBINATORIAL, TIME_UNIT_MONTHS, 20, 1, 0, 1, 12, 1},
        {OPT_GENETIC, TIME_UNIT_NONE, 1, 1, 1, 5, 2 * 5, 0},
        {OPT_SEQUENTIAL, TIME_UNIT_YEARS, 1, 1, 1, 2, 6 * 2 * 2 * 2, 2},
    };
    /* clang-format on */
    LoadStore(Weekdays(20200101, 20210331), {{"AAA", {}}, {"BBB", {}}});
    AddParameter("a", {1, 2, 3});
    AddParameter("b", {10, 20, 30, 40});
    AddParameter("fixed", {5});
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " unit " << c.unit << " length " << c.length);
        gSettings.FirstDate = 20200115;
        gSettings.LastDate = 20210312;
        gSettings.OptimizeMode = c.mode;
        gSettings.OptTimeUnit = c.unit;
        gSettings.OptTestLength = c.length;
        gSettings.OptTestInterval = c.interval;
        gSettings.OptBySymbol = c.bySymbol;
        gSettings.OptIterations = c.iterations;
        EXPECT_EQ(ShowOptimizerDialog(0, nullptr), c.count);
        EXPECT_EQ(gOptimizer.intervalCount, c.intervals);
        EXPECT_EQ(((Parameter *)gParameters.items)[2].deselected, 1);
    }
    EXPECT_EQ(gOptimizer.optimizedCount, 2);
}

/* The test count must fit 32 bits: 46,340 x 46,341 tests run, 46,341 x
** 46,341 (2,147,488,281) are refused, saying why. */
TEST_F(OptimizerTest, MoreTestsThan32BitsCountAreRefusedWithTheReason)
{
    AddParameter("a", std::vector<double>(46341, 1));
    AddParameter("b", std::vector<double>(46341, 1));
    const struct {
        int32_t aValues, count;
    } cases[] = {{46340, 2147441940}, {46341, 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.aValues);
        ((Parameter *)gParameters.items)[0].valueCount = c.aValues;
        int messages = gHeadless.messageCount;
        EXPECT_EQ(ShowOptimizerDialog(0, nullptr), c.count);
        EXPECT_EQ(gHeadless.messageCount, messages + (c.count == 0));
        if (c.count == 0) {
            EXPECT_STREQ(LastMessage(), "Unable to run the optimization -- more than 2,147,483,647 tests.  "
                                        "Optimize fewer parameters or values.");
        }
    }
}

/* A test interval of no units would never move the interval on. */
TEST_F(OptimizerTest, TestIntervalBelowOneIsRefused)
{
    AddParameter("a", {1, 2, 3});
    for (int32_t interval : {0, -2}) {
        gSettings.OptTimeUnit = TIME_UNIT_MONTHS;
        gSettings.OptTestLength = 2;
        gSettings.OptTestInterval = interval;
        int messages = gHeadless.messageCount;
        EXPECT_EQ(ShowOptimizerDialog(0, nullptr), 0);
        EXPECT_EQ(gHeadless.messageCount, messages + 1);
        EXPECT_STREQ(LastMessage(), "Optimizer Test Interval must be 1 or more when a time unit is chosen.");
    }
}

TEST_F(OptimizerTest, TimeUnitsCountOnTheCalendar)
{
    struct Case {
        int unit;
        int32_t from, to, units;
    };
    /* clang-format off */
    const Case cases[] = {
        {TIME_UNIT_WEEKS, 20200302, 20200306, 1},   /* Monday to Friday */
        {TIME_UNIT_WEEKS, 20200307, 20200312, 0},   /* Saturday to Thursday */
        {TIME_UNIT_WEEKS, 20200312, 20200302, 0},
        {TIME_UNIT_WEEKS, 20200101, 20200131, 5},
        {TIME_UNIT_YEARS, 20201231, 20210101, 1},
        {TIME_UNIT_MONTHS, 20201231, 20210101, 1},
        {TIME_UNIT_MONTHS, 20200115, 20210314, 14},
        {TIME_UNIT_NONE, 20200115, 20210314, 0},
    };
    /* clang-format on */
    for (const Case &c : cases) {
        gOptimizer.rangeStart = c.from;
        gOptimizer.rangeEnd = c.to;
        EXPECT_EQ(CountTimeUnits(c.unit), c.units) << c.unit << " " << c.from << " " << c.to;
    }
}

TEST_F(OptimizerTest, AdvanceFindsTheFirstTradingDayOfALaterPeriod)
{
    struct Case {
        int unit;
        int32_t n, date;
    };
    /* From Wednesday 15 January 2020 on a weekday calendar. */
    /* clang-format off */
    const Case cases[] = {
        {TIME_UNIT_DAYS, 3, 20200120},   {TIME_UNIT_WEEKS, 1, 20200120}, {TIME_UNIT_WEEKS, 2, 20200127},
        {TIME_UNIT_MONTHS, 1, 20200203}, {TIME_UNIT_YEARS, 1, 20210101}, {TIME_UNIT_MONTHS, 0, 20200115},
        {TIME_UNIT_NONE, 5, 20200115},
    };
    /* clang-format on */
    for (const Case &c : cases) {
        gOptimizer.intervalStart = 20200115;
        EXPECT_EQ(AdvanceTimeUnits(c.unit, c.n), c.date) << c.unit << " " << c.n;
    }
}

/* Three monthly intervals of one month: each test's dates, and the section
** listing the first date, the day after each of the first two intervals and
** the last date, with each interval's best value. */
TEST_F(OptimizerTest, WalkForwardIntervalsAndSection)
{
    AddParameter("len", {5, 10});
    gSettings.FirstDate = 20200101;
    gSettings.LastDate = 20200331;
    gSettings.OptimizeMode = OPT_COMBINATORIAL;
    gSettings.OptTimeUnit = TIME_UNIT_MONTHS;
    gSettings.OptTestLength = 1;
    gSettings.OptTestInterval = 1;
    gSettings.OptWalkForward = 1;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    ASSERT_EQ(ShowOptimizerDialog(0, nullptr), 6);
    const std::pair<int32_t, int32_t> dates[] = {{20200101, 20200131}, {20200101, 20200131}, {20200203, 20200228}, {20200203, 20200228}, {20200302, 20200331}, {20200302, 20200331}};
    const double scores[] = {1, 2, 4, 3, 0, 0};
    for (int32_t i = 0; i < 6; i++) {
        ASSERT_TRUE(NextParameterCombination(i));
        EXPECT_EQ(gSettings.FirstDate, dates[i].first) << i;
        EXPECT_EQ(gSettings.LastDate, dates[i].second) << i;
        RecordOptimizerScore(scores[i]);
    }
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, "main.kvs", -1);
    HeadlessScriptWindow *w = &gHeadlessScripts.windows[gHeadlessScripts.windowCount++];
    CopyString(w->path, sizeof w->path, gSettings.ActiveScript, -1);
    void *editor = nullptr;
    EXPECT_EQ(1, InsertWalkForwardSection(&editor));
    EXPECT_EQ(w, editor);
    EXPECT_STREQ(w->appended, "\r\nWalkForward: // unit=Months, length=1, offset=1"
                              "\r\n\tDates: 2020-01-01, 2020-02-03, 2020-03-02, 2020-03-31"
                              "\r\n\tlen: 10, 5, 5\r\n");
    EXPECT_EQ(w->caretAtEnd, 1);
}

/* With the End anchor every interval ends at the range end. */
TEST_F(OptimizerTest, EndAnchorKeepsTheLastDate)
{
    AddParameter("len", {5});
    gSettings.FirstDate = 20200101;
    gSettings.LastDate = 20200331;
    gSettings.OptimizeMode = OPT_DEFAULTS_ONLY;
    gSettings.OptTimeUnit = TIME_UNIT_MONTHS;
    gSettings.OptTestLength = 1;
    gSettings.OptTestInterval = 1;
    gSettings.OptAnchor = ANCHOR_END;
    ASSERT_EQ(ShowOptimizerDialog(0, nullptr), 3);
    const int32_t firsts[] = {20200101, 20200203, 20200302};
    for (int32_t i = 0; i < 3; i++) {
        ASSERT_TRUE(NextParameterCombination(i));
        EXPECT_EQ(gSettings.FirstDate, firsts[i]);
        EXPECT_EQ(gSettings.LastDate, 20200331);
    }
}

/* Through the run driver: one listed test per combination, the parameter
** column holding each value in turn. */
TEST_F(OptimizerTest, OptimizeRunListsEveryCombination)
{
    ResetOptimizer();
    gSettings.OptimizeMode = OPT_COMBINATORIAL;
    gSettings.OptKeepNoTrades = 1;
    ASSERT_EQ(0, Run("Parameters:\n  P: 4, 2, 3\nStrategy: S1\n  EntrySetup: 0\n", RUN_MODE_OPTIMIZE)) << LastMessage();
    ResultsWindow *window = FirstResultsWindow();
    ASSERT_NE(window, nullptr);
    std::vector<double> values;
    for (TestRecord *t = window->firstTest; t; t = t->next) values.push_back(t->parameters[0].value);
    EXPECT_EQ(values, (std::vector<double>{4, 2, 3}));
}

/* For Each Strategy runs each test with the benchmarks and the one strategy
** being optimized; Sort After Each Test keeps the best; the summary follows
** the run. */
TEST_F(OptimizerTest, ByStrategyKeepBestAndSummary)
{
    const struct {
        int32_t byStrategy, sortResults, keepBest, summary;
        std::vector<std::string> names; /* newest first */
        int32_t strategies;             /* in each test */
    } cases[] = {
        {1, 0, 0, 0, {"S2", "S2", "S1", "S1"}, 2},
        {0, 0, 0, 1, {"main", "main"}, 4},
        {0, 1, 1, 0, {"main"}, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.byStrategy * 100 + c.sortResults * 10 + c.summary);
        ResetOptimizer();
        if (ResultsWindow *w = FirstResultsWindow()) DeleteAllTests(w);
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        gSettings.OptimizeMode = OPT_COMBINATORIAL;
        gSettings.OptKeepNoTrades = 1;
        gSettings.OptByStrategy = c.byStrategy;
        gSettings.OptSortResults = c.sortResults;
        gSettings.OptKeepBest = c.keepBest;
        gSettings.OptSummaryLog = c.summary;
        gSettings.TestName[0] = 0;
        gSettings.OptScoreCol = 1;
        ASSERT_EQ(0, Run("Parameters:\n  P: 1, 2\nResults:\n  Score: P {#}\n  Twice: P * 2 {#}\nBenchmark: B\n  EntrySetup: 0\nStrategy: S1\n  EntrySetup: 0\n"
                         "Strategy: S2\n  EntrySetup: 0\n",
                         RUN_MODE_OPTIMIZE))
            << LastMessage();
        ResultsWindow *window = FirstResultsWindow();
        ASSERT_NE(window, nullptr);
        std::vector<std::string> names;
        for (TestRecord *t = window->lastTest; t; t = t->previous) {
            names.push_back(t->settings.TestName);
            EXPECT_EQ(c.strategies, t->strategyCount);
        }
        EXPECT_EQ(c.names, names);
        std::string log = gHeadless.logText ? gHeadless.logText : "";
        EXPECT_EQ(c.summary != 0, log.find("*** Optimization Summary ***\n\nStat\tMin\tMax\tMed\tAvg\tStd\n----") != std::string::npos)
            << log;
    }
    gSettings.OptByStrategy = 0;
    gSettings.OptSortResults = 0;
    gSettings.OptSummaryLog = 0;
}

/* The score of each test is its value in the OptScoreCol-th shown Results
** column after the first (list column OptScoreCol + 3), taken when its row is
** filled: here "Twice", so the tests of P = 1, 3, 2 score 2, 6 and 4. */
TEST_F(OptimizerTest, ScoresComeFromTheFilledResultsRow)
{
    ResetOptimizer();
    if (ResultsWindow *w = FirstResultsWindow()) DeleteAllTests(w);
    InstallRunViewHooks();
    gSettings.OptimizeMode = OPT_COMBINATORIAL;
    gSettings.OptKeepNoTrades = 1;
    gSettings.OptScoreCol = 1;
    gSettings.TestName[0] = 0;
    ASSERT_EQ(0, Run("Parameters:\n  P: 1, 3, 2\nResults:\n  Score: P {#}\n  Twice: P * 2 {#}\n"
                     "Strategy: S1\n  EntrySetup: 0\n",
                     RUN_MODE_OPTIMIZE))
        << LastMessage();
    EXPECT_EQ(gOptimizer.scoreCount, 3);
    EXPECT_DOUBLE_EQ(gOptimizer.scoreSum, 12);
    EXPECT_DOUBLE_EQ(gOptimizer.bestScore, 6);
    gRunViewHooks = {};
}

/* A test's number is 1 + the highest number the list holds as it starts.
** Kept best 1 of scores 2P for P = 2, 1, 3, the test of P = 1 is trimmed before the
** test of P = 3 starts, which so takes number 2; a second run whose list
** keeps the first run's tests numbers its own after them. */
TEST_F(OptimizerTest, TestNumbersFollowTheHighestNumberListed)
{
    ResetOptimizer();
    if (ResultsWindow *w = FirstResultsWindow()) DeleteAllTests(w);
    InstallRunViewHooks();
    const std::string script = "Parameters:\n  P: 2, 1, 3\nResults:\n  Value: P {#}\n  Score: P * 2 {#}\nStrategy: S1\n"
                               "  EntrySetup: 0\n";
    gSettings.OptimizeMode = OPT_COMBINATORIAL;
    gSettings.OptKeepNoTrades = 1;
    gSettings.OptScoreCol = 1;
    gSettings.OptSortResults = 1;
    gSettings.OptKeepBest = 1;
    ASSERT_EQ(0, Run(script, RUN_MODE_OPTIMIZE)) << LastMessage();
    ASSERT_EQ(1, Listed());
    EXPECT_EQ(3, LastTest()->parameters[0].value);
    EXPECT_EQ(2, LastTest()->testNumber);
    gSettings.OptSortResults = 0;
    gSettings.OptKeepBest = 0;
    gSettings.OptClearResults = 0;
    ASSERT_EQ(0, Run(script, RUN_MODE_OPTIMIZE)) << LastMessage();
    std::vector<int32_t> numbers;
    for (TestRecord *t = FirstResultsWindow()->firstTest; t; t = t->next) numbers.push_back(t->testNumber);
    EXPECT_EQ(numbers, (std::vector<int32_t>{2, 3, 4, 5}));
    gSettings.OptClearResults = 1;
    gRunViewHooks = {};
}

/* A seeded search draws from the program's own sequence, which the data
** calculation leaves alone: neither the Data item that reads a parameter
** (calculated again for every test) nor the workers of one that draws move
** it.  So every search runs its iterations with no combination twice, the
** same seed lists the same combinations on 1 and 4 workers, and the second
** combination is the one the classic sequence of seed 7 gives: 61, 17422 and
** 15215 of 32767 pick indexes 0, 53 and 46 of 100, the values 1, 54, 47. */
TEST_F(OptimizerTest, SeededSearchesRunToTheirEndWhateverTheirDataItems)
{
    ASSERT_TRUE(InstallBuiltins());
    std::vector<int32_t> d = Weekdays(20240101, 20240209);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    for (const char *name : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"})
        symbols.push_back({name, FlatBars(d, std::vector<double>(d.size(), 10))});
    LoadStore(d, symbols);
    const struct {
        const char *mode, *data;
        int32_t iterations, threads;
    } cases[] = {
        {"Random", "MA(C, PA)", 3000, 1},
        {"Genetic", "MA(C, PA)", 3000, 1},
        {"Random", "Random(1, 100)", 40, 1},
        {"Random", "Random(1, 100)", 40, 4},
    };
    std::vector<Combo> onOneWorker;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.data << " on " << c.threads);
        ResetOptimizer();
        if (ResultsWindow *w = FirstResultsWindow()) DeleteAllTests(w);
        gSettings.CalcThreads = c.threads;
        gSettings.OptMutatePct = 25;
        ASSERT_EQ(0, Run(std::string("Settings:\n  OptimizeMode: ") + c.mode + "\n  OptIterations: " +
                             std::to_string(c.iterations) +
                             "\n  RandomSeed: 7\n  OptKeepNoTrades: True\nParameters:\n  PA: from 1 to 100\n"
                             "  PB: from 1 to 100\n  PC: from 1 to 100\nData:\n  Fast: " +
                             c.data + "\nStrategy: S1\n  EntrySetup: Fast < 0 and PB + PC < 0\n",
                         RUN_MODE_OPTIMIZE))
            << LastMessage();
        std::vector<Combo> seen;
        for (TestRecord *t = FirstResultsWindow()->firstTest; t; t = t->next)
            seen.push_back({(int32_t)t->parameters[0].value, (int32_t)t->parameters[1].value,
                            (int32_t)t->parameters[2].value});
        ASSERT_EQ((int32_t)seen.size(), c.iterations);
        if (std::string(c.mode) == "Random") {
            EXPECT_EQ(seen[1], (Combo{1, 54, 47}));
        }
        std::vector<Combo> sorted = seen;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
        if (std::string(c.data) == "Random(1, 100)") {
            if (c.threads == 1) {
                onOneWorker = seen;
            } else {
                EXPECT_EQ(seen, onOneWorker);
            }
        }
    }
    gSettings.CalcThreads = 1;
}

} // namespace
