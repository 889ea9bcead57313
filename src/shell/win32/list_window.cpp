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

/* The list view asks for the cells it shows (a virtual list): the rows live
** here, their texts in one block, each cell an offset into it, with the
** order they are shown in.  So a CSV file of 100,000 lines opens, sorts and
** closes at the cost of its texts, not of a message per cell; a CSV list's
** block is the file's own text, cut into its fields where they lie. */
struct ListWindow {
    void *owner; /* the filler's record, when it wants to find its list again */
    char listName[PATH_SIZE];
    char title[PATH_SIZE]; /* a CSV list's window title */
    char path[PATH_SIZE];  /* the CSV file shown, "" for a table a window filled */
    uint8_t sortPriority[LIST_SORT_COLUMNS];
    uint8_t sortDirection[LIST_SORT_COLUMNS];
    int32_t columnCount;
    int32_t symbolColumn;   /* 0 none */
    int32_t exchangeColumn; /* 0 none */
    char *text;             /* the cells' texts, each ended by a NUL */
    uint64_t textUsed, textSize;
    uint32_t *cells;        /* rowCapacity x stride: 1 + the offset of the cell's text, 0 for none */
    int64_t *data;          /* each row's item data (a bar row's date) */
    int32_t *order;         /* order[k]: the row shown k-th */
    int32_t rowCount, rowCapacity;
    int32_t stride;         /* cells a row holds: the columns when its first row came */
};

static int sNewListWindow;    /* the next GetListWindow makes a new window */

static ListWindow *ListRecord(HWND window) { return window ? (ListWindow *)GetWindowLongPtrA(window, GWLP_USERDATA) : nullptr; }

/* ---- the rows ------------------------------------------------------------------------------------- */

static void FreeListRows(ListWindow *list)
{
    FreeMemory(&list->text);
    FreeMemory(&list->cells);
    FreeMemory(&list->data);
    FreeMemory(&list->order);
    list->textUsed = list->textSize = 0;
    list->rowCount = list->rowCapacity = list->stride = 0;
}

/* The text of the cell of stored row `row`, "" for none. */
static const char *StoredCell(const ListWindow *list, int32_t row, int column)
{
    if (!list || row < 0 || row >= list->rowCount || column < 0 || column >= list->stride) return "";
    const uint32_t at = list->cells[(int64_t)row * list->stride + column];
    return at ? list->text + (at - 1) : "";
}

/* The cell shown at row, column (the list view's numbering). */
static const char *ShownCell(const ListWindow *list, int row, int column)
{
    if (!list || row < 0 || row >= list->rowCount) return "";
    return StoredCell(list, list->order[row], column);
}

static const char *ListCellOf(HWND window, int row, int column) { return ShownCell(ListRecord(window), row, column); }

/* Room for row `row`; the first row fixes how many cells a row holds (the
** header's columns then).  0 when memory runs out. */
static int MakeListRow(ListWindow *list, HWND view, int32_t row)
{
    if (row < list->rowCount) return 1;
    if (!list->stride) {
        HWND header = ListView_GetHeader(view);
        list->stride = header ? Header_GetItemCount(header) : 0;
        if (list->stride < 1) list->stride = 1;
    }
    if (row >= list->rowCapacity) {
        int64_t capacity = list->rowCapacity ? (int64_t)list->rowCapacity * 2 : 256;
        if (capacity <= row) capacity = (int64_t)row + 1;
        if (capacity > INT32_MAX / 2) return 0;
        if (!ReallocMemory(&list->cells, (uint64_t)capacity * (uint64_t)list->stride * sizeof(uint32_t)) ||
            !ReallocMemory(&list->data, (uint64_t)capacity * sizeof(int64_t)) ||
            !ReallocMemory(&list->order, (uint64_t)capacity * sizeof(int32_t)))
            return 0;
        list->rowCapacity = (int32_t)capacity;
    }
    for (int32_t r = list->rowCount; r <= row; r++) list->order[r] = r;
    list->rowCount = row + 1;
    return 1;
}

/* Copies text into the block; 1 + its offset, 0 for an empty text or when
** memory runs out. */
static uint32_t AddListText(ListWindow *list, const char *text)
{
    const size_t length = text ? strlen(text) : 0;
    if (!length) return 0;
    if (list->textUsed + length + 1 > list->textSize) {
        uint64_t size = list->textSize ? list->textSize * 2 : 65536;
        while (size < list->textUsed + length + 1) size *= 2;
        if (size >= UINT32_MAX || !ReallocMemory(&list->text, size)) return 0;
        list->textSize = size;
    }
    memcpy(list->text + list->textUsed, text, length + 1);
    const uint32_t at = (uint32_t)list->textUsed + 1;
    list->textUsed += length + 1;
    return at;
}

void SetListCell(HWND listView, int row, int column, const char *text)
{
    ListWindow *list = ListRecord(GetParent(listView));
    if (!list || row < 0 || column < 0 || !MakeListRow(list, listView, row) || column >= list->stride) return;
    list->cells[(int64_t)row * list->stride + column] = AddListText(list, text);
}

void SetListRowData(HWND listView, int row, int64_t data)
{
    ListWindow *list = ListRecord(GetParent(listView));
    if (list && row >= 0 && MakeListRow(list, listView, row)) list->data[row] = data;
}

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
        ListView_SetItemCountEx(view, 0, 0);
        if (list) FreeListRows(list);
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
    SetListCell(listView, row, 0, text);
    SetListRowData(listView, row, bar->date);
    const double values[4] = {bar->open, bar->high, bar->low, bar->close};
    for (int c = 0; c < 4; c++) {
        FormatText(text, sizeof text, "%g", values[c]);
        SetListCell(listView, row, c + 1, text);
    }
    int n = FormatText(text, sizeof text, "%.0f", bar->volume);
    InsertCommas(text, n, sizeof text);
    SetListCell(listView, row, 5, text);
    FormatText(text, sizeof text, "%g", bar->split);
    SetListCell(listView, row, 6, text);
    FormatText(text, sizeof text, "%g", bar->extra);
    SetListCell(listView, row, 7, text);
    return 7;
}

void AddCentredListColumn(HWND listView, int column, const char *heading)
{
    SetColumn(listView, heading, LVCFMT_CENTER, column, 1);
}

void FinishListWindow(HWND window, HWND listView)
{
    ListWindow *list = ListRecord(window);
    HWND header = ListView_GetHeader(listView);
    if (list) list->columnCount = header ? Header_GetItemCount(header) : 0;
    ListView_SetItemCountEx(listView, list ? list->rowCount : 0, 0);
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
    SetWindowTitle(window, title);
    SetColumn(view, "#", LVCFMT_CENTER, 0, 1);
    /* The file's text is the list's block: each field stays where it lies,
    ** cut off by the NUL the reader puts at its end, and its cell points at
    ** it.  The line numbers ("#") follow the text. */
    FreeListRows(list);
    list->text = text;
    list->textSize = list->textUsed = (uint64_t)length + 1; /* the text and its NUL */
    int pos = 0, lineNumber = 0, columns = 1, rows = 0;
    char *line;
    char *fields[LIST_SORT_COLUMNS * 8];
    const int maxFields = (int)(sizeof fields / sizeof fields[0]);
    std::vector<int32_t> numbers; /* the line number of each row */
    while ((line = NextCsvLine(text, length, &pos)) != nullptr) {
        if (lineNumber % 100 == 0) {
            PumpMessages();
            /* The list may have closed meanwhile (by the user, or for a newer
            ** list of the same file): its record and the text went with it. */
            if (!IsWindow(window)) return 0;
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
            list->stride = columns;
        } else if (IsCsvRowLine(line)) {
            int count = SplitCsvFields(line, fields, maxFields);
            if (!MakeListRow(list, view, rows)) break;
            uint32_t *cells = &list->cells[(int64_t)rows * list->stride];
            cells[0] = 0;
            for (int k = 0; k + 1 < columns; k++) cells[k + 1] = k < count && fields[k][0] ? (uint32_t)(fields[k] - text) + 1 : 0;
            list->data[rows] = rows;
            numbers.push_back(lineNumber);
            rows++;
        }
        lineNumber++;
    }
    /* The line numbers go after the text, each a cell of column 0. */
    for (int32_t r = 0; r < rows; r++) {
        char number[16];
        FormatText(number, sizeof number, "%d", numbers[(size_t)r]);
        list->cells[(int64_t)r * list->stride] = AddListText(list, number);
    }
    FinishListWindow(window, view);
    UpdateHistoryList(gSettings.RecentFilesMRU, path, 0);
    return 1;
}

/* ---- sorting and charting ---------------------------------------------------------------------------- */

static const char *SortCell(void *user, int row, int column) { return StoredCell((const ListWindow *)user, row, column); }

/* Sorts the rows by the sort keys (stable: equal rows keep their order);
** only the order the rows are shown in changes. */
static void SortListByColumn(HWND window, int column)
{
    ListWindow *list = ListRecord(window);
    HWND view = GetListViewOf(window);
    if (!list || !view) return;
    UpdateSortKeys(view, column, list->sortPriority, list->sortDirection);
    HWND header = ListView_GetHeader(view);
    int columns = header ? Header_GetItemCount(header) : 0;
    int keyed = list->columnCount < columns ? list->columnCount : columns;
    if (keyed > list->stride) keyed = list->stride;
    SetWaitCursor(1);
    SortListOrder(list->order, list->rowCount, keyed, list->sortPriority, list->sortDirection, SortCell, list);
    SetWaitCursor(0);
    InvalidateRect(view, nullptr, TRUE);
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
    GetListCellText(view, row, list->symbolColumn, symbol, sizeof symbol);
    if (!symbol[0]) return;
    if (list->exchangeColumn) GetListCellText(view, row, list->exchangeColumn, exchange, sizeof exchange);
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
    HWND view = CreateListView(window, WS_CHILD | WS_DISABLED | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL | LVS_SHOWSELALWAYS,
                               LVS_EX_FULLROWSELECT | LVS_EX_HEADERDRAGDROP);
    if (!view) return 0;
    SizeChildToClient(window, FALSE);
    return 1;
}

static LRESULT OnListNotify(HWND window, NMHDR *header)
{
    HWND view = ListViewOfNotice(window, header);
    if (!view) return 0;
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        NMLVDISPINFOW *info = (NMLVDISPINFOW *)header;
        const ListWindow *list = ListRecord(window);
        GiveListCellText(info, ShownCell(list, info->item.iItem, info->item.iSubItem));
        if ((info->item.mask & LVIF_PARAM) && list && info->item.iItem >= 0 && info->item.iItem < list->rowCount)
            info->item.lParam = (LPARAM)list->data[list->order[info->item.iItem]];
        return 0;
    }
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
            FreeListRows(list);
            FreeMemory(&list);
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        }
        break;
    }
    case WM_NOTIFY: return OnListNotify(window, (NMHDR *)lParam);
    case WM_LIST_CELL_READER: return (LRESULT)(ListCellText)ListCellOf;
    default: break;
    }
    LRESULT result = 0;
    if (ListChildMessage(window, message, wParam, lParam, &gSettings.iListW, &gSettings.iListH, HELP_TOPIC_LIST_WINDOW, &result)) return result;
    return DefMDIChildProcA(window, message, wParam, lParam);
}
