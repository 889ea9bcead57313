/* trade_list_fuzz.cpp -- libFuzzer target for the trade-list reader: the
** first byte chooses the number format, delimiter and date order, the rest is
** the CSV file.  Whatever the text, the read gives -1 or a row count within
** the rows allocated, every row's texts end inside their arrays, mapping the
** rows onto no loaded data marks them invalid, and freeing the rows gives
** back every byte.  Seeds in fuzz/seeds/trade_list_fuzz/ are replayed by the
** normal test build.
*/
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/trade_list.h"
#include "foundation/allocator.h"
#include "foundation/text_match.h"
#include "fuzz_input.h"
#include "platform/platform.h"
#include "script/compiler/strategy.h"
#include "shell/headless/headless.h"
#include "services/services.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) return 0;
    const std::string file = FuzzInputFile("kv_tradelist_fuzz", ".csv", data + 1, size - 1);
    if (file.empty()) return 0;
    const char *path = file.c_str();

    const uint64_t baseline = gAllocatedBytes.load();
    ResetHeadlessShell();
    gHeadless.captureLog = 1;
    std::unique_ptr<StrategyRecord> s(new StrategyRecord{});
    CopyString(s->name, sizeof s->name, "Fuzz", -1);
    CopyString(s->TradeList, sizeof s->TradeList, path, -1);
    s->TLNumFmt = data[0] & 1;
    s->TLDelim = (data[0] >> 1) % 3;
    s->TLDateFmt = (data[0] >> 3) & 1;
    s->TLTimeShift = (data[0] >> 4) & 1 ? -5 : 0;
    const char *why = nullptr;
    const int32_t count = ReadTradeListFile(s.get());
    if (count != s->tradeListRowCount)
        why = "the count returned differs from the strategy's";
    else if (count < -1 || count > s->tradeListRowCapacity)
        why = "more rows than room";
    const TradeListRow *rows = (const TradeListRow *)s->tradeListRows;
    for (int32_t k = 0; !why && k < count; k++) {
        if (!memchr(rows[k].symbol, 0, TL_SYMBOL_SIZE) || !memchr(rows[k].reason, 0, TL_REASON_SIZE))
            why = "a row text runs past its array";
    }
    if (!why && count > 0) {
        BuildTradeListTrades(s.get(), 20000101, 20301231);
        for (int32_t k = 0; k < count; k++)
            if (rows[k].valid) why = "a row is valid without data";
    }
    FreeMemory(&s->tradeListRows);
    if (!why && gAllocatedBytes.load() != baseline) why = "the rows were not all freed";
    ResetHeadlessShell();
    PlatDeleteFile(path);
    if (why) return FuzzCheckFailed(why);
    return 0;
}
