/* compile_links.cpp -- the compiler's questions about the loaded data and the
** compiled strategies, answered from the symbol store, the data file's header
** and the strategy records. */
#include "script/compiler/compile_links.h"

#include "foundation/text_match.h"
#include "marketdata/store/datafile.h"
#include "marketdata/store/symbols.h"
#include "script/compiler/strategy.h"

int32_t LookupSymbolIndex(const char *name) { return FindSymbolIndex(name); }

int32_t LoadedSymbolCount() { return gStore.symbols ? gStore.symbolCount : 0; }

const char *LoadedSymbolName(int32_t k)
{
    return gStore.symbols && k >= 1 && k <= gStore.symbolCount ? gStore.symbols[k - 1].info.Symbol : "";
}

/* During a compile the records stand in script order, Templates among them;
** after it the active records are numbered as the run numbers them. */
int32_t LookupStrategyNumber(const char *name)
{
    for (int32_t i = 0; gStrategies && i < gStrategyCount; i++)
        if (CompareNoCase(gStrategies[i].name, name) == 0) return i + 1;
    return 0;
}

int32_t RenderStrategyCount() { return gStrategies ? gStrategyCount : 0; }

const char *RenderStrategyName(int32_t index)
{
    const StrategyRecord *record = StrategyByNumber(index + 1);
    return record ? record->name : "";
}

const char *CompiledStrategyName(int32_t number)
{
    const StrategyRecord *record = StrategyByNumber(number);
    return record ? record->name : "";
}

int ConstituencySeriesLoaded(int32_t series)
{
    if (series < 1) return 0;
    for (int k = 0; k < MAX_CONSTITUENCY_IDS && gStore.constituencyIds[k]; k++)
        if (gStore.constituencyIds[k] == (uint32_t)series) return 1;
    return 0;
}
