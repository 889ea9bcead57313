#include "foundation/win32/window_text.h"

#include <cstring>
#include <vector>

#include <shellapi.h>

#undef ReplaceFile /* the file helpers have a record of that name */
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

void SetWindowTitle(HWND window, const char *title)
{
    WCHAR wide[1024];
    if (!PlatWideFromText(title ? title : "", wide, (int)(sizeof wide / sizeof wide[0]))) {
        SetWindowTextA(window, title ? title : "");
        return;
    }
    SetWindowTextW(window, wide);
}

static std::vector<WCHAR> WideOf(const char *text);

static const WCHAR kNarrowProcedure[] = L"KestovarNarrowProcedure";

static LRESULT CALLBACK TitleKeeper(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC own = (WNDPROC)GetPropW(window, kNarrowProcedure);
    switch (message) {
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH: return DefMDIChildProcW(window, message, wParam, lParam);
    case WM_NOTIFYFORMAT:
        /* The window's controls go on notifying it in the narrow form its
        ** procedure reads. */
        if (lParam == NF_QUERY) return NFR_ANSI;
        break;
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_WNDPROC, (LONG_PTR)own);
        RemovePropW(window, kNarrowProcedure);
        return CallWindowProcW(own, window, message, wParam, lParam);
    default: break;
    }
    return CallWindowProcW(own, window, message, wParam, lParam);
}

void KeepTitleLetters(HWND child)
{
    if (!child || IsWindowUnicode(child) || GetPropW(child, kNarrowProcedure)) return;
    /* Set as wide, the window becomes a wide one; its own procedure, as
    ** the wide call hands it out, is called with the narrow messages it was
    ** written for. */
    LONG_PTR own = GetWindowLongPtrW(child, GWLP_WNDPROC);
    if (!own || !SetPropW(child, kNarrowProcedure, (HANDLE)own)) return;
    SetWindowLongPtrW(child, GWLP_WNDPROC, (LONG_PTR)TitleKeeper);
}

void SetItemText(HWND dialog, int id, const char *text)
{
    HWND item = GetDlgItem(dialog, id);
    if (item) SetWindowTitle(item, text);
}

void AddComboText(HWND combo, const char *text)
{
    const std::vector<WCHAR> wide = WideOf(text ? text : "");
    SendMessageW(combo, CB_ADDSTRING, 0, (LPARAM)wide.data());
}

void AppendMenuText(HMENU menu, UINT_PTR id, const char *text)
{
    WCHAR wide[1024];
    if (PlatWideFromText(text, wide, (int)(sizeof wide / sizeof wide[0])))
        AppendMenuW(menu, MF_STRING, id, wide);
    else
        AppendMenuA(menu, MF_STRING, id, text);
}

void ModifyMenuText(HMENU menu, UINT id, const char *text)
{
    WCHAR wide[1024];
    if (PlatWideFromText(text, wide, (int)(sizeof wide / sizeof wide[0])))
        ModifyMenuW(menu, id, MF_BYCOMMAND | MF_STRING, id, wide);
    else
        ModifyMenuA(menu, id, MF_BYCOMMAND | MF_STRING, id, text);
}

std::string TextFromWide(const WCHAR *wide)
{
    if (!wide || !*wide) return "";
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return "";
    std::string text((size_t)size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    text.resize((size_t)size - 1);
    return text;
}

int TextFromWide(const WCHAR *wide, char *out, size_t size)
{
    if (!size) return 0;
    const std::string text = TextFromWide(wide);
    if (text.size() >= size) {
        out[0] = 0;
        return 0;
    }
    memcpy(out, text.c_str(), text.size() + 1);
    return 1;
}

int TextFromWideCut(const WCHAR *wide, char *out, size_t size)
{
    if (!size) return 0;
    const std::string text = TextFromWide(wide);
    size_t n = text.size();
    if (n > size - 1) {
        n = size - 1;
        while (n > 0 && ((unsigned char)text[n] & 0xC0) == 0x80) n--;
    }
    memcpy(out, text.data(), n);
    out[n] = 0;
    return n == text.size();
}

int GetWindowTitle(HWND window, char *out, size_t size)
{
    if (!size) return 0;
    out[0] = 0;
    if (!window) return 0;
    std::vector<WCHAR> wide((size_t)GetWindowTextLengthW(window) + 1);
    GetWindowTextW(window, wide.data(), (int)wide.size());
    return TextFromWideCut(wide.data(), out, size);
}

int GetItemText(HWND dialog, int id, char *out, size_t size)
{
    return GetWindowTitle(GetDlgItem(dialog, id), out, size);
}

/* ---- handing names to the system ------------------------------------------------------------- */

HINSTANCE(WINAPI *gSystemOpener)(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) = ShellExecuteW;

/* text as the system's wide letters; no letter takes more UTF-16 units than
** it has bytes, so the whole text always fits. */
static std::vector<WCHAR> WideOf(const char *text)
{
    std::vector<WCHAR> wide(strlen(text) + 1);
    PlatWideFromText(text, wide.data(), (int)wide.size());
    return wide;
}

std::wstring WideFromText(const char *text)
{
    const std::vector<WCHAR> wide = WideOf(text ? text : "");
    return std::wstring(wide.data());
}

void DrawTextWide(HDC dc, int x, int y, const char *text)
{
    const std::wstring wide = WideFromText(text);
    TextOutW(dc, x, y, wide.c_str(), (int)wide.size());
}

SIZE TextExtentWide(HDC dc, const char *text)
{
    const std::wstring wide = WideFromText(text);
    SIZE size = {};
    GetTextExtentPoint32W(dc, wide.c_str(), (int)wide.size(), &size);
    return size;
}

int TextWidthWide(HDC dc, const char *text) { return TextExtentWide(dc, text).cx; }

/* OpenWithSystem, naming `named` when it fails (null: saying nothing). */
static int OpenNamed(HWND owner, const char *file, const char *parameters, const char *folder, const char *named)
{
    const std::vector<WCHAR> wideFile = WideOf(file), wideParameters = WideOf(parameters ? parameters : ""),
                             wideFolder = WideOf(folder ? folder : "");
    SetLastError(0);
    const INT_PTR done = (INT_PTR)gSystemOpener(owner, L"open", wideFile.data(), parameters ? wideParameters.data() : nullptr,
                                                folder ? wideFolder.data() : nullptr, SW_SHOWNORMAL);
    if (done > 32) return 1;
    if (!named) return 0;
    /* The system's answer is a code of its own; the last error, where it
    ** set one, says more. */
    if (!GetLastError()) SetLastError(done == SE_ERR_PNF ? ERROR_PATH_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    PlatSetLastError((int)GetLastError());
    ReportError("Unable to open %s\r\n\r\n%s", named, GetErrorText());
    return 0;
}

int OpenWithSystem(HWND owner, const char *file, const char *parameters, const char *folder, int report)
{
    return OpenNamed(owner, file, parameters, folder, report ? file : nullptr);
}

int ShowFolderInBrowser(HWND owner, const char *folder)
{
    /* The browser shows some other folder, without a word, for one that is
    ** not there. */
    if (!PlatFolderExists(folder)) {
        PlatSetLastError(ERROR_PATH_NOT_FOUND);
        ReportError("Unable to open %s\r\n\r\n%s", folder, GetErrorText());
        return 0;
    }
    /* Quoted, a folder with blanks in its name reaches the browser whole. */
    std::string quoted = std::string("\"") + folder + "\"";
    return OpenNamed(owner, "explorer.exe", quoted.c_str(), nullptr, folder);
}
