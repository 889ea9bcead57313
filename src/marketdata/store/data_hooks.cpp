/* data_hooks.cpp -- stand-ins for the services data_hooks.h names, used until
** the real ones are written: no script, no panels, no file chooser.  Each does
** nothing. */
#include "marketdata/store/data_hooks.h"

const char *GetImportSectionText() { return nullptr; }
void FreeDataItemLists() {}
void SetDataRecalcNeeded() {}

void SettingsPanelToSettings() {}
void ShowSettingInPanel(int controlId) {}
void SetPanelDate(int controlId, int32_t date) {}
void *GetSettingsPanel() { return nullptr; }
void EnableSettingsPanelControls(int forceRunning) {}
void UpdateDebugPanelControls() {}
void UpdateBarCount(void *dialog) {}
void PostFrameRefresh() {}

void GetStatusText(int part, char *out, int size)
{
    if (size > 0) out[0] = 0;
}

/* Without a chooser every dialog counts as cancelled. */
int BrowseForFile(char *path, char *folder, const char *title, const char *typeName, const char *extension,
                  int save)
{
    return 0;
}

uint32_t FundamentalFieldCount() { return 0; }
void MarkFundamentalFieldPresent(uint32_t fieldId) {}
void ClearFundamentalFieldsPresent() {}
