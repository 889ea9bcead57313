/* settings_table.cpp -- the settings table, the editor styles and colour
** sets, and the routines that load and save them. */
#include "foundation/settings_table.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/errors.h"
#include "foundation/ini_file.h"
#include "foundation/path_macros.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "platform/platform.h"
#include "services/services.h"

/* clang-format off */
ProgramSettings gSettings = {
    .MaxMemPct = 95,
    .StatusBarFields = 4,
    .ShowStatusBar = 1,
    .PopupSeconds = 3,
};
/* clang-format on */

int SettingsExchangeActive = 0;
OpenFileLister gListOpenFileWindows = nullptr;
SettingListSource gSettingListSource = nullptr;

static_assert(sizeof gSettings.DataFile == PATH_SIZE && sizeof gSettings.ActiveScript == PATH_SIZE,
              "path rows hold a path's letters");
static_assert(sizeof gSettings.FindWhat == SETTING_HISTORY_TEXT_SIZE, "history-text rows hold 256 characters");

/* ---- word lists ------------------------------------------------------------------------ */

const char *const kBarSizeWords[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly", nullptr};
const char *const kDateOrderWords[] = {"MDY", "DMY", nullptr};
const char *const kTimeUnitWords[] = {"None", "Days", "Weeks", "Months", "Years", nullptr};
const char *const kAnchorWords[] = {"None", "Start", "End", nullptr};
const char *const kWheelDirectionWords[] = {"Up=Forward", "Up=Back", nullptr};
const char *const kPlotXFieldWords[] = {"Trade Number", "Formula", nullptr};
const char *const kPlotYFieldWords[] = {"Dollars", "Trade Percent", "Alloc Percent", nullptr};
const char *const kPlotDisplayWords[] = {"Scatter Plot", "Profit Distribution", "MAE/MFE Distribution",
                                         "Cumulative Profit", "Monte Carlo Profits", "Monte Carlo Drawdowns",
                                         "Equal Count Bins", "Equal Range Bins", nullptr};

/* ---- the table ------------------------------------------------------------------------ */

/* Dialogs: 215 settings panel, 229 Options, 213 optimizer settings, 252 report
** options, 232 Find in Files, 205 debug panel, 223 script-window options, 211
** log-window options, 203/209/219/227/253 the option panels of chart, graph,
** plot, result-graph and compare-trades windows.  A row with control 0 is
** kept in the file only.  The last two columns, where a row has them, are
** its rule: a number's range (the spin's, where its box has one), or a
** folder's most letters; the output folder leaves room for "\Reports", the
** longest of the subfolders made in it, so no run fails for want of it. */
/* clang-format off */
const SettingEntry gSettingTable[SETTING_ROW_COUNT + 1] = {
/*    section           key                        default                 dialog control type           variable                             extra, low, high */
    { "Settings",       "DataFile",                "",                      215, 1031, ST_PATH,        gSettings.DataFile,                  {.history = gSettings.DataFileMRU} },
    { "Settings",       "ActiveScript",            "Examples\\sample1.kvs", 215, 1137, ST_PATH,        gSettings.ActiveScript,              {.history = gSettings.ActiveScriptMRU} },
    { "Settings",       "TestName",                "",                      215, 1169, ST_TEXT,        gSettings.TestName,                  {.n = sizeof gSettings.TestName} },
    { "Settings",       "FirstDate",               "20150101",              215, 1043, ST_DATE,        &gSettings.FirstDate,                {} },
    { "Settings",       "LastDate",                "20250101",              215, 1079, ST_DATE,        &gSettings.LastDate,                 {} },
    { "Settings",       "NumBars",                 "0",                     215, 1017, ST_INT,         &gSettings.NumBars,                  {}, 0, 2147483647 },
    { "Settings",       "UseEarliestDate",         "1",                     215, 1035, ST_BOOL,        &gSettings.UseEarliestDate,          {} },
    { "Settings",       "UseLatestDate",           "1",                     215, 1081, ST_BOOL,        &gSettings.UseLatestDate,            {} },
    { "Settings",       "BarSize2",                "0",                     215, 1094, ST_WORD,        &gSettings.BarSize2,                 {.words = kBarSizeWords} },
    { "Settings",       "AccountSize",             "100000",                215, 1153, ST_DOUBLE,      &gSettings.AccountSize,              {}, 1, 1e15 },
    { "Settings",       "KeepTrades",              "1",                     215, 1303, ST_BOOL,        &gSettings.KeepTrades,               {} },
    { "Settings",       "KeepBench",               "1",                     215, 1315, ST_BOOL,        &gSettings.KeepBench,                {} },
    { "Settings",       "KeepSkipped",             "0",                     215, 1314, ST_BOOL,        &gSettings.KeepSkipped,              {} },
    { "Settings",       "AddReport",               "0",                     215, 1278, ST_BOOL,        &gSettings.AddReport,                {} },
    { "Settings",       "AddGraph",                "0",                     215, 1145, ST_BOOL,        &gSettings.AddGraph,                 {} },
    { "Settings",       "AddLog",                  "0",                     215, 1301, ST_BOOL,        &gSettings.AddLog,                   {} },
    { "Settings",       "AddTrades",               "0",                     215, 1279, ST_BOOL,        &gSettings.AddTrades,                {} },
    { "Settings",       "AddScan",                 "0",                     215, 1280, ST_BOOL,        &gSettings.AddScan,                  {} },
    { "Settings",       "AddDebug",                "0",                     215, 1281, ST_BOOL,        &gSettings.AddDebug,                 {} },
    { "Options",        "ScriptPath",              "",                      229, 1334, ST_TEXT,        gSettings.ScriptPath,                {.n = sizeof gSettings.ScriptPath} },
    { "Options",        "DataPath",                "",                      229, 1336, ST_TEXT,        gSettings.DataPath,                  {.n = sizeof gSettings.DataPath} },
    { "Options",        "OutputPath",              "",                      229, 1338, ST_TEXT,        gSettings.OutputPath,                {.n = sizeof gSettings.OutputPath}, 0, 251 },
    { "Options",        "CalcThreads",             "0",                     229, 1230, ST_INT,         &gSettings.CalcThreads,              {}, 0, 32 },
    { "Options",        "MaxMemPct",               "95",                    229, 1234, ST_INT,         &gSettings.MaxMemPct,                {}, 10, 200 },
    { "Options",        "ExtractOnePassItems",     "1",                     229, 1397, ST_BOOL,        &gSettings.ExtractOnePassItems,      {} },
    { "Options",        "AutoOnePerX",             "1",                     229, 1400, ST_BOOL,        &gSettings.AutoOnePerX,              {} },
    { "Options",        "UseShortCircuit",         "1",                     229, 1424, ST_BOOL,        &gSettings.UseShortCircuit,          {} },
    { "Options",        "LogDataCalcTimes",        "0",                     229, 1375, ST_BOOL,        &gSettings.LogDataCalcTimes,         {} },
    { "Options",        "DateDisplayFormat",       "M/d/yy",                229, 1357, ST_TEXT,        gSettings.DateDisplayFormat,         {.n = sizeof gSettings.DateDisplayFormat} },
    { "Options",        "DateInputFormat",         "0",                     229, 1358, ST_WORD,        &gSettings.DateInputFormat,          {.words = kDateOrderWords} },
    { "Options",        "Currency",                "USD",                   229, 1417, ST_TEXT,        gSettings.Currency,                  {.n = sizeof gSettings.Currency} },
    { "Options",        "AskUnloadData",           "1",                     229, 1386, ST_BOOL,        &gSettings.AskUnloadData,            {} },
    { "Options",        "AskDeleteTests",          "1",                     229, 1387, ST_BOOL,        &gSettings.AskDeleteTests,           {} },
    { "Options",        "AskSaveUntitled",         "1",                     229, 1388, ST_BOOL,        &gSettings.AskSaveUntitled,          {} },
    { "Options",        "ReuseListWindows",        "0",                     229, 1416, ST_BOOL,        &gSettings.ReuseListWindows,         {} },
    { "Options",        "ConfirmStop",             "1",                     229, 1408, ST_BOOL,        &gSettings.ConfirmStop,              {} },
    { "Options",        "CsvListView",             "1",                     229, 1390, ST_BOOL,        &gSettings.CsvListView,              {} },
    { "Options",        "ShowTextOrders",          "1",                     229, 1392, ST_BOOL,        &gSettings.ShowTextOrders,           {} },
    { "Options",        "CheckForUpdates",         "1",                     229, 1383, ST_BOOL,        &gSettings.CheckForUpdates,          {} },
    { "Options",        "MaxBackups",              "3",                     223, 1165, ST_INT,         &gSettings.MaxBackups,               {}, 0, 99 },
    { "Options",        "EarliestImportYear",      "1990",                  229,    0, ST_INT,         &gSettings.EarliestImportYear,       {} },
    { "Options",        "ImportBarTime",           "160000",                229,    0, ST_INT,         &gSettings.ImportBarTime,            {} },
    { "Options",        "StatusBarFields",         "4",                     229,    0, ST_INT,         &gSettings.StatusBarFields,          {} },
    { "Options",        "TLPriceTolerance",        "0",                     229,    0, ST_INT,         &gSettings.TLPriceTolerance,         {} },
    { "Options",        "TLNoPopups",              "0",                     229,    0, ST_BOOL,        &gSettings.TLNoPopups,               {} },
    { "Options",        "WriteTLDebugFile",        "0",                     229,    0, ST_BOOL,        &gSettings.WriteTLDebugFile,         {} },
    { "Options",        "ShowBondPriceFractional", "1",                     229,    0, ST_BOOL,        &gSettings.ShowBondPriceFractional,  {} },
    { "Options",        "UserDllPath",             "",                      229,    0, ST_TEXT,        gSettings.UserDllPath,               {.n = sizeof gSettings.UserDllPath} },
    { "Options",        "EmaPrecision",            "0.005",                 229,    0, ST_DOUBLE,      &gSettings.EmaPrecision,             {} },
    { "Options",        "NearZero",                "1.0e-13",               229,    0, ST_DOUBLE,      &gSettings.NearZero,                 {} },
    { "Options",        "BarsHeldIncrPostClose",   "0",                     229,    0, ST_BOOL,        &gSettings.BarsHeldIncrPostClose,    {} },
    { "Options",        "UniqueOrderId",           "0",                     229,    0, ST_INT,         &gSettings.UniqueOrderId,            {} },
    { "Import",         "ImportThreads",           "0",                       0,    0, ST_INT,         &gSettings.ImportThreads,            {} },
    { "Import",         "ImportPause",             "0",                       0,    0, ST_INT,         &gSettings.ImportPause,              {} },
    { "Import",         "ImportTimeout",           "5",                       0,    0, ST_INT,         &gSettings.ImportTimeout,            {} },
    { "Import",         "ImportRetries",           "3",                       0,    0, ST_INT,         &gSettings.ImportRetries,            {} },
    { "Import",         "TiingoApiKey",            "",                        0,    0, ST_TEXT,        gSettings.TiingoApiKey,              {.n = sizeof gSettings.TiingoApiKey} },
    { "Import",         "TiingoExchanges",         "",                        0,    0, ST_TEXT,        gSettings.TiingoExchanges,           {.n = sizeof gSettings.TiingoExchanges} },
    { "Internal",       "FileOpenType",            "0",                       0,    0, ST_INT,         &gSettings.FileOpenType,             {} },
    { "Optimizer",      "OptimizeMode",            "0",                     213, 1113, ST_RADIO,       &gSettings.OptimizeMode,             {} },
    { "Optimizer",      "OptMutatePct",            "25",                    213, 1049, ST_INT,         &gSettings.OptMutatePct,             {}, 1, 99 },
    { "Optimizer",      "OptByStrategy",           "0",                     213, 1401, ST_BOOL,        &gSettings.OptByStrategy,            {} },
    { "Optimizer",      "OptBySymbol",             "0",                     213, 1207, ST_BOOL,        &gSettings.OptBySymbol,              {} },
    { "Optimizer",      "OptIterations",           "1",                     213, 1073, ST_INT,         &gSettings.OptIterations,            {}, 1, 9999 },
    { "Optimizer",      "OptScoreCol",             "1",                     213, 1135, ST_RESCOL,      &gSettings.OptScoreCol,              {} },
    { "Optimizer",      "OptClearResults",         "1",                     213, 1107, ST_BOOL,        &gSettings.OptClearResults,          {} },
    { "Optimizer",      "OptSortResults",          "0",                     213, 1123, ST_BOOL,        &gSettings.OptSortResults,           {} },
    { "Optimizer",      "OptKeepBest",             "0",                     213, 1109, ST_INT,         &gSettings.OptKeepBest,              {}, 0, 9999 },
    { "Optimizer",      "OptKeepByDate",           "0",                     213, 1105, ST_BOOL,        &gSettings.OptKeepByDate,            {} },
    { "Optimizer",      "OptKeepBySymbol",         "0",                     213, 1208, ST_BOOL,        &gSettings.OptKeepBySymbol,          {} },
    { "Optimizer",      "OptKeepNoTrades",         "0",                     213, 1420, ST_BOOL,        &gSettings.OptKeepNoTrades,          {} },
    { "Optimizer",      "OptTimeUnit",             "0",                     213, 1206, ST_WORD,        &gSettings.OptTimeUnit,              {.words = kTimeUnitWords} },
    { "Optimizer",      "OptTestLength",           "1",                     213, 1069, ST_INT,         &gSettings.OptTestLength,            {}, 1, 9999 },
    { "Optimizer",      "OptTestInterval",         "1",                     213, 1071, ST_INT,         &gSettings.OptTestInterval,          {}, -9999, 9999 },
    { "Optimizer",      "OptAnchor",               "0",                     213, 1212, ST_WORD,        &gSettings.OptAnchor,                {.words = kAnchorWords} },
    { "Optimizer",      "OptWalkForward",          "0",                     213, 1187, ST_BOOL,        &gSettings.OptWalkForward,           {} },
    { "Optimizer",      "OptMultiSaveAs",          "0",                     213, 1416, ST_BOOL,        &gSettings.OptMultiSaveAs,           {} },
    { "Optimizer",      "OptSummaryLog",           "0",                     213, 1407, ST_BOOL,        &gSettings.OptSummaryLog,            {} },
    { "Reports",        "ReportStats",             "1",                     252, 1345, ST_BOOL,        &gSettings.ReportStats,              {} },
    { "Reports",        "ReportMonthly",           "1",                     252, 1346, ST_BOOL,        &gSettings.ReportMonthly,            {} },
    { "Reports",        "ReportCorrel",            "1",                     252, 1347, ST_BOOL,        &gSettings.ReportCorrel,             {} },
    { "Reports",        "ReportGraphs",            "1",                     252, 1348, ST_BOOL,        &gSettings.ReportGraphs,             {} },
    { "Reports",        "ReportPlots",             "1",                     252, 1349, ST_BOOL,        &gSettings.ReportPlots,              {} },
    { "Reports",        "ReportSettings",          "1",                     252, 1351, ST_BOOL,        &gSettings.ReportSettings,           {} },
    { "Reports",        "ReportScript",            "1",                     252, 1352, ST_BOOL,        &gSettings.ReportScript,             {} },
    { "Reports",        "ReportBatchDisp",         "0",                     252, 1414, ST_BOOL,        &gSettings.ReportBatchDisp,          {} },
    { "Reports",        "ReportWidth",             "1200",                  252, 1354, ST_INT,         &gSettings.ReportWidth,              {}, 200, 10000 },
    { "Reports",        "ReportMCLines",           "100",                   252, 1411, ST_INT,         &gSettings.ReportMCLines,            {}, 1, 100000 },
    { "Reports",        "ReportMCKeep",            "5",                     252, 1413, ST_INT,         &gSettings.ReportMCKeep,             {}, 0, 1000 },
    { "Reports",        "ReportNumber",            "0",                     252,    0, ST_INT,         &gSettings.ReportNumber,             {} },
    { "FindInFiles",    "FindWhat",                "",                      232, 1242, ST_HISTORY,     gSettings.FindWhat,                  {.history = gSettings.FindWhatMRU} },
    { "FindInFiles",    "FindFolder",              "C:\\Kestovar",          232, 1244, ST_HISTORY,     gSettings.FindFolder,                {.history = gSettings.FindFolderMRU} },
    { "FindInFiles",    "FindTypes",               "*.KVS",                 232, 1243, ST_HISTORY,     gSettings.FindTypes,                 {.history = gSettings.FindTypesMRU} },
    { "FindInFiles",    "IncludeSubfolders",       "0",                     232, 1246, ST_BOOL,        &gSettings.IncludeSubfolders,        {} },
    { "FindInFiles",    "MatchFase",               "0",                     232, 1248, ST_BOOL,        &gSettings.MatchFase,                {} },
    { "FindInFiles",    "WholeWord",               "0",                     232, 1247, ST_BOOL,        &gSettings.WholeWord,                {} },
    { "DebugWindow",    "DebugFormula",            "C / AVG(C,20)",         205, 1047, ST_EDITOR_TEXT, gSettings.DebugFormula,              {.n = sizeof gSettings.DebugFormula} },
    { "DebugWindow",    "DebugSymbol",             "SPY",                   205, 1157, ST_TEXT,        gSettings.DebugSymbol,               {.n = sizeof gSettings.DebugSymbol} },
    { "DebugWindow",    "DebugDate",               "20170224",              205, 1033, ST_DATE,        &gSettings.DebugDate,                {} },
    { "DebugWindow",    "DebugBars",               "10",                    205, 1017, ST_INT,         &gSettings.DebugBars,                {}, 1, 9999 },
    { "DebugWindow",    "DebugShowEval",           "0",                     205, 1143, ST_BOOL,        &gSettings.DebugShowEval,            {} },
    { "DebugWindow",    "DebugZoomLevel",          "0",                     205,    0, ST_INT,         &gSettings.DebugZoomLevel,           {} },
    { "ScriptWindows",  "ScriptFont",              "Verdana",               223,    0, ST_TEXT,        gSettings.ScriptFont,                {.n = sizeof gSettings.ScriptFont} },
    { "ScriptWindows",  "ScriptFontHeight",        "9",                     223,    0, ST_INT,         &gSettings.ScriptFontHeight,         {} },
    { "ScriptWindows",  "ScriptZoomLevel",         "0",                     223, 1162, ST_INT,         &gSettings.ScriptZoomLevel,          {}, -10, 20 },
    { "ScriptWindows",  "ScriptTabWidth",          "4",                     223, 1161, ST_INT,         &gSettings.ScriptTabWidth,           {}, 1, 99 },
    { "ScriptWindows",  "ScriptCallTips",          "1",                     223, 1025, ST_BOOL,        &gSettings.ScriptCallTips,           {} },
    { "ScriptWindows",  "ScriptAutoComp",          "1",                     223, 1007, ST_BOOL,        &gSettings.ScriptAutoComp,           {} },
    { "ScriptWindows",  "ScriptAutoCDesc",         "1",                     223, 1009, ST_BOOL,        &gSettings.ScriptAutoCDesc,          {} },
    { "ScriptWindows",  "ScriptHighlightOther",    "1",                     223, 1010, ST_BOOL,        &gSettings.ScriptHighlightOther,     {} },
    { "ScriptWindows",  "ScriptMarginClick",       "1",                     223, 1361, ST_BOOL,        &gSettings.ScriptMarginClick,        {} },
    { "ScriptWindows",  "ScriptDynamicTabs",       "1",                     223, 1398, ST_BOOL,        &gSettings.ScriptDynamicTabs,        {} },
    { "ScriptWindows",  "ScriptForeground",        "RGB(0,0,0)",            223,    0, ST_COLOR,       &gSettings.ScriptForeground,         {} },
    { "ScriptWindows",  "ScriptBackground",        "RGB(255,255,255)",      223,    0, ST_COLOR,       &gSettings.ScriptBackground,         {} },
    { "ScriptWindows",  "ScriptCaret",             "RGB(0,0,0)",            223,    0, ST_COLOR,       &gSettings.ScriptCaret,              {} },
    { "LogWindows",     "LogFont",                 "Consolas",              211,    0, ST_TEXT,        gSettings.LogFont,                   {.n = sizeof gSettings.LogFont} },
    { "LogWindows",     "LogZoomLevel",            "0",                     211, 1162, ST_INT,         &gSettings.LogZoomLevel,             {}, -10, 20 },
    { "LogWindows",     "LogFontHeight",           "8",                     211,    0, ST_INT,         &gSettings.LogFontHeight,            {} },
    { "LogWindows",     "LogForeground",           "RGB(0,0,0)",            211,    0, ST_COLOR,       &gSettings.LogForeground,            {} },
    { "LogWindows",     "LogBackground",           "RGB(255,255,255)",      211,    0, ST_COLOR,       &gSettings.LogBackground,            {} },
    { "LogWindows",     "LogCaret",                "RGB(0,0,0)",            211,    0, ST_COLOR,       &gSettings.LogCaret,                 {} },
    { "LogWindows",     "LogTabWidth",             "14",                    211, 1161, ST_INT,         &gSettings.LogTabWidth,              {}, 1, 99 },
    { "ChartWindows",   "ChartCandlestick",        "1",                     203, 1027, ST_BOOL,        &gSettings.ChartCandlestick,         {} },
    { "ChartWindows",   "ChartLogScale",           "1",                     203, 1089, ST_BOOL,        &gSettings.ChartLogScale,            {} },
    { "ChartWindows",   "ChartSplitAdjust",        "1",                     203, 1151, ST_BOOL,        &gSettings.ChartSplitAdjust,         {} },
    { "ChartWindows",   "ChartVisibleBars",        "252",                   203, 1185, ST_INT,         &gSettings.ChartVisibleBars,         {}, 1, 2147483647 },
    { "ChartWindows",   "ChartExtraBars",          "10",                    203, 1041, ST_INT,         &gSettings.ChartExtraBars,           {}, 0, 2147483647 },
    { "ChartWindows",   "ChartAfterExit",          "1",                     203, 1003, ST_RADIO,       &gSettings.ChartAfterExit,           {} },
    { "ChartWindows",   "ChartShowIndPane",        "0",                     203, 1067, ST_BOOL,        &gSettings.ChartShowIndPane,         {} },
    { "ChartWindows",   "ChartIndPanePct",         "30",                    203, 1222, ST_INT,         &gSettings.ChartIndPanePct,          {}, 10, 90 },
    { "ChartWindows",   "ChartShowVolPane",        "1",                     203, 1068, ST_BOOL,        &gSettings.ChartShowVolPane,         {} },
    { "ChartWindows",   "ChartVolPanePct",         "20",                    203, 1223, ST_INT,         &gSettings.ChartVolPanePct,          {}, 10, 90 },
    { "ChartWindows",   "ChartCrossHair",          "0",                     203, 1029, ST_BOOL,        &gSettings.ChartCrossHair,           {} },
    { "ChartWindows",   "ChartBlackBG",            "0",                     203, 1195, ST_BOOL,        &gSettings.ChartBlackBG,             {} },
    { "ChartWindows",   "ChartBarSize2",           "0",                     203, 1094, ST_WORD,        &gSettings.ChartBarSize2,            {.words = kBarSizeWords} },
    { "ChartWindows",   "WheelScroll",             "0",                     203, 1095, ST_WORD,        &gSettings.WheelScroll,              {.words = kWheelDirectionWords} },
    { "ChartWindows",   "EntryExitLine",           "1",                     203, 1201, ST_BOOL,        &gSettings.EntryExitLine,            {} },
    { "ChartWindows",   "ShowOtherTrades",         "0",                     203, 1405, ST_BOOL,        &gSettings.ShowOtherTrades,          {} },
    { "ChartWindows",   "ChartLineWidth",          "1",                     203, 1211, ST_INT,         &gSettings.ChartLineWidth,           {}, 1, 9 },
    { "ChartWindows",   "ChartFont",               "Arial",                 203,    0, ST_TEXT,        gSettings.ChartFont,                 {.n = sizeof gSettings.ChartFont} },
    { "ChartWindows",   "ChartFontHeight",         "9",                     203,    0, ST_INT,         &gSettings.ChartFontHeight,          {} },
    { "ChartWindows",   "ChartShowCursor",         "0",                     203,    0, ST_BOOL,        &gSettings.ChartShowCursor,          {} },
    { "ChartWindows",   "ChartCursorBar",          "0",                     203,    0, ST_INT,         &gSettings.ChartCursorBar,           {} },
    { "ChartWindows",   "ChartUpBar",              "RGB(255,255,255)",      203,    0, ST_COLOR,       &gSettings.ChartUpBar,               {} },
    { "ChartWindows",   "ChartDownBar",            "RGB(0,0,0)",            203,    0, ST_COLOR,       &gSettings.ChartDownBar,             {} },
    { "GraphWindows",   "GraphMALen",              "20",                    209, 1095, ST_INT,         &gSettings.GraphMALen,               {}, 1, 2147483647 },
    { "GraphWindows",   "GraphSort",               "0",                     209, 1149, ST_BOOL,        &gSettings.GraphSort,                {} },
    { "GraphWindows",   "GraphCombinedArea",       "1",                     209, 1258, ST_BOOL,        &gSettings.GraphCombinedArea,        {} },
    { "GraphWindows",   "GraphUseLogScale",        "0",                     209, 1239, ST_BOOL,        &gSettings.GraphUseLogScale,         {} },
    { "GraphWindows",   "GraphFixedHeight",        "0",                     209, 1415, ST_BOOL,        &gSettings.GraphFixedHeight,         {} },
    { "GraphWindows",   "GraphShowMA",             "0",                     209, 1147, ST_BOOL,        &gSettings.GraphShowMA,              {} },
    { "GraphWindows",   "GraphLineWidth",          "1",                     209, 1211, ST_INT,         &gSettings.GraphLineWidth,           {}, 1, 9 },
    { "GraphWindows",   "GraphFont",               "Arial",                 209,    0, ST_TEXT,        gSettings.GraphFont,                 {.n = sizeof gSettings.GraphFont} },
    { "GraphWindows",   "GraphFontHeight",         "9",                     209,    0, ST_INT,         &gSettings.GraphFontHeight,          {} },
    { "GraphWindows",   "GraphType",               "0",                     209,    0, ST_GRAPHCOL,    &gSettings.GraphType,                {} },
    { "GraphWindows",   "GraphShowCursor",         "0",                     209,    0, ST_BOOL,        &gSettings.GraphShowCursor,          {} },
    { "PlotWindows",    "PlotStrat",               "0",                     219, 1155, ST_STRAT,       &gSettings.PlotStrat,                {} },
    { "PlotWindows",    "PlotXField",              "0",                     219, 1189, ST_WORD,        &gSettings.PlotXField,               {.words = kPlotXFieldWords} },
    { "PlotWindows",    "PlotYField",              "0",                     219, 1190, ST_WORD,        &gSettings.PlotYField,               {.words = kPlotYFieldWords} },
    { "PlotWindows",    "PlotDisplay",             "0",                     219, 1125, ST_WORD,        &gSettings.PlotDisplay,              {.words = kPlotDisplayWords} },
    { "PlotWindows",    "PlotMCLines",             "100",                   219, 1099, ST_INT,         &gSettings.PlotMCLines,              {}, 1, 100000 },
    { "PlotWindows",    "PlotMCShow",              "5",                     219, 1102, ST_INT,         &gSettings.PlotMCShow,               {}, 0, 1000 },
    { "PlotWindows",    "PlotCrossHair",           "0",                     219, 1029, ST_BOOL,        &gSettings.PlotCrossHair,            {} },
    { "PlotWindows",    "PlotTrend",               "1",                     219, 1175, ST_BOOL,        &gSettings.PlotTrend,                {} },
    { "PlotWindows",    "PlotLogStats",            "0",                     219, 1091, ST_BOOL,        &gSettings.PlotLogStats,             {} },
    { "PlotWindows",    "PlotUseMaxValue",         "0",                     219, 1202, ST_BOOL,        &gSettings.PlotUseMaxValue,          {} },
    { "PlotWindows",    "PlotUseMinValue",         "0",                     219, 1204, ST_BOOL,        &gSettings.PlotUseMinValue,          {} },
    { "PlotWindows",    "PlotPDCount",             "100",                   219, 1022, ST_INT,         &gSettings.PlotPDCount,              {}, 1, 10000 },
    { "PlotWindows",    "PlotBinCount",            "10",                    219, 1021, ST_INT,         &gSettings.PlotBinCount,             {}, 1, 10000 },
    { "PlotWindows",    "PlotBinIncr",             "0.1",                   219, 1023, ST_DOUBLE,      &gSettings.PlotBinIncr,              {} },
    { "PlotWindows",    "PlotMaxValue",            "0",                     219, 1203, ST_DOUBLE,      &gSettings.PlotMaxValue,             {} },
    { "PlotWindows",    "PlotMinValue",            "0",                     219, 1205, ST_DOUBLE,      &gSettings.PlotMinValue,             {} },
    { "PlotWindows",    "PlotFormula",             "V / AVG(V,20)",         219, 1047, ST_EDITOR_TEXT, gSettings.PlotFormula,               {.n = sizeof gSettings.PlotFormula} },
    { "CompareTrades",  "MatchDateIn",             "1",                     253, 1376, ST_BOOL,        &gSettings.MatchDateIn,              {} },
    { "CompareTrades",  "MatchDateOut",            "0",                     253, 1377, ST_BOOL,        &gSettings.MatchDateOut,             {} },
    { "CompareTrades",  "MatchStrategy",           "0",                     253, 1374, ST_BOOL,        &gSettings.MatchStrategy,            {} },
    { "CompareTrades",  "KeepMatches",             "1",                     253, 1378, ST_BOOL,        &gSettings.KeepMatches,              {} },
    { "CompareTrades",  "KeepNonMatches",          "1",                     253, 1379, ST_BOOL,        &gSettings.KeepNonMatches,           {} },
    { "CompareTrades",  "UseAccountPct",           "0",                     253, 1380, ST_BOOL,        &gSettings.UseAccountPct,            {} },
    { "CompareTrades",  "MinDlrDiff",              "0",                     253, 1370, ST_DOUBLE,      &gSettings.MinDlrDiff,               {}, 0, 1e15 },
    { "CompareTrades",  "MinPctDiff",              "0",                     253, 1371, ST_DOUBLE,      &gSettings.MinPctDiff,               {}, 0, 1e15 },
    { "CompareTrades",  "Test1",                   "0",                     253,    0, ST_INT,         &gSettings.Test1,                    {} },
    { "CompareTrades",  "Strat1",                  "0",                     253,    0, ST_INT,         &gSettings.Strat1,                   {} },
    { "CompareTrades",  "Test2",                   "0",                     253,    0, ST_INT,         &gSettings.Test2,                    {} },
    { "CompareTrades",  "Strat2",                  "0",                     253,    0, ST_INT,         &gSettings.Strat2,                   {} },
    { "ResGraphWindows", "ResGraphHeatMap",         "0",                     227, 1015, ST_RADIO,       &gSettings.ResGraphHeatMap,          {} },
    { "ResGraphWindows", "ResGraphSort",            "0",                     227, 1149, ST_BOOL,        &gSettings.ResGraphSort,             {} },
    { "ResGraphWindows", "ResGraphTrend",           "0",                     227, 1175, ST_BOOL,        &gSettings.ResGraphTrend,            {} },
    { "ResGraphWindows", "ResGraphXVar",            "0",                     227, 1191, ST_OPTVAR,      &gSettings.ResGraphXVar,             {} },
    { "ResGraphWindows", "ResGraphYVar",            "1",                     227, 1193, ST_OPTVAR,      &gSettings.ResGraphYVar,             {} },
    { "ResGraphWindows", "ResGraphValueCol",        "0",                     227,    0, ST_RESCOL,      &gSettings.ResGraphValueCol,         {} },
    { "RecentItems",    "RecentFiles",             "",                        0,    0, ST_PATH,        nullptr,                             {.history = gSettings.RecentFilesMRU} },
    { "MainWindow",     "ShowSettings",            "1",                       0,    0, ST_BOOL,        &gSettings.ShowSettings,             {} },
    { "MainWindow",     "SettingsColor",           "RGB(240,244,240)",        0,    0, ST_COLOR,       &gSettings.SettingsColor,            {} },
    { "MainWindow",     "ShowDebugger",            "0",                       0,    0, ST_BOOL,        &gSettings.ShowDebugger,             {} },
    { "MainWindow",     "DebugColor",              "RGB(244,240,244)",        0,    0, ST_COLOR,       &gSettings.DebugColor,               {} },
    { "MainWindow",     "ShowToolBar",             "1",                       0,    0, ST_BOOL,        &gSettings.ShowToolBar,              {} },
    { "MainWindow",     "ShowTabBar",              "1",                       0,    0, ST_BOOL,        &gSettings.ShowTabBar,               {} },
    { "MainWindow",     "ShowStatusBar",           "1",                       0,    0, ST_BOOL,        &gSettings.ShowStatusBar,            {} },
    { "MainWindow",     "PopupSeconds",            "3",                       0,    0, ST_BOOL,        &gSettings.PopupSeconds,             {} },
    { "WindowPositions", "fMaximized",              "0",                       0,    0, ST_BOOL,        &gSettings.fMaximized,               {} },
    { "WindowPositions", "fChildMaxed",             "0",                       0,    0, ST_BOOL,        &gSettings.fChildMaxed,              {} },
    { "WindowPositions", "iMainX",                  "0",                       0,    0, ST_INT,         &gSettings.iMainX,                   {} },
    { "WindowPositions", "iMainY",                  "0",                       0,    0, ST_INT,         &gSettings.iMainY,                   {} },
    { "WindowPositions", "iMainW",                  "0",                       0,    0, ST_INT,         &gSettings.iMainW,                   {} },
    { "WindowPositions", "iMainH",                  "0",                       0,    0, ST_INT,         &gSettings.iMainH,                   {} },
    { "WindowPositions", "iScriptW",                "0",                       0,    0, ST_INT,         &gSettings.iScriptW,                 {} },
    { "WindowPositions", "iScriptH",                "0",                       0,    0, ST_INT,         &gSettings.iScriptH,                 {} },
    { "WindowPositions", "iOptimizeW",              "0",                       0,    0, ST_INT,         &gSettings.iOptimizeW,               {} },
    { "WindowPositions", "iOptimizeH",              "0",                       0,    0, ST_INT,         &gSettings.iOptimizeH,               {} },
    { "WindowPositions", "iResW",                   "0",                       0,    0, ST_INT,         &gSettings.iResW,                    {} },
    { "WindowPositions", "iResH",                   "0",                       0,    0, ST_INT,         &gSettings.iResH,                    {} },
    { "WindowPositions", "iLogW",                   "0",                       0,    0, ST_INT,         &gSettings.iLogW,                    {} },
    { "WindowPositions", "iLogH",                   "0",                       0,    0, ST_INT,         &gSettings.iLogH,                    {} },
    { "WindowPositions", "iResGraphW",              "0",                       0,    0, ST_INT,         &gSettings.iResGraphW,               {} },
    { "WindowPositions", "iResGraphH",              "0",                       0,    0, ST_INT,         &gSettings.iResGraphH,               {} },
    { "WindowPositions", "iGraphW",                 "0",                       0,    0, ST_INT,         &gSettings.iGraphW,                  {} },
    { "WindowPositions", "iGraphH",                 "0",                       0,    0, ST_INT,         &gSettings.iGraphH,                  {} },
    { "WindowPositions", "iPlotW",                  "0",                       0,    0, ST_INT,         &gSettings.iPlotW,                   {} },
    { "WindowPositions", "iPlotH",                  "0",                       0,    0, ST_INT,         &gSettings.iPlotH,                   {} },
    { "WindowPositions", "iSettingsW",              "0",                       0,    0, ST_INT,         &gSettings.iSettingsW,               {} },
    { "WindowPositions", "iSettingsH",              "0",                       0,    0, ST_INT,         &gSettings.iSettingsH,               {} },
    { "WindowPositions", "iTradesW",                "0",                       0,    0, ST_INT,         &gSettings.iTradesW,                 {} },
    { "WindowPositions", "iTradesH",                "0",                       0,    0, ST_INT,         &gSettings.iTradesH,                 {} },
    { "WindowPositions", "iScanW",                  "0",                       0,    0, ST_INT,         &gSettings.iScanW,                   {} },
    { "WindowPositions", "iScanH",                  "0",                       0,    0, ST_INT,         &gSettings.iScanH,                   {} },
    { "WindowPositions", "iCompareW",               "0",                       0,    0, ST_INT,         &gSettings.iCompareW,                {} },
    { "WindowPositions", "iCompareH",               "0",                       0,    0, ST_INT,         &gSettings.iCompareH,                {} },
    { "WindowPositions", "iListW",                  "0",                       0,    0, ST_INT,         &gSettings.iListW,                   {} },
    { "WindowPositions", "iListH",                  "0",                       0,    0, ST_INT,         &gSettings.iListH,                   {} },
    { "WindowPositions", "iChartX",                 "0",                       0,    0, ST_INT,         &gSettings.iChartX,                  {} },
    { "WindowPositions", "iChartY",                 "0",                       0,    0, ST_INT,         &gSettings.iChartY,                  {} },
    { "WindowPositions", "iChartW",                 "0",                       0,    0, ST_INT,         &gSettings.iChartW,                  {} },
    { "WindowPositions", "iChartH",                 "0",                       0,    0, ST_INT,         &gSettings.iChartH,                  {} },
    { nullptr,          nullptr,                   nullptr,                   0,    0, 0,              nullptr,                             {} },
};
/* clang-format on */

/* ---- editor styles ----------------------------------------------------------------------- */

/* clang-format off */
const EditorStyle gEditorStyleTable[EDITOR_STYLE_ROWS] = {
/*    name        description             style index */
    { "SectID",   "Script Section",       8 },
    { "SectName", "Section Name",         9 },
    { "SectItem", "Section Item",         10 },
    { "VarName",  "Variable Name",        11 },
    { "Const",    "Constant",             12 },
    { "InfoText", "Strat or Sym Info",    13 },
    { "VarRef",   "Variable Reference",   14 },
    { "StatItem", "Stat Item",            15 },
    { "TradeItem","Trade Item",           16 },
    { "DataItem", "Bar Item",             17 },
    { "IndFun",   "Indicator Function",   18 },
    { "BarFun",   "Multi-Bar Function",   19 },
    { "GenFun",   "General Function",     20 },
    { "String",   "Text String",          6 },
    { "CommentP", "{Comment}",            2 },
    { "CommentC", "/*Comment*/",          3 },
    { "CommentL", "//Comment",            4 },
    { "CondComm", "#ifdef foo",           5 },
    { "Notes",    "Notes",                21 },
    { "Other",    "Other Keywords",       0 },
    { "Unknown",  "Unknown Syntax",       1 },   /* shown, never stored */
};
/* clang-format on */

static constexpr uint32_t Rgb(int r, int g, int b) { return (uint32_t)r | (uint32_t)g << 8 | (uint32_t)b << 16; }

/* clang-format off */
static const EditorStyleRecord kEditorStyleDefaults[EDITOR_STYLE_RECORDS] = {
/*    colour               bold italic       style index */
    { Rgb(0, 0, 0),        0, 0 },        /* 0 */
    { Rgb(160, 160, 160),  0, 0 },        /* 1 */
    { Rgb(128, 128, 192),  0, 0 },        /* 2 */
    { Rgb(128, 192, 128),  0, 0 },        /* 3 */
    { Rgb(128, 128, 128),  0, 0 },        /* 4 */
    { Rgb(180, 150, 150),  0, 0 },        /* 5 */
    { Rgb(128, 64, 0),     0, 0 },        /* 6 */
    { Rgb(128, 64, 0),     0, 0 },        /* 7 */
    { Rgb(64, 64, 64),     1, 0 },        /* 8 */
    { Rgb(128, 0, 0),      1, 1 },        /* 9 */
    { Rgb(92, 92, 92),     0, 0 },        /* 10 */
    { Rgb(92, 92, 92),     0, 0 },        /* 11 */
    { Rgb(192, 0, 0),      0, 0 },        /* 12 */
    { Rgb(255, 128, 128),  0, 0 },        /* 13 */
    { Rgb(128, 0, 128),    0, 0 },        /* 14 */
    { Rgb(0, 128, 0),      0, 0 },        /* 15 */
    { Rgb(0, 96, 192),     0, 0 },        /* 16 */
    { Rgb(0, 0, 255),      0, 0 },        /* 17 */
    { Rgb(255, 0, 128),    0, 0 },        /* 18 */
    { Rgb(255, 128, 0),    0, 0 },        /* 19 */
    { Rgb(192, 128, 0),    0, 0 },        /* 20 */
    { Rgb(0, 96, 0),       0, 0 },        /* 21 */
};
/* clang-format on */

/* clang-format off */
EditorStyleRecord gEditorStyles[EDITOR_STYLE_RECORDS] = {
    { Rgb(0, 0, 0), 0, 0 },       { Rgb(160, 160, 160), 0, 0 }, { Rgb(128, 128, 192), 0, 0 },
    { Rgb(128, 192, 128), 0, 0 }, { Rgb(128, 128, 128), 0, 0 }, { Rgb(180, 150, 150), 0, 0 },
    { Rgb(128, 64, 0), 0, 0 },    { Rgb(128, 64, 0), 0, 0 },    { Rgb(64, 64, 64), 1, 0 },
    { Rgb(128, 0, 0), 1, 1 },     { Rgb(92, 92, 92), 0, 0 },    { Rgb(92, 92, 92), 0, 0 },
    { Rgb(192, 0, 0), 0, 0 },     { Rgb(255, 128, 128), 0, 0 }, { Rgb(128, 0, 128), 0, 0 },
    { Rgb(0, 128, 0), 0, 0 },     { Rgb(0, 96, 192), 0, 0 },    { Rgb(0, 0, 255), 0, 0 },
    { Rgb(255, 0, 128), 0, 0 },   { Rgb(255, 128, 0), 0, 0 },   { Rgb(192, 128, 0), 0, 0 },
    { Rgb(0, 96, 0), 0, 0 },
};
/* clang-format on */

/* ---- colour sets --------------------------------------------------------------------------- */

const uint32_t kChartDefaultColours[STYLE_COLOURS] = {
    Rgb(27, 88, 124),
    Rgb(78, 133, 66),
    Rgb(159, 41, 54),
    Rgb(79, 129, 189),
    Rgb(192, 80, 77),
    Rgb(155, 167, 89),
    Rgb(128, 100, 162),
    Rgb(75, 172, 198),
    Rgb(247, 150, 70),
    Rgb(42, 84, 168),
};
const uint32_t kGraphDefaultColours[STYLE_COLOURS] = {
    Rgb(0, 0, 255),
    Rgb(78, 133, 66),
    Rgb(159, 41, 54),
    Rgb(247, 150, 70),
    Rgb(79, 129, 189),
    Rgb(128, 100, 162),
    Rgb(192, 80, 77),
    Rgb(64, 128, 128),
    Rgb(255, 128, 192),
    Rgb(0, 64, 0),
};

StyleColourSet gChartColours = {
    {Rgb(27, 88, 124), Rgb(78, 133, 66), Rgb(159, 41, 54), Rgb(79, 129, 189), Rgb(192, 80, 77),
     Rgb(155, 167, 89), Rgb(128, 100, 162), Rgb(75, 172, 198), Rgb(247, 150, 70), Rgb(42, 84, 168)},
    STYLE_COLOURS,
    1};
StyleColourSet gGraphColours = {
    {Rgb(0, 0, 255), Rgb(78, 133, 66), Rgb(159, 41, 54), Rgb(247, 150, 70), Rgb(79, 129, 189),
     Rgb(128, 100, 162), Rgb(192, 80, 77), Rgb(64, 128, 128), Rgb(255, 128, 192), Rgb(0, 64, 0)},
    STYLE_COLOURS,
    1};

void IndicatorColorKey(int index, char *out, const char *text)
{
    FormatText(out, COLOR_KEY_SIZE, "Indicator%s%d%sColor", text, index, text);
}

void GraphColorKey(int index, char *out, const char *text)
{
    if (index == 0)
        FormatText(out, COLOR_KEY_SIZE, "Combined%sStats%sColor", text, text);
    else
        FormatText(out, COLOR_KEY_SIZE, "Strategy%s%d%sColor", text, index, text);
}

void LoadStyleColours(const IniFile *ini, StyleColourSet *set, const uint32_t *defaults, int lineWidth,
                      ColorKeyBuilder keyBuilder)
{
    memcpy(set->colours, defaults, sizeof set->colours);
    set->colourCount = STYLE_COLOURS;
    set->lineWidth = lineWidth;
    if (!ini || !ini->text) return;
    for (int i = 0; i < STYLE_COLOURS; i++) {
        char key[COLOR_KEY_SIZE];
        keyBuilder(i, key, "");
        IniGetColor(ini, key, set->colours[i], &set->colours[i]);
    }
}

/* ---- values as text ------------------------------------------------------------------------ */

/* atoi as the Windows C library does it: leading blanks, a sign, digits up to
** the first other character, and a number beyond the 32-bit range held at its
** nearest end.  The C libraries differ on that last point (a 64-bit long
** wraps instead), so the settings read the same in both builds only this way. */
static int32_t ParseSettingInt(const char *text)
{
    long long v = strtoll(text, nullptr, 10); /* saturates alike everywhere */
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return (int32_t)v;
}

void FormatSettingDouble(char *out, int size, double value)
{
    FormatText(out, (size_t)size, "%g", value);
    /* "%g" keeps six digits; a value it would change (an account of
    ** 1234567) is written with the digits that bring it back unchanged. */
    if (std::isfinite(value) && atof(out) != value) {
        FormatText(out, (size_t)size, "%.15g", value);
        if (atof(out) != value) FormatText(out, (size_t)size, "%.17g", value);
    }
}

/* The row's default as the file would hold it: numbers re-printed after
** parsing, so "1.0e-13" is looked up with the default "1e-13". */
static void DefaultText(const SettingEntry *row, char *out, int size)
{
    switch (row->type) {
    case ST_DOUBLE: FormatSettingDouble(out, size, atof(row->defaultText)); break;
    case ST_COLOR:
    case ST_TEXT:
    case ST_EDITOR_TEXT:
    case ST_COMBO_TEXT:
    case ST_PATH:
    case ST_HISTORY:
    case ST_INT_LIST: CopyString(out, size, row->defaultText, -1); break;
    default: FormatText(out, (size_t)size, "%d", ParseSettingInt(row->defaultText)); break;
    }
}

/* Comma-separated decimals into at most count values; an empty text leaves
** the values as they are. */
static void ParseIntList(const char *text, int32_t *values, int count)
{
    if (!*text) return;
    const char *p = text;
    for (int i = 0; i < count && *p; i++) {
        values[i] = ParseSettingInt(p);
        const char *comma = strchr(p, ',');
        if (!comma) break;
        p = comma + 1;
    }
}

static std::string HistoryKey(const SettingEntry *row) { return std::string(row->key) + "MRU"; }

int SettingLetterLimit(const SettingEntry *row)
{
    return row->high > 0 && row->high < (double)PATH_LETTERS ? (int)row->high : PATH_LETTERS;
}

/* A folder or path row's value that holds more letters than the row takes,
** named with the row's own limit. */
static void FormatTooLong(const SettingEntry *row, char *why, int size)
{
    const int limit = SettingLetterLimit(row);
    if (limit == PATH_LETTERS)
        FormatText(why, (size_t)size, "%s file path is too long -- maximum is 260 chars.", row->key);
    else
        FormatText(why, (size_t)size, "%s folder is too long -- maximum is %d letters, to leave room for its subfolders.",
                   row->key, limit);
}

int CheckSettingText(const SettingEntry *row, const char *text, double *number, char *why, int size)
{
    *number = 0;
    if (size > 0) why[0] = 0;
    const bool ranged = row->low != 0 || row->high != 0;
    switch (row->type) {
    case ST_INT:
    case ST_DOUBLE: {
        const char *p = text;
        while (*p == ' ' || *p == '\t') p++;
        char *end = nullptr;
        double value = row->type == ST_INT ? (double)strtoll(p, &end, 10) : strtod(p, &end);
        const bool read = end && end != p;
        while (read && (*end == ' ' || *end == '\t')) end++;
        /* An int row without a range holds what a 32-bit variable holds; a
        ** minus sign reads as 0 there, as its box always read it. */
        double low = row->low, high = row->high;
        if (!ranged && row->type == ST_INT) low = INT32_MIN, high = INT32_MAX;
        if (!ranged && row->type == ST_DOUBLE) low = -HUGE_VAL, high = HUGE_VAL;
        if (read && !*end && std::isfinite(value) && value >= low && value <= high) {
            *number = !ranged && row->type == ST_INT && value < 0 ? 0 : value;
            return 1;
        }
        char from[64], to[64];
        FormatSettingDouble(from, sizeof from, low);
        FormatSettingDouble(to, sizeof to, high);
        if (!ranged && row->type == ST_DOUBLE)
            FormatText(why, (size_t)size, "%s must be a number.", row->key);
        else
            FormatText(why, (size_t)size, "%s must be %s from %s to %s.", row->key,
                       row->type == ST_INT ? "a whole number" : "a number", from, to);
        return 0;
    }
    case ST_PATH:
    case ST_TEXT:
        if (row->type == ST_TEXT && row->extra.n != PATH_SIZE) return 1;
        if ((int)PathLetters(text) <= SettingLetterLimit(row)) return 1;
        FormatTooLong(row, why, size);
        return 0;
    default: return 1;
    }
}

/* Reads a path or folder row's value into out[PATH_SIZE]: made whole for a
** path row, and read as a name is (a settings file saved in code page 1252
** names the folder its letters do, in both programs).  A value longer than
** the row takes (before or after it is made whole) is named, with result
** code 3, and out takes the default: cut, it would name another file or
** folder than the one the file gives, and an output folder without room for
** its subfolders would fail every run. */
static void LoadPathValue(const IniFile *ini, const SettingEntry *row, const char *def, char *out)
{
    char value[SETTING_HISTORY_SIZE];
    IniGetString(ini, row->key, def, value, sizeof value);
    double unused;
    char why[256];
    if (CheckSettingText(row, value, &unused, why, sizeof why)) {
        CopyString(out, PATH_SIZE, value, -1);
        if (row->type == ST_PATH ? ExpandPathMacros(out, nullptr) : NameToUtf8(out, PATH_SIZE)) return;
        FormatTooLong(row, why, sizeof why);
    }
    ReportError("%s", why);
    SetResultCode(RESULT_FILE_ERROR);
    CopyString(out, PATH_SIZE, def, -1);
    if (row->type == ST_PATH) ExpandPathMacros(out, nullptr);
}

/* Reads one row into its variable.  A file without text gives the default. */
static void LoadSettingRow(const IniFile *ini, const SettingEntry *row)
{
    char def[SETTING_HISTORY_SIZE];
    DefaultText(row, def, sizeof def);
    int size = row->extra.n > 0 && row->extra.n < 0x7FFFFFFF ? (int)row->extra.n : 1;
    switch (row->type) {
    case ST_BOOL:
    case ST_RADIO:
    case ST_WORD:
    case ST_OPTVAR:
    case ST_RESCOL:
    case ST_GRAPHCOL:
    case ST_STRAT:
    case ST_INT:
    case ST_DATE:
    case ST_TIME: {
        char value[256];
        IniGetString(ini, row->key, def, value, sizeof value);
        *(int32_t *)row->data = ParseSettingInt(value);
        break;
    }
    case ST_COLOR: {
        uint32_t fallback = 0;
        ParseColorText(row->defaultText, &fallback);
        IniGetColor(ini, row->key, fallback, (uint32_t *)row->data);
        break;
    }
    case ST_DOUBLE: {
        char value[256];
        IniGetString(ini, row->key, def, value, sizeof value);
        *(double *)row->data = atof(value);
        break;
    }
    case ST_TEXT:
        /* The texts of a path's size are the folders. */
        if (size == PATH_SIZE)
            LoadPathValue(ini, row, def, (char *)row->data);
        else
            IniGetString(ini, row->key, def, (char *)row->data, size);
        break;
    case ST_COMBO_TEXT: IniGetString(ini, row->key, def, (char *)row->data, size); break;
    case ST_EDITOR_TEXT: IniGetText(ini, row->key, def, (char *)row->data, size); break;
    case ST_PATH:
    case ST_HISTORY: {
        if (row->data && row->type == ST_PATH)
            LoadPathValue(ini, row, def, (char *)row->data);
        else if (row->data)
            IniGetString(ini, row->key, def, (char *)row->data, SETTING_HISTORY_TEXT_SIZE);
        IniGetText(ini, HistoryKey(row).c_str(), "", row->extra.history, SETTING_HISTORY_SIZE);
        /* A path history's names are read as names are (code page 1252 as
        ** its letters); files deleted since the last run drop out of it. */
        if (row->type == ST_PATH) {
            NameToUtf8(row->extra.history, SETTING_HISTORY_SIZE);
            UpdateHistoryList(row->extra.history, nullptr, 1);
        }
        break;
    }
    case ST_INT_LIST: {
        std::vector<char> value(SETTING_HISTORY_SIZE * 4);
        IniGetString(ini, row->key, def, value.data(), (int)value.size());
        ParseIntList(value.data(), (int32_t *)row->data, size);
        break;
    }
    }
}

/* Prints one row's value and puts it (with its history) into the current
** section; 0 when a put failed. */
static int SaveSettingRow(IniFile *ini, const SettingEntry *row)
{
    char value[256];
    switch (row->type) {
    case ST_BOOL:
    case ST_RADIO:
    case ST_WORD:
    case ST_OPTVAR:
    case ST_RESCOL:
    case ST_GRAPHCOL:
    case ST_STRAT:
    case ST_INT:
    case ST_DATE:
    case ST_TIME:
        FormatText(value, sizeof value, "%d", *(const int32_t *)row->data);
        return IniPutString(ini, row->key, value);
    case ST_COLOR:
        FormatColorText(value, sizeof value, *(const uint32_t *)row->data);
        return IniPutString(ini, row->key, value);
    case ST_DOUBLE:
        FormatSettingDouble(value, sizeof value, *(const double *)row->data);
        return IniPutString(ini, row->key, value);
    case ST_TEXT:
    case ST_COMBO_TEXT: return IniPutString(ini, row->key, (const char *)row->data);
    case ST_EDITOR_TEXT: return IniPutText(ini, row->key, (const char *)row->data);
    case ST_PATH:
    case ST_HISTORY: {
        int ok = 1;
        if (row->data) ok = IniPutString(ini, row->key, (const char *)row->data);
        return ok && IniPutText(ini, HistoryKey(row).c_str(), row->extra.history);
    }
    case ST_INT_LIST: {
        std::string list;
        const int32_t *values = (const int32_t *)row->data;
        for (uint64_t i = 0; i < row->extra.n; i++) {
            FormatText(value, sizeof value, "%s%d", i ? "," : "", values[i]);
            list += value;
        }
        return IniPutString(ini, row->key, list.c_str());
    }
    }
    return 1;
}

/* ---- load and save ----------------------------------------------------------------------- */

static void LoadEditorStyles(const IniFile *ini)
{
    for (int i = 0; i < EDITOR_STYLES_STORED; i++) {
        const EditorStyle *style = &gEditorStyleTable[i];
        EditorStyleRecord *rec = &gEditorStyles[style->styleIndex];
        std::string stem = style->name;
        char value[256], def[32];
        IniGetColor(ini, (stem + "Color").c_str(), rec->colour, &rec->colour);
        FormatText(def, sizeof def, "%d", rec->bold);
        IniGetString(ini, (stem + "Bold").c_str(), def, value, sizeof value);
        rec->bold = ParseSettingInt(value);
        FormatText(def, sizeof def, "%d", rec->italic);
        IniGetString(ini, (stem + "Italic").c_str(), def, value, sizeof value);
        rec->italic = ParseSettingInt(value);
    }
}

/* Every row, then the colour sets (after the line widths they take), then
** the editor styles. */
static void LoadAll(const IniFile *ini)
{
    for (const SettingEntry *row = gSettingTable; row->key; row++) LoadSettingRow(ini, row);
    LoadStyleColours(ini, &gChartColours, kChartDefaultColours, gSettings.ChartLineWidth, IndicatorColorKey);
    LoadStyleColours(ini, &gGraphColours, kGraphDefaultColours, gSettings.GraphLineWidth, GraphColorKey);
    LoadEditorStyles(ini);
}

void ResetSettingsToDefaults()
{
    memcpy(gEditorStyles, kEditorStyleDefaults, sizeof gEditorStyles);
    IniFile none = {};
    none.section = -1;
    LoadAll(&none);
}

int LoadSettings(const char *path)
{
    /* A batch run on a machine that never ran the program interactively has
    ** no settings file; that is no error, and the defaults hold.  A name too
    ** long to open is no missing file: opening it says why it failed. */
    if (gRun.unattended && !PathTooLong(path) && !PlatFileExists(path)) {
        ResetSettingsToDefaults();
        return 1;
    }
    IniFile ini = {};
    if (!IniOpen(&ini, path, 0)) {
        ResetSettingsToDefaults();
        return 0;
    }
    LoadAll(&ini);
    IniClose(&ini);
    return 1;
}

static int SaveColourSet(IniFile *ini, const char *section, const StyleColourSet *set, ColorKeyBuilder keyBuilder)
{
    int ok = IniSection(ini, section);
    for (int i = 0; ok && i < STYLE_COLOURS; i++) {
        char key[COLOR_KEY_SIZE], value[32];
        keyBuilder(i, key, "");
        FormatColorText(value, sizeof value, set->colours[i]);
        ok = IniPutString(ini, key, value);
    }
    return ok;
}

static int SaveEditorStyles(IniFile *ini)
{
    int ok = IniSection(ini, "ScriptWindows");
    for (int i = 0; ok && i < EDITOR_STYLES_STORED; i++) {
        const EditorStyle *style = &gEditorStyleTable[i];
        const EditorStyleRecord *rec = &gEditorStyles[style->styleIndex];
        std::string stem = style->name;
        char value[32];
        FormatColorText(value, sizeof value, rec->colour);
        ok = IniPutString(ini, (stem + "Color").c_str(), value);
        /* Bold and italic are written when set.  A style whose default is
        ** bold or italic also gets a 0 when the user turned that off, since a
        ** missing key keeps the default at the next start. */
        const EditorStyleRecord *def = &kEditorStyleDefaults[style->styleIndex];
        if (ok && (rec->bold || def->bold)) ok = IniPutString(ini, (stem + "Bold").c_str(), rec->bold ? "1" : "0");
        if (ok && (rec->italic || def->italic))
            ok = IniPutString(ini, (stem + "Italic").c_str(), rec->italic ? "1" : "0");
    }
    return ok;
}

int SaveOpenFiles(IniFile *ini, const OpenFileWindow *windows, int count)
{
    char key[64], value[320];
    int ok = IniSection(ini, "OpenFiles");
    FormatText(value, sizeof value, "%d", count);
    ok = ok && IniPutString(ini, "FILE_COUNT", value);
    for (int k = 1; ok && k <= count; k++) {
        const OpenFileWindow *w = &windows[k - 1];
        FormatText(key, sizeof key, "FILE_%d_%s", k, "PATH");
        ok = IniPutString(ini, key, w->path);
        FormatText(key, sizeof key, "FILE_%d_%s", k, "WINDOW");
        FormatText(value, sizeof value, "%s%d,%d,%d,%d,%d", w->active ? "*" : "", w->left, w->top, w->width,
                   w->height, w->showState);
        ok = ok && IniPutString(ini, key, value);
    }
    return ok;
}

int SaveSettings(const char *path)
{
    if (gRun.unattended) return 1;
    IniFile ini = {};
    if (!IniOpen(&ini, path, 1)) return 0;
    /* The file is rebuilt from the table alone. */
    ini.length = 0;
    ini.text[0] = 0;
    ini.section = -1;
    int ok = 1;
    for (const SettingEntry *row = gSettingTable; ok && row->key; row++)
        ok = IniSection(&ini, row->section) && SaveSettingRow(&ini, row);
    ok = ok && SaveColourSet(&ini, "ChartWindows", &gChartColours, IndicatorColorKey);
    ok = ok && SaveColourSet(&ini, "GraphWindows", &gGraphColours, GraphColorKey);
    ok = ok && SaveEditorStyles(&ini);
    if (ok) {
        std::vector<OpenFileWindow> windows(MAX_OPEN_FILE_WINDOWS);
        int count = gListOpenFileWindows ? gListOpenFileWindows(windows.data(), MAX_OPEN_FILE_WINDOWS) : 0;
        if (count < 0) count = 0;
        if (count > MAX_OPEN_FILE_WINDOWS) count = MAX_OPEN_FILE_WINDOWS;
        ok = SaveOpenFiles(&ini, windows.data(), count);
    }
    /* A text that could not take every value would lose settings; the old
    ** file is kept instead. */
    if (!ok) ini.writable = 0;
    return IniClose(&ini) && ok;
}
