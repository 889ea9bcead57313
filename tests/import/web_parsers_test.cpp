/* web_parsers_test.cpp -- the three price answer readers over answers worked
** out by hand, percent-encoding and Unix seconds. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "import/import_fixture.h"
#include "marketdata/import/http_client.h"
#include "marketdata/import/web_parsers.h"
#include "marketdata/store/events.h"

namespace {

TEST(HttpHelpers, UrlEncodeAndUnixSeconds)
{
    struct Case {
        const char *text;
        int capacity;
        const char *encoded;
    } cases[] = {
        {"AB C/1", 40, "AB%20C%2F1"},
        {"\xC3", 40, "%C3"},
        {"ABC/", 5, "ABC"},
        {"$XJO.au", 40, "%24XJO%2Eau"},
        {"ABCD", 4, "ABC"},
    };
    for (const Case &c : cases) {
        char out[40];
        int n = UrlEncode(c.text, out, c.capacity);
        EXPECT_STREQ(out, c.encoded) << c.text;
        EXPECT_EQ(n, (int)strlen(c.encoded));
    }
    EXPECT_EQ(DateTimeToUnix(19700101, 0), 0);
    EXPECT_EQ(DateTimeToUnix(19700102, 23), 169200);
    EXPECT_EQ(DateTimeToUnix(20240102, 14) + 1800, 1704205800); /* 14:30 UTC, from the calendar */
    EXPECT_EQ(DateTimeToUnix(19691231, 0), -86400);
}

/* One record of the binary series: OLE date and F - 1 values. */
std::string NorgateRecord(double ole, std::initializer_list<float> values)
{
    std::string r((const char *)&ole, 8);
    for (float v : values) r.append((const char *)&v, 4);
    return r;
}

struct NorgateCase {
    const char *name;
    std::string headers;
    std::string body;
    int result;
    double extra0; /* Extra of the first bar */
    int dividends; /* dividend events */
    double close0; /* close of the first bar */
};

TEST_F(ImportTest, NorgatePricesReadEachLayout)
{
    Begin("Norgate", 20240101, 20241231);
    std::string oi7 = NorgateRecord(45293, {10, 11, 9, 10.5f, 1000, 77}) + NorgateRecord(45294, {10, 11, 9, 10, 900, 78});
    std::string plain6 = NorgateRecord(45293, {10, 11, 9, 10.5f, 1000}) + NorgateRecord(45294, {10, 11, 9, 10, 900});
    /* F = 9: the second record carries the first one's c = 0.5 over its divisor d. */
    std::string carry = NorgateRecord(45293, {20, 20, 20, 20, 100, 0, 20, 0.5f}) +
        NorgateRecord(45294, {10, 10, 10, 10, 100, 0, 10, 0});
    std::string zeroDivisor = NorgateRecord(45293, {20, 20, 20, 20, 100, 0, 20, 0.5f}) +
        NorgateRecord(45294, {10, 10, 10, 10, 100, 0, 0, 0});
    /* clang-format off */
    NorgateCase cases[] = {
        {"field count 4", "Field-Count: 4\r\nRecord-Count: 2\r\n", plain6, -1, 0, 0, 0},
        {"no record count", "Field-Count: 6\r\n", plain6, -1, 0, 0, 0},
        {"open interest", "Field-Count: 7\r\nRecord-Count: 2\r\nFields: Date,O,H,L,C,V,Open Interest\r\n", oi7, 2, 77, 0, 10.5},
        /* F = 6 holds no sixth value: the named turnover is not read from the next record. */
        {"turnover beyond the record", "Field-Count: 6\r\nRecord-Count: 2\r\nFields: Date,O,H,L,C,V,Turnover\r\n", plain6, 2, 0, 0, 10.5},
        /* Fewer records than announced: an answer cut short, not the history. */
        {"short body", "Field-Count: 6\r\nRecord-Count: 5\r\n", plain6.substr(0, 40), -1, 0, 0, 0},
        {"carried dividend", "Field-Count: 9\r\nRecord-Count: 2\r\n", carry, 2, 0, 1, 20},
        {"zero divisor", "Field-Count: 9\r\nRecord-Count: 2\r\n", zeroDivisor, 2, 0, 0, 20},
    };
    /* clang-format on */
    for (const NorgateCase &c : cases) {
        SymbolRecord r = {};
        ApplySymbolInfo("X", &r, SOURCE_NORGATE);
        int n = ParseNorgatePrices(c.headers.c_str(), c.body.data(), (uint32_t)c.body.size(), &r, 0);
        EXPECT_EQ(n, c.result) << c.name;
        if (n > 0) {
            EXPECT_EQ(r.bars[BAR_DAILY][0].date, 20240102) << c.name;
            EXPECT_EQ(r.bars[BAR_DAILY][0].close, c.close0) << c.name;
            EXPECT_EQ(r.bars[BAR_DAILY][0].extra, c.extra0) << c.name;
            int dividends = 0;
            for (int32_t e = 0; e < r.eventCount; e++) {
                if (r.events[e].kind != EVENT_DIVIDEND) continue;
                dividends++;
                EXPECT_EQ(r.events[e].date, 20240103) << c.name;
                EXPECT_DOUBLE_EQ(r.events[e].value, 0.5) << c.name; /* 0.5 x 1 x 10 / 10 */
            }
            EXPECT_EQ(dividends, c.dividends) << c.name;
        }
        FreeMemory(&r.bars[BAR_DAILY]);
        FreeMemory(&r.events);
    }
}

/* Answers cut short are told from whole ones by their own shape; what is
** no price answer at all is left to the readers. */
TEST(CutAnswers, AreToldByTheirShape)
{
    const std::string csv = "date,close,high\r\n2024-01-02,20,21\r\n";
    std::string records(2 * 28, '\0');
    struct Case {
        int source;
        const char *headers;
        std::string body;
        const char *damage; /* "" whole */
    } cases[] = {
        {SOURCE_TIINGO, nullptr, csv, ""},
        {SOURCE_TIINGO, nullptr, "date,close,high\n", ""},
        {SOURCE_TIINGO, nullptr, "date,close,high", ""},
        {SOURCE_TIINGO, nullptr, csv.substr(0, csv.size() - 2), "its last line has no line end"},
        {SOURCE_TIINGO, nullptr, csv.substr(0, csv.size() - 5) + "\n", "its last line holds 2 of the 3 fields its header names"},
        {SOURCE_TIINGO, nullptr, "date,name,close\n2024-01-02,\"A, Inc\",20\n", ""},
        {SOURCE_TIINGO, nullptr, "Error: Ticker 'X' not found, sorry", ""},
        {SOURCE_TIINGO, nullptr, "{\"detail\":\"Not found.\"}", ""},
        {SOURCE_YAHOO, nullptr, "<html><body>Will be right back", ""},
        {SOURCE_YAHOO, nullptr, " {\"a\":\"}]\\\"{\",\"b\":[1,2]}\n", ""},
        {SOURCE_YAHOO, nullptr, "{\"a\":\"}]\\\"{\",\"b\":[1,2]", "its JSON does not close"},
        {SOURCE_TIINGO_CRYPTO, nullptr, "[{\"ticker\":\"btc", "its JSON does not close"},
        {SOURCE_NORGATE, "Field-Count: 6\r\nRecord-Count: 2\r\n", records, ""},
        {SOURCE_NORGATE, "Field-Count: 6\r\nRecord-Count: 3\r\n", records + std::string(27, '\0'),
         "it holds 2 of the 3 records its Record-Count announces"},
        /* A successful answer without the series' headers is no series sent whole. */
        {SOURCE_NORGATE, "Content-Type: text/plain\r\n", "Symbol not found", "the answer has no Field-Count header"},
        {SOURCE_NORGATE, "Field-Count: 6\r\n", records, "the answer has no Record-Count header"},
        {SOURCE_NORGATE, "Content-Type: text/plain\r\n", "", ""},
        /* A status line and nothing more: cut inside the headers. */
        {SOURCE_NORGATE, "", "", "its headers do not end"},
        {SOURCE_NORGATE, "HTTP/1.1 200 OK\r\n\r\n", "", "its headers do not end"},
    };
    for (const Case &c : cases) {
        char why[PARSE_WHY_SIZE] = "x";
        int cut = FindCutAnswer(c.source, c.headers, c.body.data(), (uint32_t)c.body.size(), why);
        EXPECT_EQ(cut, c.damage[0] != 0) << c.body;
        EXPECT_STREQ(why, c.damage) << c.body;
    }
}

const char kChart[] =
    "{\"chart\":{\"result\":[{\"meta\":{\"currency\":\"GBp\",\"exchangeName\":\"LSE\",\"gmtoffset\":-18000},"
    "\"timestamp\":[1704205800,1704292200,1704378600],"
    "\"events\":{\"dividends\":{\"1704378600\":{\"date\":1704378600,\"amount\":0.25}},"
    "\"splits\":{\"1704378600\":{\"date\":1704378600,\"numerator\":2,\"denominator\":1,\"splitRatio\":\"2:1\"}}},"
    "\"indicators\":{\"quote\":[{\"open\":[10,11,6],\"high\":[12,13,7],\"low\":[9,10,5],\"close\":[11,12,6.5],"
    "\"volume\":[1000,2000,4000]}],\"adjclose\":[{\"adjclose\":[10,11,6]}]}}]}}";

TEST_F(ImportTest, YahooChartSplitsDividendsAndDamage)
{
    Begin("Yahoo", 20240101, 20241231);
    ImportItem row = {};
    row.dataSource = SOURCE_YAHOO;
    row.adjustment = ADJUST_CAPITAL;
    SymbolRecord r = {};
    ASSERT_EQ(ParseYahooChart(&row, kChart, "VOD.L", &r, 0), 3);
    EXPECT_STREQ(r.info.Currency, "GBp");
    EXPECT_STREQ(r.info.Exchange, "LSE");
    EXPECT_EQ(r.info.PointValue, 0.01);
    struct Expect {
        int32_t date;
        double open, close, volume, split;
    } expect[] = {{20240102, 20, 22, 500, 2}, {20240103, 22, 24, 1000, 2}, {20240104, 6, 6.5, 4000, 1}};
    for (int i = 0; i < 3; i++) {
        const Bar &b = r.bars[BAR_DAILY][i];
        EXPECT_EQ(b.date, expect[i].date) << i;
        EXPECT_EQ(b.open, expect[i].open) << i;
        EXPECT_EQ(b.close, expect[i].close) << i;
        EXPECT_EQ(b.volume, expect[i].volume) << i;
        EXPECT_EQ(b.split, expect[i].split) << i;
    }
    ASSERT_EQ(r.eventCount, 1);
    EXPECT_EQ(r.events[0].date, 20240104);
    EXPECT_EQ(r.events[0].value, 0.25);
    FreeMemory(&r.bars[BAR_DAILY]);
    FreeMemory(&r.events);

    struct Damaged {
        const char *from, *to;
        int result;
    } damaged[] = {
        {"\"volume\":[1000,2000,4000]", "\"volume\":[1000,2000]", 0}, /* short array */
        {"\"close\":[11,12,6.5]", "\"close\":[11,null,6.5]", 2},      /* a missing price: no bar */
        {"\"timestamp\":[1704205800,1704292200,1704378600]", "\"timestamps\":[]", 0},
        {"\"currency\":\"GBp\"", "\"currency\":\"GBP\"", 3},
        /* A timestamp outside the calendar gives no bar, whatever its size. */
        {"1704205800,1704292200,", "1704205800,4e42,", 2},
        {"1704205800,1704292200,", "1704205800,-1e300,", 2},
        {"1704205800,1704292200,", "1704205800,7.96899343984226e23,", 2}, /* a day count near the int64 limit */
        {"1704205800,1704292200,", "1704205800,253402387200,", 2},        /* 10000-01-01 */
    };
    for (const Damaged &d : damaged) {
        std::string text = kChart;
        text.replace(text.find(d.from), strlen(d.from), d.to);
        SymbolRecord s = {};
        EXPECT_EQ(ParseYahooChart(&row, text.c_str(), "X", &s, 0), d.result) << d.to;
        if (d.result == 2) {
            EXPECT_EQ(s.bars[BAR_DAILY][1].date, 20240104);
            EXPECT_NE(s.bars[BAR_DAILY][0].close, 0.0);
        }
        if (d.result == 3) {
            EXPECT_EQ(s.info.PointValue, 1.0);
        }
        FreeMemory(&s.bars[BAR_DAILY]);
        FreeMemory(&s.events);
    }
}

TEST_F(ImportTest, TiingoCryptoKeysStayInTheirRecord)
{
    Begin("TiingoCrypto", 20240101, 20240103);
    ImportItem row = {};
    row.dataSource = SOURCE_TIINGO_CRYPTO;
    const char answer[] =
        "[{\"ticker\":\"btcusd\",\"priceData\":["
        "{\"date\":\"2024-01-02T00:00:00+00:00\",\"open\":10,\"high\":12,\"low\":9,\"close\":11,\"volume\":5},"
        "{\"date\":\"2024-01-03T00:00:00+00:00\",\"open\":11,\"high\":13,\"low\":10,\"close\":12,\"volume\":6,\"tradesDone\":40},"
        "{\"date\":\"2024-01-04T00:00:00+00:00\",\"open\":12,\"high\":14,\"low\":11,\"close\":13,\"volume\":7,\"tradesDone\":50}]}]";
    SymbolRecord r = {};
    ASSERT_EQ(ParseTiingoCrypto(&row, answer, "BTCUSD", &r, 0), 2);
    EXPECT_EQ(r.bars[BAR_DAILY][0].date, 20240102);
    EXPECT_EQ(r.bars[BAR_DAILY][0].close, 11);
    EXPECT_EQ(r.bars[BAR_DAILY][0].extra, 0) << "the next record's tradesDone is not this one's";
    EXPECT_EQ(r.bars[BAR_DAILY][1].extra, 40);
    EXPECT_EQ(r.bars[BAR_DAILY][1].volume, 6);
    FreeMemory(&r.bars[BAR_DAILY]);
}

} // namespace

/* A long number text is copied through the tracked allocator: when memory
** has run out it is not read (the low-memory state ends the import) instead
** of being copied where a worker could throw. */
TEST(NumberText, LongTextsNeedTheTrackedAllocator)
{
    std::string big = "1";
    for (int k = 0; k < 50; k++) big += ",000";
    gOutOfMemory = 1;
    const double refused = ParseNumberText(big.data(), big.size(), NUMBER_POINT);
    const double small = ParseNumberText("1,234.5", 7, NUMBER_POINT);
    gOutOfMemory = 0;
    EXPECT_EQ(refused, 0.0);
    EXPECT_EQ(small, 1234.5);
    EXPECT_EQ(ParseNumberText(big.data(), big.size(), NUMBER_POINT), 1e150);
}
