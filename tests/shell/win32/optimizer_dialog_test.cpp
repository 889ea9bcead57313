#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "engine/optimizer.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "script/compiler/definitions.h"
#include "script/compiler/script_state.h"
#include "script/compiler/strategy.h"
#include "foundation/settings_table.h"
#include "frame_fixture.h"
#include "script/compiler/settings_items.h"

namespace {

/* The Optimizer settings one dialog control each stands for. */
struct OptimizerChoices {
    int32_t mode, byStrategy, bySymbol, clear, sort, keepByDate, keepBySymbol, noTrades, walkForward, multiSave, summary;
    int32_t unit, anchor, mutate, iterations, keepBest, length, interval;
};

/* Each state is consistent with the enabling rules, and every control
** changes at least once from one state to the next. */
const OptimizerChoices kStates[] = {
    {OPT_GENETIC, 0, 0, 1, 1, 1, 0, 1, 1, 1, 1, 3, ANCHOR_START, 30, 2, 5, 6, 2},
    {OPT_COMBINATORIAL, 1, 1, 0, 1, 0, 1, 0, 0, 0, 0, 0, ANCHOR_END, 40, 3, 7, 4, -1},
    {OPT_RANDOM, 0, 0, 1, 0, 0, 0, 1, 0, 1, 0, 2, ANCHOR_NONE, 50, 1, 0, 9, 3},
    {OPT_DEFAULTS_ONLY, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, ANCHOR_START, 60, 4, 1, 2, 1},
    {OPT_SEQUENTIAL, 0, 0, 1, 1, 1, 0, 1, 1, 1, 1, 3, ANCHOR_START, 30, 2, 5, 6, 2},
};

int32_t *Field(OptimizerChoices &c, int k)
{
    int32_t *fields[] = {&c.mode, &c.byStrategy, &c.bySymbol, &c.clear, &c.sort, &c.keepByDate,
                         &c.keepBySymbol, &c.noTrades, &c.walkForward, &c.multiSave, &c.summary, &c.unit,
                         &c.anchor, &c.mutate, &c.iterations, &c.keepBest, &c.length, &c.interval};
    return fields[k];
}
int32_t *Setting(int k)
{
    int32_t *settings[] = {&gSettings.OptimizeMode, &gSettings.OptByStrategy, &gSettings.OptBySymbol,
                           &gSettings.OptClearResults, &gSettings.OptSortResults, &gSettings.OptKeepByDate,
                           &gSettings.OptKeepBySymbol, &gSettings.OptKeepNoTrades, &gSettings.OptWalkForward,
                           &gSettings.OptMultiSaveAs, &gSettings.OptSummaryLog, &gSettings.OptTimeUnit,
                           &gSettings.OptAnchor, &gSettings.OptMutatePct, &gSettings.OptIterations,
                           &gSettings.OptKeepBest, &gSettings.OptTestLength, &gSettings.OptTestInterval};
    return settings[k];
}
const int kFields = 18;

const int kCheckIds[] = {IDC_OPT_BY_STRATEGY, IDC_OPT_BY_SYMBOL, IDC_OPT_CLEAR_RESULTS, IDC_OPT_SORT_RESULTS,
                         IDC_OPT_KEEP_BY_DATE, IDC_OPT_KEEP_BY_SYMBOL, IDC_OPT_KEEP_NO_TRADES, IDC_OPT_WALK_FORWARD,
                         IDC_OPT_MULTI_SAVE, IDC_OPT_SUMMARY_LOG};
const int kNumberIds[] = {IDC_OPT_MUTATE, IDC_OPT_ITERATIONS, IDC_OPT_KEEP_BEST, IDC_OPT_LENGTH, IDC_OPT_INTERVAL};

/* What the dialog's controls show, in the order of OptimizerChoices. */
OptimizerChoices ReadControls(HWND dialog)
{
    OptimizerChoices c{};
    for (int m = OPT_COMBINATORIAL; m <= OPT_DEFAULTS_ONLY; m++)
        if (IsDlgButtonChecked(dialog, IDC_OPT_MODE_FIRST + m) == BST_CHECKED) c.mode = m;
    for (int k = 0; k < 10; k++) *Field(c, 1 + k) = IsDlgButtonChecked(dialog, kCheckIds[k]) == BST_CHECKED;
    c.unit = (int32_t)SendDlgItemMessageA(dialog, IDC_OPT_TIME_UNIT, CB_GETCURSEL, 0, 0);
    c.anchor = (int32_t)SendDlgItemMessageA(dialog, IDC_OPT_ANCHOR, CB_GETCURSEL, 0, 0);
    for (int k = 0; k < 5; k++) *Field(c, 13 + k) = (int32_t)GetDlgItemInt(dialog, kNumberIds[k], nullptr, TRUE);
    return c;
}

/* Sets the controls to c as a user would, each change announced. */
void WriteControls(HWND dialog, OptimizerChoices c)
{
    for (int m = OPT_COMBINATORIAL; m <= OPT_DEFAULTS_ONLY; m++)
        CheckDlgButton(dialog, IDC_OPT_MODE_FIRST + m, m == c.mode ? BST_CHECKED : BST_UNCHECKED);
    SendDlgItemMessageA(dialog, IDC_OPT_TIME_UNIT, CB_SETCURSEL, (WPARAM)c.unit, 0);
    SendDlgItemMessageA(dialog, IDC_OPT_ANCHOR, CB_SETCURSEL, (WPARAM)c.anchor, 0);
    for (int k = 0; k < 10; k++) CheckDlgButton(dialog, kCheckIds[k], *Field(c, 1 + k) ? BST_CHECKED : BST_UNCHECKED);
    for (int k = 0; k < 5; k++) SetDlgItemInt(dialog, kNumberIds[k], (UINT)*Field(c, 13 + k), TRUE);
}

bool Same(OptimizerChoices a, OptimizerChoices b, std::string *which)
{
    for (int k = 0; k < kFields; k++)
        if (*Field(a, k) != *Field(b, k)) *which += std::to_string(k) + " ";
    return which->empty();
}

/* Parameters of the given names and values, as a compile would add them. */
struct ParameterRow {
    const char *name;
    std::vector<double> values;
};
void AddParameters(std::initializer_list<ParameterRow> rows)
{
    for (const auto &r : rows) {
        int32_t at = AddDefinitionRecord(&gParameters, sizeof(Parameter));
        ASSERT_GE(at, 0);
        Parameter *p = &((Parameter *)gParameters.items)[at];
        CopyString(p->name, sizeof p->name, r.name, -1);
        ASSERT_TRUE(AllocMemory(&p->values, r.values.size() * sizeof(double)));
        for (size_t i = 0; i < r.values.size(); i++) p->values[i] = r.values[i];
        p->valueCount = p->valueCapacity = (int32_t)r.values.size();
    }
}

struct OptimizerDialogTest : FrameTest {};

/* Every control shows its setting when the dialog opens and gives it back
** when the tests are run. */
TEST_F(OptimizerDialogTest, EveryControlMovesItsSettingBothWays)
{
    const int states = (int)(sizeof kStates / sizeof kStates[0]);
    for (int s = 0; s + 1 < states; s++) {
        SCOPED_TRACE(s);
        OptimizerChoices from = kStates[s], to = kStates[s + 1];
        for (int k = 0; k < kFields; k++) *Setting(k) = *Field(from, k);
        HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_OPTIMIZER), gFrame.frame, OptimizerDlgProc, 0);
        ASSERT_NE(dialog, nullptr);
        std::string which;
        EXPECT_TRUE(Same(from, ReadControls(dialog), &which)) << "controls differ: " << which;
        WriteControls(dialog, to);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        OptimizerChoices now{};
        for (int k = 0; k < kFields; k++) *Field(now, k) = *Setting(k);
        which.clear();
        EXPECT_TRUE(Same(to, now, &which)) << "settings differ: " << which;
        DestroyWindow(dialog);
    }
}

/* A control that depends on another is cleared and disabled with it. */
TEST_F(OptimizerDialogTest, DependentBoxesFollowTheirConditions)
{
    gSettings.OptSortResults = 1;
    gSettings.OptTimeUnit = 3;
    gSettings.OptKeepByDate = 1;
    gSettings.OptWalkForward = 1;
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_OPTIMIZER), gFrame.frame, OptimizerDlgProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDC_OPT_WALK_FORWARD)));
    CheckDlgButton(dialog, IDC_OPT_SORT_RESULTS, BST_UNCHECKED);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_OPT_SORT_RESULTS, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_OPT_KEEP_BY_DATE)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDC_OPT_WALK_FORWARD)));
    EXPECT_EQ(0, gSettings.OptKeepByDate);
    EXPECT_EQ(0, gSettings.OptWalkForward);
    DestroyWindow(dialog);
}

/* A parameter the user cleared stays cleared in the next dialog, after a
** recompile has reset its flag; one with a single value is never checked. */
TEST_F(OptimizerDialogTest, ParameterChoicesSurviveARecompile)
{
    AddParameters({{"fast", {2, 3, 4}}, {"slow", {10, 20}}, {"fixed", {5}}});
    if (HasFatalFailure()) return;
    Parameter *p = (Parameter *)gParameters.items;
    auto open = [&]() {
        HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_OPTIMIZER), gFrame.frame, OptimizerDlgProc, 0);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    };
    auto checks = [](HWND dialog) {
        HWND list = GetDlgItem(dialog, IDC_OPT_PARAMS);
        std::string s;
        for (int k = 0; k < 3; k++) s += ListView_GetCheckState(list, k) ? '1' : '0';
        return s;
    };
    HWND dialog = open();
    EXPECT_EQ("110", checks(dialog));
    ListView_SetCheckState(GetDlgItem(dialog, IDC_OPT_PARAMS), 0, FALSE);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    DestroyWindow(dialog);
    EXPECT_EQ(1, p[0].deselected);
    EXPECT_EQ(0, p[1].deselected);
    for (int k = 0; k < 3; k++) p[k].deselected = 0; /* a recompile */
    dialog = open();
    EXPECT_EQ("010", checks(dialog));
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    DestroyWindow(dialog);
    EXPECT_EQ(1, p[0].deselected);
    EXPECT_EQ(1, p[2].deselected);
    /* The script's parameters changed: the compiler's preselection stands,
    ** whatever the last dialog chose, and is taken only once. */
    p[0].preselected = p[1].preselected = 1;
    gScript.parametersChanged = 1;
    dialog = open();
    EXPECT_EQ("110", checks(dialog));
    EXPECT_EQ(0, gScript.parametersChanged);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    DestroyWindow(dialog);
    for (int k = 0; k < 3; k++) FreeMemory(&p[k].values);
    FreeDefinitionList(&gParameters);
    ResetOptimizerDialogChoices();
}

/* The score list holds the Results columns the list shows, numbered as the
** list numbers them: a hidden column before them takes no place. */
TEST_F(OptimizerDialogTest, TheScoreColumnIsChosenAmongTheShownResultsColumns)
{
    const DefinitionList saved = gResultsColumns;
    FormulaColumn columns[3] = {};
    CopyString(columns[0].heading, 80, "_Hidden", -1);
    CopyString(columns[1].heading, 80, "Net", -1);
    CopyString(columns[2].heading, 80, "Pct", -1);
    columns[1].format = columns[2].format = 2;
    gResultsColumns.items = columns;
    gResultsColumns.count = 3;
    const struct {
        int32_t setting, shown, chosen, after;
    } cases[] = {
        {1, 1, 0, 0}, /* Pct shown; the user picks Net */
        {0, 0, 1, 1},
        {2, 1, -1, 1}, /* no such column: the second */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.setting);
        gSettings.OptScoreCol = c.setting;
        HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_OPTIMIZER), gFrame.frame, OptimizerDlgProc, 0);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(2, SendDlgItemMessageA(dialog, IDC_OPT_SCORE_COL, CB_GETCOUNT, 0, 0));
        EXPECT_EQ(c.shown, SendDlgItemMessageA(dialog, IDC_OPT_SCORE_COL, CB_GETCURSEL, 0, 0));
        if (c.chosen >= 0) SendDlgItemMessageA(dialog, IDC_OPT_SCORE_COL, CB_SETCURSEL, (WPARAM)c.chosen, 0);
        SendMessageA(dialog, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(c.after, gSettings.OptScoreCol);
        DestroyWindow(dialog);
    }
    gResultsColumns = saved;
}

/* The parameter list shows each heading whole, the last one too. */
TEST_F(OptimizerDialogTest, TheParameterListShowsItsHeadingsWhole)
{
    AddParameters({{"fast", {2, 3, 4}}, {"slow", {10, 20}}});
    if (HasFatalFailure()) return;
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_OPTIMIZER), gFrame.frame, OptimizerDlgProc, 0);
    ASSERT_NE(dialog, nullptr);
    ShowWindow(dialog, SW_SHOW);
    HoldForScreenshot();
    for (int c = 0; c < 3; c++) EXPECT_TRUE(HeadingFits(GetDlgItem(dialog, IDC_OPT_PARAMS), c)) << c;
    DestroyWindow(dialog);
    Parameter *p = (Parameter *)gParameters.items;
    for (int k = 0; k < 2; k++) FreeMemory(&p[k].values);
    FreeDefinitionList(&gParameters);
    ResetOptimizerDialogChoices();
}

} // namespace

/* Each number box is judged at OK by its setting's row: below, at and above
** each end of its range, and text.  A refused OK says why in the rule's
** words and keeps the dialog; Cancel after it leaves every Optimizer setting
** as the dialog found it, though the controls moved them as they changed. */
TEST_F(OptimizerDialogTest, NumbersAreJudgedByTheirRowsAndCancelKeepsTheOpeningSettings)
{
    const OptimizerChoices opened = kStates[0]; /* genetic and sorted: every number box enabled */
    int rows = 0;
    for (const SettingEntry *row = gSettingTable; row->key; row++) {
        if (row->dialogId != IDD_OPTIMIZER || row->type != ST_INT || !row->controlId) continue;
        rows++;
        SCOPED_TRACE(row->key);
        for (const std::string &text : {std::to_string((int)row->low - 1), std::to_string((int)row->low),
                                       std::to_string((int)row->high), std::to_string((int)row->high + 1),
                                       std::string("abc")}) {
            SCOPED_TRACE(text);
            const bool taken = text != "abc" && atof(text.c_str()) >= row->low && atof(text.c_str()) <= row->high;
            for (int k = 0; k < kFields; k++) *Setting(k) = *Field(const_cast<OptimizerChoices &>(opened), k);
            HWND dialog =
                CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_OPTIMIZER), gFrame.frame, OptimizerDlgProc, 0);
            ASSERT_NE(dialog, nullptr);
            CheckDlgButton(dialog, IDC_OPT_CLEAR_RESULTS, BST_UNCHECKED);
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_OPT_CLEAR_RESULTS, BN_CLICKED),
                         (LPARAM)GetDlgItem(dialog, IDC_OPT_CLEAR_RESULTS));
            ASSERT_EQ(0, gSettings.OptClearResults) << "the controls move their settings as they change";
            SetDlgItemTextA(dialog, (int)row->controlId, text.c_str());
            DialogWatcher::Clear();
            SendMessageA(dialog, WM_COMMAND, IDOK, 0);
            if (taken) {
                EXPECT_TRUE(DialogWatcher::Seen().empty());
                EXPECT_EQ(atoi(text.c_str()), *(int32_t *)row->data);
            } else {
                EXPECT_TRUE(SeenText((std::string(row->key) + " must be a whole number from ").c_str()));
                EXPECT_EQ(std::to_string(*(int32_t *)row->data), std::to_string(GetDlgItemInt(dialog, (int)row->controlId, nullptr, TRUE)));
                SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                OptimizerChoices now{};
                for (int k = 0; k < kFields; k++) *Field(now, k) = *Setting(k);
                std::string which;
                EXPECT_TRUE(Same(opened, now, &which)) << "settings differ: " << which;
            }
            DestroyWindow(dialog);
        }
    }
    EXPECT_EQ(rows, 5);
}
