/* http_client.h -- a small synchronous HTTP client organised as a fixed table
** of connection slots, so that each import worker owns one connection and its
** buffers; percent-encoding and Unix seconds for building request paths.
**
** Owns:       gHttpSlots (worker k of an online import uses slot k, the
**             update check HTTP_UPDATE_SLOT) and gImportErrorText.
** Buffers:    grow and never shrink while the slot is open; a body buffer
**             always holds two NUL bytes after the received data, so a text
**             body reads as a string.  All come from the tracked allocator.
**             The header buffer holds the raw response headers as text with
**             CR LF line ends.
** Errors:     HttpConnect and HttpGet report by their result only.  A failed
**             request (no answer, a time-out, a stop request, no memory)
**             leaves a description in gImportErrorText.  The HTTP status is
**             not a failure: a 404 or 500 with a body is an answer, which the
**             caller judges by its content (the status is kept in the slot).
** Threads:    each slot is used by one thread at a time.  The status text and
**             wait cursor of a connection appear only when the caller is the UI
**             thread; the error text is shared and written under its own lock.
** Implemented by http_client.cpp over a transport in posix/ (libcurl) or
** win32/ (WinHTTP).
*/
#pragma once
#include <cstdint>

enum {
    /* Slots 0-31 belong to the import workers and the UI; the update check,
    ** which outlives the command that started it and can run beside an
    ** import, has a slot of its own that an import never opens or closes. */
    HTTP_UPDATE_SLOT = 32,
    HTTP_SLOT_COUNT = 33,
    HTTP_SLOT_TEXT_SIZE = 44,
    IMPORT_ERROR_TEXT_SIZE = 256,
    HTTP_FLAG_SECURE = 0x800000 /* request flags: HTTPS */
};

enum HttpBodyTarget { HTTP_NO_BODY = 0,
                      HTTP_BODY_FIRST = 1,
                      HTTP_BODY_SECOND = 2 };

struct HttpSlot {
    void *session;                      /* transport session; null when closed */
    void *connection;                   /* connection to one host and port */
    char *headers;                      /* raw response headers of the last request that asked */
    char *body[2];                      /* first and second body buffers */
    uint32_t bodyCapacity[2];           /* bytes */
    uint32_t headerCapacity;            /* bytes */
    uint32_t flags;                     /* 0 or HTTP_FLAG_SECURE */
    uint32_t received;                  /* body bytes of the last request */
    int32_t status;                     /* HTTP status of the last answer; 0 none */
    char text[HTTP_SLOT_TEXT_SIZE];     /* what the slot is fetching (status bar) */
    char error[IMPORT_ERROR_TEXT_SIZE]; /* why the slot's last request failed */
    char target[80];                    /* "host:port" of the connection */
};

extern HttpSlot gHttpSlots[HTTP_SLOT_COUNT];
extern char gImportErrorText[IMPORT_ERROR_TEXT_SIZE];

/* Sets (null or "" empties) the import error text; printf-style, any thread. */
void SetImportErrorText(const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

/* The first line of the slot's last answer, as a reason quotes it, into out:
** the line when it is printable text that fits (at most size - 1
** characters), else "" (no answer, a binary or overlong line).  out. */
const char *HttpAnswerLine(const HttpSlot &slot, char *out, int size);

/* Opens slot to host:port (flags 0 or HTTP_FLAG_SECURE), reusing a
** connection to the same host and port that still answers; name is shown
** while connecting.  1/0. */
int HttpConnect(int slot, const char *host, int port, uint32_t flags, const char *name);
/* GET path (null: the root) on the slot's connection; with wantHeaders the
** response headers go to the header buffer; the body to target.  1 when an
** answer (of any status) arrived whole, else 0. */
int HttpGet(int slot, const char *path, int wantHeaders, int target);
/* Closes and frees everything of the slot; 0. */
int HttpClose(int slot);
/* Percent-encodes text into out (capacity bytes, NUL-terminated): letters and
** digits as they are, every other byte as %XX; stops at the first byte that
** does not fit.  The length written. */
int UrlEncode(const char *text, char *out, int capacity);
/* The calendar date yyyymmdd at hour:00:00 as seconds since 1970-01-01. */
int64_t DateTimeToUnix(int32_t date, int hour);

/* ---- the transport (posix/ or win32/) ------------------------------------------ */

/* Opens the session and the connection of slot to host:port; 1/0. */
int HttpTransportOpen(HttpSlot *slot, const char *host, int port);
/* Sends GET path and receives the answer: headers through HttpStoreHeaders
** when wanted, the body through HttpAppendBody when target is not 0, the
** status into slot->status.  A connection kept from an earlier request is
** never used while it holds bytes nobody asked for (they would be read as
** this request's answer).  timeoutMs 0 keeps the transport's own limits
** (a server that never answers still ends the request).  1 when an answer
** arrived whole; 0 with the failure's description in error. */
int HttpTransportGet(HttpSlot *slot, const char *path, int wantHeaders, int target, int timeoutMs, char *error,
                     int errorSize);
/* Closes the connection and the session. */
void HttpTransportClose(HttpSlot *slot);
/* Copies the raw headers into the slot's header buffer; 1, or 0 without memory. */
int HttpStoreHeaders(HttpSlot *slot, const char *data, uint32_t size);
/* Appends body bytes to target (keeping two NULs after them); 0 without
** memory or on a stop request. */
int HttpAppendBody(HttpSlot *slot, int target, const void *data, uint32_t size);
