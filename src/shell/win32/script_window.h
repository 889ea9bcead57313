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

struct TestRecord;

/* The script a run is using right now ("" when none); set by the run driver. */
extern char gRunningScript[260];

/* Opens path (null or "(untitled)": a new script from the newscript
** template) or the script of test; 1 or 0. */
int OpenScript(const char *path, TestRecord *test);
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
