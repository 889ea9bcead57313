/* settings_table.cpp -- the settings variables. */
#include "foundation/settings_table.h"

ProgramSettings gSettings = {
    .MaxMemPct = 95,
    .StatusBarFields = 4,
    .ShowStatusBar = 1,
    .PopupSeconds = 3,
};
