/* datafile_check.h -- the one check of the data file loader against damaged
** files, shared by the fuzz target (datafile_fuzz.cpp) and the damaged-file
** replay of the test build (tests/fuzz/fuzz_datafile.cpp).
**
** Every input is written to a file and loaded.  Whatever the bytes, the load
** must either succeed with consistent records (every date inside the
** calendar) or fail with exactly one message, result code 7 and nothing left
** allocated; unloading afterwards gives back every byte.
*/
#pragma once
#include <cstdint>
#include <string>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "fuzz_input.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "services/services.h"

inline bool InCalendar(int64_t date) { return date >= DATE_FIRST_VALID && date <= DATE_LAST_VALID; }

/* Loads bytes as a data file and checks the outcome; returns 0 when an
** expectation fails (the reason in *why). */
inline int CheckLoad(const std::string &dir, const uint8_t *data, size_t size, std::string *why)
{
    std::string path = dir + "\\fuzz.kvd";
    if (!FuzzWriteFile(path, data, size)) {
        *why = "cannot write the input";
        return 0;
    }

    UnloadData();
    uint64_t baseline = gAllocatedBytes.load();
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    gRun.resultCode = RESULT_OK;
    int ok = ReadDataFile(path.c_str(), 0);
    if (ok) {
        for (int32_t i = 0; i < gStore.symbolCount; i++) {
            const SymbolRecord *r = &gStore.symbols[i];
            for (int b = 0; b < BAR_SIZE_COUNT; b++)
                if (TrackedBlockSize(r->bars[b]) != (uint64_t)(r->barCounts[b] + 1) * sizeof(Bar))
                    *why = "bar array does not match its count";
            if (r->eventCount && TrackedBlockSize(r->events) != (uint64_t)r->eventCount * sizeof(EventItem))
                *why = "event array does not match its count";
            if (r->info.Symbol[39] != 0) *why = "symbol text not terminated";
            if ((r->firstDate && !InCalendar(r->firstDate)) || (r->lastDate && !InCalendar(r->lastDate)))
                *why = "a symbol's first or last date outside the calendar";
            for (int b = 0; b < BAR_SIZE_COUNT; b++)
                for (int32_t k = 0; k < r->barCounts[b]; k++)
                    if (!InCalendar(r->bars[b][k].date)) *why = "a bar date outside the calendar";
        }
        for (int b = 0; b < BAR_SIZE_COUNT; b++) {
            if (!gStore.dateLists[b].dates || gStore.dateLists[b].dates[gStore.dateLists[b].count] != 0) *why = "date list not terminated";
            for (int32_t k = 0; gStore.dateLists[b].dates && k < gStore.dateLists[b].count; k++)
                if (!InCalendar(gStore.dateLists[b].dates[k])) *why = "a list date outside the calendar";
        }
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
