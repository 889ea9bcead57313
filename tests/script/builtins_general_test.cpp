/* General functions: math, dates and control, texts, named items and
** references, TargetPrice and Assert.  Expected values are worked by hand
** from the definitions (or, for the distribution functions, taken from
** published tables). */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "builtins_fixture.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/store/datafile.h"
#include "platform/platform.h"
#include "script/eval/evaluator.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

using General = BuiltinTest;

struct Case {
    std::string text;
    double want;      /* NaN: no value */
    double tolerance; /* 0: exact */
};

void CheckCases(General *t, const std::vector<Case> &cases)
{
    for (const Case &c : cases) {
        double got = t->Value(c.text);
        if (std::isnan(c.want))
            EXPECT_TRUE(std::isnan(got)) << c.text << " gave " << got;
        else if (c.tolerance > 0)
            EXPECT_NEAR(c.want, got, c.tolerance) << c.text;
        else
            EXPECT_DOUBLE_EQ(c.want, got) << c.text;
    }
}

std::string TextOf(General *t, const std::string &formula)
{
    char out[128] = "<none>";
    FormulaSlot *slot = t->CompileText(formula);
    EvalFormulaText(slot, &t->ctx, out, sizeof out);
    return out;
}

TEST_F(General, MathFunctionsFollowTheirDefinitions)
{
    CheckCases(this, {
                         {"Bound(5, 1, 3)", 3, 0},
                         {"Bound(0, 1, 3)", 1, 0},
                         {"Bound(2, 1, 3)", 2, 0},
                         {"Rescale(5, 0, 10, 0, 100)", 50, 0},
                         {"Rescale(15, 0, 10, 0, 100, 1)", 100, 0},
                         {"Rescale(15, 0, 10, 0, 100)", 150, 0},
                         {"Rescale(-5, 10, 0, 0, 100, 1)", 100, 0},
                         {"Rescale(1, 2, 2, 0, 1)", NAN, 0},
                         {"Abs(-3.5)", 3.5, 0},
                         {"Sign(0)", 0, 0},
                         {"Sign(-0.001)", -1, 0},
                         {"Round(2.5)", 3, 0},
                         {"Round(-2.5)", -3, 0},
                         {"Round(17, 5)", 15, 0},
                         {"Round(17, 5, 1)", 20, 0},
                         {"Round(17.9, 5, -1)", 15, 0},
                         {"Top(98765, 3)", 987, 0},
                         {"Top(7, 3)", 7, 0},
                         {"Top(12345, 2)", 12, 0},
                         {"Top(-12.7, 2)", -12, 0},
                         {"Top(0, 2)", 0, 0},
                         {"Sqr(16)", 4, 0},
                         {"Sqr(-1)", NAN, 0},
                         {"Log(0)", NAN, 0},
                         {"Log(Exp(2))", 2, 1e-15},
                         {"Logit(0.75)", log(3.0), 1e-15},
                         {"Logit(1)", NAN, 0},
                         {"Sine(30)", 0.5, 1e-15},
                         {"Cosine(60)", 0.5, 1e-15},
                         {"Tangent(45)", 1, 1e-15},
                         {"ArcTan(1)", 45, 1e-13},
                         {"ArcSin(0.5)", 30, 1e-13},
                         {"ArcCos(0.5)", 60, 1e-13},
                         {"CosH(0)", 1, 0},
                         {"SinH(1)", 1.1752011936438014, 1e-15},
                         {"TanH(0)", 0, 0},
                         /* the normal distribution at 0, 1.96 and -1 (tables: 0.5, 0.9750021, 0.1586553) */
                         {"CDF(0)", 0.5, 7.5e-8},
                         {"CDF(1.96)", 0.9750021048517795, 7.5e-8},
                         {"CDF(-1)", 0.15865525393145707, 7.5e-8},
                         {"ICDF(0.975)", 1.959963984540054, 4.5e-4},
                         {"ICDF(0.1)", -1.2815515655446004, 4.5e-4},
                         {"ICDF(0)", NAN, 0},
                         {"ICDF(1)", NAN, 0},
                     });
    for (int k = 0; k < 50; k++) {
        double r = Value("Random(10)");
        EXPECT_TRUE(r >= 0 && r <= 10 && r == floor(r)) << r;
        double f = Value("Random()");
        EXPECT_TRUE(f >= 0 && f <= 1) << f;
        double s = Value("Random(2, 3, 0.5)");
        EXPECT_TRUE(s == 2 || s == 2.5 || s == 3) << s;
    }
}

/* The fixture's bars run from Thursday 25 January to Wednesday 7 February
** 2024; bar 5 (the context's) is Thursday 1 February, close 16. */
TEST_F(General, DatesAcrossMonthAndYearEnds)
{
    AtBar(5);
    CheckCases(this, {
                         {"Date(24, 2, 29)", 20240229, 0},
                         {"Date(2023, 2, 29)", NAN, 0},
                         {"Date(99, 12, 31)", 19991231, 0},
                         {"Date(2024.5, 1, 1)", NAN, 0},
                         {"Date(2023, 12, 31)", 20231231, 0},
                         {"Date(2024, 13, 1)", NAN, 0},
                         {"Date(999, 1, 1)", NAN, 0},
                         {"DateDay(20240315)", 15, 0},
                         {"DateYear(20240315.9)", 2024, 0},
                         {"DateMonth(20241231)", 12, 0},
                         {"Days(20240101, 20240201)", 31, 0},
                         {"Days(20231231, 20240101)", 1, 0},
                         {"Days(20240301, 20240228)", -2, 0},
                         {"Days(20240101, 99991231)", NAN, 0},
                         {"Days(20240125, 20240207, 1)", 9, 0}, /* ten market dates, both ends counted, less one */
                         {"DateBars(20240129)", 3, 0},
                         {"DateBars(20240101)", 5, 0},
                         {"DateBars(20240210)", -5, 0},
                         {"DateBars(20240125)", 5, 0},
                         /* Thursday 1 February is the first Thursday and not the last. */
                         {"NthOfMonth(4, 1)", 1, 0},
                         {"NthOfMonth(4, -1)", 0, 0},
                         {"NthOfMonth(4, -4)", 0, 0},
                         {"NthOfMonth(4, -5)", 1, 0},
                         {"NthOfMonth(5, 1)", 0, 0},
                         {"NthOfMonth(4, 0)", 0, 0},
                         /* Friday 26 January, four bars back: the fourth and last Friday of January. */
                         {"NthOfMonth(5, -1)[4]", 1, 0},
                         {"NthOfMonth(5, 4)[4]", 1, 0},
                         {"NthOfMonth(5, 3)[4]", 0, 0},
                         {"NthOfMonth(5, -1, 1)[4]", 1, 0},
                         {"NthOfMonth(5, -1)[20]", 0, 0},
                     });
}

TEST_F(General, ControlFunctionsPickAndCompare)
{
    AtBar(5);
    CheckCases(this, {
                         {"IF(1, 2, 3)", 2, 0},
                         {"IF(0, 2, 3)", 3, 0},
                         {"IIF(C > 15, C, 0)", 16, 0},
                         {"Switch(3, 1, 10, 2, 20, 99)", 99, 0},
                         {"Switch(3, 1, 10, 2, 20)", NAN, 0},
                         {"Switch(2, 1, 10, 2, 20)", 20, 0},
                         {"Switch(\"b\", \"A\", 1, \"B\", 2)", 2, 0},
                         {"Select(0, 1, 1, 2)", 2, 0},
                         {"Select(0, 1, 0, 2, 7)", 7, 0},
                         {"Select(0, 1)", NAN, 0},
                         {"InSet(3, 1, 2, 3)", 1, 0},
                         {"InSet(4, 1, 2, 3)", 0, 0},
                         {"InSet(\"x\", \"A\", \"X\")", 1, 0},
                         {"IsNaN(C[20])", 1, 0},
                         {"IsNaN(C)", 0, 0},
                         {"IsNaN(1 / 0)", 0, 0},
                         {"Max(3, 8, 2)", 8, 0},
                         {"Min(3, 8, 2)", 2, 0},
                         {"MaxN(2, 5, 9, 7)", 7, 0},
                         {"MinN(1, 5, 9, 7)", 5, 0},
                         {"MinN(2, 5, 9, 7)", 7, 0},
                         {"MaxN(3, 5, 9)", NAN, 0},
                         /* closes 15 then 16 */
                         {"Cross(C, 15.5)", 1, 0},
                         {"Cross(C, 16)", 0, 0},
                         {"Cross(C, 14.5)", 0, 0},
                         {"Cross(15.5, C)", 0, 0},
                         {"Sum(This(C), 3)", 48, 0},
                         {"Sum(C, 3)", 45, 0},
                     });
}

TEST_F(General, EventsAndMissingBars)
{
    EventItem events[2] = {{kFixtureDates[2], 0, 5, 0, 2.5}, {kFixtureDates[4], 0, 6, 0, 4.0}};
    gStore.symbols[0].events = events;
    gStore.symbols[0].eventCount = 2;
    AtBar(5);
    CheckCases(this, {{"Event(5)[3]", 2.5, 0}, {"Event(5)", 0, 0}, {"Event(5, 1)", 2.5, 0}, {"Event(6)[1]", 4, 0}, {"Event(6)", 0, 0}, {"Event(5)[20]", NAN, 0}});
    gStore.symbols[0].events = nullptr;
    gStore.symbols[0].eventCount = 0;
    /* AAA skips Monday 29 January; BBB trades every day. */
    Bar *bars = gStore.symbols[0].bars[BAR_DAILY];
    for (int i = 2; i < 9; i++) bars[i] = bars[i + 1];
    gStore.symbols[0].barCounts[BAR_DAILY] = 9;
    ctx.barIndex = ctx.lastBar = 2;
    ctx.date = kFixtureDates[3];
    CheckCases(this, {{"MissingBars(2)", 1, 0}, {"MissingBars(1)", 0, 0}, {"MissingBars(3)", NAN, 0}});
    ctx.barIndex = ctx.lastBar = 3;
    ctx.date = kFixtureDates[4];
    CheckCases(this, {{"MissingBars(2)", 0, 0}, {"MissingBars(2)[1]", 1, 0}, {"MissingBars(2)[3]", NAN, 0}});
}

TEST_F(General, IncludeListsByNumberAndName)
{
    char names[2][LIST_NAME_SIZE] = {"Tech", "Banks"};
    gStore.listNames = names;
    gStore.listNameCount = 2;
    gStore.symbols[0].info.includeLists[1] = 1;
    CheckCases(this, {{"InList(2)", 1, 0}, {"InList(1)", 0, 0}, {"InList(0)", 0, 0}, {"InList(300)", 0, 0}, {"InList(\"banks\")", 1, 0}, {"InList(\"Tech\")", 0, 0}, {"InList(\"Other\")", 0, 0}});
    gStore.listNames = nullptr;
    gStore.listNameCount = 0;
}

TEST_F(General, TextFunctionsCutSearchAndConvert)
{
    const std::string t79(79, 'a'), t40 = "\"" + std::string(40, 'a') + "\"", t39 = "\"" + std::string(39, 'a') + "\"";
    const struct {
        std::string formula, text;
        double value;
    } cases[] = {
        {"Format(\"{#2}-{##}\", 1.5, 7)", "1.50-7", 3},
        {"Format(\"a{#2}b{#2}\", 1)", "a1.00b{#2}", 2},
        {"Format(\"{%1} {~} {?}\", 0.25, 1, \"x\")", "25.0% True x", 4},
        {"Format(\"\")", "", 1},
        {"Format(\"{?}{?}\", " + t40 + ", " + t40 + ")", t79, 3},
        {"GetField(\"a,b,c\", \",\", 2)", "b", 1},
        {"GetField(\"a,b,c\", \",\", 3)", "c", 1},
        {"GetField(\"a,b,c\", \",\", 4)", "", 0},
        {"GetField(\"aXXbxxc\", \"xx\", 2)", "b", 1},
        {"GetField(\"abc\", \",\", 1)", "", 0},
        {"GetField(\"abc\", \",\", 0)", "abc", 3},
        {"Mid(\"abcdef\", 3, 2)", "cd", 0},
        {"Mid(\"abc\", 0, 2)", "ab", 0},
        {"Mid(\"abc\", 5)", "", 0},
        {"Mid(\"abc\", 2, -1)", "", 0},
        {"Left(\"abc\", -1)", "abc", 0},
        {"Left(\"abc\", 0)", "", 0},
        {"Left(Format(\"{?}{?}\", " + t40 + ", " + t39 + "), 200)", t79, 0},
        {"Right(\"abc\", 2)", "bc", 0},
        {"Right(\"abc\", 0)", "", 0},
        {"Replace(\"aXbX\", \"X\", \"yy\")", "ayybyy", 0},
        {"Replace(\"aXb\", \"x\", \"z\")", "aXb", 0},
        {"Replace(\"\", \"a\", \"b\")", "", 0},
        {"Replace(" + t40 + ", \"a\", \"bb\")", std::string(79, 'b'), 0},
        {"ToUpper(\"aBc1\")", "ABC1", 0},
        {"ToLower(\"aBc1\")", "abc1", 0},
        {"FormatDate(20240315, \"yyyy-MM-dd\")", "2024-03-15", 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.text, TextOf(this, c.formula)) << c.formula;
        EXPECT_DOUBLE_EQ(c.value, Value(c.formula)) << c.formula;
    }
    CheckCases(this, {
                         {"Find(\"Hello\", \"LL\")", 3, 0},
                         {"Find(\"Hello\", \"x\")", 0, 0},
                         {"Find(\"\", \"x\")", 0, 0},
                         {"Length(\"\")", 0, 0},
                         {"Length(Format(\"{?}{?}\", " + t40 + ", " + t39 + "))", 79, 0},
                         {"Match(\"Hello\", \"h*O\")", 1, 0},
                         {"Match(\"Hello\", \"h?o\")", 0, 0},
                         {"ToNum(\"ab 12 cd 7.5\", 2)", 7.5, 0},
                         {"ToNum(\"12abc\")", 12, 0},
                         {"ToNum(\" -4.5e1x\")", -45, 0},
                         {"ToNum(\"x 3 y\", 5)", 0, 0},
                         {"ToNum(\"\")", 0, 0},
                         {"ToNum(\"a1b2c3\", 3)", 3, 0},
                         {"ToDate(\"2024-03-15\")", 20240315, 0},
                         {"ToDate(\"nothing\")", 0, 0},
                     });
}

/* Texts are UTF-8: lengths, positions and cuts count letters of two, three
** and four bytes (é, 日, 𝄞) as one each, '?' takes one letter, and no cut,
** the 79 bytes a text holds included, leaves part of a letter behind. */
TEST_F(General, TextFunctionsCountLettersOfEverySize)
{
    const std::string e = "\xC3\xA9", j = "\xE6\x97\xA5", g = "\xF0\x9D\x84\x9E";
    auto q = [](const std::string &text) { return "\"" + text + "\""; };
    std::string e20, g10;
    for (int k = 0; k < 20; k++) e20 += e;
    for (int k = 0; k < 10; k++) g10 += g;
    const std::string a40 = q(std::string(40, 'a'));
    const struct {
        std::string formula, text;
        double value;
    } texts[] = {
        {"Left(" + q(e + "a") + ", 1)", e, 0},
        {"Left(" + q(j + g + "b") + ", 2)", j + g, 0},
        {"Right(" + q("a" + e + j) + ", 2)", e + j, 0},
        {"Right(" + q(g + g) + ", 1)", g, 0},
        {"Mid(" + q("a" + e + j + g + "b") + ", 2, 3)", e + j + g, 0},
        {"Mid(" + q(j + j + g) + ", 3)", g, 0},
        {"Mid(" + q(e) + ", 2)", "", 0},
        {"GetField(" + q(e + "," + j + g + "," + g) + ", \",\", 2)", j + g, 2},
        {"GetField(" + q(e + j + "x" + g) + ", \"X\", 2)", g, 1},
        {"Replace(" + q(e + e) + ", " + q(e) + ", " + q(j) + ")", j + j, 0},
        /* 40 + 40 bytes: the last é would be cut in two at 79 bytes. */
        {"Format(\"{?}{?}\", " + a40 + ", " + q(e20) + ")", std::string(40, 'a') + e20.substr(0, 38), 3},
        {"Left(Format(\"{?}{?}\", " + a40 + ", " + q(g10) + "), 60)", std::string(40, 'a') + g10.substr(0, 36), 0},
        {"Replace(" + a40 + ", \"a\", " + q(e) + ")", e20 + e20.substr(0, 38), 0},
    };
    for (const auto &c : texts) {
        EXPECT_EQ(c.text, TextOf(this, c.formula)) << c.formula;
        EXPECT_DOUBLE_EQ(c.value, Value(c.formula)) << c.formula;
    }
    CheckCases(this, {
                         {"Length(" + q(e + e) + ")", 2, 0},
                         {"Length(" + q("a" + j + g + "b") + ")", 4, 0},
                         {"Length(Format(\"{?}{?}\", " + a40 + ", " + q(e20) + "))", 59, 0},
                         {"Find(" + q("a" + e + "b") + ", \"b\")", 3, 0},
                         {"Find(" + q(j + j + g + "A") + ", \"a\")", 4, 0},
                         {"Find(" + q(g + e) + ", " + q(e) + ")", 2, 0},
                         {"Match(" + q(e) + ", \"?\")", 1, 0},
                         {"Match(" + q(j + g) + ", \"??\")", 1, 0},
                         {"Match(" + q(g) + ", \"??\")", 0, 0},
                         {"Match(" + q("a" + g + "B" + j) + ", \"A?b*\")", 1, 0},
                         {"Match(" + q(e + j) + ", \"*?\")", 1, 0},
                     });
}

TEST_F(General, ShapersAndSymbolAndStrategyNumbers)
{
    AtBar(5);
    CheckCases(this, {
                         {"NoNan(C[20], 7)", 7, 0},
                         {"NoNan(C[20])", 0, 0},
                         {"NoNan(C)", 16, 0},
                         {"DataType(5, 2)", 5, 0},
                         {"Reason(3, \"why\")", 3, 0},
                         {"SymRef(\"bbb\")", 2, 0},
                         {"SymRef(\"ZZZ\")", NAN, 0},
                         {"SymRef(3)", NAN, 0},
                         {"SymNum(1)", 1, 0},
                         {"StratRef(5)", NAN, 0},
                         {"StratRef(\"none\")", NAN, 0},
                     });
    EXPECT_EQ("why", TextOf(this, "Reason(3, \"why\")"));
}

/* ---- Item, Library calls and the nesting limit ------------------------------------ */

TEST_F(General, ItemBuildsTheNameAndFindsLibraryItems)
{
    SetLibrary({{"MA50", "C * 2"}, {"X1000", "7"}, {"Nine", "Arg1 + Arg2 + Arg3 + Arg4 + Arg5 + Arg6 + Arg7 + Arg8 + Arg9"}, {"Len", "Length(Arg1)"}});
    AtBar(5);
    CheckCases(this, {
                         {"Item(\"MA{##}\", 50)", 32, 0},
                         {"Item(\"X{#0}\", 1000)", 7, 0}, /* "X1,000" without its separator */
                         {"Item(\"Nothing\")", NAN, 0},
                         {"Nine(1, 2, 3, 4, 5, 6, 7, 8, 9)", 45, 0},
                         {"Len(\"abcd\")", 4, 0},
                     });
}

TEST_F(General, NestingStopsAtTheThirtyThirdLevel)
{
    for (int levels : {32, 33}) {
        std::vector<std::pair<std::string, std::string>> items;
        for (int k = 0; k < levels; k++) {
            std::string next = k + 1 < levels ? "Item(\"L{##}\", " + std::to_string(k + 1) + ")" : "1";
            items.push_back({"L" + std::to_string(k), next});
        }
        for (FormulaItem &item : library) FreeFormulaNodes(&item.formula);
        SetLibrary(items);
        ClearPendingRuntimeError();
        gRun.state = RUN_TESTING;
        double got = Value("Item(\"L0\")");
        if (levels == 32) {
            EXPECT_EQ(1, got);
            EXPECT_STREQ("", gPendingRuntimeError);
        } else {
            EXPECT_TRUE(std::isnan(got));
            EXPECT_STREQ("Item<=>Library infinite recursion in 'L32'", gPendingRuntimeError);
            EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());
        }
        gRun.state = RUN_IDLE;
    }
}

/* ---- Extern ------------------------------------------------------------------------- */

TEST_F(General, ExternReadsTheOtherSymbolsCompletedBar)
{
    AtBar(5);
    CheckCases(this, {{"Extern($BBB, C)", 160, 0}, {"Extern(SymRef(\"BBB\"), C)", 160, 0}, {"Extern($ZZZ, C)", NAN, 0}});
    AtBar(5, PHASE_OPEN); /* bar 5 has not closed: its close is not seen */
    CheckCases(this, {{"Extern($BBB, C)", 150, 0}, {"Extern($BBB, O)", 140, 0}});
    FormulaSlot *slot = CompileText("Extern($BBB, V)");
    double v = 0;
    AtBar(5);
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
    EXPECT_EQ(6000, v);
    EXPECT_EQ(4u, slot->nodes[0][0].dataType); /* extern volume */
    ctx.importFlag = 1;
    EXPECT_TRUE(std::isnan(Value("Extern($BBB, C)")));
}

/* A continuous series "&AA" and its contracts "AA-1001" (expiring 30
** January) and "AA-1002" (20 February) join AAA and BBB, all trading AAA's
** bars. */
void AddFutures(General *t)
{
    ASSERT_EQ(1, ReallocMemory(&gStore.symbols, 6 * sizeof(SymbolRecord)));
    memmove((void *)&gStore.symbols[3], (void *)&gStore.symbols[0], 2 * sizeof(SymbolRecord));
    const char *names[3] = {"&AA", "AA-1001", "AA-1002"};
    for (int k = 0; k < 3; k++) {
        SymbolRecord &r = gStore.symbols[k];
        r = gStore.symbols[3];
        r.bars[BAR_DAILY] = nullptr;
        ASSERT_EQ(1, AllocMemory(&r.bars[BAR_DAILY], 11 * sizeof(Bar)));
        memcpy(r.bars[BAR_DAILY], gStore.symbols[3].bars[BAR_DAILY], 11 * sizeof(Bar));
        CopyString(r.info.Symbol, sizeof r.info.Symbol, names[k], -1);
    }
    gStore.symbols[1].info.DelistDate = 20240130;
    gStore.symbols[1].lastDate = 20240130;
    gStore.symbols[1].info.nextContract = 3;
    gStore.symbols[2].info.DelistDate = 20240220;
    gStore.symbols[2].info.previousContract = 2;
    gStore.symbolCount = 5;
    t->ctx.symbol = &gStore.symbols[0];
    t->ctx.callingSymbol = t->ctx.symbol;
}

TEST_F(General, ExternFollowsFuturesChains)
{
    AddFutures(this);
    AtBar(3); /* Tuesday 30 January: the first contract is in force */
    EXPECT_EQ("AA-1001", TextOf(this, "Extern(&0, ?Symbol)"));
    EXPECT_EQ("AA-1002", TextOf(this, "Extern(&1, ?Symbol)"));
    EXPECT_TRUE(std::isnan(Value("Extern(&-1, C)")));
    AtBar(5); /* Thursday 1 February: the second one */
    EXPECT_EQ("AA-1002", TextOf(this, "Extern(&0, ?Symbol)"));
    EXPECT_TRUE(std::isnan(Value("Extern(&-1, C)"))); /* the expired contract has no bar today */
    EXPECT_TRUE(std::isnan(Value("Extern(&1, C)")));
    ctx.symbol = &gStore.symbols[1];
    EXPECT_EQ("&AA", TextOf(this, "Extern(&cc, ?Symbol)"));
    EXPECT_TRUE(std::isnan(Value("Extern(&ccb, C)")));
    EXPECT_EQ("AA-1002", TextOf(this, "Extern(&1, ?Symbol)"));
}

/* A second chain of the kind whose bars carry dated contract events: the
** series ZZ_B and its contracts ZZ_1001 (expiring 15 February) and ZZ_1002
** (15 March), with the plain series ZZ.  The series follows ZZ_1001 until
** 1 February, when its event names the March contract. */
void AddDatedFutures(General *t, EventItem *seriesEvents, EventItem *contractEvent)
{
    ASSERT_EQ(1, ReallocMemory(&gStore.symbols, 7 * sizeof(SymbolRecord)));
    const char *names[4] = {"ZZ", "ZZ_1001", "ZZ_1002", "ZZ_B"};
    for (int k = 0; k < 4; k++) {
        SymbolRecord &r = gStore.symbols[2 + k];
        r = gStore.symbols[0];
        r.bars[BAR_DAILY] = nullptr;
        ASSERT_EQ(1, AllocMemory(&r.bars[BAR_DAILY], 11 * sizeof(Bar)));
        memcpy(r.bars[BAR_DAILY], gStore.symbols[0].bars[BAR_DAILY], 11 * sizeof(Bar));
        CopyString(r.info.Symbol, sizeof r.info.Symbol, names[k], -1);
        r.securityType = SECURITY_FUTURES;
        r.events = contractEvent;
        r.eventCount = 1;
    }
    seriesEvents[0] = EventItem{.date = 20240125, .time = 0, .kind = EVENT_CONTRACT, .reserved = 0, .value = 20240215};
    seriesEvents[1] = EventItem{.date = 20240201, .time = 0, .kind = EVENT_CONTRACT, .reserved = 0, .value = 20240315};
    *contractEvent = seriesEvents[0];
    gStore.symbols[5].events = seriesEvents;
    gStore.symbols[5].eventCount = 2;
    gStore.symbols[3].info.DelistDate = 20240215;
    gStore.symbols[3].info.nextContract = 5;
    gStore.symbols[4].info.DelistDate = 20240315;
    gStore.symbols[4].info.previousContract = 4;
    gStore.symbolCount = 6;
    t->ctx.symbol = &gStore.symbols[5];
    t->ctx.callingSymbol = t->ctx.symbol;
}

TEST_F(General, ExternFollowsChainsWithDatedContracts)
{
    EventItem seriesEvents[2], contractEvent;
    AddDatedFutures(this, seriesEvents, &contractEvent);
    struct Case {
        int32_t bar;
        int symbol; /* index in the store */
        const char *formula;
        const char *want;
    } cases[] = {
        {3, 5, "Extern(&0, ?Symbol)", "ZZ_1001"}, /* 30 January: the February contract */
        {3, 5, "Extern(&1, ?Symbol)", "ZZ_1002"},
        {5, 5, "Extern(&0, ?Symbol)", "ZZ_1002"}, /* 1 February: the event names March, not the bar's date */
        {5, 5, "Extern(&-1, ?Symbol)", "ZZ_1001"},
        {5, 3, "Extern(&cc, ?Symbol)", "ZZ"},
        {5, 3, "Extern(&ccb, ?Symbol)", "ZZ_B"},
        {5, 5, "Extern(&cc, ?Symbol)", "ZZ"},
        {5, 3, "Extern(&1, ?Symbol)", "ZZ_1002"}, /* a contract steps along its links */
    };
    for (const Case &c : cases) {
        AtBar(c.bar);
        ctx.symbol = &gStore.symbols[c.symbol];
        EXPECT_EQ(c.want, TextOf(this, c.formula)) << c.formula << " at bar " << c.bar;
    }
    gStore.symbols[5].events[1].time = 1; /* the switch to March after the close of 1 February */
    AtBar(5);
    ctx.symbol = &gStore.symbols[5];
    EXPECT_EQ("ZZ_1001", TextOf(this, "Extern(&0, ?Symbol)"));
    for (int k = 2; k < 6; k++) gStore.symbols[k].events = nullptr;
}

/* ---- TargetPrice -------------------------------------------------------------------- */

TEST_F(General, TargetPriceSearchesATrialBarAndLeavesTheBarsAlone)
{
    SetCloses({90, 92, 95});
    std::vector<Bar> before(gStore.symbols[0].bars[BAR_DAILY], gStore.symbols[0].bars[BAR_DAILY] + 4);
    /* At the close the trial bar stands one past the last bar: searched 85.5 .. 104.5. */
    const double tick = 0.0100001;
    EXPECT_NEAR(100, Value("TargetPrice(C, 100, 10)"), tick);
    EXPECT_NEAR(104.5, Value("TargetPrice(C, 200, 10)"), tick);      /* the end of the range */
    EXPECT_NEAR(105, Value("TargetPrice(C + C[1], 200, 20)"), tick); /* C[1] is the real 95 */
    EXPECT_NEAR(97, Value("TargetPrice(-C, -97)"), tick);            /* a falling expression */
    ctx.barPhase = PHASE_OPEN;                                       /* before the open the trial bar is today's bar */
    ctx.lastBar = 1;
    EXPECT_NEAR(93, Value("TargetPrice(C - C[1], 1)"), tick);
    EXPECT_EQ(0, memcmp(before.data(), gStore.symbols[0].bars[BAR_DAILY], before.size() * sizeof(Bar)));
}

/* Indicators that walk the bar array see the trial bar as the bar getters do.
** Closes 90, 92, 95, flat bars.  At the close the trial bar P follows 95:
**   C + ATR(1) = P + |P - 95|, so 105 is reached at P = 100;
**   SAR(0.02, 0.2, 4) is long from 90 with its extreme 95 and factor 0.04:
**   90 + 5 x 0.04 = 90.2 while P stays above it, so C - SAR = 5 at P = 95.2.
** Before the open the trial bar replaces the 95 (previous close 92):
**   C + ATR(1) = P + |P - 92| reaches 100 at P = 96. */
TEST_F(General, TargetPriceReachesIndicatorsThroughTheTrialBar)
{
    struct Case {
        int32_t phase;
        const char *formula;
        double want;
    } cases[] = {
        {PHASE_CLOSE, "TargetPrice(C + ATR(1), 105, 10)", 100},
        {PHASE_CLOSE, "TargetPrice(C - SAR(0.02, 0.2, 4), 5, 10)", 95.2},
        {PHASE_OPEN, "TargetPrice(C + ATR(1), 100, 10)", 96},
    };
    const double tick = 0.0100001;
    for (const Case &c : cases) {
        SetCloses({90, 92, 95});
        if (c.phase == PHASE_OPEN) {
            ctx.barPhase = PHASE_OPEN;
            ctx.lastBar = 1;
        }
        EXPECT_NEAR(c.want, Value(c.formula), tick) << c.formula;
    }
}

TEST_F(General, TargetPriceOnManyWorkersReadingOneSymbol)
{
    SetCloses({90, 92, 95});
    FormulaSlot *target = CompileText("TargetPrice(C, 100, 10)");
    FormulaSlot *plain = CompileText("C + C[1]");
    double single = 0;
    ASSERT_EQ(1, EvalFormulaSlot(target, &ctx, &single));
    std::vector<double> results(32, 0), reads(32, 0);
    std::vector<std::thread> workers;
    for (int k = 0; k < 32; k++) {
        workers.emplace_back([&, k] {
            EvalContext mine = ctx;
            mine.slot = k;
            for (int round = 0; round < 20; round++) {
                if (k % 2 == 0)
                    EvalFormulaSlot(target, &mine, &results[k]);
                else
                    EvalFormulaSlot(plain, &mine, &reads[k]);
            }
        });
    }
    for (std::thread &w : workers) w.join();
    for (int k = 0; k < 32; k++) {
        if (k % 2 == 0)
            EXPECT_EQ(single, results[k]) << k;
        else
            EXPECT_EQ(187, reads[k]) << k;
    }
}

/* ---- closed-trade statistics ------------------------------------------------------- */

/* Four closed trades of strategy 0 in AAA held 3, 5, 2 and 10 bars (exits on
** bars 1, 2, 3 and 4), and one still open.  Mean 5; population deviation
** sqrt(9.5) = 3.0822070; skew 22.5 / 9.5^1.5 = 0.7684173; kurtosis
** 180.5 / 90.25 - 3 = -1 (worked by hand). */
TEST_F(General, TradeStatisticsOverClosedTradesUpToTheDate)
{
    TestRecord test{};
    StrategyResult strategy{};
    TradeRecord trades[5] = {};
    const int32_t bars[5] = {3, 5, 2, 10, 7};
    for (int k = 0; k < 5; k++) {
        trades[k].number = k + 1;
        trades[k].symbolNumber = 1;
        trades[k].bars = bars[k];
        trades[k].dateIn = kFixtureDates[0];
        trades[k].dateOut = k < 4 ? kFixtureDates[k + 1] : 0;
    }
    test.strategyCount = 1;
    test.strategies = &strategy;
    test.trades = trades;
    test.tradeCount = 5;
    ctx.test = &test;
    ctx.strategyIndex = 0;
    AtBar(5);
    CheckCases(this, {
                         {"TradeStatSum(T.Bars)", 20, 0}, {"TradeStatMin(T.Bars)", 2, 0}, {"TradeStatMax(T.Bars)", 10, 0}, {"TradeStatAvg(T.Bars, 0)", 5, 0}, {"TradeStatStdDev(T.Bars)", 3.082207001484488, 1e-12}, {"TradeStatSkew(T.Bars)", 0.7684172579878226, 1e-12}, {"TradeStatKurt(T.Bars)", -1, 1e-12}, {"TradeStatSum(T.Bars, 2)", 12, 0}, /* the two newest: 10 and 2 */
                         {"TradeStatSum(T.Bars, 0, 2)", 0, 0},                                                                                                                                                                                                                                                                                       /* none in BBB */
                     });
    AtBar(2); /* only the trades closed by then */
    CheckCases(this, {{"TradeStatSum(T.Bars)", 8, 0}, {"TradeStatMin(T.Bars)", 3, 0}});
    /* Three trades of one value: three times 0.1 averages 0.1 + 1.4e-17, and
    ** still they have no spread to divide by. */
    AtBar(3);
    CheckCases(this, {{"TradeStatStdDev(0.1 + 0 * T.Bars)", 0, 0}, {"TradeStatSkew(0.1 + 0 * T.Bars)", NAN, 0}, {"TradeStatKurt(0.1 + 0 * T.Bars)", NAN, 0}});
    ctx.strategyIndex = 3;
    CheckCases(this, {{"TradeStatSum(T.Bars)", NAN, 0}});
    ctx.test = nullptr;
}

/* Strategy 0 combines S1 (index 1, tracking S2) and S2 (index 2).  S1 closed
** trades held 3 and 5 bars, S2 trades held 2 and 10: S1 sums 8, S2 12, and
** the combined strategy, whose members both are, 20. */
TEST_F(General, ExternAndCombinedMoveToOtherStrategiesOfTheTest)
{
    TestRecord test{};
    StrategyResult strategies[3] = {};
    CopyString(strategies[0].name, sizeof strategies[0].name, "All", -1);
    CopyString(strategies[1].name, sizeof strategies[1].name, "S1", -1);
    CopyString(strategies[2].name, sizeof strategies[2].name, "S2", -1);
    strategies[1].tracker = 3;
    for (int k : {1, 2}) {
        strategies[k].parentCount = 1;
        strategies[k].parents[0] = 0;
    }
    TradeRecord trades[4] = {};
    const int32_t bars[4] = {3, 2, 5, 10}, owner[4] = {1, 2, 1, 2};
    for (int k = 0; k < 4; k++) {
        trades[k].number = k + 1;
        trades[k].strategy = owner[k];
        trades[k].symbolNumber = 1;
        trades[k].bars = bars[k];
        trades[k].dateIn = kFixtureDates[0];
        trades[k].dateOut = kFixtureDates[k + 1];
    }
    test.strategyCount = 3;
    test.strategies = strategies;
    test.trades = trades;
    test.tradeCount = 4;
    test.mainStrategy = 0;
    ctx.test = &test;
    ctx.strategyIndex = 1;
    AtBar(5);
    CheckCases(this, {
                         {"TradeStatSum(T.Bars)", 8, 0},
                         {"Extern(StratRef(3), TradeStatSum(T.Bars))", 12, 0},
                         {"Extern(StratRef(\"s2\"), TradeStatSum(T.Bars))", 12, 0},
                         {"Extern(@tracker, TradeStatSum(T.Bars))", 12, 0},
                         {"Extern(StratRef(4), TradeStatSum(T.Bars))", NAN, 0},
                         {"Combined(TradeStatSum(T.Bars))", 20, 0},
                         {"Combined(TradeStatMax(T.Bars)) - TradeStatMax(T.Bars)", 5, 0},
                     });
    ctx.strategyIndex = 2; /* S2 tracks nothing */
    CheckCases(this, {{"Extern(@tracker, TradeStatSum(T.Bars))", NAN, 0}, {"Extern(StratRef(2), TradeStatSum(T.Bars))", 8, 0}});
    ctx.test = nullptr;
    CheckCases(this, {{"Combined(C)", NAN, 0}});
    ctx.strategyIndex = -1;
}

/* DebugEval writes the filter, the value and, when the filter has a data
** type, its text (AAA's bar 5: close 16, volume 6000). */
TEST_F(General, DebugEvalLogsTheResultWithTheFiltersDataType)
{
    gRun.uiThreadId = PlatCurrentThreadId();
    AtBar(5); /* AAA closes at 16 */
    struct Case {
        const char *formula;
        const char *line; /* the result line; "" when nothing is traced */
        double want;
    } cases[] = {
        {"DebugEval(C, C * 2)", "\r\nResult:\t16 (32) [price]\r\n", 32},
        {"DebugEval(V, 1.5)", "\r\nResult:\t6000 (1.5) [volume]\r\n", 1.5},
        {"DebugEval(1, 7)", "\r\nResult:\t1 (7)\r\n", 7},
        {"DebugEval(0, 7)", "", 7},
        {"DebugEval(1, Extern($ZZZ, C))", "\r\nResult:\tn/a\r\n", NAN},
    };
    for (const Case &c : cases) {
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        double got = Value(c.formula);
        if (std::isnan(c.want))
            EXPECT_TRUE(std::isnan(got)) << c.formula;
        else
            EXPECT_DOUBLE_EQ(c.want, got) << c.formula;
        std::string log = gHeadless.logText ? gHeadless.logText : "";
        if (!c.line[0]) {
            EXPECT_EQ(std::string::npos, log.find("Result:")) << c.formula;
            continue;
        }
        EXPECT_NE(std::string::npos, log.find(c.line)) << c.formula << ": " << log;
    }
    ResetHeadlessShell();
}

/* ---- sums over setups, orders and positions ----------------------------------------- */

TEST_F(General, SumsWalkTheStrategysSetupsAndOpenPositions)
{
    AtBar(5);
    EXPECT_TRUE(std::isnan(Value("SetupSum(C)"))); /* no strategies */
    std::vector<StrategyRecord> records(1);
    std::vector<PositionRecord> setups(2), open(1);
    setups[0].symbol = &gStore.symbols[0];
    setups[1].symbol = &gStore.symbols[0];
    setups[1].listed = 1;
    open[0].symbol = &gStore.symbols[1];
    records[0].setups = setups.data();
    records[0].setupCount = 2;
    records[0].openPositions = open.data();
    records[0].openCount = 1;
    gStrategies = records.data();
    gStrategyCount = 1;
    ctx.strategy = &records[0];
    ctx.strategyIndex = 0;
    /* AAA closes at 16 on bar 5, BBB at 160 */
    CheckCases(this, {{"SetupSum(C)", 32, 0}, {"OrderSum(C)", 16, 0}, {"PositionSum(C)", 160, 0}, {"PositionSum(C, 1)", 0, 0}, {"SetupSum(1, 2)", 0, 0}, {"SetupSum(1, 1)", 2, 0}});
    gStrategies = nullptr;
    gStrategyCount = 0;
    ctx.strategy = nullptr;
    ctx.strategyIndex = -1;
}

/* ---- Assert ------------------------------------------------------------------------- */

TEST_F(General, AssertReportsAndStopsUnattendedRunsWithoutAsking)
{
    AtBar(5);
    EXPECT_EQ(5, Value("Assert(5)"));
    EXPECT_TRUE(std::isnan(Value("Assert(C > 100, \"too cheap\")")));
    EXPECT_EQ(0, strncmp("ASSERTION FAILED\n\n", LastMessage(), 18));
    EXPECT_NE(nullptr, strstr(LastMessage(), "Symbol:\tAAA"));
    EXPECT_NE(nullptr, strstr(LastMessage(), "\n\ntoo cheap"));
    EXPECT_EQ(nullptr, strstr(LastMessage(), "Continue the Script?"));
    int savedUnattended = gRun.unattended;
    gRun.unattended = 1;
    gRun.state = RUN_TESTING;
    EXPECT_TRUE(std::isnan(Value("Assert(0)")));
    EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());
    gHeadless.messageCount = 0;
    EXPECT_TRUE(std::isnan(Value("Assert(0)"))); /* once stopped, nothing more is reported */
    EXPECT_EQ(0, gHeadless.messageCount);
    gRun.state = RUN_IDLE;
    gRun.unattended = savedUnattended;
}

TEST_F(General, AssertAsksOneWorkerAtATimeAndNoStopsThemAll)
{
    AtBar(5);
    int savedUnattended = gRun.unattended;
    gRun.unattended = 0;
    gRun.state = RUN_TESTING;
    gHeadless.messageBoxAnswer = 6; /* Yes: go on with the value 0 */
    EXPECT_EQ(0, Value("Assert(0)"));
    EXPECT_NE(nullptr, strstr(LastMessage(), "\n\nContinue the Script?"));
    EXPECT_EQ(RUN_TESTING, gRun.state.load());
    gHeadless.messageBoxAnswer = 7; /* No */
    gHeadless.messageCount = 0;
    FormulaSlot *slot = CompileText("Assert(C > 100)");
    std::vector<std::thread> workers;
    for (int k = 0; k < 8; k++) {
        workers.emplace_back([&, k] {
            EvalContext mine = ctx;
            mine.slot = k;
            double v;
            EvalFormulaSlot(slot, &mine, &v);
        });
    }
    for (std::thread &w : workers) w.join();
    EXPECT_EQ(1, gHeadless.messageCount); /* the first answer stopped the others before they asked */
    EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());
    gHeadless.messageBoxAnswer = 1;
    gRun.state = RUN_IDLE;
    gRun.unattended = savedUnattended;
}

} // namespace
