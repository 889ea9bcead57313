#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "foundation/dates.h"
#include "foundation/errors.h"
#include "foundation/settings_table.h"
#include "foundation/text_match.h"
#include "shell/headless/headless.h"
#include "services/services.h"
#include "support/program_state.h"

namespace {

struct ErrorsTest : ProgramStateTest {
    void SetUp() override
    {
        ProgramStateTest::SetUp();
        CopyString(gSettings.ActiveScript, 260, "C:\\Scripts\\trend.kvs", -1);
        CopyString(gSettings.DateDisplayFormat, 32, "yyyy-MM-dd", -1);
        gRun.uiThreadId = PlatCurrentThreadId();
    }
    std::string Log() { return ReadTestFile(tmp.File("errorlog.txt")); }
};

std::string UtcDate(const char *picture)
{
    PlatDateTime now;
    GetUtcDateTime(&now);
    char text[DATE_TEXT_SIZE];
    FormatDate(MakeDate(now.year, now.month, now.day), picture, text);
    return text;
}

} // namespace

TEST_F(ErrorsTest, UnattendedReportsGoToTheErrorLog)
{
    gRun.unattended = 1;
    static const char *const kPictures[] = {"yyyy-MM-dd", "M/d/yy", "ddd d MMM yyyy"};
    for (const char *picture : kPictures) {
        PlatDeleteFile(tmp.File("errorlog.txt").c_str());
        CopyString(gSettings.DateDisplayFormat, 32, picture, -1);
        std::string before = UtcDate(picture);
        ReportError("Unable to open %s for reading", "C:\\x.csv");
        std::string after = UtcDate(picture);
        std::string log = Log();
        std::string head = "\n>>> ", tail = " error in C:\\Scripts\\trend.kvs <<<\n"
                                            "Unable to open C:\\x.csv for reading\n";
        ASSERT_GT(log.size(), head.size() + tail.size() + 9) << log;
        EXPECT_EQ(log.substr(0, head.size()), head);
        EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
        std::string stamp = log.substr(head.size(), log.size() - head.size() - tail.size());
        std::string date = stamp.substr(0, stamp.size() - 9), time = stamp.substr(stamp.size() - 9);
        EXPECT_TRUE(date == before || date == after) << stamp;
        int h = -1, mi = -1, se = -1;
        char colon1 = 0, colon2 = 0;
        ASSERT_EQ(sscanf(time.c_str(), " %2d%c%2d%c%2d", &h, &colon1, &mi, &colon2, &se), 5) << stamp;
        EXPECT_EQ(time[0], ' ');
        EXPECT_EQ(time.size(), 9u);
        EXPECT_TRUE(colon1 == ':' && colon2 == ':' && h < 24 && mi < 60 && se < 60) << stamp;
    }
    ReportError("second");
    std::string log = Log();
    EXPECT_EQ(std::count(log.begin(), log.end(), '>'), 6);
    EXPECT_EQ(gHeadless.messageCount, 0);

    /* Without a writable program folder the entry is dropped quietly. */
    CopyString(gProgramFolder, 260, tmp.File("missing").c_str(), -1);
    ReportError("lost");
    EXPECT_EQ(gHeadless.messageCount, 0);
}

TEST_F(ErrorsTest, InteractiveReportsShowAMessageBox)
{
    std::string longText(1500, 'm');
    ReportError("%s", longText.c_str());
    EXPECT_EQ(strlen(LastMessage()), 1023u);
    gHeadless.messageBoxAnswer = 6;
    EXPECT_EQ(MessageBoxFormat(4, "Stop the %s?", "Test"), 6);
    EXPECT_STREQ(LastMessage(), "Stop the Test?");
    EXPECT_FALSE(PlatFileExists(tmp.File("errorlog.txt").c_str()));
}

TEST_F(ErrorsTest, SuppressSwallowsExactlyOneReport)
{
    gMessageState.suppressNext = 1;
    ReportError("hidden");
    ReportError("shown");
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_STREQ(LastMessage(), "shown");
}

TEST_F(ErrorsTest, WorkerReportsLeaveTheSuppressFlagAlone)
{
    gMessageState.suppressNext = 1;
    std::thread worker([] { ReportError("worker failed"); });
    worker.join();
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_STREQ(LastMessage(), "worker failed");
    EXPECT_EQ(gMessageState.suppressNext.load(), 1);
    ReportError("harmless");
    EXPECT_EQ(gHeadless.messageCount, 1);
    EXPECT_EQ(gMessageState.suppressNext.load(), 0);
}

TEST_F(ErrorsTest, ConcurrentInteractiveReportsAreEachShown)
{
    enum { kThreads = 8,
           kReports = 500 };
    gHeadless.captureLog = 1; /* keeps the message boxes off stderr */
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; t++)
        workers.emplace_back([t] {
            for (int i = 0; i < kReports; i++) ReportError("worker %d report %d", t, i);
        });
    for (auto &w : workers) w.join();
    EXPECT_EQ(gHeadless.messageCount, kThreads * kReports);
    int t = -1, i = -1;
    EXPECT_EQ(sscanf(LastMessage(), "worker %d report %d", &t, &i), 2) << LastMessage();
}

TEST_F(ErrorsTest, ConcurrentReportsKeepTheirEntriesWhole)
{
    gRun.unattended = 1;
    enum { kThreads = 8,
           kReports = 40 };
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; t++)
        workers.emplace_back([t] {
            std::string body(900, (char)('a' + t));
            for (int i = 0; i < kReports; i++) ReportError("worker %d report %d %s", t, i, body.c_str());
        });
    for (auto &w : workers) w.join();

    /* The log must be nothing but whole entries, each with its own body. */
    std::string log = Log();
    const std::string head = "\n>>> ", middle = " error in C:\\Scripts\\trend.kvs <<<\nworker ";
    std::vector<int> perThread(kThreads, 0);
    size_t at = 0;
    int count = 0;
    while (at < log.size()) {
        ASSERT_EQ(log.compare(at, head.size(), head), 0) << "entry " << count;
        size_t m = log.find(middle, at);
        ASSERT_NE(m, std::string::npos);
        size_t text = m + middle.size();
        int t = -1, i = -1, used = 0;
        ASSERT_EQ(sscanf(log.c_str() + text, "%d report %d %n", &t, &i, &used), 2);
        ASSERT_TRUE(t >= 0 && t < kThreads);
        size_t body = text + used;
        ASSERT_EQ(log.substr(body, 901), std::string(900, (char)('a' + t)) + "\n") << "entry " << count;
        perThread[t]++;
        count++;
        at = body + 901;
    }
    EXPECT_EQ(count, kThreads * kReports);
    for (int n : perThread) EXPECT_EQ(n, kReports);
}
