/* import_driver.h -- carries out the Import section of the compiled script:
** lists and information files, every source block in script order, then
** latest-bar removal, share classes, sorting, padding, derived bar sizes,
** futures contract chains, and the data file.
**
** Reads:      gImportItems, gImportState, gImportFilter.
** Errors:     1 when the import completed and the data file was written; 0
**             otherwise, after the failing step reported.  A failed import
**             leaves no data loaded and the previous data file untouched; the
**             import log ends with "Import Not Completed".
** Threads:    UI thread; the online blocks start their own workers.
*/
#pragma once

/* Runs the import; 1/0 as above.  Every error reported while it runs is
** also written to its log. */
int RunImport();
/* The result code a failed RunImport leaves for its run: RESULT_FILE_ERROR
** when a file or folder it was to read could not be read, else
** RESULT_IMPORT_FAILURE. */
int ImportFailureCode();
/* Padding against the market calendar (the Padding keyword); 1, or 0 when the
** reference symbol was not imported or memory runs out. */
int PadBars();
/* Links the futures contracts of one root in the name-sorted store: InduIndex
** gets the root, nextContract/previousContract the 1-based numbers of the
** neighbouring contracts (0 none). */
void LinkContractChains();
/* Drops the last daily bar of every symbol that ends on the last date (when
** it has more than one); days after the new last date stop being market days. */
void RemoveLatestBars();
