/* driver_fixture.h -- whole-script compiles in a fresh folder: a program
** folder with Scripts, Data and Output below it, the four default section
** scripts in Scripts, and the compiled script's lists emptied around every
** test. */
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "script/compiler/definitions.h"
#include "support/program_state.h"
#include "support/test_support.h"

struct DriverTest : ProgramStateTest {
    TempFolder &folder = tmp; /* the program folder */
    std::string scripts;      /* the scripts folder */
    void SetUp() override;
    void TearDown() override;

    /* Writes a file (name relative to the scripts folder); its full path. */
    std::string Write(const std::string &name, const std::string &text);
    /* Writes main.kvs (or name) and compiles it; CompileScript's answer. */
    int CompileText(const std::string &text, int mode = 3, int pass = 1, const std::string &name = "main.kvs");

    const FormulaItem &Item(const DefinitionList &list, int i) const { return ((const FormulaItem *)list.items)[i]; }
    const FormulaColumn &Column(const DefinitionList &list, int i) const
    {
        return ((const FormulaColumn *)list.items)[i];
    }
    /* The names of a list's records, comma-separated. */
    std::string ItemNames(const DefinitionList &list) const;
    std::string ColumnNames(const DefinitionList &list) const;
    std::string StrategyNames(int32_t count) const;
};

/* Empties every compiled-script list and frees its records. */
void FreeCompiledScript();
