/* chart_window.cpp -- chart windows: opening and reusing them, scrolling and
** zooming, keys, the mouse wheel, the bar cursor and the chart commands.  The
** picture itself is painted by views/win32/chart_paint. */
#include "views/win32/view_windows.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/settings_table.h"
#include "marketdata/import/online_import.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "services/services.h"
#include "shell/help_topics.h"
#include "views/chart_geometry.h"
#include "views/chart_series.h"
#include "views/results_rows.h"
#include "views/trade_compare.h"
#include "views/win32/chart_paint.h"
#include "views/win32/draw_resources.h"

static const char kChartClass[] = "KestovarChart";

/* The zoom and scroll that undo the last zoom-to-selection or show-all. */
static struct {
    int32_t zoom, scroll;
    int remembered;
    int pressX;         /* a pending press, -1 none */
    int selecting;      /* a zoom selection is being dragged */
    int selectLeft, selectRight;
    int armedDivider;   /* ChartDivider under the mouse */
    int armedEdge;      /* scroll-thumb edge under the mouse: -1 left, 0 none, 1 right */
    int draggedEdge;    /* the thumb edge being dragged, 0 none */
    int fixedEdgeX;     /* screen x of the thumb edge that stays */
} sChartMouse = { 0, 0, 0, -1, 0, 0, 0, 0, 0, 0, 0 };

static ChartWindow *ChartRecord(HWND window) { return (ChartWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }

static int32_t ChartBarTotal(const ChartWindow *chart)
{
    return chart->symbol ? chart->symbol->barCounts[chart->barSize] : 0;
}

static const Bar *ChartBars(const ChartWindow *chart)
{
    return chart->symbol ? chart->symbol->bars[chart->barSize] : nullptr;
}

/* ---- view --------------------------------------------------------------------------------- */

void UpdateChartScrollBar(ChartWindow *chart)
{
    HWND window = (HWND)chart->window;
    if (!window) return;
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL | SIF_DISABLENOSCROLL;
    info.nMin = 0;
    info.nMax = ChartBarTotal(chart);
    info.nPage = (UINT)(chart->barCount > 0 ? chart->barCount : 0);
    info.nPos = chart->firstBar;
    SetScrollInfo(window, SB_HORZ, &info, TRUE);
}

void ScaleChart(ChartWindow *chart, int32_t zoom, int32_t scroll)
{
    ScaleChartView(chart, ChartBars(chart), ChartBarTotal(chart), zoom, scroll);
    if (!chart->window) return;
    UpdateChartScrollBar(chart);
    InvalidateRect((HWND)chart->window, nullptr, FALSE);
    chart->mouseX = chart->mouseY = -1;
    chart->crossBar = -1;
    sChartMouse.remembered = 0;
}

/* ---- opening ------------------------------------------------------------------------------ */

HWND FindChartWindow(HWND owner)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kChartClass)) {
        ChartWindow *chart = ChartRecord(child);
        if (chart && (HWND)chart->owner == owner) return child;
    }
    return nullptr;
}

void CloseChartWindows(HWND owner)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kChartClass)) {
        ChartWindow *chart = ChartRecord(child);
        if (!owner || (chart && (HWND)chart->owner == owner)) PostMessageA(child, WM_CLOSE, 0, 0);
    }
}

static void FreeChartRecord(ChartWindow **chart)
{
    if (!*chart) return;
    DestroyChartData(*chart);
    FreeMemory(chart);
}

static void SetTitleOf(HWND window, ChartWindow *chart)
{
    const char *strategy = nullptr;
    TestRecord *test = chart->ownerTest;
    if (chart->kind == CHART_KIND_TRADE && chart->tradeLink && test) {
        int32_t s = ((TradeRecord *)chart->tradeLink)->strategy;
        if (s >= 0 && s < test->strategyCount) strategy = test->strategies[s].name;
    }
    SetChartTitle(window, chart, strategy);
    UpdateWindowTab(window);
}

/* The date a trade chart centres on: the exit with ChartAfterExit (the entry
** while the trade is open), else the entry. */
static int32_t TradeChartDate(const TradeRecord *trade)
{
    if (gSettings.ChartAfterExit && trade->dateOut) return trade->dateOut;
    return trade->dateIn;
}

HWND OpenChart(const char *symbolName, int32_t date, int32_t kind, void *tradeLink, HWND owner, TestRecord *ownerTest,
               int showMode, int activate)
{
    gChartOpening = 1;
    /* Without an owner, the chart being worked in (the active one) is the
    ** owner's chart. */
    HWND existing = nullptr;
    if (!owner && gFrame.activeChild && ChartRecord(gFrame.activeChild) &&
        !ChartRecord(gFrame.activeChild)->owner && FindWindowKind(gFrame.activeChild) == WK_CHART)
        existing = gFrame.activeChild;
    if (!existing) existing = FindChartWindow(owner);
    if (existing && ChartRecord(existing)) SaveChartDefaults(ChartRecord(existing));
    int32_t visible = gSettings.ChartVisibleBars;
    const TradeRecord *trade = nullptr;
    if (kind == CHART_KIND_TRADE && tradeLink) trade = (const TradeRecord *)tradeLink;
    if (kind == CHART_KIND_COMPARE && tradeLink) {
        /* The left trade, or the right one of an unpaired row. */
        const CompareSide *sides = ((const CompareRow *)tradeLink)->side;
        trade = sides[COMPARE_LEFT].trade ? sides[COMPARE_LEFT].trade : sides[COMPARE_RIGHT].trade;
        gSettings.ChartShowCursor = 0;
    }
    if (trade) {
        symbolName = trade->symbol;
        date = TradeChartDate(trade);
        int32_t held = trade->bars;
        int32_t extra = gSettings.ChartExtraBars > held / 10 ? gSettings.ChartExtraBars : held / 10;
        int32_t span = (kind == CHART_KIND_COMPARE || gSettings.ChartAfterExit ? held : 0) + extra;
        if (span >= visible) visible = span;
    }
    gChartOpening = 0;
    int32_t barSize = gSettings.ChartBarSize2;
    if (barSize < 0 || barSize >= BAR_SIZE_COUNT) barSize = BAR_DAILY;

    SymbolRecord *symbol = &gStore.calendar;
    if (symbolName && symbolName[0]) {
        int number = FindSymbolIndex(symbolName);
        if (number < 1) {
            ReportError("Symbol '%s' is not in the current data set.", symbolName);
            return nullptr;
        }
        symbol = &gStore.symbols[number - 1];
    }
    if (date == 0) date = symbol->lastDate;
    const DateList *dates = &gStore.dateLists[barSize];
    int at = dates->count > 0 ? FindDateIndex(dates, date, -1) : -1;
    if (at >= 0) date = (int32_t)dates->dates[at];
    if (trade && dates->count > 0) {
        int32_t later = OffsetTradingDate(dates, date, gSettings.ChartExtraBars);
        if (later) date = later;
    }
    Bar *bar = GetBarOnOrBefore(symbol, date, barSize);
    if (!bar) {
        char text[DATE_TEXT_SIZE];
        FormatDate(date, gSettings.DateDisplayFormat, text);
        ReportError("No data is avaliable for %s on %s", symbol->info.Symbol, text);
        return nullptr;
    }
    int32_t barIndex = (int32_t)(bar - symbol->bars[barSize]);
    if (kind != CHART_KIND_SYMBOL && barIndex + 1 < visible) visible = barIndex + 1;

    ChartWindow *chart = nullptr;
    if (!AllocMemory(&chart, sizeof *chart)) return nullptr;
    LoadChartDefaults(chart);
    chart->barSize = chart->loadedBarSize = barSize;
    chart->lastBar = barIndex;
    int32_t total = symbol->barCounts[barSize];
    chart->barCount = visible < 2 ? 2 : visible > total ? total : visible;
    chart->symbol = symbol;
    chart->lastDate = date;
    chart->kind = kind;
    chart->tradeLink = tradeLink;
    chart->owner = owner;
    chart->ownerTest = ownerTest;
    chart->showCursor = 0;
    chart->cursorSlot = chart->barCount - 1;
    chart->mouseX = chart->mouseY = -1;
    chart->crossBar = -1;
    if (!LoadChartSeries(chart, GetChartOwnerData(chart, ownerTest))) {
        FreeChartRecord(&chart);
        return nullptr;
    }
    ScaleChart(chart, 0, 0);

    int width = gSettings.iChartW ? gSettings.iChartW : CW_USEDEFAULT;
    int height = gSettings.iChartH ? gSettings.iChartH : CW_USEDEFAULT;
    HWND window;
    if (showMode < 0) {
        /* A hidden chart drawn once for an image file. */
        window = CreateWindowExA(0, kChartClass, "", WS_OVERLAPPEDWINDOW, 0, 0,
                                 width == CW_USEDEFAULT ? 800 : width, height == CW_USEDEFAULT ? 600 : height,
                                 nullptr, nullptr, gFrame.instance, nullptr);
        if (!window) {
            FreeChartRecord(&chart);
            return nullptr;
        }
        chart->window = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)chart);
        HDC dc = GetDC(window);
        PaintChart(window, dc, chart, GetChartOwnerData(chart, ownerTest));
        ReleaseDC(window, dc);
        DestroyWindow(window);
        return nullptr;
    }
    if (showMode == 1 && existing) {
        window = existing;
        if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
        ChartWindow *old = ChartRecord(window);
        FreeChartRecord(&old);
    } else {
        int x = showMode == 1 && gSettings.iChartW ? gSettings.iChartX : CW_USEDEFAULT;
        int y = showMode == 1 && gSettings.iChartW ? gSettings.iChartY : CW_USEDEFAULT;
        window = CreateMdiChild(kChartClass, "Chart", WS_HSCROLL, x, y, width, height, nullptr);
        if (!window) {
            FreeChartRecord(&chart);
            return nullptr;
        }
    }
    chart->window = window;
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)chart);
    SetTitleOf(window, chart);
    InvalidateRect(window, nullptr, FALSE);
    UpdateChartScrollBar(chart);
    ShowWindow(window, SW_SHOW);
    if (activate) SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
    return window;
}

void ChangeChartSymbol(HWND window, ChartWindow *chart, SymbolRecord *symbol)
{
    MoveChartViewToSymbol(chart, symbol);
    if (!LoadChartSeries(chart, GetChartOwnerData(chart, chart->ownerTest))) FreeChartIndicators(chart);
    ScaleChart(chart, 0, 0);
    SetTitleOf(window, chart);
}

void RefreshAllCharts() { RefreshChartWindows(); }

void RefreshChartWindows()
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, kChartClass)) {
        ChartWindow *chart = ChartRecord(child);
        if (!chart) continue;
        if (!LoadChartSeries(chart, GetChartOwnerData(chart, chart->ownerTest))) FreeChartIndicators(chart);
        ScaleChart(chart, 0, 0);
    }
}

/* ---- cursor and keys --------------------------------------------------------------------------- */

void SetChartCursorAtX(HWND window, int x)
{
    ChartWindow *chart = ChartRecord(window);
    if (!chart) return;
    RECT client;
    GetClientRect(window, &client);
    int32_t slot = ChartIndexFromX(chart, x, client.right);
    if (slot < 0) {
        chart->showCursor = 0;
    } else {
        chart->cursorSlot = slot;
        chart->showCursor = 1;
    }
    InvalidateRect(window, nullptr, FALSE);
}

/* The bar size of a character, or -1. */
static int32_t BarSizeOfKey(int key)
{
    switch (key | 0x20) {
    case 'd': return BAR_DAILY;
    case 'w': return BAR_WEEKLY;
    case 'm': return BAR_MONTHLY;
    case 'q': return BAR_QUARTERLY;
    case 'y': return BAR_YEARLY;
    default: return -1;
    }
}

static void Toggle(HWND window, ChartWindow *chart, uint32_t *option)
{
    *option = !*option;
    SaveChartDefaults(chart);
    InvalidateRect(window, nullptr, FALSE);
}

static void ChartCharacter(HWND window, ChartWindow *chart, int key)
{
    int32_t step = chart->barCount / 10 > 1 ? chart->barCount / 10 : 1;
    int32_t size = BarSizeOfKey(key);
    if (size >= 0) {
        if (size == chart->barSize) return;
        chart->barSize = size;
        SaveChartDefaults(chart);
        OpenChart(chart->symbol == &gStore.calendar ? "" : chart->symbol->info.Symbol, chart->lastDate, chart->kind,
                  chart->tradeLink, (HWND)chart->owner, chart->ownerTest, 1, 1);
        return;
    }
    switch (key) {
    case '+': case '=': ScaleChart(chart, -step, 0); return;
    case '-': case '_': ScaleChart(chart, step, 0); return;
    case '.':
        if (chart->cursorSlot < 0 || chart->cursorSlot >= chart->barCount) chart->cursorSlot = chart->barCount - 1;
        Toggle(window, chart, &chart->showCursor);
        return;
    case 'a': case 'A': {
        int32_t before = chart->barCount;
        ScaleChart(chart, ChartBarTotal(chart), 0);
        sChartMouse.zoom = before - chart->barCount;
        sChartMouse.scroll = 0;
        sChartMouse.remembered = 1;
        return;
    }
    case 'b': case 'B': Toggle(window, chart, &chart->blackBackground); return;
    case 'c': case 'C': Toggle(window, chart, &chart->candlestick); return;
    case 'i': case 'I': Toggle(window, chart, &chart->showIndicatorPane); return;
    case 'l': case 'L': Toggle(window, chart, &chart->logScale); return;
    case 'v': case 'V': Toggle(window, chart, &chart->showVolumePane); return;
    case 'x': case 'X': Toggle(window, chart, &chart->crossHair); return;
    case 'o': case 'O': ChartCommand(window, IDM_CHART_OPTIONS); return;
    case 'j': case 'J': ChartCommand(window, IDM_CHART_JUMP); return;
    case 'g': case 'G':
        /* The calendar pseudo-symbol is no security. */
        if (chart->symbol && chart->symbol != &gStore.calendar) ShowNorgateSecurityInfo(chart->symbol);
        return;
    case 's': case 'S':
        Toggle(window, chart, &chart->splitAdjusted);
        if (!LoadChartSeries(chart, GetChartOwnerData(chart, chart->ownerTest))) FreeChartIndicators(chart);
        ScaleChart(chart, 0, 0);
        return;
    default: return;
    }
}

static void MoveCursorBy(HWND window, ChartWindow *chart, int32_t by)
{
    int32_t slot = chart->cursorSlot + by;
    if (slot < 0) {
        ScaleChart(chart, 0, slot);
        slot = 0;
    } else if (slot >= chart->barCount) {
        ScaleChart(chart, 0, slot - chart->barCount + 1);
        slot = chart->barCount - 1;
    }
    chart->cursorSlot = slot;
    InvalidateRect(window, nullptr, FALSE);
}

static void ChartKeyDown(HWND window, ChartWindow *chart, WPARAM key)
{
    int shift = GetKeyState(VK_SHIFT) < 0;
    switch (key) {
    case VK_BACK: case VK_UP: ChartCommand(window, IDM_CHART_PREVIOUS); return;
    case VK_SPACE: case VK_DOWN: ChartCommand(window, IDM_CHART_NEXT); return;
    case VK_ESCAPE:
        if (sChartMouse.remembered) {
            ScaleChart(chart, sChartMouse.zoom, sChartMouse.scroll);
        } else {
            chart->showCursor = 0;
            SaveChartDefaults(chart);
            InvalidateRect(window, nullptr, FALSE);
        }
        return;
    case VK_PRIOR: ScaleChart(chart, 0, -chart->barCount); return;
    case VK_NEXT: ScaleChart(chart, 0, chart->barCount); return;
    case VK_HOME: ScaleChart(chart, 0, -99999); return;
    case VK_END: ScaleChart(chart, 0, 99999); return;
    case VK_LEFT: case VK_RIGHT: {
        int32_t by = (key == VK_LEFT ? -1 : 1) * (shift ? 10 : 1);
        if (chart->showCursor)
            MoveCursorBy(window, chart, by);
        else
            ScaleChart(chart, 0, by);
        return;
    }
    case 'C':
        if (GetKeyState(VK_CONTROL) < 0) {
            ImageRequest = IMAGE_CLIPBOARD;
            InvalidateRect(window, nullptr, FALSE);
        }
        return;
    default: return;
    }
}

/* Steps the chart to the next or previous loaded symbol (the owner's list
** moves instead while the owner window is alive). */
static void StepSymbol(HWND window, ChartWindow *chart, int by)
{
    HWND owner = (HWND)chart->owner;
    if (owner && IsWindow(owner)) {
        MoveListSelection(owner, by, 1);
        return;
    }
    if (!gStore.symbols || chart->symbol == &gStore.calendar) return;
    int32_t index = (int32_t)(chart->symbol - gStore.symbols) + by;
    if (index < 0 || index >= gStore.symbolCount) return;
    ChangeChartSymbol(window, chart, &gStore.symbols[index]);
}

void ShowChartDataWindow(ChartWindow *chart)
{
    const Bar *bars = ChartBars(chart);
    if (!bars || chart->barCount < 1) return;
    HWND window = GetListWindow();
    if (!window) return;
    HWND view = GetListViewOf(window);
    char text[300];
    FormatText(text, sizeof text, "Chart Data - %s", chart->symbol->info.Symbol);
    SetWindowTitle(window, text);
    FormatText(text, sizeof text, "%s Chart Data", chart->symbol->info.Symbol);
    SetListWindowName(window, text);
    static const char *const kColumns[] = { "Date", "Open", "High", "Low", "Close", "Volume", "Split", "Extra" };
    int columns = 0;
    for (const char *heading : kColumns) AddCentredListColumn(view, columns++, heading);
    for (int32_t s = 0; s < chart->seriesCount; s++)
        if (chart->series[s].pane >= 0) AddCentredListColumn(view, columns++, chart->series[s].name);
    for (int32_t i = 0; i < chart->barCount; i++) {
        int32_t b = chart->firstBar + i;
        int column = AddBarRow(view, i, &bars[b]) + 1;
        for (int32_t s = 0; s < chart->seriesCount; s++) {
            const ChartSeries &series = chart->series[s];
            if (series.pane < 0) continue;
            double value = (uint32_t)b < series.capacity ? series.values[b] : NAN;
            FormatNumber(value, (int32_t)series.displayFormat, (int32_t)series.decimals, 0, nullptr, text);
            SetListCell(view, i, column++, text);
        }
    }
    FinishListWindow(window, view);
}

int ChartCommand(HWND window, int command)
{
    ChartWindow *chart = window ? ChartRecord(window) : nullptr;
    if (!chart) return 0;
    switch (command) {
    case IDM_CHART_NEXT: StepSymbol(window, chart, 1); return 1;
    case IDM_CHART_PREVIOUS: StepSymbol(window, chart, -1); return 1;
    case IDM_CHART_DAILY: ChartCharacter(window, chart, 'd'); return 1;
    case IDM_CHART_WEEKLY: ChartCharacter(window, chart, 'w'); return 1;
    case IDM_CHART_MONTHLY: ChartCharacter(window, chart, 'm'); return 1;
    case IDM_CHART_QUARTERLY: ChartCharacter(window, chart, 'q'); return 1;
    case IDM_CHART_YEARLY: ChartCharacter(window, chart, 'y'); return 1;
    case IDM_CHART_CURSOR: ChartCharacter(window, chart, '.'); return 1;
    case IDM_CHART_CROSS_HAIR: ChartCharacter(window, chart, 'x'); return 1;
    case IDM_CHART_INDICATOR_PANE: ChartCharacter(window, chart, 'i'); return 1;
    case IDM_CHART_VOLUME_PANE: ChartCharacter(window, chart, 'v'); return 1;
    case IDM_CHART_ALL_BARS: ChartCharacter(window, chart, 'a'); return 1;
    case IDM_CHART_BLACK: ChartCharacter(window, chart, 'b'); return 1;
    case IDM_CHART_CANDLES: ChartCharacter(window, chart, 'c'); return 1;
    case IDM_CHART_LOG: ChartCharacter(window, chart, 'l'); return 1;
    case IDM_CHART_SPLIT: ChartCharacter(window, chart, 's'); return 1;
    case IDM_CHART_INFO: ChartCharacter(window, chart, 'g'); return 1;
    case IDM_CHART_REFRESH: RefreshChartWindows(); return 1;
    case IDM_CHART_FORMULAS: {
        char path[PATH_SIZE];
        ColumnScriptPath(SECTION_CHARTS, path);
        OpenScript(path, nullptr);
        return 1;
    }
    case IDM_CHART_DATA: ShowChartDataWindow(chart); return 1;
    case IDM_CHART_JUMP:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_SHOW_CHART), gFrame.frame, ChartChangeSymbolDlgProc, 1);
        return 1;
    case IDM_CHART_OPTIONS:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_CHART_OPTIONS), gFrame.frame, ChartOptionsDlgProc, 0);
        return 1;
    default: return 0;
    }
}

/* ---- mouse ------------------------------------------------------------------------------------ */

void InvalidateChartCursor(HWND window, ChartWindow *chart, int x, int y)
{
    if (chart->mouseX >= 0) InvalidateRect(window, nullptr, FALSE);
    RECT client;
    GetClientRect(window, &client);
    bool inside = x >= 0 && y >= 0 && x < client.right && y < client.bottom;
    if (!chart->crossHair || gFrame.activeChild != window || !inside || chart->barCount < 1) {
        chart->mouseX = chart->mouseY = -1;
        chart->crossBar = -1;
        return;
    }
    if (x == chart->mouseX && y == chart->mouseY) return;
    int32_t slot = ChartIndexFromX(chart, x, client.right);
    chart->crossBar = chart->firstBar + (slot < 0 ? chart->barCount - 1 : slot);
    chart->crossValue = ChartValueAtY(chart, y);
    chart->mouseX = x;
    chart->mouseY = y;
    InvalidateRect(window, nullptr, FALSE);
    TRACKMOUSEEVENT track = { sizeof track, TME_LEAVE, window, 0 };
    TrackMouseEvent(&track);
}

static void InvertBand(HWND window, int left, int right)
{
    RECT client, band;
    GetClientRect(window, &client);
    band = { left < right ? left : right, 0, left < right ? right : left, client.bottom };
    HDC dc = GetDC(window);
    InvertRect(dc, &band);
    ReleaseDC(window, dc);
}

/* The horizontal scroll bar in screen coordinates: its thumb edges and the
** track between the two arrows.  0 when the window has none. */
struct ThumbTrack {
    int thumbLeft, thumbRight, trackLeft, trackRight;
};

static int GetThumbTrack(HWND window, ThumbTrack *track)
{
    SCROLLBARINFO info = {};
    info.cbSize = sizeof info;
    if (!GetScrollBarInfo(window, OBJID_HSCROLL, &info)) return 0;
    if (info.rgstate[0] & (STATE_SYSTEM_INVISIBLE | STATE_SYSTEM_OFFSCREEN)) return 0;
    int left = info.rcScrollBar.left;
    track->thumbLeft = left + info.xyThumbTop;
    track->thumbRight = left + info.xyThumbBottom;
    track->trackLeft = left + info.dxyLineButton;
    track->trackRight = info.rcScrollBar.right - info.dxyLineButton;
    return track->trackRight > track->trackLeft;
}

/* Arms the thumb edge within 5 pixels of the screen x, with its cursor. */
static void ArmThumbEdge(HWND window, int screenX)
{
    ThumbTrack track;
    sChartMouse.armedEdge = 0;
    if (GetThumbTrack(window, &track)) {
        if (std::abs(screenX - track.thumbLeft) <= 5)
            sChartMouse.armedEdge = -1;
        else if (std::abs(screenX - track.thumbRight) <= 5)
            sChartMouse.armedEdge = 1;
    }
    SetCursor(LoadCursorA(nullptr, (LPCSTR)(sChartMouse.armedEdge ? IDC_SIZEWE : IDC_ARROW)));
}

static int StartThumbDrag(HWND window)
{
    ThumbTrack track;
    if (!sChartMouse.armedEdge || !GetThumbTrack(window, &track)) return 0;
    sChartMouse.draggedEdge = sChartMouse.armedEdge;
    sChartMouse.fixedEdgeX = sChartMouse.draggedEdge > 0 ? track.thumbLeft : track.thumbRight;
    sChartMouse.pressX = -1;
    SetCapture(window);
    return 1;
}

/* The thumb's length from the fixed edge to the mouse sets the share of all
** bars in view: the right edge keeps the first bar, the left the last. */
static void DragThumbEdge(HWND window, ChartWindow *chart, int clientX)
{
    ThumbTrack track;
    if (!GetThumbTrack(window, &track)) return;
    POINT p = { clientX, 0 };
    ClientToScreen(window, &p);
    int x = p.x < track.trackLeft ? track.trackLeft : p.x > track.trackRight ? track.trackRight : p.x;
    int length = std::abs(x - sChartMouse.fixedEdgeX);
    int32_t count = (int32_t)((double)length / (track.trackRight - track.trackLeft) * ChartBarTotal(chart));
    int32_t zoom = count - chart->barCount;
    if (zoom == 0) return;
    ScaleChart(chart, zoom, sChartMouse.draggedEdge > 0 ? zoom : 0);
}

static void ChartMouseMove(HWND window, ChartWindow *chart, int x, int y)
{
    if (sChartMouse.draggedEdge) {
        DragThumbEdge(window, chart, x);
        return;
    }
    sChartMouse.armedEdge = 0; /* the mouse is off the scroll bar */
    if (x < 0) x = 0;
    if (sChartMouse.selecting) {
        InvertBand(window, sChartMouse.selectLeft, sChartMouse.selectRight);
        sChartMouse.selectRight = x;
        InvertBand(window, sChartMouse.selectLeft, sChartMouse.selectRight);
        return;
    }
    if (sChartMouse.pressX >= 0 && std::abs(x - sChartMouse.pressX) >= 16) {
        sChartMouse.selecting = 1;
        sChartMouse.selectLeft = sChartMouse.pressX;
        sChartMouse.selectRight = x;
        SetCapture(window);
        InvertBand(window, sChartMouse.selectLeft, sChartMouse.selectRight);
        return;
    }
    RECT client;
    GetClientRect(window, &client);
    int C = client.bottom, cursor = GetSystemMetrics(SM_CYCURSOR);
    if (chart->draggingDivider) {
        if (x < client.right && y >= 0 && y < C && C > 0) {
            if (chart->draggingDivider == CHART_DIVIDER_INDICATOR)
                chart->indicatorPanePercent = (y + cursor / 2) * 100 / C;
            else
                chart->volumePanePercent = (cursor / 2 - y + C) * 100 / C;
            InvalidateRect(window, nullptr, FALSE);
        }
        return;
    }
    int q = cursor / 4;
    sChartMouse.armedDivider = CHART_DIVIDER_NONE;
    if (chart->showIndicatorPane && std::abs(y - (chart->indicatorPaneHeight - q)) <= 5)
        sChartMouse.armedDivider = CHART_DIVIDER_INDICATOR;
    else if (chart->showVolumePane && std::abs(y - (C - chart->volumePaneHeight + q)) <= 5)
        sChartMouse.armedDivider = CHART_DIVIDER_VOLUME;
    SetCursor(LoadCursorA(nullptr, (LPCSTR)(sChartMouse.armedDivider ? IDC_SIZENS : IDC_ARROW)));
    InvalidateChartCursor(window, chart, x, y);
}

/* The first slot at or right of x, or count when none. */
static int32_t SlotAtOrRight(const ChartWindow *chart, int x, int width)
{
    for (int32_t i = 0; i < chart->barCount; i++)
        if (ChartXFromIndex(i, chart->barCount, width) >= x) return i;
    return chart->barCount;
}

static void ChartButtonUp(HWND window, ChartWindow *chart, int x)
{
    if (chart->draggingDivider || sChartMouse.draggedEdge) {
        /* The dragged pane sizes become the defaults of the next chart. */
        chart->draggingDivider = CHART_DIVIDER_NONE;
        sChartMouse.draggedEdge = sChartMouse.armedEdge = 0;
        if (GetCapture() == window) ReleaseCapture();
        SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_ARROW));
        gSettings.ChartIndPanePct = chart->indicatorPanePercent;
        gSettings.ChartVolPanePct = chart->volumePanePercent;
        sChartMouse.pressX = -1;
        InvalidateRect(window, nullptr, FALSE);
        return;
    }
    int pressed = sChartMouse.pressX >= 0, selecting = sChartMouse.selecting;
    sChartMouse.pressX = -1;
    sChartMouse.selecting = 0;
    if (GetCapture() == window) ReleaseCapture();
    if (!pressed && !selecting) return;
    int left = sChartMouse.selectLeft, right = sChartMouse.selectRight;
    if (!selecting || left == right) {
        SetChartCursorAtX(window, x);
        return;
    }
    if (left > right) std::swap(left, right);
    RECT client;
    GetClientRect(window, &client);
    int32_t first = SlotAtOrRight(chart, left, client.right);
    int32_t last = SlotAtOrRight(chart, right, client.right);
    if (first >= chart->barCount) first = 0;
    int32_t zoom = (last - first) - chart->barCount;
    int32_t scroll = (chart->firstBar + last - 1) - chart->lastBar;
    int32_t countBefore = chart->barCount, lastBefore = chart->lastBar;
    ScaleChart(chart, zoom, scroll);
    /* Esc puts the view back as it was. */
    sChartMouse.zoom = countBefore - chart->barCount;
    sChartMouse.scroll = lastBefore - chart->lastBar;
    sChartMouse.remembered = 1;
}

/* ---- window procedure ---------------------------------------------------------------------------- */

static void ChartScrollMessage(ChartWindow *chart, WPARAM wParam)
{
    switch (LOWORD(wParam)) {
    case SB_LINELEFT: ScaleChart(chart, 0, -1); break;
    case SB_LINERIGHT: ScaleChart(chart, 0, 1); break;
    case SB_PAGELEFT: ScaleChart(chart, 0, -chart->barCount); break;
    case SB_PAGERIGHT: ScaleChart(chart, 0, chart->barCount); break;
    case SB_THUMBTRACK: ScaleChart(chart, 0, (int32_t)HIWORD(wParam) - chart->firstBar); break;
    case SB_ENDSCROLL: sChartMouse.pressX = -1; break;
    default: break;
    }
}

static void ChartWheel(ChartWindow *chart, WPARAM wParam)
{
    int32_t d = GET_WHEEL_DELTA_WPARAM(wParam) > 0 ? 1 : -1;
    if (chart->wheelScroll == 1) d = -d;
    int32_t tenth = chart->barCount / 10;
    if (GET_KEYSTATE_WPARAM(wParam) & MK_CONTROL)
        ScaleChart(chart, -d * (tenth > 1 ? tenth : 1), 0);
    else if (GET_KEYSTATE_WPARAM(wParam) & MK_SHIFT)
        ScaleChart(chart, 0, d * tenth);
    else
        ScaleChart(chart, 0, d);
}

LRESULT CALLBACK ChartWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    ChartWindow *chart = ChartRecord(window);
    switch (message) {
    case WM_CREATE: sChartMouse.armedEdge = sChartMouse.draggedEdge = 0; break;
    case WM_NCMOUSEMOVE:
        if (wParam == HTHSCROLL && !sChartMouse.draggedEdge) {
            ArmThumbEdge(window, (short)LOWORD(lParam));
            if (sChartMouse.armedEdge) return 0;
        }
        break;
    case WM_NCLBUTTONDOWN:
        if (chart && wParam == HTHSCROLL && StartThumbDrag(window)) return 0;
        break;
    case WM_NCLBUTTONUP:
        if (chart && sChartMouse.draggedEdge) {
            ChartButtonUp(window, chart, 0);
            return 0;
        }
        break;
    case WM_SETCURSOR:
        /* The resize cursor of an armed thumb edge stays while it is armed. */
        if (LOWORD(lParam) == HTHSCROLL && sChartMouse.armedEdge) return TRUE;
        break;
    case WM_DESTROY:
        if (chart) {
            FreeChartRecord(&chart);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        break;
    case WM_SIZE:
        if (GetParent(window) == gFrame.mdiClient) TrackChildMaximized(window, wParam);
        [[fallthrough]];
    case WM_MOVE:
        if (GetParent(window) == gFrame.mdiClient && !IsZoomed(window) && !IsIconic(window)) {
            RECT r;
            GetWindowRect(window, &r);
            MapWindowPoints(nullptr, gFrame.mdiClient, (POINT *)&r, 2);
            gSettings.iChartX = r.left;
            gSettings.iChartY = r.top;
            gSettings.iChartW = r.right - r.left;
            gSettings.iChartH = r.bottom - r.top;
        }
        if (chart) UpdateChartScrollBar(chart);
        break;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        if (chart) PaintChart(window, dc, chart, GetChartOwnerData(chart, chart->ownerTest));
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_HELP:
        OpenHelp(HELP_TOPIC_CHART_WINDOW);
        gFrame.helpAnswered = 1;
        return TRUE;
    case WM_MDIACTIVATE: OnMdiChildActivate(window, (HWND)wParam, (HWND)lParam); break;
    case WM_HSCROLL:
        if (chart) ChartScrollMessage(chart, wParam);
        return 0;
    case WM_MOUSEWHEEL:
        if (chart) ChartWheel(chart, wParam);
        return 0;
    case WM_KEYDOWN:
        if (chart) ChartKeyDown(window, chart, wParam);
        return 0;
    case WM_CHAR:
        if (chart) ChartCharacter(window, chart, (int)wParam);
        return 0;
    case WM_LBUTTONDOWN:
        SetFocus(window);
        sChartMouse.selecting = 0;
        if (chart && sChartMouse.armedDivider) {
            chart->draggingDivider = sChartMouse.armedDivider;
            SetCapture(window);
            return 0;
        }
        sChartMouse.pressX = (short)LOWORD(lParam);
        return 0;
    case WM_MOUSEMOVE:
        if (chart) ChartMouseMove(window, chart, (short)LOWORD(lParam), (short)HIWORD(lParam));
        return 0;
    case WM_MOUSELEAVE:
        if (chart) InvalidateChartCursor(window, chart, -1, -1);
        return 0;
    case WM_LBUTTONUP:
        if (chart) ChartButtonUp(window, chart, (short)LOWORD(lParam));
        return 0;
    default: break;
    }
    if (GetParent(window) != gFrame.mdiClient) return DefWindowProcA(window, message, wParam, lParam);
    return DefMDIChildProcA(window, message, wParam, lParam);
}
