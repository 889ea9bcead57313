#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/list_sort.h"
#include "foundation/settings_table.h"

namespace {

struct Keys {
    uint8_t priority[LIST_SORT_COLUMNS] = {};
    uint8_t direction[LIST_SORT_COLUMNS] = {};
};

} // namespace

TEST(ListSort, HeaderClicksBuildKeys)
{
    Keys k;
    UpdateSortKeyState(3, 0, k.priority, k.direction);
    UpdateSortKeyState(1, 1, k.priority, k.direction);
    EXPECT_EQ(k.priority[3], 1);
    EXPECT_EQ(k.priority[1], 2);
    EXPECT_EQ(k.direction[1], 0);
    UpdateSortKeyState(1, 1, k.priority, k.direction); // shift on a key flips it
    EXPECT_EQ(k.direction[1], 1);
    UpdateSortKeyState(3, 0, k.priority, k.direction); // plain click on a key: only key, flipped
    EXPECT_EQ(k.priority[3], 1);
    EXPECT_EQ(k.direction[3], 1);
    EXPECT_EQ(k.priority[1], 0);
    UpdateSortKeyState(200, 0, k.priority, k.direction); // beyond the sortable columns
    EXPECT_EQ(k.priority[3], 1);
}

TEST(ListSort, ArrowsOnlyForTheFirstFourKeys)
{
    Keys k;
    for (int c = 0; c < 5; c++) UpdateSortKeyState(c, c > 0, k.priority, k.direction);
    UpdateSortKeyState(1, 1, k.priority, k.direction);
    const int expected[5] = {1, 6, 3, 4, 0}; // column 1 descending: 4 + 2; the fifth key: none
    for (int c = 0; c < 5; c++) EXPECT_EQ(SortArrowImage(k.priority[c], k.direction[c]), expected[c]) << c;
}

TEST(ListSort, CellNumbers)
{
    int32_t savedInput = gSettings.DateInputFormat;
    gSettings.DateInputFormat = 0;
    struct Case {
        const char *text;
        double value;
    } cases[] = {
        {"$1,234,567.50", 1234567.5},
        {"(12.5%)", -0.125},
        {"1234", 1234},
        {"1/2/2020", 20200102},
        {"12/31/2019", 20191231},
        {"3.5", 3.5},
        {"", 0},
        {"-", 0},
        {"20200115", 20200115},
        {"1/2/2020 7", 1},
        {"12-4", 12},
    };
    for (const Case &c : cases) EXPECT_DOUBLE_EQ(ParseListNumber(c.text), c.value) << c.text;
    gSettings.DateInputFormat = savedInput;
}

TEST(ListSort, CellComparison)
{
    struct Case {
        const char *a, *b;
        int result;
    } cases[] = {
        {"10", "9", 1},
        {"AB", "10", 1},
        {"abc", "ABD", -1},
        {"1,234", "999", 1},
        {"(5)", "1", -1},
        {"x", "X", 0},
        {"2.0", "2", 0},
    };
    for (const Case &c : cases) EXPECT_EQ(CompareListCells(c.a, c.b), c.result) << c.a << " vs " << c.b;
}

namespace {
std::vector<std::vector<std::string>> gRows;
void ReadRow(void *, int row, int column, char *out, int size)
{
    snprintf(out, (size_t)size, "%s", gRows[(size_t)row][(size_t)column].c_str());
}
} // namespace

TEST(ListSort, RowsBySeveralKeys)
{
    gRows = {{"b", "2"}, {"a", "2"}, {"a", "1"}};
    Keys k;
    UpdateSortKeyState(1, 0, k.priority, k.direction);                                 // number column first
    UpdateSortKeyState(0, 1, k.priority, k.direction);                                 // then the text column
    UpdateSortKeyState(1, 1, k.priority, k.direction);                                 // number column descending
    EXPECT_LT(CompareListRows(1, 0, 2, k.priority, k.direction, ReadRow, nullptr), 0); // 2,a before 2,b
    EXPECT_LT(CompareListRows(0, 2, 2, k.priority, k.direction, ReadRow, nullptr), 0); // 2 before 1
    EXPECT_EQ(CompareListRows(0, 0, 2, k.priority, k.direction, ReadRow, nullptr), 0);
    EXPECT_EQ(CompareListRows(0, 1, 0, k.priority, k.direction, ReadRow, nullptr), 0);
}

namespace {
const char *RowCell(void *, int row, int column)
{
    const std::string &cell = gRows[(size_t)row][(size_t)column];
    return cell == "<null>" ? nullptr : cell.c_str();
}
} // namespace

/* The order a sort gives: numbers, dates and amounts by what they stand
** for, texts without regard to case, a pair with a letter as texts, equal
** rows as they were, a second key and a descending key.  Rows are given by
** their first cell. */
TEST(ListSort, OrderOfAWholeList)
{
    int32_t savedInput = gSettings.DateInputFormat;
    gSettings.DateInputFormat = 0;
    const std::string longA = std::string(255, 'x') + "b", longB = std::string(255, 'x') + "a";
    struct Case {
        std::vector<std::vector<std::string>> rows; /* name, key cells */
        std::vector<int> keys;                      /* columns clicked: negative = shift-click */
        const char *order;
    } cases[] = {
        {{{"r0", "10"}, {"r1", "9"}, {"r2", "$1,234.50"}, {"r3", "(12.5%)"}, {"r4", "9.0"}}, {1}, "r3;r1;r4;r0;r2;"},
        {{{"r0", "1/2/2020"}, {"r1", "12/31/2019"}, {"r2", "20191230"}}, {1}, "r2;r1;r0;"},
        {{{"r0", "beta"}, {"r1", "Alpha"}, {"r2", "alpha"}, {"r3", "<null>"}}, {1}, "r3;r1;r2;r0;"},
        {{{"r0", "AB"}, {"r1", "10"}, {"r2", "9"}}, {1}, "r2;r1;r0;"}, /* "10" < "AB" as texts */
        {{{"r0", "b", "2"}, {"r1", "a", "2"}, {"r2", "a", "1"}}, {2, -1}, "r2;r1;r0;"},
        {{{"r0", "b", "2"}, {"r1", "a", "2"}, {"r2", "a", "1"}}, {2, 2}, "r0;r1;r2;"}, /* descending, ties kept */
        {{{"r0", longA}, {"r1", longB}}, {1}, "r0;r1;"}, /* equal in the first 255 characters */
        {{{"r0", "5"}}, {1}, "r0;"},
    };
    for (const Case &c : cases) {
        gRows = c.rows;
        Keys k;
        for (int key : c.keys) UpdateSortKeyState(key < 0 ? -key : key, key < 0, k.priority, k.direction);
        std::vector<int32_t> order(c.rows.size());
        for (size_t i = 0; i < order.size(); i++) order[i] = (int32_t)i;
        ASSERT_EQ(1, SortListOrder(order.data(), (int)order.size(), (int)c.rows[0].size(), k.priority, k.direction,
                                   RowCell, nullptr));
        std::string got;
        for (int32_t row : order) got += c.rows[(size_t)row][0] + ";";
        EXPECT_EQ(c.order, got) << c.order;
    }
    gSettings.DateInputFormat = savedInput;
}

namespace {
int gOnlyRow;
int MatchOnly(void *, int row) { return row == gOnlyRow; }
} // namespace

TEST(ListSort, FindOrderWrapsPastTheSelection)
{
    struct Case {
        int selected, only, found;
    } cases[] = {{-1, 9, 9}, {5, 5, -1}, {5, 2, 2}, {5, 7, 7}, {0, 0, 0}, {9, 0, 0}};
    for (const Case &c : cases) {
        gOnlyRow = c.only;
        EXPECT_EQ(FindListRow(10, c.selected, MatchOnly, nullptr), c.found) << c.selected << "/" << c.only;
    }
}

TEST(ListSort, SelectionPlaceAndKeys)
{
    EXPECT_EQ(SelectionPlaceOf(0, -1), SELECTION_EMPTY);
    EXPECT_EQ(SelectionPlaceOf(3, -1), SELECTION_NONE);
    EXPECT_EQ(SelectionPlaceOf(3, 0), SELECTION_FIRST);
    EXPECT_EQ(SelectionPlaceOf(3, 1), SELECTION_MIDDLE);
    EXPECT_EQ(SelectionPlaceOf(3, 2), SELECTION_LAST);
    EXPECT_EQ(SelectionPlaceOf(1, 0), SELECTION_ONLY);
    int keys[8];
    ASSERT_EQ(ListSelectionKeys(1, 1, 5, 4, keys, 8), 1);
    EXPECT_EQ(keys[0], LIST_KEY_HOME);
    ASSERT_EQ(ListSelectionKeys(-2, 1, 5, 0, keys, 8), 2);
    EXPECT_EQ(keys[0], LIST_KEY_END);
    EXPECT_EQ(keys[1], LIST_KEY_UP);
    ASSERT_EQ(ListSelectionKeys(2, 0, 5, 4, keys, 8), 2);
    EXPECT_EQ(keys[0], LIST_KEY_DOWN);
    EXPECT_EQ(ListSelectionKeys(0, 1, 5, 4, keys, 8), 0);
}

TEST(ListSort, SeparatorsAndLayout)
{
    char cell[32] = "a\tb\tc";
    EXPECT_EQ(RemoveSeparators(cell, '\t'), 3);
    EXPECT_STREQ(cell, "abc");
    char csv[32] = "1,234";
    RemoveSeparators(csv, ',');
    EXPECT_STREQ(csv, "1234");
    LayoutRect saved = {10, 20, 100, 50}, out;
    ASSERT_TRUE(PlaceLayoutControl(&saved, 1, 0, 30, 40, &out));
    EXPECT_EQ(out.left, 40);
    EXPECT_EQ(out.width, 100);
    ASSERT_TRUE(PlaceLayoutControl(&saved, 0, 1, 30, 40, &out));
    EXPECT_EQ(out.width, 130);
    EXPECT_EQ(out.height, 90);
    EXPECT_FALSE(PlaceLayoutControl(&saved, 1, 1, -5, 40, &out)); // shrunk: nothing moves
}

#include "foundation/folder_helpers.h"
#include "services/services.h"
#include "shell/headless/headless.h"
#include "support/test_support.h"

TEST(FolderHelpers, CreateFolderReportsOnlyAMissingParent)
{
    TempFolder tmp;
    ResetHeadlessShell();
    char path[300];
    snprintf(path, sizeof path, "%s\\made\\\\", tmp.path.c_str());
    EXPECT_EQ(CreateFolder(path), 1);
    EXPECT_EQ(CreateFolder(path), 1); // existing: no message
    EXPECT_EQ(gHeadless.messageCount, 0);
    snprintf(path, sizeof path, "%s\\missing\\child", tmp.path.c_str());
    EXPECT_EQ(CreateFolder(path), 0);
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(std::string(LastMessage()).rfind("Unable to create folder ", 0), 0u);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    gRun.resultCode = RESULT_OK;
    ResetHeadlessShell();
}
