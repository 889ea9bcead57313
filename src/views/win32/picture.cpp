/* picture.cpp -- the memory pictures plots and graphs paint into: 32-bit
** bitmaps whose pixels can be read back, and the labels they share. */
#include <cstring>

#include "foundation/win32/window_text.h"
#include "views/win32/plot_paint.h"

int CreatePictureDC(PictureDC *picture, HDC reference, int width, int height)
{
    memset(picture, 0, sizeof *picture);
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; /* top-down rows */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    picture->dc = CreateCompatibleDC(reference);
    if (!picture->dc) return 0;
    picture->bitmap = CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!picture->bitmap) {
        DeleteDC(picture->dc);
        picture->dc = nullptr;
        return 0;
    }
    picture->old = SelectObject(picture->dc, picture->bitmap);
    picture->bits = (uint32_t *)bits;
    picture->width = width;
    picture->height = height;
    return 1;
}

void ReleasePictureDC(PictureDC *picture)
{
    if (picture->dc) {
        SelectObject(picture->dc, picture->old);
        DeleteDC(picture->dc);
    }
    if (picture->bitmap) DeleteObject(picture->bitmap);
    memset(picture, 0, sizeof *picture);
}

uint32_t PicturePixel(const PictureDC *picture, int x, int y)
{
    if (!picture->bits || x < 0 || y < 0 || x >= picture->width || y >= picture->height) return 0xFFFFFFFF;
    GdiFlush();
    uint32_t p = picture->bits[size_t(y) * size_t(picture->width) + size_t(x)]; /* 0x00RRGGBB in memory order */
    return ((p & 0xFF) << 16) | (p & 0xFF00) | ((p >> 16) & 0xFF);
}

void CentredLabel(HDC dc, int x, int y, const char *text, int left, int right)
{
    const SIZE size = TextExtentWide(dc, text);
    const int highest = right - (size.cx + 1) / 2, lowest = left + size.cx / 2;
    if (x > highest) x = highest;
    if (x < lowest) x = lowest;
    SetTextAlign(dc, TA_CENTER | TA_TOP);
    SetTextColor(dc, PLOT_BLACK);
    DrawTextWide(dc, x, y, text);
}
