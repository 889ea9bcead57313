#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "engine/run_view_hooks.h"
#include "script/compiler/definitions.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/program_state.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

struct ResultsFileTest : ProgramStateTest {
    void TearDown() override
    {
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
        ProgramStateTest::TearDown();
    }
};

/* A test with two strategies, three rows (two filled), two parameters, one
** data item, a one-character script and two trades; every array carries
** values derived from seed. */
TestRecord *MakeTest(int seed)
{
    TestRecord *t = ReadTestRecord(nullptr, 2, 2, 3, 1);
    EXPECT_NE(nullptr, t);
    t->testNumber = seed;
    t->rowsFilled = 2;
    t->settings.FirstDate = 20240102;
    t->settings.LastDate = 20240105;
    CopyString(t->settings.TestName, TEST_NAME_SIZE, "SPY", -1);
    CopyString(t->currency, TEST_CURRENCY_SIZE, "EUR", -1);
    t->daysPerYear = 250.5;
    t->randomSeed = 11 + (uint32_t)seed;
    for (int s = 0; s < 2; s++) {
        FormatText(t->strategies[s].name, STRATEGY_RESULT_NAME_SIZE, "S%d", s + seed);
        t->strategies[s].kind = STRATEGY_KIND_STRATEGY;
        t->strategies[s].parentCount = 1;
        t->strategies[s].parents[0] = 1 - s;
    }
    for (int p = 0; p < 2; p++) {
        FormatText(t->parameters[p].name, PARAM_VALUE_NAME_SIZE, "P%d", p);
        t->parameters[p].value = seed * 10 + p;
    }
    for (int c = 0; c < 4; c++) {
        t->cells[c].equityBase = seed * 1000 + c;
        t->cells[c].date = 20240102 + c / 2;
    }
    CopyString(t->stratDataNames[0], 80, "Item", -1);
    for (int v = 0; v < t->stratDataValueCount; v++) t->stratDataValues[v] = v * 0.5;
    EXPECT_TRUE(AllocMemory(&t->settings.scriptText, 2));
    t->settings.scriptText[0] = 'x';
    t->settings.scriptTextLength = 2;
    for (int k = 0; k < 2; k++) {
        TradeRecord *trade = AddTrade(t);
        trade->priceIn = seed + k;
        trade->rollCosts = 1.5;
        CopyString(trade->symbol, TRADE_SYMBOL_SIZE, "AAA", -1);
    }
    return t;
}

void ExpectSameTest(const TestRecord *a, const TestRecord *b)
{
    EXPECT_EQ(0, memcmp(&a->settings, &b->settings, offsetof(TestSettingsCopy, scriptText)));
    EXPECT_STREQ(a->settings.scriptText, b->settings.scriptText);
    EXPECT_EQ(a->testNumber, b->testNumber);
    /* The row the stopped test did not reach is not stored, and a loaded
    ** test keeps the rows it stores. */
    EXPECT_EQ(a->rowsFilled, b->rowCount);
    EXPECT_EQ(a->rowsFilled, b->rowsFilled);
    EXPECT_STREQ(a->currency, b->currency);
    EXPECT_EQ(a->daysPerYear, b->daysPerYear);
    EXPECT_EQ(a->randomSeed, b->randomSeed);
    ASSERT_EQ(a->strategyCount, b->strategyCount);
    EXPECT_EQ(0, memcmp(a->strategies, b->strategies, a->strategyCount * sizeof(StrategyResult)));
    ASSERT_EQ(a->parameterCount, b->parameterCount);
    EXPECT_EQ(0, memcmp(a->parameters, b->parameters, a->parameterCount * sizeof(ParamValue)));
    EXPECT_EQ(0, memcmp(a->cells, b->cells, a->rowsFilled * a->strategyCount * sizeof(StatCell)));
    ASSERT_EQ(a->tradeCount, b->tradeCount);
    EXPECT_EQ(b->tradeCount, b->tradeCapacity);
    EXPECT_EQ(0, memcmp(a->trades, b->trades, a->tradeCount * sizeof(TradeRecord)));
    ASSERT_EQ(a->strategyCount * a->rowsFilled * a->stratDataItemCount, b->stratDataValueCount);
    EXPECT_STREQ(a->stratDataNames[0], b->stratDataNames[0]);
    EXPECT_EQ(0, memcmp(a->stratDataValues, b->stratDataValues, b->stratDataValueCount * sizeof(double)));
}

/* 32 + 2 columns + per test 1016 + 2 x 504 + 2 x 88 + 2 rows x 2 x 448 + 2 text
** + 2 x 344 + 80 + 6 x 8, worked out from the layout. */
const size_t kTestBytes = 1016 + 1008 + 176 + 1792 + 2 + 688 + 80 + 48;

std::string SaveTwoTests(ResultsFileTest &f, TestRecord **first = nullptr)
{
    ParamValue columns[2] = {};
    CopyString(columns[0].name, PARAM_VALUE_NAME_SIZE, "P0", -1);
    CopyString(columns[1].name, PARAM_VALUE_NAME_SIZE, "p0", -1); /* the same name: not added */
    ResultsWindow *w = CreateResultsWindow(2, columns);
    EXPECT_EQ(1, w->columnCount);
    AddTestToResults(w, MakeTest(1));
    AddTestToResults(w, MakeTest(2));
    if (first) *first = w->firstTest;
    std::string path = f.tmp.File("r.kvr");
    CopyString(w->path, sizeof w->path, path.c_str(), -1);
    EXPECT_EQ(1, SaveResultsFile(w, 0));
    EXPECT_EQ(0, w->modified);
    EXPECT_EQ("Results - " + path, std::string(w->title));
    return path;
}

/* A second list of the file at path, which a list already shows, as another
** window or program loads it. */
ResultsWindow *LoadAgain(const std::string &path)
{
    ResultsWindow *first = FindResultsWindowByPath(path.c_str());
    CopyString(first->path, sizeof first->path, "elsewhere", -1);
    EXPECT_EQ(1, LoadResultsFile(path.c_str(), 0));
    ResultsWindow *second = FindResultsWindowByPath(path.c_str());
    CopyString(first->path, sizeof first->path, path.c_str(), -1);
    EXPECT_NE(first, second);
    return second;
}

/* The view-closing hook runs as each test is freed; whatever it does with
** the list, such as repainting it, must find only tests still alive.  The
** hook checks by pointer, never reading a test it has seen freed. */
std::vector<const TestRecord *> gClosedTests;
int gFreedTestsInList;

void CheckListOnClose(ResultsWindow *window, TestRecord *record)
{
    int steps = 0;
    for (const TestRecord *t = window ? window->firstTest : nullptr; t && steps < 100; t = t->next, steps++) {
        if (std::find(gClosedTests.begin(), gClosedTests.end(), t) != gClosedTests.end()) {
            gFreedTestsInList++;
            break;
        }
    }
    gClosedTests.push_back(record);
}

/* A record whose arrays run out of memory part way is given back whole,
** whichever allocation failed. */
TEST_F(ResultsFileTest, ANewRecordThatRunsOutOfMemoryHoldsNothing)
{
    const uint64_t held = gAllocatedBytes.load();
    int n = 1;
    for (;; n++) {
        SCOPED_TRACE(n);
        FailNthAllocation(n);
        TestRecord *t = ReadTestRecord(nullptr, 2, 2, 3, 1);
        const bool fired = !AllocationFaultArmed();
        FailNthAllocation(0);
        gOutOfMemory = 0;
        if (!fired) {
            EXPECT_NE(t, nullptr);
            FreeTestRecord(nullptr, t);
            break;
        }
        EXPECT_EQ(t, nullptr);
        EXPECT_EQ(gAllocatedBytes.load(), held);
        ASSERT_LT(n, 20);
    }
    EXPECT_EQ(n - 1, 6) << "the record, its strategies, parameters, cells, item names and values";
    EXPECT_EQ(gAllocatedBytes.load(), held);
}

TEST_F(ResultsFileTest, DeletingEveryTestNeverLeavesAFreedTestInTheList)
{
    for (int count : {1, 3}) {
        SCOPED_TRACE(count);
        ResultsWindow *w = CreateResultsWindow(0, nullptr);
        for (int k = 0; k < count; k++) AddTestToResults(w, MakeTest(k + 1));
        gClosedTests.clear();
        gFreedTestsInList = 0;
        gRunViewHooks.closeTestViews = CheckListOnClose;
        DeleteAllTests(w);
        gRunViewHooks.closeTestViews = nullptr;
        EXPECT_EQ(gFreedTestsInList, 0);
        EXPECT_EQ((int)gClosedTests.size(), count);
        EXPECT_EQ(w->firstTest, nullptr);
        EXPECT_EQ(w->lastTest, nullptr);
        EXPECT_EQ(w->testCount, 0);
        CloseResultsWindow(w);
    }
}

/* A results file that cannot be written, at any of its writes or at the
** rename, gives one report that names it, and the old file stays. */
TEST_F(ResultsFileTest, EachFailedSaveIsReportedOnceByName)
{
    const std::string path = SaveTwoTests(*this), old = ReadTestFile(path);
    ResultsWindow *w = FirstResultsWindow();
    for (int kind : {PLAT_FAULT_WRITE, PLAT_FAULT_RENAME})
        for (int pass = 0;; pass++) {
            SCOPED_TRACE("kind " + std::to_string(kind) + ", call " + std::to_string(pass));
            PlanOneFault(kind, pass);
            const int saved = SaveResultsFile(w, 0);
            if (!PlatFaultsMade(kind)) {
                PlatPlanFault(kind, 0, 0);
                EXPECT_EQ(1, saved) << LastMessage();
                EXPECT_GE(pass, kind == PLAT_FAULT_WRITE ? 3 : 1); /* header, columns, a test at least */
                break;
            }
            EXPECT_EQ(0, saved);
            ExpectOneFailedReplace(kind, path, old, tmp.path, "r.kvr;");
        }
}

TEST_F(ResultsFileTest, EveryFieldSurvivesASaveAndALoad)
{
    TestRecord *saved = nullptr;
    std::string path = SaveTwoTests(*this, &saved);
    std::string bytes = ReadTestFile(path);
    ASSERT_EQ(32 + 88 + 2 * kTestBytes, bytes.size());
    EXPECT_EQ(std::string("\xcd\xcc\xcc\x3e", 4), bytes.substr(0, 4)); /* 0.40 */

    ResultsWindow *old = FindResultsWindowByPath(path.c_str());
    CopyString(old->path, sizeof old->path, "elsewhere", -1);
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0));
    ResultsWindow *w = FindResultsWindowByPath(path.c_str());
    ASSERT_NE(nullptr, w);
    ASSERT_NE(old, w);
    EXPECT_EQ(2, w->testCount);
    EXPECT_EQ(1, w->columnCount);
    EXPECT_EQ(0, w->partialLoad);
    ExpectSameTest(saved, w->firstTest);
    ExpectSameTest(saved->next, w->lastTest);

    /* A second load of the same path reads nothing. */
    EXPECT_EQ(1, LoadResultsFile(path.c_str(), 0));
    EXPECT_EQ(2, w->testCount);
}

/* A name longer than the file's fixed field (a script eight Cyrillic folders
** deep) is kept whole beside the script text, and read back whole, with or
** without a script text; the fixed field keeps what older programs read, cut
** before a whole letter.  A file such a program saved again, which kept the
** count of the names but not the names, loads with the fields alone. */
TEST_F(ResultsFileTest, NamesLongerThanTheFieldsAreKeptWhole)
{
    std::string folder = "C:";
    for (int k = 0; k < 8; k++) folder += "\\\xD0\xA2\xD0\xBE\xD1\x80\xD0\xB3\xD0\xBE\xD0\xB2\xD1\x8B\xD0\xB5 "
                                          "\xD1\x81\xD0\xB8\xD1\x81\xD1\x82\xD0\xB5\xD0\xBC\xD1\x8B " + std::to_string(k) + "0000";
    const std::string script = folder + "\\\xD0\xA1\xD0\xB8\xD1\x81\xD1\x82\xD0\xB5\xD0\xBC\xD0\xB0.kvs",
                      data = folder + "\\data.kvd";
    ASSERT_GT(script.size(), 260u);
    ASSERT_FALSE(PathTooLong(script.c_str()));
    ParamValue none[1] = {};
    ResultsWindow *w = CreateResultsWindow(0, none);
    TestRecord *withText = MakeTest(1), *withoutText = MakeTest(2);
    FreeMemory(&withoutText->settings.scriptText);
    withoutText->settings.scriptTextLength = 0;
    ASSERT_EQ(1, SetTestNames(withText, data.c_str(), script.c_str()));
    ASSERT_EQ(1, SetTestNames(withoutText, "C:\\short.kvd", script.c_str()));
    AddTestToResults(w, withText);
    AddTestToResults(w, withoutText);
    const std::string path = tmp.File("names.kvr");
    CopyString(w->path, sizeof w->path, path.c_str(), -1);
    ASSERT_EQ(1, SaveResultsFile(w, 0));
    CopyString(w->path, sizeof w->path, "elsewhere", -1);
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0));
    ResultsWindow *loaded = FindResultsWindowByPath(path.c_str());
    ASSERT_NE(nullptr, loaded);
    ASSERT_EQ(2, loaded->testCount);
    const TestRecord *a = loaded->firstTest, *b = loaded->lastTest;
    EXPECT_EQ(script, TestScriptName(a));
    EXPECT_EQ(data, TestDataFileName(a));
    EXPECT_STREQ("x", a->settings.scriptText);
    EXPECT_EQ(2u, a->settings.scriptTextLength);
    EXPECT_EQ(script, TestScriptName(b));
    EXPECT_STREQ("C:\\short.kvd", TestDataFileName(b));
    EXPECT_EQ(0u, b->settings.scriptTextLength);
    /* the field: the name's first 259 bytes or fewer, ending on a whole
    ** letter (two-byte letters after an ASCII start) */
    const std::string field = a->settings.ActiveScript;
    EXPECT_LE(field.size(), 259u);
    EXPECT_GE(field.size(), 258u);
    EXPECT_EQ(script.substr(0, field.size()), field);
    EXPECT_NE(0x80, (unsigned char)script[field.size()] & 0xC0) << "a letter cut";

    /* An older program's save: the first test's text count back to the text
    ** alone, the names gone, the size word kept. */
    std::string bytes = ReadTestFile(path);
    const size_t record = 32, textAt = record + 1016 + 2 * 504 + 2 * 88 + 2 * 2 * 448;
    uint32_t count = 0, names = 0;
    memcpy(&count, &bytes[record + offsetof(TestRecord, settings) + offsetof(TestSettingsCopy, scriptTextLength)], 4);
    memcpy(&names, &bytes[record + offsetof(TestRecord, wholeNamesSize)], 4);
    ASSERT_EQ(2u + names, count);
    bytes.erase(textAt + 2, names);
    const uint32_t two = 2;
    memcpy(&bytes[record + offsetof(TestRecord, settings) + offsetof(TestSettingsCopy, scriptTextLength)], &two, 4);
    const std::string older = tmp.File("older.kvr");
    ASSERT_TRUE(WriteTestFile(older, bytes));
    ASSERT_EQ(1, LoadResultsFile(older.c_str(), 0)) << LastMessage();
    ResultsWindow *o = FindResultsWindowByPath(older.c_str());
    ASSERT_NE(nullptr, o);
    ASSERT_EQ(2, o->testCount);
    EXPECT_EQ(field, TestScriptName(o->firstTest));
    EXPECT_STREQ("x", o->firstTest->settings.scriptText);
    EXPECT_EQ(script, TestScriptName(o->lastTest));
}

/* Two lists of one file (two windows, or two programs) that each add a test
** and save keep both: the list that saves second adds its test after the
** other's, numbered after it, and shows the other's too; the first, saving
** again, takes the second's in turn. */
TEST_F(ResultsFileTest, TwoListsOfOneFileKeepEachOthersTests)
{
    const std::string path = SaveTwoTests(*this);
    ResultsWindow *first = FindResultsWindowByPath(path.c_str()), *second = LoadAgain(path);

    AddTestToResults(first, MakeTest(3));
    ASSERT_EQ(1, SaveResultsFile(first, 0));
    TestRecord *mine = MakeTest(7);
    mine->testNumber = 3; /* the number the second list gave it */
    AddTestToResults(second, mine);
    ASSERT_EQ(1, SaveResultsFile(second, 0));

    /* Test n's first parameter is seed x 10: seeds 1, 2, 3 (the first list's), 7. */
    const struct {
        int number;
        double value;
    } kWant[] = {{1, 10}, {2, 20}, {3, 30}, {4, 70}};
    for (ResultsWindow *w : {second, first}) {
        if (w == first) {
            ASSERT_EQ(1, SaveResultsFile(first, 0));
        }
        ASSERT_EQ(4, w->testCount);
        const TestRecord *t = w->firstTest;
        for (const auto &want : kWant) {
            ASSERT_NE(nullptr, t);
            EXPECT_EQ(want.number, t->testNumber);
            EXPECT_EQ(want.value, t->parameters[0].value);
            t = t->next;
        }
    }
    CloseResultsWindow(first);
    CloseResultsWindow(second);
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0));
    EXPECT_EQ(4, FindResultsWindowByPath(path.c_str())->testCount);
}

/* A write that fails part-way (the header, a test's block) or a rename that
** is refused keeps the old file and leaves no temporary file; the window
** keeps its tests, still to be saved, and the next save succeeds. */
TEST_F(ResultsFileTest, AFailedSaveKeepsTheOldFile)
{
    const std::string path = SaveTwoTests(*this);
    const std::string old = ReadTestFile(path);
    ResultsWindow *w = FindResultsWindowByPath(path.c_str());
    ASSERT_NE(nullptr, w);
    AddTestToResults(w, MakeTest(3));
    const struct {
        int kind, at;
    } kFaults[] = {{PLAT_FAULT_WRITE, 0}, {PLAT_FAULT_WRITE, 5}, {PLAT_FAULT_RENAME, 0}};
    for (const auto &f : kFaults) {
        SCOPED_TRACE(f.at);
        PlanOneFault(f.kind, f.at);
        EXPECT_EQ(0, SaveResultsFile(w, 0));
        ExpectOneFailedReplace(f.kind, path, old, tmp.path, "r.kvr;");
        EXPECT_EQ(3, w->testCount);
        EXPECT_EQ(1, w->modified);
        PlatPlanFault(f.kind, 0, 0);
    }
    EXPECT_EQ(1, SaveResultsFile(w, 0));
    EXPECT_GT(ReadTestFile(path).size(), old.size());
}

/* Every path of up to 259 letters saves and loads, whatever the length of
** its name and the bytes of its folders' letters: the guard and the
** temporary file beside it take names that fit where the file's own does,
** and neither is left behind. */
TEST_F(ResultsFileTest, EveryPathThatFitsSavesWhateverItsNameLength)
{
    const struct {
        size_t length;      /* of the whole path, in letters */
        const char *name;   /* at its end */
        const char *letter; /* of the folders made for it */
    } cases[] = {
        {259, "r.kvr", "d"},
        {257, "r.kvr", "d"},
        {255, "ab.kvr", "d"},
        {259, "results.kvr", "d"},
        {254, "results.kvr", "d"},
        {259, ".kvr", "d"},
        {258, ".kvr", "d"},
        {259, "r.kvr", "\xC3\xA9"},
        {259, "results.kvr", "\xE2\x82\xAC"},
        {259, ".kvr", "\xF0\x9F\x93\x88"},
        {254, "results.kvr", "\xF0\x9F\x93\x88"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " " + c.name + " " + c.letter);
        const std::string folder = tmp.File(std::string("f") + std::to_string(c.length) + c.name + c.letter);
        ASSERT_TRUE(PlatCreateFolder(folder.c_str()));
        const std::string path = MakePathOfLength(folder, c.length, c.name, c.letter);
        const size_t ascii = (size_t)std::count_if(path.begin(), path.end(), [](char b) { return (unsigned char)b < 0x80; });
        ASSERT_EQ(c.length, ascii + (path.size() - ascii) / strlen(c.letter));
        ResultsWindow *w = CreateResultsWindow(0, nullptr);
        AddTestToResults(w, MakeTest(1));
        CopyString(w->path, sizeof w->path, path.c_str(), -1);
        ASSERT_EQ(1, SaveResultsFile(w, 0)) << LastMessage();
        AddTestToResults(w, MakeTest(2));
        ASSERT_EQ(1, SaveResultsFile(w, 0)) << LastMessage();
        CloseResultsWindow(w);
        ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0)) << LastMessage();
        w = FindResultsWindowByPath(path.c_str());
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(2, w->testCount);
        CloseResultsWindow(w);
        EXPECT_EQ(std::string(c.name) + ";", ListTestFolder(path.substr(0, path.rfind('\\'))));
    }
    EXPECT_EQ(0, gHeadless.messageCount);
}

/* Where no guard can be made beside the file (a folder this user may only
** read), a load still reads it; a save, which needs its turn, is refused. */
TEST_F(ResultsFileTest, AFileWhoseGuardCannotBeMadeLoadsButIsNotSaved)
{
    const std::string path = SaveTwoTests(*this), old = ReadTestFile(path);
    CloseResultsWindow(FindResultsWindowByPath(path.c_str()));
    PlatPlanFault(PLAT_FAULT_CREATE, 0, 1000);
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0)) << LastMessage();
    EXPECT_EQ(1, PlatFaultsMade(PLAT_FAULT_CREATE));
    ResultsWindow *w = FindResultsWindowByPath(path.c_str());
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(2, w->testCount);
    EXPECT_EQ(RESULT_OK, gRun.resultCode.load());
    AddTestToResults(w, MakeTest(3));
    EXPECT_EQ(0, SaveResultsFile(w, 0));
    EXPECT_EQ(0u, std::string(LastMessage()).rfind("Unable to create " + path, 0)) << LastMessage();
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_EQ(old, ReadTestFile(path));
}

TEST_F(ResultsFileTest, AMissingFileIsCreatedEmptyAndLoadsEmpty)
{
    std::string path = tmp.File("new.kvr");
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 1));
    EXPECT_EQ(32u, ReadTestFile(path).size());
    CloseResultsWindow(FindResultsWindowByPath(path.c_str()));
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0));
    ResultsWindow *w = FindResultsWindowByPath(path.c_str());
    ASSERT_NE(nullptr, w);
    EXPECT_EQ(0, w->testCount);
}

TEST_F(ResultsFileTest, DamagedFilesFailWithTheirMessage)
{
    std::string good = ReadTestFile(SaveTwoTests(*this));
    CloseResultsWindow(FirstResultsWindow());
    struct Case {
        const char *what;
        size_t at;
        uint32_t value;
        const char *message;
    };
    const std::string path = tmp.File("bad.kvr");
    /* clang-format off */
    const Case cases[] = {
        {"other version", 0, 0x3EB851EC /* 0.36 */, "is not compatible with this version"},
        {"record size", 4, 1000, "is not compatible with this version"},
        {"huge column count", 28, 0x7FFFFFFF, "is not compatible with this version"},
        {"negative column count", 28, 0xFFFFFFFF, "is not compatible with this version"},
        {"huge test count", 24, 0x7FFFFFFF, "Incomplete data (0 of 1016)"},
        {"huge strategy count", 32 + 88 + 44, 0x7FFFFFF, "is damaged"},
        {"rows filled above rows", 32 + 88 + 32, 9, "is damaged"},
        {"huge trade count", 32 + 88 + 48, 0x1000000, "is damaged"},
        {"values not strategies x rows x items", 32 + 88 + 996, 7, "is damaged"},
        /* The first cell's date: after the record, two results and two parameters. */
        {"a row dated 0", 32 + 88 + 2200 + 8, 0, "a test holds a row without a valid date"},
        {"a thirteenth month", 32 + 88 + 2200 + 8, 20241301, "a test holds a row without a valid date"},
        {"30 February", 32 + 88 + 2200 + 8, 20240230, "a test holds a row without a valid date"},
    };
    /* clang-format on */
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string s = good;
        for (int k = 0; k < 4; k++) s[c.at + k] = (char)(c.value >> (8 * k));
        ASSERT_TRUE(WriteTestFile(path, s));
        gRun.resultCode = RESULT_OK;
        int loaded = LoadResultsFile(path.c_str(), 0);
        EXPECT_NE(nullptr, strstr(LastMessage(), c.message)) << LastMessage();
        EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
        if (ResultsWindow *w = FindResultsWindowByPath(path.c_str())) {
            EXPECT_EQ(1, loaded);
            EXPECT_EQ(1, w->partialLoad);
            EXPECT_EQ(strstr(c.what, "test count") ? 2 : 0, w->testCount);
            CloseResultsWindow(w);
        } else {
            EXPECT_EQ(0, loaded);
        }
    }
}

TEST_F(ResultsFileTest, ACutFileKeepsTheTestsBeforeTheCutAndIsNotOverwritten)
{
    const std::string good = ReadTestFile(SaveTwoTests(*this));
    CloseResultsWindow(FirstResultsWindow());
    const std::string path = tmp.File("cut.kvr");
    const size_t cuts[] = {0, 31, 32 + 88, 32 + 88 + 1007, 32 + 88 + kTestBytes, 32 + 88 + kTestBytes + 1500,
                           good.size() - 1};
    for (size_t cut : cuts) {
        SCOPED_TRACE(cut);
        ASSERT_TRUE(WriteTestFile(path, good.substr(0, cut)));
        int loaded = LoadResultsFile(path.c_str(), 0);
        ResultsWindow *w = FindResultsWindowByPath(path.c_str());
        if (cut < 32 + 88) {
            EXPECT_EQ(0, loaded);
            EXPECT_EQ(nullptr, w);
            continue;
        }
        ASSERT_EQ(1, loaded);
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(cut < 32 + 88 + kTestBytes ? 0 : 1, w->testCount);
        EXPECT_EQ(1, w->partialLoad);
        /* The end of a run saves: unattended nothing is written, and a user who
        ** declines keeps the file as it was. */
        gRun.unattended = 1;
        EXPECT_EQ(0, SaveResultsFile(w, 0));
        gRun.unattended = 0;
        gHeadless.messageBoxAnswer = 7; /* No */
        EXPECT_EQ(0, SaveResultsFile(w, 0));
        EXPECT_EQ(cut, ReadTestFile(path).size());
        gHeadless.messageBoxAnswer = 6; /* Yes */
        EXPECT_EQ(1, SaveResultsFile(w, 0));
        EXPECT_EQ(0, w->partialLoad);
        gHeadless.messageBoxAnswer = 1;
        CloseResultsWindow(w);
    }
}

/* A list whose file was damaged on disk since it was saved keeps the file as
** it is; the message names a run only when a run saves. */
TEST_F(ResultsFileTest, AFileDamagedSinceTheLastSaveIsKeptAndSaidSo)
{
    const struct {
        RunState state;
        const char *message;
    } cases[] = {
        {RUN_IDLE, " has changed since it was last read or saved and could not be read again: it was kept as it is, "
                   "and the results were not saved."},
        {RUN_TESTING, " was saved by another program meanwhile and could not be read again: it was kept as that "
                      "program left it, and the results of this run were not saved."},
    };
    for (const auto &c : cases) {
        const std::string path = SaveTwoTests(*this);
        ResultsWindow *w = FindResultsWindowByPath(path.c_str());
        ASSERT_NE(nullptr, w);
        ASSERT_TRUE(WriteTestFile(path, "damaged"));
        w->modified = 1;
        gRun.state = c.state;
        EXPECT_EQ(0, SaveResultsFile(w, 0));
        gRun.state = RUN_IDLE;
        EXPECT_EQ(path + c.message, std::string(LastMessage()));
        EXPECT_EQ("damaged", ReadTestFile(path));
        EXPECT_EQ(2, w->testCount);
        CloseResultsWindow(w);
        PlatDeleteFile(path.c_str());
        gRun.resultCode = RESULT_OK;
    }
}

void Put(std::string &s, size_t at, const void *v, size_t n)
{
    memcpy(&s[at], v, n);
}

std::string Header(float version, int32_t record, int32_t result, int32_t cell, int32_t trade, int32_t tests)
{
    std::string h(32, '\0');
    int32_t words[7] = {record, 88, result, cell, trade, tests, 0};
    Put(h, 0, &version, 4);
    Put(h, 4, words, 28);
    return h;
}

TEST_F(ResultsFileTest, Legacy879FileReadsWithRollCostsZeroAndTheReasonMoved)
{
    /* A 0.36 file under the legacy version word: 960-byte record, 432-byte
    ** cells, 328-byte trades whose text block starts at 184. */
    std::string s = Header(879.0f, 960, 504, 432, 328, 1);
    std::string rec(960, '\0');
    int32_t counts[] = {1, 1, 0, 0, 1}; /* rows, rows filled, compounded, parameters, strategies */
    Put(rec, 28, counts, sizeof counts);
    int32_t one = 1;
    Put(rec, 48, &one, 4); /* trade count */
    s += rec;
    std::string result(504, '\0');
    Put(result, 0, "Main", 4);
    int32_t kind = STRATEGY_KIND_STRATEGY;
    Put(result, 80, &kind, 4);
    s += result;
    std::string cell(432, '\0');
    double equity = 5000;
    uint32_t date = 20240102;
    Put(cell, offsetof(StatCell, equityBase), &equity, 8);
    Put(cell, offsetof(StatCell, date), &date, 4);
    s += cell;
    std::string trade(328, '\0');
    Put(trade, 184, "why", 3);
    double roll = 5.0;
    Put(trade, 320 - 16, &roll, 8);
    s += trade;
    const std::string path = tmp.File("legacy.kvr");
    ASSERT_TRUE(WriteTestFile(path, s));
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0)) << LastMessage();
    ResultsWindow *w = FindResultsWindowByPath(path.c_str());
    ASSERT_NE(nullptr, w);
    ASSERT_EQ(1, w->testCount) << LastMessage();
    const TestRecord *t = w->firstTest;
    EXPECT_EQ(252.0, t->daysPerYear);
    EXPECT_EQ(5000, t->cells[0].equityBase);
    ASSERT_EQ(1, t->tradeCount);
    EXPECT_STREQ("why", t->trades[0].reasonText);
    EXPECT_EQ(0, t->trades[0].rollCosts);

    /* Without the legacy word the same file needs 440-byte cells. */
    Put(s, 0, "\x00\x00\x00\x00", 4);
    float v = 0.36f;
    Put(s, 0, &v, 4);
    const std::string path2 = tmp.File("v036.kvr");
    ASSERT_TRUE(WriteTestFile(path2, s));
    EXPECT_EQ(0, LoadResultsFile(path2.c_str(), 0));
    EXPECT_NE(nullptr, strstr(LastMessage(), "is not compatible with this version of Kestovar."));
}

/* A 32-byte header whose version word is no number and whose sizes are all
** 0 belongs to no layout, whatever test count it claims. */
TEST_F(ResultsFileTest, AHeaderOfNoVersionIsRefused)
{
    const std::string s = Header(std::numeric_limits<float>::quiet_NaN(), 0, 0, 0, 0, 0x7FFFFFFF);
    const std::string path = tmp.File("nan.kvr");
    ASSERT_TRUE(WriteTestFile(path, s));
    EXPECT_EQ(0, LoadResultsFile(path.c_str(), 0));
    EXPECT_EQ(path + " is not compatible with this version of Kestovar.", std::string(LastMessage()));
    EXPECT_EQ(nullptr, FirstResultsWindow());
}

/* A run stopped on its second day of 600,000: more rows x strategies than
** any fixed limit, but only the two rows reached are in the file, and only
** they are kept. */
TEST_F(ResultsFileTest, AStoppedLongTestLoadsWithTheRowsItReached)
{
    std::string s = Header(0.39f, 1008, 504, 448, 344, 1);
    std::string rec(1008, '\0');
    int32_t counts[] = {600000, 2, 0, 0, 1}; /* rows, rows filled, compounded, parameters, strategies */
    Put(rec, 28, counts, sizeof counts);
    s += rec + std::string(504, '\0');
    for (uint32_t date : {20240102u, 20240103u}) {
        std::string cell(448, '\0');
        Put(cell, offsetof(StatCell, date), &date, 4);
        s += cell;
    }
    const std::string path = tmp.File("long.kvr");
    ASSERT_TRUE(WriteTestFile(path, s));
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0)) << LastMessage();
    ResultsWindow *w = FindResultsWindowByPath(path.c_str());
    ASSERT_NE(nullptr, w);
    ASSERT_EQ(1, w->testCount) << LastMessage();
    EXPECT_EQ(0, w->partialLoad);
    EXPECT_EQ(2, w->firstTest->rowsFilled);
    EXPECT_EQ(2, w->firstTest->rowCount);
    EXPECT_EQ(20240103u, w->firstTest->cells[1].date);
}

TEST_F(ResultsFileTest, OldFilesWithTwoStrategiesGainTheCombinedStrategy)
{
    /* 0.28: 928-byte record, 92-byte results, 352-byte cells, one extra
    ** stored column per row. */
    std::string s = Header(0.28f, 928, 92, 352, 280, 1);
    std::string rec(928, '\0');
    int32_t counts[] = {1, 1, 1, 0, 2};
    Put(rec, 28, counts, sizeof counts);
    s += rec;
    for (const char *name : {"A", "B"}) {
        std::string result(92, '\0');
        Put(result, 0, name, 1);
        int32_t kind = STRATEGY_KIND_STRATEGY;
        Put(result, 80, &kind, 4);
        s += result;
    }
    for (int c = 0; c < 3; c++) {
        std::string cell(352, '\0');
        double equity = 100 * (c + 1);
        uint32_t date = 20240102;
        Put(cell, offsetof(StatCell, equityBase), &equity, 8);
        Put(cell, offsetof(StatCell, date), &date, 4);
        s += cell;
    }
    const std::string path = tmp.File("old.kvr");
    ASSERT_TRUE(WriteTestFile(path, s));
    ASSERT_EQ(1, LoadResultsFile(path.c_str(), 0)) << LastMessage();
    const TestRecord *t = FindResultsWindowByPath(path.c_str())->firstTest;
    ASSERT_NE(nullptr, t);
    ASSERT_EQ(3, t->strategyCount);
    EXPECT_STREQ("Combined", t->strategies[2].name);
    EXPECT_EQ(STRATEGY_KIND_COMBINED, t->strategies[2].kind);
    EXPECT_EQ(1, t->strategies[2].compounded);
    EXPECT_EQ(2, t->mainStrategy);
    for (int k = 0; k < 2; k++) {
        EXPECT_EQ(1, t->strategies[k].markedToMarket);
        EXPECT_EQ(1, t->strategies[k].parentCount);
        EXPECT_EQ(2, t->strategies[k].parents[0]);
    }
    EXPECT_EQ(300, t->cells[2].equityBase);
}

/* Every test is computed again; once that has taken over a second (the
** first test here) the status bar says so and counts the tests, and it is
** put back at the end. */
TEST_F(ResultsFileTest, RecalculatingALongListShowsItsProgress)
{
    static int calls;
    static std::vector<std::string> status;
    calls = 0;
    status.clear();
    gRunViewHooks.fillResultsRow = [](ResultsWindow *, TestRecord *) {
        if (calls++ == 0) PlatSleep(1100);
    };
    gHeadless.statusEcho = [](int part, const char *text) {
        if (part <= 1) status.push_back(std::to_string(part) + ":" + (text ? text : ""));
    };
    SetStatusText(0, "Before");
    ResultsWindow *w = CreateResultsWindow(0, nullptr);
    for (int k = 0; k < 3; k++) AddTestToResults(w, ReadTestRecord(nullptr, 0, 1, 1, 0));
    status.clear();
    RecalculateTestStats(w, 0);
    EXPECT_EQ(0, calls);
    RecalculateTestStats(w, 1);
    gRunViewHooks = {};
    gHeadless.statusEcho = nullptr;
    EXPECT_EQ(3, calls);
    const std::vector<std::string> expect = {"0:Recalculating Test Stats...", "1:Test 2 of 3", "1:Test 3 of 3", "0:Before"};
    EXPECT_EQ(expect, status);
    EXPECT_STREQ("", gHeadless.statusParts[1]);
}

TEST_F(ResultsFileTest, SortingKeepsTheBestOfEachGroup)
{
    struct Case {
        int keepBest, byDate, bySymbol;
        int expectedCount;
        const char *expectedOrder; /* test numbers after sorting */
    };
    /* clang-format off */
    const Case cases[] = {
        {1, 1, 0, 3, "521"},       /* the later date's group 5, 3, 4 keeps 5; the other is left alone */
        {0, 0, 0, 5, "53421"},     /* no limit */
        {2, 0, 0, 2, "53"},
        {1, 0, 1, 3, "542"},       /* group spy 5, 3, 1 keeps 5 */
        {1, 1, 1, 4, "5412"},      /* group (later date, spy) 5, 3 keeps 5 */
    };
    /* clang-format on */
    const DefinitionList saved = gResultsColumns;
    FormulaColumn score = {};
    score.format = 2;
    gResultsColumns.items = &score;
    gResultsColumns.count = 1;
    gSettings.OptScoreCol = 0;
    gSettings.OptAnchor = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.expectedOrder);
        ResultsWindow *w = CreateResultsWindow(0, nullptr);
        /* tests 1..5: scores 10, 20, 40, 30, 50; names SPY, QQQ, SPY, QQQ, SPY */
        const double scores[] = {10, 20, 40, 30, 50};
        for (int k = 0; k < 5; k++) {
            TestRecord *t = ReadTestRecord(nullptr, 0, 1, 1, 0);
            t->testNumber = k + 1;
            t->settings.FirstDate = c.byDate && k >= 2 ? 20240102 : 20240101;
            CopyString(t->settings.TestName, TEST_NAME_SIZE, k % 2 ? "QQQ" : "spy", -1);
            ASSERT_TRUE(AllocMemory(&t->resultsValues, sizeof(double)));
            t->resultsValues[0] = scores[k];
            t->resultsValueCount = 1;
            AddTestToResults(w, t);
        }
        SortResultsList(w, c.keepBest, c.byDate, c.bySymbol);
        std::string order; /* as the list shows it */
        for (TestRecord *t = w->lastTest; t; t = t->previous) order += (char)('0' + t->testNumber);
        EXPECT_EQ(c.expectedCount, w->testCount);
        EXPECT_EQ(c.expectedOrder, order);
        CloseResultsWindow(w);
    }
    gResultsColumns = saved;
}

/* Results columns "_Hidden", "Score" and "Other", then the parameter column
** Len.  The list shows Score as column 3, Other as 4 and Len as 5;
** OptScoreCol 0 names Score.  Tests 1..4 store hidden values that rank them
** the other way round. */
TEST_F(ResultsFileTest, HiddenResultsColumnsAreNotCountedInTheList)
{
    const DefinitionList saved = gResultsColumns;
    FormulaColumn columns[3] = {};
    columns[1].format = columns[2].format = 2;
    gResultsColumns.items = columns;
    gResultsColumns.count = 3;
    gSettings.OptScoreCol = 0;
    const struct {
        int32_t sortColumn; /* -1: SortResultsList keeping the best two */
        const char *expectedOrder;
    } cases[] = {
        {-1, "34"},   /* scores 20, 10, 40, 30 keep 3 and 4 ... */
        {3, "3412"},  /* ... and a click on Score sorts the same way */
        {4, "2413"},  /* Other: 5, 8, 1, 6 */
        {5, "1432"},  /* Len: 9, 2, 3, 7 */
    };
    const double values[4][3] = {{1, 20, 5}, {2, 10, 8}, {3, 40, 1}, {4, 30, 6}};
    const double lens[4] = {9, 2, 3, 7};
    ParamValue len = {};
    CopyString(len.name, PARAM_VALUE_NAME_SIZE, "Len", -1);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sortColumn);
        ResultsWindow *w = CreateResultsWindow(1, &len);
        for (int k = 0; k < 4; k++) {
            TestRecord *t = ReadTestRecord(nullptr, 1, 1, 1, 0);
            t->testNumber = k + 1;
            t->parameters[0] = len;
            t->parameters[0].value = lens[k];
            ASSERT_TRUE(AllocMemory(&t->resultsValues, sizeof values[k]));
            memcpy(t->resultsValues, values[k], sizeof values[k]);
            t->resultsValueCount = 3;
            AddTestToResults(w, t);
        }
        std::string order; /* as the list shows it */
        if (c.sortColumn < 0) {
            SortResultsList(w, 2, 0, 0);
            for (TestRecord *t = w->lastTest; t; t = t->previous) order += (char)('0' + t->testNumber);
        } else {
            std::vector<TestRecord *> rows;
            for (TestRecord *t = w->lastTest; t; t = t->previous) rows.push_back(t);
            w->sortKeys[c.sortColumn] = 1;
            w->sortDescending[c.sortColumn] = 1;
            w->keyCount = 1;
            std::stable_sort(rows.begin(), rows.end(), [w](TestRecord *a, TestRecord *b) { return CompareResultsRows(w, a, b) < 0; });
            for (TestRecord *t : rows) order += (char)('0' + t->testNumber);
        }
        EXPECT_EQ(c.expectedOrder, order);
        CloseResultsWindow(w);
    }
    gResultsColumns = saved;
}

} // namespace

namespace {

/* The list's tests as (number, seed) pairs: MakeTest(seed) gives its first
** parameter the value seed x 10. */
std::vector<std::pair<int, int>> NumbersAndSeeds(const ResultsWindow *w)
{
    std::vector<std::pair<int, int>> out;
    for (const TestRecord *t = w->firstTest; t; t = t->next)
        out.emplace_back(t->testNumber, (int)(t->parameters[0].value / 10));
    return out;
}

/* What the file holds, read by a list of its own. */
std::vector<std::pair<int, int>> StoredTests(const std::string &path)
{
    while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
    EXPECT_EQ(1, LoadResultsFile(path.c_str(), 0));
    ResultsWindow *w = FindResultsWindowByPath(path.c_str());
    return w ? NumbersAndSeeds(w) : std::vector<std::pair<int, int>>();
}

void RemoveTest(ResultsWindow *w, int number)
{
    for (TestRecord *t = w->firstTest; t; t = t->next) {
        if (t->testNumber != number) continue;
        (t->previous ? t->previous->next : w->firstTest) = t->next;
        (t->next ? t->next->previous : w->lastTest) = t->previous;
        w->testCount--;
        FreeTestRecord(w, t);
        return;
    }
}

/* A test of seed numbered number, in place of the list's test of that number. */
void PutTest(ResultsWindow *w, int number, int seed)
{
    RemoveTest(w, number);
    TestRecord *t = MakeTest(seed);
    t->testNumber = number;
    AddTestToResults(w, t);
}

/* A new test of the list, numbered as a run numbers it. */
void AddNewTest(ResultsWindow *w, int seed)
{
    TestRecord *t = MakeTest(seed);
    t->testNumber = NextTestNumber(w);
    AddTestToResults(w, t);
}

/* Copies the bytes of from into the file at to where it is (the same file,
** as a writer that rewrites it in place keeps it), and gives it back the
** last-write time it had. */
void RewriteInPlace(const std::string &from, const std::string &to)
{
    const std::string bytes = ReadTestFile(from);
#ifdef _WIN32
    HANDLE h = CreateFileA(to.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    FILETIME written;
    ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &written));
    DWORD n = 0;
    ASSERT_TRUE(WriteFile(h, bytes.data(), (DWORD)bytes.size(), &n, nullptr));
    ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &written));
    CloseHandle(h);
#else
    std::string native = to;
    for (char &c : native)
        if (c == '\\') c = '/';
    struct stat before;
    ASSERT_EQ(0, stat(native.c_str(), &before));
    PlatFile file = PlatOpenFile(to.c_str(), PLAT_OPEN_READ_WRITE);
    ASSERT_NE(nullptr, file);
    uint32_t written = 0;
    ASSERT_TRUE(PlatWriteFile(file, bytes.data(), (uint32_t)bytes.size(), &written));
    PlatCloseFile(file);
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(0, utimensat(AT_FDCWD, native.c_str(), times, 0));
#endif
}

/* A list saves a file another list (another program) saved meanwhile: the
** file keeps every test either list meant to keep, each once, numbered apart.
** The file first holds tests 1 and 2 (seeds 1 and 2), both lists loaded it. */
TEST_F(ResultsFileTest, AMergeKeepsWhatEitherListMeant)
{
    typedef std::vector<std::pair<int, int>> Tests;
    struct Case {
        const char *what;
        void (*theirs)(ResultsWindow *other); /* before the other list saves */
        int inPlace;                          /* the other rewrites the file in place, size and time kept */
        void (*ours)(ResultsWindow *list);    /* before this list saves */
        Tests want;
    } kCases[] = {
        {"a test this list renamed is the test the file holds under its old name",
         [](ResultsWindow *o) { AddNewTest(o, 9); }, 0,
         [](ResultsWindow *w) {
             CopyString(w->firstTest->settings.TestName, TEST_NAME_SIZE, "Renamed", -1);
             w->modified = 1;
         },
         {{1, 1}, {2, 2}, {3, 9}}},
        {"a test the other replaced by another of the same number, name and dates is another test",
         [](ResultsWindow *o) { PutTest(o, 1, 9); }, 0, nullptr, {{2, 2}, {1, 9}, {3, 1}}},
        {"a test both knew that the other removed is kept", [](ResultsWindow *o) { RemoveTest(o, 2); }, 0,
         [](ResultsWindow *w) { AddNewTest(w, 3); }, {{1, 1}, {2, 2}, {3, 3}}},
        {"a kept test whose number the other gave again is numbered anew",
         [](ResultsWindow *o) {
             RemoveTest(o, 2);
             AddNewTest(o, 9);
         },
         0, [](ResultsWindow *w) { AddNewTest(w, 3); }, {{1, 1}, {2, 9}, {3, 2}, {4, 3}}},
        {"a change that keeps the file's size and time is seen",
         [](ResultsWindow *o) { PutTest(o, 2, 8); }, 1, nullptr, {{1, 1}, {2, 8}, {3, 2}}},
        {"numbers after the largest there is go to the smallest free ones",
         [](ResultsWindow *o) { PutTest(o, INT32_MAX, 9); }, 0, [](ResultsWindow *w) { AddNewTest(w, 3); }, {{1, 1}, {2, 2}, {INT32_MAX, 9}, {3, 3}}},
    };
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.what);
        while (ResultsWindow *w = FirstResultsWindow()) CloseResultsWindow(w);
        PlatDeleteFile(tmp.File("r.kvr").c_str());
        const std::string path = SaveTwoTests(*this);
        ResultsWindow *other = FindResultsWindowByPath(path.c_str()), *list = LoadAgain(path);
        c.theirs(other);
        const std::string side = tmp.File("side.kvr");
        if (c.inPlace) CopyString(other->path, sizeof other->path, side.c_str(), -1);
        ASSERT_EQ(1, SaveResultsFile(other, 0));
        if (c.inPlace) {
            ASSERT_EQ(ReadTestFile(side).size(), ReadTestFile(path).size());
            RewriteInPlace(side, path);
        }
        if (c.ours) c.ours(list);
        ASSERT_EQ(1, SaveResultsFile(list, 0)) << LastMessage();
        EXPECT_EQ(c.want, NumbersAndSeeds(list));
        EXPECT_EQ(c.want, StoredTests(path));
        EXPECT_FALSE(PlatFileExists((path + ".~kvl").c_str()));
    }
    /* The list's next new test after the largest number takes the smallest free one. */
    AddNewTest(FirstResultsWindow(), 5);
    EXPECT_EQ(4, FirstResultsWindow()->lastTest->testNumber);
}

/* A save that merged the other program's tests and then failed keeps what
** it learned of the file: the next save adds only its own test again. */
TEST_F(ResultsFileTest, ASaveThatFailedAfterAMergeDoesNotMergeAgain)
{
    const std::string path = SaveTwoTests(*this);
    ResultsWindow *list = FindResultsWindowByPath(path.c_str()), *other = LoadAgain(path);
    AddNewTest(other, 3);
    ASSERT_EQ(1, SaveResultsFile(other, 0));
    AddNewTest(list, 7);
    PlanOneFault(PLAT_FAULT_RENAME, 0);
    EXPECT_EQ(0, SaveResultsFile(list, 0));
    PlatPlanFault(PLAT_FAULT_RENAME, 0, 0);
    const std::vector<std::pair<int, int>> want = {{1, 1}, {2, 2}, {3, 3}, {4, 7}};
    EXPECT_EQ(want, NumbersAndSeeds(list));
    ASSERT_EQ(1, SaveResultsFile(list, 0)) << LastMessage();
    EXPECT_EQ(want, NumbersAndSeeds(list));
    EXPECT_EQ(want, StoredTests(path));
}

/* Save As onto another results file replaces that file with the list, as the
** user was asked; it never merges the other file's tests in. */
TEST_F(ResultsFileTest, SaveAsReplacesTheFileItNames)
{
    const std::string other = tmp.File("other.kvr");
    ResultsWindow *o = CreateResultsWindow(0, nullptr);
    AddNewTest(o, 7);
    AddNewTest(o, 8);
    CopyString(o->path, sizeof o->path, other.c_str(), -1);
    ASSERT_EQ(1, SaveResultsFile(o, 0));
    CloseResultsWindow(o);
    const std::string path = SaveTwoTests(*this);
    ResultsWindow *list = FindResultsWindowByPath(path.c_str());
    CopyString(gHeadless.chooserAnswer, sizeof gHeadless.chooserAnswer, other.c_str(), -1);
    ASSERT_EQ(1, SaveResultsFile(list, 1)) << LastMessage();
    EXPECT_EQ(other, std::string(list->path));
    const std::vector<std::pair<int, int>> want = {{1, 1}, {2, 2}};
    EXPECT_EQ(want, StoredTests(other));
}

} // namespace
