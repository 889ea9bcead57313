#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "shell/headless/headless.h"
#include "support/program_state.h"
#include "engine/optimizer.h"
#include "engine/results_file.h"
#include "views/results_rows.h"

namespace {

struct ResultsRowsTest : ProgramStateTest {
    FormulaColumn columns[2] = {};
    DefinitionList savedResults = gResultsColumns;
    ResultsWindow *window = nullptr;

    void SetUp() override
    {
        ProgramStateTest::SetUp();
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        gHeadless.captureLog = 1;
        columns[0].format = 2;
        columns[0].decimals = 1;
        columns[0].barFlag = 1;
        columns[0].barNumber = 1;
        CopyString(columns[0].heading, 80, "Score", -1);
        columns[1].format = 0;
        gResultsColumns.items = columns;
        gResultsColumns.count = 2;
        window = CreateResultsWindow(0, nullptr);
    }
    void TearDown() override
    {
        CloseResultsWindow(window);
        gResultsColumns = savedResults;
        ProgramStateTest::TearDown();
    }
    /* A test with the named parameters and a stored Score. */
    TestRecord *Add(int32_t number, std::vector<std::pair<const char *, double>> parameters, double score)
    {
        TestRecord *t = ReadTestRecord(nullptr, (int32_t)parameters.size(), 1, 1, 0);
        t->testNumber = number;
        t->settings.FirstDate = 20240102;
        t->settings.LastDate = 20240329;
        CopyString(t->settings.TestName, 80, "Run", -1);
        for (size_t k = 0; k < parameters.size(); k++) {
            CopyString(t->parameters[k].name, 64, parameters[k].first, -1);
            t->parameters[k].value = parameters[k].second;
            t->parameters[k].column = -1;
        }
        AllocMemory(&t->resultsValues, 2 * sizeof(double));
        t->resultsValueCount = 2;
        t->resultsValues[0] = score;
        std::vector<ParamValue> names(t->parameters, t->parameters + t->parameterCount);
        AddResultsColumns(window, (int32_t)names.size(), names.data());
        AddTestToResults(window, t);
        return t;
    }
};

TEST_F(ResultsRowsTest, ParameterCellsAndTheirColumnsAfterADelete)
{
    TestRecord *a = Add(1, {{"Len", 5}, {"Stop", 2.5}}, 0);
    TestRecord *b = Add(2, {{"len", 7}, {"Exit", 3}}, 0);
    ASSERT_EQ(3, window->columnCount); /* Len, Stop, Exit */
    ASSERT_EQ(7, CountResultsListColumns(window));
    char cells[7][RESULTS_CELL_SIZE];
    FillResultsRow(window, b, cells, 7);
    const std::vector<std::string> row(cells, cells + 7);
    /* The Score formula is not compiled, so it evaluates to 0. */
    EXPECT_EQ((std::vector<std::string>{"0002", "Run", "2024-01-02 - 2024-03-29", "0.0", "7", "", "3"}), row);
    EXPECT_EQ(6, b->parameters[1].column);
    /* Each heading names its cell; the hidden Results column has neither. */
    std::vector<std::string> headings;
    for (int32_t c = 0; c <= 7; c++) headings.push_back(ResultsColumnHeading(window, c));
    EXPECT_EQ((std::vector<std::string>{"Test", "Name", "Dates", "Score", "Len", "Stop", "Exit", ""}), headings);
    /* A walk-forward summary test holds no single value (NaN): empty cell. */
    b->parameters[0].value = std::nan("");
    FillResultsRow(window, b, cells, 7);
    EXPECT_STREQ("", cells[4]);

    /* Deleting the only test with Stop drops its list column (5) and moves
    ** Exit from 6 to 5. */
    int32_t dropped[3];
    EXPECT_EQ(1, DeleteTestFromResults(window, a, dropped));
    EXPECT_EQ(5, dropped[0]);
    EXPECT_EQ(5, b->parameters[1].column);
    ASSERT_EQ(2, window->columnCount);
    EXPECT_STREQ("Exit", window->columns[1].name);
    EXPECT_EQ(b, window->firstTest);
    EXPECT_EQ(1, window->modified);
}

TEST_F(ResultsRowsTest, SummaryOfAnEvenNumberOfTestsTakesTheMiddleMean)
{
    for (double score : {4.0, 1.0, 10.0, 2.0}) Add(1, {}, score);
    LogOptimizationSummary(window);
    /* Sorted 1, 2, 4, 10: median 3, mean 4.25 (printed to the even 4.2), deviation
    ** sqrt((10.5625 + 5.0625 + 0.0625 + 33.0625) / 4) = 3.4911. */
    EXPECT_EQ("*** Optimization Summary ***\n\nStat\tMin\tMax\tMed\tAvg\tStd\n----\t---\t---\t---\t---\t---\n"
              "Score\t1.0\t10.0\t3.0\t4.2\t3.5\n\n",
              std::string(gHeadless.logText ? gHeadless.logText : ""));
}

TEST_F(ResultsRowsTest, UniqueSymbolsAreCountedAndSortedWithoutCase)
{
    struct Case {
        std::vector<const char *> symbols;
        const char *text;
    } cases[] = {
        {{"msft", "IBM", "MSFT", "ibm", "aapl"}, "5 Unique Symbols\n\naapl\nIBM\nibm\nmsft\nMSFT\n"},
        {{"X", "X"}, "1 Unique Symbol\n\nX\n"},
    };
    for (const Case &c : cases) {
        TestRecord *t = ReadTestRecord(nullptr, 0, 1, 1, 0);
        for (const char *symbol : c.symbols) CopyString(AddTrade(t)->symbol, 40, symbol, -1);
        const std::string path = tmp.File("_temp_.txt");
        EXPECT_EQ(1, WriteUniqueSymbols(t, path.c_str()));
        EXPECT_EQ(c.text, ReadTestFile(path));
        FreeTestRecord(nullptr, t);
    }
    TestRecord *none = ReadTestRecord(nullptr, 0, 1, 1, 0);
    EXPECT_EQ(0, WriteUniqueSymbols(none, tmp.File("none.txt").c_str()));
    FreeTestRecord(nullptr, none);
}

} // namespace
