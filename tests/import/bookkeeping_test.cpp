/* bookkeeping_test.cpp -- the intake of bars, sorting, the work list and
** exclude patterns, contract symbols, JSON readers, share classes and the
** symbol-information and event-list files. */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "foundation/allocator.h"
#include "import/import_fixture.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/events.h"
#include "script/compiler/import_items.h"
#include "shell/headless/headless.h"

namespace {

struct AddBarCase {
    const char *name;
    const char *symbol;
    int keepAdjusted, noWeekends;
    double priceMult;
    Bar in;
    double adjusted, unadjusted, dividend;
    int kept;
    double close, volume, split, extra, dividendEvent; /* NAN: no dividend event */
};

TEST_F(ImportTest, AddBarAppliesEveryRule)
{
    const double none = NAN;
    /* clang-format off */
    const AddBarCase cases[] = {
        {"raw close doubles an adjusted bar", "ABC", 0, 0, 1, {20240102, 0, 50, 50, 50, 50, 1000, 0, 0}, 50, 100, 1.0,
         1, 100, 500, 2, 0, 2.0},
        {"KeepAdjusted keeps adjusted prices", "ABC", 1, 0, 1, {20240102, 0, 50, 50, 50, 50, 1000, 0, 0}, 50, 100, 1.0,
         1, 50, 1000, 1, 100, 1.0},
        {"close fills zero open, high, low", "ABC", 0, 0, 1, {20240102, 0, 0, 0, 0, 12.5, 10, 0, 0}, 0, 0, 0, 1, 12.5,
         10, 1, 0, none},
        {"all-zero bar dropped", "ABC", 0, 0, 1, {20240102, 0, 0, 0, 0, 0, 10, 0, 0}, 0, 0, 0, 0, 0, 0, 0, 0, none},
        {"all-zero bar of a # symbol kept", "#IDX", 0, 0, 1, {20240102, 0, 0, 0, 0, 0, 10, 0, 0}, 0, 0, 0, 1, 0, 10, 1,
         0, none},
        {"raw close over a zero close gives no factor", "ABC", 0, 0, 1, {20240102, 0, 0, 10, 0, 0, 10, 0, 0}, 0, 30,
         0, 1, 0, 10, 1, 0, none},
        {"outside the date range", "ABC", 0, 0, 1, {20250102, 0, 1, 1, 1, 1, 1, 0, 0}, 0, 0, 0, 0, 0, 0, 0, 0, none},
        {"Saturday with NoWeekends", "ABC", 0, 1, 1, {20240106, 0, 1, 1, 1, 1, 1, 0, 0}, 0, 0, 0, 0, 0, 0, 0, 0, none},
        {"price divisor", "ABC", 0, 0, 100, {20240102, 0, 5000, 5100, 4900, 5000, 7, 0, 0}, 0, 0, 0, 1, 50, 7, 1, 0,
         none},
        {"seven significant digits", "ABC", 0, 0, 1, {20240102, 0, 1, 1.3, 1, 1.23456789, 7, 0, 0}, 0, 0, 0, 1, 1.234568,
         7, 1, 0, none},
    };
    /* clang-format on */
    for (const AddBarCase &c : cases) {
        SCOPED_TRACE(c.name);
        Begin();
        gImportState.KeepAdjusted = c.keepAdjusted;
        gImportState.NoWeekends = c.noWeekends;
        SymbolRecord record;
        memset((void *)&record, 0, sizeof record);
        CopyString(record.info.Symbol, sizeof record.info.Symbol, c.symbol, -1);
        record.info.PriceMult = c.priceMult;
        Bar bar = c.in;
        ASSERT_EQ(AddBar(&record, &bar, c.adjusted, c.unadjusted, c.dividend, 1), c.kept);
        if (c.kept) {
            EXPECT_DOUBLE_EQ(bar.close, c.close);
            EXPECT_DOUBLE_EQ(bar.volume, c.volume);
            EXPECT_DOUBLE_EQ(bar.split, c.split);
            EXPECT_DOUBLE_EQ(bar.extra, c.extra);
            EXPECT_EQ(bar.time, 160000);
            EXPECT_EQ(record.firstDate, c.in.date);
            if (std::isnan(c.dividendEvent)) {
                EXPECT_EQ(record.eventCount, 0);
            } else {
                ASSERT_EQ(record.eventCount, 1);
                EXPECT_EQ(record.events[0].kind, EVENT_DIVIDEND);
                EXPECT_DOUBLE_EQ(record.events[0].value, c.dividendEvent);
            }
        }
        FreeSymbolRecord(&record);
        ReportImportMisses(0);
        ResetImportState();
    }
}

/* A bar is dropped as damaged, with the reason, when it is no day or when a
** price, the volume or the split factor worked out from it would be no
** finite number, or the factor not above zero (a close below zero would turn
** the high below the low), or when its open or close lies outside its range;
** a bar outside the date range is dropped without one. */
TEST_F(ImportTest, AddBarNamesWhyItDropsADamagedBar)
{
    const struct {
        const char *name;
        double priceMult;
        int keepAdjusted;
        Bar in;
        double adjusted, unadjusted;
        const char *refusal; /* null: none */
    } cases[] = {
        {"10 divided by a PriceMult of 1e-310", 1e-310, 0, {20240102, 0, 10, 10, 10, 10, 5, 0, 0}, 0, 0, kRefusedPriceMult},
        {"closes giving a factor of 1e600", 1, 0, {20240102, 0, 1, 1, 1, 1, 5, 0, 0}, 1e-300, 1e300, kRefusedSplitFactor},
        {"closes giving a factor of 1e-600", 1, 0, {20240102, 0, 1, 1, 1, 1, 5, 0, 0}, 1e300, 1e-300, kRefusedSplitFactor},
        {"an adjusted close below zero", 1, 0, {20240102, 0, 10, 12, 8, 11, 5, 0, 0}, -11, 22, kRefusedSplitFactor},
        {"1e10 times a factor of 1e300", 1, 0, {20240102, 0, 1e10, 1e10, 1e10, 1e10, 5, 0, 0}, 1e-200, 1e100, kRefusedAdjusted},
        {"1e10 over the source's factor of 1e-300", 1, 1, {20240102, 0, 1e10, 1e10, 1e10, 1e10, 5, 0, 1e-300}, 0, 0, kRefusedAdjusted},
        {"30 February", 1, 0, {20240230, 0, 1, 1, 1, 1, 5, 0, 0}, 0, 0, kRefusedBadDate},
        /* A price no column held, read as 0, lies outside the bar's range. */
        {"a high and low of 0 under the open and close", 1, 0, {20240102, 0, 10, 0, 0, 10.5, 5, 0, 0}, 0, 0, kRefusedOpenOutside},
        {"an open of 0 below the low", 1, 0, {20240102, 0, 0, 12, 8, 11, 5, 0, 0}, 0, 0, kRefusedOpenOutside},
        {"a close above the high", 1, 0, {20240102, 0, 10, 12, 8, 13, 5, 0, 0}, 0, 0, kRefusedCloseOutside},
        {"a high below the low", 1, 0, {20240102, 0, 10, 8, 12, 10, 5, 0, 0}, 0, 0, kRefusedHighLow},
        {"outside the date range", 1e-310, 0, {20250102, 0, 10, 10, 10, 10, 5, 0, 0}, 0, 0, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Begin();
        gImportState.KeepAdjusted = c.keepAdjusted;
        SymbolRecord record;
        memset((void *)&record, 0, sizeof record);
        CopyString(record.info.Symbol, sizeof record.info.Symbol, "ABC", -1);
        record.info.PriceMult = c.priceMult;
        Bar bar = c.in;
        const char *refusal = "unset";
        EXPECT_EQ(AddBar(&record, &bar, c.adjusted, c.unadjusted, 0, 1, 0, &refusal), 0);
        EXPECT_EQ(refusal, c.refusal);
        FreeSymbolRecord(&record);
        ReportImportMisses(0);
        ResetImportState();
    }
}

TEST_F(ImportTest, AddBarMarksTheCalendarDay)
{
    Begin("CSV", 20240101, 20240107);
    SymbolRecord record;
    memset((void *)&record, 0, sizeof record);
    Bar bar = {20240103, 0, 1, 1, 1, 1, 1, 0, 0};
    ASSERT_EQ(AddBar(&record, &bar, 0, 0, 0, 1), 1);
    Bar unmarked = {20240104, 0, 1, 1, 1, 1, 1, 0, 0};
    ASSERT_EQ(AddBar(&record, &unmarked, 0, 0, 0, 0), 1);
    std::vector<int32_t> calendar((int32_t *)gStore.dateLists[BAR_DAILY].dates,
                                  (int32_t *)gStore.dateLists[BAR_DAILY].dates + gStore.dateLists[BAR_DAILY].count);
    EXPECT_EQ(calendar, (std::vector<int32_t>{-20240101, -20240102, 20240103, -20240104, -20240105, -20240106, -20240107}));
    FreeSymbolRecord(&record);
}

TEST_F(ImportTest, SortBarsKeepsTheLaterOfTwoEqualBars)
{
    SymbolRecord record;
    /* Of the bars of 2 January (same time) the last to arrive, close 5, stays. */
    MakeRecord(&record, "ABC",
               {{20240103, 2, 2, 2, 2, 1}, {20240102, 1, 1, 1, 1, 1}, {20240102, 3, 3, 3, 3, 1}, {20240104, 4, 4, 4, 4, 1}, {20240102, 4, 4, 4, 4, 1}, {20240102, 5, 5, 5, 5, 1}});
    SortBars(&record);
    EXPECT_EQ(Dates(record), (std::vector<int32_t>{20240102, 20240103, 20240104}));
    EXPECT_EQ(record.bars[BAR_DAILY][0].close, 5);
    EXPECT_EQ(record.firstDate, 20240102);
    EXPECT_EQ(record.lastDate, 20240104);
    FreeSymbolRecord(&record);
}

TEST_F(ImportTest, ExcludePatternsMatchWholeSymbols)
{
    Begin();
    struct {
        const char *pattern, *symbol;
        int excluded;
    } cases[] = {
        {"AB*", "AB", 1},
        {"AB*", "abc", 1},
        {"AB*", "XAB", 0},
        {"AB*C", "ABXC", 1},
        {"AB*C", "AB", 0},
        {"A?C", "ABC", 1},
        {"A?C", "ABCD", 0},
        {"xyz", "XYZ", 1},
        {"xyz", "XY", 0},
    };
    for (const auto &c : cases) {
        gImport.excludeCount = 0;
        ASSERT_EQ(AddExcludePattern(c.pattern, 1), 1);
        EXPECT_EQ(IsSymbolExcluded(c.symbol, 1), c.excluded) << c.pattern << " " << c.symbol;
        EXPECT_EQ(IsSymbolExcluded(c.symbol, 2), 0) << "another block's pattern";
    }
}

TEST_F(ImportTest, WorkListKeysOnTheRequestedSymbol)
{
    Begin();
    char first[] = "ABC>XYZ", second[] = "ABC", other[] = "ABC";
    ImportWorkItem *item = AddSymbolToImportList(first, 1, 1, 1);
    ASSERT_TRUE(item);
    EXPECT_STREQ(first, "ABC>XYZ");
    EXPECT_STREQ(item->symbol, "ABC");
    EXPECT_STREQ(item->saveAs, "XYZ");
    ImportWorkItem *again = AddSymbolToImportList(second, 1, 2, 0);
    EXPECT_EQ(again, item);
    EXPECT_EQ(gImport.workCount, 1);
    EXPECT_EQ(item->lists[0] + item->lists[1], 2);
    EXPECT_EQ(item->flags, 1u);
    EXPECT_NE(AddSymbolToImportList(other, 2, 3, 1), item) << "another block asks on its own";
    char tooLong[] = "ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ";
    EXPECT_EQ(AddSymbolToImportList(tooLong, 1, 1, 1), nullptr);
    EXPECT_STREQ(LastMessage(), "Symbol 'ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ' is too long.");
}

TEST_F(ImportTest, FuturesContractSymbols)
{
    struct {
        const char *symbol;
        int contract;
    } cases[] = {{"ES-2024Z", 1}, {"ES_2023H", 1}, {"ES-24Z", 0}, {"ES-2024z", 0}, {"ES-9999H", 0}, {"ES-2023", 0}, {"ES-2023HX", 0}, {"ESZ", 0}};
    for (const auto &c : cases) {
        SymbolRecord record{};
        CopyString(record.info.Symbol, sizeof record.info.Symbol, c.symbol, -1);
        const char *suffix = nullptr;
        EXPECT_EQ(IsFuturesContractSymbol(&record, &suffix), c.contract) << c.symbol;
        if (c.contract) {
            EXPECT_EQ(suffix, record.info.Symbol + 2);
        }
    }
}

TEST_F(ImportTest, JsonReaders)
{
    const char *json = "{\"meta\":{\"symbol\":\"AB\\\"C\",\"price\":12.5},\"close\":[1.5,2,3.25],\"last\":7}";
    char text[80];
    EXPECT_EQ(GetJsonText(json, "symbol", text), 3);
    EXPECT_STREQ(text, "AB\\");
    EXPECT_EQ(GetJsonNumber(json, "price"), 12.5) << "last member of an object";
    EXPECT_EQ(GetJsonNumber(json, "last"), 7.0);
    EXPECT_EQ(GetJsonNumber(json, "missing"), 0.0);
    double *values = nullptr;
    ASSERT_EQ(GetJsonNumberArray(json, "close", &values, 0), 3);
    EXPECT_EQ(values[0], 1.5);
    EXPECT_EQ(values[2], 3.25);
    FreeMemory(&values);
}

TEST_F(ImportTest, ShareClassesKeepTheMostTradedClass)
{
    Begin();
    struct {
        const char *symbol, *name;
        double volume;
    } rows[] = {
        {"ACM", "Acme", 100},
        {"ACMA", "Acme Class A", 50},
        {"BRA", "Bravo Class A", 50},
        {"BRH", "Bravo Holdings", 100},
        {"DCA", "Delta Corp Class A", 100},
        {"DCB", "Delta Corp Class B", 50},
        {"DCO", "Delta Corporation", 10},
    };
    for (const auto &r : rows) {
        SymbolRecord record;
        MakeRecord(&record, r.symbol, {{20240102, 10, 10, 10, 10, r.volume}});
        CopyString(record.info.Name, sizeof record.info.Name, r.name, -1);
        CopyString(record.info.Exchange, sizeof record.info.Exchange, "NYSE", -1);
        ASSERT_GT(LogSymbolLine(&record), 0);
    }
    RemoveRedundantShareClasses();
    std::string kept;
    for (int32_t i = 0; i < gImport.count; i++) kept += std::string(gStore.symbols[i].info.Symbol) + " ";
    EXPECT_EQ(kept, "ACM BRH DCA DCO ");
}

TEST_F(ImportTest, TickSizeForms)
{
    struct {
        const char *text;
        int form;
        double value;
    } cases[] = {{"1/4", 1, 0.25}, {"1/32&1/2s", 1, 1.0 / 64}, {"1/8q", 1, 0.03125}, {"1/2t", 1, 0.05}, {"1/2h", 1, 0.25}, {"1/2e", 1, 0.0625}, {"0.5", 0, 0.5}, {"1/0", -1, 0}, {"1/2&1/0s", -1, 0}};
    for (const auto &c : cases) {
        double v = -1;
        EXPECT_EQ(ParseTickSize(c.text, &v), c.form) << c.text;
        EXPECT_DOUBLE_EQ(v, c.value) << c.text;
    }
}

TEST_F(ImportTest, SymbolInformationFileMergesRows)
{
    Begin();
    std::string path = Write("info.csv",
                             "\xEF\xBB\xBFSymbol,Name,TickSize,PointValue,Sector,Unknown\r\n"
                             "abc,\"Abc, Inc\",1/4,,Tech,x\r\n"
                             "XY Z,Xyz,1/0,50,,\r\n"
                             "ABC,,,2,Finance,\r\n");
    ASSERT_EQ(ReadSymbolInfoFile(path.c_str(), SYMINFO_NAMED), 1);
    ASSERT_EQ(gImport.infoCount, 2);
    EXPECT_EQ(gImport.infoWildcard, 0);
    SymbolRecord record;
    memset((void *)&record, 0, sizeof record);
    EXPECT_EQ(ApplySymbolInfo("Abc", &record, SOURCE_CSV), SECURITY_STOCK);
    EXPECT_STREQ(record.info.Symbol, "abc");
    EXPECT_STREQ(record.info.Name, "Abc Inc");
    EXPECT_STREQ(record.info.Sector, "Finance");
    EXPECT_EQ(record.info.TickSize, 0.25);
    EXPECT_EQ(record.info.PointValue, 2.0);
    EXPECT_EQ(record.info.PriceMult, 1.0);
    memset((void *)&record, 0, sizeof record);
    ApplySymbolInfo("XY_Z", &record, SOURCE_CSV);
    EXPECT_EQ(record.info.TickSize, 0.01) << "a zero denominator gives no tick size";
    EXPECT_EQ(record.info.PointValue, 50.0);
    EXPECT_NE(Messages().find("zero denominator"), std::string::npos);
}

TEST_F(ImportTest, CsiFuturesInformationRows)
{
    Begin();
    std::string path = Write("futuresinfo.txt",
                             "CSI futures\r\n"
                             "File Name,Symbol,Description,Currency,Big Point,Tick Size,Minimum Tick\r\n"
                             "ES2.csv,ES,E-mini,USD,50,25,0.01\r\n"
                             "ZB.csv,ZB,Bond,USD,1000,1/32,0.5\r\n"
                             "EU.csv,EU,Euro,,1,0,0.0001\r\n");
    ASSERT_EQ(ReadSymbolInfoFile(path.c_str(), SYMINFO_CSI_FUTURES), 1);
    ASSERT_EQ(gImport.infoCount, 3);
    const SymbolInfo *rows = gImport.infoRows;
    EXPECT_STREQ(rows[0].Symbol, "ES2");
    EXPECT_STREQ(rows[0].InduIndex, "ES");
    EXPECT_STREQ(rows[0].Type, "Futures");
    EXPECT_DOUBLE_EQ(rows[0].TickSize, 0.25) << "a decimal tick counts in minimum ticks";
    EXPECT_DOUBLE_EQ(rows[1].TickSize, 1.0 / 32) << "a fraction is the tick itself";
    EXPECT_STREQ(rows[2].Type, "Forex");
    EXPECT_DOUBLE_EQ(rows[2].TickSize, 0.0001);
    EXPECT_EQ(rows[0].TRBC, 0.0);
}

TEST_F(ImportTest, EventListEventsJoinFinishedSymbols)
{
    Begin();
    ASSERT_EQ(Line(IMPKW_EVENT_LIST_FILE, Write("events.csv", "Symbol,Date,Time,Type,Value\n"
                                                              "ABC,2024-01-03,,-1,1.0\n"
                                                              "ABC,2024-01-04,10:00,7,3\n"
                                                              "ABC,2024-01-04,,0,3\n"
                                                              "ABC,,,7,3\n"
                                                              "ABC,2024-01-04,,-999,20240315\n"
                                                              "ABC,2023-06-01,,-5,1\n"
                                                              "*,2024-01-02,,9,4\n"
                                                              "*,2025-01-02,,9,4\n")),
              0);
    const ImportItem *item = (const ImportItem *)gImportItems.items + 1;
    ASSERT_EQ(ReadEventListFile(item), 1);
    ASSERT_EQ(gImport.eventCount, 5) << "kind 0, no date and a contract kind are not kept";
    qsort(gImport.eventRows, (size_t)gImport.eventCount, sizeof(EventListRow), CompareEvents);
    SymbolRecord record;
    MakeRecord(&record, "ABC", {{20240102, 1, 1, 1, 1, 1, 1.0}, {20240103, 1, 1, 1, 1, 1, 0.5}, {20240104, 1, 1, 1, 1, 1}});
    ASSERT_EQ(FinishSymbol(&record, nullptr), 3);
    const SymbolRecord &stored = Symbol("ABC");
    struct Expected {
        int32_t date, time, kind;
        double value;
    } expected[] = {{20240102, 0, -5, 1}, {20240102, 0, 9, 4}, {20240103, 0, -1, 0.5}, {20240104, 100000, 7, 3}};
    ASSERT_EQ(stored.eventCount, 4);
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(stored.events[i].date, expected[i].date) << i;
        EXPECT_EQ(stored.events[i].time, expected[i].time) << i;
        EXPECT_EQ(stored.events[i].kind, expected[i].kind) << i;
        EXPECT_EQ(stored.events[i].value, expected[i].value) << i;
    }
}

/* A symbol is stored once: a second record that comes to the same symbol
** (in any case) is named and not stored, whoever finishes it. */
TEST_F(ImportTest, ASymbolImportedBeforeIsNotStoredAgain)
{
    Begin();
    SymbolRecord first, second;
    MakeRecord(&first, "ABC", {{20240102, 1, 1, 1, 1, 1}});
    MakeRecord(&second, "abc", {{20240102, 2, 2, 2, 2, 2}, {20240103, 2, 2, 2, 2, 2}});
    EchoKept echo;
    ASSERT_EQ(FinishSymbol(&first, nullptr), 1);
    EXPECT_EQ(FinishSymbol(&second, nullptr), 0);
    FreeSymbolRecord(&second);
    EXPECT_EQ(gImport.count, 1);
    EXPECT_EQ(Symbol("ABC").barCounts[BAR_DAILY], 1);
    EXPECT_EQ(echo.text, "2:abc was not imported: a symbol of that name was imported before it\n");
}

TEST_F(ImportTest, SetEventItemKeepsOneEventPerKey)
{
    SymbolRecord record;
    memset((void *)&record, 0, sizeof record);
    for (int i = 0; i < 25; i++) ASSERT_EQ(SetEventItem(&record, 20240101 + i, 0, EVENT_DIVIDEND, i), 1);
    ASSERT_EQ(SetEventItem(&record, 20240105, 0, EVENT_DIVIDEND, 99), 1);
    EXPECT_EQ(record.eventCount, 25);
    EXPECT_EQ(record.events[4].value, 99);
    EXPECT_EQ(record.eventCapacity, 30);
    FreeSymbolRecord(&record);
}

TEST_F(ImportTest, ListFilesFeedTheWorkListAndExcludes)
{
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, Write("list.csv", "Name,Ticker,Weight\nAcme,\" ACM \",1\nBolt,BLT>BOLT,2\n")), 0);
    ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, "XYZ, (QQQ)\tSPY"), 0);
    ASSERT_EQ(Line(IMPKW_EXCLUDE_LIST, Write("out.txt", "AB*\nZ?\n")), 0);
    ASSERT_EQ(BeginImport(), 1);
    const ImportItem *rows = (const ImportItem *)gImportItems.items;
    for (int r = 1; r <= 3; r++) ASSERT_EQ(ReadImportListFile(&rows[r]), 1) << r;
    std::string symbols;
    for (int32_t i = 0; i < gImport.workCount; i++)
        symbols += std::string(gImport.work[i].symbol) + ">" + gImport.work[i].saveAs + " ";
    EXPECT_EQ(symbols, "ACM>ACM BLT>BOLT XYZ>XYZ QQQ>QQQ SPY>SPY ");
    EXPECT_EQ(gImport.excludeCount, 2);
    EXPECT_EQ(IsSymbolExcluded("ZA", 1), 1);
}

/* A CSV list reads each line's quotes on their own: a quote a line leaves
** open costs that line, named, and no line after it.  A list whose header
** cannot be told, or names no symbol column above lines that hold some, is
** no list: it fails the import, named, rather than import (or exclude)
** nothing. */
TEST_F(ImportTest, CsvListsKeepEachQuoteToItsLine)
{
    const struct {
        const char *name, *text;
        int read;
        const char *symbols, *reported;
    } cases[] = {
        {"a data line leaves a quote open", "Name,Ticker\n\"Acme, Inc\",ACM\n\"Bolt, Inc,BLT\nCore,COR\n\"Dyna, Inc\",DYN\n", 1,
         "ACM COR DYN ", "line 3 opens a double quote that it does not close, so its fields cannot be told; the line was "
                         "not read\n"},
        {"the header leaves a quote open", "Name,\"Ticker\nAcme,ACM\n", 0, "",
         "its header opens a double quote that it does not close, so its columns cannot be told."},
        {"no column names symbols", "Name,Code\nAcme,ACM\n", 0, "",
         "no column of its header names symbols (a name holding symbol, ticker or underlying)."},
        {"a header alone is an empty list", "Name,Code\n\n", 1, "", ""},
        /* A list written with another delimiter reads as one column of whole
        ** lines ("AAA;A"), none of them a symbol asked for. */
        {"semicolons divide it", "Symbol;Name\nAAA;A\n", 0, "",
         "its header \"Symbol;Name\" is divided by semicolons, where a CSV list is divided by commas."},
        {"tabs divide it", "Ticker\tName\nAAA\tA\n", 0, "",
         "its header \"Ticker\tName\" is divided by tabs, where a CSV list is divided by commas."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ResetImportState();
        ResetHeadlessShell();
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        const std::string path = Write("list.csv", c.text);
        ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, path), 0);
        ASSERT_EQ(BeginImport(), 1);
        EchoKept echo;
        EXPECT_EQ(ReadImportListFile((const ImportItem *)gImportItems.items + 1), c.read);
        std::string symbols;
        for (int32_t i = 0; i < gImport.workCount; i++) symbols += std::string(gImport.work[i].symbol) + " ";
        EXPECT_EQ(symbols, c.symbols);
        const std::string said = c.read ? echo.text : Messages();
        if (c.reported[0]) {
            EXPECT_NE(said.find((c.read ? "2:" + path + ": " : "Unable to read the list " + path + ": ") + c.reported),
                      std::string::npos)
                << said;
        }
        ReportImportMisses(0);
    }
}

/* A symbol-information file refused for a date that reads only in the other
** order of day and month leaves the rows an earlier file gave as they were,
** also the ones its own earlier lines had merged into. */
TEST_F(ImportTest, ASymbolInformationFileRefusedForItsDatesChangesNoEarlierRow)
{
    Begin();
    ASSERT_EQ(ReadSymbolInfoFile(Write("first.csv", "Symbol,Name,Sector\nABC,Abc Inc,Tech\n").c_str(), SYMINFO_NAMED, 0), 1);
    ReadSymbolInfoFile(Write("second.csv", "Symbol,Name,Exchange,DelistDate\nABC,Renamed,NYSE,\nXYZ,Xyz,,13/02/2024\n").c_str(),
                       SYMINFO_NAMED, 0);
    ASSERT_EQ(gImport.infoCount, 1); /* refused: XYZ is not there */
    EXPECT_STREQ(gImport.infoRows[0].Symbol, "ABC");
    EXPECT_STREQ(gImport.infoRows[0].Name, "Abc Inc");
    EXPECT_STREQ(gImport.infoRows[0].Sector, "Tech");
    EXPECT_STREQ(gImport.infoRows[0].Exchange, "");
}

} // namespace
