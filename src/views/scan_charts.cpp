/* scan_charts.cpp -- chart images of a scan's rows. */
#include "views/scan_charts.h"

#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "foundation/run_files.h"
#include "foundation/text_match.h"
#include "marketdata/store/symbols.h"
#include "platform/platform.h"
#include "services/services.h"
#include "views/scan_run.h"

int (*gChartImageWriter)(const ListCell *row, const char *path);

enum { FAILED_ROWS_NAMED = 10 }; /* rows the closing message names */

static const char *SymbolName(int32_t index)
{
    return index >= 0 && index < gStore.symbolCount ? gStore.symbols[index].info.Symbol : "";
}

int32_t SaveChartsToFolder(const CellListWindow *list, const char *path)
{
    if (!list || !path) return 0;
    char folder[PATH_SIZE];
    CopyString(folder, sizeof folder, path, -1);
    for (size_t n = strlen(folder); n > 0 && folder[n - 1] == '\\'; n--) folder[n - 1] = 0;
    if (!PlatCreateFolder(folder) && !PlatFolderExists(folder)) {
        ReportError("Unable to create folder %s", folder);
        SetResultCode(RESULT_FILE_ERROR);
        return 0;
    }
    SetWaitCursor(1);
    SetStatusText(0, "Saving %d Charts - Press ESC to Cancel", list->rowCount);
    int32_t written = 0, failed = 0;
    bool interrupted = false;
    std::string failures;
    for (int32_t r = 0; r < list->rowCount; r++) {
        const ListCell *cell = GetListCell(list, r, 0);
        const char *symbol = SymbolName(cell->symbolIndex);
        if ((r + 1) % 10 == 0) {
            SetStatusText(1, "%s", symbol);
            PumpMessages();
            if (PlatEscapePressed()) {
                interrupted = true;
                break;
            }
        }
        char file[PATH_SIZE];
        FormatText(file, sizeof file, "%s\\%s_%d.PNG", folder, symbol, cell->date);
        /* A picture is never a file the run reads nor another output (the
        ** refusal is reported once and ends the saves). */
        if (!ClaimRunOutput(file, "a chart of SaveChartsTo")) break;
        /* An image left by an earlier save must not pass for this one. */
        PlatDeleteFile(file);
        if (gChartImageWriter && gChartImageWriter(cell, file) && PlatFileExists(file)) {
            written++;
            continue;
        }
        /* A row whose chart could not be made is named, not counted. */
        if (failed++ < FAILED_ROWS_NAMED) {
            char entry[80];
            FormatText(entry, sizeof entry, "%s%s %d", failures.empty() ? "" : ", ", symbol, cell->date);
            failures += entry;
        }
    }
    SetWaitCursor(0);
    SetStatusText(0, nullptr);
    SetStatusText(1, nullptr);
    std::string failedText;
    if (failed) {
        char head[64];
        FormatText(head, sizeof head, "\n%d row%s could not be charted: ", failed, failed == 1 ? "" : "s");
        failedText = head + failures + (failed > FAILED_ROWS_NAMED ? ", ..." : "");
    }
    ReportError("%d chart%s saved to %s%s%s", written, written == 1 ? " was" : "s were", folder,
                interrupted ? "\n(interrupted by Esc key)" : "", failedText.c_str());
    return written;
}
