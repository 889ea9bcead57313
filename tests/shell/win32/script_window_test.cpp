#include <gtest/gtest.h>

#include <Scintilla.h>

#include <string>

#include "engine/test_records.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "frame_fixture.h"
#include "platform/platform.h"
#include "shell/services.h"
#include "shell/win32/editor_host.h"
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
