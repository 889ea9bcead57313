#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/program_state.h"

namespace {

struct FileHelpersTest : ProgramStateTest {
    std::vector<std::string> List(const std::string &folder)
    {
        std::vector<std::string> names;
        PlatListFolder((folder + "\\*").c_str(), [](const char *name, int, void *user) {
            ((std::vector<std::string> *)user)->push_back(name);
            return 1;
        },
                       &names);
        std::sort(names.begin(), names.end());
        return names;
    }
};

std::string LongPath(const std::string &folder, size_t length)
{
    std::string p = folder + "\\";
    while (p.size() < length) p += 'x';
    return p;
}

} // namespace

TEST_F(FileHelpersTest, LoadFileDropsByteOrderMarkAndTerminates)
{
    std::string path = tmp.File("bom.txt");
    ASSERT_TRUE(WriteTestFile(path, "\xEF\xBB\xBFhello"));
    char *text = nullptr;
    uint32_t size = 99;
    ASSERT_EQ(LoadFile(path.c_str(), &text, &size), 1);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::string(text, 9), std::string("hello\0\0\0\0", 9));
    EXPECT_EQ(TrackedBlockSize(text), 12u); /* the file's 8 bytes + 4 */
    FreeMemory(&text);

    std::string empty = tmp.File("empty.txt");
    ASSERT_TRUE(WriteTestFile(empty, ""));
    ASSERT_EQ(LoadFile(empty.c_str(), &text, &size), 1);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(TrackedBlockSize(text), 4u);
    EXPECT_EQ(memcmp(text, "\0\0\0\0", 4), 0);
    FreeMemory(&text);
    EXPECT_EQ(gHeadless.messageCount, 0);
}

TEST_F(FileHelpersTest, ReadFailuresReportOnceAndLeaveNothing)
{
    std::string missing = tmp.File("missing.txt");
    char *text = (char *)"stale";
    EXPECT_EQ(LoadFile(missing.c_str(), &text, nullptr), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(std::string(LastMessage()).rfind("Unable to open " + missing + " for reading\r\n\r\n", 0), 0u);
    EXPECT_EQ(gRun.resultCode, RESULT_FILE_ERROR);

    /* A short file read as a longer block names the block's file "file". */
    std::string shortFile = tmp.File("short.bin");
    ASSERT_TRUE(WriteTestFile(shortFile, std::string(60, 'a')));
    PlatFile f = nullptr;
    ASSERT_EQ(OpenFileForRead(&f, shortFile.c_str()), 1);
    void *block = nullptr;
    EXPECT_EQ(ReadBlock(f, &block, 100), 0);
    EXPECT_EQ(block, nullptr);
    EXPECT_STREQ(LastMessage(), "Incomplete data (60 of 100) read from file");
    PlatSeekFile(f, 0, 0, nullptr);
    char buffer[100];
    EXPECT_EQ(ReadFileData(f, buffer, 100, "short.bin"), 0);
    EXPECT_STREQ(LastMessage(), "Incomplete data (60 of 100) read from short.bin");
    PlatSeekFile(f, 0, 0, nullptr);
    ASSERT_EQ(ReadBlock(f, &block, 60), 1);
    EXPECT_EQ(memcmp(block, std::string(60, 'a').data(), 60), 0);
    FreeMemory(&block);
    ASSERT_EQ(ReadBlock(nullptr, &block, 16), 1); /* no file: a zeroed block */
    EXPECT_EQ(TrackedBlockSize(block), 16u);
    FreeMemory(&block);
    PlatCloseFile(f);
}

TEST_F(FileHelpersTest, FilesOfFourGigabytesAreRefused)
{
    /* clang-format off */
    static const struct { uint64_t size; int ok; } kCases[] = {
        {0, 1},
        {0xFFFFFFFFull, 1},
        {0x100000000ull, 0},
        {0x7FFFFFFFFFFull, 0},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(CheckFileSizeLimit(c.size, "C:\\big.kvd"), c.ok) << c.size;
        EXPECT_EQ(gHeadless.messageCount, c.ok ? 0 : 1);
        if (!c.ok) {
            EXPECT_STREQ(LastMessage(), "Unable to read C:\\big.kvd because it is larger than 4GB.");
            EXPECT_EQ(gRun.resultCode, RESULT_FILE_ERROR);
        }
    }
}

TEST_F(FileHelpersTest, LoadFileRefusesARealFourGigabyteFile)
{
    std::string big = tmp.File("big.kvd");
    ASSERT_TRUE(WriteSparseTestFile(big, 0x100000000ull));
    char *text = (char *)"stale";
    EXPECT_EQ(LoadFile(big.c_str(), &text, nullptr), 0);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(std::string(LastMessage()), "Unable to read " + big + " because it is larger than 4GB.");
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(gRun.resultCode, RESULT_FILE_ERROR);
    EXPECT_EQ(LoadCsvText(big.c_str(), &text, 0), 0); /* through LoadFile too */
    EXPECT_EQ(gHeadless.messageCount, 2);
    PlatDeleteFile(big.c_str()); /* no handle was left open on it */
    EXPECT_FALSE(PlatFileExists(big.c_str()));
}

TEST_F(FileHelpersTest, OverlongPathsAreRefusedAlikeInBothBuilds)
{
    std::string path = LongPath(tmp.path, 260);
    char *text = nullptr;
    EXPECT_EQ(LoadFile(path.c_str(), &text, nullptr), 0);
    EXPECT_EQ(std::string(LastMessage()),
              "Unable to open " + path + " for reading\r\n\r\nThe filename or extension is too long.");
    EXPECT_EQ(SaveFile(path.c_str(), "x", 1), 0);
    EXPECT_EQ(std::string(LastMessage()),
              "Unable to create " + path + "\r\n\r\nThe filename or extension is too long.");
    PlatFile f = nullptr;
    EXPECT_EQ(CreateFileForWrite(&f, path.c_str(), 0), 0);
    EXPECT_EQ(f, nullptr);
    EXPECT_EQ(gHeadless.messageCount, 3);
    EXPECT_EQ(gRun.resultCode, RESULT_FILE_ERROR);
    /* A file no build can open has no backup either, and makes no folder. */
    gSettings.MaxBackups = 3;
    EXPECT_EQ(BackupFile(path.c_str()), 0);
    EXPECT_EQ(gHeadless.messageCount, 3);
    EXPECT_TRUE(List(tmp.path).empty());

    /* 259 characters still work, the temporary file taking a shorter name. */
    std::string longest = LongPath(tmp.path, 259);
    if (longest.size() == 259) {
        ASSERT_EQ(SaveFile(longest.c_str(), "abc", 3), 1);
        EXPECT_EQ(ReadTestFile(longest), "abc");
        EXPECT_EQ(List(tmp.path).size(), 1u);
    }
}

/* A path's length is its letters, whatever bytes each takes: a path of 259
** letters of two, three or four bytes saves and loads under its own name
** (its temporary beside it), and one of 260 is refused as too long. */
TEST_F(FileHelpersTest, APathOf259LettersOfAnySizeSavesAndOneOf260IsRefused)
{
    for (const std::string letter : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        SCOPED_TRACE(letter.size());
        const std::string folder = tmp.File("w" + std::to_string(letter.size()));
        ASSERT_TRUE(PlatCreateFolder(folder.c_str()));
        std::string name;
        for (int k = 0; k < 20; k++) name += letter;
        name += ".csv";
        const std::string path = MakePathOfLength(folder, 259, name, letter);
        ASSERT_FALSE(path.empty());
        const size_t ascii = (size_t)std::count_if(path.begin(), path.end(), [](char c) { return (unsigned char)c < 0x80; });
        ASSERT_EQ(259u, ascii + (path.size() - ascii) / letter.size());
        ASSERT_EQ(1, SaveFile(path.c_str(), "kept", 4)) << LastMessage();
        EXPECT_EQ("kept", ReadTestFile(path));
        char *text = nullptr;
        ASSERT_EQ(1, LoadFile(path.c_str(), &text, nullptr)) << LastMessage();
        EXPECT_STREQ("kept", text);
        FreeMemory(&text);
        const std::string where = path.substr(0, path.rfind('\\')), longer = where + "\\" + letter + name;
        EXPECT_EQ(0, SaveFile(longer.c_str(), "x", 1));
        EXPECT_EQ("Unable to create " + longer + "\r\n\r\nThe filename or extension is too long.",
                  std::string(LastMessage()));
        EXPECT_EQ(std::vector<std::string>{name}, List(where));
    }
}

/* A name too short for the usual temporary names at the end of a path of
** 259 characters (".kvr", down to one letter) saves through a temporary
** file whose name is no longer than its own.  A name that short may be a
** user's: the temporary is made new, never taken over, so the user's files
** of such names (here 30 of the 36 a two- or one-letter name may take) keep
** what they hold, and nothing else is left. */
TEST_F(FileHelpersTest, AShortNameAtTheLongestPathSavesBesideTheUsersFiles)
{
    static const char kLetters[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (const std::string name : {".kvr", "ab", "a"}) {
        SCOPED_TRACE(name);
        const std::string folder = tmp.File("n" + std::to_string(name.size()));
        ASSERT_TRUE(PlatCreateFolder(folder.c_str()));
        const std::string path = MakePathOfLength(folder, 259, name);
        ASSERT_EQ(259u, path.size());
        const std::string where = path.substr(0, path.rfind('\\'));
        std::vector<std::string> users;
        for (const char *c = kLetters; name.size() <= 2 && users.size() < 30; c++)
            if (*c != name[0]) users.push_back((name.size() == 2 ? "~" : "") + std::string(1, *c));
        for (const std::string &u : users) ASSERT_TRUE(WriteTestFile(where + "\\" + u, "the user's " + u));
        for (const char *contents : {"first", "second"}) {
            ASSERT_EQ(SaveFile(path.c_str(), contents, (uint32_t)strlen(contents)), 1) << LastMessage();
            EXPECT_EQ(ReadTestFile(path), contents);
        }
        for (const std::string &u : users) EXPECT_EQ(ReadTestFile(where + "\\" + u), "the user's " + u);
        users.push_back(name);
        std::sort(users.begin(), users.end());
        EXPECT_EQ(List(where), users);
    }
    EXPECT_EQ(gHeadless.messageCount, 0);
}

/* A path too long for "<name>.~kv" and six characters saves through "~kv"
** and six in its folder; a file of such a name there is not known for one a
** killed save left (a user's "~kvreport"), and stays. */
TEST_F(FileHelpersTest, AUsersKvNameBesideALongPathStays)
{
    const std::string path = MakePathOfLength(tmp.path, 255, "stats.csv");
    ASSERT_EQ(255u, path.size());
    const std::string where = path.substr(0, path.rfind('\\'));
    ASSERT_TRUE(WriteTestFile(where + "\\~kvreport", "the user's"));
    ASSERT_EQ(1, SaveFile(path.c_str(), "saved", 5)) << LastMessage();
    EXPECT_EQ("the user's", ReadTestFile(where + "\\~kvreport"));
    EXPECT_EQ((std::vector<std::string>{"stats.csv", "~kvreport"}), List(where));
}

TEST_F(FileHelpersTest, SaveReplacesOnlyWhenComplete)
{
    std::string path = tmp.File("settings.ini");
    ASSERT_EQ(SaveFile(path.c_str(), "first version, long", 19), 1);
    ASSERT_EQ(SaveFile(path.c_str(), "second", 6), 1);
    EXPECT_EQ(ReadTestFile(path), "second"); /* reserved space cut off */
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"settings.ini"});

    /* While the new contents are being written the old file is whole. */
    ReplaceFile rf;
    ASSERT_EQ(BeginReplaceFile(&rf, path.c_str(), 100), 1);
    ASSERT_EQ(WriteReplaceFile(&rf, "third", 5), 1);
    EXPECT_EQ(ReadTestFile(path), "second");
    AbandonReplaceFile(&rf);
    EXPECT_EQ(ReadTestFile(path), "second");
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"settings.ini"});

    /* A save that cannot create its new contents fails and loses nothing. */
    PlatPlanFault(PLAT_FAULT_CREATE, 0, 1);
    EXPECT_EQ(SaveFile(path.c_str(), "fourth", 6), 0);
    EXPECT_EQ(PlatFaultsMade(PLAT_FAULT_CREATE), 1);
    EXPECT_EQ(ReadTestFile(path), "second");
    EXPECT_EQ(std::string(LastMessage()).rfind("Unable to create " + path + "\r\n\r\n", 0), 0u);
    EXPECT_EQ(gRun.resultCode, RESULT_FILE_ERROR);
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"settings.ini"});

    /* A save into a missing folder fails without leaving anything. */
    std::string nowhere = tmp.File("no\\such.ini");
    EXPECT_EQ(SaveFile(nowhere.c_str(), "x", 1), 0);
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"settings.ini"});

    /* A commit that cannot rename (the target is a folder) removes its temporary file. */
    std::string folderTarget = tmp.File("taken");
    ASSERT_EQ(PlatCreateFolder(folderTarget.c_str()), 1);
    EXPECT_EQ(SaveFile(folderTarget.c_str(), "x", 1), 0);
    EXPECT_EQ(List(tmp.path), (std::vector<std::string>{"settings.ini", "taken"}));
}

/* A quiet save replaces the file as SaveFile does; one that fails leaves
** the file and the folder as they were, shows nothing, keeps the result
** code and leaves the system's reason. */
TEST_F(FileHelpersTest, QuietSavesFailWithoutAWord)
{
    const std::string path = tmp.File("picture.png");
    ASSERT_EQ(SaveFileQuietly(path.c_str(), "first version, long", 19), 1);
    ASSERT_EQ(SaveFileQuietly(path.c_str(), "second", 6), 1);
    EXPECT_EQ(ReadTestFile(path), "second");
    const struct {
        int kind;
        int error;
    } cases[] = {
        {PLAT_FAULT_CREATE, PLAT_ERR_ACCESS_DENIED},
        {PLAT_FAULT_WRITE, PLAT_ERR_DISK_FULL},
        {PLAT_FAULT_RENAME, PLAT_ERR_ACCESS_DENIED},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        PlatPlanFault(c.kind, 0, 1);
        EXPECT_EQ(SaveFileQuietly(path.c_str(), "third", 5), 0);
        EXPECT_EQ(PlatLastError(), c.error);
        EXPECT_EQ(PlatFaultsMade(c.kind), 1);
        PlatPlanFault(c.kind, 0, 0);
        EXPECT_EQ(ReadTestFile(path), "second");
        EXPECT_EQ(List(tmp.path), std::vector<std::string>{"picture.png"});
    }
    EXPECT_EQ(SaveFileQuietly(tmp.File("no\\such.png").c_str(), "x", 1), 0);
    EXPECT_NE(PlatLastError(), 0); /* the systems' words for a missing folder differ */
    EXPECT_EQ(gHeadless.messageCount, 0);
    EXPECT_EQ(gRun.resultCode, 0);
}

/* Two writers of one file never write into one temporary file: each takes
** a name of its own, both saves succeed and the later rename wins.  A
** temporary another writer holds is left to it; one nobody holds (its
** writer was killed) goes with the next save of the file. */
TEST_F(FileHelpersTest, EachWriterHasATemporaryFileOfItsOwn)
{
    const std::string path = tmp.File("export.csv");
    ASSERT_TRUE(WriteTestFile(path, "old"));
    ReplaceFile first, second;
    ASSERT_EQ(BeginReplaceFile(&first, path.c_str(), 0), 1);
    ASSERT_EQ(BeginReplaceFile(&second, path.c_str(), 0), 1);
    EXPECT_STRNE(first.tempPath, second.tempPath);
    ASSERT_EQ(WriteReplaceFile(&first, "first", 5), 1);
    ASSERT_EQ(WriteReplaceFile(&second, "second", 6), 1);
    EXPECT_EQ(CommitReplaceFile(&second), 1);
    EXPECT_EQ(ReadTestFile(path), "second");
    EXPECT_EQ(CommitReplaceFile(&first), 1);
    EXPECT_EQ(ReadTestFile(path), "first");
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"export.csv"});

    const std::string theirs = path + ".~kvab12cd", killed = path + ".~kvzz99yy";
    PlatFile held = PlatOpenFile(theirs.c_str(), PLAT_CREATE_EXCLUSIVE);
    ASSERT_NE(held, nullptr);
    uint32_t written = 0;
    ASSERT_EQ(PlatWriteFile(held, "another writer's", 16, &written), 1);
    ASSERT_TRUE(WriteTestFile(killed, "a killed writer's"));
    /* not a temporary of this file: a data file's, another file's */
    for (const char *other : {"export.csv.~kv", "export.csv.~kvab12c", "export.csvx.~kvab12cd"})
        ASSERT_TRUE(WriteTestFile(tmp.File(other), "other"));
    EXPECT_EQ(SaveFile(path.c_str(), "new", 3), 1);
    EXPECT_EQ(ReadTestFile(path), "new");
    PlatCloseFile(held);
    EXPECT_EQ(ReadTestFile(theirs), "another writer's");
    EXPECT_EQ(List(tmp.path), (std::vector<std::string>{"export.csv", "export.csv.~kv", "export.csv.~kvab12c",
                                                         "export.csv.~kvab12cd", "export.csvx.~kvab12cd"}));
    EXPECT_EQ(gHeadless.messageCount, 0);
}

#ifndef _WIN32
/* Two processes save one file 3,000 times each (4,096 bytes of 'a' and
** 8,192 of 'b') while a third reads it: every save succeeds and the reader
** only ever finds one of the two files whole. */
TEST_F(FileHelpersTest, TwoWritersOfOneFileBothSucceedAndReplaceItWhole)
{
    /* Memory where the system has it, so the flushes cost nothing; the
    ** renames are the same. */
    struct stat st;
    const std::string base = stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) ? "/dev/shm" : tmp.path;
    const std::string folder = base + "/kvtest_writers_" + std::to_string(getpid());
    ASSERT_EQ(PlatCreateFolder(folder.c_str()), 1);
    const std::string path = folder + "/shared.txt";
    const std::string a(4096, 'a'), b(8192, 'b');
    ASSERT_TRUE(WriteTestFile(path, a));
    const int kSaves = 3000;
    int go[2];
    ASSERT_EQ(0, pipe(go));
    pid_t writers[2];
    for (int w = 0; w < 2; w++) {
        writers[w] = fork();
        ASSERT_GE(writers[w], 0);
        if (writers[w] == 0) {
            close(go[1]);
            char c;
            while (read(go[0], &c, 1) > 0) {
            }
            const std::string &text = w == 0 ? a : b;
            int failed = 0;
            for (int i = 0; i < kSaves; i++)
                if (!SaveFile(path.c_str(), text.data(), (uint32_t)text.size())) failed++;
            _exit(failed > 250 ? 250 : failed);
        }
    }
    close(go[0]);
    close(go[1]); /* both go */
    int reads = 0, torn = 0, running = 2, status[2] = {-1, -1};
    std::string seen;
    while (running > 0) {
        const std::string now = ReadTestFile(path);
        reads++;
        if (now != a && now != b) {
            torn++;
            if (seen.empty()) seen = std::to_string(now.size()) + " bytes";
        }
        for (int w = 0; w < 2; w++)
            if (status[w] == -1 && waitpid(writers[w], &status[w], WNOHANG) == writers[w]) running--;
    }
    for (int w = 0; w < 2; w++) {
        EXPECT_TRUE(WIFEXITED(status[w]));
        EXPECT_EQ(0, WEXITSTATUS(status[w])) << "saves failed by writer " << w;
    }
    EXPECT_EQ(0, torn) << "of " << reads << " reads, first " << seen;
    EXPECT_GT(reads, 100);
    EXPECT_EQ("shared.txt;", ListTestFolder(folder));
    PlatDeleteFile(path.c_str());
    PlatRemoveFolder(folder.c_str());
}
#endif

#ifndef _WIN32
/* A save through a symbolic link replaces the file the link names and the
** link stays a link; the new file keeps the old one's mode (one the umask
** would cut) and owner, also copied across file systems; a read-only file
** is kept, and its save reported as any failed write is.  Across file
** systems the copy leaves another writer's temporary file beside the target
** alone. */
TEST_F(FileHelpersTest, SavesFollowLinksKeepModesAndKeepReadOnlyFiles)
{
    auto native = [](const std::string &path) {
        char out[1024];
        PlatNativePath(path.c_str(), out, sizeof out);
        return std::string(out);
    };
    ASSERT_EQ(PlatCreateFolder(tmp.File("sub").c_str()), 1);
    /* A target on another file system than the link's folder, where the
    ** system has one (/dev/shm is memory). */
    struct stat here, shm;
    const bool otherFileSystem = stat(native(tmp.path).c_str(), &here) == 0 && stat("/dev/shm", &shm) == 0 &&
        here.st_dev != shm.st_dev;
    const std::string away = "/dev/shm/kvtest_link_" + std::to_string(getpid());
    const struct {
        const char *saved;  /* the path saved, under tmp */
        std::string target; /* the file it names (native) */
        std::string links;  /* "link=target;...", made first (targets as written in the links) */
        mode_t mode;        /* the target's mode before and after */
        bool replaced;
    } cases[] = {
        {"data.kvd", native(tmp.File("real.kvd")), "data.kvd=real.kvd", 0600, true},
        {"chain.csv", native(tmp.File("sub\\real.csv")), "chain.csv=sub/next.csv;sub/next.csv=real.csv", 0640, true},
        {"results.kvr", native(tmp.File("results.kvr")), "", 0600, true},
        {"scan.csv", native(tmp.File("scan.csv")), "", 0444, false},
        {"ro.kvd", native(tmp.File("sub\\ro.kvd")), "ro.kvd=sub/ro.kvd", 0444, false},
        {"far.kvd", away, "far.kvd=" + away, 0664, true},
    };
    /* Another user's files where the test may give them away (as root). */
    const bool giveAway = geteuid() == 0;
    const uid_t owner = giveAway ? 4321 : geteuid();
    const mode_t umaskWas = umask(022);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.saved);
        if (std::string(c.saved) == "far.kvd" && !otherFileSystem) continue;
        ASSERT_TRUE(WriteTestFile(c.target, "old"));
        ASSERT_EQ(0, chmod(c.target.c_str(), c.mode));
        if (giveAway) {
            ASSERT_EQ(0, chown(c.target.c_str(), owner, owner));
        }
        const std::string theirs = c.target + ".~kv"; /* across file systems */
        if (c.target == away) {
            ASSERT_TRUE(WriteTestFile(theirs, "another writer's"));
        }
        for (std::string links = c.links; !links.empty();) {
            const size_t semicolon = links.find(';');
            const std::string pair = links.substr(0, semicolon);
            links = semicolon == std::string::npos ? "" : links.substr(semicolon + 1);
            const size_t equals = pair.find('=');
            ASSERT_EQ(0, symlink(pair.substr(equals + 1).c_str(), native(tmp.path + "/" + pair.substr(0, equals)).c_str()));
        }
        const std::string saved = tmp.File(c.saved);
        const std::vector<std::string> before = List(tmp.path);
        ResetHeadlessShell();
        gRun.resultCode = RESULT_OK;
        EXPECT_EQ(c.replaced ? 1 : 0, SaveFile(saved.c_str(), "new", 3));
        EXPECT_EQ(c.replaced ? "new" : "old", ReadTestFile(c.target));
        EXPECT_EQ(c.links.empty() ? 0 : 1, PlatIsLink(saved.c_str()));
        struct stat st;
        ASSERT_EQ(0, stat(c.target.c_str(), &st));
        EXPECT_EQ(c.mode, st.st_mode & 07777);
        EXPECT_EQ(owner, st.st_uid);
        EXPECT_EQ(before, List(tmp.path)); /* no temporary file left */
        if (c.target == away) {
            EXPECT_EQ("another writer's", ReadTestFile(theirs));
            ASSERT_TRUE(PlatDeleteFile(theirs.c_str()));
            /* nor a copy beside the target */
            for (const std::string &entry : List("/dev/shm")) EXPECT_NE(0u, entry.rfind(away.substr(9) + ".", 0)) << entry;
        }
        EXPECT_EQ(c.replaced ? 0 : 1, gHeadless.messageCount);
        if (!c.replaced) {
            EXPECT_EQ(0u, std::string(LastMessage()).rfind("Unable to create " + saved + "\r\n\r\n", 0)) << LastMessage();
            EXPECT_EQ(RESULT_FILE_ERROR, gRun.resultCode.load());
        }
    }
    umask(umaskWas);
    unlink(away.c_str());
}

/* A copy across file systems that fails part-way (as on a full disk)
** removes its own copy beside the target, which stays as it was. */
TEST_F(FileHelpersTest, AFailedCopyAcrossFileSystemsLeavesNothing)
{
    char here[1024];
    PlatNativePath(tmp.path.c_str(), here, sizeof here);
    struct stat folder, shm;
    if (stat(here, &folder) != 0 || stat("/dev/shm", &shm) != 0 || folder.st_dev == shm.st_dev)
        GTEST_SKIP() << "no second file system";
    const std::string name = "kvtest_far_" + std::to_string(getpid()), away = "/dev/shm/" + name;
    const std::string link = tmp.File("far.kvd");
    ASSERT_TRUE(WriteTestFile(away, "old"));
    char linkNative[1024];
    PlatNativePath(link.c_str(), linkNative, sizeof linkNative);
    ASSERT_EQ(0, symlink(away.c_str(), linkNative));
    PlatPlanFault(PLAT_FAULT_WRITE, 1, 1); /* the save's own write goes through, the copy's fails */
    EXPECT_EQ(0, SaveFile(link.c_str(), "new", 3));
    EXPECT_EQ(1, PlatFaultsMade(PLAT_FAULT_WRITE));
    EXPECT_EQ("old", ReadTestFile(away));
    for (const std::string &entry : List("/dev/shm")) EXPECT_NE(0u, entry.rfind(name + ".", 0)) << entry;
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"far.kvd"});
    EXPECT_EQ(0u, std::string(LastMessage()).rfind("Unable to create " + link + "\r\n\r\n", 0)) << LastMessage();
    unlink(away.c_str());
}
#endif

TEST_F(FileHelpersTest, NumberedBackupsKeepTheNewestFirst)
{
    CopyString(gMessageState.backupRoot, 260, (tmp.path + "\\").c_str(), -1);
    std::string path = tmp.File("settings.ini");
    gSettings.MaxBackups = 3;
    for (int i = 1; i <= 4; i++) {
        ASSERT_TRUE(WriteTestFile(path, "v" + std::to_string(i)));
        EXPECT_EQ(BackupFile(path.c_str()), 1);
    }
    std::string backups = tmp.File("Backups");
    EXPECT_EQ(List(backups), (std::vector<std::string>{"settings(1).ini", "settings(2).ini", "settings(3).ini"}));
    EXPECT_EQ(ReadTestFile(backups + "\\settings(1).ini"), "v4");
    EXPECT_EQ(ReadTestFile(backups + "\\settings(3).ini"), "v2");

    /* With one backup the copy is name.ext and the previous one becomes name(1).ext. */
    gSettings.MaxBackups = 1;
    std::string script = tmp.File("demo.kvs");
    ASSERT_TRUE(WriteTestFile(script, "a"));
    EXPECT_EQ(BackupFile(script.c_str()), 1);
    ASSERT_TRUE(WriteTestFile(script, "b"));
    EXPECT_EQ(BackupFile(script.c_str()), 1);
    EXPECT_EQ(ReadTestFile(backups + "\\demo.kvs"), "b");
    EXPECT_EQ(ReadTestFile(backups + "\\demo(1).kvs"), "a");
    EXPECT_EQ(gHeadless.messageCount, 0);
}

TEST_F(FileHelpersTest, BackupNameComesFromTheFileNameAlone)
{
    gSettings.MaxBackups = 2;
    std::string folder = tmp.File("my.scripts");
    ASSERT_EQ(PlatCreateFolder(folder.c_str()), 1);
    std::string path = folder + "\\notes";
    ASSERT_TRUE(WriteTestFile(path, "n"));
    EXPECT_EQ(BackupFile(path.c_str()), 1);
    EXPECT_EQ(List(tmp.File("Backups")), std::vector<std::string>{"notes(1)"});

    std::string dotted = folder + "\\a.b.txt";
    ASSERT_TRUE(WriteTestFile(dotted, "d"));
    EXPECT_EQ(BackupFile(dotted.c_str()), 1);
    EXPECT_EQ(ReadTestFile(tmp.File("Backups\\a.b(1).txt")), "d");

    /* A path written with '/' (as C:/k/kestovar.ini, or any native path) ends its folders there too. */
    std::string slashed = tmp.path + "/my.scripts/kestovar.ini";
    ASSERT_TRUE(WriteTestFile(slashed, "s"));
    EXPECT_EQ(BackupFile(slashed.c_str()), 1);
    EXPECT_EQ(ReadTestFile(tmp.File("Backups\\kestovar(1).ini")), "s");
}

TEST_F(FileHelpersTest, BackupsAreSkippedOrRefused)
{
    std::string path = tmp.File("settings.ini");
    ASSERT_TRUE(WriteTestFile(path, "x"));

    gSettings.MaxBackups = 0;
    EXPECT_EQ(BackupFile(path.c_str()), 0);
    gSettings.MaxBackups = 3;
    gRun.unattended = 1;
    EXPECT_EQ(BackupFile(path.c_str()), 0);
    gRun.unattended = 0;
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"settings.ini"});
    EXPECT_EQ(gHeadless.messageCount, 0);

    std::string missingRoot = tmp.File("gone");
    CopyString(gMessageState.backupRoot, 260, missingRoot.c_str(), -1);
    EXPECT_EQ(BackupFile(path.c_str()), 0);
    EXPECT_EQ(std::string(LastMessage()), "Unable to create folder " + missingRoot + "\\Backups");
    EXPECT_EQ(gRun.resultCode, RESULT_FILE_ERROR);

    /* Backup names that would not fit are refused before anything is made. */
    std::string deepRoot = LongPath(tmp.path, 240);
    CopyString(gMessageState.backupRoot, 260, deepRoot.c_str(), -1);
    EXPECT_EQ(BackupFile(path.c_str()), 0);
    EXPECT_STREQ(LastMessage(), "Backup file path is too long -- maximum is 260 chars.");
    EXPECT_EQ(List(tmp.path), std::vector<std::string>{"settings.ini"});
}

TEST_F(FileHelpersTest, CsvTextDropsQuotesAndQuotedSeparators)
{
    /* clang-format off */
    static const struct { const char *bytes; char separator; const char *text; int lines; } kCases[] = {
        {"a,\"b,c\",d", 0, "a,bc,d\r\n", 1},
        {"x,\"1,234\"\n\"y\",2\n", ',', "x,1234\ny,2\n\r\n", 3},
        {"p;\"q;r\";\"1,5\"\r\n", ';', "p;qr;1,5\r\n\r\n", 2},
        {"", 0, "\r\n", 1},
        /* a CR alone ends a line as well, with quotes or without */
        {"a\rb\r\nc\r", 0, "a\rb\r\nc\r\r\n", 4},
        {"\"a\"\r\"b\"\r", 0, "a\rb\r\r\n", 3},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        std::string path = tmp.File("list.csv");
        ASSERT_TRUE(WriteTestFile(path, c.bytes));
        char *text = nullptr;
        EXPECT_EQ(LoadCsvText(path.c_str(), &text, c.separator), c.lines) << c.bytes;
        EXPECT_STREQ(text, c.text);
        FreeMemory(&text);
    }
    char *text = nullptr;
    EXPECT_EQ(LoadCsvText(tmp.File("none.csv").c_str(), &text, 0), 0);
    EXPECT_EQ(text, nullptr);
}

/* The quote rule hides what a reader may have to name: per column the first
** quoted field that lost a separator not followed by exactly three digits,
** as written, and the line of a quote that is never closed. */
TEST_F(FileHelpersTest, CsvTextMarksWhatTheQuoteRuleHid)
{
    std::string path = tmp.File("marks.csv");
    ASSERT_TRUE(WriteTestFile(path, "d,\"Acme, Inc.\",\"1,234\",\"10,5\"\n\"2,5\",x\rw,\"open\na,b"));
    char *text = nullptr;
    CsvQuoteMarks marks;
    memset(&marks, 0x55, sizeof marks);
    EXPECT_EQ(LoadCsvText(path.c_str(), &text, ',', nullptr, &marks), 4);
    EXPECT_STREQ(text, "d,Acme Inc.,1234,105\n25,x\rw,open\nab\r\n");
    FreeMemory(&text);
    EXPECT_EQ(marks.openQuoteLine, 3);
    const struct {
        int column, line;
        const char *text;
    } kMarked[] = {{0, 2, "2,5"}, {1, 1, "Acme, Inc."}, {3, 1, "10,5"}};
    for (const auto &m : kMarked) {
        EXPECT_EQ(marks.oddSeparators[m.column].line, m.line) << m.column;
        EXPECT_STREQ(marks.oddSeparators[m.column].text, m.text) << m.column;
    }
    for (int c : {2, 4, 15}) EXPECT_EQ(marks.oddSeparators[c].line, 0) << c;

    ASSERT_TRUE(WriteTestFile(path, "\"a\",\"1,5\"\n"));
    ASSERT_EQ(LoadCsvText(path.c_str(), &text, ';', nullptr, &marks), 2);
    FreeMemory(&text);
    EXPECT_EQ(marks.openQuoteLine, 0);
    EXPECT_EQ(marks.oddSeparators[1].line, 0) << "a comma is no separator here";
}

TEST_F(FileHelpersTest, FileDateIsTheLocalDateOfTheLastWrite)
{
    std::string path = tmp.File("dated.txt");
    ASSERT_TRUE(WriteTestFile(path, "x"));
    PlatDateTime written;
    int date = GetFileDate(path.c_str(), &written);
    EXPECT_EQ(date, (written.year * 100 + written.month) * 100 + written.day);
    EXPECT_GT(date, 20200101);
    EXPECT_EQ(GetFileDate(tmp.File("missing").c_str(), nullptr), 0);
    EXPECT_EQ(gHeadless.messageCount, 0);
}

/* Two paths name one file as the system tells files apart: separators are one
** in both builds; in the Windows build every letter its file system folds
** (of two, three and four bytes in UTF-8) is one letter whatever its case,
** and a last name's trailing dots and blanks are no part of it, so an
** include read under one spelling is not read again under another. */
TEST(ComparePathsTest, PathsCompareAsTheSystemNamesFiles)
{
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    /* clang-format off */
    static const struct { const char *a, *b; bool sameEverywhere, sameOnWindows; } kCases[] = {
        {"C:\\s\\lib.kvs", "C:/s/lib.kvs", true, true},
        {"C:\\s\\lib.kvs", "c:\\S\\LIB.KVS", false, true},
        {"lib\xC3\xA9.kvs", "LIB\xC3\x89.kvs", false, true},                /* é É */
        {"\xD0\xB6\xD1\x83\xD0\xBA", "\xD0\x96\xD0\xA3\xD0\x9A", false, true}, /* жук ЖУК */
        {"\xE1\xBA\xA1.csv", "\xE1\xBA\xA0.csv", false, true},              /* ạ Ạ */
        {"wf.kvs.", "wf.kvs", false, true},
        {"wf.kvs . ", "WF.kvs", false, true},
        {"w\xC3\xA9\\..", "w\xC3\xA9\\.", false, false},                    /* folder steps stay */
        {"lib\xC3\xA9.kvs", "lib\xC3\xA8.kvs", false, false},              /* é è */
        {"\xF0\x9F\x93\x88.kvs", "\xF0\x9F\x93\x89.kvs", false, false},    /* two pictures */
        {"a.kvs", "a.kvs2", false, false},
    };
    /* clang-format on */
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::string(c.a) + " | " + c.b);
        const bool same = c.sameEverywhere || (windows && c.sameOnWindows);
        EXPECT_EQ(same, ComparePaths(c.a, c.b) == 0);
        EXPECT_EQ(same, ComparePaths(c.b, c.a) == 0);
        if (!same) EXPECT_EQ(ComparePaths(c.a, c.b) < 0, ComparePaths(c.b, c.a) > 0);
    }
}
