/* plot_window.cpp -- the trade plot window: opening, keys and commands,
** painting with its image requests, the cross hair and the report plots. */
#include <cstring>

#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/settings_dialog.h"
#include "services/services.h"
#include "views/win32/view_windows.h"
#include "shell/help_topics.h"
#include "views/trade_plot.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_paint.h"
#include "views/win32/plot_windows.h"
#include "views/win32/result_windows.h"

PlotReportTarget gPlotReportTarget;

namespace {

const char kPlotClass[] = "KestovarPlot";

/* The report writes these kinds, in this order. */
const int32_t kReportKinds[5] = {PLOT_SCATTER, PLOT_PROFIT_DISTRIBUTION, PLOT_EXCURSION_DISTRIBUTION, PLOT_MC_PROFITS,
                                 PLOT_MC_DRAWDOWNS};

/* The character keys and the commands that stand for them. */
struct PlotKey {
    int commandId;
    char key;
};
/* clang-format off */
const PlotKey kPlotKeys[] = {
    {.commandId = IDM_PLOT_SCATTER,        .key = 's'},
    {.commandId = IDM_PLOT_PROFIT_DIST,    .key = 'n'},
    {.commandId = IDM_PLOT_EXCURSION_DIST, .key = 'e'},
    {.commandId = IDM_PLOT_CUMULATIVE,     .key = 'c'},
    {.commandId = IDM_PLOT_MC_PROFITS,     .key = 'm'},
    {.commandId = IDM_PLOT_MC_DRAWDOWNS,   .key = 'd'},
    {.commandId = IDM_PLOT_COUNT_BINS,     .key = 'b'},
    {.commandId = IDM_PLOT_RANGE_BINS,     .key = 'r'},
    {.commandId = IDM_PLOT_DOLLARS,        .key = '$'},
    {.commandId = IDM_PLOT_TRADE_PERCENT,  .key = '%'},
    {.commandId = IDM_PLOT_ALLOC_PERCENT,  .key = '^'},
    {.commandId = IDM_PLOT_BY_TRADE,       .key = 't'},
    {.commandId = IDM_PLOT_BY_FORMULA,     .key = 'f'},
    {.commandId = IDM_PLOT_CROSS_HAIR,     .key = 'x'},
    {.commandId = IDM_PLOT_TREND,          .key = 'l'},
    {.commandId = IDM_PLOT_LOG_STATS,      .key = 'a'},
};
/* clang-format on */

/* The kind letters in kind order. */
const char kKindKeys[PLOT_KIND_COUNT + 1] = "snecmdbr";

void RecalculatePlot(HWND window, PlotWindow *record)
{
    record->crossX = record->crossY = -1;
    if (CalcTradePlotData(record)) InvalidateRect(window, nullptr, FALSE);
    if (record->optionsDialog) SettingsToDialog((HWND)record->optionsDialog, IDD_PLOT_OPTIONS, 0);
}

void SetKind(HWND window, PlotWindow *record, int32_t kind)
{
    record->kind = kind;
    gSettings.PlotDisplay = kind;
    RecalculatePlot(window, record);
}

/* Digit d: strategy d, or d + 10 with Shift when the test has that many; 0 the
** main strategy. */
void PickStrategy(HWND window, PlotWindow *record, int digit, int shift)
{
    int32_t count = record->test ? record->test->strategyCount : 0;
    int32_t pick = digit;
    if (shift && digit + 10 <= count) pick = digit + 10;
    int32_t index;
    if (pick == 0)
        index = record->mainStrategy;
    else if (pick <= count)
        index = pick - 1;
    else
        return;
    record->strategy = index;
    gSettings.PlotStrat = index;
    RecalculatePlot(window, record);
}

void OnCharacter(HWND window, PlotWindow *record, int c)
{
    if (record->busy) return;
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    const char *kind = c ? strchr(kKindKeys, c) : nullptr;
    if (kind) {
        SetKind(window, record, int32_t(kind - kKindKeys));
        return;
    }
    switch (c) {
    case '$':
    case '%':
    case '^':
        record->units = c == '$' ? PLOT_DOLLARS : c == '%' ? PLOT_TRADE_PERCENT : PLOT_ALLOC_PERCENT;
        gSettings.PlotYField = record->units;
        RecalculatePlot(window, record);
        break;
    case 't':
    case 'f':
        record->sortField = c == 't' ? PLOT_SORT_TRADE_NUMBER : PLOT_SORT_FORMULA;
        gSettings.PlotXField = record->sortField;
        RecalculatePlot(window, record);
        break;
    case 'x':
        record->crossHair = !record->crossHair;
        gSettings.PlotCrossHair = record->crossHair;
        InvalidateRect(window, nullptr, FALSE);
        break;
    case 'l':
        record->trend = !record->trend;
        gSettings.PlotTrend = record->trend;
        InvalidateRect(window, nullptr, FALSE);
        break;
    case 'a':
        record->logStats = !record->logStats;
        gSettings.PlotLogStats = record->logStats;
        InvalidateRect(window, nullptr, FALSE);
        break;
    case 'o': ShowPlotOptions(window); break;
    default: break;
    }
}

void OnKeyDown(HWND window, PlotWindow *record, WPARAM key)
{
    int control = GetKeyState(VK_CONTROL) < 0, shift = GetKeyState(VK_SHIFT) < 0;
    if (key == 'C' && control) {
        ImageRequest = IMAGE_CLIPBOARD;
        InvalidateRect(window, nullptr, FALSE);
        return;
    }
    if (record->busy) return;
    if (key == VK_UP || key == VK_DOWN) {
        /* The previous or next test of the results list, as plots in this
        ** window; the options dialog stays with it. */
        RunResultsActionOnRow(FindResultsHwnd((const ResultsWindow *)record->resultsWindow), key == VK_UP ? -1 : 1,
                              IDM_RESULTS_PLOTS);
        return;
    }
    if (key == VK_LEFT || key == VK_RIGHT) {
        int32_t kind = record->kind + (key == VK_LEFT ? -1 : 1);
        if (kind >= 0 && kind < PLOT_KIND_COUNT) SetKind(window, record, kind);
        return;
    }
    int digit = -1;
    if (key >= '0' && key <= '9' && !control) digit = int(key - '0');
    if (key >= VK_NUMPAD0 && key <= VK_NUMPAD9) digit = int(key - VK_NUMPAD0);
    if (digit >= 0) PickStrategy(window, record, digit, shift);
}

/* The picture of the record in the window's client size, output by the
** pending request. */
void PaintPlot(HWND window, HDC dc, PlotWindow *record, int reportKind)
{
    RECT client;
    GetClientRect(window, &client);
    PictureDC picture;
    if (!CreatePictureDC(&picture, dc, client.right, client.bottom)) return;
    RenderTradePlot(record, picture.dc, picture.width, picture.height, gFrame.activeChild == window);
    if (reportKind >= 0) {
        FormatText(ImagePath, sizeof ImagePath, "%s\\plot%d.png", gPlotReportTarget.folder, reportKind);
        char html[1024];
        FormatText(html, sizeof html,
                   "<img class='w3-image' src='plot%d.png' onclick=\""
                   "document.getElementById('plot%d').style.display='block'\" style='cursor:pointer'>\n"
                   "<div id='plot%d' class='w3-modal w3-center' style='padding-top:0' "
                   "onclick=\"document.getElementById('plot%d').style.display='none'\">"
                   "<div class='w3-modal-content' style='width:100%%'><img src='plot%d.png'></div></div>\n",
                   reportKind, reportKind, reportKind, reportKind, reportKind);
        if (gPlotReportTarget.write) gPlotReportTarget.write(html);
        if (FAILED(SaveBitmapImage(picture.bitmap))) {
            ReportError("Unable to create %s", ImagePath);
            SetResultCode(RESULT_FILE_ERROR);
        }
    } else if (ServeImageRequest(window, picture.bitmap)) {
        BitBlt(dc, 0, 0, picture.width, picture.height, picture.dc, 0, 0, SRCCOPY);
    }
    ReleasePictureDC(&picture);
}

void WritePlotTitle(HWND window, const TestRecord *test)
{
    char title[300];
    FormatText(title, sizeof title, "Trade Analysis Plots - Test %d - %s", test ? test->testNumber : 0,
               test ? test->settings.TestName : "");
    SetWindowTitle(window, title);
}

void ReportPlots(PlotWindow *record)
{
    HWND window = CreateWindowExA(0, kPlotClass, "", WS_POPUP, 0, 0, PLOT_REPORT_WIDTH, PLOT_REPORT_HEIGHT, nullptr,
                                  nullptr, gFrame.instance, nullptr);
    if (!window) return;
    SetReportPlotOptions(record);
    record->reportWrite = gPlotReportTarget.write;
    HDC dc = GetDC(window);
    for (int32_t kind : kReportKinds) {
        record->kind = kind;
        record->logStats = kind == PLOT_MC_PROFITS;
        if (CalcTradePlotData(record)) PaintPlot(window, dc, record, kind);
    }
    ReleaseDC(window, dc);
    DestroyWindow(window);
}

} // namespace

PlotWindow *GetPlotRecord(HWND window) { return (PlotWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }

HWND OpenTradePlotWindow(void *resultsWindow, TestRecord *test, int mode)
{
    if (!test) return nullptr;
    HWND reuse = nullptr;
    void *dialog = nullptr;
    if (mode > 0 && FindNextChildWindow(&reuse, kPlotClass)) {
        PlotWindow *old = GetPlotRecord(reuse);
        if (old) {
            dialog = old->optionsDialog;
            FreePlotWindow(old);
            SetWindowLongPtrA(reuse, GWLP_USERDATA, 0);
        }
    }
    PlotWindow *record = nullptr;
    if (!AllocMemory(&record, sizeof *record)) return nullptr;
    record->optionsDialog = dialog;
    record->resultsWindow = resultsWindow;
    record->test = test;
    record->crossX = record->crossY = -1;
    LoadPlotSettings(record);
    if (mode < 0) {
        ReportPlots(record);
        FreePlotWindow(record);
        return nullptr;
    }
    if (!CalcTradePlotData(record)) {
        FreePlotWindow(record);
        return nullptr;
    }
    HWND window = reuse;
    if (!window) {
        window = CreateMdiChild(kPlotClass, "", 0, CW_USEDEFAULT, CW_USEDEFAULT, gSettings.iPlotW, gSettings.iPlotH,
                                nullptr);
        if (!window) {
            FreePlotWindow(record);
            return nullptr;
        }
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)record);
    WritePlotTitle(window, test);
    InvalidateRect(window, nullptr, FALSE);
    ShowWindow(window, SW_SHOW);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
    SetFocus(window);
    UpdateWindowTab(window);
    return window;
}

void DrawTradePlot(HWND window, HDC dc, PlotWindow *record) { PaintPlot(window, dc, record, -1); }

/* The strips a cross hair at (x, y) covers: 5 pixels round its lines, the
** value label in the left margin and the x label under the axis. */
static void InvalidateCrossHair(HWND window, const PlotWindow *record, int x, int y)
{
    if (x < 0 || y < 0) return;
    RECT client;
    GetClientRect(window, &client);
    int T = record->paintedTextHeight > 0 ? record->paintedTextHeight : 16;
    const RECT strips[] = {
        {x - 5, 0, x + 6, client.bottom},
        {0, y - 5, client.right, y + 6},
        {0, y - T, record->paintedLeft, y + T},
        {0, client.bottom - 3 * T, client.right, client.bottom},
    };
    for (const RECT &r : strips) InvalidateRect(window, &r, FALSE);
}

void TrackPlotCrossHair(HWND window)
{
    PlotWindow *record = GetPlotRecord(window);
    if (!record || record->busy) return;
    InvalidateCrossHair(window, record, record->crossX, record->crossY);
    POINT mouse;
    GetCursorPos(&mouse);
    ScreenToClient(window, &mouse);
    RECT client;
    GetClientRect(window, &client);
    int inside = PtInRect(&client, mouse);
    if (record->crossHair && gFrame.activeChild == window && inside) {
        if (mouse.x == record->crossX && mouse.y == record->crossY) return;
        record->crossX = mouse.x;
        record->crossY = mouse.y;
        InvalidateCrossHair(window, record, mouse.x, mouse.y);
        TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
        TrackMouseEvent(&track);
    } else {
        record->crossX = record->crossY = -1;
    }
}

int PlotCommand(HWND window, int commandId)
{
    if (commandId == IDM_SWALLOWED_KEY) return 1;
    for (const PlotKey &k : kPlotKeys)
        if (k.commandId == commandId) {
            SendMessageA(window, WM_CHAR, (WPARAM)(unsigned char)k.key, 0);
            return 1;
        }
    if (commandId == IDM_PLOT_OPTIONS) {
        ShowPlotOptions(window);
        return 1;
    }
    return 0;
}

LRESULT CALLBACK TradePlotWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    PlotWindow *record = GetPlotRecord(window);
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        if (record) DrawTradePlot(window, dc, record);
        EndPaint(window, &ps);
        return 0;
    }
    case WM_ERASEBKGND: return 1;
    case WM_CLOSE:
        /* The workers use the record until the calculation ends. */
        if (record && record->busy) return 0;
        break;
    case WM_KEYDOWN:
        if (record) OnKeyDown(window, record, wParam);
        break;
    case WM_CHAR:
        if (record) OnCharacter(window, record, int(wParam));
        return 0;
    case WM_MOUSEMOVE:
    case WM_MOUSELEAVE:
    case WM_NCMOUSEMOVE: TrackPlotCrossHair(window); break;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN: SetFocus(window); break;
    case WM_SIZE:
        if (GetParent(window) == gFrame.mdiClient) TrackChildMaximized(window, wParam);
        [[fallthrough]];
    case WM_MOVE:
        if (GetParent(window) == gFrame.mdiClient && !IsIconic(window) && !IsZoomed(window)) {
            RECT r;
            GetWindowRect(window, &r);
            gSettings.iPlotW = r.right - r.left;
            gSettings.iPlotH = r.bottom - r.top;
        }
        break;
    case WM_MDIACTIVATE:
        /* The open options dialog works on the plot that was activated last. */
        if ((HWND)lParam == window && record) {
            HWND other = nullptr;
            while (!record->optionsDialog && FindNextChildWindow(&other, kPlotClass)) {
                PlotWindow *o = GetPlotRecord(other);
                if (other != window && o && o->optionsDialog) {
                    record->optionsDialog = o->optionsDialog;
                    o->optionsDialog = nullptr;
                    SetWindowLongPtrA((HWND)record->optionsDialog, DWLP_USER, (LONG_PTR)window);
                    UpdatePlotOptionsDialog((HWND)record->optionsDialog);
                }
            }
        }
        OnMdiChildActivate(window, (HWND)wParam, (HWND)lParam);
        break;
    case WM_HELP:
        OpenHelp(HELP_TOPIC_PLOT_WINDOW);
        gFrame.helpAnswered = 1;
        return TRUE;
    case WM_DESTROY:
        if (record && record->optionsDialog) SendMessageA((HWND)record->optionsDialog, WM_CLOSE, 0, 0);
        if (GetParent(window) == gFrame.mdiClient) RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        FreePlotWindow(record);
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        break;
    default: break;
    }
    if (GetParent(window) != gFrame.mdiClient || !gFrame.mdiClient) return DefWindowProcA(window, message, wParam, lParam);
    return DefMDIChildProcA(window, message, wParam, lParam);
}
