/* run_driver.h -- the one entry of every run of the active script: import,
** check and apply, scan, test, optimize and orders.
**
** RunScript saves the settings, compiles the script in two passes around the
** data load, imports when asked, links currencies, then does the mode's work;
** the three test modes run their tests into the first open results list.
** Lasting:    whatever the run does or fails at, it ends by putting back the
**             settings the script's Settings section changed (the current
**             DataFile, ActiveScript, bar size, use-available-bars flag and
**             run mode carry over, so an import keeps the data file it saved),
**             showing and clearing the pending script runtime error, and
**             returning the run state to idle and the run mode to 1.
** Errors:     0 success, -1 failure (a scan answers its own result); the
**             sticky result code is set as the failure table of each step says.
**             A run that leaves a script runtime error to show failed, in
**             every mode.
** Threads:    UI thread only.
*/
#pragma once
#include <cstddef>
#include <cstdint>

#include "records/test_records.h"
#include "services/services.h"

/* Runs the active script in mode. */
int RunScript(int mode);
/* The run time a run ends with, "Time: hh:mm:ss.mmm", of milliseconds. */
void FormatRunTime(uint64_t milliseconds, char *out, size_t size);
/* The run's parameter values (parameters whose names start with '_' left
** out) into values when given; their number. */
int32_t CollectParamValues(ParamValue *values);
/* Checks that path ends in .csv and fits a path's 259 letters after its macros are
** expanded; 1 with outPath, 0 after reporting ("Stats", "Trades" or
** "Positions" names the setting).  A refused path is an export the run could
** not write: the result code becomes the file error, and the run goes on. */
int CheckSaveAsCsvPath(char *outPath, const char *path, const char *kind);
