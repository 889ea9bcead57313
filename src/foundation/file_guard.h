/* file_guard.h -- a guard file that lets writers of one file (and readers
** that must not meet a writer) take turns, across processes and across the
** two builds sharing one folder.
**
** Owns:       the open guard file of each FileGuard while it is held.
** The guard is a small file beside what it guards.  Whoever holds the guard
** holds the file's lock (PlatLockFile): exclusively to write, shared to read.
** The lock, not the file's being there, is what counts, so a guard left by a
** program that was killed is simply taken over, and its holder removes the
** name while it still holds the lock, so that no one else's guard is ever
** removed by mistake.  The lock goes with the holder's process however it
** ends.
** Errors:     no messages; the routines set the system's error code and the
**             caller reports in its own words.
** Threads:    any thread; one FileGuard per holder.
*/
#pragma once
#include <cstdint>

#include "foundation/file_helpers.h"

struct FileGuard {
    PlatFile file;             /* null while not held */
    char path[PATH_SIZE];      /* the guard file */
    int exclusive;
};

/* Takes the guard file at path, exclusively or shared, waiting up to waitMs
** while another holder keeps it (0: one look, no wait; busy, when given, is
** called once, the first time it is found held, with busyArg).  1 when held; 0 with
** PLAT_ERR_SHARING_VIOLATION when it was still held when the time was up, or
** with the system's code when the guard file cannot be made. */
int TakeFileGuard(FileGuard *guard, const char *path, int exclusive, uint32_t waitMs,
                  void (*busy)(const char *busyArg) = nullptr, const char *busyArg = nullptr);
/* Lets the guard go: the last holder removes the guard file.  Safe to call
** on a guard not held. */
void ReleaseFileGuard(FileGuard *guard);
/* Null, or called in each try between the opening of the guard file and its
** lock: where tests let another holder go at the worst moment. */
extern void (*gFileGuardOpened)(const char *path);
