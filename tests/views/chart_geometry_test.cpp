#include "views/chart_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "marketdata/store/symbols.h"

namespace {

/* H 16, L 17, R 83, T 34, B 34, C 600, W 1000: the price pane spans 532
** pixels from y 34 to y 566, the bar area 900 pixels from x 17. */
void SetGeometry()
{
    gChartGeometry = ChartGeometry{.labelHeight = 16, .leftMargin = 17, .rightMargin = 83, .priceTop = 34, .priceBottom = 34, .clientHeight = 600, .clientWidth = 1000};
}

TEST(ChartGeometry, BarsMapToSlotsAndBack)
{
    SetGeometry();
    EXPECT_EQ(ChartXFromIndex(0, 100, 1000), 17);
    EXPECT_EQ(ChartXFromIndex(50, 100, 1000), 467);
    EXPECT_EQ(ChartXFromIndex(99, 100, 1000), 908);
    EXPECT_EQ(ChartXFromIndex(1, 3, 1000), 317);
    EXPECT_EQ(ChartXFromIndex(5, 0, 1000), 0);

    ChartWindow chart{};
    chart.barCount = 3; /* slots at 17, 317, 617; half a slot is 150 */
    const struct {
        int32_t x, slot;
    } cases[] = {
        {0, 0},
        {17, 0},
        {167, 0},
        {168, 1},
        {467, 1},
        {468, 2},
        {767, 2},
        {768, -1},
    };
    for (const auto &c : cases) EXPECT_EQ(ChartIndexFromX(&chart, c.x, 1000), c.slot) << c.x;
    chart.barCount = 0;
    EXPECT_EQ(ChartIndexFromX(&chart, 100, 1000), -1);
}

TEST(ChartGeometry, ValuesMapToPanes)
{
    SetGeometry();
    EXPECT_EQ(ChartYFromValueMain(100, 100, 200, 600), 566);
    EXPECT_EQ(ChartYFromValueMain(200, 100, 200, 600), 34);
    EXPECT_EQ(ChartYFromValueMain(150, 100, 200, 600), 300);
    EXPECT_EQ(ChartYFromValueMain(7, 5, 5, 600), 300);

    ChartWindow chart{};
    chart.logScale = 1;
    chart.priceMin = 10;
    chart.priceMax = 1000;
    EXPECT_EQ(ChartYFromValue(10, &chart, 600), 566);
    EXPECT_EQ(ChartYFromValue(1000, &chart, 600), 34);
    chart.priceMin = 0; /* no logarithm of 0: the linear mapping */
    chart.priceMax = 200;
    EXPECT_EQ(ChartYFromValue(100, &chart, 600), 300);

    /* Indicator pane of height 200: span 200 - 64 = 136, offset 8. */
    EXPECT_EQ(ChartPaneYFromValue(0, 0, 100, 200), 144);
    EXPECT_EQ(ChartPaneYFromValue(100, 0, 100, 200), 8);
    EXPECT_EQ(ChartPaneYFromValue(50, 0, 100, 200), 76);
    EXPECT_EQ(ChartPaneYFromValue(50, 3, 3, 200), 100);

    /* Volume pane of height 150: k = 118, y = 118 - v * 118 / 1000 - 8 + 482. */
    EXPECT_EQ(ChartLowerPaneYFromValue(0, 0, 1000, 150), 592);
    EXPECT_EQ(ChartLowerPaneYFromValue(1000, 0, 1000, 150), 474);
    EXPECT_EQ(ChartLowerPaneYFromValue(500, 0, 1000, 150), 533);
    EXPECT_EQ(ChartLowerPaneYFromValue(500, 9, 9, 150), 525);
    EXPECT_EQ(ChartLowerPaneOffsetFromValue(500, 0, 1000, 150), 67);
    EXPECT_EQ(ChartLowerPaneOffsetFromValue(500, 9, 9, 150), 75);
    /* A value far off the range pins instead of overflowing the conversion. */
    EXPECT_EQ(ChartYFromValueMain(1e300, 0, 1, 600), -1000000000);
}

/* The cross hair reads the value of the pixel row under the pointer, the
** row the value is painted on, in both scales.  Worked by hand for the
** geometry above: the price pane maps 532 rows, linear over 100 .. 200 row y
** holds the values above 100 + (565 - y) / 5.32 up to 100 + (566 - y) / 5.32,
** and log over 10 .. 1000 those above 10 x 100^((565 - y) / 532) up to
** 10 x 100^((566 - y) / 532). */
TEST(ChartGeometry, TheCrossHairReadsTheRowUnderThePointer)
{
    SetGeometry();
    ChartWindow chart{};
    const struct {
        int logScale;
        double min, max;
        int y;
        double above, upTo;
    } cases[] = {
        {0, 100, 200, 300, 149.8120, 150.0000}, {0, 100, 200, 34, 199.8120, 200.0000},
        {0, 100, 200, 565, 100.0000, 100.1880}, {0, 100, 200, 433, 124.8120, 125.0000},
        {1, 10, 1000, 300, 99.1381, 100.0000},  {1, 10, 1000, 34, 991.3810, 1000.0000},
        {1, 10, 1000, 565, 10.0000, 10.0870},   {1, 10, 1000, 167, 313.5022, 316.2278},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << (c.logScale ? "log" : "linear") << " row " << c.y);
        chart.logScale = c.logScale;
        chart.priceMin = c.min;
        chart.priceMax = c.max;
        const double value = ChartValueAtY(&chart, c.y);
        EXPECT_GT(value, c.above);
        EXPECT_LE(value, c.upTo);
    }
    /* Every row of the pane, in both scales: the value read is painted on it. */
    for (int logScale : {0, 1}) {
        chart.logScale = logScale;
        chart.priceMin = 10;
        chart.priceMax = 1000;
        for (int y = 34; y < 566; y++) EXPECT_EQ(y, ChartYFromValue(ChartValueAtY(&chart, y), &chart, 600)) << y;
    }
    /* So in the indicator pane (200 high: rows 8 to 144 above the price
    ** pane) and the volume pane (150 below it, less a label: rows 490 to
    ** 592). */
    gChartGeometry.priceTop = 200;
    gChartGeometry.priceBottom = 150;
    chart.showIndicatorPane = chart.showVolumePane = 1;
    chart.indicatorMin = -3;
    chart.indicatorMax = 7;
    chart.volumeMin = 0;
    chart.volumeMax = 1e6;
    for (int y = 8; y <= 144; y++) EXPECT_EQ(y, ChartPaneYFromValue(ChartValueAtY(&chart, y), -3, 7, 200)) << y;
    for (int y = 490; y <= 592; y++)
        EXPECT_EQ(y, ChartLowerPaneYFromValue(ChartValueAtY(&chart, y), 0, 1e6, 150 - 16)) << y;
}

TEST(ChartGeometry, PriceScaleSteps)
{
    /* clang-format off */
    const struct { double low, high; int32_t room; double step, first; int32_t decimals; } cases[] = {
        { 100, 200, 10, 10, 100, 0 },
        { 1.0, 1.0625, 5, 0.02, 1.0, 2 },
        { 0, 1, 4, 0.3, 0, 2 },
        { 0.000001, 0.000002, 10, 1e-7, 0.000001, 6 },
        { 0, 1e12, 5, 2e11, 0, 0 },
        { -15, 85, 10, 10, -10, 0 },
        { 5, 5.000001, 10, 1, 5, 0 },      /* equal within the loose tolerance */
        { 0, 100, 0, 1, 0, 0 },            /* no room for a label */
    };
    /* clang-format on */
    for (const auto &c : cases) {
        ChartScale s = ChartPriceScale(c.low, c.high, c.room);
        EXPECT_NEAR(s.step, c.step, c.step * 1e-12) << c.low << " " << c.high;
        EXPECT_NEAR(s.first, c.first, c.step * 1e-9) << c.low << " " << c.high;
        EXPECT_EQ(s.decimals, c.decimals) << c.low << " " << c.high;
    }
}

TEST(ChartGeometry, PaneScaleStepsAndLabels)
{
    /* clang-format off */
    const struct { double min, max; int32_t room, integers, wholeStart; double step, first; std::vector<double> labels; } cases[] = {
        { 0, 100, 4, 0, 0, 25, 100, { 75, 50, 25 } },
        { -30, 70, 5, 0, 0, 25, 0, { 0, 25, 50, -25 } },
        { 0.25, 0.5, 2, 0, 0, 0.125, 0.125, { 0.125, 0.25, 0.375 } },  /* start 0 above 0 becomes one step */
        { 0, 1, 5, 1, 0, 1, 0, { 0 } },                                /* whole numbers: start at max moves to min */
        { 0, 1000, 4, 1, 1, 250, 0, { 0, 250, 500, 750 } },
    };
    /* clang-format on */
    for (const auto &c : cases) {
        ChartScale s = ChartPaneScale(c.min, c.max, c.room, c.integers, c.wholeStart);
        EXPECT_DOUBLE_EQ(s.step, c.step) << c.min << " " << c.max;
        EXPECT_DOUBLE_EQ(s.first, c.first) << c.min << " " << c.max;
        double out[16];
        int32_t n = ChartPaneLabels(&s, c.min, c.max, out, 16);
        EXPECT_EQ(std::vector<double>(out, out + n), c.labels) << c.min << " " << c.max;
    }
}

TEST(ChartGeometry, PaneHeightsAndBarWidth)
{
    /* clang-format off */
    const struct { int32_t ind, vol, showInd, showVol, dragging, room, indOut, volOut, indH, volH; } cases[] = {
        { 30, 70, 1, 1, CHART_DIVIDER_NONE, 1000, 20, 70, 200, 700 },
        { 95, 5, 1, 0, CHART_DIVIDER_NONE, 500, 90, 10, 450, 50 },
        { 95, 30, 1, 1, CHART_DIVIDER_INDICATOR, 1000, 60, 30, 600, 300 },
        { 50, 60, 1, 1, CHART_DIVIDER_VOLUME, 1000, 50, 40, 500, 400 },
        { 0, 0, 0, 0, CHART_DIVIDER_NONE, 333, 10, 10, 33, 33 },
    };
    /* clang-format on */
    for (const auto &c : cases) {
        int32_t ind = c.ind, vol = c.vol, indH = -1, volH = -1;
        ChartPaneHeights(&ind, &vol, c.showInd, c.showVol, c.dragging, c.room, &indH, &volH);
        EXPECT_EQ(ind, c.indOut);
        EXPECT_EQ(vol, c.volOut);
        EXPECT_EQ(indH, c.indH);
        EXPECT_EQ(volH, c.volH);
    }
    SetGeometry();
    EXPECT_EQ(ChartBarHalfWidth(100, 1000), 3);
    EXPECT_EQ(ChartBarHalfWidth(1000, 1000), 2);
}

TEST(ChartGeometry, DateAxis)
{
    /* clang-format off */
    const struct { int32_t days, width, barSize, interval; } intervals[] = {
        { 365, 1000, BAR_DAILY, 1 },
        { 3650, 1000, BAR_MONTHLY, 12 },
        { 3650, 1000, BAR_QUARTERLY, 2 },
        { 36500, 1000, BAR_WEEKLY, 96 },
        { 10, 1, BAR_DAILY, 12 },      /* no room at all still ends */
    };
    /* clang-format on */
    for (const auto &c : intervals)
        EXPECT_EQ(ChartDateLabelInterval(c.days, c.width, c.barSize), c.interval) << c.days;

    EXPECT_EQ(ChartBarPeriod(20240515, BAR_DAILY), 5);
    EXPECT_EQ(ChartBarPeriod(20240515, BAR_QUARTERLY), 2);
    EXPECT_EQ(ChartBarPeriod(20240515, BAR_YEARLY), 2024);
    EXPECT_EQ(ChartDateLabelDue(5, 2, BAR_DAILY), 1);
    EXPECT_EQ(ChartDateLabelDue(6, 2, BAR_DAILY), 0);
    EXPECT_EQ(ChartDateLabelDue(2023, 5, BAR_YEARLY), 1);

    /* clang-format off */
    const struct { int32_t date, barSize, shortNames; const char *text; } labels[] = {
        { 20240115, BAR_MONTHLY, 0, "'24" },
        { 20240515, BAR_DAILY, 0, "May" },
        { 20240515, BAR_WEEKLY, 1, "M" },
        { 20240815, BAR_QUARTERLY, 0, "Jul" },
        { 20050215, BAR_QUARTERLY, 0, "'05" },
        { 19990630, BAR_YEARLY, 0, "'99" },
    };
    /* clang-format on */
    for (const auto &c : labels) {
        char text[16];
        FormatChartDateLabel(c.date, c.barSize, c.shortNames, text, sizeof text);
        EXPECT_STREQ(text, c.text) << c.date;
    }
}

/* Ten bars: high 10 + i, low 5 + i, volume 100 (i + 1); the last bar carries
** a 2:1 split factor. */
std::vector<Bar> TenBars()
{
    std::vector<Bar> bars;
    for (int i = 0; i < 10; i++)
        bars.push_back(Bar{20240102 + i, 0, 8.0 + i, 10.0 + i, 5.0 + i, 9.0 + i, 100.0 * (i + 1), 0, i == 9 ? 2.0 : 1.0});
    return bars;
}

TEST(ChartGeometry, ViewZoomsScrollsAndClamps)
{
    std::vector<Bar> bars = TenBars();
    ChartWindow chart{};
    chart.barCount = 5;
    chart.lastBar = 9;
    ScaleChartView(&chart, bars.data(), 10, -10, 0); /* one bar asked: two shown */
    EXPECT_EQ(chart.barCount, 2);
    EXPECT_EQ(chart.visibleBars, 2);
    EXPECT_EQ(chart.firstBar, 8);
    EXPECT_EQ(chart.lastDate, 20240111);
    ScaleChartView(&chart, bars.data(), 10, 0, -100);
    EXPECT_EQ(chart.firstBar, 0);
    EXPECT_EQ(chart.lastBar, 1);
    ScaleChartView(&chart, bars.data(), 10, 100, 0);
    EXPECT_EQ(chart.barCount, 10);
    EXPECT_EQ(chart.lastBar, 9);
    EXPECT_EQ(chart.firstDate, 20240102);

    chart.barCount = 100; /* a single bar shows that one bar */
    chart.showCursor = 1;
    chart.cursorSlot = 3;
    ScaleChartView(&chart, bars.data(), 1, 2, 1);
    EXPECT_EQ(chart.barCount, 1);
    EXPECT_EQ(chart.firstBar, 0);
    EXPECT_EQ(chart.lastBar, 0);
    EXPECT_EQ(chart.cursorSlot, 4);
}

TEST(ChartGeometry, ViewOfSymbolWithoutBarsIsBlank)
{
    ChartWindow chart{};
    chart.barCount = 100;
    chart.lastBar = 50;
    ScaleChartView(&chart, nullptr, 0, 0, 0);
    EXPECT_EQ(chart.barCount, 0);
    EXPECT_EQ(chart.firstBar, 0);
    EXPECT_EQ(chart.lastBar, -1);
    EXPECT_EQ(chart.firstDate, 0);
    EXPECT_EQ(ChartIndexFromX(&chart, 100, 1000), -1);
}

TEST(ChartGeometry, ViewRangesFromBarsAndSeries)
{
    std::vector<Bar> bars = TenBars();
    double indicator[10], hidden[10];
    for (int i = 0; i < 10; i++) {
        indicator[i] = 3.0;
        hidden[i] = 1000.0;
    }
    indicator[9] = NAN;
    ChartSeries series[2] = {};
    series[0].values = indicator;
    series[0].capacity = 10;
    series[0].pane = CHART_PANE_INDICATOR;
    series[0].displayFormat = 1;
    series[1].values = hidden; /* no display format: not drawn, widens nothing */
    series[1].capacity = 10;
    series[1].pane = CHART_PANE_PRICE;

    ChartWindow chart{};
    chart.series = series;
    chart.seriesCount = 2;
    chart.splitAdjusted = 1;
    chart.barCount = 2;
    chart.lastBar = 9;
    ScaleChartView(&chart, bars.data(), 10, 0, 0);
    /* bar 8: high 18, low 13; bar 9 halved: high 9.5, low 7; volume 900 and 1000 x 2 */
    EXPECT_DOUBLE_EQ(chart.priceMin, 7);
    EXPECT_DOUBLE_EQ(chart.priceMax, 18);
    EXPECT_DOUBLE_EQ(chart.volumeMin, 900);
    EXPECT_DOUBLE_EQ(chart.volumeMax, 2000);
    EXPECT_DOUBLE_EQ(chart.indicatorMin, 3);
    EXPECT_DOUBLE_EQ(chart.indicatorMax, 3);

    chart.splitAdjusted = 0;
    chart.anyVolumeSeries = 1; /* volume formulas own the volume range */
    ScaleChartView(&chart, bars.data(), 10, 0, 0);
    EXPECT_DOUBLE_EQ(chart.priceMin, 13);
    EXPECT_DOUBLE_EQ(chart.priceMax, 19);
    EXPECT_DOUBLE_EQ(chart.volumeMin, 1e14);
    EXPECT_DOUBLE_EQ(chart.volumeMax, -1e14);
}

} // namespace
