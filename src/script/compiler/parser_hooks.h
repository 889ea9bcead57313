/* parser_hooks.h -- what the script parser asks of the compile driver, the
** settings, import and strategy handlers and the name scan.
**
** Each routine belongs to the module that owns the thing it changes: the
** compile driver (compile_driver.cpp: gCompileSession, includes), the
** settings items (settings_items.cpp), the import items, the strategy records
** and side files, and the name tables (name_tables.cpp).
**
** Errors:     the handlers return 0 or a compile error code (of the one
**             compile error table); -1 means out of memory or an unresolvable
**             path (the parse then ends without a further message).
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "script/compiler/compiler_state.h"

struct StrategyRecord;

/* ---- the compile driver's per-compile state -------------------------------------- */

/* What the compile driver sets before it parses the first file. */
struct CompileSession {
    int32_t mode;                  /* run mode: 0 import, 1 apply, 2 scan, 3 test, 4 optimize, 5 orders */
    int32_t pass;                  /* 1 before the data file is loaded, 2 after */
    int32_t sectionFilter;         /* 0: all sections; else only this section may appear */
    int32_t collectText;           /* 1: the parser appends each file to the collected script text */
    int32_t sectionCounts[SECTION_COUNT];  /* headers met per section during this compile */
};
extern CompileSession gCompileSession;

/* Reads and parses one script file (resolved against the scripts folder) with
** the namespace buffer (64 characters) in force, following its includes; 1, or
** 0 after the failure was reported. */
int IncludeScriptFile(const char *path, char *nameSpace);
/* The path named on an include line, resolved; 1, or 0 when there is none. */
int ExtractIncludePath(const char *text, char *outPath);

/* ---- settings --------------------------------------------------------------------
** The test range and bar size are program settings (gSettings.FirstDate,
** LastDate, NumBars, UseEarliestDate, UseLatestDate, BarSize2); the two below
** belong to the settings that only a script gives. */

enum RunSetting {
    RUNSET_ALLOW_SAME_NAME,        /* AllowSameName of the script's settings */
    RUNSET_SCAN_NO_DEF_COLS,       /* ScanNoDefCols of the script's settings */
    RUNSET_COUNT
};
int32_t GetRunSetting(int which);
void SetRunSetting(int which, int32_t value);

/* Applies settings keyword index (its position in the settings keyword list)
** with the value (length characters; it ends at a comment).  0 or a compile
** error code, with the span to mark in *outOffset / *outLength (relative to
** value) when the code concerns part of the value. */
int ApplySettingsItem(int index, const char *value, int length, int *outOffset, int *outLength);

/* ---- import ------------------------------------------------------------------------ */

/* Applies import keyword index with its value; 0, a compile error code, or -1. */
int ApplyImportItem(int index, const char *value, int length, const char *nameSpace, int *outOffset, int *outLength);
/* Returns the import state and items to their empty form. */
void ResetImportState();

/* ---- strategies and parameters ------------------------------------------------------ */

/* Appends a reset record of kind with name; null with *outError 64 for a
** duplicate or reserved name, null with *outError 0 when memory runs out. */
StrategyRecord *AddStrategyRecord(int kind, const char *name, int *outError);
/* 0 when keyword is no strategy constant; -1 when the record is a StatsGroup
** or Combined; else the constant's table index + 1 with *outError (0 good)
** and *outLength, the length of the value word read. */
int ParseStrategyConstant(StrategyRecord *record, const char *keyword, const char *value, int length, int *outError,
                          int *outLength);
/* 0 or a compile error code with the offending name's span in the value. */
int ParseUsingList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength);
int ParseTLFieldsList(StrategyRecord *record, const char *text, int length, int *outOffset, int *outLength);
/* Adds or completes a Parameters or WalkForward line; 0, an error code, or -1. */
int AddParameterName(int section, const char *name, const char *nameSpace, const char *values, int length);
/* Loads a dated cash (fees 0) or fees (fees 1) list into the record; 1/0. */
int LoadCashFeesList(StrategyRecord *record, const char *path, int fees);

/* ---- names ------------------------------------------------------------------ */

/* The editor's name scan over a file (length <= 0) or a text of length
** characters; 1, or 0 when there is nothing to scan. */
int ScanScriptItemNames(const char *source, int32_t *counts, int length, CompilerState *state);
