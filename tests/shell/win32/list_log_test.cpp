#include <gtest/gtest.h>

#include <Scintilla.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "frame_fixture.h"
#include "platform/platform.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

HWND ActiveList() { return gFrame.activeKind == WK_LIST ? gFrame.activeChild : nullptr; }

std::string Column(HWND list, int column)
{
    std::string s;
    int rows = ListView_GetItemCount(GetListViewOf(list));
    for (int r = 0; r < rows; r++) s += Cell(list, r, column) + ";";
    return s;
}

/* A click on a heading, with Shift held or not. */
void ClickHeader(HWND list, int column, bool shift)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
    ::ClickHeader(list, column);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
}

std::string LogText()
{
    HWND log = FindWindowExA(gFrame.mdiClient, nullptr, "KestovarLog", nullptr);
    if (!log) return "<none>";
    char text[4096] = "";
    GetWindowTextA(GetWindow(log, GW_CHILD), text, sizeof text);
    return text;
}

} // namespace

TEST_F(FrameTest, CsvFilesOfEveryShape)
{
    gSettings.CsvListView = 1;
    struct Case {
        const char *name, *text;
        int columns;
        const char *firstColumn; // the "#" column: line numbers of the rows
        const char *secondColumn;
    } cases[] = {
        {"quoted.csv", "Name,Amount\r\n\"Smith, J\",\"1,234\"\r\nLee,5\r\n", 3, "1;2;", "Smith J;Lee;"},
        {"blank.csv", "A,B\n1,2\n\n3,4\n", 3, "1;3;", "1;3;"},
        {"short.csv", "A\nx\n\n12\n", 2, "1;3;", "x;12;"}, // short lines are rows
        {"wide.csv", "A\n1,2,3\n", 2, "1;", "1;"},         // extra fields are not shown
        {"empty.csv", "", 1, "", ""},
        {"noend.csv", "A,B\r\n7,8", 3, "1;", "7;"},
    };
    for (const Case &c : cases) {
        WriteTestFile(File(c.name), c.text);
        ASSERT_EQ(OpenCsvAsList(nullptr, File(c.name).c_str()), 1) << c.name;
        HWND list = ActiveList();
        ASSERT_NE(list, nullptr) << c.name;
        HWND header = ListView_GetHeader(GetListViewOf(list));
        EXPECT_EQ(Header_GetItemCount(header), c.columns) << c.name;
        EXPECT_EQ(Column(list, 0), c.firstColumn) << c.name;
        if (c.columns > 1) EXPECT_EQ(Column(list, 1), c.secondColumn) << c.name;
    }
    // Opening the same file again replaces its list.
    int before = CountChildren("KestovarList");
    OpenCsvAsList(nullptr, File("quoted.csv").c_str());
    Pump();
    EXPECT_EQ(CountChildren("KestovarList"), before);
}

TEST_F(FrameTest, ListSortsByKeysFindsCopiesAndExports)
{
    gSettings.DateInputFormat = 0;
    WriteTestFile(File("prices.csv"),
                  "Symbol,Day,Amount\nAB,1/2/2020,\"$1,234,567.50\"\nCD,12/31/2019,(12.5%)\nAB,12/31/2019,10\nEF,1/2/2020,10\n");
    ASSERT_EQ(OpenCsvAsList("Prices", File("prices.csv").c_str()), 1);
    HWND list = ActiveList();
    ClickHeader(list, 2, false); // Day ascending (as dates)
    ClickHeader(list, 3, true);  // then Amount ascending (as numbers)
    EXPECT_EQ(Column(list, 0), "2;3;4;1;");
    ClickHeader(list, 3, true); // Amount now descending
    EXPECT_EQ(Column(list, 0), "3;2;1;4;");
    ClickHeader(list, 1, false); // Symbol only, then Day
    ClickHeader(list, 2, true);
    EXPECT_EQ(Column(list, 0), "3;1;2;4;");
    HWND header = ListView_GetHeader(GetListViewOf(list));
    EXPECT_NE(Header_GetImageList(header), nullptr); // the arrows can show
    HDITEMA item = {};
    item.mask = HDI_FORMAT | HDI_IMAGE;
    Header_GetItem(header, 1, &item);
    EXPECT_TRUE(item.fmt & HDF_IMAGE);
    EXPECT_EQ(item.iImage, 1);
    Header_GetItem(header, 3, &item);
    EXPECT_FALSE(item.fmt & HDF_IMAGE); // no longer a key

    // Find: from the row after the selection, wrapping to the top.
    SelectItem(list, 2);
    FindInList(list, 1);
    HWND find = FindWindowA("#32770", "Find");
    ASSERT_NE(find, nullptr);
    SetDlgItemTextA(find, 0x480, "ef");
    SendMessageA(find, WM_COMMAND, IDOK, 0);
    Pump();
    EXPECT_EQ(GetSelectedItem(list), 3);
    SendMessageA(find, WM_COMMAND, IDOK, 0); // only row 3 holds it: not found again
    Pump();
    EXPECT_NE(DialogWatcher::Seen().size(), 0u);
    SendMessageA(find, WM_CLOSE, 0, 0);
    Pump();

    // Export: commas inside cells are dropped, the heading comes first; a
    // longer file of the same name is replaced whole.
    ASSERT_TRUE(WriteTestFile(File("out.csv"), std::string(4000, 'x')));
    ASSERT_EQ(SaveListCsv(list, File("out.csv").c_str()), 1);
    EXPECT_EQ(ReadTestFile(File("out.csv")),
              "#,Symbol,Day,Amount\r\n3,AB,12/31/2019,10\r\n1,AB,1/2/2020,$1234567.50\r\n2,CD,12/31/2019,(12.5%)\r\n"
              "4,EF,1/2/2020,10\r\n");
    // Copy the selected row to the clipboard: tab-separated, no heading.
    SelectItem(list, 1);
    ASSERT_EQ(CopyListView(list, (void *)-1), 1);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_TEXT);
    std::string copied = data ? (const char *)GlobalLock(data) : "";
    if (data) GlobalUnlock(data);
    CloseClipboard();
    EXPECT_EQ(copied, "1\tAB\t1/2/2020\t$1234567.50\r\n");
}

/* Find in a list takes what is typed as its letters, of two, three and four
** bytes in UTF-8, and finds the cell that holds them. */
TEST_F(FrameTest, FindInAListFindsLettersOutsideTheCodePage)
{
    gSettings.CsvListView = 1;
    WriteTestFile(File("cities.csv"), "City\nOslo\nZ\xC3\xBCrich\n\xE6\x9D\xB1\xE4\xBA\xAC\nClef \xF0\x9D\x84\x9E\n");
    ASSERT_EQ(OpenCsvAsList(nullptr, File("cities.csv").c_str()), 1);
    HWND list = ActiveList();
    ASSERT_NE(list, nullptr);
    const struct {
        const wchar_t *typed;
        int row;
    } cases[] = {{L"\u00FCri", 1}, {L"\u6771\u4EAC", 2}, {L"\U0001D11E", 3}};
    for (const auto &c : cases) {
        SelectItem(list, 0);
        FindInList(list, 1);
        HWND find = FindWindowA("#32770", "Find");
        ASSERT_NE(find, nullptr);
        SetDlgItemTextW(find, 0x480, c.typed);
        DialogWatcher::Clear();
        SendMessageA(find, WM_COMMAND, IDOK, 0);
        Pump();
        EXPECT_EQ(GetSelectedItem(list), c.row) << c.row;
        EXPECT_TRUE(DialogWatcher::Seen().empty()) << c.row << testing::PrintToString(DialogWatcher::Seen()); /* no "not found" */
        SendMessageA(find, WM_CLOSE, 0, 0);
        Pump();
    }
}

/* A list that cannot be saved says so once, naming its file, which keeps
** its old bytes. */
TEST_F(FrameTest, AListThatCannotBeSavedIsReportedOnceByName)
{
    WriteTestFile(File("small.csv"), "Key,Value\nA,1\n");
    ASSERT_EQ(OpenCsvAsList(nullptr, File("small.csv").c_str()), 1);
    ASSERT_TRUE(WriteTestFile(File("saved.csv"), "old"));
    DialogWatcher::Clear();
    PlatPlanFault(PLAT_FAULT_WRITE, 0, 1);
    EXPECT_EQ(SaveListCsv(ActiveList(), File("saved.csv").c_str()), 0);
    PlatPlanFault(PLAT_FAULT_WRITE, 0, 0);
    const std::vector<std::string> seen = DialogWatcher::Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find(" bytes to " + File("saved.csv")), std::string::npos) << seen[0];
    EXPECT_EQ(ReadTestFile(File("saved.csv")), "old");
    gRun.resultCode = RESULT_OK;
}

/* A list closed while its file is still being read (the user closing it
** from the pump, or a newer list of the same file) ends the reading: what
** the window held goes with it, and nothing is left allocated. */
TEST_F(FrameTest, AListClosedWhileItsFileIsReadEndsTheReading)
{
    std::string csv = "Key,Value\n";
    for (int i = 0; i < 500; i++) csv += "K" + std::to_string(i) + "," + std::to_string(i) + "\n";
    WriteTestFile(File("closing.csv"), csv);
    const uint64_t allocated = gAllocatedBytes.load();
    /* Due before the file is opened: the reader's first pump runs it. */
    SetTimer(nullptr, 0, 1, [](HWND, UINT, UINT_PTR timer, DWORD) {
        KillTimer(nullptr, timer);
        HWND list = nullptr;
        while ((list = FindWindowExA(gFrame.mdiClient, list, "KestovarList", nullptr)) != nullptr)
            SendMessageA(list, WM_CLOSE, 0, 0);
    });
    Sleep(20);
    EXPECT_EQ(OpenCsvAsList(nullptr, File("closing.csv").c_str()), 0);
    Pump();
    EXPECT_EQ(CountChildren("KestovarList"), 0);
    EXPECT_EQ(gAllocatedBytes.load(), allocated);
}

/* A sort moves whole cells, however long a CSV field is. */
TEST_F(FrameTest, SortingAListKeepsLongCellsWhole)
{
    std::string note;
    for (int i = 0; i < 30; i++) note += "0123456789";
    WriteTestFile(File("notes.csv"), "Key,Note\nB," + note + "\nA,short\n");
    ASSERT_EQ(OpenCsvAsList(nullptr, File("notes.csv").c_str()), 1);
    HWND list = ActiveList();
    ClickHeader(list, 1, false);
    EXPECT_EQ(Column(list, 1), "A;B;");
    char text[400] = "";
    ListView_GetItemText(GetListViewOf(list), 1, 2, text, sizeof text);
    EXPECT_EQ(std::string(text), note);
}

/* A header click sorts without re-fitting the other columns, so no heading
** moves under the pointer; the widths follow the rows when they change, all
** of them in a list of moderate length, so the sort brings no cut text into
** sight. */
TEST_F(FrameTest, AHeaderClickLeavesTheOtherColumnsWidths)
{
    std::string csv = "Key,Note,Tag\n";
    for (int i = 1; i <= 200; i++)
        csv += std::to_string(i) + "," + (i == 200 ? "a note far longer than any other" : "short") + ",x\n";
    WriteTestFile(File("widths.csv"), csv);
    ASSERT_EQ(OpenCsvAsList(nullptr, File("widths.csv").c_str()), 1);
    HWND list = ActiveList(), view = GetListViewOf(list);
    ASSERT_LT(ListView_GetCountPerPage(view), 200); /* the long note is out of sight */
    const int note = ListView_GetColumnWidth(view, 2), tag = ListView_GetColumnWidth(view, 3);
    ClickHeader(list, 1, false);
    ClickHeader(list, 1, false); /* descending: the long note comes into sight */
    EXPECT_EQ(Cell(list, 0, 1), "200");
    EXPECT_EQ(ListView_GetColumnWidth(view, 2), note);
    EXPECT_EQ(ListView_GetColumnWidth(view, 3), tag);
    EXPECT_GT(ListView_GetColumnWidth(view, 0), ListView_GetStringWidth(view, "200"));
    EXPECT_GT(note, ListView_GetStringWidth(view, "a note far longer than any other"));
    HoldForScreenshot();
}

/* A long list is fitted to the rows in sight only; a sort or a scroll that
** brings a wider cell into sight widens its column, and nothing narrows. */
TEST_F(FrameTest, ALongListWidensForTheCellsASortOrAScrollShows)
{
    const std::string wide = "12/21/2020 far wider than the rest", lower = "a note far wider than the others";
    std::string csv = "Key,Date,Note\n";
    for (int i = 1; i <= 5000; i++)
        csv += std::to_string(i) + "," + (i > 4990 ? wide : "1/2/20") + "," + (i == 2500 ? lower : "x") + "\n";
    WriteTestFile(File("long.csv"), csv);
    ASSERT_EQ(OpenCsvAsList(nullptr, File("long.csv").c_str()), 1);
    HWND list = ActiveList(), view = GetListViewOf(list);
    ASSERT_LT(ListView_GetStringWidth(view, "1/2/20") + 8, ListView_GetStringWidth(view, wide.c_str()));
    const int key = ListView_GetColumnWidth(view, 1);
    ASSERT_LT(ListView_GetColumnWidth(view, 2), ListView_GetStringWidth(view, wide.c_str())); /* out of sight */

    ClickHeader(list, 1, false);
    ClickHeader(list, 1, false); /* descending: the wide dates come first */
    EXPECT_EQ(Cell(list, 0, 1), "5000");
    EXPECT_GT(ListView_GetColumnWidth(view, 2), ListView_GetStringWidth(view, wide.c_str()));
    EXPECT_GE(ListView_GetColumnWidth(view, 1), key);

    const int date = ListView_GetColumnWidth(view, 2);
    ListView_EnsureVisible(view, 2500, FALSE);
    InvalidateRect(view, nullptr, TRUE);
    UpdateWindow(view);
    EXPECT_GT(ListView_GetColumnWidth(view, 3), ListView_GetStringWidth(view, lower.c_str()));
    EXPECT_EQ(ListView_GetColumnWidth(view, 2), date); /* the short dates now in sight narrow nothing */
    HoldForScreenshot();
}

TEST_F(FrameTest, ProgramLogBreaksBeforeEachEntry)
{
    LogPrintf("first %d", 1);
    EXPECT_EQ(LogText(), "first 1");
    LogPrintf("second");
    gRun.logContinueLine = 1;
    LogPrintf("a");
    LogPrintf("b");
    gRun.logContinueLine = 0;
    LogPrintf("");
    LogPrintf("c");
    EXPECT_EQ(LogText(), "first 1\r\nsecondab\r\n\r\nc");
    // Two untitled logs: the program log writes to the first in z-order.
    OpenLogFile(nullptr);
    LogPrintf("d");
    EXPECT_EQ(CountChildren("KestovarLog"), 2);
}

TEST_F(FrameTest, OnlyTheProgramsOwnTemporaryFileIsDeleted)
{
    CopyString(gOutputFolder, sizeof gOutputFolder, folder.c_str(), -1);
    std::string own = File("_temp_.txt"), users = File("my_temp_.txt");
    WriteTestFile(own, "symbols");
    WriteTestFile(users, "keep me");
    ASSERT_EQ(OpenLogFile(users.c_str()), 1);
    EXPECT_TRUE(PlatFileExists(users.c_str()));
    ASSERT_EQ(OpenLogFile(own.c_str()), 1);
    EXPECT_FALSE(PlatFileExists(own.c_str()));
    char title[300];
    GetWindowTextA(gFrame.activeChild, title, sizeof title);
    EXPECT_STREQ(title, "Log - (untitled)");
    EXPECT_EQ(OpenLogFile(File("nothere.txt").c_str()), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
}

TEST_F(FrameTest, DialogLayoutFollowsGrowthOnly)
{
    HWND dialog = CreateDialogParamA(
        GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_LOG_OPTIONS), gFrame.frame,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_NE(dialog, nullptr);
    auto place = [&](int id) {
        RECT r;
        GetWindowRect(GetDlgItem(dialog, id), &r);
        MapWindowPoints(nullptr, dialog, (POINT *)&r, 2);
        return r;
    };
    const int stretch[] = {IDC_LOG_TAB, 0};
    DialogLayout *layout = SaveDialogLayout(dialog, stretch);
    ASSERT_NE(layout, nullptr);
    RECT tab = place(IDC_LOG_TAB), font = place(IDC_LOG_FONT), window;
    GetWindowRect(dialog, &window);
    // Shrunk: nothing moves.
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left - 20, window.bottom - window.top, SWP_NOMOVE | SWP_NOZORDER);
    ResizeDialogLayout(layout);
    EXPECT_EQ(place(IDC_LOG_FONT).left, font.left);
    // Grown by 50 x 30: the listed control stretches, later controls move right.
    SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left + 50, window.bottom - window.top + 30,
                 SWP_NOMOVE | SWP_NOZORDER);
    ResizeDialogLayout(layout);
    EXPECT_EQ(place(IDC_LOG_TAB).right - place(IDC_LOG_TAB).left, tab.right - tab.left + 50);
    EXPECT_EQ(place(IDC_LOG_TAB).bottom - place(IDC_LOG_TAB).top, tab.bottom - tab.top + 30);
    EXPECT_EQ(place(IDC_LOG_FONT).left, font.left + 50);
    FreeMemory(&layout);
    // Centring over the owner.
    CenterWindow(dialog);
    RECT frame, d;
    GetWindowRect(gFrame.frame, &frame);
    GetWindowRect(dialog, &d);
    EXPECT_NEAR((d.left + d.right) / 2, (frame.left + frame.right) / 2, 1);
    EXPECT_NEAR((d.top + d.bottom) / 2, (frame.top + frame.bottom) / 2, 1);
    DestroyWindow(dialog);
}

TEST_F(FrameTest, ZoomingOneLogZoomsAll)
{
    gSettings.LogZoomLevel = 0;
    OpenLogFile(nullptr);
    OpenLogFile(nullptr);
    HWND a = FindWindowExA(gFrame.mdiClient, nullptr, "KestovarLog", nullptr);
    HWND b = FindWindowExA(gFrame.mdiClient, a, "KestovarLog", nullptr);
    ASSERT_NE(b, nullptr);
    // The editor's own zoom (Ctrl and the wheel) in one log reaches the other.
    SendMessageA(GetWindow(a, GW_CHILD), SCI_ZOOMIN, 0, 0);
    EXPECT_EQ(gSettings.LogZoomLevel, 1);
    EXPECT_EQ(SendMessageA(GetWindow(b, GW_CHILD), SCI_GETZOOM, 0, 0), 1);
    gSettings.LogZoomLevel = 0;
}

namespace {

/* Where each tab-separated field of a log line starts, in pixels. */
std::vector<int> FieldStarts(HWND editor, int line)
{
    std::vector<int> starts;
    const intptr_t from = SendMessageA(editor, SCI_POSITIONFROMLINE, (WPARAM)line, 0);
    const intptr_t to = SendMessageA(editor, SCI_GETLINEENDPOSITION, (WPARAM)line, 0);
    starts.push_back((int)SendMessageA(editor, SCI_POINTXFROMPOSITION, 0, from));
    for (intptr_t p = from; p < to; p++)
        if (SendMessageA(editor, SCI_GETCHARAT, (WPARAM)p, 0) == '\t')
            starts.push_back((int)SendMessageA(editor, SCI_POINTXFROMPOSITION, 0, p + 1));
    return starts;
}

} // namespace

/* A table of tab-separated lines in the log, as the optimization summary
** writes it, stands in columns whatever the length of its values and the
** log's tab width; the text keeps its tabs. */
TEST_F(FrameTest, LogTablesStandInColumns)
{
    const char *rows[] = {
        "Stat\tMin\tMax\tMed\tAvg\tStd",
        "----\t---\t---\t---\t---\t---",
        "Net Profit\t($1,234,567.89)\t$12,345,678.90\t$1,000.00\t$2,500.50\t$987,654.32",
        "Net %\t-12.34%\t1,234.56%\t0.10%\t12.34%\t3.21%",
        "Max DD %\t-98.76%\t-0.01%\t-12.50%\t-20.25%\t7.77%",
        "Trades\t1\t2\t3\t4\t5",
    };
    LogPrintf("%s", "*** Optimization Summary ***\n");
    for (const char *row : rows) LogPrintf("%s", row);
    LogPrintf("%s", "");
    LogPrintf("%s", "After\tthe table");
    HWND log = FindWindowExA(gFrame.mdiClient, nullptr, "KestovarLog", nullptr);
    ASSERT_NE(nullptr, log);
    HWND editor = GetWindow(log, GW_CHILD);
    EXPECT_NE(std::string::npos, LogText().find("Net %\t-12.34%\t1,234.56%"));
    const int header = 2; /* the title and its empty line come first */
    const std::vector<int> headings = FieldStarts(editor, header);
    ASSERT_EQ(6u, headings.size());
    for (int r = 1; r < 6; r++) {
        const std::vector<int> fields = FieldStarts(editor, header + r);
        EXPECT_EQ(headings, fields) << rows[r];
        /* Every field ends before the next one begins. */
        const intptr_t from = SendMessageA(editor, SCI_POSITIONFROMLINE, (WPARAM)(header + r), 0);
        for (intptr_t p = from, k = 0; k < 5; p++)
            if (SendMessageA(editor, SCI_GETCHARAT, (WPARAM)p, 0) == '\t')
                EXPECT_LT((int)SendMessageA(editor, SCI_POINTXFROMPOSITION, 0, p), fields[(size_t)++k]) << rows[r];
    }
    HoldForScreenshot();
}
