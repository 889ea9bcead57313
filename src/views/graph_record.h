/* graph_record.h -- the record of a statistics graph window: one series per
** listed strategy (and the combined one), the points' dates, the value range
** and the drawing options of the shown Graphs formula.
**
** Owns:       nothing global; a GraphWindow belongs to its window.
** Invariants: pointCount <= pointCapacity; every series' values, order and
**             dates hold pointCapacity entries; combinedIndex is the last
**             series or -1.
** Platform:   none (window handles are kept as void *).
** Threads:    user-interface thread.
*/
#pragma once
#include <cstdint>

struct TestRecord;

enum {
    GRAPH_NAME_SIZE = 80,
    GRAPH_SAVED_FLAGS = 256,
    GRAPH_SHOW_ALL = 999, /* hit id of the legend's "Show All" entry */
    GRAPH_FIRST_VALUE_DATES = 128 /* as many as the test's cache-valid flags */
};

struct GraphSeries {
    double *values;     /* one per point */
    int32_t *order;     /* point indexes by descending value */
    double min, max;    /* start at 1e14 and -1e14 */
    uint32_t shown;
    uint32_t leadCount; /* periods before the formula first had a value */
    char name[GRAPH_NAME_SIZE];
};

struct GraphWindow {
    GraphSeries *series;
    int32_t seriesCount;
    int32_t combinedIndex;  /* the combined series (last), -1 none */
    uint32_t graphType;     /* 0 line, 1 bars */
    uint32_t combinedArea;  /* GraphCombinedArea */
    uint32_t logScale;      /* GraphUseLogScale */
    uint32_t fixedHeight;   /* GraphFixedHeight: range over hidden series too */
    uint32_t effectiveLog;  /* log scale in force for this calculation */
    uint32_t sorted;        /* bars sorted by value */
    uint32_t movingAverage; /* moving averages drawn */
    uint32_t displayFormat, decimals;
    double baseValue;
    int32_t graphIndex, graphCount;
    int32_t movingAverageLength; /* GraphMALen */
    int32_t pointCapacity, pointCount;
    uint32_t cursorShown;
    int32_t cursorIndex, cursorX;
    uint32_t allShown, combinedShown;
    uint8_t savedShown[GRAPH_SAVED_FLAGS];
    uint32_t integers;
    int32_t subsetFirst, subsetLast; /* 0 = open */
    int32_t *dates;
    double min, max;
    double startingValue;
    void *tabs;          /* tab control (HWND) */
    void *resultsWindow; /* owner (HWND) */
    TestRecord *test;
    char title[GRAPH_NAME_SIZE];
    int32_t hasColumn;   /* the shown formula exists (texts print "???" without it) */
    /* The date each Graphs formula first had a value, learnt when this record
    ** evaluated it for firstValueTest: a formula whose values come from the
    ** test's cache needs it to tell lead periods from plotted ones.  0 unknown. */
    const TestRecord *firstValueTest;
    int32_t firstValueDates[GRAPH_FIRST_VALUE_DATES];
};
