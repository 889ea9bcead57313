// ndu_trigger.cpp (native) -- a stand-in for the data updater's launcher and main
// window, for the tests of the updater control.  The tests copy it to
// <folder>\bin\ndu.trigger.exe and run it as the program runs the real one:
//
//   ndu.trigger.exe donotshow          start the updater (idle) unless it runs
//   ndu.trigger.exe update donotshow   start an update (starting it if need be)
//   ndu.trigger.exe close              ask the running updater to close
//   ndu.trigger.exe install DATAPATH   write its key: InstallPath (the folder
//                                      above bin) and DATAPATH
//   ndu.trigger.exe uninstall          remove the key
//
// The running updater is a top-level window titled "Norgate Data Updater";
// while it updates (BUSY_MS) a child window reads "Cancel Update".  It closes
// by itself after LIFETIME_MS, so a failed test leaves nothing behind.
//
// On Windows these are a real window and the registry key.  In the native
// build they are files in the folder named by KV_NDU_HOME, which the native
// platform layer reads the same way: norgate.reg ("Name=Value" lines),
// window.txt (the owner's process id, the title, one line per child) and
// request.txt (a verb for the running updater).
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

enum { BUSY_MS = 1500,
       LIFETIME_MS = 120000 };
static const char kTitle[] = "Norgate Data Updater";
static const char kCancel[] = "Cancel Update";

// The folder above the program's own "bin" folder, ending in a separator.
static std::string InstallFolder(const char *self, char separator)
{
    std::string path = self;
    size_t cut = path.find_last_of("\\/");
    path = cut == std::string::npos ? "" : path.substr(0, cut);
    cut = path.find_last_of("\\/");
    return (cut == std::string::npos ? "" : path.substr(0, cut)) + separator;
}

static std::string Home()
{
    const char *home = getenv("KV_NDU_HOME");
    std::string path = home ? home : "";
    for (char &c : path)
        if (c == '\\') c = '/';
    return path;
}

static long long NowMs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (long long)t.tv_sec * 1000 + t.tv_nsec / 1000000;
}

// Replaces a file whole, so a reader never sees half of it.
static void WriteWhole(const std::string &path, const std::string &text)
{
    std::string temp = path + ".tmp";
    FILE *f = fopen(temp.c_str(), "wb");
    if (!f) return;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    rename(temp.c_str(), path.c_str());
}

static std::string ReadWhole(const std::string &path)
{
    std::string text;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return text;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    fclose(f);
    return text;
}

// The process id of the running updater, 0 when none.
static long RunningUpdater()
{
    long pid = atol(ReadWhole(Home() + "/window.txt").c_str());
    return pid > 0 && kill((pid_t)pid, 0) == 0 ? pid : 0;
}

static void ShowWindow(bool busy)
{
    WriteWhole(Home() + "/window.txt",
               std::to_string((long)getpid()) + "\n" + kTitle + "\n" + (busy ? std::string(kCancel) + "\n" : ""));
}

int main(int argc, char **argv)
{
    const char *verb = argc > 1 ? argv[1] : "";
    if (Home().empty()) return 1;
    std::string request = Home() + "/request.txt";
    if (strcmp(verb, "install") == 0 && argc > 2) {
        WriteWhole(Home() + "/norgate.reg",
                   "InstallPath=" + InstallFolder(argv[0], '/') + "\nDataPath=" + argv[2] + "\n");
        return 0;
    }
    if (strcmp(verb, "uninstall") == 0) return remove((Home() + "/norgate.reg").c_str()) == 0 ? 0 : 1;
    bool update = strcmp(verb, "update") == 0;
    if (strcmp(verb, "close") == 0 || RunningUpdater()) {
        if (RunningUpdater() && (update || strcmp(verb, "close") == 0)) WriteWhole(request, verb);
        return 0;
    }
    long long started = NowMs(), busyUntil = update ? started + BUSY_MS : 0;
    ShowWindow(update);
    for (;;) {
        usleep(20000);
        std::string asked = ReadWhole(request);
        if (!asked.empty()) remove(request.c_str());
        if (asked == "close" || NowMs() - started > LIFETIME_MS) break;
        if (asked == "update") {
            busyUntil = NowMs() + BUSY_MS;
            ShowWindow(true);
        } else if (busyUntil && NowMs() >= busyUntil) {
            busyUntil = 0;
            ShowWindow(false);
        }
    }
    remove((Home() + "/window.txt").c_str());
    return 0;
}
