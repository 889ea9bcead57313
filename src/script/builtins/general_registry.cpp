/* general_registry.cpp -- which implementation serves which general
** function, reference, sum and trade-statistic row. */
#include "script/builtins/builtins.h"

#include "foundation/errors.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"

namespace {

struct GeneralRow {
    uint32_t item; /* ItemId */
    ItemImpl impl;
};

/* One row per implemented function row, in item order. */
/* clang-format off */
const GeneralRow kGeneralBuiltins[] = {
    { .item = ITEM_DATE_BARS,          .impl = CalcDateBars },
    { .item = ITEM_MISSING_BARS,       .impl = CalcMissingBars },
    { .item = ITEM_NTH_OF_MONTH,       .impl = CalcNthOfMonth },
    { .item = ITEM_EVENT,              .impl = CalcEvent },
    { .item = ITEM_DATE,               .impl = CalcDate },
    { .item = ITEM_DATE_YEAR,          .impl = CalcDatePart },
    { .item = ITEM_DATE_MONTH,         .impl = CalcDatePart },
    { .item = ITEM_DATE_DAY,           .impl = CalcDatePart },
    { .item = ITEM_DAYS,               .impl = CalcDays },
    { .item = ITEM_IN_LIST,            .impl = CalcInList },
    { .item = ITEM_THIS,               .impl = CalcThis },
    { .item = ITEM_IF,                 .impl = CalcIf },
    { .item = ITEM_IN_SET,             .impl = CalcInSet },
    { .item = ITEM_SWITCH,             .impl = CalcSwitch },
    { .item = ITEM_SELECT,             .impl = CalcSelect },
    { .item = ITEM_IS_NAN,             .impl = CalcIsNaN },
    { .item = ITEM_CROSS,              .impl = CalcCross },
    { .item = ITEM_MAX,                .impl = CalcMaxMin },
    { .item = ITEM_MIN,                .impl = CalcMaxMin },
    { .item = ITEM_MAX_N,              .impl = CalcMaxMin },
    { .item = ITEM_MIN_N,              .impl = CalcMaxMin },
    { .item = ITEM_BOUND,              .impl = CalcBound },
    { .item = ITEM_RESCALE,            .impl = CalcRescale },
    { .item = ITEM_ABS,                .impl = CalcAbs },
    { .item = ITEM_SIGN,               .impl = CalcSign },
    { .item = ITEM_ROUND,              .impl = CalcRound },
    { .item = ITEM_TOP,                .impl = CalcTop },
    { .item = ITEM_SQR,                .impl = CalcMathFunction },
    { .item = ITEM_LOG,                .impl = CalcMathFunction },
    { .item = ITEM_EXP,                .impl = CalcMathFunction },
    { .item = ITEM_COSINE,             .impl = CalcMathFunction },
    { .item = ITEM_SINE,               .impl = CalcMathFunction },
    { .item = ITEM_TANGENT,            .impl = CalcMathFunction },
    { .item = ITEM_ARC_COS,            .impl = CalcMathFunction },
    { .item = ITEM_ARC_SIN,            .impl = CalcMathFunction },
    { .item = ITEM_ARC_TAN,            .impl = CalcMathFunction },
    { .item = ITEM_COS_H,              .impl = CalcMathFunction },
    { .item = ITEM_SIN_H,              .impl = CalcMathFunction },
    { .item = ITEM_TAN_H,              .impl = CalcMathFunction },
    { .item = ITEM_CDF,                .impl = CalcCDF },
    { .item = ITEM_ICDF,               .impl = CalcICDF },
    { .item = ITEM_LOGIT,              .impl = CalcMathFunction },
    { .item = ITEM_RANDOM,             .impl = CalcRandom },
    { .item = ITEM_ITEM,               .impl = CalcItem },
    { .item = ITEM_TARGET_PRICE,       .impl = CalcTargetPrice },
    { .item = ITEM_EXTERN,             .impl = CalcExtern },
    { .item = ITEM_COMBINED,           .impl = CalcCombined },
    { .item = ITEM_ASSERT,             .impl = CalcAssert },
    { .item = ITEM_NO_NAN,             .impl = CalcNoNan },
    { .item = ITEM_DATA_TYPE,          .impl = CalcDataType },
    { .item = ITEM_DEBUG_EVAL,         .impl = CalcDebugEval },
    { .item = ITEM_SYM_REF,            .impl = CalcSymRef },
    { .item = ITEM_STRAT_REF,          .impl = CalcStratRef },
    { .item = ITEM_REASON,             .impl = CalcReason },
    { .item = ITEM_DLL_DATA_CALC,      .impl = CalcDllDataCalc },
    { .item = ITEM_LIBRARY_CALL,       .impl = CalcLibraryCall },
    { .item = ITEM_SETUP_SUM,          .impl = CalcRecordSum },
    { .item = ITEM_ORDER_SUM,          .impl = CalcRecordSum },
    { .item = ITEM_POSITION_SUM,       .impl = CalcRecordSum },
    { .item = ITEM_FIND,               .impl = CalcFind },
    { .item = ITEM_FORMAT,             .impl = CalcFormat },
    { .item = ITEM_FORMAT_DATE,        .impl = CalcFormatDate },
    { .item = ITEM_GET_FIELD,          .impl = CalcGetField },
    { .item = ITEM_LEFT,               .impl = CalcLeft },
    { .item = ITEM_LENGTH,             .impl = CalcLength },
    { .item = ITEM_MATCH,              .impl = CalcMatch },
    { .item = ITEM_MID,                .impl = CalcMid },
    { .item = ITEM_REPLACE,            .impl = CalcReplace },
    { .item = ITEM_RIGHT,              .impl = CalcRight },
    { .item = ITEM_TO_LOWER,           .impl = CalcChangeCase },
    { .item = ITEM_TO_UPPER,           .impl = CalcChangeCase },
    { .item = ITEM_TO_DATE,            .impl = CalcToDate },
    { .item = ITEM_TO_NUM,             .impl = CalcToNum },
    { .item = ITEM_TRADE_STAT_SUM,     .impl = CalcTradeStat },
    { .item = ITEM_TRADE_STAT_MIN,     .impl = CalcTradeStat },
    { .item = ITEM_TRADE_STAT_MAX,     .impl = CalcTradeStat },
    { .item = ITEM_TRADE_STAT_AVG,     .impl = CalcTradeStat },
    { .item = ITEM_TRADE_STAT_STD_DEV, .impl = CalcTradeStat },
    { .item = ITEM_TRADE_STAT_SKEW,    .impl = CalcTradeStat },
    { .item = ITEM_TRADE_STAT_KURT,    .impl = CalcTradeStat },
};
/* clang-format on */

} // namespace

int InstallGeneralBuiltins()
{
    for (const GeneralRow &row : kGeneralBuiltins) {
        if (row.item >= SCRIPT_ITEM_COUNT || !IsFunctionCategory(gScriptItems[row.item].category)) {
            ReportError("Internal Error: built-in for row %d is not a function", (int)row.item);
            return 0;
        }
        gItemImpls[row.item] = row.impl;
    }
    return 1;
}
