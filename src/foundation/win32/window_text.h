#pragma once
/* window_text.h -- window texts that show file names, and texts typed into
** boxes.  The program's texts are UTF-8; the system's windows hold UTF-16.
** Every crossing goes through here (and PlatWideFromText), so a name outside
** ASCII reads as the file it names and one typed reaches the program as its
** letters. */

#include <windows.h>

#include <string>

/* Sets a window's title, whose file names are UTF-8 (PlatWideFromText), so a
** name outside ASCII reads as the file it names in the title, the tab and the
** Window menu. */
void SetWindowTitle(HWND window, const char *title);
/* Lets an MDI child of a narrow window procedure keep and hand out its title
** in the system's wide characters: asked or set by message (the caption, the
** Window menu, the tab), the title no longer passes through the code page
** ("???" for a Cyrillic name).  Every other message reaches the window's own
** procedure as before.  Once, after the child is created. */
void KeepTitleLetters(HWND child);
/* The same for the control id of a dialog (an edit box, a static). */
void SetItemText(HWND dialog, int id, const char *text);

/* An item of a combo box's list whose text holds a name in UTF-8. */
void AddComboText(HWND combo, const char *text);

/* A menu item (appended, or the item of command id replaced) whose text
** holds a name in UTF-8. */
void AppendMenuText(HMENU menu, UINT_PTR id, const char *text);
void ModifyMenuText(HMENU menu, UINT id, const char *text);

/* Opens a file, folder or address (UTF-8) with the program the system has
** for it, with parameters and in folder (either may be null), through the
** system's wide call, so a name outside the code page reaches it as its
** letters: 1, or 0 after saying why, naming what did not open (saying
** nothing when report is 0). */
int OpenWithSystem(HWND owner, const char *file, const char *parameters, const char *folder, int report = 1);
/* Shows a folder in the system's file browser ("explorer.exe folder"): 1,
** or 0 after naming the folder that does not exist or did not open. */
int ShowFolderInBrowser(HWND owner, const char *folder);
/* The system's opener (ShellExecuteW): a test puts a recorder in its place. */
extern HINSTANCE(WINAPI *gSystemOpener)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT);

/* A program's text (UTF-8; a text that is not reads as code page 1252) as the
** system's wide letters, for the wide calls that take a name or typed text. */
std::wstring WideFromText(const char *text);

/* A text (UTF-8) drawn at x, y in the device's font, and its width there,
** both through the wide calls: a name's letters draw as written, and the
** space laid out for it is the space it takes (measured narrow, each byte of a
** letter outside ASCII would count as a code-page letter of its own). */
void DrawTextWide(HDC dc, int x, int y, const char *text);
int TextWidthWide(HDC dc, const char *text);
/* The size TextWidthWide measures, with the line's height. */
SIZE TextExtentWide(HDC dc, const char *text);

/* A system text as the program's UTF-8. */
std::string TextFromWide(const WCHAR *wide);
/* The same into out: 1, or 0 with out empty when it does not fit. */
int TextFromWide(const WCHAR *wide, char *out, size_t size);
/* The same cut before the first letter that does not fit (never inside
** one): 1 when the whole text fits. */
int TextFromWideCut(const WCHAR *wide, char *out, size_t size);
/* A window's text (a box's typed text) as UTF-8 into out: 1, or 0 when the
** window is gone (out empty) or the text was cut to fit (before a whole
** letter). */
int GetWindowTitle(HWND window, char *out, size_t size);
int GetItemText(HWND dialog, int id, char *out, size_t size);
