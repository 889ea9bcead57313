/* plot_paint.h -- painting of trade plots and results graphs into a device
** context, apart from their windows, so that reports and tests draw the same
** pictures without a frame.
**
** Owns:       nothing; fonts, pens and brushes live for one painting.
** Threads:    UI thread.
** Platform:   Windows only.
*/
#pragma once
#include <windows.h>

#include <cstdint>

struct PlotWindow;
struct ResGraphWindow;

enum { PLOT_REPORT_WIDTH = 1200,
       PLOT_REPORT_HEIGHT = 800 };

/* The colours of the pictures, 0x00BBGGRR. */
enum : uint32_t {
    PLOT_BLACK = 0x000000,
    PLOT_WHITE = 0xFFFFFF,
    PLOT_GREEN = 0x008000,
    PLOT_RED = 0x0000FF,
    PLOT_DARK_GREY = 0x606060,
    PLOT_LIGHT_GREY = 0xC0C0C0,
    PLOT_MAGENTA = 0xFF00FF,
    PLOT_DARK_BLUE = 0xC00000,
    PLOT_CROSS_HAIR_BACK = 0xF0F0F0
};

/* The whole trade plot, white background first, into dc of width by height;
** the record's pixel and flag buffers receive the drawn points.  Active
** says whether the cross hair may show.  0 when nothing but the background
** could be drawn. */
int RenderTradePlot(PlotWindow *record, HDC dc, int width, int height, int active);

/* The results graph in its mode into dc; top is the tab strip's height (0
** while an image is made). */
int RenderResultsHeatMap(ResGraphWindow *record, HDC dc, int width, int height, int top);
int RenderResultsBarChart(ResGraphWindow *record, HDC dc, int width, int height, int top);

/* A 32-bit top-down bitmap of the size selected into a new memory DC; bits
** points at its pixels.  ReleasePictureDC frees both. */
struct PictureDC {
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
    uint32_t *bits;
    int width, height;
};
int CreatePictureDC(PictureDC *picture, HDC reference, int width, int height);
void ReleasePictureDC(PictureDC *picture);
/* The pixel as 0x00BBGGRR, or 0xFFFFFFFF outside the picture. */
uint32_t PicturePixel(const PictureDC *picture, int x, int y);

/* Writes a black label with its top at y, centred under x and moved in only
** as far as it takes to lie whole between the pixels left and right (an axis
** label at either end would otherwise be cut or struck through). */
void CentredLabel(HDC dc, int x, int y, const char *text, int left, int right);
