/* Colouring, fold levels and Enter indentation of script text. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/allocator.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/name_tables.h"
#include "shell/script_style.h"

namespace {

struct Styled {
    std::vector<uint8_t> styles;
    std::vector<int32_t> levels;
    int32_t lines = 0;
};

Styled Style(const std::string &text, int inDialog = 0)
{
    CompilerState names{};
    ScanScriptItemNames(text.c_str(), nullptr, (int)text.size(), &names);
    Styled out;
    out.styles.assign(text.size(), 255);
    out.levels.assign(64, -1);
    out.lines = StyleScriptBuffer(text.c_str(), (int32_t)text.size(), &names, inDialog, out.styles.data(),
                                  out.levels.data(), (int32_t)out.levels.size());
    FreeMemory(&names.scriptNames);
    FreeMemory(&names.includedFiles);
    FreeMemory(&names.definedNames);
    return out;
}

struct StyleCase {
    const char *script;
    const char *at; /* text whose first character is checked */
    int occurrence; /* 0: first occurrence of at */
    int style;
};

TEST(ScriptStyle, ClassifiesEveryKindOfText)
{
    const StyleCase cases[] = {
        {"Data:\n  x: nan\n", "nan", 0, 12},
        {"Data:\n  x: nanx\n", "nanx", 0, 1},
        {"Data:\n  x: 1.5e3\n", "1.5e3", 0, 12},
        {"Data:\n  x: inf\n", "inf", 0, 1},
        {"Data:\n  Fast: Avg(C, 5)\n", "Data", 0, 8},
        {"Data:\n  Fast: Avg(C, 5)\n", "Fast", 0, 11},
        {"Data:\n  Fast: Avg(C, 5)\n", "C,", 0, 17},
        {"Data:\n  Fast: Avg(C, 5)\n", "5)", 0, 12},
        {"Data:\n  Fast: Avg(C, 5)\n", "(", 0, 0},
        {"Strategy: Alpha\n  Foo: 1\n", "Strategy", 0, 8},
        {"Strategy: Alpha\n  Foo: 1\n", "Alpha", 0, 9},
        {"Strategy: Alpha\n  Foo: 1\n", "Foo", 0, 10},
        {"Include: my file.kvs, b.kvs\n", "my", 0, 12},
        {"Include: my file.kvs, b.kvs\n", " file", 0, 12},
        {"Include: my file.kvs, b.kvs\n", ",", 0, 0},
        {"Include: my file.kvs, b.kvs\n", "b.kvs", 0, 12},
        {"Include: my file.kvs, b.kvs\n", ": ", 0, 8},
        {"Import:\n  x: C:\\data\\a.csv\n", "C:", 0, 17},
        {"Import:\n  x: http://a\n", "http", 0, 1},
        {"Data:\n  a: 1 {note: 2} + 1\n", "note", 0, 2},
        {"Data:\n  a: 1 {note: 2} + 1\n", "+ 1", 0, 0},
        {"Data:\n  a: 1 /*x*/ + 1\n", "*/", 0, 3},
        {"Data:\n  a: 1 // C is close\n", "C is", 0, 4},
        {"#ifdef foo\nData:\n", "foo", 0, 5},
        {"Data:\n  a: \"x:y\" + 'p q'\n", "y\"", 0, 6},
        {"Data:\n  a: \"x:y\" + 'p q'\n", "q'", 0, 7},
        {"Data:\n  a: $ref + 1\n", "ref", 0, 12},
        {"Data:\n  a: arg3 + arg10 + ?Zork\n", "arg3", 0, 20},
        {"Data:\n  a: arg3 + arg10 + ?Zork\n", "arg10", 0, 1},
        {"Data:\n  a: arg3 + arg10 + ?Zork\n", "?Zork", 0, 13},
        {"Parameters:\n  P: From 1 To 5 Zork\n", "From", 0, 0},
        {"Parameters:\n  P: From 1 To 5 Zork\n", "Zork", 0, 1},
        {"Data:\n  Fast: 1\nScan:\n  Pick: Fast\n", "Fast", 1, 14},
        {"Scan:\n  Pick: 1\nParameters:\n  Q: Pick\n", "Pick", 1, 1},
        {"Notes:\n  see Data here {x\nData:\n  a: C\n", "see", 0, 21},
        {"Notes:\n  see Data here {x\nData:\n  a: C\n", "{x", 0, 21},
        {"Notes:\n  see Data here {x\nData:\n  a: C\n", "Data:", 0, 8},
        {"Notes:\n  see Data here {x\nData:\n  a: C\n", "C\n", 0, 17},
        {"Notes:\n  x\n//#ifdef y\n  a: C\n", "C\n", 0, 17},
        {"Notes:\n  he said \"go\" it's 'x'\nData:\n  a: C\n", "\"go", 0, 21},
        {"Notes:\n  he said \"go\" it's 'x'\nData:\n  a: C\n", "go\"", 0, 21},
        {"Notes:\n  he said \"go\" it's 'x'\nData:\n  a: C\n", "'x", 0, 21},
        {"Notes:\n  he said \"go\" it's 'x'\nData:\n  a: C\n", "Data:", 0, 8},
        {"Notes:\n  \"open\nData:\n  a: C\n", "Data:", 0, 8},
    };
    for (const StyleCase &c : cases) {
        std::string text = c.script;
        size_t at = text.find(c.at);
        for (int k = 0; k < c.occurrence; k++) at = text.find(c.at, at + 1);
        ASSERT_NE(at, std::string::npos) << c.script;
        Styled s = Style(text);
        EXPECT_EQ(s.styles[at], c.style) << c.script << " at \"" << c.at << "\"";
    }
}

TEST(ScriptStyle, DialogEditorsSkipKeywordsAndFolds)
{
    Styled s = Style("Data: C", 1);
    EXPECT_EQ(s.styles[0], 1) << "no keyword rule in a dialog";
    EXPECT_EQ(s.styles[6], 17);
    EXPECT_EQ(s.levels[0], -1) << "no fold levels in a dialog";
}

TEST(ScriptStyle, FoldsSectionBodiesBelowTheirHeaders)
{
    Styled s = Style("x\nData:\n  a: 1\n  b: 2\nInclude: x.kvs\ny\n//Scan:\n  c: 1\nNamespace: none\nz");
    const int32_t expected[] = {0x400, 0x2400, 0x401, 0x401, 0x400, 0x400, 0x2400, 0x401, 0x400, 0x400};
    ASSERT_EQ(s.lines, 10);
    for (int i = 0; i < 10; i++) EXPECT_EQ(s.levels[i], expected[i]) << "line " << i;
}

TEST(ScriptStyle, FindsTheSectionOfAHeaderWord)
{
    const std::string text = "Data:\n  Datum: 1\nScan :\n  Scan";
    EXPECT_EQ(SectionAtPosition(text.c_str(), (int32_t)text.size(), 2), SECTION_DATA);
    EXPECT_EQ(SectionAtPosition(text.c_str(), (int32_t)text.size(), 9), 0);
    EXPECT_EQ(SectionAtPosition(text.c_str(), (int32_t)text.size(), 18), 0) << "blank before the colon";
    EXPECT_EQ(SectionAtPosition(text.c_str(), (int32_t)text.size(), (int32_t)text.size() - 1), 0);
}

TEST(ScriptStyle, IndentsAfterEnter)
{
    const struct {
        const char *line;
        const char *indent;
    } cases[] = {
        {"  Fast: 1", "  "},
        {"Data:", "\t"},
        {"   ", ""},
        {"Include: a.kvs", ""},
        {"\t x", "\t "},
        {"  MyData: 1", "\t "},
        {"x", ""},
    };
    for (const auto &c : cases) {
        char out[300];
        EnterIndentation(c.line, (int32_t)strlen(c.line), out, sizeof out);
        EXPECT_STREQ(out, c.indent) << c.line;
    }
    char out[8] = "junk";
    std::string longLine(256, ' ');
    EXPECT_EQ(EnterIndentation(longLine.c_str(), 256, out, sizeof out), 0);
    EXPECT_STREQ(out, "");
}

} // namespace
