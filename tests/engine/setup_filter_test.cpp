/* The entry pass with the setup filter against the plain entry pass that
** visits every symbol on every date: on a universe with late listings,
** delistings, missing bars, dead bars and a split, every script gives the
** same trades, the same statistics cells and the same first used dates
** either way. */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "engine/setup_filter.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/worker_pool.h"
#include "engine_fixture.h"
#include "marketdata/store/symbols.h"
#include "script/builtins/builtins.h"

namespace {

/* The date loop's context as a filter build takes it: daily, before any
** strategy, symbol or walk-forward interval. */
EvalContext BuildContext()
{
    EvalContext context;
    memset(&context, 0, sizeof context);
    context.barSize = BAR_DAILY;
    context.strategyIndex = -1;
    context.dataItemIndex = -1;
    context.funBar = -1;
    context.priceScale = 1.0;
    context.walkForwardInterval = -1;
    return context;
}

struct SetupFilterRun : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
        std::vector<int32_t> market = Weekdays(20200106, 20211231);
        std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
        uint32_t state = 2024;
        auto next = [&state]() {
            state = state * 1103515245u + 12345u;
            return ((state >> 16) % 20001) / 10000.0 - 1.0; /* -1..1 */
        };
        for (int k = 0; k < 24; k++) {
            std::vector<DayBar> bars;
            double price = 15.0 + 3.0 * k;
            size_t first = k % 5 == 1 ? 40 + 13 * k : 0;                   /* late listings */
            size_t last = k % 7 == 2 ? market.size() - 90 - 9 * k : market.size(); /* delistings */
            for (size_t i = first; i < last; i++) {
                if (k % 6 == 4 && i % 17 == 3) continue; /* missing bars */
                double drift = (i / (60 + 7 * k)) % 2 == 0 ? 0.003 : -0.0025;
                double open = price;
                price = std::max(1.0, price * (1.0 + drift + 0.02 * next()));
                DayBar bar{market[i], open, std::max(open, price) * 1.01, std::min(open, price) * 0.99, price,
                           1000.0 + 900.0 * (next() + 1.0)};
                if (k % 8 == 5 && i % 23 == 11) /* a dead bar: no trade, one price */
                    bar = DayBar{market[i], price, price, price, price, 0};
                if (k == 9 && i < market.size() / 2) bar.split = 2.0;
                if (k == 23) bar.volume = 0; /* never traded, as an index may be */
                bars.push_back(bar);
            }
            char name[16];
            snprintf(name, sizeof name, "S%02d", k);
            symbols.push_back({name, bars});
        }
        LoadStore(market, symbols);
    }

    struct Outcome {
        std::vector<TradeRecord> trades;
        std::vector<StatCell> cells;
        std::vector<int32_t> firstUsed;
        int code = -1;
    };

    Outcome RunOnce(const std::string &script, int filterOff)
    {
        Outcome out;
        for (int32_t k = 0; k < gStore.symbolCount; k++) gStore.symbols[k].firstUsedDate = FIRST_USED_NONE;
        gSetupFilterOff = filterOff;
        out.code = Run(script);
        gSetupFilterOff = 0;
        const TestRecord *test = LastTest();
        if (!test) return out;
        out.trades.assign(test->trades, test->trades + test->tradeCount);
        out.cells.assign(test->cells, test->cells + (int64_t)test->rowsFilled * test->strategyCount);
        for (int32_t k = 0; k < gStore.symbolCount; k++) out.firstUsed.push_back(gStore.symbols[k].firstUsedDate);
        return out;
    }
};

const char kData[] = "Data:\n"
                     "  Up: C > O AND V > 1500\n"
                     "  Strength: (C - L) / (H - L + 0.01)\n"
                     "  Change: C - C[3]\n";

TEST_F(SetupFilterRun, EveryScriptTradesAsThePlainPassDoes)
{
    const char *scripts[] = {
        /* Market entries at the open, a score and a position limit, leaving
        ** on a rule or after five bars. */
        "Strategy: Trend\n  EntrySetup: Up AND Change > 0\n  SetupScore: Strength\n  MaxPositions: 3\n"
        "  Quantity: 10\n  QtyType: Percent\n  ExitRule: Change < 0 OR BarsHeld >= 5\n",
        /* Limit entries whose unfilled setups still hold their places. */
        "Strategy: Dip\n  EntrySetup: Strength < 0.4\n  EntryLimit: C * 0.99\n  SetupScore: -Change\n"
        "  MaxPositions: 2\n  Quantity: 20\n  QtyType: Percent\n  ExitRule: BarsHeld >= 3\n",
        /* Two strategies on one account, one entering at the close, with a
        ** benchmark that picks its symbol by number. */
        "Benchmark: Hold\n  EntrySetup: Symbol = $S03\n  Quantity: 100\n  QtyType: Percent\n"
        "Strategy: A\n  EntrySetup: Up\n  SetupScore: Change\n  MaxPositions: 2\n  Quantity: 15\n"
        "  QtyType: Percent\n  ExitRule: BarsHeld >= 4\n"
        "Strategy: B\n  EntrySetup: NOT Up AND Strength > 0.5\n  EntryTime: ThisClose\n  MaxPositions: 2\n"
        "  Quantity: 15\n  QtyType: Percent\n  ExitRule: Change > 1\n"
        "Combined:\n  MaxPositions: 3\n",
        /* Entry stops, a text test of the symbol, and a setup formula the
        ** block form cannot take (a function). */
        "Strategy: Breakout\n  EntrySetup: ?Symbol <> \"S05\" AND C > O\n  EntryStop: H * 1.005\n"
        "  MaxPositions: 4\n  Quantity: 10\n  QtyType: Percent\n  ExitRule: BarsHeld >= 2\n"
        "Strategy: Average\n  EntrySetup: C > MA(C, 5)\n  MaxPositions: 2\n  Quantity: 10\n  QtyType: Percent\n"
        "  ExitRule: C < MA(C, 5)\n",
        /* A setup of one number and a limit of one number, on the split
        ** symbol too: the limit takes each symbol's own split terms. */
        "Strategy: Numbers\n  EntrySetup: 1\n  EntryLimit: 20\n  SetupScore: -C\n  MaxPositions: 3\n  Quantity: 10\n"
        "  QtyType: Percent\n  ExitRule: BarsHeld >= 2\n",
        /* TestData read by the rules, and a setup that is true everywhere. */
        "TestData:\n  Gap: O - C[1]\nStrategy: Always\n  EntrySetup: 1\n  SetupScore: Gap\n  MaxPositions: 1\n"
        "  Quantity: 50\n  QtyType: Percent\n  ExitRule: Gap < 0\n",
        /* A setup of fractions, 0, 0.25, 0.5 and 0.75: a signal from 0.5 up. */
        "Strategy: Halves\n  EntrySetup: 0.5 * (Change > 0) + 0.25 * Up\n  MaxPositions: 3\n  Quantity: 10\n"
        "  QtyType: Percent\n  ExitRule: BarsHeld >= 3\n",
        /* Walk-forward intervals that each give the Data item its own level,
        ** so each interval's filter differs. */
        "Parameters:\n  Level: 40\nWalkForward:\n  Dates: 2020-01-06, 2020-05-01, 2020-09-01, 2021-01-04, 2021-05-03\n"
        "  Level: 25, 70, 35, 90\nData:\n  Above: C > Level\nStrategy: Walk\n  EntrySetup: Above AND Up\n"
        "  MaxPositions: 4\n  Quantity: 10\n  QtyType: Percent\n  ExitRule: BarsHeld >= 3\n",
    };
    /* Each script over the whole data, then over a few months in the middle,
    ** whose filters hold those months' rows alone. */
    const std::pair<int32_t, int32_t> ranges[] = {{gSettings.FirstDate, gSettings.LastDate}, {20201012, 20210226}};
    const size_t n = sizeof scripts / sizeof scripts[0];
    for (size_t i = 0; i < 2 * n; i++) {
        const char *body = scripts[i % n];
        std::string script = std::string(kData) + body;
        SCOPED_TRACE(body);
        SCOPED_TRACE(ranges[i / n].first);
        gSettings.FirstDate = ranges[i / n].first;
        gSettings.LastDate = ranges[i / n].second;
        gSettings.CalcThreads = 1;
        Outcome plain = RunOnce(script, 1);
        ASSERT_EQ(0, plain.code);
        EXPECT_GT(plain.trades.size(), 0u);
        /* The filter is built by as many workers as the calculation has,
        ** counting its bits by the processor's instruction or without. */
        for (int workers : {1, 4, -4}) {
            SCOPED_TRACE(workers);
            gSettings.CalcThreads = std::abs(workers);
            gSetupFilterPlainBitCount = workers < 0;
            int64_t visits = gSetupFilterVisits;
            Outcome filtered = RunOnce(script, 0);
            gSetupFilterPlainBitCount = 0;
            EXPECT_GT(gSetupFilterVisits, visits) << "the filter took part";
            ASSERT_EQ(0, filtered.code);
            ASSERT_EQ(plain.trades.size(), filtered.trades.size());
            for (size_t t = 0; t < plain.trades.size(); t++)
                EXPECT_EQ(0, memcmp(&plain.trades[t], &filtered.trades[t], sizeof(TradeRecord))) << "trade " << t;
            ASSERT_EQ(plain.cells.size(), filtered.cells.size());
            for (size_t c = 0; c < plain.cells.size(); c++)
                EXPECT_EQ(0, memcmp(&plain.cells[c], &filtered.cells[c], sizeof(StatCell))) << "cell " << c;
            EXPECT_EQ(plain.firstUsed, filtered.firstUsed);
        }
    }
}

/* The filters of a few months hold a row for each of their market days and
** none for any other day (the entry pass then visits every symbol), and each
** row is the row a filter over the whole data holds for that day: the bits,
** bars and scores of setups judged on the bar before (Dip, at the open) and on
** the bar itself (Close), worked out without the history before. */
TEST_F(SetupFilterRun, AFewMonthsFilterHoldsTheirRowsOfTheWholeData)
{
    ASSERT_EQ(0, RunOnce(std::string(kData) + "Strategy: Dip\n  EntrySetup: Strength < 0.6 AND C > C[5]\n"
                                                "  SetupScore: Change - C[10]\n  MaxPositions: 2\n  Quantity: 20\n"
                                                "  QtyType: Percent\n  ExitRule: BarsHeld >= 3\n"
                                                "Strategy: Close\n  EntrySetup: Up AND Change > 0\n  SetupScore: V\n"
                                                "  EntryTime: ThisClose\n  MaxPositions: 2\n  Quantity: 20\n"
                                                "  QtyType: Percent\n  ExitRule: BarsHeld >= 3\n",
                         0)
                     .code);
    EvalContext context = BuildContext();
    /* Per strategy and day: each visit's symbol, bar, known bit and score. */
    auto rowsOf = [&](int32_t from, int32_t to) {
        std::vector<std::vector<double>> rows;
        for (int32_t s = 0; s < 2; s++)
            for (int32_t date : days) {
                if (date < from || date > to) continue;
                context.date = date;
                context.barPhase = s == 0 ? PHASE_OPEN : PHASE_CLOSE;
                SetupFilterRow row;
                EXPECT_TRUE(GetSetupFilterRow(s, &context, &row)) << date;
                std::vector<double> visits;
                for (int32_t w = 0; w < row.words; w++)
                    for (uint64_t bits = row.bits[w], at = row.wordStart[w]; bits; bits &= bits - 1, at++) {
                        int bit = __builtin_ctzll(bits);
                        visits.insert(visits.end(), {double(w * 64 + bit), double(row.barIndex[at]),
                                                     double((row.known[w] >> bit) & 1), row.scores[at]});
                    }
                rows.push_back(visits);
            }
        return rows;
    };
    ASSERT_EQ(1, BuildSetupFilters(&context, days.front(), days.back()));
    auto whole = rowsOf(20210104, 20210331);
    ASSERT_EQ(1, BuildSetupFilters(&context, 20210102, 20210331)); /* a Saturday: from the Monday on */
    EXPECT_EQ(gSetupFilter.filters[0].rowCount, 63);
    EXPECT_EQ(gSetupFilter.filters[1].rowCount, 63);
    auto months = rowsOf(20210104, 20210331);
    ASSERT_EQ(whole.size(), months.size());
    size_t visited = 0;
    for (size_t r = 0; r < whole.size(); r++) {
        visited += whole[r].size() > 0;
        /* A NaN score is a score only the walk can tell: the same either way. */
        EXPECT_EQ(testing::PrintToString(whole[r]), testing::PrintToString(months[r])) << "row " << r;
    }
    EXPECT_GT(visited, whole.size() / 2);
    SetupFilterRow row;
    for (int32_t date : {20201231, 20210401}) {
        context.date = date;
        context.barPhase = PHASE_CLOSE;
        EXPECT_FALSE(GetSetupFilterRow(1, &context, &row)) << date;
    }
    FreeSetupFilters();
}

/* The workers that build the filters of one run after another are the
** same kept threads.  Blocks of 64 symbols go to the workers, so the
** universe is wider here; the script has no Data item, so no
** calculation's workers take part. */
TEST_F(SetupFilterRun, RunsBuildTheirFiltersOnKeptThreads)
{
    std::vector<int32_t> market = Weekdays(20200106, 20200228);
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    for (int k = 0; k < 200; k++) {
        std::vector<DayBar> bars;
        for (size_t i = 0; i < market.size(); i++) {
            double open = 20.0 + k % 7 + (double)(i % 5), close = open + ((i + k) % 3 == 0 ? 0.5 : -0.5);
            bars.push_back(DayBar{market[i], open, std::max(open, close), std::min(open, close), close});
        }
        symbols.push_back({"W" + std::to_string(k), bars});
    }
    LoadStore(market, symbols);
    const std::string script = "Strategy: Up\n  EntrySetup: C > O\n  MaxPositions: 2\n"
                               "  Quantity: 20\n  QtyType: Percent\n  ExitRule: BarsHeld >= 3\n";
    gSettings.CalcThreads = 4;
    Outcome first = RunOnce(script, 0);
    ASSERT_EQ(0, first.code);
    EXPECT_GT(first.trades.size(), 0u);
    const int64_t made = PoolThreadsMade(), tasks = PoolTasksStarted();
    for (int run = 0; run < 3; run++) ASSERT_EQ(0, RunOnce(script, 0).code);
    /* Two passes a run, each on three workers besides the caller. */
    EXPECT_EQ(tasks + 3 * 2 * 3, PoolTasksStarted());
    EXPECT_EQ(made, PoolThreadsMade());
}

/* A build that runs out of memory part way says so and leaves nothing
** behind once freed, whichever of its allocations failed: the run then goes
** on with the plain pass, holding no half-built filter. */
TEST_F(SetupFilterRun, AFailedBuildReportsItAndHoldsNothingOnceFreed)
{
    ASSERT_EQ(0, RunOnce(std::string(kData) + "Strategy: Dip\n  EntrySetup: Strength < 0.4\n  SetupScore: -Change\n"
                                                "  MaxPositions: 2\n  Quantity: 20\n  QtyType: Percent\n"
                                                "  ExitRule: BarsHeld >= 3\n"
                                                "Strategy: Trend\n  EntrySetup: Up\n  MaxPositions: 2\n"
                                                "  Quantity: 20\n  QtyType: Percent\n  ExitRule: BarsHeld >= 3\n",
                         0)
                     .code);
    EvalContext context = BuildContext();
    FreeSetupFilters();
    const uint64_t held = gAllocatedBytes.load();
    int n = 1;
    for (;; n++) {
        SCOPED_TRACE(n);
        FailNthAllocation(n);
        int built = BuildSetupFilters(&context, gStore.firstDate, gStore.lastDate);
        bool fired = !AllocationFaultArmed();
        FailNthAllocation(0);
        gOutOfMemory = 0;
        if (!fired) {
            EXPECT_EQ(built, 1);
            EXPECT_NE(gSetupFilter.filters[1].barIndex, nullptr);
            break;
        }
        EXPECT_EQ(built, 0) << "a failed allocation is no filter built";
        FreeSetupFilters();
        EXPECT_EQ(gAllocatedBytes.load(), held) << "freed after a failed build";
        ASSERT_LT(n, 100);
    }
    /* Both strategies' rows, indexes and scores, and the run's lists. */
    EXPECT_GE(n, 10);
    FreeSetupFilters();
    EXPECT_EQ(gAllocatedBytes.load(), held);
}

} // namespace
