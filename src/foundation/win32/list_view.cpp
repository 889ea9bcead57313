/* list_view.cpp -- list-view, sorting and dialog-layout utilities. */
#include "foundation/win32/list_view.h"
#include "foundation/win32/window_text.h"

#include <commdlg.h>
#include <dlgs.h>
#include <shlobj.h>

#include <cstring>
#include <optional>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/folder_helpers.h"
#include "foundation/list_sort.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "platform/platform.h"
#include "services/services.h"

int gOmitListHeading = 0;
char gLastCsvFolder[PATH_SIZE];

/* ---- dialogs ------------------------------------------------------------------------------------ */

int IsRadioButton(HWND window)
{
    char name[16];
    if (!GetClassNameA(window, name, sizeof name) || CompareNoCase(name, "button") != 0) return 0;
    LONG type = GetWindowLongA(window, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

struct LayoutWalk {
    HWND dialog;
    const int *stretchIds;
    DialogLayout *entries;
    int count, capacity, seenListed;
};

static int IsListed(const int *ids, int id)
{
    for (; ids && *ids; ids++)
        if (*ids == id) return 1;
    return 0;
}

static BOOL CALLBACK AddLayoutControl(HWND child, LPARAM param)
{
    LayoutWalk *walk = (LayoutWalk *)param;
    if (GetParent(child) != walk->dialog || walk->count >= walk->capacity - 1) return TRUE;
    DialogLayout *e = &walk->entries[walk->count++];
    RECT r;
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, walk->dialog, (POINT *)&r, 2);
    e->window = child;
    e->controlId = (uint32_t)GetWindowLongA(child, GWL_ID);
    e->left = r.left;
    e->top = r.top;
    e->width = r.right - r.left;
    e->height = r.bottom - r.top;
    int listed = IsListed(walk->stretchIds, (int)e->controlId);
    e->stretch = listed ? 1u : 0u;
    e->move = (!listed && walk->seenListed) ? 1u : 0u;
    if (listed) walk->seenListed = 1;
    char name[16];
    e->combo = GetClassNameA(child, name, sizeof name) && strcmp(name, "ComboBox") == 0;
    return TRUE;
}

static BOOL CALLBACK CountChild(HWND, LPARAM param)
{
    (*(int *)param)++;
    return TRUE;
}

DialogLayout *SaveDialogLayout(HWND dialog, const int *stretchIds)
{
    int children = 0;
    EnumChildWindows(dialog, CountChild, (LPARAM)&children);
    DialogLayout *layout = nullptr;
    if (!AllocMemory(&layout, sizeof(DialogLayout) * (uint64_t)(children + 2))) return nullptr;
    RECT r;
    GetWindowRect(dialog, &r);
    layout[0].window = dialog;
    layout[0].width = r.right - r.left;
    layout[0].height = r.bottom - r.top;
    LayoutWalk walk = {dialog, stretchIds, layout, 1, children + 2, 0};
    EnumChildWindows(dialog, AddLayoutControl, (LPARAM)&walk);
    return layout;
}

void ResizeDialogLayout(DialogLayout *layout)
{
    if (!layout || !layout[1].window) return;
    RECT r;
    GetWindowRect(layout[0].window, &r);
    int dx = (r.right - r.left) - layout[0].width, dy = (r.bottom - r.top) - layout[0].height;
    for (DialogLayout *e = layout + 1; e->window; e++) {
        LayoutRect saved = {e->left, e->top, e->width, e->height}, placed;
        if (!PlaceLayoutControl(&saved, (int)e->move, (int)e->stretch, dx, dy, &placed)) continue;
        InvalidateRect(e->window, nullptr, TRUE);
        MoveWindow(e->window, placed.left, placed.top, placed.width, placed.height, TRUE);
        if (e->combo && e->stretch) SendMessageA(e->window, CB_SETEDITSEL, 0, MAKELPARAM(-1, 0));
    }
}

void CenterWindow(HWND window)
{
    HWND reference = window;
    for (;;) {
        HWND parent = GetParent(reference);
        HWND next = nullptr;
        if (parent && parent != GetDesktopWindow())
            next = parent;
        else if (!(GetWindowLongA(reference, GWL_STYLE) & WS_CHILD))
            next = GetWindow(reference, GW_OWNER);
        if (!next || next == GetDesktopWindow()) break;
        reference = next;
    }
    if (reference == window) reference = GetDesktopWindow();
    RECT w, ref;
    GetWindowRect(window, &w);
    GetWindowRect(reference, &ref);
    int x = (ref.left + ref.right) / 2 - (w.right - w.left) / 2;
    int y = (ref.top + ref.bottom) / 2 - (w.bottom - w.top) / 2;
    if (GetWindowLongA(window, GWL_STYLE) & WS_CHILD) {
        POINT p = {x, y};
        ScreenToClient(GetParent(window), &p);
        x = p.x;
        y = p.y;
    }
    SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW);
}

UINT_PTR CALLBACK FileDialogHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NOTIFY && ((NMHDR *)lParam)->code == CDN_INITDONE) CenterWindow(GetParent(dialog));
    return 0;
}

void SizeChildToClient(HWND window, int repaint)
{
    HWND child = GetWindow(window, GW_CHILD);
    if (!child) return;
    RECT r;
    GetClientRect(window, &r);
    MoveWindow(child, 0, 0, r.right, r.bottom, repaint);
}

/* The folder chooser in the system's wide letters: the folder it starts in
** and the one chosen are UTF-8 names outside ASCII as well. */
static int CALLBACK FolderCallback(HWND window, UINT message, LPARAM lParam, LPARAM data)
{
    if (message == BFFM_INITIALIZED) {
        const char **texts = (const char **)data;
        CenterWindow(window);
        SetWindowTitle(window, texts[1]);
        WCHAR start[MAX_PATH];
        if (PlatWideFromText(texts[0], start, MAX_PATH)) SendMessageW(window, BFFM_SETSELECTIONW, TRUE, (LPARAM)start);
    }
    return 0;
}

int BrowseForFolder(char *path, const char *title, int ignored, HWND owner)
{
    const char *texts[2] = {path, title};
    BROWSEINFOW info = {};
    info.hwndOwner = owner;
    info.lpszTitle = L"Folders:";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = FolderCallback;
    info.lParam = (LPARAM)texts;
    LPITEMIDLIST chosen = SHBrowseForFolderW(&info);
    if (!chosen) return 0;
    WCHAR folder[MAX_PATH];
    char text[PATH_SIZE];
    int ok = SHGetPathFromIDListW(chosen, folder) && TextFromWide(folder, text, sizeof text) ? 1 : 0;
    CoTaskMemFree(chosen);
    if (ok) CopyString(path, PATH_SIZE, text, -1);
    return ok;
}

/* ---- columns ------------------------------------------------------------------------------------ */

HDC GetMenuFontDC(HWND window, HGDIOBJ *oldFont)
{
    static HFONT menuFont;
    if (!menuFont) {
        NONCLIENTMETRICSA metrics = {};
        metrics.cbSize = sizeof metrics;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
        menuFont = CreateFontIndirectA(&metrics.lfMenuFont);
    }
    HDC dc = GetDC(window);
    *oldFont = SelectObject(dc, menuFont ? (HGDIOBJ)menuFont : GetStockObject(DEFAULT_GUI_FONT));
    return dc;
}

/* The width of a text of the program's (UTF-8) as the list view draws it:
** its letters, not its bytes, are measured. */
static int TextWidth(HDC dc, const char *text)
{
    WCHAR wide[LIST_CELL_SIZE];
    const int n = PlatWideFromTextCut(text, wide, LIST_CELL_SIZE);
    SIZE size = {};
    GetTextExtentPoint32W(dc, wide, n > 0 ? n - 1 : 0, &size);
    return size.cx;
}

/* A column's heading as UTF-8 into out[LIST_CELL_SIZE] and its format into
** *format (may be null); 0, out empty, when the header has no such column. */
static int ReadHeading(HWND header, int column, char *out, int *format)
{
    WCHAR wide[LIST_CELL_SIZE] = L"";
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_FORMAT;
    item.pszText = wide;
    item.cchTextMax = LIST_CELL_SIZE;
    out[0] = 0;
    if (!header || !SendMessageW(header, HDM_GETITEMW, (WPARAM)column, (LPARAM)&item)) return 0;
    TextFromWideCut(wide, out, LIST_CELL_SIZE);
    if (format) *format = item.fmt;
    return 1;
}

/* Widths set while the view draws cost a pass over every row of a long list
** (about 25 ms a column at 100,000 rows): they are set with drawing held,
** and the view drawn once after.  A hidden view is left as it is (letting
** it draw again would show it), and a view held already stays held until
** the outer hold ends. */
class DrawingHeld
{
  public:
    explicit DrawingHeld(HWND view)
        : view_(view), held_(view && view != heldView_ && (GetWindowLongA(view, GWL_STYLE) & WS_VISIBLE))
    {
        if (!held_) return;
        outer_ = heldView_;
        heldView_ = view_;
        SendMessageA(view_, WM_SETREDRAW, FALSE, 0);
    }
    ~DrawingHeld()
    {
        if (!held_) return;
        SendMessageA(view_, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(view_, nullptr, TRUE);
        heldView_ = outer_;
    }
    DrawingHeld(const DrawingHeld &) = delete;
    DrawingHeld &operator=(const DrawingHeld &) = delete;

  private:
    static inline HWND heldView_ = nullptr; /* window code runs on one thread */
    HWND view_;
    HWND outer_ = nullptr;
    bool held_;
};

enum { SORT_ARROW_WIDTH = 16 }; /* the sort-arrow images are 16 x 16 */
enum { FIT_ALL_ROWS = 1000 }; /* lists up to this long are fitted to every row */

int HeaderNeededWidth(HWND header, int column)
{
    char text[LIST_CELL_SIZE];
    int format = 0;
    if (!ReadHeading(header, column, text, &format)) return 0;
    /* The header draws the heading in its own font, three edge widths in
    ** from each side, and a sort arrow with the same margin on both of its
    ** sides: narrower, a sorted column shows "..." for its name. */
    const int margin = 3 * GetSystemMetrics(SM_CXEDGE);
    HDC headerDc = GetDC(header);
    HFONT font = (HFONT)SendMessageA(header, WM_GETFONT, 0, 0);
    HGDIOBJ oldFont = SelectObject(headerDc, font ? (HGDIOBJ)font : GetStockObject(DEFAULT_GUI_FONT));
    const int width =
        TextWidth(headerDc, text) + 2 * margin + ((format & HDF_IMAGE) ? SORT_ARROW_WIDTH + 2 * margin : 0);
    SelectObject(headerDc, oldFont);
    ReleaseDC(header, headerDc);
    return width;
}

/* The window's own reader of its cells, or null: its list view is then asked. */
static ListCellText CellReaderOf(HWND listWindow)
{
    return (ListCellText)SendMessageA(listWindow, WM_LIST_CELL_READER, 0, 0);
}

/* One cell's text (up to LIST_CELL_SIZE - 1 bytes, whole letters) into cell. */
static void ReadCell(HWND listWindow, HWND view, ListCellText reader, int row, int column, char *cell)
{
    cell[0] = 0;
    if (reader) {
        const char *text = reader(listWindow, row, column);
        if (text) CopyString(cell, LIST_CELL_SIZE, text, (int)Utf8CutLength(text, LIST_CELL_SIZE - 1));
    } else {
        GetListCellText(view, row, column, cell, LIST_CELL_SIZE);
    }
}

/* The wider of width and the widest text, plus pad, of the column's cells
** in rows [first, end).  The cells are read from the list's window where it
** reads them itself: under Wine the list view takes about a quarter of a
** millisecond to answer for one. */
static int WidestCell(HWND listView, int column, HDC dc, int pad, int first, int end, int width)
{
    char text[LIST_CELL_SIZE];
    HWND owner = GetParent(listView);
    const ListCellText reader = CellReaderOf(owner);
    for (int row = first; row < end; row++) {
        ReadCell(owner, listView, reader, row, column, text);
        int w = TextWidth(dc, text) + pad;
        if (w > width) width = w;
    }
    return width;
}

void FitColumnWidth(HWND listView, int column, HDC dc)
{
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    int pad = 2 * metrics.tmAveCharWidth;
    const int rows = ListView_GetItemCount(listView);
    /* A list of moderate length is measured whole: a sort, which leaves the
    ** widths alone, then brings no wider text into sight to be cut.  Longer
    ** lists are measured on the rows in sight, to stay quick. */
    int first = 0, end = rows;
    if (rows > FIT_ALL_ROWS) {
        first = ListView_GetTopIndex(listView);
        const int page = ListView_GetCountPerPage(listView);
        if (first + page < end) end = first + page;
    }
    int width = WidestCell(listView, column, dc, pad, first, end, 32);
    char text[LIST_CELL_SIZE];
    HWND header = ListView_GetHeader(listView);
    if (ReadHeading(header, column, text, nullptr)) {
        int w = HeaderNeededWidth(header, column);
        if (w < TextWidth(dc, text) + pad) w = TextWidth(dc, text) + pad;
        if (w > width) width = w;
    }
    ListView_SetColumnWidth(listView, column, width);
}

void WidenColumnsToRows(HWND listView, int first, int end)
{
    HWND header = ListView_GetHeader(listView);
    int count = header ? Header_GetItemCount(header) : 0;
    const int rows = ListView_GetItemCount(listView);
    if (first < 0) first = 0;
    if (end > rows) end = rows;
    if (count < 1 || first >= end) return;
    HGDIOBJ old;
    HDC dc = GetMenuFontDC(listView, &old);
    TEXTMETRICA metrics;
    GetTextMetricsA(dc, &metrics);
    const int pad = 2 * metrics.tmAveCharWidth;
    std::optional<DrawingHeld> held; /* only once a column widens: a scroll mostly widens none */
    for (int c = 0; c < count; c++) {
        const int width = ListView_GetColumnWidth(listView, c);
        const int needed = WidestCell(listView, c, dc, pad, first, end, width);
        if (needed <= width) continue;
        if (!held) held.emplace(listView);
        ListView_SetColumnWidth(listView, c, needed);
    }
    SelectObject(dc, old);
    ReleaseDC(listView, dc);
}

/* Only the rows in sight are measured, so a list of any length costs one
** page of rows. */
static void WidenColumnsToRowsInSight(HWND listView)
{
    const int top = ListView_GetTopIndex(listView);
    const int page = ListView_GetCountPerPage(listView) + 1; /* a part-shown last row counts */
    WidenColumnsToRows(listView, top, top + page);
}

static const char kRowsInSightProp[] = "KvRowsInSight";

void WidenColumnsOnScroll(HWND listView)
{
    /* Stored as top row + 1, so that 0 (no property) means "not yet". */
    HANDLE seen = GetPropA(listView, kRowsInSightProp);
    INT_PTR top = ListView_GetTopIndex(listView) + 1;
    if ((INT_PTR)seen == top) return;
    SetPropA(listView, kRowsInSightProp, (HANDLE)top);
    WidenColumnsToRowsInSight(listView);
}

void ForgetRowsInSight(HWND listView)
{
    if (listView) RemovePropA(listView, kRowsInSightProp);
}

void AutoSizeColumns(HWND listView)
{
    HWND header = ListView_GetHeader(listView);
    int count = header ? Header_GetItemCount(header) : 0;
    HGDIOBJ old;
    HDC dc = GetMenuFontDC(listView, &old);
    DrawingHeld held(listView);
    for (int c = 0; c < count; c++) FitColumnWidth(listView, c, dc);
    SelectObject(dc, old);
    ReleaseDC(listView, dc);
}

void AutoSizeColumn(const NMHEADERA *header)
{
    HWND listView = GetParent(header->hdr.hwndFrom);
    if (header->iItem < 0 || header->iItem >= Header_GetItemCount(header->hdr.hwndFrom)) return;
    HGDIOBJ old;
    HDC dc = GetMenuFontDC(listView, &old);
    FitColumnWidth(listView, header->iItem, dc);
    SelectObject(dc, old);
    ReleaseDC(listView, dc);
}

HWND ListViewOfNotice(HWND listWindow, const NMHDR *notice)
{
    HWND view = GetListViewOf(listWindow);
    if (!view) return nullptr;
    if (notice->hwndFrom == ListView_GetHeader(view)) {
        if (notice->code == HDN_DIVIDERDBLCLICKA || notice->code == HDN_DIVIDERDBLCLICKW)
            AutoSizeColumn((const NMHEADERA *)notice);
        return nullptr;
    }
    return notice->hwndFrom == view ? view : nullptr;
}

/* ---- the letters of cells and headings ---------------------------------------------------- */

HWND CreateListView(HWND window, DWORD style, DWORD extendedStyle)
{
    HINSTANCE instance = (HINSTANCE)GetWindowLongPtrW(window, GWLP_HINSTANCE);
    HWND view = CreateWindowExW(WS_EX_CLIENTEDGE, WC_LISTVIEWW, L"", style, 0, 0, 0, 0, window,
                                (HMENU)(INT_PTR)LIST_VIEW_ID, instance, nullptr);
    if (!view) return nullptr;
    /* The window that owns it may be a narrow one, which the list view asks
    ** as it is made: told, it asks for its cells in wide letters all the
    ** same, so that no cell passes through the code page. */
    ListView_SetUnicodeFormat(view, TRUE);
    SetSortImageList(view);
    KeepListKeysQuick(view);
    ListView_SetExtendedListViewStyle(view, extendedStyle);
    return view;
}

void GiveListCellText(NMLVDISPINFOW *info, const char *text)
{
    if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax < 1) return;
    PlatWideFromTextCut(text ? text : "", info->item.pszText, info->item.cchTextMax);
}

int GetListCellText(HWND listView, int row, int column, char *out, size_t size)
{
    if (!size) return 0;
    WCHAR wide[LIST_CELL_SIZE] = L"";
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = wide;
    item.cchTextMax = LIST_CELL_SIZE;
    SendMessageW(listView, LVM_GETITEMTEXTW, (WPARAM)row, (LPARAM)&item);
    return TextFromWideCut(wide, out, size);
}

void SetColumn(HWND listView, const char *heading, int format, int column, int insert)
{
    WCHAR wide[LIST_CELL_SIZE];
    PlatWideFromTextCut(heading ? heading : "", wide, LIST_CELL_SIZE);
    LVCOLUMNW col = {};
    col.mask = LVCF_TEXT | LVCF_FMT | (insert ? LVCF_WIDTH : 0);
    col.fmt = format;
    col.cx = 96;
    col.pszText = wide;
    SendMessageW(listView, insert ? LVM_INSERTCOLUMNW : LVM_SETCOLUMNW, (WPARAM)column, (LPARAM)&col);
}

void SetItemText(HWND listView, int row, int column, const char *text)
{
    WCHAR wide[LIST_CELL_SIZE];
    PlatWideFromTextCut(text ? text : "", wide, LIST_CELL_SIZE);
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = wide;
    SendMessageW(listView, LVM_SETITEMTEXTW, (WPARAM)row, (LPARAM)&item);
}

int InsertListItem(HWND listView, int row, const char *text)
{
    WCHAR wide[LIST_CELL_SIZE];
    PlatWideFromTextCut(text ? text : "", wide, LIST_CELL_SIZE);
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = wide;
    return (int)SendMessageW(listView, LVM_INSERTITEMW, 0, (LPARAM)&item);
}

/* ---- selection ------------------------------------------------------------------------------------ */

static int IsListView(HWND window)
{
    char name[32];
    return window && GetClassNameA(window, name, sizeof name) && strcmp(name, WC_LISTVIEWA) == 0;
}

HWND GetListViewOf(HWND listWindow)
{
    if (!listWindow) return nullptr;
    if (IsListView(listWindow)) return listWindow;
    HWND view = GetDlgItem(listWindow, LIST_VIEW_ID);
    if (IsListView(view)) return view;
    view = GetWindow(listWindow, GW_CHILD);
    return IsListView(view) ? view : nullptr;
}

int GetSelectionPlace(HWND listWindow)
{
    HWND view = listWindow ? GetListViewOf(listWindow) : (IsListView(GetFocus()) ? GetFocus() : nullptr);
    if (!view) return SELECTION_NONE;
    return SelectionPlaceOf(ListView_GetItemCount(view), ListView_GetNextItem(view, -1, LVNI_SELECTED));
}

int GetSelectedItem(HWND listWindow)
{
    HWND view = GetListViewOf(listWindow);
    return view ? ListView_GetNextItem(view, -1, LVNI_SELECTED) : -1;
}

/* Moves the selection and the focus of a single-selection list view to row:
** the row that held them gives them up first, and then the new one takes
** them.  Clearing every row at once, or a new row taking them while another
** holds them, costs a pass over all rows on some systems (Wine's list view),
** which a list of 100,000 rows feels at every key. */
static void MoveSingleSelection(HWND view, int row)
{
    const int selected = ListView_GetNextItem(view, -1, LVNI_SELECTED);
    if (selected >= 0 && selected != row) ListView_SetItemState(view, selected, 0, LVIS_SELECTED | LVIS_FOCUSED);
    const int focused = ListView_GetNextItem(view, -1, LVNI_FOCUSED);
    if (focused >= 0 && focused != row) ListView_SetItemState(view, focused, 0, LVIS_FOCUSED);
    ListView_SetItemState(view, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ListView_SetSelectionMark(view, row);
}

void ClearListSelection(HWND view)
{
    if (!(GetWindowLongA(view, GWL_STYLE) & LVS_SINGLESEL)) {
        ListView_SetItemState(view, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        return;
    }
    const int selected = ListView_GetNextItem(view, -1, LVNI_SELECTED);
    if (selected >= 0) ListView_SetItemState(view, selected, 0, LVIS_SELECTED | LVIS_FOCUSED);
    const int focused = ListView_GetNextItem(view, -1, LVNI_FOCUSED);
    if (focused >= 0) ListView_SetItemState(view, focused, 0, LVIS_FOCUSED);
}

int SelectItem(HWND listWindow, int row)
{
    HWND view = GetListViewOf(listWindow);
    if (!view || row < 0 || row >= ListView_GetItemCount(view)) return 0;
    if (GetWindowLongA(view, GWL_STYLE) & LVS_SINGLESEL) {
        MoveSingleSelection(view, row);
    } else {
        ListView_SetItemState(view, -1, 0, LVIS_SELECTED | LVIS_FOCUSED);
        ListView_SetItemState(view, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }
    ListView_EnsureVisible(view, row, FALSE);
    return 1;
}

/* ---- moving through a long list by the keyboard ------------------------------------------------ */

static const char kQuickKeysProp[] = "KvQuickKeys"; /* the list view's own procedure */

/* The row a navigation key moves the focus to, as the list view itself
** moves it in a report view; -1 for any other key. */
static int KeyTarget(HWND view, WPARAM key)
{
    const int count = ListView_GetItemCount(view);
    if (count <= 0) return -1;
    const int focused = ListView_GetNextItem(view, -1, LVNI_FOCUSED);
    const int top = ListView_GetTopIndex(view);
    int page = ListView_GetCountPerPage(view);
    if (page < 1) page = 1;
    int row;
    switch (key) {
    case VK_UP: row = focused < 0 ? 0 : focused - 1; break;
    case VK_DOWN: row = focused < 0 ? 0 : focused + 1; break;
    case VK_HOME: row = 0; break;
    case VK_END: row = count - 1; break;
    case VK_PRIOR: row = focused == top ? focused - page + 1 : top; break;
    case VK_NEXT: row = focused == top + page - 1 ? focused + page - 1 : top + page - 1; break;
    default: return -1;
    }
    return row < 0 ? 0 : row >= count ? count - 1 : row;
}

/* A wide procedure, as the list view's own is: the messages reach it as
** the list view takes them. */
static LRESULT CALLBACK QuickKeysProc(HWND view, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC own = (WNDPROC)GetPropA(view, kQuickKeysProp);
    if (message == WM_KEYDOWN && GetKeyState(VK_SHIFT) >= 0 && GetKeyState(VK_CONTROL) >= 0) {
        const int row = KeyTarget(view, wParam);
        if (row >= 0) {
            /* The owner still hears of the key, as from the list view. */
            NMLVKEYDOWN key = {};
            key.hdr.hwndFrom = view;
            key.hdr.idFrom = (UINT_PTR)GetDlgCtrlID(view);
            key.hdr.code = LVN_KEYDOWN;
            key.wVKey = (WORD)wParam;
            SendMessageW(GetParent(view), WM_NOTIFY, key.hdr.idFrom, (LPARAM)&key);
            if (IsWindow(view) && row < ListView_GetItemCount(view)) {
                MoveSingleSelection(view, row);
                ListView_EnsureVisible(view, row, FALSE);
            }
            return 0;
        }
    }
    if (message == WM_NCDESTROY) {
        RemovePropA(view, kQuickKeysProp);
        SetWindowLongPtrW(view, GWLP_WNDPROC, (LONG_PTR)own);
    }
    return own ? CallWindowProcW(own, view, message, wParam, lParam) : DefWindowProcW(view, message, wParam, lParam);
}

void KeepListKeysQuick(HWND listView)
{
    if (!listView || GetPropA(listView, kQuickKeysProp) || !(GetWindowLongA(listView, GWL_STYLE) & LVS_SINGLESEL)) return;
    SetPropA(listView, kQuickKeysProp, (HANDLE)GetWindowLongPtrW(listView, GWLP_WNDPROC));
    SetWindowLongPtrW(listView, GWLP_WNDPROC, (LONG_PTR)QuickKeysProc);
}

void MoveListSelection(HWND listWindow, int count, int wrap)
{
    HWND view = GetListViewOf(listWindow);
    if (!view) return;
    int keys[64];
    int n = ListSelectionKeys(count, wrap, ListView_GetItemCount(view), ListView_GetNextItem(view, -1, LVNI_SELECTED),
                              keys, 64);
    static const WPARAM kVirtual[5] = {0, VK_DOWN, VK_UP, VK_HOME, VK_END};
    for (int i = 0; i < n; i++) {
        SendMessageA(view, WM_KEYDOWN, kVirtual[keys[i]], 0);
        SendMessageA(view, WM_KEYUP, kVirtual[keys[i]], 0xC0000001);
    }
}

/* ---- copying and saving ------------------------------------------------------------------------------ */

enum { COPY_CHUNK = 65536 };
enum { COPY_REPORTED = 1, COPY_ABORTED = 2 }; /* how a copy that failed was reported */

struct CopyTarget {
    PlatFile file;        /* null: the clipboard */
    const char *fileName; /* the file's name, for a failed write's report */
    HGLOBAL memory;
    size_t used, capacity;
    char buffer[COPY_CHUNK];
    size_t fill;
    int failed;
    int reported; /* COPY_REPORTED once a failed write has been reported */
};

static int FlushCopy(CopyTarget *t)
{
    if (t->fill == 0) return 1;
    if (t->file) {
        uint32_t written = 0;
        if (!PlatWriteFile(t->file, t->buffer, (uint32_t)t->fill, &written) || written != t->fill) {
            ReportError("Error writing %d bytes to %s\r\n\r\n%s", (int)t->fill, t->fileName ? t->fileName : "file",
                        GetErrorText());
            SetResultCode(RESULT_FILE_ERROR);
            t->reported = COPY_REPORTED;
            return 0;
        }
    } else {
        if (t->used + t->fill + 1 > t->capacity) {
            /* The block grows by half again (64 KB at least): a list of
            ** megabytes is not copied over once per 64 KB it holds. */
            const size_t half = t->capacity / 2, chunk = COPY_CHUNK;
            size_t grown = t->capacity + (half > chunk ? half : chunk);
            while (grown < t->used + t->fill + 1) grown += COPY_CHUNK;
            HGLOBAL memory = t->memory ? GlobalReAlloc(t->memory, grown, GMEM_MOVEABLE) : GlobalAlloc(GMEM_MOVEABLE, grown);
            if (!memory) {
                ReportError("Unable to allocate memory for clipboard data copy.");
                return 0;
            }
            t->memory = memory;
            t->capacity = grown;
        }
        char *p = (char *)GlobalLock(t->memory);
        memcpy(p + t->used, t->buffer, t->fill);
        p[t->used + t->fill] = 0;
        GlobalUnlock(t->memory);
        t->used += t->fill;
    }
    t->fill = 0;
    return 1;
}

static int AddCopyText(CopyTarget *t, const char *text, size_t length)
{
    while (length > 0) {
        size_t room = sizeof t->buffer - t->fill;
        size_t n = length < room ? length : room;
        memcpy(t->buffer + t->fill, text, n);
        t->fill += n;
        text += n;
        length -= n;
        if (t->fill == sizeof t->buffer && !FlushCopy(t)) return 0;
    }
    return 1;
}

/* The copied rows (used bytes of UTF-8 in memory, null for none) as the
** clipboard's wide text, in a block of the text's own size: a paste takes
** the whole block, zero and all, so any spare room would follow the list.
** Each letter is read as names are (PlatWideFromText), so a paste in any
** program shows what the cells show.  Null when memory fails. */
static HGLOBAL WideClipboardText(HGLOBAL memory, size_t used)
{
    /* No letter takes more UTF-16 units than it has bytes. */
    HGLOBAL wide = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, (used + 1) * sizeof(WCHAR));
    if (!wide) return nullptr;
    WCHAR *out = (WCHAR *)GlobalLock(wide);
    const char *text = memory ? (const char *)GlobalLock(memory) : "";
    const int units = PlatWideFromText(text, out, (int)(used + 1));
    if (memory) GlobalUnlock(memory);
    GlobalUnlock(wide);
    if (units > 0 && (size_t)units < used + 1)
        if (HGLOBAL exact = GlobalReAlloc(wide, (size_t)units * sizeof(WCHAR), GMEM_MOVEABLE)) wide = exact;
    return wide;
}

enum {
    COPY_PUMP_ROWS = 256,   /* rows between two looks at the messages and the Escape key */
    COPY_PROGRESS_MS = 100  /* a copy that takes longer shows its progress */
};

/* CopyListView into a file named fileName (for its reports) or the
** clipboard; *reported tells whether a failure was reported (COPY_REPORTED)
** or the copy was aborted (COPY_ABORTED, reported too).  A long list
** is copied with the window answering: every few hundred rows the messages
** are handled, the progress shows and Escape (or the list's window closing)
** ends the copy, reported, with nothing copied or saved. */
static int CopyListRows(HWND listWindow, void *target, const char *fileName, int *reported)
{
    *reported = 0;
    HWND view = GetListViewOf(listWindow);
    if (!view) return 0;
    int selectedOnly = target == (void *)-1;
    CopyTarget *t = nullptr;
    if (!AllocMemory(&t, sizeof *t)) return 0;
    t->file = (target && !selectedOnly) ? (PlatFile)target : nullptr;
    t->fileName = fileName;
    char separator = t->file ? ',' : '\t';
    ListCellText reader = CellReaderOf(listWindow);
    SetWaitCursor(1);
    HWND header = ListView_GetHeader(view);
    int columns = header ? Header_GetItemCount(header) : 0;
    int order[LIST_SORT_COLUMNS * 4];
    if (columns > (int)(sizeof order / sizeof order[0])) columns = sizeof order / sizeof order[0];
    if (columns > 0) ListView_GetColumnOrderArray(view, columns, order);
    int ok = 1, aborted = 0, progress = 0;
    char cell[LIST_CELL_SIZE];
    const char sep[1] = {separator};
    if (!selectedOnly && !gOmitListHeading) {
        for (int c = 0; c < columns && ok; c++) {
            ReadHeading(header, order[c], cell, nullptr);
            int n = RemoveSeparators(cell, separator);
            if (c) ok = AddCopyText(t, sep, 1);
            if (ok) ok = AddCopyText(t, cell, (size_t)n);
        }
        if (ok) ok = AddCopyText(t, "\r\n", 2);
    }
    int rows = ListView_GetItemCount(view);
    uint64_t shown = PlatTickCount64();
    /* The selected rows are found by the list view itself: no message per row. */
    int row = selectedOnly ? ListView_GetNextItem(view, -1, LVNI_SELECTED) : 0;
    for (int done = 0; row >= 0 && row < rows && ok; done++) {
        if (done > 0 && done % COPY_PUMP_ROWS == 0) {
            const uint64_t now = PlatTickCount64();
            if (now - shown >= COPY_PROGRESS_MS) {
                char at[32], all[32];
                InsertCommas(at, FormatText(at, sizeof at, "%d", row + 1), sizeof at);
                InsertCommas(all, FormatText(all, sizeof all, "%d", rows), sizeof all);
                if (!progress) SetStatusText(0, "Copying List - Press ESC to Cancel");
                SetStatusText(1, "Row %s of %s", at, all);
                progress = 1;
                shown = now;
            }
            PumpMessages();
            if (!IsWindow(listWindow) || !IsWindow(view) || PlatEscapePressed()) {
                aborted = 1;
                ok = 0;
                break;
            }
            /* Rows the list lost meanwhile are not read. */
            const int left = ListView_GetItemCount(view);
            if (left < rows) rows = left;
            if (row >= rows) break;
        }
        for (int c = 0; c < columns && ok; c++) {
            ReadCell(listWindow, view, reader, row, order[c], cell);
            int n = RemoveSeparators(cell, separator);
            if (c) ok = AddCopyText(t, sep, 1);
            if (ok) ok = AddCopyText(t, cell, (size_t)n);
        }
        if (ok) ok = AddCopyText(t, "\r\n", 2);
        row = selectedOnly ? ListView_GetNextItem(view, row, LVNI_SELECTED) : row + 1;
    }
    if (progress) {
        SetStatusText(0, nullptr);
        SetStatusText(1, nullptr);
    }
    if (ok) ok = FlushCopy(t);
    if (ok && !t->file) {
        HGLOBAL wide = WideClipboardText(t->memory, t->used);
        if (!wide) {
            ReportError("Unable to allocate memory for clipboard data copy.");
            ok = 0;
        } else if (OpenClipboard(GetParent(view))) {
            EmptyClipboard();
            if (SetClipboardData(CF_UNICODETEXT, wide)) wide = nullptr;
            CloseClipboard();
        }
        if (wide) GlobalFree(wide);
    }
    if (t->memory) GlobalFree(t->memory);
    if (aborted) {
        ReportError("List copy aborted");
        SetResultCode(RESULT_STOPPED);
        t->reported = COPY_ABORTED;
    }
    *reported = t->reported;
    FreeMemory(&t);
    SetWaitCursor(0);
    return ok;
}

int CopyListView(HWND listWindow, void *target)
{
    int reported;
    return CopyListRows(listWindow, target, nullptr, &reported);
}

int SaveListCsv(HWND listWindow, const char *path)
{
    char chosen[PATH_SIZE];
    if (path) {
        CopyString(chosen, sizeof chosen, path, -1);
    } else {
        char title[PATH_SIZE];
        GetWindowTitle(listWindow, title, sizeof title);
        char *blank = strchr(title, ' ');
        if (blank) *blank = 0;
        CopyString(chosen, sizeof chosen, title, -1);
        if (!BrowseForFile(chosen, gLastCsvFolder, "Save CSV File", "CSV", "CSV", 1)) return 0;
    }
    /* The rows go to a file beside the old one, which stays as it was
    ** until the new one is complete. */
    ReplaceFile replace;
    if (!BeginReplaceFile(&replace, chosen, 0)) return 0;
    int reported = 0;
    if (!CopyListRows(listWindow, replace.file, chosen, &reported)) {
        AbandonReplaceFile(&replace);
        /* A failed write has named the file already; say it once.  An
        ** aborted copy keeps the stop's code. */
        if (!reported) ReportError("Unable to save %s", chosen);
        if (reported != COPY_ABORTED) SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (!CommitReplaceFile(&replace)) {
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return 1;
}

/* ---- find ---------------------------------------------------------------------------------------------- */

/* The find dialog is a wide one: what the user types reaches the search as
** its letters (text, UTF-8, as the cells hold them). */
struct ListFindState {
    const char *className;
    HWND dialog;
    WCHAR typed[80];
    char text[LIST_CELL_SIZE];
    FINDREPLACEW record;
};
static ListFindState sFind[5] = {{.className = "KestovarList"}, {.className = "KestovarResults"}, {.className = "KestovarTrades"}, {.className = "KestovarScan"}, {.className = "KestovarCompare"}};

static ListFindState *FindStateOf(HWND listWindow)
{
    char name[64];
    if (!GetClassNameA(listWindow, name, sizeof name)) return nullptr;
    for (ListFindState &s : sFind)
        if (strcmp(s.className, name) == 0) return &s;
    return nullptr;
}

struct RowSearch {
    HWND window, view;
    ListCellText reader;
    int columns;
    const char *text;
};

static int RowHoldsText(void *user, int row)
{
    RowSearch *s = (RowSearch *)user;
    char cell[LIST_CELL_SIZE];
    for (int c = 0; c < s->columns; c++) {
        ReadCell(s->window, s->view, s->reader, row, c, cell);
        if (CellHoldsText(cell, s->text)) return 1;
    }
    return 0;
}

void FindInList(HWND listWindow, int show)
{
    ListFindState *state = FindStateOf(listWindow);
    if (!state) return;
    if (state->dialog && (state->record.Flags & FR_DIALOGTERM)) {
        UnregisterFindDialog(state->dialog);
        state->dialog = nullptr;
        state->record.Flags = 0;
        return;
    }
    if (show || !state->typed[0]) {
        if (state->dialog) {
            SetForegroundWindow(state->dialog);
            return;
        }
        state->record = {};
        state->record.lStructSize = sizeof state->record;
        state->record.hwndOwner = listWindow;
        state->record.lpstrFindWhat = state->typed;
        state->record.wFindWhatLen = sizeof state->typed; /* in bytes */
        state->record.Flags = FR_HIDEUPDOWN | FR_HIDEMATCHCASE | FR_HIDEWHOLEWORD | FR_DOWN;
        state->dialog = FindTextW(&state->record);
        if (state->dialog && !RegisterFindDialog(state->dialog)) {
            DestroyWindow(state->dialog);
            state->dialog = nullptr;
        }
        return;
    }
    HWND view = GetListViewOf(listWindow);
    if (!view) return;
    /* Read from the box itself: a system whose find dialog hands the text
    ** over through its code page would lose the letters outside it. */
    if (state->dialog) GetDlgItemTextW(state->dialog, edt1, state->typed, (int)(sizeof state->typed / sizeof(WCHAR)));
    TextFromWideCut(state->typed, state->text, sizeof state->text);
    HWND header = ListView_GetHeader(view);
    RowSearch search = {listWindow, view, CellReaderOf(listWindow), header ? Header_GetItemCount(header) : 0,
                        state->text};
    int row = FindListRow(ListView_GetItemCount(view), ListView_GetNextItem(view, -1, LVNI_SELECTED), RowHoldsText,
                          &search);
    if (row >= 0) {
        SelectItem(listWindow, row);
        return;
    }
    ReportError("'%s' not found.", state->text);
    if (state->dialog) SetFocus(state->dialog);
}

/* ---- sort arrows ------------------------------------------------------------------------------------------ */

void SetSortImageList(HWND listView)
{
    static HIMAGELIST images;
    if (!images) {
        images = ImageList_Create(SORT_ARROW_WIDTH, 16, ILC_COLOR24, 9, 0);
        COLORREF face = GetSysColor(COLOR_BTNFACE);
        for (int i = 0; i < 9; i++) {
            HBITMAP bitmap = (HBITMAP)LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(2000 + i), IMAGE_BITMAP,
                                                 SORT_ARROW_WIDTH, 16, LR_CREATEDIBSECTION);
            if (!bitmap) continue;
            DIBSECTION dib;
            if (GetObjectA(bitmap, sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBitsPixel == 24) {
                unsigned char *bits = (unsigned char *)dib.dsBm.bmBits;
                for (int y = 0; y < dib.dsBm.bmHeight; y++)
                    for (int x = 0; x < dib.dsBm.bmWidth; x++) {
                        unsigned char *px = bits + y * dib.dsBm.bmWidthBytes + x * 3;
                        if (px[0] == 255 && px[1] == 255 && px[2] == 255) {
                            px[0] = GetBValue(face);
                            px[1] = GetGValue(face);
                            px[2] = GetRValue(face);
                        }
                    }
            }
            ImageList_Add(images, bitmap, nullptr);
            DeleteObject(bitmap);
        }
    }
    HWND header = ListView_GetHeader(listView);
    if (header) Header_SetImageList(header, images);
}

void UpdateSortKeys(HWND listView, int column, uint8_t *priorities, uint8_t *directions)
{
    UpdateSortKeyState(column, GetKeyState(VK_SHIFT) < 0, priorities, directions);
}

void ShowSortArrows(HWND listView, const uint8_t *priorities, const uint8_t *directions)
{
    HWND header = ListView_GetHeader(listView);
    int count = header ? Header_GetItemCount(header) : 0;
    if (count > LIST_SORT_COLUMNS) count = LIST_SORT_COLUMNS;
    DrawingHeld held(listView);
    for (int c = 0; c < count; c++) {
        HDITEMA item = {};
        item.mask = HDI_FORMAT;
        Header_GetItem(header, c, &item);
        int image = SortArrowImage(priorities[c], directions[c]);
        item.mask = HDI_FORMAT | HDI_IMAGE;
        if (image) {
            item.fmt |= HDF_IMAGE | HDF_BITMAP_ON_RIGHT;
            item.iImage = image;
        } else {
            item.fmt &= ~(HDF_IMAGE | HDF_BITMAP_ON_RIGHT);
        }
        Header_SetItem(header, c, &item);
        /* A sort leaves the widths alone, so no heading moves under the
        ** pointer that clicked it; only a column whose arrow now leaves no
        ** room for its heading widens.  The widths follow the rows when the
        ** rows change (AutoSizeColumns). */
        const int needed = image ? HeaderNeededWidth(header, c) : 0;
        if (needed > ListView_GetColumnWidth(listView, c)) ListView_SetColumnWidth(listView, c, needed);
    }
    /* The sort brought other rows into sight, whatever the top row: with
    ** the last top row forgotten, a column whose new cells do not fit
    ** widens. */
    RemovePropA(listView, kRowsInSightProp);
    WidenColumnsOnScroll(listView);
}
