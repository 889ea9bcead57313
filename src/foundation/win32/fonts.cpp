#include "foundation/win32/fonts.h"

#include <cstring>

#include "foundation/text_match.h"
#include "platform/platform.h"

/* In the order tried: the face every Windows has (and Wine, with its own
** fonts), then the sans faces Linux machines under Wine mostly have. */
static const char *const kFallbackFaces[] = {"Tahoma", "DejaVu Sans", "Liberation Sans", "Noto Sans"};

static int CALLBACK NoteFace(const LOGFONTW *, const TEXTMETRICW *, DWORD, LPARAM found)
{
    *(int *)found = 1;
    return 0; /* one is enough */
}

int HasFontFace(const char *face)
{
    if (!face || !face[0]) return 0;
    LOGFONTW wanted = {};
    wanted.lfCharSet = DEFAULT_CHARSET;
    if (!PlatWideFromText(face, wanted.lfFaceName, LF_FACESIZE)) return 0;
    HDC screen = GetDC(nullptr);
    int found = 0;
    EnumFontFamiliesExW(screen, &wanted, NoteFace, (LPARAM)&found, 0);
    ReleaseDC(nullptr, screen);
    return found;
}

void ChooseFontFace(const char *face, char *out, size_t size)
{
    const char *chosen = face ? face : "";
    if (!HasFontFace(chosen))
        for (const char *fallback : kFallbackFaces)
            if (HasFontFace(fallback)) {
                chosen = fallback;
                break;
            }
    CopyString(out, (int)size, chosen, -1);
}

HFONT CreateNamedFont(const char *face, int heightPixels, int weight)
{
    char chosen[LF_FACESIZE * 4];
    ChooseFontFace(face, chosen, sizeof chosen);
    LOGFONTW font = {};
    font.lfHeight = heightPixels;
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    PlatWideFromTextCut(chosen, font.lfFaceName, LF_FACESIZE);
    return CreateFontIndirectW(&font);
}
