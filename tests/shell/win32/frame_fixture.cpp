#include "frame_fixture.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "platform/platform.h"
#include "services/services.h"
#include "support/test_support.h"

std::string FrameTest::folder;

namespace {
std::mutex gWatchLock;
std::vector<std::string> gWatchSeen;
int gWatchAnswer = IDOK;
int gWatchDelay;                  /* milliseconds a dialog shows before its answer */
std::map<HWND, DWORD> gWatchShown; /* when each dialog was first seen */
bool gWatchPaused; /* a screenshot is being taken of what shows */

BOOL CALLBACK CollectText(HWND child, LPARAM param)
{
    /* As the user reads it: the letters, kept here in UTF-8. */
    WCHAR wide[1024] = L"";
    GetWindowTextW(child, wide, 1024);
    char text[3072] = "";
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    char name[32];
    GetClassNameA(child, name, sizeof name);
    if (strcmp(name, "Static") == 0 || strcmp(name, "STATIC") == 0) *(std::string *)param += text;
    return TRUE;
}

BOOL CALLBACK AnswerDialog(HWND window, LPARAM)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char name[32];
    if (process != GetCurrentProcessId() || !IsWindowVisible(window) || !GetClassNameA(window, name, sizeof name) ||
        strcmp(name, "#32770") != 0)
        return TRUE;
    char title[256];
    GetWindowTextA(window, title, sizeof title);
    // modeless find dialogs stay open
    if (strcmp(title, "Find") == 0 || strcmp(title, "Find In Files") == 0) return TRUE;
    std::string seen = std::string(title) + "|";
    EnumChildWindows(window, CollectText, (LPARAM)&seen);
    int answer;
    {
        std::lock_guard<std::mutex> hold(gWatchLock);
        if (gWatchPaused) return TRUE;
        if (gWatchDelay > 0) {
            const DWORD now = GetTickCount();
            auto seen = gWatchShown.emplace(window, now).first;
            if ((int)(now - seen->second) < gWatchDelay) return TRUE;
            gWatchShown.erase(seen);
        }
        gWatchSeen.push_back(seen);
        answer = gWatchAnswer;
    }
    PostMessageA(window, WM_COMMAND, (WPARAM)answer, 0);
    if (answer != IDCANCEL) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}
} // namespace

void DialogWatcher::Start()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            for (;;) {
                EnumWindows(AnswerDialog, 0);
                Sleep(30);
            }
        }).detach();
    });
}

void DialogWatcher::Answer(int button)
{
    std::lock_guard<std::mutex> hold(gWatchLock);
    gWatchAnswer = button;
}

void DialogWatcher::Delay(int milliseconds)
{
    std::lock_guard<std::mutex> hold(gWatchLock);
    gWatchDelay = milliseconds;
    gWatchShown.clear();
}

std::vector<std::string> DialogWatcher::Seen()
{
    std::lock_guard<std::mutex> hold(gWatchLock);
    return gWatchSeen;
}

void DialogWatcher::Clear()
{
    std::lock_guard<std::mutex> hold(gWatchLock);
    gWatchSeen.clear();
    gWatchAnswer = IDOK;
    gWatchDelay = 0;
    gWatchShown.clear();
}

void FrameTest::SetUpTestSuite()
{
    if (!folder.empty()) return;
    static TempFolder tmp;
    folder = tmp.path;
    CopyString(gProgramFolder, sizeof gProgramFolder, folder.c_str(), -1);
    InitMessages(nullptr, nullptr, gProgramFolder);
    DialogWatcher::Start();
    ASSERT_EQ(InitApplication(GetModuleHandleA(nullptr)), 1);
}

void FrameTest::SetUp()
{
    DialogWatcher::Clear();
    gRun.state = RUN_IDLE;
    gRun.unattended = 0;
    gRun.resultCode = RESULT_OK;
    gSettings.ConfirmStop = 0;
    gSettings.ShowStatusBar = gSettings.ShowToolBar = gSettings.ShowTabBar = 1;
    gSettings.AskSaveUntitled = 0;
    HWND frame = CreateWindowExA(0, "KestovarFrame", "Kestovar", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 1000, 700,
                                 nullptr, gFrame.frameMenu, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(frame, nullptr);
    InitMessages(nullptr, frame, gProgramFolder);
    ShowWindow(frame, SW_SHOWNORMAL);
    LayoutFrame();
    Pump();
}

void FrameTest::TearDown()
{
    gRun.state = RUN_IDLE;
    gRun.unattended = 1; // closes without asking about modified windows
    if (gFrame.frame) {
        HWND child;
        while (gFrame.mdiClient && (child = GetWindow(gFrame.mdiClient, GW_CHILD)) != nullptr) DestroyWindow(child);
        SetMenu(gFrame.frame, nullptr); // the menus are loaded once and serve the next frame too
        DestroyWindow(gFrame.frame);
    }
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        DispatchMessageA(&msg);
    }
    gRun.unattended = 0;
    InitMessages(nullptr, nullptr, gProgramFolder);
}

void FrameTest::Pump()
{
    MSG msg;
    for (int round = 0; round < 3; round++) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;
            DispatchAppMessage(&msg);
        }
        Sleep(5);
    }
}

int FrameTest::CountChildren(const char *className)
{
    int count = 0;
    HWND child = nullptr;
    while (FindNextChildWindow(&child, className)) count++;
    return count;
}

void HoldForScreenshot()
{
    const char *hold = getenv("KV_SCREENSHOT_HOLD");
    if (!hold) return;
    {
        std::lock_guard<std::mutex> paused(gWatchLock);
        gWatchPaused = true; /* the dialogs on the screen stay for the picture */
    }
    for (int waited = 0; waited < atoi(hold); waited += 50) {
        FrameTest::Pump();
        Sleep(50);
    }
    std::lock_guard<std::mutex> paused(gWatchLock);
    gWatchPaused = false;
}

std::string Cell(HWND window, int row, int column)
{
    char text[256] = "";
    ListView_GetItemText(GetListViewOf(window), row, column, text, sizeof text);
    return text;
}

std::wstring WideCell(HWND window, int row, int column)
{
    WCHAR text[300] = L"";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 300;
    SendMessageW(GetListViewOf(window), LVM_GETITEMTEXTW, (WPARAM)row, (LPARAM)&item);
    return text;
}

std::wstring WideHeading(HWND window, int column)
{
    WCHAR text[300] = L"";
    LVCOLUMNW item = {};
    item.mask = LVCF_TEXT;
    item.pszText = text;
    item.cchTextMax = 300;
    SendMessageW(GetListViewOf(window), LVM_GETCOLUMNW, (WPARAM)column, (LPARAM)&item);
    return text;
}

std::wstring WideClipboard()
{
    if (!OpenClipboard(nullptr)) return L"<none>";
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const WCHAR *text = data ? (const WCHAR *)GlobalLock(data) : nullptr;
    std::wstring copied = text ? std::wstring(text, wcsnlen(text, GlobalSize(data) / sizeof(WCHAR))) : L"<none>";
    if (text) GlobalUnlock(data);
    CloseClipboard();
    return copied;
}

void ClickHeader(HWND window, int column)
{
    NMLISTVIEW click = {};
    click.hdr.hwndFrom = GetListViewOf(window);
    click.hdr.idFrom = LIST_VIEW_ID;
    click.hdr.code = LVN_COLUMNCLICK;
    click.iItem = -1;
    click.iSubItem = column;
    SendMessageA(window, WM_NOTIFY, LIST_VIEW_ID, (LPARAM)&click);
}

/* Whether a column is wide enough for the header to draw its whole heading
** and sort arrow: the heading's extent in the header's font, the header's own
** margin on both sides of the text and of the arrow, and the arrow image's
** width, each asked of the header and its image list. */
bool HeadingFits(HWND window, int column)
{
    HWND view = GetListViewOf(window), header = ListView_GetHeader(view);
    char text[256] = "";
    HDITEMA item = {};
    item.mask = HDI_TEXT | HDI_FORMAT;
    item.pszText = text;
    item.cchTextMax = sizeof text;
    if (!Header_GetItem(header, column, &item)) return false;
    HDC dc = GetDC(header);
    HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageA(header, WM_GETFONT, 0, 0));
    SIZE extent = {};
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &extent);
    SelectObject(dc, old);
    ReleaseDC(header, dc);
    const int margin = Header_GetBitmapMargin(header);
    int arrow = 0, arrowHeight = 0;
    if (item.fmt & HDF_IMAGE) ImageList_GetIconSize(Header_GetImageList(header), &arrow, &arrowHeight);
    const int needed = extent.cx + 2 * margin + (arrow ? arrow + 2 * margin : 0);
    return margin > 0 && ListView_GetColumnWidth(view, column) >= needed;
}

bool SeenText(const char *text)
{
    for (const std::string &s : DialogWatcher::Seen())
        if (s.find(text) != std::string::npos) return true;
    return false;
}

std::string TabTitle(HWND window)
{
    char title[64] = "";
    GetWindowTabTitle(window, title, sizeof title, nullptr, nullptr);
    return title;
}

::testing::AssertionResult TabStripSpans(HWND window, HWND tabs)
{
    RECT client, strip;
    GetClientRect(window, &client);
    GetClientRect(tabs, &strip);
    if (client.right > 0 && strip.right == client.right) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the tab strip is " << strip.right << " wide in a window " << client.right
                                         << " wide";
}

std::string MenuItemText(HMENU menu, int id)
{
    char text[300] = "";
    GetMenuStringA(menu, (UINT)id, text, sizeof text, MF_BYCOMMAND);
    return text;
}

bool MenuItemEnabled(HMENU menu, int id) { return !(GetMenuState(menu, (UINT)id, MF_BYCOMMAND) & MF_GRAYED); }

bool MenuItemChecked(HMENU menu, int id) { return GetMenuState(menu, (UINT)id, MF_BYCOMMAND) & MF_CHECKED; }

bool FrameMenuEnabled(int id)
{
    UpdateFrameMenus(gFrame.frame, 1);
    return MenuItemEnabled(GetMenu(gFrame.frame), id);
}

bool ButtonEnabled(int id) { return SendMessageA(gFrame.toolbar, TB_ISBUTTONENABLED, (WPARAM)id, 0) != 0; }

ChartStore::ChartStore(std::initializer_list<const char *> names, int32_t firstDate, double base, double step)
{
    const int n = (int)names.size();
    bars.resize(names.size());
    EXPECT_TRUE(AllocMemory(&gStore.symbols, (uint64_t)(n + 1) * sizeof(SymbolRecord)));
    memset(gStore.symbols, 0, (size_t)(n + 1) * sizeof(SymbolRecord));
    int s = 0;
    for (const char *name : names) {
        std::vector<Bar> &b = bars[size_t(s)];
        b.resize(101);
        for (int i = 0; i < 100; i++) {
            const double open = base + s * step + (i % 7);
            b[size_t(i)] = {.date = firstDate + (i / 28) * 100 + i % 28, .open = open, .high = open + 2,
                            .low = open - 2, .close = open + 1, .volume = 1000.0 + i, .split = 1};
        }
        SymbolRecord &r = gStore.symbols[s++];
        r.bars[BAR_DAILY] = b.data();
        r.barCounts[BAR_DAILY] = 100;
        r.firstDate = b[0].date;
        r.lastDate = b[99].date;
        r.firstUsedDate = 99991231;
        CopyString(r.info.Symbol, sizeof r.info.Symbol, name, -1);
    }
    gStore.symbolCount = n;
}

ChartStore::~ChartStore()
{
    memset(gStore.symbols, 0, (bars.size() + 1) * sizeof(SymbolRecord));
    FreeMemory(&gStore.symbols);
    gStore.symbolCount = 0;
}
