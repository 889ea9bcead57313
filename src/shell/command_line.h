/* command_line.h -- the program's command line: the settings file and the
** unattended flags before initialisation, and the batch of runs after it.
**
** A batch names groups of run-mode switches, each followed by the scripts the
** group runs; every script runs its flagged modes through the run driver in
** the fixed order of the switch table, and the batch ends with an exit code a
** scheduler can test (0 all runs succeeded, 1 unknown switch, 3 a file that
** cannot be reached, else the sticky result code of the failed run).  A run
** that succeeded but could not write a file (results file, export, report,
** positions CSV, ...) does not end the batch; the batch ends with the sticky
** code that failure set.  A stop ends the batch after the run it stopped,
** with 8: no later run starts, so no later run's files are touched.
** The passes take the line as a whole (the window program) or as the
** arguments a program got one by one (the native program); a path is never
** cut, and one too long for the program is refused.
** Owns:       gCommandLine (the exit-after-batch flag).
** Reads:      gRun.unattended is set here; gSettingsFile receives "-inifile".
** Errors:     through ReportError, which goes to errorlog.txt once unattended.
** Threads:    UI thread only.
*/
#pragma once
#include <string>
#include <vector>

#include "platform/platform.h"

/* The batch switches, one per run mode, in run order. */
struct BatchSwitch {
    const char *name;
    int runMode;
};
enum { BATCH_SWITCH_COUNT = 6 };
extern const BatchSwitch kBatchSwitches[BATCH_SWITCH_COUNT];

struct CommandLineState {
    int exitAfterBatch; /* the process ends once the batch is done */
};
extern CommandLineState gCommandLine;

/* The command line split into its tokens: runs of non-blanks, or the text
** between double quotes without them; empty tokens ("") left out.  No token is
** cut, so an over-long path is refused whole by whoever takes it rather than
** read as a shorter file's name. */
void SplitCommandLine(const char *commandLine, std::vector<std::string> *tokens);
/* Copies a path token into path[PATH_SIZE]; 0 after reporting one that does not
** fit, so that no other file is reached under a cut name. */
int CopyPathToken(char path[PATH_SIZE], const char *token);

/* The first pass, before initialisation: clears then sets the unattended and
** exit-after-batch flags, takes the "-inifile" path into gSettingsFile.
** 1 ok (a null line too), 0 after reporting (result code 3 when the settings
** file cannot be accessed). */
int ParseCommandLineOptions(const char *commandLine);
int ParseCommandArguments(int count, const char *const *args);

/* 1 when the batch of the command line would run no script and report
** nothing: no script follows a group with a run mode, and no switch is
** unknown ("-scan" alone, "-test \"\"", an empty line). */
int BatchRunsNothing(const char *commandLine);
int BatchArgumentsRunNothing(int count, const char *const *args);
/* 1 when an "-inifile" has no path after it: a mistake in the line, which
** gets the usage rather than a report about an empty path. */
int SettingsFileMissing(int count, const char *const *args);
/* The usage text both programs give a line that runs nothing (exit code 1);
** %s is the program's name. */
extern const char kBatchUsage[];

/* The second pass: runs every group's modes on its scripts; the exit code
** (the sticky result code at the end of the line: 0 when nothing failed).
** A stop asked before a run (gRun.stopAsked, which the caller clears where
** its batch begins) starts no run and ends the batch with 8. */
int RunBatchCommandLine(const char *commandLine);
int RunBatchArguments(int count, const char *const *args);

/* Null, or called before each run of a batch with the runs started so far
** (0 before the first): where the native program's tests hold a batch. */
extern void (*gBeforeBatchRun)(int runIndex);
