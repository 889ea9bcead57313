// script_parser_fuzz.cpp -- libFuzzer target for the script text parser: any
// bytes as a script file, parsed in every run mode.  Includes resolve against
// an empty scripts folder.  Not part of the normal builds; build it with clang
// from the repository root:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     fuzz/script_parser_fuzz.cpp $(find src -name '*.cpp' ! -path '*/win32/*' \
//     ! -path '*/posix/*') src/platform/posix/*.cpp -o build/fuzz_script_parser
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/allocator.h"
#include "foundation/path_macros.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/script_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/strategy.h"
#include "shell/headless/headless.h"
#include "shell/services.h"

static void ClearCompiledScript()
{
    for (DefinitionList *list : {&gDataItems, &gTestDataItems, &gStratDataItems, &gLibraryItems, &gResultsColumns,
                                 &gGraphsColumns, &gChartsColumns, &gTradesColumns, &gScanColumns, &gTestScanColumns})
        FreeDefinitionList(list);
    FreeParameterLists();
    FreeStrategyRecords();
    gTradesSort[0] = gScanSort[0] = gTestScanSort[0] = 0;
    gScanFilterCount = gTestScanFilterCount = 0;
    gImportFilter = StandaloneFormula{};
    gSkipTestIf = gTestNameFormula = gOrdersComment = StandaloneFormula{};
    for (int i = 0; i < RUNSET_COUNT; i++) SetRunSetting(i, 0);
    ResetIncludeState();
    FreeMemory(&gCompiler.definedNames);
    gCompiler.definedNameCount = 0;
    gCompileSession = CompileSession{};
    ResetScriptParserState();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static std::string folder, path;
    if (folder.empty()) {
        char pattern[] = "/tmp/kv_parser_fuzz_XXXXXX";
        if (!mkdtemp(pattern)) return 0;
        folder = pattern;
        path = folder + "/script.kvs";
    }
    gUnattended = 0;   /* errors go to the headless message boxes, not to a log file */
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) return 0;
    fwrite(data, 1, size, f);
    fclose(f);
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    CopyString(gScriptsFolder, sizeof gScriptsFolder, folder.c_str(), -1);
    for (int mode = 0; mode < 6; mode++) {
        ClearCompiledScript();
        gSettings.FirstDate = 20240102;
        gSettings.LastDate = 20240301;
        gCompileSession.mode = mode;
        gCompiler.includeDepth = 1;
        char nameSpace[64] = "";
        char *text = ParseScriptText(path.c_str(), nameSpace);
        FreeMemory(&text);
        ResetHeadlessShell();
        gHeadless.captureLog = 1;
        gOutOfMemory = 0;
    }
    ClearCompiledScript();
    return 0;
}
