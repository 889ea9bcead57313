/* winmain.cpp -- the program's entry: the hand-off to a running copy, the
** application's initialisation in its fixed order, the frame, the open files
** and the message loop; and the crash report. */
#include "shell/win32/shell_win32.h"

#include <dbghelp.h>
#include <ole2.h>

#include <cstring>

#include "foundation/win32/fonts.h"
#include "foundation/errors.h"
#include "foundation/folder_helpers.h"
#include "foundation/ini_file.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "script/compiler/compile_driver.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/eval/item_table.h"
#include "script/builtins/builtins.h"
#include "shell/command_line.h"
#include "shell/run_view_setup.h"
#include "marketdata/store/constituency.h"
#include "shell/frame_rules.h"
#include "shell/hold_points.h"
#include "services/services.h"
#include "shell/version_check.h"
#include "shell/win32/editor_host.h"
#include "shell/win32/script_window.h"
#include "views/scan_run.h"

#ifndef KV_VERSION_TEXT
#define KV_VERSION_TEXT "1.0.0.0"
#endif
#ifndef KV_BUILD_DATE
#define KV_BUILD_DATE 20261207
#endif
extern const char kVersionText[] = KV_VERSION_TEXT;
extern const int kBuildDate = KV_BUILD_DATE;

/* ---- crash report ------------------------------------------------------------------------------- */

LONG WINAPI CrashHandler(EXCEPTION_POINTERS *info)
{
    CONTEXT context = *info->ContextRecord;
    STACKFRAME64 frame = {};
    frame.AddrPC.Offset = context.Rip;
    frame.AddrPC.Mode = AddrModeFlat;
    frame.AddrFrame.Offset = context.Rbp;
    frame.AddrFrame.Mode = AddrModeFlat;
    frame.AddrStack.Offset = context.Rsp;
    frame.AddrStack.Mode = AddrModeFlat;
    HANDLE process = GetCurrentProcess(), thread = GetCurrentThread();
    /* Without the symbol handler the walker finds no module data and stops
    ** after the first frame. */
    SymInitialize(process, nullptr, TRUE);
    uint64_t addresses[CRASH_FRAMES];
    int count = 0;
    while (count < CRASH_FRAMES) {
        if (!StackWalk64(IMAGE_FILE_MACHINE_AMD64, process, thread, &frame, &context, nullptr,
                         SymFunctionTableAccess64, SymGetModuleBase64, nullptr))
            break;
        if (frame.AddrReturn.Offset == 0) break;
        addresses[count++] = frame.AddrReturn.Offset;
    }
    SymCleanup(process);
    char text[CRASH_TEXT_SIZE];
    FormatCrashReport(text, sizeof text, kVersionText, (uint32_t)info->ExceptionRecord->ExceptionCode, addresses, count);
    MessageBoxA(nullptr, text, "KESTOVAR ERROR", MB_OK | MB_ICONERROR);
    return EXCEPTION_EXECUTE_HANDLER;
}

/* ---- application initialisation ------------------------------------------------------------------ */

static int RegisterWindowClasses(HINSTANCE instance)
{
    static const struct {
        const char *name;
        WNDPROC procedure;
        int icon;
        int redraw;
    } kClasses[13] = {
        {"KestovarFrame", FrameWndProc, IDI_FRAME, 0},
        {"KestovarResults", ResultsWndProc, IDI_RESULTS, 0},
        {"KestovarTrades", TradeListWndProc, IDI_TRADES, 0},
        {"KestovarScan", ScanWndProc, IDI_SCAN, 0},
        {"KestovarCompare", CompareWndProc, IDI_COMPARE, 0},
        {"KestovarList", ListWndProc, IDI_COMPARE, 0},
        {"KestovarGraph", GraphWndProc, IDI_GRAPH, 1},
        {"KestovarPlot", TradePlotWndProc, IDI_PLOT, 1},
        {"KestovarResGraph", ResGraphWndProc, IDI_RESGRAPH, 1},
        {"KestovarChart", ChartWndProc, IDI_CHART, 1},
        {"KestovarScript", ScriptWndProc, IDI_SCRIPT, 0},
        {"KestovarLog", LogWndProc, IDI_LOG, 0},
        {"KestovarPopup", PopupNoticeWndProc, 0, 0},
    };
    for (const auto &c : kClasses) {
        WNDCLASSEXA wc = {};
        wc.cbSize = sizeof wc;
        wc.style = c.redraw ? CS_HREDRAW | CS_VREDRAW : 0;
        wc.lpfnWndProc = c.procedure;
        wc.hInstance = instance;
        wc.hIcon = c.icon ? LoadIconA(instance, MAKEINTRESOURCEA(c.icon)) : nullptr;
        wc.hCursor = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
        wc.hbrBackground = (HBRUSH)(COLOR_APPWORKSPACE + 1);
        wc.lpszClassName = c.name;
        if (!RegisterClassExA(&wc)) return 0;
    }
    return 1;
}

static int SystemDpi()
{
    typedef UINT(WINAPI * DpiFn)();
    HMODULE user = GetModuleHandleA("user32.dll");
    DpiFn dpi = user ? (DpiFn)(void *)GetProcAddress(user, "GetDpiForSystem") : nullptr;
    return dpi ? (int)dpi() : 96;
}

static BOOL CALLBACK AddMonitor(HMONITOR, HDC, LPRECT area, LPARAM param)
{
    UnionRect((RECT *)param, (RECT *)param, area);
    return TRUE;
}

static void ClampWindowPositions()
{
    if (gSettings.iMainW != 0) {
        RECT screen = {};
        EnumDisplayMonitors(nullptr, nullptr, AddMonitor, (LPARAM)&screen);
        if (IsRectEmpty(&screen)) SetRect(&screen, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        ClampFrameToScreen(&gSettings.iMainX, &gSettings.iMainY, &gSettings.iMainW, &gSettings.iMainH, screen.left,
                           screen.top, screen.right - screen.left, screen.bottom - screen.top);
        return;
    }
    gFrame.firstRun = 1;
    for (const SettingEntry *row = gSettingTable; row->key; row++) {
        if (strcmp(row->section, "WindowPositions") != 0 || row->type != ST_INT || !row->data) continue;
        char last = row->key[strlen(row->key) - 1];
        if (last == 'H' || last == 'W' || last == 'X' || last == 'Y') *(int32_t *)row->data = CW_USEDEFAULT;
    }
}

/* Reads one key from anywhere in the settings file; the default when the
** file is missing (a first run has none, which is no error). */
static void ReadSettingsKey(const char *key, const char *defaultValue, char *out, int size)
{
    CopyString(out, size, defaultValue, -1);
    if (!PlatFileExists(gFrame.settingsPath)) return;
    IniFile ini = {};
    if (!IniOpen(&ini, gFrame.settingsPath, 0)) return;
    IniGetString(&ini, key, defaultValue, out, size);
    IniClose(&ini);
}

int InitApplication(HINSTANCE instance)
{
    gFrame.instance = instance;
    gRun.uiThreadId = GetCurrentThreadId();
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_DATE_CLASSES | ICC_COOL_CLASSES | ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    if (!InitCommonControlsEx(&controls)) {
        ReportError("Can't initialize common controls.");
        return 0;
    }
    gFrame.findMessage = RegisterWindowMessageA("commdlg_FindReplace");
    if (!RegisterWindowClasses(instance) || !RegisterEditorClass(instance)) {
        ReportError("Unable to register window classes.");
        return 0;
    }
    gFrame.accelerators = LoadAcceleratorsA(instance, MAKEINTRESOURCEA(IDR_ACCELERATORS));
    for (int row = 0; row < WK_COUNT; row++)
        gWindowKinds[row].menu = LoadMenuA(instance, MAKEINTRESOURCEA(gWindowKinds[row].menuId));
    gFrame.frameMenu = gWindowKinds[WK_FRAME].menu;

    if (!gFrame.settingsPath[0]) FormatText(gFrame.settingsPath, sizeof gFrame.settingsPath, "%s\\kestovar.ini", gProgramFolder);
    char path[PATH_SIZE];
    ReadSettingsKey("KestovarPath", gProgramFolder, path, sizeof path);
    if (CompareNoCase(path, gProgramFolder) != 0) {
        CopyString(gProgramFolder, sizeof gProgramFolder, path, -1);
        FormatText(gFrame.settingsPath, sizeof gFrame.settingsPath, "%s\\kestovar.ini", gProgramFolder);
        PlatSetCurrentFolder(gProgramFolder);
    }
    CopyString(gSettingsFile, sizeof gSettingsFile, gFrame.settingsPath, -1);
    char dateFormat[16];
    ReadSettingsKey("DateFormat", "-1", dateFormat, sizeof dateFormat);
    if (PlatFileExists(gFrame.settingsPath))
        LoadSettings(gFrame.settingsPath);
    else
        ResetSettingsToDefaults();
    ApplyLegacyDateFormat(atoi(dateFormat), &gSettings.DateInputFormat, gSettings.DateDisplayFormat,
                          sizeof gSettings.DateDisplayFormat);
    ClampWindowPositions();
    RepairLoadedSettings(&gSettings.AccountSize, &gSettings.MaxMemPct, &gSettings.StatusBarFields);
    if (!gSettings.UserDllPath[0] || !CreateFolder(gSettings.UserDllPath))
        CopyString(gSettings.UserDllPath, sizeof gSettings.UserDllPath, gProgramFolder, -1);

    SetUpProgramFolders();
    PlatSetCurrentFolder(gScriptsFolder);
    if (gSettings.DataFile[0]) ExpandPathMacros(gSettings.DataFile, gDataFolder);
    if (gSettings.ActiveScript[0]) ExpandPathMacros(gSettings.ActiveScript, gScriptsFolder);
    FormatText(gFrame.helpPath, sizeof gFrame.helpPath, "%s\\Kestovar User Guide.chm", gProgramFolder);

    if (!InstallBuiltins()) return 0;
    InstallRunViewHooks();
    InstallGraphViewHooks();
    InstallDebugPanelHooks();
    InstallResultsViewHooks();
    for (int barSize = 0; barSize < BAR_SIZE_COUNT; barSize++)
        if (!InitDefaultDateList(&gStore.dateLists[barSize], barSize)) return 0;
    BuildCalendarSymbol();
    LoadConstituencyWhenPresent();
    if (!CheckItemTable()) return 0;

    gFrame.dpi = SystemDpi();
    HDC screen = GetDC(nullptr);
    gFrame.uiFont = CreateNamedFont("Verdana", -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72), FW_NORMAL);
    ReleaseDC(nullptr, screen);
    CreateDrawingResources();
    return 1;
}

/* ---- entry ------------------------------------------------------------------------------------------ */

static void OpenCommandLineFiles(const char *commandLine)
{
    std::vector<std::string> tokens;
    SplitCommandLine(commandLine, &tokens);
    for (size_t k = 0; k < tokens.size(); k++) {
        if (CompareNoCase(tokens[k].c_str(), "-inifile") == 0) {
            k++;
            continue;
        }
        OpenFileByType(tokens[k].c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0);
    }
}

/* The command line with every relative path that names something from the
** current folder made whole (PathFromCurrentFolder), as a user at a command
** prompt means it: start-up moves the current folder to the scripts folder,
** and a running copy that takes the line has a current folder of its own.
** Each path is quoted, so a blank in a name stays the name's. */
static std::string PathsFromHere(const char *commandLine)
{
    std::vector<std::string> tokens;
    SplitCommandLine(commandLine, &tokens);
    std::string line;
    for (const std::string &token : tokens) {
        if (!line.empty()) line += ' ';
        line += token[0] == '-' ? token : '"' + PathFromCurrentFolder(token) + '"';
    }
    return line;
}

/* The command line as the user typed it, in the program's UTF-8, without the
** program's own name (which the system's rules end at its closing quote or
** the first blank). */
static std::string CommandLineText()
{
    const WCHAR *line = GetCommandLineW();
    if (!line) return "";
    if (*line == L'"') {
        for (line++; *line && *line != L'"'; line++) {}
        if (*line) line++;
    } else {
        while (*line && *line != L' ' && *line != L'\t') line++;
    }
    while (*line == L' ' || *line == L'\t') line++;
    return TextFromWide(line);
}

/* The usage, where this line's errors go (the error log of a batch), and
** exit code 1, as the native program gives them. */
static int ReportUsage()
{
    char usage[1024];
    FormatText(usage, sizeof usage, kBatchUsage, "kestovar.exe");
    ReportError("%s", usage);
    SetResultCode(RESULT_BAD_SWITCH);
    return RESULT_BAD_SWITCH;
}

/* Steps after the frame exists; returns the process result. */
static int RunProgram(HINSTANCE instance, const char *commandLine)
{
    std::vector<std::string> tokens;
    SplitCommandLine(commandLine, &tokens);
    std::vector<const char *> args;
    for (const std::string &token : tokens) args.push_back(token.c_str());
    const int count = (int)args.size();
    /* A line with a mistake in it gets the usage, not a report about an
    ** empty settings path; a batch switch on it sends the usage to the
    ** error log, as the first pass would have set it to. */
    if (SettingsFileMissing(count, args.data())) {
        for (const char *arg : args)
            if (arg[0] == '-' && CompareNoCase(arg, "-inifile") != 0) gRun.unattended = 1;
        return ReportUsage();
    }
    if (!ParseCommandLineOptions(commandLine)) return gRun.resultCode.load();
    /* A batch that would run nothing and end is a mistake too: a scheduler
    ** whose script name came out empty must not see success.  A line that
    ** keeps the program open ("-noexit") opens its window instead. */
    if (gRun.unattended && gCommandLine.exitAfterBatch && BatchArgumentsRunNothing(count, args.data()))
        return ReportUsage();
    if (gSettingsFile[0]) CopyString(gFrame.settingsPath, sizeof gFrame.settingsPath, gSettingsFile, -1);
    gFrame.exitAfterBatch = gCommandLine.exitAfterBatch;
    if (!InitApplication(instance)) return gRun.resultCode.load() ? gRun.resultCode.load() : RESULT_STOPPED;
    HWND frame = CreateWindowExA(0, "KestovarFrame", "Kestovar", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                 gSettings.iMainX, gSettings.iMainY, gSettings.iMainW, gSettings.iMainH, nullptr,
                                 gFrame.frameMenu, instance, nullptr);
    if (!frame || !gFrame.mdiClient) {
        ReportError("Can't create main window.");
        return RESULT_STOPPED;
    }
    InitMessages(nullptr, frame, gProgramFolder);
    StartResultWindows();
    SetFrameTitle(nullptr);
    ShowWindow(frame, gFrame.exitAfterBatch ? SW_SHOWMINIMIZED : gSettings.fMaximized ? SW_SHOWMAXIMIZED
                                                                                      : SW_SHOWNORMAL);
    if (gSettings.ShowSettings && gFrame.settingsPanel) ShowWindow(gFrame.settingsPanel, SW_SHOW);
    if (gSettings.ShowDebugger && gFrame.debugPanel) ShowWindow(gFrame.debugPanel, SW_SHOW);
    LayoutFrame();
    PumpMessages();
    LoadMissingDefaultScripts();
    PumpMessages();
    if (gRun.unattended) {
        /* A batch that ends the program closes its scan windows with it. */
        gScanWindowGoesWithBatch = gFrame.exitAfterBatch;
        ClearStopRequest(); /* the batch begins */
        int result = RunBatchCommandLine(commandLine);
        if (result != 0) return result;
        if (gFrame.exitAfterBatch) return 0;
    } else {
        RestoreOpenFiles(gFrame.settingsPath);
        OpenCommandLineFiles(commandLine);
    }
    PostMessageA(frame, WM_FRAME_REFRESH, 0, 0);
    EnableSettingsPanelControls(0);
    UpdateDebugPanelControls();
    if (gSettings.CheckForUpdates) StartVersionCheck();
    if (gFrame.firstRun && !gRun.unattended && gFrame.settingsPanel)
        PostMessageA(gFrame.settingsPanel, WM_COMMAND, IDC_EDIT_SCRIPT, 0);
    MSG msg;
    int got;
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) > 0) DispatchAppMessage(&msg);
    return got < 0 ? -1 : 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    SetUnhandledExceptionFilter(CrashHandler);
    /* Names in the program's UTF-8, whatever the system's code page: the
    ** narrow command line would have lost every letter outside it. */
    const std::string typed = CommandLineText();
    /* The names are made whole here, before a running copy takes them: that
    ** copy looks for a relative name in its own scripts folder. */
    const std::string whole = PathsFromHere(typed.c_str());
    const char *line = whole.c_str();
    /* A copy that does not take the command line (a batch copy, which ends
    ** with its batch) leaves it to this start, which opens the files itself. */
    if (*line && *line != '-' && HandOffToRunningCopy(line)) return 0;
    ReadHoldPoint();
    char exe[MAX_PATH * 4] = "";
    PlatGetProgramPath(exe, sizeof exe);
    ProgramFolderFromPath(exe, gProgramFolder, sizeof gProgramFolder);
    /* Errors of the steps before the frame exists reach the user (or the error
    ** log in the program folder) too. */
    InitMessages(nullptr, nullptr, gProgramFolder);
    /* OLE is taken once here and given back once, on every way out. */
    HRESULT ole = OleInitialize(nullptr);
    int result = RunProgram(instance, line);
    if (SUCCEEDED(ole)) OleUninitialize();
    return result;
}
