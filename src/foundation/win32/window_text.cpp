#include "foundation/win32/window_text.h"

#include "platform/platform.h"

void SetWindowTitle(HWND window, const char *title)
{
    WCHAR wide[1024];
    if (!PlatWideFromText(title ? title : "", wide, (int)(sizeof wide / sizeof wide[0]))) {
        SetWindowTextA(window, title ? title : "");
        return;
    }
    SetWindowTextW(window, wide);
}
