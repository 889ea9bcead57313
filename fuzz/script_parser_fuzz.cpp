// script_parser_fuzz.cpp -- libFuzzer target for the script text parser: any
// bytes as a script file, parsed in every run mode.  Includes resolve against
// an empty scripts folder, a "Scripts" folder below the scratch folder, so
// that paths resolved against it are as long as they are in use.  A parse that fails must have shown exactly one
// message (unless an allocation failed: the low-memory state reports that).
// Built with clang by the preset "fuzz"
// (tools/fuzz-smoke); its seeds in fuzz/seeds/script_parser_fuzz/ are replayed
// by the normal test build, on both systems.
#include <cstddef>
#include <cstdint>

#include "foundation/allocator.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "fuzz_input.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/script_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/strategy.h"
#include "shell/headless/headless.h"
#include "platform/platform.h"
#include "services/services.h"

static void ClearCompiledScript()
{
    ResetScriptState(SCRIPT_RESET_RELEASE);
    for (int i = 0; i < RUNSET_COUNT; i++) SetRunSetting(i, 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string top = FuzzScratchPath("kv_parser_fuzz"), dir = top + "\\Scripts", file = dir + "\\script.kvs";
    if (!PlatCreateFolder(top.c_str()) || !PlatCreateFolder(dir.c_str()) || !FuzzWriteFile(file, data, size)) {
        PlatRemoveFolder(top.c_str());
        return 0;
    }
    const char *folder = dir.c_str(), *path = file.c_str();
    /* Both are put back at the end, for a program that replays the seeds. */
    const int unattended = gRun.unattended;
    char scriptsFolder[sizeof gScriptsFolder];
    CopyString(scriptsFolder, sizeof scriptsFolder, gScriptsFolder, -1);
    gRun.unattended = 0; /* errors go to the headless message boxes, not to a log file */
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    CopyString(gScriptsFolder, sizeof gScriptsFolder, folder, -1);
    const char *why = nullptr;
    for (int mode = 0; mode < 6 && !why; mode++) {
        ClearCompiledScript();
        gSettings.FirstDate = 20240102;
        gSettings.LastDate = 20240301;
        gCompileSession.mode = mode;
        gCompiler.includeDepth = 1;
        char nameSpace[64] = "";
        char *text = ParseScriptText(path, nameSpace);
        if (!text && !gOutOfMemory.load() && gHeadless.messageCount != 1)
            why = "a parse that failed did not show exactly one message";
        FreeMemory(&text);
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        gOutOfMemory = 0;
    }
    ClearCompiledScript();
    PlatDeleteFile(path);
    PlatRemoveFolder(folder);
    PlatRemoveFolder(top.c_str());
    gRun.unattended = unattended;
    CopyString(gScriptsFolder, sizeof gScriptsFolder, scriptsFolder, -1);
    return why ? FuzzCheckFailed(why) : 0;
}
