#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <string>
#include <vector>

#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/settings_dialog.h"
#include "foundation/win32/window_text.h"
#include "shell/headless/headless.h"
#include "services/services.h"

namespace {

/* ---- an in-memory dialog template --------------------------------------------------------- */

enum : WORD { CLS_BUTTON = 0x80,
              CLS_EDIT = 0x81,
              CLS_COMBO = 0x85 };

struct DialogBuilder {
    std::vector<WORD> words;
    int items = 0;
    DialogBuilder()
    {
        Dword(WS_POPUP | WS_VISIBLE);
        Dword(0);
        words.push_back(0); /* item count, patched */
        for (int i = 0; i < 4; i++) words.push_back(i < 2 ? 0 : 400);
        words.push_back(0); /* no menu */
        words.push_back(0); /* standard class */
        words.push_back(0); /* no title */
    }
    void Dword(DWORD v)
    {
        words.push_back(LOWORD(v));
        words.push_back(HIWORD(v));
    }
    void Text(const char *s)
    {
        while (*s) words.push_back((WORD)(unsigned char)*s++);
        words.push_back(0);
    }
    void Item(WORD id, DWORD style, WORD atom, const char *className = nullptr)
    {
        if (words.size() % 2) words.push_back(0);
        Dword(style | WS_CHILD | WS_VISIBLE);
        Dword(0);
        words.push_back(0);
        words.push_back((WORD)(items * 10));
        words.push_back(100);
        words.push_back(atom == CLS_COMBO ? 80 : 10);
        words.push_back(id);
        if (className) {
            Text(className);
        } else {
            words.push_back(0xFFFF);
            words.push_back(atom);
        }
        Text("");
        words.push_back(0); /* no creation data */
        items++;
        words[4] = (WORD)items;
    }
};

int gExchangeSeenDuringChange = -1;

INT_PTR CALLBACK TestDialogProc(HWND, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == 130)
        gExchangeSeenDuringChange = SettingsExchangeActive;
    return FALSE;
}

/* ---- a table with one row of every type that has a control ---------------------------------- */

struct Vars {
    int32_t b, radio, word, optvar, rescol, graphcol, strat, i;
    uint32_t colour;
    double autoDouble, fixedDouble;
    char text[16];
    char editor[64];
    int32_t date, time;
    char comboText[16];
    char path[PATH_SIZE];
    char hist[SETTING_HISTORY_TEXT_SIZE];
    int32_t list[3];
    int32_t other;
    char pathHistory[SETTING_HISTORY_SIZE];
    char textHistory[SETTING_HISTORY_SIZE];
} v;

const char *const kWords[] = {"Daily", "Weekly", "Monthly", nullptr};

/* clang-format off */
const SettingEntry kRows[] = {
/*    section  key           default dialog ctl  type            variable         extra */
    { "T", "B",          "0", 900, 101, ST_BOOL,        &v.b,           {} },
    { "T", "Radio",      "0", 900, 110, ST_RADIO,       &v.radio,       {} },
    { "T", "Word",       "0", 900, 120, ST_WORD,        &v.word,        {.words = kWords} },
    { "T", "OptVar",     "0", 900, 121, ST_OPTVAR,      &v.optvar,      {} },
    { "T", "ResCol",     "0", 900, 122, ST_RESCOL,      &v.rescol,      {} },
    { "T", "GraphCol",   "0", 900, 123, ST_GRAPHCOL,    &v.graphcol,    {} },
    { "T", "Strat",      "0", 900, 124, ST_STRAT,       &v.strat,       {} },
    { "T", "I",          "0", 900, 130, ST_INT,         &v.i,           {} },
    { "T", "Colour",     "0", 900, 131, ST_COLOR,       &v.colour,      {} },
    { "T", "AutoD",      "0", 900, 132, ST_DOUBLE,      &v.autoDouble,  {} },
    { "T", "FixedD",     "0", 900, 133, ST_DOUBLE,      &v.fixedDouble, {.n = 2} },
    { "T", "Text",       "",  900, 140, ST_TEXT,        v.text,         {.n = sizeof v.text} },
    { "T", "Editor",     "",  900, 141, ST_EDITOR_TEXT, v.editor,       {.n = sizeof v.editor} },
    { "T", "Date",       "0", 900, 150, ST_DATE,        &v.date,        {} },
    { "T", "Time",       "0", 900, 151, ST_TIME,        &v.time,        {} },
    { "T", "ComboText",  "",  900, 160, ST_COMBO_TEXT,  v.comboText,    {.n = sizeof v.comboText} },
    { "T", "Path",       "",  900, 170, ST_PATH,        v.path,         {.history = v.pathHistory} },
    { "T", "Hist",       "",  900, 171, ST_HISTORY,     v.hist,         {.history = v.textHistory} },
    { "T", "List",       "",  900, 0,   ST_INT_LIST,    v.list,         {.n = 3} },
    { "T", "Elsewhere",  "0", 901, 101, ST_BOOL,        &v.other,       {} },
    { nullptr, nullptr, nullptr, 0, 0, 0, nullptr, {} },
};
/* clang-format on */

int ListSource(uint32_t type, int index, char *out, int size)
{
    if (index >= 2) return 0;
    FormatText(out, (size_t)size, "%s %d", type == ST_RESCOL ? "Col" : type == ST_GRAPHCOL ? "Graph"
                                                                                           : "Strategy",
               index);
    return 1;
}

struct SettingsDialogTest : ::testing::Test {
    HWND dialog = nullptr;
    ProgramSettings savedSettings = gSettings;
    void SetUp() override
    {
        INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_DATE_CLASSES};
        InitCommonControlsEx(&icc);
        memset(&v, 0, sizeof v);
        ResetHeadlessShell();
        gSettingListSource = ListSource;
        DialogBuilder b;
        b.Item(101, BS_AUTOCHECKBOX, CLS_BUTTON);
        b.Item(110, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, CLS_BUTTON);
        b.Item(111, BS_AUTORADIOBUTTON, CLS_BUTTON);
        b.Item(112, BS_AUTORADIOBUTTON, CLS_BUTTON);
        b.Item(113, BS_AUTOCHECKBOX, CLS_BUTTON); /* ends the group */
        for (WORD id : {120, 121, 122, 123, 124, 160}) b.Item(id, CBS_DROPDOWNLIST | WS_VSCROLL, CLS_COMBO);
        for (WORD id : {130, 131, 132, 133, 140}) b.Item(id, ES_AUTOHSCROLL, CLS_EDIT);
        b.Item(141, ES_MULTILINE | ES_AUTOVSCROLL, CLS_EDIT);
        b.Item(150, DTS_SHORTDATEFORMAT, 0, "SysDateTimePick32");
        b.Item(151, DTS_TIMEFORMAT, 0, "SysDateTimePick32");
        for (WORD id : {170, 171}) b.Item(id, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL, CLS_COMBO);
        b.Item(1153, ES_AUTOHSCROLL, CLS_EDIT);
        b.Item(1094, CBS_DROPDOWNLIST | WS_VSCROLL, CLS_COMBO);
        dialog = CreateDialogIndirectParamA(GetModuleHandleA(nullptr), (LPCDLGTEMPLATEA)b.words.data(), nullptr,
                                            TestDialogProc, 0);
        ASSERT_NE(dialog, nullptr) << GetLastError();
        for (const char *s : {"alpha", "beta", "gamma"})
            SendDlgItemMessageA(dialog, 160, CB_ADDSTRING, 0, (LPARAM)s);
        for (const char *s : {"x", "y", "z"}) SendDlgItemMessageA(dialog, 121, CB_ADDSTRING, 0, (LPARAM)s);
    }
    void TearDown() override
    {
        if (dialog) DestroyWindow(dialog);
        gSettingListSource = nullptr;
        gSettings = savedSettings;
        ResetHeadlessShell();
    }
    std::string TextOf(int id)
    {
        char text[512] = "";
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }
    int Sel(int id) { return (int)SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0); }
    int Count(int id) { return (int)SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0); }
    std::string Entry(int id, int i)
    {
        char text[512] = "";
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, (WPARAM)i, (LPARAM)text);
        return text;
    }
    int Checked(int id) { return (int)IsDlgButtonChecked(dialog, id); }
};

} // namespace

TEST_F(SettingsDialogTest, ListsLimitsAndPictures)
{
    std::string history;
    for (int i = 0; i < 12; i++) history += "entry" + std::to_string(i) + (i < 11 ? "\n" : "");
    CopyString(v.textHistory, sizeof v.textHistory, history.c_str(), -1);
    FillDialogListsRows(kRows, dialog, 900);
    EXPECT_EQ(Count(120), 3);
    EXPECT_EQ(Entry(120, 2), "Monthly");
    EXPECT_EQ(Count(121), 3); /* filled by its window, left alone */
    EXPECT_EQ(Count(122), 2);
    EXPECT_EQ(Entry(122, 1), "Col 1");
    EXPECT_EQ(Entry(123, 0), "Graph 0");
    EXPECT_EQ(Entry(124, 1), "Strategy 1");
    EXPECT_EQ(SendDlgItemMessageA(dialog, 140, EM_GETLIMITTEXT, 0, 0), 15);
    EXPECT_EQ(Count(171), HISTORY_SHOWN);
    EXPECT_EQ(Entry(171, 0), "entry0");
    /* no test: the lists of types 4 to 6 come out empty, not stale */
    gSettingListSource = nullptr;
    FillDialogListsRows(kRows, dialog, 900);
    EXPECT_EQ(Count(122), 0);
}

TEST_F(SettingsDialogTest, VariablesShowInTheirControls)
{
    FillDialogListsRows(kRows, dialog, 900);
    v.b = 1;
    v.radio = 2;
    v.word = 1;
    v.optvar = 2;
    v.rescol = 1;
    v.i = -5;
    v.colour = 0x01020304;
    v.autoDouble = 0.005;
    v.fixedDouble = 3.14159;
    CopyString(v.text, sizeof v.text, "hello", -1);
    CopyString(v.editor, sizeof v.editor, "C / 2", -1);
    v.date = 20240229;
    v.time = 93005;
    CopyString(v.comboText, sizeof v.comboText, "beta", -1);
    CopyString(v.path, sizeof v.path, "C:\\nowhere\\a.kvd", -1);
    CopyString(v.hist, sizeof v.hist, "needle", -1);
    gExchangeSeenDuringChange = -1;
    SettingsToDialogRows(kRows, dialog, 900, 0);
    EXPECT_EQ(SettingsExchangeActive, 0);
    EXPECT_EQ(gExchangeSeenDuringChange, 1);
    EXPECT_EQ(Checked(101), 1);
    EXPECT_EQ(Checked(110) * 100 + Checked(111) * 10 + Checked(112), 1);
    EXPECT_EQ(Checked(113), 0); /* not part of the group */
    EXPECT_EQ(Sel(120), 1);
    EXPECT_EQ(Sel(121), 2);
    EXPECT_EQ(Sel(122), 1);
    EXPECT_EQ(TextOf(130), "-5");
    EXPECT_EQ(TextOf(131), "16909060");
    EXPECT_EQ(TextOf(132), "0.005");
    EXPECT_EQ(TextOf(133), "3.14");
    EXPECT_EQ(TextOf(140), "hello");
    EXPECT_EQ(TextOf(141), "C / 2");
    EXPECT_EQ(GetDateControl(dialog, 150), 20240229);
    SYSTEMTIME st = {};
    SendDlgItemMessageA(dialog, 151, DTM_GETSYSTEMTIME, 0, (LPARAM)&st);
    EXPECT_EQ(st.wYear * 10000 + st.wMonth * 100 + st.wDay, 20090102);
    EXPECT_EQ(st.wHour * 10000 + st.wMinute * 100 + st.wSecond, 93005);
    EXPECT_EQ(Sel(160), 1);
    EXPECT_EQ(TextOf(170), "C:\\nowhere\\a.kvd");
    EXPECT_STREQ(v.pathHistory, "C:\\nowhere\\a.kvd");
    EXPECT_EQ(Entry(170, 0), "C:\\nowhere\\a.kvd");
    EXPECT_EQ(TextOf(171), "needle");
    EXPECT_STREQ(v.textHistory, ""); /* shown, not yet added */

    /* whole doubles print without decimals; unknown combo text selects entry 0 */
    v.autoDouble = 100000.0;
    CopyString(v.comboText, sizeof v.comboText, "delta", -1);
    SettingsToDialogRows(kRows, dialog, 900, 0);
    EXPECT_EQ(TextOf(132), "100000");
    EXPECT_EQ(Sel(160), 0);
    /* a placeholder path never joins the history */
    CopyString(v.path, sizeof v.path, "(none)", -1);
    SettingsToDialogRows(kRows, dialog, 900, 170);
    EXPECT_EQ(TextOf(170), "(none)");
    EXPECT_STREQ(v.pathHistory, "C:\\nowhere\\a.kvd");
}

TEST_F(SettingsDialogTest, ControlsReadBackIntoTheVariables)
{
    FillDialogListsRows(kRows, dialog, 900);
    CheckDlgButton(dialog, 101, BST_CHECKED);
    CheckDlgButton(dialog, 111, BST_CHECKED);
    SendDlgItemMessageA(dialog, 120, CB_SETCURSEL, 2, 0);
    SendDlgItemMessageA(dialog, 122, CB_SETCURSEL, (WPARAM)-1, 0);
    SetDlgItemTextA(dialog, 130, "-7"); /* a minus sign reads as 0 */
    SetDlgItemTextA(dialog, 131, "255");
    SetDlgItemTextA(dialog, 132, "2.5e3");
    SetDlgItemTextA(dialog, 133, "7.25");
    SetDlgItemTextA(dialog, 140, "typed");
    SetDlgItemTextA(dialog, 141, "A\r\nB");
    SetDateControl(dialog, 150, 19991231);
    SYSTEMTIME st = {2001, 5, 0, 6, 17, 45, 9, 0};
    SendDlgItemMessageA(dialog, 151, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&st);
    SendDlgItemMessageA(dialog, 160, CB_SETCURSEL, 2, 0);
    SetDlgItemTextA(dialog, 170, "C:\\data\\new.kvd");
    SetDlgItemTextA(dialog, 171, "find me");
    gSettings.RecentFilesMRU[0] = 0;
    v.other = 42;
    EXPECT_EQ(1, DialogToSettingsRows(kRows, dialog, 900, 0)) << LastMessage();
    EXPECT_EQ(v.b, 1);
    EXPECT_EQ(v.radio, 1);
    EXPECT_EQ(v.word, 2);
    EXPECT_EQ(v.rescol, -1);
    EXPECT_EQ(v.i, 0);
    EXPECT_EQ(v.colour, 255u);
    EXPECT_EQ(v.autoDouble, 2500.0);
    EXPECT_EQ(v.fixedDouble, 7.25);
    EXPECT_STREQ(v.text, "typed");
    EXPECT_STREQ(v.editor, "A\r\nB");
    EXPECT_EQ(v.date, 19991231);
    EXPECT_EQ(v.time, 174509);
    EXPECT_STREQ(v.comboText, "gamma");
    EXPECT_STREQ(v.path, "C:\\data\\new.kvd");
    EXPECT_STREQ(v.pathHistory, "C:\\data\\new.kvd");
    EXPECT_STREQ(gSettings.RecentFilesMRU, "C:\\data\\new.kvd");
    EXPECT_STREQ(v.hist, "find me");
    EXPECT_STREQ(v.textHistory, "find me");
    EXPECT_EQ(TextOf(171), "find me");
    EXPECT_EQ(v.other, 42); /* another dialog's row */

    /* no radio button checked reads as -1; no combo entry as empty text */
    for (int id : {110, 111, 112}) CheckDlgButton(dialog, id, BST_UNCHECKED);
    SendDlgItemMessageA(dialog, 160, CB_SETCURSEL, (WPARAM)-1, 0);
    DialogToSettingsRows(kRows, dialog, 900, 0);
    EXPECT_EQ(v.radio, -1);
    EXPECT_STREQ(v.comboText, "");
}

/* A typed path is measured in letters: 259 of four bytes are taken whole,
** and one letter more is refused by name, the setting keeping its file. */
TEST_F(SettingsDialogTest, ATypedPathIsHeldToItsLettersAndALongerOneRefused)
{
    FillDialogListsRows(kRows, dialog, 900);
    for (const std::string letter : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x93\x88"}) {
        SCOPED_TRACE(letter.size());
        std::string fits = "C:\\";
        for (int k = 0; k < 252; k++) fits += letter;
        fits += ".kvd";
        SetWindowTitle(GetDlgItem(dialog, 170), fits.c_str());
        char shown[4 * PATH_SIZE];
        GetWindowTitle(GetDlgItem(dialog, 170), shown, sizeof shown);
        ASSERT_EQ(fits, shown) << "the box holds the whole path";
        const int messages = gHeadless.messageCount;
        DialogToSettingsRows(kRows, dialog, 900, 170);
        EXPECT_EQ(fits, v.path);
        EXPECT_EQ(messages, gHeadless.messageCount) << LastMessage();
        const std::string tooLong = "C:\\" + letter + fits.substr(3);
        SetWindowTitle(GetDlgItem(dialog, 170), tooLong.c_str());
        DialogToSettingsRows(kRows, dialog, 900, 170);
        EXPECT_EQ(fits, v.path);
        EXPECT_STREQ("Path file path is too long -- maximum is 260 chars.", LastMessage());
    }
}

TEST_F(SettingsDialogTest, OneControlAtATime)
{
    SetDlgItemTextA(dialog, 130, "12");
    SetDlgItemTextA(dialog, 140, "not read");
    DialogToSettingsRows(kRows, dialog, 900, 130);
    EXPECT_EQ(v.i, 12);
    EXPECT_STREQ(v.text, "");
    /* a text longer than the variable is cut to fit */
    SetDlgItemTextA(dialog, 140, "0123456789abcdefghij");
    DialogToSettingsRows(kRows, dialog, 900, 140);
    EXPECT_STREQ(v.text, "0123456789abcde");
    /* typed letters arrive as UTF-8, and a cut keeps whole letters: é is two
    ** bytes, of which only one would still fit */
    SetDlgItemTextW(dialog, 140, L"caf\u00E9 \u0416");
    DialogToSettingsRows(kRows, dialog, 900, 140);
    EXPECT_STREQ(v.text, "caf\xC3\xA9 \xD0\x96");
    SetDlgItemTextW(dialog, 140, L"0123456789abcd\u00E9");
    DialogToSettingsRows(kRows, dialog, 900, 140);
    EXPECT_STREQ(v.text, "0123456789abcd");
}

TEST_F(SettingsDialogTest, CheckedRadioTakesTheFocusFromItsGroup)
{
    SetFocus(GetDlgItem(dialog, 110));
    if (GetFocus() != GetDlgItem(dialog, 110)) GTEST_SKIP() << "no focus without a display";
    v.radio = 2;
    SettingsToDialogRows(kRows, dialog, 900, 110);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 112));
    /* focus elsewhere stays there */
    SetFocus(GetDlgItem(dialog, 130));
    v.radio = 0;
    SettingsToDialogRows(kRows, dialog, 900, 110);
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 130));
}

TEST_F(SettingsDialogTest, TheProgramTableDrivesTheSettingsPanel)
{
    gSettings.AccountSize = 250000.5;
    gSettings.BarSize2 = 3;
    FillDialogLists(dialog, 215);
    EXPECT_EQ(Count(1094), 5);
    EXPECT_EQ(Entry(1094, 3), "Quarterly");
    SettingsToDialog(dialog, 215, 0);
    EXPECT_EQ(TextOf(1153), "250000.5");
    EXPECT_EQ(Sel(1094), 3);
    SetDlgItemTextA(dialog, 1153, "75000");
    DialogToSettings(dialog, 215, 1153);
    EXPECT_EQ(gSettings.AccountSize, 75000.0);
}
