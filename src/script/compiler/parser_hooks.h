/* parser_hooks.h -- what the script parser asks of the compile driver, the
** settings, import and strategy handlers and the name scan.
**
** The per-compile session record and the script-only run settings are
** declared here; every other routine the parser calls is declared by the
** module that owns it (compile_driver.h, settings_items.h, import_items.h,
** strategy.h, side_files.h, name_tables.h), which this header includes.
**
** Errors:     the handlers return 0 or a compile error code (of the one
**             compile error table); -1 means out of memory or an unresolvable
**             path (the parse then ends without a further message).
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "script/compiler/compile_driver.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/import_items.h"
#include "script/compiler/name_tables.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/script_state.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"


/* ---- settings --------------------------------------------------------------------
** The test range and bar size are program settings (gSettings.FirstDate,
** LastDate, NumBars, UseEarliestDate, UseLatestDate, BarSize2); the two below
** belong to the settings that only a script gives. */

enum RunSetting {
    RUNSET_ALLOW_SAME_NAME,  /* AllowSameName of the script's settings */
    RUNSET_SCAN_NO_DEF_COLS, /* ScanNoDefCols of the script's settings */
    RUNSET_COUNT
};
int32_t GetRunSetting(int which);
void SetRunSetting(int which, int32_t value);
