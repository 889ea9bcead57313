/* frame.cpp -- the frame window: the window-kind table, the frame procedure,
** command dispatch, opening files by type, the open-files list and closing. */
#include "shell/win32/shell_win32.h"

#include <Scintilla.h>
#include <shellapi.h>

#include <cstring>

#include "foundation/win32/window_text.h"
#include "foundation/errors.h"
#include "foundation/ini_file.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/settings_dialog.h"
#include "marketdata/store/data_load.h"
#include "platform/platform.h"
#include "shell/command_line.h"
#include "shell/frame_rules.h"
#include "shell/help_topics.h"
#include "shell/kind_menu_rules.h"
#include "engine/run_driver.h"
#include "services/services.h"
#include "shell/win32/editor_host.h"
#include "shell/win32/script_window.h"
#include "engine/results_file.h"

/* Row order is the tab icons' order; several rules name kinds by row. */
/* clang-format off */
WindowKind gWindowKinds[WK_COUNT] = {
    {.className = "", .iconId = 0, .menuId = IDR_MENU_FRAME, .menu = nullptr, .label = "", .focusChild = 0, .helpId = 0, .command = nullptr, .menuRules = nullptr, .menuFacts = nullptr, .tabTitle = nullptr, .menuTexts = nullptr},
    {.className = "KestovarResults", .iconId = IDI_RESULTS, .menuId = IDR_MENU_RESULTS, .menu = nullptr, .label = "Resul&ts", .focusChild = 1, .helpId = HELP_TOPIC_RESULTS_MENU, .command = ResultsCommand, .menuRules = kResultsMenuRules, .menuFacts = ResultsMenuFacts, .tabTitle = nullptr, .menuTexts = nullptr},
    {.className = "KestovarScript", .iconId = IDI_SCRIPT, .menuId = IDR_MENU_SCRIPT, .menu = nullptr, .label = "&Script", .focusChild = 1, .helpId = HELP_TOPIC_SCRIPT_MENU, .command = ScriptCommand, .menuRules = kSaveMenuRules, .menuFacts = ScriptMenuFacts, .tabTitle = ScriptTabTitle, .menuTexts = ScriptMenuTexts},
    {.className = "KestovarLog", .iconId = IDI_LOG, .menuId = IDR_MENU_LOG, .menu = nullptr, .label = "&Log", .focusChild = 1, .helpId = HELP_TOPIC_LOG_MENU, .command = LogCommand, .menuRules = kSaveMenuRules, .menuFacts = EditorMenuFacts, .tabTitle = nullptr, .menuTexts = nullptr},
    {.className = "KestovarGraph", .iconId = IDI_GRAPH, .menuId = IDR_MENU_GRAPH, .menu = nullptr, .label = "&Graph", .focusChild = 0, .helpId = HELP_TOPIC_GRAPH_MENU, .command = GraphCommand, .menuRules = nullptr, .menuFacts = nullptr, .tabTitle = GraphTabTitle, .menuTexts = GraphMenuTexts},
    {.className = "KestovarPlot", .iconId = IDI_PLOT, .menuId = IDR_MENU_PLOT, .menu = nullptr, .label = "&Plot", .focusChild = 0, .helpId = HELP_TOPIC_PLOT_MENU, .command = PlotCommand, .menuRules = nullptr, .menuFacts = nullptr, .tabTitle = PlotTabTitle, .menuTexts = PlotMenuTexts},
    {.className = "KestovarResGraph", .iconId = IDI_RESGRAPH, .menuId = IDR_MENU_RESGRAPH, .menu = nullptr, .label = "Res&Graph", .focusChild = 0, .helpId = HELP_TOPIC_RESGRAPH_MENU, .command = ResGraphCommand, .menuRules = nullptr, .menuFacts = nullptr, .tabTitle = ResGraphTabTitle, .menuTexts = ResGraphMenuTexts},
    {.className = "KestovarTrades", .iconId = IDI_TRADES, .menuId = IDR_MENU_TRADES, .menu = nullptr, .label = "&Trades", .focusChild = 1, .helpId = HELP_TOPIC_TRADES_MENU, .command = TradeListCommand, .menuRules = kTradesMenuRules, .menuFacts = ListPlaceFacts, .tabTitle = TradesTabTitle, .menuTexts = nullptr},
    {.className = "KestovarScan", .iconId = IDI_SCAN, .menuId = IDR_MENU_SCAN, .menu = nullptr, .label = "&Scan", .focusChild = 1, .helpId = HELP_TOPIC_SCAN_MENU, .command = ScanCommand, .menuRules = kScanMenuRules, .menuFacts = ListPlaceFacts, .tabTitle = nullptr, .menuTexts = nullptr},
    {.className = "KestovarCompare", .iconId = IDI_COMPARE, .menuId = IDR_MENU_COMPARE, .menu = nullptr, .label = "&Compare", .focusChild = 1, .helpId = HELP_TOPIC_COMPARE_MENU, .command = CompareCommand, .menuRules = kCompareMenuRules, .menuFacts = CompareMenuFacts, .tabTitle = CompareTabTitle, .menuTexts = nullptr},
    {.className = "KestovarList", .iconId = IDI_COMPARE, .menuId = IDR_MENU_LIST, .menu = nullptr, .label = "&List", .focusChild = 1, .helpId = HELP_TOPIC_LIST_MENU, .command = ListCommand, .menuRules = kListMenuRules, .menuFacts = ListMenuFacts, .tabTitle = ListWindowName, .menuTexts = nullptr},
    {.className = "KestovarChart", .iconId = IDI_CHART, .menuId = IDR_MENU_CHART, .menu = nullptr, .label = "&Chart", .focusChild = 0, .helpId = HELP_TOPIC_CHART_MENU, .command = ChartCommand, .menuRules = nullptr, .menuFacts = nullptr, .tabTitle = ChartTabTitle, .menuTexts = ChartMenuTexts},
};
/* clang-format on */

int FindWindowKind(HWND window)
{
    char name[64];
    if (!window || !GetClassNameA(window, name, sizeof name)) return -1;
    for (int row = 1; row < WK_COUNT; row++)
        if (strcmp(gWindowKinds[row].className, name) == 0) return row;
    return -1;
}

static int IsListKind(int kind)
{
    return kind == WK_RESULTS || kind == WK_TRADES || kind == WK_SCAN || kind == WK_COMPARE || kind == WK_LIST;
}

/* ---- layout ------------------------------------------------------------------------------ */

static int BandHeight(HWND band, int shown)
{
    if (!band || !shown) return 0;
    RECT r;
    GetWindowRect(band, &r);
    return r.bottom - r.top;
}

void LayoutFrame()
{
    if (!gFrame.frame || IsIconic(gFrame.frame)) return;
    RECT client;
    GetClientRect(gFrame.frame, &client);
    int width = client.right, top = 0;
    if (gFrame.rebar && gSettings.ShowToolBar) {
        /* The toolbar wraps to the width of the rebar it sits in, so the
        ** rebar takes the new width first. */
        MoveWindow(gFrame.rebar, 0, 0, width, BandHeight(gFrame.rebar, 1), FALSE);
        FitToolbar(width);
        SendMessageA(gFrame.rebar, WM_SIZE, 0, 0);
        int h = BandHeight(gFrame.rebar, 1);
        MoveWindow(gFrame.rebar, 0, 0, width, h, TRUE);
        top += h;
    }
    HWND panels[2] = {gFrame.settingsPanel, gFrame.debugPanel};
    int shown[2] = {gSettings.ShowSettings, gSettings.ShowDebugger};
    for (int i = 0; i < 2; i++) {
        /* The settings panel wraps its last fields to a row of their own
        ** where the frame is too narrow for them. */
        int h = i == 0 && panels[0] && shown[0] ? SettingsPanelHeight(width) : BandHeight(panels[i], shown[i]);
        if (h) {
            MoveWindow(panels[i], 0, top, width, h, TRUE);
            top += h;
        }
    }
    int bottom = client.bottom;
    if (gFrame.statusBar && gSettings.ShowStatusBar) {
        SendMessageA(gFrame.statusBar, WM_SIZE, 0, 0);
        bottom -= BandHeight(gFrame.statusBar, 1);
        SetStatusParts();
    }
    int strip = 0;
    if (gFrame.tabs) {
        strip = gSettings.ShowTabBar ? 2 * GetSystemMetrics(SM_CYBORDER) + GetSystemMetrics(SM_CYCAPTION) : 0;
        MoveWindow(gFrame.tabs, 0, top, width, bottom - top, TRUE);
        ShowWindow(gFrame.tabs, gSettings.ShowTabBar ? SW_SHOW : SW_HIDE);
    }
    int inset = gSettings.ShowTabBar ? 3 : 0;
    int mdiTop = top + (strip ? strip + 1 : 0);
    if (gFrame.mdiClient) {
        MoveWindow(gFrame.mdiClient, inset, mdiTop, width - 2 * inset, bottom - mdiTop, TRUE);
        SetWindowPos(gFrame.mdiClient, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        /* Children that lie out of reach come back to the visible area. */
        RECT mdi;
        GetClientRect(gFrame.mdiClient, &mdi);
        for (HWND child = GetWindow(gFrame.mdiClient, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (IsIconic(child) || IsZoomed(child)) continue;
            RECT r;
            GetWindowRect(child, &r);
            MapWindowPoints(nullptr, gFrame.mdiClient, (POINT *)&r, 2);
            int x = r.left, y = r.top;
            if (mdi.right > 128 && x > mdi.right - 128) x = mdi.right - 128;
            if (mdi.bottom > 32 && y > mdi.bottom - 32) y = mdi.bottom - 32;
            if (x != r.left || y != r.top) SetWindowPos(child, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        }
    }
    gSettings.fMaximized = IsZoomed(gFrame.frame) ? 1 : 0;
    if (!gSettings.fMaximized) {
        RECT w;
        GetWindowRect(gFrame.frame, &w);
        gSettings.iMainW = w.right - w.left;
        gSettings.iMainH = w.bottom - w.top;
    }
}

/* ---- opening files --------------------------------------------------------------------------- */

int OpenFileByType(const char *path, int left, int top, int width, int height)
{
    char taken[PATH_SIZE], clean[PATH_SIZE];
    if (!CopyPathToken(taken, path)) {
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    UnquotePath(taken, clean, sizeof clean);
    if (!ExpandPathMacros(clean, nullptr)) return 0;
    if (!PlatFileExists(clean)) {
        ReportError("Unable to access %s.", clean);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    const char *dot = strrchr(clean, '.');
    const char *ext = dot ? dot : "";
    if (CompareNoCase(ext, ".kvd") == 0) {
        CopyString(gSettings.DataFile, sizeof gSettings.DataFile, clean, -1);
        ShowDataFileInPanel();
        ClearStopRequest(); /* a load the user asked for */
        return LoadData(0);
    }
    int opened;
    if (CompareNoCase(ext, ".kvs") == 0)
        opened = OpenScript(clean, nullptr);
    else if (CompareNoCase(ext, ".kvr") == 0)
        opened = OpenResultsWindow(clean);
    else if (CompareNoCase(ext, ".csv") == 0 && gSettings.CsvListView)
        opened = OpenCsvAsList(nullptr, clean);
    else
        opened = OpenLogFile(clean);
    /* Every kind takes the placement the same way: the window it opened (the
    ** active one) moves there; a corner at CW_USEDEFAULT keeps the system's. */
    HWND child = gFrame.activeChild;
    if (opened && child && width > 0 && height > 0) {
        const int keepCorner = left == CW_USEDEFAULT || top == CW_USEDEFAULT;
        SetWindowPos(child, nullptr, keepCorner ? 0 : left, keepCorner ? 0 : top, width, height,
                     SWP_NOZORDER | SWP_NOACTIVATE | (keepCorner ? SWP_NOMOVE : 0));
    }
    return opened;
}

/* A second start names one file or several; each is opened. */
int OpenHandOffText(const char *text)
{
    std::vector<std::string> tokens;
    SplitCommandLine(text, &tokens);
    int opened = 0;
    for (const std::string &token : tokens)
        opened += OpenFileByType(token.c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0) ? 1 : 0;
    return !tokens.empty() && opened > 0;
}

/* Files handed over or dropped while a run was going: a data file opened then
** would unload the data the run is using, a script would change what it runs
** on.  They open once the program is idle again; a timer makes sure the main
** loop gets a message then. */
static std::vector<std::string> sWaitingHandOffs;
enum { HANDOFF_TIMER = 0x4F70, HANDOFF_TIMER_MS = 250, HANDOFF_ANSWER_MS = 5000 };

static void WaitForIdle(const std::string &text)
{
    sWaitingHandOffs.push_back(text);
    if (gFrame.frame) SetTimer(gFrame.frame, HANDOFF_TIMER, HANDOFF_TIMER_MS, nullptr);
}

/* The files open from the main loop, never inside the hand-off itself: the
** second start waits for the answer, and an opening may ask the user (a file
** that cannot be found, a script with unsaved changes) or load a data file. */
int TakeHandOff(HWND frame, const char *text)
{
    /* A batch copy closes with its batch: what it opened would not stay
    ** open, and it is not the user's window. */
    if (gRun.unattended) return 0;
    SetForegroundWindow(frame);
    if (IsIconic(frame)) ShowWindow(frame, SW_RESTORE);
    WaitForIdle(text);
    PostMessageA(frame, WM_NULL, 0, 0); /* the main loop's next message */
    return 1;
}

void OpenWaitingHandOffs()
{
    /* In the order they came; what comes while one opens (a data file loads
    ** for a while) waits behind it. */
    while (!sWaitingHandOffs.empty() && gRun.state.load() == RUN_IDLE) {
        const std::string text = sWaitingHandOffs.front();
        sWaitingHandOffs.erase(sWaitingHandOffs.begin());
        OpenHandOffText(text.c_str());
    }
    if (sWaitingHandOffs.empty() && gFrame.frame) KillTimer(gFrame.frame, HANDOFF_TIMER);
}

/* Each running copy is asked in turn until one takes the command line.  A
** copy that does not answer in time (hung, or an older one busy opening) is
** passed by: this start then opens the files as a copy of its own rather
** than wait without end. */
int HandOffToRunningCopy(const char *commandLine)
{
    COPYDATASTRUCT data = {999, (DWORD)(strlen(commandLine) + 1), (void *)commandLine};
    for (HWND running = FindWindowExA(nullptr, nullptr, "KestovarFrame", nullptr); running;
         running = FindWindowExA(nullptr, running, "KestovarFrame", nullptr)) {
        DWORD_PTR taken = 0;
        if (SendMessageTimeoutA(running, WM_COPYDATA, 0, (LPARAM)&data, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                HANDOFF_ANSWER_MS, &taken) &&
            taken)
            return 1;
    }
    return 0;
}

void RestoreOpenFiles(const char *settingsPath)
{
    IniFile ini = {};
    if (!IniOpen(&ini, settingsPath, 0)) return;
    HWND starred = nullptr;
    if (IniSection(&ini, "OpenFiles")) {
        char text[64];
        IniGetString(&ini, "FILE_COUNT", "0", text, sizeof text);
        int count = atoi(text);
        RECT client = {};
        GetClientRect(gFrame.mdiClient, &client);
        for (int n = count; n >= 1; n--) {
            char key[32], path[PATH_SIZE], place[64];
            FormatText(key, sizeof key, "FILE_%d_PATH", n);
            IniGetString(&ini, key, "", path, sizeof path);
            if (!path[0]) continue;
            FormatText(key, sizeof key, "FILE_%d_WINDOW", n);
            IniGetString(&ini, key, "", place, sizeof place);
            OpenFilePlacement p;
            ParseOpenFilePlacement(place, client.right, client.bottom, &p);
            int x = p.x == PLACE_DEFAULT ? CW_USEDEFAULT : p.x, y = p.y == PLACE_DEFAULT ? CW_USEDEFAULT : p.y;
            int w = p.w == PLACE_DEFAULT ? CW_USEDEFAULT : p.w, h = p.h == PLACE_DEFAULT ? CW_USEDEFAULT : p.h;
            /* A place that no longer fits the client keeps the system's. */
            if (!OpenFileByType(path, x, y, w == CW_USEDEFAULT ? 0 : w, h)) continue;
            HWND child = gFrame.activeChild;
            if (child && p.showState == SW_SHOWMINIMIZED) {
                WINDOWPLACEMENT wp = {};
                wp.length = sizeof wp;
                GetWindowPlacement(child, &wp);
                wp.showCmd = SW_SHOWMINIMIZED;
                SetWindowPlacement(child, &wp);
            } else if (child && p.showState == SW_SHOWMAXIMIZED) {
                SendMessageA(gFrame.mdiClient, WM_MDIMAXIMIZE, (WPARAM)child, 0);
            }
            if (p.active) starred = child;
        }
    }
    IniClose(&ini);
    if (starred && IsWindow(starred)) SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)starred, 0);
}

/* The file a window shows that reopens it at the next start: a script (not a
** test's own script), a log, a results file or a CSV list; 0 for a window
** without one. */
static int OpenFileWindowPath(HWND child, char *path, int size)
{
    path[0] = 0;
    switch (FindWindowKind(child)) {
    case WK_SCRIPT: {
        EditorRecord *record = GetEditorRecord(child);
        if (record && !record->test) CopyString(path, size, record->path, -1);
        break;
    }
    case WK_LOG: LogWindowPath(child, path, size); break;
    case WK_RESULTS: {
        ResultsWindow *list = ResultsListOf(child);
        if (list) CopyString(path, size, list->path, -1);
        break;
    }
    case WK_LIST: ListWindowPath(child, path, size); break;
    default: break;
    }
    return path[0] != 0;
}

/* The windows to reopen at the next start, from the last tab to the first. */
static int ListOpenFileWindows(OpenFileWindow *out, int max)
{
    int count = 0;
    int tabs = gFrame.tabs ? TabCtrl_GetItemCount(gFrame.tabs) : 0;
    for (int i = tabs - 1; i >= 0 && count < max; i--) {
        TCITEMA item = {};
        item.mask = TCIF_PARAM;
        if (!TabCtrl_GetItem(gFrame.tabs, i, &item)) continue;
        HWND child = (HWND)item.lParam;
        OpenFileWindow *w = &out[count];
        if (!OpenFileWindowPath(child, w->path, sizeof w->path)) continue;
        WINDOWPLACEMENT wp = {};
        wp.length = sizeof wp;
        GetWindowPlacement(child, &wp);
        w->active = child == gFrame.activeChild;
        w->left = wp.rcNormalPosition.left;
        w->top = wp.rcNormalPosition.top;
        w->width = wp.rcNormalPosition.right - wp.rcNormalPosition.left;
        w->height = wp.rcNormalPosition.bottom - wp.rcNormalPosition.top;
        w->showState = IsZoomed(child) ? SW_SHOWMAXIMIZED : (int)wp.showCmd;
        count++;
    }
    return count;
}

int QuerySaveAll(int closing)
{
    SettingsPanelToSettings();
    if (gFrame.debugPanel) DialogToSettings(gFrame.debugPanel, IDD_DEBUG_PANEL, 0);
    SaveSettings(gFrame.settingsPath);
    return QuerySaveScripts(closing ? 1 : 0) && QuerySaveLogs(closing ? 1 : 0) &&
        QuerySaveResultsWindows(closing ? 1 : 0);
}

/* ---- editor commands --------------------------------------------------------------------------- */

LRESULT SendToActiveChild(UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND editor = GetFocusedEditor();
    if (!editor) return 0;
    if (!IsEditorComponent(editor)) {
        /* The plain text control that stands in for the editor component
        ** knows the window messages, not the editor's own. */
        if (message == SCI_UNDO) return SendMessageA(editor, EM_UNDO, 0, 0);
        if (message == SCI_REDO) return 0;
        if (message == SCI_SETSEL) return SendMessageA(editor, EM_SETSEL, 0, -1);
    }
    return SendMessageA(editor, message, 0, lParam);
}

/* ---- commands ----------------------------------------------------------------------------------- */

static void TogglePanel(int32_t *flag, HWND panel)
{
    *flag = !*flag;
    if (panel) {
        ShowWindow(panel, *flag ? SW_SHOW : SW_HIDE);
        InvalidateRect(panel, nullptr, TRUE);
    }
    InvalidateRect(gFrame.mdiClient, nullptr, TRUE);
    LayoutFrame();
    PostMessageA(gFrame.mdiClient, WM_MDIICONARRANGE, 0, 0);
}

/* Help that cannot be shown says why, rather than leaving F1 without an answer. */
void OpenHelp(int context)
{
    if (!PlatFileExists(gFrame.helpPath)) {
        ReportError("Help is not available: the help file %s is missing.", gFrame.helpPath);
        return;
    }
    /* The wide viewer: a program folder outside the code page still names
    ** the help file. */
    typedef HWND(WINAPI * HtmlHelpFn)(HWND, LPCWSTR, UINT, DWORD_PTR);
    static HMODULE library = LoadLibraryA("hhctrl.ocx");
    HtmlHelpFn help = library ? (HtmlHelpFn)(void *)GetProcAddress(library, "HtmlHelpW") : nullptr;
    if (!help) {
        ReportError("Help is not available: the HTML Help viewer (hhctrl.ocx) could not be loaded.");
        return;
    }
    if (!help(gFrame.frame, WideFromText(gFrame.helpPath).c_str(), 0x000F /* HH_HELP_CONTEXT */, (DWORD_PTR)context))
        ReportError("Help topic %d could not be opened from the help file %s.", context, gFrame.helpPath);
}

static void TileAllOfKind()
{
    if (!gFrame.activeChild) return;
    char name[64];
    GetClassNameA(gFrame.activeChild, name, sizeof name);
    if (IsZoomed(gFrame.activeChild)) SendMessageA(gFrame.mdiClient, WM_MDIRESTORE, (WPARAM)gFrame.activeChild, 0);
    HWND windows[32];
    int count = 0;
    HWND child = nullptr;
    while (count < 32 && FindNextChildWindow(&child, name)) windows[count++] = child;
    RECT client;
    GetClientRect(gFrame.mdiClient, &client);
    for (int i = 0; i < count; i++) {
        int h = client.bottom / count;
        if (IsIconic(windows[i])) ShowWindow(windows[i], SW_RESTORE);
        SetWindowPos(windows[i], nullptr, 0, i * h, client.right, h, SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

static void CloseAllOfKind()
{
    if (!gFrame.activeChild) return;
    char name[64];
    GetClassNameA(gFrame.activeChild, name, sizeof name);
    HWND child = nullptr;
    while (FindNextChildWindow(&child, name)) PostMessageA(child, WM_CLOSE, 0, 0);
}

static void OpenWithChooser()
{
    char path[PATH_SIZE] = "";
    if (!BrowseForFile(path, nullptr, "Open Kestovar File", (const char *)&gSettings.FileOpenType, nullptr, 0)) return;
    if (OpenFileByType(path, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0))
        UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
}

static void SaveImageAs()
{
    if (!gFrame.activeChild) return;
    char title[PATH_SIZE];
    GetWindowTitle(gFrame.activeChild, title, sizeof title);
    char *bracket = strchr(title, '[');
    if (bracket) *bracket = 0;
    int n = (int)strlen(title);
    while (n > 0 && title[n - 1] == ' ') title[--n] = 0;
    FormatText(ImagePath, sizeof ImagePath, "%s.png", title);
    if (!BrowseForFile(ImagePath, gFrame.imageFolder, "Save As Image", "PNG", "PNG", 1)) return;
    ImageRequest = IMAGE_SAVE_PNG;
    InvalidateRect(gFrame.activeChild, nullptr, FALSE);
}

static void StopRun()
{
    /* Nothing to stop while idle; a Stop then must not leave a stop request
    ** that the next run would find at its first look. */
    if (gRun.state.load() == RUN_IDLE) return;
    if (gSettings.ConfirmStop) {
        char name[32];
        GetRunTypeName(gRun.state.load(), gRun.mode, name, sizeof name);
        if (MessageBoxFormat(MB_YESNO | MB_ICONQUESTION, "Stop the %s?", name) != IDYES) return;
    }
    RequestStop();
}

int DispatchFrameCommand(int id)
{
    HWND child = gFrame.activeChild;
    int idle = gRun.state.load() == RUN_IDLE;
    int mode = RunModeOfCommand(id);
    /* A run or load the user starts begins without the stop of an earlier one. */
    if (idle && (mode >= 0 || id == IDM_LOAD_DATA || id == IDM_SELECT_DATA)) ClearStopRequest();
    if (mode >= 0) {
        if (idle) RunScript(mode);
        return 1;
    }
    switch (id) {
    case IDM_LOAD_DATA:
    case IDM_SELECT_DATA:
        if (idle) LoadData(id == IDM_SELECT_DATA);
        return 1;
    case IDM_WINDOW_LIST:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_WINDOW_LIST), gFrame.frame, WindowListDlgProc, 0);
        return 1;
    case IDM_LOG_DATA_INFO: LogDataInfo(); return 1;
    case IDM_UNLOAD_DATA:
        if (idle && CloseDataWindows()) UnloadData();
        return 1;
    case IDM_SHOW_CHART:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_SHOW_CHART), gFrame.frame, ChartChangeSymbolDlgProc, 0);
        return 1;
    case IDM_COPY: SendToActiveChild(WM_COPY, 0, 0); return 1;
    case IDM_CUT: SendToActiveChild(WM_CUT, 0, 0); return 1;
    case IDM_DELETE: SendToActiveChild(WM_CLEAR, 0, 0); return 1;
    case IDM_PASTE: SendToActiveChild(WM_PASTE, 0, 0); return 1;
    case IDM_REDO: SendToActiveChild(SCI_REDO, 0, 0); return 1;
    case IDM_UNDO: SendToActiveChild(SCI_UNDO, 0, 0); return 1;
    case IDM_SELECT_ALL: SendToActiveChild(SCI_SETSEL, 0, (LPARAM)-1); return 1;
    case IDM_FIND:
    case IDM_FIND_NEXT:
        if (child && IsListKind(FindWindowKind(child)))
            FindInList(child, id == IDM_FIND);
        else if (child && IsEditorWindow(child) && id == IDM_FIND)
            FindReplaceInEditor(child, 1, 0);
        else if (child && IsEditorWindow(child))
            FindNextInEditor(child);
        return 1;
    case IDM_REPLACE:
        if (child && IsEditorWindow(child)) FindReplaceInEditor(child, 1, 1);
        return 1;
    case IDM_OPEN_UNDER_CURSOR:
        if (child && FindWindowKind(child) == WK_SCRIPT) GetFileAtCaret(child, nullptr);
        return 1;
    case IDM_FIND_IN_FILES: OpenFindInFiles(); return 1;
    case IDM_EXIT: PostMessageA(gFrame.frame, WM_CLOSE, 0, 0); return 1;
    case IDM_NEW_LOG: OpenLogFile(nullptr); return 1;
    case IDM_NEW_RESULTS: OpenResultsWindow(nullptr); return 1;
    case IDM_NEW_SCRIPT: OpenScript(nullptr, nullptr); return 1;
    case IDM_OPEN: OpenWithChooser(); return 1;
    case IDM_SAVE_ALL: QuerySaveAll(0); return 1;
    case IDM_ABOUT:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_ABOUT), gFrame.frame, AboutDlgProc, 0);
        return 1;
    case IDM_HELP_TOPICS: OpenHelp(HELP_TOPIC_CONTENTS); return 1;
    case IDM_COPY_LIST:
        if (child) CopyListView(child, nullptr);
        return 1;
    case IDM_COPY_ROW:
        if (child) CopyListView(child, (void *)-1);
        return 1;
    case IDM_SAVE_LIST_CSV:
        if (child) SaveListCsv(child, nullptr);
        return 1;
    case IDM_STOP: StopRun(); return 1;
    case IDM_DEBUG_PANEL: TogglePanel(&gSettings.ShowDebugger, gFrame.debugPanel); return 1;
    case IDM_SETTINGS_PANEL: TogglePanel(&gSettings.ShowSettings, gFrame.settingsPanel); return 1;
    case IDM_TOOL_BAR:
        if (!gSettings.ShowToolBar) {
            gSettings.ShowToolBar = 1;
            UpdateFrameMenus(gFrame.frame, 0);
            gSettings.ShowToolBar = 0;
        }
        TogglePanel(&gSettings.ShowToolBar, gFrame.rebar);
        return 1;
    case IDM_STATUS_BAR:
        TogglePanel(&gSettings.ShowStatusBar, gFrame.statusBar);
        if (gSettings.ShowStatusBar) ResetStatusBar(0);
        return 1;
    case IDM_WINDOW_TABS: TogglePanel(&gSettings.ShowTabBar, gFrame.tabs); return 1;
    case IDM_CASCADE: SendMessageA(gFrame.mdiClient, WM_MDICASCADE, 0, 0); return 1;
    case IDM_TILE: SendMessageA(gFrame.mdiClient, WM_MDITILE, MDITILE_HORIZONTAL, 0); return 1;
    case IDM_CLOSE_ALL_KIND: CloseAllOfKind(); return 1;
    case IDM_TILE_ALL_KIND: TileAllOfKind(); return 1;
    case IDM_COPY_IMAGE:
        if (child) {
            ImageRequest = IMAGE_CLIPBOARD;
            InvalidateRect(child, nullptr, FALSE);
        }
        return 1;
    case IDM_SAVE_IMAGE: SaveImageAs(); return 1;
    case IDM_PROGRAM_OPTIONS:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_PROGRAM_OPTIONS), gFrame.frame, ProgramOptionsDlgProc, 0);
        return 1;
    case IDM_REPORT_OPTIONS:
        DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_REPORT_OPTIONS), gFrame.frame, ReportOptionsDlgProc, 0);
        return 1;
    case IDM_CHECK_UPDATES:
        gFrame.manualCheck = 1;
        SetWaitCursor(1);
        StartVersionCheck();
        return 1;
    case IDM_RELEASE_NOTES: {
        char url[300];
        FormatText(url, sizeof url, "%s/ReleaseNotes.txt", kUpdateServer);
        OpenWithSystem(gFrame.frame, url, nullptr, nullptr);
        return 1;
    }
    default: break;
    }
    int route = RouteOtherCommand(id);
    if (route == ROUTE_RECENT_FILE) {
        HMENU menu = GetMenu(gFrame.frame);
        HMENU file = menu ? FindSubMenuByText(menu, "&File") : nullptr;
        char text[300];
        if (file && GetMenuStringA(file, (UINT)id, text, sizeof text, MF_BYCOMMAND) > 0)
            OpenFileByType(RecentFileItemPath(text), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0);
        return 1;
    }
    if (route == ROUTE_NOT_HANDLED) return 0;
    if (child && gFrame.activeKind > 0 && gWindowKinds[gFrame.activeKind].command) {
        gWindowKinds[gFrame.activeKind].command(child, id);
        return KindCommandResult(id);
    }
    return 0;
}

/* ---- frame procedure ------------------------------------------------------------------------------ */

static int CreateFrameParts(HWND frame)
{
    gFrame.frame = frame;
    /* Every save of the settings file lists the windows open then (a run
    ** saves before it starts), so a crash or a forced end leaves the
    ** workspace of the last save, not an empty one. */
    gListOpenFileWindows = ListOpenFileWindows;
    CLIENTCREATESTRUCT ccs = {};
    ccs.hWindowMenu = GetSubMenu(gFrame.frameMenu, 5);
    ccs.idFirstChild = 1000;
    gFrame.mdiClient = CreateWindowExA(WS_EX_CLIENTEDGE, "MDICLIENT", nullptr,
                                       WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_VSCROLL | WS_HSCROLL, 0, 0, 0, 0,
                                       frame, nullptr, gFrame.instance, &ccs);
    if (!gFrame.mdiClient) return 0;
    CreateToolbar(frame);
    CreateWindowTabs(frame);
    gFrame.statusBar = CreateWindowExA(0, STATUSCLASSNAMEA, nullptr, WS_CHILD | SBARS_SIZEGRIP, 0, 0, 0, 0, frame,
                                       nullptr, gFrame.instance, nullptr);
    ForgetStatusTexts(); /* those of an earlier frame's bar */
    if (gFrame.statusBar && gSettings.ShowStatusBar) {
        ShowWindow(gFrame.statusBar, SW_SHOW);
        SetStatusParts();
        ResetStatusBar(0);
    }
    gFrame.settingsPanel = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_SETTINGS_PANEL), frame,
                                              SettingsPanelDlgProc, 0);
    gFrame.debugPanel = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_DEBUG_PANEL), frame,
                                           DebugPanelDlgProc, 0);
    gFrame.modeless[0] = gFrame.settingsPanel;
    gFrame.modeless[1] = gFrame.settingsPanel ? gFrame.debugPanel : nullptr;
    DrawMenuBar(frame);
    DragAcceptFiles(frame, TRUE);
    return 1;
}

static void CloseFrame(HWND frame)
{
    if (gRun.state.load() != RUN_IDLE) {
        /* Windows that a run works in must outlive it: the run is asked to
        ** stop (unattended) or the user to wait; the frame stays. */
        if (gRun.unattended)
            RequestStop();
        else
            ReportError("Please wait for the currently running task to finish before closing Kestovar.");
        return;
    }
    /* Closing frees every test, which an export or a report answering
    ** messages meanwhile may be reading: it waits for them too. */
    if (CountTestHolds() > 0 && !gRun.unattended) {
        ReportError("Please wait for the currently running task to finish before closing Kestovar.");
        return;
    }
    if (!gRun.unattended && !QuerySaveAll(1)) return;
    DestroyWindow(frame);
}

static void ShowMenuHelp(WPARAM wParam, LPARAM lParam)
{
    if (gRun.state.load() != RUN_IDLE) return;
    UINT flags = HIWORD(wParam);
    /* The menu closed: the help of its last item no longer applies. */
    if (flags == 0xFFFF && !lParam) {
        SetStatusText(0, nullptr);
        return;
    }
    if (flags & MF_POPUP)
        ResetStatusBar(0);
    else if (LOWORD(wParam))
        ResetStatusBar(LOWORD(wParam));
}

static void RecordPopupHelp(HMENU popup)
{
    static const struct {
        const char *title;
        int help;
    } kPopups[] = {{"&File", HELP_TOPIC_FILE_MENU}, {"&Edit", HELP_TOPIC_EDIT_MENU}, {"&View", HELP_TOPIC_VIEW_MENU}, {"&Run", HELP_TOPIC_RUN_MENU}, {"&Window", HELP_TOPIC_WINDOW_MENU}, {"&Help", HELP_TOPIC_HELP_MENU}, {"&Data", HELP_TOPIC_DATA_MENU}};
    HMENU bar = GetMenu(gFrame.frame);
    int count = bar ? GetMenuItemCount(bar) : 0;
    for (int i = 0; i < count; i++) {
        if (GetSubMenu(bar, i) != popup) continue;
        char title[64];
        GetMenuStringA(bar, (UINT)i, title, sizeof title, MF_BYPOSITION);
        for (const auto &p : kPopups)
            if (strcmp(p.title, title) == 0) gFrame.helpContext = p.help;
        for (int row = 1; row < WK_COUNT; row++)
            if (strcmp(gWindowKinds[row].label, title) == 0) gFrame.helpContext = (int)gWindowKinds[row].helpId;
    }
    SetMenuItemBitmaps(popup);
}

static void OnDropFiles(HDROP drop)
{
    UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; i++) {
        /* In the program's UTF-8, as every name it takes. */
        /* Room for a path's letters, two wide characters each at most. */
        WCHAR wide[PATH_SIZE];
        char path[PATH_SIZE * 2];
        if (!DragQueryFileW(drop, i, wide, PATH_SIZE) ||
            !TextFromWide(wide, path, sizeof path))
            continue;
        if (gRun.state.load() != RUN_IDLE)
            WaitForIdle(std::string("\"") + path + "\"");
        else
            OpenFileByType(path, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0);
    }
    DragFinish(drop);
}

LRESULT CALLBACK FrameWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: return CreateFrameParts(window) ? 0 : -1;
    case WM_DESTROY:
        /* The kinds' menus are loaded once and belong to the kind table, not
        ** to this window. */
        SetMenu(window, nullptr);
        gFrame.frame = nullptr;
        gFrame.mdiClient = nullptr;
        PostQuitMessage(0);
        return 0;
    case WM_MOVE:
        if (!IsZoomed(window) && !IsIconic(window)) {
            RECT r;
            GetWindowRect(window, &r);
            gSettings.iMainX = r.left;
            gSettings.iMainY = r.top;
        }
        break;
    case WM_SIZE:
        if (wParam != SIZE_MINIMIZED) LayoutFrame();
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            gFrame.focusOnDeactivate = GetFocus();
        else if (gFrame.focusOnDeactivate && IsWindow(gFrame.focusOnDeactivate))
            SetFocus(gFrame.focusOnDeactivate);
        break;
    case WM_CLOSE: CloseFrame(window); return 0;
    case WM_COMMAND:
        if (DispatchFrameCommand(LOWORD(wParam))) return 0;
        break;
    case WM_COPYDATA: {
        const COPYDATASTRUCT *data = (const COPYDATASTRUCT *)lParam;
        if (!data || data->dwData != 999) break;
        char text[1024];
        /* Only a terminated text that fits is taken. */
        if (!TakeHandOffText(data->lpData, data->cbData, text, sizeof text)) return 0;
        return TakeHandOff(window, text);
    }
    case WM_TIMER:
        if (wParam == HANDOFF_TIMER) {
            /* The main loop opens them; a run's own message pump only passes. */
            if (sWaitingHandOffs.empty()) KillTimer(window, HANDOFF_TIMER);
            return 0;
        }
        break;
    case WM_NOTIFYFORMAT: {
        /* The tab strip, asking as it is made, is told to notify in wide
        ** letters, so its tips ask for the titles' own. */
        WCHAR kind[32] = L"";
        if (lParam == NF_QUERY && GetClassNameW((HWND)wParam, kind, 32) && lstrcmpiW(kind, WC_TABCONTROLW) == 0)
            return NFR_UNICODE;
        break;
    }
    case WM_DROPFILES: OnDropFiles((HDROP)wParam); return 0;
    case WM_DRAWITEM:
        if (((DRAWITEMSTRUCT *)lParam)->hwndItem == gFrame.tabs) {
            DrawWindowTab((DRAWITEMSTRUCT *)lParam);
            return TRUE;
        }
        break;
    case WM_NOTIFY: {
        NMHDR *header = (NMHDR *)lParam;
        if (header->hwndFrom == gFrame.tabs || (gFrame.tabs && header->hwndFrom == TabCtrl_GetToolTips(gFrame.tabs)))
            return HandleTabNotify(header);
        if (header->code == TTN_GETDISPINFOA && gFrame.toolbar) {
            NMTTDISPINFOA *info = (NMTTDISPINFOA *)lParam;
            LoadStringA(gFrame.instance, (UINT)header->idFrom, info->szText, sizeof info->szText);
            return 0;
        }
        break;
    }
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP:
    case WM_SETCURSOR:
    case WM_PARENTNOTIFY:
        if (HandleTabMouse(message, wParam, lParam)) return TRUE;
        break;
    case WM_CONTEXTMENU: ShowTabContextMenu(lParam); return 0;
    case WM_INITMENU: UpdateFrameMenus(window, 1); return 0;
    case WM_INITMENUPOPUP: RecordPopupHelp((HMENU)wParam); return 0;
    case WM_MENUSELECT: ShowMenuHelp(wParam, lParam); return 0;
    case WM_HELP:
        if (((HELPINFO *)lParam)->iContextType == HELPINFO_MENUITEM)
            OpenHelp(gFrame.helpContext);
        else if (!gFrame.helpAnswered)
            PostMessageA(window, WM_COMMAND, IDM_HELP_TOPICS, 0);
        gFrame.helpAnswered = 0;
        return TRUE;
    case WM_FRAME_REFRESH: UpdateFrameMenus(window, 0); return 0;
    case WM_VERSION_ANSWER:
        SetWaitCursor(0);
        PumpMessages();
        RunUpdateCheck();
        gFrame.manualCheck = 0;
        return 0;
    default: break;
    }
    return DefFrameProcA(window, gFrame.mdiClient, message, wParam, lParam);
}
