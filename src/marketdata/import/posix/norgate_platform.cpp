/* norgate_platform.cpp -- the updater's platform services in the native
** build.  Linux has no registry and no other programs' windows, so the folder
** named by the environment variable KV_NDU_HOME stands in for both:
**   norgate.reg   the updater's key, one "Name=Value" line per text value;
**   window.txt    the running updater's window: its process id, its title,
**                 then the text of each child window, one per line.
** Without KV_NDU_HOME nothing is found, as on a machine without the updater.
** Called on the UI thread only (the window texts live in one static record). */
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/text_match.h"
#include "marketdata/import/online_import.h"

extern char **environ;

enum {
    WINDOW_LINES = 8,
    WINDOW_LINE_SIZE = 256
};

/* The windows read from window.txt: line 0 the top-level window, the others
** its children.  A handle is the address of its line. */
static struct {
    char lines[WINDOW_LINES][WINDOW_LINE_SIZE];
    int count;
} sWindows;

/* path of a file in the stand-in folder (its name may use '\' as the
** program's own paths do); 0 without one. */
static int HomeFile(const char *name, char *path, int size)
{
    const char *home = getenv("KV_NDU_HOME");
    if (!home || !home[0]) return 0;
    FormatText(path, (size_t)size, "%s/%s", home, name);
    for (char *c = path; *c; c++)
        if (*c == '\\') *c = '/';
    return 1;
}

/* Reads the next line of f without its line end; 0 at the end of the file. */
static int ReadLine(FILE *f, char *out, int size)
{
    if (!fgets(out, size, f)) return 0;
    out[strcspn(out, "\r\n")] = 0;
    return 1;
}

void *FindNorgateUpdaterWindow()
{
    sWindows.count = 0;
    char path[512], pidText[32];
    if (!HomeFile("window.txt", path, sizeof path)) return nullptr;
    FILE *f = fopen(path, "rb");
    if (!f) return nullptr;
    long pid = ReadLine(f, pidText, sizeof pidText) ? atol(pidText) : 0;
    /* A window whose owner has gone (left behind by a crash) is no window. */
    if (pid > 0 && kill((pid_t)pid, 0) == 0)
        while (sWindows.count < WINDOW_LINES && ReadLine(f, sWindows.lines[sWindows.count], WINDOW_LINE_SIZE))
            sWindows.count++;
    fclose(f);
    if (sWindows.count < 1 || strcmp(sWindows.lines[0], "Norgate Data Updater") != 0) {
        sWindows.count = 0;
        return nullptr;
    }
    return sWindows.lines[0];
}

int NduReadRegistryText(const char *valueName, char *out, int size)
{
    if (size > 0) out[0] = 0;
    char path[512], line[600];
    if (!HomeFile("norgate.reg", path, sizeof path)) return 0;
    FILE *f = fopen(path, "rb");
    if (!f) return 0;
    size_t n = strlen(valueName);
    while (ReadLine(f, line, sizeof line)) {
        if (strncmp(line, valueName, n) == 0 && line[n] == '=') {
            CopyString(out, (size_t)size, line + n + 1, -1);
            break;
        }
    }
    fclose(f);
    return size > 0 && out[0] != 0;
}

/* The line number of a handle, -1 for anything else. */
static int WindowLine(void *window)
{
    for (int k = 0; k < sWindows.count; k++)
        if (window == sWindows.lines[k]) return k;
    return -1;
}

int NduWindowText(void *window, char *out, int size)
{
    int k = WindowLine(window);
    if (size > 0) out[0] = 0;
    if (k < 0 || size <= 0) return 0;
    CopyString(out, (size_t)size, sWindows.lines[k], -1);
    return out[0] != 0;
}

void *NduFirstChild(void *window) { return WindowLine(window) == 0 && sWindows.count > 1 ? sWindows.lines[1] : nullptr; }

void *NduNextSibling(void *window)
{
    int k = WindowLine(window);
    return k >= 1 && k + 1 < sWindows.count ? sWindows.lines[k + 1] : nullptr;
}

/* Starts a program given as a quoted path ('\' as separators) and blank-
** separated arguments, detached: a shell starts it in the background and
** ends at once, so the program never waits as a zombie of this process. */
int NduStartProgram(const char *commandLine)
{
    char line[1024];
    CopyString(line, sizeof line, commandLine, -1);
    char script[4096] = "";
    size_t used = 0;
    int argc = 0;
    char *p = line;
    while (*p) {
        while (*p == ' ') p++;
        if (!*p) break;
        char *word = p;
        if (*p == '"') {
            word = ++p;
            p += strcspn(p, "\"");
        } else {
            p += strcspn(p, " ");
        }
        if (*p) *p++ = 0;
        if (argc++ == 0) {
            for (char *c = word; *c; c++)
                if (*c == '\\') *c = '/';
            if (access(word, X_OK) != 0) return 0;
        }
        /* Each word in single quotes, its own quotes closed and escaped. */
        script[used++] = '\'';
        for (char *c = word; *c && used + 8 < sizeof script; c++) {
            if (*c == '\'') {
                memcpy(script + used, "'\\''", 4);
                used += 4;
            } else {
                script[used++] = *c;
            }
        }
        script[used++] = '\'';
        script[used++] = ' ';
        script[used] = 0;
        if (used + 64 >= sizeof script) return 0;
    }
    if (argc < 1) return 0;
    CopyString(script + used, sizeof script - used, "</dev/null >/dev/null 2>&1 &", -1);
    char shell[] = "/bin/sh", flag[] = "-c";
    char *argv[] = {shell, flag, script, nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, shell, nullptr, nullptr, argv, environ) != 0) return 0;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

/* No program is known to show an HTML page here. */
int NduOpenDocument(const char *path) { return 0; }
