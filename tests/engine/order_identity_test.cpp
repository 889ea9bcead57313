/* The orders written with the data up to a day against the entries and
** exits of a test with one more day, for strategies of every bar size. */
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "engine_fixture.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "platform/platform.h"
#include "script/builtins/builtins.h"
#include "script/compiler/side_files.h"
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

/* One strategy per bar size and entry form; every one holds few shares, so
** that no limit of the account decides. */
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
    "  ExitStop: C * 0.8\n";

struct OrderIdentityTest : OrdersTest {
    std::vector<int32_t> all;
    std::vector<std::pair<std::string, std::vector<DayBar>>> market;
    void SetUp() override
    {
        OrdersTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
        all = Weekdays(20231101, 20240705);
        market = Waves(all);
    }
    /* The data up to and including day. */
    void LoadUpTo(int32_t day)
    {
        std::vector<int32_t> d;
        for (int32_t x : all)
            if (x <= day) d.push_back(x);
        std::vector<std::pair<std::string, std::vector<DayBar>>> cut;
        for (auto &s : market) cut.push_back({s.first, std::vector<DayBar>(s.second.begin(), s.second.begin() + d.size())});
        LoadStore(d, cut);
    }
};

/* "strategy side symbol kind" of every order line: kind m (market), l
** (limit), s (stop), sl (stop limit); entries and exits apart. */
struct Orders {
    std::set<std::string> entries, exits;
    std::map<std::string, double> prices; /* of the limit and stop exits */
    std::string strayChildren;            /* child exits of another symbol than their entry's */
    std::string childless;                /* market entries with no child exit after them */
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
        if (action == "child:") {
            /* A child exit belongs to the entry just listed. */
            words >> word >> symbol;
            if (symbol != lastEntry) out.strayChildren += line + "\n";
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
        std::string side = action == "buy" || action == "sell" ? "L" : "S";
        std::string key = strategy + " " + side + " " + symbol + " " + kind;
        (entries ? out.entries : out.exits).insert(key);
        if (entries && kind == "m") waiting = key + ";";
        if (!entries && (kind == "l" || kind == "s")) {
            words >> word;
            out.prices[key] = atof(word.c_str());
        }
    }
    return out;
}

TEST_F(OrderIdentityTest, OrdersEqualTheNextDaysTest)
{
    /* Fridays, month and quarter ends, and days inside every period. */
    const int32_t cuts[] = {20231229, 20240202, 20240206, 20240229, 20240308, 20240313, 20240328, 20240329, 20240405, 20240409,
                            20240430, 20240502, 20240531, 20240604, 20240614, 20240628, 20240702};
    std::string names[7] = {"DayMkt", "DayLmtShort", "WeekMkt", "WeekStop", "MonthShort", "QtrLong", "WeekHold"};
    std::map<std::string, int> seen;
    for (int32_t cut : cuts) {
        SCOPED_TRACE(cut);
        LoadUpTo(cut);
        ASSERT_EQ(0, Run(kScript, 5)) << LastMessage();
        size_t next = 0;
        while (all[next] <= cut) next++;
        int32_t day = all[next];
        char file[64];
        snprintf(file, sizeof file, "main_%d_orders.txt", (int)day);
        std::string text = OrdersFile(file);
        Orders orders = ParseOrders(text);

        LoadUpTo(day);
        ASSERT_EQ(0, Run(kScript)) << LastMessage();
        const TestRecord *test = LastTest();
        ASSERT_NE(nullptr, test);
        /* What the test did on the day: entries, and the exits of positions
        ** held before it (a new entry's own bracket has no order yet). */
        std::set<std::string> entered, exited;
        const char *kinds[] = {"", "m", "l", "s"};
        for (int32_t t = 0; t < test->tradeCount; t++) {
            const TradeRecord *r = &test->trades[t];
            std::string key = names[r->strategy] + " " + (r->side > 0 ? "L" : "S") + " " + r->symbol;
            if (r->dateIn == day) entered.insert(key);
            if (r->dateOut == day && r->dateIn < day && r->reason >= 1 && r->reason <= 3) {
                exited.insert(key + " " + kinds[r->reason]);
                /* A limit or stop fills at its price, or at an open beyond it. */
                double open = gStore.symbols[r->symbolNumber - 1].bars[BAR_DAILY][next].open;
                if (r->reason > 1 && r->priceOut != open)
                    EXPECT_NEAR(r->priceOut, orders.prices[key + " " + kinds[r->reason]], 0.001) << key << "\n"
                                                                                                 << text;
            }
        }
        /* Every entry and exit of the test was ordered, every market order
        ** was taken; a limit or stop may stay unfilled. */
        std::string missing, extra;
        for (const std::string &e : entered) {
            bool ordered = false;
            for (const char *k : {" m", " l", " s", " sl"}) ordered = ordered || orders.entries.count(e + k);
            if (!ordered) missing += "entry " + e + ";";
        }
        for (const std::string &e : exited)
            if (!orders.exits.count(e)) missing += "exit " + e + ";";
        for (const std::string &o : orders.entries)
            if (o.substr(o.size() - 2) == " m" && !entered.count(o.substr(0, o.size() - 2))) extra += "entry " + o + ";";
        for (const std::string &o : orders.exits)
            if (o.substr(o.size() - 2) == " m" && !exited.count(o)) extra += "exit " + o + ";";
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
        EXPECT_EQ("", missing) << text;
        /* A market entry at the open carries its exits as child orders (a
        ** text list is written as if by a template with id and parent);
        ** DayMkt has no limit or stop to give. */
        EXPECT_EQ("", orders.strayChildren) << text;
        std::string childless;
        for (size_t at = 0; at < orders.childless.size(); at = orders.childless.find(';', at) + 1)
            if (orders.childless.compare(at, 7, "DayMkt ") != 0)
                childless += orders.childless.substr(at, orders.childless.find(';', at) + 1 - at);
        EXPECT_EQ("", childless) << text;
        EXPECT_EQ("", extra) << text;
        for (const std::string &e : entered) seen[e.substr(0, e.find(' '))] += 1;
        for (const std::string &e : exited) seen[e.substr(0, e.find(' ')) + " exit " + e.substr(e.rfind(' ') + 1)] += 1;
    }
    /* The days tried hold entries of every strategy and exits of every kind. */
    for (const std::string &name : names) EXPECT_GT(seen[name], 0) << name;
    for (const char *exit : {"DayMkt exit m", "WeekMkt exit m", "WeekMkt exit s", "MonthShort exit s", "QtrLong exit l"})
        EXPECT_GT(seen[exit], 0) << exit;
}

} // namespace
