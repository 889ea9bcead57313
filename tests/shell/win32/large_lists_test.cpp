/* Lists of 100,000 rows: the window answers throughout opening, sorting,
** paging, copying, saving and closing them. */
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/results_file.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "frame_fixture.h"
#include "records/test_records.h"
#include "services/services.h"
#include "support/test_support.h"
#include "views/win32/result_windows.h"
#include "engine/results_list.h"

namespace {

/* The longest the frame took to answer a message sent from another thread
** while the action ran, in milliseconds: a user's click waits as long. */
template <typename Action> int LongestSilence(Action action)
{
    std::atomic<bool> stop{false}, done{false};
    std::atomic<int> longest{0};
    HWND frame = gFrame.frame;
    std::thread watcher([&] {
        while (!stop) {
            const DWORD start = GetTickCount();
            DWORD_PTR result = 0;
            SendMessageTimeoutA(frame, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);
            const int took = (int)(GetTickCount() - start);
            if (took > longest) longest = took;
            Sleep(5);
        }
        done = true;
    });
    Sleep(20);
    action();
    stop = true;
    while (!done) FrameTest::Pump();
    watcher.join();
    return longest;
}

template <typename Action> double TimeMs(Action action)
{
    const auto start = std::chrono::steady_clock::now();
    action();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

/* A test of two strategies with count closed trades: trade k (from 0) of
** strategy k % 2 buys 100 + k % 50 shares of S<k % 997> at 20 + k % 13 on
** the (k % 28 + 2)th of January 2020 and sells them at 21 + k % 17 on the
** same day of February. */
TestRecord *ManyTrades(int count)
{
    TestRecord *t = ReadTestRecord(nullptr, 0, 2, 1, 0);
    t->testNumber = 7;
    CopyString(t->settings.TestName, 80, "Big", -1);
    CopyString(t->strategies[0].name, 80, "Alpha", -1);
    CopyString(t->strategies[1].name, 80, "Beta", -1);
    t->strategies[0].kind = t->strategies[1].kind = STRATEGY_KIND_STRATEGY;
    for (int k = 0; k < count; k++) {
        TradeRecord *r = AddTrade(t);
        r->number = k + 1;
        r->strategy = k % 2;
        FormatText(r->symbol, 40, "S%d", k % 997);
        r->side = 1;
        r->dateIn = 20200102 + k % 28;
        r->dateOut = 20200202 + k % 28;
        r->quantityIn = r->quantityOut = 100 + k % 50;
        r->priceIn = 20 + k % 13;
        r->priceOut = 21 + k % 17;
        r->splitIn = r->splitOut = r->pointValue = r->fxIn = r->fxOut = 1;
        r->roundingIn = r->roundingOut = 0.01;
        r->timeIn = 1;
        r->timeOut = 3;
    }
    return t;
}

/* Presses Escape once, the first time it is called. */
void CALLBACK PressEscape(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    keybd_event(VK_ESCAPE, 0, 0, 0);
}

int CountLines(const std::string &text)
{
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

} // namespace

/* The trade list of a test of 100,000 trades opens, saves itself as CSV and
** copies itself to the clipboard with the window answering throughout (no
** stretch of a second without an answer); Escape ends a save, which leaves
** the file as it was. */
TEST_F(FrameTest, ATradeListOfAHundredThousandTradesSavesAndCopiesAnswering)
{
    TestRecord *test = ManyTrades(100000);
    HWND list = nullptr;
    const int opening = LongestSilence([&] { list = OpenTradeList(test); });
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(100000, ListView_GetItemCount(GetListViewOf(list)));
    HoldForScreenshot();
    const std::string path = File("trades.csv");
    int saved = 0;
    const int saving = LongestSilence([&] { saved = SaveListCsv(list, path.c_str()); });
    ASSERT_EQ(1, saved);
    const std::string text = ReadTestFile(path);
    EXPECT_EQ(100001, CountLines(text));
    /* Trade 1 (k = 0): Alpha buys 100 S0 at 20 on 1/2/2020, sells at 21 on 2/2/2020. */
    const std::string first = text.substr(text.find("\r\n") + 2, text.find("\r\n", text.find("\r\n") + 2) - text.find("\r\n") - 2);
    EXPECT_EQ(0u, first.find("00001,Alpha,S0,Long,")) << first;
    int copied = 0;
    const int copying = LongestSilence([&] { copied = CopyListView(list, nullptr); });
    ASSERT_EQ(1, copied);
    ASSERT_TRUE(OpenClipboard(nullptr));
    HANDLE data = GetClipboardData(CF_TEXT);
    const std::string clip = data ? (const char *)GlobalLock(data) : "";
    if (data) GlobalUnlock(data);
    CloseClipboard();
    EXPECT_EQ(100001, CountLines(clip));
    EXPECT_EQ(text.size(), clip.size()); /* the same cells, a tab for each comma */

    ASSERT_TRUE(WriteTestFile(path, "the last export"));
    DialogWatcher::Clear();
    const UINT_PTR timer = SetTimer(nullptr, 0, 20, PressEscape);
    EXPECT_EQ(0, SaveListCsv(list, path.c_str()));
    keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
    KillTimer(nullptr, timer);
    EXPECT_TRUE(SeenText("List copy aborted"));
    EXPECT_TRUE(ReadTestFile(path) == "the last export") << "the aborted save replaced the file";
    gRun.resultCode = RESULT_OK;
    printf("[ 100,000 trades ] longest wait for an answer: opening %d ms, saving %d ms, copying %d ms\n", opening, saving,
           copying);
    for (int ms : {opening, saving, copying}) EXPECT_LT(ms, 1000);
    SendMessageA(list, WM_CLOSE, 0, 0);
    FreeTestRecord(nullptr, test);
}

/* Page Down moves through a list of 100,000 trades as quickly as through one
** of 1,000: the selection moves at the cost of the rows it leaves and
** reaches, not of every row (the lists are hidden, so that no painting
** counts). */
TEST_F(FrameTest, PagingALongListCostsWhatPagingAShortOneDoes)
{
    double ms[2] = {};
    const int counts[2] = {1000, 100000};
    for (int n = 0; n < 2; n++) {
        TestRecord *test = ManyTrades(counts[n]);
        HWND list = OpenTradeList(test);
        ASSERT_NE(nullptr, list);
        ShowWindow(list, SW_HIDE);
        HWND view = GetListViewOf(list);
        ms[n] = TimeMs([&] {
            for (int k = 0; k < 20; k++) SendMessageA(view, WM_KEYDOWN, VK_NEXT, 0);
        });
        const int page = ListView_GetCountPerPage(view);
        /* From row 0: the first press goes to the page's last row, each
        ** later one a page on. */
        EXPECT_EQ(20 * (page - 1), GetSelectedItem(list)) << counts[n];
        SendMessageA(view, WM_KEYDOWN, VK_HOME, 0);
        EXPECT_EQ(0, GetSelectedItem(list));
        SendMessageA(list, WM_CLOSE, 0, 0);
        FreeTestRecord(nullptr, test);
    }
    printf("[ Page Down x 20 ] 1,000 trades %.1f ms, 100,000 trades %.1f ms\n", ms[0], ms[1]);
    EXPECT_LT(ms[1], 5 * ms[0] + 100);
}

/* A CSV file of 100,000 lines opens as a list, sorts by a column and
** closes with the window answering throughout; the sort keeps equal rows in
** the order of the file. */
TEST_F(FrameTest, ACsvListOfAHundredThousandLinesOpensSortsAndClosesAnswering)
{
    /* Line i (1 .. 100000): group (i - 1) % 3, amount 100001 - i, a quoted
    ** quantity with a comma. */
    std::string csv = "Symbol,Group,Amount,Qty,Note\n";
    char line[160];
    for (int i = 1; i <= 100000; i++) {
        snprintf(line, sizeof line, "S%d,%d,%d,\"%d,%03d\",note %d\n", i % 997, (i - 1) % 3, 100001 - i, i / 1000, i % 1000, i);
        csv += line;
    }
    WriteTestFile(File("big.csv"), csv);
    const int opening = LongestSilence([&] { ASSERT_EQ(1, OpenCsvAsList(nullptr, File("big.csv").c_str())); });
    HWND list = gFrame.activeChild;
    ASSERT_EQ(100000, ListView_GetItemCount(GetListViewOf(list)));
    EXPECT_EQ("1|S1|0|100000|0001|", Cell(list, 0, 0) + "|" + Cell(list, 0, 1) + "|" + Cell(list, 0, 2) + "|" +
                                         Cell(list, 0, 3) + "|" + Cell(list, 0, 4) + "|");
    const int sortingGroup = LongestSilence([&] { ClickHeader(list, 2); });
    /* Group 0 holds lines 1, 4, 7, ... in the file's order; group 2 ends with line 99999. */
    EXPECT_EQ("1|4|7|", Cell(list, 0, 0) + "|" + Cell(list, 1, 0) + "|" + Cell(list, 2, 0) + "|");
    EXPECT_EQ("99999|2|", Cell(list, 99999, 0) + "|" + Cell(list, 99999, 2) + "|");
    const int sortingAmount = LongestSilence([&] { ClickHeader(list, 3); });
    EXPECT_EQ("100000|1|", Cell(list, 0, 0) + "|" + Cell(list, 0, 3) + "|");
    EXPECT_EQ("1|100000|", Cell(list, 99999, 0) + "|" + Cell(list, 99999, 3) + "|");
    HoldForScreenshot();
    const int closing = LongestSilence([&] { SendMessageA(list, WM_CLOSE, 0, 0); });
    EXPECT_FALSE(IsWindow(list));
    printf("[ 100,000 lines ] longest wait for an answer: opening %d ms, sorting %d / %d ms, closing %d ms\n", opening,
           sortingAmount, sortingGroup, closing);
    for (int ms : {opening, sortingAmount, sortingGroup, closing}) EXPECT_LT(ms, 1000);
}

/* Deleting a test of a list of 10,000 leaves the list where it was: the row
** now at the deleted one's place is selected, the rows in sight stay in
** sight, and the window answers at once. */
TEST_F(FrameTest, DeletingATestOfALongListKeepsThePlace)
{
    gSettings.AskDeleteTests = 0;
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    ASSERT_EQ(1, OpenResultsWindow(nullptr));
    ResultsWindow *list = FirstResultsWindow();
    for (int n = 1; n <= 10000; n++) {
        TestRecord *t = ReadTestRecord(nullptr, 0, 1, 1, 0);
        t->testNumber = n;
        AddTestToResults(list, t);
    }
    SyncResultsWindows();
    HWND window = FindResultsHwnd(list), view = GetListViewOf(window);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
    SelectItem(window, 5000);
    ListView_EnsureVisible(view, 4996, FALSE); /* 5000 in sight, not at the top */
    const int top = ListView_GetTopIndex(view);
    ASSERT_LT(top, 5000);
    ASSERT_GT(top + ListView_GetCountPerPage(view), 5000);
    const int silence = LongestSilence([&] { ResultsCommand(window, IDM_DELETE_TEST); });
    EXPECT_EQ(9999, ListView_GetItemCount(view));
    EXPECT_EQ(5000, GetSelectedItem(window));
    EXPECT_EQ("4999", Cell(window, 5000, 0)); /* test 5000 went: the list shows the newest first */
    EXPECT_EQ(top, ListView_GetTopIndex(view));
    EXPECT_LT(silence, 1000);
    list->modified = 0;
}
