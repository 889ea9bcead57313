#include <gtest/gtest.h>

#include "marketdata/store/symbols.h"
#include "panel_store.h"
#include "shell/panel_rules.h"

using PanelRulesTest = PanelStoreTest;

/* The fixture's calendar counted by hand: January has 21 market days (2..31
** without the 15th), February 20, March 1..28 has 20; 13 weeks hold them. */
TEST_F(PanelRulesTest, ClampsTheRangeToTheDataAndCountsBars)
{
    ASSERT_EQ(days.size(), 61u);
    ASSERT_EQ(weeks.size(), 13u);
    struct Case {
        int barSize;
        int32_t first, last;
        int32_t wantFirst, wantLast;
        int count;
    } cases[] = {
        {0, 20231201, 20250101, 20240102, 20240328, 61}, // both ends pulled in
        {0, 20240201, 20240229, 20240201, 20240229, 20}, // inside: unchanged
        {1, 20231201, 20250101, 20240102, 20240328, 13}, // weekly: the first week's first day
        {1, 20240105, 20240216, 20240105, 20240216, 7},
        {1, 20240205, 20240216, 20240205, 20240216, 2},
    };
    for (const Case &c : cases) {
        int32_t first = c.first, last = c.last;
        int count = ClampPanelRange(c.barSize, &first, &last);
        if (c.count >= 0) {
            EXPECT_EQ(count, c.count) << c.first;
        }
        EXPECT_EQ(first, c.wantFirst);
        EXPECT_EQ(last, c.wantLast);
    }
}

TEST_F(PanelRulesTest, BarCountMovesTheFreeEnd)
{
    struct Case {
        int barSize, n, firstFixed;
        int32_t first, last, wantFirst, wantLast;
    } cases[] = {
        {0, 50, 0, 20240102, 20240328, 20240118, 20240328}, // 49 market days before 28 March
        {0, 5, 1, 20240110, 20240328, 20240110, 20240117},  // over the 15 January holiday
        {0, 1, 1, 20240205, 20240328, 20240205, 20240205},
        {1, 3, 0, 20240102, 20240216, 20240202, 20240216}, // weeks ending 2, 9, 16 February
        {0, 0, 1, 20240102, 20240328, 20240102, 20240328}, // no count: nothing moves
    };
    for (const Case &c : cases) {
        int32_t first = c.first, last = c.last;
        EXPECT_EQ(RangeFromBarCount(c.barSize, c.n, c.firstFixed, &first, &last), c.n > 0 ? 1 : 0);
        EXPECT_EQ(first, c.wantFirst) << c.n;
        EXPECT_EQ(last, c.wantLast) << c.n;
    }
}

TEST_F(PanelRulesTest, EnabledStates)
{
    struct Case {
        int runState, earliest, latest, nameChanged;
        int want[PANEL_GROUP_COUNT]; /* idle, first date, last date, bar count, load */
    } cases[] = {
        {RUN_IDLE, 1, 1, 0, {1, 0, 0, 0, 0}},   // both ends fixed: no dates, no count
        {RUN_IDLE, 1, 0, 1, {1, 0, 1, 1, 1}},
        {RUN_IDLE, 0, 1, 0, {1, 1, 0, 1, 0}},
        {RUN_IDLE, 0, 0, 0, {1, 1, 1, 1, 0}},
        {RUN_TESTING, 0, 0, 1, {0, 0, 0, 0, 0}}, // a run disables the whole panel
        {RUN_LOADING, 1, 1, 1, {0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases)
        for (int g = 0; g < PANEL_GROUP_COUNT; g++)
            EXPECT_EQ(IsPanelGroupEnabled(g, c.runState, c.earliest, c.latest, c.nameChanged), c.want[g])
                << "state " << c.runState << " group " << g;
}

/* A name differing only in case is the loaded file on Windows, another file
** on Linux. */
TEST_F(PanelRulesTest, DataFileNameComparesAsTheSystemNamesFiles)
{
#ifdef _WIN32
    EXPECT_EQ(DataFileNameDiffers("c:\\data\\STOCKS.kvd"), 0);
#else
    EXPECT_EQ(DataFileNameDiffers("c:\\data\\STOCKS.kvd"), 1);
#endif
    EXPECT_EQ(DataFileNameDiffers("C:/Data/Stocks.kvd"), 0);
    EXPECT_EQ(DataFileNameDiffers("C:\\Data\\Other.kvd"), 1);
    gStore.loadedPath[0] = 0;
    EXPECT_EQ(DataFileNameDiffers("C:\\Data\\Stocks.kvd"), 1); // nothing loaded
}

/* Two rows 25 px apart; row A ends in two groups (a button, and a label
** with its field), row B is one label and a long field. */
TEST(PanelLayout, LastFieldsWrapToANewRowWhereTheyDoNotFit)
{
    const PanelBox boxes[7] = {
        {6, 5, 60, 12, 0}, {70, 5, 200, 12, 1}, {280, 5, 50, 12, 0}, {340, 5, 40, 12, 0}, {384, 5, 100, 12, 1},
        {6, 30, 60, 12, 0}, {70, 30, 300, 12, 1},
    };
    struct Case {
        int32_t width, height;
        int32_t left[7], top[7];
    } cases[] = {
        {500, 60, {6, 70, 280, 340, 384, 6, 70}, {5, 5, 5, 5, 5, 30, 30}},    /* all fit (484 <= 496) */
        {400, 85, {6, 70, 280, 6, 50, 6, 70}, {5, 5, 5, 30, 30, 55, 55}},     /* the label and field wrap */
        {300, 85, {6, 70, 6, 66, 110, 6, 70}, {5, 5, 30, 30, 30, 55, 55}},    /* the button too; row B stays whole */
        {200, 110, {6, 70, 6, 6, 50, 6, 70}, {5, 5, 30, 55, 55, 80, 80}},     /* each group on a line of its own */
    };
    for (const Case &c : cases) {
        PanelBox placed[7];
        EXPECT_EQ(WrapPanelRows(boxes, 7, c.width, 60, 4, placed), c.height) << c.width;
        for (int k = 0; k < 7; k++) {
            EXPECT_EQ(placed[k].left, c.left[k]) << c.width << " box " << k;
            EXPECT_EQ(placed[k].top, c.top[k]) << c.width << " box " << k;
            EXPECT_EQ(placed[k].width, boxes[k].width);
        }
    }
}

/* A row ending exactly at the edge (width - margin) keeps its place; one
** pixel narrower, its last group wraps. */
TEST(PanelLayout, ARowEndingAtTheEdgeStays)
{
    const PanelBox boxes[3] = {{6, 5, 60, 12, 0}, {70, 5, 100, 12, 1}, {180, 5, 100, 12, 0}}; /* ends at 280 */
    PanelBox placed[3];
    EXPECT_EQ(WrapPanelRows(boxes, 3, 284, 30, 4, placed), 30);
    EXPECT_EQ(placed[2].left, 180);
    EXPECT_EQ(placed[2].top, 5);
    EXPECT_EQ(WrapPanelRows(boxes, 3, 283, 30, 4, placed), 60);
    EXPECT_EQ(placed[2].left, 6);
    EXPECT_EQ(placed[2].top, 35);
}
