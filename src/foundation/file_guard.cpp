/* file_guard.cpp -- turns of several processes at one file, by a guard file
** and the lock both builds see. */
#include "foundation/file_guard.h"

#include "foundation/text_match.h"

enum { GUARD_POLL_MS = 20 };

void (*gFileGuardOpened)(const char *path) = nullptr;

/* One try: the guard file opened (made when missing) and held, and still the
** file the name gives (a holder that was letting go may have removed it
** between the opening and the lock).  1 when held; 0 with the guard let go and
** *busy set when another holder has it. */
static int TryFileGuard(FileGuard *guard, int *busy)
{
    *busy = 0;
    PlatFile file = PlatOpenFile(guard->path, PLAT_OPEN_GUARD);
    if (!file) {
        /* Another Windows program of an earlier version holds it unshared. */
        *busy = PlatLastError() == PLAT_ERR_SHARING_VIOLATION;
        return 0;
    }
    if (gFileGuardOpened) gFileGuardOpened(guard->path);
    if (!PlatLockFile(file, guard->exclusive)) {
        PlatCloseFile(file);
        *busy = 1;
        return 0;
    }
    if (!PlatIsFileNamed(file, guard->path)) {
        PlatCloseFile(file);
        PlatSetLastError(PLAT_ERR_SHARING_VIOLATION);
        return 0; /* gone meanwhile: the next try makes it anew */
    }
    guard->file = file;
    return 1;
}

int TakeFileGuard(FileGuard *guard, const char *path, int exclusive, uint32_t waitMs, void (*busy)(const char *),
                  const char *busyArg)
{
    guard->file = nullptr;
    guard->exclusive = exclusive;
    CopyString(guard->path, sizeof guard->path, path, -1);
    const uint64_t started = PlatTickCount64();
    int told = 0, quick = 0;
    for (;;) {
        int held = 0;
        if (TryFileGuard(guard, &held)) return 1;
        const int code = PlatLastError();
        if (!held && code != PLAT_ERR_SHARING_VIOLATION) return 0; /* no guard can be made here */
        if (held && !told && busy) {
            told = 1;
            busy(busyArg);
        }
        /* A guard that went between the opening and the lock is made anew at
        ** once; a held one is waited for, as long as the caller waits (with
        ** no time at all, one look). */
        if (held || ++quick > 3) {
            if (PlatTickCount64() - started >= waitMs) {
                PlatSetLastError(PLAT_ERR_SHARING_VIOLATION);
                return 0;
            }
            quick = 0;
            PlatSleep(GUARD_POLL_MS);
        }
    }
}

void ReleaseFileGuard(FileGuard *guard)
{
    if (!guard->file) return;
    /* The last holder removes the name while it still holds the lock; a
    ** shared holder is the last when it can hold the guard alone. */
    if (!guard->exclusive) {
        PlatUnlockFile(guard->file);
        guard->exclusive = PlatLockFile(guard->file, 1);
    }
    if (guard->exclusive) {
        const int code = PlatLastError();
        PlatRemoveHeldFile(guard->file, guard->path);
        PlatSetLastError(code);
    }
    PlatCloseFile(guard->file);
    guard->file = nullptr;
}
