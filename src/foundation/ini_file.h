/* ini_file.h -- one settings file held whole in memory.
**
** Owns:       nothing global.  An IniFile record belongs to its caller; the
**             record owns its text (a tracked block) from IniOpen to IniClose.
** File shape: lines of key "=" value; a section starts at a line "[name]".
**             Lines end in "\r\n" as the program writes them, but any line end
**             is read (a CR alone is held, and written back, as an LF).
**             Values are single lines: multi-line text is stored escaped
**             (IniGetText / IniPutText: "\n", "\r", "\t", "\\"), and
**             colours as "RGB(r,g,b)" (read with blanks allowed anywhere
**             around the parts).  In memory a colour is red | green << 8 |
**             blue << 16.
** Lookup:     keys are case-sensitive and found only at the start of a line,
**             with "=" straight after them.  With no section selected the
**             whole file is searched, so the first line holding the key wins
**             whatever section it stands in.  A file whose first section is
**             "[KESTOVAR]" answers for every section name.
** Invariants: text is NUL-terminated; length <= capacity - 1.  Embedded NUL
**             bytes from a damaged file are kept and are just bytes to every
**             search (all searches are bounded by length, not by the NUL).
** Errors:     IniOpen reports through ReportError and sets result code 3;
**             puts return 0 on a read-only record or when the buffer cannot
**             grow, leaving the text as it was.
** Platform:   files through the file helpers; no window code.  UI thread.
** Modes:      interactive: the file is held open for reading and writing with
**             no sharing (created when absent), so a second instance cannot
**             write it at the same time; opening for writing takes a numbered
**             backup first.  Unattended: the file is opened shared for reading,
**             no backup is taken and nothing is ever written.
** Sizes:      settings files are tens of kilobytes; searches are linear.
*/
#pragma once
#include <cstdint>

#include "platform/platform.h"

enum { INI_SLACK = 256 };

struct IniFile {
    char path[PATH_SIZE];     /* the file name as opened */
    PlatFile file;            /* the open file, null after closing */
    int32_t writable;         /* 1: the text is written back on close */
    int32_t section;          /* offset of the current section's "[", -1 = whole file */
    char *text;               /* tracked block, NUL-terminated */
    int32_t length;           /* bytes of text in use */
    int32_t capacity;         /* bytes allocated, at least length + 1 */
};

/* Loads the whole file into rec (any earlier contents of rec are ignored).
** Trailing bytes 0x00..0x20 are dropped from the end of the text.  1, or 0
** after reporting, with rec->text null and no file left open. */
int IniOpen(IniFile *rec, const char *fileName, int writable);

/* Closes the file and, when writable, replaces it with the whole text (the
** old file stays until the new one is complete).  Frees the text; length and
** capacity become 0.  Returns 1, or 0 when the write-back failed (reported). */
int IniClose(IniFile *rec);

/* Selects a section; null selects the whole file.  A writable record gains
** "[name]" at the end when the section is missing; a read-only one returns 0
** and keeps its current section. */
int IniSection(IniFile *rec, const char *name);

/* The current section's span: returns its start (the "[" of its header, or 0
** for the whole file) and stores in *pEnd the offset after its last
** non-blank character. */
int IniSectionText(const IniFile *rec, int *pEnd);

/* Copies the key's value (ended by a NUL byte in a damaged file, cut to
** size - 1 characters, trailing white space dropped after either, so that a
** value saved back reads back the same) or, when the key is absent, the
** default (cut likewise) into out.  Returns 1; 0 only when rec has no text
** (out then holds the default). */
int IniGetString(const IniFile *rec, const char *key, const char *defaultValue, char *out, int size);

/* Sets the key's value in the current section, in place when the key is
** there, else as a new line at the end of the section.  Writable only. */
int IniPutString(IniFile *rec, const char *key, const char *value);

/* IniGetString followed by unescaping; out holds size bytes (size - 1
** characters and the terminator). */
int IniGetText(const IniFile *rec, const char *key, const char *defaultValue, char *out, int size);

/* Escapes text (line feed, carriage return, tab, backslash) and puts it. */
int IniPutText(IniFile *rec, const char *key, const char *text);

/* 1 and the key's colour in *pColour when the value reads as RGB(r,g,b);
** else 0 with defaultColour stored. */
int IniGetColor(const IniFile *rec, const char *key, uint32_t defaultColour, uint32_t *pColour);

/* Inserts text at offset; offset 0 appends at the end of the text.  0 when
** the buffer cannot grow (text unchanged). */
int IniInsertText(IniFile *rec, int offset, const char *text);

/* Parses " RGB ( %d , %d , %d ) " (blanks optional) into a colour; each part
** keeps its low byte, as the system's RGB macro does.  1/0. */
int ParseColorText(const char *text, uint32_t *pColour);
/* Prints a colour as "RGB(%d,%d,%d)" into out (at least 20 bytes). */
void FormatColorText(char *out, int size, uint32_t colour);
