#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "eval_fixture.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/compiler_state.h"
#include "records/test_records.h"
#include "platform/platform.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula_text.h"
#include "script/eval/evaluator.h"
#include "script/eval/item_table.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "records/chart_record.h"

namespace {

/* Tests here change program-wide state (the run's state and mode, settings,
** the trace switches, the built-ins' slots); the fixture puts it back however
** a test ends. */
struct Evaluator : EvalTest {
    ProgramSettings savedSettings = gSettings;
    uint32_t savedUiThread = gRun.uiThreadId;
    ItemImpl savedImpls[SCRIPT_ITEM_COUNT];
    void SetUp() override
    {
        EvalTest::SetUp();
        memcpy(savedImpls, gItemImpls, sizeof savedImpls);
    }
    void TearDown() override
    {
        memcpy(gItemImpls, savedImpls, sizeof savedImpls);
        gDebugEvalOn = 0;
        gDebugEvalDepth = 0;
        EvalTest::TearDown();
        gSettings = savedSettings;
        ResetRunControl();
        gRun.uiThreadId = savedUiThread;
    }
};

struct ValueCase {
    const char *text;
    double want; /* NaN: the formula has no value */
};

void ExpectValues(EvalTest *t, const ValueCase *cases, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        double got = t->Value(cases[i].text);
        if (std::isnan(cases[i].want))
            EXPECT_TRUE(std::isnan(got)) << cases[i].text << " gave " << got;
        else
            EXPECT_DOUBLE_EQ(cases[i].want, got) << cases[i].text;
    }
}

/* The context stands on bar 5 of AAA at the close: O 15, H 17, L 14, C 16,
** V 6000; bar 4 closes at 15; bars 0..2 carry split factor 2. */
TEST_F(Evaluator, OperatorsFollowPrecedenceAndTheCombiningRules)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"1 + 2 * 3", 7},
        {"(1 + 2) * 3", 9},
        {"8 - 2 - 1", 5},          /* equal precedence groups from the left */
        {"2 ^ 3 ^ 2", 64},
        {"2 ^ 2", 4},
        {"-2 ^ 2", 4},             /* the minus belongs to the term 2 */
        {"5 / 0", 0},
        {"5 MOD 0", 0},
        {"7 MOD 3", 1},
        {"-7 MOD 3", -1},          /* the remainder keeps the sign of a */
        {"7.5 % 2", 1.5},
        {"3 > 2", 1}, {"2 >= 2", 1}, {"3 < 2", 0}, {"2 <= 1", 0}, {"2 = 2", 1}, {"2 <> 2", 0},
        {"1 = 1.0000000000001", 0},    /* plain numbers compare within 1e-14 */
        {"1 = 1.000000000000001", 1},
        {"C = C + 0.000001", 1},       /* prices compare within 1e-6 */
        {"V = V + 0.001", 0},          /* volumes do not */
        {"-(C - O)", -1},
        {"NOT (C > O)", 0},
        {"C AND 0", 0}, {"0 OR C", 1}, {"C OR 0", 16},
        {"0.00000000000001 * 1", 0},    /* below NearZero after an operator */
        {"0.00000000000001", 1e-14},    /* a lone constant is not an operator result */
        {"(C + O) / 2", 15.5},
        {"()", 0},
    };
    /* clang-format on */
    ExpectValues(this, cases, sizeof cases / sizeof cases[0]);
}

/* A price compared with a plain number, on either side, is equal within a
** relative 1e-6 of the larger: the close of 16 is 16.00001 (1e-5 apart,
** within 1.6e-5) but not 16.00002 (2e-5 apart).  Two plain numbers are not. */
TEST_F(Evaluator, APriceAndAPlainNumberCompareWithinOneMillionth)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"C >= 16.00001", 1}, {"C = 16.00001", 1}, {"C < 16.00001", 0},
        {"16.00001 <= C", 1}, {"16.00001 = C", 1}, {"16.00001 > C", 0},
        {"C = 16.00002", 0}, {"C < 16.00002", 1}, {"15.99998 = C", 0},
        {"16 >= 16.00001", 0}, {"16 = 16.00001", 0},
    };
    /* clang-format on */
    ExpectValues(this, cases, sizeof cases / sizeof cases[0]);
}

/* Numbers written with an exponent, negative ones included. */
TEST_F(Evaluator, NumbersTakeSignedExponents)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"1e-5", 0.00001}, {"2.5E-3", 0.0025}, {"1e-5 * 200000", 2}, {"1e+2", 100}, {"1.5e3", 1500},
    };
    /* clang-format on */
    ExpectValues(this, cases, sizeof cases / sizeof cases[0]);
}

TEST_F(Evaluator, NaNFromAnOperatorFlowsOnAndTheLogicalOperatorsTreatItAsTrue)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"(0 - 1) ^ 0.5", NAN},
        {"(0 - 1) ^ 0.5 + 1", NAN},
        {"1 AND (0 - 1) ^ 0.5", 1},
        {"0 OR (0 - 1) ^ 0.5", 1},
        {"(0 - 1) ^ 0.5 OR 0", NAN},    /* a NaN left value short-circuits OR and stays */
        {"10 ^ 400", NAN},             /* an infinite result has no value */
    };
    /* clang-format on */
    ExpectValues(this, cases, sizeof cases / sizeof cases[0]);
    gSettings.UseShortCircuit = 0;
    EXPECT_DOUBLE_EQ(1, Value("(0 - 1) ^ 0.5 OR 0"));
}

TEST_F(Evaluator, ShortCircuitsSkipTheRestOfTheOperandOnlyWhenOn)
{
    /* C[100] has no bar: evaluating it fails the whole formula, so a value
    ** shows that it was skipped. */
    /* clang-format off */
    const ValueCase on[] = {
        {"0 ^ 0", 0},
        {"5 OR C[100]", 5},
        {"0 AND C[100]", 0},
        {"0 * C[100] + 2", 2},
        {"0 AND C[100] OR 1", 1},      /* the OR applies to the kept 0 */
        {"0 * C[100] * C[100] - 1", -1},
        {"0 / C[100] ^ 2", 0},
        {"1 AND C[100]", NAN},
        {"0 + C[100]", NAN},
    };
    /* clang-format on */
    ExpectValues(this, on, sizeof on / sizeof on[0]);
    gSettings.UseShortCircuit = 0;
    /* clang-format off */
    const ValueCase off[] = {
        {"0 ^ 0", 1},
        {"5 OR 0", 1},
        {"5 OR C[100]", NAN},
        {"0 AND C[100]", NAN},
    };
    /* clang-format on */
    ExpectValues(this, off, sizeof off / sizeof off[0]);
}

TEST_F(Evaluator, ShortCircuitGivesTheKeptLeftValueNoDataType)
{
    FormulaSlot *slot = CompileText("C * 0 * V");
    double v = -1;
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
    EXPECT_EQ(0, v);
    EXPECT_EQ(0u, slot->nodes[0][0].dataType);
}

TEST_F(Evaluator, DataTypesTravelWithValuesAndSetTheResultFormatOnce)
{
    const struct {
        const char *text;
        uint32_t type;
    } cases[] = {
        {"C", 1},
        {"V", 2},
        {"C * 2", 1},
        {"2 * C", 1},
        {"C * V", 0},
        {"C / Split", 0},
        {"C / 2", 1},
        {"2 / C", 0},
        {"C / V", 0},
        {"V + 1", 2},
        {"1 + V", 2},
        {"C - O", 1},
        {"C > O", 0},
        {"C ^ 2", 1},
        {"C MOD 2", 0},
        {"C AND 1", 0},
        {"(C)", 1},
        {"-(V)", 2},
        {"Split * C", 0},
        {"BarNum", 0},
        {"(C + O) / 2", 1},
    };
    for (const auto &c : cases) {
        FormulaSlot *slot = CompileText(c.text);
        double v;
        ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v)) << c.text;
        EXPECT_EQ(c.type, slot->nodes[0][0].dataType) << c.text;
        EXPECT_EQ(c.type, slot->resultFormat) << c.text;
    }
    /* Set once: a later evaluation with another type leaves it. */
    FormulaSlot *slot = CompileText("C");
    slot->resultFormat = 2;
    double v;
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
    EXPECT_EQ(2u, slot->resultFormat);
}

TEST_F(Evaluator, BarOffsetsApplyToTheirTermOrGroupOnly)
{
    /* clang-format off */
    const ValueCase cases[] = {
        {"C[1]", 15},
        {"C[2 - 1]", 15},
        {"(C + O)[1]", 29},           /* the whole group one bar back */
        {"C[1] + C", 31},             /* the offset does not reach the second term */
        {"C + C[1]", 31},
        {"(C[1] + C)[1]", 29},        /* offsets add up inside a group */
        {"C[-1]", 17},
        {"C[1.9]", 15},               /* truncated toward zero */
        {"C[5]", 5.5},
        {"C[6]", NAN},                /* before the first bar */
        {"C[4]", 6},                  /* bar 1: stored 12 at split 2, seen at split 1 */
        {"V[4]", 4000},               /* stored 2000 at split 2 */
        {"C[4] * 2 = C[3] * 2 - 1", 1},
        /* Offsets far beyond any data add up without overflowing. */
        {"((C[1000000000])[1000000000])[1000000000]", NAN},
        {"((C[-1000000000])[-1000000000])[-1000000000]", NAN},
        {"((C[3000000000])[-3000000000])[1]", 15},
        /* An offset without a number gives no value. */
        {"C[C[6]]", NAN},
    };
    /* clang-format on */
    ExpectValues(this, cases, sizeof cases / sizeof cases[0]);
    AtBar(1); /* at the bar's own split level nothing is scaled */
    EXPECT_DOUBLE_EQ(12, Value("C"));
    EXPECT_DOUBLE_EQ(2000, Value("V"));
}

TEST_F(Evaluator, TextsCompareWithoutCaseUnlessAnOperandIsNumeric)
{
    CopyString(gStore.symbols[0].info.Name, sizeof gStore.symbols[0].info.Name, "Acme Corp", -1);
    /* clang-format off */
    const ValueCase cases[] = {
        {"?Name = 'acme CORP'", 1},
        {"?Name <> 'acme corp'", 0},
        {"'abc' < 'ABD'", 1},
        {"?Symbol = \"aaa\"", 1},
        {"Symbol = $AAA", 1},           /* numbers: symbol 1 against reference 1 */
        {"Symbol = $BBB", 0},
        {"$BBB", 2},
        {"$bbb + 0", 2},
        {"$Global", -1},
        {"$CalSym", -2},
        {"$NOSUCH + 0", 0},
    };
    /* clang-format on */
    ExpectValues(this, cases, sizeof cases / sizeof cases[0]);
}

TEST_F(Evaluator, FormulaResultsAsTextAndInteger)
{
    CopyString(gStore.symbols[0].info.Name, sizeof gStore.symbols[0].info.Name, "Acme Corp", -1);
    const struct {
        const char *text;
        const char *want;
    } cases[] = {
        {"2.5", "2.5"},
        {"1 - 1", ""},
        {"?Name", "Acme Corp"},
        {"C * 1000000", "1.6e+07"},
        {"'x y'", "x y"},
        {"$BBB", "BBB"},
    };
    for (const auto &c : cases) {
        char out[80] = "unchanged";
        ASSERT_EQ(1, EvalFormulaText(CompileText(c.text), &ctx, out, sizeof out)) << c.text;
        EXPECT_STREQ(c.want, out) << c.text;
    }
    char out[80] = "unchanged";
    EXPECT_EQ(0, EvalFormulaText(CompileText("C[50]"), &ctx, out, sizeof out));
    EXPECT_STREQ("unchanged", out);

    const struct {
        const char *text;
        int32_t want;
    } ints[] = {{"2.4999996", 3}, {"2.4", 2}, {"0 - 2.5", -2}, {"0 - 2.6", -3}, {"C", 16}, {"C[40]", 0}};
    for (const auto &c : ints) {
        int32_t v = 99;
        EvalFormulaInt(CompileText(c.text), &ctx, &v);
        EXPECT_EQ(c.want, v) << c.text;
    }
}

TEST_F(Evaluator, EmptyAndConstantFormulas)
{
    double v = 7;
    EXPECT_EQ(1, Eval("", &v, SECTION_STRATEGY));
    EXPECT_EQ(0, v);
    /* A lone constant returns its folded value without a walk, even with no
    ** symbol; a walk without a symbol would fail on C. */
    ctx.symbol = nullptr;
    EXPECT_DOUBLE_EQ(-5, Value("-5"));
    EXPECT_TRUE(std::isnan(Value("C")));
    EXPECT_EQ(0, EvalFormula(nullptr, &ctx));
}

TEST_F(Evaluator, EvaluationsDoNotDependOnTheEvaluationBefore)
{
    FormulaSlot *slot = CompileText("'abc' + C");
    double a, b;
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &a));
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &b));
    EXPECT_EQ(a, b);
    EXPECT_DOUBLE_EQ(19, a); /* a text literal counts as its length */
}

TEST_F(Evaluator, SystemValues)
{
    gRun.mode = 3;
    gSettings.FirstDate = 20240102;
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, "C:\\scripts\\my.test.kvs", -1);
    char out[80];
    ASSERT_EQ(1, EvalFormulaText(CompileText("?RunMode"), &ctx, out, sizeof out));
    EXPECT_STREQ("test", out);
    EXPECT_DOUBLE_EQ(3, Value("?RunMode + 0"));
    EXPECT_DOUBLE_EQ(20240102, Value("?StartDate + 0"));
    ASSERT_EQ(1, EvalFormulaText(CompileText("?ScriptName"), &ctx, out, sizeof out));
    EXPECT_STREQ("my.test", out);
    double now = Value("?LocalTime");
    EXPECT_GT(now, 20240101.0);
}

TEST_F(Evaluator, ParametersReadTheCurrentWalkForwardOrStoredValue)
{
    FixtureParameter parameters[] = {{"Len", 20}, {"Gap", 0.5}};
    InstallParameters(parameters, 2);
    EXPECT_DOUBLE_EQ(40, Value("Len * 2"));
    Parameter *len = (Parameter *)gParameters.items;
    ASSERT_TRUE(AllocMemory(&len->walkValues, 3 * sizeof(double)));
    len->walkValues[0] = 5;
    len->walkValues[1] = 6;
    len->walkValues[2] = 7;
    len->walkCount = len->walkCapacity = 3;
    ctx.walkForwardInterval = 2;
    EXPECT_DOUBLE_EQ(7, Value("Len + 0"));
    ctx.outOfSample = 1; /* out of sample plays the interval before */
    EXPECT_DOUBLE_EQ(6, Value("Len + 0"));
    ctx.walkForwardInterval = -1;
    ctx.outOfSample = 0;
    EXPECT_DOUBLE_EQ(20, Value("Len + 0"));

    ParamValue stored[2] = {};
    CopyString(stored[0].name, sizeof stored[0].name, "LEN", -1);
    stored[0].value = 33;
    CopyString(stored[1].name, sizeof stored[1].name, "Gap", -1);
    stored[1].value = 0.25;
    TestRecord test{};
    test.parameters = stored;
    test.parameterCount = 1;
    ctx.test = &test;
    ctx.storedParameters = 1;
    EXPECT_DOUBLE_EQ(33, Value("Len + 0"));
    EXPECT_TRUE(std::isnan(Value("Gap + 0"))); /* beyond the stored parameters */
    ctx.storedParameters = 0;

    /* A chart opened on a trade shows the values of the trade's test, found
    ** by name; any other chart the current ones. */
    ChartWindow chart{&gStore.symbols[0], CHART_KIND_SYMBOL, BAR_DAILY, nullptr, 0};
    ctx.chart = &chart;
    EXPECT_DOUBLE_EQ(0.5, Value("Gap + 0"));
    chart.kind = CHART_KIND_TRADE;
    EXPECT_DOUBLE_EQ(33, Value("Len + 0"));
    EXPECT_TRUE(std::isnan(Value("Gap + 0"))); /* not among the test's parameters */
    test.parameterCount = 2;
    EXPECT_DOUBLE_EQ(0.25, Value("Gap + 0"));
    ctx.test = nullptr;
    EXPECT_TRUE(std::isnan(Value("Len + 0")));
    ctx.chart = nullptr;
}

TEST_F(Evaluator, TraceLinesForTermsOperatorsAndFunctions)
{
    gRun.uiThreadId = PlatCurrentThreadId();
    gDebugEvalOn = 1;
    gDebugEvalDepth = 0;
    FormulaSlot *slot = CompileText("C + O[1] * 2");
    double v;
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
    ASSERT_NE(nullptr, gHeadless.logText);
    std::string log = gHeadless.logText;
    EXPECT_NE(std::string::npos, log.find("Close = 16")) << log;
    EXPECT_NE(std::string::npos, log.find("Open[1] = 14")) << log;
    EXPECT_NE(std::string::npos, log.find("(14 * 2) = 28")) << log;
    EXPECT_NE(std::string::npos, log.find("(16 + 28) = 44")) << log;
    EXPECT_DOUBLE_EQ(44, v);
}

/* ---- Library items and arguments ------------------------------------------------ */

TEST_F(Evaluator, LibraryItemsAndArgumentsCarryValueTypeAndText)
{
    SetLibrary({{"Middle", "(H + L) / 2"}, {"Twice", "Arg1 * 2"}, {"Label", "Arg2"}, {"Outer", "Middle + 1"}});
    EXPECT_DOUBLE_EQ(15.5, Value("Middle"));
    EXPECT_DOUBLE_EQ(16.5, Value("Outer"));
    FormulaSlot *slot = CompileText("Middle");
    double v;
    ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
    EXPECT_EQ(1u, slot->nodes[0][0].dataType);

    /* Arguments as a Library call hands them over. */
    ArgValue args[2] = {{21, 1, 0, ""}, {0, 0, 1, "hello"}};
    ctx.args = args;
    ctx.argCount = 2;
    EXPECT_DOUBLE_EQ(42, Value("Twice"));
    char out[80];
    ASSERT_EQ(1, EvalFormulaText(CompileText("Label"), &ctx, out, sizeof out));
    EXPECT_STREQ("hello", out);
    ctx.argCount = 0;
    EXPECT_TRUE(std::isnan(Value("Twice"))); /* Arg1 outside the arguments */
}

TEST_F(Evaluator, ALibraryItemReachingItselfNestsUntilTheThirtyThirdLevel)
{
    /* A direct self-reference is a compile error; rings through other items
    ** compile and nest until the limit: level 33 is Ping again (odd levels),
    ** and in the ring Rb, Rc, Ra it is Ra. */
    gRun.state = RUN_TESTING;
    SetLibrary({{"Ping", "1 + Pong"}, {"Pong", "Ping * 2"}, {"Ra", "Rb + C"}, {"Rb", "Rc[1]"}, {"Rc", "Ra"}, {"Fine", "C"}});
    EXPECT_TRUE(std::isnan(Value("Ping + 0")));
    EXPECT_STREQ("Item<=>Library infinite recursion in 'Ping'", gPendingRuntimeError);
    EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());

    ClearPendingRuntimeError();
    gRun.state = RUN_TESTING;
    EXPECT_TRUE(std::isnan(Value("Rb")));
    EXPECT_STREQ("Item<=>Library infinite recursion in 'Ra'", gPendingRuntimeError);

    /* The refusal leaves nothing behind: an unrelated item evaluates, and so
    ** does the same item twice in one formula (one after the other, never
    ** nested). */
    EXPECT_DOUBLE_EQ(16, Value("Fine"));
    EXPECT_DOUBLE_EQ(32, Value("Fine + Fine"));
}

/* An item that reads itself at the bar before through Item gets a value: each
** level walks on its own results, the outer ones kept as they were.  Bars 0..2
** stand before a 2:1 split, so at bar 5 their closes count half. */
TEST_F(Evaluator, ALibraryItemReadsItselfAtEarlierBarsThroughItem)
{
    SetLibrary({{"Rec2", "IF(BarNum <= 1, C, Item('Rec2')[1])"},
                {"Acc", "C + IF(BarNum <= 1, 0, Item(\"Acc\")[1])"},
                {"Depth", "IF(BarNum <= 1, 1, 1 + Item(\"Depth\")[1])"},
                {"Self", "1 + Item(\"Self\")"}});
    struct {
        const char *formula;
        int32_t bar;
        double want;
    } cases[] = {
        {"Rec2", 5, 5.5},
        {"Rec2 + Rec2[1]", 9, 11},
        {"Acc", 5, 5.5 + 6 + 6.5 + 14 + 15 + 16},
        {"Acc[2] * 10 + Acc", 9, 98 * 10 + 137}, /* bars 0..7 and 0..9 */
        {"Depth", 9, 10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.formula);
        AtBar(c.bar);
        EXPECT_DOUBLE_EQ(c.want, Value(c.formula));
        EXPECT_STREQ("", gPendingRuntimeError);
    }
    gRun.state = RUN_TESTING;
    EXPECT_TRUE(std::isnan(Value("Self")));
    EXPECT_STREQ("Item<=>Library infinite recursion in 'Self'", gPendingRuntimeError);
    EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());
}

TEST_F(Evaluator, LibraryNestingStopsAtTheThirtyThirdLevel)
{
    /* L1 = L2 + 1, ..., the last item 1: n items nest n levels deep. */
    auto chain = [](int n) {
        std::vector<std::pair<std::string, std::string>> items;
        for (int k = 1; k <= n; k++)
            items.push_back({"L" + std::to_string(k), k < n ? "L" + std::to_string(k + 1) + " + 1" : "1"});
        return items;
    };
    SetLibrary(chain(32));
    EXPECT_DOUBLE_EQ(32, Value("L1"));
    EXPECT_STREQ("", gPendingRuntimeError);
    for (FormulaItem &item : library) FreeFormulaNodes(&item.formula);

    gRun.state = RUN_TESTING;
    SetLibrary(chain(33));
    EXPECT_TRUE(std::isnan(Value("L1")));
    EXPECT_STREQ("Item<=>Library infinite recursion in 'L33'", gPendingRuntimeError);
    EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());
    gRun.state = RUN_IDLE;
    /* Each top-level evaluation starts counting afresh. */
    EXPECT_DOUBLE_EQ(2, Value("L32"));
}

/* ---- compile-time refusals, missing built-ins --------------------------------- */

TEST_F(Evaluator, TrackerStandingAloneIsACompileErrorNotARunTimeStop)
{
    EXPECT_EQ(0, strncmp("error", Compile("@tracker", SECTION_STRATEGY).c_str(), 5));
    EXPECT_EQ(0, strncmp("error", Compile("C + @tracker", SECTION_STRATEGY).c_str(), 5));
    EXPECT_EQ(0, strncmp("382", Compile("Extern(@tracker, C)", SECTION_STRATEGY).c_str(), 3));
}

TEST_F(Evaluator, ABuiltInWithoutImplementationFailsWithOneInternalError)
{
    gItemImpls[ITEM_ARC_TAN] = nullptr;
    gRun.state = RUN_TESTING;
    EXPECT_TRUE(std::isnan(Value("ArcTan(1)")));
    EXPECT_STREQ("Internal Error: ArcTan (Id=372) has no implementation", LastMessage());
    EXPECT_EQ(RUN_STOP_REQUESTED, gRun.state.load());
    gHeadless.messageCount = 0;
    EXPECT_TRUE(std::isnan(Value("ArcTan(1)")));
    EXPECT_EQ(0, gHeadless.messageCount); /* reported once, not on every bar */
}

/* ---- workers ------------------------------------------------------------------ */

/* Runs body(context, k) on eight threads at once, thread k with its own copy
** of context set to worker slot k. */
template <class Body>
void OnWorkers(const EvalContext &context, Body body)
{
    std::vector<std::thread> workers;
    for (int k = 0; k < 8; k++) {
        workers.emplace_back([&, k] {
            EvalContext local = context;
            local.slot = k;
            body(local, k);
        });
    }
    for (std::thread &t : workers) t.join();
}

TEST_F(Evaluator, WorkersEvaluateTheSameFormulaOnTheirOwnNodeCopies)
{
    FormulaSlot *slot = CompileText("(C - O) * V / (H - L) + C[1]");
    std::atomic<int> wrong{0};
    OnWorkers(ctx, [&](EvalContext &local, int k) {
        for (int round = 0; round < 200; round++) {
            int bar = 4 + (round + k) % 6;
            local.barIndex = local.lastBar = bar;
            double v;
            double want = (1.0 * 1000 * (bar + 1)) / 3 + (10 + bar);
            if (!EvalFormulaSlot(slot, &local, &v) || fabs(v - want) > 1e-9) wrong++;
        }
    });
    EXPECT_EQ(0, wrong.load());
    EXPECT_EQ(1u, slot->resultFormat);
}

TEST_F(Evaluator, WorkersRecordTheFirstDataTypeOfAFormulaAndNeverOverwriteIt)
{
    /* The type of this formula's value depends on the bar: volume from bar
    ** 6 on, price before it.  Workers racing on the unset format must leave
    ** exactly one of the two, and no worker may write it once it is set. */
    const char *text = "(BarNum > 6) * V + (BarNum <= 6) * C";
    AtBar(8);
    EXPECT_DOUBLE_EQ(9000, Value(text));
    AtBar(2);
    EXPECT_DOUBLE_EQ(13, Value(text));
    for (int round = 0; round < 20; round++) {
        FormulaSlot *slot = CompileText(text);
        OnWorkers(ctx, [&](EvalContext &local, int k) {
            for (int bar = 0; bar < 10; bar++) {
                local.barIndex = local.lastBar = (bar + k) % 10;
                double v;
                EvalFormulaSlot(slot, &local, &v);
            }
        });
        EXPECT_TRUE(slot->resultFormat == 1 || slot->resultFormat == 2) << slot->resultFormat;
        uint32_t first = slot->resultFormat;
        AtBar(first == 1 ? 8 : 2); /* a bar of the other type changes nothing */
        double v;
        ASSERT_EQ(1, EvalFormulaSlot(slot, &ctx, &v));
        EXPECT_EQ(first, slot->resultFormat);
    }
}

} // namespace
