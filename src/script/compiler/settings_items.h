/* settings_items.h -- what a script's settings sections set, and putting the
** program's settings back after the run.
**
** A script's Settings, ScanSettings, TestSettings, OptimizeSettings and
** OrderSettings sections give up to 74 keywords.  ApplySettingsItem applies
** one keyword's value: many set the same program settings that the settings
** panel and the option dialogs set (fields of gSettings), the others set
** fields of gScriptSettings, which only a script can give.
**
** Owns:       gScriptSettings (reset at every compile: all 0 or empty but
**             DaysPerYear 252 and EndOfTestExits 1), gResultsFileName,
**             gOptScoreColName, gOptNoDialog, gUseAvailableBars, and the saved
**             copy of the program settings a script may change.
** Lasting:    what a script sets in the program settings lasts for one run.
**             The compile saves every program setting that a settings keyword
**             may change (the run settings the panel shows, the date formats,
**             the Reports and Optimizer settings, the Reports folder) before
**             it parses; RestoreRunSettings puts them back when the run ends,
**             so nothing a script set reaches the saved settings file.
** Errors:     ApplySettingsItem returns 0 or a compile error code with the
**             span to mark; the parser reports it.  A failing keyword leaves
**             its target unchanged, except the word sets (cleared and partly
**             set), StartDate/EndDate (the date holds 0) and paths (the text
**             is stored before it is resolved).  A path longer than its
**             field holds (259 letters) is refused with 9, never cut: the
**             paths resolved here and those stored as given alike.
** Threads:    UI thread only (compile and run driver).
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

enum {
    SCRIPT_CURRENCY_SIZE = 40,
    OPT_SCORE_COL_SIZE = 80
};

/* Order modes of OrdersMode; the last three write Slatewick files. */
enum OrdersModeValue {
    ORDERS_TEXT = 0,
    ORDERS_REBALANCE = 1,
    ORDERS_TEMPLATE = 2,
    ORDERS_SLATEWICK = 3,
    ORDERS_SLATEWICK_SYNC = 4,
    ORDERS_SLATEWICK_STATS = 5
};

/* SaveTradesType: the trade-list window's columns, or the fixed 15. */
enum SaveTradesTypeValue {
    SAVE_TRADES_FULL = 0,
    SAVE_TRADES_COMPACT = 1
};

/* The settings that only a script gives. */
struct ScriptSettingsBlock {
    char HolidayList[PATH_SIZE]; /* resolved path, loaded after parsing */
    char SaveChartsTo[PATH_SIZE];
    char SaveScanAs[PATH_SIZE];
    char SaveStatsAs[PATH_SIZE];
    char SaveTestListAs[PATH_SIZE];
    char SavePositionsAs[PATH_SIZE];
    char SaveTradesAs[PATH_SIZE];
    int32_t SaveTradesType; /* SaveTradesTypeValue */
    int32_t OrdersMode;     /* OrdersModeValue */
    int32_t OrdersLiveData;
    int32_t OrdersUseQtyIn;
    char OrdersFile[PATH_SIZE];
    char OrdersNetLiq[PATH_SIZE];
    char OrdersFreeCash[PATH_SIZE];
    char OrdersTemplate[PATH_SIZE];
    char ExchangeMap[PATH_SIZE];
    char SymChangeList[PATH_SIZE];
    double OrdersMktAsLmtPct; /* not negative */
    char SlatewickFolder[PATH_SIZE];
    char Currency[SCRIPT_CURRENCY_SIZE];
    int32_t ScanNoWindow;
    int32_t ScanNoDefCols;
    int32_t ScanNoHeader;
    int32_t TestScanAllDates;
    int32_t AllowSameName;
    int32_t AlwaysImport;
    int32_t EndOfTestExits;
    int32_t AccountType;  /* 0 Margin, 1 CashSameDay, 2 CashNextDay */
    int32_t CommCurrency; /* 0 Instrument, 1 Account */
    double CashIntPct;    /* fractions: 2.5 in the script is 0.025 */
    double MarginIntPct;
    double ShortLoanIntPct;
    double ShortPrcdsIntPct;
    int32_t RiskFreeRateSym; /* 1-based symbol index, 0 none (pass 2 only) */
    int32_t DateSym;
    double DaysPerYear;
};

extern ScriptSettingsBlock gScriptSettings;
/* The script setting DateSym: a 1-based symbol number, 0 = none. */
int32_t GetScriptDateSym();
/* The ResultsFile a script names (resolved against the output folder), "" none. */
extern char gResultsFileName[PATH_SIZE];
/* The OptScoreCol a script names (a Results column heading), "" none. */
extern char gOptScoreColName[OPT_SCORE_COL_SIZE];
/* OptNoDialog: the optimizer starts without its dialog. */
extern int32_t gOptNoDialog;
/* UseAvailableBars of the run settings. */
extern int32_t gUseAvailableBars;

/* Empties gScriptSettings (DaysPerYear 252, EndOfTestExits 1) and binds the
** path macros' Slatewick folder and the side files' ExchangeMap and
** SymChangeList settings to it. */
void ResetScriptSettings();

/* Applies settings keyword index (its position in kSettingsKeywordNames) with
** the value (length characters; it ends at a comment, trailing white space
** left out).  Returns 0 or a compile error code; *outOffset and *outLength
** give the span within the value to mark (the bad word of a word set, the
** whole value otherwise).  TestName, OrdersComment and SkipTestIf are
** formulas the parser keeps itself; they and indexes of 74 or more do nothing. */
int ApplySettingsItem(int index, const char *value, int length, int *outOffset, int *outLength);

/* Saves every program setting a script may change.  The compile calls it in
** pass 1, and in pass 2 when nothing is saved yet, so that the copy always
** holds the settings from before the run. */
void SaveRunSettings();
/* Puts the saved settings back (the run driver calls it when the run ends);
** nothing when none are saved.  The copy is released. */
void RestoreRunSettings();
/* 1 while a saved copy is held. */
int RunSettingsSaved();
