/* list_window.cpp -- the List window: a report list view that other windows
** fill with their tables and that shows any CSV file, sortable by several
** columns, with a chart of the selected row's symbol. */
#include "shell/win32/shell_win32.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/list_sort.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "records/chart_record.h"
#include "foundation/win32/list_view.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "shell/help_topics.h"
#include "shell/list_csv.h"
#include "shell/kind_menu_rules.h"
#include "services/services.h"

struct ListWindow {
    void *owner; /* the filler's record, when it wants to find its list again */
    char listName[260];
    char title[260]; /* a CSV list's window title */
    char path[260];  /* the CSV file shown, "" for a table a window filled */
    uint8_t sortPriority[LIST_SORT_COLUMNS];
    uint8_t sortDirection[LIST_SORT_COLUMNS];
    int32_t columnCount;
    int32_t symbolColumn;   /* 0 none */
    int32_t exchangeColumn; /* 0 none */
};

static int sNewListWindow;    /* the next GetListWindow makes a new window */

static ListWindow *ListRecord(HWND window) { return (ListWindow *)GetWindowLongPtrA(window, GWLP_USERDATA); }

int ListMenuFacts(HWND window, KindMenuFacts *facts)
{
    ListWindow *list = ListRecord(window);
    facts->place = GetSelectionPlace(window);
    facts->symbolColumn = list && list->symbolColumn > 0;
    return 1;
}

int ListWindowPath(HWND window, char *out, int size)
{
    ListWindow *list = ListRecord(window);
    out[0] = 0;
    if (!list) return 0;
    CopyString(out, size, list->path, -1);
    return 1;
}

int ListWindowName(HWND window, char *out, int size)
{
    ListWindow *list = ListRecord(window);
    if (!list || !list->listName[0]) return 0;
    return CopyString(out, size, list->listName, -1);
}

/* ---- filling -------------------------------------------------------------------------------------- */

void SetListWindowName(HWND window, const char *name)
{
    ListWindow *list = ListRecord(window);
    if (list) CopyString(list->listName, sizeof list->listName, name, -1);
    UpdateWindowTab(window);
}

HWND GetListWindow()
{
    HWND window = nullptr;
    if (gSettings.ReuseListWindows && !sNewListWindow && FindNextChildWindow(&window, "KestovarList")) {
        HWND view = GetListViewOf(window);
        ListWindow *list = ListRecord(window);
        if (list) list->path[0] = 0; /* a filler's table is no file */
        ShowWindow(view, SW_HIDE);
        ListView_DeleteAllItems(view);
        HWND header = ListView_GetHeader(view);
        for (int c = header ? Header_GetItemCount(header) : 0; c > 0; c--) ListView_DeleteColumn(view, c - 1);
    } else {
        int w = gSettings.iListW ? gSettings.iListW : CW_USEDEFAULT, h = gSettings.iListH ? gSettings.iListH : CW_USEDEFAULT;
        window = CreateMdiChild("KestovarList", "List", 0, CW_USEDEFAULT, CW_USEDEFAULT, w, h, nullptr);
    }
    sNewListWindow = 0;
    return window;
}

int AddBarRow(HWND listView, int row, const Bar *bar)
{
    char text[64];
    FormatDate(bar->date, gSettings.DateDisplayFormat, text);
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = text;
    item.lParam = bar->date;
    ListView_InsertItem(listView, &item);
    const double values[4] = {bar->open, bar->high, bar->low, bar->close};
    for (int c = 0; c < 4; c++) {
        FormatText(text, sizeof text, "%g", values[c]);
        SetItemText(listView, row, c + 1, text);
    }
    int n = FormatText(text, sizeof text, "%.0f", bar->volume);
    InsertCommas(text, n, sizeof text);
    SetItemText(listView, row, 5, text);
    FormatText(text, sizeof text, "%g", bar->split);
    SetItemText(listView, row, 6, text);
    FormatText(text, sizeof text, "%g", bar->extra);
    SetItemText(listView, row, 7, text);
    return 7;
}

void AddCentredListColumn(HWND listView, int column, const char *heading)
{
    LVCOLUMNA c = {};
    c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    c.fmt = LVCFMT_CENTER;
    c.cx = 96;
    c.pszText = (char *)heading;
    ListView_InsertColumn(listView, column, &c);
}

void FinishListWindow(HWND window, HWND listView)
{
    ListWindow *list = ListRecord(window);
    HWND header = ListView_GetHeader(listView);
    if (list) list->columnCount = header ? Header_GetItemCount(header) : 0;
    EnableWindow(listView, TRUE);
    ListView_EnsureVisible(listView, 0, FALSE);
    SelectItem(window, 0);
    /* The header may only exist once columns do: it gets the arrows now. */
    SetSortImageList(listView);
    if (list) ShowSortArrows(listView, list->sortPriority, list->sortDirection);
    AutoSizeColumns(listView);
    ShowWindow(window, SW_SHOW);
    ShowWindow(listView, SW_SHOW);
    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)window, 0);
}

static void AddCsvRow(HWND view, int row, int lineNumber, char **fields, int count, int columns)
{
    char number[16];
    FormatText(number, sizeof number, "%d", lineNumber);
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = row;
    item.pszText = number;
    item.lParam = row;
    int index = ListView_InsertItem(view, &item);
    for (int k = 0; k < count && k + 1 < columns; k++) SetItemText(view, index, k + 1, fields[k]);
}

int OpenCsvAsList(const char *caption, const char *path)
{
    char title[600];
    FormatText(title, sizeof title, "%s - %s", caption ? caption : "CSV File", path);
    HWND older = nullptr;
    while (FindNextChildWindow(&older, "KestovarList")) {
        ListWindow *list = ListRecord(older);
        if (list && CompareNoCase(list->title, title) == 0) {
            SendMessageA(older, WM_CLOSE, 0, 0);
            break;
        }
    }
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadFile(path, &text, &size)) return 0;
    int length = StripCsvQuotes(text, (int)size);
    /* Room for the closing line break the reader expects. */
    if (!ReallocMemory(&text, (uint64_t)length + 3)) {
        FreeMemory(&text);
        return 0;
    }
    memcpy(text + length, "\r\n", 3);
    length += 2;
    sNewListWindow = 1;
    HWND window = GetListWindow();
    HWND view = window ? GetListViewOf(window) : nullptr;
    ListWindow *list = window ? ListRecord(window) : nullptr;
    if (!view || !list) {
        FreeMemory(&text);
        return 0;
    }
    list->owner = nullptr;
    list->symbolColumn = list->exchangeColumn = 0;
    const char *slash = strrchr(path, '\\');
    CopyString(list->listName, sizeof list->listName, slash ? slash + 1 : path, -1);
    CopyString(list->title, sizeof list->title, title, -1);
    CopyString(list->path, sizeof list->path, path, -1);
    SetWindowTextA(window, title);
    SetColumn(view, "#", LVCFMT_CENTER, 0, 1);
    int pos = 0, lineNumber = 0, columns = 1, rows = 0;
    char *line;
    char *fields[LIST_SORT_COLUMNS * 8];
    const int maxFields = (int)(sizeof fields / sizeof fields[0]);
    while ((line = NextCsvLine(text, length, &pos)) != nullptr) {
        if (lineNumber % 100 == 0) {
            PumpMessages();
            if (PlatEscapePressed()) {
                ReportError("CSV file processing aborted");
                break;
            }
        }
        if (lineNumber == 0) {
            /* An empty first line has no headings (an empty file shows only "#"). */
            int count = line[0] ? SplitCsvFields(line, fields, maxFields) : 0;
            CsvHeaderColumns found = {};
            for (int k = 0; k < count; k++) {
                SetColumn(view, fields[k], LVCFMT_CENTER, k + 1, 1);
                ClassifyCsvHeading(fields[k], k + 1, &found);
            }
            list->symbolColumn = found.symbol;
            list->exchangeColumn = found.exchange;
            columns = count + 1;
        } else if (IsCsvRowLine(line)) {
            int count = SplitCsvFields(line, fields, maxFields);
            AddCsvRow(view, rows++, lineNumber, fields, count, columns);
        }
        lineNumber++;
    }
    FreeMemory(&text);
    FinishListWindow(window, view);
    UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
    return 1;
}

/* ---- sorting and charting ---------------------------------------------------------------------------- */

/* The rows' texts and item data, read once for a sort. */
struct ListRows {
    int columns;
    std::vector<std::string> cells; /* row-major */
    std::vector<LPARAM> data;
};

static void ReadCachedCell(void *user, int row, int column, char *out, int size)
{
    const ListRows *rows = (const ListRows *)user;
    CopyString(out, size, rows->cells[(size_t)row * (size_t)rows->columns + (size_t)column].c_str(), -1);
}

/* A cell's whole text: the list view copies no more than the buffer holds,
** so the buffer grows until the text fits (a CSV field may be long). */
static void ReadWholeCell(HWND view, int row, int column, std::vector<char> *buffer, std::string *out)
{
    if (buffer->size() < 256) buffer->resize(256);
    for (;;) {
        LVITEMA item = {};
        item.iSubItem = column;
        item.pszText = buffer->data();
        item.cchTextMax = (int)buffer->size();
        (*buffer)[0] = 0;
        const size_t length = (size_t)SendMessageA(view, LVM_GETITEMTEXTA, (WPARAM)row, (LPARAM)&item);
        if (length + 1 < buffer->size() || buffer->size() >= ((size_t)1 << 24)) {
            out->assign(item.pszText ? item.pszText : "");
            return;
        }
        buffer->resize(buffer->size() * 2);
    }
}

/* Sorts the rows by the sort keys.  The list view's own sort hands the
** comparison row indexes that do not hold still on every system, so the rows
** are read, put in order here (stable, so equal rows keep their order) and
** written back. */
static void SortListByColumn(HWND window, int column)
{
    ListWindow *list = ListRecord(window);
    HWND view = GetListViewOf(window);
    if (!list || !view) return;
    UpdateSortKeys(view, column, list->sortPriority, list->sortDirection);
    HWND header = ListView_GetHeader(view);
    ListRows rows;
    rows.columns = header ? Header_GetItemCount(header) : 0;
    int count = ListView_GetItemCount(view);
    if (rows.columns > 0 && count > 1) {
        rows.cells.resize((size_t)count * (size_t)rows.columns);
        rows.data.resize((size_t)count);
        std::vector<char> buffer;
        for (int r = 0; r < count; r++) {
            LVITEMA item = {};
            item.mask = LVIF_PARAM;
            item.iItem = r;
            ListView_GetItem(view, &item);
            rows.data[(size_t)r] = item.lParam;
            for (int c = 0; c < rows.columns; c++)
                ReadWholeCell(view, r, c, &buffer, &rows.cells[(size_t)r * (size_t)rows.columns + (size_t)c]);
        }
        std::vector<int> order((size_t)count);
        for (int r = 0; r < count; r++) order[(size_t)r] = r;
        int keyed = list->columnCount < rows.columns ? list->columnCount : rows.columns;
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return CompareListRows(a, b, keyed, list->sortPriority, list->sortDirection, ReadCachedCell, &rows) < 0;
        });
        SendMessageA(view, WM_SETREDRAW, FALSE, 0);
        for (int r = 0; r < count; r++) {
            int from = order[(size_t)r];
            LVITEMA item = {};
            item.mask = LVIF_PARAM;
            item.iItem = r;
            item.lParam = rows.data[(size_t)from];
            ListView_SetItem(view, &item);
            for (int c = 0; c < rows.columns; c++)
                SetItemText(view, r, c, rows.cells[(size_t)from * (size_t)rows.columns + (size_t)c].c_str());
        }
        SendMessageA(view, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(view, nullptr, TRUE);
    }
    SelectItem(window, 0);
    ShowSortArrows(view, list->sortPriority, list->sortDirection);
}

void ChartListRow(HWND window)
{
    ListWindow *list = ListRecord(window);
    int row = GetSelectedItem(window);
    if (!list || row < 0 || !list->symbolColumn) return;
    HWND view = GetListViewOf(window);
    char symbol[40] = "", exchange[80] = "", chart[64];
    ListView_GetItemText(view, row, list->symbolColumn, symbol, sizeof symbol);
    if (!symbol[0]) return;
    if (list->exchangeColumn) ListView_GetItemText(view, row, list->exchangeColumn, exchange, sizeof exchange);
    ChartSymbolForRow(symbol, exchange, chart, sizeof chart);
    OpenChart(chart, 0, CHART_KIND_SYMBOL, nullptr, window, nullptr, 1, 1);
}

int ListCommand(HWND window, int commandId)
{
    if (commandId == IDM_LIST_CHART) {
        ChartListRow(window);
        return 1;
    }
    return 0;
}

/* ---- window procedure ---------------------------------------------------------------------------------- */

static int CreateListParts(HWND window)
{
    ListWindow *list = nullptr;
    if (!AllocMemory(&list, sizeof *list)) return 0;
    SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)list);
    HWND view = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                WS_CHILD | WS_DISABLED | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS, 0, 0, 0, 0,
                                window, (HMENU)(INT_PTR)LIST_VIEW_ID, gFrame.instance, nullptr);
    if (!view) return 0;
    SetSortImageList(view);
    ListView_SetExtendedListViewStyle(view, LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
    SizeChildToClient(window, FALSE);
    return 1;
}

static LRESULT OnListNotify(HWND window, NMHDR *header)
{
    HWND view = GetListViewOf(window);
    if (!view) return 0;
    if (header->hwndFrom == ListView_GetHeader(view)) {
        if (header->code == HDN_DIVIDERDBLCLICKA || header->code == HDN_DIVIDERDBLCLICKW)
            AutoSizeColumn((NMHEADERA *)header);
        return 0;
    }
    if (header->hwndFrom != view) return 0;
    switch (header->code) {
    case LVN_COLUMNCLICK: SortListByColumn(window, ((NMLISTVIEW *)header)->iSubItem); break;
    case NM_CUSTOMDRAW:
        /* A scroll ends in a paint: the rows it brought into sight are fitted. */
        if (((NMLVCUSTOMDRAW *)header)->nmcd.dwDrawStage == CDDS_PREPAINT) WidenColumnsOnScroll(view);
        return CDRF_DODEFAULT;
    case LVN_KEYDOWN: {
        NMLVKEYDOWN *key = (NMLVKEYDOWN *)header;
        if (key->wVKey == VK_RETURN)
            ChartListRow(window);
        else if (key->wVKey == 'C' && GetKeyState(VK_CONTROL) < 0)
            CopyListView(window, nullptr);
        break;
    }
    case NM_DBLCLK: ChartListRow(window); break;
    case LVN_ITEMCHANGED: {
        /* An open chart of this list follows its selection. */
        NMLISTVIEW *change = (NMLISTVIEW *)header;
        if ((change->uNewState & LVIS_SELECTED) && !(change->uOldState & LVIS_SELECTED) && FindChartWindow(window))
            ChartListRow(window);
        break;
    }
    default: break;
    }
    return 0;
}

/* The messages every list-type child answers alike; its own procedure has
** already freed its record on WM_DESTROY.  1 when the message is answered
** (result set), 0 when the default MDI handling follows. */
int ListChildMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, int *savedWidth, int *savedHeight,
                     int helpTopic, LRESULT *result)
{
    switch (message) {
    case WM_DESTROY:
        ForgetRowsInSight(GetListViewOf(window));
        RemoveWindowTab(window);
        if (gFrame.activeChild == window) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        return 0;
    case WM_SIZE:
        TrackChildMaximized(window, wParam);
        SizeChildToClient(window, TRUE);
        [[fallthrough]];
    case WM_MOVE:
        if (!IsZoomed(window) && !IsIconic(window)) {
            RECT r;
            GetWindowRect(window, &r);
            *savedWidth = r.right - r.left;
            *savedHeight = r.bottom - r.top;
        }
        return 0;
    case WM_SETFOCUS: {
        HWND view = GetListViewOf(window);
        if (view) SetFocus(view);
        *result = 0;
        return 1;
    }
    case WM_HELP:
        OpenHelp(helpTopic);
        gFrame.helpAnswered = 1;
        *result = TRUE;
        return 1;
    case WM_MDIACTIVATE: OnMdiChildActivate(window, (HWND)wParam, (HWND)lParam); return 0;
    default:
        if (message == gFrame.findMessage && gFrame.findMessage) {
            FindInList(window, 0);
            *result = 0;
            return 1;
        }
        return 0;
    }
}

LRESULT CALLBACK ListWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (!CreateListParts(window)) return -1;
        break;
    case WM_DESTROY: {
        ListWindow *list = ListRecord(window);
        if (list) {
            FreeMemory(&list);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        break;
    }
    case WM_NOTIFY: return OnListNotify(window, (NMHDR *)lParam);
    default: break;
    }
    LRESULT result = 0;
    if (ListChildMessage(window, message, wParam, lParam, &gSettings.iListW, &gSettings.iListH, HELP_TOPIC_LIST_WINDOW, &result)) return result;
    return DefMDIChildProcA(window, message, wParam, lParam);
}
