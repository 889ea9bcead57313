#include <gtest/gtest.h>

#include <string>

#include "frame_fixture.h"
#include "services/services.h"
#include "shell/win32/script_window.h"
#include "support/test_support.h"

/* The Script window follows its row of the kind table: the comment item names
** what it would do to the selected lines, Save (File popup) follows the
** editor's changes. */
TEST_F(FrameTest, ScriptPopupFollowsItsEditor)
{
    std::string path = File("menus.kvs");
    ASSERT_TRUE(WriteTestFile(path, "// first\r\n// second\r\n"));
    ASSERT_EQ(OpenScript(path.c_str(), nullptr), 1);
    Pump();
    HWND script = FindScriptWindow(path.c_str(), 1, nullptr);
    ASSERT_NE(script, nullptr);
    Pump();
    EditorCall(script, 2013 /* select all */, 0, 0);
    UpdateFrameMenus(gFrame.frame, 1);
    HMENU popup = FindSubMenuByText(GetMenu(gFrame.frame), "&Script");
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(MenuItemText(popup, IDM_COMMENT), "Un&comment Selection\tCtrl+/");
    HMENU file = FindSubMenuByText(GetMenu(gFrame.frame), "&File");
    EXPECT_FALSE(MenuItemEnabled(file, IDM_SAVE));
    EXPECT_TRUE(MenuItemEnabled(file, IDM_SAVE_AS));

    EditorCall(script, 2001 /* add text */, 4, (intptr_t) "C>1\n");
    EditorCall(script, 2013, 0, 0);
    Pump();
    UpdateFrameMenus(gFrame.frame, 1);
    EXPECT_EQ(MenuItemText(popup, IDM_COMMENT), "&Comment Selection\tCtrl+/"); // the first line is not commented
    EXPECT_TRUE(MenuItemEnabled(file, IDM_SAVE));
}

/* The chart menu offers every chart command, Get Information among them. */
TEST_F(FrameTest, ChartMenuHoldsGetInformation)
{
    HMENU bar = gWindowKinds[WK_CHART].menu;
    ASSERT_NE(bar, nullptr);
    HMENU popup = FindSubMenuByText(bar, "&Chart");
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(MenuItemText(popup, IDM_CHART_INFO), "&Get Information");
}
