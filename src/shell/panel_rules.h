/* panel_rules.h -- the settings panel's rules that need no window: the date
** list of a bar size, clamping the date range to the loaded data and the
** range a typed bar count gives, which controls are enabled, and whether the
** named data file is the loaded one.  The window side (win32/settings_panel.cpp)
** reads and writes the controls around them.
**
** Reads:      gStore's master date lists and loaded path.
** Threads:    UI thread; no state of its own.
*/
#pragma once
#include <cstdint>

#include "marketdata/store/data_load.h" /* DataFileNameDiffers, for the Load button */

struct DateList;

/* The master date list of bar size 0..4 (daily .. yearly); any other size
** gives the daily list. */
const DateList *PanelDateList(int barSize);

/* UpdateBarCount's arithmetic: the first date rises to the first date of its
** period of the list's first date, the last date falls to the list's last
** date; returns the trading days between them on the list, both ends counted. */
int ClampPanelRange(int barSize, int32_t *firstDate, int32_t *lastDate);

/* A typed bar count n (above 0) on the bar size's list: with the first date
** fixed the last date becomes n - 1 periods after it, else the first date
** becomes n - 1 periods before the last date.  0 (nothing moved) for n < 1. */
int RangeFromBarCount(int barSize, int32_t n, int firstFixed, int32_t *firstDate, int32_t *lastDate);

/* The panel's control groups, each enabled by one rule. */
enum PanelGroup {
    PANEL_GROUP_IDLE = 0,       /* every control that only needs an idle program */
    PANEL_GROUP_FIRST_DATE = 1, /* first-date picker */
    PANEL_GROUP_LAST_DATE = 2,  /* last-date picker */
    PANEL_GROUP_BAR_COUNT = 3,  /* bar-count edit and its spin */
    PANEL_GROUP_LOAD = 4,       /* Load button */
    PANEL_GROUP_COUNT = 5
};
/* Whether a group is enabled for the run state, the two check boxes and
** whether the named data file differs from the loaded one. */
int IsPanelGroupEnabled(int group, int runState, int earliest, int latest, int nameChanged);

/* One control of the panel as laid out in its resource, in pixels. */
struct PanelBox {
    int32_t left, top, width, height;
    int32_t glued; /* 1: moves with the control before it (a label's field, a spin's buddy) */
};

/* Places the panel's controls for a panel width.  The controls come row by
** row, left to right (a control left of the one before it starts a row).
** A row keeps its places while its controls end within width - margin; the
** first control that would cross that edge, with the ones glued to it and
** the rest of the row, goes to a new row below, starting at the row's left
** and keeping the gaps between them, and every later row moves down one row
** pitch.  Writes count boxes to placed; returns the height the panel needs
** (height, plus one pitch for each row added). */
int32_t WrapPanelRows(const PanelBox *boxes, int32_t count, int32_t width, int32_t height, int32_t margin,
                      PanelBox *placed);
