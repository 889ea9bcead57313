/* compiler_fixture.h -- compiling formula texts in tests and writing node
** arrays in a compact form that a test can compare as a whole. */
#pragma once
#include <gtest/gtest.h>

#include <deque>
#include <initializer_list>
#include <string>
#include <vector>

#include "script/compiler/compile_errors.h"
#include "script/compiler/formula.h"

/* A column to install: its compiled slot and the SectionId of its list. */
struct FixtureColumn {
    FormulaSlot *slot;
    uint32_t section;
};

/* A parameter to install with its one value. */
struct FixtureParameter {
    const char *name;
    double value;
};

/* Owns the slots it compiles and resets the script's definitions, the
** strategy records, the headless shell and the error selection around every
** test. */
struct CompilerTest : ::testing::Test {
    std::vector<FormulaSlot *> slots;
    std::deque<std::string> texts; /* deque: the script texts never move */
    void SetUp() override;
    void TearDown() override;

    /* A slot over text (a copy kept alive by the fixture), at offset start of
    ** a script text that begins with prefix. */
    FormulaSlot *MakeSlot(const std::string &text, const char *name = "Test", const std::string &prefix = "");
    /* The script's definitions as the compiler finds them: the item lists by
    ** section (Data, TestData, StratData, Library), columns of one section,
    ** parameters and the compiled strategies.  All definition set-up of the
    ** tests goes through these. */
    void InstallItems(uint32_t section, FormulaItem *items, int32_t count);
    void InstallColumns(FixtureColumn *columns, int32_t count);
    void InstallParameters(FixtureParameter *parameters, int32_t count);
    void InstallStrategies(const char *const *names, int32_t count);
    /* The constituency series scripts may name: names[k] gets id k + 1. */
    void InstallNamedLists(const char *const *names, int32_t count);
    /* Loads symbols (given in sorted order) as the symbol store holds them. */
    void LoadSymbols(std::initializer_list<const char *> names);
    /* Compiles text in section; the compact node text, or "error N @offset+length". */
    std::string Compile(const std::string &text, uint32_t section = 0, int32_t definitionIndex = -1);
};

/* One node per word: an optional "-" or "!" for the unary operator, the item
** id, "=" and the constant for constants, "f" and "v" with the value for a
** folded node, "a" and the argument links of a call, "b" the bars-back link,
** "w" the width, "'text'" for texts and references. */
std::string DescribeNodes(const FormulaSlot *slot);
