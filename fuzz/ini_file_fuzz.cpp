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
#include "fuzz_input.h"
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
    const std::string input = FuzzInputFile("kv_ini_fuzz", ".ini", data, size);
    if (input.empty()) return 0;
    const std::string first = FuzzScratchPath("kv_ini_fuzz", "_a.ini"), second = FuzzScratchPath("kv_ini_fuzz", "_b.ini");

    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    const int unattended = gRun.unattended;
    gRun.unattended = 0; /* an unattended run never saves */
    const char *why = nullptr;
    std::string once = LoadAndSave(input.c_str(), first.c_str());
    if (!once.empty()) {
        std::string twice = LoadAndSave(first.c_str(), second.c_str());
        if (twice != once) why = "the settings saved from a saved file are not the same bytes";
    }
    ResetSettingsToDefaults();
    gRun.unattended = unattended;
    ResetHeadlessShell();
    for (const std::string &path : {input, first, second}) PlatDeleteFile(path.c_str());
    if (why) return FuzzCheckFailed(why);
    return 0;
}
