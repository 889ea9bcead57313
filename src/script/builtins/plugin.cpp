/* plugin.cpp -- the user's plug-in library: loading, unloading, and the
** DllDataCalc built-in that hands it one symbol's bars, arguments and
** earlier Data items and lets it fill the item's values.
**
** Layout:     the call block and the item entries are fixed little-endian
**             records with 64-bit pointers, the same in both builds.
** Threads:    loaded and unloaded on the user-interface thread while no
**             worker runs; the export is called from several workers at once,
**             each with its own block, arguments and output.
*/
#include "script/builtins/builtins.h"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "script/builtins/arg_helpers.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/compile_links.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/value_access.h"

namespace {

struct PluginState {
    PlatLibrary library;
    DllDataCalcExport entry;
};
PluginState sPlugin;

const char *const kPluginFile = PLUGIN_FILE_NAME;

} // namespace

static_assert(sizeof(void *) == 8, "the plug-in block carries 64-bit pointers");
static_assert(sizeof(DllCallBlock) == 56, "DllCallBlock is 56 bytes");
static_assert(offsetof(DllCallBlock, argumentCount) == 24 && offsetof(DllCallBlock, argumentTexts) == 32 &&
                  offsetof(DllCallBlock, items) == 40 && offsetof(DllCallBlock, itemCount) == 48,
              "DllCallBlock field offsets");
static_assert(sizeof(DllDataItem) == 80 && offsetof(DllDataItem, name) == 8 && offsetof(DllDataItem, dataType) == 72,
              "DllDataItem layout");

int LoadPluginDll(int load)
{
    if (!load) {
        if (sPlugin.library) PlatFreeLibrary(sPlugin.library);
        sPlugin = PluginState{};
        return 1;
    }
    if (sPlugin.library) return 1;
    char path[PATH_SIZE + 64];
    const char *folder = gSettings.UserDllPath[0] ? gSettings.UserDllPath : gProgramFolder;
    FormatText(path, sizeof path, "%s\\%s%s", folder, kPluginFile, PlatLibrarySuffix());
    sPlugin.library = PlatLoadLibrary(path);
    if (sPlugin.library)
        sPlugin.entry = (DllDataCalcExport)PlatGetProcAddress(sPlugin.library, "DllDataCalc");
    if (!sPlugin.library || !sPlugin.entry) {
        LoadPluginDll(0);
        return 0;
    }
    return 1;
}

int LoadDataCalcPlugin() { return LoadPluginDll(1); }

int CalcDllDataCalc(FormulaNode *node, EvalContext *context, int barsBack)
{
    DllDataCalcExport entry = sPlugin.entry;
    if (!entry || !context || !context->symbol || context->symbol == &gStore.calendar || !context->onePassWindow ||
        context->dataItemIndex < 0)
        return 0;
    double values[DLL_MAX_ARGS] = {};
    char texts[DLL_MAX_ARGS][FORMULA_TEXT_SIZE] = {};
    char *textSlots[DLL_MAX_ARGS] = {};
    int32_t count = node->argCount < DLL_MAX_ARGS ? node->argCount : DLL_MAX_ARGS;
    for (int32_t k = 0; k < count; k++) {
        if (!EvalArg(node, context, k + 1, barsBack, &values[k])) return 0;
        CopyString(texts[k], sizeof texts[k], node->textFlag ? node->text : "", -1);
        textSlots[k] = texts[k];
    }
    /* The library is given the daily bars whatever the item's bar size, and
    ** may read and write every array it is handed up to their count.  An
    ** item of a longer size holds one value per bar of its own size, fewer
    ** than the daily bars, so its output and the earlier items' values are
    ** then handed over as copies as long as the daily bars (NaN past their
    ** own values), and only the item's own range is copied back. */
    int32_t barCount = 0, outputCount = 0;
    Bar *bars = GetBarArray(context->symbol, BAR_DAILY, &barCount);
    if (!bars || !GetBarArray(context->symbol, context->barSize, &outputCount)) return 0;
    const bool widen = outputCount < barCount;

    const FormulaItem *items = (const FormulaItem *)gDataItems.items;
    const SymbolRecord *symbol = context->symbol;
    /* The earlier items the library sees: per bar, at the item's bar size. */
    const int32_t index = context->dataItemIndex;
    const FormulaItem *self = items && index < gDataItems.count ? &items[index] : nullptr;
    const int32_t selfSize = self ? DataItemBarSize(self) : 0;
    DllDataItem *entries = nullptr;
    double *copies = nullptr;
    int32_t n = 0;
    if (self && index > 0 && symbol->dataValues[0] && symbol->dataOffsets[0]) {
        if (!AllocMemory(&entries, (uint64_t)index * sizeof(DllDataItem))) return 0;
        memset(entries, 0, (size_t)index * sizeof(DllDataItem));
    }
    for (int32_t k = 0; entries && k < index; k++) {
        const FormulaItem *item = &items[k];
        if (item->onePerDate || item->onePerSymbol || DataItemBarSize(item) != selfSize) continue;
        DllDataItem *e = &entries[n++];
        e->values = symbol->dataValues[0] + symbol->dataOffsets[0][k];
        CopyString(e->name, sizeof e->name, item->formula.name, -1);
        e->dataType = (int32_t)item->formula.resultFormat;
    }
    /* One block holds the wide output and a wide copy of every entry. */
    const int32_t wideArrays = widen ? 1 + n : 0;
    if (wideArrays > 0 && !AllocMemory(&copies, (uint64_t)wideArrays * (uint64_t)barCount * sizeof(double))) {
        FreeMemory(&entries);
        return 0;
    }
    double *output = context->onePassWindow;
    for (int32_t a = 0; a < wideArrays; a++) {
        double *wide = copies + (int64_t)a * barCount;
        const double *from = a == 0 ? output : entries[a - 1].values;
        memcpy(wide, from, (size_t)outputCount * sizeof(double));
        for (int32_t i = outputCount; i < barCount; i++) wide[i] = NAN;
        if (a > 0) entries[a - 1].values = wide;
    }

    DllCallBlock block = {};
    block.bars = bars;
    block.output = widen ? copies : output;
    block.arguments = values;
    block.argumentCount = count;
    block.barCount = barCount;
    block.argumentTexts = textSlots;
    block.items = n > 0 ? entries : nullptr;
    block.itemCount = n;
    entry(&block); /* what it returns has no meaning to the program */
    if (widen) memcpy(output, copies, (size_t)outputCount * sizeof(double));
    FreeMemory(&copies);
    FreeMemory(&entries);
    return 1;
}
