/* fuzz_input.h -- where the fuzz targets put the files they make of their
** input: a scratch path of the calling thread's own in the temporary folder
** (TMPDIR, else TEMP, else /tmp), so that targets and runs side by side
** share no file.
*/
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

#include "foundation/text_match.h"
#include "platform/platform.h"

/* "<temporary folder>\<stem>_<thread id><ending>". */
inline std::string FuzzScratchPath(const char *stem, const char *ending = "")
{
    char base[200], path[260];
    if (!PlatGetEnv("TMPDIR", base, sizeof base) && !PlatGetEnv("TEMP", base, sizeof base))
        CopyString(base, sizeof base, "/tmp", -1);
    FormatText(path, sizeof path, "%s\\%s_%u%s", base, stem, PlatCurrentThreadId(), ending);
    return path;
}

/* Writes the bytes to a file at path; 0 when it cannot be made. */
inline int FuzzWriteFile(const std::string &path, const uint8_t *data, size_t size)
{
    PlatFile f = PlatOpenFile(path.c_str(), PLAT_CREATE_WRITE);
    if (!f) return 0;
    uint32_t written = 0;
    PlatWriteFile(f, data, (uint32_t)size, &written);
    PlatCloseFile(f);
    return 1;
}

/* Writes the input to FuzzScratchPath(stem, ending); the path, or "" when the
** file cannot be made. */
inline std::string FuzzInputFile(const char *stem, const char *ending, const uint8_t *data, size_t size)
{
    std::string path = FuzzScratchPath(stem, ending);
    return FuzzWriteFile(path, data, size) ? path : std::string();
}

/* A target whose check failed: under libFuzzer the process stops at once, so
** the fuzzer keeps the input that did it.  The test program that replays the
** seeds (KV_FUZZ_REPLAY) must go on and name the seed instead: there the
** reason is kept in gFuzzFailure and the target answers 1, which the replay
** test reports as a failure of that seed. */
#ifdef KV_FUZZ_REPLAY
inline std::string gFuzzFailure;
inline int FuzzCheckFailed(const char *why)
{
    gFuzzFailure = why;
    return 1;
}
#else
inline int FuzzCheckFailed(const char *why)
{
    fprintf(stderr, "%s\n", why);
    __builtin_trap();
}
#endif
