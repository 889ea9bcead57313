/* web_parsers_fuzz.cpp -- libFuzzer target for the readers of the online
** sources' price answers: the first byte picks the reader (the updater's
** binary series, the chart JSON, the crypto JSON).  For the binary series
** the next two bytes give the field and record counts of its headers and
** the third whether the headers name open interest or turnover.  Each
** answer must give a result within the reader's range and bars on days of
** the calendar inside the import's date range and the record's allocation.  Its seeds in
** fuzz/seeds/web_parsers_fuzz/ are replayed by the normal test build.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "fuzz_input.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/web_parsers.h"

static bool Check(int result, const SymbolRecord &r)
{
    if (result < -1) return false;
    if (result > 0 && result != r.barCounts[BAR_DAILY]) return false;
    if (r.barCounts[BAR_DAILY] > 0 && r.barCounts[BAR_DAILY] > r.dailyCapacity) return false;
    for (int32_t i = 0; result > 0 && i < r.barCounts[BAR_DAILY]; i++) {
        int32_t d = r.bars[BAR_DAILY][i].date;
        if (d < gImport.startDate || d > gImport.endDate || !IsCalendarDate(d)) return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4) return 0;
    gImport.startDate = 19000101;
    gImport.endDate = 21001231;
    std::string text((const char *)data + 4, size - 4);
    ImportItem row = {};
    row.adjustment = data[3] & 1 ? ADJUST_TOTAL_RETURN : ADJUST_CAPITAL;
    SymbolRecord r = {};
    int result = 0;
    switch (data[0] % 3) {
    case 0: {
        char headers[160];
        snprintf(headers, sizeof headers, "Field-Count: %d\r\nRecord-Count: %d\r\nFields: Date%s\r\n", data[1] % 12,
                 data[2], data[3] & 2 ? ",Open Interest" : data[3] & 4 ? ",Turnover"
                                                                       : "");
        result = ParseNorgatePrices(headers, text.data(), (uint32_t)text.size(), &r, 0);
        break;
    }
    case 1:
        row.dataSource = SOURCE_YAHOO;
        result = ParseYahooChart(&row, text.c_str(), "FUZ", &r, 0);
        break;
    default:
        row.dataSource = SOURCE_TIINGO_CRYPTO;
        result = ParseTiingoCrypto(&row, text.c_str(), "FUZ", &r, 0);
        break;
    }
    bool ok = Check(result, r);
    FreeMemory(&r.bars[BAR_DAILY]);
    FreeMemory(&r.events);
    if (!ok) {
        char why[96];
        snprintf(why, sizeof why, "reader %d gave %d with %d bars", data[0] % 3, result, r.barCounts[BAR_DAILY]);
        return FuzzCheckFailed(why);
    }
    return 0;
}
