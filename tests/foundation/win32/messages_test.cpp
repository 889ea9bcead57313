#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "services/services.h"

namespace {

struct WindowTest : ::testing::Test {
    HWND parent = nullptr;
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_DATE_CLASSES};
        InitCommonControlsEx(&icc);
        parent = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr,
                                 GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(parent, nullptr);
    }
    void TearDown() override { DestroyWindow(parent); }
    HWND Child(const char *cls, int id)
    {
        return CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20, parent, (HMENU)(INT_PTR)id,
                               GetModuleHandleA(nullptr), nullptr);
    }
};

std::string MenuText(HMENU menu, UINT item, UINT flags)
{
    char text[256] = "";
    GetMenuStringA(menu, item, text, sizeof text, flags);
    return text;
}

} // namespace

TEST_F(WindowTest, DialogItemTextIsFormatted)
{
    ASSERT_NE(Child("EDIT", 1017), nullptr);
    SetDlgTextF(parent, 1017, "%d of %s", 3, "seven");
    char text[64] = "";
    GetDlgItemTextA(parent, 1017, text, sizeof text);
    EXPECT_STREQ(text, "3 of seven");
}

TEST_F(WindowTest, MenuItemsByPositionAndById)
{
    HMENU menu = CreatePopupMenu();
    for (int i = 0; i < 5; i++) AppendMenuA(menu, MF_STRING, 40020 + i, ("Item " + std::to_string(i)).c_str());
    SetMenuText(menu, 3, "Fourth %d", 4);
    EXPECT_EQ(MenuText(menu, 3, MF_BYPOSITION), "Fourth 4");
    SetMenuText(menu, 40024, "Last %s", "one");
    EXPECT_EQ(MenuText(menu, 40024, MF_BYCOMMAND), "Last one");
    EXPECT_EQ(MenuText(menu, 0, MF_BYPOSITION), "Item 0");
    DestroyMenu(menu);
}

TEST_F(WindowTest, WaitCursorNests)
{
    HCURSOR arrow = LoadCursorA(nullptr, (LPCSTR)IDC_ARROW);
    HCURSOR wait = LoadCursorA(nullptr, (LPCSTR)IDC_WAIT);
    SetCursor(arrow);
    SetWaitCursor(1);
    SetWaitCursor(1);
    SetWaitCursor(0);
    EXPECT_EQ(GetCursor(), wait);
    EXPECT_EQ(gMessageState.waitNesting, 1);
    SetWaitCursor(0);
    EXPECT_EQ(GetCursor(), arrow);
    EXPECT_EQ(gMessageState.waitNesting, 0);
    SetWaitCursor(0); /* an unmatched close changes nothing */
    EXPECT_EQ(gMessageState.waitNesting, 0);
}

TEST_F(WindowTest, DatePickerTakesAndGivesDates)
{
    ASSERT_NE(Child(DATETIMEPICK_CLASSA, 1043), nullptr);
    static const int kDates[] = {20240105, 20000229, 19991231};
    for (int date : kDates) {
        SetDateControl(parent, 1043, date);
        EXPECT_EQ(GetDateControl(parent, 1043), date);
    }
}
