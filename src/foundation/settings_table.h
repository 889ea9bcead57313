/* settings_table.h -- every user setting of the program, its variable and
** its place in the settings file and in the dialogs.
**
** Owns:       gSettings, one field per row of the settings table, named after
**             the row's key; path and history rows keep their 2048-byte
**             history list in a field named key + "MRU".
**             gSettingTable, the 234 rows (and a closing row whose key is
**             null) in file order: section, key, default text, dialog and
**             control, type, variable and the type's extra.
**             gEditorStyleTable (21 rows) and gEditorStyles, the script
**             editor's style records {colour, bold, italic}.
**             gChartColours and gGraphColours, the ten colours of the chart
**             and graph style sets (the window side makes brushes and pens
**             from them).
**             SettingsExchangeActive, set while values are shown in a dialog.
** File:       LoadSettings looks every key up in the whole file, whatever
**             section it stands in; SaveSettings rewrites the file whole in
**             table order (sections in order of first use, one empty line
**             between them), then the colour sets, the editor styles and
**             [OpenFiles].  Keys the table does not know are dropped.
** Values:     integers and indexes "%d", doubles "%g" (more digits only when
**             "%g" would not read back as the same number), colours
**             "RGB(r,g,b)", dates yyyymmdd, texts as they stand, editor texts
**             and history lists escaped.  A path or folder longer than its
**             row holds (259 letters, or once made whole; the output folder
**             251, room for its subfolders) is named with result code 3 and
**             the row keeps its default: never cut.  Folders and path
**             histories are read as names are (code page 1252 as letters).
** Unattended: settings are read but never saved; with no settings file every
**             setting takes its default.
** Threads:    written on the UI thread only (loading, dialogs, a script's
**             settings sections); workers only read.
** Platform:   none; the dialog exchange is in win32/settings_dialog.h.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

struct IniFile;

enum {
    SETTING_HISTORY_SIZE = 2048,     /* a history list: entries split by '\n', newest first */
    SETTING_HISTORY_TEXT_SIZE = 256, /* a history-text row's text */
    SETTING_ROW_COUNT = 234,         /* rows of gSettingTable before the closing row */
    STYLE_COLOURS = 10,              /* colours of a chart or graph style set */
    EDITOR_STYLE_ROWS = 21,          /* rows of gEditorStyleTable */
    EDITOR_STYLES_STORED = 20,       /* the first 20 are kept in the settings file */
    EDITOR_STYLE_RECORDS = 22,       /* style indexes 0..21 */
    COLOR_KEY_SIZE = 64              /* a colour key built by a key builder */
};

struct ProgramSettings {
    /* [Settings] */
    char DataFile[PATH_SIZE];
    char ActiveScript[PATH_SIZE];
    char TestName[80];
    int32_t FirstDate;
    int32_t LastDate;
    int32_t NumBars;
    int32_t UseEarliestDate;
    int32_t UseLatestDate;
    int32_t BarSize2;
    double AccountSize;
    int32_t KeepTrades;
    int32_t KeepBench;
    int32_t KeepSkipped;
    int32_t AddReport;
    int32_t AddGraph;
    int32_t AddLog;
    int32_t AddTrades;
    int32_t AddScan;
    int32_t AddDebug;
    /* [Options] */
    char ScriptPath[PATH_SIZE];
    char DataPath[PATH_SIZE];
    char OutputPath[PATH_SIZE];
    int32_t CalcThreads;
    int32_t MaxMemPct;
    int32_t ExtractOnePassItems;
    int32_t AutoOnePerX;
    int32_t UseShortCircuit;
    int32_t LogDataCalcTimes;
    char DateDisplayFormat[32];
    int32_t DateInputFormat;
    char Currency[40];
    int32_t AskUnloadData;
    int32_t AskDeleteTests;
    int32_t AskSaveUntitled;
    int32_t ReuseListWindows;
    int32_t ConfirmStop;
    int32_t CsvListView;
    int32_t ShowTextOrders;
    int32_t CheckForUpdates;
    int32_t MaxBackups;
    int32_t EarliestImportYear;
    int32_t ImportBarTime;
    int32_t StatusBarFields;
    int32_t TLPriceTolerance;
    int32_t TLNoPopups;
    int32_t WriteTLDebugFile;
    int32_t ShowBondPriceFractional;
    char UserDllPath[PATH_SIZE];
    double EmaPrecision;
    double NearZero;
    int32_t BarsHeldIncrPostClose;
    int32_t UniqueOrderId;
    /* [Import] */
    int32_t ImportThreads;
    int32_t ImportPause;
    int32_t ImportTimeout;
    int32_t ImportRetries;
    char TiingoApiKey[80];
    char TiingoExchanges[80];
    /* [Internal] */
    int32_t FileOpenType;
    /* [Optimizer] */
    int32_t OptimizeMode;
    int32_t OptMutatePct;
    int32_t OptByStrategy;
    int32_t OptBySymbol;
    int32_t OptIterations;
    int32_t OptScoreCol;
    int32_t OptClearResults;
    int32_t OptSortResults;
    int32_t OptKeepBest;
    int32_t OptKeepByDate;
    int32_t OptKeepBySymbol;
    int32_t OptKeepNoTrades;
    int32_t OptTimeUnit;
    int32_t OptTestLength;
    int32_t OptTestInterval;
    int32_t OptAnchor;
    int32_t OptWalkForward;
    int32_t OptMultiSaveAs;
    int32_t OptSummaryLog;
    /* [Reports] */
    int32_t ReportStats;
    int32_t ReportMonthly;
    int32_t ReportCorrel;
    int32_t ReportGraphs;
    int32_t ReportPlots;
    int32_t ReportSettings;
    int32_t ReportScript;
    int32_t ReportBatchDisp;
    int32_t ReportWidth;
    int32_t ReportMCLines;
    int32_t ReportMCKeep;
    int32_t ReportNumber;
    /* [FindInFiles] */
    char FindWhat[SETTING_HISTORY_TEXT_SIZE];
    char FindFolder[SETTING_HISTORY_TEXT_SIZE];
    char FindTypes[SETTING_HISTORY_TEXT_SIZE];
    int32_t IncludeSubfolders;
    int32_t MatchFase;
    int32_t WholeWord;
    /* [DebugWindow] */
    char DebugFormula[1000];
    char DebugSymbol[40];
    int32_t DebugDate;
    int32_t DebugBars;
    int32_t DebugShowEval;
    int32_t DebugZoomLevel;
    /* [ScriptWindows] */
    char ScriptFont[32];
    int32_t ScriptFontHeight;
    int32_t ScriptZoomLevel;
    int32_t ScriptTabWidth;
    int32_t ScriptCallTips;
    int32_t ScriptAutoComp;
    int32_t ScriptAutoCDesc;
    int32_t ScriptHighlightOther;
    int32_t ScriptMarginClick;
    int32_t ScriptDynamicTabs;
    uint32_t ScriptForeground;
    uint32_t ScriptBackground;
    uint32_t ScriptCaret;
    /* [LogWindows] */
    char LogFont[32];
    int32_t LogZoomLevel;
    int32_t LogFontHeight;
    uint32_t LogForeground;
    uint32_t LogBackground;
    uint32_t LogCaret;
    int32_t LogTabWidth;
    /* [ChartWindows] */
    int32_t ChartCandlestick;
    int32_t ChartLogScale;
    int32_t ChartSplitAdjust;
    int32_t ChartVisibleBars;
    int32_t ChartExtraBars;
    int32_t ChartAfterExit;
    int32_t ChartShowIndPane;
    int32_t ChartIndPanePct;
    int32_t ChartShowVolPane;
    int32_t ChartVolPanePct;
    int32_t ChartCrossHair;
    int32_t ChartBlackBG;
    int32_t ChartBarSize2;
    int32_t WheelScroll;
    int32_t EntryExitLine;
    int32_t ShowOtherTrades;
    int32_t ChartLineWidth;
    char ChartFont[32];
    int32_t ChartFontHeight;
    int32_t ChartShowCursor;
    int32_t ChartCursorBar;
    uint32_t ChartUpBar;
    uint32_t ChartDownBar;
    /* [GraphWindows] */
    int32_t GraphMALen;
    int32_t GraphSort;
    int32_t GraphCombinedArea;
    int32_t GraphUseLogScale;
    int32_t GraphFixedHeight;
    int32_t GraphShowMA;
    int32_t GraphLineWidth;
    char GraphFont[32];
    int32_t GraphFontHeight;
    int32_t GraphType;
    int32_t GraphShowCursor;
    /* [PlotWindows] */
    int32_t PlotStrat;
    int32_t PlotXField;
    int32_t PlotYField;
    int32_t PlotDisplay;
    int32_t PlotMCLines;
    int32_t PlotMCShow;
    int32_t PlotCrossHair;
    int32_t PlotTrend;
    int32_t PlotLogStats;
    int32_t PlotUseMaxValue;
    int32_t PlotUseMinValue;
    int32_t PlotPDCount;
    int32_t PlotBinCount;
    double PlotBinIncr;
    double PlotMaxValue;
    double PlotMinValue;
    char PlotFormula[256];
    /* [CompareTrades] */
    int32_t MatchDateIn;
    int32_t MatchDateOut;
    int32_t MatchStrategy;
    int32_t KeepMatches;
    int32_t KeepNonMatches;
    int32_t UseAccountPct;
    double MinDlrDiff;
    double MinPctDiff;
    int32_t Test1;
    int32_t Strat1;
    int32_t Test2;
    int32_t Strat2;
    /* [ResGraphWindows] */
    int32_t ResGraphHeatMap;
    int32_t ResGraphSort;
    int32_t ResGraphTrend;
    int32_t ResGraphXVar;
    int32_t ResGraphYVar;
    int32_t ResGraphValueCol;
    /* [RecentItems] */
    /* [MainWindow] */
    int32_t ShowSettings;
    uint32_t SettingsColor;
    int32_t ShowDebugger;
    uint32_t DebugColor;
    int32_t ShowToolBar;
    int32_t ShowTabBar;
    int32_t ShowStatusBar;
    int32_t PopupSeconds;
    /* [WindowPositions] */
    int32_t fMaximized;
    int32_t fChildMaxed;
    int32_t iMainX;
    int32_t iMainY;
    int32_t iMainW;
    int32_t iMainH;
    int32_t iScriptW;
    int32_t iScriptH;
    int32_t iOptimizeW;
    int32_t iOptimizeH;
    int32_t iResW;
    int32_t iResH;
    int32_t iLogW;
    int32_t iLogH;
    int32_t iResGraphW;
    int32_t iResGraphH;
    int32_t iGraphW;
    int32_t iGraphH;
    int32_t iPlotW;
    int32_t iPlotH;
    int32_t iSettingsW;
    int32_t iSettingsH;
    int32_t iTradesW;
    int32_t iTradesH;
    int32_t iScanW;
    int32_t iScanH;
    int32_t iCompareW;
    int32_t iCompareH;
    int32_t iListW;
    int32_t iListH;
    int32_t iChartX;
    int32_t iChartY;
    int32_t iChartW;
    int32_t iChartH;
    /* history lists, key + "MRU" */
    char DataFileMRU[SETTING_HISTORY_SIZE];
    char ActiveScriptMRU[SETTING_HISTORY_SIZE];
    char RecentFilesMRU[SETTING_HISTORY_SIZE];
    char FindWhatMRU[SETTING_HISTORY_SIZE];
    char FindFolderMRU[SETTING_HISTORY_SIZE];
    char FindTypesMRU[SETTING_HISTORY_SIZE];
};

extern ProgramSettings gSettings;

/* ---- the settings table ------------------------------------------------------------ */

/* How a row's value moves between file text, variable and dialog control. */
enum SettingType : uint32_t {
    ST_BOOL = 0,         /* i32; check box */
    ST_RADIO = 1,        /* i32 index; radio group starting at the control */
    ST_WORD = 2,         /* i32 index; combo filled with the row's words */
    ST_OPTVAR = 3,       /* i32 index; combo filled by the results window */
    ST_RESCOL = 4,       /* i32 index; combo of the shown Results columns */
    ST_GRAPHCOL = 5,     /* i32 index; combo of the shown Graphs formulas */
    ST_STRAT = 6,        /* i32 index; combo of the current test's strategies */
    ST_INT = 7,          /* i32; edit */
    ST_COLOR = 8,        /* colour; edit showing the number */
    ST_DOUBLE = 9,       /* f64; edit, extra = decimals (0 automatic) */
    ST_TEXT = 10,        /* char[extra]; edit */
    ST_EDITOR_TEXT = 11, /* char[extra], escaped in the file; editor control */
    ST_DATE = 12,        /* i32 yyyymmdd; date picker */
    ST_TIME = 13,        /* i32 hhmmss; time picker */
    ST_COMBO_TEXT = 14,  /* char[extra]; combo entry with that text */
    ST_PATH = 15,        /* char[PATH_SIZE] with history; combo, macros expanded on load */
    ST_HISTORY = 16,     /* char[256] with history; combo */
    ST_INT_LIST = 17     /* i32[extra]; comma-separated, file only */
};

/* The extra column: its meaning depends on the row's type. */
union SettingExtra {
    uint64_t n;               /* text capacity (10, 11, 14), decimals (9), value count (17) */
    const char *const *words; /* null-terminated word list (2) */
    char *history;            /* the row's 2048-byte history list (15, 16) */
};

struct SettingEntry {
    const char *section;     /* settings-file section */
    const char *key;         /* key in the file; null closes the table */
    const char *defaultText; /* default in the file's own form */
    uint32_t dialogId;       /* dialog that shows the row */
    uint32_t controlId;      /* its control; 0 = not shown */
    uint32_t type;           /* SettingType */
    void *data;              /* the variable; null for a history-only row */
    SettingExtra extra;
    /* The value's own rule, which a dialog's box keeps for every row, and the
    ** settings file for a folder: a number row takes low to high (both 0: any
    ** number its variable holds); a folder row (a text of a path's size) takes
    ** at most high letters (0: a path's PATH_LETTERS). */
    double low, high;
};

extern const SettingEntry gSettingTable[SETTING_ROW_COUNT + 1];

/* Word lists of the word rows, each ending in null. */
extern const char *const kBarSizeWords[];
extern const char *const kDateOrderWords[];
extern const char *const kTimeUnitWords[];
extern const char *const kAnchorWords[];
extern const char *const kWheelDirectionWords[];
extern const char *const kPlotXFieldWords[];
extern const char *const kPlotYFieldWords[];
extern const char *const kPlotDisplayWords[];

/* ---- editor styles and colour sets ----------------------------------------------------- */

struct EditorStyle {
    const char *name;        /* key stem: name + "Color", "Bold", "Italic" */
    const char *description; /* shown in the options dialog */
    int32_t styleIndex;      /* index into gEditorStyles */
};
extern const EditorStyle gEditorStyleTable[EDITOR_STYLE_ROWS];

struct EditorStyleRecord {
    uint32_t colour; /* red | green << 8 | blue << 16 */
    int32_t bold;    /* 0/1 */
    int32_t italic;  /* 0/1 */
};
/* The script editor's styles by style index; start as the defaults. */
extern EditorStyleRecord gEditorStyles[EDITOR_STYLE_RECORDS];

/* The colours of a chart or graph style set.  The windows build their
** brushes and pens from these after LoadSettings and after an options dialog
** changed them. */
struct StyleColourSet {
    uint32_t colours[STYLE_COLOURS];
    int32_t colourCount; /* styles in use: 10 */
    int32_t lineWidth;   /* pen width in pixels, from ChartLineWidth or GraphLineWidth */
};
extern StyleColourSet gChartColours;
extern StyleColourSet gGraphColours;
extern const uint32_t kChartDefaultColours[STYLE_COLOURS];
extern const uint32_t kGraphDefaultColours[STYLE_COLOURS];

/* Key builders: text goes on both sides of the index (empty in the file,
** one blank in the dialog's colour list).  out holds COLOR_KEY_SIZE bytes. */
typedef void (*ColorKeyBuilder)(int index, char *out, const char *text);
/* "Indicator%s%d%sColor" */
void IndicatorColorKey(int index, char *out, const char *text);
/* index 0 "Combined%sStats%sColor", else "Strategy%s%d%sColor" */
void GraphColorKey(int index, char *out, const char *text);

/* Resets the set to the defaults (count 10, the given line width) and reads
** each colour from the file under the builder's key (kept when absent or not
** a colour).  A null file or one without text only resets. */
void LoadStyleColours(const IniFile *ini, StyleColourSet *set, const uint32_t *defaults, int lineWidth,
                      ColorKeyBuilder keyBuilder);

/* ---- open windows ------------------------------------------------------------------ */

/* One window to reopen at the next start. */
struct OpenFileWindow {
    char path[PATH_SIZE];             /* its document: results file, script, log or CSV list */
    int32_t active;                   /* 1 for the active window */
    int32_t left, top, width, height; /* normal (restored) placement */
    int32_t showState;                /* the placement's show command */
};

/* The shell fills out with the windows to remember, in the order they are
** written (from the last tab of the tab bar to the first; only results,
** script, log and list windows that show a file), and returns how many (at most
** max).  Null, as in the headless shell, means no windows. */
typedef int (*OpenFileLister)(OpenFileWindow *out, int max);
extern OpenFileLister gListOpenFileWindows;
enum { MAX_OPEN_FILE_WINDOWS = 512 };

/* Writes [OpenFiles]: FILE_COUNT and, for k = 1..count, FILE_k_PATH and
** FILE_k_WINDOW ("*" when active, then left,top,width,height,show state).
** 1, or 0 when a put failed. */
int SaveOpenFiles(IniFile *ini, const OpenFileWindow *windows, int count);

/* ---- loading and saving ------------------------------------------------------------ */

/* Reads every row, the colour sets and the editor styles from the file.
** When the file cannot be opened (reported) the settings take their
** defaults and 0 is returned; an unattended run without a settings file
** takes the defaults silently and returns 1. */
int LoadSettings(const char *path);

/* Rewrites the file from the variables: a numbered backup first, then the
** whole file replaced once the new text is complete.  Does nothing in
** unattended mode.  When the file cannot be opened or any value cannot be
** added, nothing is written and 0 is returned. */
int SaveSettings(const char *path);

/* Every row, editor style and colour set back to its default. */
void ResetSettingsToDefaults();

/* Checks text typed for the row (an int, double, folder or path row; any
** other row takes any text) against the row's rule.  1 when it is taken, with
** a number row's value in *number; else 0 with the reason, naming the
** setting and its rule, in why[size].  An int row without a range reads a
** minus sign as 0, as its box always has. */
int CheckSettingText(const SettingEntry *row, const char *text, double *number, char *why, int size);

/* The most letters a folder or path row holds. */
int SettingLetterLimit(const SettingEntry *row);

/* A double as the file and the dialogs print it: "%g" when that reads back
** as the same number, else with as many digits as needed. */
void FormatSettingDouble(char *out, int size, double value);

/* 1 while SettingsToDialog (or another long operation) is filling controls;
** the panels ignore control-change notifications meanwhile. */
extern int SettingsExchangeActive;

/* Entries of the combo lists that depend on the current script and test
** (types 4 Results columns, 5 Graphs formulas, 6 strategies): copies entry
** index of the list for the type into out and returns 1, or 0 past the end.
** Set by the script and engine side; null means empty lists. */
typedef int (*SettingListSource)(uint32_t type, int index, char *out, int size);
extern SettingListSource gSettingListSource;
