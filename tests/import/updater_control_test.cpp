/* updater_control_test.cpp -- starting, updating and closing the data
** updater (its stand-in, bin/ndu.trigger.exe beside the test program), the
** watchlist names for suggestions, and the security information page against
** a local server. */
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "import/import_fixture.h"
#include "import/local_http_server.h"
#include "marketdata/import/http_client.h"
#include "marketdata/import/online_import.h"
#include "platform/platform.h"
#include "services/services.h"

namespace {

std::vector<std::string> gStatusTexts;

void KeepStatus(int part, const char *text)
{
    if (part == 0) gStatusTexts.push_back(text);
}

/* 0 no updater, 1 running and idle, 2 running and busy. */
int UpdaterState()
{
    void *window = FindNorgateUpdaterWindow();
    return !window ? 0 : FindBusyCancelButton(window) ? 2
                                                      : 1;
}

/* Waits up to five seconds for the updater to reach state; true when it did. */
bool WaitForState(int state)
{
    for (int k = 0; k < 100; k++) {
        if (UpdaterState() == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

struct UpdaterTest : ImportTest {
    std::string launcher;
    OnlineHost host;
    void SetUp() override
    {
        ImportTest::SetUp();
        /* The updater's interface is looked for on a port nothing listens on,
        ** so an updater or stand-in running on this machine answers none of
        ** these tests. */
        host = gOnlineHosts[HOST_NORGATE];
        gOnlineHosts[HOST_NORGATE] = {"127.0.0.1", 1, 0};
        /* The native platform layer and the stand-in keep the key and the
        ** window in this folder. */
        PlatSetEnv("KV_NDU_HOME", tmp.path.c_str());
        launcher = "\"" + TestProgramFolder() + "\\bin\\ndu.trigger.exe\"";
        gStatusTexts.clear();
        gHeadless.statusEcho = KeepStatus;
    }
    void TearDown() override
    {
        if (UpdaterState()) {
            NduStartProgram((launcher + " close").c_str());
            WaitForState(0);
        }
        Uninstall();
        gHeadless.statusEcho = nullptr;
        PlatSetEnv("KV_NDU_HOME", nullptr);
        gOnlineHosts[HOST_NORGATE] = host;
        ImportTest::TearDown();
    }
    /* Runs the stand-in's installer with data folder data and waits for the key. */
    void Install(const std::string &data)
    {
        ASSERT_EQ(1, NduStartProgram((launcher + " install " + data).c_str()));
        char value[260] = "";
        for (int k = 0; k < 100 && !NduReadRegistryText("DataPath", value, sizeof value); k++)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(data, value);
    }
    void Uninstall()
    {
        char value[260];
        if (!NduReadRegistryText("InstallPath", value, sizeof value)) return;
        NduStartProgram((launcher + " uninstall").c_str());
        for (int k = 0; k < 100 && NduReadRegistryText("InstallPath", value, sizeof value); k++)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    static bool Said(const char *text)
    {
        return std::find(gStatusTexts.begin(), gStatusTexts.end(), text) != gStatusTexts.end();
    }
};

TEST_F(UpdaterTest, LaunchesUpdatesAndClosesTheUpdater)
{
    /* Without its key (and with no interface answering) nothing can start. */
    gHeadless.messageCount = 0;
    EXPECT_EQ(0, ControlNorgateUpdater(0));
    EXPECT_STREQ("Unable to launch Norgate Data Updater.", LastMessage());

    ASSERT_EQ(1, PlatCreateFolder((tmp.path + "\\data").c_str()));
    Install(tmp.path + "\\data\\");
    struct Step {
        int mode;
        const char *status;  /* a status text the call shows; "" none at all */
        const char *waiting; /* a waiting text it shows too, or null */
        int after;           /* the updater's state once the call is back */
    } steps[] = {
        {0, "Launching Norgate Data Updater...", nullptr, 1},
        {0, "", nullptr, 1}, /* open and idle: nothing is started */
        {1, "Updating Norgate Data...", "Waiting for Norgate to finish updating...", 1},
        {-1, "Closing Norgate Data Updater...", nullptr, 0},
        {1, "Launching Norgate Data Updater and Updating Data...", "Waiting for Norgate to finish updating...", 1},
        {-1, "Closing Norgate Data Updater...", nullptr, 0},
    };
    for (const Step &s : steps) {
        SCOPED_TRACE(testing::Message() << "mode " << s.mode << ", " << s.status);
        gStatusTexts.clear();
        EXPECT_EQ(1, ControlNorgateUpdater(s.mode)) << LastMessage();
        if (s.status[0]) {
            EXPECT_TRUE(Said(s.status));
        } else {
            EXPECT_TRUE(gStatusTexts.empty()) << gStatusTexts.front();
        }
        if (s.waiting) {
            EXPECT_TRUE(Said(s.waiting));
        }
        EXPECT_TRUE(WaitForState(s.after));
    }
}

TEST_F(UpdaterTest, ListsWatchlistNamesHoldingTheTypedText)
{
    EXPECT_EQ(0, ListNorgateWatchlistNames(".")) << "no data folder without the key";
    /* A data folder of two-, three- and four-byte letters: the updater is
    ** started with its name and keeps it in its key as the letters. */
    const std::string data = tmp.path + "\\D\xC3\xA4t\xD0\xB0\xE2\x82\xAC\xF0\x9D\x84\x9E";
    std::string lists = data + "\\Configuration\\Watchlists";
    ASSERT_EQ(1, PlatCreateFolder(data.c_str()));
    ASSERT_EQ(1, PlatCreateFolder((data + "\\Configuration").c_str()));
    ASSERT_EQ(1, PlatCreateFolder(lists.c_str()));
    for (const char *name : {"Tech Leaders.wl1", "S&P 500 Current & Past.wl2", "Small TECH.wlx", "notes.txt"})
        ASSERT_TRUE(WriteTestFile(lists + "\\" + name, "Symbol\r\n"));
    Install(data + "\\");
    struct Case {
        const char *typed;
        std::vector<std::string> want; /* in any order */
    } cases[] = {
        {".", {".S&P 500 Current & Past?12", ".Small TECH?12", ".Tech Leaders?12"}},
        {".tech", {".Small TECH?12", ".Tech Leaders?12"}},
        {".Past", {".S&P 500 Current & Past?12"}},
        {".zzz", {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(1, ListNorgateWatchlistNames(c.typed)) << c.typed;
        std::vector<std::string> got;
        std::string text = gNorgateWatchlistNames;
        for (size_t at = 0; !text.empty() && at != std::string::npos;) {
            size_t bar = text.find('|', at);
            got.push_back(text.substr(at, bar == std::string::npos ? bar : bar - at));
            at = bar == std::string::npos ? bar : bar + 1;
        }
        std::sort(got.begin(), got.end());
        EXPECT_EQ(c.want, got) << c.typed << ": " << text;
    }
}

/* The page of one security: its head, a security field, a current
** fundamental and a forecast, every text from the answer escaped; fields
** without an answer are left out. */
TEST_F(UpdaterTest, WritesTheSecurityInformationPage)
{
    LocalHttpServer server([](const std::string &path) {
        HttpAnswer a;
        if (path == "/api/v1/status")
            a.body = "OK";
        else if (path == "/api/v1/security/AAA/exchange")
            a.body = "NYSE";
        else if (path == "/api/v1/security/AAA/basetype")
            a.body = "Equity <common>";
        else if (path == "/api/v1/fundamental/AAA/mktcap")
            a.body = "1234567,2024-03-31";
        else if (path == "/api/v1/fundamental/AAA/projepsq")
            a.body = "12,2024-06-30";
        else
            a.status = 404;
        return a;
    });
    OnlineHost saved = gOnlineHosts[HOST_NORGATE];
    gOnlineHosts[HOST_NORGATE] = {"127.0.0.1", server.port, 0};
    gSettings.ImportRetries = 0;
    CopyString(gSettings.OutputPath, sizeof gSettings.OutputPath, tmp.path.c_str(), -1);
    ASSERT_EQ(1, PlatCreateFolder((tmp.path + "\\Info").c_str()));
    ASSERT_TRUE(WriteTestFile(tmp.path + "\\Info\\w3.css", "/* local */"));
    SymbolRecord record{};
    CopyString(record.info.Symbol, sizeof record.info.Symbol, "AAA", -1);
    CopyString(record.info.Name, sizeof record.info.Name, "A & B Holdings", -1);
    SetStatusText(0, "%s", "before");
    ShowNorgateSecurityInfo(&record);
    EXPECT_STREQ("before", gHeadless.statusParts[0]);
    std::string page = ReadTestFile(tmp.path + "\\Info\\AAA_INFO.html");
    for (const char *part : {
             "<!DOCTYPE html>\n<!-- Generated by Kestovar.exe -->\n<html lang='en'>\n<head>\n<title>AAA_INFO</title>\n",
             "<link rel='stylesheet' href='w3.css'>\n",
             "<h3>A &amp; B Holdings (AAA on NYSE) Information and Fundamentals</h3></div>\n"
             "<h3 class='w3-container w3-pale-red'>Security Information</h3>\n<table class='w3-table w3-striped'>\n"
             "<tr class='w3-pale-green'><th>Item</th><th>Value</th></tr>\n"
             "<tr><td class='w3-text-blue'>Base security type, such as equity or fund</td><td>Equity &lt;common&gt;</td></tr>\n"
             "</table><h3 class='w3-container w3-pale-red'>Current Fundamentals</h3>\n",
             "<td>Market capitalisation</td><td class='w3-text-red'>1,234,567</td><td>2024-03-31</td></tr>\n",
             "<tr><td class='w3-text-blue'>projepsq</td><td>Mean earnings per share forecast, current quarter</td>"
             "<td class='w3-text-red'>12</td><td>2024-06-30</td></tr>\n",
         })
        EXPECT_NE(std::string::npos, page.find(part)) << part << "\n---\n"
                                                      << page;
    EXPECT_EQ(std::string::npos, page.find("subtype1"));
    const std::string end = "</table></div>\n</body>\n</html>\n";
    EXPECT_EQ(end, page.substr(page.size() - end.size()));

    /* A page that cannot be written whole (a full disk part way, a refused
    ** rename) is reported once and leaves the one before as it was. */
    for (int kind : {PLAT_FAULT_WRITE, PLAT_FAULT_RENAME}) {
        SCOPED_TRACE(kind);
        PlanOneFault(kind, kind == PLAT_FAULT_WRITE ? 3 : 0);
        ShowNorgateSecurityInfo(&record);
        ExpectOneFailedReplace(kind, tmp.path + "\\Info\\AAA_INFO.html", page, tmp.path + "\\Info", "AAA_INFO.html;w3.css;");
    }

    /* A security the interface does not know gives its message and no page. */
    CopyString(record.info.Symbol, sizeof record.info.Symbol, "ZZZ", -1);
    ShowNorgateSecurityInfo(&record);
    EXPECT_STREQ("Unable to get security information for ZZZ.", LastMessage());
    EXPECT_FALSE(PlatFileExists((tmp.path + "\\Info\\ZZZ_INFO.html").c_str()));
    HttpClose(0);
    gOnlineHosts[HOST_NORGATE] = saved;
}

} // namespace
