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
    TempFolder tmp;
    // A batch switch makes the run unattended; -inifile without a path fails the
    // first pass before any window exists.  The command line begins with '-', so
    // it is never handed to a running copy.
    const std::string before = LogDate();
    EXPECT_EQ(RunProgramCopy(tmp.path, "-test -inifile"), 3u);
    const std::string after = LogDate();
    std::string log = ReadTestFile(tmp.File("errorlog.txt"));
    EXPECT_NE(log.find("Unable to access"), std::string::npos) << log;
    // The settings are not read yet, and the entry still carries the date (of
    // either day when the run spans midnight).
    EXPECT_TRUE(log.find(before) != std::string::npos || log.find(after) != std::string::npos) << log;
}
