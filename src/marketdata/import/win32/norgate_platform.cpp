/* norgate_platform.cpp -- the updater's platform services on Windows: its
** registry key, its windows and starting its launcher. */
#include <windows.h>
#include <shellapi.h>

#include "foundation/text_match.h"
#include "foundation/win32/window_text.h"
#include "marketdata/import/online_import.h"

void *FindNorgateUpdaterWindow() { return FindWindowA(nullptr, "Norgate Data Updater"); }

int NduReadRegistryText(const char *valueName, char *out, int size)
{
    if (size > 0) out[0] = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\NDU\\norgate", 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
    DWORD type = 0, bytes = (DWORD)(size > 1 ? size - 1 : 0);
    LONG result = RegQueryValueExA(key, valueName, nullptr, &type, (BYTE *)out, &bytes);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        if (size > 0) out[0] = 0;
        return 0;
    }
    out[bytes < (DWORD)size ? bytes : (DWORD)size - 1] = 0;
    return out[0] != 0;
}

int NduWindowText(void *window, char *out, int size) { return GetWindowTextA((HWND)window, out, size) > 0; }
void *NduFirstChild(void *window) { return GetWindow((HWND)window, GW_CHILD); }
void *NduNextSibling(void *window) { return GetWindow((HWND)window, GW_HWNDNEXT); }

int NduStartProgram(const char *commandLine)
{
    char line[1024];
    CopyString(line, sizeof line, commandLine, -1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWMINNOACTIVE;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return 0;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return 1;
}

int NduOpenDocument(const char *path)
{
    return OpenWithSystem(nullptr, path, nullptr, nullptr, 0);
}
