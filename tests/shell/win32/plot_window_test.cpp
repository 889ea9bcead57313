#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "records/test_records.h"
#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "frame_fixture.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "support/test_support.h"
#include "views/res_graph.h"
#include "views/trade_plot.h"
#include "views/win32/draw_resources.h"
#include "views/win32/plot_windows.h"

#include <Scintilla.h>

namespace {

/* A test of count strategies; strategy 0 has trades of +100, -50 and +30. */
struct PlotTest {
    TestRecord test{};
    std::vector<StrategyResult> strategies;
    explicit PlotTest(int32_t count) : strategies(size_t(count))
    {
        test.testNumber = 4;
        strcpy(test.settings.TestName, "Breakout");
        test.strategyCount = count;
        test.strategies = strategies.data();
        for (int32_t i = 0; i < count; i++) FormatText(strategies[size_t(i)].name, 80, "S%d", i + 1);
        for (double profit : {100.0, -50.0, 30.0}) {
            TradeRecord *t = AddTrade(&test);
            t->side = 1;
            t->dateIn = 20200102;
            t->dateOut = 20200103;
            t->priceIn = 10;
            t->priceOut = 10 + profit / 10;
            t->quantityIn = t->quantityOut = 10;
            t->splitIn = t->splitOut = t->fxIn = t->fxOut = t->pointValue = t->fraction = 1;
            t->highest = 20;
            t->lowest = 5;
        }
    }
    ~PlotTest() { FreeMemory(&test.trades); }
};

/* With KV_LOOK_MS set, keeps the windows on screen that long, so they can be
** looked at under a real display. */
void HoldForLook()
{
    const char *ms = getenv("KV_LOOK_MS");
    DWORD end = GetTickCount() + (ms ? DWORD(atoi(ms)) : 0);
    while (ms && GetTickCount() < end) {
        FrameTest::Pump();
        Sleep(20);
    }
}

void KeyWithShift(HWND window, WPARAM key, int shift)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    SendMessageA(window, WM_KEYDOWN, key, 0);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

TEST_F(FrameTest, PlotWindowKeysCommandsAndPictures)
{
    PlotTest t(12);
    gSettings.PlotStrat = 40; /* out of range: the main strategy, stored back */
    gSettings.PlotDisplay = 0;
    gSettings.PlotYField = 0;
    gSettings.PlotXField = 0;
    HWND window = OpenTradePlotWindow(nullptr, &t.test, 0);
    ASSERT_NE(window, nullptr);
    Pump();
    char title[300];
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "Trade Analysis Plots - Test 4 - Breakout");
    EXPECT_EQ(TabTitle(window), "Test4 Plots"); // the tab names the kind's own subject
    EXPECT_EQ(gSettings.PlotStrat, 0);
    PlotWindow *record = GetPlotRecord(window);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->pointCount, 3);

    struct Step {
        UINT message;
        WPARAM key;
        int shift;
        int32_t kind, units, strategy;
    } steps[] = {
        {WM_CHAR, 'M', 0, PLOT_MC_PROFITS, PLOT_DOLLARS, 0},
        {WM_KEYDOWN, VK_RIGHT, 0, PLOT_MC_DRAWDOWNS, PLOT_DOLLARS, 0},
        {WM_CHAR, '%', 0, PLOT_MC_DRAWDOWNS, PLOT_TRADE_PERCENT, 0},
        {WM_CHAR, 'c', 0, PLOT_CUMULATIVE, PLOT_TRADE_PERCENT, 0},
        {WM_KEYDOWN, '3', 0, PLOT_CUMULATIVE, PLOT_TRADE_PERCENT, 2},
        {WM_KEYDOWN, '2', 1, PLOT_CUMULATIVE, PLOT_TRADE_PERCENT, 11}, /* 2 + 10 is the last of 12 */
        {WM_KEYDOWN, '3', 1, PLOT_CUMULATIVE, PLOT_TRADE_PERCENT, 2},  /* 13 is beyond: strategy 3 */
        {WM_KEYDOWN, '0', 0, PLOT_CUMULATIVE, PLOT_TRADE_PERCENT, 0},
    };
    for (const Step &s : steps) {
        if (s.message == WM_KEYDOWN)
            KeyWithShift(window, s.key, s.shift);
        else
            SendMessageA(window, s.message, s.key, 0);
        EXPECT_EQ(record->kind, s.kind) << s.key;
        EXPECT_EQ(record->units, s.units) << s.key;
        EXPECT_EQ(record->strategy, s.strategy) << s.key;
        if (s.kind == PLOT_MC_DRAWDOWNS && s.units == PLOT_DOLLARS) HoldForLook();
    }
    EXPECT_EQ(gSettings.PlotDisplay, PLOT_CUMULATIVE);
    EXPECT_EQ(gSettings.PlotYField, PLOT_TRADE_PERCENT);

    /* Menu commands come back as the keys. */
    DispatchFrameCommand(IDM_PLOT_SCATTER);
    DispatchFrameCommand(IDM_PLOT_DOLLARS);
    Pump();
    EXPECT_EQ(record->kind, PLOT_SCATTER);
    EXPECT_EQ(record->units, PLOT_DOLLARS);

    /* A save request writes the picture instead of showing it. */
    std::string png = File("scatter.png");
    CopyString(ImagePath, sizeof ImagePath, png.c_str(), -1);
    ImageRequest = IMAGE_SAVE_PNG;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(ImageRequest, IMAGE_NONE);
    EXPECT_EQ(ReadTestFile(png).substr(1, 3), "PNG");

    /* The options dialog: a refresh reads the controls, and a bucket count
    ** above the point count comes back as the point count. */
    /* made hidden, so the dialog watcher leaves it alone */
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_PLOT_OPTIONS), nullptr,
                                     TradePlotOptionsDlgProc, (LPARAM)window);
    ASSERT_NE(dialog, nullptr);
    record->optionsDialog = dialog;
    GetWindowTextA(dialog, title, sizeof title);
    EXPECT_STREQ(title, "Trade Plot Options - Test 4 - Breakout");
    /* The formula field is an editor holding the setting; its text goes back
    ** to the record and the setting on refresh. */
    HWND formula = GetDlgItem(dialog, IDC_PLOT_FORMULA);
    char className[32] = "", text[300] = "";
    GetClassNameA(formula, className, sizeof className);
    EXPECT_STREQ(className, "Scintilla");
    SendMessageA(formula, SCI_GETTEXT, sizeof text, (LPARAM)text);
    EXPECT_STREQ(text, gSettings.PlotFormula);
    SendMessageA(formula, SCI_SETTEXT, 0, (LPARAM)"C / AVG(C,50)");
    SendDlgItemMessageA(dialog, IDC_PLOT_TYPE, CB_SETCURSEL, PLOT_PROFIT_DISTRIBUTION, 0);
    SetDlgItemTextA(dialog, IDC_PLOT_DIST_BINS, "500");
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_STREQ(record->formula, "C / AVG(C,50)");
    EXPECT_STREQ(gSettings.PlotFormula, "C / AVG(C,50)");
    EXPECT_EQ(record->kind, PLOT_PROFIT_DISTRIBUTION);
    EXPECT_EQ(record->distributionBuckets, 3);
    EXPECT_EQ(GetDlgItemInt(dialog, IDC_PLOT_DIST_BINS, nullptr, FALSE), 3u);
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(record->optionsDialog, nullptr);

    /* mode 1 reuses the window */
    EXPECT_EQ(OpenTradePlotWindow(nullptr, &t.test, 1), window);
    EXPECT_EQ(CountChildren("KestovarPlot"), 1);
}

TEST_F(FrameTest, PlotCrossHairRedrawsOnlyItsStrips)
{
    PlotTest t(1);
    gSettings.PlotDisplay = PLOT_CUMULATIVE;
    gSettings.PlotCrossHair = 0;
    HWND window = OpenTradePlotWindow(nullptr, &t.test, 0);
    ASSERT_NE(window, nullptr);
    Pump();
    PlotWindow *record = GetPlotRecord(window);
    SendMessageA(window, WM_CHAR, 'x', 0);
    ASSERT_EQ(record->crossHair, 1);
    UpdateWindow(window);
    RECT client;
    GetClientRect(window, &client);
    ASSERT_GT(client.right, 300);
    ASSERT_GT(client.bottom, 200);
    int T = record->paintedTextHeight;
    ASSERT_GT(T, 0);
    auto moveTo = [&](int x, int y, UINT message) {
        POINT p = {x, y};
        ClientToScreen(window, &p);
        SetCursorPos(p.x, p.y);
        SendMessageA(window, message, 0, message == WM_MOUSEMOVE ? MAKELPARAM(x, y) : MAKELPARAM(p.x, p.y));
    };
    HRGN update = CreateRectRgn(0, 0, 0, 0);
    auto invalid = [&](int x, int y) {
        GetUpdateRgn(window, update, FALSE);
        return PtInRegion(update, x, y) != 0;
    };
    int x1 = client.right / 2, y1 = client.bottom / 3, x2 = x1 + 60, y2 = y1 + 50;
    moveTo(x1, y1, WM_MOUSEMOVE);
    EXPECT_EQ(record->crossX, x1);
    EXPECT_EQ(record->crossY, y1);
    struct Probe {
        const char *what;
        int x, y;
        bool dirty;
    } first[] = {
        {"on the vertical line", x1 + 4, 5, true},
        {"on the horizontal line", client.right - 2, y1 - 4, true},
        {"the value label in the margin", 1, y1 + T - 1, true},
        {"the x label under the axis", 2, client.bottom - 2, true},
        {"away from both lines", x1 + 30, y1 + 30, false},
    };
    for (const Probe &p : first) EXPECT_EQ(invalid(p.x, p.y), p.dirty) << p.what;
    UpdateWindow(window);
    moveTo(x2, y2, WM_MOUSEMOVE);
    Probe second[] = {
        {"the old vertical line", x1, 5, true},
        {"the new vertical line", x2, 5, true},
        {"the new horizontal line", client.right - 2, y2, true},
        {"between them", x1 + 30, y1 + 25, false},
    };
    for (const Probe &p : second) EXPECT_EQ(invalid(p.x, p.y), p.dirty) << p.what;
    UpdateWindow(window);
    /* Onto the window's frame: the cross hair goes, its strips are redrawn. */
    moveTo(x2, client.bottom + 2, WM_NCMOUSEMOVE);
    EXPECT_EQ(record->crossX, -1);
    EXPECT_TRUE(invalid(x2, 5));
    EXPECT_FALSE(invalid(x1, 5));
    DeleteObject(update);
    SendMessageA(window, WM_CLOSE, 0, 0);
    Pump();
}

TEST_F(FrameTest, ReportPlotsWriteFivePicturesAndTheirHtml)
{
    PlotTest t(1);
    gSettings.ReportMCLines = 20;
    gSettings.ReportMCKeep = 3;
    static std::string text;
    text.clear();
    CopyString(gPlotReportTarget.folder, sizeof gPlotReportTarget.folder, folder.c_str(), -1);
    gPlotReportTarget.write = [](const char *part) { text += part; };
    EXPECT_EQ(OpenTradePlotWindow(nullptr, &t.test, -1), nullptr);
    gPlotReportTarget.write = nullptr;
    for (int kind : {0, 1, 2, 4, 5})
        EXPECT_EQ(ReadTestFile(File("plot" + std::to_string(kind) + ".png")).substr(1, 3), "PNG") << kind;
    EXPECT_TRUE(ReadTestFile(File("plot3.png")).empty());
    EXPECT_NE(text.find("<img class='w3-image' src='plot4.png' onclick=\"document.getElementById('plot4')"),
              std::string::npos);
    EXPECT_NE(text.find("<h3 class='w3-container w3-pale-red'>Monte Carlo Analysis</h3>"), std::string::npos);
    EXPECT_EQ(CountChildren("KestovarPlot"), 0);
}

TEST_F(FrameTest, ResultsGraphCommandsAndTitles)
{
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
    AddDefinitionRecord(&gResultsColumns, sizeof(FormulaColumn));
    AddDefinitionRecord(&gResultsColumns, sizeof(FormulaColumn));
    FormulaColumn *columns = (FormulaColumn *)gResultsColumns.items;
    columns[0].format = 0; /* not shown */
    columns[1].format = 2;
    columns[1].decimals = 0;
    strcpy(columns[1].heading, "Net");

    ParamValue variables[2] = {};
    strcpy(variables[0].name, "A");
    variables[0].valueCount = 2;
    strcpy(variables[1].name, "B");
    variables[1].valueCount = 2;
    ResultsWindow results{};
    results.columns = variables;
    results.columnCount = 2;
    TestRecord tests[4] = {};
    ParamValue params[4][2] = {};
    double values[4][2] = {};
    StrategyResult strategy{};
    for (int i = 0; i < 4; i++) {
        tests[i].testNumber = i + 1;
        tests[i].strategyCount = 1;
        tests[i].strategies = &strategy;
        values[i][1] = 10.0 * (i - 1);
        tests[i].resultsValues = values[i];
        tests[i].resultsValueCount = 2;
        params[i][0] = variables[0];
        params[i][0].valueIndex = i % 2;
        params[i][0].value = i % 2;
        params[i][1] = variables[1];
        params[i][1].valueIndex = i / 2;
        params[i][1].value = i / 2;
        tests[i].parameters = params[i];
        tests[i].parameterCount = 2;
        tests[i].next = i < 3 ? &tests[i + 1] : nullptr;
    }
    results.firstTest = &tests[0];
    results.testCount = 4;

    gSettings.ResGraphHeatMap = 0;
    gSettings.ResGraphSort = 0;
    gSettings.ResGraphXVar = 0;
    gSettings.ResGraphYVar = 1;
    gSettings.ResGraphValueCol = 5; /* beyond the one shown column */
    HWND window = CreateResGraphWindow(&results);
    ASSERT_NE(window, nullptr);
    ResGraphWindow *r = GetResGraphRecord(window);
    ASSERT_NE(r, nullptr);
    /* The tab strip spans the window at once (a maximised one gets no later
    ** size message). */
    EXPECT_TRUE(TabStripSpans(window, (HWND)r->tabs));
    Pump();
    EXPECT_EQ(gSettings.ResGraphValueCol, 0);
    struct Step {
        int command;
        const char *title;
    } steps[] = {
        {0, "Optimization Graph - Net"},
        {IDM_RESGRAPH_SORT, "Optimization Graph - Net (sorted)"},
        {IDM_RESGRAPH_HEAT_MAP, "Optimization Heat Map - Net"},
        {IDM_RESGRAPH_HEAT_MAP, "Optimization Graph - Net (sorted)"},
        {RES_GRAPH_FIRST_X_VARIABLE + 2, "Optimization Graph - Net (sorted)"}, /* Test Number */
    };
    char title[300];
    for (const Step &s : steps) {
        if (s.command) DispatchFrameCommand(s.command);
        GetWindowTextA(window, title, sizeof title);
        EXPECT_STREQ(title, s.title) << s.command;
    }
    EXPECT_STREQ(r->xLabel, "Test:");
    EXPECT_EQ(r->pointCount, 4);

    /* The axis sub-menus, as the menu opens, list the variables; outside a
    ** heat map the x list ends in "Test Number", and choosing it greys the
    ** second list. */
    SendMessageA(gFrame.frame, WM_INITMENU, (WPARAM)GetMenu(gFrame.frame), 0);
    HMENU bar = gWindowKinds[WK_RESGRAPH].menu, popup = nullptr;
    for (int i = 0; bar && i < GetMenuItemCount(bar) && !popup; i++)
        if (GetSubMenu(bar, i) && GetSubMenu(GetSubMenu(bar, i), 0)) popup = GetSubMenu(bar, i);
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(popup, 0)), 3);
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(popup, 1)), 2);
    EXPECT_EQ(GetMenuState(GetSubMenu(popup, 0), 2, MF_BYPOSITION) & MF_CHECKED, UINT(MF_CHECKED));
    EXPECT_EQ(GetMenuState(popup, 1, MF_BYPOSITION) & MF_GRAYED, UINT(MF_GRAYED));

    /* The options dialog greys what does not apply: "Test Number" as the
    ** x axis greys the second variable; heat maps need two variables. */
    HWND options = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_RESGRAPH_OPTIONS), nullptr,
                                      ResGraphOptionsDlgProc, (LPARAM)window);
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(SendDlgItemMessageA(options, IDC_RG_X_VAR, CB_GETCOUNT, 0, 0), 3);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_RG_Y_VAR)));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(options, IDC_RG_HEAT_MAP)));
    UpdateResGraphOptions(options, 1);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(options, IDC_RG_HEAT_MAP)));
    EXPECT_EQ(IsDlgButtonChecked(options, IDC_RG_BAR_CHART), BST_CHECKED);
    DestroyWindow(options);

    /* The heat map in a picture without the tab strip. */
    DispatchFrameCommand(RES_GRAPH_FIRST_X_VARIABLE);
    DispatchFrameCommand(IDM_RESGRAPH_HEAT_MAP);
    SendMessageA(gFrame.frame, WM_INITMENU, (WPARAM)GetMenu(gFrame.frame), 0);
    char text[40];
    GetMenuStringA(popup, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Y-Axis");
    EXPECT_EQ(GetMenuItemCount(GetSubMenu(popup, 0)), 2);
    HoldForLook();
    std::string png = File("heat.png");
    CopyString(ImagePath, sizeof ImagePath, png.c_str(), -1);
    ImageRequest = IMAGE_SAVE_PNG;
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    EXPECT_EQ(ReadTestFile(png).substr(1, 3), "PNG");

    /* An opening menu shows the graph's own state: Heat Map ticked by its mode
    ** and greyed with fewer than two variables, Sort Columns ticked by its flag
    ** and greyed in a heat map, the regression line ticked by its flag, and the
    ** axis lists rebuilt with the current variables ticked. */
    struct MenuCase {
        const char *what;
        int command, variables;
        UINT heat, heatGrey, sort, sortGrey, trend;
    } menuCases[] = {
        {"heat map, sorted", 0, 2, MF_CHECKED, 0, MF_CHECKED, MF_GRAYED, 0},
        {"regression line on", IDM_RESGRAPH_TREND, 2, MF_CHECKED, 0, MF_CHECKED, MF_GRAYED, MF_CHECKED},
        {"bar chart", IDM_RESGRAPH_HEAT_MAP, 2, 0, 0, MF_CHECKED, 0, MF_CHECKED},
        {"unsorted", IDM_RESGRAPH_SORT, 2, 0, 0, 0, 0, MF_CHECKED},
        {"one variable", 0, 1, 0, MF_GRAYED, 0, 0, MF_CHECKED},
    };
    HMENU own = FindSubMenuByText(GetMenu(gFrame.frame), "Res&Graph");
    ASSERT_NE(own, nullptr);
    for (const MenuCase &c : menuCases) {
        if (c.command) DispatchFrameCommand(c.command);
        r->variableCount = c.variables; /* the graph of a one-parameter optimization */
        DeleteMenu(GetSubMenu(own, 0), 0, MF_BYPOSITION);
        UpdateFrameMenus(gFrame.frame, 1);
        EXPECT_EQ(GetMenuState(own, IDM_RESGRAPH_HEAT_MAP, MF_BYCOMMAND) & MF_CHECKED, c.heat) << c.what;
        EXPECT_EQ(GetMenuState(own, IDM_RESGRAPH_HEAT_MAP, MF_BYCOMMAND) & MF_GRAYED, c.heatGrey) << c.what;
        EXPECT_EQ(GetMenuState(own, IDM_RESGRAPH_SORT, MF_BYCOMMAND) & MF_CHECKED, c.sort) << c.what;
        EXPECT_EQ(GetMenuState(own, IDM_RESGRAPH_SORT, MF_BYCOMMAND) & MF_GRAYED, c.sortGrey) << c.what;
        EXPECT_EQ(GetMenuState(own, IDM_RESGRAPH_TREND, MF_BYCOMMAND) & MF_CHECKED, c.trend) << c.what;
        /* The x list: the variables, then "Test Number" outside a heat map; A is the x variable. */
        EXPECT_EQ(GetMenuItemCount(GetSubMenu(own, 0)), c.variables + (c.heat ? 0 : 1)) << c.what;
        EXPECT_EQ(GetMenuState(GetSubMenu(own, 0), 0, MF_BYPOSITION) & MF_CHECKED, UINT(MF_CHECKED)) << c.what;
    }
    r->variableCount = 2;
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);
}

} // namespace
