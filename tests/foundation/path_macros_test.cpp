#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

struct PathMacrosTest : ::testing::Test {
    ProgramSettings savedSettings = gSettings;
    char folders[4][260];
    void SetUp() override
    {
        memcpy(folders[0], gProgramFolder, 260);
        memcpy(folders[1], gScriptsFolder, 260);
        memcpy(folders[2], gDataFolder, 260);
        memcpy(folders[3], gOutputFolder, 260);
        CopyString(gProgramFolder, 260, "C:\\Kv", -1);
        CopyString(gScriptsFolder, 260, "C:\\Kv\\Scripts", -1);
        CopyString(gDataFolder, 260, "C:\\D\\", -1);
        CopyString(gOutputFolder, 260, "C:\\Out", -1);
        CopyString(gSettings.ActiveScript, 260, "C:\\my.scripts\\trend.v2.kvs", -1);
        CopyString(gSettings.TestName, 80, "Run A", -1);
        ResetHeadlessShell();
    }
    void TearDown() override
    {
        memcpy(gProgramFolder, folders[0], 260);
        memcpy(gScriptsFolder, folders[1], 260);
        memcpy(gDataFolder, folders[2], 260);
        memcpy(gOutputFolder, folders[3], 260);
        gSettings = savedSettings;
        gRun.orderDate = 0;
        gCompilingScriptPath = nullptr;
        gSlatewickFolderSetting = nullptr;
    }
    std::string Expand(const char *text, const char *base = nullptr, int want = 1)
    {
        char path[PATH_SIZE];
        CopyString(path, sizeof path, text, -1);
        EXPECT_EQ(ExpandPathMacros(path, base), want) << text;
        return path;
    }
};

} // namespace

TEST_F(PathMacrosTest, ProgramMacrosAndBases)
{
    gRun.orderDate = 20240105;
    gSlatewickFolderSetting = "C:\\SW\\\\";
    /* clang-format off */
    static const struct { const char *path, *base, *result; } kCases[] = {
        {"?DATA?\\x.kvd", nullptr, "C:\\D\\x.kvd"},
        {"?output?\\Orders\\?orderdate?.csv", nullptr, "C:\\Out\\Orders\\20240105.csv"},
        {"?kestovar?\\a.txt", nullptr, "C:\\Kv\\a.txt"},
        {"?Scripts?\\inc.kvs", nullptr, "C:\\Kv\\Scripts\\inc.kvs"},
        {"?swfolder?\\orders.csv", nullptr, "C:\\SW\\orders.csv"},
        {"?testname?.txt", "", "Run A.txt"},
        {"?scriptpath?\\?scriptname?.csv", nullptr, "C:\\my.scripts\\trend.v2.csv"},
        {"sub\\file.kvr", nullptr, "C:\\Out\\sub\\file.kvr"},
        {"sub\\file.KVD", nullptr, "C:\\D\\sub\\file.KVD"},
        {"sub\\file.txt", nullptr, "C:\\Kv\\Scripts\\sub\\file.txt"},
        {"C:\\x.txt", nullptr, "C:\\x.txt"},
        {"\\x.txt", nullptr, "\\x.txt"},
        {"/home/x.txt", nullptr, "/home/x.txt"},
        {"file.txt", "C:\\Given", "C:\\Given\\file.txt"},
        {"file.txt", "", "file.txt"},
        {"", nullptr, ""},
        {"a?b.txt", "", "a?b.txt"},
    };
    /* clang-format on */
    for (const auto &c : kCases) EXPECT_EQ(Expand(c.path, c.base), c.result) << c.path;

    /* The script being compiled comes before the ActiveScript setting. */
    gCompilingScriptPath = "D:\\work\\inc\\helpers.kvs";
    EXPECT_EQ(Expand("?scriptpath?\\?scriptname?.log", ""), "D:\\work\\inc\\helpers.log");
    /* No backslash: the folder is empty and the name is the whole file name. */
    gCompilingScriptPath = "plain";
    EXPECT_EQ(Expand("[?scriptpath?][?scriptname?]", ""), "[][plain]");
    /* Both programs separate folders with '/' as well, as Windows does. */
    gCompilingScriptPath = "/home/u/kv/trend.kvs";
    EXPECT_EQ(Expand("?scriptpath?/prices", ""), "/home/u/kv/prices");
    EXPECT_EQ(Expand("?scriptname?.csv", "/base/"), "/base/trend.csv");
    gCompilingScriptPath = "Z:/work/sub2/x.kvs";
    EXPECT_EQ(Expand("?scriptpath?\\data\\demo.kvd", ""), "Z:/work/sub2\\data\\demo.kvd");
    gCompilingScriptPath = "C:\\kv/sub\\inner.v1.kvs";
    EXPECT_EQ(Expand("?scriptname?.csv", "C:\\Out/"), "C:\\Out/inner.v1.csv");
    EXPECT_EQ(gHeadless.messageCount, 0);
}

TEST_F(PathMacrosTest, DateAndTimeMacros)
{
    PlatDateTime now;
    PlatGetLocalTime(&now);
    std::string today = std::to_string((now.year * 100 + now.month) * 100 + now.day);
    std::string result = Expand("?date?_?DATE?.csv", "");
    if (result.size() == 21) { /* not across midnight */
        EXPECT_EQ(result, today + "_" + today + ".csv");
    }
    std::string time = Expand("?time?", "");
    EXPECT_FALSE(time.empty());
    EXPECT_TRUE(time == "0" || time[0] != '0') << time; /* no leading zero */
    EXPECT_EQ(time.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_LE(std::stoi(time), 235959);
}

TEST_F(PathMacrosTest, EnvironmentMacros)
{
    PlatSetEnv("KV_TEST_TEMP", "C:\\Temp\\");
    PlatSetEnv("KV_TEST_LOOP", "?KV_TEST_LOOP?");
    EXPECT_EQ(Expand("?KV_TEST_TEMP?\\x.csv"), "C:\\Temp\\\\x.csv");
    EXPECT_EQ(Expand("?kv_test_nosuchvar?\\x.csv"), "C:\\Kv\\Scripts\\?kv_test_nosuchvar?\\x.csv");
    /* The inserted value is not scanned again. */
    EXPECT_EQ(Expand("?KV_TEST_LOOP?", ""), "?KV_TEST_LOOP?");

    /* Variables named like the program's folder macros change nothing. */
    static const char *const kNames[] = {"data", "DATA", "output", "OUTPUT", "scripts", "SCRIPTS", "kestovar", "KESTOVAR"};
    for (const char *name : kNames) PlatSetEnv(name, "C:\\Elsewhere");
    EXPECT_EQ(Expand("?data?\\x.kvd"), "C:\\D\\x.kvd");
    EXPECT_EQ(Expand("?Output?\\r.kvr"), "C:\\Out\\r.kvr");
    EXPECT_EQ(Expand("?scripts?\\s.kvs"), "C:\\Kv\\Scripts\\s.kvs");
    EXPECT_EQ(Expand("?KESTOVAR?\\k.ini"), "C:\\Kv\\k.ini");
    for (const char *name : kNames) PlatSetEnv(name, nullptr);
    PlatSetEnv("KV_TEST_TEMP", nullptr);
    PlatSetEnv("KV_TEST_LOOP", nullptr);
}

TEST_F(PathMacrosTest, OverlongResultsFail)
{
    /* A value that makes the path 259 characters long fails; 258 fits. */
    std::string folder = "C:\\" + std::string(250, 'f');
    CopyString(gOutputFolder, 260, folder.c_str(), -1);
    EXPECT_EQ(Expand("?output?\\abcd", "", 1).size(), 258u);
    EXPECT_EQ(Expand("?output?\\abcde", "", 0), "?output?\\abcde");

    char path[PATH_SIZE];
    CopyString(path, sizeof path, "?a?x?a?", -1);
    std::string value(129, 'v'); /* twice: 259 characters */
    EXPECT_EQ(ReplacePathMacro(path, "?A?", value.c_str()), 0);
    EXPECT_EQ(std::string(path), value + "x?a?"); /* left partly expanded */

    /* Joining with the base follows the same limit. */
    std::string base = "C:\\" + std::string(245, 'b');
    EXPECT_EQ(Expand("123456789", base.c_str(), 1).size(), 258u);
    EXPECT_EQ(Expand("1234567890", base.c_str(), 0), "1234567890");
    EXPECT_EQ(gHeadless.messageCount, 0);
}

#ifndef _WIN32
TEST_F(PathMacrosTest, DesktopIsUnderHome)
{
    char home[PATH_SIZE] = "";
    int hadHome = PlatGetEnv("HOME", home, sizeof home);
    PlatSetEnv("USERPROFILE", "/profile"); /* a Windows variable decides nothing here */
    PlatSetEnv("HOME", "/home/kv/");
    EXPECT_EQ(Expand("?desktop?\\x.csv", ""), "/home/kv/Desktop\\x.csv");
    PlatSetEnv("USERPROFILE", nullptr);
    PlatSetEnv("HOME", hadHome ? home : nullptr);
}
#endif

/* A path typed on the command line names a file from the current folder when
** it is relative and one is there, written with either separator or with "."
** in front; any other is left to be found where the program looks.  Every
** path comes back with the program's '\'. */
TEST_F(PathMacrosTest, ACommandLinePathNamesTheFileFromTheCurrentFolder)
{
    TempFolder tmp;
    char was[4096], here[4096];
    ASSERT_EQ(1, PlatGetCurrentFolder(was, sizeof was));
    ASSERT_EQ(1, PlatCreateFolder(tmp.File("sub").c_str()));
    ASSERT_TRUE(WriteTestFile(tmp.File("t.kvs"), "x"));
    ASSERT_TRUE(WriteTestFile(tmp.File("sub\\inner.kvs"), "x"));
    ASSERT_EQ(1, PlatSetCurrentFolder(tmp.path.c_str()));
    ASSERT_EQ(1, PlatGetCurrentFolder(here, sizeof here));
    std::string base = here;
    for (char &c : base)
        if (c == '/') c = '\\';
    /* clang-format off */
    static const struct { const char *typed; const char *fromHere; } kCases[] = {
        {"t.kvs", "\\t.kvs"},
        {".\\t.kvs", "\\t.kvs"},
        {"./t.kvs", "\\t.kvs"},
        {"sub\\inner.kvs", "\\sub\\inner.kvs"},
        {"sub/inner.kvs", "\\sub\\inner.kvs"},
        {"./sub/inner.kvs", "\\sub\\inner.kvs"},
        {"sub", "\\sub"},
        {"none.kvs", nullptr},
        {"sub2/none.kvs", nullptr},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        std::string typed = c.typed, want = c.fromHere ? base + c.fromHere : typed;
        for (char &ch : want)
            if (ch == '/') ch = '\\';
        EXPECT_EQ(want, PathFromCurrentFolder(typed)) << c.typed;
    }
    EXPECT_EQ("C:\\x\\t.kvs", PathFromCurrentFolder("C:/x/t.kvs"));
#ifdef _WIN32
    /* Rooted without a drive: the drive of the folder it was typed in,
    ** whether or not the file is there; a share's path stays as typed. */
    const std::string drive = base.substr(0, 2);
    ASSERT_EQ(':', drive[1]) << base;
    EXPECT_EQ(drive + "\\x\\t.kvs", PathFromCurrentFolder("/x/t.kvs"));
    EXPECT_EQ(drive + "\\x\\t.kvs", PathFromCurrentFolder("\\x\\t.kvs"));
    EXPECT_EQ("\\\\server\\share\\t.kvs", PathFromCurrentFolder("\\\\server\\share\\t.kvs"));
#else
    EXPECT_EQ("\\x\\t.kvs", PathFromCurrentFolder("/x/t.kvs"));
#endif
    PlatSetCurrentFolder(was);
}

/* A name saved in code page 1252 (a script or settings file from another
** editor) is the UTF-8 name in both programs, letter by letter: the 1252
** letters it holds are read as 1252 while the UTF-8 folders put around it
** stay UTF-8, so the folder "wé" does not turn into other letters. */
TEST_F(PathMacrosTest, A1252NameIsReadAsItsLettersBesideUtf8Folders)
{
    CopyString(gSettings.ActiveScript, 260, "C:\\w\xC3\xA9\\t.kvs", -1);
    CopyString(gOutputFolder, 260, "C:\\Sortie \xC3\xA9", -1);
    /* clang-format off */
    static const struct { const char *path, *base, *result; } kCases[] = {
        {"caf\xE9-stats.csv", "C:\\w", "C:\\w\\caf\xC3\xA9-stats.csv"},
        {"caf\xC3\xA9-stats.csv", "C:\\w", "C:\\w\\caf\xC3\xA9-stats.csv"},          /* UTF-8 already */
        {"?scriptpath?\\s\xE9.kvd", nullptr, "C:\\w\xC3\xA9\\s\xC3\xA9.kvd"},
        {"?output?\\\x80 \x93q\x94.txt", nullptr, "C:\\Sortie \xC3\xA9\\\xE2\x82\xAC \xE2\x80\x9Cq\xE2\x80\x9D.txt"},
        {"C:\\Sortie \xE9\\l.txt", nullptr, "C:\\Sortie \xC3\xA9\\l.txt"},
        {"\xC3\xA9t\xE9.kvr", nullptr, "C:\\Sortie \xC3\xA9\\\xC3\xA9t\xC3\xA9.kvr"},     /* both in one name */
    };
    /* clang-format on */
    for (const auto &c : kCases) EXPECT_EQ(c.result, Expand(c.path, c.base)) << c.path;
    /* A name's length is its letters: 259 1252 letters are held whole, though
    ** their UTF-8 takes twice the bytes. */
    std::string utf8;
    for (int k = 0; k < 259; k++) utf8 += "\xC3\xA9";
    EXPECT_EQ(utf8, Expand(std::string(259, '\xE9').c_str(), ""));
}
