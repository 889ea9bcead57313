/* platform.cpp (posix) -- the OS services on Linux.
**
** Program paths use '\'; every path is converted with PlatNativePath before it
** reaches the OS.  Error codes are mapped onto the Windows numbers the rest of
** the program knows, and the error text is strerror's.
*/
#include "platform/platform.h"

#include <cctype>
#include <cerrno>
#include <sched.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

static thread_local int tLastError = 0;

static int MapErrno(int e)
{
    switch (e) {
    case ENOENT: return PLAT_ERR_FILE_NOT_FOUND;
    case ENOTDIR: return PLAT_ERR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return PLAT_ERR_ACCESS_DENIED;
    case EEXIST: return PLAT_ERR_ALREADY_EXISTS;
    case ENOSPC: return PLAT_ERR_DISK_FULL;
    default: return 100000 + e; /* kept apart from the Windows codes, still reversible */
    }
}

static int Fail()
{
    tLastError = MapErrno(errno);
    return 0;
}

void PlatNativePath(const char *path, char *out, size_t size)
{
    if (!out || size == 0) return;
    size_t i = 0;
    for (; path && path[i] && i + 1 < size; i++)
        out[i] = path[i] == '\\' ? '/' : path[i];
    out[i] = 0;
}

#define NATIVE(var, path) \
    char var[4096];       \
    PlatNativePath(path, var, sizeof var)

/* ---- files ---------------------------------------------------------------- */

struct PosixFile {
    int fd;
};

/* 1 when the user may write the existing file st describes.  The superuser
** passes every permission check of the system, yet a file whose mode has no
** write bit is one its owner marked read-only: it is kept, as Windows keeps a
** read-only file from every user. */
static int MayWrite(const char *path, const struct stat &st)
{
    if (geteuid() == 0) return (st.st_mode & 0222) != 0;
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
}

/* Refuses (0, access denied) to open an existing file the user may not
** write for writing; 1 when the file may be written or does not exist. */
static int CheckWritable(const char *path)
{
    struct stat st;
    if (stat(path, &st) != 0 || S_ISDIR(st.st_mode) || (MayWrite(path, st) && !PlatFaultDue(PLAT_FAULT_READ_ONLY)))
        return 1;
    tLastError = PLAT_ERR_ACCESS_DENIED;
    return 0;
}

/* The byte whose lock holds a file (platform.h): far beyond any data, at the
** offset the Windows build locks, which Wine also locks as a POSIX lock. */
static const off_t kHoldOffset = (off_t)1 << 62;

/* One open-file-description lock on the hold byte: cmd F_OFD_SETLK or
** F_OFD_GETLK, type F_WRLCK, F_RDLCK or F_UNLCK.  It meets the POSIX locks of
** other processes (Wine's among them) and the OFD locks of other opens. */
static int HoldByteLock(int fd, int cmd, short type, struct flock *out = nullptr)
{
    struct flock fl;
    memset(&fl, 0, sizeof fl);
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = kHoldOffset;
    fl.l_len = 1;
    int r = fcntl(fd, cmd, &fl);
    if (out) *out = fl;
    return r;
}

/* 1 when errno says the file system keeps no locks of this kind: the lock is
** then taken, as there is nothing to meet. */
static int NoLocksHere(int e) { return e == ENOLCK || e == EOPNOTSUPP || e == ENOSYS || e == EINVAL; }

/* Holds fd (opened for reading and writing, or for writing alone when
** exclusive): the flock that earlier versions of the program look for, and
** the lock of the hold byte; 1, or 0 with both let go when another holder has
** either. */
static int HoldDescriptor(int fd, int exclusive)
{
    if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && !NoLocksHere(errno)) return 0;
    if (HoldByteLock(fd, F_OFD_SETLK, exclusive ? F_WRLCK : F_RDLCK) == 0 || NoLocksHere(errno)) return 1;
    flock(fd, LOCK_UN);
    return 0;
}

/* 1 when another holder has the file fd opened for reading only (which can
** take no write lock itself) or holds it exclusively. */
static int HeldElsewhere(int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) return !NoLocksHere(errno);
    struct flock fl;
    const int held = HoldByteLock(fd, F_OFD_GETLK, F_WRLCK, &fl) == 0 && fl.l_type != F_UNLCK;
    flock(fd, LOCK_UN);
    return held;
}

/* 1 when the file open at fd is the one p names (links not followed) and
** has not been removed. */
static int DescriptorIsNamed(int fd, const char *p)
{
    struct stat opened, named;
    return fstat(fd, &opened) == 0 && opened.st_nlink > 0 && lstat(p, &named) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino;
}

/* Takes the lock of a file this process has just created at p (fd): 1 when
** the lock is taken and p still names that file.  Until the lock is taken
** the new file looks unused to PlatDeleteUnusedFile of another process,
** which may have removed it meanwhile or hold it now to remove it. */
static int HoldNewFile(int fd, const char *p)
{
    return HoldDescriptor(fd, 1) && DescriptorIsNamed(fd, p);
}

PlatFile PlatOpenFile(const char *path, int mode)
{
    if ((mode == PLAT_OPEN_READ && PlatFaultDue(PLAT_FAULT_OPEN_READ)) ||
        ((mode == PLAT_CREATE_EXCLUSIVE || mode == PLAT_OPEN_GUARD) && PlatFaultDue(PLAT_FAULT_CREATE))) {
        tLastError = PLAT_ERR_ACCESS_DENIED;
        return nullptr;
    }
    NATIVE(p, path);
    if (mode != PLAT_OPEN_READ && mode != PLAT_CREATE_EXCLUSIVE && mode != PLAT_OPEN_GUARD && !CheckWritable(p))
        return nullptr;
    int flags = 0;
    switch (mode) {
    case PLAT_OPEN_READ: flags = O_RDONLY; break;
    case PLAT_CREATE_WRITE: flags = O_WRONLY | O_CREAT | O_TRUNC; break;
    case PLAT_OPEN_READ_WRITE: flags = O_RDWR; break;
    case PLAT_OPEN_APPEND: flags = O_WRONLY | O_CREAT | O_APPEND; break;
    case PLAT_CREATE_EXCLUSIVE: flags = O_WRONLY | O_CREAT | O_EXCL; break;
    case PLAT_OPEN_GUARD: flags = O_RDWR | O_CREAT; break;
    default: tLastError = 87; return nullptr;
    }
    int fd = open(p, flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        Fail();
        return nullptr;
    }
    /* The lock is what tells PlatDeleteUnusedFile of another process that
    ** the file is in use, as Windows' sharing mode does. */
    if (mode == PLAT_CREATE_EXCLUSIVE && !HoldNewFile(fd, p)) {
        close(fd);
        tLastError = PLAT_ERR_SHARING_VIOLATION;
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        tLastError = PLAT_ERR_ACCESS_DENIED;
        return nullptr;
    }
    PosixFile *f = (PosixFile *)malloc(sizeof(PosixFile));
    if (!f) {
        close(fd);
        tLastError = 8;
        return nullptr;
    }
    f->fd = fd;
    return f;
}

int PlatCloseFile(PlatFile file)
{
    if (!file) return 0;
    PosixFile *f = (PosixFile *)file;
    int ok = close(f->fd) == 0 ? 1 : Fail();
    free(f);
    return ok;
}

int PlatReadFile(PlatFile file, void *buffer, uint32_t size, uint32_t *pRead)
{
    uint32_t total = 0;
    if (pRead) *pRead = 0;
    if (!file) {
        tLastError = PLAT_ERR_INVALID_HANDLE;
        return 0;
    }
    PosixFile *f = (PosixFile *)file;
    while (total < size) {
        ssize_t n = read(f->fd, (char *)buffer + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (pRead) *pRead = total;
            return Fail();
        }
        if (n == 0) break;
        total += (uint32_t)n;
    }
    if (pRead) *pRead = total;
    return 1;
}

int PlatWriteFile(PlatFile file, const void *data, uint32_t size, uint32_t *pWritten)
{
    uint32_t total = 0;
    if (pWritten) *pWritten = 0;
    if (!file) {
        tLastError = 6;
        return 0;
    }
    if (PlatFaultDue(PLAT_FAULT_WRITE)) {
        tLastError = PLAT_ERR_DISK_FULL;
        return 0;
    }
    PosixFile *f = (PosixFile *)file;
    while (total < size) {
        ssize_t n = write(f->fd, (const char *)data + total, size - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (pWritten) *pWritten = total;
            return Fail();
        }
        total += (uint32_t)n;
    }
    if (pWritten) *pWritten = total;
    return 1;
}

int PlatGetFileSize(PlatFile file, uint64_t *pSize)
{
    if (!file) {
        tLastError = 6;
        return 0;
    }
    struct stat st;
    if (fstat(((PosixFile *)file)->fd, &st) != 0) return Fail();
    if (pSize) *pSize = (uint64_t)st.st_size;
    return 1;
}

int PlatSeekFile(PlatFile file, int64_t offset, int origin, uint64_t *pPos)
{
    if (!file) {
        tLastError = 6;
        return 0;
    }
    int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR
                                                      : SEEK_END;
    off_t r = lseek(((PosixFile *)file)->fd, (off_t)offset, whence);
    if (r < 0) return Fail();
    if (pPos) *pPos = (uint64_t)r;
    return 1;
}

int PlatSetEndOfFile(PlatFile file)
{
    if (!file) {
        tLastError = 6;
        return 0;
    }
    int fd = ((PosixFile *)file)->fd;
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0 || ftruncate(fd, pos) != 0) return Fail();
    return 1;
}

int PlatFlushFile(PlatFile file)
{
    if (!file) {
        tLastError = 6;
        return 0;
    }
    return fsync(((PosixFile *)file)->fd) == 0 ? 1 : Fail();
}

static void ToDateTime(time_t t, long nsec, PlatDateTime *out)
{
    struct tm tmv;
    localtime_r(&t, &tmv);
    out->year = tmv.tm_year + 1900;
    out->month = tmv.tm_mon + 1;
    out->dayOfWeek = tmv.tm_wday;
    out->day = tmv.tm_mday;
    out->hour = tmv.tm_hour;
    out->minute = tmv.tm_min;
    out->second = tmv.tm_sec;
    out->milliseconds = (int)(nsec / 1000000);
}

int PlatGetFileInfo(const char *path, uint64_t *pSize, PlatDateTime *pLastWrite)
{
    NATIVE(p, path);
    struct stat st;
    if (stat(p, &st) != 0) return Fail();
    if (pSize) *pSize = (uint64_t)st.st_size;
    if (pLastWrite) ToDateTime(st.st_mtim.tv_sec, st.st_mtim.tv_nsec, pLastWrite);
    return 1;
}

int PlatFileExists(const char *path)
{
    NATIVE(p, path);
    struct stat st;
    return stat(p, &st) == 0 ? 1 : 0;
}

int PlatFolderExists(const char *path)
{
    NATIVE(p, path);
    struct stat st;
    return stat(p, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

int PlatIsLink(const char *path)
{
    NATIVE(p, path);
    struct stat st;
    return lstat(p, &st) == 0 && S_ISLNK(st.st_mode) ? 1 : 0;
}

int PlatDeleteFile(const char *path)
{
    NATIVE(p, path);
    return unlink(p) == 0 ? 1 : Fail();
}

int PlatDeleteUnusedFile(const char *path)
{
    NATIVE(p, path);
    /* Held while it is removed, so no holder takes it meanwhile; a file this
    ** user may only read is tested rather than held. */
    int fd = open(p, O_RDWR | O_CLOEXEC);
    const int writable = fd >= 0;
    if (fd < 0) fd = open(p, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail();
    /* Held, it is in use; and a name that meanwhile moved to another file
    ** (its writer renamed it away, another made it anew) is taken as in use
    ** too, so the new file is never removed unheld. */
    if (!(writable ? HoldDescriptor(fd, 1) : !HeldElsewhere(fd) && flock(fd, LOCK_EX | LOCK_NB) == 0) ||
        !DescriptorIsNamed(fd, p)) {
        close(fd);
        tLastError = PLAT_ERR_SHARING_VIOLATION;
        return 0;
    }
    int ok = unlink(p) == 0 ? 1 : Fail();
    close(fd);
    return ok;
}

int PlatLockFile(PlatFile file, int exclusive)
{
    if (!file) {
        tLastError = PLAT_ERR_INVALID_HANDLE;
        return 0;
    }
    if (HoldDescriptor(((PosixFile *)file)->fd, exclusive)) return 1;
    tLastError = PLAT_ERR_SHARING_VIOLATION;
    return 0;
}

int PlatUnlockFile(PlatFile file)
{
    if (!file) {
        tLastError = PLAT_ERR_INVALID_HANDLE;
        return 0;
    }
    const int fd = ((PosixFile *)file)->fd;
    HoldByteLock(fd, F_OFD_SETLK, F_UNLCK);
    flock(fd, LOCK_UN);
    return 1;
}

int PlatIsFileNamed(PlatFile file, const char *path)
{
    NATIVE(p, path);
    return file && DescriptorIsNamed(((PosixFile *)file)->fd, p);
}

int PlatRemoveHeldFile(PlatFile file, const char *path)
{
    NATIVE(p, path);
    if (!file) {
        tLastError = PLAT_ERR_INVALID_HANDLE;
        return 0;
    }
    if (!DescriptorIsNamed(((PosixFile *)file)->fd, p)) {
        tLastError = PLAT_ERR_FILE_NOT_FOUND;
        return 0;
    }
    return unlink(p) == 0 ? 1 : Fail();
}

int PlatGetFileId(const char *path, PlatFileId *id)
{
    NATIVE(p, path);
    struct stat st;
    if (stat(p, &st) != 0) return Fail();
    id->volume = (uint64_t)st.st_dev;
    id->index = (uint64_t)st.st_ino;
    return 1;
}

/* The file a path finally names: the path itself, or, when it is a symbolic
** link, the end of its chain of links (relative links read from the link's
** own folder).  The end need not exist yet.  0 for a loop of links or a path
** that does not fit. */
static int ResolveLinks(const char *path, char *out, size_t size)
{
    errno = ENAMETOOLONG;
    const size_t length = strlen(path);
    if (length + 1 > size) return 0;
    memcpy(out, path, length + 1);
    for (int hops = 0; hops < 40; hops++) {
        struct stat st;
        if (lstat(out, &st) != 0 || !S_ISLNK(st.st_mode)) return 1;
        char link[4096];
        ssize_t n = readlink(out, link, sizeof link - 1);
        if (n < 0) return 0;
        link[n] = 0;
        char *slash = strrchr(out, '/');
        size_t folder = link[0] == '/' || !slash ? 0 : (size_t)(slash - out) + 1;
        errno = ENAMETOOLONG;
        if (folder + (size_t)n + 1 > size) return 0;
        memcpy(out + folder, link, (size_t)n + 1);
    }
    errno = ELOOP;
    return 0;
}

/* Copies the open file in into the open file out; 1/0 with errno set. */
static int CopyIntoFile(int in, int out)
{
    char buf[65536];
    for (;;) {
        ssize_t n = read(in, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (n == 0) return 1;
        for (ssize_t off = 0; off < n;) {
            ssize_t w = write(out, buf + off, (size_t)(n - off));
            if (w < 0) {
                if (errno == EINTR) continue;
                return 0;
            }
            off += w;
        }
    }
}

/* Copies the file from into to (created or truncated with mode); 1/0 with
** errno set. */
static int CopyNativeFile(const char *from, const char *to, mode_t mode)
{
    int in = open(from, O_RDONLY | O_CLOEXEC);
    if (in < 0) return 0;
    int out = open(to, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (out < 0) {
        int e = errno;
        close(in);
        errno = e;
        return 0;
    }
    int ok = CopyIntoFile(in, out);
    int e = errno;
    close(in);
    if (close(out) != 0 && ok) {
        e = errno;
        ok = 0;
    }
    errno = e;
    return ok;
}

/* The owner and mode a replaced file passes on to the file replacing it. */
struct Inherited {
    mode_t mode;
    uid_t uid;
    gid_t gid;
    int owned; /* 1 when uid and gid are the old file's */
};

/* Replaces the file target, on another file system than src, with a copy
** of src made beside it first, so the target is still replaced whole or not
** at all; src is removed once the copy has taken its place.  The copy gets a
** name of its own, created new: a name shared with any other writer beside
** the target would let one write into the other's file. */
static int ReplaceAcrossFileSystems(const char *src, const char *target, const Inherited &keep)
{
    char temporary[4096 + 16];
    if (snprintf(temporary, sizeof temporary, "%s.~kvXXXXXX", target) >= (int)sizeof temporary) {
        errno = ENAMETOOLONG;
        return Fail();
    }
    int in = open(src, O_RDONLY | O_CLOEXEC);
    if (in < 0) return Fail();
    /* Held from its making, so that a later save of the target, which
    ** removes the copies of writers that are gone, leaves this one alone. */
    const size_t stem = strlen(temporary) - 6;
    int out = -1;
    for (int tries = 0; out < 0 && tries < 10; tries++) {
        memcpy(temporary + stem, "XXXXXX", 6);
        out = mkostemp(temporary, O_CLOEXEC);
        if (out < 0) break;
        if (!HoldNewFile(out, temporary)) {
            close(out);
            out = -1;
            errno = EEXIST;
        }
    }
    if (out < 0) {
        int e = errno;
        close(in);
        errno = e;
        return Fail();
    }
    /* The copy is made under this process's umask and owner: the mode and
    ** owner of the file it replaces are set on it as on a renamed file (the
    ** owner first, as a change of owner clears the set-id bits). */
    if (keep.owned) {
        int given = fchown(out, keep.uid, keep.gid);
        (void)given;
    }
    int ok = 1;
    if (PlatFaultDue(PLAT_FAULT_WRITE)) { /* a planned full disk */
        errno = ENOSPC;
        ok = 0;
    }
    ok = ok && CopyIntoFile(in, out) && fchmod(out, keep.mode) == 0 && fsync(out) == 0;
    int e = errno;
    close(in);
    /* Moved while still held; a copy that failed is removed before its lock
    ** goes, so its name is never another writer's by then. */
    if (ok && rename(temporary, target) != 0) {
        e = errno;
        ok = 0;
    }
    if (!ok) unlink(temporary);
    close(out); /* written through by fsync already */
    if (!ok) {
        errno = e;
        return Fail();
    }
    unlink(src);
    return 1;
}

/* PlatRenameReplace on native paths, src held by the caller. */
static int RenameReplaceNative(const char *s, const char *d)
{
    /* A link stays a link: the file it points to is the one replaced. */
    char target[4096];
    if (!ResolveLinks(d, target, sizeof target)) return Fail();
    struct stat st;
    Inherited keep = {stat(s, &st) == 0 ? st.st_mode & 07777 : 0644, 0, 0, 0};
    if (stat(target, &st) == 0 && !S_ISDIR(st.st_mode)) {
        /* A device or a pipe under the name is no file to replace: a log
        ** name linked to /dev/null stays that device, as on Windows. */
        if (!MayWrite(target, st) || !S_ISREG(st.st_mode)) {
            tLastError = PLAT_ERR_ACCESS_DENIED;
            return 0;
        }
        /* The new file takes the old one's mode, and its owner where the
        ** system allows it (giving a file away takes privileges; without
        ** them it stays the writer's). */
        keep = {st.st_mode & 07777, st.st_uid, st.st_gid, 1};
        int owned = chown(s, st.st_uid, st.st_gid);
        (void)owned;
        chmod(s, keep.mode);
    }
    if (rename(s, target) == 0) return 1;
    if (errno != EXDEV) return Fail();
    return ReplaceAcrossFileSystems(s, target, keep);
}

/* A rename here never waits: the system replaces a file that is open. */
void (*gPlatRenameWaits)(const char *dst) = nullptr;

int PlatRenameReplace(const char *src, const char *dst)
{
    if (PlatFaultDue(PLAT_FAULT_RENAME)) {
        tLastError = PLAT_ERR_ACCESS_DENIED;
        return 0;
    }
    NATIVE(s, src);
    NATIVE(d, dst);
    /* A file another process holds (PLAT_CREATE_EXCLUSIVE) is not moved, as
    ** Windows refuses it: a writer that closed its temporary file and finds
    ** another writer's file under that name now must not put it in place.
    ** The lock is held until the move is done. */
    const int held = open(s, O_RDONLY | O_CLOEXEC);
    if (held < 0) return Fail();
    if (HeldElsewhere(held) || flock(held, LOCK_EX | LOCK_NB) != 0) {
        close(held);
        tLastError = PLAT_ERR_SHARING_VIOLATION;
        return 0;
    }
    const int ok = RenameReplaceNative(s, d);
    const int code = tLastError;
    close(held);
    tLastError = code;
    return ok;
}

int PlatRenameOpenFile(PlatFile file, const char *src, const char *dst)
{
    if (PlatFaultDue(PLAT_FAULT_RENAME)) {
        tLastError = PLAT_ERR_ACCESS_DENIED;
        return 0;
    }
    if (!file) {
        tLastError = 6;
        return 0;
    }
    /* The caller's handle holds the lock: the file under src is its own. */
    NATIVE(s, src);
    NATIVE(d, dst);
    return RenameReplaceNative(s, d);
}

int PlatResolveLinks(const char *path, char *out, size_t size)
{
    NATIVE(p, path);
    char target[4096];
    if (!ResolveLinks(p, target, sizeof target)) return Fail();
    const size_t length = strlen(target);
    if (length + 1 > size) {
        errno = ENAMETOOLONG;
        return Fail();
    }
    /* Back in the program's form, which the OS boundary turns round again. */
    for (size_t i = 0; i <= length; i++) out[i] = target[i] == '/' ? '\\' : target[i];
    return 1;
}

int PlatCopyFile(const char *src, const char *dst)
{
    NATIVE(s, src);
    NATIVE(d, dst);
    /* A read-only target is kept, as Windows keeps it. */
    struct stat st;
    if (stat(d, &st) == 0 && S_ISREG(st.st_mode) && !MayWrite(d, st)) {
        tLastError = PLAT_ERR_ACCESS_DENIED;
        return 0;
    }
    return CopyNativeFile(s, d, 0644) ? 1 : Fail();
}

/* Creates one folder; an existing folder is taken unless mustBeNew. */
static int MakeFolder(const char *path, int mustBeNew)
{
    NATIVE(p, path);
    size_t n = strlen(p);
    while (n > 1 && p[n - 1] == '/') p[--n] = 0;
    if (mkdir(p, 0755) == 0) return 1;
    if (errno == EEXIST && !mustBeNew) {
        struct stat st;
        if (stat(p, &st) == 0 && S_ISDIR(st.st_mode)) return 1;
        tLastError = PLAT_ERR_ALREADY_EXISTS;
        return 0;
    }
    if (errno == ENOENT) {
        tLastError = PLAT_ERR_PATH_NOT_FOUND;
        return 0;
    }
    return Fail();
}

int PlatCreateFolder(const char *path) { return MakeFolder(path, 0); }
int PlatCreateNewFolder(const char *path) { return MakeFolder(path, 1); }

int PlatRemoveFolder(const char *path)
{
    NATIVE(p, path);
    return rmdir(p) == 0 ? 1 : Fail();
}

/* Wildcard match with '*' and '?', letters compared without case, as the
** Windows file search does for the names it lists. */
static int MatchNamePattern(const char *pat, const char *name)
{
    while (*pat) {
        if (*pat == '*') {
            while (*pat == '*') pat++;
            if (!*pat) return 1;
            for (; *name; name++)
                if (MatchNamePattern(pat, name)) return 1;
            return 0;
        }
        if (!*name) return 0;
        if (*pat != '?' && tolower((unsigned char)*pat) != tolower((unsigned char)*name)) return 0;
        pat++;
        name++;
    }
    return *name == 0;
}

int PlatListFolder(const char *pattern, PlatListCallback callback, void *user)
{
    NATIVE(p, pattern);
    char *slash = strrchr(p, '/');
    const char *namePat = slash ? slash + 1 : p;
    char folder[4096];
    if (slash) {
        size_t len = (size_t)(slash - p);
        if (len == 0) len = 1; /* "/name" lists the root */
        memcpy(folder, p, len);
        folder[len] = 0;
    } else {
        strcpy(folder, ".");
    }
    if (!*namePat) namePat = "*";
    DIR *d = opendir(folder);
    if (!d) {
        /* A folder that is not there is a path not found, as Windows says. */
        Fail();
        if (tLastError == PLAT_ERR_FILE_NOT_FOUND) tLastError = PLAT_ERR_PATH_NOT_FOUND;
        return 0;
    }
    struct dirent *e;
    while ((e = readdir(d)) != nullptr) {
        if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
        if (!MatchNamePattern(namePat, e->d_name)) continue;
        char full[8192];
        snprintf(full, sizeof full, "%s/%s", folder, e->d_name);
        struct stat st;
        int isFolder = stat(full, &st) == 0 && S_ISDIR(st.st_mode);
        if (!callback(e->d_name, isFolder, user)) break;
    }
    closedir(d);
    return 1;
}

int PlatGetProgramPath(char *out, size_t size)
{
    ssize_t n = readlink("/proc/self/exe", out, size);
    if (n <= 0) return Fail();
    if ((size_t)n >= size) {
        tLastError = 206;
        return 0;
    }
    out[n] = 0;
    return 1;
}

int PlatGetProgramFolder(char *out, size_t size)
{
    char buf[4096];
    if (!PlatGetProgramPath(buf, sizeof buf)) return 0;
    char *slash = strrchr(buf, '/');
    if (slash && slash != buf) *slash = 0;
    if (strlen(buf) + 1 > size) {
        tLastError = 206;
        return 0;
    }
    strcpy(out, buf);
    return 1;
}

int PlatGetCurrentFolder(char *out, size_t size)
{
    return getcwd(out, size) ? 1 : Fail();
}

int PlatSetCurrentFolder(const char *path)
{
    NATIVE(p, path);
    return chdir(p) == 0 ? 1 : Fail();
}

int PlatCompareNames(const char *a, const char *b)
{
    for (;; a++, b++) {
        int ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca == '/') ca = '\\';
        if (cb == '/') cb = '\\';
        if (ca != cb || !ca) return ca - cb;
    }
}

int PlatFullPath(const char *path, char *out, size_t size)
{
    char folder[4096];
    if (!getcwd(folder, sizeof folder)) return Fail();
    std::string whole = strcmp(folder, "/") == 0 ? "" : folder;
    /* Folder by folder in the program's form; "." names the folder it stands in. */
    NATIVE(p, path);
    for (const char *part = p; *part;) {
        const char *end = strchr(part, '/');
        const size_t length = end ? (size_t)(end - part) : strlen(part);
        if (length > 0 && !(length == 1 && part[0] == '.')) whole += "/" + std::string(part, length);
        part += length + (end ? 1 : 0);
    }
    if (whole.empty()) whole = "/";
    if (whole.size() + 1 > size) {
        tLastError = 206;
        return 0;
    }
    for (size_t i = 0; i <= whole.size(); i++) out[i] = whole.c_str()[i] == '/' ? '\\' : whole.c_str()[i];
    return 1;
}

int PlatGetDesktopFolder(char *out, size_t size)
{
    if (!out || size == 0) return 0;
    out[0] = 0;
    const char *home = getenv("HOME");
    if (!home || !home[0]) return 0;
    size_t n = strlen(home);
    while (n > 1 && home[n - 1] == '/') n--;
    int written = snprintf(out, size, "%.*s/Desktop", (int)n, home);
    if (written < 0 || (size_t)written >= size) {
        out[0] = 0;
        tLastError = 206;
        return 0;
    }
    return 1;
}

/* ---- errors ------------------------------------------------------------------ */

int PlatLastError() { return tLastError; }
void PlatSetLastError(int code) { tLastError = code; }

void PlatErrorText(int code, char *out, size_t size)
{
    if (!out || size == 0) return;
    int e;
    switch (code) {
    case 0: e = 0; break;
    case PLAT_ERR_FILE_NOT_FOUND: e = ENOENT; break;
    case PLAT_ERR_PATH_NOT_FOUND: e = ENOENT; break;
    case PLAT_ERR_ACCESS_DENIED: e = EACCES; break;
    case PLAT_ERR_ALREADY_EXISTS: e = EEXIST; break;
    case PLAT_ERR_DISK_FULL: e = ENOSPC; break;
    default: e = code >= 100000 ? code - 100000 : EINVAL; break;
    }
    /* The system's own reason where it has one; a file held open elsewhere
    ** is a Windows state with no errno of its own. */
    if (code == 0)
        snprintf(out, size, "%s", "The operation completed successfully.");
    else if (code == PLAT_ERR_SHARING_VIOLATION)
        snprintf(out, size, "%s", "The process cannot access the file because it is being used by another process.");
    else
        snprintf(out, size, "%s", strerror(e));
}

/* ---- time ------------------------------------------------------------------------ */

void PlatGetLocalTime(PlatDateTime *out)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ToDateTime(ts.tv_sec, ts.tv_nsec, out);
}

uint64_t PlatTickCount64()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u;
}

uint32_t PlatTickCount() { return (uint32_t)PlatTickCount64(); }

void PlatSleep(uint32_t milliseconds)
{
    /* No time at all gives up the rest of the time slice, as on Windows; a
    ** zero nanosleep would still wait out the timer slack (about 50 us),
    ** which the message pump of a long loop pays once per step. */
    if (milliseconds == 0) {
        sched_yield();
        return;
    }
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

/* ---- process and machine ------------------------------------------------------------ */

int PlatGetEnv(const char *name, char *out, size_t size)
{
    const char *v = getenv(name);
    if (!v) {
        tLastError = 203;
        return 0;
    }
    size_t n = strlen(v);
    if (n + 1 > size) {
        tLastError = 234;
        return 0;
    }
    memcpy(out, v, n + 1);
    return 1;
}

int PlatSetEnv(const char *name, const char *value)
{
    int r = value ? setenv(name, value, 1) : unsetenv(name);
    return r == 0 ? 1 : Fail();
}

uint64_t PlatPhysicalMemory()
{
    long pages = sysconf(_SC_PHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0) return 0;
    return (uint64_t)pages * (uint64_t)pageSize;
}

int PlatProcessorCount()
{
    long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? (int)n : 1;
}

uint32_t PlatCurrentThreadId() { return (uint32_t)syscall(SYS_gettid); }

int PlatEscapePressed() { return 0; }

/* ---- dynamic libraries --------------------------------------------------------------- */

PlatLibrary PlatLoadLibrary(const char *path)
{
    NATIVE(p, path);
    void *h = dlopen(p, RTLD_NOW | RTLD_LOCAL);
    if (!h) tLastError = PLAT_ERR_FILE_NOT_FOUND;
    return h;
}

void *PlatGetProcAddress(PlatLibrary library, const char *name)
{
    if (!library) return nullptr;
    void *f = dlsym(library, name);
    if (!f) tLastError = 127;
    return f;
}

void PlatFreeLibrary(PlatLibrary library)
{
    if (library) dlclose(library);
}

const char *PlatLibrarySuffix() { return PLAT_LIBRARY_SUFFIX; }
