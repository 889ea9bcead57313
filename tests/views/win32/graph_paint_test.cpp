/* Statistics graphs painted to PNG under Wine, checked at key pixels. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "support/test_support.h"
#include "views/graph_geometry.h"
#include "views/win32/draw_resources.h"
#include "views/win32/graph_paint.h"
#include "views/win32/png_image.h"

namespace {

struct HandGraph {
    std::vector<std::vector<double>> values;
    std::vector<std::vector<int32_t>> orders;
    std::vector<GraphSeries> series;
    std::vector<int32_t> dates;
    GraphWindow graph = {};

    /* One series per value list; the last is the combined one when asked. */
    HandGraph(std::vector<std::vector<double>> lists, std::vector<uint32_t> leads, bool combined)
        : values(lists), orders(lists.size()), series(lists.size())
    {
        int points = int(lists[0].size());
        for (int j = 0; j < points; j++) dates.push_back(20240101 + (j / 28) * 100 + j % 28 + 1);
        for (size_t s = 0; s < lists.size(); s++) {
            GraphSeries &g = series[s];
            g = {};
            g.values = values[s].data();
            orders[s].resize(size_t(points));
            for (int j = 0; j < points; j++) orders[s][size_t(j)] = j;
            g.order = orders[s].data();
            g.shown = 1;
            g.leadCount = leads[s];
            g.min = 1e14;
            g.max = -1e14;
            for (int j = int(leads[s]); j < points; j++) {
                g.min = std::min(g.min, values[s][size_t(j)]);
                g.max = std::max(g.max, values[s][size_t(j)]);
            }
            FormatText(g.name, sizeof g.name, "Strategy %d", int(s) + 1);
        }
        graph.series = series.data();
        graph.seriesCount = int32_t(series.size());
        graph.combinedIndex = combined ? graph.seriesCount - 1 : -1;
        graph.pointCount = graph.pointCapacity = points;
        graph.dates = dates.data();
        graph.displayFormat = 1;
        graph.decimals = uint32_t(-1);
        graph.hasColumn = 1;
        graph.cursorIndex = -1;
        graph.movingAverageLength = 20;
        CopyString(graph.title, sizeof graph.title, "Equity", -1);
    }
};

struct GraphPaintTest : ::testing::Test {
    HWND window = nullptr;
    static void SetUpTestSuite()
    {
        ResetSettingsToDefaults();
        CreateDrawingResources();
    }
    void SetUp() override
    {
        window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 360, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override { DestroyWindow(window); }

    PngImage Paint(GraphWindow *graph, const char *name)
    {
        std::string path = TestProgramFolder() + "\\" + name;
        DeleteFileA(path.c_str());
        CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
        ImageRequest = IMAGE_SAVE_PNG;
        HDC dc = GetDC(window);
        PaintGraph(window, dc, graph);
        ReleaseDC(window, dc);
        EXPECT_EQ(ImageRequest, IMAGE_NONE);
        PngImage png;
        EXPECT_TRUE(ReadPngImage(path, &png)) << name;
        return png;
    }
};

long Colour(COLORREF c) { return long(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c); }

TEST_F(GraphPaintTest, SeriesLateStartAndCombinedArea)
{
    std::vector<double> a, b, combined;
    for (int j = 0; j < 60; j++) {
        a.push_back(1000 + 10 * j);
        b.push_back(j < 10 ? 0 : 2000 - 5 * j);
        combined.push_back(a.back() + b.back());
    }
    HandGraph hand({ a, b, combined }, { 0, 10, 0 }, true);
    hand.graph.combinedArea = 1;
    PngImage png = Paint(&hand.graph, "graph_paint_test.png");
    const GraphGeometry &g = gGraphGeometry;
    EXPECT_EQ(g.top, 0); /* an image has no tab strip */
    int height = 360;
    auto x = [&](int j) { return GraphXFromIndex(j, 60, 600); };
    auto y = [&](double v) { return GraphYFromValue(v, hand.graph.min, hand.graph.max, height); };
    EXPECT_EQ(hand.graph.min, 1000);
    EXPECT_EQ(hand.graph.max, 1590 + 1705);

    long style1 = Colour(GraphStyleSet.styles[1].colour), style2 = Colour(GraphStyleSet.styles[2].colour);
    EXPECT_EQ(png.At(x(30), y(1300)), style1);
    EXPECT_EQ(png.At(x(20), y(1900)), style2);
    /* The late strategy draws nothing before its first period. */
    for (int row = 0; row < height; row++) ASSERT_NE(png.At(x(5), row), style2) << row;
    /* The combined series is a grey area down to the first label. */
    for (int row = y(3000) - 2; row <= y(3000) + 2; row++) EXPECT_EQ(png.At(x(45) + 2, row), 0xC0C0C0) << row;

    hand.graph.combinedArea = 0;
    png = Paint(&hand.graph, "graph_paint_lines.png");
    int white = 0;
    for (int row = y(3000) - 2; row <= y(3000) + 2; row++) white += png.At(x(45) + 2, row) == 0xFFFFFF;
    EXPECT_GE(white, 4) << "only a grid line may cross the spot";
}

TEST_F(GraphPaintTest, FlatValuesGiveOneLabelAtHalfHeight)
{
    HandGraph hand({ std::vector<double>(40, 5.0) }, { 0 }, false);
    PngImage png = Paint(&hand.graph, "graph_paint_flat.png");
    const GraphGeometry &g = gGraphGeometry;
    int H = g.labelHeight, A = g.averageWidth;
    int labelRows = 0;
    for (int row = g.legendHeight + H; row < 360 - 3 * H; row++) {
        bool ink = false;
        for (int col = 0; col < g.labelWidth - 3 * A; col++) ink = ink || png.At(col, row) == 0x000000;
        if (!ink) continue;
        labelRows++;
        EXPECT_NEAR(row, 360 / 2, H) << "a label away from the middle";
    }
    EXPECT_GT(labelRows, 0);
}

/* A log-scale equity graph that stays between $0.95M and $1.19M is labelled
** along its height, not once. */
TEST_F(GraphPaintTest, ALogScaleGraphOfANarrowRangeHasSeveralLabels)
{
    std::vector<double> equity;
    for (int j = 0; j < 40; j++) equity.push_back(j < 10 ? 1e6 - 5000 * j : 0.955e6 + 6000 * (j - 10));
    HandGraph hand({equity}, {0}, false);
    hand.graph.effectiveLog = hand.graph.logScale = 1;
    hand.graph.baseValue = hand.graph.startingValue = 1e6;
    PngImage png = Paint(&hand.graph, "graph_paint_log_narrow.png");
    const GraphGeometry &g = gGraphGeometry;
    int H = g.labelHeight, A = g.averageWidth;
    int labels = 0;
    bool inLabel = false;
    for (int row = g.legendHeight; row < 360 - 2 * H; row++) {
        bool ink = false;
        for (int col = 0; col < g.labelWidth - 3 * A; col++) ink = ink || png.At(col, row) == 0x000000;
        if (ink && !inLabel) labels++;
        inLabel = ink;
    }
    EXPECT_GE(labels, 3);
}

TEST_F(GraphPaintTest, TinyValuesDrawAsZero)
{
    HandGraph hand({ { 5e-7, -5e-7, 1, 2 } }, { 0 }, false);
    hand.graph.min = 0;
    std::vector<POINT> points(4);
    gGraphGeometry = { 0, 10, 5, 20, 40 };
    hand.graph.min = -5e-7;
    hand.graph.max = 2;
    gGraphMouse = { -1, -1 };
    ASSERT_EQ(BuildGraphPoints(&hand.graph, points.data(), 0, 600, 360, 0), 4);
    int zeroY = GraphYFromValue(0, -5e-7, 2, 360);
    EXPECT_EQ(points[0].y, zeroY);
    EXPECT_EQ(points[1].y, zeroY);
}

/* A strategy named with letters of two, three and four bytes: the legend
** draws its letters (as the system draws the hand-written wide name), and the
** next entry starts after the width those letters take, not after one
** code-page letter per byte. */
TEST_F(GraphPaintTest, TheLegendDrawsAndMeasuresANameByItsLetters)
{
    const WCHAR wideName[] = L"Z\u00fcrich \u20ac \u00bd \U0001D11E\u041c";
    HandGraph hand({ std::vector<double>(20, 1.0), std::vector<double>(20, 2.0) }, { 0, 0 }, false);
    CopyString(hand.graph.series[0].name, sizeof hand.graph.series[0].name,
               "Z\xC3\xBCrich \xE2\x82\xAC \xC2\xBD \xF0\x9D\x84\x9E\xD0\x9C", -1);
    gGraphMouse = { -1, -1 };
    gGraphHovered = -1;
    const int W = 600, H = 60, y = 8;
    HDC screen = GetDC(window);
    HDC drawn = CreateCompatibleDC(screen), expected = CreateCompatibleDC(screen);
    HBITMAP drawnBits = CreateCompatibleBitmap(screen, W, H), expectedBits = CreateCompatibleBitmap(screen, W, H);
    ReleaseDC(window, screen);
    SelectObject(drawn, drawnBits);
    SelectObject(expected, expectedBits);
    RECT all = { 0, 0, W, H };
    for (HDC dc : { drawn, expected }) {
        FillRect(dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
        SelectObject(dc, GraphStyleSet.normalFont);
    }
    PaintGraphLegend(window, drawn, &hand.graph, 2, y);

    TEXTMETRICW metrics = {};
    GetTextMetricsW(expected, &metrics);
    const int A = metrics.tmAveCharWidth;
    SIZE title = {}, plain = {}, bold = {};
    GetTextExtentPoint32W(expected, L"Equity", 6, &title);
    const int nameLength = int(wcslen(wideName));
    GetTextExtentPoint32W(expected, wideName, nameLength, &plain);
    SelectObject(expected, GraphStyleSet.boldFont);
    GetTextExtentPoint32W(expected, wideName, nameLength, &bold);
    SelectObject(expected, GraphStyleSet.normalFont);
    const int rowStart = title.cx + 4 * A + 8, nameX = rowStart + 2 * A;
    TextOutW(expected, nameX, y, wideName, nameLength);

    int differ = 0, ink = 0;
    for (int x = nameX; x < nameX + plain.cx; x++)
        for (int row = y; row < y + metrics.tmHeight; row++) {
            bool a = GetPixel(drawn, x, row) != 0xFFFFFF, b = GetPixel(expected, x, row) != 0xFFFFFF;
            differ += a != b;
            ink += b;
        }
    EXPECT_GT(ink, 0);
    EXPECT_EQ(differ, 0) << "the name's letters";
    /* The second entry's box: its left edge just after the first's width. */
    const int next = rowStart + bold.cx + 4 * A;
    EXPECT_NE(GetPixel(drawn, next, y + 8), 0xFFFFFF);
    EXPECT_EQ(GetPixel(drawn, next - 1, y + 8), 0xFFFFFF);
    DeleteDC(drawn);
    DeleteDC(expected);
    DeleteObject(drawnBits);
    DeleteObject(expectedBits);
}

} // namespace
