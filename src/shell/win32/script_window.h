/* script_window.h -- script windows: MDI children of class "KestovarScript"
** holding one editor (editor_host.h) on a script file, a new untitled script
** or the read-only script of a test; opening, saving with numbered backups,
** closing with prompts, titles and the active script.
**
** Owns:       the folder last used for script files.
** Threads:    UI thread only.
** Platform:   Windows only.
*/
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "views/win32/view_windows.h"

struct TestRecord;

/* OpenScript, which the views' windows call too, is declared in
** views/win32/view_windows.h. */

/* The first script window showing path (case ignored) or test; activated
** (restored when minimised) with activate. */
HWND FindScriptWindow(const char *path, int activate, TestRecord *test);
int QuerySaveScript(HWND window, int ask);
/* QuerySaveScript on every script window; 0 when one was cancelled. */
int QuerySaveScripts(int ask);
int LoadScriptText(HWND window, const char *path);
int WriteScriptText(HWND window, const char *path);
void UpdateScriptTitles();
void SetActiveScript(const char *name);
int GetFileAtCaret(HWND window, char *outPath);
LRESULT CALLBACK ScriptWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ScriptCommand(HWND window, int commandId);

/* Find In Files (find_in_files.cpp): the single modeless dialog opens or
** comes forward; the searches fill its tree and return their hit counts. */
void OpenFindInFiles();
int SearchFolderForText(const char *folder, HWND tree, HTREEITEM parent);
int SearchFileForText(const char *folder, HWND tree, HTREEITEM parent);
/* Opens the selected hit of the tree in a script window at its line. */
int OpenFindInFilesHit(HWND dialog);
INT_PTR CALLBACK FindInFilesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
