/* panel_rules.cpp -- the settings panel's date arithmetic and enabled states. */
#include "shell/panel_rules.h"

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

int DataFileNameDiffers(const char *name)
{
    if (!gStore.loadedPath[0]) return 1;
    return CompareNoCase(name ? name : "", gStore.loadedPath) != 0;
}
