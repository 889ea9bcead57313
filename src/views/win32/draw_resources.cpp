/* draw_resources.cpp -- style sets, shared pens and brushes, and PNG images. */
#include "views/win32/draw_resources.h"
#include "foundation/win32/fonts.h"

#include <wincodec.h>
#undef ReplaceFile /* the file helpers have a record of that name */

#include <cstring>

#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "platform/platform.h"
#include "services/services.h"

DrawStyleSet ChartStyleSet;
DrawStyleSet GraphStyleSet;
COLORREF CustomColors[CUSTOM_COLOURS];
COLORREF BarCustomColors[CUSTOM_COLOURS];
int gScreenDpiX = 96, gScreenDpiY = 96;

HPEN PenWhite, PenBlack, PenLightGrey, PenDarkGrey, PenGreen, PenRed, PenBlue, PenDarkBlue, PenCyan, PenMagenta,
    PenMagenta2, PenBlack3;
HPEN DotPenDarkGrey, DotPenLightGrey, DotPenBlue, DotPenCyan, DotPenGreen, DotPenRed;
HBRUSH BrushWhite, BrushBlack, BrushLightGrey, BrushDarkGrey, BrushDarkBlue, BrushGreen, BrushRed;

int32_t ImageRequest;
char ImagePath[PATH_SIZE];

/* ---- shared pens and brushes ------------------------------------------------------ */

enum SharedKind { SHARED_PEN, SHARED_PEN2, SHARED_PEN3, SHARED_DOT, SHARED_BRUSH };

struct SharedObject {
    void *slot; /* HPEN * or HBRUSH * */
    int kind;   /* SharedKind */
    COLORREF colour;
};

static const SharedObject kSharedObjects[] = {
    { .slot = &PenWhite,        .kind = SHARED_PEN,   .colour = 0xFFFFFF },
    { .slot = &PenBlack,        .kind = SHARED_PEN,   .colour = 0x000000 },
    { .slot = &PenLightGrey,    .kind = SHARED_PEN,   .colour = 0xC0C0C0 },
    { .slot = &PenDarkGrey,     .kind = SHARED_PEN,   .colour = 0x606060 },
    { .slot = &PenGreen,        .kind = SHARED_PEN,   .colour = 0x008000 },
    { .slot = &PenRed,          .kind = SHARED_PEN,   .colour = 0x0000FF },
    { .slot = &PenBlue,         .kind = SHARED_PEN,   .colour = 0xFF0000 },
    { .slot = &PenDarkBlue,     .kind = SHARED_PEN,   .colour = 0xC00000 },
    { .slot = &PenCyan,         .kind = SHARED_PEN,   .colour = 0xFFFF00 },
    { .slot = &PenMagenta,      .kind = SHARED_PEN,   .colour = 0xFF00FF },
    { .slot = &PenMagenta2,     .kind = SHARED_PEN2,  .colour = 0xFF00FF },
    { .slot = &PenBlack3,       .kind = SHARED_PEN3,  .colour = 0x000000 },
    { .slot = &DotPenDarkGrey,  .kind = SHARED_DOT,   .colour = 0x606060 },
    { .slot = &DotPenLightGrey, .kind = SHARED_DOT,   .colour = 0xC0C0C0 },
    { .slot = &DotPenBlue,      .kind = SHARED_DOT,   .colour = 0xFF0000 },
    { .slot = &DotPenCyan,      .kind = SHARED_DOT,   .colour = 0xFFFF00 },
    { .slot = &DotPenGreen,     .kind = SHARED_DOT,   .colour = 0x008000 },
    { .slot = &DotPenRed,       .kind = SHARED_DOT,   .colour = 0x0000FF },
    { .slot = &BrushWhite,      .kind = SHARED_BRUSH, .colour = 0xFFFFFF },
    { .slot = &BrushBlack,      .kind = SHARED_BRUSH, .colour = 0x000000 },
    { .slot = &BrushLightGrey,  .kind = SHARED_BRUSH, .colour = 0xC0C0C0 },
    { .slot = &BrushDarkGrey,   .kind = SHARED_BRUSH, .colour = 0x606060 },
    { .slot = &BrushDarkBlue,   .kind = SHARED_BRUSH, .colour = 0xC00000 },
    { .slot = &BrushGreen,      .kind = SHARED_BRUSH, .colour = 0x008000 },
    { .slot = &BrushRed,        .kind = SHARED_BRUSH, .colour = 0x0000FF },
};

static void CreateSharedObject(const SharedObject *row)
{
    if (row->kind == SHARED_BRUSH) {
        HBRUSH *slot = (HBRUSH *)row->slot;
        if (!*slot) *slot = CreateSolidBrush(row->colour);
        return;
    }
    HPEN *slot = (HPEN *)row->slot;
    if (*slot) return;
    if (row->kind == SHARED_DOT) {
        LOGBRUSH brush = { BS_SOLID, row->colour, 0 };
        *slot = ExtCreatePen(PS_COSMETIC | PS_ALTERNATE, 1, &brush, 0, nullptr);
    } else {
        int width = row->kind == SHARED_PEN3 ? 3 : row->kind == SHARED_PEN2 ? 2 : 1;
        *slot = CreatePen(PS_SOLID, width, row->colour);
    }
}

/* ---- style sets ------------------------------------------------------------------- */

void CreateScaledFonts(DrawStyleSet *set)
{
    HDC screen = GetDC(nullptr);
    if (screen) {
        gScreenDpiX = GetDeviceCaps(screen, LOGPIXELSX);
        gScreenDpiY = GetDeviceCaps(screen, LOGPIXELSY);
        ReleaseDC(nullptr, screen);
    }
    /* The set keeps the face as named; a machine without it draws in the
    ** first fallback it has. */
    const int height = MulDiv((int)set->fontSize, gScreenDpiY, -72);
    if (set->normalFont) DeleteObject(set->normalFont);
    if (set->boldFont) DeleteObject(set->boldFont);
    set->normalFont = CreateNamedFont(set->fontFace, height, FW_NORMAL);
    set->boldFont = CreateNamedFont(set->fontFace, height, FW_BOLD);
}

static void RecreateStyleObjects(DrawStyle *style, uint32_t penWidth)
{
    if (style->brush) DeleteObject(style->brush);
    if (style->pen) DeleteObject(style->pen);
    style->brush = CreateSolidBrush(style->colour);
    style->pen = CreatePen(PS_SOLID, (int)penWidth, style->colour);
}

void CreateChartStyleObjects(DrawStyleSet *set, StyleColourSet *saved, const uint32_t *defaults,
                             const char *fontFace, int fontSize)
{
    for (int i = 0; i < DRAW_STYLES; i++) {
        set->styles[i].colour = defaults[i];
        set->styles[i].bold = set->styles[i].italic = set->styles[i].reserved = 0;
    }
    set->styleCount = DRAW_STYLES;
    set->selectionFore = 0xFFFFFF;
    set->selectionBackSwitch = 0;
    set->saved = saved;
    set->penWidth = saved && saved->lineWidth > 0 ? (uint32_t)saved->lineWidth : 1;
    set->fontSize = fontSize > 0 ? (uint32_t)fontSize : 9;
    CopyString(set->fontFace, sizeof set->fontFace, fontFace, DRAW_FACE_SIZE - 1);
    CreateScaledFonts(set);
    for (int i = 0; i < DRAW_STYLES; i++) {
        if (saved && i < saved->colourCount) set->styles[i].colour = saved->colours[i];
        RecreateStyleObjects(&set->styles[i], set->penWidth);
        CustomColors[i] = set->styles[i].colour;
    }
}

void RecreateStylePens(DrawStyleSet *set)
{
    for (int i = 0; i < set->styleCount; i++) {
        RecreateStyleObjects(&set->styles[i], set->penWidth);
        if (set->saved && i < STYLE_COLOURS) set->saved->colours[i] = set->styles[i].colour;
    }
    if (set->saved) set->saved->lineWidth = (int32_t)set->penWidth;
    CreateScaledFonts(set);
}

void CreateDrawingResources()
{
    for (const SharedObject &row : kSharedObjects) CreateSharedObject(&row);
    CreateChartStyleObjects(&ChartStyleSet, &gChartColours, kChartDefaultColours, gSettings.ChartFont,
                            gSettings.ChartFontHeight);
    CreateChartStyleObjects(&GraphStyleSet, &gGraphColours, kGraphDefaultColours, gSettings.GraphFont,
                            gSettings.GraphFontHeight);
}

/* ---- PNG images ------------------------------------------------------------------- */

/* Encodes the bitmap as a PNG into the memory stream.  Each step runs only
** when every earlier one succeeded; the first failure is the result. */
static HRESULT EncodePng(HBITMAP bitmap, IStream *stream, UINT width, UINT height)
{
    IWICImagingFactory *factory = nullptr;
    IWICBitmap *wicBitmap = nullptr;
    IWICBitmapEncoder *encoder = nullptr;
    IWICBitmapFrameEncode *frame = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  (void **)&factory);
    if (SUCCEEDED(hr)) hr = factory->CreateBitmapFromHBITMAP(bitmap, nullptr, WICBitmapIgnoreAlpha, &wicBitmap);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    if (SUCCEEDED(hr)) hr = frame->WriteSource(wicBitmap, nullptr);
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    if (frame) frame->Release();
    if (encoder) encoder->Release();
    if (wicBitmap) wicBitmap->Release();
    if (factory) factory->Release();
    return hr;
}

/* Writes the stream's bytes to ImagePath the way every file is saved: by a
** temporary file of this save's own, renamed over the picture once whole,
** so a failed save keeps an older picture intact and another program
** saving the same picture never meets this one's temporary file. */
static HRESULT SaveStreamImage(IStream *stream)
{
    STATSTG status;
    HGLOBAL memory = nullptr;
    HRESULT hr = stream->Stat(&status, STATFLAG_NONAME);
    if (SUCCEEDED(hr) && status.cbSize.QuadPart >= 0x80000000ull) hr = E_OUTOFMEMORY;
    if (SUCCEEDED(hr)) hr = GetHGlobalFromStream(stream, &memory);
    if (FAILED(hr)) return hr;
    const void *bytes = GlobalLock(memory);
    if (!bytes) return E_FAIL;
    if (!SaveFileQuietly(ImagePath, bytes, (uint32_t)status.cbSize.QuadPart)) {
        const int code = PlatLastError();
        hr = code ? HRESULT_FROM_WIN32((DWORD)code) : E_FAIL;
    }
    GlobalUnlock(memory);
    return hr;
}

HRESULT SaveBitmapImage(HBITMAP bitmap)
{
    BITMAP description;
    if (!bitmap || GetObjectType(bitmap) != OBJ_BITMAP || !GetObjectA(bitmap, sizeof description, &description))
        return E_FAIL;
    /* The picture is made in memory first: only a whole one is written. */
    IStream *stream = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(nullptr, TRUE, &stream);
    HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(hr)) hr = EncodePng(bitmap, stream, (UINT)description.bmWidth, (UINT)description.bmHeight);
    if (SUCCEEDED(com)) CoUninitialize();
    if (SUCCEEDED(hr)) hr = SaveStreamImage(stream);
    if (stream) stream->Release();
    return hr;
}

/* ---- serving the image request ---------------------------------------------------- */

static void CopyBitmapToClipboard(HWND window, HBITMAP bitmap)
{
    BITMAP description;
    if (!GetObjectA(bitmap, sizeof description, &description)) return;
    /* The clipboard takes its own copy: the painter's bitmap is deleted
    ** after the paint. */
    HDC source = CreateCompatibleDC(nullptr);
    HDC target = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP copy = CreateCompatibleBitmap(screen, description.bmWidth, description.bmHeight);
    ReleaseDC(nullptr, screen);
    if (copy) {
        HGDIOBJ oldSource = SelectObject(source, bitmap);
        HGDIOBJ oldTarget = SelectObject(target, copy);
        BitBlt(target, 0, 0, description.bmWidth, description.bmHeight, source, 0, 0, SRCCOPY);
        SelectObject(source, oldSource);
        SelectObject(target, oldTarget);
    }
    DeleteDC(source);
    DeleteDC(target);
    if (!copy) return;
    if (OpenClipboard(window)) {
        EmptyClipboard();
        if (SetClipboardData(CF_BITMAP, copy)) copy = nullptr;
        CloseClipboard();
    }
    if (copy) DeleteObject(copy);
}

int ServeImageRequest(HWND window, HBITMAP bitmap)
{
    int request = ImageRequest;
    ImageRequest = IMAGE_NONE;
    if (request == IMAGE_CLIPBOARD) {
        CopyBitmapToClipboard(window, bitmap);
        return 0;
    }
    if (request == IMAGE_SAVE_PNG && FAILED(SaveBitmapImage(bitmap))) {
        /* The user asked for this file: a save that wrote nothing says so. */
        ReportError("Unable to create %s", ImagePath);
        SetResultCode(RESULT_FILE_ERROR);
    }
    return request == IMAGE_NONE;
}
