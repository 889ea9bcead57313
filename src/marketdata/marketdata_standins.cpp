/* marketdata_standins.cpp -- market-data services whose owners are not built yet. */
#include "marketdata/store/data_load.h"

/* ==== STANDIN: replaced by the import driver's RunImport ======================== */

/* STANDIN: nothing is imported; the import answers failure. */
int RunImport()
{
    return 0;
}
