/* debug_eval.h -- the debug panel's work that needs no window: the evaluation
** context of the chosen symbol, date, test and strategy, the position held
** there, evaluating a formula with its trace into the log, the data and
** statistics tables, and the open positions the last run left.  The panel
** (win32/debug_panel.cpp) reads its controls into the settings and a
** DebugSelection, calls these, and shows what they give.
**
** Reads:      gSettings.DebugDate, DebugSymbol, DebugBars, DebugShowEval,
**             BarSize2; the loaded data; the first results list.
** Writes:     gSettings.DebugDate when the chosen date is not a market date
**             of the symbol (the panel is told through SetPanelDate).
** Errors:     CheckDebugContext reports through ReportError and returns 0.
** Threads:    UI thread, with no run going.
*/
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct EvalContext;
struct PositionRecord;
struct TestRecord;

/* What the panel's Test and Strategy combos name. */
struct DebugSelection {
    int32_t testListed;    /* the Test combo has items */
    TestRecord *test;      /* the test it names, null none */
    int32_t strategyIndex; /* the strategy the Strategy combo names, -1 none */
};

/* Builds the context of the panel's choice: date, symbol and its bar (need
** date), test and stat row (need test, need stats), strategy and, with a
** position record, the position held on the date.  1, or 0 after reporting. */
int CheckDebugContext(const DebugSelection *selection, EvalContext *context, PositionRecord *position,
                      int needDate, int needTest, int needStats);
/* The first of the test's trades of the context's strategy (or a member of
** it) in the context's symbol whose entry and exit bars hold the context's
** bar fills position, and the context points to it; otherwise the context
** keeps no position. */
void FindDebugPosition(EvalContext *context, PositionRecord *position);
/* The blue notice that the debug date moved, and the panel's picker set. */
void ShowDebugDateChanged();

/* The test of the first results list a Test combo text names: by its leading
** number, else by the whole "%.4d:%s" text or the test's name.  Null when none. */
TestRecord *FindTestByText(const char *text, int byNumber);
/* The test's strategy named text (case ignored), -1 when none. */
int FindStrategyByName(const char *text, const TestRecord *test);

enum DebugEvalResult {
    DEBUG_EVAL_FAILED = 0,      /* reported, or the context could not be built */
    DEBUG_EVAL_DONE = 1,        /* the result is in the log */
    DEBUG_EVAL_RANGE = 2,       /* an optimization range: its values are in the log */
    DEBUG_EVAL_NOT_COMPILED = 3 /* errorOffset/errorLength give the failing span */
};
/* Evaluates the formula text for the panel's context with the trace when
** DebugShowEval is set, logging header and result; the caller shows the log. */
int EvalDebugText(const char *text, const DebugSelection *selection, int32_t *errorOffset, int32_t *errorLength);

/* A table for a list window. */
struct DebugTable {
    std::string title, listName;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
};
/* The symbol's bars and Data and TestData items from the context's bar back
** DebugBars bars (not before the first bar), newest first. */
void BuildDebugDataTable(EvalContext *context, DebugTable *table);
/* The strategy's Graphs columns, StratData values and built-in statistics
** from the context's stat row back min(row + 1, DebugBars) rows, newest first. */
void BuildDebugStatsTable(EvalContext *context, DebugTable *table);

/* 1 when the last run left a strategy with open positions. */
int HasOpenPositions();
/* Logs the open positions of the current test's run. */
void LogOpenPositions();
