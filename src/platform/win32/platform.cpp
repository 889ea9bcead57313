/* platform.cpp (win32) -- the OS services on Windows.
**
** Thin wrappers over the kernel calls; paths pass through unchanged and the
** error codes are the system's own.
*/
#include "platform/platform.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

/* The program's names for error codes are the system's own numbers. */
static_assert(PLAT_ERR_FILE_NOT_FOUND == ERROR_FILE_NOT_FOUND && PLAT_ERR_PATH_NOT_FOUND == ERROR_PATH_NOT_FOUND &&
              PLAT_ERR_ACCESS_DENIED == ERROR_ACCESS_DENIED && PLAT_ERR_DISK_FULL == ERROR_DISK_FULL &&
              PLAT_ERR_ALREADY_EXISTS == ERROR_ALREADY_EXISTS && PLAT_ERR_FILE_EXISTS == ERROR_FILE_EXISTS &&
              PLAT_ERR_INVALID_HANDLE == ERROR_INVALID_HANDLE);

void PlatNativePath(const char *path, char *out, size_t size)
{
    if (!out || size == 0) return;
    size_t i = 0;
    for (; path && path[i] && i + 1 < size; i++) out[i] = path[i];
    out[i] = 0;
}

static HANDLE H(PlatFile f) { return (HANDLE)f; }

/* ---- names between the program and the system ------------------------------ */

/* The program's names are UTF-8, as the native program's are, so that a name
** means one file in both.  A byte that starts no UTF-8 letter is a letter of
** the program's own code page (a script saved by an editor in it), taken as
** that rather than lost to a replacement character, which would make two
** such names one file.  The choice is made letter by letter (PlatNameLetter),
** so a folder written in UTF-8 stays itself beside a name saved in 1252. */

/* text into out (room characters with the end); the count written with the
** end, 0 when it does not fit.  With cut, what does not fit is left off
** after the last whole letter that does (a letter of two UTF-16 units is
** never split). */
static int WideFromName(const char *text, WCHAR *out, int room, bool cut = false)
{
    const unsigned char *p = (const unsigned char *)text;
    const size_t length = strlen(text);
    int n = 0;
    for (size_t i = 0; i < length;) {
        size_t letter = 1;
        const uint32_t code = p[i] < 0x80 ? p[i] : PlatNameLetter(p + i, length - i, &letter);
        if (n + (code >= 0x10000 ? 2 : 1) >= room) {
            if (!cut) return 0;
            break;
        }
        if (code >= 0x10000) {
            out[n++] = (WCHAR)(0xD800 + ((code - 0x10000) >> 10));
            out[n++] = (WCHAR)(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            out[n++] = (WCHAR)code;
        }
        i += letter;
    }
    if (n >= room) return 0;
    out[n++] = 0;
    return n;
}

int PlatWideFromText(const char *text, wchar_t *out, int room)
{
    if (!out || room < 1) return 0;
    const int n = text ? WideFromName(text, out, room) : 0;
    if (n <= 0) out[0] = 0;
    return n > 0 ? n : 0;
}

int PlatWideFromTextCut(const char *text, wchar_t *out, int room)
{
    if (!out || room < 1) return 0;
    return text ? WideFromName(text, out, room, true) : (out[0] = 0, 1);
}

/* A name of the system as the program writes it (UTF-8); 0, and out empty,
** when it does not fit. */
static int NameFromWide(const WCHAR *text, char *out, size_t size)
{
    if (!out || size == 0) return 0;
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, (int)size, nullptr, nullptr);
    if (n > 0) return 1;
    out[0] = 0;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

/* ---- names the system would take for a device -------------------------------- */

/* 1 when the last name of path is one that the system takes for a device in
** whatever folder it stands: CON, PRN, AUX, NUL, COM1 to COM9 and LPT1 to
** LPT9, with any extension or trailing blanks (and the console's CONIN$ and
** CONOUT$).  PRN and CON are tickers; a price file COM1.csv would open the
** serial port. */
static int IsDeviceName(const char *path)
{
    const char *name = path;
    if (path[0] && path[1] == ':') name = path + 2;
    for (const char *c = name; *c; c++)
        if (*c == '\\' || *c == '/') name = c + 1;
    size_t n = 0;
    while (name[n] && name[n] != '.' && name[n] != ':') n++;
    while (n > 0 && name[n - 1] == ' ') n--;
    static const char *const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char *device : kDevices)
        if (n == strlen(device) && _strnicmp(name, device, n) == 0) return 1;
    return n == 4 && (_strnicmp(name, "COM", 3) == 0 || _strnicmp(name, "LPT", 3) == 0) && name[3] >= '1' &&
        name[3] <= '9';
}

/* path made whole, into out (room characters with the end): its folder (with
** its last separator, so that a root stays one) by the system, its last name
** kept as it is written (the system would make a script CON.kvs the
** console).  0, with the system's error, when it does not fit. */
static int WholeName(const char *path, WCHAR *out, int room)
{
    size_t folder = path[0] && path[1] == ':' ? 2 : 0;
    for (size_t i = 0; path[i]; i++)
        if (path[i] == '\\' || path[i] == '/') folder = i + 1;
    char part[MAX_PATH * 4];
    WCHAR wide[MAX_PATH * 4];
    if (folder >= sizeof part) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    memcpy(part, path, folder);
    part[folder] = 0;
    if (WideFromName(folder ? part : ".", wide, MAX_PATH * 4) <= 0) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    DWORD n = GetFullPathNameW(wide, (DWORD)room, out, nullptr);
    if (n == 0 || n + 1 >= (DWORD)room) {
        if (n) SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (out[n - 1] != L'\\') out[n++] = L'\\';
    if (WideFromName(path + folder, out + n, room - (int)n) <= 0) {
        out[0] = 0;
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    return 1;
}

/* The last name of a wide path made whole as the system makes a name it is
** given: trailing dots and blanks dropped ("t.csv. " is t.csv).  A name of
** dots alone is a folder step and stays.  Every call takes its path through
** here, the whole ones under "\\?\" too, which the system would take as
** written: so the rename that puts a finished file in place names the file
** that was read.  Only a path the user wrote with that prefix is his. */
static void DropTrailingDots(WCHAR *text)
{
    size_t n = wcslen(text), start = n;
    while (start > 0 && text[start - 1] != L'\\' && text[start - 1] != L'/') start--;
    size_t end = n;
    while (end > start && (text[end - 1] == L'.' || text[end - 1] == L' ')) end--;
    bool dotsOnly = true;
    for (size_t i = start; i < n; i++) dotsOnly = dotsOnly && text[i] == L'.';
    if (end > start && !dotsOnly) text[end] = 0;
}

/* A path as the system's wide calls take it.  One whose last name is a
** device's becomes its whole form under the prefix "\\?\", which the system
** takes as written: the file of that name in its folder; so does any path
** with whole set, which may then be longer than MAX_PATH.  Any other passes
** as it is.  Either way its last name loses its trailing dots and blanks,
** except in a pattern of a folder's names, where "*." means names without
** an extension.  ok is 0 (with the system's error) when the path does not
** convert. */
enum { SYSTEM_PATH_PATTERN = 2 };
struct SystemPath {
    WCHAR text[MAX_PATH * 4 + 16];
    int ok = 0;
    explicit SystemPath(const char *path, int whole = 0)
    {
        text[0] = 0;
        const int room = (int)(sizeof text / sizeof text[0]);
        if (!path) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return;
        }
        const bool prefixed = path[0] == '\\' && path[1] == '\\' && (path[2] == '?' || path[2] == '.') && path[3] == '\\';
        const bool pattern = whole == SYSTEM_PATH_PATTERN;
        if (prefixed || pattern || (!whole && !IsDeviceName(path))) {
            ok = WideFromName(path, text, room) > 0;
            if (!ok) SetLastError(ERROR_FILENAME_EXCED_RANGE);
            if (ok && !prefixed && !pattern) DropTrailingDots(text);
            return;
        }
        WCHAR full[MAX_PATH * 4 + 16];
        if (!WholeName(path, full, MAX_PATH * 4 + 16)) return;
        const bool unc = full[0] == L'\\' && full[1] == L'\\';
        const WCHAR *prefix = unc ? L"\\\\?\\UNC\\" : L"\\\\?\\";
        const size_t prefixLength = wcslen(prefix), rest = wcslen(unc ? full + 2 : full);
        if (prefixLength + rest >= (size_t)room) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return;
        }
        memcpy(text, prefix, prefixLength * sizeof(WCHAR));
        memcpy(text + prefixLength, unc ? full + 2 : full, (rest + 1) * sizeof(WCHAR));
        DropTrailingDots(text);
        ok = 1;
    }
    operator const WCHAR *() const { return text; }
};

/* A name in the system's letters for comparing: one separator, the last
** name made whole as an opening makes it. */
static std::wstring ComparableName(const char *name)
{
    /* No letter takes more wide characters than bytes. */
    std::wstring wide(strlen(name) + 1, L'\0');
    WideFromName(name, wide.data(), (int)wide.size());
    for (WCHAR &c : wide)
        if (c == L'/') c = L'\\';
    DropTrailingDots(wide.data());
    wide.resize(wcslen(wide.c_str()));
    return wide;
}

int PlatCompareNames(const char *a, const char *b)
{
    const std::wstring x = ComparableName(a ? a : ""), y = ComparableName(b ? b : "");
    /* Ordinal and case-blind: the file system's own upper-case table, not a
    ** language's rules. */
    return CompareStringOrdinal(x.c_str(), (int)x.size(), y.c_str(), (int)y.size(), TRUE) - CSTR_EQUAL;
}

/* ---- holding a file ---------------------------------------------------------- */

/* The byte whose lock holds a file (platform.h): offset 2^62, far beyond any
** data.  Wine takes the lock as a POSIX lock on the same byte of the file, so
** the native program meets it, and meets the native program's. */
static const DWORD kHoldOffsetHigh = 0x40000000;

static int HoldHandle(HANDLE h, int exclusive)
{
    OVERLAPPED at = {};
    at.OffsetHigh = kHoldOffsetHigh;
    if (LockFileEx(h, (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) return 1;
    /* (Wine leaves the last error as it was for some refusals.) */
    SetLastError(ERROR_SHARING_VIOLATION);
    return 0;
}

/* The identity of an open file; 0 when it has no name left (removed by a
** process that does not share the system's delete rules, as a native program
** under Wine). */
static int HandleIdentity(HANDLE h, BY_HANDLE_FILE_INFORMATION *info)
{
    return GetFileInformationByHandle(h, info) && info->nNumberOfLinks > 0;
}

static int NamedFileIdentity(const char *path, BY_HANDLE_FILE_INFORMATION *info)
{
    /* Attributes alone: this opening takes nothing that another opener's
    ** sharing refuses. */
    const SystemPath name(path);
    if (!name.ok) return 0;
    HANDLE h = CreateFileW(name, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    const int ok = GetFileInformationByHandle(h, info);
    CloseHandle(h);
    return ok;
}

static int HandleIsNamed(HANDLE h, const char *path)
{
    BY_HANDLE_FILE_INFORMATION open, named;
    return HandleIdentity(h, &open) && NamedFileIdentity(path, &named) &&
        open.dwVolumeSerialNumber == named.dwVolumeSerialNumber && open.nFileIndexHigh == named.nFileIndexHigh &&
        open.nFileIndexLow == named.nFileIndexLow;
}

/* Marks the open file (opened with DELETE access) to go when it is closed. */
static int DeleteOnClose(HANDLE h)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
}

/* Renames the open file through its handle: MoveFileEx would open it anew,
** which the sharing of a held file refuses.  The name goes whole, so that a
** folder near the longest path still takes it.  An existing file of that name
** is replaced only when replace says so. */
static int RenameHandle(HANDLE h, const char *dst, bool replace)
{
    const SystemPath name(dst, 1);
    if (!name.ok) return 0;
    const WCHAR *wide = name;
    const int n = (int)wcslen(wide) + 1;
    const DWORD size = (DWORD)(offsetof(FILE_RENAME_INFO, FileName) + (size_t)n * sizeof(WCHAR));
    alignas(FILE_RENAME_INFO) unsigned char buffer[sizeof(FILE_RENAME_INFO) + sizeof name.text];
    FILE_RENAME_INFO *info = (FILE_RENAME_INFO *)buffer;
    memset(buffer, 0, sizeof buffer);
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = (DWORD)((n - 1) * sizeof(WCHAR));
    memcpy(info->FileName, wide, (size_t)n * sizeof(WCHAR));
    return SetFileInformationByHandle(h, FileRenameInfo, info, size) ? 1 : 0;
}

PlatFile PlatOpenFile(const char *path, int mode)
{
    HANDLE h = INVALID_HANDLE_VALUE;
    const SystemPath name(path);
    if (!name.ok) return nullptr;
    /* An existing file marked read-only is not written, nor is one a test
    ** plans to refuse as a file the user may not write.  Windows refuses the
    ** opening itself, but Wine run by the superuser opens it. */
    if (mode == PLAT_CREATE_WRITE || mode == PLAT_OPEN_READ_WRITE || mode == PLAT_OPEN_APPEND ||
        (mode == PLAT_OPEN_GUARD && PlatFaultPlanned(PLAT_FAULT_READ_ONLY))) {
        const DWORD a = GetFileAttributesW(name);
        if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY) &&
            ((mode != PLAT_OPEN_GUARD && (a & FILE_ATTRIBUTE_READONLY)) || PlatFaultDue(PLAT_FAULT_READ_ONLY))) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
    }
    if ((mode == PLAT_OPEN_READ && PlatFaultDue(PLAT_FAULT_OPEN_READ)) ||
        ((mode == PLAT_CREATE_EXCLUSIVE || mode == PLAT_OPEN_GUARD) && PlatFaultDue(PLAT_FAULT_CREATE))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    switch (mode) {
    case PLAT_OPEN_READ:
        /* A reader lets the file be replaced or removed where the system
        ** allows it: the saves of other programs go on while it reads. */
        h = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        break;
    case PLAT_CREATE_WRITE:
        h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_FLAG_RANDOM_ACCESS, nullptr);
        break;
    case PLAT_OPEN_READ_WRITE:
        h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    case PLAT_OPEN_APPEND:
        h = CreateFileW(name, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    case PLAT_CREATE_EXCLUSIVE:
        /* Shared with nobody, so no other Windows process deletes it while it
        ** is held, and locked, so no native one does; the right to delete lets
        ** PlatRenameOpenFile move it by this handle.  Until the lock is taken
        ** a native program may have taken the new file for a left-over and
        ** removed it: then it is no longer this writer's. */
        h = CreateFileW(name, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_FLAG_RANDOM_ACCESS, nullptr);
        if (h != INVALID_HANDLE_VALUE && !(HoldHandle(h, 1) && HandleIsNamed(h, path))) {
            CloseHandle(h);
            SetLastError(ERROR_SHARING_VIOLATION);
            return nullptr;
        }
        break;
    case PLAT_OPEN_GUARD:
        h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return h == INVALID_HANDLE_VALUE ? nullptr : (PlatFile)h;
}

int PlatCloseFile(PlatFile file)
{
    return file && CloseHandle(H(file)) ? 1 : 0;
}

int PlatReadFile(PlatFile file, void *buffer, uint32_t size, uint32_t *pRead)
{
    uint32_t total = 0;
    if (pRead) *pRead = 0;
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    while (total < size) {
        DWORD n = 0;
        if (!ReadFile(H(file), (char *)buffer + total, size - total, &n, nullptr)) {
            if (pRead) *pRead = total;
            return 0;
        }
        if (n == 0) break;
        total += n;
    }
    if (pRead) *pRead = total;
    return 1;
}

int PlatWriteFile(PlatFile file, const void *data, uint32_t size, uint32_t *pWritten)
{
    uint32_t total = 0;
    if (pWritten) *pWritten = 0;
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (PlatFaultDue(PLAT_FAULT_WRITE)) {
        SetLastError(ERROR_DISK_FULL);
        return 0;
    }
    while (total < size) {
        DWORD n = 0;
        if (!WriteFile(H(file), (const char *)data + total, size - total, &n, nullptr) || n == 0) {
            if (pWritten) *pWritten = total;
            return 0;
        }
        total += n;
    }
    if (pWritten) *pWritten = total;
    return 1;
}

int PlatGetFileSize(PlatFile file, uint64_t *pSize)
{
    LARGE_INTEGER li;
    if (!file || !GetFileSizeEx(H(file), &li)) return 0;
    if (pSize) *pSize = (uint64_t)li.QuadPart;
    return 1;
}

int PlatSeekFile(PlatFile file, int64_t offset, int origin, uint64_t *pPos)
{
    LARGE_INTEGER dist, pos;
    dist.QuadPart = offset;
    DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT
                                                          : FILE_END;
    if (!file || !SetFilePointerEx(H(file), dist, &pos, method)) return 0;
    if (pPos) *pPos = (uint64_t)pos.QuadPart;
    return 1;
}

int PlatSetEndOfFile(PlatFile file) { return file && SetEndOfFile(H(file)) ? 1 : 0; }
int PlatFlushFile(PlatFile file) { return file && FlushFileBuffers(H(file)) ? 1 : 0; }

static void FromSystemTime(const SYSTEMTIME &st, PlatDateTime *out)
{
    out->year = st.wYear;
    out->month = st.wMonth;
    out->dayOfWeek = st.wDayOfWeek;
    out->day = st.wDay;
    out->hour = st.wHour;
    out->minute = st.wMinute;
    out->second = st.wSecond;
    out->milliseconds = st.wMilliseconds;
}

int PlatGetFileInfo(const char *path, uint64_t *pSize, PlatDateTime *pLastWrite)
{
    WIN32_FILE_ATTRIBUTE_DATA fad;
    const SystemPath name(path);
    if (!name.ok || !GetFileAttributesExW(name, GetFileExInfoStandard, &fad)) return 0;
    if (pSize) *pSize = ((uint64_t)fad.nFileSizeHigh << 32) | fad.nFileSizeLow;
    if (pLastWrite) {
        FILETIME local;
        SYSTEMTIME st;
        FileTimeToLocalFileTime(&fad.ftLastWriteTime, &local);
        FileTimeToSystemTime(&local, &st);
        FromSystemTime(st, pLastWrite);
    }
    return 1;
}

/* The attributes of the file or folder of path, INVALID_FILE_ATTRIBUTES
** when there is none. */
static DWORD PathAttributes(const char *path)
{
    const SystemPath name(path);
    return name.ok ? GetFileAttributesW(name) : INVALID_FILE_ATTRIBUTES;
}

int PlatFileExists(const char *path)
{
    return PathAttributes(path) != INVALID_FILE_ATTRIBUTES ? 1 : 0;
}

int PlatFolderExists(const char *path)
{
    DWORD a = PathAttributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int PlatIsLink(const char *path)
{
    DWORD a = PathAttributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT) ? 1 : 0;
}

int PlatDeleteFile(const char *path)
{
    const SystemPath name(path);
    return name.ok && DeleteFileW(name) ? 1 : 0;
}

/* A file another Windows process holds open without sharing cannot be
** opened here; one a native program holds is locked.  The file is removed
** through the handle that holds it, once it is known to be the one named. */
int PlatDeleteUnusedFile(const char *path)
{
    const SystemPath name(path);
    if (!name.ok) return 0;
    HANDLE h = CreateFileW(name, GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    if (!HoldHandle(h, 1) || !HandleIsNamed(h, path)) {
        CloseHandle(h);
        SetLastError(ERROR_SHARING_VIOLATION);
        return 0;
    }
    const int ok = DeleteOnClose(h);
    const DWORD code = GetLastError();
    CloseHandle(h);
    SetLastError(code);
    return ok;
}

int PlatLockFile(PlatFile file, int exclusive)
{
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return HoldHandle(H(file), exclusive);
}

int PlatUnlockFile(PlatFile file)
{
    OVERLAPPED at = {};
    at.OffsetHigh = kHoldOffsetHigh;
    return file && UnlockFileEx(H(file), 0, 1, 0, &at) ? 1 : 0;
}

int PlatIsFileNamed(PlatFile file, const char *path) { return file && HandleIsNamed(H(file), path); }

int PlatRemoveHeldFile(PlatFile file, const char *path)
{
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (!HandleIsNamed(H(file), path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    /* A read-only file cannot be marked for deletion: moved aside first, it
    ** would stay behind under a name of its own.  It stays at its name, as
    ** Windows leaves any read-only file (Wine run by the superuser opens one
    ** to write). */
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(H(file), &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    /* A file marked for deletion keeps its name until its last handle is
    ** closed, and Wine removes it only after the lock has gone: the file
    ** first moves to a name of its own in the same folder, so that the
    ** moment it is let go no one can mistake it for the file of path. */
    static LONG sCount = 0;
    int folder = 0;
    for (int i = 0; path[i]; i++)
        if (path[i] == '\\' || path[i] == '/') folder = i + 1;
    uint64_t z = ((uint64_t)GetCurrentProcessId() << 32) ^ GetTickCount64() ^ ((uint64_t)InterlockedIncrement(&sCount) << 48);
    char away[PATH_SIZE + 16];
    /* Six characters after "~kvd", or as many as a long folder leaves room
    ** for in a path's letters: a name another remover took at the same
    ** moment, or a file of the user's of that name, is never replaced; the
    ** removal then fails and the file stays where the next holder takes it
    ** over. */
    const int room = PATH_LETTERS - (int)PathLetters(path, (size_t)folder) - 4;
    const int letters = room < 6 ? room : 6;
    int n = snprintf(away, sizeof away, "%.*s~kvd", folder, path);
    for (int i = 0; i < letters && n > 0 && n < (int)sizeof away - 1; i++, z /= 36) away[n++] = "0123456789abcdefghijklmnopqrstuvwxyz"[z % 36];
    if (n > 0 && n < (int)sizeof away) away[n] = 0;
    if (n <= 0 || n >= (int)sizeof away - 1 || !RenameHandle(H(file), away, false)) return 0;
    DeleteOnClose(H(file));
    return 1;
}

int PlatGetFileId(const char *path, PlatFileId *id)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!NamedFileIdentity(path, &info)) return 0;
    id->volume = info.dwVolumeSerialNumber;
    id->index = ((uint64_t)info.nFileIndexHigh << 32) | info.nFileIndexLow;
    return 1;
}

void (*gPlatRenameWaits)(const char *dst) = nullptr;

enum { RENAME_WAIT_MS = 60000, RENAME_POLL_MS = 20 };

/* After a refused rename onto dst: 1 when dst is a file the rename may
** replace once the program that has it open lets go (not read-only, no
** folder), the error left as it was.  A source another program holds is
** refused as a sharing violation: that is no reader of dst (sourceOwn: the
** source is the caller's own open file, so the refusal is dst's). */
static int TargetHeldOpen(const char *dst, int sourceOwn)
{
    const DWORD code = GetLastError();
    if (code != ERROR_ACCESS_DENIED && !(sourceOwn && code == ERROR_SHARING_VIOLATION)) return 0;
    const DWORD attributes = PathAttributes(dst);
    SetLastError(code);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

/* 1 (access denied) when dst is an existing file marked read-only: it is
** kept.  Windows' own rename refuses to replace it; Wine's does not, so the
** program asks before every replace, and both builds keep the file. */
static int TargetReadOnly(const char *dst)
{
    const DWORD attributes = PathAttributes(dst);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return 0;
    SetLastError(ERROR_ACCESS_DENIED);
    return 1;
}

/* Tries rename until it goes through, or fails for another reason than a
** reader of dst, or the wait is over; 1/0 with the last error of the last try. */
template <typename Rename> static int RenameWhenLetGo(const char *dst, int sourceOwn, Rename rename)
{
    const uint64_t started = GetTickCount64();
    int told = 0;
    for (;;) {
        if (rename()) return 1;
        if (!TargetHeldOpen(dst, sourceOwn) || GetTickCount64() - started > RENAME_WAIT_MS) return 0;
        const DWORD code = GetLastError();
        if (!told && gPlatRenameWaits) gPlatRenameWaits(dst);
        told = 1;
        Sleep(RENAME_POLL_MS);
        SetLastError(code);
    }
}

int PlatRenameReplace(const char *src, const char *dst)
{
    if (PlatFaultDue(PLAT_FAULT_RENAME)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    const SystemPath from(src), to(dst);
    if (!from.ok || !to.ok || TargetReadOnly(dst)) return 0;
    return RenameWhenLetGo(dst, 0, [&] { return MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0; });
}

int PlatRenameOpenFile(PlatFile file, const char *src, const char *dst)
{
    (void)src;
    if (PlatFaultDue(PLAT_FAULT_RENAME)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    if (TargetReadOnly(dst)) return 0;
    return RenameWhenLetGo(dst, 1, [&] { return RenameHandle(H(file), dst, true) != 0; });
}

/* MoveFileEx replaces a link itself, never the file it points to: the file
** a replace writes is the one named. */
int PlatResolveLinks(const char *path, char *out, size_t size)
{
    size_t n = strlen(path);
    if (n + 1 > size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    memcpy(out, path, n + 1);
    return 1;
}

int PlatCopyFile(const char *src, const char *dst)
{
    const SystemPath from(src), to(dst);
    return from.ok && to.ok && !TargetReadOnly(dst) && CopyFileW(from, to, FALSE) ? 1 : 0;
}

/* Creates one folder; an existing folder is taken unless mustBeNew. */
static int MakeFolder(const char *path, int mustBeNew)
{
    char p[MAX_PATH * 4];
    size_t n = strlen(path);
    if (n >= sizeof p) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    memcpy(p, path, n + 1);
    while (n > 3 && (p[n - 1] == '\\' || p[n - 1] == '/')) p[--n] = 0;
    const SystemPath name(p);
    if (!name.ok) return 0;
    if (CreateDirectoryW(name, nullptr)) return 1;
    if (!mustBeNew && GetLastError() == ERROR_ALREADY_EXISTS) {
        if (PlatFolderExists(p)) return 1;
        SetLastError(ERROR_ALREADY_EXISTS);
    }
    return 0;
}

int PlatCreateFolder(const char *path) { return MakeFolder(path, 0); }
int PlatCreateNewFolder(const char *path) { return MakeFolder(path, 1); }

int PlatRemoveFolder(const char *path)
{
    const SystemPath name(path);
    return name.ok && RemoveDirectoryW(name) ? 1 : 0;
}

int PlatListFolder(const char *pattern, PlatListCallback callback, void *user)
{
    WIN32_FIND_DATAW fd;
    const SystemPath wide(pattern, SYSTEM_PATH_PATTERN);
    if (!wide.ok) return 0;
    HANDLE h = FindFirstFileW(wide, &fd);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD e = GetLastError();
        /* An existing folder with nothing that matches is not a failure. */
        return e == ERROR_FILE_NOT_FOUND || e == ERROR_NO_MORE_FILES ? 1 : 0;
    }
    do {
        if (!wcscmp(fd.cFileName, L".") || !wcscmp(fd.cFileName, L"..")) continue;
        char name[MAX_PATH * 4];
        if (!NameFromWide(fd.cFileName, name, sizeof name)) continue;
        if (!callback(name, (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0, user)) break;
    } while (FindNextFileW(h, &fd));
    FindClose(h);
    return 1;
}

int PlatGetProgramPath(char *out, size_t size)
{
    WCHAR wide[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, wide, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return 0;
    return NameFromWide(wide, out, size);
}

int PlatGetProgramFolder(char *out, size_t size)
{
    char buf[MAX_PATH * 4];
    if (!PlatGetProgramPath(buf, sizeof buf)) return 0;
    char *slash = strrchr(buf, '\\');
    if (slash) *slash = 0;
    if (strlen(buf) + 1 > size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    strcpy(out, buf);
    return 1;
}

int PlatGetCurrentFolder(char *out, size_t size)
{
    WCHAR wide[MAX_PATH * 4];
    const DWORD n = GetCurrentDirectoryW(MAX_PATH * 4, wide);
    return n > 0 && n < MAX_PATH * 4 && NameFromWide(wide, out, size);
}

int PlatSetCurrentFolder(const char *path)
{
    const SystemPath name(path);
    return name.ok && SetCurrentDirectoryW(name) ? 1 : 0;
}

int PlatFullPath(const char *path, char *out, size_t size)
{
    WCHAR full[MAX_PATH * 8];
    return WholeName(path, full, MAX_PATH * 8) && NameFromWide(full, out, size);
}

int PlatGetDesktopFolder(char *out, size_t size)
{
    if (!out || size == 0) return 0;
    out[0] = 0;
    /* The known folder follows a desktop the user has moved (to another drive
    ** or a synchronised folder), which the profile folder does not. */
    PWSTR wide = nullptr;
    int ok = 0;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_Desktop, 0, nullptr, &wide)))
        ok = NameFromWide(wide, out, size);
    CoTaskMemFree(wide);
    if (!ok) out[0] = 0;
    return ok;
}

int PlatLastError() { return (int)GetLastError(); }
void PlatSetLastError(int code) { SetLastError((DWORD)code); }

void PlatErrorText(int code, char *out, size_t size)
{
    if (!out || size == 0) return;
    out[0] = 0;
    WCHAR wide[512];
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, (DWORD)code, 0, wide,
                             512, nullptr);
    if (n == 0 || !NameFromWide(wide, out, size)) snprintf(out, size, "Error %d", code);
    size_t len = strlen(out);
    while (len > 0 && (out[len - 1] == '\r' || out[len - 1] == '\n')) out[--len] = 0;
}

void PlatGetLocalTime(PlatDateTime *out)
{
    SYSTEMTIME st;
    GetLocalTime(&st);
    FromSystemTime(st, out);
}

uint32_t PlatTickCount() { return GetTickCount(); }
uint64_t PlatTickCount64() { return GetTickCount64(); }
void PlatSleep(uint32_t milliseconds) { Sleep(milliseconds); }

/* Values of the environment are names too (a TEMP folder): UTF-8 in and out. */
int PlatGetEnv(const char *name, char *out, size_t size)
{
    WCHAR key[512], value[MAX_PATH * 4];
    if (WideFromName(name, key, 512) <= 0) return 0;
    const DWORD n = GetEnvironmentVariableW(key, value, MAX_PATH * 4);
    return n > 0 && n < MAX_PATH * 4 && NameFromWide(value, out, size) ? 1 : 0;
}

int PlatSetEnv(const char *name, const char *value)
{
    WCHAR key[512], wide[MAX_PATH * 4];
    if (WideFromName(name, key, 512) <= 0) return 0;
    if (value && WideFromName(value, wide, MAX_PATH * 4) <= 0) return 0;
    return SetEnvironmentVariableW(key, value ? wide : nullptr) ? 1 : 0;
}

uint64_t PlatPhysicalMemory()
{
    MEMORYSTATUSEX ms;
    ms.dwLength = sizeof ms;
    return GlobalMemoryStatusEx(&ms) ? (uint64_t)ms.ullTotalPhys : 0;
}

int PlatProcessorCount()
{
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    return si.dwNumberOfProcessors > 0 ? (int)si.dwNumberOfProcessors : 1;
}

uint32_t PlatCurrentThreadId() { return (uint32_t)GetCurrentThreadId(); }

int PlatEscapePressed() { return (GetAsyncKeyState(VK_ESCAPE) & 0x8000) ? 1 : 0; }

PlatLibrary PlatLoadLibrary(const char *path)
{
    const SystemPath name(path);
    return name.ok ? (PlatLibrary)LoadLibraryW(name) : nullptr;
}

void *PlatGetProcAddress(PlatLibrary library, const char *name)
{
    return library ? (void *)GetProcAddress((HMODULE)library, name) : nullptr;
}

void PlatFreeLibrary(PlatLibrary library)
{
    if (library) FreeLibrary((HMODULE)library);
}

const char *PlatLibrarySuffix() { return PLAT_LIBRARY_SUFFIX; }
