/* fuzz_import.cpp -- the price-file readers against damaged input.
**
** Inputs go to a per-symbol CSV file (read with ParseHeaderCsv from its
** header line), to a MetaStock "master" file, or to the data file a valid
** "master" lists.  Whatever the bytes, the reader must come back without a
** crash, every bar it keeps must lie in the import's date range, the bars
** must sort into order, and the end of the import must give back every byte.
**
** In the normal test run this replays a fixed, seeded set of damaged copies
** of valid inputs.  With clang's libFuzzer the same check is the fuzz target
** (built as fuzz_datafile.cpp describes, with -DKV_LIBFUZZER and this file);
** the first input byte picks the target.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/import/csv_import.h"
#include "marketdata/import/import_run.h"
#include "marketdata/import/metastock.h"
#include "marketdata/store/data_load.h"
#include "platform/platform.h"
#include "script/compiler/import_items.h"
#include "shell/headless/headless.h"
#include "shell/services.h"

enum { TARGET_CSV = 0, TARGET_MASTER = 1, TARGET_METASTOCK_DATA = 2, TARGETS = 3 };

static int Apply(int keyword, const char *value)
{
    int offset = 0, length = 0;
    return ApplyImportItem(keyword, value, (int)strlen(value), "", &offset, &length);
}

static void WriteBytes(const std::string &path, const uint8_t *data, size_t size)
{
    PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
    if (!f) return;
    uint32_t written = 0;
    PlatWriteFile(f, data, (uint32_t)size, &written);
    PlatCloseFile(f);
}

/* A valid "master" listing one 6-field security in F1.dat. */
static std::string ValidMaster()
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

static int CheckRecord(const SymbolRecord *r, std::string *why)
{
    for (int32_t k = 0; k < r->barCounts[BAR_DAILY]; k++) {
        const Bar &b = r->bars[BAR_DAILY][k];
        if (b.date < gImport.startDate || b.date > gImport.endDate) *why = "a kept bar outside the date range";
        if (k && b.date < r->bars[BAR_DAILY][k - 1].date) *why = "bars out of order after sorting";
    }
    if (r->barCounts[BAR_DAILY] > 0 && TrackedBlockSize(r->bars[BAR_DAILY]) < (uint64_t)r->barCounts[BAR_DAILY] * sizeof(Bar))
        *why = "more bars than the array holds";
    return why->empty();
}

static int CheckImportInput(const std::string &dir, int target, const uint8_t *data, size_t size, std::string *why)
{
    UnloadData();
    ResetImportRun();
    ResetImportState();
    ResetHeadlessShell();
    Apply(IMPKW_DATA_SOURCE, target == TARGET_CSV ? "CSV" : "MetaStock");
    Apply(IMPKW_DATA_PATH, dir.c_str());
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
        WriteBytes(path, data, size);
        SymbolRecord record;
        memset((void *)&record, 0, sizeof record);
        int n = ParseHeaderCsv(row, path.c_str(), "FUZ", &record, 1);
        if (n != -1 && n != record.barCounts[BAR_DAILY]) *why = "the count returned is not the bars kept";
        SortBars(&record);
        CheckRecord(&record, why);
        FreeSymbolRecord(&record);
    } else {
        std::string master = ValidMaster();
        if (target == TARGET_MASTER) WriteBytes(dir + "\\master", data, size);
        else WriteBytes(dir + "\\master", (const uint8_t *)master.data(), master.size());
        if (target == TARGET_METASTOCK_DATA) WriteBytes(dir + "\\F1.dat", data, size);
        int ok = ImportMetaStock(row, dir.c_str());
        if (ok != 0 && ok != 1) *why = "an answer other than 0 or 1";
        for (int32_t i = 0; i < gImport.count; i++) CheckRecord(&gSymbols[i], why);
    }
    ReportImportMisses(0);
    ResetImportState();
    if (gAllocatedBytes.load() != baseline)
        *why = "the import did not give back every byte: " + std::to_string((int64_t)(gAllocatedBytes.load() - baseline));
    return why->empty();
}

#ifdef KV_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::string dir;
    if (dir.empty()) {
        char base[260];
        if (!PlatGetEnv("TMPDIR", base, sizeof base)) CopyString(base, sizeof base, "/tmp", -1);
        dir = base;
    }
    if (size < 1) return 0;
    std::string why;
    if (!CheckImportInput(dir, data[0] % TARGETS, data + 1, size - 1, &why)) {
        fprintf(stderr, "%s\n", why.c_str());
        __builtin_trap();
    }
    return 0;
}
#else
#include <gtest/gtest.h>

#include "support/program_state.h"

namespace {

struct Lcg {
    uint32_t state;
    uint32_t Next()
    {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    }
    uint32_t Below(uint32_t n) { return (Next() << 15 | Next()) % n; }
};

std::string Mbf(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, 4);
    if (value == 0.0f) return std::string(4, '\0');
    return std::string{(char)(bits & 0xFF), (char)((bits >> 8) & 0xFF),
                       (char)((bits >> 31) << 7 | ((bits >> 16) & 0x7F)), (char)(((bits >> 23) & 0xFF) + 2)};
}

std::string ValidCsv()
{
    std::string text = "Date,Open,High,Low,Close,Volume,Split,Dividend\n";
    for (int d = 1; d <= 28; d++) {
        char line[128];
        snprintf(line, sizeof line, "2024-02-%02d,%d.5,%d,%d,%d.25,%d,%s,%s\n", d, 10 + d, 11 + d, 9 + d, 10 + d,
                 100 * d, d == 15 ? "2" : "", d == 20 ? "0.5" : "");
        text += line;
    }
    return text;
}

std::string ValidData()
{
    std::string first(24, '\0');
    first[2] = 20;
    std::string file = first;
    for (int d = 1; d <= 20; d++) {
        file += Mbf((float)(1240200 + d));
        for (float v : {10.0f + d, 11.0f + d, 9.0f + d, 10.5f + d, 100.0f * d}) file += Mbf(v);
    }
    return file;
}

struct ImportFuzz : ProgramStateTest {};

TEST_F(ImportFuzz, DamagedPriceFilesReadOrFailCleanly)
{
    const std::string valid[TARGETS] = {ValidCsv(), ValidMaster(), ValidData()};
    static const char kBytes[] = {'\0', '\n', '\r', ',', '"', ';', '-', '.', '9', 'e', ' ', '\xff', '\x80'};
#ifdef _WIN32
    const int rounds = 150;   /* file calls are slow under Wine */
#else
    const int rounds = 900;
#endif
    Lcg rng = {20241207};
    std::string why;
    for (int round = 0; round < rounds; round++) {
        int target = round % TARGETS;
        std::string s = valid[target];
        int edits = 1 + (int)rng.Below(4);
        for (int e = 0; e < edits && !s.empty(); e++) {
            size_t at = rng.Below((uint32_t)s.size());
            switch (rng.Below(4)) {
            case 0: s[at] = kBytes[rng.Below(sizeof kBytes)]; break;
            case 1: s[at] = (char)rng.Below(256); break;
            case 2: s.resize(at); break;                                   /* cut */
            default: s.insert(at, std::string(1 + rng.Below(300), kBytes[rng.Below(sizeof kBytes)])); break;
            }
        }
        ASSERT_TRUE(CheckImportInput(tmp.path, target, (const uint8_t *)s.data(), s.size(), &why))
            << "round " << round << " target " << target << ": " << why;
    }
    for (int target = 0; target < TARGETS; target++)
        ASSERT_TRUE(CheckImportInput(tmp.path, target, (const uint8_t *)"", 0, &why)) << "empty input: " << why;
}

}  // namespace
#endif
