/* online_import_test.cpp -- the HTTP slots and the online import against a
** local server: retries, time-outs, status answers, a refused certificate,
** one against many workers, a stop, and the updater's interface. */
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/dates.h"
#include "foundation/settings_table.h"
#include "import/import_fixture.h"
#include "import/local_http_server.h"
#include "marketdata/import/http_client.h"
#include "marketdata/import/import_driver.h"
#include "marketdata/import/online_import.h"
#include "marketdata/store/constituency.h"
#include "marketdata/store/data_load.h"
#include "marketdata/store/datafile.h"
#include "services/services.h"

namespace {

struct OnlineTest : ImportTest {
    OnlineHost saved[ONLINE_HOST_COUNT];
    void SetUp() override
    {
        ImportTest::SetUp();
        memcpy(saved, gOnlineHosts, sizeof saved);
        gSettings.ImportTimeout = 1;
        gSettings.ImportRetries = 0;
        gSettings.ImportPause = 0;
        gSettings.ImportThreads = 0;
        gSettings.CalcThreads = 1;
    }
    void TearDown() override
    {
        for (int k = 0; k < HTTP_SLOT_COUNT; k++) HttpClose(k);
        memcpy(gOnlineHosts, saved, sizeof saved);
        gRun.state.store(RUN_IDLE);
        ImportTest::TearDown();
    }
    void PointAt(const LocalHttpServer &server) { PointAt(server.port); }
    void PointAt(int port)
    {
        for (OnlineHost &h : gOnlineHosts) h = {"127.0.0.1", port, 0};
    }
    /* A fresh test's state, asking server. */
    void StartOver(const LocalHttpServer &server)
    {
        TearDown();
        SetUp();
        PointAt(server);
    }
    ImportItem *SourceRow() { return (ImportItem *)gImportItems.items; }
    void Add(const char *symbol)
    {
        std::string s = symbol;
        ASSERT_NE(AddSymbolToImportList(s.data(), 1, 1, 1), nullptr);
    }
};

/* A chart answer with two bars whose prices follow from the symbol's number. */
std::string ChartFor(int n)
{
    char text[600];
    snprintf(text, sizeof text,
             "{\"chart\":{\"result\":[{\"meta\":{\"currency\":\"USD\",\"exchangeName\":\"NMS\",\"gmtoffset\":-18000},"
             "\"timestamp\":[1704205800,1704292200],\"indicators\":{\"quote\":[{\"open\":[%d,%d],\"high\":[%d,%d],"
             "\"low\":[%d,%d],\"close\":[%d,%d],\"volume\":[100,200]}]}}]}}",
             n + 10, n + 11, n + 12, n + 13, n + 9, n + 10, n + 11, n + 12);
    return text;
}

/* The same answer naming its symbol, as the chart service's meta does. */
std::string ChartNamed(int n, const std::string &symbol)
{
    std::string chart = ChartFor(n);
    return chart.insert(chart.find("\"currency\""), "\"symbol\":\"" + symbol + "\",");
}

int SymbolNumber(const std::string &path)
{
    size_t at = path.find("/chart/S");
    return at == std::string::npos ? -1 : atoi(path.c_str() + at + 8);
}

/* The first line of an answer is quoted when it fits the room given, to
** the last character, and not at all (nor cut) when it does not. */
TEST(HttpAnswerText, TheFirstLineIsQuotedOnlyWhenItFits)
{
    for (int length : {15, 16}) {
        std::string body = std::string((size_t)length, 'x') + "\r\nmore";
        HttpSlot slot = {};
        slot.body[0] = &body[0];
        slot.received = (uint32_t)body.size();
        std::vector<char> out(16); /* exactly the room: a write past it is caught */
        HttpAnswerLine(slot, out.data(), (int)out.size());
        EXPECT_EQ(std::string(out.data()), length < 16 ? std::string(15, 'x') : "") << length;
    }
}

TEST_F(OnlineTest, RequestsJudgeStatusTimeAndCertificate)
{
    std::atomic<int> asked{0};
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        if (path == "/status500") a = {500, "", "server trouble"};
        if (path == "/slow") a.delayMs = 1500;
        if (path == "/drop") a.drop = true;
        if (path == "/endless") a.endless = true;
        if (path == "/flaky") a.drop = asked++ == 0;
        if (path == "/ok" || path == "/flaky") a.body = "fine";
        if (path == "/redirect") a = {302, "Location: /ok\r\n", "moved"};
        if (path.rfind("/chunked", 0) == 0) {
            a.body = path == "/chunked-empty" ? "" : "an answer in five chunks";
            a.chunked = true;
        }
        if (path == "/cut") {
            a.body = "0123456789abcdefghij";
            a.cutAt = 10;
        }
        return a;
    });
    ASSERT_EQ(HttpConnect(0, "127.0.0.1", server.port, 0, "Local"), 1);
    EXPECT_EQ(std::string(gHttpSlots[0].target), "127.0.0.1:" + std::to_string(server.port));
    /* Any status with a body is an answer, a redirection's too (it is not
    ** followed: the answer would be another request's); only getting none,
    ** or less than the answer announced, fails. */
    struct Case {
        const char *path;
        int result;
        const char *body;
        int status;
        double seconds; /* at most, with room for a loaded machine (a time-out of a second
                           under Wine beside a full build has taken 3.2 s); a lost time-out
                           shows as a success of /slow, whose answer comes after 1.5 s */
    } cases[] = {
        {"/ok", 1, "fine", 200, 2.5},
        {"/status500", 1, "server trouble", 500, 2.5},
        {"/slow", 0, "", 0, 4.5},
        {"/drop", 0, "", 0, 2.5},
        {"/endless", 0, "", 0, 4.5},
        {"/redirect", 1, "moved", 302, 2.5},
        {"/chunked", 1, "an answer in five chunks", 200, 2.5},
        {"/chunked-empty", 1, "", 200, 2.5}, /* only the last chunk: an empty answer */
        {"/cut", 0, "", 0, 2.5},
    };
    for (const Case &c : cases) {
        SetImportErrorText(nullptr);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(HttpGet(0, c.path, 0, HTTP_BODY_FIRST), c.result) << c.path;
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, c.seconds) << c.path << ": the time-out of a second holds";
        if (c.result) {
            EXPECT_STREQ(gHttpSlots[0].body[0], c.body) << c.path;
            EXPECT_EQ(gHttpSlots[0].status, c.status) << c.path;
        } else {
            EXPECT_NE(gImportErrorText[0], 0) << c.path << ": a failure says why";
        }
    }
    std::vector<std::string> paths = server.Paths();
    EXPECT_EQ(std::count(paths.begin(), paths.end(), "/ok"), 1) << "the redirection was followed";
    /* HTTPS to a plain-HTTP port: refused with the transport's own words. */
    SetImportErrorText(nullptr);
    EXPECT_EQ(HttpConnect(1, "127.0.0.1", server.port, HTTP_FLAG_SECURE, "Local"), 0);
    EXPECT_NE(gImportErrorText[0], 0);
    EXPECT_EQ(gHttpSlots[1].connection, nullptr);
}

#ifndef _WIN32
/* ImportTimeout 0 keeps the transport's own limits: a server that takes a
** request and never answers ends it after half a minute of silence, as
** WinHTTP's default receive time-out does. */
TEST_F(OnlineTest, NoTimeoutSettingStillEndsASilentServer)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a;
        a.body = "late";
        if (path == "/silent") a.delayMs = 90000;
        return a;
    });
    gSettings.ImportTimeout = 0;
    ASSERT_EQ(HttpConnect(0, "127.0.0.1", server.port, 0, "Local"), 1);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HttpGet(0, "/silent", 0, HTTP_BODY_FIRST), 0);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 25.0);
    EXPECT_LT(seconds, 60.0);
}
#endif

TEST_F(OnlineTest, YahooImportIsTheSameOnOneOrManyWorkers)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a;
        int n = SymbolNumber(path);
        if (n == 7)
            a.body = "<html>not a chart</html>"; /* damaged: passed over */
        else if (n >= 0)
            a.body = ChartFor(n);
        else
            a.body = "home";
        return a;
    });
    std::map<std::string, std::vector<double>> runs[2];
    const int workers[2] = {1, 32};
    for (int run = 0; run < 2; run++) {
        if (run) {
            TearDown();
            SetUp();
        }
        PointAt(server);
        gSettings.CalcThreads = workers[run];
        Begin("Yahoo", 20240101, 20241231);
        for (int s = 0; s < 40; s++) Add(("S" + std::to_string(s)).c_str());
        ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
        EXPECT_EQ(gImport.processedCount, 40);
        for (int32_t i = 0; i < gImport.count; i++) {
            const SymbolRecord &r = gStore.symbols[i];
            std::vector<double> &v = runs[run][r.info.Symbol];
            for (int32_t b = 0; b < r.barCounts[BAR_DAILY]; b++)
                v.insert(v.end(), {(double)r.bars[BAR_DAILY][b].date, r.bars[BAR_DAILY][b].close});
        }
    }
    EXPECT_EQ(runs[0].size(), 39u);
    EXPECT_EQ(runs[0], runs[1]);
    EXPECT_EQ(runs[0]["S3"], (std::vector<double>{20240102, 14, 20240103, 15}));
    EXPECT_EQ(runs[0].count("S7"), 0u);
}

TEST_F(OnlineTest, RetriesThenFailsWithTheReason)
{
    std::atomic<int> calls{0};
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        int n = SymbolNumber(path);
        if (n == 1) {
            /* S1 drops the first request and is fine afterwards. */
            if (calls++ == 0)
                a.drop = true;
            else
                a.body = ChartFor(1);
        } else if (n == 2) {
            a.drop = true; /* S2 never answers */
        } else {
            a.body = n >= 0 ? ChartFor(n) : "home";
        }
        return a;
    });
    PointAt(server);
    gSettings.ImportRetries = 1;
    Begin("Yahoo", 20240101, 20241231);
    Add("S1");
    Add("S2");
    EXPECT_EQ(ImportOnlineSymbols(SourceRow()), 0);
    EXPECT_EQ(calls.load(), 2);
    std::string m = Messages();
    EXPECT_NE(m.find("Yahoo data import encountered an error."), std::string::npos) << m;
    EXPECT_NE(m.find("S2: no answer to the S2 data request after 2 attempts ("), std::string::npos) << m;
    EXPECT_EQ(gImport.count, 1);
}

HttpAnswer Updater(const std::string &path, const char *watchlist);

/* One unknown or failing symbol costs only itself: the answers of a 404, a
** 429 or a 500 are read, refused for their content, and not asked again. */
TEST_F(OnlineTest, ErrorAnswersPassOverTheirSymbolOnly)
{
    std::map<std::string, int> asked;
    std::mutex askedLock;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        int n = SymbolNumber(path);
        {
            std::lock_guard<std::mutex> hold(askedLock);
            asked[path.substr(0, path.find('?'))]++;
        }
        if (n == 2)
            a = {404, "", "{\"chart\":{\"result\":null,\"error\":{\"code\":\"Not Found\","
                          "\"description\":\"No data found, symbol may be delisted\"}}}"};
        else if (n == 4)
            a = {429, "", "Too Many Requests"};
        else if (n == 5)
            a = {500, "", "<html>Internal Server Error</html>"};
        else if (n == 7)
            a = {500, "", ChartFor(7)}; /* an error answer is no price answer, whatever it holds */
        else
            a.body = n >= 0 ? ChartFor(n) : "home";
        return a;
    });
    PointAt(server);
    gSettings.ImportRetries = 2;
    std::string out = tmp.File("three.kvd"), log = tmp.File("three.log");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "Yahoo"), 0);
    ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, "S1 S2 S3"), 0);
    gImportState.StartDate = 20240101;
    gImportState.EndDate = 20241231;
    CopyString(gImportState.SaveAs, sizeof gImportState.SaveAs, out.c_str(), -1);
    CopyString(gImportState.LogFile, sizeof gImportState.LogFile, log.c_str(), -1);
    ASSERT_EQ(RunImport(), 1) << Messages();
    EXPECT_EQ(gRun.resultCode.load(), RESULT_OK);
    UnloadData();
    ASSERT_EQ(ReadDataFile(out.c_str(), 0), 1) << Messages();
    ASSERT_EQ(gStore.symbolCount, 2);
    EXPECT_STREQ(gStore.symbols[0].info.Symbol, "S1");
    EXPECT_STREQ(gStore.symbols[1].info.Symbol, "S3");
    EXPECT_EQ(asked["/v8/finance/chart/S2"], 1) << "an answer is not asked for again";
    std::string text = ReadTestFile(log);
    EXPECT_NE(text.find("S2 was not imported: the server answered with status 404"), std::string::npos) << text;

    /* A 429 and a 500 are passed over the same way, in a block of many workers. */
    StartOver(server);
    gSettings.CalcThreads = 4;
    Begin("Yahoo", 20240101, 20241231);
    for (const char *s : {"S3", "S4", "S5", "S6", "S7"}) Add(s);
    ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
    EXPECT_EQ(gImport.count, 2);
    EXPECT_EQ(gImport.refusedCount, 3);

    /* The updater answers an unknown symbol, and its fields, with 404; an
    ** error answer that carries a series' headers and records is no series
    ** either. */
    LocalHttpServer updater([](const std::string &path) {
        if (path.find("/ZZZ") != std::string::npos)
            return HttpAnswer{404, "", path.rfind("/api/v1/prices/", 0) == 0 ? "Symbol ZZZ not found" : ""};
        HttpAnswer a = Updater(path, "");
        if (path.rfind("/api/v1/prices/YYY", 0) == 0) a.status = 500;
        return a;
    });
    StartOver(updater);
    Begin("Norgate", 20240101, 20241231);
    Add("AAA");
    Add("YYY");
    Add("ZZZ");
    EchoKept echo;
    ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
    ASSERT_EQ(gImport.count, 1);
    EXPECT_STREQ(gStore.symbols[0].info.Symbol, "AAA");
    EXPECT_EQ(gImport.refusedCount, 2);
    EXPECT_NE(std::string::npos, echo.text.find("2:YYY was not imported: the server answered with status 500\n")) << echo.text;
}

std::string gEchoed;
void KeepEcho(int stream, const char *text) { gEchoed += std::to_string(stream) + ":" + text; }

/* A successful answer that holds no prices names its symbol with the reason
** on standard error and in the log, as a refused file is named. */
TEST_F(OnlineTest, AnswersWithoutPricesAreNamedWithTheReason)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a;
        const int n = SymbolNumber(path);
        std::string chart = ChartFor(n);
        if (n == 1) a.body = "<!DOCTYPE html><html><body>Will be right back</body></html>";
        if (n == 3) a.body = chart.replace(chart.find("[100,200]"), 9, "[100]");
        if (n == 4) a.body = chart;
        if (path.rfind("/tiingo/crypto/prices", 0) == 0) a.body = "[]";
        if (n < 0 && a.body.empty() && path.find("/tiingo/") == std::string::npos) a.body = "home";
        return a;
    });
    PointAt(server);
    gEchoed.clear();
    gConsoleEcho = KeepEcho;
    Begin("Yahoo", 20240101, 20241231);
    for (const char *s : {"S1", "S2", "S3", "S4"}) Add(s);
    const int yahoo = ImportOnlineSymbols(SourceRow());
    const int stored = gImport.count;
    StartOver(server);
    Begin("TiingoCrypto", 20240101, 20241231);
    Add("btcusd");
    const int crypto = ImportOnlineSymbols(SourceRow());
    gConsoleEcho = nullptr;
    ASSERT_EQ(1, yahoo) << Messages();
    ASSERT_EQ(1, crypto) << Messages();
    EXPECT_EQ(1, stored);
    for (const char *line : {"S1 was not imported: the answer holds no timestamps\n",
                             "S2 was not imported: the answer is empty (status 200)\n",
                             "S3 was not imported: the answer's volume array holds 1 values for 2 timestamps\n",
                             "btcusd was not imported: the answer holds no price records\n"})
        EXPECT_NE(std::string::npos, gEchoed.find(std::string("2:") + line)) << line << gEchoed;
    EXPECT_EQ(std::string::npos, gEchoed.find("S4")) << gEchoed;
}

TEST_F(OnlineTest, StopEndsTheImport)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a;
        int n = SymbolNumber(path);
        a.body = n >= 0 ? ChartFor(n) : "home";
        if (n >= 0) a.delayMs = 100;
        return a;
    });
    PointAt(server);
    gSettings.CalcThreads = 2;
    Begin("Yahoo", 20240101, 20241231);
    for (int s = 0; s < 30; s++) Add(("S" + std::to_string(s)).c_str());
    gRun.state.store(RUN_IMPORT);
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        gRun.state.store(RUN_STOP_REQUESTED);
    });
    EXPECT_EQ(ImportOnlineSymbols(SourceRow()), 0);
    stopper.join();
    EXPECT_LT(gImport.count, 30);
    EXPECT_NE(Messages().find("Yahoo data import was stopped."), std::string::npos) << Messages();
}

/* The updater's interface: status, watchlist, a security's fields and prices. */
std::string NorgateSeries()
{
    std::string body;
    double dates[] = {45293, 45294};
    float values[2][5] = {{10, 11, 9, 10.5f, 1000}, {10.5f, 12, 10, 11, 1100}};
    for (int i = 0; i < 2; i++) {
        body.append((const char *)&dates[i], 8);
        body.append((const char *)values[i], 20);
    }
    return body;
}

HttpAnswer Updater(const std::string &path, const char *watchlist)
{
    HttpAnswer a;
    if (path == "/api/v1/status")
        a.body = "OK";
    else if (path.rfind("/api/v1/watchlist/", 0) == 0)
        a.body = watchlist;
    else if (path.rfind("/api/v1/prices/", 0) == 0) {
        a.headers = "Field-Count: 6\r\nRecord-Count: 2\r\n";
        a.body = NorgateSeries();
    } else if (path.find("/basetype") != std::string::npos)
        a.body = "Stock";
    else if (path.find("/name") != std::string::npos)
        a.body = "Name & Co <Ltd>";
    else if (path.find("correspondingindustryindex") != std::string::npos)
        a.body = "$SPXIT";
    return a;
}

TEST_F(OnlineTest, NorgateWatchlistAndIndustryIndexes)
{
    const char *watchlist = "Symbol,Name\r\n";
    LocalHttpServer server([&](const std::string &path) { return Updater(path, watchlist); });
    PointAt(server);
    Begin("Norgate", 20240101, 20241231);
    ImportItem row = *SourceRow();
    row.kind = IMPKW_INCLUDE_LIST;
    row.blockNumber = 1;
    row.listNumber = 1;
    CopyString(row.value, sizeof row.value, ".Tech Stocks", -1);
    EXPECT_EQ(ReadNorgateWatchlist(&row), 1) << "a header alone adds nothing: " << Messages();
    EXPECT_EQ(gImport.workCount, 0);
    watchlist = "Symbol,Name\r\nAAA,A Inc\r\nBBB,B Inc\r\nCCC";
    EXPECT_EQ(ReadNorgateWatchlist(&row), 1) << Messages();
    ASSERT_EQ(gImport.workCount, 3) << "a line without ',' is its symbol alone";
    std::vector<std::string> paths = server.Paths();
    EXPECT_NE(std::find(paths.begin(), paths.end(), "/api/v1/watchlist/Tech%20Stocks"), paths.end());

    gImportState.CIIFamily = 0;
    gSettings.CalcThreads = 2;
    ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
    ASSERT_EQ(gImport.count, 4) << "the three stocks and their industry index, once";
    int indexes = 0;
    for (int32_t i = 0; i < gImport.count; i++) {
        const SymbolRecord &r = gStore.symbols[i];
        EXPECT_EQ(r.barCounts[BAR_DAILY], 2);
        if (strcmp(r.info.Symbol, "$SPXIT") == 0) {
            indexes++;
            EXPECT_EQ(r.info.listNumber, 99u);
        } else {
            EXPECT_STREQ(r.info.InduIndex, "$SPXIT");
            EXPECT_STREQ(r.info.Name, "Name & Co <Ltd>");
        }
    }
    EXPECT_EQ(indexes, 1);
    EXPECT_STREQ(gImport.work[0].symbol, "AAA") << "the stock's work item keeps its symbol";
    EXPECT_STREQ(gImport.work[1].symbol, "BBB");
    EXPECT_STREQ(gImport.work[2].symbol, "CCC");
}

} // namespace

namespace {

TEST_F(OnlineTest, TiingoDailyAndCryptoImports)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a;
        if (path.rfind("/tiingo/daily/AAA/prices", 0) == 0)
            a.body = "date,close,high,low,open,volume,adjClose,adjHigh,adjLow,adjOpen,adjVolume,divCash,splitFactor\n"
                     "2024-01-02,20,21,19,20,100,10,10.5,9.5,10,200,0.0,1.0\n"
                     "2024-01-03,10,11,9,10,200,10,11,9,10,200,0.0,2.0\n";
        else if (path.rfind("/tiingo/daily/BBB/prices", 0) == 0)
            a = {404, "", "Error: Ticker 'BBB' not found"};
        else if (path.rfind("/tiingo/daily/AAA?", 0) == 0)
            a.body = "{\"name\":\"A Corp\",\"exchangeCode\":\"NYSE\"}";
        else if (path.find("&tickers=zzzusd&") != std::string::npos)
            a = {400, "", "Error: Ticker 'zzzusd' not found\nSee the documentation"};
        else if (path.rfind("/tiingo/crypto/prices", 0) == 0) {
            /* The answer names the ticker asked for. */
            size_t at = path.find("&tickers=") + 9;
            a.body = "[{\"ticker\":\"" + path.substr(at, path.find('&', at) - at) +
                "\",\"priceData\":[{\"date\":\"2024-01-02T00:00:00+00:00\",\"open\":10,"
                "\"high\":12,\"low\":9,\"close\":11,\"volume\":5,\"tradesDone\":7}]}]";
        }
        return a;
    });
    PointAt(server);
    CopyString(gSettings.TiingoApiKey, sizeof gSettings.TiingoApiKey, "KEY", -1);
    CopyString(gSettings.TiingoExchanges, sizeof gSettings.TiingoExchanges, "gdax", -1);
    Begin("Tiingo", 20240101, 20241231);
    Add("AAA");
    Add("BBB");
    EchoKept echo;
    ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
    ASSERT_EQ(gImport.count, 1) << "an Error: answer is passed over";
    const SymbolRecord &a = gStore.symbols[0];
    EXPECT_STREQ(a.info.Name, "A Corp");
    EXPECT_STREQ(a.info.Exchange, "NYSE");
    ASSERT_EQ(a.barCounts[BAR_DAILY], 2);
    /* The 2:1 split of the 3rd: the bar before it carries factor 2. */
    EXPECT_EQ(a.bars[BAR_DAILY][0].split, 2.0);
    EXPECT_EQ(a.bars[BAR_DAILY][1].split, 1.0);
    EXPECT_EQ(a.bars[BAR_DAILY][0].close, 20.0);

    StartOver(server);
    CopyString(gSettings.TiingoExchanges, sizeof gSettings.TiingoExchanges, "gdax", -1);
    Begin("TiingoCrypto", 20240101, 20241231);
    Add("binance.btcusd");
    Add("ethusd");
    Add("zzzusd");
    ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
    /* An Error: answer is named with its status and its first line. */
    for (const char *line : {"2:BBB was not imported: the server answered with status 404: Error: Ticker 'BBB' not found\n",
                             "2:zzzusd was not imported: the server answered with status 400: Error: Ticker 'zzzusd' not "
                             "found\n"})
        EXPECT_NE(std::string::npos, echo.text.find(line)) << line << echo.text;
    std::vector<std::string> paths = server.Paths();
    auto asked = [&](const char *part) {
        for (const std::string &p : paths)
            if (p.find(part) != std::string::npos) return true;
        return false;
    };
    EXPECT_TRUE(asked("&exchanges=binance&tickers=btcusd&"));
    EXPECT_TRUE(asked("&exchanges=gdax&tickers=ethusd&"));
    EXPECT_EQ(gImport.count, 2);
}

} // namespace

namespace {

/* The constituency table of a test (count rows) and its requests in
** place while it lives; the program's own are put back after. */
struct ConstituencyInPlace {
    ConstituencyRecord *table = gConstituency;
    int32_t count = gConstituencyCount;
    uint8_t *marks = gConstituencyRequested;
    ConstituencyInPlace(ConstituencyRecord *t, int32_t n, uint8_t *m)
    {
        gConstituency = t;
        gConstituencyCount = n;
        gConstituencyRequested = m;
    }
    ~ConstituencyInPlace()
    {
        gConstituency = table;
        gConstituencyCount = count;
        gConstituencyRequested = marks;
    }
};

/* A membership series of 12-byte records {OLE date, i32 value}. */
std::string Membership(std::initializer_list<std::pair<double, int32_t>> rows)
{
    std::string body;
    for (auto [ole, value] : rows) {
        body.append((const char *)&ole, 8);
        body.append((const char *)&value, 4);
    }
    return body;
}

TEST_F(OnlineTest, ConstituencyIdsAreTheUnionOfEveryAnswer)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        /* IDX1 knows AAA only, IDX2 knows BBB only. */
        bool one = path.find("/indexconstituent/AAA?indexname=IDX1&") != std::string::npos;
        bool two = path.find("/indexconstituent/BBB?indexname=IDX2&") != std::string::npos;
        if (one || two) {
            a.headers = "Record-Count: 3\r\n";
            a.body = Membership({{45293, 1}, {45294, 1}, {45295, 0}});
        }
        return a;
    });
    PointAt(server);
    ConstituencyRecord *table = nullptr;
    uint8_t *marks = nullptr;
    ASSERT_TRUE(AllocMemory(&table, 2 * sizeof(ConstituencyRecord)));
    ASSERT_TRUE(AllocMemory(&marks, 2));
    table[0] = {"IDX1", "Idx1", "", 5};
    table[1] = {"IDX2", "Idx2", "", 9};
    marks[0] = marks[1] = 1;
    int ok = 0;
    std::vector<uint32_t> ids;
    std::vector<int32_t> kinds;
    {
        ConstituencyInPlace inPlace(table, 2, marks);
        Begin("Norgate", 20240101, 20241231);
        Add("AAA");
        Add("BBB");
        gSettings.CalcThreads = 2;
        ok = ImportOnlineSymbols(SourceRow());
        ids.assign(gStore.constituencyIds, gStore.constituencyIds + 3);
        for (int32_t i = 0; i < gImport.count; i++)
            for (int32_t e = 0; e < gStore.symbols[i].eventCount; e++) kinds.push_back(gStore.symbols[i].events[e].kind);
    }
    FreeMemory(&table);
    FreeMemory(&marks);
    ASSERT_EQ(ok, 1) << Messages();
    EXPECT_EQ(ids, (std::vector<uint32_t>{5, 9, 0}));
    /* One event per series: the value stays 1 over the symbol's range. */
    std::sort(kinds.begin(), kinds.end());
    EXPECT_EQ(kinds, (std::vector<int32_t>{-10, -6}));
}

/* A membership series with fewer records than its Record-Count is cut
** short: the import fails naming the symbol, rather than ending the
** membership early. */
TEST_F(OnlineTest, AConstituencySeriesCutShortFailsTheSymbol)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path.find("/indexconstituent/") != std::string::npos) {
            a.headers = "Record-Count: 3\r\n";
            a.body = Membership({{45293, 1}, {45294, 1}});
            a.noLength = true;
        }
        return a;
    });
    PointAt(server);
    ConstituencyRecord table[1] = {{"IDX1", "Idx1", "", 5}};
    uint8_t marks[1] = {1};
    int ok = 0, kept = 0;
    {
        ConstituencyInPlace inPlace(table, 1, marks);
        Begin("Norgate", 20240101, 20241231);
        Add("AAA");
        ok = ImportOnlineSymbols(SourceRow());
        kept = gImport.count;
    }
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(kept, 0);
    EXPECT_NE(Messages().find("AAA: the answer was cut short (the IDX1 series holds 2 of the 3 records its "
                              "Record-Count announces)"),
              std::string::npos)
        << Messages();
}

} // namespace

namespace {

/* The answer a Tiingo daily price request gets: close c on both days. */
std::string TiingoCsv(int c)
{
    const std::string close = std::to_string(c), high = std::to_string(c + 1), low = std::to_string(c - 1);
    std::string row = "," + close + "," + high + "," + low + "," + close + ",100," + close + "," + high + "," + low + "," +
        close + ",100,0.0,1.0\n";
    return "date,close,high,low,open,volume,adjClose,adjHigh,adjLow,adjOpen,adjVolume,divCash,splitFactor\n"
           "2024-01-02" +
        row + "2024-01-03" + row;
}

const char kCryptoWhole[] =
    "[{\"ticker\":\"btcusd\",\"priceData\":[{\"date\":\"2024-01-02T00:00:00+00:00\",\"open\":10,\"high\":12,\"low\":9,"
    "\"close\":11,\"volume\":5,\"tradesDone\":7},{\"date\":\"2024-01-03T00:00:00+00:00\",\"open\":11,\"high\":13,"
    "\"low\":10,\"close\":12,\"volume\":6,\"tradesDone\":8}]}]";

/* An answer that ends early with no length to tell (the server closes the
** connection, also inside the headers) is a broken transfer: retried, then the import fails naming the
** symbol and the damage; nothing of it is stored. */
TEST_F(OnlineTest, AnswersCutShortWithoutALengthAreBrokenTransfers)
{
    std::string tiingo = TiingoCsv(20);
    std::string chart = ChartFor(1);
    std::string norgate = NorgateSeries();
    struct Case {
        const char *source, *symbol;
        std::string cut; /* the body the server sends before it closes */
        const char *norgateHeaders;
        const char *damage;
        bool statusLineOnly = false; /* the server writes its status line and closes */
    } cases[] = {
        {"Tiingo", "AAA", tiingo.substr(0, tiingo.size() - 20), nullptr, "its last line has no line end"},
        {"Tiingo", "BBB", tiingo.substr(0, tiingo.rfind("2024-01-03")) + "2024-01-03,20\n", nullptr,
         "its last line holds 2 of the 13 fields its header names"},
        {"Yahoo", "S1", chart.substr(0, chart.size() / 2), nullptr, "its JSON does not close"},
        {"TiingoCrypto", "btcusd", std::string(kCryptoWhole).substr(0, sizeof kCryptoWhole / 2), nullptr,
         "its JSON does not close"},
        {"Norgate", "AAA", norgate, "Field-Count: 6\r\nRecord-Count: 4\r\n",
         "it holds 2 of the 4 records its Record-Count announces"},
        /* Headers cut before the series' length, and a page answered in
        ** the updater's place. */
        {"Norgate", "AAA", norgate, "Field-Count: 6\r\n", "the answer has no Record-Count header"},
        {"Norgate", "AAA", "<!DOCTYPE html><html><body>Sign in</body></html>", "Content-Type: text/html\r\n",
         "the answer has no Field-Count header"},
        {"Norgate", "HDRONLY", "", nullptr, "its headers do not end", true},
    };
    for (const Case &c : cases) {
        std::atomic<int> priceAsks{0};
        LocalHttpServer server([&](const std::string &path) {
            HttpAnswer a = Updater(path, "");
            bool prices = path.rfind("/api/v1/prices/", 0) == 0 || path.rfind("/v8/finance/chart/", 0) == 0 ||
                path.find("/prices") != std::string::npos;
            if (path.rfind("/tiingo/daily/", 0) == 0 && !prices) a.body = "{\"name\":\"A Corp\"}";
            if (path == "/") a.body = "home";
            if (prices) {
                priceAsks++;
                a.body = c.cut;
                a.noLength = true;
                if (c.norgateHeaders) a.headers = c.norgateHeaders;
                if (c.statusLineOnly) a.raw = "HTTP/1.1 200 OK\r\n";
            }
            return a;
        });
        StartOver(server);
        gSettings.ImportRetries = 1;
        gEchoed.clear();
        gConsoleEcho = KeepEcho;
        Begin(c.source, 20240101, 20241231);
        Add(c.symbol);
        int ok = ImportOnlineSymbols(SourceRow());
        gConsoleEcho = nullptr;
        EXPECT_EQ(ok, 0) << c.source;
        EXPECT_EQ(gImport.count, 0) << c.source << ": nothing of a cut answer is stored";
        EXPECT_EQ(priceAsks.load(), 2) << c.source << ": retried as a failed transfer";
        std::string line = std::string(c.symbol) + ": the answer was cut short (" + c.damage + ")";
#ifdef _WIN32
        /* WinHTTP may fail a request cut inside its headers itself: a failed
        ** transfer as well, named in its own words. */
        if (c.statusLineOnly) line = std::string(c.symbol) + ": ";
#endif
        EXPECT_NE(Messages().find(line), std::string::npos) << Messages();
        EXPECT_NE(gEchoed.find("2:" + line), std::string::npos) << gEchoed;
    }

    /* Cut once, whole on the retry: stored whole. */
    std::atomic<int> asks{0};
    LocalHttpServer flaky([&](const std::string &path) {
        HttpAnswer a;
        a.body = path.find("/prices") == std::string::npos ? "{\"name\":\"C Corp\"}" : TiingoCsv(30);
        if (path.find("/prices") != std::string::npos && asks++ == 0) {
            a.body = a.body.substr(0, a.body.size() - 7);
            a.noLength = true;
        }
        return a;
    });
    StartOver(flaky);
    gSettings.ImportRetries = 1;
    Begin("Tiingo", 20240101, 20241231);
    Add("CCC");
    ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
    ASSERT_EQ(gImport.count, 1);
    EXPECT_EQ(Dates(gStore.symbols[0]), (std::vector<int32_t>{20240102, 20240103}));
    EXPECT_EQ(gStore.symbols[0].bars[BAR_DAILY][1].close, 30.0);
}

/* An answer that names another symbol than the one asked for is not that
** symbol's: asked again on a new connection, then refused with the reason. */
TEST_F(OnlineTest, AnAnswerForAnotherSymbolIsNotStored)
{
    std::map<std::string, int> asked;
    std::mutex askedLock;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        a.body = "home";
        int n = SymbolNumber(path);
        int ask = 0;
        {
            std::lock_guard<std::mutex> hold(askedLock);
            ask = ++asked[path.substr(0, path.find('?'))];
        }
        if (n == 1) a.body = ChartNamed(1, "S1");
        if (n == 2) a.body = ChartNamed(1, "S1");                                  /* always S1's */
        if (n == 3) a.body = ask == 1 ? ChartNamed(1, "S1") : ChartNamed(3, "s3"); /* S1's, then its own */
        if (path.rfind("/tiingo/crypto/prices", 0) == 0) a.body = kCryptoWhole;    /* names btcusd */
        return a;
    });
    PointAt(server);
    gSettings.ImportRetries = 1;
    gEchoed.clear();
    gConsoleEcho = KeepEcho;
    Begin("Yahoo", 20240101, 20241231);
    for (const char *s : {"S1", "S2", "S3"}) Add(s);
    int yahoo = ImportOnlineSymbols(SourceRow());
    std::vector<std::string> kept;
    for (int32_t i = 0; i < gImport.count; i++)
        kept.push_back(std::string(gStore.symbols[i].info.Symbol) + "=" +
                       std::to_string((int)gStore.symbols[i].bars[BAR_DAILY][1].close));
    StartOver(server);
    gSettings.ImportRetries = 0;
    Begin("TiingoCrypto", 20240101, 20241231);
    Add("gdax.ethusd");
    int crypto = ImportOnlineSymbols(SourceRow());
    int cryptoKept = gImport.count;
    gConsoleEcho = nullptr;
    ASSERT_EQ(yahoo, 1) << Messages();
    ASSERT_EQ(crypto, 1) << Messages();
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"S1=13", "S3=15"}));
    EXPECT_EQ(asked["/v8/finance/chart/S2"], 2);
    EXPECT_EQ(cryptoKept, 0);
    for (const char *line : {"S2 was not imported: the answer is for S1\n",
                             "gdax.ethusd was not imported: the answer is for btcusd\n"})
        EXPECT_NE(gEchoed.find(std::string("2:") + line), std::string::npos) << line << gEchoed;
}

/* A server that sends a second answer after the one asked for, on a kept
** connection: the next request must not take it for its own answer.  The
** unasked answer follows each name answer and is there before the next
** symbol's price request, ImportPause later. */
TEST_F(OnlineTest, ASecondAnswerOnAKeptConnectionIsNotRead)
{
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        a.keepAlive = true;
        a.body = "home";
        size_t at = path.find("/tiingo/daily/T");
        if (at != std::string::npos && path.find("/prices") != std::string::npos) {
            a.body = TiingoCsv(10 * atoi(path.c_str() + at + 15));
        } else if (at != std::string::npos) {
            a.body = "{\"name\":\"Some Corp\"}";
            a.extra = RawAnswer(TiingoCsv(99)); /* nobody asked for this one */
        }
        return a;
    });
    PointAt(server);
    gSettings.ImportPause = 200;
    Begin("Tiingo", 20240101, 20241231);
    for (const char *s : {"T1", "T2", "T3", "T4"}) Add(s);
    ASSERT_EQ(ImportOnlineSymbols(SourceRow()), 1) << Messages();
    std::vector<std::string> kept;
    for (int32_t i = 0; i < gImport.count; i++)
        kept.push_back(std::string(gStore.symbols[i].info.Symbol) + "=" +
                       std::to_string((int)gStore.symbols[i].bars[BAR_DAILY][0].close) + " " +
                       gStore.symbols[i].info.Name);
    EXPECT_EQ(kept, (std::vector<std::string>{"T1=10 Some Corp", "T2=20 Some Corp", "T3=30 Some Corp", "T4=40 Some Corp"}));
}

/* 429 and 503 ask the client to come back: it waits as Retry-After says
** (no longer than ImportTimeout) and asks again, within ImportRetries; a
** symbol still throttled after that is refused with the status. */
TEST_F(OnlineTest, ThrottledAnswersWaitAndAskAgain)
{
    using Clock = std::chrono::steady_clock;
    std::map<int, std::vector<Clock::time_point>> asks;
    std::mutex asksLock;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        int n = SymbolNumber(path);
        a.body = n >= 0 ? ChartFor(n) : "home";
        if (n < 0) return a;
        size_t ask;
        {
            std::lock_guard<std::mutex> hold(asksLock);
            asks[n].push_back(Clock::now());
            ask = asks[n].size();
        }
        if (n == 1 && ask == 1) a = {429, "Retry-After: 1\r\n", "Too Many Requests"};
        if (n == 2 && ask == 1) a = {503, "retry-after: 1\r\n", "Service Unavailable"};
        if (n == 3) a = {429, "Retry-After: 30\r\n", "Too Many Requests"}; /* longer than ImportTimeout */
        return a;
    });
    PointAt(server);
    gSettings.ImportRetries = 1;
    gSettings.CalcThreads = 3;
    gEchoed.clear();
    gConsoleEcho = KeepEcho;
    Begin("Yahoo", 20240101, 20241231);
    for (const char *s : {"S1", "S2", "S3"}) Add(s);
    auto start = Clock::now();
    int ok = ImportOnlineSymbols(SourceRow());
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    gConsoleEcho = nullptr;
    ASSERT_EQ(ok, 1) << Messages();
    std::vector<std::string> kept;
    for (int32_t i = 0; i < gImport.count; i++) kept.push_back(gStore.symbols[i].info.Symbol);
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"S1", "S2"}));
    for (int n : {1, 2, 3}) {
        ASSERT_EQ(asks[n].size(), 2u) << n;
        double waited = std::chrono::duration<double>(asks[n][1] - asks[n][0]).count();
        EXPECT_GT(waited, 0.9) << n << ": Retry-After is waited for";
        EXPECT_LT(waited, 2.5) << n << ": no longer than ImportTimeout";
    }
    EXPECT_LT(seconds, 5.0);
    EXPECT_NE(gEchoed.find("2:S3 was not imported: the server answered with status 429\n"), std::string::npos)
        << gEchoed;
}

/* An import ended by several failed symbols names each of them with its
** reason, however long, on standard error and in the import log. */
TEST_F(OnlineTest, EveryFailedSymbolIsNamedInTheLogAndOnStandardError)
{
    /* Three lines of more than a hundred characters each. */
    const std::string names[] = {"FAILINGSYMBOLWITHALONGNAME1", "FAILINGSYMBOLWITHALONGNAME2",
                                 "FAILINGSYMBOLWITHALONGNAME3"};
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a;
        a.body = "home";
        if (path.find("/chart/FAILING") != std::string::npos) a.drop = true;
        if (path.find("/chart/S") != std::string::npos) a.body = ChartFor(1);
        return a;
    });
    PointAt(server);
    gSettings.CalcThreads = 4;
    std::string out = tmp.File("failed.kvd"), log = tmp.File("failed.log");
    ASSERT_EQ(Line(IMPKW_DATA_SOURCE, "Yahoo"), 0);
    ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, names[0] + " " + names[1] + " " + names[2] + " S1"), 0);
    gImportState.StartDate = 20240101;
    gImportState.EndDate = 20241231;
    CopyString(gImportState.SaveAs, sizeof gImportState.SaveAs, out.c_str(), -1);
    CopyString(gImportState.LogFile, sizeof gImportState.LogFile, log.c_str(), -1);
    gEchoed.clear();
    gConsoleEcho = KeepEcho;
    int ok = RunImport();
    gConsoleEcho = nullptr;
    EXPECT_EQ(ok, 0);
    std::string text = ReadTestFile(log);
    for (const std::string &name : names) {
        std::string line = name + ": no answer to the " + name + " data request after 1 attempt (";
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n"
                                                      << text;
        EXPECT_NE(gEchoed.find("2:" + line), std::string::npos) << line << "\n"
                                                                << gEchoed;
    }
    EXPECT_NE(text.find("\nImport Not Completed\n"), std::string::npos) << text;
}

} // namespace

namespace {

/* An online block of an import run with its data file and log; what an
** import of it ended with. */
struct OnlineRunTest : OnlineTest {
    std::string out, log;
    void SetUp() override
    {
        OnlineTest::SetUp();
        out = tmp.File("online.kvd");
        log = tmp.File("online.log");
    }
    void Block(const char *source, const std::string &list, const char *listKind = nullptr)
    {
        ASSERT_EQ(Line(IMPKW_DATA_SOURCE, source), 0);
        if (!list.empty()) {
            ASSERT_EQ(Line(listKind && !strcmp(listKind, "Exclude") ? IMPKW_EXCLUDE_LIST : IMPKW_INCLUDE_LIST, list), 0);
        }
        gImportState.StartDate = 20240101;
        gImportState.EndDate = 20241231;
        CopyString(gImportState.SaveAs, sizeof gImportState.SaveAs, out.c_str(), -1);
        CopyString(gImportState.LogFile, sizeof gImportState.LogFile, log.c_str(), -1);
    }
    /* The symbols of the data file the import wrote, "" when it wrote none. */
    std::string Stored()
    {
        UnloadData();
        if (!PlatFileExists(out.c_str()) || ReadDataFile(out.c_str(), 0) != 1) return "";
        std::string all;
        for (int32_t i = 0; i < gStore.symbolCount; i++) all += std::string(all.empty() ? "" : " ") + gStore.symbols[i].info.Symbol;
        return all;
    }
};

/* An updater whose answer to one field of a security is an error: the
** symbol is passed over naming the field and the status, and nothing of the
** error's text becomes a value; the other symbols are stored. */
TEST_F(OnlineRunTest, NorgateFieldsAnsweredWithAnErrorStoreNothing)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        const bool futures = path.find("/PV/") != std::string::npos || path.find("/ES/") != std::string::npos;
        if (futures && path.find("/basetype") != std::string::npos) a.body = "Futures";
        if (futures && path.find("/pointvalue") != std::string::npos) a.body = "50";
        if (futures && path.find("/ticksize") != std::string::npos) a.body = "0.25";
        const HttpAnswer error = {500, "", "Internal Server Error"};
        if (path == "/api/v1/security/PV/pointvalue") a = error;
        if (path == "/api/v1/security/BT/basetype") a = {404, "", "Not Found"};
        if (path == "/api/v1/security/NM/name") a = error;
        if (path.rfind("/api/v1/security/CI/correspondingindustryindex", 0) == 0) a = error;
        return a;
    });
    PointAt(server);
    Block("Norgate", "ES PV BT NM CI");
    gImportState.CIIFamily = 0;
    EchoKept echo;
    ASSERT_EQ(0, ImportExitCode()) << Messages();
    EXPECT_EQ("ES", Stored()) << "only the symbol whose every field answered";
    const SymbolRecord &es = Symbol("ES");
    EXPECT_EQ(50, es.info.PointValue);
    EXPECT_EQ(0.25, es.info.TickSize);
    EXPECT_STREQ("Futures", es.info.Type);
    const std::string text = ReadTestFile(log);
    for (const char *line :
         {"PV was not imported: the server answered its pointvalue request with status 500: Internal Server Error\n",
          "BT was not imported: the server answered its basetype request with status 404: Not Found\n",
          "NM was not imported: the server answered its name request with status 500: Internal Server Error\n",
          "CI was not imported: the server answered its correspondingindustryindex?indexfamilycode=%24SPX&level=1 "
          "request with status 500: Internal Server Error\n"}) {
        EXPECT_NE(std::string::npos, text.find(line)) << line << text;
        EXPECT_NE(std::string::npos, echo.text.find(std::string("2:") + line)) << line << echo.text;
    }

    /* An Australian family's index is asked for by name as it stands: a 404
    ** says the updater knows it only with ".au"; another error says nothing,
    ** and its symbol is passed over. */
    LocalHttpServer au([](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path.find("correspondingindustryindex") != std::string::npos)
            a.body = path.find("/AX2/") != std::string::npos ? "XKOIT" : "XJOIT";
        if (path == "/api/v1/security/XJOIT/name") a = {404, "", "Not Found"};
        if (path == "/api/v1/security/XKOIT/name") a = {500, "", "Internal Server Error"};
        return a;
    });
    StartOver(au);
    Block("Norgate", "AX1 AX2");
    gImportState.CIIFamily = 2;
    ASSERT_EQ(0, ImportExitCode()) << Messages();
    EXPECT_EQ("AX1 XJOIT.au", Stored());
    EXPECT_STREQ("XJOIT.au", Symbol("AX1").info.InduIndex);
    EXPECT_NE(std::string::npos, ReadTestFile(log).find("AX2 was not imported: the server answered its XKOIT name "
                                                        "request with status 500: Internal Server Error\n"))
        << ReadTestFile(log);
}

/* A constituency answer with an error status passes its symbol over, named,
** rather than storing it as never a member; one without its Record-Count, or
** with a Record-Count of 0 above its records, is a damaged answer, which ends
** the import naming it. */
TEST_F(OnlineRunTest, ConstituencyAnswersWithoutASeriesStoreNoMembership)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path.find("/indexconstituent/") == std::string::npos) return a;
        a.body = Membership({{45293, 1}, {45294, 1}});
        a.headers = "Record-Count: 2\r\n";
        if (path.find("/AAA?") != std::string::npos) a = {500, "", "Internal Server Error"};
        if (path.find("/BBB?") != std::string::npos) a.headers = "";
        if (path.find("/DDD?") != std::string::npos) a.headers = "Record-Count: 0\r\n";
        return a;
    });
    PointAt(server);
    ConstituencyRecord table[1] = {{"IDX1", "Idx1", "", 5}};
    uint8_t marks[1] = {1};
    EchoKept echo;
    int first = 0;
    std::string stored, firstLog;
    std::vector<int32_t> kinds;
    {
        ConstituencyInPlace inPlace(table, 1, marks);
        Block("Norgate", "AAA CCC");
        first = ImportExitCode();
        stored = Stored();
        if (gStore.symbolCount == 1)
            for (int32_t e = 0; e < gStore.symbols[0].eventCount; e++) kinds.push_back(gStore.symbols[0].events[e].kind);
        firstLog = ReadTestFile(log);
    }

    EXPECT_EQ(0, first) << Messages();
    EXPECT_EQ("CCC", stored);
    EXPECT_EQ(std::vector<int32_t>{-6}, kinds) << "CCC's membership from its series";
    const std::string refused = "AAA was not imported: the server answered its IDX1 membership request with status "
                                "500: Internal Server Error\n";
    EXPECT_NE(std::string::npos, firstLog.find(refused)) << firstLog;
    EXPECT_NE(std::string::npos, echo.text.find("2:" + refused)) << echo.text;

    for (const char *symbol : {"BBB", "DDD"}) {
        SCOPED_TRACE(symbol);
        StartOver(server);
        int second = 0;
        std::string secondStored;
        {
            ConstituencyInPlace inPlace(table, 1, marks);
            Block("Norgate", symbol);
            PlatDeleteFile(out.c_str());
            second = ImportExitCode();
            secondStored = Stored();
        }
        EXPECT_EQ(RESULT_IMPORT_FAILURE, second);
        EXPECT_EQ("", secondStored);
        const std::string damaged = std::string(symbol) + ": the IDX1 series cannot be read: it has " +
            (symbol[0] == 'B' ? "no Record-Count header" : "a Record-Count of 0 and data");
        EXPECT_NE(std::string::npos, Messages().find(damaged)) << Messages();
        const std::string text = ReadTestFile(log);
        EXPECT_NE(std::string::npos, text.find(damaged + "\n")) << text;
        EXPECT_NE(std::string::npos, text.find("\nImport Not Completed\n")) << text;
    }
}

/* Bytes past the records a price or membership series announces are not
** read, and are noted; the records announced are stored. */
TEST_F(OnlineRunTest, BytesPastWhatASeriesAnnouncesAreNoted)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path.rfind("/api/v1/prices/", 0) == 0) a.body += "xyz";
        if (path.find("/indexconstituent/") != std::string::npos) {
            a.body = Membership({{45293, 1}, {45294, 0}});
            a.headers = "Record-Count: 1\r\n";
        }
        return a;
    });
    PointAt(server);
    ConstituencyRecord table[1] = {{"IDX1", "Idx1", "", 5}};
    uint8_t marks[1] = {1};
    EchoKept echo;
    std::vector<double> values;
    {
        ConstituencyInPlace inPlace(table, 1, marks);
        Block("Norgate", "AAA");
        ASSERT_EQ(0, ImportExitCode()) << Messages();
        const SymbolRecord &r = Symbol("AAA");
        EXPECT_EQ(Dates(r), (std::vector<int32_t>{20240102, 20240103}));
        for (int32_t e = 0; e < r.eventCount; e++) values.push_back(r.events[e].value);
    }
    EXPECT_EQ(values, std::vector<double>{1}) << "the record past the count is not read";
    for (const char *line : {"AAA: 3 bytes past the 2 records its Record-Count announces were not read\n",
                             "AAA: 12 bytes past the 1 record the Record-Count of its IDX1 series announces were not "
                             "read\n"}) {
        EXPECT_NE(std::string::npos, ReadTestFile(log).find(line)) << line << ReadTestFile(log);
        EXPECT_NE(std::string::npos, echo.text.find(std::string("2:") + line)) << line << echo.text;
    }
}

/* Watchlist answers read as lists of symbols: a page or an error is no
** list, which fails the import saying so whether it was to include or
** exclude; a line without a comma is its symbol, quotes are dropped, blank
** lines hold none, and a line without a symbol is named. */
TEST_F(OnlineRunTest, WatchlistAnswersThatAreNoListsAreRefused)
{
    const char *answer = nullptr;
    int status = 200;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path.rfind("/api/v1/watchlist/", 0) == 0) a = {status, "", answer};
        return a;
    });
    const char *page = "<!DOCTYPE html><html><body>Sign in</body></html>";
    const struct {
        const char *kind, *answer;
        int status;
        const char *reason;
    } refused[] = {
        {"Include", page, 200, "The updater's answer is no list of symbols: <!DOCTYPE html><html><body>Sign in</body></html>."},
        {"Exclude", page, 200, "The updater's answer is no list of symbols: <!DOCTYPE html><html><body>Sign in</body></html>."},
        {"Include", "Watchlist not found", 404, "The updater answered with status 404: Watchlist not found."},
        /* A line too long to quote is not quoted, nor cut. */
        {"Include", "Service Unavailable: the updater is busy updating its database, please retry later", 503,
         "The updater answered with status 503."},
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(std::string(c.kind) + " " + c.answer);
        StartOver(server);
        answer = c.answer;
        status = c.status;
        Block("Norgate", "AAA");
        ASSERT_EQ(Line(!strcmp(c.kind, "Exclude") ? IMPKW_EXCLUDE_LIST : IMPKW_INCLUDE_LIST, ".Tech"), 0);
        EXPECT_EQ(RESULT_IMPORT_FAILURE, ImportExitCode());
        EXPECT_EQ("", Stored());
        const std::string message = std::string("Unable to access Norgate watchlist 'Tech'.\r\n") + c.reason;
        EXPECT_NE(std::string::npos, Messages().find(message)) << Messages();
        EXPECT_EQ(std::string::npos, Messages().find("requires at least one symbol")) << Messages();
        EXPECT_NE(std::string::npos, ReadTestFile(log).find("Unable to access Norgate watchlist 'Tech'.\n" + std::string(c.reason)))
            << ReadTestFile(log);
    }

    StartOver(server);
    /* Blanks around a symbol are no part of it, inside its quotes too. */
    answer = "Symbol,Name\r\nAAA,A Inc\r\nBBB\r\n\" CCC\t\",\"C, Inc\"\r\n\r\n  ,blank\r\n DDD ,D Inc";
    status = 200;
    Block("Norgate", "");
    ASSERT_EQ(Line(IMPKW_INCLUDE_LIST, ".Tech"), 0);
    EchoKept echo;
    ASSERT_EQ(0, ImportExitCode()) << Messages();
    EXPECT_EQ("AAA BBB CCC DDD", Stored());
    const std::string note = "Norgate watchlist 'Tech': line 6 holds no symbol\n";
    EXPECT_NE(std::string::npos, ReadTestFile(log).find(note)) << ReadTestFile(log);
    EXPECT_NE(std::string::npos, echo.text.find("2:" + note)) << echo.text;
}

} // namespace

namespace {

/* A Norgate price record of six fields {OLE date, open, high, low, close, volume}. */
std::string NorgateRecord(double ole, float open, float high, float low, float close, float volume = 100)
{
    std::string r((const char *)&ole, 8);
    const float values[5] = {open, high, low, close, volume};
    r.append((const char *)values, 20);
    return r;
}

/* Tiingo's crypto answer for btcusd of {date, high} records (open and low 10,
** close 11), each record's fields closed by extra. */
std::string CryptoAnswer(std::initializer_list<std::pair<const char *, const char *>> records, const char *extra)
{
    std::string body = "[{\"ticker\":\"btcusd\",\"priceData\":[";
    for (const auto &r : records)
        body += std::string(body.back() == '[' ? "" : ",") + "{\"date\":\"" + r.first + "T00:00:00+00:00\",\"open\":10,\"high\":" +
            r.second + ",\"low\":10,\"close\":11,\"volume\":5" + extra + "}";
    return body + "]}]";
}

/* A bar whose high is below its low, or whose open or close lies outside
** its low to high range, is no bar from any online source, nor a record
** whose date cannot be read or is no day, nor a chart price left out (null)
** or written as NaN, nor a record whose price its PriceMult carries past the
** finite (as from a file): each is passed over and named with its record's
** number, and the records after it are stored. */
TEST_F(OnlineRunTest, RecordsThatAreNoBarsAreNamedFromEverySource)
{
    std::string answer; /* the case's price answer, whichever source asks */
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path.rfind("/v8/finance/chart/", 0) == 0 || path.rfind("/tiingo/crypto/prices", 0) == 0) a.body = answer;
        if (path.rfind("/api/v1/prices/", 0) == 0) {
            a.headers = "Field-Count: 6\r\nRecord-Count: " + std::to_string(answer.size() / 28) + "\r\n";
            a.body = answer;
        }
        if (path == "/") a.body = "home";
        return a;
    });
    auto chart = [](const char *highs) {
        std::string c = ChartFor(0);
        return c.replace(c.find("\"high\":[12,13]"), 14, std::string("\"high\":[") + highs + "]");
    };
    /* The chart with its text from replaced by to. */
    auto changed = [](const char *from, const char *to) {
        std::string c = ChartFor(0);
        return c.replace(c.find(from), strlen(from), to);
    };
    const std::string pastFinite = "1 record not read as bars: record 2 (a price divided by PriceMult is not finite)";
    const struct {
        const char *source, *symbol;
        std::string answer;
        bool tinyPriceMult; /* a PriceMult of 1e-300 */
        std::vector<int32_t> dates;
        std::string named; /* after "<symbol>: " */
    } cases[] = {
        {"Yahoo", "S1", chart("12,8"), false, {20240102}, "1 record not read as bars: record 2 (the high is below the low)"},
        {"Yahoo", "S1", changed("\"open\":[10,11]", "\"open\":[10,30]"), false, {20240102},
         "1 record not read as bars: record 2 (the open lies outside the low to high range)"},
        {"Yahoo", "S1", changed("\"close\":[11,12]", "\"close\":[NaN,null]"), false, {},
         "2 records not read as bars: record 1 (a number is not finite), record 2 (a price is missing)"},
        {"Yahoo", "S1", changed("\"volume\":[100,200]", "\"volume\":[null,Infinity]"), false, {20240102},
         "1 record not read as bars: record 2 (a number is not finite)"},
        {"Yahoo", "S1", changed("1704205800,1704292200", "4e42,1704292200"), false, {20240103},
         "1 record not read as bars: record 1 (the date is not a calendar day)"},
        {"TiingoCrypto", "btcusd", CryptoAnswer({{"2024-01-02", "12"}, {"2024-01-03", "10.5"}}, ""), false, {20240102},
         "1 record not read as bars: record 2 (the close lies outside the low to high range)"},
        {"Norgate", "AAA", NorgateRecord(45293, 10, 11, 9, 10) + NorgateRecord(45294, 20, 11, 9, 10), false, {20240102},
         "1 record not read as bars: record 2 (the open lies outside the low to high range)"},
        {"Norgate", "AAA", NorgateRecord(1e10, 10, 11, 9, 10) + NorgateRecord(45294, 10, 11, 9, 10), false, {20240103},
         "1 record not read as bars: record 1 (the date is not a calendar day)"},
        {"TiingoCrypto", "btcusd",
         CryptoAnswer({{"2024-01-02", "12"}, {"2024-01-03", "12"}, {"someday", "12"}, {"2024-01-05", "9"}, {"2024-01-08", "12"}},
                      ",\"tradesDone\":7"),
         false, {20240102, 20240103, 20240108},
         "2 records not read as bars: record 3 (no date could be read), record 4 (the high is below the low)"},
        {"Norgate", "AAA",
         NorgateRecord(45293, 10, 11, 9, 10) + NorgateRecord(45294, 10, 9, 11, 10) + NorgateRecord(45295, 10, 12, 9, 11),
         false, {20240102, 20240104}, "1 record not read as bars: record 2 (the high is below the low)"},
        /* A volume that is no finite number, from every source. */
        {"Norgate", "AAA",
         NorgateRecord(45293, 10, 11, 9, 10, NAN) + NorgateRecord(45294, 10, 11, 9, 10, INFINITY) +
             NorgateRecord(45295, 10, 12, 9, 11, 300),
         false, {20240104}, "2 records not read as bars: record 1 (a number is not finite), record 2 (a number is not finite)"},
        {"TiingoCrypto", "btcusd",
         [] {
             std::string a = CryptoAnswer({{"2024-01-02", "12"}, {"2024-01-03", "12"}}, "");
             return a.replace(a.rfind("\"volume\":5"), 10, "\"volume\":NaN");
         }(),
         false, {20240102}, "1 record not read as bars: record 2 (a number is not finite)"},
        {"Yahoo", "S1", chart("12,1e10"), true, {20240102}, pastFinite},
        {"TiingoCrypto", "btcusd", CryptoAnswer({{"2024-01-02", "12"}, {"2024-01-03", "1e10"}}, ""), true, {20240102},
         pastFinite},
        {"Norgate", "AAA", NorgateRecord(45293, 10, 11, 9, 10) + NorgateRecord(45294, 10, 3e38f, 9, 10), true, {20240102},
         pastFinite},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.source) + (c.tinyPriceMult ? " with a tiny PriceMult" : ""));
        StartOver(server);
        answer = c.answer;
        Block(c.source, c.symbol);
        if (c.tinyPriceMult) {
            ASSERT_EQ(Line(IMPKW_SYM_INFO_FILE, Write("info.csv", std::string("Symbol,PriceMult\n") + c.symbol + ",1e-300\n")), 0);
        }
        EchoKept echo;
        const int code = ImportExitCode();
        if (c.dates.empty()) {
            EXPECT_EQ(RESULT_IMPORT_FAILURE, code) << "nothing was imported";
        } else {
            ASSERT_EQ(0, code) << Messages();
            ASSERT_EQ(c.symbol, Stored());
            EXPECT_EQ(c.dates, Dates(gStore.symbols[0]));
        }
        const std::string line = std::string(c.symbol) + ": " + c.named + "\n";
        EXPECT_NE(std::string::npos, ReadTestFile(log).find(line)) << ReadTestFile(log);
        EXPECT_NE(std::string::npos, echo.text.find("2:" + line)) << echo.text;
    }
}

/* Exporters leave float noise in their prices (22.000000000000004 beside a
** high of 22.0, a close of 28.499999999999996 on a low of 28.5, six decimals
** of neighbours 31.420000 and 31.419999, single floats): at the 7 digits the
** data file keeps each day lies in its range, and is stored, from every
** online source. */
TEST_F(OnlineRunTest, FloatNoiseAtARangesEdgeIsStoredAsItsKeptDigits)
{
    std::string answer;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path.rfind("/v8/finance/chart/", 0) == 0 || path.rfind("/tiingo/", 0) == 0) a.body = answer;
        if (path.rfind("/api/v1/prices/", 0) == 0) {
            a.headers = "Field-Count: 6\r\nRecord-Count: " + std::to_string(answer.size() / 28) + "\r\n";
            a.body = answer;
        }
        return a;
    });
    const char *crypto = "{\"date\":\"%s\",\"open\":%s,\"high\":%s,\"low\":%s,\"close\":%s,\"volume\":100}";
    auto record = [&](const char *date, const char *o, const char *h, const char *l, const char *c) {
        char text[256];
        snprintf(text, sizeof text, crypto, date, o, h, l, c);
        return std::string(text);
    };
    const struct {
        const char *source, *symbol;
        std::string answer;
    } cases[] = {
        {"Tiingo", "AKF",
         "date,close,high,low,open,volume\n2024-01-02,21.8,22.0,21.5,22.000000000000004,100\n"
         "2024-01-03,28.499999999999996,28.75,28.5,28.6,100\n2024-01-04,31.3,31.419999,31.2,31.420000,100\n"},
        {"Yahoo", "S1",
         "{\"chart\":{\"result\":[{\"meta\":{\"currency\":\"USD\",\"gmtoffset\":-18000},"
         "\"timestamp\":[1704205800,1704292200,1704378600],\"indicators\":{\"quote\":[{"
         "\"open\":[22.000000000000004,28.6,31.420000],\"high\":[22.0,28.75,31.419999],\"low\":[21.5,28.5,31.2],"
         "\"close\":[21.8,28.499999999999996,31.3],\"volume\":[100,100,100]}]}}]}}"},
        {"TiingoCrypto", "btcusd",
         "[{\"ticker\":\"btcusd\",\"priceData\":[" + record("2024-01-02", "22.000000000000004", "22.0", "21.5", "21.8") + "," +
             record("2024-01-03", "28.6", "28.75", "28.5", "28.499999999999996") + "," +
             record("2024-01-04", "31.420000", "31.419999", "31.2", "31.3") + "]}]"},
        {"Norgate", "AAA",
         NorgateRecord(45293, 22.000002f, 22.0f, 21.5f, 21.8f) + NorgateRecord(45294, 28.6f, 28.75f, 28.5f, 28.499998f) +
             NorgateRecord(45295, 31.42f, 31.419999f, 31.2f, 31.3f)},
    };
    const double expected[3][4] = {{22, 22, 21.5, 21.8}, {28.6, 28.75, 28.5, 28.5}, {31.42, 31.42, 31.2, 31.3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source);
        StartOver(server);
        answer = c.answer;
        Block(c.source, c.symbol);
        ASSERT_EQ(0, ImportExitCode()) << Messages() << ReadTestFile(log);
        const SymbolRecord &r = Symbol(c.symbol);
        ASSERT_EQ(Dates(r), (std::vector<int32_t>{20240102, 20240103, 20240104})) << ReadTestFile(log);
        for (int k = 0; k < 3; k++) {
            const Bar &b = r.bars[BAR_DAILY][k];
            EXPECT_EQ(b.open, expected[k][0]) << k;
            EXPECT_EQ(b.high, expected[k][1]) << k;
            EXPECT_EQ(b.low, expected[k][2]) << k;
            EXPECT_EQ(b.close, expected[k][3]) << k;
        }
    }
}

/* A server that sends an unasked answer after each answer, from every
** online source.  Sent late (as the next request on the kept connection
** arrives) it is never read: each request has a connection of its own, and
** each symbol keeps its own prices, name and type.  Sent at once, with the
** answer, the answer is refused (its length may be wrong; the bytes after
** it answer no request) and the import fails, as in the Windows program;
** neither reads any answer one behind. */
TEST_F(OnlineTest, UnaskedAnswersAreNeverReadForTheNextRequest)
{
    int when = HttpAnswer::EXTRA_AT_ONCE;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        a.keepAlive = true;
        a.extraWhen = (decltype(a.extraWhen))when;
        const size_t symbol = path.find("/S"), ticker = path.find("tickers=");
        const int n = symbol != std::string::npos ? path[symbol + 2] - '0' : ticker != std::string::npos ? path[ticker + 8] - '0' : 0;
        if (path.rfind("/api/v1/prices/", 0) == 0) {
            a.body = NorgateRecord(45293, 10.0f * n, 10.0f * n + 1, 10.0f * n - 1, 10.0f * n) +
                NorgateRecord(45294, 10.0f * n, 10.0f * n + 1, 10.0f * n - 1, 10.0f * n);
        } else if (path.find("/name") != std::string::npos) {
            a.body = "Name " + std::to_string(n);
        } else if (path.rfind("/v8/finance/chart/", 0) == 0) {
            a.body = ChartFor(10 * n);
        } else if (path.rfind("/tiingo/daily/", 0) == 0 && path.find("/prices") != std::string::npos) {
            a.body = TiingoCsv(10 * n);
        } else if (path.rfind("/tiingo/daily/", 0) == 0) {
            a.body = "{\"name\":\"Name " + std::to_string(n) + "\"}";
        } else if (path.rfind("/tiingo/crypto/", 0) == 0) {
            a.body = "[{\"ticker\":\"" + std::to_string(n) + "usd\",\"priceData\":[{\"date\":\"2024-01-02T00:00:00+00:00\","
                     "\"open\":" + std::to_string(10 * n) + ",\"high\":" + std::to_string(10 * n + 1) + ",\"low\":" +
                std::to_string(10 * n - 1) + ",\"close\":" + std::to_string(10 * n) + ",\"volume\":5}]}]";
        }
        /* After each price answer, what the next request would take if it
        ** read one behind: another price answer, of a symbol nobody asked for. */
        const bool prices = path.find("prices") != std::string::npos || path.find("/chart/") != std::string::npos;
        std::string stale = a.body;
        for (char &c : stale)
            if (c >= '1' && c <= '3') c = '9';
        if (prices) a.extra = RawAnswer(stale);
        return a;
    });
    /* Each symbol's close, by source (a chart's first close is n + 11). */
    for (const char *s : {"Norgate", "Yahoo", "Tiingo", "TiingoCrypto"}) {
        for (int w : {(int)HttpAnswer::EXTRA_AT_ONCE, (int)HttpAnswer::EXTRA_LATE}) {
            SCOPED_TRACE(std::string(s) + (w == HttpAnswer::EXTRA_LATE ? " late" : " at once"));
            when = w;
            StartOver(server);
            const bool crypto = strcmp(s, "TiingoCrypto") == 0;
            Begin(s, 20240101, 20241231);
            for (const char *symbol : {"S1", "S2", "S3"}) Add(crypto ? (std::string(symbol + 1) + "usd").c_str() : symbol);
            const int late = w == HttpAnswer::EXTRA_LATE;
            EXPECT_EQ(ImportOnlineSymbols(SourceRow()), late) << Messages();
            EXPECT_EQ(gImport.count, late ? 3 : 0) << Messages();
            if (!late) {
                const std::string first = crypto ? "1usd" : "S1";
                EXPECT_NE(Messages().find(first + ": no answer to the " + first + " data request"), std::string::npos)
                    << Messages();
            }
            for (int32_t i = 0; i < gImport.count; i++) {
                const SymbolRecord &r = gStore.symbols[i];
                const int n = atoi(r.info.Symbol + (crypto ? 0 : 1));
                SCOPED_TRACE(r.info.Symbol);
                ASSERT_GE(r.barCounts[BAR_DAILY], 1);
                EXPECT_EQ(r.bars[BAR_DAILY][0].close, 10 * n + (strcmp(s, "Yahoo") == 0 ? 11 : 0));
                if (strcmp(s, "Norgate") == 0) {
                    EXPECT_STREQ(r.info.Type, "Stock");
                }
                if (!crypto && strcmp(s, "Yahoo") != 0) {
                    EXPECT_EQ(std::string(r.info.Name), "Name " + std::to_string(n));
                }
            }
        }
    }
}

/* Every failure says why, in the block's report and in the import log: a
** connection that cannot be made, an updater whose interface answers its
** status with an error (also one whose text is "OK"), a price series without
** its Record-Count or with a Record-Count of 0 above its records, a folder
** without files. */
TEST_F(OnlineRunTest, EveryFailureSaysWhy)
{
    int closedPort = 0;
    {
        LocalHttpServer gone([](const std::string &) { return HttpAnswer{}; });
        closedPort = gone.port;
    }
    /* The updater's answers of the case in hand: to its status request, and
    ** the headers of its price series. */
    HttpAnswer status;
    std::string priceHeaders, priceBody;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a = Updater(path, "");
        if (path == "/api/v1/status") a = status;
        if (path.rfind("/api/v1/prices/AAA", 0) == 0 && !priceHeaders.empty()) a.headers = priceHeaders;
        if (path.rfind("/api/v1/prices/AAA", 0) == 0 && !priceBody.empty()) a.body = priceBody;
        return a;
    });
    const HttpAnswer ok = {200, "", "OK"};
    const struct {
        const char *source;
        int port; /* 0 the CSV folder */
        HttpAnswer status;
        const char *priceHeaders;
        const char *reason; /* a line of the report, the log's too */
        const char *priceBody = nullptr; /* AAA's price answer; BBB's is a series */
    } cases[] = {
        {"Yahoo", closedPort, ok, "", "Yahoo data import encountered an error.\n"},
        {"Norgate", server.port, {500, "", "Internal Server Error"}, "",
         "Unable to connect to Norgate Data Updater.\nThe Norgate Data Updater's local web interface answered its status "
         "request with status 500: Internal Server Error.\n"},
        {"Norgate", server.port, {503, "", "OK"}, "",
         "Unable to connect to Norgate Data Updater.\nThe Norgate Data Updater's local web interface answered its status "
         "request with status 503: OK.\n"},
        {"Norgate", server.port, ok, "Field-Count: 6\r\n", "AAA: the answer was cut short (the answer has no Record-Count header)\n"},
        {"Norgate", server.port, ok, "Content-Type: text/html\r\n",
         "AAA: the answer was cut short (the answer has no Field-Count header)\n", "<html><body>Sign in</body></html>"},
        {"Norgate", server.port, ok, "Field-Count: 6\r\nRecord-Count: 0\r\n",
         "AAA: the price answer cannot be read: its Field-Count of 6 or Record-Count of 0 is no price series\n"},
        {"CSV", 0, ok, "", "No files with .csv extension were found in "},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason);
        TearDown();
        SetUp();
        PointAt(c.port);
        status = c.status;
        priceHeaders = c.priceHeaders;
        priceBody = c.priceBody ? c.priceBody : "";
        if (c.port) {
            Block(c.source, c.priceBody ? "AAA BBB" : "AAA");
        } else {
            PlatCreateFolder(tmp.File("empty").c_str());
            Block(c.source, "");
            ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("empty")), 0);
        }
        EXPECT_EQ(RESULT_IMPORT_FAILURE, ImportExitCode());
        EXPECT_FALSE(PlatFileExists(out.c_str())) << "no data file is written";
        std::string reported = Messages();
        for (size_t at; (at = reported.find("\r\n")) != std::string::npos;) reported.replace(at, 2, "\n");
        const std::string text = ReadTestFile(log);
        std::string said = c.reason;
        if (said.back() == '\n') said.pop_back();
        EXPECT_NE(std::string::npos, reported.find(said)) << reported;
        EXPECT_NE(std::string::npos, text.find(c.reason)) << text;
        EXPECT_NE(std::string::npos, text.find("\nImport Not Completed\n")) << text;
        if (c.port == closedPort) {
            /* The report goes on with the connection's own failure. */
            const size_t at = text.find(c.reason) + strlen(c.reason);
            EXPECT_GT(text.find('\n', at), at + 10) << text;
        }
    }
}

} // namespace

namespace {

/* One symbol's history as traded: weekdays of January 2024, splits on the
** 4th (2:1), the 10th (2:1) and the 25th (3:1), a dividend on the 12th.  A
** day's price level is A = 100 + its index, adjusted for every split; as
** traded it is A times the ratios of the splits after it. */
/* Damage done to one day's line or record, which keeps its split. */
enum Damage { INTACT, OPEN_ABOVE_HIGH, HIGH_BELOW_LOW, CLOSE_BELOW_LOW, VOLUME_NAN, VOLUME_TEXT, OPEN_MISSING };

struct TradedHistory {
    std::vector<int32_t> days;
    int32_t damagedDay = 0;
    Damage damage = INTACT;
    const std::vector<std::pair<int32_t, int>> splits = {{20240104, 2}, {20240110, 2}, {20240125, 3}};
    TradedHistory()
    {
        for (int32_t d = 20240102; d <= 20240131; d = NextDay(d))
            if (DayOfWeek(d) <= 5) days.push_back(d);
    }
    /* The product of the ratios of the splits after day, up to upTo. */
    int RatioAfter(int32_t day, int32_t upTo = 99991231) const
    {
        int r = 1;
        for (const auto &s : splits)
            if (s.first > day && s.first <= upTo) r *= s.second;
        return r;
    }
    int Split(int32_t day) const
    {
        for (const auto &s : splits)
            if (s.first == day) return s.second;
        return 0;
    }
    /* open, high, low, close of day i in units of m (A, A + 1, A - 1, A). */
    static std::string Prices(int i, int m, const char *order)
    {
        const int a = 100 + i;
        std::string text;
        for (const char *p = order; *p; p++) {
            const int v = (*p == 'h' ? a + 1 : *p == 'l' ? a - 1 : a) * m;
            text += (text.empty() ? "" : ",") + std::to_string(v);
        }
        return text;
    }
    /* Open, high, low, close and volume of day i in units of m, as texts,
    ** with the damage done when it is the damaged day; a JSON answer writes
    ** a value it leaves out as null. */
    std::vector<std::string> Values(size_t i, int m, bool json) const
    {
        std::vector<std::string> v = {Prices((int)i, m, "o"), Prices((int)i, m, "h"), Prices((int)i, m, "l"),
                                      Prices((int)i, m, "c"), std::to_string(12000 / m)};
        if (days[i] != damagedDay) return v;
        switch (damage) {
        case OPEN_ABOVE_HIGH: v[0] = std::to_string((100 + (int)i + 5) * m); break;
        case HIGH_BELOW_LOW: std::swap(v[1], v[2]); break;
        case CLOSE_BELOW_LOW: v[3] = std::to_string((100 + (int)i - 5) * m); break;
        case VOLUME_NAN: v[4] = "NaN"; break;
        case VOLUME_TEXT: v[4] = "many"; break;
        case OPEN_MISSING: v[0] = json ? "null" : ""; break;
        case INTACT: break;
        }
        return v;
    }
    /* A price file of the days from..to, as traded, its splits and dividend
    ** in columns, in the CSV folder's layout or Tiingo's. */
    std::string PriceFile(bool tiingo, int32_t from, int32_t to) const
    {
        std::string text = tiingo ? "date,close,high,low,open,volume,divCash,splitFactor\n"
                                  : "Date,Open,High,Low,Close,Volume,Split,Dividend\n";
        for (size_t i = 0; i < days.size(); i++) {
            const int32_t d = days[i];
            if (d < from || d > to) continue;
            char date[16];
            snprintf(date, sizeof date, "%04d-%02d-%02d", d / 10000, d / 100 % 100, d % 100);
            const int m = RatioAfter(d);
            const std::vector<std::string> v = Values(i, m, false);
            const std::string split = Split(d) ? std::to_string(Split(d)) : "";
            const std::string dividend = d == 20240112 ? "0.5" : "";
            if (tiingo)
                text += std::string(date) + "," + v[3] + "," + v[1] + "," + v[2] + "," + v[0] + "," + v[4] + "," +
                    (dividend.empty() ? "0" : dividend) + "," + (split.empty() ? "1" : split) + "\n";
            else
                text += std::string(date) + "," + v[0] + "," + v[1] + "," + v[2] + "," + v[3] + "," + v[4] + "," + split +
                    "," + dividend + "\n";
        }
        return text;
    }
    /* The chart answer of the days from..to as the service gives it on asOf:
    ** every price divided by the splits after its day up to asOf, which the
    ** answer lists. */
    std::string Chart(int32_t from, int32_t to, int32_t asOf) const
    {
        std::string stamps, splitList, columns[5];
        const char *keys[5] = {"open", "high", "low", "close", "volume"};
        for (size_t i = 0; i < days.size(); i++) {
            const int32_t d = days[i];
            if (d < from || d > to) continue;
            const std::string stamp = std::to_string(DateTimeToUnix(d, 14) + 1800);
            stamps += (stamps.empty() ? "" : ",") + stamp;
            const int m = RatioAfter(d) / RatioAfter(d, asOf);
            const std::vector<std::string> values = Values(i, m, true);
            for (int k = 0; k < 5; k++) columns[k] += (columns[k].empty() ? "" : ",") + values[k];
            if (Split(d) && d <= asOf)
                splitList += (splitList.empty() ? "" : ",") + std::string("\"") + stamp + "\":{\"date\":" + stamp +
                    ",\"numerator\":" + std::to_string(Split(d)) + ",\"denominator\":1}";
        }
        std::string quote;
        for (int k = 0; k < 5; k++) quote += std::string(k ? "," : "") + "\"" + keys[k] + "\":[" + columns[k] + "]";
        return "{\"chart\":{\"result\":[{\"meta\":{\"currency\":\"USD\",\"exchangeName\":\"NMS\",\"gmtoffset\":-18000},"
               "\"timestamp\":[" + stamps + "],\"events\":{\"splits\":{" + splitList + "}},\"indicators\":{\"quote\":[{" +
            quote + "}]}}]}}";
    }
};

/* An import with StartDate and EndDate stores the data as they stood then:
** a split after the EndDate had not happened, so it carries no factor, from
** every source whose answers carry splits.  What it stores is what the same
** file (or the service's answer of that day) cut at those dates stores, and
** on 5 January, as traded before the splits of the 10th and the 25th, the
** close is 103 x 2 x 3 with the factor of the 10th alone. */
TEST_F(OnlineRunTest, AnEndDateStoresTheDataAsTheyStoodThen)
{
    const TradedHistory h;
    const int32_t start = 20240105, end = 20240119;
    bool cut = false;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        a.body = "{}";
        if (path.rfind("/v8/finance/chart/", 0) == 0)
            a.body = cut ? h.Chart(start, end, end) : h.Chart(20240101, 20241231, 20241231);
        else if (path.rfind("/tiingo/daily/AKF/prices", 0) == 0)
            a.body = cut ? h.PriceFile(true, start, end) : h.PriceFile(true, 20240101, 20241231);
        return a;
    });
    for (const char *source : {"CSV", "Yahoo", "Tiingo"}) {
        SCOPED_TRACE(source);
        std::vector<Bar> stored[2];
        std::vector<EventItem> events[2];
        for (int c = 0; c < 2; c++) {
            StartOver(server);
            cut = c == 1;
            const bool csv = strcmp(source, "CSV") == 0;
            Block(source, csv ? "" : "AKF");
            gImportState.StartDate = start;
            gImportState.EndDate = end;
            if (csv) {
                PlatCreateFolder(tmp.File("prices").c_str());
                Write("prices\\AKF.csv", cut ? h.PriceFile(false, start, end) : h.PriceFile(false, 20240101, 20241231));
                ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
            }
            ASSERT_EQ(0, ImportExitCode()) << Messages();
            const SymbolRecord &r = Symbol("AKF");
            stored[c].assign(r.bars[BAR_DAILY], r.bars[BAR_DAILY] + r.barCounts[BAR_DAILY]);
            events[c].assign(r.events, r.events + r.eventCount);
        }
        ASSERT_EQ(stored[0].size(), 11u);
        ASSERT_EQ(stored[1].size(), 11u);
        for (size_t i = 0; i < stored[0].size(); i++) {
            const Bar &a = stored[0][i], &b = stored[1][i];
            EXPECT_EQ(a.date, b.date) << i;
            EXPECT_EQ(a.open, b.open) << i;
            EXPECT_EQ(a.high, b.high) << i;
            EXPECT_EQ(a.low, b.low) << i;
            EXPECT_EQ(a.close, b.close) << i;
            EXPECT_EQ(a.volume, b.volume) << i;
            EXPECT_EQ(a.split, b.split) << a.date;
        }
        EXPECT_EQ(stored[0][0].date, 20240105);
        EXPECT_EQ(stored[0][0].close, 618);
        EXPECT_EQ(stored[0][0].split, 2);
        EXPECT_EQ(stored[0].back().split, 1);
        ASSERT_EQ(events[0].size(), events[1].size());
        for (size_t e = 0; e < events[0].size(); e++) {
            EXPECT_EQ(events[0][e].date, events[1][e].date);
            EXPECT_EQ(events[0][e].value, events[1][e].value);
        }
    }
}

/* A split's ratio does not depend on its day's prices: a day refused for
** any of them (an open above the high, a high below the low, a close below
** the low, a volume that is NaN or text, an open left out) still divides
** the days before it, from every source whose answers carry splits.  Each
** day stored keeps its price as traded with the factor of the splits after
** it, so that adjusted it is 100 plus its index, as the history was made;
** and a refused day's split after the EndDate had not happened then (the
** days before the EndDate are adjusted for the splits up to it alone). */
TEST_F(OnlineRunTest, ASplitOnARefusedDayDividesTheDaysBeforeIt)
{
    TradedHistory h;
    LocalHttpServer server([&](const std::string &path) {
        HttpAnswer a;
        a.body = "{}";
        if (path.rfind("/v8/finance/chart/", 0) == 0)
            a.body = h.Chart(20240101, 20241231, 20241231);
        else if (path.rfind("/tiingo/daily/AKF/prices", 0) == 0)
            a.body = h.PriceFile(true, 20240101, 20241231);
        return a;
    });
    const struct {
        Damage damage;
        const char *reason;
        bool json; /* a JSON answer can write it */
    } damages[] = {
        {OPEN_ABOVE_HIGH, "the open lies outside the low to high range", true},
        {HIGH_BELOW_LOW, "the high is below the low", true},
        {CLOSE_BELOW_LOW, "the close lies outside the low to high range", true},
        {VOLUME_NAN, "a number is not finite", true},
        {VOLUME_TEXT, "a number field holds text", false},
        {OPEN_MISSING, "a price is missing", true},
    };
    for (const char *source : {"CSV", "Tiingo", "Yahoo"}) {
        for (const auto &damage : damages) {
            for (const int32_t endDate : {20241231, 20240119}) {
                const bool csv = strcmp(source, "CSV") == 0, yahoo = strcmp(source, "Yahoo") == 0;
                if (yahoo && !damage.json) continue;
                SCOPED_TRACE(std::string(source) + " " + damage.reason + " up to " + std::to_string(endDate));
                StartOver(server);
                /* The split of the 10th, or the one of the 25th, after the EndDate. */
                h.damagedDay = endDate == 20241231 ? 20240110 : 20240125;
                h.damage = damage.damage;
                Block(source, csv ? "" : "AKF");
                gImportState.EndDate = endDate;
                if (csv) {
                    PlatCreateFolder(tmp.File("prices").c_str());
                    Write("prices\\AKF.csv", h.PriceFile(false, 20240101, 20241231));
                    ASSERT_EQ(Line(IMPKW_DATA_PATH, tmp.File("prices")), 0);
                }
                ASSERT_EQ(0, ImportExitCode()) << Messages();
                const SymbolRecord &r = Symbol("AKF");
                std::vector<int32_t> expected;
                for (int32_t d : h.days)
                    if (d != h.damagedDay && d <= endDate) expected.push_back(d);
                ASSERT_EQ(Dates(r), expected);
                for (int32_t k = 0; k < r.barCounts[BAR_DAILY]; k++) {
                    const Bar &b = r.bars[BAR_DAILY][k];
                    const size_t i = (size_t)(std::find(h.days.begin(), h.days.end(), b.date) - h.days.begin());
                    EXPECT_EQ(b.split, h.RatioAfter(b.date, endDate)) << b.date;
                    EXPECT_EQ(b.close / b.split, (100.0 + (double)i) * h.RatioAfter(b.date) / h.RatioAfter(b.date, endDate))
                        << b.date;
                }
                if (endDate == 20241231) {
                    const std::string unit = yahoo ? "record " : "line ";
                    const int number = (int)(std::find(h.days.begin(), h.days.end(), h.damagedDay) - h.days.begin()) +
                        (yahoo ? 1 : 2);
                    EXPECT_NE(std::string::npos, ReadTestFile(log).find(": 1 " + unit + "not read as bars: " + unit +
                                                                        std::to_string(number) + " (" + damage.reason + ")"))
                        << ReadTestFile(log);
                }
            }
        }
    }
}

} // namespace
