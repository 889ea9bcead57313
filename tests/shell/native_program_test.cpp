/* native_program_test.cpp -- the native program run as a user runs it: what
** an import says on standard output and standard error, and Ctrl+C in the
** middle of an import. */
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

    /* Starts the program on the script with its output and errors in pipes. */
    pid_t Start(int *out, int *err)
    {
        int o[2], e[2];
        EXPECT_EQ(pipe(o), 0);
        EXPECT_EQ(pipe(e), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, o[1], 1);
        posix_spawn_file_actions_adddup2(&actions, e[1], 2);
        posix_spawn_file_actions_addclose(&actions, o[0]);
        posix_spawn_file_actions_addclose(&actions, e[0]);
        std::string program = dir + "/kestovar", script = dir + "/imp.kvs";
        char *argv[] = {(char *)program.c_str(), (char *)"-import", (char *)script.c_str(), nullptr};
        pid_t pid = 0;
        EXPECT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        close(o[1]);
        close(e[1]);
        *out = o[0];
        *err = e[0];
        return pid;
    }
    /* Reads from fd into text until it holds what (or the pipe ends). */
    static bool ReadUntil(int fd, std::string *text, const char *what)
    {
        char buffer[4096];
        while (text->find(what) == std::string::npos) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) return false;
            text->append(buffer, (size_t)n);
        }
        return true;
    }
    static int ExitCode(pid_t pid)
    {
        int status = 0;
        waitpid(pid, &status, 0);
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
    int out, err;
    pid_t pid = Start(&out, &err);
    std::string said, errors;
    ReadUntil(out, &said, "\x01");
    ReadUntil(err, &errors, "\x01");
    close(out);
    close(err);
    EXPECT_EQ(ExitCode(pid), 0) << said << errors;
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
    int out, err;
    ASSERT_EQ(ExitCode(Start(&out, &err)), 0);
    close(out);
    close(err);
    std::string before = Get("data.kvd");
    ASSERT_FALSE(before.empty());
    /* The import cannot end before the test lets it: a FIFO among the files
    ** holds it at that file until something writes to it. */
    std::string fifo = dir + "/prices/HOLD.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    pid_t pid = Start(&out, &err);
    std::string said, errors;
    ASSERT_TRUE(ReadUntil(out, &said, "Importing CSV Data From")) << said;
    kill(pid, SIGINT);
    ASSERT_TRUE(ReadUntil(err, &errors, "Stopping...")) << errors;
    auto start = std::chrono::steady_clock::now();
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    }
    ReadUntil(out, &said, "\x01");
    close(out);
    close(err);
    EXPECT_NE(said.find("; no data file was written\n"), std::string::npos) << said;
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 8);
    EXPECT_TRUE(Get("data.kvd") == before);
    EXPECT_FALSE(PlatFileExists((dir + "/data.kvd.~kv").c_str()));
}

} // namespace
#endif
