// The HTTP (and HTTPS) front end of the fake server.
#include "fake_http.h"

#include "fake_relay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace tarn_fake {

namespace {

// One accepted connection, plain or TLS.
struct Peer {
    int fd;
    SSL *ssl = nullptr;
    std::string in;

    bool recv_some() {
        char buf[16384];
        int n;
        if (ssl) {
            n = SSL_read(ssl, buf, sizeof buf);
        } else {
            do n = (int)recv(fd, buf, sizeof buf, 0);
            while (n < 0 && errno == EINTR);
        }
        if (n <= 0) return false;
        in.append(buf, (size_t)n);
        return true;
    }
    bool send_all(const std::string &data) {
        size_t sent = 0;
        while (sent < data.size()) {
            int n;
            if (ssl) {
                n = SSL_write(ssl, data.data() + sent, (int)(data.size() - sent));
            } else {
                do n = (int)send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
                while (n < 0 && errno == EINTR);
            }
            if (n <= 0) return false;
            sent += (size_t)n;
        }
        return true;
    }
};

std::string lower(std::string s) {
    for (char &c : s) c = (char)tolower((unsigned char)c);
    return s;
}

std::string trim(const std::string &s) {
    size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

// Reads one request; false when the connection ended first.
bool read_request(Peer &p, HttpRequest *r) {
    size_t end;
    while ((end = p.in.find("\r\n\r\n")) == std::string::npos)
        if (!p.recv_some()) return false;
    std::string head = p.in.substr(0, end + 4);
    size_t line_end = head.find("\r\n");
    r->request_line = head.substr(0, line_end);
    size_t pos = line_end + 2;
    while (pos < end) {
        size_t next = head.find("\r\n", pos);
        std::string line = head.substr(pos, next - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos) r->headers[lower(line.substr(0, colon))] = trim(line.substr(colon + 1));
        pos = next + 2;
    }
    size_t length = (size_t)atol(r->header("content-length").c_str());
    while (p.in.size() < head.size() + length)
        if (!p.recv_some()) return false;
    r->body = p.in.substr(head.size(), length);
    r->wire = p.in.substr(0, head.size() + length);
    p.in.erase(0, head.size() + length);
    return true;
}

}  // namespace

std::string FakeHttpServer::ok_reply(const std::string &body, const std::string &extra_headers) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/x-thrift\r\n" + extra_headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

FakeHttpServer::FakeHttpServer(std::optional<TlsFiles> tls, bool ipv6) {
    if (tls) {
        ctx_ = SSL_CTX_new(TLS_server_method());
        if (!ctx_ || SSL_CTX_use_certificate_chain_file(ctx_, tls->certificate_chain.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx_, tls->private_key.c_str(), SSL_FILETYPE_PEM) != 1) {
            if (ctx_) SSL_CTX_free(ctx_);
            throw std::runtime_error("fake http server: cannot load the TLS certificate or key");
        }
    }
    listen_fd_ = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage addr{};
    socklen_t len;
    if (ipv6) {
        auto *a6 = (sockaddr_in6 *)&addr;
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_loopback;
        len = sizeof *a6;
    } else {
        auto *a4 = (sockaddr_in *)&addr;
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *a4;
    }
    if (bind(listen_fd_, (sockaddr *)&addr, len) != 0 || listen(listen_fd_, 64) != 0 ||
        getsockname(listen_fd_, (sockaddr *)&addr, &len) != 0) {
        ::close(listen_fd_);
        if (ctx_) SSL_CTX_free(ctx_);
        throw std::runtime_error("fake http server: cannot listen on the loopback address");
    }
    port_ = ntohs(ipv6 ? ((sockaddr_in6 *)&addr)->sin6_port : ((sockaddr_in *)&addr)->sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

FakeHttpServer::~FakeHttpServer() {
    stopping_ = true;
    shutdown(listen_fd_, SHUT_RDWR);
    if (acceptor_.joinable()) acceptor_.join();
    ::close(listen_fd_);
    stop_connections(mutex_, fds_, workers_);
    if (ctx_) SSL_CTX_free(ctx_);
}

std::vector<HttpRequest> FakeHttpServer::requests() const {
    std::lock_guard<std::mutex> g(mutex_);
    return requests_;
}

void FakeHttpServer::clear_requests() {
    std::lock_guard<std::mutex> g(mutex_);
    requests_.clear();
}

void FakeHttpServer::accept_loop() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int id = ++accepted_;
        std::lock_guard<std::mutex> g(mutex_);
        if (stopping_) {
            ::close(fd);
            break;
        }
        fds_.push_back(fd);
        workers_.emplace_back([this, fd, id] { serve(fd, id); });
    }
}

void FakeHttpServer::serve(int fd, int id) {
    // OpenSSL writes with plain write(): a client that goes away must not
    // kill the test with SIGPIPE (it is raised in this thread only).
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    Peer peer{fd};
    bool ok = true;
    if (ctx_) {
        peer.ssl = SSL_new(ctx_);
        SSL_set_fd(peer.ssl, fd);
        ok = SSL_accept(peer.ssl) == 1;
    }
    while (ok) {
        HttpRequest r;
        r.connection = id;
        if (!read_request(peer, &r)) break;
        {
            std::lock_guard<std::mutex> g(mutex_);
            requests_.push_back(r);
        }
        if (authorize && !authorize(r)) {
            std::string body = "Unauthorized";
            ok = peer.send_all("HTTP/1.1 401 Unauthorized\r\nContent-Length: " + std::to_string(body.size()) +
                               "\r\n\r\n" + body);
            continue;
        }
        Reply reply = service_.handle_message(r.body);
        if (reply.fault.kind == Fault::Drop) break;
        std::optional<HttpReply> custom = respond ? respond(r, reply.bytes) : std::nullopt;
        if (custom) {
            ok = peer.send_all(custom->bytes) && !custom->close;
        } else {
            ok = peer.send_all(ok_reply(reply.bytes, extra_headers));
        }
    }
    if (peer.ssl) {
        SSL_shutdown(peer.ssl);
        SSL_free(peer.ssl);
    }
    ERR_clear_error();
    std::lock_guard<std::mutex> g(mutex_);
    fds_.erase(std::remove(fds_.begin(), fds_.end(), fd), fds_.end());
    ::close(fd);
}

}  // namespace tarn_fake
