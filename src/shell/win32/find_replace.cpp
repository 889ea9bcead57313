/* find_replace.cpp -- the modeless Find and Replace dialogs of editor windows
** (script and log windows), run against the editor component's target search.
** The typed texts stay as typed: each request unescapes them into copies. */
#include "shell/win32/shell_win32.h"

#include <Scintilla.h>

#include <cstring>

#include "foundation/errors.h"
#include "foundation/text_match.h"
#include "shell/find_text.h"
#include "platform/platform.h"
#include "services/services.h"
#include "shell/win32/editor_host.h"

static_assert(FIND_FLAG_WHOLE_WORD == SCFIND_WHOLEWORD && FIND_FLAG_MATCH_CASE == SCFIND_MATCHCASE,
              "the dialog's flags are the editor's search flags");
static_assert(FIND_FLAG_DOWN == FR_DOWN && FIND_FLAG_FIND_NEXT == FR_FINDNEXT && FIND_FLAG_REPLACE == FR_REPLACE &&
                  FIND_FLAG_REPLACE_ALL == FR_REPLACEALL && FIND_FLAG_CLOSING == FR_DIALOGTERM,
              "the find flags are the common dialog's");

static void OpenFindDialog(HWND host, EditorRecord *record, int replace)
{
    if (record->findDialog) {
        SetForegroundWindow(record->findDialog);
        SetActiveWindow(record->findDialog);
        return;
    }
    intptr_t start = EditorSend(host, SCI_GETSELECTIONSTART), end = EditorSend(host, SCI_GETSELECTIONEND);
    if (end == start) {
        start = EditorSend(host, SCI_WORDSTARTPOSITION, (uintptr_t)start, 1);
        end = EditorSend(host, SCI_WORDENDPOSITION, (uintptr_t)end, 1);
    }
    if (end - start > EDITOR_TEXT_SIZE - 1) {
        /* Cut before a letter, never inside its UTF-8 bytes. */
        end = start + EDITOR_TEXT_SIZE - 1;
        while (end > start && (EditorSend(host, SCI_GETCHARAT, (uintptr_t)end) & 0xC0) == 0x80) end--;
    }
    if (end > start) {
        Sci_TextRangeFull range = {{start, end}, record->findText};
        EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    }
    /* The dialog shows and takes letters: the editor's UTF-8 crosses over
    ** here and comes back with each request. */
    if (!PlatWideFromText(record->findText, record->findTyped, EDITOR_TEXT_SIZE)) record->findTyped[0] = 0;
    if (!PlatWideFromText(record->replaceText, record->replaceTyped, EDITOR_TEXT_SIZE)) record->replaceTyped[0] = 0;
    FINDREPLACEW *fr = &record->findReplace;
    memset(fr, 0, sizeof *fr);
    fr->lStructSize = sizeof *fr;
    fr->hwndOwner = host;
    fr->Flags = FR_DOWN;
    fr->lpstrFindWhat = record->findTyped;
    fr->wFindWhatLen = EDITOR_TEXT_SIZE;
    fr->lpstrReplaceWith = record->replaceTyped;
    fr->wReplaceWithLen = EDITOR_TEXT_SIZE;
    HWND dialog = replace ? ReplaceTextW(fr) : FindTextW(fr);
    if (!dialog) return;
    if (!RegisterFindDialog(dialog)) {
        DestroyWindow(dialog);
        return;
    }
    record->findDialog = dialog;
}

static void FocusFindDialog(EditorRecord *record)
{
    if (record->findDialog) SetFocus(record->findDialog);
}

/* Replaces every match from the top as one step for Undo.  Each change
** would work out the tab stops of every line again, so they wait and are
** worked out once at the end: the window answers at once whatever the
** count.  The number replaced. */
static int ReplaceEverywhere(HWND host, EditorRecord *record, const char *what, int32_t whatLength, const char *with,
                             int32_t withLength)
{
    int replaced = 0;
    intptr_t from = 0;
    record->tabsHeld = 1;
    record->tabsStale = 0;
    EditorSend(host, SCI_BEGINUNDOACTION);
    for (;;) {
        EditorSend(host, SCI_SETTARGETRANGE, (uintptr_t)from, EditorSend(host, SCI_GETLENGTH));
        intptr_t at = EditorSend(host, SCI_SEARCHINTARGET, (uintptr_t)whatLength, (intptr_t)what);
        if (at < 0) break;
        EditorSend(host, SCI_REPLACETARGET, (uintptr_t)withLength, (intptr_t)with);
        replaced++;
        from = at + withLength;
    }
    EditorSend(host, SCI_ENDUNDOACTION);
    record->tabsHeld = 0;
    if (record->tabsStale) {
        record->tabsStale = 0;
        UpdateDynamicTabs(host);
    }
    return replaced;
}

/* Carries out the dialog's request (Find Next, Replace or Replace All). */
static void CarryOutFind(HWND host, EditorRecord *record)
{
    char what[FIND_TEXT_SIZE], with[FIND_TEXT_SIZE];
    int32_t whatLength = UnescapeFindText(record->findText, what, sizeof what);
    int32_t withLength = UnescapeFindText(record->replaceText, with, sizeof with);
    if (whatLength <= 0) return;
    DWORD flags = record->findReplace.Flags;
    int down = (flags & FR_DOWN) != 0;
    int replace = !(flags & FR_REPLACEALL) && (flags & FR_REPLACE);
    EditorSend(host, SCI_SETSEARCHFLAGS, flags & (SCFIND_WHOLEWORD | SCFIND_MATCHCASE));
    if (flags & FR_REPLACEALL) {
        int replaced = ReplaceEverywhere(host, record, what, whatLength, with, withLength);
        if (!replaced)
            ReportError("No occurences of '%s' were found", record->findText);
        else
            ReportError("%d occurence(s) of '%s' replaced with '%s'", replaced, record->findText, record->replaceText);
        FocusFindDialog(record);
        return;
    }
    intptr_t selStart = EditorSend(host, SCI_GETSELECTIONSTART), selEnd = EditorSend(host, SCI_GETSELECTIONEND);
    intptr_t from = selStart;
    if (selEnd > selStart && !replace && down) from = selStart + 1;
    int wrapped = 0, replaced = 0;
    for (;;) {
        intptr_t length = EditorSend(host, SCI_GETLENGTH);
        EditorSend(host, SCI_SETTARGETRANGE, (uintptr_t)from, down ? length : 0);
        intptr_t at = EditorSend(host, SCI_SEARCHINTARGET, (uintptr_t)whatLength, (intptr_t)what);
        if (at >= 0) {
            intptr_t matchEnd = EditorSend(host, SCI_GETTARGETEND);
            if (!replace || replaced) {
                EditorSend(host, SCI_SETSEL, (uintptr_t)at, matchEnd);
                return;
            }
            EditorSend(host, SCI_REPLACETARGET, (uintptr_t)withLength, (intptr_t)with);
            replaced++;
            EditorSend(host, SCI_SETSEL, (uintptr_t)at, at + withLength);
            from = down ? at + withLength : at;
            continue;
        }
        if (wrapped) {
            ReportError("'%s' not found.", record->findText);
            FocusFindDialog(record);
            return;
        }
        int answer = MessageBoxFormat(MB_OKCANCEL | MB_ICONQUESTION, "'%s' not found %s here. Search from %s?",
                                      record->findText, down ? "below" : "above", down ? "beginning" : "end");
        if (answer != IDOK) {
            if (record->findDialog) SendMessageA(record->findDialog, WM_COMMAND, IDCANCEL, 0);
            return;
        }
        wrapped = 1;
        from = down ? 0 : EditorSend(host, SCI_GETLENGTH);
    }
}

void FindReplaceInEditor(HWND host, int open, int replace)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return;
    if (record->findReplace.Flags & FR_DIALOGTERM) {
        UnregisterFindDialog(record->findDialog);
        record->findDialog = nullptr;
        record->findReplace.Flags &= ~(DWORD)FR_DIALOGTERM;
        return;
    }
    if (open || !record->findText[0]) {
        OpenFindDialog(host, record, replace);
        return;
    }
    CarryOutFind(host, record);
}

void OnFindDialogRequest(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return;
    /* The dialog's texts as typed, in the editor's UTF-8 (three bytes a
    ** letter at most, which the record has room for). */
    TextFromWide(record->findTyped, record->findText, sizeof record->findText);
    TextFromWide(record->replaceTyped, record->replaceText, sizeof record->replaceText);
    FindReplaceInEditor(host, 0, 0);
}

void FindNextInEditor(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return;
    if (record->findText[0]) {
        record->findReplace.Flags &= ~(DWORD)(FR_REPLACE | FR_REPLACEALL | FR_DIALOGTERM);
        record->findReplace.Flags |= FR_FINDNEXT;
        if (!record->findReplace.lStructSize) record->findReplace.Flags |= FR_DOWN;
    }
    FindReplaceInEditor(host, 0, 0);
}
