#include "driver_fixture.h"

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "script/compiler/compile_driver.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/settings_items.h"
#include "shell/headless/headless.h"
#include "services/services.h"

void FreeCompiledScript() { ResetScriptState(SCRIPT_RESET_RELEASE); }

void DriverTest::SetUp()
{
    ProgramStateTest::SetUp();
    gHeadless.captureLog = 1;
    gHeadlessScripts = HeadlessScripts{};
    gLastFormulaError = FormulaErrorSelection{};
    ResetSettingsToDefaults();
    FreeCompiledScript();
    for (DefaultSectionSource &source : gDefaultSectionSources) source = DefaultSectionSource{};
    scripts = folder.File("Scripts");
    CopyString(gScriptsFolder, sizeof gScriptsFolder, scripts.c_str(), -1);
    CopyString(gDataFolder, sizeof gDataFolder, folder.File("Data").c_str(), -1);
    CopyString(gOutputFolder, sizeof gOutputFolder, folder.File("Output").c_str(), -1);
    for (const char *f : {gScriptsFolder, gDataFolder, gOutputFolder}) PlatCreateFolder(f);
    Write("Results.kvs", "Results:\n  DefNet: 1 {#}\n");
    Write("Graphs.kvs", "Graphs:\n  DefGraph: 1\n");
    Write("Charts.kvs", "Charts:\n  DefChart: C\n");
    Write("Trades.kvs", "Trades:\n  DefTrade: 1\n");
}

void DriverTest::TearDown()
{
    RestoreRunSettings();
    FreeCompiledScript();
    gHeadlessScripts = HeadlessScripts{};
    ProgramStateTest::TearDown();
}

std::string DriverTest::Write(const std::string &name, const std::string &text)
{
    std::string path = scripts + "\\" + name;
    EXPECT_TRUE(WriteTestFile(path, text)) << path;
    return path;
}

int DriverTest::CompileText(const std::string &text, int mode, int pass, const std::string &name)
{
    std::string path = Write(name, text);
    return CompileScript(path.c_str(), mode, pass);
}

std::string DriverTest::ItemNames(const DefinitionList &list) const
{
    std::string out;
    for (int i = 0; i < list.count; i++) out += (i ? "," : "") + std::string(Item(list, i).formula.name);
    return out;
}

std::string DriverTest::ColumnNames(const DefinitionList &list) const
{
    std::string out;
    for (int i = 0; i < list.count; i++) out += (i ? "," : "") + std::string(Column(list, i).formula.name);
    return out;
}

std::string DriverTest::StrategyNames(int32_t count) const
{
    std::string out;
    for (int i = 0; i < count; i++) out += (i ? "," : "") + std::string(gStrategies[i].name);
    return out;
}
