/* names_test.cpp -- the program's UTF-8 names are the system's own letters:
** a file the Windows program makes is the file of that name for every other
** program (the native one sees the same UTF-8 name under Wine). */
#include <gtest/gtest.h>

#include <string>

#include "foundation/file_guard.h"
#include "foundation/file_helpers.h"
#include "platform/platform.h"
#include "support/test_support.h"

#include <windows.h>

namespace {

std::wstring Wide(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), (int)wide.size());
    wide.resize(n > 0 ? (size_t)n - 1 : 0);
    return wide;
}

} // namespace

/* Each name as the program writes it, and the letters the system must see.  A
** name that does not read as UTF-8 is the program's 8-bit text (code page
** 1252, a script saved in it): the file of those letters, never one of a
** replaced letter that two such names would share. */
TEST(PlatformNames, TheSystemSeesTheLettersOfTheName)
{
    TempFolder tmp;
    static const struct {
        const char *name;
        const wchar_t *letters;
    } kCases[] = {
        {"caf\xC3\xA9.csv", L"caf\u00e9.csv"},
        {"\xD0\xB6\xD1\x83\xD0\xBA.csv", L"\u0436\u0443\u043a.csv"},
        {"\xE2\x82\xAC\xF0\x9F\x93\x88.txt", L"\u20ac\U0001F4C8.txt"},
        {"old\xE9\x80.csv", L"old\u00e9\u20ac.csv"},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string path = tmp.File(c.name);
        ASSERT_TRUE(WriteTestFile(path, "abc"));
        const std::wstring system = Wide(tmp.path) + L"\\" + c.letters;
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(system.c_str()));
        EXPECT_EQ(1, DeleteFileW(system.c_str()));
    }
    /* Each piece is read as what it is: a folder written in UTF-8 stays
    ** itself beside a file name saved in 1252, though the whole path does
    ** not read as UTF-8. */
    ASSERT_EQ(1, PlatCreateFolder(tmp.File("w\xC3\xA9").c_str()));
    const std::string mixed = tmp.File("w\xC3\xA9\\s\xE9.kvd");
    ASSERT_TRUE(WriteTestFile(mixed, "abc"));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((Wide(tmp.path) + L"\\w\u00e9\\s\u00e9.kvd").c_str()));
    EXPECT_EQ(0, PlatCompareNames(mixed.c_str(), tmp.File("W\xC3\x89\\S\xC3\xA9.KVD").c_str()));
    EXPECT_EQ("abc", ReadTestFile(tmp.File("w\xC3\xA9\\s\xC3\xA9.kvd")));
    /* The program's own folder and the current one come back as UTF-8. */
    const std::string folder = tmp.File("\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0");
    ASSERT_TRUE(CreateDirectoryW((Wide(tmp.path) + L"\\\u043f\u0430\u043f\u043a\u0430").c_str(), nullptr));
    wchar_t was[MAX_PATH * 4];
    GetCurrentDirectoryW(MAX_PATH * 4, was);
    ASSERT_TRUE(SetCurrentDirectoryW((Wide(tmp.path) + L"\\\u043f\u0430\u043f\u043a\u0430").c_str()));
    char here[MAX_PATH * 4];
    EXPECT_EQ(1, PlatGetCurrentFolder(here, sizeof here));
    SetCurrentDirectoryW(was);
    EXPECT_EQ(0, CompareStringOrdinal(Wide(folder).c_str(), -1, Wide(here).c_str(), -1, TRUE) - CSTR_EQUAL) << here;
}

/* A name with trailing dots or blanks is the file without them, as for every
** Windows program: what the program reads under such a name is what its
** saves replace, through the temporary file and the rename that puts it in
** place, and no file of the written name is left that other programs could
** neither open nor delete. */
TEST(PlatformNames, TrailingDotsAndBlanksNameTheFileWithout)
{
    TempFolder tmp;
    const char *const kBases[] = {"wf.kvs", "caf\xC3\xA9-stats.csv", "CON.txt", "o"};
    const char *const kTails[] = {".", " ", "..", ". .", " . ", "...."};
    int drawn = 0;
    for (const char *base : kBases)
        for (const char *tail : kTails) {
            const std::string name = std::string(base) + tail, path = tmp.File(name);
            SCOPED_TRACE("[" + name + "]");
            const std::wstring whole = L"\\\\?\\" + Wide(tmp.File(base));
            const std::wstring written = L"\\\\?\\" + Wide(path);
            ASSERT_TRUE(WriteTestFile(tmp.File(base), "old"));
            EXPECT_EQ("old", ReadTestFile(path));
            const std::string text = "new " + std::to_string(drawn++);
            EXPECT_EQ(1, SaveFile(path.c_str(), text.data(), (uint32_t)text.size()));
            EXPECT_EQ(text, ReadTestFile(tmp.File(base)));
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(written.c_str()));
            EXPECT_EQ(1, PlatFileExists(path.c_str()));
            EXPECT_EQ(1, PlatDeleteFile(path.c_str()));
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(whole.c_str()));
        }
    /* A folder step of dots alone stays one. */
    ASSERT_TRUE(WriteTestFile(tmp.File("plain"), "x"));
    EXPECT_EQ("x", ReadTestFile(tmp.File("sub\\..\\plain")));
    EXPECT_EQ(1, PlatFolderExists(tmp.File("plain\\..").c_str()));
}

/* A guard file the user made read-only cannot go when it is let go; it stays
** at its own name rather than behind under another. */
TEST(PlatformNames, AReadOnlyGuardIsNotLeftBehindUnderAnotherName)
{
    TempFolder tmp;
    const std::string path = tmp.File("r.kvr.~kvl");
    FileGuard guard;
    ASSERT_EQ(1, TakeFileGuard(&guard, path.c_str(), 1, 0));
    ASSERT_TRUE(SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    ReleaseFileGuard(&guard);
    EXPECT_EQ("r.kvr.~kvl;", ListTestFolder(tmp.path));
    SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}
