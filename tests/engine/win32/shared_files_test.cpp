/* shared_files_test.cpp -- the Windows program and the native program (and
** two Windows programs) on one folder: saves of one results file and imports
** of one data file take turns whichever build makes them, and a load does
** not make another program's save fail.  Each program is held at a moment of
** its save by its hold point (KV_HOLD_AT: a named pipe for the Windows
** program, a FIFO for the native one, which a small helper serves). */
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/results_file.h"
#include "foundation/text_match.h"
#include "support/program_state.h"

#include <windows.h>

namespace {

/* Serves a native program's FIFO hold (point "-": none), runs the program
** with its output and errors in files and tells what it does in a state
** file: "reached" while it is held, "exit N" when it has ended. */
const char kHelper[] = R"py(import os, subprocess, sys, time
work, name, point = sys.argv[1:4]
command = sys.argv[4:]
state = os.path.join(work, name + '.state')
def say(text):
    with open(state + '.new', 'w') as f:
        f.write(text)
    os.replace(state + '.new', state)
env = dict(os.environ)
fifo = os.path.join(work, name + '.fifo')
if point != '-':
    os.mkfifo(fifo)
    env['KV_HOLD_AT'] = point + ' ' + fifo
os.chmod(command[0], 0o755)  # copied by the Windows side, which keeps no mode
with open(os.path.join(work, name + '.out'), 'wb') as out, open(os.path.join(work, name + '.err'), 'wb') as err:
    try:
        program = subprocess.Popen(command, stdout=out, stderr=err, env=env, cwd=os.path.dirname(command[0]))
    except OSError as e:
        err.write(str(e).encode())
        say('exit -2')
        sys.exit(1)
    while point != '-' and program.poll() is None:
        try:
            held = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
        except OSError:
            time.sleep(0.005)
            continue
        say('reached')
        while not os.path.exists(os.path.join(work, name + '.go')):
            time.sleep(0.005)
        os.close(held)
        break
    say('exit %d' % program.wait())
)py";

std::string ToWindows(const std::string &unixPath)
{
    std::string p = "Z:" + unixPath;
    for (char &c : p)
        if (c == '/') c = '\\';
    return p;
}

struct SharedFilesTest : ProgramStateTest {
    std::string unixDir;        /* tmp.path as the native program names it */
    std::string windowsProgram; /* in tmp\win */
    std::string nativeProgram;  /* in tmp/nat, as the native side names it */
    std::string python;
    int pipes = 0;
    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);

    void SetUp() override
    {
        ProgramStateTest::SetUp();
        typedef char *(CDECL * UnixName)(const WCHAR *);
        UnixName unixName = (UnixName)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
        if (!unixName) GTEST_SKIP() << "not under Wine: no native program beside this one";
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, tmp.path.c_str(), -1, wide, MAX_PATH);
        char *name = unixName(wide);
        ASSERT_NE(nullptr, name);
        unixDir = name;
        HeapFree(GetProcessHeap(), 0, name);
        /* The folder by its own name, not through the drive's link, whose
        ** "c:" a script would not take as part of a path. */
        const size_t drive = unixDir.find("/dosdevices/c:/");
        if (drive != std::string::npos) unixDir.replace(drive, 15, "/drive_c/");
        if (GetFileAttributesA(ToWindows(KV_NATIVE_PROGRAM).c_str()) == INVALID_FILE_ATTRIBUTES)
            GTEST_SKIP() << "the native program " << KV_NATIVE_PROGRAM << " is not built";
        python = "Z:\\usr\\bin\\python3";
        if (GetFileAttributesA(python.c_str()) == INVALID_FILE_ATTRIBUTES) GTEST_SKIP() << "no python3 to serve the FIFO";
        ASSERT_TRUE(CreateDirectoryA(tmp.File("win").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(tmp.File("nat").c_str(), nullptr));
        windowsProgram = tmp.File("win\\kestovar.exe");
        ASSERT_TRUE(CopyFileA(ToWindows(KV_WINDOWS_PROGRAM).c_str(), windowsProgram.c_str(), FALSE));
        /* What the build puts beside the program goes with it. */
        std::string built = ToWindows(KV_WINDOWS_PROGRAM);
        built.erase(built.find_last_of('\\') + 1);
        for (const char *side : {"Results.kvs", "Graphs.kvs", "Trades.kvs", "Charts.kvs", "ExchangeMap.csv"})
            CopyFileA((built + side).c_str(), tmp.File(std::string("win\\") + side).c_str(), FALSE);
        ASSERT_TRUE(CopyFileA(ToWindows(KV_NATIVE_PROGRAM).c_str(), tmp.File("nat\\kestovar").c_str(), FALSE));
        nativeProgram = unixDir + "/nat/kestovar";
        ASSERT_TRUE(WriteTestFile(tmp.File("helper.py"), kHelper));
        ASSERT_TRUE(CreateDirectoryA(tmp.File("prices").c_str(), nullptr));
        ASSERT_TRUE(WriteTestFile(tmp.File("prices\\GOOD.csv"),
                                  "Date,Open,High,Low,Close,Volume\n2024-01-02,1,2,0.5,1.5,10\n2024-01-03,2,3,1,2.5,20\n"));
        for (int side = 0; side < 2; side++) {
            const std::string name = side ? "nat" : "win";
            ASSERT_TRUE(WriteTestFile(tmp.File(name + "-import.kvs"),
                                      "Import:\n  DataSource: CSV\n  DataPath: " + Path(side, "prices") +
                                          "\n  StartDate: 20240101\n  EndDate: 20241231\n  SaveAs: " +
                                          Path(side, "data.kvd") + "\n"));
            ASSERT_TRUE(WriteTestFile(tmp.File(name + ".kvs"),
                                      "Settings:\n  DataFile: " + Path(side, "data.kvd") + "\n  ResultsFile: " +
                                          Path(side, "shared.kvr") + "\nStrategy: S\n  EntrySetup: 1\n  ExitRule: 1\n"));
        }
    }
    /* A file of the shared folder as the Windows (side 0) or native side names it. */
    std::string Path(int side, const std::string &name) const
    {
        return side ? unixDir + "/" + name : tmp.File(name);
    }
    bool TimeLeft() const { return std::chrono::steady_clock::now() < deadline; }

    /* ---- the Windows program ---- */
    struct WindowsRun {
        PROCESS_INFORMATION process = {};
        HANDLE pipe = INVALID_HANDLE_VALUE;
        ~WindowsRun()
        {
            if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
            if (process.hProcess) {
                TerminateProcess(process.hProcess, 99);
                CloseHandle(process.hProcess);
                CloseHandle(process.hThread);
            }
        }
    };
    /* Starts the Windows program on args, held at point ("" for none). */
    void StartWindows(WindowsRun *run, const std::string &args, const std::string &point)
    {
        std::string hold;
        if (!point.empty()) {
            char name[64];
            snprintf(name, sizeof name, "\\\\.\\pipe\\kvhold-%lu-%d", GetCurrentProcessId(), pipes++);
            run->pipe = CreateNamedPipeA(name, PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                         64, 64, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, run->pipe);
            hold = point + " " + name;
        }
        SetEnvironmentVariableA("KV_HOLD_AT", hold.empty() ? nullptr : hold.c_str());
        std::string line = "\"" + windowsProgram + "\" " + args;
        STARTUPINFOA startup = {sizeof startup};
        ASSERT_TRUE(CreateProcessA(windowsProgram.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   tmp.File("win").c_str(), &startup, &run->process));
        SetEnvironmentVariableA("KV_HOLD_AT", nullptr);
    }
    /* Waits until the Windows program holds at its point: true, or false when
    ** it ended first (or in time). */
    bool ReachWindows(WindowsRun *run)
    {
        OVERLAPPED connect = {};
        connect.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        bool reached = ConnectNamedPipe(run->pipe, &connect) || GetLastError() == ERROR_PIPE_CONNECTED;
        if (!reached && GetLastError() == ERROR_IO_PENDING) {
            HANDLE both[2] = {connect.hEvent, run->process.hProcess};
            reached = WaitForMultipleObjects(2, both, FALSE, 120000) == WAIT_OBJECT_0;
            if (!reached) CancelIo(run->pipe);
        }
        CloseHandle(connect.hEvent);
        return reached;
    }
    void ReleaseWindows(WindowsRun *run)
    {
        CloseHandle(run->pipe);
        run->pipe = INVALID_HANDLE_VALUE;
    }
    int WindowsExitCode(WindowsRun *run)
    {
        if (WaitForSingleObject(run->process.hProcess, 120000) != WAIT_OBJECT_0) return -1;
        DWORD code = 0;
        GetExitCodeProcess(run->process.hProcess, &code);
        CloseHandle(run->process.hProcess);
        CloseHandle(run->process.hThread);
        run->process = {};
        return (int)code;
    }
    std::string WindowsErrors() { return ReadTestFile(tmp.File("win\\errorlog.txt")); }

    /* ---- the native program, through the helper ---- */
    /* Starts the native program on args (unix paths) as run name, held at
    ** point ("-" for none). */
    void StartNative(const std::string &name, const std::vector<std::string> &args, const std::string &point)
    {
        std::string line = python + " \"" + unixDir + "/helper.py\" \"" + unixDir + "\" " + name + " " + point + " \"" +
            nativeProgram + "\"";
        for (const std::string &a : args) line += " \"" + a + "\"";
        STARTUPINFOA startup = {sizeof startup};
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        if (process.hProcess) CloseHandle(process.hProcess);
        if (process.hThread) CloseHandle(process.hThread);
    }
    /* The native run's state once it is held or has ended: "reached" or "exit N". */
    std::string NativeState(const std::string &name)
    {
        std::string state;
        while (TimeLeft() && (state = ReadTestFile(tmp.File(name + ".state"))).empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return state;
    }
    void ReleaseNative(const std::string &name) { ASSERT_TRUE(WriteTestFile(tmp.File(name + ".go"), "")); }
    /* Its exit code once it has ended, -1 when it does not end in time. */
    int NativeExitCode(const std::string &name)
    {
        std::string state;
        while (TimeLeft() && (state = ReadTestFile(tmp.File(name + ".state"))).rfind("exit ", 0) != 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return state.rfind("exit ", 0) == 0 ? atoi(state.c_str() + 5) : -1;
    }

    /* The shared results file's tests as "number:script" lines. */
    std::string StoredTests()
    {
        std::string out;
        const std::string path = tmp.File("shared.kvr");
        if (!LoadResultsFile(path.c_str(), 0)) return "unreadable";
        ResultsWindow *window = FindResultsWindowByPath(path.c_str());
        for (const TestRecord *t = window ? window->firstTest : nullptr; t; t = t->next) {
            std::string script = t->settings.ActiveScript;
            script = script.substr(script.find_last_of("\\/") + 1);
            out += std::to_string(t->testNumber) + ":" + script + "\n";
        }
        if (window) CloseResultsWindow(window);
        return out;
    }
    /* Imports the data with the Windows program and saves test 1. */
    void ImportAndSeed()
    {
        for (const char *args : {"-import win-import.kvs", "-test win.kvs"}) {
            WindowsRun run;
            StartWindows(&run, std::string(args).replace(std::string(args).find(' ') + 1, 0, tmp.path + "\\"), "");
            ASSERT_EQ(0, WindowsExitCode(&run)) << args << WindowsErrors();
        }
    }
};

/* A Windows program and a native program saving one results file: the one
** that comes second finds the guard the other holds (whichever build holds
** it), waits, and then adds its test to the other's; every test is kept. */
TEST_F(SharedFilesTest, AWindowsAndANativeSaveOfOneResultsFileTakeTurns)
{
    ImportAndSeed();
    for (int windowsHolds = 1; windowsHolds >= 0; windowsHolds--) {
        SCOPED_TRACE(windowsHolds ? "the Windows program holds the guard" : "the native program holds the guard");
        const std::string name = windowsHolds ? "waits" : "holds";
        WindowsRun windows;
        if (windowsHolds) {
            StartWindows(&windows, "-test " + tmp.File("win.kvs"), "results-guard");
            ASSERT_TRUE(ReachWindows(&windows));
            StartNative(name, {"-test", unixDir + "/nat.kvs"}, "results-busy");
            ASSERT_EQ("reached", NativeState(name)) << "the native save did not wait";
            ReleaseNative(name);
            ReleaseWindows(&windows);
        } else {
            StartNative(name, {"-test", unixDir + "/nat.kvs"}, "results-guard");
            ASSERT_EQ("reached", NativeState(name));
            StartWindows(&windows, "-test " + tmp.File("win.kvs"), "results-busy");
            ASSERT_TRUE(ReachWindows(&windows)) << "the Windows save did not wait";
            ReleaseWindows(&windows);
            ReleaseNative(name);
        }
        EXPECT_EQ(0, WindowsExitCode(&windows)) << WindowsErrors();
        EXPECT_EQ(0, NativeExitCode(name)) << ReadTestFile(tmp.File(name + ".err"));
        EXPECT_EQ("", ReadTestFile(tmp.File(name + ".err")));
        const std::string said = ReadTestFile(tmp.File(name + ".out"));
        EXPECT_NE(std::string::npos, said.find(windowsHolds ? "\nTest 3: " : "\nTest 4: ")) << said;
    }
    EXPECT_EQ("", WindowsErrors());
    EXPECT_EQ("1:win.kvs\n2:win.kvs\n3:nat.kvs\n4:nat.kvs\n5:win.kvs\n", StoredTests());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(tmp.File("shared.kvr.~kvl").c_str()));
}

/* Two imports of one data file, one from each program: the second finds the
** first saving and says so, and the first's data file is whole. */
TEST_F(SharedFilesTest, AnImportOfEachProgramSeesTheOtherSaving)
{
    const std::string another = "Another import is saving this data file.";
    for (int windowsHolds = 1; windowsHolds >= 0; windowsHolds--) {
        SCOPED_TRACE(windowsHolds ? "the Windows import saves first" : "the native import saves first");
        DeleteFileA(tmp.File("win\\errorlog.txt").c_str());
        const std::string name = windowsHolds ? "second" : "first";
        WindowsRun windows;
        if (windowsHolds) {
            StartWindows(&windows, "-import " + tmp.File("win-import.kvs"), "data-save");
            ASSERT_TRUE(ReachWindows(&windows));
            StartNative(name, {"-import", unixDir + "/nat-import.kvs"}, "-");
            EXPECT_EQ(6, NativeExitCode(name));
            EXPECT_NE(std::string::npos, ReadTestFile(tmp.File(name + ".err")).find(another))
                << ReadTestFile(tmp.File(name + ".err"));
            ReleaseWindows(&windows);
            EXPECT_EQ(0, WindowsExitCode(&windows)) << WindowsErrors();
            EXPECT_EQ("", WindowsErrors());
        } else {
            StartNative(name, {"-import", unixDir + "/nat-import.kvs"}, "data-save");
            ASSERT_EQ("reached", NativeState(name));
            StartWindows(&windows, "-import " + tmp.File("win-import.kvs"), "");
            EXPECT_EQ(6, WindowsExitCode(&windows));
            EXPECT_NE(std::string::npos, WindowsErrors().find(another)) << WindowsErrors();
            ReleaseNative(name);
            EXPECT_EQ(0, NativeExitCode(name)) << ReadTestFile(tmp.File(name + ".err"));
        }
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(tmp.File("data.kvd.~kv").c_str()));
        WindowsRun test;
        StartWindows(&test, "-test " + tmp.File("win.kvs"), "");
        EXPECT_EQ(0, WindowsExitCode(&test)) << WindowsErrors();
    }
}

/* Two Windows programs on one results file: one saves while the other is
** loading the file.  The save waits for the load (the system refuses to put
** a file in place of one another program has open), and neither loses a test. */
TEST_F(SharedFilesTest, ALoadDoesNotMakeAnotherWindowsProgramsSaveFail)
{
    ImportAndSeed();
    WindowsRun loading, saving;
    StartWindows(&loading, "-test " + tmp.File("win.kvs"), "results-load");
    ASSERT_TRUE(ReachWindows(&loading));
    StartWindows(&saving, "-test " + tmp.File("win.kvs"), "results-busy");
    ASSERT_TRUE(ReachWindows(&saving)) << "the save did not wait for the load";
    ReleaseWindows(&saving);
    ReleaseWindows(&loading);
    EXPECT_EQ(0, WindowsExitCode(&saving)) << WindowsErrors();
    EXPECT_EQ(0, WindowsExitCode(&loading)) << WindowsErrors();
    EXPECT_EQ("", WindowsErrors());
    EXPECT_EQ("1:win.kvs\n2:win.kvs\n3:win.kvs\n", StoredTests());
}

} // namespace
