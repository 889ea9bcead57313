/* strategy_test.cpp -- strategy records, constants, Using and TLFields lists,
** parameters, inheritance and the defaults a compile applies. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/ranges.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/strategy.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

void ClearStrategies()
{
    for (int32_t i = 0; i < gStrategyCapacity; i++) ResetStrategyRecord(gStrategies + i);
    gStrategyCount = 0;
}

StrategyRecord *Rec(int32_t i) { return gStrategies + i; }

struct StrategyTest : ::testing::Test {
    TempFolder folder;
    std::vector<char *> texts;
    void SetUp() override
    {
        ResetHeadlessShell();
        ClearStrategies();
        ResetScriptDefinitions(SECTION_PARAMETERS);
        ResetScriptParserState();
        gCompileSession = CompileSession{};
        gCompileSession.mode = 3;
        gCompileSession.pass = 1;
        for (int k = 0; k < RUNSET_COUNT; k++) SetRunSetting(k, 0);
        gSettings.BarSize2 = 0;
        gSettings.DateInputFormat = 0;
        gSettings.KeepTrades = 1;
        gSettings.KeepBench = 0;
        gRun.resultCode = 0;
    }
    void TearDown() override
    {
        ClearStrategies();
        FreeParameterLists();
        for (char *&t : texts) FreeMemory(&t);
    }

    /* Parses script, compiles every given strategy slot, links Using lists
    ** and applies the defaults, as a compile does; 1 when all of it passed. */
    int Compile(const std::string &script)
    {
        std::string path = folder.File("s.kvs");
        EXPECT_TRUE(WriteTestFile(path, script));
        char nameSpace[VALUE_NAME_SIZE] = "";
        char *text = ParseScriptText(path.c_str(), nameSpace);
        if (!text) return 0;
        texts.push_back(text);
        for (int32_t i = 0; i < gStrategyCount; i++)
            for (FormulaSlot &slot : Rec(i)->slots)
                if (slot.length > 0 && !CompileFormula(&slot, (uint32_t)Rec(i)->kind, -1)) return 0;
        for (int32_t i = 0; i < gStrategyCount; i++)
            for (int32_t k = 0; k < Rec(i)->usingCount; k++)
                if (!InheritStrategyFormulas(Rec(Rec(i)->usingList[k]), Rec(i))) return 0;
        for (int32_t i = 0; i < gStrategyCount; i++)
            if (!ApplyStrategyDefaults(i, gCompileSession.pass)) return 0;
        return 1;
    }
    StrategyRecord *Named(const char *name)
    {
        for (int32_t i = 0; i < gStrategyCount; i++)
            if (strcmp(Rec(i)->name, name) == 0) return Rec(i);
        return nullptr;
    }
};

/* ---- constants ---------------------------------------------------------------------- */

TEST_F(StrategyTest, ConstantsReadTheirWordsAliasesAndErrors)
{
    static const struct {
        const char *keyword, *value;
        int answer; /* table index + 1, 0 no constant */
        int error;
        size_t field; /* offset of the i32 checked when error is 0 */
        int32_t want;
    } kCases[] = {
        {"Side", "Long", 1, 0, offsetof(StrategyRecord, Side), 1},
        {"side", "short // comment", 1, 0, offsetof(StrategyRecord, Side), -1},
        {"Side", "Both", 1, 0, offsetof(StrategyRecord, Side), 0},
        {"Side", "Up", 1, 68, 0, 0},
        {"BarSize", "Weekly", 2, 0, offsetof(StrategyRecord, BarSize), 1},
        {"BarSize", "Hourly", 2, 16, 0, 0},
        {"EntryTime", "AtOpen", 3, 0, offsetof(StrategyRecord, EntryTime), 1},
        {"EntryTime", "NextOpen", 3, 0, offsetof(StrategyRecord, EntryTime), 1},
        {"ExitTime", "AtClose", 4, 0, offsetof(StrategyRecord, ExitTime), 0},
        {"ExitLimitTime", "Sometime", 5, 70, 0, 0},
        {"QtyType", "PercentOrder", 7, 0, offsetof(StrategyRecord, QtyType), 2},
        {"QtyType", "Lots", 7, 15, 0, 0},
        {"Compounded", "True", 9, 0, offsetof(StrategyRecord, Compounded), 1},
        {"MarkToMarket", "Yes", 10, 41, 0, 0},
        {"Ambiguity", "Neither", 11, 0, offsetof(StrategyRecord, Ambiguity), 3},
        {"TLDateFmt", "YMD", 14, 42, 0, 0},
        {"TLNumFmt", "Comma", 15, 0, offsetof(StrategyRecord, TLNumFmt), 1},
        {"TLDelim", "Pipe", 16, 45, 0, 0},
        {"TLTimeShift", "-5 hours", 17, 0, offsetof(StrategyRecord, TLTimeShift), -5},
        {"Tracker", "Visible", 25, 0, offsetof(StrategyRecord, Tracker), 2},
        {"Tracker", "Shown", 25, 94, 0, 0},
        {"Quantity", "100", 0, 0, 0, 0},
    };
    int error = 0;
    StrategyRecord *r = AddStrategyRecord(SECTION_STRATEGY, "S", &error);
    ASSERT_NE(r, nullptr);
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::string(c.keyword) + ": " + c.value);
        int length = 0;
        error = -1;
        int answer = ParseStrategyConstant(r, c.keyword, c.value, (int)strlen(c.value), &error, &length);
        EXPECT_EQ(answer, c.answer);
        if (answer <= 0) continue;
        EXPECT_EQ(error, c.error);
        if (!c.error && c.field) {
            EXPECT_EQ(*(int32_t *)((char *)r + c.field), c.want);
        }
    }
}

TEST_F(StrategyTest, ConstantsAreRefusedInGroupsAndCalendarSymWaitsForTheData)
{
    int error = 0, length = 0;
    StrategyRecord *group = AddStrategyRecord(SECTION_STATS_GROUP, "G", &error);
    EXPECT_EQ(ParseStrategyConstant(group, "Side", "Long", 4, &error, &length), -1);
    StrategyRecord *s = AddStrategyRecord(SECTION_STRATEGY, "S", &error);
    error = -1;
    EXPECT_EQ(ParseStrategyConstant(s, "CalendarSym", "NOSUCH", 6, &error, &length), 19);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(s->CalendarSym, 0);
    gCompileSession.pass = 2;
    EXPECT_EQ(ParseStrategyConstant(s, "CalendarSym", "NOSUCH", 6, &error, &length), 19);
    EXPECT_EQ(error, 26);
    EXPECT_EQ(ParseStrategyConstant(s, "TLStratName", "Swing.Long", 10, &error, &length), 18);
    EXPECT_EQ(error, 0);
    EXPECT_STREQ(s->TLStratName, "Swing.Long");
}

/* ---- records and names -------------------------------------------------------------- */

TEST_F(StrategyTest, RecordNamesAreUniqueAndCombinedIsReserved)
{
    int error = 0;
    ASSERT_NE(AddStrategyRecord(SECTION_STRATEGY, "Strategy2", &error), nullptr);
    ASSERT_NE(AddStrategyRecord(SECTION_STRATEGY, "", &error), nullptr);
    /* The generated name would repeat the first record's; it moves on instead. */
    EXPECT_STREQ(Rec(1)->name, "Strategy3");
    ASSERT_NE(AddStrategyRecord(SECTION_BENCHMARK, "", &error), nullptr);
    EXPECT_STREQ(Rec(2)->name, "Benchmark3");

    EXPECT_EQ(AddStrategyRecord(SECTION_STRATEGY, "strategy2", &error), nullptr);
    EXPECT_EQ(error, 64);
    EXPECT_EQ(AddStrategyRecord(SECTION_STRATEGY, "COMBINED", &error), nullptr);
    EXPECT_EQ(error, 64);
    StrategyRecord *combined = AddStrategyRecord(SECTION_COMBINED, "Whatever", &error);
    ASSERT_NE(combined, nullptr);
    EXPECT_STREQ(combined->name, "Combined");
    EXPECT_EQ(gStrategyCount, 4);
    /* A fresh record has every constant unset. */
    EXPECT_EQ(combined->Side, STRATEGY_CONSTANT_UNSET);
    EXPECT_EQ(combined->TLTimeShift, STRATEGY_CONSTANT_UNSET);
    EXPECT_EQ(combined->TLEndDate, 0);
    EXPECT_EQ(StrategyByNumber(4), combined);
    EXPECT_EQ(StrategyByNumber(5), nullptr);
}

TEST_F(StrategyTest, UsingListsNameEarlierRecordsOnly)
{
    int error = 0;
    AddStrategyRecord(SECTION_TEMPLATE, "T", &error);
    AddStrategyRecord(SECTION_STATS_GROUP, "G", &error);
    AddStrategyRecord(SECTION_STRATEGY, "A", &error);
    AddStrategyRecord(SECTION_STRATEGY, "B", &error);
    AddStrategyRecord(SECTION_STATS_GROUP, "G2", &error);
    StrategyRecord *b = Rec(3);
    static const struct {
        int record; /* 2 A, 3 B, 4 G2 */
        const char *text;
        int code, offset, length;
    } kCases[] = {
        {3, "T, a , t // later", 0, 0, 0},
        {2, "T, B", 19, 3, 1}, /* B comes later in the script */
        {3, "A, G", 20, 3, 1},
        {4, "A,  T", 21, 4, 1},
        {2, "Nope", 19, 0, 4},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.text);
        int offset = -1, length = -1;
        int code = ParseUsingList(Rec(c.record), c.text, (int)strlen(c.text), &offset, &length);
        EXPECT_EQ(code, c.code);
        if (code) {
            EXPECT_EQ(offset, c.offset);
            EXPECT_EQ(length, c.length);
        }
    }
    ASSERT_EQ(b->usingCount, 2); /* T named twice counts once */
    EXPECT_EQ(b->usingList[0], 0);
    EXPECT_EQ(b->usingList[1], 2);
}

TEST_F(StrategyTest, UsingListsHoldAtMost99Names)
{
    int error = 0;
    std::string list;
    for (int i = 0; i < 100; i++) {
        std::string name = "T" + std::to_string(i);
        AddStrategyRecord(SECTION_TEMPLATE, name.c_str(), &error);
        list += (i ? "," : "") + name;
    }
    StrategyRecord *s = AddStrategyRecord(SECTION_STRATEGY, "S", &error);
    int offset = 0, length = 0;
    EXPECT_EQ(ParseUsingList(s, list.c_str(), (int)list.size(), &offset, &length), 67);
    EXPECT_EQ(std::string(list, offset, length), "T99");
    EXPECT_EQ(s->usingCount, 99);
}

TEST_F(StrategyTest, TradeListFieldsMapColumnsBothWays)
{
    int error = 0, offset = 0, length = 0;
    StrategyRecord *s = AddStrategyRecord(SECTION_STRATEGY, "S", &error);
    const char *text = "Symbol, , DateIn,PriceIn";
    ASSERT_EQ(ParseTLFieldsList(s, text, (int)strlen(text), &offset, &length), 0);
    EXPECT_EQ(s->tlColumnField[0], 4);
    EXPECT_EQ(s->tlColumnField[1], 0);
    EXPECT_EQ(s->tlColumnField[2], 10);
    EXPECT_EQ(s->tlFieldColumn[13], 4);
    EXPECT_EQ(s->tlFieldSum, 4 + 10 + 13);

    text = "Symbol,Colour";
    EXPECT_EQ(ParseTLFieldsList(s, text, (int)strlen(text), &offset, &length), 72);
    EXPECT_EQ(offset, 7);
    EXPECT_EQ(length, 6);
    text = "Symbol,DateIn, symbol";
    EXPECT_EQ(ParseTLFieldsList(s, text, (int)strlen(text), &offset, &length), 73);
    EXPECT_EQ(offset, 15);
    /* The trade-list reader asks for no positions: unknown names are skipped
    ** and a repeated field takes its later column. */
    text = "Symbol,Colour,symbol";
    EXPECT_EQ(ParseTLFieldsList(s, text, (int)strlen(text), nullptr, nullptr), 0);
    EXPECT_EQ(s->tlFieldColumn[4], 3);
    EXPECT_EQ(s->tlColumnField[0], 0);
    EXPECT_EQ(s->tlFieldSum, 4);
}

/* ---- parameters --------------------------------------------------------------------- */

Parameter *Param(int i) { return (Parameter *)gParameters.items + i; }

std::vector<double> Values(const Parameter *p) { return std::vector<double>(p->values, p->values + p->valueCount); }

TEST_F(StrategyTest, ParameterListsAndRanges)
{
    static const struct {
        const char *text;
        int code;
        std::vector<double> values;
        int range, label;
    } kCases[] = {
        {"10, 20,30", 0, {10, 20, 30}, 0, 0},
        {"5 // default only, really", 0, {5}, 0, 0},
        {"1 /* one, */, 2", 0, {1, 2}, 0, 0},
        {"-1.5, 2e1 // {X} label", 0, {-1.5, 20}, 0, 1},
        {"", 0, {0}, 0, 0},
        {"+5", 82, {}, 0, 0},
        {"10, ten", 82, {}, 0, 0},
        {"from 10 to 50 step 10 def 30", 0, {30, 10, 20, 40, 50}, 1, 0},
        {"from 1 to 100 mult 2", 0, {1, 2, 4, 8, 16, 32, 64}, 1, 0},
        {"from 1 to 9 step 1 mult 2", 83, {}, 0, 0},
        {"from 5 to 1", 84, {}, 0, 0},
        /* More values than the optimizer takes: refused, not cut short. */
        {"from 0 to 2000000", 85, {}, 0, 0},
        {"from 1 to 1000001", 85, {}, 0, 0},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.text);
        ResetScriptDefinitions(SECTION_PARAMETERS);
        int code = AddParameterName(SECTION_PARAMETERS, "Len", "", c.text, (int)strlen(c.text));
        EXPECT_EQ(code, c.code);
        ASSERT_EQ(gParameters.count, 1);
        EXPECT_EQ(gParameterCopies.count, 1);
        if (code) continue;
        EXPECT_EQ(Values(Param(0)), c.values);
        EXPECT_EQ(Param(0)->rangeFlag, c.range);
        EXPECT_EQ(Param(0)->labelFlag, c.label);
    }
}

TEST_F(StrategyTest, WrittenOutListsObeyTheValueCapToo)
{
    std::string many;
    for (int i = 0; i <= RANGE_MAX_VALUES; i++) many += "1,";
    many.pop_back();
    EXPECT_EQ(AddParameterName(SECTION_PARAMETERS, "Big", "", many.c_str(), (int)many.size()), 85);
    many.resize(many.size() - 2); /* exactly at the cap */
    EXPECT_EQ(AddParameterName(SECTION_PARAMETERS, "Big", "", many.c_str(), (int)many.size()), 0);
    EXPECT_EQ(Param(0)->valueCount, RANGE_MAX_VALUES);
}

TEST_F(StrategyTest, WalkForwardNeedsDatesFirstAndOneValueLessThanDates)
{
    const char *values = "1, 2";
    EXPECT_EQ(AddParameterName(SECTION_PARAMETERS, "Len", "", "5", 1), 0);
    EXPECT_EQ(AddParameterName(SECTION_WALK_FORWARD, "Len", "", values, 4), 87); /* no dates yet */
    EXPECT_EQ(AddParameterName(SECTION_WALK_FORWARD, "Other", "", values, 4), 88);
    const char *dates = "2020-01-01, 2021-01-01,2022-01-01";
    EXPECT_EQ(AddParameterName(SECTION_WALK_FORWARD, "Dates", "", dates, (int)strlen(dates)), 0);
    ASSERT_EQ(gWalkForwardDates.count, 3);
    EXPECT_EQ(((int32_t *)gWalkForwardDates.items)[2], 20220101);
    EXPECT_EQ(AddParameterName(SECTION_WALK_FORWARD, "len", "NS", values, 4), 0);
    EXPECT_EQ(Param(0)->walkCount, 2);
    EXPECT_EQ(Param(0)->walkValues[1], 2);
    EXPECT_STREQ(Param(0)->nameSpace, "NS");
    EXPECT_EQ(AddParameterName(SECTION_WALK_FORWARD, "Len", "", "1,2,3", 5), 87);
    EXPECT_EQ(AddParameterName(SECTION_WALK_FORWARD, "Dates", "", "2020-01-01, soon", 16), 86);
    /* Each date but the last must come after the one before; the last, a
    ** one-day last interval's own day, may equal it.  The date is marked. */
    for (const char *bad : {"2020-01-01, 2022-01-03, 2021-01-04, 2023-01-02", "2020-01-01, 2021-01-04, 2021-01-04, 2023-01-02",
                            "2020-01-01, 2023-01-02, 2023-01-01"}) {
        int offset = -1, length = 0;
        EXPECT_EQ(86, AddParameterName(SECTION_WALK_FORWARD, "Dates", "", bad, (int)strlen(bad), &offset, &length)) << bad;
        EXPECT_EQ(24, offset) << bad;
        EXPECT_EQ(10, length) << bad;
    }
    EXPECT_EQ(0, AddParameterName(SECTION_WALK_FORWARD, "Dates", "", "2020-01-01, 2021-01-04, 2021-01-04", 34));
}

/* ---- whole scripts: inheritance and defaults ------------------------------------------- */

TEST_F(StrategyTest, TemplatesPassOnWhatStrategiesLeaveUnset)
{
    ASSERT_EQ(Compile("Template: Base\n"
                      "  Side: Long\n"
                      "  TLNumFmt: Comma\n"
                      "  TLTimeShift: 99\n"
                      "  TradeList: trades.csv\n"
                      "  EntryLimit: C * 0.99\n"
                      "  Commission: 1\n"
                      "Strategy: A\n"
                      "  Using: Base\n"
                      "  Commission: 2\n"
                      "Strategy: B\n"
                      "  Side: Short\n"
                      "  TLTimeShift: 3\n"
                      "  Using: Base\n"),
              1)
        << LastMessage();
    StrategyRecord *a = Named("A");
    StrategyRecord *b = Named("B");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->Side, 1);
    EXPECT_EQ(b->Side, -1);
    /* Comma decimals with no delimiter given read semicolon-separated files. */
    EXPECT_EQ(a->TLNumFmt, 1);
    EXPECT_EQ(a->TLDelim, 1);
    /* A time shift the script gave as 99 is a value, not "unset". */
    EXPECT_EQ(Named("Base")->TLTimeShift, 99);
    EXPECT_EQ(a->TLTimeShift, 99);
    EXPECT_EQ(b->TLTimeShift, 3);
    EXPECT_STREQ(a->TradeList, "trades.csv");
    EXPECT_STREQ(a->TLStratName, "A");
    /* The inherited EntryLimit makes the entry intraday. */
    EXPECT_TRUE(IsSlotGiven(&a->slots[SLOT_ENTRY_LIMIT]));
    EXPECT_EQ(a->EntryTime, TIME_INTRADAY);
    EXPECT_EQ(a->effectiveEntryTime, TIME_INTRADAY);
    /* The strategy's own formula is kept; the template's is not copied over it. */
    EXPECT_EQ(a->slots[24].nodes[0][0].constant, 2);
    EXPECT_EQ(a->keepTrades, 1);
}

TEST_F(StrategyTest, DefaultsFollowTheRecordAndItsFormulas)
{
    ASSERT_EQ(Compile("Strategy: Plain\n"
                      "  EntryTime: Intraday\n"
                      "Strategy: Weekly\n"
                      "  BarSize: Weekly\n"
                      "  AllowMissingBar: True\n"
                      "  TLTimeShift: 2\n"
                      "Strategy: Alloc\n"
                      "  Allocation: 50\n"
                      "Strategy: Qty\n"
                      "  Quantity: 100\n"
                      "Strategy: QtyEquity\n"
                      "  Quantity: S.Equity / 10\n"
                      "  Allocation: 50\n"
                      "Strategy: Close\n"
                      "  EntryTime: NextClose\n"
                      "  ExitTime: NextClose\n"
                      "Benchmark: Bench\n"
                      "StatsGroup: Group\n"),
              1)
        << LastMessage();
    StrategyRecord *plain = Named("Plain");
    EXPECT_EQ(plain->EntryTime, TIME_NEXT_OPEN); /* Intraday without limit or stop orders */
    EXPECT_EQ(plain->ExitTime, TIME_NEXT_OPEN);
    EXPECT_EQ(plain->ExitLimitTime, TIME_INTRADAY);
    EXPECT_EQ(plain->Side, 0);
    EXPECT_EQ(plain->TLTimeShift, 0);
    EXPECT_EQ(plain->Compounded, 1);
    EXPECT_EQ(plain->MarkToMarket, 1);
    EXPECT_EQ(plain->AllowMissingBar, 0);
    EXPECT_EQ(plain->nextCloseOnly, 0);
    EXPECT_EQ(Named("Weekly")->AllowMissingBar, 0);
    EXPECT_EQ(Named("Weekly")->BarSize, 1);
    EXPECT_EQ(Named("Alloc")->Compounded, 0);
    EXPECT_EQ(Named("Qty")->Compounded, 0);
    EXPECT_EQ(Named("QtyEquity")->Compounded, 1);
    EXPECT_EQ(Named("Close")->nextCloseOnly, 1);
    EXPECT_EQ(Named("Close")->EntryTime, TIME_NEXT_CLOSE);
    EXPECT_EQ(Named("Bench")->keepTrades, 0);
    EXPECT_EQ(Named("Group")->Compounded, 0);
    EXPECT_EQ(Named("Group")->MarkToMarket, 0);
    for (int32_t i = 0; i < gStrategyCount; i++)
        for (int32_t *c : {&Rec(i)->Side, &Rec(i)->EntryTime, &Rec(i)->TLDateFmt, &Rec(i)->Ambiguity})
            EXPECT_NE(*c, STRATEGY_CONSTANT_UNSET) << Rec(i)->name;
}

TEST_F(StrategyTest, OwnCalendarAndHolidaysBindInTheSecondPass)
{
    static Bar daily[3] = {{.date = 20240102}, {.date = 20240103}, {.date = 20240105}};
    static Bar weekly[1] = {{.date = 20240105}};
    static SymbolRecord symbols[1] = {};
    symbols[0].bars[BAR_DAILY] = daily;
    symbols[0].barCounts[BAR_DAILY] = 3;
    symbols[0].bars[BAR_WEEKLY] = weekly;
    symbols[0].barCounts[BAR_WEEKLY] = 1;
    CopyString(symbols[0].info.Symbol, sizeof symbols[0].info.Symbol, "CAL", -1);
    SymbolRecord *savedSymbols = gStore.symbols;
    int32_t savedCount = gStore.symbolCount;
    gStore.symbols = symbols;
    gStore.symbolCount = 1;
    ASSERT_TRUE(WriteTestFile(folder.File("h.txt"), "2024-01-04\r\n"));
    std::string script = "Strategy: A\n  CalendarSym: cal\n  HolidayList: " + folder.File("h.txt") + "\nStrategy: B\n";
    gCompileSession.pass = 2;
    EXPECT_EQ(Compile(script), 1) << LastMessage();
    gStore.symbols = savedSymbols;
    gStore.symbolCount = savedCount;
    StrategyRecord *a = Named("A");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->CalendarSym, 1);
    EXPECT_EQ(a->hasOwnDateLists, 1);
    ASSERT_EQ(a->dateLists[BAR_DAILY].count, 3);
    EXPECT_EQ(a->dateLists[BAR_DAILY].dates[2], 20240105u);
    EXPECT_EQ(a->dateLists[BAR_DAILY].dates[3], 0u);
    EXPECT_EQ(a->dateLists[BAR_WEEKLY].count, 1);
    EXPECT_EQ(a->dateLists[BAR_WEEKLY].holidayStrategy, 1);
    EXPECT_EQ(a->hasOwnHolidays, 1);
    ASSERT_EQ(a->holidays.count, 1);
    EXPECT_EQ(a->holidays.pairs[0].date, 20240104);
    EXPECT_EQ(Named("B")->hasOwnDateLists, 0);
    EXPECT_EQ(Named("B")->hasOwnHolidays, 0);
}

TEST_F(StrategyTest, DynamicSizingRefusesOrderFormulasAndASide)
{
    EXPECT_EQ(Compile("Strategy: D\n  DynamicSizing: True\n  ExitRule: C > 1\n"), 0);
    EXPECT_STREQ(LastMessage(), "Strategy D speficies DynamicSizing and ExitRule -- these are not allowed together");
    ClearStrategies();
    EXPECT_EQ(Compile("Strategy: E\n  DynamicSizing: True\n  Side: Long\n"), 0);
    EXPECT_STREQ(LastMessage(), "Strategy E speficies DynamicSizing and Side -- these are not allowed together");
    ClearStrategies();
    EXPECT_EQ(Compile("Strategy: F\n  DynamicSizing: True\n  Quantity: 10\n"), 1);
}

TEST_F(StrategyTest, ScriptErrorsStopAtTheOffendingElement)
{
    EXPECT_EQ(Compile("Strategy: A\n  Using: B\nStrategy: B\n"), 0);
    EXPECT_EQ(gLastFormulaError.code, 19);
    ClearStrategies();
    ResetScriptParserState();
    EXPECT_EQ(Compile("Strategy: combined\n"), 0);
    EXPECT_EQ(gLastFormulaError.code, 64);
}

} // namespace
