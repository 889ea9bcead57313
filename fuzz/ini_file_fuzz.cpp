/* ini_file_fuzz.cpp -- libFuzzer target for the settings file: any bytes as a
** settings file, loaded into the settings, saved, loaded and saved again.
** Whatever the bytes, the two saved files hold the same bytes: what the
** program writes, it reads back as written.  Seeds in fuzz/seeds/ini_file_fuzz/
** are replayed by the normal test build.
*/
#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/allocator.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "services/services.h"

/* The settings from path, saved to out; the saved bytes, or "" when either
** step failed. */
static std::string LoadAndSave(const char *path, const char *out)
{
    ResetSettingsToDefaults();
    if (!LoadSettings(path)) return "";
    gSettings.MaxBackups = 0; /* no backups of the scratch files */
    if (!SaveSettings(out)) return "";
    char *text = nullptr;
    uint32_t size = 0;
    if (!LoadFile(out, &text, &size)) return "";
    std::string bytes(text, size);
    FreeMemory(&text);
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    char base[200], input[260], first[260], second[260];
    if (!PlatGetEnv("TMPDIR", base, sizeof base) && !PlatGetEnv("TEMP", base, sizeof base))
        CopyString(base, sizeof base, "/tmp", -1);
    unsigned id = PlatCurrentThreadId();
    FormatText(input, sizeof input, "%s\\kv_ini_fuzz_%u.ini", base, id);
    FormatText(first, sizeof first, "%s\\kv_ini_fuzz_%u_a.ini", base, id);
    FormatText(second, sizeof second, "%s\\kv_ini_fuzz_%u_b.ini", base, id);
    PlatFile f = PlatOpenFile(input, PLAT_CREATE_WRITE);
    if (!f) return 0;
    uint32_t written = 0;
    PlatWriteFile(f, data, (uint32_t)size, &written);
    PlatCloseFile(f);

    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    const int unattended = gRun.unattended;
    gRun.unattended = 0; /* an unattended run never saves */
    const char *why = nullptr;
    std::string once = LoadAndSave(input, first);
    if (!once.empty()) {
        std::string twice = LoadAndSave(first, second);
        if (twice != once) why = "the settings saved from a saved file are not the same bytes";
    }
    ResetSettingsToDefaults();
    gRun.unattended = unattended;
    ResetHeadlessShell();
    PlatDeleteFile(input);
    PlatDeleteFile(first);
    PlatDeleteFile(second);
    if (why) {
        fprintf(stderr, "%s\n", why);
        __builtin_trap();
    }
    return 0;
}
