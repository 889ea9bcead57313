/* online_import.h -- what the import driver asks of the online sources: the
** import workers, the HTTP slots and the control of the Norgate Data Updater.
**
** Until the online import is built, marketdata_standins.cpp gives each a
** stand-in: an online block reports that its source is not available and
** fails the import; the updater is never found; closing slots does nothing.
** Threads:    UI thread.
*/
#pragma once
#include "script/compiler/import_items.h"

enum { HTTP_SLOTS = 32 };

/* Imports the symbols of an online DataSource row on worker threads; 1/0. */
int ImportOnlineSymbols(ImportItem *row);
/* Closes and frees everything of an HTTP slot; 0. */
int HttpClose(int slot);
/* The top-level window titled "Norgate Data Updater", or null. */
void *FindNorgateUpdaterWindow();
/* The window, or its first descendant, whose text matches "Cancel *"; null. */
void *FindBusyCancelButton(void *window);
/* Closes (-1), launches (0) or updates (1) the Norgate Data Updater; 1/0. */
int ControlNorgateUpdater(int mode);
/* Adds a Norgate watchlist's symbols to the work list or the exclude list; 1/0. */
int ReadNorgateWatchlist(ImportItem *row);
