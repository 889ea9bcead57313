/* chart_record.h -- the part of a chart window's record that evaluations read.
**
** Owns:       the ChartWindow fields that the value getters and parameter
**             references read when an evaluation belongs to a chart (the
**             context's chart pointer): the symbol shown, how the chart was
**             opened, its bar size, and the values of its Charts columns once
**             the chart has calculated them.  The chart window code keeps its
**             own drawing state after these fields.
** Layer:      below the script language, whose value getters read it; the
**             views fill it.
** Invariants: indicators is null until the chart has calculated its Charts
**             columns; then it holds indicatorCount arrays, array k with one
**             value per bar of symbol at barSize.
** Threads:    filled by the chart window on the user-interface thread;
**             evaluations for that chart only read it.
*/
#pragma once
#include <cstdint>

struct SymbolRecord;
struct FormulaColumn;

/* How a chart window was opened. */
enum ChartKind {
    CHART_KIND_SYMBOL = 0, /* a symbol opened by the user */
    CHART_KIND_SCAN = 1,   /* a chart opened on a scan row */
    CHART_KIND_TRADE = 2,  /* a chart opened on a trade of a test */
    CHART_KIND_COMPARE = 3 /* a chart opened on a compare row */
};

/* The pane a Charts column is drawn in. */
enum ChartPane {
    CHART_PANE_STATUS = -1, /* status line only */
    CHART_PANE_PRICE = 0,
    CHART_PANE_INDICATOR = 1,
    CHART_PANE_VOLUME = 2
};

/* A pixel position; the window code converts to its own point type. */
struct ChartPoint {
    int32_t x;
    int32_t y;
};

/* One Charts column of a chart, in the order of the script's Charts section. */
struct ChartSeries {
    ChartPoint *points;     /* pixel position per bar, filled by painting for visible bars */
    double *values;         /* value per bar of the symbol at the chart's bar size; NaN on failure */
    double min, max;        /* over all bars; start 1e14 and -1e14 */
    uint32_t integers;      /* 1 while every value is a whole number */
    uint32_t valueFormat;   /* result format: 1 price-like, 2 share-count-like */
    uint32_t capacity;      /* length of points and values */
    int32_t pane;           /* ChartPane */
    uint32_t displayFormat; /* FormatNumber code; 0 = not drawn */
    uint32_t decimals;
    char name[80];
};

struct ChartWindow {
    SymbolRecord *symbol;   /* the symbol shown */
    int32_t kind;           /* ChartKind */
    int32_t barSize;        /* BarSize of the bars shown */
    double **indicators;    /* one value array per Charts column; null until calculated */
    int32_t indicatorCount; /* arrays in indicators */
    /* The view: visible bars of the symbol's bar array at barSize.  With no
    ** bars at all, barCount is 0, firstBar 0 and lastBar -1. */
    int32_t firstDate, lastDate;
    int32_t firstBar, lastBar, barCount;
    double priceMin, priceMax;
    double indicatorMin, indicatorMax;
    double volumeMin, volumeMax;
    uint32_t showCursor; /* bar cursor shown */
    int32_t cursorSlot;  /* visible slot of the bar cursor */
    int32_t visibleBars; /* the remembered zoom */
    uint32_t logScale;
    uint32_t splitAdjusted;
    ChartSeries *series; /* one row per Charts formula */
    int32_t seriesCount, seriesCapacity;
    uint32_t anyIndicatorSeries, anyVolumeSeries;

    /* ---- the window's own state, after what evaluations read ---- */
    void *tradeLink;              /* kind 1 the scan row, 2 the TradeRecord, 3 the compare row */
    void *window;                 /* the chart window (HWND) */
    void *owner;                  /* the window that opened the chart, or null */
    struct TestRecord *ownerTest; /* the owner's test (trade and compare charts), or null */
    int32_t cursorX;              /* x of the bar cursor, set by painting */
    int32_t mouseX, mouseY;       /* last cross-hair point, (-1, -1) none */
    double crossValue;            /* value under the mouse in its pane */
    int32_t crossBar;             /* bar under the mouse, -1 none */
    FormulaColumn *statusFormula;        /* the Charts formula of the status line, or null */
    int32_t indicatorPaneHeight;  /* pixels, set by painting */
    int32_t volumePaneHeight;
    int32_t loadedBarSize;        /* bar size the view indexes refer to */
    /* Options, bound to the program-wide defaults (LoadChartDefaults). */
    uint32_t candlestick;
    uint32_t showIndicatorPane;
    int32_t indicatorPanePercent;
    uint32_t showVolumePane;
    int32_t volumePanePercent;
    uint32_t crossHair;
    uint32_t blackBackground;
    uint32_t entryExitLine;
    uint32_t showOtherTrades;
    int32_t extraBars;
    uint32_t afterExit;
    uint32_t wheelScroll;
    uint32_t upColour, downColour; /* COLORREF */
    void *upBrush, *downBrush;     /* made at the first paint, deleted with the window */
    void *upPen, *downPen;
    int32_t draggingDivider;       /* ChartDivider being dragged, 0 none */
};
