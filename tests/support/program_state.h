/* program_state.h -- a test fixture that gives each test a clean program
** state and puts the previous one back afterwards.
**
** Each test gets its own temporary folder, which is also the program folder
** (so the unattended error log lands there) and the backup root.  Settings,
** the message state, the control words and the headless shell's kept texts
** are saved before the test and restored after it, so tests may change any
** of them freely; planned file failures end with the test.
*/
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/test_support.h"

struct ProgramStateTest : ::testing::Test {
    ProgramSettings savedSettings = gSettings;
    char savedRoot[sizeof gMessageState.backupRoot];
    char savedProgramFolder[sizeof gProgramFolder];
    uint32_t savedUiThread = gRun.uiThreadId;
    TempFolder tmp;

    void SetUp() override
    {
        memcpy(savedRoot, gMessageState.backupRoot, sizeof savedRoot);
        memcpy(savedProgramFolder, gProgramFolder, sizeof savedProgramFolder);
        CopyString(gProgramFolder, sizeof gProgramFolder, tmp.path.c_str(), -1);
        InitMessages(nullptr, nullptr, tmp.path.c_str());
        ClearControlWords();
    }
    void TearDown() override
    {
        gSettings = savedSettings;
        memcpy(gMessageState.backupRoot, savedRoot, sizeof savedRoot);
        memcpy(gProgramFolder, savedProgramFolder, sizeof savedProgramFolder);
        gRun.uiThreadId = savedUiThread;
        ClearControlWords();
    }

private:
    static void ClearControlWords()
    {
        ResetHeadlessShell();
        ResetRunControl();
        gOutOfMemory = 0;
        gMessageState.suppressNext = 0;
        for (int kind = 0; kind < PLAT_FAULT_KINDS; kind++) PlatPlanFault(kind, 0, 0);
    }
};

/* Clears the reports and the result code, then plans one failure of kind
** (PLAT_FAULT_WRITE or PLAT_FAULT_RENAME) after at more calls of it succeed. */
inline void PlanOneFault(int kind, int at)
{
    ResetHeadlessShell();
    gRun.resultCode = RESULT_OK;
    PlatPlanFault(kind, at, 1);
}

/* What a replace of the file at path that PlanOneFault made fail must leave:
** the one failure made, the file as it was (old), its folder holding just
** listing (no temporary file) and, when the writer reports, one report that
** names the path and the file error as the result code. */
inline void ExpectOneFailedReplace(int kind, const std::string &path, const std::string &old,
                                   const std::string &folder, const std::string &listing, bool reported = true)
{
    EXPECT_EQ(1, PlatFaultsMade(kind));
    EXPECT_EQ(old, ReadTestFile(path)) << path;
    EXPECT_EQ(listing, ListTestFolder(folder));
    EXPECT_EQ(reported ? 1 : 0, gHeadless.messageCount);
    if (reported) {
        EXPECT_NE(std::string::npos, std::string(LastMessage()).find(path + "\r\n\r\n")) << LastMessage();
        EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
    }
}
