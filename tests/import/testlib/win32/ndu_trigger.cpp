// ndu_trigger.cpp (Windows) -- a stand-in for the data updater's launcher and main
// window, for the tests of the updater control.  The tests copy it to
// <folder>\bin\ndu.trigger.exe and run it as the program runs the real one:
//
//   ndu.trigger.exe donotshow          start the updater (idle) unless it runs
//   ndu.trigger.exe update donotshow   start an update (starting it if need be)
//   ndu.trigger.exe close              ask the running updater to close
//   ndu.trigger.exe install DATAPATH   write its key: InstallPath (the folder
//                                      above bin) and DATAPATH, a folder that
//                                      is there
//   ndu.trigger.exe uninstall          remove the key
//
// The running updater is a top-level window titled "Norgate Data Updater";
// while it updates (BUSY_MS) a child window reads "Cancel Update".  It closes
// by itself after LIFETIME_MS, so a failed test leaves nothing behind.
//
// On Windows these are a real window and the registry key.  In the native
// build they are files in the folder named by KV_NDU_HOME, which the native
// platform layer reads the same way: norgate.reg ("Name=Value" lines),
// window.txt (the owner's process id, the title, one line per child) and
// request.txt (a verb for the running updater).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

enum { BUSY_MS = 1500,
       LIFETIME_MS = 120000 };
static const char kTitle[] = "Norgate Data Updater";
static const char kCancel[] = "Cancel Update";

// The folder above the program's own "bin" folder, ending in a separator.
static std::string InstallFolder(const char *self, char separator)
{
    std::string path = self;
    size_t cut = path.find_last_of("\\/");
    path = cut == std::string::npos ? "" : path.substr(0, cut);
    cut = path.find_last_of("\\/");
    return (cut == std::string::npos ? "" : path.substr(0, cut)) + separator;
}

enum { MSG_UPDATE = WM_APP + 1,
       TIMER_BUSY = 1,
       TIMER_LIFE = 2 };
static const char kKey[] = "SOFTWARE\\NDU\\norgate";
static HWND sCancel;

static void StartBusy(HWND window)
{
    if (!sCancel)
        sCancel = CreateWindowA("BUTTON", kCancel, WS_CHILD | WS_VISIBLE, 10, 10, 120, 24, window, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    SetTimer(window, TIMER_BUSY, BUSY_MS, nullptr);
}

static LRESULT CALLBACK UpdaterProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case MSG_UPDATE: StartBusy(window); return 0;
    case WM_TIMER:
        KillTimer(window, wParam);
        if (wParam == TIMER_BUSY && sCancel) {
            DestroyWindow(sCancel);
            sCancel = nullptr;
        } else if (wParam == TIMER_LIFE) {
            DestroyWindow(window);
        }
        return 0;
    case WM_DESTROY: PostQuitMessage(0); return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static int WriteKey(const char *name, const std::string &value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return 0;
    LONG result = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// The data folder as the updater keeps it: in the system's wide letters, as
// its command line gave it.
static int WriteWideKey(const wchar_t *name, const wchar_t *value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\NDU\\norgate", 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return 0;
    LONG result = RegSetValueExW(key, name, 0, REG_SZ, (const BYTE *)value, (DWORD)((wcslen(value) + 1) * sizeof *value));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

int main(int argc, char **argv)
{
    const char *verb = argc > 1 ? argv[1] : "";
    if (strcmp(verb, "install") == 0 && argc > 2) {
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        int count = 0;
        wchar_t **wide = CommandLineToArgvW(GetCommandLineW(), &count);
        // As the updater, it keeps only a data folder that is there.
        const int done = wide && count > 2 && GetFileAttributesW(wide[2]) != INVALID_FILE_ATTRIBUTES &&
                         WriteKey("InstallPath", InstallFolder(self, '\\')) && WriteWideKey(L"DataPath", wide[2]);
        LocalFree(wide);
        return done ? 0 : 1;
    }
    if (strcmp(verb, "uninstall") == 0) return RegDeleteKeyA(HKEY_CURRENT_USER, kKey) == ERROR_SUCCESS ? 0 : 1;
    HWND running = FindWindowA(nullptr, kTitle);
    bool update = strcmp(verb, "update") == 0;
    if (strcmp(verb, "close") == 0 || running) {
        if (running) PostMessageA(running, strcmp(verb, "close") == 0 ? WM_CLOSE : update ? MSG_UPDATE
                                                                                          : WM_NULL,
                                  0, 0);
        return 0;
    }
    WNDCLASSA type = {};
    type.lpfnWndProc = UpdaterProc;
    type.hInstance = GetModuleHandleA(nullptr);
    type.lpszClassName = "KvUpdaterStandIn";
    RegisterClassA(&type);
    HWND window = CreateWindowA(type.lpszClassName, kTitle, WS_OVERLAPPEDWINDOW, 0, 0, 300, 100, nullptr, nullptr,
                                type.hInstance, nullptr);
    if (!window) return 1;
    SetTimer(window, TIMER_LIFE, LIFETIME_MS, nullptr);
    if (update) StartBusy(window);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
