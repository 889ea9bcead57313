/* The record of a run's files on its own: which claims it grants, and which
** names it takes for one file. */
#include <gtest/gtest.h>

#include <string>

#include "foundation/allocator.h"
#include "foundation/file_helpers.h"
#include "foundation/run_files.h"
#include "platform/platform.h"
#include "services/services.h"
#include "shell/headless/headless.h"
#include "support/program_state.h"
#include "support/test_support.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {
struct RunFilesRecordTest : ProgramStateTest {
    void TearDown() override
    {
        while (RunFilesKept()) EndRunFiles();
        ProgramStateTest::TearDown();
    }
};
} // namespace

/* One file by its names: separators, ".", a folder and "..", and a file
** not made yet reached by two paths to its folder; in the Windows build
** case too, natively a symbolic link to the folder. */
TEST_F(RunFilesRecordTest, NamesOfOneFileAreOneFile)
{
    ASSERT_EQ(1, PlatCreateFolder(tmp.File("sub").c_str()));
    ASSERT_TRUE(WriteTestFile(tmp.File("a.csv"), "a"));
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {tmp.File("a.csv"), tmp.File("sub\\..\\a.csv"), true},
        {tmp.File("new.csv"), tmp.File("sub\\..\\new.csv"), true},  /* not made yet */
        {tmp.File("a.csv"), tmp.File(".\\a.csv"), true},
        {tmp.File("new.csv"), tmp.File("sub\\new.csv"), false},
        {tmp.File("a.csv"), tmp.File("sub\\a.csv"), false},
        {tmp.File("a.csv"), tmp.File("new.csv"), false},
#ifdef _WIN32
        {tmp.File("a.csv"), tmp.File("A.CSV"), true},
        {tmp.File("new.csv"), tmp.File("SUB\\..\\NEW.csv"), true},
#endif
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.a + " | " + c.b);
        EXPECT_EQ(c.same ? 1 : 0, SameRunFile(c.a.c_str(), c.b.c_str()));
        EXPECT_EQ(c.same ? 1 : 0, SameRunFile(c.b.c_str(), c.a.c_str()));
    }
#ifndef _WIN32
    char link[1024];
    PlatNativePath(tmp.File("here").c_str(), link, sizeof link);
    ASSERT_EQ(0, symlink("sub", link));
    EXPECT_EQ(1, SameRunFile(tmp.File("sub\\new.csv").c_str(), tmp.File("here\\new.csv").c_str()));
#endif
}

/* A file the run read is refused to every writer but its own use; two uses
** of one output are refused; a writer writing its file again, a file the
** run wrote and reads back, and anything outside a run are granted. */
TEST_F(RunFilesRecordTest, ClaimsAreGrantedByUse)
{
    const std::string list = tmp.File("list.csv"), out = tmp.File("out.csv");
    ASSERT_TRUE(WriteTestFile(list, "x"));
    ASSERT_EQ(1, PlatCreateFolder(tmp.File("sub").c_str()));
    EXPECT_EQ(1, ClaimRunOutput(list.c_str(), "the export"));  /* no run */

    BeginRunFiles();
    BeginRunFiles(); /* a run inside a batch's run of modes: one record */
    char *text = nullptr;
    ASSERT_EQ(1, LoadFile(list.c_str(), &text, nullptr)); /* noted by the reader */
    FreeMemory(&text);
    EXPECT_EQ(0, ClaimRunOutput(tmp.File("sub\\..\\list.csv").c_str(), "the export"));
    EXPECT_STREQ(("The export would replace a file the run reads, " + list + ".").c_str(), LastMessage());
    EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    NoteRunInput(list.c_str(), "the HolidayList");
    EXPECT_EQ(1, ClaimRunOutput(list.c_str(), "the HolidayList")); /* the use that makes it both */

    EXPECT_EQ(1, ClaimRunOutput(out.c_str(), "the export"));
    EXPECT_EQ(1, ClaimRunOutput(out.c_str(), "the export"));
    EXPECT_EQ(0, ClaimRunOutput(out.c_str(), "the log"));
    EXPECT_STREQ(("The export and the log would be written to one file, " + out + ".").c_str(), LastMessage());
    ASSERT_TRUE(WriteTestFile(out, "y"));
    NoteRunInput(out.c_str(), "the TradeList"); /* its own file read back */
    EXPECT_EQ(1, ClaimRunOutput(out.c_str(), "the export"));

    const std::string first = tmp.File("p.csv"), second = tmp.File(".\\p.csv");
    const char *paths[] = {first.c_str(), second.c_str()};
    const char *whats[] = {"the stats", "the trades"};
    EXPECT_EQ(0, CheckPlannedRunOutputs(paths, whats, 2));
    EXPECT_STREQ(("The stats and the trades would be written to one file, " + first + ".").c_str(), LastMessage());
    EXPECT_EQ(1, ClaimRunOutput(first.c_str(), "the trades")); /* nothing planned is recorded */

    EndRunFiles();
    EXPECT_EQ(0, ClaimRunOutput(list.c_str(), "the export")); /* still the outer run */
    EndRunFiles();
    EXPECT_EQ(1, ClaimRunOutput(list.c_str(), "the export"));
}
