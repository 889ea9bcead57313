/* draw_resources.h -- what every picture shares: the chart and graph style
** sets with their fonts, pens and brushes, the fixed pens and brushes, the
** custom colours of the colour choosers, the image request and the PNG writer.
**
** Owns:       ChartStyleSet, GraphStyleSet (10 styles each), the shared pens
**             and brushes (PenWhite ... BrushRed), CustomColors[16] and
**             BarCustomColors[16], gScreenDpiX/Y, ImageRequest and ImagePath.
** Invariants: after CreateDrawingResources every shared object and every
**             object of the styles in use exists; the shared ones are never
**             deleted, a style set's are replaced only by its own rebuilds.
**             A style set's colours are the ones the settings file keeps
**             (gChartColours, gGraphColours): a rebuild writes them back.
** Errors:     SaveBitmapImage returns an HRESULT and shows nothing; the
**             caller that acts for a user reports a failure.
** Threads:    user-interface thread only.
** Platform:   Windows (GDI, WIC); the Windows build only.
*/
#pragma once
#include <windows.h>

#include <cstdint>

#include "foundation/settings_table.h"
#include "platform/platform.h"

enum {
    DRAW_STYLE_SLOTS = 32,  /* style table entries of a set */
    DRAW_STYLES = 10,       /* styles in use */
    CUSTOM_COLOURS = 16,    /* entries of a colour chooser's custom colours */
    DRAW_FACE_SIZE = 32     /* font face name, with its terminator */
};

/* One style: its colour and the solid brush and pen of that colour.  The
** three words after the colour stay 0; they keep the entry in step with the
** editor's style entries. */
struct DrawStyle {
    COLORREF colour;
    uint32_t bold, italic, reserved;
    HBRUSH brush;
    HPEN pen;
};

/* A chart or graph style set, laid out like the editor's settings, so the
** colour list of the option dialogs can show it as an editor's styles. */
struct DrawStyleSet {
    uint32_t fontSize;           /* label font size in points */
    char fontFace[DRAW_FACE_SIZE];
    HFONT normalFont;            /* weight 400 */
    HFONT boldFont;              /* weight 700 */
    uint32_t selectionFore;      /* 0xFFFFFF */
    uint32_t selectionBackSwitch; /* 0: the editor's default background */
    DrawStyle styles[DRAW_STYLE_SLOTS];
    int32_t styleCount;          /* styles in use: DRAW_STYLES once built */
    uint32_t penWidth;           /* width in pixels of every style pen */
    StyleColourSet *saved;       /* the colours the settings file keeps for this set */
};

/* Chart formula k draws with style k mod 10. */
extern DrawStyleSet ChartStyleSet;
/* Style 0 the combined statistics, style (i mod 9) + 1 strategy series i;
** trade marks of charts take their colours from here too. */
extern DrawStyleSet GraphStyleSet;

/* Custom colours of the colour list's chooser (entries 0..9 hold the last
** built set's colours) and of the chart dialog's up-bar and down-bar buttons. */
extern COLORREF CustomColors[CUSTOM_COLOURS];
extern COLORREF BarCustomColors[CUSTOM_COLOURS];

/* Pixels per logical inch of the screen, read when fonts are made. */
extern int gScreenDpiX, gScreenDpiY;

/* Solid pens are 1 pixel wide unless named otherwise; dotted pens draw every
** other pixel. */
extern HPEN PenWhite, PenBlack, PenLightGrey, PenDarkGrey, PenGreen, PenRed, PenBlue, PenDarkBlue, PenCyan,
    PenMagenta, PenMagenta2, PenBlack3;
extern HPEN DotPenDarkGrey, DotPenLightGrey, DotPenBlue, DotPenCyan, DotPenGreen, DotPenRed;
extern HBRUSH BrushWhite, BrushBlack, BrushLightGrey, BrushDarkGrey, BrushDarkBlue, BrushGreen, BrushRed;

/* What the next paint of a picture window does with its bitmap. */
enum ImageRequestKind {
    IMAGE_REPORT = -2,   /* the statistics graph writes into the open report */
    IMAGE_SAVE_PNG = -1, /* written as PNG at ImagePath */
    IMAGE_NONE = 0,      /* copied to the window */
    IMAGE_CLIPBOARD = 1  /* copied to the clipboard; the window is not updated */
};
extern int32_t ImageRequest;
extern char ImagePath[PATH_SIZE];

/* (Re)creates the set's normal and bold fonts from its size and face at the
** screen's resolution, deleting the old ones. */
void CreateScaledFonts(DrawStyleSet *set);

/* Builds a whole set: the default style entries, the fonts, and per style the
** colour the settings file gave (saved, already read by the settings table),
** its brush and pen; the colours become custom colours 0..9. */
void CreateChartStyleObjects(DrawStyleSet *set, StyleColourSet *saved, const uint32_t *defaults,
                             const char *fontFace, int fontSize);

/* Rebuilds the brushes and pens of every style in use and the fonts, after
** an option dialog changed colours, pen width or font; the colours go back
** to the set's saved colours. */
void RecreateStylePens(DrawStyleSet *set);

/* The shared pens and brushes, then the chart and the graph set from the
** settings.  Called once at start-up; a second call changes nothing shared. */
void CreateDrawingResources();

/* Writes the bitmap to ImagePath as a 24-bit PNG.  Returns S_OK or the first
** failing HRESULT (E_FAIL when the bitmap cannot be described); no file is
** left behind on failure. */
HRESULT SaveBitmapImage(HBITMAP bitmap);

/* Serves a painter's finished memory bitmap as ImageRequest asks, then sets
** ImageRequest back to 0.  Returns 1 when the bitmap is still to be copied
** to the window (no request), 0 after a copy or a save.  A PNG that cannot be
** written is reported ("Unable to create %s") with the result code set. */
int ServeImageRequest(HWND window, HBITMAP bitmap);
