/* norgate_platform.cpp -- the updater's platform services in the native
** build: the updater is a Windows program, so no installation, window or
** registry entry is ever found here. */
#include "marketdata/import/online_import.h"

void *FindNorgateUpdaterWindow() { return nullptr; }
int NduReadRegistryText(const char *valueName, char *out, int size)
{
    if (size > 0) out[0] = 0;
    return 0;
}
int NduWindowText(void *window, char *out, int size)
{
    if (size > 0) out[0] = 0;
    return 0;
}
void *NduFirstChild(void *window) { return nullptr; }
void *NduNextSibling(void *window) { return nullptr; }
int NduStartProgram(const char *commandLine) { return 0; }
int NduOpenDocument(const char *path) { return 0; }
