/* http_transport.cpp -- the HTTP slots' transport on libcurl.  The session is
** an easy handle (each request on a network connection of its own); the
** connection is the "scheme://host:port" prefix of every request. */
#include <curl/curl.h>

#include <cstring>
#include <mutex>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/import/http_client.h"
#include "services/services.h"

enum {
    URL_SIZE = 1024,
    DEFAULT_CONNECT_MS = 60000,  /* WinHTTP's default connect time-out */
    DEFAULT_SILENCE_SECONDS = 30 /* WinHTTP's default send and receive time-outs */
};

struct Transfer {
    HttpSlot *slot;
    int target;
    int failed; /* no memory or a stop request */
    int excess; /* bytes came after the answer's end */
};

static std::once_flag gCurlInit;

static size_t TakeBody(char *data, size_t size, size_t count, void *user)
{
    Transfer *t = (Transfer *)user;
    size_t n = size * count;
    if (!t->target) return n;
    if (!HttpAppendBody(t->slot, t->target, data, (uint32_t)n)) {
        t->failed = 1;
        return 0;
    }
    return n;
}

static int TakeProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    /* A stop request ends a transfer that is waiting for data. */
    if (gRun.state.load() != RUN_STOP_REQUESTED) return 0;
    ((Transfer *)user)->failed = 1;
    return 1;
}

/* libcurl's own account of a transfer: it names bytes that came after the
** answer's announced end ("Excess found ...", "Leftovers after chunking"),
** which it drops. */
static int TakeDebug(CURL *, curl_infotype type, char *text, size_t size, void *user)
{
    static const char *const kExcess[] = {"Excess found", "Leftovers after chunking"};
    if (type != CURLINFO_TEXT) return 0;
    for (const char *e : kExcess) {
        const size_t n = strlen(e);
        if (size >= n && memcmp(text, e, n) == 0) ((Transfer *)user)->excess = 1;
    }
    return 0;
}

int HttpTransportOpen(HttpSlot *slot, const char *host, int port)
{
    std::call_once(gCurlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    CURL *curl = curl_easy_init();
    if (!curl) return 0;
    char *prefix = nullptr;
    if (!AllocMemory(&prefix, URL_SIZE)) {
        curl_easy_cleanup(curl);
        return 0;
    }
    FormatText(prefix, URL_SIZE, "%s://%s:%d", (slot->flags & HTTP_FLAG_SECURE) ? "https" : "http", host, port);
    slot->session = curl;
    slot->connection = prefix;
    return 1;
}

int HttpTransportGet(HttpSlot *slot, const char *path, int wantHeaders, int target, int timeoutMs, char *error,
                     int errorSize)
{
    CURL *curl = (CURL *)slot->session;
    char url[URL_SIZE];
    FormatText(url, sizeof url, "%s%s%s", (const char *)slot->connection, path[0] == '/' ? "" : "/", path);
    Transfer transfer = {slot, target, 0, 0};
    char curlError[CURL_ERROR_SIZE] = "";
    struct curl_slist *none = nullptr;
    curl_easy_setopt(curl, CURLOPT_URL, url);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla/5.0");
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, TakeBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, TakeProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, curlError);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, none);
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, nullptr);
    /* A connection kept for the next request may hold bytes nobody asked
    ** for (a second answer sent after the last one, at once or while the
    ** next request is on its way, or a proxy's leftovers), which the next
    ** request would take for its own answer, and every answer after it would
    ** be read one behind.  No look at the socket before a request can see
    ** bytes still on their way, so none is kept: each request goes out on a
    ** connection of its own, as the Windows program's do. */
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    /* Bytes that come with the answer, past its end, are no part of it: its
    ** length may be wrong, or they are an answer to no request.  The answer
    ** is refused, as the Windows program's transport fails it. */
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, TakeDebug);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L);
    /* WinHTTP's time-outs are per step; a whole-transfer limit of the same
    ** length also ends an answer that never stops coming.  Without one the
    ** limits are WinHTTP's own defaults, so a server that never answers ends
    ** the request here too: a minute to connect, half a minute without a
    ** byte. */
    if (timeoutMs > 0) {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, (long)timeoutMs);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, (long)timeoutMs);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 0L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 0L);
    } else {
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, (long)DEFAULT_CONNECT_MS);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 0L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, (long)DEFAULT_SILENCE_SECONDS);
    }
    CURLcode code = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    slot->status = (int32_t)status;
    if (code != CURLE_OK || transfer.failed || transfer.excess) {
        if (transfer.failed)
            CopyString(error, errorSize, "The answer could not be stored.", -1);
        else if (code == CURLE_OK)
            CopyString(error, errorSize, "The answer is followed by bytes nobody asked for.", -1);
        else
            FormatText(error, errorSize, "%s", curlError[0] ? curlError : curl_easy_strerror(code));
        return 0;
    }
    if (wantHeaders) {
        /* The raw header block of the answer, rebuilt from libcurl's header
        ** table: the headers the parsers read are "Name: value" lines. */
        char *block = nullptr;
        size_t length = 0, capacity = 0;
        struct curl_header *h = nullptr, *previous = nullptr;
        int ok = 1;
        while (ok && (h = curl_easy_nextheader(curl, CURLH_HEADER, -1, previous)) != nullptr) {
            size_t need = length + strlen(h->name) + strlen(h->value) + 5;
            if (need > capacity) {
                capacity = need * 2;
                ok = ReallocMemory(&block, capacity);
                if (!ok) break;
            }
            length += (size_t)FormatText(block + length, capacity - length, "%s: %s\r\n", h->name, h->value);
            previous = h;
        }
        ok = ok && HttpStoreHeaders(slot, block ? block : "", (uint32_t)length);
        FreeMemory(&block);
        if (!ok) {
            CopyString(error, errorSize, "The answer could not be stored.", -1);
            return 0;
        }
    }
    return 1;
}

void HttpTransportClose(HttpSlot *slot)
{
    if (slot->session) curl_easy_cleanup((CURL *)slot->session);
    slot->session = nullptr;
    FreeMemory(&slot->connection);
}
