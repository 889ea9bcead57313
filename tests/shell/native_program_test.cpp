/* native_program_test.cpp -- the native program run as a user runs it: what
** an import says on standard output and standard error, and Ctrl+C in the
** middle of an import. */
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "support/program_state.h"

extern char **environ;

namespace {

struct NativeProgramTest : ProgramStateTest {
    std::string dir; /* the program's own folder: settings and error log land there */

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

    /* Starts the program on the script with its output and errors in pipes. */
    void Start(Child *child)
    {
        int o[2], e[2];
        ASSERT_EQ(pipe(o), 0);
        ASSERT_EQ(pipe(e), 0);
        child->out = o[0];
        child->err = e[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, o[1], 1);
        posix_spawn_file_actions_adddup2(&actions, e[1], 2);
        posix_spawn_file_actions_addclose(&actions, o[0]);
        posix_spawn_file_actions_addclose(&actions, e[0]);
        std::string program = dir + "/kestovar", script = dir + "/imp.kvs";
        char *argv[] = {(char *)program.c_str(), (char *)"-import", (char *)script.c_str(), nullptr};
        EXPECT_EQ(posix_spawn(&child->pid, program.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(o[1]);
        close(e[1]);
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
    ReadUntil(child.out, &said, "\x01");
    ReadUntil(child.err, &errors, "\x01");
    EXPECT_EQ(ExitCode(&child), 0) << said << errors;
    const char *expected[] = {
        "/csi has no symbol information file\n",
        "prices/BAD.csv: 1 line not read as bars: line 3 (a number field holds text)\n",
        "prices/EMPTY.csv was not imported: the file is empty\n",
    };
    for (const char *e : expected) EXPECT_NE(errors.find(e), std::string::npos) << e << "\n" << errors;
    EXPECT_NE(said.find("Symbols kept: 3, passed over: 0, refused: 1; lines not read as bars: 1\n"), std::string::npos)
        << said;
}

/* Ctrl+C during an import stops it as the window program's stop does:
** exit code 8, the previous data file as it was, no temporary file. */
TEST_F(NativeProgramTest, CtrlCStopsAnImportCleanly)
{
    {
        Child first;
        Start(&first);
        ASSERT_EQ(ExitCode(&first), 0);
    }
    std::string before = Get("data.kvd");
    ASSERT_FALSE(before.empty());
    /* The import cannot end before the test lets it: a FIFO among the files
    ** holds it at that file until something writes to it. */
    std::string fifo = dir + "/prices/HOLD.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    Child child;
    Start(&child);
    std::string said, errors;
    ASSERT_TRUE(ReadUntil(child.out, &said, "Importing CSV Data From")) << said;
    kill(child.pid, SIGINT);
    ASSERT_TRUE(ReadUntil(child.err, &errors, "Stopping...")) << errors;
    const int code = ExitCode(&child, [&] {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
    });
    ReadUntil(child.out, &said, "\x01");
    EXPECT_NE(said.find("; no data file was written\n"), std::string::npos) << said;
    EXPECT_EQ(code, 8);
    EXPECT_TRUE(Get("data.kvd") == before);
    EXPECT_FALSE(PlatFileExists((dir + "/data.kvd.~kv").c_str()));
}

} // namespace
#endif
