/* file_state.h -- what tells a file replaced or rewritten by another program
** since it was last read or written here.
**
** A file's state is whether it was there, its identity (volume and number),
** its size and its last write.  A save that replaces the file gives it a new
** identity, one that rewrites it a new size or time.  (A number may be given
** again to a file made after the one that had it is gone, and a rewrite may
** keep size and time within one tick of the clock: where that matters, the
** caller compares contents too.)
** Errors:     none reported; a file that cannot be looked at is not seen.
** Threads:    any thread.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

struct FileState {
    int32_t seen; /* 0: not there or not readable; the rest is then zero */
    PlatFileId id;
    uint64_t size;
    PlatDateTime time;
};

/* The state of the file at path now. */
FileState LookAtFile(const char *path);
/* 1 when two states of a file differ in being there, identity, size or last write. */
int FileStatesDiffer(const FileState &a, const FileState &b);
