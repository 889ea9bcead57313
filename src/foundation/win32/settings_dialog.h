/* settings_dialog.h -- settings in and out of any dialog, driven by the
** settings table, so a dialog needs no code of its own per field.
**
** A row takes part when its dialog id is the given one and its control id is
** not 0 (and, for the exchange, when the given control id is 0 or the row's).
** Usual order in a dialog: FillDialogLists, then SettingsToDialog on opening;
** DialogToSettings (often for one control) on each change or on OK.
**
** Controls by type: check box (bool), radio group starting at the control and
** running over the following radio buttons (radio), combo box (word, list
** indexes, combo text, path, history text), edit (int, colour, double, text),
** the editor (editor text: until the editor component is part of the
** program, the control's plain window text), date-time picker (date, time).
** Int lists are file-only.
** Threads:    UI thread.  Platform: Windows only.
*/
#pragma once
#include <windows.h>

#include <cstdint>

struct SettingEntry;

/* The editor component's window class. */
inline constexpr char kEditorComponentClass[] = "Scintilla";
/* 1 when the window is the editor component itself: not a window hosting
** one, nor the plain text control that stands in for it. */
int IsEditorComponent(HWND window);

/* Shows every row of the dialog (or only the row of controlId).  Sets
** SettingsExchangeActive while it runs. */
void SettingsToDialog(HWND dialog, uint32_t dialogId, uint32_t controlId);
/* Reads the rows of the dialog (or only the row of controlId) back into the
** variables, each box by its row's rule (CheckSettingText): every box is
** checked first, and when one is refused that is said, the box shows its
** setting's value again and takes the focus, nothing is stored and 0 is
** returned; else 1. */
int DialogToSettings(HWND dialog, uint32_t dialogId, uint32_t controlId);
/* The check alone, for a dialog that has more to check before it stores. */
int CheckDialogSettings(HWND dialog, uint32_t dialogId);
/* Fills the combo lists and sets the text limits and picker pictures of the
** dialog's controls. */
void FillDialogLists(HWND dialog, uint32_t dialogId);

/* A history's entries (names one a line, UTF-8) as the combo box's list, at
** most HISTORY_SHOWN of them, showing their letters.  The edit text goes with
** the old list, so callers set it afterwards. */
void FillHistoryList(HWND combo, const char *history);

/* The same over another table ending in a row whose key is null. */
void SettingsToDialogRows(const SettingEntry *table, HWND dialog, uint32_t dialogId, uint32_t controlId);
int DialogToSettingsRows(const SettingEntry *table, HWND dialog, uint32_t dialogId, uint32_t controlId);
int CheckDialogSettingsRows(const SettingEntry *table, HWND dialog, uint32_t dialogId, uint32_t controlId);
void FillDialogListsRows(const SettingEntry *table, HWND dialog, uint32_t dialogId);
