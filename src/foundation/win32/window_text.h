#pragma once
/* window_text.h -- window texts that show file names. */

#include <windows.h>

/* Sets a window's title, whose file names are UTF-8 (PlatWideFromText), so a
** name outside ASCII reads as the file it names in the title, the tab and the
** Window menu. */
void SetWindowTitle(HWND window, const char *title);
