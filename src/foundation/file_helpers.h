/* file_helpers.h -- whole-file and block reads and writes, safe replacement of
** a user's file, numbered backups and the quoted-CSV loader.
**
** Owns:       a per-thread 256-byte buffer with the text of the last system error.
** Errors:     every routine that returns 1/0 reports its own failure through
**             ReportError in one fixed wording and sets the sticky result code to
**             3 (file error); the caller only passes the 0 upward
**             (SaveFileQuietly alone says nothing).  No routine
**             leaves an open handle or a half-filled block behind on failure.
** Handles:    PlatFile variables of the caller; the routines that may close a
**             handle on failure take the variable's address and set it to null.
** Paths:      at most 259 letters (PathTooLong).  A longer one is refused before the
**             system sees it, with the system's "too long" text, so both builds
**             give the same answer.
** Replacing:  a file the user already has is never written in place.  The new
**             contents go to a temporary file in the same folder, which is
**             renamed over the old file only once it is complete (BeginReplaceFile
**             / CommitReplaceFile).  SaveFile works that way, and so must every
**             writer of a settings, script or data file.
** Threads:    any thread; BackupFile only on the UI thread.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

enum {
    ERROR_TEXT_SIZE = 256,
    PLAT_ERR_FILENAME_TOO_LONG = 206
};

/* Local date of the file's last write as yyyymmdd (the full local time copied
** to *pTime when given); 0 when the file cannot be read, without a message. */
int GetFileDate(const char *path, PlatDateTime *pTime);

/* Compares two paths as the system names files: 0 when they name the same
** file as written, else the sign of their order (PlatCompareNames).  '\'
** and '/' are one separator in both builds; letters differing only in case
** are one letter in the Windows build only (every letter its file system
** folds), since the native program's system keeps such names apart. */
int ComparePaths(const char *a, const char *b);

/* The text of the calling thread's last system error (a per-thread buffer). */
const char *GetErrorText();

/* Extends an open file by size bytes beyond its end and puts the file pointer
** back where it was, so the writer fills one allocated run; 1/0, no message. */
int ReserveFileSpace(PlatFile file, uint32_t size);

/* Creates or truncates path for writing (no sharing) into *pFile; with a
** non-zero expected size the space is reserved first.  On failure *pFile is
** null and "Unable to create %s\r\n\r\n%s" is reported. */
int CreateFileForWrite(PlatFile *pFile, const char *path, uint32_t expectedSize);

/* Writes all size bytes (size 0 is 1).  On failure reports "Error writing %d
** bytes to %s\r\n\r\n%s" (fileName names the file), sets the file's end at the
** current position, closes it and sets *pFile to null. */
int WriteFileData(PlatFile *pFile, const void *data, uint32_t size, const char *fileName);
/* Appends size bytes to a log held open for a run (path as the program
** composes it).  The first write that fails is reported as WriteFileData
** reports it, naming the log as the user sees its path, sets the file-error
** code and *failed; nothing more is written after it, so the log never holds
** a hole.  1 when the bytes were written. */
int WriteLogData(PlatFile file, const void *data, uint32_t size, const char *path, int *failed);

/* Opens an existing file for reading into *pFile; on failure *pFile is null
** and "Unable to open %s for reading\r\n\r\n%s" is reported. */
int OpenFileForRead(PlatFile *pFile, const char *path);

/* Reads exactly size bytes.  A read error reports "Error reading %d bytes from
** %s\r\n\r\n%s"; an early end "Incomplete data (%d of %d) read from %s".  The
** handle stays open either way. */
int ReadFileData(PlatFile file, void *buffer, uint32_t size, const char *fileName);

/* The size check of every whole-file reader: 1 for a size below 4 GB, else 0
** after reporting "Unable to read %s because it is larger than 4GB.". */
int CheckFileSizeLimit(uint64_t size, const char *path);

/* The whole file in a fresh tracked block (*pBlock; char * or similar) with 4
** zero bytes after the text, a UTF-8 byte order mark removed; *pSize (optional)
** receives the text's length.  On failure *pBlock is null. */
int LoadFile(const char *path, void *pBlock, uint32_t *pSize);

/* Text files from other programs (lists, tables, templates) are 8-bit or
** UTF-8 text.  One saved as UTF-16 ("Unicode text" in spreadsheets), read a
** byte at a time, is NUL bytes between letters: nonsense symbols and dates
** that match nothing, so it is refused rather than read. */

/* 1 when the text begins with the byte order mark of UTF-16, either byte order. */
int IsUtf16Text(const char *text, const char *end);
/* Why a UTF-16 file is not read, said after its name. */
extern const char kUtf16TextReason[];
/* LoadFile for a text from another program: a UTF-16 file is refused as an
** unreadable one is, reporting "Unable to read %s: " and kUtf16TextReason
** and setting the file-error code; *pBlock is then null. */
int LoadTextFile(const char *path, void *pBlock, uint32_t *pSize);

/* Replaces the file with size bytes of data.  The previous file stays as it
** was until the new one is completely written; a failed save leaves no new
** file and no temporary file behind. */
int SaveFile(const char *path, const void *data, uint32_t size);
/* SaveFile for a writer that shows nothing (a report's stylesheet, a
** picture whose caller decides what to say): no message and no result
** code; on failure PlatLastError() holds the reason. */
int SaveFileQuietly(const char *path, const void *data, uint32_t size);

/* ---- replacing a file safely ------------------------------------------------ */

/* A file being replaced: the new contents go to tempPath in the target's
** folder until CommitReplaceFile renames it over path.  The temporary file
** has a name of its own ("<path>.~kv" and six letters or digits, or for a
** long path a shorter "~..." name in the same folder), made new
** and held by this writer until it is in place, so writers of one file never
** meet: each save replaces the file whole, the last rename winning. */
struct ReplaceFile {
    PlatFile file;                 /* the open temporary file, null when closed */
    char path[PATH_SIZE];          /* the file to replace, as given */
    char tempPath[PATH_SIZE];      /* the temporary file beside it */
};

/* Creates the temporary file beside path (messages name path itself),
** first removing the ones writers of path that were killed left (a file its
** writer still holds stays).  On failure rf->file is null and nothing is
** left on disk. */
int BeginReplaceFile(ReplaceFile *rf, const char *path, uint32_t expectedSize);
/* The one fixed temporary name beside path of a writer that makes a second
** writer of the file fail (the data file's save) (out: PATH_SIZE
** characters): the name with ".~kv" added, or "~kv.tmp" in the same folder
** when that would be too long, or "~kvt" when that would be too long as well;
** 0 when none fits. */
int MakeTempPath(char *out, const char *path);
/* The same for a writer with its own wording for a file that cannot be
** created: createMessage takes the path (its first %s) and may take the
** system's error text (a second %s). */
int BeginReplaceFileWithMessage(ReplaceFile *rf, const char *path, uint32_t expectedSize, const char *createMessage);
/* BeginReplaceFile without the message or the result code, for a writer
** that goes on without the file (a test log then goes to the log window);
** on failure PlatLastError() holds the reason. */
int BeginReplaceFileQuietly(ReplaceFile *rf, const char *path);
/* Writes through WriteFileData with the target's name in its message.  After
** a failure only AbandonReplaceFile is left to call. */
int WriteReplaceFile(ReplaceFile *rf, const void *data, uint32_t size);
/* Cuts the temporary file at its current position, flushes it, renames it
** over the target while still holding it, and closes it.  (A file opened
** with PLAT_CREATE_EXCLUSIVE by another routine may be committed too.)  On
** failure the temporary file is deleted, the
** target is untouched, "Unable to create %s\r\n\r\n%s" is reported and 0
** returned. */
int CommitReplaceFile(ReplaceFile *rf);
/* Closes and deletes the temporary file; the target is untouched.  Safe to
** call again or after a failed write or commit. */
void AbandonReplaceFile(ReplaceFile *rf);

/* ---- numbered backups and CSV ----------------------------------------------- */

/* Keeps a numbered copy of the file in the Backups folder under the backup
** root (gMessageState.backupRoot), at most MaxBackups copies: name(1).ext is
** the newest.  Nothing happens in unattended mode, when MaxBackups < 1 or
** when the path is too long to open.
** Returns the result of the final copy (0 also when nothing was done). */
int BackupFile(const char *path);

/* What the quote rule of LoadCsvText did to a text that its reader may have
** to name, since the text no longer shows it: the double quote that is
** never closed (every separator after it is dropped), and per column (of the
** first CSV_MARKED_COLUMNS of a line) the first quoted field that lost a
** separator not followed by exactly three digits, which is no thousands
** separator ("10,5" became 105). */
enum { CSV_MARKED_COLUMNS = 16,
       CSV_MARKED_TEXT = 64 };
struct CsvQuoteMarks {
    int32_t openQuoteLine; /* line (from 1) of the quote never closed; 0 when every quote closes */
    struct {
        int32_t line;               /* line (from 1) of the field; 0 none */
        char text[CSV_MARKED_TEXT]; /* the field without quotes, with this separator, cut */
    } oddSeparators[CSV_MARKED_COLUMNS];
};

/* The file's text with the quotes of quoted fields removed and separators
** inside quotes dropped (separator 0 means ','), always ending with "\r\n",
** in a fresh tracked block.  Returns the number of lines (line ends + 1, a
** line end being CR LF, LF or CR alone), 0 on failure.  *pLength, when
** given, is the text's length: the text may hold NUL bytes of its own.
** *marks, when given, tells what the quote rule hid (zeroed on failure).
** A UTF-16 file is refused as LoadTextFile refuses it. */
int LoadCsvText(const char *path, void *pBlock, char separator, uint32_t *pLength = nullptr,
                CsvQuoteMarks *marks = nullptr);

/* ---- lines of a text ----------------------------------------------------------
** Texts from other programs end their lines with CR LF, LF or CR alone, so
** every reader of lines takes all three. */

/* Lines of [p, end) ended by CR alone, which a count of LF characters misses. */
int CountLoneCarriageReturns(const char *p, const char *end);
/* The lines of [p, end) (CR LF, LF or CR alone end one; the last may have
** no line end, and an empty text is one line). */
int CountTextLines(const char *p, const char *end);
/* The end of the line that starts at p (before end): its first CR or LF.
** *next is where the next line starts (end after the last line). */
const char *FindLineEnd(const char *p, const char *end, const char **next);
/* The next line of a NUL-terminated text, terminated in place without its
** line end; *cursor moves past it.  Null at the end of the text. */
char *TakeTextLine(char **cursor);
/* Applies the quotes of one line of a side file in place: each double quote
** is dropped and toggles a quoted part, inside which the separator is
** dropped ("1,000" reads as 1000).  A quote never reaches past its line, or
** one left open would run the rows after it together: 0 when the line
** leaves one open (its fields cannot be told), else 1. */
int UnquoteLine(char *line, char separator);
