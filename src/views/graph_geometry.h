/* graph_geometry.h -- where a statistics graph puts its periods and values,
** and the value axis rule (step, first label, decimals, label walk).
**
** Owns:       gGraphGeometry, the drawing values set at each paint of a graph:
**             tab strip height, label font metrics, legend height and label
**             width.  The mappings read them.
** Model:      the plot spans from y = G + H/2 + top (the high value) down to
**             y = h - 3.5H + top (the low value); x from the label width Lw.
**             In the log form the axis steps by a factor instead of an addend.
** Errors:     none; an empty or flat range gives one label at mid height.
** Platform:   none; the window code draws what these give.
** Threads:    user-interface thread.
*/
#pragma once
#include <cstdint>

struct GraphGeometry {
    int32_t top;          /* tab strip height; 0 while drawing an image */
    int32_t labelHeight;  /* H */
    int32_t averageWidth; /* A */
    int32_t legendHeight; /* G: (legend rows + 1) x H */
    int32_t labelWidth;   /* Lw: widest value label + 4A */
};
extern GraphGeometry gGraphGeometry;

int32_t GraphXFromIndex(int32_t index, int32_t count, int32_t width);
int32_t GraphYFromValue(double value, double low, double high, int32_t height);

/* The value a point is drawn at: magnitudes below 1e-6 count as 0, and the
** log form takes the logarithm. */
double GraphPlotValue(double value, int32_t logForm);

/* The value axis: step (a factor in the log form) and the power of ten p it
** was rounded to.  integers: every plotted value is a whole number.
** A log-form range narrower than two factor steps (max / min below the
** factor squared, say equity between $0.95M and $1.19M, or any range within
** a doubling) would hold a single label: its axis steps by addends instead,
** as a linear one, its labels still placed on the log mapping. */
struct GraphAxis {
    double step;
    double unit;      /* p */
    int32_t additive; /* 1: the log form's axis steps by addends (above) */
};
GraphAxis GraphAxisStep(double min, double max, int32_t labelRoom, int32_t logForm, int32_t integers);

/* The first label of a line graph (bar graphs start at their base value):
** log form: the base held within [min, max]; linear: 0 when min <= 0, else
** the base held within [min, max] (min itself with a date subset) rounded to
** the nearest multiple of unit. */
double GraphFirstLabel(const GraphAxis *axis, double min, double max, double base, int32_t logForm,
                       int32_t subset);

/* 4, 2 or 0 decimals for the axis labels. */
int32_t GraphLabelDecimals(double step, double first);

/* The label values: from first upward to max, then downward to min (in the
** log form too, so that values below the starting one are labelled).
** Returns the number written (at most capacity). */
int32_t GraphAxisLabels(const GraphAxis *axis, double first, double min, double max, int32_t logForm,
                        double *out, int32_t capacity);
