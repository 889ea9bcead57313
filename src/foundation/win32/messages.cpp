/* messages.cpp -- the wait cursor and the formatted texts of dialog items and
** menu items. */
#include <windows.h>

#include <cstdarg>

#include "foundation/errors.h"
#include "foundation/win32/window_text.h"
#include "foundation/text_match.h"
#include "services/services.h"

void SetWaitCursor(int on)
{
    if (on) {
        if (gMessageState.waitNesting++ > 0) return;
        gMessageState.previousCursor = SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_WAIT));
        ShowCursor(TRUE);
        SetCapture(GetActiveWindow());
        return;
    }
    /* A close without an open is ignored, so the next open still shows the cursor. */
    if (gMessageState.waitNesting <= 0) return;
    if (--gMessageState.waitNesting > 0) return;
    ReleaseCapture();
    SetCursor((HCURSOR)gMessageState.previousCursor);
}

void SetDlgTextF(void *dialog, int controlId, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    SetItemText((HWND)dialog, controlId, text); /* a path it names shows its letters */
}

void SetMenuText(void *menu, int item, const char *format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    MENUITEMINFOA info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text;
    SetMenuItemInfoA((HMENU)menu, (UINT)item, item < 100, &info);
}
