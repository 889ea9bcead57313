#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/results_file.h"
#include "engine/run_view_hooks.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/settings_dialog.h"
#include "frame_fixture.h"
#include "marketdata/store/data_load.h"
#include "platform/platform.h"
#include "services/services.h"
#include "views/win32/view_windows.h"
#include "support/test_support.h"

namespace {

SYSTEMTIME Day(int32_t date)
{
    SYSTEMTIME t = {};
    t.wYear = (WORD)(date / 10000);
    t.wMonth = (WORD)(date / 100 % 100);
    t.wDay = (WORD)(date % 100);
    return t;
}

int32_t PickerDate(HWND picker)
{
    SYSTEMTIME t = {};
    SendMessageA(picker, DTM_GETSYSTEMTIME, 0, (LPARAM)&t);
    return t.wYear * 10000 + t.wMonth * 100 + t.wDay;
}

/* The formula box is the editor component, which keeps its text as bytes
** behind its own messages (2181 set, 2182 get). */
bool IsEditor(HWND control)
{
    char name[16] = "";
    GetClassNameA(control, name, sizeof name);
    return strcmp(name, "Scintilla") == 0;
}

std::string Text(HWND control)
{
    char text[1100] = "";
    if (IsEditor(control))
        SendMessageA(control, 2182, sizeof text - 1, (LPARAM)text);
    else
        GetWindowTextA(control, text, sizeof text);
    return text;
}

void SetText(HWND control, const char *text)
{
    if (IsEditor(control))
        SendMessageA(control, 2181, 0, (LPARAM)text);
    else
        SetWindowTextA(control, text);
}

double NumberOf(const SettingEntry *row)
{
    return row->type == ST_INT ? *(int32_t *)row->data : *(double *)row->data;
}

void SetNumber(const SettingEntry *row, double value)
{
    if (row->type == ST_INT)
        *(int32_t *)row->data = (int32_t)value;
    else
        *(double *)row->data = value;
}

/* A number box driven from its row: values below, at and above each end of
** the row's range and text that is no number.  What the rule takes is
** stored; what it refuses is said, naming the setting, and the setting keeps
** its value, which the box shows again. */
void CheckNumberRow(HWND dialog, uint32_t dialogId, const SettingEntry *row, HWND control)
{
    const bool ranged = row->low != 0 || row->high != 0;
    const double step = row->type == ST_INT ? 1 : 0.5;
    const double old = ranged ? (row->low + row->high) / 2 : 2500;
    const double kept = row->type == ST_INT ? (double)(int32_t)old : old;
    struct Case {
        std::string text;
        bool taken;
        double value;
    };
    std::vector<Case> cases = {{"abc", false, 0}, {"", false, 0}, {"12abc", false, 0}};
    auto number = [](double v) {
        char text[64];
        FormatSettingDouble(text, sizeof text, v);
        return std::string(text);
    };
    if (ranged) {
        for (double v : {row->low - step, row->high + step}) cases.push_back({number(v), false, 0});
        for (double v : {row->low, row->high}) cases.push_back({number(v), true, v});
    } else {
        cases.push_back({"75000", true, 75000});
    }
    for (const Case &c : cases) {
        SCOPED_TRACE("typed '" + c.text + "'");
        SetNumber(row, kept);
        SettingsToDialog(dialog, dialogId, row->controlId);
        const std::string shown = Text(control);
        EXPECT_EQ(atof(shown.c_str()), kept) << shown;
        /* typed as the exchange puts text in, so the bar count's own live
        ** reading of its box leaves the judging to the row's rule */
        SettingsExchangeActive = 1;
        SetWindowTextA(control, c.text.c_str());
        SettingsExchangeActive = 0;
        DialogWatcher::Clear();
        EXPECT_EQ(c.taken ? 1 : 0, DialogToSettings(dialog, dialogId, row->controlId));
        if (c.taken) {
            EXPECT_EQ(NumberOf(row), c.value);
            EXPECT_TRUE(DialogWatcher::Seen().empty());
        } else {
            EXPECT_EQ(NumberOf(row), kept);
            EXPECT_EQ(Text(control), shown);
            ASSERT_EQ(DialogWatcher::Seen().size(), 1u);
            EXPECT_NE(DialogWatcher::Seen()[0].find(std::string(row->key) + " must be "), std::string::npos)
                << DialogWatcher::Seen()[0];
        }
    }
}

/* Every row of a dialog: the setting shows in its control, and the control's
** new state comes back into the setting. */
void CheckEveryRowBothWays(HWND dialog, uint32_t dialogId)
{
    int rows = 0;
    for (const SettingEntry *row = gSettingTable; row->key; row++) {
        if (row->dialogId != dialogId || row->controlId == 0) continue;
        SCOPED_TRACE(row->key);
        HWND control = GetDlgItem(dialog, (int)row->controlId);
        ASSERT_NE(control, nullptr);
        rows++;
        switch (row->type) {
        case ST_BOOL:
            *(int32_t *)row->data = 1;
            SettingsToDialog(dialog, dialogId, row->controlId);
            EXPECT_EQ(IsDlgButtonChecked(dialog, (int)row->controlId), BST_CHECKED);
            CheckDlgButton(dialog, (int)row->controlId, BST_UNCHECKED);
            DialogToSettings(dialog, dialogId, row->controlId);
            EXPECT_EQ(*(int32_t *)row->data, 0);
            break;
        case ST_INT:
        case ST_DOUBLE: CheckNumberRow(dialog, dialogId, row, control); break;
        case ST_TEXT:
        case ST_EDITOR_TEXT:
        case ST_PATH:
            CopyString((char *)row->data, 40, "C:\\FIRST", -1);
            SettingsToDialog(dialog, dialogId, row->controlId);
            EXPECT_EQ(Text(control), "C:\\FIRST");
            SetText(control, "C:\\SECOND");
            DialogToSettings(dialog, dialogId, row->controlId);
            EXPECT_STREQ((char *)row->data, "C:\\SECOND");
            break;
        case ST_DATE: {
            *(int32_t *)row->data = 20240315;
            SettingsToDialog(dialog, dialogId, row->controlId);
            EXPECT_EQ(PickerDate(control), 20240315);
            SYSTEMTIME t = Day(20230102);
            SendMessageA(control, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&t);
            DialogToSettings(dialog, dialogId, row->controlId);
            EXPECT_EQ(*(int32_t *)row->data, 20230102);
            break;
        }
        case ST_RADIO:
            *(int32_t *)row->data = 1;
            SettingsToDialog(dialog, dialogId, row->controlId);
            *(int32_t *)row->data = 0;
            DialogToSettings(dialog, dialogId, row->controlId);
            EXPECT_EQ(*(int32_t *)row->data, 1);
            break;
        case ST_WORD:
            *(int32_t *)row->data = 1;
            SettingsToDialog(dialog, dialogId, row->controlId);
            EXPECT_EQ(SendMessageA(control, CB_GETCURSEL, 0, 0), 1);
            SendMessageA(control, CB_SETCURSEL, 0, 0);
            DialogToSettings(dialog, dialogId, row->controlId);
            EXPECT_EQ(*(int32_t *)row->data, 0);
            break;
        default: ADD_FAILURE() << "row type " << row->type; break;
        }
    }
    EXPECT_GT(rows, 0);
}

/* Each spin's range lies within the range of its box's row: its arrows never
** offer a value the box would refuse. */
int CheckSpinsWithinTheirRows(HWND dialog, uint32_t dialogId)
{
    int spins = 0;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[32] = "";
        GetClassNameA(child, name, sizeof name);
        if (CompareNoCase(name, "msctls_updown32") != 0) continue;
        HWND buddy = (HWND)SendMessageA(child, UDM_GETBUDDY, 0, 0);
        const int id = buddy ? GetDlgCtrlID(buddy) : 0;
        for (const SettingEntry *row = gSettingTable; row->key; row++) {
            if (row->dialogId != dialogId || (int)row->controlId != id || row->type != ST_INT) continue;
            SCOPED_TRACE(row->key);
            int low = 0, high = 0;
            SendMessageA(child, UDM_GETRANGE32, (WPARAM)&low, (LPARAM)&high);
            EXPECT_GE(low, row->low);
            EXPECT_LE(high, row->high);
            spins++;
        }
    }
    return spins;
}

int Enabled(HWND dialog, int id) { return IsWindowEnabled(GetDlgItem(dialog, id)) ? 1 : 0; }

} // namespace

TEST_F(FrameTest, EveryPanelAndOptionControlMovesItsSetting)
{
    ProgramSettings saved = gSettings;
    CheckEveryRowBothWays(gFrame.settingsPanel, IDD_SETTINGS_PANEL);
    CheckEveryRowBothWays(gFrame.debugPanel, IDD_DEBUG_PANEL);
    CheckSpinsWithinTheirRows(gFrame.settingsPanel, IDD_SETTINGS_PANEL);
    CheckSpinsWithinTheirRows(gFrame.debugPanel, IDD_DEBUG_PANEL);
    HWND options = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRAM_OPTIONS), gFrame.frame,
                                      ProgramOptionsDlgProc, 0);
    ASSERT_NE(options, nullptr);
    CheckEveryRowBothWays(options, IDD_PROGRAM_OPTIONS);
    EXPECT_EQ(2, CheckSpinsWithinTheirRows(options, IDD_PROGRAM_OPTIONS)); /* threads, memory */
    DestroyWindow(options);
    HWND reports = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_REPORT_OPTIONS), gFrame.frame,
                                      ReportOptionsDlgProc, 0);
    ASSERT_NE(reports, nullptr);
    CheckEveryRowBothWays(reports, IDD_REPORT_OPTIONS);
    DestroyWindow(reports);
    const struct {
        uint32_t id;
        DLGPROC proc;
    } windowOptions[] = {{IDD_CHART_OPTIONS, ChartOptionsDlgProc}, {IDD_GRAPH_OPTIONS, GraphOptionsDlgProc}};
    for (const auto &o : windowOptions) {
        SCOPED_TRACE(o.id);
        HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(o.id), gFrame.frame, o.proc, 0);
        ASSERT_NE(dialog, nullptr);
        CheckEveryRowBothWays(dialog, o.id);
        CheckSpinsWithinTheirRows(dialog, o.id);
        DestroyWindow(dialog);
    }
    gSettings = saved;
}

TEST_F(FrameTest, SettingsPanelEnabledStates)
{
    HWND panel = gFrame.settingsPanel;
    struct Case {
        int earliest, latest, runState;
        int first, last, count, barSize;
    } cases[] = {
        {1, 1, RUN_IDLE, 0, 0, 0, 1}, // both ends fixed
        {1, 0, RUN_IDLE, 0, 1, 1, 1},
        {0, 0, RUN_IDLE, 1, 1, 1, 1},
        {0, 0, RUN_TESTING, 0, 0, 0, 0}, // a run greys everything
    };
    for (const Case &c : cases) {
        CheckDlgButton(panel, IDC_SP_EARLIEST, c.earliest ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(panel, IDC_SP_LATEST, c.latest ? BST_CHECKED : BST_UNCHECKED);
        SetTestRunning(c.runState);
        EXPECT_EQ(Enabled(panel, IDC_SP_FIRST_DATE), c.first) << c.earliest << c.latest << c.runState;
        EXPECT_EQ(Enabled(panel, IDC_SP_LAST_DATE), c.last);
        EXPECT_EQ(Enabled(panel, IDC_SP_BAR_COUNT), c.count);
        EXPECT_EQ(Enabled(panel, IDC_SP_BAR_SPIN), c.count);
        EXPECT_EQ(Enabled(panel, IDC_SP_BAR_SIZE), c.barSize);
        EXPECT_EQ(Enabled(panel, IDC_SP_KEEP_SKIPPED), c.barSize);
    }
    SetTestRunning(RUN_IDLE);
    EXPECT_EQ(Enabled(panel, IDC_SP_EARLIEST), 1);
}

TEST_F(FrameTest, BarCountMovesTheFirstDateWhenTheLastIsFixed)
{
    HWND panel = gFrame.settingsPanel;
    CheckDlgButton(panel, IDC_SP_EARLIEST, BST_UNCHECKED);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_SP_EARLIEST, BN_CLICKED), (LPARAM)GetDlgItem(panel, IDC_SP_EARLIEST));
    CheckDlgButton(panel, IDC_SP_LATEST, BST_CHECKED);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_SP_LATEST, BN_CLICKED), (LPARAM)GetDlgItem(panel, IDC_SP_LATEST));
    int32_t last = PickerDate(GetDlgItem(panel, IDC_SP_LAST_DATE));
    SetDlgItemTextA(panel, IDC_SP_BAR_COUNT, "50");
    EXPECT_EQ(gSettings.NumBars, 50);
    EXPECT_EQ(PickerDate(GetDlgItem(panel, IDC_SP_LAST_DATE)), last);
    int32_t first = PickerDate(GetDlgItem(panel, IDC_SP_FIRST_DATE));
    EXPECT_EQ(first, gSettings.FirstDate);
    EXPECT_LT(first, last);
    // a bar-size change clears the count
    SendDlgItemMessageA(panel, IDC_SP_BAR_SIZE, CB_SETCURSEL, 1, 0);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_SP_BAR_SIZE, CBN_SELCHANGE), (LPARAM)GetDlgItem(panel, IDC_SP_BAR_SIZE));
    EXPECT_EQ(gSettings.NumBars, 0);
    EXPECT_EQ(gSettings.BarSize2, 1);
    SendDlgItemMessageA(panel, IDC_SP_BAR_SIZE, CB_SETCURSEL, 0, 0);
    SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_SP_BAR_SIZE, CBN_SELCHANGE), (LPARAM)GetDlgItem(panel, IDC_SP_BAR_SIZE));
}

/* An OK that is refused stores nothing: neither for a box its row refuses
** nor for a folder that cannot be made, so a Cancel after it leaves every
** setting, and the settings file written at exit, as they were. */
TEST_F(FrameTest, ARefusedOkStoresNothingAndCancelKeepsTheOldSettings)
{
    ProgramSettings saved = gSettings;
    FormatText(gSettings.ScriptPath, sizeof gSettings.ScriptPath, "%s", File("Scripts").c_str());
    FormatText(gSettings.DataPath, sizeof gSettings.DataPath, "%s", File("Data").c_str());
    FormatText(gSettings.OutputPath, sizeof gSettings.OutputPath, "%s", File("Output").c_str());
    gSettings.CalcThreads = 2;
    gSettings.MaxMemPct = 95;
    const ProgramSettings before = gSettings;
    ASSERT_TRUE(WriteTestFile(File("afile"), "x"));
    HWND options = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_PROGRAM_OPTIONS), gFrame.frame,
                                      ProgramOptionsDlgProc, 0);
    ASSERT_NE(options, nullptr);
    const struct {
        int id;
        std::string text;
        const char *said;
    } refusals[] = {
        {IDC_PO_OUTPUT_PATH, File("afile\\out"), "Unable to create folder"},
        {IDC_PO_MEMORY, "0", "MaxMemPct must be a whole number from 10 to 200."},
        {IDC_PO_MEMORY, "abc", "MaxMemPct must be a whole number from 10 to 200."},
    };
    DialogWatcher::Answer(IDOK);
    for (const auto &r : refusals) {
        SCOPED_TRACE(r.text);
        SettingsToDialog(options, IDD_PROGRAM_OPTIONS, 0);
        SetDlgItemTextA(options, IDC_PO_THREADS, "5");
        SetDlgItemTextA(options, 1417, "EUR"); /* the Currency row's box */
        SetDlgItemTextA(options, r.id, r.text.c_str());
        DialogWatcher::Clear();
        SendMessageA(options, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(SeenText(r.said));
        EXPECT_TRUE(IsWindow(options));
        EXPECT_EQ(0, memcmp(&before, &gSettings, sizeof gSettings)) << gSettings.OutputPath << " " << gSettings.CalcThreads;
    }
    EXPECT_EQ(PlatFolderExists(File("afile\\out").c_str()), 0);
    ShowWindow(options, SW_SHOW);
    HoldForScreenshot();
    SendMessageA(options, WM_COMMAND, IDCANCEL, 0);
    DestroyWindow(options);
    EXPECT_EQ(0, memcmp(&before, &gSettings, sizeof gSettings));
    /* the settings panel's account: refused as a script refuses it */
    HWND panel = gFrame.settingsPanel;
    for (const char *typed : {"-5000", "abc", "0"}) {
        SetDlgItemTextA(panel, IDC_SP_ACCOUNT, typed);
        DialogWatcher::Clear();
        SendMessageA(panel, WM_COMMAND, MAKEWPARAM(IDC_SP_ACCOUNT, EN_KILLFOCUS), (LPARAM)GetDlgItem(panel, IDC_SP_ACCOUNT));
        EXPECT_TRUE(SeenText("AccountSize must be a number from 1 to 1e+15.")) << typed;
        EXPECT_EQ(gSettings.AccountSize, before.AccountSize) << typed;
    }
    gSettings = saved;
}

/* A thread count of 0 (every processor) is the user's choice: it is kept and
** saved as 0, and each calculation works out its workers on the machine. */
TEST_F(FrameTest, ProgramOptionsKeepZeroThreads)
{
    ProgramSettings saved = gSettings;
    FormatText(gSettings.ScriptPath, sizeof gSettings.ScriptPath, "%s", File("Scripts").c_str());
    FormatText(gSettings.DataPath, sizeof gSettings.DataPath, "%s", File("Data").c_str());
    FormatText(gSettings.OutputPath, sizeof gSettings.OutputPath, "%s", File("Output").c_str());
    gSettings.CalcThreads = 0;
    gSettings.CheckForUpdates = 0;
    DialogWatcher::Answer(IDOK);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_PROGRAM_OPTIONS, 0);
    EXPECT_EQ(gSettings.CalcThreads, 0);
    EXPECT_NE(ReadTestFile(gFrame.settingsPath).find("\r\nCalcThreads=0\r\n"), std::string::npos);
    EXPECT_EQ(PlatFolderExists(File("Output\\Reports").c_str()), 1);
    gSettings = saved;
}

TEST_F(FrameTest, DebugPanelWithoutTestsOrData)
{
    HWND panel = gFrame.debugPanel;
    UpdateDebugPanelControls();
    EXPECT_EQ(Enabled(panel, IDC_DP_GRAPH), 0);
    EXPECT_EQ(Enabled(panel, IDC_DP_STATS), 0);
    EXPECT_EQ(Enabled(panel, IDC_DP_POSITIONS), 0);
    EXPECT_EQ(SendDlgItemMessageA(panel, IDC_DP_TEST, CB_GETCOUNT, 0, 0), 0);
    EXPECT_EQ(Text(GetDlgItem(panel, IDC_DP_STRATEGY)), "");
    // after a test the run names the symbol and strategy to look at
    InstallDebugPanelHooks();
    SetDlgItemTextA(panel, IDC_DP_TEST, "0001");
    gRunViewHooks.updateExaminePanel("AAA", "Trend");
    EXPECT_EQ(Text(GetDlgItem(panel, IDC_DP_TEST)), "");
    EXPECT_EQ(Text(GetDlgItem(panel, IDC_DP_SYMBOL)), "AAA");
    // a range in the formula box is listed in the log, not compiled
    SetText(GetDlgItem(panel, IDC_DP_FORMULA), "from 2 to 6 step 2");
    EvalDebugFormula(panel);
    EXPECT_STREQ(gSettings.DebugFormula, "from 2 to 6 step 2");
    HWND log = nullptr;
    ASSERT_TRUE(FindNextChildWindow(&log, "KestovarLog"));
    EXPECT_NE(Text(GetWindow(log, GW_CHILD)).find("3 Values:\r\n 2, 4, 6"), std::string::npos);
}

namespace {

/* A script that imports a month of one symbol's prices and tests a strategy
** on them; the settings panel shows it as the active script. */
std::string WriteRunScript()
{
    std::string prices = FrameTest::File("runprices"), data = FrameTest::File("run.kvd");
    CreateDirectoryA(prices.c_str(), nullptr);
    std::string csv = "Date,Open,High,Low,Close,Volume\n";
    for (int day = 2; day <= 31; day++) {
        SYSTEMTIME t = Day(20240100 + day);
        FILETIME f;
        SystemTimeToFileTime(&t, &f);
        SYSTEMTIME w;
        FileTimeToSystemTime(&f, &w);
        if (w.wDayOfWeek == 0 || w.wDayOfWeek == 6) continue;
        char line[80];
        snprintf(line, sizeof line, "2024-01-%02d,%d,%d,%d,%d,1000\n", day, 10 + day, 11 + day, 9 + day, 10 + day);
        csv += line;
    }
    WriteTestFile(prices + "\\AAA.csv", csv);
    std::string script = FrameTest::File("run.kvs");
    WriteTestFile(script, "Settings:\n  DataFile: " + data + "\nImport:\n  DataSource: CSV\n  DataPath: " + prices +
                              "\n  SaveAs: " + data + "\n  StartDate: 2024-01-01\n  EndDate: 2024-01-31\n"
                              "Strategy: S1\n  EntrySetup: C > 0\n");
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, script.c_str(), -1);
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, data.c_str(), -1);
    gSettings.UseEarliestDate = gSettings.UseLatestDate = 1;
    gSettings.AddGraph = gSettings.AddLog = gSettings.AddReport = gSettings.AddTrades = 0;
    gSettings.AddDebug = 1; // the run hands the debug panel its symbol after the test
    SettingsToDialog(gFrame.settingsPanel, IDD_SETTINGS_PANEL, 0);
    return script;
}

/* What the panels and the toolbar show while the test runs, taken when the
** run hands its symbol to the debug panel. */
struct DuringRun {
    int seen, testName, evaluate, stop;
};
DuringRun gDuringRun;

} // namespace

/* A run greys the settings panel and the debug panel's buttons, and once it
** ends they, the Stop button and the run buttons come back at once. */
TEST_F(FrameTest, ARunLocksThePanelsAndItsEndFreesThemAtOnce)
{
    ProgramSettings saved = gSettings;
    WriteRunScript();
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    SetText(GetDlgItem(gFrame.debugPanel, IDC_DP_SYMBOL), "AAA");
    SetText(GetDlgItem(gFrame.debugPanel, IDC_DP_FORMULA), "C");
    void (*examine)(const char *, const char *) = gRunViewHooks.updateExaminePanel;
    gDuringRun = {};
    gRunViewHooks.updateExaminePanel = [](const char *, const char *) {
        PumpMessages(); // the refresh the run posted reaches the toolbar
        gDuringRun = {1, Enabled(gFrame.settingsPanel, IDC_SP_TEST_NAME), Enabled(gFrame.debugPanel, IDC_DP_EVALUATE),
                      ButtonEnabled(IDM_STOP)};
    };
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_TEST, 0);
    gRunViewHooks.updateExaminePanel = examine;
    ASSERT_EQ(gDuringRun.seen, 1) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    EXPECT_EQ(gDuringRun.testName, 0);
    EXPECT_EQ(gDuringRun.evaluate, 0);
    EXPECT_EQ(gDuringRun.stop, 1);
    Pump();
    EXPECT_EQ(gRun.state.load(), RUN_IDLE);
    EXPECT_EQ(Enabled(gFrame.settingsPanel, IDC_SP_TEST_NAME), 1);
    EXPECT_EQ(Enabled(gFrame.debugPanel, IDC_DP_EVALUATE), 1);
    EXPECT_FALSE(ButtonEnabled(IDM_STOP));
    EXPECT_TRUE(ButtonEnabled(IDM_RUN_TEST));

    // Unload Data: the Load button has the named file to load again, and
    // nothing that needs the data stays enabled.
    EXPECT_EQ(Enabled(gFrame.settingsPanel, IDC_SP_LOAD), 0);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_UNLOAD_DATA, 0);
    Pump();
    EXPECT_EQ(Enabled(gFrame.settingsPanel, IDC_SP_LOAD), 1);
    EXPECT_EQ(Enabled(gFrame.debugPanel, IDC_DP_EVALUATE), 0);
    EXPECT_EQ(Enabled(gFrame.debugPanel, IDC_DP_POSITIONS), 0);
    // An unload that a failed load or an import makes frees the button too.
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_LOAD_DATA, 0);
    Pump();
    ASSERT_EQ(Enabled(gFrame.settingsPanel, IDC_SP_LOAD), 0);
    UnloadData();
    EXPECT_EQ(Enabled(gFrame.settingsPanel, IDC_SP_LOAD), 1);
    gSettings = saved;
}

/* The script's Settings section holds over the panel for its run: a weekly
** test from 15 January of the month's prices (2 to 31 January 2024) has the
** weeks ending 19, 26 and 31 January, whatever bar size and dates the panel
** shows, and a test keeps its strategy's trade (the one position, held to the
** end) though the panel's Keep Trades box was clear.  Afterwards the panel
** shows what the run leaves: the bar size carries over, the first date is the
** panel's own again. */
TEST_F(FrameTest, AScriptsSettingsHoldOverThePanelForItsRun)
{
    ProgramSettings saved = gSettings;
    std::string script = WriteRunScript(), stats = File("weekly.csv");
    std::string text = ReadTestFile(script);
    text.insert(text.find("Import:"), "  BarSize: Weekly\n  StartDate: 2024-01-15\n  SaveStatsAs: " + stats + "\n");
    WriteTestFile(script, text);
    gSettings.AddDebug = 0;
    SettingsToDialog(gFrame.settingsPanel, IDD_SETTINGS_PANEL, 0);
    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_IMPORT, 0);
    Pump();
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    HWND panel = gFrame.settingsPanel;
    gSettings.BarSize2 = 0;
    gSettings.UseEarliestDate = 0;
    gSettings.FirstDate = 20240102;
    gSettings.KeepTrades = 0;
    SettingsToDialog(panel, IDD_SETTINGS_PANEL, 0);

    SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_TEST, 0);
    Pump();
    ASSERT_EQ(gRun.resultCode.load(), RESULT_OK) << (DialogWatcher::Seen().empty() ? "" : DialogWatcher::Seen()[0]);
    std::string rows = ReadTestFile(stats), dates;
    for (size_t at = rows.find('\n'); at != std::string::npos && at + 1 < rows.size(); at = rows.find('\n', at + 1))
        dates += rows.substr(at + 1, rows.find(',', at) - at - 1) + ";";
    EXPECT_EQ(dates, "1/19/24;1/26/24;1/31/24;") << rows;
    ResultsWindow *list = FirstResultsWindow();
    ASSERT_TRUE(list && list->lastTest);
    EXPECT_EQ(list->lastTest->tradeCount, 1);
    EXPECT_EQ(gSettings.BarSize2, 1);
    EXPECT_EQ(SendDlgItemMessageA(panel, IDC_SP_BAR_SIZE, CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(gSettings.FirstDate, 20240102);
    EXPECT_EQ(PickerDate(GetDlgItem(panel, IDC_SP_FIRST_DATE)), 20240102);
    gSettings = saved;
    SettingsToDialog(panel, IDD_SETTINGS_PANEL, 0);
}
