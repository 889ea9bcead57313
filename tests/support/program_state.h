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

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
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
