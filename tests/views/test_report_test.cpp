#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <string>
#include <set>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "engine/results_file.h"
#include "foundation/allocator.h"
#include "foundation/random.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "support/program_state.h"
#include "views/results_rows.h"
#include "views/test_report.h"

namespace {

/* ---- a small HTML checker: tags balance, attributes are quoted or plain,
** every '&' in text or attribute starts a character reference ------------------------ */

struct Element {
    std::string name;
    std::string text; /* the text inside, nested elements' included */
};

struct Parsed {
    bool ok = true;
    std::string error;
    std::vector<std::string> texts;      /* every text run */
    std::vector<std::string> attributes; /* every attribute value */
    std::vector<std::string> cells;      /* text of each td/th, in order */
};

bool IsVoid(const std::string &name)
{
    return name == "meta" || name == "link" || name == "br" || name == "img" || name == "!doctype";
}

bool ValidReferences(const std::string &s)
{
    for (size_t i = s.find('&'); i != std::string::npos; i = s.find('&', i + 1)) {
        size_t end = s.find(';', i);
        if (end == std::string::npos || end - i < 3 || end - i > 8) return false;
        for (size_t k = i + 1; k < end; k++)
            if (!isalnum((unsigned char)s[k]) && s[k] != '#') return false;
    }
    return true;
}

Parsed ParseHtml(const std::string &html)
{
    Parsed p;
    std::vector<Element> stack;
    auto fail = [&](const std::string &why) {
        if (p.ok) p.error = why;
        p.ok = false;
    };
    size_t i = 0;
    std::string text;
    auto flushText = [&]() {
        if (text.find_first_not_of(" \n") != std::string::npos) {
            if (text.find('>') != std::string::npos || !ValidReferences(text)) fail("bad text: " + text);
            p.texts.push_back(text);
        }
        for (Element &e : stack) e.text += text;
        text.clear();
    };
    while (i < html.size() && p.ok) {
        if (html[i] != '<') {
            text += html[i++];
            continue;
        }
        flushText();
        if (html.compare(i, 4, "<!--") == 0) {
            size_t end = html.find("-->", i);
            if (end == std::string::npos) fail("open comment");
            i = end + 3;
            continue;
        }
        bool closing = html[i + 1] == '/';
        size_t at = i + (closing ? 2 : 1);
        std::string name;
        while (at < html.size() && (isalnum((unsigned char)html[at]) || html[at] == '!')) name += (char)tolower(html[at++]);
        if (name.empty()) fail("bad tag at " + std::to_string(i));
        while (at < html.size() && html[at] != '>' && p.ok) {
            if (isspace((unsigned char)html[at])) {
                at++;
                continue;
            }
            while (at < html.size() && (isalnum((unsigned char)html[at]) || html[at] == '-')) at++;
            while (at < html.size() && html[at] == ' ') at++;
            if (html[at] != '=') continue;
            at++;
            while (html[at] == ' ') at++;
            std::string value;
            if (html[at] == '\'' || html[at] == '"') {
                char quote = html[at++];
                size_t end = html.find(quote, at);
                if (end == std::string::npos) fail("open attribute");
                value = html.substr(at, end - at);
                at = end + 1;
            } else {
                while (at < html.size() && !isspace((unsigned char)html[at]) && html[at] != '>') value += html[at++];
            }
            if (value.find('<') != std::string::npos || !ValidReferences(value)) fail("bad attribute " + value);
            p.attributes.push_back(value);
        }
        i = at + 1;
        if (!p.ok) break;
        /* A paragraph ends where a block or its parent ends. */
        auto endParagraph = [&]() {
            if (!stack.empty() && stack.back().name == "p") stack.pop_back();
        };
        if (closing) {
            if (name != "p") endParagraph();
            if (stack.empty() || stack.back().name != name) {
                fail("unbalanced </" + name + ">");
                break;
            }
            if (name == "td" || name == "th") p.cells.push_back(stack.back().text);
            stack.pop_back();
        } else if (!IsVoid(name)) {
            if (name == "p" || name == "div" || name == "table" || name == "h3" || name == "pre") endParagraph();
            stack.push_back({name, ""});
        }
    }
    if (p.ok && !stack.empty()) fail("unclosed <" + stack.back().name + ">");
    return p;
}

/* ---- a test made by hand ---------------------------------------------------------------- */

const char kUserName[] = "A<b>&'\"";
const char kEscapedName[] = "A&lt;b&gt;&amp;&#39;&quot;";

struct ReportTest : ProgramStateTest {
    FormulaColumn columns[2] = {};
    DefinitionList savedResults = gResultsColumns;

    void SetUp() override
    {
        ProgramStateTest::SetUp();
        CopyString(gSettings.DateDisplayFormat, sizeof gSettings.DateDisplayFormat, "yyyy-MM-dd", -1);
        CopyString(gReportsFolder, sizeof gReportsFolder, tmp.path.c_str(), -1);
        gSettings.ReportNumber = 0;
        gSettings.ReportWidth = 1200;
        for (int32_t *s : {&gSettings.ReportStats, &gSettings.ReportMonthly, &gSettings.ReportCorrel,
                           &gSettings.ReportGraphs, &gSettings.ReportPlots, &gSettings.ReportSettings,
                           &gSettings.ReportScript})
            *s = 1;
        columns[0].format = 3;
        columns[0].decimals = 2;
        columns[0].barFlag = 1;
        columns[0].barNumber = 1;
        CopyString(columns[0].heading, 80, "Net <Profit>", -1);
        columns[1].format = 0; /* not shown */
        gResultsColumns.items = columns;
        gResultsColumns.count = 2;
        gRun.unattended = 0;
    }
    void TearDown() override
    {
        gResultsColumns = savedResults;
        ProgramStateTest::TearDown();
    }
    /* Makes the report folder name as a run killed before it wrote the
    ** report's line leaves it: its line and page gone, its mark as it was
    ** first written. */
    void KillReport(const std::string &name)
    {
        EXPECT_TRUE(PlatDeleteFile(tmp.File(name + "\\link.txt").c_str())) << name;
        EXPECT_TRUE(PlatDeleteFile(tmp.File(name + "\\index.html").c_str())) << name;
        EXPECT_TRUE(WriteTestFile(tmp.File(name + "\\kestovar_report.txt"), FirstMark(name))) << name;
    }
    static std::string FirstMark(const std::string &name)
    {
        return "Kestovar made this folder for its report " + name + ".\r\n";
    }
};

/* Two strategies over Jan 30 .. Mar 1, 2024 with equity 1000, 1100, 990,
** 1089 (month ends) and 1200; one parameter; the script text. */
TestRecord *MakeTest(const char *scriptText)
{
    const int32_t dates[] = {20240130, 20240131, 20240229, 20240301};
    const double equity[] = {1000, 1100, 990, 1089};
    const double returns[2][4] = {{0, 0.10, -0.10, 0.10}, {0.01, 0.02, 0.03, 0.04}};
    TestRecord *t = ReadTestRecord(nullptr, 1, 2, 4, 0);
    t->testNumber = 12;
    t->rowsFilled = 4;
    t->settings.FirstDate = 20240130;
    t->settings.LastDate = 20240301;
    CopyString(t->settings.TestName, 80, "a/b: c?", -1);
    CopyString(t->settings.ActiveScript, 260, "C:\\s\\<x>.kvs", -1);
    CopyString(t->strategies[0].name, 80, kUserName, -1);
    t->strategies[0].kind = STRATEGY_KIND_STRATEGY;
    CopyString(t->strategies[1].name, 80, "Bench", -1);
    t->strategies[1].kind = STRATEGY_KIND_BENCHMARK;
    CopyString(t->parameters[0].name, 64, "Len&", -1);
    t->parameters[0].value = 5;
    for (int r = 0; r < 4; r++)
        for (int s = 0; s < 2; s++) {
            StatCell *c = &t->cells[r * 2 + s];
            c->date = (uint32_t)dates[r];
            c->equityBase = c->timeWeightedEquity = equity[r];
            c->allocation = 1000;
            c->netPercent = returns[s][r];
        }
    if (scriptText) {
        size_t n = strlen(scriptText) + 1;
        AllocMemory(&t->settings.scriptText, n);
        memcpy(t->settings.scriptText, scriptText, n);
        t->settings.scriptTextLength = (uint32_t)n;
    }
    return t;
}

TEST_F(ReportTest, PageIsWellFormedWithEveryUserTextEscaped)
{
    TestRecord *t = MakeTest("Data:\r\n  x: C < 3 && O > 2\r\n");
    ASSERT_EQ(1, WriteTestReport(t));
    char folder[32];
    FormatText(folder, sizeof folder, "%04d_a_b__c_\\index.html", gSettings.ReportNumber);
    const std::string page = ReadTestFile(tmp.File(folder));
    const Parsed p = ParseHtml(page);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(std::string::npos, page.find(kUserName));
    EXPECT_NE(std::string::npos, page.find(std::string("<th>") + kEscapedName + "</th>"));
    EXPECT_NE(std::string::npos, page.find("<tr><th>Len&amp;</th><th>5</th></tr>"));
    EXPECT_NE(std::string::npos, page.find("<tr><th>Net &lt;Profit&gt;</th>"));
    EXPECT_NE(std::string::npos, page.find("x: C &lt; 3 &amp;&amp; O &gt; 2\n")); /* carriage returns dropped */
    EXPECT_NE(std::string::npos, page.find("<meta charset='utf-8'>"));
    EXPECT_EQ(std::string::npos, page.find("windows-1252"));
    /* The monthly table, worked by hand: not compounded, gains against the
    ** allocation 1000: Jan (1100 - 1000) / 1000, Feb (990 - 1100) / 1000, Mar
    ** (1089 - 990) / 1000; the year 2024 (1089 - 1000) / 1000; drawdown 110
    ** from the peak 1100 over the base 1000. */
    const std::vector<std::string> expect = {"2024", "10.0%", "-11.0%", "9.9%", "n/a", "n/a", "n/a", "n/a", "n/a",
                                             "n/a",  "n/a",   "n/a",    "n/a",  "8.9%", "-11.0%"};
    auto at = std::search(p.cells.begin(), p.cells.end(), expect.begin(), expect.end());
    EXPECT_NE(p.cells.end(), at) << page;
    /* Correlations: returns of the two strategies, worked by hand: x = 0, .1,
    ** -.1, .1 and y = .01 .. .04 give r = 0.000125 / (0.08292 x 0.01118) =
    ** 0.1348, green 255 and red = blue = trunc(0.8652 x 255) = 220. */
    EXPECT_NE(std::string::npos, page.find("<td bgcolor=#DCFFDC style='text-align:center'>0.13</td>"));
    EXPECT_NE(std::string::npos, page.find("<td bgcolor=#00FF00 style='text-align:center'>1.00</td>"));
    EXPECT_EQ(1, gSettings.ReportNumber);
    FreeTestRecord(nullptr, t);
}

/* The pages are UTF-8: the program's 8-bit text is read as Windows-1252,
** except where it already holds UTF-8 (a script saved so). */
TEST(ReportText, PageTextIsUtf8)
{
    const struct {
        const char *text, *page;
    } cases[] = {
        {"plain <ascii>", "plain <ascii>"},
        {"caf\xE9", "caf\xC3\xA9"},                   /* e acute */
        {"\x80 \x99 \x9F", "\xE2\x82\xAC \xE2\x84\xA2 \xC5\xB8"}, /* euro, trade mark, Y diaeresis */
        {"\x81", "\xC2\x81"},                         /* undefined in 1252: its own code point */
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"}, /* UTF-8 already */
        {"\xC3", "\xC3\x83"},                         /* a sequence cut short */
        {"\xE0\x80\x80", "\xC3\xA0\xE2\x82\xAC\xE2\x82\xAC"}, /* an overlong form is no UTF-8 */
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},       /* nor a surrogate */
    };
    for (const auto &c : cases) EXPECT_EQ(c.page, PageText(c.text, strlen(c.text))) << c.text;
}

/* The stylesheet the program ships goes into a reports folder without one,
** and the pages use it; with none anywhere they use the public copy. */
/* The page's graphs and plots let the window answer while they are drawn:
** the report holds its test until the page and its line are written, so no
** Delete frees it meanwhile. */
TEST_F(ReportTest, AReportHoldsItsTestUntilItsPageIsWritten)
{
    TestRecord *t = MakeTest(nullptr);
    static int32_t heldAtPage;
    heldAtPage = 0;
    gReportPageHeld = [](const char *) { heldAtPage = CountTestHolds(); };
    EXPECT_EQ(1, WriteTestReport(t));
    gReportPageHeld = nullptr;
    EXPECT_GT(heldAtPage, 0);
    EXPECT_EQ(0, CountTestHolds());
    FreeTestRecord(nullptr, t);
}

TEST_F(ReportTest, PagesUseTheStyleSheetShippedWithTheProgram)
{
    const std::string reports = tmp.File("Reports");
    ASSERT_TRUE(PlatCreateFolder(reports.c_str()));
    CopyString(gReportsFolder, sizeof gReportsFolder, reports.c_str(), -1);
    TestRecord *t = MakeTest(nullptr);
    CopyString(t->settings.TestName, 80, "Caf\xE9", -1);
    ASSERT_EQ(1, WriteTestReport(t));
    std::string page = ReadTestFile(reports + "\\0001_Caf_\\index.html");
    EXPECT_NE(std::string::npos, page.find("href='https://www.w3schools.com/w3css/4/w3.css'"));
    EXPECT_NE(std::string::npos, page.find("<title>Test 12 - Caf\xC3\xA9</title>"));

    ASSERT_TRUE(WriteTestFile(tmp.File("w3.css"), ".w3-text-red{color:#f44336!important}\n"));
    ASSERT_EQ(1, WriteTestReport(t));
    page = ReadTestFile(reports + "\\0002_Caf_\\index.html");
    EXPECT_NE(std::string::npos, page.find("<link rel='stylesheet' href='../w3.css'>"));
    EXPECT_EQ(".w3-text-red{color:#f44336!important}\n", ReadTestFile(reports + "\\w3.css"));
    EXPECT_NE(std::string::npos, ReadTestFile(reports + "\\index.html").find("href='w3.css'"));
    EXPECT_NE(std::string::npos, ReadTestFile(reports + "\\0002_Caf_\\link.txt").find("<b>Caf\xC3\xA9</b>"));
    FreeTestRecord(nullptr, t);
}

/* The stylesheet goes in by way of a temporary file of this run's own: a
** file another writer keeps beside it under the old fixed name is neither
** overwritten, removed nor put in place. */
TEST_F(ReportTest, TheStyleSheetLeavesAnotherWritersTemporaryAlone)
{
    const std::string reports = tmp.File("Reports");
    ASSERT_TRUE(PlatCreateFolder(reports.c_str()));
    CopyString(gReportsFolder, sizeof gReportsFolder, reports.c_str(), -1);
    ASSERT_TRUE(WriteTestFile(tmp.File("w3.css"), ".w3-red{color:#fff!important}\n"));
    ASSERT_TRUE(WriteTestFile(reports + "\\w3.css.tmp", "another writer's"));
    TestRecord *t = MakeTest(nullptr);
    ASSERT_EQ(1, WriteTestReport(t));
    EXPECT_EQ(".w3-red{color:#fff!important}\n", ReadTestFile(reports + "\\w3.css"));
    EXPECT_EQ("another writer's", ReadTestFile(reports + "\\w3.css.tmp"));
    EXPECT_EQ("0001_a_b__c_;index.html;w3.css;w3.css.tmp;", ListTestFolder(reports));
    EXPECT_NE(std::string::npos, ReadTestFile(reports + "\\0001_a_b__c_\\index.html").find("href='../w3.css'"));
    EXPECT_EQ(0, gHeadless.messageCount);
    FreeTestRecord(nullptr, t);
}

TEST_F(ReportTest, LinkAndListNameEveryReport)
{
    TestRecord *t = MakeTest(nullptr);
    ASSERT_EQ(1, WriteTestReport(t));
    ASSERT_EQ(1, WriteTestReport(t));
    const std::string link = ReadTestFile(tmp.File("0002_a_b__c_\\link.txt"));
    EXPECT_EQ("<a class='w3-button w3-small' href='0002_a_b__c_/index.html'>2 | <b>a/b: c?</b> | 2024-01-30 - "
              "2024-03-01 | Net &lt;Profit&gt;: $0.00</a>",
              link);
    const std::string list = ReadTestFile(tmp.File("index.html"));
    const Parsed p = ParseHtml(list);
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_NE(std::string::npos, list.find("href='0001_a_b__c_/index.html'"));
    EXPECT_NE(std::string::npos, list.find("href='0002_a_b__c_/index.html'"));
    EXPECT_EQ(std::string::npos, ReadTestFile(tmp.File("0002_a_b__c_\\index.html")).find("Test Script"));
    FreeTestRecord(nullptr, t);
}

TEST_F(ReportTest, FailedReportKeepsItsNumberAndAnEarlierFolderIsNotReused)
{
    TestRecord *t = MakeTest(nullptr);
    CopyString(gReportsFolder, sizeof gReportsFolder, tmp.File("missing\\deeper").c_str(), -1);
    EXPECT_EQ(0, WriteTestReport(t));
    EXPECT_EQ("Unable to create folder " + tmp.File("missing\\deeper\\0001_a_b__c_"), std::string(LastMessage()));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_EQ(0, gSettings.ReportNumber);

    /* A folder whose writer is still at work (it holds the number's mark)
    ** keeps its number and its pictures; one whose writer is gone goes, and
    ** its pictures never join a new report. */
    CopyString(gReportsFolder, sizeof gReportsFolder, tmp.path.c_str(), -1);
    ASSERT_EQ(1, WriteTestReport(t));
    KillReport("0001_a_b__c_");
    gSettings.ReportNumber = 0;
    ASSERT_TRUE(WriteTestFile(tmp.File("0001_a_b__c_\\graph3.png"), "old"));
    PlatFile writer = PlatOpenFile(tmp.File("0001.~kvw").c_str(), PLAT_CREATE_EXCLUSIVE);
    ASSERT_NE(nullptr, writer);
    EXPECT_EQ(1, WriteTestReport(t));
    EXPECT_EQ("old", ReadTestFile(tmp.File("0001_a_b__c_\\graph3.png")));
    EXPECT_TRUE(PlatFileExists(tmp.File("0002_a_b__c_\\index.html").c_str()));
    PlatCloseFile(writer);
    EXPECT_EQ(1, WriteTestReport(t));
    EXPECT_FALSE(PlatFileExists(tmp.File("0001_a_b__c_").c_str()));
    EXPECT_TRUE(PlatFileExists(tmp.File("0003_a_b__c_\\index.html").c_str()));
    FreeTestRecord(nullptr, t);
}

/* A report run removes only a folder it can prove it made, and says so: one
** of its own (it holds the program's mark) that a killed run left without
** its line, holding nothing but report files.  A user's folders stay whole,
** whatever their names hold: notes, a report of an earlier version (no mark,
** with or without its line), a folder of the program's to which the user
** added a file.  The numbering goes on from the program's own folders, past
** every number a folder carries. */
TEST_F(ReportTest, AReportRunRemovesOnlyWhatItMade)
{
    TestRecord *t = MakeTest(nullptr);
    const std::string notes = "2024_notes\\index.html", mine = "0001_Mine\\index.html", old = "0004_old\\graph1.png";
    for (const std::string &file : {notes, mine, old}) {
        ASSERT_TRUE(PlatCreateFolder(tmp.File(file.substr(0, file.find('\\'))).c_str()));
        ASSERT_TRUE(WriteTestFile(tmp.File(file), file));
    }
    const std::string dead = "0002_a_b__c_", kept = "0003_a_b__c_";
    ASSERT_EQ(1, WriteTestReport(t));
    ASSERT_EQ(1, WriteTestReport(t));
    KillReport(dead);
    KillReport(kept);
    ASSERT_TRUE(WriteTestFile(tmp.File(kept + "\\mine.txt"), "mine"));
    gHeadless.captureLog = 1;
    ASSERT_EQ(1, WriteTestReport(t));
    EXPECT_EQ("0001_Mine;0003_a_b__c_;0004_old;0005_a_b__c_;2024_notes;index.html;", ListTestFolder(tmp.path));
    for (const std::string &file : {notes, mine, old}) EXPECT_EQ(file, ReadTestFile(tmp.File(file)));
    EXPECT_EQ("kestovar_report.txt;mine.txt;", ListTestFolder(tmp.File(kept)));
    EXPECT_EQ("Removed " + tmp.File(dead) + ", the folder of a report that was never finished.\n",
              std::string(gHeadless.logText ? gHeadless.logText : ""));
    EXPECT_EQ(5, gSettings.ReportNumber);
    FreeTestRecord(nullptr, t);
}

/* The mark of a report folder records when its report was finished, and
** such a folder stays whole whatever a user deletes from it (its line, its
** page).  A mark without that record (of a run killed part way, or of an
** earlier version) keeps the rule for a report never finished: its folder
** goes once it has no line and holds only report files. */
TEST_F(ReportTest, AFinishedReportIsKeptWhateverIsDeletedFromIt)
{
    TestRecord *t = MakeTest(nullptr);
    ASSERT_EQ(1, WriteTestReport(t));
    ASSERT_EQ(1, WriteTestReport(t));
    const std::string finished = "0001_a_b__c_", older = "0002_a_b__c_";
    const std::string mark = ReadTestFile(tmp.File(finished + "\\kestovar_report.txt"));
    const std::string first = FirstMark(finished);
    ASSERT_EQ(first, mark.substr(0, first.size()));
    int year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1;
    EXPECT_EQ(6, sscanf(mark.c_str() + first.size(), "Finished: %4d-%2d-%2d %2d:%2d:%2d", &year, &month, &day, &hour,
                        &minute, &second))
        << mark;
    EXPECT_TRUE(year >= 2024 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour < 24 &&
                minute >= 0 && minute < 60 && second >= 0 && second < 60)
        << mark;
    EXPECT_EQ("Finished: 0000-00-00 00:00:00\r\n", std::regex_replace(mark.substr(first.size()), std::regex("[0-9]"), "0"))
        << mark;
    for (const std::string &name : {finished, older}) {
        EXPECT_TRUE(PlatDeleteFile(tmp.File(name + "\\link.txt").c_str())) << name;
        EXPECT_TRUE(PlatDeleteFile(tmp.File(name + "\\index.html").c_str())) << name;
    }
    ASSERT_TRUE(WriteTestFile(tmp.File(older + "\\kestovar_report.txt"), FirstMark(older)));
    gHeadless.captureLog = 1;
    ASSERT_EQ(1, WriteTestReport(t));
    EXPECT_EQ("0001_a_b__c_;0003_a_b__c_;index.html;", ListTestFolder(tmp.path));
    EXPECT_EQ("kestovar_report.txt;", ListTestFolder(tmp.File(finished)));
    EXPECT_EQ(mark, ReadTestFile(tmp.File(finished + "\\kestovar_report.txt")));
    EXPECT_EQ("Removed " + tmp.File(older) + ", the folder of a report that was never finished.\n",
              std::string(gHeadless.logText ? gHeadless.logText : ""));
    /* The record goes in whole or not at all, after the report list: where
    ** it cannot, that is said, and the report stands with its mark as first
    ** written. */
    for (int kind : {PLAT_FAULT_WRITE, PLAT_FAULT_RENAME}) {
        SCOPED_TRACE(kind);
        const std::string next = kind == PLAT_FAULT_WRITE ? "0004_a_b__c_" : "0005_a_b__c_";
        PlanOneFault(kind, kind == PLAT_FAULT_WRITE ? 4 : 3);
        EXPECT_EQ(0, WriteTestReport(t));
        ExpectOneFailedReplace(kind, tmp.File(next + "\\kestovar_report.txt"), FirstMark(next), tmp.File(next),
                               "index.html;kestovar_report.txt;link.txt;");
        EXPECT_NE(std::string::npos, ReadTestFile(tmp.File("index.html")).find("href='" + next + "/index.html'"));
    }
    FreeTestRecord(nullptr, t);
}

/* Unattended runs never save the settings, so each starts from the number
** the settings file holds: the report folders already there carry the count
** on, and every run's report gets a folder and a line of the list. */
TEST_F(ReportTest, EveryUnattendedRunWritesAReportOfItsOwn)
{
    TestRecord *t = MakeTest(nullptr);
    gRun.unattended = 1;
    for (int run = 0; run < 3; run++) {
        gSettings.ReportNumber = 0;
        ASSERT_EQ(1, WriteTestReport(t));
    }
    EXPECT_EQ("0001_a_b__c_;0002_a_b__c_;0003_a_b__c_;index.html;", ListTestFolder(tmp.path));
    const std::string list = ReadTestFile(tmp.File("index.html"));
    for (const char *folder : {"0001_a_b__c_", "0002_a_b__c_", "0003_a_b__c_"})
        EXPECT_NE(std::string::npos, list.find(std::string("href='") + folder + "/index.html'")) << folder;
    /* Only a folder the program made for a report counts: named by four
    ** digits or more and '_', with the program's mark.  A folder another
    ** program or an earlier version made does not, and its number is passed
    ** over. */
    for (const char *other : {"0004_older", "2024_notes", "999_short", "12345", "0x99_hex"})
        ASSERT_TRUE(PlatCreateFolder(tmp.File(other).c_str()));
    ASSERT_TRUE(WriteTestFile(tmp.File("0004_older\\link.txt"), "older"));
    gSettings.ReportNumber = 0;
    ASSERT_EQ(1, WriteTestReport(t));
    EXPECT_TRUE(PlatFileExists(tmp.File("0005_a_b__c_\\index.html").c_str()));
    EXPECT_EQ(5, gSettings.ReportNumber);
    FreeTestRecord(nullptr, t);
}

/* The report list names the reports by folder name, as Windows lists a
** folder (letters compared as capitals, so '_' after them), whatever order
** the file system keeps them in. */
TEST_F(ReportTest, ReportListIsInNameOrder)
{
    for (const char *folder : {"0042_x", "0002_b", "0001__", "0003_c", "0001_a"}) {
        ASSERT_TRUE(PlatCreateFolder(tmp.File(folder).c_str()));
        ASSERT_TRUE(WriteTestFile(tmp.File(std::string(folder) + "\\link.txt"), folder));
    }
    ASSERT_EQ(1, WriteReportsIndex(0));
    const std::string list = ReadTestFile(tmp.File("index.html"));
    const size_t body = list.find("Report List</h3>\n");
    ASSERT_NE(std::string::npos, body);
    EXPECT_EQ("0001_a<br>\n0001__<br>\n0002_b<br>\n0003_c<br>\n0042_x<br>\n</body>\n</html>\n", list.substr(body + 17));
}

#ifndef _WIN32
/* Runs started together (processes released at once) each keep a report
** folder of their own, with their own image in it: a number another run took
** first moves a report on to the next.  Each puts the stylesheet in place
** whole, and none leaves a temporary file. */
void WriteRunsGraph(TestRecord *)
{
    WriteTestFile(std::string(gReportFolder) + "\\graph1.png", std::to_string(getpid()));
}

TEST_F(ReportTest, ReportsOfRunsStartedTogetherAreAllKept)
{
    TestRecord *t = MakeTest(nullptr);
    gRun.unattended = 1;
    gReportGraphWriter = WriteRunsGraph;
    const std::string sheet(20000, 'w'); /* more than one write's worth */
    ASSERT_TRUE(WriteTestFile(tmp.File("w3.css"), sheet));
    const int kRuns = 6;
    for (int round = 0; round < 8; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        TempFolder reports;
        CopyString(gReportsFolder, sizeof gReportsFolder, reports.path.c_str(), -1);
        int go[2];
        ASSERT_EQ(0, pipe(go));
        std::set<std::string> runs;
        for (int run = 0; run < kRuns; run++) {
            const pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                close(go[1]);
                char c;
                while (read(go[0], &c, 1) > 0) {
                }
                gSettings.ReportNumber = 0;
                _exit(WriteTestReport(t) ? 0 : 1);
            }
            runs.insert(std::to_string(pid));
        }
        close(go[0]);
        usleep(20000);
        close(go[1]); /* every run goes */
        /* Each run answers for its own report, the report list included. */
        for (int run = 0; run < kRuns; run++) {
            int status = -1;
            const pid_t pid = wait(&status);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << pid << ": status " << status;
        }
        /* Every run's report in a folder of its own, each linked from the
        ** list.  Runs that claim numbers at one moment may pass a number
        ** over, so the numbers are not pinned. */
        std::set<std::string> graphs;
        std::string listing = ListTestFolder(reports.path), folders;
        const std::string index = ReadTestFile(reports.File("index.html"));
        for (size_t at = 0, end; (end = listing.find(';', at)) != std::string::npos; at = end + 1) {
            const std::string name = listing.substr(at, end - at);
            if (name.size() < 5 || name.compare(4, std::string::npos, "_a_b__c_") != 0) continue;
            folders += name + ";";
            const std::string folder = reports.File(name);
            EXPECT_EQ("graph1.png;index.html;kestovar_report.txt;link.txt;", ListTestFolder(folder)) << name;
            EXPECT_NE(std::string::npos, ReadTestFile(folder + "\\index.html").find("href='../w3.css'")) << name;
            EXPECT_NE(std::string::npos, index.find("href='" + name + "/index.html'")) << name;
            graphs.insert(ReadTestFile(folder + "\\graph1.png"));
        }
        EXPECT_EQ(runs, graphs);
        EXPECT_TRUE(ReadTestFile(reports.File("w3.css")) == sheet);
        EXPECT_EQ(folders + "index.html;w3.css;", listing);
    }
    gReportGraphWriter = nullptr;
    CopyString(gReportsFolder, sizeof gReportsFolder, tmp.path.c_str(), -1);
    FreeTestRecord(nullptr, t);
}
#endif

/* The native program shows the Script and Data File paths with '/', as its
** terminal and error log do; the Windows program keeps '\'. */
TEST_F(ReportTest, SettingsShowPathsAsTheProgramWritesThem)
{
    TestRecord *t = MakeTest(nullptr);
    CopyString(t->settings.DataFile, 260, "D:\\data\\us.kvd", -1);
    std::vector<int> modes = {0};
#ifndef _WIN32
    modes.push_back(1); /* the native program's */
#endif
    for (int native : modes) {
        gMessageState.nativePaths = native;
        gSettings.ReportNumber = 0;
        const int written = WriteTestReport(t);
        gMessageState.nativePaths = 0;
        ASSERT_EQ(1, written);
        const std::string page = ReadTestFile(tmp.File("000" + std::to_string(native + 1) + "_a_b__c_\\index.html"));
        const char *script = native ? "C:/s/&lt;x&gt;.kvs" : "C:\\s\\&lt;x&gt;.kvs";
        const char *data = native ? "D:/data/us.kvd" : "D:\\data\\us.kvd";
        EXPECT_NE(std::string::npos, page.find(std::string("<tr><th>Script</th><th>") + script + "</th></tr>")) << native;
        EXPECT_NE(std::string::npos, page.find(std::string("<tr><th>Data File</th><th>") + data + "</th></tr>")) << native;
    }
    /* A name longer than the results file's field (167 Cyrillic letters,
    ** 292 bytes) shows whole in the report and in Log Test Settings. */
    std::string script = "C:";
    for (int k = 0; k < 5; k++)
        script += "\\\xD0\xA2\xD0\xBE\xD1\x80\xD0\xB3\xD0\xBE\xD0\xB2\xD1\x8B\xD0\xB5 \xD1\x81\xD0\xB8\xD1\x81"
                  "\xD1\x82\xD0\xB5\xD0\xBC\xD1\x8B \xD0\xB4\xD0\xBB\xD1\x8F \xD1\x80\xD1\x8B\xD0\xBD\xD0\xBA\xD0\xB0";
    script += "\\\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.kvs";
    ASSERT_GT(script.size(), 260u);
    ASSERT_EQ(1, SetTestNames(t, "D:\\data\\us.kvd", script.c_str()));
    gSettings.ReportNumber = 0;
    ASSERT_EQ(1, WriteTestReport(t));
    char folder[32];
    FormatText(folder, sizeof folder, "%04d_a_b__c_\\index.html", gSettings.ReportNumber);
    const std::string page = ReadTestFile(tmp.File(folder));
    EXPECT_NE(std::string::npos, page.find("<tr><th>Script</th><th>" + script + "</th></tr>"));
    gHeadless.captureLog = 1;
    LogTestSettings(t);
    const std::string log = gHeadless.logText ? gHeadless.logText : "";
    EXPECT_NE(std::string::npos, log.find("Script:\t" + script + "\n")) << log;
    EXPECT_NE(std::string::npos, log.find("Data File:\tD:\\data\\us.kvd\n")) << log;
    FreeTestRecord(nullptr, t);
}

/* A report after one an earlier run left, with the n-th of its three files
** failing: a full disk or a refused rename.  The earlier report and the
** report list keep their bytes where they fail, and a new file that failed
** is not there; a report without its page or its link goes with its folder
** and the images written into it, and leaves its number free. */
std::string gGraphImage;
void CopyGraphIntoReport(TestRecord *)
{
    PlatCopyFile(gGraphImage.c_str(), (std::string(gReportFolder) + "\\graph1.png").c_str());
}

TEST_F(ReportTest, AFailedWriteKeepsThePreviousReportFiles)
{
    TestRecord *t = MakeTest(nullptr);
    gGraphImage = tmp.File("graph.png");
    ASSERT_TRUE(WriteTestFile(gGraphImage, "PNG"));
    gReportGraphWriter = CopyGraphIntoReport;
    const struct {
        int failing;      /* 0 page, 1 link.txt, 2 report list */
        bool replaced[3]; /* page, link.txt, list */
        const char *listing; /* the new report's folder afterwards ("": none) */
        int32_t number;   /* ReportNumber afterwards */
    } cases[] = {
        {0, {false, false, false}, "", 1},
        {1, {false, false, false}, "", 1},
        {2, {true, true, false}, "graph1.png;index.html;kestovar_report.txt;link.txt;", 2},
    };
    for (int kind : {PLAT_FAULT_WRITE, PLAT_FAULT_RENAME})
        for (const auto &c : cases) {
            SCOPED_TRACE("kind " + std::to_string(kind) + ", file " + std::to_string(c.failing));
            TempFolder reports;
            CopyString(gReportsFolder, sizeof gReportsFolder, reports.path.c_str(), -1);
            const std::string earlier = reports.File("0001_a_b__c_"), folder = reports.File("0002_a_b__c_");
            gSettings.ReportNumber = 0;
            ASSERT_EQ(1, WriteTestReport(t));
            const std::string files[3] = {folder + "\\index.html", folder + "\\link.txt", reports.File("index.html")};
            const std::string old[3] = {"", "", "<html>old list</html>"};
            ASSERT_TRUE(WriteTestFile(earlier + "\\index.html", "<html>old page</html>"));
            ASSERT_TRUE(WriteTestFile(earlier + "\\link.txt", "<a href='0001_a_b__c_/index.html'>old</a>"));
            ASSERT_TRUE(WriteTestFile(files[2], old[2]));
            gSettings.ReportNumber = 0;
            /* The report's first write is its folder's mark. */
            PlanOneFault(kind, c.failing + (kind == PLAT_FAULT_WRITE));
            EXPECT_EQ(0, WriteTestReport(t));
            ExpectOneFailedReplace(kind, files[c.failing], old[c.failing], folder, c.listing);
            const std::string named = kind == PLAT_FAULT_WRITE ? " bytes to " : "Unable to create ";
            EXPECT_NE(std::string::npos, std::string(LastMessage()).find(named + files[c.failing] + "\r\n\r\n"))
                << LastMessage();
            for (int k = 0; k < 3; k++) {
                const std::string now = ReadTestFile(files[k]);
                EXPECT_EQ(c.replaced[k], !now.empty() && now != old[k]) << files[k] << ": " << now;
                EXPECT_EQ(!c.replaced[k], now == old[k]) << files[k];
            }
            EXPECT_EQ("<html>old page</html>", ReadTestFile(earlier + "\\index.html"));
            EXPECT_EQ(c.number == 2 ? "0001_a_b__c_;0002_a_b__c_;index.html;" : "0001_a_b__c_;index.html;",
                      ListTestFolder(reports.path));
            EXPECT_EQ(c.number, gSettings.ReportNumber);
            EXPECT_EQ(nullptr, gReportPage);
        }
    gReportGraphWriter = nullptr;
    CopyString(gReportsFolder, sizeof gReportsFolder, tmp.path.c_str(), -1);
    FreeTestRecord(nullptr, t);
}

/* A report whose folder's mark or page cannot be made goes with its folder
** and leaves its number free. */
TEST_F(ReportTest, AReportWithoutItsPageLeavesNoFolder)
{
    TestRecord *t = MakeTest(nullptr);
    const struct {
        int made;            /* files made new before the one that fails: the number's mark, the folder's */
        const char *message; /* what the report says, up to its reason */
    } cases[] = {
        {1, "Unable to create 0001_a_b__c_\\kestovar_report.txt"},
        {2, "Unable to create 0001_a_b__c_\\index.html"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.message);
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        PlatPlanFault(PLAT_FAULT_CREATE, c.made, 1);
        EXPECT_EQ(0, WriteTestReport(t));
        EXPECT_EQ(1, PlatFaultsMade(PLAT_FAULT_CREATE));
        const std::string message = c.message;
        EXPECT_EQ(0u, std::string(LastMessage()).rfind(tmp.File(message.substr(message.rfind(' ') + 1)).insert(0,
                                                            message.substr(0, message.rfind(' ') + 1)), 0))
            << LastMessage();
        EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
        EXPECT_EQ("", ListTestFolder(tmp.path));
        EXPECT_EQ(0, gSettings.ReportNumber);
        EXPECT_EQ(nullptr, gReportPage);
    }
    FreeTestRecord(nullptr, t);
}

TEST_F(ReportTest, FolderNamesAndCorrelationColours)
{
    char name[PATH_SIZE];
    MakeReportFolderName(7, "a/b: c?", name, sizeof name);
    EXPECT_STREQ("0007_a_b__c_", name);
    MakeReportFolderName(12, "x*y|z\"\xE9<>\\", name, sizeof name);
    EXPECT_STREQ("0012_x_y_z_____", name);
    /* A name Windows would cut at its trailing dots names one folder in
    ** both programs and in its mark. */
    MakeReportFolderName(1, "T dot..", name, sizeof name);
    EXPECT_STREQ("0001_T_dot__", name);
    MakeReportFolderName(2, "v1.2", name, sizeof name);
    EXPECT_STREQ("0002_v1.2", name);

    /* One strategy flat, one moving: r is 0, which is white. */
    TestRecord *t = MakeTest(nullptr);
    for (int r = 0; r < 4; r++) t->cells[r * 2].netPercent = 0.05;
    std::string out;
    WriteCorrelationTable(t, 0, &out);
    EXPECT_NE(std::string::npos, out.find("<td bgcolor=#FFFFFF style='text-align:center'>0.00</td>"));
    /* A falling series against a rising one: r = -1, pure red. */
    const double down[4] = {0.04, 0.03, 0.02, 0.01};
    for (int r = 0; r < 4; r++) t->cells[r * 2].netPercent = down[r];
    out.clear();
    WriteCorrelationTable(t, 0, &out);
    EXPECT_NE(std::string::npos, out.find("<td bgcolor=#FF0000 style='text-align:center'>-1.00</td>"));
    FreeTestRecord(nullptr, t);
}

/* Every gain stands under its own month.  A row dated 0 or in a thirteenth
** month (a damaged file) takes no column, and a month without a row of its
** own (quarterly bars, a gap in the data) shows "n/a".  Equity 1000, 1100,
** 990, 1089 against the allocation 1000, not compounded, worked by hand. */
TEST_F(ReportTest, MonthlyTableKeepsEveryGainUnderItsMonth)
{
    const struct {
        uint32_t dates[4];
        std::vector<std::string> expect;
    } cases[] = {
        /* The first row damaged: the test above's months. */
        {{0, 20240131, 20240229, 20240301},
         {"2024", "10.0%", "-11.0%", "9.9%", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "8.9%",
          "-11.0%"}},
        /* The last row damaged: Jan 10%, Feb (990 - 1100) / 1000 ends the
        ** year at (990 - 1000) / 1000. */
        {{20240130, 20240131, 20240229, 20241301},
         {"2024", "10.0%", "-11.0%", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "-1.0%",
          "-11.0%"}},
        /* Jan 0; Apr +10%; May (990 - 1100) / 1000; Sep +9.9%; the year +8.9%. */
        {{20240131, 20240430, 20240531, 20240930},
         {"2024", "0.0%", "n/a", "n/a", "10.0%", "-11.0%", "n/a", "n/a", "n/a", "9.9%", "n/a", "n/a", "n/a", "8.9%",
          "-11.0%"}},
        /* Oct 0 and Nov +10% close 2023; 2024 starts in March from 1100. */
        {{20231031, 20231130, 20240329, 20240430},
         {"2023", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "0.0%", "10.0%", "n/a", "10.0%", "0.0%",
          "2024", "n/a", "n/a", "-11.0%", "9.9%", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "n/a", "-1.1%",
          "-11.0%"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.dates[0]);
        TestRecord *t = MakeTest(nullptr);
        for (int r = 0; r < 4; r++) t->cells[r * 2].date = c.dates[r];
        std::string out;
        WriteMonthlyGainsTable(t, &out);
        const Parsed p = ParseHtml(out);
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_NE(p.cells.end(), std::search(p.cells.begin(), p.cells.end(), c.expect.begin(), c.expect.end())) << out;
        FreeTestRecord(nullptr, t);
    }
}

/* Without the windows that draw its pictures, a report still holds the
** Monte Carlo table of its trade plots, and no heading stands over nothing.
** Ten trades of +25 (10 shares from 10 to 12.50): every sample ends at +250
** whatever it draws and never falls; 4 rows at 4 a year are one year.  The
** backtest row is the main strategy's last cell: 1089 against 1000, with its
** deepest drawdown of 110. */
TEST_F(ReportTest, ANativeReportHoldsTheMonteCarloTableAndNoEmptyHeading)
{
    TestRecord *t = MakeTest(nullptr);
    t->daysPerYear = 4;
    gSettings.ReportMCLines = 100;
    gSettings.ReportMCKeep = 5;
    for (int k = 0; k < 10; k++) {
        TradeRecord *trade = AddTrade(t);
        ASSERT_NE(nullptr, trade);
        trade->strategy = 0;
        trade->side = 1;
        trade->dateIn = 20240130;
        trade->dateOut = 20240131;
        trade->priceIn = 10;
        trade->priceOut = 12.5;
        trade->quantityIn = trade->quantityOut = 10;
        trade->splitIn = trade->splitOut = trade->fxIn = trade->fxOut = trade->pointValue = 1;
        trade->highest = 12.5;
        trade->lowest = 10;
    }
    for (int r = 0; r < 4; r++) t->cells[r * 2].startEquity = 1000;
    t->cells[3 * 2].maxDrawdownAmount = 110;
    SetRandomSeed(5); /* the table of equal trades is the same whatever is drawn */
    ASSERT_EQ(1, WriteTestReport(t));
    SetRandomSeed(0);
    char folder[32];
    FormatText(folder, sizeof folder, "%04d_a_b__c_\\index.html", gSettings.ReportNumber);
    const std::string page = ReadTestFile(tmp.File(folder));
    ASSERT_TRUE(ParseHtml(page).ok) << page;
    EXPECT_EQ(std::string::npos, page.find("Daily Stats Graphs")) << page;
    /* Every section heading has something under it before the next heading. */
    const std::regex emptyHeading("<h3 class='w3-container w3-pale-red'>[^<]*</h3>\\s*(<h3|</body>)");
    EXPECT_FALSE(std::regex_search(page, emptyHeading)) << page;
    std::string table = "<h3 class='w3-container w3-pale-red'>Monte Carlo Analysis</h3>\n<table class='w3-table "
                        "w3-striped'><tr class='w3-pale-green'><th>Percentile</th><th>Net Profit</th><th>AAR</th>"
                        "<th>Max Drawdown</th></tr>\n";
    for (int q : {1, 5, 10, 20, 50, 80, 90, 95, 99})
        table += "<tr><td>" + std::to_string(q) + "%</td><td>$250</td><td>$250</td><td>$0</td></tr>\n";
    table += "<tr><th>backtest</th><th>$89</th><th>$89</th><th class='w3-text-red'>$-110</th></tr>\n</table>\n";
    EXPECT_NE(std::string::npos, page.find(table)) << page;
    FreeTestRecord(nullptr, t);
}

/* With KV_REPORT_SAMPLE set to a folder, writes a report there for a person
** (or tools/report-shot) to look at; otherwise there is nothing to do. */
TEST_F(ReportTest, SampleReportForReview)
{
    const char *folder = getenv("KV_REPORT_SAMPLE");
    if (!folder || !folder[0]) GTEST_SKIP() << "KV_REPORT_SAMPLE not set";
    CopyString(gReportsFolder, sizeof gReportsFolder, folder, -1);
    TestRecord *t = MakeTest("Data:\r\n  x: C < 3 && O > 2\r\nStrategy: \"A<b>&'\\\"\"\r\n  EntrySetup: x\r\n");
    ASSERT_EQ(1, WriteTestReport(t));
    FreeTestRecord(nullptr, t);
}

} // namespace
