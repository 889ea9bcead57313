#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "views/res_graph.h"
#include "views/trade_plot.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_paint.h"
#include "foundation/text_match.h"
#include "support/test_support.h"

namespace {

/* Where the pictures of a colour lie: count, centre and extent. */
struct Blob {
    int count = 0;
    double cx = 0, cy = 0;
    int left = 1 << 30, right = -1, top = 1 << 30, bottom = -1;
};

Blob Find(const PictureDC &p, uint32_t colour)
{
    Blob b;
    for (int y = 0; y < p.height; y++)
        for (int x = 0; x < p.width; x++)
            if (PicturePixel(&p, x, y) == colour) {
                b.count++;
                b.cx += x;
                b.cy += y;
                if (x < b.left) b.left = x;
                if (x > b.right) b.right = x;
                if (y < b.top) b.top = y;
                if (y > b.bottom) b.bottom = y;
            }
    if (b.count) {
        b.cx /= b.count;
        b.cy /= b.count;
    }
    return b;
}

/* A painted picture, saved as a PNG into a folder of its own that goes away
** with it: the test checks the save, and the pictures do not pile up where
** the tests run. */
struct Picture {
    TempFolder folder;
    PictureDC p{};
    Picture(int w, int h)
    {
        CreateDrawingResources();
        HDC screen = GetDC(nullptr);
        EXPECT_EQ(CreatePictureDC(&p, screen, w, h), 1);
        ReleaseDC(nullptr, screen);
    }
    ~Picture() { ReleasePictureDC(&p); }
    void Save(const char *name)
    {
        const std::string path = folder.File(name);
        CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
        EXPECT_EQ(SaveBitmapImage(p.bitmap), S_OK) << name;
        EXPECT_EQ(ReadTestFile(path).substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << name;
    }
};

/* One strategy with trades of the given dollar profits (10 shares at 10). */
struct Trades {
    TestRecord test{};
    StrategyResult strategy{};
    PlotWindow *record = nullptr;
    explicit Trades(const std::vector<double> &profits, int32_t kind)
    {
        test.testNumber = 1;
        test.strategyCount = 1;
        test.strategies = &strategy;
        strcpy(strategy.name, "Main");
        for (double profit : profits) {
            TradeRecord *t = AddTrade(&test);
            t->side = 1;
            t->dateIn = 20200102;
            t->dateOut = 20200103;
            t->priceIn = 10;
            t->priceOut = 10 + profit / 10;
            t->quantityIn = t->quantityOut = 10;
            t->splitIn = t->splitOut = t->fxIn = t->fxOut = t->pointValue = t->fraction = 1;
            t->highest = t->priceOut > 10 ? t->priceOut : 10;
            t->lowest = t->priceOut < 10 ? t->priceOut : 10;
        }
        AllocMemory(&record, sizeof *record);
        record->test = &test;
        record->kind = kind;
        record->samples = 10;
        record->shown = 2;
        record->distributionBuckets = 10;
        record->equalCountBins = 2;
        record->rangeIncrement = 1;
        EXPECT_EQ(CalcTradePlotData(record), 1);
    }
    ~Trades()
    {
        FreePlotWindow(record);
        FreeMemory(&test.trades);
    }
};

/* A results graph of n points valued from min to max, Net by A (and B when
** it has rows). */
ResGraphWindow ResGraph(ResGraphPoint *points, int32_t n, double min, double max, int32_t xCount, int32_t yCount)
{
    ResGraphWindow r{};
    r.points = points;
    r.pointCount = n;
    r.minimum = min;
    r.maximum = max;
    r.xCount = xCount;
    r.yCount = yCount;
    r.valueCode = 2;
    strcpy(r.valueLabel, "Net");
    strcpy(r.xLabel, "A:");
    if (yCount) strcpy(r.yLabel, "B");
    return r;
}

/* Ink drawn left of a picture's origin or right of its width, found by
** drawing it 50 pixels in from the left of a wider white bitmap; inspect,
** when given, sees the bitmap first. */
int InkOutside(int W, int H, const std::function<int(HDC)> &render,
               const std::function<void(Picture &)> &inspect = nullptr)
{
    Picture pic(W + 100, H);
    RECT all = {0, 0, W + 100, H};
    FillRect(pic.p.dc, &all, (HBRUSH)GetStockObject(WHITE_BRUSH));
    POINT before;
    SetViewportOrgEx(pic.p.dc, 50, 0, &before);
    EXPECT_EQ(render(pic.p.dc), 1);
    SetViewportOrgEx(pic.p.dc, before.x, before.y, nullptr);
    if (inspect) inspect(pic);
    int ink = 0;
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W + 100; x++)
            if (x < 50 || x >= 50 + W) ink += PicturePixel(&pic.p, x, y) != PLOT_WHITE;
    return ink;
}

TEST(PlotPaint, ScatterPlacesGainsAboveLossesInTradeOrder)
{
    Trades t({100, -50}, PLOT_SCATTER);
    t.record->trend = 1;
    Picture pic(600, 400);
    ASSERT_EQ(RenderTradePlot(t.record, pic.p.dc, 600, 400, 0), 1);
    pic.Save("plot_scatter.png");
    Blob gain = Find(pic.p, PLOT_GREEN), loss = Find(pic.p, PLOT_RED);
    /* each a disc of radius 3 */
    EXPECT_GE(gain.count, 20);
    EXPECT_LE(gain.right - gain.left, 8);
    EXPECT_GE(loss.count, 20);
    EXPECT_LT(gain.cx, loss.cx);
    EXPECT_LT(gain.cy, loss.cy);
    /* the trend line through both */
    EXPECT_GT(Find(pic.p, PLOT_MAGENTA).count, 100);
    EXPECT_EQ(PicturePixel(&pic.p, 599, 399), PLOT_WHITE);
}

TEST(PlotPaint, EveryKindDrawsItsBody)
{
    struct Case {
        int32_t kind;
        uint32_t colour; /* a colour only the body uses */
        const char *file;
    } cases[] = {
        {PLOT_PROFIT_DISTRIBUTION, PLOT_GREEN, "plot_distribution.png"},
        {PLOT_EXCURSION_DISTRIBUTION, PLOT_RED, "plot_excursions.png"},
        {PLOT_CUMULATIVE, PLOT_DARK_GREY, "plot_cumulative.png"},
        {PLOT_MC_PROFITS, PLOT_BLACK, "plot_mc_profits.png"},
        {PLOT_MC_DRAWDOWNS, PLOT_BLACK, "plot_mc_drawdowns.png"},
        {PLOT_EQUAL_COUNT_BINS, PLOT_GREEN, "plot_count_bins.png"},
        {PLOT_EQUAL_RANGE_BINS, PLOT_RED, "plot_range_bins.png"},
    };
    for (const Case &c : cases) {
        Trades t({100, -50, 30, -20, 60, 10}, c.kind);
        Picture pic(600, 400);
        ASSERT_EQ(RenderTradePlot(t.record, pic.p.dc, 600, 400, 0), 1) << c.file;
        pic.Save(c.file);
        EXPECT_GT(Find(pic.p, c.colour).count, 20) << c.file;
    }
    /* Monte Carlo profits: the backtest curve is 3 pixels wide in black and
    ** the 2 best and 2 worst samples take four other colours. */
    Trades mc({100, -50, 30, -20, 60, 10}, PLOT_MC_PROFITS);
    Picture pic(600, 400);
    RenderTradePlot(mc.record, pic.p.dc, 600, 400, 0);
    int coloured = 0;
    for (int k = 0; k < 4; k++) coloured += Find(pic.p, GraphStyleSet.styles[k].colour).count > 10;
    EXPECT_GE(coloured, 3);
}

TEST(PlotPaint, BottomLabelsStayInsideThePicture)
{
    /* 2000 trades in two bins: the last boundary's label "2000" sits at the
    ** right end of the axis. */
    Trades t(std::vector<double>(2000, 10), PLOT_EQUAL_COUNT_BINS);
    int nearEdge = 0;
    EXPECT_EQ(0, InkOutside(600, 400, [&](HDC dc) { return RenderTradePlot(t.record, dc, 600, 400, 0); }, [&](Picture &pic) {
                  pic.Save("plot_bin_labels.png");
                  for (int y = 351; y < 400; y++)
                      for (int x = 50 + 560; x < 50 + 600; x++) nearEdge += PicturePixel(&pic.p, x, y) == PLOT_BLACK;
              }));
    EXPECT_GT(nearEdge, 10) << "the last label is drawn, moved in";
}

TEST(PlotPaint, TinyWindowStaysWhite)
{
    Trades t({100, -50}, PLOT_SCATTER);
    Picture pic(40, 30);
    EXPECT_EQ(RenderTradePlot(t.record, pic.p.dc, 40, 30, 0), 0);
    EXPECT_EQ(Find(pic.p, PLOT_GREEN).count, 0);
}

/* A heat map of 3 by 2 cells with values straddling 0. */
TEST(PlotPaint, HeatMapAndBarChartColourTheirCells)
{
    ResGraphPoint points[6] = {
        {-10, 1, 1, 0, 0, 1}, {0, 2, 1, 1, 0, 1}, {10, 3, 1, 2, 0, 1},
        {5, 1, 2, 0, 1, 1},   {-5, 2, 2, 1, 1, 1}, {0, 3, 2, 2, 1, 0},
    };
    ResGraphWindow r = ResGraph(points, 6, -10, 10, 3, 2);
    Picture heat(600, 400);
    ASSERT_EQ(RenderResultsHeatMap(&r, heat.p.dc, 600, 400, 0), 1);
    heat.Save("resgraph_heatmap.png");
    Blob red = Find(heat.p, 0x0000FF), green = Find(heat.p, 0x00FF00);
    ASSERT_GT(red.count, 500);
    ASSERT_GT(green.count, 500);
    /* -10 is the left cell of the lower row, +10 the right one; the legend's
    ** colour bar ends in both colours on the right, so compare the cells by
    ** their left edges. */
    EXPECT_LT(red.left, green.left);

    /* Bars of 5, 10 and 20 from 0: black, green 85, pure green. */
    ResGraphPoint bars[3] = {{5, 1, 0, 0, -1, 1}, {10, 2, 0, 1, -1, 1}, {20, 3, 0, 2, -1, 1}};
    ResGraphWindow b = ResGraph(bars, 3, 5, 20, 0, 0);
    b.allIntegers = 1;
    Picture chart(600, 400);
    ASSERT_EQ(RenderResultsBarChart(&b, chart.p.dc, 600, 400, 0), 1);
    chart.Save("resgraph_bars.png");
    EXPECT_EQ(b.minimum, 0); /* the axis takes in 0 */
    Blob mid = Find(chart.p, 85 << 8), top = Find(chart.p, 0x00FF00);
    ASSERT_GT(mid.count, 100);
    ASSERT_GT(top.count, 100);
    EXPECT_LT(mid.cx, top.cx);
    EXPECT_GT(mid.top, top.top); /* 10 stands lower than 20 */
    EXPECT_EQ(mid.bottom, top.bottom);
    EXPECT_GT(Find(chart.p, 0x000000).count, 200); /* the bar of 5 is black */
}

TEST(PlotPaint, ResultsGraphLabelsStayInsideThePicture)
{
    /* A heat map whose second variable has long values: they are written
    ** right-aligned in the left margin, which must hold them whole. */
    ResGraphPoint cells[4] = {
        {1, 1, 0.000125, 0, 0, 1}, {2, 2, 0.000125, 1, 0, 1}, {3, 1, 0.000375, 0, 1, 1}, {4, 2, 0.000375, 1, 1, 1}};
    ResGraphWindow heat = ResGraph(cells, 4, 1, 4, 2, 2);
    EXPECT_EQ(0, InkOutside(600, 400, [&](HDC dc) { return RenderResultsHeatMap(&heat, dc, 600, 400, 0); }));

    /* A narrow bar chart whose last bar has a long label. */
    ResGraphPoint points[10];
    for (int i = 0; i < 10; i++) points[i] = {double(i + 1), i < 9 ? double(i + 1) : 0.000123456, 0, i, -1, 1};
    ResGraphWindow bars = ResGraph(points, 10, 1, 10, 0, 0);
    bars.allIntegers = 1;
    EXPECT_EQ(0, InkOutside(250, 300, [&](HDC dc) { return RenderResultsBarChart(&bars, dc, 250, 300, 0); }));
}

} // namespace
