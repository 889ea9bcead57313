#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/ini_file.h"
#include "foundation/settings_table.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/program_state.h"

namespace {

struct IniFileTest : ProgramStateTest {
    /* Writes the bytes as the settings file and opens it. */
    void Open(IniFile *ini, const std::string &bytes, int writable)
    {
        std::string path = tmp.File("s.ini");
        ASSERT_TRUE(WriteTestFile(path, bytes));
        ASSERT_EQ(IniOpen(ini, path.c_str(), writable), 1);
    }
    std::string Get(const IniFile *ini, const char *key, int size = 256)
    {
        std::string out(size, '#');
        EXPECT_EQ(IniGetString(ini, key, "dflt", out.data(), size), 1);
        return out.c_str();
    }
};

} // namespace

TEST_F(IniFileTest, KeysAreFoundByTheFileRules)
{
    static const struct {
        const char *file;
        const char *section; /* null: the whole file */
        const char *key;
        const char *want;
    } kCases[] = {
        /* a single [KESTOVAR] section answers for every section name */
        {"[KESTOVAR]\r\nWidth=7\r\n[Options]\r\nWidth=9", "Options", "Width", "7"},
        {"\r\n[KESTOVAR]\r\nWidth=7", "Anything", "Width", "7"},
        /* case matters, and so does a blank before "=" */
        {"[Options]\r\nwidth=7", "Options", "Width", "dflt"},
        {"[Options]\r\nWidth =7", "Options", "Width", "dflt"},
        /* without a section the first line holding the key wins */
        {"[A]\r\nK=1\r\n\r\n[B]\r\nK=2", nullptr, "K", "1"},
        {"[A]\r\nK=1\r\n\r\n[B]\r\nK=2", "B", "K", "2"},
        {"[A]\r\nX=1\r\n\r\n[B]\r\nK=2", "A", "K", "dflt"},
        /* a key on the very first line is a line start too */
        {"MaxBackups=5\r\n[Options]\r\nMaxBackups=6", nullptr, "MaxBackups", "5"},
        /* a key only counts at the start of a line */
        {"[A]\r\nXK=1\r\nK=2", "A", "K", "2"},
        /* trailing blanks and the carriage return go, leading blanks stay */
        {"[A]\r\nK=  v w \t\r\nL=1", "A", "K", "  v w"},
        {"[A]\r\nK=\r\nL=1", "A", "K", ""},
        /* a value ending in a letter of the code page keeps it */
        {"[A]\r\nName=Caf\xE9", "A", "Name", "Caf\xE9"},
        {"Name=Caf\xE9\xA0\r\n", nullptr, "Name", "Caf\xE9\xA0"},
        /* old Unix line ends read the same */
        {"[A]\nK=3\n[B]\nK=4\n", "B", "K", "4"},
        /* and so do lines ended by CR alone */
        {"[A]\rK=3\r[B]\rK=4\rL=5\r", "B", "K", "4"},
        {"[A]\rK=3\r[B]\rK=4\rL=5\r", "A", "L", "dflt"},
        {"Top=1\rK=2 \r\n", nullptr, "K", "2"},
    };
    for (const auto &c : kCases) {
        IniFile ini;
        Open(&ini, c.file, 0);
        if (c.section) {
            EXPECT_EQ(IniSection(&ini, c.section), 1) << c.file;
        }
        EXPECT_EQ(Get(&ini, c.key), c.want) << c.file;
        IniClose(&ini);
    }
}

TEST_F(IniFileTest, DamagedBytesDoNotHideLaterKeys)
{
    IniFile ini;
    Open(&ini, std::string("[A]\r\nJ=\0\x01\xFF\r\nK=5\r\n", 17), 0);
    EXPECT_EQ(ini.length, 15);
    EXPECT_EQ(IniSection(&ini, "A"), 1);
    EXPECT_EQ(Get(&ini, "K"), "5");
    IniClose(&ini);
}

TEST_F(IniFileTest, ValuesAreCutToTheBuffer)
{
    IniFile ini;
    std::string longValue(5000, 'v');
    Open(&ini, "[A]\r\nK=" + longValue + "\r\nL=2", 0);
    EXPECT_EQ(Get(&ini, "K", 10), "vvvvvvvvv");
    EXPECT_EQ(Get(&ini, "L"), "2");
    char out[4];
    EXPECT_EQ(IniGetString(&ini, "Missing", "long default", out, sizeof out), 1);
    EXPECT_STREQ(out, "lon");
    IniClose(&ini);
}

/* A value ends at a NUL byte of a damaged file or at its buffer's size, and
** loses the white space before that end as it does at a line's end, so the
** value written back is read back the same. */
TEST_F(IniFileTest, AValueCutByANulOrItsBufferEndsWithoutBlanks)
{
    static const struct {
        std::string file;
        int size;
        const char *want;
    } kCases[] = {
        {std::string("[A]\r\nK=yyyy  \0MM\r\n", 18), 256, "yyyy"},
        {std::string("[A]\r\nK=\t \0x\r\nL=1", 16), 256, ""},
        {std::string("[A]\r\nK=  v\0 \r\nL=1", 17), 256, "  v"},
        {"[A]\r\nK=ab  cd\r\n", 5, "ab"},
        {"[A]\r\nK=ab  cd\r\n", 6, "ab  c"},
    };
    for (const auto &c : kCases) {
        IniFile ini;
        Open(&ini, c.file, 1);
        EXPECT_EQ(Get(&ini, "K", c.size), c.want) << c.size;
        std::string value = Get(&ini, "K", c.size);
        ASSERT_EQ(IniPutString(&ini, "K", value.c_str()), 1);
        EXPECT_EQ(Get(&ini, "K", c.size), c.want) << c.size;
        IniClose(&ini);
    }
}

TEST_F(IniFileTest, MissingReadOnlySectionKeepsTheCurrentOne)
{
    IniFile ini;
    Open(&ini, "[A]\r\nK=1\r\n\r\n[B]\r\nK=2", 0);
    ASSERT_EQ(IniSection(&ini, "B"), 1);
    int b = ini.section;
    EXPECT_EQ(IniSection(&ini, "Nope"), 0);
    EXPECT_EQ(ini.section, b);
    EXPECT_EQ(IniPutString(&ini, "K", "9"), 0); /* read-only */
    EXPECT_EQ(Get(&ini, "K"), "2");
    IniClose(&ini);
}

TEST_F(IniFileTest, OpenDropsTrailingBlanksAndRewritesWithoutThem)
{
    std::string path = tmp.File("s.ini");
    ASSERT_TRUE(WriteTestFile(path, "[A]\r\nK=1\r\n\r\n  \t\r\n\r\n"));
    IniFile ini;
    ASSERT_EQ(IniOpen(&ini, path.c_str(), 1), 1);
    EXPECT_EQ(std::string(ini.text), "[A]\r\nK=1");
    EXPECT_EQ(ini.capacity, 19 + INI_SLACK); /* the file's size, blanks included */
    EXPECT_EQ(IniClose(&ini), 1);
    EXPECT_EQ(ini.text, nullptr);
    EXPECT_EQ(ini.length, 0);
    EXPECT_EQ(ReadTestFile(path), "[A]\r\nK=1");
}

TEST_F(IniFileTest, PutsEditInPlaceAndAddAtTheSectionEnd)
{
    std::string path = tmp.File("new.ini");
    IniFile ini;
    ASSERT_EQ(IniOpen(&ini, path.c_str(), 1), 1); /* created when absent */
    EXPECT_EQ(ini.length, 0);
    ASSERT_EQ(IniSection(&ini, "Options"), 1);
    ASSERT_EQ(IniPutString(&ini, "MaxBackups", "3"), 1);
    EXPECT_EQ(std::string(ini.text), "[Options]\r\nMaxBackups=3");
    ASSERT_EQ(IniPutString(&ini, "MaxBackups", "4"), 1);
    EXPECT_EQ(std::string(ini.text), "[Options]\r\nMaxBackups=4");
    ASSERT_EQ(IniSection(&ini, "Other"), 1);
    ASSERT_EQ(IniPutString(&ini, "A", "1"), 1);
    ASSERT_EQ(IniSection(&ini, "Options"), 1);
    ASSERT_EQ(IniPutString(&ini, "Width", "100"), 1);
    ASSERT_EQ(IniPutString(&ini, "MaxBackups", "12"), 1);
    EXPECT_EQ(std::string(ini.text), "[Options]\r\nMaxBackups=12\r\nWidth=100\r\n\r\n[Other]\r\nA=1");
    EXPECT_EQ(ini.length, (int)strlen(ini.text));
    EXPECT_EQ(IniClose(&ini), 1);
    EXPECT_EQ(ReadTestFile(path), "[Options]\r\nMaxBackups=12\r\nWidth=100\r\n\r\n[Other]\r\nA=1");
}

TEST_F(IniFileTest, ReplacingAValueKeepsItsLineEndAndTrailingBlanks)
{
    IniFile ini;
    Open(&ini, "[A]\r\nK=old value  \r\nL=2\r\n", 1);
    ASSERT_EQ(IniSection(&ini, "A"), 1);
    ASSERT_EQ(IniPutString(&ini, "K", "n"), 1);
    EXPECT_EQ(std::string(ini.text), "[A]\r\nK=n  \r\nL=2");
    IniClose(&ini);
}

TEST_F(IniFileTest, InsertTextAppendsAtZeroAndGrowsExactly)
{
    IniFile ini;
    Open(&ini, "ab", 1);
    ASSERT_EQ(IniInsertText(&ini, 0, "cd"), 1);
    ASSERT_EQ(IniInsertText(&ini, 1, "X"), 1);
    EXPECT_EQ(std::string(ini.text), "aXbcd");
    std::string big(1000, 'z');
    ASSERT_EQ(IniInsertText(&ini, 0, big.c_str()), 1);
    EXPECT_EQ(ini.capacity, 5 + INI_SLACK + 1000);
    /* A growth that fails leaves the text as it was. */
    gOutOfMemory = 1;
    EXPECT_EQ(IniInsertText(&ini, 0, big.c_str()), 0);
    EXPECT_EQ(ini.length, 1005);
    gOutOfMemory = 0;
    ini.writable = 0;
    IniClose(&ini);
}

TEST_F(IniFileTest, EscapedTextSurvivesARoundTrip)
{
    IniFile ini;
    Open(&ini, "", 1);
    ASSERT_EQ(IniSection(&ini, "T"), 1);
    const char *text = "line one\nC:\\dir\\n\ttab\r\nend\\";
    ASSERT_EQ(IniPutText(&ini, "K", text), 1);
    EXPECT_EQ(std::string(ini.text), "[T]\r\nK=line one\\nC:\\\\dir\\\\n\\ttab\\r\\nend\\\\");
    char out[64];
    ASSERT_EQ(IniGetText(&ini, "K", "", out, sizeof out), 1);
    EXPECT_STREQ(out, text);
    /* A text that fills its buffer reads back whole though its escapes make
    ** the stored value longer than the buffer. */
    std::string full(31, '\n');
    ASSERT_EQ(IniPutText(&ini, "Full", full.c_str()), 1);
    char small[32];
    ASSERT_EQ(IniGetText(&ini, "Full", "", small, sizeof small), 1);
    EXPECT_EQ(std::string(small), full);
    /* a backslash before any other character gives that character */
    ASSERT_EQ(IniPutString(&ini, "Odd", "a\\qb\\"), 1);
    ASSERT_EQ(IniGetText(&ini, "Odd", "", out, sizeof out), 1);
    EXPECT_STREQ(out, "aqb\\");
    ini.writable = 0;
    IniClose(&ini);
}

TEST_F(IniFileTest, ColoursReadWithBlanksAnywhere)
{
    static const struct {
        const char *value;
        int ok;
        uint32_t want;
    } kCases[] = {
        {"RGB(255,0,0)", 1, 0x0000FF},
        {" RGB ( 1 , 2 , 3 ) ", 1, 0x030201},
        {"RGB(1,2,3", 1, 0x030201}, /* three numbers are enough */
        {"RGB(0,+128,-0)", 1, 0x008000},
        {"RGB(256,0,0)", 1, 0x000000}, /* each part keeps its low byte */
        {"RGB(99999999999999,1,1)", 1, 0x0101FF},
        {"red", 0, 0xABCDEF},
        {"RGB(1,2)", 0, 0xABCDEF},
        {"rgb(1,2,3)", 0, 0xABCDEF},
        {"", 0, 0xABCDEF},
    };
    for (const auto &c : kCases) {
        IniFile ini;
        Open(&ini, std::string("C=") + c.value, 0);
        uint32_t colour = 7;
        EXPECT_EQ(IniGetColor(&ini, "C", 0xABCDEF, &colour), c.ok) << c.value;
        EXPECT_EQ(colour, c.want) << c.value;
        IniClose(&ini);
    }
    char text[32];
    FormatColorText(text, sizeof text, 0x030201);
    EXPECT_STREQ(text, "RGB(1,2,3)");
}

TEST_F(IniFileTest, OpenFailuresAreReportedWithResultCode3)
{
    IniFile ini;
    /* interactive: a folder cannot be held open as the settings file */
    EXPECT_EQ(IniOpen(&ini, tmp.path.c_str(), 0), 0);
    EXPECT_EQ(std::string(LastMessage()).rfind("Unable to open " + tmp.path + " for appending\r\n\r\n", 0), 0u)
        << LastMessage();
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_EQ(ini.text, nullptr);

    /* unattended: read shared, never created */
    gRun.resultCode = RESULT_OK;
    gRun.unattended = 1;
    std::string missing = tmp.File("missing.ini");
    EXPECT_EQ(IniOpen(&ini, missing.c_str(), 0), 0);
    EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
    EXPECT_FALSE(PlatFileExists(missing.c_str()));
    std::string log = ReadTestFile(tmp.File("errorlog.txt"));
    EXPECT_NE(log.find("Unable to open " + missing + " for reading"), std::string::npos) << log;
}

TEST_F(IniFileTest, HugeFilesAndOverlongNamesAreRefused)
{
    std::string big = tmp.File("big.ini");
    ASSERT_TRUE(WriteSparseTestFile(big, 0x100000000ull));
    for (int unattended = 0; unattended <= 1; unattended++) {
        SCOPED_TRACE(unattended);
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        gRun.unattended = unattended;
        IniFile ini;
        EXPECT_EQ(IniOpen(&ini, big.c_str(), 0), 0);
        EXPECT_EQ(ini.text, nullptr);
        EXPECT_EQ(ini.file, nullptr);
        EXPECT_EQ(gRun.resultCode.load(), RESULT_FILE_ERROR);
        std::string want = "File " + big + " is larger than 4GB!";
        if (unattended)
            EXPECT_NE(ReadTestFile(tmp.File("errorlog.txt")).find("\n" + want + "\n"), std::string::npos);
        else
            EXPECT_EQ(std::string(LastMessage()), want);
    }
    PlatDeleteFile(tmp.File("errorlog.txt").c_str());
    gRun.unattended = 0;
    uint64_t size = 0;
    PlatFile f = PlatOpenFile(big.c_str(), PLAT_OPEN_READ); /* closed, and unchanged */
    ASSERT_NE(f, nullptr);
    PlatGetFileSize(f, &size);
    PlatCloseFile(f);
    EXPECT_EQ(size, 0x100000000ull);
    PlatDeleteFile(big.c_str());

    std::string longName = tmp.path + "\\" + std::string(300 - tmp.path.size(), 'n');
    ResetHeadlessShell();
    IniFile ini;
    EXPECT_EQ(IniOpen(&ini, longName.c_str(), 1), 0);
    EXPECT_EQ(std::string(LastMessage()),
              "Unable to open " + longName + " for appending\r\n\r\nThe filename or extension is too long.");
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_FALSE(PlatFileExists(tmp.File("Backups").c_str()));
}

TEST_F(IniFileTest, UnattendedReadsButNeverWrites)
{
    std::string path = tmp.File("s.ini");
    ASSERT_TRUE(WriteTestFile(path, "[A]\r\nK=1\r\n"));
    gRun.unattended = 1;
    IniFile ini;
    ASSERT_EQ(IniOpen(&ini, path.c_str(), 1), 1);
    ASSERT_EQ(IniSection(&ini, "A"), 1);
    ASSERT_EQ(IniPutString(&ini, "K", "2"), 1);
    EXPECT_EQ(IniClose(&ini), 1);
    EXPECT_EQ(ReadTestFile(path), "[A]\r\nK=1\r\n");
    EXPECT_FALSE(PlatFileExists(tmp.File("Backups").c_str()));
}

TEST_F(IniFileTest, WritableOpenTakesABackupFirst)
{
    gSettings.MaxBackups = 3;
    std::string path = tmp.File("s.ini");
    ASSERT_TRUE(WriteTestFile(path, "[A]\r\nK=1"));
    IniFile ini;
    ASSERT_EQ(IniOpen(&ini, path.c_str(), 1), 1);
    ASSERT_EQ(IniSection(&ini, "A"), 1);
    ASSERT_EQ(IniPutString(&ini, "K", "2"), 1);
    ASSERT_EQ(IniClose(&ini), 1);
    EXPECT_EQ(ReadTestFile(path), "[A]\r\nK=2");
    EXPECT_EQ(ReadTestFile(tmp.File("Backups\\s(1).ini")), "[A]\r\nK=1");
}
