/* local_http_server.h -- a small HTTP/1.1 server on 127.0.0.1 (an ephemeral
** port) inside the test program, answering each GET through a handler: with
** a status, headers and a body, slowly, not at all (a dropped connection),
** without end, cut short without a length or before the length it announced,
** in chunks, cut inside its headers, or on a kept connection followed by a second answer nobody asked
** for.  Throttling is a 429 or 503 answer with a "Retry-After: " header line. */
#pragma once
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct HttpAnswer {
    int status = 200;
    std::string headers; /* extra header lines, each ending in "\r\n" */
    std::string body;
    int delayMs = 0;        /* wait before answering */
    bool drop = false;      /* close the connection without an answer */
    bool endless = false;   /* after body, keep sending (3 s at most) until the client leaves */
    bool noLength = false;  /* no Content-Length: the body ends where the connection closes */
    bool keepAlive = false; /* keep the connection for the next request (2 s idle at most) */
    size_t cutAt = std::string::npos; /* send only this much of the body, its whole length announced, then close */
    bool chunked = false;   /* "Transfer-Encoding: chunked", the body in chunks of up to 7 bytes */
    std::string extra;      /* bytes sent unasked after the answer (keepAlive: a second answer) */
    /* When extra goes: apart (the answer taken whole first), at once (in the
    ** answer's own send), or late (when the next request arrives on the
    ** connection, before that request's answer). */
    enum { EXTRA_APART, EXTRA_AT_ONCE, EXTRA_LATE } extraWhen = EXTRA_APART;
    std::string raw;        /* sent in place of the answer (a status line alone), then the connection closes */
};

/* A whole 200 answer with its length, as HttpAnswer::extra sends it. */
std::string RawAnswer(const std::string &body);

struct LocalHttpServer {
    using Handler = std::function<HttpAnswer(const std::string &path)>;
    explicit LocalHttpServer(Handler handler);
    ~LocalHttpServer();
    int port = 0;
    std::atomic<int> requests{0};
    /* The paths asked for, in arrival order. */
    std::vector<std::string> Paths();

private:
    void Serve();
    void Answer(intptr_t socket);
    Handler handler;
    intptr_t listener = -1;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    std::mutex lock;
    std::vector<std::thread> connections;
    std::vector<std::string> paths;
};
