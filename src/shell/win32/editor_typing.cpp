/* editor_typing.cpp -- the typing aids of script editors on the editor
** component: indentation after Enter, dynamic tab stops, call tips with the
** current argument highlighted, and the insertion of a chosen list entry.
** The text rules live in shell/script_style.h and shell/completion.h. */
#include "shell/win32/shell_win32.h"

#include <Scintilla.h>

#include <cstring>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/formula.h"
#include "script/eval/item_table.h"
#include "shell/completion.h"
#include "shell/script_style.h"
#include "services/services.h"
#include "shell/suggest.h"
#include "shell/win32/editor_host.h"

enum { DEBUG_PANEL_RUN_COMMAND = 1039,
       DEBUG_FORMULA_CONTROL = 1047,
       DYNAMIC_TAB_MAX_LINES = 2000,
       DYNAMIC_TAB_MAX_CELLS = 32,
       LINE_TEXT_SIZE = 256 };

/* The caret line's text up to the caret (at most 255 characters); its length
** or -1 when the line is longer. */
static int32_t CaretLineText(HWND host, char *out, int32_t *caretInLine)
{
    intptr_t caret = EditorSend(host, SCI_GETCURRENTPOS);
    intptr_t line = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)caret);
    intptr_t start = EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line);
    intptr_t end = EditorSend(host, SCI_GETLINEENDPOSITION, (uintptr_t)line);
    if (end - start >= LINE_TEXT_SIZE) return -1;
    Sci_TextRangeFull range = {{start, end}, out};
    EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    *caretInLine = (int32_t)(caret - start);
    return (int32_t)(end - start);
}

void EditorOnEnter(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return;
    if (record->inDialog) {
        if (GetKeyState(VK_SHIFT) < 0) return;
        intptr_t caret = EditorSend(host, SCI_GETCURRENTPOS);
        intptr_t cut = caret >= 2 && EditorSend(host, SCI_GETCHARAT, (uintptr_t)caret - 2) == '\r' ? 2 : 1;
        EditorSend(host, SCI_DELETERANGE, (uintptr_t)(caret - cut), cut);
        int command = GetDlgCtrlID(record->editor) == DEBUG_FORMULA_CONTROL ? DEBUG_PANEL_RUN_COMMAND : IDOK;
        PostMessageA(host, WM_COMMAND, (WPARAM)command, 0);
        return;
    }
    intptr_t line = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)EditorSend(host, SCI_GETCURRENTPOS));
    if (line == 0) return;
    intptr_t start = EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line - 1);
    intptr_t end = EditorSend(host, SCI_GETLINEENDPOSITION, (uintptr_t)line - 1);
    if (end - start < 1 || end - start > 255) return;
    char previous[LINE_TEXT_SIZE], indent[LINE_TEXT_SIZE];
    Sci_TextRangeFull range = {{start, end}, previous};
    EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    if (EnterIndentation(previous, (int32_t)(end - start), indent, sizeof indent) > 0)
        EditorSend(host, SCI_REPLACESEL, 0, (intptr_t)indent);
}

void UpdateDynamicTabs(HWND host)
{
    intptr_t lines = EditorSend(host, SCI_GETLINECOUNT);
    for (intptr_t i = 0; i < lines; i++) EditorSend(host, SCI_CLEARTABSTOPS, (uintptr_t)i);
    if (!gSettings.ScriptDynamicTabs || lines > DYNAMIC_TAB_MAX_LINES) return;
    int32_t length = 0;
    const char *text = EditorDocumentText(host, &length);
    if (!text) return;
    int32_t w = (int32_t)EditorSend(host, SCI_TEXTWIDTH, SCRIPT_STYLE_SECTION, (intptr_t) "X");
    int32_t widths[DYNAMIC_TAB_MAX_CELLS] = {};
    int32_t cells = 0;
    char cell[LINE_TEXT_SIZE];
    int32_t cellStart = 0, cellIndex = 0;
    for (int32_t i = 0; i <= length; i++) {
        char c = i < length ? text[i] : '\n';
        if (c == '\n' || c == '\r') {
            cellStart = i + 1;
            cellIndex = 0;
            continue;
        }
        if (c != '\t' || (cells >= DYNAMIC_TAB_MAX_CELLS && cellIndex >= cells)) continue;
        int32_t j = i + 1;
        while (j < length && (text[j] == ' ' || text[j] == '\t')) j++;
        if (j >= length || text[j] == '\r' || text[j] == '\n') continue;
        if (cellIndex < DYNAMIC_TAB_MAX_CELLS) {
            CopyString(cell, sizeof cell, text + cellStart, i - cellStart);
            int32_t width = (int32_t)EditorSend(host, SCI_TEXTWIDTH, SCRIPT_STYLE_SECTION, (intptr_t)cell) + w;
            if (width < 4 * w) width = 4 * w;
            if (width > widths[cellIndex]) widths[cellIndex] = width;
            if (cellIndex + 1 > cells) cells = cellIndex + 1;
        }
        cellIndex++;
        cellStart = i + 1;
    }
    int32_t positions[DYNAMIC_TAB_MAX_CELLS];
    int32_t sum = 0;
    for (int32_t k = 0; k < cells; k++) positions[k] = sum += widths[k];
    for (intptr_t i = 0; i < lines; i++)
        for (int32_t k = 0; k < cells; k++) EditorSend(host, SCI_ADDTABSTOP, (uintptr_t)i, positions[k]);
}

void ShowItemCalltip(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return;
    char line[LINE_TEXT_SIZE];
    int32_t caret = 0;
    if (CaretLineText(host, line, &caret) < 0) return;
    int32_t nameStart = 0;
    uint32_t row = CalltipItemAt(line, caret, &nameStart);
    if (!row) return;
    char tip[512];
    CalltipText(row, tip, sizeof tip);
    intptr_t lineStart = EditorSend(host, SCI_GETCURRENTPOS) - caret;
    EditorSend(host, SCI_CALLTIPSETBACK, (uintptr_t)RGB(255, 255, 223));
    EditorSend(host, SCI_CALLTIPSHOW, (uintptr_t)(lineStart + nameStart), (intptr_t)tip);
    record->calltipItem = row;
}

void UpdateCalltipHighlight(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !record->calltipItem) return;
    char line[LINE_TEXT_SIZE];
    int32_t caret = 0;
    if (CaretLineText(host, line, &caret) < 0) return;
    int32_t start = 0, end = 0;
    if (CalltipHighlightSpan(gScriptItems[record->calltipItem].syntax, CurrentArgumentIndex(line, caret), &start, &end))
        EditorSend(host, SCI_CALLTIPSETHLT, (uintptr_t)start, end);
}

void InsertAutoCompleteWord(HWND host, const char *chosen)
{
    intptr_t caret = EditorSend(host, SCI_GETCURRENTPOS);
    intptr_t line = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)caret);
    int kind = (int)EditorSend(host, SCI_GETLINESTATE, (uintptr_t)line);
    intptr_t lineStart = EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line);
    intptr_t lineEnd = EditorSend(host, SCI_GETLINEENDPOSITION, (uintptr_t)line);
    char text[LINE_TEXT_SIZE + 4];
    intptr_t from, to, caretAfter;
    int function = 0;
    if (kind >= 18 && kind <= 27) {
        /* Files and folders: the whole value after the keyword colon. */
        char lineText[LINE_TEXT_SIZE], value[LINE_TEXT_SIZE];
        if (lineEnd - lineStart >= LINE_TEXT_SIZE) return;
        Sci_TextRangeFull range = {{lineStart, lineEnd}, lineText};
        EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
        if (!LineValueText(lineText, (int32_t)(lineEnd - lineStart), value, sizeof value) || !value[0]) return;
        /* The value runs to the line's end, trailing blanks cut. */
        intptr_t end = lineEnd - lineStart;
        while (end > 0 && (lineText[end - 1] == ' ' || lineText[end - 1] == '\t')) end--;
        to = lineStart + end;
        from = to - (intptr_t)strlen(value);
        CopyString(text, sizeof text, chosen, -1);
        caretAfter = from + (intptr_t)strlen(text);
    } else {
        int32_t n = 0;
        while (chosen[n] && chosen[n] != ' ' && n < LINE_TEXT_SIZE) n++;
        CopyString(text, LINE_TEXT_SIZE, chosen, n);
        if (kind == 48) {
            uint32_t row = FindScriptItem(text, nullptr);
            uint32_t category = row ? gScriptItems[row].category : 0;
            function = row > 0 && (category == CAT_INDICATOR || category == CAT_MULTI_BAR || category == CAT_FUNCTION ||
                                   category == CAT_TRADE_STAT || category == CAT_SUM);
        }
        from = EditorSend(host, SCI_WORDSTARTPOSITION, (uintptr_t)caret, 1);
        to = EditorSend(host, SCI_WORDENDPOSITION, (uintptr_t)caret, 1);
        if (strchr(text, ':')) {
            intptr_t p = to;
            while (p < lineEnd && (EditorSend(host, SCI_GETCHARAT, (uintptr_t)p) == ' ' ||
                                   EditorSend(host, SCI_GETCHARAT, (uintptr_t)p) == '\t'))
                p++;
            if (p < lineEnd && EditorSend(host, SCI_GETCHARAT, (uintptr_t)p) == ':') to = p + 1;
        }
        caretAfter = from + (intptr_t)strlen(text) + (function ? 1 : 0);
        if (function) {
            size_t used = strlen(text);
            CopyString(text + used, (int)(sizeof text - used), "( )", -1);
        }
    }
    EditorSend(host, SCI_AUTOCCANCEL);
    EditorSend(host, SCI_BEGINUNDOACTION);
    EditorSend(host, SCI_DELETERANGE, (uintptr_t)from, to - from);
    EditorSend(host, SCI_INSERTTEXT, (uintptr_t)from, (intptr_t)text);
    EditorSend(host, SCI_ENDUNDOACTION);
    EditorSend(host, SCI_SETSEL, (uintptr_t)caretAfter, caretAfter);
    if (function) ShowItemCalltip(host);
}

/* The list last shown, so that the same list is not built and shown
** again over itself (UI thread only). */
static struct {
    HWND host;
    int32_t show, typedLength;
    char text[CHOICE_BUFFER_SIZE];
} gShownList;

/* Typing that pauses this long shows the suggestions; keys that come
** faster go straight into the text. */
enum { SUGGEST_PAUSE_MS = 150, SUGGEST_TIMER_ID = 0x5347 };

static void CALLBACK SuggestOnPause(HWND host, UINT, UINT_PTR id, DWORD)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !record->pendingSuggestion) {
        KillTimer(host, id);
        return;
    }
    /* Keys already waiting come first; the timer looks again after them. */
    MSG waiting;
    if (PeekMessageA(&waiting, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE)) return;
    KillTimer(host, id);
    record->pendingSuggestion = 0;
    SuggestChoices(host, 0);
}

void SuggestAfterTyping(HWND host)
{
    /* Each key starts the wait again. */
    SetTimer(host, SUGGEST_TIMER_ID, SUGGEST_PAUSE_MS, SuggestOnPause);
}

void SuggestChoices(HWND host, int forced)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || record->readOnly || record->test) return;
    int32_t length = 0;
    const char *text = EditorDocumentText(host, &length);
    if (!text) return;
    int32_t caret = (int32_t)EditorSend(host, SCI_GETCURRENTPOS);
    static SuggestResult result; /* UI thread only; too large for the stack */
    SuggestChoicesAt(text, length, caret, forced, (int)record->inDialog, record->names, &result);
    if (!result.hasContext) return;
    EditorSend(host, SCI_SETLINESTATE, (uintptr_t)EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)caret), result.kind);
    if (result.hint[0]) ShowPopupNotice(result.hintIsWarning ? RGB(255, 0, 0) : RGB(0, 0, 255), "%s", result.hint);
    /* The list in sight already holds these choices: showing it again would
    ** only take it down and put it up anew. */
    if (result.show != SUGGEST_SHOW_NOTHING && gShownList.host == host && gShownList.show == result.show &&
        gShownList.typedLength == result.typedLength && strcmp(gShownList.text, result.list.text) == 0 &&
        EditorSend(host, SCI_AUTOCACTIVE))
        return;
    if (result.show != SUGGEST_SHOW_NOTHING) {
        gShownList.host = host;
        gShownList.show = result.show;
        gShownList.typedLength = result.typedLength;
        CopyString(gShownList.text, sizeof gShownList.text, result.list.text, -1);
    }
    if (result.show == SUGGEST_SHOW_USER_LIST)
        EditorSend(host, SCI_USERLISTSHOW, 1, (intptr_t)result.list.text);
    else if (result.show == SUGGEST_SHOW_AUTOCOMPLETE)
        EditorSend(host, SCI_AUTOCSHOW, (uintptr_t)result.typedLength, (intptr_t)result.list.text);
}

int32_t FindSectionAtPosition(HWND host, int32_t position)
{
    int32_t length = 0;
    const char *text = EditorDocumentText(host, &length);
    return text ? SectionAtPosition(text, length, position) : 0;
}

int32_t FindEnclosingSection(HWND host, int32_t position)
{
    for (int32_t p = position; p > 0; p--)
        if (EditorSend(host, SCI_GETSTYLEAT, (uintptr_t)p) == SCRIPT_STYLE_SECTION) return FindSectionAtPosition(host, p);
    return 0;
}

int EditorIsLineCommentAt(HWND host, int32_t position, int32_t *section)
{
    if (position > 0 && EditorSend(host, SCI_GETCHARAT, (uintptr_t)position - 1) != '\n') return 0;
    if (EditorSend(host, SCI_GETCHARAT, (uintptr_t)position) != '/' ||
        EditorSend(host, SCI_GETCHARAT, (uintptr_t)position + 1) != '/')
        return 0;
    int32_t found = FindSectionAtPosition(host, position + 2);
    if (section) *section = found;
    return found != 0;
}

int EditorGetLineText(HWND host, int32_t line, char *out, int32_t outSize)
{
    intptr_t start = EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line);
    intptr_t end = EditorSend(host, SCI_GETLINEENDPOSITION, (uintptr_t)line);
    if (start < 0 || end - start < 1 || end - start > 255) return 0;
    char text[LINE_TEXT_SIZE];
    Sci_TextRangeFull range = {{start, end}, text};
    EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    return LineValueText(text, (int32_t)(end - start), out, outSize);
}
