/* frame_rules.h -- the rules of the program's frame that need no window: which
** command goes where, what the Run menu allows, tab titles, status-bar part
** widths, the start-up repairs and folders, the second start's command line,
** the open-files list and the program log's line breaks.  The window shell
** (win32/) applies them; tests check them natively.
**
** Threads:    UI thread; no state of its own.
*/
#pragma once
#include <cstdarg>
#include <cstdint>

#include "platform/platform.h"

/* ---- command dispatch ------------------------------------------------------------ */

/* Run mode of a Run command (0 import, 1 apply, 2 scan, 3 test, 4 optimize,
** 5 orders), or -1 for any other command. */
int RunModeOfCommand(int commandId);

/* Where a command id goes when it is not one of the frame's own commands. */
enum CommandRoute {
    ROUTE_RECENT_FILE = 1, /* 5000..5008: a recent-files item */
    ROUTE_NOT_HANDLED = 2, /* up to 5099, 5199, 5299, 5399 and 5499..9999 */
    ROUTE_KIND_HANDLER = 3 /* the active window kind's command handler */
};
int RouteOtherCommand(int commandId);
/* What DispatchFrameCommand answers after a kind handler ran: 1 below 10000,
** else 0 (so the default frame procedure sees it too). */
int KindCommandResult(int commandId);

/* ---- run menu -------------------------------------------------------------------- */

/* The sections a script has, as far as the Run commands care. */
enum ScriptSectionFlags {
    SCRIPT_HAS_STRATEGY = 1, /* a Strategy or Benchmark section */
    SCRIPT_HAS_IMPORT = 2,
    SCRIPT_HAS_SCAN = 4
};
/* The running activity's name: "Import", "Data Loading", "Calculation",
** "Scan"/"Optimization"/"Test" by run mode for state 4; "" otherwise.  out
** holds 32 bytes. */
void GetRunTypeName(int runState, int runMode, char *out, int size);
/* Whether a Run-menu command is enabled: while a run is going only Stop; when
** idle, with an available script (and no low memory), Check and Apply always,
** Test, Orders and Optimization with a strategy section, Import with an import
** section, Scan with a scan section; Stop never. */
int IsRunCommandEnabled(int commandId, int runState, int scriptAvailable, int lowMemory, int sections);

/* ---- window tabs and status bar ---------------------------------------------------- */

enum { TAB_TITLE_LIMIT = 19 };
/* A title of 19 characters or more becomes its first 7 characters, "..." and
** its last 8.  Returns the length. */
int ShortenTabTitle(const char *title, char *out, int size);
/* The tab title from a window text: after its last backslash when it has one;
** else "<kind> (untitled)" when it holds "(untitled)", else "<kind><ordinal>";
** " (read-only)" cut off; then shortened.  kindName is the class name without
** its 8-character "Kestovar" prefix. */
int WindowTabTitle(const char *windowText, const char *kindName, int ordinal, char *out, int size);
/* The tab width at a DPI: dpi * 168 / 96. */
int WindowTabWidth(int dpi);

/* Right edges of the status bar's parts: with n = fields + 2 and u = dpi * 4 / 3,
** part 0 ends at width - n * u but at least at 3 * u, each next part is u wide,
** the last (part n) runs to the edge (-1).  A bar narrower than (n + 3) * u
** takes u = width / (n + 3), so that every part shows.  Part 1 (the run's
** progress, then its run time) is at least timeWidth wide: where the bar is
** too narrow for that beside the other parts at full width, the others
** narrow first, alike; so does the last part (the memory text) keep
** memoryWidth.  edges holds fields + 3 values; returns the part count. */
int StatusBarEdges(int barWidth, int dpi, int fields, int *edges, int timeWidth = 0, int memoryWidth = 0);

/* ---- start-up ---------------------------------------------------------------------- */

/* The program folder from the executable's path: every "\.\" shortened to "\",
** then cut at the last backslash ("." without one).  out holds PATH_SIZE bytes. */
void ProgramFolderFromPath(const char *exePath, char *out, int size);
/* A DateFormat key of older settings files: 0 or more sets DateInputFormat
** (the value below 2, else 1) and, for 0..2, DateDisplayFormat ("M/d/yy",
** "d/M/yy", "yyyy-MM-dd"); a negative value changes nothing. */
void ApplyLegacyDateFormat(int dateFormat, int32_t *dateInputFormat, char *dateDisplayFormat, int size);
/* The repairs of loaded settings: AccountSize not above 0 becomes 100000,
** MaxMemPct below 1 becomes 95, StatusBarFields outside 1..8 becomes 4. */
void RepairLoadedSettings(double *accountSize, int32_t *maxMemPct, int32_t *statusBarFields);
/* Clamps a saved frame to the virtual screen (left, top, width, height). */
void ClampFrameToScreen(int32_t *x, int32_t *y, int32_t *w, int32_t *h, int screenLeft, int screenTop,
                        int screenWidth, int screenHeight);

/* ---- files from outside: a second start, the command line, the open-files list ------ */

/* The text a second start sent: accepted only when it is terminated within
** its size; copied into out (at most size - 1 characters, never more than
** the data holds).  1 accepted, 0 refused. */
int TakeHandOffText(const void *data, uint32_t dataSize, char *out, int size);
/* Unquotes one path of a hand-off: a path starting with '"' loses it and its
** last character. */
void UnquotePath(const char *path, char *out, int size);
/* The save dialog's default extension: a chosen name (path[PATH_SIZE] from
** nameOffset on) without a '.' gets "." and extension.  0, the path as it
** was, when the whole would be longer than a path holds (259 letters):
** cut, it would be a file of another name. */
int AddDefaultExtension(char *path, int nameOffset, const char *extension);

/* One FILE_%d_WINDOW value: optional '*', then x, y, w, h, show state.  Values
** that cannot be read give CW_USEDEFAULT for all four; x and w beyond the
** client width, y and h beyond its height become CW_USEDEFAULT. */
enum { PLACE_DEFAULT = (int32_t)0x80000000 };
struct OpenFilePlacement {
    int32_t active;
    int32_t x, y, w, h;
    int32_t showState;
};
void ParseOpenFilePlacement(const char *text, int clientWidth, int clientHeight, OpenFilePlacement *out);

/* Text of a recent-files menu item: "&%d %s"; and back: the path after the
** three-character prefix (empty when shorter). */
void RecentFileItemText(int number, const char *path, char *out, int size);
const char *RecentFileItemPath(const char *itemText);

/* ---- program log ------------------------------------------------------------------ */

/* Formats one log entry for the log window: "\r\n" first when the window
** already holds text and gRun.logContinueLine is 0; the whole entry at most size - 1
** characters.  Returns the length. */
int FormatLogEntry(char *out, int size, int windowHasText, int continueLine, const char *format, va_list args);
