/* native_program_test.cpp -- the native program run as a user runs it: what
** it says on standard output and standard error, the command lines it
** refuses, where it finds a script, signals in the middle of a batch, a
** scheduler's night (closed or piped output, two runs on one results file,
** logs that cannot be written). */
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "engine/results_file.h"
#include "support/program_state.h"

extern char **environ;

namespace {

struct NativeProgramTest : ProgramStateTest {
    std::string dir; /* the program's own folder: settings and error log land there */
    /* Shell commands run before the program starts in their place (a trap, a
    ** ulimit), so it starts as a scheduler's script would start it. */
    std::string startShell;

    void SetUp() override
    {
        ProgramStateTest::SetUp();
        dir = Native(tmp.path);
        ASSERT_EQ(system(("cp '" + std::string(KV_NATIVE_PROGRAM) + "' '" + dir + "/kestovar'").c_str()), 0);
        mkdir((dir + "/prices").c_str(), 0755);
        mkdir((dir + "/csi").c_str(), 0755);
        Put("prices/GOOD.csv", "Date,Open,High,Low,Close,Volume\n2024-01-02,1,2,0.5,1.5,10\n2024-01-03,2,3,1,2.5,20\n");
        Put("csi/ZZZ.csv", "Date,Close\n2024-01-02,5\n");
        Put("imp.kvs", "Import:\n  DataSource: CSV\n  DataPath: " + dir + "/prices\n  DataSource: CSIStocks\n"
                       "  DataPath: " + dir + "/csi\n  StartDate: 20240101\n  EndDate: 20241231\n  SaveAs: " +
                           dir + "/data.kvd\n");
    }
    static std::string Native(const std::string &path)
    {
        std::string p = path;
        for (char &c : p)
            if (c == '\\') c = '/';
        return p;
    }
    void Put(const std::string &name, const std::string &text) { ASSERT_TRUE(WriteTestFile(dir + "/" + name, text)); }
    std::string Get(const std::string &name) { return ReadTestFile(dir + "/" + name); }

    /* A running program with its output and error pipes.  However a test
    ** ends, the program does not outlive it: one not yet reaped is killed. */
    struct Child {
        pid_t pid = -1;
        int out = -1, err = -1;
        ~Child()
        {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
            if (out >= 0) close(out);
            if (err >= 0) close(err);
        }
    };
    /* Every wait of a test ends by this time, so a program that blocks fails
    ** the test instead of hanging it. */
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);

    /* Starts the program on the import script with its output and errors in
    ** pipes. */
    void Start(Child *child) { Start(child, {"-import", dir + "/imp.kvs"}); }
    /* Starts the program with these arguments, in the folder cwd when one is
    ** given. */
    void Start(Child *child, const std::vector<std::string> &args, const std::string &cwd = "")
    {
        StartWith(child, args, cwd, "", false);
    }
    /* The same with KV_HOLD_AT set to hold ("point fifo") when given, and
    ** with standard output closed when asked. */
    void StartWith(Child *child, const std::vector<std::string> &args, const std::string &cwd, const std::string &hold,
                   bool closeOutput)
    {
        /* Not inherited: a program started later must not hold another's pipes. */
        int o[2], e[2];
        ASSERT_EQ(pipe2(o, O_CLOEXEC), 0);
        ASSERT_EQ(pipe2(e, O_CLOEXEC), 0);
        child->out = o[0];
        child->err = e[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (closeOutput)
            posix_spawn_file_actions_addclose(&actions, 1);
        else
            posix_spawn_file_actions_adddup2(&actions, o[1], 1);
        posix_spawn_file_actions_adddup2(&actions, e[1], 2);
        posix_spawn_file_actions_addclose(&actions, o[0]);
        posix_spawn_file_actions_addclose(&actions, o[1]);
        posix_spawn_file_actions_addclose(&actions, e[0]);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::string program = dir + "/kestovar";
        std::string shell = "/bin/sh", flag = "-c", script = startShell + "; exec \"$0\" \"$@\"";
        std::vector<char *> argv = {(char *)program.c_str()};
        if (!startShell.empty()) argv = {shell.data(), flag.data(), script.data(), (char *)program.c_str()};
        for (const std::string &a : args) argv.push_back((char *)a.c_str());
        argv.push_back(nullptr);
        std::vector<std::string> env;
        for (char **v = environ; *v; v++)
            if (strncmp(*v, "KV_HOLD_AT=", 11) != 0) env.push_back(*v);
        if (!hold.empty()) env.push_back("KV_HOLD_AT=" + hold);
        std::vector<char *> envp;
        for (std::string &v : env) envp.push_back(v.data());
        envp.push_back(nullptr);
        /* The stop signals as a terminal's job has them, even when these tests
        ** run where they are ignored (nohup, a background job). */
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t stops;
        sigemptyset(&stops);
        for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, stop);
        posix_spawnattr_setsigdefault(&attributes, &stops);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        EXPECT_EQ(posix_spawn(&child->pid, argv[0], &actions, &attributes, argv.data(), envp.data()), 0);
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
        close(o[1]);
        close(e[1]);
    }
    /* Waits until the program holds at the FIFO (it has opened it to read);
    ** the FIFO's write end, which lets the program go on when closed, or -1
    ** when the deadline passes first. */
    int Reach(const std::string &fifo) const
    {
        while (MillisecondsLeft()) {
            int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) return fd;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
    std::string MakeFifo(const std::string &name)
    {
        std::string path = dir + "/" + name;
        EXPECT_EQ(mkfifo(path.c_str(), 0644), 0);
        return path;
    }
    /* Runs the program with args until it holds at the hold point named,
    ** stops it there with SIGTERM and lets it end: its exit code (-1 when it
    ** never held or never said it was stopping), with what it wrote. */
    int StopAtHold(const std::vector<std::string> &args, const std::string &point, std::string *out, std::string *err)
    {
        const std::string fifo = MakeFifo(point + ".hold");
        Child child;
        StartWith(&child, args, "", point + " " + fifo, false);
        int hold = Reach(fifo);
        if (hold < 0) return -1;
        kill(child.pid, SIGTERM);
        close(hold); /* the stop is taken before the program goes on */
        if (!ReadUntil(child.err, err, "Stopping...")) return -1;
        ReadUntil(child.out, out, "\x01");
        return ExitCode(&child);
    }
    /* Runs the program to its end: its exit code, with what it wrote. */
    int Run(const std::vector<std::string> &args, std::string *out, std::string *err, const std::string &cwd = "")
    {
        Child child;
        Start(&child, args, cwd);
        return Finish(&child, out, err);
    }
    /* Reads what a started program writes until it ends: its exit code. */
    int Finish(Child *child, std::string *out, std::string *err)
    {
        ReadUntil(child->out, out, "\x01");
        ReadUntil(child->err, err, "\x01");
        return ExitCode(child);
    }
    /* A folder's entries by name, in order. */
    static std::vector<std::string> FolderNames(const std::string &pattern)
    {
        std::vector<std::string> names;
        PlatListFolder(pattern.c_str(), [](const char *name, int, void *user) {
            ((std::vector<std::string> *)user)->push_back(name);
            return 1;
        }, &names);
        std::sort(names.begin(), names.end());
        return names;
    }
    /* Waits until the program holds at the FIFO, or ends first: the FIFO's
    ** write end, or -1 when it ended (*ended then holds its exit code, the
    ** program reaped) or the deadline passed. */
    int ReachUnlessEnded(const std::string &fifo, Child *child, int *ended)
    {
        *ended = -1;
        while (MillisecondsLeft()) {
            int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) return fd;
            int status = 0;
            if (waitpid(child->pid, &status, WNOHANG) == child->pid) {
                child->pid = -1;
                *ended = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return -1;
    }
    /* A test script of one strategy saving to the results file. */
    std::string TestScript(const std::string &results, const std::string &strategy = "S") const
    {
        return "Settings:\n  DataFile: " + dir + "/data.kvd\n  ResultsFile: " + results + "\nStrategy: " + strategy +
            "\n  EntrySetup: 1\n  ExitRule: 1\n";
    }
    /* The results file's tests as "number:script name" lines. */
    std::string StoredTests(const std::string &results)
    {
        std::string out;
        if (!LoadResultsFile(results.c_str(), 0)) return "unreadable";
        ResultsWindow *window = FindResultsWindowByPath(results.c_str());
        for (const TestRecord *t = window ? window->firstTest : nullptr; t; t = t->next) {
            std::string script = Native(t->settings.ActiveScript);
            script = script.substr(script.rfind('/') + 1);
            out += std::to_string(t->testNumber) + ":" + script + "\n";
        }
        if (window) CloseResultsWindow(window);
        return out;
    }
    int MillisecondsLeft() const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return left.count() > 0 ? (int)left.count() : 0;
    }
    /* Reads from fd into text until it holds what; false when the pipe ends
    ** or the deadline passes first. */
    bool ReadUntil(int fd, std::string *text, const char *what) const
    {
        char buffer[4096];
        while (text->find(what) == std::string::npos) {
            pollfd ready = {fd, POLLIN, 0};
            if (poll(&ready, 1, MillisecondsLeft()) <= 0) return false;
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) return false;
            text->append(buffer, (size_t)n);
        }
        return true;
    }
    /* Waits for the program to end, calling nudge between looks; its exit
    ** code, or -1 when it did not exit normally or in time. */
    int ExitCode(Child *child, const std::function<void()> &nudge = nullptr)
    {
        int status = 0;
        if (child->pid <= 0) return -1;
        while (waitpid(child->pid, &status, WNOHANG) == 0) {
            if (!MillisecondsLeft()) {
                ADD_FAILURE() << "the program did not end in time";
                return -1;
            }
            if (nudge) nudge();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        child->pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

/* Notices and refused input go to standard error, with paths as the system
** writes them, the closing counts to standard output; something imported is
** a success. */
TEST_F(NativeProgramTest, ImportReportsOnTheConsole)
{
    Put("prices/BAD.csv", "Date,Open,High,Low,Close\n2024-01-02,1,1,1,1\n2024-01-03,x,1,1,1\n");
    Put("prices/EMPTY.csv", "");
    Child child;
    Start(&child);
    std::string said, errors;
    EXPECT_EQ(Finish(&child, &said, &errors), 0) << said << errors;
    const char *expected[] = {
        "/csi has no symbol information file\n",
        "prices/BAD.csv: 1 line not read as bars: line 3 (a number field holds text)\n",
        "prices/EMPTY.csv was not imported: the file is empty\n",
    };
    for (const char *e : expected) EXPECT_NE(errors.find(e), std::string::npos) << e << "\n" << errors;
    /* Each step once: the status a step puts back when it ends is no news. */
    EXPECT_EQ("Importing CSV Data From " + dir + "/prices\nImporting CSIStocks Data From " + dir + "/csi\nCreating " +
                  dir + "/data.kvd...\nSymbols kept: 3, passed over: 0, refused: 1; lines not read as bars: 1\n",
              said);
}

/* Ctrl+C, SIGTERM from a scheduler, or SIGHUP of a closed session, during
** an import stops it as the window program's stop does: exit code 8, the
** previous data file as it was, no temporary file, and no later run of the
** batch.  A closed session hangs up its foreground job twice (the shell,
** then the system), and timeout sends its signal, SIGTERM or SIGINT, to the
** program and to its process group: the second is the same stop.  A second
** Ctrl+C after a moment ends the program at once. */
TEST_F(NativeProgramTest, CtrlCStopsAnImportCleanly)
{
#if defined(__SANITIZE_THREAD__)
    /* The thread sanitizer hands a signal to the program's handler only when
    ** the program next leaves a call it watches, and one held at the FIFO
    ** below never does; the other builds run this test. */
    GTEST_SKIP() << "a program under the thread sanitizer takes a signal only when it moves on";
#endif
    {
        Child first;
        Start(&first);
        ASSERT_EQ(ExitCode(&first), 0);
    }
    std::string before = Get("data.kvd");
    ASSERT_FALSE(before.empty());
    Put("later.kvs", "Import:\n  DataSource: CSV\n  DataPath: " + dir + "/prices\n  SaveAs: " + dir + "/later.kvd\n");
    /* The import cannot end before the test lets it: a FIFO among the files
    ** holds it at that file until something writes to it. */
    std::string fifo = dir + "/prices/HOLD.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
        Child child;
        Start(&child, {"-import", dir + "/imp.kvs", dir + "/later.kvs"});
        std::string said, errors;
        ASSERT_TRUE(ReadUntil(child.out, &said, "Importing CSV Data From")) << said;
        kill(child.pid, signal);
        ASSERT_TRUE(ReadUntil(child.err, &errors, "Stopping...")) << errors;
        kill(child.pid, signal);
        const int code = ExitCode(&child, [&] {
            int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
        });
        ReadUntil(child.out, &said, "\x01");
        EXPECT_NE(said.find("; no data file was written\n"), std::string::npos) << said;
        EXPECT_EQ(code, 8);
        EXPECT_TRUE(Get("data.kvd") == before);
        EXPECT_FALSE(PlatFileExists((dir + "/data.kvd.~kv").c_str()));
        EXPECT_FALSE(PlatFileExists((dir + "/later.kvd").c_str()));
    }
    /* Held before its batch, so that it still runs a moment later. */
    std::string held = MakeFifo("held");
    Child child;
    StartWith(&child, {"-import", dir + "/imp.kvs"}, "", "batch " + held, false);
    const int holding = Reach(held);
    ASSERT_GE(holding, 0);
    std::string errors;
    kill(child.pid, SIGINT);
    ASSERT_TRUE(ReadUntil(child.err, &errors, "Stopping...")) << errors;
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    kill(child.pid, SIGINT);
    int status = 0;
    while (waitpid(child.pid, &status, WNOHANG) == 0) {
        ASSERT_TRUE(MillisecondsLeft()) << "a later Ctrl+C did not end the program";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    child.pid = -1;
    close(holding);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_TRUE(Get("data.kvd") == before);
}

/* A stop signal the program was started with ignored (nohup's SIGHUP, the
** SIGINT of a shell's background job) is no stop: the import ends as it
** would have, its data file written. */
TEST_F(NativeProgramTest, ASignalTheProgramWasStartedToIgnoreIsNoStop)
{
    std::string fifo = dir + "/prices/HOLD.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    const struct {
        int signal;
        const char *trap;
    } cases[] = {{SIGHUP, "trap '' HUP"}, {SIGINT, "trap '' INT"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.trap);
        PlatDeleteFile((dir + "/data.kvd").c_str());
        startShell = c.trap;
        Child child;
        Start(&child);
        std::string said, errors;
        ASSERT_TRUE(ReadUntil(child.out, &said, "Importing CSV Data From")) << said;
        kill(child.pid, c.signal);
        const int code = ExitCode(&child, [&] {
            int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
        });
        ReadUntil(child.err, &errors, "\x01");
        EXPECT_EQ(0, code) << errors;
        EXPECT_EQ(errors.find("Stopping..."), std::string::npos) << errors;
        EXPECT_TRUE(PlatFileExists((dir + "/data.kvd").c_str()));
    }
}

/* A file-size limit (ulimit -f) reached while the data file is written is a
** write that failed, as on a full disk: reported, the import's exit code,
** the previous data file as it was and no temporary file left. */
TEST_F(NativeProgramTest, AFileSizeLimitIsAWriteThatFailed)
{
    {
        Child first;
        Start(&first);
        ASSERT_EQ(ExitCode(&first), 0);
    }
    const std::string before = Get("data.kvd");
    ASSERT_GT(before.size(), 1024u);
    startShell = "ulimit -f 1";
    std::string said, errors;
    EXPECT_EQ(6, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    EXPECT_NE(errors.find("bytes to " + dir + "/data.kvd"), std::string::npos) << errors;
    EXPECT_NE(errors.find("File too large"), std::string::npos) << errors;
    EXPECT_TRUE(Get("data.kvd") == before);
    EXPECT_FALSE(PlatFileExists((dir + "/data.kvd.~kv").c_str()));
}

/* A line that would run nothing, or names a switch the program does not
** know, gets the usage text on standard error and exit code 1. */
TEST_F(NativeProgramTest, ALineThatRunsNothingGetsTheUsage)
{
    const std::vector<std::vector<std::string>> lines = {{},         {"-scan"},  {"-scan", ""},
                                                         {"-noexit"}, {"-bogus"}, {"-apply", "a.kvs", "-inifile"}};
    for (const auto &args : lines) {
        std::string said, errors;
        const int code = Run(args, &said, &errors);
        SCOPED_TRACE(args.empty() ? "(none)" : args[0]);
        EXPECT_EQ(1, code);
        EXPECT_NE(errors.find("usage: kestovar [-inifile settings.ini] [-import]"), std::string::npos) << errors;
        EXPECT_NE(errors.find(" [-noexit]\n"), std::string::npos) << errors;
        EXPECT_EQ(errors.find("Unable to access"), std::string::npos) << errors;
    }
}

/* A relative script path that names a file from the current folder is that
** file, whichever separator it is written with; any other is looked for in
** the scripts folder. */
TEST_F(NativeProgramTest, ARelativeScriptPathIsFirstLookedForFromTheCurrentFolder)
{
    mkdir((dir + "/sub").c_str(), 0755);
    mkdir((dir + "/Scripts").c_str(), 0755);
    Put("sub/a.kvs", "Strategy: S\n  EntrySetup: 0\n");
    Put("Scripts/a.kvs", "Setings:\n"); /* fails to compile: 5 tells it was this one */
    mkdir((dir + "/Scripts/sub").c_str(), 0755);
    Put("Scripts/sub/a.kvs", "Setings:\n");
    const struct {
        const char *cwd, *script;
        int code;
    } cases[] = {
        {"", "sub/a.kvs", 0},
        {"/sub", "a.kvs", 0},
        {"/sub", "./a.kvs", 0},
        /* Written with the program's own separator, as the Windows program takes it. */
        {"", "sub\\a.kvs", 0},
        {"/sub", ".\\a.kvs", 0},
        {"", "a.kvs", 5},
        {"", "none.kvs", 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.cwd) + " " + c.script);
        std::string said, errors;
        EXPECT_EQ(c.code, Run({"-apply", c.script}, &said, &errors, dir + c.cwd)) << errors;
    }
}

/* A path is taken as it was given: never cut to another file's name (a
** 256-character path beside a 255-character one), refused when longer than
** the program holds, blanks and quotes are the name's, and a relative one is
** named as the user meant it. */
TEST_F(NativeProgramTest, ScriptPathsAreTakenAsGiven)
{
    mkdir((dir + "/long").c_str(), 0755);
    mkdir((dir + "/afolder.kvs").c_str(), 0755);
    const std::string stem = dir + "/long/" + std::string(255 - (dir.size() + 6) - 4, 'n');
    const std::string path255 = stem + ".kvs", path256 = stem + ".kvs2";
    ASSERT_EQ(255u, path255.size());
    ASSERT_TRUE(WriteTestFile(path255, "Setings:\n")); /* fails to compile: 5 tells it was this one */
    ASSERT_TRUE(WriteTestFile(path256, "Strategy: S\n  EntrySetup: 0\n"));
    Put("x y\"z.kvs", "Strategy: S\n  EntrySetup: 0\n");
    const struct {
        std::string script;
        int code;
        std::string error;
    } cases[] = {
        {path255, 5, ""},
        {path256, 0, ""},
        {"long/" + path256.substr(dir.size() + 6), 0, ""}, /* made whole from the current folder */
        {path256 + "xyzw", 3, "File path starting with '" + path256 + "xyzw' is too long -- maximum is 260 chars"},
        {"x y\"z.kvs", 0, ""},
        {"./afolder.kvs", 3, "Unable to access " + dir + "/afolder.kvs\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.script);
        std::string said, errors;
        EXPECT_EQ(c.code, Run({"-apply", c.script}, &said, &errors, dir)) << errors;
        EXPECT_NE(errors.find(c.error), std::string::npos) << errors;
    }
}

/* A relative settings file is found from the current folder first, as a
** script is, even when the program folder holds one of that name too. */
TEST_F(NativeProgramTest, ARelativeSettingsFileIsFoundFromTheCurrentFolder)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    mkdir((dir + "/sub").c_str(), 0755);
    Put("sub/my.ini", "[Options]\nDataFile=" + dir + "/data.kvd\n");
    Put("my.ini", "[Options]\nDataFile=" + dir + "/none.kvd\n"); /* beside the program: 7 tells it was this one */
    Put("sub/a.kvs", "Strategy: S\n  EntrySetup: 0\n");
    EXPECT_EQ(0, Run({"-inifile", "my.ini", "-apply", "a.kvs"}, &said, &errors, dir + "/sub")) << errors;
    EXPECT_EQ(7, Run({"-inifile", "my.ini", "-apply", "sub/a.kvs"}, &said, &errors, dir)) << errors;
}

/* The folder settings of a settings file saved in code page 1252 name the
** folders of their letters, as the Windows program reads them: the run's
** output lands in "Sortie \u00e9", never in a folder named by the lone byte. */
TEST_F(NativeProgramTest, ASettingsFileInCodePage1252NamesItsFoldersLetters)
{
    Put("kestovar.ini", "[Options]\r\nScriptPath=" + dir + "/Scripts \xE9\r\nDataPath=" + dir +
                            "/Data \xE9\r\nOutputPath=" + dir + "/Sortie \xE9\r\n");
    std::string said, errors;
    EXPECT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    for (const char *folder : {"Scripts \xC3\xA9", "Data \xC3\xA9", "Sortie \xC3\xA9/Logs", "Sortie \xC3\xA9/Reports"})
        EXPECT_TRUE(PlatFolderExists((dir + "/" + folder).c_str())) << folder;
    EXPECT_EQ(FolderNames(dir + "/*\xE9*").size(), 0u);
}

/* An output folder without room for "/Reports" in a path is named when the
** settings are read, with its limit in letters, and the run ends with 3;
** one letter fewer is taken and the run writes there. */
TEST_F(NativeProgramTest, AnOutputFolderWithoutRoomForItsSubfoldersEndsWithThree)
{
    for (const size_t letters : {251u, 252u, 259u}) {
        SCOPED_TRACE(letters);
        const std::string output = dir + "/" + std::string(letters - dir.size() - 1, 'o');
        Put("kestovar.ini", "[Options]\r\nScriptPath=" + dir + "\r\nDataPath=" + dir + "\r\nOutputPath=" + output +
                                "\r\n");
        std::string said, errors;
        const int code = Run({"-import", dir + "/imp.kvs"}, &said, &errors);
        const bool fits = letters == 251;
        EXPECT_EQ(fits ? 0 : 3, code) << errors;
        EXPECT_EQ(fits, errors.find("OutputPath folder is too long -- maximum is 251 letters") == std::string::npos)
            << errors;
        EXPECT_EQ(fits, PlatFolderExists((output + "/Reports").c_str()) != 0);
    }
}

/* A script eight Cyrillic folders deep (more bytes than the results file's
** field holds, fewer letters than a path) is named whole by the test it ran:
** in the results file and in its report. */
TEST_F(NativeProgramTest, AScriptNameLongerThanTheResultsFieldIsKeptWhole)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    std::string folder = dir;
    for (int k = 0; k < 8; k++) {
        folder += "/\xD0\xA2\xD0\xBE\xD1\x80\xD0\xB3\xD0\xBE\xD0\xB2\xD1\x8B\xD0\xB5 "
                  "\xD1\x81\xD0\xB8\xD1\x81\xD1\x82\xD0\xB5\xD0\xBC\xD1\x8B";
        ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
    }
    const std::string script = folder + "/\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.kvs";
    ASSERT_GT(script.size(), 260u);
    ASSERT_TRUE(WriteTestFile(script, TestScript(dir + "/w.kvr")));
    Put("kestovar.ini", "[Settings]\nAddReport=1\n");
    EXPECT_EQ(0, Run({"-test", script}, &said, &errors)) << errors;
    ASSERT_EQ(1, LoadResultsFile((dir + "/w.kvr").c_str(), 0)) << LastMessage();
    ResultsWindow *window = FindResultsWindowByPath((dir + "/w.kvr").c_str());
    ASSERT_TRUE(window && window->firstTest);
    EXPECT_EQ(script, Native(TestScriptName(window->firstTest)));
    EXPECT_EQ(dir + "/data.kvd", Native(TestDataFileName(window->firstTest)));
    CloseResultsWindow(window);
    const std::vector<std::string> reports = FolderNames(dir + "/Output/Reports/0001_*");
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(Get("Output/Reports/" + reports[0] + "/index.html").find("<tr><th>Script</th><th>" + script + "</th>"),
              std::string::npos);
}

/* In a pipe each step is a line, the steps of every run of the batch too. */
TEST_F(NativeProgramTest, EveryRunOfABatchTellsItsSteps)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("t.kvs", "Settings:\n  DataFile: " + dir + "/data.kvd\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n");
    said.clear();
    ASSERT_EQ(0, Run({"-test", "t.kvs", "t.kvs"}, &said, &errors, dir)) << errors;
    said = said.substr(0, said.find("\n\n") + 1); /* the steps, without the summary */
    EXPECT_EQ("Loading " + dir + "/data.kvd...\nRunning Single Test\nRunning Single Test\n", said);
}

/* Standard error repeats the run's own errors, not what other programs
** append to the shared error log meanwhile. */
TEST_F(NativeProgramTest, StandardErrorHoldsOnlyTheRunsOwnErrors)
{
    /* The import waits at the FIFO until the other entry is in the log. */
    std::string fifo = dir + "/prices/HOLD.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    Child child;
    Start(&child, {"-import", dir + "/imp.kvs", dir + "/nothere.kvs"});
    std::string said, errors;
    ASSERT_TRUE(ReadUntil(child.out, &said, "Importing CSV Data From")) << said;
    std::string log = Get("errorlog.txt") + "\n>>> 1/1/24 00:00:00 error in other.kvs <<<\nNot this run's error\n";
    Put("errorlog.txt", log);
    const int code = ExitCode(&child, [&] {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    });
    ReadUntil(child.err, &errors, "\x01");
    EXPECT_EQ(3, code);
    EXPECT_NE(errors.find(" error in " + dir + "/nothere.kvs <<<\nUnable to access " + dir + "/nothere.kvs\n"),
              std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("Not this run's error"), std::string::npos) << errors;
}

/* The build puts the exchange map beside the program, where an order run
** that names none finds it: a program folder as the build leaves it is
** enough for orders. */
TEST_F(NativeProgramTest, AnOrderRunFindsTheExchangeMapBesideTheProgram)
{
    std::string built = KV_NATIVE_PROGRAM;
    built = built.substr(0, built.rfind('/')) + "/ExchangeMap.csv";
    ASSERT_EQ(system(("cp '" + built + "' '" + dir + "/'").c_str()), 0);
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("orders.kvs", "Settings:\n  DataFile: " + dir + "/data.kvd\nStrategy: S\n  EntrySetup: C > 0\n  Quantity: 10\n"
                      "  QtyType: Shares\n");
    EXPECT_EQ(0, Run({"-orders", dir + "/orders.kvs"}, &said, &errors)) << errors;
}

/* An optimization whose second test calculates its data again says so
** between the test lines, each of which comes once. */
TEST_F(NativeProgramTest, EachTestOfAnOptimizationIsToldOnce)
{
    mkdir((dir + "/big").c_str(), 0755);
    /* Enough values that the calculation shows its progress. */
    std::string prices = "Date,Open,High,Low,Close,Volume\n";
    for (int day = 0; day < 12000; day++) {
        char line[80];
        snprintf(line, sizeof line, "%d-%02d-%02d,1,2,0.5,%d,10\n", 1990 + day / 336, day / 28 % 12 + 1, day % 28 + 1,
                 1 + day % 7);
        prices += line;
    }
    Put("big/BIG.csv", prices);
    Put("big.kvs", "Settings:\n  DataFile: " + dir + "/big.kvd\nImport:\n  DataSource: CSV\n  DataPath: " + dir +
                       "/big\n  SaveAs: " + dir + "/big.kvd\nParameters:\n  Len: 2, 3\nData:\n  Up: C > MA(C, Len)\n"
                       "Strategy: S\n  EntrySetup: Up\n  ExitRule: 1\n");
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/big.kvs"}, &said, &errors)) << errors;
    said.clear();
    ASSERT_EQ(0, Run({"-optimize", dir + "/big.kvs"}, &said, &errors)) << errors;
    said = said.substr(0, said.find("\n\n") + 1); /* the steps, without the summary */
    const char *steps[] = {"Loading ", "Calculating ", "Test 1 of 2\n", "Test 2 of 2\n", "Calculating "};
    size_t at = 0;
    for (const char *step : steps) {
        EXPECT_EQ(0, said.compare(at, strlen(step), step)) << step << "\n" << said;
        at = said.find('\n', at) + 1;
    }
    EXPECT_EQ(said.size(), at) << said;
}

/* A stop that comes before the batch starts runs none of it, and one that
** comes between two runs starts no later run: exit 8 either way, and no file
** of a run that did not start is touched. */
TEST_F(NativeProgramTest, AStopBeforeOrBetweenRunsStartsNoFurtherRun)
{
    Put("later.kvs", "Import:\n  DataSource: CSV\n  DataPath: " + dir + "/prices\n  SaveAs: " + dir + "/later.kvd\n");
    const struct {
        const char *point;
        bool firstRan;
    } cases[] = {{"batch", false}, {"next-run", true}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.point);
        PlatDeleteFile((dir + "/data.kvd").c_str());
        std::string fifo = MakeFifo(std::string(c.point) + ".hold");
        Child child;
        StartWith(&child, {"-import", dir + "/imp.kvs", dir + "/later.kvs"}, "", std::string(c.point) + " " + fifo,
                  false);
        int hold = Reach(fifo);
        ASSERT_GE(hold, 0);
        /* The hold is let go at once: the stop is taken before the program
        ** goes on (a sanitizer may hand the signal over only then). */
        kill(child.pid, SIGTERM);
        close(hold);
        std::string said, errors;
        ASSERT_TRUE(ReadUntil(child.err, &errors, "Stopping...")) << errors;
        EXPECT_EQ(8, ExitCode(&child));
        ReadUntil(child.out, &said, "\x01");
        /* Every run, even one stopped at once, ends with its closing counts. */
        size_t runs = 0;
        for (size_t at = said.find("Symbols kept: "); at != std::string::npos; at = said.find("Symbols kept: ", at + 1))
            runs++;
        EXPECT_EQ(c.firstRan ? 1u : 0u, runs) << said;
        EXPECT_EQ(c.firstRan, PlatFileExists((dir + "/data.kvd").c_str()));
        EXPECT_FALSE(PlatFileExists((dir + "/later.kvd").c_str()));
    }
}

/* A reader that leaves early (a pipe into head) ends the printing, not the
** run: every file of the run is written and the exit code is the run's. */
TEST_F(NativeProgramTest, AClosedOutputPipeEndsThePrintingNotTheRun)
{
    std::string fifo = dir + "/prices/HOLD.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    Put("job.kvs", "Import:\n  DataSource: CSV\n  DataPath: " + dir + "/prices\n  SaveAs: " + dir +
                       "/data.kvd\nSettings:\n  DataFile: " + dir + "/data.kvd\n  ResultsFile: " + dir +
                       "/job.kvr\n  SaveStatsAs: " + dir + "/stats.csv\n  SaveTradesAs: " + dir +
                       "/trades.csv\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n");
    Child child;
    Start(&child, {"-import", "-test", dir + "/job.kvs"});
    std::string said;
    ASSERT_TRUE(ReadUntil(child.out, &said, "Importing CSV Data From")) << said;
    close(child.out); /* the reader goes; the import is held at the FIFO until now */
    child.out = -1;
    const int code = ExitCode(&child, [&] {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    });
    std::string errors;
    ReadUntil(child.err, &errors, "\x01");
    EXPECT_EQ(0, code) << errors;
    for (const char *file : {"/data.kvd", "/job.kvr", "/stats.csv", "/trades.csv"})
        EXPECT_TRUE(PlatFileExists((dir + file).c_str())) << file;
}

/* Started with standard output closed, the program prints into nothing: the
** import log it opens holds the log alone, not the progress lines. */
TEST_F(NativeProgramTest, AClosedStandardOutputTakesNoFile)
{
    Put("logged.kvs", "Import:\n  DataSource: CSV\n  DataPath: " + dir + "/prices\n  SaveAs: " + dir +
                          "/data.kvd\n  LogFile: " + dir + "/import.log\n");
    Child child;
    StartWith(&child, {"-import", dir + "/logged.kvs"}, "", "", true);
    std::string errors;
    ReadUntil(child.err, &errors, "\x01");
    EXPECT_EQ(0, ExitCode(&child)) << errors;
    const std::string log = Get("import.log");
    EXPECT_NE(log.find("\nImport Was Completed\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Creating "), std::string::npos) << log;
    EXPECT_EQ(log.find("Symbols kept"), std::string::npos) << log;
}

/* An import log on a full disk is reported once, naming the log and why,
** and the batch ends with 3 although the data file was written. */
TEST_F(NativeProgramTest, AnImportLogThatCannotBeWrittenEndsWithThree)
{
    Put("full.kvs", "Import:\n  DataSource: CSV\n  DataPath: " + dir + "/prices\n  SaveAs: " + dir +
                        "/data.kvd\n  LogFile: /dev/full\n");
    std::string said, errors;
    EXPECT_EQ(3, Run({"-import", dir + "/full.kvs"}, &said, &errors)) << errors;
    EXPECT_TRUE(PlatFileExists((dir + "/data.kvd").c_str()));
    const std::string message = "Error writing ";
    const size_t at = errors.find(message);
    ASSERT_NE(at, std::string::npos) << errors;
    EXPECT_EQ(errors.find(message, at + 1), std::string::npos) << errors;
    EXPECT_NE(errors.find(" bytes to /dev/full\r\n\r\nNo space left on device\n", at), std::string::npos) << errors;
}

/* A test log that cannot be written whole (here a file-size limit, which
** the program reports as a full disk) is reported once, naming the log and
** why, and the batch ends with 3 although the test itself ran.  (The log is
** written to a file of its own until it is put in place, so a name linked
** elsewhere no longer stands for a full disk.) */
TEST_F(NativeProgramTest, ATestLogThatCannotBeWrittenEndsWithThree)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("kestovar.ini", "[Settings]\nAddLog=1\n");
    Put("logged.kvs", "Settings:\n  DataFile: " + dir + "/data.kvd\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n");
    const std::string log = dir + "/Output/Logs/TEST_0001.TXT";
    startShell = "ulimit -f 1";
    errors.clear();
    EXPECT_EQ(3, Run({"-test", dir + "/logged.kvs"}, &said, &errors)) << errors;
    EXPECT_NE(said.find("\nTest 1: "), std::string::npos) << said;
    const std::string message = "Error writing ";
    const size_t at = errors.find(message);
    ASSERT_NE(at, std::string::npos) << errors;
    EXPECT_EQ(errors.find(message, at + 1), std::string::npos) << errors;
    EXPECT_NE(errors.find(" bytes to " + log + "\r\n\r\nFile too large\n", at), std::string::npos) << errors;
}

/* An export whose name does not end in .CSV is refused with the reason: a
** file the run could not write, so the batch ends with 3, and the runs after
** it still run and write their files. */
TEST_F(NativeProgramTest, AnExportRefusedForItsNameEndsWithThree)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("later.kvs", "Settings:\n  DataFile: " + dir + "/data.kvd\n  ResultsFile: " + dir + "/later.kvr\n"
                     "  SaveStatsAs: " + dir + "/later.csv\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n");
    for (const char *kind : {"Stats", "Trades", "Positions"}) {
        SCOPED_TRACE(kind);
        PlatDeleteFile((dir + "/later.csv").c_str());
        Put("named.kvs", "Settings:\n  DataFile: " + dir + "/data.kvd\n  ResultsFile: " + dir + "/named.kvr\n  Save" +
                             kind + "As: " + dir + "/export.txt\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n");
        said.clear();
        errors.clear();
        EXPECT_EQ(3, Run({"-test", dir + "/named.kvs", dir + "/later.kvs"}, &said, &errors)) << errors;
        EXPECT_NE(errors.find("\nSave" + std::string(kind) + "As file path must end with .CSV\n"), std::string::npos)
            << errors;
        EXPECT_FALSE(PlatFileExists((dir + "/export.txt").c_str()));
        EXPECT_TRUE(PlatFileExists((dir + "/later.csv").c_str())) << "the next run still runs";
    }
}

/* The pointer to the error log is printed only when the entries reached it;
** otherwise the user learns that the log could not be written, and why. */
TEST_F(NativeProgramTest, TheErrorLogIsPointedToOnlyWhenItWasWritten)
{
    std::string said, errors;
    ASSERT_EQ(3, Run({"-apply", dir + "/none.kvs"}, &said, &errors));
    EXPECT_NE(errors.find("(errors also in " + dir + "/errorlog.txt)\n"), std::string::npos) << errors;
    PlatDeleteFile((dir + "/errorlog.txt").c_str());
    ASSERT_EQ(symlink("/dev/full", (dir + "/errorlog.txt").c_str()), 0);
    errors.clear();
    ASSERT_EQ(3, Run({"-apply", dir + "/none.kvs"}, &said, &errors));
    EXPECT_NE(errors.find("Unable to access " + dir + "/none.kvs\n"), std::string::npos) << errors;
    EXPECT_EQ(errors.find("(errors also in"), std::string::npos) << errors;
    EXPECT_NE(errors.find("(the error log " + dir + "/errorlog.txt could not be written: No space left on device)\n"),
              std::string::npos)
        << errors;
}

/* A run stopped before its test shows no test at its end, not even one the
** results file came to hold meanwhile: here another program saves the file
** while this run, which found none, creates it. */
TEST_F(NativeProgramTest, ARunStoppedBeforeItsTestShowsNoTest)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    const std::string results = dir + "/made.kvr";
    Put("made.kvs", "Settings:\n  DataFile: " + dir + "/data.kvd\n  ResultsFile: " + results +
                        "\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n");
    ASSERT_EQ(0, Run({"-test", dir + "/made.kvs"}, &said, &errors)) << errors;
    ASSERT_NE(said.find("\nTest 1: "), std::string::npos) << said;
    const std::string other = Get("made.kvr");
    PlatDeleteFile(results.c_str());

    std::string fifo = MakeFifo("create.hold");
    Child child;
    StartWith(&child, {"-test", dir + "/made.kvs"}, "", "results-save " + fifo, false);
    int hold = Reach(fifo);
    ASSERT_GE(hold, 0);
    Put("made.kvr", other);
    kill(child.pid, SIGTERM);
    close(hold); /* the stop is taken before the program goes on */
    errors.clear();
    ASSERT_TRUE(ReadUntil(child.err, &errors, "Stopping...")) << errors;
    EXPECT_EQ(8, ExitCode(&child, [&] {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    }));
    said.clear();
    ReadUntil(child.out, &said, "\x01");
    EXPECT_EQ(said.find("Test "), std::string::npos) << said;
}

/* Two runs that save one results file at nearly the same moment keep every
** test either reports: the one that saves second adds its test to what the
** file holds by then, numbered after the file's; two copies of one job the
** same; one that finds the file unreadable keeps it as it is and ends with 3. */
TEST_F(NativeProgramTest, TwoRunsOnOneResultsFileKeepEveryTest)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    const std::string results = dir + "/shared.kvr";
    for (const char *name : {"a", "b"})
        Put(std::string(name) + ".kvs", "Settings:\n  DataFile: " + dir + "/data.kvd\n  ResultsFile: " + results +
                                            "\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n");
    ASSERT_EQ(0, Run({"-test", dir + "/a.kvs"}, &said, &errors)) << errors;
    ASSERT_NE(said.find("\nTest 1: "), std::string::npos) << said;

    /* Both have loaded the file and run their test; then they save. */
    struct Round {
        const char *first, *second;
        bool together;
        int numbers[2];
    } rounds[] = {{"a", "b", false, {2, 3}}, {"a", "a", true, {4, 5}}};
    std::vector<std::string> scripts = {"a"}; /* by test number - 1 */
    int round = 0;
    for (const Round &r : rounds) {
        SCOPED_TRACE(round);
        Child children[2];
        int holds[2];
        for (int k = 0; k < 2; k++) {
            std::string fifo = MakeFifo("save" + std::to_string(round) + std::to_string(k));
            StartWith(&children[k], {"-test", dir + "/" + (k ? r.second : r.first) + ".kvs"}, "",
                      "results-save " + fifo, false);
            holds[k] = Reach(fifo);
            ASSERT_GE(holds[k], 0);
        }
        int printed[2] = {0, 0};
        for (int k = 0; k < 2; k++) {
            close(holds[k]);
            if (r.together && k == 0) continue;
            for (int j = r.together ? 0 : k; j <= k; j++) {
                std::string out, err;
                EXPECT_EQ(0, Finish(&children[j], &out, &err)) << err;
                size_t at = out.find("\nTest ");
                ASSERT_NE(at, std::string::npos) << out;
                printed[j] = atoi(out.c_str() + at + 6);
            }
        }
        if (r.together) {
            EXPECT_EQ(r.numbers[0] + r.numbers[1], printed[0] + printed[1]);
            EXPECT_NE(printed[0], printed[1]);
        } else {
            EXPECT_EQ(r.numbers[0], printed[0]);
            EXPECT_EQ(r.numbers[1], printed[1]);
        }
        scripts.resize(r.numbers[1]);
        scripts[printed[0] - 1] = r.first;
        scripts[printed[1] - 1] = r.second;
        round++;
    }
    ASSERT_EQ(1, LoadResultsFile(results.c_str(), 0));
    ResultsWindow *window = FindResultsWindowByPath(results.c_str());
    ASSERT_TRUE(window);
    EXPECT_EQ(5, window->testCount);
    int number = 1;
    for (const TestRecord *t = window->firstTest; t; t = t->next, number++) {
        EXPECT_EQ(number, t->testNumber);
        if (number <= (int)scripts.size()) {
            EXPECT_EQ(dir + "/" + scripts[number - 1] + ".kvs", Native(t->settings.ActiveScript));
        }
    }
    CloseResultsWindow(window);

    /* The other program left the file unreadable: it stays so, and this run says so. */
    std::string fifo = MakeFifo("save-damaged");
    Child child;
    StartWith(&child, {"-test", dir + "/b.kvs"}, "", "results-save " + fifo, false);
    int hold = Reach(fifo);
    ASSERT_GE(hold, 0);
    Put("shared.kvr", "not a results file");
    close(hold);
    ReadUntil(child.err, &errors, "\x01");
    EXPECT_EQ(3, ExitCode(&child)) << errors;
    EXPECT_EQ("not a results file", Get("shared.kvr"));
    EXPECT_NE(errors.find(results + " was saved by another program meanwhile and could not be read again"),
              std::string::npos)
        << errors;
}

/* Runs that share one results file and number their exports (a -test of a
** script with walk-forward dates runs two tests; an optimization with
** OptMultiSaveAs exports every test of its list) both loaded the file with
** the same tests, so both would number their new tests alike: each export
** is written with the number its test keeps in the file, and neither run's
** overwrites the other's. */
TEST_F(NativeProgramTest, TwoRunsOnOneResultsFileKeepEveryNumberedExport)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    mkdir((dir + "/out").c_str(), 0755);
    const std::string results = dir + "/shared.kvr";
    const std::string settings = "Settings:\n  DataFile: " + dir + "/data.kvd\n  ResultsFile: " + results + "\n";
    Put("seed.kvs", settings + "Strategy: S\n  EntrySetup: 1\n");
    for (const char *name : {"SA", "SB"}) {
        const std::string strategy = std::string("Strategy: ") + name + "\n  EntrySetup: C > Len\n  ExitRule: 1\n";
        Put(std::string("wf-") + name + ".kvs", settings + "  SaveStatsAs: " + dir + "/out/stats.csv\n" +
                                                     "Parameters:\n  Len: 1, 2\nWalkForward:\n"
                                                     "  Dates: 2024-01-02, 2024-01-03\n  Len: 1\n" + strategy);
        Put(std::string("opt-") + name + ".kvs", settings + "  SaveStatsAs: " + dir + "/out/stats.csv\n" +
                                                      "  OptMultiSaveAs: True\n  OptClearResults: False\n"
                                                      "  OptKeepNoTrades: True\nParameters:\n  Len: 1, 2\n" +
                                                      strategy);
    }
    ASSERT_EQ(0, Run({"-test", dir + "/seed.kvs"}, &said, &errors)) << errors;
    ASSERT_NE(said.find("\nTest 1: "), std::string::npos) << said;

    /* The date and strategy of each row of a statistics export. */
    auto rows = [](const std::string &text) {
        std::string kept;
        size_t at = text.find('\n');
        while (at != std::string::npos && at + 1 < text.size()) {
            const size_t end = text.find('\n', at + 1);
            const std::string line = text.substr(at + 1, end - at - 1);
            kept += line.substr(0, line.find(',', line.find(',') + 1)) + "\n";
            at = end;
        }
        return kept;
    };
    struct Round {
        const char *mode, *prefix;
        int last[2];       /* the number each run reports last */
        const char *first; /* the first date of the test each run reports last */
        /* The strategy of each export by test number from 1, "" where none
        ** is written; '~' before it: an out-of-sample test, from 1/3/24. */
        std::vector<const char *> owners;
    } rounds[] = {
        {"-test", "wf-", {3, 5}, "2024-01-03", {"", "SA", "~SA", "SB", "~SB"}},
        /* Each optimization exports the whole list it saved: the file's
        ** earlier tests again, as they were. */
        {"-optimize", "opt-", {7, 9}, "2024-01-02", {"S", "SA", "~SA", "SB", "~SB", "SA", "SA", "SB", "SB"}},
    };
    for (const Round &r : rounds) {
        SCOPED_TRACE(r.mode);
        /* Both have run their tests and wait to save; the first saves and
        ** exports before the second goes on. */
        Child children[2];
        int holds[2];
        for (int k = 0; k < 2; k++) {
            std::string fifo = MakeFifo(std::string("save") + r.prefix + std::to_string(k));
            StartWith(&children[k], {r.mode, dir + "/" + r.prefix + (k ? "SB" : "SA") + ".kvs"}, "",
                      "results-save " + fifo, false);
            holds[k] = Reach(fifo);
            ASSERT_GE(holds[k], 0);
        }
        for (int k = 0; k < 2; k++) {
            close(holds[k]);
            std::string out, err;
            EXPECT_EQ(0, Finish(&children[k], &out, &err)) << err;
            EXPECT_NE(out.find("\nTest " + std::to_string(r.last[k]) + ": " + r.first + " to 2024-01-03\n"),
                      std::string::npos)
                << out;
        }
        for (size_t k = 0; k < r.owners.size(); k++) {
            const std::string file = "out/stats." + std::to_string(k + 1) + ".csv";
            const bool outOfSample = r.owners[k][0] == '~';
            const std::string owner = r.owners[k] + outOfSample;
            if (owner.empty())
                EXPECT_FALSE(PlatFileExists((dir + "/" + file).c_str())) << file;
            else
                EXPECT_EQ((outOfSample ? "" : "1/2/24," + owner + "\n") + "1/3/24," + owner + "\n", rows(Get(file)))
                    << file;
        }
        EXPECT_FALSE(PlatFileExists((dir + "/out/stats." + std::to_string(r.owners.size() + 1) + ".csv").c_str()));
    }
    EXPECT_FALSE(PlatFileExists((dir + "/out/stats.csv").c_str()));
}

/* A results file whose name leaves no room for a guard beside it (the
** longest path there is) keeps its tests: the saves of the folder's long
** names share one guard in the folder, a short name at the end of a long
** path takes a guard and a temporary file of names as short, and none is
** left behind. */
TEST_F(NativeProgramTest, TheLongestResultsPathKeepsItsFile)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    const struct {
        size_t length;
        std::string name;
    } cases[] = {{259, std::string(100, 'r') + ".kvr"}, {258, std::string(99, 'r') + ".kvr"}, {259, "r.kvr"},
                 {257, "r.kvr"}, {259, ".kvr"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + " " + c.name);
        const std::string folder = dir + "/" + std::to_string(c.length) + "_" + std::to_string(c.name.size());
        ASSERT_EQ(0, mkdir(folder.c_str(), 0755));
        const std::string results = Native(MakePathOfLength(folder, c.length, c.name));
        ASSERT_EQ(c.length, results.size());
        Put("long.kvs", TestScript(results));
        for (int number = 1; number <= 2; number++) {
            said.clear();
            errors.clear();
            EXPECT_EQ(0, Run({"-test", dir + "/long.kvs"}, &said, &errors)) << errors;
            EXPECT_NE(said.find("\nTest " + std::to_string(number) + ": "), std::string::npos) << said;
            EXPECT_EQ("", errors);
        }
        EXPECT_EQ("1:long.kvs\n2:long.kvs\n", StoredTests(results));
        EXPECT_EQ(std::vector<std::string>{c.name}, FolderNames(results.substr(0, results.rfind('/')) + "/*"));
    }
}

/* A save that merged another program's test and then could not put the file
** in place (refused) is reported and ends the batch with 3; the batch's next
** run saves the list it learned, adding only its own tests. */
TEST_F(NativeProgramTest, ABatchSavesWhatItLearnedFromASaveThatFailed)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    const std::string results = dir + "/shared.kvr";
    for (const char *name : {"a", "b1", "b2"}) Put(std::string(name) + ".kvs", TestScript(results));
    ASSERT_EQ(0, Run({"-test", dir + "/a.kvs"}, &said, &errors)) << errors;

    const std::string fifo = MakeFifo("save.hold");
    Child batch;
    StartWith(&batch, {"-test", dir + "/b1.kvs", dir + "/b2.kvs"}, "", "results-save " + fifo, false);
    int hold = Reach(fifo);
    ASSERT_GE(hold, 0);
    said.clear();
    ASSERT_EQ(0, Run({"-test", dir + "/a.kvs"}, &said, &errors)) << errors;
    EXPECT_NE(said.find("\nTest 2: "), std::string::npos) << said;
    ASSERT_EQ(0, chmod(results.c_str(), 0444)); /* kept as read-only: the save is refused */
    close(hold);
    /* The refusal is in the error log before the second run starts. */
    while (MillisecondsLeft() && Get("errorlog.txt").find("Unable to create " + results) == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    hold = Reach(fifo); /* the second run's save */
    ASSERT_GE(hold, 0);
    ASSERT_EQ(0, chmod(results.c_str(), 0644));
    close(hold);
    std::string out, err;
    EXPECT_EQ(3, Finish(&batch, &out, &err)) << err;
    EXPECT_NE(out.find("\nTest 4: "), std::string::npos) << out;
    const std::string refused = "Unable to create " + results + "\r\n\r\nPermission denied\n";
    const size_t at = err.find(refused);
    EXPECT_NE(at, std::string::npos) << err;
    EXPECT_EQ(err.find(refused, at + 1), std::string::npos) << err;
    EXPECT_EQ("1:a.kvs\n2:a.kvs\n3:b1.kvs\n4:b2.kvs\n", StoredTests(results));
}

/* Two runs on one results file that both write a test log: each log is the
** whole log of its own test, under the number its test keeps in the file. */
TEST_F(NativeProgramTest, TwoRunsOnOneResultsFileKeepEachTestsLog)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("kestovar.ini", "[Settings]\nAddLog=1\n");
    const std::string results = dir + "/shared.kvr";
    Put("sa.kvs", TestScript(results, "SA"));
    Put("sb.kvs", TestScript(results, "SB"));
    ASSERT_EQ(0, Run({"-test", dir + "/sa.kvs"}, &said, &errors)) << errors;
    const std::string logs = dir + "/Output/Logs/";
    const std::string alone = Get("Output/Logs/TEST_0001.TXT");
    ASSERT_NE(alone.find("\tSA\t"), std::string::npos) << alone;
    ASSERT_EQ(alone.find("SB"), std::string::npos) << alone;
    std::string other = alone;
    for (size_t at = other.find("SA"); at != std::string::npos; at = other.find("SA", at)) other[at + 1] = 'B';

    Child children[2];
    int holds[2];
    for (int k = 0; k < 2; k++) {
        std::string fifo = MakeFifo("log" + std::to_string(k));
        StartWith(&children[k], {"-test", dir + (k ? "/sb.kvs" : "/sa.kvs")}, "", "results-save " + fifo, false);
        holds[k] = Reach(fifo);
        ASSERT_GE(holds[k], 0);
    }
    for (int k = 0; k < 2; k++) {
        close(holds[k]);
        std::string out, err;
        EXPECT_EQ(0, Finish(&children[k], &out, &err)) << err;
        EXPECT_EQ("", err);
        EXPECT_NE(out.find("\nTest " + std::to_string(k + 2) + ": "), std::string::npos) << out;
    }
    EXPECT_EQ(alone, Get("Output/Logs/TEST_0002.TXT"));
    EXPECT_EQ(other, Get("Output/Logs/TEST_0003.TXT"));
    EXPECT_EQ((std::vector<std::string>{"TEST_0001.TXT", "TEST_0002.TXT", "TEST_0003.TXT"}), FolderNames(logs + "*"));
    EXPECT_EQ("1:sa.kvs\n2:sa.kvs\n3:sb.kvs\n", StoredTests(results));
}

/* A results file saved through a link and through the file it names is one
** file with one guard: the save through the target waits while the save
** through the link holds the guard, and both tests are kept. */
TEST_F(NativeProgramTest, SavesThroughALinkAndItsTargetTakeTurns)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    const std::string results = dir + "/target.kvr", link = dir + "/link.kvr";
    Put("byTarget.kvs", TestScript(results));
    Put("byLink.kvs", TestScript(link));
    ASSERT_EQ(0, Run({"-test", dir + "/byTarget.kvs"}, &said, &errors)) << errors;
    ASSERT_EQ(0, symlink(results.c_str(), link.c_str()));

    Child holder, waiter;
    const std::string held = MakeFifo("held"), busy = MakeFifo("busy");
    StartWith(&holder, {"-test", dir + "/byLink.kvs"}, "", "results-guard " + held, false);
    int holdHeld = Reach(held);
    ASSERT_GE(holdHeld, 0);
    StartWith(&waiter, {"-test", dir + "/byTarget.kvs"}, "", "results-busy " + busy, false);
    int ended = -1;
    int holdBusy = ReachUnlessEnded(busy, &waiter, &ended);
    ASSERT_GE(holdBusy, 0) << "the save through the target did not wait (it ended with " << ended << ")";
    close(holdBusy);
    close(holdHeld);
    Child *children[2] = {&holder, &waiter};
    for (int k = 0; k < 2; k++) {
        std::string out, err;
        EXPECT_EQ(0, Finish(children[k], &out, &err)) << err;
        EXPECT_NE(out.find("\nTest " + std::to_string(k + 2) + ": "), std::string::npos) << out;
    }
    EXPECT_EQ(1, PlatIsLink(link.c_str()));
    EXPECT_EQ("1:byTarget.kvs\n2:byLink.kvs\n3:byTarget.kvs\n", StoredTests(results));
}

/* A stop that comes after the batch's last run ended (here while the program
** is about to end) still ends the program as stopped; what the run did is
** kept and shown. */
TEST_F(NativeProgramTest, AStopAfterTheLastRunEndsTheProgramAsStopped)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    const std::string results = dir + "/kept.kvr";
    Put("kept.kvs", TestScript(results));
    said.clear();
    errors.clear();
    EXPECT_EQ(8, StopAtHold({"-test", dir + "/kept.kvs"}, "batch-end", &said, &errors)) << errors;
    EXPECT_NE(said.find("\nTest 1: "), std::string::npos) << said;
    EXPECT_EQ(said.find("(stopped)"), std::string::npos) << said; /* the test was whole */
    EXPECT_EQ("1:kept.kvs\n", StoredTests(results));
}

/* A stop in the middle of a test keeps the test up to the day it reached,
** and the summary says the stop cut it. */
TEST_F(NativeProgramTest, TheSummaryOfATestCutByAStopSaysSo)
{
    Put("prices/LONG.csv", "Date,Open,High,Low,Close,Volume\n2024-01-02,1,2,0.5,1.5,10\n2024-01-03,2,3,1,2.5,20\n"
                           "2024-01-04,2,3,1,2.5,20\n2024-01-05,2,3,1,2.5,20\n2024-01-08,2,3,1,2.5,20\n");
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("cut.kvs", TestScript(dir + "/cut.kvr"));
    said.clear();
    errors.clear();
    EXPECT_EQ(8, StopAtHold({"-test", dir + "/cut.kvs"}, "test-date", &said, &errors)) << errors;
    /* Its data go on to 2024-01-08: the test stopped on its second date. */
    EXPECT_NE(said.find("\nTest 1: 2024-01-02 to 2024-01-03 (stopped)\n"), std::string::npos) << said;
}

/* A save killed while it holds the results file's guard leaves the guard
** file, which holds nothing: the next save takes it over without waiting,
** the file keeps what was saved before, and no guard is left afterwards. */
TEST_F(NativeProgramTest, AGuardLeftByAKilledSaveIsTakenOver)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    const std::string results = dir + "/shared.kvr";
    Put("a.kvs", TestScript(results));
    ASSERT_EQ(0, Run({"-test", dir + "/a.kvs"}, &said, &errors)) << errors;
    const std::string held = MakeFifo("held"), busy = MakeFifo("busy");
    Child killed, next;
    StartWith(&killed, {"-test", dir + "/a.kvs"}, "", "results-guard " + held, false);
    int hold = Reach(held);
    ASSERT_GE(hold, 0);
    kill(killed.pid, SIGKILL);
    EXPECT_EQ(-1, ExitCode(&killed));
    close(hold);
    ASSERT_TRUE(PlatFileExists((results + ".~kvl").c_str()));
    StartWith(&next, {"-test", dir + "/a.kvs"}, "", "results-busy " + busy, false);
    int ended = -1;
    const int waited = ReachUnlessEnded(busy, &next, &ended);
    if (waited >= 0) close(waited);
    EXPECT_LT(waited, 0) << "the next save waited for a guard no one held";
    if (waited >= 0) ended = ExitCode(&next);
    EXPECT_EQ(0, ended);
    said.clear();
    ReadUntil(next.out, &said, "\x01");
    EXPECT_NE(said.find("\nTest 2: "), std::string::npos) << said;
    EXPECT_FALSE(PlatFileExists((results + ".~kvl").c_str()));
    EXPECT_EQ("1:a.kvs\n2:a.kvs\n", StoredTests(results));
}

/* A report run killed while it writes leaves a folder without its line in
** the report list; the next report run removes it (its writer is gone) and
** numbers its own report from the reports that are there. */
TEST_F(NativeProgramTest, AReportRunKilledWhileItWritesLeavesNoFolderForGood)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("kestovar.ini", "[Settings]\nAddReport=1\n");
    Put("killed.kvs", TestScript(dir + "/k.kvr"));
    Put("later.kvs", TestScript(dir + "/l.kvr"));
    const std::string reports = dir + "/Output/Reports";
    const std::string fifo = MakeFifo("page.hold");
    Child killed;
    StartWith(&killed, {"-test", dir + "/killed.kvs"}, "", "report-page " + fifo, false);
    int hold = Reach(fifo);
    ASSERT_GE(hold, 0);
    kill(killed.pid, SIGKILL);
    EXPECT_EQ(-1, ExitCode(&killed));
    close(hold);
    const std::vector<std::string> left = FolderNames(reports + "/*");
    ASSERT_NE(std::find(left.begin(), left.end(), "0001_killed"), left.end());
    EXPECT_FALSE(PlatFileExists((reports + "/0001_killed/link.txt").c_str()));

    said.clear();
    errors.clear();
    EXPECT_EQ(0, Run({"-test", dir + "/later.kvs"}, &said, &errors)) << errors;
    EXPECT_EQ("", errors);
    EXPECT_NE(said.find("\nRemoved " + reports + "/0001_killed, the folder of a report that was never finished.\n"),
              std::string::npos)
        << said;
    EXPECT_EQ((std::vector<std::string>{"0001_later", "index.html"}), FolderNames(reports + "/*"));
    EXPECT_NE(Get("Output/Reports/index.html").find("href='0001_later/index.html'"), std::string::npos);
}

/* Report runs that finish together each rewrite the report list; the one that
** replaces it last lists every report finished before it, and none is missing
** until a later report is written. */
TEST_F(NativeProgramTest, TheReportListOfRunsFinishingTogetherListsEveryReport)
{
    std::string said, errors;
    ASSERT_EQ(0, Run({"-import", dir + "/imp.kvs"}, &said, &errors)) << errors;
    Put("kestovar.ini", "[Settings]\nAddReport=1\n");
    Put("first.kvs", TestScript(dir + "/f.kvr"));
    Put("second.kvs", TestScript(dir + "/s.kvr"));
    const std::string held = MakeFifo("list.hold"), busy = MakeFifo("list.busy");
    Child first, second;
    StartWith(&first, {"-test", dir + "/first.kvs"}, "", "report-list " + held, false);
    int holdHeld = Reach(held);
    ASSERT_GE(holdHeld, 0);
    StartWith(&second, {"-test", dir + "/second.kvs"}, "", "report-busy " + busy, false);
    int ended = -1;
    const int holdBusy = ReachUnlessEnded(busy, &second, &ended);
    if (holdBusy >= 0) close(holdBusy);
    close(holdHeld);
    Child *children[2] = {&first, &second};
    for (Child *child : children) {
        if (child->pid < 0) continue; /* ended already */
        std::string out, err;
        ReadUntil(child->err, &err, "\x01");
        EXPECT_EQ(0, ExitCode(child)) << err;
        EXPECT_EQ("", err);
    }
    const std::string list = Get("Output/Reports/index.html");
    for (const char *report : {"0001_first", "0002_second"})
        EXPECT_NE(list.find(std::string("href='") + report + "/index.html'"), std::string::npos) << report << list;
    EXPECT_GE(holdBusy, 0) << "the second writer of the list did not wait (it ended with " << ended << ")";
}

} // namespace
#endif
