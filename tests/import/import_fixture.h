/* import_fixture.h -- a clean import state for every test, Import lines
** applied as a script would, files written into the test's folder, and small
** records built by hand. */
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "marketdata/import/import_run.h"
#include "marketdata/store/symbols.h"
#include "support/program_state.h"

struct ImportTest : ProgramStateTest {
    void SetUp() override;
    void TearDown() override;

    /* Applies one Import line (keyword index of ImportKeyword); the code. */
    int Line(int keyword, const std::string &value);
    /* Writes a file into the test folder; its full path. */
    std::string Write(const std::string &name, const std::string &bytes);
    /* A DataSource line of source, StartDate/EndDate, and BeginImport. */
    void Begin(const char *source = "CSV", int32_t start = 20240101, int32_t end = 20241231);
    /* The imported (or loaded) record of symbol; fails the test when absent. */
    const SymbolRecord &Symbol(const char *symbol);
    /* The daily dates of a record. */
    static std::vector<int32_t> Dates(const SymbolRecord &record, int barSize = BAR_DAILY);
    /* The messages reported so far, joined by '|'. */
    static std::string Messages();
    /* Runs "-import" on a script holding the Import section lines as an
    ** unattended batch does; its exit code.  Its errors land in ErrorLog(),
    ** which the native program repeats on standard error. */
    int RunImportScript(const std::string &importLines);
    /* Runs the import the lines set up (RunImport); the exit code the run
    ** driver leaves for it: 0 (or a code set on the way) when it succeeded. */
    static int ImportExitCode();
    std::string ErrorLog() const;
};

/* Keeps, while it lives, what the console echo (standard error and the
** terminal of the native program) is given: "<stream>:<text>" per call. */
struct EchoKept {
    EchoKept();
    ~EchoKept();
    static std::string text;
};

/* Fills record with daily bars {date, open, high, low, close, volume} (split
** 1.0, time 160000) and sets its first and last date. */
struct DayBar {
    int32_t date;
    double open, high, low, close, volume;
    double split = 1.0;
};
void MakeRecord(SymbolRecord *record, const char *symbol, const std::vector<DayBar> &bars);
