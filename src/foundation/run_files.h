/* run_files.h -- the record of one run's files, and the one check that every
** writer of a run passes before it opens anything.
**
** Owns:       gRunFiles: while a run goes on (BeginRunFiles .. EndRunFiles),
**             the files it reads (each with what it is to the run: "the
**             script", "the HolidayList", "a price file of the import") and
**             the files it has claimed to write.
** Filled:     as the run compiles, imports and opens its side files: the
**             whole-file readers of file_helpers note every file they read,
**             and the readers that open files themselves (the data file, an
**             import's price files) or that know what a file is to the run
**             note it by name.
** Rule:       a file the run reads is never replaced by it, and two outputs
**             of the run never share a file.  A file is both only under one
**             use: an output claimed under the same words as the input (the
**             results file its tests are added to, the script its walk
**             forward rewrites, the data file an import brings up to date).
**             Names compare as the system names files (SameRunFile): one
**             name written two ways, case in the Windows build, "..", another
**             path to the same folder, a symbolic link natively.
** Errors:     ClaimRunOutput reports a refusal naming both uses and sets the
**             file-error code (3); nothing else reports.
** Threads:    any thread (one lock).  Not a hot path: one note per file read,
**             one claim per file written.
*/
#pragma once

/* Starts a run's record, empty; EndRunFiles drops it.  The calls nest: the
** runs of one script's modes in a batch (an import, then its orders) are one
** run to the record, since what the import read the orders must not replace.
** Outside a run nothing is noted and every claim is granted: a file saved
** from a window is the user's own choice. */
void BeginRunFiles();
void EndRunFiles();
/* 1 while a run's record is kept. */
int RunFilesKept();

/* Notes a file the run reads.  what (null: "a file the run reads") says what
** it is to the run; a file noted again keeps its first words unless those
** were the generic ones. */
void NoteRunInput(const char *path, const char *what);

/* Asks before path is opened for writing as what (e.g. "the SaveTradesAs
** file"; claiming the same file again as the same output is granted).  0,
** after reporting "<What> would replace <input's what>, <path>." or "<What> and
** <other output> would be written to one file, <path>." and setting the
** file-error code, when the file is one the run reads under another use or
** another output of the run; nothing is then to be written to it. */
int ClaimRunOutput(const char *path, const char *what);

/* The same check for the outputs a run is about to make, before it writes
** any (paths[k] as whats[k]; an empty path is passed over): each against
** the inputs and outputs of the record and the ones before it in the list.
** Nothing is recorded: each writer still claims its file as it opens it.
** 1, or 0 after reporting the first clash as ClaimRunOutput does. */
int CheckPlannedRunOutputs(const char *const *paths, const char *const *whats, int count);

/* 1 when a and b are one file as the system names files: one name, one
** file reached by two names (for files that exist), or one name in one
** folder reached by two paths (for files not made yet). */
int SameRunFile(const char *a, const char *b);
