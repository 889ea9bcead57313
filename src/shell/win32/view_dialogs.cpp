/* view_dialogs.cpp -- the Chart Options and Graph Options dialogs and their
** colour list: one line per style of a picture style set, in its colour, with
** a marker that opens the colour chooser. */
#include "shell/win32/shell_win32.h"

#include <Scintilla.h>

#include <cstring>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/settings_dialog.h"
#include "foundation/win32/window_text.h"
#include "marketdata/store/symbols.h"
#include "shell/win32/editor_host.h"
#include "records/chart_record.h"
#include "views/chart_series.h"
#include "views/graph_data.h"

/* The colour list shows a style set through an editor settings record of its
** own, so the editor's styles and font follow the set. */
static EditorSettings sColorListSettings;
static DrawStyleSet *sColorListSet;

static void ColorListFromSet(const DrawStyleSet *set)
{
    EditorSettings &s = sColorListSettings;
    memset(&s, 0, sizeof s);
    CopyString(s.name, sizeof s.name, "Colors", -1);
    s.tabWidth = 4;
    s.fontHeight = (int32_t)set->fontSize;
    CopyString(s.fontName, sizeof s.fontName, set->fontFace, -1);
    s.foreground = 0;
    s.background = 0xFFFFFF;
    s.styleCount = set->styleCount < EDITOR_STYLE_COUNT ? set->styleCount : EDITOR_STYLE_COUNT;
    for (int i = 0; i < s.styleCount; i++) s.styles[i].colour = set->styles[i].colour;
}

void SetupColorList(HWND dialog, DrawStyleSet *set, ColorKeyBuilder keyBuilder)
{
    sColorListSet = set;
    ColorListFromSet(set);
    if (!AttachEditor(dialog, IDC_VIEW_COLOR_LIST, &sColorListSettings)) return;
    EditorSend(dialog, SCI_SETHSCROLLBAR, 0);
    for (int i = 0; i < set->styleCount; i++) {
        EditorSend(dialog, SCI_STYLESETFORE, (uintptr_t)i, (intptr_t)set->styles[i].colour);
        EditorSend(dialog, SCI_STYLESETFONT, (uintptr_t)i, (intptr_t)set->fontFace);
    }
    EditorSend(dialog, SCI_SETSELFORE, 1, (intptr_t)set->selectionFore);
    EditorSend(dialog, SCI_SETSELBACK, set->selectionBackSwitch, 0);
    int width = (int)EditorSend(dialog, SCI_TEXTWIDTH, EDITOR_STYLE_DEFAULT, (intptr_t) "Bold");
    EditorSend(dialog, SCI_SETMARGINTYPEN, 1, SC_MARGIN_SYMBOL);
    EditorSend(dialog, SCI_SETMARGINWIDTHN, 1, width);
    EditorSend(dialog, SCI_SETMARGINSENSITIVEN, 1, 1);
    EditorSend(dialog, SCI_SETMARGINMASKN, 1, 1);
    EditorSend(dialog, SCI_MARKERDEFINE, 0, SC_MARK_DOTDOTDOT);
    for (int i = 0; i < set->styleCount; i++) {
        char key[COLOR_KEY_SIZE], line[COLOR_KEY_SIZE + 16];
        keyBuilder(i, key, " ");
        int n = FormatText(line, sizeof line, "%s _________\r\n", key);
        intptr_t start = EditorSend(dialog, SCI_GETLENGTH);
        EditorSend(dialog, SCI_APPENDTEXT, (uintptr_t)n, (intptr_t)line);
        EditorSend(dialog, SCI_STARTSTYLING, (uintptr_t)start, 0);
        EditorSend(dialog, SCI_SETSTYLING, (uintptr_t)n, i);
        EditorSend(dialog, SCI_MARKERADD, (uintptr_t)i, 0);
    }
    EditorSend(dialog, SCI_SETREADONLY, 1);
}

LRESULT HandleColorListNotify(HWND dialog, NMHDR *notification)
{
    if (notification->idFrom != IDC_VIEW_COLOR_LIST || !sColorListSet) return 0;
    const SCNotification *n = (const SCNotification *)notification;
    if (n->nmhdr.code == SCN_FOCUSIN) {
        SetFocus(GetDlgItem(dialog, IDC_VIEW_COLOR_LIST));
        return 0;
    }
    if (n->nmhdr.code != SCN_MARGINCLICK || n->margin != 1) return 0;
    int line = (int)EditorSend(dialog, SCI_LINEFROMPOSITION, (uintptr_t)n->position);
    if (line < 0 || line >= sColorListSet->styleCount) return 0;
    CHOOSECOLORA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = dialog;
    choose.rgbResult = sColorListSet->styles[line].colour;
    choose.lpCustColors = CustomColors;
    choose.Flags = CC_FULLOPEN | CC_RGBINIT | CC_SOLIDCOLOR;
    if (!ChooseColorA(&choose)) return 0;
    /* The colour shows at once; pens and brushes follow at the dialog's OK. */
    sColorListSet->styles[line].colour = choose.rgbResult;
    EditorSend(dialog, SCI_STYLESETFORE, (uintptr_t)line, (intptr_t)choose.rgbResult);
    return 0;
}

/* The label font of a style set, by the font chooser; 1 when changed. */
static int ChooseLabelFont(HWND dialog, DrawStyleSet *set, char *face, int faceSize, int32_t *height)
{
    LOGFONTA font = {};
    HDC screen = GetDC(nullptr);
    font.lfHeight = -MulDiv((int)set->fontSize, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    CopyString(font.lfFaceName, sizeof font.lfFaceName, set->fontFace, -1);
    CHOOSEFONTA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = dialog;
    choose.lpLogFont = &font;
    choose.Flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT;
    if (!ChooseFontA(&choose)) return 0;
    CopyString(face, faceSize, font.lfFaceName, -1);
    *height = choose.iPointSize / 10;
    CopyString(set->fontFace, sizeof set->fontFace, font.lfFaceName, -1);
    set->fontSize = (uint32_t)*height;
    return 1;
}

static int ChooseBarColour(HWND dialog, uint32_t *colour)
{
    CHOOSECOLORA choose = {};
    choose.lStructSize = sizeof choose;
    choose.hwndOwner = dialog;
    choose.rgbResult = *colour;
    choose.lpCustColors = BarCustomColors;
    choose.Flags = CC_FULLOPEN | CC_RGBINIT | CC_SOLIDCOLOR;
    if (!ChooseColorA(&choose)) return 0;
    *colour = choose.rgbResult;
    return 1;
}

static void SetSpinRange(HWND dialog, int spin, int low, int high)
{
    SendDlgItemMessageA(dialog, spin, UDM_SETRANGE32, (WPARAM)low, (LPARAM)high);
}

/* ---- Chart Options ------------------------------------------------------------------------- */

static HWND FirstChartWindow()
{
    HWND child = nullptr;
    return FindNextChildWindow(&child, "KestovarChart") ? child : nullptr;
}

INT_PTR CALLBACK ChartOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = FirstChartWindow();
    ChartWindow *chart = window ? (ChartWindow *)GetWindowLongPtrA(window, GWLP_USERDATA) : nullptr;
    switch (message) {
    case WM_INITDIALOG: {
        SetupColorList(dialog, &ChartStyleSet, IndicatorColorKey);
        int32_t bars = chart && chart->symbol ? chart->symbol->barCounts[chart->barSize] : 1;
        SetSpinRange(dialog, IDC_VIEW_VISIBLE_SPIN, 1, bars);
        SetSpinRange(dialog, IDC_VIEW_EXTRA_SPIN, 0, chart ? chart->barCount : 0);
        SetSpinRange(dialog, IDC_VIEW_LINE_WIDTH_SPIN, 1, 9);
        SetSpinRange(dialog, IDC_VIEW_IND_PCT_SPIN, 10, 90);
        SetSpinRange(dialog, IDC_VIEW_VOL_PCT_SPIN, 10, 90);
        if (chart) SaveChartDefaults(chart);
        FillDialogLists(dialog, IDD_CHART_OPTIONS);
        SettingsToDialog(dialog, IDD_CHART_OPTIONS, 0);
        return TRUE;
    }
    case WM_NOTIFY: return HandleColorListNotify(dialog, (NMHDR *)lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_VIEW_UP_BAR: ChooseBarColour(dialog, &gSettings.ChartUpBar); return TRUE;
        case IDC_VIEW_DOWN_BAR: ChooseBarColour(dialog, &gSettings.ChartDownBar); return TRUE;
        case IDC_VIEW_LABEL_FONT:
            ChooseLabelFont(dialog, &ChartStyleSet, gSettings.ChartFont, sizeof gSettings.ChartFont,
                            &gSettings.ChartFontHeight);
            return TRUE;
        case IDOK:
            if (!DialogToSettings(dialog, IDD_CHART_OPTIONS, 0)) return TRUE;
            ChartStyleSet.penWidth = gSettings.ChartLineWidth > 0 ? (uint32_t)gSettings.ChartLineWidth : 1;
            RecreateStylePens(&ChartStyleSet);
            DetachEditor(dialog);
            EndDialog(dialog, IDOK);
            if (chart) {
                /* The chart takes the defaults and opens again in its window. */
                LoadChartDefaults(chart);
                OpenChart(chart->symbol == &gStore.calendar ? "" : chart->symbol->info.Symbol, chart->lastDate,
                          chart->kind, chart->tradeLink, (HWND)chart->owner, chart->ownerTest, 1, 1);
            }
            return TRUE;
        case IDCANCEL:
            DetachEditor(dialog);
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

/* ---- Graph Options ------------------------------------------------------------------------- */

static HWND FirstGraphWindow()
{
    HWND child = nullptr;
    return FindNextChildWindow(&child, "KestovarGraph") ? child : nullptr;
}

static void FillGraphStrategyList(HWND dialog, GraphWindow *graph, int fill)
{
    HWND list = GetDlgItem(dialog, IDC_VIEW_STRATEGY_LIST);
    if (!list || !graph) return;
    if (fill) {
        ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
        SetColumn(list, "Strategy", LVCFMT_LEFT, 0, 1);
        ListView_SetColumnWidth(list, 0, 180);
        for (int32_t s = 0; s < graph->seriesCount; s++) {
            InsertListItem(list, s, graph->series[s].name);
            ListView_SetCheckState(list, s, graph->series[s].shown ? TRUE : FALSE);
        }
        return;
    }
    for (int32_t s = 0; s < graph->seriesCount; s++) graph->series[s].shown = ListView_GetCheckState(list, s) ? 1 : 0;
}

static void EnableGraphOptions(HWND dialog, GraphWindow *graph)
{
    bool line = graph && graph->graphType == 0;
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_SHOW_MA), line);
    bool ma = line && IsDlgButtonChecked(dialog, IDC_VIEW_SHOW_MA) == BST_CHECKED;
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_MA_LENGTH), ma);
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_MA_SPIN), ma);
    EnableWindow(GetDlgItem(dialog, IDC_VIEW_SORT), graph && graph->graphType == 1);
}

INT_PTR CALLBACK GraphOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND window = FirstGraphWindow();
    GraphWindow *graph = window ? (GraphWindow *)GetWindowLongPtrA(window, GWLP_USERDATA) : nullptr;
    switch (message) {
    case WM_INITDIALOG:
        if (graph && graph->graphType == 0) graph->sorted = 0, gSettings.GraphSort = 0;
        FillDialogLists(dialog, IDD_GRAPH_OPTIONS);
        SetSpinRange(dialog, IDC_VIEW_LINE_WIDTH_SPIN, 1, 9);
        SetSpinRange(dialog, IDC_VIEW_MA_SPIN, 1, graph && graph->pointCount > 0 ? graph->pointCount : 1);
        FillGraphStrategyList(dialog, graph, 1);
        SetupColorList(dialog, &GraphStyleSet, GraphColorKey);
        SettingsToDialog(dialog, IDD_GRAPH_OPTIONS, 0);
        EnableGraphOptions(dialog, graph);
        return TRUE;
    case WM_NOTIFY: return HandleColorListNotify(dialog, (NMHDR *)lParam);
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_VIEW_SHOW_MA: EnableGraphOptions(dialog, graph); return TRUE;
        case IDC_VIEW_LABEL_FONT:
            ChooseLabelFont(dialog, &GraphStyleSet, gSettings.GraphFont, sizeof gSettings.GraphFont,
                            &gSettings.GraphFontHeight);
            return TRUE;
        case IDOK: {
            int32_t oldLog = gSettings.GraphUseLogScale;
            if (!DialogToSettings(dialog, IDD_GRAPH_OPTIONS, 0)) return TRUE;
            GraphStyleSet.penWidth = gSettings.GraphLineWidth > 0 ? (uint32_t)gSettings.GraphLineWidth : 1;
            RecreateStylePens(&GraphStyleSet);
            if (graph) {
                int32_t points = graph->pointCount > 0 ? graph->pointCount : 1;
                if (gSettings.GraphMALen < 1) gSettings.GraphMALen = 1;
                if (gSettings.GraphMALen > points) gSettings.GraphMALen = points;
                graph->movingAverageLength = gSettings.GraphMALen;
                graph->combinedArea = (uint32_t)gSettings.GraphCombinedArea;
                graph->fixedHeight = (uint32_t)gSettings.GraphFixedHeight;
                graph->sorted = graph->graphType == 1 ? (uint32_t)gSettings.GraphSort : 0;
                graph->movingAverage = graph->graphType == 0 ? (uint32_t)gSettings.GraphShowMA : 0;
                FillGraphStrategyList(dialog, graph, 0);
                SetGraphSelection(graph);
            }
            DetachEditor(dialog);
            EndDialog(dialog, IDOK);
            if (window && oldLog != gSettings.GraphUseLogScale)
                RefreshGraph(window, -1, -1, -1, 0);
            else if (window)
                InvalidateRect(window, nullptr, FALSE);
            return TRUE;
        }
        case IDCANCEL:
            DetachEditor(dialog);
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}

/* ---- Show Chart ---------------------------------------------------------------------------- */

/* The chart the dialog changes, or null when it opens new charts. */
static HWND sSymbolDialogChart;

static void SelectSymbolLine(HWND dialog, int line)
{
    SendDlgItemMessageA(dialog, IDC_VIEW_SYMBOL_LIST, LB_SETCURSEL, (WPARAM)line, 0);
}

/* The first line whose symbol starts with the text, else the first symbol
** whose name holds it (case ignored); -1 when none. */
static int FindSymbolLine(const char *text)
{
    if (!text[0]) return -1;
    int length = (int)strlen(text);
    for (int i = 0; i < gStore.symbolCount; i++)
        if (CompareNoCaseN(gStore.symbols[i].info.Symbol, text, length) == 0) return i;
    for (int i = 0; i < gStore.symbolCount; i++)
        if (FindTextNoCase(gStore.symbols[i].info.Name, text)) return i;
    return -1;
}

INT_PTR CALLBACK ChartChangeSymbolDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        sSymbolDialogChart = nullptr;
        HWND first = nullptr;
        if (lParam && FindNextChildWindow(&first, "KestovarChart")) {
            ChartWindow *chart = (ChartWindow *)GetWindowLongPtrA(first, GWLP_USERDATA);
            if (chart && chart->kind == CHART_KIND_SYMBOL) sSymbolDialogChart = first;
        }
        if (sSymbolDialogChart) SetWindowTextA(dialog, "Change Chart Symbol");
        HWND list = GetDlgItem(dialog, IDC_VIEW_SYMBOL_LIST);
        int stop = 64;
        SendMessageA(list, LB_SETTABSTOPS, 1, (LPARAM)&stop);
        for (int i = 0; i < gStore.symbolCount; i++) {
            char line[200];
            FormatText(line, sizeof line, "%s\t%s", gStore.symbols[i].info.Symbol, gStore.symbols[i].info.Name);
            /* A data file's names are UTF-8: shown wide, as their letters. */
            SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)WideFromText(line).c_str());
        }
        int selected = 0;
        if (sSymbolDialogChart) {
            ChartWindow *chart = (ChartWindow *)GetWindowLongPtrA(sSymbolDialogChart, GWLP_USERDATA);
            if (chart->symbol && chart->symbol != &gStore.calendar) {
                SetItemText(dialog, IDC_VIEW_SYMBOL_EDIT, chart->symbol->info.Symbol);
                selected = (int)(chart->symbol - gStore.symbols);
            }
        }
        SelectSymbolLine(dialog, selected);
        return TRUE;
    }
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_VIEW_SYMBOL_LIST:
            if (HIWORD(wParam) == LBN_SELCHANGE || HIWORD(wParam) == LBN_DBLCLK) {
                int line = (int)SendDlgItemMessageA(dialog, IDC_VIEW_SYMBOL_LIST, LB_GETCURSEL, 0, 0);
                if (line >= 0 && line < gStore.symbolCount)
                    SetItemText(dialog, IDC_VIEW_SYMBOL_EDIT, gStore.symbols[line].info.Symbol);
                if (HIWORD(wParam) == LBN_DBLCLK) PostMessageA(dialog, WM_COMMAND, IDOK, 0);
            }
            return TRUE;
        case IDC_VIEW_SYMBOL_EDIT:
            if (HIWORD(wParam) == EN_CHANGE && GetFocus() == GetDlgItem(dialog, IDC_VIEW_SYMBOL_EDIT)) {
                char text[80];
                GetItemText(dialog, IDC_VIEW_SYMBOL_EDIT, text, sizeof text);
                int line = FindSymbolLine(text);
                if (line >= 0) SelectSymbolLine(dialog, line);
            }
            return TRUE;
        case IDOK: {
            int line = (int)SendDlgItemMessageA(dialog, IDC_VIEW_SYMBOL_LIST, LB_GETCURSEL, 0, 0);
            if (line < 0 || line >= gStore.symbolCount) return TRUE;
            SymbolRecord *symbol = &gStore.symbols[line];
            HWND window = sSymbolDialogChart && IsWindow(sSymbolDialogChart) ? sSymbolDialogChart : nullptr;
            EndDialog(dialog, IDOK);
            if (window)
                ChangeChartSymbol(window, (ChartWindow *)GetWindowLongPtrA(window, GWLP_USERDATA), symbol);
            else
                OpenChart(symbol->info.Symbol, symbol->lastDate, CHART_KIND_SYMBOL, nullptr, nullptr, nullptr, 0, 1);
            return TRUE;
        }
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        default: break;
        }
        break;
    default: break;
    }
    return FALSE;
}
