/* keywords.cpp -- the section names and the section-and-keyword table.
**
** The editor reads every column of kScriptKeywords for its suggestions; the
** parser uses the names only, as reserved words that no item may take.  The
** table holds only words that some section accepts, so a suggested word never
** fails to compile.
*/
#include "script/compiler/keywords.h"

#include "foundation/text_match.h"

/* clang-format off */
const char *const kSettingsKeywordNames[SETTINGS_KEYWORD_COUNT] = {
    "DataFile", "StartDate", "EndDate", "NumBars", "DateDisplay", "DateInput", "HolidayList",
    "BarSize", "UseAvailableBars", "ScanNoDefCols", "ScanNoHeader", "SaveChartsTo",
    "SaveScanAs", "ScanNoWindow", "AlwaysImport", "TestName", "AccountSize", "Currency",
    "KeepTrades", "TestOutput", "ReportContent", "ReportsFolder", "OrdersMode", "OrdersNetLiq",
    "OrdersFreeCash", "OrdersFile", "OrdersTemplate", "OrdersLiveData", "OrdersUseQtyIn",
    "OrdersMktAsLmtPct", "OrdersComment", "ExchangeMap", "SlatewickFolder", "SaveStatsAs",
    "SaveTestListAs", "SavePositionsAs", "SaveTradesAs", "SaveTradesType", "ResultsFile",
    "SkipTestIf", "DateSym", "DaysPerYear", "RiskFreeRateSym", "CashIntPct", "MarginIntPct",
    "ShortLoanIntPct", "ShortPrcdsIntPct", "TestScanAllDates", "EndOfTestExits",
    "AllowSameName", "RandomSeed", "SymChangeList", "AccountType", "CommCurrency",
    "OptimizeMode", "OptMutatePct", "OptByStrategy", "OptBySymbol", "OptIterations",
    "OptScoreCol", "OptClearResults", "OptSortResults", "OptKeepBest", "OptKeepByDate",
    "OptKeepBySymbol", "OptKeepNoTrades", "OptTimeUnit", "OptTestLength", "OptTestInterval",
    "OptAnchor", "OptWalkForward", "OptMultiSaveAs", "OptSummaryLog", "OptNoDialog",
};
/* clang-format on */

/* clang-format off */
const char *const kImportKeywordNames[IMPORT_KEYWORD_COUNT] = {
    "DataSource", "CSVFields", "CSVFile", "CSVDateFmt", "CSVNumFmt", "CSVDelim", "DataPath",
    "SymInfoFile", "EventListFile", "IncludeList", "ExcludeList", "Constituency",
    "Fundamentals", "Adjustment", "KeepAdjusted", "KeepNonIncluded", "KeepRedundant",
    "RemoveLatest", "Padding", "PadAlignSym", "NoWeekends", "Classification", "CIIFamily",
    "CIILevel", "Update", "ExcludeIf", "StartDate", "EndDate", "SaveAs", "LogFile",
};
/* clang-format on */

/* clang-format off */
const char *const kStrategySlotNames[STRATEGY_SLOT_COUNT] = {
    "StartPercent", "Allocation", "CashInOut", "FeesInOut", "Quantity", "QtyFinal", "QtyRound",
    "PriceRound", "Reduce", "MaxPositions", "MaxNewPos", "MaxExposure", "MaxNewExp",
    "MaxLongExp", "MaxShortExp", "MaxNetExp", "MinNetExp", "MaxInvested", "MaxNewInv",
    "MaxLongInv", "MaxShortInv", "MaxNetInv", "MinNetInv", "MinFreeCash", "Commission",
    "Slippage", "OpenSlip", "CloseSlip", "StopSlip", "LimitSlip", "LimitExtra", "FuturesMargin",
    "RollCost", "Category", "MaxSameCat", "MaxCatExp", "MaxCatInv", "MaxSameSym", "MaxSymExp",
    "MaxSymInv", "EntrySetup", "SetupScore", "MaxSetups", "MaxPerTurn", "StrategyScore",
    "SetupSkip", "EntrySkip", "EntryLimit", "EntryStop", "EntryScore", "MaxEntries",
    "ExitScore", "ExitRule", "ExitLimit", "ExitStop", "ExitQty", "ExitLimitQty", "ExitStopQty",
    "DebugEntry", "DebugExit", "DebugTargetStop", "EntryTradeValue", "ExitTradeValue",
    "OrderNote", "OrderExtra1", "OrderExtra2", "OrderExtra3", "OrderExtra4", "OrderExtra5",
    "OrderExtra6", "OrderExtra7", "OrderExtra8", "OrderExtra9", "OrdersMktAsLmtPct",
};
/* clang-format on */

/* clang-format off */
const char *const kSectionNames[SECTION_COUNT] = {
    "", "Include", "Results", "Graphs", "Charts", "Trades", "Data", "Scan", "Import",
    "Parameters", "WalkForward", "ScanSettings", "TestSettings", "Template", "Benchmark",
    "Strategy", "StatsGroup", "Library", "TestScan", "TestData", "Settings", "OrderSettings",
    "ScanInclude", "TestInclude", "OrdersInclude", "Notes", "Combined", "StratData",
    "Namespace", "OptimizeSettings",
};
/* clang-format on */

/* clang-format off */
const ScriptKeyword kScriptKeywords[SCRIPT_KEYWORD_ROWS] = {
    { .name = "Include",            .section = SECTION_INCLUDE,            .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_TEXT,  .target = 22, .valueType = 22, .reserved = 0, .description = "" },
    { .name = "Results",            .section = SECTION_RESULTS,            .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Graphs",             .section = SECTION_GRAPHS,             .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Charts",             .section = SECTION_CHARTS,             .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Trades",             .section = SECTION_TRADES,             .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Data",               .section = SECTION_DATA,               .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Scan",               .section = SECTION_SCAN,               .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Import",             .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Parameters",         .section = SECTION_PARAMETERS,         .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "WalkForward",        .section = SECTION_WALK_FORWARD,       .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  7, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "ScanSettings",       .section = SECTION_SCAN_SETTINGS,      .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "TestSettings",       .section = SECTION_TEST_SETTINGS,      .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Template",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NAME,  .target =  9, .valueType =  1, .reserved = 0, .description = "" },
    { .name = "Benchmark",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NAME,  .target =  9, .valueType =  1, .reserved = 0, .description = "" },
    { .name = "Strategy",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NAME,  .target =  9, .valueType =  1, .reserved = 0, .description = "" },
    { .name = "StatsGroup",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NAME,  .target = 10, .valueType =  1, .reserved = 0, .description = "" },
    { .name = "Library",            .section = SECTION_LIBRARY,            .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "TestScan",           .section = SECTION_TEST_SCAN,          .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "TestData",           .section = SECTION_TEST_DATA,          .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Settings",           .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "OrderSettings",      .section = SECTION_ORDER_SETTINGS,     .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "ScanInclude",        .section = SECTION_SCAN_INCLUDE,       .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_TEXT,  .target = 22, .valueType = 22, .reserved = 0, .description = "" },
    { .name = "TestInclude",        .section = SECTION_TEST_INCLUDE,       .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_TEXT,  .target = 22, .valueType = 22, .reserved = 0, .description = "" },
    { .name = "OrdersInclude",      .section = SECTION_ORDERS_INCLUDE,     .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_TEXT,  .target = 22, .valueType = 22, .reserved = 0, .description = "" },
    { .name = "Notes",              .section = SECTION_NOTES,              .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NOTES, .target =  0, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Combined",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NAME,  .target = 11, .valueType =  1, .reserved = 0, .description = "" },
    { .name = "StratData",          .section = SECTION_STRAT_DATA,         .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Namespace",          .section = SECTION_NAMESPACE,          .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target =  0, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "OptimizeSettings",   .section = SECTION_OPTIMIZE_SETTINGS,  .kind = KEYWORD_KIND_HEADER,  .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  0, .reserved = 0, .description = "" },
    { .name = "Sort",               .section = SECTION_TRADES,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  5, .valueType = 62, .reserved = 0, .description = "" },
    { .name = "Sort",               .section = SECTION_SCAN,               .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  5, .valueType = 62, .reserved = 0, .description = "" },
    { .name = "Sort",               .section = SECTION_TEST_SCAN,          .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  5, .valueType = 62, .reserved = 0, .description = "" },
    { .name = "BarSize",            .section = SECTION_DATA,               .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType = 56, .reserved = 0, .description = "" },
    { .name = "BarSize",            .section = SECTION_TEST_DATA,          .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  5, .valueType = 56, .reserved = 0, .description = "" },
    { .name = "DataSource",         .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 28, .reserved = 0, .description = "" },
    { .name = "Adjustment",         .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 29, .reserved = 0, .description = "" },
    { .name = "KeepAdjusted",       .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "KeepNonIncluded",    .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "KeepRedundant",      .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "RemoveLatest",       .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "NoWeekends",         .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "Padding",            .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 30, .reserved = 0, .description = "" },
    { .name = "PadAlignSym",        .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType =  4, .reserved = 0, .description = "" },
    { .name = "Update",             .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "CSVFields",          .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 31, .reserved = 0, .description = "" },
    { .name = "CSVDateFmt",         .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 33, .reserved = 0, .description = "" },
    { .name = "CSVNumFmt",          .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 34, .reserved = 0, .description = "" },
    { .name = "CSVDelim",           .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 35, .reserved = 0, .description = "" },
    { .name = "DataPath",           .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 18, .reserved = 0, .description = "" },
    { .name = "CSVFile",            .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 26, .reserved = 0, .description = "" },
    { .name = "SymInfoFile",        .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "EventListFile",      .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "IncludeList",        .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 27, .reserved = 0, .description = "" },
    { .name = "ExcludeList",        .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 27, .reserved = 0, .description = "" },
    { .name = "Constituency",       .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 36, .reserved = 0, .description = "" },
    { .name = "Fundamentals",       .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 37, .reserved = 0, .description = "" },
    { .name = "Classification",     .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 38, .reserved = 0, .description = "" },
    { .name = "CIIFamily",          .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 39, .reserved = 0, .description = "" },
    { .name = "CIILevel",           .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 40, .reserved = 0, .description = "" },
    { .name = "ExcludeIf",          .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "StartDate",          .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 41, .reserved = 0, .description = "" },
    { .name = "EndDate",            .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 13, .valueType = 42, .reserved = 0, .description = "" },
    { .name = "SaveAs",             .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 20, .reserved = 0, .description = "" },
    { .name = "LogFile",            .section = SECTION_IMPORT,             .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 13, .valueType = 25, .reserved = 0, .description = "" },
    { .name = "DataFile",           .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 20, .reserved = 0, .description = "" },
    { .name = "StartDate",          .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 41, .reserved = 0, .description = "" },
    { .name = "EndDate",            .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 42, .reserved = 0, .description = "" },
    { .name = "NumBars",            .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "DateInput",          .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 33, .reserved = 0, .description = "" },
    { .name = "DateDisplay",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  2, .reserved = 0, .description = "" },
    { .name = "HolidayList",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 26, .reserved = 0, .description = "" },
    { .name = "ExchangeMap",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "BarSize",            .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 56, .reserved = 0, .description = "" },
    { .name = "UseAvailableBars",   .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "ScanNoDefCols",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "ScanNoHeader",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "ScanNoWindow",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "AlwaysImport",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "SaveChartsTo",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 19, .reserved = 0, .description = "" },
    { .name = "SaveScanAs",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 24, .reserved = 0, .description = "" },
    { .name = "AccountSize",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "TestName",           .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "Currency",           .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  2, .reserved = 0, .description = "" },
    { .name = "KeepTrades",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 15, .reserved = 0, .description = "" },
    { .name = "TestOutput",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 16, .reserved = 0, .description = "" },
    { .name = "ReportContent",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 17, .reserved = 0, .description = "" },
    { .name = "ReportsFolder",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 19, .reserved = 0, .description = "" },
    { .name = "OrdersMode",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 57, .reserved = 0, .description = "" },
    { .name = "OrdersMktAsLmtPct",  .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "OrdersComment",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrdersNetLiq",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "OrdersFreeCash",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "OrdersFile",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 24, .reserved = 0, .description = "" },
    { .name = "OrdersLiveData",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OrdersUseQtyIn",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OrdersTemplate",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "SlatewickFolder",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 19, .reserved = 0, .description = "" },
    { .name = "SaveStatsAs",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 24, .reserved = 0, .description = "" },
    { .name = "SaveTestListAs",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 24, .reserved = 0, .description = "" },
    { .name = "SavePositionsAs",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 24, .reserved = 0, .description = "" },
    { .name = "SaveTradesAs",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 24, .reserved = 0, .description = "" },
    { .name = "SaveTradesType",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 58, .reserved = 0, .description = "" },
    { .name = "ResultsFile",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 21, .reserved = 0, .description = "" },
    { .name = "SkipTestIf",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "DateSym",            .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  4, .reserved = 0, .description = "" },
    { .name = "DaysPerYear",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "RiskFreeRateSym",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType =  4, .reserved = 0, .description = "" },
    { .name = "CashIntPct",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "MarginIntPct",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "ShortLoanIntPct",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "ShortPrcdsIntPct",   .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "TestScanAllDates",   .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "EndOfTestExits",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "AllowSameName",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "AccountType",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 59, .reserved = 0, .description = "" },
    { .name = "CommCurrency",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 60, .reserved = 0, .description = "" },
    { .name = "RandomSeed",         .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "SymChangeList",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target = 14, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "OptimizeMode",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 63, .reserved = 0, .description = "" },
    { .name = "OptMutatePct",       .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "OptByStrategy",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptBySymbol",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptIterations",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "OptScoreCol",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 64, .reserved = 0, .description = "" },
    { .name = "OptClearResults",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptSortResults",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptKeepBest",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "OptKeepByDate",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptKeepBySymbol",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptKeepNoTrades",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptTimeUnit",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 65, .reserved = 0, .description = "" },
    { .name = "OptTestLength",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "OptTestInterval",    .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "OptAnchor",          .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 66, .reserved = 0, .description = "" },
    { .name = "OptWalkForward",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptMultiSaveAs",     .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptSummaryLog",      .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "OptNoDialog",        .section = SECTION_SETTINGS,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 14, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "Using",              .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 12, .reserved = 0, .description = "" },
    { .name = "BarSize",            .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 56, .reserved = 0, .description = "" },
    { .name = "CashList",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "FeesList",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "HolidayList",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 26, .reserved = 0, .description = "" },
    { .name = "TradeList",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 27, .reserved = 0, .description = "" },
    { .name = "TLFields",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 32, .reserved = 0, .description = "" },
    { .name = "TLAdjusted",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "TLAdoptPos",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "TLEndDate",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 42, .reserved = 0, .description = "" },
    { .name = "TLDateFmt",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 33, .reserved = 0, .description = "" },
    { .name = "TLNumFmt",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 34, .reserved = 0, .description = "" },
    { .name = "TLDelim",            .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 35, .reserved = 0, .description = "" },
    { .name = "TLTimeShift",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 55, .reserved = 0, .description = "" },
    { .name = "TLStratName",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType =  1, .reserved = 0, .description = "" },
    { .name = "OrdersFile",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 24, .reserved = 0, .description = "" },
    { .name = "OrdersNetLiq",       .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "OrdersFreeCash",     .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "OrdersTemplate",     .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_TEXT,  .target =  9, .valueType = 23, .reserved = 0, .description = "" },
    { .name = "Side",               .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 43, .reserved = 0, .description = "" },
    { .name = "EntryTime",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 46, .reserved = 0, .description = "" },
    { .name = "ExitTime",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 46, .reserved = 0, .description = "" },
    { .name = "ExitLimitTime",      .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 46, .reserved = 0, .description = "" },
    { .name = "ExitStopTime",       .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 46, .reserved = 0, .description = "" },
    { .name = "Compounded",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "MarkToMarket",       .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "DynamicSizing",      .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "IgnoreDividends",    .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "GreedyScoring",      .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "AllowNoVolume",      .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "AllowMissingBar",    .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 54, .reserved = 0, .description = "" },
    { .name = "Tracker",            .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 61, .reserved = 0, .description = "" },
    { .name = "QtyPrice",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 44, .reserved = 0, .description = "" },
    { .name = "QtyType",            .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 45, .reserved = 0, .description = "" },
    { .name = "Ambiguity",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 47, .reserved = 0, .description = "" },
    { .name = "CalendarSym",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType =  4, .reserved = 0, .description = "" },
    { .name = "StartPercent",       .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "Allocation",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "CashInOut",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "FeesInOut",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "Quantity",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "QtyFinal",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "QtyRound",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "PriceRound",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "Reduce",             .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxPositions",       .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxNewPos",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxExposure",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxNewExp",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxLongExp",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxShortExp",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxNetExp",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MinNetExp",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxInvested",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxNewInv",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxLongInv",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxShortInv",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxNetInv",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MinNetInv",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MinFreeCash",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "Commission",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "Slippage",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OpenSlip",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "CloseSlip",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "StopSlip",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "LimitSlip",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "LimitExtra",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "FuturesMargin",      .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "RollCost",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "Category",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxSameCat",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxCatExp",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxCatInv",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxSameSym",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxSymExp",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxSymInv",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "EntrySetup",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "SetupScore",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxSetups",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxPerTurn",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "StrategyScore",      .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "SetupSkip",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "EntrySkip",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "EntryLimit",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "EntryStop",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "EntryScore",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "MaxEntries",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target = 11, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitScore",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitRule",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitLimit",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitStop",           .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitQty",            .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitLimitQty",       .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitStopQty",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "DebugEntry",         .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "DebugExit",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "DebugTargetStop",    .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "EntryTradeValue",    .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "ExitTradeValue",     .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderNote",          .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra1",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra2",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra3",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra4",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra5",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra6",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra7",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra8",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrderExtra9",        .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "OrdersMktAsLmtPct",  .section = SECTION_STRATEGY,           .kind = KEYWORD_KIND_KEYWORD, .valueClass = VALUE_CLASS_NONE,  .target =  9, .valueType = 48, .reserved = 0, .description = "" },
    { .name = "", .section = SECTION_NONE, .kind = 0, .valueClass = VALUE_CLASS_NONE, .target = 0, .valueType = 0, .reserved = 0, .description = "" },
};
/* clang-format on */

/* A name of up to 79 characters matched against a list, case ignored. */
static int FindInList(const char *name, const char *const *list, int count)
{
    for (int i = 0; i < count; i++)
        if (CompareNoCase(name, list[i]) == 0) return i;
    return -1;
}

int FindSectionName(const char *name)
{
    if (!name || !*name) return 0;
    int i = FindInList(name, kSectionNames + 1, SECTION_COUNT - 1);
    return i < 0 ? 0 : i + 1;
}

int IsScriptKeyword(const char *name)
{
    if (!name || !*name) return 0;
    for (const ScriptKeyword *row = kScriptKeywords; row->name[0]; row++)
        if (CompareNoCase(name, row->name) == 0) return 1;
    return 0;
}

int FindSettingsKeyword(const char *name)
{
    if (!name) return -1;
    /* Older scripts use these words for the same settings. */
    if (CompareNoCase(name, "NumDays") == 0) return SETKW_NUMBARS;
    if (CompareNoCase(name, "NoDefaultCols") == 0) return SETKW_SCANNODEFCOLS;
    if (CompareNoCase(name, "NoHeader") == 0) return SETKW_SCANNOHEADER;
    return FindInList(name, kSettingsKeywordNames, SETTINGS_KEYWORD_COUNT);
}

int FindImportKeyword(const char *name)
{
    return name ? FindInList(name, kImportKeywordNames, IMPORT_KEYWORD_COUNT) : -1;
}

int FindStrategySlot(const char *name)
{
    if (!name) return -1;
    if (CompareNoCase(name, "OrderMktAsLmtPct") == 0) return STRATEGY_SLOT_COUNT - 1;
    return FindInList(name, kStrategySlotNames, STRATEGY_SLOT_COUNT);
}

int IsSettingsSection(int section)
{
    return section == SECTION_SETTINGS || section == SECTION_SCAN_SETTINGS || section == SECTION_TEST_SETTINGS ||
        section == SECTION_ORDER_SETTINGS || section == SECTION_OPTIMIZE_SETTINGS;
}

int IsStrategySection(int section)
{
    return section == SECTION_TEMPLATE || section == SECTION_BENCHMARK || section == SECTION_STRATEGY ||
        section == SECTION_STATS_GROUP || section == SECTION_COMBINED;
}
