/* editor_host.h -- every text editor of the program is an editor component
** control driven from here: script windows, log windows and single editors
** inside dialogs (the debug panel's formula box and others).
**
** Use in a dialog:   AttachEditor(dialog, controlId, &gScriptEditorSettings)
**                    on WM_INITDIALOG (the control is of class "Scintilla");
**                    ApplyEditorSettings(dialog) for the script look;
**                    WM_NOTIFY from the control -> OnEditorNotify(dialog,
**                    (SCNotification *)lParam); EditorCall(dialog, SCI_...)
**                    to talk to it; DetachEditor(dialog) on WM_DESTROY.
**                    The dialog's GWLP_USERDATA slot belongs to the record:
**                    after the options dialog the debug panel's formula
**                    editor (control 1047) is detached and bound again.
** Owns:       the "Script" and "Log" EditorSettings, the zoom guard.  The
**             user's script style table is the settings table's gEditorStyles.
** Record:     one EditorRecord per host window, in its GWLP_USERDATA slot.
** Threads:    UI thread only.
** Platform:   Windows only.
*/
#pragma once
#include <windows.h>
#include <commdlg.h>

#include <cstdint>

#include "platform/platform.h"
#include "views/win32/view_windows.h"

struct TestRecord;
struct CompilerState;
struct SCNotification;

enum { EDITOR_STYLE_COUNT = 22,
       EDITOR_CONTROL_ID = 999,
       EDITOR_STYLE_DEFAULT = 32,
       EDITOR_STYLE_BRACE = 34,
       EDITOR_HIGHLIGHT_INDICATOR = 8,
       EDITOR_TEXT_SIZE = 256 };

struct EditorStyleEntry {
    COLORREF colour;
    uint32_t bold;
    uint32_t italic;
    uint32_t reserved[5];
};

struct EditorSettings {
    char name[16]; /* "Script" or "Log" */
    int32_t x, y, width, height;
    int32_t tabWidth;
    int32_t fontHeight; /* points */
    char fontName[32];
    COLORREF foreground, background, caret;
    EditorStyleEntry styles[EDITOR_STYLE_COUNT];
    int32_t styleCount;
};
extern EditorSettings gLogEditorSettings;

struct EditorRecord {
    char path[PATH_SIZE]; /* "" untitled */
    HWND editor;
    void *directFunction;
    void *directPointer;
    HWND findDialog;
    /* The Find and Replace texts as typed, in UTF-8 as the editor holds its
    ** text (up to three bytes a letter); the dialog's own, as it writes them. */
    char findText[EDITOR_TEXT_SIZE * 3];
    char replaceText[EDITOR_TEXT_SIZE * 3];
    WCHAR findTyped[EDITOR_TEXT_SIZE];
    WCHAR replaceTyped[EDITOR_TEXT_SIZE];
    FINDREPLACEW findReplace;
    EditorSettings *settings;
    char *textBuffer;
    int32_t textBufferSize;
    uint32_t opened;
    uint32_t modified;
    uint32_t inDialog;
    uint32_t stylesApplied;
    uint32_t readOnly;
    TestRecord *test;
    CompilerState *names; /* the compiler's per-window name record, freed with this */
    uint32_t calltipItem;
    uint32_t pendingSuggestion;
    /* While a Replace All runs the tab stops wait (tabsHeld) and are worked
    ** out once after it when the text changed meanwhile (tabsStale). */
    uint32_t tabsHeld;
    uint32_t tabsStale;
    /* The file began with a UTF-8 byte order mark, which its save keeps. */
    uint32_t byteOrderMark;
};

/* The record of a host window, or null. */
EditorRecord *GetEditorRecord(HWND host);
/* 1 for the MDI children that host an editor (script and log windows). */
int IsEditorWindow(HWND window);

/* Registers the control's window class; once at start-up. */
int RegisterEditorClass(HINSTANCE instance);

/* The control of a host window: a child of class "Scintilla" (id 999), the
** record allocated with an extra block of extraSize bytes (the log's work
** buffer); null on failure with everything freed. */
HWND CreateEditor(HWND host, int32_t extraSize, EditorSettings *settings);
/* Loading the settings, binding a dialog's control (AttachEditor, DetachEditor)
** and EditorSend are declared in views/win32/view_windows.h, since the views'
** dialogs hold editors too; EditorCall in services/services.h. */

void ApplyEditorFont(HWND host);
void SetEditorZoom(HWND host, int zoom);
/* 0 when the message was handled, 1 when the caller goes on. */
int EditorHostProc(HWND host, UINT message, WPARAM wParam, LPARAM lParam);
void HighlightMatches(HWND host);
int ToggleLineComment(HWND host, int apply);
/* The close question of a script or log window: a modified window asks
** "Save changes to %s?" with its path, or untitledName when it has none, and
** is saved with save(host, 0) on Yes (or at once without ask); an untitled
** one goes silently while AskSaveUntitled is off.  1 to go on, 0 when
** cancelled or the save failed. */
int QuerySaveEditor(HWND host, int ask, const char *untitledName, int (*save)(HWND host, int saveAs));
/* Restyles the whole document and sets the fold levels. */
void StyleScriptText(HWND host);
/* The host's document as a NUL-terminated text in its record's buffer
** (grown as needed); its length in *length.  Null on failure. */
const char *EditorDocumentText(HWND host, int32_t *length);
/* The whole document is replaced by text; the save point is set and the undo
** history emptied. */
void SetEditorText(HWND host, const char *text, int32_t length);

/* Sections of a window's text (script_style.h over the document): the
** section of a header word at position (0 none); the section enclosing
** position (walking back to the nearest header); 1 when position starts a
** line with "//" directly followed by a section header, its section in
** *section.  EditorGetLineText: the value after line's keyword colon (1 to
** 255 characters) into out; 0 when none. */
int32_t FindSectionAtPosition(HWND host, int32_t position);
int32_t FindEnclosingSection(HWND host, int32_t position);
int EditorIsLineCommentAt(HWND host, int32_t position, int32_t *section);
int EditorGetLineText(HWND host, int32_t line, char *out, int32_t outSize);

/* The script editor options dialog (resource 223, editor_options.cpp);
** RunEditorOptions shows it and, after OK, applies the settings to every
** script window.  ChooseEditorFont: the font dialog for the host's editor. */
INT_PTR CALLBACK EditorSettingsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void RunEditorOptions(HWND owner);
int ChooseEditorFont(HWND host);

/* Typing aids (editor_typing.cpp): indentation after a typed line feed (in
** a dialog editor the line feed runs the dialog's command instead), tab
** stops aligned over the document, the call tip of the function at the
** caret and its current argument. */
void EditorOnEnter(HWND host);
void UpdateDynamicTabs(HWND host);
void ShowItemCalltip(HWND host);
void UpdateCalltipHighlight(HWND host);

/* Titles of script and log windows (script_window.cpp). */
void SetScriptTitle(HWND window);
void MarkTitleModified(HWND window, int modified);

/* Find and Replace of an editor window (find_replace.cpp): with open, the
** Find (replace 0) or Replace dialog opens or comes forward; without, the
** dialog's request is carried out (the dialog opens when there is no find
** text yet).  FindNextInEditor repeats the last search as a Find Next. */
void FindReplaceInEditor(HWND host, int open, int replace);
void FindNextInEditor(HWND host);
/* The registered message of an editor window's Find or Replace dialog. */
void OnFindDialogRequest(HWND host);
/* Suggest Choices at the caret (editor_typing.cpp): the kind becomes the
** caret line's state; a list, a hint or nothing is shown. */
void SuggestChoices(HWND host, int forced);
/* The unforced suggestion after a typed word character: worked out once
** the typing pauses, so that keys typed at speed are taken as they come. */
void SuggestAfterTyping(HWND host);
/* Inserts a chosen list entry (the user-list and autocompletion selection). */
void InsertAutoCompleteWord(HWND host, const char *chosen);
