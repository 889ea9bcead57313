/* test_report.cpp -- the HTML summary report of a test and the report list. */
#include "views/test_report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <vector>

#include "records/test_records.h"
#include "engine/results_list.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_guard.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "services/services.h"
#include "views/results_rows.h"
#include "views/trade_plot.h"

PlatFile gReportPage;
char gReportFolder[PATH_SIZE];
/* The page being written: its temporary file beside the old page, and its
** text, which is kept until the report is complete and then written at once,
** so a failed report leaves the previous page as it was. */
static ReplaceFile sPage;
static std::string sPageText;
void (*gReportGraphWriter)(TestRecord *test);
void (*gReportPlotWriter)(TestRecord *test);
void (*gOpenReportPage)(const char *path);
void (*gReportPageHeld)(const char *folder) = nullptr;
void (*gReportListHeld)(const char *path) = nullptr;
void (*gReportListBusy)(const char *path) = nullptr;

/* How long a writer of the report list waits for another to finish it. */
enum { REPORT_LIST_WAIT_MS = 60000 };

static const char kPublicStyleSheet[] = "https://www.w3schools.com/w3css/4/w3.css";
static const char kRedClass[] = " class='w3-text-red'";
/* The pages are written in UTF-8 (PageText). */
static const char kPageMeta[] = "<meta charset='utf-8'>\n"
                                "<meta name='viewport' content='width=device-width, initial-scale=1'>\n";
static const char kNameValueTable[] =
    "<table class='w3-table w3-striped'>\n<tr class='w3-pale-green'><th>Name</th><th>Value</th></tr>\n";
static const char *const kReportMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

/* ---- text helpers ------------------------------------------------------------------ */

static void AppendFormat(std::string *out, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
static void AppendFormat(std::string *out, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int length = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < (int)sizeof small) {
        if (length > 0) out->append(small, (size_t)length);
    } else {
        std::vector<char> big((size_t)length + 1);
        vsnprintf(big.data(), big.size(), format, copy);
        out->append(big.data(), (size_t)length);
    }
    va_end(copy);
}

static void WritePage(const std::string &text)
{
    if (gReportPage) sPageText += text;
}

void ReportPrintf(const char *format, ...)
{
    if (!gReportPage) return;
    va_list args;
    va_start(args, format);
    char text[2048];
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    WritePage(text);
}

void ReportWrite(const char *text)
{
    if (text) WritePage(text);
}

std::string EscapeHtml(const char *text)
{
    std::string out;
    for (const char *c = text ? text : ""; *c; c++) {
        switch (*c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\'': out += "&#39;"; break;
        case '"': out += "&quot;"; break;
        default: out += *c; break;
        }
    }
    return out;
}

/* A folder name as the path part of a link: characters a URL gives a meaning
** of its own are percent-encoded, then the text is escaped for the attribute. */
static std::string LinkPath(const char *name)
{
    std::string out;
    for (const char *c = name; *c; c++) {
        if (*c == '%' || *c == '#' || *c == '&' || *c == '\'' || *c == ';' || *c == '+') {
            char code[4];
            FormatText(code, sizeof code, "%%%02X", (unsigned char)*c);
            out += code;
        } else {
            out += *c;
        }
    }
    return out;
}

void MakeReportFolderName(int32_t number, const char *testName, char *out, int size)
{
    FormatText(out, (size_t)size, "%.4d_%s", number, testName ? testName : "");
    for (char *c = out; *c; c++) {
        const unsigned char u = (unsigned char)*c;
        if (u <= 32 || u > 127 || strchr("<>:\"/\\|?*", *c)) *c = '_';
    }
    /* Windows drops a name's trailing dots: the folder it makes would not be
    ** the one the mark names. */
    for (size_t n = strlen(out); n > 0 && out[n - 1] == '.'; n--) out[n - 1] = '_';
}

static void FormatPercent(double ratio, char out[NUMBER_TEXT_SIZE])
{
    FormatNumber(ratio, DISPLAY_PERCENT, 1, 0, nullptr, out);
}

/* The whole of a small file, without a message; 0 when it cannot be read. */
static int ReadSmallFile(const char *path, std::string *out)
{
    PlatFile file = PlatOpenFile(path, PLAT_OPEN_READ);
    if (!file) return 0;
    uint64_t size = 0;
    int ok = PlatGetFileSize(file, &size) && size < (1u << 24); /* a stylesheet is a few kilobytes */
    if (ok) out->resize((size_t)size);
    for (uint32_t done = 0, got = 0; ok && done < size; done += got)
        ok = PlatReadFile(file, &(*out)[done], (uint32_t)size - done, &got) && got > 0;
    PlatCloseFile(file);
    return ok;
}

/* The stylesheet the program ships beside itself goes into a reports folder
** that has none, so the reports read the same without a network.  It is
** saved as every file is, so a copy cut short never passes for the
** stylesheet and runs started together each put a whole one in place. */
static void ProvideStyleSheet()
{
    char source[PATH_SIZE], target[PATH_SIZE];
    FormatText(target, sizeof target, "%s\\w3.css", gReportsFolder);
    FormatText(source, sizeof source, "%s\\w3.css", gProgramFolder);
    if (PlatFileExists(target) || !PlatFileExists(source)) return;
    std::string sheet;
    if (ReadSmallFile(source, &sheet)) SaveFileQuietly(target, sheet.data(), (uint32_t)sheet.size());
}

static const char *StyleSheet(const char *inFolder)
{
    ProvideStyleSheet();
    char path[PATH_SIZE];
    FormatText(path, sizeof path, "%s\\w3.css", gReportsFolder);
    return PlatFileExists(path) ? inFolder : kPublicStyleSheet;
}

/* ---- cells and tables ------------------------------------------------------------- */

double HtmlStatCell(std::string *out, double value, double base, double divisor, int bold)
{
    const double ratio = base != 0 && divisor != 0 ? (value - base) / divisor : 0;
    char text[NUMBER_TEXT_SIZE];
    FormatPercent(ratio, text);
    AppendFormat(out, "<td%s>%s%s%s</td>", ratio < 0 ? kRedClass : "", bold ? "<b>" : "", text, bold ? "</b>" : "");
    return ratio;
}

double HtmlTextCell(std::string *out, double drawdown, double peak)
{
    const double ratio = peak != 0 ? drawdown / peak : 0;
    char text[NUMBER_TEXT_SIZE];
    FormatPercent(-ratio, text);
    AppendFormat(out, "<td>%s</td>", text);
    return ratio;
}

static const StatCell *CellOf(const TestRecord *test, int32_t row, int32_t strategy)
{
    return &test->cells[(int64_t)row * test->strategyCount + strategy];
}

static int32_t FilledRows(const TestRecord *test)
{
    if (!test->cells || test->strategyCount <= 0) return 0;
    return test->rowsFilled < test->rowCount ? test->rowsFilled : test->rowCount;
}

void WriteMonthlyGainsTable(const TestRecord *test, std::string *out)
{
    *out += "<h3 class='w3-container w3-pale-red'>Combined Monthly Percent Gains</h3>\n"
            "<div style='overflow-x:auto'>\n<table class='w3-table w3-striped'>\n<tr class='w3-pale-green'><th>YEAR</th>";
    for (const char *month : kReportMonths) AppendFormat(out, "<th>%s</th>", month);
    *out += "<th>TOTAL</th><th>MaxDD</th></tr>";

    const int32_t rows = FilledRows(test);
    const int32_t s = test->mainStrategy >= 0 && test->mainStrategy < test->strategyCount ? test->mainStrategy : 0;
    const bool compound = test->compounded != 0;
    double monthSum[13] = {}, drawdownSum = 0;
    int32_t monthCount[13] = {}, years = 0;
    double current = 0, monthStart = 0, yearStart = 0, peak = 0, maxDrawdown = 0, peakAtMax = 0;
    int32_t previousDate = 0;
    bool started = false;
    for (int32_t r = 0; r < rows; r++) {
        const StatCell *cell = CellOf(test, r, s);
        const int32_t date = (int32_t)cell->date;
        const double base = cell->allocation;
        /* A row whose date has no month has no column to go to. */
        if (date / 100 % 100 < 1 || date / 100 % 100 > 12) continue;
        if (!started) {
            started = true;
            AppendFormat(out, "<tr><th>%d</th>", date / 10000);
            for (int32_t m = 1; m < date / 100 % 100; m++) *out += "<td>n/a</td>";
            current = monthStart = yearStart = peak = compound ? 1.0 : base;
        } else if (date / 100 != previousDate / 100) {
            const int32_t month = previousDate / 100 % 100 - 1;
            const double ratio = HtmlStatCell(out, current, monthStart, compound ? monthStart : base, 0);
            monthSum[month] += ratio;
            monthCount[month]++;
            monthStart = current;
            /* Months without a date of their own (longer bars, a gap in the
            ** data) get a cell each, so every later value stands under its
            ** month. */
            const bool newYear = date / 10000 != previousDate / 10000;
            const int32_t nextMonth = newYear ? 12 : date / 100 % 100 - 1;
            for (int32_t m = month + 1; m < nextMonth; m++) *out += "<td>n/a</td>";
            if (newYear) {
                monthSum[12] += HtmlStatCell(out, current, yearStart, compound ? yearStart : base, 1);
                monthCount[12]++;
                drawdownSum += HtmlTextCell(out, maxDrawdown, compound ? peakAtMax : base);
                years++;
                maxDrawdown = 0;
                AppendFormat(out, "</tr>\n<tr><th>%d</th>", date / 10000);
                for (int32_t m = 1; m < date / 100 % 100; m++) *out += "<td>n/a</td>";
                yearStart = peak = current;
            }
        }
        current = compound ? cell->timeWeightedEquity : cell->cashInOut + cell->equityBase + cell->feesInOut +
                (test->strategies[s].markedToMarket ? cell->markToMarket : 0);
        if (current > peak) peak = current;
        if (peak - current > maxDrawdown) {
            maxDrawdown = peak - current;
            peakAtMax = peak;
        }
        previousDate = date;
    }
    if (started) {
        const double base = CellOf(test, rows - 1, s)->allocation;
        const int32_t month = previousDate / 100 % 100 - 1;
        const double ratio = HtmlStatCell(out, current, monthStart, compound ? monthStart : base, 0);
        monthSum[month] += ratio;
        monthCount[month]++;
        for (int32_t m = month + 1; m < 12; m++) *out += "<td>n/a</td>";
        monthSum[12] += HtmlStatCell(out, current, yearStart, compound ? yearStart : base, 1);
        monthCount[12]++;
        drawdownSum += HtmlTextCell(out, maxDrawdown, compound ? peakAtMax : base);
        years++;
    }
    *out += "</tr>\n<tr class='w3-pale-green'><th>AVG</th>";
    for (int32_t m = 0; m < 13; m++) {
        char text[NUMBER_TEXT_SIZE] = "n/a";
        if (monthCount[m]) FormatPercent(monthSum[m] / monthCount[m], text);
        AppendFormat(out, "<th%s><b>%s</b></th>", monthSum[m] < 0 ? kRedClass : "", text);
    }
    char average[NUMBER_TEXT_SIZE];
    FormatPercent(years ? -drawdownSum / years : 0, average);
    AppendFormat(out, "<td><b>%s</b></td></tr>\n</table>\n</div>\n", average);
}

static bool IsListedStrategy(const TestRecord *test, int32_t s)
{
    return test->strategies[s].name[0] != '_';
}

static double SeriesValue(const StatCell *cell, int kind)
{
    const double v = kind == 0 ? cell->netPercent : cell->drawdownPercent;
    return std::isfinite(v) ? v : 0;
}

static double Correlate(const TestRecord *test, int32_t a, int32_t b, int kind)
{
    const int32_t rows = FilledRows(test);
    if (rows <= 0) return 0;
    double sx = 0, sy = 0, sxy = 0, sxx = 0, syy = 0;
    for (int32_t r = 0; r < rows; r++) {
        const double x = SeriesValue(CellOf(test, r, a), kind), y = SeriesValue(CellOf(test, r, b), kind);
        sx += x;
        sy += y;
        sxy += x * y;
        sxx += x * x;
        syy += y * y;
    }
    const double n = rows, mx = sx / n, my = sy / n;
    const double vx = sxx / n - mx * mx, vy = syy / n - my * my;
    const double spread = std::sqrt(vx > 0 ? vx : 0) * std::sqrt(vy > 0 ? vy : 0);
    return spread != 0 ? (sxy / n - mx * my) / spread : 0;
}

static void StrategyColour(int32_t k, char out[8])
{
    const uint32_t colour = gGraphColours.colours[k % 9 + 1];
    FormatText(out, 8, "#%.2X%.2X%.2X", colour & 0xFF, colour >> 8 & 0xFF, colour >> 16 & 0xFF);
}

void WriteCorrelationTable(const TestRecord *test, int kind, std::string *out)
{
    AppendFormat(out,
                 "<p><div style='overflow-x:auto'><table class='w3-table' style='border:1px solid black'><tr "
                 "style='border-bottom:1px solid black'><td style = 'border-right:1px solid "
                 "black;text-align:center'><b>%s</b></td>\n",
                 kind == 0 ? "RETURNS" : "DRAWDOWNS");
    char colour[8];
    for (int32_t s = 0; s < test->strategyCount; s++) {
        if (!IsListedStrategy(test, s)) continue;
        StrategyColour(s, colour);
        AppendFormat(out, "<th scope='col' bgcolor=#F0F0F0 style='text-align:center;color:%s'>%s</th>", colour,
                     EscapeHtml(test->strategies[s].name).c_str());
    }
    *out += "</tr>\n";
    for (int32_t a = 0; a < test->strategyCount; a++) {
        if (!IsListedStrategy(test, a)) continue;
        StrategyColour(a, colour);
        AppendFormat(out,
                     "<tr><th scope='row' bgcolor=#F0F0F0 style='text-align:right;border-right:1px solid "
                     "black;color:%s'>%s</th>",
                     colour, EscapeHtml(test->strategies[a].name).c_str());
        for (int32_t b = 0; b < test->strategyCount; b++) {
            if (!IsListedStrategy(test, b)) continue;
            const double r = Correlate(test, a, b, kind);
            int red = 255, green = 255, blue = 255;
            if (r > 0) red = blue = (int)((1 - r) * 255);
            if (r < 0) green = blue = (int)((r + 1) * 255);
            AppendFormat(out, "<td bgcolor=#%.2X%.2X%.2X style='text-align:center'>%.2f</td>", red, green, blue, r);
        }
        *out += "</tr>\n";
    }
    *out += "</table>\n</div>\n";
}

/* ---- statistics -------------------------------------------------------------------- */

static const FormulaColumn *ResultsColumnAt(int32_t k)
{
    return &((const FormulaColumn *)gResultsColumns.items)[k];
}

void AppendStatLines(TestRecord *test, std::string *text)
{
    int part = 2;
    for (int32_t k = 0; k < gResultsColumns.count; k++) {
        const FormulaColumn *column = ResultsColumnAt(k);
        /* The summary statistics carry "|1" in their display hint, as the
        ** optimization summary reads them. */
        if (!column->barFlag || column->barNumber != 1) continue;
        char value[NUMBER_TEXT_SIZE];
        FormatNumber(EvalTestStat(test, RESULTS_OWN_STRATEGY, k, 1), column->format, column->decimals, 1,
                     test->currency, value);
        if (text) {
            AppendFormat(text, " | %s: %s", EscapeHtml(column->heading).c_str(), value);
        } else if (part <= gSettings.StatusBarFields + 1) {
            SetStatusText(part++, "%s: %s", column->heading, value);
        }
    }
}

static void WriteSummaryStats(TestRecord *test, std::string *out)
{
    *out += "<h3 class='w3-container w3-pale-red'>Summary Stats</h3>\n<div style='overflow-x:auto'>\n"
            "<table class='w3-table w3-striped'>\n<tr class='w3-pale-green'><th></th>";
    std::vector<int32_t> listed;
    bool benchmark = false, hidden = false;
    for (int32_t s = 0; s < test->strategyCount; s++) {
        const StrategyResult *r = &test->strategies[s];
        if (r->name[0] == '_' && test->strategyCount > 1) {
            hidden = true;
            continue;
        }
        listed.push_back(s);
        const bool isBenchmark = r->kind == STRATEGY_KIND_BENCHMARK;
        benchmark = benchmark || isBenchmark;
        AppendFormat(out, "<th>%s%s</th>", EscapeHtml(r->name).c_str(), isBenchmark ? "*" : "");
    }
    *out += "</tr>\n";
    for (int32_t k = 0; k < gResultsColumns.count; k++) {
        const FormulaColumn *column = ResultsColumnAt(k);
        if (column->format == 0) continue;
        AppendFormat(out, "<tr><th>%s</th>", EscapeHtml(column->heading).c_str());
        for (int32_t s : listed) {
            const double value = EvalTestStat(test, s, k, 1);
            char text[NUMBER_TEXT_SIZE];
            FormatNumber(value, column->format, column->decimals, 1, test->currency, text);
            AppendFormat(out, "<td%s>%s</td>", value < 0 ? kRedClass : "", text);
        }
        *out += "</tr>\n";
    }
    *out += "</table>\n</div>\n";
    if (benchmark) *out += "<p class='w3-right-align'><i>* benchmark strategies are not included in combined stats</i>\n";
    if (hidden)
        *out += "<p class='w3-right-align'><i>** strategies that start with an underscore are included but not "
                "listed</i>\n";
}

/* ---- the report -------------------------------------------------------------------- */

static int CountStrategySections(const TestRecord *test)
{
    int count = 0;
    for (int32_t s = 0; s < test->strategyCount; s++) count += test->strategies[s].kind == STRATEGY_KIND_STRATEGY;
    return count;
}

static void WriteSettingsSections(const TestRecord *test, std::string *out)
{
    const TestSettingsCopy *s = &test->settings;
    char account[NUMBER_TEXT_SIZE];
    FormatNumber(s->AccountSize, DISPLAY_CURRENCY, -1, 0, test->currency, account);
    const int32_t barSize = s->BarSize2 >= 0 && s->BarSize2 < BAR_SIZE_COUNT ? s->BarSize2 : BAR_DAILY;
    AppendFormat(out, "<h3 class='w3-container w3-pale-red'>Settings</h3>\n%s", kNameValueTable);
    char shown[2 * PATH_SIZE];
    AppendFormat(out, "<tr><th>Script</th><th>%s</th></tr>\n",
                 EscapeHtml(PathAsShown(TestScriptName(test), shown, sizeof shown)).c_str());
    AppendFormat(out, "<tr><th>Data File</th><th>%s</th></tr>\n",
                 EscapeHtml(PathAsShown(TestDataFileName(test), shown, sizeof shown)).c_str());
    AppendFormat(out, "<tr><th>Bar Size</th><th>%s</th></tr>\n", kBarSizeWords[barSize]);
    AppendFormat(out, "<tr><th>Use Available Bars</th><th>%s</th></tr>\n", s->useAvailableBars ? "True" : "False");
    AppendFormat(out, "<tr><th>Account Size</th><th>%s</th></tr>\n", account);
    *out += "</table>\n";
    if (test->parameterCount <= 0) return;
    AppendFormat(out, "<h3 class='w3-container w3-pale-red'>Parameters</h3>\n%s", kNameValueTable);
    for (int32_t p = 0; p < test->parameterCount; p++)
        AppendFormat(out, "<tr><th>%s</th><th>%g</th></tr>\n", EscapeHtml(test->parameters[p].name).c_str(),
                     test->parameters[p].value);
    *out += "</table>\n";
}

static void WriteScriptSection(const TestRecord *test, std::string *out)
{
    *out += "<h3 class='w3-container w3-pale-red'>Test Script</h3>\n<div style='overflow-x:auto'>\n"
            "<pre class='w3-code w3-responsive'>\n";
    const char *text = test->settings.scriptText;
    std::string script;
    for (uint32_t i = 0; i < test->settings.scriptTextLength && text[i]; i++)
        if (text[i] != '\r') script += text[i];
    *out += EscapeHtml(script.c_str());
    *out += "\n</pre>\n</div>\n";
}

static int CollectFile(const char *name, int isFolder, void *user)
{
    if (!isFolder) ((std::vector<std::string> *)user)->emplace_back(name);
    return 1;
}

/* The file a report writes first into its new folder, before anything else:
** the one sign that the program made the folder, so that only its own
** folders are ever numbered on from or removed.  It names the folder, so a
** copy of a report folder under another name is not taken for the program's. */
static const char kReportMarkName[] = "kestovar_report.txt";
static const char kReportMarkText[] = "Kestovar made this folder for its report %s.\r\n";
/* The line the mark gets once the report is finished (its page and its line
** in the list written): the folder of a finished report is never removed,
** whatever is deleted from it later.  (Marks of earlier versions have no
** such line.) */
static const char kReportMarkFinished[] = "Finished: %04d-%02d-%02d %02d:%02d:%02d\r\n";
enum { REPORT_MARK_FINISHED_LENGTH = 31 };

/* 1 for a name a report writes into its folder: its page, its line, its
** pictures, the program's mark and temporary files of them. */
static int IsReportFileName(const char *name)
{
    const char *temp = strstr(name, ".~kv");
    const size_t stem = temp ? (size_t)(temp - name) : strlen(name);
    const std::string base(name, stem);
    auto starts = [&](const char *p) { return CompareNoCaseN(base.c_str(), p, (int)strlen(p)) == 0; };
    auto ends = [&](const char *p) {
        return base.size() >= strlen(p) && CompareNoCase(base.c_str() + base.size() - strlen(p), p) == 0;
    };
    return CompareNoCase(base.c_str(), "index.html") == 0 || CompareNoCase(base.c_str(), "link.txt") == 0 ||
        CompareNoCase(base.c_str(), kReportMarkName) == 0 || ((starts("graph") || starts("plot")) && ends(".png")) ||
        starts("~kv") /* a temporary file of a long name */;
}

/* Writes the program's mark into the report folder it has just made (name
** is the folder's own name); 1, or 0 after reporting with nothing written. */
static int MarkReportFolder(const char *folder, const char *name)
{
    char path[PATH_SIZE + 32], text[PATH_SIZE + 64];
    FormatText(path, sizeof path, "%s\\%s", folder, kReportMarkName);
    const int length = FormatText(text, sizeof text, kReportMarkText, name);
    PlatFile file = !PathTooLong(path) ? PlatOpenFile(path, PLAT_CREATE_EXCLUSIVE) : nullptr;
    if (!file) {
        if (PathTooLong(path)) PlatSetLastError(PLAT_ERR_FILENAME_TOO_LONG);
        ReportError("Unable to create %s\r\n\r\n%s", path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (!WriteFileData(&file, text, (uint32_t)length, path)) {
        PlatDeleteFile(path);
        return 0;
    }
    PlatCloseFile(file);
    return 1;
}

/* Records in the mark of the report folder (name is the folder's own name)
** that its report is finished; 1, or 0 after reporting.  The mark is
** replaced whole or not at all: one that could not be rewritten stays as it
** was, and its folder, which has its line, is kept all the same. */
static int MarkReportFinished(const char *folder, const char *name)
{
    char path[PATH_SIZE + 32], text[PATH_SIZE + 128];
    FormatText(path, sizeof path, "%s\\%s", folder, kReportMarkName);
    PlatDateTime now;
    PlatGetLocalTime(&now);
    int length = FormatText(text, sizeof text, kReportMarkText, name);
    length += FormatText(text + length, sizeof text - (size_t)length, kReportMarkFinished, now.year, now.month,
                         now.day, now.hour, now.minute, now.second);
    return SaveFile(path, text, (uint32_t)length);
}

enum ReportMark { MARK_NONE, MARK_UNFINISHED, MARK_FINISHED };

/* What the mark in the folder name of the reports folder says: none when
** the folder holds no mark of the program's for that very folder (not a
** folder the program made for a report); unfinished when it says nothing
** more (also every mark of an earlier version). */
static ReportMark ReadReportMark(const std::string &name)
{
    char path[PATH_SIZE], expected[PATH_SIZE + 64], text[PATH_SIZE + 128];
    if (FormatText(path, sizeof path, "%s\\%s\\%s", gReportsFolder, name.c_str(), kReportMarkName) >= (int)sizeof path - 1)
        return MARK_NONE;
    const int length = FormatText(expected, sizeof expected, kReportMarkText, name.c_str());
    PlatFile file = PlatOpenFile(path, PLAT_OPEN_READ);
    if (!file) return MARK_NONE;
    uint32_t got = 0;
    const int read = PlatReadFile(file, text, sizeof text, &got);
    PlatCloseFile(file);
    if (!read || got < (uint32_t)length || memcmp(text, expected, (size_t)length) != 0) return MARK_NONE;
    if (got == (uint32_t)length) return MARK_UNFINISHED;
    const char *more = text + length;
    if (got - (uint32_t)length == REPORT_MARK_FINISHED_LENGTH && memcmp(more, "Finished: ", 10) == 0 &&
        memcmp(more + REPORT_MARK_FINISHED_LENGTH - 2, "\r\n", 2) == 0)
        return MARK_FINISHED;
    return MARK_NONE;
}

static int IsOwnReportFolder(const std::string &name) { return ReadReportMark(name) != MARK_NONE; }

/* Removes a report folder the program made: the files a report writes, its
** mark last, then the folder, which stays when anything else is in it. */
static void RemoveReportFolder(const char *folder)
{
    std::vector<std::string> names;
    char path[PATH_SIZE];
    FormatText(path, sizeof path, "%s\\*", folder);
    PlatListFolder(path, CollectFile, &names);
    for (const std::string &name : names) {
        if (!IsReportFileName(name.c_str()) || CompareNoCase(name.c_str(), kReportMarkName) == 0) continue;
        FormatText(path, sizeof path, "%s\\%s", folder, name.c_str());
        PlatDeleteFile(path);
    }
    FormatText(path, sizeof path, "%s\\%s", folder, kReportMarkName);
    PlatDeleteFile(path);
    PlatRemoveFolder(folder);
}

static int CollectFolder(const char *name, int isFolder, void *user)
{
    if (isFolder && name[0] != '.') ((std::vector<std::string> *)user)->emplace_back(name);
    return 1;
}

/* Windows lists a folder by name, letters compared as capitals (so '_'
** comes after every letter); the report list keeps that order everywhere,
** whatever order the file system keeps. */
static bool ListedBefore(const std::string &a, const std::string &b)
{
    for (size_t i = 0; i < a.size() && i < b.size(); i++) {
        const int x = toupper((unsigned char)a[i]), y = toupper((unsigned char)b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

/* The folders of the reports folder, by name. */
static std::vector<std::string> ListReportFolders()
{
    std::vector<std::string> folders;
    char pattern[PATH_SIZE];
    FormatText(pattern, sizeof pattern, "%s\\*", gReportsFolder);
    PlatListFolder(pattern, CollectFolder, &folders);
    std::sort(folders.begin(), folders.end(), ListedBefore);
    return folders;
}

/* The number of a report folder's name ("0012_name"): its leading digits,
** at least four, before a '_'; 0 for another name. */
static int32_t ReportFolderNumber(const std::string &name, size_t *digitsOut = nullptr)
{
    size_t digits = 0;
    int64_t number = 0;
    while (digits < name.size() && name[digits] >= '0' && name[digits] <= '9' && number < INT32_MAX / 10)
        number = number * 10 + (name[digits++] - '0');
    if (digitsOut) *digitsOut = digits;
    return digits >= 4 && digits < name.size() && name[digits] == '_' ? (int32_t)number : 0;
}

/* The highest number of the program's own report folders among folders, 0
** when there is none: a folder of another name (a user's "2024_notes", a
** report folder of an earlier version, which carries no mark) does not move
** the numbering on. */
static int32_t HighestReportFolderNumber(const std::vector<std::string> &folders)
{
    /* From the highest number down, so that mostly one mark is read. */
    std::vector<std::pair<int32_t, const std::string *>> numbered;
    for (const std::string &name : folders)
        if (const int32_t number = ReportFolderNumber(name)) numbered.emplace_back(number, &name);
    std::sort(numbered.begin(), numbered.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    for (const auto &[number, name] : numbered)
        if (IsOwnReportFolder(*name)) return number;
    return 0;
}

/* The mark a report's writer holds in the reports folder while it writes the
** report of number ("%.4d.~kvw", the folder name's number): it claims the
** number and tells later report runs that the folder's writer is still at
** work.  A writer that was killed holds its mark no longer. */
static void MakeWriterMarkPath(char *out, size_t size, const char *digits)
{
    FormatText(out, size, "%s\\%s.~kvw", gReportsFolder, digits);
}

/* 1 when a report's writer holds the mark of the digits: one that is there
** and held by no one is removed on the way. */
static int WriterAtWork(const char *digits)
{
    char mark[PATH_SIZE];
    MakeWriterMarkPath(mark, sizeof mark, digits);
    return PlatFileExists(mark) && !PlatDeleteUnusedFile(mark) && PlatLastError() == PLAT_ERR_SHARING_VIOLATION;
}

/* Lets go of a writer mark: removed while still held. */
static void ReleaseWriterMark(PlatFile *mark, const char *path)
{
    if (!*mark) return;
    PlatRemoveHeldFile(*mark, path);
    PlatCloseFile(*mark);
    *mark = nullptr;
}

/* 1 when every entry of the folder is a file a report writes (its page, its
** line, its pictures, its mark, temporary files of them). */
static int HoldsOnlyReportFiles(const char *folder)
{
    int others = 0;
    char pattern[PATH_SIZE];
    FormatText(pattern, sizeof pattern, "%s\\*", folder);
    PlatListFolder(pattern, [](const char *name, int isFolder, void *user) {
        if (isFolder || !IsReportFileName(name)) ++*(int *)user;
        return 1;
    }, &others);
    return others == 0;
}

/* Removes the report folders whose writers are gone before they wrote the
** report's line (killed, or the machine went down): numbered folders the
** program made (they hold its mark) whose mark does not say the report was
** finished, without link.txt, whose writer holds no number mark and that
** hold nothing but report files; says which it removed; and the number
** marks no one holds.  Any other folder is left as it is, whatever it
** holds. */
static void RemoveDeadReports()
{
    char path[PATH_SIZE];
    for (const std::string &name : ListReportFolders()) {
        size_t digits = 0;
        if (!ReportFolderNumber(name, &digits)) continue;
        FormatText(path, sizeof path, "%s\\%s\\link.txt", gReportsFolder, name.c_str());
        if (PlatFileExists(path)) continue;
        if (WriterAtWork(name.substr(0, digits).c_str())) continue;
        /* Its writer lets go of the mark only once the line is there. */
        if (PlatFileExists(path)) continue;
        FormatText(path, sizeof path, "%s\\%s", gReportsFolder, name.c_str());
        if (ReadReportMark(name) != MARK_UNFINISHED || !HoldsOnlyReportFiles(path)) continue;
        RemoveReportFolder(path);
        if (!PlatFolderExists(path)) LogPrintf("Removed %s, the folder of a report that was never finished.", path);
    }
    std::vector<std::string> marks;
    FormatText(path, sizeof path, "%s\\*.~kvw", gReportsFolder);
    PlatListFolder(path, CollectFile, &marks);
    for (const std::string &mark : marks) {
        FormatText(path, sizeof path, "%s\\%s", gReportsFolder, mark.c_str());
        PlatDeleteUnusedFile(path);
    }
}

/* Claims the next free report number for the test's folder and makes the
** folder new, holding the number's writer mark (*mark); 1, or 0 after
** reporting. */
static int MakeReportFolder(TestRecord *test, int32_t *numberOut, char *name, char *folder, PlatFile *mark,
                            char *markPath)
{
    /* The number goes on from the program's reports already there: an
    ** unattended run never saves the settings, and its report must not take
    ** an earlier one's folder.  A number another folder carries is passed
    ** over, so no two folders of the list share one. */
    std::vector<std::string> folders = ListReportFolders();
    const int32_t highest = HighestReportFolderNumber(folders);
    if (highest > gSettings.ReportNumber) gSettings.ReportNumber = highest;
    int32_t number = gSettings.ReportNumber;
    for (int tries = 0;; tries++) {
        number++;
        if (tries > 9999) {
            ReportError("Unable to create folder %s", folder);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        MakeReportFolderName(number, test->settings.TestName, name, PATH_SIZE);
        FormatText(folder, PATH_SIZE, "%s\\%s", gReportsFolder, name);
        for (size_t n = strlen(folder); n > 0 && folder[n - 1] == '\\'; n--) folder[n - 1] = 0;
        /* The number is claimed by its mark, made new; a mark no one holds
        ** is a killed writer's, and gives the number back. */
        char digits[16];
        FormatText(digits, sizeof digits, "%.4d", (int)number);
        MakeWriterMarkPath(markPath, PATH_SIZE, digits);
        *mark = PlatOpenFile(markPath, PLAT_CREATE_EXCLUSIVE);
        int code = *mark ? 0 : PlatLastError();
        if (!*mark && PlatFileExists(markPath)) {
            /* Held, it is another writer's number; removed, it was a killed
            ** writer's (or another run removed it meanwhile) and is tried
            ** again. */
            if (!PlatDeleteUnusedFile(markPath) && PlatLastError() == PLAT_ERR_SHARING_VIOLATION) continue;
            *mark = PlatOpenFile(markPath, PLAT_CREATE_EXCLUSIVE);
            code = *mark ? 0 : PlatLastError();
        }
        if (!*mark) {
            if (PlatFileExists(markPath)) continue; /* another writer's number */
            /* A mark made and lost before it was held: another run took it
            ** for a killed writer's and removed it.  The number is free. */
            if (code == PLAT_ERR_ALREADY_EXISTS || code == PLAT_ERR_FILE_EXISTS || code == PLAT_ERR_SHARING_VIOLATION) {
                number--;
                continue;
            }
            ReportError("Unable to create folder %s", folder);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        /* A writer that held the number before has made its folder by now. */
        folders = ListReportFolders();
        bool taken = false;
        for (const std::string &other : folders) taken = taken || ReportFolderNumber(other) == number;
        if (!taken && PlatCreateNewFolder(folder)) {
            /* The mark goes in before anything else: a folder without it is
            ** never the program's to remove. */
            if (MarkReportFolder(folder, name)) break;
            PlatRemoveFolder(folder);
            ReleaseWriterMark(mark, markPath);
            return 0;
        }
        code = PlatLastError();
        ReleaseWriterMark(mark, markPath);
        if (!taken && code != PLAT_ERR_ALREADY_EXISTS) {
            ReportError("Unable to create folder %s", folder);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
    }
    *numberOut = number;
    return 1;
}

/* The trade plots' section without the plots: their Monte Carlo table. */
static void WriteMonteCarloTableOnly(TestRecord *test)
{
    WriteReportMonteCarloTable(test, ReportWrite);
}

/* A section that writer fills with pictures or tables (null: a program that
** draws none of them); its heading stays only above what it wrote.  Without
** a title the writer's own headings stand alone. */
static void WriteFilledSection(const char *title, void (*writer)(TestRecord *test), TestRecord *test, std::string *out)
{
    WritePage(*out);
    out->clear();
    const size_t before = sPageText.size();
    if (title) AppendFormat(&sPageText, "<h3 class='w3-container w3-pale-red'>%s</h3>\n", title);
    const size_t heading = sPageText.size();
    if (writer) writer(test);
    if (sPageText.size() == heading) sPageText.resize(before);
}

int WriteTestReport(TestRecord *test)
{
    if (gReportPage || !test) return 0;
    /* The graphs and plots of the page let the window answer while they are
    ** drawn. */
    TestHold hold;
    RemoveDeadReports();
    int32_t number = 0;
    char name[PATH_SIZE];
    char folder[PATH_SIZE] = "";
    char markPath[PATH_SIZE];
    PlatFile mark = nullptr;
    if (!MakeReportFolder(test, &number, name, folder, &mark, markPath)) return 0;
    char page[PATH_SIZE];
    FormatText(page, sizeof page, "%s\\index.html", folder);
    if (!ClaimRunOutput(page, "the report") || !BeginReplaceFileWithMessage(&sPage, page, 0, "Unable to create %s")) {
        RemoveReportFolder(folder);
        ReleaseWriterMark(&mark, markPath);
        return 0;
    }
    gReportPage = sPage.file;
    sPageText.clear();
    CopyString(gReportFolder, sizeof gReportFolder, folder, -1);
    const std::string testName = EscapeHtml(test->settings.TestName);
    char first[DATE_TEXT_SIZE], last[DATE_TEXT_SIZE];
    FormatDefaultDate(test->settings.FirstDate, first);
    FormatDefaultDate(test->settings.LastDate, last);

    gHtmlReport = 1;
    std::string link;
    AppendFormat(&link, "<a class='w3-button w3-small' href='%s/index.html'>%d | <b>%s</b> | %s - %s",
                 EscapeHtml(LinkPath(name).c_str()).c_str(), number, testName.c_str(), first, last);
    AppendStatLines(test, &link);
    link += "</a>";
    link = PageText(link.data(), link.size());

    std::string out;
    AppendFormat(&out,
                 "<!DOCTYPE html>\n<!-- Generated by Kestovar.exe -->\n<html lang='en'>\n<head>\n<title>Test %d - "
                 "%s</title>\n%s<link rel='stylesheet' href='%s'>\n</head>\n<body style='max-width:%dpx;margin:auto' "
                 "class='w3-small'>\n<h3 class='w3-container w3-cell-row w3-blue-grey'><div class='w3-cell'>Report %d "
                 "| %s | %s - %s</div><a class='w3-cell w3-button w3-large' href='../index.html'>Report "
                 "List</a></h3>\n",
                 test->testNumber, testName.c_str(), kPageMeta, StyleSheet("../w3.css"), gSettings.ReportWidth, number,
                 testName.c_str(), first, last);
    const int strategySections = CountStrategySections(test);
    if (gSettings.ReportSettings) WriteSettingsSections(test, &out);
    if (gSettings.ReportStats) WriteSummaryStats(test, &out);
    if (gSettings.ReportMonthly && strategySections > 0) WriteMonthlyGainsTable(test, &out);
    if (gSettings.ReportCorrel && test->strategyCount >= 2) {
        out += "<h3 class='w3-container w3-pale-red'>Strategy Correlations</h3>\n";
        WriteCorrelationTable(test, 0, &out);
        WriteCorrelationTable(test, 1, &out);
    }
    gHtmlReport = 0;
    if (gSettings.ReportGraphs) WriteFilledSection("Daily Stats Graphs", gReportGraphWriter, test, &out);
    /* A program that draws no plots still has the numbers of their Monte
    ** Carlo table, which comes under its own heading: the plots' heading
    ** would stand over nothing. */
    if (gSettings.ReportPlots && strategySections > 0 && test->tradeCount >= 10) {
        if (gReportPlotWriter)
            WriteFilledSection("Trade Plots", gReportPlotWriter, test, &out);
        else
            WriteFilledSection(nullptr, WriteMonteCarloTableOnly, test, &out);
    }
    if (gSettings.ReportScript && test->settings.scriptText && test->settings.scriptTextLength > 1)
        WriteScriptSection(test, &out);
    out += "</body>\n</html>\n";
    WritePage(out);
    gReportPage = nullptr;
    gReportFolder[0] = 0;
    const std::string pageText = PageText(sPageText.data(), sPageText.size());
    int ok = WriteReplaceFile(&sPage, pageText.data(), (uint32_t)pageText.size()) && CommitReplaceFile(&sPage);
    AbandonReplaceFile(&sPage);
    sPageText = std::string();
    /* The report list's line is written once the page is there to link to.
    ** A report without its page or its line goes with its folder, and its
    ** number stays free. */
    if (gReportPageHeld) gReportPageHeld(folder);
    char linkPath[PATH_SIZE];
    FormatText(linkPath, sizeof linkPath, "%s\\link.txt", folder);
    if (!ok || !SaveFile(linkPath, link.data(), (uint32_t)link.size())) {
        RemoveReportFolder(folder);
        ReleaseWriterMark(&mark, markPath);
        return 0;
    }
    ReleaseWriterMark(&mark, markPath);
    gSettings.ReportNumber = number;
    if (!WriteReportsIndex(0)) ok = 0;
    /* Its page and its line are there (a list that failed lists it next
    ** time): the report is finished. */
    if (!MarkReportFinished(folder, name)) ok = 0;
    if ((!gRun.unattended || gSettings.ReportBatchDisp) && gOpenReportPage) gOpenReportPage(page);
    return ok;
}

void WriteRunReport(ResultsWindow *, TestRecord *test)
{
    WriteTestReport(test);
}

void ShowStatLines(TestRecord *test)
{
    if (!test) return;
    AppendStatLines(test, nullptr);
    /* These are the values of the date the run has reached, not the test's:
    ** they go again, so that the test's row is computed once the test ends
    ** (a results list takes a test with stored values for a computed one). */
    FreeMemory(&test->resultsValues);
    test->resultsValueCount = 0;
}

/* ---- the report list --------------------------------------------------------------- */

int WriteReportsIndex(int open)
{
    /* Writers of the list take turns, and each lists the reports there are
    ** while it holds the turn: the last list written lists every report
    ** finished before it, whichever writer finished first. */
    char path[PATH_SIZE];
    FormatText(path, sizeof path, "%s\\index.html", gReportsFolder);
    char guardPath[PATH_SIZE + 8];
    FormatText(guardPath, sizeof guardPath, "%s.~kvl", path);
    FileGuard guard;
    if (!TakeFileGuard(&guard, guardPath, 1, REPORT_LIST_WAIT_MS, gReportListBusy, path)) {
        ReportError("Unable to create %s\r\n\r\n%s", path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    std::string out;
    AppendFormat(&out,
                 "<!DOCTYPE html>\n<!-- Generated by Kestovar.exe -->\n<html lang='en'>\n<head>\n<title>Report "
                 "List</title>\n%s<link rel='stylesheet' href='%s'>\n</head>\n<body "
                 "style='max-width:%dpx;margin:auto;overflow-x:auto'>\n<h3 class='w3-container w3-blue-grey'>Report "
                 "List</h3>\n",
                 kPageMeta, StyleSheet("w3.css"), gSettings.ReportWidth);
    int listed = 0;
    for (const std::string &folder : ListReportFolders()) {
        char line[PATH_SIZE];
        FormatText(line, sizeof line, "%s\\%s\\link.txt", gReportsFolder, folder.c_str());
        PlatFile file = PlatOpenFile(line, PLAT_OPEN_READ);
        if (!file) continue;
        /* The whole first line: a cut line would leave its link open and
        ** swallow every report listed after it. */
        char text[4096] = "";
        uint32_t got = 0;
        PlatReadFile(file, text, sizeof text - 1, &got);
        PlatCloseFile(file);
        text[got] = 0;
        text[strcspn(text, "\r\n")] = 0;
        AppendFormat(&out, "%s<br>\n", text);
        listed++;
    }
    out += "</body>\n</html>\n";
    out = PageText(out.data(), out.size());
    if (!listed) gSettings.ReportNumber = 0;
    if (gReportListHeld) gReportListHeld(path);
    const int ok = ClaimRunOutput(path, "the list of reports") && SaveFile(path, out.data(), (uint32_t)out.size());
    ReleaseFileGuard(&guard);
    if (open && gOpenReportPage) gOpenReportPage(path);
    return ok;
}
