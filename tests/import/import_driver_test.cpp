/* import_driver_test.cpp -- the driver's own steps: latest-bar removal,
** futures contract chains, and the mark of an imported MetaStock security. */
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "import/import_fixture.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/import/metastock.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/import_items.h"

namespace {

void StoreSorted(std::vector<SymbolRecord> records)
{
    for (SymbolRecord &r : records) ASSERT_GT(LogSymbolLine(&r), 0);
    qsort(gStore.symbols, (size_t)gImport.count, sizeof(SymbolRecord), CompareSymbolNames);
    gStore.symbolCount = gImport.count;
}

TEST_F(ImportTest, RemoveLatestEndsTheCalendarAtTheNewLastDate)
{
    gImportState.Padding = 4;
    Begin("CSV", 20240101, 20240110);
    SymbolRecord a, b, c;
    MakeRecord(&a, "A", {{20240104, 1, 1, 1, 1, 1}, {20240108, 1, 1, 1, 2, 1}});
    MakeRecord(&b, "B", {{20240103, 1, 1, 1, 1, 1}, {20240105, 1, 1, 1, 2, 1}});
    MakeRecord(&c, "C", {{20240108, 1, 1, 1, 1, 1}});
    StoreSorted({a, b, c});
    ASSERT_EQ(gStore.lastDate, 20240108);
    RemoveLatestBars();
    EXPECT_EQ(Dates(Symbol("A")), (std::vector<int32_t>{20240104}));
    EXPECT_EQ(Symbol("A").lastDate, 20240104);
    EXPECT_EQ(Dates(Symbol("B")), (std::vector<int32_t>{20240103, 20240105}));
    EXPECT_EQ(Dates(Symbol("C")), (std::vector<int32_t>{20240108})) << "a single bar stays";
    EXPECT_EQ(gStore.lastDate, 20240108);

    /* Without C the newest date falls to the 5th; every later day stops
    ** being a market day. */
    ResetImportRun();
    ResetImportState();
    UnloadData();
    gImportState.Padding = 4;
    Begin("CSV", 20240101, 20240110);
    MakeRecord(&a, "A", {{20240104, 1, 1, 1, 1, 1}, {20240108, 1, 1, 1, 2, 1}});
    MakeRecord(&b, "B", {{20240103, 1, 1, 1, 1, 1}, {20240105, 1, 1, 1, 2, 1}});
    StoreSorted({a, b});
    RemoveLatestBars();
    EXPECT_EQ(gStore.lastDate, 20240105);
    const int32_t *days = (const int32_t *)gStore.dateLists[BAR_DAILY].dates;
    EXPECT_EQ(days[4], 20240105);
    for (int k = 5; k < 10; k++) EXPECT_LT(days[k], 0) << k;
}

TEST_F(ImportTest, ContractChainsLinkContractsOfOneRoot)
{
    Begin();
    std::vector<SymbolRecord> records(6);
    const char *symbols[] = {"ES-2023H", "ES-2023H_X", "ES-2023M", "ES-2023U", "NQ-2023H", "SPY"};
    for (int i = 0; i < 6; i++) MakeRecord(&records[(size_t)i], symbols[i], {{20240102, 1, 1, 1, 1, 1}});
    StoreSorted(records);
    LinkContractChains();
    struct {
        const char *symbol, *root;
        uint32_t previous, next; /* 1-based symbol numbers */
    } expected[] = {{"ES-2023H", "ES", 0, 3}, {"ES-2023H_X", "", 0, 0}, {"ES-2023M", "ES", 1, 4}, {"ES-2023U", "ES", 3, 0}, {"NQ-2023H", "NQ", 0, 0}, {"SPY", "", 0, 0}};
    for (int i = 0; i < 6; i++) {
        const SymbolInfo &info = gStore.symbols[i].info;
        EXPECT_STREQ(info.Symbol, expected[i].symbol);
        EXPECT_STREQ(info.InduIndex, expected[i].root) << info.Symbol;
        EXPECT_EQ(info.previousContract, expected[i].previous) << info.Symbol;
        EXPECT_EQ(info.nextContract, expected[i].next) << info.Symbol;
    }
}

TEST_F(ImportTest, MetaStockSecurityIsMarkedOnlyOnceKept)
{
    PlatCreateFolder(tmp.File("ms").c_str());
    /* One security whose only bar lies before StartDate: read, nothing kept. */
    std::string master(53, '\0');
    master[0] = 1;
    std::string record(53, '\0');
    record[0] = 1;
    record[4] = 5;
    memcpy(&record[36], "OLDBAR        ", 14);
    WriteTestFile(tmp.File("ms\\master"), master + record);
    std::string data(20, '\0');
    data[2] = 1;
    /* 2023-01-02, stored as 1230102, in MBF. */
    float stored = 1230102.0f;
    uint32_t bits;
    memcpy(&bits, &stored, 4);
    std::string date = {(char)(bits & 0xFF), (char)((bits >> 8) & 0xFF), (char)((bits >> 16) & 0x7F),
                        (char)(((bits >> 23) & 0xFF) + 2)};
    data += date + std::string(16, '\0');
    WriteTestFile(tmp.File("ms\\F1.dat"), data);
    Begin("MetaStock");
    ImportItem *row = (ImportItem *)gImportItems.items;
    ASSERT_EQ(ReadMetaStockMaster(row, tmp.File("ms").c_str(), "master"), 1) << Messages();
    ASSERT_EQ(gImport.workCount, 1);
    EXPECT_EQ(gImport.work[0].imported, 0u);
    EXPECT_EQ(gImport.count, 0);
}

} // namespace
