/* frame_fixture.h -- the window shell under test: the application initialised
** once in a temporary program folder, a new frame for each test, and a watcher
** that answers message boxes and dialogs the way a user would, keeping their
** texts. */
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/win32/shell_win32.h"

/* Answers every dialog box of this process: records its title and texts and
** presses the given button (IDOK, IDCANCEL, IDYES, IDNO). */
struct DialogWatcher {
    static void Start();
    static void Answer(int button);
    static std::vector<std::string> Seen(); /* "title|texts" of each dialog answered */
    static void Clear();
};

struct FrameTest : ::testing::Test {
    static std::string folder;
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;
    /* Handles every waiting message, as the main loop would. */
    static void Pump();
    static int CountChildren(const char *className);
    static std::string File(const std::string &name) { return folder + "\\" + name; }
};
