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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    /* A folder of this process's own, so that runs side by side do not share the file. */
    char base[200], dir[260];
    if (!PlatGetEnv("TMPDIR", base, sizeof base) && !PlatGetEnv("TEMP", base, sizeof base))
        CopyString(base, sizeof base, "/tmp", -1);
    FormatText(dir, sizeof dir, "%s\\kv_datafile_fuzz_%u", base, PlatCurrentThreadId());
    if (!PlatCreateFolder(dir)) return 0;
    std::string why;
    if (!CheckLoad(dir, data, size, &why)) {
        fprintf(stderr, "%s\n", why.c_str());
        __builtin_trap();
    }
    PlatDeleteFile((std::string(dir) + "\\fuzz.kvd").c_str());
    PlatRemoveFolder(dir);
    return 0;
}
