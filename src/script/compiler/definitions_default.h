/* definitions_default.h -- stand-in answers for the definitions module, the
** symbol store, the strategies, the plug-in library and the compile driver,
** which the formula compiler asks through definitions.h and compile_links.h
** (symbols already come from the loaded data's symbol array).
**
** Until those modules are linked in, definitions_default.cpp answers from the
** plain lists below, which are empty unless someone (the compiler's tests)
** fills them.  The file pair goes away as the real modules arrive.
*/
#pragma once
#include <cstdint>

struct FormulaItem;
struct FormulaSlot;

struct StandInParameter {
    const char *name;
    double value;
};

struct StandInColumn {
    FormulaSlot *slot;
    uint32_t section;          /* SectionId of the column list */
};

struct DefinitionStandIn {
    FormulaItem *items[4];     /* Data, TestData, StratData, Library lists */
    int32_t itemCounts[4];
    StandInColumn *columns;    /* Results .. TestScan columns, any order */
    int32_t columnCount;
    StandInParameter *parameters;
    int32_t parameterCount;
    const char *const *strategies; /* compiled strategy names */
    int32_t strategyCount;
    int32_t loadedSeries;      /* bit k: constituency series k + 1 is in the data */
    int32_t pluginLoads;
};
extern DefinitionStandIn gDefinitionStandIn;
