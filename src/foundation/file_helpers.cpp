/* file_helpers.cpp -- whole-file reads and writes, safe replacement, backups,
** the quoted-CSV loader and ReadBlock. */
#include "foundation/file_helpers.h"

#include <atomic>
#include <cctype>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/numbers.h"
#include "foundation/run_files.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

/* The program's file messages, worded as the user sees them. */
static const char kCreateFailed[] = "Unable to create %s\r\n\r\n%s";
static const char kWriteFailed[] = "Error writing %d bytes to %s\r\n\r\n%s";
static const char kOpenFailed[] = "Unable to open %s for reading\r\n\r\n%s";
static const char kReadFailed[] = "Error reading %d bytes from %s\r\n\r\n%s";
static const char kShortRead[] = "Incomplete data (%d of %d) read from %s";
static const char kTooLarge[] = "Unable to read %s because it is larger than 4GB.";
static const char kFolderFailed[] = "Unable to create folder %s";
static const char kPathTooLong[] = "%s file path is too long -- maximum is 260 chars.";

/* The system words this differently on each platform; the program's own
** refusal of a long path reads the same in both builds. */
static const char kTooLongText[] = "The filename or extension is too long.";

static thread_local char tErrorText[ERROR_TEXT_SIZE];

int ComparePaths(const char *a, const char *b)
{
    return PlatCompareNames(a ? a : "", b ? b : "");
}

const char *GetErrorText()
{
    int code = PlatLastError();
    if (code == PLAT_ERR_FILENAME_TOO_LONG)
        CopyString(tErrorText, sizeof tErrorText, kTooLongText, -1);
    else
        PlatErrorText(code, tErrorText, sizeof tErrorText);
    return tErrorText;
}

/* A path the program can hand to the system: at most PATH_LETTERS letters.
** Sets the "too long" error otherwise, so the caller's message says why. */
static int PathFits(const char *path)
{
    if (!PathTooLong(path)) return 1;
    PlatSetLastError(PLAT_ERR_FILENAME_TOO_LONG);
    return 0;
}

int GetFileDate(const char *path, PlatDateTime *pTime)
{
    PlatDateTime t;
    if (!path || !PathFits(path) || !PlatGetFileInfo(path, nullptr, &t)) return 0;
    if (pTime) *pTime = t;
    return (t.year * 100 + t.month) * 100 + t.day;
}

int ReserveFileSpace(PlatFile file, uint32_t size)
{
    uint64_t here = 0, end = 0;
    if (!PlatSeekFile(file, 0, 1, &here)) return 0;
    if (!PlatSeekFile(file, 0, 2, &end)) return 0;
    int ok = PlatSeekFile(file, (int64_t)(end + size), 0, nullptr) && PlatSetEndOfFile(file);
    PlatSeekFile(file, (int64_t)here, 0, nullptr);
    return ok;
}

int CreateFileForWrite(PlatFile *pFile, const char *path, uint32_t expectedSize)
{
    *pFile = PathFits(path) ? PlatOpenFile(path, PLAT_CREATE_WRITE) : nullptr;
    if (!*pFile) {
        ReportError(kCreateFailed, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    /* A failed reservation only costs speed; the write itself decides. */
    if (expectedSize) ReserveFileSpace(*pFile, expectedSize);
    return 1;
}

int WriteFileData(PlatFile *pFile, const void *data, uint32_t size, const char *fileName)
{
    const char *p = (const char *)data;
    uint32_t left = size;
    while (left > 0) {
        uint32_t written = 0;
        if (!PlatWriteFile(*pFile, p, left, &written) || written == 0) {
            if (written == 0 && PlatLastError() == 0) PlatSetLastError(PLAT_ERR_ACCESS_DENIED);
            const char *text = GetErrorText();
            PlatSetEndOfFile(*pFile);
            PlatCloseFile(*pFile);
            *pFile = nullptr;
            ReportError(kWriteFailed, (int)size, fileName, text);
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        p += written;
        left -= written;
    }
    return 1;
}

int WriteLogData(PlatFile file, const void *data, uint32_t size, const char *path, int *failed)
{
    if (!file || *failed) return 0;
    uint32_t written = 0;
    if (PlatWriteFile(file, data, size, &written) && written == size) return 1;
    *failed = 1;
    if (written != size && PlatLastError() == 0) PlatSetLastError(PLAT_ERR_ACCESS_DENIED);
    char shown[PATH_SIZE];
    ReportError(kWriteFailed, (int)size, PathAsShown(path, shown, sizeof shown), GetErrorText());
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

int OpenFileForRead(PlatFile *pFile, const char *path)
{
    *pFile = PathFits(path) ? PlatOpenFile(path, PLAT_OPEN_READ) : nullptr;
    if (!*pFile) {
        ReportError(kOpenFailed, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    /* What a run reads, it never replaces: the run's record learns of it here. */
    NoteRunInput(path, nullptr);
    return 1;
}

int ReadFileData(PlatFile file, void *buffer, uint32_t size, const char *fileName)
{
    char *p = (char *)buffer;
    uint32_t total = 0;
    while (total < size) {
        uint32_t got = 0;
        if (!PlatReadFile(file, p + total, size - total, &got)) {
            ReportError(kReadFailed, (int)size, fileName, GetErrorText());
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
        if (got == 0) break;
        total += got;
    }
    if (total < size) {
        ReportError(kShortRead, (int)total, (int)size, fileName);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    return 1;
}

int CheckFileSizeLimit(uint64_t size, const char *path)
{
    if (size < 0x100000000ull) return 1;
    ReportError(kTooLarge, path);
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

int ReadBlock(PlatFile file, void *pBlock, uint64_t size)
{
    void **pp = (void **)pBlock;
    *pp = nullptr;
    if (!AllocMemory(pp, size)) return 0;
    if (!file) return 1;
    /* The file helpers move at most 4 GB - 1 at a time; bigger blocks go in pieces. */
    char *p = (char *)*pp;
    for (uint64_t done = 0; done < size;) {
        uint32_t piece = size - done > 0x40000000u ? 0x40000000u : (uint32_t)(size - done);
        if (!ReadFileData(file, p + done, piece, "file")) {
            FreeMemory(pp);
            return 0;
        }
        done += piece;
    }
    return 1;
}

int LoadFile(const char *path, void *pBlock, uint32_t *pSize)
{
    char **pp = (char **)pBlock;
    *pp = nullptr;
    PlatFile file = nullptr;
    if (!OpenFileForRead(&file, path)) return 0;
    uint64_t size = 0;
    if (!PlatGetFileSize(file, &size)) {
        ReportError(kReadFailed, 0, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        PlatCloseFile(file);
        return 0;
    }
    if (!CheckFileSizeLimit(size, path)) {
        PlatCloseFile(file);
        return 0;
    }
    /* Four zero bytes after the text: it is terminated, and a caller may add
    ** up to three bytes of its own. */
    if (!AllocMemory(pp, size + 4) || !ReadFileData(file, *pp, (uint32_t)size, path)) {
        FreeMemory(pp);
        PlatCloseFile(file);
        return 0;
    }
    PlatCloseFile(file);
    unsigned char *text = (unsigned char *)*pp;
    if (size >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) {
        memmove(text, text + 3, (size_t)size - 3);
        memset(text + size - 3, 0, 3);
        size -= 3;
    }
    if (pSize) *pSize = (uint32_t)size;
    return 1;
}

const char kUtf16TextReason[] = "the file is written in UTF-16 (Unicode text); save it as CSV or as UTF-8 text";
static const char kUtf16Refused[] = "Unable to read %s: %s";

int IsUtf16Text(const char *text, const char *end)
{
    if (end - text < 2) return 0;
    unsigned char a = (unsigned char)text[0], b = (unsigned char)text[1];
    return (a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF);
}

int LoadTextFile(const char *path, void *pBlock, uint32_t *pSize)
{
    uint32_t size = 0;
    if (!LoadFile(path, pBlock, &size)) return 0;
    char **pp = (char **)pBlock;
    if (IsUtf16Text(*pp, *pp + size)) {
        FreeMemory(pp);
        ReportError(kUtf16Refused, path, kUtf16TextReason);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    if (pSize) *pSize = size;
    return 1;
}

/* ---- replacing a file safely ------------------------------------------------ */

int MakeTempPath(char *out, const char *path)
{
    if (PathLetters(path) + 4 <= PATH_LETTERS) {
        FormatText(out, PATH_SIZE, "%s.~kv", path);
        return 1;
    }
    const char *slash = strrchr(path, '\\');
    size_t folder = slash ? (size_t)(slash - path) + 1 : 0;
    const size_t folderLetters = PathLetters(path, folder);
    /* A path that fits with a short name keeps a name that fits too: "~kvt"
    ** is no writer's temporary name (those have two characters or more after
    ** "~kv"). */
    const char *name = folderLetters + 7 <= PATH_LETTERS ? "~kv.tmp" : "~kvt";
    if (folderLetters + strlen(name) > PATH_LETTERS) return 0;
    memcpy(out, path, folder);
    CopyString(out + folder, PATH_SIZE - (int)folder, name, -1);
    return 1;
}

/* Every save writes a temporary file of a name of its own, "<path>.~kv"
** and six letters or digits, made new and held while it is written and
** renamed: no other writer ever writes into it, removes it or puts it in
** place, and two writers of one file both succeed, the later rename
** winning.  A path too long for that takes "~kv" and six characters in the
** same folder, and a path that leaves no room for those (a short name at
** the end of a long path) "~kv" and as many as fit, two at least.  A name
** shorter still (".kvr" at the end of a 259-character path) takes a name as
** long as its own: "~" and one character fewer, or for a one-character name
** one character, never the name itself.  So every path that fits saves. */
enum { TEMP_SUFFIX_LENGTH = 6,
       TEMP_SUFFIX_SHORTEST = 2 };

/* The temporary files' common start for path (out: PATH_SIZE) and how
** many characters follow it (*suffix); *named is 1 when the stem is the
** file's own name and ".~kv", so that its temporaries name the file they
** stand for.  0 when no name fits (path names a folder). */
static int MakeTempStem(char *out, const char *path, int *suffix, int *named)
{
    const size_t n = strlen(path);
    *suffix = TEMP_SUFFIX_LENGTH;
    *named = 0;
    if (PathLetters(path) + 4 + TEMP_SUFFIX_LENGTH <= PATH_LETTERS) {
        FormatText(out, PATH_SIZE, "%s.~kv", path);
        *named = 1;
        return 1;
    }
    size_t folder = 0;
    for (size_t i = 0; i < n; i++)
        if (path[i] == '\\' || path[i] == '/') folder = i + 1;
    if (folder >= n) return 0;
    const char *stem = "~kv";
    const int room = (int)(PATH_LETTERS - PathLetters(path, folder)); /* at least the name's own length */
    if (room < 3 + TEMP_SUFFIX_SHORTEST)
        stem = room > 1 ? "~" : "";
    const int left = room - (int)strlen(stem);
    if (left < TEMP_SUFFIX_LENGTH) *suffix = left;
    memcpy(out, path, folder);
    CopyString(out + folder, PATH_SIZE - (int)folder, stem, -1);
    return 1;
}

/* Six characters no other writer is likely to pick (length of them, for a
** short name): a name that is taken all the same only costs another try. */
static void MakeTempSuffix(char out[TEMP_SUFFIX_LENGTH + 1], int length)
{
    static std::atomic<uint64_t> sCount{0};
    static thread_local uint64_t tState = 0;
    if (!tState) tState = ((uint64_t)PlatCurrentThreadId() << 32) ^ PlatTickCount64() ^ (uint64_t)(uintptr_t)&tState;
    /* splitmix64: each call moves on; the count keeps two threads of one
    ** process that started alike apart, and the thread's number two
    ** processes forked from one */
    uint64_t z = (tState += 0x9E3779B97F4A7C15ull) + sCount.fetch_add(1, std::memory_order_relaxed) +
        ((uint64_t)PlatCurrentThreadId() << 40);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    /* Lower case only: Windows compares names without case. */
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    for (int i = 0; i < length; i++, z /= 36) out[i] = kDigits[z % 36];
    out[length] = 0;
}

struct LeftTemporaries {
    char folder[PATH_SIZE];      /* with its separator; "" for the current folder */
    const char *stem;            /* the file part of the stem */
};

/* Removes one listed temporary of the stem whose writer is gone: the
** system refuses to remove a file its writer still holds. */
static int RemoveLeftTemporary(const char *name, int isFolder, void *user)
{
    const LeftTemporaries *left = (const LeftTemporaries *)user;
    const size_t n = strlen(left->stem);
    /* (Windows also lists names whose short forms match.) */
    if (isFolder || strlen(name) != n + TEMP_SUFFIX_LENGTH || CompareNoCaseN(name, left->stem, n) != 0) return 1;
    for (int i = 0; i < TEMP_SUFFIX_LENGTH; i++)
        if (!isalnum((unsigned char)name[n + i])) return 1;
    char path[PATH_SIZE];
    FormatText(path, sizeof path, "%s%s", left->folder, name);
    if (!PathTooLong(path)) PlatDeleteUnusedFile(path);
    return 1;
}

/* Removes what writers of stem's file that were killed left behind. */
static void RemoveLeftTemporaries(const char *stem)
{
    LeftTemporaries left;
    const char *file = stem;
    for (const char *p = stem; *p; p++)
        if (*p == '\\' || *p == '/') file = p + 1;
    CopyString(left.folder, sizeof left.folder, stem, (int)(file - stem));
    left.stem = file;
    char pattern[PATH_SIZE + 2];
    FormatText(pattern, sizeof pattern, "%s*", stem);
    const int code = PlatLastError();
    PlatListFolder(pattern, RemoveLeftTemporary, &left);
    PlatSetLastError(code);
}

/* Creates a new temporary file for path (its name into temp) that this
** process alone holds; null with the system's error set when it cannot. */
static PlatFile OpenOwnTemporary(const char *path, char temp[PATH_SIZE])
{
    char stem[PATH_SIZE];
    int length = 0, named = 0;
    if (!MakeTempStem(stem, path, &length, &named)) {
        PlatSetLastError(PLAT_ERR_FILENAME_TOO_LONG);
        return nullptr;
    }
    /* Only the names that carry the file's own name are known for the
    ** program's: a "~kv..." of a long path's folder may be anyone's (a user's
    ** "~kvreport"), and is never removed. */
    if (named) RemoveLeftTemporaries(stem);
    for (int tries = 0; tries < 100; tries++) {
        char suffix[TEMP_SUFFIX_LENGTH + 1];
        MakeTempSuffix(suffix, length);
        FormatText(temp, PATH_SIZE, "%s%s", stem, suffix);
        /* (A name as short as the file's own may be the file's own.) */
        if (ComparePaths(temp, path) == 0) continue;
        PlatFile file = PlatOpenFile(temp, PLAT_CREATE_EXCLUSIVE);
        if (file) return file;
        /* A name taken (or just being removed as a left-over) sends this
        ** writer to another; anything else is the folder's answer. */
        const int code = PlatLastError();
        if (code != PLAT_ERR_ALREADY_EXISTS && code != PLAT_ERR_FILE_EXISTS && code != PLAT_ERR_SHARING_VIOLATION)
            return nullptr;
    }
    return nullptr;
}

int BeginReplaceFile(ReplaceFile *rf, const char *path, uint32_t expectedSize)
{
    return BeginReplaceFileWithMessage(rf, path, expectedSize, kCreateFailed);
}

int BeginReplaceFileWithMessage(ReplaceFile *rf, const char *path, uint32_t expectedSize, const char *createMessage)
{
    rf->file = nullptr;
    rf->tempPath[0] = 0;
    CopyString(rf->path, sizeof rf->path, path, -1);
    rf->file = PathFits(path) ? OpenOwnTemporary(path, rf->tempPath) : nullptr;
    if (!rf->file) {
        ReportError(createMessage, path, GetErrorText());
        SetResultCode(RESULT_FILE_ERROR);
        rf->tempPath[0] = 0;
        return 0;
    }
    if (expectedSize) ReserveFileSpace(rf->file, expectedSize);
    return 1;
}

int BeginReplaceFileQuietly(ReplaceFile *rf, const char *path)
{
    CopyString(rf->path, sizeof rf->path, path, -1);
    rf->tempPath[0] = 0;
    rf->file = PathFits(path) ? OpenOwnTemporary(path, rf->tempPath) : nullptr;
    if (!rf->file) rf->tempPath[0] = 0;
    return rf->file != nullptr;
}

int WriteReplaceFile(ReplaceFile *rf, const void *data, uint32_t size)
{
    if (!rf->file) return 0;
    return WriteFileData(&rf->file, data, size, rf->path);
}

void AbandonReplaceFile(ReplaceFile *rf)
{
    /* The name is this writer's alone: removed while held where the system
    ** allows it, else just after. */
    int removed = 0;
    if (rf->file) {
        removed = rf->tempPath[0] && PlatDeleteFile(rf->tempPath);
        PlatCloseFile(rf->file);
    }
    rf->file = nullptr;
    if (rf->tempPath[0] && !removed) PlatDeleteFile(rf->tempPath);
    rf->tempPath[0] = 0;
}

/* CommitReplaceFile without the message: on failure the temporary file is
** gone and the system's error is the one that stopped the commit. */
static int CommitReplaceFileQuietly(ReplaceFile *rf)
{
    /* The end is cut where writing stopped, dropping any reserved space, and
    ** the file is moved while still held. */
    int ok = PlatSetEndOfFile(rf->file) && PlatFlushFile(rf->file) &&
        PlatRenameOpenFile(rf->file, rf->tempPath, rf->path);
    if (!ok) {
        const int code = PlatLastError();
        AbandonReplaceFile(rf);
        PlatSetLastError(code);
        return 0;
    }
    PlatCloseFile(rf->file); /* flushed and in place: nothing is left to fail */
    rf->file = nullptr;
    rf->tempPath[0] = 0;
    return 1;
}

int CommitReplaceFile(ReplaceFile *rf)
{
    if (!rf->file) {
        AbandonReplaceFile(rf);
        return 0;
    }
    if (CommitReplaceFileQuietly(rf)) return 1;
    ReportError(kCreateFailed, rf->path, GetErrorText());
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

int SaveFile(const char *path, const void *data, uint32_t size)
{
    ReplaceFile rf;
    if (!BeginReplaceFile(&rf, path, size)) return 0;
    if (!WriteReplaceFile(&rf, data, size)) {
        AbandonReplaceFile(&rf);
        return 0;
    }
    return CommitReplaceFile(&rf);
}

int SaveFileQuietly(const char *path, const void *data, uint32_t size)
{
    ReplaceFile rf;
    CopyString(rf.path, sizeof rf.path, path, -1);
    rf.tempPath[0] = 0;
    rf.file = PathFits(path) ? OpenOwnTemporary(path, rf.tempPath) : nullptr;
    if (!rf.file) return 0;
    for (const char *p = (const char *)data; size > 0;) {
        uint32_t written = 0;
        if (!PlatWriteFile(rf.file, p, size, &written) || written == 0) {
            const int code = written == 0 && PlatLastError() == 0 ? PLAT_ERR_ACCESS_DENIED : PlatLastError();
            AbandonReplaceFile(&rf);
            PlatSetLastError(code);
            return 0;
        }
        p += written;
        size -= written;
    }
    return CommitReplaceFileQuietly(&rf);
}

/* ---- numbered backups ---------------------------------------------------------- */

/* name(k).ext in the Backups folder, or name.ext for k 0; a file without an
** extension gets none (no trailing dot, which Windows would drop anyway). */
static void BackupName(char *out, const char *folder, const char *name, const char *ext, int k)
{
    char number[16] = "";
    if (k > 0) FormatText(number, sizeof number, "(%d)", k);
    if (ext[0])
        FormatText(out, PATH_SIZE, "%s\\%s%s.%s", folder, name, number, ext);
    else
        FormatText(out, PATH_SIZE, "%s\\%s%s", folder, name, number);
}

int BackupFile(const char *path)
{
    int n = gSettings.MaxBackups;
    if (gRun.unattended || n < 1) return 0;
    /* A file the system cannot open has nothing to copy; asking no further
    ** keeps both builds alike (one of them could reach the longer name). */
    if (!PathFits(path)) return 0;

    char folder[PATH_SIZE];
    int len = CopyString(folder, sizeof folder, gMessageState.backupRoot, -1);
    while (len > 0 && folder[len - 1] == '\\') folder[--len] = 0;

    /* The name and extension come from the file name alone: a dot in a folder
    ** name is no extension.  Either separator ends a folder, since both
    ** systems accept '/' and users type it. */
    const char *file = path;
    for (const char *p = path; *p; p++)
        if (*p == '\\' || *p == '/') file = p + 1;
    const char *dot = strrchr(file, '.');
    char name[PATH_SIZE], ext[16] = "";
    CopyString(name, sizeof name, file, dot ? (int)(dot - file) : -1);
    if (dot) CopyString(ext, sizeof ext, dot + 1, 15);

    /* The longest name decides whether every name fits; a cut name would
    ** overwrite the wrong backup. */
    char digits[16];
    int numberLen = FormatText(digits, sizeof digits, "(%d)", n);
    if (PathLetters(folder) + 8 + 1 + PathLetters(name) + numberLen + 1 + PathLetters(ext) > PATH_LETTERS) {
        ReportError(kPathTooLong, "Backup");
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }

    FormatText(folder + len, sizeof folder - len, "\\Backups");
    if (!PlatCreateFolder(folder)) {
        ReportError(kFolderFailed, folder);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }

    char from[PATH_SIZE], to[PATH_SIZE];
    BackupName(from, folder, name, ext, 0);
    if (PlatFileExists(from)) {
        BackupName(to, folder, name, ext, 1);
        PlatRenameReplace(from, to);
    }
    for (int k = n - 1; k >= 1; k--) {
        BackupName(from, folder, name, ext, k);
        if (!PlatFileExists(from)) continue;
        BackupName(to, folder, name, ext, k + 1);
        PlatRenameReplace(from, to);
    }
    BackupName(to, folder, name, ext, n >= 2 ? 1 : 0);
    return PlatCopyFile(path, to);
}

/* ---- quoted CSV ------------------------------------------------------------------ */

/* Marks a separator dropped inside quotes at rest[-1] when it is the first
** of its column not followed by exactly three digits.  The field as written
** is the text kept of it so far (before, soFar bytes) and the rest up to its
** closing quote or line end. */
static void MarkOddSeparator(CsvQuoteMarks *marks, int32_t line, int column, const char *before, size_t soFar,
                             const char *rest, const char *end, char separator)
{
    if (column >= CSV_MARKED_COLUMNS || marks->oddSeparators[column].line) return;
    if (GroupsThousands(rest - 1, end)) return;
    auto &mark = marks->oddSeparators[column];
    mark.line = line;
    const size_t room = sizeof mark.text - 1;
    size_t n = soFar < room ? soFar : room;
    memcpy(mark.text, before, n);
    if (n < room) mark.text[n++] = separator;
    for (const char *r = rest; n < room && r < end && *r != '"' && *r != '\r' && *r != '\n'; r++) mark.text[n++] = *r;
    mark.text[n] = 0;
}

int LoadCsvText(const char *path, void *pBlock, char separator, uint32_t *pLength, CsvQuoteMarks *marks)
{
    char **pp = (char **)pBlock;
    uint32_t size = 0;
    if (marks) memset(marks, 0, sizeof *marks);
    if (!LoadTextFile(path, pp, &size)) return 0;
    char *text = *pp;
    if (separator == 0) separator = ',';
    /* The text only shrinks, and LoadFile left 4 spare zero bytes for "\r\n". */
    uint32_t out = 0;
    int lines = 1;
    int quoted = 0;
    if (!memchr(text, '"', size)) {
        /* Without quotes nothing moves: only the lines are counted. */
        const char *end = text + size;
        for (const char *p = text; (p = (const char *)memchr(p, '\n', (size_t)(end - p))); p++) lines++;
        lines += CountLoneCarriageReturns(text, end);
        text[size] = '\r';
        text[size + 1] = '\n';
        if (pLength) *pLength = size + 2;
        return lines;
    }
    /* Where the field being written began (in the text written), its column
    ** on its line, and the line of the last opening quote. */
    uint32_t fieldStart = 0;
    int column = 0;
    int32_t openedOn = 0;
    for (uint32_t i = 0; i < size; i++) {
        char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            if (quoted) openedOn = lines;
            continue;
        }
        if (quoted && c == separator) {
            /* Written text never passes the byte read: the rest is as in the file. */
            if (marks)
                MarkOddSeparator(marks, lines, column, text + fieldStart, out - fieldStart, text + i + 1, text + size,
                                 separator);
            continue;
        }
        if (c == '\n' || (c == '\r' && (i + 1 == size || text[i + 1] != '\n'))) lines++;
        text[out++] = c;
        if (c == separator || c == '\n' || c == '\r') {
            column = c == separator ? column + 1 : 0;
            fieldStart = out;
        }
    }
    if (marks && quoted) marks->openQuoteLine = openedOn;
    if (size == 0) lines = 1;
    text[out++] = '\r';
    text[out++] = '\n';
    memset(text + out, 0, size + 4 - out);
    if (pLength) *pLength = out;
    return lines;
}

/* ---- lines of a text ---------------------------------------------------------- */

int CountLoneCarriageReturns(const char *p, const char *end)
{
    int n = 0;
    while (p < end && (p = (const char *)memchr(p, '\r', (size_t)(end - p))) != nullptr) {
        if (p + 1 >= end || p[1] != '\n') n++;
        p++;
    }
    return n;
}

int CountTextLines(const char *p, const char *end)
{
    int lines = 1 + CountLoneCarriageReturns(p, end);
    for (; (p = (const char *)memchr(p, '\n', (size_t)(end - p))) != nullptr; p++) lines++;
    return lines;
}

const char *FindLineEnd(const char *p, const char *end, const char **next)
{
    const char *q = p;
    while (q < end && *q != '\n' && *q != '\r') q++;
    *next = q + (q < end) + (q + 1 < end && q[0] == '\r' && q[1] == '\n');
    return q;
}

char *TakeTextLine(char **cursor)
{
    char *line = *cursor;
    if (!line || !*line) return nullptr;
    char *q = line + strcspn(line, "\r\n");
    char *next = q + (*q != 0) + (q[0] == '\r' && q[1] == '\n');
    *q = 0;
    *cursor = next;
    return line;
}

int UnquoteLine(char *line, char separator)
{
    int quoted = 0;
    char *out = line;
    for (const char *p = line; *p; p++) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (quoted && *p == separator) continue;
        *out++ = *p;
    }
    *out = 0;
    return !quoted;
}
