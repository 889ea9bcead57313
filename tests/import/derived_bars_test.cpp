/* derived_bars_test.cpp -- master date lists, weekly to yearly bars and
** padding, against values worked out by hand. */
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "import/import_fixture.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/derived_bars.h"
#include "script/compiler/import_items.h"

namespace {

void SetDailyList(const std::vector<int32_t> &days)
{
    DateList &list = gStore.dateLists[BAR_DAILY];
    ASSERT_EQ(ReallocMemory(&list.dates, (days.size() + 1) * sizeof(uint32_t)), 1);
    list.capacity = (int32_t)days.size() + 1;
    for (size_t i = 0; i < days.size(); i++) list.dates[i] = (uint32_t)days[i];
    list.dates[days.size()] = 0;
    list.count = (int32_t)days.size();
}

std::vector<int32_t> ListDates(int barSize)
{
    const DateList &list = gStore.dateLists[barSize];
    return std::vector<int32_t>(list.dates, list.dates + list.count);
}

struct Expect {
    int32_t date;
    double open, high, low, close, volume, extra;
};

void ExpectBars(const SymbolRecord &record, int barSize, const std::vector<Expect> &expected)
{
    ASSERT_EQ(record.barCounts[barSize], (int32_t)expected.size()) << "bar size " << barSize;
    for (size_t i = 0; i < expected.size(); i++) {
        const Bar &b = record.bars[barSize][i];
        const Expect &e = expected[i];
        EXPECT_EQ(b.date, e.date) << barSize << " bar " << i;
        EXPECT_EQ(b.open, e.open) << barSize << " bar " << i;
        EXPECT_EQ(b.high, e.high) << barSize << " bar " << i;
        EXPECT_EQ(b.low, e.low) << barSize << " bar " << i;
        EXPECT_EQ(b.close, e.close) << barSize << " bar " << i;
        EXPECT_EQ(b.volume, e.volume) << barSize << " bar " << i;
        EXPECT_EQ(b.extra, e.extra) << barSize << " bar " << i;
    }
}

void SetExtras(SymbolRecord *record, std::vector<double> extras)
{
    for (size_t i = 0; i < extras.size(); i++) record->bars[BAR_DAILY][i].extra = extras[i];
}

TEST_F(ImportTest, DerivedListsAndBarsFollowCalendarPeriods)
{
    /* 29 Dec 2025 is a Monday; 22 Dec 2025 and 7 Jan 2026 lie in different
    ** weeks although the week number falls and the weekday rises between them;
    ** January 2026 and January 2027 are different months. */
    SetDailyList({20251222, 20251229, 20260102, 20260107, 20270106});
    ASSERT_EQ(BuildCalendars(), 1);
    EXPECT_EQ(ListDates(BAR_WEEKLY), (std::vector<int32_t>{20251222, 20260102, 20260107, 20270106}));
    EXPECT_EQ(ListDates(BAR_MONTHLY), (std::vector<int32_t>{20251229, 20260107, 20270106}));
    EXPECT_EQ(ListDates(BAR_QUARTERLY), (std::vector<int32_t>{20251229, 20260107, 20270106}));
    EXPECT_EQ(ListDates(BAR_YEARLY), (std::vector<int32_t>{20251229, 20260107, 20270106}));

    for (int keepAdjusted = 0; keepAdjusted <= 1; keepAdjusted++) {
        SCOPED_TRACE(keepAdjusted);
        gStore.keepAdjusted = keepAdjusted;
        SymbolRecord a, b;
        MakeRecord(&a, "A", {{20251229, 11, 13, 10, 12, 100}, {20260102, 12, 15, 11, 14, 200}, {20260107, 14, 14, 13, 13, 100}});
        SetExtras(&a, {1, 2, 3});
        MakeRecord(&b, "B", {{20251222, 10, 12, 9, 11, 100}, {20260107, 14, 14, 13, 13, 100}, {20270106, 20, 21, 19, 20, 50}});
        for (SymbolRecord *r : {&a, &b})
            ASSERT_TRUE(BuildWeeklyBars(r) && BuildMonthlyBars(r) && BuildQuarterlyBars(r) && BuildYearlyBars(r));
        double weekExtra = keepAdjusted ? 2 : 3, monthExtra = keepAdjusted ? 3 : 5;
        ExpectBars(a, BAR_WEEKLY, {{20260102, 11, 15, 10, 14, 300, weekExtra}, {20260107, 14, 14, 13, 13, 100, 3}});
        ExpectBars(a, BAR_MONTHLY, {{20251229, 11, 13, 10, 12, 100, 1}, {20260107, 12, 15, 11, 13, 300, monthExtra}});
        ExpectBars(a, BAR_YEARLY, {{20251229, 11, 13, 10, 12, 100, 1}, {20260107, 12, 15, 11, 13, 300, monthExtra}});
        ExpectBars(b, BAR_WEEKLY, {{20251222, 10, 12, 9, 11, 100, 0}, {20260107, 14, 14, 13, 13, 100, 0}, {20270106, 20, 21, 19, 20, 50, 0}});
        ExpectBars(b, BAR_MONTHLY, {{20251229, 10, 12, 9, 11, 100, 0}, {20260107, 14, 14, 13, 13, 100, 0}, {20270106, 20, 21, 19, 20, 50, 0}});
        ExpectBars(b, BAR_QUARTERLY, {{20251229, 10, 12, 9, 11, 100, 0}, {20260107, 14, 14, 13, 13, 100, 0}, {20270106, 20, 21, 19, 20, 50, 0}});
        FreeSymbolRecord(&a);
        FreeSymbolRecord(&b);
    }
    gStore.keepAdjusted = 0;
}

TEST_F(ImportTest, SplitInsideAWeekRescalesTheEarlierDays)
{
    /* Monday's prices are on a scale twice Tuesday's (split factor 2 then 1). */
    SetDailyList({20260105, 20260106, 20260107});
    ASSERT_EQ(BuildCalendars(), 1);
    SymbolRecord c;
    MakeRecord(&c, "C", {{20260105, 100, 110, 90, 100, 1000, 2.0}, {20260106, 50, 55, 45, 52, 2000, 1.0}, {20260107, 52, 60, 40, 58, 500, 1.0}});
    ASSERT_EQ(BuildWeeklyBars(&c), 1);
    ExpectBars(c, BAR_WEEKLY, {{20260107, 50, 60, 40, 58, 4500, 0}});
    EXPECT_EQ(c.bars[BAR_WEEKLY][0].split, 1.0);
    FreeSymbolRecord(&c);
}

/* Stores records as the import does and publishes them sorted. */
void StoreRecords(std::vector<SymbolRecord> records)
{
    for (SymbolRecord &r : records) ASSERT_GT(LogSymbolLine(&r), 0);
    qsort(gStore.symbols, (size_t)gImport.count, sizeof(SymbolRecord), CompareSymbolNames);
    gStore.symbolCount = gImport.count;
}

TEST_F(ImportTest, PaddingAllWeekDays)
{
    gImportState.Padding = 3;
    Begin("CSV", 20240101, 20240112);
    SymbolRecord x, y;
    /* X: a Saturday bar, and Thursday and Friday missing; it starts on
    ** Tuesday, so Monday gets no bar.  Y starts on a Saturday. */
    MakeRecord(&x, "X", {{20240102, 1, 1, 1, 10, 5}, {20240103, 1, 1, 1, 11, 5}, {20240106, 1, 1, 1, 12, 5}, {20240108, 1, 1, 1, 13, 5}});
    MakeRecord(&y, "Y", {{20240106, 1, 1, 1, 20, 5}, {20240109, 1, 1, 1, 21, 5}});
    StoreRecords({x, y});
    ASSERT_EQ(PadBars(), 1);
    const SymbolRecord &px = Symbol("X");
    EXPECT_EQ(Dates(px), (std::vector<int32_t>{20240102, 20240103, 20240104, 20240105, 20240108}));
    const Bar &pad = px.bars[BAR_DAILY][2];
    EXPECT_EQ(pad.open, 11);
    EXPECT_EQ(pad.close, 11);
    EXPECT_EQ(pad.volume, 0);
    EXPECT_EQ(pad.time, 160000);
    EXPECT_EQ(px.lastDate, 20240108);
    const SymbolRecord &py = Symbol("Y");
    EXPECT_EQ(Dates(py), (std::vector<int32_t>{20240109}));
    EXPECT_EQ(py.firstDate, 20240109);
}

TEST_F(ImportTest, PaddingAlignsWithAReferenceSymbol)
{
    gImportState.Padding = 1;
    CopyString(gImportState.PadAlignSym, sizeof gImportState.PadAlignSym, "REF", -1);
    Begin("CSV", 20240101, 20240107);
    SymbolRecord ref, z;
    MakeRecord(&ref, "REF", {{20240102, 1, 1, 1, 1, 1}, {20240103, 1, 1, 1, 2, 1}, {20240105, 1, 1, 1, 3, 1}});
    MakeRecord(&z, "Z", {{20240102, 1, 1, 1, 7, 1}, {20240104, 1, 1, 1, 8, 1}, {20240105, 1, 1, 1, 9, 1}});
    StoreRecords({ref, z});
    for (int32_t k = 1; k <= 4; k++) gStore.dateLists[BAR_DAILY].dates[k] = (uint32_t)(20240101 + k);
    ASSERT_EQ(PadBars(), 1);
    EXPECT_EQ(Dates(Symbol("Z")), (std::vector<int32_t>{20240102, 20240103, 20240105}));
    EXPECT_EQ(Symbol("Z").bars[BAR_DAILY][1].close, 7);

    CopyString(gImportState.PadAlignSym, sizeof gImportState.PadAlignSym, "NONE", -1);
    EXPECT_EQ(PadBars(), 0);
    EXPECT_STREQ(LastMessage(), "Padding reference symbol NONE was not imported.");
}

TEST_F(ImportTest, NoPaddingLeavesBarsAlone)
{
    Begin("CSV", 20240101, 20240112);
    SymbolRecord x;
    MakeRecord(&x, "X", {{20240102, 1, 1, 1, 10, 5}, {20240106, 1, 1, 1, 12, 5}, {20240108, 1, 1, 1, 13, 5}});
    StoreRecords({x});
    ASSERT_EQ(PadBars(), 1);
    EXPECT_EQ(Dates(Symbol("X")), (std::vector<int32_t>{20240102, 20240106, 20240108}));
}

} // namespace
