/* The optimization heat map painted under Wine: its axis labels are read
** off the picture. */
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "views/res_graph.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_paint.h"

namespace {

struct Picture {
    int width, height;
    std::vector<uint32_t> pixels; /* 0x00RRGGBB, top row first */
    bool Ink(int x, int y) const { return (pixels[(size_t)y * (size_t)width + (size_t)x] & 0xFFFFFF) != 0xFFFFFF; }
};

Picture PaintHeatMap(ResGraphWindow *record, int width, int height, bool bars = false)
{
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, bitmap);
    EXPECT_EQ(1, bars ? RenderResultsBarChart(record, dc, width, height, 0) : RenderResultsHeatMap(record, dc, width, height, 0));
    GdiFlush();
    Picture picture{width, height, std::vector<uint32_t>((const uint32_t *)bits, (const uint32_t *)bits + width * height)};
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return picture;
}

/* Extents of the runs of ink along a line of samples, runs closer than
** three samples counting as one (the letters of one label); with centres,
** where each run's middle is. */
std::vector<int> InkRuns(const std::vector<bool> &ink, std::vector<int> *centres = nullptr)
{
    std::vector<int> runs;
    int start = -1, last = -10;
    for (int i = 0; i < (int)ink.size(); i++) {
        if (!ink[(size_t)i]) continue;
        if (i - last > 3) {
            if (start >= 0) runs.push_back(last - start + 1);
            if (start >= 0 && centres) centres->push_back((start + last) / 2);
            start = i;
        }
        last = i;
    }
    if (start >= 0) runs.push_back(last - start + 1);
    if (start >= 0 && centres) centres->push_back((start + last) / 2);
    return runs;
}

int TextWidth(const char *text)
{
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GraphStyleSet.normalFont ? (HGDIOBJ)GraphStyleSet.normalFont : GetStockObject(DEFAULT_GUI_FONT));
    SIZE size = {};
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &size);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    DeleteDC(dc);
    return text[0] ? size.cx : metrics.tmHeight;
}

} // namespace

/* A 50 x 40 optimization in a window too small for every axis value: the
** values drawn are those that fit, so no two run into each other. */
TEST(ResGraphPaint, HeatMapDrawsOnlyTheAxisLabelsThatFit)
{
    ResetSettingsToDefaults();
    CreateDrawingResources();
    std::vector<ResGraphPoint> points;
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 50; x++)
            points.push_back(ResGraphPoint{.value = 1.0 + x + y, .x = 5.0 + x, .y = 2.0 + y, .xIndex = x, .yIndex = y, .tests = 1});
    ResGraphWindow record = {};
    record.heatMap = 1;
    record.xCount = 50;
    record.yCount = 40;
    record.valueCode = 1;
    record.valueDecimals = -1;
    record.currency = "";
    record.minimum = 1;
    record.maximum = 89;
    record.allIntegers = 1;
    CopyString(record.valueLabel, sizeof record.valueLabel, "Net", -1);
    CopyString(record.xLabel, sizeof record.xLabel, "Len:", -1);
    CopyString(record.yLabel, sizeof record.yLabel, "ExitLen", -1);
    record.points = points.data();
    record.pointCount = (int32_t)points.size();
    const int W = 600, H = 480, T = TextWidth("");
    const Picture picture = PaintHeatMap(&record, W, H);
    /* The cells: the long run of colour across the middle row. */
    int left = 0, right = 0;
    for (int x = 0, run = 0; x < W && !right; x++) {
        run = picture.Ink(x, H / 2) ? run + 1 : 0;
        if (run == 31) left = x - 30;
        if (run == 0 && left) right = x - 1;
    }
    ASSERT_GT(right, left);

    /* The x values: one line of text under the cells. */
    std::vector<bool> across((size_t)W);
    for (int x = left; x <= right; x++)
        for (int y = H - 3 * T / 2; y < H - T / 2; y++) across[(size_t)x] = across[(size_t)x] || picture.Ink(x, y);
    const std::vector<int> labels = InkRuns(across);
    EXPECT_GE(labels.size(), 8u);
    for (int width : labels) EXPECT_LE(width, TextWidth("54") + 1) << "x labels run into each other";

    /* The y values: left of the cells, between the axis names. */
    std::vector<bool> down((size_t)H);
    for (int y = 2 * T; y < H - 2 * T; y++)
        for (int x = 0; x < left - 1; x++) down[(size_t)y] = down[(size_t)y] || picture.Ink(x, y);
    const std::vector<int> rows = InkRuns(down);
    EXPECT_GE(rows.size(), 8u);
    for (int height : rows) EXPECT_LE(height, T) << "y labels run into each other";
}

/* Values 1 to 16 that grow a digit half way: at every width, the heat map
** and the bar chart label every n-th value with the same n all along the
** axis (2, 4, 6, ... 14, 16, never 10, 13, 16), so the labels stand evenly
** apart. */
TEST(ResGraphPaint, AxisLabelsStepEvenly)
{
    ResetSettingsToDefaults();
    CreateDrawingResources();
    std::vector<ResGraphPoint> points;
    for (int x = 0; x < 16; x++)
        points.push_back(ResGraphPoint{.value = 1.0 + x, .x = 1.0 + x, .y = 1, .xIndex = x, .yIndex = 0, .tests = 1});
    ResGraphWindow record = {};
    record.xCount = 16;
    record.yCount = 1;
    record.valueCode = 1;
    record.valueDecimals = -1;
    record.currency = "";
    record.allIntegers = 1;
    CopyString(record.valueLabel, sizeof record.valueLabel, "Net", -1);
    CopyString(record.xLabel, sizeof record.xLabel, "Len:", -1);
    record.points = points.data();
    record.pointCount = (int32_t)points.size();
    /* Drawn under two font sets, the settings' own and a wider, taller
    ** one, as other machines offer: the labels' number follows the room the
    ** text measures, but whatever it is, they step evenly. */
    const DrawStyleSet saved = GraphStyleSet;
    const struct {
        const char *face;
        uint32_t size;
    } fonts[] = {{saved.fontFace, saved.fontSize}, {"Courier New", saved.fontSize + 3}};
    for (const auto &font : fonts) {
        CopyString(GraphStyleSet.fontFace, sizeof GraphStyleSet.fontFace, font.face, -1);
        GraphStyleSet.fontSize = font.size;
        GraphStyleSet.normalFont = GraphStyleSet.boldFont = nullptr;
        CreateScaledFonts(&GraphStyleSet);
        const int T = TextWidth("");
        int roomy = 0; /* widths with room for three labels */
        for (int bars = 0; bars < 2; bars++) {
            record.heatMap = !bars;
            for (int W = 200; W <= 460; W += 10) {
                record.minimum = 1;
                record.maximum = 16;
                const int H = 300;
                const Picture picture = PaintHeatMap(&record, W, H, bars);
                /* The x values: the line under the cells, or the bars' first label line. */
                const int top = bars ? H - 2 * T : H - 3 * T / 2, bottom = top + T;
                std::vector<bool> across((size_t)W);
                for (int x = 0; x < W; x++)
                    for (int y = top; y < bottom; y++) across[(size_t)x] = across[(size_t)x] || picture.Ink(x, y);
                /* Left of the values stands the axis name ("Len:"), right of them
                ** the heat map's legend and its line, which are no values: only
                ** the width of the cells or bars counts. */
                int left = 0, right = W - 1;
                for (int x = 0, run = 0; x < W && !bars; x++) {
                    run = picture.Ink(x, H / 2) ? run + 1 : 0;
                    if (run == 20 && !left) left = x - 19;
                    if (run == 0 && left && right == W - 1) right = x - 1;
                }
                /* The bars start right of the value axis: a line down the picture. */
                for (int x = 0; x < W && bars && !left; x++)
                    if (picture.Ink(x, H / 2) && picture.Ink(x, H / 2 - T) && picture.Ink(x, H / 2 + T)) left = x + 1;
                for (int x = 0; x < W; x++)
                    if (x < (bars ? left : left - TextWidth("16")) || x > right + 3) across[(size_t)x] = false;
                std::vector<int> centres;
                InkRuns(across, &centres);
                /* Where the cells span room for three of the widest values
                ** with a character between, as the text measures, three show. */
                if (right - left + 1 >= 3 * (TextWidth("16") + TextWidth("x"))) {
                    roomy++;
                    ASSERT_GE(centres.size(), 3u)
                        << (bars ? "bars" : "heat map") << " at width " << W << " in " << font.face << " " << font.size;
                }
                std::string at;
                for (int c : centres) at += std::to_string(c) + " ";
                for (size_t k = 2; k < centres.size(); k++)
                    EXPECT_NEAR(centres[k] - centres[k - 1], centres[1] - centres[0], 3)
                        << (bars ? "bars" : "heat map") << " at width " << W << " in " << font.face << " " << font.size
                        << ": label " << k << " of " << at;
            }
        }
        EXPECT_GT(roomy, 8) << font.face << " " << font.size; /* the rule was tried */
        DeleteObject(GraphStyleSet.normalFont);
        DeleteObject(GraphStyleSet.boldFont);
    }
    GraphStyleSet = saved;
}
