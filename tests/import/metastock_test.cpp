/* metastock_test.cpp -- MetaStock trees written field by field by the test:
** "master", "emaster" and "xmaster" folders, both data file extensions, and
** damaged trees. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "import/import_fixture.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/import/metastock.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "script/compiler/import_items.h"
#include "shell/headless/headless.h"

namespace {

/* A 4-byte MBF real written from the float's own bits. */
std::string Mbf(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, 4);
    if (value == 0.0f) return std::string(4, '\0');
    uint32_t exponent = (bits >> 23) & 0xFF, mantissa = bits & 0x7FFFFF, sign = bits >> 31;
    std::string b(4, '\0');
    b[0] = (char)(mantissa & 0xFF);
    b[1] = (char)((mantissa >> 8) & 0xFF);
    b[2] = (char)((sign << 7) | (mantissa >> 16));
    b[3] = (char)(exponent + 2);
    return b;
}

std::string U16(uint32_t v) { return std::string{(char)(v & 0xFF), (char)(v >> 8)}; }
std::string U32(uint32_t v) { return U16(v & 0xFFFF) + U16(v >> 16); }
std::string F32(float v)
{
    std::string b(4, '\0');
    memcpy(&b[0], &v, 4);
    return b;
}
/* text placed at offset in a record of size bytes (blank or NUL filled). */
void Put(std::string &record, size_t offset, const std::string &text) { record.replace(offset, text.size(), text); }
std::string Padded(const std::string &text, size_t width) { return text + std::string(width - text.size(), ' '); }
float Stored(int32_t date) { return (float)(date - 19000000); }

struct Security {
    int fileNumber, fields;
    std::string symbol, name;
    int32_t first, last;
};

std::string Master(const std::vector<Security> &list)
{
    std::string file = U16((uint32_t)list.size()) + std::string(51, '\0');
    for (const Security &s : list) {
        std::string r(53, '\0');
        r[0] = (char)s.fileNumber;
        r[4] = (char)s.fields;
        Put(r, 7, Padded(s.name, 16));
        Put(r, 25, Mbf(Stored(s.first)));
        Put(r, 29, Mbf(Stored(s.last)));
        Put(r, 36, Padded(s.symbol, 14));
        file += r;
    }
    return file;
}

std::string Emaster(const std::vector<Security> &list)
{
    std::string file = U16((uint32_t)list.size()) + std::string(190, '\0');
    for (const Security &s : list) {
        std::string r(192, '\0');
        r[2] = (char)s.fileNumber;
        r[6] = (char)s.fields;
        Put(r, 11, s.symbol);
        Put(r, 32, s.name);
        Put(r, 64, F32(Stored(s.first)));
        Put(r, 72, F32(Stored(s.last)));
        Put(r, 139, s.name + " Incorporated");
        file += r;
    }
    return file;
}

std::string Xmaster(const std::vector<Security> &list)
{
    std::string file = std::string(10, '\0') + U16((uint32_t)list.size()) + std::string(138, '\0');
    for (const Security &s : list) {
        std::string r(150, '\0');
        Put(r, 1, s.symbol);
        Put(r, 16, s.name);
        Put(r, 65, U16((uint32_t)s.fileNumber));
        Put(r, 108, U32((uint32_t)s.first));
        Put(r, 116, U32((uint32_t)s.last));
        file += r;
    }
    return file;
}

/* {date, open, high, low, close, volume, open interest}; fields 5 leave out the open. */
std::string DataFile(int fields, const std::vector<std::vector<double>> &rows)
{
    std::string first((size_t)fields * 4, '\0');
    Put(first, 2, U16((uint32_t)rows.size()));
    std::string file = first;
    for (const auto &row : rows) {
        file += Mbf(Stored((int32_t)row[0]));
        for (int f = 1; f < fields; f++) file += Mbf((float)row[(size_t)(fields == 5 ? f + 1 : f)]);
    }
    return file;
}

TEST(MetaStockValues, MbfToDouble)
{
    struct {
        uint8_t bytes[4];
        int result;
        double value;
    } cases[] = {{{0, 0, 0, 0x81}, 1, 1.0}, {{0, 0, 0, 0}, 0, 0.0}, {{0, 0, 0x80, 0x81}, 1, -1.0}, {{0, 0, 0x20, 0x84}, 1, 10.0}, {{0xFF, 0xFF, 0x7F, 2}, 0, 0.0}, {{0, 0, 0, 1}, 0, 0.0}};
    for (const auto &c : cases) {
        double v = -7;
        EXPECT_EQ(MbfToDouble(c.bytes, &v), c.result);
        EXPECT_EQ(v, c.value);
    }
}

struct MetaStockTest : ImportTest {
    void SetUp() override
    {
        ImportTest::SetUp();
        PlatCreateFolder(tmp.File("ms").c_str());
        PlatCreateFolder(tmp.File("ms\\ext").c_str());
        Write("ms\\master", Master({{1, 6, "MSA", "Alpha", 20240102, 20240104}, {2, 5, "MSD", "Delta", 20240102, 20240104}, {9, 6, "OLD", "Old", 20200102, 20201231}}));
        Write("ms\\F1.dat", DataFile(6, {{20240102, 10, 11, 9, 10.5, 1000}, {20240103, 10.5, 12, 10, 11, 1500}, {20240104, 11, 11.5, 10.5, 11.25, 800}}));
        Write("ms\\F2.dat", DataFile(5, {{20240102, 0, 11, 9, 10, 100}, {20240103, 0, 12, 10, 11, 100}, {20240104, 0, 12, 12, 12, 100}}));
        Write("ms\\ext\\master", Master({{5, 6, "JUNK", "Junk", 20240102, 20240104}}));
        Write("ms\\ext\\emaster", Emaster({{1, 7, "MSB", "Bravo", 20240102, 20240103}}));
        Write("ms\\ext\\F1.dat", DataFile(7, {{20240102, 5, 6, 4, 5.5, 10, 77}, {20240103, 5.5, 6, 5, 5.75, 20, 78}}));
        Write("ms\\ext\\xmaster", Xmaster({{300, 0, "MSC", "Charlie", 20240103, 20240104}, {400, 0, "MSB", "Bravo again", 20240102, 20240103}}));
        Write("ms\\ext\\F300.mwd", DataFile(7, {{20240103, 2, 2.5, 1.5, 2.25, 5, 1}, {20240104, 2.25, 3, 2, 2.5, 6, 2}}));
        Write("ms\\ext\\F400.mwd", DataFile(7, {{20240102, 9, 9, 9, 9, 9, 9}}));
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "MetaStock"), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("ms")), 0);
        gImportState.StartDate = 20240101;
        gImportState.EndDate = 20240131;
        CopyString(gImportState.SaveAs, sizeof gImportState.SaveAs, tmp.File("ms.kvd").c_str(), -1);
    }
};

TEST_F(MetaStockTest, ImportsEveryLayout)
{
#ifndef _WIN32
    /* A link back up the tree is never followed. */
    char link[512];
    PlatNativePath(tmp.File("ms\\ext\\loop").c_str(), link, sizeof link);
    ASSERT_EQ(symlink("..", link), 0);
#endif
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 4) << "JUNK (master beside emaster) and OLD (ended before StartDate) are not read";
    struct {
        const char *symbol;
        std::vector<std::vector<double>> bars; /* date, open, high, low, close, volume, extra */
    } expected[] = {
        {"MSA", {{20240102, 10, 11, 9, 10.5, 1000, 0}, {20240103, 10.5, 12, 10, 11, 1500, 0}, {20240104, 11, 11.5, 10.5, 11.25, 800, 0}}},
        {"MSB", {{20240102, 5, 6, 4, 5.5, 10, 77}, {20240103, 5.5, 6, 5, 5.75, 20, 78}}},
        {"MSC", {{20240103, 2, 2.5, 1.5, 2.25, 5, 1}, {20240104, 2.25, 3, 2, 2.5, 6, 2}}},
        /* Five fields: the first open is the close, later ones the previous
        ** close unless the bar has no range. */
        {"MSD", {{20240102, 10, 11, 9, 10, 100, 0}, {20240103, 10, 12, 10, 11, 100, 0}, {20240104, 12, 12, 12, 12, 100, 0}}},
    };
    for (const auto &e : expected) {
        const SymbolRecord &r = Symbol(e.symbol);
        ASSERT_EQ(r.barCounts[BAR_DAILY], (int32_t)e.bars.size()) << e.symbol;
        for (size_t i = 0; i < e.bars.size(); i++) {
            const Bar &b = r.bars[BAR_DAILY][i];
            double got[] = {(double)b.date, b.open, b.high, b.low, b.close, b.volume, b.extra};
            for (int f = 0; f < 7; f++) EXPECT_EQ(got[f], e.bars[i][(size_t)f]) << e.symbol << " bar " << i << " field " << f;
        }
    }
    EXPECT_STREQ(Symbol("MSB").info.Name, "Bravo Incorporated");
    EXPECT_STREQ(Symbol("MSA").info.Name, "Alpha");
}

TEST_F(MetaStockTest, DamagedTreesFailTheImport)
{
    struct {
        const char *name, *file;
        std::string bytes;
    } cases[] = {
        {"a listed data file is missing", "ms\\master", Master({{7, 6, "MISS", "Missing", 20240102, 20240104}})},
        {"a data file is cut short", "ms\\F1.dat", std::string("\0\0", 2)},
        {"a field count of 4", "ms\\master", Master({{1, 4, "MSA", "Alpha", 20240102, 20240104}})},
        {"a cut directory record", "ms\\master", Master({{1, 6, "MSA", "Alpha", 20240102, 20240104}}).substr(0, 80)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::string saved = ReadTestFile(tmp.File(c.file));
        Write(c.file, c.bytes);
        EXPECT_EQ(RunImport(), 0);
        EXPECT_EQ(gStore.symbolCount, 0);
        Write(c.file, saved);
        ResetImportState();
        SetUp();
    }
}

/* Directory and data files are found in any case, as Windows finds them:
** with EMASTER beside MASTER only EMASTER is read.  A record dated on no day
** of the calendar is no bar: it is passed over and reported. */
TEST_F(ImportTest, MetaStockNamesInAnyCaseAndDatesThatAreDays)
{
    PlatCreateFolder(tmp.File("up").c_str());
    Write("up\\MASTER", Master({{5, 6, "JUNK", "Junk", 20190102, 20201231}}));
    Write("up\\EMASTER", Emaster({{1, 6, "MSU", "Upper", 20190102, 20201231}}));
    Write("up\\F5.DAT", DataFile(6, {{20190102, 1, 1, 1, 1, 1}}));
    Write("up\\F1.DAT", DataFile(6, {{20190102, 1, 2, 0.5, 1.5, 10},
                                    {20197392, 9, 9, 9, 9, 9},
                                    {20200230, 9, 9, 9, 9, 9},
                                    {20200603, 2, 3, 1, 2.5, 20},
                                    {20200600, 9, 9, 9, 9, 9},
                                    {20209999, 9, 9, 9, 9, 9}}));
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "MetaStock"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("up")), 0);
    gImportState.StartDate = 20190101;
    gImportState.EndDate = 20241231;
    std::string log = tmp.File("ms.log");
    CopyString(gImportState.SaveAs, sizeof gImportState.SaveAs, tmp.File("up.kvd").c_str(), -1);
    CopyString(gImportState.LogFile, sizeof gImportState.LogFile, log.c_str(), -1);
    ASSERT_EQ(RunImport(), 1) << Messages() << ReadTestFile(log);
    ASSERT_EQ(gStore.symbolCount, 1) << "MASTER beside EMASTER is not read";
    const SymbolRecord &r = Symbol("MSU");
    EXPECT_EQ(Dates(r), (std::vector<int32_t>{20190102, 20200603}));
    EXPECT_EQ(Dates(r, BAR_WEEKLY), (std::vector<int32_t>{20190102, 20200603}));
    EXPECT_NE(ReadTestFile(log).find(tmp.File("up\\F1.DAT") + ": 4 records not read as bars: record 3 (the date is "
                                     "not a calendar day), record 4 (the date is not a calendar day), record 6 (the "
                                     "date is not a calendar day), record 7 (the date is not a calendar day)\n"),
              std::string::npos)
        << ReadTestFile(log);
}

} // namespace

namespace {

/* What an unattended import of the tree "ms" under its own script ends with:
** the exit code, the data file it saved ("" none), the import log and the
** error log (which the native program repeats on standard error). */
struct TreeImport {
    int code;
    std::string saved, log, errors;
};

struct MetaStockRunTest : MetaStockTest {
    /* lines: more of the script's Import lines, before its DataPath. */
    TreeImport Run(const std::string &lines = "")
    {
        const std::string out = tmp.File("run.kvd"), log = tmp.File("run.log");
        PlatDeleteFile(out.c_str());
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        TreeImport r;
        r.code = RunImportScript("  DataSource: MetaStock\n" + lines + "  DataPath: " + tmp.File("ms") +
                                 "\n  StartDate: 20240101\n  EndDate: 20240131\n  SaveAs: " + out + "\n  LogFile: " + log +
                                 "\n");
        r.saved = PlatFileExists(out.c_str()) ? ReadTestFile(out) : "";
        r.log = ReadTestFile(log);
        r.errors = ErrorLog();
        return r;
    }
};

/* A data file holding fewer records than its first record announces was cut
** short: the import fails naming it and what it lacks, and stores nothing of
** it, however it was cut. */
TEST_F(MetaStockRunTest, ADataFileShorterThanItAnnouncesFailsTheImport)
{
    std::vector<std::vector<double>> ten;
    for (int d = 2; d <= 11; d++) ten.push_back({20240100.0 + d, 10, 11, 9, 10, 100});
    const std::string whole = DataFile(6, ten);
    const std::string three = DataFile(6, {ten[0], ten[1], ten[2]});
    std::string none = DataFile(6, {});
    none.replace(2, 2, U16(5));
    std::string many = three;
    many.replace(2, 2, U16(65535));
    const struct {
        const char *how;
        std::string bytes;
        const char *lacks; /* after "F1.dat was cut short: it holds " */
    } cases[] = {
        {"cut inside the sixth record", whole.substr(0, 24 + 5 * 24 + 12), "5 of the 10 records its first record announces, and 12 bytes of the next"},
        {"one byte short", three.substr(0, three.size() - 1), "2 of the 3 records its first record announces, and 23 bytes of the next"},
        {"a count without records", none, "0 of the 5 records its first record announces"},
        {"65535 announced", many, "3 of the 65535 records its first record announces"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.how);
        Write("ms\\F1.dat", c.bytes);
        const TreeImport r = Run();
        EXPECT_EQ(RESULT_IMPORT_FAILURE, r.code);
        EXPECT_EQ("", r.saved) << "nothing is stored";
        const std::string reason = tmp.File("ms\\F1.dat") + " was cut short: it holds " + c.lacks + "\n";
        EXPECT_NE(std::string::npos, r.errors.find(reason)) << r.errors;
        EXPECT_NE(std::string::npos, r.log.find(reason + "\nImport Not Completed\n")) << r.log;
    }
}

/* Every way the tree fails says why, in the error log and the import log,
** with the README's exit code: 3 for what cannot be read, 6 for what is
** damaged. */
TEST_F(MetaStockRunTest, FailuresSayWhyWithTheirExitCodes)
{
    const std::string master = ReadTestFile(tmp.File("ms\\master"));
    const struct {
        const char *what, *file;
        std::string bytes;
        int code;
        std::string reason;
    } cases[] = {
        {"a field count of 4", "ms\\master", Master({{1, 4, "MSA", "Alpha", 20240102, 20240104}}), RESULT_IMPORT_FAILURE,
         "Unable to read " + tmp.File("ms\\F1.dat") + ": its directory file gives it 4 fields, and a data file holds 5, 6 or 7"},
        {"a listed data file is missing", "ms\\master", Master({{7, 6, "MISS", "Missing", 20240102, 20240104}}),
         RESULT_FILE_ERROR, "Unable to open " + tmp.File("ms\\F7.dat") + " for reading"},
        /* Damaged, not unreadable: named with what it lacks, as a data file is. */
        {"a directory file cut inside its record", "ms\\master", master.substr(0, 80), RESULT_IMPORT_FAILURE,
         tmp.File("ms\\master") + " was cut short: it holds 0 of the 3 records its header announces, and 27 bytes of "
                                   "the next"},
        {"a directory file cut inside its header", "ms\\ext\\emaster", Emaster({}).substr(0, 100), RESULT_IMPORT_FAILURE,
         tmp.File("ms\\ext\\emaster") + " was cut short: it holds 100 of the 192 bytes of its header"},
        {"an xmaster without its second record", "ms\\ext\\xmaster", Xmaster({{300, 0, "MSC", "Charlie", 20240103, 20240104},
                                                                          {400, 0, "MSB", "Bravo again", 20240102, 20240103}})
                                                                      .substr(0, 300),
         RESULT_IMPORT_FAILURE, tmp.File("ms\\ext\\xmaster") + " was cut short: it holds 1 of the 2 records its header announces"},
        {"a data file cut inside its first record", "ms\\F1.dat", std::string("\0\0", 2), RESULT_IMPORT_FAILURE,
         tmp.File("ms\\F1.dat") + " was cut short: it holds 2 of the 24 bytes of its first record"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string saved = ReadTestFile(tmp.File(c.file));
        Write(c.file, c.bytes);
        const TreeImport r = Run();
        Write(c.file, saved);
        EXPECT_EQ(c.code, r.code);
        EXPECT_EQ("", r.saved);
        EXPECT_NE(std::string::npos, r.errors.find(c.reason)) << r.errors;
        EXPECT_NE(std::string::npos, r.log.find(c.reason)) << r.log;
        EXPECT_NE(std::string::npos, r.log.find("\nImport Not Completed\n")) << r.log;
    }
    /* A tree that cannot be listed: a file where its folder should be. */
    const std::string notAFolder = tmp.File("ms\\F1.dat");
    EXPECT_EQ(RESULT_FILE_ERROR, RunImportScript("  DataSource: MetaStock\n  DataPath: " + notAFolder + "\n  SaveAs: " +
                                                 tmp.File("x.kvd") + "\n  LogFile: " + tmp.File("x.log") + "\n"));
    const std::string reason = "Unable to read " + notAFolder + "\r\n\r\n";
    EXPECT_NE(std::string::npos, ErrorLog().find(reason)) << ErrorLog();
    EXPECT_NE(std::string::npos, ReadTestFile(tmp.File("x.log")).find("Unable to read " + notAFolder + "\n\n"))
        << ReadTestFile(tmp.File("x.log"));
}

/* A directory record without a symbol and a data record that is no bar (a
** high below the low, an open or close outside the low to high range, a
** record of zeros or without a date) are passed over and named; the rest is
** stored.  The open the 5-field layout makes from the last close lies
** inside its bar: a gap past the last close opens at the nearer end of the
** day's range.  Bytes past the records a directory or data file announces are
** noted, and not read. */
TEST_F(MetaStockRunTest, RecordsThatAreNoSecurityOrNoBarAreNamed)
{
    Write("ms\\master", Master({{1, 6, "MSA", "Alpha", 20240102, 20240104}, {2, 5, "", "Nameless", 20240102, 20240104},
                                 {2, 5, "MSD", "Delta", 20240102, 20240105}}) +
              std::string(53, 'x'));
    std::string f1 = DataFile(6, {{20240102, 10, 11, 9, 10.5, 1000}, {20240103, 10.5, 9, 12, 11, 1500},
                                  {20240103, 20, 11.5, 10.5, 11, 800}, {20240104, 11, 11.5, 10.5, 11.25, 800}});
    f1.insert(24 * 4, std::string(24, '\0') + std::string(4, '\0') + Mbf(10) + Mbf(11) + Mbf(9) + Mbf(10) + Mbf(100));
    f1.replace(2, 2, U16(6));
    Write("ms\\F1.dat", f1 + DataFile(6, {{20240105, 11, 11.5, 10.5, 11.25, 800}}).substr(24));
    Write("ms\\F2.dat", DataFile(5, {{20240102, 0, 11, 9, 10, 100}, {20240103, 0, 12, 10, 13, 100}, {20240104, 0, 15, 13, 14, 100}}));
    EchoKept echo;
    const TreeImport r = Run();
    ASSERT_EQ(0, r.code) << r.errors;
    UnloadData();
    ASSERT_EQ(1, ReadDataFile(tmp.File("run.kvd").c_str(), 0)) << Messages();
    ASSERT_EQ(gStore.symbolCount, 4) << "MSA, MSD, and MSB and MSC of ext";
    EXPECT_EQ(Dates(Symbol("MSA")), (std::vector<int32_t>{20240102, 20240104}));
    EXPECT_EQ(Dates(Symbol("MSD")), (std::vector<int32_t>{20240102, 20240104})) << "a gap from the last close is a bar";
    EXPECT_EQ(Symbol("MSD").bars[BAR_DAILY][1].open, 13) << "the last close, 10, lies below the day's 13 to 15";
    for (const std::string &line : {tmp.File("ms\\master") + ": 1 record without a symbol was not read: 3\n",
                                    tmp.File("ms\\master") + ": 53 bytes past the 3 records its header announces were not read\n",
                                    tmp.File("ms\\F1.dat") + ": 4 records not read as bars: record 3 (the high is below the "
                                                             "low), record 4 (the open lies outside the low to high range), "
                                                             "record 5 (the record holds only zeros), record 6 (no date could "
                                                             "be read)\n",
                                    tmp.File("ms\\F1.dat") + ": 24 bytes past the 6 records its first record announces were "
                                                             "not read\n",
                                    tmp.File("ms\\F2.dat") + ": 1 record not read as bars: record 3 (the close lies outside "
                                                             "the low to high range)\n"}) {
        EXPECT_NE(std::string::npos, r.log.find(line)) << line << r.log;
        EXPECT_NE(std::string::npos, echo.text.find("2:" + line)) << line << echo.text;
    }
}

/* A record whose prices its PriceMult carries past the finite is named and
** not stored, as in a price file. */
TEST_F(MetaStockRunTest, RecordsPastTheFiniteByTheirPriceMultAreNamed)
{
    const TreeImport r = Run("  SymInfoFile: " + Write("info.csv", "Symbol,PriceMult\nMSA,1e-310\n") + "\n");
    ASSERT_EQ(0, r.code) << r.errors;
    UnloadData();
    ASSERT_EQ(1, ReadDataFile(tmp.File("run.kvd").c_str(), 0)) << Messages();
    EXPECT_EQ(0, FindSymbolIndex("MSA"));
    EXPECT_EQ(3, gStore.symbolCount) << "MSB, MSC and MSD";
    const std::string reason = "a price divided by PriceMult is not finite";
    const std::string line = tmp.File("ms\\F1.dat") + ": 3 records not read as bars: record 2 (" + reason + "), record 3 (" +
        reason + "), record 4 (" + reason + ")\n";
    EXPECT_NE(std::string::npos, r.log.find(line)) << line << r.log;
}

/* The open the 5-field layout makes is the last close as the file holds it,
** before the PriceMult divides both: 10 pence, inside the day's 9.5 to 12. */
TEST_F(MetaStockRunTest, AMadeUpOpenIsTheLastCloseBeforeThePriceMult)
{
    Write("ms\\F2.dat", DataFile(5, {{20240102, 0, 11, 9, 10, 100}, {20240103, 0, 12, 9.5, 11, 100}}));
    const TreeImport r = Run("  SymInfoFile: " + Write("info.csv", "Symbol,PriceMult\nMSD,100\n") + "\n");
    ASSERT_EQ(0, r.code) << r.errors;
    UnloadData();
    ASSERT_EQ(1, ReadDataFile(tmp.File("run.kvd").c_str(), 0)) << Messages();
    ASSERT_EQ(Dates(Symbol("MSD")), (std::vector<int32_t>{20240102, 20240103}));
    EXPECT_DOUBLE_EQ(Symbol("MSD").bars[BAR_DAILY][1].open, 0.10);
    EXPECT_DOUBLE_EQ(Symbol("MSD").bars[BAR_DAILY][1].low, 0.095);
}

} // namespace

namespace {

/* A symbol is stored once: a sub-folder's directory file, or another
** directory file of the same folder, that lists a symbol stored already
** names the data file it is not read from and the one the symbol came from. */
TEST_F(MetaStockRunTest, ASymbolListedAgainIsNamedAndNotRead)
{
    PlatCreateFolder(tmp.File("ms\\zsub").c_str());
    Write("ms\\zsub\\master", Master({{3, 6, "MSA", "Alpha again", 20240102, 20240104}}));
    Write("ms\\zsub\\F3.dat", DataFile(6, {{20240102, 50, 51, 49, 50, 5}}));
    EchoKept echo;
    const TreeImport r = Run();
    ASSERT_EQ(0, r.code) << r.errors;
    UnloadData();
    ASSERT_EQ(1, ReadDataFile(tmp.File("run.kvd").c_str(), 0)) << Messages();
    ASSERT_EQ(gStore.symbolCount, 4);
    EXPECT_EQ(Dates(Symbol("MSA")), (std::vector<int32_t>{20240102, 20240103, 20240104}));
    EXPECT_EQ(Symbol("MSA").bars[BAR_DAILY][0].close, 10.5);
    EXPECT_EQ(Symbol("MSB").bars[BAR_DAILY][0].close, 5.5);
    for (const std::string &line :
         {tmp.File("ms\\zsub\\F3.dat") + " was not imported: it becomes the symbol MSA, which was imported from " +
              tmp.File("ms\\F1.dat") + "\n",
          tmp.File("ms\\ext\\F400.mwd") + " was not imported: it becomes the symbol MSB, which was imported from " +
              tmp.File("ms\\ext\\F1.dat") + "\n"}) {
        EXPECT_NE(std::string::npos, r.log.find(line)) << line << r.log;
        EXPECT_NE(std::string::npos, echo.text.find("2:" + line)) << line << echo.text;
    }
}

} // namespace
