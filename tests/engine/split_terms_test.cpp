/* A split is no move of the price: stops, targets, entry orders, sizes,
** excursions and dividends of data stored with split factors are those of
** the same prices adjusted beforehand, in each bar's split terms; and no
** trade that closed before a date changes with the data after it. */
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <tuple>

#include "engine/fills.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/derived_bars.h"
#include "script/builtins/builtins.h"
#include "script/compiler/strategy.h"
#include "views/scan_run.h"

namespace {

struct SplitTest : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
    }
};

/* One symbol's days as stored: prices and dividends of each day in its own
** split terms, with its split factor (the later splits' ratios multiplied). */
struct Series {
    std::vector<DayBar> bars;
    std::vector<EventItem> dividends;
};

/* A random walk over days with 2:1 or 3:1 splits on the dates given and a
** dividend each quarter; adjusted, the same prices and dividends in the
** terms of the last day, without split factors. */
Series Walk(const std::vector<int32_t> &days, uint32_t seed, const std::vector<std::pair<int32_t, double>> &splits,
            bool adjusted)
{
    Series s;
    double price = 80;
    for (int32_t day : days) {
        seed = seed * 1103515245u + 12345u;
        double move = ((int)((seed >> 8) % 2001) - 1000) / 40000.0; /* within 2.5% */
        double open = price * (1 + move / 3), close = price * (1 + move);
        double high = std::fmax(open, close) * (1 + ((seed >> 4) % 7) / 400.0);
        double low = std::fmin(open, close) * (1 - ((seed >> 12) % 7) / 400.0);
        price = close;
        double factor = 1;
        for (const auto &split : splits)
            if (day < split.first) factor *= split.second;
        double f = adjusted ? 1 : factor;
        s.bars.push_back(DayBar{day, open * f, high * f, low * f, close * f, 1e6 / f, f});
        if (day % 10000 / 100 % 3 == 2 && day % 100 >= 10 && day % 100 <= 14 &&
            (s.dividends.empty() || day - s.dividends.back().date > 50))
            s.dividends.push_back(EventItem{day, 0, EVENT_DIVIDEND, 0, 0.4 * f});
    }
    return s;
}

/* Gives the loaded symbol its events. */
void SetEvents(const std::string &symbol, const std::vector<EventItem> &events)
{
    for (int32_t k = 0; k < gStore.symbolCount; k++) {
        SymbolRecord *record = &gStore.symbols[k];
        if (symbol != record->info.Symbol || events.empty()) continue;
        ASSERT_TRUE(AllocMemory(&record->events, events.size() * sizeof(EventItem)));
        memcpy(record->events, events.data(), events.size() * sizeof(EventItem));
        record->eventCount = (int32_t)events.size();
    }
}

/* Independent strategies (each sized by value, without rounding of prices
** or quantities, so that both data sets give exactly one answer). */
const char *const kStrategies =
    "Strategy: Stops\n  Side: Long\n  EntrySetup: RSI(2) < 25\n  ExitStop: C * 0.96\n  ExitLimit: C * 1.05\n"
    "  ExitRule: BarsHeld >= 6\n  Quantity: 10000\n"
    "Strategy: Targets\n  Side: Short\n  EntrySetup: RSI(2) > 75\n  ExitLimit: C * 0.96\n  ExitStop: C * 1.04\n"
    "  ExitRule: BarsHeld >= 5\n  Quantity: 10000\n"
    "Strategy: LimitIn\n  Side: Long\n  EntrySetup: RSI(3) < 35\n  EntryLimit: C * 0.99\n  ExitLimit: C * 1.03\n"
    "  ExitLimitQty: Shares / 2\n  ExitStop: MAX(PrevExitStop, C * 0.95)\n  ExitRule: BarsHeld >= 8\n"
    "  Quantity: 10000\n"
    "Strategy: StopIn\n  Side: Long\n  EntrySetup: C > MA(C, 10)\n  EntryStop: C * 1.01\n  ExitStop: C * 0.97\n"
    "  ExitStopQty: Shares / 2\n  ExitRule: C < MA(C, 10)\n  Quantity: 10000\n"
    "Strategy: Dynamic\n  DynamicSizing: True\n  Quantity: IF(C > MA(C, 3), 6000, 3000)\n"
    "Strategy: FillBracket\n  Side: Long\n  EntrySetup: RSI(2) < 30\n  EntryLimit: C * 0.99\n"
    "  ExitLimit: FillPrice * 1.02\n  ExitStop: FillPrice * 0.98\n  ExitRule: BarsHeld >= 8\n  Quantity: 10000\n"
    "Strategy: AtNextOpen\n  Side: Short\n  EntrySetup: RSI(2) > 70\n  ExitLimit: C * 0.97\n  ExitStop: C * 1.03\n"
    "  ExitLimitTime: NextOpen\n  ExitStopTime: NextOpen\n  ExitRule: BarsHeld >= 6\n  Quantity: 10000\n";

struct RunTrades {
    std::vector<TradeRecord> trades;
    std::vector<std::string> strategies;
    std::vector<int32_t> dates;                  /* the test's rows */
    std::vector<std::vector<int32_t>> positions; /* per row, each strategy's open positions after it */
    std::vector<std::vector<double>> gains;      /* per row, each strategy's equity less its start and interest so far */
};

/* The walk's days, and the splits of the three symbols over them. */
const std::vector<std::pair<int32_t, double>> kSplitsAAA = {{20210915, 2}, {20221109, 3}}, kSplitsBBB = {{20220302, 2}};

/* DDD splits late in its periods: on the Thursday before a month's last
** week, and on a quarter's last day. */
const std::vector<std::pair<int32_t, double>> kSplitsDDD = {{20211118, 2}, {20220630, 3}};

/* DDD's days among the weekdays d (from a Monday): none on the first two
** days of every other month, nor on the Monday of every fourth week, so
** that many of its weeks, months and quarters open days after the market's;
** and none after Wednesday 15 February 2023, inside every period.  It trades
** on the last day of every week and month all the same: a period the symbol
** did not trade to its end closes on its last bar, but a daily run learns
** that only at the period's end, and holds a position that leaves at that
** close until then. */
std::vector<int32_t> DaysOfDDD(const std::vector<int32_t> &d)
{
    std::vector<int32_t> days;
    for (size_t k = 0; k < d.size() && d[k] <= 20230215; k++) {
        const bool last = k % 5 == 4 || k + 1 == d.size() || d[k + 1] / 100 != d[k] / 100;
        if (last || (!(d[k] / 100 % 2 == 0 && d[k] % 100 <= 2) && !(k % 5 == 0 && k / 5 % 4 == 1))) days.push_back(d[k]);
    }
    return days;
}

/* AAA, BBB and CCC on the days given (CCC never splits), and DDD on its
** own, stored with split factors or adjusted beforehand; with dataEnd, EEE
** too, which trades every day until its data end on that day. */
std::vector<std::pair<std::string, Series>> Universe(const std::vector<int32_t> &d, bool adjusted, int32_t dataEnd = 0)
{
    std::vector<std::pair<std::string, Series>> symbols = {
        {"AAA", Walk(d, 7, kSplitsAAA, adjusted)}, {"BBB", Walk(d, 11, kSplitsBBB, adjusted)}, {"CCC", Walk(d, 13, {}, adjusted)},
        {"DDD", Walk(DaysOfDDD(d), 17, kSplitsDDD, adjusted)}};
    if (dataEnd) {
        std::vector<int32_t> days;
        for (int32_t day : d)
            if (day <= dataEnd) days.push_back(day);
        symbols.push_back({"EEE", Walk(days, 19, {}, adjusted)});
    }
    return symbols;
}

/* A script of the strategies' text with each strategy's bar size, sized by
** value without rounding of prices or quantities, so that every data set
** gives exactly one answer; ownRun: the run's bar size is theirs. */
std::string ScriptOf(const std::string &strategies, const char *barSize, bool ownRun)
{
    std::string script = std::string("Settings:\n  AccountSize: 1000000\n") + (ownRun ? std::string("  BarSize: ") + barSize + "\n" : "");
    for (size_t at = 0; at < strategies.size();) {
        size_t end = strategies.find('\n', at);
        script.append(strategies, at, end + 1 - at);
        if (strategies.compare(at, 9, "Strategy:") == 0) {
            /* (A strategy that gives its own sizing keeps it.) */
            const size_t next = strategies.find("Strategy:", end);
            const bool own = strategies.substr(end, next == std::string::npos ? std::string::npos : next - end).find("QtyType:") !=
                std::string::npos;
            script += std::string("  BarSize: ") + barSize + "\n" + (own ? "" : "  QtyType: Value\n  QtyRound: 0\n  PriceRound: 0\n");
        }
        at = end + 1;
    }
    return script;
}

/* Loads the symbols' days up to last (0: all of them) and their dividends,
** runs the script and gives its trades. */
RunTrades TradesOn(EngineTest &t, const std::vector<int32_t> &d, const std::vector<std::pair<std::string, Series>> &symbols,
                   const std::string &script, int32_t last = 0)
{
    RunTrades run;
    std::vector<int32_t> days;
    for (int32_t day : d)
        if (!last || day <= last) days.push_back(day);
    std::vector<std::pair<std::string, std::vector<DayBar>>> bars;
    for (const auto &symbol : symbols) {
        const std::vector<DayBar> &all = symbol.second.bars;
        size_t kept = 0;
        while (kept < all.size() && (!last || all[kept].date <= last)) kept++;
        bars.push_back({symbol.first, {all.begin(), all.begin() + (ptrdiff_t)kept}});
    }
    t.LoadStore(days, bars);
    for (const auto &symbol : symbols) SetEvents(symbol.first, symbol.second.dividends);
    EXPECT_EQ(0, t.Run(script)) << LastMessage();
    const TestRecord *test = t.LastTest();
    if (!test) return run;
    run.trades.assign(test->trades, test->trades + test->tradeCount);
    for (int32_t s = 0; s < test->strategyCount; s++) run.strategies.push_back(test->strategies[s].name);
    std::vector<double> interest(test->strategyCount);
    for (int32_t r = 0; r < test->rowsFilled; r++) {
        run.dates.push_back((int32_t)t.Cell(test, r, 0)->date);
        run.positions.emplace_back();
        run.gains.emplace_back();
        for (int32_t s = 0; s < test->strategyCount; s++) {
            const StatCell *cell = t.Cell(test, r, s);
            run.positions.back().push_back(cell->positions);
            interest[s] += cell->interest;
            run.gains.back().push_back(cell->equityBase + cell->markToMarket - cell->startEquity - interest[s]);
        }
    }
    return run;
}

/* A strategy whose rounding makes other trades on other terms (named R). */
bool RoundsInItsTerms(const RunTrades &run, const TradeRecord &t)
{
    return run.strategies[t.strategy][0] == 'R';
}

/* The trades made on prices with split factors are those made on the same
** prices adjusted beforehand, trade by trade (but for strategies that round
** in their own terms). */
void ExpectAlike(const RunTrades &storedRun, const RunTrades &adjustedRun)
{
    RunTrades stored, adjusted;
    stored.strategies = storedRun.strategies, adjusted.strategies = adjustedRun.strategies;
    for (const TradeRecord &t : storedRun.trades)
        if (!RoundsInItsTerms(storedRun, t)) stored.trades.push_back(t);
    for (const TradeRecord &t : adjustedRun.trades)
        if (!RoundsInItsTerms(adjustedRun, t)) adjusted.trades.push_back(t);
    ASSERT_EQ(adjusted.trades.size(), stored.trades.size());
    for (size_t k = 0; k < stored.trades.size(); k++) {
        const TradeRecord &a = stored.trades[k], &b = adjusted.trades[k];
        SCOPED_TRACE(stored.strategies[a.strategy] + " " + a.symbol + " " + std::to_string(a.dateIn) + " #" + std::to_string(k));
        ASSERT_STREQ(b.symbol, a.symbol);
        ASSERT_EQ(b.strategy, a.strategy);
        ASSERT_EQ(b.dateIn, a.dateIn);
        EXPECT_EQ(b.timeIn, a.timeIn);
        EXPECT_EQ(b.dateOut, a.dateOut);
        EXPECT_EQ(b.timeOut, a.timeOut);
        EXPECT_EQ(b.reason, a.reason);
        EXPECT_EQ(b.bars, a.bars);
        /* Prices are not rounded; share counts are, to 0.001 of a share in
        ** each data set's own terms, and so are the money amounts that
        ** follow them. */
        auto near = [](double x, double y) { return std::fabs(x - y) <= 1e-7 * std::fmax(1.0, std::fabs(y)); };
        double share = 0.0011 * std::fmax(a.splitIn, a.splitOut);
        EXPECT_PRED2(near, a.priceIn / a.splitIn, b.priceIn);
        EXPECT_PRED2(near, a.priceOut / a.splitOut, b.priceOut);
        EXPECT_NEAR(a.quantityIn * a.splitIn, b.quantityIn, share);
        EXPECT_NEAR(a.quantityOut * a.splitOut, b.quantityOut, share);
        EXPECT_PRED2(near, a.highest / a.splitIn, b.highest);
        EXPECT_PRED2(near, a.lowest / a.splitIn, b.lowest);
        EXPECT_NEAR(a.dividends, b.dividends, 0.01);
        EXPECT_NEAR(TradeNetProfit(&a), TradeNetProfit(&b), 0.5);
    }
}

/* The kept test: a daily, weekly, monthly and quarterly set of the
** strategies above, in a daily run and in a run of their own bar size, trade
** the same on stored split factors as on adjusted prices. */
TEST_F(SplitTest, DataWithSplitFactorsTradeAsThePricesAdjustedBeforehand)
{
    std::vector<int32_t> d = Weekdays(20210104, 20230630);
    for (const char *barSize : {"Daily", "Weekly", "Monthly", "Quarterly"}) {
        for (bool ownRun : {false, true}) {
            if (ownRun && strcmp(barSize, "Daily") == 0) continue;
            SCOPED_TRACE(std::string(barSize) + (ownRun ? " run" : " strategies in a daily run"));
            const std::string script = ScriptOf(kStrategies, barSize, ownRun);
            const RunTrades stored = TradesOn(*this, d, Universe(d, false), script);
            const RunTrades adjusted = TradesOn(*this, d, Universe(d, true), script);
            ExpectAlike(stored, adjusted);
            ASSERT_GT(stored.trades.size(), strcmp(barSize, "Quarterly") == 0 ? 20u : 40u);
            /* Every kind of trade the script can make is among them. */
            bool splitHeld = false, partial = false, reasons[9] = {};
            for (size_t k = 0; k < stored.trades.size(); k++) {
                const TradeRecord &a = stored.trades[k];
                splitHeld |= a.splitIn != a.splitOut;
                for (size_t j = 0; j < k && !partial; j++)
                    partial = a.dateIn == stored.trades[j].dateIn && a.strategy == stored.trades[j].strategy &&
                        strcmp(a.symbol, stored.trades[j].symbol) == 0;
                if (a.reason >= 0 && a.reason < 9) reasons[a.reason] = true;
            }
            EXPECT_TRUE(splitHeld);
            EXPECT_TRUE(partial);
            for (int reason : {EXIT_RULE, EXIT_LIMIT, EXIT_STOP, EXIT_REDUCE}) EXPECT_TRUE(reasons[reason]) << reason;
        }
    }
}

/* Strategies made from the script's own forms by a seeded generator: long
** and short; market, limit and stop entries at the next open, the next
** close or this close, set up by rules that need no bar before (which the
** data's first period sets up) or a few; targets and stops on the close or
** the fill price, trailing targets and stops, orders for the next open or
** this close; exit rules at each time; partial exits.  Their factors are off
** the walk's grid of prices (steps of 0.0025% of the close before), so that
** no order is met exactly on one data set and missed by a rounding on the
** other.  nextCloseEntry: whether each strategy made enters at the next
** close. */
struct StrategyGenerator {
    uint32_t state;
    std::vector<bool> nextCloseEntry;
    int Pick(int n)
    {
        state = state * 1664525u + 1013904223u;
        return (int)((state >> 8) % (uint32_t)n);
    }
    std::string Next(int number)
    {
        const bool isLong = Pick(2) == 0;
        const char *const setups[2][4] = {{"RSI(2) < 35", "C > MA(C, 4)", "C < MA(C, 3)", "C > O"},
                                          {"RSI(2) > 65", "C < MA(C, 4)", "C > MA(C, 3)", "C < O"}};
        std::string text = "Strategy: G" + std::to_string(number) + "\n  Side: " + (isLong ? "Long" : "Short") +
            "\n  EntrySetup: " + setups[isLong ? 0 : 1][Pick(4)] + "\n  Quantity: 10000\n";
        auto factor = [isLong](double up) { return std::to_string(isLong ? 1 + up : 1 - up); };
        switch (Pick(3)) {
        case 1: text += "  EntryLimit: C * " + factor(-0.01291) + "\n"; break;
        case 2: text += "  EntryStop: C * " + factor(0.00671) + "\n"; break;
        default: break;
        }
        const char *const entryTimes[] = {"", "  EntryTime: NextClose\n", "  EntryTime: ThisClose\n"};
        const int entryTime = Pick(3);
        text += entryTimes[entryTime];
        nextCloseEntry.push_back(entryTime == 1);
        const char *const bases[] = {"C", "FillPrice"};
        const double reach[] = {0.02131, 0.04371, 0.08111};
        const int target = Pick(4), stop = Pick(4);
        if (target == 3)
            /* A long's PrevExitLimit before any target is the unlimited
            ** amount, far above every price here.  Near enough to be reached
            ** after a split, which a target that kept the terms before it
            ** (twice or thrice as high) never is. */
            text += isLong ? "  ExitLimit: IF(PrevExitLimit < 1000000, MAX(PrevExitLimit, C * 1.01371), C * 1.01371)\n"
                           : "  ExitLimit: IF(PrevExitLimit > 0, MIN(PrevExitLimit, C * 0.98629), C * 0.98629)\n";
        else if (target)
            text += std::string("  ExitLimit: ") + bases[target - 1] + " * " + factor(reach[Pick(3)]) + "\n";
        if (stop == 3)
            text += isLong ? "  ExitStop: MAX(PrevExitStop, C * 0.96131)\n"
                           : "  ExitStop: IF(PrevExitStop > 0, MIN(PrevExitStop, C * 1.03871), C * 1.03871)\n";
        else if (stop)
            text += std::string("  ExitStop: ") + bases[stop - 1] + " * " + factor(-reach[Pick(3)]) + "\n";
        const char *const orderTimes[] = {"", "", "NextOpen", "ThisClose"};
        if (const char *time = orderTimes[Pick(4)]; time[0])
            text += std::string("  ExitLimitTime: ") + time + "\n  ExitStopTime: " + time + "\n";
        const char *const ambiguities[] = {"", "", "  Ambiguity: Target\n", "  Ambiguity: Stop\n", "  Ambiguity: Neither\n"};
        text += ambiguities[Pick(5)];
        text += "  ExitRule: BarsHeld >= " + std::to_string(2 + Pick(5)) + "\n";
        const char *const exitTimes[] = {"", "  ExitTime: ThisClose\n", "  ExitTime: NextClose\n"};
        text += exitTimes[Pick(3)];
        /* Halves, a few times at most: share counts are kept to 0.001 in
        ** each data set's own terms, and a part far below one share would
        ** round differently on the two. */
        switch (Pick(4)) {
        case 1: text += "  ExitQty: IF(BarsHeld < 5, Shares * 0.5, Shares)\n"; break;
        case 2: if (target) text += "  ExitLimitQty: IF(BarsHeld < 4, Shares * 0.5, Shares)\n"; break;
        default: break;
        }
        return text;
    }
    /* One of Next's forms whose setup reads Data items of its own bar size
    ** and of the others, and whose stop, now and then, is worked out on one
    ** (named I): an item worked out on a bar before a split is read in the
    ** terms of the bar reading it. */
    std::string Reading(int number)
    {
        std::string text = Next(number);
        text.replace(text.find(": G") + 2, 1, "I");
        const bool isLong = text.find("Side: Long") != std::string::npos;
        const char *const setups[2][5] = {
            {"C > DailyMA", "C > WeeklyMA", "L > WeeklyLo AND C < MonthlyC * 1.2", "C > QuarterlyC", "H < YearlyHi"},
            {"C < DailyMA", "C < WeeklyMA", "H < WeeklyHi AND C > MonthlyC * 0.8", "C < QuarterlyC", "L > YearlyHi * 0.7"}};
        const size_t setup = text.find("  EntrySetup: ");
        text.replace(setup, text.find('\n', setup) - setup, std::string("  EntrySetup: ") + setups[isLong ? 0 : 1][Pick(5)]);
        const char *const stops[2][3] = {{"", "DailyLo * 0.99131", "MIN(WeeklyLo * 0.99371, C * 0.95131)"},
                                         {"", "DailyHi * 1.00869", "MAX(WeeklyHi * 1.00629, C * 1.04869)"}};
        if (const char *stop = stops[isLong ? 0 : 1][Pick(3)]; stop[0]) {
            const size_t at = text.find("  ExitStop: ");
            const std::string line = std::string("  ExitStop: ") + stop;
            if (at == std::string::npos)
                text.insert(text.find("  ExitRule: "), line + "\n");
            else
                text.replace(at, text.find('\n', at) - at, line);
        }
        return text;
    }
    /* One of Next's forms that trails its stop and its target from the
    ** prices of the bar before (PrevExitStop, PrevExitLimit), each bar a
    ** step nearer the price, and holds long (named T): its orders cross the
    ** splits in the periods it holds through, and an order taken from the
    ** wrong bar is a step off. */
    std::string Trailing(int number)
    {
        std::string text = Next(number);
        text.replace(text.find(": G") + 2, 1, "T");
        const bool isLong = text.find("Side: Long") != std::string::npos;
        for (const char *key : {"  ExitStop: ", "  ExitLimit: ", "  ExitRule: "}) {
            const size_t at = text.find(key);
            if (at != std::string::npos) text.erase(at, text.find('\n', at) + 1 - at);
        }
        text += isLong ? "  ExitStop: MAX(PrevExitStop * 1.00371, C * 0.92131)\n"
                         "  ExitLimit: IF(PrevExitLimit < 1000000, MIN(PrevExitLimit * 0.99629, C * 1.12371), C * 1.12371)\n"
                       : "  ExitStop: IF(PrevExitStop > 0, MIN(PrevExitStop * 0.99629, C * 1.07869), C * 1.07869)\n"
                         "  ExitLimit: IF(PrevExitLimit > 0, MAX(PrevExitLimit * 1.00371, C * 0.87629), C * 0.87629)\n";
        return text + "  ExitRule: BarsHeld >= " + std::to_string(10 + Pick(10)) + "\n";
    }
    /* A strategy's own MaxPositions and MaxEntries (0: none), drawn, and
    ** their lines. */
    std::string Limits(int *positions, int *entries)
    {
        *positions = Pick(3) == 0 ? 0 : 1 + Pick(3);
        *entries = Pick(3) == 0 ? 0 : 1 + Pick(2);
        return (*positions ? "  MaxPositions: " + std::to_string(*positions) + "\n" : std::string()) +
            (*entries ? "  MaxEntries: " + std::to_string(*entries) + "\n" : std::string());
    }
    /* One of those that rounds its prices and share counts, pays a
    ** commission and sizes in shares or in percent of its equity: named R,
    ** since the same prices adjusted beforehand round otherwise.  percent:
    ** whether each made sizes by its equity. */
    std::vector<bool> percent;
    std::string Rounded(int number)
    {
        std::string text = Next(number);
        text.replace(text.find(": G") + 2, 1, "R");
        const bool byEquity = Pick(2) == 0;
        percent.push_back(byEquity);
        const char *const units[] = {"0.01", "0.05", "0.25"};
        const std::string keys = std::string("  QtyType: ") + (byEquity ? "Percent\n  QtyRound: 1\n" : "Shares\n  QtyRound: 10\n") +
            "  PriceRound: " + units[Pick(3)] + "\n  Commission: " + (Pick(2) ? "1.5" : "0.01 * Shares") + "\n";
        const size_t quantity = text.find("  Quantity: 10000\n");
        text.replace(quantity, strlen("  Quantity: 10000\n"), keys + (byEquity ? "  Quantity: 1\n" : "  Quantity: 100\n"));
        return text;
    }
};

/* Trades that closed before date, of the strategies named (all when none
** is), in an order of their own. */
std::vector<TradeRecord> ClosedBefore(const RunTrades &run, int32_t date, const std::vector<std::string> &named = {})
{
    std::vector<TradeRecord> closed;
    for (const TradeRecord &t : run.trades)
        if (t.dateOut < date && (named.empty() || std::count(named.begin(), named.end(), run.strategies[t.strategy])))
            closed.push_back(t);
    std::sort(closed.begin(), closed.end(), [](const TradeRecord &a, const TradeRecord &b) {
        const int symbol = strcmp(a.symbol, b.symbol);
        if (a.strategy != b.strategy || symbol != 0) return a.strategy != b.strategy ? a.strategy < b.strategy : symbol < 0;
        return std::tie(a.dateIn, a.dateOut, a.timeOut, a.quantityIn) < std::tie(b.dateIn, b.dateOut, b.timeOut, b.quantityIn);
    });
    return closed;
}

/* The entries a run made at an open or during a day up to date, each once
** (a partial exit leaves more than one trade of an entry). */
std::vector<std::tuple<int32_t, std::string, int32_t, int32_t, double>> EnteredBy(const RunTrades &run, int32_t date)
{
    std::vector<std::tuple<int32_t, std::string, int32_t, int32_t, double>> entries;
    for (const TradeRecord &t : run.trades)
        if (t.dateIn <= date && t.timeIn != PHASE_CLOSE) entries.push_back({t.strategy, t.symbol, t.dateIn, t.timeIn, t.priceIn});
    /* A position that left in parts is one entry. */
    std::sort(entries.begin(), entries.end());
    entries.erase(std::unique(entries.begin(), entries.end()), entries.end());
    return entries;
}

/* The same entries, their prices to the last bits a split later in a longer
** period may move (the trades' own comparison below allows as much). */
void ExpectSameEntries(const std::vector<std::tuple<int32_t, std::string, int32_t, int32_t, double>> &expected,
                       const std::vector<std::tuple<int32_t, std::string, int32_t, int32_t, double>> &actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t k = 0; k < expected.size(); k++) {
        const auto &[s1, y1, d1, t1, p1] = expected[k];
        const auto &[s2, y2, d2, t2, p2] = actual[k];
        EXPECT_EQ(std::tie(s1, y1, d1, t1), std::tie(s2, y2, d2, t2));
        EXPECT_NEAR(p1, p2, 1e-12 * std::fmax(1.0, std::fabs(p1))) << y1 << " " << d1;
    }
}

/* Two lists of trades (of run's strategies, in ClosedBefore's order) are
** the same, field by field. */
void ExpectSameTrades(const RunTrades &run, const std::vector<TradeRecord> &expected, const std::vector<TradeRecord> &actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (size_t k = 0; k < expected.size(); k++) {
        const TradeRecord &a = expected[k], &b = actual[k];
        SCOPED_TRACE(run.strategies[a.strategy] + " " + a.symbol + " " + std::to_string(a.dateIn));
        EXPECT_STREQ(a.symbol, b.symbol);
        EXPECT_EQ(a.strategy, b.strategy);
        EXPECT_EQ(a.dateIn, b.dateIn);
        EXPECT_EQ(a.timeIn, b.timeIn);
        EXPECT_EQ(a.dateOut, b.dateOut);
        EXPECT_EQ(a.timeOut, b.timeOut);
        EXPECT_EQ(a.reason, b.reason);
        EXPECT_EQ(a.bars, b.bars);
        /* A price carried through a split later in its period by one data
        ** set and not by the other may differ in its last bit. */
        auto same = [](double x, double y) { return std::fabs(x - y) <= 1e-12 * std::fmax(1.0, std::fabs(y)); };
        EXPECT_PRED2(same, a.priceIn, b.priceIn);
        EXPECT_PRED2(same, a.priceOut, b.priceOut);
        EXPECT_PRED2(same, a.quantityIn, b.quantityIn);
        EXPECT_PRED2(same, a.quantityOut, b.quantityOut);
        EXPECT_PRED2(same, a.highest, b.highest);
        EXPECT_PRED2(same, a.lowest, b.lowest);
        EXPECT_NEAR(a.dividends, b.dividends, 1e-9); /* summed in another order */
    }
}

/* The open positions each row of a run shows for each strategy are those its
** trades held after that day: a trade's from its entry day to the day before
** its exit, the parts of a position that left in parts counted once (one
** position per symbol); the Combined strategy's are all of them.  A longer
** bar's exit at the open of the symbol's first day of its period, after the
** market's first day (of market; every strategy but the daily Day is of barSize,
** the symbols' days those of symbols), may leave the account at the
** period's open, on the market's first day, when it was decided there. */
void ExpectPositionsOfTrades(const RunTrades &run, const std::vector<int32_t> &market, int barSize,
                             const std::vector<std::pair<std::string, Series>> &symbols)
{
    auto firstDay = [barSize](const std::vector<int32_t> &days, int32_t date) {
        for (int32_t day : days)
            if (PeriodOf(day, barSize) == PeriodOf(date, barSize)) return day;
        return 0;
    };
    std::vector<int32_t> early; /* the day such an exit may leave the account on */
    for (const TradeRecord &t : run.trades) {
        int32_t day = t.dateOut;
        if (t.timeOut == PHASE_OPEN && barSize != BAR_DAILY && run.strategies[t.strategy] != "Day") {
            std::vector<int32_t> own;
            for (const auto &symbol : symbols)
                if (symbol.first == t.symbol)
                    for (const DayBar &b : symbol.second.bars) own.push_back(b.date);
            if (firstDay(own, t.dateOut) == t.dateOut) day = firstDay(market, t.dateOut);
        }
        early.push_back(day);
    }
    int failures = 0;
    for (size_t r = 0; r < run.dates.size() && failures < 5; r++) {
        const int32_t date = run.dates[r];
        size_t least = 0, most = 0;
        int32_t combined = -1;
        for (size_t s = 0; s < run.strategies.size(); s++) {
            if (run.strategies[s] == "Combined") {
                combined = (int32_t)s;
                continue;
            }
            std::set<std::string> surely, maybe;
            for (size_t k = 0; k < run.trades.size(); k++) {
                const TradeRecord &t = run.trades[k];
                if (t.strategy != (int32_t)s || t.dateIn > date || date >= t.dateOut) continue;
                maybe.insert(t.symbol);
                if (date < early[k]) surely.insert(t.symbol);
            }
            least += surely.size(), most += maybe.size();
            const int32_t positions = run.positions[r][s];
            if ((positions < (int32_t)surely.size() || positions > (int32_t)maybe.size()) && ++failures)
                ADD_FAILURE() << run.strategies[s] << " on " << date << ": " << positions << " positions, trades "
                              << surely.size() << " to " << maybe.size();
        }
        if (combined >= 0) {
            const int32_t positions = run.positions[r][combined];
            if ((positions < (int32_t)least || positions > (int32_t)most) && ++failures)
                ADD_FAILURE() << "Combined on " << date << ": " << positions << " positions, trades " << least << " to " << most;
        }
    }
}

/* The account holds what the trades hold: on every row where a strategy
** holds nothing, and at the end, its equity is its start, its interest and
** the profits of the trades it closed by then (a Combined strategy's are
** all of them). */
void ExpectAccountOfTrades(const RunTrades &run)
{
    int failures = 0;
    for (size_t s = 0; s < run.strategies.size() && failures < 5; s++) {
        const bool all = run.strategies[s] == "Combined";
        for (size_t r = 0; r < run.dates.size() && failures < 5; r++) {
            const bool last = r + 1 == run.dates.size();
            if (run.positions[r][s] != 0 && !last) continue;
            double closed = 0;
            for (const TradeRecord &t : run.trades)
                if ((all || t.strategy == (int32_t)s) && (last || t.dateOut <= run.dates[r])) closed += TradeNetProfit(&t);
            if (std::fabs(run.gains[r][s] - closed) > 0.01 * std::fmax(1.0, std::fabs(closed) * 1e-6) && ++failures)
                ADD_FAILURE() << run.strategies[s] << " on " << run.dates[r] << ": the account gained " << run.gains[r][s]
                              << ", its closed trades " << closed;
        }
    }
}

/* The trades themselves keep a limit of most positions at once: after each
** day's open (what entered before or at it, less what left before or at it)
** and after its close (what entered by then, less what left by then).  The
** parts and lots of a strategy's symbol are one position. */
void ExpectTradesWithin(const RunTrades &run, const std::vector<int32_t> &d, int32_t most)
{
    int failures = 0;
    for (int32_t day : d) {
        std::set<std::pair<int32_t, std::string>> afterOpen, afterClose;
        for (const TradeRecord &t : run.trades) {
            if ((t.dateIn < day || (t.dateIn == day && t.timeIn == PHASE_OPEN)) &&
                (t.dateOut > day || (t.dateOut == day && t.timeOut != PHASE_OPEN)))
                afterOpen.insert({t.strategy, t.symbol});
            if (t.dateIn <= day && t.dateOut > day) afterClose.insert({t.strategy, t.symbol});
        }
        const size_t open = afterOpen.size(), close = afterClose.size();
        if ((open > (size_t)most || close > (size_t)most) && ++failures <= 5)
            ADD_FAILURE() << day << ": " << open << " positions after the open, " << close << " after the close, of " << most;
    }
}

/* A run of the strategies' own bar size and a daily run book the same
** account for the strategies named: the same equity on every row the two
** share, held or flat (a row dated on a period's last day holds every
** dividend that went ex in the period, as the daily row of that date does),
** and the same net at the end. */
void ExpectSameAccount(const RunTrades &own, const RunTrades &daily, const std::vector<std::string> &named)
{
    int failures = 0;
    for (size_t s = 0; s < own.strategies.size(); s++) {
        if (!std::count(named.begin(), named.end(), own.strategies[s])) continue;
        size_t k = 0;
        for (size_t r = 0; r < own.dates.size() && failures < 5; r++) {
            while (k < daily.dates.size() && daily.dates[k] < own.dates[r]) k++;
            if (k == daily.dates.size() || daily.dates[k] != own.dates[r]) continue;
            if (std::fabs(own.gains[r][s] - daily.gains[k][s]) > 0.5 && ++failures)
                ADD_FAILURE() << own.strategies[s] << " on " << own.dates[r] << ": " << own.gains[r][s] << " in its own run, "
                              << daily.gains[k][s] << " in the daily one";
        }
    }
}

/* Two runs keep the same rows: the same dates, and on each every
** strategy's open positions and its gain so far. */
void ExpectSameRows(const RunTrades &expected, const RunTrades &actual)
{
    ASSERT_EQ(expected.dates, actual.dates);
    int failures = 0;
    for (size_t r = 0; r < expected.dates.size() && failures < 5; r++) {
        if (expected.positions[r] != actual.positions[r] && ++failures)
            ADD_FAILURE() << "positions differ on " << expected.dates[r];
        for (size_t s = 0; s < expected.gains[r].size(); s++) {
            const double a = expected.gains[r][s], b = actual.gains[r][s];
            if (std::fabs(a - b) > 1e-7 * std::fmax(1.0, std::fabs(a)) && ++failures)
                ADD_FAILURE() << expected.strategies[s] << " on " << expected.dates[r] << ": " << a << " against " << b;
        }
    }
}

/* A strategy of the bar size given sharing the account of the strategies
** given, whose Combined strategy holds at most five positions at once. */
std::string Sharer(const char *barSize)
{
    return std::string("Strategy: Day\n  BarSize: ") + barSize +
        "\n  QtyType: Value\n  QtyRound: 0\n  PriceRound: 0\n  Side: Long\n  EntrySetup: C > MA(C, 3)\n"
        "  Quantity: 10000\n  ExitStop: C * 0.97371\n  ExitRule: BarsHeld >= 3\nCombined:\n  MaxPositions: 5\n";
}

/* A strategy of the bar size given, put first, that holds DDD from a
** period that rose and leaves at the open after one that fell, never
** entering again at that open: in a period whose first days DDD missed, the
** slot it leaves is the others' only from its exit's day. */
std::string GapHolder(const char *barSize)
{
    return std::string("Strategy: Gap\n  BarSize: ") + barSize +
        "\n  QtyType: Value\n  QtyRound: 0\n  PriceRound: 0\n  Side: Long\n  EntrySetup: ?Symbol = \"DDD\" AND C > O\n"
        "  ExitRule: C < O\n  Quantity: 10000\n";
}

/* Generated strategies of every bar size, in a daily run and in a run of
** their own bar size, on five symbols with splits and dividends, one of
** them (DDD) missing its periods' first days now and then, splitting late
** in its periods and ending inside them, and one (EEE) whose data end early:
** they make the same trades on prices with split factors as on the prices
** adjusted beforehand, alone and beside a daily strategy that shares their
** account and its position limit; the account's positions each day are
** those of the trades; the trades that closed before a date, and the
** entries at an open or during a day up to it, are the same on data that
** end on that date (mid-period, a split's day, the day after one, the last
** day of a symbol's data and the day after it), where a test with that date
** as its EndDate on all the data makes every trade and row of those data;
** every fill lies inside its
** day's range, every excursion inside the range of the days held; and a
** daily run makes the trades of a run of their bar size, but for those of
** strategies that enter at the next close (a longer bar's fills at the close
** of its period's first day in a daily run, at the close of the period in a
** run of its own).  Beside them a few that round their prices and share
** counts, pay commissions and size in shares or by their equity, which the
** adjusted prices cannot repeat, keep every other rule (those sized by
** their equity, on the whole account's, trade as the daily twin where the
** account holds none that enter at the next close).  Each seed draws
** its strategies and three of the cut dates; KV_GENERATED_SEEDS=n runs n
** seeds (three by default, every cut date among them). */
TEST_F(SplitTest, GeneratedStrategiesKeepTheirTradesWhateverTheSplitsAndTheDaysAfter)
{
    const char *seeds = getenv("KV_GENERATED_SEEDS");
    const int seedCount = seeds && atoi(seeds) > 0 ? atoi(seeds) : 3;
    std::vector<int32_t> d = Weekdays(20210104, 20230630);
    const auto stored = Universe(d, false, 20220303), adjusted = Universe(d, true, 20220303);
    const std::vector<int32_t> dddDays = DaysOfDDD(d);
    const int32_t allCuts[] = {20210915, 20220202, 20220303, 20220304, 20221116, 20230215, 20230216, 20230510};
    for (int seed = 1; seed <= seedCount; seed++) {
        std::vector<int32_t> cuts;
        for (int k = 0; k < 3; k++) cuts.push_back(allCuts[(3 * (seed - 1) + k) % 8]);
        const char *const barSizes[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
        for (int size = BAR_DAILY; size <= BAR_YEARLY; size++) {
            const char *barSize = barSizes[size];
            RunTrades daily, dailyOfTheSame;
            for (bool ownRun : {false, true}) {
                if (ownRun && strcmp(barSize, "Daily") == 0) continue;
                StrategyGenerator generator{(uint32_t)seed * 7919u + (uint32_t)strlen(barSize)};
                std::string strategies;
                std::vector<std::string> alike; /* those that trade alike in both runs */
                /* Those that do not enter at the next close, alone in an
                ** account that therefore holds the same trades in both runs,
                ** and those of them whose sizing by a percent of equity is
                ** held to the daily twin there too. */
                std::string sameAccount;
                std::vector<std::string> sizedAlike;
                for (int k = 1; k <= 10; k++) {
                    const std::string text = generator.Next(k);
                    strategies += text;
                    if (generator.nextCloseEntry.back()) continue;
                    alike.push_back("G" + std::to_string(k));
                    sameAccount += text;
                    sizedAlike.push_back(alike.back());
                }
                std::string exact = strategies; /* those that trade alike on adjusted prices */
                for (int k = 1; k <= 3; k++) {
                    const std::string text = generator.Rounded(k);
                    strategies += text;
                    if (generator.nextCloseEntry.back()) continue;
                    sameAccount += text;
                    /* A percent of equity is one of the whole account's
                    ** equity, which holds the strategies that enter at the
                    ** next close: their trades differ between the runs (at
                    ** the close of the period's first day in a daily run, of
                    ** its last in a run of their own), and so do the shares
                    ** a percent buys, by one now and then.  Where the account
                    ** holds none of them, the share counts are the daily
                    ** twin's, an entry at its period's last close among them:
                    ** both runs size it on the account as its period began. */
                    if (!generator.percent.back()) alike.push_back("R" + std::to_string(k));
                    sizedAlike.push_back("R" + std::to_string(k));
                }
                /* One that enters every symbol at every next open: EEE's last
                ** bar too, whatever data follow it. */
                const char *every = "Strategy: Every\n  Side: Long\n  EntrySetup: 1\n  ExitRule: 1\n  Quantity: 10000\n";
                strategies += every;
                exact += every;
                sameAccount += every;
                alike.push_back("Every");
                sizedAlike.push_back("Every");
                const std::string script = ScriptOf(strategies, barSize, ownRun), exactScript = ScriptOf(exact, barSize, ownRun);
                SCOPED_TRACE(std::to_string(seed) + " " + barSize + (ownRun ? " run" : " strategies in a daily run") + "\n" + script);
                const RunTrades full = TradesOn(*this, d, stored, script);
                ASSERT_GE(full.strategies.size(), 8u);
                ExpectAlike(full, TradesOn(*this, d, adjusted, script));
                for (const TradeRecord &t : full.trades) {
                    SCOPED_TRACE(full.strategies[t.strategy] + " " + t.symbol + " " + std::to_string(t.dateIn) + " " +
                                 std::to_string(t.dateOut));
                    const std::vector<DayBar> &bars = stored[t.symbol[0] - 'A'].second.bars;
                    double high = 0, low = 1e300;
                    for (const DayBar &b : bars) {
                        if (b.date < t.dateIn || b.date > t.dateOut) continue;
                        const double r = t.splitIn / b.split;
                        high = std::fmax(high, r * b.high), low = std::fmin(low, r * b.low);
                        auto inside = [&b](double price) { return price >= b.low * (1 - 1e-12) && price <= b.high * (1 + 1e-12); };
                        if (b.date == t.dateIn) {
                            EXPECT_PRED1(inside, t.priceIn);
                        }
                        if (b.date == t.dateOut) {
                            EXPECT_PRED1(inside, t.priceOut);
                        }
                    }
                    EXPECT_LE(t.highest, high * (1 + 1e-12));
                    EXPECT_GE(t.lowest, low * (1 - 1e-12));
                }
                for (int32_t cut : cuts) {
                    SCOPED_TRACE("data to " + std::to_string(cut));
                    const RunTrades shorter = TradesOn(*this, d, stored, script, cut);
                    /* (Data cut on a day DDD missed end DDD before the cut.) */
                    if (cut > dddDays.back() || std::binary_search(dddDays.begin(), dddDays.end(), cut)) {
                        ExpectSameTrades(full, ClosedBefore(full, cut), ClosedBefore(shorter, cut));
                        ExpectSameEntries(EnteredBy(full, cut), EnteredBy(shorter, cut));
                    }
                    /* A test ended by its EndDate on the whole data trades as
                    ** the data cut there, DDD's missing days and all: a symbol
                    ** that did not trade on the last day leaves by its end of
                    ** data at its last close, whatever the bar size; and a
                    ** longer bar's period that the date ends early is a bar
                    ** of its own in both, where a strategy may act at the
                    ** close and leave at once by the end of the test.  Every
                    ** trade and every row of the account is the same. */
                    char end[40];
                    snprintf(end, sizeof end, "  EndDate: %04d-%02d-%02d\n", cut / 10000, cut / 100 % 100, cut % 100);
                    const RunTrades ended = TradesOn(*this, d, stored, std::string(script).insert(script.find('\n') + 1, end));
                    ExpectSameTrades(shorter, ClosedBefore(shorter, INT32_MAX), ClosedBefore(ended, INT32_MAX));
                    ExpectSameRows(shorter, ended);
                    ExpectAccountOfTrades(ended);
                }
                ExpectPositionsOfTrades(full, d, size, stored);
                ExpectAccountOfTrades(full);
                {
                    /* A StartDate inside the data, a different day of the
                    ** week and month for each seed: nothing enters before it;
                    ** a longer period that began before it is none of the
                    ** test's bars (so a test from inside the data's last year
                    ** makes no yearly trade), and from the first day of the
                    ** next a strategy and symbol that the whole run does not
                    ** hold across that day make the trades the whole run
                    ** makes from it (but for those sized by their equity,
                    ** which differs); the account and its positions are
                    ** those of the trades from it. */
                    const int32_t start = d[300 + 37 * seed % 250];
                    SCOPED_TRACE("from " + std::to_string(start));
                    char from[40];
                    snprintf(from, sizeof from, "  StartDate: %04d-%02d-%02d\n", start / 10000, start / 100 % 100, start % 100);
                    const RunTrades later = TradesOn(*this, d, stored, std::string(script).insert(script.find('\n') + 1, from));
                    for (const TradeRecord &t : later.trades) EXPECT_GE(t.dateIn, start) << later.strategies[t.strategy] << " " << t.symbol;
                    auto periodOf = [size](int32_t day) { return PeriodOf(day, size); };
                    /* The first day of the first period the test holds whole. */
                    auto at = std::find(d.begin(), d.end(), start);
                    if (at != d.begin() && periodOf(*(at - 1)) == periodOf(start))
                        while (at != d.end() && periodOf(*at) == periodOf(start)) at++;
                    const int32_t first = at == d.end() ? INT32_MAX : *at;
                    auto fromStart = [&](const RunTrades &run) {
                        RunTrades kept;
                        for (const TradeRecord &t : run.trades) {
                            const std::string &name = run.strategies[t.strategy];
                            bool held = name[0] == 'R' && generator.percent[name[1] - '1'];
                            for (const TradeRecord &u : full.trades)
                                held = held || (full.strategies[u.strategy] == name && strcmp(u.symbol, t.symbol) == 0 && u.dateIn < first && u.dateOut >= first);
                            if (t.dateIn >= first && !held) kept.trades.push_back(t);
                        }
                        return ClosedBefore(kept, INT32_MAX);
                    };
                    ASSERT_EQ(full.strategies, later.strategies);
                    ExpectSameTrades(full, fromStart(full), fromStart(later));
                    ExpectPositionsOfTrades(later, d, size, stored);
                    ExpectAccountOfTrades(later);
                }
                const RunTrades ofTheSame =
                    size == BAR_DAILY ? RunTrades{} : TradesOn(*this, d, stored, ScriptOf(sameAccount, barSize, ownRun));
                if (!ownRun) {
                    daily = full;
                    dailyOfTheSame = ofTheSame;
                    SCOPED_TRACE("sharing the account with a daily strategy");
                    const std::string withGap = std::string(exactScript).insert(exactScript.find("Strategy:"), GapHolder(barSize));
                    const RunTrades shared = TradesOn(*this, d, stored, withGap + Sharer("Daily"));
                    ExpectAlike(shared, TradesOn(*this, d, adjusted, withGap + Sharer("Daily")));
                    ExpectPositionsOfTrades(shared, d, size, stored);
                    ExpectAccountOfTrades(shared);
                    ExpectTradesWithin(shared, d, 5);
                } else {
                    {
                        SCOPED_TRACE("against the daily run");
                        ExpectSameTrades(full, ClosedBefore(daily, INT32_MAX, alike), ClosedBefore(full, INT32_MAX, alike));
                        ExpectSameAccount(full, daily, alike);
                        SCOPED_TRACE("none entering at the next close");
                        ExpectSameTrades(ofTheSame, ClosedBefore(dailyOfTheSame, INT32_MAX, sizedAlike),
                                         ClosedBefore(ofTheSame, INT32_MAX, sizedAlike));
                        ExpectSameAccount(ofTheSame, dailyOfTheSame, sizedAlike);
                    }
                    /* A run of the bar size decides a day's entries at its
                    ** period's open, where an exit waiting for its symbol's
                    ** first day still holds its slot. */
                    SCOPED_TRACE("sharing the account with a strategy of the run's bar size");
                    const std::string withGap = std::string(script).insert(script.find("Strategy:"), GapHolder(barSize));
                    const RunTrades shared = TradesOn(*this, d, stored, withGap + Sharer(barSize));
                    ExpectPositionsOfTrades(shared, d, size, stored);
                    ExpectAccountOfTrades(shared);
                    ExpectTradesWithin(shared, d, 5);
                }
            }
        }
    }
}

/* Days from..to at a flat price, split 2:1 before `split` (factor 2, the
** price twice the later one), with the changes given on some days. */
std::vector<DayBar> SplitDays(const std::vector<int32_t> &days, int32_t split, double after,
                              const std::vector<DayBar> &changes = {})
{
    std::vector<DayBar> bars;
    for (int32_t day : days) {
        double f = day < split ? 2 : 1, c = after * f;
        DayBar bar{day, c, c, c, c, 1000 / f, f};
        for (const DayBar &change : changes)
            if (change.date == day) bar = DayBar{day, change.open, change.high, change.low, change.close, 1000 / f, f};
        bars.push_back(bar);
    }
    return bars;
}

/* What a daily target or stop of the day before means on a split day:
** AAA, BBB and CCC trade at 100 until a 2:1 split on Thursday 15 February
** and at 50 after it; 100 shares bought at the open of 3 January are 200.
** - Stops at 60 (C * 0.6) and 50 (C * 0.5) of the 100 are 30 and 25 of the
**   50: no exit, at the open or at the close (NextClose), and a short's
**   target at 60 is 30.
** - BBB falls to 29 on the split day: the long is stopped and the short's
**   target filled at 30, 200 shares each.
** - CCC closes at 110 on 1 February, so a trailing stop MAX(PrevExitStop,
**   C * 0.9) stands at 99, which the split makes 49.5; CCC falls to 49 on
**   21 February (open 50): the stop fills there at 49.5.
** - Orders on the fill price: a target at 102 and a stop at 98 of the 100
**   paid are 51 and 49 of the 50, so AAA holds; BBB's stop at 98 fills at
**   49 on the split day; 100 AAA bought at 50 at the open of the split day
**   hold a target of 51 and a stop of 49 that the day's 50 does not reach;
**   and an exit rule at the next open that wants 10% over the fill price
**   (C > FillPrice * 1.1) finds 100 against 110 on the split day, not 55.
** - Orders for the next open compare the close before with the order in the
**   same terms: a long's target at 105 (C * 1.05) and a short's stop at 105
**   are 52.5 of the split day's 50, which the close of 100 before it (50 in
**   that day's terms) is not through. */
TEST_F(SplitTest, ADailyStopOrTargetIsTakenIntoTheSplitDaysTerms)
{
    std::vector<int32_t> d = Weekdays(20240102, 20240329);
    LoadStore(d, {{"AAA", SplitDays(d, 20240215, 50)}, {"BBB", SplitDays(d, 20240215, 50, {{20240215, 50, 50, 29, 50}})}, {"CCC", SplitDays(d, 20240215, 50, {{20240201, 100, 110, 100, 110}, {20240221, 50, 50, 49, 50}})}});
    const char *const bracket = "ExitLimit: FillPrice * 1.02\n  ExitStop: FillPrice * 0.98";
    const struct {
        const char *symbol, *side, *orders;
        uint32_t reason;
        int32_t dateOut;
        double priceOut;
        int32_t signal = 20240102; /* entered at the next open */
        double priceIn = 100, quantityOut = 200;
    } cases[] = {
        {"AAA", "Long", "ExitStop: C * 0.6", EXIT_END_OF_TEST, 20240329, 50},
        {"AAA", "Long", "ExitStop: C * 0.5", EXIT_END_OF_TEST, 20240329, 50},
        {"AAA", "Long", "ExitStop: C * 0.5\n  ExitStopTime: NextClose", EXIT_END_OF_TEST, 20240329, 50},
        {"AAA", "Short", "ExitLimit: C * 0.6", EXIT_END_OF_TEST, 20240329, 50},
        {"BBB", "Long", "ExitStop: C * 0.6", EXIT_STOP, 20240215, 30},
        {"BBB", "Short", "ExitLimit: C * 0.6", EXIT_LIMIT, 20240215, 30},
        {"CCC", "Long", "ExitStop: MAX(PrevExitStop, C * 0.9)", EXIT_STOP, 20240221, 49.5},
        {"AAA", "Long", bracket, EXIT_END_OF_TEST, 20240329, 50},
        {"BBB", "Long", "ExitStop: FillPrice * 0.98", EXIT_STOP, 20240215, 49},
        {"AAA", "Long", bracket, EXIT_END_OF_TEST, 20240329, 50, 20240214, 50, 100},
        {"AAA", "Long", "ExitRule: C > FillPrice * 1.1\n  ExitTime: NextOpen", EXIT_END_OF_TEST, 20240329, 50},
        {"AAA", "Long", "ExitLimit: C * 1.05\n  ExitLimitTime: NextOpen", EXIT_END_OF_TEST, 20240329, 50},
        {"AAA", "Short", "ExitStop: C * 1.05\n  ExitStopTime: NextOpen", EXIT_END_OF_TEST, 20240329, 50},
    };
    std::string script;
    int n = 0;
    for (const auto &c : cases)
        script += "Strategy: S" + std::to_string(n++) + "\n  Side: " + c.side + "\n  EntrySetup: ?Symbol = \"" + c.symbol +
            "\" AND BarDate = " + std::to_string(c.signal) + "\n  Quantity: 100\n  QtyType: Shares\n  " + c.orders + "\n";
    ASSERT_EQ(0, Run(script)) << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_EQ((int32_t)(sizeof cases / sizeof cases[0]), test->tradeCount);
    for (int32_t k = 0; k < test->tradeCount; k++) {
        const TradeRecord &t = test->trades[k];
        const auto &c = cases[t.strategy];
        SCOPED_TRACE(std::string(c.symbol) + " " + c.side + " " + c.orders + " " + std::to_string(c.signal));
        EXPECT_EQ(OffsetTradingDate(&gStore.dateLists[BAR_DAILY], c.signal, 1), t.dateIn);
        EXPECT_DOUBLE_EQ(c.priceIn, t.priceIn);
        EXPECT_EQ(c.reason, (uint32_t)t.reason);
        EXPECT_EQ(c.dateOut, t.dateOut);
        EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
        EXPECT_DOUBLE_EQ(c.quantityOut, t.quantityOut);
    }
}

/* A weekly and a monthly long of 100 AAA bought at 100 on 3 April 2023,
** with a stop at C * 0.8 of the week or month before: AAA trades between
** 99.3 and 100.7 until it splits 2:1 on Wednesday 17 May, and between 49.65
** and 50.35 after.  The stop (80, then 40 after the split) is never
** reached: both hold their 200 shares to the end of the test, in a daily run
** and in a run of their own bar size, on data to the end of June and on
** data that end on the day after the split. */
TEST_F(SplitTest, ALongerBarsStopIsNotReachedByASplitInsideItsPeriod)
{
    for (int32_t last : {20230630, 20230518}) {
        std::vector<int32_t> d = Weekdays(20230102, last);
        std::vector<DayBar> bars;
        for (int32_t day : d) {
            double f = day < 20230517 ? 2 : 1;
            bars.push_back(DayBar{day, 50 * f, 50.35 * f, 49.65 * f, 50 * f, 1000 / f, f});
        }
        for (const char *barSize : {"Daily", "Weekly", "Monthly"}) {
            SCOPED_TRACE(std::to_string(last) + " " + barSize + " run");
            LoadStore(d, {{"AAA", bars}});
            std::string script = std::string("Settings:\n  BarSize: ") + barSize + "\n";
            for (const char *size : {"Weekly", "Monthly"})
                if (strcmp(barSize, "Daily") == 0 || strcmp(barSize, size) == 0)
                    script += std::string("Strategy: ") + size + "\n  BarSize: " + size + "\n  EntrySetup: BarDate >= 20230331 AND BarDate <= 20230401\n"
                                                                                          "  Quantity: 100\n  QtyType: Shares\n  ExitStop: C * 0.8\n";
            ASSERT_EQ(0, Run(script)) << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_NE(nullptr, test);
            ASSERT_EQ(strcmp(barSize, "Daily") == 0 ? 2 : 1, test->tradeCount);
            for (int32_t k = 0; k < test->tradeCount; k++) {
                const TradeRecord &t = test->trades[k];
                EXPECT_EQ(20230403, t.dateIn);
                EXPECT_DOUBLE_EQ(100, t.priceIn);
                EXPECT_EQ(EXIT_END_OF_TEST, t.reason);
                EXPECT_EQ(last, t.dateOut);
                EXPECT_DOUBLE_EQ(50, t.priceOut);
                EXPECT_DOUBLE_EQ(200, t.quantityOut);
            }
        }
    }
}

/* A monthly DynamicSizing strategy holds 100 AAA bought at 100 on
** 1 December 2021 (at the open, or at the close with EntryTime NextClose)
** and wants 97 from January; AAA splits 2:1 on 18 January and trades at 50
** after.  At the open of 3 January the shares held are counted as they stand
** that day: it sells 3, at 100, in a test that ends that day whether the
** data run on past the split or not, and keeps 97. */
TEST_F(SplitTest, AMonthlyReductionIsSizedInTheTermsOfTheDayItFillsOn)
{
    std::vector<int32_t> all = Weekdays(20211001, 20220331), cut = Weekdays(20211001, 20220103);
    for (const char *entry : {"", "  EntryTime: NextClose\n"}) {
        for (const std::vector<int32_t> *d : {&all, &cut}) {
            SCOPED_TRACE(std::string(entry) + std::to_string(d->size()));
            LoadStore(*d, {{"AAA", SplitDays(*d, 20220118, 50)}});
            const TradeRecord *trades = TradesOfRun(2, std::string("Settings:\n  EndDate: 2022-01-03\nStrategy: M\n  BarSize: Monthly\n") + entry + "  DynamicSizing: True\n  Quantity: IF(BarDate < 20211130, 0, IF(BarDate < 20211231, 100, 97))\n"
                                                                                                                                                    "  QtyType: Shares\n");
            ASSERT_NE(nullptr, trades);
            const struct {
                uint32_t reason;
                int32_t timeOut;
                double quantity;
            } want[] = {{EXIT_REDUCE, PHASE_OPEN, 3}, {EXIT_END_OF_TEST, PHASE_CLOSE, 97}};
            for (int k = 0; k < 2; k++) {
                const TradeRecord &t = trades[k];
                EXPECT_EQ(20211201, t.dateIn) << k;
                EXPECT_EQ(want[k].reason, (uint32_t)t.reason) << k;
                EXPECT_EQ(20220103, t.dateOut) << k;
                EXPECT_EQ(want[k].timeOut, t.timeOut) << k;
                EXPECT_DOUBLE_EQ(want[k].quantity, t.quantityIn) << k;
                EXPECT_DOUBLE_EQ(want[k].quantity, t.quantityOut) << k;
                EXPECT_DOUBLE_EQ(100, t.priceOut) << k;
            }
        }
    }
}

/* An entry at this close fills at the day's close in the day's terms, and
** is sized in them: AAA trades at 100 until a 2:1 split on 15 February 2024
** (50 after).  $10,000 at the close of 14 February is 100 shares, not the
** 200 of the next day's terms, whether the test ends that day or later; a
** DynamicSizing strategy that wants $10,000 from 13 February holds those
** 100 on the 14th and buys none more. */
TEST_F(SplitTest, AnEntryAtThisCloseIsSizedInItsDaysTerms)
{
    const std::vector<int32_t> d = Weekdays(20240102, 20240229);
    LoadStore(d, {{"AAA", SplitDays(d, 20240215, 50)}});
    for (const char *end : {"20240214", "20240220"}) {
        SCOPED_TRACE(end);
        const std::string settings = std::string("Settings:\n  EndDate: ") + end + "\nStrategy: S\n  EntryTime: ThisClose\n";
        const TradeRecord *fixed = TradesOfRun(1, settings + "  EntrySetup: BarDate = 20240214\n  Quantity: 10000\n  QtyType: Value\n");
        ASSERT_NE(nullptr, fixed);
        EXPECT_EQ(20240214, fixed->dateIn);
        EXPECT_DOUBLE_EQ(100, fixed->quantityIn);
        const TradeRecord *dynamic = TradesOfRun(1, settings + "  DynamicSizing: True\n  Quantity: IF(BarDate >= 20240213, 10000, 0)\n  QtyType: Value\n");
        ASSERT_NE(nullptr, dynamic);
        EXPECT_EQ(20240213, dynamic->dateIn);
        EXPECT_DOUBLE_EQ(100, dynamic->quantityIn);
    }
}

/* A quarterly run whose DynamicSizing strategy holds 100 AAA bought at 100
** on 2 January 2024 and wants $5,000 from the first quarter's bar; AAA
** trades at 100 until its data end on 15 May, at 80, while BBB's go on to
** the end of June.  At the open of 1 April the last close known is 100: it
** sells 50, not the 37.5 that AAA's last close, six weeks later, would
** leave; the 50 left leave at AAA's last close. */
TEST_F(SplitTest, AReductionOfASymbolWhoseDataEndInThePeriodIsSizedOnTheLastCloseKnown)
{
    const std::vector<int32_t> d = Weekdays(20231002, 20240628), a = Weekdays(20231002, 20240515);
    LoadStore(d, {{"AAA", SplitDays(a, 0, 100, {{20240515, 100, 100, 80, 80}})}, {"BBB", SplitDays(d, 0, 100)}});
    const TradeRecord *trades = TradesOfRun(2, "Settings:\n  BarSize: Quarterly\nStrategy: Q\n  BarSize: Quarterly\n"
                                               "  DynamicSizing: True\n  Quantity: IF(?Symbol = \"AAA\", IF(BarDate < 20231229, 0, IF(BarDate < 20240329, 10000, 5000)), 0)\n"
                                               "  QtyType: Value\n");
    ASSERT_NE(nullptr, trades);
    EXPECT_EQ(EXIT_REDUCE, (uint32_t)trades[0].reason);
    EXPECT_EQ(20240401, trades[0].dateOut);
    EXPECT_DOUBLE_EQ(50, trades[0].quantityOut);
    EXPECT_DOUBLE_EQ(50, trades[1].quantityOut);
    EXPECT_DOUBLE_EQ(80, trades[1].priceOut);
}

/* Lots of fractional size bought before a 3:2 split and all sold after it
** leave nothing behind: the rounding left in the shares counted across the
** split is no new position. */
TEST_F(SplitTest, LotsSoldWholeAcrossASplitOfThreeForTwoLeaveNoPosition)
{
    const std::vector<int32_t> d = Weekdays(20240102, 20240329);
    std::vector<DayBar> bars;
    for (int32_t day : d) {
        const double f = day < 20240215 ? 1.5 : 1, c = 100 * f;
        bars.push_back(DayBar{day, c, c, c, c, 1000 / f, f});
    }
    LoadStore(d, {{"AAA", bars}});
    ASSERT_EQ(0, Run("Strategy: D\n  DynamicSizing: True\n  QtyType: Shares\n  QtyRound: 0\n"
                     "  Quantity: IF(BarDate < 20240301, 10.1 + (BarDate % 7) * 3.71 + (BarDate % 11) * 1.37 - (BarDate % 5) * 2.9, 0)\n"))
        << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_NE(nullptr, test);
    ASSERT_GT(test->tradeCount, 5);
    for (int32_t k = 0; k < test->tradeCount; k++) {
        EXPECT_GT(test->trades[k].quantityIn, 1e-6) << k;
        EXPECT_LE(test->trades[k].dateOut, 20240304) << k;
    }
}

/* A monthly DynamicSizing strategy at the next close holds 100 AAA (bought
** at 100) and wants $5,000 from January's bar, or $15,000.  AAA closes at 100
** to the end of January; then either at 90 on 1 February, 85 on the 15th and
** 80 on the 29th, or at 50 from a 2:1 split on 15 February.  Wanting $5,000
** it reduces at the open of 1 February, where the last close known is 100:
** it sells 50 (that day's shares) at 100.  Wanting $15,000 it buys $5,000
** more at the close it enters at (1 February in a daily run: 50 at 100; the
** month's last day in a monthly run: 100 at 50).  In a daily and in a
** monthly run, on data that end on 15 February or go on. */
TEST_F(SplitTest, ADynamicSizingAtTheNextCloseSizesOnWhatItsOpenKnowsInTheTermsOfItsFills)
{
    const std::vector<DayBar> falls = {{20240201, 100, 100, 90, 90}, {20240215, 85, 85, 85, 85}, {20240229, 80, 80, 80, 80}};
    const struct {
        int32_t last, split;
        const std::vector<DayBar> *changes;
        int wanted;
    } cases[] = {{20240329, 0, &falls, 5000}, {20240215, 0, &falls, 5000}, {20240329, 20240215, nullptr, 5000},
                 {20240329, 20240215, nullptr, 15000}};
    for (const auto &c : cases) {
        const std::vector<int32_t> d = Weekdays(20231101, c.last);
        for (const char *run : {"", "Settings:\n  BarSize: Monthly\n"}) {
            SCOPED_TRACE(std::to_string(c.last) + " split " + std::to_string(c.split) + " " + std::to_string(c.wanted) + " " + run);
            LoadStore(d, {{"AAA", SplitDays(d, c.split, c.split ? 50 : 100, c.changes ? *c.changes : std::vector<DayBar>{})}});
            ASSERT_EQ(0, Run(std::string(run) + "Strategy: M\n  BarSize: Monthly\n  EntryTime: NextClose\n  DynamicSizing: True\n"
                                                "  Quantity: IF(BarDate < 20231130, 0, IF(BarDate < 20240131, 10000, " +
                             std::to_string(c.wanted) + "))\n  QtyType: Value\n"))
                << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_NE(nullptr, test);
            bool seen = false;
            for (int32_t k = 0; k < test->tradeCount; k++) {
                const TradeRecord &t = test->trades[k];
                if (c.wanted == 5000 && t.reason == EXIT_REDUCE) {
                    EXPECT_EQ(20240201, t.dateOut);
                    EXPECT_DOUBLE_EQ(50, t.quantityOut);
                    EXPECT_DOUBLE_EQ(100, t.priceOut);
                    seen = true;
                } else if (c.wanted == 15000 && t.dateIn > 20240101) {
                    EXPECT_DOUBLE_EQ(5000, t.quantityIn * t.priceIn);
                    seen = true;
                }
            }
            EXPECT_TRUE(seen);
        }
    }
}

/* A monthly long of 100 AAA bought at 100 on 2 January 2024 leaves by its
** exit rule at the open of 1 February, at 100.  AAA trades at 100, with a
** high of 100.50 on 10 January, and splits 2:1 on 15 February.  The trade
** saw 100 to 100.50, an excursion of 0.5%, however the month it left in
** goes on: in a daily and in a monthly run, to the end of March or to
** 1 February. */
TEST_F(SplitTest, AnExitAtTheOpenOfAPeriodKeepsItsExcursionsInItsOwnTerms)
{
    for (int32_t last : {20240329, 20240201}) {
        std::vector<int32_t> d = Weekdays(20231101, last);
        for (const char *run : {"", "Settings:\n  BarSize: Monthly\n"}) {
            SCOPED_TRACE(std::to_string(last) + " " + run);
            LoadStore(d, {{"AAA", SplitDays(d, 20240215, 50, {{20240110, 100, 100.5, 100, 100}})}});
            const TradeRecord *trades = TradesOfRun(1, std::string(run) + "Strategy: M\n  BarSize: Monthly\n  EntrySetup: BarDate = 20231229\n"
                                                                          "  Quantity: 100\n  QtyType: Shares\n  ExitRule: BarDate = 20240131\n");
            ASSERT_NE(nullptr, trades);
            const TradeRecord &t = trades[0];
            EXPECT_EQ(EXIT_RULE, t.reason);
            EXPECT_EQ(20240201, t.dateOut);
            EXPECT_DOUBLE_EQ(100, t.priceOut);
            EXPECT_DOUBLE_EQ(100, t.quantityOut);
            EXPECT_DOUBLE_EQ(100.5, t.highest);
            EXPECT_DOUBLE_EQ(100, t.lowest);
        }
    }
}

/* A yearly strategy's stop entry at C * 1.02 of the 2023 close of 229.28 is
** 233.8656, an order for 100 shares at 233.87 placed before the first day
** of 2024.  AAA trades at 230 and reaches 235 on 10 January; it splits 2:1
** on 17 June, after the test's last date (31 January).  The entry fills at
** 233.87 with 100 shares, in the terms of the days it could fill on, as on
** data that end on 31 January (in a daily and in a yearly run). */
TEST_F(SplitTest, AStopEntryOfALongerBarIsPlacedInTheTermsOfItsFirstDay)
{
    const struct {
        int32_t last;
        const char *run;
    } cases[] = {{20241231, ""}, {20240131, ""}, {20240131, "  BarSize: Yearly\n"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.last) + " " + c.run);
        std::vector<int32_t> d = Weekdays(20221003, c.last);
        LoadStore(d, {{"AAA", SplitDays(d, 20240617, 115, {{20231229, 230, 230, 229.28, 229.28}, {20240110, 230, 235, 230, 230}})}});
        const TradeRecord *trades = TradesOfRun(1, std::string("Settings:\n  EndDate: 2024-01-31\n") + c.run + "Strategy: Y\n  BarSize: Yearly\n  Side: Long\n  EntrySetup: BarDate = 20231229\n"
                                                                                                               "  EntryStop: C * 1.02\n  Quantity: 100\n  QtyType: Shares\n");
        ASSERT_NE(nullptr, trades);
        const TradeRecord &t = trades[0];
        EXPECT_EQ(20240110, t.dateIn);
        EXPECT_EQ(PHASE_INTRADAY, t.timeIn);
        EXPECT_DOUBLE_EQ(233.87, t.priceIn);
        EXPECT_DOUBLE_EQ(100, t.quantityIn);
    }
}

/* A weekly long of 100 AAA bought at 100 on 29 January 2024 (factor 2);
** AAA splits 2:1 on Thursday 8 February (50 after).
** - A stop at C * 0.9 of the week before, 90: AAA falls to 89 on Tuesday
**   6 February, and Tuesday's check reads the week as it stood that day, in
**   that day's terms: the stop fills on Tuesday at 90, for the 100 shares
**   held then, a loss of 1,000.
** - A trailing stop MAX(PrevExitStop, C * 0.9): AAA closes the week of
**   29 January at 110, so the stop is 99, which the split makes 49.5 for
**   the week of 12 February, every day of it.  AAA falls to 48 on
**   Wednesday 14 February: the stop fills there at 49.5, for 200 shares
**   (200 x 49.5 - 100 x 100 = -100), in a weekly run and in a daily run,
**   where the stop is worked out again on each day of the week.
** - The trailing stop beside a target of C * 1.05 for half the shares: 105,
**   reached on Tuesday 30 January, in the week of the entry; 50 leave there.
**   The rest keeps the stop of that week, 90, and the week closes at 95: the
**   stop for the week of 5 February is MAX(90, 85.5) = 90, and AAA opens it
**   at 95 and falls to 88 on Monday.  The 50 leave at 90 (50 x 90 - 50 x 100
**   = -500).
** - The trailing stop where AAA did not trade on Thursday and Friday
**   15 and 16 February: AAA closes the week of 5 February at 60, so the stop
**   for the week of 12 February is MAX(49.5, 54) = 54.  AAA trades at 55 to
**   Wednesday, its last day of that week, and on Monday 19 February, and
**   falls to 52 on Tuesday 20: the stop is still MAX(54, 49.5) = 54 and
**   fills there, for 200 shares (200 x 54 - 100 x 100 = 800). */
TEST_F(SplitTest, ALongerBarsStopIsTakenInTheTermsOfTheDayChecked)
{
    std::vector<int32_t> d = Weekdays(20240101, 20240329);
    const char *const bothRuns[] = {"", "Settings:\n  BarSize: Weekly\n"};
    const struct {
        const char *stop;
        std::vector<DayBar> changes;
        std::vector<const char *> runs;
        int32_t dateOut;
        double priceOut, quantityOut, profit;
        const char *target = "";        /* when given, the stop's trade is the second */
        std::vector<int32_t> gaps = {}; /* days AAA did not trade */
    } cases[] = {
        {"C * 0.9", {{20240206, 100, 100, 89, 100}}, {""}, 20240206, 90, 100, -1000},
        {"MAX(PrevExitStop, C * 0.9)", {{20240202, 100, 110, 100, 110}, {20240214, 50, 50, 48, 50}},
         {bothRuns[0], bothRuns[1]}, 20240214, 49.5, 200, -100},
        {"MAX(PrevExitStop, C * 0.9)", {{20240130, 100, 106, 100, 100}, {20240202, 100, 100, 95, 95}, {20240205, 95, 95, 88, 95}},
         {bothRuns[0], bothRuns[1]}, 20240205, 90, 50, -500, "  ExitLimit: C * 1.05\n  ExitLimitQty: Shares * 0.5\n"},
        {"MAX(PrevExitStop, C * 0.9)",
         {{20240202, 100, 110, 100, 110}, {20240209, 50, 60, 50, 60}, {20240212, 55, 55, 55, 55}, {20240213, 55, 55, 55, 55},
          {20240214, 55, 55, 55, 55}, {20240219, 55, 55, 55, 55}, {20240220, 55, 55, 52, 55}},
         {bothRuns[0], bothRuns[1]}, 20240220, 54, 200, 800, "", {20240215, 20240216}},
    };
    for (const auto &c : cases) {
        for (const char *run : c.runs) {
            SCOPED_TRACE(std::string(c.stop) + " " + c.target + run);
            std::vector<DayBar> bars;
            for (const DayBar &b : SplitDays(d, 20240208, 50, c.changes))
                if (std::count(c.gaps.begin(), c.gaps.end(), b.date) == 0) bars.push_back(b);
            LoadStore(d, {{"AAA", bars}});
            /* A week without its last days is dated as the store dates it. */
            ASSERT_TRUE(BuildWeeklyBars(&gStore.symbols[0]));
            const int32_t count = c.target[0] ? 2 : 1;
            const TradeRecord *trades = TradesOfRun(count, std::string(run) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: BarDate = 20240126\n"
                                                                              "  Quantity: 100\n  QtyType: Shares\n  ExitStop: " + c.stop + "\n" + c.target);
            ASSERT_NE(nullptr, trades);
            const TradeRecord &t = trades[count - 1];
            EXPECT_EQ(EXIT_STOP, t.reason);
            EXPECT_EQ(c.dateOut, t.dateOut);
            EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
            EXPECT_DOUBLE_EQ(c.quantityOut, t.quantityOut);
            EXPECT_NEAR(c.profit, TradeNetProfit(&t), 1e-9);
        }
    }
}

/* A quarterly long of 100 AAA bought at 10 on 2 October 2000 (factor 2)
** with a stop at C * 0.9 of the quarter before: 9, which is 4.5 after the
** 2:1 split of 15 February 2001.  A dividend of 0.20 a share goes ex on
** 10 January, before the split: 20 for the 100 shares held then.  AAA
** falls to 4 on 7 March (open 5) and the stop fills at 4.5 for 200 shares:
** 200 x 4.5 - 100 x 10 + 20 = -80.  A quarterly run credits the dividend when
** the position leaves, to the trade and to the quarter's statistics; a daily
** run on its ex-date. */
TEST_F(SplitTest, TheDividendsOwedAtAnExitAreThoseOfTheSharesOnTheirExDate)
{
    std::vector<int32_t> d = Weekdays(20000103, 20010629);
    for (const char *run : {"Settings:\n  BarSize: Quarterly\n", ""}) {
        SCOPED_TRACE(run);
        LoadStore(d, {{"AAA", SplitDays(d, 20010215, 5, {{20010307, 5, 5, 4, 4.5}})}});
        SetEvents("AAA", {{20010110, 0, EVENT_DIVIDEND, 0, 0.2}});
        const TradeRecord *trades = TradesOfRun(1, std::string(run) + "Strategy: Q\n  BarSize: Quarterly\n  EntrySetup: BarDate = 20000929\n"
                                                                      "  Quantity: 100\n  QtyType: Shares\n  ExitStop: C * 0.9\n");
        ASSERT_NE(nullptr, trades);
        const TestRecord *test = LastTest();
        const TradeRecord &t = trades[0];
        EXPECT_EQ(20001002, t.dateIn);
        EXPECT_EQ(EXIT_STOP, t.reason);
        EXPECT_EQ(20010307, t.dateOut);
        EXPECT_DOUBLE_EQ(4.5, t.priceOut);
        EXPECT_DOUBLE_EQ(200, t.quantityOut);
        EXPECT_NEAR(20, t.dividends, 1e-9);
        EXPECT_NEAR(-80, TradeNetProfit(&t), 1e-9);
        double credited = 0;
        for (int32_t r = 0; r < test->rowsFilled; r++) credited += Cell(test, r, 0)->dividends;
        EXPECT_NEAR(20, credited, 1e-9);
    }
}

/* A weekly long of 100 AAA bought at 100 on 29 January 2024 (factor 2)
** sells half at a target of C * 1.05 of the week before, 105, reached on
** Tuesday 6 February, less a slippage of 1% of its fill price; AAA splits
** 2:1 on Thursday (50 after).  Half the shares held on Tuesday are 50, and
** they leave at 105 - 1.05 = 103.95: the fill price is Tuesday's, in
** Tuesday's terms.  The other 50, 100 after the split, leave at 50 at the
** end of the test.  So in a daily and in a weekly run, and on data that end
** on Tuesday, where the split is not known (the 50 then leave at Tuesday's
** close of 100). */
TEST_F(SplitTest, ALongerBarsPartialExitCountsTheSharesAndPricesOfItsDay)
{
    for (int32_t last : {20240329, 20240206}) {
        for (const char *run : {"", "Settings:\n  BarSize: Weekly\n"}) {
            SCOPED_TRACE(std::to_string(last) + " " + run);
            std::vector<int32_t> d = Weekdays(20240101, last);
            LoadStore(d, {{"AAA", SplitDays(d, 20240208, 50, {{20240206, 100, 106, 100, 100}})}});
            const TradeRecord *trades = TradesOfRun(2, std::string(run) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: BarDate = 20240126\n"
                                                                          "  Quantity: 100\n  QtyType: Shares\n  ExitLimit: C * 1.05\n  ExitLimitQty: Shares * 0.5\n"
                                                                          "  LimitSlip: FillPrice * 0.01\n");
            ASSERT_NE(nullptr, trades);
            EXPECT_EQ(EXIT_LIMIT, trades[0].reason);
            EXPECT_EQ(20240206, trades[0].dateOut);
            EXPECT_DOUBLE_EQ(103.95, trades[0].priceOut);
            EXPECT_DOUBLE_EQ(50, trades[0].quantityOut);
            EXPECT_EQ(EXIT_END_OF_TEST, trades[1].reason);
            EXPECT_DOUBLE_EQ(last == 20240206 ? 50 : 100, trades[1].quantityOut);
            EXPECT_DOUBLE_EQ(last == 20240206 ? 100 : 50, trades[1].priceOut);
        }
    }
}

} // namespace

namespace {

/* A weekly long of 100 AAA bought at the open of 1 February 2016 leaves by
** its exit rule at the next open, that of the week of 8 February; AAA did
** not trade on Monday 8 February (the market did), so it leaves at the open
** of Tuesday 9 February, its first day of the week.
** - AAA at 200 splits 2:1 on Wednesday 10 February (100 after) and opens
**   Tuesday at 202: the 100 shares leave at 202, +200, not at the 101 the
**   week's bar carries in the split's terms.
** - Without a split, at 100, Tuesday opens at 101 and Wednesday falls to 90:
**   the trade leaves at 101 and saw 100 to 101, nothing of Wednesday.
** The same strategy set up again on 5 February buys its next 100 there, at
** the same open, in a daily and in a weekly run. */
TEST_F(SplitTest, ALongerBarsOpenFillIsOnTheSymbolsFirstDayOfThePeriod)
{
    const std::vector<int32_t> d = Weekdays(20160104, 20160311);
    const struct {
        int32_t split;
        double after;
        std::vector<DayBar> changes;
        double priceOut, profit, lowest, highest;
    } cases[] = {
        {20160210, 100, {{20160209, 202, 202, 200, 200}}, 202, 200, 200, 202},
        {0, 100, {{20160209, 101, 101, 100, 100}, {20160210, 100, 100, 90, 100}}, 101, 100, 100, 101},
    };
    for (const auto &c : cases) {
        for (const char *run : {"", "Settings:\n  BarSize: Weekly\n"}) {
            SCOPED_TRACE(std::to_string(c.split) + " " + run);
            std::vector<DayBar> aaa;
            for (const DayBar &b : SplitDays(d, c.split, c.after, c.changes))
                if (b.date != 20160208) aaa.push_back(b);
            LoadStore(d, {{"AAA", aaa}, {"CAL", FlatBars(d, std::vector<double>(d.size(), 10))}});
            const TradeRecord *trades = TradesOfRun(2, std::string(run) + "Strategy: W\n  BarSize: Weekly\n  Side: Long\n"
                                                                          "  EntrySetup: ?Symbol = \"AAA\" AND (BarDate = 20160129 OR BarDate = 20160205)\n"
                                                                          "  Quantity: 100\n  QtyType: Shares\n  ExitRule: BarsHeld >= 1\n  ExitTime: NextOpen\n");
            ASSERT_NE(nullptr, trades);
            const TradeRecord &t = trades[0];
            EXPECT_EQ(20160201, t.dateIn);
            EXPECT_EQ(EXIT_RULE, t.reason);
            EXPECT_EQ(20160209, t.dateOut);
            EXPECT_DOUBLE_EQ(c.priceOut, t.priceOut);
            EXPECT_DOUBLE_EQ(100, t.quantityOut);
            EXPECT_NEAR(c.profit, TradeNetProfit(&t), 1e-9);
            EXPECT_DOUBLE_EQ(c.lowest, t.lowest);
            EXPECT_DOUBLE_EQ(c.highest, t.highest);
            EXPECT_EQ(20160209, trades[1].dateIn);
            EXPECT_DOUBLE_EQ(c.priceOut, trades[1].priceIn);
            EXPECT_DOUBLE_EQ(100, trades[1].quantityIn);
        }
    }
}

} // namespace

namespace {

/* 0.07738 AAA bought at 120 on 2 January 2024 and sold at 60 after a 2:1
** split on 15 February are 0.15476 shares sold, all of them: the trade
** counts no gain or loss, not a 0.155 share sale worth 0.0144 more (or a
** 0.154 one worth 0.0456 less), and its Gain % is 0.  So with a lot of a
** DynamicSizing strategy that wants $9.2856 of AAA and then nothing. */
TEST_F(SplitTest, ALotSoldAfterASplitCountsAllItsShares)
{
    const std::vector<int32_t> d = Weekdays(20240102, 20240329);
    LoadStore(d, {{"AAA", SplitDays(d, 20240215, 60)}});
    for (const char *strategy : {"  EntrySetup: BarDate = 20231229 OR BarDate = 20240102\n  Quantity: 0.07738\n  QtyType: Shares\n  ExitRule: BarDate = 20240228\n",
                                 "  DynamicSizing: True\n  Quantity: IF(BarDate < 20240228, 9.2856, 0)\n  QtyType: Value\n"}) {
        SCOPED_TRACE(strategy);
        const TradeRecord *trades = TradesOfRun(1, std::string("Strategy: S\n  QtyRound: 0\n") + strategy);
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(20240229, trades[0].dateOut);
        EXPECT_NEAR(0.15476, trades[0].quantityOut, 1e-12);
        EXPECT_NEAR(0, TradeNetProfit(&trades[0]), 1e-9);
    }
}


} // namespace

namespace {

/* A daily long of 100 AAA bought at 100 on 3 January 2024 (factor 2) wants
** FillPrice * 1.02, 102, and by LimitExtra FillPrice * 0.01 more, 1: the
** high must reach 103.  On the 2:1 split day, 15 February, both halve with
** the price, 51 and 0.5: a high of 51.4 fills nothing, a high of 51.6 fills
** the target at 51 for the 200 shares held then. */
TEST_F(SplitTest, ALimitExtraOnTheFillPriceIsTakenIntoTheSplitDaysTerms)
{
    const std::vector<int32_t> d = Weekdays(20240102, 20240329);
    for (double high : {51.4, 51.6}) {
        SCOPED_TRACE(high);
        LoadStore(d, {{"AAA", SplitDays(d, 20240215, 50, {{20240215, 50, high, 50, 50}})}});
        const TradeRecord *trades = TradesOfRun(1, "Strategy: S\n  Side: Long\n  EntrySetup: BarDate = 20240102\n  Quantity: 100\n"
                                                   "  QtyType: Shares\n  ExitLimit: FillPrice * 1.02\n  LimitExtra: FillPrice * 0.01\n");
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(high > 51.5 ? EXIT_LIMIT : EXIT_END_OF_TEST, (uint32_t)trades[0].reason);
        EXPECT_EQ(high > 51.5 ? 20240215 : 20240329, trades[0].dateOut);
        EXPECT_DOUBLE_EQ(high > 51.5 ? 51 : 50, trades[0].priceOut);
        EXPECT_DOUBLE_EQ(200, trades[0].quantityOut);
    }
}

} // namespace

namespace {

/* A weekly long of 100 AAA bought at 100 on 29 January 2024 trails a stop
** MAX(PrevExitStop, C * 0.9) and leaves by its exit rule at the close of a
** week whose stop is over 95.  The week of 29 January closes at 110, so the
** stop for the week of 5 February is 99, a price the days of that week never
** reach.  AAA does not trade on Thursday and Friday 8 and 9 February: at the
** week's close the rule reads that week's stop, 99, not the one of the week
** before, and the position leaves at the close of 7 February, AAA's last
** day of the week, in a daily run as in a weekly one. */
TEST_F(SplitTest, AWeeksStopIsItsPrevExitStopAtItsCloseWhenTheSymbolMissedItsLastDays)
{
    const std::vector<int32_t> d = Weekdays(20240101, 20240329);
    std::vector<DayBar> bars;
    for (const DayBar &b : FlatBars(d, std::vector<double>(d.size(), 100)))
        if (b.date != 20240208 && b.date != 20240209) bars.push_back(b.date == 20240202 ? DayBar{b.date, 100, 110, 100, 110} : b);
    for (const char *run : {"", "Settings:\n  BarSize: Weekly\n"}) {
        SCOPED_TRACE(run);
        LoadStore(d, {{"AAA", bars}});
        ASSERT_TRUE(BuildWeeklyBars(&gStore.symbols[0]));
        const TradeRecord *trades = TradesOfRun(1, std::string(run) + "Strategy: W\n  BarSize: Weekly\n  EntrySetup: BarDate = 20240126\n"
                                                                      "  Quantity: 100\n  QtyType: Shares\n  ExitStop: MAX(PrevExitStop, C * 0.9)\n"
                                                                      "  ExitRule: PrevExitStop > 95\n  ExitTime: ThisClose\n");
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(EXIT_RULE, trades[0].reason);
        EXPECT_EQ(20240207, trades[0].dateOut);
        EXPECT_DOUBLE_EQ(100, trades[0].priceOut);
    }
}

} // namespace

namespace {

/* A daily scan's cells, row by row (Date and Symbol left out): the list's
** numbers, NaN for a cell without one. */
std::vector<std::vector<double>> ScanNumbers(EngineTest &t, const std::string &script)
{
    CellListWindow list{};
    gScanTarget = &list;
    EXPECT_EQ(0, t.Run(script, 2)) << LastMessage();
    std::vector<std::vector<double>> rows;
    for (int32_t r = 0; r < list.rowCount; r++) {
        rows.emplace_back();
        for (int32_t c = 2; c < list.columnCount; c++) {
            const ListCell *cell = GetListCell(&list, r, c);
            rows.back().push_back(strcmp(cell->text, "n/a") == 0 ? NAN : cell->number);
        }
    }
    FreeListWindow(&list);
    gScanTarget = nullptr;
    return rows;
}

/* AAA at 100 until its 2:1 split on Thursday 15 February 2024 and at 50
** after, its volume 500 a day before and 1000 after; every Data item read in
** a daily scan is in the terms of the day that reads it, as on the prices
** adjusted beforehand (flat at 50):
** - a shared call's sign is its own, applied once: -MA(C, 3) is -50, NOT of
**   a count of bars above 0 is 0, 2 * -Sum(V, 2) is -4000, and a call like
**   an item of its own that is negated shares the item without its sign;
** - an item walked in one pass whose formula the calendar's zero prices
**   decide early (0 / 2, 0 * 2) is a price all the same: the bar before the
**   split, 100, is 50 on the split's day, and 200 two bars back is 100;
** - the last whole week, month and quarter read on the split's day closed
**   at 100 before it, which is 50 after it; the week's 2,500 shares are
**   5,000;
** - a Sum of no bars is 0;
** - WhenTrue and SumSince give the close as it traded on the day they read
**   it (100 before the split), and the adjusted close through C / Split
**   brought into the reading day's terms by its Split. */
TEST_F(SplitTest, DataItemsAreReadInTheTermsOfTheDayReadingThem)
{
    const std::vector<int32_t> d = Weekdays(20231002, 20240329);
    const struct {
        const char *items, *read;
        int32_t date;
        double want;
    } cases[] = {
        {"  U: -MA(C, 3) + 0\n", "U", 20240301, -50},
        {"  U: NOT SinceTrue(C > 60) + 0\n", "U", 20240301, 0},
        {"  U: 2 * -Sum(V, 2)\n", "U", 20240301, -4000},
        {"  N: -MA(C, 3)\n  U: -MA(C, 3) * 1\n", "U", 20240301, -50},
        {"  M: MA((H + L) / 2, 10)\n", "M[1]", 20240215, 50},
        {"  M: MA(C * 2, 3)\n", "M[2]", 20240215, 100},
        {"  WeeklyC: C\n", "WeeklyC", 20240215, 50},
        {"  MonthlyC: C\n", "MonthlyC", 20240215, 50},
        {"  QuarterlyC: C\n", "QuarterlyC", 20240215, 50},
        {"  WeeklyV: V\n", "WeeklyV", 20240215, 5000},
        {"  U: Sum(C, 0) + 1\n", "U", 20240301, 1},
        /* WhenTrue and SumSince read their expression as it traded on its bar;
        ** in the reading bar's terms through the last terms and Split. */
        {"  U: WhenTrue(BarDate = 20240201, C)\n", "U", 20240301, 100},
        {"  U: WhenTrue(BarDate = 20240201, C / Split) * Split\n", "U", 20240301, 50},
        {"  U: SumSince(BarDate = 20240213, C)\n", "U", 20240216, 200},
        {"  U: SumSince(BarDate = 20240213, C / Split) * Split\n", "U", 20240216, 150},
    };
    LoadStore(d, {{"AAA", SplitDays(d, 20240215, 50)}});
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.items) + c.read);
        const auto rows = ScanNumbers(*this, std::string("Data:\n") + c.items + "Scan:\n  Filter: BarDate = " +
                                                 std::to_string(c.date) + "\n  Read: " + c.read + "\n");
        ASSERT_EQ(1u, rows.size());
        EXPECT_DOUBLE_EQ(c.want, rows[0][0]);
    }
}

/* In a weekly run, a week AAA did not trade on its Thursday and Friday
** (15 and 16 February 2024) is AAA's bar of the week all the same; a daily
** item read on it is AAA's last day of that week, Wednesday's close. */
TEST_F(SplitTest, ADailyItemInAWeeklyRunIsTheSymbolsLastDayOfItsWeek)
{
    const std::vector<int32_t> d = Weekdays(20240101, 20240329);
    std::vector<double> closes;
    for (size_t k = 0; k < d.size(); k++) closes.push_back(10.0 + (double)k);
    std::vector<DayBar> bars;
    double wednesday = 0;
    for (const DayBar &b : FlatBars(d, closes)) {
        if (b.date == 20240214) wednesday = b.close;
        if (b.date != 20240215 && b.date != 20240216) bars.push_back(b);
    }
    LoadStore(d, {{"AAA", bars}});
    /* The week is dated as the store dates it. */
    ASSERT_TRUE(BuildWeeklyBars(&gStore.symbols[0]));
    const auto rows = ScanNumbers(*this, "Settings:\n  BarSize: Weekly\nData:\n  DailyC: C\nScan:\n"
                                         "  Filter: BarDate >= 20240214 AND BarDate <= 20240216\n  Read: DailyC\n  Own: C\n");
    ASSERT_EQ(1u, rows.size());
    EXPECT_DOUBLE_EQ(wednesday, rows[0][1]);
    EXPECT_DOUBLE_EQ(wednesday, rows[0][0]);
}

/* Data items of each kind (shared calls with signs, items walked in one
** pass over products and quotients, longer bars' items, a Sum of no bars)
** read at offsets in a daily and a weekly scan of the generated symbols, as
** ratios to the day's own close or volume, which no split moves: the data
** with split factors give the numbers of the same prices adjusted
** beforehand, and each item those of its formula computed bar by bar in the
** scan.  Among them, in every one-pass walk (rings, extremes, running sums
** and smoothings, medians, regressions), windows of a series that is a
** price or a volume on some days and the constant 0 on others, across the
** splits, daily and weekly, a weekly one in a daily run too; and windows of
** every length from 0 to 2^40, which give no value where they never fill,
** as the scan gives none, in memory bounded by the data, not the length.
** Other runs use the loaded data first (the same items in a scan, a test, a
** daily scan before a weekly one): what ran before changes none of the
** scan's numbers. */
/* The memory a run of the test below may take beyond the data loaded. */
constexpr uint64_t kRunMemoryBound = 64u << 20;

TEST_F(SplitTest, DataItemsReadAtOffsetsAreThoseOfThePricesAdjustedBeforehand)
{
    const std::vector<int32_t> d = Weekdays(20210104, 20230630);
    struct Item {
        std::string name, formula, per; /* formula: % where the offset goes; "" an item of a longer bar */
        bool alone = false;             /* no scan formula to compare with: the item itself */
    };
    std::vector<Item> items = {
        {"A", "-MA(C, 3)% + 0", "C"},       {"B", "2 * -Sum(V, 2)%", "V"}, {"N", "NOT SinceTrue(C > O)% + 0", "1"},
        {"M", "MA((H + L) / 2, 10)%", "C"}, {"P", "MA(C * 2, 3)%", "C"},   {"Q", "-Sum(V, BarNum)%", "V"},
        {"S", "Sum(C, 0)% + 1", "1"},       {"WeeklyC", "", "C"},          {"MonthlyC", "", "C"},
        {"QuarterlyC", "", "C"},            {"WeeklyV", "", "V"},
        /* conditional series */
        {"CH", "Highest(IF(C > O, H, 0), 10)%", "C"},
        {"CL", "Lowest(IF(C > O, -L, 0), 10)%", "C"},
        {"CT", "Highest(IF(C > MA(C, 20), H, 0), 30)%", "C"},
        {"CS", "Sum(IF(C > O, V, 0), 10)%", "V"},
        {"CM", "MA(IF(C > O, H, 0), 10)%", "C"},
        {"CD", "StdDev(IF(C > O, H, 0), 10)%", "C"},
        {"CW", "VWMA(IF(C < O, L, 0), 10)%", "C"},
        {"CR", "LinReg(IF(C > O, C, 0), 10)%", "C"},
        {"CN", "Median(IF(C > O, H, 0), 5)%", "C"},
        {"CE", "EMA(IF(C > O, H, 0), 10)%", "C", true}, /* a scan's smoothing walks fewer bars */
        {"CX", "ESD(IF(C > O, H, 0), 10)%", "C", true},
        {"WeeklyCH", "Highest(IF(C > O, H, 0), 10)%", "C", true},
        {"WeeklyCS", "Sum(IF(C < O, V, 0), 4)%", "V", true},
    };
    /* Window lengths from none to far beyond any data, each family's drawn
    ** in turn from the list. */
    const char *const lengths[] = {"0", "1", "3", "300", "5000000", "2000000000", "1e10", "1099511627776"};
    const struct {
        const char *call, *per; /* call: %s where the length goes */
    } windows[] = {
        {"Highest(H, %s)", "C"}, {"Lowest(L, %s)", "C"},     {"SinceHigh(H, %s)", "1"},   {"SinceLow(L, %s)", "1"},
        {"Sum(V, %s)", "V"},     {"MA(C, %s)", "C"},         {"StdDev(C, %s)", "C"},      {"BBTopF(C, %s, 2)", "C"},
        {"Rank(C, %s)", "1"},    {"VWMA(C, %s)", "C"},       {"LinReg(C, %s)", "C"},      {"Median(C, %s)", "C"},
        {"HVOL(%s)", "1"},       {"BBTop(%s, 2)", "C"},      {"Correl(C, V, %s)", "1"},   {"RankN(1, C, %s)", "C"},
    };
    size_t drawn = 0;
    for (const auto &window : windows) {
        for (int k = 0; k < 2; k++) {
            const char *length = lengths[drawn++ * 3 % (sizeof lengths / sizeof *lengths)];
            char call[64];
            snprintf(call, sizeof call, window.call, length);
            items.push_back({"L" + std::to_string(drawn), std::string(call) + "%", window.per});
        }
    }
    auto at = [](std::string formula, const char *offset) { return formula.replace(formula.find('%'), 1, offset); };
    std::string script = "Data:\n";
    for (const auto &item : items)
        script += "  " + item.name + ": " + (item.formula.empty() ? item.per : at(item.formula, "")) + "\n";
    const std::string data = script;
    /* The bar's number, then columns in pairs: the item read, then its
    ** formula (or the item again). */
    script += "Scan:\n  Bar: BarNum\n";
    int column = 0;
    std::vector<int> offsets; /* of each pair */
    for (const char *offset : {"", "[1]", "[3]"}) {
        for (const auto &item : items) {
            offsets.push_back(offset[0] ? offset[1] - '0' : 0);
            const std::string read = item.name + offset;
            const std::string formula = item.formula.empty() || item.alone ? read : at(item.formula, offset);
            script += "  R" + std::to_string(column) + ": " + read + " / " + item.per + "\n";
            script += "  F" + std::to_string(column++) + ": (" + formula + ") / " + item.per + "\n";
        }
    }
    auto loaded = [&](bool adjusted) {
        std::vector<std::pair<std::string, std::vector<DayBar>>> bars;
        for (const auto &symbol : Universe(d, adjusted)) bars.push_back({symbol.first, symbol.second.bars});
        LoadStore(d, bars);
    };
    auto near = [](double x, double y) {
        return (std::isnan(x) && std::isnan(y)) || std::fabs(x - y) <= 1e-9 * std::fmax(1.0, std::fabs(y));
    };
    /* Each run's scan follows others on the same loaded data: its items
    ** alone in its bar size (measured), a test, a daily scan. */
    const char *const weekly = "Settings:\n  BarSize: Weekly\n";
    const struct {
        const char *run;
        std::vector<std::string> before;
    } runs[] = {{"", {"scan", "test"}}, {weekly, {"daily scan", "scan"}}};
    for (const auto &[run, before] : runs) {
        SCOPED_TRACE(std::string(run) + script);
        loaded(false);
        for (const std::string &step : before) {
            if (step == "scan") {
                /* What computing the items takes beyond the data loaded: their
                ** values and windows no longer than the data, whatever their
                ** lengths. */
                const uint64_t held = gAllocatedBytes.load();
                gAllocatedPeak.store(held);
                ASSERT_GT(ScanNumbers(*this, run + data + "Scan:\n  Bar: BarNum\n").size(), 100u);
                EXPECT_LT(gAllocatedPeak.load() - held, kRunMemoryBound);
            } else if (step == "daily scan") {
                ASSERT_GT(ScanNumbers(*this, data + "Scan:\n  Bar: BarNum\n").size(), 100u);
            } else {
                ASSERT_EQ(0, Run(run + data + "Strategy: S\n  EntrySetup: BarNum = 5\n  Quantity: 100\n  QtyType: Shares\n"
                                              "  ExitRule: BarNum = 300\n  ExitTime: ThisClose\n"))
                    << LastMessage();
            }
        }
        const auto split = ScanNumbers(*this, run + script);
        loaded(true);
        const auto adjusted = ScanNumbers(*this, run + script);
        ASSERT_GT(split.size(), 400u);
        ASSERT_EQ(adjusted.size(), split.size());
        int failures = 0;
        for (size_t r = 0; r < split.size() && failures < 10; r++) {
            ASSERT_EQ(2u * column + 1, split[r].size());
            ASSERT_EQ(split[r].size(), adjusted[r].size());
            for (size_t c = 0; c < split[r].size(); c++) {
                if (!near(split[r][c], adjusted[r][c]) && ++failures)
                    ADD_FAILURE() << "row " << r << " column " << c << ": " << split[r][c] << " split, " << adjusted[r][c]
                                  << " adjusted";
                /* An item read before the symbol's first bar has no value,
                ** where its formula may (a Sum of no bars is 0). */
                if (c % 2 == 1 && split[r][0] > offsets[c / 2] && !near(split[r][c], split[r][c + 1]) && ++failures)
                    ADD_FAILURE() << "row " << r << " column " << c << ": " << split[r][c] << " item, " << split[r][c + 1]
                                  << " formula";
            }
        }
    }
}

} // namespace

namespace {

/* The equity of a row: what the account shows with its open positions valued. */
double RowEquity(const StatCell *cell)
{
    return cell->equityBase + cell->markToMarket;
}

/* 100 AAA, flat at 100 through 2012 and 2013, bought at the open of
** 2 January 2013 by a monthly, quarterly or yearly strategy, in a daily run
** and in a run of the strategy's bar size.  AAA goes ex 1.00 on 9 October and
** on 11 December.  Held to the end of the test, the trade earns 200 long and
** pays 200 short, and so does the account: nothing else moves.  Left by an
** exit rule at the close of 31 October, the trade earns the October dividend,
** and the row of that close already holds it with the position gone. */
TEST_F(SplitTest, ALongerBarsLastPeriodDividendsReachTheAccount)
{
    const std::vector<int32_t> d = Weekdays(20120102, 20131231);
    for (const char *size : {"Monthly", "Quarterly", "Yearly"}) {
        for (const char *run : {"", "Settings:\n  BarSize: "}) {
            for (int side : {1, -1}) {
                for (bool rule : {false, true}) {
                    if (rule && strcmp(size, "Monthly") != 0) continue;
                    SCOPED_TRACE(std::string(size) + (*run ? " run " : " daily run ") + (side > 0 ? "long" : "short") +
                                 (rule ? " exit rule" : ""));
                    LoadStore(d, {{"AAA", FlatBars(d, std::vector<double>(d.size(), 100))}});
                    SetEvents("AAA", {{20131009, 0, EVENT_DIVIDEND, 0, 1.0}, {20131211, 0, EVENT_DIVIDEND, 0, 1.0}});
                    std::string text = *run ? std::string(run) + size + "\n" : "";
                    text += std::string("Strategy: S\n  BarSize: ") + size + "\n  EntrySetup: BarDate = 20121231\n" +
                        (side > 0 ? "" : "  Side: Short\n") + "  Quantity: 100\n  QtyType: Shares\n" +
                        (rule ? "  ExitRule: BarDate = 20131031\n  ExitTime: ThisClose\n" : "");
                    const TradeRecord *trades = TradesOfRun(1, text);
                    ASSERT_NE(nullptr, trades);
                    const TestRecord *test = LastTest();
                    const double earned = side * (rule ? 100 : 200);
                    EXPECT_EQ(rule ? 20131031 : 20131231, trades[0].dateOut);
                    EXPECT_NEAR(earned, TradeNetProfit(&trades[0]), 1e-9);
                    const StatCell *first = Cell(test, 0, 0), *last = Cell(test, test->rowsFilled - 1, 0);
                    EXPECT_NEAR(earned, RowEquity(last) - first->startEquity, 1e-9);
                    for (int32_t r = 0; r < test->rowsFilled; r++) {
                        const StatCell *cell = Cell(test, r, 0);
                        if (cell->date < 20131031 || cell->positions != 0) continue;
                        EXPECT_NEAR(earned, RowEquity(cell) - first->startEquity, 1e-9) << cell->date;
                        EXPECT_NEAR(0, cell->invested, 1e-9) << cell->date;
                    }
                }
            }
        }
    }
}

} // namespace

namespace {

/* 100 AAA bought at 100 on 26 February 2013 trail a stop of
** MAX(PrevExitStop, C * 0.92), or a target of MIN(PrevExitLimit, C * 1.08)
** as far as it lowers one, or 100 shorted trail a target of
** MAX(PrevExitLimit, C * 0.92) as far as it raises one.  AAA splits 2:1 on
** Monday 4 March (100 to 50, flat on either side) and has no bar on the 5th
** and 6th.  The stop crosses the split once, to 46, the targets to 54 and
** 46; none is reached, and the 200 shares leave by their rule at the close
** of 15 March, as on the same prices adjusted beforehand, in a daily run (of
** a daily and of a weekly strategy) and in a weekly one.  So too where AAA
** also misses Thursday and Friday 14 and 15 March, the last days of the week
** after the split, and the rule is for 29 March: the orders that week set
** are carried into the weeks after in the terms they were worked out in. */
TEST_F(SplitTest, ATrailingOrderCrossesASplitOnceWhateverDaysFollow)
{
    const std::vector<int32_t> d = Weekdays(20130102, 20130329);
    const char *const orders[] = {"  ExitStop: MAX(PrevExitStop, C * 0.92)\n", "  ExitLimit: MIN(PrevExitLimit, C * 1.08)\n",
                                  "  Side: Short\n  ExitLimit: MAX(PrevExitLimit, C * 0.92)\n"};
    const struct {
        std::vector<int32_t> missed;
        int32_t exit;
    } gaps[] = {{{20130305, 20130306}, 20130315}, {{20130305, 20130306, 20130314, 20130315}, 20130329}};
    const struct {
        const char *run;
        bool weekly;
    } runs[] = {{"", false}, {"", true}, {"Settings:\n  BarSize: Weekly\n", true}};
    for (const auto &gap : gaps) {
        for (const char *order : orders) {
            for (bool adjusted : {false, true}) {
                for (const auto &run : runs) {
                    SCOPED_TRACE(std::string(order) + (adjusted ? "adjusted " : "as traded ") + run.run + (run.weekly ? " weekly " : " daily ") +
                                 std::to_string(gap.exit));
                    std::vector<DayBar> aaa;
                    for (const DayBar &b : SplitDays(d, adjusted ? 0 : 20130304, 50))
                        if (std::find(gap.missed.begin(), gap.missed.end(), b.date) == gap.missed.end()) aaa.push_back(b);
                    if (adjusted)
                        for (DayBar &b : aaa) b = DayBar{b.date, 50, 50, 50, 50, 2000, 1};
                    LoadStore(d, {{"AAA", aaa}});
                    const TradeRecord *trades =
                        TradesOfRun(1, std::string(run.run) + "Strategy: S\n" + (run.weekly ? "  BarSize: Weekly\n" : "") +
                                           "  EntrySetup: BarDate = " + (run.weekly ? "20130222" : "20130225") +
                                           "\n  Quantity: " + (adjusted ? "200" : "100") + "\n  QtyType: Shares\n" + order +
                                           "  ExitRule: BarDate = " + std::to_string(gap.exit) + "\n  ExitTime: ThisClose\n");
                    ASSERT_NE(nullptr, trades);
                    EXPECT_EQ(EXIT_RULE, trades[0].reason);
                    EXPECT_EQ(gap.exit, trades[0].dateOut);
                    EXPECT_DOUBLE_EQ(200, trades[0].quantityOut);
                    EXPECT_DOUBLE_EQ(50, trades[0].priceOut);
                }
            }
        }
    }
}

} // namespace

namespace {

struct SplitOrdersTest : OrdersTest {
    void SetUp() override
    {
        OrdersTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
    }
};

/* The trailing stop above, listed for 8 March by a run that ends on the 7th:
** the 46 of the 200 shares held, not the 92 of the 100 bought. */
TEST_F(SplitOrdersTest, ATrailingStopListedAfterASplitAndMissingDaysCrossedItOnce)
{
    const std::vector<int32_t> d = Weekdays(20130102, 20130329);
    std::vector<DayBar> aaa;
    for (const DayBar &b : SplitDays(d, 20130304, 50))
        if (b.date != 20130305 && b.date != 20130306) aaa.push_back(b);
    LoadStore(d, {{"AAA", aaa}});
    ASSERT_EQ(0, Run("Settings:\n  OrdersMode: Text\n  EndDate: 2013-03-07\nStrategy: S\n  EntrySetup: BarDate = 20130225\n"
                     "  Quantity: 100\n  QtyType: Shares\n  ExitStop: MAX(PrevExitStop, C * 0.92)\n",
                     5))
        << LastMessage();
    const std::string list = OrdersFile("main_20130308_orders.txt");
    EXPECT_NE(std::string::npos, list.find("sell 200 AAA 46.00 stop")) << list;
}

std::string OrdersOn(OrdersTest &t, const std::vector<int32_t> &d, const std::vector<std::pair<std::string, Series>> &symbols,
                     const std::string &script, int32_t last, int32_t day);

/* A weekly long of 100 AAA, flat at 100, bought at the open of Monday 5
** February 2024 has a target of C * 1.05 for IF(BarsHeld < 2, 50, 100)
** shares.  The week of 5 February held one bar when it closed, so its list
** orders 50 at 105; inside the next week the orders of that bar stand, and
** the list written on Wednesday 14 February orders those same 50, which the
** test on the data that end on Thursday, whose high is 106, sells there at
** 105, the other 50 leaving at its end.  So in a daily and in a weekly run. */
TEST_F(SplitOrdersTest, APartialTargetListedInsideAPeriodIsTheQuantityItsLastBarSet)
{
    const std::vector<int32_t> d = Weekdays(20240101, 20240329);
    const std::string strategy = "Strategy: W\n  BarSize: Weekly\n  EntrySetup: BarDate = 20240202\n  Quantity: 100\n"
                                 "  QtyType: Shares\n  ExitLimit: C * 1.05\n  ExitLimitQty: IF(BarsHeld < 2, 50, 100)\n";
    for (const char *run : {"", "  BarSize: Weekly\n"}) {
        SCOPED_TRACE(run);
        const std::string script = std::string("Settings:\n  OrdersMode: Text\n") + run + strategy;
        const std::vector<std::pair<std::string, Series>> aaa = {{"AAA", {SplitDays(d, 0, 100, {{20240215, 100, 106, 100, 100}}), {}}}};
        for (const auto &[last, day] : {std::pair{20240209, 20240212}, std::pair{20240214, 20240215}}) {
            const std::string list = OrdersOn(*this, d, aaa, script, last, day);
            EXPECT_NE(std::string::npos, list.find("sell 50 AAA 105.00 limit")) << last << "\n" << list;
        }
        std::vector<int32_t> cut;
        for (int32_t x : d)
            if (x <= 20240215) cut.push_back(x);
        LoadStore(cut, {{"AAA", SplitDays(cut, 0, 100, {{20240215, 100, 106, 100, 100}})}});
        const TradeRecord *trades = TradesOfRun(2, std::string("Settings:\n") + run + strategy);
        ASSERT_NE(nullptr, trades);
        EXPECT_EQ(EXIT_LIMIT, trades[0].reason);
        EXPECT_EQ(20240215, trades[0].dateOut);
        EXPECT_DOUBLE_EQ(105, trades[0].priceOut);
        EXPECT_DOUBLE_EQ(50, trades[0].quantityOut);
        EXPECT_EQ(EXIT_END_OF_TEST, trades[1].reason);
        EXPECT_DOUBLE_EQ(50, trades[1].quantityOut);
    }
}

} // namespace

namespace {

/* One line of an order list: an entry (buy, short, or a DynamicSizing
** strategy's sell) or an exit (sell, cover) of a strategy's section, its
** quantity and symbol, its kind (m market, l limit, s stop, sl stop and
** limit), its price (the limit's or the stop's) and whether it is for a
** close. */
struct ListedOrder {
    std::string strategy, symbol, kind;
    int side; /* of the position it opens or closes */
    bool entry, close;
    double quantity, price;
};

/* The order lines of a list, child orders and skipped setups left out (a
** child exit belongs to the entry it follows, whose position the next day's
** test holds from that day on). */
std::vector<ListedOrder> ListedOrders(const std::string &text)
{
    std::vector<ListedOrder> orders;
    std::string strategy;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty()) continue;
        if (line[0] != ' ') {
            for (const char *head : {" entry orders", " exit orders", " dynamic sizing orders", " roll orders"})
                if (line.find(head) != std::string::npos) strategy = line.substr(0, line.find(head));
            continue;
        }
        std::vector<std::string> words;
        for (size_t w = 0; w < line.size();) {
            while (w < line.size() && line[w] == ' ') w++;
            const size_t e = std::min(line.find(' ', w), line.size());
            if (e > w) words.push_back(line.substr(w, e - w));
            w = e;
        }
        if (words.size() < 4 || words[0] == "child:" || words[0] == "SKIP" || words[0][0] == '(') continue;
        ListedOrder o{strategy, "", "m", 0, false, false, atof(words[1].c_str()), 0};
        /* An entry gives its weight and amount before the symbol. */
        o.entry = words[2].front() == '(' && words[2].back() == ')';
        size_t k = 2;
        if (o.entry)
            while (k < words.size() && words[k++].back() != ']') {
            }
        if (k + 1 > words.size()) continue;
        o.symbol = words[k++];
        o.side = o.entry ? (words[0] == "buy" ? 1 : -1) : (words[0] == "sell" ? 1 : -1);
        if (k + 1 < words.size() && words[k] != "market") {
            o.price = atof(words[k].c_str());
            o.kind = words[k + 1] == "stop" ? "s" : "l";
            if (o.kind == "s" && k + 3 < words.size() && words[k + 3] == "limit") o.kind = "sl";
        }
        o.close = line.find(" on close") != std::string::npos || line.find(" market after ") != std::string::npos;
        orders.push_back(o);
    }
    return orders;
}

/* A symbol's split factor on a day (its last one on or before the day). */
double FactorOn(const std::vector<std::pair<std::string, Series>> &symbols, const std::string &symbol, int32_t day)
{
    for (const auto &s : symbols) {
        if (s.first != symbol) continue;
        double factor = 0;
        for (const DayBar &b : s.second.bars)
            if (b.date <= day) factor = b.split;
        return factor;
    }
    return 0;
}

} // namespace

namespace {

/* Data items of every bar size, each named for it, that the drawn strategies
** read, with their formulas. */
const struct {
    const char *name, *formula;
} kDataItems[] = {
    {"DailyMA", "MA(C, 4)"},       {"DailyLo", "Lowest(L, 3)"}, {"DailyHi", "Highest(H, 3)"}, {"WeeklyMA", "MA(C, 3)"},
    {"WeeklyLo", "Lowest(L, 2)"},  {"WeeklyHi", "Highest(H, 2)"}, {"MonthlyC", "C"},         {"QuarterlyC", "C"},
    {"YearlyHi", "H"},
};

std::string DataSection()
{
    std::string text = "Data:\n";
    for (const auto &item : kDataItems) text += std::string("  ") + item.name + ": " + item.formula + "\n";
    return text;
}

/* FFF, which splits on a Monday and misses the Friday of every third week
** and the last day of January, April, July and October: a symbol held on a
** period's last day without a bar of it. */
const std::vector<std::pair<int32_t, double>> kSplitsFFF = {{20220110, 2}, {20221003, 3}};

std::vector<int32_t> DaysOfFFF(const std::vector<int32_t> &d)
{
    std::vector<int32_t> days;
    for (size_t k = 0; k < d.size(); k++) {
        const bool monthEnd = k + 1 == d.size() || d[k + 1] / 100 != d[k] / 100;
        const int month = d[k] / 100 % 100;
        if ((k % 5 == 4 && k / 5 % 3 == 1) || (monthEnd && month % 3 == 1)) continue;
        days.push_back(d[k]);
    }
    return days;
}

/* The orders run of the script on the symbols' days up to last: the list it
** wrote for the next day (day). */
std::string OrdersOn(OrdersTest &t, const std::vector<int32_t> &d, const std::vector<std::pair<std::string, Series>> &symbols,
                     const std::string &script, int32_t last, int32_t day)
{
    std::vector<int32_t> days;
    for (int32_t x : d)
        if (x <= last) days.push_back(x);
    std::vector<std::pair<std::string, std::vector<DayBar>>> bars;
    for (const auto &symbol : symbols) {
        bars.push_back({symbol.first, {}});
        for (const DayBar &b : symbol.second.bars)
            if (b.date <= last) bars.back().second.push_back(b);
    }
    t.LoadStore(days, bars);
    for (const auto &symbol : symbols) SetEvents(symbol.first, symbol.second.dividends);
    EXPECT_EQ(0, t.Run(script, 5)) << LastMessage();
    char file[64];
    snprintf(file, sizeof file, "main_%d_orders.txt", (int)day);
    return t.OrdersFile(file);
}

/* What each strategy of a compiled script does when (read after its run). */
struct StrategyTimes {
    int barSize, entryTime, exitTime, limitTime, stopTime;
    bool dynamic;
};

std::vector<StrategyTimes> TimesOfStrategies()
{
    std::vector<StrategyTimes> times;
    for (int32_t s = 0; s < gStrategyCount; s++) {
        const StrategyRecord &r = gStrategies[s];
        times.push_back({r.BarSize, r.EntryTime, r.ExitTime, r.ExitLimitTime, r.ExitStopTime, r.DynamicSizing == 1});
    }
    return times;
}

/* The list written on data to x holds what the next day's test (next, on
** data to day) did on day, and that test did what the list orders at the
** open: each entry, with its side, and where the list can know it its
** quantity (at the open; a DynamicSizing strategy's at either time); each
** exit of a position held before the day, by the order it filled (a rule,
** a reduction or a target or stop the last close reached, at the market;
** a target or stop at its price, but where the open went through it) and
** its quantity.  Prices and quantities of the day in x's split terms.
** Orders a list of the day before does not hold: entries at this close,
** exits by rules or orders at this close, and a longer bar's entries and
** rule exits inside its period (standing orders of an earlier list). */
void ExpectOrdersOfTheNextDay(const std::string &list, const RunTrades &next, const std::vector<StrategyTimes> &times,
                              const std::vector<std::pair<std::string, Series>> &symbols, int32_t x, int32_t day,
                              std::map<std::string, int> &seen)
{
    const std::vector<ListedOrder> orders = ListedOrders(list);
    auto open = [&](const std::string &symbol) {
        for (const auto &s : symbols)
            if (s.first == symbol)
                for (const DayBar &b : s.second.bars)
                    if (b.date == day) return b.open;
        return 0.0;
    };
    struct Done {
        double quantity = 0;
        bool atOpen = false, quantityKnown = false;
    };
    std::map<std::string, Done> entered, exited; /* "strategy side symbol", exits " kind" after it */
    std::map<std::string, double> exitPrices;
    for (const TradeRecord &t : next.trades) {
        const std::string name = next.strategies[t.strategy];
        if (name == "Combined" || t.strategy >= (int32_t)times.size()) continue;
        const StrategyTimes &r = times[t.strategy];
        const bool periodEnd = r.barSize == BAR_DAILY || PeriodOf(x, r.barSize) != PeriodOf(day, r.barSize);
        const std::string key = name + " " + (t.side > 0 ? "L" : "S") + " " + t.symbol;
        /* Quantities of the day in x's terms. */
        const double toX = FactorOn(symbols, t.symbol, day) / FactorOn(symbols, t.symbol, x);
        if (t.dateIn == day && periodEnd && !(t.timeIn == PHASE_CLOSE && r.entryTime == TIME_THIS_CLOSE)) {
            Done &e = entered[key];
            e.quantity += t.quantityIn * toX;
            e.atOpen = t.timeIn == PHASE_OPEN;
            e.quantityKnown = t.timeIn == PHASE_OPEN || r.dynamic;
        }
        if (t.dateOut != day || t.dateIn >= day) continue;
        const char *kind = nullptr;
        if ((t.reason == EXIT_RULE && periodEnd && r.exitTime != TIME_THIS_CLOSE &&
             !(r.exitTime == TIME_NEXT_CLOSE && r.barSize != BAR_DAILY)) ||
            ((t.reason == EXIT_REDUCE || t.reason == EXIT_ZERO_POSITION) &&
             !(t.timeOut == PHASE_CLOSE && r.entryTime == TIME_THIS_CLOSE)))
            kind = "m";
        else if (t.reason == EXIT_LIMIT && r.limitTime != TIME_THIS_CLOSE)
            kind = r.limitTime == TIME_NEXT_OPEN ? "m" : "l";
        else if (t.reason == EXIT_STOP && r.stopTime != TIME_THIS_CLOSE)
            kind = r.stopTime == TIME_NEXT_OPEN ? "m" : "s";
        if (!kind) continue;
        Done &e = exited[key + " " + kind];
        e.quantity += t.quantityOut * toX;
        e.atOpen = t.timeOut == PHASE_OPEN;
        e.quantityKnown = true;
        if (kind[0] != 'm' && t.priceOut != open(t.symbol)) exitPrices[key + " " + kind] = t.priceOut / toX;
    }
    std::map<std::string, double> listedEntries, listedExits;
    std::set<std::string> capped; /* strategies whose list says only the first entries fill */
    for (const ListedOrder &o : orders) {
        const std::string key = o.strategy + " " + (o.side > 0 ? "L" : "S") + " " + o.symbol;
        if (o.entry)
            listedEntries[key] += o.quantity;
        else
            listedExits[key + " " + o.kind] += o.quantity; /* a position's lots, each with its orders */
        if (!o.entry && o.kind != "m") listedExits[key + " p" + o.kind] = o.price;
    }
    for (size_t at = list.find(" entry orders -- only the first "); at != std::string::npos;
         at = list.find(" entry orders -- only the first ", at + 1))
        capped.insert(list.substr(list.rfind('\n', at) + 1, at - list.rfind('\n', at) - 1));
    int failures = 0;
    auto fail = [&](const std::string &what) {
        if (++failures <= 4) ADD_FAILURE() << what << " for " << day << "\n" << list;
    };
    auto shares = [](double a, double b) { return std::fabs(a - b) <= 0.0011 * std::fmax(1.0, std::fabs(b) * 1e-9); };
    for (const auto &[key, e] : entered) {
        seen["entry"]++;
        if (!listedEntries.count(key)) {
            fail("entry " + key + " not ordered");
        } else if (e.quantityKnown && !shares(listedEntries[key], e.quantity)) {
            fail("entry " + key + ": " + std::to_string(listedEntries[key]) + " ordered, " + std::to_string(e.quantity) + " tested");
        }
    }
    for (const auto &[key, e] : exited) {
        seen["exit " + key.substr(key.size() - 1)]++;
        const std::string position = key.substr(0, key.size() - 2);
        /* A target or stop the last close reached is a market order. */
        const bool ordered = listedExits.count(key) || listedExits.count(position + " m");
        if (!ordered) {
            fail("exit " + key + " not ordered");
            continue;
        }
        const double quantity = listedExits.count(key) ? listedExits[key] : listedExits[position + " m"];
        if (!shares(quantity, e.quantity))
            fail("exit " + key + ": " + std::to_string(quantity) + " ordered, " + std::to_string(e.quantity) + " tested");
        if (exitPrices.count(key) && listedExits.count(position + " p" + key.back())) {
            const double listed = listedExits[position + " p" + key.back()], tested = exitPrices[key];
            if (std::fabs(listed - tested) > 0.0051 + 1e-9 * tested)
                fail("exit " + key + " at " + std::to_string(listed) + " ordered, " + std::to_string(tested) + " tested");
        }
    }
    for (const ListedOrder &o : orders) {
        if (o.kind != "m" || o.close) continue;
        const std::string key = o.strategy + " " + (o.side > 0 ? "L" : "S") + " " + o.symbol;
        if (o.entry && !capped.count(o.strategy) && !entered.count(key)) fail("entry " + key + " ordered, not tested");
        if (!o.entry) {
            bool done = false;
            for (const char *kind : {" m", " l", " s"}) done = done || exited.count(key + kind);
            if (!done) fail("exit " + key + " ordered, not tested");
        }
    }
}

/* Two lists order the same (the orders kept, all when no test is given):
** the same lines, a price of the first the second's times `factor` (of
** each symbol), and (when asked) a quantity the second's divided by it. */
void ExpectSameOrders(const std::string &first, const std::string &second, const std::function<double(const std::string &)> &factor,
                      const std::function<bool(const ListedOrder &)> &kept = nullptr, bool quantities = true)
{
    /* "strategy entry|exit side symbol kind [close]": the symbol, and the
    ** lines' prices and quantities. */
    using Lines = std::map<std::string, std::pair<std::string, std::vector<std::pair<double, double>>>>;
    auto lines = [&kept](const std::string &text) {
        Lines out;
        for (const ListedOrder &o : ListedOrders(text)) {
            if (kept && !kept(o)) continue;
            auto &line = out[o.strategy + (o.entry ? " entry " : " exit ") + (o.side > 0 ? "L " : "S ") + o.symbol + " " + o.kind +
                             (o.close ? " close" : "")];
            line.first = o.symbol;
            line.second.push_back({o.price, o.quantity});
        }
        for (auto &[key, line] : out) std::sort(line.second.begin(), line.second.end());
        return out;
    };
    const Lines a = lines(first), b = lines(second);
    int failures = 0;
    for (const auto &[key, line] : b)
        if (!a.count(key) && ++failures <= 3) ADD_FAILURE() << key << " only in the second list\n" << first << "\n" << second;
    for (const auto &[key, line] : a) {
        const auto other = b.find(key);
        if (other == b.end() || other->second.second.size() != line.second.size()) {
            if (++failures <= 3) ADD_FAILURE() << key << " not alike in the second list\n" << first << "\n" << second;
            continue;
        }
        const double f = factor(line.first);
        for (size_t k = 0; k < line.second.size(); k++) {
            const auto [price, quantity] = line.second[k];
            const auto [price2, quantity2] = other->second.second[k];
            if ((std::fabs(price - price2 * f) > 1e-6 * std::fmax(1.0, price) ||
                 (quantities && std::fabs(quantity - quantity2 / f) > 0.0011 + 1e-9 * quantity)) &&
                ++failures <= 3)
                ADD_FAILURE() << key << ": " << quantity << " at " << price << ", against " << quantity2 << " at " << price2
                              << " times " << f << "\n" << first << "\n" << second;
        }
    }
}

/* Each strategy's own limits hold on every day: its positions after each
** day's open and after its close (the lots and parts of a symbol one
** position) at most its MaxPositions, and the entries of a period of its
** bar size at most its MaxEntries. */
void ExpectOwnLimits(const RunTrades &run, const std::vector<int32_t> &d, const std::map<std::string, std::pair<int, int>> &limits,
                     int barSize)
{
    int failures = 0;
    for (const auto &[name, limit] : limits) {
        const int32_t s = (int32_t)(std::find(run.strategies.begin(), run.strategies.end(), name) - run.strategies.begin());
        std::map<int64_t, std::set<std::tuple<std::string, int32_t, int32_t, double>>> periods;
        for (const TradeRecord &t : run.trades)
            if (t.strategy == s) periods[PeriodOf(t.dateIn, barSize)].insert({t.symbol, t.dateIn, t.timeIn, t.priceIn});
        for (const auto &[period, entries] : periods)
            if (limit.second && (int)entries.size() > limit.second && ++failures <= 5)
                ADD_FAILURE() << name << ": " << entries.size() << " entries in the period of " << std::get<1>(*entries.begin())
                              << ", of " << limit.second;
        if (!limit.first) continue;
        for (int32_t day : d) {
            std::set<std::string> afterOpen, afterClose;
            for (const TradeRecord &t : run.trades) {
                if (t.strategy != s) continue;
                if ((t.dateIn < day || (t.dateIn == day && t.timeIn == PHASE_OPEN)) &&
                    (t.dateOut > day || (t.dateOut == day && t.timeOut != PHASE_OPEN)))
                    afterOpen.insert(t.symbol);
                if (t.dateIn <= day && t.dateOut > day) afterClose.insert(t.symbol);
            }
            if (((int)afterOpen.size() > limit.first || (int)afterClose.size() > limit.first) && ++failures <= 5)
                ADD_FAILURE() << name << " on " << day << ": " << afterOpen.size() << " positions after the open, "
                              << afterClose.size() << " after the close, of " << limit.first;
        }
    }
}

/* A DynamicSizing strategy (named Dyn, of barSize) that sizes for the next
** open or close changes a holding only where the symbol's bar of the signal
** date, the last market day before the period it trades in, set it up: a
** symbol that did not trade in that date's period makes no setup there, and
** its holding waits for the next.  (A longer period in which the symbol
** missed the last days, its data going on, is still its bar of that date.) */
void ExpectResizedOnSignals(const RunTrades &run, const std::vector<int32_t> &d,
                            const std::vector<std::pair<std::string, Series>> &symbols, int barSize)
{
    int failures = 0;
    for (const TradeRecord &t : run.trades) {
        if (run.strategies[t.strategy] != "Dyn") continue;
        for (int32_t day : {t.dateIn, t.reason == EXIT_REDUCE || t.reason == EXIT_ZERO_POSITION ? t.dateOut : 0}) {
            if (!day) continue;
            size_t first = (size_t)(std::lower_bound(d.begin(), d.end(), day) - d.begin());
            while (first > 0 && PeriodOf(d[first - 1], barSize) == PeriodOf(day, barSize)) first--;
            if (first == 0) continue;
            const int32_t signal = d[first - 1];
            for (const auto &symbol : symbols) {
                if (symbol.first != t.symbol || symbol.second.bars.front().date > signal || symbol.second.bars.back().date < signal)
                    continue;
                const bool traded = std::any_of(symbol.second.bars.begin(), symbol.second.bars.end(), [&](const DayBar &b) {
                    return b.date == signal || (barSize != BAR_DAILY && PeriodOf(b.date, barSize) == PeriodOf(signal, barSize));
                });
                if (!traded && ++failures <= 3)
                    ADD_FAILURE() << "Dyn changed its " << t.symbol << " on " << day << " without a bar of " << signal;
            }
        }
    }
}

/* A DynamicSizing strategy of the bar size given, at the entry time given,
** long above its weekly average and short below its daily one, sharing the
** account's places (a Combined MaxPositions) with the strategies before. */
std::string DynamicSharer(const char *barSize, const char *entryTime, int places)
{
    return std::string("Strategy: Dyn\n  BarSize: ") + barSize + "\n" + entryTime +
        "  QtyType: Value\n  QtyRound: 0\n  PriceRound: 0\n  DynamicSizing: True\n"
        "  Quantity: IF(C > WeeklyMA, 12000, IF(C < DailyMA * 0.99, -6000, 0))\nCombined:\n  MaxPositions: " +
        std::to_string(places) + "\n";
}

/* Drawn strategies of every bar size, in a daily run and in a run of their
** own, read Data items of every bar size (their setups, and now and then
** their stops), hold their own MaxPositions and MaxEntries, and share the
** account's places with a DynamicSizing strategy entering at the next open,
** the next close or this close, on the symbols of the test above and FFF,
** which misses days at periods' ends:
** - the trades on prices with split factors are those on the prices
**   adjusted beforehand, and those closed before a day those of the data
**   cut on it; each strategy's positions and entries keep its own limits;
** - the strategies that read Data items, alone, trade in a daily run as in
**   a run of their bar size (but those entering at the next close); and the
**   items of the run's bar size read in a scan are their formulas bar by bar;
** - the DynamicSizing strategy resizes a holding only on its symbol's bar
**   of the signal date;
** - on drawn days x (a split's day and the day before, a day a symbol missed,
**   a symbol's last day, a period's last day and a day inside one) the list
**   written on the data cut at x is what the test on the data cut at the
**   next day does on it, and the list on the prices adjusted beforehand, in
**   x's terms; inside a period the stops and targets listed (trailing ones
**   among them, a step a bar) are those of the list of the period's last day
**   before; and the list of a run on all the data whose EndDate is x is the
**   list of the data cut there, x inside a period or at its end, whichever
**   symbol lacks that day.  Each seed draws six days. */
TEST_F(SplitOrdersTest, GeneratedStrategiesOrderWhatTheNextDaysTestDoes)
{
    const char *seeds = getenv("KV_GENERATED_SEEDS");
    const int seedCount = seeds && atoi(seeds) > 0 ? atoi(seeds) : 3;
    const std::vector<int32_t> d = Weekdays(20210104, 20230630);
    auto universe = [&d](bool adjusted) {
        auto symbols = Universe(d, adjusted, 20220303);
        symbols.push_back({"FFF", Walk(DaysOfFFF(d), 23, kSplitsFFF, adjusted)});
        return symbols;
    };
    const auto stored = universe(false), adjusted = universe(true);
    const std::vector<int32_t> dddDays = DaysOfDDD(d), fffDays = DaysOfFFF(d);
    std::vector<int32_t> pool = {20210914, 20210915, 20211117, 20211118, 20220301, 20220302, 20220629, 20220630,
                                 20221108, 20221109, 20220107, 20220110, 20220930, 20221003, 20220303, 20230215,
                                 20211231, 20210730, 20220520, 20220525, 20220201, 20220202};
    /* FFF's missed period ends. */
    for (size_t k = 0; k + 1 < d.size() && pool.size() < 26; k++)
        if (d[k] > 20220101 && !std::binary_search(fffDays.begin(), fffDays.end(), d[k])) pool.push_back(d[k]);
    std::map<std::string, int> seen;
    const char *const barSizes[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
    const char *const entryTimes[] = {"", "  EntryTime: NextClose\n", "  EntryTime: ThisClose\n"};
    for (int seed = 1; seed <= seedCount; seed++) {
        std::vector<int32_t> xs;
        for (int k = 0; k < 6; k++) xs.push_back(pool[(6 * (seed - 1) + k) % pool.size()]);
        for (int size = BAR_DAILY; size <= BAR_YEARLY; size++) {
            const char *barSize = barSizes[size];
            RunTrades dailyTwin;
            for (bool ownRun : {false, true}) {
                if (ownRun && size == BAR_DAILY) continue;
                StrategyGenerator generator{(uint32_t)seed * 104729u + (uint32_t)size * 31u};
                std::string strategies = DataSection(), twin = DataSection();
                std::map<std::string, std::pair<int, int>> limits;
                std::vector<std::string> twins;
                for (int k = 1; k <= 7; k++) {
                    std::string text = k <= 2 ? generator.Next(k) : k == 3 ? generator.Trailing(k) : generator.Reading(k);
                    int positions = 0, entries = 0;
                    text += generator.Limits(&positions, &entries);
                    const std::string name = text.substr(10, text.find('\n') - 10);
                    limits[name] = {positions, entries};
                    strategies += text;
                    if (k > 3 && !generator.nextCloseEntry.back()) twin += text, twins.push_back(name);
                }
                const char *dynSize = ownRun || size != BAR_DAILY ? barSize : "Weekly";
                const int dynEntry = generator.Pick(3);
                const std::string sharer = DynamicSharer(dynSize, entryTimes[dynEntry], 4 + generator.Pick(5));
                const std::string script = ScriptOf(strategies, barSize, ownRun).insert(strlen("Settings:\n"), "  OrdersMode: Text\n") + sharer;
                SCOPED_TRACE(std::to_string(seed) + " " + barSize + (ownRun ? " run" : " strategies in a daily run") + "\n" + script);
                const RunTrades full = TradesOn(*this, d, stored, script);
                ASSERT_EQ(9u, full.strategies.size());
                ExpectAlike(full, TradesOn(*this, d, adjusted, script));
                ExpectOwnLimits(full, d, limits, size);
                if (dynEntry != 2) ExpectResizedOnSignals(full, d, stored, size == BAR_DAILY ? BAR_WEEKLY : size);
                if (!twins.empty()) {
                    SCOPED_TRACE("the strategies reading Data items alone");
                    const RunTrades alone = TradesOn(*this, d, stored, ScriptOf(twin, barSize, ownRun));
                    if (!ownRun) {
                        dailyTwin = alone;
                    } else {
                        ExpectSameTrades(alone, ClosedBefore(dailyTwin, INT32_MAX, twins), ClosedBefore(alone, INT32_MAX, twins));
                        ExpectSameAccount(alone, dailyTwin, twins);
                    }
                }
                if (ownRun || size == BAR_DAILY) {
                    SCOPED_TRACE("the items of the run's bar size in a scan");
                    std::string scan = std::string(ownRun ? "Settings:\n  BarSize: " + std::string(barSize) + "\n" : "") + DataSection() + "Scan:\n";
                    int columns = 0;
                    for (const auto &item : kDataItems)
                        if (strncmp(item.name, barSize, strlen(barSize)) == 0) {
                            scan += "  R" + std::to_string(columns) + ": " + item.name + "\n  F" + std::to_string(columns) + ": " + item.formula + "\n";
                            columns++;
                        }
                    std::vector<std::pair<std::string, std::vector<DayBar>>> bars;
                    for (const auto &symbol : stored) bars.push_back({symbol.first, symbol.second.bars});
                    LoadStore(d, bars);
                    const auto rows = ScanNumbers(*this, scan);
                    ASSERT_GT(rows.size(), 10u);
                    int compared = 0, failures = 0;
                    for (const auto &row : rows)
                        for (int c = 0; c + 1 < (int)row.size(); c += 2) {
                            if (std::isnan(row[c + 1])) continue;
                            compared++;
                            if (!(std::fabs(row[c] - row[c + 1]) <= 1e-9 * std::fmax(1.0, std::fabs(row[c + 1]))) && ++failures <= 5)
                                ADD_FAILURE() << "item " << c / 2 << ": " << row[c] << ", its formula " << row[c + 1];
                        }
                    EXPECT_GT(compared, 10);
                }
                for (int32_t x : xs) {
                    const int32_t day = *std::upper_bound(d.begin(), d.end(), x);
                    SCOPED_TRACE("orders of " + std::to_string(x) + " for " + std::to_string(day));
                    const std::string list = OrdersOn(*this, d, stored, script, x, day);
                    const RunTrades next = TradesOn(*this, d, stored, script, day);
                    /* Data cut on a day a symbol missed end it there, and its
                    ** positions leave by their end of data, which the next
                    ** day's test, where it trades on, does not know; on a
                    ** symbol's last day the list cannot know that its data
                    ** end, which the next day's test does. */
                    auto trades = [](const std::vector<int32_t> &days, int32_t date) {
                        return date > days.back() || std::binary_search(days.begin(), days.end(), date);
                    };
                    if (trades(dddDays, x) && trades(fffDays, x) && x != dddDays.back() && x != 20220303)
                        ExpectOrdersOfTheNextDay(list, next, TimesOfStrategies(), stored, x, day, seen);
                    {
                        SCOPED_TRACE("on the prices adjusted beforehand");
                        ExpectSameOrders(list, OrdersOn(*this, d, adjusted, script, x, day),
                                         [&](const std::string &symbol) { return FactorOn(stored, symbol, x); });
                    }
                    /* Inside a period the stops and targets its last bar set
                    ** stand, for the positions held since, at their prices and
                    ** for their quantities in the day's terms. */
                    const size_t at = (size_t)(std::lower_bound(d.begin(), d.end(), x) - d.begin());
                    size_t before = at;
                    while (before > 0 && PeriodOf(d[before], size) == PeriodOf(x, size)) before--;
                    if (size != BAR_DAILY && before < at && PeriodOf(day, size) == PeriodOf(x, size)) {
                        const int32_t last = d[before];
                        SCOPED_TRACE("against the list of the period's last day before, " + std::to_string(last));
                        /* (A symbol without a bar on either day ended there.) */
                        auto steady = [&](const ListedOrder &o) {
                            if (o.entry || o.kind == "m" || o.strategy == "Dyn") return false;
                            for (const auto &symbol : stored)
                                if (symbol.first == o.symbol && !(FactorOn(stored, o.symbol, x) > 0 &&
                                                                  std::count_if(symbol.second.bars.begin(), symbol.second.bars.end(),
                                                                                [&](const DayBar &b) { return b.date == x || b.date == last; }) == 2))
                                    return false;
                            bool held = false;
                            for (const TradeRecord &t : next.trades) {
                                if (next.strategies[t.strategy] != o.strategy || o.symbol != t.symbol || t.side != o.side) continue;
                                if (t.dateIn > last || (t.dateOut > last && t.dateOut <= x)) return false;
                                held |= t.dateOut > x;
                            }
                            return held;
                        };
                        ExpectSameOrders(list, OrdersOn(*this, d, stored, script, last, d[before + 1]),
                                         [&](const std::string &symbol) { return FactorOn(stored, symbol, x) / FactorOn(stored, symbol, last); },
                                         steady, true);
                        seen["inside a period"]++;
                    }
                    if (trades(dddDays, day) && trades(fffDays, day))
                        ExpectSameTrades(full, ClosedBefore(full, day), ClosedBefore(next, day));
                    SCOPED_TRACE("the same day as the EndDate of all the data");
                    char end[40];
                    snprintf(end, sizeof end, "  EndDate: %04d-%02d-%02d\n", x / 10000, x / 100 % 100, x % 100);
                    EXPECT_EQ(OrdersOn(*this, d, stored, script, x, day),
                              OrdersOn(*this, d, stored, std::string(script).insert(script.find('\n') + 1, end), d.back(), day));
                    seen["EndDate"]++;
                    if (PeriodOf(x, BAR_WEEKLY) == PeriodOf(day, BAR_WEEKLY)) seen["EndDate inside a week"]++;
                }
            }
        }
    }
    for (const char *what : {"entry", "exit m", "exit l", "exit s", "EndDate", "EndDate inside a week", "inside a period"}) EXPECT_GT(seen[what], 0) << what;
}

} // namespace
