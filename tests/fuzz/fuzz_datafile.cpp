/* fuzz_datafile.cpp -- the data file loader against damaged files.
**
** Every input is written to a file and loaded.  Whatever the bytes, the load
** must either succeed with consistent records or fail with exactly one
** message, result code 7 and nothing left allocated; unloading afterwards
** gives back every byte.
**
** In the normal test run this replays a fixed, seeded set of damaged copies
** of a valid file (overwritten bytes, extreme counts, other versions, cuts).
** With clang's libFuzzer the same check is the fuzz target (not part of the
** build), for example from the source folder:
**
**   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address -DKV_LIBFUZZER -Isrc -Itests \
**     $(find src -name '*.cpp' | grep -v -e win32 -e posix) src/platform/posix/platform.cpp \
**     tests/fuzz/fuzz_datafile.cpp -o fuzz_datafile -lpthread -ldl
**   ./fuzz_datafile -max_len=65536
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "shell/services.h"

/* Loads bytes as a data file and checks the outcome; returns 0 when an
** expectation fails (the reason in *why). */
static int CheckLoad(const std::string &dir, const uint8_t *data, size_t size, std::string *why)
{
    std::string path = dir + "\\fuzz.kvd";
    PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
    if (!f) {
        *why = "cannot write the input";
        return 0;
    }
    uint32_t written = 0;
    PlatWriteFile(f, data, (uint32_t)size, &written);
    PlatCloseFile(f);

    UnloadData();
    uint64_t baseline = gAllocatedBytes.load();
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    gRun.resultCode = RESULT_OK;
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, path.c_str(), -1);
    int ok = ReadDataFile(0);
    if (ok) {
        for (int32_t i = 0; i < gStore.symbolCount; i++) {
            const SymbolRecord *r = &gStore.symbols[i];
            for (int b = 0; b < BAR_SIZE_COUNT; b++)
                if (TrackedBlockSize(r->bars[b]) != (uint64_t)(r->barCounts[b] + 1) * sizeof(Bar))
                    *why = "bar array does not match its count";
            if (r->eventCount && TrackedBlockSize(r->events) != (uint64_t)r->eventCount * sizeof(EventItem))
                *why = "event array does not match its count";
            if (r->info.Symbol[39] != 0) *why = "symbol text not terminated";
        }
        for (int b = 0; b < BAR_SIZE_COUNT; b++)
            if (!gStore.dateLists[b].dates || gStore.dateLists[b].dates[gStore.dateLists[b].count] != 0) *why = "date list not terminated";
        if (gHeadless.messageCount != 0) *why = "a successful load reported";
    } else {
        if (gHeadless.messageCount != 1) *why = "a failed load did not report exactly once";
        if (gRun.resultCode.load() != RESULT_DATA_NOT_LOADED) *why = "a failed load did not set result code 7";
        if (gStore.symbols || gStore.symbolCount || gStore.listNames || gStore.note) *why = "a failed load left data behind";
        if (gAllocatedBytes.load() != baseline) *why = "a failed load left memory allocated";
    }
    UnloadData();
    if (gAllocatedBytes.load() != baseline) *why = "unloading did not give back every byte";
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
    std::string why;
    if (!CheckLoad(dir, data, size, &why)) {
        fprintf(stderr, "%s\n", why.c_str());
        __builtin_trap();
    }
    return 0;
}

#else

#include <gtest/gtest.h>

#include "marketdata/data_fixture.h"
#include "support/test_support.h"

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

void PutU32(std::string &s, size_t at, uint32_t v)
{
    if (at + 4 > s.size()) return;
    for (int k = 0; k < 4; k++) s[at + k] = (char)(v >> (8 * k));
}

struct DataFileFuzz : datafixture::DataTest {};

}  // namespace

TEST_F(DataFileFuzz, DamagedCopiesOfAValidFileLoadOrFailCleanly)
{
    TempFolder dir;
    datafixture::MakeLoadedData({{"AAA", 60, 2}, {"BBB", 25, 0}, {"CCC", 8, 1}}, 2, 2, "note");
    const std::string good = dir.File("good.kvd");
    ASSERT_EQ(SaveDataFile(good.c_str(), datafixture::ImportText()), 1);
    const std::string file = ReadTestFile(good);
    UnloadData();

    static const uint32_t kInteresting[] = {0, 1, 2, 23, 24, 64, 255, 256, 257, 1384, 1424,
                                            0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    static const float kVersions[] = {0.26f, 0.27f, 0.28f, 0.29f, 0.30f, 0.31f, 0.32f, 0.33f, 0.34f, 0.35f};
#ifdef _WIN32
    const int rounds = 300;   /* file calls are slow under Wine */
#else
    const int rounds = 3000;
#endif
    Lcg rng = {20240607};
    for (int round = 0; round < rounds; round++) {
        std::string s = file;
        int edits = 1 + (int)rng.Below(3);
        for (int e = 0; e < edits; e++) {
            switch (rng.Below(5)) {
            case 0:   /* a few bytes anywhere */
                for (int k = 0; k < 4; k++) s[rng.Below((uint32_t)s.size())] = (char)rng.Next();
                break;
            case 1:   /* an extreme value in an aligned word of the header or the records */
                PutU32(s, 4 * rng.Below((uint32_t)s.size() / 4), kInteresting[rng.Below(16)]);
                break;
            case 2:   /* a header count */
                PutU32(s, 4 * (4 + rng.Below(8)), kInteresting[rng.Below(16)]);
                break;
            case 3: { /* another version, its record size sometimes to match */
                float v = kVersions[rng.Below(10)];
                uint32_t bits;
                memcpy(&bits, &v, 4);
                PutU32(s, 0, bits);
                DataFileLayout layout;
                if (rng.Below(2) && GetDataFileLayout(v, &layout)) PutU32(s, 4, layout.recordSize);
                break;
            }
            default:  /* a cut */
                s.resize(rng.Below((uint32_t)s.size() + 1));
                break;
            }
        }
        std::string why;
        ASSERT_TRUE(CheckLoad(dir.path, (const uint8_t *)s.data(), s.size(), &why)) << "round " << round << ": " << why;
    }
}

#endif
