/* test_records.cpp -- reason texts, the trade array and the trade and cell
** computations. */
#include "records/test_records.h"

#include <cstring>

#include "foundation/allocator.h"
#include "foundation/numbers.h"
#include "foundation/text_match.h"
#include "foundation/utf8_text.h"
#include "platform/platform.h"

/* clang-format off */
const char *const kSkipReasonText[SKIP_REASON_COUNT] = {
    "",
    "max invested",
    "max positions",
    "max entries",
    "max same category",
    "max same symbol",
    "zero quantity",
    "limit not hit",
    "stop not hit",
    "ambiguous timing",
    "entry skip",
    "max setups",
    "max exposure",
    "max new positions",
    "max new exposure",
    "max new invested",
    "stop+limit not hit",
    "no data",
    "zero volume",
    "setup skip",
    "max long exposure",
    "max long invested",
    "max net exposure",
    "max net invested",
    "max short exposure",
    "max short invested",
    "min free cash",
    "min net exposure",
    "min net invested",
    "max symbol exposure",
    "max symbol invested",
    "max category exposure",
    "max category invested",
    "end of test",
};
/* clang-format on */

/* clang-format off */
const char *const kExitReasonText[EXIT_REASON_COUNT] = {
    "n/a",
    "exit rule",
    "exit limit",
    "exit stop",
    "end of test",
    "end of data",
    "trade list",
    "reduce position",
    "zero position",
    "roll forward",
};
/* clang-format on */

TradeRecord *AddTrade(TestRecord *test)
{
    if (test->tradeCount >= test->tradeCapacity) {
        int32_t capacity = 2 * test->tradeCount + 2;
        if (!ReallocMemory(&test->trades, (uint64_t)capacity * sizeof(TradeRecord))) return nullptr;
        test->tradeCapacity = capacity;
    }
    TradeRecord *trade = &test->trades[test->tradeCount++];
    memset(trade, 0, sizeof *trade);
    trade->number = test->tradeCount;
    return trade;
}

/* The factor that brings an exit price into the entry's split terms.  A
** missing split factor (0) is taken as no split rather than dividing by it. */
static double ExitToEntrySplit(const TradeRecord *trade)
{
    if (trade->splitIn == 0 || trade->splitOut == 0) return 1.0;
    return trade->splitIn / trade->splitOut;
}

double TradePriceMove(const TradeRecord *trade)
{
    if (!trade || trade->priceOut == 0) return 0.0;
    double move = trade->side * (trade->priceOut * ExitToEntrySplit(trade) - trade->priceIn);
    return RoundToStep(move, trade->roundingOut, 0);
}

double TradeNetProfit(const TradeRecord *trade)
{
    if (!trade || trade->dateOut < 1) return 0.0;
    /* Commissions and roll costs were converted to the account currency when
    ** they were charged, so they are not converted again here. */
    double commissions = trade->commissionIn + trade->commissionOut;
    if (trade->securityType != 0) {
        double gross = (trade->priceOut * trade->quantityOut - trade->priceIn * trade->quantityIn) * trade->side *
            trade->pointValue * trade->fxOut;
        return gross - commissions - trade->rollCosts;
    }
    double gross = (trade->priceOut * trade->quantityOut * trade->fxOut - trade->priceIn * trade->quantityIn * trade->fxIn) *
        trade->side * trade->pointValue;
    return gross - commissions + trade->dividends;
}

double TradeCurrencyGain(const TradeRecord *trade)
{
    if (!trade || trade->securityType != 0) return 0.0;
    return trade->side * trade->priceOut * trade->quantityOut * trade->pointValue * (trade->fxOut - trade->fxIn);
}

double ComputeCellEquity(const StatCell *cell, int compounded)
{
    double base = compounded ? cell->equityBase : cell->startEquity;
    return base + cell->cashInOut + cell->feesInOut - (cell->unsettledCash + cell->invested - cell->marginedValue) +
        (cell->shortInvested - cell->shortMarginedValue) - cell->futuresMargin;
}

const char *GetTradeReason(const char *customText, int32_t code, int isSkip)
{
    if (customText && customText[0] && strcmp(customText, "1") != 0) return customText;
    if (isSkip) return code >= 0 && code < SKIP_REASON_COUNT ? kSkipReasonText[code] : "n/a";
    return code >= 0 && code < EXIT_REASON_COUNT ? kExitReasonText[code] : "n/a";
}

/* The cell that carries the test's flags: its last filled row's first. */
static StatCell *FlagCell(const TestRecord *test)
{
    if (!test || !test->cells || test->strategyCount < 1 || test->rowsFilled < 1) return nullptr;
    const int32_t row = (test->rowsFilled < test->rowCount ? test->rowsFilled : test->rowCount) - 1;
    return row >= 0 ? &test->cells[(int64_t)row * test->strategyCount] : nullptr;
}

int MarkTestStopped(TestRecord *test)
{
    StatCell *cell = FlagCell(test);
    if (!cell) return 0;
    cell->testFlags |= CELL_TEST_STOPPED;
    return 1;
}

int TestWasStopped(const TestRecord *test)
{
    if (!test) return 0;
    const StatCell *cell = FlagCell(test);
    return (cell && (cell->testFlags & CELL_TEST_STOPPED)) || (test->rowsFilled > 0 && test->rowsFilled < test->rowCount);
}

int StrategyInGroup(const TestRecord *test, int32_t member, int32_t group)
{
    if (!test || !test->strategies || member < 0 || member >= test->strategyCount) return 0;
    const StrategyResult *result = &test->strategies[member];
    int32_t n = result->parentCount < STRATEGY_PARENT_MAX ? result->parentCount : STRATEGY_PARENT_MAX;
    for (int32_t k = 0; k < n; k++) {
        if (result->parents[k] == group) return 1;
    }
    return 0;
}

/* ---- whole names ------------------------------------------------------------------ */

/* The whole names after the script text's 0, or null when none are kept. */
static const char *WholeNames(const TestRecord *test)
{
    const char *text = test->settings.scriptText;
    if (!text || test->wholeNamesSize == 0) return nullptr;
    return text + strlen(text) + 1;
}

int SetTestNames(TestRecord *test, const char *dataFile, const char *script)
{
    TestSettingsCopy *s = &test->settings;
    CopyString(s->DataFile, sizeof s->DataFile, dataFile, (int)Utf8CutLength(dataFile, TEST_PATH_SIZE - 1));
    CopyString(s->ActiveScript, sizeof s->ActiveScript, script, (int)Utf8CutLength(script, TEST_PATH_SIZE - 1));
    const size_t textSize = s->scriptText ? strlen(s->scriptText) + 1 : 1;
    test->wholeNamesSize = 0;
    if (strcmp(s->DataFile, dataFile) == 0 && strcmp(s->ActiveScript, script) == 0) return 1;
    const size_t dataSize = strlen(dataFile) + 1, scriptSize = strlen(script) + 1;
    const bool hadText = s->scriptText != nullptr;
    if (!ReallocMemory(&s->scriptText, textSize + dataSize + scriptSize)) return 0;
    if (!hadText) s->scriptText[0] = 0;
    memcpy(s->scriptText + textSize, dataFile, dataSize);
    memcpy(s->scriptText + textSize + dataSize, script, scriptSize);
    test->wholeNamesSize = (uint32_t)(dataSize + scriptSize);
    return 1;
}

const char *TestDataFileName(const TestRecord *test)
{
    const char *names = WholeNames(test);
    return names ? names : test->settings.DataFile;
}

const char *TestScriptName(const TestRecord *test)
{
    const char *names = WholeNames(test);
    return names ? names + strlen(names) + 1 : test->settings.ActiveScript;
}

int WholeNamesFit(const char *text, uint64_t length, uint32_t namesSize)
{
    const char *end = text + length;
    const char *names = (const char *)memchr(text, 0, (size_t)length);
    if (!names || namesSize == 0 || (uint64_t)(end - names - 1) != namesSize) return 0;
    const char *p = names + 1;
    for (int k = 0; k < 2; k++) {
        const char *zero = (const char *)memchr(p, 0, (size_t)(end - p));
        if (!zero || zero - p >= PATH_SIZE || PathTooLong(p)) return 0;
        p = zero + 1;
    }
    return p == end;
}
