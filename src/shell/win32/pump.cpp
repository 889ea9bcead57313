/* pump.cpp -- the message pump and per-message memory check, the status bar,
** the frame title, popup notices, the modeless-dialog registry and the MDI
** routines every window kind uses. */
#include "shell/win32/shell_win32.h"

#include <cstdarg>
#include <cstring>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "shell/frame_rules.h"
#include "foundation/win32/settings_dialog.h"
#include "foundation/win32/window_text.h"
#include "platform/platform.h"
#include "services/services.h"

FrameState gFrame = {.activeKind = -1, .tabHot = -1, .tabPressed = -1};

/* ---- message pump -------------------------------------------------------------------- */

/* The handling every message gets, from the main loop or a pump: the memory
** check, activation on a click, then accelerators and modeless dialogs before
** the window itself. */
static void HandleMessage(MSG *msg)
{
    CheckMemoryState();
    if (msg->message == WM_LBUTTONDOWN || msg->message == WM_RBUTTONDOWN) ActivateMdiAncestor(msg->hwnd);
    if (gFrame.mdiClient && TranslateMDISysAccel(gFrame.mdiClient, msg)) return;
    if (gFrame.frame && gFrame.accelerators && TranslateAcceleratorA(gFrame.frame, gFrame.accelerators, msg)) return;
    for (int i = 0; i < MODELESS_SLOTS && gFrame.modeless[i]; i++)
        if (IsDialogMessageA(gFrame.modeless[i], msg)) return;
    TranslateMessage(msg);
    DispatchMessageA(msg);
}

int PumpMessages()
{
    Sleep(0);
    MSG msg;
    int result = 0;
    while ((result = PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) != 0) {
        if (msg.message == WM_QUIT) {
            /* The main loop ends on it; a pump inside a run passes it on. */
            PostQuitMessage((int)msg.wParam);
            break;
        }
        HandleMessage(&msg);
    }
    return result;
}

int DispatchAppMessage(MSG *message)
{
    HandleMessage(message);
    /* The main loop: no run is going further up, so what was handed over
    ** meanwhile may open now. */
    OpenWaitingHandOffs();
    return 1;
}

/* ---- status bar ---------------------------------------------------------------------- */

int StatusPartCount() { return gSettings.StatusBarFields + 3; }

/* The width a part needs for text in the bar's own font, with the part's
** borders and the margins the bar keeps around a text. */
static int StatusTextPartWidth(const char *text)
{
    HDC dc = GetDC(gFrame.statusBar);
    if (!dc) return 0;
    HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageA(gFrame.statusBar, WM_GETFONT, 0, 0));
    /* Measured by its letters, as the status bar draws it. */
    const SIZE extent = TextExtentWide(dc, text);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(gFrame.statusBar, dc);
    int borders[3] = {};
    SendMessageA(gFrame.statusBar, SB_GETBORDERS, 0, (LPARAM)borders);
    return extent.cx + 2 * metrics.tmAveCharWidth + 2 * GetSystemMetrics(SM_CXEDGE) + borders[2];
}

void SetStatusParts()
{
    if (!gFrame.statusBar) return;
    RECT r;
    GetClientRect(gFrame.statusBar, &r);
    int edges[16];
    /* Part 1 ends a run with its run time, hours to milliseconds; the last
    ** part shares its corner with the size grip. */
    const int memory = StatusTextPartWidth("Memory: 100%") + GetSystemMetrics(SM_CXVSCROLL);
    int n = StatusBarEdges(r.right - r.left, gFrame.dpi ? gFrame.dpi : 96, gSettings.StatusBarFields, edges,
                           StatusTextPartWidth("Time: 00:00:00.000"), memory);
    SendMessageA(gFrame.statusBar, SB_SETPARTS, (WPARAM)n, (LPARAM)edges);
    /* The parts and the size grip all moved: paint the bar whole, texts
    ** included, so that nothing of the old layout stays in sight. */
    InvalidateRect(gFrame.statusBar, nullptr, TRUE);
}

/* The texts of the progress parts (1 and up) as the program last set them.
** A long loop reports its progress far more often than a screen shows it (a
** results file of 10,000 tests, a data file of 5,000 symbols), and the bar
** paints a part at once each time it is told: a text that follows another
** of its part within STATUS_REPAINT_MS waits here, and a timer gives the
** bar the last one when the program next handles its messages, which every
** loop that reports progress does.  GetStatusText reads the texts here. */
enum { STATUS_PARTS_MAX = 16, STATUS_REPAINT_MS = 50, STATUS_FLUSH_TIMER = 0x5710 };
struct StatusPartText {
    char text[257];
    uint64_t shownAt; /* tick count the bar was last told */
    int waiting;      /* text holds what the bar does not show yet */
};
static struct {
    HWND bar; /* the bar the texts are of: a new frame has a new bar */
    StatusPartText parts[STATUS_PARTS_MAX];
} sStatus;

void ForgetStatusTexts()
{
    memset(&sStatus, 0, sizeof sStatus);
    sStatus.bar = gFrame.statusBar;
}

static StatusPartText *StatusTextOf(int part)
{
    if (sStatus.bar != gFrame.statusBar) ForgetStatusTexts();
    return part >= 1 && part < STATUS_PARTS_MAX ? &sStatus.parts[part] : nullptr;
}

/* Status texts name files and symbols in UTF-8: the bar holds them wide, as
** their letters. */
static void ShowStatusPart(int part, const char *text)
{
    SendMessageW(gFrame.statusBar, SB_SETTEXTW, (WPARAM)(part | (part == 0 ? SBT_NOBORDERS : 0)),
                 (LPARAM)WideFromText(text).c_str());
}

static void CALLBACK ShowWaitingStatusTexts(HWND window, UINT, UINT_PTR id, DWORD)
{
    KillTimer(window, id);
    if (!gFrame.statusBar || !StatusTextOf(1)) return;
    for (int part = 1; part < STATUS_PARTS_MAX && part < StatusPartCount(); part++) {
        StatusPartText *p = &sStatus.parts[part];
        if (!p->waiting) continue;
        p->waiting = 0;
        p->shownAt = PlatTickCount64();
        ShowStatusPart(part, p->text);
    }
}

void SetStatusText(int part, const char *format, ...)
{
    if (!gFrame.statusBar || part < 0 || part >= StatusPartCount()) return;
    if (format && !gSettings.ShowStatusBar) return;
    char text[257] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        FormatTextV(text, sizeof text, format, args);
        va_end(args);
    }
    if (part == 0 && !text[0]) CopyString(text, sizeof text, "Ready", -1);
    StatusPartText *p = StatusTextOf(part);
    if (!p) {
        ShowStatusPart(part, text);
        return;
    }
    CopyString(p->text, sizeof p->text, text, -1);
    const uint64_t now = PlatTickCount64();
    if (now - p->shownAt >= STATUS_REPAINT_MS || !gFrame.frame) {
        p->waiting = 0;
        p->shownAt = now;
        ShowStatusPart(part, text);
    } else if (!p->waiting) {
        p->waiting = 1;
        SetTimer(gFrame.frame, STATUS_FLUSH_TIMER, STATUS_REPAINT_MS, ShowWaitingStatusTexts);
    }
}

void GetStatusText(int part, char *out, int size)
{
    if (size <= 0) return;
    out[0] = 0;
    if (!gFrame.statusBar || part < 0 || part >= StatusPartCount()) return;
    const StatusPartText *p = StatusTextOf(part);
    if (p && p->waiting) {
        if ((int)strlen(p->text) < size) CopyString(out, size, p->text, -1);
        return;
    }
    const LRESULT length = SendMessageW(gFrame.statusBar, SB_GETTEXTLENGTHW, (WPARAM)part, 0) & 0xffff;
    std::vector<WCHAR> wide((size_t)length + 1);
    SendMessageW(gFrame.statusBar, SB_GETTEXTW, (WPARAM)part, (LPARAM)wide.data());
    wide[(size_t)length] = 0;
    TextFromWide(wide.data(), out, (size_t)size); /* empty when it does not fit */
}

void ResetStatusBar(int stringId)
{
    if (stringId == 0) {
        for (int i = 0; i < StatusPartCount(); i++) SetStatusText(i, nullptr);
        return;
    }
    if (!gSettings.ShowStatusBar) return;
    char text[257];
    if (!LoadStringA(gFrame.instance, (UINT)stringId, text, sizeof text)) text[0] = 0;
    SetStatusText(0, "%s", text);
}

void ApplyFrameTitle(const char *text)
{
    if (gFrame.frame) SetWindowTitle(gFrame.frame, text);
}

/* ---- popup notices --------------------------------------------------------------------- */

struct PopupNotice {
    WCHAR text[257]; /* the notice's letters (a cut text ends at a whole one) */
    int length;
    SIZE extent;
    RECT owner;
    COLORREF colour;
};

void ShowPopupNotice(uint32_t colour, const char *format, ...)
{
    if (!gFrame.frame) return;
    PopupNotice *notice = nullptr;
    if (!AllocMemory(&notice, sizeof *notice)) return;
    va_list args;
    va_start(args, format);
    char text[257];
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    notice->length = PlatWideFromTextCut(text, notice->text, (int)(sizeof notice->text / sizeof notice->text[0])) - 1;
    if (notice->length < 0) notice->length = 0;
    notice->colour = colour;
    HWND owner = gFrame.activeChild ? gFrame.activeChild : gFrame.frame;
    GetWindowRect(owner, &notice->owner);
    /* The notice neither takes the focus nor runs a message loop: shown
    ** from inside an editor's notification while the user types, either
    ** would send the keys still queued to the notice or into the editor out
    ** of order.  It paints at once instead, and goes with its timer or a
    ** click. */
    HWND popup = CreateWindowExA(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, "KestovarPopup", "", WS_POPUP | WS_DLGFRAME, 0, 0,
                                 10, 10, owner, nullptr, gFrame.instance, notice);
    if (!popup) {
        FreeMemory(&notice);
        return;
    }
    UpdateWindow(popup);
}

/* The lowest bottom edge of the other notices on the desktop, so a new one
** goes below them. */
static int LowestNoticeBottom(HWND self)
{
    int bottom = INT32_MIN;
    HWND other = nullptr;
    while ((other = FindWindowExA(nullptr, other, "KestovarPopup", nullptr)) != nullptr) {
        if (other == self) continue;
        RECT r;
        GetWindowRect(other, &r);
        if (r.bottom > bottom) bottom = r.bottom;
    }
    return bottom;
}

LRESULT CALLBACK PopupNoticeWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    PopupNotice *notice = (PopupNotice *)GetWindowLongPtrA(window, GWLP_USERDATA);
    switch (message) {
    case WM_CREATE: {
        notice = (PopupNotice *)((CREATESTRUCTA *)lParam)->lpCreateParams;
        SetWindowLongPtrA(window, GWLP_USERDATA, (LONG_PTR)notice);
        HDC dc = GetDC(window);
        HGDIOBJ old = SelectObject(dc, gFrame.uiFont);
        GetTextExtentPoint32W(dc, notice->text, notice->length, &notice->extent);
        SelectObject(dc, old);
        ReleaseDC(window, dc);
        int width = 2 * notice->extent.cx, height = 2 * notice->extent.cy;
        int left = (notice->owner.left + notice->owner.right) / 2 - width / 2;
        int top = (notice->owner.top + notice->owner.bottom) / 2 - 2 * notice->extent.cy;
        int below = LowestNoticeBottom(window);
        if (below != INT32_MIN && top < below) top = below;
        SetWindowPos(window, HWND_TOP, left, top, width, height, SWP_SHOWWINDOW | SWP_NOACTIVATE);
        /* PopupSeconds is a number of seconds. */
        int seconds = gSettings.PopupSeconds > 0 ? gSettings.PopupSeconds : 1;
        SetTimer(window, 99, (UINT)seconds * 1000u, nullptr);
        return 0;
    }
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        FillRect(dc, &r, (HBRUSH)GetStockObject(WHITE_BRUSH));
        if (notice) {
            HGDIOBJ old = SelectObject(dc, gFrame.uiFont);
            SetTextColor(dc, notice->colour);
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, notice->text, notice->length, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            SelectObject(dc, old);
        }
        EndPaint(window, &ps);
        return 0;
    }
    case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
    case WM_TIMER:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_KEYDOWN:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        KillTimer(window, 99);
        if (notice) {
            SetWindowLongPtrA(window, GWLP_USERDATA, 0);
            FreeMemory(&notice);
        }
        return 0;
    default: break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

/* ---- message boxes ---------------------------------------------------------------------- */

int ShowMessageBox(const char *text, const char *title, uint32_t style)
{
    HWND owner = (HWND)gMessageState.owner;
    if (owner && GetWindowThreadProcessId(owner, nullptr) != GetCurrentThreadId()) owner = nullptr;
    /* The texts name files and typed words in UTF-8: shown as their letters
    ** (never more wide characters than bytes). */
    if (!text) text = "";
    if (!title) title = "";
    std::vector<WCHAR> wideText(strlen(text) + 1), wideTitle(strlen(title) + 1);
    if (PlatWideFromText(text, wideText.data(), (int)wideText.size()) &&
        PlatWideFromText(title, wideTitle.data(), (int)wideTitle.size()))
        return MessageBoxW(owner, wideText.data(), wideTitle.data(), style);
    return MessageBoxA(owner, text, title, style);
}

/* ---- waiting for another program ------------------------------------------------------------ */

enum { WAIT_RETRY_TIMER = 1,
       WAIT_RETRY_MS = 50 };

static const char kWaitText[] = "Another program is saving or reading this file:\r\n%s\r\n\r\nKestovar goes on as soon "
                                "as that program has finished with it.";

struct OtherProgramWait {
    const char *path;
    int (*retry)(void *user);
    void *user;
};

/* The text names the whole path, which at its longest wraps over more lines
** than the template gives: the text grows to what it needs, and the dialog
** and its button with it, so the sentence after the path always shows. */
static void FitWaitText(HWND dialog)
{
    HWND label = GetDlgItem(dialog, IDC_WAIT_TEXT);
    HWND button = GetDlgItem(dialog, IDCANCEL);
    WCHAR text[1024];
    GetWindowTextW(label, text, (int)(sizeof text / sizeof text[0]));
    RECT box;
    GetWindowRect(label, &box);
    MapWindowPoints(nullptr, dialog, (POINT *)&box, 2);
    HDC dc = GetDC(label);
    HGDIOBJ font = SelectObject(dc, (HFONT)SendMessageA(label, WM_GETFONT, 0, 0));
    RECT need = {0, 0, box.right - box.left, 0};
    DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, font);
    ReleaseDC(label, dc);
    const int grow = need.bottom - (box.bottom - box.top);
    if (grow <= 0) return;
    SetWindowPos(label, nullptr, 0, 0, box.right - box.left, need.bottom, SWP_NOMOVE | SWP_NOZORDER);
    RECT at;
    GetWindowRect(button, &at);
    MapWindowPoints(nullptr, dialog, (POINT *)&at, 2);
    SetWindowPos(button, nullptr, at.left, at.top + grow, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    /* Still centred where it was, its caption on the screen. */
    RECT frame;
    GetWindowRect(dialog, &frame);
    MONITORINFO screen = {sizeof screen};
    GetMonitorInfoA(MonitorFromWindow(dialog, MONITOR_DEFAULTTONEAREST), &screen);
    int top = frame.top - grow / 2;
    if (top < screen.rcWork.top) top = screen.rcWork.top;
    SetWindowPos(dialog, nullptr, frame.left, top, frame.right - frame.left, frame.bottom - frame.top + grow,
                 SWP_NOZORDER);
}

/* The dialog tries again on its timer and ends itself (1) once retry has
** its way; Stop Waiting (or Escape) ends it with 0. */
static INT_PTR CALLBACK WaitForFileDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    OtherProgramWait *wait = (OtherProgramWait *)GetWindowLongPtrA(dialog, DWLP_USER);
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        SetDlgTextF(dialog, IDC_WAIT_TEXT, kWaitText, ((OtherProgramWait *)lParam)->path);
        FitWaitText(dialog);
        SetTimer(dialog, WAIT_RETRY_TIMER, WAIT_RETRY_MS, nullptr);
        return TRUE;
    case WM_TIMER:
        if (wParam == WAIT_RETRY_TIMER && wait && wait->retry(wait->user)) {
            KillTimer(dialog, WAIT_RETRY_TIMER);
            EndDialog(dialog, 1);
        }
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) != IDCANCEL) return FALSE;
        KillTimer(dialog, WAIT_RETRY_TIMER);
        EndDialog(dialog, 0);
        return TRUE;
    default: return FALSE;
    }
}

int WaitForOtherProgram(const char *path, int (*retry)(void *user), void *user)
{
    if (gRun.unattended || !gFrame.frame) return -1;
    OtherProgramWait wait = {path, retry, user};
    /* A wait cursor holds the mouse for its window: the dialog's button must
    ** be reachable, and the cursor comes back after it. */
    HWND captured = GetCapture();
    if (captured) ReleaseCapture();
    /* A wait outside a run (opening or saving a results file) is a task too:
    ** files handed over or dropped meanwhile wait for its end, as they wait
    ** for a run's, instead of opening inside it. */
    const bool idle = gRun.state.load() == RUN_IDLE;
    if (idle) gRun.state.store(RUN_LOADING);
    const INT_PTR answer = DialogBoxParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_WAIT_FOR_FILE), gFrame.frame,
                                           WaitForFileDlgProc, (LPARAM)&wait);
    if (idle) gRun.state.store(RUN_IDLE);
    if (captured && IsWindow(captured) && gMessageState.waitNesting > 0) {
        SetCapture(captured);
        SetCursor(LoadCursorA(nullptr, (LPCSTR)IDC_WAIT));
    }
    if (answer == 1) return 1;
    return answer == 0 ? 0 : -1;
}

/* ---- modeless-dialog registry -------------------------------------------------------------- */

int RegisterFindDialog(void *dialog)
{
    for (int i = MODELESS_FIRST_FIND; i < MODELESS_SLOTS; i++) {
        if (gFrame.modeless[i] == (HWND)dialog) return 1;
        if (!gFrame.modeless[i]) {
            gFrame.modeless[i] = (HWND)dialog;
            return 1;
        }
    }
    ReportError("Sorry, but you can't have more than %d Find/Replace dialogs open at the same time.",
                MODELESS_SLOTS - MODELESS_FIRST_FIND);
    return 0;
}

void UnregisterFindDialog(void *dialog)
{
    for (int i = MODELESS_FIRST_FIND; i < MODELESS_SLOTS; i++) {
        if (gFrame.modeless[i] != (HWND)dialog) continue;
        for (int j = i; j < MODELESS_SLOTS - 1; j++) gFrame.modeless[j] = gFrame.modeless[j + 1];
        gFrame.modeless[MODELESS_SLOTS - 1] = nullptr;
        return;
    }
}

/* ---- MDI routines ---------------------------------------------------------------------------- */

HWND CreateMdiChild(const char *className, const char *title, DWORD style, int x, int y, int width, int height,
                    void *param)
{
    if (!gFrame.mdiClient) return nullptr;
    int maximise = gSettings.fChildMaxed && !gFrame.activeChild;
    HWND child = CreateMDIWindowA(className, "", style | WS_OVERLAPPEDWINDOW | (maximise ? WS_MAXIMIZE : 0),
                                  x, y, width, height, gFrame.mdiClient, gFrame.instance, (LPARAM)param);
    if (child) {
        KeepTitleLetters(child);
        SetWindowTitle(child, title);
    }
    return child;
}

int FindNextChildWindow(HWND *slot, const char *className)
{
    if (!gFrame.mdiClient) return 0;
    HWND child = slot && *slot ? GetWindow(*slot, GW_HWNDNEXT) : GetWindow(gFrame.mdiClient, GW_CHILD);
    char name[64];
    for (; child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetParent(child) != gFrame.mdiClient) continue;
        if (!GetClassNameA(child, name, sizeof name) || strcmp(name, className) != 0) continue;
        if (slot) *slot = child;
        return 1;
    }
    return 0;
}

void ActivateMdiAncestor(HWND window)
{
    if (!gFrame.mdiClient) return;
    for (HWND w = window; w; w = GetParent(w)) {
        if (GetParent(w) == gFrame.mdiClient) {
            if (w != gFrame.activeChild) SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)w, 0);
            return;
        }
    }
}

static HMENU WindowPopupOf(HMENU menu) { return FindSubMenuByText(menu, "&Window"); }

void OnMdiChildActivate(HWND child, HWND deactivated, HWND activated)
{
    int kind = FindWindowKind(child);
    if (kind < 0) return;
    if (activated == child) {
        gFrame.activeChild = child;
        gFrame.activeKind = kind;
        HMENU menu = gWindowKinds[kind].menu;
        if (menu) SendMessageA(gFrame.mdiClient, WM_MDISETMENU, (WPARAM)menu, (LPARAM)WindowPopupOf(menu));
        DrawMenuBar(gFrame.frame);
        SendMessageA(gFrame.mdiClient, WM_MDIREFRESHMENU, 0, 0);
        HWND first = GetWindow(child, GW_CHILD);
        SetFocus(gWindowKinds[kind].focusChild && first ? first : child);
    } else if (deactivated == child) {
        if (gFrame.activeChild == child) {
            gFrame.activeChild = nullptr;
            gFrame.activeKind = -1;
        }
        if (!GetWindow(child, GW_HWNDNEXT) || !activated) {
            SendMessageA(gFrame.mdiClient, WM_MDISETMENU, (WPARAM)gFrame.frameMenu,
                         (LPARAM)WindowPopupOf(gFrame.frameMenu));
            DrawMenuBar(gFrame.frame);
        }
    }
    UpdateWindowTab(child);
    PostMessageA(gFrame.frame, WM_FRAME_REFRESH, 0, 0);
}

void TrackChildMaximized(HWND child, WPARAM sizeType)
{
    if (child != gFrame.activeChild) return;
    if (sizeType == SIZE_MAXIMIZED)
        gSettings.fChildMaxed = 1;
    else if (sizeType == SIZE_RESTORED)
        gSettings.fChildMaxed = 0;
}

static int IsEditorControl(HWND window)
{
    char name[16];
    return IsEditorComponent(window) ||
        (window && GetClassNameA(window, name, sizeof name) && CompareNoCase(name, "Edit") == 0);
}

HWND GetFocusedEditor()
{
    HWND focus = GetFocus();
    if (IsEditorControl(focus)) return focus;
    if (gFrame.activeChild) {
        HWND first = GetWindow(gFrame.activeChild, GW_CHILD);
        if (IsEditorControl(first)) return first;
    }
    return nullptr;
}

/* ---- child windows for the core ------------------------------------------------------------------ */

int FindChildWindow(const char *className)
{
    return FindNextChildWindow(nullptr, className);
}

void CloseChildWindows(const char *className)
{
    HWND child = nullptr;
    while (FindNextChildWindow(&child, className)) {
        HWND next = child;
        SendMessageA(child, WM_CLOSE, 0, 0);
        if (!IsWindow(next)) child = nullptr; /* closed: start over from the first */
    }
}

void FillHistoryCombo(void *dialog, int controlId, const char *history)
{
    if (!dialog) return;
    HWND combo = GetDlgItem((HWND)dialog, controlId);
    if (!combo) return;
    char kept[PATH_SIZE * 3] = "";
    GetWindowTitle(combo, kept, sizeof kept);
    FillHistoryList(combo, history);
    SetWindowTitle(combo, kept);
}

/* ---- Windows dialog -------------------------------------------------------------------------------- */

static void SetWindowListButtons(HWND dialog)
{
    int selected = (int)SendDlgItemMessageA(dialog, IDC_WL_LIST, LB_GETSELCOUNT, 0, 0);
    EnableWindow(GetDlgItem(dialog, IDC_WL_ACTIVATE), selected == 1);
    EnableWindow(GetDlgItem(dialog, IDC_WL_CLOSE), selected >= 1);
}

INT_PTR CALLBACK WindowListDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    HWND list = GetDlgItem(dialog, IDC_WL_LIST);
    switch (message) {
    case WM_INITDIALOG: {
        /* A title longer than the list is wide scrolls into sight (a results
        ** file's full path, a CSV list's caption and path). */
        HDC dc = GetDC(list);
        HGDIOBJ oldFont = SelectObject(dc, (HGDIOBJ)SendMessageA(list, WM_GETFONT, 0, 0));
        TEXTMETRICA metrics = {};
        GetTextMetricsA(dc, &metrics);
        int widest = 0;
        for (HWND child = GetWindow(gFrame.mdiClient, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetParent(child) != gFrame.mdiClient || GetWindow(child, GW_OWNER)) continue;
            char title[1024];
            WCHAR wide[1024];
            GetWindowTitle(child, title, sizeof title);
            if (!PlatWideFromText(title, wide, (int)(sizeof wide / sizeof wide[0]))) wide[0] = 0;
            int item = (int)SendMessageW(list, LB_ADDSTRING, 0, (LPARAM)wide);
            SendMessageA(list, LB_SETITEMDATA, (WPARAM)item, (LPARAM)child);
            SIZE extent = {};
            GetTextExtentPoint32W(dc, wide, (int)wcslen(wide), &extent);
            if (extent.cx > widest) widest = extent.cx;
        }
        SelectObject(dc, oldFont);
        ReleaseDC(list, dc);
        SendMessageA(list, LB_SETHORIZONTALEXTENT, (WPARAM)(widest + 2 * metrics.tmAveCharWidth), 0);
        SetWindowListButtons(dialog);
        return TRUE;
    }
    case WM_COMMAND: {
        int id = LOWORD(wParam);
        int count = (int)SendMessageA(list, LB_GETCOUNT, 0, 0);
        if (id == IDC_WL_ACTIVATE || (id == IDC_WL_LIST && HIWORD(wParam) == LBN_DBLCLK)) {
            for (int i = 0; i < count; i++)
                if (SendMessageA(list, LB_GETSEL, (WPARAM)i, 0) > 0) {
                    HWND child = (HWND)SendMessageA(list, LB_GETITEMDATA, (WPARAM)i, 0);
                    EndDialog(dialog, 1);
                    SendMessageA(gFrame.mdiClient, WM_MDIACTIVATE, (WPARAM)child, 0);
                    return TRUE;
                }
            return TRUE;
        }
        if (id == IDC_WL_CLOSE) {
            for (int i = 0; i < count; i++)
                if (SendMessageA(list, LB_GETSEL, (WPARAM)i, 0) > 0)
                    PostMessageA((HWND)SendMessageA(list, LB_GETITEMDATA, (WPARAM)i, 0), WM_CLOSE, 0, 0);
            EndDialog(dialog, 1);
            return TRUE;
        }
        if (id == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        SetWindowListButtons(dialog);
        return FALSE;
    }
    default: break;
    }
    return FALSE;
}
