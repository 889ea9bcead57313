/* The run's files through whole batch runs: every writer against every file
** a run reads, and every two writers given one file, each by another form of
** the file's name.  A writer or an input added later joins by a row. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/results_file.h"
#include "engine/results_list.h"
#include "engine/run_view_hooks.h"
#include "engine_fixture.h"
#include "foundation/file_state.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "services/services.h"
#include "shell/command_line.h"
#include "shell/headless/headless.h"
#include "shell/run_view_setup.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

/* The batch switch of each run mode a writer needs. */
const char *SwitchOf(int mode)
{
    return mode == RUN_MODE_ORDERS ? "-orders" : mode == RUN_MODE_SCAN ? "-scan" : "-test";
}

/* Every writer a script can point at a file: the setting that names it, the
** lines it needs to be written at all, and the mode that writes it. */
struct Writer {
    const char *what;     /* in the refusal's words */
    const char *setting;  /* the Settings line, the path after it */
    const char *needs;    /* further Settings lines */
    int mode;
    const char *extension; /* the one its name must end with, else null */
};
const Writer kWriters[] = {
    /* what                         setting             needs                     mode               extension */
    {"the SaveStatsAs file",       "SaveStatsAs",      "",                       RUN_MODE_TEST,     ".csv"},
    {"the SaveTradesAs file",      "SaveTradesAs",     "",                       RUN_MODE_TEST,     ".csv"},
    {"the SavePositionsAs file",   "SavePositionsAs",  "",                       RUN_MODE_TEST,     ".csv"},
    {"the SaveTestListAs file",    "SaveTestListAs",   "",                       RUN_MODE_TEST,     nullptr},
    {"the ResultsFile",            "ResultsFile",      "",                       RUN_MODE_TEST,     ".kvr"},
    {"the OrdersFile",             "OrdersFile",       "  OrdersMode: Text\n",   RUN_MODE_ORDERS,   nullptr},
    {"the SaveScanAs file",        "SaveScanAs",       "  ScanNoWindow: True\n", RUN_MODE_SCAN,     nullptr},
};

/* Every kind of file a run reads: where it is (under the test's folder),
** what it holds, and the script's lines that make the run read it ("%s"
** stands for its path). */
struct Input {
    const char *what;
    const char *file;
    const char *text;
    const char *settings;  /* Settings lines */
    const char *strategy;  /* lines of the strategy, or a further section */
};
const Input kInputs[] = {
    {"the script", "Scripts\\w.kvs", nullptr, "", ""},
    {"the included script", "Scripts\\lib.kvs", "Data:\n  FromLib: 1\n", "", "  Include: lib.kvs\n"},
    {"the data file", "Data\\test.kvd", "kept", "", ""},
    {"the settings file", "k.ini", "[Settings]\n", "", ""},
    {"the HolidayList", "h.csv", "20240115\n", "  HolidayList: %s\n", ""},
    {"the SymChangeList", "sc.csv", "", "  SymChangeList: %s\n", ""},
    {"the CashList", "cash.csv", "Date,Amount\n20240109,1\n", "", "  CashList: %s\n"},
    {"the TradeList of strategy TL", "trades.csv",
     "Symbol,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut\n"
     "AAA,20240109,open,100,10,20240111,close,100,10\n",
     "", "Strategy: TL\n  TradeList: %s\n  TLEndDate: latest\n"},
    {"the ExchangeMap", "map.csv", "Exchange,Primary,Match1,HasOpg,HasMoc,TimeZone,NearCloseTime\nNYSE,NYSE,*,1,1,EST,15:45\n",
     "  ExchangeMap: %s\n", ""},
};

std::string Fill(const char *format, const std::string &path)
{
    std::string text = format;
    const size_t at = text.find("%s");
    return at == std::string::npos ? text : text.replace(at, 2, path);
}

struct RunFilesTest : EngineTest {
    void SetUp() override
    {
        EngineTest::SetUp();
        LoadFlat("AAA", 20240108, 20240119);
        PlatCreateFolder(tmp.File("Output\\Orders").c_str());
        WriteTestFile(tmp.File("ExchangeMap.csv"), kInputs[8].text);
        gRun.unattended = 1;
        InstallRunViewHooks();
    }
    void TearDown() override
    {
        gSettingsFile[0] = 0;
        gRunViewHooks = {};
        EngineTest::TearDown();
    }
    std::string ErrorLog() const { return ReadTestFile(tmp.File("errorlog.txt")); }

    /* Another name of the file at path, by form: as written, with '/' (after
    ** the first separator), through a folder and "..", through ".", and in
    ** the Windows build in other case or natively through a symbolic link to
    ** its folder. */
    std::string PathForm(const std::string &path, int form)
    {
        const size_t slash = path.rfind('\\');
        const std::string folder = path.substr(0, slash), name = path.substr(slash + 1);
        switch (form % 5) {
        case 1: {
            /* The first separator stays: a script reads "C:/" as no path. */
            std::string text = path;
            for (size_t k = text.find('\\') + 1; k < text.size(); k++)
                if (text[k] == '\\') text[k] = '/';
            return text;
        }
        case 2: PlatCreateFolder((folder + "\\sub").c_str()); return folder + "\\sub\\..\\" + name;
        case 3: return folder + "\\.\\" + name;
        case 4: {
#ifdef _WIN32
            std::string text = name;
            for (char &c : text) c = (char)(c >= 'a' && c <= 'z' ? c - 32 : c >= 'A' && c <= 'Z' ? c + 32 : c);
            return folder + "\\" + text;
#else
            char link[1024];
            PlatNativePath((folder + "\\here").c_str(), link, sizeof link);
            if (!PlatIsLink((folder + "\\here").c_str())) EXPECT_EQ(0, symlink(".", link));
            return folder + "\\here\\" + name;
#endif
        }
        default: return path;
        }
    }

    /* Writes w.kvs with the lines given and runs it in mode as a batch; the code. */
    int RunScript(int mode, const std::string &settings, const std::string &strategy)
    {
        const std::string text = "Settings:\n" + settings + "Strategy: S1\n  EntrySetup: BarDate = 20240110\n"
                                 "  Quantity: 100\n  ExitRule: 1\n" + strategy + "Scan:\n  Pick: C\n";
        Write("w.kvs", text);
        script = text;
        /* The data as loaded: not read again. */
        gStore.loadedState = LookAtFile(gStore.loadedPath);
        if (ResultsWindow *w = FirstResultsWindow()) DeleteAllTests(w);
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        ClearStopRequest();
        return RunBatchCommandLine((std::string(SwitchOf(mode)) + " w.kvs").c_str());
    }
    std::string script; /* the text of w.kvs */
};

} // namespace

/* Each writer named as each file the run reads, by a drawn form of its name:
** the run ends with 3 before writing, naming both uses, and the file keeps
** what it held. */
TEST_F(RunFilesTest, NoWriterReplacesAFileTheRunReads)
{
    int drawn = 0;
    for (const Writer &w : kWriters) {
        for (const Input &in : kInputs) {
            const std::string file = tmp.File(in.file);
            if (w.extension && CompareNoCase(file.c_str() + file.size() - 4, w.extension) != 0) continue; /* refused by its extension */
            const std::string named = PathForm(file, drawn++);
            SCOPED_TRACE(std::string(w.what) + " named as " + in.what + ": " + named);
            if (in.text) ASSERT_TRUE(WriteTestFile(file, in.text));
            if (std::string(in.what) == "the settings file") CopyString(gSettingsFile, PATH_SIZE, file.c_str(), -1);
            const int code = RunScript(w.mode, std::string(w.needs) + "  " + w.setting + ": " + named + "\n" + Fill(in.settings, file),
                                       Fill(in.strategy, file));
            gSettingsFile[0] = 0;
            EXPECT_EQ(RESULT_FILE_ERROR, code);
            const std::string log = ErrorLog();
            EXPECT_NE(std::string::npos, log.find(std::string(" would replace ") + in.what + ", ")) << log;
            EXPECT_NE(std::string::npos, log.find(std::string(1, (char)(w.what[0] - 32)) + (w.what + 1))) << log;
            EXPECT_EQ(in.text ? std::string(in.text) : script, ReadTestFile(file));
        }
    }
}

/* Each two writers given one file (by two forms of its name) end the run
** with 3 before either is written. */
TEST_F(RunFilesTest, NoTwoWritersShareAFile)
{
    int drawn = 0;
    const size_t count = sizeof kWriters / sizeof kWriters[0];
    for (size_t a = 0; a < count; a++) {
        for (size_t b = a + 1; b < count; b++) {
            const Writer &x = kWriters[a], &y = kWriters[b];
            /* Writers held to two extensions cannot be given one name. */
            if (x.extension && y.extension && CompareNoCase(x.extension, y.extension) != 0) continue;
            const std::string file = tmp.File(std::string("Output\\one") + (x.extension ? x.extension : y.extension ? y.extension : ".csv"));
            const std::string first = PathForm(file, drawn++), second = PathForm(file, drawn++);
            SCOPED_TRACE(std::string(x.what) + " and " + y.what + ": " + first + " | " + second);
            PlatDeleteFile(file.c_str());
            const int mode = x.mode > y.mode ? x.mode : y.mode;
            const int code = RunScript(mode, std::string(x.needs) + y.needs + "  " + x.setting + ": " + first + "\n  " +
                                                 y.setting + ": " + second + "\n", "");
            EXPECT_EQ(RESULT_FILE_ERROR, code);
            EXPECT_NE(std::string::npos, ErrorLog().find(" would be written to one file, ")) << ErrorLog();
            EXPECT_FALSE(PlatFileExists(file.c_str()));
        }
    }
}

namespace {

/* The files an import reads, and the writers of a script that imports:
** its own log and data file, and the runs of the modes after it. */
const Input kImportInputs[] = {
    {"a price file of the import", "prices\\AAA.csv", "Date,Close\n2024-01-02,10\n2024-01-03,11\n", "", ""},
    {"the IncludeList", "inc.txt", "AAA\r\nBBB\r\n", "", ""},
    {"the EventListFile", "events.csv", "Symbol,Date,Type,Value\nAAA,2024-01-03,3,1\n", "", ""},
    {"the script", "Scripts\\w.kvs", nullptr, "", ""},
};
struct ImportWriter {
    const char *what;
    const char *line;   /* "Import:" for a line of the Import section, else a Settings line */
    const char *needs;  /* further Settings lines */
    const char *modes;  /* the batch's switches */
    const char *extension;
};
const ImportWriter kImportWriters[] = {
    /* what                      line                         needs                     modes                extension */
    {"the Import LogFile",      "Import:LogFile",            "",                       "-import",           nullptr},
    {"the data file",           "Import:SaveAs",             "",                       "-import",           ".kvd"},
    {"the SaveTradesAs file",   "SaveTradesAs",              "",                       "-import -test",     ".csv"},
    {"the OrdersFile",          "OrdersFile",                "  OrdersMode: Text\n",   "-import -orders",   nullptr},
};

struct ImportRunFilesTest : RunFilesTest {
    /* Runs w.kvs, an import of the prices folder (its lines of the Import
    ** section may name the log and data file anew) with a strategy, by the
    ** batch's switches; the code. */
    int RunImport(const char *modes, const std::string &importLines, const std::string &settings)
    {
        const std::string text = "Import:\n  DataSource: CSV\n  IncludeList: " + tmp.File("inc.txt") +
                                 "\n  EventListFile: " + tmp.File("events.csv") + "\n  DataPath: " + tmp.File("prices") +
                                 "\n  StartDate: 20240101\n  EndDate: 20240131\n" + importLines + "Settings:\n" + settings +
                                 "Strategy: S1\n  EntrySetup: 1\n  Quantity: 100\n  ExitRule: 1\n";
        Write("w.kvs", text);
        script = text;
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        ClearStopRequest();
        return RunBatchCommandLine((std::string(modes) + " w.kvs").c_str());
    }
    /* The writer's line, naming path. */
    static std::string Line(const ImportWriter &w, const std::string &path)
    {
        const std::string line = w.line;
        return line.rfind("Import:", 0) == 0 ? "  " + line.substr(7) + ": " + path + "\n" : "  " + line + ": " + path + "\n";
    }
    void WriteInputs()
    {
        for (const Input &in : kImportInputs)
            if (in.text) ASSERT_TRUE(WriteTestFile(tmp.File(in.file), in.text));
        WriteTestFile(tmp.File("prices\\BBB.csv"), "Date,Close\n2024-01-02,20\n2024-01-03,21\n");
    }
};

} // namespace

/* Each writer of an importing script named as each file the import reads
** (its price files, lists, the script), by a drawn form of the name: the
** run ends with 3 naming both uses, before the data file is written, and
** the file keeps what it held. */
TEST_F(ImportRunFilesTest, NoWriterReplacesAFileTheImportReads)
{
    ASSERT_EQ(1, PlatCreateFolder(tmp.File("prices").c_str()));
    int drawn = 0;
    for (const ImportWriter &w : kImportWriters) {
        for (const Input &in : kImportInputs) {
            const std::string file = tmp.File(in.file);
            if (w.extension && CompareNoCase(file.c_str() + file.size() - 4, w.extension) != 0) continue;
            const std::string named = PathForm(file, drawn++);
            SCOPED_TRACE(std::string(w.what) + " named as " + in.what + ": " + named);
            WriteInputs();
            const std::string out = tmp.File("out.kvd"), log = tmp.File("imp.log");
            PlatDeleteFile(out.c_str());
            std::string importLines, settings = w.needs;
            if (std::string(w.line) != "Import:LogFile") importLines += "  LogFile: " + log + "\n";
            if (std::string(w.line) != "Import:SaveAs") importLines += "  SaveAs: " + out + "\n";
            (std::string(w.line).rfind("Import:", 0) == 0 ? importLines : settings) += Line(w, named);
            EXPECT_EQ(RESULT_FILE_ERROR, RunImport(w.modes, importLines, settings));
            const std::string errors = ErrorLog();
            EXPECT_NE(std::string::npos, errors.find(std::string(" would replace ") + in.what + ", ")) << errors;
            EXPECT_EQ(in.text ? std::string(in.text) : script, ReadTestFile(file));
            /* Refused before the data file is made, when the import refuses it. */
            if (std::string(w.modes) == "-import") EXPECT_FALSE(PlatFileExists(out.c_str()));
        }
    }
}

/* Two writers of an importing script given one file end the run with 3;
** the import's log and its data file, both the import's, before either is
** written. */
TEST_F(ImportRunFilesTest, NoTwoWritersOfAnImportShareAFile)
{
    ASSERT_EQ(1, PlatCreateFolder(tmp.File("prices").c_str()));
    const size_t count = sizeof kImportWriters / sizeof kImportWriters[0];
    int drawn = 0;
    for (size_t a = 0; a < count; a++) {
        for (size_t b = a + 1; b < count; b++) {
            const ImportWriter &x = kImportWriters[a], &y = kImportWriters[b];
            if (x.extension && y.extension && CompareNoCase(x.extension, y.extension) != 0) continue;
            const std::string file = tmp.File(std::string("Output\\one") + (x.extension ? x.extension : y.extension ? y.extension : ".csv"));
            const std::string first = PathForm(file, drawn++), second = PathForm(file, drawn++);
            SCOPED_TRACE(std::string(x.what) + " and " + y.what + ": " + first + " | " + second);
            WriteInputs();
            PlatDeleteFile(file.c_str());
            std::string importLines, settings = std::string(x.needs) + y.needs;
            for (const ImportWriter *w : {&x, &y})
                (std::string(w->line).rfind("Import:", 0) == 0 ? importLines : settings) += Line(*w, w == &x ? first : second);
            if (importLines.find("LogFile") == std::string::npos) importLines += "  LogFile: " + tmp.File("imp.log") + "\n";
            if (importLines.find("SaveAs") == std::string::npos) importLines += "  SaveAs: " + tmp.File("out.kvd") + "\n";
            /* The import and the mode after it, where one writer needs one. */
            std::string modes = x.modes;
            for (const char *mode : {"-test", "-orders"})
                if (std::string(y.modes).find(mode) != std::string::npos && modes.find(mode) == std::string::npos) modes += std::string(" ") + mode;
            EXPECT_EQ(RESULT_FILE_ERROR, RunImport(modes.c_str(), importLines, settings));
            EXPECT_NE(std::string::npos, ErrorLog().find(" would be written to one file, ")) << ErrorLog();
            if (modes == "-import") EXPECT_FALSE(PlatFileExists(file.c_str()));
        }
    }
}

/* A test's log takes its name from its number only when the test ends: a
** file the run reads under that name keeps what it held, and the run ends
** with 3 naming both. */
TEST_F(RunFilesTest, ATestLogNeverReplacesAFileTheRunReads)
{
    /* The run's logs folder, in its output folder. */
    ASSERT_EQ(1, PlatCreateFolder(tmp.File("Output\\Logs").c_str()));
    const std::string holidays = tmp.File("Output\\Logs\\TEST_0001.TXT");
    ASSERT_TRUE(WriteTestFile(holidays, "20240115\n"));
    gRun.unattended = 0;
    gSettings.AddLog = 1;
    gRun.resultCode = RESULT_OK;
    Run("Settings:\n  HolidayList: " + holidays + "\nStrategy: S1\n  EntrySetup: 1\n");
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_EQ("The test log would replace the HolidayList, " + holidays + ".", std::string(LastMessage()));
    EXPECT_EQ("20240115\n", ReadTestFile(holidays));
}
