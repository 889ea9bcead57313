#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#else
#include <sys/stat.h>
#endif

#include "platform/platform.h"
#include "support/test_support.h"

namespace {

/* Marks a file read-only as its user does: mode 0444, or Windows' read-only
** attribute.  0 when it could not. */
int MarkReadOnly(const std::string &path, bool readOnly)
{
#ifdef _WIN32
    return _chmod(path.c_str(), readOnly ? _S_IREAD : _S_IREAD | _S_IWRITE) == 0;
#else
    char native[1024];
    PlatNativePath(path.c_str(), native, sizeof native);
    return chmod(native, readOnly ? 0444 : 0644) == 0;
#endif
}

} // namespace

TEST(PlatformFiles, WholeFileRoundTripWithSizeAndWriteTime)
{
    TempFolder tmp;
    std::string path = tmp.File("data.bin");
    std::string bytes("abc\0def\r\n\xff", 10);
    ASSERT_TRUE(WriteTestFile(path, bytes));
    EXPECT_EQ(ReadTestFile(path), bytes);

    uint64_t size = 0;
    PlatDateTime written{}, now{};
    PlatGetLocalTime(&now);
    ASSERT_EQ(PlatGetFileInfo(path.c_str(), &size, &written), 1);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(written.year, now.year);
    EXPECT_GE(written.month, 1);
    EXPECT_LE(written.month, 12);

    PlatFile f = PlatOpenFile(path.c_str(), PLAT_OPEN_READ);
    ASSERT_NE(f, nullptr);
    char buf[32];
    uint32_t got = 0;
    ASSERT_EQ(PlatReadFile(f, buf, sizeof buf, &got), 1);
    EXPECT_EQ(got, 10u); // a short read at the end is not a failure
    ASSERT_EQ(PlatReadFile(f, buf, sizeof buf, &got), 1);
    EXPECT_EQ(got, 0u);
    PlatCloseFile(f);
}

TEST(PlatformFiles, SeekSetEndAndAppend)
{
    TempFolder tmp;
    std::string path = tmp.File("f.txt");
    PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
    ASSERT_NE(f, nullptr);
    uint32_t n;
    ASSERT_EQ(PlatWriteFile(f, "0123456789", 10, &n), 1);
    uint64_t pos = 0;
    ASSERT_EQ(PlatSeekFile(f, 4, 0, &pos), 1);
    EXPECT_EQ(pos, 4u);
    ASSERT_EQ(PlatSetEndOfFile(f), 1);
    ASSERT_EQ(PlatFlushFile(f), 1);
    PlatCloseFile(f);
    EXPECT_EQ(ReadTestFile(path), "0123");

    f = PlatOpenFile(path.c_str(), PLAT_OPEN_APPEND);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(PlatWriteFile(f, "xy", 2, &n), 1);
    PlatCloseFile(f);
    EXPECT_EQ(ReadTestFile(path), "0123xy");
}

TEST(PlatformFiles, MissingFileFailsWithSystemErrorText)
{
    TempFolder tmp;
    std::string path = tmp.File("missing.txt");
    EXPECT_EQ(PlatOpenFile(path.c_str(), PLAT_OPEN_READ), nullptr);
    int code = PlatLastError();
    EXPECT_EQ(code, PLAT_ERR_FILE_NOT_FOUND);
    char text[256];
    PlatErrorText(code, text, sizeof text);
    EXPECT_GT(strlen(text), 5u);
    EXPECT_NE(text[strlen(text) - 1], '\n');
#ifndef _WIN32
    /* The system's own reason, for a missing folder too, not a Windows text. */
    EXPECT_STREQ(text, "No such file or directory");
    EXPECT_EQ(PlatOpenFile(tmp.File("no\\such\\missing.txt").c_str(), PLAT_OPEN_READ), nullptr);
    PlatErrorText(PlatLastError(), text, sizeof text);
    EXPECT_STREQ(text, "No such file or directory");
#endif
    EXPECT_EQ(PlatGetFileInfo(path.c_str(), nullptr, nullptr), 0);
    EXPECT_EQ(PlatFileExists(path.c_str()), 0);
}

TEST(PlatformFolders, CreateListWithWildcardAndRemove)
{
    TempFolder tmp;
    std::string sub = tmp.File("Sub");
    ASSERT_EQ(PlatCreateFolder(sub.c_str()), 1);
    EXPECT_EQ(PlatCreateFolder(sub.c_str()), 1); // an existing folder is fine
    EXPECT_EQ(PlatFolderExists(sub.c_str()), 1);
    ASSERT_TRUE(WriteTestFile(sub + "\\a.csv", "1"));
    ASSERT_TRUE(WriteTestFile(sub + "\\B.CSV", "2"));
    ASSERT_TRUE(WriteTestFile(sub + "\\c.txt", "3"));
    ASSERT_EQ(PlatCreateFolder((sub + "\\inner").c_str()), 1);

    std::set<std::string> names;
    ASSERT_EQ(PlatListFolder((sub + "\\*.csv").c_str(), [](const char *name, int isFolder, void *user) {
                  ((std::set<std::string> *)user)->insert(name);
                  return 1;
              },
                             &names),
              1);
    EXPECT_EQ(names, (std::set<std::string>{"a.csv", "B.CSV"}));

    std::set<std::string> folders;
    PlatListFolder((sub + "\\*").c_str(), [](const char *name, int isFolder, void *user) {
        if (isFolder) ((std::set<std::string> *)user)->insert(name);
        return 1;
    },
                   &folders);
    EXPECT_EQ(folders, (std::set<std::string>{"inner"}));

    // a parent that does not exist is reported as a missing path
    EXPECT_EQ(PlatCreateFolder(tmp.File("no\\such\\deep").c_str()), 0);
    EXPECT_EQ(PlatLastError(), PLAT_ERR_PATH_NOT_FOUND);
}

TEST(PlatformFiles, RenameReplacesExistingFileAndCopyOverwrites)
{
    TempFolder tmp;
    std::string a = tmp.File("a.txt"), b = tmp.File("b.txt"), c = tmp.File("c.txt");
    ASSERT_TRUE(WriteTestFile(a, "new"));
    ASSERT_TRUE(WriteTestFile(b, "old contents"));
    ASSERT_EQ(PlatRenameReplace(a.c_str(), b.c_str()), 1);
    EXPECT_EQ(ReadTestFile(b), "new");
    EXPECT_EQ(PlatFileExists(a.c_str()), 0);
    ASSERT_TRUE(WriteTestFile(c, "ccc"));
    ASSERT_EQ(PlatCopyFile(b.c_str(), c.c_str()), 1);
    EXPECT_EQ(ReadTestFile(c), "new");
    EXPECT_EQ(PlatDeleteFile(c.c_str()), 1);
    EXPECT_EQ(PlatFileExists(c.c_str()), 0);
}

TEST(PlatformFiles, AFullDiskAndAPlannedFailureFailAlike)
{
    TempFolder tmp;
#ifndef _WIN32
    // A device that is always full: the system's own "no space" is the program's disk-full code.
    PlatFile full = PlatOpenFile("/dev/full", PLAT_CREATE_WRITE);
    ASSERT_NE(full, nullptr);
    uint32_t none = 9;
    EXPECT_EQ(PlatWriteFile(full, "x", 1, &none), 0);
    EXPECT_EQ(PlatLastError(), PLAT_ERR_DISK_FULL);
    PlatCloseFile(full);
#endif
    // A planned failure of a write fails the same way and writes nothing;
    // a refused rename moves nothing.
    std::string a = tmp.File("a.txt"), b = tmp.File("b.txt");
    PlatFile f = PlatOpenFile(a.c_str(), PLAT_CREATE_WRITE);
    ASSERT_NE(f, nullptr);
    PlatPlanFault(PLAT_FAULT_WRITE, 0, 1);
    uint32_t written = 9;
    EXPECT_EQ(PlatWriteFile(f, "1", 1, &written), 0);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(PlatLastError(), PLAT_ERR_DISK_FULL);
    PlatCloseFile(f);
    EXPECT_EQ(ReadTestFile(a), "");
    ASSERT_TRUE(WriteTestFile(b, "old"));
    PlatPlanFault(PLAT_FAULT_RENAME, 0, 1);
    EXPECT_EQ(PlatRenameReplace(a.c_str(), b.c_str()), 0);
    EXPECT_EQ(PlatLastError(), PLAT_ERR_ACCESS_DENIED);
    EXPECT_EQ(ReadTestFile(b), "old");
}

/* A file the user may not write is never opened for writing, appending or
** changing: refused as access denied, its bytes kept.  The planned refusal
** stands for a file another user owns, which the superuser would pass; the
** native build also refuses a file whose mode has no write bit, to the
** superuser too.  Reading and making a new file are no such opening. */
TEST(PlatformFiles, AFileTheUserMayNotWriteIsNotOpenedForWriting)
{
    TempFolder tmp;
    const std::string path = tmp.File("kept.ini"), fresh = tmp.File("fresh.ini");
    for (bool readOnlyMode : {false, true})
        for (int mode : {PLAT_CREATE_WRITE, PLAT_OPEN_READ_WRITE, PLAT_OPEN_APPEND}) {
            SCOPED_TRACE(std::to_string(mode) + (readOnlyMode ? " read-only" : " planned"));
            ASSERT_TRUE(WriteTestFile(path, "kept"));
            ASSERT_TRUE(MarkReadOnly(path, readOnlyMode));
            if (!readOnlyMode) PlatPlanFault(PLAT_FAULT_READ_ONLY, 0, 1);
            PlatFile f = PlatOpenFile(path.c_str(), mode);
            EXPECT_EQ(nullptr, f);
            EXPECT_EQ(PLAT_ERR_ACCESS_DENIED, PlatLastError());
            if (f) PlatCloseFile(f);
            EXPECT_EQ("kept", ReadTestFile(path));
            MarkReadOnly(path, false);
        }
    PlatPlanFault(PLAT_FAULT_READ_ONLY, 0, 1);
    PlatFile reading = PlatOpenFile(path.c_str(), PLAT_OPEN_READ);
    EXPECT_NE(nullptr, reading);
    PlatCloseFile(reading);
    PlatFile created = PlatOpenFile(fresh.c_str(), PLAT_CREATE_WRITE);
    EXPECT_NE(nullptr, created);
    PlatCloseFile(created);
    EXPECT_EQ(0, PlatFaultsMade(PLAT_FAULT_READ_ONLY));
    PlatPlanFault(PLAT_FAULT_READ_ONLY, 0, 0);
}

/* A file the user made read-only is never replaced: not by a rename of a
** new file over it (a save), held or not, nor by a copy.  Windows' own rename
** refuses it; Wine's does not, nor does the system's rename on Linux. */
TEST(PlatformFiles, AReadOnlyFileIsNotReplaced)
{
    TempFolder tmp;
    const std::string target = tmp.File("orders.csv"), temp = tmp.File("orders.csv.~kvab12cd");
    const std::string source = tmp.File("source.csv");
    ASSERT_TRUE(WriteTestFile(target, "kept"));
    ASSERT_TRUE(MarkReadOnly(target, true));
    ASSERT_TRUE(WriteTestFile(source, "new"));
    for (int way = 0; way < 3; way++) {
        SCOPED_TRACE(way);
        PlatFile held = nullptr;
        int result = -1;
        if (way == 0) {
            ASSERT_TRUE(WriteTestFile(temp, "new"));
            result = PlatRenameReplace(temp.c_str(), target.c_str());
        } else if (way == 1) {
            held = PlatOpenFile(temp.c_str(), PLAT_CREATE_EXCLUSIVE);
            ASSERT_NE(nullptr, held);
            result = PlatRenameOpenFile(held, temp.c_str(), target.c_str());
        } else {
            result = PlatCopyFile(source.c_str(), target.c_str());
        }
        EXPECT_EQ(0, result);
        EXPECT_EQ(PLAT_ERR_ACCESS_DENIED, PlatLastError());
        if (held) PlatCloseFile(held);
        EXPECT_EQ("kept", ReadTestFile(target));
        PlatDeleteFile(temp.c_str());
    }
    /* Once the user allows it again, it is replaced. */
    ASSERT_TRUE(MarkReadOnly(target, false));
    EXPECT_EQ(1, PlatCopyFile(source.c_str(), target.c_str()));
    EXPECT_EQ("new", ReadTestFile(target));
}

/* A file another writer holds (its temporary file) is neither moved over
** the target nor removed, as Windows refuses both; once let go it moves. */
TEST(PlatformFiles, AFileHeldByAnotherWriterStaysWhereItIs)
{
    TempFolder tmp;
    const std::string target = tmp.File("data.kvd"), temp = tmp.File("data.kvd.~kv");
    ASSERT_TRUE(WriteTestFile(target, "old"));
    PlatFile held = PlatOpenFile(temp.c_str(), PLAT_CREATE_EXCLUSIVE);
    ASSERT_NE(nullptr, held);
    uint32_t written = 0;
    ASSERT_TRUE(PlatWriteFile(held, "theirs", 6, &written));
    EXPECT_EQ(0, PlatRenameReplace(temp.c_str(), target.c_str()));
    EXPECT_EQ(PLAT_ERR_SHARING_VIOLATION, PlatLastError());
    EXPECT_EQ(0, PlatDeleteUnusedFile(temp.c_str()));
    EXPECT_EQ(PLAT_ERR_SHARING_VIOLATION, PlatLastError());
    EXPECT_EQ("old", ReadTestFile(target));
    PlatCloseFile(held);
    EXPECT_EQ(1, PlatRenameReplace(temp.c_str(), target.c_str()));
    EXPECT_EQ("theirs", ReadTestFile(target));
}

/* The writer that holds its new file moves it over the target without
** letting go of it: while held no one else can take or remove it, and the
** move itself needs no second opening.  A planned refusal moves nothing; a
** planned failure of the making makes nothing. */
TEST(PlatformFiles, AHeldFileIsMovedByItsWriter)
{
    TempFolder tmp;
    const std::string target = tmp.File("report.html"), temp = tmp.File("report.html.~kvab12cd");
    ASSERT_TRUE(WriteTestFile(target, "old"));
    PlatFile held = PlatOpenFile(temp.c_str(), PLAT_CREATE_EXCLUSIVE);
    ASSERT_NE(nullptr, held);
    uint32_t written = 0;
    ASSERT_TRUE(PlatWriteFile(held, "new", 3, &written));
    PlatPlanFault(PLAT_FAULT_RENAME, 0, 1);
    EXPECT_EQ(0, PlatRenameOpenFile(held, temp.c_str(), target.c_str()));
    EXPECT_EQ(PLAT_ERR_ACCESS_DENIED, PlatLastError());
    EXPECT_EQ("old", ReadTestFile(target));
    EXPECT_EQ(1, PlatRenameOpenFile(held, temp.c_str(), target.c_str()));
    EXPECT_EQ(0, PlatFileExists(temp.c_str()));
    /* (Windows lets the target be read once its writer lets go.) */
    EXPECT_EQ(1, PlatCloseFile(held));
    EXPECT_EQ("new", ReadTestFile(target));

    PlatPlanFault(PLAT_FAULT_CREATE, 0, 1);
    EXPECT_EQ(nullptr, PlatOpenFile(temp.c_str(), PLAT_CREATE_EXCLUSIVE));
    EXPECT_EQ(PLAT_ERR_ACCESS_DENIED, PlatLastError());
    EXPECT_EQ(0, PlatFileExists(temp.c_str()));
    EXPECT_EQ(1, PlatFaultsMade(PLAT_FAULT_CREATE));
}

TEST(PlatformPaths, BackslashComposedPathsWork)
{
    // The program composes every path with '\'; the OS layer accepts them.
    TempFolder tmp;
    std::string p = tmp.path + "\\one\\two.txt";
    ASSERT_EQ(PlatCreateFolder((tmp.path + "\\one\\").c_str()), 1); // trailing separator is fine
    ASSERT_TRUE(WriteTestFile(p, "x"));
    EXPECT_EQ(PlatFileExists(p.c_str()), 1);
    char native[300];
    PlatNativePath("a\\b\\c", native, sizeof native);
#if defined(_WIN32)
    EXPECT_STREQ(native, "a\\b\\c");
#else
    EXPECT_STREQ(native, "a/b/c");
#endif
}

/* A held file is removed by its holder in a folder of any length a path of
** the program can name it in: up to the longest, where the name it moves to
** on the way out is longer than the system's old limit. */
TEST(PlatformFiles, AHeldFileGoesFromAFolderNearTheLongestPath)
{
    TempFolder tmp;
    for (size_t length = 246; length <= 250; length++) {
        SCOPED_TRACE(length);
        std::string folder = tmp.path;
        while (folder.size() + 1 < length) {
            /* Names of at most 40 characters, none left empty. */
            const size_t need = length - 1 - folder.size();
            folder += "\\" + std::string(need > 41 ? (need == 42 ? 39 : 40) : need - 1, 'f');
            ASSERT_EQ(1, PlatCreateFolder(folder.c_str()));
        }
        const std::string guard = folder + "\\~kvr.~kvl"; /* the folder with its separator is length long */
        ASSERT_EQ(length + 9, guard.size());
        PlatFile held = PlatOpenFile(guard.c_str(), PLAT_OPEN_GUARD);
        ASSERT_NE(nullptr, held);
        ASSERT_EQ(1, PlatLockFile(held, 1));
        EXPECT_EQ(1, PlatRemoveHeldFile(held, guard.c_str()));
        PlatCloseFile(held);
        EXPECT_EQ(0, PlatFileExists(guard.c_str()));
        std::set<std::string> left;
        PlatListFolder((folder + "\\*").c_str(), [](const char *file, int, void *user) {
            static_cast<std::set<std::string> *>(user)->insert(file);
            return 1;
        }, &left);
        EXPECT_TRUE(left.empty()) << *left.begin();
    }
}

/* A file is the file its name says in its folder, also where the name is one
** the Windows system keeps for a device (PRN and CON are tickers): written,
** found, read back, measured, moved and removed as any other.  The serial
** ports' names (COM1, AUX) take the same way; batch-check imports them. */
TEST(PlatformPaths, AFileNamedAfterADeviceIsThatFile)
{
    TempFolder tmp;
    for (const char *name : {"CON.csv", "PRN.csv", "NUL.csv", "LPT1.csv", "nul", "Con .txt", "prn.csv.~kvl"}) {
        SCOPED_TRACE(name);
        const std::string path = tmp.File(name), moved = path + ".moved";
        PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(PlatWriteFile(f, "abc", 3, nullptr), 1);
        PlatCloseFile(f);
        EXPECT_EQ(PlatFileExists(path.c_str()), 1);
        EXPECT_EQ(PlatFolderExists(path.c_str()), 0);
        uint64_t size = 0;
        EXPECT_EQ(PlatGetFileInfo(path.c_str(), &size, nullptr), 1);
        EXPECT_EQ(size, 3u);
        EXPECT_EQ(ReadTestFile(path), "abc");
        std::set<std::string> listed;
        PlatListFolder((tmp.path + "\\*").c_str(), [](const char *file, int, void *user) {
            static_cast<std::set<std::string> *>(user)->insert(file);
            return 1;
        }, &listed);
        EXPECT_EQ(listed.count(name), 1u);
        ASSERT_EQ(PlatRenameReplace(path.c_str(), moved.c_str()), 1);
        ASSERT_EQ(PlatRenameReplace(moved.c_str(), path.c_str()), 1);
        EXPECT_EQ(ReadTestFile(path), "abc");
        EXPECT_EQ(PlatDeleteFile(path.c_str()), 1);
        EXPECT_EQ(PlatFileExists(path.c_str()), 0);
    }
}

/* A name outside ASCII is UTF-8 in both builds: made, found, listed, read,
** moved and removed by the name the native program gives the same file (the
** listing gives it back as written). */
TEST(PlatformPaths, NamesOutsideAsciiAreUtf8)
{
    TempFolder tmp;
    static const char *const kNames[] = {
        "\xC3\xA9t\xC3\xA9.csv",                  /* été */
        "\xD0\xB6\xD1\x83\xD0\xBA.csv",            /* жук */
        "\xE2\x82\xAC \xF0\x9F\x93\x88.txt",        /* € and a letter beyond 16 bits */
    };
    const std::string folder = tmp.File("\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0"); /* папка */
    ASSERT_EQ(1, PlatCreateFolder(folder.c_str()));
    for (const char *name : kNames) {
        SCOPED_TRACE(name);
        const std::string path = folder + "\\" + name;
        PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(1, PlatWriteFile(f, "abc", 3, nullptr));
        PlatCloseFile(f);
        std::vector<std::string> listed;
        EXPECT_EQ(1, PlatListFolder((folder + "\\*").c_str(), [](const char *file, int, void *user) {
            static_cast<std::vector<std::string> *>(user)->push_back(file);
            return 1;
        }, &listed));
        EXPECT_EQ(std::vector<std::string>{name}, listed);
        EXPECT_EQ("abc", ReadTestFile(path));
        EXPECT_EQ(1, PlatRenameReplace(path.c_str(), (path + ".moved").c_str()));
        EXPECT_EQ(1, PlatFileExists((path + ".moved").c_str()));
        EXPECT_EQ(1, PlatDeleteFile((path + ".moved").c_str()));
        EXPECT_EQ(0, PlatFileExists(path.c_str()));
    }
    /* The current folder comes back by the name it was given. */
    char was[4096], here[4096];
    ASSERT_EQ(1, PlatGetCurrentFolder(was, sizeof was));
    ASSERT_EQ(1, PlatSetCurrentFolder(folder.c_str()));
    ASSERT_EQ(1, PlatGetCurrentFolder(here, sizeof here));
    PlatSetCurrentFolder(was);
    const std::string tail = "\xD0\xBF\xD0\xB0\xD0\xBF\xD0\xBA\xD0\xB0";
    EXPECT_EQ(tail, std::string(here).substr(strlen(here) - tail.size()));
    /* So does an environment variable's value. */
    ASSERT_EQ(1, PlatSetEnv("KV_TEST_NAME", folder.c_str()));
    char value[4096];
    ASSERT_EQ(1, PlatGetEnv("KV_TEST_NAME", value, sizeof value));
    EXPECT_EQ(folder, std::string(value));
    PlatSetEnv("KV_TEST_NAME", nullptr);
}

TEST(PlatformTime, LocalTimeAndTicks)
{
    PlatDateTime t{};
    PlatGetLocalTime(&t);
    EXPECT_GE(t.year, 2020);
    EXPECT_GE(t.day, 1);
    EXPECT_LE(t.day, 31);
    EXPECT_GE(t.dayOfWeek, 0);
    EXPECT_LE(t.dayOfWeek, 6);
    uint64_t t0 = PlatTickCount64();
    PlatSleep(60);
    uint64_t t1 = PlatTickCount64();
    EXPECT_GE(t1 - t0, 30u); // tick counters can be coarse (about 16 ms)
    EXPECT_LT(t1 - t0, 5000u);
}

TEST(PlatformProcess, EnvironmentMemoryAndProcessors)
{
    ASSERT_EQ(PlatSetEnv("KV_TEST_VAR", "hello"), 1);
    char buf[16];
    ASSERT_EQ(PlatGetEnv("KV_TEST_VAR", buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "hello");
    char tiny[3];
    EXPECT_EQ(PlatGetEnv("KV_TEST_VAR", tiny, sizeof tiny), 0); // does not fit
    ASSERT_EQ(PlatSetEnv("KV_TEST_VAR", nullptr), 1);
    EXPECT_EQ(PlatGetEnv("KV_TEST_VAR", buf, sizeof buf), 0);

    EXPECT_GT(PlatPhysicalMemory(), 256ull * 1024 * 1024);
    EXPECT_GE(PlatProcessorCount(), 1);
    EXPECT_NE(PlatCurrentThreadId(), 0u);
    EXPECT_EQ(PlatEscapePressed(), 0);
}

TEST(PlatformLibraries, LoadsLibraryAndCallsExport)
{
    std::string path = TestProgramFolder() + "\\kvtestlib" + PlatLibrarySuffix();
    PlatLibrary lib = PlatLoadLibrary(path.c_str());
    ASSERT_NE(lib, nullptr) << path;
    typedef int (*AddFn)(int, int);
    AddFn add = (AddFn)PlatGetProcAddress(lib, "KvTestAdd");
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 3), 1005);
    EXPECT_EQ(PlatGetProcAddress(lib, "NoSuchExport"), nullptr);
    PlatFreeLibrary(lib);
    EXPECT_EQ(PlatLoadLibrary((TestProgramFolder() + "\\nolib.dll").c_str()), nullptr);
}
