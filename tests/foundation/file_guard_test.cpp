/* file_guard_test.cpp -- turns at a guard file: who waits for whom, what a
** holder that is gone leaves, and what letting go removes. */
#include <gtest/gtest.h>

#include <string>

#include "foundation/file_guard.h"
#include "support/test_support.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

int gBusyCalls;
void CountBusy(const char *) { gBusyCalls++; }

/* A second holder (another program, or another window of this one) meets
** the first by the guard's lock whatever each one holds: writers take turns,
** readers share, and the last holder to let go removes the guard file. */
TEST(FileGuard, HoldersTakeTurnsAndTheLastRemovesTheGuard)
{
    TempFolder tmp;
    const std::string path = tmp.File("r.kvr.~kvl");
    struct Case {
        int first, second; /* exclusive? */
        int secondHolds;
    } kCases[] = {{1, 1, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    for (const Case &c : kCases) {
        SCOPED_TRACE(c.first * 10 + c.second);
        FileGuard a, b;
        ASSERT_EQ(1, TakeFileGuard(&a, path.c_str(), c.first, 0));
        gBusyCalls = 0;
        EXPECT_EQ(c.secondHolds, TakeFileGuard(&b, path.c_str(), c.second, 60, CountBusy, "r"));
        EXPECT_EQ(c.secondHolds ? 0 : 1, gBusyCalls); /* told once, however long it waited */
        if (!c.secondHolds) {
            EXPECT_EQ(PLAT_ERR_SHARING_VIOLATION, PlatLastError());
        }
        ReleaseFileGuard(&a);
        EXPECT_EQ(c.secondHolds, PlatFileExists(path.c_str())) << "a holder is left";
        ReleaseFileGuard(&b);
        EXPECT_EQ(0, PlatFileExists(path.c_str()));
    }
}

/* A guard file its holder left behind when it was killed holds nothing: the
** next holder takes it over without waiting, and removes it in turn. */
TEST(FileGuard, AGuardWhoseHolderIsGoneIsTakenOver)
{
    TempFolder tmp;
    const std::string path = tmp.File("r.kvr.~kvl");
    ASSERT_TRUE(WriteTestFile(path, ""));
    FileGuard g;
    gBusyCalls = 0;
    ASSERT_EQ(1, TakeFileGuard(&g, path.c_str(), 1, 0, CountBusy, "r"));
    EXPECT_EQ(0, gBusyCalls);
    ReleaseFileGuard(&g);
    EXPECT_EQ(0, PlatFileExists(path.c_str()));
}

/* Letting go removes only the holder's own guard file: when the name already
** stands for a newer one (another writer's, made after this one's was
** removed, and not yet held), that one stays. */
TEST(FileGuard, LettingGoLeavesAnotherWritersNewGuard)
{
    TempFolder tmp;
    const std::string path = tmp.File("r.kvr.~kvl");
    FileGuard g;
    ASSERT_EQ(1, TakeFileGuard(&g, path.c_str(), 1, 0));
    /* (Windows keeps the name of a file open elsewhere until it is closed:
    ** there the old one is moved away instead.) */
#ifdef _WIN32
    ASSERT_TRUE(MoveFileExA(path.c_str(), (path + ".old").c_str(), 0));
#else
    ASSERT_EQ(1, PlatDeleteFile(path.c_str()));
#endif
    ASSERT_TRUE(WriteTestFile(path, "new"));
    ReleaseFileGuard(&g);
    EXPECT_EQ("new", ReadTestFile(path));
}

/* A holder that lets go between another's opening of the guard file and its
** lock takes the file's name with it: the other then holds a file no one
** else can find, and makes the guard anew instead, so that a third holder
** still finds it held. */
std::string gMovedGuard;
void LetGoAtTheWorstMoment(const char *path)
{
    if (gMovedGuard.empty()) return;
    EXPECT_EQ(1, PlatRenameReplace(path, gMovedGuard.c_str()));
    gMovedGuard.clear();
}

TEST(FileGuard, AGuardLetGoWhileItWasOpenedIsMadeAnew)
{
    TempFolder tmp;
    const std::string path = tmp.File("r.kvr.~kvl");
    gMovedGuard = tmp.File("gone");
    gFileGuardOpened = LetGoAtTheWorstMoment;
    FileGuard a, b;
    ASSERT_EQ(1, TakeFileGuard(&a, path.c_str(), 1, 0));
    gFileGuardOpened = nullptr;
    EXPECT_TRUE(gMovedGuard.empty()) << "the guard was not let go";
    EXPECT_EQ(0, TakeFileGuard(&b, path.c_str(), 1, 0)) << "two holders of one guard";
    ReleaseFileGuard(&b);
    ReleaseFileGuard(&a);
    EXPECT_EQ(0, PlatFileExists(path.c_str()));
}

} // namespace
