/* platform.h -- the operating-system services the neutral code needs.
**
** Owns:       nothing but the small handles it returns.
** Paths:      the program composes paths with '\' as on Windows.  The posix
**             implementation turns every '\' into '/' at the OS boundary and
**             treats a path starting with '/' as absolute; the Windows one passes
**             paths through unchanged.  Composing "dir\name" therefore works in
**             both builds.
** Names:      UTF-8 in both builds, so that a name means one file in both.  The
**             Windows implementation turns them into the system's UTF-16 at
**             its boundary and back (a name that does not read as UTF-8 is the
**             program's 8-bit text, code page 1252); the posix one passes the
**             bytes as they are.
** Errors:     routines return 1 on success and 0 on failure without reporting;
**             PlatLastError() then holds the system's code, and PlatErrorText()
**             turns a code into the system's own words.  Reporting is the
**             caller's business (the file helpers add the program's messages).
** Threads:    every routine may be called from any thread; PlatLastError() is
**             per thread.
** Implemented by posix/platform.cpp (native build) and win32/platform.cpp;
** the planned failures of the test programs by file_faults.cpp, which both
** consult.
*/
#pragma once
#include <cstdint>
#include <cstddef>

/* A path holds at most PATH_LETTERS letters, whatever their size: the limit is
** counted in letters (PathLetters), and every buffer a path passes through
** holds PATH_SIZE bytes, room for that many letters of four UTF-8 bytes. */
enum { PATH_LETTERS = 259,
       PATH_SIZE = PATH_LETTERS * 4 + 1 };

/* Broken-down local time, laid out like the Windows SYSTEMTIME fields. */
struct PlatDateTime {
    int year;         /* four digits */
    int month;        /* 1..12 */
    int dayOfWeek;    /* 0 Sunday .. 6 Saturday */
    int day;          /* 1..31 */
    int hour;         /* 0..23 */
    int minute;       /* 0..59 */
    int second;       /* 0..59 */
    int milliseconds; /* 0..999 */
};

/* ---- files --------------------------------------------------------------- */

typedef void *PlatFile; /* null: no file */

enum PlatOpenMode {
    PLAT_OPEN_READ = 0,       /* existing file, shared for reading, sequential scan */
    PLAT_CREATE_WRITE = 1,    /* create or truncate, no sharing, random access */
    PLAT_OPEN_READ_WRITE = 2, /* existing file, read and write */
    PLAT_OPEN_APPEND = 3,     /* create when missing, writes go to the end */
    PLAT_CREATE_EXCLUSIVE = 4, /* a new file (fails when the name exists), held for this process
                               ** alone while open: no other process opens or deletes it, and
                               ** PlatRenameOpenFile may move it while it is held */
    PLAT_OPEN_GUARD = 5        /* a guard file: opened, or created when missing, for reading and
                               ** writing, shared with every other opener (it may be locked,
                               ** renamed or removed while others have it open); nothing is held
                               ** until PlatLockFile */
};

/* Opening an existing file the user may not write (read-only) for writing
** fails with PLAT_ERR_ACCESS_DENIED in every mode but PLAT_OPEN_READ. */
PlatFile PlatOpenFile(const char *path, int mode);
int PlatCloseFile(PlatFile file);
/* Reads up to size bytes; *pRead receives the count actually read (0 at the end). */
int PlatReadFile(PlatFile file, void *buffer, uint32_t size, uint32_t *pRead);
/* Writes up to size bytes; *pWritten receives the count actually written. */
int PlatWriteFile(PlatFile file, const void *data, uint32_t size, uint32_t *pWritten);
int PlatGetFileSize(PlatFile file, uint64_t *pSize);
/* Moves the file pointer; origin 0 start, 1 current, 2 end.  *pPos (optional)
** receives the new position. */
int PlatSeekFile(PlatFile file, int64_t offset, int origin, uint64_t *pPos);
/* Cuts or extends the file at the current position. */
int PlatSetEndOfFile(PlatFile file);
int PlatFlushFile(PlatFile file);

/* Size and last-write time (local time) of a file by name; either out may be null. */
int PlatGetFileInfo(const char *path, uint64_t *pSize, PlatDateTime *pLastWrite);
int PlatFileExists(const char *path);   /* 1 for an existing file or folder */
int PlatFolderExists(const char *path); /* 1 for an existing folder */
int PlatIsLink(const char *path);       /* 1 for a symbolic link or other reparse point */
int PlatDeleteFile(const char *path);
/* Compares two names (paths as the program writes them) as the system tells
** files apart: 0 when they name one file as written, else the sign of their
** order.  '\\' and '/' are one separator in both builds.  The Windows build
** folds case as its file system does, letters outside ASCII included, and
** drops a last name's trailing dots and blanks as every opening does; the
** native one compares the bytes. */
int PlatCompareNames(const char *a, const char *b);
/* Deletes a file unless a process holds it (PLAT_CREATE_EXCLUSIVE, PlatLockFile);
** then 0 with PLAT_ERR_SHARING_VIOLATION, as Windows refuses it.  A holder is
** seen whichever build holds it: both builds take one lock both can see (a
** Windows program under Wine and a native program sharing a folder meet in it),
** and a name that meanwhile moved to another file is left alone too. */
int PlatDeleteUnusedFile(const char *path);

/* ---- holding a file ---------------------------------------------------------
** A file is held by a lock on one byte far beyond any data (so no reader of
** the file ever meets it), taken without waiting.  The Windows build locks it
** with LockFileEx, which Wine also takes as a POSIX lock on the same byte; the
** posix build takes that lock (an open-file-description lock) and a flock, so
** that every build and every version of the program sees a holder.  Locks go
** with the handle: closing it, or the end of its process however it ends, lets
** go.  A file system without locks holds nothing: the lock is then taken. */

/* Holds an open file, exclusively or shared with other shared holders; 1, or
** 0 with PLAT_ERR_SHARING_VIOLATION while another holder has it. */
int PlatLockFile(PlatFile file, int exclusive);
/* Lets go of what PlatLockFile held (the handle stays open). */
int PlatUnlockFile(PlatFile file);
/* 1 when path (links followed no further than the last name) still names the
** open file: it was neither removed nor replaced meanwhile. */
int PlatIsFileNamed(PlatFile file, const char *path);
/* Removes path, the name of the open file this process holds, before the
** file is let go, so that no other process can take the name for a file of
** its own and lose it to this removal.  Nothing is removed when path names
** another file by now.  (The Windows build moves the file to a name of its own
** and deletes it there when it is closed.)  The caller closes the file. */
int PlatRemoveHeldFile(PlatFile file, const char *path);

/* What tells one file from another while both exist: its volume and its
** number on the volume.  (A number may be given again to a file made after
** this one is gone.) */
struct PlatFileId {
    uint64_t volume;
    uint64_t index;
};
int PlatGetFileId(const char *path, PlatFileId *id);
/* Renames the file this process holds open with PLAT_CREATE_EXCLUSIVE (file,
** named src) over dst, as PlatRenameReplace does, while it is still held: no
** other process can take or remove src before the move.  The caller closes
** file afterwards, whatever the result. */
int PlatRenameOpenFile(PlatFile file, const char *src, const char *dst);
/* Renames src to dst, replacing dst when it exists.  On failure dst is untouched.
** A dst the user may not write (read-only) is refused with PLAT_ERR_ACCESS_DENIED,
** a src another process holds open with PLAT_CREATE_EXCLUSIVE with
** PLAT_ERR_SHARING_VIOLATION, as Windows refuses it.
** The posix build replaces the file a symbolic link dst points to (the link
** stays) and gives the new file the mode (and, where allowed, the owner) of
** the file it replaces. */
int PlatRenameReplace(const char *src, const char *dst);
/* Windows refuses to put a file in place of one another program has open
** (a load of it, a backup tool's read): both renames then try again until it
** is let go, for up to a minute, unless dst is marked read-only.  Null, or
** called once when a rename starts to wait so (where a test holds a reader). */
extern void (*gPlatRenameWaits)(const char *dst);
/* The path of the file a replace of path writes (out: program form): the
** posix build follows symbolic links to the end of their chain, as
** PlatRenameReplace does, so that two writers of one file agree on it however
** they name it; the Windows build, whose rename replaces a link itself,
** copies path.  0 for a loop of links or a path that does not fit. */
int PlatResolveLinks(const char *path, char *out, size_t size);
/* Copies src over dst (replacing it). */
int PlatCopyFile(const char *src, const char *dst);
/* Creates one folder; 1 also when it already exists.  Fails (code PLAT_ERR_PATH_NOT_FOUND)
** when the parent does not exist. */
int PlatCreateFolder(const char *path);
/* Creates one folder that must be new: 0 with PLAT_ERR_ALREADY_EXISTS when
** anything has the name already, so that of two writers only one gets it. */
int PlatCreateNewFolder(const char *path);
int PlatRemoveFolder(const char *path);

/* Lists the entries of a folder that match a wildcard pattern such as
** "C:\data\*.csv" ('*' and '?' in the last component, case ignored).  The
** callback receives the bare name and whether it is a folder, and returns 0
** to stop the listing.  "." and ".." are never listed.  Returns 1 when the
** folder could be read (also when nothing matched). */
typedef int (*PlatListCallback)(const char *name, int isFolder, void *user);
int PlatListFolder(const char *pattern, PlatListCallback callback, void *user);

/* The running executable's whole path. */
int PlatGetProgramPath(char *out, size_t size);
/* The folder holding the running executable, without a trailing separator. */
int PlatGetProgramFolder(char *out, size_t size);
/* The current working folder. */
int PlatGetCurrentFolder(char *out, size_t size);
int PlatSetCurrentFolder(const char *path);
/* A relative path made whole against the current folder, in the program's
** form ('\' separators; "." folders dropped).  The last name is kept as it
** is written: Windows would take a name such as CON.kvs for a device.  0 when
** it does not fit. */
int PlatFullPath(const char *path, char *out, size_t size);
/* The user's desktop folder, without a trailing separator: the shell's own
** (wherever the user has moved it) on Windows, HOME/Desktop elsewhere.  0, and
** out empty, when there is none or it does not fit. */
int PlatGetDesktopFolder(char *out, size_t size);

/* ---- errors --------------------------------------------------------------- */

enum {
    PLAT_ERR_FILE_NOT_FOUND = 2,
    PLAT_ERR_PATH_NOT_FOUND = 3,
    PLAT_ERR_ACCESS_DENIED = 5,
    PLAT_ERR_DISK_FULL = 112,
    PLAT_ERR_SHARING_VIOLATION = 32,
    PLAT_ERR_ALREADY_EXISTS = 183,
    PLAT_ERR_FILE_EXISTS = 80, /* Windows' word for a new file whose name is taken */
    PLAT_ERR_INVALID_HANDLE = 6
};
/* The calling thread's last system error, as a Windows-style code (the posix
** build maps errno onto the codes above where they apply). */
int PlatLastError();
void PlatSetLastError(int code);
/* The system's own text for an error code, trailing line breaks removed. */
void PlatErrorText(int code, char *out, size_t size);

/* ---- planned failures (test programs) -------------------------------------
** A test makes file operations fail on purpose to show that a writer keeps
** the user's previous file and reports the failure, or that a reader
** reports a file it may not read.  PlatWriteFile, PlatRenameReplace,
** PlatRenameOpenFile and PlatOpenFile (for reading, for writing an existing
** file, for creating a new one exclusively and for a guard) ask PlatFaultDue
** first; with nothing planned that costs one atomic load. */

enum PlatFaultKind {
    PLAT_FAULT_WRITE = 0,  /* PlatWriteFile: as on a full disk (PLAT_ERR_DISK_FULL), nothing written;
                           ** also the copy a rename across file systems makes (posix) */
    PLAT_FAULT_RENAME = 1, /* PlatRenameReplace, PlatRenameOpenFile: refused (PLAT_ERR_ACCESS_DENIED),
                           ** nothing moved */
    PLAT_FAULT_READ_ONLY = 2, /* PlatOpenFile of an existing file for writing: refused as a file
                              ** the user may not write (PLAT_ERR_ACCESS_DENIED), as for a
                              ** user without the permission the superuser always has */
    PLAT_FAULT_OPEN_READ = 3, /* PlatOpenFile for reading: refused (PLAT_ERR_ACCESS_DENIED), as a file
                              ** the user may not read (tests run with rights that read every file) */
    PLAT_FAULT_CREATE = 4,    /* PlatOpenFile with PLAT_CREATE_EXCLUSIVE or PLAT_OPEN_GUARD: refused
                              ** (PLAT_ERR_ACCESS_DENIED), as in a folder the user may not write,
                              ** nothing made */
    PLAT_FAULT_KINDS = 5
};
/* After pass more calls of the kind succeed, the next fail calls fail (any
** thread); fail 0 removes the plan.  The count of failures made starts at 0. */
void PlatPlanFault(int kind, int pass, int fail);
/* The calls of the kind made to fail since the last plan. */
int PlatFaultsMade(int kind);
/* 1 when this call of the kind is to fail (for the two implementations). */
int PlatFaultDue(int kind);
/* 1 while failures of the kind are planned: one atomic load, for a caller
** that has work to do before it may ask PlatFaultDue. */
int PlatFaultPlanned(int kind);

/* ---- time ------------------------------------------------------------------ */

void PlatGetLocalTime(PlatDateTime *out);
uint32_t PlatTickCount();   /* milliseconds, wraps after 49.7 days */
uint64_t PlatTickCount64(); /* milliseconds since an arbitrary start */
void PlatSleep(uint32_t milliseconds); /* 0: give up the rest of the time slice */

/* ---- process and machine --------------------------------------------------- */

/* Copies an environment variable's value; 0 when it is not set or does not fit. */
int PlatGetEnv(const char *name, char *out, size_t size);
int PlatSetEnv(const char *name, const char *value); /* null value unsets */
uint64_t PlatPhysicalMemory();                       /* total physical memory in bytes */
int PlatProcessorCount();
uint32_t PlatCurrentThreadId();
/* 1 while the Escape key is held down (always 0 without a keyboard). */
int PlatEscapePressed();

/* ---- dynamic libraries ----------------------------------------------------- */

typedef void *PlatLibrary;
PlatLibrary PlatLoadLibrary(const char *path);
void *PlatGetProcAddress(PlatLibrary library, const char *name);
void PlatFreeLibrary(PlatLibrary library);
/* The file-name suffix of a dynamic library in this build: ".dll" or ".so"
** (a constant, so a message can name the file the build looks for). */
#ifdef _WIN32
#define PLAT_LIBRARY_SUFFIX ".dll"
#else
#define PLAT_LIBRARY_SUFFIX ".so"
#endif
const char *PlatLibrarySuffix();

/* Converts a program path ('\' separators) into the form the OS takes.
** The Windows build copies it unchanged. */
void PlatNativePath(const char *path, char *out, size_t size);

/* ---- the letters of names ---------------------------------------------------
** The program's names are UTF-8.  Text saved by an editor in the Windows code
** page 1252 is read letter by letter: a well-formed UTF-8 sequence is its
** letter, any other byte above 127 its 1252 character.  Each piece of a name
** is so read as what it is (a folder written in UTF-8 stays itself beside a
** 1252 file name), by the same rule in every layer and in both builds. */

/* The length of the well-formed UTF-8 sequence at p (at most n bytes), 0
** when there is none (an ASCII byte, a stray or a cut sequence). */
size_t PlatUtf8SequenceLength(const unsigned char *p, size_t n);
/* The letter at p (at most n bytes, n > 0) by the rule above, as a Unicode
** code point; *length receives the bytes it takes. */
uint32_t PlatNameLetter(const unsigned char *p, size_t n, size_t *length);
/* The letters of a name (its first length bytes, all of it by default), as
** the system counts a path's length: the rule above's letters, each of one
** to four bytes. */
size_t PathLetters(const char *text, size_t length = (size_t)-1);
/* 1 when path has more letters than a path holds (PATH_LETTERS): the one
** limit of every path the program takes, in every layer and both builds. */
int PathTooLong(const char *path);

#ifdef _WIN32
/* A program text as the system's wide characters, decoded letter by letter
** as names are (PlatNameLetter); the
** count written with the end, 0 (out empty) when it does not fit.  Window
** titles that show a file's name go through it, so a name reads as the
** file it names. */
int PlatWideFromText(const char *text, wchar_t *out, int room);
/* The same, cut after the last whole letter that fits where the whole text
** does not (a list's cell, a clipboard copy); the count written with the
** end, 0 only when room is below 1. */
int PlatWideFromTextCut(const char *text, wchar_t *out, int room);
#endif
