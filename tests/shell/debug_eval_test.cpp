#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/results_file.h"
#include "records/test_records.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "panel_store.h"
#include "script/compiler/script_state.h"
#include "script/compiler/strategy.h"
#include "script/eval/eval_context.h"
#include "shell/debug_eval.h"

namespace {

struct DebugEvalTest : PanelStoreTest {
    void SetUp() override
    {
        PanelStoreTest::SetUp();
        gHeadless.captureLog = 1;
        gRun.uiThreadId = PlatCurrentThreadId(); /* the trace runs on the UI thread only */
        gSettings.DebugShowEval = 0;
        gSettings.DebugBars = 10;
        CopyString(gSettings.DebugSymbol, sizeof gSettings.DebugSymbol, "AAA", -1);
    }
    std::string Log() const { return gHeadless.logText ? gHeadless.logText : ""; }
};

} // namespace

TEST_F(DebugEvalTest, ContextDateFollowsTheSymbolsBars)
{
    struct Case {
        const char *symbol;
        int32_t date, wantDate;
        int ok;
        const char *notice; /* "" when the date stays */
        const char *error;  /* "" when none */
        int32_t wantBar;
    } cases[] = {
        {"AAA", 20240206, 20240206, 1, "", "", 24},
        {"AAA", 20240203, 20240202, 1, "Debug Data Date Changed to 2024-02-02", "", 22}, // Saturday: the Friday
        {"AAA", 20240115, 20240112, 1, "Debug Data Date Changed to 2024-01-12", "", 8},  // holiday
        {"LATE", 20240110, 20240201, 1, "Debug Data Date Changed to 2024-02-01", "", 0}, // starts later
        {"AAA", 20231229, 20231229, 0, "",
         "2023-12-29 is outside the range of dates in the currently loaded data file.", -1},
    };
    for (const Case &c : cases) {
        ResetHeadlessShell();
        CopyString(gSettings.DebugSymbol, sizeof gSettings.DebugSymbol, c.symbol, -1);
        gSettings.DebugDate = c.date;
        EvalContext context;
        EXPECT_EQ(CheckDebugContext(nullptr, &context, nullptr, 1, 0, 0), c.ok) << c.date;
        EXPECT_EQ(gSettings.DebugDate, c.wantDate);
        EXPECT_STREQ(LastNotice(), c.notice);
        EXPECT_STREQ(LastMessage(), c.error);
        if (c.notice[0]) {
            EXPECT_EQ(gHeadless.noticeColours[0], 0xFF0000u); // blue
        }
        if (c.ok) {
            EXPECT_EQ(context.barIndex, c.wantBar);
            EXPECT_EQ(context.date, c.wantDate);
        }
    }
}

TEST_F(DebugEvalTest, FormulaResultsGoToTheLog)
{
    gSettings.DebugDate = 20240206; /* AAA bar 24: close 124 */
    struct Case {
        const char *formula;
        int result;
        const char *logged; /* a line the log must hold */
    } cases[] = {
        {"C + 1", DEBUG_EVAL_DONE, "Result:\t125 (125) [price]"},
        {"C / 8", DEBUG_EVAL_DONE, "Result:\t15.50 (15.5) [price]"},
        {"\"abc\"", DEBUG_EVAL_DONE, "Result:\t\"abc\""},
        {"from 1 to 5 step 2", DEBUG_EVAL_RANGE, "3 Values:\n 1, 3, 5"},
    };
    for (const Case &c : cases) {
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        EXPECT_EQ(EvalDebugText(c.formula, nullptr, nullptr, nullptr), c.result) << c.formula;
        EXPECT_NE(Log().find(c.logged), std::string::npos) << c.formula << "\n" << Log();
    }
    EXPECT_EQ(Log().find("Optimization Loop: from 1 to 5 step 2") != std::string::npos, true);

    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    EvalDebugText("C + 1", nullptr, nullptr, nullptr);
    EXPECT_NE(Log().find("Symbol:\tAAA\nBarSize:\tDaily\nDate:\t2024-02-06\nFormula:\tC + 1\n"), std::string::npos)
        << Log();

    /* With the trace on, the evaluation's terms come between header and result. */
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    gSettings.DebugShowEval = 1;
    EvalDebugText("C + 1", nullptr, nullptr, nullptr);
    gSettings.DebugShowEval = 0;
    size_t evaluation = Log().find("Evaluation:"), result = Log().find("Result:");
    ASSERT_NE(evaluation, std::string::npos) << Log();
    ASSERT_NE(result, std::string::npos);
    EXPECT_NE(Log().substr(evaluation, result - evaluation).find("124"), std::string::npos) << Log();

    ResetHeadlessShell();
    EXPECT_EQ(EvalDebugText("from 5 to 1", nullptr, nullptr, nullptr), DEBUG_EVAL_FAILED);
    EXPECT_STREQ(LastMessage(), "Error in debug formula:\r\n\r\nparameter loops must be ascending");

    int32_t offset = -1, length = -1;
    EXPECT_EQ(EvalDebugText("C + NoSuchThing", nullptr, &offset, &length), DEBUG_EVAL_NOT_COMPILED);
    EXPECT_EQ(offset, 4);
    EXPECT_EQ(length, 11);
}

TEST_F(DebugEvalTest, TestPartsOfTheContext)
{
    TestRecord *test = ReadTestRecord(nullptr, 0, 1, 5, 0);
    ASSERT_NE(test, nullptr);
    test->testNumber = 7;
    test->rowsFilled = 5;
    CopyString(test->strategies[0].name, sizeof test->strategies[0].name, "Trend", -1);
    const int32_t rowDates[5] = {20240205, 20240206, 20240207, 20240208, 20240209};
    for (int r = 0; r < 5; r++) {
        test->cells[r].date = (uint32_t)rowDates[r];
        test->cells[r].rowNumber = (uint32_t)(r + 1);
    }
    TradeRecord *trade = AddTrade(test);
    ASSERT_NE(trade, nullptr);
    trade->strategy = 0;
    trade->side = 1;
    CopyString(trade->symbol, sizeof trade->symbol, "AAA", -1);
    trade->dateIn = 20240206;
    trade->dateOut = 20240208;
    trade->quantityIn = 10;
    trade->priceIn = 50;
    trade->pointValue = 2;
    trade->fxIn = 1;

    gSettings.DebugDate = 20240209;
    DebugSelection none = {1, nullptr, -1};
    EvalContext context;
    EXPECT_EQ(CheckDebugContext(&none, &context, nullptr, 1, 1, 1), 0);
    EXPECT_STREQ(LastMessage(), "Plesae select the Test that you want to show stats for.");
    DebugSelection noStrategy = {1, test, -1};
    EXPECT_EQ(CheckDebugContext(&noStrategy, &context, nullptr, 1, 1, 1), 0);
    EXPECT_STREQ(LastMessage(), "Please select the Strategy from Test 7 that you want to show stats for.");

    struct Case {
        int32_t date;
        int held;
    } cases[] = {{20240205, 0}, {20240206, 1}, {20240207, 1}, {20240208, 1}, {20240209, 0}};
    DebugSelection chosen = {1, test, 0};
    for (const Case &c : cases) {
        gSettings.DebugDate = c.date;
        PositionRecord position;
        ASSERT_EQ(CheckDebugContext(&chosen, &context, &position, 1, 1, 1), 1);
        EXPECT_EQ(context.position != nullptr, c.held != 0) << c.date;
        if (c.held) {
            EXPECT_DOUBLE_EQ(position.value, 1000.0); // 10 x 50 x point value 2
        }
    }

    /* The last of 5 rows with 10 bars back lists all 5, newest first. */
    DebugTable table;
    BuildDebugStatsTable(&context, &table);
    EXPECT_EQ(table.title, "Stats - Test 7 () - Strategy Trend");
    ASSERT_EQ(table.rows.size(), 5u);
    EXPECT_EQ(table.rows[0][0], "2024-02-09");
    EXPECT_EQ(table.rows[4][0], "2024-02-05");
    ASSERT_GE(table.columns.size(), 2u);
    EXPECT_EQ(table.columns[1], "S.Number");
    EXPECT_EQ(table.rows[0][1], "5");
    EXPECT_EQ(table.rows[4][1], "1");

    /* Deleting the panel's current test leaves no pointer to it behind. */
    gCurrentTest = test;
    FreeTestRecord(nullptr, test);
    EXPECT_EQ(gCurrentTest, nullptr);
    EXPECT_EQ(FindStrategyByName("Trend", gCurrentTest), -1);
}

TEST_F(DebugEvalTest, DataTableListsBarsBackNewestFirst)
{
    gSettings.DebugDate = 20240104; /* bar 2 of AAA */
    gSettings.DebugBars = 10;
    EvalContext context;
    ASSERT_EQ(CheckDebugContext(nullptr, &context, nullptr, 1, 0, 0), 1);
    DebugTable table;
    BuildDebugDataTable(&context, &table);
    EXPECT_EQ(table.title, "Data - AAA - 10 days back from 2024-01-04");
    EXPECT_EQ(table.listName, "AAA Data");
    ASSERT_EQ(table.rows.size(), 3u); // never before the first bar
    EXPECT_EQ(table.rows[0][0], "2024-01-04");
    EXPECT_EQ(table.rows[0][4], "102"); // close
    EXPECT_EQ(table.rows[2][0], "2024-01-02");
}

TEST_F(DebugEvalTest, TestComboTextFindsTheTest)
{
    ResultsWindow *window = CreateResultsWindow(0, nullptr);
    ASSERT_NE(window, nullptr);
    const struct {
        int number;
        const char *name;
    } made[] = {{1, "Alpha"}, {12, "Beta"}};
    for (const auto &m : made) {
        TestRecord *t = ReadTestRecord(nullptr, 0, 1, 1, 0);
        ASSERT_NE(t, nullptr);
        t->testNumber = m.number;
        CopyString(t->settings.TestName, sizeof t->settings.TestName, m.name, -1);
        AddTestToResults(window, t);
    }
    struct Case {
        const char *text;
        int byNumber;
        int want; /* test number, 0 none */
    } cases[] = {
        {"0012:Beta", 1, 12}, {"0001:Alpha", 1, 1}, {"0003:Beta", 1, 0}, {"Beta", 1, 0},
        {"alpha", 0, 1},      {"0012:BETA", 0, 12}, {"", 0, 0},
    };
    for (const Case &c : cases) {
        TestRecord *found = FindTestByText(c.text, c.byNumber);
        EXPECT_EQ(found ? found->testNumber : 0, c.want) << c.text;
    }
    CloseResultsWindow(window);
}

/* A stopped run's open position points at a symbol of the loaded data; after
** an unload nothing may read it: the positions are gone with the data. */
TEST_F(DebugEvalTest, UnloadingDataDropsTheLastRunsPositions)
{
    int error = 0;
    StrategyRecord *r = AddStrategyRecord(SECTION_STRATEGY, "Trend", &error);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(AllocMemory(&r->openPositions, 2 * sizeof(PositionRecord)), 1);
    ASSERT_EQ(AllocMemory(&r->setups, sizeof(PositionRecord)), 1);
    r->openPositions[0].symbol = &gStore.symbols[0];
    r->openPositions[0].entryDate = 20240206;
    r->openPositions[0].quantity = 10;
    r->openCount = 1;
    r->setups[0].symbol = &gStore.symbols[0];
    r->setupCount = 1;
    ASSERT_EQ(HasOpenPositions(), 1);
    LogOpenPositions();
    EXPECT_NE(Log().find("Trend\tAAA\t2024-02-06\t"), std::string::npos) << Log();

    UnloadData();
    EXPECT_EQ(HasOpenPositions(), 0);
    EXPECT_EQ(r->setupCount, 0);
    gHeadless.logLength = 0;
    LogOpenPositions();
    EXPECT_NE(Log().find("no positions open"), std::string::npos) << Log();
    ResetScriptState(SCRIPT_RESET_RELEASE);
}
