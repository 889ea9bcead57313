/* views_standins_win32.cpp -- what the list windows ask of windows that are
** not built yet.  Each is tagged STANDIN and names what replaces it. */
#include "views/win32/result_windows.h"

#include "foundation/dates.h"
#include "shell/services.h"

/* ====== replaced by the chart window (OpenChart) and the debug panel ====== */

/* STANDIN: the status bar names the chart the row asks for. */
void OpenRowChart(HWND owner, const char *symbol, int32_t date, int activate)
{
    char text[DATE_TEXT_SIZE] = "";
    FormatDefaultDate(date, text);
    SetStatusText(0, "Chart: %s %s", symbol, text);
}

/* STANDIN: the status bar names the row the debug panel would show. */
void ShowRowInDebugPanel(const char *symbol, int32_t date)
{
    char text[DATE_TEXT_SIZE] = "";
    FormatDefaultDate(date, text);
    SetStatusText(0, "Debug: %s %s", symbol, text);
}
