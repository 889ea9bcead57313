/* frame_fixture.h -- the window shell under test: the application initialised
** once in a temporary program folder, a new frame for each test, and a watcher
** that answers message boxes and dialogs the way a user would, keeping their
** texts. */
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "marketdata/store/symbols.h"
#include "shell/win32/shell_win32.h"

/* Answers every dialog box of this process: records its title and texts and
** presses the given button (IDOK, IDCANCEL, IDYES, IDNO). */
struct DialogWatcher {
    static void Start();
    static void Answer(int button);
    /* Each dialog is answered only once it has been shown this long (0: at once). */
    static void Delay(int milliseconds);
    static std::vector<std::string> Seen(); /* "title|texts" of each dialog answered */
    static void Clear();
};

struct FrameTest : ::testing::Test {
    static std::string folder;
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;
    /* Handles every waiting message, as the main loop would. */
    static void Pump();
    static int CountChildren(const char *className);
    static std::string File(const std::string &name) { return folder + "\\" + name; }
};

/* Pumps for a while when KV_SCREENSHOT_HOLD names milliseconds, so a
** screenshot of the screen can be taken while the windows show. */
void HoldForScreenshot();
/* Whether column of a list window (or list view) is wide enough for its
** header to draw its whole heading and its sort arrow. */
bool HeadingFits(HWND window, int column);
/* The text of a cell of a list window (or list view). */
std::string Cell(HWND window, int row, int column);
/* A cell and a heading of a list window (or list view) in the system's wide
** letters, as the list view shows them. */
std::wstring WideCell(HWND window, int row, int column);
std::wstring WideHeading(HWND window, int column);
/* The clipboard's wide text ("<none>" when it holds none). */
std::wstring WideClipboard();
/* Clicks a column heading of a list window, as a user sorting by it does. */
void ClickHeader(HWND window, int column);
/* Whether a dialog answered since the last Clear showed text. */
bool SeenText(const char *text);
/* The text of a window's tab. */
std::string TabTitle(HWND window);
/* Whether a window's tab strip spans its client area. */
::testing::AssertionResult TabStripSpans(HWND window, HWND tabs);
/* The text of a menu item found by its command id, and its state. */
std::string MenuItemText(HMENU menu, int id);
bool MenuItemEnabled(HMENU menu, int id);
bool MenuItemChecked(HMENU menu, int id);
/* Whether a command of the frame's menus is enabled once they are brought up
** to date, as opening them does. */
bool FrameMenuEnabled(int id);
/* Whether a toolbar button is enabled. */
bool ButtonEnabled(int id);

/* Loaded symbols, named in sorted order, of 100 daily bars each: bar i of
** symbol s falls on firstDate + (i / 28) months + i % 28 days and opens at
** base + s * step + i % 7 (high 2 above, low 2 below, close 1 above).  The
** store goes back to empty afterwards. */
struct ChartStore {
    std::vector<std::vector<Bar>> bars;
    explicit ChartStore(std::initializer_list<const char *> names = {"AAA", "BBB", "CCC"}, int32_t firstDate = 20230102,
                        double base = 50, double step = 10);
    ~ChartStore();
};
