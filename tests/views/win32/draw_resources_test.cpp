/* Drawing resources and PNG images under Wine. */
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "foundation/text_match.h"
#include "foundation/win32/fonts.h"
#include "platform/platform.h"
#include "shell/headless/headless.h"
#include "support/program_state.h"
#include "support/test_support.h"
#include "views/win32/draw_resources.h"
#include "views/win32/png_image.h"

namespace {

/* A 40 x 30 picture: white, a red block at (5..14, 5..9), a blue 3-pixel line. */
HBITMAP MakeTestBitmap()
{
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 40, 30);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    RECT all = { 0, 0, 40, 30 }, block = { 5, 5, 15, 10 };
    FillRect(memory, &all, BrushWhite);
    FillRect(memory, &block, BrushRed);
    SelectObject(memory, PenBlack3);
    MoveToEx(memory, 0, 20, nullptr);
    LineTo(memory, 40, 20);
    SelectObject(memory, old);
    DeleteDC(memory);
    return bitmap;
}

struct DrawResourcesTest : ::testing::Test {
    static void SetUpTestSuite() { CreateDrawingResources(); }
    void SetUp() override { ResetHeadlessShell(); }
};

TEST_F(DrawResourcesTest, SharedObjectsHaveTheirColoursAndWidths)
{
    struct Row {
        HPEN pen;
        COLORREF colour;
        int width;
    } rows[] = {
        { PenWhite, RGB(255, 255, 255), 1 }, { PenRed, RGB(255, 0, 0), 1 },     { PenBlue, RGB(0, 0, 255), 1 },
        { PenDarkBlue, RGB(0, 0, 192), 1 },  { PenMagenta2, RGB(255, 0, 255), 2 }, { PenBlack3, RGB(0, 0, 0), 3 },
    };
    for (const Row &row : rows) {
        LOGPEN pen = {};
        ASSERT_TRUE(GetObjectA(row.pen, sizeof pen, &pen));
        EXPECT_EQ(pen.lopnColor, row.colour);
        EXPECT_EQ(pen.lopnWidth.x, row.width);
    }
    EXTLOGPEN dotted = {};
    ASSERT_TRUE(GetObjectA(DotPenRed, sizeof dotted, &dotted));
    EXPECT_EQ(dotted.elpPenStyle & PS_STYLE_MASK, (DWORD)PS_ALTERNATE);
    EXPECT_EQ(dotted.elpColor, RGB(255, 0, 0));
    LOGBRUSH brush = {};
    ASSERT_TRUE(GetObjectA(BrushGreen, sizeof brush, &brush));
    EXPECT_EQ(brush.lbColor, RGB(0, 128, 0));
}

TEST_F(DrawResourcesTest, StyleSetTakesSavedColoursAndRebuildsOnlyOnRequest)
{
    StyleColourSet saved = {};
    LoadStyleColours(nullptr, &saved, kChartDefaultColours, 2, IndicatorColorKey);
    saved.colours[3] = RGB(1, 2, 3);
    DrawStyleSet set = {};
    CreateChartStyleObjects(&set, &saved, kChartDefaultColours, "Arial", 9);
    EXPECT_EQ(set.styleCount, 10);
    EXPECT_EQ(set.selectionFore, 0xFFFFFFu);
    LOGPEN pen = {};
    ASSERT_TRUE(GetObjectA(set.styles[3].pen, sizeof pen, &pen));
    EXPECT_EQ(pen.lopnColor, RGB(1, 2, 3));
    EXPECT_EQ(pen.lopnWidth.x, 2);
    EXPECT_EQ(CustomColors[3], RGB(1, 2, 3));
    ASSERT_TRUE(GetObjectA(set.styles[0].pen, sizeof pen, &pen));
    EXPECT_EQ(pen.lopnColor, RGB(27, 88, 124));

    /* 9 points at 96 pixels per inch: 12 pixels of character height. */
    LOGFONTA font = {};
    ASSERT_TRUE(GetObjectA(set.boldFont, sizeof font, &font));
    EXPECT_EQ(font.lfHeight, -MulDiv(9, gScreenDpiY, 72));
    EXPECT_EQ(font.lfWeight, 700);
    char face[64];
    ChooseFontFace("Arial", face, sizeof face); /* Arial, where the machine has it */
    EXPECT_STREQ(font.lfFaceName, face);

    /* A changed colour is a value until the rebuild; then pen, brush and the
    ** colours the settings file keeps follow. */
    HPEN before = set.styles[5].pen;
    set.styles[5].colour = RGB(10, 20, 30);
    ASSERT_TRUE(GetObjectA(before, sizeof pen, &pen));
    EXPECT_NE(pen.lopnColor, RGB(10, 20, 30));
    set.penWidth = 1;
    RecreateStylePens(&set);
    ASSERT_TRUE(GetObjectA(set.styles[5].pen, sizeof pen, &pen));
    EXPECT_EQ(pen.lopnColor, RGB(10, 20, 30));
    EXPECT_EQ(pen.lopnWidth.x, 1);
    LOGBRUSH brush = {};
    ASSERT_TRUE(GetObjectA(set.styles[5].brush, sizeof brush, &brush));
    EXPECT_EQ(brush.lbColor, RGB(10, 20, 30));
    EXPECT_EQ(saved.colours[5], RGB(10, 20, 30));
    EXPECT_EQ(saved.lineWidth, 1);
}

/* A face the machine lacks is drawn in the first fallback it has, so text
** measures alike wherever the face is missing; a face it has is kept. */
TEST_F(DrawResourcesTest, AFontIsChosenByNameWithAFallback)
{
    auto faceOf = [](HFONT font) { /* the face the system draws it in */
        HDC dc = CreateCompatibleDC(nullptr);
        HGDIOBJ old = SelectObject(dc, font);
        char face[LF_FACESIZE] = "";
        GetTextFaceA(dc, LF_FACESIZE, face);
        SelectObject(dc, old);
        DeleteDC(dc);
        return std::string(face);
    };
    EXPECT_FALSE(HasFontFace("Kestovar Missing Face"));
    char chosen[64], again[64];
    ChooseFontFace("Kestovar Missing Face", chosen, sizeof chosen);
    ASSERT_TRUE(HasFontFace(chosen)) << chosen;
    ChooseFontFace(chosen, again, sizeof again); /* a face the machine has is kept */
    EXPECT_STREQ(chosen, again);
    LOGFONTA made = {};

    /* A style set keeps the name it was given and draws in the fallback. */
    DrawStyleSet saved = GraphStyleSet;
    CopyString(GraphStyleSet.fontFace, sizeof GraphStyleSet.fontFace, "Kestovar Missing Face", -1);
    GraphStyleSet.normalFont = GraphStyleSet.boldFont = nullptr;
    CreateScaledFonts(&GraphStyleSet);
    EXPECT_STREQ("Kestovar Missing Face", GraphStyleSet.fontFace);
    for (HFONT font : {GraphStyleSet.normalFont, GraphStyleSet.boldFont}) {
        ASSERT_TRUE(GetObjectA(font, sizeof made, &made));
        EXPECT_STREQ(chosen, made.lfFaceName);
        EXPECT_TRUE(HasFontFace(faceOf(font).c_str())) << made.lfFaceName;
    }
    DeleteObject(GraphStyleSet.normalFont);
    DeleteObject(GraphStyleSet.boldFont);
    GraphStyleSet = saved;
}

TEST_F(DrawResourcesTest, SavedPngHoldsThePicture)
{
    std::string path = TestProgramFolder() + "\\draw_resources_test.png";
    DeleteFileA(path.c_str());
    CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
    HBITMAP bitmap = MakeTestBitmap();
    ASSERT_EQ(SaveBitmapImage(bitmap), S_OK);
    DeleteObject(bitmap);
    PngImage png;
    ASSERT_TRUE(ReadPngImage(path, &png));
    EXPECT_EQ(png.width, 40u);
    EXPECT_EQ(png.height, 30u);
    EXPECT_EQ(png.At(0, 0), 0xFFFFFF);
    EXPECT_EQ(png.At(5, 5), 0xFF0000);
    EXPECT_EQ(png.At(14, 9), 0xFF0000);
    EXPECT_EQ(png.At(15, 9), 0xFFFFFF);
    EXPECT_EQ(png.At(20, 20), 0x000000);
    EXPECT_EQ(png.At(20, 17), 0xFFFFFF);
    EXPECT_EQ(GetFileAttributesA((path + ".tmp").c_str()), INVALID_FILE_ATTRIBUTES);
}

/* A picture is saved by way of a temporary file of this save's own: a file
** another writer keeps under the picture's name and ".tmp", held open or
** not, is neither written, removed nor put in place, and nothing else is
** left beside the picture. */
TEST_F(DrawResourcesTest, SavesLeaveAnotherWritersTemporaryAlone)
{
    for (bool held : {false, true}) {
        SCOPED_TRACE(held ? "held" : "not held");
        TempFolder temp;
        const std::string path = temp.File("chart.png"), theirs = path + ".tmp";
        ASSERT_TRUE(WriteTestFile(theirs, "another writer's"));
        HANDLE holder = held ? CreateFileA(theirs.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                             : INVALID_HANDLE_VALUE;
        ASSERT_EQ(held, holder != INVALID_HANDLE_VALUE);
        CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
        HBITMAP bitmap = MakeTestBitmap();
        EXPECT_EQ(SaveBitmapImage(bitmap), S_OK);
        DeleteObject(bitmap);
        if (held) CloseHandle(holder);
        PngImage png;
        ASSERT_TRUE(ReadPngImage(path, &png));
        EXPECT_EQ(png.width, 40u);
        EXPECT_EQ(png.At(5, 5), 0xFF0000);
        EXPECT_EQ(ReadTestFile(theirs), "another writer's");
        EXPECT_EQ(ListTestFolder(temp.path), "chart.png;chart.png.tmp;");
        EXPECT_EQ(gHeadless.messageCount, 0);
    }
}

TEST_F(DrawResourcesTest, FailedSavesLeaveNoFileAndAreReportedOnlyForTheUser)
{
    TempFolder temp;
    /* No bitmap to describe: E_FAIL, nothing written, nothing said. */
    std::string path = temp.File("none.png");
    CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
    EXPECT_EQ(SaveBitmapImage((HBITMAP)GetStockObject(WHITE_BRUSH)), E_FAIL);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(gHeadless.messageCount, 0);

    /* A folder that does not exist: the user's save says so, and the request
    ** is served. */
    path = temp.File("missing\\chart.png");
    CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
    HBITMAP bitmap = MakeTestBitmap();
    EXPECT_TRUE(FAILED(SaveBitmapImage(bitmap)));
    ImageRequest = IMAGE_SAVE_PNG;
    EXPECT_EQ(ServeImageRequest(nullptr, bitmap), 0);
    EXPECT_EQ(ImageRequest, IMAGE_NONE);
    EXPECT_EQ(std::string(LastMessage()), "Unable to create " + path);

    /* A picture the system will not let the new one replace keeps its bytes. */
    path = temp.File("held.png");
    ASSERT_TRUE(WriteTestFile(path, "older picture"));
    CopyString(ImagePath, sizeof ImagePath, path.c_str(), -1);
    PlanOneFault(PLAT_FAULT_RENAME, 0);
    EXPECT_EQ(SaveBitmapImage(bitmap), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    ExpectOneFailedReplace(PLAT_FAULT_RENAME, path, "older picture", temp.path, "held.png;", false);
    DeleteObject(bitmap);
}

} // namespace
