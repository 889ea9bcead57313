/* import_check.h -- the one check of the price-file readers against damaged
** input, shared by the fuzz target (import_fuzz.cpp) and the damaged-file
** replay of the test build (tests/fuzz/fuzz_import.cpp).
**
** Inputs go to a per-symbol CSV file (read with ParseHeaderCsv from its
** header line), to a MetaStock "master" file, or to the data file a valid
** "master" lists.  Whatever the bytes, the reader must come back without a
** crash, every bar it keeps must lie on a day of the calendar in the
** import's date range, the bars
** must sort into order, and the end of the import must give back every byte.
*/
#pragma once
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "fuzz_input.h"
#include "marketdata/import/csv_import.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/metastock.h"
#include "marketdata/store/data_load.h"
#include "platform/platform.h"
#include "script/compiler/import_items.h"
#include "shell/headless/headless.h"
#include "services/services.h"

enum { TARGET_CSV = 0,
       TARGET_MASTER = 1,
       TARGET_METASTOCK_DATA = 2,
       IMPORT_FUZZ_TARGETS = 3 };

inline int ImportFuzzApply(int keyword, const char *value)
{
    int offset = 0, length = 0;
    return ApplyImportItem(keyword, value, (int)strlen(value), "", &offset, &length);
}

/* A valid "master" listing one 6-field security in F1.dat. */
inline std::string ValidMaster()
{
    std::string file(53, '\0');
    file[0] = 1;
    std::string r(53, '\0');
    r[0] = 1;
    r[4] = 6;
    memcpy(&r[7], "Fuzz            ", 16);
    memcpy(&r[36], "FUZ           ", 14);
    return file + r;
}

inline int CheckImportRecord(const SymbolRecord *r, std::string *why)
{
    for (int32_t k = 0; k < r->barCounts[BAR_DAILY]; k++) {
        const Bar &b = r->bars[BAR_DAILY][k];
        if (b.date < gImport.startDate || b.date > gImport.endDate) *why = "a kept bar outside the date range";
        if (!IsCalendarDate(b.date)) *why = "a kept bar on no day of the calendar";
        if (k && b.date < r->bars[BAR_DAILY][k - 1].date) *why = "bars out of order after sorting";
    }
    if (r->barCounts[BAR_DAILY] > 0 && TrackedBlockSize(r->bars[BAR_DAILY]) < (uint64_t)r->barCounts[BAR_DAILY] * sizeof(Bar))
        *why = "more bars than the array holds";
    return why->empty();
}

inline int CheckImportInput(const std::string &dir, int target, const uint8_t *data, size_t size, std::string *why)
{
    UnloadData();
    ResetImportRun();
    ResetImportState();
    ResetHeadlessShell();
    ImportFuzzApply(IMPKW_DATA_SOURCE, target == TARGET_CSV ? "CSV" : "MetaStock");
    ImportFuzzApply(IMPKW_DATA_PATH, dir.c_str());
    uint64_t baseline = gAllocatedBytes.load();
    gImportState.StartDate = 19900101;
    gImportState.EndDate = 20301231;
    if (!BeginImport()) {
        *why = "the import did not begin";
        return 0;
    }
    ImportItem *row = (ImportItem *)gImportItems.items + 1;
    if (target == TARGET_CSV) {
        std::string path = dir + "\\FUZ.csv";
        FuzzWriteFile(path, data, size);
        SymbolRecord record;
        memset((void *)&record, 0, sizeof record);
        int n = ParseHeaderCsv(row, path.c_str(), "FUZ", &record, 1);
        if (n != -1 && n != record.barCounts[BAR_DAILY]) *why = "the count returned is not the bars kept";
        SortBars(&record);
        CheckImportRecord(&record, why);
        FreeSymbolRecord(&record);
    } else {
        std::string master = ValidMaster();
        if (target == TARGET_MASTER)
            FuzzWriteFile(dir + "\\master", data, size);
        else
            FuzzWriteFile(dir + "\\master", (const uint8_t *)master.data(), master.size());
        if (target == TARGET_METASTOCK_DATA) FuzzWriteFile(dir + "\\F1.dat", data, size);
        int ok = ImportMetaStock(row, dir.c_str());
        if (ok != 0 && ok != 1) *why = "an answer other than 0 or 1";
        for (int32_t i = 0; i < gImport.count; i++) CheckImportRecord(&gStore.symbols[i], why);
    }
    ReportImportMisses(0);
    ResetImportState();
    if (gAllocatedBytes.load() != baseline)
        *why = "the import did not give back every byte: " + std::to_string((int64_t)(gAllocatedBytes.load() - baseline));
    return why->empty();
}
