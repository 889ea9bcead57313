/* fuzz_datafile.cpp -- the data file loader against damaged files: a fixed,
** seeded set of damaged copies of a valid file (overwritten bytes, extreme
** counts, dates outside the calendar, other versions, cuts), each loaded and
** checked as the fuzz target checks its inputs (fuzz/datafile_check.h).
*/
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "datafile_check.h"
#include "marketdata/data_fixture.h"
#include "support/test_support.h"

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

void PutU32(std::string &s, size_t at, uint32_t v)
{
    if (at + 4 > s.size()) return;
    for (int k = 0; k < 4; k++) s[at + k] = (char)(v >> (8 * k));
}

uint32_t GetU32(const std::string &s, size_t at)
{
    uint32_t v = 0;
    for (int k = 3; k >= 0; k--) v = v << 8 | (uint8_t)s[at + k];
    return v;
}

/* Offsets of every date in a current-version file: date-list entries,
** trailer first and last dates, bar dates. */
std::vector<size_t> DateOffsets(const std::string &file)
{
    std::vector<size_t> out;
    size_t at = DATA_HEADER_SIZE + (size_t)GetU32(file, 44) * LIST_NAME_SIZE + GetU32(file, 36);
    for (uint32_t offset : {24u, 28u, 32u, 304u, 308u}) {
        uint32_t length = GetU32(file, offset);
        for (uint32_t k = 0; k + 1 < length; k++) out.push_back(at + 4 * k);
        at += 4 * (size_t)length;
    }
    for (uint32_t i = 0, n = GetU32(file, 20); i < n; i++) {
        size_t trailer = at + SYMBOL_INFO_SIZE;
        out.push_back(trailer + 16);
        out.push_back(trailer + 20);
        at = trailer + SYMBOL_TRAILER_SIZE;
        for (uint32_t offset : {0u, 4u, 8u, 32u, 36u})
            for (uint32_t k = 0, bars = GetU32(file, trailer + offset); k < bars; k++, at += sizeof(Bar)) out.push_back(at);
        at += (size_t)GetU32(file, trailer + 12) * sizeof(EventItem) + (size_t)GetU32(file, 40) * sizeof(FundamentalItem);
    }
    return out;
}

struct DataFileFuzz : datafixture::DataTest {};

} // namespace

TEST_F(DataFileFuzz, DamagedCopiesOfAValidFileLoadOrFailCleanly)
{
    TempFolder dir;
    datafixture::MakeLoadedData({{"AAA", 60, 2}, {"BBB", 25, 0}, {"CCC", 8, 1}}, 2, 2, "note");
    const std::string good = dir.File("good.kvd");
    ASSERT_EQ(SaveDataFile(good.c_str(), datafixture::ImportText()), 1);
    const std::string file = ReadTestFile(good);
    UnloadData();
    const std::vector<size_t> dates = DateOffsets(file);
    ASSERT_GT(dates.size(), 100u);

    static const uint32_t kInteresting[] = {0, 1, 2, 23, 24, 64, 255, 256, 257, 1384, 1424,
                                            0x7FFF, 0xFFFF, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
    static const float kVersions[] = {0.26f, 0.27f, 0.28f, 0.29f, 0.30f, 0.31f, 0.32f, 0.33f, 0.34f, 0.35f};
    static const uint32_t kBadDates[] = {0, 1, 9991231, 99991232, 100000101, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu};
#ifdef _WIN32
    const int rounds = 300; /* file calls are slow under Wine */
#else
    const int rounds = 3000;
#endif
    Lcg rng = {20240607};
    for (int round = 0; round < rounds; round++) {
        std::string s = file;
        int edits = 1 + (int)rng.Below(3);
        for (int e = 0; e < edits; e++) {
            switch (rng.Below(6)) {
            case 0: /* a few bytes anywhere */
                for (int k = 0; k < 4; k++) s[rng.Below((uint32_t)s.size())] = (char)rng.Next();
                break;
            case 1: /* an extreme value in an aligned word of the header or the records */
                PutU32(s, 4 * rng.Below((uint32_t)s.size() / 4), kInteresting[rng.Below(16)]);
                break;
            case 2: /* a header count */
                PutU32(s, 4 * (4 + rng.Below(8)), kInteresting[rng.Below(16)]);
                break;
            case 3: { /* another version, its record size sometimes to match */
                float v = kVersions[rng.Below(10)];
                uint32_t bits;
                memcpy(&bits, &v, 4);
                PutU32(s, 0, bits);
                DataFileLayout layout;
                if (rng.Below(2) && GetDataFileLayout(v, &layout)) PutU32(s, 4, layout.recordSize);
                break;
            }
            case 4: /* a date outside the calendar */
                PutU32(s, dates[rng.Below((uint32_t)dates.size())], kBadDates[rng.Below(8)]);
                break;
            default: /* a cut */
                s.resize(rng.Below((uint32_t)s.size() + 1));
                break;
            }
        }
        std::string why;
        ASSERT_TRUE(CheckLoad(dir.path, (const uint8_t *)s.data(), s.size(), &why)) << "round " << round << ": " << why;
    }
}
