/* definitions_default.cpp -- stand-in answers until the definitions module,
** the symbol store, the strategies and the plug-in loader are linked in.  The
** lookups follow their modules' rules over the plain lists of
** gDefinitionStandIn, so formulas compile the same way against either.  The
** definition lookups themselves (FindScriptDefinition, FindParameterName,
** DefinitionItem, ReferencedFormula) come from definitions.cpp. */
#include "script/compiler/definitions_default.h"

#include <cstring>

#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/eval/item_table.h"

DefinitionStandIn gDefinitionStandIn;


int32_t LookupSymbolIndex(const char *name) { return FindSymbolIndex(name); }

int32_t LoadedSymbolCount() { return gSymbols ? gSymbolCount : 0; }

const char *LoadedSymbolName(int32_t k)
{
    return gSymbols && k >= 1 && k <= gSymbolCount ? gSymbols[k - 1].info.Symbol : "";
}

int32_t LookupStrategyNumber(const char *name)
{
    for (int32_t i = 0; i < gDefinitionStandIn.strategyCount; i++) {
        if (CompareNoCase(gDefinitionStandIn.strategies[i], name) == 0) return i + 1;
    }
    return 0;
}

int32_t RenderStrategyCount() { return gDefinitionStandIn.strategyCount; }

const char *RenderStrategyName(int32_t index)
{
    return index >= 0 && index < gDefinitionStandIn.strategyCount ? gDefinitionStandIn.strategies[index] : "";
}

const char *CompiledStrategyName(int32_t number) { return RenderStrategyName(number - 1); }

int ConstituencySeriesLoaded(int32_t series)
{
    return series >= 1 && series <= 31 && (gDefinitionStandIn.loadedSeries >> (series - 1)) & 1;
}

int (*gPluginLoader)(int load) = nullptr;

int LoadDataCalcPlugin() { return gDefinitionStandIn.pluginLoads || (gPluginLoader && gPluginLoader(1)); }

