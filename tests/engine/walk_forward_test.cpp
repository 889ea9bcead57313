/* A script's walk-forward values, date by date, in every mode that plays
** them: an optimization's two playbacks, a test in sample and out of
** sample, and the orders of the day after a run. */
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/optimizer.h"
#include "engine/results_file.h"
#include "engine/run_view_hooks.h"
#include "engine_fixture.h"
#include "foundation/settings_table.h"
#include "script/builtins/builtins.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"

namespace {

struct WalkForwardTest : OrdersTest {
    void SetUp() override
    {
        OrdersTest::SetUp();
        ASSERT_TRUE(InstallBuiltins());
        InstallRunViewHooks();
        gRun.unattended = 1;
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    }
    void TearDown() override
    {
        ResetOptimizer();
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
        gRunViewHooks = {};
        OrdersTest::TearDown();
    }
};

/* A WalkForward section as a script holds it: the first date of every
** interval, then the last interval's own last day; one value per interval. */
struct Section {
    std::string text;
    std::vector<int32_t> dates;
    std::vector<double> values;
};

/* The section an optimization appended to the script text. */
Section ReadSection(const std::string &script)
{
    Section s;
    const size_t at = script.find("\nWalkForward:");
    if (at == std::string::npos) return s;
    s.text = script.substr(at);
    size_t line = s.text.find("Dates:");
    for (size_t k = s.text.find_first_of("0123456789", line); k < s.text.find('\n', line);
         k = s.text.find_first_of("0123456789", k + 10)) {
        int y = 0, m = 0, d = 0;
        sscanf(s.text.c_str() + k, "%4d-%2d-%2d", &y, &m, &d);
        s.dates.push_back(y * 10000 + m * 100 + d);
    }
    line = s.text.find("\tP:");
    for (const char *p = s.text.c_str() + line + 3; *p && *p != '\r' && *p != '\n';) {
        char *end = nullptr;
        double v = strtod(p, &end);
        if (end == p) {
            p++;
            continue;
        }
        s.values.push_back(v);
        p = end;
    }
    return s;
}

/* The value a date plays, from the section alone: in interval k from its
** first date on; the last date is still the last interval's, and after it
** comes one more, which only an out-of-sample run has a value for.  Out of
** sample an interval plays the values the interval before chose; without
** a value the parameter's own is played. */
double ValueOn(const Section &s, int32_t date, bool outOfSample, double own)
{
    const size_t n = s.dates.size() - 1;
    size_t k = 0;
    for (size_t i = 1; i < n; i++)
        if (date >= s.dates[i]) k = i;
    if (date > s.dates[n]) k = n;
    if (outOfSample) return k >= 1 ? s.values[k - 1] : own;
    return k < n ? s.values[k] : own;
}

/* Every trade of a test bought the value of its entry day; an entry at the
** open of a period that began before the run's first day (from), that of
** the first day. */
void ExpectValuesPlayed(const TestRecord *test, const Section &s, bool outOfSample, const char *what, int32_t from = 0)
{
    ASSERT_NE(nullptr, test) << what;
    ASSERT_GT(test->tradeCount, 0) << what;
    for (int32_t t = 0; t < test->tradeCount; t++)
        EXPECT_EQ(ValueOn(s, std::max(from, test->trades[t].dateIn), outOfSample, 3), test->trades[t].quantityIn)
            << what << ", entered on " << test->trades[t].dateIn;
}

/* A section written by hand, P's values in it. */
Section HandSection(const std::vector<int32_t> &dates, const std::vector<double> &values)
{
    Section s{"\nWalkForward:\n  Dates:", dates, values};
    for (size_t k = 0; k < dates.size(); k++) s.text += (k ? ", " : " ") + std::to_string(dates[k]);
    s.text += "\n  P:";
    for (size_t k = 0; k < values.size(); k++) s.text += (k ? ", " : " ") + std::to_string((int)values[k]);
    s.text += "\n";
    return s;
}

/* Daily bars of UPDN on every weekday from..to, wandering up and down. */
std::vector<DayBar> WanderingBars(const std::vector<int32_t> &days)
{
    std::vector<DayBar> bars;
    uint32_t state = 11;
    double price = 40;
    for (int32_t d : days) {
        state = state * 1103515245u + 12345u;
        const double open = price;
        price *= 1.0 + 0.02 * (((state >> 16) % 2001) / 1000.0 - 1.0);
        bars.push_back(DayBar{d, open, std::max(open, price), std::min(open, price), price});
    }
    return bars;
}

/* The entries of a test: day and shares. */
std::vector<std::pair<int32_t, double>> Entries(const TestRecord *test)
{
    std::vector<std::pair<int32_t, double>> entries;
    for (int32_t t = 0; test && t < test->tradeCount; t++) entries.push_back({test->trades[t].dateIn, test->trades[t].quantityIn});
    return entries;
}

/* A probe buys P shares of UPDN at every open (every week's first open for
** the weekly one) and sells them at the next, so each trade's quantity is
** the value in effect on its entry day; P's own value, 3, is never an
** interval's best, which the net profit makes 1 or 5.  For every time unit,
** with no anchor and OptAnchor: Start, an optimization's section is played
** by its two playbacks, by tests of every StartDate and EndDate on and
** around the second, the last interval's first and the last date (in sample
** and out of sample; the weekly probe in a daily run and in a weekly run
** alike), and by the orders of a run that ends on and around each date,
** whose entry is what the next day's test buys. */
TEST_F(WalkForwardTest, EveryModePlaysTheValueOfTheIntervalEachDateBelongsTo)
{
    std::vector<int32_t> days = Weekdays(20100104, 20130628);
    LoadStore(days, {{"UPDN", WanderingBars(days)}});
    auto dayAfter = [&](int32_t d, int n) {
        auto at = std::lower_bound(days.begin(), days.end(), d) - days.begin();
        return days[(size_t)(at + n)];
    };
    /* Each probe twice: sized by P, and by a Data item that reads P, which
    ** the data calculated for the interval's values hold. */
    auto probes = [](const char *barSize) {
        std::string text = "Data:\n  Q: P\n";
        for (const char *quantity : {"P", "Q"})
            text += std::string("Strategy: By") + quantity + "\n  BarSize: " + barSize +
                "\n  EntrySetup: 1\n  ExitRule: 1\n  Quantity: " + quantity + "\n  QtyType: Shares\n";
        return text;
    };
    const std::string body = "Parameters:\n  P: 3, 1, 5\nResults:\n  Value: P {#}\n  Score: S.NetAmt {#}\n" + probes("Daily");
    const std::string weekly = "Parameters:\n  P: 3, 1, 5\n" + probes("Weekly");
    const struct {
        const char *unit;
        int length;
    } units[] = {{"Days", 150}, {"Weeks", 30}, {"Months", 7}, {"Years", 1}};
    for (const auto &u : units) {
        for (const char *anchor : {"None", "Start"}) {
            SCOPED_TRACE(std::string(u.unit) + ", anchor " + anchor);
            ResetOptimizer();
            while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
            const std::string length = std::to_string(u.length);
            ASSERT_EQ(0, Run(std::string("Settings:\n  BarSize: Daily\n  StartDate: 2010-01-04\n  EndDate: 2012-12-31\n  OptTimeUnit: ") + u.unit +
                                 "\n  OptTestLength: " + length + "\n  OptTestInterval: " + length + "\n  OptAnchor: " + anchor +
                                 "\n  OptWalkForward: True\n  OptKeepNoTrades: True\n  OptScoreCol: Score\n" + body,
                             RUN_MODE_OPTIMIZE))
                << LastMessage();
            const Section s = ReadSection(ReadTestFile(scripts + "\\main.kvs"));
            const size_t n = s.dates.size() - 1;
            ASSERT_GE(s.dates.size(), 4u) << s.text;
            ASSERT_EQ(n, s.values.size()) << s.text;
            EXPECT_NE(s.values.end(), std::find(s.values.begin(), s.values.end(), 1.0)) << s.text;
            EXPECT_NE(s.values.end(), std::find(s.values.begin(), s.values.end(), 5.0)) << s.text;
            const TestRecord *playback = LastTest();
            ASSERT_NE(nullptr, playback);
            ExpectValuesPlayed(playback->previous, s, false, "in-sample playback");
            ExpectValuesPlayed(playback, s, true, "out-of-sample playback");

            const int32_t later = s.dates[n - 1], last = s.dates[n];
            const int32_t starts[] = {0, dayAfter(later, -1), later, dayAfter(later, 1)};
            const int32_t ends[] = {dayAfter(s.dates[1], -1), s.dates[1], dayAfter(s.dates[1], 1), dayAfter(last, -1), last,
                                    dayAfter(last, 1), 0};
            for (int32_t start : starts) {
                for (int32_t end : ends) {
                    /* An out-of-sample test needs a date to begin on; the
                    ** later starts go with the ends around the last date. */
                    if (end && (start > end || (start && end < later))) continue;
                    const std::string what = "test from " + std::to_string(start) + " to " + std::to_string(end);
                    /* A run's BarSize stays for the next run that names none. */
                    auto settings = [start, end](const char *barSize) {
                        return std::string("Settings:\n  BarSize: ") + barSize + "\n" +
                            (start ? "  StartDate: " + std::to_string(start) + "\n" : "") +
                            (end ? "  EndDate: " + std::to_string(end) + "\n" : "");
                    };
                    const int32_t listed = Listed();
                    ASSERT_EQ(0, Run(settings("Daily") + body + s.text)) << what << ": " << LastMessage();
                    const TestRecord *test = LastTest();
                    ASSERT_NE(nullptr, test);
                    if (end && end < s.dates[1]) {
                        /* Ended before any out-of-sample date: the in-sample test stands alone. */
                        EXPECT_EQ(listed + 1, Listed()) << what;
                        ExpectValuesPlayed(test, s, false, (what + ", in sample").c_str());
                        EXPECT_NE(std::string::npos, std::string(LastNotice()).find("No out-of-sample test")) << LastNotice();
                        continue;
                    }
                    ExpectValuesPlayed(test->previous, s, false, (what + ", in sample").c_str());
                    ExpectValuesPlayed(test, s, true, (what + ", out of sample").c_str());
                    if (end != last && end != dayAfter(last, 1)) continue;
                    if (start && start != later) continue;
                    /* The weekly strategy makes the same entries in a run of its
                    ** own bar size as in a daily run. */
                    ASSERT_EQ(0, Run(settings("Daily") + weekly + s.text)) << what << ": " << LastMessage();
                    const TestRecord *daily = LastTest();
                    ExpectValuesPlayed(daily->previous, s, false, (what + ", weekly in sample").c_str());
                    ExpectValuesPlayed(daily, s, true, (what + ", weekly out of sample").c_str());
                    const auto inSample = Entries(daily->previous), outOfSample = Entries(daily);
                    ASSERT_EQ(0, Run(settings("Weekly") + weekly + s.text)) << what << ": " << LastMessage();
                    const TestRecord *own = LastTest();
                    ExpectValuesPlayed(own->previous, s, false, (what + ", weekly run in sample").c_str());
                    ExpectValuesPlayed(own, s, true, (what + ", weekly run out of sample").c_str());
                    /* A weekly run ends with the last week its EndDate completes. */
                    auto through = [own](std::vector<std::pair<int32_t, double>> entries) {
                        while (!entries.empty() && entries.back().first > own->lastDate) entries.pop_back();
                        return entries;
                    };
                    EXPECT_EQ(through(inSample), Entries(own->previous)) << what << ", weekly run in sample";
                    EXPECT_EQ(through(outOfSample), Entries(own)) << what << ", weekly run out of sample";
                }
            }
            /* The orders of the day after a run's end buy what that day's test buys. */
            std::vector<int32_t> orderEnds = {dayAfter(last, -1), last, dayAfter(last, 1)};
            /* An orders run plays out of sample, which begins on the second
            ** date; one that ends before it plays from its own start, where the
            ** first interval has no value out of sample. */
            for (size_t k = 1; k < n; k++)
                for (int step : {-1, 0, 1}) orderEnds.push_back(dayAfter(s.dates[k], step));
            orderEnds.push_back(dayAfter(s.dates[1], -5));
            /* And a short window inside a later interval. */
            std::vector<std::pair<int32_t, int32_t>> windows = {{dayAfter(later, 1), dayAfter(later, 2)}};
            for (int32_t end : orderEnds) windows.push_back({0, end});
            for (auto [start, end] : windows) {
                SCOPED_TRACE("orders of a run from " + std::to_string(start) + " to " + std::to_string(end));
                ASSERT_EQ(0, Run("Settings:\n  BarSize: Daily\n  OrdersMode: Text\n" +
                                     (start ? "  StartDate: " + std::to_string(start) + "\n" : "") +
                                     "  EndDate: " + std::to_string(end) + "\n" + body + s.text,
                                 RUN_MODE_ORDERS))
                    << LastMessage();
                const int32_t orderDate = gRun.orderDate;
                ASSERT_EQ(dayAfter(end, 1), orderDate);
                const std::string orders = OrdersFile(("main_" + std::to_string(orderDate) + "_orders.txt").c_str());
                int buys = 0;
                for (size_t buy = orders.find("    buy "); buy != std::string::npos; buy = orders.find("    buy ", buy + 1), buys++)
                    EXPECT_EQ(ValueOn(s, orderDate, true, 3), atof(orders.c_str() + buy + 8)) << orders;
                EXPECT_EQ(2, buys) << orders;
            }
        }
    }
}

/* A weekly to yearly run plays at its first period's open the values of its
** first day, not of its first row's date, the period's last day: in sample
** from a StartDate on a period's first day with the second date inside that
** period, and out of sample from a second date on a period's first day with
** the third inside it.  A run that ends before the second date, inside its
** period or on the period before, has no out-of-sample date: its in-sample
** test stands, and its orders are made. */
TEST_F(WalkForwardTest, ALongerRunPlaysFromItsFirstDayAndOneEndingEarlyKeepsItsInSampleTest)
{
    std::vector<int32_t> days = Weekdays(20100104, 20141231);
    LoadStore(days, {{"UPDN", WanderingBars(days)}});
    const struct {
        const char *barSize;
        int32_t first, inside; /* a period's first day and a later day of it */
    } periods[] = {{"Weekly", 20120409, 20120411},
                   {"Monthly", 20120501, 20120510},
                   {"Quarterly", 20120402, 20120501},
                   {"Yearly", 20120102, 20120301}};
    for (const auto &p : periods) {
        SCOPED_TRACE(p.barSize);
        const std::string probe = std::string("Parameters:\n  P: 3, 1, 5\nStrategy: Probe\n  BarSize: ") + p.barSize +
            "\n  EntrySetup: 1\n  ExitRule: 1\n  Quantity: P\n  QtyType: Shares\n";
        auto settings = [&p](int32_t start, int32_t end) {
            return std::string("Settings:\n  BarSize: ") + p.barSize + "\n  OrdersMode: Text\n" +
                (start ? "  StartDate: " + std::to_string(start) + "\n" : "") +
                (end ? "  EndDate: " + std::to_string(end) + "\n" : "");
        };
        /* Entered at the first period's open, on the run's first day. */
        auto firstEntryPlays11 = [&p](const TestRecord *test) {
            ASSERT_TRUE(test && test->tradeCount > 0);
            EXPECT_EQ(p.first, test->trades[0].dateIn);
            EXPECT_EQ(11, test->trades[0].quantityIn);
        };
        const Section within = HandSection({20100104, p.inside, 20131231}, {11, 22});
        ASSERT_EQ(0, Run(settings(p.first, 0) + probe + within.text));
        firstEntryPlays11(LastTest()->previous);
        ExpectValuesPlayed(LastTest()->previous, within, false, "in sample", p.first);
        ExpectValuesPlayed(LastTest(), within, true, "out of sample", p.inside);
        const Section later = HandSection({20100104, p.first, p.inside, 20131231}, {11, 22, 33});
        ASSERT_EQ(0, Run(settings(0, 0) + probe + later.text));
        firstEntryPlays11(LastTest());
        ExpectValuesPlayed(LastTest()->previous, later, false, "in sample");
        ExpectValuesPlayed(LastTest(), later, true, "out of sample", p.first);

        /* Ends inside the second date's period, the day before it (its last
        ** bar the part-period up to that day), or on the period before. */
        const auto at = std::lower_bound(days.begin(), days.end(), p.inside);
        const int32_t periodBefore = *std::prev(std::lower_bound(days.begin(), days.end(), p.first));
        for (int32_t end : {*std::prev(at), periodBefore}) {
            SCOPED_TRACE(end);
            const int32_t listed = Listed();
            ASSERT_EQ(0, Run(settings(0, end) + probe + within.text)) << LastMessage();
            EXPECT_EQ(listed + 1, Listed());
            EXPECT_EQ(end, LastTest()->lastDate);
            ExpectValuesPlayed(LastTest(), within, false, "in sample of a run ending early");
            EXPECT_NE(std::string::npos, std::string(LastNotice()).find("No out-of-sample test")) << LastNotice();
        }
        /* (Inside a period a run of its bar size orders no entries.) */
        ASSERT_EQ(0, Run(settings(0, periodBefore) + probe + within.text, RUN_MODE_ORDERS)) << LastMessage();
        const std::string orders = OrdersFile(("main_" + std::to_string(gRun.orderDate) + "_orders.txt").c_str());
        const size_t buy = orders.find("    buy ");
        ASSERT_NE(std::string::npos, buy) << orders;
        EXPECT_EQ(ValueOn(within, gRun.orderDate, true, 3), atof(orders.c_str() + buy + 8)) << orders;
    }
}

/* A section whose dates do not follow each other is a script error that
** names the date. */
TEST_F(WalkForwardTest, DatesOutOfOrderAreAScriptError)
{
    LoadFlat("UPDN", 20100104, 20121231);
    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(-1, Run("Parameters:\n  P: 3, 1, 5\nStrategy: Probe\n  EntrySetup: 1\n  ExitRule: 1\n  Quantity: P\n"
                      "WalkForward:\n  Dates: 2010-01-04, 2012-01-03, 2011-01-03, 2012-12-31\n  P: 11, 22, 33\n"));
    EXPECT_EQ(RESULT_COMPILE_FAILURE, gRun.resultCode.load());
    EXPECT_EQ(0, Listed());
    const std::string log = ReadTestFile(tmp.File("errorlog.txt"));
    EXPECT_NE(std::string::npos, log.find("The walk-forward date 2011-01-03 does not come after")) << log;
}

} // namespace
