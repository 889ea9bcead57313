/* builtin_fixture.h -- the evaluator fixture with symbol AAA given a longer,
** chosen price history, and one-pass evaluation as the Data calculation
** does it. */
#pragma once
#include <string>
#include <vector>

#include "eval_fixture.h"

struct BarSpec {
    double open, high, low, close, volume, split;
};

struct BuiltinTest : EvalTest {
    void SetUp() override;
    void TearDown() override;
    /* Replaces AAA's daily bars (consecutive weekdays from 3 January 2000) and
    ** points the context at its last bar with price scale 1. */
    void SetBars(const std::vector<BarSpec> &bars);
    /* Bars whose open, high, low and close are all c (volume 1000, split 1). */
    void SetCloses(const std::vector<double> &closes);
    /* A seeded random walk of n bars with 2:1 splits before bars split1 and
    ** split2 (0 none). */
    void SetRandomBars(int32_t n, uint32_t seed, int32_t split1 = 0, int32_t split2 = 0);
    /* The value at bar (price scale of that bar, as the Data calculation
    ** evaluates bar by bar), NaN when none. */
    double ValueAt(FormulaSlot *slot, int32_t bar);
    /* The one-pass outputs of the formula over all of AAA's bars (NaN where
    ** it writes none). */
    std::vector<double> OnePass(FormulaSlot *slot, int32_t option = 0);
    int32_t barCount = 0;
};
