/* errors.cpp -- ReportError, MessageBoxFormat and the message state. */
#include "foundation/errors.h"

#include <cstdarg>
#include <cstdio>

#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "shell/services.h"

MessageState gMessageState = {"Kestovar", nullptr, "", {0}, 0};

enum { MB_ICONINFORMATION_STYLE = 0x40 };

static void AppendErrorLog(const char *message)
{
    PlatDateTime now;
    PlatGetLocalTime(&now);
    char stamp[64];
    FormatText(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d", now.year, now.month, now.day,
               now.hour, now.minute, now.second);
    char path[300];
    FormatText(path, sizeof path, "%s\\errorlog.txt", gProgramFolder);
    PlatFile f = PlatOpenFile(path, PLAT_OPEN_APPEND);
    if (!f) return;
    char entry[1400];
    int n = FormatText(entry, sizeof entry, "\n>>> %s error in %s <<<\n%s\n", stamp, gSettings.ActiveScript, message);
    uint32_t written;
    PlatWriteFile(f, entry, (uint32_t)n, &written);
    PlatCloseFile(f);
}

void ReportError(const char *format, ...)
{
    if (gMessageState.suppressNext.exchange(0)) return;
    char message[1024];
    va_list args;
    va_start(args, format);
    FormatTextV(message, sizeof message, format, args);
    va_end(args);
    if (gUnattended)
        AppendErrorLog(message);
    else
        ShowMessageBox(message, gMessageState.title, MB_ICONINFORMATION_STYLE);
}

int MessageBoxFormat(uint32_t style, const char *format, ...)
{
    char message[1024];
    va_list args;
    va_start(args, format);
    FormatTextV(message, sizeof message, format, args);
    va_end(args);
    return ShowMessageBox(message, gMessageState.title, style);
}

int InitMessages(void *ignored, void *owner, const char *backupRoot)
{
    gMessageState.owner = owner;
    CopyString(gMessageState.backupRoot, sizeof gMessageState.backupRoot, backupRoot, -1);
    return 1;
}
