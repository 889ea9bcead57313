#include <gtest/gtest.h>

#include <string>

#include "foundation/allocator.h"
#include "shell/headless/headless.h"
#include "support/program_state.h"
#include "views/scan_charts.h"
#include "views/scan_run.h"

namespace {

struct ScanChartsTest : ProgramStateTest {
    CellListWindow list = {};
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        gRun.unattended = 0;
        const int32_t dates[3] = {20240102, 20240103, 20240104};
        list.columnCount = 1;
        ASSERT_TRUE(AllocMemory(&list.cells, 3 * sizeof(ListCell)));
        ASSERT_TRUE(AllocMemory(&list.rowIndex, 3 * sizeof(uint32_t)));
        for (int r = 0; r < 3; r++) {
            list.cells[r].symbolIndex = -1; /* the calendar: an empty name */
            list.cells[r].date = dates[r];
            list.rowIndex[r] = (uint32_t)r;
        }
        list.rowCount = 3;
    }
    void TearDown() override
    {
        FreeListWindow(&list);
        gChartImageWriter = nullptr;
        ProgramStateTest::TearDown();
    }
};

/* Writes the image of every date but Jan 3. */
int WriteSomeCharts(const ListCell *row, const char *path)
{
    return row->date != 20240103 && WriteTestFile(path, "png");
}

/* Claims success without writing anything. */
int ClaimCharts(const ListCell *, const char *) { return 1; }

TEST_F(ScanChartsTest, OnlyWrittenImagesCountAndFailedRowsAreNamed)
{
    struct Case {
        int (*writer)(const ListCell *, const char *);
        int32_t written;
        const char *tail;
    } cases[] = {
        {WriteSomeCharts, 2, "s were saved to %s\n1 row could not be charted:  20240103"},
        {ClaimCharts, 0, /* the same folder: the images of the first save do not count */ "s were saved to %s\n3 rows could not be charted:  20240102,  20240103,  20240104"},
    };
    for (const Case &c : cases) {
        gChartImageWriter = c.writer;
        const std::string folder = tmp.File("charts\\");
        EXPECT_EQ(c.written, SaveChartsToFolder(&list, folder.c_str()));
        char expected[512];
        snprintf(expected, sizeof expected, ("%d chart" + std::string(c.tail)).c_str(), (int)c.written,
                 tmp.File("charts").c_str());
        EXPECT_STREQ(expected, LastMessage());
    }
    EXPECT_FALSE(PlatFileExists(tmp.File("charts\\_20240104.PNG").c_str())); /* the stale image is gone */
    EXPECT_EQ(0, SaveChartsToFolder(&list, tmp.File("no\\such").c_str()));
    EXPECT_EQ("Unable to create folder " + tmp.File("no\\such"), std::string(LastMessage()));
}

/* A long list is written with the window answering every SAVE_PUMP_ROWS
** rows, and a stop asked for meanwhile still leaves the whole list in the
** file (a list cut short would read as all there is). */
TEST_F(ScanChartsTest, ALongListIsSavedWholeWithTheWindowAnswering)
{
    const int rows = 5 * SAVE_PUMP_ROWS + 7;
    CellListWindow many = {};
    many.columnCount = 1;
    ASSERT_TRUE(AllocMemory(&many.cells, (uint64_t)rows * sizeof(ListCell)));
    ASSERT_TRUE(AllocMemory(&many.rowIndex, (uint64_t)rows * sizeof(uint32_t)));
    std::string expected = "Row\r\n";
    for (int r = 0; r < rows; r++) {
        snprintf(many.cells[r].text, sizeof many.cells[r].text, "%d", rows - r);
        many.rowIndex[r] = (uint32_t)r;
        expected += std::to_string(rows - r) + "\r\n";
    }
    many.rowCount = rows;
    ASSERT_TRUE(AllocMemory(&many.headings, sizeof *many.headings));
    snprintf(many.headings[0], sizeof many.headings[0], "Row");
    gHeadless.pumpCount = 0;
    gHeadless.stopAtPump = 2;
    const std::string path = tmp.File("many.csv");
    EXPECT_EQ(1, SaveCellListCsv(&many, path.c_str(), 0));
    EXPECT_EQ(5, gHeadless.pumpCount);
    EXPECT_TRUE(ReadTestFile(path) == expected) << ReadTestFile(path).size() << " bytes, " << expected.size() << " wanted";
    FreeListWindow(&many);
}

} // namespace
