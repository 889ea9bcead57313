/* csv_list.cpp -- speed of the List window on a CSV file of 20,000 lines
** (six fields a line, a quoted amount with a comma among them): opening the
** file as a list (the fill), sorting it by a numeric column (a header
** click) and closing it, under Wine like the program itself.
**
** The List window keeps the file's text as its rows and its list view asks
** it for the cells it shows (a virtual list); a sort reorders row numbers,
** reading each key cell once.  The baseline, measured in the same run, is
** the way the window used to do it: every cell inserted into an ordinary
** list view (an item and a text per cell), and a sort that read every cell
** back, sorted the rows comparing their cells afresh at every comparison
** and wrote every cell again.
**
** Windows build only (tools/wine-run build/windows/bench_csv_list.exe
** [lines] [rounds]); configure with -DKV_BENCH=ON.  Prints, per step, the
** median milliseconds of both ways over the rounds and their ratio (ms /
** baseline ms), and a checksum of each way: the "#" (file line) of the
** first and last rows after an ascending sort by the Amount column, which
** must agree. */
#include <windows.h>
#include <commctrl.h>
#undef ReplaceFile /* the file helpers have a record of that name */

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/list_sort.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "services/services.h"
#include "shell/list_csv.h"
#include "shell/win32/shell_win32.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

/* Line i (1 .. lines): amount (i * 7919) % lines, so that the sort moves
** every row; a quoted quantity with a comma. */
std::string MakeCsv(int lines)
{
    std::string csv = "Symbol,Date,Amount,Qty,Side,Note\n";
    char line[200];
    for (int i = 1; i <= lines; i++) {
        snprintf(line, sizeof line, "S%d,%d/%d/2020,%d.%02d,\"%d,%03d\",%s,note %d\n", i % 997, 1 + i % 12, 1 + i % 28,
                 (int)((long long)i * 7919 % lines), i % 100, i / 1000, i % 1000, i % 2 ? "Long" : "Short", i);
        csv += line;
    }
    return csv;
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

std::string FirstAndLast(HWND view)
{
    char a[64] = "", b[64] = "";
    ListView_GetItemText(view, 0, 0, a, sizeof a);
    ListView_GetItemText(view, ListView_GetItemCount(view) - 1, 0, b, sizeof b);
    return std::string(a) + "/" + b;
}

/* ---- the old way ----------------------------------------------------------------------- */

struct CachedRows {
    int columns;
    std::vector<std::string> cells;
};

void ReadCached(void *user, int row, int column, char *out, int size)
{
    const CachedRows *rows = (const CachedRows *)user;
    CopyString(out, size, rows->cells[(size_t)row * (size_t)rows->columns + (size_t)column].c_str(), -1);
}

/* Fills an ordinary list view from the file as the List window used to:
** an item and a text per cell, the messages handled every 100 lines. */
int OldFill(HWND view, const char *path)
{
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadFile(path, &text, &size)) return 0;
    int length = StripCsvQuotes(text, (int)size);
    ReallocMemory(&text, (uint64_t)length + 3);
    memcpy(text + length, "\r\n", 3);
    length += 2;
    SetColumn(view, "#", LVCFMT_CENTER, 0, 1);
    int pos = 0, lineNumber = 0, columns = 1, rows = 0;
    char *line;
    char *fields[LIST_SORT_COLUMNS * 8];
    while ((line = NextCsvLine(text, length, &pos)) != nullptr) {
        if (lineNumber % 100 == 0) PumpMessages();
        if (lineNumber == 0) {
            int count = SplitCsvFields(line, fields, 1024);
            for (int k = 0; k < count; k++) SetColumn(view, fields[k], LVCFMT_CENTER, k + 1, 1);
            columns = count + 1;
        } else if (IsCsvRowLine(line)) {
            int count = SplitCsvFields(line, fields, 1024);
            char number[16];
            FormatText(number, sizeof number, "%d", lineNumber);
            LVITEMA item = {};
            item.mask = LVIF_TEXT | LVIF_PARAM;
            item.iItem = rows;
            item.pszText = number;
            item.lParam = rows;
            int index = ListView_InsertItem(view, &item);
            for (int k = 0; k < count && k + 1 < columns; k++) ListView_SetItemText(view, index, k + 1, fields[k]);
            rows++;
        }
        lineNumber++;
    }
    FreeMemory(&text);
    return rows;
}

/* Sorts as the List window used to: every cell read back, the rows sorted
** comparing their cells at every comparison, every cell written again. */
void OldSort(HWND view, int column)
{
    uint8_t priorities[LIST_SORT_COLUMNS] = {}, directions[LIST_SORT_COLUMNS] = {};
    priorities[column] = 1;
    CachedRows rows;
    rows.columns = Header_GetItemCount(ListView_GetHeader(view));
    const int count = ListView_GetItemCount(view);
    rows.cells.resize((size_t)count * (size_t)rows.columns);
    std::vector<LPARAM> data((size_t)count);
    char cell[LIST_CELL_SIZE];
    for (int r = 0; r < count; r++) {
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        ListView_GetItem(view, &item);
        data[(size_t)r] = item.lParam;
        for (int c = 0; c < rows.columns; c++) {
            cell[0] = 0;
            ListView_GetItemText(view, r, c, cell, sizeof cell);
            rows.cells[(size_t)r * (size_t)rows.columns + (size_t)c] = cell;
        }
    }
    std::vector<int> order((size_t)count);
    for (int r = 0; r < count; r++) order[(size_t)r] = r;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return CompareListRows(a, b, rows.columns, priorities, directions, ReadCached, &rows) < 0;
    });
    SendMessageA(view, WM_SETREDRAW, FALSE, 0);
    for (int r = 0; r < count; r++) {
        const int from = order[(size_t)r];
        LVITEMA item = {};
        item.mask = LVIF_PARAM;
        item.iItem = r;
        item.lParam = data[(size_t)from];
        ListView_SetItem(view, &item);
        for (int c = 0; c < rows.columns; c++)
            ListView_SetItemText(view, r, c, (char *)rows.cells[(size_t)from * (size_t)rows.columns + (size_t)c].c_str());
    }
    SendMessageA(view, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(view, nullptr, TRUE);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    const int lines = argc > 1 ? atoi(argv[1]) : 20000;
    const int rounds = argc > 2 ? atoi(argv[2]) : 3;
    char temp[MAX_PATH], folder[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    FormatText(folder, sizeof folder, "%skv_bench_csv_list", temp);
    CreateDirectoryA(folder, nullptr);
    CopyString(gProgramFolder, sizeof gProgramFolder, folder, -1);
    char path[MAX_PATH];
    FormatText(path, sizeof path, "%s\\bench.csv", folder);
    const std::string csv = MakeCsv(lines);
    if (!SaveFile(path, csv.data(), (uint32_t)csv.size())) return 1;

    gRun.unattended = 1; /* nothing waits on a question */
    InitMessages(nullptr, nullptr, gProgramFolder);
    if (!InitApplication(GetModuleHandleA(nullptr))) return 1;
    HWND frame = CreateWindowExA(0, "KestovarFrame", "Kestovar", WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, 0, 0, 1000, 700,
                                 nullptr, gFrame.frameMenu, GetModuleHandleA(nullptr), nullptr);
    if (!frame) return 1;
    ShowWindow(frame, SW_SHOWNORMAL);
    PumpMessages();
    const int amount = 3; /* list column of the Amount field */

    std::vector<double> fill, sort, close, oldFill, oldSort, oldClose;
    std::string check, oldCheck;
    for (int round = 0; round < rounds; round++) {
        auto t0 = Clock::now();
        OpenCsvAsList(nullptr, path);
        auto t1 = Clock::now();
        HWND window = gFrame.activeChild;
        ClickHeader(window, amount);
        auto t2 = Clock::now();
        check = FirstAndLast(GetListViewOf(window));
        SendMessageA(window, WM_CLOSE, 0, 0);
        auto t3 = Clock::now();
        fill.push_back(Ms(t0, t1));
        sort.push_back(Ms(t1, t2));
        close.push_back(Ms(t2, t3));

        /* The old list view, in a List window of its own like the old one. */
        HWND old = CreateMdiChild("KestovarList", "List", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr);
        HWND view = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                    WS_CHILD | WS_DISABLED | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 600,
                                    400, frame, nullptr, nullptr, nullptr);
        ListView_SetExtendedListViewStyle(view, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
        auto u0 = Clock::now();
        OldFill(view, path);
        EnableWindow(view, TRUE);
        ShowWindow(view, SW_SHOW);
        auto u1 = Clock::now();
        OldSort(view, amount);
        auto u2 = Clock::now();
        oldCheck = FirstAndLast(view);
        DestroyWindow(view);
        auto u3 = Clock::now();
        DestroyWindow(old);
        oldFill.push_back(Ms(u0, u1));
        oldSort.push_back(Ms(u1, u2));
        oldClose.push_back(Ms(u2, u3));
        PumpMessages();
    }
    printf("List window, CSV file of %d lines, median of %d rounds\n", lines, rounds);
    const struct {
        const char *step;
        double ms, baseline;
    } steps[] = {{"fill", Median(fill), Median(oldFill)},
                 {"sort", Median(sort), Median(oldSort)},
                 {"close", Median(close), Median(oldClose)},
                 {"all", Median(fill) + Median(sort) + Median(close), Median(oldFill) + Median(oldSort) + Median(oldClose)}};
    for (const auto &s : steps)
        printf("csv_list/%-6s ms=%10.1f  baseline_ms=%10.1f  ratio=%.4f\n", s.step, s.ms, s.baseline, s.ms / s.baseline);
    printf("checksum=%s baseline_checksum=%s\n", check.c_str(), oldCheck.c_str());
    gRun.unattended = 1;
    DestroyWindow(frame);
    return check == oldCheck ? 0 : 2;
}
