/* line_ends_test.cpp -- price files whose lines end in CR alone, long enough
** that a bar table sized by a count of line feeds could not hold them. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "foundation/dates.h"
#include "foundation/text_match.h"
#include "import/import_fixture.h"
#include "marketdata/import/import_driver.h"
#include "script/compiler/import_items.h"

namespace {

/* Forty weekdays from Tue 2 January 2024, each bar closing at its number
** (1..40), in a folder file with quoted fields and in one without. */
TEST_F(ImportTest, FilesWithCarriageReturnsAloneKeepEveryBar)
{
    std::vector<int32_t> days;
    for (int32_t d = 20240102; days.size() < 40; d = NextDay(d))
        if (DayOfWeek(d) <= 5) days.push_back(d);
    ASSERT_EQ(days.back(), 20240226); /* 22 in January, 18 in February */
    std::string plain = "Date,Close\r", quoted = "\"Date\",\"Close\"\r";
    for (size_t i = 0; i < days.size(); i++) {
        const std::string date = std::to_string(days[i]), close = std::to_string(i + 1);
        plain += date + "," + close + "\r";
        quoted += "\"" + date + "\",\"" + close + "\"\r";
    }
    PlatCreateFolder(tmp.File("cr").c_str());
    Write("cr\\PLAIN.csv", plain);
    Write("cr\\QUOTED.csv", quoted);
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "CSV"), 0);
    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("cr")), 0);
    gImportState.StartDate = 20240101;
    gImportState.EndDate = 20241231;
    gImportState.Padding = 0;
    CopyString(gImportState.SaveAs, sizeof gImportState.SaveAs, tmp.File("out.kvd").c_str(), -1);
    CopyString(gImportState.LogFile, sizeof gImportState.LogFile, tmp.File("import.log").c_str(), -1);
    ASSERT_EQ(RunImport(), 1) << Messages();
    for (const char *name : {"PLAIN", "QUOTED"}) {
        const SymbolRecord &record = Symbol(name);
        EXPECT_EQ(Dates(record), days) << name;
        for (int32_t i = 0; i < record.barCounts[BAR_DAILY]; i++)
            EXPECT_EQ(record.bars[BAR_DAILY][i].close, i + 1.0) << name << " bar " << i;
    }
}

} // namespace
