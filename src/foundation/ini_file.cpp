/* ini_file.cpp -- the settings file held whole in memory: opening, section and
** key search, edits in place, escapes and colours, and the write-back. */
#include "foundation/ini_file.h"

#include <cstring>
#include <string>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

static const char kOpenForAppendFailed[] = "Unable to open %s for appending\r\n\r\n%s";
static const char kSeekFailed[] = "Unable to seek to %d bytes from %s in file %s";
static const char kLargerThan4Gb[] = "File %s is larger than 4GB!";

/* The section that answers for every name in a single-section file. */
static const char kOneSection[] = "[KESTOVAR]";

/* White space as the C locale's isspace sees it; bytes above 127 (letters of
** the 8-bit code page) are never white space. */
static int IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

/* First occurrence of pattern in text[from, length), or -1.  Bounded by the
** length so that a stray NUL byte in a damaged file hides nothing after it. */
static int FindBytes(const IniFile *rec, int from, const char *pattern, int patternLen)
{
    if (patternLen <= 0) return -1;
    int last = rec->length - patternLen;
    for (int i = from < 0 ? 0 : from; i <= last; i++) {
        const void *hit = memchr(rec->text + i, (unsigned char)pattern[0], (size_t)(last - i + 1));
        if (!hit) return -1;
        i = (int)((const char *)hit - rec->text);
        if (memcmp(rec->text + i, pattern, (size_t)patternLen) == 0) return i;
    }
    return -1;
}

/* Replaces text[from, to) by n bytes of insert, growing the buffer first so
** that a failed growth leaves the text untouched.  The buffer grows to exactly
** length + slack + n when that sum reaches the capacity. */
static int ReplaceRange(IniFile *rec, int from, int to, const char *insert, int n)
{
    int64_t need = (int64_t)rec->length + INI_SLACK + n;
    if (need >= rec->capacity) {
        if (need > INT32_MAX) return 0;
        if (!ReallocMemory(&rec->text, (uint64_t)need)) return 0;
        rec->capacity = (int32_t)need;
    }
    int tail = rec->length - to;
    memmove(rec->text + from + n, rec->text + to, (size_t)tail + 1); /* with the NUL */
    if (n) memcpy(rec->text + from, insert, (size_t)n);
    rec->length = rec->length - (to - from) + n;
    rec->text[rec->length] = 0;
    return 1;
}

/* ---- opening and closing ---------------------------------------------------------- */

/* Opens for reading and writing, no sharing, creating the file when absent.
** Creating goes through an append-open, which never truncates a file that
** another process made in between. */
static PlatFile OpenExclusive(const char *path)
{
    if (PathTooLong(path)) {
        PlatSetLastError(PLAT_ERR_FILENAME_TOO_LONG);
        return nullptr;
    }
    PlatFile f = PlatOpenFile(path, PLAT_OPEN_READ_WRITE);
    if (f || PlatLastError() != PLAT_ERR_FILE_NOT_FOUND) return f;
    PlatFile made = PlatOpenFile(path, PLAT_OPEN_APPEND);
    if (!made) return nullptr;
    PlatCloseFile(made);
    return PlatOpenFile(path, PLAT_OPEN_READ_WRITE);
}

static int FailOpen(PlatFile f)
{
    PlatCloseFile(f);
    SetResultCode(RESULT_FILE_ERROR);
    return 0;
}

int IniOpen(IniFile *rec, const char *fileName, int writable)
{
    rec->text = nullptr;
    rec->file = nullptr;
    rec->length = rec->capacity = 0;
    PlatFile f = nullptr;
    if (gRun.unattended) {
        if (!OpenFileForRead(&f, fileName)) return 0;
    } else {
        if (writable) BackupFile(fileName);
        f = OpenExclusive(fileName);
        if (!f) {
            ReportError(kOpenForAppendFailed, fileName, GetErrorText());
            SetResultCode(RESULT_FILE_ERROR);
            return 0;
        }
    }
    uint64_t size = 0;
    if (!PlatSeekFile(f, 0, 2, &size)) {
        ReportError(kSeekFailed, -1, "end", fileName);
        return FailOpen(f);
    }
    /* The text is indexed by 32-bit offsets; a settings file never comes near. */
    if (size >= 0x7FFFFFFFull - INI_SLACK) {
        ReportError(kLargerThan4Gb, fileName);
        return FailOpen(f);
    }
    if (!PlatSeekFile(f, 0, 0, nullptr)) {
        ReportError(kSeekFailed, 0, "start", fileName);
        return FailOpen(f);
    }
    char *text = nullptr;
    if (!AllocMemory(&text, size + INI_SLACK)) return FailOpen(f);
    if (!ReadFileData(f, text, (uint32_t)size, fileName)) {
        FreeMemory(&text);
        return FailOpen(f);
    }
    /* Line ends, blanks and control bytes at the end are dropped; bytes from
    ** 128 up are letters of the code page and stay. */
    int n = (int)size;
    while (n > 0 && (unsigned char)text[n - 1] <= 0x20) n--;
    text[n] = 0;
    /* Every search below finds lines by their LF; a file saved with CR alone
    ** ending its lines has none, so such a CR is read as an LF. */
    for (char *p = text; (p = (char *)memchr(p, '\r', (size_t)(text + n - p))) != nullptr; p++)
        if (p + 1 == text + n || p[1] != '\n') *p = '\n';

    CopyString(rec->path, sizeof rec->path, fileName, -1);
    rec->file = f;
    rec->writable = writable ? 1 : 0;
    rec->section = -1;
    rec->text = text;
    rec->length = n;
    rec->capacity = (int32_t)size + INI_SLACK;
    return 1;
}

int IniClose(IniFile *rec)
{
    int ok = 1;
    if (rec->file) {
        PlatSetEndOfFile(rec->file);
        PlatCloseFile(rec->file);
        rec->file = nullptr;
        /* SaveFile replaces the file only once the new text is complete, so
        ** a failed write keeps the old settings. */
        if (rec->writable && rec->text && !gRun.unattended)
            ok = SaveFile(rec->path, rec->text, (uint32_t)rec->length);
    }
    FreeMemory(&rec->text);
    rec->length = rec->capacity = 0;
    return ok;
}

/* ---- sections ---------------------------------------------------------------------- */

int IniSection(IniFile *rec, const char *name)
{
    if (!name) {
        rec->section = -1;
        return 1;
    }
    if (!rec->text) return 0;
    int first = FindBytes(rec, 0, "[", 1);
    if (first >= 0 && rec->length - first >= 10 && memcmp(rec->text + first, kOneSection, 10) == 0) {
        rec->section = first;
        return 1;
    }
    std::string header = std::string("[") + name + "]";
    int at = FindBytes(rec, 0, header.data(), (int)header.size());
    if (at >= 0) {
        rec->section = at;
        return 1;
    }
    if (!rec->writable) return 0;
    /* The new section goes at the end, one empty line after the last; its
    ** first key brings the line end after the header. */
    const char *gap = rec->length > 0 ? "\r\n\r\n" : "";
    int start = rec->length + (int)strlen(gap);
    std::string add = gap + header;
    if (!ReplaceRange(rec, rec->length, rec->length, add.data(), (int)add.size())) return 0;
    rec->section = start;
    return 1;
}

int IniSectionText(const IniFile *rec, int *pEnd)
{
    int start = rec->section >= 0 && rec->section < rec->length ? rec->section : 0;
    int end = rec->length;
    if (rec->section >= 0) {
        int next = FindBytes(rec, start, "\n[", 2);
        if (next >= 0) end = next;
    }
    while (end > start && IsBlank(rec->text[end - 1])) end--;
    *pEnd = end;
    return start;
}

/* The offset of the key's "=" inside the current section, or -1.  A key
** counts only at the start of a line; the file's very first line is a line
** start too. */
static int FindKey(const IniFile *rec, const char *key, int *pEnd)
{
    int end = 0;
    int start = IniSectionText(rec, &end);
    if (pEnd) *pEnd = end;
    size_t keyLen = strlen(key);
    if (keyLen == 0) return -1;
    if (rec->section < 0 && rec->length > (int)keyLen && memcmp(rec->text, key, keyLen) == 0 &&
        rec->text[keyLen] == '=')
        return (int)keyLen;
    std::string pattern = "\n" + std::string(key) + "=";
    int hit = FindBytes(rec, start, pattern.data(), (int)pattern.size());
    if (hit < 0 || hit >= end) return -1;
    return hit + (int)pattern.size() - 1;
}

/* The value after "=" at eq: [*pFrom, returned end), trailing white space
** excluded. */
static int ValueSpan(const IniFile *rec, int eq, int *pFrom)
{
    int from = eq + 1;
    const void *nl = memchr(rec->text + from, '\n', (size_t)(rec->length - from));
    int to = nl ? (int)((const char *)nl - rec->text) : rec->length;
    while (to > from && IsBlank(rec->text[to - 1])) to--;
    *pFrom = from;
    return to;
}

/* ---- reading and writing values ------------------------------------------------------ */

int IniGetString(const IniFile *rec, const char *key, const char *defaultValue, char *out, int size)
{
    if (size <= 0) return rec->text ? 1 : 0;
    int eq = rec->text ? FindKey(rec, key, nullptr) : -1;
    if (eq < 0) {
        CopyString(out, size, defaultValue ? defaultValue : "", -1);
        return rec->text ? 1 : 0;
    }
    int from = 0;
    int to = ValueSpan(rec, eq, &from);
    /* A NUL byte from a damaged file ends the value as every reader of the
    ** text sees it, and a value too long for out ends at its size: either
    ** way the white space before the end goes, as at the line's end, so the
    ** value written back reads back the same. */
    const void *nul = memchr(rec->text + from, 0, (size_t)(to - from));
    if (nul) to = (int)((const char *)nul - rec->text);
    if (to - from > size - 1) to = from + size - 1;
    while (to > from && IsBlank(rec->text[to - 1])) to--;
    int n = to - from;
    memcpy(out, rec->text + from, (size_t)n);
    out[n] = 0;
    return 1;
}

int IniPutString(IniFile *rec, const char *key, const char *value)
{
    if (!rec->writable || !rec->text) return 0;
    int end = 0;
    int eq = FindKey(rec, key, &end);
    if (eq >= 0) {
        int from = 0;
        int to = ValueSpan(rec, eq, &from);
        return ReplaceRange(rec, from, to, value, (int)strlen(value));
    }
    std::string line = "\r\n" + std::string(key) + "=" + value;
    return ReplaceRange(rec, end, end, line.data(), (int)line.size());
}

int IniInsertText(IniFile *rec, int offset, const char *text)
{
    if (!rec->text) return 0;
    if (offset <= 0 || offset > rec->length) offset = rec->length;
    return ReplaceRange(rec, offset, offset, text, (int)strlen(text));
}

int IniGetText(const IniFile *rec, const char *key, const char *defaultValue, char *out, int size)
{
    if (size <= 0) return 0;
    /* Every character may take two in the file, so the raw value gets twice
    ** the room: a text that filled its buffer when saved reads back whole. */
    std::string raw((size_t)size * 2, '\0');
    int ok = IniGetString(rec, key, defaultValue, raw.data(), (int)raw.size());
    int n = 0;
    for (const char *p = raw.c_str(); *p && n < size - 1; p++) {
        char c = *p;
        if (c == '\\' && p[1]) {
            p++;
            c = *p == 'n' ? '\n' : *p == 'r' ? '\r'
                : *p == 't'                  ? '\t'
                                             : *p;
        }
        out[n++] = c;
    }
    out[n] = 0;
    return ok;
}

int IniPutText(IniFile *rec, const char *key, const char *text)
{
    std::string escaped;
    escaped.reserve(strlen(text) * 2);
    for (const char *p = text; *p; p++) {
        switch (*p) {
        case '\n': escaped += "\\n"; break;
        case '\r': escaped += "\\r"; break;
        case '\t': escaped += "\\t"; break;
        case '\\': escaped += "\\\\"; break;
        default: escaped += *p; break;
        }
    }
    return IniPutString(rec, key, escaped.c_str());
}

/* ---- colours -------------------------------------------------------------------------- */

static const char *SkipBlanks(const char *p)
{
    while (IsBlank(*p)) p++;
    return p;
}

/* One "%d" as the C library scans it: blanks, an optional sign, digits.  Very
** long digit runs saturate instead of overflowing; only the low byte is kept
** by the caller anyway. */
static const char *ScanInt(const char *p, int *pValue)
{
    p = SkipBlanks(p);
    int negative = 0;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return nullptr;
    long long v = 0;
    while (*p >= '0' && *p <= '9') {
        if (v < 1000000000LL) v = v * 10 + (*p - '0');
        p++;
    }
    *pValue = (int)(negative ? -v : v);
    return p;
}

int ParseColorText(const char *text, uint32_t *pColour)
{
    const char *p = SkipBlanks(text);
    if (strncmp(p, "RGB", 3) != 0) return 0;
    p = SkipBlanks(p + 3);
    if (*p++ != '(') return 0;
    int part[3];
    for (int i = 0; i < 3; i++) {
        if (i > 0) {
            p = SkipBlanks(p);
            if (*p++ != ',') return 0;
        }
        p = ScanInt(p, &part[i]);
        if (!p) return 0;
    }
    *pColour = ((uint32_t)part[0] & 0xFF) | ((uint32_t)part[1] & 0xFF) << 8 | ((uint32_t)part[2] & 0xFF) << 16;
    return 1;
}

void FormatColorText(char *out, int size, uint32_t colour)
{
    FormatText(out, (size_t)size, "RGB(%d,%d,%d)", (int)(colour & 0xFF), (int)(colour >> 8 & 0xFF),
               (int)(colour >> 16 & 0xFF));
}

int IniGetColor(const IniFile *rec, const char *key, uint32_t defaultColour, uint32_t *pColour)
{
    char value[256];
    IniGetString(rec, key, "", value, sizeof value);
    if (ParseColorText(value, pColour)) return 1;
    *pColour = defaultColour;
    return 0;
}
