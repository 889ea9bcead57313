/* test_report.h -- the summary report of one test: a folder under the
** reports folder with index.html (settings, parameters, summary statistics,
** monthly gains, strategy correlations, statistics graphs, trade plots, the
** script) and link.txt, and the report list (index.html of the reports
** folder) that links every report.
**
** Owns:       the open report page (gReportPage and its folder): while it is
**             set, a second report request returns at once, and the graph and
**             plot writers put their PNG files into the folder and their image
**             tags into the page through ReportPrintf and ReportWrite.
** Text:       the pages are UTF-8, and say so.  The program's texts are
**             8-bit: those that hold UTF-8 (a script saved so) pass as they
**             are, every other byte is read as Windows-1252 (PageText).
**             Every text a user or a script chose (names of scripts, tests,
**             strategies, columns, parameters, the script itself) is
**             escaped, so it shows as typed and never as markup.
** Style:      the pages use W3.CSS 4: "w3.css" in the reports folder, which
**             a report puts there from the program's folder when it is
**             missing; the public copy only when neither folder has one.
** Files:      every report gets a new folder of its own: a number another
**             run took first, or any folder of the reports folder carries,
**             moves it on to the next.  The first file of a new folder is the
**             program's mark (kestovar_report.txt, naming the folder): the
**             numbering goes on from the marked folders alone, and only a
**             marked folder left without its line by a report run that was
**             killed is ever removed (saying so in the log), with nothing
**             but the files a report writes in it.  The page, link.txt and
**             the report list each replace the old file of that name only
**             once complete.  The page's text is kept until the report is
**             complete and written at once; its link.txt follows only a page
**             that was written, and a report left without either is removed
**             with its folder.  The report list names the reports by folder
**             name, as Windows lists a folder.
** Errors:     a folder whose parent is missing: "Unable to create folder %s"
**             (result code 3); a page that cannot be created: "Unable to
**             create %s"; any other file that cannot be written is reported by
**             the file helpers (result code 3).  ReportNumber moves on only
**             for a report written with its link.txt.
** Threads:    UI thread.
*/
#pragma once
#include <cstdint>
#include <string>

#include "foundation/utf8_text.h"
#include "platform/platform.h"

struct TestRecord;

/* The page being written, null when none, and its folder. */
extern PlatFile gReportPage;
extern char gReportFolder[PATH_SIZE];

/* Writers of the Daily Stats Graphs and Trade Plots sections, installed by
** the windows that draw them; each writes its PNG files into gReportFolder
** and its image tags into the page (ReportPrintf).  Null (a program that
** draws no pictures): the Daily Stats Graphs section is left out, and Trade
** Plots holds the Monte Carlo table of its plots alone. */
extern void (*gReportGraphWriter)(TestRecord *test);
extern void (*gReportPlotWriter)(TestRecord *test);
/* Opens a written page with the system's default handler; null: not opened. */
extern void (*gOpenReportPage)(const char *path);
/* Null, or called while a report is written (its folder made, its line in
** the report list not yet), while the report list is being replaced (its
** reports listed, the file not yet in place), and the first time a report
** list's writer finds another writing it: where the programs' tests hold
** report runs. */
extern void (*gReportPageHeld)(const char *folder);
extern void (*gReportListHeld)(const char *path);
extern void (*gReportListBusy)(const char *path);

/* Appends formatted text to the open page (nothing when none is open). */
void ReportPrintf(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
/* Appends text as it is to the open page (for writers that format their own). */
void ReportWrite(const char *text);
/* The page bytes of program text: PageText (foundation/utf8_text.h). */
/* text with & < > ' " written as character references. */
std::string EscapeHtml(const char *text);
/* "%.4d_%s" of the number and the name, with blanks, control characters,
** bytes above 127 and the characters file names forbid turned to '_'. */
void MakeReportFolderName(int32_t number, const char *testName, char *out, int size);

/* Writes the report of the test and opens it (always when a user is there,
** unattended only with ReportBatchDisp); 1, or 0 after reporting (also when
** the page was written but its link.txt or the report list was not), or 0
** at once when a report is being written. */
int WriteTestReport(TestRecord *test);
/* The run's hand-offs: the report of a test just run (its results list is
** not needed), and the summary statistics of a test still running in the
** status bar (they leave nothing stored with the test). */
struct ResultsWindow;
void WriteRunReport(ResultsWindow *window, TestRecord *test);
void ShowStatLines(TestRecord *test);
/* Rewrites the report list; with open 1 opens it.  1, or 0 after reporting
** that the list cannot be written (the old list stays). */
int WriteReportsIndex(int open);
/* " | %s: %s" of each summary statistic into the text; with no text, the
** statistics go to the status bar from part 2 on. */
void AppendStatLines(TestRecord *test, std::string *text);

/* The report's table cells: the ratio (value - base) / divisor (0 when base
** is 0) as a percent with 1 decimal, red when negative, bold on request; and
** the negated ratio drawdown / peak (0 when peak is 0).  Each returns the
** ratio and appends the cell to out. */
double HtmlStatCell(std::string *out, double value, double base, double divisor, int bold);
double HtmlTextCell(std::string *out, double drawdown, double peak);
/* The Combined Monthly Percent Gains table of the test's results strategy. */
void WriteMonthlyGainsTable(const TestRecord *test, std::string *out);
/* The correlation table of the listed strategies: kind 0 daily returns, kind
** 1 current drawdowns.  A coefficient of exactly 0 is drawn white, where both
** ends of the colour scale meet. */
void WriteCorrelationTable(const TestRecord *test, int kind, std::string *out);
