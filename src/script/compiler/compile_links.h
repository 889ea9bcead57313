/* compile_links.h -- what the formula compiler and the formula renderer ask
** of the loaded data, the strategies, the plug-in library and the compile
** driver.  compile_links.cpp answers from the symbol store, the data file's
** header and the strategy records; the plug-in module of the built-ins
** answers for the plug-in library.
*/
#pragma once
#include <cstdint>

/* 1 or 2: the pass of the running script compile (2 runs with the data file
** loaded); 0 outside a script compile. */
int CurrentCompilePass();
/* 1-based index of the loaded symbol with this text (case ignored), 0 none;
** the symbol store's FindSymbolIndex. */
int32_t LookupSymbolIndex(const char *name);
/* Loaded symbols, and the text of the 1-based symbol k. */
int32_t LoadedSymbolCount();
const char *LoadedSymbolName(int32_t k);
/* 1-based number of the strategy record with this name (case ignored), 0 none. */
int32_t LookupStrategyNumber(const char *name);
/* Strategy names for rendering: the compiled strategies'. */
int32_t RenderStrategyCount();
const char *RenderStrategyName(int32_t index);
/* 1 when the index constituency series (list number + 1) is one the loaded
** data file includes. */
int ConstituencySeriesLoaded(int32_t series);
/* 1 when the plug-in library loads and has its data-calculation entry
** (answered by the plug-in module of the built-ins). */
int LoadDataCalcPlugin();
/* Name of the 1-based compiled strategy (for error titles), "" when none. */
const char *CompiledStrategyName(int32_t number);
/* The preprocessor: 1 when a directive began at *pText (the pointer then
** stands where reading goes on), else 0 with the pointer unchanged.  Without
** a state it runs in skipping mode. */
struct CompilerState;
int HandlePreprocessorDirective(const char **pText, CompilerState *state);
