/* find_in_files.cpp -- the modeless Find In Files dialog: the files of a
** folder (and its subfolders) searched line by line, hits shown in a tree of
** folders, files and numbered lines; a double click opens the hit in a script
** window.  The line search is shell/find_text.h's. */
#include "shell/win32/shell_win32.h"

#include <Scintilla.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "foundation/allocator.h"
#include "foundation/errors.h"
#include "foundation/file_helpers.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "foundation/win32/list_view.h"
#include "foundation/win32/settings_dialog.h"
#include "platform/platform.h"
#include "shell/find_text.h"
#include "services/services.h"
#include "shell/win32/editor_host.h"
#include "shell/win32/script_window.h"

namespace {


/* Items are folder and file names and lines of UTF-8 scripts: they show
** their letters, and come back as the names they were. */
HTREEITEM AddTreeItem(HWND tree, HTREEITEM parent, const char *text, int bold)
{
    WCHAR wide[(int)FIND_HIT_TEXT_SIZE + PATH_SIZE];
    if (!PlatWideFromText(text, wide, (int)(sizeof wide / sizeof wide[0]))) wide[0] = 0;
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent ? parent : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_STATE;
    insert.item.pszText = wide;
    insert.item.state = bold ? TVIS_BOLD : 0;
    insert.item.stateMask = TVIS_BOLD;
    return (HTREEITEM)SendMessageW(tree, TVM_INSERTITEMW, 0, (LPARAM)&insert);
}

struct FileHits {
    HWND tree;
    HTREEITEM folderItem;
    HTREEITEM fileItem; /* made on the first hit */
    const char *fileName;
    int32_t count;
};

void AddHit(void *context, int32_t, const char *itemText)
{
    FileHits *hits = (FileHits *)context;
    if (!hits->fileItem) hits->fileItem = AddTreeItem(hits->tree, hits->folderItem, hits->fileName, 1);
    AddTreeItem(hits->tree, hits->fileItem, itemText, 0);
    hits->count++;
}

struct NameList {
    char (*names)[PATH_SIZE];
    int32_t count, capacity;
    int folders; /* 1: keep folders, 0: keep files */
};

int CollectName(const char *name, int isFolder, void *user)
{
    NameList *list = (NameList *)user;
    if (name[0] == '.' || (isFolder != 0) != (list->folders != 0)) return 1;
    if (list->count == list->capacity) {
        int32_t grown = list->capacity ? list->capacity * 2 : 32;
        if (!ReallocMemory(&list->names, sizeof *list->names * (uint64_t)grown)) return 0;
        list->capacity = grown;
    }
    CopyString(list->names[list->count++], PATH_SIZE, name, -1);
    return 1;
}

int CompareNames(const void *a, const void *b) { return CompareNoCase((const char *)a, (const char *)b); }

void ListNames(const char *pattern, int folders, NameList *list)
{
    *list = {};
    list->folders = folders;
    PlatListFolder(pattern, CollectName, list);
    if (list->count > 1) qsort(list->names, (size_t)list->count, sizeof *list->names, CompareNames);
}

void SetLabel(const char *format, ...)
{
    if (!gFrame.findInFiles) return;
    char text[PATH_SIZE + 32];
    va_list args;
    va_start(args, format);
    FormatTextV(text, sizeof text, format, args);
    va_end(args);
    SetItemText(gFrame.findInFiles, IDC_FIF_LABEL, text);
}

} // namespace

int SearchFileForText(const char *folder, HWND tree, HTREEITEM parent)
{
    char pattern[PATH_SIZE];
    FormatText(pattern, sizeof pattern, "%s\\%s", folder, gSettings.FindTypes);
    NameList files;
    ListNames(pattern, 0, &files);
    int32_t total = 0;
    for (int32_t i = 0; i < files.count; i++) {
        PumpMessages();
        char path[PATH_SIZE];
        FormatText(path, sizeof path, "%s\\%s", folder, files.names[i]);
        char *text = nullptr;
        uint32_t size = 0;
        gMessageState.suppressNext = 1; /* a file that cannot be read has no hits */
        int ok = LoadFile(path, &text, &size);
        gMessageState.suppressNext = 0;
        if (!ok) continue;
        FileHits hits = {.tree = tree, .folderItem = parent, .fileItem = nullptr, .fileName = files.names[i], .count = 0};
        SearchTextLines(text ? text : "", (int32_t)size, gSettings.FindWhat, gSettings.MatchFase, gSettings.WholeWord,
                        AddHit, &hits);
        FreeMemory(&text);
        if (hits.fileItem) SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)hits.fileItem);
        total += hits.count;
    }
    FreeMemory(&files.names);
    return total;
}

int SearchFolderForText(const char *folderIn, HWND tree, HTREEITEM parent)
{
    char folder[PATH_SIZE];
    CopyString(folder, sizeof folder, folderIn, -1);
    size_t n = strlen(folder);
    while (n > 0 && folder[n - 1] == '\\') folder[--n] = 0;
    char pattern[PATH_SIZE];
    FormatText(pattern, sizeof pattern, "%s\\*", folder);
    if (!PlatFolderExists(folder)) return 0;
    HTREEITEM item = AddTreeItem(tree, parent, folder, 1);
    int32_t total = SearchFileForText(folder, tree, item);
    if (gSettings.IncludeSubfolders) {
        NameList subfolders;
        ListNames(pattern, 1, &subfolders);
        for (int32_t i = 0; i < subfolders.count; i++) {
            char sub[PATH_SIZE];
            FormatText(sub, sizeof sub, "%s\\%s", folder, subfolders.names[i]);
            SetLabel("Looking in %s...", sub);
            total += SearchFolderForText(sub, tree, item);
        }
        FreeMemory(&subfolders.names);
    }
    if (total == 0)
        SendMessageA(tree, TVM_DELETEITEM, 0, (LPARAM)item);
    else
        SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, (LPARAM)item);
    return total;
}

static void FindAll(HWND dialog)
{
    DialogToSettings(dialog, IDD_FIND_IN_FILES, 0);
    HWND tree = GetDlgItem(dialog, IDC_FIF_TREE);
    SendMessageA(tree, TVM_DELETEITEM, 0, (LPARAM)TVI_ROOT);
    EnableWindow(GetDlgItem(dialog, IDC_FIF_FIND_ALL), FALSE);
    SetWaitCursor(1);
    int count = SearchFolderForText(gSettings.FindFolder, tree, nullptr);
    SetWaitCursor(0);
    EnableWindow(GetDlgItem(dialog, IDC_FIF_FIND_ALL), TRUE);
    char label[64];
    FormatText(label, sizeof label, "Found %d instance%s:", count, count == 1 ? "" : "s");
    SetDlgItemTextA(dialog, IDC_FIF_LABEL, label);
    HTREEITEM first = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    if (count && first) SendMessageA(tree, TVM_ENSUREVISIBLE, 0, (LPARAM)first);
}

static int TreeItemText(HWND tree, HTREEITEM item, char *out, int size)
{
    WCHAR wide[(int)FIND_HIT_TEXT_SIZE + PATH_SIZE] = L"";
    TVITEMW tv = {};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = wide;
    tv.cchTextMax = (int)(sizeof wide / sizeof wide[0]);
    out[0] = 0;
    return SendMessageW(tree, TVM_GETITEMW, 0, (LPARAM)&tv) && TextFromWide(wide, out, (size_t)size);
}

/* Opens the hit under the selection in a script window, at its line. */
int OpenFindInFilesHit(HWND dialog)
{
    HWND tree = GetDlgItem(dialog, IDC_FIF_TREE);
    HTREEITEM hit = (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
    HTREEITEM file = hit ? (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)hit) : nullptr;
    HTREEITEM folder = file ? (HTREEITEM)SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, (LPARAM)file) : nullptr;
    if (!folder) return 0;
    char hitText[FIND_HIT_TEXT_SIZE], fileText[PATH_SIZE], folderText[PATH_SIZE], path[PATH_SIZE];
    TreeItemText(tree, hit, hitText, sizeof hitText);
    TreeItemText(tree, file, fileText, sizeof fileText);
    TreeItemText(tree, folder, folderText, sizeof folderText);
    size_t n = strlen(folderText);
    while (n > 0 && folderText[n - 1] == '\\') folderText[--n] = 0;
    FormatText(path, sizeof path, "%s\\%s", folderText, fileText);
    int line = atoi(hitText);
    if (line <= 0 || !OpenScript(path, nullptr)) return 0;
    HWND window = FindScriptWindow(path, 1, nullptr);
    EditorRecord *record = GetEditorRecord(window);
    if (!record) return 0;
    intptr_t start = EditorSend(window, SCI_POSITIONFROMLINE, (uintptr_t)(line - 1));
    EditorSend(window, SCI_GOTOPOS, (uintptr_t)start);
    CopyString(record->findText, sizeof record->findText, gSettings.FindWhat, -1);
    char what[FIND_TEXT_SIZE];
    int32_t length = UnescapeFindText(record->findText, what, sizeof what);
    EditorSend(window, SCI_SETSEARCHFLAGS, record->findReplace.Flags & (SCFIND_WHOLEWORD | SCFIND_MATCHCASE));
    EditorSend(window, SCI_SETTARGETRANGE, (uintptr_t)start, EditorSend(window, SCI_GETLENGTH));
    intptr_t at = EditorSend(window, SCI_SEARCHINTARGET, (uintptr_t)length, (intptr_t)what);
    if (at >= 0) EditorSend(window, SCI_SETSEL, (uintptr_t)at, EditorSend(window, SCI_GETTARGETEND));
    return 1;
}

INT_PTR CALLBACK FindInFilesDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        FillDialogLists(dialog, IDD_FIND_IN_FILES);
        SettingsToDialog(dialog, IDD_FIND_IN_FILES, 0);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FIF_FIND_ALL: FindAll(dialog); return TRUE;
        case IDC_FIF_BROWSE: {
            DialogToSettings(dialog, IDD_FIND_IN_FILES, IDC_FIF_FOLDER);
            char folder[PATH_SIZE];
            CopyString(folder, sizeof folder, gSettings.FindFolder, -1);
            if (BrowseForFolder(folder, "Select Find Folder", 0, dialog)) {
                CopyString(gSettings.FindFolder, sizeof gSettings.FindFolder, folder, -1);
                SetItemText(dialog, IDC_FIF_FOLDER, folder);
            }
            return TRUE;
        }
        case IDCANCEL: PostMessageA(dialog, WM_CLOSE, 0, 0); return TRUE;
        default: break;
        }
        break;
    case WM_NOTIFY: {
        const NMHDR *header = (const NMHDR *)lParam;
        if (header->idFrom == IDC_FIF_TREE && header->code == NM_DBLCLK) {
            OpenFindInFilesHit(dialog);
            return TRUE;
        }
        break;
    }
    case WM_CLOSE: DestroyWindow(dialog); return TRUE;
    case WM_DESTROY:
        /* Also when the frame goes and takes its owned dialog along. */
        if (gFrame.findInFiles == dialog) gFrame.findInFiles = nullptr;
        UnregisterFindDialog(dialog);
        return TRUE;
    default: break;
    }
    return FALSE;
}

void OpenFindInFiles()
{
    if (gFrame.findInFiles && IsWindow(gFrame.findInFiles)) {
        SetForegroundWindow(gFrame.findInFiles);
        return;
    }
    HWND dialog = CreateDialogParamA(gFrame.instance, MAKEINTRESOURCEA(IDD_FIND_IN_FILES), gFrame.frame,
                                     FindInFilesDlgProc, 0);
    if (!dialog) return;
    if (!RegisterFindDialog(dialog)) {
        DestroyWindow(dialog);
        return;
    }
    gFrame.findInFiles = dialog;
    ShowWindow(dialog, SW_SHOW);
}
