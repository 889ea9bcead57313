/* preprocessor_test.cpp -- conditional blocks by run mode and file level. */
#include <gtest/gtest.h>

#include <string>

#include "foundation/allocator.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/script_state.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/preprocessor.h"

namespace {

/* Walks text as the parser does: directives are handled, every other
** character is kept.  Returns what is read, or "error N" for a pending error. */
std::string Preprocess(const std::string &text, int mode, int depth = 1, bool withState = true)
{
    FreeMemory(&gCompiler.definedNames);
    gCompiler = CompilerState{};
    gCompiler.includeDepth = depth;
    gCompileSession.mode = mode;
    std::string seen;
    const char *p = text.c_str();
    while (*p) {
        if (HandlePreprocessorDirective(&p, withState ? &gCompiler : nullptr)) {
            if (gCompiler.pendingError) return "error " + std::to_string(gCompiler.pendingError);
            continue;
        }
        seen.push_back(*p++);
    }
    return seen;
}

struct Case {
    const char *text;
    int mode;
    int depth;
    const char *read;
};

/* clang-format off */
const Case kCases[] = {
    /* run-mode symbols */
    {"#ifdef test\nA\n#endif\nB", 3, 1, "\nA\n\nB"},
    {"#ifdef test\nA\n#endif\nB", 2, 1, "\nB"},
    {"#ifdef scan\nA\n#else\nB\n#endif", 2, 1, "\nA\n"},
    {"#ifdef scan\nA\n#else\nB\n#endif", 3, 1, "\nB\n"},
    {"#ifndef orders\nA\n#endif", 5, 1, ""},
    {"#ifdef import A #endif", 0, 1, " A "},
    {"#ifdef optimize A #endif", 4, 1, " A "},
    /* standalone holds in the top-level file only */
    {"#ifndef standalone\nA\n#endif", 3, 1, ""},
    {"#ifndef standalone\nA\n#endif", 3, 2, "\nA\n"},
    /* defined symbols, case-insensitive directives */
    {"#define X\n#ifdef X\nA\n#endif", 3, 1, "\n\nA\n"},
    {"#define X\n#undef X\n#ifdef X\nA\n#endif", 3, 1, "\n\n"},
    {"#DEFINE x\n#IFDEF X\nA\n#ENDIF", 3, 1, "\n\nA\n"},
    /* nested blocks inside a false block are skipped whole, else parts too */
    {"#ifdef nope\n#ifdef test\nA\n#else\nB\n#endif\nC\n#else\nD\n#endif", 3, 1, "\nD\n"},
    {"#ifdef test\n#ifdef scan\nA\n#else\nB\n#endif\nC\n#endif", 3, 1, "\n\nB\n\nC\n"},
    /* structure errors */
    {"#endif", 3, 1, "error 7"},
    {"#else\nA", 3, 1, "error 7"},
    {"#ifdef nope\nA\n#else\nB\n#else\nC\n#endif", 3, 1, "error 7"},
    {"#ifdef nope\nA", 3, 1, "error 7"},
    {"#ifdef test\nA\n#else\nB\n#else\nC\n#endif", 3, 1, "error 7"},
    /* a directive needs its symbol, with white space after it */
    {"A\n#define", 3, 1, "error 12"},
    {"A\n#define X", 3, 1, "error 12"},
    {"#ifdef", 3, 1, "error 12"},
    /* a name that only begins like a directive is text */
    {"#defined X", 3, 1, "#defined X"},
};
/* clang-format on */

TEST(Preprocessor, ReadsTheBlocksOfTheRunModeAndFileLevel)
{
    for (const Case &c : kCases)
        EXPECT_EQ(Preprocess(c.text, c.mode, c.depth), c.read) << c.text << " mode " << c.mode;
}

TEST(Preprocessor, SkippingModePassesOverEveryDirective)
{
    /* clang-format off */
    const Case cases[] = {
        {"#ifdef test A #endif B", 3, 1, " B"},
        {"#define X A", 3, 1, " A"},
        {"#ifdef x #ifdef y A #endif B #endif C", 3, 1, " C"},
        {"#else A #endif B", 3, 1, " B"},
        {"#endif B", 3, 1, " B"},
    };
    /* clang-format on */
    for (const Case &c : cases) EXPECT_EQ(Preprocess(c.text, c.mode, c.depth, false), c.read) << c.text;
}

TEST(Preprocessor, NestingBeyondTheSlotsIsAStructureErrorNotAnOverrun)
{
    std::string open, close;
    for (int i = 0; i < PREPROC_SLOTS - 1; i++) open += "#ifdef test\n";
    for (int i = 0; i < PREPROC_SLOTS - 1; i++) close += "#endif\n";
    EXPECT_EQ(Preprocess(open + "#ifdef test\nA\n#endif\n" + close, 3), std::string(31 + 1, '\n') + "A\n" + std::string(32, '\n'))
        << "32 levels fit";
    EXPECT_EQ(Preprocess(open + "#ifdef test\n#ifdef test\nA\n#endif\n#endif\n" + close, 3), "error 7");
    EXPECT_LT(gCompiler.conditionNesting, PREPROC_SLOTS);
}

TEST(Preprocessor, DefinedNamesAreKeptOncePerName)
{
    Preprocess("#define A\n#define a\n#define B\n", 3);
    ASSERT_EQ(gCompiler.definedNameCount, 2);
    EXPECT_EQ(gCompiler.definedNames[0].tag, PREPROC_DEFINE_TAG);
    EXPECT_TRUE(IsPreprocessorSymbolDefined("b", &gCompiler));
    EXPECT_FALSE(IsPreprocessorSymbolDefined("C", &gCompiler));
    FreeMemory(&gCompiler.definedNames);
    gCompiler = CompilerState{};
}

} // namespace
