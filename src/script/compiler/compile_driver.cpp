/* compile_driver.cpp -- CompileScript, includes and the default section
** scripts.
**
** The messages of this module stand together below, copied as the program
** words them. */
#include "script/compiler/compile_driver.h"

#include <cstddef>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/path_macros.h"
#include "foundation/random.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/data_load.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/keywords.h"
#include "script/compiler/name_tables.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/script_parser.h"
#include "script/compiler/settings_items.h"
#include "script/compiler/side_files.h"
#include "script/compiler/strategy.h"
#include "script/eval/item_table.h"
#include "services/services.h"

/* ---- messages ------------------------------------------------------------------------ */

static const char kMsgUnableToAccess[] = "Unable to access %s";
static const char kMsgTooManyLevels[] = "Too many levels of scripts including other scripts.";
static const char kMsgSlatewickOrdersFile[] = "An Slatewick OrdersFile name must end with 'orders.csv'";
static const char kMsgTemplateOrdersFile[] = "OrdersFile must end with .CSV when OrdersMode is Template";
static const char kMsgStatsGroupMembers[] = "StatsGroup %s has more than %d members";
static const char kMsgAddingBenchmark[] = "Error adding Benchmark %s -- %s";
static const char kMsgOptScoreCol[] = "OptScoreCol '%s' is not defined in Results";
static const char kSlatewickTradesHeader[] =
    "Symbol,Strategy,Side,Shares,DateIn,QtyIn,PriceIn,FeesIn,DateOut,QtyOut,PriceOut,FeesOut\r\n";

ScriptState gScript = {.combinedIndex = -1};
DefaultSectionSource gDefaultSectionSources[DEFAULT_SECTION_SCRIPTS];


namespace {

/* The path of the file being parsed; gCompilingScriptPath points here while
** it is not empty. */
char sCurrentScript[PATH_SIZE];

/* ---- script texts -------------------------------------------------------------------- */

/* Room for one more text, made before a parse so that a text the parsed
** records point into can always be kept. */
int ReserveScriptText()
{
    ScriptState &s = gScript;
    if (s.textCount + s.textsReserved >= s.textCapacity) {
        int32_t capacity = s.textCapacity + 8;
        if (!ReallocMemory(&s.texts, (uint64_t)capacity * sizeof(KeptScriptText))) return 0;
        s.textCapacity = capacity;
    }
    s.textsReserved++;
    return 1;
}

/* Keeps the text of a finished parse in its reserved place (null: the parse
** failed and gives its place back). */
void KeepScriptText(char *text, int32_t owner)
{
    gScript.textsReserved--;
    if (text) gScript.texts[gScript.textCount++] = KeptScriptText{text, owner};
}

/* Frees the texts a compile with that owner read (all when owner is -1). */
void FreeScriptTexts(int32_t owner)
{
    ScriptState &s = gScript;
    int32_t kept = 0;
    for (int32_t i = 0; i < s.textCount; i++) {
        if (owner < 0 || s.texts[i].owner == owner)
            FreeMemory(&s.texts[i].text);
        else
            s.texts[kept++] = s.texts[i];
    }
    s.textCount = kept;
}

void SetCurrentScript(const char *path)
{
    CopyString(sCurrentScript, sizeof sCurrentScript, path ? path : "", -1);
    gCompilingScriptPath = sCurrentScript[0] ? sCurrentScript : nullptr;
}

/* ---- resets -------------------------------------------------------------------------- */

void ResetItemList(DefinitionList *list)
{
    for (int32_t i = 0; i < list->capacity; i++) ResetFormulaItem((FormulaItem *)list->items + i);
    list->count = 0;
}

void ResetStandalone(StandaloneFormula *formula)
{
    ResetDefinitionSlot(&formula->formula);
    formula->section = 0;
}

bool FilterPasses(int section)
{
    return gCompileSession.sectionFilter == 0 || gCompileSession.sectionFilter == section;
}

bool SectionPresent(int section) { return gCompileSession.sectionCounts[section] != 0; }

/* ---- compiling the formulas of the top-level file ----------------------------------------- */

int CompileStandalone(StandaloneFormula *formula, int section)
{
    if (formula->formula.length <= 0 || !formula->formula.scriptText) return 1;
    return CompileFormula(&formula->formula, (uint32_t)section, 0);
}

/* Compiles the formulas of an item or column list in order; a failing one
** cuts the list there.  Both record kinds begin with their formula. */
int CompileList(int section, size_t recordSize)
{
    if (!SectionPresent(section) || !FilterPasses(section)) return 1;
    DefinitionList *list = DefinitionListFor((uint32_t)section);
    for (int32_t i = 0; i < list->count; i++) {
        FormulaSlot *formula = (FormulaSlot *)((char *)list->items + (size_t)i * recordSize);
        if (!CompileFormula(formula, (uint32_t)section, i)) {
            list->count = i;
            return 0;
        }
        if (section == SECTION_TEST_DATA) {
            ResolveItemBarSize((FormulaItem *)formula);
            CountItemReferences((FormulaItem *)formula);
        }
    }
    return 1;
}

static_assert(offsetof(FormulaItem, formula) == 0 && offsetof(FormulaColumn, formula) == 0,
              "item and column records begin with their formula");

int CompileItemList(int section) { return CompileList(section, sizeof(FormulaItem)); }
int CompileColumnList(int section) { return CompileList(section, sizeof(FormulaColumn)); }

/* The Data items, each followed by its bar size, its one-value marks and the
** sharing walk; every item takes the next definition sequence number. */
int CompileDataItems()
{
    if (!SectionPresent(SECTION_DATA) || !FilterPasses(SECTION_DATA)) return 1;
    gDataItemSequence = 0;
    /* Sharing appends generated items while the loop runs; they arrive
    ** compiled, with their sequence numbers, and have no text to compile. */
    const int32_t written = gDataItems.count;
    for (int32_t i = 0; i < written; i++) {
        FormulaItem *item = (FormulaItem *)gDataItems.items + i;
        if (!CompileFormula(&item->formula, SECTION_DATA, i)) {
            gDataItems.count = i;
            return 0;
        }
        item = (FormulaItem *)gDataItems.items + i;
        ResolveItemBarSize(item);
        CountItemReferences(item);
        const FormulaNode *first = item->formula.nodes[0];
        /* The plug-in fills a whole series at once: always one pass. */
        if (first && first->item == ITEM_DLL_DATA_CALC) item->formula.sharedSeries = item->formula.onePass = 1;
        if (!item->formula.sharedSeries && !item->formula.slowCalc) {
            if (!ShareDataItem(i)) return 0;
            item = (FormulaItem *)gDataItems.items + i;
        }
        item->sequence = gDataItemSequence++;
    }
    return 1;
}

int CompileStrategySlots()
{
    for (int32_t r = 0; r < gStrategyCount; r++) {
        for (int s = 0; s < STRATEGY_SLOTS; s++) {
            FormulaSlot *slot = &gStrategies[r].slots[s];
            if (!slot->scriptText) continue;
            if (!CompileFormula(slot, (uint32_t)gStrategies[r].kind, s)) return 0;
        }
    }
    return 1;
}

/* Every formula of the parsed script, in the order the sections depend on
** each other. */
int CompileAllFormulas()
{
    return CompileStandalone(&gImportFilter, SECTION_IMPORT) &&
        CompileStandalone(&gSkipTestIf, gSkipTestIf.section) &&
        CompileStandalone(&gTestNameFormula, gTestNameFormula.section) &&
        CompileStandalone(&gOrdersComment, gOrdersComment.section) && CompileItemList(SECTION_LIBRARY) &&
        CompileDataItems() && CompileColumnList(SECTION_RESULTS) && CompileColumnList(SECTION_GRAPHS) &&
        CompileColumnList(SECTION_CHARTS) && CompileColumnList(SECTION_TRADES) &&
        CompileItemList(SECTION_TEST_DATA) && CompileItemList(SECTION_STRAT_DATA) &&
        CompileColumnList(SECTION_SCAN) && CompileColumnList(SECTION_TEST_SCAN) && CompileStrategySlots();
}

/* ---- linking the strategy records ---------------------------------------------------- */

/* After the record at from moved to to (the records between shifted by one
** toward from), every link follows its record. */
int32_t MovedIndex(int32_t index, int32_t from, int32_t to)
{
    if (index == from) return to;
    if (from < to && index > from && index <= to) return index - 1;
    if (from > to && index >= to && index < from) return index + 1;
    return index;
}

void FixLinks(int32_t from, int32_t to, int32_t records)
{
    for (int32_t i = 0; i < records; i++) {
        StrategyRecord *r = gStrategies + i;
        for (int32_t g = 0; g < r->groupCount; g++) r->groups[g] = MovedIndex(r->groups[g], from, to);
        if (r->Tracker > 0) r->Tracker = MovedIndex(r->Tracker - 1, from, to) + 1;
    }
    if (gCombinedIndex >= 0) gCombinedIndex = MovedIndex(gCombinedIndex, from, to);
}

/* Moves the record at from to the place to (from < to), through the scratch record. */
void MoveRecord(StrategyRecord *scratch, int32_t from, int32_t to, int32_t records)
{
    if (from == to) return;
    memcpy(scratch, gStrategies + from, sizeof *scratch);
    memmove(gStrategies + from, gStrategies + from + 1, (size_t)(to - from) * sizeof *scratch);
    memcpy(gStrategies + to, scratch, sizeof *scratch);
    FixLinks(from, to, records);
}

int AddGroup(StrategyRecord *record, int32_t group, const char *groupName)
{
    for (int32_t g = 0; g < record->groupCount; g++)
        if (record->groups[g] == group) return 1;
    if (record->groupCount >= STRATEGY_MAX_LINKS) {
        ReportError(kMsgStatsGroupMembers, groupName, STRATEGY_MAX_LINKS);
        return 0;
    }
    record->groups[record->groupCount++] = group;
    return 1;
}

/* Using and StatsGroup links, records in list order. */
int LinkUsingLists()
{
    for (int32_t i = 0; i < gStrategyCount; i++) {
        for (int32_t u = 0; u < gStrategies[i].usingCount; u++) {
            int32_t j = gStrategies[i].usingList[u];
            if (j < 0 || j >= gStrategyCount) continue;
            if (gStrategies[i].kind == SECTION_STATS_GROUP) {
                if (!AddGroup(gStrategies + j, i, gStrategies[i].name)) return 0;
            } else if (!InheritStrategyFormulas(gStrategies + j, gStrategies + i)) {
                return 0;
            }
        }
    }
    return 1;
}

/* A Strategy with a Tracker gets a Benchmark that follows it.  Afterwards a
** positive Tracker is always the place + 1 of a Strategy's tracking benchmark
** and -1 marks that benchmark; every other record holds 0, so a Tracker word
** given to a Template or Benchmark never reads as a link. */
int AddTrackers()
{
    for (int32_t i = 0; i < gStrategyCount; i++) {
        if (gStrategies[i].Tracker == STRATEGY_CONSTANT_UNSET) gStrategies[i].Tracker = TRACKER_NONE;
        if (gStrategies[i].kind != SECTION_STRATEGY) {
            if (gStrategies[i].Tracker != TRACKER_CLONE) gStrategies[i].Tracker = TRACKER_NONE;
            continue;
        }
        if (gStrategies[i].Tracker == TRACKER_NONE) continue;
        char name[STRATEGY_NAME_SIZE];
        FormatText(name, sizeof name, "%s%s_track", gStrategies[i].Tracker == TRACKER_HIDDEN ? "_" : "", gStrategies[i].name);
        int error = 0;
        StrategyRecord *bench = AddStrategyRecord(SECTION_BENCHMARK, name, &error);
        if (!bench) {
            ReportError(kMsgAddingBenchmark, name, CompileErrorText[error > 0 && error < COMPILE_ERROR_COUNT ? error : 0]);
            return 0;
        }
        int32_t b = (int32_t)(bench - gStrategies);
        if (!InheritStrategyFormulas(gStrategies + i, gStrategies + b)) return 0;
        gStrategies[i].Tracker = b + 1;
        gStrategies[b].Tracker = TRACKER_CLONE;
    }
    return 1;
}

/* Templates leave the active records; the combined record is found, moved
** last or made, and becomes a StatsGroup over the strategies before it. */
int OrderRecords(StrategyRecord *scratch, int slatewick)
{
    gCombinedIndex = -1;
    int32_t strategies = 0;
    int32_t total = gStrategyCount;
    for (int32_t i = gStrategyCount - 1; i >= 0; i--) {
        StrategyRecord *r = gStrategies + i;
        if (r->kind == SECTION_TEMPLATE) {
            MoveRecord(scratch, i, gStrategyCount - 1, total);
            gStrategyCount--;
        } else if (r->kind == SECTION_STRATEGY) {
            strategies++;
            if (gCombinedIndex < 0) gCombinedIndex = i;
            /* Only an orders run drives its strategies from the Slatewick
            ** trades file; every other run keeps each strategy's own list. */
            if (slatewick) CopyString(r->TradeList, sizeof r->TradeList, gSlatewickTradesPath, -1);
        } else if (r->kind == SECTION_COMBINED) {
            gCombinedIndex = i;
        }
    }
    if (SectionPresent(SECTION_COMBINED) && gCombinedIndex >= 0 && gStrategies[gCombinedIndex].kind == SECTION_COMBINED) {
        MoveRecord(scratch, gCombinedIndex, gStrategyCount - 1, total);
    } else if (strategies > 1) {
        int error = 0;
        StrategyRecord *combined = AddStrategyRecord(SECTION_COMBINED, "Combined", &error);
        if (!combined) return 0;
        gCombinedIndex = (int32_t)(combined - gStrategies);
    }
    if (gCombinedIndex >= 0 && gStrategies[gCombinedIndex].kind != SECTION_STRATEGY) {
        StrategyRecord *combined = gStrategies + gCombinedIndex;
        combined->kind = SECTION_STATS_GROUP;
        for (int32_t i = 0; i < gCombinedIndex; i++)
            if (gStrategies[i].kind == SECTION_STRATEGY && !AddGroup(gStrategies + i, gCombinedIndex, combined->name))
                return 0;
    }
    /* Error titles name a formula's strategy by its place in the list. */
    for (int32_t i = 0; i < gStrategyCount; i++)
        for (int s = 0; s < STRATEGY_SLOTS; s++) gStrategies[i].slots[s].strategyNumber = (uint32_t)i + 1;
    return 1;
}

/* ---- orders mode ----------------------------------------------------------------------- */

bool IsSlatewickMode(int ordersMode)
{
    return ordersMode == ORDERS_SLATEWICK || ordersMode == ORDERS_SLATEWICK_SYNC || ordersMode == ORDERS_SLATEWICK_STATS;
}

/* folder\\name into out (a path's letters).  A path that does not fit is never
** cut (a cut one names another file): it is noted by the kind of path, and
** the orders run refuses it as a file error before it reads or writes a file
** of the companion tool (trade_list.cpp, order_list.cpp); 0 then. */
static int JoinOrdersPath(char (&out)[PATH_SIZE], const char *folder, const char *name, const char *kind)
{
    char whole[2 * PATH_SIZE + 64];
    FormatText(whole, sizeof whole, "%s\\%s", folder, name);
    CopyString(out, sizeof out, whole, -1);
    if (!PathTooLong(whole)) return 1;
    if (!gOrdersPathTooLong[0]) CopyString(gOrdersPathTooLong, sizeof gOrdersPathTooLong, kind, -1);
    return 0;
}

int CheckOrdersFiles()
{
    ScriptSettingsBlock &s = gScriptSettings;
    static_assert(sizeof s.SlatewickFolder == PATH_SIZE && sizeof s.OrdersTemplate == PATH_SIZE &&
                      sizeof gSlatewickTradesPath == PATH_SIZE,
                  "the orders paths hold a path's letters");
    if (IsSlatewickMode(s.OrdersMode)) {
        if (!s.SlatewickFolder[0]) {
            /* The program's own Orders folder is made on first use, as the
            ** other output folders are, so the trades file can be written. */
            if (JoinOrdersPath(s.SlatewickFolder, gOutputFolder, "Orders", "SlatewickFolder") &&
                !PlatFolderExists(s.SlatewickFolder))
                PlatCreateFolder(s.SlatewickFolder);
        }
        if (!s.OrdersTemplate[0] && JoinOrdersPath(s.OrdersTemplate, s.SlatewickFolder, "SlatewickTemplate.csv", "SlatewickFolder") &&
            !PlatFileExists(s.OrdersTemplate))
            JoinOrdersPath(s.OrdersTemplate, gProgramFolder, "SlatewickTemplate.csv", "OrdersTemplate");
        JoinOrdersPath(gSlatewickTradesPath, s.SlatewickFolder, "SlatewickTrades.csv", "SlatewickFolder");
        /* A folder that is not there holds no companion tool's list: nothing
        ** is made where the script points (an empty list would have the
        ** account hold nothing), and the run fails on the trades file as on
        ** any file it cannot read. */
        if (!gOrdersPathTooLong[0] && !PlatFileExists(gSlatewickTradesPath) && PlatFolderExists(s.SlatewickFolder) &&
            !SaveFile(gSlatewickTradesPath, kSlatewickTradesHeader, (uint32_t)strlen(kSlatewickTradesHeader)))
            return 0;
        if (s.OrdersFile[0] && !MatchWildcard("*orders.csv", s.OrdersFile)) {
            ReportError(kMsgSlatewickOrdersFile);
            return 0;
        }
    } else if (s.OrdersMode == ORDERS_TEMPLATE) {
        if (s.OrdersFile[0] && !MatchWildcard("*.csv", s.OrdersFile)) {
            ReportError(kMsgTemplateOrdersFile);
            return 0;
        }
    }
    return 1;
}

/* ---- after the parse ------------------------------------------------------------------- */

int ResolveOptScoreCol()
{
    if (!gOptScoreColName[0]) return 1;
    int32_t shown = 0;
    for (int32_t i = 0; i < gResultsColumns.count; i++) {
        const FormulaColumn *column = (const FormulaColumn *)gResultsColumns.items + i;
        if (column->format == 0) continue;
        if (CompareNoCase(column->heading, gOptScoreColName) == 0) {
            gSettings.OptScoreCol = shown;
            return 1;
        }
        shown++;
    }
    ReportError(kMsgOptScoreCol, gOptScoreColName);
    return 0;
}

void MarkUsedResultsColumns()
{
    for (int32_t i = 0; i < gResultsColumns.count; i++)
        if (((const FormulaColumn *)gResultsColumns.items)[i].barFlag) MarkResultsColumnUsed(i);
}

/* The section of a default section script that path names, else 0. */
int DefaultScriptSection(const char *path)
{
    static const int kOrder[] = {SECTION_CHARTS, SECTION_GRAPHS, SECTION_RESULTS, SECTION_TRADES};
    for (int section : kOrder) {
        char candidate[PATH_SIZE];
        DefaultSectionScriptPath(section, candidate);
        if (ComparePaths(candidate, path) == 0) return section;
    }
    return 0;
}

/* "autoinclude.kvs" beside the script, or in the scripts folder when the
** script names no folder or is missing. */
void AutoIncludePath(const char *path, char *out)
{
    const char *slash = strrchr(path, '\\');
    if (slash && PlatFileExists(path)) {
        char folder[PATH_SIZE];
        CopyString(folder, sizeof folder, path, (int)(slash - path));
        FormatText(out, PATH_SIZE, "%s\\autoinclude.kvs", folder);
    } else {
        FormatText(out, PATH_SIZE, "%s\\autoinclude.kvs", gScriptsFolder);
    }
}

void RefreshSection(int section)
{
    switch (section) {
    case SECTION_RESULTS:
        RecalculateAllResults();
        RefreshAllResGraphs();
        break;
    case SECTION_GRAPHS: RefreshAllGraphs(); break;
    case SECTION_TRADES: RefreshAllTradeLists(); break;
    case SECTION_CHARTS: RefreshAllCharts(); break;
    default: break;
    }
}

/* Remembers the file's last-write time for the section; 1 when it changed.
** A time that cannot be read counts as a change, so the windows are redrawn
** rather than left showing what may be stale. */
int NoteSourceTime(int section, const char *path)
{
    DefaultSectionSource &source = gDefaultSectionSources[section - SECTION_RESULTS];
    CopyString(source.path, sizeof source.path, path, -1);
    PlatDateTime written = {};
    if (!GetFileDate(path, &written)) {
        source.written = PlatDateTime{};
        return 1;
    }
    int changed = memcmp(&written, &source.written, sizeof written) != 0;
    source.written = written;
    return changed;
}

/* The body of CompileScript after the resets; the caller frees the state. */
int CompileScriptBody(const char *path, StrategyRecord *scratch)
{
    int mode = gCompileSession.mode;
    int pass = gCompileSession.pass;
    char script[PATH_SIZE];
    CopyString(script, sizeof script, path, -1);
    ExpandPathMacros(script, gScriptsFolder);
    if (!DefaultScriptSection(script)) {
        if (!CreateOutputFolders()) return 0;
        char autoInclude[PATH_SIZE];
        AutoIncludePath(script, autoInclude);
        char nameSpace[VALUE_NAME_SIZE] = "";
        /* autoinclude.kvs compiled as the script itself is the script, not
        ** an include of it: merged first, it would be skipped as already read
        ** and nothing would compile. */
        if (PlatFileExists(autoInclude) && CompareNoCase(autoInclude, script) != 0) {
            gCompiler.includeDepth++;
            int ok = IncludeScriptFile(autoInclude, nameSpace);
            gCompiler.includeDepth--;
            if (!ok) return 0;
            nameSpace[0] = 0;
        }
        if (!IncludeScriptFile(path, nameSpace)) return 0;
        if (!LoadHolidayList(&gCalendar.holidays, gScriptSettings.HolidayList) || !LoadExchangeMap() ||
            !LoadSymbolChanges())
            return 0;
    }
    int slatewick = 0;
    if (mode == RUN_MODE_ORDERS) {
        if (!CheckOrdersFiles()) return 0;
        slatewick = IsSlatewickMode(gScriptSettings.OrdersMode);
    }
    if (!LinkUsingLists() || !AddTrackers() || !OrderRecords(scratch, slatewick)) return 0;
    if (!ReserveStrategyIndexLists()) return 0;
    for (int32_t i = 0; i < gStrategyCount; i++)
        if (!ApplyStrategyDefaults(i, pass)) return 0;
    /* The list of files read goes to the compiled script before the default
    ** section scripts, which are no file of this script, start their own. */
    gScriptFiles = gCompiler.includedFiles;
    gScriptFileCount = gCompiler.includedFileCount;
    gCompiler.includedFiles = nullptr;
    ResetIncludeState();
    if (!LoadMissingDefaultScripts()) return 0;
    if (!ResolveOptScoreCol()) return 0;
    MarkUsedResultsColumns();
    PreselectParameters(script);
    return 1;
}

} // namespace

/* ---- the parameters the optimizer takes by default --------------------------------------- */

/* A user who chose the parameters in the Optimizer dialog keeps that choice
** over the recompile of every run; a script with other parameters (another
** script, or names or values edited) starts again from the compiler's
** choice, so a parameter that has just been given several values is not
** left out because it once had one. */
void PreselectParameters(const char *script)
{
    uint64_t h = HASH_START;
    for (const char *c = script; *c; c++) {
        const char folded = *c >= 'A' && *c <= 'Z' ? (char)(*c + 'a' - 'A') : *c; /* paths compare without case */
        HashBytes(&h, &folded, 1);
    }
    Parameter *rows = (Parameter *)gParameters.items;
    for (int32_t k = 0; rows && k < gParameters.count; k++) {
        HashBytes(&h, rows[k].name, strlen(rows[k].name) + 1);
        HashBytes(&h, &rows[k].valueCount, sizeof rows[k].valueCount);
        if (rows[k].values) HashBytes(&h, rows[k].values, (size_t)rows[k].valueCount * sizeof(double));
    }
    if (h != gScript.parameterSignature) gScript.parametersChanged = 1;
    gScript.parameterSignature = h;
    for (int32_t k = 0; rows && k < gParameters.count; k++)
        rows[k].preselected = gScript.parametersChanged && rows[k].valueCount >= 2;
}

void ClearParameterPreselection()
{
    gScript.parametersChanged = 0;
}

/* ---- the compiled script's one reset ----------------------------------------------------- */

void ResetScriptState(ScriptReset how)
{
    ScriptState &s = gScript;
    FreeScriptTexts(-1);
    ResetIncludeState();
    FreeMemory(&s.scriptFiles);
    s.scriptFileCount = 0;
    ResetScriptParserState();
    ResetScriptSettings();
    gResultsFileName[0] = 0;
    gOptScoreColName[0] = 0;
    gOptNoDialog = 0;
    if (how == SCRIPT_RESET_RELEASE) {
        for (DefinitionList *list : {&s.dataItems, &s.testDataItems, &s.stratDataItems, &s.libraryItems})
            for (int32_t i = 0; i < list->capacity; i++) FreeFormulaNodes(&((FormulaItem *)list->items)[i].formula);
        for (DefinitionList *list : {&s.resultsColumns, &s.graphsColumns, &s.chartsColumns, &s.tradesColumns,
                                     &s.scanColumns, &s.testScanColumns})
            for (int32_t i = 0; i < list->capacity; i++) FreeFormulaNodes(&((FormulaColumn *)list->items)[i].formula);
        for (DefinitionList *list : {&s.dataItems, &s.testDataItems, &s.stratDataItems, &s.libraryItems,
                                     &s.resultsColumns, &s.graphsColumns, &s.chartsColumns, &s.tradesColumns,
                                     &s.scanColumns, &s.testScanColumns})
            FreeDefinitionList(list);
        FreeParameterLists();
        FreeStrategyRecords();
        ResetScriptTextCache();
        for (StandaloneFormula *f : {&s.importFilter, &s.skipTestIf, &s.testNameFormula, &s.ordersComment})
            FreeFormulaNodes(&f->formula);
        FreeMemory(&s.texts);
        for (GrowText *text : {&gScriptParser.collectedText, &gScriptParser.importText}) {
            FreeMemory(&text->text);
            *text = GrowText{};
        }
        FreeMemory(&gImportItems.items);
        gImportItems = GrowList{};
        s = ScriptState{.combinedIndex = -1};
        ResetImportState();
        return;
    }
    ResetItemList(&s.libraryItems);
    ResetItemList(&s.dataItems);
    ResetItemList(&s.testDataItems);
    ResetItemList(&s.stratDataItems);
    for (StandaloneFormula *f : {&s.importFilter, &s.skipTestIf, &s.testNameFormula, &s.ordersComment})
        ResetStandalone(f);
    ResetScriptDefinitions(SECTION_IMPORT);
    for (int section : {SECTION_SCAN, SECTION_TEST_SCAN, SECTION_RESULTS, SECTION_GRAPHS, SECTION_TRADES,
                        SECTION_CHARTS, SECTION_PARAMETERS})
        ResetScriptDefinitions((uint32_t)section);
    for (int32_t i = 0; i < s.strategyCapacity; i++) ResetStrategyRecord(s.strategies + i);
    s.strategyCount = 0;
    s.combinedIndex = -1;
    s.slatewickTradesPath[0] = 0;
    s.ordersPathTooLong[0] = 0;
    s.dataItemSequence = 0;
    s.chartsUseDataItems = 0;
    s.graphsUseDataItems = 0;
    s.session = CompileSession{};
}

/* ---- the compile ------------------------------------------------------------------------- */

namespace {

/* The Results and Trades columns of the last compile that succeeded.  A
** compile that fails puts them back: the statistics of the tests already
** listed, and the trade lists opened on them, keep their columns (and a
** refresh its formulas) until a compile succeeds. */
struct KeptColumns {
    DefinitionList results, trades;
    char tradesSort[SORT_LIST_SIZE];
};

KeptColumns SetColumnsAside()
{
    KeptColumns kept = {gResultsColumns, gTradesColumns, {}};
    CopyString(kept.tradesSort, sizeof kept.tradesSort, gTradesSort, -1);
    /* The texts they were read from go with the reset; what a formula
    ** needs to run is in its nodes. */
    for (DefinitionList *list : {&kept.results, &kept.trades})
        for (int32_t i = 0; i < list->capacity; i++) ((FormulaColumn *)list->items)[i].formula.scriptText = nullptr;
    gResultsColumns = DefinitionList{};
    gTradesColumns = DefinitionList{};
    return kept;
}

void FreeColumnList(DefinitionList *list)
{
    for (int32_t i = 0; i < list->capacity; i++) FreeFormulaNodes(&((FormulaColumn *)list->items)[i].formula);
    FreeDefinitionList(list);
}

/* ok: the new columns stay and the kept ones go; else the kept ones come back. */
void SettleKeptColumns(KeptColumns *kept, int ok)
{
    if (!ok) {
        FreeColumnList(&gResultsColumns);
        FreeColumnList(&gTradesColumns);
        gResultsColumns = kept->results;
        gTradesColumns = kept->trades;
        CopyString(gTradesSort, sizeof gTradesSort, kept->tradesSort, -1);
        return;
    }
    FreeColumnList(&kept->results);
    FreeColumnList(&kept->trades);
}

} // namespace

int CompileScript(const char *path, int mode, int pass)
{
    StrategyRecord *scratch = nullptr;
    if (!AllocMemory(&scratch, sizeof(StrategyRecord))) return 0;

    KeptColumns kept = SetColumnsAside();
    /* Every list starts empty; allocations stay for reuse. */
    ResetScriptState(SCRIPT_RESET_KEEP_MEMORY);

    gCompileSession.collectText = 1;
    gCompileSession.pass = pass;
    gCompileSession.mode = mode;

    SettingsPanelToSettings();
    gSettings.NumBars = 0;
    gUseAvailableBars = 0;
    /* Pass 2 runs after pass 1 applied the script's settings; saving again
    ** then would keep the script's values as the ones to restore. */
    if (pass != 2 || !RunSettingsSaved()) SaveRunSettings();
    /* A run starts with pass 1: the damaged side files it meets are named
    ** again, once. */
    if (pass != 2) ForgetSideFileNotes();

    SetRandomSeed(0);

    int ok = CompileScriptBody(path, scratch);
    SettleKeptColumns(&kept, ok);

    ResetIncludeState();
    SetCurrentScript(nullptr);
    gCompileSession.pass = 0;
    FreeMemory(&scratch);
    return ok;
}

int CurrentCompilePass() { return gCompileSession.pass; }

/* A marked Results column needs every Results column it refers to. */
void MarkResultsColumnUsed(int32_t index)
{
    if (index < 0 || index >= gResultsColumns.count) return;
    FormulaColumn *column = (FormulaColumn *)gResultsColumns.items + index;
    if (column->used) return;
    column->used = 1;
    const FormulaNode *nodes = column->formula.nodes[0];
    for (int32_t k = 0; nodes && k < column->formula.count; k++)
        if (nodes[k].item == ITEM_RESULTS_COLUMN) MarkResultsColumnUsed((int32_t)nodes[k].index);
}

/* ---- includes ------------------------------------------------------------------------------ */

int IncludeScriptFile(const char *path, char *nameSpace)
{
    char resolved[PATH_SIZE];
    CopyString(resolved, sizeof resolved, path, -1);
    if (PathTooLong(path) || !ExpandPathMacros(resolved, gScriptsFolder)) {
        ReportError(kMsgUnableToAccess, path);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (IsFileIncluded(resolved, &gCompiler)) return 1;
    if (void *window = FindScriptWindow(resolved)) {
        if (!SaveScript(window, 0)) return 0;
    }
    if (!PlatFileExists(resolved) || PlatFolderExists(resolved)) {
        ReportError(kMsgUnableToAccess, resolved);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (!AddIncludedFile(resolved, &gCompiler)) return 0;
    char previous[PATH_SIZE];
    CopyString(previous, sizeof previous, sCurrentScript, -1);
    SetCurrentScript(resolved);

    int ok = 1;
    if (++gCompiler.includeDepth > MAX_INCLUDE_DEPTH) {
        ReportError(kMsgTooManyLevels);
        ok = 0;
    } else {
        char *text = nullptr;
        if (ReserveScriptText()) {
            text = ParseScriptText(resolved, nameSpace);
            KeepScriptText(text, gCompileSession.sectionFilter);
        }
        if (!text) ok = 0;
        if (ok && gCompiler.includeDepth == 1) ok = CompileAllFormulas();
    }
    gCompiler.includeDepth--;
    SetCurrentScript(gCompiler.includeDepth > 0 ? previous : nullptr);
    return ok;
}

void ResetIncludeState()
{
    FreeMemory(&gCompiler.scriptNames);
    FreeMemory(&gCompiler.includedFiles);
    FreeMemory(&gCompiler.definedNames);
    memset(&gCompiler, 0, sizeof gCompiler);
}

int AddIncludedFile(const char *path, CompilerState *state)
{
    if (!state) return 1;
    if (state->includedFileCount >= state->includedFileCapacity) {
        int32_t capacity = state->includedFileCapacity + INCLUDED_FILE_GROW;
        if (!ReallocMemory(&state->includedFiles, (uint64_t)capacity * PATH_SIZE)) return 0;
        state->includedFileCapacity = capacity;
    }
    CopyString(state->includedFiles[state->includedFileCount++], PATH_SIZE, path, -1);
    return 1;
}

int IsFileIncluded(const char *path, const CompilerState *state)
{
    if (!state) return 0;
    for (int32_t i = 0; i < state->includedFileCount; i++)
        if (ComparePaths(state->includedFiles[i], path) == 0) return 1;
    return 0;
}

int ExtractIncludePath(const char *text, char *outPath)
{
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') text++;
    int n = 0;
    for (;; n++) {
        char c = text[n];
        if (!c || c == '\r' || c == '\n' || c == '{' || c == '/') break;
        if (c == ':' && text[n + 1] != '\\') {
            /* The colon ends a header that follows on the same line: its word
            ** and the delimiters before it are not part of the name. */
            while (n > 0 && !IsTokenDelimiter(text[n - 1])) n--;
            while (n > 0 && IsTokenDelimiter(text[n - 1])) n--;
            break;
        }
    }
    while (n > 0 && IsTokenDelimiter(text[n - 1])) n--;
    /* A name longer than a path holds names no file this compile reads. */
    if (n == 0 || PathLetters(text, (size_t)n) > PATH_LETTERS || text[0] == '/') return 0;
    CopyString(outPath, PATH_SIZE, text, n);
    return ExpandPathMacros(outPath, gScriptsFolder) ? 1 : 0;
}

/* ---- default section scripts ---------------------------------------------------------------- */

void DefaultSectionScriptPath(int section, char *outPath)
{
    FormatText(outPath, PATH_SIZE, "%s\\%s.kvs", gScriptsFolder, kSectionNames[section]);
    if (!PlatFileExists(outPath)) FormatText(outPath, PATH_SIZE, "%s\\%s.kvs", gProgramFolder, kSectionNames[section]);
}

int LoadDefaultSectionScript(int section)
{
    if (section < (int)SECTION_RESULTS || section > (int)SECTION_TRADES) return -1;
    ResetScriptDefinitions((uint32_t)section);
    FreeScriptTexts(section);
    char path[PATH_SIZE];
    DefaultSectionScriptPath(section, path);
    /* A program without this default script simply has no default columns
    ** for the section; only a script that fails to compile is a failure. */
    if (!PlatFileExists(path)) return 0;

    /* Only that section may compile; the run's own mode and filter come back
    ** afterwards, so a compile that loads defaults ends as it began. */
    CompileSession keep = gCompileSession;
    char keepScript[PATH_SIZE];
    CopyString(keepScript, sizeof keepScript, sCurrentScript, -1);
    gCompileSession.sectionFilter = section;
    gCompileSession.sectionCounts[section] = 0;
    gCompileSession.collectText = 0;
    gCompileSession.mode = 0;
    ResetIncludeState();
    char nameSpace[VALUE_NAME_SIZE] = "";
    int ok = IncludeScriptFile(path, nameSpace);
    ResetIncludeState();
    keep.sectionCounts[section] = gCompileSession.sectionCounts[section];
    gCompileSession = keep;
    SetCurrentScript(keepScript[0] ? keepScript : nullptr);
    if (!ok) return -1;
    return NoteSourceTime(section, path);
}

/* Unloading data compiles the default scripts it left missing (data_load.h). */
[[maybe_unused]] static const bool kUnloadLinked =
    (gScriptDataLinks.loadMissingDefaultScripts = LoadMissingDefaultScripts, true);

int LoadMissingDefaultScripts()
{
    static const int kOrder[] = {SECTION_RESULTS, SECTION_GRAPHS, SECTION_TRADES, SECTION_CHARTS};
    for (int section : kOrder) {
        if (ColumnListFor((uint32_t)section)->count != 0) continue;
        int changed = LoadDefaultSectionScript(section);
        if (changed < 0) return 0;
        if (changed) RefreshSection(section);
        gCompileSession.sectionCounts[section] = 0;
    }
    return 1;
}

void CheckDefaultScriptChanged(const char *path)
{
    static const int kOrder[] = {SECTION_RESULTS, SECTION_GRAPHS, SECTION_CHARTS, SECTION_TRADES};
    for (int section : kOrder) {
        if (!SectionPresent(section)) continue;
        if (NoteSourceTime(section, path)) RefreshSection(section);
    }
}
