/* data_hooks.cpp -- the Import section text the data file keeps as its note,
** the present marks of the fundamentals field table, and the window shell
** stand-ins that data_hooks.h names (each does nothing). */
#include "marketdata/store/data_hooks.h"

#include "script/compiler/import_items.h"
#include "script/compiler/script_parser.h"

const char *GetImportSectionText()
{
    const GrowText &text = gScriptParser.importText;
    return text.text && text.length > 0 ? text.text : nullptr;
}

/* ---- fundamentals field table ----------------------------------------------------- */

uint32_t FundamentalFieldCount() { return FUNDAMENTAL_FIELD_ROWS; }

void MarkFundamentalFieldPresent(uint32_t fieldId)
{
    if (fieldId < FUNDAMENTAL_FIELD_ROWS) gFundamentalFields[fieldId].present = 1;
}

void ClearFundamentalFieldsPresent()
{
    for (int row = 0; row < FUNDAMENTAL_FIELD_ROWS; row++) gFundamentalFields[row].present = 0;
}

