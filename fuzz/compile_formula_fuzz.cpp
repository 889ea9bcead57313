// compile_formula_fuzz.cpp -- libFuzzer target for the formula compiler: any
// bytes as a formula text, compiled under every section's rules, in turn
// outside a script compile and in its second pass (symbols and strategies
// resolved), with a Data and a Library item to bind to.  A compiled formula
// must hold together for the evaluator: its end node inside the capacity,
// every term's width, argument links and bar-offset link inside the formula,
// the worker copies equal to the master, and every node renderable.
//
// Built with clang by the preset "fuzz" (tools/fuzz-smoke); its seeds in
// fuzz/seeds/compile_formula_fuzz/ are replayed by the normal test build.
// Inputs that once failed are kept as cases in tests/script/formula_compile_test.cpp.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "script/compiler/compile_errors.h"
#include "fuzz_input.h"
#include "script/compiler/compiler_state.h"
#include "script/compiler/definitions.h"
#include "script/compiler/formula.h"
#include "script/compiler/formula_text.h"
#include "script/compiler/parser_hooks.h"
#include "script/compiler/strategy.h"
#include "script/eval/item_table.h"
#include "shell/headless/headless.h"

namespace {

/* What is wrong with a compiled formula, or null. */
const char *CheckCompiled(const FormulaSlot &slot)
{
    if (slot.count >= slot.capacity || slot.nodes[0][slot.count].item != 0) return "no end node after the formula";
    if (memcmp(slot.nodes[0], slot.nodes[FORMULA_WORKER_COPIES - 1], (size_t)slot.capacity * sizeof(FormulaNode)))
        return "the workers' copies differ";
    const FormulaNode *nodes = slot.nodes[0];
    for (int32_t i = 0; i < slot.count; i++) {
        const FormulaNode &node = nodes[i];
        if (node.item >= SCRIPT_ITEM_COUNT) return "an item outside the table";
        if (i + (int64_t)node.width >= slot.count) return "a width past the end";
        if (node.barsBackLink > node.width) return "a bar offset link past the width";
        if (IsFunctionCategory(node.category)) {
            if (node.argCount < 0 || node.argCount > FORMULA_MAX_ARGS) return "an argument count out of range";
            for (int32_t k = 0; k < node.argCount; k++) {
                if (node.argLinks[k] < 2 || node.argLinks[k] >= node.width) return "an argument link outside the call";
            }
        }
        char out[160];
        int n = FormatTokenText(&node, out, sizeof out);
        if (n < 0 || n >= (int)sizeof out || (size_t)n != strlen(out)) return "a token text of the wrong length";
    }
    return nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FormulaSlot slot;
    static FormulaItem items[2]; /* "D0" in Data, "L0" in Library */
    CopyString(items[0].formula.name, FORMULA_NAME_SIZE, "D0", -1);
    CopyString(items[1].formula.name, FORMULA_NAME_SIZE, "L0", -1);
    /* The lists point at this target's items only while it runs: a program
    ** that replays the seeds goes on with its own. */
    const DefinitionList dataItems = gDataItems, libraryItems = gLibraryItems;
    StrategyRecord *const strategies = gStrategies;
    const int32_t strategyCount = gStrategyCount, strategyCapacity = gStrategyCapacity;
    const CompileSession session = gCompileSession;
    gDataItems = DefinitionList{&items[0], 1, 1};
    gLibraryItems = DefinitionList{&items[1], 1, 1};
    gStrategies = nullptr;
    gStrategyCount = gStrategyCapacity = 0;
    int error = 0;
    const char *why = AddStrategyRecord(SECTION_STRATEGY, "S1", &error) ? nullptr : "no strategy record";
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    std::string text(reinterpret_cast<const char *>(data), size);
    for (int pass = 0; pass <= 2 && !why; pass += 2) {
        gCompileSession.pass = pass;
        for (uint32_t section = 0; section < SECTION_COUNT && !why; section++) {
            slot.scriptText = text.c_str();
            slot.start = 0;
            slot.length = (int32_t)text.size();
            slot.count = 0;
            slot.breadthFunction = 0;
            slot.grouping = 0;
            items[0].onePerDate = items[0].onePerSymbol = 0;
            if (CompileFormula(&slot, section, 0) && slot.count > 0) why = CheckCompiled(slot);
            gOutOfMemory = 0;
        }
    }
    FreeStrategyRecords();
    gDataItems = dataItems;
    gLibraryItems = libraryItems;
    gStrategies = strategies;
    gStrategyCount = strategyCount;
    gStrategyCapacity = strategyCapacity;
    gCompileSession = session;
    return why ? FuzzCheckFailed(why) : 0;
}
