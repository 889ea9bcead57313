/* norgate_platform.cpp -- the updater's platform services on Windows: its
** registry key, its windows and starting its launcher. */
#include <windows.h>
#include <shellapi.h>

#include "foundation/text_match.h"
#include "foundation/win32/window_text.h"
#include "marketdata/import/online_import.h"

void *FindNorgateUpdaterWindow() { return FindWindowA(nullptr, "Norgate Data Updater"); }

/* The updater keeps folders in its key; read wide, one outside the code
** page reaches the program as its letters (UTF-8). */
int NduReadRegistryText(const char *valueName, char *out, int size)
{
    if (size > 0) out[0] = 0;
    if (size <= 0) return 0;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\NDU\\norgate", 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    WCHAR wide[1024];
    DWORD type = 0, bytes = (DWORD)(sizeof wide - sizeof wide[0]);
    LONG result = RegQueryValueExW(key, WideFromText(valueName).c_str(), nullptr, &type, (BYTE *)wide, &bytes);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return 0;
    wide[bytes / sizeof wide[0]] = 0;
    /* A value that does not fit reads as none rather than as another folder. */
    return TextFromWide(wide, out, (size_t)size) && out[0] != 0;
}

int NduWindowText(void *window, char *out, int size)
{
    if (size <= 0) return 0;
    GetWindowTitle((HWND)window, out, (size_t)size); /* a long text is cut before a whole letter */
    return out[0] != 0;
}
void *NduFirstChild(void *window) { return GetWindow((HWND)window, GW_CHILD); }
void *NduNextSibling(void *window) { return GetWindow((HWND)window, GW_HWNDNEXT); }

int NduStartProgram(const char *commandLine)
{
    /* The launcher's command line names its folder: started wide, a folder
    ** outside the code page is found. */
    std::wstring line = WideFromText(commandLine);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

int NduOpenDocument(const char *path)
{
    return OpenWithSystem(nullptr, path, nullptr, nullptr, 0);
}
