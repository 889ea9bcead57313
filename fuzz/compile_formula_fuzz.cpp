// compile_formula_fuzz.cpp -- libFuzzer target for the formula compiler: any
// bytes as a formula text, compiled under every section's rules.  Not part of
// the normal builds; build it with clang from the repository root:
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -Isrc \
//     fuzz/compile_formula_fuzz.cpp $(find src -name '*.cpp' ! -path '*/win32/*' \
//     ! -path '*/posix/*') src/platform/posix/*.cpp -o build/fuzz_compile_formula
#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/allocator.h"
#include "script/compiler/compile_errors.h"
#include "script/compiler/formula.h"
#include "shell/headless/headless.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static FormulaSlot slot;
    gHeadless.captureLog = 1;
    gHeadless.messageCount = 0;
    std::string text(reinterpret_cast<const char *>(data), size);
    for (uint32_t section = 0; section < 30; section++) {
        slot.scriptText = text.c_str();
        slot.start = 0;
        slot.length = (int32_t)text.size();
        slot.count = 0;
        slot.breadthFunction = 0;
        slot.grouping = 0;
        if (CompileFormula(&slot, section, -1) && slot.count > 0) {
            /* a compiled array always ends with its end node inside the capacity */
            if (slot.count >= slot.capacity || slot.nodes[0][slot.count].item != 0) __builtin_trap();
        }
        gOutOfMemory = 0;
    }
    return 0;
}
