/* Symbol store: name search, bar lookups, calendar pseudo-symbol, currency. */
#include <atomic>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "marketdata/store/symbols.h"
#include "script/eval/eval_context.h"
#include "script/eval/value_access.h"
#include "shell/headless/headless.h"
#include "store_fixture.h"

namespace {

const std::initializer_list<int32_t> kClosed2024 = {20240101, 20240115, 20240329, 20240704, 20241225};

struct LookupTest : StoreTest {
    std::vector<int32_t> days;
    SymbolRecord *spy = nullptr;
    void SetUp() override
    {
        StoreTest::SetUp();
        days = MarketDays(20240101, 20241231, kClosed2024);
        SetMasterDates(days);
        SymbolRecord r;
        MakeSymbol(&r, "SPY", days, 100.0);
        InstallSymbols({r});
        spy = &gStore.symbols[0];
    }
    int32_t DateOf(int barSize, int index)
    {
        int32_t count;
        Bar *bars = GetBarArray(spy, barSize, &count);
        return index >= 0 && index < count ? bars[index].date : 0;
    }
};

TEST_F(StoreTest, SymbolSearchFoldsCaseLikeTheSort)
{
    /* '_' and '[' sort before letters only when letters fold to lower case;
    ** the search must agree with the sort on every one of them. */
    const char *names[] = {"AZ", "A_", "A[", "a.b", "AB", "msft", "IBM", "Z9", "_X"};
    std::vector<SymbolRecord> records;
    for (const char *n : names) {
        SymbolRecord r;
        MakeSymbol(&r, n, {}, 0);
        records.push_back(r);
    }
    InstallSymbols(records);
    for (int i = 1; i < gStore.symbolCount; i++)
        EXPECT_LT(CompareSymbolNames(&gStore.symbols[i - 1], &gStore.symbols[i]), 0) << gStore.symbols[i].info.Symbol;
    EXPECT_LT(CompareSymbolText("A_", "AZ"), 0);
    for (const char *n : names) {
        std::string upper = n, lower = n;
        for (char &c : upper) c = (char)toupper((unsigned char)c);
        for (char &c : lower) c = (char)tolower((unsigned char)c);
        int number = FindSymbolIndex(n);
        ASSERT_GT(number, 0) << n;
        EXPECT_STREQ(gStore.symbols[number - 1].info.Symbol, n);
        EXPECT_EQ(FindSymbolIndex(upper.c_str()), number) << n;
        EXPECT_EQ(FindSymbolIndex(lower.c_str()), number) << n;
    }
    EXPECT_EQ(FindSymbolIndex("QQQ"), 0);
    EXPECT_EQ(FindSymbolIndex(""), 0);
    EXPECT_EQ(FindSymbolIndex(nullptr), 0);
}

TEST_F(LookupTest, FindsTheBarOfEachSizeAndPhase)
{
    static const struct {
        int barSize;
        int32_t date;
        int phase;
        int32_t want; /* date of the bar found, 0 for none */
    } kCases[] = {
        {BAR_DAILY, 20240105, PHASE_CLOSE, 20240105},
        {BAR_DAILY, 20240106, PHASE_CLOSE, 0}, /* Saturday */
        {BAR_DAILY, 20240115, PHASE_OPEN, 0},  /* holiday */
        {BAR_DAILY, 20231229, PHASE_CLOSE, 0}, /* before the first date */
        {BAR_DAILY, 20250102, PHASE_CLOSE, 0}, /* after the last date */
        {BAR_WEEKLY, 20231229, PHASE_CLOSE, 0},
        {BAR_YEARLY, 20250102, PHASE_CLOSE, 0},
        {BAR_WEEKLY, 20240110, PHASE_CLOSE, 20240112}, /* Wednesday: its week's bar */
        {BAR_WEEKLY, 20240108, PHASE_OPEN, 20240112},  /* first market date of the week */
        {BAR_WEEKLY, 20240110, PHASE_OPEN, 20240112},
        {BAR_WEEKLY, 20240110, PHASE_NONE, 20240112},
        {BAR_WEEKLY, 20240117, PHASE_INTRADAY, 0}, /* the week is not over */
        {BAR_WEEKLY, 20240112, PHASE_INTRADAY, 20240112},
        {BAR_WEEKLY, 20240116, PHASE_OPEN, 20240119}, /* Tuesday after a Monday holiday */
        {BAR_WEEKLY, 20240115, PHASE_OPEN, 0},        /* the holiday opens no week */
        {BAR_MONTHLY, 20240215, PHASE_CLOSE, 20240229},
        {BAR_QUARTERLY, 20240215, PHASE_CLOSE, 20240328},
        {BAR_YEARLY, 20240601, PHASE_CLOSE, 20241231},
        {BAR_WEEKLY, 20241228, PHASE_CLOSE, 20241231}, /* Saturday before the last week */
        {BAR_WEEKLY, 20241231, PHASE_CLOSE, 20241231},
        {7, 20240105, PHASE_CLOSE, 20240105}, /* unknown sizes are daily */
    };
    for (const auto &c : kCases) {
        Bar *bar = (Bar *)1;
        int index = FindBarIndex(spy, c.barSize, c.date, c.phase, 0, &bar);
        SCOPED_TRACE(testing::Message() << "size " << c.barSize << " date " << c.date << " phase " << c.phase);
        if (c.want == 0) {
            EXPECT_EQ(index, -1);
            EXPECT_EQ(bar, nullptr);
        } else {
            ASSERT_GE(index, 0);
            EXPECT_EQ(DateOf(c.barSize, index), c.want);
            EXPECT_EQ(bar, &GetBarArray(spy, c.barSize, nullptr)[index]);
        }
    }
}

TEST_F(LookupTest, DateInTheFirstPeriodNeverFindsTheNextPeriod)
{
    /* A symbol that starts trading on a Wednesday in the middle of a week,
    ** month, quarter and year: its first date lies before each first bar. */
    SymbolRecord late;
    MakeSymbol(&late, "LATE", std::vector<int32_t>(days.begin() + 45, days.end()), 10.0);
    ASSERT_EQ(late.firstDate, 20240306);
    const int32_t firstBar[BAR_SIZE_COUNT] = {20240306, 20240308, 20240328, 20240328, 20241231};
    for (int size = BAR_WEEKLY; size <= BAR_YEARLY; size++)
        for (int phase = PHASE_NONE; phase <= PHASE_CLOSE; phase++)
            for (int32_t date : {20240306, 20240307}) {
                /* a hint left far ahead by an earlier lookup must not matter */
                late.barHints[3] = 1000;
                Bar *bar = nullptr;
                int index = FindBarIndex(&late, size, date, phase, 3, &bar);
                SCOPED_TRACE(testing::Message() << "size " << size << " phase " << phase << " date " << date);
                ASSERT_EQ(index, 0);
                EXPECT_EQ(bar->date, firstBar[size]);
            }
    for (int size = 0; size < BAR_SIZE_COUNT; size++) FreeMemory(&late.bars[size]);
}

TEST_F(LookupTest, HintsChangeNoResult)
{
    /* Walking every calendar day forwards and backwards with the slot's own
    ** hint gives the answer of a lookup from any other starting point. */
    std::mt19937 random(7);
    for (int size = 0; size < BAR_SIZE_COUNT; size++)
        for (int phase = PHASE_NONE; phase <= PHASE_CLOSE; phase++)
            for (int backwards = 0; backwards < 2; backwards++) {
                int32_t date = backwards ? 20250105 : 20231225;
                for (int step = 0; step < 380; step++) {
                    int walked = FindBarIndex(spy, size, date, phase, 1, nullptr);
                    int32_t count = spy->barCounts[size];
                    int hints[] = {-5, 0, count - 1, count, 1 << 20, (int)(random() % (count + 1))};
                    for (int h : hints) {
                        spy->barHints[2] = h;
                        ASSERT_EQ(FindBarIndex(spy, size, date, phase, 2, nullptr), walked)
                            << "size " << size << " phase " << phase << " date " << date << " hint " << h;
                    }
                    date = backwards ? PrevDay(date) : NextDay(date);
                }
            }
    /* a slot outside 0..31 falls back to slot 0 instead of writing elsewhere */
    EXPECT_EQ(FindBarIndex(spy, BAR_DAILY, 20240105, PHASE_CLOSE, 32, nullptr), 3);
    EXPECT_EQ(FindBarIndex(spy, BAR_DAILY, 20240105, PHASE_CLOSE, -1, nullptr), 3);
}

TEST_F(StoreTest, ADayCursorAnswersAsTheSearchAndLeavesTheSameTraces)
{
    /* Two copies of a symbol with missing weekdays and untraded first bars:
    ** one walked by its cursor, the other by the search, both on slot 2. */
    std::vector<int32_t> market = MarketDays(20240101, 20240329, kClosed2024), days;
    for (size_t i = 0; i < market.size(); i++)
        if (i % 9 != 4) days.push_back(market[i]);
    std::vector<double> volumes(days.size(), 300.0);
    for (int i = 0; i < 6; i++) volumes[(size_t)i] = 0.0;
    SymbolRecord a, b;
    MakeSymbol(&a, "A", days, 5.0, volumes);
    MakeSymbol(&b, "B", days, 5.0, volumes);
    InstallSymbols({a, b});
    SymbolRecord *stepped = &gStore.symbols[0], *searched = &gStore.symbols[1];
    DayCursor cursor{};
    /* Every calendar day from before the first bar to after the last, each
    ** looked up three times, then a walk that starts again further back. */
    std::vector<int32_t> walk;
    for (int32_t d = 20231227; d <= 20240405; d = NextDay(d)) walk.push_back(d);
    for (int32_t d = 20240212; d <= 20240305; d = NextDay(d)) walk.push_back(d);
    for (int32_t date : walk) {
        for (int again = 0; again < 3; again++) {
            /* Other lookups of the day may move the slot's hint elsewhere. */
            if (again > 0) stepped->barHints[2] = searched->barHints[2] = again == 1 ? 0 : 1000;
            if (again == 0) stepped->barHints[2] = searched->barHints[2];
            Bar *mine = (Bar *)1, *theirs = (Bar *)1;
            int i = StepDailyBar(stepped, &cursor, date, 2, &mine);
            int j = FindBarIndex(searched, BAR_DAILY, date, PHASE_OPEN, 2, &theirs);
            ASSERT_EQ(i, j) << date;
            EXPECT_EQ(mine ? mine - stepped->bars[BAR_DAILY] : -1, theirs ? theirs - searched->bars[BAR_DAILY] : -1);
            if (again == 0) EXPECT_EQ(stepped->barHints[2], searched->barHints[2]) << date;
            EXPECT_EQ(GetFirstUsedDate(stepped), GetFirstUsedDate(searched)) << date;
        }
    }
    /* Market day 4 is a Monday the symbol missed (8 January): the cursor
    ** keeps Friday's bar, as it does on the Saturday after a Friday traded. */
    cursor = DayCursor{};
    EXPECT_EQ(-1, StepDailyBar(stepped, &cursor, 20240108, 0, nullptr));
    EXPECT_EQ(20240105, stepped->bars[BAR_DAILY][cursor.bar].date);
    EXPECT_EQ(-1, StepDailyBar(stepped, &cursor, 20240113, 0, nullptr));
    EXPECT_EQ(20240112, stepped->bars[BAR_DAILY][cursor.bar].date);
    EXPECT_EQ(GetFirstUsedDate(stepped), days[6]);
}

TEST_F(StoreTest, EmptyBarArraysFindNothing)
{
    std::vector<int32_t> days = MarketDays(20240101, 20240131);
    SetMasterDates(days);
    SymbolRecord r;
    MakeSymbol(&r, "E", days, 1.0);
    FreeMemory(&r.bars[BAR_WEEKLY]);
    r.barCounts[BAR_MONTHLY] = 0;
    InstallSymbols({r});
    Bar *bar = (Bar *)1;
    EXPECT_EQ(FindBarIndex(&gStore.symbols[0], BAR_WEEKLY, 20240110, PHASE_CLOSE, 0, &bar), -1);
    EXPECT_EQ(bar, nullptr);
    EXPECT_EQ(FindBarIndex(&gStore.symbols[0], BAR_MONTHLY, 20240110, PHASE_CLOSE, 0, &bar), -1);
    EXPECT_EQ(FindBarIndex(nullptr, BAR_DAILY, 20240110, PHASE_CLOSE, 0, &bar), -1);
    EXPECT_EQ(GetBarOnOrBefore(&gStore.symbols[0], 20240110, BAR_MONTHLY), nullptr);
}

TEST_F(StoreTest, FirstUsedDateIsTheEarliestTradedBarLandedOn)
{
    std::vector<int32_t> days = MarketDays(20240101, 20240630);
    SetMasterDates(days);
    std::vector<double> volumes(days.size(), 500.0);
    for (int i = 0; i < 10; i++) volumes[i] = 0.0;
    SymbolRecord r;
    MakeSymbol(&r, "V", days, 1.0, volumes);
    InstallSymbols({r});
    SymbolRecord *v = &gStore.symbols[0];

    FindBarIndex(v, BAR_DAILY, days[3], PHASE_CLOSE, 0, nullptr); /* no volume */
    EXPECT_EQ(GetFirstUsedDate(v), FIRST_USED_NONE);
    FindBarIndex(v, BAR_DAILY, NextDay(days[4]), PHASE_CLOSE, 0, nullptr); /* fails, lands on a dry bar */
    EXPECT_EQ(GetFirstUsedDate(v), FIRST_USED_NONE);

    /* Workers on their own slots race to lower it; the minimum wins. */
    std::vector<std::thread> workers;
    for (int k = 0; k < 8; k++)
        workers.emplace_back([v, &days, k] {
            for (size_t i = days.size() - 1; i >= (size_t)(12 + k); i--)
                FindBarIndex(v, BAR_DAILY, days[i], PHASE_CLOSE, k + 1, nullptr);
        });
    for (auto &w : workers) w.join();
    EXPECT_EQ(GetFirstUsedDate(v), days[12]);
    FindBarIndex(v, BAR_DAILY, days[40], PHASE_CLOSE, 0, nullptr);
    EXPECT_EQ(GetFirstUsedDate(v), days[12]);
    LowerFirstUsedDate(v, days[11]);
    EXPECT_EQ(GetFirstUsedDate(v), days[11]);
}

/* The store's one reset gives back every block it holds, also records past
** the published count (a load that failed halfway), and leaves empty lists
** that still know their bar sizes. */
TEST_F(LookupTest, ResetGivesBackEverythingTheStoreHolds)
{
    ResetSymbolStore();
    const uint64_t empty = gAllocatedBytes.load();
    SetMasterDates(days);
    SymbolRecord a, b;
    MakeSymbol(&a, "AAA", days, 10.0);
    MakeSymbol(&b, "BBB", days, 20.0);
    InstallSymbols({a, b});
    gStore.symbolCount = 1;
    ASSERT_TRUE(BuildCalendarSymbol());
    ASSERT_TRUE(AllocMemory(&gStore.note, 8));
    ASSERT_TRUE(AllocMemory(&gStore.listNames, 2 * LIST_NAME_SIZE));
    gStore.constituencyIds[0] = 3;
    ASSERT_GT(gAllocatedBytes.load(), empty);

    ResetSymbolStore();
    EXPECT_EQ(gAllocatedBytes.load(), empty);
    EXPECT_EQ(gStore.symbols, nullptr);
    EXPECT_EQ(gStore.calendar.bars[BAR_DAILY], nullptr);
    EXPECT_EQ(gStore.constituencyIds[0], 0u);
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        EXPECT_EQ(gStore.dateLists[k].dates, nullptr);
        EXPECT_EQ(gStore.dateLists[k].count, 0);
        EXPECT_EQ(gStore.dateLists[k].barSize, k);
    }
}

TEST_F(LookupTest, BarOnOrBefore)
{
    EXPECT_EQ(GetBarOnOrBefore(spy, 20240106, BAR_DAILY)->date, 20240105); /* Saturday */
    EXPECT_EQ(GetBarOnOrBefore(spy, 20240105, BAR_DAILY)->date, 20240105);
    EXPECT_EQ(GetBarOnOrBefore(spy, 20250301, BAR_DAILY)->date, 20241231); /* after the data */
    EXPECT_EQ(GetBarOnOrBefore(spy, 20231201, BAR_DAILY), nullptr);
    EXPECT_EQ(GetBarOnOrBefore(spy, 20240110, BAR_WEEKLY)->date, 20240112); /* the week in progress */
}

TEST_F(LookupTest, SymbolAtDate)
{
    ASSERT_TRUE(BuildCalendarSymbol());
    Bar *bar = nullptr;
    EXPECT_EQ(FindSymbolAtDate("", BAR_DAILY, 20240105, &bar, 1), &gStore.calendar);
    EXPECT_EQ(bar->date, 20240105);
    EXPECT_EQ(FindSymbolAtDate("spy", BAR_DAILY, 0, &bar, 1), spy);
    EXPECT_EQ(bar->date, 20241231);
    EXPECT_EQ(FindSymbolAtDate("SPY", BAR_DAILY, 20240106, &bar, 0), spy); /* next bar */
    EXPECT_EQ(bar->date, 20240108);
    EXPECT_EQ(FindSymbolAtDate("SPY", BAR_DAILY, 20230106, &bar, 0), spy); /* first bar */
    EXPECT_EQ(bar->date, 20240102);
    EXPECT_EQ(gHeadless.messageCount, 0);

    EXPECT_EQ(FindSymbolAtDate("QQQ", BAR_DAILY, 20240105, &bar, 0), nullptr);
    EXPECT_STREQ(LastMessage(), "Symbol 'QQQ' is not in the current data set.");
    EXPECT_EQ(FindSymbolAtDate("SPY", BAR_DAILY, 20240106, &bar, 1), nullptr);
    EXPECT_EQ(bar, nullptr);
    EXPECT_NE(strstr(LastMessage(), "No data is avaliable for SPY on "), nullptr);
}

TEST_F(LookupTest, CalendarSymbolHasOneBarPerMarketDate)
{
    ASSERT_TRUE(BuildCalendarSymbol());
    /* Rebuilding frees everything the old record held, also the value blocks
    ** a data calculation hangs on the calendar. */
    uint64_t built = gAllocatedBytes.load();
    ASSERT_TRUE(AllocMemory(&gStore.calendar.dataValues[0], 800));
    ASSERT_TRUE(AllocMemory(&gStore.calendar.dataOffsets[1], 16));
    ASSERT_TRUE(AllocMemory(&gStore.calendar.strategyArrays, 64));
    ASSERT_TRUE(BuildCalendarSymbol());
    EXPECT_EQ(gAllocatedBytes.load(), built);
    EXPECT_EQ(gStore.calendar.dataValues[0], nullptr);
    EXPECT_EQ(gStore.calendar.strategyArrays, nullptr);
    EXPECT_STREQ(gStore.calendar.info.Symbol, "Global");
    EXPECT_STREQ(gStore.calendar.info.Name, "Global Calendar Symbol");
    EXPECT_EQ(gStore.calendar.firstDate, days.front());
    EXPECT_EQ(gStore.calendar.lastDate, days.back());
    for (int k = 0; k < BAR_SIZE_COUNT; k++) {
        ASSERT_EQ(gStore.calendar.barCounts[k], gStore.dateLists[k].count);
        for (int i = 0; i < gStore.dateLists[k].count; i++) {
            const Bar &b = gStore.calendar.bars[k][i];
            ASSERT_EQ(b.date, (int32_t)gStore.dateLists[k].dates[i]);
            ASSERT_EQ(b.split, 1.0);
            ASSERT_EQ(b.close, 0.0);
            ASSERT_EQ(b.volume, 0.0);
        }
    }
}

struct CurrencyTest : StoreTest {
    std::vector<int32_t> rateDays;
    SymbolRecord *stock = nullptr, *rate = nullptr;
    void SetUp() override
    {
        StoreTest::SetUp();
        std::vector<int32_t> days = MarketDays(20240101, 20240628);
        SetMasterDates(days);
        /* the rate starts in February and misses 13-16 February */
        for (int32_t d : MarketDays(20240201, 20240531))
            if (d < 20240213 || d > 20240216) rateDays.push_back(d);
        SymbolRecord s, c;
        MakeSymbol(&s, "SAP", days, 100.0);
        MakeSymbol(&c, "EURUSD", rateDays, 2.0);
        InstallSymbols({s, c});
        stock = &gStore.symbols[FindSymbolIndex("SAP") - 1];
        rate = &gStore.symbols[FindSymbolIndex("EURUSD") - 1];
        stock->currencySymbol = FindSymbolIndex("EURUSD");
    }
    double CloseOn(int32_t date)
    {
        for (size_t i = 0; i < rateDays.size(); i++)
            if (rateDays[i] == date) return 2.0 + (double)i;
        return NAN;
    }
    double Factor(int32_t date, int phase = PHASE_CLOSE)
    {
        EvalContext context{};
        context.symbol = stock;
        context.date = date;
        context.barPhase = phase;
        context.lastBar = -1;
        return GetCurrencyFactor(&context, 0);
    }
};

TEST_F(CurrencyTest, UsesTheRateKnownOnTheDate)
{
    static const struct {
        int32_t date;
        int32_t rateDate; /* whose close is the factor */
    } kCases[] = {
        {20240212, 20240212},
        {20240214, 20240212}, /* gap: the last close before, not the latest rate */
        {20240217, 20240212}, /* Saturday in the gap */
        {20240110, 20240201}, /* before the rate's data: its first close */
        {20240614, 20240531}, /* after it: its last close */
    };
    for (const auto &c : kCases) {
        EXPECT_DOUBLE_EQ(Factor(c.date), CloseOn(c.rateDate)) << c.date;
        stock->invertCurrency = 1;
        EXPECT_DOUBLE_EQ(Factor(c.date), 1.0 / CloseOn(c.rateDate)) << c.date;
        stock->invertCurrency = 0;
    }
    stock->currencySymbol = 0;
    EXPECT_EQ(Factor(20240212), 1.0);
    stock->currencySymbol = 99; /* a number outside the array converts nothing */
    EXPECT_EQ(Factor(20240212), 1.0);
}

/* Workers without a slot of their own share slot 0 for currency factors and
** bars on or before a date: a race on its hint changes no answer (and is no
** data race, which the thread sanitizer build checks). */
TEST_F(CurrencyTest, SharedSlotGivesEveryThreadItsOwnAnswer)
{
    std::vector<int32_t> dates = MarketDays(20240102, 20240628);
    std::vector<double> want;
    for (int32_t d : dates) want.push_back(Factor(d));
    std::vector<std::thread> workers;
    std::atomic<int> wrong{0};
    for (int k = 0; k < 4; k++)
        workers.emplace_back([&, k] {
            for (int round = 0; round < 20; round++)
                for (size_t j = 0; j < dates.size(); j++) {
                    size_t i = k % 2 ? dates.size() - 1 - j : (j * 7 + (size_t)k) % dates.size();
                    if (Factor(dates[i]) != want[i]) wrong++;
                    Bar *bar = GetBarOnOrBefore(rate, dates[i], BAR_DAILY);
                    if (dates[i] >= rateDays.front() && (!bar || bar->date > dates[i])) wrong++;
                }
        });
    for (auto &w : workers) w.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(CurrencyTest, ZeroRateNeverDividesByZero)
{
    rate->bars[BAR_DAILY][0].close = 0.0;
    stock->invertCurrency = 1;
    for (int32_t date : {20240201, 20240105}) {
        double f = Factor(date);
        EXPECT_TRUE(std::isfinite(f)) << date;
        EXPECT_EQ(f, 1.0) << date;
    }
}

TEST_F(CurrencyTest, BarDateOfTheContextOnDailyBars)
{
    EvalContext context{};
    context.symbol = stock;
    context.date = 20240215;
    context.barPhase = PHASE_CLOSE;
    context.lastBar = 25; /* SAP's bar 25 */
    int32_t barDate = stock->bars[BAR_DAILY][25].date;
    EXPECT_DOUBLE_EQ(GetCurrencyFactor(&context, 1), CloseOn(barDate));
    context.lastBar = 5000; /* outside the bars: the context date stands */
    EXPECT_DOUBLE_EQ(GetCurrencyFactor(&context, 1), CloseOn(20240212));
}

TEST_F(LookupTest, SyncAndBindContext)
{
    EvalContext context{};
    context.symbol = spy;
    context.barSize = BAR_DAILY;
    static const struct {
        int size;
        int32_t date;
        int phase;
        int32_t barDate;  /* 0: no bar */
        int lastBarShift; /* last completed bar relative to the bar index; -9: none */
    } kCases[] = {
        {BAR_DAILY, 20240110, PHASE_OPEN, 20240110, -1},
        {BAR_DAILY, 20240110, PHASE_CLOSE, 20240110, 0},
        {BAR_DAILY, 20240102, PHASE_OPEN, 20240102, -9}, /* first bar: none completed */
        {BAR_DAILY, 20240106, PHASE_CLOSE, 0, 0},
        {BAR_WEEKLY, 20240110, PHASE_CLOSE, 20240112, -1}, /* mid-week: the week is open */
        {BAR_WEEKLY, 20240112, PHASE_CLOSE, 20240112, 0},
        {BAR_WEEKLY, 20240112, PHASE_OPEN, 20240112, -1},
        {BAR_MONTHLY, 20240131, PHASE_CLOSE, 20240131, 0},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.date);
        context.barSize = c.size;
        context.date = c.date;
        context.barPhase = c.phase;
        context.barIndex = context.lastBar = 777;
        Bar *bar = SyncContextBar(&context);
        if (!c.barDate) {
            EXPECT_EQ(bar, nullptr);
            continue;
        }
        ASSERT_NE(bar, nullptr);
        EXPECT_EQ(bar->date, c.barDate);
        EXPECT_EQ(DateOf(c.size, context.barIndex), c.barDate);
        EXPECT_EQ(context.lastBar, c.lastBarShift == -9 ? -1 : context.barIndex + c.lastBarShift);
    }

    ASSERT_TRUE(BuildCalendarSymbol());
    StrategyRecord strategy{};
    context.strategy = &strategy;
    context.barSize = BAR_DAILY;
    context.date = 20240105;
    context.barPhase = PHASE_CLOSE;
    EXPECT_NE(BindContextSymbol(&context), nullptr);
    EXPECT_EQ(context.symbol, &gStore.calendar);
    strategy.symbolNumber = 1;
    EXPECT_EQ(BindContextSymbol(&context)->date, 20240105);
    EXPECT_EQ(context.symbol, spy);

    context.date = 20240107; /* Sunday: moves back to Friday's bar */
    ClampDateToSymbolBar(&context);
    EXPECT_EQ(context.date, 20240105);
}

} // namespace
