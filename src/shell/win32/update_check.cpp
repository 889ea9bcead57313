/* update_check.cpp -- asking the update server for the newest version,
** offering and fetching the installer, and the about box.
**
** The question runs on one worker thread, which only posts its answer to the
** frame; comparing, asking and downloading happen on the UI thread.  One
** check at a time owns the update connection: a second request while one
** runs is dropped, so the start-up check and a manual one never share it.
*/
#include "shell/win32/shell_win32.h"

#include <shellapi.h>
#include <winhttp.h>

#include <atomic>
#include <cstring>

#include "foundation/win32/window_text.h"
#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/http_client.h"
#include "services/services.h"
#include "shell/version_check.h"

extern const char kUpdateServer[] = "https://www.kestovar.example";

static char sLatestVersion[LATEST_VERSION_SIZE]; /* written by the worker before it posts */
static std::atomic<int> sCheckBusy{0};
static std::atomic<int> sCheckFailed{0};

/* The server's address: the KESTOVAR_UPDATE_SERVER environment variable when
** set (a local server in tests), else the program's own. */
static void UpdateServer(char *out, int size)
{
    if (!GetEnvironmentVariableA("KESTOVAR_UPDATE_SERVER", out, (DWORD)size) || !out[0])
        CopyString(out, size, kUpdateServer, -1);
}

/* GETs one file of the update server into a tracked block (NUL-terminated)
** over the update check's connection slot; 1 and the block, or 0. */
static int GetUpdateFile(const char *name, char **body, uint32_t *size)
{
    char server[260];
    UpdateServer(server, sizeof server);
    wchar_t url[600];
    MultiByteToWideChar(CP_ACP, 0, server, -1, url, 300);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof parts;
    wchar_t host[256];
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.dwUrlPathLength = (DWORD)-1;
    if (!WinHttpCrackUrl(url, 0, 0, &parts)) return 0;
    char hostName[256];
    WideCharToMultiByte(CP_ACP, 0, host, -1, hostName, sizeof hostName, nullptr, nullptr);
    char file[300];
    const char *base = "";
    if (parts.dwUrlPathLength > 0) {
        WideCharToMultiByte(CP_ACP, 0, parts.lpszUrlPath, (int)parts.dwUrlPathLength, file, 200, nullptr, nullptr);
        file[parts.dwUrlPathLength < 200 ? parts.dwUrlPathLength : 199] = 0;
        base = file;
    }
    char full[300];
    FormatText(full, sizeof full, "%s/%s", strcmp(base, "/") == 0 ? "" : base, name);
    uint32_t flags = parts.nScheme == INTERNET_SCHEME_HTTPS ? HTTP_FLAG_SECURE : 0;
    /* Any answer is an answer to the HTTP client; a file that is not there
    ** (a 404 page) is no version. */
    int ok = HttpConnect(HTTP_UPDATE_SLOT, hostName, parts.nPort, flags, "version") &&
        HttpGet(HTTP_UPDATE_SLOT, full, 0, HTTP_BODY_FIRST) && gHttpSlots[HTTP_UPDATE_SLOT].status / 100 == 2;
    *body = nullptr;
    *size = 0;
    if (ok) {
        const HttpSlot &slot = gHttpSlots[HTTP_UPDATE_SLOT];
        *size = slot.received;
        ok = AllocMemory(body, (uint64_t)*size + 1);
        if (ok) {
            memcpy(*body, slot.body[0], *size);
            (*body)[*size] = 0;
        }
    }
    HttpClose(HTTP_UPDATE_SLOT);
    return ok;
}

static DWORD WINAPI VersionCheckThread(void *)
{
    char *body = nullptr;
    uint32_t size = 0;
    int ok = GetUpdateFile("version.txt", &body, &size);
    if (ok) {
        CopyString(sLatestVersion, VERSION_TEXT_SIZE, body, VERSION_TEXT_SIZE - 1);
        FreeMemory(&body);
        if (GetUpdateFile("version_date.txt", &body, &size)) {
            int date = ParseDate(body);
            if (date) {
                size_t n = strlen(sLatestVersion);
                FormatText(sLatestVersion + n, sizeof sLatestVersion - n, "\n%d", date);
            }
            FreeMemory(&body);
        }
    }
    sCheckFailed = ok ? 0 : 1;
    /* A failed start-up check stays silent; a manual one must still end its
    ** wait and tell the user, so the frame hears of every outcome. */
    if (gFrame.frame) PostMessageA(gFrame.frame, WM_VERSION_ANSWER, 0, 0);
    sCheckBusy = 0;
    return 0;
}

void StartVersionCheck()
{
    int expected = 0;
    if (!sCheckBusy.compare_exchange_strong(expected, 1)) {
        if (gFrame.manualCheck) {
            SetWaitCursor(0);
            gFrame.manualCheck = 0;
        }
        return;
    }
    HANDLE thread = CreateThread(nullptr, 0, VersionCheckThread, nullptr, 0, nullptr);
    if (!thread) {
        sCheckBusy = 0;
        if (gFrame.manualCheck) {
            SetWaitCursor(0);
            gFrame.manualCheck = 0;
        }
        return;
    }
    CloseHandle(thread);
}

static void DownloadInstaller(const char *published)
{
    char name[80];
    if (!InstallerFileName(published, name, sizeof name)) return;
    int expected = 0;
    if (!sCheckBusy.compare_exchange_strong(expected, 1)) return;
    SetWaitCursor(1);
    SetStatusText(0, "Downloading %s...", name);
    char *body = nullptr;
    uint32_t size = 0;
    int ok = GetUpdateFile(name, &body, &size);
    char path[PATH_SIZE + 64];
    FormatText(path, sizeof path, "%s\\%s", gProgramFolder, name);
    if (ok) ok = SaveFile(path, body, size);
    FreeMemory(&body);
    SetStatusText(0, nullptr);
    SetWaitCursor(0);
    sCheckBusy = 0;
    if (!ok) return;
    if (!QuerySaveAll(1)) return;
    /* The program stays open when the installer did not start. */
    if (!OpenWithSystem(gFrame.frame, path, nullptr, gProgramFolder)) return;
    PostMessageA(gFrame.frame, WM_CLOSE, 0, 0);
}

void RunUpdateCheck()
{
    char published[VERSION_TEXT_SIZE];
    /* A published text that is not a plain version is no answer: it must
    ** never become part of a file name. */
    if (sCheckFailed || !CleanVersionText(sLatestVersion, published, sizeof published)) {
        if (gFrame.manualCheck) ReportError("Unable to check for a newer version of Kestovar.");
        return;
    }
    VersionNumber running, latest;
    int32_t date;
    PlatDateTime now;
    PlatGetLocalTime(&now);
    int32_t today = now.year * 10000 + now.month * 100 + now.day;
    ParseVersionString(kVersionText, &running, &date, today);
    ParseVersionString(sLatestVersion, &latest, &date, today);
    if (CompareVersions(&latest, &running) <= 0) {
        if (gFrame.manualCheck) ReportError("You are running the latest version.");
        return;
    }
    if (MessageBoxFormat(MB_YESNO | MB_ICONQUESTION,
                         "A newer version of Kestovar is available.\r\n\r\nYou are running %s and the latest version "
                         "is %s.\r\n\r\nWould you like to update now?",
                         kVersionText, published) != IDYES)
        return;
    DownloadInstaller(published);
}

/* ---- about box ------------------------------------------------------------------------------------ */

INT_PTR CALLBACK AboutDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    static HBRUSH background;
    static HBITMAP logo;
    const COLORREF kLightYellow = 0xF0FFFF;
    switch (message) {
    case WM_INITDIALOG: {
        background = CreateSolidBrush(kLightYellow);
        logo = (HBITMAP)LoadImageA(gFrame.instance, MAKEINTRESOURCEA(IDB_LOGO), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
        if (logo) {
            RecolorBitmapWhite(logo, kLightYellow);
            SendDlgItemMessageA(dialog, IDC_ABOUT_LOGO, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)logo);
        }
        char date[32];
        FormatDate(kBuildDate, gSettings.DateDisplayFormat, date);
        SetDlgTextF(dialog, IDC_ABOUT_VERSION, "Version %s (%s)", kVersionText, date);
        return TRUE;
    }
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        SetBkColor((HDC)wParam, kLightYellow);
        return (INT_PTR)background;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            if (background) DeleteObject(background);
            if (logo) DeleteObject(logo);
            background = nullptr;
            logo = nullptr;
            EndDialog(dialog, 1);
            return TRUE;
        }
        break;
    default: break;
    }
    return FALSE;
}
