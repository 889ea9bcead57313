#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/ini_file.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/program_state.h"

namespace {

struct SettingsTableTest : ProgramStateTest {
    EditorStyleRecord savedStyles[EDITOR_STYLE_RECORDS];
    StyleColourSet savedChart = gChartColours, savedGraph = gGraphColours;
    std::string path;
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        memcpy(savedStyles, gEditorStyles, sizeof savedStyles);
        gListOpenFileWindows = nullptr;
        path = tmp.File("kestovar.ini");
    }
    void TearDown() override
    {
        memcpy(gEditorStyles, savedStyles, sizeof savedStyles);
        gChartColours = savedChart;
        gGraphColours = savedGraph;
        gListOpenFileWindows = nullptr;
        ProgramStateTest::TearDown();
    }
};

/* The keys and section headers of a settings file, in order. */
std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

} // namespace

TEST_F(SettingsTableTest, TableHoldsEveryRowOnceInFileOrder)
{
    int rows = 0;
    std::set<std::string> keys;
    std::vector<std::string> sections;
    for (const SettingEntry *row = gSettingTable; row->key; row++, rows++) {
        EXPECT_TRUE(keys.insert(row->key).second) << row->key;
        if (row->type == ST_PATH || row->type == ST_HISTORY) {
            EXPECT_TRUE(keys.insert(std::string(row->key) + "MRU").second) << row->key;
            EXPECT_NE(row->extra.history, nullptr) << row->key;
        }
        if (sections.empty() || sections.back() != row->section) sections.push_back(row->section);
        EXPECT_TRUE(row->data || strcmp(row->key, "RecentFiles") == 0) << row->key;
        if (row->type == ST_WORD) {
            EXPECT_NE(row->extra.words, nullptr) << row->key;
        }
    }
    EXPECT_EQ(rows, SETTING_ROW_COUNT);
    /* each section is one run of rows, so a save keeps its keys together */
    const std::vector<std::string> kSections = {
        "Settings", "Options", "Import", "Internal", "Optimizer", "Reports", "FindInFiles", "DebugWindow",
        "ScriptWindows", "LogWindows", "ChartWindows", "GraphWindows", "PlotWindows", "CompareTrades",
        "ResGraphWindows", "RecentItems", "MainWindow", "WindowPositions"};
    EXPECT_EQ(sections, kSections);
    /* the keys that are written beside the table never clash with it */
    for (int i = 0; i < EDITOR_STYLES_STORED; i++)
        for (const char *suffix : {"Color", "Bold", "Italic"})
            EXPECT_TRUE(keys.insert(std::string(gEditorStyleTable[i].name) + suffix).second);
    char key[COLOR_KEY_SIZE];
    for (int i = 0; i < STYLE_COLOURS; i++) {
        IndicatorColorKey(i, key, "");
        EXPECT_TRUE(keys.insert(key).second) << key;
        GraphColorKey(i, key, "");
        EXPECT_TRUE(keys.insert(key).second) << key;
    }
    EXPECT_TRUE(keys.insert("FILE_COUNT").second);
}

TEST_F(SettingsTableTest, DefaultsAreTheTableDefaults)
{
    memset(&gSettings, 0, sizeof gSettings);
    memset(gEditorStyles, 0x5A, sizeof gEditorStyles);
    ResetSettingsToDefaults();
    EXPECT_STREQ(gSettings.ActiveScript, "Examples\\sample1.kvs");
    EXPECT_EQ(gSettings.FirstDate, 20150101);
    EXPECT_EQ(gSettings.AccountSize, 100000.0);
    EXPECT_EQ(gSettings.MaxMemPct, 95);
    EXPECT_STREQ(gSettings.DateDisplayFormat, "M/d/yy");
    EXPECT_EQ(gSettings.MaxBackups, 3);
    EXPECT_EQ(gSettings.ImportBarTime, 160000);
    EXPECT_EQ(gSettings.EmaPrecision, 0.005);
    EXPECT_EQ(gSettings.NearZero, 1.0e-13);
    EXPECT_STREQ(gSettings.FindFolder, "C:\\Kestovar");
    EXPECT_STREQ(gSettings.DebugFormula, "C / AVG(C,20)");
    EXPECT_EQ(gSettings.ChartUpBar, 0xFFFFFFu);
    EXPECT_EQ(gSettings.PlotBinIncr, 0.1);
    EXPECT_STREQ(gSettings.PlotFormula, "V / AVG(V,20)");
    EXPECT_EQ(gSettings.SettingsColor, 0xF0F4F0u);
    EXPECT_EQ(gSettings.PopupSeconds, 3);
    EXPECT_EQ(gChartColours.colours[0], 0x7C581Bu); /* (27, 88, 124) */
    EXPECT_EQ(gGraphColours.colours[0], 0xFF0000u); /* (0, 0, 255) */
    EXPECT_EQ(gChartColours.lineWidth, 1);
    /* The editor's styles, changed before, are their defaults again: the
    ** first, the plain bold one, the bold italic one and the last. */
    /* clang-format off */
    static const struct { int index; uint32_t colour; int bold, italic; } kStyles[] = {
        {0, 0x000000u, 0, 0},     /* RGB(0,0,0) */
        {1, 0xA0A0A0u, 0, 0},     /* RGB(160,160,160) */
        {8, 0x404040u, 1, 0},     /* RGB(64,64,64) */
        {9, 0x000080u, 1, 1},     /* RGB(128,0,0) */
        {21, 0x006000u, 0, 0},    /* RGB(0,96,0) */
    };
    /* clang-format on */
    for (const auto &c : kStyles) {
        EXPECT_EQ(gEditorStyles[c.index].colour, c.colour) << c.index;
        EXPECT_EQ(gEditorStyles[c.index].bold, c.bold) << c.index;
        EXPECT_EQ(gEditorStyles[c.index].italic, c.italic) << c.index;
    }
}

TEST_F(SettingsTableTest, UnattendedRunWithoutAFileTakesTheDefaults)
{
    gRun.unattended = 1;
    memset(&gSettings, 0, sizeof gSettings);
    EXPECT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_EQ(gSettings.MaxMemPct, 95);
    EXPECT_EQ(gSettings.StatusBarFields, 4);
    EXPECT_EQ(gSettings.LastDate, 20250101);
    EXPECT_STREQ(gSettings.DateDisplayFormat, "M/d/yy");
    EXPECT_EQ(gRun.resultCode.load(), RESULT_OK);
    EXPECT_FALSE(PlatFileExists(path.c_str()));
    EXPECT_FALSE(PlatFileExists(tmp.File("errorlog.txt").c_str()));
    /* and never writes one */
    EXPECT_EQ(SaveSettings(path.c_str()), 1);
    EXPECT_FALSE(PlatFileExists(path.c_str()));
}

TEST_F(SettingsTableTest, UnattendedRunWithAnUnusableFileSaysWhy)
{
    /* A name too long to open is no missing file: the run says so, in both
    ** builds, and still has the defaults. */
    gRun.unattended = 1;
    std::string longName = tmp.path + "\\" + std::string(300 - tmp.path.size(), 'k');
    memset(&gSettings, 0, sizeof gSettings);
    EXPECT_EQ(LoadSettings(longName.c_str()), 0);
    EXPECT_EQ(gSettings.MaxMemPct, 95);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    std::string log = ReadTestFile(tmp.File("errorlog.txt"));
    EXPECT_NE(log.find("Unable to open " + longName + " for reading\r\n\r\nThe filename or extension is too long."),
              std::string::npos)
        << log;

    /* A file of 4 GB is refused rather than read. */
    ASSERT_TRUE(WriteSparseTestFile(path, 0x100000000ull));
    memset(&gSettings, 0, sizeof gSettings);
    EXPECT_EQ(LoadSettings(path.c_str()), 0);
    EXPECT_EQ(gSettings.ReportWidth, 1200);
    log = ReadTestFile(tmp.File("errorlog.txt"));
    EXPECT_NE(log.find("File " + path + " is larger than 4GB!"), std::string::npos) << log;
    PlatDeleteFile(path.c_str());
}

TEST_F(SettingsTableTest, LoadFindsKeysAnywhereAndParsesLikeTheCLibrary)
{
    ASSERT_TRUE(WriteTestFile(path,
                              "[Whatever]\r\nMaxBackups=5\r\n\r\n[Options]\r\nMaxBackups=6\r\n"
                              "AccountSize=2.5e6\r\nCalcThreads=many\r\nNumBars=12abc\r\n"
                              "ReportWidth=99999999999\r\nChartVisibleBars= -99999999999\r\n"
                              "SettingsColor=grey\r\nDebugColor= RGB ( 1 , 2 , 3 )\r\n"
                              "TestName=" +
                                  std::string(500, 'n') + "\r\n"
                                                          "DebugFormula=C\\n/ 2\r\nSectIDColor=RGB(1,1,1)\r\nSectIDItalic=1\r\n"
                                                          "Indicator3Color=RGB(9,9,9)\r\nCombinedStatsColor=nope\r\n"
                                                          "ChartLineWidth=3\r\nUnknownKey=1\r\n"));
    memset(&gSettings, 0, sizeof gSettings);
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_EQ(gSettings.MaxBackups, 5);
    EXPECT_EQ(gSettings.AccountSize, 2500000.0);
    EXPECT_EQ(gSettings.CalcThreads, 0);
    EXPECT_EQ(gSettings.NumBars, 12);
    EXPECT_EQ(gSettings.ReportWidth, INT32_MAX);      /* out of range: held at the end, */
    EXPECT_EQ(gSettings.ChartVisibleBars, INT32_MIN); /* in both builds */
    EXPECT_EQ(gSettings.SettingsColor, 0xF0F4F0u);    /* unreadable: the default */
    EXPECT_EQ(gSettings.DebugColor, 0x030201u);
    EXPECT_EQ(strlen(gSettings.TestName), 79u);
    EXPECT_STREQ(gSettings.DebugFormula, "C\n/ 2");
    EXPECT_EQ(gSettings.MaxMemPct, 95); /* absent: the default */
    EXPECT_EQ(gEditorStyles[8].colour, 0x010101u);
    EXPECT_EQ(gEditorStyles[8].bold, 1); /* absent: kept */
    EXPECT_EQ(gEditorStyles[8].italic, 1);
    EXPECT_EQ(gChartColours.colours[3], 0x090909u);
    EXPECT_EQ(gChartColours.lineWidth, 3);
    EXPECT_EQ(gGraphColours.colours[0], kGraphDefaultColours[0]);
    EXPECT_EQ(gHeadless.messageCount, 0);
}

TEST_F(SettingsTableTest, GarbageAndEmptyFilesLoadWithoutHarm)
{
    std::string garbage;
    for (int i = 0; i < 20000; i++) garbage += (char)((i * 7919 + i / 13) & 0xFF);
    garbage += "\nMaxBackups=7";
    static const std::string kFiles[] = {"", "\r\n\r\n", "[", "=\n=\n[]\n", "MaxBackups=", garbage};
    for (const std::string &file : kFiles) {
        ASSERT_TRUE(WriteTestFile(path, file));
        memset(&gSettings, 0, sizeof gSettings);
        EXPECT_EQ(LoadSettings(path.c_str()), 1);
        EXPECT_EQ(gSettings.MaxMemPct, 95);
        EXPECT_EQ(gSettings.MaxBackups, &file == &kFiles[5] ? 7 : &file == &kFiles[4] ? 0
                                                                                      : 3);
    }
    EXPECT_EQ(gHeadless.messageCount, 0);
}

TEST_F(SettingsTableTest, AFileThatCannotBeOpenedGivesTheDefaults)
{
    memset(&gSettings, 0, sizeof gSettings);
    EXPECT_EQ(LoadSettings(tmp.path.c_str()), 0); /* a folder */
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_EQ(gSettings.MaxMemPct, 95);
    EXPECT_EQ(gSettings.ReportWidth, 1200);
}

TEST_F(SettingsTableTest, SaveRewritesTheWholeFileInTableOrder)
{
    ASSERT_TRUE(WriteTestFile(path, "[Options]\r\nStrayKey=1\r\nMaxBackups=2\r\n"));
    gSettings.MaxBackups = 2;
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    gEditorStyles[10].bold = 1;
    ASSERT_EQ(SaveSettings(path.c_str()), 1);
    std::string text = ReadTestFile(path);
    EXPECT_EQ(text.find("StrayKey"), std::string::npos);
    EXPECT_EQ(ReadTestFile(tmp.File("Backups\\kestovar(1).ini")), "[Options]\r\nStrayKey=1\r\nMaxBackups=2\r\n");

    std::vector<std::string> lines = Lines(text);
    const std::vector<std::string> kHead = {
        "[Settings]", "DataFile=", "DataFileMRU=", "ActiveScript=Examples\\sample1.kvs", "ActiveScriptMRU=",
        "TestName=", "FirstDate=20150101", "LastDate=20250101", "NumBars=0", "UseEarliestDate=1",
        "UseLatestDate=1", "BarSize2=0", "AccountSize=100000"};
    ASSERT_GT(lines.size(), kHead.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + kHead.size()), kHead);

    /* sections in order of first use, each after one empty line */
    std::vector<std::string> headers;
    for (size_t i = 0; i < lines.size(); i++) {
        if (!lines[i].empty() && lines[i][0] == '[') {
            headers.push_back(lines[i]);
            if (i > 0) {
                EXPECT_EQ(lines[i - 1], "") << lines[i];
            }
            if (i > 1) {
                EXPECT_NE(lines[i - 2], "") << lines[i];
            }
        } else if (lines[i].empty()) {
            EXPECT_EQ(lines[i + 1][0], '[');
        }
    }
    /* clang-format off */
    const std::vector<std::string> kHeaders = {
        "[Settings]", "[Options]", "[Import]", "[Internal]", "[Optimizer]", "[Reports]", "[FindInFiles]",
        "[DebugWindow]", "[ScriptWindows]", "[LogWindows]", "[ChartWindows]", "[GraphWindows]", "[PlotWindows]",
        "[CompareTrades]", "[ResGraphWindows]", "[RecentItems]", "[MainWindow]", "[WindowPositions]",
        "[OpenFiles]"};
    /* clang-format on */
    EXPECT_EQ(headers, kHeaders);
    EXPECT_EQ(lines.back(), "FILE_COUNT=0");
    EXPECT_EQ(lines[lines.size() - 4], "iChartH=0");

    /* doubles, colours and escapes as the file holds them */
    for (const char *want : {"\r\nNearZero=1e-13\r\n", "\r\nEmaPrecision=0.005\r\n", "\r\nFindFolder=C:\\Kestovar\r\n",
                             "\r\nSettingsColor=RGB(240,244,240)\r\n", "\r\nChartDownBar=RGB(0,0,0)\r\n",
                             "\r\nScriptCaret=RGB(0,0,0)\r\nSectIDColor=RGB(64,64,64)\r\nSectIDBold=1\r\n"
                             "SectNameColor=RGB(128,0,0)\r\nSectNameBold=1\r\nSectNameItalic=1\r\n"
                             "SectItemColor=RGB(92,92,92)\r\nSectItemBold=1\r\nVarNameColor=",
                             "\r\nOtherColor=RGB(0,0,0)\r\n\r\n[LogWindows]\r\n",
                             "\r\nChartDownBar=RGB(0,0,0)\r\nIndicator0Color=RGB(27,88,124)\r\n",
                             "\r\nIndicator9Color=RGB(42,84,168)\r\n\r\n[GraphWindows]\r\n",
                             "\r\nGraphShowCursor=0\r\nCombinedStatsColor=RGB(0,0,255)\r\nStrategy1Color=RGB(78,133,66)\r\n",
                             "\r\n[RecentItems]\r\nRecentFilesMRU=\r\n\r\n"})
        EXPECT_NE(text.find(want), std::string::npos) << want;
    EXPECT_EQ(text.find("UnknownColor"), std::string::npos);
    EXPECT_EQ(text.find("RecentFiles="), std::string::npos);
}

TEST_F(SettingsTableTest, SaveThenLoadGivesBackEveryValue)
{
    ResetSettingsToDefaults();
    std::string existing = tmp.File("exists.kvd");
    ASSERT_TRUE(WriteTestFile(existing, "x"));
    CopyString(gSettings.DataFile, sizeof gSettings.DataFile, existing.c_str(), -1);
    FormatText(gSettings.DataFileMRU, sizeof gSettings.DataFileMRU, "%s", existing.c_str());
    CopyString(gSettings.TestName, sizeof gSettings.TestName, "  spaced name \xE9", -1);
    CopyString(gSettings.DebugFormula, sizeof gSettings.DebugFormula, "A\r\nB\t\\C", -1);
    CopyString(gSettings.FindWhat, sizeof gSettings.FindWhat, "needle", -1);
    CopyString(gSettings.FindWhatMRU, sizeof gSettings.FindWhatMRU, "needle\nhay\\stack", -1);
    gSettings.AccountSize = 1234567.0;
    gSettings.PlotBinIncr = 1234.5678;
    gSettings.MinPctDiff = -0.25;
    gSettings.ChartUpBar = 0x123456;
    gSettings.iMainX = -20;
    gSettings.PopupSeconds = 7;
    gChartColours.colours[5] = 0x010203;
    gEditorStyles[0].italic = 1;
    gEditorStyles[8].bold = 0; /* bold by default: turning it off must last */
    ProgramSettings want = gSettings;
    EditorStyleRecord wantStyles[EDITOR_STYLE_RECORDS];
    memcpy(wantStyles, gEditorStyles, sizeof wantStyles);
    ASSERT_EQ(SaveSettings(path.c_str()), 1);
    EXPECT_NE(ReadTestFile(path).find("\r\nAccountSize=1234567\r\n"), std::string::npos);

    /* as at a start: the styles and colours their defaults, the variables zero */
    ResetSettingsToDefaults();
    memset(&gSettings, 0, sizeof gSettings);
    gEditorStyles[1].colour = 0;
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    for (const SettingEntry *row = gSettingTable; row->key; row++) {
        size_t offset = row->data ? (const char *)row->data - (const char *)&gSettings : 0;
        const char *got = (const char *)&gSettings + offset, *exp = (const char *)&want + offset;
        switch (row->type) {
        case ST_DOUBLE: EXPECT_EQ(*(const double *)got, *(const double *)exp) << row->key; break;
        case ST_TEXT:
        case ST_EDITOR_TEXT:
        case ST_COMBO_TEXT:
        case ST_PATH:
        case ST_HISTORY:
            if (row->data) {
                EXPECT_STREQ(got, exp) << row->key;
            }
            break;
        default: EXPECT_EQ(*(const int32_t *)got, *(const int32_t *)exp) << row->key; break;
        }
        if (row->type == ST_PATH || row->type == ST_HISTORY) {
            size_t h = row->extra.history - (const char *)&gSettings;
            EXPECT_STREQ((const char *)&gSettings + h, (const char *)&want + h) << row->key;
        }
    }
    for (int i = 0; i < EDITOR_STYLES_STORED; i++) {
        int k = gEditorStyleTable[i].styleIndex;
        EXPECT_EQ(gEditorStyles[k].colour, wantStyles[k].colour) << k;
        EXPECT_EQ(gEditorStyles[k].bold, wantStyles[k].bold) << k;
        EXPECT_EQ(gEditorStyles[k].italic, wantStyles[k].italic) << k;
    }
    EXPECT_EQ(gEditorStyles[0].italic, 1);
    EXPECT_EQ(gEditorStyles[1].colour, 0u); /* the unknown-syntax style is not stored */
    EXPECT_EQ(gChartColours.colours[5], 0x010203u);
}

TEST_F(SettingsTableTest, PathHistoriesForgetDeletedFiles)
{
    std::string kept = tmp.File("kept.kvs");
    ASSERT_TRUE(WriteTestFile(kept, "x"));
    std::string gone = tmp.File("gone.kvs");
    auto escape = [](const std::string &t) {
        std::string e;
        for (char c : t) e += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return e;
    };
    std::string file = "[Settings]\r\nActiveScriptMRU=" + escape(gone) + "\\n" + escape(kept) +
        "\r\nFindWhatMRU=" + escape(gone) + "\r\n";
    ASSERT_TRUE(WriteTestFile(path, file));
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_STREQ(gSettings.ActiveScriptMRU, kept.c_str());
    /* a history of plain texts keeps what it holds */
    EXPECT_STREQ(gSettings.FindWhatMRU, gone.c_str());
}

TEST_F(SettingsTableTest, AFailedSaveKeepsTheOldFile)
{
    const std::string old = "[Options]\r\nMaxBackups=0\r\n";
    ASSERT_TRUE(WriteTestFile(path, old));
    gSettings.MaxBackups = 0;
    /* the new text cannot be written beside the file */
    PlatPlanFault(PLAT_FAULT_CREATE, 0, 1);
    EXPECT_EQ(SaveSettings(path.c_str()), 0);
    EXPECT_EQ(PlatFaultsMade(PLAT_FAULT_CREATE), 1);
    EXPECT_EQ(ReadTestFile(path), old);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);

    /* the new text fails part-way (as on a full disk), or the rename is refused */
    for (int kind : {PLAT_FAULT_WRITE, PLAT_FAULT_RENAME}) {
        SCOPED_TRACE(kind);
        PlanOneFault(kind, 0);
        gHeadless.captureLog = 1;
        EXPECT_EQ(SaveSettings(path.c_str()), 0);
        ExpectOneFailedReplace(kind, path, old, tmp.path, "kestovar.ini;");
        PlatPlanFault(kind, 0, 0);
    }

    /* the text cannot take every value: nothing is written */
    gListOpenFileWindows = [](OpenFileWindow *, int) {
        gOutOfMemory = 1;
        return 0;
    };
    EXPECT_EQ(SaveSettings(path.c_str()), 0);
    gOutOfMemory = 0;
    EXPECT_EQ(ReadTestFile(path), old);
}

TEST_F(SettingsTableTest, OpenFilesListTheShellsWindows)
{
    gSettings.MaxBackups = 0;
    gListOpenFileWindows = [](OpenFileWindow *out, int max) {
        out[0] = {"C:\\s\\a.kvs", 0, 10, 20, 300, 400, 1};
        out[1] = {"C:\\o\\r.kvr", 1, -5, 0, 640, 480, 3};
        return 2;
    };
    ASSERT_EQ(SaveSettings(path.c_str()), 1);
    std::string text = ReadTestFile(path);
    size_t at = text.find("\r\n\r\n[OpenFiles]\r\n");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.substr(at + 4),
              "[OpenFiles]\r\nFILE_COUNT=2\r\nFILE_1_PATH=C:\\s\\a.kvs\r\nFILE_1_WINDOW=10,20,300,400,1\r\n"
              "FILE_2_PATH=C:\\o\\r.kvr\r\nFILE_2_WINDOW=*-5,0,640,480,3");
}

TEST_F(SettingsTableTest, DoublesPrintShortAndReadBackExactly)
{
    static const struct {
        double value;
        const char *want;
    } kCases[] = {
        {100000.0, "100000"},
        {0.005, "0.005"},
        {1.0e-13, "1e-13"},
        {0.1, "0.1"},
        {2.5e6, "2.5e+06"},
        {0.0, "0"},
        {-0.25, "-0.25"},
        {1234567.0, "1234567"}, /* "%g" would give 1.23457e+06 */
        {1234.5678, "1234.5678"},
        {0.1 + 0.2, "0.30000000000000004"},
    };
    char out[64];
    for (const auto &c : kCases) {
        FormatSettingDouble(out, sizeof out, c.value);
        EXPECT_STREQ(out, c.want);
    }
}

TEST_F(SettingsTableTest, ColourKeysFollowTheirPatterns)
{
    char key[COLOR_KEY_SIZE];
    IndicatorColorKey(3, key, "");
    EXPECT_STREQ(key, "Indicator3Color");
    IndicatorColorKey(3, key, " ");
    EXPECT_STREQ(key, "Indicator 3 Color");
    GraphColorKey(0, key, "");
    EXPECT_STREQ(key, "CombinedStatsColor");
    GraphColorKey(0, key, " ");
    EXPECT_STREQ(key, "Combined Stats Color");
    GraphColorKey(2, key, "");
    EXPECT_STREQ(key, "Strategy2Color");
}

TEST_F(SettingsTableTest, PathRowsHaveTheirMacrosExpanded)
{
    ASSERT_TRUE(WriteTestFile(path, "[Settings]\r\nDataFile=?KESTOVAR?\\x.kvd\r\nTestName=?kestovar?\r\n"));
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_EQ(std::string(gSettings.DataFile), tmp.path + "\\x.kvd");
    EXPECT_STREQ(gSettings.TestName, "?kestovar?"); /* a plain text stays as it is */
}

TEST_F(SettingsTableTest, InteractiveStartCreatesAMissingFile)
{
    memset(&gSettings, 0, sizeof gSettings);
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_TRUE(PlatFileExists(path.c_str()));
    EXPECT_EQ(ReadTestFile(path), "");
    EXPECT_EQ(gSettings.MaxMemPct, 95);
    EXPECT_EQ(gHeadless.messageCount, 0);
}

/* A path or folder longer than its row holds is named and the row keeps its
** default: cut, it would name another file or folder than the one written. */
TEST_F(SettingsTableTest, PathsTooLongForTheirRowsAreNamedNotCut)
{
    const std::string fits = "c:\\" + std::string(252, 'f') + ".kvd", tooLong = "c:\\" + std::string(300, 'g');
    ASSERT_TRUE(WriteTestFile(path, "[Settings]\r\nDataFile=" + fits + "\r\n[Options]\r\nOutputPath=" + tooLong + "\r\n"));
    gRun.resultCode = RESULT_OK;
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_EQ(std::string(gSettings.DataFile), fits);
    EXPECT_STREQ(gSettings.OutputPath, "");
    EXPECT_STREQ(LastMessage(),
                 "OutputPath folder is too long -- maximum is 251 letters, to leave room for its subfolders.");
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);

    ASSERT_TRUE(WriteTestFile(path, "[Settings]\r\nDataFile=" + tooLong + "\r\n"));
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_STREQ(gSettings.DataFile, "");
    EXPECT_STREQ(LastMessage(), "DataFile file path is too long -- maximum is 260 chars.");

    /* The rows hold 259 letters (the output folder 251), whatever bytes each
    ** takes. */
    for (const std::string letter : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        std::string file = "c:\\", folder = "c:\\";
        for (int k = 0; k < 252; k++) file += letter;
        file += ".kvd";
        for (int k = 0; k < 248; k++) folder += letter;
        ASSERT_TRUE(WriteTestFile(path, "[Settings]\r\nDataFile=" + file + "\r\n[Options]\r\nOutputPath=" + folder + "\r\n"));
        gHeadless.messageCount = 0;
        ASSERT_EQ(LoadSettings(path.c_str()), 1);
        EXPECT_EQ(file, gSettings.DataFile);
        EXPECT_EQ(folder, gSettings.OutputPath);
        EXPECT_EQ(0, gHeadless.messageCount) << LastMessage();
        ASSERT_TRUE(WriteTestFile(path, "[Settings]\r\nDataFile=c:\\" + letter + file.substr(3) + "\r\n"));
        ASSERT_EQ(LoadSettings(path.c_str()), 1);
        EXPECT_STREQ(gSettings.DataFile, "");
        EXPECT_STREQ(LastMessage(), "DataFile file path is too long -- maximum is 260 chars.");
    }
}

/* A folder setting is read as a name is: a settings file saved in code page
** 1252 gives the folder of its letters in UTF-8, as a path row's file does,
** and a folder already in UTF-8 stays itself. */
TEST_F(SettingsTableTest, FolderSettingsSavedInCodePage1252ReadAsTheirLetters)
{
    int folders = 0;
    for (const SettingEntry *row = gSettingTable; row->key; row++) {
        if (row->type != ST_TEXT || row->extra.n != PATH_SIZE) continue;
        folders++;
        SCOPED_TRACE(row->key);
        ASSERT_TRUE(WriteTestFile(path, std::string("[Options]\r\n") + row->key + "=c:\\Sortie \xE9 \x80\r\n"));
        ASSERT_EQ(LoadSettings(path.c_str()), 1);
        EXPECT_STREQ("c:\\Sortie \xC3\xA9 \xE2\x82\xAC", (const char *)row->data);
        ASSERT_TRUE(WriteTestFile(path, std::string("[Options]\r\n") + row->key + "=c:\\Sortie \xC3\xA9\r\n"));
        ASSERT_EQ(LoadSettings(path.c_str()), 1);
        EXPECT_STREQ("c:\\Sortie \xC3\xA9", (const char *)row->data);
    }
    EXPECT_EQ(folders, 4); /* ScriptPath, DataPath, OutputPath, UserDllPath */
    /* a path history's names too: the file is there under its letters */
    const std::string file = tmp.File("Sortie \xC3\xA9.kvd");
    ASSERT_TRUE(WriteTestFile(file, "x"));
    std::string written = file;
    written.replace(written.find("\xC3\xA9"), 2, "\xE9");
    for (size_t at = written.find('\\'); at != std::string::npos; at = written.find('\\', at + 2))
        written.insert(at, 1, '\\'); /* a history is kept escaped */
    ASSERT_TRUE(WriteTestFile(path, "[Settings]\r\nDataFileMRU=" + written + "\r\n"));
    ASSERT_EQ(LoadSettings(path.c_str()), 1);
    EXPECT_EQ(file, gSettings.DataFileMRU);
    EXPECT_EQ(gHeadless.messageCount, 0) << LastMessage();
}

/* The output folder takes 251 letters, of any size: "\\Reports" then still
** fits a path.  One letter more is named with its limit at once, with code
** 3, and the setting keeps its default, instead of every run failing later. */
TEST_F(SettingsTableTest, AnOutputFolderLeavesRoomForItsSubfolders)
{
    for (const std::string letter : {"o", "\xE9", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        SCOPED_TRACE(letter);
        std::string folder = "c:\\";
        for (int k = 0; k < 248; k++) folder += letter;
        gRun.resultCode = RESULT_OK;
        gHeadless.messageCount = 0;
        ASSERT_TRUE(WriteTestFile(path, "[Options]\r\nOutputPath=" + folder + "\r\n"));
        ASSERT_EQ(LoadSettings(path.c_str()), 1);
        EXPECT_EQ(PathLetters(gSettings.OutputPath), 251u);
        EXPECT_EQ(gHeadless.messageCount, 0) << LastMessage();
        for (int more = 1; more <= 8; more++) {
            folder += letter;
            ASSERT_TRUE(WriteTestFile(path, "[Options]\r\nOutputPath=" + folder + "\r\n"));
            ASSERT_EQ(LoadSettings(path.c_str()), 1);
            EXPECT_STREQ(gSettings.OutputPath, "") << more;
            EXPECT_STREQ(LastMessage(),
                         "OutputPath folder is too long -- maximum is 251 letters, to leave room for its subfolders.");
            EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
        }
    }
}

/* Every number a box shows is taken by its row's rule: below, at and above
** each end of its range, and text that is no number. */
TEST_F(SettingsTableTest, EveryShownNumberIsTakenByItsRowsRange)
{
    int checked = 0;
    for (const SettingEntry *row = gSettingTable; row->key; row++) {
        if (!row->controlId || (row->type != ST_INT && row->type != ST_DOUBLE)) continue;
        SCOPED_TRACE(row->key);
        const bool ranged = row->low != 0 || row->high != 0;
        /* every int a box shows has a range, and its default lies in it */
        if (row->type == ST_INT) {
            ASSERT_TRUE(ranged);
        }
        if (!ranged) continue;
        checked++;
        const double def = atof(row->defaultText);
        EXPECT_TRUE(def >= row->low && def <= row->high) << def;
        const double step = row->type == ST_INT ? 1 : 0.5;
        const struct {
            double value;
            int taken;
        } cases[] = {{row->low - step, 0}, {row->low, 1}, {row->high, 1}, {row->high + step, 0}};
        for (const auto &c : cases) {
            char text[64], why[256];
            FormatSettingDouble(text, sizeof text, c.value);
            double number = -1;
            EXPECT_EQ(c.taken, CheckSettingText(row, text, &number, why, sizeof why)) << text;
            if (c.taken) {
                EXPECT_EQ(c.value, number) << text;
            } else {
                EXPECT_NE(nullptr, strstr(why, row->key)) << why;
            }
        }
        for (const char *text : {"abc", "", "12abc", "-"}) {
            char why[256];
            double number = -1;
            EXPECT_EQ(0, CheckSettingText(row, text, &number, why, sizeof why)) << text;
            EXPECT_NE(nullptr, strstr(why, " must be ")) << why;
        }
    }
    EXPECT_GE(checked, 30);
    /* the two the issue names, by their own words */
    for (const SettingEntry *row = gSettingTable; row->key; row++) {
        char why[256];
        double number;
        if (strcmp(row->key, "MaxMemPct") == 0) {
            EXPECT_EQ(0, CheckSettingText(row, "0", &number, why, sizeof why));
            EXPECT_STREQ(why, "MaxMemPct must be a whole number from 10 to 200.");
        }
        if (strcmp(row->key, "AccountSize") == 0) {
            EXPECT_EQ(0, CheckSettingText(row, "-5000", &number, why, sizeof why));
            EXPECT_STREQ(why, "AccountSize must be a number from 1 to 1e+15.");
            EXPECT_EQ(1, CheckSettingText(row, " 2500.5 ", &number, why, sizeof why));
            EXPECT_EQ(number, 2500.5);
        }
    }
}
