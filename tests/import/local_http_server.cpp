/* local_http_server.cpp -- see local_http_server.h. */
#include "import/local_http_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef int socklen_t;
enum { SEND_FLAGS = 0 };
static void CloseSocket(intptr_t s) { closesocket((SOCKET)s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
static void CloseSocket(intptr_t s) { close((int)s); }
enum { SEND_FLAGS = MSG_NOSIGNAL }; /* a client that left is no signal */
#endif

static bool SendAll(intptr_t s, const std::string &data)
{
    size_t sent = 0;
    while (sent < data.size()) {
        int n = (int)send((decltype(socket(0, 0, 0)))s, data.data() + sent, (int)(data.size() - sent), SEND_FLAGS);
        if (n <= 0) return false;
        sent += (size_t)n;
    }
    return true;
}

LocalHttpServer::LocalHttpServer(Handler h) : handler(std::move(h))
{
#ifdef _WIN32
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
#endif
    intptr_t s = (intptr_t)socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind((decltype(socket(0, 0, 0)))s, (sockaddr *)&address, sizeof address);
    listen((decltype(socket(0, 0, 0)))s, 64);
    socklen_t length = sizeof address;
    getsockname((decltype(socket(0, 0, 0)))s, (sockaddr *)&address, &length);
    port = ntohs(address.sin_port);
    listener = s;
    acceptor = std::thread([this] { Serve(); });
}

LocalHttpServer::~LocalHttpServer()
{
    stopping = true;
    acceptor.join();
    CloseSocket(listener);
    std::vector<std::thread> all;
    {
        std::lock_guard<std::mutex> hold(lock);
        all.swap(connections);
    }
    for (std::thread &t : all) t.join();
}

std::vector<std::string> LocalHttpServer::Paths()
{
    std::lock_guard<std::mutex> hold(lock);
    return paths;
}

void LocalHttpServer::Serve()
{
    while (!stopping) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET((decltype(socket(0, 0, 0)))listener, &ready);
        timeval wait = {0, 20000};
        if (select((int)listener + 1, &ready, nullptr, nullptr, &wait) <= 0) continue;
        intptr_t client = (intptr_t)accept((decltype(socket(0, 0, 0)))listener, nullptr, nullptr);
        if (client < 0) continue;
            /* A client that stops reading must not hold an answer's thread forever. */
#ifdef _WIN32
        DWORD limit = 300;
#else
        timeval limit = {0, 300000};
#endif
        setsockopt((decltype(socket(0, 0, 0)))client, SOL_SOCKET, SO_SNDTIMEO, (const char *)&limit, sizeof limit);
        /* Nor one that never finishes its request (a TLS handshake on this plain port). */
        setsockopt((decltype(socket(0, 0, 0)))client, SOL_SOCKET, SO_RCVTIMEO, (const char *)&limit, sizeof limit);
        std::lock_guard<std::mutex> hold(lock);
        connections.emplace_back([this, client] { Answer(client); });
    }
}

std::string RawAnswer(const std::string &body)
{
    return "HTTP/1.1 200 Answer\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

void LocalHttpServer::Answer(intptr_t s)
{
    std::string request;
    char buffer[4096];
    /* One request after another while the answers keep the connection; a
    ** kept connection left idle for 2 s, or the server stopping, ends it. */
    std::string late; /* unasked bytes held back for the next request */
    for (bool keep = true, first = true; keep && !stopping; first = false) {
        size_t end;
        int idle = 0;
        while ((end = request.find("\r\n\r\n")) == std::string::npos && !stopping && idle < (first ? 1 : 7)) {
            int n = (int)recv((decltype(socket(0, 0, 0)))s, buffer, sizeof buffer, 0);
            if (n == 0) break;
            if (n < 0) {
                idle++; /* the 300 ms receive time-out passed */
                continue;
            }
            idle = 0;
            request.append(buffer, (size_t)n);
        }
        if (end == std::string::npos) break;
        size_t start = request.find(' ') + 1;
        std::string path = request.substr(start, request.find(' ', start) - start);
        request.erase(0, end + 4);
        {
            std::lock_guard<std::mutex> hold(lock);
            paths.push_back(path);
        }
        requests++;
        if (!late.empty() && !SendAll(s, late)) break;
        late.clear();
        HttpAnswer a = handler(path);
        for (int waited = 0; waited < a.delayMs && !stopping; waited += 10)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        bool cut = a.cutAt < a.body.size();
        keep = a.keepAlive && !a.drop && !a.endless && !a.noLength && !cut;
        if (a.drop) break;
        if (!a.raw.empty()) {
            SendAll(s, a.raw);
            break;
        }
        std::string head = "HTTP/1.1 " + std::to_string(a.status) + " Answer\r\n" + (keep ? "" : "Connection: close\r\n") +
            a.headers;
        std::string body = a.body.substr(0, cut ? a.cutAt : std::string::npos);
        if (a.chunked) {
            head += "Transfer-Encoding: chunked\r\n";
            std::string chunks;
            for (size_t at = 0; at < body.size(); at += 7) {
                char size[16];
                snprintf(size, sizeof size, "%zx\r\n", std::min<size_t>(7, body.size() - at));
                chunks += size + body.substr(at, 7) + "\r\n";
            }
            body = chunks + "0\r\n\r\n";
        } else if (!a.endless && !a.noLength) {
            head += "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
        }
        head += "\r\n";
        const bool atOnce = a.extraWhen == HttpAnswer::EXTRA_AT_ONCE;
        if (a.extraWhen == HttpAnswer::EXTRA_LATE) late = a.extra;
        bool ok = SendAll(s, head + body + (atOnce ? a.extra : ""));
        if (ok && !a.extra.empty() && a.extraWhen == HttpAnswer::EXTRA_APART) {
            /* Apart from the answer, so that the client has taken the answer
            ** whole before the unasked bytes arrive. */
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            ok = SendAll(s, a.extra);
        }
        std::string more(4096, '1');
        /* "Endless" within reason: some clients read such a body to its end
        ** before handing any of it over. */
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (ok && a.endless && !stopping && std::chrono::steady_clock::now() < until) {
            ok = SendAll(s, more);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!ok) break;
    }
#ifdef _WIN32
    shutdown((SOCKET)s, SD_SEND);
#else
    shutdown((int)s, SHUT_WR);
#endif
    CloseSocket(s);
}
