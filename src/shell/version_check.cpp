/* version_check.cpp -- version texts of the update check, and the crash
** report's text. */
#include "shell/version_check.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "foundation/text_match.h"

/* The integer at p, stopping at the end of the line; *pp moves past it. */
static int32_t ReadPart(const char **pp)
{
    const char *p = *pp;
    int32_t value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value < 100000000) value = value * 10 + (*p - '0');
        p++;
    }
    *pp = p;
    return value;
}

void ParseVersionString(const char *text, VersionNumber *out, int32_t *date, int32_t today)
{
    *out = {};
    const char *p = text;
    out->part[0] = ReadPart(&p);
    for (int i = 1; i < 4; i++) {
        while (*p && *p != '.' && *p != '\n' && *p != '\r') p++;
        if (*p != '.') break;
        p++;
        out->part[i] = ReadPart(&p);
        if (i == 3 && isalpha((unsigned char)*p)) out->letter = tolower((unsigned char)*p);
    }
    const char *line = strchr(text, '\n');
    int32_t published = line ? (int32_t)strtol(line + 1, nullptr, 10) : 0;
    *date = published ? published : today;
}

int CompareVersions(const VersionNumber *a, const VersionNumber *b)
{
    for (int i = 0; i < 4; i++)
        if (a->part[i] != b->part[i]) return a->part[i] < b->part[i] ? -1 : 1;
    if (a->letter != b->letter) return a->letter < b->letter ? -1 : 1;
    return 0;
}

int CleanVersionText(const char *text, char *out, int size)
{
    out[0] = 0;
    while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') text++;
    int n = 0;
    while (text[n] && text[n] != '\r' && text[n] != '\n') n++;
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) n--;
    if (n == 0 || n >= VERSION_TEXT_SIZE || n >= size) return 0;
    if (!isdigit((unsigned char)text[0])) return 0;
    for (int i = 0; i < n; i++) {
        unsigned char c = (unsigned char)text[i];
        if (isdigit(c) || (c == '.' && text[i - 1] != '.')) continue;
        /* One letter, and only as the last character. */
        if (isalpha(c) && i == n - 1 && isdigit((unsigned char)text[i - 1])) continue;
        return 0;
    }
    if (text[n - 1] == '.') return 0;
    CopyString(out, size, text, n);
    return 1;
}

int InstallerFileName(const char *version, char *out, int size)
{
    char clean[VERSION_TEXT_SIZE];
    if (!CleanVersionText(version, clean, sizeof clean) || strcmp(clean, version) != 0) {
        out[0] = 0;
        return 0;
    }
    FormatText(out, (size_t)size, "KestovarInstall.%s.exe", clean);
    return 1;
}

int FormatCrashReport(char *out, int size, const char *version, uint32_t code, const uint64_t *addresses, int count)
{
    int n = FormatText(out, (size_t)size, "Kestovar %s has crashed with exception %x\n\nCall Stack:\n", version, code);
    for (int i = 0; i < count && i < CRASH_FRAMES; i++)
        n += FormatText(out + n, (size_t)(size - n), "%02d: 0x%llx\n", i, (unsigned long long)addresses[i]);
    n += FormatText(out + n, (size_t)(size - n),
                    "\nPlease send a snapshot of this screen and a description of what you were doing to "
                    "support@kestovar.example.\n\n"
                    "You might still be able to use Kestovar for long enough to save your work and exit normally.\n\n"
                    "If you close this popup window, Kestovar will exit immediately.");
    return n;
}
