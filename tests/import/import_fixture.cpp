/* import_fixture.cpp -- see import_fixture.h. */
#include "import/import_fixture.h"

#include <cstring>

#include "foundation/allocator.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/store/data_load.h"
#include "services/services.h"
#include "script/compiler/import_items.h"
#include "shell/command_line.h"
#include "shell/headless/headless.h"

void ImportTest::SetUp()
{
    ProgramStateTest::SetUp();
    UnloadData();
    ResetImportRun();
    ResetImportState();
    gSettings.DateInputFormat = 0;
    gSettings.ImportBarTime = 160000;
    gSettings.EarliestImportYear = 1990;
    CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "M/d/yy", -1);
}

void ImportTest::TearDown()
{
    UnloadData();
    ResetImportRun();
    ResetImportState();
    ProgramStateTest::TearDown();
}

int ImportTest::Line(int keyword, const std::string &value)
{
    std::string copy = value;
    int offset = 0, length = 0;
    return ApplyImportItem(keyword, copy.c_str(), (int)copy.size(), "", &offset, &length);
}

std::string ImportTest::Write(const std::string &name, const std::string &bytes)
{
    std::string path = tmp.File(name);
    EXPECT_TRUE(WriteTestFile(path, bytes)) << path;
    return path;
}

void ImportTest::Begin(const char *source, int32_t start, int32_t end)
{
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, source), 0);
    gImportState.StartDate = start;
    gImportState.EndDate = end;
    ASSERT_EQ(BeginImport(), 1) << Messages();
}

const SymbolRecord &ImportTest::Symbol(const char *symbol)
{
    static SymbolRecord none;
    for (int32_t i = 0; i < gStore.symbolCount; i++)
        if (CompareNoCase(gStore.symbols[i].info.Symbol, symbol) == 0) return gStore.symbols[i];
    for (int32_t i = 0; i < gImport.count; i++)
        if (CompareNoCase(gStore.symbols[i].info.Symbol, symbol) == 0) return gStore.symbols[i];
    ADD_FAILURE() << "symbol " << symbol << " not imported";
    return none;
}

std::vector<int32_t> ImportTest::Dates(const SymbolRecord &record, int barSize)
{
    std::vector<int32_t> dates;
    for (int32_t i = 0; i < record.barCounts[barSize]; i++) dates.push_back(record.bars[barSize][i].date);
    return dates;
}

std::string ImportTest::Messages()
{
    std::string all;
    int shown = gHeadless.messageCount < HEADLESS_MESSAGES ? gHeadless.messageCount : HEADLESS_MESSAGES;
    for (int i = 0; i < shown; i++) all += std::string(gHeadless.messages[i]) + "|";
    return all;
}

std::string EchoKept::text;

static void KeepEchoText(int stream, const char *text) { EchoKept::text += std::to_string(stream) + ":" + text; }

EchoKept::EchoKept()
{
    text.clear();
    gConsoleEcho = KeepEchoText;
}

EchoKept::~EchoKept() { gConsoleEcho = nullptr; }

int ImportTest::RunImportScript(const std::string &importLines)
{
    const std::string script = Write("imp.kvs", "Import:\n" + importLines);
    gRun.unattended = 1;
    gRun.resultCode = RESULT_OK; /* a batch is a process of its own */
    const int code = RunBatchCommandLine(("-import \"" + script + "\"").c_str());
    gRun.unattended = 0;
    return code;
}

int ImportTest::ImportExitCode() { return RunImport() ? gRun.resultCode.load() : ImportFailureCode(); }

std::string ImportTest::ErrorLog() const { return ReadTestFile(tmp.File("errorlog.txt")); }

void MakeRecord(SymbolRecord *record, const char *symbol, const std::vector<DayBar> &bars)
{
    memset((void *)record, 0, sizeof *record);
    CopyString(record->info.Symbol, sizeof record->info.Symbol, symbol, -1);
    int32_t n = (int32_t)bars.size();
    AllocMemory(&record->bars[BAR_DAILY], (uint64_t)(n + 1) * sizeof(Bar));
    record->dailyCapacity = n + 1;
    for (int32_t i = 0; i < n; i++) {
        Bar &b = record->bars[BAR_DAILY][i];
        b.date = bars[i].date;
        b.time = 160000;
        b.open = bars[i].open;
        b.high = bars[i].high;
        b.low = bars[i].low;
        b.close = bars[i].close;
        b.volume = bars[i].volume;
        b.split = bars[i].split;
    }
    record->barCounts[BAR_DAILY] = n;
    record->firstDate = n ? bars[0].date : 0;
    record->lastDate = n ? bars[n - 1].date : 0;
}
