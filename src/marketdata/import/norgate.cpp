/* norgate.cpp -- the Norgate Data Updater: starting, updating and closing it,
** checking its local web interface, its watchlists as symbol lists and as
** suggestions, and the security information page of one symbol. */
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"

#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/numbers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/online_import.h"
#include "marketdata/store/constituency.h"
#include "services/services.h"

char gNorgateWatchlistNames[10000];

enum {
    LAUNCH_WAIT_MS = 60000,
    UPDATE_START_WAIT_MS = 60000,
    UPDATE_FINISH_WAIT_MS = 900000,
    POLL_PAUSE_MS = 100,
    WINDOW_TEXT_SIZE = 256,
    WATCHLIST_IMAGE = 12,
    DATA_PATH_MAX = 228
};

static const char kMsgLaunch[] = "Unable to launch Norgate Data Updater.";
static const char kMsgWaiting[] = "Waiting for Norgate to %s updating...";
static const char kMsgConnect[] = "Unable to connect to Norgate Data Updater.\r\n%s";
static const char kMsgWatchlist[] = "Unable to access Norgate watchlist '%s'.%s";
static const char kMsgPlatinum[] = "\r\n(Historical index constituency requires Norgate Platinum subscription level.)";
static const char kMsgNoInfo[] = "Unable to get security information for %s.";
static const char kMsgCreate[] = "Unable to create %s";
static const char kCurrentAndPast[] = " Current & Past";

static int StopRequested() { return gRun.state.load() == RUN_STOP_REQUESTED; }

void *FindBusyCancelButton(void *window)
{
    if (!window) return nullptr;
    char text[WINDOW_TEXT_SIZE];
    if (NduWindowText(window, text, sizeof text) && MatchWildcard("Cancel *", text)) return window;
    for (void *child = NduFirstChild(window); child; child = NduNextSibling(child)) {
        void *found = FindBusyCancelButton(child);
        if (found) return found;
    }
    return nullptr;
}

/* The updater's state: 0 not running, 1 running and idle, 2 running and busy. */
static int UpdaterState()
{
    void *window = FindNorgateUpdaterWindow();
    if (!window) return 0;
    return FindBusyCancelButton(window) ? 2 : 1;
}

/* Polls (pumping messages) until the updater is in state want; shows the
** waiting message with verb once while it is in state notice.  1 reached, 0
** after limit milliseconds or a stop request. */
static int WaitForUpdater(int want, int notice, const char *verb, uint32_t limit)
{
    uint64_t start = PlatTickCount64();
    int shown = 0;
    for (;;) {
        int state = UpdaterState();
        if (state == want) return 1;
        if (state == notice && !shown) {
            SetStatusText(0, kMsgWaiting, verb);
            shown = 1;
        }
        if (StopRequested() || PlatTickCount64() - start > limit) return 0;
        PumpMessages();
        PlatSleep(POLL_PAUSE_MS);
    }
}

int ControlNorgateUpdater(int mode)
{
    int state = UpdaterState();
    if (state == 2) SetStatusText(0, kMsgWaiting, "finish");
    int running = state == 1;
    if (running && mode == 0) return 1;
    char folder[PATH_SIZE];
    if (!NduReadRegistryText("InstallPath", folder, sizeof folder) && !NduReadRegistryText("BasePath", folder, sizeof folder)) {
        /* Without an installation to start (no registry here), an interface
        ** that already answers is as good as an idle updater. */
        if (mode == 0 && CheckNorgateApi(0)) return 1;
        /* An interface that answers is an updater running, not one that
        ** could not be started: its answer is the reason. */
        if (mode == 0 && gHttpSlots[0].status != 0)
            ReportError(kMsgConnect, gImportErrorText);
        else
            ReportError(kMsgLaunch);
        return 0;
    }
    static const char *const kArguments[] = {" close", " donotshow", " update donotshow"};
    const char *status = mode < 0 ? "Closing Norgate Data Updater..."
        : mode == 0               ? "Launching Norgate Data Updater..."
        : running                 ? "Updating Norgate Data..."
                                  : "Launching Norgate Data Updater and Updating Data...";
    char command[600];
    FormatText(command, sizeof command, "\"%sbin\\ndu.trigger.exe\"%s", folder, kArguments[mode < 0 ? 0 : mode == 0 ? 1
                                                                                                                    : 2]);
    SetStatusText(0, "%s", status);
    if (!NduStartProgram(command)) {
        ReportError(kMsgLaunch);
        return 0;
    }
    if (mode < 0) return 1;
    if (mode == 0) {
        if (WaitForUpdater(1, 2, "finish", LAUNCH_WAIT_MS)) return 1;
        ReportError(kMsgLaunch);
        return 0;
    }
    if (!WaitForUpdater(2, 1, "start", UPDATE_START_WAIT_MS) || !WaitForUpdater(1, 2, "finish", UPDATE_FINISH_WAIT_MS)) {
        ReportError(kMsgLaunch);
        return 0;
    }
    return 1;
}

int CheckNorgateApi(int slot)
{
    const OnlineHost &h = gOnlineHosts[HOST_NORGATE];
    HttpSlot &s = gHttpSlots[slot];
    if (!HttpConnect(slot, h.host, h.port, h.flags, "Norgate") || !HttpGet(slot, "/api/v1/status", 0, HTTP_BODY_FIRST)) {
        SetImportErrorText("The Norgate Data Updater's local web interface is not responding (%s).",
                           s.error[0] ? s.error : "no answer");
        return 0;
    }
    if (s.status / 100 == 2 && CompareNoCase(s.body[0], "OK") == 0) return 1;
    char text[64];
    HttpAnswerLine(s, text, sizeof text);
    SetImportErrorText("The Norgate Data Updater's local web interface answered its status request with status "
                       "%d%s%s.",
                       (int)s.status, text[0] ? ": " : "", text);
    return 0;
}

/* The symbol of a watchlist line: its first field, without the quotes of a
** quoted field (a doubled quote inside stands for one) and the blanks around
** it, into out. */
static void WatchlistSymbol(const char *line, const char *end, char *out, int size)
{
    int n = 0;
    const char *p = line;
    while (p < end && (*p == ' ' || *p == '\t')) p++;
    if (p < end && *p == '"') {
        for (p++; p < end && n < size - 1; p++) {
            if (*p == '"' && p + 1 < end && p[1] == '"') {
                out[n++] = *p++;
            } else if (*p == '"') {
                break;
            } else {
                out[n++] = *p;
            }
        }
    } else {
        for (; p < end && *p != ',' && n < size - 1; p++) out[n++] = *p;
    }
    out[n] = 0;
    CopySymbolText(out, (size_t)size, out, (size_t)n);
}

int ReadNorgateWatchlist(ImportItem *row)
{
    const char *name = row->value + 1;
    if (!ControlNorgateUpdater(0)) return 0;
    if (!CheckNorgateApi(0)) {
        ReportError(kMsgConnect, gImportErrorText);
        return 0;
    }
    char encoded[256], path[300];
    UrlEncode(name, encoded, sizeof encoded);
    FormatText(path, sizeof path, "/api/v1/watchlist/%s", encoded);
    int history = FindTextNoCase(name, kCurrentAndPast) != nullptr;
    const HttpSlot &slot = gHttpSlots[0];
    /* A watchlist the updater does not have is answered with an error
    ** status and a text, which is no list; nor is a page or a JSON text
    ** answered in its place, which read as lines would give no symbol (an
    ** include list of none, an exclude list that excludes nothing). */
    char why[200] = "";
    int answered = HttpGet(0, path, 0, HTTP_BODY_FIRST);
    const char *body = answered && slot.received ? slot.body[0] : "";
    const char *first = body;
    while (*first == ' ' || *first == '\t' || *first == '\r' || *first == '\n') first++;
    char text[64];
    HttpAnswerLine(slot, text, sizeof text);
    if (!answered)
        FormatText(why, sizeof why, "\r\n%s", slot.error[0] ? slot.error : "The updater did not answer.");
    else if (slot.status / 100 != 2)
        FormatText(why, sizeof why, "\r\nThe updater answered with status %d%s%s.", (int)slot.status, text[0] ? ": " : "",
                   text);
    else if (!slot.received)
        FormatText(why, sizeof why, "\r\nThe updater's answer is empty.");
    else if (*first == '<' || *first == '{' || *first == '[')
        FormatText(why, sizeof why, "\r\nThe updater's answer is no list of symbols%s%s.", text[0] ? ": " : "", text);
    if (why[0]) {
        char extra[sizeof why + sizeof kMsgPlatinum];
        FormatText(extra, sizeof extra, "%s%s", history ? kMsgPlatinum : "", why);
        ReportError(kMsgWatchlist, name, extra);
        return 0;
    }
    /* The first line is the header; each later line starts with its symbol,
    ** whatever it holds after it.  Blank lines hold none. */
    char shown[300];
    FormatText(shown, sizeof shown, "Norgate watchlist '%s'", name);
    const char *end = body + slot.received;
    const char *p = body, *next = body;
    int lineNumber = 0;
    for (; p < end; p = next) {
        const char *lineEnd = FindLineEnd(p, end, &next);
        if (++lineNumber == 1) continue;
        const char *q = p;
        while (q < lineEnd && (*q == ' ' || *q == '\t')) q++;
        if (q == lineEnd) continue;
        char symbol[IMPORT_SYMBOL_SIZE * 2];
        WatchlistSymbol(p, lineEnd, symbol, sizeof symbol);
        if (!symbol[0]) {
            ReportImportNote(shown, "line %d holds no symbol\n", lineNumber);
            continue;
        }
        int added = row->kind == IMPKW_EXCLUDE_LIST
            ? AddExcludePattern(symbol, row->blockNumber)
            : AddSymbolToImportList(symbol, row->blockNumber, row->listNumber, row->listFlag) != nullptr;
        if (!added) return 0;
    }
    if (history) {
        char index[PATH_SIZE];
        const char *suffix = FindTextNoCase(name, kCurrentAndPast);
        CopyString(index, sizeof index, name, (int)(suffix - name));
        if (!gConstituencyRequested && gConstituencyCount > 0 &&
            !AllocMemory(&gConstituencyRequested, (uint64_t)gConstituencyCount))
            return 0;
        for (int32_t c = 0; gConstituencyRequested && c < gConstituencyCount; c++)
            if (CompareNoCase(gConstituency[c].label, index) == 0) gConstituencyRequested[c] = 1;
    }
    HttpClose(0);
    return 1;
}

struct NameFilter {
    const char *filter;
    int used;
};

static int CollectWatchlistName(const char *file, int isFolder, void *user)
{
    NameFilter *f = (NameFilter *)user;
    char name[PATH_SIZE];
    CopyString(name, sizeof name, file, -1);
    const char *cut = FindTextNoCase(name, ".wl");
    if (cut) name[cut - name] = 0;
    if (f->filter[0] && !FindTextNoCase(name, f->filter)) return 1;
    char entry[300];
    int n = FormatText(entry, sizeof entry, "%s.%s?%d", f->used ? "|" : "", name, WATCHLIST_IMAGE);
    if (f->used + n < (int)sizeof gNorgateWatchlistNames) {
        memcpy(gNorgateWatchlistNames + f->used, entry, (size_t)n + 1);
        f->used += n;
    }
    return 1;
}

int ListNorgateWatchlistNames(const char *typed)
{
    gNorgateWatchlistNames[0] = 0;
    char dataPath[PATH_SIZE];
    if (!NduReadRegistryText("DataPath", dataPath, sizeof dataPath) || strlen(dataPath) >= DATA_PATH_MAX) return 0;
    char pattern[300];
    FormatText(pattern, sizeof pattern, "%sConfiguration\\Watchlists\\*.wl?", dataPath);
    NameFilter f = {typed && typed[0] ? typed + 1 : "", 0};
    PlatListFolder(pattern, CollectWatchlistName, &f);
    return 1;
}

/* ---- the security information page ------------------------------------------------------- */

/* Writes text with the characters HTML gives a meaning escaped.  After a
** failed write (reported) the rest goes nowhere. */
static void WriteEscaped(ReplaceFile *file, const char *text)
{
    char out[1024];
    int n = 0;
    for (const char *p = text; *p; p++) {
        const char *e = *p == '<' ? "&lt;" : *p == '>' ? "&gt;"
            : *p == '&'                                ? "&amp;"
            : *p == '\''                               ? "&#39;"
            : *p == '"'                                ? "&quot;"
                                                       : nullptr;
        if (n > (int)sizeof out - 8) {
            WriteReplaceFile(file, out, (uint32_t)n);
            n = 0;
        }
        if (e) {
            memcpy(out + n, e, strlen(e));
            n += (int)strlen(e);
        } else {
            out[n++] = *p;
        }
    }
    WriteReplaceFile(file, out, (uint32_t)n);
}

/* Writes format, where each "%s" takes the next text escaped and every other
** character is written as it stands. */
static void WriteHtml(ReplaceFile *file, const char *format, const char *const *texts, int count)
{
    int used = 0;
    const char *p = format;
    while (*p) {
        const char *next = strstr(p, "%s");
        size_t n = next ? (size_t)(next - p) : strlen(p);
        WriteReplaceFile(file, p, (uint32_t)n);
        if (!next) break;
        WriteEscaped(file, used < count ? texts[used] : "");
        used++;
        p = next + 2;
    }
}

void ShowNorgateSecurityInfo(const SymbolRecord *record)
{
    if (gRun.state.load() == RUN_IMPORT) return;
    char savedStatus[256];
    GetStatusText(0, savedStatus, sizeof savedStatus);
    const char *symbol = record->info.Symbol;
    /* The page replaces an earlier one of the symbol only once complete. */
    ReplaceFile page;
    ReplaceFile *file = &page;
    page.file = nullptr;
    page.tempPath[0] = 0;
    char exchange[80] = "";
    char encoded[40];
    char info[PATH_SIZE], path[300], css[300];
    if (!ControlNorgateUpdater(0)) goto done;
    if (!CheckNorgateApi(0)) {
        ReportError(kMsgConnect, gImportErrorText);
        goto done;
    }
    UrlEncode(symbol, encoded, 39);
    {
        char request[120];
        FormatText(request, sizeof request, "/api/v1/security/%s/exchange", encoded);
        if (!HttpGet(0, request, 0, HTTP_BODY_FIRST) || gHttpSlots[0].received == 0) {
            ReportError(kMsgNoInfo, symbol);
            goto done;
        }
        CopyString(exchange, sizeof exchange, gHttpSlots[0].body[0], 79);
    }
    FormatText(info, sizeof info, "%s\\Info", gSettings.OutputPath);
    FormatText(path, sizeof path, "%s\\%s_INFO.html", info, symbol);
    if (!BeginReplaceFileWithMessage(&page, path, 0, kMsgCreate)) goto done;
    FormatText(css, sizeof css, "%s\\w3.css", info);
    {
        const char *sheet = PlatFileExists(css) ? "w3.css" : "https://www.w3schools.com/w3css/4/w3.css";
        const char *head[] = {symbol, sheet, record->info.Name, symbol, exchange};
        WriteHtml(file,
                  "<!DOCTYPE html>\n<!-- Generated by Kestovar.exe -->\n<html lang='en'>\n<head>\n<title>%s_INFO</title>\n"
                  "<meta charset='utf-8'>\n<meta name='viewport' content='width=device-width, initial-scale=1'>\n"
                  "<link rel='stylesheet' href='%s'>\n</head>\n<body style='max-width:800px;margin:auto' class='w3-small'>\n"
                  "<div class='w3-container w3-dark-gray'><h3>%s (%s on %s) Information and Fundamentals</h3></div>\n",
                  head, 5);
    }
    {
        int headings = 0;
        for (int32_t f = 0; f < FUNDAMENTAL_FIELD_ROWS && gFundamentalFields[f].group && page.file; f++) {
            const FundamentalField &field = gFundamentalFields[f];
            int fundamental = field.group >= 2;
            if (!field.name || !field.name[0]) {
                const char *texts[] = {field.description};
                if (headings++) WriteHtml(file, "</table>", nullptr, 0);
                WriteHtml(file, "<h3 class='w3-container w3-pale-red'>%s</h3>\n<table class='w3-table w3-striped'>\n", texts, 1);
                WriteHtml(file, fundamental ? "<tr class='w3-pale-green'><th>Item</th><th>Description</th><th>Value</th><th>Date</th></tr>\n" : "<tr class='w3-pale-green'><th>Item</th><th>Value</th></tr>\n",
                          nullptr, 0);
                continue;
            }
            char request[200];
            FormatText(request, sizeof request, "/api/v1/%s/%s/%s", fundamental ? "fundamental" : "security", encoded, field.name);
            if (!HttpGet(0, request, 0, HTTP_BODY_FIRST) || gHttpSlots[0].received == 0) continue;
            char value[256], date[64] = "";
            CopyString(value, sizeof value, gHttpSlots[0].body[0], -1);
            char *comma = fundamental ? strchr(value, ',') : nullptr;
            if (comma) {
                *comma = 0;
                CopyString(date, sizeof date, comma + 1, -1);
            }
            char number[64];
            double v = atof(value);
            if (v != 0.0) {
                FormatDouble(v, DECIMALS_TRIMMED, 0, number);
                CopyString(value, sizeof value, number, -1);
            }
            if (!fundamental) {
                const char *texts[] = {field.description, value};
                WriteHtml(file, "<tr><td class='w3-text-blue'>%s</td><td>%s</td></tr>\n", texts, 2);
            } else if (field.group <= 5) {
                const char *texts[] = {field.name, field.name, field.description, value, date};
                WriteHtml(file,
                          "<tr><td><a href='#%s'>%s</a></td>"
                          "<td>%s</td><td class='w3-text-red'>%s</td><td>%s</td></tr>\n",
                          texts, 5);
            } else {
                const char *texts[] = {field.name, field.description, value, date};
                WriteHtml(file, "<tr><td class='w3-text-blue'>%s</td><td>%s</td><td class='w3-text-red'>%s</td><td>%s</td></tr>\n",
                          texts, 4);
            }
        }
    }
    WriteHtml(file, "</table></div>\n</body>\n</html>\n", nullptr, 0);
    if (CommitReplaceFile(&page)) NduOpenDocument(path);
done:
    AbandonReplaceFile(&page);
    SetStatusText(0, "%s", savedStatus);
}
