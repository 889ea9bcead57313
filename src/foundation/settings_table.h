/* settings_table.h -- the program's settings variables.
**
** Owns:       gSettings, one field per row of the settings table, named after the
**             row's key; history rows keep their 2048-byte list in a field named
**             key + "MRU".  The settings table binds each field to its section,
**             key, default, type and dialog control.
** Threads:    written on the UI thread only (loading, dialogs, a script's
**             settings sections); workers only read.
*/
#pragma once
#include <cstdint>

enum { SETTING_HISTORY_SIZE = 2048 };

struct ProgramSettings {
    /* [Settings] */
    char ActiveScript[260];
    char TestName[80];
    int32_t FirstDate;
    int32_t LastDate;
    /* [Options] */
    char ScriptPath[260];
    char DataPath[260];
    char OutputPath[260];
    int32_t CalcThreads;
    int32_t MaxMemPct;
    int32_t UseShortCircuit;
    char DateDisplayFormat[32];
    int32_t DateInputFormat;
    char Currency[40];
    int32_t MaxBackups;
    int32_t StatusBarFields;
    int32_t ShowBondPriceFractional;
    char UserDllPath[260];
    double NearZero;
    int32_t BarsHeldIncrPostClose;
    /* [MainWindow] */
    int32_t ShowStatusBar;
    int32_t PopupSeconds;
    /* history lists */
    char DataFileMRU[SETTING_HISTORY_SIZE];
    char RecentFilesMRU[SETTING_HISTORY_SIZE];
};

extern ProgramSettings gSettings;
