/* json_readers.cpp -- values out of the online sources' JSON answers by
** plain text search (the answers are small and of a known shape). */
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "marketdata/import/import_run.h"

enum { JSON_TEXT_MAX = 79,
       JSON_KEY_SIZE = 128 };

/* The text right after "key": (blanks after the colon skipped), or null. */
static const char *FindJsonValue(const char *json, const char *key, const char *after)
{
    if (!json || !key) return nullptr;
    char pattern[JSON_KEY_SIZE];
    int n = FormatText(pattern, sizeof pattern, "\"%s\":%s", key, after);
    const char *p = strstr(json, pattern);
    return p ? p + n : nullptr;
}

int GetJsonText(const char *json, const char *key, char *out)
{
    out[0] = 0;
    const char *p = FindJsonValue(json, key, "");
    if (!p) return 0;
    p = strchr(p, '"');
    if (!p) return 0;
    p++;
    int n = 0;
    while (p[n] && p[n] != '"' && n < JSON_TEXT_MAX) {
        out[n] = p[n];
        n++;
        if (p[n - 1] == '\\') break;
    }
    out[n] = 0;
    return n;
}

double GetJsonNumber(const char *json, const char *key)
{
    const char *p = FindJsonValue(json, key, "");
    if (!p) return 0.0;
    /* The number ends at the next ',', '}' or ']', so the last member of an
    ** object reads as well as any other. */
    size_t n = strcspn(p, ",}]");
    if (!p[n]) return 0.0;
    char number[64];
    CopyString(number, sizeof number, p, (int)(n < sizeof number - 1 ? n : sizeof number - 1));
    return atof(number);
}

/* The first element of the number array of key, or null. */
static const char *FindJsonNumberArray(const char *json, const char *key)
{
    const char *p = FindJsonValue(json, key, "[");
    /* An array of objects under the same key is not the array of numbers. */
    while (p && *p == '{') p = FindJsonValue(p, key, "[");
    return p;
}

int IsJsonArrayNull(const char *json, const char *key, int index)
{
    const char *p = FindJsonNumberArray(json, key);
    for (int k = 0; p && *p && *p != ']'; k++) {
        while (*p == ' ') p++;
        if (k == index) return strncmp(p, "null", 4) == 0;
        p += strcspn(p, ",]");
        if (*p == ',') p++;
    }
    return 0;
}

int GetJsonNumberArray(const char *json, const char *key, double **array, int n)
{
    const char *p = FindJsonNumberArray(json, key);
    if (!p) return 0;
    if (n == 0) {
        const char *end = strchr(p, ']');
        if (!end) return 0;
        n = 1;
        for (const char *q = p; q < end; q++)
            if (*q == ',') n++;
        if (!AllocMemory(array, (uint64_t)n * sizeof(double))) return 0;
    }
    int read = 0;
    while (read < n && *p && *p != ']') {
        while (*p == ' ') p++;
        char *end = nullptr;
        double v = strtod(p, &end);
        if (strncmp(p, "null", 4) == 0) {
            /* A missing value, not a zero. */
            v = NAN;
            end = (char *)p + 4;
        }
        if (end == p) break;
        (*array)[read++] = v;
        p = end;
        while (*p == ' ') p++;
        if (*p == ',') p++;
    }
    return read;
}
