// The fake server's HTTP front end: Thrift messages in POST bodies, over
// plain TCP or TLS, on 127.0.0.1 and a port chosen by the system.
//
//   tarn_fake::FakeHttpServer srv;                     // plain HTTP
//   tarn_fake::FakeHttpServer tls({cert, key});        // HTTPS
//   srv.service().handlers().GetInfo = ...;            // the TCLIService answers
//   srv.respond = [](const HttpRequest &r, const std::string &reply) { ... };
//
// Every request is recorded with its exact bytes.  By default each reply is
// "200 OK" with a Content-Length; `authorize` can refuse a request with 401,
// and `respond` can replace the reply's bytes (and close the connection).
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fake_server.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace tarn_fake {

struct HttpRequest {
    int connection = 0;                           // 1 for the first accepted connection, ...
    std::string wire;                             // exactly the bytes of the request
    std::string request_line;
    std::map<std::string, std::string> headers;   // lower-case names
    std::string body;
    std::string header(const std::string &lower_name) const {
        auto it = headers.find(lower_name);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct HttpReply {
    std::string bytes;    // sent as they are
    bool close = false;   // close the connection after sending them
};

struct TlsFiles {
    std::string certificate_chain;   // PEM: the server certificate (and its chain)
    std::string private_key;         // PEM
};

class FakeHttpServer {
public:
    // Listens on 127.0.0.1, or on ::1 with `ipv6`.
    explicit FakeHttpServer(std::optional<TlsFiles> tls = std::nullopt, bool ipv6 = false);
    ~FakeHttpServer();
    FakeHttpServer(const FakeHttpServer &) = delete;
    FakeHttpServer &operator=(const FakeHttpServer &) = delete;

    int port() const { return port_; }
    FakeServer &service() { return service_; }
    std::vector<HttpRequest> requests() const;
    void clear_requests();

    // False answers the request with 401 (and a body saying so).
    std::function<bool(const HttpRequest &)> authorize;
    // A reply instead of the default; nullopt keeps the default.  `reply` is
    // the Thrift reply message of the request's body.
    std::function<std::optional<HttpReply>(const HttpRequest &, const std::string &reply)> respond;
    // Headers added to every default reply (e.g. "Set-Cookie: a=b\r\n").
    std::string extra_headers;

    // The default reply to a body.
    static std::string ok_reply(const std::string &body, const std::string &extra_headers = "");

private:
    void accept_loop();
    void serve(int fd, int id);

    FakeServer service_{Framing::NoSasl};
    SSL_CTX *ctx_ = nullptr;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<int> fds_;
    std::vector<HttpRequest> requests_;
};

}  // namespace tarn_fake
