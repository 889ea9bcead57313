/* settings_items.cpp -- the 74 settings keywords of a script and the saved
** copy of the program settings they may change.
**
** One table row per keyword, in keyword index order, says what form the value
** takes and where it goes.  ApplySettingsItem reads the row and stores the
** value; the forms are few (paths, texts, true/false, one word of a list, a
** set of words, numbers, dates, symbols).
*/
#include "script/compiler/settings_items.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/dates.h"
#include "foundation/path_macros.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/formula.h"
#include "script/compiler/keywords.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/side_files.h"
#include "services/services.h"

ScriptSettingsBlock gScriptSettings;
char gResultsFileName[PATH_SIZE];
char gOptScoreColName[OPT_SCORE_COL_SIZE];
int32_t gOptNoDialog;
int32_t gUseAvailableBars;

namespace {

/* Compile errors of settings values (texts in the compile error table). */
enum {
    ERR_DATA_FILE_NAME = 37,    /* data file names must end with '.kvd' */
    ERR_RESULTS_FILE_NAME = 38, /* results file names must end with '.kvr' */
    ERR_SETTING_VALUE = 40,     /* unrecognized setting value */
    ERR_BAD_DATE = 42           /* invalid date format */
};

/* ---- value forms --------------------------------------------------------------------- */

enum SettingForm {
    FORM_FORMULA,   /* kept by the parser; nothing here */
    FORM_PATH,      /* stored, then resolved against a folder */
    FORM_PATH_TEXT, /* a path stored as given, made whole where it is used */
    FORM_TEXT,      /* stored as given */
    FORM_BOOL,      /* "False" 0, "True" 1 */
    FORM_WORD,      /* the position of one word of a list */
    FORM_WORD_SET,  /* a comma list of words, each setting flags */
    FORM_NUMBER,    /* f64, the whole value a number */
    FORM_WHOLE,     /* a number with its fraction dropped, not negative */
    FORM_POSITIVE,  /* the leading whole number, above 0 */
    FORM_START_DATE,
    FORM_END_DATE,
    FORM_SYMBOL /* a symbol of the loaded data, pass 2 only */
};

enum PathBase { BASE_DATA,
                BASE_SCRIPTS,
                BASE_OUTPUT };

/* One flag a word of a word set may set. */
struct WordFlag {
    const char *word;
    int32_t *flags[3]; /* the flags it sets; null ends */
};

struct SettingRow {
    const char *keyword;
    int32_t form;
    void *target;          /* char[size], int32_t or double */
    int32_t size;          /* text capacity */
    int32_t base;          /* PathBase */
    const char *extension; /* a path must end with it, "" none */
    int32_t extensionError;
    const char *const *words; /* FORM_WORD */
    int32_t wordCount;
    const WordFlag *set; /* FORM_WORD_SET: the words, "None" first */
    int32_t setCount;
    int32_t setWordsRead;  /* words of the set read; later ones ignored */
    int32_t allowNegative; /* FORM_NUMBER */
    double scale;          /* FORM_NUMBER: the value is multiplied by it */
    int32_t scanOnly;      /* applied in scan runs only */
    int32_t seedsRandom;   /* FORM_WHOLE: RandomSeed */
};

const char *const kBoolWords[] = {"False", "True"};
const char *const kDateInputWords[] = {"MDY", "DMY"};
const char *const kBarSizeNames[] = {"Daily", "Weekly", "Monthly", "Quarterly", "Yearly"};
const char *const kOrdersModeWords[] = {"Text", "Rebalance", "Template", "Slatewick", "SlatewickSync", "SlatewickStats"};
const char *const kSaveTradesTypeWords[] = {"Full", "Compact"};
static_assert(sizeof kSaveTradesTypeWords / sizeof kSaveTradesTypeWords[0] == SAVE_TRADES_COMPACT + 1, "one word per trades file type");
const char *const kAccountTypeWords[] = {"Margin", "CashSameDay", "CashNextDay"};
const char *const kCommCurrencyWords[] = {"Instrument", "Account"};
const char *const kOptimizeModeWords[] = {"Combinatorial", "Sequential", "Genetic", "Random", "Defaults"};
const char *const kOptTimeUnitWords[] = {"None", "Days", "Weeks", "Months", "Years"};
const char *const kOptAnchorWords[] = {"None", "Start", "End"};

/* clang-format off */
const WordFlag kKeepTradesWords[] = {
    {"None", {nullptr}},
    {"Strategy", {&gSettings.KeepTrades, nullptr}},
    {"Benchmark", {&gSettings.KeepBench, nullptr}},
    {"Skipped", {&gSettings.KeepSkipped, nullptr}},
    {"All", {&gSettings.KeepTrades, &gSettings.KeepBench, &gSettings.KeepSkipped}},
};
/* clang-format on */
const WordFlag kTestOutputWords[] = {
    {"None", {nullptr}},
    {"Report", {&gSettings.AddReport, nullptr}},
    {"Graph", {&gSettings.AddGraph, nullptr}},
    {"Log", {&gSettings.AddLog, nullptr}},
    {"Trades", {&gSettings.AddTrades, nullptr}},
    {"Scan", {&gSettings.AddScan, nullptr}},
    {"Debug", {&gSettings.AddDebug, nullptr}},
};
/* clang-format off */
const WordFlag kReportContentWords[] = {
    {"None", {nullptr}},
    {"Correl", {&gSettings.ReportCorrel, nullptr}},
    {"Graphs", {&gSettings.ReportGraphs, nullptr}},
    {"Monthly", {&gSettings.ReportMonthly, nullptr}},
    {"Plots", {&gSettings.ReportPlots, nullptr}},
    {"Script", {&gSettings.ReportScript, nullptr}},
    {"Settings", {&gSettings.ReportSettings, nullptr}},
    {"Stats", {&gSettings.ReportStats, nullptr}},
};
/* clang-format on */

#define COUNT(a) (int32_t)(sizeof(a) / sizeof((a)[0]))
#define S        ScriptSettingsBlock

/* The keywords in index order (the order of kSettingsKeywordNames). */
/* clang-format off */
const SettingRow kSettingRows[SETTINGS_KEYWORD_COUNT] = {
    { .keyword = "DataFile",         .form = FORM_PATH,     .target = gSettings.DataFile, .size = PATH_SIZE, .base = BASE_DATA, .extension = "kvd", .extensionError = ERR_DATA_FILE_NAME },
    { .keyword = "StartDate",        .form = FORM_START_DATE },
    { .keyword = "EndDate",          .form = FORM_END_DATE },
    { .keyword = "NumBars",          .form = FORM_POSITIVE, .target = &gSettings.NumBars },
    { .keyword = "DateDisplay",      .form = FORM_TEXT,     .target = gSettings.DateDisplayFormat, .size = 32 },
    { .keyword = "DateInput",        .form = FORM_WORD,     .target = &gSettings.DateInputFormat, .words = kDateInputWords, .wordCount = COUNT(kDateInputWords) },
    { .keyword = "HolidayList",      .form = FORM_PATH,     .target = gScriptSettings.HolidayList, .size = PATH_SIZE, .base = BASE_SCRIPTS },
    { .keyword = "BarSize",          .form = FORM_WORD,     .target = &gSettings.BarSize2, .words = kBarSizeNames, .wordCount = COUNT(kBarSizeNames) },
    { .keyword = "UseAvailableBars", .form = FORM_BOOL,     .target = &gUseAvailableBars },
    { .keyword = "ScanNoDefCols",    .form = FORM_BOOL,     .target = &gScriptSettings.ScanNoDefCols },
    { .keyword = "ScanNoHeader",     .form = FORM_BOOL,     .target = &gScriptSettings.ScanNoHeader },
    { .keyword = "SaveChartsTo",     .form = FORM_PATH,     .target = gScriptSettings.SaveChartsTo, .size = PATH_SIZE, .base = BASE_OUTPUT, .scanOnly = 1 },
    { .keyword = "SaveScanAs",       .form = FORM_PATH,     .target = gScriptSettings.SaveScanAs, .size = PATH_SIZE, .base = BASE_OUTPUT },
    { .keyword = "ScanNoWindow",     .form = FORM_BOOL,     .target = &gScriptSettings.ScanNoWindow },
    { .keyword = "AlwaysImport",     .form = FORM_BOOL,     .target = &gScriptSettings.AlwaysImport },
    { .keyword = "TestName",         .form = FORM_FORMULA },
    { .keyword = "AccountSize",      .form = FORM_NUMBER,   .target = &gSettings.AccountSize, .scale = 1.0 },
    { .keyword = "Currency",         .form = FORM_TEXT,     .target = gScriptSettings.Currency, .size = 40 },
    { .keyword = "KeepTrades",       .form = FORM_WORD_SET, .set = kKeepTradesWords, .setCount = COUNT(kKeepTradesWords), .setWordsRead = 5 },
    { .keyword = "TestOutput",       .form = FORM_WORD_SET, .set = kTestOutputWords, .setCount = COUNT(kTestOutputWords), .setWordsRead = 7 },
    { .keyword = "ReportContent",    .form = FORM_WORD_SET, .set = kReportContentWords, .setCount = COUNT(kReportContentWords), .setWordsRead = 7 },
    { .keyword = "ReportsFolder",    .form = FORM_PATH,     .target = gReportsFolder, .size = PATH_SIZE, .base = BASE_OUTPUT },
    { .keyword = "OrdersMode",       .form = FORM_WORD,     .target = &gScriptSettings.OrdersMode, .words = kOrdersModeWords, .wordCount = COUNT(kOrdersModeWords) },
    { .keyword = "OrdersNetLiq",     .form = FORM_PATH_TEXT, .target = gScriptSettings.OrdersNetLiq, .size = PATH_SIZE },
    { .keyword = "OrdersFreeCash",   .form = FORM_PATH_TEXT, .target = gScriptSettings.OrdersFreeCash, .size = PATH_SIZE },
    { .keyword = "OrdersFile",       .form = FORM_PATH_TEXT, .target = gScriptSettings.OrdersFile, .size = PATH_SIZE },
    { .keyword = "OrdersTemplate",   .form = FORM_PATH_TEXT, .target = gScriptSettings.OrdersTemplate, .size = PATH_SIZE },
    { .keyword = "OrdersLiveData",   .form = FORM_BOOL,     .target = &gScriptSettings.OrdersLiveData },
    { .keyword = "OrdersUseQtyIn",   .form = FORM_BOOL,     .target = &gScriptSettings.OrdersUseQtyIn },
    { .keyword = "OrdersMktAsLmtPct", .form = FORM_NUMBER,  .target = &gScriptSettings.OrdersMktAsLmtPct, .scale = 1.0 },
    { .keyword = "OrdersComment",    .form = FORM_FORMULA },
    { .keyword = "ExchangeMap",      .form = FORM_PATH_TEXT, .target = gScriptSettings.ExchangeMap, .size = PATH_SIZE },
    { .keyword = "SlatewickFolder",  .form = FORM_PATH,     .target = gScriptSettings.SlatewickFolder, .size = PATH_SIZE, .base = BASE_OUTPUT },
    { .keyword = "SaveStatsAs",      .form = FORM_PATH_TEXT, .target = gScriptSettings.SaveStatsAs, .size = PATH_SIZE },
    { .keyword = "SaveTestListAs",   .form = FORM_PATH,     .target = gScriptSettings.SaveTestListAs, .size = PATH_SIZE, .base = BASE_OUTPUT },
    { .keyword = "SavePositionsAs",  .form = FORM_PATH_TEXT, .target = gScriptSettings.SavePositionsAs, .size = PATH_SIZE },
    { .keyword = "SaveTradesAs",     .form = FORM_PATH_TEXT, .target = gScriptSettings.SaveTradesAs, .size = PATH_SIZE },
    { .keyword = "SaveTradesType",   .form = FORM_WORD,     .target = &gScriptSettings.SaveTradesType, .words = kSaveTradesTypeWords, .wordCount = COUNT(kSaveTradesTypeWords) },
    { .keyword = "ResultsFile",      .form = FORM_PATH,     .target = gResultsFileName, .size = PATH_SIZE, .base = BASE_OUTPUT, .extension = "kvr", .extensionError = ERR_RESULTS_FILE_NAME },
    { .keyword = "SkipTestIf",       .form = FORM_FORMULA },
    { .keyword = "DateSym",          .form = FORM_SYMBOL,   .target = &gScriptSettings.DateSym },
    { .keyword = "DaysPerYear",      .form = FORM_NUMBER,   .target = &gScriptSettings.DaysPerYear, .allowNegative = 1, .scale = 1.0 },
    { .keyword = "RiskFreeRateSym",  .form = FORM_SYMBOL,   .target = &gScriptSettings.RiskFreeRateSym },
    { .keyword = "CashIntPct",       .form = FORM_NUMBER,   .target = &gScriptSettings.CashIntPct, .allowNegative = 1, .scale = 0.01 },
    { .keyword = "MarginIntPct",     .form = FORM_NUMBER,   .target = &gScriptSettings.MarginIntPct, .allowNegative = 1, .scale = 0.01 },
    { .keyword = "ShortLoanIntPct",  .form = FORM_NUMBER,   .target = &gScriptSettings.ShortLoanIntPct, .allowNegative = 1, .scale = 0.01 },
    { .keyword = "ShortPrcdsIntPct", .form = FORM_NUMBER,   .target = &gScriptSettings.ShortPrcdsIntPct, .allowNegative = 1, .scale = 0.01 },
    { .keyword = "TestScanAllDates", .form = FORM_BOOL,     .target = &gScriptSettings.TestScanAllDates },
    { .keyword = "EndOfTestExits",   .form = FORM_BOOL,     .target = &gScriptSettings.EndOfTestExits },
    { .keyword = "AllowSameName",    .form = FORM_BOOL,     .target = &gScriptSettings.AllowSameName },
    { .keyword = "RandomSeed",       .form = FORM_WHOLE,    .seedsRandom = 1 },
    { .keyword = "SymChangeList",    .form = FORM_PATH_TEXT, .target = gScriptSettings.SymChangeList, .size = PATH_SIZE },
    { .keyword = "AccountType",      .form = FORM_WORD,     .target = &gScriptSettings.AccountType, .words = kAccountTypeWords, .wordCount = COUNT(kAccountTypeWords) },
    { .keyword = "CommCurrency",     .form = FORM_WORD,     .target = &gScriptSettings.CommCurrency, .words = kCommCurrencyWords, .wordCount = COUNT(kCommCurrencyWords) },
    { .keyword = "OptimizeMode",     .form = FORM_WORD,     .target = &gSettings.OptimizeMode, .words = kOptimizeModeWords, .wordCount = COUNT(kOptimizeModeWords) },
    { .keyword = "OptMutatePct",     .form = FORM_WHOLE,    .target = &gSettings.OptMutatePct },
    { .keyword = "OptByStrategy",    .form = FORM_BOOL,     .target = &gSettings.OptByStrategy },
    { .keyword = "OptBySymbol",      .form = FORM_BOOL,     .target = &gSettings.OptBySymbol },
    { .keyword = "OptIterations",    .form = FORM_POSITIVE, .target = &gSettings.OptIterations },
    { .keyword = "OptScoreCol",      .form = FORM_TEXT,     .target = gOptScoreColName, .size = 80 },
    { .keyword = "OptClearResults",  .form = FORM_BOOL,     .target = &gSettings.OptClearResults },
    { .keyword = "OptSortResults",   .form = FORM_BOOL,     .target = &gSettings.OptSortResults },
    { .keyword = "OptKeepBest",      .form = FORM_POSITIVE, .target = &gSettings.OptKeepBest },
    { .keyword = "OptKeepByDate",    .form = FORM_BOOL,     .target = &gSettings.OptKeepByDate },
    { .keyword = "OptKeepBySymbol",  .form = FORM_BOOL,     .target = &gSettings.OptKeepBySymbol },
    { .keyword = "OptKeepNoTrades",  .form = FORM_BOOL,     .target = &gSettings.OptKeepNoTrades },
    { .keyword = "OptTimeUnit",      .form = FORM_WORD,     .target = &gSettings.OptTimeUnit, .words = kOptTimeUnitWords, .wordCount = COUNT(kOptTimeUnitWords) },
    { .keyword = "OptTestLength",    .form = FORM_POSITIVE, .target = &gSettings.OptTestLength },
    { .keyword = "OptTestInterval",  .form = FORM_POSITIVE, .target = &gSettings.OptTestInterval },
    { .keyword = "OptAnchor",        .form = FORM_WORD,     .target = &gSettings.OptAnchor, .words = kOptAnchorWords, .wordCount = COUNT(kOptAnchorWords) },
    { .keyword = "OptWalkForward",   .form = FORM_BOOL,     .target = &gSettings.OptWalkForward },
    { .keyword = "OptMultiSaveAs",   .form = FORM_BOOL,     .target = &gSettings.OptMultiSaveAs },
    { .keyword = "OptSummaryLog",    .form = FORM_BOOL,     .target = &gSettings.OptSummaryLog },
    { .keyword = "OptNoDialog",      .form = FORM_BOOL,     .target = &gOptNoDialog },
};
/* clang-format on */

#undef S

const char *BaseFolder(int base)
{
    switch (base) {
    case BASE_DATA: return gDataFolder;
    case BASE_SCRIPTS: return gScriptsFolder;
    default: return gOutputFolder;
    }
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int ApplyPath(const SettingRow &row, const char *text)
{
    if (PathTooLong(text)) return ERR_PATH_TOO_LONG;
    if (row.extension && row.extension[0] && !HasFileExtension(text, row.extension)) return row.extensionError;
    char *target = (char *)row.target;
    CopyString(target, row.size, text, -1);
    if (!ExpandPathMacros(target, BaseFolder(row.base))) return ERR_PATH_TOO_LONG;
    return 0;
}

/* A word set: every flag of the keyword cleared, then each word sets its own.
** The bad word's span goes to *outOffset / *outLength. */
int ApplyWordSet(const SettingRow &row, const char *text, int *outOffset, int *outLength)
{
    for (int32_t w = 0; w < row.setCount; w++)
        for (int32_t *const *flag = row.set[w].flags; flag < row.set[w].flags + 3 && *flag; flag++) **flag = 0;
    const char *p = text;
    for (int32_t read = 0; read < row.setWordsRead && *p; read++) {
        const char *end = strchr(p, ',');
        if (!end) end = p + strlen(p);
        const char *start = p;
        const char *stop = end;
        while (start < stop && IsBlank(*start)) start++;
        while (stop > start && IsBlank(stop[-1])) stop--;
        char word[128];
        CopyString(word, sizeof word, start, (int)(stop - start));
        const char *names[16];
        for (int32_t w = 0; w < row.setCount; w++) names[w] = row.set[w].word;
        int found = (stop - start) < (int)sizeof word ? FindKeyword(word, names, row.setCount) : -1;
        if (found < 0) {
            *outOffset = (int)(start - text);
            *outLength = (int)(stop - start);
            return ERR_SETTING_VALUE;
        }
        for (int32_t *const *flag = row.set[found].flags; flag < row.set[found].flags + 3 && *flag; flag++) **flag = 1;
        p = *end ? end + 1 : end;
    }
    return 0;
}

int ApplyDate(const char *text, const char *word, int32_t *date, int32_t *useFlag)
{
    if (CompareNoCase(text, word) == 0) {
        *useFlag = 1;
        return 0;
    }
    int32_t parsed = ParseDate(text);
    *date = parsed;
    if (!parsed) return ERR_BAD_DATE;
    *useFlag = 0;
    return 0;
}

int ApplyRow(const SettingRow &row, const char *text, int *outOffset, int *outLength)
{
    switch (row.form) {
    case FORM_FORMULA:
        return 0;
    case FORM_PATH:
        if (row.scanOnly && gCompileSession.mode != RUN_MODE_SCAN) return 0;
        return ApplyPath(row, text);
    case FORM_PATH_TEXT:
        /* Refused rather than cut: a cut path names another file than the
        ** script's, and the checks where it is made whole could not tell. */
        if (PathTooLong(text)) return ERR_PATH_TOO_LONG;
        CopyString((char *)row.target, row.size, text, -1);
        return 0;
    case FORM_TEXT:
        CopyString((char *)row.target, row.size, text, -1);
        return 0;
    case FORM_BOOL: {
        int w = FindKeywordNoSpaces(text, kBoolWords, 2);
        if (w < 0) return ERR_SETTING_VALUE;
        *(int32_t *)row.target = w;
        return 0;
    }
    case FORM_WORD: {
        int w = FindKeywordNoSpaces(text, row.words, row.wordCount);
        if (w < 0) return ERR_SETTING_VALUE;
        *(int32_t *)row.target = w;
        return 0;
    }
    case FORM_WORD_SET:
        return ApplyWordSet(row, text, outOffset, outLength);
    case FORM_NUMBER: {
        if (!IsNumberText(text, row.allowNegative, 1)) return ERR_SETTING_VALUE;
        *(double *)row.target = strtod(text, nullptr) * row.scale;
        return 0;
    }
    case FORM_WHOLE: {
        if (!IsNumberText(text, 0, 1)) return ERR_SETTING_VALUE;
        double value = strtod(text, nullptr);
        if (!(value < 4294967296.0)) return ERR_SETTING_VALUE;
        if (row.seedsRandom)
            SetRandomSeed((uint32_t)value);
        else
            *(int32_t *)row.target = value > 2147483647.0 ? 2147483647 : (int32_t)value;
        return 0;
    }
    case FORM_POSITIVE: {
        long value = strtol(text, nullptr, 10);
        if (value <= 0) return ERR_SETTING_VALUE;
        *(int32_t *)row.target = value > 2147483647L ? 2147483647 : (int32_t)value;
        return 0;
    }
    case FORM_START_DATE:
        return ApplyDate(text, "earliest", &gSettings.FirstDate, &gSettings.UseEarliestDate);
    case FORM_END_DATE:
        return ApplyDate(text, "latest", &gSettings.LastDate, &gSettings.UseLatestDate);
    case FORM_SYMBOL: {
        /* Symbols are known only once the data file is loaded. */
        if (gCompileSession.pass != 2) return 0;
        int32_t number = FindSymbolIndex(text);
        if (number <= 0) return ERR_UNKNOWN_SYMBOL;
        *(int32_t *)row.target = number;
        return 0;
    }
    default:
        return 0;
    }
}

/* ---- the saved program settings ---------------------------------------------------- */

struct SavedField {
    size_t offset;
    size_t size;
};

#define FIELD(name)                                                                 \
    {                                                                               \
        offsetof(ProgramSettings, name), sizeof(((ProgramSettings *)nullptr)->name) \
    }

/* Every program setting that a settings keyword may change, with the rest of
** the run settings the panel shows. */
/* clang-format off */
const SavedField kRunSettingFields[] = {
    FIELD(DataFile),       FIELD(ActiveScript),    FIELD(TestName),       FIELD(FirstDate),
    FIELD(LastDate),       FIELD(NumBars),         FIELD(UseEarliestDate), FIELD(UseLatestDate),
    FIELD(BarSize2),       FIELD(AccountSize),     FIELD(KeepTrades),     FIELD(KeepBench),
    FIELD(KeepSkipped),    FIELD(AddReport),       FIELD(AddGraph),       FIELD(AddLog),
    FIELD(AddTrades),      FIELD(AddScan),         FIELD(AddDebug),       FIELD(DateDisplayFormat),
    FIELD(DateInputFormat), FIELD(OptimizeMode),   FIELD(OptMutatePct),   FIELD(OptByStrategy),
    FIELD(OptBySymbol),    FIELD(OptIterations),   FIELD(OptScoreCol),    FIELD(OptClearResults),
    FIELD(OptSortResults), FIELD(OptKeepBest),     FIELD(OptKeepByDate),  FIELD(OptKeepBySymbol),
    FIELD(OptKeepNoTrades), FIELD(OptTimeUnit),    FIELD(OptTestLength),  FIELD(OptTestInterval),
    FIELD(OptAnchor),      FIELD(OptWalkForward),  FIELD(OptMultiSaveAs), FIELD(OptSummaryLog),
    FIELD(ReportStats),    FIELD(ReportMonthly),   FIELD(ReportCorrel),   FIELD(ReportGraphs),
    FIELD(ReportPlots),    FIELD(ReportSettings),  FIELD(ReportScript),
};
/* clang-format on */

#undef FIELD

ProgramSettings sSavedSettings;
int32_t sSavedUseAvailableBars;
char sSavedReportsFolder[PATH_SIZE];
int sSaved;

} // namespace

/* ---- interface ------------------------------------------------------------------------ */

void ResetScriptSettings()
{
    memset(&gScriptSettings, 0, sizeof gScriptSettings);
    gScriptSettings.DaysPerYear = 252.0;
    gScriptSettings.EndOfTestExits = 1;
    gSlatewickFolderSetting = gScriptSettings.SlatewickFolder;
    gExchangeMapSetting = gScriptSettings.ExchangeMap;
    gSymChangeListSetting = gScriptSettings.SymChangeList;
}

int ApplySettingsItem(int index, const char *value, int length, int *outOffset, int *outLength)
{
    if (index < 0 || index >= SETTINGS_KEYWORD_COUNT) return 0;
    /* The value is read from a copy, so the script text is never changed. */
    std::string copy(value, (size_t)(length > 0 ? length : 0));
    copy.resize(strnlen(copy.c_str(), copy.size()));
    char saved = 0;
    int n = GetSectionLineValue(copy.data(), (int)copy.size(), &saved);
    const char *text = copy.c_str();
    int offset = 0;
    int span = n;
    int code = ApplyRow(kSettingRows[index], text, &offset, &span);
    if (outOffset) *outOffset = code ? offset : 0;
    if (outLength) *outLength = code ? span : n;
    return code;
}

void SaveRunSettings()
{
    for (const SavedField &f : kRunSettingFields)
        memcpy((char *)&sSavedSettings + f.offset, (const char *)&gSettings + f.offset, f.size);
    sSavedUseAvailableBars = gUseAvailableBars;
    CopyString(sSavedReportsFolder, sizeof sSavedReportsFolder, gReportsFolder, -1);
    sSaved = 1;
}

void RestoreRunSettings()
{
    if (!sSaved) return;
    for (const SavedField &f : kRunSettingFields)
        memcpy((char *)&gSettings + f.offset, (const char *)&sSavedSettings + f.offset, f.size);
    gUseAvailableBars = sSavedUseAvailableBars;
    CopyString(gReportsFolder, sizeof gReportsFolder, sSavedReportsFolder, -1);
    sSaved = 0;
}

int RunSettingsSaved() { return sSaved; }

int32_t GetScriptDateSym() { return gScriptSettings.DateSym; }

/* The test date range follows the DateSym symbol (data_load.h). */
[[maybe_unused]] static const bool kDateSymLinked = (gScriptDataLinks.dateSymbol = GetScriptDateSym, true);

/* ---- the script settings the parser reads back ------------------------------------------ */

int32_t GetRunSetting(int which)
{
    switch (which) {
    case RUNSET_ALLOW_SAME_NAME: return gScriptSettings.AllowSameName;
    case RUNSET_SCAN_NO_DEF_COLS: return gScriptSettings.ScanNoDefCols;
    default: return 0;
    }
}

void SetRunSetting(int which, int32_t value)
{
    switch (which) {
    case RUNSET_ALLOW_SAME_NAME: gScriptSettings.AllowSameName = value; break;
    case RUNSET_SCAN_NO_DEF_COLS: gScriptSettings.ScanNoDefCols = value; break;
    default: break;
    }
}
