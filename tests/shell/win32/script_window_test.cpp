#include <gtest/gtest.h>

#include <Scintilla.h>

#include <cstring>
#include <cstdlib>
#include <string>

#include "engine/results_file.h"
#include "engine/walk_forward.h"
#include "foundation/allocator.h"
#include "records/test_records.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/strategy.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "frame_fixture.h"
#include "platform/platform.h"
#include "shell/script_style.h"
#include "services/services.h"
#include "resources/resource_ids.h"
#include "shell/win32/editor_host.h"
#include "shell/win32/shell_win32.h"
#include "foundation/win32/settings_dialog.h"
#include "shell/win32/script_window.h"
#include "support/test_support.h"

namespace {

std::string Title(HWND window)
{
    char text[300] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string Text(HWND window)
{
    int32_t length = 0;
    const char *text = EditorDocumentText(window, &length);
    return text ? std::string(text, (size_t)length) : "<none>";
}

void Type(HWND window, const char *text)
{
    EditorCall(window, SCI_DOCUMENTEND, 0, 0);
    EditorCall(window, SCI_REPLACESEL, 0, (intptr_t)text);
}

bool SawText(const std::string &text)
{
    for (const std::string &seen : DialogWatcher::Seen())
        if (seen.find(text) != std::string::npos) return true;
    return false;
}

struct ScriptWindowTest : FrameTest {
    void SetUp() override
    {
        FrameTest::SetUp();
        CopyString(gScriptsFolder, sizeof gScriptsFolder, folder.c_str(), -1);
        gSettings.MaxBackups = 2;
    }
};

} // namespace

TEST_F(ScriptWindowTest, OpensEditsAndSavesWithNumberedBackups)
{
    std::string path = File("edit.kvs");
    WriteTestFile(path, "Data:\r\n");
    PlatDeleteFile(File("Backups\\edit(1).kvs").c_str());
    PlatDeleteFile(File("Backups\\edit(2).kvs").c_str());
    ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
    HWND window = gFrame.activeChild;
    ASSERT_EQ(FindWindowKind(window), WK_SCRIPT);
    EXPECT_EQ(Text(window), "Data:\r\n");
    EXPECT_EQ(Title(window), "Active Script - " + path);
    EXPECT_STREQ(gSettings.ActiveScript, path.c_str());

    Type(window, "\tx: Close\r\n");
    Pump();
    EXPECT_EQ(Title(window), "Active Script - " + path + "*");
    ASSERT_EQ(SaveScript(window, 0), 1);
    EXPECT_EQ(ReadTestFile(path), "Data:\r\n\tx: Close\r\n");
    EXPECT_EQ(ReadTestFile(File("Backups\\edit(1).kvs")), "Data:\r\n");
    EXPECT_EQ(Title(window), "Active Script - " + path);

    Type(window, "\ty: Open\r\n");
    ASSERT_EQ(SaveScript(window, 0), 1);
    EXPECT_EQ(ReadTestFile(File("Backups\\edit(1).kvs")), "Data:\r\n\tx: Close\r\n");
    EXPECT_EQ(ReadTestFile(File("Backups\\edit(2).kvs")), "Data:\r\n");
    // Saving an unmodified titled script writes nothing: no third backup round.
    ASSERT_EQ(SaveScript(window, 0), 1);
    EXPECT_EQ(ReadTestFile(File("Backups\\edit(1).kvs")), "Data:\r\n\tx: Close\r\n");

    // The same path (another case) activates the open window.
    std::string upper = path;
    for (char &c : upper) c = (char)toupper((unsigned char)c);
    ASSERT_EQ(OpenScript(upper.c_str(), nullptr), 1);
    EXPECT_EQ(CountChildren("KestovarScript"), 1);
    EXPECT_EQ(FindScriptWindow(path.c_str()), (void *)window);

    EXPECT_EQ(OpenScript(File("missing.kvs").c_str(), nullptr), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_TRUE(SawText("Unable to access " + File("missing.kvs")));
    EXPECT_EQ(CountChildren("KestovarScript"), 1);
}

/* A script written elsewhere keeps its kind of line end and its UTF-8 byte
** order mark: Enter adds a bare line feed to a file of line feeds, and the
** save writes the mark again. */
TEST_F(ScriptWindowTest, LineEndsAndAByteOrderMarkStayAsTheFileHasThem)
{
    struct Case {
        const char *name, *file, *shown, *saved;
    } cases[] = {
        {"lf.kvs", "\xEF\xBB\xBF" "Data:\n", "Data:\n\n", "\xEF\xBB\xBF" "Data:\n\n"},
        {"crlf.kvs", "Data:\r\n", "Data:\r\n\r\n", "Data:\r\n\r\n"},
        {"bare.kvs", "Data:", "Data:\r\n\t", "Data:\r\n\t"}, /* indented under its section */
    };
    for (const Case &c : cases) {
        const std::string path = File(c.name);
        WriteTestFile(path, c.file);
        ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
        HWND window = FindScriptWindow(path.c_str(), 1, nullptr);
        ASSERT_NE(window, nullptr);
        EditorCall(window, SCI_DOCUMENTEND, 0, 0);
        EditorCall(window, SCI_NEWLINE, 0, 0);
        Pump();
        EXPECT_EQ(Text(window), c.shown) << c.name;
        ASSERT_EQ(SaveScript(window, 0), 1);
        EXPECT_EQ(ReadTestFile(path), c.saved) << c.name;
    }
}

/* The WalkForward section of an optimization opens the active script's
** editor when none shows it and appends the section there, leaving the file
** to the editor's save.  A second section brings the same editor forward. */
TEST_F(ScriptWindowTest, AWalkForwardSectionGoesIntoTheActiveScriptsEditor)
{
    const std::string path = File("wf.kvs");
    WriteTestFile(path, "Data:\r\n");
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, path.c_str(), -1);
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
    gSettings.FirstDate = 20240102;
    gSettings.LastDate = 20240329;
    gSettings.OptTimeUnit = 0;
    gSettings.OptTestLength = gSettings.OptTestInterval = 1;
    const int32_t at = AddDefinitionRecord(&gParameters, sizeof(Parameter));
    ASSERT_GE(at, 0);
    Parameter *p = &((Parameter *)gParameters.items)[at];
    CopyString(p->name, sizeof p->name, "Len", -1);
    ASSERT_TRUE(AllocMemory(&p->values, 2 * sizeof(double)));
    p->values[0] = 5;
    p->values[1] = 10;
    p->valueCount = p->valueCapacity = 2;
    const std::string section = "\r\nWalkForward: // unit=None, length=1, offset=1\r\n\tDates: 2024-01-02, 2024-03-29\r\n\tLen: 5\r\n";
    void *editor = nullptr;
    ASSERT_EQ(1, InsertWalkForwardSection(&editor));
    HWND window = (HWND)editor;
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(window, gFrame.activeChild);
    EXPECT_EQ(Text(window), "Data:\r\n" + section);
    EXPECT_EQ(ReadTestFile(path), "Data:\r\n");

    ASSERT_EQ(OpenScript(nullptr, nullptr), 1); /* another window in front */
    HWND other = gFrame.activeChild;
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, path.c_str(), -1); /* a run's script */
    gWalkForwardDates.count = 0;
    p->walkCount = 0;
    ASSERT_EQ(1, InsertWalkForwardSection(&editor));
    EXPECT_EQ(window, (HWND)editor);
    EXPECT_EQ(window, gFrame.activeChild);
    EXPECT_EQ(Text(window), "Data:\r\n" + section + section);
    EXPECT_EQ(CountChildren("KestovarScript"), 2);

    for (HWND w : {window, other}) {
        EditorCall(w, SCI_SETSAVEPOINT, 0, 0);
        SendMessageA(w, WM_CLOSE, 0, 0);
    }
    Pump();
    FreeMemory(&p->values);
    FreeMemory(&p->walkValues);
    FreeDefinitionList(&gParameters);
    gWalkForwardDates.count = 0;
}

TEST_F(ScriptWindowTest, ClosingAModifiedScriptAsks)
{
    struct Case {
        int answer;
        bool closes;
        const char *fileAfter;
    } cases[] = {
        {IDCANCEL, false, "a\r\n"},
        {IDNO, true, "a\r\n"},
        {IDYES, true, "a\r\nb"},
    };
    std::string path = File("close.kvs");
    for (const Case &c : cases) {
        WriteTestFile(path, "a\r\n");
        ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
        HWND window = gFrame.activeChild;
        Type(window, "b");
        DialogWatcher::Clear();
        DialogWatcher::Answer(c.answer);
        SendMessageA(window, WM_CLOSE, 0, 0);
        Pump();
        EXPECT_TRUE(SawText("Save changes to " + path + "?")) << c.answer;
        EXPECT_EQ(IsWindow(window) == FALSE, c.closes) << c.answer;
        EXPECT_EQ(ReadTestFile(path), c.fileAfter) << c.answer;
        if (IsWindow(window)) {
            EditorCall(window, SCI_SETSAVEPOINT, 0, 0);
            SendMessageA(window, WM_CLOSE, 0, 0);
            Pump();
        }
        EXPECT_EQ(CountChildren("KestovarScript"), 0) << c.answer;
    }
}

TEST_F(ScriptWindowTest, NewScriptsStartFromTheTemplateUntitled)
{
    WriteTestFile(File("newscript.kvs"), "// new\r\n");
    ASSERT_EQ(OpenScript(nullptr, nullptr), 1);
    HWND window = gFrame.activeChild;
    EXPECT_EQ(Text(window), "// new\r\n");
    EXPECT_EQ(Title(window), "Active Script - (untitled)");
    EXPECT_EQ(GetEmptyActiveScriptWindow(), (void *)window);
    EXPECT_STREQ(gSettings.ActiveScript, "(untitled)");
    // Unchanged, it closes without a question; changed, it does too while
    // AskSaveUntitled is off.
    DialogWatcher::Clear();
    SendMessageA(window, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(IsWindow(window));
    ASSERT_EQ(OpenScript("(untitled)", nullptr), 1);
    window = gFrame.activeChild;
    Type(window, "x");
    SendMessageA(window, WM_CLOSE, 0, 0);
    Pump();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(DialogWatcher::Seen().empty());
    PlatDeleteFile(File("newscript.kvs").c_str());
}

TEST_F(ScriptWindowTest, ATestsScriptIsReadOnlyAndFoldsWithoutWriting)
{
    TestRecord test = {};
    test.testNumber = 3;
    char script[] = "Data:\r\n\tx: Close\r\nResults:\r\n\ty: x\r\n";
    test.settings.scriptText = script;
    ASSERT_EQ(OpenScript(nullptr, &test), 1);
    HWND window = gFrame.activeChild;
    EXPECT_EQ(Title(window), "Test 3 Script (read-only)");
    EXPECT_EQ(EditorCall(window, SCI_GETREADONLY, 0, 0), 1);
    EXPECT_EQ(Text(window), script);
    ASSERT_EQ(OpenScript(nullptr, &test), 1); // the same test's window again
    EXPECT_EQ(CountChildren("KestovarScript"), 1);

    StyleScriptText(window);
    SCNotification click = {};
    click.nmhdr.hwndFrom = GetEditorRecord(window)->editor;
    click.nmhdr.code = SCN_MARGINCLICK;
    click.margin = 1;
    click.position = 0;
    SendMessageA(window, WM_NOTIFY, EDITOR_CONTROL_ID, (LPARAM)&click);
    EXPECT_EQ(EditorCall(window, SCI_GETFOLDEXPANDED, 0, 0), 0);
    EXPECT_EQ(Text(window), script);
}

TEST_F(ScriptWindowTest, FoldingAWritableSectionMarksItsHeader)
{
    std::string path = File("fold.kvs");
    WriteTestFile(path, "Data:\r\n\tx: Close\r\nResults:\r\n\ty: x\r\n");
    ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
    HWND window = gFrame.activeChild;
    StyleScriptText(window);
    SCNotification click = {};
    click.nmhdr.hwndFrom = GetEditorRecord(window)->editor;
    click.nmhdr.code = SCN_MARGINCLICK;
    click.margin = 1;
    click.position = (Sci_Position)EditorCall(window, SCI_POSITIONFROMLINE, 2, 0); // "Results:"
    SendMessageA(window, WM_NOTIFY, EDITOR_CONTROL_ID, (LPARAM)&click);
    Pump();
    EXPECT_EQ(Text(window), "Data:\r\n\tx: Close\r\nResults:{...}\r\n\ty: x\r\n");
    EXPECT_EQ(Title(window), "Active Script - " + path + "*");
    SendMessageA(window, WM_NOTIFY, EDITOR_CONTROL_ID, (LPARAM)&click);
    Pump();
    EXPECT_EQ(Text(window), "Data:\r\n\tx: Close\r\nResults:\r\n\ty: x\r\n");
    EXPECT_EQ(EditorCall(window, SCI_GETFOLDEXPANDED, 2, 0), 1);

    // A file saved with the placeholder opens with its section folded.
    WriteTestFile(File("folded.kvs"), "Data:{...}\r\n\tx: Close\r\nResults:\r\n\ty: x\r\n");
    ASSERT_EQ(OpenScript(File("folded.kvs").c_str(), nullptr), 1);
    HWND folded = gFrame.activeChild;
    SCNotification style = {};
    style.nmhdr.hwndFrom = GetEditorRecord(folded)->editor;
    style.nmhdr.code = SCN_STYLENEEDED;
    SendMessageA(folded, WM_NOTIFY, EDITOR_CONTROL_ID, (LPARAM)&style);
    EXPECT_EQ(EditorCall(folded, SCI_GETFOLDEXPANDED, 0, 0), 0);
    EXPECT_EQ(EditorCall(folded, SCI_GETFOLDEXPANDED, 2, 0), 1);
}

namespace {

/* What a Find or Replace dialog sends: its texts and flags, then the
** registered message to the owner. */
void Request(HWND window, const char *find, const char *replace, DWORD flags)
{
    EditorRecord *record = GetEditorRecord(window);
    MultiByteToWideChar(CP_UTF8, 0, find, -1, record->findTyped, EDITOR_TEXT_SIZE);
    MultiByteToWideChar(CP_UTF8, 0, replace, -1, record->replaceTyped, EDITOR_TEXT_SIZE);
    record->findReplace.Flags = flags;
    SendMessageA(window, gFrame.findMessage, 0, (LPARAM)&record->findReplace);
}

std::string Selected(HWND window)
{
    intptr_t start = EditorCall(window, SCI_GETSELECTIONSTART, 0, 0);
    intptr_t end = EditorCall(window, SCI_GETSELECTIONEND, 0, 0);
    return std::to_string(start) + "-" + std::to_string(end);
}

} // namespace

TEST_F(ScriptWindowTest, FindAndReplaceRoundTrips)
{
    const char *original = "alpha beta\talpha\r\nAlpha a\\tb\r\n";
    std::string path = File("find.kvs");
    WriteTestFile(path, original);
    ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
    HWND window = gFrame.activeChild;

    // The Find dialog opens on the word at the caret, searching down.
    EditorCall(window, SCI_GOTOPOS, 2, 0);
    FindReplaceInEditor(window, 1, 0);
    EditorRecord *record = GetEditorRecord(window);
    ASSERT_NE(record->findDialog, nullptr);
    EXPECT_STREQ(record->findText, "alpha");

    struct Case {
        const char *find, *replace;
        DWORD flags;
        int caret;
        int answer; /* to the question whether to search from the other end */
        const char *text, *selection, *message;
    } cases[] = {
        {"alpha", "X", FR_DOWN | FR_REPLACEALL | FR_MATCHCASE, 30, IDOK, "X beta\tX\r\nAlpha a\\tb\r\n", nullptr,
         "2 occurence(s) of 'alpha' replaced with 'X'"},
        {"alpha", "X", FR_DOWN | FR_REPLACEALL, 30, IDOK, "X beta\tX\r\nX a\\tb\r\n", nullptr,
         "3 occurence(s) of 'alpha' replaced with 'X'"},
        {"\\t", " ", FR_DOWN | FR_REPLACEALL, 0, IDOK, "alpha beta alpha\r\nAlpha a\\tb\r\n", nullptr, "1 occurence(s)"},
        {"\\\\t", "T", FR_DOWN | FR_REPLACEALL, 0, IDOK, "alpha beta\talpha\r\nAlpha aTb\r\n", nullptr, "1 occurence(s)"},
        {"zzz", "X", FR_DOWN | FR_REPLACEALL, 0, IDOK, original, nullptr, "No occurences of 'zzz' were found"},
        {"zzz", "", FR_DOWN | FR_FINDNEXT, 0, IDOK, original, nullptr, "'zzz' not found."},
        {"alph", "", FR_DOWN | FR_FINDNEXT | FR_WHOLEWORD, 0, IDOK, original, nullptr, "'alph' not found."},
        {"alpha", "", FR_DOWN | FR_FINDNEXT, 6, IDOK, original, "11-16", nullptr},
        {"alpha", "", FR_DOWN | FR_FINDNEXT | FR_MATCHCASE, 12, IDOK, original, "0-5", "Search from beginning?"},
        {"alpha", "", FR_DOWN | FR_FINDNEXT, 20, IDOK, original, "0-5", "not found below here. Search from beginning?"},
        {"alpha", "", FR_FINDNEXT, 10, IDOK, original, "0-5", nullptr},
        {"beta", "B", FR_DOWN | FR_REPLACE, 6, IDCANCEL, "alpha B\talpha\r\nAlpha a\\tb\r\n", "6-7",
         "not found below here"},
    };
    for (const Case &c : cases) {
        SetEditorText(window, original, (int32_t)strlen(original));
        EditorCall(window, SCI_GOTOPOS, (uintptr_t)c.caret, 0);
        DialogWatcher::Clear();
        DialogWatcher::Answer(c.answer);
        Request(window, c.find, c.replace, c.flags);
        Pump();
        EXPECT_EQ(Text(window), c.text) << c.find << " " << c.flags;
        if (c.selection) {
            EXPECT_EQ(Selected(window), c.selection) << c.find << " " << c.flags;
        }
        if (c.message) {
            EXPECT_TRUE(SawText(c.message)) << c.find << " " << c.flags;
        }
        EXPECT_STREQ(record->findText, c.find) << "the typed text stays as typed";
    }
}

/* The dialogs show and take letters: a word outside ASCII at the caret
** shows as typed, and what is typed is found and written in the script's
** UTF-8 (é is C3 A9, two bytes of the editor's positions). */
TEST_F(ScriptWindowTest, FindAndReplaceTakeTheLettersTyped)
{
    const char *original = "// caf\xC3\xA9 test\r\ntest caf\xC3\xA9\r\n";
    std::string path = File("letters.kvs");
    WriteTestFile(path, original);
    ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
    HWND window = gFrame.activeChild;
    EditorCall(window, SCI_GOTOPOS, 4, 0);
    FindReplaceInEditor(window, 1, 0);
    EditorRecord *record = GetEditorRecord(window);
    ASSERT_NE(record->findDialog, nullptr);
    WCHAR shown[64] = L"";
    GetDlgItemTextW(record->findDialog, 0x480, shown, 64); /* the dialog's find box */
    EXPECT_STREQ(shown, L"caf\u00E9");

    EditorCall(window, SCI_GOTOPOS, 9, 0);
    DialogWatcher::Clear();
    Request(window, "caf\xC3\xA9", "", FR_DOWN | FR_FINDNEXT);
    Pump();
    EXPECT_EQ(Selected(window), "20-25");
    EXPECT_FALSE(SawText("not found"));

    Request(window, "test", "t\xC3\xA9st", FR_DOWN | FR_REPLACEALL);
    Pump();
    EXPECT_EQ(Text(window), "// caf\xC3\xA9 t\xC3\xA9st\r\nt\xC3\xA9st caf\xC3\xA9\r\n");
    EXPECT_STREQ(record->replaceText, "t\xC3\xA9st");
    EXPECT_TRUE(SawText("2 occurence(s) of 'test' replaced with 't\xC3\xA9st'"));
    Request(window, "Z\xC3\xBCrich", "", FR_DOWN | FR_FINDNEXT);
    Pump();
    EXPECT_TRUE(SawText("'Z\xC3\xBCrich' not found.")) << "the message shows the letters typed";
    SendMessageA(record->findDialog, WM_COMMAND, IDCANCEL, 0);
    Pump();
}

/* Replace All in a long script with aligned tab stops answers at once (the
** stops are worked out once, not after each of hundreds of changes), takes
** the stops the new text asks for, and one Undo takes all of it back. */
TEST_F(ScriptWindowTest, ReplaceAllAnswersAtOnceAndUndoesInOneStep)
{
    gSettings.ScriptDynamicTabs = 1;
    std::string original = "Rules:\r\n";
    for (int i = 1; i < 1903; i++)
        original += i % 5 ? "\tx" + std::to_string(i) + ":\tClose\r\n" : "\tr" + std::to_string(i) + ":\tRSI(2)\r\n";
    std::string expected = original;
    for (size_t at = expected.find("RSI(2)"); at != std::string::npos; at = expected.find("RSI(2)", at))
        expected.replace(at, 6, "RSI(3)");
    std::string path = File("long.kvs");
    WriteTestFile(path, original);
    ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
    HWND window = gFrame.activeChild;
    /* Line 1 is "\tx1:\tClose": its second stop ends the labels' cell. */
    const intptr_t first = EditorCall(window, SCI_GETNEXTTABSTOP, 1, 1);
    const intptr_t stop = EditorCall(window, SCI_GETNEXTTABSTOP, 1, first);
    ASSERT_GT(stop, first);

    DialogWatcher::Clear();
    ULONGLONG started = GetTickCount64();
    Request(window, "RSI(2)", "RSI(3)", FR_DOWN | FR_REPLACEALL);
    EXPECT_LT(GetTickCount64() - started, 2000u);
    Pump();
    EXPECT_TRUE(SawText("380 occurence(s) of 'RSI(2)' replaced with 'RSI(3)'"));
    EXPECT_TRUE(Text(window) == expected);
    EXPECT_EQ(EditorCall(window, SCI_GETNEXTTABSTOP, 1, first), stop);

    /* Every label longer: the first tab stop moves right, once. */
    started = GetTickCount64();
    Request(window, ":\t", "_with_a_longer_name:\t", FR_DOWN | FR_REPLACEALL);
    EXPECT_LT(GetTickCount64() - started, 2000u);
    Pump();
    EXPECT_GT(EditorCall(window, SCI_GETNEXTTABSTOP, 1, first), stop);

    started = GetTickCount64();
    EditorCall(window, SCI_UNDO, 0, 0);
    EXPECT_LT(GetTickCount64() - started, 2000u);
    EXPECT_TRUE(Text(window) == expected);
    EXPECT_EQ(EditorCall(window, SCI_GETNEXTTABSTOP, 1, first), stop);
    EditorCall(window, SCI_UNDO, 0, 0);
    EXPECT_TRUE(Text(window) == original);
    EXPECT_EQ(EditorCall(window, SCI_CANUNDO, 0, 0), 0);
}

namespace {

/* The tree as "text{children}" items. */
std::string Dump(HWND tree, HTREEITEM item)
{
    std::string out;
    for (; item; item = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)item)) {
        char text[300] = "";
        TVITEMA tv = {};
        tv.mask = TVIF_TEXT;
        tv.hItem = item;
        tv.pszText = text;
        tv.cchTextMax = sizeof text;
        SendMessageA(tree, TVM_GETITEMA, 0, (LPARAM)&tv);
        out += text;
        HTREEITEM child = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)item);
        if (child) out += "{" + Dump(tree, child) + "}";
        out += ";";
    }
    return out;
}

} // namespace

namespace {

std::wstring Wide(const std::string &text)
{
    WCHAR wide[1024] = L"";
    MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide, 1024);
    return wide;
}

std::wstring WideItem(HWND tree, HTREEITEM item)
{
    WCHAR text[300] = L"";
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = 300;
    SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&tv);
    return text;
}

} // namespace

/* A folder named outside ASCII typed into the box, files named outside ASCII
** in it and a word typed outside ASCII: every file is searched, the tree
** shows their names' letters, and a hit opens its file. */
TEST_F(ScriptWindowTest, FindInFilesTakesNamesAndWordsAsTyped)
{
    const std::string root = File("donn\xC3\xA9" "es");
    const std::string first = "strat\xC3\xA9gie \xE2\x82\xAC.kvs", second = "\xD0\x96.kvs";
    ASSERT_TRUE(PlatCreateFolder(root.c_str()));
    WriteTestFile(root + "\\" + first, "// Z\xC3\xBCrich caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve \xC2\xBD\r\nx: caf\xC3\xA9\r\n");
    WriteTestFile(root + "\\" + second, "cafe\r\ny: CAF\xC3\xA9\r\n");
    CopyString(gSettings.FindTypes, sizeof gSettings.FindTypes, "*.kvs", -1);
    gSettings.IncludeSubfolders = 0;
    gSettings.MatchFase = 0;
    gSettings.WholeWord = 0;
    OpenFindInFiles();
    HWND dialog = gFrame.findInFiles;
    ASSERT_NE(dialog, nullptr);
    SetDlgItemTextW(dialog, IDC_FIF_FOLDER, Wide(root).c_str());
    SetDlgItemTextW(dialog, IDC_FIF_WHAT, L"caf\u00E9");
    SendMessageA(dialog, WM_COMMAND, IDC_FIF_FIND_ALL, 0);
    EXPECT_STREQ(gSettings.FindFolder, root.c_str());
    EXPECT_STREQ(gSettings.FindWhat, "caf\xC3\xA9");
    char label[100] = "";
    GetDlgItemTextA(dialog, IDC_FIF_LABEL, label, sizeof label);
    EXPECT_STREQ(label, "Found 3 instances:");
    HWND tree = GetDlgItem(dialog, IDC_FIF_TREE);
    HTREEITEM folder = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    EXPECT_EQ(WideItem(tree, folder), Wide(root));
    HTREEITEM file = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)folder);
    EXPECT_EQ(WideItem(tree, file), Wide(first));
    HTREEITEM hit = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)file);
    EXPECT_EQ(WideItem(tree, hit), Wide("0001: // Z\xC3\xBCrich caf\xC3\xA9 \xE2\x80\x94 na\xC3\xAFve \xC2\xBD"));
    HTREEITEM other = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, (LPARAM)file);
    EXPECT_EQ(WideItem(tree, other), Wide(second));
    HoldForScreenshot();

    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)hit);
    ASSERT_EQ(OpenFindInFilesHit(dialog), 1);
    HWND window = FindScriptWindow((root + "\\" + first).c_str(), 1, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(Selected(window), "11-16");
    WCHAR title[300] = L"";
    GetWindowTextW(window, title, 300);
    EXPECT_NE(std::wstring(title).find(Wide(first)), std::wstring::npos);
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    Pump();
}

/* Names outside ASCII, of the code page (é, €) and beyond it (Cyrillic):
** the panel's boxes show their letters and give back UTF-8, the recent
** files menu and a script window's title show them. */
TEST_F(ScriptWindowTest, BoxesMenusAndTitlesShowANamesLetters)
{
    const std::string folder8 = File("donn\xC3\xA9" "es");
    ASSERT_TRUE(PlatCreateFolder(folder8.c_str()));
    const std::string script = folder8 + "\\strat\xC3\xA9gie \xE2\x82\xAC.kvs";
    const std::string cyrillic = folder8 + "\\\xD0\x9F\xD1\x80\xD0\xBE.kvs";
    const std::string data = folder8 + "\\\xD0\x94.kvd";
    WriteTestFile(script, "Data:\r\n");
    WriteTestFile(cyrillic, "Data:\r\n");
    WriteTestFile(data, "");
    HWND panel = gFrame.settingsPanel;
    ASSERT_NE(panel, nullptr);
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, script.c_str(), -1);
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, data.c_str(), -1);
    SettingsToDialog(panel, IDD_SETTINGS_PANEL, IDC_SP_SCRIPT);
    SettingsToDialog(panel, IDD_SETTINGS_PANEL, IDC_PANEL_DATA_FILE);
    WCHAR shown[300] = L"";
    GetDlgItemTextW(panel, IDC_SP_SCRIPT, shown, 300);
    EXPECT_EQ(std::wstring(shown), Wide(script));
    GetDlgItemTextW(panel, IDC_PANEL_DATA_FILE, shown, 300);
    EXPECT_EQ(std::wstring(shown), Wide(data));
    /* The list under the box holds the letters too. */
    HWND combo = GetDlgItem(panel, IDC_SP_SCRIPT);
    ASSERT_GE(SendMessageW(combo, CB_GETCOUNT, 0, 0), 1);
    SendMessageW(combo, CB_GETLBTEXT, 0, (LPARAM)shown);
    EXPECT_EQ(std::wstring(shown), Wide(script));

    SetDlgItemTextW(panel, IDC_SP_SCRIPT, Wide(cyrillic).c_str());
    DialogToSettings(panel, IDD_SETTINGS_PANEL, IDC_SP_SCRIPT);
    EXPECT_STREQ(gSettings.ActiveScript, cyrillic.c_str());

    std::string recent = cyrillic + "\n" + script + "\n";
    CopyString(gSettings.RecentFilesMRU, sizeof gSettings.RecentFilesMRU, recent.c_str(), -1);
    HMENU popup = CreatePopupMenu();
    UpdateRecentFilesMenu(popup, gSettings.RecentFilesMRU);
    GetMenuStringW(popup, IDM_RECENT_FIRST, shown, 300, MF_BYCOMMAND);
    EXPECT_NE(std::wstring(shown).find(L"\u041F\u0440\u043E.kvs"), std::wstring::npos);
    GetMenuStringW(popup, IDM_RECENT_FIRST + 1, shown, 300, MF_BYCOMMAND);
    EXPECT_NE(std::wstring(shown).find(L"strat\u00E9gie \u20AC.kvs"), std::wstring::npos);
    DestroyMenu(popup);

    /* The title as the caption and the Window menu ask for it, by message,
    ** and as the window keeps it. */
    ASSERT_EQ(OpenScript(cyrillic.c_str(), nullptr), 1);
    HWND window = gFrame.activeChild;
    GetWindowTextW(window, shown, 300);
    EXPECT_EQ(std::wstring(shown), L"Active Script - " + Wide(cyrillic));
    InternalGetWindowText(window, shown, 300);
    EXPECT_EQ(std::wstring(shown), L"Active Script - " + Wide(cyrillic));
    Type(window, "x");
    Pump();
    GetWindowTextW(window, shown, 300);
    EXPECT_EQ(std::wstring(shown), L"Active Script - " + Wide(cyrillic) + L"*");
    char tab[64] = "";
    GetWindowTabTitle(window, tab, sizeof tab, nullptr, nullptr);
    EXPECT_NE(std::string(tab).find("\xD0\x9F\xD1\x80\xD0\xBE.kvs"), std::string::npos) << tab;
}

TEST_F(ScriptWindowTest, FindInFilesShowsHitsByFolderAndOpensThem)
{
    std::string root = File("fif");
    PlatCreateFolder(root.c_str());
    PlatCreateFolder((root + "\\sub").c_str());
    WriteTestFile(root + "\\a.kvs", "Data:\r\n\tx: Close\r\n\ty: Closed\r\n");
    WriteTestFile(root + "\\b.kvs", "nothing here\r\n");
    WriteTestFile(root + "\\bin.kvs", std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x0f\x10 Close\r\n", 19));
    WriteTestFile(root + "\\.hidden.kvs", "Close\r\n");
    WriteTestFile(root + "\\note.txt", "Close\r\n");
    WriteTestFile(root + "\\sub\\c.kvs", "close\r\n");
    CopyString(gSettings.FindWhat, sizeof gSettings.FindWhat, "Close", -1);
    CopyString(gSettings.FindFolder, sizeof gSettings.FindFolder, (root + "\\").c_str(), -1);
    CopyString(gSettings.FindTypes, sizeof gSettings.FindTypes, "*.kvs", -1);
    gSettings.IncludeSubfolders = 1;
    gSettings.MatchFase = 0;
    gSettings.WholeWord = 1;
    OpenFindInFiles();
    HWND dialog = gFrame.findInFiles;
    ASSERT_NE(dialog, nullptr);
    HWND tree = GetDlgItem(dialog, IDC_FIF_TREE);
    struct Case {
        int matchCase, wholeWord;
        const char *what;
        const char *label;
        std::string tree;
    } cases[] = {
        {0, 1, "Close", "Found 2 instances:", root + "{a.kvs{0002: \tx: Close;};" + root + "\\sub{c.kvs{0001: close;};};};"},
        {1, 1, "Close", "Found 1 instance:", root + "{a.kvs{0002: \tx: Close;};};"},
        {1, 0, "Close", "Found 2 instances:", root + "{a.kvs{0002: \tx: Close;0003: \ty: Closed;};};"},
        {0, 0, "zzz", "Found 0 instances:", ""},
    };
    for (const Case &c : cases) {
        CheckDlgButton(dialog, IDC_FIF_MATCH_CASE, c.matchCase ? BST_CHECKED : BST_UNCHECKED);
        CheckDlgButton(dialog, IDC_FIF_WHOLE_WORD, c.wholeWord ? BST_CHECKED : BST_UNCHECKED);
        SetDlgItemTextA(dialog, IDC_FIF_WHAT, c.what);
        SendMessageA(dialog, WM_COMMAND, IDC_FIF_FIND_ALL, 0);
        char label[100] = "";
        GetDlgItemTextA(dialog, IDC_FIF_LABEL, label, sizeof label);
        EXPECT_STREQ(label, c.label) << c.what << c.matchCase << c.wholeWord;
        EXPECT_EQ(Dump(tree, (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)), c.tree)
            << c.what << c.matchCase << c.wholeWord;
    }
    EXPECT_EQ(gSettings.MatchFase, 0);

    // A double click on a hit opens its file at the line, the text selected.
    SetDlgItemTextA(dialog, IDC_FIF_WHAT, "Closed");
    SendMessageA(dialog, WM_COMMAND, IDC_FIF_FIND_ALL, 0);
    HTREEITEM folder = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    HTREEITEM file = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)folder);
    HTREEITEM hit = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, (LPARAM)file);
    ASSERT_NE(hit, nullptr);
    SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, (LPARAM)hit);
    ASSERT_EQ(OpenFindInFilesHit(dialog), 1);
    HWND window = gFrame.activeChild;
    ASSERT_EQ(FindWindowKind(window), WK_SCRIPT);
    EXPECT_EQ(Selected(window), "22-28"); // line 3 starts at 18, after "\ty: "
    SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    Pump();
    EXPECT_EQ(gFrame.findInFiles, nullptr);
}

TEST_F(ScriptWindowTest, TheLastActivatedScriptIsTheActiveScript)
{
    std::string one = File("one.kvs"), two = File("two.kvs");
    WriteTestFile(one, "Data:\r\n");
    WriteTestFile(two, "Data:\r\n");
    ASSERT_EQ(OpenScript(one.c_str(), nullptr), 1);
    HWND first = gFrame.activeChild;
    ASSERT_EQ(OpenScript(two.c_str(), nullptr), 1);
    HWND second = gFrame.activeChild;
    EXPECT_STREQ(gSettings.ActiveScript, two.c_str());
    EXPECT_EQ(Title(first), "Script - " + one);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)first, 0);
    Pump();
    EXPECT_STREQ(gSettings.ActiveScript, one.c_str());
    EXPECT_EQ(Title(first), "Active Script - " + one);
    EXPECT_EQ(Title(second), "Script - " + two);
    // While a run uses a script, its window says so and no window is "Active".
    CopyString(gRunningScript, sizeof gRunningScript, two.c_str(), -1);
    UpdateScriptTitles();
    EXPECT_EQ(Title(first), "Script - " + one);
    EXPECT_EQ(Title(second), "Running Script - " + two);
    gRunningScript[0] = 0;
}

TEST_F(ScriptWindowTest, OptionsPreviewTogglesStylesAndCancelRestoresThem)
{
    const EditorStyleRecord section = gEditorStyles[SCRIPT_STYLE_SECTION];
    const EditorStyleRecord text = gEditorStyles[SCRIPT_STYLE_STRING];
    auto clickMargin = [](HWND dialog, int margin, int line) {
        SCNotification click = {};
        click.nmhdr.hwndFrom = GetDlgItem(dialog, IDC_SO_PREVIEW);
        click.nmhdr.idFrom = IDC_SO_PREVIEW;
        click.nmhdr.code = SCN_MARGINCLICK;
        click.margin = margin;
        click.position = (Sci_Position)EditorCall(dialog, SCI_POSITIONFROMLINE, (uintptr_t)line, 0);
        SendMessageA(dialog, WM_NOTIFY, IDC_SO_PREVIEW, (LPARAM)&click);
    };
    for (int button : {IDCANCEL, IDOK}) {
        // Hidden, so the dialog watcher leaves it to the test.
        HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_SCRIPT_OPTIONS), gFrame.frame,
                                         EditorSettingsDlgProc, 0);
        ASSERT_NE(dialog, nullptr);
        if (getenv("KV_SCREENSHOT_HOLD") && button == IDCANCEL) {
            ShowWindow(dialog, SW_SHOW);
            SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(dialog, IDC_SO_AUTOCOMP), TRUE);
            HoldForScreenshot();
            ShowWindow(dialog, SW_HIDE);
        }
        char line[64] = "";
        EditorCall(dialog, SCI_GETLINE, 0, (intptr_t)line);
        EXPECT_STREQ(line, "Script Section\r\n");
        EXPECT_EQ(EditorCall(dialog, SCI_GETSTYLEAT, 0, 0), SCRIPT_STYLE_SECTION);
        clickMargin(dialog, 0, 0);  // Script Section: bold off
        clickMargin(dialog, 1, 13); // Text String: italic on
        EXPECT_EQ(gEditorStyles[SCRIPT_STYLE_SECTION].bold, !section.bold);
        EXPECT_EQ(gEditorStyles[SCRIPT_STYLE_STRING].italic, !text.italic);
        EXPECT_EQ(EditorCall(dialog, SCI_STYLEGETBOLD, SCRIPT_STYLE_SECTION, 0), !section.bold);
        CheckDlgButton(dialog, IDC_SO_AUTOCOMP, BST_UNCHECKED);
        SendMessageA(dialog, WM_COMMAND, IDC_SO_AUTOCOMP, 0);
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_SO_AUTOCDESC)));
        CheckDlgButton(dialog, IDC_SO_AUTOCOMP, BST_CHECKED);
        SendMessageA(dialog, WM_COMMAND, button, 0);
        DestroyWindow(dialog);
        int changed = button == IDOK;
        EXPECT_EQ(gEditorStyles[SCRIPT_STYLE_SECTION].bold, changed ? !section.bold : section.bold) << button;
        EXPECT_EQ(gEditorStyles[SCRIPT_STYLE_STRING].italic, changed ? !text.italic : text.italic) << button;
    }
    gEditorStyles[SCRIPT_STYLE_SECTION] = section;
    gEditorStyles[SCRIPT_STYLE_STRING] = text;
}

TEST_F(ScriptWindowTest, TheFileNamedUnderTheCaret)
{
    std::string inc = File("inc.kvs");
    WriteTestFile(inc, "Data:\r\n");
    ASSERT_EQ(OpenScript(nullptr, nullptr), 1);
    HWND window = gFrame.activeChild;
    struct Case {
        std::string text;
        size_t caret;
        size_t selectFrom; /* == caret: no selection */
        const char *found; /* null: nothing */
    } cases[] = {
        {"Include: " + inc + "\r\n", 12, 12, inc.c_str()},             // after the keyword's colon
        {"Include: " + inc + "\r\n", 9 + inc.size(), 9 + inc.size(), inc.c_str()}, // the drive letter's colon
        {"  " + inc + "   \r\n", 4, 4, inc.c_str()},                     // no keyword: from the first non-blank
        {"Include: " + inc + "/ the rest\r\n", 12, 12, inc.c_str()},     // a '/' ends the name
        {"x: " + inc + " tail\r\n", 3 + inc.size(), 3, inc.c_str()},     // the selection is the name
        {"Include: " + File("none.kvs") + "\r\n", 12, 12, nullptr},
        {"Include: x\r\n", 1, 1, nullptr},                               // the caret before position 2
    };
    for (const Case &c : cases) {
        SetEditorText(window, c.text.c_str(), (int32_t)c.text.size());
        EditorCall(window, SCI_SETSEL, c.selectFrom, (intptr_t)c.caret);
        char path[PATH_SIZE] = "";
        int ok = GetFileAtCaret(window, path);
        EXPECT_EQ(ok, c.found ? 1 : 0) << c.text << " at " << c.caret;
        if (c.found) {
            EXPECT_EQ(CompareNoCase(path, c.found), 0) << path;
        }
    }
}

TEST_F(ScriptWindowTest, SectionsAndValuesOfTheDocument)
{
    ASSERT_EQ(OpenScript(nullptr, nullptr), 1);
    HWND window = gFrame.activeChild;
    const char *text = "Data:\r\n\tx: Close\r\n//Results:\r\n\ty: x\r\n";
    SetEditorText(window, text, (int32_t)strlen(text));
    StyleScriptText(window);
    EXPECT_EQ(FindSectionAtPosition(window, 0), 6);          // Data
    EXPECT_EQ(FindSectionAtPosition(window, 8), 0);          // "x:" names an item
    EXPECT_EQ(FindEnclosingSection(window, 12), 6);          // inside "Close"
    int32_t section = -1;
    EXPECT_EQ(EditorIsLineCommentAt(window, 18, &section), 1); // "//Results:"
    EXPECT_EQ(section, 2);
    EXPECT_EQ(EditorIsLineCommentAt(window, 7, &section), 0);
    char value[256] = "";
    ASSERT_EQ(EditorGetLineText(window, 1, value, sizeof value), 1);
    EXPECT_STREQ(value, "Close");
    EXPECT_EQ(EditorGetLineText(window, 4, value, sizeof value), 0); // the empty last line
}

TEST_F(ScriptWindowTest, AChosenEntryReplacesTheWordOrTheValue)
{
    ASSERT_EQ(OpenScript(nullptr, nullptr), 1);
    HWND window = gFrame.activeChild;
    struct Case {
        const char *line;
        int caret, kind;
        const char *chosen, *after;
        int caretAfter;
    } cases[] = {
        {"\tx: Clo", 7, 0, "Close -- closing price", "\tx: Close", 9},
        {"\tUsi  : x", 4, 9, "Using:", "\tUsing: x", 7},      // one colon stays
        {"\tx: MA", 6, 48, "MA -- moving average", "\tx: MA( )", 7}, // a function gets its parentheses
        {"\tx: Close", 9, 48, "Close", "\tx: Close", 9},           // a bar value does not
        {"Include: CSV\\old.kvs  ", 14, 22, "CSV\\new.kvs", "Include: CSV\\new.kvs  ", 20},
    };
    for (const Case &c : cases) {
        SetEditorText(window, c.line, (int32_t)strlen(c.line));
        EditorCall(window, SCI_GOTOPOS, (uintptr_t)c.caret, 0);
        EditorCall(window, SCI_SETLINESTATE, 0, c.kind);
        InsertAutoCompleteWord(window, c.chosen);
        EXPECT_EQ(Text(window), c.after) << c.line;
        EXPECT_EQ(EditorCall(window, SCI_GETCURRENTPOS, 0, 0), c.caretAfter) << c.line;
    }
    EXPECT_NE(GetEditorRecord(window)->calltipItem, 0u) << "the tip of the function inserted last shows";
}

TEST_F(ScriptWindowTest, LineCommentsFollowTheSelectionAndSections)
{
    ASSERT_EQ(OpenScript(nullptr, nullptr), 1);
    HWND window = gFrame.activeChild;
    const char *script = "Data:\r\n\tx: 1\r\n\r\n\ty: 2\r\nResults:\r\n\tz: x\r\n";
    struct Case {
        const char *text;
        int from, to; /* the selection */
        int commented;  /* ToggleLineComment without apply: the first line is commented */
        const char *after;
    } cases[] = {
        // A selection that ends at column 0 of a line leaves that line alone.
        {script, 7, 16, 0, "Data:\r\n//\tx: 1\r\n\r\n\ty: 2\r\nResults:\r\n\tz: x\r\n"},
        // On a header with no selection: the whole section down to the next header; blank lines stay.
        {script, 2, 2, 0, "//Data:\r\n//\tx: 1\r\n\r\n//\ty: 2\r\nResults:\r\n\tz: x\r\n"},
        // The first non-blank line decides: commented lines are uncommented.
        {"//a\r\n\r\nb\r\n//c\r\n", 0, 13, 1, "a\r\n\r\nb\r\nc\r\n"},
    };
    for (const Case &c : cases) {
        SetEditorText(window, c.text, (int32_t)strlen(c.text));
        StyleScriptText(window);
        EditorCall(window, SCI_SETSEL, (uintptr_t)c.from, c.to);
        EXPECT_EQ(ToggleLineComment(window, 0), c.commented) << c.text;
        ToggleLineComment(window, 1);
        EXPECT_EQ(Text(window), c.after) << c.text;
        EditorCall(window, SCI_UNDO, 0, 0); // one undo action takes it all back
        EXPECT_EQ(Text(window), c.text);
    }
}

TEST_F(ScriptWindowTest, OtherInstancesOfTheSelectedWordAreMarked)
{
    ASSERT_EQ(OpenScript(nullptr, nullptr), 1);
    HWND window = gFrame.activeChild;
    const char *text = "\tx: 1\r\n\ty: x + xx * x.y\r\n";
    SetEditorText(window, text, (int32_t)strlen(text));
    auto marked = [&]() {
        std::string out;
        for (int p = 0; p < (int)strlen(text); p++)
            out += EditorCall(window, SCI_INDICATORVALUEAT, EDITOR_HIGHLIGHT_INDICATOR, p) ? '^' : '.';
        return out;
    };
    EditorCall(window, SCI_SETSEL, 1, 2); // the word x
    HighlightMatches(window);
    // Whole words only: not inside "xx" nor "x.y" ('.' is a word character).
    EXPECT_EQ(marked(), ".^.........^.............");
    EditorCall(window, SCI_SETSEL, 1, 3); // "x:" is no word
    HighlightMatches(window);
    EXPECT_EQ(marked(), std::string(strlen(text), '.'));
}

/* A compile error opens the script, or brings its window forward, with the
** failing text selected and the caret on its line. */
TEST_F(ScriptWindowTest, ACompileErrorTakesTheUserToIt)
{
    std::string path = File("broken.kvs");
    const std::string text = "Data:\r\n  Good: C\r\n  Bad: C + * 2\r\n";
    WriteTestFile(path, text);
    CopyString(gSettings.ActiveScript, sizeof gSettings.ActiveScript, path.c_str(), -1);
    ShowActiveScriptInPanel();
    for (int round = 0; round < 2; round++) {
        OpenLogFile(nullptr); // another window in front
        DialogWatcher::Clear();
        SendMessageA(gFrame.frame, WM_COMMAND, IDM_RUN_APPLY, 0);
        Pump();
        EXPECT_FALSE(DialogWatcher::Seen().empty()) << round;
        EXPECT_EQ(CountChildren("KestovarScript"), 1) << round;
        ASSERT_EQ(gFrame.activeKind, WK_SCRIPT) << round;
        HWND window = gFrame.activeChild;
        intptr_t start = EditorCall(window, SCI_GETSELECTIONSTART, 0, 0);
        intptr_t end = EditorCall(window, SCI_GETSELECTIONEND, 0, 0);
        intptr_t caret = EditorCall(window, SCI_GETCURRENTPOS, 0, 0);
        EXPECT_LT(start, end) << round;
        EXPECT_EQ(caret, end) << round;
        EXPECT_EQ(EditorCall(window, SCI_LINEFROMPOSITION, (uintptr_t)caret, 0), 2) << round;
        EXPECT_GE(start, (intptr_t)text.find("Bad")) << round;
    }
}

/* The Edit commands follow the focused editor's own state; the kind's Save
** follows its document; the File menu's recent files keep one separator. */
TEST_F(ScriptWindowTest, MenusFollowTheEditorsState)
{
    std::string target = File("other.kvs");
    WriteTestFile(target, "Data:\r\n");
    WriteTestFile(File("menus.kvs"), "Include: " + target + "\r\n");
    ASSERT_EQ(OpenScript(File("menus.kvs").c_str(), nullptr), 1);
    HWND window = gFrame.activeChild;
    EditorCall(window, SCI_GOTOPOS, 12, 0); // inside the path
    EXPECT_TRUE(FrameMenuEnabled(IDM_OPEN_UNDER_CURSOR));
    EXPECT_EQ(MenuItemText(GetMenu(gFrame.frame), IDM_OPEN_UNDER_CURSOR), "Open other.kvs\tCtrl+Shift+O");
    HoldForScreenshot();
    EXPECT_FALSE(FrameMenuEnabled(IDM_REDO));
    Type(window, "x");
    EditorCall(window, SCI_UNDO, 0, 0);
    EXPECT_TRUE(FrameMenuEnabled(IDM_REDO));

    // A test's script is read-only: copying is all that is left.
    TestRecord *test = ReadTestRecord(nullptr, 0, 1, 1, 0);
    ASSERT_NE(test, nullptr);
    test->testNumber = 9;
    const char text[] = "Data:\r\n  x: C\r\n";
    ASSERT_EQ(AllocMemory(&test->settings.scriptText, sizeof text), 1);
    memcpy(test->settings.scriptText, text, sizeof text);
    ASSERT_EQ(OpenScript(nullptr, test), 1);
    EditorCall(gFrame.activeChild, SCI_SETSEL, 0, 4);
    OpenClipboard(nullptr);
    EmptyClipboard();
    HGLOBAL data = GlobalAlloc(GMEM_MOVEABLE, 4);
    memcpy(GlobalLock(data), "abc", 4);
    GlobalUnlock(data);
    SetClipboardData(CF_TEXT, data);
    CloseClipboard();
    const struct {
        int id;
        bool enabled;
    } readOnly[] = {{IDM_COPY, true}, {IDM_CUT, false}, {IDM_PASTE, false}, {IDM_DELETE, false},
                    {IDM_REPLACE, false}, {IDM_UNDO, false}};
    for (const auto &c : readOnly) EXPECT_EQ(FrameMenuEnabled(c.id), c.enabled) << c.id;

    // A changed log may be saved.
    OpenLogFile(nullptr);
    LogPrintf("changed");
    EXPECT_TRUE(FrameMenuEnabled(IDM_SAVE));

    // Opening the File menu again and again adds no separators.
    CopyString(gSettings.RecentFilesMRU, sizeof gSettings.RecentFilesMRU,
               (target + "\n" + File("menus.kvs")).c_str(), -1);
    HMENU file = FindSubMenuByText(GetMenu(gFrame.frame), "&File");
    UpdateFrameMenus(gFrame.frame, 1);
    int count = GetMenuItemCount(file);
    UpdateFrameMenus(gFrame.frame, 1);
    UpdateFrameMenus(gFrame.frame, 1);
    EXPECT_EQ(GetMenuItemCount(file), count);
    EXPECT_EQ(GetMenuItemID(file, count - 1), (UINT)IDM_RECENT_FIRST + 1);
    EXPECT_EQ(GetMenuItemID(file, count - 2), (UINT)IDM_RECENT_FIRST);
    EXPECT_EQ(GetMenuState(file, (UINT)(count - 3), MF_BYPOSITION) & MF_SEPARATOR, (UINT)MF_SEPARATOR);
    DestroyWindow(FindScriptWindow(nullptr, 0, test));
    FreeTestRecord(nullptr, test);
}

namespace {

/* Types text as a keyboard would: every key goes into the input queue at
** once, and the window with the focus when each is taken from the queue
** gets it. */
void TypeKeys(const char *text)
{
    std::vector<INPUT> keys;
    for (const char *p = text; *p; p++) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wScan = (WORD)(unsigned char)*p;
        in.ki.dwFlags = KEYEVENTF_UNICODE;
        keys.push_back(in);
        in.ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        keys.push_back(in);
    }
    SendInput((UINT)keys.size(), keys.data(), sizeof(INPUT));
}

/* A new script window with its editor focused, as a user starts typing. */
HWND NewFocusedScript()
{
    if (OpenScript(nullptr, nullptr) != 1) return nullptr;
    HWND window = gFrame.activeChild;
    EditorRecord *record = GetEditorRecord(window);
    if (!record) return nullptr;
    SetForegroundWindow(gFrame.frame);
    SetFocus(record->editor);
    FrameTest::Pump();
    return window;
}

} // namespace

/* Keys typed at speed while the suggestions show (a list, or the notice
** that a value needs its DataSource first) reach the editor that had the
** focus, each once and in order. */
TEST_F(ScriptWindowTest, KeysTypedWhileTheSuggestionsShowReachTheEditor)
{
    gSettings.ScriptAutoComp = 1;
    gSettings.PopupSeconds = 5;
    const struct {
        const char *start, *typed;
    } cases[] = {
        {"Data:\r\n  x: ", "Avg(C, 3)"},
        {"Import:\r\n  DataPath: ", "C:\\prices\\daily"},
    };
    for (const auto &c : cases) {
        HWND window = NewFocusedScript();
        ASSERT_NE(nullptr, window);
        EditorRecord *record = GetEditorRecord(window);
        Type(window, c.start);
        TypeKeys(c.typed);
        for (int i = 0; i < 20; i++) Pump();
        EXPECT_EQ(std::string(c.start) + c.typed, Text(window)) << c.typed;
        EXPECT_EQ(record->editor, GetFocus()) << c.typed;
        EditorCall(window, SCI_SETSAVEPOINT, 0, 0);
        DestroyWindow(window);
        Pump();
    }
}

namespace {

/* The editor's list of choices, a pop-up window of the thread in sight. */
HWND FindListPopup()
{
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND w, LPARAM out) {
            char name[32] = "";
            GetClassNameA(w, name, sizeof name);
            if (strcmp(name, "ListBoxX") != 0 || !IsWindowVisible(w)) return TRUE;
            *(HWND *)out = w;
            return FALSE;
        },
        (LPARAM)&found);
    return found;
}

} // namespace

/* A line typed at 12 ms a key with suggestions on, as a fast typist types
** it: the keys are taken as they come, so the whole line is in the editor
** soon after its last key (the time it took is recorded, not asserted). */
TEST_F(ScriptWindowTest, ALineTypedAtSpeedWithSuggestionsKeepsUp)
{
    gSettings.ScriptAutoComp = 1;
    const std::string line = "Breakout: C >= HHV(C, 50) and RSI(2) < 10 and C > MA(C, 20)";
    HWND window = NewFocusedScript();
    ASSERT_NE(nullptr, window);
    /* The keys go in on their own clock, whatever the editor is doing: each
    ** key that is due is sent before the next message is handled. */
    const DWORD start = GetTickCount();
    size_t sent = 0;
    DWORD lastKey = start;
    bool listWhileTyping = false;
    while ((sent < line.size() || Text(window) != line) && GetTickCount() - start < 60000) {
        while (sent < line.size() && GetTickCount() - start >= 12 * sent) {
            char key[2] = {line[sent++], 0};
            TypeKeys(key);
            lastKey = GetTickCount();
        }
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            if (sent < line.size() && EditorCall(window, SCI_AUTOCACTIVE, 0, 0)) listWhileTyping = true;
        } else {
            Sleep(1);
        }
    }
    const DWORD took = GetTickCount() - lastKey;
    RecordProperty("msAfterLastKey", (int)took);
    printf("the line was whole %lu ms after its last key\n", (unsigned long)took);
    EXPECT_EQ(line, Text(window));
    EXPECT_FALSE(listWhileTyping);

    /* A pause shows the list; the same choices again leave it as it is. */
    TypeKeys("\rCh");
    const DWORD typed = GetTickCount();
    while (GetTickCount() - typed < 600) Pump();
    ASSERT_TRUE(EditorCall(window, SCI_AUTOCACTIVE, 0, 0));
    HWND shown = FindListPopup();
    ASSERT_NE(nullptr, shown);
    SuggestChoices(window, 0);
    EXPECT_EQ(shown, FindListPopup());
    EditorCall(window, SCI_AUTOCCANCEL, 0, 0);
    EditorCall(window, SCI_SETSAVEPOINT, 0, 0);
    DestroyWindow(window);
    Pump();
}

namespace {

/* Whether every pixel of a menu picture that is not the menu's colour is a
** grey (red, green and blue alike); false for a picture without such pixels. */
bool PictureIsGrey(HBITMAP bitmap)
{
    BITMAP bm = {};
    if (!GetObjectA(bitmap, sizeof bm, &bm) || !bm.bmBits || bm.bmBitsPixel != 24) return false;
    const COLORREF menu = GetSysColor(COLOR_MENU);
    bool any = false;
    for (int y = 0; y < bm.bmHeight; y++)
        for (int x = 0; x < bm.bmWidth; x++) {
            const unsigned char *px = (const unsigned char *)bm.bmBits + y * bm.bmWidthBytes + x * 3;
            if (RGB(px[2], px[1], px[0]) == menu) continue;
            if (px[0] != px[1] || px[1] != px[2]) return false;
            any = true;
        }
    return any;
}

} // namespace

/* A greyed command's picture is drawn grey, as the toolbar draws it, and an
** enabled one's in colour; the pictures share the check marks' column, so
** the texts and their shortcuts line up whatever the text of an item. */
TEST_F(ScriptWindowTest, GreyedMenuItemsShowGreyPictures)
{
    ASSERT_EQ(OpenScript(nullptr, nullptr), 1);
    Type(gFrame.activeChild, "Data:\r\n");
    EditorCall(gFrame.activeChild, SCI_SETSEL, 0, 0);
    UpdateFrameMenus(gFrame.frame, 1);
    HMENU edit = FindSubMenuByText(GetMenu(gFrame.frame), "&Edit");
    ASSERT_NE(nullptr, edit);
    SendMessageA(gFrame.frame, WM_INITMENUPOPUP, (WPARAM)edit, 1);
    int seen[2] = {};
    for (int i = 0; i < GetMenuItemCount(edit); i++) {
        MENUITEMINFOA info = {};
        info.cbSize = sizeof info;
        info.fMask = MIIM_BITMAP | MIIM_STATE | MIIM_ID;
        ASSERT_TRUE(GetMenuItemInfoA(edit, (UINT)i, TRUE, &info));
        if (!info.hbmpItem) continue;
        const bool greyed = (info.fState & MFS_GRAYED) != 0;
        EXPECT_EQ(greyed, PictureIsGrey(info.hbmpItem)) << MenuItemText(edit, (int)info.wID);
        seen[greyed]++;
    }
    EXPECT_GT(seen[0], 0); /* Paste, Find ... */
    EXPECT_GT(seen[1], 0); /* Cut and Copy without a selection */
    MENUINFO style = {};
    style.cbSize = sizeof style;
    style.fMask = MIM_STYLE;
    ASSERT_TRUE(GetMenuInfo(edit, &style));
    EXPECT_TRUE(style.dwStyle & MNS_CHECKORBMP);
}
