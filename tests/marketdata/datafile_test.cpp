#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "marketdata/data_fixture.h"
#include "support/program_state.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace datafixture;

namespace {

struct DataFileTest : DataTest {};

void PutU32(std::string &s, size_t at, uint32_t v)
{
    for (int k = 0; k < 4; k++) s[at + k] = (char)(v >> (8 * k));
}

uint32_t GetU32(const std::string &s, size_t at)
{
    uint32_t v = 0;
    for (int k = 3; k >= 0; k--) v = v << 8 | (uint8_t)s[at + k];
    return v;
}

std::string Bytes(const void *p, size_t n) { return std::string((const char *)p, n); }

/* The loaded data written in an older version's layout: the 304-byte header,
** three date lists, information blocks in the old arrangement (24-character
** symbol, 24-character root symbol) and the short trailers. */
std::string EncodeOldFile(float version, uint32_t infoBytes, uint32_t trailerBytes, uint32_t listMask)
{
    std::string out(DATA_HEADER_SIZE_OLD, '\0');
    uint32_t bits;
    memcpy(&bits, &version, 4);
    PutU32(out, 0, bits);
    PutU32(out, 4, infoBytes + trailerBytes);
    PutU32(out, 8, 64);
    PutU32(out, 12, 24);
    PutU32(out, 16, (uint32_t)gStore.keepAdjusted);
    PutU32(out, 20, (uint32_t)gStore.symbolCount);
    PutU32(out, 24, (uint32_t)gStore.dateLists[0].count + 1);
    PutU32(out, 28, (uint32_t)gStore.dateLists[1].count + 1);
    PutU32(out, 32, (uint32_t)gStore.dateLists[2].count + 1);
    PutU32(out, 36, gStore.noteLength);
    PutU32(out, 40, (uint32_t)gStore.fundamentalsCount);
    PutU32(out, 44, (uint32_t)gStore.listNameCount);
    PutU32(out, 48, gStore.constituencyIds[0]);
    out += Bytes(gStore.listNames, (size_t)gStore.listNameCount * LIST_NAME_SIZE);
    out += Bytes(gStore.note, gStore.noteLength);
    for (int b = 0; b < 3; b++) out += Bytes(gStore.dateLists[b].dates, (size_t)(gStore.dateLists[b].count + 1) * 4);
    for (int32_t i = 0; i < gStore.symbolCount; i++) {
        const SymbolRecord *r = &gStore.symbols[i];
        const char *info = (const char *)&r->info;
        std::string old(infoBytes, '\0');
        memcpy(&old[0], info, 23);
        memcpy(&old[24], info + 40, 608 - 24);
        memcpy(&old[608], info + 640, infoBytes - 608);
        PutU32(old, 612, listMask);
        out += old;
        std::string trailer(trailerBytes, '\0');
        for (int b = 0; b < 3; b++) PutU32(trailer, 4 * b, (uint32_t)r->barCounts[b]);
        PutU32(trailer, 12, (uint32_t)r->eventCount);
        PutU32(trailer, 16, (uint32_t)r->firstDate);
        PutU32(trailer, 20, (uint32_t)r->lastDate);
        if (trailerBytes >= 32) {
            PutU32(trailer, 24, (uint32_t)r->dataSource);
            PutU32(trailer, 28, (uint32_t)r->securityType);
        }
        out += trailer;
        for (int b = 0; b < 3; b++) out += Bytes(r->bars[b], (size_t)r->barCounts[b] * sizeof(Bar));
        out += Bytes(r->events, (size_t)r->eventCount * sizeof(EventItem));
        out += Bytes(r->fundamentals, (size_t)gStore.fundamentalsCount * sizeof(FundamentalItem));
    }
    return out;
}

const std::vector<SymbolSpec> kTwoSymbols = {{"AAA", 300, 2}, {"bbb", 40, 0}};

} // namespace

TEST_F(DataFileTest, SavedFileReadsBackBlockForBlock)
{
    TempFolder dir;
    MakeLoadedData(kTwoSymbols, 2, 3, "Import:\r\n  Source: CSV\r\n");
    std::vector<std::string> before = Snapshot();
    const std::string path = dir.File("round.kvd");
    ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
    EXPECT_STREQ(gSettings.DataFile, path.c_str());

    /* The file is exactly its blocks, starting with the current header. */
    std::string file = ReadTestFile(path);
    uint64_t expected = DATA_HEADER_SIZE + 3 * 80 + gStore.noteLength;
    for (int b = 0; b < BAR_SIZE_COUNT; b++) expected += 4 * (uint64_t)(gStore.dateLists[b].count + 1);
    for (int32_t i = 0; i < gStore.symbolCount; i++) {
        expected += 1424 + 2 * 16 + 24 * (uint64_t)gStore.symbols[i].eventCount;
        for (int b = 0; b < BAR_SIZE_COUNT; b++) expected += 64 * (uint64_t)gStore.symbols[i].barCounts[b];
    }
    ASSERT_EQ(file.size(), expected);
    EXPECT_EQ(GetU32(file, 0), 0x3EAE147Bu);
    EXPECT_EQ(GetU32(file, 4), 1424u);
    EXPECT_EQ(GetU32(file, 8), 64u);
    EXPECT_EQ(GetU32(file, 12), 24u);
    EXPECT_EQ(GetU32(file, 16), 1u);
    EXPECT_EQ(GetU32(file, 20), 2u);
    EXPECT_EQ(GetU32(file, 304), (uint32_t)gStore.dateLists[BAR_QUARTERLY].count + 1);
    EXPECT_EQ(GetU32(file, 308), (uint32_t)gStore.dateLists[BAR_YEARLY].count + 1);

    UnloadData();
    ASSERT_EQ(Load(path), 1);
    EXPECT_TRUE(Snapshot() == before);
    EXPECT_EQ(gStore.fileVersion, DATA_FILE_VERSION);
    EXPECT_STREQ(gStore.loadedPath, path.c_str());
    EXPECT_EQ(gStore.symbols[1].events, nullptr); /* no events: no array */
    EXPECT_EQ(gStore.symbols[0].firstUsedDate, FIRST_USED_NONE);
    EXPECT_EQ(gStore.maxDailyBars, 300);
    EXPECT_EQ(gStore.firstDate, 20200102);
    EXPECT_EQ(gStore.calendar.barCounts[BAR_DAILY], 300);
    EXPECT_EQ(gHeadless.messageCount, 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_OK);
}

/* More symbols than the loader first makes room for. */
TEST_F(DataFileTest, ManySymbolsReadBack)
{
    TempFolder dir;
    std::vector<std::string> names;
    for (int k = 0; k < 2100; k++) names.push_back("S" + std::to_string(10000 + k));
    std::vector<SymbolSpec> specs;
    for (const std::string &n : names) specs.push_back({n.c_str(), 2, 0});
    MakeLoadedData(specs, 0, 0, nullptr);
    std::vector<std::string> before = Snapshot();
    const std::string path = dir.File("many.kvd");
    ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
    UnloadData();
    ASSERT_EQ(Load(path), 1);
    EXPECT_TRUE(Snapshot() == before);
    EXPECT_EQ(TrackedBlockSize(gStore.symbols), 2101 * sizeof(SymbolRecord));
}

TEST_F(DataFileTest, NameWithoutDotGetsTheExtension)
{
    TempFolder dir;
    if (dir.path.find('.') != std::string::npos) GTEST_SKIP() << "temporary folder name holds a dot";
    MakeLoadedData({{"AAA", 5, 0}}, 0, 0, nullptr);
    ASSERT_EQ(SaveDataFile(dir.File("plain").c_str(), ImportText()), 1);
    EXPECT_TRUE(PlatFileExists(dir.File("plain.KVD").c_str()));
    EXPECT_EQ(std::string(gSettings.DataFile), dir.File("plain.KVD"));
}

/* The extension goes on a name without one only where it fits: a path of
** 255 characters saves as one of 259, a longer one is refused, never saved
** under a cut name ("plain.KV") that is another file. */
TEST_F(DataFileTest, TheExtensionIsAddedOnlyWhereItFits)
{
    MakeLoadedData({{"AAA", 5, 0}}, 0, 0, nullptr);
    for (size_t length = 255; length <= 259; length++) {
        SCOPED_TRACE(length);
        TempFolder dir;
        if (dir.path.find('.') != std::string::npos) GTEST_SKIP() << "temporary folder name holds a dot";
        const std::string path = MakePathOfLength(dir.path, length, "plain");
        ASSERT_EQ(length, path.size());
        const std::string folder = path.substr(0, path.rfind('\\'));
        EXPECT_EQ(length == 255 ? 1 : 0, SaveDataFile(path.c_str(), ImportText()));
        EXPECT_EQ(length == 255 ? "plain.KVD;" : "", ListTestFolder(folder));
    }
}

/* A data file of any name at the end of a path of 259 characters saves and
** loads, leaving nothing beside it. */
TEST_F(DataFileTest, APathThatFitsSavesWhateverItsNameLength)
{
    MakeLoadedData(kTwoSymbols, 0, 0, nullptr);
    const std::vector<std::string> before = Snapshot();
    for (const char *name : {"d.kvd", "data_of_every_day.kvd"}) {
        SCOPED_TRACE(name);
        TempFolder dir;
        const std::string path = MakePathOfLength(dir.path, 259, name);
        ASSERT_EQ(259u, path.size());
        ASSERT_EQ(1, SaveDataFile(path.c_str(), ImportText())) << LastMessage();
        UnloadData();
        ASSERT_EQ(1, Load(path)) << LastMessage();
        EXPECT_TRUE(Snapshot() == before);
        EXPECT_EQ(std::string(name) + ";", ListTestFolder(path.substr(0, path.rfind('\\'))));
    }
}

/* Every older version loads with its conversions and keeps every field it stored. */
TEST_F(DataFileTest, OlderVersionsConvertWithoutLosingFields)
{
    static const struct {
        float version;
        uint32_t info, trailer;
    } kVersions[] = {
        {0.27f, 680, 24},
        {0.28f, 920, 24},
        {0.29f, 1176, 24},
        {0.30f, 1336, 24},
        {0.31f, 1344, 24},
        {0.32f, 1344, 32},
        {0.33f, 1352, 32},
    };
    for (const auto &v : kVersions) {
        SCOPED_TRACE(v.version);
        TempFolder dir;
        UnloadData();
        MakeLoadedData({{"ALONGSYMBOLNAME_22CHAR", 70, 1}, {"ZZZ", 30, 0}}, 1, 3, "n");
        for (int32_t i = 0; i < gStore.symbolCount; i++) {
            CopyString(gStore.symbols[i].info.Type, 80, "Futures", -1);
            CopyString(gStore.symbols[i].info.InduIndex, 40, "ROOT_OF_TWENTY_THREE_C", -1);
        }
        std::vector<std::string> bars;
        for (int b = 0; b < 3; b++) bars.push_back(Bytes(gStore.symbols[0].bars[b], gStore.symbols[0].barCounts[b] * 64u));
        SymbolInfo want = gStore.symbols[0].info;
        std::string file = EncodeOldFile(v.version, v.info, v.trailer, 0x5);
        const std::string path = dir.File("old.kvd");
        ASSERT_TRUE(WriteTestFile(path, file));
        UnloadData();

        ASSERT_EQ(Load(path), 1) << LastMessage();
        ASSERT_EQ(gStore.symbolCount, 2);
        const SymbolInfo &got = gStore.symbols[0].info;
        EXPECT_STREQ(got.Symbol, "ALONGSYMBOLNAME_22CHAR");
        EXPECT_STREQ(got.Name, want.Name);
        EXPECT_STREQ(got.InduIndex, "ROOT_OF_TWENTY_THREE_C");
        EXPECT_EQ(got.listNumber, want.listNumber);
        EXPECT_EQ(got.PointValue, want.PointValue);
        EXPECT_EQ(got.TickSize, want.TickSize);
        EXPECT_EQ(got.PriceMult, v.version < 0.33f ? 1.0 : want.PriceMult);
        if (v.version < 0.31f) {
            /* GICS is 0, so the classification code was the margin. */
            EXPECT_EQ(got.Margin, want.TRBC);
            EXPECT_EQ(got.TRBC, 0.0);
        } else {
            EXPECT_EQ(got.Margin, want.Margin);
            EXPECT_EQ(got.TRBC, want.TRBC);
        }
        if (v.info >= 1336) {
            EXPECT_STREQ(got.IndGroup, "Widgets");
        }
        if (v.version < 0.29f) {
            EXPECT_EQ(got.includeLists[0], 1);
            EXPECT_EQ(got.includeLists[1], 0);
            EXPECT_EQ(got.includeLists[2], 1);
            EXPECT_EQ(got.includeLists[3], 0);
        } else {
            EXPECT_EQ(got.includeLists[0], 1);
            EXPECT_EQ(got.includeLists[2], 0);
        }
        if (v.version < 0.32f) {
            EXPECT_EQ(gStore.symbols[0].dataSource, -1);
            EXPECT_EQ(gStore.symbols[0].securityType, SECURITY_FUTURES);
        } else {
            EXPECT_EQ(gStore.symbols[0].dataSource, 1);
            EXPECT_EQ(gStore.symbols[0].securityType, 0);
        }
        for (int b = 0; b < 3; b++)
            EXPECT_EQ(Bytes(gStore.symbols[0].bars[b], gStore.symbols[0].barCounts[b] * 64u), bars[b]);
        /* Before 0.34 the quarterly and yearly lists and bars are empty. */
        for (int b = BAR_QUARTERLY; b <= BAR_YEARLY; b++) {
            EXPECT_EQ(gStore.dateLists[b].count, 0);
            ASSERT_NE(gStore.dateLists[b].dates, nullptr);
            EXPECT_EQ(gStore.dateLists[b].dates[0], 0u);
            EXPECT_EQ(gStore.symbols[0].barCounts[b], 0);
        }
        EXPECT_EQ(gStore.symbols[0].eventCount, 1);
        EXPECT_EQ(gStore.fileVersion, v.version);
        EXPECT_EQ(gHeadless.messageCount, 0);
    }
}

/* Broken files: each gives its own message, once, result code 7, and leaves
** nothing loaded. */
TEST_F(DataFileTest, DamagedHeadersFailCleanly)
{
    TempFolder dir;
    MakeLoadedData(kTwoSymbols, 1, 2, "note");
    const std::string good = dir.File("good.kvd");
    ASSERT_EQ(SaveDataFile(good.c_str(), ImportText()), 1);
    const std::string file = ReadTestFile(good);
    UnloadData();
    baseline = gAllocatedBytes.load();

    auto with = [&](size_t at, uint32_t v) {
        std::string s = file;
        PutU32(s, at, v);
        return s;
    };
    const std::string path = dir.File("bad.kvd");
    const std::string notCompatible = path + " is not compatible with this version of Kestovar.";
    const std::string cannotRead = "Unable to read " + path;
    const struct {
        const char *what;
        std::string bytes;
        std::string message;
    } kCases[] = {
        {"version 0.26", with(0, 0x3E851EB8u), notCompatible},
        {"NaN version", with(0, 0x7FC00000u), notCompatible},
        {"record size", with(4, 1384), notCompatible},
        {"bar size", with(8, 32), notCompatible},
        {"event size", with(12, 16), notCompatible},
        {"too many list names", with(44, 257), notCompatible},
        {"not a data file", std::string(4000, 'x'), notCompatible},
        {"text file", "Date,Open,High,Low,Close\r\n", cannotRead},
        {"empty file", "", cannotRead},
        {"list names past the end", with(44, 256).substr(0, 1000), cannotRead},
        {"huge note", with(36, 0xFFFFFFF0u), cannotRead},
        {"huge daily list", with(24, 0x7FFFFFFFu), "Unable to read the date list"},
        {"huge yearly list", with(308, 0xFFFFFFFFu), "Unable to read the date list"},
        {"huge symbol count", with(20, 0x7FFFFFFFu), "Unable to read stock record number 3 of 2147483647"},
        {"symbol count beyond any file", with(20, 0xFFFFFFFFu), notCompatible},
        {"fundamentals count beyond any file", with(40, 0x80000000u), notCompatible},
        {"huge fundamentals count", with(40, 0x40000000u), "Unable to read current fundamentals for stock AAA"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteTestFile(path, c.bytes));
        ResetShell();
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(Load(path), 0);
        EXPECT_EQ(gHeadless.messageCount, 1);
        EXPECT_EQ(std::string(LastMessage()), c.message);
        EXPECT_EQ(gRun.resultCode.load(), RESULT_DATA_NOT_LOADED);
        ExpectNothingLoaded();
    }
}

TEST_F(DataFileTest, HugeCountsInSymbolTrailersFailCleanly)
{
    TempFolder dir;
    MakeLoadedData(kTwoSymbols, 0, 0, nullptr);
    const std::string good = dir.File("good.kvd");
    ASSERT_EQ(SaveDataFile(good.c_str(), ImportText()), 1);
    const std::string file = ReadTestFile(good);
    UnloadData();
    baseline = gAllocatedBytes.load();
    size_t trailer = file.size();
    for (size_t at = 0; at + 3 < file.size(); at++)
        if (file.compare(at, 3, "AAA") == 0) {
            trailer = at + SYMBOL_INFO_SIZE;
            break;
        }
    ASSERT_LT(trailer, file.size());
    const struct {
        size_t offset;
        const char *message;
    } kCases[] = {
        {0, "Unable to read daily bars for AAA"},
        {4, "Unable to read weekly bars for AAA"},
        {8, "Unable to read monthly bars for AAA"},
        {32, "Unable to read quarterly bars for AAA"},
        {36, "Unable to read yearly bars for AAA"},
        {12, "Unable to read event list for stock AAA"},
    };
    const std::string path = dir.File("bad.kvd");
    for (const auto &c : kCases) {
        for (uint32_t count : {0xFFFFFFFFu, 0x7FFFFFFFu, 0x04000000u}) {
            SCOPED_TRACE(c.message);
            std::string s = file;
            PutU32(s, trailer + c.offset, count);
            ASSERT_TRUE(WriteTestFile(path, s));
            ResetShell();
            EXPECT_EQ(Load(path), 0);
            EXPECT_EQ(gHeadless.messageCount, 1);
            EXPECT_STREQ(LastMessage(), c.message);
            ExpectNothingLoaded();
        }
    }
}

/* A date outside 10000101..99991231 (0 only as the trailer date of a symbol
** without bars) marks the file as damaged, reported as the block that holds it. */
TEST_F(DataFileTest, DatesOutsideTheCalendarRefuseTheFile)
{
    TempFolder dir;
    MakeLoadedData(kTwoSymbols, 0, 0, nullptr);
    const std::string good = dir.File("good.kvd");
    ASSERT_EQ(SaveDataFile(good.c_str(), ImportText()), 1);
    const std::string file = ReadTestFile(good);
    UnloadData();
    baseline = gAllocatedBytes.load();
    const size_t daily = DATA_HEADER_SIZE, weekly = daily + 4 * (size_t)GetU32(file, 24);
    const size_t trailer = file.find("AAA") + SYMBOL_INFO_SIZE;
    const size_t bars = trailer + SYMBOL_TRAILER_SIZE, weeklyBars = bars + 64 * (size_t)GetU32(file, trailer);
    const std::string record = "Unable to read stock record number 1 of 2";
    const struct {
        size_t offset;
        uint32_t date;
        std::string message; /* empty: the file loads */
    } kCases[] = {
        {daily, 0, "Unable to read the date list"},
        {daily, 100000101, "Unable to read the date list"},
        {weekly + 4, 0x7FFFFFFF, "Unable to read the date list"},
        {trailer + 16, 0x7FFFFFFF, record},
        {trailer + 20, 99991232, record},
        {trailer + 20, 9991231, record},
        {trailer + 16, 0xFFFFFFFFu, record},
        {bars, 0, "Unable to read daily bars for AAA"},
        {weeklyBars + 64, 0x80000000u, "Unable to read weekly bars for AAA"},
        {trailer + 16, 0, ""},
        {bars, 99991231, ""},
    };
    const std::string path = dir.File("bad.kvd");
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::to_string(c.offset) + " " + std::to_string(c.date));
        std::string s = file;
        PutU32(s, c.offset, c.date);
        ASSERT_TRUE(WriteTestFile(path, s));
        ResetShell();
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(Load(path), c.message.empty() ? 1 : 0);
        if (c.message.empty()) {
            EXPECT_EQ(gHeadless.messageCount, 0);
            UnloadData();
            continue;
        }
        EXPECT_EQ(gHeadless.messageCount, 1);
        EXPECT_EQ(std::string(LastMessage()), c.message);
        EXPECT_EQ(gRun.resultCode.load(), RESULT_DATA_NOT_LOADED);
        ExpectNothingLoaded();
    }
}

/* A file cut at the start of every block, and in the middle of it, names the
** block that is missing. */
TEST_F(DataFileTest, TruncatedFilesNameTheMissingBlock)
{
    TempFolder dir;
    MakeLoadedData(kTwoSymbols, 1, 1, "note");
    const std::string good = dir.File("good.kvd");
    ASSERT_EQ(SaveDataFile(good.c_str(), ImportText()), 1);
    const std::string file = ReadTestFile(good);
    const std::string path = dir.File("cut.kvd");

    struct Block {
        uint64_t size;
        std::string message;
    };
    std::vector<Block> blocks = {{DATA_HEADER_SIZE, "Unable to read " + path}, {80, "Unable to read " + path}, {5, "Unable to read " + path}};
    for (int b = 0; b < BAR_SIZE_COUNT; b++)
        blocks.push_back({4 * (uint64_t)(gStore.dateLists[b].count + 1), "Unable to read the date list"});
    static const char *const kSizes[] = {"daily", "weekly", "monthly", "quarterly", "yearly"};
    for (int32_t i = 0; i < gStore.symbolCount; i++) {
        const SymbolRecord *r = &gStore.symbols[i];
        std::string record = "Unable to read stock record number " + std::to_string(i + 1) + " of 2";
        blocks.push_back({SYMBOL_INFO_SIZE, record});
        blocks.push_back({SYMBOL_TRAILER_SIZE, record});
        for (int b = 0; b < BAR_SIZE_COUNT; b++)
            blocks.push_back({64 * (uint64_t)r->barCounts[b],
                              std::string("Unable to read ") + kSizes[b] + " bars for " + r->info.Symbol});
        blocks.push_back({24 * (uint64_t)r->eventCount, std::string("Unable to read event list for stock ") + r->info.Symbol});
        blocks.push_back({16, std::string("Unable to read current fundamentals for stock ") + r->info.Symbol});
    }
    UnloadData();
    baseline = gAllocatedBytes.load();

    uint64_t start = 0;
    int checked = 0;
    for (const Block &block : blocks) {
        for (uint64_t cut : {start, start + block.size / 2}) {
            if (block.size == 0 || (cut != start && block.size < 2)) continue;
            SCOPED_TRACE(block.message + " cut at " + std::to_string(cut));
            ASSERT_TRUE(WriteTestFile(path, file.substr(0, cut)));
            ResetShell();
            gRun.resultCode = RESULT_OK;
            EXPECT_EQ(Load(path), 0);
            EXPECT_EQ(gHeadless.messageCount, 1);
            EXPECT_EQ(std::string(LastMessage()), block.message);
            EXPECT_EQ(gRun.resultCode.load(), RESULT_DATA_NOT_LOADED);
            ExpectNothingLoaded();
            checked++;
        }
        start += block.size;
    }
    EXPECT_EQ(start, file.size());
    EXPECT_GT(checked, 30);
}

TEST_F(DataFileTest, StopDuringLoadingLeavesNothing)
{
    TempFolder dir;
    MakeLoadedData(kTwoSymbols, 0, 0, nullptr);
    const std::string path = dir.File("stop.kvd");
    ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
    UnloadData();
    gRun.state = RUN_STOP_REQUESTED;
    EXPECT_EQ(Load(path), 0);
    gRun.state = RUN_IDLE;
    EXPECT_STREQ(LastMessage(), "Data was not completely loaded.");
    EXPECT_EQ(gRun.resultCode.load(), RESULT_DATA_NOT_LOADED);
    ExpectNothingLoaded();
}

TEST_F(DataFileTest, MissingFileIsReported)
{
    TempFolder dir;
    const std::string path = dir.File("absent.kvd");
    EXPECT_EQ(Load(path), 0);
    EXPECT_EQ(std::string(LastMessage()), "Unable to open " + path);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_DATA_NOT_LOADED);
    ExpectNothingLoaded();
}

/* A save that cannot finish keeps the old file and leaves no temporary file. */
TEST_F(DataFileTest, FailedSaveKeepsTheOldFile)
{
    TempFolder dir;
    MakeLoadedData({{"OLD", 10, 0}}, 0, 0, nullptr);
    const std::string path = dir.File("data.kvd");
    ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
    const std::string old = ReadTestFile(path);
    UnloadData();
    MakeLoadedData({{"NEW1", 3000, 0}, {"NEW2", 3000, 0}}, 0, 0, nullptr);

    /* A folder in the way of the rename: the complete file cannot replace it. */
    const std::string blocked = dir.File("blocked.kvd");
    ASSERT_TRUE(PlatCreateFolder(blocked.c_str()));
    ResetShell();
    EXPECT_EQ(SaveDataFile(blocked.c_str(), ImportText()), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_TRUE(PlatFolderExists(blocked.c_str()));

    /* No such folder: the create fails.  Unattended, the error goes to the
    ** error log and the save gives up instead of asking for another name. */
    char programFolder[PATH_SIZE];
    CopyString(programFolder, sizeof programFolder, gProgramFolder, -1);
    CopyString(gProgramFolder, sizeof gProgramFolder, dir.path.c_str(), -1);
    gRun.unattended = 1;
    ResetShell();
    gRun.resultCode = RESULT_OK;
    const std::string nowhere = dir.File("missing\\data.kvd");
    EXPECT_EQ(SaveDataFile(nowhere.c_str(), ImportText()), 0);
    /* ... and with no name at all it writes nothing anywhere. */
    gSettings.DataFile[0] = 0;
    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(SaveDataFile(nullptr, ImportText()), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_FALSE(PlatFileExists(".KVD"));
    gRun.unattended = 0;
    CopyString(gProgramFolder, sizeof gProgramFolder, programFolder, -1);
    EXPECT_EQ(gHeadless.messageCount, 0);
    EXPECT_NE(ReadTestFile(dir.File("errorlog.txt")).find("Unable to create " + nowhere + "\r\n\r\n"), std::string::npos);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);

    /* A write that fails part-way (as on a full disk: the header, a block of
    ** symbols) or a rename that is refused keeps the old file, leaves no
    ** temporary file and is reported once. */
    const struct {
        int kind, at;
    } kFaults[] = {{PLAT_FAULT_WRITE, 0}, {PLAT_FAULT_WRITE, 7}, {PLAT_FAULT_RENAME, 0}};
    for (const auto &f : kFaults) {
        SCOPED_TRACE(f.at);
        PlanOneFault(f.kind, f.at);
        gHeadless.captureLog = 1;
        EXPECT_EQ(SaveDataFile(path.c_str(), ImportText()), 0);
        ExpectOneFailedReplace(f.kind, path, old, dir.path, "blocked.kvd;data.kvd;errorlog.txt;");
        PlatPlanFault(f.kind, 0, 0);
    }
    /* Only the old file, the blocking folder and the error log are left. */
    int entries = 0;
    PlatListFolder((dir.path + "\\*").c_str(), [](const char *, int, void *user) {
        ++*(int *)user;
        return 1;
    },
                   &entries);
    EXPECT_EQ(entries, 3);
}

#ifndef _WIN32
/* A save through a link while another save of the file the link names is
** writing its temporary file: the link finds it, fails and says so, and
** neither the other save's file nor the data file is touched.  Once the
** other save is done the link's save replaces the file it names.  The link
** lies beside its file, and in a folder on another file system where there
** is one (/dev/shm is memory). */
TEST_F(DataFileTest, SavesThroughALinkSeeTheSaveOfItsFile)
{
    TempFolder dir;
    char native[1024];
    PlatNativePath(dir.path.c_str(), native, sizeof native);
    struct stat here, shm;
    const bool otherFileSystem =
        stat(native, &here) == 0 && stat("/dev/shm", &shm) == 0 && here.st_dev != shm.st_dev;
    const std::string away = "/dev/shm/kvtest_guard_" + std::to_string(getpid());
    const std::string folders[2] = {native, away};
    MakeLoadedData({{"NEW", 10, 0}}, 0, 0, nullptr);
    for (const std::string &folder : folders) {
        SCOPED_TRACE(folder);
        if (folder == away && !otherFileSystem) {
            std::printf("no tmpfs beside %s: the save across file systems is not tried\n", native);
            continue;
        }
        if (folder == away) {
            ASSERT_EQ(0, mkdir(away.c_str(), 0755));
        }
        const std::string data = folder + "/data.kvd", temp = data + ".~kv", link = dir.File("link.kvd");
        ASSERT_TRUE(WriteTestFile(data, "old data"));
        ASSERT_EQ(0, symlink(data.c_str(), (std::string(native) + "/link.kvd").c_str()));
        PlatFile other = PlatOpenFile(temp.c_str(), PLAT_CREATE_EXCLUSIVE);
        ASSERT_NE(other, nullptr);
        uint32_t written = 0;
        ASSERT_TRUE(PlatWriteFile(other, "another import", 14, &written));
        ResetShell();
        EXPECT_EQ(0, SaveDataFile(link.c_str(), ImportText()));
        EXPECT_EQ(std::string(LastMessage()), "Unable to create " + link + "\r\n\r\nAnother import is saving this data file.");
        EXPECT_EQ("another import", ReadTestFile(temp));
        EXPECT_EQ("old data", ReadTestFile(data));
        PlatCloseFile(other);
        ASSERT_TRUE(PlatDeleteFile(temp.c_str()));

        ResetShell();
        EXPECT_EQ(1, SaveDataFile(link.c_str(), ImportText()));
        EXPECT_EQ(0u, ReadTestFile(data).rfind(Bytes("\x7b\x14\xae\x3e", 4), 0)); /* version 0.34 */
        EXPECT_TRUE(PlatIsLink(link.c_str()));
        /* No temporary file is left on either side. */
        EXPECT_EQ(folder == away ? "link.kvd;" : "data.kvd;link.kvd;", ListTestFolder(dir.path));
        if (folder == away) {
            EXPECT_EQ("data.kvd;", ListTestFolder(away));
        }
        ASSERT_TRUE(PlatDeleteFile(link.c_str()));
        ASSERT_TRUE(PlatDeleteFile(data.c_str()));
    }
    rmdir(away.c_str());
}
#endif

/* The note written is the Import section given; without one the file has
** no note, even when the data was read with one.  The loaded note itself may
** be given to keep it. */
TEST_F(DataFileTest, NoteIsTheScriptsImportSection)
{
    TempFolder dir;
    static const struct {
        const char *loaded; /* the note the loaded data has */
        const char *import; /* the compiled script's Import section */
        const char *want;   /* the note of the file, null none */
    } kCases[] = {
        {"old note", nullptr, nullptr},
        {"old note", "Import:\n  DataSource: CSV\n", "Import:\n  DataSource: CSV\n"},
        {nullptr, "Import:\n  DataSource: Yahoo\n", "Import:\n  DataSource: Yahoo\n"},
    };
    const std::string path = dir.File("note.kvd");
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.loaded ? c.loaded : "no loaded note");
        UnloadData();
        MakeLoadedData({{"A", 3, 0}}, 0, 0, c.loaded);
        SetImportText(c.import);
        ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
        EXPECT_EQ(GetU32(ReadTestFile(path), 36), c.want ? (uint32_t)strlen(c.want) + 1 : 0u);
        UnloadData();
        SetImportText(nullptr);
        ASSERT_EQ(Load(path), 1);
        if (c.want) {
            ASSERT_NE(gStore.note, nullptr);
            EXPECT_STREQ(gStore.note, c.want);
        } else {
            EXPECT_EQ(gStore.note, nullptr);
        }
    }
    ASSERT_EQ(SaveDataFile(path.c_str(), gStore.note), 1);
    EXPECT_EQ(GetU32(ReadTestFile(path), 36), (uint32_t)strlen(kCases[2].want) + 1);
    UnloadData();
    ASSERT_EQ(Load(path), 1);
    EXPECT_STREQ(gStore.note, kCases[2].want);
}

/* A file without a note or list names stores length 0 for both. */
TEST_F(DataFileTest, FileWithoutNoteOrNamesReadsBack)
{
    TempFolder dir;
    MakeLoadedData({{"A", 1, 0}, {"B", 0, 0}}, 0, 0, nullptr);
    const std::string path = dir.File("bare.kvd");
    ASSERT_EQ(SaveDataFile(path.c_str(), ImportText()), 1);
    EXPECT_EQ(GetU32(ReadTestFile(path), 36), 0u);
    std::vector<std::string> before = Snapshot();
    UnloadData();
    ASSERT_EQ(Load(path), 1);
    EXPECT_TRUE(Snapshot() == before);
    EXPECT_EQ(gStore.note, nullptr);
    EXPECT_EQ(gStore.symbols[1].barCounts[BAR_DAILY], 0);
    ASSERT_NE(gStore.symbols[1].bars[BAR_DAILY], nullptr); /* room for one bar, as every array */
}

/* A date list's last date is checked as every other, and the word after it,
** which ends the list, is no date: whatever the file holds there, the list
** in memory keeps its dates and ends in 0. */
TEST_F(DataFileTest, TheLastDateAndTheEndOfADateList)
{
    TempFolder dir;
    MakeLoadedData(kTwoSymbols, 0, 0, nullptr);
    const std::string good = dir.File("good.kvd");
    ASSERT_EQ(SaveDataFile(good.c_str(), ImportText()), 1);
    const std::vector<int32_t> dates(gStore.dateLists[BAR_DAILY].dates,
                                     gStore.dateLists[BAR_DAILY].dates + gStore.dateLists[BAR_DAILY].count);
    const std::string file = ReadTestFile(good);
    UnloadData();
    baseline = gAllocatedBytes.load();
    ASSERT_GE(dates.size(), 2u);
    ASSERT_EQ(GetU32(file, 24), dates.size() + 1);
    const size_t end = DATA_HEADER_SIZE + 4 * dates.size(); /* the word that ends the daily list */
    const std::string path = dir.File("bad.kvd");

    std::string s = file;
    PutU32(s, end - 4, 100000101); /* the last date, past the calendar */
    ASSERT_TRUE(WriteTestFile(path, s));
    ResetShell();
    EXPECT_EQ(0, Load(path));
    EXPECT_EQ(1, gHeadless.messageCount);
    EXPECT_EQ("Unable to read the date list", std::string(LastMessage()));
    ExpectNothingLoaded();

    s = file;
    PutU32(s, end, 20240105);
    ASSERT_TRUE(WriteTestFile(path, s));
    ResetShell();
    ASSERT_EQ(1, Load(path));
    const DateList &daily = gStore.dateLists[BAR_DAILY];
    ASSERT_EQ((int32_t)dates.size(), daily.count);
    EXPECT_EQ(dates, std::vector<int32_t>(daily.dates, daily.dates + daily.count));
    EXPECT_EQ(0, daily.dates[daily.count]);
    UnloadData();
}
