/* builtin_registry.cpp -- which implementation serves which item row. */
#include "script/builtins/builtins.h"

#include "foundation/errors.h"
#include "script/compiler/formula.h"
#include "script/eval/eval_context.h"
#include "script/eval/item_table.h"

namespace {

struct BuiltinRow {
    uint32_t item; /* ItemId / BuiltinItemId */
    ItemImpl impl;
};

/* One row per implemented function row, in item order (the window
** functions first, HMA with the averages). */
/* clang-format off */
const BuiltinRow kBuiltins[] = {
    { .item = ITEM_SUM,             .impl = CalcWindowFunction },
    { .item = ITEM_SUM_SQ,          .impl = CalcWindowFunction },
    { .item = ITEM_PRODUCT,         .impl = CalcWindowFunction },
    { .item = ITEM_MA,              .impl = CalcWindowFunction },
    { .item = ITEM_STD_DEV,         .impl = CalcWindowFunction },
    { .item = ITEM_SKEWNESS,        .impl = CalcWindowFunction },
    { .item = ITEM_KURTOSIS,        .impl = CalcWindowFunction },
    { .item = ITEM_BB_TOP_F,        .impl = CalcWindowFunction },
    { .item = ITEM_BB_BOT_F,        .impl = CalcWindowFunction },
    { .item = ITEM_BB_WIDTH_F,      .impl = CalcWindowFunction },
    { .item = ITEM_BB_PCT_F,        .impl = CalcWindowFunction },
    { .item = ITEM_BB_TREND_F,      .impl = CalcWindowFunction },
    { .item = ITEM_RANK,            .impl = CalcWindowFunction },
    { .item = ITEM_PERCENT_RANK,    .impl = CalcWindowFunction },
    { .item = ITEM_EMA,             .impl = CalcWindowFunction },
    { .item = ITEM_ESD,             .impl = CalcWindowFunction },
    { .item = ITEM_AEMA,            .impl = CalcWindowFunction },
    { .item = ITEM_AESD,            .impl = CalcWindowFunction },
    { .item = ITEM_DEMA,            .impl = CalcWindowFunction },
    { .item = ITEM_TEMA,            .impl = CalcWindowFunction },
    { .item = ITEM_RSI_F,           .impl = CalcWindowFunction },
    { .item = ITEM_SAR_F,           .impl = CalcWindowFunction },
    { .item = ITEM_WMA,             .impl = CalcWindowFunction },
    { .item = ITEM_VWMA,            .impl = CalcWindowFunction },
    { .item = ITEM_KAMA,            .impl = CalcWindowFunction },
    { .item = ITEM_HIGHEST,         .impl = CalcWindowFunction },
    { .item = ITEM_LOWEST,          .impl = CalcWindowFunction },
    { .item = ITEM_SINCE_HIGH,      .impl = CalcWindowFunction },
    { .item = ITEM_SINCE_LOW,       .impl = CalcWindowFunction },
    { .item = ITEM_HMA,             .impl = CalcHMA },
    { .item = ITEM_SINCE_TRUE,      .impl = CalcSinceTrue },
    { .item = ITEM_UNTIL_TRUE,      .impl = CalcSinceTrue },
    { .item = ITEM_WHEN_TRUE,       .impl = CalcSinceTrue },
    { .item = ITEM_SUM_SINCE,       .impl = CalcSinceTrue },
    { .item = ITEM_COUNT_TRUE,      .impl = CalcSinceTrue },
    { .item = ITEM_TRUE_IN_ROW,     .impl = CalcSinceTrue },
    { .item = ITEM_ROC,             .impl = CalcROC },
    { .item = ITEM_MEDIAN,          .impl = CalcMedian },
    { .item = ITEM_RANK_N,          .impl = CalcMedian },
    { .item = ITEM_PERCENT_RANK_N, .impl = CalcMedian },
    { .item = ITEM_LIN_REG,         .impl = CalcLinReg },
    { .item = ITEM_SLOPE,           .impl = CalcLinReg },
    { .item = ITEM_Y_INT,           .impl = CalcLinReg },
    { .item = ITEM_STD_ERR,         .impl = CalcLinReg },
    { .item = ITEM_CORREL,          .impl = CalcCorrel },
    { .item = ITEM_SPEARMAN,        .impl = CalcSpearman },
    { .item = ITEM_CORREL_AVG,      .impl = CalcGroupCorrel },
    { .item = ITEM_CORREL_MED,      .impl = CalcGroupCorrel },
    { .item = ITEM_CORREL_MIN,      .impl = CalcGroupCorrel },
    { .item = ITEM_CORREL_MAX,      .impl = CalcGroupCorrel },
    { .item = ITEM_CORREL_MIN_SYM,  .impl = CalcGroupCorrel },
    { .item = ITEM_CORREL_MAX_SYM,  .impl = CalcGroupCorrel },
    { .item = ITEM_PEAK,            .impl = CalcZigZag },
    { .item = ITEM_PEAK_BARS,       .impl = CalcZigZag },
    { .item = ITEM_TROUGH,          .impl = CalcZigZag },
    { .item = ITEM_TROUGH_BARS,     .impl = CalcZigZag },
    { .item = ITEM_SEQUENCE,        .impl = CalcSequence },
    { .item = ITEM_ATR,             .impl = CalcATR },
    { .item = ITEM_RSI,             .impl = CalcRSI },
    { .item = ITEM_RRSI,            .impl = CalcRSI },
    { .item = ITEM_CRSI,            .impl = CalcCRSI },
    { .item = ITEM_ADX,             .impl = CalcADX },
    { .item = ITEM_PDI,             .impl = CalcADX },
    { .item = ITEM_MDI,             .impl = CalcADX },
    { .item = ITEM_HVOL,            .impl = CalcHVOL },
    { .item = ITEM_STOC,            .impl = CalcSTOC },
    { .item = ITEM_MACD,            .impl = CalcMACD },
    { .item = ITEM_MACDS,           .impl = CalcMACD },
    { .item = ITEM_MACDH,           .impl = CalcMACD },
    { .item = ITEM_CCI,             .impl = CalcCCI },
    { .item = ITEM_OBV,             .impl = CalcOBV },
    { .item = ITEM_SIG_SPIKE,       .impl = CalcSigSpike },
    { .item = ITEM_BB_TOP,          .impl = CalcBollinger },
    { .item = ITEM_BB_BOT,          .impl = CalcBollinger },
    { .item = ITEM_BB_WIDTH,        .impl = CalcBollinger },
    { .item = ITEM_BB_PCT,          .impl = CalcBollinger },
    { .item = ITEM_BB_TREND,        .impl = CalcBollinger },
    { .item = ITEM_KB_TOP,          .impl = CalcKeltner },
    { .item = ITEM_KB_BOT,          .impl = CalcKeltner },
    { .item = ITEM_SAR,             .impl = CalcSAR },
    { .item = ITEM_KDSAR,           .impl = CalcKDSAR },
    { .item = ITEM_SUPER_TREND,     .impl = CalcSuperTrend },
};
/* clang-format on */

} // namespace

int InstallBuiltins()
{
    for (const BuiltinRow &row : kBuiltins) {
        if (row.item >= SCRIPT_ITEM_COUNT || !IsFunctionCategory(gScriptItems[row.item].category)) {
            ReportError("Internal Error: built-in for row %d is not a function", (int)row.item);
            return 0;
        }
        gItemImpls[row.item] = row.impl;
    }
    return InstallGeneralBuiltins();
}

int CalcOnePassSeries(FormulaNode *node, EvalContext *context, double *out)
{
    if (!out || node->item >= SCRIPT_ITEM_COUNT || !gScriptItems[node->item].shareable || !gItemImpls[node->item])
        return 0;
    double *savedWindow = context->onePassWindow;
    int32_t savedBase = context->multiBarBase;
    context->onePassWindow = out;
    context->multiBarBase = 0;
    /* Counted as the outermost call, so functions nested in the arguments
    ** compute bar by bar, as they do under the evaluator. */
    context->depth++;
    int ok = gItemImpls[node->item](node, context, 0);
    context->depth--;
    context->onePassWindow = savedWindow;
    context->multiBarBase = savedBase;
    return ok;
}
