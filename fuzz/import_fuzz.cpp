/* import_fuzz.cpp -- libFuzzer target for the price-file readers: the first
** byte picks the reader (CSV file, MetaStock directory file, MetaStock data
** file), the rest is its input, checked by CheckImportInput (import_check.h).
** Built with clang by the preset "fuzz" (tools/fuzz-smoke); its seeds in
** fuzz/seeds/import_fuzz/ are replayed by the normal test build, and
** tests/fuzz/fuzz_import.cpp replays damaged copies of valid inputs through
** the same check.
*/
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz_input.h"
#include "import_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const std::string dir = FuzzScratchPath("kv_import_fuzz");
    if (!PlatCreateFolder(dir.c_str())) return 0;
    std::string why;
    if (!CheckImportInput(dir, data[0] % IMPORT_FUZZ_TARGETS, data + 1, size - 1, &why))
        return FuzzCheckFailed(why.c_str());
    for (const char *name : {"FUZ.csv", "master", "F1.dat"}) PlatDeleteFile((dir + "\\" + name).c_str());
    PlatRemoveFolder(dir.c_str());
    return 0;
}
