/* settings_table.cpp -- the settings variables. */
#include "foundation/settings_table.h"

ProgramSettings gSettings = {
    .MaxMemPct = 95,
    .UseShortCircuit = 1,
    .StatusBarFields = 4,
    .NearZero = 1.0e-13,
    .ShowStatusBar = 1,
    .PopupSeconds = 3,
};
