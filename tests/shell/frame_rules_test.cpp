#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "shell/command_line.h"
#include "shell/frame_rules.h"
#include "shell/list_csv.h"
#include "shell/version_check.h"

TEST(FrameRules, CommandRoutes)
{
    struct Case {
        int id, route;
    } cases[] = {{5000, ROUTE_RECENT_FILE}, {5008, ROUTE_RECENT_FILE}, {5009, ROUTE_NOT_HANDLED}, {1005, ROUTE_NOT_HANDLED}, {5199, ROUTE_NOT_HANDLED}, {5150, ROUTE_KIND_HANDLER}, {5499, ROUTE_NOT_HANDLED}, {9999, ROUTE_NOT_HANDLED}, {40078, ROUTE_KIND_HANDLER}, {65535, ROUTE_KIND_HANDLER}};
    for (const Case &c : cases) EXPECT_EQ(RouteOtherCommand(c.id), c.route) << c.id;
    EXPECT_EQ(KindCommandResult(5150), 1);
    EXPECT_EQ(KindCommandResult(40078), 0);
    const int modes[][2] = {{40143, 1}, {40150, 3}, {40151, 4}, {40152, 0}, {40153, 2}, {40154, 5}, {40155, -1}};
    for (const auto &m : modes) EXPECT_EQ(RunModeOfCommand(m[0]), m[1]) << m[0];
}

TEST(FrameRules, RunMenuBySectionsAndState)
{
    const int apply = 40143, test = 40150, scan = 40153, import = 40152, stop = 40155;
    // A script with only a Scan section: Check and Apply and Run Scan.
    EXPECT_TRUE(IsRunCommandEnabled(apply, 0, 1, 0, SCRIPT_HAS_SCAN));
    EXPECT_TRUE(IsRunCommandEnabled(scan, 0, 1, 0, SCRIPT_HAS_SCAN));
    EXPECT_FALSE(IsRunCommandEnabled(test, 0, 1, 0, SCRIPT_HAS_SCAN));
    EXPECT_FALSE(IsRunCommandEnabled(import, 0, 1, 0, SCRIPT_HAS_SCAN));
    // No script: everything grey, Stop too.
    for (int id : {apply, test, scan, import, stop}) EXPECT_FALSE(IsRunCommandEnabled(id, 0, 0, 0, 7)) << id;
    // Low memory makes the script unavailable; a run allows only Stop.
    EXPECT_FALSE(IsRunCommandEnabled(apply, 0, 1, 1, 7));
    EXPECT_FALSE(IsRunCommandEnabled(test, 4, 1, 0, 7));
    EXPECT_TRUE(IsRunCommandEnabled(stop, 4, 1, 0, 7));
    char name[32];
    const struct {
        int state, mode;
        const char *name;
    } names[] = {{0, 3, ""}, {1, 0, "Import"}, {2, 3, "Data Loading"}, {3, 3, "Calculation"}, {4, 2, "Scan"}, {4, 4, "Optimization"}, {4, 5, "Test"}, {5, 3, ""}};
    for (const auto &n : names) {
        GetRunTypeName(n.state, n.mode, name, sizeof name);
        EXPECT_STREQ(name, n.name);
    }
}

TEST(FrameRules, TabTitles)
{
    char out[64];
    struct Case {
        const char *text, *kind;
        int ordinal;
        const char *title;
    } cases[] = {
        {"C:\\s\\my_long_script_name.kvs", "Script", 1, "my_long...name.kvs"},
        {"C:\\s\\eighteen_chars.kv", "Script", 1, "eighteen_chars.kv"},
        {"Results", "Results", 2, "Results2"},
        {"Script (untitled)", "Script", 1, "Script (untitled)"},
        {"C:\\x\\notes.txt (read-only)", "Log", 1, "notes.txt"},
        {"C:\\s\\ab\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9_ok_\xC3\xA9\xC3\xA9\xC3\xA9" "1.kvs", "Script", 1,
         "ab\xC3\xA9\xC3\xA9...\xC3\xA9" "1.kvs"}, /* UTF-8 letters stay whole */
    };
    for (const Case &c : cases) {
        WindowTabTitle(c.text, c.kind, c.ordinal, out, sizeof out);
        EXPECT_STREQ(out, c.title) << c.text;
    }
    EXPECT_EQ(WindowTabWidth(144), 252);
    EXPECT_EQ(WindowTabWidth(96), 168);
}

TEST(FrameRules, StatusBarParts)
{
    /* u = dpi * 4 / 3: part 0 ends at width - 6 u, five parts of u follow, the
    ** last runs to the edge.  Narrower than 9 units (part 0's 3, four parts,
    ** the memory part's 1): one unit of width / 9 for every part, so all of
    ** them show.  960 is the first-run frame on a 1280-px screen. */
    struct Case {
        int width, dpi;
        int expected[7];
    } cases[] = {
        {1200, 96, {432, 560, 688, 816, 944, 1072, -1}},  /* u = 128: 1200 - 6 * 128 = 432 */
        {1400, 96, {632, 760, 888, 1016, 1144, 1272, -1}}, /* wider: only part 0 grows */
        {1152, 96, {384, 512, 640, 768, 896, 1024, -1}},  /* exactly 9 x 128: the full widths */
        {960, 96, {324, 430, 536, 642, 748, 854, -1}},    /* u = 106 instead of 128 */
        {944, 120, {320, 424, 528, 632, 736, 840, -1}},   /* u = 104 instead of 160 */
    };
    int edges[12];
    for (const Case &c : cases) {
        ASSERT_EQ(StatusBarEdges(c.width, c.dpi, 4, edges), 7);
        for (int i = 0; i < 7; i++) EXPECT_EQ(edges[i], c.expected[i]) << c.width << "@" << c.dpi << " " << i;
    }
}

/* The run time part keeps the width its text needs ("Time: 00:00:00.412"
** in the bar's font), and the last part the width of "Memory: 100%" beside
** the size grip: the other parts give way first, alike. */
TEST(FrameRules, TheRunTimeAndMemoryPartsKeepTheirWidths)
{
    struct Case {
        int width, dpi, time, memory;
        int expected[7];
    } cases[] = {
        {1200, 96, 100, 0, {432, 560, 688, 816, 944, 1072, -1}},  /* it fits a unit: as before */
        {1400, 96, 150, 0, {610, 760, 888, 1016, 1144, 1272, -1}}, /* wide: part 0 gives the 22 px */
        {960, 96, 120, 0, {315, 435, 540, 645, 750, 855, -1}},    /* first run: u = (960 - 120) / 8 = 105 */
        {944, 120, 150, 0, {299, 449, 548, 647, 746, 845, -1}},   /* u = (944 - 150) / 8 = 99 */
        {944, 120, 150, 90, {299, 449, 548, 647, 746, 845, -1}},  /* 90 fits in the 99 of a unit */
        /* u = (944 - 150 - 130) / 7 = 94: 944 - 4 * 94 - 150 - 130 = 288 */
        {944, 120, 150, 130, {288, 438, 532, 626, 720, 814, -1}},
        /* wide: part 0 gives the 72 px, 1400 - 4 * 128 - 150 - 200 = 538 */
        {1400, 96, 150, 200, {538, 688, 816, 944, 1072, 1200, -1}},
    };
    int edges[12];
    for (const Case &c : cases) {
        ASSERT_EQ(StatusBarEdges(c.width, c.dpi, 4, edges, c.time, c.memory), 7);
        for (int i = 0; i < 7; i++) EXPECT_EQ(edges[i], c.expected[i]) << c.width << "@" << c.dpi << " " << i;
    }
}

TEST(FrameRules, StartUpRules)
{
    char folder[PATH_SIZE];
    ProgramFolderFromPath("C:\\Apps\\.\\Kestovar\\.\\kestovar.exe", folder, sizeof folder);
    EXPECT_STREQ(folder, "C:\\Apps\\Kestovar");
    ProgramFolderFromPath("kestovar.exe", folder, sizeof folder);
    EXPECT_STREQ(folder, ".");

    struct Case {
        int value;
        int input;
        const char *display;
    } cases[] = {{-1, 0, "d MMM"}, {0, 0, "M/d/yy"}, {1, 1, "d/M/yy"}, {2, 1, "yyyy-MM-dd"}, {5, 1, "d MMM"}};
    for (const Case &c : cases) {
        int32_t input = 0;
        char display[32] = "d MMM";
        ApplyLegacyDateFormat(c.value, &input, display, sizeof display);
        EXPECT_EQ(input, c.input) << c.value;
        EXPECT_STREQ(display, c.display) << c.value;
    }
    double account = -5;
    int32_t mem = 0, fields = 9;
    RepairLoadedSettings(&account, &mem, &fields);
    EXPECT_EQ(account, 100000);
    EXPECT_EQ(mem, 95);
    EXPECT_EQ(fields, 4);
    fields = 0;
    RepairLoadedSettings(&account, &mem, &fields);
    EXPECT_EQ(fields, 4);
    int32_t x = -50, y = 10, w = 5000, h = 300;
    ClampFrameToScreen(&x, &y, &w, &h, 0, 0, 1920, 1080);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 300);
}

TEST(FrameRules, CommandLineTokensAndHandOff)
{
    std::vector<std::string> tokens;
    SplitCommandLine("  -inifile \"C:\\My Files\\k.ini\" a.kvs", &tokens);
    EXPECT_EQ(tokens, (std::vector<std::string>{"-inifile", "C:\\My Files\\k.ini", "a.kvs"}));

    char out[16];
    EXPECT_TRUE(TakeHandOffText("a.kvs", 6, out, sizeof out));
    EXPECT_STREQ(out, "a.kvs");
    EXPECT_FALSE(TakeHandOffText("abcdef", 6, out, sizeof out));              // not terminated
    EXPECT_FALSE(TakeHandOffText("0123456789abcdefgh", 19, out, sizeof out)); // longer than the buffer
    EXPECT_FALSE(TakeHandOffText(nullptr, 0, out, sizeof out));
    char path[64];
    UnquotePath("\"C:\\a b\\c.kvs\"", path, sizeof path);
    EXPECT_STREQ(path, "C:\\a b\\c.kvs");
}

TEST(FrameRules, OpenFilePlacements)
{
    OpenFilePlacement p;
    ParseOpenFilePlacement("*10,20,300,200,3", 800, 600, &p);
    EXPECT_EQ(p.active, 1);
    EXPECT_EQ(p.x, 10);
    EXPECT_EQ(p.h, 200);
    EXPECT_EQ(p.showState, 3);
    ParseOpenFilePlacement("900,20,300,700,1", 800, 600, &p);
    EXPECT_EQ(p.x, PLACE_DEFAULT);
    EXPECT_EQ(p.y, 20);
    EXPECT_EQ(p.h, PLACE_DEFAULT);
    ParseOpenFilePlacement("10,20", 800, 600, &p);
    EXPECT_EQ(p.w, PLACE_DEFAULT);
    char item[64];
    RecentFileItemText(3, "C:\\x.kvs", item, sizeof item);
    EXPECT_STREQ(item, "&3 C:\\x.kvs");
    EXPECT_STREQ(RecentFileItemPath(item), "C:\\x.kvs");
}

namespace {
std::string LogEntry(int hasText, int continueLine, const char *format, ...)
{
    char out[16];
    va_list args;
    va_start(args, format);
    FormatLogEntry(out, sizeof out, hasText, continueLine, format, args);
    va_end(args);
    return out;
}
} // namespace

TEST(FrameRules, LogEntriesBreakBeforeText)
{
    EXPECT_EQ(LogEntry(0, 0, "a%d", 1), "a1");
    EXPECT_EQ(LogEntry(1, 0, "b"), "\r\nb");
    EXPECT_EQ(LogEntry(1, 1, "c"), "c");
    EXPECT_EQ(LogEntry(1, 0, "%s", "0123456789abcdefghij"), "\r\n0123456789abc"); // cut at the buffer
}

TEST(ListCsv, QuotesLinesAndFields)
{
    char text[] = "Symbol,\"Price, USD\",kvsym\r\n\"AB\",\"1,234\",x\r\n\r\n1,2\n";
    int n = StripCsvQuotes(text, (int)strlen(text));
    int pos = 0;
    std::string rows;
    char *line;
    int lineNo = 0;
    CsvHeaderColumns columns = {};
    while ((line = NextCsvLine(text, n, &pos)) != nullptr) {
        char *fields[8];
        int count = SplitCsvFields(line, fields, 8);
        if (lineNo == 0)
            for (int k = 0; k < count; k++) ClassifyCsvHeading(fields[k], k + 1, &columns);
        else if (IsCsvRowLine(line)) {
            rows += std::to_string(lineNo) + ":";
            for (int k = 0; k < count; k++) rows += std::string(fields[k]) + "|";
        }
        lineNo++;
    }
    EXPECT_EQ(rows, "1:AB|1234|x|3:1|2|"); // the blank line 2 makes no row; "1,2" is a row
    EXPECT_EQ(columns.symbol, 3);          // kvsym wins over Symbol
}

TEST(ListCsv, HeadingsAndChartSymbols)
{
    CsvHeaderColumns c = {};
    ClassifyCsvHeading("symbol", 1, &c);
    ClassifyCsvHeading("SYMBOL", 2, &c);
    ClassifyCsvHeading("Exchange", 3, &c);
    EXPECT_EQ(c.symbol, 1);
    EXPECT_EQ(c.exchange, 3);
    struct Case {
        const char *symbol, *exchange, *chart;
    } cases[] = {{"BHP", "ASX", "BHP.au"}, {"ABC.CA", "TSX Venture", "ABC.CA"}, {"XYZ", "neo", "XYZ.ca"}, {"BHP.AU", "asx", "BHP.AU"}, {"IBM", "NYSE", "IBM"}, {"IBM", "", "IBM"}};
    char out[64];
    for (const Case &k : cases) {
        ChartSymbolForRow(k.symbol, k.exchange, out, sizeof out);
        EXPECT_STREQ(out, k.chart) << k.symbol;
    }
}

TEST(VersionCheck, ParseAndCompare)
{
    VersionNumber running, published;
    int32_t date;
    ParseVersionString("2.1.0.4", &running, &date, 20260101);
    EXPECT_EQ(date, 20260101);
    struct Case {
        const char *text;
        int order; // published compared with the running 2.1.0.4
    } cases[] = {{"2.1.0.4", 0}, {"2.1.0.4b", 1}, {"2.1.1", 1}, {"2.0.9", -1}, {"3", 1}, {"2.1.0.3z\n20250101", -1}};
    for (const Case &c : cases) {
        ParseVersionString(c.text, &published, &date, 20260101);
        int r = CompareVersions(&published, &running);
        EXPECT_EQ((r > 0) - (r < 0), c.order) << c.text;
    }
    ParseVersionString("2.1.0.4b\n20251130", &published, &date, 20260101);
    EXPECT_EQ(published.letter, 'b');
    EXPECT_EQ(date, 20251130);
}

TEST(VersionCheck, PublishedTextMustBeCleanBeforeNamingAFile)
{
    char out[32];
    struct Case {
        const char *text;
        const char *clean; // null: refused
    } cases[] = {{" 2.1.0.5 \r\n", "2.1.0.5"}, {"2.1.0.5b", "2.1.0.5b"}, {"..\\..\\evil", nullptr}, {"2.1/../x", nullptr}, {"2.1.0.5bc", nullptr}, {"", nullptr}, {"2..1", nullptr}, {"12345678901234567890123456789012", nullptr}};
    for (const Case &c : cases) {
        int ok = CleanVersionText(c.text, out, sizeof out);
        EXPECT_EQ(ok, c.clean != nullptr) << c.text;
        if (c.clean) {
            EXPECT_STREQ(out, c.clean);
        }
    }
    char name[64];
    EXPECT_TRUE(InstallerFileName("2.1.0.5", name, sizeof name));
    EXPECT_STREQ(name, "KestovarInstall.2.1.0.5.exe");
    EXPECT_FALSE(InstallerFileName("..\\x", name, sizeof name));
}

TEST(VersionCheck, CrashReportListsAtMostSixteenFrames)
{
    uint64_t addresses[20];
    for (int i = 0; i < 20; i++) addresses[i] = 0x140001000ull + (uint64_t)i * 16;
    char text[CRASH_TEXT_SIZE];
    FormatCrashReport(text, sizeof text, "1.0.0.0", 0xc0000005u, addresses, 20);
    std::string s = text;
    EXPECT_EQ(s.rfind("Kestovar 1.0.0.0 has crashed with exception c0000005\n\nCall Stack:\n00: 0x140001000\n", 0), 0u);
    EXPECT_NE(s.find("15: 0x1400010f0\n"), std::string::npos);
    EXPECT_EQ(s.find("16: "), std::string::npos);
    EXPECT_NE(s.find("If you close this popup window, Kestovar will exit immediately."), std::string::npos);
    FormatCrashReport(text, sizeof text, "1.0.0.0", 0x80000003u, addresses, 0);
    EXPECT_NE(std::string(text).find("Call Stack:\n\n"), std::string::npos); // no frames walked
}

#include "marketdata/store/symbols.h"
#include "script/compiler/definitions.h"
#include "services/services.h"

TEST(LowMemory, EstimatesOfLoadedAndCalculatedData)
{
    SymbolRecord symbols[3] = {};
    symbols[0].barCounts[0] = 100;
    symbols[0].barCounts[1] = 20;
    symbols[0].barCounts[2] = 5; // monthly bars do not count
    symbols[0].eventCount = 3;
    symbols[1].barCounts[0] = 10;
    symbols[1].barCounts[1] = 2;
    SymbolRecord *savedSymbols = gStore.symbols;
    int32_t savedCount = gStore.symbolCount;
    DefinitionList savedData = gDataItems, savedTest = gTestDataItems;
    gStore.symbols = symbols;
    gStore.symbolCount = 2;
    gDataItems.capacity = 4;
    gTestDataItems.capacity = 1;
    double loaded, calculated;
    EstimateMemoryUse(&loaded, &calculated);
    gStore.symbols = savedSymbols;
    gStore.symbolCount = savedCount;
    gDataItems = savedData;
    gTestDataItems = savedTest;
    EXPECT_EQ(loaded, 9176.0 + 2192.0); // 120 x 64 + 3 x 24 + 1424, 12 x 64 + 1424
    EXPECT_EQ(calculated, 4400.0);      // 110 daily bars x 5 slots x 8
}
