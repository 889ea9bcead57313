/* fuzz_import.cpp -- the price-file readers against seeded damaged copies of
** valid inputs, through the check of the fuzz target (import_check.h). */
#include <cstdio>
#include <cstring>
#include <string>

#include "import_check.h"

#include <gtest/gtest.h>

#include "support/program_state.h"

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

std::string Mbf(float value)
{
    uint32_t bits;
    memcpy(&bits, &value, 4);
    if (value == 0.0f) return std::string(4, '\0');
    return std::string{(char)(bits & 0xFF), (char)((bits >> 8) & 0xFF),
                       (char)((bits >> 31) << 7 | ((bits >> 16) & 0x7F)), (char)(((bits >> 23) & 0xFF) + 2)};
}

std::string ValidCsv()
{
    std::string text = "Date,Open,High,Low,Close,Volume,Split,Dividend\n";
    for (int d = 1; d <= 28; d++) {
        char line[128];
        snprintf(line, sizeof line, "2024-02-%02d,%d.5,%d,%d,%d.25,%d,%s,%s\n", d, 10 + d, 11 + d, 9 + d, 10 + d,
                 100 * d, d == 15 ? "2" : "", d == 20 ? "0.5" : "");
        text += line;
    }
    return text;
}

std::string ValidData()
{
    std::string first(24, '\0');
    first[2] = 20;
    std::string file = first;
    for (int d = 1; d <= 20; d++) {
        file += Mbf((float)(1240200 + d));
        for (float v : {10.0f + d, 11.0f + d, 9.0f + d, 10.5f + d, 100.0f * d}) file += Mbf(v);
    }
    return file;
}

struct ImportFuzz : ProgramStateTest {};

TEST_F(ImportFuzz, DamagedPriceFilesReadOrFailCleanly)
{
    const std::string valid[IMPORT_FUZZ_TARGETS] = {ValidCsv(), ValidMaster(), ValidData()};
    static const char kBytes[] = {'\0', '\n', '\r', ',', '"', ';', '-', '.', '9', 'e', ' ', '\xff', '\x80'};
#ifdef _WIN32
    const int rounds = 150; /* file calls are slow under Wine */
#else
    const int rounds = 900;
#endif
    Lcg rng = {20241207};
    std::string why;
    for (int round = 0; round < rounds; round++) {
        int target = round % IMPORT_FUZZ_TARGETS;
        std::string s = valid[target];
        int edits = 1 + (int)rng.Below(4);
        for (int e = 0; e < edits && !s.empty(); e++) {
            size_t at = rng.Below((uint32_t)s.size());
            switch (rng.Below(4)) {
            case 0: s[at] = kBytes[rng.Below(sizeof kBytes)]; break;
            case 1: s[at] = (char)rng.Below(256); break;
            case 2: s.resize(at); break; /* cut */
            default: s.insert(at, std::string(1 + rng.Below(300), kBytes[rng.Below(sizeof kBytes)])); break;
            }
        }
        ASSERT_TRUE(CheckImportInput(tmp.path, target, (const uint8_t *)s.data(), s.size(), &why))
            << "round " << round << " target " << target << ": " << why;
    }
    for (int target = 0; target < IMPORT_FUZZ_TARGETS; target++)
        ASSERT_TRUE(CheckImportInput(tmp.path, target, (const uint8_t *)"", 0, &why)) << "empty input: " << why;
}

} // namespace
