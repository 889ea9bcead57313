/* The orders written with the data up to a day against the entries and
** exits of a test with one more day, for strategies of every bar size. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "engine/fills.h"
#include "engine_fixture.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "platform/platform.h"
#include "script/builtins/builtins.h"
#include "shell/command_line.h"
#include "shell/headless/headless.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

/* Six symbols over the weekdays of the first half of 2024, each a wave of
** its own length and phase with a drift, so that setups, rule exits, stops
** and targets come and go on different days. */
std::vector<std::pair<std::string, std::vector<DayBar>>> Waves(const std::vector<int32_t> &days)
{
    std::vector<std::pair<std::string, std::vector<DayBar>>> symbols;
    const char *names[] = {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"};
    for (int i = 0; i < 6; i++) {
        std::vector<DayBar> bars;
        double previous = 50;
        for (size_t k = 0; k < days.size(); k++) {
            double close = 50 + 8 * std::sin(6.2831853 * (double)k / (9 + 6 * i) + i) + 0.04 * (double)k * (i % 2 ? 1 : -1);
            double open = previous + 0.6 * std::sin(1.3 * (double)k + i);
            double high = std::fmax(open, close) + 0.4 + 0.5 * std::fabs(std::sin((double)k + i));
            double low = std::fmin(open, close) - 0.4 - 0.5 * std::fabs(std::cos(0.7 * (double)k + i));
            auto cents = [](double v) { return std::round(v * 100) / 100; };
            bars.push_back(DayBar{days[k], cents(open), cents(high), cents(low), cents(close)});
            previous = close;
        }
        symbols.push_back({names[i], bars});
    }
    return symbols;
}

/* One strategy per bar size and entry form, targets and stops set off the
** fill (FillPrice) of each longer bar size, a weekly stop for half the
** shares, whose rest waits for the next week, and a trailing stop and target
** (PrevExitStop, PrevExitLimit) of each longer bar size on every symbol from
** the last close of 2023 (of its first quarter, for the quarterly one, which
** enters after a quarter of data), too far away to be reached; weekly to
** quarterly strategies that enter or leave by their rules at a period's
** close (ThisClose), which a day inside the period, however the data end
** there, does not close; every one holds few shares, so that no limit of the
** account decides. */
const char kScript[] =
    "Settings:\n  OrdersMode: Text\n"
    "Strategy: DayMkt\n  EntrySetup: C > MA(C, 5)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitRule: C < MA(C, 8)\n  ExitTime: NextOpen\n"
    "Strategy: DayLmtShort\n  Side: Short\n  EntrySetup: C < MA(C, 4)\n  EntryLimit: C * 1.004\n"
    "  Quantity: 10\n  QtyType: Shares\n  ExitLimit: C * 0.97\n  ExitStop: C * 1.02\n"
    "Strategy: WeekMkt\n  BarSize: Weekly\n  EntrySetup: C > MA(C, 3)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitRule: C > O\n  ExitTime: NextOpen\n  ExitStop: C * 0.96\n"
    "Strategy: WeekStop\n  BarSize: Weekly\n  EntrySetup: C > MA(C, 2)\n  EntryStop: C * 1.01\n"
    "  Quantity: 10\n  QtyType: Shares\n  ExitRule: C < MA(C, 2)\n  ExitTime: NextOpen\n"
    "Strategy: MonthShort\n  BarSize: Monthly\n  Side: Short\n  EntrySetup: C < MA(C, 2)\n"
    "  Quantity: 10\n  QtyType: Shares\n  ExitRule: C > MA(C, 2)\n  ExitTime: NextOpen\n  ExitStop: C * 1.06\n"
    "Strategy: QtrLong\n  BarSize: Quarterly\n  EntrySetup: C > 0\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitLimit: C * 1.08\n  ExitStop: C * 0.92\n"
    "Strategy: WeekHold\n  BarSize: Weekly\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitStop: C * 0.8\n"
    "Strategy: DayFill\n  EntrySetup: C > MA(C, 3)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitLimit: FillPrice * 1.03\n  ExitStop: FillPrice * 0.97\n"
    "Strategy: WeekFill\n  BarSize: Weekly\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitLimit: FillPrice * 1.06\n  ExitStop: FillPrice * 0.94\n"
    "Strategy: MonthFill\n  BarSize: Monthly\n  Side: Short\n  EntrySetup: C < MA(C, 2)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitLimit: FillPrice * 0.9\n  ExitStop: FillPrice * 1.08\n"
    "Strategy: WeekHalf\n  BarSize: Weekly\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitStop: C * 0.97\n  ExitStopQty: Shares / 2\n  ExitRule: C < MA(C, 3)\n  ExitTime: NextOpen\n"
    "Strategy: TrailWeek\n  BarSize: Weekly\n  EntrySetup: BarDate = 20231229\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitStop: MAX(PrevExitStop, C * 0.5)\n  ExitLimit: IF(PrevExitLimit > 0, MIN(PrevExitLimit, C * 2), C * 2)\n"
    "Strategy: TrailMonth\n  BarSize: Monthly\n  EntrySetup: BarDate = 20231229\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitStop: MAX(PrevExitStop, C * 0.5)\n  ExitLimit: IF(PrevExitLimit > 0, MIN(PrevExitLimit, C * 2), C * 2)\n"
    "Strategy: TrailQtr\n  BarSize: Quarterly\n  EntrySetup: BarDate = 20240329\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitStop: MAX(PrevExitStop, C * 0.5)\n  ExitLimit: IF(PrevExitLimit > 0, MIN(PrevExitLimit, C * 2), C * 2)\n"
    "Strategy: WeekTC\n  BarSize: Weekly\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitRule: C < O\n  ExitTime: ThisClose\n  ExitStop: C * 0.96\n"
    "Strategy: MonthTC\n  BarSize: Monthly\n  EntryTime: ThisClose\n  EntrySetup: C > O\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitRule: C < MA(C, 2)\n  ExitTime: ThisClose\n  ExitLimit: C * 1.08\n"
    "Strategy: QtrTC\n  BarSize: Quarterly\n  Side: Short\n  EntryTime: ThisClose\n  EntrySetup: C > 0\n  Quantity: 10\n"
    "  QtyType: Shares\n  ExitRule: C > O\n  ExitTime: ThisClose\n  ExitStop: C * 1.1\n";

/* A continuous futures series: March until the close of Mar 14, June from
** Mar 15, September from the start of Jun 12. */
const EventItem kContracts[] = {{20231115, 0, EVENT_CONTRACT, 0, 20240315}, {20231115, 0, EVENT_CONTRACT_SECOND, 0, 202403},
                                {20240314, 160000, EVENT_CONTRACT, 0, 20240621}, {20240314, 160000, EVENT_CONTRACT_SECOND, 0, 202406},
                                {20240612, 0, EVENT_CONTRACT, 0, 20240920}, {20240612, 0, EVENT_CONTRACT_SECOND, 0, 202409}};

struct OrderIdentityTest : OrdersTest {
    std::vector<int32_t> all;
    std::vector<std::pair<std::string, std::vector<DayBar>>> market; /* in the terms of the last day */
    std::map<std::string, std::map<int32_t, double>> splits;        /* symbol: day -> shares for one */
    bool futures = false; /* the data hold the series ESZ */
    void SetUp() override
    {
        OrdersTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
        all = Weekdays(20231101, 20240705);
        market = Waves(all);
    }
    /* The orders list written on data cut at cut, for the day after it
    ** (*day), its data then loaded whole again. */
    std::string OrdersOnDataTo(int32_t cut, const std::string &script, int32_t *day)
    {
        LoadUpTo(cut);
        EXPECT_EQ(0, Run(script, 5)) << LastMessage();
        size_t next = 0;
        while (all[next] <= cut) next++;
        *day = all[next];
        char file[64];
        snprintf(file, sizeof file, "main_%d_orders.txt", (int)*day);
        const std::string text = OrdersFile(file);
        LoadUpTo(all.back());
        return text;
    }
    /* The data up to and including day. */
    void LoadUpTo(int32_t day)
    {
        std::vector<int32_t> d;
        for (int32_t x : all)
            if (x <= day) d.push_back(x);
        std::vector<std::pair<std::string, std::vector<DayBar>>> cut;
        for (auto &s : market) {
            cut.push_back({s.first, {}});
            for (const DayBar &b : s.second)
                if (b.date <= day) cut.back().second.push_back(b);
        }
        /* The prices as they traded, before the splits after them, and the
        ** factors as a data file cut on day holds them: the splits up to day. */
        for (auto &[name, bars] : cut) {
            for (DayBar &b : bars) {
                double before = 1, known = 1;
                for (auto [date, ratio] : splits[name]) {
                    if (date > b.date) before *= ratio;
                    if (date > b.date && date <= day) known *= ratio;
                }
                b.open *= before, b.high *= before, b.low *= before, b.close *= before;
                b.split = known;
            }
        }
        if (futures) {
            std::vector<DayBar> es;
            for (size_t k = 0; k < d.size(); k++) {
                double c = 4000 + 60 * std::sin((double)k / 7);
                es.push_back(DayBar{d[k], c - 5, c + 10, c - 10, c});
            }
            cut.push_back({"ESZ", es});
        }
        LoadStore(d, cut);
        for (int32_t k = 0; futures && k < gStore.symbolCount; k++) {
            SymbolRecord *s = &gStore.symbols[k];
            if (strcmp(s->info.Symbol, "ESZ") != 0) continue;
            s->securityType = SECURITY_FUTURES;
            s->info.PointValue = 50;
            ASSERT_TRUE(AllocMemory(&s->events, sizeof kContracts));
            memcpy(s->events, kContracts, sizeof kContracts);
            s->eventCount = s->eventCapacity = (int32_t)(sizeof kContracts / sizeof kContracts[0]);
        }
    }
    /* The roll costs of every strategy's trades in a test. */
    std::map<std::string, double> RollCosts()
    {
        std::map<std::string, double> costs;
        const TestRecord *test = LastTest();
        for (int32_t t = 0; test && t < test->tradeCount; t++)
            costs[test->strategies[test->trades[t].strategy].name] += test->trades[t].rollCosts;
        return costs;
    }
};

/* "strategy side symbol kind" of every order line: kind m (market), l
** (limit), s (stop), sl (stop limit), c (an exit at the market for the close
** of a later day); entries and exits apart. */
struct Orders {
    std::set<std::string> entries, exits;
    std::map<std::string, double> prices;     /* of the limit and stop exits */
    std::map<std::string, double> quantities; /* of the entries */
    std::map<std::string, int> rolls;         /* roll lines per strategy */
    std::map<std::string, std::string> closeExits; /* "strategy side symbol" -> the day an exit at a later close waits for */
    std::string strayChildren;                /* child exits of another symbol than their entry's */
    std::string childless;                    /* market entries with no child exit after them */
};

Orders ParseOrders(const std::string &text)
{
    Orders out;
    std::istringstream in(text);
    std::string line, strategy, lastEntry, waiting;
    bool entries = false;
    while (std::getline(in, line)) {
        if (line.find("    child: ") != 0) out.childless += waiting;
        waiting = "";
        size_t at;
        if ((at = line.find(" entry orders")) != std::string::npos && line[0] != ' ') {
            strategy = line.substr(0, at);
            entries = true;
            continue;
        }
        if ((at = line.find(" exit orders")) != std::string::npos && line[0] != ' ') {
            strategy = line.substr(0, at);
            entries = false;
            continue;
        }
        if (line.rfind("    ", 0) != 0 || line.find('(') == 4) continue;
        std::istringstream words(line);
        std::string action, qty, symbol, word;
        words >> action >> qty;
        if (qty == "roll") {
            out.rolls[action]++;
            continue;
        }
        if (action == "child:") {
            /* A child exit belongs to the entry just listed. */
            words >> word >> symbol;
            if (symbol != lastEntry) out.strayChildren += line + "\n";
            const size_t after = line.find(" after ");
            if (line.find(" market ") != std::string::npos && after != std::string::npos)
                out.closeExits[strategy + " " + (qty == "sell" ? "L" : "S") + " " + symbol + " child"] = line.substr(after + 7, 8);
            continue;
        }
        if (action == "SKIP") continue;
        if (entries) {
            while (words >> word && word.back() != ']') {
            }
        }
        words >> symbol;
        if (entries) lastEntry = symbol;
        std::string kind = "m";
        bool stop = line.find(" stop ") != std::string::npos, limit = line.find(" limit ") != std::string::npos && line.find(" market ") == std::string::npos;
        if (stop && limit)
            kind = "sl";
        else if (stop)
            kind = "s";
        else if (limit)
            kind = "l";
        else if (!entries && line.find(" after ") != std::string::npos)
            kind = "c";
        std::string side = action == "buy" || action == "sell" ? "L" : "S";
        std::string key = strategy + " " + side + " " + symbol + " " + kind;
        (entries ? out.entries : out.exits).insert(key);
        if (!entries && kind == "c") out.closeExits[strategy + " " + side + " " + symbol] = line.substr(line.find(" after ") + 7, 8);
        if (entries) out.quantities[key] = atof(qty.c_str());
        if (entries && kind == "m") waiting = key + ";";
        if (!entries && (kind == "l" || kind == "s")) {
            words >> word;
            out.prices[key] = atof(word.c_str());
        }
    }
    return out;
}

/* The trailing stop and target of a Trail strategy of barSize, worked by
** hand as the orders on the data up to cut give them: half the highest and
** twice the lowest close of the strategy's bars from the signal's (on
** signal) through the last period that has ended by cut, in cut's split
** terms, each rounded once to the cent (a half cent up).  *splitBefore: a
** split lies in that last period while cut lies inside the next. */
std::pair<double, double> TrailingOrders(const OrderIdentityTest &t, const std::string &symbol, int barSize, int32_t signal,
                                         int32_t cut, bool *splitBefore)
{
    const std::vector<DayBar> *bars = nullptr;
    for (const auto &s : t.market)
        if (s.first == symbol) bars = &s.second;
    double after = 1; /* from the last day's terms into cut's */
    for (auto [date, ratio] : t.splits.at(symbol))
        if (date > cut) after *= ratio;
    double high = 0, low = 1e9;
    int32_t lastEnd = 0;
    for (size_t k = 0; k < t.all.size() && t.all[k] <= cut; k++) {
        bool ends = k + 1 == t.all.size() || PeriodOf(t.all[k + 1], barSize) != PeriodOf(t.all[k], barSize);
        if (!ends || t.all[k] < signal) continue;
        high = std::fmax(high, (*bars)[k].close * after);
        low = std::fmin(low, (*bars)[k].close * after);
        lastEnd = t.all[k];
    }
    *splitBefore = false;
    for (auto [date, ratio] : t.splits.at(symbol))
        *splitBefore |= lastEnd < cut && date <= lastEnd && PeriodOf(date, barSize) == PeriodOf(lastEnd, barSize);
    auto cents = [](double v) { return std::floor(v * 100 + 0.5 + 1e-6) / 100; };
    return {cents(high * 0.5), cents(low * 2)};
}

/* What one day's orders and the next day's test did. */
struct DayComparison {
    int32_t day;          /* the order date */
    std::string text;     /* the order list */
    std::string fullText; /* the order list of the run on all the data with the cut as its EndDate */
    std::string through;  /* limit and stop exits the next day's open was through, which the test did not take */
    std::string reached;  /* positions whose limit or stop exit the next day reached, which the test kept whole */
    Orders orders;
    std::string missing;  /* done by the test, not ordered */
    std::string extra;    /* market orders the test did not take */
    std::string quantity; /* market entries of another quantity than the test's */
    std::string rolls;    /* roll lines against the test's rolls */
};

/* The script with an EndDate of day. */
std::string EndingOn(const char *script, int32_t day)
{
    const std::string text = script;
    return "Settings:\n  EndDate: " + std::to_string(day) + "\n" + text.substr(text.find('\n') + 1);
}

/* Orders written with the data up to cut against the test with one more
** day, on data that end that day or (fullData) on all the data with that
** EndDate: entries, exits of positions held before it (a new entry's own
** bracket has no order yet), the entry quantities of the strategies whose
** quantity the orders can know, and (with futures) the rolls; prices in the
** cut's split terms.  Counts what the test did into seen.  The orders of a
** run on all the data with the cut as its EndDate are kept beside. */
DayComparison CompareWithNextDay(OrderIdentityTest &t, const char *script, int32_t cut, std::map<std::string, int> &seen,
                                 const std::set<std::string> &knownQuantity = {}, bool fullData = false)
{
    DayComparison out;
    t.LoadUpTo(cut);
    EXPECT_EQ(0, t.Run(script, 5)) << LastMessage();
    size_t next = 0;
    while (t.all[next] <= cut) next++;
    int32_t day = out.day = t.all[next];
    char file[64];
    snprintf(file, sizeof file, "main_%d_orders.txt", (int)day);
    out.text = t.OrdersFile(file);
    out.orders = ParseOrders(out.text);
    t.LoadUpTo(t.all.back());
    EXPECT_EQ(0, t.Run(EndingOn(script, cut), 5)) << LastMessage();
    out.fullText = t.OrdersFile(file);
    std::map<std::string, double> rolledBefore;
    if (t.futures) {
        EXPECT_EQ(0, t.Run(fullData ? EndingOn(script, cut) : script)) << LastMessage();
        rolledBefore = t.RollCosts();
    }

    if (!fullData) t.LoadUpTo(day);
    EXPECT_EQ(0, t.Run(fullData ? EndingOn(script, day) : script)) << LastMessage();
    const TestRecord *test = t.LastTest();
    if (!test) {
        ADD_FAILURE() << "no test";
        return out;
    }
    /* A price of the next day in the cut's split terms. */
    std::map<std::string, double> toCutTerms;
    for (int32_t k = 0; k < gStore.symbolCount; k++) {
        const SymbolRecord *symbol = &gStore.symbols[k];
        toCutTerms[symbol->info.Symbol] = symbol->bars[BAR_DAILY][next - 1].split / symbol->bars[BAR_DAILY][next].split;
    }
    std::set<std::string> entered, exited, left;
    const char *kinds[] = {"", "m", "l", "s"};
    for (int32_t k = 0; k < test->tradeCount; k++) {
        const TradeRecord *r = &test->trades[k];
        std::string name = test->strategies[r->strategy].name;
        std::string key = name + " " + (r->side > 0 ? "L" : "S") + " " + r->symbol;
        /* What a test does by its rules at a close no list of the evening
        ** before orders: a ThisClose entry or exit (the list says so), and a
        ** longer bar's exit for the next close, ordered with its period. */
        const StrategyRecord *strategy = &gStrategies[r->strategy];
        const bool closeEntry = r->timeIn == PHASE_CLOSE && strategy->EntryTime == TIME_THIS_CLOSE;
        const bool closeExit = r->timeOut == PHASE_CLOSE && r->reason == EXIT_RULE &&
            (strategy->ExitTime == TIME_THIS_CLOSE || (strategy->ExitTime == TIME_NEXT_CLOSE && strategy->BarSize != BAR_DAILY));
        if (r->dateIn == day && closeEntry) seen[name + " close entry"]++;
        if (r->dateOut == day && r->dateIn < day && closeExit) seen[name + " close exit"]++;
        if (r->dateIn == day && !closeEntry) {
            entered.insert(key);
            auto q = out.orders.quantities.find(key + " m");
            if (knownQuantity.count(name) && q != out.orders.quantities.end() && q->second != r->quantityIn) {
                char both[96];
                snprintf(both, sizeof both, " %g ordered, %g tested;", q->second, r->quantityIn);
                out.quantity += key + both;
            }
        }
        if (r->dateOut == day && r->dateIn < day) left.insert(key);
        if (r->dateOut == day && r->dateIn < day && r->reason >= 1 && r->reason <= 3 && !closeExit) {
            exited.insert(key + " " + kinds[r->reason]);
            /* A limit or stop fills at its price, or at an open beyond it;
            ** rounded in the terms of either day, a price differs by less
            ** than a cent once taken into the other's. */
            double open = gStore.symbols[r->symbolNumber - 1].bars[BAR_DAILY][next].open;
            if (r->reason > 1 && r->priceOut != open) {
                const double ratio = toCutTerms[r->symbol];
                EXPECT_NEAR(r->priceOut * ratio, out.orders.prices[key + " " + kinds[r->reason]], ratio == 1 ? 0.001 : 0.01)
                    << key << "\n" << out.text;
            }
        }
    }
    /* A limit or stop the next day opened through fills at that open; one its
    ** range reached fills (a day that reaches both and closes where it
    ** opened may take neither).  Prices of the next day in the cut's terms. */
    struct Listed {
        std::string key, strategy, side, symbol, kind, position;
        double price;
        double open, reach; /* how far the next day's range went past it */
        bool flat;          /* the next day closed where it opened */
    };
    std::vector<Listed> listed;
    std::map<std::string, int> reaching; /* the orders the next day reached, by position */
    for (auto &[key, price] : out.orders.prices) {
        Listed o{key, "", "", "", "", "", price, 0, 0, false};
        std::istringstream words(key);
        words >> o.strategy >> o.side >> o.symbol >> o.kind;
        const int32_t number = FindSymbolIndex(o.symbol.c_str());
        if (number <= 0) continue;
        const Bar &b = gStore.symbols[number - 1].bars[BAR_DAILY][next];
        const double r = toCutTerms[o.symbol];
        const bool up = (o.side == "L") == (o.kind == "l");
        o.open = up ? b.open * r - price : price - b.open * r;
        o.reach = up ? b.high * r - price : price - b.low * r;
        o.flat = b.open == b.close;
        o.position = o.strategy + " " + o.side + " " + o.symbol;
        if (o.reach > 0.011) reaching[o.position]++;
        listed.push_back(o);
    }
    for (const Listed &o : listed) {
        if (o.open > 0.005 && !exited.count(o.key)) out.through += o.key + ";";
        if (o.reach > 0.011 && !left.count(o.position) && !(reaching[o.position] == 2 && o.flat)) out.reached += o.key + ";";
        /* The orders of a longer bar size that a split of its symbol came before. */
        for (auto [date, ratio] : t.splits[o.symbol])
            if (date <= cut && o.strategy.compare(0, 3, "Day") != 0) seen["after split " + o.strategy]++;
    }
    /* Every entry and exit of the test was ordered, every market order was
    ** taken; a limit or stop may stay unfilled. */
    for (const std::string &e : entered) {
        bool ordered = false;
        for (const char *k : {" m", " l", " s", " sl"}) ordered = ordered || out.orders.entries.count(e + k);
        if (!ordered) out.missing += "entry " + e + ";";
    }
    for (const std::string &e : exited)
        if (!out.orders.exits.count(e)) out.missing += "exit " + e + ";";
    for (const std::string &o : out.orders.entries)
        if (o.substr(o.size() - 2) == " m" && !entered.count(o.substr(0, o.size() - 2))) out.extra += "entry " + o + ";";
    for (const std::string &o : out.orders.exits)
        if (o.substr(o.size() - 2) == " m" && !exited.count(o)) out.extra += "exit " + o + ";";
    if (t.futures) {
        for (auto &[name, cost] : t.RollCosts()) {
            int rolled = (int)std::lround(cost - rolledBefore[name]); /* every roll costs 1 */
            if (rolled != out.orders.rolls[name])
                out.rolls += name + " " + std::to_string(out.orders.rolls[name]) + " ordered, " + std::to_string(rolled) + " rolled;";
            seen[name + " roll"] += rolled;
        }
    }
    for (const std::string &e : entered) seen[e.substr(0, e.find(' '))] += 1;
    for (const std::string &e : exited) seen[e.substr(0, e.find(' ')) + " exit " + e.substr(e.rfind(' ') + 1)] += 1;
    for (const std::string &e : entered) seen[e.substr(0, e.find(' ')) + (e.find(" S ") != std::string::npos ? " short" : " long")] += 1;
    return out;
}

TEST_F(OrderIdentityTest, OrdersEqualTheNextDaysTest)
{
    /* Splits inside a week, at a month's start, inside a quarter and on a
    ** quarter's first day: lists on the day before each, on it and weeks
    ** after it hold the stops and targets of the periods before. */
    splits["BBB"] = {{20240206, 2}};
    splits["CCC"] = {{20240313, 3}, {20240603, 2}};
    splits["DDD"] = {{20240401, 2}};
    splits["EEE"] = {{20240515, 2}};
    splits["FFF"] = {{20240301, 2}};
    /* Fridays, month and quarter ends, and days inside every period. */
    const int32_t cuts[] = {20231229, 20240202, 20240205, 20240206, 20240213, 20240229, 20240301, 20240305, 20240308,
                            20240312, 20240313, 20240319, 20240328, 20240329, 20240405, 20240409, 20240430, 20240502,
                            20240514, 20240515, 20240521, 20240531, 20240604, 20240611, 20240614, 20240628, 20240702};
    std::string names[] = {"DayMkt", "DayLmtShort", "WeekMkt", "WeekStop", "MonthShort", "QtrLong", "WeekHold",
                           "DayFill", "WeekFill", "MonthFill", "WeekHalf", "TrailWeek", "TrailMonth", "TrailQtr"};
    const char *trails[] = {"", "TrailWeek", "TrailMonth", "TrailQtr"};
    const int32_t signals[] = {0, 20231229, 20231229, 20240329};
    std::map<std::string, int> seen;
    for (int32_t cut : cuts) {
        SCOPED_TRACE(cut);
        DayComparison day = CompareWithNextDay(*this, kScript, cut, seen);
        const std::string &text = day.text;
        EXPECT_EQ(text, day.fullText);
        EXPECT_EQ("", day.through) << text;
        EXPECT_EQ("", day.reached) << text;
        /* Inside a week the weekly strategies say what they leave out; at its
        ** end their stop entries are good until the end of the next week. */
        bool weekEnd = DayOfWeek(cut) == 5;
        char friday[16];
        int32_t nextFriday = cut;
        for (int k = 0; k < 7; k++) nextFriday = NextDay(nextFriday);
        snprintf(friday, sizeof friday, " %d ", (int)nextFriday);
        for (size_t at = text.find("stop good until"); weekEnd && at != std::string::npos;
             at = text.find("stop good until", at + 1))
            EXPECT_EQ(at + 16, text.find(friday, at)) << text;
        EXPECT_EQ(!weekEnd, text.find("\nno entry or ExitRule orders for WeekMkt because the week has not ended yet\n") != std::string::npos);
        EXPECT_EQ("", day.missing) << text;
        /* A market entry at the open carries its exits as child orders (a
        ** text list is written as if by a template with id and parent);
        ** DayMkt has no limit or stop to give. */
        EXPECT_EQ("", day.orders.strayChildren) << text;
        std::string childless;
        const std::string &all = day.orders.childless;
        for (size_t at = 0; at < all.size(); at = all.find(';', at) + 1)
            if (all.compare(at, 7, "DayMkt ") != 0) childless += all.substr(at, all.find(';', at) + 1 - at);
        EXPECT_EQ("", childless) << text;
        EXPECT_EQ("", day.extra) << text;
        /* The trailing stops and targets carry each split into the order's
        ** terms once, inside the period after it too, and round once. */
        for (int size = 1; size <= 3; size++) {
            for (const auto &[symbol, bars] : market) {
                if (cut <= signals[size]) continue;
                const std::string key = std::string(trails[size]) + " L " + symbol;
                bool splitBefore = false;
                const auto [stop, target] = TrailingOrders(*this, symbol, size, signals[size], cut, &splitBefore);
                EXPECT_TRUE(day.orders.prices.count(key + " s") && day.orders.prices.count(key + " l")) << key << "\n" << text;
                EXPECT_NEAR(stop, day.orders.prices[key + " s"], 1e-9) << key << "\n" << text;
                EXPECT_NEAR(target, day.orders.prices[key + " l"], 1e-9) << key << "\n" << text;
                if (splitBefore) seen[std::string("split before ") + trails[size]]++;
            }
        }
    }
    /* The days tried hold entries of every strategy and exits of every kind. */
    for (const std::string &name : names) EXPECT_GT(seen[name], 0) << name;
    for (const char *exit : {"DayMkt exit m", "WeekMkt exit m", "WeekMkt exit s", "MonthShort exit s", "QtrLong exit l",
                             "DayFill exit l", "DayFill exit s", "WeekFill exit l", "WeekFill exit s", "WeekHalf exit s"})
        EXPECT_GT(seen[exit], 0) << exit;
    for (const char *name : {"WeekMkt", "MonthShort", "QtrLong", "WeekHold", "WeekFill", "MonthFill"}) EXPECT_GT(seen[std::string("after split ") + name], 0) << name;
    for (int size = 1; size <= 3; size++) EXPECT_GT(seen[std::string("split before ") + trails[size]], 0) << trails[size];
}

/* Targets for half the shares and stops, each trailing from the last close
** towards the price, daily, weekly and monthly: on each day whose open went through a target and took
** half, and on the day after, the list holds what the next day's test does
** for the half left (its target and stop at the test's prices, a longer
** bar's none inside the period that split it off). */
TEST_F(OrderIdentityTest, WhatAPartialTargetTakenAtTheOpenLeavesIsOrderedAsTheNextDaysTest)
{
    all = Weekdays(20230102, 20240705);
    market = Waves(all);
    std::string script = "Settings:\n  OrdersMode: Text\n";
    for (const char *size : {"Daily", "Weekly", "Monthly"})
        script += std::string("Strategy: ") + size + "\n  BarSize: " + size +
            "\n  EntrySetup: C > MA(C, 3)\n  Quantity: 10\n  QtyType: Shares\n"
            "  ExitLimit: IF(PrevExitLimit > 0, MIN(PrevExitLimit, C * 1.005), C * 1.005)\n"
            "  ExitLimitQty: Shares * 0.5\n  ExitStop: MAX(PrevExitStop, C * 0.9)\n";
    LoadUpTo(all.back());
    EXPECT_EQ(0, Run(script)) << LastMessage();
    const TestRecord *test = LastTest();
    ASSERT_TRUE(test);
    /* Days a target for half filled at the open of, with shares left after. */
    std::map<std::string, std::set<int32_t>> hit;
    for (int32_t k = 0; k < test->tradeCount; k++) {
        const TradeRecord *r = &test->trades[k];
        if (r->reason != EXIT_LIMIT || r->dateOut < 20240102 || r->dateOut >= all.back()) continue;
        const SymbolRecord *symbol = &gStore.symbols[r->symbolNumber - 1];
        size_t at = std::lower_bound(all.begin(), all.end(), r->dateOut) - all.begin();
        if (symbol->bars[BAR_DAILY][at].open != r->priceOut) continue;
        for (int32_t m = 0; m < test->tradeCount; m++)
            if (m != k && test->trades[m].strategy == r->strategy && test->trades[m].symbolNumber == r->symbolNumber &&
                test->trades[m].dateIn == r->dateIn && test->trades[m].dateOut > r->dateOut)
                hit[test->strategies[r->strategy].name].insert(r->dateOut);
    }
    std::map<std::string, int> seen;
    for (const auto &[name, days] : hit) {
        SCOPED_TRACE(name);
        int tried = 0;
        for (int32_t day : days) {
            if (tried++ == 4) break;
            for (int32_t cut : {PrevDay(day), day}) {
                while (DayOfWeek(cut) == 0 || DayOfWeek(cut) == 6) cut = PrevDay(cut);
                SCOPED_TRACE(cut);
                DayComparison d = CompareWithNextDay(*this, script.c_str(), cut, seen);
                EXPECT_EQ(d.text, d.fullText);
                EXPECT_EQ("", d.missing) << d.text;
                EXPECT_EQ("", d.extra) << d.text;
                /* A target and stop trailed past each other are both through
                ** the open, which takes neither. */
                std::string through;
                for (size_t at = 0; at < d.through.size(); at = d.through.find(';', at) + 1) {
                    const std::string key = d.through.substr(at, d.through.find(';', at) - at);
                    const std::string other = key.substr(0, key.size() - 1) + (key.back() == 'l' ? "s;" : "l;");
                    if (d.through.find(other) == std::string::npos) through += key + ";";
                }
                EXPECT_EQ("", through) << d.text;
                EXPECT_EQ("", d.reached) << d.text;
            }
        }
        EXPECT_GT(tried, 0) << name;
    }
    for (const char *name : {"Daily", "Weekly", "Monthly"}) EXPECT_TRUE(hit.count(name)) << name;
}

/* A daily run whose EndDate falls inside a week, a split in that week or
** the one before: the weekly strategies' list (their stops and targets,
** trailing ones and those for half the shares among them) is the list of
** the data cut there, and holds what a test with the next day as its EndDate
** does on all the data, which go on through the week. */
TEST_F(OrderIdentityTest, AnEndDateInsideAWeekOrdersWhatTheNextDaysTestOnAllTheDataDoes)
{
    splits["BBB"] = {{20240206, 2}};
    splits["CCC"] = {{20240313, 3}};
    std::map<std::string, int> seen;
    for (int32_t cut : {20240206, 20240207, 20240305, 20240312, 20240313, 20240514, 20240626}) {
        SCOPED_TRACE(cut);
        DayComparison day = CompareWithNextDay(*this, kScript, cut, seen, {}, true);
        EXPECT_EQ(day.text, day.fullText);
        EXPECT_EQ("", day.missing) << day.text;
        EXPECT_EQ("", day.extra) << day.text;
        EXPECT_EQ("", day.through) << day.text;
        EXPECT_EQ("", day.reached) << day.text;
    }
    for (const char *exit : {"WeekHold exit s", "WeekHalf exit s", "WeekTC exit s", "WeekFill exit l"}) EXPECT_GT(seen[exit], 0) << exit;
}

/* Live data: the list for the close of a day inside a longer bar's period
** holds the stops and targets of the period's last bar, as the list for the
** next open does; data cut there and a run with that EndDate on all the
** data give it alike, splits in the period before crossed once. */
TEST_F(OrderIdentityTest, ALiveListInsideAPeriodHoldsTheOrdersOfItsLastBar)
{
    splits["BBB"] = {{20240206, 2}};
    splits["CCC"] = {{20240313, 3}};
    splits["DDD"] = {{20240401, 2}};
    splits["FFF"] = {{20240301, 2}};
    std::string script = "Settings:\n  OrdersMode: Text\n  OrdersLiveData: True\n";
    for (const char *size : {"Weekly", "Monthly"})
        script += std::string("Strategy: ") + size + "\n  BarSize: " + size +
            "\n  EntrySetup: BarDate = 20231229\n  Quantity: 10\n  QtyType: Shares\n  ExitRule: C < 0\n"
            "  ExitTime: ThisClose\n  ExitStop: MAX(PrevExitStop, C * 0.5)\n"
            "  ExitLimit: IF(PrevExitLimit > 0, MIN(PrevExitLimit, C * 2), C * 2)\n";
    for (int32_t cut : {20240213, 20240409}) {
        SCOPED_TRACE(cut);
        LoadUpTo(cut);
        EXPECT_EQ(0, Run(script, 5)) << LastMessage();
        char file[64];
        snprintf(file, sizeof file, "main_%d_orders.txt", (int)cut);
        const std::string text = OrdersFile(file);
        const Orders orders = ParseOrders(text);
        for (int size = 1; size <= 2; size++) {
            for (const auto &[symbol, bars] : market) {
                const std::string key = std::string(size == 1 ? "Weekly" : "Monthly") + " L " + symbol;
                bool splitBefore = false;
                const auto [stop, target] = TrailingOrders(*this, symbol, size, 20231229, cut, &splitBefore);
                EXPECT_EQ(1u, orders.prices.count(key + " s")) << key << "\n" << text;
                EXPECT_NEAR(stop, orders.prices.count(key + " s") ? orders.prices.at(key + " s") : 0, 1e-9) << key;
                EXPECT_NEAR(target, orders.prices.count(key + " l") ? orders.prices.at(key + " l") : 0, 1e-9) << key;
            }
        }
        LoadUpTo(all.back());
        EXPECT_EQ(0, Run(EndingOn(script.c_str(), cut), 5)) << LastMessage();
        EXPECT_EQ(text, OrdersFile(file));
    }
}

/* A position of each longer bar size in AAA, whose data end on Wednesday
** 2024-03-27: each leaves by "end of data" at the close of Friday 3/29, which
** ends its week, month and quarter, dated 3/27.  Such an exit is recent from
** the first day of the period before the order date's (of the second before,
** when the order date begins its period): worked by hand, a list on 4/2 or 4/5
** warns for all three, on 4/9 for the month and the quarter, on 5/3 for the
** quarter alone, on 7/2 for none.  A run on all the data with the cut as its
** EndDate writes the same list. */
TEST_F(OrderIdentityTest, AnEndDateRunWarnsOfAnEndOfDataExitAsTheDataCutThereDo)
{
    all = Weekdays(20230703, 20240705);
    market = Waves(all);
    std::vector<DayBar> &aaa = market[0].second;
    while (aaa.back().date > 20240327) aaa.pop_back();
    std::string script = "Settings:\n  OrdersMode: Text\n";
    for (const char *size : {"Weekly", "Monthly", "Quarterly"})
        script += std::string("Strategy: ") + size + "\n  BarSize: " + size +
            "\n  EntrySetup: BarDate = 20231229 AND ?Symbol = \"AAA\"\n  Quantity: 10\n  QtyType: Shares\n  ExitStop: C * 0.5\n";
    /* On Thursday 3/28 the three still hold AAA, which leaves at Friday's
    ** close: the list warns of it and orders no stop for a day AAA does not
    ** trade. */
    const struct {
        int32_t cut;
        const char *warned;
    } cases[] = {{20240328, "Weekly Monthly Quarterly "}, {20240402, "Weekly Monthly Quarterly "}, {20240405, "Weekly Monthly Quarterly "},
                 {20240409, "Monthly Quarterly "},          {20240503, "Quarterly "},
                 {20240702, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cut);
        LoadUpTo(c.cut);
        EXPECT_EQ(0, Run(script, 5)) << LastMessage();
        size_t next = 0;
        while (all[next] <= c.cut) next++;
        char file[64];
        snprintf(file, sizeof file, "main_%d_orders.txt", (int)all[next]);
        const std::string text = OrdersFile(file);
        /* A strategy's notes stand before its exit orders. */
        std::string warned;
        const std::string warning = "\nWarning: according to the backtest AAA had an end-of-data exit recently\n";
        for (size_t at = text.find(warning); at != std::string::npos; at = text.find(warning, at + 1)) {
            size_t name = text.find("\n\n", at + 1) + 2;
            warned += text.substr(name, text.find(' ', name) - name) + " ";
        }
        EXPECT_EQ(c.warned, warned) << text;
        EXPECT_EQ(std::string::npos, text.find("    sell 10 AAA ")) << text;
        LoadUpTo(all.back());
        EXPECT_EQ(0, Run(EndingOn(script.c_str(), c.cut), 5)) << LastMessage();
        EXPECT_EQ(text, OrdersFile(file));
    }
}

/* Sessions missing from the weekdays (Christmas on a Monday, Good Friday at
** a quarter's end): data cut on the day before each take the next weekday for
** the order date, worked by hand, and so does a run on all the data with
** that day as its EndDate, never the next session of the data.  On Thursday
** 3/28 the week goes on to Friday, on 12/22 the next week begins; the
** quarter goes on in both; the daily strategy's entries are good after the
** order date. */
TEST_F(OrderIdentityTest, AnEndDateRunTakesItsOrderDateFromTheCalendarAsTheDataCutThereDo)
{
    all = Weekdays(20231101, 20240705);
    all.erase(std::remove(all.begin(), all.end(), 20231225), all.end());
    all.erase(std::remove(all.begin(), all.end(), 20240329), all.end());
    market = Waves(all);
    const char script[] = "Settings:\n  OrdersMode: Text\n"
                          "Strategy: Day\n  EntrySetup: C > 0\n  EntryLimit: C * 0.99\n  EntryTime: NextClose\n  Quantity: 10\n  QtyType: Shares\n"
                          "  ExitRule: C > 0\n  ExitTime: NextOpen\n"
                          "Strategy: Week\n  BarSize: Weekly\n  EntrySetup: C > 0\n  Quantity: 10\n  QtyType: Shares\n"
                          "Strategy: Qtr\n  BarSize: Quarterly\n  EntrySetup: C > 0\n  Quantity: 10\n  QtyType: Shares\n";
    const struct {
        int32_t cut, orderDate;
        const char *header;
        bool weekGoesOn;
    } cases[] = {{20231222, 20231225, "*** ORDERS TO PLACE BEFORE THE OPEN OF 12/25/23 ***\n", false},
                 {20240328, 20240329, "*** ORDERS TO PLACE BEFORE THE OPEN OF 3/29/24 ***\n", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cut);
        LoadUpTo(c.cut);
        EXPECT_EQ(0, Run(script, 5)) << LastMessage();
        char file[64], good[64];
        snprintf(file, sizeof file, "main_%d_orders.txt", (int)c.orderDate);
        snprintf(good, sizeof good, " limit good after %d ", (int)c.orderDate);
        const std::string text = OrdersFile(file);
        EXPECT_EQ(0u, text.find(c.header)) << text;
        EXPECT_NE(std::string::npos, text.find(good)) << text;
        const bool weekNote =
            text.find("\nno entry or ExitRule orders for Week because the week has not ended yet\n") != std::string::npos;
        EXPECT_EQ(c.weekGoesOn, weekNote) << text;
        EXPECT_NE(std::string::npos, text.find("\nno entry or ExitRule orders for Qtr because the quarter has not ended yet\n"))
            << text;
        /* The run on all the data writes its own list, not the one above again. */
        EXPECT_TRUE(PlatDeleteFile(tmp.File(std::string("Output\\Orders\\") + file).c_str()));
        LoadUpTo(all.back());
        EXPECT_EQ(0, Run(EndingOn(script, c.cut), 5)) << LastMessage();
        EXPECT_EQ(text, OrdersFile(file));
    }
}

/* Strategies that leave the side to the quantity, enter at the next close,
** or hold a futures series across its rolls (each costing 1). */
const char kSideCloseRollScript[] =
    "Settings:\n  OrdersMode: Text\n"
    "Strategy: DayBoth\n  EntrySetup: C < 1000\n  Quantity: IF(C > O, 10, -10)\n  QtyType: Shares\n"
    "  ExitRule: C > 0\n  ExitTime: NextOpen\n"
    "Strategy: WeekBoth\n  BarSize: Weekly\n  EntrySetup: C < 1000\n  Quantity: IF(C > O, 10, -10)\n"
    "  QtyType: Shares\n  ExitRule: C > 0\n  ExitTime: NextOpen\n"
    "Strategy: MonthBoth\n  BarSize: Monthly\n  EntrySetup: C < 1000\n  Quantity: IF(C > O, 10, -10)\n"
    "  QtyType: Shares\n  ExitRule: C > 0\n  ExitTime: NextOpen\n"
    "Strategy: WeekClose\n  BarSize: Weekly\n  EntryTime: NextClose\n  EntrySetup: C > MA(C, 2) AND C < 1000\n"
    "  Quantity: 10\n  QtyType: Shares\n  ExitRule: C < MA(C, 2)\n  ExitTime: NextOpen\n"
    "Strategy: MonthClose\n  BarSize: Monthly\n  EntryTime: NextClose\n  Side: Short\n  EntrySetup: C < 1000\n"
    "  Quantity: 10\n  QtyType: Shares\n  ExitRule: C > 0\n  ExitTime: NextOpen\n"
    "Strategy: WeekFut\n  BarSize: Weekly\n  EntrySetup: C > 1000\n  Quantity: 2\n  QtyType: Shares\n  RollCost: 1\n"
    "Strategy: MonthFut\n  BarSize: Monthly\n  EntrySetup: C > 1000\n  Quantity: 3\n  QtyType: Shares\n  RollCost: 1\n"
    "Strategy: QtrClose\n  BarSize: Quarterly\n  EntryTime: NextClose\n  EntrySetup: C < 1000\n"
    "  Quantity: IF(C > O, 10, -10)\n  QtyType: Shares\n  ExitRule: C > 0\n  ExitTime: NextOpen\n"
    "Strategy: YearBoth\n  BarSize: Yearly\n  EntrySetup: C < 1000\n  Quantity: IF(C > O, 10, -10)\n"
    "  QtyType: Shares\n  ExitRule: C > 0\n  ExitTime: NextOpen\n";

/* A weekly and a monthly strategy that enter and leave at the next close,
** under a limit of two positions in the account they share: a position whose
** exit fills at its period's close holds its place until then, so an entry
** ordered the evening before that close waits as the test's does. */
const char kNextCloseSlotScript[] =
    "Settings:\n  OrdersMode: Text\n"
    "Strategy: WeekNC\n  BarSize: Weekly\n  EntryTime: NextClose\n  EntrySetup: C > MA(C, 2) AND C < 1000\n  SetupScore: C\n"
    "  Quantity: 10\n  QtyType: Shares\n  ExitRule: C < MA(C, 2)\n  ExitTime: NextClose\n  MaxPositions: 2\n"
    "Strategy: MonthNC\n  BarSize: Monthly\n  EntryTime: NextClose\n  EntrySetup: C > MA(C, 2) AND C < 1000\n  SetupScore: C\n"
    "  Quantity: 10\n  QtyType: Shares\n  ExitRule: C < MA(C, 2)\n  ExitTime: NextClose\n  MaxPositions: 2\n";

/* Strategies sharing the account's places: a DynamicSizing strategy that
** enters at the next close and turns its positions over at the open,
** beside longs and shorts at the open, and a weekly DynamicSizing one at its
** period's close, under a Combined limit that binds.  What the list orders
** of the strategies at the open is what the next day's test does. */
const char kSharedPlacesScript[] =
    "Settings:\n  OrdersMode: Text\n"
    "Strategy: DynNC\n  DynamicSizing: True\n  EntryTime: NextClose\n  Quantity: IF(C > MA(C, 3), 20, -20)\n"
    "  QtyType: Shares\n"
    "Strategy: DayShort\n  Side: Short\n  EntrySetup: C < MA(C, 4) AND C < 1000\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitRule: C > MA(C, 4)\n  ExitTime: NextOpen\n"
    "Strategy: DayLong\n  EntrySetup: C > MA(C, 5) AND C < 1000\n  Quantity: 10\n  QtyType: Shares\n"
    "  ExitRule: C < MA(C, 8)\n  ExitTime: NextOpen\n"
    "Strategy: WeekTCDyn\n  BarSize: Weekly\n  DynamicSizing: True\n  EntryTime: ThisClose\n"
    "  Quantity: IF(C > O, 10, 0)\n  QtyType: Shares\n"
    "Combined:\n  MaxPositions: 7\n";

/* The orders of one strategy in a list of "kind key;" items. */
std::string ItemsOf(const std::string &items, const std::string &strategy)
{
    std::string out;
    for (size_t at = 0; at < items.size(); at = items.find(';', at) + 1) {
        const std::string item = items.substr(at, items.find(';', at) + 1 - at);
        if (item.find(" " + strategy + " ") != std::string::npos) out += item;
    }
    return out;
}

TEST_F(OrderIdentityTest, SidesNextCloseEntriesAndRollsEqualTheNextDaysTest)
{
    futures = true;
    all = Weekdays(20221101, 20240705);
    /* For the shared places, FFF does not trade on some of the days the
    ** lists are written on: a run ended there by its EndDate holds it as the
    ** data cut there do. */
    const auto waves = Waves(all);
    auto holed = waves;
    for (int32_t missing : {20240105, 20240216, 20240411, 20240611}) {
        std::vector<DayBar> &fff = holed[5].second;
        fff.erase(std::remove_if(fff.begin(), fff.end(), [missing](const DayBar &b) { return b.date == missing; }), fff.end());
    }
    /* Period ends, days inside periods, and the days before each roll. */
    const int32_t cuts[] = {20221230, 20230331, 20230405, 20230630, 20230929, 20231229, 20240105, 20240131, 20240201,
                            20240216, 20240220, 20240229, 20240301, 20240313, 20240314, 20240315, 20240318, 20240328,
                            20240411, 20240430, 20240531, 20240611, 20240612, 20240613, 20240614, 20240628};
    std::map<std::string, int> seen;
    const std::set<std::string> shares = {"DayBoth",  "WeekBoth", "MonthBoth", "WeekClose", "MonthClose",
                                          "QtrClose", "YearBoth", "WeekNC",    "MonthNC"};
    for (const char *script : {kSharedPlacesScript, kSideCloseRollScript, kNextCloseSlotScript}) for (int32_t cut : cuts) {
        SCOPED_TRACE(cut);
        market = script == kSharedPlacesScript ? holed : waves;
        DayComparison day = CompareWithNextDay(*this, script, cut, seen, shares, true);
        EXPECT_EQ(day.text, day.fullText);
        if (script == kSharedPlacesScript) {
            /* (The comparison reads no dynamic sizing orders.) */
            for (const char *name : {"DayShort", "DayLong"}) {
                EXPECT_EQ("", ItemsOf(day.missing, name)) << day.text;
                EXPECT_EQ("", ItemsOf(day.extra, name)) << day.text;
                EXPECT_EQ("", ItemsOf(day.quantity, name)) << day.text;
            }
            continue;
        }
        EXPECT_EQ("", day.missing) << day.text;
        EXPECT_EQ("", day.extra) << day.text;
        EXPECT_EQ("", day.quantity) << day.text;
        EXPECT_EQ("", day.rolls) << day.text;
        /* A next-close entry is for the close of the order date, whatever the
        ** bar size; an exit at the next close of a longer bar's for its next
        ** period's last day. */
        const std::string onClose = "on close after " + std::to_string(day.day) + " ";
        for (size_t at = day.text.find("on close after "); at != std::string::npos; at = day.text.find("on close after ", at + 1)) {
            const size_t line = day.text.rfind('\n', at) + 1;
            const bool entry = day.text.compare(line, 8, "    buy ") == 0 || day.text.compare(line, 10, "    short ") == 0;
            if (entry) {
                EXPECT_EQ(at, day.text.find(onClose, at)) << day.text;
            }
        }
    }
    for (const char *name : {"DayBoth long", "DayBoth short", "WeekBoth long", "WeekBoth short", "MonthBoth long",
                             "MonthBoth short", "WeekClose", "MonthClose", "QtrClose long", "QtrClose short", "YearBoth",
                             "WeekNC", "MonthNC", "WeekNC close exit", "MonthNC close exit"})
        EXPECT_GT(seen[name], 0) << name;
    /* Each futures position rolled on the day after each contract change. */
    EXPECT_EQ(2, seen["WeekFut roll"]);
    EXPECT_EQ(2, seen["MonthFut roll"]);
}

/* A weekly or monthly run holding the series: each change of contract is
** ordered once, by the list of the last day of the bar it falls in (March
** 15 and June 14 weekly, March 29 and June 28 monthly), as the next day's
** test rolls at the next bar's open; lists of the days inside the bar, the
** change already behind them, order none, as their next day rolls nothing. */
TEST_F(OrderIdentityTest, AWeeklyOrMonthlyRunOrdersEachRollOnce)
{
    futures = true;
    const int32_t cuts[] = {20240313, 20240314, 20240315, 20240318, 20240328, 20240329, 20240401,
                            20240611, 20240612, 20240613, 20240614, 20240627, 20240628};
    for (const char *size : {"Weekly", "Monthly"}) {
        SCOPED_TRACE(size);
        const std::set<int32_t> rollDays = size[0] == 'W' ? std::set<int32_t>{20240315, 20240614}
                                                           : std::set<int32_t>{20240329, 20240628};
        const std::string script = std::string("Settings:\n  OrdersMode: Text\n  BarSize: ") + size +
            "\nStrategy: Fut\n  EntrySetup: C > 1000\n  Quantity: 2\n  QtyType: Shares\n  RollCost: 1\n";
        for (int32_t cut : cuts) {
            SCOPED_TRACE(cut);
            int32_t day = 0;
            const std::string text = OrdersOnDataTo(cut, script, &day);
            LoadUpTo(cut);
            ASSERT_EQ(0, Run(script)) << LastMessage();
            const double before = RollCosts()["Fut"];
            LoadUpTo(day);
            ASSERT_EQ(0, Run(script)) << LastMessage();
            const int rolled = (int)std::lround(RollCosts()["Fut"] - before); /* every roll costs 1 */
            EXPECT_EQ(rollDays.count(cut), (size_t)rolled);
            EXPECT_EQ(rolled, ParseOrders(text).rolls["Fut"]) << text;
        }
    }
}

/* The account's positions in the companion tool's list, whole and in each
** damaged form.  A damaged or unfinished list fails the run with 3 before
** any order is written, naming the file and the line; a position the orders
** cannot reconcile (a strategy the script lacks, a symbol the data lack) is
** named, and the list is the one of the file without it. */
TEST_F(OrderIdentityTest, ACompanionListIsReadWholeOrRefused)
{
    LoadUpTo(20240604);
    Write("o.kvs", "Settings:\n  OrdersMode: SlatewickSync\n"
                   "Strategy: DayMkt\n  EntrySetup: C > MA(C, 5)\n  Quantity: 10\n  QtyType: Shares\n"
                   "  ExitRule: C < MA(C, 8)\n  ExitTime: NextOpen\n");
    const std::string path = tmp.File("Output\\Orders\\SlatewickTrades.csv");
    const std::string text = tmp.File("Output\\Orders\\o_20240605_orders.txt"), csv = tmp.File("Output\\Orders\\o_20240605_orders.csv");
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTemplate.csv"), "Act,Sym,Type,Qty,Lmt,Stp,Id,Parent\nact,sym,type,qty,lmt,stp,id,parent\n");
    const std::string header = "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\r\n";
    const std::string held = "AAA,DayMkt,Long,100,5/10/2024,100,50,0,,,,\r\nBBB,DayMkt,Long,40,5/13/2024,40,48,0,5/20/2024,40,49,0\r\n";
    const struct {
        const char *form;
        std::string rows;
        int code;
        std::string message; /* its first line */
    } cases[] = {
        {"whole", held, 0, ""},
        {"unfinished", held + "CCC,DayMkt,Long,100,6/3/2024,10", 3, "Line 4 of " + path + " ends without a line end"},
        {"empty", "", 3, "Line 1 of " + path + " ends without a line end"},
        {"text quantity", "CCC,DayMkt,Long,1O0,6/3/2024,100,50,0,,,,\r\n" + held, 3,
         "Line 2 of " + path + " cannot be read: Shares \"1O0\" is not a number."},
        {"open quote", held + "CCC,\"DayMkt,Long,100,6/3/2024,100,50,0,,,,\r\n", 3,
         "Line 4 of " + path + " cannot be read: it opens a double quote that it does not close."},
        {"bad date", held + "CCC,DayMkt,Long,100,6/31/2024,100,50,0,,,,\r\n", 3,
         "Line 4 of " + path + " cannot be read: DateIn \"6/31/2024\" is not a date."},
        /* Quantities and dates that are no position the tool keeps. */
        {"sold below zero", held + "CCC,DayMkt,Long,100,6/3/2024,100,50,0,6/4/2024,-40,51,0\r\n", 3,
         "Line 4 of " + path + " cannot be read: QtyOut \"-40\" is below zero."},
        {"signed short", held + "CCC,DayMkt,Short,-100,6/3/2024,100,50,0,,,,\r\n", 3,
         "Line 4 of " + path + " cannot be read: Shares \"-100\" is below zero."},
        {"decimal comma", held + "CCC,DayMkt,Long,\"1,00\",6/3/2024,100,50,0,,,,\r\n", 3,
         "Line 4 of " + path + " cannot be read: \"1,00\" holds a comma that groups no thousands."},
        {"more out than in", held + "CCC,DayMkt,Long,100,6/3/2024,100,50,0,6/4/2024,140,51,0\r\n", 3,
         "Line 4 of " + path + " cannot be read: its QtyOut is above its QtyIn."},
        {"out before in", held + "CCC,DayMkt,Long,100,6/3/2024,100,50,0,5/31/2024,100,51,0\r\n", 3,
         "Line 4 of " + path + " cannot be read: its DateOut is before its DateIn."},
        {"no symbol", held + ",DayMkt,Long,100,6/3/2024,100,50,0,,,,\r\n", 3,
         "Line 4 of " + path + " cannot be read: it gives no Symbol."},
        {"blank between", "\r\n" + held, 3, "Line 2 of " + path + " cannot be read: it is blank, with positions after it."},
        {"blank at the end", held + "\r\n \r\n", 0, ""},
        /* A spreadsheet's empty row is its delimiters alone. */
        {"empty row between", ",,,,,,,,,,,\r\n" + held, 3, "Line 2 of " + path + " cannot be read: it is blank, with positions after it."},
        {"empty row at the end", held + ",,,,,,,,,,,\r\n", 0, ""},
        /* A quoted text holding digits and a comma is no number. */
        {"quoted name", held + "CCC,\"Gone 10,20\",Long,100,6/3/2024,100,50,0,,,,\r\n", 0,
         path + " holds open positions of strategies the script does not have"},
        {"strategy", held + "CCC,Gone,Long,100,6/3/2024,100,50,0,,,,\r\nDDD,Gone,Long,5,5/1/2024,5,50,0,5/2/2024,5,51,0\r\n", 0,
         path + " holds open positions of strategies the script does not have; no order is written for them:\r\n\r\n"
                "line 4: strategy Gone\r\n"},
        {"symbol", held + "ZZZ,DayMkt,Long,100,6/3/2024,100,50,0,,,,\r\n", 0,
         path + " holds open positions in symbols the data do not have; no order is written for them:\r\n\r\n"
                "ZZZ in strategy DayMkt\r\n"},
    };
    gRun.unattended = 1;
    std::string whole[2];
    for (const auto &c : cases) {
        SCOPED_TRACE(c.form);
        WriteTestFile(path, c.rows.empty() ? "" : header + c.rows);
        for (const std::string &f : {text, csv, tmp.File("errorlog.txt")}) PlatDeleteFile(f.c_str());
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(c.code, RunBatchCommandLine("-orders o.kvs"));
        const std::string log = PlatFileExists(tmp.File("errorlog.txt").c_str()) ? ReadTestFile(tmp.File("errorlog.txt")) : "";
        EXPECT_EQ(c.message.empty() ? std::string::npos : log.find(">>> "), log.rfind(">>> ")) << log;
        EXPECT_NE(std::string::npos, log.find(c.message)) << log;
        if (c.code != 0) {
            EXPECT_FALSE(PlatFileExists(text.c_str()));
            EXPECT_FALSE(PlatFileExists(csv.c_str()));
        } else if (whole[0].empty()) {
            whole[0] = ReadTestFile(text);
            whole[1] = ReadTestFile(csv);
            EXPECT_NE(std::string::npos, whole[0].find("AAA")) << whole[0];
        } else {
            EXPECT_EQ(whole[0], ReadTestFile(text));
            EXPECT_EQ(whole[1], ReadTestFile(csv));
        }
    }
}

/* A position the companion tool closed in part stays on its line, the
** shares out beside the shares in: the rest is held.  The list reconciles
** with it as with any open position, its stop for the shares left and no
** entry to buy the position again; one closed whole is held no more. */
TEST_F(OrderIdentityTest, ACompanionPositionClosedInPartHoldsWhatIsLeft)
{
    LoadUpTo(20240604);
    Write("o.kvs", "Settings:\n  OrdersMode: SlatewickSync\n"
                   "Strategy: Hold\n  TLEndDate: latest\n  EntrySetup: C > 0\n  Quantity: 100\n  QtyType: Shares\n  ExitStop: C * 0.5\n");
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTemplate.csv"), "Act,Sym,Type,Qty,Lmt,Stp,Id,Parent\nact,sym,type,qty,lmt,stp,id,parent\n");
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTrades.csv"),
                  "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\r\n"
                  "AAA,Hold,Long,100,5/10/2024,100,50.00,1,5/13/2024,40,51.00,1\r\n"
                  "BBB,Hold,Long,100,5/10/2024,100,50.00,1,5/13/2024,100,51.00,1\r\n");
    gRun.unattended = 1;
    EXPECT_EQ(0, RunBatchCommandLine("-orders o.kvs"));
    const std::string text = OrdersFile("o_20240605_orders.txt");
    /* Worked by hand: 60 AAA held; BBB and the others held by neither. */
    EXPECT_NE(std::string::npos, text.find("\n    sell 60 AAA ")) << text;
    EXPECT_EQ(std::string::npos, text.find(" AAA market on open")) << text;
    EXPECT_NE(std::string::npos, text.find(" BBB market on open")) << text;
    EXPECT_EQ(std::string::npos, text.find("\n    sell 40 AAA ")) << text;
}

/* The companion tool's rows keep the shares as they were traded, each
** quantity on its own day; AAA splits two for one on May 20, BBB three for
** two.  The account's 100 AAA bought on May 10 (the simulation holds them
** too) and on Oct 2, 2023, before the data begin (the account alone holds
** them, and sells them) are 200 on the order day; 100 bought with 40 of them
** sold before the split leave 120, with 40 sold after it 160, with 150 sold
** after it 50 (more than were bought, fewer than were held), with 200 sold
** after it none; 100 BBB with 40 sold after its split leave 110: worked by
** hand. */
TEST_F(OrderIdentityTest, ACompanionPositionsSharesAreTheOrderDaysAcrossALaterSplit)
{
    splits["AAA"] = {{20240520, 2}};
    splits["BBB"] = {{20240520, 1.5}};
    LoadUpTo(20240604);
    Write("o.kvs", "Settings:\n  OrdersMode: SlatewickSync\n"
                   "Strategy: Hold\n  TLEndDate: latest\n  EntrySetup: C > 1000\n  Quantity: 100\n  QtyType: Shares\n"
                   "  ExitStop: C * 0.5\n");
    WriteTestFile(tmp.File("Output\\Orders\\SlatewickTemplate.csv"), "Act,Sym,Type,Qty,Lmt,Stp,Id,Parent\nact,sym,type,qty,lmt,stp,id,parent\n");
    SymbolRecord *aaa = &gStore.symbols[FindSymbolIndex("AAA") - 1];
    const Bar *may10 = GetBarOnOrBefore(aaa, 20240510, BAR_DAILY), *may13 = GetBarOnOrBefore(aaa, 20240513, BAR_DAILY);
    ASSERT_TRUE(may10 && may13 && may10->date == 20240510 && may10->split == 2);
    char bought[32], sold[32];
    snprintf(bought, sizeof bought, "%.2f", may10->close);
    snprintf(sold, sizeof sold, "%.2f", may13->close);
    /* Prices of the days as they traded: the split factor is 1 from May 20. */
    SymbolRecord *bbb = &gStore.symbols[FindSymbolIndex("BBB") - 1];
    const Bar *may21 = GetBarOnOrBefore(aaa, 20240521, BAR_DAILY), *bbb10 = GetBarOnOrBefore(bbb, 20240510, BAR_DAILY),
              *bbb21 = GetBarOnOrBefore(bbb, 20240521, BAR_DAILY);
    ASSERT_TRUE(may21 && bbb10 && bbb21 && may21->split == 1 && bbb10->split == 1.5 && bbb21->split == 1);
    char soldAfter[32], bbbBought[32], bbbSold[32];
    snprintf(soldAfter, sizeof soldAfter, "%.2f", may21->close);
    snprintf(bbbBought, sizeof bbbBought, "%.2f", bbb10->close);
    snprintf(bbbSold, sizeof bbbSold, "%.2f", bbb21->close);
    const std::string header = "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\r\n";
    const struct {
        const char *form;
        std::string row;
        const char *sold;
    } cases[] = {
        {"held whole", "AAA,Hold,Long,100,5/10/2024," + std::string("100,") + bought + ",1,,,,\r\n", "\n    sell 200 AAA "},
        {"before the data", "AAA,Hold,Long,100,10/2/2023,100,100.00,1,,,,\r\n", "\n    sell 200 AAA "},
        {"closed in part", "AAA,Hold,Long,100,5/10/2024,100," + std::string(bought) + ",1,5/13/2024,40," + sold + ",1\r\n",
         "\n    sell 120 AAA "},
        {"40 sold after the split",
         "AAA,Hold,Long,100,5/10/2024,100," + std::string(bought) + ",1,5/21/2024,40," + soldAfter + ",1\r\n",
         "\n    sell 160 AAA "},
        {"150 sold after the split",
         "AAA,Hold,Long,100,5/10/2024,100," + std::string(bought) + ",1,5/21/2024,150," + soldAfter + ",1\r\n",
         "\n    sell 50 AAA "},
        {"all sold after the split",
         "AAA,Hold,Long,100,5/10/2024,100," + std::string(bought) + ",1,5/21/2024,200," + soldAfter + ",1\r\n", nullptr},
        {"40 sold after three for two",
         "BBB,Hold,Long,100,5/10/2024,100," + std::string(bbbBought) + ",1,5/21/2024,40," + bbbSold + ",1\r\n",
         "\n    sell 110 BBB "},
    };
    gRun.unattended = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.form);
        WriteTestFile(tmp.File("Output\\Orders\\SlatewickTrades.csv"), header + c.row);
        PlatDeleteFile(tmp.File("Output\\Orders\\o_20240605_orders.txt").c_str());
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(0, RunBatchCommandLine("-orders o.kvs"));
        const std::string text = OrdersFile("o_20240605_orders.txt");
        if (c.sold)
            EXPECT_NE(std::string::npos, text.find(c.sold)) << text;
        else
            EXPECT_EQ(std::string::npos, text.find("\n    sell ")) << text;
        EXPECT_EQ(std::string::npos, text.find("\n    buy ")) << text;
    }
}

/* A path an orders run makes whole (the companion tool's trades file in its
** folder, an OrdersFile in the output folder) that is longer than the
** program holds is refused with 3 before any file is read or written: a cut
** path names another file (a trades file the run would make empty and read
** as the account). */
TEST_F(OrderIdentityTest, AnOrdersPathTooLongOnceMadeWholeIsRefused)
{
    LoadUpTo(20240604);
    /* A folder of 250 characters: its trades file's path has 270. */
    std::string folder = tmp.File("Output");
    while (folder.size() < 250) {
        folder += "\\" + std::string(std::min<size_t>(100, 249 - folder.size()), 'f');
        PlatCreateFolder(folder.c_str());
    }
    ASSERT_TRUE(PlatFolderExists(folder.c_str()));
    const std::string strategy = "Strategy: DayMkt\n  EntrySetup: C > 0\n  Quantity: 10\n  QtyType: Shares\n";
    const struct {
        std::string settings, named;
    } cases[] = {
        {"  OrdersMode: SlatewickSync\n  SlatewickFolder: " + folder + "\n", "SlatewickFolder file path is too long"},
        {"  OrdersMode: Slatewick\n  SlatewickFolder: " + folder + "\n", "SlatewickFolder file path is too long"},
        {"  OrdersFile: " + std::string(259 - tmp.File("Output").size() + 1, 'o') + "\n", "Order List text file path is too long"},
    };
    gRun.unattended = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.settings);
        Write("o.kvs", "Settings:\n" + c.settings + strategy);
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(3, RunBatchCommandLine("-orders o.kvs"));
        const std::string log = PlatFileExists(tmp.File("errorlog.txt").c_str()) ? ReadTestFile(tmp.File("errorlog.txt")) : "";
        EXPECT_NE(std::string::npos, log.find(c.named)) << log;
        EXPECT_FALSE(PlatFileExists(tmp.File("Output\\Orders\\o_20240605_orders.txt").c_str()));
        /* Nothing was made in the folder, under any cut name. */
        for (const char *cut : {"SlatewickTrades.csv", "SlatewickTrad", "SlatewickTra", "Slatewick"})
            EXPECT_FALSE(PlatFileExists((folder + "\\" + cut).substr(0, 259).c_str())) << cut;
    }
}

/* A monthly short whose stop, worked out on July's close of 10.67, is 10.62
** (10.67 x 0.995 to the cent), and a first August open of exactly 10.62: the
** test enters at that open on data that end on Aug 8 and on data that go on
** past a split later in August (of each ratio), as a trade of the same day,
** price and shares; the list of July 31 orders that stop. */
TEST_F(OrderIdentityTest, AStopTouchedExactlyAtThePeriodsFirstOpenFillsWhateverSplitFollows)
{
    const char script[] = "Settings:\n  OrdersMode: Text\n"
                          "Strategy: Short\n  BarSize: Monthly\n  Side: Short\n  EntryTime: NextOpen\n  EntrySetup: BarDate = 20240731\n"
                          "  EntryStop: C * 0.995\n  Quantity: 100\n  QtyType: Shares\n";
    const std::vector<int32_t> days = Weekdays(20240603, 20240930);
    for (double ratio : {1.0, 5.0, 3.0, 1.5}) {
        SCOPED_TRACE(ratio);
        for (int32_t last : {20240731, 20240808, 20240930}) {
            SCOPED_TRACE(last);
            /* Prices as they traded; the factor of a day before the split on
            ** Aug 30 is the ratio once the data reach it. */
            std::vector<int32_t> kept;
            std::vector<DayBar> bars;
            for (int32_t d : days) {
                if (d > last) break;
                kept.push_back(d);
                const double split = d < 20240830 && last >= 20240830 ? ratio : 1.0;
                const double scale = d < 20240830 ? 1.0 : 1.0 / ratio;
                double open = 10.8 * scale, close = 10.8 * scale;
                if (d == 20240731) close = 10.67;
                if (d == 20240801) open = 10.62;
                bars.push_back(DayBar{d, open, std::fmax(open, close) + 0.05 * scale, std::fmin(open, close) - 0.05 * scale, close, 1000, split});
            }
            LoadStore(kept, {{"BLJ", bars}});
            if (last == 20240731) {
                EXPECT_EQ(0, Run(script, 5)) << LastMessage();
                const std::string text = OrdersFile("main_20240801_orders.txt");
                EXPECT_NE(std::string::npos, text.find("    short 100 (")) << text;
                EXPECT_NE(std::string::npos, text.find(" BLJ 10.62 stop ")) << text;
                continue;
            }
            const TradeRecord *trade = TradesOfRun(1, script);
            ASSERT_TRUE(trade);
            EXPECT_EQ(20240801, trade->dateIn);
            EXPECT_EQ(PHASE_OPEN, trade->timeIn);
            EXPECT_EQ(-1, trade->side);
            EXPECT_EQ(10.62, trade->priceIn);
            EXPECT_EQ(100, trade->quantityIn);
        }
    }
}

/* Quantities the list can know, worked by hand.  1001 shares through a 1:4
** split are 250.25: the exit of the whole position sells them all, as the
** test does.  A stop-limit entry of $100,000 short is sized on its stop of
** 49.5 (2020 shares), not on its limit of 49 (2040), as the test sizes it. */
TEST_F(OrderIdentityTest, QuantitiesTheListCanKnowAreTheTests)
{
    const std::vector<int32_t> days = Weekdays(20240401, 20240531);
    const struct {
        const char *script;
        int32_t cut;
        const char *ordered;
        double tested;
    } cases[] = {
        {"Strategy: Hold\n  EntrySetup: BarDate = 20240510\n  Quantity: 1001\n  QtyType: Shares\n"
         "  ExitRule: BarDate >= 20240524\n  ExitTime: NextOpen\n",
         20240524, "    sell 250.25 XYZ market on open ", 250.25},
        {"Strategy: StopLimit\n  Side: Short\n  EntrySetup: BarDate = 20240524\n  EntryStop: C * 0.99\n"
         "  EntryLimit: C * 0.98\n  Quantity: 100000\n  QtyType: Value\n",
         20240524, "    short 2020 (", 2020},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ordered);
        const std::string script = std::string("Settings:\n  OrdersMode: Text\n") + c.script;
        for (int32_t last : {c.cut, days.back()}) {
            /* XYZ trades at 10 (40 once its shares are one for four) and at
            ** 50 from May 24, opening at 49.4 on May 27. */
            std::vector<int32_t> kept;
            std::vector<DayBar> bars;
            for (int32_t d : days) {
                if (d > last) break;
                kept.push_back(d);
                const double split = d < 20240520 && last >= 20240520 ? 0.25 : 1.0;
                double price = d < 20240520 ? 10 : d < 20240524 ? 40 : 50;
                double open = d == 20240527 ? 49.4 : price;
                bars.push_back(DayBar{d, open, std::fmax(open, price), std::fmin(open, price), price, 1000, split});
            }
            LoadStore(kept, {{"XYZ", bars}});
            EXPECT_EQ(0, Run(script, last == c.cut ? 5 : 3)) << LastMessage();
            if (last == c.cut) {
                const std::string text = OrdersFile("main_20240527_orders.txt");
                EXPECT_NE(std::string::npos, text.find(c.ordered)) << text;
                continue;
            }
            const TestRecord *test = LastTest();
            ASSERT_TRUE(test);
            ASSERT_GE(test->tradeCount, 1);
            const TradeRecord &t = test->trades[0];
            EXPECT_EQ(c.tested, t.dateOut == 20240527 ? t.quantityOut : t.quantityIn);
        }
    }
}

/* The trades of test that closed before day, one line each, in an order of
** their own; those the test's end closed are none (a symbol whose data end
** before the test's does dates them on its last day). */
std::vector<std::string> TradesClosedBefore(const TestRecord *test, int32_t day)
{
    std::vector<std::string> closed;
    for (int32_t k = 0; test && k < test->tradeCount; k++) {
        const TradeRecord &t = test->trades[k];
        if (t.dateOut >= day || t.reason == EXIT_END_OF_TEST) continue;
        std::ostringstream line;
        line << test->strategies[t.strategy].name << ' ' << t.symbol << ' ' << t.dateIn << '/' << t.timeIn << ' ' << t.priceIn
             << " -> " << t.dateOut << '/' << t.timeOut << ' ' << t.priceOut << " x" << t.quantityOut << " why " << t.reason;
        closed.push_back(line.str());
    }
    std::sort(closed.begin(), closed.end());
    return closed;
}

/* A strategy whose calendar is a symbol of its own (BBB, which does not
** trade on Mar 27 and 28), daily and weekly: the list of a run with an
** EndDate is the one of the data cut there, on the days BBB missed too (on
** Mar 28 a run that read BBB's later days as its calendar's took DDD out at
** its weekly stop that day, though the data cut there do not); its test
** closes the trades of the data cut there up to that day; and the trades
** closed before the day are those of the test on all the data. */
TEST_F(OrderIdentityTest, AStrategyOnItsOwnCalendarOrdersAsTheDataCutThereDo)
{
    all = Weekdays(20231101, 20240705);
    market = Waves(all);
    auto &bbb = market[1].second;
    bbb.erase(std::remove_if(bbb.begin(), bbb.end(), [](const DayBar &b) { return b.date == 20240327 || b.date == 20240328; }),
              bbb.end());
    const char script[] = "Settings:\n  OrdersMode: Text\n"
                          "Strategy: Day\n  CalendarSym: BBB\n  EntrySetup: C > MA(C, 3)\n  Quantity: 10\n  QtyType: Shares\n"
                          "  ExitRule: C < MA(C, 3)\n  ExitTime: NextOpen\n  ExitStop: C * 0.95\n"
                          "Strategy: Week\n  BarSize: Weekly\n  CalendarSym: BBB\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n"
                          "  QtyType: Shares\n  ExitStop: C * 0.95\n";
    LoadUpTo(all.back());
    EXPECT_EQ(0, Run(script, 3)) << LastMessage();
    const TestRecord *whole = LastTest();
    ASSERT_TRUE(whole);
    const int32_t cuts[] = {20240322, 20240326, 20240327, 20240328, 20240329, 20240401, 20240405};
    std::map<int32_t, std::vector<std::string>> laterBefore;
    for (int32_t cut : cuts) laterBefore[cut] = TradesClosedBefore(whole, cut);
    for (int32_t cut : cuts) {
        SCOPED_TRACE(cut);
        LoadUpTo(cut);
        EXPECT_EQ(0, Run(script, 3)) << LastMessage();
        EXPECT_EQ(laterBefore[cut], TradesClosedBefore(LastTest(), cut));
        const std::vector<std::string> through = TradesClosedBefore(LastTest(), NextDay(cut));
        EXPECT_EQ(0, Run(script, 5)) << LastMessage();
        std::string listed;
        for (int32_t day : {NextDay(cut), NextDay(NextDay(cut)), NextDay(NextDay(NextDay(cut)))}) {
            char file[64];
            snprintf(file, sizeof file, "main_%d_orders.txt", (int)day);
            if (PlatFileExists(tmp.File(std::string("Output\\Orders\\") + file).c_str())) {
                listed = file;
                break;
            }
        }
        ASSERT_FALSE(listed.empty());
        const std::string text = OrdersFile(listed.c_str());
        EXPECT_TRUE(PlatDeleteFile(tmp.File("Output\\Orders\\" + listed).c_str()));
        LoadUpTo(all.back());
        EXPECT_EQ(0, Run(EndingOn(script, cut), 5)) << LastMessage();
        EXPECT_EQ(text, OrdersFile(listed.c_str()));
        EXPECT_EQ(0, Run(EndingOn(script, cut), 3)) << LastMessage();
        EXPECT_EQ(through, TradesClosedBefore(LastTest(), NextDay(cut)));
    }
    /* Both strategies closed trades to compare. */
    const std::vector<std::string> &closed = laterBefore[cuts[0]];
    for (const char *name : {"Day ", "Week "})
        EXPECT_TRUE(std::any_of(closed.begin(), closed.end(), [name](const std::string &t) { return t.rfind(name, 0) == 0; })) << name;
}

/* The days of all that end a period of barSize. */
std::vector<int32_t> PeriodEnds(const std::vector<int32_t> &all, int barSize)
{
    std::vector<int32_t> ends;
    for (size_t k = 0; k < all.size(); k++)
        if (k + 1 < all.size() && ::PeriodOf(all[k + 1], barSize) != ::PeriodOf(all[k], barSize)) ends.push_back(all[k]);
    return ends;
}

/* A run of a weekly, monthly or quarterly bar size, at the end of one of
** its bars: its list holds what the test does in its next bar, on data cut
** there as on all the data with that EndDate.  The next bar's entries at the
** open fill on the order date, those for the next close at the close of the
** bar's last day; the exits of its rule go at the open or at that close; a
** stop is ordered for every position it takes out.  Inside a bar the data
** end on a part-period that is no bar of the orders: every exit listed is of
** a position the test on data that go on holds that day, and a run on all
** the data with that day as its EndDate lists the same. */
TEST_F(OrderIdentityTest, RunsOfEveryBarSizeOrderWhatTheirNextBarDoes)
{
    all = Weekdays(20221003, 20240705);
    market = Waves(all);
    std::map<std::string, int> seen;
    for (int size : {BAR_WEEKLY, BAR_MONTHLY, BAR_QUARTERLY}) {
        const char *names[] = {"", "Weekly", "Monthly", "Quarterly"};
        SCOPED_TRACE(names[size]);
        const std::string script = std::string("Settings:\n  OrdersMode: Text\n  BarSize: ") + names[size] + "\n"
            "Strategy: Open\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n  QtyType: Shares\n"
            "  ExitRule: C < MA(C, 2)\n  ExitTime: NextOpen\n  ExitStop: C * 0.95\n"
            "Strategy: Close\n  EntryTime: NextClose\n  EntrySetup: C < MA(C, 3)\n  Quantity: 10\n  QtyType: Shares\n"
            "  ExitRule: C > O\n  ExitTime: NextClose\n  ExitStop: C * 0.93\n"
            "Strategy: Half\n  EntrySetup: C > MA(C, 3)\n  Quantity: 10\n  QtyType: Shares\n"
            "  ExitStop: C * 0.96\n  ExitStopQty: Shares / 2\n"
            "Strategy: Stop\n  Side: Short\n  EntrySetup: C < MA(C, 2)\n  EntryStop: C * 0.99\n  Quantity: 10\n  QtyType: Shares\n"
            "  ExitStop: C * 1.05\n"
            "Strategy: Now\n  EntryTime: ThisClose\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n  QtyType: Shares\n  ExitStop: C * 0.9\n";
        const std::vector<int32_t> ends = PeriodEnds(all, size);
        for (size_t e = ends.size() - (size == BAR_QUARTERLY ? 5 : 6); e + 1 < ends.size(); e++) {
            const int32_t cut = ends[e], end = ends[e + 1];
            SCOPED_TRACE(cut);
            int32_t day = 0;
            const std::string text = OrdersOnDataTo(cut, script, &day);
            const Orders orders = ParseOrders(text);
            char file[64];
            snprintf(file, sizeof file, "main_%d_orders.txt", (int)day);
            EXPECT_EQ(0, Run(EndingOn(script.c_str(), cut), 5)) << LastMessage();
            EXPECT_EQ(text, OrdersFile(file));
            EXPECT_EQ(0, Run(EndingOn(script.c_str(), end))) << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_TRUE(test);
            std::set<std::string> entered, exited, stopped;
            for (int32_t k = 0; k < test->tradeCount; k++) {
                const TradeRecord *r = &test->trades[k];
                const std::string name = test->strategies[r->strategy].name;
                const std::string key = name + " " + (r->side > 0 ? "L" : "S") + " " + r->symbol;
                const bool close = name == "Close";
                /* A stop entry stays good through the bar. */
                if (name == "Stop" && r->dateIn >= day && r->dateIn <= end) {
                    EXPECT_EQ(1u, orders.entries.count(key + " s")) << key << "\n" << text;
                    seen["Stop entry"]++;
                }
                if (name != "Stop" && r->dateIn == (close ? end : day) && r->timeIn == (close ? PHASE_CLOSE : PHASE_OPEN)) {
                    entered.insert(key + " m");
                    seen[name + " entry"]++;
                }
                if (r->dateIn > cut || r->dateOut <= cut || r->dateOut > end) continue;
                if (r->reason == EXIT_RULE && r->dateOut == (close ? end : day)) {
                    exited.insert(key + (close ? " c" : " m"));
                    seen[name + " rule exit"]++;
                    if (close) {
                        auto after = orders.closeExits.find(key);
                        EXPECT_EQ(std::to_string(end), after == orders.closeExits.end() ? "" : after->second) << key << "\n" << text;
                    }
                } else if (r->reason == EXIT_STOP) {
                    EXPECT_EQ(1u, orders.exits.count(key + " s")) << key << "\n" << text;
                    seen[name + " stop"]++;
                    /* What a stop for half left in an earlier bar. */
                    if (r->quantityIn < 10) seen[name + " rest stop"]++;
                    /* Its exit at the close had no day left to fill on. */
                    stopped.insert(key + " c");
                }
            }
            std::set<std::string> marketEntries, marketExits;
            for (const std::string &o : orders.entries)
                if (o.substr(o.size() - 2) == " m") marketEntries.insert(o);
            for (const std::string &o : orders.exits)
                if ((o.substr(o.size() - 2) == " m" || o.substr(o.size() - 2) == " c") && !stopped.count(o)) marketExits.insert(o);
            EXPECT_EQ(entered, marketEntries) << text;
            EXPECT_EQ(exited, marketExits) << text;
            /* A next-close entry waits for the close of the bar's last day. */
            const std::string onClose = "on close after " + std::to_string(end) + " ";
            std::istringstream section(text.substr(text.find("Close entry orders\n\n") + 20));
            for (std::string line; std::getline(section, line) && line.rfind("    ", 0) == 0;)
                if (line.rfind("    buy ", 0) == 0) {
                    EXPECT_NE(std::string::npos, (line + " ").find(onClose)) << text;
                }
        }
        /* Days inside the last bars: the data end on a part-period. */
        for (int32_t cut : {20240103, 20240206, 20240213, 20240502, 20240612}) {
            if (std::find(ends.begin(), ends.end(), cut) != ends.end()) continue;
            SCOPED_TRACE(cut);
            LoadUpTo(cut);
            EXPECT_EQ(0, Run(script, 5)) << LastMessage();
            size_t next = 0;
            while (all[next] <= cut) next++;
            char file[64];
            snprintf(file, sizeof file, "main_%d_orders.txt", (int)all[next]);
            const std::string text = OrdersFile(file);
            const Orders orders = ParseOrders(text);
            LoadUpTo(all.back());
            /* All the data with that day as the EndDate list the same. */
            EXPECT_EQ(0, Run(EndingOn(script.c_str(), cut), 5)) << LastMessage();
            EXPECT_EQ(text, OrdersFile(file));
            EXPECT_EQ(0, Run(script)) << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_TRUE(test);
            std::set<std::string> held;
            for (int32_t k = 0; k < test->tradeCount; k++) {
                const TradeRecord *r = &test->trades[k];
                if (r->dateIn <= cut && r->dateOut > cut)
                    held.insert(std::string(test->strategies[r->strategy].name) + " " + (r->side > 0 ? "L" : "S") + " " + r->symbol);
            }
            for (const std::string &o : orders.exits) {
                EXPECT_EQ(1u, held.count(o.substr(0, o.rfind(' ')))) << o << "\n" << text;
                seen["inside exit"]++;
            }
            /* The stops in force are those of the last bar that ended: 95% of
            ** its close, to the cent. */
            const int32_t lastEnd = *std::prev(std::lower_bound(ends.begin(), ends.end(), cut));
            size_t at = 0;
            while (all[at] != lastEnd) at++;
            for (const auto &[symbol, bars] : market) {
                auto price = orders.prices.find("Open L " + symbol + " s");
                if (price == orders.prices.end()) continue;
                EXPECT_NEAR(std::floor(bars[at].close * 95 + 0.5 + 1e-6) / 100, price->second, 1e-9) << symbol << "\n" << text;
                seen["inside stop price"]++;
            }
        }
    }
    for (const char *name : {"Open entry", "Close entry", "Open rule exit", "Close rule exit", "Open stop", "Close stop",
                             "Half stop", "Half rest stop", "Stop entry", "inside exit", "inside stop price"})
        EXPECT_GT(seen[name], 0) << name;
}

/* A run of a weekly, monthly or quarterly bar size on data that end inside
** one of its periods, whose last part-period closes above every bar before
** it: the trailing stop and target it lists are those its last whole bar set,
** worked by hand, a split earlier in the period crossed once. */
TEST_F(OrderIdentityTest, ATrailingStopInsideAPeriodWhereTheDataEndIsTheLastWholeBars)
{
    splits = {{"AAA", {}}, {"BBB", {{20240206, 2}}}, {"CCC", {{20240313, 3}}}, {"DDD", {}}, {"EEE", {}}, {"FFF", {}}};
    const char *names[] = {"", "Weekly", "Monthly", "Quarterly"};
    std::map<std::string, int> seen;
    for (int size : {BAR_WEEKLY, BAR_MONTHLY, BAR_QUARTERLY}) {
        SCOPED_TRACE(names[size]);
        const std::string script = std::string("Settings:\n  OrdersMode: Text\n  BarSize: ") + names[size] +
            "\nStrategy: Trail\n  EntrySetup: BarDate = 20231229\n  Quantity: 10\n  QtyType: Shares\n"
            "  ExitStop: MAX(PrevExitStop, C * 0.5)\n  ExitLimit: IF(PrevExitLimit > 0, MIN(PrevExitLimit, C * 2), C * 2)\n";
        for (int32_t cut : {20240207, 20240214, 20240306, 20240314, 20240502, 20240612}) {
            SCOPED_TRACE(cut);
            LoadUpTo(cut);
            EXPECT_EQ(0, Run(script, 5)) << LastMessage();
            char file[64];
            snprintf(file, sizeof file, "main_%d_orders.txt", (int)NextDay(cut));
            const Orders orders = ParseOrders(OrdersFile(file));
            for (const auto &[symbol, bars] : market) {
                bool splitBefore = false;
                const auto [stop, target] = TrailingOrders(*this, symbol, size, 20231229, cut, &splitBefore);
                const std::string key = "Trail L " + symbol;
                EXPECT_NEAR(stop, orders.prices.count(key + " s") ? orders.prices.at(key + " s") : 0, 1e-9) << key;
                EXPECT_NEAR(target, orders.prices.count(key + " l") ? orders.prices.at(key + " l") : 0, 1e-9) << key;
                /* The days of the period so far close above the stop's. */
                size_t at = 0;
                while (all[at] < cut) at++;
                double after = 1;
                for (auto [date, ratio] : splits.at(symbol))
                    if (date > cut) after *= ratio;
                if (bars[at].close * after * 0.5 > stop + 0.01) seen[names[size]]++;
            }
        }
    }
    for (const char *name : {"Weekly", "Monthly", "Quarterly"}) EXPECT_GT(seen[name], 0) << name;
}

/* A weekly to quarterly strategy of a daily run that enters and leaves by
** its rule at the next close: at the end of a period its list orders the
** entry for the close of the next period's first day and, with it, the exit
** its rule decides for the close of that period's last day, which no list
** inside the period orders; a position held already gets that exit alone. */
TEST_F(OrderIdentityTest, ALongerBarsNextCloseExitIsOrderedWithItsPeriod)
{
    all = Weekdays(20230102, 20240705);
    market = Waves(all);
    const char script[] =
        "Settings:\n  OrdersMode: Text\n"
        "Strategy: WeekNC\n  BarSize: Weekly\n  EntryTime: NextClose\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n"
        "  QtyType: Shares\n  ExitRule: C < MA(C, 3)\n  ExitTime: NextClose\n"
        "Strategy: MonthNC\n  BarSize: Monthly\n  EntryTime: NextClose\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n"
        "  QtyType: Shares\n  ExitRule: C < MA(C, 3)\n  ExitTime: NextClose\n"
        "Strategy: QtrNC\n  BarSize: Quarterly\n  EntryTime: NextClose\n  EntrySetup: C > MA(C, 2)\n  Quantity: 10\n"
        "  QtyType: Shares\n  ExitRule: C < MA(C, 3)\n  ExitTime: NextClose\n";
    const char *names[] = {"", "WeekNC", "MonthNC", "QtrNC"};
    std::map<std::string, int> seen;
    for (int size : {BAR_WEEKLY, BAR_MONTHLY, BAR_QUARTERLY}) {
        const std::vector<int32_t> ends = PeriodEnds(all, size);
        for (size_t e = ends.size() - 5; e + 1 < ends.size(); e++) {
            const int32_t cut = ends[e], end = ends[e + 1];
            SCOPED_TRACE(cut);
            int32_t day = 0;
            const std::string text = OrdersOnDataTo(cut, script, &day);
            const Orders orders = ParseOrders(text);
            EXPECT_EQ(0, Run(EndingOn(script, end))) << LastMessage();
            const TestRecord *test = LastTest();
            ASSERT_TRUE(test);
            std::set<std::string> leaving;
            for (int32_t k = 0; k < test->tradeCount; k++) {
                const TradeRecord *r = &test->trades[k];
                if (test->strategies[r->strategy].name != std::string(names[size])) continue;
                if (r->reason != EXIT_RULE || r->dateOut != end || r->dateIn > day) continue;
                const std::string key = std::string(names[size]) + " L " + r->symbol + (r->dateIn == day ? " child" : "");
                leaving.insert(key);
                seen[r->dateIn == day ? "child" : "held"]++;
            }
            std::set<std::string> ordered;
            for (const auto &[key, after] : orders.closeExits) {
                if (key.compare(0, strlen(names[size]) + 1, std::string(names[size]) + " ") != 0) continue;
                ordered.insert(key);
                EXPECT_EQ(std::to_string(end), after) << key << "\n" << text;
            }
            EXPECT_EQ(leaving, ordered) << text;
        }
    }
    EXPECT_GT(seen["child"], 0);
    EXPECT_GT(seen["held"], 0);
}

} // namespace
