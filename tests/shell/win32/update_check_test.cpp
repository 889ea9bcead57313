#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>

#include "foundation/errors.h"
#include "frame_fixture.h"
#include "platform/platform.h"
#include "services/services.h"
#include "support/test_support.h"

namespace {

/* A one-connection-at-a-time HTTP server on 127.0.0.1 serving fixed files;
** other paths get 404. */
struct LocalServer {
    SOCKET listener = INVALID_SOCKET;
    int port = 0;
    std::map<std::string, std::string> files;
    std::atomic<int> requests{0};
    std::thread thread;

    void Start()
    {
        WSADATA wsa;
        WSAStartup(MAKEWORD(2, 2), &wsa);
        listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, (sockaddr *)&address, sizeof address);
        int length = sizeof address;
        getsockname(listener, (sockaddr *)&address, &length);
        port = ntohs(address.sin_port);
        listen(listener, 4);
        thread = std::thread([this] { Serve(); });
    }
    void Serve()
    {
        for (;;) {
            SOCKET client = accept(listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            std::string request;
            char buffer[1024];
            int n;
            while (request.find("\r\n\r\n") == std::string::npos && (n = recv(client, buffer, sizeof buffer, 0)) > 0)
                request.append(buffer, (size_t)n);
            requests++;
            size_t start = request.find(' ') + 2, end = request.find(' ', start);
            std::string path = request.substr(start, end - start);
            auto found = files.find(path);
            std::string body = found != files.end() ? found->second : "missing";
            std::string reply = std::string(found != files.end() ? "HTTP/1.1 200 OK" : "HTTP/1.1 404 Not Found") +
                "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
            send(client, reply.data(), (int)reply.size(), 0);
            shutdown(client, SD_SEND);
            closesocket(client);
        }
    }
    void Stop()
    {
        closesocket(listener);
        if (thread.joinable()) thread.join();
    }
};

/* Runs one check the way the menu command does and handles messages until the
** answer has been dealt with. */
void RunCheck(int manual)
{
    gFrame.manualCheck = manual;
    if (manual) SetWaitCursor(1);
    StartVersionCheck();
    for (int i = 0; i < 400; i++) {
        MSG msg;
        bool answered = false;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_VERSION_ANSWER) answered = true;
            DispatchAppMessage(&msg);
        }
        if (answered) return;
        Sleep(25);
    }
    ADD_FAILURE() << "no answer from the version check";
}

bool Seen(const char *text)
{
    for (const std::string &s : DialogWatcher::Seen())
        if (s.find(text) != std::string::npos) return true;
    return false;
}

} // namespace

TEST_F(FrameTest, UpdateCheckAgainstALocalServer)
{
    LocalServer server;
    server.Start();
    std::string url = "http://127.0.0.1:" + std::to_string(server.port);
    SetEnvironmentVariableA("KESTOVAR_UPDATE_SERVER", url.c_str());

    server.files["version.txt"] = "1.0.0.0\r\n";
    server.files["version_date.txt"] = "20261201";
    RunCheck(0); // the start-up check is silent when current
    EXPECT_TRUE(DialogWatcher::Seen().empty());
    RunCheck(1);
    EXPECT_TRUE(Seen("You are running the latest version."));

    // A newer version is offered; No ends it, and the missing installer is
    // never written.
    DialogWatcher::Clear();
    server.files["version.txt"] = "1.0.0.0b";
    DialogWatcher::Answer(IDNO);
    RunCheck(1);
    EXPECT_TRUE(Seen("You are running 1.0.0.0 and the latest version is 1.0.0.0b."));
    DialogWatcher::Clear();
    DialogWatcher::Answer(IDYES);
    RunCheck(0);
    EXPECT_FALSE(PlatFileExists(File("KestovarInstall.1.0.0.0b.exe").c_str()));
    EXPECT_NE(gFrame.frame, nullptr);

    // A published text that could name a file elsewhere is refused.
    DialogWatcher::Clear();
    server.files["version.txt"] = "9.0\\..\\..\\x";
    RunCheck(1);
    EXPECT_TRUE(Seen("Unable to check for a newer version of Kestovar."));
    server.Stop();

    // No server: a manual check says so and ends its wait.
    DialogWatcher::Clear();
    RunCheck(1);
    EXPECT_TRUE(Seen("Unable to check for a newer version of Kestovar."));
    EXPECT_EQ(gMessageState.waitNesting, 0);
    SetEnvironmentVariableA("KESTOVAR_UPDATE_SERVER", nullptr);
}

TEST_F(FrameTest, CrashReportWalksTheStack)
{
    CONTEXT context = {};
    RtlCaptureContext(&context);
    EXCEPTION_RECORD record = {};
    record.ExceptionCode = 0xC0000005;
    EXCEPTION_POINTERS pointers = {&record, &context};
    EXPECT_EQ(CrashHandler(&pointers), EXCEPTION_EXECUTE_HANDLER);
    ASSERT_EQ(DialogWatcher::Seen().size(), 1u);
    std::string text = DialogWatcher::Seen()[0];
    EXPECT_EQ(text.rfind("KESTOVAR ERROR|Kestovar 1.0.0.0 has crashed with exception c0000005", 0), 0u) << text;
    // The test's own callers are on the stack: more than one frame is listed.
    EXPECT_NE(text.find("01: 0x"), std::string::npos) << text;
}
