#include <gtest/gtest.h>

#include <string>

#include "shell/kind_menu_rules.h"
#include "services/services.h"

namespace {

/* The enabled state of one command among a kind's rows; -1 when absent. */
int Enabled(const KindMenuRule *rules, int commandId, const KindMenuFacts &facts)
{
    for (const KindMenuRule *r = rules; r->commandId; r++)
        if (r->commandId == commandId) return IsKindCommandEnabled(r, &facts);
    return -1;
}

} // namespace

TEST(KindMenuRules, ResultsPopupFollowsSelectionRunAndTrades)
{
    struct Case {
        KindMenuFacts facts;
        int save, saveAs, deleteAll, optGraph, copyRow, statsGraphs, tradeList, uniqueSymbols;
    } cases[] = {
        // place, modified, run state, trades
        {{0, 0, RUN_IDLE, 0}, 0, 1, 0, 0, 0, 0, 0, 0},       // empty list
        {{1, 1, RUN_IDLE, 1}, 1, 1, 1, 1, 0, 0, 0, 0},       // tests, none selected
        {{3, 0, RUN_IDLE, 0}, 0, 1, 1, 1, 1, 1, 0, 0},       // a middle row, no trades
        {{5, 1, RUN_IDLE, 1}, 1, 1, 1, 0, 1, 1, 1, 1},       // the only row: no optimization graph
        {{2, 1, RUN_LOADING, 1}, 0, 0, 1, 1, 1, 0, 0, 1},    // loading data greys the views
        {{4, 1, RUN_TESTING, 1}, 0, 0, 1, 1, 1, 1, 1, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "place " << c.facts.place << " state " << c.facts.runState);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40061, c.facts), c.save);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40065, c.facts), c.saveAs);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40119, c.facts), c.deleteAll);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40135, c.facts), c.optGraph);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40216, c.facts), c.copyRow);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40131, c.facts), c.statsGraphs);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40141, c.facts), c.tradeList);
        EXPECT_EQ(Enabled(kResultsMenuRules, 40127, c.facts), c.uniqueSymbols);
    }
}

/* While an operation holds a test, the two commands that free tests are
** greyed and refused when they come anyway; Save, greyed for want of a
** change, is only greyed. */
TEST(KindMenuRules, DeletesWaitWhileATestIsHeld)
{
    KindMenuFacts idle = {5, 0, RUN_IDLE, 1, 0, 0, 0, 0}, held = {5, 0, RUN_IDLE, 1, 0, 0, 0, 2};
    for (int id : {40117, 40119}) {
        EXPECT_EQ(1, Enabled(kResultsMenuRules, id, idle) - IsKindCommandRefused(kResultsMenuRules, id, &idle)) << id;
        EXPECT_EQ(1, IsKindCommandRefused(kResultsMenuRules, id, &held) - Enabled(kResultsMenuRules, id, held)) << id;
    }
    EXPECT_EQ(0, Enabled(kResultsMenuRules, 40061, held) + IsKindCommandRefused(kResultsMenuRules, 40061, &held));
}

TEST(KindMenuRules, ListLikePopups)
{
    KindMenuFacts selectedNoSymbol = {2, 0, RUN_IDLE, 0, 0, 0, 0};
    KindMenuFacts selectedSymbol = {2, 0, RUN_IDLE, 0, 1, 1, 0};
    KindMenuFacts empty = {0, 0, RUN_IDLE, 0, 1, 1, 1};
    EXPECT_EQ(Enabled(kListMenuRules, 40078, selectedNoSymbol), 0); // Show Chart needs a symbol column
    EXPECT_EQ(Enabled(kListMenuRules, 40078, selectedSymbol), 1);
    EXPECT_EQ(Enabled(kListMenuRules, 40216, selectedNoSymbol), 1);
    EXPECT_EQ(Enabled(kListMenuRules, 40037, empty), 0);
    EXPECT_EQ(Enabled(kCompareMenuRules, 40210, selectedSymbol), 1); // left side exists
    EXPECT_EQ(Enabled(kCompareMenuRules, 40211, selectedSymbol), 0); // right side does not
    EXPECT_EQ(Enabled(kTradesMenuRules, 40080, selectedNoSymbol), 1);
    EXPECT_EQ(Enabled(kScanMenuRules, 40080, selectedNoSymbol), -1); // trades only
    EXPECT_EQ(Enabled(kSaveMenuRules, 40061, empty), 0);             // not modified
}

TEST(KindMenuRules, TabTitleForms)
{
    struct Case {
        int form;
        int number;
        const char *name, *want;
    } cases[] = {
        {TAB_TEST_SCRIPT, 12, nullptr, "Test12 Script"},
        {TAB_TEST_TRADES, 3, nullptr, "Test3 Trades"},
        {TAB_FILE_NAME, 0, "C:\\Results\\spring.kvr", "spring.kvr"},
        {TAB_RECORD_NAME, 0, "SPY Data", "SPY Data"},
        {TAB_CHART, 0, "QQQ", "QQQ Chart"},
        {TAB_CHART, 0, "VERYLONGSYMBOLNAME", "VERYLON...ME Chart"}, // 24 characters: 7 + "..." + 8
    };
    for (const Case &c : cases) {
        char out[64];
        FormatKindTabTitle(c.form, c.number, c.name, out, sizeof out);
        EXPECT_STREQ(out, c.want);
    }
}
