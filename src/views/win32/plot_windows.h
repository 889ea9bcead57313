/* plot_windows.h -- the trade plot window and the results graph window: MDI
** children of the frame, their keys and commands, and the report plots.
**
** Owns:       one PlotWindow record per trade plot window and one
**             ResGraphWindow record per results graph window (window user
**             data, freed with the window); gPlotReportTarget.
** Threads:    UI thread.
** Platform:   Windows only.
*/
#pragma once
#include <windows.h>

#include "platform/platform.h"

struct PlotWindow;
struct ResGraphWindow;
struct ResultsWindow;
struct TestRecord;

/* Where the report plots go: the report's folder and the writer of its
** page, which appends a text to the page (null: no report). */
struct PlotReportTarget {
    char folder[PATH_SIZE];
    void (*write)(const char *text);
};
extern PlotReportTarget gPlotReportTarget;

/* mode > 0 reuses the first plot window, 0 makes a new one, a negative mode
** writes the five report plots to gPlotReportTarget.  The window, or null. */
HWND OpenTradePlotWindow(void *resultsWindow, TestRecord *test, int mode);
LRESULT CALLBACK TradePlotWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int PlotCommand(HWND window, int commandId);
/* Paints the plot and carries out a pending image request. */
void DrawTradePlot(HWND window, HDC dc, PlotWindow *record);
void TrackPlotCrossHair(HWND window);
PlotWindow *GetPlotRecord(HWND window);

HWND CreateResGraphWindow(ResultsWindow *results);
void UpdateResGraphWindow(HWND window, int valueColumn);
LRESULT CALLBACK ResGraphWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int ResGraphCommand(HWND window, int commandId);
void DrawResultsHeatMap(HWND window, HDC dc, ResGraphWindow *record);
void DrawResultsBarChart(HWND window, HDC dc, ResGraphWindow *record);
ResGraphWindow *GetResGraphRecord(HWND window);
/* Fills the X-Axis (sub-menu 0) and second-variable (sub-menu 1) lists of the
** kind's popup from the graph's variables, with the current ones ticked. */
void BuildOptGraphAxisMenu(HMENU popup, const ResGraphWindow *record);

/* The options dialogs: the plot's modeless one (one per plot window) and the
** results graph's modal one. */
INT_PTR CALLBACK TradePlotOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void UpdatePlotOptionsDialog(HWND dialog);
HWND GetPlotOfOptionsDialog(HWND dialog);
/* Opens the plot window's options dialog or brings it to the front. */
void ShowPlotOptions(HWND window);
INT_PTR CALLBACK ResGraphOptionsDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void UpdateResGraphOptions(HWND dialog, int variableCount);
