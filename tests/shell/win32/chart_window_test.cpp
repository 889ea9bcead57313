#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "frame_fixture.h"
#include "marketdata/store/symbols.h"
#include "support/test_support.h"
#include "views/chart_geometry.h"
#include "records/chart_record.h"
#include "views/chart_series.h"
#include "views/trade_compare.h"
#include "views/win32/draw_resources.h"
#include "shell/win32/editor_host.h"

#include <Scintilla.h>

namespace {

ChartWindow *Record(HWND window) { return (ChartWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }

std::string Title(HWND window)
{
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

} // namespace

TEST_F(FrameTest, ChartOpensScrollsZoomsAndRefusesUnknownSymbols)
{
    ChartStore store;
    gSettings.ChartVisibleBars = 40;
    gSettings.ChartBarSize2 = BAR_DAILY;
    DialogWatcher::Clear();
    EXPECT_EQ(OpenChart("ZZZ", 0, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, 0, 1), nullptr);
    EXPECT_TRUE(SeenText("Symbol 'ZZZ' is not in the current data set."));

    HWND window = OpenChart("BBB", 0, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, 0, 1);
    ASSERT_NE(window, nullptr);
    Pump();
    EXPECT_EQ(Title(window), "Chart - BBB");
    EXPECT_EQ(TabTitle(window), "BBB Chart"); // the tab names the kind's own subject
    ChartWindow *chart = Record(window);
    ASSERT_NE(chart, nullptr);
    // The Chart menu shows the chart's own state.
    UpdateFrameMenus(gFrame.frame, 1);
    HMENU menu = GetMenu(gFrame.frame);
    EXPECT_EQ(MenuItemText(menu, IDM_CHART_INDICATOR_PANE), chart->showIndicatorPane ? "Hide &Indicator Pane\tI" : "Show &Indicator Pane\tI");
    EXPECT_TRUE(MenuItemChecked(menu, IDM_CHART_DAILY));
    EXPECT_FALSE(MenuItemChecked(menu, IDM_CHART_WEEKLY));
    EXPECT_EQ(chart->lastBar, 99);
    EXPECT_EQ(chart->barCount, 40);
    struct Step {
        const char *what;
        UINT message;
        WPARAM key;
        int32_t firstBar, barCount;
    } steps[] = {
        { "Home goes to the first bars", WM_KEYDOWN, VK_HOME, 0, 40 },
        { "Right scrolls one bar", WM_KEYDOWN, VK_RIGHT, 1, 40 },
        { "Page Down scrolls a view", WM_KEYDOWN, VK_NEXT, 41, 40 },
        { "'+' zooms in by a tenth, keeping the last bar", WM_CHAR, '+', 45, 36 },
        { "'a' shows every bar", WM_CHAR, 'a', 0, 100 },
        { "Esc brings back the view before", WM_KEYDOWN, VK_ESCAPE, 64, 36 },
        { "End goes to the last bars", WM_KEYDOWN, VK_END, 64, 36 },
    };
    for (const Step &s : steps) {
        SendMessageA(window, s.message, s.key, 0);
        EXPECT_EQ(chart->firstBar, s.firstBar) << s.what;
        EXPECT_EQ(chart->barCount, s.barCount) << s.what;
    }
    /* A forward wheel turn scrolls forward, or back with "Up=Back". */
    SendMessageA(window, WM_KEYDOWN, VK_HOME, 0);
    SendMessageA(window, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_EQ(chart->firstBar, 1);
    chart->wheelScroll = 1;
    SendMessageA(window, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_EQ(chart->firstBar, 0);
    SendMessageA(window, WM_KEYDOWN, VK_END, 0);
    ASSERT_EQ(chart->firstBar, 64);

    /* A drag of 16 pixels or more zooms to the slots it covers; Esc undoes
    ** it.  A shorter one is a click that places the bar cursor. */
    UpdateWindow(window);
    RECT client;
    GetClientRect(window, &client);
    auto slotX = [&](int slot) { return ChartXFromIndex(slot, chart->barCount, client.right); };
    int x10 = slotX(10), x20 = slotX(20), x5 = slotX(5);
    ASSERT_GE(x20 - x10, 16);
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x10, 50));
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x20, 50));
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x20, 50));
    EXPECT_EQ(chart->firstBar, 74);
    EXPECT_EQ(chart->barCount, 10);
    SendMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(chart->firstBar, 64);
    EXPECT_EQ(chart->barCount, 36);
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x5, 50));
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x5 + 10, 50));
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(x5, 50));
    EXPECT_EQ(chart->barCount, 36);
    EXPECT_EQ(chart->showCursor, 1u);
    EXPECT_EQ(chart->cursorSlot, 5);

    /* Dragging the volume pane's divider up to the middle makes that pane
    ** about half the window, also for the next chart. */
    UpdateWindow(window);
    int quarter = GetSystemMetrics(SM_CYCURSOR) / 4;
    int dividerY = client.bottom - chart->volumePaneHeight + quarter;
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(100, dividerY));
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, dividerY));
    SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, client.bottom / 2));
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(100, client.bottom / 2));
    EXPECT_GE(chart->volumePanePercent, 50);
    EXPECT_LE(chart->volumePanePercent, 60);
    EXPECT_EQ(gSettings.ChartVolPanePct, chart->volumePanePercent);
    EXPECT_EQ(chart->firstBar, 64) << "a divider drag is no zoom";
    EXPECT_EQ(chart->barCount, 36);

    SendMessageA(window, WM_CHAR, 'c', 0);
    EXPECT_EQ(gSettings.ChartCandlestick, int32_t(chart->candlestick)) << "a toggle sets the default too";

    /* Show Data lists the visible bars: the first row is bar 64. */
    EXPECT_EQ(ChartCommand(window, IDM_CHART_DATA), 1);
    HWND list = FindWindowExA(gFrame.mdiClient, nullptr, "KestovarList", nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(Title(list), "Chart Data - BBB");
    HWND view = GetListViewOf(list);
    EXPECT_EQ(ListView_GetItemCount(view), 36);
    char close[32] = "";
    ListView_GetItemText(view, 0, 4, close, sizeof close);
    EXPECT_STREQ(close, "62"); /* 50 + 10 + (64 mod 7) + 1 */
    /* A reused List window shows the new bars only. */
    gSettings.ReuseListWindows = 1;
    chart->firstBar = 70;
    chart->barCount = 30;
    EXPECT_EQ(ChartCommand(window, IDM_CHART_DATA), 1);
    EXPECT_EQ(CountChildren("KestovarList"), 1);
    EXPECT_EQ(ListView_GetItemCount(view), 30);
    ListView_GetItemText(view, 0, 4, close, sizeof close);
    EXPECT_STREQ(close, "61"); /* 50 + 10 + (70 mod 7) + 1 */
    ListView_GetItemText(view, 29, 4, close, sizeof close);
    EXPECT_STREQ(close, "62"); /* bar 99: 50 + 10 + (99 mod 7) + 1 */
    gSettings.ReuseListWindows = 0;
    SendMessageA(list, WM_CLOSE, 0, 0);

    /* The options dialog lists the chart colours by their keys; its OK
    ** rebuilds the pens at the line width and reopens the chart in place. */
    gSettings.ChartLineWidth = 3;
    DialogWatcher::Clear();
    DialogWatcher::Answer(IDOK);
    EXPECT_EQ(ChartCommand(window, IDM_CHART_OPTIONS), 1);
    Pump();
    EXPECT_TRUE(SeenText("Chart Options"));
    EXPECT_EQ(ChartStyleSet.penWidth, 3u);
    LOGPEN pen = {};
    ASSERT_TRUE(GetObjectA(ChartStyleSet.styles[3].pen, sizeof pen, &pen));
    EXPECT_EQ(pen.lopnWidth.x, 3);
    EXPECT_EQ(CountChildren("KestovarChart"), 1);
    chart = Record(window);
    ASSERT_NE(chart, nullptr);
    SendMessageA(window, WM_CLOSE, 0, 0);
    Pump();
}

TEST_F(FrameTest, NextSymbolStepsThroughTheLoadedSymbolsAndStopsAtTheLast)
{
    ChartStore store;
    HWND window = OpenChart("AAA", 0, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, 0, 1);
    ASSERT_NE(window, nullptr);
    const char *expected[] = { "Chart - BBB", "Chart - CCC", "Chart - CCC" };
    for (const char *title : expected) {
        SendMessageA(window, WM_KEYDOWN, VK_SPACE, 0);
        EXPECT_EQ(Title(window), title);
    }
    SendMessageA(window, WM_KEYDOWN, VK_UP, 0);
    EXPECT_EQ(Title(window), "Chart - BBB");

    /* Jump to Symbol changes this chart; the frame's Show Chart opens a new
    ** one on the first symbol. */
    DialogWatcher::Clear();
    DialogWatcher::Answer(IDOK);
    EXPECT_EQ(ChartCommand(window, IDM_CHART_JUMP), 1);
    EXPECT_TRUE(SeenText("Change Chart Symbol"));
    EXPECT_EQ(CountChildren("KestovarChart"), 1);
    DialogWatcher::Clear();
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_SHOW_CHART, 0);
    Pump();
    EXPECT_TRUE(SeenText("Show Chart"));
    EXPECT_EQ(CountChildren("KestovarChart"), 2);
    EXPECT_EQ(Title(gFrame.activeChild), "Chart - AAA");
    SendMessageA(gFrame.activeChild, WM_CLOSE, 0, 0);
    SendMessageA(window, WM_CLOSE, 0, 0);
    Pump();
}

TEST_F(FrameTest, HiddenChartWritesItsImageAndLeavesNoWindow)
{
    ChartStore store;
    std::string path = File("hidden_chart.png");
    CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
    ImageRequest = IMAGE_SAVE_PNG;
    EXPECT_EQ(OpenChart("CCC", 0, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, -1, 0), nullptr);
    EXPECT_EQ(ImageRequest, IMAGE_NONE);
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(CountChildren("KestovarChart"), 0);
    EXPECT_EQ(FindWindowA("KestovarChart", nullptr), nullptr);
}

namespace {

INT_PTR CALLBACK ColorListOnly(HWND dialog, UINT message, WPARAM, LPARAM)
{
    if (message == WM_INITDIALOG) SetupColorList(dialog, &GraphStyleSet, GraphColorKey);
    if (message == WM_DESTROY) DetachEditor(dialog);
    return message == WM_INITDIALOG;
}

} // namespace

TEST_F(FrameTest, ColorListShowsEachStyleInItsColourWithAMarker)
{
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_GRAPH_OPTIONS), gFrame.frame, ColorListOnly, 0);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, IDC_VIEW_COLOR_LIST);
    char text[1024] = "";
    SendMessageA(list, WM_GETTEXT, sizeof text, (LPARAM)text);
    std::string lines = text;
    EXPECT_EQ(lines.substr(0, 49), "Combined Stats Color _________\r\nStrategy 1 Color ");
    struct Line {
        int line;
        int style;
    } checks[] = { { 0, 0 }, { 2, 2 }, { 9, 9 } };
    for (const Line &c : checks) {
        intptr_t start = SendMessageA(list, SCI_POSITIONFROMLINE, (WPARAM)c.line, 0);
        EXPECT_EQ(SendMessageA(list, SCI_GETSTYLEAT, (WPARAM)start + 2, 0), c.style) << c.line;
        EXPECT_EQ(SendMessageA(list, SCI_MARKERGET, (WPARAM)c.line, 0) & 1, 1) << c.line;
        EXPECT_EQ((COLORREF)SendMessageA(list, SCI_STYLEGETFORE, (WPARAM)c.style, 0), GraphStyleSet.styles[c.style].colour);
    }
    EXPECT_EQ(SendMessageA(list, SCI_GETREADONLY, 0, 0), 1);
    DestroyWindow(dialog);
}

TEST_F(FrameTest, TradeChartEndsItsExtraBarsAfterTheExitOrEntry)
{
    ChartStore store;
    DateList saved = gStore.dateLists[BAR_DAILY];
    std::vector<uint32_t> dates;
    for (int i = 0; i < 100; i++) dates.push_back(uint32_t(store.bars[0][size_t(i)].date));
    dates.push_back(0);
    gStore.dateLists[BAR_DAILY] = DateList{ dates.data(), 101, 100, BAR_DAILY, 0 };
    TestRecord *test = ReadTestRecord(nullptr, 0, 1, 1, 0);
    ASSERT_NE(test, nullptr);
    CopyString(test->strategies[0].name, sizeof test->strategies[0].name, "Breakout", -1);
    TradeRecord trade = {};
    CopyString(trade.symbol, sizeof trade.symbol, "AAA", -1);
    trade.side = 1;
    trade.dateIn = store.bars[0][20].date;
    trade.dateOut = store.bars[0][40].date;
    trade.bars = 20;
    trade.quantityIn = trade.quantityOut = 100;
    trade.priceIn = 55;
    trade.priceOut = 57;
    gSettings.ChartVisibleBars = 40;
    gSettings.ChartExtraBars = 10;
    struct Case {
        int32_t afterExit, lastBar, barCount;
    } cases[] = { { 1, 50, 40 }, { 0, 30, 31 } };
    for (const Case &c : cases) {
        gSettings.ChartAfterExit = c.afterExit;
        HWND window = OpenChart("", 0, CHART_KIND_TRADE, &trade, nullptr, test, 0, 1);
        ASSERT_NE(window, nullptr);
        ChartWindow *chart = Record(window);
        EXPECT_EQ(chart->lastBar, c.lastBar) << c.afterExit;
        EXPECT_EQ(chart->barCount, c.barCount) << c.afterExit;
        EXPECT_EQ(Title(window), "Trade - Breakout - AAA");
        UpdateWindow(window); /* the trade marks paint */
        SendMessageA(window, WM_CLOSE, 0, 0);
        Pump();
    }
    FreeTestRecord(nullptr, test);
    gStore.dateLists[BAR_DAILY] = saved;
}

TEST_F(FrameTest, ListChartsItsRowAndTheChartFollowsTheList)
{
    ChartStore store;
    std::string csv = File("symbols.csv");
    ASSERT_TRUE(WriteTestFile(csv, "Symbol,Value\r\nAAA,1\r\nBBB,2\r\nCCC,3\r\n"));
    ASSERT_TRUE(OpenCsvAsList("Symbols", csv.c_str()));
    Pump();
    HWND list = FindWindowExA(gFrame.mdiClient, nullptr, "KestovarList", nullptr);
    ASSERT_NE(list, nullptr);
    ChartListRow(list);
    HWND chart = FindChartWindow(list);
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(Title(chart), "Chart - AAA");
    /* Next Symbol moves the list's selection, and the owned chart follows it. */
    EXPECT_EQ(ChartCommand(chart, IDM_CHART_NEXT), 1);
    Pump();
    EXPECT_EQ(FindChartWindow(list), chart);
    EXPECT_EQ(Title(chart), "Chart - BBB");
    EXPECT_EQ(CountChildren("KestovarChart"), 1);
    SendMessageA(chart, WM_CLOSE, 0, 0);
    SendMessageA(list, WM_CLOSE, 0, 0);
    Pump();
}

TEST_F(FrameTest, DraggingAScrollThumbEdgeZoomsKeepingTheOtherEnd)
{
    ChartStore store;
    gSettings.ChartVisibleBars = 40;
    gSettings.ChartBarSize2 = BAR_DAILY;
    /* Half the track is half of the 100 bars; the dragged edge decides which
    ** end of the view stays. */
    struct Case {
        const char *what;
        int edge; /* -1 left, 1 right */
        int32_t firstBar, lastBar;
    } cases[] = {
        { "right edge keeps the first bar", 1, 30, 79 },
        { "left edge keeps the last bar", -1, 20, 69 },
    };
    for (const Case &c : cases) {
        HWND window = OpenChart("AAA", 0, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, 0, 1);
        ASSERT_NE(window, nullptr);
        ChartWindow *chart = Record(window);
        SendMessageA(window, WM_HSCROLL, MAKEWPARAM(SB_THUMBTRACK, 30), 0);
        ASSERT_EQ(chart->firstBar, 30);
        ASSERT_EQ(chart->lastBar, 69);
        UpdateWindow(window);
        SCROLLBARINFO info = {};
        info.cbSize = sizeof info;
        ASSERT_TRUE(GetScrollBarInfo(window, OBJID_HSCROLL, &info));
        int trackLeft = info.rcScrollBar.left + info.dxyLineButton;
        int track = info.rcScrollBar.right - info.dxyLineButton - trackLeft;
        int edgeX = info.rcScrollBar.left + (c.edge > 0 ? info.xyThumbBottom : info.xyThumbTop);
        int fixedX = info.rcScrollBar.left + (c.edge > 0 ? info.xyThumbTop : info.xyThumbBottom);
        int y = (info.rcScrollBar.top + info.rcScrollBar.bottom) / 2;
        /* Within 5 pixels of the edge arms it; the press starts the drag. */
        SendMessageA(window, WM_NCMOUSEMOVE, HTHSCROLL, MAKELPARAM(edgeX + c.edge * 3, y));
        ASSERT_EQ(SendMessageA(window, WM_NCLBUTTONDOWN, HTHSCROLL, MAKELPARAM(edgeX + c.edge * 3, y)), 0);
        ASSERT_EQ(GetCapture(), window) << c.what;
        /* The mouse half a track away from the fixed edge, plus a pixel so the
        ** truncation lands on 50. */
        POINT p = { fixedX + c.edge * (track / 2 + 1), y };
        ScreenToClient(window, &p);
        SendMessageA(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(p.x, p.y));
        SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
        EXPECT_EQ(GetCapture(), nullptr);
        EXPECT_EQ(chart->barCount, 50) << c.what;
        EXPECT_EQ(chart->firstBar, c.firstBar) << c.what;
        EXPECT_EQ(chart->lastBar, c.lastBar) << c.what;
        SendMessageA(window, WM_CLOSE, 0, 0);
        Pump();
    }
}

TEST_F(FrameTest, CompareChartShowsTheLeftTradeOrTheRightOfAnUnpairedRow)
{
    ChartStore store;
    DateList saved = gStore.dateLists[BAR_DAILY];
    std::vector<uint32_t> dates;
    for (int i = 0; i < 100; i++) dates.push_back(uint32_t(store.bars[0][size_t(i)].date));
    dates.push_back(0);
    gStore.dateLists[BAR_DAILY] = DateList{ dates.data(), 101, 100, BAR_DAILY, 0 };
    TestRecord *left = ReadTestRecord(nullptr, 0, 1, 1, 0), *right = ReadTestRecord(nullptr, 0, 1, 1, 0);
    ASSERT_TRUE(left && right);
    auto makeTrade = [&](const char *symbol, int in, int out) {
        TradeRecord t = {};
        CopyString(t.symbol, sizeof t.symbol, symbol, -1);
        t.side = 1;
        t.dateIn = store.bars[0][size_t(in)].date;
        t.dateOut = store.bars[0][size_t(out)].date;
        t.bars = out - in;
        t.quantityIn = t.quantityOut = 100;
        t.priceIn = 55;
        t.priceOut = 57;
        return t;
    };
    TradeRecord leftTrade = makeTrade("BBB", 10, 30), rightTrade = makeTrade("CCC", 40, 70);
    gSettings.ChartVisibleBars = 20;
    gSettings.ChartExtraBars = 5;
    gSettings.ChartAfterExit = 1;
    gSettings.ChartShowCursor = 1;
    /* The view ends 5 trading days after the exit and spans the trade's bars
    ** plus the extra ones when that is more than the visible bars. */
    struct Case {
        const char *what;
        bool withLeft;
        const char *title;
        int32_t lastBar, barCount;
    } cases[] = {
        { "a paired row charts the left trade", true, "Compare - BBB", 35, 25 },
        { "an unpaired row charts the right trade", false, "Compare - CCC", 75, 35 },
    };
    for (const Case &c : cases) {
        CompareRow row = {};
        row.side[COMPARE_LEFT] = { left, c.withLeft ? &leftTrade : nullptr, 0, 0 };
        row.side[COMPARE_RIGHT] = { right, &rightTrade, 0, 0 };
        HWND window = OpenChart("", 0, CHART_KIND_COMPARE, &row, nullptr, nullptr, 0, 1);
        ASSERT_NE(window, nullptr) << c.what;
        ChartWindow *chart = Record(window);
        EXPECT_EQ(Title(window), c.title) << c.what;
        EXPECT_EQ(chart->lastBar, c.lastBar) << c.what;
        EXPECT_EQ(chart->barCount, c.barCount) << c.what;
        EXPECT_EQ(GetChartOwnerData(chart, nullptr), left) << c.what; /* the row's left test */
        EXPECT_EQ(gSettings.ChartShowCursor, 0) << c.what;
        UpdateWindow(window); /* both trades' marks paint */
        SendMessageA(window, WM_CLOSE, 0, 0);
        Pump();
    }
    FreeTestRecord(nullptr, left);
    FreeTestRecord(nullptr, right);
    gStore.dateLists[BAR_DAILY] = saved;
}

/* The symbol box lists each symbol with its data file's name by the name's
** letters (two-, three- and four-byte), and a picked symbol fills the box
** with its own. */
TEST_F(FrameTest, TheSymbolBoxShowsNamesByTheirLetters)
{
    ChartStore store({"AAA", "\xC3\x84" "BC"});
    CopyString(gStore.symbols[0].info.Name, sizeof gStore.symbols[0].info.Name,
               "Z\xC3\xBC" "rich \xE2\x82\xAC\xE6\x9D\xB1 \xF0\x9F\x98\x80", -1);
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_SHOW_CHART), gFrame.frame,
                                     ChartChangeSymbolDlgProc, 0);
    ASSERT_NE(dialog, nullptr);
    HWND list = GetDlgItem(dialog, IDC_VIEW_SYMBOL_LIST);
    WCHAR line[100] = L"";
    ASSERT_LT(SendMessageW(list, LB_GETTEXTLEN, 0, 0), 100);
    SendMessageW(list, LB_GETTEXT, 0, (LPARAM)line);
    EXPECT_STREQ((const WCHAR *)u"AAA\tZ\u00FCrich \u20AC\u6771 \U0001F600", line);
    SendMessageW(list, LB_SETCURSEL, 1, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_VIEW_SYMBOL_LIST, LBN_SELCHANGE), (LPARAM)list);
    WCHAR typed[40] = L"";
    GetDlgItemTextW(dialog, IDC_VIEW_SYMBOL_EDIT, typed, 40);
    EXPECT_STREQ((const WCHAR *)u"\u00C4BC", typed);
    SendMessageW(list, LB_SETCURSEL, 0, 0);
    if (getenv("KV_SCREENSHOT_HOLD")) ShowWindow(dialog, SW_SHOW);
    HoldForScreenshot();
    DestroyWindow(dialog);
}
