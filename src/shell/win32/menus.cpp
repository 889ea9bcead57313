/* menus.cpp -- menu and toolbar states, the recent-files list, menu images and
** the right-click menus. */
#include "shell/win32/shell_win32.h"

#include <Scintilla.h>

#include <cstring>

#include "foundation/list_sort.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/settings_dialog.h"
#include "marketdata/store/datafile.h"
#include "platform/platform.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/name_tables.h"
#include "records/test_records.h"
#include "script/eval/eval_context.h"
#include "shell/frame_rules.h"
#include "shell/kind_menu_rules.h"
#include "services/services.h"
#include "shell/win32/editor_host.h"
#include "shell/win32/script_window.h"
#include "engine/results_file.h"
#include "engine/results_list.h"
#include "marketdata/store/symbols.h"
#include "records/chart_record.h"
#include "views/graph_record.h"
#include "views/res_graph.h"
#include "views/trade_compare.h"
#include "views/trade_plot.h"

void EnableCommand(HMENU menu, int commandId, int enabled)
{
    if (menu) EnableMenuItem(menu, (UINT)commandId, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    if (gSettings.ShowToolBar && gFrame.toolbar)
        SendMessageA(gFrame.toolbar, TB_ENABLEBUTTON, (WPARAM)commandId, MAKELPARAM(enabled ? TRUE : FALSE, 0));
}

HMENU FindSubMenuByText(HMENU menu, const char *text)
{
    int count = menu ? GetMenuItemCount(menu) : 0;
    for (int i = 0; i < count; i++) {
        char title[128];
        if (GetMenuStringA(menu, (UINT)i, title, sizeof title, MF_BYPOSITION) > 0 && strcmp(title, text) == 0)
            return GetSubMenu(menu, i);
    }
    return nullptr;
}

void UpdateRecentFilesMenu(HMENU filePopup, char *recentFiles)
{
    if (!filePopup) return;
    UpdateHistoryList(recentFiles, nullptr, 1);
    for (int id = IDM_RECENT_FIRST; id <= IDM_RECENT_LAST; id++) DeleteMenu(filePopup, (UINT)id, MF_BYCOMMAND);
    int added = 0;
    const char *p = recentFiles;
    while (*p && added < 9) {
        const char *end = strchr(p, '\n');
        int len = end ? (int)(end - p) : (int)strlen(p);
        if (len > 0) {
            char path[PATH_SIZE], text[300];
            CopyString(path, sizeof path, p, len);
            /* One separator above the list: the one a former opening left
            ** stays, and the items after the first need none. */
            int count = GetMenuItemCount(filePopup);
            MENUITEMINFOA last = {};
            last.cbSize = sizeof last;
            last.fMask = MIIM_FTYPE;
            if (added == 0 && count > 0 && GetMenuItemInfoA(filePopup, (UINT)(count - 1), TRUE, &last) &&
                !(last.fType & MFT_SEPARATOR))
                AppendMenuA(filePopup, MF_SEPARATOR, 0, nullptr);
            RecentFileItemText(added + 1, path, text, sizeof text);
            AppendMenuText(filePopup, (UINT_PTR)(IDM_RECENT_FIRST + added), text);
            added++;
        }
        p += len + (end ? 1 : 0);
    }
    EnableCommand(filePopup, IDM_SAVE, 0);
    EnableCommand(filePopup, IDM_SAVE_AS, 0);
}

/* What the Edit rules read of the focused editor: the editor component's own
** state through its messages, a plain text control's through the window's. */
struct EditorState {
    int length, selection, writable, canUndo, canRedo, canPaste;
};

static EditorState ReadEditorState(HWND editor)
{
    EditorState s = {};
    if (!editor) return s;
    if (IsEditorComponent(editor)) {
        s.length = (int)SendMessageA(editor, SCI_GETLENGTH, 0, 0);
        s.selection = (int)(SendMessageA(editor, SCI_GETSELECTIONEND, 0, 0) -
                            SendMessageA(editor, SCI_GETSELECTIONSTART, 0, 0));
        s.writable = !SendMessageA(editor, SCI_GETREADONLY, 0, 0);
        s.canUndo = SendMessageA(editor, SCI_CANUNDO, 0, 0) != 0;
        s.canRedo = SendMessageA(editor, SCI_CANREDO, 0, 0) != 0;
        s.canPaste = SendMessageA(editor, SCI_CANPASTE, 0, 0) != 0;
        return s;
    }
    DWORD start = 0, end = 0;
    SendMessageA(editor, EM_GETSEL, (WPARAM)&start, (LPARAM)&end);
    s.length = GetWindowTextLengthA(editor);
    s.selection = (int)(end - start);
    s.writable = !(GetWindowLongA(editor, GWL_STYLE) & ES_READONLY);
    s.canUndo = SendMessageA(editor, EM_CANUNDO, 0, 0) != 0;
    s.canPaste = IsClipboardFormatAvailable(CF_TEXT);
    return s;
}

int UpdateEditMenu(HMENU editPopup, int full)
{
    HWND editor = GetFocusedEditor();
    EditorState e = ReadEditorState(editor);
    int selection = e.selection, writable = editor && e.writable, notEmpty = e.length > 0;
    EnableCommand(editPopup, IDM_SAVE, writable && notEmpty);
    EnableCommand(editPopup, IDM_SAVE_AS, notEmpty);
    if (full) {
        char underCursor[PATH_SIZE];
        int found = gFrame.activeKind == WK_SCRIPT && GetFileAtCaret(gFrame.activeChild, underCursor);
        if (editPopup) {
            const char *slash = found ? strrchr(underCursor, '\\') : nullptr;
            char text[300];
            FormatText(text, sizeof text, "Open %s\tCtrl+Shift+O",
                       found ? (slash ? slash + 1 : underCursor) : "File Under Cursor");
            ModifyMenuText(editPopup, IDM_OPEN_UNDER_CURSOR, text);
        }
        EnableCommand(editPopup, IDM_OPEN_UNDER_CURSOR, found);
    }
    EnableCommand(editPopup, IDM_UNDO, writable && e.canUndo);
    EnableCommand(editPopup, IDM_REDO, writable && e.canRedo);
    EnableCommand(editPopup, IDM_CUT, writable && selection > 0);
    EnableCommand(editPopup, IDM_DELETE, writable && selection > 0);
    EnableCommand(editPopup, IDM_COPY, selection > 0);
    EnableCommand(editPopup, IDM_PASTE, writable && e.canPaste);
    EnableCommand(editPopup, IDM_SELECT_ALL, notEmpty);
    if (!(gFrame.activeKind == WK_RESULTS || gFrame.activeKind == WK_TRADES || gFrame.activeKind == WK_SCAN ||
          gFrame.activeKind == WK_COMPARE || gFrame.activeKind == WK_LIST)) {
        EnableCommand(editPopup, IDM_FIND, notEmpty);
        EnableCommand(editPopup, IDM_FIND_NEXT, notEmpty);
    }
    EnableCommand(editPopup, IDM_REPLACE, writable && notEmpty);
    return selection;
}

/* The active script's sections, read again only when the file changed: the
** Run menu is refreshed on every notice to the frame, far too often to read
** and scan the script each time. */
struct SectionCache {
    char path[PATH_SIZE];
    uint64_t size;
    PlatDateTime time;
    int sections;
};
static SectionCache sSections;

static int SectionFlags(const int32_t *counts)
{
    int flags = 0;
    if (counts[SECTION_STRATEGY] || counts[SECTION_BENCHMARK]) flags |= SCRIPT_HAS_STRATEGY;
    if (counts[SECTION_IMPORT]) flags |= SCRIPT_HAS_IMPORT;
    if (counts[SECTION_SCAN]) flags |= SCRIPT_HAS_SCAN;
    return flags;
}

static int ActiveScriptSections(int *available)
{
    int32_t counts[SECTION_COUNT] = {};
    *available = 0;
    if (GetEmptyActiveScriptWindow()) {
        *available = 1;
        ScanScriptItemNames(nullptr, counts, 0, nullptr);
        return SectionFlags(counts);
    }
    const char *path = gSettings.ActiveScript;
    uint64_t size = 0;
    PlatDateTime time = {};
    if (!path[0] || !PlatGetFileInfo(path, &size, &time) || PlatFolderExists(path)) return 0;
    *available = 1;
    if (strcmp(sSections.path, path) == 0 && sSections.size == size && memcmp(&sSections.time, &time, sizeof time) == 0)
        return sSections.sections;
    ScanScriptItemNames(path, counts, 0, nullptr);
    CopyString(sSections.path, sizeof sSections.path, path, -1);
    sSections.size = size;
    sSections.time = time;
    sSections.sections = SectionFlags(counts);
    return sSections.sections;
}

void UpdateRunMenu(HMENU runPopup)
{
    char name[32];
    GetRunTypeName(gRun.state.load(), gRun.mode, name, sizeof name);
    if (runPopup) {
        char text[64];
        FormatText(text, sizeof text, "&Stop %s\tCtrl+Break", name);
        ModifyMenuA(runPopup, IDM_STOP, MF_BYCOMMAND | MF_STRING, IDM_STOP, text);
    }
    int state = gRun.state.load();
    int available = 0, sections = 0;
    if (state == RUN_IDLE) sections = ActiveScriptSections(&available);
    static const int kRun[] = {IDM_RUN_APPLY, IDM_RUN_TEST, IDM_RUN_OPTIMIZE, IDM_RUN_IMPORT,
                               IDM_RUN_SCAN, IDM_RUN_ORDERS, IDM_STOP};
    for (int id : kRun)
        EnableCommand(runPopup, id, IsRunCommandEnabled(id, state, available, gRun.lowMemory.load(), sections));
}

int EditorMenuFacts(HWND child, KindMenuFacts *facts)
{
    /* The record follows the editor's save point; the editor component
    ** answers no plain-text-control messages. */
    EditorRecord *record = GetEditorRecord(child);
    facts->modified = record && record->modified;
    return 1;
}

int ResultsMenuFacts(HWND child, KindMenuFacts *facts)
{
    ResultsWindow *list = ResultsListOf(child);
    facts->place = GetSelectionPlace(child);
    facts->modified = list && list->modified;
    return 1;
}

int ScriptMenuFacts(HWND child, KindMenuFacts *facts)
{
    EditorRecord *record = GetEditorRecord(child);
    facts->modified = record && record->modified;
    return 1;
}

void ScriptMenuTexts(HMENU popup, HWND child, int full)
{
    if (!popup) return;
    char text[64];
    FormatText(text, sizeof text, "%s Selection\tCtrl+/", ToggleLineComment(child, 0) ? "Un&comment" : "&Comment");
    ModifyMenuA(popup, IDM_COMMENT, MF_BYCOMMAND | MF_STRING, IDM_COMMENT, text);
}

int ListPlaceFacts(HWND child, KindMenuFacts *facts)
{
    facts->place = GetSelectionPlace(child);
    return 1;
}

int CompareMenuFacts(HWND child, KindMenuFacts *facts)
{
    const CompareWindow *compare = (const CompareWindow *)GetWindowLongPtrA(child, GWLP_USERDATA);
    facts->place = GetSelectionPlace(child);
    int row = GetSelectedItem(child);
    if (compare && row >= 0 && row < compare->rowCount) {
        facts->leftSide = compare->rows[row].side[0].trade != nullptr;
        facts->rightSide = compare->rows[row].side[1].trade != nullptr;
    }
    return 1;
}

/* ---- the picture kinds' texts and checks (when a menu is about to open) ---------------- */

static void SetItemText(HMENU popup, int id, const char *format, const char *word)
{
    char text[96];
    FormatText(text, sizeof text, format, word);
    ModifyMenuA(popup, (UINT)id, MF_BYCOMMAND | MF_STRING, (UINT_PTR)id, text);
}

static void CheckItem(HMENU popup, int id, int checked)
{
    CheckMenuItem(popup, (UINT)id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

static const char *ShowOrHide(uint32_t shown) { return shown ? "Hide" : "Show"; }

void GraphMenuTexts(HMENU popup, HWND child, int full)
{
    const GraphWindow *graph = (const GraphWindow *)GetWindowLongPtrA(child, GWLP_USERDATA);
    if (!popup || !full || !graph) return;
    int bars = graph->graphType == 1;
    SetItemText(popup, IDM_GRAPH_CURSOR, "%s &Cursor\t.", ShowOrHide(graph->cursorShown));
    EnableCommand(popup, IDM_GRAPH_CURSOR, !graph->sorted);
    EnableCommand(popup, IDM_GRAPH_SORT, bars);
    CheckItem(popup, IDM_GRAPH_SORT, graph->sorted);
    const struct {
        int id;
        uint32_t flag;
    } kLineOnly[] = {{IDM_GRAPH_LOG, graph->logScale}, {IDM_GRAPH_MOVING_AVERAGE, graph->movingAverage},
                     {IDM_GRAPH_AREA, graph->combinedArea}};
    for (const auto &item : kLineOnly) {
        EnableCommand(popup, item.id, !bars);
        CheckItem(popup, item.id, item.flag);
    }
    CheckItem(popup, IDM_GRAPH_FIXED_HEIGHT, graph->fixedHeight);
    EnableCommand(popup, IDM_GRAPH_FULL_RANGE, graph->subsetFirst != 0 || graph->subsetLast != 0);
}

void PlotMenuTexts(HMENU popup, HWND child, int full)
{
    const PlotWindow *plot = GetPlotRecord(child);
    if (!popup || !full || !plot) return;
    static const int kKinds[PLOT_KIND_COUNT] = {IDM_PLOT_SCATTER,    IDM_PLOT_PROFIT_DIST,  IDM_PLOT_EXCURSION_DIST,
                                                IDM_PLOT_CUMULATIVE, IDM_PLOT_MC_PROFITS,   IDM_PLOT_MC_DRAWDOWNS,
                                                IDM_PLOT_COUNT_BINS, IDM_PLOT_RANGE_BINS};
    static const int kUnits[3] = {IDM_PLOT_DOLLARS, IDM_PLOT_TRADE_PERCENT, IDM_PLOT_ALLOC_PERCENT};
    static const int kOrder[2] = {IDM_PLOT_BY_TRADE, IDM_PLOT_BY_FORMULA};
    for (int k = 0; k < PLOT_KIND_COUNT; k++) CheckItem(popup, kKinds[k], plot->kind == k);
    for (int u = 0; u < 3; u++) CheckItem(popup, kUnits[u], plot->units == u);
    for (int x = 0; x < 2; x++) CheckItem(popup, kOrder[x], plot->sortField == x);
    CheckItem(popup, IDM_PLOT_CROSS_HAIR, plot->crossHair);
    CheckItem(popup, IDM_PLOT_TREND, plot->trend);
    CheckItem(popup, IDM_PLOT_LOG_STATS, plot->logStats);
}

void ChartMenuTexts(HMENU popup, HWND child, int full)
{
    const ChartWindow *chart = (const ChartWindow *)GetWindowLongPtrA(child, GWLP_USERDATA);
    if (!popup || !full || !chart) return;
    /* Where the chart stands in the list it steps through: its owner's rows
    ** while the owner is open, else the loaded symbols. */
    int first = 0, last = 0;
    HWND owner = (HWND)chart->owner;
    if (owner && IsWindow(owner)) {
        int place = GetSelectionPlace(owner);
        first = place == SELECTION_FIRST || place == SELECTION_ONLY;
        last = place == SELECTION_LAST || place == SELECTION_ONLY;
    } else if (gStore.symbols && chart->symbol && chart->symbol != &gStore.calendar) {
        int32_t index = (int32_t)(chart->symbol - gStore.symbols);
        first = index <= 0;
        last = index >= gStore.symbolCount - 1;
    }
    SetItemText(popup, IDM_CHART_NEXT, "%s Symbol\tDown or Space", last ? "&First" : "&Next");
    SetItemText(popup, IDM_CHART_PREVIOUS, "%s Symbol\tUp or Backspace", first ? "&Last" : "&Previous");
    SetItemText(popup, IDM_CHART_INDICATOR_PANE, "%s &Indicator Pane\tI", ShowOrHide(chart->showIndicatorPane));
    SetItemText(popup, IDM_CHART_VOLUME_PANE, "%s &Volume Pane\tV", ShowOrHide(chart->showVolumePane));
    SetItemText(popup, IDM_CHART_CURSOR, "%s Cursor\t.", ShowOrHide(chart->showCursor));
    SetItemText(popup, IDM_CHART_CROSS_HAIR, "%s Cross-&Hair\tX", ShowOrHide(chart->crossHair));
    CheckItem(popup, IDM_CHART_CANDLES, chart->candlestick);
    CheckItem(popup, IDM_CHART_LOG, chart->logScale);
    CheckItem(popup, IDM_CHART_SPLIT, chart->splitAdjusted);
    CheckItem(popup, IDM_CHART_BLACK, chart->blackBackground);
    for (int size = 0; size < 5; size++) CheckItem(popup, IDM_CHART_DAILY + size, chart->barSize == size);
}

void ResGraphMenuTexts(HMENU popup, HWND child, int full)
{
    const ResGraphWindow *graph = GetResGraphRecord(child);
    if (!popup || !full || !graph) return;
    BuildOptGraphAxisMenu(popup, graph);
    EnableCommand(popup, IDM_RESGRAPH_HEAT_MAP, graph->variableCount > 1);
    CheckItem(popup, IDM_RESGRAPH_HEAT_MAP, graph->heatMap);
    EnableCommand(popup, IDM_RESGRAPH_SORT, !graph->heatMap);
    CheckItem(popup, IDM_RESGRAPH_SORT, graph->sorted);
    CheckItem(popup, IDM_RESGRAPH_TREND, graph->trend);
}

/* The active kind's popup by its row's rules; Save and Save As also on the File popup. */
static void UpdateKindMenu(HMENU menu, HMENU own, int kind, HWND child, int full)
{
    const WindowKind &row = gWindowKinds[kind];
    if (row.menuTexts) row.menuTexts(own, child, full);
    if (!row.menuRules || !row.menuFacts) return;
    KindMenuFacts facts = {};
    facts.runState = gRun.state.load();
    facts.currentHasTrades = gCurrentTest && gCurrentTest->tradeCount > 0;
    facts.testsHeld = CountTestHolds();
    if (!row.menuFacts(child, &facts)) return;
    HMENU file = menu ? FindSubMenuByText(menu, "&File") : nullptr;
    for (const KindMenuRule *rule = row.menuRules; rule->commandId; rule++) {
        int enabled = IsKindCommandEnabled(rule, &facts);
        EnableCommand(own, rule->commandId, enabled);
        if (file && (rule->commandId == IDM_SAVE || rule->commandId == IDM_SAVE_AS))
            EnableCommand(file, rule->commandId, enabled);
    }
}

void UpdateFrameMenus(HWND frame, int full)
{
    HMENU menu = GetMenu(frame);
    int idle = gRun.state.load() == RUN_IDLE;
    int nameChanged = IsDataFileNameChanged();
    if (full && menu) {
        UpdateRecentFilesMenu(FindSubMenuByText(menu, "&File"), gSettings.RecentFilesMRU);
        UpdateEditMenu(FindSubMenuByText(menu, "&Edit"), 1);
        HMENU view = FindSubMenuByText(menu, "&View");
        if (view) {
            const struct {
                int id;
                int shown;
                const char *format;
            } kToggles[] = {{IDM_SETTINGS_PANEL, gSettings.ShowSettings, "%s Settings &Panel\tF11"},
                            {IDM_DEBUG_PANEL, gSettings.ShowDebugger, "%s &Debug Panel\tF12"},
                            {IDM_TOOL_BAR, gSettings.ShowToolBar, "%s &Tool Bar"},
                            {IDM_STATUS_BAR, gSettings.ShowStatusBar, "%s &Status Bar"},
                            {IDM_WINDOW_TABS, gSettings.ShowTabBar, "%s &Window Tabs"}};
            for (const auto &t : kToggles) {
                char text[64];
                FormatText(text, sizeof text, t.format, t.shown ? "Hide" : "Show");
                ModifyMenuA(view, (UINT)t.id, MF_BYCOMMAND | MF_STRING, (UINT_PTR)t.id, text);
            }
            EnableCommand(view, IDM_PROGRAM_OPTIONS, idle);
        }
        HMENU window = FindSubMenuByText(menu, "&Window");
        if (window) {
            DeleteMenu(window, IDM_WINDOW_LIST, MF_BYCOMMAND);
            AppendMenuA(window, MF_STRING, IDM_WINDOW_LIST, "Windows...\tCtrl+W");
        }
    } else {
        UpdateEditMenu(nullptr, 0);
    }
    HMENU data = menu ? FindSubMenuByText(menu, "&Data") : nullptr;
    EnableCommand(data, IDM_LOAD_DATA, idle && nameChanged);
    EnableCommand(data, IDM_SELECT_DATA, idle);
    EnableCommand(data, IDM_LOG_DATA_INFO, idle && !nameChanged);
    EnableCommand(data, IDM_UNLOAD_DATA, idle && !nameChanged);
    EnableCommand(data, IDM_SHOW_CHART, idle && !nameChanged);
    UpdateRunMenu(menu ? FindSubMenuByText(menu, "&Run") : nullptr);
    int kind = gFrame.activeKind;
    HWND child = gFrame.activeChild;
    HMENU own = (menu && kind > 0) ? FindSubMenuByText(menu, gWindowKinds[kind].label) : nullptr;
    if (child && kind > 0) UpdateKindMenu(menu, own, kind, child, full);
    if (!full && kind != WK_RESULTS) {
        static const int kResultsButtons[] = {IDM_RESULTS_GRAPHS, IDM_RESULTS_TRADES, IDM_RESULTS_PLOTS,
                                              IDM_RESULTS_OPTGRAPH, IDM_RESULTS_REPORT};
        for (int id : kResultsButtons) EnableCommand(nullptr, id, 0);
    }
}

/* The menu picture of a toolbar button, in colour or greyed; loaded once per
** button and look, and kept for the program's life (menus share them). */
static HBITMAP MenuPicture(int button, int greyed)
{
    static HBITMAP pictures[TOOLBAR_BUTTONS][2];
    HBITMAP &picture = pictures[button][greyed ? 1 : 0];
    if (picture) return picture;
    int cx = GetSystemMetrics(SM_CXSMICON), cy = GetSystemMetrics(SM_CYSMICON);
    picture = (HBITMAP)LoadImageA(gFrame.instance, MAKEINTRESOURCEA(kToolbarButtons[button].commandId), IMAGE_BITMAP,
                                  cx, cy, LR_CREATEDIBSECTION);
    if (!picture) return nullptr;
    RecolorBitmapWhite(picture, COLOR_MENU);
    if (greyed) GreyBitmap(picture, COLOR_MENU);
    return picture;
}

void SetMenuItemBitmaps(HMENU popup)
{
    /* A picture takes the check mark's column, so every item's text starts
    ** at the same place and the shortcut column clears the longest text. */
    MENUINFO style = {};
    style.cbSize = sizeof style;
    style.fMask = MIM_STYLE;
    GetMenuInfo(popup, &style);
    style.dwStyle |= MNS_CHECKORBMP;
    SetMenuInfo(popup, &style);
    int count = GetMenuItemCount(popup);
    for (int i = 0; i < count; i++) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE;
        if (!GetMenuItemInfoA(popup, (UINT)i, TRUE, &info) || info.wID < 40000) continue;
        int button = -1;
        for (int b = 0; b < TOOLBAR_BUTTONS; b++)
            if (kToolbarButtons[b].commandId == (int)info.wID) button = b;
        if (button < 0) continue;
        /* A greyed command shows its picture greyed, as the toolbar does. */
        HBITMAP picture = MenuPicture(button, (info.fState & MFS_GRAYED) != 0);
        if (!picture) continue;
        info.fMask = MIIM_BITMAP;
        info.hbmpItem = picture;
        SetMenuItemInfoA(popup, (UINT)i, TRUE, &info);
    }
}

void ShowTabContextMenu(LPARAM lParam)
{
    static int open;
    POINT p = {(short)LOWORD(lParam), (short)HIWORD(lParam)};
    if (gFrame.tabs && IsWindowVisible(gFrame.tabs)) {
        POINT local = p;
        ScreenToClient(gFrame.tabs, &local);
        TCHITTESTINFO hit = {};
        hit.pt = local;
        int index = TabCtrl_HitTest(gFrame.tabs, &hit);
        if (index >= 0) {
            TabCtrl_SetCurSel(gFrame.tabs, index);
            ActivateTabWindow();
            HWND window = gFrame.activeChild;
            HMENU system = window ? GetSystemMenu(window, FALSE) : nullptr;
            if (!system) return;
            int command = TrackPopupMenu(system, TPM_RETURNCMD | TPM_RIGHTBUTTON, p.x, p.y, 0, gFrame.frame, nullptr);
            if (command) SendMessageA(window, WM_SYSCOMMAND, (WPARAM)command, 0);
            return;
        }
    }
    HWND child = gFrame.activeChild;
    if (!child || open || gFrame.activeKind <= 0) return;
    RECT client;
    GetClientRect(child, &client);
    POINT local = p;
    ScreenToClient(child, &local);
    if (!PtInRect(&client, local)) return;
    HMENU menu = gWindowKinds[gFrame.activeKind].menu;
    HMENU popup = FindSubMenuByText(menu, gWindowKinds[gFrame.activeKind].label);
    if (!popup) return;
    int kind = gFrame.activeKind;
    int added = 0;
    /* Kinds whose popup holds Find and Find Next already show them once. */
    int hasFind = GetMenuState(popup, IDM_FIND, MF_BYCOMMAND) != (UINT)-1;
    if (!hasFind && (kind == WK_RESULTS || kind == WK_TRADES || kind == WK_SCAN || kind == WK_COMPARE || kind == WK_LIST)) {
        int notEmpty = GetSelectionPlace(child) != SELECTION_EMPTY;
        InsertMenuA(popup, 0, MF_BYPOSITION | MF_STRING | (notEmpty ? 0 : MF_GRAYED), IDM_FIND, "&Find...\tCtrl+F");
        InsertMenuA(popup, 1, MF_BYPOSITION | MF_STRING | (notEmpty ? 0 : MF_GRAYED), IDM_FIND_NEXT, "Find &Next\tF3");
        added = 2;
    } else if (kind == WK_SCRIPT || kind == WK_LOG) {
        HMENU edit = FindSubMenuByText(menu, "&Edit");
        int count = edit ? GetMenuItemCount(edit) : 0;
        for (int i = 0; i < count; i++) {
            char text[128] = "";
            UINT id = GetMenuItemID(edit, i);
            GetMenuStringA(edit, (UINT)i, text, sizeof text, MF_BYPOSITION);
            if (id == 0 || id == (UINT)-1)
                InsertMenuA(popup, (UINT)added, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
            else
                InsertMenuA(popup, (UINT)added, MF_BYPOSITION | MF_STRING, id, text);
            added++;
        }
        UpdateEditMenu(popup, 0);
    }
    InsertMenuA(popup, (UINT)added, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    added++;
    open = 1;
    TrackPopupMenu(popup, TPM_RIGHTBUTTON, p.x, p.y, 0, gFrame.frame, nullptr);
    open = 0;
    for (int i = 0; i < added; i++) RemoveMenu(popup, 0, MF_BYPOSITION);
}
