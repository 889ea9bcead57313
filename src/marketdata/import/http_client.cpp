/* http_client.cpp -- the slot table over the platform's HTTP transport. */
#include "marketdata/import/http_client.h"

#include <cstdarg>
#include <cstring>
#include <mutex>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "services/services.h"

HttpSlot gHttpSlots[HTTP_SLOT_COUNT];
char gImportErrorText[IMPORT_ERROR_TEXT_SIZE];

/* An answer larger than this is taken for a runaway body and refused. */
static const uint32_t kBodyMax = 256u << 20;
static std::mutex gErrorTextLock;
static int gConnectNesting; /* UI thread only */

static int StopRequested() { return gRun.state.load() == RUN_STOP_REQUESTED; }
static int OnUiThread() { return PlatCurrentThreadId() == gRun.uiThreadId; }

void SetImportErrorText(const char *format, ...)
{
    std::lock_guard<std::mutex> hold(gErrorTextLock);
    gImportErrorText[0] = 0;
    if (!format || !format[0]) return;
    va_list args;
    va_start(args, format);
    FormatTextV(gImportErrorText, sizeof gImportErrorText, format, args);
    va_end(args);
}

const char *HttpAnswerLine(const HttpSlot &slot, char *out, int size)
{
    out[0] = 0;
    if (!slot.received || !slot.body[0]) return out;
    int n = 0;
    for (const unsigned char *p = (const unsigned char *)slot.body[0]; *p && *p != '\r' && *p != '\n'; p++) {
        if (*p < ' ' || *p > '~' || n >= size - 1) {
            out[0] = 0;
            return out;
        }
        out[n++] = (char)*p;
    }
    out[n] = 0;
    return out;
}

int HttpStoreHeaders(HttpSlot *slot, const char *data, uint32_t size)
{
    if (slot->headerCapacity < size + 4) {
        if (!ReallocMemory(&slot->headers, size + 4)) return 0;
        slot->headerCapacity = size + 4;
    }
    memcpy(slot->headers, data, size);
    memset(slot->headers + size, 0, 4);
    return 1;
}

int HttpAppendBody(HttpSlot *slot, int target, const void *data, uint32_t size)
{
    if (StopRequested()) return 0;
    int b = target - 1;
    if (size > kBodyMax - slot->received) return 0;
    uint32_t need = slot->received + size + 2;
    if (slot->bodyCapacity[b] < need) {
        uint32_t grown = slot->bodyCapacity[b] * 2 > need ? slot->bodyCapacity[b] * 2 : need;
        if (!ReallocMemory(&slot->body[b], grown)) return 0;
        slot->bodyCapacity[b] = grown;
    }
    memcpy(slot->body[b] + slot->received, data, size);
    slot->received += size;
    slot->body[b][slot->received] = 0;
    slot->body[b][slot->received + 1] = 0;
    return 1;
}

/* One request.  Whatever the server answers, with any status, is the
** answer: a 404 with an error text is that symbol's answer, which its reader
** judges by content, and only a failure to get an answer at all fails. */
static int Request(int index, const char *path, int wantHeaders, int target)
{
    HttpSlot *slot = &gHttpSlots[index];
    if (StopRequested() || !slot->connection) return 0;
    slot->received = 0;
    slot->status = 0;
    if (target) {
        /* The body buffer ends in two NULs even when nothing arrives. */
        if (!HttpAppendBody(slot, target, "", 0)) return 0;
    }
    int timeoutMs = gSettings.ImportTimeout > 0 ? gSettings.ImportTimeout * 1000 : 0;
    char error[IMPORT_ERROR_TEXT_SIZE] = "";
    int ok = HttpTransportGet(slot, path ? path : "/", wantHeaders, target, timeoutMs, error, sizeof error);
    if (!ok && StopRequested()) CopyString(error, sizeof error, "The request was stopped.", -1);
    if (!ok) {
        CopyString(slot->error, sizeof slot->error, error, -1);
        SetImportErrorText("%s", error);
    }
    return ok;
}

int HttpGet(int slot, const char *path, int wantHeaders, int target)
{
    return Request(slot, path, wantHeaders, target);
}

int HttpConnect(int index, const char *host, int port, uint32_t flags, const char *name)
{
    HttpSlot *slot = &gHttpSlots[index];
    char target[sizeof slot->target];
    FormatText(target, sizeof target, "%s:%d", host, port);
    /* Only a connection to the same place is reused. */
    if (slot->connection && slot->flags == flags && strcmp(slot->target, target) == 0 &&
        Request(index, nullptr, 0, HTTP_NO_BODY))
        return 1;
    int ui = index == 0 && OnUiThread();
    char saved[256] = "";
    if (ui) GetStatusText(0, saved, sizeof saved);
    HttpClose(index);
    slot->flags = flags;
    if (ui) {
        if (!StopRequested()) SetStatusText(0, "Connecting to %s ...", name);
        if (gConnectNesting++ == 0) SetWaitCursor(1);
    }
    int ok = HttpTransportOpen(slot, host, port) && Request(index, nullptr, 0, HTTP_NO_BODY);
    if (ok) {
        CopyString(slot->target, sizeof slot->target, target, -1);
    } else {
        /* Why it failed outlives the closing, for whoever reports it. */
        char error[sizeof slot->error];
        CopyString(error, sizeof error, slot->error[0] ? slot->error : "The connection could not be opened.", -1);
        HttpClose(index);
        slot->flags = flags;
        CopyString(slot->error, sizeof slot->error, error, -1);
    }
    if (ui) {
        SetStatusText(0, "%s", saved);
        if (--gConnectNesting == 0) SetWaitCursor(0);
    }
    return ok;
}

int HttpClose(int index)
{
    HttpSlot *slot = &gHttpSlots[index];
    HttpTransportClose(slot);
    FreeMemory(&slot->headers);
    FreeMemory(&slot->body[0]);
    FreeMemory(&slot->body[1]);
    memset(slot, 0, sizeof *slot);
    return 0;
}

int UrlEncode(const char *text, char *out, int capacity)
{
    static const char kHex[] = "0123456789ABCDEF";
    int n = 0;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        unsigned char c = *p;
        int plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (plain) {
            if (n >= capacity - 1) break;
            out[n++] = (char)c;
        } else {
            if (n >= capacity - 3) break;
            out[n++] = '%';
            out[n++] = kHex[c >> 4];
            out[n++] = kHex[c & 15];
        }
    }
    if (capacity > 0) out[n] = 0;
    return n;
}

int64_t DateTimeToUnix(int32_t date, int hour)
{
    return (int64_t)DaysBetween(19700101, date) * 86400 + (int64_t)hour * 3600;
}
