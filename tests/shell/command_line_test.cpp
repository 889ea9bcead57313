/* The command line's token split and its first pass. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/command_line.h"
#include "support/program_state.h"

namespace {

struct CommandLineTest : ProgramStateTest {
    char savedSettingsFile[sizeof gSettingsFile];
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        memcpy(savedSettingsFile, gSettingsFile, sizeof savedSettingsFile);
        gSettingsFile[0] = 0;
    }
    void TearDown() override
    {
        memcpy(gSettingsFile, savedSettingsFile, sizeof savedSettingsFile);
        gCommandLine = CommandLineState{};
        ProgramStateTest::TearDown();
    }
};

} // namespace

/* The command line splits at blanks and quotes but never cuts a token: a long
** path is refused whole rather than taken for a shorter file's name. */
TEST(CommandLineToken, ThePassesSplitWithoutCutting)
{
    const std::string longToken(300, 'x');
    const struct {
        std::string line;
        std::vector<std::string> tokens;
    } cases[] = {
        {"  -test  a.kvs", {"-test", "a.kvs"}},
        {"-test \"my scripts\\a b.kvs\" \"\" z", {"-test", "my scripts\\a b.kvs", "z"}},
        {"-test " + longToken + " \"" + longToken + "\"", {"-test", longToken, longToken}},
        {"\"unclosed quote", {"unclosed quote"}},
        {"\t\r\n  ", {}},
        {"", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> tokens = {"stale"};
        SplitCommandLine(c.line.c_str(), &tokens);
        EXPECT_EQ(c.tokens, tokens);
    }
}

/* A path on the command line is held whole up to 259 letters, whatever
** bytes they take, and refused from 260 on with the path named. */
TEST_F(CommandLineTest, APathTokenIsMeasuredInLetters)
{
    for (const std::string letter : {"p", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        SCOPED_TRACE(letter.size());
        std::string token = "C:\\";
        for (int k = 0; k < 256; k++) token += letter;
        const std::string longer = token + letter;
        for (const bool fits : {true, false}) {
            const std::string &t = fits ? token : longer;
            char path[PATH_SIZE] = "stale";
            const int messages = gHeadless.messageCount;
            EXPECT_EQ(fits ? 1 : 0, CopyPathToken(path, t.c_str()));
            EXPECT_EQ(fits ? t : "stale", std::string(path));
            EXPECT_EQ(fits ? messages : messages + 1, gHeadless.messageCount);
        }
        /* (A message holds 1023 bytes: the longest letters end it first.) */
        EXPECT_EQ(0u, std::string(LastMessage()).find("File path starting with '" + longer.substr(0, 512)));
    }
}

TEST_F(CommandLineTest, FirstPassSetsTheFlagsAndTheSettingsFile)
{
    std::string ini = tmp.File("my settings.ini");
    ASSERT_TRUE(WriteTestFile(ini, "[Settings]\n"));
    struct Case {
        std::string line;
        int unattended, exitAfterBatch;
        std::string settingsFile;
    } cases[] = {
        {"", 0, 0, ""},
        {"a.kvs", 0, 0, ""},
        {"-test a.kvs", 1, 1, ""},
        {"-NOEXIT", 1, 0, ""},
        {"-test a.kvs -noexit", 1, 0, ""},
        {"-bogus", 1, 1, ""},
        {"-inifile \"" + ini + "\"", 0, 0, ini},
        {"-inifile \"" + ini + "\" a.kvs", 0, 0, ini},
        {"-inifile \"my settings.ini\" -import x.kvs", 1, 1, ini}, /* relative to the program folder */
        {"-inifile -noexit \"my settings.ini\"", 1, 0, ini},       /* the next path, past switches */
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        gSettingsFile[0] = 0;
        gRun.unattended = 1;
        gCommandLine.exitAfterBatch = 1;
        EXPECT_EQ(1, ParseCommandLineOptions(c.line.c_str()));
        EXPECT_EQ(c.unattended, gRun.unattended);
        EXPECT_EQ(c.exitAfterBatch, gCommandLine.exitAfterBatch);
        EXPECT_EQ(c.settingsFile, gSettingsFile);
    }
    EXPECT_EQ(1, ParseCommandLineOptions(nullptr));
    EXPECT_EQ(0, gRun.unattended);
}

TEST_F(CommandLineTest, AMissingSettingsFileEndsTheFirstPass)
{
    gRun.unattended = 0;
    std::string missing = tmp.File("none.ini");
    EXPECT_EQ(0, ParseCommandLineOptions(("-inifile \"" + missing + "\"").c_str()));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_EQ("Unable to access " + missing, LastMessage());
    EXPECT_STREQ("", gSettingsFile);
    /* With a batch on the line the report goes to the error log. */
    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(0, ParseCommandLineOptions(("-test a.kvs -inifile \"" + missing + "\"").c_str()));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_NE(std::string::npos, ReadTestFile(tmp.File("errorlog.txt")).find("\nUnable to access " + missing + "\n"));

    /* "-inifile" that names no file. */
    gRun.resultCode = RESULT_OK;
    EXPECT_EQ(0, ParseCommandLineOptions("-inifile -noexit"));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_STREQ("", gSettingsFile);
    gRun.resultCode = RESULT_OK;
    gRun.unattended = 0;
    EXPECT_EQ(0, ParseCommandLineOptions(("-inifile " + std::string(255, 'y')).c_str()));
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    EXPECT_NE(nullptr, strstr(LastMessage(), "is too long -- maximum is 260 chars")) << LastMessage();
}
