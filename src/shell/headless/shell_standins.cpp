/* shell_standins.cpp -- the window routines the data store calls, for programs
** without windows (the native build and the test programs): no panels, no
** frame, and a file chooser that is always cancelled.  The window program has
** the window shell's own (src/shell/win32/window_hooks.cpp). */
#include "marketdata/store/data_hooks.h"

void SettingsPanelToSettings() {}
void ShowSettingInPanel(int controlId) {}
void SetPanelDate(int controlId, int32_t date) {}
void *GetSettingsPanel() { return nullptr; }
void EnableSettingsPanelControls(int forceRunning) {}
void UpdateDebugPanelControls() {}
void UpdateBarCount(void *dialog) {}
void PostFrameRefresh() {}

/* Without a chooser every dialog counts as cancelled. */
int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension,
                  int save)
{
    return 0;
}
