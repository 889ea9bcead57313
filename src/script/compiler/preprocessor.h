/* preprocessor.h -- conditional blocks and defined symbols in script text.
**
** Scripts may hold "#define", "#undef", "#ifdef", "#ifndef", "#else" and
** "#endif" lines.  There is no macro replacement: symbols only decide which
** blocks are read.  The run-mode words ("import", "apply", "scan", "test",
** "optimize", "orders") and "standalone" are predefined, so one script can hold
** parts for one kind of run, or parts read only when no other script includes it.
**
** Owns:       nothing; the state lives in the compiler state of the compile (the
**             defined names, tagged -1; the conditional
**             nesting; PREPROC_SLOTS condition slots per file level; the
**             pending error).  Without a state the directives are only skipped.
** Invariants: the nesting stays below PREPROC_SLOTS: a deeper block leaves the
**             structure error instead of a slot past the end.
** Errors:     never returned; HandlePreprocessorDirective leaves a compile error
**             code (12 no symbol, 7 bad block structure) as the state's pending
**             error for the parser to report at the directive.
** Platform:   none.  UI thread (compile) or the editor's thread.
*/
#pragma once
#include <cstdint>

struct CompilerState;

enum {
    PREPROC_SLOTS = 32,     /* condition slots per file level */
    PREPROC_LEVELS = 32,    /* file levels (include depth 1 .. 31) */
    PREPROC_DEFINE_TAG = -1 /* section tag of "#define" names in the script-name list */
};

/* Condition slot values. */
enum { COND_NONE = 0,
       COND_TRUE = 1,
       COND_ELSE = -1 };

/* When a directive begins at *pText (a directive name, case ignored, then NUL
** or white space), acts on it, moves *pText to where reading goes on and
** returns 1; otherwise returns 0 with *pText unchanged.  The run-mode words
** answer to the run mode of the compile (gCompileSession.mode). */
int HandlePreprocessorDirective(const char **pText, CompilerState *state);

/* 1 when one of the directive names (case ignored) followed by NUL or white
** space stands at p; nothing is changed. */
int IsPreprocessorDirectiveAt(const char *p);

/* 1 when the symbol counts as defined for this state: a run-mode word names the
** compile's run mode, "standalone" holds in the top-level file, any other word
** when "#define" gave it. */
int IsPreprocessorSymbolDefined(const char *symbol, const CompilerState *state);
