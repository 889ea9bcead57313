/* online_import.h -- the online sources (Norgate, Yahoo, Tiingo,
** TiingoCrypto): the import workers, the HTTP slots, and the control of the
** Norgate Data Updater with its watchlists.
**
** Owns:       the workers' contexts and gImportThreadCount (online_import.cpp);
**             gOnlineHosts, where each online service is reached; the updater
**             control (norgate.cpp).
** Errors:     ImportOnlineSymbols reports its block's failure itself ("%s data
**             import was stopped." / "encountered an error." with the import
**             error text) and returns 0; each failure is named with its
**             symbol and reason in the import log and on the console as it
**             happens.  A symbol that yields nothing is passed over and
**             appears in the misses report.  A price answer cut short is a
**             failed transfer (retried, then a failure); a 429 or 503 answer
**             is asked again after its Retry-After; an answer naming another
**             symbol is asked again on a new connection, then refused.
** Threads:    ImportOnlineSymbols runs on the UI thread and starts up to 32
**             workers, each owning one HTTP slot and one symbol record; the
**             updater control runs on the UI thread.
*/
#pragma once
#include <atomic>
#include <cstdint>

#include "marketdata/import/http_client.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/import_items.h"

enum { HTTP_SLOTS = HTTP_UPDATE_SLOT, /* the slots an import may use */
       NORGATE_PORT = 38889 };

/* The services of the online sources, by where they are reached. */
enum OnlineHostId {
    HOST_NORGATE = 0, /* the updater's local web interface */
    HOST_YAHOO_SITE = 1,
    HOST_YAHOO_CHART = 2,
    HOST_TIINGO = 3,
    ONLINE_HOST_COUNT = 4
};
struct OnlineHost {
    const char *host;
    int port;
    uint32_t flags; /* 0 or HTTP_FLAG_SECURE */
};
extern OnlineHost gOnlineHosts[ONLINE_HOST_COUNT];

/* Workers of the running block; 0 when none. */
extern std::atomic<int> gImportThreadCount;

/* Imports the symbols of an online DataSource row on worker threads; 1/0. */
int ImportOnlineSymbols(ImportItem *row);
/* The thread procedure of one worker (its context). */
void ImportWorkerThread(void *context);

/* ---- the Norgate Data Updater (norgate.cpp) -------------------------------------- */

/* The top-level window titled "Norgate Data Updater", or null. */
void *FindNorgateUpdaterWindow();
/* The window, or its first descendant (depth first), whose text matches
** "Cancel *" (case ignored); null when none does. */
void *FindBusyCancelButton(void *window);
/* Closes (-1), launches (0) or updates (1) the Norgate Data Updater; 1/0
** (after "Unable to launch Norgate Data Updater."). */
int ControlNorgateUpdater(int mode);
/* 1 when the updater's interface answers its status request with "OK" (on
** slot); else 0 with the import error text set. */
int CheckNorgateApi(int slot);
/* Adds a Norgate watchlist's symbols to the work list or the exclude list; 1/0. */
int ReadNorgateWatchlist(ImportItem *row);
/* Fills gNorgateWatchlistNames with the watchlists whose name holds the
** typed text after its leading '.'; 1, or 0 without a data folder. */
int ListNorgateWatchlistNames(const char *typed);
extern char gNorgateWatchlistNames[10000];
/* Writes and opens the security information page of the record's symbol. */
void ShowNorgateSecurityInfo(const SymbolRecord *record);

/* ---- the updater's platform services (posix/ or win32/ norgate_platform.cpp) ---------- */

/* A text value of the updater's registry key (UTF-8); 0 when it cannot be
** read or does not fit. */
int NduReadRegistryText(const char *valueName, char *out, int size);
/* The window's text (UTF-8, size bytes, cut before a whole letter); 0 when
** it has none. */
int NduWindowText(void *window, char *out, int size);
/* The first child of window (null: none) and the next sibling of a child. */
void *NduFirstChild(void *window);
void *NduNextSibling(void *window);
/* Starts a command line, minimized and not activated; 1/0. */
int NduStartProgram(const char *commandLine);
/* Opens a file with the system's default program; 1/0. */
int NduOpenDocument(const char *path);
