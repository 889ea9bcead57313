/* fuzz_results.cpp -- the results file reader and the trade-list reader
** against damaged input: a valid results file cut at every byte and with
** extreme words written over it, and trade-list texts with damaged lines,
** each run through the fuzz targets' own checks. */
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "engine/results_file.h"
#include "support/program_state.h"

extern "C" int KvFuzz_results_file_fuzz(const uint8_t *data, size_t size);
extern "C" int KvFuzz_trade_list_fuzz(const uint8_t *data, size_t size);

namespace {

struct Lcg {
    uint32_t state;
    uint32_t Next()
    {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    }
    uint32_t Below(uint32_t n) { return (Next() << 15 | Next()) % n; }
};

struct DamagedInputs : ProgramStateTest {};

/* A file of two tests, each with strategies, cells, text, trades and items. */
std::string ValidResultsFile(const std::string &path)
{
    ResultsWindow *w = CreateResultsWindow(0, nullptr);
    for (int k = 0; k < 2; k++) {
        TestRecord *t = ReadTestRecord(nullptr, 1, 2, 3, 1);
        t->rowsFilled = 3;
        t->strategies[0].kind = t->strategies[1].kind = STRATEGY_KIND_STRATEGY;
        AllocMemory(&t->settings.scriptText, 4);
        CopyString(t->settings.scriptText, 4, "abc", -1);
        AddTrade(t);
        AddTrade(t);
        AddTestToResults(w, t);
    }
    CopyString(w->path, sizeof w->path, path.c_str(), -1);
    SaveResultsFile(w, 0);
    CloseResultsWindow(w);
    return ReadTestFile(path);
}

} // namespace

TEST_F(DamagedInputs, ResultsFilesCutOrOverwrittenLoadOrFailCleanly)
{
    const std::string file = ValidResultsFile(tmp.File("good.kvr"));
    ASSERT_GT(file.size(), 4000u);
#ifdef _WIN32
    const size_t step = 37; /* file calls are slow under Wine */
    const int rounds = 100;
#else
    const size_t step = 1;
    const int rounds = 1500;
#endif
    for (size_t cut = 0; cut < file.size(); cut += step)
        ASSERT_EQ(0, KvFuzz_results_file_fuzz((const uint8_t *)file.data(), cut)) << cut;
    static const uint32_t kInteresting[] = {0, 1, 2, 3, 88, 448, 1008, 0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000u,
                                            0xFFFFFFFFu, 0x3EC7AE14 /* 0.39 */, 0x3ECCCCCD /* 0.40 */, 1016, 0x445BC000 /* 879.0 */};
    Lcg rng = {20261207};
    for (int round = 0; round < rounds; round++) {
        std::string s = file;
        for (int e = 0, n = 1 + (int)rng.Below(3); e < n; e++) {
            uint32_t v = kInteresting[rng.Below(sizeof kInteresting / 4)];
            size_t at = 4 * rng.Below((uint32_t)s.size() / 4);
            for (int k = 0; k < 4; k++) s[at + k] = (char)(v >> (8 * k));
        }
        ASSERT_EQ(0, KvFuzz_results_file_fuzz((const uint8_t *)s.data(), s.size())) << "round " << round;
    }
}

TEST_F(DamagedInputs, TradeListsWithDamagedLinesReadOrFailCleanly)
{
    /* clang-format off */
    const std::string lines[] = {
        "Symbol,Side,DateIn,TimeIn,QtyIn,PriceIn,DateOut,TimeOut,QtyOut,PriceOut,Reason,Strategy,AssetId\n",
        "Symbol,Action,DateTime,Shares,PriceIn,FeesIn\n",
        "AAA,long,2024-01-08,open,100,10,2024-01-10,close,100,12,done,x,5\n",
        "AAA,Buy,2024-01-08 9:30,100,10,1\n",
        "AAA,Sell,2024-01-09,250,11,1\n",
        "\"unterminated,2024-01-08,1\n",
        ",,,,,,,,,,,,,,,,,,,,,,,,,,\n",
        "BBB,9,99999999,25:99:99,1e308,-1e308,0/0/0,x,nan,inf\n",
        std::string(600, 'Z') + ",2024-01-08\n",
        "\xEF\xBB\xBFSymbol;DateIn;QtyIn\n",
        "ccc;31.02.2024;\"1.000,5\"\n",
        "\r\n\r\n",
    };
    /* clang-format on */
    Lcg rng = {7};
    for (int round = 0; round < 400; round++) {
        std::string s(1, (char)rng.Next());
        for (int k = 0, n = 1 + (int)rng.Below(8); k < n; k++) s += lines[rng.Below(sizeof lines / sizeof lines[0])];
        ASSERT_EQ(0, KvFuzz_trade_list_fuzz((const uint8_t *)s.data(), s.size())) << "round " << round;
    }
}
