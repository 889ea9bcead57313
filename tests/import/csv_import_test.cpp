/* csv_import_test.cpp -- whole imports from price files written by the tests:
** a folder of per-symbol files with header lines, a multi-symbol file with
** CSVFields, comma decimals and day-first dates; the data file they write, and
** damaged input. */
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/path_macros.h"
#include "import/import_fixture.h"
#include "marketdata/import/csv_import.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/import/online_import.h"
#include "marketdata/import/web_parsers.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/import_items.h"
#include "shell/headless/headless.h"

namespace {

/* A line of a price file and why it is refused (null: it is a bar). */
struct LineCase {
    const char *line;
    const char *reason;
};

struct CsvImportTest : ImportTest {
    std::string out, log;
    std::string before; /* the data file ImportUniverse wrote */
    void SetUp() override
    {
        ImportTest::SetUp();
        out = tmp.File("out.kvd");
        log = tmp.File("import.log");
    }
    /* The Import lines every test here shares, after its own blocks. */
    void Finish(int padding = 2)
    {
        gImportState.StartDate = 20240101;
        gImportState.EndDate = 20240131;
        gImportState.Padding = padding;
        CopyString(gImportState.SaveAs, sizeof gImportState.SaveAs, out.c_str(), -1);
        CopyString(gImportState.LogFile, sizeof gImportState.LogFile, log.c_str(), -1);
    }
    std::vector<std::string> ImportLinesAlike(const std::string &folder, const std::string &name,
                                              const std::string &header, const char *fields,
                                              const std::vector<LineCase> &lines);
    /* A CSV source reading a folder of the test folder, and the shared lines. */
    void CsvFolder(const std::string &folder, int padding = 2)
    {
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File(folder)), 0);
        Finish(padding);
    }
    /* A CSV source reading a folder of the test folder, then one reading the
    ** multi-symbol file name (written with text here) by CSVFields fields,
    ** and the shared lines; the multi-symbol file's path. */
    std::string CsvFolderAndFile(const std::string &folder, const char *fields, const std::string &name,
                                 const std::string &text)
    {
        EXPECT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        EXPECT_EQ(Line(IMPKW_DATA_PATH, tmp.File(folder)), 0);
        EXPECT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        EXPECT_EQ(Line(IMPKW_CSV_FIELDS, fields), 0);
        const std::string file = Write(name, text);
        EXPECT_EQ(Line(IMPKW_CSV_FILE, file), 0);
        Finish(0);
        return file;
    }
    /* Clears the import lines and the reports for another import, the loaded
    ** data too when asked. */
    void Restart(bool unload)
    {
        if (unload) UnloadData();
        ResetImportState();
        ResetHeadlessShell();
    }
    void Universe()
    {
        PlatCreateFolder(tmp.File("prices").c_str());
        Write("prices\\AAA.csv", "Date,Open,High,Low,Close,Volume\n"
                                 "2024-01-02,10,11,9,10.5,1000\n"
                                 "2024-01-03,10.5,12,10,11,1500\n"
                                 "2024-01-05,11,11.5,10.5,11.2,800\n"
                                 "2024-01-08,11.2,12,11,11.8,900\n");
        /* Newest first; a 2:1 split on 5 January and two dividends. */
        Write("prices\\bbb.csv", "Date,Open,High,Low,Close,Volume,Split,Dividend\r\n"
                                 "2024-01-08,50,51,49,50,100,1,0\r\n"
                                 "2024-01-04,100,102,98,100,50,0,0\r\n"
                                 "2024-01-05,50,52,48,51,100,2,0.5\r\n"
                                 "2024-01-03,99,101,97,98,40,,1.0\r\n"
                                 "2024-01-02,98,99,96,97,60,,\r\n");
        Write("prices\\notes.txt", "not a price file\n");
        Write("prices\\ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ.csv", "Date,Close\n2024-01-02,1\n");
        Write("prices\\EMPTY.csv", "");
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Open,High,Low,Close,Volume"), 0);
        ASSERT_EQ(Line(IMPKW_CSV_NUM_FMT, "Comma"), 0);
        ASSERT_EQ(Line(IMPKW_CSV_DATE_FMT, "DMY"), 0);
        /* Cut at any fixed length, the tail of this line would read as a bar of GGG. */
        std::string longLine = "EEE;04/01/2024;2;2;2;2;5;" + std::string(240, 'x') + "GGG;05/01/2024;1;1;1;1;1\n";
        ASSERT_EQ(Line(IMPKW_CSV_FILE, Write("multi.txt", "ccc;02/01/2024;1,5;1,6;1,4;1,55;1.000\n"
                                                          "CCC;03/01/2024;1,55;1,7;1,5;1,65;2.000\n"
                                                          "\n"
                                                          "DDD;03/01/2024;5;5;5;5;10\n"
                                                          "bad line;;;\n"
                                                          "DDD;x;5;5;5;5;10\n" +
                                                 longLine)),
                  0);
        Finish();
    }
    /* Imports the universe; the data file it wrote goes to before. */
    void ImportUniverse()
    {
        Universe();
        ASSERT_EQ(RunImport(), 1) << Messages();
        before = ReadTestFile(out);
    }
};

struct BarValues {
    int32_t date;
    double open, high, low, close, volume, split;
};

void ExpectDaily(const SymbolRecord &record, int barSize, const std::vector<BarValues> &expected)
{
    ASSERT_EQ(record.barCounts[barSize], (int32_t)expected.size()) << record.info.Symbol << " size " << barSize;
    for (size_t i = 0; i < expected.size(); i++) {
        const Bar &b = record.bars[barSize][i];
        const BarValues &e = expected[i];
        EXPECT_EQ(b.date, e.date) << record.info.Symbol << " " << i;
        EXPECT_DOUBLE_EQ(b.open, e.open) << record.info.Symbol << " " << i;
        EXPECT_DOUBLE_EQ(b.high, e.high) << record.info.Symbol << " " << i;
        EXPECT_DOUBLE_EQ(b.low, e.low) << record.info.Symbol << " " << i;
        EXPECT_DOUBLE_EQ(b.close, e.close) << record.info.Symbol << " " << i;
        EXPECT_DOUBLE_EQ(b.volume, e.volume) << record.info.Symbol << " " << i;
        EXPECT_DOUBLE_EQ(b.split, e.split) << record.info.Symbol << " " << i;
    }
}

TEST_F(CsvImportTest, ImportsAFolderAndAMultiSymbolFile)
{
    Universe();
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 5);
    EXPECT_EQ(std::string(gStore.symbols[0].info.Symbol) + gStore.symbols[1].info.Symbol + gStore.symbols[2].info.Symbol +
                  gStore.symbols[3].info.Symbol + gStore.symbols[4].info.Symbol,
              "AAAbbbCCCDDDEEE");
    std::vector<int32_t> days(gStore.dateLists[BAR_DAILY].dates, gStore.dateLists[BAR_DAILY].dates + gStore.dateLists[BAR_DAILY].count);
    EXPECT_EQ(days, (std::vector<int32_t>{20240102, 20240103, 20240104, 20240105, 20240108}));
    std::vector<int32_t> weeks(gStore.dateLists[BAR_WEEKLY].dates, gStore.dateLists[BAR_WEEKLY].dates + gStore.dateLists[BAR_WEEKLY].count);
    EXPECT_EQ(weeks, (std::vector<int32_t>{20240105, 20240108}));

    /* AAA has no bar on the 4th, a market day of the others: padded. */
    ExpectDaily(Symbol("AAA"), BAR_DAILY,
                {{20240102, 10, 11, 9, 10.5, 1000, 1}, {20240103, 10.5, 12, 10, 11, 1500, 1}, {20240104, 11, 11, 11, 11, 0, 1}, {20240105, 11, 11.5, 10.5, 11.2, 800, 1}, {20240108, 11.2, 12, 11, 11.8, 900, 1}});
    ExpectDaily(Symbol("AAA"), BAR_WEEKLY, {{20240105, 10, 12, 9, 11.2, 3300, 1}, {20240108, 11.2, 12, 11, 11.8, 900, 1}});
    /* The split of the 5th applies to every earlier bar. */
    ExpectDaily(Symbol("BBB"), BAR_DAILY,
                {{20240102, 98, 99, 96, 97, 60, 2}, {20240103, 99, 101, 97, 98, 40, 2}, {20240104, 100, 102, 98, 100, 50, 2}, {20240105, 50, 52, 48, 51, 100, 1}, {20240108, 50, 51, 49, 50, 100, 1}});
    ExpectDaily(Symbol("BBB"), BAR_WEEKLY, {{20240105, 49, 52, 48, 51, 400, 1}, {20240108, 50, 51, 49, 50, 100, 1}});
    ExpectDaily(Symbol("BBB"), BAR_MONTHLY, {{20240108, 49, 52, 48, 50, 500, 1}});
    const SymbolRecord &bbb = Symbol("BBB");
    ASSERT_EQ(bbb.eventCount, 2);
    EXPECT_EQ(bbb.events[0].date, 20240103);
    EXPECT_EQ(bbb.events[0].value, 1.0);
    EXPECT_EQ(bbb.events[1].value, 0.5);
    /* Nothing is padded after a symbol's last bar. */
    ExpectDaily(Symbol("CCC"), BAR_DAILY, {{20240102, 1.5, 1.6, 1.4, 1.55, 1000, 1}, {20240103, 1.55, 1.7, 1.5, 1.65, 2000, 1}});
    ExpectDaily(Symbol("DDD"), BAR_DAILY, {{20240103, 5, 5, 5, 5, 10, 1}});
    ExpectDaily(Symbol("EEE"), BAR_DAILY, {{20240104, 2, 2, 2, 2, 5, 1}});
    EXPECT_EQ(Symbol("AAA").info.listNumber, 1u);
    EXPECT_EQ(Symbol("CCC").info.listNumber, 2u);
    EXPECT_EQ(gStore.listNameCount, 2);

    std::string text = ReadTestFile(log);
    EXPECT_NE(text.find("AAA added padding bar"), std::string::npos);
    EXPECT_NE(text.find("ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ.csv\tnot imported because its name is too long"),
              std::string::npos);
    EXPECT_NE(text.find("\nImport Was Completed\n"), std::string::npos);

    /* The written file loads back to the same data. */
    std::vector<std::vector<Bar>> bars;
    for (int32_t s = 0; s < gStore.symbolCount; s++)
        for (int b = 0; b < BAR_SIZE_COUNT; b++)
            bars.emplace_back(gStore.symbols[s].bars[b], gStore.symbols[s].bars[b] + gStore.symbols[s].barCounts[b]);
    UnloadData();
    ASSERT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 5);
    size_t k = 0;
    for (int32_t s = 0; s < gStore.symbolCount; s++)
        for (int b = 0; b < BAR_SIZE_COUNT; b++, k++) {
            ASSERT_EQ(gStore.symbols[s].barCounts[b], (int32_t)bars[k].size());
            EXPECT_EQ(memcmp(gStore.symbols[s].bars[b], bars[k].data(), bars[k].size() * sizeof(Bar)), 0) << s << " " << b;
        }
}

TEST_F(CsvImportTest, AFailedImportKeepsThePreviousDataFile)
{
    ImportUniverse();
    Restart(false);
    PlatCreateFolder(tmp.File("none").c_str());
    CsvFolder("prices");
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("none")), 0);
    EXPECT_EQ(RunImport(), 0);
    EXPECT_EQ(std::string(LastMessage()), "No files with .csv extension were found in " + tmp.File("none"));
    EXPECT_EQ(gStore.symbolCount, 0);
    EXPECT_EQ(ReadTestFile(out), before);
    EXPECT_NE(ReadTestFile(log).find("\nImport Not Completed\n"), std::string::npos);
}

/* Two imports saving one data file: each writes a temporary file of its
** own, and the one that finds the other still writing says so and fails,
** leaving the other's file and the previous data file as they were. */
TEST_F(CsvImportTest, AnotherSaveOfTheDataFileIsNeverOverwritten)
{
    ImportUniverse();
    std::string temp = out + ".~kv";
    PlatFile other = PlatOpenFile(temp.c_str(), PLAT_CREATE_EXCLUSIVE);
    ASSERT_NE(other, nullptr);
    uint32_t written = 0;
    ASSERT_TRUE(PlatWriteFile(other, "another import", 14, &written));
    Restart(false);
    Universe();
    EXPECT_EQ(RunImport(), 0);
    EXPECT_EQ(std::string(LastMessage()), "Unable to create " + out + "\r\n\r\nAnother import is saving this data file.");
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    PlatCloseFile(other);
    EXPECT_EQ(ReadTestFile(temp), "another import");
    EXPECT_TRUE(ReadTestFile(out) == before);

    /* Left behind by an import that was killed: the next import removes it,
    ** even one that comes to nothing. */
    Restart(false);
    PlatCreateFolder(tmp.File("nothing").c_str());
    Write("nothing\\OLD.csv", "Date,Close\n2001-01-02,1\n");
    CsvFolder("nothing");
    EXPECT_EQ(RunImport(), 0);
    EXPECT_FALSE(PlatFileExists(temp.c_str()));
    EXPECT_TRUE(ReadTestFile(out) == before);
}

/* The pumps an import made up to the end of writing its data file (whose
** status text says "Creating ..." until the file is in place). */
int gPumpsWhileRunning;
bool gSaving;
void NotePumps(int part, const char *text)
{
    if (gSaving) gPumpsWhileRunning = gHeadless.pumpCount;
    if (part == 0) gSaving = strncmp(text, "Creating ", 9) == 0;
}

/* A stop asked for at any moment of an import, the save included, keeps
** the previous data file and leaves no temporary file. */
TEST_F(CsvImportTest, AStopAtAnyMomentKeepsThePreviousDataFile)
{
    ImportUniverse();
    /* Every run starts with nothing loaded, so that its pumps count alike. */
    Restart(true);
    Universe();
    gPumpsWhileRunning = 0;
    gSaving = false;
    gHeadless.statusEcho = NotePumps;
    ASSERT_EQ(RunImport(), 1);
    gHeadless.statusEcho = nullptr;
    int pumps = gPumpsWhileRunning;
    ASSERT_GT(pumps, 3);
    for (int pump = 1; pump <= pumps; pump++) {
        SCOPED_TRACE("stop at pump " + std::to_string(pump) + " of " + std::to_string(pumps));
        Restart(true);
        Universe();
        Write("prices\\AAA.csv", "Date,Close\n2024-01-02,99\n"); /* so that a new file would differ */
        gHeadless.stopAtPump = pump;
        EXPECT_EQ(RunImport(), 0);
        EXPECT_TRUE(ReadTestFile(out) == before);
        EXPECT_FALSE(PlatFileExists((out + ".~kv").c_str()));
    }
}

TEST_F(CsvImportTest, NothingImportedIsAFailure)
{
    PlatCreateFolder(tmp.File("empty").c_str());
    Write("empty\\ZZZ.csv", "Date,Open,High,Low,Close\n2023-05-01,1,1,1,1\n");
    Write("empty\\YYY.csv", "");
    CsvFolder("empty");
    EXPECT_EQ(RunImport(), 0);
    EXPECT_STREQ(LastMessage(), "No symbols were imported.");
    EXPECT_FALSE(PlatFileExists(out.c_str()));
}

/* What the console echo of the native program would show, kept for a test. */
std::string gEchoed;
void KeepEcho(int stream, const char *text) { gEchoed += std::to_string(stream) + ":" + text; }
/* Runs f with the console echo kept in gEchoed (emptied first); f's answer. */
template <class F> int WithEcho(F f)
{
    gEchoed.clear();
    gConsoleEcho = KeepEcho;
    const int result = f();
    gConsoleEcho = nullptr;
    return result;
}

/* line is in the import log (its text) and was echoed to standard error. */
void ExpectReported(const std::string &text, const std::string &line)
{
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_NE(gEchoed.find("2:" + line), std::string::npos) << line << gEchoed;
}

/* Imports lines as the folder's file name under header and, after "MMM,",
** as a multi-symbol file read with fields, and loads the data file saved.
** The log's report of each file's refused lines, the folder's file first. */
std::vector<std::string> CsvImportTest::ImportLinesAlike(const std::string &folder, const std::string &name,
                                                         const std::string &header, const char *fields,
                                                         const std::vector<LineCase> &lines)
{
    std::string folderText = header + "\n", multiText, folderReport, multiReport;
    int refused = 0;
    for (size_t k = 0; k < lines.size(); k++) {
        folderText += std::string(lines[k].line) + "\n";
        multiText += "MMM," + std::string(lines[k].line) + "\n";
        if (!lines[k].reason || refused++ >= REFUSED_LINES_SHOWN) continue;
        const std::string sep = refused > 1 ? "," : "";
        folderReport += sep + " line " + std::to_string(k + 2) + " (" + lines[k].reason + ")";
        multiReport += sep + " line " + std::to_string(k + 1) + " (" + lines[k].reason + ")";
    }
    if (refused > REFUSED_LINES_SHOWN) {
        const std::string more = " and " + std::to_string(refused - REFUSED_LINES_SHOWN) + " more";
        folderReport += more;
        multiReport += more;
    }
    PlatCreateFolder(tmp.File(folder).c_str());
    const std::string file = Write(folder + "\\" + name, folderText);
    const std::string multi = CsvFolderAndFile(folder, fields, "multi.csv", multiText);
    EXPECT_EQ(WithEcho(RunImport), 1) << Messages();
    UnloadData();
    EXPECT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    const std::string counted = ": " + std::to_string(refused) + " lines not read as bars:";
    return {file + counted + folderReport + "\n", multi + counted + multiReport + "\n"};
}

/* A line that is not a bar is never stored as one: it is passed over,
** counted and reported with its number and reason; the rest goes on.  A
** line with more fields than its header names is shifted, and one with
** fewer is cut short: neither is a bar.  Negative prices, dates out of
** order and repeated are bars. */
TEST_F(CsvImportTest, LinesThatAreNotBarsAreRefusedWithTheirReason)
{
    PlatCreateFolder(tmp.File("bad").c_str());
    std::string path = Write("bad\\QQQ.csv", "Date,Open,High,Low,Close,Volume\n"
                                             "2024-01-02,1,1,1,1\n"
                                             "2024-01-03,2,2,2,2,abc\n"
                                             "2024-01-03,3,3,3,3,30,99,99,99,99,99,99,99,99,99,99,99,99,99\n"
                                             "not a date,4,4,4,4,4\n"
                                             "2024-01-04,x,y,z,5,5\n"
                                             "2024-01-05,,6,5,5.5,1\n"
                                             "2024-01-08,nan,6,5,5.5,1\n"
                                             "2024-01-09,6,inf,5,5.5,1\n"
                                             "2024-01-10,6,5,7,5.5,1\n"
                                             "2024-01-11,-1.5,-1,-2,-1.25,7\n");
    CsvFolder("bad", 0);
    int result = WithEcho(RunImport);
    ASSERT_EQ(result, 1) << Messages();
    EXPECT_EQ(gRun.resultCode.load(), RESULT_OK);
    ExpectDaily(Symbol("QQQ"), BAR_DAILY, {{20240111, -1.5, -1, -2, -1.25, 7, 1}});
    const std::string report = path + ": 9 lines not read as bars: line 2 (the line has fewer fields than its header "
                                      "names), line 3 (a number field holds text), line 4 (the line has more fields than "
                                      "its header names), line 5 (no date could be read), line 6 (a number field holds "
                                      "text) and 4 more\n";
    EXPECT_NE(ReadTestFile(log).find(report), std::string::npos) << ReadTestFile(log);
    EXPECT_EQ(gEchoed, "2:" + report + "1:Symbols kept: 1, passed over: 0, refused: 0; lines not read as bars: 9\n");
    EXPECT_EQ(gImport.refusedLineCount, 9);

    /* The last two reasons, on lines of their own. */
    Write("bad\\QQQ.csv", "Date,Open,High,Low,Close\n2024-01-09,6,inf,5,5.5\n2024-01-10,6,5,7,5.5\n2024-01-11,1,1,1,1\n");
    ResetImportState();
    CsvFolder("bad", 0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    EXPECT_NE(ReadTestFile(log).find(path + ": 2 lines not read as bars: line 2 (a number is not finite), line 3 (the "
                                            "high is below the low)\n"),
              std::string::npos)
        << ReadTestFile(log);
}

/* A file that gives no bar at all is reported with the reason; the import
** of the others succeeds.  Where the layout the file was read with may be
** the cause, the reason names it and the settings that choose it.  A file
** with a date that reads only day first (month first under DMY) is refused
** whole, so that none of its dates is stored with day and month swapped,
** nor marks a market day. */
TEST_F(CsvImportTest, FilesRefusedWholeAreReportedWithTheReason)
{
    PlatCreateFolder(tmp.File("some").c_str());
    const struct {
        const char *name, *text, *reason;
    } files[] = {
        {"EMPTY.csv", "\r\n\n", "the file is empty"},
        {"HEAD.csv", "Date,Open,High,Low,Close\n", "the file holds only a header line"},
        {"SEMI.csv", "Date;Open;High;Low;Close\n2024-01-02;1;1;1;1\n",
         "no line is divided by the comma delimiter, which CSVDelim chooses"},
        {"EURO.csv", "Date;Open;High;Low;Close\n2024-01-02;1,5;1,6;1,4;1,55\n",
         "no date could be read; lines were read with the comma delimiter and decimal points, which CSVDelim and "
         "CSVNumFmt choose"},
        {"WHEN.csv", "Date,Close\nyesterday,1\n2024-13-01,2\n",
         "no date could be read; lines were read with the comma delimiter and decimal points, which CSVDelim and "
         "CSVNumFmt choose"},
        {"TEXT.csv", "Date,Close\n2024-01-02,one\n",
         "no line holds a bar; lines were read with the comma delimiter and decimal points, which CSVDelim and "
         "CSVNumFmt choose"},
        {"DMY.csv", "Date,Close\n01/02/2024,1\n\n13/01/2024,2\n",
         "line 4 has the date 13/01/2024, which reads only day first; CSVDateFmt chooses the order (DMY for this file)"},
        /* A year-first date settles nothing about the lines after it. */
        {"MIX.csv", "Date,Close\n2024-01-02,1\n02/01/2024,2\n13/01/2024,3\n",
         "line 4 has the date 13/01/2024, which reads only day first; CSVDateFmt chooses the order (DMY for this file)"},
    };
    for (const auto &f : files) Write(std::string("some\\") + f.name, f.text);
    Write("some\\GOOD.csv", "Date,Close\n2024-01-03,1\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("some")), 0);
    /* In a multi-symbol file, whose first line (no header) would otherwise
    ** pass for one, and the same under CSVDateFmt DMY. */
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    const std::string multi = Write("multi.csv", "AAA,13/01/2024,1\nAAA,01/02/2024,2\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, multi), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_DATE_FMT, "DMY"), 0);
    const std::string us = Write("us.csv", "BBB,02/01/2024,2\nBBB,01/13/2024,1\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, us), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_DATE_FMT, "MDY"), 0);
    const std::string mixed = Write("mixed.csv", "CCC,2024-01-04,1\nDDD,02/01/2024,2\nDDD,03/01/2024,3\nDDD,13/01/2024,4\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, mixed), 0);
    Finish(0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    EXPECT_EQ(gRun.resultCode.load(), RESULT_OK);
    ASSERT_EQ(gStore.symbolCount, 1);
    const DateList &calendar = gStore.dateLists[BAR_DAILY];
    EXPECT_EQ(std::vector<int32_t>(calendar.dates, calendar.dates + calendar.count), std::vector<int32_t>{20240103});
    std::string text = ReadTestFile(log);
    for (const auto &f : files)
        EXPECT_NE(text.find(tmp.File(std::string("some\\") + f.name) + " was not imported: " + f.reason + "\n"),
                  std::string::npos)
            << f.name << "\n"
            << text;
    EXPECT_NE(text.find(us + " was not imported: line 2 has the date 01/13/2024, which reads only month first; "
                             "CSVDateFmt chooses the order (MDY for this file)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(multi + " was not imported: line 1 has the date 13/01/2024, which reads only day first; "
                                "CSVDateFmt chooses the order (DMY for this file)\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find(mixed + " was not imported: line 4 has the date 13/01/2024, which reads only day first; "
                                "CSVDateFmt chooses the order (DMY for this file)\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(gImport.refusedCount, 11);
}

#ifndef _WIN32
/* A file whose path would pass 259 characters is reported, never opened
** under a cut name: here the cut name is another file's.  (Windows cannot
** make such a file through the calls this program uses.) */
TEST_F(CsvImportTest, PathsOverTheLimitAreReportedNotCut)
{
    const std::string name = std::string(239 - tmp.path.size(), 'f'), folder = tmp.File(name);
    ASSERT_EQ(folder.size(), 240u);
    PlatCreateFolder(folder.c_str());
    std::string file = std::string(15, 'L') + ".csv"; /* 240 + 1 + 19 = 260 characters */
    ASSERT_TRUE(WriteTestFile(folder + "\\" + file, "Date,Close\n2024-01-02,1\n"));
    ASSERT_TRUE(WriteTestFile(folder + "\\" + file.substr(0, file.size() - 1), "Date,Close\n2024-01-02,666\n"));
    ASSERT_TRUE(WriteTestFile(folder + "\\OK.csv", "Date,Close\n2024-01-02,2\n"));
    CsvFolder(name, 0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1);
    EXPECT_STREQ(gStore.symbols[0].info.Symbol, "OK");
    EXPECT_NE(ReadTestFile(log).find(file + " file path is too long -- maximum is 260 chars.\n"), std::string::npos)
        << ReadTestFile(log);
}
#endif

/* The native program's import log names files and folders, in its block
** headings too, with '/', as its terminal does; the Windows program keeps '\'. */
TEST_F(CsvImportTest, TheLogShowsPathsAsTheProgramWritesThem)
{
    PlatCreateFolder(tmp.File("some").c_str());
    Write("some\\EMPTY.csv", "");
    Write("some\\BAD.csv", "Date,Close\n2024-01-02,x\n2024-01-03,1\n");
    std::vector<int> modes = {0};
#ifndef _WIN32
    modes.push_back(1); /* the native program's */
#endif
    for (int native : modes) {
        Restart(true);
        CsvFolder("some", 0);
        gMessageState.nativePaths = native;
        const int result = RunImport();
        gMessageState.nativePaths = 0;
        ASSERT_EQ(1, result) << Messages();
        std::string folder = tmp.File("some"), saved = out;
        if (native) {
            std::replace(folder.begin(), folder.end(), '\\', '/');
            std::replace(saved.begin(), saved.end(), '\\', '/');
        }
        const char separator = native ? '/' : '\\';
        const std::string text = ReadTestFile(log);
        for (const std::string &line : {"\nImporting CSV Data From " + folder + "\n",
                                        folder + separator + "EMPTY.csv was not imported: the file is empty\n",
                                        folder + separator + "BAD.csv: 1 line not read as bars: line 2",
                                        "\nSaved As " + saved + "\n"})
            EXPECT_NE(std::string::npos, text.find(line)) << native << ": " << line << "\n" << text;
    }
}

/* A byte order mark before the first line is no part of it, in a
** multi-symbol file and in an online CSV answer. */
TEST_F(CsvImportTest, ByteOrderMarkIsDropped)
{
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Open,High,Low,Close"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FILE, Write("bom.csv", "\xEF\xBB\xBF"
                                                    "AAA,2024-01-02,1,1,1,1\nAAA,2024-01-03,2,2,2,2\n")),
              0);
    Finish(0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1);
    EXPECT_EQ(Dates(Symbol("AAA")), (std::vector<int32_t>{20240102, 20240103}));

    ResetImportState();
    UnloadData();
    Begin("Tiingo", 20240101, 20241231);
    ImportItem row = *(ImportItem *)gImportItems.items;
    SymbolRecord record = {};
    EXPECT_EQ(ParseHeaderCsv(&row, "\xEF\xBB\xBF" "date,close\n2024-01-02,5\n2024-01-03,6\n", "TTT", &record, 0), 2);
    FreeSymbolRecord(&record);
}

/* Online workers read CSV answers side by side, each in its own row's order
** of day and month, and the user's date setting stays as it was. */
TEST_F(CsvImportTest, WorkersReadDatesInTheirOwnRowsOrder)
{
    Begin("Tiingo", 20240101, 20241231);
    gSettings.DateInputFormat = 0;
    ImportItem monthFirst = *(ImportItem *)gImportItems.items, dayFirst = monthFirst;
    monthFirst.csvDateOrder = 0;
    dayFirst.csvDateOrder = 1;
    const char *answer = "date,close\n02/01/2024,5\n03/01/2024,6\n04/01/2024,7\n";
    const std::vector<int32_t> monthFirstDates{20240201, 20240301, 20240401}, dayFirstDates{20240102, 20240103, 20240104};
    int wrong[2] = {0, 0};
    auto parse = [&](ImportItem *row, const std::vector<int32_t> &expect, int *errors) {
        for (int k = 0; k < 300; k++) {
            SymbolRecord record = {};
            if (ParseHeaderCsv(row, answer, "TTT", &record, 0) != 3 || Dates(record) != expect) ++*errors;
            FreeSymbolRecord(&record);
        }
    };
    std::thread a(parse, &monthFirst, std::cref(monthFirstDates), &wrong[0]);
    std::thread b(parse, &dayFirst, std::cref(dayFirstDates), &wrong[1]);
    a.join();
    b.join();
    EXPECT_EQ(0, wrong[0]);
    EXPECT_EQ(0, wrong[1]);
    EXPECT_EQ(0, gSettings.DateInputFormat);
}

TEST_F(CsvImportTest, ParseNumberFormats)
{
    struct {
        const char *text;
        int format;
        double value;
    } cases[] = {{"1.234,56", NUMBER_COMMA, 1234.56}, {"1,234.56", NUMBER_POINT, 1234.56}, {"12,5", NUMBER_POINT, 125}, {"-0,5", NUMBER_COMMA, -0.5}, {"7x", NUMBER_POINT, 7}, {"", NUMBER_POINT, 0},
                 /* read whole, however long */
                 {"000000000000000000000000000000000010.75", NUMBER_POINT, 10.75},
                 {"1,000,000,000,000,000,000,000,000,000,000,000,000", NUMBER_POINT, 1e36},
                 {"1.000.000.000.000.000.000.000.000.000.000.000,5", NUMBER_COMMA, 1e33}};
    for (const auto &c : cases) EXPECT_DOUBLE_EQ(ParseNumber(c.text, c.format), c.value) << c.text;
}

/* Number fields are read whole, however long, in a folder's files and in a
** multi-symbol file; a symbol too long to keep is refused with its line, as
** a cut one would be another symbol. */
TEST_F(CsvImportTest, LongFieldsAreReadWholeOrRefused)
{
    const std::string zeros(34, '0'), big = "1" + std::string(36, '0');
    PlatCreateFolder(tmp.File("long").c_str());
    Write("long\\LNG.csv", "Date,Open,High,Low,Close,Volume\n2024-01-02,10,11,9," + zeros + "10.75," + big + "\n");
    const std::string longSymbol(40, 'S');
    /* Two symbols of the longest kept that differ in their last character only. */
    const std::string longest(38, 'S');
    const std::string multi = CsvFolderAndFile("long", "Symbol,Date,Close,Volume", "multi.csv",
                                               "MMM,2024-01-02,\"" + zeros + "2.5\"," + big + "\n" + longSymbol +
                                                   ",2024-01-02,3,3\n" + longSymbol + "X,2024-01-03,4,4\n" + longest +
                                                   "A,2024-01-02,5,5\n" + longest + "B,2024-01-02,6,6\n");
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 4) << ReadTestFile(log);
    ExpectDaily(Symbol("LNG"), BAR_DAILY, {{20240102, 10, 11, 9, 10.75, 1e36, 1}});
    ExpectDaily(Symbol("MMM"), BAR_DAILY, {{20240102, 2.5, 2.5, 2.5, 2.5, 1e36, 1}});
    ExpectDaily(Symbol((longest + "A").c_str()), BAR_DAILY, {{20240102, 5, 5, 5, 5, 5, 1}});
    ExpectDaily(Symbol((longest + "B").c_str()), BAR_DAILY, {{20240102, 6, 6, 6, 6, 6, 1}});
    EXPECT_NE(ReadTestFile(log).find(multi + ": 2 lines not read as bars: line 2 (the symbol is longer than 39 "
                                             "characters), line 3 (the symbol is longer than 39 characters)\n"),
              std::string::npos)
        << ReadTestFile(log);
}

/* Lines end in CR LF, LF or CR alone, in a folder's files and in a
** multi-symbol file alike; lines are numbered the same in each. */
TEST_F(CsvImportTest, LineEndsOfEverySystemReadAlike)
{
    const char *const ends[3] = {"\n", "\r\n", "\r"};
    const char *const names[3] = {"LF", "CRLF", "CR"};
    PlatCreateFolder(tmp.File("ends").c_str());
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("ends")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    std::vector<std::string> multis;
    for (int k = 0; k < 3; k++) {
        const std::string e = ends[k], n = names[k];
        Write("ends\\" + n + ".csv", "Date,Close" + e + "2024-01-02,1" + e + "2024-01-03,x" + e + "2024-01-04,3" + e);
        multis.push_back(Write(n + "multi.csv", "M" + n + ",2024-01-02,1" + e + "M" + n + ",2024-01-03,x" + e + "M" + n +
                                                    ",2024-01-04,3" + e));
        ASSERT_EQ(Line(IMPKW_CSV_FILE, multis.back()), 0);
    }
    Finish(0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 6);
    const std::string text = ReadTestFile(log);
    for (int k = 0; k < 3; k++) {
        for (const std::string &symbol : {std::string(names[k]), "M" + std::string(names[k])})
            EXPECT_EQ(Dates(Symbol(symbol.c_str())), (std::vector<int32_t>{20240102, 20240104})) << symbol;
        EXPECT_NE(text.find(tmp.File("ends\\" + std::string(names[k]) + ".csv") +
                            ": 1 line not read as bars: line 3 (a number field holds text)\n"),
                  std::string::npos)
            << names[k] << "\n" << text;
        EXPECT_NE(text.find(multis[k] + ": 1 line not read as bars: line 2 (a number field holds text)\n"),
                  std::string::npos)
            << names[k] << "\n" << text;
    }
}

/* A folder that cannot be read says so, with the system's reason, instead
** of finding no files in it. */
TEST_F(CsvImportTest, AFolderThatCannotBeReadSaysSo)
{
    const std::string notAFolder = Write("prices.csv", "Date,Close\n2024-01-02,1\n");
    for (const std::string &folder : {notAFolder, tmp.File("missing")}) {
        Restart(true);
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, folder), 0);
        Finish(0);
        EXPECT_EQ(ImportExitCode(), RESULT_FILE_ERROR) << "a folder that cannot be read";
        EXPECT_EQ(std::string(LastMessage()).rfind("Unable to read " + folder + "\r\n\r\n", 0), 0u) << LastMessage();
        EXPECT_GT(strlen(LastMessage()), folder.size() + 19) << LastMessage(); /* the system's reason follows */
    }
}

} // namespace

namespace {

TEST_F(CsvImportTest, MissesReportNamesWhatWasNotFound)
{
    PlatCreateFolder(tmp.File("prices").c_str());
    Write("prices\\AAA.csv", "Date,Close\n2024-01-02,1\n2024-01-03,2\n");
    Write("prices\\BBB.csv", "Date,Close\n2024-01-02,1\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_SYM_INFO_FILE, Write("info.csv", "Symbol,Name\nAAA,Alpha\nQQQ,Quebec\n")), 0);
    ASSERT_EQ(Line(IMPKW_EVENT_LIST_FILE, Write("events.csv", "Symbol,Date,Type,Value\nAAA,2024-01-04,3,1\nZZZ,2024-01-02,3,1\n")), 0);
    ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, "AAA ZZZ"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
    Finish(0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1) << "only the included symbol";
    EXPECT_STREQ(gStore.symbols[0].info.Name, "Alpha");
    std::string text = ReadTestFile(log);
    EXPECT_NE(text.find("\nEventList symbols/dates not found in imported data:\nAAA has no bar for 1/4/24\n"
                        "ZZZ was not imported\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nIncludeList symbols not imported:\nZZZ\tlist 1\n"), std::string::npos);
    EXPECT_NE(text.find("\nSymInfo symbols not imported:\nQQQ\n"), std::string::npos);
    EXPECT_NE(text.find("\nSaved As " + out + "\n"), std::string::npos);
}

TEST_F(CsvImportTest, CsiFuturesContractFiles)
{
    PlatCreateFolder(tmp.File("csif").c_str());
    Write("csif\\futuresinfo.txt", "CSI\nFile Name,Symbol,Description,Currency,Big Point,Tick Size,Minimum Tick\n"
                                   "ES_2024H.csv,ES,E-mini,USD,50,25,0.01\n");
    Write("csif\\ES_2024H.csv", "Date,Open,High,Low,Close,TotalVolume,OI,UnAdjustedClose,ExpiryDate,NumericDeliveryMonth\n"
                                "2024-01-02,100,101,99,100.5,1000,500,4700,20240315,202403\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSIFutures"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("csif")), 0);
    Finish(0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    const SymbolRecord &es = Symbol("ES_2024H");
    EXPECT_EQ(es.securityType, SECURITY_FUTURES);
    EXPECT_EQ(es.info.DelistDate, 20240315);
    EXPECT_DOUBLE_EQ(es.info.TickSize, 0.25);
    EXPECT_EQ(es.info.PointValue, 50);
    ASSERT_EQ(es.barCounts[BAR_DAILY], 1);
    EXPECT_EQ(es.bars[BAR_DAILY][0].close, 100.5);
    EXPECT_EQ(es.bars[BAR_DAILY][0].volume, 1000);
    EXPECT_EQ(es.bars[BAR_DAILY][0].extra, 4700);
    ASSERT_EQ(es.eventCount, 2);
    EXPECT_EQ(es.events[0].kind, EVENT_CONTRACT);
    EXPECT_EQ(es.events[0].value, 20240315);
    EXPECT_EQ(es.events[1].kind, EVENT_CONTRACT_SECOND);
    EXPECT_EQ(es.events[1].value, 202403);
    EXPECT_EQ(gHeadless.noticeCount, 0);
}

/* A CSI futures expiry that is no day of the calendar, in date form or not
** (a sign or a fraction of a misread line), would be stored as the contract
** (and the delisting) of one that never was, or leave its bar without a
** contract: its line is refused by name, and the contracts of the other
** lines stay. */
TEST_F(CsvImportTest, CsiFuturesExpiryThatIsNoDayRefusesItsLine)
{
    PlatCreateFolder(tmp.File("csif").c_str());
    Write("csif\\futuresinfo.txt", "CSI\nFile Name,Symbol,Description,Currency,Big Point,Tick Size,Minimum Tick\n"
                                   "ES_2024H.csv,ES,E-mini,USD,50,25,0.01\n");
    const std::string file = Write("csif\\ES_2024H.csv", "Date,Open,High,Low,Close,ExpiryDate,NumericDeliveryMonth\n"
                                                         "2024-01-02,100,101,99,100.5,20240315,202403\n"
                                                         "2024-01-03,100,101,99,100.5,20240230,202403\n"
                                                         "2024-01-04,100,101,99,100.5,20240614,202406\n"
                                                         "2024-01-05,100,101,99,100.5,-20240614,202406\n"
                                                         "2024-01-08,100,101,99,100.5,20240614.5,202406\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSIFutures"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("csif")), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
    const SymbolRecord &es = Symbol("ES_2024H");
    EXPECT_EQ(Dates(es), (std::vector<int32_t>{20240102, 20240104}));
    EXPECT_EQ(es.info.DelistDate, 20240614);
    std::vector<double> contracts;
    for (int32_t i = 0; i < es.eventCount; i++)
        if (es.events[i].kind == EVENT_CONTRACT) contracts.push_back(es.events[i].value);
    EXPECT_EQ(contracts, (std::vector<double>{20240315, 20240614}));
    const std::string line = file + ": 3 lines not read as bars: line 3 (the expiry date is not a calendar day), line 5 "
        "(the expiry date is not a calendar day), line 6 (the expiry date is not a calendar day)\n";
    EXPECT_NE(gEchoed.find("2:" + line), std::string::npos) << line << gEchoed;
}

TEST_F(CsvImportTest, OnlineSourceWithoutItsServiceFailsCleanly)
{
    /* Nothing listens on port 1 of this machine. */
    OnlineHost saved[ONLINE_HOST_COUNT];
    memcpy(saved, gOnlineHosts, sizeof saved);
    for (OnlineHost &h : gOnlineHosts) h = {"127.0.0.1", 1, 0};
    gSettings.ImportTimeout = 1;
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "Yahoo"), 0);
    ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, "SPY"), 0);
    Finish(0);
    EXPECT_EQ(RunImport(), 0);
    memcpy(gOnlineHosts, saved, sizeof saved);
    EXPECT_EQ(std::string(LastMessage()).rfind("Yahoo data import encountered an error.\r\n", 0), 0u) << LastMessage();
    EXPECT_NE(ReadTestFile(log).find("Importing Yahoo Data From Yahoo"), std::string::npos);
}

} // namespace

namespace {

TEST_F(CsvImportTest, ExcludeIfFiltersFinishedSymbols)
{
    Universe();
    static const char kFilter[] = "C > 40";
    gImportFilter.formula.scriptText = kFilter;
    gImportFilter.formula.start = 0;
    gImportFilter.formula.length = (int32_t)strlen(kFilter);
    ASSERT_EQ(CompileFormula(&gImportFilter.formula, SECTION_IMPORT, 0), 1) << Messages();
    ASSERT_EQ(RunImport(), 1) << Messages();
    FreeFormulaNodes(&gImportFilter.formula);
    gImportFilter = StandaloneFormula{};
    EXPECT_EQ(gStore.symbolCount, 4) << "BBB closes at 50";
    EXPECT_NE(ReadTestFile(log).find("bbb\twas filtered\n"), std::string::npos);
}

} // namespace

namespace {

TEST_F(CsvImportTest, CsiStocksPreferTextFiles)
{
    PlatCreateFolder(tmp.File("csis").c_str());
    Write("csis\\stockinfo.csv", "CSI stocks\nSymbol,Description,Exchange,Country\nIBM,Intl Business,NYSE,USA\n");
    Write("csis\\IBM.txt", "Date,Open,High,Low,Close,Volume\n2024-01-02,1,2,1,2,10\n");
    Write("csis\\MSFT.csv", "Date,Open,High,Low,Close,Volume\n2024-01-02,1,2,1,2,10\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSIStocks"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("csis")), 0);
    Finish(0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1);
    const SymbolInfo &ibm = Symbol("IBM").info;
    EXPECT_STREQ(ibm.Name, "Intl Business");
    EXPECT_STREQ(ibm.Type, "Stock");
    EXPECT_STREQ(ibm.Domicile, "USA");
    EXPECT_EQ(ibm.TickSize, 0.01);
}

} // namespace

namespace {

/* A NUL byte damages its own line only, in a folder's file and in a
** multi-symbol file: the lines after it are read, and the count is true. */
TEST_F(CsvImportTest, ANulByteEndsOnlyItsLine)
{
    PlatCreateFolder(tmp.File("damaged").c_str());
    const std::string nul(1, '\0');
    const std::string file = Write("damaged\\ZERO.csv", "Date,Close\n2024-01-02,1\n2024-01-03,2" + nul + "5\n2024-01-04,3\n"
                                                   "2024-01-05,4\n");
    const std::string multi = CsvFolderAndFile("damaged", "Symbol,Date,Close", "multi.csv",
                                               "MMM,2024-01-02,1\nM" + nul + "MM,2024-01-03,2\nMMM,2024-01-04,3\n");
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 2);
    EXPECT_EQ(Dates(Symbol("ZERO")), (std::vector<int32_t>{20240102, 20240104, 20240105}));
    EXPECT_EQ(Dates(Symbol("MMM")), (std::vector<int32_t>{20240102, 20240104}));
    const std::string text = ReadTestFile(log);
    for (const std::string &line : {file + ": 1 line not read as bars: line 3 (the line holds a NUL byte)\n",
                                    multi + ": 1 line not read as bars: line 2 (the line holds a NUL byte)\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(gImport.refusedLineCount, 2);
}

/* A header that maps no close would store every close as 0: the file is
** refused whole, its columns named.  Such a file is no list's miss. */
TEST_F(CsvImportTest, FilesWithoutACloseColumnAreRefused)
{
    PlatCreateFolder(tmp.File("noclose").c_str());
    const struct {
        const char *name, *text, *columns;
    } files[] = {
        {"LAST.csv", "Date,Open,High,Low,Last,Volume\n2024-01-02,1,2,1,2,10\n", "Date, Open, High, Low, Last, Volume"},
        {"ADJ.csv", "Date,Open,High,Low,Adj Close,Volume\n2024-01-02,1,2,1,2,10\n", "Date, Open, High, Low, Adj Close, Volume"},
        {"STAR.csv", "Date,Open,High,Low,Close*,Adj Close**,Volume\n2024-01-02,1,2,1,2,2,10\n",
         "Date, Open, High, Low, Close*, Adj Close**, Volume"},
        {"PRICE.csv", "Date,Price\n2024-01-02,5\n", "Date, Price"},
    };
    for (const auto &f : files) Write(std::string("noclose\\") + f.name, f.text);
    Write("noclose\\GOOD.csv", "Date,Close\n2024-01-02,7\n");
    CsvFolder("noclose", 0);
    ASSERT_EQ(RunImport(), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1);
    EXPECT_EQ(gStore.symbols[0].bars[BAR_DAILY][0].close, 7);
    const std::string text = ReadTestFile(log);
    for (const auto &f : files)
        EXPECT_NE(text.find(tmp.File(std::string("noclose\\") + f.name) + " was not imported: no column holds the close "
                            "(the columns are " + f.columns + "); CSVFields names the columns when the header does not\n"),
                  std::string::npos)
            << f.name << "\n" << text;
    EXPECT_EQ(text.find("IncludeList symbols not imported"), std::string::npos) << text;
    EXPECT_EQ(gImport.refusedCount, 4);
}

/* CSVFields that names a price column but not the others would store them as
** 0 (a low of 0 fires every stop, an open of 0 trades at 0): the file is
** refused as one whose header names no such column, in a folder and as a
** multi-symbol file.  Closes alone make their bars. */
TEST_F(CsvImportTest, CsvFieldsWithoutAPriceAreRefusedAsAHeaderIs)
{
    PlatCreateFolder(tmp.File("named").c_str());
    const std::string oc = Write("named\\OC.csv", "2024-01-02,10,10.5\n2024-01-03,10.5,11\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Date,Open,Close"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("named")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,High,Low,Close"), 0);
    const std::string hlc = Write("hlc.csv", "HLC,2024-01-02,11,9,10.5\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, hlc), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,,Close"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FILE, Write("closes.csv", "CLS,2024-01-02,x,7\n")), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1);
    ExpectDaily(Symbol("CLS"), BAR_DAILY, {{20240102, 7, 7, 7, 7, 0, 1}});
    const std::string text = ReadTestFile(log);
    ExpectReported(text, oc + " was not imported: no column holds the high (CSVFields names Date,Open,Close)\n");
    ExpectReported(text, hlc + " was not imported: no column holds the open (CSVFields names Symbol,Date,High,Low,Close)\n");
}

/* A thousands separator groups three digits.  Under decimal points a comma
** followed by other than three digits (100,00, 22,72) is most likely a
** decimal comma, and under decimal commas such a point a decimal point: the
** line is refused saying so, never stored as another number (10000, 2272,
** 105).  1,234.5 and 1.234,5 read as written. */
TEST_F(CsvImportTest, DecimalSeparatorsOfTheOtherFormatRefuseTheirLine)
{
    PlatCreateFolder(tmp.File("semi").c_str());
    PlatCreateFolder(tmp.File("comma").c_str());
    const std::string eu = Write("semi\\EU.csv", "Date;Open;High;Low;Close;Volume\n"
                                                 "2024-01-02;100,00;101,00;99,00;100,50;100000\n"
                                                 "2024-01-03;22;23;21;22,72;1\n"
                                                 "2024-01-04;1,234;1,235;1,233;1,234;1,000\n");
    Write("semi\\US.csv", "Date;Close\n2024-01-02;1,234.5\n2024-01-03;12,345.5\n");
    const std::string euc = Write("comma\\EUC.csv", "Date;Open;High;Low;Close;Volume\n"
                                                    "2024-01-02;10.5;11;10;10.5;100\n"
                                                    "2024-01-03;1.234,5;1.235;1.234;1.234,5;1.000\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_DELIM, "Semicolon"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("semi")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_DELIM, "Semicolon"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_NUM_FMT, "Comma"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("comma")), 0);
    Finish(0);
    const int result = WithEcho(RunImport);
    ASSERT_EQ(result, 1) << Messages();
    ExpectDaily(Symbol("EU"), BAR_DAILY, {{20240104, 1234, 1235, 1233, 1234, 1000, 1}});
    ExpectDaily(Symbol("US"), BAR_DAILY, {{20240102, 1234.5, 1234.5, 1234.5, 1234.5, 0, 1}, {20240103, 12345.5, 12345.5, 12345.5, 12345.5, 0, 1}});
    ExpectDaily(Symbol("EUC"), BAR_DAILY, {{20240103, 1234.5, 1235, 1234, 1234.5, 1000, 1}});
    const std::string comma = "a number's comma is no thousands separator; CSVNumFmt chooses a decimal comma";
    for (const std::string &line :
         {eu + ": 2 lines not read as bars: line 2 (" + comma + "), line 3 (" + comma + ")\n",
          euc + ": 1 line not read as bars: line 2 (a number's point is no thousands separator; CSVNumFmt chooses a "
                "decimal point)\n"}) {
        EXPECT_NE(ReadTestFile(log).find(line), std::string::npos) << line << ReadTestFile(log);
        EXPECT_NE(gEchoed.find("2:" + line), std::string::npos) << line << gEchoed;
    }
}

/* A quoted number whose comma is not followed by exactly three digits
** refuses its line, in a folder's file as in a multi-symbol file; a quoted
** text or thousands separator before it is no such number. */
TEST_F(CsvImportTest, QuotedDecimalCommasRefuseTheirLine)
{
    PlatCreateFolder(tmp.File("quoted").c_str());
    const std::string qd = Write("quoted\\QD.csv", "Date,Name,Open,High,Low,Close,Volume\n"
                                                   "2024-01-02,\"Acme, Inc.\",\"1,234\",\"1,234\",\"1,234\",\"1,234\",1000\n"
                                                   "2024-01-03,\"Acme, Inc.\",\"10,50\",\"11,25\",\"9,75\",\"10,50\",1000\n");
    Write("quoted\\QT.csv", "Date,Close\n2024-01-02,\"1,234\"\n");
    const std::string qm = CsvFolderAndFile("quoted", "Symbol,Date,Open,High,Low,Close,Volume", "qm.csv",
                                            "QM,2024-01-02,\"10,50\",\"11,25\",\"9,75\",\"10,50\",1000\n"
                                            "QM,2024-01-03,\"1,050\",\"1,125\",975,\"1,050\",\"2,000\"\n");
    const int result = WithEcho(RunImport);
    ASSERT_EQ(result, 1) << Messages();
    ExpectDaily(Symbol("QD"), BAR_DAILY, {{20240102, 1234, 1234, 1234, 1234, 1000, 1}});
    ExpectDaily(Symbol("QM"), BAR_DAILY, {{20240103, 1050, 1125, 975, 1050, 2000, 1}});
    ExpectDaily(Symbol("QT"), BAR_DAILY, {{20240102, 1234, 1234, 1234, 1234, 0, 1}});
    const std::string reason = " (a number's comma is no thousands separator; CSVNumFmt chooses a decimal comma)\n";
    for (const std::string &line : {qd + ": 1 line not read as bars: line 3" + reason, qm + ": 1 line not read as bars: line 1" + reason}) {
        EXPECT_NE(ReadTestFile(log).find(line), std::string::npos) << line << ReadTestFile(log);
        EXPECT_NE(gEchoed.find("2:" + line), std::string::npos) << line << gEchoed;
    }
}

/* Only the first 16 columns are read: a header column past them that names
** a field is named, and a header whose close lies past them is refused
** saying so. */
TEST_F(CsvImportTest, HeaderColumnsPastTheSixteenthAreNamed)
{
    PlatCreateFolder(tmp.File("wide").c_str());
    std::string extra, values, more, moreValues;
    for (int k = 0; k < 12; k++) extra += ",X" + std::to_string(k), values += ",0";
    for (int k = 12; k < 18; k++) more += ",X" + std::to_string(k), moreValues += ",0";
    const std::string vol = Write("wide\\VOL.csv", "Date,Open,High,Low,Close" + extra + ",Volume\n2024-01-02,1,2,1,2" + values + ",500\n");
    const std::string close = Write("wide\\CLOSE.csv", "Date" + extra + more + ",Close\n2024-01-02" + values + moreValues + ",7\n");
    CsvFolder("wide", 0);
    const int result = WithEcho(RunImport);
    ASSERT_EQ(result, 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1);
    ExpectDaily(Symbol("VOL"), BAR_DAILY, {{20240102, 1, 2, 1, 2, 0, 1}});
    const std::string text = ReadTestFile(log);
    for (const std::string &line :
         {vol + ": column 18, Volume, lies past the 16 columns read\n",
          close + ": column 20, Close, lies past the 16 columns read\n",
          close + " was not imported: no column of the first 16, the only ones read, holds the close (they are Date, X0, "
                  "X1, X2, X3, X4, X5, X6, X7, X8, X9, X10, X11, X12, X13, X14)\n"}) {
        ExpectReported(text, line);
    }
}

/* One table of damaged lines, which a folder's file and a multi-symbol file
** read alike: each line is a bar or is refused with the same reason, and a
** double quote never reaches past its line, so the lines after it are read.
** A header that leaves a quote open cannot name its columns: its file is
** refused saying so. */
TEST_F(CsvImportTest, DamagedLinesReadAlikeInAFolderAndAMultiSymbolFile)
{
    PlatCreateFolder(tmp.File("stray").c_str());
    const std::string head = Write("stray\\HEAD.csv", "Date,Open,High,Low,Close,\"Volume\n2024-01-02,1,1,1,1,1\n");
    const std::vector<std::string> reports = ImportLinesAlike(
        "stray", "GAP.csv", "Date,Open,High,Low,Close,Volume,Note", "Symbol,Date,Open,High,Low,Close,Volume",
        {
            /* Date,Open,High,Low,Close,Volume,Note */
            {"2024-01-02,1,1,1,1,1000,ok", nullptr},
            {"2024-01-03,2,2,2,2,1000,6\" gap", nullptr}, /* a quote inside a column is its text */
            {"2024-01-04,\"3,3,3,3,1000,", "it opens a double quote that it does not close"},
            {"2024-01-05,x,4,4,4,1000,", "a number field holds text"},
            {"2024-01-08,5,,5,5,1000,", "a price is missing"},
            {"2024-01-09,7,6,8,7,1000,", "the high is below the low"},
            {"not a date,8,8,8,8,1000,", "no date could be read"},
            {"2024-01-10,9,9,9,9,1000,\"a, b\"", nullptr},
            {"2024-01-11,\"10\",10,10,10,1000,x", nullptr},
            {"2024-01-12,20,10,8,9,1000,", "the open lies outside the low to high range"},
            {"2024-01-15,9,10,8,11,1000,", "the close lies outside the low to high range"},
            {"2024-01-16,0,0,0,9,1000,", nullptr}, /* a close alone: open, high and low become it */
        });
    ASSERT_EQ(gStore.symbolCount, 2);
    const std::vector<int32_t> bars = {20240102, 20240103, 20240110, 20240111, 20240116};
    EXPECT_EQ(Dates(Symbol("GAP")), bars);
    EXPECT_EQ(Dates(Symbol("MMM")), bars);
    EXPECT_EQ(Symbol("GAP").bars[BAR_DAILY][3].close, 10);
    EXPECT_EQ(Symbol("MMM").bars[BAR_DAILY][3].close, 10);
    const std::string text = ReadTestFile(log);
    for (const std::string &line :
         {reports[0], reports[1], head + " was not imported: line 1, the header, opens a double quote that it does not close\n"}) {
        ExpectReported(text, line);
    }
}

/* A line with more fields than its header names is shifted (a number with
** a thousands separator, written with the comma delimiter, moves the values
** after it one column on, so a volume would be read as a split): it is named
** and not stored, in a folder's file and in a multi-symbol file whose
** header line is passed over.  A writer that ends every line with a comma
** gives every line a field more: those lines are bars, and a line with more
** fields than they have is named. */
TEST_F(CsvImportTest, ShiftedLinesAreNamedAndTrailingCommasAreNot)
{
    const char *wide = "Date,Open,High,Low,Close,Volume,Split,Dividend";
    const struct {
        const char *name, *header;
        std::vector<std::string> lines;
        std::vector<int32_t> dates;
        const char *named; /* the report after "<file>: ", "" none */
    } cases[] = {
        {"a thousands separator", wide,
         {"2024-01-02,116,117,115,116.5,4000000,,", "2024-01-03,1,234.5,116.04,115.55,115.59,4880224,,",
          "2024-01-04,116,118,115,117,4100000,2,"},
         {20240102, 20240104},
         "1 line not read as bars: line 3 (the line has more fields than its header names)"},
        {"the first line is shifted", wide,
         {"2024-01-02,1,234.5,116.04,115.55,115.59,4880224,,", "2024-01-03,116,117,115,116.5,4000000,,"},
         {20240103},
         "1 line not read as bars: line 2 (the line has more fields than its header names)"},
        {"every line ends with a comma", "Date,Open,High,Low,Close,Volume",
         {"2024-01-02,10,11,9,10.5,100,", "2024-01-03,10,11,9,10.5,100,"}, {20240102, 20240103}, ""},
        {"a shifted line among lines ending with a comma", "Date,Open,High,Low,Close,Volume",
         {"2024-01-02,10,11,9,10.5,100,", "2024-01-03,1,011,11,9,10.5,100,", "2024-01-04,10,11,9,10.5,100,"},
         {20240102, 20240104},
         "1 line not read as bars: line 3 (the line has more fields than the file's other lines)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Restart(true);
        PlatCreateFolder(tmp.File("shift").c_str());
        std::string text = std::string(c.header) + "\n";
        for (const std::string &line : c.lines) text += line + "\n";
        const std::string file = Write("shift\\SHF.csv", text);
        CsvFolder("shift", 0);
        ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
        EXPECT_EQ(Dates(Symbol("SHF")), c.dates);
        if (c.named[0]) {
            ExpectReported(ReadTestFile(log), file + ": " + c.named + "\n");
        } else {
            EXPECT_EQ(ReadTestFile(log).find("not read as bars"), std::string::npos) << ReadTestFile(log);
        }
    }
    /* A multi-symbol file read with CSVFields measures its lines by its header. */
    Restart(true);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Open,High,Low,Close,Volume"), 0);
    const std::string multi = Write("multi.csv", "Symbol,Date,Open,High,Low,Close,Volume\n"
                                                 "AAA,2024-01-02,10,11,9,10.5,100\n"
                                                 "AAA,2024-01-03,1,011,11,9,10.5,100\n"
                                                 "AAA,2024-01-04,10,11,9,10.5,100\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, multi), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
    EXPECT_EQ(Dates(Symbol("AAA")), (std::vector<int32_t>{20240102, 20240104}));
    ExpectReported(ReadTestFile(log), multi + ": 1 line not read as bars: line 3 (the line has more fields than its header "
                                              "names)\n");
}

/* Files as exporters write them: every line ended with a delimiter, in
** every line end, and the last line cut as a file still being written
** leaves it, an end-of-file byte, a Total line, or a header repeated where
** two exports were joined; tab files whose last field is empty.  Every bar
** is stored as written, and a damaged line costs its own line only. */
TEST_F(CsvImportTest, ExportersFilesImportWholeAndADamagedLineCostsItself)
{
    const std::vector<BarValues> bars = {{20240102, 10, 11, 9, 10.5, 1000, 1},
                                         {20240103, 10.5, 12, 10, 11, 1500, 1},
                                         {20240104, 11, 11.5, 10.5, 11.2, 800, 1},
                                         {20240105, 11.2, 12, 11, 11.8, 900, 1}};
    const char *header = "Date,Open,High,Low,Close,Volume";
    const std::vector<std::string> lines = {"2024-01-02,10,11,9,10.5,1000,", "2024-01-03,10.5,12,10,11,1500,",
                                            "2024-01-04,11,11.5,10.5,11.2,800,", "2024-01-05,11.2,12,11,11.8,900,"};
    const struct {
        const char *name, *damage; /* the line after the second bar's, or after the last ("" none) */
        bool atEnd;
        const char *reason;
    } files[] = {
        {"WHOLE", "", true, nullptr},
        {"CUT", "2024-01-08,28,29", true, "the line has fewer fields than its header names"},
        {"EOF", "\x1A", true, "no date could be read"},
        {"TOTAL", "Total,,,,4200,", true, "no date could be read"},
        {"JOINED", header, false, "no date could be read"},
    };
    const char *ends[] = {"\n", "\r\n", "\r"};
    PlatCreateFolder(tmp.File("export").c_str());
    std::vector<std::string> said;
    for (size_t f = 0; f < std::size(files); f++) {
        const char *end = ends[f % std::size(ends)];
        std::string text = std::string(header) + end;
        int damagedLine = 0;
        for (size_t k = 0; k < lines.size(); k++) {
            text += lines[k] + end;
            if (files[f].damage[0] && !files[f].atEnd && k == 1) text += std::string(files[f].damage) + end, damagedLine = 4;
        }
        if (files[f].damage[0] && files[f].atEnd) text += files[f].damage, damagedLine = 6; /* no line end: cut */
        const std::string file = Write(std::string("export\\") + files[f].name + ".csv", text);
        if (files[f].reason)
            said.push_back(file + ": 1 line not read as bars: line " + std::to_string(damagedLine) + " (" + files[f].reason +
                           ")\n");
    }
    /* A line with one more empty field than the others ends its lines with. */
    Write("export\\WIDER.csv", std::string(header) + "\n" + lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3] + ",\n");
    /* The same cut in a multi-symbol file, and tab files whose volume or
    ** dividend is empty on the last field, with a spreadsheet's empty rows. */
    const std::string multi =
        CsvFolderAndFile("export", "Symbol,Date,Open,High,Low,Close,Volume", "multi.csv",
                         "Symbol,Date,Open,High,Low,Close,Volume,\nMMM," + lines[0] + "\nMMM," + lines[1] + "\nMMM," +
                             lines[2] + "\nMMM," + lines[3] + "\nMMM,2024-01-08,28,29");
    said.push_back(multi + ": 1 line not read as bars: line 6 (the line has fewer fields than its header names)\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_DELIM, "Tab"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Open,High,Low,Close,Volume"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FILE, Write("index.txt", "IDX\t2024-01-02\t100\t101\t99\t100.5\t\r\n"
                                                       "IDX\t2024-01-03\t100.5\t102\t100\t101\t\r\n")),
              0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_DELIM, "Tab"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Open,High,Low,Close,Volume,Dividend"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FILE, Write("dividends.txt", "\t\t\t\t\t\t\t\n"
                                                           "DIV\t2024-01-02\t20\t21\t19\t20\t300\t\n"
                                                           "\t\t\t\t\t\t\t\n"
                                                           "DIV\t2024-01-03\t20\t21\t19\t20.5\t400\t0.25\n"
                                                           "DIV\t2024-01-04\t20.5\t22\t20\t21\t500\t\n")),
              0);
    ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        ExpectDaily(Symbol(f.name), BAR_DAILY, bars);
    }
    ExpectDaily(Symbol("MMM"), BAR_DAILY, bars);
    ExpectDaily(Symbol("WIDER"), BAR_DAILY, bars);
    ExpectDaily(Symbol("IDX"), BAR_DAILY, {{20240102, 100, 101, 99, 100.5, 0, 1}, {20240103, 100.5, 102, 100, 101, 0, 1}});
    EXPECT_EQ(Dates(Symbol("DIV")), (std::vector<int32_t>{20240102, 20240103, 20240104}));
    EXPECT_EQ(Symbol("DIV").bars[BAR_DAILY][2].volume, 500);
    const std::string text = ReadTestFile(log);
    for (const std::string &line : said) ExpectReported(text, line);
    for (const char *quiet : {"WHOLE.csv:", "WIDER.csv:", "dividends.txt:"}) EXPECT_EQ(text.find(quiet), std::string::npos) << text;
}

/* A time that is no time of day, a split below zero (which would turn the
** factor of every earlier bar) and closes that give a split factor below
** zero (which would turn the high below the low) are refused alike in a
** folder's file and a multi-symbol file, named with their lines. */
TEST_F(CsvImportTest, TimesAndSplitsThatAreNoneAreRefusedAlike)
{
    const std::vector<std::string> reports = ImportLinesAlike(
        "odd", "ODD.csv", "Date,Time,Open,High,Low,Close,AdjClose,RealClose,Split",
        "Symbol,Date,Time,Open,High,Low,Close,AdjClose,RealClose,Split",
        {
            {"2024-01-02,09:30,10,12,8,11,,,", nullptr},
            {"2024-01-03,noon,10,12,8,11,,,", "the time is not a time of day"},
            {"2024-01-04,25:99,10,12,8,11,,,", "the time is not a time of day"},
            {"2024-01-05,,10,12,8,11,-11,22,", "the split factor is no finite number above zero"},
            {"2024-01-08,,10,12,8,11,,,-2", "the split is below zero"},
            {"2024-01-09,,10,12,8,11,11,22,", nullptr},
        });
    for (const char *symbol : {"ODD", "MMM"}) {
        SCOPED_TRACE(symbol);
        const SymbolRecord &r = Symbol(symbol);
        ASSERT_EQ(Dates(r), (std::vector<int32_t>{20240102, 20240109}));
        EXPECT_EQ(r.bars[BAR_DAILY][0].time, 93000);
        EXPECT_EQ(r.bars[BAR_DAILY][0].close, 11);
        EXPECT_EQ(r.bars[BAR_DAILY][0].split, 1);
        EXPECT_EQ(r.bars[BAR_DAILY][1].close, 22) << "the raw close over the adjusted one doubles the prices";
        EXPECT_EQ(r.bars[BAR_DAILY][1].split, 2);
    }
    const std::string text = ReadTestFile(log);
    for (const std::string &line : reports) {
        ExpectReported(text, line);
    }
}

/* A file saved as UTF-16 text, either byte order, is refused in one
** sentence saying what to save it as, and none of its lines is reported. */
TEST_F(CsvImportTest, Utf16FilesAreRefusedInOneSentence)
{
    auto utf16 = [](const std::string &text, bool bigEndian) {
        std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char c : text) bytes += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
        return bytes;
    };
    const std::string prices = "Date,Close\r\n2024-01-02,1\r\n2024-01-03,2\r\n";
    PlatCreateFolder(tmp.File("wide").c_str());
    const std::string le = Write("wide\\LE.csv", utf16(prices, false));
    const std::string be = Write("wide\\BE.csv", utf16(prices, true));
    Write("wide\\GOOD.csv", prices);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("wide")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    const std::string multi = Write("multi.csv", utf16("MMM,2024-01-02,1\r\nMMM,2024-01-03,2\r\n", false));
    ASSERT_EQ(Line(IMPKW_CSV_FILE, multi), 0);
    Finish(0);
    const int result = WithEcho(RunImport);
    ASSERT_EQ(result, 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 1);
    EXPECT_EQ(Dates(Symbol("GOOD")), (std::vector<int32_t>{20240102, 20240103}));
    for (const std::string &file : {be, le, multi}) {
        const std::string line = file + " was not imported: the file is written in UTF-16 (Unicode text); save it as "
                                        "CSV or as UTF-8 text\n";
        EXPECT_NE(gEchoed.find("2:" + line), std::string::npos) << line << gEchoed;
    }
    EXPECT_EQ(gEchoed.find("not read as bars"), std::string::npos) << gEchoed;
    EXPECT_EQ(gImport.refusedCount, 3);
    EXPECT_EQ(gImport.refusedLineCount, 0);
}

/* The symbol-information and event-list files end their lines as any
** system does, read dates in the order CSVDateFmt gives (DelistDate too),
** and are refused whole, with the line and CSVDateFmt named, when a date
** reads only in the other order. */
TEST_F(CsvImportTest, SideFilesReadAnyLineEndAndTheDateOrder)
{
    PlatCreateFolder(tmp.File("prices").c_str());
    Write("prices\\AAA.csv", "Date,Close\n2024-01-02,1\n2024-01-03,2\n");
    for (const char *order : {"DMY", "MDY"}) {
        SCOPED_TRACE(order);
        Restart(true);
        const bool dayFirst = order[0] == 'D';
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_CSV_DATE_FMT, order), 0);
        const std::string info = Write("info.csv", "Symbol,Name,Exchange,DelistDate\rAAA,Alpha,NYSE,13/02/2024\r");
        const std::string events = Write("events.csv", "Symbol,Date,Type,Value\rAAA,04/01/2024,3,1\rAAA,15/01/2024,3,1\r");
        ASSERT_EQ(Line(IMPKW_SYM_INFO_FILE, info), 0);
        ASSERT_EQ(Line(IMPKW_EVENT_LIST_FILE, events), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
        Finish(0);
        ASSERT_EQ(RunImport(), 1) << Messages();
        const SymbolRecord &aaa = Symbol("AAA");
        const std::string text = ReadTestFile(log);
        if (dayFirst) {
            EXPECT_STREQ(aaa.info.Name, "Alpha");
            EXPECT_STREQ(aaa.info.Exchange, "NYSE");
            EXPECT_EQ(aaa.info.DelistDate, 20240213);
            EXPECT_NE(text.find("AAA has no bar for 1/4/24\nAAA has no bar for 1/15/24\n"), std::string::npos) << text;
        } else {
            EXPECT_STREQ(aaa.info.Name, "");
            EXPECT_EQ(aaa.info.DelistDate, 0);
            EXPECT_EQ(text.find("EventList symbols/dates"), std::string::npos) << text;
            for (const std::string &line :
                 {info + " was not imported: line 2 has the date 13/02/2024, which reads only day first; CSVDateFmt "
                         "chooses the order (DMY for this file)\n",
                  events + " was not imported: line 3 has the date 15/01/2024, which reads only day first; CSVDateFmt "
                           "chooses the order (DMY for this file)\n"})
                EXPECT_NE(text.find(line), std::string::npos) << line << text;
        }
    }
}

/* Two files that become one symbol (blanks around a symbol are no part of
** it): the first in name order is kept whatever order the folder lists them
** in, and the other is named with the reason; so is a name too long for a
** symbol, on standard error too. */
TEST_F(CsvImportTest, FilesThatBecomeOneSymbolAreNamed)
{
    struct Pair {
        const char *first, *second, *symbol;
    };
    std::vector<Pair> pairs = {{"BRK B.csv", "BRK_B.csv", "BRK_B"}, {" BBB.csv", "BBB.csv", "BBB"}, {"CCC .csv", "CCC.csv", "CCC"}};
#ifndef _WIN32
    pairs.push_back({"AAA.CSV", "aaa.csv", "AAA"}); /* one file where names ignore case */
#endif
    for (int written = 0; written < 2; written++) {
        SCOPED_TRACE(written ? "written in reverse" : "written in name order");
        Restart(true);
        const std::string folder = "same" + std::to_string(written);
        PlatCreateFolder(tmp.File(folder).c_str());
        for (const auto &p : pairs) {
            const char *names[2] = {p.first, p.second};
            for (int k = 0; k < 2; k++) {
                const char *name = names[written ? 1 - k : k];
                Write(folder + "\\" + name, std::string("Date,Close\n2024-01-02,") + (name == p.first ? "1" : "2") + "\n");
            }
        }
        Write(folder + "\\" + std::string(40, 'L') + ".csv", "Date,Close\n2024-01-02,3\n");
        CsvFolder(folder, 0);
        const int result = WithEcho(RunImport);
        ASSERT_EQ(result, 1) << Messages();
        ASSERT_EQ(gStore.symbolCount, (int32_t)pairs.size());
        const std::string text = ReadTestFile(log);
        for (const auto &p : pairs) {
            EXPECT_EQ(Symbol(p.symbol).bars[BAR_DAILY][0].close, 1) << p.symbol;
            const std::string line = tmp.File(folder + "\\" + p.second) + " was not imported: it becomes the symbol " +
                p.symbol + ", which was imported from " + p.first + " (files are taken in name order)\n";
            ExpectReported(text, line);
        }
        EXPECT_NE(gEchoed.find("2:" + std::string(40, 'L') + ".csv\tnot imported because its name is too long\n"),
                  std::string::npos)
            << gEchoed;
        EXPECT_EQ(gImport.refusedCount, (int32_t)pairs.size() + 1);
    }
}

/* Blanks around a symbol are no part of it in any list the import reads:
** a symbol-information or event-list line (P's PriceMult divides its prices
** and its dividend joins it), an include list's symbol and its save name
** ("R > RR"), an exclude list's pattern; nor in a price file's name, and a
** file named by blanks alone (" .csv") names no symbol.  Drawn for each way
** a writer leaves blanks: after, before, inside quotes, a tab. */
TEST_F(CsvImportTest, BlanksAroundASymbolAreNoPartOfItInAnyList)
{
    for (const char *form : {"%s ", " %s", "\"%s \"", "\t%s"}) {
        SCOPED_TRACE(std::string("form [") + form + "]");
        auto blank = [&](const char *symbol) {
            char text[32];
            snprintf(text, sizeof text, form, symbol);
            return std::string(text);
        };
        Restart(true);
        PlatCreateFolder(tmp.File("blanks").c_str());
        PlatCreateFolder(tmp.File("listed").c_str());
        Write("blanks\\P.csv", "Date,Close\n2024-01-02,2400\n2024-01-03,2500\n");
        Write("blanks\\Q.csv", "Date,Close\n2024-01-02,7\n");
        Write("blanks\\ .csv", "Date,Close\n2024-01-02,8\n");
        Write("blanks\\T .csv", "Date,Close\n2024-01-02,9\n");
        Write("listed\\R.csv", "Date,Close\n2024-01-02,5\n");
        Write("listed\\S.csv", "Date,Close\n2024-01-02,6\n");
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("blanks")), 0);
        ASSERT_EQ(Line(IMPKW_EXCLUDE_LIST, Write("out.csv", "Symbol\n" + blank("Q") + "\n")), 0);
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("listed")), 0);
        ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, Write("in.csv", "Symbol\n" + blank("R") + ">" + blank("RR") + "\n")), 0);
        ASSERT_EQ(Line(IMPKW_SYM_INFO_FILE, Write("info.csv", "Symbol,PriceMult,Name\n" + blank("P") + ",100,Pea\n")), 0);
        ASSERT_EQ(Line(IMPKW_EVENT_LIST_FILE, Write("events.csv", "Symbol,Date,Type,Value\n" + blank("P") + ",2024-01-03,7,0.5\n")), 0);
        Finish(0);
        ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
        std::vector<std::string> symbols;
        for (int32_t i = 0; i < gStore.symbolCount; i++) symbols.push_back(gStore.symbols[i].info.Symbol);
        EXPECT_EQ(symbols, (std::vector<std::string>{"P", "RR", "T"}));
        const SymbolRecord &p = Symbol("P");
        EXPECT_STREQ(p.info.Name, "Pea");
        ExpectDaily(p, BAR_DAILY, {{20240102, 24, 24, 24, 24, 0, 1}, {20240103, 25, 25, 25, 25, 0, 1}});
        ASSERT_EQ(p.eventCount, 1);
        EXPECT_EQ(p.events[0].date, 20240103);
        EXPECT_EQ(p.events[0].kind, 7);
        EXPECT_EQ(p.events[0].value, 0.5);
        EXPECT_EQ(Symbol("RR").bars[BAR_DAILY][0].close, 5);
    }
}

/* A price file the program may not read is refused with the system's
** reason, in the log and on standard error; a folder whose files none can
** be read says so for each; a multi-symbol file gives the reason too. */
TEST_F(CsvImportTest, FilesThatCannotBeReadAreRefusedWithTheReason)
{
    PlatCreateFolder(tmp.File("locked").c_str());
    const std::string aaa = Write("locked\\AAA.csv", "Date,Close\n2024-01-02,1\n");
    const std::string bbb = Write("locked\\BBB.csv", "Date,Close\n2024-01-02,2\n");
    char denied[256];
    PlatErrorText(PLAT_ERR_ACCESS_DENIED, denied, sizeof denied);
    const std::string reason = std::string("the file cannot be read: ") + denied + "\n";
    for (int unreadable : {1, 2}) {
        SCOPED_TRACE(unreadable);
        Restart(true);
        CsvFolder("locked", 0);
        PlatPlanFault(PLAT_FAULT_OPEN_READ, 0, unreadable);
        const int result = RunImport();
        PlatPlanFault(PLAT_FAULT_OPEN_READ, 0, 0);
        const std::string text = ReadTestFile(log);
        EXPECT_NE(text.find(aaa + " was not imported: " + reason), std::string::npos) << text;
        EXPECT_EQ(text.find("IncludeList symbols not imported"), std::string::npos) << text;
        EXPECT_EQ(gImport.refusedCount, unreadable);
        if (unreadable == 2) {
            EXPECT_EQ(result, 0);
            EXPECT_NE(text.find(bbb + " was not imported: " + reason), std::string::npos) << text;
        } else {
            EXPECT_EQ(result, 1) << Messages();
            EXPECT_EQ(Symbol("BBB").bars[BAR_DAILY][0].close, 2);
        }
    }
    Restart(true);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FILE, aaa), 0);
    Finish(0);
    PlatPlanFault(PLAT_FAULT_OPEN_READ, 0, 1);
    EXPECT_EQ(ImportExitCode(), RESULT_FILE_ERROR);
    PlatPlanFault(PLAT_FAULT_OPEN_READ, 0, 0);
    EXPECT_EQ(std::string(LastMessage()), "Unable to read " + aaa + "\r\n\r\n" + denied);
    EXPECT_NE(ReadTestFile(log).find(aaa + " was not imported: " + reason), std::string::npos) << ReadTestFile(log);
}

#ifndef _WIN32
/* In the native program '/' separates folders wherever '\\' does: a price
** folder or file named after ?scriptpath?/ or with sub/.. is found from the
** scripts folder. */
TEST_F(CsvImportTest, ForwardSlashesSeparateFoldersInTheNativeProgram)
{
    PlatCreateFolder(tmp.File("scripts").c_str());
    PlatCreateFolder(tmp.File("scripts\\prices").c_str());
    PlatCreateFolder(tmp.File("scripts\\sub").c_str());
    Write("scripts\\prices\\AAA.csv", "Date,Close\n2024-01-02,1\n");
    Write("scripts\\multi.csv", "BBB,2024-01-02,2\n");
    std::string scripts = tmp.File("scripts"), script = scripts + "/test.kvs";
    std::replace(script.begin(), script.end(), '\\', '/');
    CopyString(gScriptsFolder, sizeof gScriptsFolder, scripts.c_str(), -1);
    gCompilingScriptPath = script.c_str();
    for (const char *folder : {"?scriptpath?/prices", "sub/../prices"}) {
        SCOPED_TRACE(folder);
        Restart(true);
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_DATA_PATH, folder), 0);
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
        ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
        ASSERT_EQ(Line(IMPKW_CSV_FILE, "?scriptpath?/multi.csv"), 0);
        Finish(0);
        EXPECT_EQ(RunImport(), 1) << Messages();
        EXPECT_EQ(gStore.symbolCount, 2);
    }
    gCompilingScriptPath = nullptr;
}
#endif

/* Tiingo's page instead of prices is named as what it is. */
TEST_F(CsvImportTest, APageInsteadOfPricesIsNamed)
{
    Begin("Tiingo", 20240101, 20241231);
    ImportItem row = *(ImportItem *)gImportItems.items;
    SymbolRecord record = {};
    EXPECT_EQ(WithEcho([&] {
                  return ParseHeaderCsv(&row, "\n<!DOCTYPE html>\n<html><body>Not found</body></html>\n", "TTT", &record, 0);
              }),
              0);
    FreeSymbolRecord(&record);
    EXPECT_EQ(gEchoed, "2:TTT was not imported: the answer is a page of the site, not CSV\n");
}

} // namespace

namespace {

/* Two CSI files that become one symbol store it once: two forex rows of one
** currency (the first file in name order kept, the other named), and
** contracts whose repeated information row lacks the currency stay futures
** under their own names.  Two symbols of a multi-symbol file that become
** one identifier are named alike. */
TEST_F(CsvImportTest, FilesAndLinesThatBecomeOneSymbolAreStoredOnce)
{
    PlatCreateFolder(tmp.File("csif").c_str());
    const char *header = "CSI\nFile Name,Symbol,Description,Currency,Big Point,Tick Size,Minimum Tick\n";
    Write("csif\\forexinfo.txt", std::string(header) + "EURUSD.csv,EUR,Euro dollar,,1,0,0.0001\n"
                                                       "EURJPY.csv,EUR,Euro yen,,1,0,0.01\n");
    Write("csif\\futuresinfo.txt", std::string(header) + "ES_2024H.csv,ES,E-mini,USD,50,25,0.01\n"
                                                         "ES_2024M.csv,ES,E-mini,USD,50,25,0.01\n"
                                                         "ES_2024H.csv,ES,E-mini March,,,,\n"
                                                         "ES_2024M.csv,ES,E-mini June,,,,\n");
    for (const char *name : {"EURUSD", "EURJPY", "ES_2024H", "ES_2024M"})
        Write(std::string("csif\\") + name + ".csv",
              std::string("Date,Close\n2024-01-02,") + (name[3] == 'J' ? "160" : "2") + "\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSIFutures"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("csif")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    const std::string multi = Write("multi.csv", "BRK B,2024-01-02,1\nBRK_B,2024-01-02,2\nBRK B,2024-01-03,3\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, multi), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(ImportExitCode), 0) << Messages();
    UnloadData();
    ASSERT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    std::vector<std::string> symbols;
    for (int32_t i = 0; i < gStore.symbolCount; i++) symbols.push_back(gStore.symbols[i].info.Symbol);
    EXPECT_EQ(symbols, (std::vector<std::string>{"BRK_B", "ES_2024H", "ES_2024M", "EUR"}));
    EXPECT_EQ(Symbol("EUR").bars[BAR_DAILY][0].close, 160) << "EURJPY.csv comes first in name order";
    EXPECT_EQ(Dates(Symbol("BRK_B")), (std::vector<int32_t>{20240102, 20240103}));
    for (const char *contract : {"ES_2024H", "ES_2024M"}) {
        EXPECT_STREQ(Symbol(contract).info.Type, "Futures") << contract;
        EXPECT_EQ(Symbol(contract).info.PointValue, 50) << contract;
    }
    const std::string text = ReadTestFile(log);
    for (const std::string &line :
         {tmp.File("csif\\EURUSD.csv") + " was not imported: it becomes the symbol EUR, which was imported from "
                                         "EURJPY.csv (files are taken in name order)\n",
          multi + ": the lines of BRK_B were not imported: it becomes the symbol BRK_B, which was imported from the "
                  "lines of BRK B\n"}) {
        ExpectReported(text, line);
    }
    EXPECT_EQ(text.find("SymInfo symbols not imported"), std::string::npos) << text;
}

/* A number of a symbol-information or CSI information file that is no
** finite number at or above zero is refused by name and not used, so the
** symbol keeps the default; a CSI line whose quote is never closed is not
** read, and the rows after it are. */
TEST_F(CsvImportTest, InformationNumbersThatAreNoNumbersAreRefusedByName)
{
    PlatCreateFolder(tmp.File("prices").c_str());
    const std::string info = Write("info.csv", "Symbol,PointValue,TickSize,PriceMult,DelistDate\n"
                                               "AAA,1e400,0.05,1,2024-13-45\n"
                                               "BBB,50,nan,1\n"
                                               "CCC,1,0.01,nan\n"
                                               "DDD,1,0.01,inf\n"
                                               "EEE,1,0.01,-2\n"
                                               "FFF,20,1/4,2\n");
    for (const char *s : {"AAA", "BBB", "CCC", "DDD", "EEE", "FFF"})
        Write(std::string("prices\\") + s + ".csv", "Date,Open,High,Low,Close\n2024-01-02,10,12,8,11\n");
    PlatCreateFolder(tmp.File("csif").c_str());
    const std::string csi = Write("csif\\futuresinfo.txt",
                                  "CSI\nFile Name,Symbol,Description,Currency,Big Point,Tick Size,Minimum Tick\n"
                                  "ES_2024H.csv,ES,E-mini,USD,fifty,25,0.01\n"
                                  "NQ_2024H.csv,NQ,\"Nasdaq, mini,USD,20,25,0.01\n"
                                  "YM_2024H.csv,YM,Dow mini,USD,5,1,1\n");
    for (const char *s : {"ES_2024H", "NQ_2024H", "YM_2024H"})
        Write(std::string("csif\\") + s + ".csv", "Date,Open,High,Low,Close\n2024-01-02,10,12,8,11\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_SYM_INFO_FILE, info), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSIFutures"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("csif")), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(ImportExitCode), 0) << Messages();
    UnloadData();
    ASSERT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    const struct {
        const char *symbol;
        double pointValue, tickSize, close;
    } stored[] = {
        {"AAA", 1, 0.05, 11}, {"BBB", 50, 0.01, 11}, {"CCC", 1, 0.01, 11}, {"DDD", 1, 0.01, 11},
        {"EEE", 1, 0.01, 11}, {"FFF", 20, 0.25, 5.5}, {"ES_2024H", 1, 0.25, 11}, {"YM_2024H", 5, 1, 11},
    };
    for (const auto &e : stored) {
        SCOPED_TRACE(e.symbol);
        const SymbolRecord &r = Symbol(e.symbol);
        EXPECT_EQ(r.info.PointValue, e.pointValue);
        EXPECT_DOUBLE_EQ(r.info.TickSize, e.tickSize);
        ASSERT_EQ(r.barCounts[BAR_DAILY], 1);
        EXPECT_EQ(r.bars[BAR_DAILY][0].close, e.close);
        EXPECT_LE(r.bars[BAR_DAILY][0].low, r.bars[BAR_DAILY][0].high);
    }
    EXPECT_STREQ(Symbol("NQ_2024H").info.Name, "") << "the line with the open quote gave nothing";
    const std::string text = ReadTestFile(log);
    for (const std::string &line :
         {info + ": line 2 gives PointValue 1e400, which is not a finite number; the value was not used\n",
          info + ": line 2 gives DelistDate 2024-13-45, which is not a date; the value was not used\n",
          info + ": line 3 gives TickSize nan, which is not a finite number; the value was not used\n",
          info + ": line 4 gives PriceMult nan, which is not a finite number; the value was not used\n",
          info + ": line 5 gives PriceMult inf, which is not a finite number; the value was not used\n",
          info + ": line 6 gives PriceMult -2, which is below zero; the value was not used\n",
          csi + ": line 3 gives Big Point fifty, which is not a number; the value was not used\n",
          csi + ": line 4 opens a double quote that it does not close, so its fields cannot be told; the line was not "
                "read\n"}) {
        ExpectReported(text, line);
    }
}

/* An event-list line whose date, time, type or value is none (text, a
** number that is not finite or not whole), or that leaves a quote open, is
** named and not read, never taken as 0 or as the number its text begins
** with; the other lines are. */
TEST_F(CsvImportTest, EventListFieldsThatAreNoValuesAreRefusedByName)
{
    PlatCreateFolder(tmp.File("prices").c_str());
    Write("prices\\AAA.csv", "Date,Open,High,Low,Close\n2024-01-02,10,12,8,11\n2024-01-03,10,12,8,11\n");
    const std::string events = Write("events.csv", "Symbol,Date,Type,Value,Time\n"
                                                   "AAA,2024-01-02,-1,0.5\n"
                                                   "AAA,2024-01-03,-1,abc\n"
                                                   "AAA,2024-01-03,-1,nan\n"
                                                   "AAA,2024-01-03,-1,1e400\n"
                                                   "AAA,2024-01-03,7x,2\n"
                                                   "AAA,2024-01-03,-1.5,2\n"
                                                   "AAA,2024-01-03,div,2\n"
                                                   "AAA,2024-01-03,99999999999,2\n"
                                                   "AAA,2024-02-30,7,2\n"
                                                   "AAA,2024-01-03,7,-3.25\n"
                                                   "AAA,2024-01-03,8,1,25:99\n"
                                                   "AAA,2024-01-03,\"9,4\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_EVENT_LIST_FILE, events), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(ImportExitCode), 0) << Messages();
    UnloadData();
    ASSERT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    const SymbolRecord &r = Symbol("AAA");
    ASSERT_EQ(r.eventCount, 2);
    EXPECT_EQ(r.events[0].date, 20240102);
    EXPECT_EQ(r.events[0].kind, -1);
    EXPECT_EQ(r.events[0].value, 0.5);
    EXPECT_EQ(r.events[1].date, 20240103);
    EXPECT_EQ(r.events[1].kind, 7);
    EXPECT_EQ(r.events[1].value, -3.25);
    const std::string text = ReadTestFile(log);
    const struct {
        int line;
        const char *column, *given, *why;
    } named[] = {
        {3, "Value", "abc", "not a number"},          {4, "Value", "nan", "not a finite number"},
        {5, "Value", "1e400", "not a finite number"}, {6, "Type", "7x", "not a whole number"},
        {7, "Type", "-1.5", "not a whole number"},    {8, "Type", "div", "not a whole number"},
        {9, "Type", "99999999999", "out of range"},   {10, "Date", "2024-02-30", "not a date"},
        {12, "Time", "25:99", "not a time of day"},
    };
    for (const auto &n : named) {
        const std::string line = events + ": line " + std::to_string(n.line) + " gives " + n.column + " " + n.given +
            ", which is " + n.why + "; the line was not read\n";
        ExpectReported(text, line);
    }
    /* A quote the line leaves open: its fields cannot be told. */
    ExpectReported(text, events + ": line 13 opens a double quote that it does not close, so its fields cannot be told; "
                                  "the line was not read\n");
}

/* A PriceMult that is a number above zero but so small that the prices it
** divides are no finite number drops those bars named, in a folder's file
** as in a multi-symbol file; the other symbols are stored. */
TEST_F(CsvImportTest, PricesPastTheFiniteByTheirPriceMultAreNamed)
{
    PlatCreateFolder(tmp.File("prices").c_str());
    const std::string info = Write("info.csv", "Symbol,PriceMult\nAAA,1e-310\nBBB,1e-310\n");
    const std::string aaa = Write("prices\\AAA.csv", "Date,Open,High,Low,Close\n2024-01-02,10,12,8,11\n2024-01-03,10,12,8,11\n");
    Write("prices\\CCC.csv", "Date,Open,High,Low,Close\n2024-01-02,10,12,8,11\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_SYM_INFO_FILE, info), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    const std::string multi = Write("multi.csv", "DDD,2024-01-02,1\nBBB,2024-01-02,2\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, multi), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(ImportExitCode), 0) << Messages();
    UnloadData();
    ASSERT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    std::vector<std::string> symbols;
    for (int32_t i = 0; i < gStore.symbolCount; i++) symbols.push_back(gStore.symbols[i].info.Symbol);
    EXPECT_EQ(symbols, (std::vector<std::string>{"CCC", "DDD"}));
    const std::string text = ReadTestFile(log);
    for (const std::string &line :
         {aaa + ": 2 lines not read as bars: line 2 (a price divided by PriceMult is not finite), line 3 (a price "
                "divided by PriceMult is not finite)\n",
          multi + ": 1 line not read as bars: line 2 (a price divided by PriceMult is not finite)\n"}) {
        ExpectReported(text, line);
    }
}

} // namespace

namespace {

/* Damaged price files a user brings from spreadsheets and download sites,
** run through the whole import: every price and volume stored is the one
** its column holds, or its line or file is refused with the reason named.
** A header that misnames a price column (or cuts its name with a NUL byte)
** names no column for it, and with any of open, high and low named all
** three must be (closes alone make their bars); a thousands separator in a
** number shifts the fields after it, also when every line has it, since
** fields past the header's are a trailing delimiter only when empty; a line
** cut before a column read is no bar; a comma that groups no three digits
** is a decimal comma; a Split is a number or a ratio, kept when its line
** is refused for its prices; a symbol is read without the blanks around it. */
TEST_F(CsvImportTest, DamagedFilesStoreWhatTheySayOrAreRefusedByName)
{
    const std::string columns = "; CSVFields names the columns when the header does not";
    const std::string noBars = " was not imported: no line holds a bar; lines were read with the comma delimiter and "
                               "decimal points, which CSVDelim and CSVNumFmt choose";
    const std::string shifted = "the line has more fields than its header names";
    const struct {
        const char *name;
        std::string text;
        std::vector<BarValues> bars;   /* none: the file is refused */
        std::vector<std::string> said; /* after the file's path */
    } files[] = {
        {"HI", "Date,Open,Hi,Low,Close,Volume\n2024-01-02,19.75,20.5,19.5,20,100\n", {},
         {" was not imported: no column holds the high (the columns are Date, Open, Hi, Low, Close, Volume)" + columns}},
        {"NUL", std::string("Date,Open,High,L\0ow,Close,Volume\n2024-01-02,19.75,20.5,19.5,20,100\n", 63), {},
         {" was not imported: no column holds the low (the columns are Date, Open, High, L\\0ow, Close, Volume)" + columns}},
        {"NOOPEN", "Date,High,Low,Close\n2024-01-02,20.5,19.5,20\n", {},
         {" was not imported: no column holds the open (the columns are Date, High, Low, Close)" + columns}},
        {"CLOSES", "Date,Close,Volume\n2024-01-02,20,100\n", {{20240102, 20, 20, 20, 20, 100, 1}}, {}},
        {"THOU", "Date,Open,High,Low,Close,Volume\n2024-01-02,19.75,20.5,19.5,20,1,100,000\n"
                 "2024-01-03,19.75,20.5,19.5,20,1,200,000\n",
         {},
         {": 2 lines not read as bars: line 2 (" + shifted + "), line 3 (" + shifted + ")", noBars}},
        {"EVERY", "Date,Open,High,Low,Close,Volume\n2024-01-02,1,234.5,1,240,1,230,1,234.5,1,000\n"
                  "2024-01-03,1,236,1,241,1,231,1,239,2,000\n",
         {},
         {": 2 lines not read as bars: line 2 (" + shifted + "), line 3 (" + shifted + ")", noBars}},
        {"TRAIL", "Date,Open,High,Low,Close,Volume\n2024-01-02,19.75,20.5,19.5,20,1100000,\n2024-01-03,20,21,19.5,20.5,900000,\n",
         {{20240102, 19.75, 20.5, 19.5, 20, 1100000, 1}, {20240103, 20, 21, 19.5, 20.5, 900000, 1}}, {}},
        {"CUT", "Date,Open,High,Low,Close,Volume\n2024-01-05,21,22,20.5,21.5,300\n2024-01-08,21.75,22.5,21.5,22.\n"
                "2024-01-09,22,23,21.5,22.5,400\n",
         {{20240105, 21, 22, 20.5, 21.5, 300, 1}, {20240109, 22, 23, 21.5, 22.5, 400, 1}},
         {": 1 line not read as bars: line 3 (the line has fewer fields than its header names)"}},
        {"DEC", "Date,Open,High,Low,Close,Volume\n2024-01-02,22,23,21,\"22,72\",100\n2024-01-03,22,23,21,22.72,100\n",
         {{20240103, 22, 23, 21, 22.72, 100, 1}},
         {": 1 line not read as bars: line 2 (a number's comma is no thousands separator; CSVNumFmt chooses a decimal "
          "comma)"}},
        {"RATIO", "Date,Open,High,Low,Close,Volume,Split\n2024-01-02,20,21,19,20,100,\n2024-01-03,10,10.5,9.5,10,200,2:1\n"
                  "2024-01-04,10,11,9,10.5,300,3/2\n",
         {{20240102, 20, 21, 19, 20, 100, 3}, {20240103, 10, 10.5, 9.5, 10, 200, 1.5}, {20240104, 10, 11, 9, 10.5, 300, 1}},
         {}},
        {"BADRATIO", "Date,Close,Split\n2024-01-02,20,\n2024-01-03,10,2:x\n", {{20240102, 20, 20, 20, 20, 0, 1}},
         {": 1 line not read as bars: line 3 (a number field holds text)"}},
        /* A split's ratio does not depend on the day's prices: a line refused
        ** for them keeps it, and the bars before it are halved. */
        {"SPLITHL", "Date,Open,High,Low,Close,Volume,Split\n2024-01-02,20,21,19,20,100,\n2024-01-03,20,21,19,20.5,100,\n"
                    "2024-01-04,10,9,11,10,200,2:1\n2024-01-05,10,11,9,10.5,300,\n",
         {{20240102, 20, 21, 19, 20, 100, 2}, {20240103, 20, 21, 19, 20.5, 100, 2}, {20240105, 10, 11, 9, 10.5, 300, 1}},
         {": 1 line not read as bars: line 4 (the high is below the low)"}},
        {"SPLITVOL", "Date,Open,High,Low,Close,Volume,Split\n2024-01-02,20,21,19,20,100,\n2024-01-04,10,11,9,10,many,2\n"
                     "2024-01-05,10,11,9,10.5,300,\n",
         {{20240102, 20, 21, 19, 20, 100, 2}, {20240105, 10, 11, 9, 10.5, 300, 1}},
         {": 1 line not read as bars: line 3 (a number field holds text)"}},
        /* Exporters' float noise at a range's edge is gone at the digits the
        ** data file keeps; a price outside it there is still refused. */
        {"NOISE", "Date,Open,High,Low,Close,Volume\n2024-01-02,28.750000000000004,28.75,28.5,28.6,100\n"
                  "2024-01-03,31.420000,31.419999,31.2,31.3,100\n2024-01-04,28.6,28.75,28.5,28.499999999999996,100\n"
                  "2024-01-05,22.000000000000004,22.0,21.5,21.8,100\n2024-01-08,28.76,28.75,28.5,28.6,100\n",
         {{20240102, 28.75, 28.75, 28.5, 28.6, 100, 1}, {20240103, 31.42, 31.42, 31.2, 31.3, 100, 1},
          {20240104, 28.6, 28.75, 28.5, 28.5, 100, 1}, {20240105, 22, 22, 21.5, 21.8, 100, 1}},
         {": 1 line not read as bars: line 6 (the open lies outside the low to high range)"}},
        /* An empty number reads as 0: a close beside empty open, high and low
        ** is a bar of its close, as 0,0,0 and a close is; a close missing, or
        ** some of open, high and low given, is a price missing. */
        {"CLOSEONLY", "Date,Open,High,Low,Close,Volume\n2024-01-02,,,,28.6,100\n2024-01-03,0,0,0,28.7,100\n"
                      "2024-01-04,,29,,28.7,100\n2024-01-05,28,29,27,,100\n2024-01-08, , ,\"\",28.8,100\n",
         {{20240102, 28.6, 28.6, 28.6, 28.6, 100, 1}, {20240103, 28.7, 28.7, 28.7, 28.7, 100, 1},
          {20240108, 28.8, 28.8, 28.8, 28.8, 100, 1}},
         {": 2 lines not read as bars: line 4 (a price is missing), line 5 (a price is missing)"}},
    };
    PlatCreateFolder(tmp.File("damaged").c_str());
    for (const auto &f : files) Write(std::string("damaged\\") + f.name + ".csv", f.text);
    /* The symbol column of a multi-symbol file, and its lines cut short. */
    const std::string multi = CsvFolderAndFile("damaged", "Symbol,Date,Open,High,Low,Close,Volume", "blanks.csv",
                                               " BLK  ,2024-01-02,1,2,1,2,100\n\"BLK \",2024-01-03,2,3,2,3,200\n"
                                               "BLK,2024-01-04,2,3,2,3\n");
    /* A multi-symbol file's splits are its symbol's alone, a refused line's
    ** (line 8, whatever its place) too: SPL's closes adjusted beforehand are
    ** 7, 7.5, 8 and 8.5; NOS has none. */
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Open,High,Low,Close,Volume,Split"), 0);
    const std::string splits = Write("splits.csv", "SPL,2024-01-02,20,22,19,21,100,\nNOS,2024-01-02,5,6,4,5,10,\n"
                                                   "SPL,2024-01-03,21,23,20,22.5,100,\nNOS,2024-01-03,5,6,4,5.5,10,\n"
                                                   "SPL,2024-01-04,11,12.5,10.5,12,200,2:1\nNOS,2024-01-04,5.5,6,5,6,10,\n"
                                                   "SPL,2024-01-08,8,9,7.5,8.5,300,\nSPL,2024-01-05,8,7,9,8,250,3/2\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, splits), 0);
    /* A symbol too long to keep refuses its line before a text volume does:
    ** its split is not the symbol it would be cut to. */
    const std::string longest(39, 'L');
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Date,Close,Volume,Split,Symbol"), 0);
    const std::string cut = Write("cut.csv", "2024-01-02,10,100,," + longest + "\n2024-01-03,5,many,2:1," + longest + "L\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, cut), 0);
    ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
    UnloadData();
    ASSERT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    const std::string text = ReadTestFile(log);
    int stored = 1;
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        const int number = FindSymbolIndex(f.name);
        const SymbolRecord *record = number > 0 ? &gStore.symbols[number - 1] : nullptr;
        if (f.bars.empty()) {
            EXPECT_EQ(nullptr, record);
        } else if (record) {
            stored++;
            ExpectDaily(*record, BAR_DAILY, f.bars);
        } else {
            ADD_FAILURE() << "not stored";
        }
        for (const std::string &said : f.said) ExpectReported(text, tmp.File(std::string("damaged\\") + f.name + ".csv") + said + "\n");
    }
    ExpectDaily(Symbol("BLK"), BAR_DAILY, {{20240102, 1, 2, 1, 2, 100, 1}, {20240103, 2, 3, 2, 3, 200, 1}});
    ExpectReported(text, multi + ": 1 line not read as bars: line 3 (the line has fewer fields than CSVFields names)\n");
    ExpectDaily(Symbol("SPL"), BAR_DAILY,
                {{20240102, 20, 22, 19, 21, 100, 3}, {20240103, 21, 23, 20, 22.5, 100, 3}, {20240104, 11, 12.5, 10.5, 12, 200, 1.5}, {20240108, 8, 9, 7.5, 8.5, 300, 1}});
    const Bar *spl = Symbol("SPL").bars[BAR_DAILY];
    for (int i = 0; i < 4; i++) EXPECT_DOUBLE_EQ(spl[i].close / spl[i].split, 7 + 0.5 * i) << i;
    ExpectDaily(Symbol("NOS"), BAR_DAILY,
                {{20240102, 5, 6, 4, 5, 10, 1}, {20240103, 5, 6, 4, 5.5, 10, 1}, {20240104, 5.5, 6, 5, 6, 10, 1}});
    ExpectReported(text, splits + ": 1 line not read as bars: line 8 (the high is below the low)\n");
    ExpectDaily(Symbol(longest.c_str()), BAR_DAILY, {{20240102, 10, 10, 10, 10, 100, 1}});
    ExpectReported(text, cut + ": 1 line not read as bars: line 2 (the symbol is longer than 39 characters)\n");
    EXPECT_EQ(stored + 3, gStore.symbolCount);
}

} // namespace

namespace {

/* A symbol is stored once: a file of a second DataPath row, or a line of a
** multi-symbol file, that becomes a symbol stored already is named with the
** file the symbol came from, and its row's list still counts the symbol. */
TEST_F(CsvImportTest, ASymbolOfASecondRowIsNamedAndNotStoredAgain)
{
    PlatCreateFolder(tmp.File("first").c_str());
    PlatCreateFolder(tmp.File("second").c_str());
    const std::string first = Write("first\\XYZ.csv", "Date,Close\n2024-01-02,10\n");
    const std::string second = Write("second\\xyz.csv", "Date,Close\n2024-01-02,20\n");
    Write("second\\ONLY.csv", "Date,Close\n2024-01-02,30\n");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("first")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("second")), 0);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_CSV_FIELDS, "Symbol,Date,Close"), 0);
    const std::string multi = Write("multi.csv", "ONLY,2024-01-03,40\n");
    ASSERT_EQ(Line(IMPKW_CSV_FILE, multi), 0);
    Finish(0);
    ASSERT_EQ(WithEcho(RunImport), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 2);
    ExpectDaily(Symbol("XYZ"), BAR_DAILY, {{20240102, 10, 10, 10, 10, 0, 1}});
    ExpectDaily(Symbol("ONLY"), BAR_DAILY, {{20240102, 30, 30, 30, 30, 0, 1}});
    EXPECT_EQ(1, Symbol("XYZ").info.includeLists[0]);
    EXPECT_EQ(1, Symbol("XYZ").info.includeLists[1]) << "the second row's list counts it";
    const std::string text = ReadTestFile(log);
    ExpectReported(text, second + " was not imported: it becomes the symbol xyz, which was imported from " + first + "\n");
    ExpectReported(text, multi + " was not imported: it becomes the symbol ONLY, which was imported from " +
                             tmp.File("second\\ONLY.csv") + "\n");
}

} // namespace
