/* list_sort.cpp -- sort keys, cell comparison, find order and selection rules
** of the list windows. */
#include "foundation/list_sort.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "foundation/dates.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"

void UpdateSortKeyState(int column, int shift, uint8_t priorities[LIST_SORT_COLUMNS],
                        uint8_t directions[LIST_SORT_COLUMNS])
{
    if (column < 0 || column >= LIST_SORT_COLUMNS) return;
    if (shift) {
        if (priorities[column]) {
            directions[column] = directions[column] ? 0 : 1;
            return;
        }
        int highest = 0;
        for (int c = 0; c < LIST_SORT_COLUMNS; c++)
            if (priorities[c] > highest) highest = priorities[c];
        priorities[column] = (uint8_t)(highest < 255 ? highest + 1 : 255);
        directions[column] = 0;
        return;
    }
    int wasKey = priorities[column] != 0;
    uint8_t direction = wasKey ? (uint8_t)(directions[column] ? 0 : 1) : 0;
    memset(priorities, 0, LIST_SORT_COLUMNS);
    memset(directions, 0, LIST_SORT_COLUMNS);
    priorities[column] = 1;
    directions[column] = direction;
}

int SortArrowImage(uint8_t priority, uint8_t direction)
{
    if (priority < 1 || priority > LIST_ARROW_KEYS) return 0;
    return priority + (direction ? LIST_ARROW_KEYS : 0);
}

/* A cell counts as a date only when it is nothing but one: eight digits, or
** three runs of digits split by the same '/', '-' or '.', which ParseDate then
** has to accept.  A cell such as "3.5" or "12-4" stays a number. */
static int IsWholeDate(const char *text, char *trimmed, int size)
{
    while (*text == ' ' || *text == '\t') text++;
    int n = CopyString(trimmed, size, text, -1);
    while (n > 0 && (trimmed[n - 1] == ' ' || trimmed[n - 1] == '\t')) trimmed[--n] = 0;
    if (n == 0) return 0;
    int digits = 0, runs = 0, separators = 0;
    char separator = 0;
    for (int i = 0; i < n; i++) {
        char c = trimmed[i];
        if (c >= '0' && c <= '9') {
            if (i == 0 || !(trimmed[i - 1] >= '0' && trimmed[i - 1] <= '9')) runs++;
            digits++;
        } else if (c == '/' || c == '-' || c == '.') {
            if (separator && c != separator) return 0;
            separator = c;
            separators++;
            if (i == 0 || i == n - 1) return 0;
        } else {
            return 0;
        }
    }
    if (separators == 0 && !(digits == 8 && runs == 1)) return 0;
    if (separators != 0 && !(separators == 2 && runs == 3)) return 0;
    return ParseDate(trimmed) != 0;
}

double ParseListNumber(const char *text)
{
    char cell[LIST_CELL_SIZE];
    if (IsWholeDate(text, cell, sizeof cell)) return (double)ParseDate(cell);
    char number[LIST_CELL_SIZE];
    int n = 0, percent = 0, negative = 0;
    for (const char *p = text; *p && n < (int)sizeof number - 1; p++) {
        if (*p == '%') percent = 1;
        if (*p == '(') negative = 1;
        if (*p == '$' || *p == '%' || *p == '(' || *p == ')' || *p == ',') continue;
        number[n++] = *p;
    }
    number[n] = 0;
    const char *start = number;
    while (*start == ' ' || *start == '\t') start++;
    char *end = nullptr;
    double value = strtod(start, &end);
    if (end == start) value = 0.0;
    if (percent) value /= 100.0;
    if (negative) value = -value;
    return value;
}

static int HoldsLetter(const char *text, size_t max = (size_t)-1)
{
    for (; *text && max > 0; text++, max--)
        if (isalpha((unsigned char)*text)) return 1;
    return 0;
}

int CompareListCells(const char *a, const char *b)
{
    if (!HoldsLetter(a) && !HoldsLetter(b)) return CompareDouble(ParseListNumber(a), ParseListNumber(b));
    int r = CompareNoCase(a, b);
    return r < 0 ? -1 : r > 0 ? 1
                              : 0;
}

int CompareListRows(int rowA, int rowB, int columnCount, const uint8_t *priorities, const uint8_t *directions,
                    ListCellReader read, void *user)
{
    int n = columnCount < LIST_SORT_COLUMNS ? columnCount : LIST_SORT_COLUMNS;
    if (n < 1) return 0;
    for (int p = 1; p <= n; p++) {
        int column = -1;
        for (int c = 0; c < n; c++)
            if (priorities[c] == p) {
                column = c;
                break;
            }
        if (column < 0) return 0;
        char a[LIST_CELL_SIZE], b[LIST_CELL_SIZE];
        read(user, rowA, column, a, sizeof a);
        read(user, rowB, column, b, sizeof b);
        int r = CompareListCells(a, b);
        if (r) return directions[column] ? -r : r;
    }
    return 0;
}

int SortListOrder(int32_t *order, int count, int columnCount, const uint8_t *priorities, const uint8_t *directions,
                  ListCellSource text, void *user)
{
    const int n = columnCount < LIST_SORT_COLUMNS ? columnCount : LIST_SORT_COLUMNS;
    /* The key columns in priority order, up to the first priority no column has. */
    std::vector<int> keys;
    for (int p = 1; p <= n; p++) {
        int column = -1;
        for (int c = 0; c < n && column < 0; c++)
            if (priorities[c] == p) column = c;
        if (column < 0) break;
        keys.push_back(column);
    }
    if (keys.empty() || count < 2) return 1;
    /* A cell's text, whether it holds a letter and the number it stands for,
    ** once per key and row (rows by number). */
    struct Key {
        const char *text;
        double number;
        int letter;
    };
    int rows = 0;
    for (int i = 0; i < count; i++)
        if (order[i] >= rows) rows = order[i] + 1;
    std::vector<Key> cells;
    try {
        cells.resize((size_t)rows * keys.size());
    } catch (...) {
        return 0;
    }
    const size_t longest = LIST_CELL_SIZE - 1;
    for (int i = 0; i < count; i++) {
        const int row = order[i];
        for (size_t k = 0; k < keys.size(); k++) {
            Key &key = cells[(size_t)row * keys.size() + k];
            key.text = text(user, row, keys[k]);
            if (!key.text) key.text = "";
            key.letter = HoldsLetter(key.text, longest);
            key.number = key.letter ? 0 : ParseListNumber(key.text);
        }
    }
    std::stable_sort(order, order + count, [&](int32_t a, int32_t b) {
        for (size_t k = 0; k < keys.size(); k++) {
            const Key &x = cells[(size_t)a * keys.size() + k], &y = cells[(size_t)b * keys.size() + k];
            int r;
            if (!x.letter && !y.letter) {
                r = CompareDouble(x.number, y.number);
            } else {
                r = CompareNoCaseN(x.text, y.text, longest);
                r = r < 0 ? -1 : r > 0 ? 1 : 0;
            }
            if (r) return (directions[keys[k]] ? -r : r) < 0;
        }
        return false;
    });
    return 1;
}

int SelectionPlaceOf(int count, int selected)
{
    if (count <= 0) return SELECTION_EMPTY;
    if (selected < 0 || selected >= count) return SELECTION_NONE;
    if (count == 1) return SELECTION_ONLY;
    if (selected == 0) return SELECTION_FIRST;
    if (selected == count - 1) return SELECTION_LAST;
    return SELECTION_MIDDLE;
}

int FindListRow(int count, int selected, ListRowMatcher matches, void *user)
{
    if (selected < 0 || selected >= count) {
        for (int row = 0; row < count; row++)
            if (matches(user, row)) return row;
        return -1;
    }
    for (int row = selected + 1; row < count; row++)
        if (matches(user, row)) return row;
    /* With the first row selected the wrap reaches it last; any other
    ** selected row is left out. */
    int last = selected == 0 ? 0 : selected - 1;
    for (int row = 0; row <= last; row++)
        if (matches(user, row)) return row;
    return -1;
}

int CellHoldsText(const char *cell, const char *text)
{
    return text && *text && FindTextNoCase(cell, text) != nullptr;
}

int RemoveSeparators(char *cell, char separator)
{
    int n = 0;
    for (char *p = cell; *p; p++)
        if (*p != separator) cell[n++] = *p;
    cell[n] = 0;
    return n;
}

int ListSelectionKeys(int count, int wrap, int rowCount, int selected, int *keys, int max)
{
    int n = 0;
    if (count == -99999) {
        if (max > 0) keys[n++] = LIST_KEY_HOME;
        return n;
    }
    if (count == 99999) {
        if (max > 0) keys[n++] = LIST_KEY_END;
        return n;
    }
    int presses = count < 0 ? -count : count;
    for (int i = 0; i < presses && n < max; i++) {
        if (count > 0) {
            if (wrap && selected == rowCount - 1) {
                keys[n++] = LIST_KEY_HOME;
                selected = 0;
            } else {
                keys[n++] = LIST_KEY_DOWN;
                if (selected < rowCount - 1) selected++;
            }
        } else {
            if (wrap && selected == 0) {
                keys[n++] = LIST_KEY_END;
                selected = rowCount - 1;
            } else {
                keys[n++] = LIST_KEY_UP;
                if (selected > 0) selected--;
            }
        }
    }
    return n;
}

int PlaceLayoutControl(const LayoutRect *saved, int move, int stretch, int dx, int dy, LayoutRect *out)
{
    if (dx < 0 || dy < 0 || (!move && !stretch)) return 0;
    *out = *saved;
    if (move) out->left += dx;
    if (stretch) {
        out->width += dx;
        out->height += dy;
    }
    return 1;
}
