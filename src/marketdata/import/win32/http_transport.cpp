/* http_transport.cpp -- the HTTP slots' transport on WinHTTP: one synchronous
** session and one connection per slot. */
#include <windows.h>
#include <winhttp.h>

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/import/http_client.h"

enum { WIDE_PATH_SIZE = 1024,
       READ_CHUNK = 65536 };

static void WinHttpErrorText(DWORD code, char *out, int size)
{
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                             GetModuleHandleA("winhttp.dll"), code, 0, text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) text[--n] = 0;
    if (n)
        CopyString(out, size, text, -1);
    else
        FormatText(out, size, "The request failed (error %lu).", (unsigned long)code);
}

int HttpTransportOpen(HttpSlot *slot, const char *host, int port)
{
    wchar_t wideHost[256];
    if (!MultiByteToWideChar(CP_ACP, 0, host, -1, wideHost, 256)) return 0;
    HINTERNET session = WinHttpOpen(L"Mozilla/5.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session) return 0;
    HINTERNET connection = WinHttpConnect(session, wideHost, (INTERNET_PORT)port, 0);
    if (!connection) {
        WinHttpCloseHandle(session);
        return 0;
    }
    slot->session = session;
    slot->connection = connection;
    return 1;
}

int HttpTransportGet(HttpSlot *slot, const char *path, int wantHeaders, int target, int timeoutMs, char *error,
                     int errorSize)
{
    wchar_t widePath[WIDE_PATH_SIZE];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, WIDE_PATH_SIZE)) {
        CopyString(error, errorSize, "The request path is too long.", -1);
        return 0;
    }
    /* WinHTTP's time-outs are per step; the request as a whole also gets the
    ** time-out, so that an answer that never stops coming ends. */
    ULONGLONG deadline = timeoutMs > 0 ? GetTickCount64() + (ULONGLONG)timeoutMs : 0;
    auto late = [&] { return deadline && GetTickCount64() > deadline; };
    DWORD flags = (slot->flags & HTTP_FLAG_SECURE) ? WINHTTP_FLAG_SECURE : 0;
    HINTERNET request = WinHttpOpenRequest((HINTERNET)slot->connection, L"GET", widePath, nullptr,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, flags);
    int ok = request != nullptr;
    /* A connection kept for the next request may hold bytes nobody asked
    ** for (a second answer sent after the last one, a proxy's leftovers),
    ** which the next request would take for its own answer.  WinHTTP gives
    ** no view of what waits on its kept connections, so none is kept: each
    ** request has a connection of its own, while the slot keeps its session
    ** and its connection to the host.  Nor is a redirection followed: the
    ** answer is the one to the path asked for, whatever its status, or the
    ** prices of the symbol it points to would be stored under the symbol
    ** asked for. */
    DWORD features = WINHTTP_DISABLE_KEEP_ALIVE | WINHTTP_DISABLE_REDIRECTS;
    if (ok) ok = WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    if (ok && timeoutMs > 0) ok = WinHttpSetTimeouts(request, timeoutMs, timeoutMs, timeoutMs, timeoutMs);
    ok = ok && WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
    ok = ok && WinHttpReceiveResponse(request, nullptr);
    DWORD lastError = ok ? 0 : GetLastError();
    if (ok && late()) {
        ok = 0;
        lastError = ERROR_WINHTTP_TIMEOUT;
    }
    if (ok) {
        DWORD status = 0, size = sizeof status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                            &status, &size, WINHTTP_NO_HEADER_INDEX);
        slot->status = (int32_t)status;
    }
    if (ok && wantHeaders) {
        DWORD bytes = 0;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &bytes,
                            WINHTTP_NO_HEADER_INDEX);
        wchar_t *wide = nullptr;
        char *narrow = nullptr;
        ok = bytes > 0 && AllocMemory(&wide, bytes + 2) && AllocMemory(&narrow, bytes / 2 + 2) &&
            WinHttpQueryHeaders(request, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX, wide, &bytes,
                                WINHTTP_NO_HEADER_INDEX);
        if (ok) {
            int n = WideCharToMultiByte(CP_ACP, 0, wide, (int)(bytes / 2), narrow, (int)(bytes / 2 + 1), nullptr, nullptr);
            ok = HttpStoreHeaders(slot, narrow, (uint32_t)n);
        }
        if (!ok) lastError = GetLastError();
        FreeMemory(&wide);
        FreeMemory(&narrow);
    }
    if (ok && target) {
        char *chunk = nullptr;
        uint64_t arrived = 0;
        ok = AllocMemory(&chunk, READ_CHUNK);
        for (;;) {
            DWORD available = 0, read = 0;
            if (!ok) break;
            if (!WinHttpQueryDataAvailable(request, &available)) {
                /* Wine's WinHTTP fails the question, with "insufficient
                ** buffer", on a chunked answer whose first chunk is its last
                ** (an empty body, well ended).  A read that then ends
                ** without a byte and without an error is the end of that
                ** answer; any other failure stays one. */
                DWORD failure = GetLastError();
                if (failure == ERROR_INSUFFICIENT_BUFFER && WinHttpReadData(request, chunk, READ_CHUNK, &read) &&
                    read == 0)
                    break;
                SetLastError(failure);
                ok = 0;
                break;
            }
            if (available == 0) break;
            if (available > READ_CHUNK) available = READ_CHUNK;
            if (!WinHttpReadData(request, chunk, available, &read) || !HttpAppendBody(slot, target, chunk, read)) {
                ok = 0;
                break;
            }
            arrived += read;
            if (late()) {
                ok = 0;
                SetLastError(ERROR_WINHTTP_TIMEOUT);
                break;
            }
        }
        if (!ok) lastError = GetLastError();
        FreeMemory(&chunk);
        /* WinHTTP ends an answer where the connection closes, also one cut
        ** short of the length it announced; that answer is a broken transfer,
        ** not a shorter answer. */
        DWORD announced = 0, size = sizeof announced;
        if (ok && WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                                      WINHTTP_HEADER_NAME_BY_INDEX, &announced, &size, WINHTTP_NO_HEADER_INDEX) &&
            arrived != announced) {
            FormatText(error, errorSize, "The answer was cut short: %llu of the %lu bytes it announced arrived.",
                       (unsigned long long)arrived, (unsigned long)announced);
            WinHttpCloseHandle(request);
            return 0;
        }
    }
    if (!ok) WinHttpErrorText(lastError, error, errorSize);
    if (request) WinHttpCloseHandle(request);
    return ok;
}

void HttpTransportClose(HttpSlot *slot)
{
    if (slot->connection) WinHttpCloseHandle((HINTERNET)slot->connection);
    if (slot->session) WinHttpCloseHandle((HINTERNET)slot->session);
    slot->connection = nullptr;
    slot->session = nullptr;
}
