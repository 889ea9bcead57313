/* list_csv.cpp -- CSV text into list rows, and the chart symbol of a row. */
#include "shell/list_csv.h"

#include <cstring>

#include "foundation/text_match.h"

int StripCsvQuotes(char *text, int length)
{
    int n = 0, quoted = 0;
    for (int i = 0; i < length; i++) {
        char c = text[i];
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (c == ',' && quoted) continue;
        text[n++] = c;
    }
    if (n < length) text[n] = 0;
    return n;
}

char *NextCsvLine(char *text, int length, int *pos)
{
    if (*pos >= length) return nullptr;
    char *line = text + *pos;
    int end = *pos;
    while (end < length && text[end] != '\n') end++;
    int next = end < length ? end + 1 : end;
    if (end > *pos && text[end - 1] == '\r') end--;
    text[end] = 0;
    *pos = next;
    return line;
}

int SplitCsvFields(char *line, char **fields, int max)
{
    int count = 0;
    char *p = line;
    while (count < max) {
        fields[count++] = p;
        char *comma = strchr(p, ',');
        if (!comma) break;
        *comma = 0;
        p = comma + 1;
    }
    return count;
}

int IsCsvRowLine(const char *line)
{
    for (; *line; line++)
        if (*line != ' ' && *line != '\t') return 1;
    return 0;
}

void ClassifyCsvHeading(const char *heading, int column, CsvHeaderColumns *columns)
{
    if (CompareNoCase(heading, "kvsym") == 0)
        columns->symbol = column;
    else if (CompareNoCase(heading, "symbol") == 0 && columns->symbol == 0)
        columns->symbol = column;
    else if (CompareNoCase(heading, "exchange") == 0)
        columns->exchange = column;
}

void ChartSymbolForRow(const char *symbol, const char *exchange, char *out, int size)
{
    int n = CopyString(out, size, symbol, 39);
    if (!exchange || !*exchange) return;
    const char *suffix = nullptr;
    if (FindTextNoCase(exchange, "asx"))
        suffix = ".au";
    else if (FindTextNoCase(exchange, "tse") || FindTextNoCase(exchange, "tsx") || FindTextNoCase(exchange, "cse") ||
             FindTextNoCase(exchange, "neo"))
        suffix = ".ca";
    if (!suffix) return;
    const char *dot = strrchr(out, '.');
    if (dot && CompareNoCase(dot, suffix) == 0) return;
    CopyString(out + n, size - n, suffix, -1);
}
