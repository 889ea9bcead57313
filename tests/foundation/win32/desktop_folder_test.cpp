/* ?desktop? follows the shell's desktop folder, also when the user has moved it. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "foundation/path_macros.h"
#include "foundation/text_match.h"
#include "support/test_support.h"

namespace {

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

/* Points the user's desktop elsewhere for the test and puts it back after. */
struct MovedDesktop {
    HKEY key = nullptr;
    DWORD type = 0, size = 0;
    char saved[1024] = "";
    bool had = false;
    explicit MovedDesktop(const std::string &folder)
    {
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kShellFolders, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return;
        size = sizeof saved;
        had = RegQueryValueExA(key, "Desktop", nullptr, &type, (BYTE *)saved, &size) == ERROR_SUCCESS;
        RegSetValueExA(key, "Desktop", 0, REG_EXPAND_SZ, (const BYTE *)folder.c_str(), (DWORD)folder.size() + 1);
    }
    ~MovedDesktop()
    {
        if (!key) return;
        if (had)
            RegSetValueExA(key, "Desktop", 0, type, (const BYTE *)saved, size);
        else
            RegDeleteValueA(key, "Desktop");
        RegCloseKey(key);
    }
};

} // namespace

TEST(DesktopFolder, FollowsAMovedDesktop)
{
    TempFolder moved;
    MovedDesktop desktop(moved.path);
    ASSERT_NE(desktop.key, nullptr);
    char path[PATH_SIZE];
    CopyString(path, sizeof path, "?desktop?\\x.csv", -1);
    ASSERT_EQ(ExpandPathMacros(path, ""), 1);
    EXPECT_STRCASEEQ(path, (moved.path + "\\x.csv").c_str());
}
