/* errors.cpp -- ReportError, MessageBoxFormat and the message state. */
#include "foundation/errors.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "services/services.h"

MessageState gMessageState = {"Kestovar", nullptr, "", {0}, 0, nullptr, 0, nullptr, nullptr, {0}};

enum { MB_ICONINFORMATION_STYLE = 0x40 };

const char *PathAsShown(const char *path, char *out, size_t size)
{
    CopyString(out, (int)size, path, -1);
    if (gMessageState.nativePaths) PlatNativePath(out, out, size);
    return out;
}

/* One entry at a time: workers report too, and their entries must not mix. */
static std::mutex sErrorLogLock;

static void AppendErrorLog(const char *message)
{
    PlatDateTime now;
    GetUtcDateTime(&now);
    /* An error before the settings are read (a bad settings file on the
    ** command line) still carries its date, in the default picture. */
    const char *picture = gSettings.DateDisplayFormat[0] ? gSettings.DateDisplayFormat : "M/d/yy";
    char date[DATE_TEXT_SIZE];
    FormatDate(MakeDate(now.year, now.month, now.day), picture, date);
    char stamp[64];
    FormatText(stamp, sizeof stamp, "%s %02d:%02d:%02d", date, now.hour, now.minute, now.second);
    char path[PATH_SIZE + 16];
    FormatText(path, sizeof path, "%s\\errorlog.txt", gProgramFolder);
    char entry[1400];
    /* The script a batch is on names the entry; it need not be the settings'
    ** active script yet (a script that cannot be read never becomes it). */
    const char *script = gRunningScript[0] ? gRunningScript : gSettings.ActiveScript;
    int n = FormatText(entry, sizeof entry, "\n>>> %s error in %s <<<\n%s\n", stamp, script, message);
    if (gMessageState.nativePaths) PlatNativePath(entry, entry, sizeof entry);

    std::lock_guard<std::mutex> hold(sErrorLogLock);
    /* An entry that did not reach the log (a folder the user may not write,
    ** a full disk) is no entry to point the user to: its keeper hears why. */
    char reason[256] = "";
    PlatFile f = PlatOpenFile(path, PLAT_OPEN_APPEND);
    if (!f) {
        PlatErrorText(PlatLastError(), reason, sizeof reason);
    } else {
        uint32_t written = 0;
        if (!PlatWriteFile(f, entry, (uint32_t)n, &written) || written != (uint32_t)n)
            PlatErrorText(PlatLastError(), reason, sizeof reason);
        if (!PlatCloseFile(f) && !reason[0]) PlatErrorText(PlatLastError(), reason, sizeof reason);
    }
    /* The log is shared by every copy of the program; what this one reported
    ** is kept apart from it, so another run's entries are never taken for
    ** this one's. */
    if (gMessageState.keepEntry) gMessageState.keepEntry(entry, reason[0] ? reason : nullptr);
}

/* The suppress flag belongs to the UI thread, which sets it around one call
** that may fail harmlessly; before start-up has named the UI thread there is
** only one thread. */
static int OnUiThread()
{
    return gRun.uiThreadId == 0 || PlatCurrentThreadId() == gRun.uiThreadId;
}

/* A message box; on the UI thread its time is the user's, not the run's. */
static int ShowTimedMessageBox(const char *text, uint32_t style)
{
    if (!OnUiThread()) return ShowMessageBox(text, gMessageState.title, style);
    const uint64_t shown = PlatTickCount64();
    const int answer = ShowMessageBox(text, gMessageState.title, style);
    gMessageState.boxWaitMs += PlatTickCount64() - shown;
    return answer;
}

uint64_t RunClockMs() { return PlatTickCount64() - gMessageState.boxWaitMs.load(); }

void ReportError(const char *format, ...)
{
    if (OnUiThread() && gMessageState.suppressNext.exchange(0)) return;
    char message[1024];
    va_list args;
    va_start(args, format);
    FormatTextV(message, sizeof message, format, args);
    va_end(args);
    if (gMessageState.reportTap) gMessageState.reportTap(message);
    if (gRun.unattended)
        AppendErrorLog(message);
    else
        ShowTimedMessageBox(message, MB_ICONINFORMATION_STYLE);
}

int MessageBoxFormat(uint32_t style, const char *format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    FormatTextV(message, sizeof message, format, args);
    va_end(args);
    return ShowTimedMessageBox(message, style);
}

int InitMessages(void *ignored, void *owner, const char *backupRoot)
{
    gMessageState.owner = owner;
    CopyString(gMessageState.backupRoot, sizeof gMessageState.backupRoot, backupRoot, -1);
    return 1;
}
