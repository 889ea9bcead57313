/* marketdata_standins.cpp -- stand-ins for parts of the market data subsystem
** that are not built yet.  `grep -rn STANDIN src` lists them. */
#include "foundation/errors.h"
#include "marketdata/import/online_import.h"

/* ==== replaced by the online import workers, the HTTP client and the ==========
** ==== Norgate Data Updater control ============================================ */

static const char kMsgNoOnlineSource[] = "The %s data source is not available in this build.";

/* STANDIN: an online block cannot be imported yet; the import fails cleanly. */
int ImportOnlineSymbols(ImportItem *row)
{
    ReportError(kMsgNoOnlineSource, kDataSourceNames[row->dataSource]);
    return 0;
}

/* STANDIN: no slot is ever opened. */
int HttpClose(int slot) { return 0; }

/* STANDIN: the updater is never running. */
void *FindNorgateUpdaterWindow() { return nullptr; }

/* STANDIN: no window, no button. */
void *FindBusyCancelButton(void *window) { return nullptr; }

/* STANDIN: the updater cannot be started. */
int ControlNorgateUpdater(int mode)
{
    ReportError(kMsgNoOnlineSource, kDataSourceNames[SOURCE_NORGATE]);
    return 0;
}

/* STANDIN: a watchlist cannot be read without the updater. */
int ReadNorgateWatchlist(ImportItem *row)
{
    ReportError(kMsgNoOnlineSource, kDataSourceNames[SOURCE_NORGATE]);
    return 0;
}
