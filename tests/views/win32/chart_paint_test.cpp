/* Charts painted to PNG under Wine, checked at key pixels. */
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "support/test_support.h"
#include "views/chart_geometry.h"
#include "views/chart_series.h"
#include "views/win32/chart_paint.h"
#include "views/win32/draw_resources.h"
#include "views/win32/png_image.h"

namespace {

/* 20 daily bars: even bars rise (open 100+i, close 101+i), odd bars fall
** (open 102+i, close 99+i), so every odd bar closes below the bar before. */
struct HandSymbol {
    std::vector<Bar> bars;
    SymbolRecord record = {};
    HandSymbol(int count)
    {
        bars.resize(size_t(count) + 1);
        for (int i = 0; i < count; i++) {
            Bar &b = bars[size_t(i)];
            b = {};
            b.date = 20240102 + i;
            bool up = i % 2 == 0;
            b.open = up ? 100 + i : 102 + i;
            b.close = up ? 101 + i : 99 + i;
            b.high = up ? 102 + i : 103 + i;
            b.low = up ? 99 + i : 98 + i;
            b.volume = 1000 + 100 * i;
            b.split = 1;
        }
        record.bars[BAR_DAILY] = bars.data();
        record.barCounts[BAR_DAILY] = count;
        record.firstUsedDate = 20240102;
        CopyString(record.info.Symbol, sizeof record.info.Symbol, "HAND", -1);
    }
};

struct ChartPaintTest : ::testing::Test {
    HWND window = nullptr;
    ChartWindow chart = {};
    std::vector<double> lineValues;
    std::vector<ChartPoint> linePoints;

    static void SetUpTestSuite()
    {
        ResetSettingsToDefaults();
        CreateDrawingResources();
    }

    void Open(SymbolRecord *symbol, int width, int height)
    {
        window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, width, height, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(window, nullptr);
        LoadChartDefaults(&chart);
        chart.symbol = symbol;
        chart.barSize = BAR_DAILY;
        chart.logScale = 0;
        chart.candlestick = 1;
        chart.blackBackground = 0;
        chart.upColour = RGB(255, 255, 255);
        chart.downColour = RGB(0, 0, 0);
        chart.showIndicatorPane = 0;
        chart.showVolumePane = 1;
        chart.mouseX = chart.mouseY = -1;
        chart.crossBar = -1;
        chart.barCount = symbol->barCounts[BAR_DAILY];
        chart.lastBar = chart.barCount - 1;
    }

    /* One price-pane line of value 90 + i, without a value on bar 5. */
    void AddLine(int count)
    {
        lineValues.assign(size_t(count), 0);
        linePoints.assign(size_t(count), ChartPoint{});
        for (int i = 0; i < count; i++) lineValues[size_t(i)] = i == 5 ? NAN : 90 + i;
        ASSERT_TRUE(AllocMemory(&chart.series, sizeof(ChartSeries)));
        chart.seriesCount = chart.seriesCapacity = 1;
        ChartSeries &s = chart.series[0];
        s.values = lineValues.data();
        s.points = linePoints.data();
        s.capacity = uint32_t(count);
        s.pane = CHART_PANE_PRICE;
        s.displayFormat = 1;
        s.decimals = 2;
        CopyString(s.name, sizeof s.name, "Line", -1);
    }

    /* Paints into a PNG under the test folder and keeps its pixels. */
    std::string PaintToPng(const char *name)
    {
        std::string path = TestProgramFolder() + "\\" + name;
        DeleteFileA(path.c_str());
        CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
        ImageRequest = IMAGE_SAVE_PNG;
        HDC dc = GetDC(window);
        PaintChart(window, dc, &chart, nullptr);
        ReleaseDC(window, dc);
        EXPECT_EQ(ImageRequest, IMAGE_NONE);
        return path;
    }

    void TearDown() override
    {
        if (chart.series) {
            chart.series[0].values = nullptr;
            chart.series[0].points = nullptr;
            FreeMemory(&chart.series);
            chart.seriesCapacity = 0;
        }
        DestroyChartData(&chart);
        if (window) DestroyWindow(window);
    }
};

TEST_F(ChartPaintTest, BarsVolumeAndLinesLandWhereTheMappingsPutThem)
{
    HandSymbol symbol(20);
    Open(&symbol.record, 640, 400);
    AddLine(20);
    ScaleChartView(&chart, symbol.bars.data(), 20, 0, 0);
    EXPECT_EQ(chart.priceMin, 90);  /* the line's lowest value */
    EXPECT_EQ(chart.priceMax, 122); /* bar 19's high */
    PngImage png;
    ASSERT_TRUE(ReadPngImage(PaintToPng("chart_paint_test.png"), &png));

    const ChartGeometry &g = gChartGeometry;
    int w = gChartBarHalfWidth;
    ASSERT_GE(w, 4);
    struct Probe {
        const char *what;
        int bar;
        int dx;      /* from the bar's x */
        int where;   /* 0 body middle, 1 bottom of the volume pane */
        long colour; /* 0xRRGGBB */
    } probes[] = {
        { "falling body filled in the down colour", 7, w / 2, 0, 0x000000 },
        { "rising body hollow in the up colour", 8, w / 2, 0, 0xFFFFFF },
        { "rising volume bar green", 8, 0, 1, 0x008000 },
        { "falling volume bar red", 7, 0, 1, 0xFF0000 },
    };
    for (const Probe &p : probes) {
        const Bar &bar = symbol.bars[size_t(p.bar)];
        int x = ChartXFromIndex(p.bar - chart.firstBar, chart.barCount, g.clientWidth);
        int y = p.where == 0 ? (ChartYFromValue(bar.open, &chart, g.clientHeight) +
                                ChartYFromValue(bar.close, &chart, g.clientHeight)) / 2
                             : g.clientHeight - 2;
        EXPECT_EQ(png.At(x + p.dx, y), p.colour) << p.what;
    }
    /* The line in chart style 0, with a gap where bar 5 has no value. */
    long style0 = 27 << 16 | 88 << 8 | 124;
    EXPECT_EQ(png.At(linePoints[10].x, linePoints[10].y), style0);
    int gapX = (linePoints[4].x + linePoints[6].x) / 2, gapY = (linePoints[4].y + linePoints[6].y) / 2;
    EXPECT_NE(png.At(gapX, gapY), style0);
    EXPECT_EQ(png.At(1, 1), 0xFFFFFF);
}

TEST_F(ChartPaintTest, TooSmallOrBarlessChartsPaintBlank)
{
    struct Case {
        const char *name;
        int bars, width, height;
    } cases[] = {
        { "window too small for the panes", 20, 60, 50 },
        { "symbol without bars at the bar size", 0, 300, 200 },
    };
    for (const Case &c : cases) {
        HandSymbol symbol(c.bars);
        Open(&symbol.record, c.width, c.height);
        ScaleChartView(&chart, symbol.bars.data(), c.bars, 0, 0);
        PngImage png;
        ASSERT_TRUE(ReadPngImage(PaintToPng("chart_paint_blank.png"), &png)) << c.name;
        for (int y = 0; y < c.height; y += 7)
            for (int x = 0; x < c.width; x += 5) ASSERT_EQ(png.At(x, y), 0xFFFFFF) << c.name << " " << x << "," << y;
        DestroyChartData(&chart);
        DestroyWindow(window);
        window = nullptr;
        chart = {};
    }
}

} // namespace

namespace {

TEST_F(ChartPaintTest, TradeMarksCircleEntryAndExitInTheStrategyColour)
{
    HandSymbol symbol(20);
    Open(&symbol.record, 640, 400);
    TradeRecord trade = {};
    CopyString(trade.symbol, sizeof trade.symbol, "HAND", -1);
    trade.side = 1;
    trade.dateIn = symbol.bars[5].date;
    trade.dateOut = symbol.bars[12].date;
    trade.priceIn = 104;
    trade.priceOut = 112;
    trade.quantityIn = trade.quantityOut = 100;
    trade.splitIn = trade.splitOut = 1;
    trade.bars = 7;
    trade.reason = 1;
    chart.kind = CHART_KIND_TRADE;
    chart.tradeLink = &trade;
    chart.entryExitLine = 1;
    ScaleChartView(&chart, symbol.bars.data(), 20, 0, 0);
    PngImage png;
    ASSERT_TRUE(ReadPngImage(PaintToPng("chart_paint_trade.png"), &png));
    const ChartGeometry &g = gChartGeometry;
    COLORREF c = GraphStyleSet.styles[1].colour;
    long style = long(GetRValue(c)) << 16 | GetGValue(c) << 8 | GetBValue(c);
    struct Mark {
        const char *what;
        int bar;
        double price;
    } marks[] = { { "entry", 5, 104 }, { "exit", 12, 112 } };
    for (const Mark &m : marks) {
        int x = ChartXFromIndex(m.bar, chart.barCount, g.clientWidth);
        int y = ChartYFromValue(m.price, &chart, g.clientHeight);
        EXPECT_EQ(png.At(x, y - 3), style) << m.what;
        EXPECT_EQ(png.At(x, y + 3), style) << m.what;
    }
}

} // namespace
