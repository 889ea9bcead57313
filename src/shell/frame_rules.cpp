/* frame_rules.cpp -- the frame's window-free rules. */
#include "shell/frame_rules.h"

#include <cstdlib>
#include <cstring>

#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

/* Command ids of the Run menu, as the menus and accelerators carry them. */
enum {
    CMD_RUN_APPLY = 40143,
    CMD_RUN_TEST = 40150,
    CMD_RUN_OPTIMIZE = 40151,
    CMD_RUN_IMPORT = 40152,
    CMD_RUN_SCAN = 40153,
    CMD_RUN_ORDERS = 40154,
    CMD_STOP = 40155
};

struct RunCommandRow {
    int commandId;
    int runMode;
    int needs; /* ScriptSectionFlags the command needs beyond a script */
};
/* clang-format off */
static const RunCommandRow kRunCommands[] = {
    {.commandId = CMD_RUN_APPLY, .runMode = RUN_MODE_APPLY, .needs = 0},
    {.commandId = CMD_RUN_TEST, .runMode = RUN_MODE_TEST, .needs = SCRIPT_HAS_STRATEGY},
    {.commandId = CMD_RUN_OPTIMIZE, .runMode = RUN_MODE_OPTIMIZE, .needs = SCRIPT_HAS_STRATEGY},
    {.commandId = CMD_RUN_IMPORT, .runMode = RUN_MODE_IMPORT, .needs = SCRIPT_HAS_IMPORT},
    {.commandId = CMD_RUN_SCAN, .runMode = RUN_MODE_SCAN, .needs = SCRIPT_HAS_SCAN},
    {.commandId = CMD_RUN_ORDERS, .runMode = RUN_MODE_ORDERS, .needs = SCRIPT_HAS_STRATEGY},
};
/* clang-format on */

static const RunCommandRow *FindRunCommand(int commandId)
{
    for (const RunCommandRow &row : kRunCommands)
        if (row.commandId == commandId) return &row;
    return nullptr;
}

int RunModeOfCommand(int commandId)
{
    const RunCommandRow *row = FindRunCommand(commandId);
    return row ? row->runMode : -1;
}

int RouteOtherCommand(int commandId)
{
    if (commandId >= 5000 && commandId <= 5008) return ROUTE_RECENT_FILE;
    if (commandId <= 5099 || commandId == 5199 || commandId == 5299 || commandId == 5399 ||
        (commandId >= 5499 && commandId <= 9999))
        return ROUTE_NOT_HANDLED;
    return ROUTE_KIND_HANDLER;
}

int KindCommandResult(int commandId) { return commandId < 10000 ? 1 : 0; }

void GetRunTypeName(int runState, int runMode, char *out, int size)
{
    const char *name = "";
    switch (runState) {
    case RUN_IMPORT: name = "Import"; break;
    case RUN_LOADING: name = "Data Loading"; break;
    case RUN_CALCULATING: name = "Calculation"; break;
    case RUN_TESTING:
        name = runMode == RUN_MODE_SCAN ? "Scan" : runMode == RUN_MODE_OPTIMIZE ? "Optimization"
                                                                                : "Test";
        break;
    default: break;
    }
    CopyString(out, size, name, -1);
}

int IsRunCommandEnabled(int commandId, int runState, int scriptAvailable, int lowMemory, int sections)
{
    if (commandId == CMD_STOP) return runState != RUN_IDLE;
    const RunCommandRow *row = FindRunCommand(commandId);
    if (!row || runState != RUN_IDLE) return 0;
    if (!scriptAvailable || lowMemory) return 0;
    return (sections & row->needs) == row->needs;
}

int ShortenTabTitle(const char *title, char *out, int size)
{
    int n = (int)strlen(title);
    if (n < TAB_TITLE_LIMIT) return CopyString(out, size, title, -1);
    /* Neither cut falls inside a letter of a UTF-8 name. */
    auto inside = [title](int k) { return ((unsigned char)title[k] & 0xC0) == 0x80; };
    int head = 7, tail = n - 8;
    while (head > 0 && inside(head)) head--;
    while (tail < n && inside(tail)) tail++;
    char start[8];
    CopyString(start, sizeof start, title, head);
    return FormatText(out, (size_t)size, "%s...%s", start, title + tail);
}

int WindowTabTitle(const char *windowText, const char *kindName, int ordinal, char *out, int size)
{
    char title[PATH_SIZE];
    const char *slash = strrchr(windowText, '\\');
    if (slash)
        CopyString(title, sizeof title, slash + 1, -1);
    else if (strstr(windowText, "(untitled)"))
        FormatText(title, sizeof title, "%s (untitled)", kindName);
    else
        FormatText(title, sizeof title, "%s%d", kindName, ordinal);
    char *readOnly = strstr(title, " (read-only)");
    if (readOnly) *readOnly = 0;
    return ShortenTabTitle(title, out, size);
}

int WindowTabWidth(int dpi) { return dpi * 168 / 96; }

int StatusBarEdges(int barWidth, int dpi, int fields, int *edges, int timeWidth, int memoryWidth)
{
    int n = fields + 2;
    int u = dpi * 4 / 3;
    int t = timeWidth > u ? timeWidth : u;     /* part 1 */
    int m = memoryWidth > u ? memoryWidth : u; /* part n */
    /* Part 0 takes at least 3 units.  Where the bar is narrower than the
    ** parts at full width, the run time and the memory text keep the widths
    ** their texts need and the other parts narrow alike, so that each one
    ** still shows. */
    if (barWidth < (n + 1) * u + t + m) {
        u = barWidth / (n + 3);
        t = timeWidth > u ? timeWidth : u;
        m = memoryWidth > u ? memoryWidth : u;
        if (t > u || m > u) {
            u = (barWidth - t) / (n + 2);
            if (memoryWidth > u)
                u = (barWidth - t - memoryWidth) / (n + 1);
            m = memoryWidth > u ? memoryWidth : u;
        }
        if (u < 1) u = 1;
    }
    int first = barWidth - (n - 2) * u - t - m;
    if (first < 3 * u) first = 3 * u;
    edges[0] = first;
    edges[1] = first + t;
    for (int i = 2; i < n; i++) edges[i] = edges[i - 1] + u;
    edges[n] = -1;
    return n + 1;
}

void ProgramFolderFromPath(const char *exePath, char *out, int size)
{
    char path[PATH_SIZE];
    int n = 0;
    for (const char *p = exePath; *p && n < (int)sizeof path - 1;) {
        if (p[0] == '\\' && p[1] == '.' && p[2] == '\\') {
            p += 2;
            continue;
        }
        path[n++] = *p++;
    }
    path[n] = 0;
    char *slash = strrchr(path, '\\');
    if (!slash) {
        CopyString(out, size, ".", -1);
        return;
    }
    *slash = 0;
    CopyString(out, size, path, -1);
}

void ApplyLegacyDateFormat(int dateFormat, int32_t *dateInputFormat, char *dateDisplayFormat, int size)
{
    static const char *const kPictures[3] = {"M/d/yy", "d/M/yy", "yyyy-MM-dd"};
    if (dateFormat < 0) return;
    *dateInputFormat = dateFormat < 2 ? dateFormat : 1;
    if (dateFormat <= 2) CopyString(dateDisplayFormat, size, kPictures[dateFormat], -1);
}

void RepairLoadedSettings(double *accountSize, int32_t *maxMemPct, int32_t *statusBarFields)
{
    if (!(*accountSize > 0)) *accountSize = 100000;
    if (*maxMemPct < 1) *maxMemPct = 95;
    if (*statusBarFields < 1 || *statusBarFields > 8) *statusBarFields = 4;
}

void ClampFrameToScreen(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int screenLeft, int screenTop,
                        int screenWidth, int screenHeight)
{
    if (*x < screenLeft) *x = screenLeft;
    if (*y < screenTop) *y = screenTop;
    if (*w > screenWidth) *w = screenWidth;
    if (*h > screenHeight) *h = screenHeight;
}

int TakeHandOffText(const void *data, uint32_t dataSize, char *out, int size)
{
    out[0] = 0;
    if (!data || dataSize == 0 || size <= 0) return 0;
    const char *text = (const char *)data;
    const void *nul = memchr(text, 0, dataSize);
    if (!nul) return 0;
    int length = (int)((const char *)nul - text);
    if (length >= size) return 0;
    memcpy(out, text, (size_t)length);
    out[length] = 0;
    return 1;
}

void UnquotePath(const char *path, char *out, int size)
{
    if (path[0] != '"') {
        CopyString(out, size, path, -1);
        return;
    }
    int n = (int)strlen(path + 1);
    CopyString(out, size, path + 1, n > 0 ? n - 1 : 0);
}

int AddDefaultExtension(char *path, int nameOffset, const char *extension)
{
    if (strchr(path + nameOffset, '.')) return 1;
    const size_t n = strlen(path);
    if (PathLetters(path) + 1 + strlen(extension) > PATH_LETTERS) return 0;
    FormatText(path + n, PATH_SIZE - n, ".%s", extension);
    return 1;
}

void ParseOpenFilePlacement(const char *text, int clientWidth, int clientHeight, OpenFilePlacement *out)
{
    *out = {};
    const char *p = text;
    if (*p == '*') {
        out->active = 1;
        p++;
    }
    int32_t v[5];
    int got = 0;
    for (; got < 5; got++) {
        char *end = nullptr;
        long value = strtol(p, &end, 10);
        if (end == p) break;
        v[got] = (int32_t)value;
        p = end;
        if (got < 4) {
            if (*p != ',') {
                got++;
                break;
            }
            p++;
        }
    }
    if (got < 5) {
        out->x = out->y = out->w = out->h = PLACE_DEFAULT;
        out->showState = 0;
        return;
    }
    out->x = v[0] > clientWidth ? PLACE_DEFAULT : v[0];
    out->y = v[1] > clientHeight ? PLACE_DEFAULT : v[1];
    out->w = v[2] > clientWidth ? PLACE_DEFAULT : v[2];
    out->h = v[3] > clientHeight ? PLACE_DEFAULT : v[3];
    out->showState = v[4];
}

void RecentFileItemText(int number, const char *path, char *out, int size)
{
    FormatText(out, (size_t)size, "&%d %s", number, path);
}

const char *RecentFileItemPath(const char *itemText)
{
    return strlen(itemText) > 3 ? itemText + 3 : "";
}

int FormatLogEntry(char *out, int size, int windowHasText, int continueLine, const char *format, va_list args)
{
    int prefix = 0;
    if (windowHasText && !continueLine && size > 2) {
        out[0] = '\r';
        out[1] = '\n';
        prefix = 2;
    }
    return prefix + FormatTextV(out + prefix, (size_t)(size - prefix), format, args);
}
