/* date_controls.cpp -- yyyymmdd dates in and out of date-time picker controls. */
#include <windows.h>
#include <commctrl.h>

#include "foundation/dates.h"

int GetDateControl(void *dialog, int controlId)
{
    SYSTEMTIME st = {};
    SendDlgItemMessageA((HWND)dialog, controlId, DTM_GETSYSTEMTIME, 0, (LPARAM)&st);
    return MakeDate(st.wYear, st.wMonth, st.wDay);
}

void SetDateControl(void *dialog, int controlId, int date)
{
    SYSTEMTIME st = {};
    st.wYear = (WORD)DateYear(date);
    st.wMonth = (WORD)DateMonth(date);
    st.wDay = (WORD)DateDay(date);
    SendDlgItemMessageA((HWND)dialog, controlId, DTM_SETSYSTEMTIME, GDT_VALID, (LPARAM)&st);
}
