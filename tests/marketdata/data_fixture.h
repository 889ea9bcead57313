/* data_fixture.h -- loaded data built in memory for the data file and data
** loading tests, and a snapshot of it to compare a reloaded file against. */
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store_fixture.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace datafixture {

/* Weekdays from 2020-01-02 on. */
inline std::vector<int32_t> Weekdays(int n)
{
    std::vector<int32_t> out;
    int32_t d = 20200102;
    while ((int)out.size() < n) {
        if (DayOfWeek(d) <= 5) out.push_back(d);
        d = NextDay(d);
    }
    return out;
}

inline void SetDateList(int barSize, const std::vector<int32_t> &dates)
{
    DateList &list = gStore.dateLists[barSize];
    ASSERT_TRUE(AllocMemory(&list.dates, (dates.size() + 1) * 4));
    for (size_t i = 0; i < dates.size(); i++) list.dates[i] = (uint32_t)dates[i];
    list.capacity = (int32_t)dates.size() + 1;
    list.count = (int32_t)dates.size();
    list.barSize = barSize;
}

inline void SetBars(SymbolRecord *r, int barSize, const std::vector<int32_t> &dates, unsigned seed)
{
    ASSERT_TRUE(AllocMemory(&r->bars[barSize], (dates.size() + 1) * sizeof(Bar)));
    for (size_t i = 0; i < dates.size(); i++) {
        Bar &b = r->bars[barSize][i];
        double base = 10.0 + (double)((seed * 7919u + (unsigned)i * 31u) % 1000) / 100.0;
        b = {dates[i], 160000, base, base + 1.5, base - 1.25, base + 0.5, 1000.0 + (double)i, 0.25 * seed,
             1.0 + 0.5 * (double)(i % 3)};
    }
    r->barCounts[barSize] = (int32_t)dates.size();
}

/* The Import section the tests save with (SaveDataFile's note); null: none.
** The text is kept here, outside the tracked allocator, so the byte counts of
** the tests see only the loaded data. */
struct ImportTextKept {
    std::string text;
    bool given = false;
};
inline ImportTextKept &KeptImport()
{
    static ImportTextKept kept;
    return kept;
}
inline void SetImportText(const char *text)
{
    KeptImport().given = text != nullptr;
    KeptImport().text = text ? text : "";
}
inline const char *ImportText() { return KeptImport().given ? KeptImport().text.c_str() : nullptr; }

struct SymbolSpec {
    const char *symbol;
    int days;   /* daily bars */
    int events; /* events (0 = none) */
};

/* Fills the loaded data with symbols (given in sorted order), one weekday
** calendar, derived bars of every (calendar) period size, events, fundamentals, list names, a
** note and constituency ids.  The note is also made the Import section the
** tests save with, so that a save writes it.  The caller has unloaded. */
inline void MakeLoadedData(const std::vector<SymbolSpec> &specs, int fundamentals, int listNames, const char *note)
{
    int maxDays = 0;
    for (const SymbolSpec &s : specs) maxDays = s.days > maxDays ? s.days : maxDays;
    std::vector<int32_t> daily = Weekdays(maxDays);
    for (int b = 0; b < BAR_SIZE_COUNT; b++) {
        FreeMemory(&gStore.dateLists[b].dates);
        gStore.dateLists[b].capacity = gStore.dateLists[b].count = 0;
        SetDateList(b, PeriodEnds(daily, b));
    }
    ASSERT_TRUE(AllocMemory(&gStore.symbols, (specs.size() + 1) * sizeof(SymbolRecord)));
    gStore.symbolCount = (int32_t)specs.size();
    gStore.fundamentalsCount = fundamentals;
    for (size_t k = 0; k < specs.size(); k++) {
        SymbolRecord *r = &gStore.symbols[k];
        std::vector<int32_t> days(daily.begin(), daily.begin() + specs[k].days);
        for (int b = 0; b < BAR_SIZE_COUNT; b++) SetBars(r, b, PeriodEnds(days, b), (unsigned)(k + 1) * 10 + b);
        r->firstDate = days.empty() ? 0 : days.front();
        r->lastDate = days.empty() ? 0 : days.back();
        r->dataSource = (int32_t)k + 1;
        r->securityType = (int32_t)(k % 3);
        SymbolInfo &info = r->info;
        CopyString(info.Symbol, sizeof info.Symbol, specs[k].symbol, -1);
        FormatText(info.Name, sizeof info.Name, "%s Corporation", specs[k].symbol);
        CopyString(info.Type, sizeof info.Type, "Stock", -1);
        CopyString(info.Exchange, sizeof info.Exchange, "NYSE", -1);
        CopyString(info.InduIndex, sizeof info.InduIndex, "$SPX", -1);
        CopyString(info.IndGroup, sizeof info.IndGroup, "Widgets", -1);
        info.listNumber = 2;
        info.PointValue = 1.0;
        info.TickSize = 0.01;
        info.TRBC = 5110.0 + (double)k;
        info.Margin = 0.5;
        info.PriceMult = 100.0;
        info.includeLists[0] = 1;
        if (specs[k].events > 0) {
            ASSERT_TRUE(AllocMemory(&r->events, (uint64_t)specs[k].events * sizeof(EventItem)));
            for (int e = 0; e < specs[k].events; e++) r->events[e] = {days[(size_t)e % days.size()], 0, -1, 0, 0.1 * (e + 1)};
            r->eventCount = r->eventCapacity = specs[k].events;
        }
        if (fundamentals > 0) {
            ASSERT_TRUE(AllocMemory(&r->fundamentals, (uint64_t)fundamentals * sizeof(FundamentalItem)));
            for (int f = 0; f < fundamentals; f++) r->fundamentals[f] = {(uint32_t)f + 1, 20240101u, 1.5 * f};
        }
    }
    if (listNames > 0) {
        ASSERT_TRUE(AllocMemory(&gStore.listNames, (uint64_t)listNames * LIST_NAME_SIZE));
        for (int k = 0; k < listNames; k++) FormatText(gStore.listNames[k], LIST_NAME_SIZE, "List %d", k + 1);
        gStore.listNameCount = listNames;
    }
    if (note) {
        gStore.noteLength = (uint32_t)strlen(note) + 1;
        ASSERT_TRUE(AllocMemory(&gStore.note, gStore.noteLength));
        memcpy(gStore.note, note, gStore.noteLength);
    }
    SetImportText(note);
    gStore.constituencyIds[0] = 3;
    gStore.constituencyIds[1] = 7;
    gStore.keepAdjusted = 1;
}

/* The loaded data as bytes, block by block, for comparing two loads. */
inline std::vector<std::string> Snapshot()
{
    std::vector<std::string> out;
    auto add = [&](const void *p, size_t n) { out.emplace_back((const char *)p, n); };
    for (int b = 0; b < BAR_SIZE_COUNT; b++) add(gStore.dateLists[b].dates, (size_t)(gStore.dateLists[b].count + 1) * 4);
    add(gStore.listNames, (size_t)gStore.listNameCount * LIST_NAME_SIZE);
    add(gStore.note, gStore.noteLength);
    add(gStore.constituencyIds, sizeof gStore.constituencyIds);
    out.push_back(std::to_string(gStore.symbolCount) + "/" + std::to_string(gStore.fundamentalsCount) + "/" +
                  std::to_string(gStore.keepAdjusted));
    for (int32_t i = 0; i < gStore.symbolCount; i++) {
        const SymbolRecord *r = &gStore.symbols[i];
        add(&r->info, sizeof r->info);
        for (int b = 0; b < BAR_SIZE_COUNT; b++) add(r->bars[b], (size_t)r->barCounts[b] * sizeof(Bar));
        add(r->events, (size_t)r->eventCount * sizeof(EventItem));
        add(r->fundamentals, (size_t)gStore.fundamentalsCount * sizeof(FundamentalItem));
        int32_t fields[] = {r->firstDate, r->lastDate, r->dataSource, r->securityType, r->eventCount};
        add(fields, sizeof fields);
    }
    return out;
}

/* Resets the shell and the loaded data around each test. */
struct DataTest : ::testing::Test {
    ProgramSettings saved = gSettings;
    uint64_t baseline = 0;
    void SetUp() override
    {
        ResetShell();
        ResetRunControl();
        gSettings.ShowStatusBar = 1;
        gSettings.AskUnloadData = 1;
        gSettings.UseEarliestDate = 1;
        gSettings.UseLatestDate = 1;
        gSettings.NumBars = 0;
        gSettings.FirstDate = 20150101;
        gSettings.LastDate = 20250101;
        SetImportText(nullptr);
        UnloadData();
        baseline = gAllocatedBytes.load();
    }
    void TearDown() override
    {
        SetImportText(nullptr);
        UnloadData();
        gSettings = saved;
        ResetRunControl();
        ResetHeadlessShell();
        for (int kind = 0; kind < PLAT_FAULT_KINDS; kind++) PlatPlanFault(kind, 0, 0);
    }
    /* Clears the shell's record between cases; message boxes stay off stderr. */
    void ResetShell()
    {
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
    }
    /* The no-data state: nothing of a file is left. */
    void ExpectNothingLoaded()
    {
        EXPECT_EQ(gStore.symbols, nullptr);
        EXPECT_EQ(gStore.symbolCount, 0);
        EXPECT_EQ(gStore.listNames, nullptr);
        EXPECT_EQ(gStore.listNameCount, 0);
        EXPECT_EQ(gStore.note, nullptr);
        EXPECT_EQ(gStore.fundamentalsCount, 0);
        EXPECT_EQ(gStore.constituencyIds[0], 0u);
        EXPECT_STREQ(gStore.loadedPath, "");
        EXPECT_EQ(gStore.dateLists[BAR_DAILY].count, 2);
        EXPECT_EQ(gStore.dateLists[BAR_YEARLY].count, 2);
        EXPECT_EQ(gStore.calendar.barCounts[BAR_DAILY], 2);
        EXPECT_EQ(gAllocatedBytes.load(), baseline);
    }
    int Load(const std::string &path)
    {
        return ReadDataFile(path.c_str(), 0);
    }
};

} // namespace datafixture
