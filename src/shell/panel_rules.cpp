/* panel_rules.cpp -- the settings panel's date arithmetic and enabled states. */
#include "shell/panel_rules.h"

#include "foundation/file_helpers.h"
#include "foundation/text_match.h"
#include "marketdata/store/calendar.h"
#include "marketdata/store/symbols.h"
#include "services/services.h"

const DateList *PanelDateList(int barSize)
{
    if (barSize < 0 || barSize >= BAR_SIZE_COUNT) barSize = 0;
    return &gStore.dateLists[barSize];
}

int ClampPanelRange(int barSize, int32_t *firstDate, int32_t *lastDate)
{
    const DateList *list = PanelDateList(barSize);
    if (list->count > 0) {
        int32_t earliest = GetPeriodFirstDate((int32_t)list->dates[0], 1, barSize);
        int32_t latest = (int32_t)list->dates[list->count - 1];
        if (*firstDate < earliest) *firstDate = earliest;
        if (*lastDate > latest) *lastDate = latest;
    }
    return CountTradingDays(list, *firstDate, *lastDate);
}

int RangeFromBarCount(int barSize, int32_t n, int firstFixed, int32_t *firstDate, int32_t *lastDate)
{
    if (n < 1) return 0;
    const DateList *list = PanelDateList(barSize);
    if (firstFixed)
        *lastDate = OffsetTradingDate(list, *firstDate, n - 1);
    else
        *firstDate = OffsetTradingDate(list, *lastDate, 1 - n);
    return 1;
}

int IsPanelGroupEnabled(int group, int runState, int earliest, int latest, int nameChanged)
{
    if (runState != RUN_IDLE) return 0;
    switch (group) {
    case PANEL_GROUP_FIRST_DATE: return !earliest;
    case PANEL_GROUP_LAST_DATE: return !latest;
    case PANEL_GROUP_BAR_COUNT: return !(earliest && latest);
    case PANEL_GROUP_LOAD: return nameChanged ? 1 : 0;
    default: return 1;
    }
}

int32_t WrapPanelRows(const PanelBox *boxes, int32_t count, int32_t width, int32_t height, int32_t margin,
                      PanelBox *placed)
{
    int32_t pitch = height;
    for (int32_t i = 1; i < count; i++)
        if (boxes[i].left < boxes[i - 1].left) {
            pitch = boxes[i].top - boxes[0].top;
            break;
        }
    if (pitch < 1) pitch = height;
    const int32_t edge = width - margin;
    int32_t added = 0; /* rows added so far: everything below moves down */
    int32_t i = 0;
    while (i < count) {
        /* One row of the resource: [i, end). */
        int32_t end = i + 1;
        while (end < count && boxes[end].left >= boxes[end - 1].left) end++;
        const int32_t rowLeft = boxes[i].left;
        int32_t shift = 0; /* how far the current line's boxes moved left */
        for (int32_t g = i; g < end;) {
            /* A group: a control and the ones glued to it. */
            int32_t last = g;
            while (last + 1 < end && boxes[last + 1].glued) last++;
            int32_t right = 0;
            for (int32_t k = g; k <= last; k++)
                if (boxes[k].left + boxes[k].width > right) right = boxes[k].left + boxes[k].width;
            /* The first group of a line stays even when it does not fit:
            ** wrapping it would only make another line as wide. */
            const int firstOfLine = boxes[g].left - shift == rowLeft;
            if (right - shift > edge && !firstOfLine) {
                added++;
                shift = boxes[g].left - rowLeft;
            }
            for (int32_t k = g; k <= last; k++) {
                placed[k] = boxes[k];
                placed[k].left = boxes[k].left - shift;
                placed[k].top = boxes[k].top + added * pitch;
            }
            g = last + 1;
        }
        i = end;
    }
    return height + added * pitch;
}
