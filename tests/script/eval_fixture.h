/* eval_fixture.h -- formulas compiled from text and evaluated over a small
** hand-made symbol store. */
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "compiler_fixture.h"
#include "script/eval/eval_context.h"

/* Two symbols, "AAA" and "BBB", with ten daily bars each on the market days
** 25 January .. 7 February 2024.  Bar i of AAA: open 10 + i, high 12 + i,
** low 9 + i, close 11 + i, volume 1000 × (i + 1), extra i / 2; split factor 2
** on bars 0..2 (before a 2:1 split) and 1 from bar 3 on.  BBB has the same
** bars times ten. */
struct EvalTest : CompilerTest {
    EvalContext ctx{};
    std::vector<FormulaItem> library;   /* the Library list the formulas see */
    std::vector<FormulaItem> dataItems; /* the Data list */
    void SetUp() override;
    void TearDown() override;

    /* Points the context at bar of AAA with the given phase. */
    void AtBar(int32_t bar, int32_t phase = PHASE_CLOSE);
    /* Compiles text in section; fails the test when it does not compile. */
    FormulaSlot *CompileText(const std::string &text, uint32_t section = 0);
    /* Compiles and evaluates; the value (0.0 after a failure) and the result code. */
    int Eval(const std::string &text, double *value, uint32_t section = 0);
    /* The value, or NaN when the formula has no value. */
    double Value(const std::string &text);
    /* Adds Library items (name, formula text) and compiles them all. */
    void SetLibrary(const std::vector<std::pair<std::string, std::string>> &items);
};

extern const int32_t kFixtureDates[10];
