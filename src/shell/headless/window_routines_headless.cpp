/* window_routines_headless.cpp -- the window routines that the core calls,
** for programs without windows (the native build and the test programs):
** each does what is left to do where nothing can be shown.  The window
** program has the window shell's own (src/shell/win32/). */
#include "shell/headless/headless.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "services/services.h"

/* ---- panels, frame and file chooser: no windows, so nothing to show -------------- */

void SettingsPanelToSettings() {}
void ShowDataFileInPanel() {}
void ShowActiveScriptInPanel() {}
void ShowKeepTradesInPanel() {}
void SetPanelDate(int panelDate, int32_t date) {}
void *GetSettingsPanel() { return nullptr; }
void EnableSettingsPanelControls(int forceRunning) {}
void UpdateDebugPanelControls() {}
void UpdatePanelBarCount() {}
void PostFrameRefresh() {}

/* Without an editor the span stays in gLastFormulaError for tests. */
void ShowScriptSpan(const char *path, int32_t offset, int32_t length) {}

/* Without panels only the run state and the status bar and title show it. */
void SetTestRunning(int state)
{
    ShowRunState(state);
}

/* Without a chooser every dialog counts as cancelled, unless a test has
** given the answer. */
int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension,
                  int save)
{
    if (!gHeadless.chooserAnswer[0]) return 0;
    CopyString(path, PATH_SIZE, gHeadless.chooserAnswer, -1);
    return 1;
}

/* Without a log window the file is left where it was written; the request is kept for tests. */
int OpenLogFile(const char *path)
{
    if (!path || !path[0]) return 0;
    NoteShownFile("log", nullptr, path);
    return 1;
}


/* ---- optimizer dialog: without windows the settings stay as they are ------------- */

#include "engine/optimizer.h"

int RunOptimizerDialog()
{
    return 1;
}
