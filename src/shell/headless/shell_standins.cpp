/* shell_standins.cpp -- stand-ins for shell services whose windows are not
** built yet.  Each is declared in shell/services.h and tagged STANDIN; the
** window shell replaces it with the real routine of the same name and this
** file drops it.  Together they let the store, the script and unattended runs
** work without a window: no panel, no frame, a chooser that is always
** cancelled. */
#include "shell/services.h"

/* ==== replaced by the settings panel of the window shell ================================ */

void SettingsPanelToSettings() {}                      /* STANDIN: no panel, the settings stand */
void EnableSettingsPanelControls(int forceRunning) {}  /* STANDIN */
void *GetSettingsPanel() { return nullptr; }           /* STANDIN: no panel */
void ShowDataFileInPanel() {}                          /* STANDIN */
void SetPanelDate(int panelDate, int32_t date) {}      /* STANDIN */
void UpdatePanelBarCount() {}                          /* STANDIN */

/* ==== replaced by the debug panel of the window shell =================================== */

void UpdateDebugPanelControls() {}                     /* STANDIN */

/* ==== replaced by the frame window ========================================================= */

void PostFrameRefresh() {}                             /* STANDIN: no menu or toolbar */

/* ==== replaced by the file dialogs of the window shell ====================================== */

/* STANDIN: without a chooser every dialog counts as cancelled. */
int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension,
                  int save)
{
    return 0;
}

/* ==== replaced by the log window of the window shell ====================================== */

/* STANDIN: without a log window the file is left where it was written. */
int OpenLogFile(const char *path) { return path && path[0] ? 1 : 0; }

/* ==== replaced by the scan run of the result views ================================ */

/* STANDIN: no scan is run; the run answers failure. */
int RunScan()
{
    return -1;
}
