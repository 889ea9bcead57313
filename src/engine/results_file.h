/* results_file.h -- the results file a list is loaded from and saved to,
** and a test record's stored image (the records' lifetime and the lists are
** results_list.h's).
**
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "engine/results_list.h"
#include "platform/platform.h"
#include "records/test_records.h"

/* The layout of the records being read: set from a file's header, or the
** current one for records made in memory. */
struct ResultsLayout {
    float version;
    int32_t legacy; /* version word 879.0 */
    int32_t recordSize, resultSize, cellSize, tradeSize;
};

enum { RESULTS_HEADER_SIZE = 32 };
extern const float kResultsFileVersion; /* 0.39 */

/* The expected record sizes of a header's version word (legacy words mapped);
** the parameter-value size is always 88. */
ResultsLayout GetResultsLayout(float versionWord);

/* Without a file: a new record with zeroed arrays sized for the counts; null
** when memory runs out.  With a file: the next stored test in the layout of
** the file being loaded (its counts checked against the bytes that remain and
** each other before anything is sized); null after reporting. */
TestRecord *ReadTestRecord(PlatFile file, int32_t parameterCount, int32_t strategyCount, int32_t rowCount,
                           int32_t itemCount);
/* Writes the record's stored image and arrays; on failure the handle is
** closed and set to null, the message names path; 1/0. */
int WriteTestRecord(PlatFile *pFile, const TestRecord *record, const char *path);
/* Rebuilds a version 0.24 record's daily changes and drawdowns. */
void ConvertTestRecordV024(TestRecord *record);
/* 1 to go on (saved, not modified, or declined), 0 when cancelled or the
** save failed. */
int QuerySaveResults(ResultsWindow *window, int ask);
/* Loads the results file into a window (create: a missing file is made
** empty first); 1, or 0 after reporting. */
int LoadResultsFile(const char *path, int create);
/* Saves the window's list to its results file; 1, or 0 after reporting.
** Saves of one results file by several programs or windows take turns (a
** guard file beside it, held while one saves).  When the file changed since
** the list last read or wrote it, the save merges: the file's tests as they
** are now, less those this list deleted, then this list's own new tests,
** numbered after the highest number so far; the list becomes that.  A file
** that cannot be read again is kept as it is: reported, result code 3, 0. */
int SaveResultsFile(ResultsWindow *window, int saveAs);
/* The number a new test of the window's list takes: one after the highest,
** or, when the highest is the largest a number can be, the smallest positive
** number no test of the list holds. */
int32_t NextTestNumber(const ResultsWindow *window);

/* Null, or called at these moments of a results file's saves and loads:
** where the programs' tests hold two programs that share one file.  Before a
** save takes the file; while a save holds the file's guard, before it reads
** or writes the file; the first time a save or load finds the guard held by
** another program; while a load holds the file open. */
extern void (*gBeforeResultsSave)(const char *path);
extern void (*gResultsGuardHeld)(const char *path);
extern void (*gResultsGuardBusy)(const char *path);
extern void (*gResultsLoadHeld)(const char *path);
