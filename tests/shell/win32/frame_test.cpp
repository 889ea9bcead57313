#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "frame_fixture.h"
#include "platform/platform.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

std::string StatusText(int part)
{
    char text[300];
    GetStatusText(part, text, sizeof text);
    return text;
}

int Command(int id) { return (int)SendMessageA(gFrame.frame, WM_COMMAND, (WPARAM)id, 0); }

} // namespace

TEST_F(FrameTest, FrameHasItsBandsAndReadyStatus)
{
    EXPECT_NE(gFrame.mdiClient, nullptr);
    EXPECT_NE(gFrame.toolbar, nullptr);
    EXPECT_NE(gFrame.tabs, nullptr);
    EXPECT_NE(gFrame.statusBar, nullptr);
    EXPECT_EQ(gFrame.modeless[0], gFrame.settingsPanel);
    EXPECT_EQ(SendMessageA(gFrame.toolbar, TB_BUTTONCOUNT, 0, 0), TOOLBAR_BUTTONS);
    EXPECT_EQ(StatusText(0), "Ready");
    SetFrameTitle("%s", "demo.kvs");
    char title[128];
    GetWindowTextA(gFrame.frame, title, sizeof title);
    EXPECT_STREQ(title, "Kestovar - demo.kvs");
    gSettings.ShowStatusBar = 0;
    SetStatusText(1, "Test %d of %d", 1, 2);
    gSettings.ShowStatusBar = 1;
    EXPECT_EQ(StatusText(1), "");
    SetStatusText(1, "Test %d of %d", 1, 2);
    EXPECT_EQ(StatusText(1), "Test 1 of 2");
    ResetStatusBar(IDM_RUN_TEST);
    EXPECT_EQ(StatusText(0), "Run a test of the active script");
    EXPECT_EQ(SendMessageA(gFrame.statusBar, SB_GETPARTS, 0, 0), gSettings.StatusBarFields + 3);
}

/* However narrow the frame, the toolbar shows every button inside it: the
** buttons wrap onto more rows, and the windows below make room for them. */
TEST_F(FrameTest, TheToolbarKeepsEveryButtonInsideTheFrame)
{
    for (int width : {1000, 700, 420, 0}) { /* 0: as wide as the screen */
        SetWindowPos(gFrame.frame, nullptr, 0, 0, width ? width : GetSystemMetrics(SM_CXSCREEN), 700,
                     SWP_NOMOVE | SWP_NOZORDER);
        Pump();
        RECT client, mdi;
        GetClientRect(gFrame.frame, &client);
        GetWindowRect(gFrame.mdiClient, &mdi);
        MapWindowPoints(nullptr, gFrame.frame, (POINT *)&mdi, 2);
        for (int i = 0; i < TOOLBAR_BUTTONS; i++) {
            RECT r;
            ASSERT_TRUE(SendMessageA(gFrame.toolbar, TB_GETITEMRECT, (WPARAM)i, (LPARAM)&r));
            MapWindowPoints(gFrame.toolbar, gFrame.frame, (POINT *)&r, 2);
            EXPECT_LE(r.right, client.right) << "button " << i << " at width " << width;
            EXPECT_LE(r.bottom, mdi.top) << "button " << i << " at width " << width;
        }
    }
    HoldForScreenshot();
}

/* The settings panel's height as its resource gives it, in its own font:
** the band's height while its fields keep the resource's rows. */
static LONG PanelResourceHeight()
{
    HRSRC found = FindResourceA(gFrame.instance, MAKEINTRESOURCEA(IDD_SETTINGS_PANEL), (LPCSTR)RT_DIALOG);
    const WORD *words = found ? (const WORD *)LockResource(LoadResource(gFrame.instance, found)) : nullptr;
    if (!words) return 0;
    RECT r = {0, 0, 1, (LONG)words[12]}; /* cy of an extended template */
    MapDialogRect(gFrame.settingsPanel, &r);
    return r.bottom;
}

/* At the width a first run gets (three quarters of a 1280-px screen) every
** status part shows and every settings field lies inside the frame, the
** last fields on a row of their own; wide again, the panel is one row
** shorter and its fields back in their rows. */
/* The settings panel's resource in a second font set: the same template with
** its face and size replaced (a face of the resource face's length, so the
** controls after it keep their places), for the panel to be made again in. */
static std::vector<DWORD> PanelTemplateInAnotherFont(const WCHAR *face, WORD pointSize)
{
    HRSRC found = FindResourceA(gFrame.instance, MAKEINTRESOURCEA(IDD_SETTINGS_PANEL), (LPCSTR)RT_DIALOG);
    if (!found) return {};
    const DWORD size = SizeofResource(gFrame.instance, found);
    const void *resource = LockResource(LoadResource(gFrame.instance, found));
    if (!resource) return {};
    std::vector<DWORD> copy((size + 3) / 4);
    memcpy(copy.data(), resource, size);
    WORD *words = (WORD *)copy.data();
    if (words[0] != 1 || words[1] != 0xFFFF) return {}; /* an extended template */
    size_t at = 13;                                     /* past the fixed head, in words */
    for (int field = 0; field < 3; field++) {           /* menu, class, title */
        if (words[at] == 0xFFFF)
            at += 2;
        else
            while (words[at++]) {}
    }
    WCHAR *named = (WCHAR *)&words[at + 3]; /* past size, weight, italic and character set */
    if (lstrlenW(named) != lstrlenW(face)) return {};
    words[at] = pointSize;
    memcpy(named, face, (size_t)lstrlenW(face) * sizeof(WCHAR));
    return copy;
}

/* At the width a first run gets (three quarters of a 1280-px screen) every
** status part shows and every settings field lies inside the frame, the
** last fields on a row of their own; wide again, the panel is one row
** shorter and its fields back in their rows.  In the resource's font and in
** a second face and size, the panel made again in it. */
TEST_F(FrameTest, TheFirstRunWidthShowsEveryStatusPartAndSettingsField)
{
    /* Holds for any font the machine offers: the band wraps its fields to a
    ** second row exactly when, in the font the panel measures, one row no
    ** longer fits, and no two fields overlap. */
    const auto checkWidths = [](const char *fontSet) {
        RECT wideBand = {};
        LONG oneRowRight = 0; /* the fields' right end at the widest frame */
        ASSERT_GT(PanelResourceHeight(), 0);
        for (int width : {1200, 960, 1200}) {
            SCOPED_TRACE(testing::Message() << fontSet << ", width " << width);
            SetWindowPos(gFrame.frame, nullptr, 0, 0, width, 700, SWP_NOMOVE | SWP_NOZORDER);
            Pump();
            RECT client, bar, band;
            GetClientRect(gFrame.frame, &client);
            GetClientRect(gFrame.statusBar, &bar);
            const int parts = (int)SendMessageA(gFrame.statusBar, SB_GETPARTS, 0, 0);
            ASSERT_EQ(parts, gSettings.StatusBarFields + 3);
            for (int i = 0; i < parts; i++) {
                RECT r;
                ASSERT_TRUE(SendMessageA(gFrame.statusBar, SB_GETRECT, (WPARAM)i, (LPARAM)&r));
                EXPECT_LE(r.right, bar.right) << "part " << i;
                EXPECT_GT(r.right - r.left, 40) << "part " << i;
            }
            std::vector<std::pair<int, RECT>> fields;
            LONG right = 0;
            RECT shownBand;
            GetWindowRect(gFrame.settingsPanel, &shownBand);
            MapWindowPoints(nullptr, gFrame.frame, (POINT *)&shownBand, 2);
            for (HWND c = GetWindow(gFrame.settingsPanel, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
                RECT r;
                GetWindowRect(c, &r);
                MapWindowPoints(nullptr, gFrame.frame, (POINT *)&r, 2);
                EXPECT_LE(r.right, client.right) << "control " << GetDlgCtrlID(c);
                if (!IsWindowVisible(c)) continue;
                EXPECT_LE(r.bottom, shownBand.bottom) << "control " << GetDlgCtrlID(c) << " below the band";
                if (r.right > right) right = r.right;
                /* A spin box sits on its buddy's edge. */
                char kind[32] = "";
                GetClassNameA(c, kind, sizeof kind);
                if (strcmp(kind, UPDOWN_CLASSA) != 0) fields.push_back({GetDlgCtrlID(c), r});
            }
            EXPECT_GT(fields.size(), 10u) << "the panel's fields show";
            for (size_t i = 0; i < fields.size(); i++)
                for (size_t j = i + 1; j < fields.size(); j++) {
                    RECT both;
                    EXPECT_FALSE(IntersectRect(&both, &fields[i].second, &fields[j].second))
                        << "controls " << fields[i].first << " and " << fields[j].first;
                }
            GetWindowRect(gFrame.settingsPanel, &band);
            if (width == 1200 && !wideBand.bottom) {
                wideBand = band;
                oneRowRight = right;
            }
            /* Where the widest frame still shows the resource's rows. */
            if (width == 960 && oneRowRight > client.right && wideBand.bottom - wideBand.top == PanelResourceHeight()) {
                EXPECT_GT(band.bottom - band.top, wideBand.bottom - wideBand.top);
            }
            if (width == 960) {
                EXPECT_GE(band.bottom - band.top, wideBand.bottom - wideBand.top);
            }
            if (width == 1200) {
                EXPECT_EQ(band.bottom - band.top, wideBand.bottom - wideBand.top);
            }
        }
    };
    /* Shown, as the program's start shows it: a hidden panel's fields are
    ** not looked at. */
    gSettings.ShowSettings = 1;
    ShowWindow(gFrame.settingsPanel, SW_SHOW);
    checkWidths("the resource's font");
    HoldForScreenshot();

    /* The panel's controls take their sizes from its font when it is made,
    ** so the second font set makes the panel again: a serif face a size
    ** larger (the system's fallback where the machine lacks it). */
    const std::vector<DWORD> second = PanelTemplateInAnotherFont(L"DejaVu Serif", 10);
    ASSERT_FALSE(second.empty());
    RECT firstField, again;
    GetWindowRect(GetWindow(gFrame.settingsPanel, GW_CHILD), &firstField);
    DestroyWindow(gFrame.settingsPanel);
    gFrame.settingsPanel = CreateDialogIndirectParamA(gFrame.instance, (LPCDLGTEMPLATEA)second.data(), gFrame.frame,
                                                      SettingsPanelDlgProc, 0);
    ASSERT_NE(gFrame.settingsPanel, nullptr);
    gFrame.modeless[0] = gFrame.settingsPanel;
    ShowWindow(gFrame.settingsPanel, SW_SHOW);
    LayoutFrame();
    GetWindowRect(GetWindow(gFrame.settingsPanel, GW_CHILD), &again);
    EXPECT_GT(again.bottom - again.top, firstField.bottom - firstField.top) << "the second font set is larger";
    checkWidths("a second face and size");
    HoldForScreenshot();
}

TEST_F(FrameTest, WindowCommandsOpenToggleAndClose)
{
    Command(IDM_NEW_LOG);
    Command(IDM_NEW_LOG);
    Command(IDM_NEW_SCRIPT);
    Command(IDM_NEW_RESULTS);
    Pump();
    EXPECT_EQ(CountChildren("KestovarLog"), 2);
    EXPECT_EQ(CountChildren("KestovarScript"), 1);
    EXPECT_EQ(CountChildren("KestovarResults"), 1);
    EXPECT_EQ(TabCtrl_GetItemCount(gFrame.tabs), 4);
    EXPECT_EQ(gFrame.activeKind, WK_RESULTS);
    Command(IDM_CASCADE);
    Command(IDM_TILE);
    Command(IDM_TILE_ALL_KIND);
    // Close All (kind) closes the active window's kind only.
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)FindWindowExA(gFrame.mdiClient, nullptr, "KestovarLog", nullptr), 0);
    EXPECT_EQ(gFrame.activeKind, WK_LOG);
    Command(IDM_CLOSE_ALL_KIND);
    Pump();
    EXPECT_EQ(CountChildren("KestovarLog"), 0);
    EXPECT_EQ(CountChildren("KestovarScript"), 1);
    EXPECT_EQ(TabCtrl_GetItemCount(gFrame.tabs), 2);

    struct Toggle {
        int id;
        int32_t *flag;
        HWND window;
    } toggles[] = {{IDM_TOOL_BAR, &gSettings.ShowToolBar, gFrame.rebar},
                   {IDM_STATUS_BAR, &gSettings.ShowStatusBar, gFrame.statusBar},
                   {IDM_WINDOW_TABS, &gSettings.ShowTabBar, gFrame.tabs},
                   {IDM_SETTINGS_PANEL, &gSettings.ShowSettings, gFrame.settingsPanel},
                   {IDM_DEBUG_PANEL, &gSettings.ShowDebugger, gFrame.debugPanel}};
    for (const Toggle &t : toggles) {
        int before = *t.flag;
        Command(t.id);
        EXPECT_EQ(*t.flag, !before) << t.id;
        EXPECT_EQ(IsWindowVisible(t.window) != 0, *t.flag != 0) << t.id;
        Command(t.id);
        EXPECT_EQ(*t.flag, before) << t.id;
    }
}

TEST_F(FrameTest, EveryMenuCommandIsDispatched)
{
    // Every command of the frame menu (modal dialogs answered by the watcher).
    DialogWatcher::Answer(IDCANCEL);
    const int ids[] = {IDM_NEW_SCRIPT, IDM_NEW_RESULTS, IDM_NEW_LOG, IDM_UNDO, IDM_REDO, IDM_CUT, IDM_COPY,
                       IDM_PASTE, IDM_DELETE, IDM_SELECT_ALL, IDM_FIND, IDM_FIND_NEXT, IDM_REPLACE, IDM_FIND_IN_FILES,
                       IDM_OPEN_UNDER_CURSOR, IDM_PROGRAM_OPTIONS, IDM_REPORT_OPTIONS, IDM_LOAD_DATA,
                       IDM_LOG_DATA_INFO, IDM_SHOW_CHART, IDM_RUN_APPLY, IDM_RUN_TEST, IDM_RUN_OPTIMIZE,
                       IDM_RUN_IMPORT, IDM_RUN_SCAN, IDM_RUN_ORDERS, IDM_STOP, IDM_CASCADE, IDM_TILE, IDM_ABOUT,
                       IDM_WINDOW_LIST, IDM_SAVE_ALL, IDM_COPY_LIST, IDM_COPY_ROW, IDM_UNLOAD_DATA, IDM_OPEN,
                       IDM_SELECT_DATA, IDM_SAVE_LIST_CSV, IDM_COPY_IMAGE, IDM_SAVE_IMAGE};
    for (int id : ids) {
        Command(id);
        Pump();
        EXPECT_EQ(gFrame.frame != nullptr, true) << id;
    }
    EXPECT_EQ(gRun.state.load(), RUN_IDLE); // Stop while idle leaves no stop request behind
    EXPECT_TRUE(SeenText("About Kestovar|"));
    EXPECT_TRUE(SeenText("Version 1.0.0.0 ("));
    Command(IDM_RUN_TEST); // the run driver answers (no script to run) and leaves the program idle
    Pump();
    EXPECT_EQ(gRun.state.load(), RUN_IDLE);
    // An unlisted id reaches the active kind's handler; window-list ids do not.
    EXPECT_EQ(DispatchFrameCommand(5150), 1);
    EXPECT_EQ(DispatchFrameCommand(9000), 0);
    Command(IDM_EXIT);
    Pump();
    EXPECT_EQ(gFrame.frame, nullptr);
}

TEST_F(FrameTest, StopAsksOnlyWhenConfirming)
{
    gRun.state = RUN_TESTING;
    gRun.mode = 2;
    gSettings.ConfirmStop = 1;
    DialogWatcher::Answer(IDNO);
    Command(IDM_STOP);
    EXPECT_EQ(gRun.state.load(), RUN_TESTING);
    EXPECT_TRUE(SeenText("Stop the Scan?"));
    DialogWatcher::Answer(IDYES);
    Command(IDM_STOP);
    EXPECT_EQ(gRun.state.load(), RUN_STOP_REQUESTED);
    gRun.state = RUN_TESTING;
    gSettings.ConfirmStop = 0;
    Command(IDM_STOP);
    EXPECT_EQ(gRun.state.load(), RUN_STOP_REQUESTED);
}

TEST_F(FrameTest, CloseDuringARunKeepsTheFrame)
{
    gRun.state = RUN_TESTING;
    SendMessageA(gFrame.frame, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(gFrame.frame));
    EXPECT_TRUE(SeenText("Please wait for the currently running task to finish before closing Kestovar."));
    // Unattended: nothing asks, the run is asked to stop, and the frame stays.
    DialogWatcher::Clear();
    gRun.unattended = 1;
    SendMessageA(gFrame.frame, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(gFrame.frame));
    EXPECT_EQ(gRun.state.load(), RUN_STOP_REQUESTED);
    EXPECT_TRUE(DialogWatcher::Seen().empty());
    gRun.unattended = 0;
    gRun.state = RUN_IDLE;
    SendMessageA(gFrame.frame, WM_CLOSE, 0, 0);
    EXPECT_EQ(gFrame.frame, nullptr);
}

TEST_F(FrameTest, SecondStartHandOff)
{
    WriteTestFile(File("a.csv"), "Symbol,Close\nAB,1\n");
    WriteTestFile(File("b.txt"), "hello\r\n");
    auto send = [](const void *data, DWORD size, ULONG_PTR tag) {
        COPYDATASTRUCT cds = {tag, size, (void *)data};
        return SendMessageA(gFrame.frame, WM_COPYDATA, 0, (LPARAM)&cds);
    };
    std::string two = "\"" + File("a.csv") + "\" " + File("b.txt");
    EXPECT_EQ(send(two.c_str(), (DWORD)two.size() + 1, 999), 1);
    Pump();
    EXPECT_EQ(CountChildren("KestovarList"), 1); // each named file opens
    EXPECT_EQ(CountChildren("KestovarLog"), 1);
    // Not terminated, another tag, or empty: refused, nothing opened.
    char raw[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    EXPECT_EQ(send(raw, sizeof raw, 999), 0);
    EXPECT_EQ(send(nullptr, 0, 999), 0);
    std::string missing = File("missing.kvs");
    EXPECT_EQ(send(missing.c_str(), (DWORD)missing.size() + 1, 998), 0);
    Pump();
    EXPECT_EQ(CountChildren("KestovarList") + CountChildren("KestovarLog") + CountChildren("KestovarScript"), 2);
    EXPECT_TRUE(DialogWatcher::Seen().empty());
    /* Taken at once; what cannot be opened is said from the main loop. */
    EXPECT_EQ(send(missing.c_str(), (DWORD)missing.size() + 1, 999), 1);
    EXPECT_TRUE(DialogWatcher::Seen().empty());
    Pump();
    EXPECT_TRUE(SeenText(("Unable to access " + missing + ".").c_str()));

    // A 256-character path is taken whole, not cut to the 255-character
    // list file beside it: the longer name opens as a log.
    std::string shortPath = File("a.csv");
    shortPath.insert(shortPath.size() - 5, 255 - shortPath.size(), 'n');
    ASSERT_EQ(shortPath.size(), 255u);
    const std::string longPath = shortPath + "v";
    WriteTestFile(shortPath, "Symbol,Close\nAB,1\n");
    WriteTestFile(longPath, "hello\r\n");
    const int lists = CountChildren("KestovarList"), logs = CountChildren("KestovarLog");
    EXPECT_EQ(send(longPath.c_str(), (DWORD)longPath.size() + 1, 999), 1);
    Pump();
    EXPECT_EQ(CountChildren("KestovarList"), lists);
    EXPECT_EQ(CountChildren("KestovarLog"), logs + 1);
}

/* A file handed over while a run is going (a data file, a script) would
** change the run: it opens once the run has ended, and so does a file
** dropped meanwhile; the second start learns that its line was taken.  A
** batch copy takes none, so the second start opens its files itself. */
TEST_F(FrameTest, AHandOffWaitsForTheRunAndABatchCopyTakesNone)
{
    WriteTestFile(File("b.txt"), "hello\r\n");
    WriteTestFile(File("dropped.txt"), "dropped\r\n");
    WriteTestFile(File("other.kvd"), "no data file");
    char dataFile[sizeof gSettings.DataFile];
    CopyString(dataFile, sizeof dataFile, gSettings.DataFile, -1);
    const std::string line = File("b.txt") + " \"" + File("other.kvd") + "\"";

    gRun.state = RUN_TESTING;
    EXPECT_EQ(1, HandOffToRunningCopy(line.c_str()));
    /* A file dropped on the frame meanwhile. */
    const std::string dropped = File("dropped.txt");
    HGLOBAL drop = GlobalAlloc(GHND, sizeof(DROPFILES) + dropped.size() + 2);
    DROPFILES *files = (DROPFILES *)GlobalLock(drop);
    files->pFiles = sizeof(DROPFILES);
    memcpy((char *)files + sizeof(DROPFILES), dropped.c_str(), dropped.size() + 1);
    GlobalUnlock(drop);
    SendMessageA(gFrame.frame, WM_DROPFILES, (WPARAM)drop, 0);
    PumpMessages(); /* the run's own pump */
    EXPECT_EQ(0, CountChildren("KestovarLog"));
    EXPECT_STREQ(dataFile, gSettings.DataFile);
    EXPECT_TRUE(DialogWatcher::Seen().empty());

    gRun.state = RUN_IDLE;
    PostMessageA(gFrame.frame, WM_NULL, 0, 0); /* the next message the main loop gets */
    Pump();
    EXPECT_EQ(2, CountChildren("KestovarLog"));
    EXPECT_EQ(File("other.kvd"), std::string(gSettings.DataFile)); /* loaded (and refused) only now */
    Pump();
    EXPECT_EQ(2, CountChildren("KestovarLog"));

    gRun.unattended = 1;
    EXPECT_EQ(0, HandOffToRunningCopy(File("b.txt").c_str()));
    Pump();
    EXPECT_EQ(2, CountChildren("KestovarLog"));
    gRun.unattended = 0;
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, dataFile, -1);
}

namespace {

/* A copy of the program that does not answer: a frame of the program's class
** on a thread that takes no message until it is let go, or for 40 seconds. */
struct HungCopy {
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;
    HWND window = nullptr;
    static DWORD WINAPI Run(void *param)
    {
        HungCopy *copy = (HungCopy *)param;
        /* The class of the program's frame, registered for another module. */
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA("kernel32.dll");
        wc.lpszClassName = "KestovarFrame";
        RegisterClassA(&wc);
        copy->window = CreateWindowExA(0, "KestovarFrame", "hung", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                       wc.hInstance, nullptr);
        SetEvent(copy->ready);
        WaitForSingleObject(copy->release, 40000);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        DestroyWindow(copy->window);
        UnregisterClassA("KestovarFrame", wc.hInstance);
        return 0;
    }
    HungCopy()
    {
        thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        WaitForSingleObject(ready, 10000);
    }
    ~HungCopy()
    {
        SetEvent(release);
        WaitForSingleObject(thread, 60000);
        CloseHandle(thread);
        CloseHandle(ready);
        CloseHandle(release);
    }
};

} // namespace

/* A second start never waits without end: a running copy that does not
** answer is passed by in a few seconds, and the next one takes the line. */
TEST_F(FrameTest, ASecondStartPassesByACopyThatDoesNotAnswer)
{
    WriteTestFile(File("b.txt"), "hello\r\n");
    HungCopy hung;
    ASSERT_NE(nullptr, hung.window);
    ASSERT_EQ(hung.window, FindWindowExA(nullptr, nullptr, "KestovarFrame", nullptr)) << "the copy that does not answer is asked first";
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(1, HandOffToRunningCopy(File("b.txt").c_str()));
    EXPECT_LT(GetTickCount64() - started, 30000u);
    Pump();
    EXPECT_EQ(1, CountChildren("KestovarLog"));
}

/* A second start of the program names a file from its own current folder:
** the running copy, whose current folder is another, opens that file. */
TEST_F(FrameTest, ASecondStartHandsOverTheFileItNamesFromHere)
{
    char program[MAX_PATH * 4];
    ASSERT_EQ(1, PlatGetProgramFolder(program, sizeof program));
    const std::string exe = std::string(program) + "\\..\\kestovar.exe";
    if (!PlatFileExists(exe.c_str())) GTEST_SKIP() << "no program beside the tests";
    CreateDirectoryA(File("here").c_str(), nullptr);
    WriteTestFile(File("here\\mine.txt"), "mine\r\n");
    std::string line = "\"" + exe + "\" mine.txt";
    STARTUPINFOA start = {sizeof start};
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, File("here").c_str(), &start,
                               &process));
    /* The frame answers while the second start waits. */
    const ULONGLONG started = GetTickCount64();
    while (MsgWaitForMultipleObjects(1, &process.hProcess, FALSE, 60000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1 &&
           GetTickCount64() - started < 60000)
        Pump();
    DWORD code = 99;
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process.hProcess, 0)) << "the second start did not end";
    GetExitCodeProcess(process.hProcess, &code);
    if (code == STILL_ACTIVE) TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    EXPECT_EQ(0u, code);
    Pump();
    EXPECT_EQ(1, CountChildren("KestovarLog"));
    EXPECT_TRUE(DialogWatcher::Seen().empty()) << DialogWatcher::Seen()[0];
}

TEST_F(FrameTest, OpenFilesAreRestoredWithTheirPlaces)
{
    WriteTestFile(File("one.txt"), "1");
    WriteTestFile(File("two.txt"), "2");
    std::string ini = "[OpenFiles]\r\nFILE_COUNT=2\r\nFILE_1_PATH=" + File("one.txt") + "\r\nFILE_1_WINDOW=*10,20,300,200,1\r\n" +
        "FILE_2_PATH=" + File("two.txt") + "\r\nFILE_2_WINDOW=99999,5,300,200,1\r\n";
    WriteTestFile(File("restore.ini"), ini);
    RestoreOpenFiles(File("restore.ini").c_str());
    Pump();
    EXPECT_EQ(CountChildren("KestovarLog"), 2);
    char title[300];
    GetWindowTextA(gFrame.activeChild, title, sizeof title);
    EXPECT_EQ(std::string(title), "Log - " + File("one.txt")); // the starred window is active
    RECT r;
    GetWindowRect(gFrame.activeChild, &r);
    MapWindowPoints(nullptr, gFrame.mdiClient, (POINT *)&r, 2);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.right - r.left, 300);
}

TEST_F(FrameTest, PopupNoticesStackDownward)
{
    gSettings.PopupSeconds = 5;
    ShowPopupNotice(255, "Test Stopped");
    ShowPopupNotice(255, "Scan %s", "Stopped");
    HWND first = FindWindowExA(nullptr, nullptr, "KestovarPopup", nullptr);
    HWND second = FindWindowExA(nullptr, first, "KestovarPopup", nullptr);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    RECT a, b;
    GetWindowRect(first, &a);
    GetWindowRect(second, &b);
    EXPECT_TRUE(b.top >= a.bottom || a.top >= b.bottom);
    DestroyWindow(first);
    DestroyWindow(second);
}

/* A status text and a notice that name a file show its letters (two-,
** three- and four-byte): the bar holds them wide, the notice is measured by
** them. */
TEST_F(FrameTest, StatusTextsAndNoticesCarryTheirLetters)
{
    const char *letters = "Z\xC3\xBC" "rich \xD0\x96 \xE2\x82\xAC\xE6\x9D\xB1 \xF0\x9F\x98\x80";
    const WCHAR *wide = (const WCHAR *)u"Z\u00FCrich \u0416 \u20AC\u6771 \U0001F600";
    SetStatusText(1, "%s", letters);
    Sleep(120);
    Pump();
    WCHAR shown[100] = L"";
    ASSERT_LT(SendMessageW(gFrame.statusBar, SB_GETTEXTLENGTHW, 1, 0) & 0xffff, 100);
    SendMessageW(gFrame.statusBar, SB_GETTEXTW, 1, (LPARAM)shown);
    EXPECT_STREQ(wide, shown);
    EXPECT_EQ(StatusText(1), letters);

    gSettings.PopupSeconds = 5;
    ShowPopupNotice(255, "%s", letters);
    HWND notice = FindWindowExA(nullptr, nullptr, "KestovarPopup", nullptr);
    ASSERT_NE(notice, nullptr);
    HDC dc = GetDC(notice);
    HGDIOBJ old = SelectObject(dc, gFrame.uiFont);
    SIZE extent = {};
    GetTextExtentPoint32W(dc, wide, lstrlenW(wide), &extent);
    SelectObject(dc, old);
    ReleaseDC(notice, dc);
    RECT r;
    GetWindowRect(notice, &r);
    EXPECT_EQ(2 * extent.cx, r.right - r.left);
    HoldForScreenshot();
    DestroyWindow(notice);
}

TEST_F(FrameTest, FindDialogRegistryHoldsThirteen)
{
    HWND dialogs[14];
    for (int i = 0; i < 14; i++)
        dialogs[i] = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    for (int i = 0; i < 13; i++) EXPECT_EQ(RegisterFindDialog(dialogs[i]), 1);
    EXPECT_EQ(RegisterFindDialog(dialogs[13]), 0);
    EXPECT_TRUE(SeenText("Sorry, but you can't have more than 13 Find/Replace dialogs open at the same time."));
    UnregisterFindDialog(dialogs[4]);
    EXPECT_EQ(gFrame.modeless[MODELESS_FIRST_FIND + 4], dialogs[5]); // later slots move down
    EXPECT_EQ(gFrame.modeless[MODELESS_SLOTS - 1], nullptr);
    for (int i = 0; i < 14; i++) {
        UnregisterFindDialog(dialogs[i]);
        DestroyWindow(dialogs[i]);
    }
}

TEST_F(FrameTest, RunMenuReadsTheScriptOnlyWhenItChanged)
{
    std::string path = File("active.kvs");
    WriteTestFile(path, "Scan:\r\n  x: 1\r\n");
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, path.c_str(), -1);
    EXPECT_TRUE(FrameMenuEnabled(IDM_RUN_SCAN));
    EXPECT_FALSE(FrameMenuEnabled(IDM_RUN_TEST));
    // Same size and time: the cached sections stand, the file is not read again.
    FILETIME written;
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    GetFileTime(f, nullptr, nullptr, &written);
    CloseHandle(f);
    WriteTestFile(path, "Xcan:\r\n  x: 1\r\n");
    f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SetFileTime(f, nullptr, nullptr, &written);
    CloseHandle(f);
    EXPECT_TRUE(FrameMenuEnabled(IDM_RUN_SCAN));
    WriteTestFile(path, "Strategy:\r\n  x: 1\r\n");
    EXPECT_TRUE(FrameMenuEnabled(IDM_RUN_TEST));
    EXPECT_FALSE(FrameMenuEnabled(IDM_RUN_SCAN));
    gRun.state = RUN_TESTING;
    gRun.mode = 4;
    EXPECT_FALSE(FrameMenuEnabled(IDM_RUN_TEST));
    EXPECT_TRUE(FrameMenuEnabled(IDM_STOP));
    EXPECT_EQ(MenuItemText(GetMenu(gFrame.frame), IDM_STOP), "&Stop Optimization\tCtrl+Break");
    gRun.state = RUN_IDLE;
    gSettings.ActiveScript[0] = 0;
}

TEST_F(FrameTest, TabsFollowWindowsAndDragAcross)
{
    for (int i = 0; i < 3; i++) OpenLogFile(nullptr);
    Pump();
    ASSERT_EQ(TabCtrl_GetItemCount(gFrame.tabs), 3);
    auto tabWindow = [](int i) {
        TCITEMA item = {};
        item.mask = TCIF_PARAM;
        TabCtrl_GetItem(gFrame.tabs, i, &item);
        return (HWND)item.lParam;
    };
    HWND first = tabWindow(0);
    EXPECT_EQ(TabTitle(first), "Log (untitled)");
    auto center = [](int i) {
        RECT r;
        TabCtrl_GetItemRect(gFrame.tabs, i, &r);
        POINT p = {(r.left + r.right) / 2 - 20, (r.top + r.bottom) / 2};
        return p;
    };
    // Press on the first tab (outside its close box) and move across the other two.
    POINT p = center(0);
    POINT onFrame = p;
    MapWindowPoints(gFrame.tabs, gFrame.frame, &onFrame, 1);
    SendMessageA(gFrame.frame, WM_PARENTNOTIFY, WM_LBUTTONDOWN, MAKELPARAM(onFrame.x, onFrame.y));
    for (int i = 1; i < 3; i++) {
        POINT q = center(i);
        ClientToScreen(gFrame.tabs, &q);
        SetCursorPos(q.x, q.y);
        SendMessageA(gFrame.frame, WM_MOUSEMOVE, 0, 0);
    }
    SendMessageA(gFrame.frame, WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(tabWindow(2), first);             // moved two places
    EXPECT_EQ(CountChildren("KestovarLog"), 3); // a drag closes nothing
    // A list window's tab shows the name its filler gave it.
    WriteTestFile(File("named.csv"), "A\n1\n");
    OpenCsvAsList(nullptr, File("named.csv").c_str());
    EXPECT_EQ(TabTitle(gFrame.activeChild), "named.csv");
    // A name outside ASCII (UTF-8, as every name) reads as its file in the
    // title (the window's text keeps the letters of the system's code page).
    const std::string utf8 = File("\xC3\xA9t\xC3\xA9-caf\xC3\xA9.csv");
    WriteTestFile(utf8, "A\n1\n");
    OpenCsvAsList(nullptr, utf8.c_str());
    WCHAR title[300] = L"";
    GetWindowTextW(gFrame.activeChild, title, 300);
    EXPECT_NE(nullptr, wcsstr(title, L"\\\u00E9t\u00E9-caf\u00E9.csv"));
    // Its tab's tip, asked in wide letters, shows the title's, of two,
    // three and four bytes.
    const std::string letters = File("\xC3\xB6 \xE6\x9D\xB1 \xF0\x9D\x84\x9E.csv");
    WriteTestFile(letters, "A\n1\n");
    OpenCsvAsList(nullptr, letters.c_str());
    int tab = TabCtrl_GetItemCount(gFrame.tabs) - 1;
    while (tab > 0 && tabWindow(tab) != gFrame.activeChild) tab--;
    NMTTDISPINFOW ask = {};
    ask.hdr.hwndFrom = TabCtrl_GetToolTips(gFrame.tabs);
    ask.hdr.idFrom = (UINT_PTR)tab;
    ask.hdr.code = TTN_GETDISPINFOW;
    ASSERT_NE(nullptr, ask.hdr.hwndFrom);
    SendMessageW(gFrame.frame, WM_NOTIFY, 0, (LPARAM)&ask);
    ASSERT_NE(nullptr, ask.lpszText);
    EXPECT_NE(nullptr, wcsstr(ask.lpszText, L"\\\u00F6 \u6771 \U0001D11E.csv")) << testing::PrintToString(std::wstring(ask.lpszText));
}

#include "engine/results_file.h"
#include "records/test_records.h"
#include "shell/win32/script_window.h"

/* Every window that shows a file comes back at the next start, where it
** was: scripts, logs, results files and CSV lists; a test's own script and
** untitled windows do not. */
TEST_F(FrameTest, TheWorkspaceComesBack)
{
    gSettings.CsvListView = 1;
    WriteTestFile(File("ws.kvs"), "Data:\r\n  x: C\r\n");
    WriteTestFile(File("ws.txt"), "log text");
    WriteTestFile(File("ws.csv"), "A,B\n1,2\n");
    std::string results = File("ws.kvr");
    ASSERT_EQ(LoadResultsFile(results.c_str(), 1), 1);
    struct Place {
        const char *name, *className;
        RECT rect; // normal place in the client
    } places[] = {
        {"ws.kvs", "KestovarScript", {60, 50, 420, 290}},
        {"ws.txt", "KestovarLog", {20, 30, 340, 230}},
        {"ws.csv", "KestovarList", {90, 10, 390, 210}},
        {"ws.kvr", "KestovarResults", {5, 70, 505, 370}},
    };
    for (const Place &p : places) {
        ASSERT_EQ(OpenFileByType(File(p.name).c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0), 1) << p.name;
        const RECT &r = p.rect;
        SetWindowPos(gFrame.activeChild, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER);
    }
    TestRecord *test = ReadTestRecord(nullptr, 0, 1, 1, 0);
    ASSERT_NE(test, nullptr);
    test->testNumber = 3;
    OpenScript(nullptr, test);
    OpenLogFile(nullptr);
    Pump();
    ASSERT_EQ(QuerySaveAll(0), 1);
    std::string ini = ReadTestFile(gFrame.settingsPath);
    EXPECT_NE(ini.find("FILE_COUNT=4\r\n"), std::string::npos) << ini;

    HWND child;
    while ((child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) DestroyWindow(child);
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    FreeTestRecord(nullptr, test);
    RestoreOpenFiles(gFrame.settingsPath);
    Pump();
    EXPECT_EQ(CountChildren("KestovarScript"), 1);
    EXPECT_EQ(CountChildren("KestovarLog"), 1);
    EXPECT_EQ(CountChildren("KestovarList"), 1);
    EXPECT_EQ(CountChildren("KestovarResults"), 1);
    EXPECT_NE(FindResultsWindowByPath(results.c_str()), nullptr);
    for (const Place &p : places) {
        WINDOWPLACEMENT wp = {};
        wp.length = sizeof wp;
        ASSERT_TRUE(GetWindowPlacement(FindWindowExA(gFrame.mdiClient, nullptr, p.className, nullptr), &wp)) << p.name;
        const RECT &r = wp.rcNormalPosition;
        EXPECT_EQ(std::vector<LONG>({r.left, r.top, r.right, r.bottom}),
                  std::vector<LONG>({p.rect.left, p.rect.top, p.rect.right, p.rect.bottom}))
            << p.name;
    }
}

/* Help that cannot be shown says so: a missing help file, a topic the file
** cannot open. */
TEST_F(FrameTest, HelpThatCannotBeShownSaysWhy)
{
    char saved[PATH_SIZE];
    CopyString(saved, sizeof saved, gFrame.helpPath, -1);
    CopyString(gFrame.helpPath, sizeof gFrame.helpPath, File("none.chm").c_str(), -1);
    Command(IDM_HELP_TOPICS);
    Pump();
    EXPECT_TRUE(SeenText(("Help is not available: the help file " + File("none.chm") + " is missing.").c_str()));
    DialogWatcher::Clear();
    WriteTestFile(File("empty.chm"), "not a help file");
    CopyString(gFrame.helpPath, sizeof gFrame.helpPath, File("empty.chm").c_str(), -1);
    HELPINFO info = {};
    info.cbSize = sizeof info;
    info.iContextType = HELPINFO_WINDOW;
    SendMessageA(gFrame.frame, WM_HELP, 0, (LPARAM)&info); // F1 outside any window
    Pump();
    EXPECT_TRUE(SeenText("Help topic 150 could not be opened from the help file") ||
                SeenText("Help is not available: the HTML Help viewer"));
    CopyString(gFrame.helpPath, sizeof gFrame.helpPath, saved, -1);
}

/* The settings file a run writes before it starts lists the windows open
** then, so a program that ends without closing comes back with them. */
TEST_F(FrameTest, ARunSavesTheOpenWindowsWithTheSettings)
{
    /* A frame of its own: no earlier close has told the settings how to
    ** list the windows. */
    TearDown();
    gListOpenFileWindows = nullptr;
    SetUp();
    WriteTestFile(File("first.kvs"), "Data:\r\n  x: C\r\n");
    WriteTestFile(File("second.kvs"), "Data:\r\n  y: C\r\n");
    ASSERT_EQ(OpenFileByType(File("first.kvs").c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0), 1);
    ASSERT_EQ(OpenFileByType(File("second.kvs").c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0), 1);
    Pump();
    DialogWatcher::Answer(IDOK);
    Command(IDM_RUN_APPLY);
    Pump();
    const std::string ini = ReadTestFile(gFrame.settingsPath);
    /* From the last tab to the first; the active window is starred. */
    EXPECT_NE(ini.find("[OpenFiles]\r\nFILE_COUNT=2\r\nFILE_1_PATH=" + File("second.kvs") + "\r\nFILE_1_WINDOW=*"),
              std::string::npos)
        << ini;
    EXPECT_NE(ini.find("\r\nFILE_2_PATH=" + File("first.kvs") + "\r\nFILE_2_WINDOW="), std::string::npos) << ini;
}

/* At the width a first run gets the run time a run ends with shows whole:
** its part is wide enough for the text in the bar's font and the margins
** the bar draws around it. */
TEST_F(FrameTest, TheRunTimeShowsWholeAtTheFirstRunWidth)
{
    for (int width : {1200, 700, 960}) {
        SetWindowPos(gFrame.frame, nullptr, 0, 0, width, 700, SWP_NOMOVE | SWP_NOZORDER);
        Pump();
        SetStatusText(1, "%s", "Time: 00:00:00.412");
        HDC dc = GetDC(gFrame.statusBar);
        HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageA(gFrame.statusBar, WM_GETFONT, 0, 0));
        SIZE extent = {};
        GetTextExtentPoint32A(dc, "Time: 00:00:00.412", 18, &extent);
        SelectObject(dc, old);
        ReleaseDC(gFrame.statusBar, dc);
        RECT part;
        ASSERT_TRUE(SendMessageA(gFrame.statusBar, SB_GETRECT, 1, (LPARAM)&part));
        /* The bar draws a text 3 pixels in from the part's bordered edge. */
        EXPECT_GE(part.right - part.left, extent.cx + 2 * GetSystemMetrics(SM_CXEDGE) + 6) << "at width " << width;
        RECT bar;
        GetClientRect(gFrame.statusBar, &bar);
        const int parts = (int)SendMessageA(gFrame.statusBar, SB_GETPARTS, 0, 0);
        for (int i = 0; i < parts; i++) {
            ASSERT_TRUE(SendMessageA(gFrame.statusBar, SB_GETRECT, (WPARAM)i, (LPARAM)&part));
            EXPECT_LE(part.right, bar.right) << "part " << i << " at width " << width;
            EXPECT_GT(part.right - part.left, 30) << "part " << i << " at width " << width;
        }
    }
    HoldForScreenshot();
}

/* The status bar shows a menu item's help while the menu is open, and
** "Ready" again once it closes. */
TEST_F(FrameTest, TheStatusBarIsReadyAgainWhenAMenuCloses)
{
    HMENU menu = GetMenu(gFrame.frame);
    SendMessageA(gFrame.frame, WM_MENUSELECT, MAKEWPARAM(IDM_CASCADE, MF_STRING), (LPARAM)menu);
    char help[256] = "";
    LoadStringA(gFrame.instance, IDM_CASCADE, help, sizeof help);
    ASSERT_NE(help[0], 0);
    EXPECT_EQ(StatusText(0), help);
    SendMessageA(gFrame.frame, WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0); /* the menu closed */
    EXPECT_EQ(StatusText(0), "Ready");
}

/* A log or script window just opened is listed in the Window menu by its
** own title. */
TEST_F(FrameTest, NewWindowsAreListedInTheWindowMenuByTheirTitles)
{
    WriteTestFile(File("orders.txt"), "Buy 100 AAA\r\n");
    WriteTestFile(File("listed.kvs"), "Data:\r\n  x: C\r\n");
    ASSERT_EQ(OpenLogFile(File("orders.txt").c_str()), 1);
    ASSERT_EQ(OpenFileByType(File("listed.kvs").c_str(), CW_USEDEFAULT, CW_USEDEFAULT, 0, 0), 1);
    Pump();
    HMENU bar = GetMenu(gFrame.frame), windows = nullptr;
    for (int i = 0; i < GetMenuItemCount(bar) && !windows; i++) {
        char title[64] = "";
        GetMenuStringA(bar, (UINT)i, title, sizeof title, MF_BYPOSITION);
        if (strcmp(title, "&Window") == 0) windows = GetSubMenu(bar, i);
    }
    ASSERT_NE(windows, nullptr);
    std::string listed;
    for (int i = 0; i < GetMenuItemCount(windows); i++) {
        const UINT id = GetMenuItemID(windows, i);
        if (id >= 1000 && id < 1100) listed += MenuItemText(windows, (int)id) + ";";
    }
    EXPECT_NE(listed.find("Log - " + File("orders.txt")), std::string::npos) << listed;
    EXPECT_NE(listed.find(File("listed.kvs")), std::string::npos) << listed;
    EXPECT_EQ(listed.find("(untitled)"), std::string::npos) << listed;
}

/* The Windows dialog lists a title longer than its list is wide whole: the
** list scrolls across as far as the widest title reaches. */
TEST_F(FrameTest, TheWindowsDialogScrollsToTheEndOfALongTitle)
{
    const std::string folder = File("a folder with a name long enough to push the file name out of sight");
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteTestFile(folder + "\\orders of the whole portfolio.txt", "Buy 100 AAA\r\n");
    ASSERT_EQ(OpenLogFile((folder + "\\orders of the whole portfolio.txt").c_str()), 1);
    Pump();
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_WINDOW_LIST), gFrame.frame, WindowListDlgProc, 0);
    ASSERT_NE(nullptr, dialog);
    HWND list = GetDlgItem(dialog, IDC_WL_LIST);
    char title[400] = "";
    int widest = 0;
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageA(list, WM_GETFONT, 0, 0));
    for (int i = 0; i < (int)SendMessageA(list, LB_GETCOUNT, 0, 0); i++) {
        const int length = (int)SendMessageA(list, LB_GETTEXT, (WPARAM)i, (LPARAM)title);
        SIZE extent = {};
        GetTextExtentPoint32A(dc, title, length, &extent);
        if (extent.cx > widest) widest = extent.cx;
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    RECT client;
    GetClientRect(list, &client);
    ASSERT_GT(widest, client.right); /* the title does not fit */
    EXPECT_TRUE(GetWindowLongA(list, GWL_STYLE) & WS_HSCROLL);
    EXPECT_GE((int)SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0), widest);
    ShowWindow(dialog, SW_SHOW);
    HoldForScreenshot();
    DestroyWindow(dialog);
}

/* Progress texts set faster than a screen shows them: the program reads the
** last one at once, and the bar shows it once messages are handled. */
TEST_F(FrameTest, TheStatusBarShowsTheLastOfManyProgressTexts)
{
    auto shown = [](int part) {
        char text[300] = "";
        SendMessageA(gFrame.statusBar, SB_GETTEXTA, (WPARAM)part, (LPARAM)text);
        return std::string(text);
    };
    for (const char *last : {"Test 300 of 300", ""}) {
        for (int i = 1; i <= 300; i++) SetStatusText(1, "Test %d of %d", i, 300);
        if (!last[0]) SetStatusText(1, nullptr);
        SetStatusText(2, "%s", "Symbol: AAA");
        EXPECT_EQ(StatusText(1), last);
        EXPECT_EQ(StatusText(2), "Symbol: AAA");
        Sleep(120);
        Pump();
        EXPECT_EQ(shown(1), last);
        EXPECT_EQ(shown(2), "Symbol: AAA");
    }
}
