/* datafile_fuzz.cpp -- libFuzzer target for the data file loader: any bytes
** as a data file, loaded and checked by CheckLoad (datafile_check.h).  Built
** with clang by the preset "fuzz" (tools/fuzz-smoke); its seeds in
** fuzz/seeds/datafile_fuzz/ are replayed by the normal test build, and
** tests/fuzz/fuzz_datafile.cpp replays thousands of damaged copies of a valid
** file through the same check.
*/
#include <cstdint>
#include <cstdio>
#include <string>

#include "datafile_check.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string dir = FuzzScratchPath("kv_datafile_fuzz");
    if (!PlatCreateFolder(dir.c_str())) return 0;
    std::string why;
    if (!CheckLoad(dir, data, size, &why)) return FuzzCheckFailed(why.c_str());
    PlatDeleteFile((dir + "\\fuzz.kvd").c_str());
    PlatRemoveFolder(dir.c_str());
    return 0;
}
