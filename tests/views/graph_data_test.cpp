#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/results_file.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "script/compiler/ranges.h"
#include "script/compiler/script_state.h"
#include "views/graph_data.h"

namespace {

struct Series {
    std::vector<double> values;
    std::vector<int32_t> order;
};

/* A graph of n series with room for 8 points each. */
struct SmallGraph {
    std::vector<Series> store;
    std::vector<GraphSeries> series;
    GraphWindow graph = {};
    explicit SmallGraph(int n) : store(size_t(n)), series(size_t(n))
    {
        for (int s = 0; s < n; s++) {
            store[size_t(s)].values.assign(8, 0);
            store[size_t(s)].order.assign(8, 0);
            series[size_t(s)] = {};
            series[size_t(s)].values = store[size_t(s)].values.data();
            series[size_t(s)].order = store[size_t(s)].order.data();
            series[size_t(s)].min = 1e14;
            series[size_t(s)].max = -1e14;
        }
        graph.series = series.data();
        graph.seriesCount = n;
        graph.combinedIndex = -1;
        graph.pointCapacity = 8;
        graph.integers = 1;
    }
};

TEST(GraphData, StoredValuesKeepRangeOrderAndStart)
{
    SmallGraph g(2);
    const double a[] = { 5, 7, 5, 9 }, b[] = { 3, 4, 2, 6 };
    for (int j = 0; j < 4; j++) {
        StoreGraphValue(&g.graph, 0, j, a[j], j == 0);
        StoreGraphValue(&g.graph, 1, j, b[j], j == 0);
    }
    /* Descending, earlier points first among equals (5 at points 0 and 2). */
    EXPECT_EQ(g.store[0].order, (std::vector<int32_t>{ 3, 1, 0, 2, 0, 0, 0, 0 }));
    EXPECT_EQ(g.series[0].min, 5);
    EXPECT_EQ(g.series[0].max, 9);
    EXPECT_EQ(g.graph.startingValue, 3); /* the smaller first value */
    EXPECT_EQ(g.graph.integers, 1u);
    StoreGraphValue(&g.graph, 1, 4, 2.5, 0);
    EXPECT_EQ(g.graph.integers, 0u);
}

TEST(GraphData, LogFormFallsBackForValuesNotAboveZero)
{
    struct Case {
        const char *name;
        std::vector<double> values;
        uint32_t logAfter;
        std::vector<double> stored;
    } cases[] = {
        { "a first value of 0 ends the log form", { 0, 5, 10 }, 0, { 0, 5, 10 } },
        { "a later negative value is drawn at the series low", { 4, 2, -1 }, 1, { 4, 2, 2 } },
        { "positive values stay", { 1, 2 }, 1, { 1, 2 } },
    };
    for (const Case &c : cases) {
        SmallGraph g(1);
        g.graph.effectiveLog = 1;
        for (size_t j = 0; j < c.values.size(); j++) StoreGraphValue(&g.graph, 0, int32_t(j), c.values[j], j == 0);
        EXPECT_EQ(g.graph.effectiveLog, c.logAfter) << c.name;
        for (size_t j = 0; j < c.stored.size(); j++) EXPECT_EQ(g.store[0].values[j], c.stored[j]) << c.name << j;
    }
}

TEST(GraphData, SelectionOfSeries)
{
    SmallGraph g(3);
    g.graph.combinedIndex = 2;
    struct Step {
        const char *what;
        int32_t only, toggle; /* -9: not this step */
        std::vector<uint32_t> shown;
        uint32_t allShown, combinedShown;
    } steps[] = {
        { "all", -1, -9, { 1, 1, 1 }, 1, 1 },
        { "only the first", 0, -9, { 1, 0, 0 }, 0, 0 },
        { "toggle the second on", -9, 1, { 1, 1, 0 }, 1, 0 },
        { "none", -2, -9, { 0, 0, 0 }, 0, 0 },
        { "toggle the combined on", -9, 2, { 0, 0, 1 }, 0, 1 },
    };
    for (const Step &s : steps) {
        if (s.only != -9) ShowOnlyGraphSeries(&g.graph, s.only);
        if (s.toggle != -9) ToggleGraphSeries(&g.graph, s.toggle);
        for (int i = 0; i < 3; i++) EXPECT_EQ(g.series[size_t(i)].shown, s.shown[size_t(i)]) << s.what << i;
        EXPECT_EQ(g.graph.allShown, s.allShown) << s.what;
        EXPECT_EQ(g.graph.combinedShown, s.combinedShown) << s.what;
        EXPECT_EQ(g.graph.savedShown[1], s.shown[1]) << s.what;
    }
}

/* The Graphs hint: "|" alone gives bars standing on 0; "|" with a number
** gives a line graph with that base value, which the log scale needs. */
TEST(GraphData, BarMarkAndBaseValueOfTheHint)
{
    const struct {
        const char *hint;
        uint32_t graphType;
        double baseValue;
    } cases[] = {
        {"{$0}", 0, 0},
        {"{%1 |}", 1, 0},
        {"{$0 |1 ^}", 0, 1},
        {"{#2 |100}", 0, 100},
    };
    DefinitionList saved = gGraphsColumns;
    gGraphsColumns = DefinitionList{};
    ASSERT_TRUE(AllocMemory(&gGraphsColumns.items, sizeof(FormulaColumn)));
    gGraphsColumns.capacity = gGraphsColumns.count = 1;
    FormulaColumn &column = *(FormulaColumn *)gGraphsColumns.items;
    for (const auto &c : cases) {
        ParseFormatSpec(c.hint, (int)strlen(c.hint), &column);
        GraphWindow graph = {};
        ASSERT_EQ(1, CheckGraphDisplay(&graph, 0)) << c.hint;
        EXPECT_EQ(c.graphType, graph.graphType) << c.hint;
        EXPECT_EQ(c.baseValue, graph.baseValue) << c.hint;
    }
    FreeMemory(&gGraphsColumns.items);
    gGraphsColumns = saved;
}

} // namespace

/* A test of one strategy over 4 dates with two shown Graphs formulas that
** have no nodes (each evaluates to 0). */
TEST(GraphData, CachedFormulaIsPlottedFromTheCache)
{
    TestRecord *test = ReadTestRecord(nullptr, 0, 1, 4, 0);
    ASSERT_NE(test, nullptr);
    test->strategies[0].kind = STRATEGY_KIND_STRATEGY;
    CopyString(test->strategies[0].name, sizeof test->strategies[0].name, "Breakout", -1);
    for (int p = 0; p < 4; p++) test->cells[p].date = uint32_t(20240102 + p);
    DefinitionList saved = gGraphsColumns;
    gGraphsColumns = DefinitionList{};
    ASSERT_TRUE(AllocMemory(&gGraphsColumns.items, 2 * sizeof(FormulaColumn)));
    gGraphsColumns.capacity = gGraphsColumns.count = 2;
    for (int k = 0; k < 2; k++) {
        FormulaColumn &column = ((FormulaColumn *)gGraphsColumns.items)[k];
        column.format = 1;
        column.decimals = -1;
    }
    GraphWindow graph = {};
    ASSERT_TRUE(AllocGraphWindow(&graph, test));
    ASSERT_TRUE(CheckGraphDisplay(&graph, 1));
    ASSERT_EQ(CalcGraphData(&graph, 1), 1);
    ASSERT_TRUE(test->graphValid[0] && test->graphValid[1]);
    /* Values the cache holds for formula 0 at periods 0..3 (two formulas per
    ** cell); showing it again takes them without evaluating. */
    const double cached[] = { 3, 9, 6, 1 };
    for (int p = 0; p < 4; p++) test->graphValues[p * 2] = cached[p];
    ASSERT_TRUE(CheckGraphDisplay(&graph, 0));
    ASSERT_EQ(CalcGraphData(&graph, 0), 1);
    EXPECT_EQ(graph.series[0].leadCount, 0u);
    ASSERT_EQ(graph.pointCount, 4);
    for (int p = 0; p < 4; p++) EXPECT_EQ(graph.series[0].values[p], cached[p]) << p;
    EXPECT_EQ(graph.series[0].max, 9);
    FreeGraphWindow(&graph);
    FreeMemory(&gGraphsColumns.items);
    gGraphsColumns = saved;
    FreeTestRecord(nullptr, test);
}
