/* editor_host.cpp -- see editor_host.h.  The control runs without a lexer of
** its own: it asks for styling and the host answers with the script styler's
** styles and fold levels (shell/script_style.h). */
#include "shell/win32/shell_win32.h"

#include "shell/win32/editor_host.h"
#include "shell/win32/script_window.h"

#include <Scintilla.h>

#include <cctype>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/settings_dialog.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/name_tables.h"
#include "shell/help_topics.h"
#include "shell/script_style.h"
#include "services/services.h"

static_assert((int)SCRIPT_STYLE_COUNT == (int)EDITOR_STYLE_COUNT && (int)EDITOR_STYLE_RECORDS >= (int)EDITOR_STYLE_COUNT,
              "one style record per script style");

EditorSettings gScriptEditorSettings;
EditorSettings gLogEditorSettings;

namespace {

const char kWordCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789._#$%@?&~\\";
/* Ctrl+Shift with these reach the menus' accelerators instead of the control. */
const char kFreedShiftKeys[] = "26ACDFGHNOPSVXYZ";
const char kFoldPlaceholder[] = "{...}";

struct HostState {
    int zoomGuard; /* zoom changes made by the program are not echoed */
};
HostState sHost;

typedef intptr_t(__cdecl *DirectFunction)(void *, unsigned int, uintptr_t, intptr_t);

int IsWordCharacter(char c) { return c && strchr(kWordCharacters, c) != nullptr; }

} // namespace

EditorRecord *GetEditorRecord(HWND host)
{
    return host ? (EditorRecord *)GetWindowLongPtrA(host, GWLP_USERDATA) : nullptr;
}

int IsEditorWindow(HWND window)
{
    int kind = window ? FindWindowKind(window) : -1;
    return (kind == WK_SCRIPT || kind == WK_LOG) && GetEditorRecord(window) != nullptr;
}

intptr_t EditorCall(void *window, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    HWND host = (HWND)window;
    EditorRecord *record = GetEditorRecord(host);
    if (record && record->directFunction && record->directPointer)
        return ((DirectFunction)record->directFunction)(record->directPointer, message, wparam, lparam);
    HWND child = host ? GetWindow(host, GW_CHILD) : nullptr;
    return child ? (intptr_t)SendMessageA(child, message, wparam, lparam) : 0;
}

intptr_t EditorSend(HWND host, uint32_t message, uintptr_t wparam, intptr_t lparam)
{
    return EditorCall(host, message, wparam, lparam);
}

int RegisterEditorClass(HINSTANCE instance) { return Scintilla_RegisterClasses(instance) != 0; }

void LoadEditorSettings()
{
    EditorSettings *s = &gScriptEditorSettings;
    CopyString(s->name, sizeof s->name, "Script", -1);
    if (!s->width) {
        s->x = s->y = CW_USEDEFAULT;
        s->width = gSettings.iScriptW ? gSettings.iScriptW : CW_USEDEFAULT;
        s->height = gSettings.iScriptH ? gSettings.iScriptH : CW_USEDEFAULT;
    }
    s->tabWidth = gSettings.ScriptTabWidth > 0 ? gSettings.ScriptTabWidth : 4;
    s->fontHeight = gSettings.ScriptFontHeight > 0 ? gSettings.ScriptFontHeight : 9;
    CopyString(s->fontName, sizeof s->fontName, gSettings.ScriptFont[0] ? gSettings.ScriptFont : "Verdana", -1);
    s->foreground = gSettings.ScriptForeground;
    s->background = gSettings.ScriptBackground;
    s->caret = gSettings.ScriptCaret;
    s->styleCount = EDITOR_STYLE_COUNT;

    EditorSettings *l = &gLogEditorSettings;
    CopyString(l->name, sizeof l->name, "Log", -1);
    l->x = l->y = CW_USEDEFAULT;
    l->width = gSettings.iLogW ? gSettings.iLogW : CW_USEDEFAULT;
    l->height = gSettings.iLogH ? gSettings.iLogH : CW_USEDEFAULT;
    l->tabWidth = gSettings.LogTabWidth > 0 ? gSettings.LogTabWidth : 14;
    l->fontHeight = gSettings.LogFontHeight > 0 ? gSettings.LogFontHeight : 8;
    CopyString(l->fontName, sizeof l->fontName, gSettings.LogFont[0] ? gSettings.LogFont : "Consolas", -1);
    l->foreground = gSettings.LogForeground;
    l->background = gSettings.LogBackground;
    l->caret = gSettings.LogCaret;
    l->styleCount = 0;
}

/* ---- records ---------------------------------------------------------------------------- */

static void FreeEditorRecord(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return;
    FreeMemory(&record->textBuffer);
    if (record->names) {
        FreeMemory(&record->names->scriptNames);
        FreeMemory(&record->names->includedFiles);
        FreeMemory(&record->names->definedNames);
        FreeMemory(&record->names);
    }
    FreeMemory(&record);
    SetWindowLongPtrA(host, GWLP_USERDATA, 0);
}

static int BindControl(HWND host, HWND control, EditorRecord *record)
{
    record->editor = control;
    record->directFunction = (void *)SendMessageA(control, SCI_GETDIRECTFUNCTION, 0, 0);
    record->directPointer = (void *)SendMessageA(control, SCI_GETDIRECTPOINTER, 0, 0);
    if (!AllocMemory(&record->names, sizeof(CompilerState))) return 0;
    SetWindowLongPtrA(host, GWLP_USERDATA, (LONG_PTR)record);
    EditorSend(host, SCI_USEPOPUP, SC_POPUP_NEVER);
    return 1;
}

HWND CreateEditor(HWND host, int32_t extraSize, EditorSettings *settings)
{
    EditorRecord *record = nullptr;
    if (!AllocMemory(&record, sizeof *record)) return nullptr;
    record->settings = settings;
    if (extraSize > 0 && !AllocMemory(&record->textBuffer, (uint64_t)extraSize)) {
        FreeMemory(&record);
        return nullptr;
    }
    record->textBufferSize = extraSize;
    HWND control =
        CreateWindowExA(WS_EX_CLIENTEDGE, kEditorComponentClass, "", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_TABSTOP, 0, 0,
                        0, 0, host, (HMENU)(INT_PTR)EDITOR_CONTROL_ID, gFrame.instance, nullptr);
    if (!control) {
        FreeMemory(&record->textBuffer);
        FreeMemory(&record);
        return nullptr;
    }
    if (!BindControl(host, control, record)) {
        DestroyWindow(control);
        FreeMemory(&record->textBuffer);
        FreeMemory(&record);
        return nullptr;
    }
    EditorSend(host, SCI_ASSIGNCMDKEY, (uintptr_t)('-' + ((SCMOD_CTRL | SCMOD_SHIFT) << 16)), SCI_NULL);
    for (const char *k = kFreedShiftKeys; *k; k++)
        EditorSend(host, SCI_ASSIGNCMDKEY, (uintptr_t)(*k + ((SCMOD_CTRL | SCMOD_SHIFT) << 16)), SCI_NULL);
    EditorSend(host, SCI_SETMODEVENTMASK, SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT);
    ApplyEditorFont(host);
    SetScriptTitle(host);
    return control;
}

int AttachEditor(HWND dialog, int controlId, EditorSettings *settings)
{
    HWND control = GetDlgItem(dialog, controlId);
    if (!control) return 0;
    EditorRecord *record = nullptr;
    if (!AllocMemory(&record, sizeof *record)) return 0;
    record->settings = settings;
    record->inDialog = 1;
    if (!BindControl(dialog, control, record)) {
        FreeMemory(&record);
        return 0;
    }
    EditorSend(dialog, SCI_SETTABWIDTH, (uintptr_t)settings->tabWidth);
    EditorSend(dialog, SCI_SETSCROLLWIDTHTRACKING, 1);
    ApplyEditorFont(dialog);
    return 1;
}

void DetachEditor(HWND dialog) { FreeEditorRecord(dialog); }

/* ---- look -------------------------------------------------------------------------------- */

void ApplyEditorFont(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !record->settings) return;
    const EditorSettings *s = record->settings;
    EditorSend(host, SCI_SETTABWIDTH, (uintptr_t)(s->tabWidth > 0 ? s->tabWidth : 4));
    EditorSend(host, SCI_STYLESETFONT, EDITOR_STYLE_DEFAULT, (intptr_t)s->fontName);
    EditorSend(host, SCI_STYLESETSIZE, EDITOR_STYLE_DEFAULT, s->fontHeight);
    EditorSend(host, SCI_STYLESETBOLD, EDITOR_STYLE_DEFAULT, 0);
    EditorSend(host, SCI_STYLESETITALIC, EDITOR_STYLE_DEFAULT, 0);
    EditorSend(host, SCI_STYLESETFORE, EDITOR_STYLE_DEFAULT, (intptr_t)s->foreground);
    EditorSend(host, SCI_STYLESETBACK, EDITOR_STYLE_DEFAULT, (intptr_t)s->background);
    EditorSend(host, SCI_STYLECLEARALL);
    for (int i = 0; i < s->styleCount && i < EDITOR_STYLE_COUNT; i++) {
        EditorSend(host, SCI_STYLESETBOLD, (uintptr_t)i, s->styles[i].bold != 0);
        EditorSend(host, SCI_STYLESETITALIC, (uintptr_t)i, s->styles[i].italic != 0);
        EditorSend(host, SCI_STYLESETFORE, (uintptr_t)i, (intptr_t)s->styles[i].colour);
        EditorSend(host, SCI_STYLESETBACK, (uintptr_t)i, (intptr_t)s->background);
    }
    EditorSend(host, SCI_SETCARETFORE, (uintptr_t)s->caret);
}

void SetEditorZoom(HWND host, int zoom)
{
    sHost.zoomGuard = 1;
    EditorSend(host, SCI_SETZOOM, (uintptr_t)zoom);
    sHost.zoomGuard = 0;
}

/* One 8 by 8 square per style in the style's colour, white corners. */
static void RegisterAutocompleteImages(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !record->settings) return;
    EditorSend(host, SCI_RGBAIMAGESETWIDTH, 8);
    EditorSend(host, SCI_RGBAIMAGESETHEIGHT, 8);
    uint8_t pixels[8 * 8 * 4];
    for (int i = 0; i < EDITOR_STYLE_COUNT; i++) {
        COLORREF c = record->settings->styles[i].colour;
        for (int p = 0; p < 64; p++) {
            int corner = p == 0 || p == 7 || p == 56 || p == 63;
            pixels[p * 4 + 0] = corner ? 255 : GetRValue(c);
            pixels[p * 4 + 1] = corner ? 255 : GetGValue(c);
            pixels[p * 4 + 2] = corner ? 255 : GetBValue(c);
            pixels[p * 4 + 3] = 255;
        }
        EditorSend(host, SCI_REGISTERRGBAIMAGE, (uintptr_t)i, (intptr_t)pixels);
    }
}

void ApplyEditorSettings(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !record->settings) return;
    EditorSettings *s = record->settings;
    for (int i = 0; i < EDITOR_STYLE_COUNT; i++) {
        s->styles[i] = {};
        s->styles[i].colour = gEditorStyles[i].colour;
        s->styles[i].bold = (uint32_t)gEditorStyles[i].bold;
        s->styles[i].italic = (uint32_t)gEditorStyles[i].italic;
    }
    record->stylesApplied = 1;
    s->styleCount = EDITOR_STYLE_COUNT;
    ApplyEditorFont(host);

    EditorSend(host, SCI_STYLESETFORE, EDITOR_STYLE_BRACE, (intptr_t)RGB(255, 0, 0));
    EditorSend(host, SCI_STYLESETBACK, EDITOR_STYLE_BRACE, (intptr_t)s->background);
    EditorSend(host, SCI_SETCARETFORE, (uintptr_t)s->caret);
    EditorSend(host, SCI_SETWORDCHARS, 0, (intptr_t)kWordCharacters);

    EditorSend(host, SCI_SETMARGINTYPEN, 0, SC_MARGIN_SYMBOL);
    EditorSend(host, SCI_SETMARGINWIDTHN, 0, 16);
    EditorSend(host, SCI_SETMARGINSENSITIVEN, 0, gSettings.ScriptMarginClick != 0);
    if (record->inDialog) {
        SetEditorZoom(host, gSettings.DebugZoomLevel);
        EditorSend(host, SCI_SETMARGINWIDTHN, 1, 0);
    } else {
        SetEditorZoom(host, gSettings.ScriptZoomLevel);
        EditorSend(host, SCI_SETMARGINTYPEN, 1, SC_MARGIN_SYMBOL);
        EditorSend(host, SCI_SETMARGINMASKN, 1, (intptr_t)SC_MASK_FOLDERS);
        EditorSend(host, SCI_SETMARGINWIDTHN, 1, 16);
        EditorSend(host, SCI_SETMARGINSENSITIVEN, 1, 1);
        EditorSend(host, SCI_MARKERDEFINE, SC_MARKNUM_FOLDEROPEN, SC_MARK_ARROWDOWN);
        EditorSend(host, SCI_MARKERDEFINE, SC_MARKNUM_FOLDER, SC_MARK_ARROW);
        EditorSend(host, SCI_MARKERDEFINE, SC_MARKNUM_FOLDERSUB, SC_MARK_EMPTY);
        EditorSend(host, SCI_MARKERDEFINE, SC_MARKNUM_FOLDERTAIL, SC_MARK_EMPTY);
        EditorSend(host, SCI_MARKERDEFINE, SC_MARKNUM_FOLDEREND, SC_MARK_EMPTY);
        EditorSend(host, SCI_MARKERDEFINE, SC_MARKNUM_FOLDEROPENMID, SC_MARK_EMPTY);
        EditorSend(host, SCI_MARKERDEFINE, SC_MARKNUM_FOLDERMIDTAIL, SC_MARK_EMPTY);
        EditorSend(host, SCI_SETAUTOMATICFOLD, SC_AUTOMATICFOLD_SHOW);
        EditorSend(host, SCI_SETFOLDFLAGS, SC_FOLDFLAG_LINEAFTER_CONTRACTED);
        UpdateDynamicTabs(host);
    }
    EditorSend(host, SCI_AUTOCSETSEPARATOR, '|');
    EditorSend(host, SCI_AUTOCSETIGNORECASE, 1);
    EditorSend(host, SCI_AUTOCSETMAXHEIGHT, 40);
    EditorSend(host, SCI_AUTOCSETMAXWIDTH, 120);
    EditorSend(host, SCI_AUTOCSETORDER, SC_ORDER_PERFORMSORT);
    RegisterAutocompleteImages(host);
}

/* ---- text --------------------------------------------------------------------------------- */

const char *EditorDocumentText(HWND host, int32_t *length)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return nullptr;
    int32_t n = (int32_t)EditorSend(host, SCI_GETLENGTH);
    if (n + 1 > record->textBufferSize) {
        if (!ReallocMemory(&record->textBuffer, (uint64_t)n + 1)) return nullptr;
        record->textBufferSize = n + 1;
    }
    EditorSend(host, SCI_GETTEXT, (uintptr_t)n + 1, (intptr_t)record->textBuffer);
    record->textBuffer[n] = 0;
    if (length) *length = n;
    return record->textBuffer;
}

void SetEditorText(HWND host, const char *text, int32_t length)
{
    int readOnly = (int)EditorSend(host, SCI_GETREADONLY);
    EditorSend(host, SCI_SETREADONLY, 0);
    EditorSend(host, SCI_CLEARALL);
    EditorSend(host, SCI_APPENDTEXT, (uintptr_t)length, (intptr_t)text);
    /* Enter writes the line end the text already uses, so that a file
    ** written elsewhere keeps one kind of line end. */
    const char *end = (const char *)memchr(text, '\n', (size_t)length);
    const char *cr = (const char *)memchr(text, '\r', (size_t)length);
    if (cr && (!end || cr < end))
        EditorSend(host, SCI_SETEOLMODE, cr + 1 < text + length && cr[1] == '\n' ? SC_EOL_CRLF : SC_EOL_CR);
    else if (end)
        EditorSend(host, SCI_SETEOLMODE, SC_EOL_LF);
    else
        EditorSend(host, SCI_SETEOLMODE, SC_EOL_CRLF);
    EditorSend(host, SCI_SETREADONLY, (uintptr_t)readOnly);
    EditorSend(host, SCI_SETSAVEPOINT);
    EditorSend(host, SCI_EMPTYUNDOBUFFER);
}

/* ---- styling ---------------------------------------------------------------------------------- */

void StyleScriptText(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record) return;
    int32_t length = 0;
    if (EditorSend(host, SCI_GETLENGTH) == 0) return;
    if (!record->inDialog) ScanScriptItemNames(record->path[0] ? record->path : nullptr, nullptr, 0, nullptr);
    const char *text = EditorDocumentText(host, &length);
    if (!text || length <= 0) return;
    int32_t lines = (int32_t)EditorSend(host, SCI_GETLINECOUNT);
    uint8_t *styles = nullptr;
    int32_t *levels = nullptr;
    if (!AllocMemory(&styles, (uint64_t)length + 1) || !AllocMemory(&levels, sizeof(int32_t) * ((uint64_t)lines + 1))) {
        FreeMemory(&styles);
        return;
    }
    StyleScriptBuffer(text, length, record->names, (int)record->inDialog, styles, record->inDialog ? nullptr : levels,
                      lines + 1);
    EditorSend(host, SCI_STARTSTYLING, 0, 0);
    EditorSend(host, SCI_SETSTYLINGEX, (uintptr_t)length, (intptr_t)styles);
    if (!record->inDialog)
        for (int32_t line = 0; line < lines; line++)
            if ((int32_t)EditorSend(host, SCI_GETFOLDLEVEL, (uintptr_t)line) != levels[line])
                EditorSend(host, SCI_SETFOLDLEVEL, (uintptr_t)line, levels[line]);
    FreeMemory(&styles);
    FreeMemory(&levels);
}

/* A header line holding the placeholder is folded, any other unfolded, so a
** folded section stays folded across a save and a reopen. */
static void FoldByPlaceholders(HWND host)
{
    int32_t lines = (int32_t)EditorSend(host, SCI_GETLINECOUNT);
    char line[1024];
    for (int32_t i = 0; i < lines; i++) {
        if (!(EditorSend(host, SCI_GETFOLDLEVEL, (uintptr_t)i) & SC_FOLDLEVELHEADERFLAG)) continue;
        int32_t n = (int32_t)EditorSend(host, SCI_LINELENGTH, (uintptr_t)i);
        int folded = 0;
        if (n < (int32_t)sizeof line) {
            EditorSend(host, SCI_GETLINE, (uintptr_t)i, (intptr_t)line);
            line[n] = 0;
            folded = strstr(line, kFoldPlaceholder) != nullptr;
        }
        int expanded = (int)EditorSend(host, SCI_GETFOLDEXPANDED, (uintptr_t)i);
        if (folded == expanded)
            EditorSend(host, SCI_FOLDLINE, (uintptr_t)i, folded ? SC_FOLDACTION_CONTRACT : SC_FOLDACTION_EXPAND);
    }
}

/* Writes or removes the placeholder of a header line after its fold changed. */
static void MarkFoldPlaceholder(HWND host, int32_t line, int folded)
{
    int32_t start = (int32_t)EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line);
    int32_t end = (int32_t)EditorSend(host, SCI_GETLINEENDPOSITION, (uintptr_t)line);
    char text[1024];
    if (end - start >= (int32_t)sizeof text) return;
    Sci_TextRangeFull range = {{start, end}, text};
    EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    const char *found = strstr(text, kFoldPlaceholder);
    if (folded && !found) {
        EditorSend(host, SCI_INSERTTEXT, (uintptr_t)end, (intptr_t)kFoldPlaceholder);
    } else if (!folded) {
        EditorSend(host, SCI_BEGINUNDOACTION);
        while (found) {
            int32_t at = start + (int32_t)(found - text);
            EditorSend(host, SCI_DELETERANGE, (uintptr_t)at, (intptr_t)(sizeof kFoldPlaceholder - 1));
            end -= (int32_t)(sizeof kFoldPlaceholder - 1);
            range = {{start, end}, text};
            EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
            found = strstr(text, kFoldPlaceholder);
        }
        EditorSend(host, SCI_ENDUNDOACTION);
    }
}

/* ---- brace matching, highlights, comments, help ------------------------------------------------------------------------ */

static int IsUnmatchedStyle(int style) { return style >= SCRIPT_STYLE_COMMENT_BRACE && style <= SCRIPT_STYLE_STRING_SINGLE; }

static void MatchBraces(HWND host)
{
    intptr_t caret = EditorSend(host, SCI_GETCURRENTPOS);
    intptr_t brace = -1, match = -1;
    if (!IsUnmatchedStyle((int)EditorSend(host, SCI_GETSTYLEAT, (uintptr_t)caret))) {
        if (caret > 0 && strchr("()[]", (int)EditorSend(host, SCI_GETCHARAT, (uintptr_t)caret - 1))) brace = caret - 1;
        if (brace >= 0) match = EditorSend(host, SCI_BRACEMATCH, (uintptr_t)brace, 0);
        if (match < 0) {
            char c = (char)EditorSend(host, SCI_GETCHARAT, (uintptr_t)caret);
            if (c && strchr("()[]", c)) {
                brace = caret;
                match = EditorSend(host, SCI_BRACEMATCH, (uintptr_t)brace, 0);
            }
        }
    }
    if (brace >= 0 && match >= 0)
        EditorSend(host, SCI_BRACEHIGHLIGHT, (uintptr_t)brace, match);
    else
        EditorSend(host, SCI_BRACEHIGHLIGHT, (uintptr_t)-1, -1);
}

void HighlightMatches(HWND host)
{
    intptr_t length = EditorSend(host, SCI_GETLENGTH);
    EditorSend(host, SCI_SETINDICATORCURRENT, EDITOR_HIGHLIGHT_INDICATOR);
    EditorSend(host, SCI_INDICATORCLEARRANGE, 0, length);
    intptr_t start = EditorSend(host, SCI_GETSELECTIONSTART), end = EditorSend(host, SCI_GETSELECTIONEND);
    if (end - start < 1 || end - start > 79) return;
    if (EditorSend(host, SCI_WORDSTARTPOSITION, (uintptr_t)start, 1) != start ||
        EditorSend(host, SCI_WORDENDPOSITION, (uintptr_t)start, 1) != end)
        return;
    char word[80];
    Sci_TextRangeFull range = {{start, end}, word};
    EditorSend(host, SCI_GETTEXTRANGEFULL, 0, (intptr_t)&range);
    for (const char *p = word; *p; p++)
        if (!IsWordCharacter(*p)) return;
    EditorRecord *record = GetEditorRecord(host);
    COLORREF back = record && record->settings ? record->settings->background : RGB(255, 255, 255);
    int light = 0.299 * GetRValue(back) + 0.587 * GetGValue(back) + 0.114 * GetBValue(back) > 128;
    EditorSend(host, SCI_INDICSETSTYLE, EDITOR_HIGHLIGHT_INDICATOR, INDIC_STRAIGHTBOX);
    EditorSend(host, SCI_INDICSETUNDER, EDITOR_HIGHLIGHT_INDICATOR, 1);
    EditorSend(host, SCI_INDICSETFORE, EDITOR_HIGHLIGHT_INDICATOR, (intptr_t)RGB(0, 127, 0));
    EditorSend(host, SCI_INDICSETALPHA, EDITOR_HIGHLIGHT_INDICATOR, light ? 30 : 225);
    EditorSend(host, SCI_INDICSETOUTLINEALPHA, EDITOR_HIGHLIGHT_INDICATOR, light ? 50 : 205);
    EditorSend(host, SCI_SETSEARCHFLAGS, SCFIND_WHOLEWORD);
    intptr_t from = 0;
    intptr_t n = end - start;
    for (;;) {
        EditorSend(host, SCI_SETTARGETRANGE, (uintptr_t)from, length);
        intptr_t at = EditorSend(host, SCI_SEARCHINTARGET, (uintptr_t)n, (intptr_t)word);
        if (at < 0) break;
        EditorSend(host, SCI_INDICATORFILLRANGE, (uintptr_t)at, n);
        from = at + n;
    }
}

static int LineIsBlank(HWND host, intptr_t line)
{
    intptr_t p = EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line);
    intptr_t end = EditorSend(host, SCI_GETLINEENDPOSITION, (uintptr_t)line);
    for (; p < end; p++) {
        char c = (char)EditorSend(host, SCI_GETCHARAT, (uintptr_t)p);
        if (c != ' ' && c != '\t') return 0;
    }
    return 1;
}

static int LineStartsWithComment(HWND host, intptr_t line)
{
    intptr_t p = EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line);
    return EditorSend(host, SCI_GETCHARAT, (uintptr_t)p) == '/' && EditorSend(host, SCI_GETCHARAT, (uintptr_t)p + 1) == '/';
}

int QuerySaveEditor(HWND host, int ask, const char *untitledName, int (*save)(HWND host, int saveAs))
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !record->modified) return 1;
    if (!record->path[0] && !gSettings.AskSaveUntitled) return 1;
    if (ask) {
        int answer = MessageBoxFormat(MB_YESNOCANCEL | MB_ICONQUESTION, "Save changes to %s?",
                                      record->path[0] ? record->path : untitledName);
        if (answer == IDCANCEL) return 0;
        if (answer == IDNO) return 1;
    }
    return save(host, 0);
}

int ToggleLineComment(HWND host, int apply)
{
    if (!GetEditorRecord(host)) return 0;
    intptr_t start = EditorSend(host, SCI_GETSELECTIONSTART), end = EditorSend(host, SCI_GETSELECTIONEND);
    intptr_t first = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)start);
    intptr_t last = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)end);
    if (last > first && EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)last) == end) last--;
    intptr_t lineCount = EditorSend(host, SCI_GETLINECOUNT);
    if (first == last && (EditorSend(host, SCI_GETFOLDLEVEL, (uintptr_t)first) & SC_FOLDLEVELHEADERFLAG)) {
        intptr_t line = first + 1;
        for (; line < lineCount; line++) {
            if (EditorSend(host, SCI_GETFOLDLEVEL, (uintptr_t)line) & SC_FOLDLEVELHEADERFLAG) break;
            intptr_t p = EditorSend(host, SCI_GETLINEINDENTPOSITION, (uintptr_t)line);
            if (EditorSend(host, SCI_GETSTYLEAT, (uintptr_t)p) == SCRIPT_STYLE_SECTION) break;
        }
        last = line - 1;
    }
    intptr_t decider = first;
    while (decider <= last && LineIsBlank(host, decider)) decider++;
    if (decider > last) return 0;
    int uncomment = LineStartsWithComment(host, decider);
    if (!apply) return uncomment;
    EditorSend(host, SCI_BEGINUNDOACTION);
    for (intptr_t line = first; line <= last; line++) {
        intptr_t p = EditorSend(host, SCI_POSITIONFROMLINE, (uintptr_t)line);
        if (uncomment) {
            if (LineStartsWithComment(host, line)) EditorSend(host, SCI_DELETERANGE, (uintptr_t)p, 2);
        } else if (!LineIsBlank(host, line)) {
            EditorSend(host, SCI_INSERTTEXT, (uintptr_t)p, (intptr_t) "//");
        }
    }
    EditorSend(host, SCI_ENDUNDOACTION);
    return 1;
}

/* The run of keyword characters around position. */
static int32_t KeyAround(HWND host, const char *text, int32_t length, int32_t position, char *out, int32_t size)
{
    int32_t start = position, end = position;
    auto keyChar = [](char c) { return isalnum((unsigned char)c) || c == '_' || c == '.'; };
    while (start > 0 && keyChar(text[start - 1])) start--;
    while (end < length && keyChar(text[end])) end++;
    return CopyString(out, size, text + start, end - start);
}

void ShowEditorHelp(HWND host)
{
    EditorRecord *record = GetEditorRecord(host);
    int topic = HELP_TOPIC_SCRIPT_WINDOW;
    if (record && record->inDialog)
        topic = GetDlgCtrlID(record->editor) == 1047 ? HELP_TOPIC_DEBUG_PANEL : HELP_TOPIC_DIALOG_EDITOR;
    else if (record && record->settings == &gLogEditorSettings)
        topic = HELP_TOPIC_LOG_WINDOW;
    int32_t caret = record ? (int32_t)EditorSend(host, SCI_GETCURRENTPOS) : 0;
    int32_t length = 0;
    const char *text = caret > 0 ? EditorDocumentText(host, &length) : nullptr;
    char key[EDITOR_TEXT_SIZE] = "";
    if (text) {
        int style = (int)EditorSend(host, SCI_GETSTYLEAT, (uintptr_t)caret - 1);
        if (style == SCRIPT_STYLE_INFO || (style >= SCRIPT_STYLE_STAT_ITEM && style <= SCRIPT_STYLE_FUNCTION)) {
            intptr_t selStart = EditorSend(host, SCI_GETSELECTIONSTART), selEnd = EditorSend(host, SCI_GETSELECTIONEND);
            if (selEnd > selStart)
                CopyString(key, sizeof key, text + selStart, (int)(selEnd - selStart));
            else {
                intptr_t start = EditorSend(host, SCI_WORDSTARTPOSITION, (uintptr_t)caret - 1, 1);
                intptr_t end = EditorSend(host, SCI_WORDENDPOSITION, (uintptr_t)caret - 1, 1);
                CopyString(key, sizeof key, text + start, (int)(end - start));
            }
        } else {
            for (int32_t p = caret - 1; p >= 0; p--) {
                int s = (int)EditorSend(host, SCI_GETSTYLEAT, (uintptr_t)p);
                if (s != SCRIPT_STYLE_SECTION && s != SCRIPT_STYLE_SECTION_ITEM) continue;
                int32_t n = KeyAround(host, text, length, p, key, sizeof key - 8);
                int32_t section = 0;
                for (int32_t q = p; q > 0 && !section; q--)
                    if (EditorSend(host, SCI_GETSTYLEAT, (uintptr_t)q) == SCRIPT_STYLE_SECTION)
                        section = SectionAtPosition(text, length, q);
                FormatText(key + n, sizeof key - (size_t)n, "%d", (int)HelpSectionNumber(section));
                break;
            }
        }
    }
    int32_t found = HelpTopicForKey(key);
    if (found) topic = found;
    OpenHelp(topic);
    gFrame.helpAnswered = 1;
}

/* ---- messages and notifications ------------------------------------------------------------------------- */

static void ShowCaretStatus(HWND host)
{
    if (host != gFrame.activeChild || gRun.state != RUN_IDLE) return;
    intptr_t caret = EditorSend(host, SCI_GETCURRENTPOS);
    intptr_t line = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)caret);
    intptr_t column = EditorSend(host, SCI_GETCOLUMN, (uintptr_t)caret);
    intptr_t length = EditorSend(host, SCI_GETLENGTH);
    char count[64];
    FormatDouble((double)length, 0, 0, count);
    SetStatusText(gSettings.StatusBarFields, "Ln %d, Col %d", (int)line + 1, (int)column + 1);
    SetStatusText(gSettings.StatusBarFields + 1, "%s Char%s", count, length == 1 ? "" : "s");
}

int EditorHostProc(HWND host, UINT message, WPARAM wParam, LPARAM lParam)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || record->editor != GetWindow(host, GW_CHILD)) return 1;
    switch (message) {
    case WM_ERASEBKGND: return 0;
    case WM_DESTROY:
        if (record->findDialog) {
            /* The dialog's closing request would find no record any more. */
            HWND dialog = record->findDialog;
            record->findDialog = nullptr;
            UnregisterFindDialog(dialog);
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
        FreeEditorRecord(host);
        return 1; /* the window's own procedure still tidies up */
    case WM_SIZE: {
        RECT r;
        GetClientRect(host, &r);
        MoveWindow(record->editor, 0, 0, r.right, r.bottom, TRUE);
    }
        [[fallthrough]];
    case WM_MOVE:
        if (!IsZoomed(host) && !IsIconic(host) && record->settings) {
            RECT r;
            GetWindowRect(host, &r);
            record->settings->width = r.right - r.left;
            record->settings->height = r.bottom - r.top;
        }
        return 1;
    case WM_NOTIFY: {
        NMHDR *header = (NMHDR *)lParam;
        if (header->hwndFrom != record->editor) return 1;
        switch (header->code) {
        case SCN_SAVEPOINTREACHED:
            record->modified = 0;
            MarkTitleModified(host, 0);
            return 0;
        case SCN_SAVEPOINTLEFT:
            record->modified = 1;
            MarkTitleModified(host, 1);
            return 0;
        case SCN_UPDATEUI:
            PostMessageA(gFrame.frame, WM_FRAME_REFRESH, 0, 0);
            ShowCaretStatus(host);
            return 1;
        default: return 1;
        }
    }
    case WM_MDIACTIVATE:
        OnMdiChildActivate(host, (HWND)wParam, (HWND)lParam);
        /* Runs use the script of the window last activated. */
        if ((HWND)lParam == host && record->opened && !record->test && FindWindowKind(host) == WK_SCRIPT)
            SetActiveScript(record->path);
        if ((HWND)wParam == host && gRun.state == RUN_IDLE) {
            SetStatusText(gSettings.StatusBarFields, "");
            SetStatusText(gSettings.StatusBarFields + 1, "");
        }
        return 1;
    case WM_SETFOCUS: SetFocus(record->editor); return 0;
    default: break;
    }
    if (gFrame.findMessage && message == gFrame.findMessage) {
        OnFindDialogRequest(host);
        return 0;
    }
    return 1;
}

void OnEditorNotify(HWND host, SCNotification *n)
{
    EditorRecord *record = GetEditorRecord(host);
    if (!record || !n) return;
    switch (n->nmhdr.code) {
    case SCN_STYLENEEDED:
        StyleScriptText(host);
        if (!record->inDialog) FoldByPlaceholders(host);
        break;
    case SCN_CHARADDED: {
        intptr_t line = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)EditorSend(host, SCI_GETCURRENTPOS));
        if (EditorSend(host, SCI_GETFOLDLEVEL, (uintptr_t)line) & SC_FOLDLEVELHEADERFLAG)
            EditorSend(host, SCI_SETFOLDEXPANDED, (uintptr_t)line, 1);
        int c = n->ch;
        if (c == '\n')
            EditorOnEnter(host);
        else if ((c == '(' || c == ',') && gSettings.ScriptCallTips)
            ShowItemCalltip(host);
        else if (c == ')' && gSettings.ScriptCallTips) {
            EditorSend(host, SCI_CALLTIPCANCEL);
            record->calltipItem = 0;
        } else if (c > 0 && c < 256 && IsWordCharacter((char)c) && gSettings.ScriptAutoComp)
            record->pendingSuggestion = 1;
        break;
    }
    case SCN_UPDATEUI:
        if (gSettings.ScriptHighlightOther) HighlightMatches(host);
        if (record->pendingSuggestion) SuggestAfterTyping(host);
        MatchBraces(host);
        break;
    case SCN_MODIFIED:
        if ((n->modificationType & (SC_MOD_INSERTTEXT | SC_MOD_DELETETEXT)) && gSettings.ScriptDynamicTabs &&
            !record->inDialog) {
            /* An Undo or Redo of many changes (a Replace All) is worked out
            ** once, at its last step, as the replacement itself is. */
            const int partOfMany =
                (n->modificationType & SC_MULTISTEPUNDOREDO) && !(n->modificationType & SC_LASTSTEPINUNDOREDO);
            if (record->tabsHeld || partOfMany)
                record->tabsStale = 1;
            else
                UpdateDynamicTabs(host);
        }
        break;
    case SCN_MARGINCLICK: {
        intptr_t line = EditorSend(host, SCI_LINEFROMPOSITION, (uintptr_t)n->position);
        if (n->margin == 0) {
            EditorSend(host, SCI_GOTOLINE, (uintptr_t)line);
            ToggleLineComment(host, 1);
        } else if (n->margin == 1 && (EditorSend(host, SCI_GETFOLDLEVEL, (uintptr_t)line) & SC_FOLDLEVELHEADERFLAG)) {
            EditorSend(host, SCI_TOGGLEFOLD, (uintptr_t)line);
            if (!record->readOnly && !EditorSend(host, SCI_GETREADONLY))
                MarkFoldPlaceholder(host, (int32_t)line, !EditorSend(host, SCI_GETFOLDEXPANDED, (uintptr_t)line));
        }
        break;
    }
    case SCN_USERLISTSELECTION:
    case SCN_AUTOCSELECTION:
        if (n->text) InsertAutoCompleteWord(host, n->text);
        break;
    case SCN_ZOOM: {
        if (sHost.zoomGuard) break;
        int zoom = (int)EditorSend(host, SCI_GETZOOM);
        if (record->inDialog) {
            gSettings.DebugZoomLevel = zoom;
            break;
        }
        gSettings.ScriptZoomLevel = zoom;
        HWND child = nullptr;
        while (FindNextChildWindow(&child, "KestovarScript")) {
            if (child != host) SetEditorZoom(child, zoom);
            UpdateDynamicTabs(child);
        }
        break;
    }
    default: break;
    }
    UpdateCalltipHighlight(host);
}
