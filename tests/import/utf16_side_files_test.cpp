/* utf16_side_files_test.cpp -- every reader of a list, table or template
** from another program refuses a file saved as UTF-16 text, naming it,
** rather than reading its NUL-filled bytes as symbols and dates. */
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "engine/orders.h"
#include "engine/trade_list.h"
#include "foundation/allocator.h"
#include "foundation/file_helpers.h"
#include "import/import_fixture.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/constituency.h"
#include "script/compiler/import_items.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"
#include "shell/headless/headless.h"

/* The text as a spreadsheet's "Unicode text" writes it: a byte order mark
** and two bytes per (ASCII) character. */
static std::string Utf16(const std::string &text, bool bigEndian)
{
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : text) {
        if (bigEndian) out += '\0';
        out += c;
        if (!bigEndian) out += '\0';
    }
    return out;
}

TEST_F(ImportTest, SideFilesSavedAsUtf16AreRefusedByName)
{
    Begin();
    char savedScripts[sizeof gScriptsFolder];
    memcpy(savedScripts, gScriptsFolder, sizeof savedScripts);
    std::unique_ptr<StrategyRecord> strategy{new StrategyRecord{}};
    HolidayList holidays{};
    auto lastItem = [] { return (const ImportItem *)gImportItems.items + gImportItems.count - 1; };

    /* Each reader with a file it reads when saved as 8-bit text; 1 when it
    ** read the file. */
    const struct {
        const char *kind;
        const char *name;
        const char *text;
        std::function<int(const std::string &path)> read;
    } readers[] = {
        {"IncludeList (text)", "list.txt", "AAA\r\nBBB\r\n",
         [&](const std::string &path) { return Line(IMPKW_INCLUDE_LIST, path) == 0 && ReadImportListFile(lastItem()); }},
        {"IncludeList (CSV)", "list.csv", "Symbol,Name\r\nAAA,Alpha\r\n",
         [&](const std::string &path) { return Line(IMPKW_EXCLUDE_LIST, path) == 0 && ReadImportListFile(lastItem()); }},
        {"SymInfoFile", "info.csv", "Symbol,Name,Sector\r\nAAA,Alpha Inc,Tech\r\n",
         [](const std::string &path) { return ReadSymbolInfoFile(path.c_str(), SYMINFO_NAMED, 0); }},
        {"EventListFile", "events.csv", "Symbol,Date,Time,Type,Value\r\nAAA,2024-01-03,,-1,0.5\r\n",
         [&](const std::string &path) { return Line(IMPKW_EVENT_LIST_FILE, path) == 0 && ReadEventListFile(lastItem()); }},
        {"constituency", "constituency.csv", "Id,Label,Name,Text\r\n3,Large,SP500,Large caps\r\n",
         [&](const std::string &path) {
             CopyString(gScriptsFolder, sizeof gScriptsFolder, path.substr(0, path.rfind('\\')).c_str(), -1);
             return LoadConstituency();
         }},
        {"OrdersTemplate", "template.csv", "Action,Symbol,Qty\r\nact,SYM,qty\r\n",
         [](const std::string &path) {
             CopyString(gScriptSettings.OrdersTemplate, sizeof gScriptSettings.OrdersTemplate, path.c_str(), -1);
             return LoadOrdersTemplate(-1);
         }},
        {"OrdersNetLiq", "netliq.txt", "250000 USD\r\n",
         [](const std::string &path) {
             double amount = 0;
             return ReadAccountValueFile(path.c_str(), &amount, 0) && amount == 250000;
         }},
        {"TradeList", "trades.csv", "Symbol,Action,DateTime,Shares,PriceIn\r\nAAA,Buy,2024-01-03,100,10\r\n",
         [&](const std::string &path) {
             CopyString(strategy->TradeList, sizeof strategy->TradeList, path.c_str(), -1);
             return (int)(ReadTradeListFile(strategy.get()) == 1);
         }},
        {"HolidayList", "holidays.txt", "2024-01-15\r\n",
         [&](const std::string &path) { return LoadHolidayList(&holidays, path.c_str()) && holidays.count == 1; }},
        {"SymChangeList", "changes.csv", "AAA,AAB,2024-01-03\r\n",
         [](const std::string &path) {
             CopyString(gSymChangeListSetting, PATH_SIZE, path.c_str(), -1);
             return LoadSymbolChanges();
         }},
    };
    const struct {
        const char *encoding;
        bool utf16, bigEndian;
    } encodings[] = {{"8-bit", false, false}, {"UTF-16LE", true, false}, {"UTF-16BE", true, true}};

    for (const auto &r : readers) {
        for (const auto &e : encodings) {
            SCOPED_TRACE(std::string(r.kind) + " in " + e.encoding);
            /* Each file in a folder of its own: the constituency list has one name. */
            const std::string folder = std::string(e.encoding) + "-" + std::to_string(&r - readers);
            ASSERT_TRUE(PlatCreateFolder(tmp.File(folder).c_str()));
            const std::string path = Write(folder + "\\" + r.name, e.utf16 ? Utf16(r.text, e.bigEndian) : r.text);
            ResetHeadlessShell();
            gRun.resultCode = RESULT_OK;
            const int read = r.read(path);
            if (!e.utf16) {
                EXPECT_EQ(1, read) << Messages();
                EXPECT_EQ("", Messages());
                continue;
            }
            EXPECT_EQ(0, read);
            EXPECT_EQ("Unable to read " + path +
                          ": the file is written in UTF-16 (Unicode text); save it as CSV or as UTF-8 text|",
                      Messages());
            EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
        }
    }

    memcpy(gScriptsFolder, savedScripts, sizeof savedScripts);
    gScriptSettings.OrdersTemplate[0] = 0;
    gSymChangeListSetting[0] = 0;
    FreeMemory(&gConstituency);
    gConstituencyCount = 0;
    FreeMemory(&strategy->tradeListRows);
    FreeMemory(&holidays.pairs);
    FreeMemory(&gSymbolChanges.items);
    gSymbolChanges = GrowList{};
}
