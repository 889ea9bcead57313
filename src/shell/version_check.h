/* version_check.h -- version texts of the update check: parsing, comparing,
** and the checks a published text passes before it names a file.
**
** A version is a.b.c.d with an optional lower-case letter ending the fourth
** number ("2.1.0.4b"); the published text may carry a second line with the
** publishing date as yyyymmdd.
** Threads:    any; no state.
*/
#pragma once
#include <cstdint>

struct VersionNumber {
    int32_t part[4]; /* a, b, c, d; a missing part is 0 */
    int32_t letter;  /* 0, or the lower-case letter that ends the fourth number */
};

enum { VERSION_TEXT_SIZE = 32,
       LATEST_VERSION_SIZE = 48 };

/* Parses "a.b.c.d[letter]" up to the end of the first line, and the date of
** the second line (today's date, as given, when it is missing or 0). */
void ParseVersionString(const char *text, VersionNumber *out, int32_t *date, int32_t today);
/* <0 when a is older than b, 0 when equal, >0 when newer: a, b, c, d and the
** letter in that order. */
int CompareVersions(const VersionNumber *a, const VersionNumber *b);
/* A published version text made safe to become part of a file name: blanks
** around it trimmed, then only digits, dots and at most one letter (ending
** the text) accepted, at most 31 characters.  1 and the text in out, or 0. */
int CleanVersionText(const char *text, char *out, int size);
/* "KestovarInstall.<version>.exe" for a cleaned version text; 0 when the
** version text is not clean. */
int InstallerFileName(const char *version, char *out, int size);

/* The crash report's text: "Kestovar %s has crashed with exception %x\n\nCall
** Stack:\n", then "%02d: 0x%llx\n" for each of at most 16 return addresses,
** then the closing paragraphs.  Returns the length (at most size - 1). */
enum { CRASH_FRAMES = 16,
       CRASH_TEXT_SIZE = 1024 };
int FormatCrashReport(char *out, int size, const char *version, uint32_t code, const uint64_t *addresses,
                      int count);
