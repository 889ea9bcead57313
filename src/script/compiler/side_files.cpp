/* side_files.cpp -- holiday lists, the exchange map, symbol changes and the
** cash and fee lists of strategies.
*/
#include "script/compiler/side_files.h"

#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/path_macros.h"
#include "foundation/run_files.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/strategy.h"
#include "services/services.h"

GrowList gContractSpecs;
GrowList gSymbolChanges;

/* clang-format off */
const char *const kExchangeMapColumns[EXCHANGE_MAP_COLUMNS] = {
    "Exchange",      "Primary",          "Match1",      "Match2",           "HasOpg",
    "HasMoc",        "HasLoc",           "TimeZone",    "LastMocTime",      "NearCloseTime",
    "EarlyLastMocTime", "EarlyNearCloseTime", "LateLocTime", "EarlyLateLocTime", "WeeklyLastMocTime",
    "LastOpenTime",  "Market",           "AllHours",    "FuturesOpenTime"};
/* clang-format on */

static char sExchangeMapPath[PATH_SIZE];
static char sSymChangeListPath[PATH_SIZE];
char *gExchangeMapSetting = sExchangeMapPath;
char *gSymChangeListSetting = sSymChangeListPath;

namespace {

enum { HOLIDAY_GROW = 32,
       HOLIDAY_LINE_SIZE = 80 };

/* Where each header name puts its text: a text field, a whole number or a time. */
enum FieldKind { FIELD_TEXT,
                 FIELD_NUMBER,
                 FIELD_TIME };
struct ExchangeColumn {
    size_t offset;
    int kind;
};
#define T(name)                                  \
    {                                            \
        offsetof(ContractSpec, name), FIELD_TEXT \
    }
#define N(name)                                    \
    {                                              \
        offsetof(ContractSpec, name), FIELD_NUMBER \
    }
/* By position in kExchangeMapColumns. */
/* clang-format off */
const ExchangeColumn kExchangeColumnFields[EXCHANGE_MAP_COLUMNS] = {
    T(Exchange),    T(Primary),          T(Match1),      T(Match2),           N(HasOpg),
    N(HasMoc),      N(HasLoc),           T(TimeZone),    T(LastMocTime),      T(NearCloseTime),
    T(EarlyLastMocTime), T(EarlyNearCloseTime), T(LateLocTime), T(EarlyLateLocTime), T(WeeklyLastMocTime),
    T(LastOpenTime), T(Market),          N(AllHours),    {offsetof(ContractSpec, FuturesOpenTime), FIELD_TIME}};
/* clang-format on */
#undef T
#undef N

/* The lines of a text, each without its line end (CR LF, LF or CR alone). */
std::vector<std::string> SplitLines(const char *text)
{
    std::vector<std::string> lines;
    const char *p = text, *end = text + strlen(text);
    while (p < end) {
        const char *start = p;
        const char *lineEnd = FindLineEnd(start, end, &p);
        lines.emplace_back(start, (size_t)(lineEnd - start));
    }
    return lines;
}

/* The comma-separated fields of a line, blanks after each comma skipped. */
std::vector<std::string> SplitFields(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        while (start < line.size() && (line[start] == ' ' || line[start] == '\t')) start++;
        size_t comma = line.find(',', start);
        fields.push_back(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return fields;
}

/* Reads a CSV side file's lines as they stand, or false after the file
** helpers reported the failure.  Each line's quotes are its own
** (UnquoteCsvLine): a quote one line left open would run the rows after it
** together. */
bool ReadCsvLines(const char *path, std::vector<std::string> *lines)
{
    char *text = nullptr;
    if (!LoadTextFile(path, &text, nullptr)) return false;
    *lines = SplitLines(text);
    FreeMemory(&text);
    return true;
}

/* Drops the quotes of a CSV line and the commas inside them ("1,000" reads
** as 1000); false when the line leaves a quote open, so that its fields
** cannot be told. */
bool UnquoteCsvLine(std::string *line)
{
    const bool whole = UnquoteLine(&(*line)[0], ',') != 0;
    line->resize(strlen(line->c_str()));
    return whole;
}

const char kNoteOpenQuote[] = "line %d opens a double quote that it does not close, so its fields cannot be told; "
                              "the line was not read";

enum { NOTES_SHOWN = 640 };

/* What a side file holds that could not be read, said once for the file:
** one report naming each line, as many as a message holds. */
struct LineNotes {
    std::string text;
    int more; /* notes past what the message holds */
};

void AddLineNote(LineNotes *notes, const char *format, ...) __attribute__((format(printf, 2, 3)));
void AddLineNote(LineNotes *notes, const char *format, ...)
{
    if (notes->text.size() > NOTES_SHOWN) {
        notes->more++;
        return;
    }
    char note[320];
    va_list args;
    va_start(args, format);
    FormatTextV(note, sizeof note, format, args);
    va_end(args);
    notes->text += note;
    notes->text += "\r\n";
}

/* The reports of this run: both passes of a compile read the side files,
** and strategies may share one holiday list, but the user hears of a
** damaged file once. */
std::vector<std::string> sReportedNotes;

/* Reports the notes on the file of that kind ("holiday list"), unless this
** run reported them already.  Nothing fails: the lines and values named are
** not used, the rest of the file is. */
void ReportLineNotes(const LineNotes &notes, const char *kind, const char *path)
{
    if (notes.text.empty()) return;
    char message[1024];
    int n = FormatText(message, sizeof message, "Parts of %s file %s could not be read:\r\n\r\n%s", kind, path,
                       notes.text.c_str());
    if (notes.more) FormatText(message + n, sizeof message - (size_t)n, "and %d more\r\n", notes.more);
    for (const std::string &reported : sReportedNotes)
        if (reported == message) return;
    sReportedNotes.push_back(message);
    ReportError("%s", message);
}

/* "%s\\name" in folder when folder is set and the file is there. */
bool FindInFolder(char *out, const char *folder, const char *name)
{
    if (!folder || !folder[0]) return false; /* an empty folder is no folder, not the root */
    FormatText(out, PATH_SIZE, "%s\\%s", folder, name);
    return PlatFileExists(out) && !PlatFolderExists(out);
}

/* The side file's path: the setting when given, else name in the
** SlatewickFolder or the program folder, else "" (none found). */
void ChooseSideFile(char *out, const char *setting, const char *name)
{
    out[0] = 0;
    if (setting && setting[0]) {
        CopyString(out, PATH_SIZE, setting, -1);
        return;
    }
    if (FindInFolder(out, gSlatewickFolderSetting, name)) return;
    if (FindInFolder(out, gProgramFolder, name)) return;
    out[0] = 0;
}

bool ResolveScriptPath(char path[PATH_SIZE], const char *given)
{
    CopyString(path, PATH_SIZE, given, -1);
    if (ExpandPathMacros(path, gScriptsFolder)) return true;
    ReportError("Unable to access %s", given);
    SetResultCode(RESULT_FILE_ERROR);
    return false;
}

/* 1 when a holiday file's line (after its early-close '*') is meant as a
** date: it begins with a number that a date separator follows, or with the
** eight digits of yyyymmdd.  A heading ("Holidays 2024", "New Year") is not. */
bool IsMeantAsDate(const char *p)
{
    while (*p == ' ' || *p == '\t') p++;
    const char *digits = p;
    while (*p >= '0' && *p <= '9') p++;
    if (p == digits) return false;
    return *p == '/' || *p == '-' || *p == '.' || p - digits == 8;
}

bool FileIsReadable(const char *path) { return path[0] && PlatFileExists(path) && !PlatFolderExists(path); }

} // namespace

void ForgetSideFileNotes() { sReportedNotes.clear(); }

/* ---- holiday lists ------------------------------------------------------------------- */

int LoadHolidayList(HolidayList *list, const char *path)
{
    if (!path || !path[0]) {
        list->count = 0;
        return 1;
    }
    if (FindTextNoCase(path, "us_auto")) {
        list->count = 0;
        /* The automatic list needs the loaded data's last year. */
        if (gCompileSession.pass != 2) return 1;
        return BuildHolidayList(list, DateYear(gStore.lastDate), 0, FindTextNoCase(path, "_log") != nullptr);
    }
    if (!FileIsReadable(path)) {
        ReportError("Unable to read holiday list file %s", path);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    char *text = nullptr;
    if (!LoadTextFile(path, &text, nullptr)) return 0;
    NoteRunInput(path, "the HolidayList");
    std::vector<HolidayPair> pairs;
    LineNotes notes = {};
    int lineNumber = 0;
    for (const std::string &whole : SplitLines(text)) {
        lineNumber++;
        char line[HOLIDAY_LINE_SIZE];
        CopyString(line, sizeof line, whole.c_str(), HOLIDAY_LINE_SIZE - 1);
        const char *p = line;
        while (*p == ' ' || *p == '\t') p++;
        int early = *p == '*';
        if (early) p++;
        int32_t date = ParseDate(p);
        if (date)
            pairs.push_back({date, early});
        else if (IsMeantAsDate(p))
            /* Skipped unseen, the day would be traded as any other. */
            AddLineNote(&notes, "line %d gives %s, which is not a date; no holiday was taken from it", lineNumber, line);
    }
    FreeMemory(&text);
    ReportLineNotes(notes, "holiday list", path);
    /* The list changes only once the whole file was read. */
    int32_t need = (int32_t)pairs.size();
    if (need > list->capacity) {
        int32_t capacity = (need + HOLIDAY_GROW - 1) / HOLIDAY_GROW * HOLIDAY_GROW;
        if (!ReallocMemory(&list->pairs, (uint64_t)capacity * sizeof(HolidayPair))) return 0;
        list->capacity = capacity;
    }
    if (need) memcpy(list->pairs, pairs.data(), (size_t)need * sizeof(HolidayPair));
    list->count = need;
    return 1;
}

/* ---- exchange map ------------------------------------------------------------------------ */

int LoadExchangeMap()
{
    char path[PATH_SIZE];
    bool given = gExchangeMapSetting[0] != 0;
    ChooseSideFile(path, gExchangeMapSetting, "ExchangeMap.csv");
    if (!path[0]) {
        /* Only order generation reads the map; other runs do without one. */
        if (gCompileSession.mode != RUN_MODE_ORDERS) {
            gContractSpecs.count = 0;
            return 1;
        }
        FormatText(path, sizeof path, "%s\\ExchangeMap.csv", gProgramFolder);
    }
    if (!given) CopyString(gExchangeMapSetting, PATH_SIZE, path, -1);
    char resolved[PATH_SIZE];
    if (!ResolveScriptPath(resolved, path)) return 0;
    std::vector<std::string> lines;
    if (!ReadCsvLines(resolved, &lines)) return 0;
    NoteRunInput(resolved, "the ExchangeMap");

    if (!GrowListReserve(&gContractSpecs, (int32_t)lines.size(), sizeof(ContractSpec))) return 0;
    if (gContractSpecs.items) memset(gContractSpecs.items, 0, (size_t)gContractSpecs.capacity * sizeof(ContractSpec));
    gContractSpecs.count = 0;
    if (lines.empty()) return 1;

    LineNotes notes = {};
    std::vector<int> fieldOfColumn; /* header position -> column name index, -1 unknown */
    if (!UnquoteCsvLine(&lines[0]))
        AddLineNote(&notes, kNoteOpenQuote, 1); /* no column can be told, so no row is read */
    else
        for (const std::string &name : SplitFields(lines[0])) {
            std::string trimmed = name;
            while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.pop_back();
            fieldOfColumn.push_back(FindKeyword(trimmed.c_str(), kExchangeMapColumns, EXCHANGE_MAP_COLUMNS));
        }
    for (size_t i = 1; i < lines.size() && !lines[i].empty() && !fieldOfColumn.empty(); i++) {
        const int lineNumber = (int)i + 1;
        if (!UnquoteCsvLine(&lines[i])) {
            AddLineNote(&notes, kNoteOpenQuote, lineNumber);
            continue;
        }
        ContractSpec *row = (ContractSpec *)gContractSpecs.items + gContractSpecs.count++;
        std::vector<std::string> fields = SplitFields(lines[i]);
        for (size_t c = 0; c < fields.size() && c < fieldOfColumn.size(); c++) {
            if (fieldOfColumn[c] < 0) continue;
            const ExchangeColumn &column = kExchangeColumnFields[fieldOfColumn[c]];
            char *field = (char *)row + column.offset;
            const char *text = fields[c].c_str();
            /* A flag or time that is none is named and the field left
            ** empty, never read as the number its text begins with. */
            const char *fault = nullptr;
            if (column.kind == FIELD_TEXT) {
                CopyString(field, SIDE_TEXT_SIZE, text, SIDE_TEXT_SIZE - 1);
            } else if (column.kind == FIELD_NUMBER) {
                double value = 0;
                fault = NumberTextFault(text, WHOLE_NUMBER, &value);
                if (!fault) *(int32_t *)field = (int32_t)value;
            } else {
                int32_t time = 0;
                if (ReadTimeOfDay(text, &time))
                    *(int32_t *)field = time;
                else
                    fault = "not a time of day";
            }
            if (fault)
                AddLineNote(&notes, "line %d gives %s %s, which is %s; the value was not used", lineNumber,
                            kExchangeMapColumns[fieldOfColumn[c]], text, fault);
        }
    }
    /* Only order generation reads the map: other runs do without its values. */
    if (gCompileSession.mode == RUN_MODE_ORDERS) ReportLineNotes(notes, "ExchangeMap", resolved);
    return 1;
}

/* ---- symbol changes ----------------------------------------------------------------------- */

int LoadSymbolChanges()
{
    char path[PATH_SIZE];
    ChooseSideFile(path, gSymChangeListSetting, "symchanges.csv");
    if (!path[0]) {
        /* Without a file there are no changes; an earlier compile's list
        ** must not carry over into this one. */
        gSymbolChanges.count = 0;
        return 1;
    }
    CopyString(gSymChangeListSetting, PATH_SIZE, path, -1);
    char resolved[PATH_SIZE];
    if (!ResolveScriptPath(resolved, path)) return 0;
    std::vector<std::string> lines;
    if (!ReadCsvLines(resolved, &lines)) return 0;
    NoteRunInput(resolved, "the SymChangeList");
    if (!GrowListReserve(&gSymbolChanges, (int32_t)lines.size(), sizeof(SymbolChange))) return 0;
    gSymbolChanges.count = 0;
    LineNotes notes = {};
    for (size_t i = 0; i < lines.size(); i++) {
        const int lineNumber = (int)i + 1;
        std::string &line = lines[i];
        if (!UnquoteCsvLine(&line)) {
            AddLineNote(&notes, kNoteOpenQuote, lineNumber);
            continue;
        }
        std::vector<std::string> fields = SplitFields(line);
        fields.resize(fields.size() < 4 ? 4 : fields.size());
        /* An empty line, or a spreadsheet's empty row (",,,"), holds no change. */
        if (line.find_first_not_of(" \t,") == std::string::npos) continue;
        /* A row that is no change is not used: a change with no new symbol
        ** would name every order of the old one with nothing. */
        if (fields[0].empty() || fields[1].empty()) {
            AddLineNote(&notes, "line %d gives no %s symbol; the line was not used", lineNumber,
                        fields[0].empty() ? "old" : "new");
            continue;
        }
        int32_t date = 0;
        const std::string &dateText = fields[2];
        if (!dateText.empty() && (date = ParseDate(dateText.c_str())) == 0) {
            /* A heading's date column holds a name: it stays a row with no
            ** date, matching no symbol.  Any other date that does not read
            ** would make the change apply on every date. */
            if (i > 0 || dateText.find_first_of("0123456789") != std::string::npos) {
                AddLineNote(&notes, "line %d gives the date %s, which is not a date; the line was not used", lineNumber,
                            dateText.c_str());
                continue;
            }
        }
        SymbolChange *row = (SymbolChange *)gSymbolChanges.items + gSymbolChanges.count++;
        memset(row, 0, sizeof *row);
        CopyString(row->oldSymbol, sizeof row->oldSymbol, fields[0].c_str(), SYMBOL_CHANGE_TEXT_SIZE - 1);
        CopyString(row->newSymbol, sizeof row->newSymbol, fields[1].c_str(), SYMBOL_CHANGE_TEXT_SIZE - 1);
        row->date = date;
        CopyString(row->secondText, sizeof row->secondText, fields[3].c_str(), SYMBOL_CHANGE_TEXT_SIZE - 1);
    }
    ReportLineNotes(notes, "symbol change list", resolved);
    return 1;
}

const SymbolChange *FindSymbolChange(const char *symbol, int32_t date)
{
    for (int32_t i = 0; i < gSymbolChanges.count; i++) {
        const SymbolChange *row = (const SymbolChange *)gSymbolChanges.items + i;
        if (CompareNoCase(row->oldSymbol, symbol) == 0 && (row->date == 0 || row->date >= date)) return row;
    }
    return nullptr;
}

/* ---- cash and fee lists --------------------------------------------------------------------- */

/* Says why the cash or fee list at path was refused into why (when given),
** "<path>: " and the reason; 0. */
static int RefuseCashFeesList(char *why, size_t size, const char *path, const char *format, ...)
    __attribute__((format(printf, 4, 5)));
static int RefuseCashFeesList(char *why, size_t size, const char *path, const char *format, ...)
{
    if (!why || !size) return 0;
    int n = FormatText(why, size, "%s: ", path);
    va_list args;
    va_start(args, format);
    FormatTextV(why + n, size - (size_t)n, format, args);
    va_end(args);
    return 0;
}

int LoadCashFeesList(StrategyRecord *record, const char *path, int which, char *why, size_t whySize)
{
    if (why && whySize) why[0] = 0;
    GrowList *list = which ? &record->feesList : &record->cashList;
    list->count = 0;
    char resolved[PATH_SIZE];
    if (!path || !path[0]) return 0;
    CopyString(resolved, sizeof resolved, path, -1);
    if (PathTooLong(path) || !ExpandPathMacros(resolved, gScriptsFolder)) return 0;
    std::vector<std::string> lines;
    /* The compile error the caller reports says the file was not found or
    ** not valid; the reader's own message would be a second one. */
    gMessageState.suppressNext = 1;
    bool read = ReadCsvLines(resolved, &lines);
    gMessageState.suppressNext = 0;
    if (!read) return 0;
    NoteRunInput(resolved, which ? "the FeesList" : "the CashList");
    if (!GrowListReserve(list, (int32_t)lines.size(), sizeof(DatedAmount))) return 0;
    size_t i = 0;
    while (i < lines.size() && FindTextNoCase(lines[i].c_str(), "Date")) i++;
    for (; i < lines.size() && !lines[i].empty(); i++) {
        const int lineNumber = (int)i + 1;
        if (!UnquoteCsvLine(&lines[i])) return RefuseCashFeesList(why, whySize, resolved, kNoteOpenQuote, lineNumber);
        std::vector<std::string> fields = SplitFields(lines[i]);
        std::string &dateText = fields[0];
        while (!dateText.empty() && (dateText.back() == ' ' || dateText.back() == '\t')) dateText.pop_back();
        int32_t date = ParseDate(dateText.c_str());
        if (!date)
            return RefuseCashFeesList(why, whySize, resolved, "line %d gives the date %s, which is not a date", lineNumber,
                                      dateText.c_str());
        /* The amount is the whole field: the number its text begins with
        ** ("12abc" as 12) would be an amount the file does not give. */
        const char *amountText = fields.size() > 1 ? fields[1].c_str() : "";
        double amount = 0;
        if (const char *fault = NumberTextFault(amountText, DECIMAL_NUMBER, &amount))
            return RefuseCashFeesList(why, whySize, resolved, "line %d gives the amount %s, which is %s", lineNumber,
                                      amountText, fault);
        if (amount == 0)
            return RefuseCashFeesList(why, whySize, resolved,
                                      amountText[strspn(amountText, " \t")] ? "line %d gives an amount of 0"
                                                                             : "line %d gives no amount",
                                      lineNumber);
        DatedAmount *entries = (DatedAmount *)list->items;
        int32_t k = 0;
        while (k < list->count && entries[k].date != date) k++;
        if (k < list->count) {
            entries[k].amount += amount;
        } else {
            entries[list->count].date = date;
            entries[list->count].amount = amount;
            list->count++;
        }
    }
    return 1;
}
