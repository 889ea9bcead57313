/* data_hooks.h -- what loading, saving and unloading data ask of parts of the
** program that are filled in elsewhere: the compiled script, the settings and
** debug panels, the frame, the file chooser and the fundamentals field table.
**
** Defined by their owners: GetImportSectionText (here, from the script
** parser's kept Import section), FreeDataItemLists and SetDataRecalcNeeded
** (the data calculation, script/datacalc/data_calc.cpp), GetScriptDateSym
** (the settings items) and LoadMissingDefaultScripts (the compile driver).
** The fundamentals hooks (here) work on the field table of the Import items.
** Window routines: the settings panel, debug panel, frame refresh and file
** chooser are the window shell's (src/shell/win32/window_hooks.cpp); programs
** without windows link src/shell/headless/shell_standins.cpp, where each does
** nothing (no panel, a chooser that is always cancelled), so the store works
** on its own and in unattended runs.
** Threads:    UI thread only.
*/
#pragma once
#include <cstdint>

#include "foundation/folder_helpers.h"   /* BrowseForFile */
#include "marketdata/store/symbols.h"

/* ---- compiled script ------------------------------------------------------------ */

/* The text of the compiled script's Import section, or null when it has none. */
const char *GetImportSectionText();
/* The script setting DateSym: a 1-based symbol number, 0 = none. */
int32_t GetScriptDateSym();
/* Frees the compiled script's Data and TestData item lists (their items hold
** per-symbol values) and sets their counts, the parameter count and the
** walk-forward date count to 0. */
void FreeDataItemLists();
/* Marks every Data item for recalculation. */
void SetDataRecalcNeeded();
/* Compiles the default section scripts whose sections are empty; 1, or 0 when
** one fails to compile. */
int LoadMissingDefaultScripts();

/* ---- window shell stand-ins: panels, frame, status bar, chooser ------------------------ */

enum {
    SETTINGS_PANEL_DIALOG = 215,
    IDC_DATA_FILE = 1031,
    IDC_FIRST_DATE = 1043,
    IDC_LAST_DATE = 1079
};

/* Reads the settings panel's controls into the settings variables. */
void SettingsPanelToSettings();
/* Shows one setting (by its control id) in the settings panel. */
void ShowSettingInPanel(int controlId);
/* Sets one of the settings panel's date pickers. */
void SetPanelDate(int controlId, int32_t date);
/* The settings panel window (null when there is none). */
void *GetSettingsPanel();
/* Enables or greys the settings panel's controls; with forceRunning the panel
** is refreshed as if a task were running. */
void EnableSettingsPanelControls(int forceRunning);
/* Enables or greys the debug panel's buttons. */
void UpdateDebugPanelControls();
/* Clamps the panel's dates to the loaded data and shows the bar count. */
void UpdateBarCount(void *dialog);
/* Asks the frame to refresh its menu and toolbar. */
void PostFrameRefresh();

/* ---- fundamentals field table ----------------------------------------------------- */

/* Rows of the fundamentals field table (its end row not counted); a stored
** field id is a row index and must be below this. */
uint32_t FundamentalFieldCount();
/* Marks one row of the fundamentals field table as present in the data. */
void MarkFundamentalFieldPresent(uint32_t fieldId);
/* Clears the present mark of every row. */
void ClearFundamentalFieldsPresent();
