#include <gtest/gtest.h>

#include <string>

#include "frame_fixture.h"
#include "support/test_support.h"

namespace {

/* Runs a copy of kestovar.exe in its own folder with a command line; its exit code. */
DWORD RunProgramCopy(const std::string &folder, const std::string &arguments)
{
    std::string exe = folder + "\\kestovar.exe";
    if (!CopyFileA((TestProgramFolder() + "\\..\\kestovar.exe").c_str(), exe.c_str(), FALSE)) return 999;
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return 998;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 997;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

/* The error log's date picture for the present day. */
std::string LogDate()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    char date[32];
    snprintf(date, sizeof date, ">>> %d/%d/%02d ", now.wMonth, now.wDay, now.wYear % 100);
    return date;
}

} // namespace

TEST(StartUp, ErrorsBeforeTheFrameReachTheErrorLog)
{
    // A batch switch makes the run unattended.  Each line fails before any
    // window exists: a line that runs nothing (or names no settings file after
    // -inifile) gets the usage and 1, as from the native program, and a
    // settings file that is not there 3.  Each begins with '-', so it is never
    // handed to a running copy.
    const struct {
        const char *line;
        DWORD code;
        const char *logged;
    } cases[] = {
        {"-test", 1, "usage: kestovar.exe"},
        {"-optimize", 1, "usage: kestovar.exe"},
        {"-import -scan", 1, "usage: kestovar.exe"},
        {"-inifile x.ini -test", 1, "usage: kestovar.exe"},
        {"-test s.kvs -inifile", 1, "usage: kestovar.exe"},
        {"-test -inifile", 1, "usage: kestovar.exe"},
        {"-inifile missing.ini -test s.kvs", 3, "Unable to access"},
    };
    for (const auto &c : cases) {
        TempFolder tmp;
        WriteTestFile(tmp.File("x.ini"), "");
        WriteTestFile(tmp.File("s.kvs"), "Strategy: S\n  EntrySetup: 1\n");
        const std::string before = LogDate();
        EXPECT_EQ(RunProgramCopy(tmp.path, c.line), c.code) << c.line;
        const std::string after = LogDate();
        std::string log = ReadTestFile(tmp.File("errorlog.txt"));
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.line << "\n" << log;
        // The settings are not read yet, and the entry still carries the date (of
        // either day when the run spans midnight).
        EXPECT_TRUE(log.find(before) != std::string::npos || log.find(after) != std::string::npos) << log;
    }
}

/* A fresh folder holding only the program runs a batch of a script named from
** the current folder: no constituency list beside it, and the script's bar
** size holds over the settings panel's.  The prices are every weekday from
** Monday 8 January to Friday 29 March 2024 (60 bars, 12 weeks, 3 months);
** the statistics export has one row per bar of the script's size. */
TEST(StartUp, AFreshFolderRunsEachBarSizeOfAScriptNamedFromHere)
{
    std::string prices = "Date,Open,High,Low,Close,Volume\n";
    SYSTEMTIME day = {2024, 1, 1, 8}; /* Monday 8 January */
    FILETIME time;
    SystemTimeToFileTime(&day, &time);
    for (int k = 0; k < 82; k++) {
        ULARGE_INTEGER ticks = {{time.dwLowDateTime, time.dwHighDateTime}};
        ticks.QuadPart += (ULONGLONG)k * 864000000000ULL;
        FILETIME at = {ticks.LowPart, ticks.HighPart};
        FileTimeToSystemTime(&at, &day);
        if (day.wDayOfWeek == 0 || day.wDayOfWeek == 6) continue;
        char line[80];
        const int close = 20 + k % 7;
        snprintf(line, sizeof line, "%d-%02d-%02d,%d,%d,%d,%d,1000\n", day.wYear, day.wMonth, day.wDay, close, close + 1,
                 close - 1, close);
        prices += line;
    }
    struct Case {
        const char *barSize;
        int rows;
        const char *firstDates; /* the export's first column, up to five rows */
        const char *lastDate;
    } cases[] = {
        {"Daily", 60, "1/8/24;1/9/24;1/10/24;1/11/24;1/12/24;", "3/29/24"},
        {"Weekly", 12, "1/12/24;1/19/24;1/26/24;2/2/24;2/9/24;", "3/29/24"},
        {"Monthly", 3, "1/31/24;2/29/24;3/29/24;", "3/29/24"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.barSize);
        TempFolder tmp;
        CreateDirectoryA(tmp.File("prices").c_str(), nullptr);
        ASSERT_TRUE(WriteTestFile(tmp.File("prices\\AAA.csv"), prices));
        const std::string script = std::string("Settings:\n  DataFile: ?scriptpath?\\bars.kvd\n  BarSize: ") + c.barSize +
            "\n  SaveStatsAs: ?scriptpath?\\stats.csv\nImport:\n  DataSource: CSV\n  DataPath: ?scriptpath?\\prices\n"
            "  SaveAs: ?scriptpath?\\bars.kvd\nStrategy: S1\n  EntrySetup: C > 0\n  ExitRule: 1\n";
        ASSERT_TRUE(WriteTestFile(tmp.File("bars.kvs"), script));
        EXPECT_EQ(RunProgramCopy(tmp.path, "-import -test bars.kvs"), 0u) << ReadTestFile(tmp.File("errorlog.txt"));
        std::string stats = ReadTestFile(tmp.File("stats.csv")), dates, last;
        int rows = -1; /* the heading is no row */
        for (size_t at = 0, end; (end = stats.find('\n', at)) != std::string::npos; at = end + 1, rows++) {
            last = stats.substr(at, stats.find(',', at) - at);
            if (rows >= 0 && rows < 5) dates += last + ";";
        }
        EXPECT_EQ(rows, c.rows) << stats;
        EXPECT_EQ(dates, c.firstDates);
        EXPECT_EQ(last, c.lastDate);
    }
}
